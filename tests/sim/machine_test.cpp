// The simulated processor: the register model, the bus, the SMIF decoding, the channel library's
// queue and fault switches, and the machine description.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "fake_platform.h"
#include "sim/description.h"
#include "sim/i2c.h"
#include "sim/simchannel.h"
#include "transfer.h"

namespace {

using sim::I2cRequest;

std::vector<uint8_t> transact(sim::I2cDevice &d, std::vector<uint8_t> write, size_t readLength,
                              bool *ack = nullptr) {
  std::vector<uint8_t> read(readLength, 0xCC);
  const bool ok = simtest::transfer(d, {}, write, read.data(), readLength);
  if (ack) *ack = ok;
  return read;
}

TEST(RegisterDevice, OffsetsSelectTheMemoryAndWrapAtTheirSpan) {
  sim::RegisterDevice eeprom(2);
  eeprom.poke(0x0012, {'A', 'B', 'C'});
  EXPECT_EQ(transact(eeprom, {0x00, 0x12}, 3), (std::vector<uint8_t>{'A', 'B', 'C'}));
  // A read without a write continues from where the last one stopped.
  EXPECT_EQ(transact(eeprom, {}, 1), (std::vector<uint8_t>{0xFF}));
  transact(eeprom, {0x01, 0x00, 7, 8}, 0);
  EXPECT_EQ(eeprom.peek(0x100), 7);
  EXPECT_EQ(eeprom.peek(0x101), 8);
  eeprom.poke(0xFFFF, {0x11});
  eeprom.poke(0x0000, {0x22});
  EXPECT_EQ(transact(eeprom, {0xFF, 0xFF}, 2), (std::vector<uint8_t>{0x11, 0x22}));

  sim::RegisterDevice regs(1, 0x00);
  regs.poke(0xFF, {0x5A});
  regs.poke(0x00, {0xA5});
  EXPECT_EQ(transact(regs, {0xFF}, 2), (std::vector<uint8_t>{0x5A, 0xA5}));
}

TEST(RegisterDevice, RefusesWhatItCannotDo) {
  bool ack = true;
  sim::RegisterDevice eeprom(2);
  transact(eeprom, {0x00}, 1, &ack);  // half an offset
  EXPECT_FALSE(ack);
  eeprom.readOnly = true;
  transact(eeprom, {0x00, 0x00, 1}, 0, &ack);
  EXPECT_FALSE(ack);
  EXPECT_EQ(eeprom.peek(0), 0xFF);
  transact(eeprom, {0x00, 0x00}, 1, &ack);  // setting the offset is not a data write
  EXPECT_TRUE(ack);
  eeprom.nak = true;
  transact(eeprom, {0x00, 0x00}, 1, &ack);
  EXPECT_FALSE(ack);
}

TEST(Bus, FixedDevicesComeBeforeRoutersPerEngine) {
  sim::Bus bus;
  auto fixed = std::make_shared<sim::RegisterDevice>();
  sim::RegisterDevice routed;
  bus.attach(1, 0xAE, fixed);
  bus.addRouter(1, [&](uint8_t a) -> sim::I2cDevice * { return a >= 0xA0 ? &routed : nullptr; });
  EXPECT_EQ(bus.find(1, 0xAE), fixed.get());
  EXPECT_EQ(bus.find(1, 0xA2), &routed);
  EXPECT_EQ(bus.find(1, 0x10), nullptr);
  EXPECT_EQ(bus.find(2, 0xAE), nullptr);
  bus.attach(1, 0xAE, nullptr);
  EXPECT_EQ(bus.find(1, 0xAE), &routed);
  bus.clear();
  EXPECT_EQ(bus.find(1, 0xA2), nullptr);
}

// Raw SMIF packets against Machine::process.
struct Packet {
  uint8_t b[64] = {};
  Packet(uint16_t len, uint16_t seq, uint16_t cmd) {
    b[0] = static_cast<uint8_t>(len);
    b[2] = static_cast<uint8_t>(seq);
    b[3] = static_cast<uint8_t>(seq >> 8);
    b[4] = static_cast<uint8_t>(cmd);
    b[5] = static_cast<uint8_t>(cmd >> 8);
  }
  void u16(size_t off, uint16_t v) {
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
  }
  void u32(size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};
uint32_t rd32(const uint8_t *p, size_t off) {
  return p[off] | (p[off + 1] << 8) | (p[off + 2] << 16) |
         (static_cast<uint32_t>(p[off + 3]) << 24);
}
Packet access(uint16_t action, uint32_t target) {
  Packet p(20, 7, sim::kCmdRequest);
  p.u16(8, 5);
  p.u16(10, action);
  p.u32(12, 1200);
  p.u32(16, target);
  return p;
}
Packet i2c(uint8_t engine, uint8_t address, std::vector<uint8_t> write, uint8_t rl, bool locked) {
  Packet p(57, 9, sim::kCmdI2cTransaction);
  std::memcpy(p.b + 12, locked ? "TKarsen" : "Morvane", 8);
  p.u16(20, address);
  p.b[22] = engine;
  p.b[23] = static_cast<uint8_t>(write.size());
  p.b[24] = rl;
  if (!write.empty()) std::memcpy(p.b + 25, write.data(), write.size());
  return p;
}

class Recorder : public sim::I2cDevice {
 public:
  bool transact(const I2cRequest &r, uint8_t *read) override {
    last = r;
    written.assign(r.write, r.write + r.writeLength);
    for (size_t i = 0; i < r.readLength; ++i) read[i] = static_cast<uint8_t>(0x40 + i);
    return true;
  }
  I2cRequest last;
  std::vector<uint8_t> written;
};

TEST(Machine, StatusAnswersGenerationAndVersionWithTheRequestsSeq) {
  sim::Machine m;
  m.generation = 5, m.major = 3, m.minor = 5;
  Packet p(8, 0x4321, sim::kCmdGetStatus);
  uint8_t r[100];
  ASSERT_EQ(m.process(p.b, 8, r, sizeof r), sim::kStatusResponseLen);
  EXPECT_EQ(r[0], sim::kStatusResponseLen);
  EXPECT_EQ(r[2] | (r[3] << 8), 0x4321);
  EXPECT_EQ(r[4], 0x02);
  EXPECT_EQ(rd32(r, 8), 0u);
  EXPECT_EQ(r[16], 5);
  EXPECT_EQ(r[17], 3);
  EXPECT_EQ(r[71], 5);
  // Unknown commands and malformed headers are refused with an error code.
  Packet unknown(8, 1, 0x77);
  m.process(unknown.b, 8, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), sim::kErrUnknownCommand);
  Packet lying(12, 1, sim::kCmdGetStatus);
  m.process(lying.b, 8, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), sim::kErrBadRequest);
}

