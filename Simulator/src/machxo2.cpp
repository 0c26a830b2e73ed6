// The MachXO2-4000 configuration interface model.
#include "sim/machxo2.h"

#include <algorithm>
#include <cstring>

#include "tal/platform.h"

namespace sim {
namespace {

constexpr size_t kMaxViolations = 64;
const char *const kNames[kCpldCommandCount] = {"enable",    "erase",    "status",   "reset_cfg",
                                               "reset_ufm", "cfg_page", "ufm_page", "done",
                                               "close",     "unknown"};

// The opcode that starts each command.
constexpr struct {
  uint8_t opcode;
  CpldCommand command;
} kOpcodes[] = {
    {0x74, CpldCommand::Enable},   {0x0E, CpldCommand::Erase},    {0x3C, CpldCommand::Status},
    {0x46, CpldCommand::ResetCfg}, {0x47, CpldCommand::ResetUfm}, {0x70, CpldCommand::CfgPage},
    {0xC9, CpldCommand::UfmPage},  {0x5E, CpldCommand::Done},     {0x26, CpldCommand::Close},
};

CpldCommand classify(const uint8_t *bytes, size_t length) {
  if (length == 0) return CpldCommand::Unknown;
  for (const auto &entry : kOpcodes)
    if (entry.opcode == bytes[0]) return entry.command;
  return CpldCommand::Unknown;
}

// The operand bytes each command must carry (after the opcode), and its whole length.
bool wellFormed(CpldCommand c, const uint8_t *b, size_t n, size_t readLength) {
  switch (c) {
    case CpldCommand::Enable:
      return n == 3 && b[1] == 0x08 && b[2] == 0x00 && readLength == 0;
    case CpldCommand::Erase:
      return n == 4 && b[1] == 0x0C && b[2] == 0 && b[3] == 0 && readLength == 0;
    case CpldCommand::Status:
      return n == 4 && b[1] == 0 && b[2] == 0 && b[3] == 0 && readLength == 4;
    case CpldCommand::CfgPage:
    case CpldCommand::UfmPage:
      return n == 20 && b[1] == 0 && b[2] == 0 && b[3] == 0x01 && readLength == 0;
    case CpldCommand::Close:
      return n == 4 && b[1] == 0 && b[2] == 0 && readLength == 0;
    case CpldCommand::ResetCfg:
    case CpldCommand::ResetUfm:
    case CpldCommand::Done:
      return n == 4 && b[1] == 0 && b[2] == 0 && b[3] == 0 && readLength == 0;
    default:
      return false;
  }
}

}  // namespace

bool cpldCommandByName(const std::string &name, CpldCommand &out) {
  for (int i = 0; i < kCpldCommandCount - 1; ++i) {
    if (name == kNames[i]) {
      out = static_cast<CpldCommand>(i);
      return true;
    }
  }
  return false;
}

const char *cpldCommandName(CpldCommand command) {
  int i = static_cast<int>(command);
  return i >= 0 && i < kCpldCommandCount ? kNames[i] : "unknown";
}

MachXO2::MachXO2() : cfg(kCfgPages * kPage, 0), ufm(kUfmPages * kPage, 0) {}

void MachXO2::preset(uint8_t value) {
  std::fill(cfg.begin(), cfg.end(), value);
  std::fill(ufm.begin(), ufm.end(), value);
}

void MachXO2::violation(const std::string &what) {
  if (violations.size() < kMaxViolations) violations.push_back(what);
}

bool MachXO2::busyNow() const {
  if (busyForever || busyLeft > 0) return true;
  return erasing_ && tal::os::sys().monotonicMs() - eraseStart_ < eraseMs;
}

uint32_t MachXO2::statusWord() const {
  uint32_t w = 0;
  if (busyNow()) w |= kBusyBit;
  if (failBit) w |= kFailBit;
  if (done) w |= kDoneBit;
  if (enabled) w |= kEnabledBit;
  return w;
}

bool MachXO2::transact(const I2cRequest &request, uint8_t *read) {
  ++transactions;
  const uint8_t *bytes = request.write;
  const size_t length = bytes ? request.writeLength : 0;
  const CpldCommand c = classify(bytes, length);
  if (random.enabled && random.roll(request.readLength ? random.readFail : random.writeFail)) {
    ++(request.readLength ? random.failedReads : random.failedWrites);
    // The close that follows a failed step is the one write whose result is not looked at.
    if (!(c == CpldCommand::Close && !done)) random.checkedFailure = true;
    return false;
  }
  if (!request.lockHeld || !request.lockedTag) {
    violation(std::string(cpldCommandName(c)) + " without " +
              (request.lockHeld ? "the locked tag" : "the device-access lock"));
    return false;
  }
  if (request.readLength) std::memset(read, 0, request.readLength);
  return command(request, bytes, length, read);
}

bool MachXO2::command(const I2cRequest &request, const uint8_t *bytes, size_t length,
                      uint8_t *read) {
  const CpldCommand c = classify(bytes, length);
  const std::string name = cpldCommandName(c);
  if (c == CpldCommand::Unknown) {
    violation("unknown command");
    return true;
  }
  const int n = ++counts[static_cast<int>(c)];
  bool makeBusy = false, makeFail = false;
  for (const CpldFault &f : faults) {
    if (f.command != c || f.at != n) continue;
    if (f.effect == CpldFault::Nak) return false;
    if (f.effect == CpldFault::BusyForever) makeBusy = true;
    if (f.effect == CpldFault::FailBit) makeFail = true;
  }
  if (!wellFormed(c, bytes, length, request.readLength)) {
    violation("malformed " + name);
    return true;
  }
  const uint64_t now = tal::os::sys().monotonicMs();
  if (paging_ && c != CpldCommand::Status && c != CpldCommand::Close) {
    if (now - pageStart_ < pageMs) {
      violation(name + " " + std::to_string(now - pageStart_) + " ms after a page (page time " +
                std::to_string(pageMs) + " ms)");
      return false;
    }
    paging_ = false;
  }
  const bool busy = busyNow();
  if (c == CpldCommand::Status) {
    ++statusReads;
    const uint32_t w = statusWord();
    for (int i = 0; i < 4; ++i) read[i] = static_cast<uint8_t>(w >> (8 * (3 - i)));
    random.maybeFlip(read, 4);
    // The polls count once the time has passed.
    if (busyLeft > 0 && !(erasing_ && now - eraseStart_ < eraseMs)) --busyLeft;
  } else if (c == CpldCommand::Close) {
    // Closing is always taken (an interface that is not open stays closed).
    enabled = false;
    closed = true;
    closeByte = bytes[3];
  } else if (c == CpldCommand::Enable) {
    enabled = true;
    erased = false;
    closed = false;
    cfgAddress = ufmAddress = -1;
  } else if (!enabled) {
    violation(name + " before enable");
  } else if (busy) {
    violation(name + " while busy");
  } else {
    switch (c) {
      case CpldCommand::Erase:
        std::fill(cfg.begin(), cfg.end(), 0);
        std::fill(ufm.begin(), ufm.end(), 0);
        erased = true;
        done = false;
        ++erases;
        cfgPagesProgrammed = ufmPagesProgrammed = 0;
        busyLeft = erasePolls;
        erasing_ = eraseMs > 0;
        eraseStart_ = now;
        break;
      case CpldCommand::ResetCfg:
        cfgAddress = 0;
        break;
      case CpldCommand::ResetUfm:
        ufmAddress = 0;
        break;
      case CpldCommand::CfgPage:
      case CpldCommand::UfmPage:
        if (programPage(c == CpldCommand::CfgPage, bytes + 4)) {
          busyLeft = pagePolls;
          paging_ = pageMs > 0;
          pageStart_ = now;
        }
        break;
      case CpldCommand::Done:
        done = true;
        break;
      default:
        break;
    }
  }
  if (makeBusy) busyForever = true;
  if (makeFail) failBit = true;
  return true;
}

bool MachXO2::programPage(bool cfgRegion, const uint8_t *data) {
  const char *region = cfgRegion ? "cfg" : "ufm";
  int &address = cfgRegion ? cfgAddress : ufmAddress;
  const int pages = cfgRegion ? kCfgPages : kUfmPages;
  if (!erased) {
    violation(std::string(region) + " page before erase");
    return false;
  }
  if (address < 0) {
    violation(std::string(region) + " page before the address reset");
    return false;
  }
  if (address >= pages) {
    violation(std::string(region) + " page past the region");
    return false;
  }
  uint8_t *page = (cfgRegion ? cfg.data() : ufm.data()) + address * kPage;
  for (int i = 0; i < kPage; ++i) page[i] |= data[i];  // programming only sets bits
  ++address;
  ++(cfgRegion ? cfgPagesProgrammed : ufmPagesProgrammed);
  return true;
}

}  // namespace sim
