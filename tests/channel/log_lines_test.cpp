// What the channel and the SMIF commands write to the engine log, line by line.
#include <cstring>

#include "channel_fixture.h"
#include "state.h"

namespace {

using testlog::stamped;
using ChannelLog = ChannelTest;

TEST_F(ChannelLog, OpeningAndClosing) {
  fake.channelPresent = false;
  EXPECT_FALSE(openChannel());
  EXPECT_EQ(log(), stamped({"Setup is unable to load a setup DLL: TalCi.dll\n"}));

  clearLog();
  fake.channelPresent = true;
  machine.faults.initializeStatus = 9;
  EXPECT_FALSE(openChannel());
  EXPECT_EQ(log(),
            stamped({"TalCi.dll found\n", "Initialize the channel interface failed: 9\r\n"}));

  clearLog();
  machine.faults.initializeStatus = 0;
  machine.faults.createStatus = 11;
  EXPECT_FALSE(openChannel());
  EXPECT_EQ(log(), stamped({"TalCi.dll found\n", "Initialize the channel interface success.\n",
                            "\nCIERROR: Unknown channel status\r\n"}));

  clearLog();
  machine.faults.createStatus = 0;
  EXPECT_TRUE(openChannel());
  EXPECT_EQ(log(), stamped({"TalCi.dll found\n", "Initialize the channel interface success.\n",
                            "TalCiCreate() success.\n  2 send packets, packet size = 4096\n"
                            "  2 recv packets, packet size = 4096\n"}));

  clearLog();
  closeChannel();
  EXPECT_EQ(log(), stamped({"Connection to target channel closed.\n"}));
  clearLog();
  engineState().channel.handle =
      reinterpret_cast<void *>(0x55);  // a handle the library does not know
  closeChannel();
  EXPECT_EQ(log(), stamped({"channel interface close failed: 4\n"}));
}

TEST_F(ChannelLog, SendRetriesAreNumberedTenDownToOne) {
  open();
  Request<8> request;
  machine.faults.sendBusy = 10;
  sendPacket(request.b);
  std::string expected;
  for (int left = 10; left >= 1; --left) {
    expected += stamped({"Send queue full, Re-try Send " + std::to_string(left) + " \n"});
  }
  expected += stamped({"Send Command failed: Send queue full\n"});
  EXPECT_EQ(log(), expected);

  clearLog();
  machine.faults.sendBusy = 1;
  sendPacket(request.b);
  EXPECT_EQ(log(), stamped({"Send queue full, Re-try Send 10 \n"}));
}

TEST_F(ChannelLog, ReceiveRetriesRuntsAndStaleResponses) {
  open();
  uint8_t response[100];
  Request<8> status;
  machine.faults.recvNothing = 1;
  EXPECT_EQ(exchangePacket(status.b, response, sizeof response), 0u);
  EXPECT_EQ(log(), stamped({"Received Command failed: No packet received\n",
                            "Retry CMD:0x02 LEN:0x08 SEQ:0\n", "Retrying Recv: 0\n"}));

  clearLog();
  channel.nextSeq = 0x00AB;
  machine.faults.outOfSequence = 1;
  Request<8> again;
  EXPECT_EQ(exchangePacket(again.b, response, sizeof response), 0u);
  EXPECT_EQ(log(),
            stamped({"Out of sequence response (00AB/00AA)\n", "CMD:0x02 LEN:0x08 SEQ:0\n"}));

  clearLog();
  Request<57> i2c(57, 0x72);
  machine.faults.runt = 1;
  machine.faults.runtLength = 40;
  EXPECT_EQ(exchangePacket(i2c.b, response, 57), 22u);
  EXPECT_EQ(log(), stamped({"Recv: Runt packet (Header length = 57):(Return Length = 40)\n",
                            "Received Command failed: Runt packet\n"}));
}

TEST_F(ChannelLog, ReceiveRetriesCountEveryReceiveOfTheExchange) {
  open();
  uint8_t response[100];
  // The one answer arrives with another sequence number; after it nothing more comes.
  int receives = 0;
  channel.tamper = [&receives](uint8_t *bytes, uint32_t &) {
    if (receives++ == 0) putU16(bytes, 2, static_cast<uint16_t>(getU16(bytes, 2) + 7));
  };
  channel.nextSeq = 0x0010;
  Request<8> request;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 42u);
  std::string expected =
      stamped({"Out of sequence response (0010/0017)\n", "CMD:0x02 LEN:0x08 SEQ:0\n"});
  for (int n = 1; n <= 3; ++n) {
    expected +=
        stamped({"Received Command failed: No packet received\n", "Retry CMD:0x02 LEN:0x08 SEQ:0\n",
                 "Retrying Recv: " + std::to_string(n) + "\n"});
  }
  EXPECT_EQ(log(), expected);
  EXPECT_EQ(channel.recvCalls, 4);
  EXPECT_EQ(channel.sendCalls, 1);
}

