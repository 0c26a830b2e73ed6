// The Velto-E flash procedure: unlock the loader, wait for its ready answer, send the payload in
// numbered 256-byte blocks with CRC-16/XMODEM, one ACK per block, then EOT; any refusal ends the
// transfer with three CANs. The whole transfer runs under the device-access lock.
#include "veltoe.h"

#include <array>
#include <cstring>
#include <string>

#include "channel/smif.h"
#include "device.h"
#include "log.h"
#include "progress.h"
#include "tal/platform.h"

namespace vlte {
namespace {

constexpr std::array<uint16_t, 256> makeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b) {
      c = (c & 0x8000) ? static_cast<uint16_t>((c << 1) ^ 0x1021) : static_cast<uint16_t>(c << 1);
    }
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

}  // namespace

uint16_t crc16(const uint8_t *data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

void unlockSequence(uint8_t out[5]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(kUnlockWord >> (8 * i));
  out[4] = kUnlockLast;
}

}  // namespace vlte

using namespace vlte;

FlashTaskVeltoE::FlashTaskVeltoE(int engine, int address, std::string fwPath, int deviceIndex,
                                 int deviceType)
    : FlashTaskVelto(engine, address, std::move(fwPath), deviceIndex, deviceType), block_{} {}

FlashTaskVeltoE::~FlashTaskVeltoE() = default;

int FlashTaskVeltoE::Flash() {
  PreciseSleepGuard precise;
  logMessage(LOG_VERBOSE, "FlashTaskVeltoE::Flash starts...\n");
  if (!initFlashing()) return -1;
  // Every 256 payload bytes a block, and one more that carries the end marker (or the rest).
  progressTotal(payloadSize_ / kBlockData + 1);
  return startFlashing();
}

bool FlashTaskVeltoE::initFlashing() { return loadPayload(); }

int FlashTaskVeltoE::startFlashing() {
  if (deviceType_ != DEVICE_VELTO_E) return -1;
  const uint8_t e = static_cast<uint8_t>(engine_), a = static_cast<uint8_t>(address_);
  // The unlock is owed from the lock command on: after a failed lock (which may have been taken
  // all the same), after the transfer, and when an exception leaves the transfer. On that last
  // path the unlock command is sent without asking first: a lock command whose wait was cut
  // short may not show yet, and would take effect after a query that found nothing to release.
  int unlockStatus = 0;
  ReleaseGuard unlock([&](bool unwinding) {
    if (unwinding) {
      setI2cAccess(e, a, false, kAccessValue);
    } else {
      unlockStatus = unlockDeviceAccess(e, a, kAccessValue);
    }
  });
  const int status = lockDeviceAccess(e, a, kAccessValue);
  if (status != 0) {
    noteLockRefused(status);
    unlock.release();
    noteUnlock(unlockStatus);
    return status;
  }
  logMessage(LOG_VERBOSE, "lockDeviceAccess: success\n");
  const int result = flashVlte();
  if (result == 0) logMessage(LOG_VERBOSE, "flashVlt-E success\n");
  unlock.release();
  noteUnlockAfterWork(unlockStatus);
  return result;
}

uint32_t FlashTaskVeltoE::queryResponse(uint8_t &answer) {
  const uint8_t reg = kRegister;
  answer = 0;
  return I2CTransaction(static_cast<uint8_t>(engine_), static_cast<uint8_t>(address_), &reg, 1,
                        &answer, 1, true);
}

uint32_t FlashTaskVeltoE::writeControl(uint8_t control) {
  const uint8_t bytes[2] = {kRegister, control};
  return i2cWrite(static_cast<uint8_t>(engine_), static_cast<uint8_t>(address_), bytes, 2, true);
}

