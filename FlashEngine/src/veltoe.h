// The Velto-E flash task: the switch card's controller is programmed through its firmware loader
// with a block transfer of the XMODEM family (256-byte blocks, CRC-16), under the management
// processor's device-access lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "flashtask.h"

namespace vlte {

// Loader control bytes.
constexpr uint8_t SOH = 0x01, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18, SUB = 0x1A,
                  CRC_READY = 0x43;  // 'C'
constexpr uint8_t kRegister = 0x00;  // first byte of every write to the loader
constexpr uint32_t kBlockData = 256;
constexpr uint32_t kBlockSize = kBlockData + 5;  // SOH, number, complement, data, CRC
constexpr uint32_t kPieceData = 31;              // block bytes per I2C write (plus the register)
constexpr uint32_t kPauseMs = 1000;              // after a block at a 64 KiB boundary

// The loader's unlock code, built at run time from a word that carries the register byte in its
// low byte (then the first three code bytes, least significant first) and one further byte. The
// simulator's loader model expects the same four code bytes.
constexpr uint32_t kUnlockWord = 0x3CA55A00;
constexpr uint8_t kUnlockLast = 0xC3;
void unlockSequence(uint8_t out[5]);

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection, no final XOR) through a 256-entry
// table generated from the polynomial.
uint16_t crc16(const uint8_t *data, size_t length);

}  // namespace vlte

class FlashTaskVeltoE : public FlashTaskVelto {
 public:
  FlashTaskVeltoE(int engine, int address, std::string fwPath, int deviceIndex, int deviceType);
  ~FlashTaskVeltoE() override;

  int Flash() override;
  bool initFlashing() override;
  int startFlashing() override;

  int flashVlte();
  int sendFWPktToVlte(uint8_t blockNumber, uint32_t offset, int length, int blockSize,
                      const uint8_t *payload);
  void terminateTransfer(const char *reason);

 private:
  // The one-byte query: writes the register byte, reads the loader's answer.
  uint32_t queryResponse(uint8_t &answer);
  uint32_t writeControl(uint8_t control);

  uint8_t block_[vlte::kBlockSize];  // the block being sent, built in place
};