TEST_F(ChannelLog, AMissingStatusTextIsLoggedEmpty) {
  open();
  machine.faults.nullStatusText = true;
  machine.faults.sendErrors = 1;
  Request<8> request;
  sendPacket(request.b);
  machine.faults.createStatus = 3;
  createChannel();
  EXPECT_EQ(log(), stamped({"Send Command failed: \n", "\nCIERROR: \r\n"}));
}

class SmifLog : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    open();
    eeprom = std::make_shared<sim::RegisterDevice>(2);
    eeprom->poke(0x0012, {1, 2, 3, 4});
    machine.bus.attach(1, kAddrFru, eeprom);
  }
  // Reads the four bytes at 0x0012 of the FRU EEPROM into `buffer`.
  uint32_t read4() { return readFromOffset0012(1, kAddrFru, buffer, 4, false); }
  std::shared_ptr<sim::RegisterDevice> eeprom;
  uint8_t buffer[4] = {};
  // That read's request as the log's dumps show it.
  const std::string readRequest = "I2C: E:0x01 A:0xae WL:2 DT: 0x00 0x12 \n";
};

TEST_F(SmifLog, LevelOneTracesEachTransactionWithByteDumps) {
  setLogLevel(1);
  ASSERT_EQ(read4(), 0u);
  EXPECT_EQ(log(), stamped({"CMD:0x72 LEN:0x39 SEQ:0 RSP ERR:0\n", readRequest,
                            "RSP: EC:0 RL:4 DT: 0x01 0x02 0x03 0x04 \n"}));

  clearLog();
  setLogLevel(0);
  ASSERT_EQ(read4(), 0u);
  EXPECT_EQ(log(), "");
}

TEST_F(SmifLog, TheThirdCommandShowsSequenceTwo) {
  setLogLevel(1);
  uint8_t a, b, c;
  for (int i = 0; i < 3; ++i) getOstStatus(&a, &b, &c);
  EXPECT_EQ(engineState().channel.sequence, 3);
  const std::string status = "EX: Ost Major Version: 2 Minor Version: 20 application: 4\n";
  EXPECT_EQ(log(), stamped({"CMD:0x02 LEN:0x08 SEQ:0 RSP ERR:0\n", status,
                            "CMD:0x02 LEN:0x08 SEQ:1 RSP ERR:0\n", status,
                            "CMD:0x02 LEN:0x08 SEQ:2 RSP ERR:0\n", status}));
}

TEST_F(SmifLog, AnErrorCodeGivesTheCommandLineAndTheFailureDump) {
  machine.faults.commandErrors[SMIFCMD_I2C_TRANSACTION] = {5, -1};
  EXPECT_EQ(read4(), 42u);
  const std::string dump = stamped({"CMD:0x72 LEN:0x39 SEQ:0\n", "SmifCommand: ErrorCode = 5\n",
                                    "I2CTransaction: SMIFCMD_I2C_TRANSACTION failed\n", readRequest,
                                    "RSP: ERR:5 RL:4 DT: 0x00 0x00 0x00 0x00 \n"});
  EXPECT_EQ(log(), dump);

  clearLog();
  setLogLevel(1);
  engineState().channel.sequence = 0;
  EXPECT_EQ(read4(), 42u);
  EXPECT_EQ(log(), stamped({"CMD:0x72 LEN:0x39 SEQ:0 RSP ERR:5\n"}) + dump);
}

