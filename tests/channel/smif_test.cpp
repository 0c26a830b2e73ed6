// SMIF commands against the simulated processor: what goes into each request, what is taken from
// each response, and what is refused.
#include <cstring>

#include "channel_fixture.h"
#include "state.h"

namespace {

class Smif : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    open();
    eeprom = std::make_shared<sim::RegisterDevice>(2);
    machine.bus.attach(1, kAddrFru, eeprom);
  }
  std::shared_ptr<sim::RegisterDevice> eeprom;
};

TEST_F(Smif, StatusGivesGenerationAndVersion) {
  machine.generation = 5, machine.major = 3, machine.minor = 5;
  uint8_t app = 0, major = 0, minor = 0;
  ASSERT_TRUE(getOstStatus(&app, &major, &minor));
  EXPECT_EQ(app, 5);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 5);
  EXPECT_EQ(channel.lastSent.size(), 8u);
  EXPECT_EQ(getU16(channel.lastSent.data(), 4), 0x0002);
}

TEST_F(Smif, StatusFailuresLeaveTheCallersBytesAlone) {
  uint8_t app = 0xAA, major = 0xAA, minor = 0xAA;
  machine.faults.commandErrors[SMIFCMD_GET_STATUS] = {5, 1};
  EXPECT_FALSE(getOstStatus(&app, &major, &minor));
  machine.faults.sendErrors = 1;
  EXPECT_FALSE(getOstStatus(&app, &major, &minor));
  // A response that ends before the generation byte carries no version.
  channel.tamper = [](uint8_t *bytes, uint32_t &length) {
    putU16(bytes, 0, 40);
    length = 40;
  };
  EXPECT_FALSE(getOstStatus(&app, &major, &minor));
  EXPECT_EQ(app, 0xAA);
  EXPECT_EQ(major, 0xAA);
  EXPECT_EQ(minor, 0xAA);
}

TEST_F(Smif, EveryCommandNumbersItsRequestFromTheCounterWhateverTheOutcome) {
  uint8_t a, b, c;
  getOstStatus(&a, &b, &c);
  check_i2c_locked(1, 0x10);
  machine.faults.sendErrors = 1;
  I2CTransaction(1, kAddrFru, nullptr, 0, nullptr, 0, false);
  EXPECT_EQ(engineState().channel.sequence, 3);
  engineState().channel.sequence = 0xFFFF;
  getOstStatus(&a, &b, &c);
  EXPECT_EQ(engineState().channel.sequence, 0);
}

TEST_F(Smif, AccessRequestsPackTheTargetAndTheValue) {
  EXPECT_EQ(smifAccessTarget(2, 0x40), 0x00020040u);
  EXPECT_EQ(smifAccessTarget(0xFF, 0xFF), 0x00FF00FFu);
  ASSERT_EQ(setI2cAccess(2, 0x40, true, 1200), 0u);
  const uint8_t *sent = channel.lastSent.data();
  ASSERT_EQ(channel.lastSent.size(), 20u);
  EXPECT_EQ(getU16(sent, 0), 20);
  EXPECT_EQ(getU16(sent, 4), 0x008C);
  EXPECT_EQ(getU16(sent, 6), 0);
  EXPECT_EQ(getU16(sent, 8), 5);
  EXPECT_EQ(getU16(sent, 10), ACCESS_LOCK);
  EXPECT_EQ(getU32(sent, 12), 1200u);
  EXPECT_EQ(getU32(sent, 16), 0x00020040u);
  EXPECT_TRUE(machine.isLocked(2, 0x40));
  EXPECT_TRUE(check_i2c_locked(2, 0x40));
  EXPECT_EQ(getU16(channel.lastSent.data(), 10), ACCESS_QUERY);
  EXPECT_EQ(getU32(channel.lastSent.data(), 12), 1200u);
  EXPECT_FALSE(check_i2c_locked(2, 0x41));
  ASSERT_EQ(setI2cAccess(2, 0x40, false, 1200), 0u);
  EXPECT_EQ(getU16(channel.lastSent.data(), 10), ACCESS_UNLOCK);
  EXPECT_FALSE(machine.isLocked(2, 0x40));
}

TEST_F(Smif, AccessFailures) {
  machine.faults.lockReportsError = 1;
  EXPECT_EQ(setI2cAccess(2, 0x40, true, 1200), 42u);
  machine.faults.sendErrors = 1;
  EXPECT_EQ(setI2cAccess(2, 0x40, false, 1200), sim::kStatusIoError);
  // A query that gets nothing back reads as not locked.
  machine.faults.recvNothing = 4;
  EXPECT_FALSE(check_i2c_locked(2, 0x40));
}

