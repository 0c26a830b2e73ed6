// The Velto-E procedure over the simulated processor and loader: block layout,
// pauses, the failure table with its log lines, and the lock released on every
// path.
#include <functional>

#include "fault_plan.h"
#include "flash_fixture.h"

namespace flashtest {
namespace {

class VeltoE : public FlashFixture {
 public:
  int flash(const Bytes &payload, int type = 1) {
    task = std::make_unique<FlashTaskVeltoE>(
        kSegment, kLoaderAddr, writeImage("vlte.bin", imageBytes(1, 1, payload)), 0, type);
    return task->Flash();
  }
  // The blocks as sent: the block bytes of every data write after the unlock,
  // cut in 261s.
  std::vector<Bytes> blocksSent() const {
    Bytes stream;
    bool first = true;
    for (const auto &t : machine.transactionsOn(kSegment, kLoaderAddr)) {
      if (t.readLength || t.write.size() <= 2) continue;
      if (first) {
        first = false;  // the unlock
        continue;
      }
      stream.insert(stream.end(), t.write.begin() + 1, t.write.end());
    }
    std::vector<Bytes> blocks;
    for (size_t p = 0; p + 261 <= stream.size(); p += 261) {
      blocks.emplace_back(stream.begin() + p, stream.begin() + p + 261);
    }
    EXPECT_EQ(stream.size() % 261, 0u);
    return blocks;
  }
  static Bytes dataOf(const Bytes &block) { return Bytes(block.begin() + 3, block.end() - 2); }
  int cans() const { return countWrites(kLoaderAddr, {0x00, 0x18}); }

  std::unique_ptr<FlashTaskVeltoE> task;
};

TEST_F(VeltoE, BlocksOfAShortLastBlock) {
  Bytes p = makePayload(300);
  ASSERT_EQ(flash(p), 0);
  auto blocks = blocksSent();
  ASSERT_EQ(blocks.size(), 2u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Bytes &b = blocks[i];
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[1], i + 1);
    EXPECT_EQ(b[2], static_cast<uint8_t>(~(i + 1)));
    Bytes d = dataOf(b);
    uint16_t crc = vlte::crc16(d.data(), d.size());
    EXPECT_EQ(b[259], crc >> 8);
    EXPECT_EQ(b[260], crc & 0xFF);
  }
  Bytes tail = dataOf(blocks[1]);
  EXPECT_TRUE(std::equal(p.begin() + 256, p.end(), tail.begin()));
  EXPECT_EQ(tail[44], 0x1A);
  EXPECT_EQ(std::count(tail.begin() + 45, tail.end(), 0), 211);
  // Pieces: the register byte and at most 31 block bytes; nine per block.
  int full = 0, last = 0;
  for (const auto &w : writesTo(kLoaderAddr)) {
    EXPECT_LE(w.size(), 32u);
    EXPECT_EQ(w[0], 0x00);
    full += w.size() == 32;
    last += w.size() == 14;
  }
  EXPECT_EQ(full, 2 * 8);
  EXPECT_EQ(last, 2);
  const auto writes = writesTo(kLoaderAddr);
  EXPECT_EQ(writes.back(), (Bytes{0x00, 0x04})) << "the transfer ends with EOT";
  EXPECT_TRUE(loader->ended);
  EXPECT_EQ(loader->image(), p);
  EXPECT_TRUE(loader->violations.empty());
  // The handshake is released (not locked) before the loader is unlocked.
  const auto &t0 = machine.transactions.front();
  EXPECT_EQ(t0.address, 0xEC);
  EXPECT_FALSE(machine.transactionsOn(kSegment, 0xEC).front().lockedTag);
  EXPECT_EQ(machine.transactionsOn(kSegment, 0xEC).front().write, (Bytes{0x66, 0x00}));
  expectInOrder({"FlashTaskVeltoE::Flash starts...\n", "lockDeviceAccess: success\n",
                 "Flash Velto-e process start...\n", "flashVlte in C case...\n",
                 "\nEnd of flashing.\n", "flashVlt-E success\n", "unlockDeviceAccess: success\n"});
  EXPECT_FALSE(anyLocked());
}

TEST_F(VeltoE, FullLastBlockAndEmptyPayloadSendAMarkerBlock) {
  Bytes p = makePayload(512);
  ASSERT_EQ(flash(p), 0);
  auto blocks = blocksSent();
  ASSERT_EQ(blocks.size(), 3u);
  Bytes marker(256, 0);
  marker[0] = 0x1A;
  EXPECT_EQ(dataOf(blocks[2]), marker);
  EXPECT_EQ(loader->image(), p);

  machine.transactions.clear();
  loader = timedLoader();
  loader->faults.firstAnswer = 0x15;  // NAK: ready as well
  card->loader = loader;
  ASSERT_EQ(flash({}), 0);
  blocks = blocksSent();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(dataOf(blocks[0]), marker);
  EXPECT_TRUE(loader->ended);
  EXPECT_TRUE(loader->image().empty());
  EXPECT_TRUE(logHas("flashVlte in NAK case...\n"));
}

TEST_F(VeltoE, NumbersWrapAndPausesFallOn64KiBBoundaries) {
  Bytes p = makePayload(70000);
  ASSERT_EQ(flash(p), 0);
  auto blocks = blocksSent();
  ASSERT_EQ(blocks.size(), 274u);
  EXPECT_EQ(blocks[254][1], 255);
  EXPECT_EQ(blocks[255][1], 0);
  EXPECT_EQ(blocks[255][2], 0xFF);
  EXPECT_EQ(blocks[256][1], 1);
  EXPECT_EQ(loader->image(), p);
  // Lock verification, block 1, block 257, unlock verification.
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{2000, 1000, 1000, 2000}));
  ASSERT_EQ(loader->blockTimes.size(), 274u);
  for (size_t i = 1; i < loader->blockTimes.size(); ++i) {
    const uint64_t gap = loader->blockTimes[i] - loader->blockTimes[i - 1];
    EXPECT_EQ(gap, (i == 1 || i == 257) ? 1000u : 0u) << "before block " << i + 1;
  }
  for (bool precise : fake.preciseAtSleep) EXPECT_TRUE(precise);
  EXPECT_EQ(fake.preciseDepth, 0);
}

