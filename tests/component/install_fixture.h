// The plug-in as a host drives it, over a simulated server: a package in the scratch folder (the
// current directory: Config.xml, the package definition file, the two images), a machine built
// from a description (boards, loaders, CPLDs, the processor's faults) behind a channel that can
// put one fault at a chosen request (fault_plan.h), and a run of the exports (property 5, property
// 3, Install) that keeps every answer, what the engine listed, and the component log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "component.h"
#include "device.h"
#include "fault_plan.h"
#include "server_fixture.h"
#include "sim/board.h"
#include "sim/description.h"
#include "sim/flashtargets.h"
#include "sim/loader.h"
#include "sim/machxo2.h"
#include "state.h"

namespace installtest {

using nlohmann::json;
using testserver::Bytes;
using testserver::imageBytes;
using testserver::makePayload;
namespace plugin = tal::plugin;

constexpr const char *kCard = "Orvo Varibay 6 HDD Switch Card";
constexpr const char *kBackplane = "Orvo Varibay 6 HDD Backplane";
constexpr const char *kCardVersion = "1.12";       // what the package offers
constexpr const char *kBackplaneVersion = "2.05";  // (the image's revision 2.5 reads back 2.05)
constexpr const char *kSuccess =
    "Installation completed successfully.\r\n"
    "Power cycle is required after installation for updates to take effect.\r\n";

// A card for the machine description: version and backplane versions ("" leaves the port empty).
inline json card(const std::string &version, const std::vector<std::string> &backplanes = {}) {
  json c = {{"name", kCard}, {"version", version}, {"backplanes", json::array()}};
  for (const std::string &v : backplanes) {
    c["backplanes"].push_back(v.empty() ? json(nullptr)
                                        : json{{"name", kBackplane}, {"version", v}});
  }
  return c;
}

// What one run of the exports answered.
struct Answers {
  int32_t status = -1;  // property 5
  std::string list;     // property 3 (UTF-8)
  int32_t result = -1;  // Install
  std::string text;     // Install's result text (UTF-8)
  std::string componentLog;
  struct Listed {
    std::string object, product, version;
    int type, segment, idx;
    bool unknown, marked, succeeded;
  };
  std::vector<Listed> listed;  // the engine's list before the unload
};

class InstallTest : public testserver::ServerTest {
 public:
  const Bytes cardPayload = makePayload(700, 3);
  const Bytes backplanePayload = makePayload(120, 4);

  void SetUp() override {
    ServerTest::SetUp();
    writePackage();
  }
  void TearDown() override {
    plugin::ProcessDetach();
    ServerTest::TearDown();
    sim::forgetFlashTargets(machine);
  }

  void writePackage(const std::string &config = "") {
    const std::string device =
        "<Device><ConfigType>1</ConfigType><DeviceName>%s</DeviceName>"
        "<Payload>%s</Payload><Version>%s</Version></Device>";
    auto entry = [&](const char *name, const char *file, const char *version) {
      std::string e = device;
      e.replace(e.find("%s"), 2, name);
      e.replace(e.find("%s"), 2, file);
      e.replace(e.find("%s"), 2, version);
      return e;
    };
    tal::os::ScratchDir::write(
        scratch.file("Config.xml"),
        config.empty() ? "<Devices>" + entry(kCard, "vlte_card.bin", kCardVersion) +
                             entry(kBackplane, "vlti_backplane.bin", kBackplaneVersion) +
                             "<kzxml><FileName>kzpkg</FileName></kzxml></Devices>"
                       : config);
    tal::os::ScratchDir::write(
        scratch.file("kzpkg.xml"),
        "<tal_package><name><name_xlate lang=\"en\">Switch firmware</name_xlate></name>"
        "<version value=\"1.12\"/><sw_keys><sw_keys_and><sw_key name=\"Orvo Varibay 6 HDD\"/>"
        "</sw_keys_and></sw_keys></tal_package>");
    tal::os::ScratchDir::write(scratch.file("vlte_card.bin"), imageBytes(1, 1, cardPayload));
    tal::os::ScratchDir::write(scratch.file("vlti_backplane.bin"),
                               imageBytes(2, 2, backplanePayload));
  }

  // A fresh machine from a description behind a fresh fault plan; its SMBIOS table goes to the
  // platform.
  void build(const json &description) {
    sim::forgetFlashTargets(machine);
    machine = sim::Machine();
    sim::configureMachine(machine, description);
    machine.recordTransactions = false;
    plan = std::make_unique<faultplan::Channel>(channel);
    fake.channel = plan.get();
    fake.smbios = machine.smbios;
    fake.sleeps.clear();
  }