TEST_F(Smif, I2cRequestCarriesTagAddressEngineLengthsAndData) {
  const uint8_t data[3] = {0x10, 0x20, 0x30};
  ASSERT_EQ(i2cWrite(1, kAddrFru, data, 3, true), 0u);
  const uint8_t *sent = channel.lastSent.data();
  ASSERT_EQ(channel.lastSent.size(), 57u);
  EXPECT_EQ(getU16(sent, 0), 57);
  EXPECT_EQ(getU16(sent, 4), 0x0072);
  EXPECT_EQ(getU32(sent, 8), 0u);
  EXPECT_EQ(std::memcmp(sent + 12, "TKarsen", 8), 0);
  EXPECT_EQ(getU16(sent, 20), kAddrFru);
  EXPECT_EQ(sent[22], 1);
  EXPECT_EQ(sent[23], 3);
  EXPECT_EQ(sent[24], 0);
  EXPECT_EQ(std::memcmp(sent + 25, data, 3), 0);
  for (int i = 28; i < 57; ++i) EXPECT_EQ(sent[i], 0) << i;
  EXPECT_EQ(eeprom->peek(0x1020), 0x30);

  i2cWrite(1, kAddrFru, data, 3, false);
  EXPECT_EQ(std::memcmp(channel.lastSent.data() + 12, "Morvane", 8), 0);
  ASSERT_EQ(machine.transactions.size(), 2u);
  EXPECT_TRUE(machine.transactions[0].lockedTag);
  EXPECT_FALSE(machine.transactions[1].lockedTag);
}

TEST_F(Smif, ShortcutsWriteTheirBytes) {
  auto ctrl = std::make_shared<sim::RegisterDevice>(1, 0);
  auto select = std::make_shared<sim::RegisterDevice>(1, 0);
  machine.bus.attach(1, kAddrSwitchCtrl, ctrl);
  machine.bus.attach(1, kAddrPortSelect, select);
  EXPECT_EQ(setHandshake(1, kAddrSwitchCtrl, 1, false), 0u);
  EXPECT_EQ(ctrl->peek(0x66), 1);
  EXPECT_EQ(selectVltiPort(1, kAddrPortSelect, portMaskForIdx(2), false), 0u);
  EXPECT_EQ(select->peek(0x00), 4);
  ASSERT_EQ(machine.transactions.size(), 2u);
  EXPECT_EQ(machine.transactions[0].write, (std::vector<uint8_t>{0x66, 0x01}));
  EXPECT_EQ(machine.transactions[1].write, (std::vector<uint8_t>{0x00, 0x04}));
  EXPECT_EQ(portMaskForIdx(0), 1);
  EXPECT_EQ(portMaskForIdx(1), 2);
  EXPECT_EQ(portMaskForIdx(3), 0);
  EXPECT_EQ(portMaskForIdx(-1), 0);
}

TEST_F(Smif, ReadsCopyExactlyTheBytesAsked) {
  std::vector<uint8_t> name(32);
  for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<uint8_t>('a' + i % 26);
  eeprom->poke(0x0012, name);
  uint8_t buffer[33];
  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(readFromOffset0012(1, kAddrFru, buffer, 32, false), 0u);
  EXPECT_EQ(std::memcmp(buffer, name.data(), 32), 0);
  EXPECT_EQ(buffer[32], 0xEE);
  EXPECT_EQ(machine.transactions.back().write, (std::vector<uint8_t>{0x00, 0x12}));
  EXPECT_EQ(machine.transactions.back().readLength, 32u);

  // A null buffer takes nothing.
  EXPECT_EQ(I2CTransaction(1, kAddrFru, nullptr, 0, nullptr, 4, false), 0u);
}

TEST_F(Smif, AReadLengthOtherThanAskedFailsAndCopiesNothing) {
  uint8_t buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  const uint8_t offset[2] = {0, 0};
  machine.faults.shortRead = 1;
  machine.faults.shortReadLength = 2;
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), 42u);
  machine.faults.shortRead = 1;
  machine.faults.shortReadLength = 40;  // more than any transaction carries
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), 42u);
  machine.faults.shortRead = 1;
  machine.faults.shortReadLength = 5;  // more than asked
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), 42u);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0xEE);
  // With nothing to read the returned length is not looked at.
  machine.faults.shortRead = 1;
  machine.faults.shortReadLength = 9;
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, nullptr, 0, false), 0u);
}

