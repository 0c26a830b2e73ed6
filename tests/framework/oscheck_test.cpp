// The operating-system check: the running system against the package's supported systems, the
// verbose trace it leaves, and the 64-bit test.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "basecomp.h"
#include "fake_platform.h"
#include "log_files.h"
#include "probe.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;
using tal::os::SystemIdentity;

namespace {

SupportedOS Entry(const wchar_t *platform, int32_t major, int32_t minor, int32_t sp,
                  const wchar_t *edition) {
  SupportedOS os{};
  std::wcsncpy(os.platform, platform, 63);
  os.major = major;
  os.minor = minor;
  os.servicePack = sp;
  os.edition = edition ? EditionMaskFromName(edition) : 0xFFFF;
  return os;
}

SystemIdentity System(uint16_t architecture, uint32_t major, uint32_t minor, uint32_t product,
                      bool r2 = false, uint32_t servicePack = 0) {
  SystemIdentity id;
  id.servicePackMajor = servicePack;
  id.architecture = architecture;
  id.major = major;
  id.minor = minor;
  id.productType = product;
  id.serverR2 = r2;
  return id;
}

class OsCheckTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  FakePlatform fake;
};

TEST_F(OsCheckTest, EntriesAgainstTheRunningSystem) {
  const struct {
    const char *what;
    SystemIdentity system;
    SupportedOS entry;
    int32_t supported;
  } cases[] = {
      {"same platform and version", System(9, 10, 0, 7), Entry(L"NT_x86-64", 10, 0, -1, nullptr),
       1},
      {"major absent: every major", System(9, 6, 3, 7), Entry(L"nt_x86-64", -1, -1, -1, nullptr),
       1},
      {"other major", System(9, 6, 3, 7), Entry(L"nt_x86-64", 10, -1, -1, nullptr), 0},
      {"other minor", System(9, 6, 3, 7), Entry(L"nt_x86-64", 6, 2, -1, nullptr), 0},
      {"no service pack installed, one needed", System(9, 6, 1, 7),
       Entry(L"nt_x86-64", 6, 1, 1, nullptr), 0},
      {"the service pack needed", System(9, 6, 1, 7, false, 1),
       Entry(L"nt_x86-64", 6, 1, 1, nullptr), 1},
      {"a later service pack", System(9, 6, 1, 7, false, 2), Entry(L"nt_x86-64", 6, 1, 1, nullptr),
       1},
      {"an earlier service pack", System(9, 6, 1, 7, false, 1),
       Entry(L"nt_x86-64", 6, 1, 2, nullptr), 0},
      {"32-bit entry, x64 system", System(9, 10, 0, 7), Entry(L"nt", -1, -1, -1, nullptr), 0},
      {"IA-64", System(6, 5, 2, 0), Entry(L"nt64", 5, 2, 0, nullptr), 1},
      {"WOW64 has no platform", System(10, 10, 0, 7), Entry(L"nt_x86-64", -1, -1, -1, nullptr), 0},
      {"srvr on a datacenter", System(9, 6, 1, 8), Entry(L"nt_x86-64", 6, 1, -1, L"srvr"), 1},
      {"core on a datacenter", System(9, 6, 1, 8), Entry(L"nt_x86-64", 6, 1, -1, L"core"), 0},
      {"srvr on a workstation", System(9, 10, 0, 48), Entry(L"nt_x86-64", 10, 0, -1, L"srvr"), 1},
      {"dc on a workstation", System(9, 10, 0, 48), Entry(L"nt_x86-64", 10, 0, -1, L"dc"), 0},
      {"r2core on R2 core", System(9, 6, 1, 12, true), Entry(L"nt_x86-64", 6, 1, -1, L"r2core"), 1},
      {"unknown edition text", System(9, 10, 0, 7), Entry(L"nt_x86-64", 10, 0, -1, L"pro"), 0},
  };
  for (const auto &k : cases) {
    fake.identity = k.system;
    Probe c;
    c.AddSupportedOS(k.entry);
    EXPECT_EQ(c.IsOSSupported(), k.supported) << k.what;
    EXPECT_EQ(c.osMajor, k.system.major) << k.what;
    EXPECT_EQ(c.osMinor, k.system.minor) << k.what;
  }
}

