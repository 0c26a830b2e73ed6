// Discovery over the simulated boards: which cards and backplanes are listed, how they are
// numbered, what is read from them, and what the log says about the SMBIOS records on the way.
#include <cstdio>

#include "channel/smif.h"
#include "discovery_fixture.h"
#include "fault_plan.h"
#include "state.h"

namespace disc {
namespace {

using nlohmann::json;
using V = std::vector<uint8_t>;

std::string pointerText(uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", reinterpret_cast<void *>(value));
  return text;
}

TEST_F(DiscoveryTest, SampleMachineListsCardsThenTheirBackplanes) {
  build({{"smbios", {{"system_name", "TS-900"}}},
         {"segments",
          {segment(1, card("1.12", {backplane("2.05"), backplane("2.05"), backplane("2.05")})),
           segment(3, card("1.05", {backplane("2.05")}))}}});
  scan();

  EXPECT_EQ(listed(), (std::vector<std::string>{
                          "Controller card 1|Orvo Varibay 6 HDD Switch Card|1.12|0|1",
                          "Backplane 1|Orvo Varibay 6 HDD Backplane|2.05|0|1",
                          "Backplane 2|Orvo Varibay 6 HDD Backplane|2.05|1|1",
                          "Backplane 3|Orvo Varibay 6 HDD Backplane|2.05|2|1",
                          "Controller card 2|Orvo Varibay 6 HDD Switch Card|1.05|1|3",
                          "Backplane 1|Orvo Varibay 6 HDD Backplane|2.05|0|3",
                      }));
  ASSERT_EQ(deviceList().size(), 6u);
  EXPECT_EQ(deviceList()[0]->getType(), DEVICE_VELTO_E);
  EXPECT_EQ(deviceList()[0]->getSlaveAddr(), 0x82);
  EXPECT_EQ(deviceList()[0]->getUpdateState(), UPDATE_REWRITE);
  EXPECT_EQ(deviceList()[4]->getUpdateState(), UPDATE_UPGRADE);
  EXPECT_EQ(deviceList()[4]->getFwFile(), "vlte_card.bin");
  auto *bp = dynamic_cast<VltiObj *>(deviceList()[5]);
  ASSERT_NE(bp, nullptr);
  EXPECT_EQ(bp->getType(), DEVICE_VELTO_I);
  EXPECT_EQ(bp->getSlaveAddr(), 0x80);
  EXPECT_EQ(bp->getCardIdx(), 1);
  EXPECT_EQ(bp->getFwFile(), "vlti_backplane.bin");

  for (const char *line :
       {"success - load smbios", "system name = TS-900",
        "Rec # 0 Vendor ID = 10b5 Device ID = 8749", "Rec # 1 Vendor ID = 10b5 Device ID = 8749",
        "Vendor ID = 10b5 ", "Device ID = 8749 ", "Segment = 3 ", "Scanning 3...",
        "discover vlte: 1:Orvo Varibay 6 HDD Switch Card",
        "FOUND Velto-E: Orvo Varibay 6 HDD Switch Card idxSeg:3 version: 1.05",
        "VeltoI value at 11h : 220 Product length: 28"}) {
    EXPECT_TRUE(logged(line)) << line;
  }
  EXPECT_EQ(loggedCount("Found Card..."), 2);
  // The third port of the second card is empty: its name record does not answer, length 0.
  EXPECT_EQ(loggedCount("VeltoI value at 11h : 0 Product length: -192"), 2);

  // Every access carried the tag for "not locked", and the boards are left as found: every take
  // of the handshake released (and the version read's release), no port selected.
  for (const sim::Transaction &t : machine.transactions) EXPECT_FALSE(t.lockedTag);
  for (const auto &c : cards) {
    EXPECT_FALSE(c->handshakeHeld());
    EXPECT_EQ(c->controller->handshakeReleases, c->controller->handshakeTakes + 1);
    EXPECT_EQ(c->selector->mask, 0);
  }
  EXPECT_FALSE(discoveryIncomplete());
  EXPECT_TRUE(discoveryNotes().empty());
}

// A reset leaves nothing of the run before it: the next run numbers its requests, scans its
// segments and lists its devices as the first did.
TEST_F(DiscoveryTest, AfterAResetTheNextRunIsTheFirstAgain) {
  build({{"segments", {segment(1, card("1.12", {backplane("2.05")})), segment(2, card("1.05"))}}});
  auto run = [this] {
    setLogLevel(1);  // the request numbers in the log
    setForceFlag(true);
    scan();
    return std::make_pair(log(), listed());
  };
  const auto first = run();
  ASSERT_EQ(first.second.size(), 3u);
  resetEngine();
  EXPECT_FALSE(getForceFlag());
  EXPECT_EQ(getLogLevel(), 0);
  EXPECT_TRUE(deviceList().empty());
  SetUp();  // the fixture's own start again (it resets the engine, opens the channel, the package)
  EXPECT_EQ(run(), first);
}

TEST_F(DiscoveryTest, OneBackplaneReadTakesTheseTransactions) {
  build({{"segments", {segment(2, card("1.12", {backplane("2.05")}))}}});
  scan();

  // The card: its name, then the version (release first, then the two registers).
  EXPECT_EQ(writesTo(2, 0xAE), (std::vector<V>{{0x00, 0x12}}));
  std::vector<V> ctrl = writesTo(2, 0xEC);
  ASSERT_GE(ctrl.size(), 5u);
  EXPECT_EQ(std::vector<V>(ctrl.begin(), ctrl.begin() + 5),
            (std::vector<V>{{0x66, 0x00}, {0x51}, {0x50}, {0x66, 0x01}, {0x66, 0x00}}));
  // Each port selected and released; an empty port (its name record does not answer) is asked
  // kReadAttempts times, as a port whose answer was lost would be.
  EXPECT_EQ(writesTo(2, 0xE4), (std::vector<V>{{0x00, 0x01},
                                               {0x00, 0x00},
                                               {0x00, 0x02},
                                               {0x00, 0x00},
                                               {0x00, 0x02},
                                               {0x00, 0x00},
                                               {0x00, 0x02},
                                               {0x00, 0x00},
                                               {0x00, 0x04},
                                               {0x00, 0x00},
                                               {0x00, 0x04},
                                               {0x00, 0x00},
                                               {0x00, 0x04},
                                               {0x00, 0x00}}));
  // The version of the backplane that is there; none of an empty port.
  EXPECT_EQ(writesTo(2, 0xEE), (std::vector<V>{{0x0C}}));
  // The length byte first, then 28 name bytes: one read of 32 at 0x0012, none at 0x0032.
  std::vector<V> name = writesTo(2, 0xAA);
  EXPECT_EQ(name, (std::vector<V>{{0x00, 0x11},
                                  {0x00, 0x12},
                                  {0x00, 0x11},
                                  {0x00, 0x11},
                                  {0x00, 0x11},
                                  {0x00, 0x11},
                                  {0x00, 0x11},
                                  {0x00, 0x11}}));
  EXPECT_EQ(machine.transactionsOn(2, 0xAA)[1].readLength, 32u);
  EXPECT_EQ(machine.transactionsOn(2, 0xAE)[0].readLength, 32u);
  EXPECT_EQ(listed().size(), 2u);
}

TEST_F(DiscoveryTest, CardsAreNumberedInTheOrderFound) {
  // 1, 0 and 3 backplanes: with a list length divided by 4 the second and the third card would
  // both be card 1 (two devices, then three).
  build({{"segments",
          {segment(1, card("1.12", {backplane("2.05")})), segment(2, card("1.12")),
           segment(3, card("1.12", {backplane("2.05"), backplane("2.05"), backplane("2.05")}))}}});
  scan();
  EXPECT_EQ(listed(), (std::vector<std::string>{
                          "Controller card 1|Orvo Varibay 6 HDD Switch Card|1.12|0|1",
                          "Backplane 1|Orvo Varibay 6 HDD Backplane|2.05|0|1",
                          "Controller card 2|Orvo Varibay 6 HDD Switch Card|1.12|1|2",
                          "Controller card 3|Orvo Varibay 6 HDD Switch Card|1.12|2|3",
                          "Backplane 1|Orvo Varibay 6 HDD Backplane|2.05|0|3",
                          "Backplane 2|Orvo Varibay 6 HDD Backplane|2.05|1|3",
                          "Backplane 3|Orvo Varibay 6 HDD Backplane|2.05|2|3",
                      }));
  for (size_t i = 4; i < 7; ++i)
    EXPECT_EQ(dynamic_cast<VltiObj *>(deviceList()[i])->getCardIdx(), 2);

  // A card the package does not know still takes its number.
  resetEngine();
  SetUp();
  ConfigInfo::instance()->keyFileList = {kBackplane};
  build({{"segments",
          {segment(4, card("1.12", {backplane("2.05")})),
           segment(5, card("1.12", {backplane("2.05")}))}}});
  scan();
  ASSERT_EQ(deviceList().size(), 2u);
  EXPECT_EQ(dynamic_cast<VltiObj *>(deviceList()[0])->getCardIdx(), 0);
  EXPECT_EQ(dynamic_cast<VltiObj *>(deviceList()[1])->getCardIdx(), 1);
}

TEST_F(DiscoveryTest, BackplaneNameLengthByte) {
  const std::string name39 = "Orvo Varibay 6 HDD Backplane, 39 chars!";
  const std::string name32 = "Orvo Varibay 6 HDD Backplane 32c";
  ASSERT_EQ(name39.size(), 39u);
  ASSERT_EQ(name32.size(), 32u);
  build({{"segments",
          {segment(1, card("1.12", {backplane("2.05", "O"), backplane("2.05", name32),
                                    backplane("2.05", name39)})),
           segment(2, card("1.12", {backplane("2.05"), backplane("2.05")}))}}});
  ConfigInfo::instance()->keyFileList.push_back("O");
  for (const std::string &n : {std::string("O"), name32, name39}) {
    addConfigEntry(1, "vlti_backplane.bin", "2.05", n);
  }
  cards[1]->backplanes[0]->setLengthByte(0xC0);  // length 0
  cards[1]->backplanes[1]->setLengthByte(0xE8);  // length 40
  scan();

  EXPECT_EQ(listed(), (std::vector<std::string>{
                          "Controller card 1|Orvo Varibay 6 HDD Switch Card|1.12|0|1",
                          "Backplane 1|O|2.05|0|1",
                          "Backplane 2|" + name32 + "|2.05|1|1",
                          "Backplane 3|" + name39 + "|2.05|2|1",
                          "Controller card 2|Orvo Varibay 6 HDD Switch Card|1.12|1|2",
                      }));
  EXPECT_TRUE(logged("VeltoI value at 11h : 193 Product length: 1"));
  EXPECT_TRUE(logged("VeltoI value at 11h : 224 Product length: 32"));
  EXPECT_TRUE(logged("VeltoI value at 11h : 231 Product length: 39"));
  EXPECT_TRUE(logged("VeltoI value at 11h : 192 Product length: 0"));
  EXPECT_TRUE(logged("VeltoI value at 11h : 232 Product length: 40"));

  // 39 bytes: 32 at 0x0012, then 7 at 0x0032; 32 bytes: no second read; 0 and 40: no name read.
  std::vector<sim::Transaction> seg1 = machine.transactionsOn(1, 0xAA);
  std::vector<std::pair<V, size_t>> reads;
  for (const auto &t : seg1) reads.push_back({t.write, t.readLength});
  EXPECT_EQ(reads, (std::vector<std::pair<V, size_t>>{{{0x00, 0x11}, 1},
                                                      {{0x00, 0x12}, 32},
                                                      {{0x00, 0x11}, 1},
                                                      {{0x00, 0x12}, 32},
                                                      {{0x00, 0x11}, 1},
                                                      {{0x00, 0x12}, 32},
                                                      {{0x00, 0x32}, 7}}));
  // A length byte out of range is an answer (no backplane there); the empty third port is asked
  // kReadAttempts times.
  std::vector<V> seg2 = writesTo(2, 0xAA);
  EXPECT_EQ(seg2, (std::vector<V>(5, V{0x00, 0x11})));
  EXPECT_FALSE(cards[1]->handshakeHeld());
}

TEST_F(DiscoveryTest, BackplaneNameReadFailingLeavesItOut) {
  build({{"segments", {segment(1, card("1.12", {backplane("2.05")}))}}});
  ConfigInfo::instance()->keyFileList.push_back("");  // every name is applicable
  // A name record whose length byte reads but whose name does not.
  struct NameUnreadable : sim::I2cDevice {
    std::shared_ptr<sim::RegisterDevice> inner;
    bool transact(const sim::I2cRequest &r, uint8_t *read) override {
      return r.readLength <= 1 && inner->transact(r, read);
    }
  };
  auto c = cards[0];
  auto broken = std::make_shared<NameUnreadable>();
  broken->inner = c->backplanes[0]->nameRecord;
  machine.bus.clear();
  machine.bus.attach(1, 0xAE, c->fru);
  machine.bus.attach(1, 0xEC, c->controller);
  machine.bus.attach(1, 0xE4, c->selector);
  machine.bus.addRouter(1, [c, broken](uint8_t a) -> sim::I2cDevice * {
    return a == 0xAA && c->reachableBackplane() ? broken.get() : c->route(a);
  });
  scan();
  // Handed to addDevice with an empty name: the empty key file matches it, no entry does.
  EXPECT_TRUE(logged("VeltoI value at 11h : 220 Product length: 28"));
  EXPECT_TRUE(logged("Device not present in Config Info Table:  type: 2"));
  EXPECT_EQ(listed().size(), 1u);
  EXPECT_FALSE(c->handshakeHeld());
}

TEST_F(DiscoveryTest, HandshakeOrPortSelectionFailing) {
  build({{"segments",
          {segment(1, card("1.12", {backplane("2.05"), backplane("2.05")})),
           segment(2, card("1.12", {backplane("2.05"), backplane("2.05")}))}}});
  cards[0]->controller->takeFails = true;
  cards[1]->selector->selectFails = true;
  scan();
  // Both cards are listed with their versions, no backplane; whether there are any could not be
  // told, and discovery says so.
  EXPECT_EQ(listed(), (std::vector<std::string>{
                          "Controller card 1|Orvo Varibay 6 HDD Switch Card|1.12|0|1",
                          "Controller card 2|Orvo Varibay 6 HDD Switch Card|1.12|1|2",
                      }));
  EXPECT_TRUE(discoveryIncomplete());
  ASSERT_EQ(discoveryNotes().size(), 6u);
  EXPECT_EQ(discoveryNotes()[0],
            "Controller card 1 (segment 1): whether a backplane is on port 0 could not be told "
            "(taking the card's backplane-bus handshake (register 0x66 at 0xEC) failed); it was "
            "not checked");
  EXPECT_NE(discoveryNotes()[5].find("port 2 could not be told (selecting the backplane's port"),
            std::string::npos);
  // A failed take may have gone through with its reply lost: it is followed by a release, and
  // tried again; no port selection.
  std::vector<V> expected = {{0x66, 0x00}, {0x51}, {0x50}};
  for (int i = 0; i < 3 * kReadAttempts; ++i) {
    expected.push_back({0x66, 0x01});
    expected.push_back({0x66, 0x00});
  }
  EXPECT_EQ(writesTo(1, 0xEC), expected);
  EXPECT_TRUE(writesTo(1, 0xE4).empty());
  // A failed selection is followed by deselections (tried again, as it fails too), then the
  // handshake's release.
  std::vector<V> ports = writesTo(2, 0xE4);
  ASSERT_EQ(ports.size(), 3u * kReadAttempts * (1 + kReleaseAttempts));
  for (size_t i = 0; i < ports.size(); ++i) {
    const int mask = i % (1 + kReleaseAttempts) == 0 ? 1 << (i / ((1 + kReleaseAttempts) * 3)) : 0;
    EXPECT_EQ(ports[i], (V{0x00, static_cast<uint8_t>(mask)})) << i;
  }
  EXPECT_EQ(cards[1]->controller->handshakeTakes, 3 * kReadAttempts);
  EXPECT_EQ(cards[1]->controller->handshakeReleases, 3 * kReadAttempts + 1);
  EXPECT_FALSE(cards[1]->handshakeHeld());
  EXPECT_TRUE(writesTo(2, 0xEE).empty());
  EXPECT_TRUE(writesTo(2, 0xAA).empty());
}

TEST_F(DiscoveryTest, CardVersionUnreadable) {
  build({{"segments", {segment(1, card("1.12")), segment(2, card("1.12"))}}});
  cards[0]->controller->versionUnreadable = true;  // both registers
  cards[1]->controller->releaseFails = true;       // the first write fails: no register read
  scan();
  EXPECT_EQ(listed(), (std::vector<std::string>{
                          "Controller card 1|Orvo Varibay 6 HDD Switch Card|unknown|0|1",
                          "Controller card 2|Orvo Varibay 6 HDD Switch Card|unknown|1|2",
                      }));
  // Unknown is offered for an update, with the read that failed.
  EXPECT_EQ(deviceList()[0]->getUpdateState(), UPDATE_UPGRADE);
  EXPECT_TRUE(deviceList()[0]->getVersionUnknown());
  EXPECT_EQ(deviceList()[0]->getVersionFailure(), "the card's version register 0x51 at 0xEC");
  EXPECT_EQ(deviceList()[1]->getVersionFailure(),
            "the release of the card's backplane-bus handshake before its version read");
  EXPECT_TRUE(logged("FOUND Velto-E: Orvo Varibay 6 HDD Switch Card idxSeg:1 version: unknown"));
  EXPECT_TRUE(
      logged("Controller card 1 (segment 1): version unknown: the card's version register "
             "0x51 at 0xEC did not answer"));
  // Each read was tried kReadAttempts times, the release first each time.
  EXPECT_EQ(machine.transactionsOn(1, 0xEC).size() >= 3u * kReadAttempts, true);
  std::vector<V> ctrl2 = writesTo(2, 0xEC);
  ASSERT_GE(ctrl2.size(), static_cast<size_t>(kReadAttempts + 1));
  for (int i = 0; i < kReadAttempts; ++i) EXPECT_EQ(ctrl2[i], (V{0x66, 0x00})) << i;
  EXPECT_NE(ctrl2[kReadAttempts], (V{0x51}));
}

TEST_F(DiscoveryTest, CardNameDecidesWhetherASegmentHoldsACard) {
  build({{"segments",
          {segment(1, card("1.12", {backplane("2.05")})),
           segment(2, card("1.12", {backplane("2.05")}, std::string(kCard) + " 2")),
           segment(3, card("1.12", {backplane("2.05")}, "Orvo Varibay 6 HDD Switch")),
           segment(4, card("1.05", {backplane("2.05")}))}}});
  cards[0]->fru->nak = true;  // unreadable: the segment is skipped without a word
  scan();
  EXPECT_EQ(listed(), (std::vector<std::string>{
                          "Controller card 1|Orvo Varibay 6 HDD Switch Card|1.05|0|4",
                          "Backplane 1|Orvo Varibay 6 HDD Backplane|2.05|0|4",
                      }));
  EXPECT_TRUE(logged("Scanning 1..."));
  const std::string skipped = testlog::kStamp + std::string("discover vlte: 1:");
  for (const std::string &l : logLines()) EXPECT_NE(l.rfind(skipped, 0), 0u) << l;
  EXPECT_TRUE(logged("discover vlte: 2:Orvo Varibay 6 HDD Switch Card 2"));
  EXPECT_TRUE(logged("discover vlte: 3:Orvo Varibay 6 HDD Switch"));
  // Nothing else was asked of the segments that hold no switch card.
  EXPECT_EQ(machine.transactionsOn(2, 0xEC).size(), 0u);
  EXPECT_EQ(machine.transactionsOn(1, 0xEC).size(), 0u);
}

TEST_F(DiscoveryTest, CardNameFillsTheWholeRead) {
  // 32 bytes without a zero: the name is the 32 bytes.
  build({{"segments", {segment(1, card("1.12", {}, std::string(32, 'X')))}}});
  scan();
  EXPECT_TRUE(logged("discover vlte: 1:" + std::string(32, 'X')));
  EXPECT_TRUE(deviceList().empty());
}

TEST_F(DiscoveryTest, CorrelationRecordsThatNameNoNewCard) {
  build({{"segments", {segment(1, card("1.12", {backplane("2.05")}))}},
         {"smbios",
          {{"records",
            {{{"vendor", "0x10B5"}, {"device", "0x1234"}, {"segment", 2}},
             {{"vendor", "0x8086"}, {"device", "0x8749"}, {"segment", 3}},
             {{"map_handle", "0x7777"}},
             {{"segment", 1}}}}}}});
  cards.push_back(std::make_shared<sim::SwitchCard>(2, kCard, 1, 0x12));
  sim::attachCard(machine.bus, cards.back());  // a card on segment 2, named by a foreign record
  scan();

  EXPECT_EQ(listed().size(), 2u);
  EXPECT_EQ(loggedCount("Found Card..."), 3);
  EXPECT_TRUE(logged("Rec # 1 Vendor ID = 10b5 Device ID = 1234"));
  EXPECT_TRUE(logged("Rec # 2 Vendor ID = 8086 Device ID = 8749"));
  EXPECT_EQ(loggedCount("Scanning 2..."), 0);
  EXPECT_TRUE(logged("ERROR: Failed to read I2C Map for 10b5 8749 " + pointerText(0x7777)));
  EXPECT_EQ(loggedCount("Scanning 1..."), 2);
  EXPECT_TRUE(logged("VeltoE Segment 1 already exists"));
  EXPECT_EQ(machine.transactionsOn(1, 0xAE).size(), 1u);
  EXPECT_TRUE(machine.transactionsOn(2, 0xAE).empty());
}

TEST_F(DiscoveryTest, EachSegmentIsScannedOnceWhateverBecameOfItsCard) {
  // Three correlation records name segment 1. Whether or not its card made the list, the
  // segment's backplane is listed once (listed twice, Install would program it twice).
  struct Row {
    const char *name;
    std::vector<std::string> keyFiles;
    bool cardEntry;
    size_t listedCount;
  };
  const Row rows[] = {
      {"card listed", {kCard, kBackplane}, true, 2},
      {"card not among the key files", {kBackplane}, true, 1},
      {"no configuration entry for the card", {kCard, kBackplane}, false, 1},
  };
  build({{"segments", {segment(1, card("1.12", {backplane("2.05")}))}},
         {"smbios", {{"records", {{{"segment", 1}}, {{"segment", 1}}}}}}});
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    deleteDevices();
    releaseConfigInfo();
    std::filesystem::remove(logDir() + "/Verbose.log");
    ConfigInfo *info = ConfigInfo::instance();
    info->keyFileList = row.keyFiles;
    if (row.cardEntry) addConfigEntry(1, "vlte_card.bin", "1.12", kCard);
    addConfigEntry(1, "vlti_backplane.bin", "2.05", kBackplane);
    scan();
    EXPECT_EQ(listed().size(), row.listedCount);
    int backplanes = 0;
    for (const DeviceObj *d : deviceList()) backplanes += d->getType() == DEVICE_VELTO_I;
    EXPECT_EQ(backplanes, 1);
    EXPECT_EQ(loggedCount("Scanning 1..."), 3);
    EXPECT_EQ(loggedCount("VeltoE Segment 1 already exists"), 2);
    EXPECT_EQ(machine.transactionsOn(1, 0xAE).size(), 1u);
  }
}

TEST_F(DiscoveryTest, ShortRecordsAreSkippedAndTheScanGoesOn) {
  build({{"segments", {segment(5, card("1.12"))}}});
  sim::SmbiosBuilder b;
  b.systemInfo("S")
      .record(203, 0x0200, {0, 0, 0x01, 0x03, 0xB5, 0x10, 0x49})  // 11 bytes: no device ID
      .correlation(0x0201, 0x10B5, 0x8749, 0x0301)
      .correlation(0x0202, 0x10B5, 0x8749, 0x0302)
      .record(204, 0x0301, {})  // 4 bytes: no segment byte
      .i2cMap(0x0302, 5)
      .end();
  fake.smbios = b.rsmb();
  scan();
  EXPECT_TRUE(logged("Rec # 0: DEVICE CORRELATION record too short (11 bytes), skipped"));
  EXPECT_TRUE(logged("ERROR: I2C Map record 301 too short (4 bytes), skipped"));
  EXPECT_TRUE(logged("Rec # 2 Vendor ID = 10b5 Device ID = 8749"));
  EXPECT_EQ(
      listed(),
      (std::vector<std::string>{"Controller card 1|Orvo Varibay 6 HDD Switch Card|1.12|0|5"}));
}

TEST_F(DiscoveryTest, NoTableOrNoCorrelationRecord) {
  build({{"segments", {segment(1, card("1.12"))}}});
  fake.smbios.clear();
  scan();
  EXPECT_TRUE(logged("Failed to load smbios"));
  EXPECT_FALSE(logged("success - load smbios"));

  sim::SmbiosBuilder b;
  b.systemInfo("Plain server").end();
  fake.smbios = b.rsmb();
  scan();
  EXPECT_TRUE(logged("system name = Plain server"));
  EXPECT_TRUE(logged("Failed to get DEVICE CORRELATION record #1"));
  EXPECT_TRUE(deviceList().empty());
  EXPECT_TRUE(machine.transactions.empty());
}

// One failed answer, of each kind, on each request of a scan in turn: every read is tried again,
// so the list (names, versions, what is due) is the one of a scan without a fault, nothing is
// "unknown", and every handshake and port is released. A newer card with an older backplane, a
// backplane at the package's version and an empty port.
TEST_F(DiscoveryTest, OneFailedAnswerAnywhereChangesNothing) {
  build(
      {{"segments", {segment(1, card("1.20", {backplane("2.04"), backplane("2.05"), nullptr}))}}});
  scan();
  const std::vector<std::string> expected = listed();
  ASSERT_EQ(expected.size(), 3u);
  const uint64_t requests = machine.requests;
  faultplan::Channel plan(channel);
  closeChannel();
  fake.channel = &plan;
  ASSERT_TRUE(openChannel());
  int runs = 0;
  for (int kind :
       {faultplan::kHeaderOnly, faultplan::kRunt, faultplan::kRecvError, faultplan::kSendError,
        faultplan::kNak, faultplan::kShortRead, faultplan::kOutOfSequence}) {
    for (uint64_t k = 0; k < requests; ++k) {
      SCOPED_TRACE(std::string(faultplan::kindName(kind)) + " at request " + std::to_string(k));
      deleteDevices();
      machine.faults = sim::Faults{};
      plan.plan = {{plan.sends + k, kind}};
      scan();
      EXPECT_EQ(listed(), expected);
      for (const DeviceObj *d : deviceList()) EXPECT_FALSE(d->getVersionUnknown());
      EXPECT_FALSE(discoveryIncomplete());
      EXPECT_FALSE(cards[0]->handshakeHeld());
      EXPECT_EQ(cards[0]->selector->mask, 0);
      ++runs;
    }
  }
  EXPECT_GT(runs, 200);
  closeChannel();  // the plan goes before the fixture's teardown would close through it
  fake.channel = &channel;
}

TEST_F(DiscoveryTest, ReadVltiInfoNeedsTheHandshakeAndThePort) {
  build(
      {{"segments", {segment(1, card("1.12", {backplane("3.1a"), nullptr, backplane("2.05")}))}}});
  std::string name, version;
  EXPECT_TRUE(readVltiInfo(0, 1, name, version, false));
  EXPECT_EQ(name, kBackplane);
  EXPECT_EQ(version, "3.1a");
  EXPECT_FALSE(readVltiInfo(1, 1, name, version, false));  // an empty port
  EXPECT_EQ(name, "");
  EXPECT_EQ(version, "");
  EXPECT_FALSE(readVltiInfo(3, 1, name, version, false));  // no such port: mask 0
  EXPECT_EQ(cards[0]->selector->mask, 0);
  EXPECT_TRUE(readVltiInfo(2, 1, name, version, false));
  EXPECT_EQ(cards[0]->selector->selections % 2, 0);  // each selection released
  EXPECT_EQ(cards[0]->selector->mask, 0);
  EXPECT_FALSE(cards[0]->handshakeHeld());

  cards[0]->backplanes[2]->versionRegs->nak = true;
  machine.transactions.clear();
  BackplaneRead read = readBackplane(2, 1, false);
  EXPECT_EQ(read.presence, BackplaneRead::Present);
  EXPECT_EQ(read.productName, kBackplane);
  EXPECT_EQ(read.version, "unknown");
  EXPECT_EQ(read.versionFailed, "the backplane's version registers (0x0C at 0xEE)");
  EXPECT_EQ(writesTo(1, 0xEE).size(), static_cast<size_t>(kReadAttempts));

  std::string failed;
  EXPECT_EQ(readVlteVersion(1, false), "1.12");
  EXPECT_EQ(readVlteVersion(9, false, &failed), "unknown");  // nothing on segment 9
  EXPECT_EQ(failed, "the release of the card's backplane-bus handshake before its version read");
}

}  // namespace
}  // namespace disc
