// The drive-bay boards on the management processor's I2C segments: per segment one switch card (its
// FRU EEPROM, its switch controller with the backplane-bus handshake and its version registers, its
// backplane port selector) and up to three backplanes behind its ports (their version registers and
// name records), reachable only while the card's handshake is taken and exactly their port is
// selected. Built from the "segments" section of the machine description (Simulator/README.md).
//
// Fixed addresses on a segment (8-bit): 0xAE card FRU EEPROM (two-byte offsets, product name at
// 0x0012), 0xEC switch controller (0x66 handshake, 0x51 major, 0x50 minor), 0xE4 port selector
// (register 0x00 = port mask). Behind the selected port: 0xEE backplane version registers (register
// 0x0C, then major and minor), 0xAA backplane name record (0x0011 type/length byte 0xC0 + length,
// 0x0012 the name), 0x80 the backplane's CPLD when one is attached. The card's loader at 0x82
// answers whenever one is attached.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "sim/i2c.h"
#include "sim/machine.h"

namespace sim {

// Board addresses.
constexpr uint8_t kBoardFru = 0xAE;
constexpr uint8_t kBoardSwitchCtrl = 0xEC;
constexpr uint8_t kBoardPortSelect = 0xE4;
constexpr uint8_t kBoardVltiVersion = 0xEE;
constexpr uint8_t kBoardVltiName = 0xAA;
constexpr uint8_t kBoardVltiCpld = 0x80;
constexpr uint8_t kBoardVlteLoader = 0x82;
// Controller registers.
constexpr uint8_t kRegHandshake = 0x66;
constexpr uint8_t kRegVersionMajor = 0x51;
constexpr uint8_t kRegVersionMinor = 0x50;
// Backplane registers and name-record offsets.
constexpr uint8_t kRegVltiVersion = 0x0C;
constexpr uint16_t kVltiLengthOffset = 0x0011;
constexpr uint16_t kVltiNameOffset = 0x0012;
constexpr uint16_t kFruNameOffset = 0x0012;

// A version as the engine prints it ("%x.%02x"): "1.05" is major 0x01, minor 0x05; "2.1a" is 0x02,
// 0x1A. Throws std::runtime_error for anything else.
void parseVersion(const std::string &text, uint8_t &major, uint8_t &minor);

// One backplane behind a card's port.
class Backplane {
 public:
  Backplane(const std::string &name, uint8_t major, uint8_t minor);

  // Version registers (0xEE) and name record (0xAA); tests may poke them or make them NAK.
  std::shared_ptr<RegisterDevice> versionRegs;
  std::shared_ptr<RegisterDevice> nameRecord;
  // The backplane's CPLD at 0x80 (the flashing models attach one); none: 0x80 does not answer.
  std::shared_ptr<I2cDevice> cpld;

  // Overrides the type/length byte at 0x0011 (normally 0xC0 + name length).
  void setLengthByte(uint8_t value);
  void setVersion(uint8_t major, uint8_t minor);
  const std::string &name() const { return name_; }

 private:
  std::string name_;
};

// The card's switch controller at 0xEC: handshake register 0x66 (1 takes the backplane bus for the
// management processor, 0 releases it), version registers 0x51 and 0x50, and plain registers
// elsewhere.
class SwitchController : public I2cDevice {
 public:
  SwitchController(uint8_t major, uint8_t minor);
  bool transact(const I2cRequest &request, uint8_t *read) override;

  bool handshakeHeld = false;
  int handshakeTakes = 0;     // successful writes of 1
  int handshakeReleases = 0;  // successful writes of 0
  // Failure switches.
  bool takeFails = false;          // a write of 1 to 0x66 is not acknowledged
  bool releaseFails = false;       // a write of 0 to 0x66 is not acknowledged
  bool versionUnreadable = false;  // reads of 0x51 and 0x50 are not acknowledged
  uint8_t regs[256] = {0};
};

// The backplane port selector at 0xE4: register 0x00 holds the port mask (bit b selects port b).
class PortSelector : public I2cDevice {
 public:
  bool transact(const I2cRequest &request, uint8_t *read) override;

  uint8_t mask = 0;
  int selections = 0;        // successful writes of register 0x00
  bool selectFails = false;  // writes are not acknowledged
};

// One segment's switch card and the backplanes behind its ports.
class SwitchCard {
 public:
  SwitchCard(uint8_t segment, const std::string &name, uint8_t major, uint8_t minor);

  uint8_t segment;
  std::shared_ptr<RegisterDevice> fru;  // 0xAE; nak = true makes the card name unreadable
  std::shared_ptr<SwitchController> controller;
  std::shared_ptr<PortSelector> selector;
  // Port b holds backplanes[b] (null: nothing on that port).
  std::vector<std::shared_ptr<Backplane>> backplanes;
  // The card's Velto-E loader at 0x82 (the flashing models attach one).
  std::shared_ptr<I2cDevice> loader;

  bool handshakeHeld() const { return controller->handshakeHeld; }
  // The selected port when exactly one port bit is set, else -1.
  int selectedPort() const;
  // The backplane reachable now (handshake taken, exactly its port selected), or null.
  Backplane *reachableBackplane() const;
  // Answers the addresses that lie behind the card (0xEE, 0xAA, 0x80 of the reachable backplane;
  // 0x82 the loader).
  I2cDevice *route(uint8_t address) const;

  // Writes the product name into the FRU EEPROM (zero-padded to 32 bytes).
  void setName(const std::string &name);
  // Adds a backplane at the next port (or at port when given).
  std::shared_ptr<Backplane> addBackplane(const std::string &name, uint8_t major, uint8_t minor,
                                          int port = -1);
};

// Puts a card's fixed devices and its router on the bus.
void attachCard(Bus &bus, const std::shared_ptr<SwitchCard> &card);

// The boards of a machine description's "segments" section (Simulator/README.md), each attached to
// the bus. Throws std::runtime_error on a malformed description.
std::vector<std::shared_ptr<SwitchCard>> buildBoards(Bus &bus, const nlohmann::json &machine);

// The machine's part: the boards of "segments" on machine.bus, kept in machine.cards, and, when the
// description has "segments" or "smbios", the matching SMBIOS table in machine.smbios. Called by
// configureMachine.
void buildBoards(Machine &machine, const nlohmann::json &description);

// The card on a segment of the machine, or null.
SwitchCard *cardOn(Machine &machine, uint8_t segment);

}  // namespace sim
