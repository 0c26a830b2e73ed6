// Firmware image files and the flash task base: header parsing and checking, payload loading.
// The task for a device type is chosen in flashfactory.cpp.
#include "flashtask.h"

#include <cstdio>
#include <new>

#include "fwheader.h"
#include "log.h"
#include "tal/platform.h"

namespace {

struct FileCloser {
  void operator()(FILE *f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Size of an open file (seek to the end, read the position, rewind); -1 when it cannot be told.
long long streamSize(FILE *f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  long pos = std::ftell(f);
  if (pos < 0 || std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return pos;
}

}  // namespace

PreciseSleepGuard::PreciseSleepGuard() { tal::os::sys().beginPreciseSleeps(); }
PreciseSleepGuard::~PreciseSleepGuard() { tal::os::sys().endPreciseSleeps(); }

const char *deviceTypeName(int code) { return fwimg::deviceTypeText(code); }
const char *chipName(int code) { return fwimg::chipText(code); }

bool checkFwHeader(const FwHeaderInfo &info, int type) {
  if (info.strFwName == deviceTypeName(type) && info.strDeviceId == info.strIsp) return true;
  logMessage(LOG_VERBOSE, "Wrong firmware file header.\n");
  return false;
}

FlashTaskVelto::FlashTaskVelto(int engine, int address, std::string fwPath, int deviceIndex,
                               int deviceType)
    : engine_(engine),
      address_(address),
      deviceIndex_(deviceIndex),
      deviceType_(deviceType),
      fwPath_(std::move(fwPath)) {}

FlashTaskVelto::~FlashTaskVelto() = default;

int FlashTaskVelto::Flash() {
  logMessage(LOG_VERBOSE, "FlashTaskVelto::Flash not supported: %s\n", fwPath_.c_str());
  return -1;
}

bool FlashTaskVelto::initFlashing() {
  logMessage(LOG_VERBOSE, "FlashTaskVelto::initFlashing not supported: %s\n", fwPath_.c_str());
  return false;
}

int FlashTaskVelto::startFlashing() {
  logMessage(LOG_VERBOSE, "FlashTaskVelto::startFlashing not supported: %s\n", fwPath_.c_str());
  return -1;
}

// Only the header bytes are read; the size line still names the whole file.
FwHeaderInfo FlashTaskVelto::parseFwFile() {
  FwHeaderInfo info;
  imageRead_ = false;
  FilePtr f(tal::os::sys().openStream(fwPath_.c_str(), "rb"));
  long long size = f ? streamSize(f.get()) : -1;
  if (size < 0) {
    logMessage(LOG_VERBOSE, "parseFwFile: Opening input file failed: %s\n", fwPath_.c_str());
    return info;
  }
  uint8_t bytes[fwimg::kHeaderSize] = {};
  size_t want =
      size < static_cast<long long>(sizeof bytes) ? static_cast<size_t>(size) : sizeof bytes;
  size_t got = std::fread(bytes, 1, want, f.get());
  f.reset();
  logMessage(LOG_VERBOSE, "parseFwFile: %s size:%u\n", fwPath_.c_str(),
             static_cast<unsigned>(size));
  if (got != want) return info;
  imageRead_ = true;

  fwimg::decodeHeader(bytes, got, static_cast<uint64_t>(size), info);
  return info;
}

// The payload is read straight into its own buffer from offset headerLen: it is held once, with
// no whole-file copy beside it.
bool FlashTaskVelto::loadPayload() {
  FwHeaderInfo info = parseFwFile();
  logMessage(LOG_VERBOSE,
             "header info: headerLen: %d headerVer: %d strFwName: %s strFwRev: %s \nstrDeviceId:%s:"
             " \nstrIsp     :%s:\n",
             info.headerLen, info.headerVer, info.strFwName.c_str(), info.strFwRev.c_str(),
             info.strDeviceId.c_str(), info.strIsp.c_str());
  const std::string unreadable = "reading the firmware image " + fwPath_;
  if (!checkFwHeader(info, deviceType_)) {
    logMessage(LOG_VERBOSE, "checkFwHeader failed: %s\n", fwPath_.c_str());
    noteFailure(imageRead_
                    ? "checking the firmware image " + fwPath_ + " (not an image for this device)"
                    : unreadable,
                STATE_NOT_CHANGED);
    return false;
  }

  FilePtr f(tal::os::sys().openStream(fwPath_.c_str(), "rb"));
  long long size = f ? streamSize(f.get()) : -1;
  if (size < 0) {
    logMessage(LOG_VERBOSE, "Opening input file failed: %s\n", fwPath_.c_str());
    noteFailure(unreadable, STATE_NOT_CHANGED);
    return false;
  }
  logMessage(LOG_VERBOSE, "firmware file: %s size:%u\n", fwPath_.c_str(),
             static_cast<unsigned>(size));
  // The file may have changed since its header was read.
  if (size < static_cast<long long>(fwimg::kHeaderSize) || size < info.headerLen ||
      size - info.headerLen > 0xFFFFFFFFLL) {
    logMessage(LOG_VERBOSE, "Wrong firmware file header.\n");
    noteFailure(unreadable, STATE_NOT_CHANGED);
    return false;
  }
  uint32_t n = static_cast<uint32_t>(size - info.headerLen);
  std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[n ? n : 1]);
  if (!payload) {
    logMessage(LOG_VERBOSE, "Memory allocation fail\n");
    noteFailure(unreadable + " (out of memory)", STATE_NOT_CHANGED);
    return false;
  }
  if (std::fseek(f.get(), info.headerLen, SEEK_SET) != 0 ||
      std::fread(payload.get(), 1, n, f.get()) != n) {
    logMessage(LOG_VERBOSE, "Reading input file failed: %s\n", fwPath_.c_str());
    noteFailure(unreadable, STATE_NOT_CHANGED);
    return false;
  }
  f.reset();
  payload_ = std::move(payload);
  payloadSize_ = n;
  logMessage(LOG_VERBOSE, "payload image size:%u\n", payloadSize_);
  return true;
}

void FlashTaskVelto::noteFailure(const std::string &step, int state) {
  if (!outcome_.failedStep.empty()) return;
  outcome_.failedStep = step;
  outcome_.state = state;
}

void FlashTaskVelto::noteLockRefused(int status) {
  logMessage(LOG_VERBOSE, "lockDeviceAccess: failed: %d\n", status);
  logMessage(LOG_VERBOSE, "Trying to unlock it before returning.\n");
  noteFailure("taking the device-access lock on the management processor", STATE_NOT_CHANGED);
}

void FlashTaskVelto::noteUnlockAfterWork(int unlockStatus) {
  noteUnlock(unlockStatus);
  if (unlockStatus != 0) {
    logMessage(LOG_VERBOSE, "unlockDeviceAccess: failed: %d\n", unlockStatus);
  } else {
    logMessage(LOG_VERBOSE, "unlockDeviceAccess: success\n");
  }
}
