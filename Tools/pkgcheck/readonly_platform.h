// The platform pkgcheck runs the plug-in's readers on: the build's own backend for every question,
// except that nothing can be written (a write stream goes to the null device, files and folders
// are neither created, renamed nor deleted, no console is opened) and the plain version query
// answers the major version pkgcheck asks about (to see which INF element each Windows uses).
#pragma once

#include "tal/forwarding_platform.h"

namespace pkgcheck {

class ReadOnlyPlatform : public tal::os::ForwardingPlatform {
 public:
  explicit ReadOnlyPlatform(tal::os::Platform &inner) : ForwardingPlatform(inner) {}

  uint32_t reportedMajor = 10;

  bool createDirectory(const std::wstring &) override { return false; }
  tal::os::FileHandle openShared(const std::wstring &) override { return tal::os::kInvalidFile; }
  bool appendFile(tal::os::FileHandle, const void *, size_t) override { return false; }
  bool readWholeFile(tal::os::FileHandle, std::string &out) override {
    out.clear();
    return false;
  }
  bool closeFile(tal::os::FileHandle) override { return false; }
  bool renameFile(const std::wstring &, const std::wstring &) override { return false; }
  bool deleteFile(const std::wstring &) override { return false; }
  FILE *openStream(const char *path, const char *mode) override {
    const std::string m = mode ? mode : "";
    if (m.find_first_of("wa+") == std::string::npos) return inner().openStream(path, mode);
#ifdef _WIN32
    return inner().openStream("NUL", "wb");
#else
    return inner().openStream("/dev/null", "wb");
#endif
  }
  // Checks, never makes: the checker writes nothing.
  tal::os::FolderTrust secureFolder(const std::wstring &path, bool) override {
    return inner().secureFolder(path, false);
  }
  std::wstring tempFileName(const std::wstring &, const std::wstring &, unsigned) override {
    return std::wstring();
  }
  void sleepMs(uint32_t) override {}
  void beginPreciseSleeps() override {}
  void endPreciseSleeps() override {}
  void attachConsole(int) override {}
  bool systemIdentity(tal::os::SystemIdentity &out) override {
    const bool loaded = inner().systemIdentity(out);
    out.reportedMajor = reportedMajor;
    return loaded;
  }
  bool shellOpen(const std::wstring &, const std::wstring &) override { return false; }
  // No SMBIOS table and no channel library: the checker talks to no hardware.
  std::vector<uint8_t> rawSmbiosTable() override { return {}; }
  bool channelLibraryPresent() override { return false; }
  tal::os::ChannelLibrarySearch channelLibrarySearch() override { return {}; }
  tal::os::ChannelCapture channelCapture() override { return {}; }
};

}  // namespace pkgcheck
