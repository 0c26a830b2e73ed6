// The Velto-E loader model: unlock, ready answer, block assembly and checks, end of transfer.
#include "sim/loader.h"

#include <algorithm>
#include <cstring>

#include "tal/platform.h"

namespace sim {
namespace {

constexpr uint8_t SOH = 0x01, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18, SUB = 0x1A;
constexpr size_t kBlock = 261, kData = 256;
constexpr size_t kMaxViolations = 64;

uint16_t crc16(const uint8_t *data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int b = 0; b < 8; ++b) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

}  // namespace

VlteLoader::VlteLoader() : block_{} {}

void VlteLoader::violation(const std::string &what) {
  if (violations.size() < kMaxViolations) violations.push_back(what);
}

bool VlteLoader::transact(const I2cRequest &request, uint8_t *read) {
  ++transactions;
  const bool isRead = request.readLength > 0;
  // CAN is the write whose result the procedure does not look at (every write of the transfer,
  // its end included, counts).
  const bool control =
      !isRead && request.writeLength == 2 && fill_ == 0 && request.write && request.write[1] == CAN;
  if (random.enabled) {
    if (random.roll(isRead ? random.readFail : random.writeFail)) {
      ++(isRead ? random.failedReads : random.failedWrites);
      if (!control) random.checkedFailure = true;
      return false;
    }
  }
  if (!request.lockHeld || !request.lockedTag) {
    violation(std::string("transaction without ") +
              (request.lockHeld ? "the locked tag" : "the device-access lock"));
    return false;
  }
  uint8_t bytes[64];
  const size_t length = std::min(request.writeLength, sizeof bytes);
  if (length && request.write) std::memcpy(bytes, request.write, length);
  random.maybeFlip(bytes, length);
  if (isRead) {
    if (!onQuery(request, read)) return false;
    random.maybeFlip(read, request.readLength);
    return true;
  }
  return onWrite(request, bytes, length);
}

bool VlteLoader::onWrite(const I2cRequest &, const uint8_t *bytes, size_t length) {
  if (length == 0 || bytes[0] != 0x00) return true;  // not the loader's data register
  if (!unlocked) {
    if (faults.unlockFails) {
      return false;
    }
    if (length == 5 && std::memcmp(bytes + 1, kLoaderUnlockCode, 4) == 0) {
      unlocked = true;
      return true;
    }
    // a locked loader answers nothing
    return false;
  }
  if (fill_ == 0 && length == 2 && bytes[1] == CAN) {
    ++cansReceived;
    cancelled = true;
    return true;
  }
  if (fill_ == 0 && length == 2 && bytes[1] == EOT) {
    if (faults.endFails) return false;
    if (!ready || cancelled) violation("EOT outside a transfer");
    if (pendingAnswer_ >= 0) violation("EOT before the last block's answer was read");
    if (ready && !cancelled) ended = true;
    return true;
  }
  if (fill_ == 0 && length == 5 && std::memcmp(bytes + 1, kLoaderUnlockCode, 4) == 0 && !ready) {
    return true;  // a repeated unlock
  }
  if (!ready) {
    violation("block data before the ready answer");
    return false;
  }
  if (ended || cancelled) {
    violation("block data after the end of the transfer");
    return false;
  }
  if (pendingAnswer_ >= 0) violation("block data before the last block's answer was read");
  if (fill_ == 0 && faults.writeFailsAtBlock == blockCount_ + 1) {
    faults.writeFailsAtBlock = 0;
    return false;
  }
  if (length - 1 > 31) violation("a write of more than 31 block bytes");
  for (size_t i = 1; i < length; ++i) {
    if (fill_ == kBlock) {
      violation("block longer than 261 bytes");
      break;
    }
    block_[fill_++] = bytes[i];
  }
  if (fill_ == kBlock) finishBlock();
  return true;
}

void VlteLoader::finishBlock() {
  ++blockCount_;
  fill_ = 0;
  const uint64_t now = tal::os::sys().monotonicMs();
  blockTimes.push_back(now);
  if (blockPauseMs > 0 && (blockCount_ - 1) % 256 == 0) {
    pausing_ = true;
    pauseStart_ = now;
  }
  const uint8_t *data = block_ + 3;
  const uint16_t crc = static_cast<uint16_t>(block_[259] << 8 | block_[260]);
  int answer = ACK;
  if (block_[0] != SOH || block_[2] != static_cast<uint8_t>(~block_[1]) ||
      crc16(data, kData) != crc) {
    answer = NAK;
  } else if (block_[1] != expectedNumber_) {
    answer = CAN;
    violation("block number out of sequence");
  }
  if (faults.answerAtBlock == blockCount_) {
    answer = faults.answer;
    repeatArmed_ = true;
  }
  if (answer == ACK) {
    received_.insert(received_.end(), data, data + kData);
    ++blocksAccepted;
    ++expectedNumber_;
  } else {
    ++blocksRefused;
    if (answer == CAN) cancelled = true;
  }
  pendingAnswer_ = answer;
}

bool VlteLoader::onQuery(const I2cRequest &request, uint8_t *read) {
  const uint8_t *w = request.write;
  if (!unlocked) return false;
  if (pausing_) {
    const uint64_t since = tal::os::sys().monotonicMs() - pauseStart_;
    if (since < blockPauseMs) {
      violation("query " + std::to_string(since) + " ms into the " + std::to_string(blockPauseMs) +
                " ms pause after block " + std::to_string(blockCount_));
      return false;
    }
    pausing_ = false;
  }
  std::memset(read, 0xFF, request.readLength);
  if (request.writeLength != 1 || !w || w[0] != 0x00) return true;  // another register
  int answer;
  if (!firstQueryDone_) {
    firstQueryDone_ = true;
    if (faults.firstQueryFails) return false;
    answer = faults.firstAnswer;
    if (answer == 'C' || answer == NAK) ready = true;
    if (answer == CAN) cancelled = true;
  } else if (pendingAnswer_ >= 0) {
    if (faults.queryFailsAtBlock == blockCount_) {
      faults.queryFailsAtBlock = 0;
      pendingAnswer_ = -1;
      return false;
    }
    answer = pendingAnswer_;
    pendingAnswer_ = -1;
  } else if (fill_ > 0) {
    answer = NAK;  // an incomplete block
    fill_ = 0;
    ++blocksRefused;
  } else if (repeatArmed_) {
    answer = faults.repeatAnswer >= 0 ? faults.repeatAnswer : lastAnswer_;
    repeatArmed_ = false;
  } else {
    answer = lastAnswer_;
  }
  lastAnswer_ = answer;
  read[0] = static_cast<uint8_t>(answer);
  return true;
}

std::vector<uint8_t> VlteLoader::image() const {
  if (received_.size() < kData) return received_;
  const size_t last = received_.size() - kData;
  size_t i = received_.size();
  while (i > last && received_[i - 1] == 0x00) --i;
  if (i > last && received_[i - 1] == SUB) {
    return std::vector<uint8_t>(received_.begin(), received_.begin() + static_cast<long>(i - 1));
  }
  return received_;
}

}  // namespace sim