TEST(Machine, AccessRequestsKeepOneLockPerEngineAndAddress) {
  sim::Machine m;
  uint8_t r[68];
  auto run = [&](uint16_t action, uint32_t target) {
    Packet p = access(action, target);
    m.process(p.b, 20, r, sizeof r);
    return rd32(r, 8);
  };
  EXPECT_EQ(run(1, 0x00020040), 0u);
  EXPECT_TRUE(m.isLocked(2, 0x40));
  EXPECT_FALSE(m.isLocked(2, 0x42));
  EXPECT_FALSE(m.isLocked(3, 0x40));
  EXPECT_EQ(run(0, 0x00020040), 0u);
  EXPECT_EQ(rd32(r, 12), 1u);
  EXPECT_EQ(run(0, 0x00030040), 0u);
  EXPECT_EQ(rd32(r, 12), 0u);
  EXPECT_EQ(run(2, 0x00020040), 0u);
  EXPECT_FALSE(m.isLocked(2, 0x40));
  ASSERT_EQ(m.accessLog.size(), 4u);
  EXPECT_EQ(m.accessLog[0].action, 1);
  EXPECT_EQ(m.accessLog[0].engine, 2);
  EXPECT_EQ(m.accessLog[0].address, 0x40);
  EXPECT_EQ(m.accessLog[0].value, 1200u);
  // Bits outside the engine and address fields, an unknown action or request code: refused.
  EXPECT_EQ(run(1, 0x01020040), sim::kErrBadRequest);
  EXPECT_EQ(run(1, 0x00021040), sim::kErrBadRequest);
  EXPECT_EQ(run(3, 0x00020040), sim::kErrBadRequest);
  Packet p = access(1, 0x00020040);
  p.u16(8, 4);
  m.process(p.b, 20, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), sim::kErrBadRequest);
  EXPECT_FALSE(m.isLocked(2, 0x40));
}

