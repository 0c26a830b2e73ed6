// The driver's flows: initialisation with the dependency check, the installation-state decision
// with the options, the flash run and its counts, the update-list text and the clean-up.
#include "engine_fixture.h"
#include "state.h"

namespace enginetest {
namespace {

using testlog::stamped;

class DriverTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    writePackage(device("1", "Card", "card.bin", "2.20"), key("Card"));
  }
};

TEST_F(DriverTest, DependencyRule) {
  EXPECT_TRUE(ostVersionMeetsMinimum(4, 2, 20));
  EXPECT_TRUE(ostVersionMeetsMinimum(4, 3, 5));  // a higher major with a lower minor
  EXPECT_TRUE(ostVersionMeetsMinimum(4, 2, 255));
  EXPECT_TRUE(ostVersionMeetsMinimum(5, 0, 0));  // any later generation
  EXPECT_FALSE(ostVersionMeetsMinimum(4, 2, 19));
  EXPECT_FALSE(ostVersionMeetsMinimum(4, 1, 99));
  EXPECT_FALSE(ostVersionMeetsMinimum(3, 9, 99));
  EXPECT_FALSE(ostVersionMeetsMinimum(0, 0, 0));
}

TEST_F(DriverTest, DependencyCheckOverTheChannel) {
  ASSERT_TRUE(openChannel());
  struct Case {
    uint8_t generation, major, minor;
    bool ok;
  } cases[] = {
      {4, 3, 5, true}, {4, 2, 20, true}, {5, 0, 0, true}, {4, 2, 19, false}, {3, 2, 20, false}};
  for (const Case &c : cases) {
    machine.generation = c.generation;
    machine.major = c.major;
    machine.minor = c.minor;
    EXPECT_EQ(checkDependency(), c.ok)
        << int(c.generation) << " " << int(c.major) << "." << int(c.minor);
  }
  EXPECT_TRUE(
      logHas("Check dependency failed.\r\nCurrent version: Ost4 2.19.\r\n"
             "Minimum version required: Ost4 2.20\r\n"));
  EXPECT_TRUE(logHas("Current version: Ost3 2.20.\r\n"));
  EXPECT_EQ(countOf(log(), "Check dependency failed."), 2u);
}

TEST_F(DriverTest, InitialisationFailuresAnswerNothing) {
  fake.channelPresent = false;
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);
  EXPECT_TRUE(logHas("initialize channel interface failed.\r\n"));

  resetEngine();
  fake.channelPresent = true;
  std::remove("Config.xml");
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);
  EXPECT_TRUE(logHas("create config info failed.\r\n"));
  EXPECT_EQ(statusQueries(), 0u);

  resetEngine();
  writePackage(device("1", "Card", "card.bin", "2.20"), key("Card"));
  machine.minor = 19;
  listed(DEVICE_VELTO_E, "Card", "1.00", UPDATE_UPGRADE);
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);
  EXPECT_TRUE(logHas("Check dependency failed.\r\n"));
  EXPECT_EQ(countFlashNeeded(), 0);
}

TEST_F(DriverTest, SecondCallAnswersNothing) {
  DeviceObj *older = listed(DEVICE_VELTO_E, "Card", "1.00", UPDATE_UPGRADE);
  DeviceObj *newer = listed(DEVICE_VELTO_I, "Plane", "9.00", UPDATE_DOWNGRADE);
  EXPECT_EQ(getInstallState(), ENGINE_STATE_OLDER);
  EXPECT_TRUE(older->getFlashNeeded());
  EXPECT_FALSE(newer->getFlashNeeded());
  EXPECT_EQ(statusQueries(), 1u);
  EXPECT_TRUE(logHas(stamped({"Device info:\n",
                              "Object Name: Controller card 1 Product Name: Card Version: "
                              "1.00 Type: 1 Idx: 0 SegmentIdx: 0xff AddrSlv: 0x82 flashNeeded: 0 "
                              "updateState: 2\n"})));

  const std::string before = log();
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);
  EXPECT_EQ(log(), before);
  EXPECT_EQ(statusQueries(), 1u);
  EXPECT_EQ(deviceList().size(), 2u);
}

