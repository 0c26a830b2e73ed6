// The INF model, the PnP driver installer and the device list on the built-in host: the real
// setup library, registry and service manager on the Windows build (under wine), the simulated
// host natively. These change the system, so they run only when TAL_SETUP_REAL is set: the
// e2e script setup_host.sh runs them in a copy of the wine prefix (natively with a machine
// description and the record file) and checks the results from outside.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../framework/log_files.h"
#include "fake_platform.h"
#include "inf.h"
#include "pnpdriver.h"
#include "tal/platform.h"
#include "tal/setup.h"

namespace {

using tal::os::fromUtf8;
using tal::os::ScratchDir;

#define NEEDS_REAL_HOST() \
  if (!getenv("TAL_SETUP_REAL")) GTEST_SKIP() << "TAL_SETUP_REAL is not set"

const char kLegacyInf[] =
    "[Version]\nSignature=\"$Windows NT$\"\nProvider=%Tal%\n\n"
    "[DestinationDirs]\nDefaultDestDir = 12\nTal.App.Files = 16422,Tal\\App\n\n"
    "[DefaultInstall]\nCopyFiles = Tal.Drv.Files, Tal.App.Files\nAddReg = Tal.AddReg\n"
    "AddService = TalDrv, 0x00000002, Tal.Service\n\n"
    "[Tal.Drv.Files]\ntaldrv.sys,,,0x00004000\n\n"
    "[Tal.App.Files]\ntalapp.exe\nreadme.txt, readme.src\n\n"
    "[Tal.AddReg]\nHKLM, \"Software\\Tal\\Driver\", \"Version\", 0x00000000, \"1.0.0.1\"\n"
    "HKLM, \"Software\\Tal\\Driver\", \"Level\", 0x00010001, 3\n\n"
    "[Tal.Service]\nDisplayName = %TalDrv.Desc%\nServiceType = 1\nStartType = 3\n"
    "ErrorControl = 1\nServiceBinary = %12%\\taldrv.sys\n\n"
    "[Strings]\nTal = \"Tal Systems\"\nTalDrv.Desc = \"Tal Drive-Bay Driver\"\n";

const char kDeviceInf[] =
    "[Version]\nSignature=\"$Windows NT$\"\nClass=System\n"
    "ClassGUID={4d36e97d-e325-11ce-bfc1-08002be10318}\nProvider=%Tal%\nCatalogFile=taltest.cat\n"
    "DriverVer=12/08/2026,1.0.0.1\n\n"
    "[Manufacturer]\n%Tal%=Tal,NTamd64\n\n"
    "[Tal.NTamd64]\n%Dev.Desc%=Dev_Install,root\\taltest\n\n"
    "[DestinationDirs]\nDefaultDestDir=12\n\n"
    "[Dev_Install.NT]\nCopyFiles=Dev.Files\n\n"
    "[Dev_Install.NT.Services]\nAddService=TalTest,0x00000002,Dev.Service\n\n"
    "[Dev.Files]\ntaltest.sys\n\n"
    "[Dev.Service]\nServiceType=1\nStartType=3\nErrorControl=1\n"
    "ServiceBinary=%12%\\taltest.sys\n\n"
    "[SourceDisksNames]\n1=%Disk%\n[SourceDisksFiles]\ntaltest.sys=1\n\n"
    "[Strings]\nTal=\"Tal Systems\"\nDev.Desc=\"Tal Test Device\"\nDisk=\"Tal Disk\"\n";

TEST(RealHost, LegacyInfInstallsFilesRegistryAndService) {
  NEEDS_REAL_HOST();
  ScratchDir scratch;
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  log.Open();
  ScratchDir::write(scratch.file("pkg/tal.inf"), kLegacyInf);
  for (const char *f : {"taldrv.sys", "talapp.exe", "readme.src"})
    ScratchDir::write(scratch.file(std::string("pkg/") + f), f);
  CInf inf(fromUtf8(scratch.file("pkg/tal.inf")).c_str(), &log);
  ASSERT_EQ(inf.IsOpen(), 1);
  int32_t reboot = -1;
  EXPECT_EQ(inf.InstallDefault(&reboot), 1) << test::VerboseText(log);
  EXPECT_EQ(reboot, 0);
  EXPECT_TRUE(tal::os::setup().keyExists(L"System\\CurrentControlSet\\Services\\TalDrv"));
  EXPECT_TRUE(tal::os::setup().keyExists(L"Software\\Tal\\Driver"));
  log.Close();
}

const char kSectionInf[] =
    "[Version]\nSignature=\"$Windows NT$\"\n\n"
    "[DestinationDirs]\nDefaultDestDir = 11\n\n"
    "[Tal.Install]\nCopyFiles = Tal.Files\nAddService = TalSect, 0x2, Tal.Svc\n"
    "AddReg = Tal.Reg\n\n"
    "[Tal.Install.Services]\nAddService = TalSect, 0x2, Tal.Svc\n\n"
    "[Tal.Install.SoftwareSettings]\nAddReg = Tal.Sw\n\n"
    "[Tal.Files]\ntalsect.dll\n\n"
    "[Tal.Reg]\nHKLM, Software\\Tal\\Section, Installed, 0x10001, 1\n\n"
    "[Tal.Sw]\nHKR, , Mode, , \"fast\"\n\n"
    "[Tal.Svc]\nServiceType = 16\nStartType = 4\nErrorControl = 0\n"
    "ServiceBinary = %11%\\talsect.exe\n";

TEST(RealHost, SectionInstallWithServicesAndSoftwareSettings) {
  NEEDS_REAL_HOST();
  ScratchDir scratch;
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  log.Open();
  ScratchDir::write(scratch.file("pkg/sect.inf"), kSectionInf);
  ScratchDir::write(scratch.file("pkg/talsect.dll"), "talsect.dll");
  CInf inf(fromUtf8(scratch.file("pkg/sect.inf")).c_str(), &log);
  int32_t reboot = -1;
  EXPECT_EQ(inf.InstallSection(L"Tal.Install", &reboot, 0), 1) << test::VerboseText(log);
  EXPECT_EQ(reboot, 0);
  EXPECT_TRUE(tal::os::setup().keyExists(L"System\\CurrentControlSet\\Services\\TalSect\\Device0"));
  log.Close();
}

TEST(RealHost, RootDeviceGetsItsDriverAndIsListed) {
  NEEDS_REAL_HOST();
  ScratchDir scratch;
  tal::os::FakePlatform platform;  // the real system, with the plug-in's folder chosen
  platform.module = fromUtf8(scratch.file("plugin/install.dll"));
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  log.Open();
  ScratchDir::write(scratch.file("plugin/taltest.inf"), kDeviceInf);
  for (const char *f : {"taltest.inf", "taltest.cat", "taltest.sys"})
    ScratchDir::write(scratch.file(f), f == std::string("taltest.inf") ? kDeviceInf : f);

  std::wstring instance;
  ASSERT_EQ(tal::os::setup().registerRootDevice(L"root\\taltest", instance), 0u);
  CWin2000PnPDriver driver(L"taltest.inf", 1, &log);
  driver.AddDevice(L"root\\taltest");
  EXPECT_EQ(driver.Install(0, 0), 0) << test::VerboseText(log);
  // Staged into a folder of this run's own, removed once the device has its driver.
  EXPECT_NE(test::VerboseText(log).find("Driver updated for root\\taltest"), std::string::npos);
  EXPECT_FALSE(tal::os::setup().fileExists(CWin2000PnPDriver::StagingFolder().str() +
                                           L"\\run1\\taltest.inf"));

  CWin2000DeviceList list(&log);
  ASSERT_EQ(list.Enumerate(), 1);
  bool found = false;
  for (uint32_t i = 0; i < list.Count(); ++i) {
    wchar_t ids[512];
    uint32_t size = 512;
    if (!list.GetHardwareIds(i, ids, &size)) continue;
    if (CompareNoCase(ids, L"root\\taltest") != 0) continue;
    found = true;
    printf("listed: %ls, driver INF \"%ls\"\n", ids, list.Device(i)->driverDetail.infFileName);
  }
  EXPECT_TRUE(found) << "the root device is not listed";
  log.Close();
}

}  // namespace
