// Shared pieces of the flash tests: the simulated server (server_fixture.h) with a switch card on
// segment 1 whose loader and backplane CPLDs are the flash target models, and image-file helpers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flashtask.h"
#include "server_fixture.h"
#include "sim/board.h"
#include "sim/loader.h"
#include "sim/machxo2.h"
#include "veltoe.h"
#include "veltoi.h"

namespace flashtest {

using testserver::Bytes;
using testserver::imageBytes;
using testserver::makePayload;

constexpr uint8_t kSegment = 1;
constexpr uint8_t kLoaderAddr = 0x82;
constexpr uint8_t kCpldAddr = 0x80;

// The devices' own times, which the procedures' waits must cover: the processor's lock settles
// in 2000 ms, the loader stores block 1 in 1000 ms, the CPLD erases in 5000 ms and programs a page
// in 1 ms (all on the fake clock, which only the procedures' sleeps advance).
constexpr uint32_t kAccessSettleMs = 2000, kBlockPauseMs = 1000, kEraseMs = 5000, kPageMs = 1;

inline std::shared_ptr<sim::VlteLoader> timedLoader() {
  auto l = std::make_shared<sim::VlteLoader>();
  l->blockPauseMs = kBlockPauseMs;
  return l;
}
inline sim::MachXO2 timedCpld() {
  sim::MachXO2 c;
  c.eraseMs = kEraseMs;
  c.pageMs = kPageMs;
  return c;
}

class FlashFixture : public testserver::ServerTest {
 public:
  void SetUp() override {
    ServerTest::SetUp();
    card = std::make_shared<sim::SwitchCard>(kSegment, "Orvo Varibay 6 HDD Switch Card", 1, 5);
    machine.accessSettleMs = kAccessSettleMs;
    loader = timedLoader();
    card->loader = loader;
    for (int b = 0; b < 3; ++b) {
      auto bp = card->addBackplane("Orvo Varibay 6 HDD Backplane", 2, 4);
      cplds.push_back(std::make_shared<sim::MachXO2>(timedCpld()));
      cplds.back()->erasePolls = 2;
      bp->cpld = cplds.back();
    }
    sim::attachCard(machine.bus, card);
    ASSERT_TRUE(openChannel());
    fake.sleeps.clear();
    fake.preciseAtSleep.clear();
    machine.transactions.clear();
    machine.accessLog.clear();
  }

  // Back to a quiet machine between the rows of a table: no faults, no locks,
  // empty records, an empty engine log.
  void freshRun() {
    machine.faults = sim::Faults{};
    machine.setLocked(kSegment, kLoaderAddr, false);
    machine.setLocked(kSegment, kCpldAddr, false);
    machine.transactions.clear();
    machine.accessLog.clear();
    fake.sleeps.clear();
    fake.preciseAtSleep.clear();
    clearLog();
  }

  std::string writeImage(const std::string &name, const std::string &bytes) {
    tal::os::ScratchDir::write(scratch.file(name), bytes);
    return name;  // relative: the scratch folder is the current directory
  }

  // Writes sent to a device of the card's segment, as byte strings.
  using ServerTest::writesTo;
  std::vector<Bytes> writesTo(uint8_t address) const { return writesTo(kSegment, address); }
  int countWrites(uint8_t address, const Bytes &bytes) const {
    int n = 0;
    for (const auto &w : writesTo(address)) n += w == bytes;
    return n;
  }
  int accessActions(uint16_t action) const {
    int n = 0;
    for (const auto &a : machine.accessLog) n += a.action == action;
    return n;
  }
  // The lock and board traffic in the order the processor saw it: access requests ("query",
  // "lock", "unlock"), handshake writes at 0xEC ("hs1", "hs0") and port writes at 0xE4
  // ("port<mask>"), each marked "*" when it carried the locked tag.
  std::vector<std::string> boardRecord() const {
    std::vector<std::pair<uint64_t, std::string>> events;
    static const char *const kActions[] = {"query", "lock", "unlock"};
    for (const auto &a : machine.accessLog) {
      events.emplace_back(a.order, a.action <= 2 ? kActions[a.action] : "action?");
    }
    for (const auto &t : machine.transactions) {
      if (t.engine != kSegment || t.write.size() != 2) continue;
      std::string what;
      if (t.address == 0xEC && t.write[0] == 0x66) what = "hs" + std::to_string(t.write[1]);
      if (t.address == 0xE4 && t.write[0] == 0x00) what = "port" + std::to_string(t.write[1]);
      if (!what.empty()) events.emplace_back(t.order, what + (t.lockedTag ? "*" : ""));
    }
    std::sort(events.begin(), events.end());
    std::vector<std::string> out;
    for (auto &e : events) out.push_back(e.second);
    return out;
  }
  bool anyLocked() const {
    return machine.isLocked(kSegment, kLoaderAddr) || machine.isLocked(kSegment, kCpldAddr);
  }

  std::shared_ptr<sim::SwitchCard> card;
  std::shared_ptr<sim::VlteLoader> loader;
  std::vector<std::shared_ptr<sim::MachXO2>> cplds;
};

}  // namespace flashtest
