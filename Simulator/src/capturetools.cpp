// talsim capture: the summary of a capture and the comparison of two.
#include "sim/capturetools.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "sim/machine.h"
#include "tal/capture.h"

namespace sim {

namespace {

uint16_t u16(const std::vector<uint8_t> &p, size_t off) {
  return off + 2 <= p.size() ? static_cast<uint16_t>(p[off] | p[off + 1] << 8) : 0;
}
uint32_t u32(const std::vector<uint8_t> &p, size_t off) {
  return off + 4 <= p.size()
             ? static_cast<uint32_t>(u16(p, off)) | static_cast<uint32_t>(u16(p, off + 2)) << 16
             : 0;
}

// A text from the capture, fit for a terminal: control characters become '?'.
std::string printable(const std::string &text) {
  std::string out = text;
  for (char &c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

std::string hex2(unsigned v, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, v);
  return text;
}

std::string commandName(uint16_t cmd) {
  switch (cmd) {
    case kCmdGetStatus:
      return "GET_STATUS";
    case kCmdRequest:
      return "REQUEST";
    case kCmdI2cTransaction:
      return "I2C_TRANSACTION";
    default:
      return "command " + hex2(cmd, 4);
  }
}

std::string processorError(uint32_t code) {
  switch (code) {
    case kErrUnknownCommand:
      return " (command unknown to the processor)";
    case kErrBadRequest:
      return " (bad request)";
    case kErrNak:
      return " (no device answered)";
    case kErrAccessRefused:
      return " (access refused)";
    default:
      return "";
  }
}

// A count list: "a 1, b 2".
std::string listed(const std::map<std::string, size_t> &counts) {
  std::string out;
  for (const auto &c : counts) {
    out += (out.empty() ? "" : ", ") + c.first + " " + std::to_string(c.second);
  }
  return out.empty() ? "none" : out;
}

// The product name and the card records of the capture's table (its own walk: the table is the
// capture's, not trusted).
std::string smbiosLine(const Capture &capture) {
  if (!capture.hasSmbios) return "not read";
  const std::vector<uint8_t> &raw = capture.smbios;
  if (raw.size() < 8) return "unusable (the machine's table could not be read)";
  std::string product;
  size_t cards = 0;
  for (size_t at = 8; at + 4 <= raw.size();) {
    const size_t formatted = raw[at + 1];
    if (formatted < 4 || at + formatted > raw.size()) break;
    size_t end = at + formatted;
    while (end + 1 < raw.size() && !(raw[end] == 0 && raw[end + 1] == 0)) ++end;
    if (end + 1 >= raw.size()) break;
    if (raw[at] == 1 && formatted > 5 && raw[at + 5] == 1 && product.empty()) {
      for (size_t p = at + formatted; p < end + 1 && raw[p] != 0; ++p) product += char(raw[p]);
    }
    if (raw[at] == 203) ++cards;
    if (raw[at] == 127) break;
    at = end + 2;
  }
  return "product \"" + printable(product) + "\", " + std::to_string(cards) +
         " device-correlation record" + (cards == 1 ? "" : "s");
}

constexpr size_t kShownBytes = 96;

// Bytes for a report line: hex, cut after kShownBytes.
std::string shown(const std::vector<uint8_t> &bytes) {
  const size_t n = std::min(bytes.size(), kShownBytes);
  std::string out = tal::os::toHex(bytes.data(), n);
  if (n < bytes.size()) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out.empty() ? "(none)" : out;
}

std::string describeCall(const RecordedCall &c) {
  std::string out = c.call;
  if (c.call == "send") {
    out += " " + shown(c.bytes) + " status " + std::to_string(c.status) + " result " +
           std::to_string(c.result);
  } else if (c.call == "recv") {
    out += " capacity " + std::to_string(c.capacity) + " wait " + std::to_string(c.wait) +
           ": count " + std::to_string(c.count) + " status " + std::to_string(c.status) +
           " response " + shown(c.bytes);
  } else {
    out += " result " + std::to_string(c.result);
  }
  return out;
}

// Bytes compared without the sequence number (bytes 2 and 3) a request carries and its response
// echoes. The offset of the first difference, or -1.
long firstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (i != 2 && i != 3 && a[i] != b[i]) return static_cast<long>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<long>(n);
}

}  // namespace

std::string summarizeCapture(const Capture &capture) {
  std::map<std::string, size_t> calls, commands, errors;
  // Devices by (segment, address): transactions asked, answered.
  std::map<std::pair<unsigned, unsigned>, std::pair<size_t, size_t>> devices;
  std::map<uint16_t, std::vector<uint8_t>> pending;  // requests by sequence number
  size_t unmatched = 0;
  for (const RecordedCall &c : capture.calls) {
    ++calls[c.call];
    if (c.call == "send") {
      if (c.result != 0 || (c.hasStatus && c.status != 0)) {
        ++errors["send status " + std::to_string(c.hasStatus ? c.status : c.result)];
        continue;
      }
      const uint16_t cmd = u16(c.bytes, 4);
      std::string kind = commandName(cmd);
      if (cmd == kCmdRequest) {
        const uint16_t action = u16(c.bytes, 10);
        kind += action == 0   ? " (access query)"
                : action == 1 ? " (access lock)"
                : action == 2 ? " (access unlock)"
                              : " (other)";
      } else if (cmd == kCmdI2cTransaction && c.bytes.size() > 24) {
        kind += c.bytes[24] > 0 ? " (read)" : " (write)";
      }
      ++commands[kind];
      if (c.bytes.size() >= 4) pending[u16(c.bytes, 2)] = c.bytes;
    } else if (c.call == "recv") {
      if (c.hasStatus && c.status != 0) {
        ++errors["receive status " + std::to_string(c.status)];
        continue;
      }
      if (c.bytes.size() < kErrorResponseLen) {
        ++errors["responses shorter than their header"];
        continue;
      }
      auto request = pending.find(u16(c.bytes, 2));
      if (request == pending.end() || u16(request->second, 4) != u16(c.bytes, 4)) {
        ++unmatched;
        continue;
      }
      const std::vector<uint8_t> &r = request->second;
      const uint32_t code = u32(c.bytes, 8);
      if (code != kErrNone) {
        ++errors["processor error " + std::to_string(code) + processorError(code) + " to " +
                 commandName(u16(r, 4))];
      }
      if (u16(r, 4) == kCmdI2cTransaction && r.size() > 24 && u16(r, 20) <= 0xFF) {
        auto &d = devices[{r[22], u16(r, 20)}];
        ++d.first;
        if (code == kErrNone) ++d.second;
      }
      pending.erase(request);
    } else if (c.result != 0) {
      ++errors[c.call + " result " + std::to_string(c.result)];
    }
  }

  std::string out;
  auto add = [&out](const std::string &line) { out += line + "\n"; };
  add("format version: " + std::to_string(capture.version));
  add("plug-in: " + (capture.plugin.empty() ? std::string("unknown") : printable(capture.plugin)));
  add("recorded: " + printable(capture.time));
  add("command line: " + printable(capture.commandLine));
  char duration[48];
  std::snprintf(duration, sizeof duration, "%llu.%06llu s",
                static_cast<unsigned long long>(capture.durationUs / 1000000),
                static_cast<unsigned long long>(capture.durationUs % 1000000));
  add(std::string("duration: ") + duration);
  add("calls: " + std::to_string(capture.calls.size()) + " (" + listed(calls) + ")");
  add("commands: " + listed(commands));
  std::string reached, silent;
  size_t reachedCount = 0, silentCount = 0;
  for (const auto &d : devices) {
    const std::string line = "  segment " + std::to_string(d.first.first) + " address " +
                             hex2(d.first.second, 2) + ": " + std::to_string(d.second.first) +
                             (d.second.first == 1 ? " transaction, " : " transactions, ") +
                             std::to_string(d.second.second) + " answered\n";
    if (d.second.second > 0) {
      reached += line;
      ++reachedCount;
    } else {
      silent += line;
      ++silentCount;
    }
  }
  add("devices reached: " + std::to_string(reachedCount));
  out += reached;
  add("devices that never answered: " + std::to_string(silentCount));
  out += silent;
  size_t errorCount = unmatched;
  for (const auto &e : errors) errorCount += e.second;
  add("errors: " + std::to_string(errorCount));
  for (const auto &e : errors) add("  " + e.first + ": " + std::to_string(e.second));
  if (unmatched) add("  responses that answer no request sent: " + std::to_string(unmatched));
  add("SMBIOS: " + smbiosLine(capture));
  return out;
}

std::string compareCaptures(const Capture &reference, const Capture &actual) {
  const size_t n = std::max(reference.calls.size(), actual.calls.size());
  for (size_t i = 0; i < n; ++i) {
    const RecordedCall *e = i < reference.calls.size() ? &reference.calls[i] : nullptr;
    const RecordedCall *g = i < actual.calls.size() ? &actual.calls[i] : nullptr;
    std::string what;
    if (!e || !g || e->call != g->call) {
      what = "the call";
    } else if (e->call == "send") {
      const long at = firstDifference(e->bytes, g->bytes);
      if (at >= 0) what = "the request at byte " + std::to_string(at);
      if (what.empty() && (e->status != g->status || e->result != g->result)) what = "the status";
    } else if (e->call == "recv") {
      const long at = firstDifference(e->bytes, g->bytes);
      if (e->capacity != g->capacity || e->wait != g->wait) {
        what = "the receive asked";
      } else if (e->status != g->status || e->count != g->count) {
        what = "the status or count";
      } else if (at >= 0) {
        what = "the response at byte " + std::to_string(at);
      }
    } else if (e->result != g->result) {
      what = "the result";
    }
    if (what.empty()) continue;
    return "capture differs at call " + std::to_string(i + 1) + " (reference line " +
           (e ? std::to_string(e->line) : std::string("past the end")) + ", line " +
           (g ? std::to_string(g->line) : std::string("past the end")) + ", " + what +
           "): expected " + (e ? describeCall(*e) : std::string("the end of the capture")) +
           "; got " + (g ? describeCall(*g) : std::string("the end of the capture"));
  }
  return std::string();
}

}  // namespace sim
