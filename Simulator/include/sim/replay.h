// A channel library that plays a capture back (the machine description's "replay"): each call is
// compared with the next one the capture holds and answered as it was answered then. The first
// call that differs (another kind of call, other request bytes, another receive capacity, or a
// call past the end of the capture) is reported on standard error in one line beginning "replay
// diverged at call N", and that call and every later one fail with kStatusReplayDiverged.
// The sequence number of a request (bytes 2 and 3) is not compared: the library stamps its own,
// and the replay stamps the one the capture's library stamped, so the recorded responses match.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tal/platform.h"

namespace sim {

constexpr uint32_t kStatusReplayDiverged = 24;

// One recorded call (status_message lines are kept apart: they carry texts, not traffic).
struct RecordedCall {
  std::string call;  // initialize, create, send, recv, close
  size_t line = 0;   // its line in the capture, from 1
  uint32_t result = 0, status = 0, count = 0, capacity = 0;
  bool hasStatus = false, hasCapacity = false;
  std::vector<uint8_t> bytes;  // send: the request as stamped; recv: the response
};

struct Capture {
  int version = 0;
  std::string plugin, time, commandLine;
  std::vector<uint8_t> smbios;
  bool hasSmbios = false;
  std::vector<RecordedCall> calls;
  std::map<uint32_t, std::string> statusTexts;
  uint64_t durationUs = 0;
};

// Reads a capture. False with the reason (naming the line) in *error when it is not a capture
// this build understands: a missing or foreign header, a newer format version, a line that is not
// a JSON object, an unknown call, a field of the wrong kind, hex that is not hex, or a packet
// longer than 4096 bytes.
bool readCapture(const std::string &path, Capture &out, std::string *error);

class ReplayChannel : public tal::os::ChannelLibrary {
 public:
  explicit ReplayChannel(Capture capture) : capture_(std::move(capture)) {}

  uint32_t initialize(uintptr_t arg) override;
  uint32_t create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                  uint32_t recvCount, uint32_t recvSize, uint32_t flags, void *reserved) override;
  uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                uintptr_t reserved) override;
  uint32_t recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                uint32_t *wait) override;
  uint32_t close(void *handle) override;
  const char *statusMessage(uint32_t status) override;

  bool diverged() const { return diverged_; }
  // Calls answered from the capture so far.
  size_t replayed() const { return next_; }
  const Capture &capture() const { return capture_; }

 private:
  // The recorded call to answer this one with, or null once the replay has diverged (the
  // divergence is reported here, once). actual describes the call for the report.
  const RecordedCall *expect(const char *call, const std::string &actual,
                             const std::vector<uint8_t> *request, uint32_t capacity);

  Capture capture_;
  size_t next_ = 0;
  bool diverged_ = false;
};

}  // namespace sim
