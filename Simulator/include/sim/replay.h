// A channel library that plays a capture back (the machine description's "replay"): each call is
// compared with the next one the capture holds and answered as it was answered then. The first
// call that differs (another kind of call, other request bytes, another receive capacity, or a
// call past the end of the capture) is reported on standard error in one line beginning "replay
// diverged at call N", and that call and every later one fail with kStatusReplayDiverged.
// The sequence number of a request (bytes 2 and 3) is not compared: the library stamps its own,
// and the replay stamps the one the capture's library stamped, so the recorded responses match.
// Paced (the description's "replay_delays"), each call returns no earlier after the replay's first
// call than it returned after the capture's first call, so the run keeps the recorded timing;
// unpaced it answers at once.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "tal/channel_call.h"
#include "tal/platform.h"

namespace sim {

constexpr uint32_t kStatusReplayDiverged = 24;

// One recorded call (status_message lines are kept apart: they carry texts, not traffic).
struct RecordedCall {
  std::string call;  // initialize, create, send, recv, close
  size_t line = 0;   // its line in the capture, from 1
  uint64_t us = 0;   // microseconds since the capture began, when the call returned
  uint32_t result = 0, status = 0, count = 0, capacity = 0, wait = 0;
  bool hasStatus = false, hasCapacity = false, hasWait = false;
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

// Limits on what a capture may hold (it comes from a customer's machine: untrusted).
constexpr size_t kMaxCaptureLine = 1u << 20;      // characters in one line
constexpr size_t kMaxCaptureCalls = 2000000;      // call lines
constexpr size_t kMaxCapturePacket = 4096;        // bytes of one request or response
constexpr size_t kMaxCaptureSmbios = 256u << 10;  // bytes of the SMBIOS table

// Reads a capture. False with the reason (naming the line: "line N: ...") in *error when it is
// not a capture this build understands: a first line that is not the header, a newer format
// version, a line that is not a JSON object or is longer than kMaxCaptureLine, an unknown call, a
// field missing or of the wrong kind, times that are missing or run backwards, hex that is not
// hex, a packet longer than kMaxCapturePacket, a response longer than the count or the capacity,
// an SMBIOS table that is not one, more than kMaxCaptureCalls calls.
bool readCapture(const std::string &path, Capture &out, std::string *error);
// The same from a stream; name stands for it in *error.
bool readCapture(std::istream &in, const std::string &name, Capture &out, std::string *error);

class ReplayChannel : public tal::os::ChannelCallLibrary {
 public:
  explicit ReplayChannel(Capture capture, bool paced = false)
      : capture_(std::move(capture)), paced_(paced) {}

  bool diverged() const { return diverged_; }
  // Calls answered from the capture so far.
  size_t replayed() const { return next_; }
  const Capture &capture() const { return capture_; }

 private:
  uint32_t call(tal::os::ChannelCall &c) override;
  // The recorded call to answer this one with, or null once the replay has diverged (the
  // divergence is reported here, once). actual describes the call for the report.
  const RecordedCall *expect(const char *call, const std::string &actual,
                             const std::vector<uint8_t> *request, uint32_t capacity);

  // Paced: waits until the recorded call's time, counted from the first call.
  void pace(const RecordedCall &r);

  Capture capture_;
  bool paced_ = false;
  bool started_ = false;
  uint64_t startMs_ = 0, firstUs_ = 0;
  size_t next_ = 0;
  bool diverged_ = false;
};

}  // namespace sim
