// What the simulated Windows host supplies on Linux: the SMBIOS table, file versions, time texts.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cwctype>

#include "fake_platform.h"

namespace tal::os {
namespace {

class SmbiosFile : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("TAL_SMBIOS_TABLE"); }
  ScratchDir scratch;
};

TEST_F(SmbiosFile, TheNamedFileIsReturnedByteForByte) {
  // Header: calling method, major, minor, revision, length (little-endian), then the table.
  std::string raw("\x00\x03\x04\x00\x07\x00\x00\x00", 8);
  raw += std::string("\x7F\x04\x00\x00\x00\x00\x00", 7);  // type 127 (end), length 4, no strings
  ScratchDir::write(scratch.file("table.bin"), raw);
  setenv("TAL_SMBIOS_TABLE", scratch.file("table.bin").c_str(), 1);
  const std::vector<uint8_t> table = defaultPlatform().rawSmbiosTable();
  EXPECT_EQ(std::string(table.begin(), table.end()), raw);
  EXPECT_EQ(table[4], 7);
}

TEST_F(SmbiosFile, AHeaderLengthThatDisagreesIsPassedOnUnchanged) {
  // The reader of the table checks the length; the seam neither trusts nor repairs it.
  std::string raw("\x00\x03\x04\x00\xFF\xFF\x00\x00\x01\x02", 10);
  ScratchDir::write(scratch.file("bad.bin"), raw);
  setenv("TAL_SMBIOS_TABLE", scratch.file("bad.bin").c_str(), 1);
  const std::vector<uint8_t> table = defaultPlatform().rawSmbiosTable();
  EXPECT_EQ(std::string(table.begin(), table.end()), raw);
}

TEST_F(SmbiosFile, AMissingOrEmptyFileGivesNoTable) {
  setenv("TAL_SMBIOS_TABLE", scratch.file("missing.bin").c_str(), 1);
  EXPECT_TRUE(defaultPlatform().rawSmbiosTable().empty());
  ScratchDir::write(scratch.file("empty.bin"), "");
  setenv("TAL_SMBIOS_TABLE", scratch.file("empty.bin").c_str(), 1);
  EXPECT_TRUE(defaultPlatform().rawSmbiosTable().empty());
}

TEST_F(SmbiosFile, WithoutTheVariableLinuxsOwnTableGetsAWindowsHeader) {
  unsetenv("TAL_SMBIOS_TABLE");
  const std::vector<uint8_t> table = defaultPlatform().rawSmbiosTable();
  if (table.empty()) GTEST_SKIP() << "this machine's DMI table is not readable";
  ASSERT_GE(table.size(), 8u);
  const uint32_t length = table[4] | table[5] << 8 | table[6] << 16 | uint32_t(table[7]) << 24;
  EXPECT_EQ(length, table.size() - 8);
}

TEST(FileVersionNative, ReadFromTheVersionFileBesideIt) {
  ScratchDir scratch;
  Platform &os = defaultPlatform();
  const std::wstring exe = fromUtf8(scratch.file("talhost"));
  FileVersion v;
  EXPECT_FALSE(os.fileVersion(exe, v));  // no file at all
  ScratchDir::write(scratch.file("talhost"), "ELF");
  EXPECT_FALSE(os.fileVersion(exe, v));  // a file without version
  ScratchDir::write(scratch.file("talhost.version"), "1.0.65535.7\n");
  ASSERT_TRUE(os.fileVersion(exe, v));
  EXPECT_EQ(v.part[0], 1);
  EXPECT_EQ(v.part[1], 0);
  EXPECT_EQ(v.part[2], 65535);
  EXPECT_EQ(v.part[3], 7);
  ScratchDir::write(scratch.file("talhost.version"), "2.10");
  ASSERT_TRUE(os.fileVersion(exe, v));
  EXPECT_EQ(v.part[0], 2);
  EXPECT_EQ(v.part[1], 10);
  EXPECT_EQ(v.part[2], 0);
  // Malformed texts are no version (the previous answer stays).
  for (const char *bad : {"", "1.2.3.4.5", "1.65536", "1..2", "1.2x", "v1", "-1.0", "1. 2"}) {
    ScratchDir::write(scratch.file("talhost.version"), bad);
    EXPECT_FALSE(os.fileVersion(exe, v)) << bad;
  }
  EXPECT_EQ(v.part[1], 10);
}

TEST(TimeNative, TextsHaveTheirFixedForms) {
  Platform &os = defaultPlatform();
  const std::wstring time = os.localTimeText();
  ASSERT_EQ(time.size(), 8u);
  EXPECT_EQ(time[2], L':');
  EXPECT_EQ(time[5], L':');
  const std::wstring date = os.localShortDateText();  // mm/dd/yy
  ASSERT_EQ(date.size(), 8u);
  EXPECT_EQ(date[2], L'/');
  EXPECT_EQ(date[5], L'/');
  for (size_t i : {0, 1, 3, 4, 6, 7}) EXPECT_TRUE(iswdigit(date[i])) << i;
}

TEST(TimeNative, SleepsLastAtLeastWhatTheySay) {
  Platform &os = defaultPlatform();
  const uint64_t start = os.monotonicMs();
  os.sleepMs(20);
  EXPECT_GE(os.monotonicMs() - start, 20u);
}

// The stand-in library beside the test program (tests/platform/stub) exports five of the six
// functions; each call must reach it with its arguments, and the missing one must answer null.
TEST(ChannelNative, FunctionsBindOnFirstCallAndAMissingOneAnswersAsFailed) {
  Platform &os = defaultPlatform();
  ChannelLibrary &lib = os.channelLibrary();
  const uint32_t ready = lib.initialize(3);
  if (ready != 0x5AB3) GTEST_SKIP() << "another libTalCi.so comes first on the search path";
  EXPECT_TRUE(os.channelLibraryPresent());
  void *handle = nullptr;
  ASSERT_EQ(lib.create(0, &handle, 2, 4096, 2, 4096, 0, nullptr), 0u);
  ASSERT_NE(handle, nullptr);
  uint8_t packet[12] = {12, 0, 7, 0, 0x0D, 0, 0, 0, 1, 2, 3, 4};
  uint32_t status = 99;
  EXPECT_EQ(lib.send(handle, packet, sizeof packet, &status, 0), 0u);
  EXPECT_EQ(status, 0u);
  uint8_t reply[8] = {};
  uint32_t wait = 20000;
  EXPECT_EQ(lib.recv(handle, reply, sizeof reply, &status, &wait), 8u);  // capacity honoured
  EXPECT_EQ(status, 20000u);
  EXPECT_EQ(std::string(reply, reply + 8), std::string(packet, packet + 8));
  EXPECT_EQ(lib.close(handle), 0u);
  EXPECT_EQ(lib.statusMessage(0), nullptr);
  EXPECT_EQ(lib.statusMessage(21), nullptr);
}

}  // namespace
}  // namespace tal::os
#endif  // _WIN32
