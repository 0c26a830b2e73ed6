// The Velto-I procedure over the simulated processor, card and CPLD: a full
// programming checked byte for byte, the port choice, the failure table with
// its log lines, and every lock, port and handshake released.
#include <algorithm>
#include <functional>

#include "flash_fixture.h"

namespace flashtest {
namespace {

class VeltoI : public FlashFixture {
 public:
  int flash(const Bytes &payload, int index = 0) {
    task = std::make_unique<FlashTaskVeltoI>(
        kSegment, kCpldAddr, writeImage("vlti.bin", imageBytes(2, 2, payload)), index, 2);
    return task->Flash();
  }
  void expectReleased() {
    EXPECT_FALSE(card->handshakeHeld());
    EXPECT_EQ(card->selector->mask, 0);
    EXPECT_FALSE(anyLocked());
  }
  std::vector<sim::Transaction> on(uint8_t address) const {
    return machine.transactionsOn(kSegment, address);
  }
  int closes() const { return countWrites(kCpldAddr, {0x26, 0x00, 0x00, 0x00}); }

  std::unique_ptr<FlashTaskVeltoI> task;
};

TEST_F(VeltoI, FullProgrammingByteForByte) {
  cplds[1]->preset(0xA5);  // the old image: erase must clear it
  Bytes p = makePayload(100000);
  ASSERT_EQ(flash(p, 1), 0);
  const sim::MachXO2 &c = *cplds[1];
  EXPECT_TRUE(c.violations.empty()) << c.violations.front();
  EXPECT_TRUE(std::equal(p.begin(), p.begin() + 92160, c.cfg.begin()));
  EXPECT_TRUE(std::equal(p.begin() + 92160, p.end(), c.ufm.begin()));
  EXPECT_TRUE(
      std::all_of(c.ufm.begin() + (100000 - 92160), c.ufm.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(c.cfgPagesProgrammed, 5760);
  EXPECT_EQ(c.ufmPagesProgrammed, 767);
  EXPECT_EQ(c.erases, 1);
  EXPECT_TRUE(c.done);
  EXPECT_TRUE(c.closed);
  EXPECT_EQ(c.closeByte, 0x00);
  EXPECT_EQ(cplds[0]->transactions + cplds[2]->transactions, 0) << "only port 1 was reached";
  // Lock verification, erase, one pause per page, unlock verification; all
  // precise.
  ASSERT_EQ(fake.sleeps.size(), 3u + 6527u);
  EXPECT_EQ(fake.sleeps[0], 2000u);
  EXPECT_EQ(fake.sleeps[1], 5000u);
  EXPECT_EQ(std::count(fake.sleeps.begin(), fake.sleeps.end(), 1u), 6527);
  EXPECT_EQ(fake.sleeps.back(), 2000u);
  for (bool precise : fake.preciseAtSleep) EXPECT_TRUE(precise);
  EXPECT_EQ(fake.preciseDepth, 0);
  // Board writes: handshake taken, port 1 (mask 2) selected, both released, all
  // without the locked tag; every CPLD command with it.
  auto ec = on(0xEC), e4 = on(0xE4);
  ASSERT_EQ(ec.size(), 2u);
  EXPECT_EQ(ec[0].write, (Bytes{0x66, 0x01}));
  EXPECT_EQ(ec[1].write, (Bytes{0x66, 0x00}));
  ASSERT_EQ(e4.size(), 2u);
  EXPECT_EQ(e4[0].write, (Bytes{0x00, 0x02}));
  EXPECT_EQ(e4[1].write, (Bytes{0x00, 0x00}));
  for (const auto &t : ec) EXPECT_FALSE(t.lockedTag);
  for (const auto &t : e4) EXPECT_FALSE(t.lockedTag);
  for (const auto &t : on(kCpldAddr)) EXPECT_TRUE(t.lockedTag && t.lockHeld);
  expectInOrder({"FlashTaskVeltoI::Flash starts...\n", "payload image size:100000\n",
                 "lockDeviceAccess: success\n", "velto-I Flashing started.\n", "\nFlashing done.\n",
                 "unlockDeviceAccess: success\n"});
  expectReleased();
}

TEST_F(VeltoI, PortFromTheDeviceIndex) {
  ASSERT_EQ(flash(makePayload(92160), 2), 0);
  EXPECT_EQ(on(0xE4).front().write, (Bytes{0x00, 0x04}));
  EXPECT_EQ(cplds[2]->ufmPagesProgrammed, 767);
  EXPECT_TRUE(
      std::all_of(cplds[2]->ufm.begin(), cplds[2]->ufm.end(), [](uint8_t b) { return b == 0; }));

  // Index 5 selects no port: the sequence runs and finds no CPLD.
  freshRun();
  EXPECT_EQ(flash(makePayload(64), 5), 42);
  EXPECT_EQ(on(0xE4).front().write, (Bytes{0x00, 0x00}));
  expectInOrder({"Error: Opening configure failed.\n", "startFlashingVlti failed: 42\n"});
  expectReleased();
}

using Setup = std::function<void(VeltoI &)>;
Setup cpldFault(sim::CpldCommand c, int at, sim::CpldFault::Effect e) {
  return [=](VeltoI &t) { t.cplds[0]->faults.push_back({c, at, e}); };
}

struct Row {
  const char *name;
  Setup setup;
  int result;
  std::vector<std::string> lines;
  bool reachesCpld;
  std::vector<std::string> absent;
  // What the task reports: the step that failed and the backplane's state (erased, not
  // rewritten from the erase command on; unknown when only the close failed).
  std::string step;
  int state;
};

TEST_F(VeltoI, FailureTable) {
  using C = sim::CpldCommand;
  using E = sim::CpldFault;
  const Row rows[] = {
      {"handshake fails",
       [](VeltoI &t) { t.card->controller->takeFails = true; },
       42,
       {"handshake failed\n"},
       false,
       {"selectVltiPort failed", "lockDeviceAccess"},
       "taking the card's backplane-bus handshake",
       STATE_NOT_CHANGED},
      {"port selection fails",
       [](VeltoI &t) { t.card->selector->selectFails = true; },
       42,
       {"selectVltiPort failed\n"},
       false,
       {"lockDeviceAccess"},
       "selecting the backplane's port",
       STATE_NOT_CHANGED},
      {"lock fails",
       [](VeltoI &t) { t.machine.faults.lockIgnored = -1; },
       -1,
       {"lockDeviceAccess: failed: -1\n", "Trying to unlock it before returning.\n"},
       false,
       {"velto-I Flashing started"},
       "taking the device-access lock on the management processor",
       STATE_NOT_CHANGED},
      {"open fails",
       cpldFault(C::Enable, 1, E::Nak),
       42,
       {"Error: Opening configure failed.\n", "startFlashingVlti failed: 42\n"},
       true,
       {},
       "opening the CPLD's configuration interface",
       STATE_NOT_CHANGED},
      {"status after open fails",
       cpldFault(C::Status, 1, E::Nak),
       42,
       {"Error: wait status busy failed after open cfg.\n", "startFlashingVlti failed: 42\n"},
       true,
       {},
       "opening the CPLD's configuration interface",
       STATE_NOT_CHANGED},
      {"fail bit after open",
       cpldFault(C::Enable, 1, E::FailBit),
       -1,
       {"Error: wait status busy: FAIL bit is set.\n",
        "Error: wait status busy failed after open cfg.\n", "startFlashingVlti failed: -1\n"},
       true,
       {},
       "opening the CPLD's configuration interface",
       STATE_NOT_CHANGED},
      {"erase fails",
       cpldFault(C::Erase, 1, E::Nak),
       42,
       {"Error: Erasing failed.\n"},
       true,
       {},
       "erasing the CPLD",
       STATE_ERASED},
      {"busy for ever after erase",
       cpldFault(C::Erase, 1, E::BusyForever),
       -1,
       {"Error: wait status busy failed after erase.\n"},
       true,
       {"FAIL bit"},
       "erasing the CPLD",
       STATE_ERASED},
      {"address reset fails",
       cpldFault(C::ResetCfg, 1, E::Nak),
       -1,
       {"programRegion failed #1.\n"},
       true,
       {"Writing failed"},
       "programming the CPLD's configuration flash",
       STATE_ERASED},
      {"cfg page write fails",
       cpldFault(C::CfgPage, 100, E::Nak),
       42,
       {"Error: Writing failed cfg.\n", "programRegion failed #1.\n"},
       true,
       {},
       "programming the CPLD's configuration flash",
       STATE_ERASED},
      {"fail bit at a cfg page",
       cpldFault(C::CfgPage, 7, E::FailBit),
       -1,
       {"Error: wait status busy: FAIL bit is set.\n", "Error: Writing failed cfg.\n",
        "programRegion failed #1.\n"},
       true,
       {},
       "programming the CPLD's configuration flash",
       STATE_ERASED},
      {"busy for ever after a ufm page",
       cpldFault(C::UfmPage, 3, E::BusyForever),
       -1,
       {"Error: Writing failed ufm\n", "programRegion failed #2.\n"},
       true,
       {},
       "programming the CPLD's user flash (UFM)",
       STATE_ERASED},
      {"ufm page write fails",
       cpldFault(C::UfmPage, 767, E::Nak),
       42,
       {"Error: Writing failed ufm\n", "programRegion failed #2.\n"},
       true,
       {},
       "programming the CPLD's user flash (UFM)",
       STATE_ERASED},
      {"set done fails",
       cpldFault(C::Done, 1, E::Nak),
       42,
       {"Error: set done failed.\n"},
       true,
       {},
       "setting the CPLD's done bit",
       STATE_ERASED},
      {"close fails",
       cpldFault(C::Close, 1, E::Nak),
       42,
       {"Error: Close configure failed.\n", "startFlashingVlti failed: 42\n",
        "unlockDeviceAccess: success\n"},
       true,
       {"Flashing done"},
       "closing the CPLD's configuration interface",
       STATE_UNKNOWN},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    freshRun();
    for (auto &c : cplds) *c = timedCpld();
    cplds[0]->erasePolls = 2;
    card->controller->takeFails = false;
    card->selector->selectFails = false;
    row.setup(*this);
    EXPECT_EQ(flash(makePayload(100000)), row.result);
    expectInOrder(row.lines);
    for (const auto &a : row.absent) EXPECT_FALSE(logHas(a)) << a;
    EXPECT_FALSE(logHas("Flashing done"));
    card->controller->takeFails = false;
    card->selector->selectFails = false;
    expectReleased();
    EXPECT_TRUE(cplds[0]->violations.empty()) << cplds[0]->violations.front();
    EXPECT_EQ(task->outcome().failedStep, row.step);
    EXPECT_EQ(task->outcome().state, row.state);
    // Never "not changed" for a backplane that was erased.
    if (cplds[0]->erases > 0) {
      EXPECT_NE(task->outcome().state, STATE_NOT_CHANGED);
    }
    if (!row.reachesCpld) {
      EXPECT_EQ(cplds[0]->transactions, 0);
      continue;
    }
    if (std::string(row.name) != "close fails") {
      EXPECT_FALSE(cplds[0]->enabled) << "the configuration interface is closed";
      EXPECT_EQ(closes(), 1);
    }
    // After a failed step the handshake is released with the locked tag, then
    // again by the closing steps without it.
    auto ec = on(0xEC);
    ASSERT_GE(ec.size(), 3u);
    EXPECT_EQ(ec[ec.size() - 2].write, (Bytes{0x66, 0x00}));
    EXPECT_TRUE(ec[ec.size() - 2].lockedTag);
    EXPECT_FALSE(ec.back().lockedTag);
  }
}

// The whole release order of every path against one record of the processor's traffic: the
// unlock (also the attempt after a failed lock), then the port, then the handshake; a failed or
// interrupted sequence closes the configuration and releases the handshake with the locked tag
// first. An exception thrown anywhere after a take (here from a sleep) releases the same way.
TEST_F(VeltoI, ReleaseOrderOnEveryPath) {
  using V = std::vector<std::string>;
  const V taken = {"hs1", "port1", "query", "lock", "query"};
  const V unlocked = {"query", "unlock", "query", "port0", "hs0"};
  auto join = [](V a, const V &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char *name;
    std::function<void(VeltoI &)> setup;
    int throwAtSleep;
    bool throws;
    V record;
  };
  const Case cases[] = {
      {"success", [](VeltoI &) {}, -1, false, join(taken, unlocked)},
      {"handshake fails, released all the same",
       [](VeltoI &t) { t.card->controller->takeFails = true; },
       -1,
       false,
       {"hs1", "hs0"}},
      // The selector acknowledges nothing: the deselection is tried again, kReleaseAttempts
      // times in all.
      {"port selection fails, deselected all the same",
       [](VeltoI &t) { t.card->selector->selectFails = true; },
       -1,
       false,
       {"hs1", "port1", "port0", "port0", "port0", "hs0"}},
      {"lock fails: the unlock attempt, then handshake and port",
       [](VeltoI &t) { t.machine.faults.lockIgnored = -1; },
       -1,
       false,
       {"hs1", "port1", "query", "lock", "query", "query", "hs0", "port0"}},
      {"a step fails", cpldFault(sim::CpldCommand::Erase, 1, sim::CpldFault::Nak), -1, false,
       join(join(taken, {"hs0*"}), unlocked)},
      // The unlock is sent again, kUnlockAttempts times in all.
      {"unlock fails: releases with the locked tag",
       [](VeltoI &t) { t.machine.faults.unlockIgnored = -1; }, -1, false,
       join(taken,
            {"query", "unlock", "query", "unlock", "query", "unlock", "query", "port0*", "hs0*"})},
      // On an exception the unlock goes out without a query first: a lock whose wait was cut
      // short may not show yet.
      {"exception inside the lock",
       [](VeltoI &) {},
       0,
       true,
       {"hs1", "port1", "query", "lock", "unlock", "port0", "hs0"}},
      {"exception at the erase pause", [](VeltoI &) {}, 1, true,
       join(taken, {"hs0*", "unlock", "port0", "hs0"})},
      {"exception at a page pause", [](VeltoI &) {}, 900, true,
       join(taken, {"hs0*", "unlock", "port0", "hs0"})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    freshRun();
    for (auto &cpld : cplds) *cpld = timedCpld();
    card->controller->takeFails = false;
    card->selector->selectFails = false;
    c.setup(*this);
    fake.throwAtSleep = c.throwAtSleep;
    if (c.throws) {
      EXPECT_THROW(flash(makePayload(1000)), std::runtime_error);
    } else {
      flash(makePayload(1000));
    }
    EXPECT_EQ(boardRecord(), c.record);
    fake.nowMs += kAccessSettleMs;  // an unlock sent on the way out has taken effect
    card->controller->takeFails = false;
    card->selector->selectFails = false;
    if (std::string(c.name).find("unlock fails") == std::string::npos) expectReleased();
    if (c.throws) {
      EXPECT_FALSE(cplds[0]->enabled) << "the configuration interface is closed";
      EXPECT_EQ(fake.preciseDepth, 0);
    }
  }
}

TEST_F(VeltoI, BusyPollLimitAndFailedUnlock) {
  cplds[0]->faults.push_back({sim::CpldCommand::Erase, 1, sim::CpldFault::BusyForever});
  EXPECT_EQ(flash(makePayload(16)), -1);
  EXPECT_EQ(cplds[0]->statusReads, 1 + 10000) << "one poll after open, then the limit";

  // A failed unlock keeps the result, and the releases carry the locked tag.
  freshRun();
  *cplds[0] = timedCpld();
  machine.faults.unlockIgnored = -1;
  EXPECT_EQ(flash(makePayload(16)), 0);
  expectInOrder({"\nFlashing done.\n", "unlockDeviceAccess: failed: -1\n"});
  EXPECT_TRUE(on(0xE4).back().lockedTag);
  EXPECT_TRUE(on(0xEC).back().lockedTag);
  EXPECT_FALSE(card->handshakeHeld());
  EXPECT_EQ(card->selector->mask, 0);
  EXPECT_EQ(cplds[0]->ufm[0], 0);
}

}  // namespace
}  // namespace flashtest