  // Loads the plug-in with these arguments, runs the steps ("5", "3", "install") and unloads it.
  Answers run(const std::vector<std::string> &steps, const std::vector<std::wstring> &args = {}) {
    Answers a;
    fake.args = {L"talhost.exe"};
    fake.args.insert(fake.args.end(), args.begin(), args.end());
    plugin::ProcessAttach(reinterpret_cast<void *>(0x1000), plugin::PluginBinding());
    for (const std::string &step : steps) {
      if (step == "5") {
        std::vector<wchar_t> record(kInstallationStatusChars, L'\0');
        EXPECT_EQ(plugin::ExportGetProperty(5, record.data(), kInstallationStatusChars, L"en"), 1);
        a.status = GetInstallationStatusCode(record.data());
      } else if (step == "3") {
        std::vector<wchar_t> text(4096, L'\0');
        plugin::ExportGetProperty(3, text.data(), 4096, L"en");
        a.list = tal::os::toUtf8(text.data());
      } else if (step == "install") {
        std::vector<wchar_t> text(4096, L'\0');
        a.result = plugin::ExportInstall(0, nullptr, text.data(), 0, L"en");
        a.text = tal::os::toUtf8(text.data());
      }
    }
    for (const DeviceObj *d : deviceList()) {
      a.listed.push_back({d->getObjectName(), d->getProductName(), d->getVersion(), d->getType(),
                          d->getSegmentIdx(), d->getIdx(), d->getVersionUnknown(),
                          d->getFlashNeeded(), d->getFlashSucceeded()});
    }
    a.componentLog = componentLog();
    plugin::ProcessDetach();
    resetEngine();
    // Lock changes still settling when the run ended have taken effect.
    fake.nowMs += 2000;
    return a;
  }

  // The component's main log (talsetup.log) as written so far.
  std::string componentLog() const {
    CCmpLog *log = TheComponent() ? TheComponent()->GetLog() : nullptr;
    if (!log || log->Entries().empty()) return "";
    const LogFileEntry &e = log->Entries()[0];
    return tal::os::ScratchDir::read(
        tal::os::toUtf8(tal::os::sys().nativePath(std::wstring(e.folder) + std::wstring(e.name))));
  }

  // The flash targets of the machine.
  sim::SwitchCard *cardOn(int segment) const {
    return sim::cardOn(const_cast<sim::Machine &>(machine), static_cast<uint8_t>(segment));
  }
  sim::VlteLoader *loaderOn(int segment) const {
    sim::SwitchCard *c = cardOn(segment);
    return c ? dynamic_cast<sim::VlteLoader *>(c->loader.get()) : nullptr;
  }
  sim::MachXO2 *cpldOn(int segment, int port) const {
    sim::SwitchCard *c = cardOn(segment);
    if (!c || port >= static_cast<int>(c->backplanes.size()) || !c->backplanes[port]) {
      return nullptr;
    }
    return dynamic_cast<sim::MachXO2 *>(c->backplanes[port]->cpld.get());
  }
  // Programming reached the device (a block taken, or an erase).
  bool touched(int segment, int port = -1) const {
    if (port < 0) {
      const sim::VlteLoader *l = loaderOn(segment);
      return l && (l->blocksAccepted > 0 || l->blocksRefused > 0);
    }
    const sim::MachXO2 *c = cpldOn(segment, port);
    return c && (c->erases > 0 || c->cfgPagesProgrammed > 0 || c->ufmPagesProgrammed > 0);
  }
  // The device holds the package's image, whole.
  bool holdsImage(int segment, int port = -1) const {
    if (port < 0) {
      const sim::VlteLoader *l = loaderOn(segment);
      return l && l->ended && l->image() == cardPayload;
    }
    const sim::MachXO2 *c = cpldOn(segment, port);
    if (!c) return false;
    Bytes regions = backplanePayload;
    regions.resize(sim::MachXO2::kPage * (sim::MachXO2::kCfgPages + sim::MachXO2::kUfmPages));
    Bytes both = c->cfg;
    both.insert(both.end(), c->ufm.begin(), c->ufm.end());
    return c->done && c->closed && both == regions;
  }

  std::unique_ptr<faultplan::Channel> plan;
};

inline bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

}  // namespace installtest
