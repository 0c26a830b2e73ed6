// SMIF commands to the management processor and the I2C operations built on them.
//
// Every command builds its request in a zero-filled stack buffer with SEQ 0, zero-fills the
// response buffer, exchanges them over the channel, then numbers the request from the channel's
// sequence. Response fields are read only inside the response's own LEN (which the transport has
// checked against what was received) and never past the buffer.
#include "channel/smif.h"

#include <cstring>

#include "channel/transport.h"
#include "log.h"
#include "state.h"
#include "tal/platform.h"

const char kTagLocked[8] = {'T', 'K', 'a', 'r', 's', 'e', 'n', 0};
const char kTagUnlocked[8] = {'M', 'o', 'r', 'v', 'a', 'n', 'e', 0};

namespace {

ChannelState &channelState() { return engineState().channel; }

constexpr uint32_t kLockPauseMs = 2000;

// Response offsets.
constexpr unsigned kRspErrorCode = 8;
constexpr unsigned kRspMinor = 16, kRspMajor = 17, kRspApplication = 71;
constexpr unsigned kRspLockState = 12;
constexpr unsigned kRspReadLength = 24, kRspReadData = 25;

// I2C request offsets.
constexpr unsigned kI2cTag = 12, kI2cAddress = 20, kI2cEngine = 22, kI2cWriteLength = 23,
                   kI2cReadLength = 24, kI2cWriteData = 25;

// Access request offsets.
constexpr unsigned kReqCode = 8, kReqAction = 10, kReqValue = 12, kReqTarget = 16;

// Zero-filled request with LEN and CMD set, SEQ 0.
void beginRequest(uint8_t *request, uint32_t length, uint16_t cmd, uint8_t *response,
                  uint32_t capacity) {
  std::memset(request, 0, length);
  std::memset(response, 0, capacity);
  putU16(request, 0, static_cast<uint16_t>(length));
  putU16(request, 4, cmd);
}

// True when the response's own LEN covers the bytes [offset, offset + width).
bool covers(const uint8_t *response, unsigned offset, unsigned width) {
  return getU16(response, 0) >= offset + width;
}

// Steps shared by every command: the exchange, the request's number from the sequence, the trace
// line and the error-code lines. Returns the exchange status; *errorCode gets the response's.
uint32_t runCommand(uint8_t *request, uint8_t *response, uint32_t capacity, uint32_t *errorCode) {
  const uint32_t status = exchangePacket(request, response, capacity);
  uint16_t &sequence = channelState().sequence;
  putU16(request, 2, sequence);
  sequence = static_cast<uint16_t>(sequence + 1);

  const unsigned cmd = getU16(request, 4), len = getU16(request, 0), seq = getU16(request, 2);
  *errorCode = getU32(response, kRspErrorCode);
  logMessage(LOG_LEVEL1, "CMD:0x%02x LEN:0x%02x SEQ:%d RSP ERR:%d\n", cmd, len,
             static_cast<int>(seq), static_cast<int>(*errorCode));
  if (status == CHANNEL_OK && *errorCode != 0) {
    logMessage(LOG_VERBOSE, "CMD:0x%02x LEN:0x%02x SEQ:%d\n", cmd, len, static_cast<int>(seq));
    logMessage(LOG_VERBOSE, "SmifCommand: ErrorCode = %d\n", static_cast<int>(*errorCode));
  }
  return status;
}

// One access request (query, lock or unlock) on (engine, address).
uint32_t accessRequest(uint8_t engine, uint8_t address, uint16_t action, uint32_t value,
                       uint8_t *response, uint32_t *errorCode) {
  uint8_t request[kSmifRequestLen];
  beginRequest(request, kSmifRequestLen, SMIFCMD_REQUEST, response, kSmifRequestResponseCap);
  putU16(request, kReqCode, SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST);
  putU16(request, kReqAction, action);
  putU32(request, kReqValue, value);
  putU32(request, kReqTarget, smifAccessTarget(engine, address));
  return runCommand(request, response, kSmifRequestResponseCap, errorCode);
}

void dumpBytes(uint32_t flags, const uint8_t *bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) logMessage(flags | LOG_NOTIME, "0x%02x ", bytes[i]);
  logMessage(flags | LOG_NOTIME, "\n");
}