struct Row {
  const char *name;
  std::function<void(VeltoE &)> setup;
  int result;
  std::vector<std::string> lines;
  int cans;
  std::vector<std::string> absent;
  // What the task reports: the step that failed and the device's state (nothing of the firmware
  // is written before the first block; from then on a transfer cut short leaves it unknown).
  std::string step;
  int state;
};

TEST_F(VeltoE, FailureTable) {
  const std::string xmit = "XMIT Error terminating FW update.\n";
  const Row rows[] = {
      {"lock fails",
       [](VeltoE &t) { t.machine.faults.lockIgnored = -1; },
       -1,
       {"lockDeviceAccess: failed: -1\n", "Trying to unlock it before returning.\n"},
       0,
       {"Flash Velto-e process start"},
       "taking the device-access lock on the management processor",
       STATE_NOT_CHANGED},
      {"unlock write fails",
       [](VeltoE &t) { t.loader->faults.unlockFails = true; },
       -1,
       {"flashVlte: Error: Unlocking failed: 42\n", "unlockDeviceAccess: success\n"},
       0,
       {},
       "unlocking the firmware loader",
       STATE_NOT_CHANGED},
      {"first query fails",
       [](VeltoE &t) { t.loader->faults.firstQueryFails = true; },
       -1,
       {"#Checking CRC failed terminating FW update.\n"},
       3,
       {},
       "waiting for the firmware loader to get ready",
       STATE_NOT_CHANGED},
      {"first answer CAN",
       [](VeltoE &t) { t.loader->faults.firstAnswer = 0x18; },
       -1,
       {"Error: flashVlte cancelled by remote...\n", "unlockDeviceAccess: success\n"},
       0,
       {"terminating"},
       "waiting for the firmware loader to get ready",
       STATE_NOT_CHANGED},
      {"first answer other",
       [](VeltoE &t) { t.loader->faults.firstAnswer = 0x41; },
       -1,
       {"queryVlteResp [78]: 41 \n", "Checking CRC failed terminating FW update.\n"},
       3,
       {},
       "waiting for the firmware loader to get ready",
       STATE_NOT_CHANGED},
      {"block write fails",
       [](VeltoE &t) { t.loader->faults.writeFailsAtBlock = 2; },
       -1,
       {"sendFWPktToVlte Error: Writing firmware failed.\n", "sendFWPktToVlte Error\n"},
       0,
       {"terminating"},
       "the transfer at block 2",
       STATE_UNKNOWN},
      {"answer query fails",
       [](VeltoE &t) { t.loader->faults.queryFailsAtBlock = 1; },
       -1,
       {"flashVlte Error: Querying response.\n", xmit},
       3,
       {},
       "the transfer at block 1",
       STATE_UNKNOWN},
      {"NAK after a block",
       [](VeltoE &t) {
         t.loader->faults.answerAtBlock = 2;
         t.loader->faults.answer = 0x15;
       },
       -1,
       {"flashVlte Error: NACK response.\n", xmit},
       3,
       {},
       "the transfer at block 2",
       STATE_UNKNOWN},
      {"CAN after a block, confirmed",
       [](VeltoE &t) {
         t.loader->faults.answerAtBlock = 2;
         t.loader->faults.answer = 0x18;
       },
       -1,
       {"flashVlte: Error: Canceled by remote.\n", xmit},
       3,
       {},
       "the transfer at block 2",
       STATE_UNKNOWN},
      {"CAN after a block, then other",
       [](VeltoE &t) {
         t.loader->faults.answerAtBlock = 2;
         t.loader->faults.answer = 0x18;
         t.loader->faults.repeatAnswer = 0x06;
       },
       -1,
       {xmit},
       3,
       {"Canceled by remote"},
       "the transfer at block 2",
       STATE_UNKNOWN},
      {"unknown answer",
       [](VeltoE &t) {
         t.loader->faults.answerAtBlock = 3;
         t.loader->faults.answer = 0x07;
       },
       -1,
       {"flashVlte Error: Unknown response:7\n", xmit},
       3,
       {},
       "the transfer at block 3",
       STATE_UNKNOWN},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    freshRun();
    loader = timedLoader();
    card->loader = loader;
    row.setup(*this);
    EXPECT_EQ(flash(makePayload(600)), row.result);
    expectInOrder(row.lines);
    for (const auto &a : row.absent) EXPECT_FALSE(logHas(a)) << a;
    EXPECT_EQ(cans(), row.cans);
    EXPECT_FALSE(logHas("flashVlt-E success"));
    EXPECT_FALSE(anyLocked());
    EXPECT_FALSE(loader->ended);
    EXPECT_TRUE(loader->violations.empty()) << loader->violations.front();
    EXPECT_EQ(task->outcome().failedStep, row.step);
    EXPECT_EQ(task->outcome().state, row.state);
    EXPECT_EQ(loader->blocksAccepted > 0 || loader->blocksRefused > 0,
              row.state != STATE_NOT_CHANGED)
        << "\"not changed\" exactly when no block reached the loader";
  }
}

