// The Velto-I flash task: the backplane's MachXO2 CPLD is programmed through its configuration
// command interface (enable, erase, configuration flash and UFM page by page, done, close), with
// the card's handshake taken, the backplane's port selected and the device-access lock held.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "flashtask.h"

namespace vlti {

enum Region : int { REGION_CFG = 0, REGION_UFM = 1 };

constexpr int kPageSize = 16;
constexpr int kCfgPages = 5760, kUfmPages = 767;       // MachXO2-4000
constexpr int kCfgSize = kCfgPages * kPageSize;        // 92160
constexpr int kUfmSize = kUfmPages * kPageSize;        // 12272 (0x2FF0)
constexpr uint32_t kMaxPayload = kCfgSize + kUfmSize;  // 104432

// Status word (4 bytes, most significant first): byte 2 carries busy and fail.
constexpr uint8_t kStatusBusy = 0x10, kStatusFail = 0x20;
constexpr int kStatusPolls = 10000;
constexpr uint32_t kEraseWaitMs = 5000, kPageWaitMs = 1;

constexpr uint8_t kCmdEnable[3] = {0x74, 0x08, 0x00};
constexpr uint8_t kCmdErase[4] = {0x0E, 0x0C, 0x00, 0x00};  // configuration flash and UFM
constexpr uint8_t kCmdStatus[4] = {0x3C, 0x00, 0x00, 0x00};
constexpr uint8_t kCmdResetCfg[4] = {0x46, 0x00, 0x00, 0x00};
constexpr uint8_t kCmdResetUfm[4] = {0x47, 0x00, 0x00, 0x00};
constexpr uint8_t kOpProgramCfg = 0x70, kOpProgramUfm = 0xC9;  // then 0x00 0x00 0x01, 16 bytes
constexpr uint8_t kCmdDone[4] = {0x5E, 0x00, 0x00, 0x00};
constexpr uint8_t kCmdClose[4] = {0x26, 0x00, 0x00, 0x00};

// The MachXO2 family's page counts (the task uses the MachXO2-4000 constants above).
struct FamilyEntry {
  const char *name;
  int cfgPages;
  int ufmPages;
  int value1, value2, value3;
};
extern const FamilyEntry kFamily[9];

}  // namespace vlti

class FlashTaskVeltoI : public FlashTaskVelto {
 public:
  FlashTaskVeltoI(int engine, int address, std::string fwPath, int deviceIndex, int deviceType);
  ~FlashTaskVeltoI() override;

  int Flash() override;
  bool initFlashing() override;
  int startFlashing() override;

  int startFlashingVlti();
  bool setupFwPages();
  int programRegion(int engine, int region);
  int programCfgPage(int engine, int address, const uint8_t *buffer, int offset);
  int programUfmPage(int engine, int address, const uint8_t *buffer, int offset);
  int waitStatusBusy(int engine, int address);
  int closeCfg(int engine, int address);

  int portMask() const { return portMask_; }
  const uint8_t *cfgBuffer() const { return cfgBuf_.get(); }
  const uint8_t *ufmBuffer() const { return ufmBuf_.get(); }

 private:
  int programPage(uint8_t opcode, int engine, int address, const uint8_t *buffer, int offset);
  // Abort of the programming sequence: close configuration, release the handshake (locked tag).
  int abortSequence(int status);
  // One configuration command to the CPLD; 0 when the write went through.
  int sendCommand(const uint8_t *command, uint32_t size);

  int portMask_ = 0;
  int cfgSize_ = 0;
  int ufmSize_ = 0;
  std::unique_ptr<uint8_t[]> cfgBuf_;
  std::unique_ptr<uint8_t[]> ufmBuf_;
};