TEST_F(Smif, ReadDataBeyondTheResponsesLengthIsNotTaken) {
  uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const uint8_t offset[2] = {0, 0};
  channel.tamper = [](uint8_t *bytes, uint32_t &length) {
    putU16(bytes, 0, 27);  // two of the four data bytes
    length = 57;
  };
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), 42u);
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(Smif, ErrorCodesNaksAndBadLengths) {
  uint8_t buffer[4];
  const uint8_t offset[2] = {0, 0};
  machine.faults.commandErrors[SMIFCMD_I2C_TRANSACTION] = {5, 1};
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), 42u);
  EXPECT_EQ(I2CTransaction(1, 0x22, offset, 2, buffer, 4, false), 42u);  // nobody there
  machine.faults.recvNothing = 4;
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), 42u);
  machine.faults.sendErrors = 1;
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, buffer, 4, false), sim::kStatusIoError);

  // Lengths a transaction cannot carry never reach the channel.
  const int sends = channel.sendCalls;
  uint8_t big[33] = {};
  EXPECT_EQ(I2CTransaction(1, kAddrFru, big, 33, nullptr, 0, false), 39u);
  EXPECT_EQ(I2CTransaction(1, kAddrFru, offset, 2, big, 33, false), 39u);
  EXPECT_EQ(I2CTransaction(1, kAddrFru, nullptr, 2, nullptr, 0, false), 39u);
  EXPECT_EQ(channel.sendCalls, sends);
  EXPECT_EQ(I2CTransaction(1, kAddrFru, big, 32, big, 32, false), 0u);
}

TEST_F(Smif, LockIsTakenAfterTwoSecondsAndTheSecondQueryDecides) {
  EXPECT_EQ(lockDeviceAccess(2, 0x40, 1200), 0);
  EXPECT_TRUE(machine.isLocked(2, 0x40));
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{2000}));
  ASSERT_EQ(machine.accessLog.size(), 3u);
  EXPECT_EQ(machine.accessLog[0].action, ACCESS_QUERY);
  EXPECT_EQ(machine.accessLog[1].action, ACCESS_LOCK);
  EXPECT_EQ(machine.accessLog[1].value, 1200u);
  EXPECT_EQ(machine.accessLog[2].action, ACCESS_QUERY);

  // Already locked: no lock command, no pause.
  fake.sleeps.clear();
  EXPECT_EQ(lockDeviceAccess(2, 0x40, 1200), 0);
  EXPECT_EQ(machine.accessLog.size(), 4u);
  EXPECT_TRUE(fake.sleeps.empty());

  // The command's own answer does not decide; the second query does.
  machine.faults.lockReportsError = 1;
  EXPECT_EQ(lockDeviceAccess(3, 0x40, 1200), 0);
  machine.faults.lockIgnored = 1;
  EXPECT_EQ(lockDeviceAccess(4, 0x40, 1200), -1);
  EXPECT_FALSE(machine.isLocked(4, 0x40));
}

TEST_F(Smif, UnlockIsReleasedAfterTwoSecondsAndTheSecondQueryDecides) {
  EXPECT_EQ(unlockDeviceAccess(2, 0x40, 1200), 0);  // not locked: nothing to do
  EXPECT_EQ(machine.accessLog.size(), 1u);
  EXPECT_TRUE(fake.sleeps.empty());

  machine.setLocked(2, 0x40, true);
  EXPECT_EQ(unlockDeviceAccess(2, 0x40, 1200), 0);
  EXPECT_FALSE(machine.isLocked(2, 0x40));
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{2000}));
  EXPECT_EQ(machine.accessLog[2].action, ACCESS_UNLOCK);

  machine.setLocked(2, 0x40, true);
  machine.faults.unlockReportsError = 1;
  EXPECT_EQ(unlockDeviceAccess(2, 0x40, 1200), 0);

  // An unlock the processor ignores is sent again, three times in all.
  machine.setLocked(2, 0x40, true);
  machine.faults.unlockIgnored = 2;
  fake.sleeps.clear();
  EXPECT_EQ(unlockDeviceAccess(2, 0x40, 1200), 0);
  EXPECT_FALSE(machine.isLocked(2, 0x40));
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{2000, 2000, 2000}));
  machine.setLocked(2, 0x40, true);
  machine.faults.unlockIgnored = -1;
  EXPECT_EQ(unlockDeviceAccess(2, 0x40, 1200), -1);
  EXPECT_TRUE(machine.isLocked(2, 0x40));
  machine.faults.unlockIgnored = 0;

  // A query without an answer is not "unlocked": the unlock goes out all the same, and a
  // verification without an answer is not a success.
  for (int answerLost : {0, 2}) {
    SCOPED_TRACE(answerLost);
    machine.setLocked(2, 0x40, true);
    machine.accessLog.clear();
    machine.faults.headerOnlyLen = 1;
    machine.faults.headerOnlyAfter = answerLost;
    EXPECT_EQ(unlockDeviceAccess(2, 0x40, 1200), 0);
    EXPECT_FALSE(machine.isLocked(2, 0x40));
    int unlocks = 0;
    for (const auto &a : machine.accessLog) unlocks += a.action == ACCESS_UNLOCK;
    EXPECT_EQ(unlocks, answerLost == 0 ? 1 : 2);
  }
}

}  // namespace
