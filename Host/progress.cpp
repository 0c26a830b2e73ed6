#include "progress.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "names.h"
#include "tal/platform.h"

namespace talhost {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr size_t kMaxLine = 4096;       // longer lines are not the plug-in's
constexpr size_t kMaxFile = 16u << 20;  // a file beyond this is not followed further
constexpr int64_t kMaxDevices = 1024;
constexpr int64_t kMaxUnits = int64_t(1) << 32;  // blocks or pages of one device
constexpr int64_t kMaxMs = int64_t(1) << 40;
constexpr uint32_t kPollMs = 200;
constexpr uint64_t kHeartbeatMs = 1000;

bool number(const Json &o, const char *key, int64_t lo, int64_t hi, int64_t &out) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_number_integer()) return false;
  if (it->is_number_unsigned()) {
    uint64_t v = it->get<uint64_t>();
    if (v > static_cast<uint64_t>(hi)) return false;
    out = static_cast<int64_t>(v);
  } else {
    out = it->get<int64_t>();
  }
  return out >= lo && out <= hi;
}

// A string field, cut to at most `limit` bytes (never inside a UTF-8 sequence).
bool text(const Json &o, const char *key, size_t limit, std::string &out, bool optional = false) {
  auto it = o.find(key);
  if (it == o.end()) return optional;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  if (out.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return true;
}

bool oneOf(const std::string &value, std::initializer_list<const char *> allowed) {
  for (const char *a : allowed) {
    if (value == a) return true;
  }
  return false;
}

std::string seconds(uint64_t ms) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%llu.%llu s", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000 / 100));
  return buf;
}

