// The platform pkgcheck runs the plug-in's readers on: the build's own backend for every question,
// except that nothing can be written (a write stream goes to the null device, files and folders
// are neither created, renamed nor deleted, no console is opened) and the plain version query
// answers the major version pkgcheck asks about (to see which INF element each Windows uses).
#pragma once

#include "tal/platform.h"

namespace pkgcheck {

class ReadOnlyPlatform : public tal::os::Platform {
 public:
  explicit ReadOnlyPlatform(tal::os::Platform &inner) : inner_(inner) {}

  uint32_t reportedMajor = 10;

  bool createDirectory(const std::wstring &) override { return false; }
  bool pathExists(const std::wstring &path) override { return inner_.pathExists(path); }
  bool isRegularFile(const std::wstring &path) override { return inner_.isRegularFile(path); }
  tal::os::FileHandle openShared(const std::wstring &) override { return tal::os::kInvalidFile; }
  bool appendFile(tal::os::FileHandle, const void *, size_t) override { return false; }
  bool readWholeFile(tal::os::FileHandle, std::string &out) override {
    out.clear();
    return false;
  }
  bool closeFile(tal::os::FileHandle) override { return false; }
  bool renameFile(const std::wstring &, const std::wstring &) override { return false; }
  bool deleteFile(const std::wstring &) override { return false; }
  tal::os::ReadResult readExistingFile(const std::wstring &path, std::string &out,
                                       size_t maxBytes) override {
    return inner_.readExistingFile(path, out, maxBytes);
  }
  std::vector<std::wstring> findFiles(const std::wstring &folder,
                                      const std::wstring &pattern) override {
    return inner_.findFiles(folder, pattern);
  }
  FILE *openStream(const char *path, const char *mode) override {
    const std::string m = mode ? mode : "";
    if (m.find_first_of("wa+") == std::string::npos) return inner_.openStream(path, mode);
#ifdef _WIN32
    return inner_.openStream("NUL", "wb");
#else
    return inner_.openStream("/dev/null", "wb");
#endif
  }
  std::string nativePath(const std::string &path) override { return inner_.nativePath(path); }
  std::wstring nativePath(const std::wstring &path) override { return inner_.nativePath(path); }
  bool sameFile(const std::wstring &a, const std::wstring &b) override {
    return inner_.sameFile(a, b);
  }
  // Checks, never makes: the checker writes nothing.
  tal::os::FolderTrust secureFolder(const std::wstring &path, bool) override {
    return inner_.secureFolder(path, false);
  }
  std::wstring expandEnvironment(const std::wstring &text) override {
    return inner_.expandEnvironment(text);
  }
  std::wstring tempFileName(const std::wstring &, const std::wstring &, unsigned) override {
    return std::wstring();
  }
  bool commandLine(std::wstring &out) override { return inner_.commandLine(out); }
  bool commandLineArguments(std::vector<std::wstring> &out) override {
    return inner_.commandLineArguments(out);
  }
  std::wstring modulePath() override { return inner_.modulePath(); }
  std::wstring executablePath() override { return inner_.executablePath(); }
  std::wstring currentDirectory() override { return inner_.currentDirectory(); }
  bool fileVersion(const std::wstring &path, tal::os::FileVersion &out) override {
    return inner_.fileVersion(path, out);
  }
  std::string toAnsi(const std::wstring &text) override { return inner_.toAnsi(text); }
  std::wstring fromAnsi(const std::string &text) override { return inner_.fromAnsi(text); }
  std::wstring fromCodePage932(const std::string &bytes) override {
    return inner_.fromCodePage932(bytes);
  }
  std::wstring localTimeText() override { return inner_.localTimeText(); }
  std::wstring localShortDateText() override { return inner_.localShortDateText(); }
  int64_t wallClockSeconds() override { return inner_.wallClockSeconds(); }
  bool calendarTime(int64_t seconds, bool local, std::tm &out) override {
    return inner_.calendarTime(seconds, local, out);
  }
  void sleepMs(uint32_t) override {}
  uint64_t monotonicMs() override { return inner_.monotonicMs(); }
  void beginPreciseSleeps() override {}
  void endPreciseSleeps() override {}
  void attachConsole(int) override {}
  bool systemIdentity(tal::os::SystemIdentity &out) override {
    const bool loaded = inner_.systemIdentity(out);
    out.reportedMajor = reportedMajor;
    return loaded;
  }
  bool freeDiskBytes(const std::wstring &path, uint64_t &out) override {
    return inner_.freeDiskBytes(path, out);
  }
  bool computerModel(std::wstring &out) override { return inner_.computerModel(out); }
  bool shellOpen(const std::wstring &, const std::wstring &) override { return false; }
  std::vector<uint8_t> rawSmbiosTable() override { return {}; }
  bool channelLibraryPresent() override { return false; }
  tal::os::ChannelLibrary &channelLibrary() override { return inner_.channelLibrary(); }

 private:
  tal::os::Platform &inner_;
};

}  // namespace pkgcheck
