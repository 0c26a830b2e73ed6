// The present-device list and the PnP driver installer on the simulated host.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "basecomp.h"
#include "case_name.h"
#include "fake_platform.h"
#include "fake_setup.h"
#include "pnpdriver.h"
#include "tal/platform.h"

namespace {

using tal::os::FakeSetupHost;
using tal::os::fromUtf8;
using tal::os::ScratchDir;
using tal::os::SimDevice;

SimDevice Device(const wchar_t *instance, std::vector<std::wstring> ids, const wchar_t *inf,
                 bool inbox = false) {
  SimDevice d;
  d.instanceId = instance;
  d.hardwareIds = std::move(ids);
  d.inf = inf;
  d.inbox = inbox;
  return d;
}

TEST(DeviceList, RecordsEveryDeviceWithItsDriver) {
  FakeSetupHost host;
  host.devices = {
      Device(L"PCI\\A\\1", {L"PCI\\VEN_10B5&DEV_8749&REV_01", L"PCI\\VEN_10B5&DEV_8749"},
             L"oem3.inf"),
      Device(L"ROOT\\B\\0", {}, L""), Device(L"ACPI\\C\\0", {L"ACPI\\C"}, L"machine.inf", true)};
  CWin2000DeviceList list;
  ASSERT_EQ(list.Enumerate(), 1);
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_STREQ(list.Device(0)->driverDetail.infFileName, L"oem3.inf");
  EXPECT_NE(list.Device(0)->deviceSet, nullptr);
  EXPECT_STREQ(list.Device(1)->driverDetail.infFileName, L"");  // no driver: empty records
  EXPECT_EQ(list.Device(2)->driverParams.flags & tal::os::kDriverFlagInbox,
            tal::os::kDriverFlagInbox);
  EXPECT_EQ(list.Device(3), nullptr);

  uint32_t size = 0;
  EXPECT_EQ(list.GetHardwareIds(0, nullptr, &size), 0);
  const std::wstring expected = std::wstring(L"PCI\\VEN_10B5&DEV_8749&REV_01") + L'\0' +
                                L"PCI\\VEN_10B5&DEV_8749" + L'\0' + L'\0';
  EXPECT_EQ(size, expected.size());
  std::vector<wchar_t> buffer(size + 4, L'#');
  uint32_t small = size - 1;
  EXPECT_EQ(list.GetHardwareIds(0, buffer.data(), &small), 0);
  EXPECT_EQ(small, size);
  EXPECT_EQ(buffer[0], L'#');  // a buffer too small is not written
  EXPECT_EQ(list.GetHardwareIds(0, buffer.data(), &size), 1);
  EXPECT_EQ(std::wstring(buffer.data(), size), expected);
  EXPECT_EQ(buffer[size], L'#');
  EXPECT_EQ(list.GetHardwareIds(1, buffer.data(), &size), 0);  // none
}

TEST(PnpDriver, AddDeviceKeepsOneOfEachExactId) {
  CWin2000PnPDriver driver(L"tal.inf", 1);
  driver.AddDevice(L"PCI\\VEN_1");
  driver.AddDevice(L"PCI\\VEN_1");
  driver.AddDevice(L"pci\\ven_1");
  EXPECT_EQ(driver.DeviceIds().size(), 2u);
}

TEST(PnpDriver, CompressedNamesAndRefusedNames) {
  CWin2000PnPDriver driver(L"tal.inf", 1);
  for (const wchar_t *name : {L"driver.sys", L"a.b", L"readme", L"x.ab", L"..\\evil.sys",
                              L"sub\\file.sys", L"C:evil", L"driver.sys"})
    driver.AddStagedFile(name);
  std::vector<std::wstring> names;
  for (const CStr &s : driver.StagedFiles()) names.push_back(s.str());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"driver.sys", L"driver.sy_", L"a.b", L"a.b_",
                                              L"readme", L"readme._", L"x.ab", L"x.ab_"}));
}

class PnpInstall : public ::testing::Test {
 protected:
  PnpInstall() {
    fake.module = fromUtf8(scratch.file("plugin/libinstall.so"));
    ScratchDir::write(scratch.file("plugin/tal.inf"),
                      "[Version]\nSignature=$Windows NT$\nCatalogFile=tal.cat\n"
                      "CatalogFile.ntamd64=tal64.cat\n[Install.NT]\nCopyFiles=Drv,@tal.dll\n"
                      "[Drv]\ntal.sys\nrenamed.sys,orig.sys\n..\\..\\escape.sys\n"
                      "[Empty]\n[Other]\nCopyFiles=Empty\n");
    // The package folder (the current directory) holds what is staged.
    for (const char *f : {"tal.inf", "tal.cat", "tal64.cat", "tal.dll", "tal.sys", "orig.sys"})
      ScratchDir::write(scratch.file(f), f);
    host.systemDir = L"D:\\Windows\\system32";
  }
  ScratchDir scratch;
  tal::os::FakePlatform fake;
  FakeSetupHost host;
};

