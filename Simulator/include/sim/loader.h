// The Velto-E firmware loader of a switch card (I2C address 0x82 behind the
// card).
//
// Protocol as the loader plays it. Every write starts with the register byte
// 0x00; a query is the one-byte write 0x00 with a one-byte read of the loader's
// answer.
//  - Unlock: the five-byte write 0x00 and the four code bytes. Until then the
//  loader answers
//    nothing (it does not acknowledge queries or data).
//  - First query after the unlock: 'C' (ready for CRC blocks), or the
//  configured first answer.
//  - Blocks of 261 bytes (SOH, number, complement, 256 data bytes,
//  CRC-16/XMODEM high byte first)
//    arrive in writes of up to 31 bytes after the register byte. A query after
//    a whole block answers ACK (kept), NAK (bad SOH, complement or CRC, or an
//    incomplete block) or CAN (a block number out of sequence, which ends the
//    transfer).
//  - The two-byte writes 0x00 0x04 (EOT) and 0x00 0x18 (CAN) between blocks end
//  the transfer.
// The received image is the data of the accepted blocks up to the end marker
// (the last 0x1A of the last block that only zero bytes follow).
//
// The loader takes unlock, blocks and the end only while the processor's
// device-access lock is held and the write carries the locked tag; otherwise it
// does not acknowledge and records a violation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/i2c.h"
#include "sim/randomfaults.h"

namespace sim {

// The unlock code the loader expects after the register byte.
constexpr uint8_t kLoaderUnlockCode[4] = {0x5A, 0xA5, 0x3C, 0xC3};

// Failure switches of the loader. Blocks are counted in the order they arrive,
// from 1 (block 256 is the 256th block, whatever its wrapped number).
struct LoaderFaults {
  bool unlockFails = false;      // the unlock write is not acknowledged
  bool firstQueryFails = false;  // the first query is not acknowledged
  int firstAnswer = 'C';         // the answer to the first query ('C', NAK, CAN, anything)
  int answerAtBlock = 0;         // the query after block k answers `answer` instead (0: never)
  int answer = 0x15;
  int repeatAnswer = -1;      // the next query after that one answers this (-1: the same)
  int writeFailsAtBlock = 0;  // the first write of block k is not acknowledged
  int queryFailsAtBlock = 0;  // the query after block k is not acknowledged
  bool endFails = false;      // the EOT write is not acknowledged (the transfer does not end)
};

class VlteLoader : public I2cDevice {
 public:
  VlteLoader();
  bool transact(const I2cRequest &request, uint8_t *read) override;

  LoaderFaults faults;
  RandomFaults random;
  // Time, from the platform clock: after block 1 (and any block that starts at a multiple of
  // 65,536 bytes) the loader writes what it received and answers no query for this long; a query
  // sooner is not acknowledged and recorded as a violation. 0: it answers at once.
  uint32_t blockPauseMs = 0;

  // --- what happened ---
  bool unlocked = false;   // the right unlock code was written
  bool ready = false;      // the first query was answered with 'C' or NAK
  bool ended = false;      // EOT received after the ready answer
  bool cancelled = false;  // the transfer was cancelled (by either side)
  int cansReceived = 0;    // CAN writes received
  int blocksAccepted = 0;
  int blocksRefused = 0;
  int transactions = 0;
  // The platform clock (tal::os::sys().monotonicMs()) as each block was
  // completed.
  std::vector<uint64_t> blockTimes;
  std::vector<std::string> violations;
  // Data of the accepted blocks, 256 bytes each.
  const std::vector<uint8_t> &received() const { return received_; }
  // The received image: the accepted data up to the end marker of the last
  // block.
  std::vector<uint8_t> image() const;
  // Makes room for an image of that many bytes up front (benchmarks measure the
  // engine's heap).
  void reserve(size_t bytes) {
    received_.reserve(bytes);
    blockTimes.reserve(bytes / 256 + 2);
  }

 private:
  bool onWrite(const I2cRequest &request, const uint8_t *bytes, size_t length);
  bool onQuery(const I2cRequest &request, uint8_t *read);
  void finishBlock();
  void violation(const std::string &what);

  int blockCount_ = 0;  // blocks completed (accepted or not)
  uint8_t expectedNumber_ = 1;
  int lastAnswer_ = -1;       // the answer of the last query, repeated when nothing new arrived
  int pendingAnswer_ = -1;    // the answer to the block just completed
  bool repeatArmed_ = false;  // the next repeat query answers faults.repeatAnswer
  bool firstQueryDone_ = false;
  bool pausing_ = false;  // a block pause started at pauseStart_ for blockPauseMs
  uint64_t pauseStart_ = 0;
  uint8_t block_[261];
  size_t fill_ = 0;
  std::vector<uint8_t> received_;
};

}  // namespace sim
