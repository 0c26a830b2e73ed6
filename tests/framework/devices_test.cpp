// The present-device list the hardware checks rest on: every id of every present device but the
// revision and class-code ones (or only each device's first id), and the lookup by id.
#include <gtest/gtest.h>

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
