// Helpers of the framework tests: the files of a CCmpLog, read back as bytes, and the process
// environment.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cmplog.h"
#include "fake_platform.h"
#include "tal/platform.h"

namespace test {

// The path of a log entry as the operating system takes it.
inline std::string EntryPath(const LogFileEntry &entry) {
  return tal::os::toUtf8(
      tal::os::sys().nativePath(std::wstring(entry.folder) + std::wstring(entry.name)));
}

inline std::string ReadEntry(const CCmpLog &log, size_t index) {
  if (log.Entries().size() <= index) return "<no entry>";
  return tal::os::ScratchDir::read(EntryPath(log.Entries()[index]));
}

inline std::string MainText(const CCmpLog &log) { return ReadEntry(log, 0); }
inline std::string VerboseText(const CCmpLog &log) { return ReadEntry(log, 1); }

// TEXT holds PART; when not, the failure shows both.
inline ::testing::AssertionResult Holds(const std::string &text, const std::string &part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "missing [" << part << "] in:\n" << text;
}

inline void SetEnv(const char *name, const std::string &value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline bool Exists(const std::string &path) {
  return tal::os::sys().pathExists(tal::os::fromUtf8(path));
}

}  // namespace test
