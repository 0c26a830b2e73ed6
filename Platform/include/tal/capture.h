// Channel captures: with TAL_CHANNEL_RECORD naming a file, every call the plug-in makes to the
// channel library is written to that file as JSON Lines (format in README.md, "Channel
// captures"), with the SMBIOS records discovery reads, so that a run on a customer's server can
// be replayed by the simulated channel library. Recording changes nothing else: the calls, their
// arguments and their results pass through untouched, and a capture that cannot be written is
// only reported (Platform::channelCapture) while the run goes on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tal/channel_call.h"
#include "tal/platform.h"

namespace tal::os {

// The format version written in each capture's header line.
constexpr int kCaptureFormatVersion = 1;
// The "format" value of the header line.
inline const char *const kCaptureFormatName = "tal-channel-capture";

// What goes into the header line.
struct CaptureHeader {
  std::string plugin;       // the plug-in's file version ("1.2.0.0"), empty when unknown
  std::string time;         // UTC, "2025-01-31T13:05:09Z"
  std::string commandLine;  // the process command line, UTF-8
};

// Wraps a channel library and writes each call to a capture file. The file is owned and closed
// with the recorder. A write that fails ends the recording (failure() says why); the calls keep
// passing through.
class ChannelRecorder : public ChannelCallLibrary {
 public:
  ChannelRecorder(ChannelLibrary &real, FILE *out, const CaptureHeader &header);
  ~ChannelRecorder() override;
  ChannelRecorder(const ChannelRecorder &) = delete;
  ChannelRecorder &operator=(const ChannelRecorder &) = delete;

  // Writes the SMBIOS line: the records of the raw table that discovery needs (smbiosForCapture).
  void smbios(const std::vector<uint8_t> &raw);
  // Empty while every line was written; else what went wrong.
  const std::string &failure() const { return failure_; }

 private:
  // Passes the call on to the real library and writes its line.
  uint32_t call(ChannelCall &c) override;
  // The line of a call that was answered with `result` (recv: handed the wait `waitIn`).
  std::string entry(const ChannelCall &c, uint32_t result, uint32_t waitIn);
  void line(const std::string &text);
  std::string stamp(const char *call);

  ChannelLibrary &real_;
  FILE *out_;
  std::string failure_;
  uint64_t startUs_;
};

// The raw SMBIOS table (8-byte header, then the records) cut to what discovery reads and nothing
// that identifies the machine: the system-information record with only its product name (no
// maker, serial number, UUID, SKU or family), each device-correlation record (type 203) with only
// its map handle, vendor and device ID, each record such a handle names with only its segment
// byte, and the end record. Strings other than the product name are dropped. Empty when the raw
// table is unusable (shorter than its header says, or no records).
std::vector<uint8_t> smbiosForCapture(const std::vector<uint8_t> &raw);

// Lower-case hex of bytes, and back (false on an odd length or a non-hex character).
std::string toHex(const uint8_t *bytes, size_t size);
bool fromHex(const std::string &text, std::vector<uint8_t> &out);

namespace detail {
// Used by the backends: the channel library as the plug-in should call it (the recorder over the
// real one while TAL_CHANNEL_RECORD names a file that could be opened), the SMBIOS table handed
// to the recorder, and the recording's state.
ChannelLibrary &recordedChannel(ChannelLibrary &real);
void recordSmbios(const std::vector<uint8_t> &raw);
ChannelCapture captureState();
// Backend: opens the capture file for writing, replacing what is there, without following a
// link in its place; null with the reason in error.
FILE *openCaptureFile(const std::wstring &path, std::string &error);
// Backend: the value of TAL_CHANNEL_RECORD, empty when unset.
std::wstring captureVariable();
}  // namespace detail

}  // namespace tal::os
