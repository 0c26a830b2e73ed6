// Firmware image files: header fields, the header check, refusal of damaged
// files before any device access, the payload, and the task choice.
#include <cstring>

#include "flash_fixture.h"

namespace flashtest {
namespace {

using FwFile = FlashFixture;

std::string header(const std::vector<std::pair<size_t, uint8_t>> &bytes, size_t size = 40) {
  std::string s(size, '\0');
  for (auto &b : bytes) s[b.first] = static_cast<char>(b.second);
  return s;
}

TEST(FlashCodes, CrcCheckValueAndUnlockCode) {
  const char *digits = "123456789";
  EXPECT_EQ(vlte::crc16(reinterpret_cast<const uint8_t *>(digits), 9), 0x31C3);
  EXPECT_EQ(vlte::crc16(nullptr, 0), 0);
  uint8_t seq[5];
  vlte::unlockSequence(seq);
  EXPECT_EQ(seq[0], 0x00) << "the register byte comes first";
  EXPECT_EQ(0, std::memcmp(seq + 1, sim::kLoaderUnlockCode, 4))
      << "the loader model expects the task's code";
}

TEST_F(FwFile, HeaderFieldsAndCheck) {
  std::string img = imageBytes(2, 2, makePayload(10), 1, 5);
  auto task = createFlashTask(2, kSegment, kCpldAddr, writeImage("i.bin", img), 0);
  FwHeaderInfo info = task->parseFwFile();
  EXPECT_EQ(info.headerLen, 40);
  EXPECT_EQ(info.headerVer, 1);
  EXPECT_EQ(info.strFwName, "VeltoI");
  EXPECT_EQ(info.strFwRev, "1.5");
  EXPECT_EQ(info.strDeviceId, "LCMXO2-4000HC-4MG132C");
  EXPECT_EQ(info.strIsp, "LCMXO2-4000HC-4MG132C");
  EXPECT_TRUE(checkFwHeader(info, 2));
  EXPECT_FALSE(checkFwHeader(info, 1)) << "a Velto-I image is no Velto-E image";
  EXPECT_TRUE(logHas("parseFwFile: i.bin size:50\n"));
  EXPECT_TRUE(logHas("Wrong firmware file header.\n"));

  // ISP length above 21 counts as 21; 0 gives an empty text that matches no
  // chip.
  std::string longIsp = header({{0, 40}, {2, 1}, {16, 9}, {18, 30}});
  for (int i = 0; i < 21; ++i) longIsp[19 + i] = static_cast<char>('A' + i);
  auto t1 = createFlashTask(1, kSegment, kLoaderAddr, writeImage("l.bin", longIsp), 0);
  FwHeaderInfo l = t1->parseFwFile();
  EXPECT_EQ(l.strIsp, "ABCDEFGHIJKLMNOPQRSTU");
  EXPECT_EQ(l.strDeviceId, "Invalid");
  std::string noIsp = header({{0, 40}, {2, 1}, {16, 1}, {18, 0}, {19, 'E'}});
  auto t2 = createFlashTask(1, kSegment, kLoaderAddr, writeImage("n.bin", noIsp), 0);
  FwHeaderInfo n = t2->parseFwFile();
  EXPECT_EQ(n.strIsp, "");
  EXPECT_FALSE(checkFwHeader(n, 1));
  // A zero byte ends the text early.
  std::string shortIsp = header({{0, 40}, {2, 1}, {16, 1}, {18, 15}, {19, 'E'}, {20, 'P'}});
  auto t3 = createFlashTask(1, kSegment, kLoaderAddr, writeImage("s.bin", shortIsp), 0);
  EXPECT_EQ(t3->parseFwFile().strIsp, "EP");
}

TEST_F(FwFile, TheIspTextMustBeTheChipsExactly) {
  // An image made for another part of the family, or a text that only resembles the chip's, is
  // refused: the ISP text is compared byte for byte, letter case included.
  struct Row {
    const char *isp;
    bool accepted;
  };
  const Row rows[] = {
      {"LCMXO2-4000HC-4MG132C", true},
      {"lcmxo2-4000hc-4mg132c", false},
      {"LCMXO2-4000HC-4MG132c", false},
      {"LCMXO2-4000HC-4MG132", false},
      {"LCMXO2-7000HC-4MG132C", false},
      {" LCMXO2-4000HC-4MG132C", false},
      {"", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.isp);
    uint8_t h[fwimg::kHeaderSize];
    fwimg::encodeHeader(h, 1, 2, 1, 5, 2, row.isp);
    std::string img(reinterpret_cast<char *>(h), sizeof h);
    auto task = createFlashTask(2, kSegment, kCpldAddr, writeImage("isp.bin", img + "payload"), 0);
    EXPECT_EQ(checkFwHeader(task->parseFwFile(), 2), row.accepted);
  }
}

// Files without a usable header are refused with the header lines and touch no
// device.
TEST_F(FwFile, DamagedFilesAreRefusedBeforeAnyDeviceAccess) {
  struct Case {
    const char *name;
    std::string bytes;
    const char *headerInfo;
  };
  const Case cases[] = {
      {"ff.bin", header({{0, 255}, {2, 1}}, 100),
       "header info: headerLen: 255 headerVer: 0 strFwName:  strFwRev:  "
       "\nstrDeviceId:: "
       "\nstrIsp     ::\n"},
      {"zero.bin", header({{0, 0}, {2, 1}}, 100), "header info: headerLen: 0 headerVer: 0"},
      {"short.bin", header({{0, 40}, {2, 1}, {16, 1}}, 20),
       "header info: headerLen: 40 headerVer: 0 strFwName:  "},
      {"long.bin", header({{0, 200}, {2, 1}, {16, 1}, {18, 15}}, 100),
       "header info: headerLen: 200 headerVer: 0 strFwName:  "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string b = c.bytes;
    if (std::string(c.name) == "long.bin") std::memcpy(&b[19], "EP4CGX15BF14C6N", 15);
    auto task = createFlashTask(1, kSegment, kLoaderAddr, writeImage(c.name, b), 0);
    EXPECT_EQ(task->Flash(), -1);
    expectInOrder({"FlashTaskVeltoE::Flash starts...\n",
                   "parseFwFile: " + std::string(c.name) + " size:" + std::to_string(b.size()),
                   c.headerInfo, "Wrong firmware file header.\n",
                   "checkFwHeader failed: " + std::string(c.name) + "\n"});
  }
  auto missing = createFlashTask(2, kSegment, kCpldAddr, "missing.bin", 0);
  EXPECT_EQ(missing->Flash(), -1);
  EXPECT_TRUE(logHas("parseFwFile: Opening input file failed: missing.bin\n"));
  auto empty = createFlashTask(1, kSegment, kLoaderAddr, writeImage("empty.bin", ""), 0);
  EXPECT_EQ(empty->Flash(), -1);
  EXPECT_TRUE(machine.transactions.empty());
  EXPECT_TRUE(machine.accessLog.empty());
}

TEST_F(FwFile, PayloadIsTheRestOfTheFile) {
  auto task = std::make_unique<FlashTaskVeltoE>(kSegment, kLoaderAddr,
                                                writeImage("e.bin", imageBytes(1, 1, {})), 0, 1);
  ASSERT_TRUE(task->initFlashing());
  EXPECT_EQ(task->payloadSize(), 0u);
  EXPECT_TRUE(logHas("firmware file: e.bin size:40\n"));
  EXPECT_TRUE(logHas("payload image size:0\n"));

  // headerLen beyond 40: the payload starts there.
  std::string img = imageBytes(1, 1, makePayload(60));
  img[0] = 50;
  auto t2 =
      std::make_unique<FlashTaskVeltoE>(kSegment, kLoaderAddr, writeImage("h.bin", img), 0, 1);
  ASSERT_TRUE(t2->initFlashing());
  ASSERT_EQ(t2->payloadSize(), 50u);
  EXPECT_EQ(0, std::memcmp(t2->payload(), img.data() + 50, 50));
}

TEST_F(FwFile, VeltoIPayloadLimit) {
  auto fits = std::make_unique<FlashTaskVeltoI>(
      kSegment, kCpldAddr, writeImage("fit.bin", imageBytes(2, 2, makePayload(104432))), 1, 2);
  ASSERT_TRUE(fits->initFlashing());
  EXPECT_EQ(fits->portMask(), 2);
  Bytes p = makePayload(104432);
  EXPECT_EQ(0, std::memcmp(fits->cfgBuffer(), p.data(), 92160));
  EXPECT_EQ(0, std::memcmp(fits->ufmBuffer(), p.data() + 92160, 12272));

  auto big = createFlashTask(2, kSegment, kCpldAddr,
                             writeImage("big.bin", imageBytes(2, 2, makePayload(104433))), 0);
  EXPECT_EQ(big->Flash(), -1);
  expectInOrder({"payload image size:104433\n",
                 "setupFwPages: payload size 104433 exceeds the limit of 104432 bytes\n",
                 "setupFwPages error\n"});
  EXPECT_TRUE(machine.transactions.empty());
  EXPECT_TRUE(machine.accessLog.empty());
}

TEST_F(FwFile, TaskChoiceByType) {
  auto e = createFlashTask(1, 3, 0x82, "a.bin", 4);
  ASSERT_NE(dynamic_cast<FlashTaskVeltoE *>(e.get()), nullptr);
  EXPECT_EQ(e->engine(), 3);
  EXPECT_EQ(e->address(), 0x82);
  EXPECT_EQ(e->deviceIndex(), 4);
  EXPECT_EQ(e->deviceType(), 1);
  EXPECT_EQ(e->fwPath(), "a.bin");
  EXPECT_EQ(e->payload(), nullptr);
  EXPECT_NE(dynamic_cast<FlashTaskVeltoI *>(createFlashTask(2, 3, 0x80, "b", 0).get()), nullptr);
  EXPECT_EQ(createFlashTask(3, 3, 0x80, "c", 0), nullptr);
  EXPECT_EQ(createFlashTask(0, 3, 0x80, "c", 0), nullptr);
  EXPECT_STREQ(deviceTypeName(4), "TBD-Marvet");
  EXPECT_STREQ(deviceTypeName(7), "Invalid");
  EXPECT_STREQ(chipName(3), "ATSAMD20J18A");
  EXPECT_STREQ(chipName(0), "Invalid");
}

}  // namespace
}  // namespace flashtest