// Every write of the transfer counts: an end of transmission that the loader did not acknowledge,
// or whose answer was lost (the loader may have ended the transfer or not), is a failed flash
// whose device state is unknown.
TEST_F(VeltoE, EndOfTransferCounts) {
  const Bytes payload = makePayload(600);
  machine.requests = 0;
  ASSERT_EQ(flash(payload), 0);
  uint64_t eot = 0;
  for (const auto &t : machine.transactionsOn(kSegment, kLoaderAddr)) {
    if (t.write == Bytes{0x00, 0x04}) eot = t.order - 1;  // the requests before it
  }
  ASSERT_GT(eot, 0u);

  faultplan::Channel plan(channel);
  closeChannel();
  fake.channel = &plan;
  ASSERT_TRUE(openChannel());
  for (int kind : {-1, int{faultplan::kRunt}, int{faultplan::kHeaderOnly}}) {
    SCOPED_TRACE(kind < 0 ? "loader does not acknowledge EOT" : faultplan::kindName(kind));
    freshRun();
    loader = timedLoader();
    card->loader = loader;
    if (kind < 0) {
      loader->faults.endFails = true;
      plan.plan.clear();
    } else {
      plan.plan = {{plan.sends + eot, kind}};
    }
    EXPECT_EQ(flash(payload), -1);
    expectInOrder({"\nEnd of flashing.\n", "flashVlte Error: End of transmission not delivered: ",
                   "unlockDeviceAccess: success\n"});
    EXPECT_FALSE(logHas("flashVlt-E success"));
    EXPECT_EQ(task->outcome().failedStep, "the end of the transfer (EOT)");
    EXPECT_EQ(task->outcome().state, STATE_UNKNOWN);
    EXPECT_EQ(loader->ended, kind == faultplan::kRunt);  // the runt's EOT arrived
    EXPECT_FALSE(anyLocked());
  }
  closeChannel();
  fake.channel = &channel;
  openChannel();
}