TEST(Machine, LockFaultsSplitTheAnswerFromWhatHappens) {
  sim::Machine m;
  uint8_t r[68];
  // In turn on one device: each fault switched on for one command, the answer and the lock after.
  const struct {
    int sim::Faults::*fault;
    uint16_t action;  // 1 lock, 2 unlock
    uint32_t answer;
    bool locked;
  } steps[] = {
      {&sim::Faults::lockIgnored, 1, 0u, false},
      {&sim::Faults::lockReportsError, 1, sim::kErrAccessRefused, true},
      {&sim::Faults::unlockIgnored, 2, 0u, true},
      {&sim::Faults::unlockReportsError, 2, sim::kErrAccessRefused, false},
  };
  for (const auto &step : steps) {
    m.faults.*step.fault = 1;
    Packet command = access(step.action, 0x00010010);
    m.process(command.b, 20, r, sizeof r);
    EXPECT_EQ(rd32(r, 8), step.answer) << step.action;
    EXPECT_EQ(m.isLocked(1, 0x10), step.locked) << step.action;
  }
}

TEST(Machine, I2cTransactionsReachTheDeviceWithTagAndLockState) {
  sim::Machine m;
  auto dev = std::make_shared<Recorder>();
  m.bus.attach(3, 0xEC, dev);
  m.setLocked(3, 0xEC, true);
  uint8_t r[57];
  Packet p = i2c(3, 0xEC, {0x66, 0x01}, 4, true);
  ASSERT_EQ(m.process(p.b, 57, r, sizeof r), 57u);
  EXPECT_EQ(rd32(r, 8), 0u);
  EXPECT_EQ(r[24], 4);
  EXPECT_EQ(r[25], 0x40);
  EXPECT_EQ(r[28], 0x43);
  EXPECT_EQ(dev->written, (std::vector<uint8_t>{0x66, 0x01}));
  EXPECT_TRUE(dev->last.lockedTag);
  EXPECT_TRUE(dev->last.lockHeld);
  EXPECT_EQ(dev->last.engine, 3);

  Packet q = i2c(3, 0xEC, {0x66}, 0, false);
  m.setLocked(3, 0xEC, false);
  m.process(q.b, 57, r, sizeof r);
  EXPECT_FALSE(dev->last.lockedTag);
  EXPECT_FALSE(dev->last.lockHeld);

  Packet nobody = i2c(3, 0xE4, {0x00, 0x01}, 0, false);
  m.process(nobody.b, 57, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), sim::kErrNak);

  ASSERT_EQ(m.transactions.size(), 3u);
  EXPECT_EQ(m.transactions[0].read, (std::vector<uint8_t>{0x40, 0x41, 0x42, 0x43}));
  EXPECT_TRUE(m.transactions[0].lockedTag);
  EXPECT_FALSE(m.transactions[2].acked);
  EXPECT_EQ(m.transactionsOn(3, 0xEC).size(), 2u);

  Packet tooLong = i2c(3, 0xEC, {}, 33, false);
  m.process(tooLong.b, 57, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), sim::kErrBadRequest);
  EXPECT_EQ(m.transactions.size(), 3u);
}

TEST(Machine, CommandFaultsAndShortReads) {
  sim::Machine m;
  m.bus.attach(0, 0xAE, std::make_shared<sim::RegisterDevice>(2));
  m.faults.commandErrors[sim::kCmdI2cTransaction] = {5, 1};
  uint8_t r[57];
  Packet p = i2c(0, 0xAE, {0x00, 0x12}, 4, false);
  m.process(p.b, 57, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), 5u);
  EXPECT_TRUE(m.transactions.empty());  // refused, not carried out
  m.process(p.b, 57, r, sizeof r);
  EXPECT_EQ(rd32(r, 8), 0u);

  m.faults.shortRead = 1;
  m.process(p.b, 57, r, sizeof r);
  EXPECT_EQ(r[24], 3);
  m.faults.shortRead = 1;
  m.faults.shortReadLength = 40;
  m.process(p.b, 57, r, sizeof r);
  EXPECT_EQ(r[24], 40);
  m.process(p.b, 57, r, sizeof r);
  EXPECT_EQ(r[24], 4);
}

