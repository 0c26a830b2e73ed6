// Firmware image files and the flash task interface. A task is created per device to update,
// by device type, flashed once and destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "device.h"
#include "fwheader.h"

// The parsed header of a firmware image file (one record for the engine, fwimage and the fuzz
// target).
using FwHeaderInfo = fwimg::Header;

constexpr int kFwHeaderSize = fwimg::kHeaderSize;

const char *deviceTypeName(int code);  // "VeltoE", "VeltoI", ... or "Invalid"
const char *chipName(int code);        // "EP4CGX15BF14C6N", ... or "Invalid"
bool checkFwHeader(const FwHeaderInfo &info, int type);

// Keeps every sleep as long as it says for the life of the guard (Windows: timer resolution raised
// to 1 ms), so that the 1 ms page pauses of a flash do not stretch to the system tick.
class PreciseSleepGuard {
 public:
  PreciseSleepGuard();
  ~PreciseSleepGuard();
  PreciseSleepGuard(const PreciseSleepGuard &) = delete;
  PreciseSleepGuard &operator=(const PreciseSleepGuard &) = delete;
};

// Holds one release (the device-access lock, the backplane port, the card's handshake) for a
// scope: release() runs it at the place the procedure gives it, once, as release(false); when the
// scope ends without it (an exception unwinding through the procedure) the destructor runs it as
// release(true). A release that fails on the unwinding path is swallowed there: the exception
// already on its way is the one the export reports. dismiss() drops a release no longer owed.
template <typename Release>
class ReleaseGuard {
 public:
  explicit ReleaseGuard(Release release) : release_(std::move(release)) {}
  ~ReleaseGuard() {
    if (!armed_) return;
    armed_ = false;
    try {
      release_(true);
    } catch (...) {
    }
  }
  ReleaseGuard(const ReleaseGuard &) = delete;
  ReleaseGuard &operator=(const ReleaseGuard &) = delete;

  void release() {
    if (!armed_) return;
    armed_ = false;
    release_(false);
  }
  void dismiss() { armed_ = false; }

 private:
  Release release_;
  bool armed_ = true;
};

class FlashTaskVelto {
 public:
  FlashTaskVelto() = default;
  virtual ~FlashTaskVelto();
  FlashTaskVelto(const FlashTaskVelto &) = delete;
  FlashTaskVelto &operator=(const FlashTaskVelto &) = delete;

  virtual int Flash();
  virtual bool initFlashing();
  virtual int startFlashing();

  FwHeaderInfo parseFwFile();

  int engine() const { return engine_; }
  int address() const { return address_; }
  int deviceIndex() const { return deviceIndex_; }
  const uint8_t *payload() const { return payload_.get(); }
  uint32_t payloadSize() const { return payloadSize_; }
  int deviceType() const { return deviceType_; }
  const std::string &fwPath() const { return fwPath_; }
  // What the flash came to: the step that failed and the device's state then, and whether the
  // device-access lock was left held.
  const FlashOutcome &outcome() const { return outcome_; }

 protected:
  FlashTaskVelto(int engine, int address, std::string fwPath, int deviceIndex, int deviceType);

  // Reads the image, checks its header against the task's type and keeps the payload.
  bool loadPayload();
  // Records the step that failed and the device's state; the first failure is the one reported.
  void noteFailure(const std::string &step, int state);
  // Records whether the device-access lock is left held (an unlock that was not confirmed).
  void noteUnlock(int unlockStatus) {
    if (unlockStatus != 0) outcome_.accessLocked = true;
  }
  // The device-access lock was refused: said in the engine log and noted as the failed step. The
  // caller sends the unlock all the same (a lock whose answer failed may have been taken).
  void noteLockRefused(int status);
  // The unlock after the work: noted, and its result said in the engine log.
  void noteUnlockAfterWork(int unlockStatus);

  FlashOutcome outcome_;
  bool imageRead_ = false;  // the last parseFwFile opened and read the header bytes

  int engine_ = -1;
  int address_ = -1;
  int deviceIndex_ = 0;
  std::unique_ptr<uint8_t[]> payload_;
  uint32_t payloadSize_ = 0;
  int deviceType_ = 0;
  std::string fwPath_;
};

// The task for a device type: DEVICE_VELTO_E FlashTaskVeltoE, DEVICE_VELTO_I FlashTaskVeltoI; null
// for any other type (flashfactory.cpp).
std::unique_ptr<FlashTaskVelto> createFlashTask(int type, int engine, int address,
                                                std::string fwPath, int deviceIndex);