// The lock and the one board write of the procedure in the order the processor saw them, on the
// way out of every kind of path, an exception included.
TEST_F(VeltoE, ReleaseOrderOnEveryPath) {
  using V = std::vector<std::string>;
  struct Case {
    const char *name;
    std::function<void(VeltoE &)> setup;
    int throwAtSleep;
    V record;
  };
  const Case cases[] = {
      {"success",
       [](VeltoE &) {},
       -1,
       {"query", "lock", "query", "hs0", "query", "unlock", "query"}},
      {"lock fails: the unlock attempt all the same",
       [](VeltoE &t) { t.machine.faults.lockIgnored = -1; },
       -1,
       {"query", "lock", "query", "query"}},
      {"a refused block",
       [](VeltoE &t) { t.loader->faults.answerAtBlock = 1; },
       -1,
       {"query", "lock", "query", "hs0", "query", "unlock", "query"}},
      // On an exception the unlock goes out without a query first: a lock whose wait was cut
      // short may not show yet.
      {"exception inside the lock", [](VeltoE &) {}, 0, {"query", "lock", "unlock"}},
      {"exception after block 1", [](VeltoE &) {}, 1, {"query", "lock", "query", "hs0", "unlock"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    freshRun();
    loader = timedLoader();
    card->loader = loader;
    c.setup(*this);
    fake.throwAtSleep = c.throwAtSleep;
    if (c.throwAtSleep >= 0) {
      EXPECT_THROW(flash(makePayload(600)), std::runtime_error);
    } else {
      flash(makePayload(600));
    }
    EXPECT_EQ(boardRecord(), c.record);
    fake.nowMs += kAccessSettleMs;  // an unlock sent on the way out has taken effect
    EXPECT_FALSE(anyLocked());
    EXPECT_EQ(fake.preciseDepth, 0);
  }
}

TEST_F(VeltoE, LockStatesAndTypeRefusal) {
  // A failed release does not change a successful transfer's result.
  machine.faults.unlockIgnored = -1;
  EXPECT_EQ(flash(makePayload(100)), 0);
  expectInOrder({"flashVlt-E success\n", "unlockDeviceAccess: failed: -1\n"});
  EXPECT_TRUE(loader->ended);

  // A task of another device type takes no lock and touches nothing.
  machine.faults = sim::Faults{};
  machine.setLocked(kSegment, kLoaderAddr, false);
  machine.accessLog.clear();
  machine.transactions.clear();
  auto other = std::make_unique<FlashTaskVeltoE>(kSegment, kLoaderAddr, "x.bin", 0, 2);
  EXPECT_EQ(other->startFlashing(), -1);
  EXPECT_TRUE(machine.accessLog.empty());
  EXPECT_TRUE(machine.transactions.empty());
}

}  // namespace
}  // namespace flashtest
