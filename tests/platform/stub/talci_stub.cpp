// A stand-in channel library for the binding test: five of the six functions, each echoing what
// it was given so the test sees every argument arrive. TalCiStatusMessage is left out on purpose.
#include <cstdint>
#include <cstring>

#define STUB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int g_channel;
uint8_t g_last[64];
uint32_t g_lastLength;
}  // namespace

STUB_EXPORT uint32_t TalCiInitialize(uintptr_t arg) { return static_cast<uint32_t>(arg) + 0x5AB0; }

STUB_EXPORT uint32_t TalCiCreate(uintptr_t arg, void **handle, uint32_t sendCount,
                                 uint32_t sendSize, uint32_t recvCount, uint32_t recvSize,
                                 uint32_t flags, void *reserved) {
  if (arg != 0 || sendCount != 2 || sendSize != 4096 || recvCount != 2 || recvSize != 4096 ||
      flags != 0 || reserved != nullptr)
    return 1;
  *handle = &g_channel;
  return 0;
}

STUB_EXPORT uint32_t TalCiSend(void *handle, void *packet, uint32_t length, uint32_t *status,
                               uintptr_t reserved) {
  if (handle != &g_channel || length > sizeof g_last) return 2;
  std::memcpy(g_last, packet, length);
  g_lastLength = length;
  *status = static_cast<uint32_t>(reserved);
  return 0;
}

STUB_EXPORT uint32_t TalCiRecv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                               uint32_t *wait) {
  if (handle != &g_channel) return 0;
  const uint32_t n = g_lastLength < capacity ? g_lastLength : capacity;
  std::memcpy(buffer, g_last, n);
  *status = *wait;
  return n;
}

STUB_EXPORT uint32_t TalCiClose(void *handle) { return handle == &g_channel ? 0 : 3; }
