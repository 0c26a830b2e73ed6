// The channel transport over the in-process simulator: opening, closing, the send retries, the
// receive retries, runts and sequence numbers, and responses that do not fit what was received.
#include "channel_fixture.h"
#include "state.h"

namespace {

using Transport = ChannelTest;

TEST_F(Transport, OpeningWaitsHalfASecondThenInitialisesAndCreatesOneChannel) {
  fake.nowMs = 1000;
  ASSERT_TRUE(openChannel());
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{500}));
  EXPECT_EQ(channel.initializeAtMs, 1500u);
  EXPECT_EQ(channel.initializeCalls, 1);
  EXPECT_EQ(channel.initializeArg, 0u);
  EXPECT_EQ(channel.createCalls, 1);
  EXPECT_EQ(channel.lastCreate.arg, 0u);
  EXPECT_EQ(channel.lastCreate.sendCount, 2u);
  EXPECT_EQ(channel.lastCreate.sendSize, 4096u);
  EXPECT_EQ(channel.lastCreate.recvCount, 2u);
  EXPECT_EQ(channel.lastCreate.recvSize, 4096u);
  EXPECT_EQ(channel.lastCreate.flags, 0u);
  EXPECT_EQ(channel.lastCreate.reserved, nullptr);
  EXPECT_EQ(engineState().channel.handle, static_cast<void *>(&channel));
}

TEST_F(Transport, OpeningStopsAtTheFirstFailure) {
  fake.channelPresent = false;
  EXPECT_EQ(initChannelInterface(0), 1u);
  EXPECT_FALSE(openChannel());
  EXPECT_EQ(channel.initializeCalls + channel.createCalls, 0);
  EXPECT_TRUE(fake.sleeps.empty());

  fake.channelPresent = true;
  machine.faults.initializeStatus = 9;
  EXPECT_FALSE(openChannel());
  EXPECT_EQ(channel.initializeCalls, 1);
  EXPECT_EQ(channel.createCalls, 0);
  EXPECT_EQ(initChannelInterface(7), 9u);
  EXPECT_EQ(channel.initializeArg, 7u);  // handed over unchanged

  machine.faults.initializeStatus = 0;
  machine.faults.createStatus = 11;
  engineState().channel.handle = reinterpret_cast<void *>(0x55);
  EXPECT_FALSE(openChannel());
  EXPECT_EQ(createChannel(), 11u);
  EXPECT_EQ(engineState().channel.handle, reinterpret_cast<void *>(0x55));  // left as it was
}

TEST_F(Transport, ClosingOnlyAnOpenChannelAndOnlyOnce) {
  closeChannel();
  EXPECT_EQ(channel.closeCalls, 0);
  open();
  closeChannel();
  EXPECT_EQ(channel.closeCalls, 1);
  EXPECT_FALSE(channel.isOpen());
  EXPECT_EQ(engineState().channel.handle, nullptr);
  closeChannel();
  EXPECT_EQ(channel.closeCalls, 1);
}

TEST_F(Transport, RequestsTooShortOrMissingAreNotSent) {
  open();
  Request<8> seven(7);
  EXPECT_EQ(sendPacket(seven.b), 39u);
  EXPECT_EQ(sendPacket(nullptr), 39u);
  uint8_t response[64];
  EXPECT_EQ(exchangePacket(seven.b, response, sizeof response), 39u);
  EXPECT_EQ(exchangePacket(nullptr, response, sizeof response), 39u);
  EXPECT_EQ(channel.sendCalls, 0);
}

TEST_F(Transport, TenBusySendsWithFiftyMsPausesThenTheStatus) {
  open();
  Request<8> request;
  machine.faults.sendBusy = 10;
  EXPECT_EQ(sendPacket(request.b), 20u);
  EXPECT_EQ(channel.sendCalls, 10);
  EXPECT_EQ(fake.sleeps, std::vector<uint32_t>(10, 50));

  // Busy once: one pause, then the second send goes.
  fake.sleeps.clear();
  machine.faults.sendBusy = 1;
  EXPECT_EQ(sendPacket(request.b), 0u);
  EXPECT_EQ(channel.sendCalls, 12);
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{50}));

  // Nine busy sends still leave the tenth.
  machine.faults.sendBusy = 9;
  EXPECT_EQ(sendPacket(request.b), 0u);
}

TEST_F(Transport, OtherSendFailuresEndTheExchangeAtOnce) {
  open();
  Request<8> request;
  uint8_t response[100];
  machine.faults.sendErrors = 1;
  machine.faults.sendErrorStatus = 23;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 23u);
  EXPECT_EQ(channel.sendCalls, 1);
  EXPECT_EQ(channel.recvCalls, 0);
  EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(Transport, AResponseBufferUnderTwelveBytesIsRefusedAfterTheSend) {
  open();
  Request<8> request;
  uint8_t response[11];
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 39u);
  EXPECT_EQ(exchangePacket(request.b, nullptr, 100), 39u);
  EXPECT_EQ(channel.sendCalls, 2);
  EXPECT_EQ(channel.recvCalls, 0);
}