TEST_F(DriverTest, StateDecisionAndOptions) {
  struct Case {
    std::vector<int> states;
    std::vector<std::wstring> options;
    int code;
    std::vector<bool> marked;
  } cases[] = {
      {{}, {}, ENGINE_STATE_NOTHING, {}},
      {{UPDATE_NOT_COMPARED}, {L"-f"}, ENGINE_STATE_NOTHING, {false}},
      {{UPDATE_REWRITE}, {}, ENGINE_STATE_SAME, {false}},
      {{UPDATE_REWRITE, UPDATE_DOWNGRADE}, {}, ENGINE_STATE_NEWER, {false, false}},
      {{UPDATE_UPGRADE, UPDATE_DOWNGRADE}, {}, ENGINE_STATE_OLDER, {true, false}},
      {{UPDATE_UPGRADE, UPDATE_DOWNGRADE}, {L"-g"}, ENGINE_STATE_OLDER, {true, true}},
      {{UPDATE_REWRITE, UPDATE_DOWNGRADE}, {L"-e"}, ENGINE_STATE_NEWER, {true, false}},
      {{UPDATE_REWRITE, UPDATE_DOWNGRADE, UPDATE_NOT_COMPARED},
       {L"/force"},
       ENGINE_STATE_NEWER,
       {true, true, false}},
  };
  for (const Case &c : cases) {
    resetEngine();
    args(c.options);
    for (int s : c.states) listed(DEVICE_VELTO_E, "Card", "x", s);
    EXPECT_EQ(getInstallState(), c.code) << c.states.size();
    for (size_t i = 0; i < c.marked.size(); ++i) {
      EXPECT_EQ(deviceList()[i]->getFlashNeeded(), c.marked[i]) << c.states.size() << " " << i;
    }
  }
}

TEST_F(DriverTest, SelfDiscoveryReportsAndMarksNothing) {
  args({L"-d", L"report.xml"});
  listed(DEVICE_VELTO_E, "Card", "1.00", UPDATE_UPGRADE);
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);
  EXPECT_EQ(countFlashNeeded(), 0);
  EXPECT_NE(
      tal::os::ScratchDir::read(scratch.file("report.xml")).find("<action value=\"upgrade\"/>"),
      std::string::npos);
  // The report is the whole work: Install says so, and flashes nothing.
  EXPECT_EQ(flashDevices(), ENGINE_DISCOVERY_DONE);
  EXPECT_EQ(getInstallResultDetail(), "");
  EXPECT_FALSE(logHas("flash Vlt Devices starts"));
}

TEST_F(DriverTest, FlashWithNothingMarkedSaysNothingWasDue) {
  listed(DEVICE_VELTO_E, "Card", "2.20", UPDATE_REWRITE);
  EXPECT_EQ(getInstallState(), ENGINE_STATE_SAME);  // the component's forcing is not here
  EXPECT_EQ(flashDevices(), ENGINE_NOTHING_DUE);
  EXPECT_TRUE(logHas(stamped({"attempt to flash 0 devices\n", "flash success for 0 devices\n",
                              "flash devices status: 14\n"})));
  EXPECT_TRUE(logHas(stamped({"Device List for installation.\n", "Device info:\n"})));
  EXPECT_EQ(getInstallResultDetail(), "");
}

// Install without an installation-state query first discovers the devices (once), then flashes
// what is due, so that its answer is about the devices there are.
TEST_F(DriverTest, InstallWithoutAStateQueryDiscoversFirst) {
  listed(DEVICE_VELTO_E, "Card", "2.20", UPDATE_REWRITE);
  EXPECT_EQ(flashDevices(), ENGINE_NOTHING_DUE);
  EXPECT_TRUE(
      logHas("Install without an installation-state query: the devices are discovered "
             "first.\n"));
  EXPECT_EQ(statusQueries(), 1u);
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);  // discovery ran already

  resetEngine();
  fake.channelPresent = false;
  EXPECT_EQ(flashDevices(), ENGINE_FLASH_FAILED);
  EXPECT_EQ(getInstallResultDetail(),
            "Nothing was done: the channel library TalCi.dll could not be loaded.\r\n");
}

