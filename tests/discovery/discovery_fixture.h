// A discovery run against the in-process simulator: a scratch folder (the engine log lands in
// <scratch>/talsystem/log/Verbose.log), the fake platform with the simulated channel library and
// the SMBIOS table of the machine description, the boards on the machine's bus, and a package
// that knows the card and the backplane products.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "channel/transport.h"
#include "configinfo.h"
#include "device.h"
#include "discovery.h"
#include "engine.h"
#include "engine_log.h"
#include "fake_platform.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/simchannel.h"
#include "sim/smbios.h"

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

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEngine();
    resetDiscovery();
    std::filesystem::create_directories(logDir());
    std::filesystem::remove(logDir() + "/Verbose.log");
    fake.channel = &channel;
    ASSERT_TRUE(openChannel());
    ConfigInfo *info = ConfigInfo::instance();
    info->keyFileList = {kCard, kBackplane};
    addConfigEntry(1, "vlte_card.bin", "1.12", kCard);
    addConfigEntry(1, "vlti_backplane.bin", "2.05", kBackplane);
  }

  void TearDown() override { resetEngine(); }

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

  // The engine log folder: the root of the current drive, which the platform maps to the scratch
  // folder natively (SYSTEMDRIVE); on Windows the real root of the current drive.
  std::string logDir() const { return testlog::engineLogDir(scratch); }

  // The engine log, each line without its time stamp (discovery's messages end in "\n" alone).
  std::vector<std::string> logLines() const {
    std::string text = tal::os::ScratchDir::read(logDir() + "/Verbose.log");
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (line.size() >= 23 && line[0] == '[' && line[21] == ']') line = line.substr(23);
      lines.push_back(line);
    }
    return lines;
  }
  bool logged(const std::string &line) const {
    for (const std::string &l : logLines()) {
      if (l == line) return true;
    }
    return false;
  }
  int loggedCount(const std::string &line) const {
    int n = 0;
    for (const std::string &l : logLines()) n += l == line;
    return n;
  }

  // The device list as "object name|product|version|idx|segment" lines.
  static std::vector<std::string> listed() {
    std::vector<std::string> out;
    for (const DeviceObj *d : g_deviceList) {
      out.push_back(d->getObjectName() + "|" + d->getProductName() + "|" + d->getVersion() + "|" +
                    std::to_string(d->getIdx()) + "|" + std::to_string(d->getSegmentIdx()));
    }
    return out;
  }

  // Transactions on one address of a segment, as the bytes written.
  std::vector<std::vector<uint8_t>> writesTo(uint8_t segment, uint8_t address) const {
    std::vector<std::vector<uint8_t>> out;
    for (const sim::Transaction &t : machine.transactionsOn(segment, address))
      out.push_back(t.write);
    return out;
  }

  tal::os::ScratchDir scratch;
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel channel{machine};
  std::vector<std::shared_ptr<sim::SwitchCard>> cards;
};

}  // namespace disc