class SimChannelTest : public ::testing::Test {
 protected:
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel lib{machine};
  void *handle = nullptr;
  void open() {
    ASSERT_EQ(lib.initialize(0), 0u);
    ASSERT_EQ(lib.create(0, &handle, 2, 4096, 2, 4096, 0, nullptr), 0u);
  }
  uint32_t send(Packet &p) {
    uint32_t st = 99;
    lib.send(handle, p.b, p.b[0], &st, 0);
    return st;
  }
  uint32_t recv(uint8_t *buf, uint32_t cap, uint32_t *received) {
    uint32_t st = 99, wait = 20000;
    *received = lib.recv(handle, buf, cap, &st, &wait);
    return st;
  }
};

TEST_F(SimChannelTest, OrderOfCallsAndHandles) {
  EXPECT_EQ(lib.create(0, &handle, 2, 4096, 2, 4096, 0, nullptr), sim::kStatusNotInitialized);
  machine.faults.initializeStatus = 9;
  EXPECT_EQ(lib.initialize(0), 9u);
  machine.faults.initializeStatus = 0;
  machine.faults.createStatus = 11;
  EXPECT_EQ(lib.initialize(0), 0u);
  EXPECT_EQ(lib.create(0, &handle, 2, 4096, 2, 4096, 0, nullptr), 11u);
  EXPECT_EQ(handle, nullptr);
  machine.faults.createStatus = 0;
  open();
  EXPECT_NE(handle, nullptr);
  Packet p(8, 0, sim::kCmdGetStatus);
  uint32_t st = 0;
  lib.send(reinterpret_cast<void *>(0x1234), p.b, 8, &st, 0);
  EXPECT_EQ(st, sim::kStatusBadHandle);
  EXPECT_EQ(lib.close(handle), 0u);
  EXPECT_EQ(send(p), sim::kStatusBadHandle);
  EXPECT_EQ(lib.close(handle), sim::kStatusBadHandle);
}

TEST_F(SimChannelTest, StampsSequenceNumbersAndAnswersWithThem) {
  open();
  lib.nextSeq = 0x0100;
  Packet a(8, 0, sim::kCmdGetStatus), b(8, 0, sim::kCmdGetStatus);
  ASSERT_EQ(send(a), 0u);
  ASSERT_EQ(send(b), 0u);
  EXPECT_EQ(a.b[2] | (a.b[3] << 8), 0x0100);
  EXPECT_EQ(b.b[2] | (b.b[3] << 8), 0x0101);
  uint8_t r[100];
  uint32_t n = 0;
  ASSERT_EQ(recv(r, sizeof r, &n), 0u);
  EXPECT_EQ(n, sim::kStatusResponseLen);
  EXPECT_EQ(r[2] | (r[3] << 8), 0x0100);
  ASSERT_EQ(recv(r, sizeof r, &n), 0u);
  EXPECT_EQ(r[2] | (r[3] << 8), 0x0101);
  EXPECT_EQ(recv(r, sizeof r, &n), 21u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(lib.lastWait, 20000u);
}

TEST_F(SimChannelTest, FaultSwitchesOfTheLibrary) {
  open();
  uint8_t r[100];
  uint32_t n = 0;
  Packet p(8, 0, sim::kCmdGetStatus);
  machine.faults.sendBusy = 2;
  EXPECT_EQ(send(p), 20u);
  EXPECT_EQ(send(p), 20u);
  EXPECT_EQ(lib.pending(), 0);
  EXPECT_EQ(send(p), 0u);

  machine.faults.recvNothing = 1;
  EXPECT_EQ(recv(r, sizeof r, &n), 21u);
  machine.faults.outOfSequence = 1;
  ASSERT_EQ(recv(r, sizeof r, &n), 0u);
  EXPECT_NE(r[2] | (r[3] << 8), p.b[2] | (p.b[3] << 8));
  EXPECT_EQ(lib.pending(), 1);
  machine.faults.runt = 1;
  machine.faults.runtLength = 40;
  ASSERT_EQ(recv(r, sizeof r, &n), 0u);
  EXPECT_EQ(n, 40u);
  EXPECT_EQ(r[0], sim::kStatusResponseLen);

  ASSERT_EQ(send(p), 0u);
  machine.faults.overReport = 1;
  ASSERT_EQ(recv(r, 50, &n), 0u);
  EXPECT_GT(n, 50u);

  ASSERT_EQ(send(p), 0u);
  machine.faults.recvErrors = 1;
  EXPECT_EQ(recv(r, sizeof r, &n), sim::kStatusIoError);

  machine.faults.nullStatusText = true;
  EXPECT_EQ(lib.statusMessage(20), nullptr);
  machine.faults.nullStatusText = false;
  EXPECT_STREQ(lib.statusMessage(21), "No packet received");
}

TEST_F(SimChannelTest, AFullReceiveQueueDropsItsOldestResponse) {
  open();  // two receive packets
  Packet a(8, 0, sim::kCmdGetStatus), b(8, 0, sim::kCmdGetStatus), c(8, 0, sim::kCmdGetStatus);
  send(a), send(b), send(c);
  EXPECT_EQ(lib.pending(), 2);
  uint8_t r[100];
  uint32_t n = 0;
  recv(r, sizeof r, &n);
  EXPECT_EQ(r[2], b.b[2]);
}

TEST_F(SimChannelTest, LatencySleepsThroughThePlatformPerResponse) {
  open();
  machine.latencyMs = 3;
  Packet p(8, 0, sim::kCmdGetStatus);
  send(p);
  uint8_t r[100];
  uint32_t n = 0;
  recv(r, sizeof r, &n);
  recv(r, sizeof r, &n);  // nothing there: no wait
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{3}));
}

