// Channel captures: the recorder that sits between the plug-in and the channel library, and the
// SMBIOS cut that goes with it. Format in README.md ("Channel captures").
#include "tal/capture.h"

#include <chrono>
#include <ctime>
#include <memory>

#include "backend.h"
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif
#include "tal_version.h"

namespace tal::os {

namespace {

uint64_t nowUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// A JSON string of UTF-8 text.
std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string number(uint64_t v) { return std::to_string(v); }

}  // namespace

std::string toHex(const uint8_t *bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
  return out;
}

bool fromHex(const std::string &text, std::vector<uint8_t> &out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) {
      out.clear();
      return false;
    }
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

std::vector<uint8_t> smbiosForCapture(const std::vector<uint8_t> &raw) {
  constexpr size_t kHeader = 8;
  if (raw.size() < kHeader) return {};
  const size_t length = static_cast<size_t>(raw[4]) | static_cast<size_t>(raw[5]) << 8 |
                        static_cast<size_t>(raw[6]) << 16 | static_cast<size_t>(raw[7]) << 24;
  if (length > raw.size() - kHeader) return {};
  const uint8_t *table = raw.data() + kHeader;

  struct Record {
    size_t at, formatted, end;  // start, formatted-area length, one past the string set
  };
  std::vector<Record> records;
  for (size_t at = 0; at + 4 <= length;) {
    const size_t formatted = table[at + 1];
    if (formatted < 4 || at + formatted > length) break;
    size_t p = at + formatted;
    // The string set ends with two zero bytes (an empty set is just those two).
    while (p + 1 < length && !(table[p] == 0 && table[p + 1] == 0)) ++p;
    if (p + 1 >= length) break;
    records.push_back({at, formatted, p + 2});
    if (table[at] == 127) break;
    at = p + 2;
  }
  if (records.empty()) return {};

  auto handleOf = [&](const Record &r) { return table[r.at + 2] | table[r.at + 3] << 8; };
  std::vector<int> mapHandles;
  for (const Record &r : records) {
    if (table[r.at] == 203 && r.formatted >= 8) {
      mapHandles.push_back(table[r.at + 6] | table[r.at + 7] << 8);
    }
  }

  std::vector<uint8_t> out(raw.begin(), raw.begin() + 4);
  out.resize(kHeader);
  // Keeps the record's first `keep` bytes (type, length, handle and what follows up to keep),
  // zeroes the rest of its formatted area, and gives it the strings given.
  auto emit = [&](const Record &r, size_t keep, const std::string &strings) {
    const size_t from = out.size();
    out.insert(out.end(), table + r.at, table + r.at + r.formatted);
    for (size_t i = from + (keep < r.formatted ? keep : r.formatted); i < out.size(); ++i) {
      out[i] = 0;
    }
    out.insert(out.end(), strings.begin(), strings.end());
    out.push_back(0);
    if (strings.empty()) out.push_back(0);
  };
  bool systemSeen = false, endSeen = false;
  for (const Record &r : records) {
    const uint8_t type = table[r.at];
    if (type == 1 && !systemSeen) {
      systemSeen = true;
      // The product name (string number at offset 5) becomes string 1; nothing else is kept.
      std::string name;
      const size_t number = r.formatted > 5 ? table[r.at + 5] : 0;
      if (number > 0) {
        size_t p = r.at + r.formatted;
        for (size_t n = 1; n < number && p < r.end - 2; ++n) {
          while (p < r.end - 2 && table[p] != 0) ++p;
          ++p;
        }
        while (p < r.end - 2 && table[p] != 0) name += static_cast<char>(table[p++]);
      }
      const size_t from = out.size();
      emit(r, 4, name.empty() ? std::string() : name + '\0');
      if (!name.empty()) out[from + 5] = 1;
    } else if (type == 203) {
      // Handle, vendor and device ID: offsets 6 to 11; offsets 4 and 5 are zeroed.
      const size_t from = out.size();
      emit(r, 12, std::string());
      if (r.formatted > 4) out[from + 4] = 0;
      if (r.formatted > 5) out[from + 5] = 0;
    } else if (type == 127) {
      emit(r, 4, std::string());
      endSeen = true;
    } else {
      bool named = false;
      for (int h : mapHandles) named = named || h == handleOf(r);
      if (named) emit(r, 5, std::string());  // the segment at offset 4
    }
  }
  if (!endSeen) out.insert(out.end(), {127, 4, 0xFF, 0xFF, 0, 0});
  const size_t cut = out.size() - kHeader;
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(cut >> (8 * i));
  return out;
}

ChannelRecorder::ChannelRecorder(ChannelLibrary &real, FILE *out, const CaptureHeader &header)
    : real_(real), out_(out), startUs_(nowUs()) {
  line(std::string("{\"format\":") + quoted(kCaptureFormatName) +
       ",\"version\":" + number(kCaptureFormatVersion) + ",\"plugin\":" + quoted(header.plugin) +
       ",\"time\":" + quoted(header.time) + ",\"command_line\":" + quoted(header.commandLine) +
       "}");
}

ChannelRecorder::~ChannelRecorder() {
  if (out_) std::fclose(out_);
}

void ChannelRecorder::line(const std::string &text) {
  if (!out_ || !failure_.empty()) return;
  // Each line reaches the file at once: a run that ends abruptly keeps every call made so far.
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() ||
      std::fputc('\n', out_) == EOF || std::fflush(out_) != 0) {
    failure_ = "the capture could not be written (disk full?); recording stopped";
  }
}

