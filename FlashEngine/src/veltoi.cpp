// The Velto-I flash procedure: handshake on the card's switch controller, port selection, the
// device-access lock, then the CPLD's configuration sequence; the releases run in reverse on
// every path.
#include "veltoi.h"

#include <cstring>
#include <new>

#include "channel/smif.h"
#include "fwheader.h"
#include "log.h"
#include "progress.h"
#include "tal/platform.h"

// The package-author tool refuses a payload over what the engine programs: one figure for both.
static_assert(vlti::kMaxPayload == fwimg::kVeltoIPayloadMax, "the CPLD's capacity");

namespace vlti {

const FamilyEntry kFamily[9] = {
    {"MachXO2-256", 575, 0, 700, 0, 1},          {"MachXO2-640", 1152, 191, 1100, 600, 1},
    {"MachXO2-640U", 2175, 512, 1400, 700, 1},   {"MachXO2-1200", 2175, 512, 1400, 700, 1},
    {"MachXO2-1200U", 3200, 639, 1900, 900, 2},  {"MachXO2-2000", 3200, 639, 1900, 900, 2},
    {"MachXO2-2000U", 5760, 767, 3100, 1000, 3}, {"MachXO2-4000", 5760, 767, 3100, 1000, 3},
    {"MachXO2-7000", 9216, 2046, 4800, 1600, 4},
};

}  // namespace vlti

using namespace vlti;

namespace {
inline uint8_t u8(int v) { return static_cast<uint8_t>(v); }
}  // namespace

FlashTaskVeltoI::FlashTaskVeltoI(int engine, int address, std::string fwPath, int deviceIndex,
                                 int deviceType)
    : FlashTaskVelto(engine, address, std::move(fwPath), deviceIndex, deviceType) {}

FlashTaskVeltoI::~FlashTaskVeltoI() = default;

int FlashTaskVeltoI::Flash() {
  PreciseSleepGuard precise;
  logMessage(LOG_VERBOSE, "FlashTaskVeltoI::Flash starts...\n");
  if (!initFlashing()) return -1;
  progressTotal(static_cast<uint32_t>((cfgSize_ + ufmSize_) / kPageSize));
  return startFlashing();
}

bool FlashTaskVeltoI::initFlashing() {
  if (!loadPayload()) return false;
  if (!setupFwPages()) {
    logMessage(LOG_VERBOSE, "setupFwPages error\n");
    return false;
  }
  portMask_ = portMaskForIdx(deviceIndex_);
  return true;
}

// Region bytes beyond a shorter payload stay 0x00, the erased state: programming them changes
// nothing. A payload the two regions cannot hold is refused here, before any device access.
bool FlashTaskVeltoI::setupFwPages() {
  if (payloadSize_ > kMaxPayload) {
    logMessage(LOG_VERBOSE, "setupFwPages: payload size %u exceeds the limit of %u bytes\n",
               payloadSize_, kMaxPayload);
    return false;
  }
  cfgSize_ = kCfgSize;
  ufmSize_ = kUfmSize;
  cfgBuf_.reset(new (std::nothrow) uint8_t[cfgSize_]());
  ufmBuf_.reset(new (std::nothrow) uint8_t[ufmSize_]());
  if (!cfgBuf_ || !ufmBuf_) {
    logMessage(LOG_VERBOSE, "Memory allocation fail\n");
    return false;
  }
  const uint32_t inCfg = payloadSize_ < static_cast<uint32_t>(cfgSize_) ? payloadSize_ : cfgSize_;
  if (inCfg) std::memcpy(cfgBuf_.get(), payload_.get(), inCfg);
  if (payloadSize_ > inCfg)
    std::memcpy(ufmBuf_.get(), payload_.get() + inCfg, payloadSize_ - inCfg);
  return true;
}