void i2cFailureDump(uint8_t engine, uint8_t address, const uint8_t *request,
                    const uint8_t *response, uint32_t errorCode) {
  const uint32_t wl = request[kI2cWriteLength], rl = request[kI2cReadLength];
  logMessage(LOG_VERBOSE, "I2CTransaction: SMIFCMD_I2C_TRANSACTION failed\n");
  logMessage(LOG_VERBOSE, "I2C: E:0x%02x A:0x%02x WL:%d DT: ", engine, address,
             static_cast<int>(wl));
  dumpBytes(LOG_VERBOSE, request + kI2cWriteData, wl);
  logMessage(LOG_VERBOSE, "RSP: ERR:%d RL:%d DT: ", static_cast<int>(errorCode),
             static_cast<int>(rl));
  dumpBytes(LOG_VERBOSE, response + kRspReadData, rl);
}

}  // namespace

uint32_t smifAccessTarget(uint8_t engine, uint8_t address) {
  return (static_cast<uint32_t>(engine) << 16) | address;
}

bool getOstStatus(uint8_t *application, uint8_t *major, uint8_t *minor) {
  uint8_t request[kSmifStatusRequestLen];
  uint8_t response[kSmifStatusResponseCap];
  beginRequest(request, kSmifStatusRequestLen, SMIFCMD_GET_STATUS, response,
               kSmifStatusResponseCap);
  uint32_t errorCode = 0;
  const uint32_t status = runCommand(request, response, kSmifStatusResponseCap, &errorCode);
  // A response too short to hold the version bytes has no version to give.
  if (status != CHANNEL_OK || errorCode != 0 || !covers(response, kRspApplication, 1)) {
    logMessage(LOG_VERBOSE, "SMIFCMD_GET_STATUS failed\n");
    return false;
  }
  if (major) *major = response[kRspMajor];
  if (minor) *minor = response[kRspMinor];
  if (application) *application = response[kRspApplication];
  logMessage(LOG_VERBOSE, "EX: Ost Major Version: %d Minor Version: %d application: %d\n",
             response[kRspMajor], response[kRspMinor], response[kRspApplication]);
  return true;
}

namespace {

// The lock query: the lock state as the response's field stands (zero-filled when nothing came
// back, and not part of a response too short to carry it); *answered tells whether the query got
// a whole, error-free answer.
bool queryLock(uint8_t engine, uint8_t address, bool *answered) {
  uint8_t response[kSmifRequestResponseCap];
  uint32_t errorCode = 0;
  const uint32_t status =
      accessRequest(engine, address, ACCESS_QUERY, kAccessValue, response, &errorCode);
  const bool ok = status == CHANNEL_OK && errorCode == 0;
  if (!ok) {
    logMessage(LOG_VERBOSE, "SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST:  check_i2c_locked failed\n");
  }
  const bool covered = covers(response, kRspLockState, 4);
  if (answered) *answered = ok && covered;
  return covered && getU32(response, kRspLockState) != 0;
}

}  // namespace

bool check_i2c_locked(uint8_t engine, uint8_t address) {
  return queryLock(engine, address, nullptr);
}

AccessState queryDeviceAccess(uint8_t engine, uint8_t address) {
  bool answered = false;
  const bool locked = queryLock(engine, address, &answered);
  if (!answered) return AccessState::Unknown;
  return locked ? AccessState::Locked : AccessState::Unlocked;
}

uint32_t setI2cAccess(uint8_t engine, uint8_t address, bool lock, uint32_t value) {
  uint8_t response[kSmifRequestResponseCap];
  uint32_t errorCode = 0;
  const uint32_t status = accessRequest(engine, address, lock ? ACCESS_LOCK : ACCESS_UNLOCK, value,
                                        response, &errorCode);
  if (status != CHANNEL_OK || errorCode != 0) {
    logMessage(LOG_VERBOSE, "SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST:  %s failed\n",
               lock ? "lock_i2c" : "unlock_i2c");
    return status != CHANNEL_OK ? status : CHANNEL_RETRIES_USED_UP;
  }
  return CHANNEL_OK;
}