// The whole file, when it is there and within the bound. Read through the runtime's stream, which
// on Windows shares the file for reading and writing, so that it opens while the plug-in holds the
// file open for its appends.
bool readProgressFile(const std::wstring &path, std::string &out) {
  out.clear();
  FILE *f = tal::os::sys().openStream(tal::os::sys().toAnsi(path).c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (out.size() + n > kMaxFile) {
      ok = false;
      break;
    }
    out.append(buf, n);
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  if (!ok) out.clear();
  return ok;
}

std::string dumpLine(const OrderedJson &j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

bool parseProgressLine(const std::string &line, ProgressEvent &out) {
  if (line.empty() || line.size() > kMaxLine) return false;
  Json o = Json::parse(line, nullptr, false);
  if (o.is_discarded() || !o.is_object()) return false;
  int64_t v = 0, ms = 0;
  if (!number(o, "v", 1, 1, v)) return false;
  ProgressEvent e;
  if (!text(o, "event", 16, e.event) || !number(o, "ms", 0, kMaxMs, ms)) return false;
  e.ms = static_cast<uint64_t>(ms);
  bool ok = false;
  if (e.event == "start") {
    ok = number(o, "devices", 0, kMaxDevices, e.devices);
  } else if (e.event == "device") {
    ok = number(o, "index", 1, kMaxDevices, e.index) &&
         number(o, "count", e.index, kMaxDevices, e.count) && text(o, "name", 256, e.name) &&
         text(o, "kind", 16, e.kind) && oneOf(e.kind, {"card", "backplane"}) &&
         text(o, "found", 64, e.found) && text(o, "offered", 64, e.offered) &&
         text(o, "unit", 16, e.unit) && oneOf(e.unit, {"blocks", "pages"}) &&
         number(o, "total", 0, kMaxUnits, e.total);
  } else if (e.event == "progress") {
    ok = number(o, "index", 1, kMaxDevices, e.index) && number(o, "total", 0, kMaxUnits, e.total) &&
         number(o, "done", 0, e.total, e.done) && number(o, "percent", 0, 100, e.percent);
  } else if (e.event == "end") {
    ok = number(o, "index", 1, kMaxDevices, e.index) && text(o, "result", 16, e.result) &&
         oneOf(e.result, {"success", "failed", "skipped"}) && text(o, "text", 1024, e.text, true);
  } else if (e.event == "finish") {
    ok = number(o, "result", INT32_MIN, INT32_MAX, e.installResult) &&
         number(o, "updated", 0, kMaxDevices, e.updated) &&
         number(o, "failed", 0, kMaxDevices, e.failed);
  }
  if (ok) out = e;
  return ok;
}

std::vector<std::string> ProgressTail::newLines(const std::string &content) {
  // A file that no longer begins with what was taken was truncated and written afresh.
  if (content.size() < seen_.size() || content.compare(0, seen_.size(), seen_) != 0) {
    seen_.clear();
  }
  std::vector<std::string> lines;
  size_t at = seen_.size();
  for (;;) {
    size_t end = content.find('\n', at);
    if (end == std::string::npos) break;  // an incomplete line waits for its end
    std::string line = content.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  seen_.assign(content, 0, at);
  return lines;
}

std::string ProgressPrinter::event(const ProgressEvent &e, uint64_t elapsedMs) {
  if (e.event == "device") {
    device_ = e;
    percent_ = -1;
    done_ = 0;
  } else if (e.event == "progress" && e.index == device_.index) {
    percent_ = e.percent;
    done_ = e.done;
  }
  if (json_) {
    OrderedJson j;
    j["event"] = e.event;
    j["ms"] = e.ms;
    if (e.event == "start") j["devices"] = e.devices;
    if (e.event == "device" || e.event == "progress" || e.event == "end") j["index"] = e.index;
    if (e.event == "device") {
      j["count"] = e.count;
      j["name"] = e.name;
      j["kind"] = e.kind;
      j["found"] = e.found;
      j["offered"] = e.offered;
      j["unit"] = e.unit;
      j["total"] = e.total;
    }
    if (e.event == "progress") {
      j["done"] = e.done;
      j["total"] = e.total;
      j["percent"] = e.percent;
    }
    if (e.event == "end") {
      j["result"] = e.result;
      j["text"] = e.text;
    }
    if (e.event == "finish") {
      j["result"] = e.installResult;
      j["result_name"] = installResultName(static_cast<int32_t>(e.installResult));
      j["updated"] = e.updated;
      j["failed"] = e.failed;
    }
    j["elapsed_ms"] = elapsedMs;
    return dumpLine(j);
  }
  const std::string at = " (elapsed " + seconds(elapsedMs) + ")";
  std::string who = "[" + std::to_string(e.index) + "/" +
                    (e.index == device_.index ? std::to_string(device_.count) : "?") + "]";
  if (e.index == device_.index) who += " " + printable(device_.name);
  if (e.event == "start") {
    return "progress: " + std::to_string(e.devices) + " device(s) to update" + at;
  }
  if (e.event == "device") {
    return "progress: " + who + " (" + e.kind + "), " + printable(e.found) + " -> " +
           printable(e.offered) + ", " + std::to_string(e.total) + " " + e.unit + ": started" + at;
  }
  if (e.event == "progress") {
    std::string unit = e.index == device_.index ? device_.unit : "units";
    return "progress: " + who + ": " + std::to_string(e.percent) + "% (" + std::to_string(e.done) +
           " of " + std::to_string(e.total) + " " + unit + ")" + at;
  }
  if (e.event == "end") {
    std::string line = "progress: " + who + ": " + e.result + at;
    if (!e.text.empty()) line += ": " + printable(e.text);
    return line;
  }
  // finish
  return "progress: finished: result=" + std::to_string(e.installResult) + " (" +
         installResultName(static_cast<int32_t>(e.installResult)) + "), " +
         std::to_string(e.updated) + " updated, " + std::to_string(e.failed) + " failed" + at;
}

std::string ProgressPrinter::heartbeat(uint64_t elapsedMs) const {
  if (json_) {
    OrderedJson j;
    j["event"] = "running";
    if (device_.index) {
      j["index"] = device_.index;
      j["percent"] = percent_ < 0 ? 0 : percent_;
    }
    j["elapsed_ms"] = elapsedMs;
    return dumpLine(j);
  }
  const std::string at = " (elapsed " + seconds(elapsedMs) + ")";
  if (!device_.index) return "progress: running" + at;
  return "progress: [" + std::to_string(device_.index) + "/" + std::to_string(device_.count) +
         "] " + printable(device_.name) + ": " + std::to_string(percent_ < 0 ? 0 : percent_) +
         "% (" + std::to_string(done_) + " of " + std::to_string(device_.total) + " " +
         device_.unit + ")" + at;
}

ProgressWatch::ProgressWatch(std::wstring path, bool json, Write write)
    : path_(std::move(path)), printer_(json), write_(std::move(write)) {}

ProgressWatch::~ProgressWatch() { stop(); }

void ProgressWatch::start() {
  std::string before;
  if (readProgressFile(path_, before)) tail_.skip(before);
  begin_ = lastOutput_ = tal::os::sys().monotonicMs();
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void ProgressWatch::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  // What the plug-in wrote last, after the thread's last look.
  poll(tal::os::sys().monotonicMs());
}

void ProgressWatch::poll(uint64_t now) {
  std::string content;
  // A missing file (an older plug-in, nothing due) or one beyond the bound shows nothing.
  if (readProgressFile(path_, content)) {
    for (const std::string &line : tail_.newLines(content)) {
      ProgressEvent e;
      if (!parseProgressLine(line, e)) continue;
      write_(printer_.event(e, now - begin_));
      lastOutput_ = now;
    }
  }
}

void ProgressWatch::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(kPollMs));
    if (stopping_) break;
    lock.unlock();
    const uint64_t now = tal::os::sys().monotonicMs();
    poll(now);
    if (now - lastOutput_ >= kHeartbeatMs) {
      write_(printer_.heartbeat(now - begin_));
      lastOutput_ = now;
    }
    lock.lock();
  }
}

std::wstring progressFilePath() {
  return tal::os::sys().expandEnvironment(L"%systemdrive%\\talsystem\\log\\talprogress.log");
}

}  // namespace talhost