int FlashTaskVeltoE::flashVlte() {
  const uint8_t e = static_cast<uint8_t>(engine_), a = static_cast<uint8_t>(address_);
  logMessage(LOG_VERBOSE, "Flash Velto-e process start...\n");
  setHandshake(e, kAddrSwitchCtrl, 0, false);

  uint8_t unlock[5];
  unlockSequence(unlock);
  uint32_t st = i2cWrite(e, a, unlock, sizeof unlock, true);
  if (st != 0) {
    logMessage(LOG_VERBOSE, "flashVlte: Error: Unlocking failed: %d\n", static_cast<int>(st));
    noteFailure("unlocking the firmware loader", STATE_NOT_CHANGED);
    return -1;
  }

  // Until the first block goes out nothing of the firmware is written; from then on a transfer
  // cut short leaves the device in a state the loader alone knows.
  const char *notReady = "waiting for the firmware loader to get ready";
  uint8_t answer = 0;
  if (queryResponse(answer) != 0) {
    noteFailure(notReady, STATE_NOT_CHANGED);
    terminateTransfer("#Checking CRC failed");
    return -1;
  }
  switch (answer) {
    case NAK:
      logMessage(LOG_VERBOSE, "flashVlte in NAK case...\n");
      break;
    case CRC_READY:
      logMessage(LOG_VERBOSE, "flashVlte in C case...\n");
      break;
    case CAN:
      logMessage(LOG_VERBOSE, "Error: flashVlte cancelled by remote...\n");
      noteFailure(notReady, STATE_NOT_CHANGED);
      return -1;
    default:
      logMessage(LOG_VERBOSE, "queryVlteResp [78]: %x \n", answer);
      noteFailure(notReady, STATE_NOT_CHANGED);
      terminateTransfer("Checking CRC failed");
      return -1;
  }

  uint8_t blockNumber = 1;
  int blocksSent = 0;
  // Built only on a failure: the block loop allocates nothing.
  auto transfer = [&blocksSent] { return "the transfer at block " + std::to_string(blocksSent); };
  for (uint64_t offset = 0;; offset += kBlockData) {
    long long remaining = static_cast<long long>(payloadSize_) - static_cast<long long>(offset);
    if (remaining < 0) break;
    if (remaining > static_cast<long long>(kBlockData)) remaining = kBlockData;
    ++blocksSent;
    if (sendFWPktToVlte(blockNumber, static_cast<uint32_t>(offset), static_cast<int>(remaining),
                        kBlockData, payload_.get()) != 0) {
      logMessage(LOG_VERBOSE, "sendFWPktToVlte Error\n");
      noteFailure(transfer(), STATE_UNKNOWN);
      return -1;
    }
    bool accepted = false;
    if (queryResponse(answer) != 0) {
      logMessage(LOG_VERBOSE, "flashVlte Error: Querying response.\n");
    } else if (answer == ACK) {
      accepted = true;
    } else if (answer == NAK) {
      logMessage(LOG_VERBOSE, "flashVlte Error: NACK response.\n");
    } else if (answer == CAN) {
      if (queryResponse(answer) == 0 && answer == CAN) {
        logMessage(LOG_VERBOSE, "flashVlte: Error: Canceled by remote.\n");
      }
    } else {
      logMessage(LOG_VERBOSE, "flashVlte Error: Unknown response:%x\n", answer);
    }
    if (!accepted) {
      noteFailure(transfer(), STATE_UNKNOWN);
      terminateTransfer("XMIT Error");
      return -1;
    }
    progressAdvance(static_cast<uint32_t>(blocksSent));
    blockNumber = static_cast<uint8_t>(blockNumber + 1);
  }

  logMessage(LOG_VERBOSE, "\nEnd of flashing.\n");
  // Every write of the transfer counts: a transfer whose end was not delivered is not complete.
  st = writeControl(EOT);
  if (st != 0) {
    logMessage(LOG_VERBOSE, "flashVlte Error: End of transmission not delivered: %d\n",
               static_cast<int>(st));
    noteFailure("the end of the transfer (EOT)", STATE_UNKNOWN);
    return -1;
  }
  return 0;
}

int FlashTaskVeltoE::sendFWPktToVlte(uint8_t blockNumber, uint32_t offset, int length,
                                     int blockSize, const uint8_t *payload) {
  // The block buffer is fixed: a larger block, or more data than the block holds, is refused.
  if (blockSize <= 0 || blockSize > static_cast<int>(kBlockData) || length < 0 ||
      length > blockSize || (length > 0 && !payload)) {
    return -1;
  }
  const size_t total = static_cast<size_t>(blockSize) + 5;
  block_[0] = SOH;
  block_[1] = blockNumber;
  block_[2] = static_cast<uint8_t>(~blockNumber);
  uint8_t *data = block_ + 3;
  std::memset(data, 0, static_cast<size_t>(blockSize));
  if (length > 0) std::memcpy(data, payload + offset, static_cast<size_t>(length));
  if (length < blockSize) data[length] = SUB;
  uint16_t crc = crc16(data, static_cast<size_t>(blockSize));
  block_[3 + blockSize] = static_cast<uint8_t>(crc >> 8);
  block_[4 + blockSize] = static_cast<uint8_t>(crc & 0xFF);

  uint8_t piece[kI2cMaxData];
  piece[0] = kRegister;
  for (size_t pos = 0; pos < total; pos += kPieceData) {
    size_t n = total - pos < kPieceData ? total - pos : kPieceData;
    std::memcpy(piece + 1, block_ + pos, n);
    if (i2cWrite(static_cast<uint8_t>(engine_), static_cast<uint8_t>(address_), piece,
                 static_cast<uint32_t>(n + 1), true) != 0) {
      logMessage(LOG_VERBOSE, "sendFWPktToVlte Error: Writing firmware failed.\n");
      return -1;
    }
  }
  if ((offset & 0xFFFF) == 0) tal::os::sys().sleepMs(kPauseMs);
  return 0;
}

void FlashTaskVeltoE::terminateTransfer(const char *reason) {
  logMessage(LOG_VERBOSE, "%s terminating FW update.\n", reason);
  for (int i = 0; i < 3; ++i) writeControl(CAN);
}
