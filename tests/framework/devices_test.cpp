// The present-device list the hardware checks rest on: every id of every present device but the
// revision and class-code ones (or only each device's first id), and the lookup by id.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "fake_setup.h"
#include "probe.h"

using tal::os::FakePlatform;
using tal::os::FakeSetupHost;
using tal::os::ScratchDir;
using tal::os::SimDevice;

namespace {

SimDevice Device(const wchar_t *instance, std::vector<std::wstring> ids) {
  SimDevice d;
  d.instanceId = instance;
  d.hardwareIds = std::move(ids);
  return d;
}

std::vector<std::wstring> Ids(const Probe &c) {
  std::vector<std::wstring> out;
  for (const PresentDevice &d : c.presentDevices) out.push_back(d.hardwareId.str());
  return out;
}

TEST(PresentDevices, ListedByIdAndFound) {
  ScratchDir scratch;
  FakePlatform fake;
  FakeSetupHost host;
  host.devices = {
      Device(L"PCI\\VEN_8086&DEV_1234\\0",
             {L"PCI\\VEN_8086&DEV_1234&SUBSYS_00011028&REV_02",
              L"PCI\\VEN_8086&DEV_1234&SUBSYS_00011028", L"PCI\\VEN_8086&DEV_1234&CC_010400",
              L"PCI\\VEN_8086&DEV_1234"}),
      Device(L"ROOT\\TALDEV\\0000", {L"ROOT\\TALDEV"}),
      // Ids too long for the 2048-byte buffer: the device is left out, with a log line.
      Device(L"ROOT\\LONG\\0000", {std::wstring(1100, L'X')}),
  };
  Probe c;
  c.BuildDeviceList(false);
  EXPECT_EQ(Ids(c), (std::vector<std::wstring>{L"PCI\\VEN_8086&DEV_1234&SUBSYS_00011028",
                                               L"PCI\\VEN_8086&DEV_1234", L"ROOT\\TALDEV"}));
  c.BuildDeviceList(true);
  EXPECT_EQ(Ids(c), (std::vector<std::wstring>{L"PCI\\VEN_8086&DEV_1234&SUBSYS_00011028&REV_02",
                                               L"ROOT\\TALDEV"}));

  // The lookup ignores case and builds the full list when there is none; revision ids are
  // never found.
  Probe fresh;
  PresentDevice found;
  EXPECT_EQ(fresh.FindPresentDevice(L"root\\taldev", &found), 1);
  EXPECT_EQ(found.hardwareId.str(), L"ROOT\\TALDEV");
  EXPECT_EQ(fresh.FindPresentDevice(L"PCI\\VEN_8086&DEV_1234&SUBSYS_00011028&REV_02", nullptr), 0);
  fresh.AddSupportedDevice(L"PCI\\VEN_1111&DEV_2222");
  EXPECT_EQ(fresh.IsHardwarePresent(), 0);
  fresh.AddSupportedDevice(L"pci\\ven_8086&dev_1234");
  EXPECT_EQ(fresh.IsHardwarePresent(), 1);
}

}  // namespace

