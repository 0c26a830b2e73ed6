// A MachXO2-4000 CPLD on a backplane (I2C address 0x80 behind the card's
// selected port), as its configuration command interface behaves:
//   0x74 0x08 0x00           enable the configuration interface
//   0x0E 0x0C 0x00 0x00      erase configuration flash and UFM (erased bits
//   read 0), then busy 0x3C 0x00 0x00 0x00 +rd4 status word, most significant
//   byte first; byte 2: busy 0x10, fail 0x20 0x46 / 0x47 0x00 0x00 0x00  reset
//   the configuration / UFM page address 0x70 / 0xC9 0x00 0x00 0x01 + 16 bytes
//   program the page at the address (bits can only be
//                            set), advance the address, then busy
//   0x5E 0x00 0x00 0x00      set done
//   0x26 0x00 0x00 xx        close the configuration interface
// A command out of order (anything but status and close before enable,
// programming before erase or before the address reset, a page while busy, a
// page past the region) is ignored as the part would and recorded as a
// violation. Every command is taken only while the processor's device-access
// lock is held and the write carries the locked tag; otherwise it is not
// acknowledged and recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/i2c.h"
#include "sim/randomfaults.h"

namespace sim {

enum class CpldCommand : int {
  Enable,
  Erase,
  Status,
  ResetCfg,
  ResetUfm,
  CfgPage,
  UfmPage,
  Done,
  Close,
  Unknown,
};
constexpr int kCpldCommandCount = 10;
// "enable", "erase", "status", "reset_cfg", "reset_ufm", "cfg_page",
// "ufm_page", "done", "close"; false for any other name.
bool cpldCommandByName(const std::string &name, CpldCommand &out);
const char *cpldCommandName(CpldCommand command);

// One failure switch: the at-th command of a kind (from 1) is not acknowledged
// (nak), leaves the status busy for ever (busy), or sets the fail bit (fail).
struct CpldFault {
  enum Effect { Nak, BusyForever, FailBit };
  CpldCommand command = CpldCommand::Enable;
  int at = 1;
  Effect effect = Nak;
};

class MachXO2 : public I2cDevice {
 public:
  static constexpr int kPage = 16;
  static constexpr int kCfgPages = 5760, kUfmPages = 767;
  static constexpr uint32_t kBusyBit = 0x1000, kFailBit = 0x2000, kDoneBit = 0x0100,
                            kEnabledBit = 0x0200;

  MachXO2();
  bool transact(const I2cRequest &request, uint8_t *read) override;

  std::vector<CpldFault> faults;
  int erasePolls = 3;  // status reads that answer busy after an erase
  int pagePolls = 1;   // ... after a page
  // Time, from the platform clock. An erase keeps the part busy for eraseMs (and its status
  // reads). A page program takes pageMs: a command other than a status read or the close sooner
  // than that after a page is not acknowledged and recorded as a violation. 0: no time.
  uint32_t eraseMs = 0;
  uint32_t pageMs = 0;
  // Random faults: failed writes and reads, flips only on status words in
  // transit (the page commands carry no check of their own).
  RandomFaults random;

  // --- state and record ---
  std::vector<uint8_t> cfg;  // 5,760 pages of 16 bytes
  std::vector<uint8_t> ufm;  // 767 pages
  bool enabled = false;
  bool erased = false;  // erased since the interface was enabled
  bool done = false;
  bool closed = false;  // the last configuration session was closed
  int cfgAddress = -1;  // page address; -1 until reset
  int ufmAddress = -1;
  int cfgPagesProgrammed = 0, ufmPagesProgrammed = 0;
  int erases = 0, statusReads = 0, transactions = 0;
  int closeByte = -1;  // fourth byte of the last close
  bool busyForever = false, failBit = false;
  int busyLeft = 0;
  int counts[kCpldCommandCount] = {};
  std::vector<std::string> violations;

  // Fills both regions as if programmed (the state before an update).
  void preset(uint8_t value);

 private:
  bool command(const I2cRequest &request, const uint8_t *bytes, size_t length, uint8_t *read);
  bool busyNow() const;
  uint64_t eraseStart_ = 0, pageStart_ = 0;
  bool erasing_ = false, paging_ = false;
  bool programPage(bool cfgRegion, const uint8_t *data);
  void violation(const std::string &what);
  uint32_t statusWord() const;
};

}  // namespace sim
