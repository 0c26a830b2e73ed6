// The flash targets as a machine description makes them: a loader per card and a CPLD per
// backplane with their switches, bad values refused, and the record with its image files.
#include "sim/description.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "fake_platform.h"
#include "sim/board.h"
#include "sim/flashtargets.h"
#include "sim/loader.h"
#include "sim/machxo2.h"

namespace {

using nlohmann::json;

json machineWith(const json &loader, const json &cpld) {
  json card = {{"name", "Orvo Varibay 6 HDD Switch Card"}, {"version", "1.10"}};
  if (!loader.is_null()) card["loader"] = loader;
  json bp = {{"name", "Orvo Varibay 6 HDD Backplane"}, {"version", "2.04"}};
  if (!cpld.is_null()) bp["cpld"] = cpld;
  card["backplanes"] = json::array({bp, {{"name", "Orvo Varibay 6 HDD Backplane"}}});
  return {{"segments", json::array({{{"segment", 2}, {"card", card}}})}};
}

TEST(FlashDescription, BuildsTargetsWithTheirSwitches) {
  sim::Machine m;
  sim::configureMachine(
      m,
      machineWith({{"first_answer", "CAN"}, {"answer_at_block", 4}, {"repeat_answer", 7}},
                  {{"erase_polls", 9},
                   {"faults", json::array({{{"command", "ufm_page"}, {"at", 3}, {"effect", "busy"}},
                                           {{"command", "close"}}})}}));
  ASSERT_EQ(m.cards.size(), 1u);
  auto *loader = dynamic_cast<sim::VlteLoader *>(m.cards[0]->loader.get());
  ASSERT_NE(loader, nullptr);
  EXPECT_EQ(loader->faults.firstAnswer, 0x18);
  EXPECT_EQ(loader->faults.answerAtBlock, 4);
  EXPECT_EQ(loader->faults.answer, 0x15);
  EXPECT_EQ(loader->faults.repeatAnswer, 7);
  EXPECT_FALSE(loader->random.enabled);
  auto *cpld = dynamic_cast<sim::MachXO2 *>(m.cards[0]->backplanes[0]->cpld.get());
  ASSERT_NE(cpld, nullptr);
  EXPECT_EQ(cpld->erasePolls, 9);
  ASSERT_EQ(cpld->faults.size(), 2u);
  EXPECT_EQ(cpld->faults[0].command, sim::CpldCommand::UfmPage);
  EXPECT_EQ(cpld->faults[0].at, 3);
  EXPECT_EQ(cpld->faults[0].effect, sim::CpldFault::BusyForever);
  EXPECT_EQ(cpld->faults[1].command, sim::CpldCommand::Close);
  EXPECT_EQ(cpld->faults[1].effect, sim::CpldFault::Nak);
  EXPECT_NE(m.cards[0]->backplanes[1]->cpld, nullptr) << "every backplane gets a CPLD";
  sim::forgetFlashTargets(m);

  sim::Machine none;
  json d = machineWith(false, false);
  d["flash_random"] = {{"seed", 5}, {"flip", 0.5}};
  sim::configureMachine(none, d);
  EXPECT_EQ(none.cards[0]->loader, nullptr);
  EXPECT_EQ(none.cards[0]->backplanes[0]->cpld, nullptr);
  auto *other = dynamic_cast<sim::MachXO2 *>(none.cards[0]->backplanes[1]->cpld.get());
  ASSERT_NE(other, nullptr);
  EXPECT_TRUE(other->random.enabled);
  EXPECT_EQ(other->random.flip, 0.5);
  sim::forgetFlashTargets(none);
}

TEST(FlashDescription, RefusesBadValues) {
  const json bad[] = {
      machineWith({{"first_anwser", "C"}}, nullptr),
      machineWith({{"first_answer", "maybe"}}, nullptr),
      machineWith({{"unlock_fails", 1}}, nullptr),
      machineWith(nullptr, {{"faults", json::array({{{"command", "explode"}}})}}),
      machineWith(nullptr, {{"faults", json::array({{{"command", "erase"}, {"effect", "x"}}})}}),
      machineWith(nullptr, {{"faults", json::array({{{"command", "erase"}, {"at", 0}}})}}),
      machineWith(nullptr, {{"preset", 256}}),
  };
  for (const json &d : bad) {
    sim::Machine m;
    EXPECT_ANY_THROW(sim::configureMachine(m, d)) << d.dump();
    sim::forgetFlashTargets(m);
  }
  sim::Machine m;
  json d = machineWith(nullptr, nullptr);
  d["flash_random"] = {{"write_fail", 2}};
  EXPECT_ANY_THROW(sim::configureMachine(m, d));
  sim::forgetFlashTargets(m);
}

TEST(FlashDescription, RecordNamesStateAndImages) {
  tal::os::ScratchDir scratch;
  sim::Machine m;
  json d = machineWith(nullptr, {{"preset", 3}});
  d["flash_record"] = scratch.file("record.json");
  sim::configureMachine(m, d);
  m.setLocked(2, 0x82, true);
  m.cards[0]->controller->handshakeHeld = true;
  ASSERT_TRUE(sim::writeFlashRecord(m));
  json r = json::parse(tal::os::ScratchDir::read(scratch.file("record.json")));
  const json &card = r["cards"][0];
  EXPECT_EQ(card["segment"], 2);
  EXPECT_EQ(card["handshake_held"], true);
  EXPECT_EQ(card["port_mask"], 0);
  EXPECT_EQ(card["loader"]["locked"], true);
  EXPECT_EQ(card["loader"]["image_size"], 0);
  EXPECT_EQ(card["backplanes"].size(), 2u);
  EXPECT_EQ(card["backplanes"][0]["cpld"]["locked"], false);
  const std::string regions =
      tal::os::ScratchDir::read(card["backplanes"][0]["cpld"]["image_file"].get<std::string>());
  ASSERT_EQ(regions.size(), 104432u);
  EXPECT_EQ(regions[0], 3);
  sim::forgetFlashTargets(m);
}

}  // namespace