int FlashTaskVeltoI::startFlashing() {
  const uint8_t e = u8(engine_), a = u8(address_), mask = u8(portMask_);
  // Each of the three is owed from the write or command that takes it, released in reverse (the
  // unlock, the port, the handshake) on every path, and by the guards when an exception leaves
  // the procedure. A take whose reply was lost may have gone through: a failed handshake or port
  // write is followed by its release all the same. A release that is not acknowledged is sent
  // again (releaseHandshake, deselectPorts). After a failed unlock of a lock that was held, the
  // port and handshake releases carry the locked tag.
  bool lockHeld = false, releaseLocked = false;
  ReleaseGuard handshake([&](bool) { releaseHandshake(e, releaseLocked); });
  uint32_t st = setHandshake(e, kAddrSwitchCtrl, 1, false);
  if (st != 0) {
    logMessage(LOG_VERBOSE, "handshake failed\n");
    noteFailure("taking the card's backplane-bus handshake", STATE_NOT_CHANGED);
    handshake.release();
    return static_cast<int>(st);
  }
  ReleaseGuard port([&](bool) { deselectPorts(e, releaseLocked); });
  st = selectVltiPort(e, kAddrPortSelect, mask, false);
  if (st != 0) {
    logMessage(LOG_VERBOSE, "selectVltiPort failed\n");
    noteFailure("selecting the backplane's port", STATE_NOT_CHANGED);
    port.release();
    handshake.release();
    return static_cast<int>(st);
  }
  int unlockStatus = 0;
  ReleaseGuard unlock([&](bool unwinding) {
    if (unwinding) {  // sent without asking first, as the Velto-E procedure does
      setI2cAccess(e, a, false, kAccessValue);
      return;
    }
    unlockStatus = unlockDeviceAccess(e, a, kAccessValue);
    if (lockHeld && unlockStatus != 0) releaseLocked = true;
  });
  const int status = lockDeviceAccess(e, a, kAccessValue);
  if (status != 0) {
    noteLockRefused(status);
    unlock.release();
    noteUnlock(unlockStatus);
    handshake.release();
    port.release();
    return status;
  }
  lockHeld = true;
  logMessage(LOG_VERBOSE, "lockDeviceAccess: success\n");

  const int result = startFlashingVlti();
  if (result != 0) logMessage(LOG_VERBOSE, "startFlashingVlti failed: %d\n", result);

  unlock.release();
  noteUnlockAfterWork(unlockStatus);
  port.release();
  handshake.release();
  return result;
}

int FlashTaskVeltoI::abortSequence(int status) {
  sendCommand(kCmdClose, sizeof kCmdClose);
  setHandshake(u8(engine_), kAddrSwitchCtrl, 0, true);
  return status;
}

int FlashTaskVeltoI::startFlashingVlti() {
  logMessage(LOG_VERBOSE, "velto-I Flashing started.\n");
  // The configuration sequence up to the done bit. A step that fails takes the one abort path:
  // its line in the engine log, the step and the device's state noted, the configuration closed
  // and the handshake released (abortSequence). An exception that leaves the sequence closes and
  // releases the same way, through the guard.
  struct Step {
    const char *logLine;  // the engine log's line when the step fails
    const char *what;     // the step, in the result's words
    int state;            // the device's state when the step fails
    int (*run)(FlashTaskVeltoI &task);
  };
  static const Step kSteps[] = {
      {"Error: Opening configure failed.\n", "opening the CPLD's configuration interface",
       STATE_NOT_CHANGED,
       [](FlashTaskVeltoI &t) { return t.sendCommand(kCmdEnable, sizeof kCmdEnable); }},
      {"Error: wait status busy failed after open cfg.\n",
       "opening the CPLD's configuration interface", STATE_NOT_CHANGED,
       [](FlashTaskVeltoI &t) { return t.waitStatusBusy(t.engine_, t.address_); }},
      // The erase command may have been carried out even when its write failed.
      {"Error: Erasing failed.\n", "erasing the CPLD", STATE_ERASED,
       [](FlashTaskVeltoI &t) { return t.sendCommand(kCmdErase, sizeof kCmdErase); }},
      {"Error: wait status busy failed after erase.\n", "erasing the CPLD", STATE_ERASED,
       [](FlashTaskVeltoI &t) {
         tal::os::sys().sleepMs(kEraseWaitMs);
         return t.waitStatusBusy(t.engine_, t.address_);
       }},
      {"programRegion failed #1.\n", "programming the CPLD's configuration flash", STATE_ERASED,
       [](FlashTaskVeltoI &t) { return t.programRegion(t.engine_, REGION_CFG); }},
      {"programRegion failed #2.\n", "programming the CPLD's user flash (UFM)", STATE_ERASED,
       [](FlashTaskVeltoI &t) { return t.programRegion(t.engine_, REGION_UFM); }},
      {"Error: set done failed.\n", "setting the CPLD's done bit", STATE_ERASED,
       [](FlashTaskVeltoI &t) { return t.sendCommand(kCmdDone, sizeof kCmdDone); }},
  };
  ReleaseGuard abort([&](bool) { abortSequence(0); });
  for (const Step &step : kSteps) {
    const int rc = step.run(*this);
    if (rc == 0) continue;
    logMessage(LOG_VERBOSE, "%s", step.logLine);
    noteFailure(step.what, step.state);
    abort.dismiss();
    return abortSequence(rc);
  }
  const int rc = closeCfg(engine_, address_);
  abort.dismiss();
  if (rc != 0) {
    logMessage(LOG_VERBOSE, "Error: Close configure failed.\n");
    // Programmed and done, but whether the part left configuration mode is not known.
    noteFailure("closing the CPLD's configuration interface", STATE_UNKNOWN);
    setHandshake(u8(engine_), kAddrSwitchCtrl, 0, true);
    return rc;
  }
  logMessage(LOG_VERBOSE, "\nFlashing done.\n");
  return 0;
}

