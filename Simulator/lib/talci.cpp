// The simulated management processor packaged as the channel library (libTalCi.so, TalCi.dll):
// the six C functions over one SimChannel, configured on first use from the machine description
// named by TAL_MACHINE (absent: a generation-4 processor at version 2.20 with no devices).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/description.h"
#include "sim/replay.h"
#include "sim/simchannel.h"

#if defined(_WIN32)
#define TALCI_API extern "C" __declspec(dllexport)
#else
#define TALCI_API extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Instance {
  sim::Machine machine;
  sim::SimChannel channel{machine};
  std::unique_ptr<sim::ReplayChannel> replay;  // when the description replays a capture
  uint32_t loadStatus = 0;
  tal::os::ChannelLibrary &library() {
    if (replay) return *replay;
    return channel;
  }
};

// Built on the first call; left alive at unload so that no call races its destruction.
Instance &instance() {
  static Instance *one = [] {
    Instance *i = new Instance;
    const char *path = std::getenv("TAL_MACHINE");
    if (path != nullptr && *path != '\0') {
      std::string error;
      std::string replay;
      bool delays = false;
      sim::Capture capture;
      if (!sim::loadMachineDescription(i->machine, path, &error, &replay, &delays)) {
        std::fprintf(stderr, "TalCi: %s\n", error.c_str());
        i->loadStatus = sim::kStatusNoDescription;
      } else if (!replay.empty()) {
        if (sim::readCapture(replay, capture, &error)) {
          i->replay = std::make_unique<sim::ReplayChannel>(std::move(capture), delays);
        } else {
          std::fprintf(stderr, "TalCi: %s\n", error.c_str());
          i->loadStatus = sim::kStatusNoDescription;
        }
      }
    }
    return i;
  }();
  return *one;
}

}  // namespace

TALCI_API uint32_t TalCiInitialize(uintptr_t arg) {
  Instance &i = instance();
  if (i.loadStatus != 0) return i.loadStatus;
  return i.library().initialize(arg);
}

TALCI_API uint32_t TalCiCreate(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                               uint32_t recvCount, uint32_t recvSize, uint32_t flags,
                               void *reserved) {
  return instance().library().create(arg, handle, sendCount, sendSize, recvCount, recvSize, flags,
                                     reserved);
}

TALCI_API uint32_t TalCiSend(void *handle, void *packet, uint32_t length, uint32_t *status,
                             uintptr_t reserved) {
  return instance().library().send(handle, packet, length, status, reserved);
}

TALCI_API uint32_t TalCiRecv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                             uint32_t *wait) {
  return instance().library().recv(handle, buffer, capacity, status, wait);
}

TALCI_API uint32_t TalCiClose(void *handle) { return instance().library().close(handle); }

TALCI_API const char *TalCiStatusMessage(uint32_t status) {
  return instance().library().statusMessage(status);
}
