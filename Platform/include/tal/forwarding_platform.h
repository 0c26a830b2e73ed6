// A platform that passes every question on to another: the base of platforms that change a few
// answers of the real one (the fake for tests, pkgcheck's read-only platform). A derived class
// overrides only what it changes; a call added to Platform is forwarded here once.
#pragma once

#include "tal/platform.h"

namespace tal::os {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform &inner) : inner_(inner) {}
  // Not copied: a copy would forward to the original's inner platform, and the copy constructor
  // would be the better match for a ForwardingPlatform handed in as the inner one (wrap one
  // through a Platform reference).
  ForwardingPlatform(const ForwardingPlatform &) = delete;
  ForwardingPlatform &operator=(const ForwardingPlatform &) = delete;

  bool createDirectory(const std::wstring &path) override { return inner_.createDirectory(path); }
  bool pathExists(const std::wstring &path) override { return inner_.pathExists(path); }
  bool isRegularFile(const std::wstring &path) override { return inner_.isRegularFile(path); }
  FileHandle openShared(const std::wstring &path) override { return inner_.openShared(path); }
  bool appendFile(FileHandle file, const void *data, size_t size) override {
    return inner_.appendFile(file, data, size);
  }
  bool readWholeFile(FileHandle file, std::string &out) override {
    return inner_.readWholeFile(file, out);
  }
  bool closeFile(FileHandle file) override { return inner_.closeFile(file); }
  bool renameFile(const std::wstring &from, const std::wstring &to) override {
    return inner_.renameFile(from, to);
  }
  bool deleteFile(const std::wstring &path) override { return inner_.deleteFile(path); }
  ReadResult readExistingFile(const std::wstring &path, std::string &out,
                              size_t maxBytes) override {
    return inner_.readExistingFile(path, out, maxBytes);
  }
  std::vector<std::wstring> findFiles(const std::wstring &folder,
                                      const std::wstring &pattern) override {
    return inner_.findFiles(folder, pattern);
  }
  FILE *openStream(const char *path, const char *mode) override {
    return inner_.openStream(path, mode);
  }
  std::string nativePath(const std::string &path) override { return inner_.nativePath(path); }
  std::wstring nativePath(const std::wstring &path) override { return inner_.nativePath(path); }
  bool sameFile(const std::wstring &a, const std::wstring &b) override {
    return inner_.sameFile(a, b);
  }
  FolderTrust secureFolder(const std::wstring &path, bool create) override {
    return inner_.secureFolder(path, create);
  }

  std::wstring expandEnvironment(const std::wstring &text) override {
    return inner_.expandEnvironment(text);
  }
  std::wstring tempFileName(const std::wstring &folder, const std::wstring &prefix,
                            unsigned unique) override {
    return inner_.tempFileName(folder, prefix, unique);
  }

  bool commandLine(std::wstring &out) override { return inner_.commandLine(out); }
  bool commandLineArguments(std::vector<std::wstring> &out) override {
    return inner_.commandLineArguments(out);
  }
  std::wstring modulePath() override { return inner_.modulePath(); }
  std::wstring executablePath() override { return inner_.executablePath(); }
  std::wstring currentDirectory() override { return inner_.currentDirectory(); }
  bool fileVersion(const std::wstring &path, FileVersion &out) override {
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
  void sleepMs(uint32_t ms) override { inner_.sleepMs(ms); }
  uint64_t monotonicMs() override { return inner_.monotonicMs(); }
  void beginPreciseSleeps() override { inner_.beginPreciseSleeps(); }
  void endPreciseSleeps() override { inner_.endPreciseSleeps(); }

  void attachConsole(int lines) override { inner_.attachConsole(lines); }

  bool systemIdentity(SystemIdentity &out) override { return inner_.systemIdentity(out); }
  bool freeDiskBytes(const std::wstring &path, uint64_t &out) override {
    return inner_.freeDiskBytes(path, out);
  }
  bool computerModel(std::wstring &out) override { return inner_.computerModel(out); }
  bool shellOpen(const std::wstring &file, const std::wstring &folder) override {
    return inner_.shellOpen(file, folder);
  }

  std::vector<uint8_t> rawSmbiosTable() override { return inner_.rawSmbiosTable(); }

  bool channelLibraryPresent() override { return inner_.channelLibraryPresent(); }
  ChannelLibrarySearch channelLibrarySearch() override { return inner_.channelLibrarySearch(); }
  ChannelLibrary &channelLibrary() override { return inner_.channelLibrary(); }
  ChannelCapture channelCapture() override { return inner_.channelCapture(); }

 protected:
  Platform &inner() { return inner_; }

 private:
  Platform &inner_;
};

}  // namespace tal::os