TEST(Description, ConfiguresProcessorFaultsAndLocks) {
  sim::Machine m;
  sim::configureMachine(m, nlohmann::json::parse(R"({
    "processor": {"generation": 5, "major": 3, "minor": 5},
    "latency_ms": 2,
    "faults": {"send_busy": 3, "recv_nothing": -1, "runt_length": 17, "null_status_text": true,
               "short_read": 1, "short_read_length": "0x28", "lock_ignored": 2,
               "initialize_status": 7,
               "command_errors": [{"cmd": "0x72", "code": 5}, {"cmd": 2, "code": 9, "count": 1}]},
    "locks": [{"engine": 2, "address": "0x40"}],
    "os": {"anything": "the platform reads"}
  })"));
  EXPECT_EQ(m.generation, 5);
  EXPECT_EQ(m.major, 3);
  EXPECT_EQ(m.minor, 5);
  EXPECT_EQ(m.latencyMs, 2u);
  EXPECT_EQ(m.faults.sendBusy, 3);
  EXPECT_EQ(m.faults.recvNothing, -1);
  EXPECT_EQ(m.faults.runtLength, 17u);
  EXPECT_TRUE(m.faults.nullStatusText);
  EXPECT_EQ(m.faults.shortReadLength, 40);
  EXPECT_EQ(m.faults.lockIgnored, 2);
  EXPECT_EQ(m.faults.initializeStatus, 7u);
  EXPECT_EQ(m.faults.commandErrors[0x72].code, 5u);
  EXPECT_EQ(m.faults.commandErrors[0x72].count, -1);
  EXPECT_EQ(m.faults.commandErrors[2].count, 1);
  EXPECT_TRUE(m.isLocked(2, 0x40));

  sim::Machine plain;
  sim::configureMachine(plain, nlohmann::json::object());
  EXPECT_EQ(plain.generation, 4);
  EXPECT_EQ(plain.major, 2);
  EXPECT_EQ(plain.minor, 20);
}

TEST(Description, BadValuesAndFilesAreRefusedWithAReason) {
  for (const char *text : {R"({"processor": {"major": 256}})", R"({"processor": {"minor": -1}})",
                           R"({"faults": {"send_busy": "x"}})", R"({"faults": {"runt": -2}})",
                           R"({"faults": {"command_errors": [{"code": 1}]}})",
                           R"({"processor": [4]})", R"([1, 2])", R"({"locks": {}})"}) {
    sim::Machine m;
    EXPECT_ANY_THROW(sim::configureMachine(m, nlohmann::json::parse(text))) << text;
  }
  tal::os::ScratchDir dir;
  std::string error;
  sim::Machine m;
  EXPECT_FALSE(sim::loadMachineDescription(m, dir.file("missing.json"), &error));
  EXPECT_NE(error.find("missing.json"), std::string::npos);
  tal::os::ScratchDir::write(dir.file("broken.json"), "{\"processor\": ");
  EXPECT_FALSE(sim::loadMachineDescription(m, dir.file("broken.json"), &error));
  tal::os::ScratchDir::write(dir.file("ok.json"), R"({"processor": {"generation": 6}})");
  EXPECT_TRUE(sim::loadMachineDescription(m, dir.file("ok.json"), &error));
  EXPECT_EQ(m.generation, 6);
}

}  // namespace
