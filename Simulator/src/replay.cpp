// Playing a channel capture back (format in README.md, "Channel captures").
#include "sim/replay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "tal/capture.h"

namespace sim {

namespace {

using nlohmann::json;

constexpr size_t kMaxPacket = 4096;

uint32_t u32(const json &entry, const char *key, bool *present = nullptr) {
  auto it = entry.find(key);
  if (it == entry.end()) {
    if (present) *present = false;
    return 0;
  }
  if (!it->is_number_unsigned() || it->get<uint64_t>() > 0xFFFFFFFFu) {
    throw std::runtime_error(std::string("\"") + key + "\" is not a 32-bit unsigned number");
  }
  if (present) *present = true;
  return static_cast<uint32_t>(it->get<uint64_t>());
}

std::string text(const json &entry, const char *key) {
  auto it = entry.find(key);
  if (it == entry.end()) return std::string();
  if (!it->is_string()) throw std::runtime_error(std::string("\"") + key + "\" is not a text");
  return it->get<std::string>();
}

std::vector<uint8_t> hex(const json &entry, const char *key, size_t max) {
  std::vector<uint8_t> bytes;
  if (!tal::os::fromHex(text(entry, key), bytes)) {
    throw std::runtime_error(std::string("\"") + key + "\" is not hex");
  }
  if (bytes.size() > max) throw std::runtime_error(std::string("\"") + key + "\" is too long");
  return bytes;
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
  std::ifstream in(path, std::ios::binary);
#if defined(_WIN32)
  if (!in && !path.empty() && path[0] == '/') in.open("Z:" + path, std::ios::binary);
#endif
  if (!in) {
    if (error) *error = "cannot open the capture \"" + path + "\"";
    return false;
  }
  std::string line;
  size_t number = 0;
  try {
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      const json entry = json::parse(line, nullptr, false);
      if (entry.is_discarded() || !entry.is_object()) {
        throw std::runtime_error("not a JSON object");
      }
      if (number == 1) {
        if (text(entry, "format") != tal::os::kCaptureFormatName) {
          throw std::runtime_error("not a channel capture (no \"format\" header)");
        }
        out.version = static_cast<int>(u32(entry, "version"));
        if (out.version < 1 || out.version > tal::os::kCaptureFormatVersion) {
          throw std::runtime_error("format version " + std::to_string(out.version) +
                                   " is not one this build reads (1 to " +
                                   std::to_string(tal::os::kCaptureFormatVersion) + ")");
        }
        out.plugin = text(entry, "plugin");
        out.time = text(entry, "time");
        out.commandLine = text(entry, "command_line");
        continue;
      }
      auto us = entry.find("us");
      if (us != entry.end() && us->is_number_unsigned()) out.durationUs = us->get<uint64_t>();
      if (entry.contains("smbios")) {
        if (!out.hasSmbios) out.smbios = hex(entry, "smbios", 64u << 20);
        out.hasSmbios = true;
        continue;
      }
      RecordedCall call;
      call.call = text(entry, "call");
      call.line = number;
      if (call.call == "status_message") {
        const uint32_t status = u32(entry, "status");
        auto t = entry.find("text");
        if (t != entry.end() && t->is_string()) out.statusTexts[status] = t->get<std::string>();
        continue;
      }
      if (call.call == "send") {
        call.bytes = hex(entry, "request", kMaxPacket);
        if (call.bytes.size() != u32(entry, "length")) {
          throw std::runtime_error("\"request\" does not hold \"length\" bytes");
        }
      } else if (call.call == "recv") {
        call.bytes = hex(entry, "response", kMaxPacket);
        call.count = u32(entry, "count");
        call.capacity = u32(entry, "capacity", &call.hasCapacity);
        if (call.bytes.size() > call.capacity) {
          throw std::runtime_error("\"response\" is longer than \"capacity\"");
        }
      } else if (call.call != "initialize" && call.call != "create" && call.call != "close") {
        throw std::runtime_error("unknown call \"" + call.call + "\"");
      }
      call.result = u32(entry, "result");
      call.status = u32(entry, "status", &call.hasStatus);
      out.calls.push_back(std::move(call));
    }
    if (number == 0) throw std::runtime_error("empty");
  } catch (const std::exception &e) {
    if (error) *error = "capture \"" + path + "\" line " + std::to_string(number) + ": " + e.what();
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

uint32_t ReplayChannel::initialize(uintptr_t) {
  const RecordedCall *r = expect("initialize", "initialize", nullptr, 0);
  return r ? r->result : kStatusReplayDiverged;
}

uint32_t ReplayChannel::create(uintptr_t, void **handle, uint32_t, uint32_t, uint32_t, uint32_t,
                               uint32_t, void *) {
  const RecordedCall *r = expect("create", "create", nullptr, 0);
  if (!r) return kStatusReplayDiverged;
  if (r->result == 0 && handle) *handle = this;
  return r->result;
}

uint32_t ReplayChannel::send(void *, void *packet, uint32_t length, uint32_t *status, uintptr_t) {
  std::vector<uint8_t> request;
  if (packet && length <= kMaxPacket) {
    request.assign(static_cast<uint8_t *>(packet), static_cast<uint8_t *>(packet) + length);
  }
  const RecordedCall *r = expect("send", describe("send", &request, 0), &request, 0);
  if (!r) {
    if (status) *status = kStatusReplayDiverged;
    return kStatusReplayDiverged;
  }
  // The sequence number the capture's library stamped, so that its responses answer this one.
  if (packet && length >= 4) std::memcpy(static_cast<uint8_t *>(packet) + 2, &r->bytes[2], 2);
  if (status && r->hasStatus) *status = r->status;
  return r->result;
}

uint32_t ReplayChannel::recv(void *, void *buffer, uint32_t capacity, uint32_t *status,
                             uint32_t *) {
  const RecordedCall *r = expect("recv", describe("recv", nullptr, capacity), nullptr, capacity);
  if (!r) {
    if (status) *status = kStatusReplayDiverged;
    return 0;
  }
  if (buffer && !r->bytes.empty()) {
    std::memcpy(buffer, r->bytes.data(), std::min<size_t>(r->bytes.size(), capacity));
  }
  if (status && r->hasStatus) *status = r->status;
  return r->count;
}

uint32_t ReplayChannel::close(void *) {
  const RecordedCall *r = expect("close", "close", nullptr, 0);
  return r ? r->result : kStatusReplayDiverged;
}

const char *ReplayChannel::statusMessage(uint32_t status) {
  if (status == kStatusReplayDiverged) return "Replay diverged from the capture";
  auto it = capture_.statusTexts.find(status);
  return it != capture_.statusTexts.end() ? it->second.c_str() : "Status not in the capture";
}

}  // namespace sim