namespace {

// The installed-state checks over the INF's service: the service and its key, disabled, marked
// for deletion (its DeleteFlag, or its legacy node's StatusFlags), bound to the devices (PNP).
TEST(InstalledState, FromTheInfServiceAndTheRegistry) {
  ScratchDir scratch;
  FakePlatform fake;
  ScratchDir::write(
      scratch.file("tal.inf"),
      "[Version]\nSignature=\"$Windows NT$\"\nClass=System\n"
      "ClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}\n"
      "[DefaultInstall]\nCopyFiles=Files\nAddService=TalSvc,2,Svc\n[Files]\ntal.sys\n"
      "[Svc]\nServiceType=1\nStartType=3\nErrorControl=1\nServiceBinary=%12%\\tal.sys\n");
  const std::wstring key = L"HKLM\\System\\CurrentControlSet\\Services\\TalSvc";
  const std::wstring legacy = L"HKLM\\System\\CurrentControlSet\\Enum\\Root\\LEGACY_TalSvc\\0000";
  const struct {
    const char *what;
    bool service;
    const wchar_t *start;        // Start value, null: none
    const wchar_t *deleteFlag;   // DeleteFlag value, null: none
    const wchar_t *statusFlags;  // the legacy node's StatusFlags, null: none
    int32_t installed, marked;
  } cases[] = {
      {"running service", true, L"3", nullptr, nullptr, 1, 0},
      {"disabled", true, L"4", nullptr, nullptr, 0, 0},
      {"marked by DeleteFlag", true, L"3", L"1", nullptr, 0, 1},
      {"service gone, legacy node marked", false, nullptr, nullptr, L"262152", 0, 1},
      {"legacy flags not exactly 0x40008", true, L"3", nullptr, L"262153", 1, 0},
      {"no service", false, nullptr, nullptr, nullptr, 0, 0},
  };
  for (const auto &k : cases) {
    FakeSetupHost host;
    if (k.service) {
      tal::os::SimService service;
      service.name = L"TalSvc";
      host.services.push_back(service);
      host.registry[L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\TALSVC"].path = key;
    }
    auto set = [&](const std::wstring &path, const wchar_t *name, const wchar_t *value) {
      if (!value) return;
      std::wstring upper = path;
      for (wchar_t &c : upper) c = static_cast<wchar_t>(std::towupper(c));
      std::wstring upperName = name;
      for (wchar_t &c : upperName) c = static_cast<wchar_t>(std::towupper(c));
      host.registry[upper].path = path;
      host.registry[upper].values[upperName] = {name, L"REG_DWORD", value};
    };
    set(key, L"Start", k.start);
    set(key, L"DeleteFlag", k.deleteFlag);
    set(legacy, L"StatusFlags", k.statusFlags);
    Probe c;
    c.SetInfFile(L"tal.inf", INSTALL_LEGACY);
    EXPECT_EQ(c.IsComponentInstalled(), k.installed) << k.what;
    EXPECT_EQ(c.checkNotes.find(L"The service TalSvc cannot be opened") != std::wstring::npos,
              !k.service)
        << k.what;
    EXPECT_EQ(c.IsMarkedForRemoval(), k.marked) << k.what;
  }

  // A PNP package: installed only while the service drives as many devices as are present.
  FakeSetupHost host;
  host.devices = {Device(L"ROOT\\TALDEV\\0000", {L"ROOT\\TALDEV"})};
  tal::os::SimService service;
  service.name = L"TalSvc";
  host.services.push_back(service);
  const std::wstring enumKey = L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\TALSVC\\ENUM";
  host.registry[L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\TALSVC"].path = key;
  host.registry[enumKey].path = key + L"\\Enum";
  host.registry[enumKey].values[L"COUNT"] = {L"Count", L"REG_DWORD", L"1"};
  host.registry[enumKey].values[L"0"] = {L"0", L"REG_SZ", L"Root\\LEGACY_TalSvc\\0000"};
  Probe c;
  c.SetInfFile(L"tal.inf", INSTALL_PNP);
  c.AddSupportedDevice(L"ROOT\\TALDEV");
  EXPECT_EQ(c.IsComponentInstalled(), 0);  // one legacy entry drives no device
  host.registry[enumKey].values[L"0"] = {L"0", L"REG_SZ", L"ROOT\\TALDEV\\0000"};
  EXPECT_EQ(c.IsComponentInstalled(), 1);
  host.registry[enumKey].values.erase(L"COUNT");
  EXPECT_EQ(c.IsComponentInstalled(), 0);
}

}  // namespace

namespace {

// The base installation step's three paths over the simulated host: an INF's default
// installation (LEGACY, VIRTUAL) and a driver update of the present supported devices (PNP),
// with the /no_overwrite skip of devices whose driver already adds the package's service.
TEST(InstallPaths, LegacyVirtualAndPnp) {
  ScratchDir scratch;
  FakePlatform fake;
  FakeSetupHost host;
  const std::string inf =
      "[Version]\nSignature=\"$Windows NT$\"\n[DestinationDirs]\nDefaultDestDir = 24, out\n"
      "[DefaultInstall]\nCopyFiles=Files\nAddReg=Reg\n[Files]\ntal.txt\n"
      "[Reg]\nHKLM,Software\\Tal,Installed,0x10001,1\n";
  ScratchDir::write(scratch.file("legacy.inf"), inf);
  ScratchDir::write(scratch.file("tal.txt"), "tal");
  const struct {
    int32_t type;
    uint32_t reboot;
    const wchar_t *file;
    int32_t result;
  } cases[] = {{INSTALL_LEGACY, 0, L"legacy.inf", 1},
               {INSTALL_LEGACY, 1, L"legacy.inf", 2},
               {INSTALL_VIRTUAL, 0, L"legacy.inf", 1},
               {INSTALL_LEGACY, 0, L"missing.inf", 0}};
  for (const auto &k : cases) {
    Probe c;
    c.SetInfFile(k.file, k.type);
    c.SetRebootRequired(k.reboot);
    wchar_t result[256] = L"";
    EXPECT_EQ(c.Install(0, nullptr, result, 0, L"en"), k.result) << k.type << " " << k.reboot;
    EXPECT_STREQ(result, L"");
  }
  EXPECT_NE(host.findKey(L"HKLM\\Software\\Tal"), nullptr);

  // The file opened after a successful installation fails to open: the result is 0 with its
  // text, whatever the installation answered.
  {
    Probe c;
    c.SetInfFile(L"legacy.inf", INSTALL_LEGACY);
    std::wcscpy(c.shellExecuteFile, L"C:\\pkg\\readme.cmd");
    fake.openSucceeds = false;
    wchar_t result[256] = L"";
    EXPECT_EQ(c.Install(0, nullptr, result, 0, L"en"), 0);
    EXPECT_STREQ(result, L"An error occurred during the ShellExecute command.");
    fake.openSucceeds = true;
    EXPECT_EQ(c.Install(0, nullptr, result, 0, L"en"), 1);
    ASSERT_EQ(fake.opened.size(), 2u);
  }

  const std::string pnp =
      "[Version]\nSignature=\"$Windows NT$\"\nClass=System\n"
      "ClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}\n"
      "[Models]\n[DefaultInstall]\nCopyFiles=Files\nAddService=TalSvc,2,Svc\n[Files]\n";
  ScratchDir::write(scratch.file("tal.inf"), pnp);
  // The package carries the plug-in: the driver installer reads the INF beside it.
  fake.module = tal::os::fromUtf8(scratch.file("libdrvinstall.so"));
  ScratchDir::write(scratch.file("old.inf"), pnp);  // a driver that adds the same service
  std::string other = pnp;
  other.replace(other.find("TalSvc"), 6, "OldSvc");
  ScratchDir::write(scratch.file("other.inf"), other);  // a driver with another service
  std::string unnamed = pnp;
  unnamed.replace(unnamed.find("AddService=TalSvc,2,Svc\n"), 24, "");
  ScratchDir::write(scratch.file("unnamed.inf"), unnamed);  // names no service at all
  const std::vector<std::wstring> plain{L"talhost.exe"}, keep{L"talhost.exe", L"/no_overwrite"};
  const struct {
    const char *what;
    const std::vector<std::wstring> &args;
    const wchar_t *package, *installed, *supported;
    bool inbox;
    int32_t result;
    const wchar_t *text;
    size_t updates;
  } pnpCases[] = {
      {"updated", plain, L"tal.inf", L"old.inf", L"ROOT\\TALDEV", false, 1, L"", 1},
      {"not present", plain, L"tal.inf", L"old.inf", L"ROOT\\OTHER", false, 0,
       L"No devices were found to install.", 0},
      {"no overwrite of the same service", keep, L"tal.inf", L"old.inf", L"ROOT\\TALDEV", false, 1,
       L"", 0},
      {"no overwrite, another service", keep, L"tal.inf", L"other.inf", L"ROOT\\TALDEV", false, 1,
       L"", 1},
      {"no overwrite, an inbox driver", keep, L"tal.inf", L"old.inf", L"ROOT\\TALDEV", true, 1, L"",
       1},
      // Two INFs without a service name are not the same driver: the device is updated.
      {"no overwrite, no service name", keep, L"unnamed.inf", L"unnamed.inf", L"ROOT\\TALDEV",
       false, 1, L"", 1},
  };
  for (const auto &k : pnpCases) {
    SimDevice device = Device(L"ROOT\\TALDEV\\0000", {L"ROOT\\TALDEV"});
    device.inf = k.installed;
    device.inbox = k.inbox;
    host.devices = {device};
    fake.args = k.args;
    Probe c;
    c.Initialize();
    c.SetInfFile(k.package, INSTALL_PNP);
    c.AddSupportedDevice(k.supported);
    const size_t updatesBefore = host.eventsOf("update_driver").size();
    wchar_t result[256] = L"";
    EXPECT_EQ(c.Install(0, nullptr, result, 0, L"de"), k.result) << k.what;
    EXPECT_STREQ(result, k.text) << k.what;
    EXPECT_EQ(host.eventsOf("update_driver").size() - updatesBefore, k.updates) << k.what;
  }
}

}  // namespace
