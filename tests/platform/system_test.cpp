// The system's identity and free disk space: the real answers, and the machine description of
// the native host.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "fake_platform.h"

namespace tal::os {
namespace {

TEST(SystemIdentityReal, IsAn64BitNtSystem) {
  SystemIdentity id;
  id.platformId = 0;
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.platformId, 2u);
  EXPECT_EQ(id.architecture, 9);  // AMD64 (the Windows build runs as x64 under wine)
  EXPECT_GE(id.major, 6u);
}

TEST(FreeDisk, TheScratchVolumeHasRoomAndAMissingPathHasNone) {
  ScratchDir scratch;
  uint64_t bytes = 0;
  ASSERT_TRUE(defaultPlatform().freeDiskBytes(fromUtf8(scratch.path()), bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(defaultPlatform().freeDiskBytes(fromUtf8(scratch.file("no/such/folder")), bytes));
}

TEST(FakeSystem, AnswersWhatTheTestChose) {
  FakePlatform fake;
  fake.identity.major = 6;
  fake.identity.productType = 8;
  SystemIdentity id;
  ASSERT_TRUE(sys().systemIdentity(id));
  EXPECT_EQ(id.major, 6u);
  EXPECT_EQ(id.productType, 8u);
  fake.identityAvailable = false;
  EXPECT_FALSE(sys().systemIdentity(id));
  uint64_t bytes = 0;
  fake.freeDisk = 1234;
  ASSERT_TRUE(sys().freeDiskBytes(L"C:\\", bytes));
  EXPECT_EQ(bytes, 1234u);
  fake.freeDisk = -2;
  EXPECT_FALSE(sys().freeDiskBytes(L"C:\\", bytes));
}

#ifndef _WIN32

class MachineDescription : public ::testing::Test {
 protected:
  void describe(const std::string &json) {
    ScratchDir::write(scratch.file("machine.json"), json);
    setenv("TAL_MACHINE", scratch.file("machine.json").c_str(), 1);
  }
  void TearDown() override { unsetenv("TAL_MACHINE"); }
  ScratchDir scratch;
};

TEST_F(MachineDescription, WithoutOneTheHostIsAPlainServer) {
  unsetenv("TAL_MACHINE");
  SystemIdentity id;
  id.major = 0;
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.platformId, 2u);
  EXPECT_EQ(id.architecture, 9);
  EXPECT_EQ(id.major, 10u);
  EXPECT_EQ(id.minor, 0u);
  EXPECT_EQ(id.productType, 7u);
  EXPECT_FALSE(id.serverR2);
  describe("{\"segments\": []}");  // a description without "os" changes nothing
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.major, 10u);
  EXPECT_EQ(id.productType, 7u);
}

TEST_F(MachineDescription, OsKeysOverrideOneByOne) {
  describe(R"({"os": {"major": 6, "minor": 1, "product_type": 8, "server_r2": true}})");
  SystemIdentity id;
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.major, 6u);
  EXPECT_EQ(id.minor, 1u);
  EXPECT_EQ(id.productType, 8u);
  EXPECT_TRUE(id.serverR2);
  EXPECT_EQ(id.architecture, 9);  // not given: the default
  EXPECT_EQ(id.servicePackMajor, 0u);
  describe(R"({"os": {"architecture": 0, "platform_id": 1, "build": 7601, "service_pack": 1}})");
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.servicePackMajor, 1u);
  EXPECT_EQ(id.architecture, 0);
  EXPECT_EQ(id.platformId, 1u);
  EXPECT_EQ(id.build, 7601u);
  EXPECT_EQ(id.major, 10u);
}

TEST_F(MachineDescription, BadValuesAndBadFilesLeaveTheDefaults) {
  describe(R"({"os": {"major": -1, "minor": "one", "architecture": 70000, "server_r2": 1,
               "product_type": 8}})");
  SystemIdentity id;
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.major, 10u);
  EXPECT_EQ(id.minor, 0u);
  EXPECT_EQ(id.architecture, 9);
  EXPECT_FALSE(id.serverR2);
  EXPECT_EQ(id.productType, 8u);  // the good key still counts
  for (const char *bad : {"{\"os\": 5}", "[1, 2]", "{\"os\": {\"major\": 6", ""}) {
    describe(bad);
    ASSERT_TRUE(defaultPlatform().systemIdentity(id)) << bad;
    EXPECT_EQ(id.major, 10u) << bad;
  }
  setenv("TAL_MACHINE", scratch.file("missing.json").c_str(), 1);
  ASSERT_TRUE(defaultPlatform().systemIdentity(id));
  EXPECT_EQ(id.major, 10u);
}

TEST_F(MachineDescription, FreeDiskBytesComeFromTheDescriptionWhenGiven) {
  describe(R"({"disk": {"free_bytes": 5000000000}})");
  uint64_t bytes = 0;
  ASSERT_TRUE(defaultPlatform().freeDiskBytes(L"C:\\", bytes));
  EXPECT_EQ(bytes, 5000000000u);
  describe(R"({"disk": {"free_bytes": "lots"}})");
  ASSERT_TRUE(defaultPlatform().freeDiskBytes(fromUtf8(scratch.path()), bytes));
  EXPECT_NE(bytes, 5000000000u);  // the real volume's answer
}

#endif  // _WIN32

}  // namespace
}  // namespace tal::os