TEST_F(PnpInstall, StagesTheInfItsCatalogsAndItsFiles) {
  CWin2000PnPDriver driver(L"tal.inf", 1);
  driver.CollectStagedFiles();
  std::vector<std::wstring> names;
  for (const CStr &s : driver.StagedFiles()) names.push_back(s.str());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"tal.inf", L"tal.in_", L"tal.cat", L"tal.ca_",
                                              L"tal64.cat", L"tal64.ca_", L"tal.dll", L"tal.dl_",
                                              L"tal.sys", L"tal.sy_", L"orig.sys", L"orig.sy_"}));
  EXPECT_EQ(CWin2000PnPDriver::StagingFolder().str(), L"D:\\TALSYSTEM\\pnpdrvs");
}

// Installing writes the staging folder on the system drive: natively that is the scratch folder,
// on Windows it would be the real one, so these run natively only.
#ifndef _WIN32
TEST_F(PnpInstall, UpdatesEveryIdAndOrsTheRestarts) {
  host.devices = {Device(L"PCI\\A\\1", {L"PCI\\ID_A"}, L"old.inf"),
                  Device(L"PCI\\B\\1", {L"PCI\\ID_B"}, L"old.inf")};
  host.devices[1].updateReboot = true;
  CWin2000PnPDriver driver(L"tal.inf", 1);
  driver.AddDevice(L"PCI\\ID_A");
  driver.AddDevice(L"PCI\\ID_B");
  EXPECT_EQ(driver.Install(0, 0), 0);
  EXPECT_EQ(driver.RebootNeeded(), 1);
  EXPECT_EQ(host.devices[0].inf, L"tal.inf");
  std::vector<std::wstring> staged;
  for (const auto &copy : host.eventsOf("copy"))
    staged.push_back(FakeSetupHost::field(copy, "target"));
  EXPECT_EQ(
      staged,
      (std::vector<std::wstring>{
          L"D:\\TALSYSTEM\\pnpdrvs\\run1\\tal.inf", L"D:\\TALSYSTEM\\pnpdrvs\\run1\\tal.cat",
          L"D:\\TALSYSTEM\\pnpdrvs\\run1\\tal64.cat", L"D:\\TALSYSTEM\\pnpdrvs\\run1\\tal.dll",
          L"D:\\TALSYSTEM\\pnpdrvs\\run1\\tal.sys", L"D:\\TALSYSTEM\\pnpdrvs\\run1\\orig.sys"}));
  const auto updates = host.eventsOf("update_driver");
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(FakeSetupHost::field(updates[0], "inf"), L"D:\\TALSYSTEM\\pnpdrvs\\run1\\tal.inf");
  EXPECT_EQ(FakeSetupHost::field(updates[0], "force"), L"1");
  // What was staged goes when the run is over.
  EXPECT_FALSE(tal::os::sys().pathExists(fromUtf8(scratch.file("TALSYSTEM/pnpdrvs/run1"))));
  ASSERT_EQ(host.eventsOf("remove_directory").size(), 1u);

  CWin2000PnPDriver unforced(L"tal.inf", 0);
  unforced.AddDevice(L"PCI\\ID_A");
  EXPECT_EQ(unforced.Install(0, 0), 0);
  EXPECT_EQ(FakeSetupHost::field(host.eventsOf("update_driver").back(), "force"), L"0");
}

// A file the package no longer carries must not be taken from an earlier run: each run stages
// into a folder of its own, and a file that cannot be staged stops the update.
TEST_F(PnpInstall, AFileThatCannotBeStagedFailsWithoutTouchingADevice) {
  host.devices = {Device(L"PCI\\A\\1", {L"PCI\\ID_A"}, L"old.inf")};
  for (const char *stale : {"TALSYSTEM/pnpdrvs/tal.sys", "TALSYSTEM/pnpdrvs/run1/tal.sys"})
    ScratchDir::write(scratch.file(stale), "v1");
  std::remove(scratch.file("tal.sys").c_str());
  CWin2000PnPDriver driver(L"tal.inf", 1);
  driver.AddDevice(L"PCI\\ID_A");
  EXPECT_EQ(driver.Install(0, 0), 5);
  EXPECT_TRUE(host.eventsOf("update_driver").empty());
  EXPECT_EQ(host.devices[0].inf, L"old.inf");
  for (const auto &copy : host.eventsOf("copy"))
    EXPECT_EQ(FakeSetupHost::field(copy, "target").rfind(L"D:\\TALSYSTEM\\pnpdrvs\\run2\\", 0), 0u);
  EXPECT_FALSE(tal::os::sys().pathExists(fromUtf8(scratch.file("TALSYSTEM/pnpdrvs/run2"))));

  // Only the compressed form in the package: that is staged, and enough.
  ScratchDir::write(scratch.file("tal.sy_"), "compressed");
  EXPECT_EQ(driver.Install(0, 0), 0);
  EXPECT_EQ(host.eventsOf("update_driver").size(), 1u);
}

