// Switch cards, their controllers and port selectors, and the backplanes behind them.
#include "sim/board.h"

#include <cctype>
#include <stdexcept>

namespace sim {

void parseVersion(const std::string &text, uint8_t &major, uint8_t &minor) {
  size_t dot = text.find('.');
  auto hexPart = [&](const std::string &part) -> uint8_t {
    if (part.empty() || part.size() > 2) {
      throw std::runtime_error("version \"" + text + "\": expected <hex>.<hex>, such as 1.05");
    }
    unsigned value = 0;
    for (char c : part) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        throw std::runtime_error("version \"" + text + "\": not a hexadecimal number");
      }
      value = value * 16 +
              static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                        ? c - '0'
                                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return static_cast<uint8_t>(value);
  };
  if (dot == std::string::npos) {
    throw std::runtime_error("version \"" + text + "\": expected <hex>.<hex>, such as 1.05");
  }
  major = hexPart(text.substr(0, dot));
  minor = hexPart(text.substr(dot + 1));
}

// --- Backplane ---

Backplane::Backplane(const std::string &name, uint8_t major, uint8_t minor)
    : versionRegs(std::make_shared<RegisterDevice>(1, 0xFF)),
      nameRecord(std::make_shared<RegisterDevice>(2, 0xFF)),
      name_(name) {
  setVersion(major, minor);
  std::vector<uint8_t> bytes(name.begin(), name.end());
  nameRecord->poke(kVltiNameOffset, bytes);
  setLengthByte(static_cast<uint8_t>(0xC0 + (name.size() & 0x3F)));
}

void Backplane::setLengthByte(uint8_t value) { nameRecord->poke(kVltiLengthOffset, {value}); }

void Backplane::setVersion(uint8_t major, uint8_t minor) {
  versionRegs->poke(kRegVltiVersion, {major, minor});
}

// --- SwitchController ---

SwitchController::SwitchController(uint8_t major, uint8_t minor) {
  regs[kRegVersionMajor] = major;
  regs[kRegVersionMinor] = minor;
}

bool SwitchController::transact(const I2cRequest &request, uint8_t *read) {
  if (request.writeLength == 0) return false;  // every access starts with its register
  const uint8_t reg = request.write[0];
  if (request.writeLength >= 2) {
    if (reg == kRegHandshake) {
      const bool take = request.write[1] != 0;
      if (take ? takeFails : releaseFails) return false;
      handshakeHeld = take;
      ++(take ? handshakeTakes : handshakeReleases);
    }
    for (size_t i = 1; i < request.writeLength; ++i) {
      regs[static_cast<uint8_t>(reg + i - 1)] = request.write[i];
    }
  }
  if (request.readLength > 0) {
    for (size_t i = 0; i < request.readLength; ++i) {
      uint8_t r = static_cast<uint8_t>(reg + i);
      if (versionUnreadable && (r == kRegVersionMajor || r == kRegVersionMinor)) return false;
    }
    for (size_t i = 0; i < request.readLength; ++i) read[i] = regs[static_cast<uint8_t>(reg + i)];
  }
  return true;
}

// --- PortSelector ---

bool PortSelector::transact(const I2cRequest &request, uint8_t *read) {
  if (request.writeLength == 0) return false;
  if (request.write[0] != 0x00) return false;  // the selector has one register
  if (request.writeLength >= 2) {
    if (selectFails) return false;
    mask = request.write[request.writeLength - 1];
    ++selections;
  }
  for (size_t i = 0; i < request.readLength; ++i) read[i] = mask;
  return true;
}

// --- SwitchCard ---

SwitchCard::SwitchCard(uint8_t seg, const std::string &name, uint8_t major, uint8_t minor)
    : segment(seg),
      fru(std::make_shared<RegisterDevice>(2, 0xFF)),
      controller(std::make_shared<SwitchController>(major, minor)),
      selector(std::make_shared<PortSelector>()) {
  setName(name);
}

void SwitchCard::setName(const std::string &name) {
  std::vector<uint8_t> bytes(name.begin(), name.end());
  if (bytes.size() < 32) bytes.resize(32, 0);
  fru->poke(kFruNameOffset, bytes);
}

int SwitchCard::selectedPort() const {
  const uint8_t m = selector->mask;
  if (m == 0 || (m & (m - 1)) != 0) return -1;
  int port = 0;
  while (!(m & (1u << port))) ++port;
  return port;
}

Backplane *SwitchCard::reachableBackplane() const {
  if (!handshakeHeld()) return nullptr;
  int port = selectedPort();
  if (port < 0 || static_cast<size_t>(port) >= backplanes.size()) return nullptr;
  return backplanes[static_cast<size_t>(port)].get();
}

I2cDevice *SwitchCard::route(uint8_t address) const {
  if (address == kBoardVlteLoader) return loader.get();
  if (address != kBoardVltiVersion && address != kBoardVltiName && address != kBoardVltiCpld) {
    return nullptr;
  }
  Backplane *bp = reachableBackplane();
  if (!bp) return nullptr;
  if (address == kBoardVltiVersion) return bp->versionRegs.get();
  if (address == kBoardVltiName) return bp->nameRecord.get();
  return bp->cpld.get();
}

std::shared_ptr<Backplane> SwitchCard::addBackplane(const std::string &name, uint8_t major,
                                                    uint8_t minor, int port) {
  auto bp = std::make_shared<Backplane>(name, major, minor);
  if (port < 0) port = static_cast<int>(backplanes.size());
  if (port > 7) throw std::runtime_error("backplane port " + std::to_string(port) + " (0 to 7)");
  if (backplanes.size() <= static_cast<size_t>(port)) {
    backplanes.resize(static_cast<size_t>(port) + 1);
  }
  backplanes[static_cast<size_t>(port)] = bp;
  return bp;
}

void attachCard(Bus &bus, const std::shared_ptr<SwitchCard> &card) {
  bus.attach(card->segment, kBoardFru, card->fru);
  bus.attach(card->segment, kBoardSwitchCtrl, card->controller);
  bus.attach(card->segment, kBoardPortSelect, card->selector);
  // The bus keeps the card alive as long as its router.
  bus.addRouter(card->segment,
                [card](uint8_t address) -> I2cDevice * { return card->route(address); });
}

}  // namespace sim
