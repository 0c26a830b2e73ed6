// Progress of an Install as the plug-in publishes it: "talprogress.log" in its log folder, one
// JSON object per line (start, device, progress, end, finish). talhost follows the file on a
// second thread while Install runs and prints each event as a line (or a JSON line), and at
// least once a second the elapsed time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talhost {

// One event of the file, every field bounded.
struct ProgressEvent {
  std::string event;  // "start", "device", "progress", "end", "finish"
  uint64_t ms = 0;    // the plug-in's milliseconds since its start event
  int64_t devices = 0, index = 0, count = 0;
  std::string name, kind, found, offered, unit;
  int64_t total = 0, done = 0, percent = 0;
  std::string result;  // end: "success", "failed", "skipped"
  std::string text;
  int64_t installResult = 0, updated = 0, failed = 0;  // finish
};

// Reads one line (without its line end). False for a line that is not a JSON object, whose "v"
// is not 1, whose event is unknown, or whose fields are missing or out of bounds.
bool parseProgressLine(const std::string &line, ProgressEvent &out);

// The complete lines added to a file since the last look. The file is read whole each time; one
// that no longer starts with what was seen has been started afresh and is read from its start.
class ProgressTail {
 public:
  // What the file holds before Install starts is not this run's progress.
  void skip(const std::string &content) { seen_ = content; }
  std::vector<std::string> newLines(const std::string &content);

 private:
  std::string seen_;  // the content up to the end of the last complete line taken
};

// Turns events into output lines: text ("progress: ...") or JSON lines.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(bool json) : json_(json) {}
  // The line for one event, at elapsedMs since Install began.
  std::string event(const ProgressEvent &e, uint64_t elapsedMs);
  // The line said when nothing new came for a second.
  std::string heartbeat(uint64_t elapsedMs) const;

 private:
  bool json_;
  ProgressEvent device_;  // the device being updated (index 0: none yet)
  int64_t percent_ = -1;
  int64_t done_ = 0;
};

// Follows the progress file on a second thread from start() to stop(), writing each line through
// `write` (called on that thread only, and once more on the caller's thread by stop()).
class ProgressWatch {
 public:
  using Write = std::function<void(const std::string &line)>;
  ProgressWatch(std::wstring path, bool json, Write write);
  ~ProgressWatch();
  void start();
  void stop();

 private:
  void poll(uint64_t now);
  void run();

  std::wstring path_;
  ProgressPrinter printer_;
  Write write_;
  ProgressTail tail_;
  uint64_t begin_ = 0, lastOutput_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

// "%systemdrive%\talsystem\log\talprogress.log", expanded.
std::wstring progressFilePath();

}  // namespace talhost