TEST_F(DriverTest, FailedAndUnsupportedDevicesCountAsNotFlashed) {
  DeviceObj *card = listed(DEVICE_VELTO_E, "Card", "1.00", UPDATE_UPGRADE);
  card->setFwFile("missing.bin");
  card->setPackageVersion("2.20");
  DeviceObj *odd = listed(DEVICE_VELTO_E, "Odd", "1.00", UPDATE_UPGRADE);
  odd->setType(3);
  DeviceObj *idle = listed(DEVICE_VELTO_E, "Idle", "1.00", UPDATE_REWRITE);
  card->setFlashNeeded(true);
  odd->setFlashNeeded(true);

  EXPECT_EQ(flashDevices(), ENGINE_FLASH_FAILED);
  EXPECT_FALSE(card->getFlashSucceeded());
  EXPECT_FALSE(odd->getFlashSucceeded());
  EXPECT_TRUE(
      logHas("Updating 'Controller card 1: Card' from 1.00 to 2.20.\r\n"
             "This may take up to 5 minutes. Please wait...\r\n"));
  EXPECT_TRUE(logHas("Update failed: 'Controller card 1: Card'. Error code: "));
  EXPECT_TRUE(logHas("unsupported device: Odd\n"));
  EXPECT_FALSE(logHas("'Controller card 1: Odd' from"));
  EXPECT_FALSE(logHas("flash Vlt Devices: Object Name: Controller card 1 Product Name: Idle"));
  EXPECT_TRUE(logHas(stamped({"attempt to flash 2 devices\n", "flash success for 0 devices\n",
                              "flash devices status: 7\n"})));
  (void)idle;
}

TEST_F(DriverTest, ForceFlashForAllNeedsForce) {
  listed(DEVICE_VELTO_E, "A", "1", UPDATE_NOT_COMPARED);
  listed(DEVICE_VELTO_I, "B", "1", UPDATE_DOWNGRADE);
  setForceFlashForAll();
  EXPECT_EQ(countFlashNeeded(), 0);
  setForceFlag(true);
  setForceFlashForAll();
  EXPECT_EQ(countFlashNeeded(), 2);
  EXPECT_TRUE(logHas(stamped({"force flag -f set to 1\n", "setForceFlashForAll\n"})));
}

TEST_F(DriverTest, UpdateListText) {
  EXPECT_STREQ(getUpdateListText(), "");
  listed(DEVICE_VELTO_E, "Card", "1.00", UPDATE_UPGRADE)->setFlashNeeded(true);
  listed(DEVICE_VELTO_I, "Skip", "1.00", UPDATE_REWRITE);
  listed(DEVICE_VELTO_I, "Plane", "0.05", UPDATE_UPGRADE)->setFlashNeeded(true);
  EXPECT_STREQ(getUpdateListText(),
               "\r\nController card 1: Card: 1.00\n\r\nBackplane 1: Plane: 0.05\n");
  EXPECT_STREQ(getUpdateListText(),
               "\r\nController card 1: Card: 1.00\n\r\nBackplane 1: Plane: 0.05\n");
}

TEST_F(DriverTest, UpdateListTextNeverOverflows) {
  const std::string longName(400, 'n');
  for (int i = 0; i < 8; ++i) listed(DEVICE_VELTO_E, longName, "1.00", 2)->setFlashNeeded(true);
  const std::string text = getUpdateListText();
  EXPECT_LT(text.size(), 1024u);
  // Each entry is cut to 249 characters, and only whole entries are listed.
  const std::string entry = ("\r\nController card 1: " + longName).substr(0, 249) + "\n";
  EXPECT_EQ(text, entry + entry + entry + entry);
  EXPECT_TRUE(logHas("update list text full: 4 marked devices not listed\n"));
}

TEST_F(DriverTest, CleanupEmptiesTheEngine) {
  ASSERT_TRUE(openChannel());
  listed(DEVICE_VELTO_E, "Card", "1.00", UPDATE_UPGRADE);
  cleanupEngine();
  EXPECT_TRUE(deviceList().empty());
  EXPECT_EQ(engineState().channel.handle, nullptr);
  EXPECT_TRUE(logHas("clearComponent\n"));
}

}  // namespace
}  // namespace enginetest
