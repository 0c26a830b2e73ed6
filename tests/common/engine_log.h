// Reading what the engine wrote through the C runtime (its log file, the report) in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace testlog {

// The engine log: at the root of the current drive, which the platform maps to the scratch
// folder natively (SYSTEMDRIVE); on Windows the real root of the current drive.
inline std::string engineLogDir(const tal::os::ScratchDir &scratch) {
#ifdef _WIN32
  (void)scratch;
  return "\\talsystem\\log";
#else
  return scratch.file("talsystem/log");
#endif
}
inline std::string engineLogPath(const tal::os::ScratchDir &scratch) {
  return engineLogDir(scratch) + "/Verbose.log";
}

// The engine log file: the engine appends each message's bytes as they are, on every platform.
inline std::string readEngineFile(const std::string &path) {
  return tal::os::ScratchDir::read(path);
}

// The report, which the engine writes as a text stream: on Windows the C runtime's text mode
// writes each "\n" as "\r\n", which is undone here.
inline std::string readReportFile(const std::string &path) {
  std::string text = tal::os::ScratchDir::read(path);
#ifdef _WIN32
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  text = out;
#endif
  return text;
}

// The calendar clock the fixtures set (2026-12-15 12:00:03 UTC), and the stamp the engine log
// writes before each message at that second.
constexpr int64_t kWallSeconds = 1797336003;
constexpr const char *kStamp = "[2026-12-15T12:00:03Z] ";

// Messages as the engine log holds them at that second: each after its stamp.
inline std::string stamped(const std::vector<std::string> &messages) {
  std::string out;
  for (const std::string &m : messages) out += kStamp + m;
  return out;
}

}  // namespace testlog
