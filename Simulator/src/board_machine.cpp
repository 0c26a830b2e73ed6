// The "segments" section of the machine description: the boards on each segment.
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "board_json.h"
#include "sim/board.h"
#include "sim/smbios.h"

namespace sim {

namespace {

using detail::jsonFlag;
using detail::jsonText;
using detail::jsonUnsigned;

void versionOf(const nlohmann::json &object, const std::string &what, uint8_t &major,
               uint8_t &minor) {
  std::string text = jsonText(object, "version", what, "1.00");
  try {
    parseVersion(text, major, minor);
  } catch (const std::runtime_error &e) {
    throw std::runtime_error(what + ": " + e.what());
  }
}

std::shared_ptr<SwitchCard> cardOf(uint8_t segment, const nlohmann::json &entry,
                                   const std::string &what) {
  if (!entry.is_object()) throw std::runtime_error(what + ": expected an object");
  uint8_t major = 0, minor = 0;
  versionOf(entry, what, major, minor);
  auto card =
      std::make_shared<SwitchCard>(segment, jsonText(entry, "name", what, ""), major, minor);
  card->fru->nak = jsonFlag(entry, "name_unreadable", what);
  card->controller->takeFails = jsonFlag(entry, "handshake_fails", what);
  card->controller->releaseFails = jsonFlag(entry, "release_fails", what);
  card->controller->versionUnreadable = jsonFlag(entry, "version_unreadable", what);
  card->selector->selectFails = jsonFlag(entry, "port_select_fails", what);

  auto list = entry.find("backplanes");
  if (list == entry.end() || list->is_null()) return card;
  if (!list->is_array()) throw std::runtime_error(what + ".backplanes: expected a list");
  for (size_t i = 0; i < list->size(); ++i) {
    const nlohmann::json &bp = (*list)[i];
    const std::string bpWhat = what + ".backplanes[" + std::to_string(i) + "]";
    if (bp.is_null()) continue;  // an empty port
    if (!bp.is_object()) throw std::runtime_error(bpWhat + ": expected an object or null");
    int port = static_cast<int>(i);
    if (bp.contains("port")) port = static_cast<int>(jsonUnsigned(bp["port"], bpWhat + ".port", 7));
    uint8_t bmaj = 0, bmin = 0;
    versionOf(bp, bpWhat, bmaj, bmin);
    auto backplane = card->addBackplane(jsonText(bp, "name", bpWhat, ""), bmaj, bmin, port);
    if (bp.contains("length_byte")) {
      backplane->setLengthByte(
          static_cast<uint8_t>(jsonUnsigned(bp["length_byte"], bpWhat + ".length_byte", 0xFF)));
    }
    backplane->nameRecord->nak = jsonFlag(bp, "name_unreadable", bpWhat);
    backplane->versionRegs->nak = jsonFlag(bp, "version_unreadable", bpWhat);
  }
  return card;
}

}  // namespace

std::vector<std::shared_ptr<SwitchCard>> buildBoards(Bus &bus, const nlohmann::json &machine) {
  std::vector<std::shared_ptr<SwitchCard>> cards;
  const nlohmann::json *segments = detail::segmentsOf(machine);
  if (!segments) return cards;
  for (size_t i = 0; i < segments->size(); ++i) {
    const nlohmann::json &seg = (*segments)[i];
    const std::string what = "segments[" + std::to_string(i) + "]";
    if (!seg.is_object()) throw std::runtime_error(what + ": expected an object");
    if (!seg.contains("segment")) throw std::runtime_error(what + ".segment: missing");
    uint8_t segment = static_cast<uint8_t>(jsonUnsigned(seg["segment"], what + ".segment", 0xFF));
    auto card = seg.find("card");
    if (card == seg.end() || card->is_null()) continue;
    cards.push_back(cardOf(segment, *card, what + ".card"));
    attachCard(bus, cards.back());
  }
  return cards;
}

void buildBoards(Machine &machine, const nlohmann::json &description) {
  std::vector<std::shared_ptr<SwitchCard>> cards = buildBoards(machine.bus, description);
  machine.cards.insert(machine.cards.end(), cards.begin(), cards.end());
  if (description.is_object() &&
      (description.contains("segments") || description.contains("smbios"))) {
    machine.smbios = makeSmbiosTable(description);
  }
}

SwitchCard *cardOn(Machine &machine, uint8_t segment) {
  for (const auto &card : machine.cards) {
    if (card && card->segment == segment) return card.get();
  }
  return nullptr;
}

}  // namespace sim