uint32_t I2CTransaction(uint8_t engine, uint8_t address, const uint8_t *writeData,
                        uint32_t writeLength, uint8_t *readBuffer, uint32_t readLength,
                        bool locked) {
  if (writeLength > kI2cMaxData || readLength > kI2cMaxData ||
      (writeLength > 0 && writeData == nullptr)) {
    logMessage(LOG_VERBOSE, "I2CTransaction: invalid lengths (WL:%u RL:%u)\n", writeLength,
               readLength);
    return CHANNEL_INVALID_ARG;
  }

  uint8_t request[kSmifI2cLen];
  uint8_t response[kSmifI2cResponseCap];
  beginRequest(request, kSmifI2cLen, SMIFCMD_I2C_TRANSACTION, response, kSmifI2cResponseCap);
  std::memcpy(request + kI2cTag, locked ? kTagLocked : kTagUnlocked, 8);
  putU16(request, kI2cAddress, address);
  request[kI2cEngine] = engine;
  request[kI2cWriteLength] = static_cast<uint8_t>(writeLength);
  request[kI2cReadLength] = static_cast<uint8_t>(readLength);
  if (writeLength > 0) std::memcpy(request + kI2cWriteData, writeData, writeLength);

  uint32_t errorCode = 0;
  const uint32_t status = runCommand(request, response, kSmifI2cResponseCap, &errorCode);
  if (status != CHANNEL_OK || errorCode != 0) {
    i2cFailureDump(engine, address, request, response, errorCode);
    return status != CHANNEL_OK ? status : CHANNEL_RETRIES_USED_UP;
  }

  // The detailed trace is written only at log level 1; skip building it otherwise.
  if (getLogLevel() == 1) {
    logMessage(LOG_LEVEL1, "I2C: E:0x%02x A:0x%02x WL:%d DT: ", engine, address,
               static_cast<int>(writeLength));
    dumpBytes(LOG_LEVEL1, request + kI2cWriteData, writeLength);
    logMessage(LOG_LEVEL1, "RSP: EC:%d RL:%d DT: ", static_cast<int>(errorCode),
               static_cast<int>(readLength));
    dumpBytes(LOG_LEVEL1, response + kRspReadData, readLength);
  }

  if (readBuffer == nullptr || readLength == 0) return CHANNEL_OK;
  // Exactly the bytes asked for, and all of them inside the response.
  if (response[kRspReadLength] != readLength || !covers(response, kRspReadData, readLength)) {
    i2cFailureDump(engine, address, request, response, errorCode);
    return CHANNEL_RETRIES_USED_UP;
  }
  std::memcpy(readBuffer, response + kRspReadData, readLength);
  return CHANNEL_OK;
}

uint32_t i2cWrite(uint8_t engine, uint8_t address, const uint8_t *data, uint32_t length,
                  bool locked) {
  return I2CTransaction(engine, address, data, length, nullptr, 0, locked);
}

uint32_t readFromOffset0012(uint8_t engine, uint8_t address, uint8_t *buffer, uint32_t length,
                            bool locked) {
  const uint8_t offset[2] = {0x00, 0x12};
  return I2CTransaction(engine, address, offset, 2, buffer, length, locked);
}

namespace {

// The hold after a write that takes (take true) or releases the bus, acknowledged or not. A take
// whose answer failed may have gone through; a release whose answer failed leaves a bus that was
// (maybe) taken maybe taken, and one that was released released.
void noteBusWrite(BusHold &hold, bool take, bool acknowledged) {
  if (acknowledged) {
    hold = take ? BusHold::Taken : BusHold::Released;
  } else if (take) {
    if (hold == BusHold::Released) hold = BusHold::MaybeTaken;
  } else if (hold == BusHold::Taken) {
    hold = BusHold::MaybeTaken;
  }
}

}  // namespace

BusHold handshakeHold(uint8_t engine) { return channelState().handshake[engine]; }
BusHold portHold(uint8_t engine) { return channelState().port[engine]; }