int FlashTaskVeltoI::sendCommand(const uint8_t *command, uint32_t size) {
  return static_cast<int>(i2cWrite(u8(engine_), u8(address_), command, size, true));
}

int FlashTaskVeltoI::programRegion(int engine, int region) {
  const bool cfg = region == REGION_CFG;
  const uint8_t *reset = cfg ? kCmdResetCfg : kCmdResetUfm;
  if (i2cWrite(u8(engine), u8(address_), reset, 4, true) != 0) return -1;
  const uint8_t *buffer = cfg ? cfgBuf_.get() : ufmBuf_.get();
  const int size = cfg ? cfgSize_ : ufmSize_;
  if (!buffer) return -1;
  // Pages written so far, over both regions (the configuration region first).
  const int before = cfg ? 0 : cfgSize_ / kPageSize;
  for (int offset = 0; offset + kPageSize <= size; offset += kPageSize) {
    int rc = cfg ? programCfgPage(engine, address_, buffer, offset)
                 : programUfmPage(engine, address_, buffer, offset);
    if (rc != 0) {
      logMessage(LOG_VERBOSE, cfg ? "Error: Writing failed cfg.\n" : "Error: Writing failed ufm\n");
      return rc;
    }
    progressAdvance(static_cast<uint32_t>(before + offset / kPageSize + 1));
    tal::os::sys().sleepMs(kPageWaitMs);
  }
  return 0;
}

int FlashTaskVeltoI::programPage(uint8_t opcode, int engine, int address, const uint8_t *buffer,
                                 int offset) {
  uint8_t cmd[4 + kPageSize] = {opcode, 0x00, 0x00, 0x01};
  std::memcpy(cmd + 4, buffer + offset, kPageSize);
  uint32_t st = i2cWrite(u8(engine), u8(address), cmd, sizeof cmd, true);
  if (st != 0) return static_cast<int>(st);
  return waitStatusBusy(engine, address);
}

int FlashTaskVeltoI::programCfgPage(int engine, int address, const uint8_t *buffer, int offset) {
  return programPage(kOpProgramCfg, engine, address, buffer, offset);
}

int FlashTaskVeltoI::programUfmPage(int engine, int address, const uint8_t *buffer, int offset) {
  return programPage(kOpProgramUfm, engine, address, buffer, offset);
}

int FlashTaskVeltoI::waitStatusBusy(int engine, int address) {
  for (int left = kStatusPolls;;) {
    uint8_t status[4] = {};
    uint32_t st = I2CTransaction(u8(engine), u8(address), kCmdStatus, sizeof kCmdStatus, status,
                                 sizeof status, true);
    if (st != 0) return static_cast<int>(st);
    if (status[2] & kStatusFail) {
      logMessage(LOG_VERBOSE, "Error: wait status busy: FAIL bit is set.\n");
      return -1;
    }
    if (!(status[2] & kStatusBusy)) return 0;
    if (--left == 0) return -1;
  }
}

int FlashTaskVeltoI::closeCfg(int engine, int address) {
  return static_cast<int>(i2cWrite(u8(engine), u8(address), kCmdClose, sizeof kCmdClose, true));
}
