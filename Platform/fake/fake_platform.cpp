#include "fake_platform.h"

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "tal/channel_call.h"

namespace tal::os {

namespace {

namespace fs = std::filesystem;

// The channel library of a test that chose none: every call fails as a missing function does.
class AbsentChannelLibrary : public ChannelCallLibrary {
  uint32_t call(ChannelCall &c) override { return missing(c); }
};

AbsentChannelLibrary g_absentChannel;

bool sameIgnoringCase(const std::wstring &a, const std::wstring &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

void setVariable(const char *name, const std::string &value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

void unsetVariable(const char *name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

}  // namespace

FakePlatform::FakePlatform() : ForwardingPlatform(defaultPlatform()), previous_(&sys()) {
  setPlatform(this);
}

FakePlatform::~FakePlatform() { setPlatform(previous_ == &inner() ? nullptr : previous_); }

uint64_t FakePlatform::totalSleptMs() const {
  return std::accumulate(sleeps.begin(), sleeps.end(), uint64_t{0});
}

bool FakePlatform::commandLine(std::wstring &out) {
  if (!commandLineAvailable) return false;
  out = joinCommandLine(args);
  return true;
}

bool FakePlatform::commandLineArguments(std::vector<std::wstring> &out) {
  if (!commandLineAvailable) return false;
  out = args;
  return true;
}

std::wstring FakePlatform::modulePath() { return module.empty() ? inner().modulePath() : module; }

std::wstring FakePlatform::executablePath() {
  return executable.empty() ? inner().executablePath() : executable;
}

bool FakePlatform::fileVersion(const std::wstring &path, FileVersion &out) {
  if (sameIgnoringCase(path, executablePath())) {
    if (hasExeVersion) out = exeVersion;
    return hasExeVersion;
  }
  return inner().fileVersion(path, out);
}

std::wstring FakePlatform::localTimeText() { return timeText; }
std::wstring FakePlatform::localShortDateText() { return dateText; }
int64_t FakePlatform::wallClockSeconds() {
  return wallSeconds == -1 ? inner().wallClockSeconds() : wallSeconds;
}

void FakePlatform::sleepMs(uint32_t ms) {
  sleeps.push_back(ms);
  nowMs += ms;
}

uint64_t FakePlatform::monotonicMs() { return nowMs; }
void FakePlatform::beginPreciseSleeps() { ++preciseDepth; }
void FakePlatform::endPreciseSleeps() { --preciseDepth; }
void FakePlatform::attachConsole(int lines) { consoleLines = lines; }
bool FakePlatform::systemIdentity(SystemIdentity &out) {
  out = identity;
  return identityAvailable;
}
bool FakePlatform::freeDiskBytes(const std::wstring &path, uint64_t &out) {
  if (freeDisk == -1) return inner().freeDiskBytes(path, out);
  if (freeDisk < 0) return false;
  out = static_cast<uint64_t>(freeDisk);
  return true;
}
bool FakePlatform::computerModel(std::wstring &out) {
  if (modelAvailable) out = model;
  return modelAvailable;
}
bool FakePlatform::shellOpen(const std::wstring &file, const std::wstring &) {
  opened.push_back(file);
  return openSucceeds;
}
std::vector<uint8_t> FakePlatform::rawSmbiosTable() { return smbios; }
bool FakePlatform::channelLibraryPresent() { return channelPresent; }
ChannelLibrary &FakePlatform::channelLibrary() { return channel ? *channel : g_absentChannel; }

// --- ScratchDir ---

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  std::random_device random;
  fs::path dir;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "tal-" << std::hex << random() << '-' << counter++;
    dir = base / name.str();
    if (fs::create_directory(dir, ec)) break;
    dir.clear();
  }
  if (dir.empty()) throw std::runtime_error("ScratchDir: no scratch folder could be created");
  path_ = dir.string();
  oldCwd_ = fs::current_path(ec).string();
  if (const char *drive = getenv("SYSTEMDRIVE")) {
    hadSystemDrive_ = true;
    oldSystemDrive_ = drive;
  }
  setVariable("SYSTEMDRIVE", path_);
  fs::current_path(dir, ec);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::current_path(oldCwd_, ec);
  if (hadSystemDrive_) {
    setVariable("SYSTEMDRIVE", oldSystemDrive_);
  } else {
    unsetVariable("SYSTEMDRIVE");
  }
  fs::remove_all(path_, ec);
}

std::string ScratchDir::file(const std::string &relative) const { return path_ + "/" + relative; }

std::string ScratchDir::read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void ScratchDir::write(const std::string &path, const std::string &content) {
  std::error_code ec;
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace tal::os
