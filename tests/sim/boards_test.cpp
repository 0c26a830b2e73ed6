// The simulated boards as the flash models and the tests rely on them: what is reachable behind a
// card and when, the device-model slots, and the machine description's board and SMBIOS keys.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/board.h"
#include "sim/description.h"
#include "sim/smbios.h"
#include "smbios.h"
#include "transfer.h"

namespace {

using nlohmann::json;

// A device that answers every transaction and counts them.
struct Probe : sim::I2cDevice {
  int calls = 0;
  bool transact(const sim::I2cRequest &, uint8_t *) override {
    ++calls;
    return true;
  }
};

bool write(sim::Bus &bus, uint8_t engine, uint8_t address, std::vector<uint8_t> bytes,
           uint8_t *read = nullptr, size_t readLength = 0) {
  sim::I2cDevice *d = bus.find(engine, address);
  if (!d) return false;
  sim::I2cRequest r;
  r.engine = engine;
  r.address = address;
  uint8_t scratch[32];
  return simtest::transfer(*d, r, bytes, read ? read : scratch, readLength);
}

TEST(Boards, BackplaneIsReachableOnlyWithTheHandshakeAndItsPortAlone) {
  sim::Machine machine;
  sim::buildBoards(machine, json{{"segments",
                                  {{{"segment", 6},
                                    {"card",
                                     {{"name", "C"},
                                      {"backplanes",
                                       {{{"name", "B0"}, {"version", "1.02"}},
                                        {{"name", "B1"}, {"version", "3.04"}}}}}}}}}});
  ASSERT_EQ(machine.cards.size(), 1u);
  sim::SwitchCard *card = sim::cardOn(machine, 6);
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(sim::cardOn(machine, 7), nullptr);
  auto cpld = std::make_shared<Probe>();
  card->backplanes[1]->cpld = cpld;

  sim::Bus &bus = machine.bus;
  EXPECT_EQ(bus.find(6, 0xEE), nullptr);
  ASSERT_TRUE(write(bus, 6, 0xE4, {0x00, 0x02}));  // port 1, but no handshake yet
  EXPECT_EQ(bus.find(6, 0xEE), nullptr);
  ASSERT_TRUE(write(bus, 6, 0xEC, {0x66, 0x01}));
  EXPECT_TRUE(card->handshakeHeld());
  EXPECT_EQ(card->selectedPort(), 1);
  uint8_t version[2] = {0, 0};
  ASSERT_TRUE(write(bus, 6, 0xEE, {0x0C}, version, 2));
  EXPECT_EQ(version[0], 0x03);
  EXPECT_EQ(version[1], 0x04);
  ASSERT_TRUE(write(bus, 6, 0x80, {0x74, 0x08, 0x00}));
  EXPECT_EQ(cpld->calls, 1);

  ASSERT_TRUE(write(bus, 6, 0xE4, {0x00, 0x03}));  // two ports at once: neither
  EXPECT_EQ(card->selectedPort(), -1);
  EXPECT_EQ(bus.find(6, 0xAA), nullptr);
  ASSERT_TRUE(write(bus, 6, 0xE4, {0x00, 0x01}));  // port 0 has no CPLD
  EXPECT_NE(bus.find(6, 0xAA), nullptr);
  EXPECT_EQ(bus.find(6, 0x80), nullptr);
  ASSERT_TRUE(write(bus, 6, 0xEC, {0x66, 0x00}));
  EXPECT_EQ(bus.find(6, 0xAA), nullptr);
  EXPECT_EQ(card->controller->handshakeTakes, 1);
  EXPECT_EQ(card->controller->handshakeReleases, 1);

  // The loader answers at 0x82 whenever one is attached.
  EXPECT_EQ(bus.find(6, 0x82), nullptr);
  card->loader = std::make_shared<Probe>();
  EXPECT_EQ(bus.find(6, 0x82), card->loader.get());
  EXPECT_EQ(bus.find(5, 0x82), nullptr);
}

TEST(Boards, FailureSwitchesOfTheDescription) {
  sim::Machine machine;
  sim::buildBoards(
      machine,
      json{{"segments",
            {{{"segment", "0x02"},
              {"card",
               {{"name", "C"},
                {"handshake_fails", true},
                {"port_select_fails", true},
                {"version_unreadable", true},
                {"name_unreadable", true},
                {"backplanes",
                 {nullptr,
                  {{"name", "B"}, {"length_byte", "0xE8"}, {"name_unreadable", true}}}}}}}}}});
  sim::SwitchCard *card = sim::cardOn(machine, 2);
  ASSERT_NE(card, nullptr);
  EXPECT_TRUE(card->fru->nak);
  EXPECT_TRUE(card->controller->takeFails);
  EXPECT_FALSE(card->controller->releaseFails);
  EXPECT_TRUE(card->controller->versionUnreadable);
  EXPECT_TRUE(card->selector->selectFails);
  ASSERT_EQ(card->backplanes.size(), 2u);
  EXPECT_EQ(card->backplanes[0], nullptr);
  EXPECT_EQ(card->backplanes[1]->nameRecord->peek(0x0011), 0xE8);
  EXPECT_TRUE(card->backplanes[1]->nameRecord->nak);
  EXPECT_FALSE(write(machine.bus, 2, 0xEC, {0x66, 0x01}));
  EXPECT_FALSE(card->handshakeHeld());
}

TEST(Boards, MalformedDescriptionsAreRefusedWithWhereTheyAre) {
  auto refused = [](const json &description, const std::string &where) {
    sim::Machine machine;
    try {
      sim::buildBoards(machine, description);
    } catch (const std::runtime_error &e) {
      EXPECT_NE(std::string(e.what()).find(where), std::string::npos) << e.what();
      return;
    }
    ADD_FAILURE() << "accepted: " << description.dump();
  };
  refused(json{{"segments", {{{"segment", 256}}}}}, "segments[0].segment");
  refused(json{{"segments", {{{"card", {{"name", "C"}}}}}}}, "segments[0].segment: missing");
  refused(json{{"segments", {{{"segment", 1}, {"card", {{"version", "1"}}}}}}}, "version \"1\"");
  refused(json{{"segments", {{{"segment", 1}, {"card", {{"version", "1.zz"}}}}}}}, "hexadecimal");
  refused(json{{"segments", {{{"segment", 1}, {"card", {{"name", 5}}}}}}}, "card.name");
  refused(json{{"segments", {{{"segment", 1}, {"card", {{"backplanes", {{{"port", 9}}}}}}}}}},
          "backplanes[0].port");
  refused(json{{"segments", "none"}}, "segments: expected a list");
  refused(json{{"smbios", {{"records", {{{"vendor", 1}}}}}}}, "smbios.records[0]");
  refused(json{{"smbios", {{"records", {{{"segment", "0x1G"}}}}}}}, "smbios.records[0].segment");

  // The channel library's reader reports them as an unreadable description.
  sim::Machine machine;
  EXPECT_THROW(sim::configureMachine(machine, json{{"segments", {{{"segment", -1}}}}}),
               std::runtime_error);
}

TEST(Boards, TableOfTheMachine) {
  sim::Machine machine;
  sim::buildBoards(
      machine,
      json{{"smbios",
            {{"system_name", "Box"},
             {"records", {{{"vendor", "0x8086"}, {"segment", 9}}, {{"map_handle", "0x7777"}}}}}},
           {"segments",
            {{{"segment", 4}, {"card", {{"name", "C"}}}},
             {{"segment", 5}},
             {{"segment", 7}, {"smbios", true}}}}});
  SmbiosTable t(false);
  ASSERT_TRUE(t.loadRaw(machine.smbios));
  EXPECT_EQ(t.systemName(), "Box");
  // Records for segments 4 and 7 (5 has no card), then the two extra ones.
  std::vector<std::pair<uint16_t, int>> seen;  // vendor, segment (-1: no map record)
  for (unsigned i = 0; const SmbiosTable::Record *r = t.findByType(203, i); ++i) {
    uint16_t vendor = 0, device = 0, map = 0;
    ASSERT_TRUE(t.readWord(r, 8, vendor));
    ASSERT_TRUE(t.readWord(r, 10, device));
    ASSERT_TRUE(t.readWord(r, 6, map));
    EXPECT_EQ(device, 0x8749);
    uint8_t segment = 0;
    const SmbiosTable::Record *m = t.findByHandle(map);
    seen.push_back({vendor, m && t.readByte(m, 4, segment) ? segment : -1});
  }
  EXPECT_EQ(seen, (std::vector<std::pair<uint16_t, int>>{
                      {0x10B5, 4}, {0x10B5, 7}, {0x8086, 9}, {0x10B5, -1}}));
  const SmbiosTable::Record *end = t.findByType(127, 0);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->end, t.length());  // the end record closes the table

  // A description without boards or table keys leaves the machine's table alone.
  sim::Machine plain;
  sim::buildBoards(plain, json{{"processor", {{"generation", 4}}}});
  EXPECT_TRUE(plain.smbios.empty());
  EXPECT_TRUE(plain.cards.empty());
}

}  // namespace
