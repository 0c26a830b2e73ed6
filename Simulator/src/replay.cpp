// Playing a channel capture back (format in README.md, "Channel captures").
#include "sim/replay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/description.h"
#include "tal/capture.h"

namespace sim {

namespace {

using nlohmann::json;

[[noreturn]] void fault(const std::string &what) { throw std::runtime_error(what); }

const json *field(const json &entry, const char *key, bool required) {
  auto it = entry.find(key);
  if (it == entry.end()) {
    if (required) fault(std::string("\"") + key + "\" is missing");
    return nullptr;
  }
  return &*it;
}

uint64_t u64(const json &entry, const char *key, uint64_t max, bool *present = nullptr) {
  const json *v = field(entry, key, present == nullptr);
  if (present) *present = v != nullptr;
  if (!v) return 0;
  if (!v->is_number_unsigned() || v->get<uint64_t>() > max) {
    fault(std::string("\"") + key + "\" is not " +
          (max == 0xFFFFFFFFu ? "a 32-bit unsigned number" : "an unsigned number"));
  }
  return v->get<uint64_t>();
}

uint32_t u32(const json &entry, const char *key, bool *present = nullptr) {
  return static_cast<uint32_t>(u64(entry, key, 0xFFFFFFFFu, present));
}

std::string text(const json &entry, const char *key, bool required = true) {
  const json *v = field(entry, key, required);
  if (!v) return std::string();
  if (!v->is_string()) fault(std::string("\"") + key + "\" is not a text");
  return v->get<std::string>();
}

std::vector<uint8_t> hex(const json &entry, const char *key, size_t max, bool *present) {
  std::vector<uint8_t> bytes;
  const std::string digits = text(entry, key, present == nullptr);
  if (present) *present = entry.contains(key);
  if (digits.size() > 2 * max) {
    fault(std::string("\"") + key + "\" is longer than " + std::to_string(max) + " bytes");
  }
  if (!tal::os::fromHex(digits, bytes)) fault(std::string("\"") + key + "\" is not hex");
  return bytes;
}

// One line of at most kMaxCaptureLine characters, without its end; false at the end of the file.
bool nextLine(std::streambuf &in, std::string &line) {
  line.clear();
  bool any = false;
  for (int c = in.sbumpc(); c != std::char_traits<char>::eof(); c = in.sbumpc()) {
    any = true;
    if (c == '\n') break;
    if (line.size() >= kMaxCaptureLine) {
      fault("longer than " + std::to_string(kMaxCaptureLine) + " characters");
    }
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

void readHeader(const json &entry, Capture &out) {
  if (!entry.contains("format") || !entry["format"].is_string() ||
      entry["format"].get<std::string>() != tal::os::kCaptureFormatName) {
    fault("not a channel capture (no \"format\" header)");
  }
  const uint32_t version = u32(entry, "version");
  if (version < 1 || version > static_cast<uint32_t>(tal::os::kCaptureFormatVersion)) {
    fault("format version " + std::to_string(version) + " is not one this build reads (1 to " +
          std::to_string(tal::os::kCaptureFormatVersion) + ")");
  }
  out.version = static_cast<int>(version);
  out.plugin = text(entry, "plugin");
  out.time = text(entry, "time");
  out.commandLine = text(entry, "command_line");
}

// A call line (or the SMBIOS line) after the header.
void readEntry(const json &entry, size_t number, Capture &out, uint64_t &lastUs) {
  if (entry.contains("smbios")) {
    bool present = false;
    std::vector<uint8_t> table = hex(entry, "smbios", kMaxCaptureSmbios, &present);
    // Empty when the machine's table was unusable; otherwise the raw form, whole.
    if (!table.empty()) {
      const size_t length =
          table.size() < 8
              ? 0
              : (static_cast<size_t>(table[4]) | static_cast<size_t>(table[5]) << 8 |
                 static_cast<size_t>(table[6]) << 16 | static_cast<size_t>(table[7]) << 24);
      if (table.size() < 8 || length != table.size() - 8) {
        fault("\"smbios\" is not a table in the raw form (8-byte header with its length)");
      }
    }
    if (!out.hasSmbios) out.smbios = std::move(table);
    out.hasSmbios = true;
  }
  RecordedCall call;
  call.line = number;
  if (!entry.contains("smbios")) {
    if (!entry.contains("call")) fault("neither a call nor the SMBIOS table (no \"call\")");
    call.call = text(entry, "call");
  }
  if (call.call == "status_message") {
    const uint32_t status = u32(entry, "status");
    const json *t = field(entry, "text", true);
    if (!t->is_string() && !t->is_null()) fault("\"text\" is neither a text nor null");
    if (t->is_string()) out.statusTexts[status] = t->get<std::string>();
  } else if (call.call == "initialize" || call.call == "close") {
    if (call.call == "initialize") u64(entry, "arg", UINT64_MAX);
    call.result = u32(entry, "result");
  } else if (call.call == "create") {
    u64(entry, "arg", UINT64_MAX);
    for (const char *key : {"send_count", "send_size", "recv_count", "recv_size", "flags"}) {
      u32(entry, key);
    }
    call.result = u32(entry, "result");
  } else if (call.call == "send") {
    const uint32_t length = u32(entry, "length");
    bool present = false;
    call.bytes = hex(entry, "request", kMaxCapturePacket, &present);
    if (present && call.bytes.size() != length) {
      fault("\"request\" holds " + std::to_string(call.bytes.size()) + " bytes, not the " +
            std::to_string(length) + " of \"length\"");
    }
    call.status = u32(entry, "status", &call.hasStatus);
    call.result = u32(entry, "result");
  } else if (call.call == "recv") {
    call.capacity = u32(entry, "capacity");
    call.hasCapacity = true;
    call.wait = u32(entry, "wait", &call.hasWait);
    call.count = u32(entry, "count");
    call.status = u32(entry, "status", &call.hasStatus);
    bool present = false;
    call.bytes = hex(entry, "response", kMaxCapturePacket, &present);
    // The recorder keeps what the buffer holds: the count, cut to the capacity.
    const size_t held = std::min(call.count, call.capacity);
    if (present && call.bytes.size() != held) {
      fault("\"response\" holds " + std::to_string(call.bytes.size()) + " bytes, not the " +
            std::to_string(held) + " that \"count\" and \"capacity\" give");
    }
  } else if (!call.call.empty()) {
    fault("unknown call \"" + call.call + "\"");
  }
  call.us = u64(entry, "us", UINT64_MAX);
  if (call.us < lastUs) {
    fault("\"us\" runs backwards (" + std::to_string(call.us) + " after " + std::to_string(lastUs) +
          ")");
  }
  lastUs = call.us;
  out.durationUs = call.us;
  if (call.call.empty() || call.call == "status_message") return;
  if (out.calls.size() >= kMaxCaptureCalls) {
    fault("more than " + std::to_string(kMaxCaptureCalls) + " calls");
  }
  out.calls.push_back(std::move(call));
}

std::string describe(const char *call, const std::vector<uint8_t> *bytes, uint32_t capacity) {
  std::string out = call;
  if (bytes) out += " " + tal::os::toHex(bytes->data(), bytes->size());
  if (std::strcmp(call, "recv") == 0) out += " capacity " + std::to_string(capacity);
  return out;
}

// Requests compared without their sequence number (bytes 2 and 3).
bool sameRequest(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if ((i == 2 || i == 3) || a[i] == b[i]) continue;
    return false;
  }
  return true;
}

}  // namespace

bool readCapture(const std::string &path, Capture &out, std::string *error) {
  out = Capture();
  std::ifstream in;
  if (!openInput(path, in)) {
    if (error) *error = "cannot open the capture \"" + path + "\"";
    return false;
  }
  return readCapture(in, path, out, error);
}

bool readCapture(std::istream &in, const std::string &name, Capture &out, std::string *error) {
  out = Capture();
  std::string line;
  size_t number = 0;
  uint64_t lastUs = 0;
  try {
    for (++number; nextLine(*in.rdbuf(), line); ++number) {
      if (line.empty()) fault("an empty line");
      const json entry = json::parse(line, nullptr, false);
      if (entry.is_discarded() || !entry.is_object()) fault("not a JSON object");
      if (number == 1) {
        readHeader(entry, out);
      } else {
        readEntry(entry, number, out, lastUs);
      }
    }
    if (--number == 0) fault("empty");
  } catch (const std::exception &e) {
    if (error) *error = "capture \"" + name + "\" line " + std::to_string(number) + ": " + e.what();
    return false;
  }
  return true;
}

const RecordedCall *ReplayChannel::expect(const char *call, const std::string &actual,
                                          const std::vector<uint8_t> *request, uint32_t capacity) {
  if (diverged_) return nullptr;
  const size_t n = next_ + 1;
  std::string expected;
  size_t line = 0;
  if (next_ < capture_.calls.size()) {
    const RecordedCall &r = capture_.calls[next_];
    line = r.line;
    const bool same = r.call == call && (!request || sameRequest(*request, r.bytes)) &&
                      (r.call != "recv" || !r.hasCapacity || r.capacity == capacity);
    if (same) {
      ++next_;
      if (paced_) pace(r);
      return &r;
    }
    expected = describe(r.call.c_str(), r.call == "send" ? &r.bytes : nullptr, r.capacity);
  } else {
    expected = "the end of the capture";
  }
  diverged_ = true;
  std::fprintf(stderr, "replay diverged at call %zu%s: expected %s; got %s\n", n,
               line ? (" (capture line " + std::to_string(line) + ")").c_str() : "",
               expected.c_str(), actual.c_str());
  std::fflush(stderr);
  return nullptr;
}

void ReplayChannel::pace(const RecordedCall &r) {
  tal::os::Platform &host = tal::os::sys();
  if (!started_) {
    started_ = true;
    startMs_ = host.monotonicMs();
    firstUs_ = r.us;
    return;
  }
  const uint64_t due = startMs_ + (r.us > firstUs_ ? (r.us - firstUs_) / 1000 : 0);
  const uint64_t now = host.monotonicMs();
  if (now < due) host.sleepMs(static_cast<uint32_t>(std::min<uint64_t>(due - now, UINT32_MAX)));
}

uint32_t ReplayChannel::call(tal::os::ChannelCall &c) {
  using tal::os::kCreate, tal::os::kRecv, tal::os::kSend, tal::os::kStatusMessage;
  if (c.function == kStatusMessage) {
    const uint32_t status = c.statusMessage.status;
    auto it = capture_.statusTexts.find(status);
    c.statusMessage.text = status == kStatusReplayDiverged    ? "Replay diverged from the capture"
                           : it != capture_.statusTexts.end() ? it->second.c_str()
                                                              : "Status not in the capture";
    return 0;
  }
  static const char *const kCalls[] = {"initialize", "create", "send", "recv", "close"};
  if (c.function < tal::os::kInitialize || c.function > tal::os::kClose) return missing(c);
  const char *name = kCalls[c.function];
  std::vector<uint8_t> request;
  const std::vector<uint8_t> *compared = nullptr;
  uint32_t capacity = 0;
  if (c.function == kSend) {
    uint8_t *packet = static_cast<uint8_t *>(c.send.packet);
    if (packet && c.send.length <= kMaxCapturePacket) {
      request.assign(packet, packet + c.send.length);
    }
    compared = &request;
  } else if (c.function == kRecv) {
    capacity = c.recv.capacity;
  }
  const RecordedCall *r = expect(name, describe(name, compared, capacity), compared, capacity);
  if (!r) return failed(c, kStatusReplayDiverged);
  switch (c.function) {
    case kCreate:
      if (r->result == 0 && c.create.handle) *c.create.handle = this;
      return r->result;
    case kSend:
      // The sequence number the capture's library stamped, so that its responses answer this one.
      if (c.send.packet && c.send.length >= 4) {
        std::memcpy(static_cast<uint8_t *>(c.send.packet) + 2, &r->bytes[2], 2);
      }
      if (c.send.status && r->hasStatus) *c.send.status = r->status;
      return r->result;
    case kRecv:
      if (c.recv.buffer && !r->bytes.empty()) {
        std::memcpy(c.recv.buffer, r->bytes.data(), std::min<size_t>(r->bytes.size(), capacity));
      }
      if (c.recv.status && r->hasStatus) *c.recv.status = r->status;
      return r->count;
    default:
      return r->result;
  }
}

}  // namespace sim
