// A discovery run on the simulated server (server_fixture.h): the SMBIOS table of the machine
// description, the boards on the machine's bus, and a package that knows the card and the
// backplane products.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "configinfo.h"
#include "device.h"
#include "discovery.h"
#include "server_fixture.h"
#include "sim/board.h"
#include "sim/smbios.h"
#include "state.h"

namespace disc {

constexpr const char *kCard = "Orvo Varibay 6 HDD Switch Card";
constexpr const char *kBackplane = "Orvo Varibay 6 HDD Backplane";

inline nlohmann::json backplane(const std::string &version, const std::string &name = kBackplane) {
  return {{"name", name}, {"version", version}};
}

inline nlohmann::json card(const std::string &version, std::vector<nlohmann::json> backplanes = {},
                           const std::string &name = kCard) {
  nlohmann::json c = {{"name", name}, {"version", version}};
  c["backplanes"] = nlohmann::json::array();
  for (auto &b : backplanes) c["backplanes"].push_back(b);
  return c;
}

inline nlohmann::json segment(int number, const nlohmann::json &cardSpec) {
  return {{"segment", number}, {"card", cardSpec}};
}

class DiscoveryTest : public testserver::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_TRUE(openChannel());
    ConfigInfo *info = ConfigInfo::instance();
    info->keyFileList = {kCard, kBackplane};
    addConfigEntry(1, "vlte_card.bin", "1.12", kCard);
    addConfigEntry(1, "vlti_backplane.bin", "2.05", kBackplane);
  }

  // Puts the machine's boards on the bus and its SMBIOS table into the platform.
  void build(const nlohmann::json &description) {
    sim::buildBoards(machine, description);
    cards = machine.cards;
    fake.smbios = machine.smbios;
  }

  // Discovery as the engine runs it; the transactions it made are then in machine.transactions.
  void scan() {
    machine.transactions.clear();
    scanDeviceCorrelation();
  }

  // The device list as "object name|product|version|idx|segment" lines.
  static std::vector<std::string> listed() {
    std::vector<std::string> out;
    for (const DeviceObj *d : deviceList()) {
      out.push_back(d->getObjectName() + "|" + d->getProductName() + "|" + d->getVersion() + "|" +
                    std::to_string(d->getIdx()) + "|" + std::to_string(d->getSegmentIdx()));
    }
    return out;
  }

  std::vector<std::shared_ptr<sim::SwitchCard>> cards;
};

}  // namespace disc