TEST_F(OsCheckTest, TheTraceOfOneCheck) {
  fake.identity = System(9, 6, 1, 8, true);
  Probe c;
  c.GetLog()->SetVerbose(1);
  c.GetLog()->Open();
  c.AddSupportedOS(Entry(L"nt", -1, -1, -1, nullptr));
  c.AddSupportedOS(Entry(L"nt_x86-64", 6, 0, 2, L"core"));
  c.AddSupportedOS(Entry(L"nt_x86-64", 6, 1, -1, L"dcr2"));
  ASSERT_EQ(c.IsOSSupported(), 1);
  std::string trace = test::VerboseText(*c.GetLog());
  trace = std::regex_replace(trace, std::regex(R"(\[12:34:56\]::basecomp\[\d+\] )"), "");
  const std::string p = "\r\nIsOSSupported: ";
  const std::string expected =
      p + "Calling TAL_OSVersion\r\n" + p +
      "TAL_OSVersion returns: Major: (0x6) - Minor: (0x1)\r\n" + p + "Setting Control Values" + p +
      "Calling GetSystemDirectory\r\n" + p +
      "Path and Name: C:\\Windows\\system32\\kernel32.dll\r\n" + p +
      "GetSystemDirectory call complete\r\n" + p + "Loading Library: kernel32.dll\r\n" + p +
      "Loading Library Call for kernel32.dll - complete\r\n" + p +
      "LoadLibrary Call for kernel32.dll - succeeds\r\n" + p +
      "Making call to GetNativeSystemInfo via GetProcAddress in Kernel32.dll\r\n" + p +
      "Making call to GetVersionEx\r\n" + p + "Setting Control Values" + p +
      "Making call to GetVersionEx complete\r\n" + p + "dwPlatformId is (0x2) \r\n" + p +
      "sysinfo.wProcessorArchitecture: (nt_x86-64) PROCESSOR_ARCHITECTURE_AMD64\r\n" + p +
      "Retrieving GetProductInfo Address\r\n" + p + "GetProductInfo Address complete\r\n" + p +
      "GetProductInfo appears valid\r\n" + p + "GetProductInfo call complete\r\n" + p +
      "dwEdition is (0x8)\r\n" + p + "Current.nEdition is (0x404)\r\n" +
      // Entry 0: another platform.
      p + "ulIndex is (0x0)\r\n" + p + "ulIndex - bMatch is FALSE\r\n" + p +
      "ulIndex - SupportOS set\r\n" +
      // Entry 1: the platform matches, then minor, service pack and edition all fail.
      p + "ulIndex is (0x1)\r\n" + p + "ulIndex - bMatch is FALSE\r\n" + p +
      "ulIndex - SupportOS set\r\n" + p + "Check OS Name succeeds - bMatch is TRUE\r\n" + p +
      "Check OS Name succeeds - SupportedOS.szOSName is nt_x86-64\r\n" + p +
      "Check OS Name succeeds - CurrentOS.szOSName is nt_x86-64\r\n" + p +
      "(loop) else - bMatch is TRUE\r\n" + p +
      "Minor OS Version Check fails - bMatch is FALSE\r\n" + p +
      "Minor OS Version Check fails - SupportedOS.nMinor is (0x0)\r\n" + p +
      "Minor OS Version Check fails - CurrentOS.nMinor is (0x1)\r\n" + p +
      "Service Pack Check fails - bMatch is FALSE\r\n" + p +
      "Service Pack Check fails - SupportedOS.nServicePack is (0x2)\r\n" + p +
      "Service Pack Check fails - CurrentOS.nServicePack is (0x0)\r\n" + p +
      "Edition Check fails - bMatch is FALSE\r\n" +
      // Entry 2: a match.
      p + "ulIndex is (0x2)\r\n" + p + "ulIndex - bMatch is FALSE\r\n" + p +
      "ulIndex - SupportOS set\r\n" + p + "Check OS Name succeeds - bMatch is TRUE\r\n" + p +
      "Check OS Name succeeds - SupportedOS.szOSName is nt_x86-64\r\n" + p +
      "Check OS Name succeeds - CurrentOS.szOSName is nt_x86-64\r\n" + p +
      "(loop) else - bMatch is TRUE\r\n" + p + "Breaking out of loop - bMatch is TRUE\r\n" + p +
      "FreeLibrary Call for Kernel32.dll\r\n" + p + "Leaving IsOSSupported - bMatch is TRUE\r\n";
  EXPECT_EQ(trace, expected);
}

