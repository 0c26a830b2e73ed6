// The flash targets of a machine description: a Velto-E loader for every card and a MachXO2 for
// every backplane (unless the description says false), their failure switches, the random-fault
// mode, and the record of what each was programmed with, written when the process ends.
#include "sim/flashtargets.h"

#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/flashmodels.h"

namespace sim {
namespace {

using nlohmann::json;

struct CardTargets {
  std::shared_ptr<SwitchCard> card;
  std::shared_ptr<VlteLoader> loader;
  std::vector<std::pair<int, std::shared_ptr<MachXO2>>> cplds;  // by port
};

struct MachineTargets {
  std::vector<CardTargets> cards;
  std::string recordPath;
};

// The targets of every configured machine. The record of a machine that names a record file is
// written when the registry goes away at process end; the channel library keeps its machine
// alive until then.
class Registry {
 public:
  ~Registry() {
    for (auto &entry : machines_) {
      if (!entry.second.recordPath.empty()) writeFlashRecord(*entry.first);
    }
  }
  MachineTargets &of(const Machine &m) { return machines_[&m]; }
  void forget(const Machine &m) { machines_.erase(&m); }
  const MachineTargets *find(const Machine &m) const {
    auto it = machines_.find(&m);
    return it == machines_.end() ? nullptr : &it->second;
  }

 private:
  std::map<const Machine *, MachineTargets> machines_;
};

Registry &registry() {
  static Registry r;
  return r;
}

bool writeBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

void buildFlashTargets(Machine &machine, const json &description) {
  if (!description.is_object()) return;
  MachineTargets &targets = registry().of(machine);
  targets.cards.clear();
  targets.recordPath.clear();
  const json *random = nullptr;
  auto r = description.find("flash_random");
  if (r != description.end() && !r->is_null()) random = &*r;
  auto rec = description.find("flash_record");
  if (rec != description.end() && !rec->is_null()) {
    if (!rec->is_string()) throw std::invalid_argument("flash_record: expected a file name");
    targets.recordPath = rec->get<std::string>();
  }

  auto segments = description.find("segments");
  if (segments == description.end() || !segments->is_array()) return;
  for (size_t i = 0; i < segments->size(); ++i) {
    const json &seg = (*segments)[i];
    if (!seg.is_object() || !seg.contains("card") || seg["card"].is_null()) continue;
    const std::string what = "segments[" + std::to_string(i) + "].card";
    const json &cardSpec = seg["card"];
    std::shared_ptr<SwitchCard> card;
    for (const auto &c : machine.cards) {
      if (c && seg.contains("segment") && seg["segment"].is_number_integer() &&
          c->segment == seg["segment"].get<int>()) {
        card = c;
      }
    }
    if (!card) {
      // The segment number may be a text ("0x03"): take the cards in the order built.
      size_t n = 0;
      for (size_t k = 0; k < i; ++k) {
        const json &s = (*segments)[k];
        n += s.is_object() && s.contains("card") && !s["card"].is_null();
      }
      if (n < machine.cards.size()) card = machine.cards[n];
    }
    if (!card) continue;
    CardTargets ct;
    ct.card = card;
    const uint64_t salt = static_cast<uint64_t>(card->segment) << 8;

    auto l = cardSpec.find("loader");
    if (l == cardSpec.end() || !(l->is_boolean() && !l->get<bool>())) {
      ct.loader = std::make_shared<VlteLoader>();
      ct.loader->blockPauseMs = 1000;  // the loader's time to store block 1
      if (l != cardSpec.end() && !l->is_boolean())
        configureLoader(*ct.loader, *l, what + ".loader");
      if (random) configureRandom(ct.loader->random, *random, salt | 0xFF, "flash_random");
    }
    card->loader = ct.loader;

    auto bps = cardSpec.find("backplanes");
    if (bps != cardSpec.end() && bps->is_array()) {
      for (size_t b = 0; b < bps->size(); ++b) {
        const json &bp = (*bps)[b];
        if (!bp.is_object()) continue;
        int port = static_cast<int>(b);
        if (bp.contains("port") && bp["port"].is_number_integer()) port = bp["port"].get<int>();
        if (port < 0 || static_cast<size_t>(port) >= card->backplanes.size() ||
            !card->backplanes[static_cast<size_t>(port)]) {
          continue;
        }
        const std::string bw = what + ".backplanes[" + std::to_string(b) + "].cpld";
        auto c = bp.find("cpld");
        std::shared_ptr<MachXO2> cpld;
        if (c == bp.end() || !(c->is_boolean() && !c->get<bool>())) {
          cpld = std::make_shared<MachXO2>();
          cpld->eraseMs = 5000;  // the part's erase time, and its page time
          cpld->pageMs = 1;
          if (c != bp.end() && !c->is_boolean()) configureCpld(*cpld, *c, bw);
          if (random) {
            configureRandom(cpld->random, *random, salt | static_cast<uint64_t>(port),
                            "flash_random");
          }
          ct.cplds.emplace_back(port, cpld);
        }
        card->backplanes[static_cast<size_t>(port)]->cpld = cpld;
      }
    }
    targets.cards.push_back(std::move(ct));
  }
}

json flashRecord(const Machine &machine, const std::string &imagePrefix) {
  json cards = json::array();
  const MachineTargets *targets = registry().find(machine);
  if (!targets) return {{"cards", cards}};
  for (const CardTargets &ct : targets->cards) {
    const SwitchCard &card = *ct.card;
    const std::string seg = std::to_string(card.segment);
    json c = {{"segment", card.segment},
              {"handshake_held", card.handshakeHeld()},
              {"port_mask", card.selector->mask}};
    if (ct.loader) {
      json l = loaderRecord(*ct.loader);
      l["locked"] = machine.isLocked(card.segment, kBoardVlteLoader);
      if (!imagePrefix.empty()) {
        const std::string file = imagePrefix + ".s" + seg + ".vlte.bin";
        if (writeBytes(file, ct.loader->image())) l["image_file"] = file;
      }
      c["loader"] = l;
    } else {
      c["loader"] = nullptr;
    }
    json bps = json::array();
    for (const auto &pc : ct.cplds) {
      json x = cpldRecord(*pc.second);
      x["locked"] = machine.isLocked(card.segment, kBoardVltiCpld);
      if (!imagePrefix.empty()) {
        const std::string file =
            imagePrefix + ".s" + seg + ".p" + std::to_string(pc.first) + ".vlti.bin";
        std::vector<uint8_t> regions = pc.second->cfg;
        regions.insert(regions.end(), pc.second->ufm.begin(), pc.second->ufm.end());
        if (writeBytes(file, regions)) x["image_file"] = file;
      }
      bps.push_back({{"port", pc.first}, {"cpld", x}});
    }
    c["backplanes"] = bps;
    cards.push_back(c);
  }
  return {{"cards", cards}};
}

void forgetFlashTargets(const Machine &machine) { registry().forget(machine); }

bool writeFlashRecord(const Machine &machine) {
  const MachineTargets *targets = registry().find(machine);
  if (!targets || targets->recordPath.empty()) return false;
  const std::string text = flashRecord(machine, targets->recordPath).dump(2) + "\n";
  FILE *f = std::fopen(targets->recordPath.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace sim