TEST_F(SmifLog, AShortReadGivesTheFailureDump) {
  machine.faults.shortRead = 1;
  machine.faults.shortReadLength = 2;
  EXPECT_EQ(read4(), 42u);
  EXPECT_EQ(log(), stamped({"I2CTransaction: SMIFCMD_I2C_TRANSACTION failed\n", readRequest,
                            "RSP: ERR:0 RL:4 DT: 0x01 0x02 0x00 0x00 \n"}));

  clearLog();
  machine.faults.sendErrors = 1;
  EXPECT_EQ(read4(), sim::kStatusIoError);
  EXPECT_EQ(log(), stamped({"Send Command failed: Channel I/O error\n",
                            "I2CTransaction: SMIFCMD_I2C_TRANSACTION failed\n", readRequest,
                            "RSP: ERR:0 RL:4 DT: 0x00 0x00 0x00 0x00 \n"}));
}

TEST_F(SmifLog, CommandFailureLines) {
  uint8_t a, b, c;
  machine.faults.sendErrors = 3;
  getOstStatus(&a, &b, &c);
  check_i2c_locked(2, 0x40);
  setI2cAccess(2, 0x40, false, 1200);
  const std::string send = "Send Command failed: Channel I/O error\n";
  EXPECT_EQ(log(), stamped({send, "SMIFCMD_GET_STATUS failed\n", send,
                            "SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST:  check_i2c_locked failed\n",
                            send, "SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST:  unlock_i2c failed\n"}));
}

// One lock or unlock of device 0x40 on a segment, with a fault switched on first (none: null),
// what it answers and the messages it logs.
struct AccessStep {
  bool lock;
  uint8_t segment;
  int sim::Faults::*fault;
  int result;
  std::vector<std::string> messages;
};

TEST_F(SmifLog, LockAndUnlockSayWhatTheyDidAndWhatTheQueryFound) {
  auto run = [this](const std::vector<AccessStep> &steps) {
    for (const AccessStep &s : steps) {
      clearLog();
      if (s.fault) machine.faults.*s.fault = 1;
      EXPECT_EQ(s.lock ? lockDeviceAccess(s.segment, 0x40, 1200)
                       : unlockDeviceAccess(s.segment, 0x40, 1200),
                s.result);
      EXPECT_EQ(log(), stamped(s.messages));
    }
  };
  const std::string lockSent = "Device Access is NOT locked: now sending lock command\n";
  const std::string unlockSent = "Device Access locked: now sending unlock command\n";
  run({
      {true,
       2,
       nullptr,
       0,
       {lockSent, "lock command success\n", "verified lock command. success\n"}},
      {true, 2, nullptr, 0, {"Device access ALREADY locked\n"}},
      {false,
       2,
       nullptr,
       0,
       {unlockSent, "unlock command success\n", "verified un-lock command. success\n"}},
      {false, 2, nullptr, 0, {"Device Access ALREADY unlocked\n"}},
  });
  engineState().channel.sequence = 0;
  run({
      {true,
       3,
       &sim::Faults::lockReportsError,
       0,
       {lockSent, "CMD:0x8c LEN:0x14 SEQ:1\n", "SmifCommand: ErrorCode = 4\n",
        "SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST:  lock_i2c failed\n", "lock command FAILED\n",
        "verified lock command. success\n"}},
      {true,
       4,
       &sim::Faults::lockIgnored,
       -1,
       {lockSent, "lock command success\n", "verified lock command. failed\n"}},
      // An unlock the query does not confirm is sent again.
      {false,
       3,
       &sim::Faults::unlockIgnored,
       0,
       {unlockSent, "unlock command success\n", "verified un-lock command. failed\n",
        "unlockDeviceAccess: trying again (2 of 3)\n", unlockSent, "unlock command success\n",
        "verified un-lock command. success\n"}},
  });
}

}  // namespace
