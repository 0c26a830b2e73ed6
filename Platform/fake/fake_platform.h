// A platform for tests: the built-in backend for files, environment, conversions and the
// calendar clock (unless wallSeconds is set), with
//  - a clock that records every sleep instead of sleeping (monotonicMs advances by the sleeps);
//  - a command line the test chooses;
//  - an SMBIOS table the test chooses;
//  - a channel library the test chooses (usually the in-process simulator), and whether it is
//    "present".
// Construct one in a test (or fixture) and it installs itself; its destructor restores the
// previous platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tal/forwarding_platform.h"

namespace tal::os {

class FakePlatform : public ForwardingPlatform {
 public:
  FakePlatform();
  ~FakePlatform() override;
  FakePlatform(const FakePlatform &) = delete;
  FakePlatform &operator=(const FakePlatform &) = delete;

  // --- what the test sets ---
  // Arguments of the process command line (program path first). commandLineAvailable = false
  // makes both command-line queries fail.
  std::vector<std::wstring> args{L"talhost.exe"};
  bool commandLineAvailable = true;
  std::vector<uint8_t> smbios;            // returned by rawSmbiosTable()
  ChannelLibrary *channel = nullptr;      // returned by channelLibrary() when set
  bool channelPresent = true;             // answer of channelLibraryPresent()
  ChannelLibrarySearch channelSearch;     // answer of channelLibrarySearch()
  std::wstring module = L"";              // modulePath(); empty: the real one
  std::wstring executable = L"";          // executablePath(); empty: the real one
  std::wstring timeText = L"12:34:56";    // localTimeText()
  std::wstring dateText = L"12/08/2026";  // localShortDateText()
  int64_t wallSeconds = -1;               // wallClockSeconds(); -1: the real clock
  bool hasExeVersion = true;              // fileVersion() of the executable path
  FileVersion exeVersion{{1, 2, 3, 4}};
  SystemIdentity identity;        // systemIdentity()
  bool identityAvailable = true;  // false: systemIdentity() fails (the kernel library did not load)
  int64_t freeDisk = -1;          // freeDiskBytes(); -1: the real answer, -2: failure
  bool modelAvailable = true;     // false: computerModel() fails
  std::wstring model = L"Fake Server";
  std::vector<std::wstring> opened;  // every shellOpen file, in order
  bool openSucceeds = true;

  // --- what the test reads ---
  std::vector<uint32_t> sleeps;  // every sleepMs argument, in order
  uint64_t nowMs = 0;            // the fake clock
  int preciseDepth = 0;          // beginPreciseSleeps minus endPreciseSleeps
  int consoleLines = 0;          // last attachConsole argument

  // Sum of all recorded sleeps.
  uint64_t totalSleptMs() const;

  // --- Platform: what the fake answers itself; the rest is the built-in backend's ---
  bool commandLine(std::wstring &out) override;
  bool commandLineArguments(std::vector<std::wstring> &out) override;
  std::wstring modulePath() override;
  std::wstring executablePath() override;
  bool fileVersion(const std::wstring &path, FileVersion &out) override;
  std::wstring localTimeText() override;
  std::wstring localShortDateText() override;
  int64_t wallClockSeconds() override;
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
  ChannelLibrarySearch channelLibrarySearch() override { return channelSearch; }
  ChannelLibrary &channelLibrary() override;
  ChannelCapture channelCapture() override { return ChannelCapture(); }  // never records

 private:
  Platform *previous_;
};

// A scratch folder for one test: created empty under the system temp folder, removed with its
// contents by the destructor. While it lives, SYSTEMDRIVE points at it (so the component log and
// the engine log land inside it) and the current directory is it (restored afterwards).
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  // path() + "/" + relative
  std::string file(const std::string &relative) const;
  // Reads a whole file ("" when missing) / writes one (creating folders).
  static std::string read(const std::string &path);
  static void write(const std::string &path, const std::string &content);

 private:
  std::string path_;
  std::string oldCwd_;
  std::string oldSystemDrive_;
  bool hadSystemDrive_ = false;
};

}  // namespace tal::os