// The file lists of every section are found however many sections the INF has, and an INF whose
// sections cannot be listed stages nothing.
TEST_F(PnpInstall, EverySectionOfALargeInfIsRead) {
  std::string sections;
  for (int i = 0; i < 300; ++i)
    sections += "[Model.Section.Number" + std::to_string(i) + ".NTamd64]\n";
  ScratchDir::write(scratch.file("plugin/tal.inf"),
                    "[Version]\nSignature=$Windows NT$\n" + sections +
                        "[Install.NT]\nCopyFiles=Drv\n[Drv]\ntal.sys\n");
  CWin2000PnPDriver driver(L"tal.inf", 1);
  EXPECT_TRUE(driver.CollectStagedFiles());
  EXPECT_EQ(driver.StagedFiles().size(), 4u);  // tal.inf, tal.in_, tal.sys, tal.sy_

  host.sectionNamesFail = true;
  host.devices = {Device(L"PCI\\A\\1", {L"PCI\\ID_A"}, L"old.inf")};
  CWin2000PnPDriver unread(L"tal.inf", 1);
  EXPECT_FALSE(unread.CollectStagedFiles());
  unread.AddDevice(L"PCI\\ID_A");
  EXPECT_EQ(unread.Install(0, 0), 5);
  EXPECT_TRUE(host.eventsOf("update_driver").empty());
}

struct InstallCase {
  const char *name;
  bool ids;
  int updater;       // loadDriverUpdater's answer
  bool deviceFails;  // the one device's update fails
  int32_t noOverwrite, hasDriver;
  int32_t result;
};
void PrintTo(const InstallCase &c, std::ostream *os) { *os << c.name; }

class PnpInstallCodes : public PnpInstall, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(PnpInstallCodes, Result) {
  const InstallCase &c = GetParam();
  host.devices = {Device(L"PCI\\A\\1", {L"PCI\\ID_A"}, L"old.inf")};
  host.devices[0].updateFails = c.deviceFails;
  host.driverUpdater = c.updater;
  CWin2000PnPDriver driver(L"tal.inf", 1);
  if (c.ids) driver.AddDevice(L"PCI\\ID_A");
  EXPECT_EQ(driver.Install(c.noOverwrite, c.hasDriver), c.result);
  if (!c.ids || c.updater) {
    EXPECT_TRUE(host.eventsOf("update_driver").empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PnpInstallCodes,
    ::testing::Values(InstallCase{"nothing_to_install", false, 0, false, 0, 0, 1},
                      InstallCase{"all_on_this_driver", false, 0, false, 1, 1, 0},
                      InstallCase{"no_overwrite_alone", false, 0, false, 1, 0, 1},
                      InstallCase{"no_newdev", true, 2, false, 0, 0, 2},
                      InstallCase{"no_update_function", true, 3, false, 0, 0, 3},
                      InstallCase{"update_fails", true, 0, true, 0, 0, 4},
                      InstallCase{"updated", true, 0, false, 0, 0, 0}),
    CaseName());

// The PNP installation path of the base component: each result of the driver installation with
// the text the host gets, and a restart asked for by an update.
TEST_F(PnpInstall, InstallPnpResultsAndTexts) {
  const struct {
    const char *what;
    int updater;
    bool fails, reboot, stagingFails;
    int32_t result;
    const wchar_t *text;
  } cases[] = {
      {"updated", 0, false, false, false, 1, L""},
      {"restart", 0, false, true, false, 2, L""},
      {"no newdev", 2, false, false, false, 0, L"An error occurred during installation."},
      {"no update function", 3, false, false, false, 0, L"An error occurred during installation."},
      {"update fails", 0, true, false, false, 0,
       L"Installation failed on at least one device.  One of the devices may have been deleted "
       L"through Device Manager and a reboot may be necessary to complete the driver installation "
       L"for this device."},
      {"staging fails", 0, false, false, true, 0, L"An error occurred during installation."},
  };
  for (const auto &k : cases) {
    host.devices = {Device(L"PCI\\A\\1", {L"PCI\\ID_A"}, L"old.inf")};
    host.devices[0].updateFails = k.fails;
    host.devices[0].updateReboot = k.reboot;
    host.driverUpdater = k.updater;
    host.sectionNamesFail = k.stagingFails;
    CBaseComponent component;
    component.SetInfFile(L"tal.inf", INSTALL_PNP);
    component.AddSupportedDevice(L"PCI\\ID_A");
    wchar_t text[512] = L"";
    EXPECT_EQ(component.Install(0, nullptr, text, 0, L"en"), k.result) << k.what;
    EXPECT_STREQ(text, k.text) << k.what;
  }
}
#endif

}  // namespace
