// The Linux backend: real files, environment, command line, clock and dlopen, with a simulated
// Windows host where Linux has nothing to offer (drive letters, version resources, SMBIOS header).
#pragma once

#include <memory>

#include "tal/platform.h"

namespace tal::os::native {

// Where a Windows-style path leads on Linux. Backslashes become slashes; a drive prefix ("C:")
// and a path from the root of the current drive ("\\talsystem") go to the drive root, which is
// $SYSTEMDRIVE when it is set (and is not itself a drive letter), else the folder "tal/drive" in
// the user's state folder ($XDG_STATE_HOME or ~/.local/state; the current folder when there is
// none), never "/". A path that starts with '/' is native already; other paths stay relative to
// the current directory.
std::string mapPath(const std::string &path);
// The SMBIOS table of the capture the machine description replays (native_machine.cpp); false
// when it replays none.
bool replaySmbios(std::vector<uint8_t> &out);

// %VAR% expansion as ExpandEnvironmentStringsW does it: names compared ignoring case, unknown
// names and an unpaired '%' left as written.
std::wstring expand(const std::wstring &text);

// The value of an environment variable found ignoring case (an exact match wins), with the
// simulated host's defaults; false when there is none.
bool lookupVariable(const std::string &name, std::string &value);

class NativeChannelLibrary;

class NativePlatform : public Platform {
 public:
  NativePlatform();
  ~NativePlatform() override;

  bool createDirectory(const std::wstring &path) override;
  bool pathExists(const std::wstring &path) override;
  bool isRegularFile(const std::wstring &path) override;
  FileHandle openShared(const std::wstring &path) override;
  bool appendFile(FileHandle file, const void *data, size_t size) override;
  bool readWholeFile(FileHandle file, std::string &out) override;
  ReadResult readExistingFile(const std::wstring &path, std::string &out, size_t maxBytes) override;
  bool closeFile(FileHandle file) override;
  bool renameFile(const std::wstring &from, const std::wstring &to) override;
  bool deleteFile(const std::wstring &path) override;
  std::vector<std::wstring> findFiles(const std::wstring &folder,
                                      const std::wstring &pattern) override;
  FILE *openStream(const char *path, const char *mode) override;
  std::string nativePath(const std::string &path) override;
  std::wstring nativePath(const std::wstring &path) override;
  bool sameFile(const std::wstring &a, const std::wstring &b) override;
  FolderTrust secureFolder(const std::wstring &path, bool create) override;
  std::wstring expandEnvironment(const std::wstring &text) override;
  std::wstring tempFileName(const std::wstring &folder, const std::wstring &prefix,
                            unsigned unique) override;
  bool commandLine(std::wstring &out) override;
  bool commandLineArguments(std::vector<std::wstring> &out) override;
  std::wstring modulePath() override;
  std::wstring executablePath() override;
  std::wstring currentDirectory() override;
  bool fileVersion(const std::wstring &path, FileVersion &out) override;
  std::string toAnsi(const std::wstring &text) override;
  std::wstring fromAnsi(const std::string &text) override;
  std::wstring fromCodePage932(const std::string &bytes) override;
  std::wstring localTimeText() override;
  std::wstring localShortDateText() override;
  int64_t wallClockSeconds() override;
  bool calendarTime(int64_t seconds, bool local, std::tm &out) override;
  void sleepMs(uint32_t ms) override;
  uint64_t monotonicMs() override;
  void beginPreciseSleeps() override;
  void endPreciseSleeps() override;
  void attachConsole(int lines) override;
  bool systemIdentity(SystemIdentity &out) override;
  bool freeDiskBytes(const std::wstring &path, uint64_t &out) override;
  bool computerModel(std::wstring &out) override;
  bool shellOpen(const std::wstring &file, const std::wstring &folder) override;
  std::vector<uint8_t> rawSmbiosTable() override;
  bool channelLibraryPresent() override;
  ChannelLibrarySearch channelLibrarySearch() override;
  ChannelLibrary &channelLibrary() override;
  ChannelCapture channelCapture() override;

 private:
  std::unique_ptr<NativeChannelLibrary> channel_;
  int preciseDepth_ = 0;
  int savedTimerSlack_ = 0;  // nanoseconds, while precise sleeps are on
};

}  // namespace tal::os::native