TEST_F(Transport, TheResponseMatchesTheSequenceNumberTheLibraryStamped) {
  open();
  channel.nextSeq = 0x1234;
  Request<8> request;
  uint8_t response[100] = {};
  ASSERT_EQ(exchangePacket(request.b, response, sizeof response), 0u);
  EXPECT_EQ(getU16(request.b, 2), 0x1234);
  EXPECT_EQ(getU16(response, 2), 0x1234);
  EXPECT_EQ(response[71], 4);
  EXPECT_EQ(channel.recvCalls, 1);
  EXPECT_EQ(channel.lastWait, 20000u);
}

TEST_F(Transport, AtMostFourReceivesForNothingYetAndStaleResponses) {
  open();
  uint8_t response[100];
  // Requests in turn, each after these faults: what the exchange answers and the receives made
  // so far (a stale response or nothing yet: another receive, four at the most).
  const struct {
    int outOfSequence, recvNothing;
    uint32_t status;
    int receives;
  } steps[] = {{3, 0, 0u, 4}, {1, 2, 0u, 8}, {4, 0, 42u, 12}, {0, 4, 42u, 16}};
  for (const auto &step : steps) {
    Request<8> request;
    machine.faults.outOfSequence = step.outOfSequence;
    machine.faults.recvNothing = step.recvNothing;
    EXPECT_EQ(exchangePacket(request.b, response, sizeof response), step.status);
    EXPECT_EQ(channel.recvCalls, step.receives);
    if (step.status == 0) {
      EXPECT_EQ(getU16(response, 2), getU16(request.b, 2));
    }
  }
  // The responses left behind by the last two requests are queued ahead (the oldest fell out
  // of the two receive slots): the first is passed over.
  Request<8> request;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 0u);
  EXPECT_EQ(channel.recvCalls, 18);
  EXPECT_EQ(channel.sendCalls, 5);   // each request sent once
  EXPECT_TRUE(fake.sleeps.empty());  // receives do not pause
}

TEST_F(Transport, OtherReceiveFailuresEndTheExchange) {
  open();
  Request<8> request;
  uint8_t response[100];
  machine.faults.recvErrors = 1;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), sim::kStatusIoError);
  EXPECT_EQ(channel.recvCalls, 1);
}

TEST_F(Transport, ResponsesShorterThanTheirLengthAreRunts) {
  open();
  uint8_t response[64];
  Request<57> request(57, 0x72);
  machine.faults.runt = 1;
  machine.faults.runtLength = 40;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 22u);
  EXPECT_EQ(channel.recvCalls, 1);

  // A LEN beyond the buffer can never have been received whole.
  channel.tamper = [](uint8_t *bytes, uint32_t &) { putU16(bytes, 0, 200); };
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 22u);

  // Too short to carry the error code, whatever its LEN says.
  channel.tamper = [](uint8_t *bytes, uint32_t &length) {
    putU16(bytes, 0, 8);
    length = 8;
  };
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 22u);

  // A LEN that does not cover the error code, however many bytes came: whatever lies past LEN
  // belongs to no response.
  for (uint16_t len : {0, 8, 11}) {
    SCOPED_TRACE(len);
    channel.tamper = [len](uint8_t *bytes, uint32_t &) { putU16(bytes, 0, len); };
    EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 22u);
  }
  channel.tamper = nullptr;

  // The processor's own header-only answer (LEN 8 in a response of the usual size, the command
  // not carried out) ends the exchange at its one receive.
  machine.faults.headerOnlyLen = 1;
  const int recvs = channel.recvCalls;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 22u);
  EXPECT_EQ(channel.recvCalls, recvs + 1);
  EXPECT_EQ(machine.faults.headerOnlyLen, 0);
}

TEST_F(Transport, AReceiveClaimingMoreThanTheBufferIsBelievedUpToTheBuffer) {
  open();
  Request<57> request(57, 0x72);
  // The 72-byte status response does not fit 60 bytes: 60 arrive, the claim is more.
  Request<8> status;
  uint8_t response[60];
  machine.faults.overReport = 2;
  EXPECT_EQ(exchangePacket(status.b, response, sizeof response), 22u);
  // The 57-byte I2C response fits: the surplus claim does not matter.
  uint8_t big[64];
  machine.bus.attach(0, 0x50, std::make_shared<sim::RegisterDevice>());
  putU16(request.b, 20, 0x50);
  EXPECT_EQ(exchangePacket(request.b, big, sizeof big), 0u);
}

TEST_F(Transport, ALibraryWithoutStatusTextsIsSurvived) {
  open();
  machine.faults.nullStatusText = true;
  Request<8> request;
  uint8_t response[100];
  machine.faults.sendBusy = 10;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 20u);
  machine.faults.runt = 1;
  EXPECT_EQ(exchangePacket(request.b, response, sizeof response), 22u);
  machine.faults.createStatus = 3;
  EXPECT_EQ(createChannel(), 3u);
}

}  // namespace