std::string ChannelRecorder::stamp(const char *call) {
  return "{\"us\":" + number(nowUs() - startUs_) + ",\"call\":\"" + call + "\"";
}

uint32_t ChannelRecorder::call(ChannelCall &c) {
  const uint32_t waitIn = c.recv.wait ? *c.recv.wait : 0;
  const uint32_t result = callThrough(real_, c);
  line(entry(c, result, waitIn));
  return result;
}

std::string ChannelRecorder::entry(const ChannelCall &c, uint32_t result, uint32_t waitIn) {
  switch (c.function) {
    case kInitialize:
      return stamp("initialize") + ",\"arg\":" + number(c.initialize.arg) +
             ",\"result\":" + number(result) + "}";
    case kCreate: {
      const auto &a = c.create;
      return stamp("create") + ",\"arg\":" + number(a.arg) +
             ",\"send_count\":" + number(a.sendCount) + ",\"send_size\":" + number(a.sendSize) +
             ",\"recv_count\":" + number(a.recvCount) + ",\"recv_size\":" + number(a.recvSize) +
             ",\"flags\":" + number(a.flags) + ",\"result\":" + number(result) + "}";
    }
    case kSend: {
      const auto &a = c.send;
      // The request as the library left it: with the sequence number it stamped.
      std::string text = stamp("send") + ",\"length\":" + number(a.length);
      if (a.packet) {
        text += ",\"request\":\"" + toHex(static_cast<uint8_t *>(a.packet), a.length) + "\"";
      }
      if (a.status) text += ",\"status\":" + number(*a.status);
      return text + ",\"result\":" + number(result) + "}";
    }
    case kRecv: {
      const auto &a = c.recv;
      std::string text = stamp("recv") + ",\"capacity\":" + number(a.capacity);
      if (a.wait) text += ",\"wait\":" + number(waitIn);
      text += ",\"count\":" + number(result);
      if (a.status) text += ",\"status\":" + number(*a.status);
      // Only what the buffer holds, however many bytes the library claims.
      if (a.buffer) {
        text += ",\"response\":\"" +
                toHex(static_cast<uint8_t *>(a.buffer), result < a.capacity ? result : a.capacity) +
                "\"";
      }
      return text + "}";
    }
    case kClose:
      return stamp("close") + ",\"result\":" + number(result) + "}";
    case kStatusMessage: {
      const auto &a = c.statusMessage;
      return stamp("status_message") + ",\"status\":" + number(a.status) +
             ",\"text\":" + (a.text ? quoted(a.text) : std::string("null")) + "}";
    }
    case kChannelCount:
      break;
  }
  return stamp("unknown") + "}";
}

void ChannelRecorder::smbios(const std::vector<uint8_t> &raw) {
  const std::vector<uint8_t> cut = smbiosForCapture(raw);
  line("{\"us\":" + number(nowUs() - startUs_) + ",\"smbios\":\"" + toHex(cut.data(), cut.size()) +
       "\"}");
}

namespace detail {

namespace {

struct Capture {
  bool tried = false;
  std::wstring path;
  std::string openFailure;
  std::unique_ptr<ChannelRecorder> recorder;
};

Capture &capture() {
  static Capture *one = [] {
    // Left alive at exit: the backend's library outlives it. When the plug-in is unloaded the
    // pointer goes with it, which the leak checker would report; the object is meant to live as
    // long as the process.
    Capture *made = new Capture;
#ifdef __SANITIZE_ADDRESS__
    __lsan_ignore_object(made);
#endif
    return made;
  }();
  return *one;
}

CaptureHeader makeHeader(Platform &host) {
  CaptureHeader header;
  FileVersion v;
  if (host.fileVersion(host.modulePath(), v)) {
    header.plugin = std::to_string(v.part[0]) + "." + std::to_string(v.part[1]) + "." +
                    std::to_string(v.part[2]) + "." + std::to_string(v.part[3]);
  } else {
    header.plugin = TAL_VERSION_TEXT;  // a module without a version resource: the build's own
  }
  const std::time_t now = std::time(nullptr);
  if (const std::tm *utc = std::gmtime(&now)) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    header.time = text;
  }
  std::wstring line;
  if (host.commandLine(line)) header.commandLine = toUtf8(line);
  return header;
}

}  // namespace

ChannelLibrary &recordedChannel(ChannelLibrary &real) {
  Capture &c = capture();
  if (!c.tried) {
    c.tried = true;
    c.path = captureVariable();
    if (!c.path.empty()) {
      FILE *out = openCaptureFile(c.path, c.openFailure);
      if (out)
        c.recorder = std::make_unique<ChannelRecorder>(real, out, makeHeader(builtinPlatform()));
    }
  }
  if (c.recorder) return *c.recorder;
  return real;
}

void recordSmbios(const std::vector<uint8_t> &raw) {
  builtinPlatform().channelLibrary();  // opens the capture when it is not open yet
  if (capture().recorder) capture().recorder->smbios(raw);
}

ChannelCapture captureState() {
  builtinPlatform().channelLibrary();
  const Capture &c = capture();
  ChannelCapture state;
  state.path = c.path;
  state.failure = c.recorder ? c.recorder->failure() : c.openFailure;
  return state;
}

}  // namespace detail

}  // namespace tal::os
