// Channel captures: what the recorder keeps of SMBIOS, and a recorded run played back.
#include "tal/capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "channel_fixture.h"
#include "sim/replay.h"
#include "sim/smbios.h"
#include "smbios.h"

namespace {

using sim::SmbiosBuilder;

std::string tempPath(const char *name) {
  return testing::TempDir() + "capture_" + name + "_" + std::to_string(::getpid()) + ".jsonl";
}

bool contains(const std::vector<uint8_t> &bytes, const std::string &text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(CaptureSmbios, KeepsWhatDiscoveryReadsAndNothingThatNamesTheMachine) {
  // Type 1: maker (1), product (2), version (3), serial (4), UUID 8..23, SKU (5), family (6).
  std::vector<uint8_t> system = {1, 2, 3, 4};
  for (int i = 0; i < 16; ++i) system.push_back(static_cast<uint8_t>(0xA0 + i));
  system.insert(system.end(), {6, 5, 6});
  SmbiosBuilder b;
  b.record(1, 0x0001, system, {"Maker Inc", "TS-900", "v1", "SER-4711", "SKU-9", "Fam"})
      .record(2, 0x0002, {1, 2}, {"Board", "BOARD-SER-1"})  // baseboard: not needed
      .record(203, 0x0200, {0x55, 0x66, 0x00, 0x03, 0xB5, 0x10, 0x49, 0x87, 0x77, 0x88},
              {"slot label"})
      .record(203, 0x0201, {0, 0, 0x01, 0x03, 0x86, 0x80, 0x34, 0x12})
      .i2cMap(0x0300, 3)
      .i2cMap(0x0301, 5)
      .i2cMap(0x0302, 9)  // named by no correlation record
      .end();
  const std::vector<uint8_t> cut = tal::os::smbiosForCapture(b.rsmb());

  for (const char *secret : {"Maker", "SER-4711", "SKU-9", "Fam", "BOARD-SER", "slot label"}) {
    EXPECT_FALSE(contains(cut, secret)) << secret;
  }
  EXPECT_FALSE(contains(cut, std::string("\xA0\xA1\xA2", 3))) << "the UUID";

  SmbiosTable t(false);
  ASSERT_TRUE(t.loadRaw(cut));
  EXPECT_EQ(t.systemName(), "TS-900");
  EXPECT_EQ(t.findByType(2, 0), nullptr);
  const SmbiosTable::Record *first = t.findByType(203, 0);
  const SmbiosTable::Record *second = t.findByType(203, 1);
  ASSERT_TRUE(first && second);
  uint16_t vendor = 0, device = 0, map = 0, extra = 1;
  EXPECT_TRUE(t.readWord(first, 8, vendor) && t.readWord(first, 10, device));
  EXPECT_TRUE(t.readWord(first, 6, map) && t.readWord(first, 12, extra));
  EXPECT_EQ(vendor, 0x10B5);
  EXPECT_EQ(device, 0x8749);
  EXPECT_EQ(extra, 0) << "bytes past the device ID are zeroed";
  uint8_t segment = 0;
  ASSERT_NE(t.findByHandle(map), nullptr);
  EXPECT_TRUE(t.readByte(t.findByHandle(map), 4, segment));
  EXPECT_EQ(segment, 3);
  EXPECT_NE(t.findByHandle(0x0301), nullptr);
  EXPECT_EQ(t.findByHandle(0x0302), nullptr);
  EXPECT_NE(t.findByType(127, 0), nullptr);
}

TEST(CaptureSmbios, UnusableTablesGiveNothing) {
  const std::vector<uint8_t> good = SmbiosBuilder().systemInfo("X").end().table();
  const struct {
    const char *what;
    std::vector<uint8_t> raw;
  } cases[] = {
      {"empty", {}},
      {"header only, length past the end", SmbiosBuilder::wrapRsmb({}, 100)},
      {"length beyond the data", SmbiosBuilder::wrapRsmb(good, good.size() + 1)},
      {"record shorter than its header", SmbiosBuilder::wrapRsmb({1, 2, 0, 0, 0, 0})},
      {"string set never ends", SmbiosBuilder::wrapRsmb({1, 4, 0, 0, 'a', 'b'})},
  };
  for (const auto &c : cases) EXPECT_TRUE(tal::os::smbiosForCapture(c.raw).empty()) << c.what;
}

// Records one run of the engine's transport over the simulator, then plays it back.
class CaptureReplay : public ChannelTest {
 protected:
  void record(const std::string &path) {
    machine.faults.recvNothing = 1;  // a retry, so that statuses other than 0 are recorded
    FILE *out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    tal::os::ChannelRecorder recorder(channel, out, {"1.2.3.4", "2025-01-01T00:00:00Z", "x"});
    fake.channel = &recorder;
    ASSERT_TRUE(openChannel());
    recorder.smbios(SmbiosBuilder().systemInfo("TS-900").end().rsmb());
    for (uint8_t cmd : {2, 2}) answers.push_back(status(cmd));
    closeChannel();
    EXPECT_EQ(recorder.failure(), "");
  }
  // GET_STATUS: its result and response.
  std::string status(uint8_t cmd) {
    uint8_t request[8] = {8, 0, 0, 0, cmd, 0, 0, 0};
    uint8_t response[100] = {};
    const uint32_t result = exchangePacket(request, response, sizeof response);
    return std::to_string(result) + ":" + tal::os::toHex(response + 4, 72 - 4);
  }
  std::vector<std::string> answers;
};

TEST_F(CaptureReplay, AnswersAsRecordedAndStopsAtTheFirstDifference) {
  const std::string path = tempPath("replay");
  record(path);
  sim::Capture capture;
  std::string error;
  ASSERT_TRUE(sim::readCapture(path, capture, &error)) << error;
  EXPECT_EQ(capture.plugin, "1.2.3.4");
  EXPECT_TRUE(capture.hasSmbios);

  {  // the same calls: the same answers
    sim::ReplayChannel replay(capture);
    fake.channel = &replay;
    ASSERT_TRUE(openChannel());
    EXPECT_EQ(status(2), answers[0]);
    EXPECT_EQ(status(2), answers[1]);
    closeChannel();
    EXPECT_FALSE(replay.diverged());
    EXPECT_EQ(replay.replayed(), capture.calls.size());
  }
  {  // another command: diverges there, and every later call fails
    sim::ReplayChannel replay(capture);
    fake.channel = &replay;
    ASSERT_TRUE(openChannel());
    testing::internal::CaptureStderr();
    EXPECT_EQ(status(3).substr(0, 3), "24:");
    EXPECT_EQ(status(2).substr(0, 3), "24:") << "a call after the divergence";
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("replay diverged at call 3 ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    closeChannel();
  }
  std::remove(path.c_str());
}

TEST(CaptureRead, RefusesWhatIsNotACaptureWithTheLine) {
  const std::string header =
      R"({"format":"tal-channel-capture","version":1,"plugin":"","time":"","command_line":""})";
  const struct {
    std::string text, expect;
  } cases[] = {
      {"", "line 0"},
      {R"({"format":"other","version":1})", "line 1"},
      {R"({"format":"tal-channel-capture","version":2})", "format version 2"},
      {header + "\nnot json", "line 2: not a JSON object"},
      {header + "\n" + R"({"call":"send","length":2,"request":"0g00","result":0})", "not hex"},
      {header + "\n" + R"({"call":"send","length":3,"request":"0000","result":0})", "length"},
      {header + "\n" + R"({"call":"recv","capacity":1,"count":2,"response":"0000"})", "capacity"},
      {header + "\n" + R"({"call":"reboot","result":0})", "unknown call"},
      {header + "\n" + R"({"call":"close","result":-1})", "result"},
  };
  const std::string path = tempPath("bad");
  for (const auto &c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
    sim::Capture capture;
    std::string error;
    EXPECT_FALSE(sim::readCapture(path, capture, &error)) << c.text;
    EXPECT_NE(error.find(c.expect), std::string::npos) << error;
  }
  std::remove(path.c_str());
}

}  // namespace