namespace {

// A write that takes (value not 0) or releases a backplane bus, and the bus's hold after it when
// it went to the address that holds the bus.
uint32_t busWrite(uint8_t engine, uint8_t address, uint8_t reg, uint8_t value, bool locked,
                  uint8_t holder, BusHold &hold) {
  const uint8_t bytes[2] = {reg, value};
  const uint32_t status = I2CTransaction(engine, address, bytes, 2, nullptr, 0, locked);
  if (address == holder) noteBusWrite(hold, value != 0, status == 0);
  return status;
}

// A release sent again while it is not acknowledged, kReleaseAttempts times at most.
template <typename Send>
bool releaseBus(const char *bus, uint8_t engine, Send send) {
  for (int attempt = 1; attempt <= kReleaseAttempts; ++attempt) {
    if (send() == 0) return true;
    logMessage(LOG_VERBOSE, "%s release on segment %d not acknowledged (attempt %d of %d)\n", bus,
               engine, attempt, kReleaseAttempts);
  }
  return false;
}

}  // namespace

uint32_t setHandshake(uint8_t engine, uint8_t address, uint8_t value, bool locked) {
  return busWrite(engine, address, 0x66, value, locked, kAddrSwitchCtrl,
                  channelState().handshake[engine]);
}

uint32_t selectVltiPort(uint8_t engine, uint8_t address, uint8_t mask, bool locked) {
  return busWrite(engine, address, 0x00, mask, locked, kAddrPortSelect,
                  channelState().port[engine]);
}

bool releaseHandshake(uint8_t engine, bool locked) {
  return releaseBus("handshake", engine,
                    [&] { return setHandshake(engine, kAddrSwitchCtrl, 0, locked); });
}

bool deselectPorts(uint8_t engine, bool locked) {
  return releaseBus("port", engine,
                    [&] { return selectVltiPort(engine, kAddrPortSelect, 0, locked); });
}

uint8_t portMaskForIdx(int idx) {
  return idx >= 0 && idx <= 2 ? static_cast<uint8_t>(1u << idx) : 0;
}

int lockDeviceAccess(uint8_t engine, uint8_t address, uint32_t value) {
  if (check_i2c_locked(engine, address)) {
    logMessage(LOG_VERBOSE, "Device access ALREADY locked\n");
    return 0;
  }
  logMessage(LOG_VERBOSE, "Device Access is NOT locked: now sending lock command\n");
  if (setI2cAccess(engine, address, true, value) == CHANNEL_OK) {
    logMessage(LOG_VERBOSE, "lock command success\n");
  } else {
    logMessage(LOG_VERBOSE, "lock command FAILED\n");
  }
  tal::os::sys().sleepMs(kLockPauseMs);
  if (check_i2c_locked(engine, address)) {
    logMessage(LOG_VERBOSE, "verified lock command. success\n");
    return 0;
  }
  logMessage(LOG_VERBOSE, "verified lock command. failed\n");
  return -1;
}

int unlockDeviceAccess(uint8_t engine, uint8_t address, uint32_t value) {
  AccessState state = queryDeviceAccess(engine, address);
  if (state == AccessState::Unlocked) {
    logMessage(LOG_VERBOSE, "Device Access ALREADY unlocked\n");
    return 0;
  }
  for (int attempt = 1;; ++attempt) {
    if (state == AccessState::Locked) {
      logMessage(LOG_VERBOSE, "Device Access locked: now sending unlock command\n");
    } else {
      // No answer to the query: the lock may be held, so the unlock goes out all the same.
      logMessage(LOG_VERBOSE, "Device Access state unknown: now sending unlock command\n");
    }
    if (setI2cAccess(engine, address, false, value) == CHANNEL_OK) {
      logMessage(LOG_VERBOSE, "unlock command success\n");
    } else {
      logMessage(LOG_VERBOSE, "unlock command FAILED\n");
    }
    tal::os::sys().sleepMs(kLockPauseMs);
    state = queryDeviceAccess(engine, address);
    if (state == AccessState::Unlocked) {
      logMessage(LOG_VERBOSE, "verified un-lock command. success\n");
      return 0;
    }
    logMessage(LOG_VERBOSE, "verified un-lock command. failed\n");
    if (attempt == kUnlockAttempts) return -1;
    logMessage(LOG_VERBOSE, "unlockDeviceAccess: trying again (%d of %d)\n", attempt + 1,
               kUnlockAttempts);
  }
}
