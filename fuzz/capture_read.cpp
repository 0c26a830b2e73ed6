// Arbitrary text as a channel capture: read, summarised, compared with itself, and played back
// call for call. Besides crashes, the outcomes are checked: a capture that reads compares equal
// to itself, and played back with its own calls it never diverges and answers each receive with
// the recorded bytes, never more than the recorded response.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "fake_platform.h"
#include "sim/capturetools.h"
#include "sim/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static tal::os::FakePlatform *fake = new tal::os::FakePlatform;  // sleeps are recorded only
  fake->sleeps.clear();
  std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
  sim::Capture capture;
  std::string error;
  if (!sim::readCapture(in, "fuzz", capture, &error)) return 0;
  (void)sim::summarizeCapture(capture);
  if (!sim::compareCaptures(capture, capture).empty()) std::abort();

  sim::ReplayChannel replay(capture, (size & 1) != 0);
  void *handle = nullptr;
  static uint8_t buffer[sim::kMaxCapturePacket];
  for (const sim::RecordedCall &c : capture.calls) {
    uint32_t status = 0, wait = c.wait;
    if (c.call == "initialize") {
      replay.initialize(0);
    } else if (c.call == "create") {
      replay.create(0, &handle, 2, 4096, 2, 4096, 0, nullptr);
    } else if (c.call == "send") {
      if (!c.bytes.empty()) std::memcpy(buffer, c.bytes.data(), c.bytes.size());
      replay.send(handle, c.bytes.empty() ? nullptr : buffer, static_cast<uint32_t>(c.bytes.size()),
                  &status, 0);
    } else if (c.call == "recv") {
      std::memset(buffer, 0xA5, sizeof buffer);
      const uint32_t count = replay.recv(handle, buffer, c.capacity, &status, &wait);
      if (count != c.count ||
          (!c.bytes.empty() && std::memcmp(buffer, c.bytes.data(), c.bytes.size()) != 0)) {
        std::abort();
      }
      if (c.bytes.size() < sizeof buffer && buffer[c.bytes.size()] != 0xA5) std::abort();
    } else if (c.call == "close") {
      replay.close(handle);
    }
    (void)replay.statusMessage(status);
  }
  if (replay.diverged()) std::abort();
  return 0;
}