TEST_F(OsCheckTest, NoKernelLibraryNoSupportAndNo64Bit) {
  fake.identityAvailable = false;
  Probe c;
  c.GetLog()->SetVerbose(1);
  c.GetLog()->Open();
  c.AddSupportedOS(Entry(L"nt_x86-64", -1, -1, -1, nullptr));
  EXPECT_EQ(c.IsOSSupported(), 0);
  EXPECT_EQ(c.Is64BitOS(), 0);
  const std::string trace = test::VerboseText(*c.GetLog());
  EXPECT_NE(trace.find("LoadLibrary Call for kernel32.dll - fails\r\n"), std::string::npos);
  EXPECT_EQ(trace.find("Leaving IsOSSupported"), std::string::npos);
  // An empty list needs no system at all.
  Probe empty;
  EXPECT_EQ(empty.IsOSSupported(), 1);
}

TEST_F(OsCheckTest, SixtyFourBitByArchitecture) {
  const struct {
    uint32_t platformId;
    uint16_t architecture;
    int32_t result;
    const char *line;  // null: none
  } cases[] = {
      {2, 0, 0, "    - Operating system is not 64-bit but 32-bit.\r\n"},
      {2, 6, 1, "    - Operating system is 64-bit IA-64 based.\r\n"},
      {2, 9, 1, "    - Operating system is 64-bit x64 based.\r\n"},
      {2, 10, 1, "    - Operating system is 64-bit SysWOW64 based .\r\n"},
      {2, 12, 0, nullptr},
      {1, 9, 0, nullptr},
  };
  for (const auto &k : cases) {
    fake.identity.platformId = k.platformId;
    fake.identity.architecture = k.architecture;
    Probe c;
    c.GetLog()->SetVerbose(1);
    c.GetLog()->Open();
    const size_t before = test::VerboseText(*c.GetLog()).size();
    EXPECT_EQ(c.Is64BitOS(), k.result) << k.architecture;
    const std::string trace = test::VerboseText(*c.GetLog()).substr(before);
    const size_t at = trace.find(k.line ? k.line : "Operating system is");
    EXPECT_EQ(at != std::string::npos, k.line != nullptr) << k.architecture;
  }
}

TEST(EditionMasks, FromTheProductType) {
  const struct {
    uint32_t product;
    uint16_t plain, r2;
  } cases[] = {{8, 0x0405, 0x0404},  {9, 0x0205, 0x0204},  {25, 0x0205, 0x0204},
               {12, 0x040A, 0x0408}, {13, 0x0102, 0x0108}, {14, 0x0102, 0x0108},
               {30, 0x0206, 0x0207}, {31, 0x0206, 0x0207}, {32, 0x0206, 0x0207},
               {7, 0xFF05, 0xFF04},  {0, 0xFF05, 0xFF04}};
  for (const auto &k : cases) {
    EXPECT_EQ(EditionMaskFromProductType(k.product, false), k.plain) << k.product;
    EXPECT_EQ(EditionMaskFromProductType(k.product, true), k.r2) << k.product;
  }
}

}  // namespace
