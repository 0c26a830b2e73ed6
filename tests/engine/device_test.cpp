// The device model: bytewise version order, the decision that lists or discards a discovered
// device, and the segment test.
#include "engine_fixture.h"
#include "state.h"

namespace enginetest {
namespace {

using testlog::stamped;

class DeviceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ConfigInfo::instance()->keyFileList = {"Orvo Varibay", "BP-"};
    addConfigEntry(1, "card.bin", "2.5", "Orvo Varibay 6 HDD Switch Card");
    addConfigEntry(1, "plane.bin", "1.10", "BP-12");
    addConfigEntry(0, "other.bin", "9.9", "BP-99");  // type 0 entries are not used for devices
  }
  static DeviceObj *card(const std::string &version) {
    DeviceObj *d = new VlteObj;
    d->setProductName("Orvo Varibay 6 HDD Switch Card");
    d->setVersion(version);
    d->setSegmentIdx(3);
    return d;
  }
};

TEST_F(DeviceTest, VersionOrderIsBytewise) {
  EXPECT_LT(compareVersionText("2.05", "2.5"), 0);
  EXPECT_LT(compareVersionText("1.10", "1.9"), 0);
  EXPECT_LT(compareVersionText("-1", "0.00"), 0);
  EXPECT_LT(compareVersionText("2.1", "2.10"), 0);  // equal prefix: shorter first
  EXPECT_LT(compareVersionText("", "0"), 0);
  EXPECT_EQ(compareVersionText("2.20", "2.20"), 0);
  EXPECT_EQ(compareVersionText("", ""), 0);
  EXPECT_GT(compareVersionText("3.00", "2.99"), 0);
  EXPECT_GT(compareVersionText("\xc3\xa9", "z"), 0);  // bytes compare unsigned
  EXPECT_GT(compareVersionText(std::string("1\0", 2), "1"), 0);
}

TEST_F(DeviceTest, ListedDevicesCarryThePackageDecision) {
  struct Case {
    std::string version;
    int state;
  } cases[] = {{"2.05", UPDATE_UPGRADE},
               {"-1", UPDATE_UPGRADE},
               {"2.5", UPDATE_REWRITE},
               {"2.50", UPDATE_DOWNGRADE}};
  for (const Case &c : cases) addDevice(card(c.version));
  ASSERT_EQ(deviceList().size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(deviceList()[i]->getUpdateState(), cases[i].state) << cases[i].version;
    EXPECT_EQ(deviceList()[i]->getPackageVersion(), "2.5");
    EXPECT_EQ(deviceList()[i]->getFwFile(), "card.bin");
    EXPECT_FALSE(deviceList()[i]->getFlashNeeded());  // marking is the driver's decision
  }
}

TEST_F(DeviceTest, DiscardedDevices) {
  DeviceObj *unknown = new VltiObj;
  unknown->setProductName("XY-1");
  addDevice(unknown);
  EXPECT_TRUE(logHas(stamped({"Device not present in keyFileList: XY-1 type: 2\n",
                              "Device not applicable: XY-1 type: 2\n"})));

  DeviceObj *odd = card("1.0");
  odd->setType(3);
  addDevice(odd);
  EXPECT_TRUE(logHas("Device not applicable: Orvo Varibay 6 HDD Switch Card type: 3\n"));
  EXPECT_FALSE(logHas("Device not present in keyFileList: Orvo Varibay 6 HDD Switch Card"));

  DeviceObj *notConfigured = new VltiObj;
  notConfigured->setProductName("BP-99");  // key file matches, only a type-0 entry exists
  addDevice(notConfigured);
  EXPECT_TRUE(logHas("Device not present in Config Info Table: BP-99 type: 2\n"));

  DeviceObj *unnamed = new VltiObj;  // a backplane whose name could not be read
  addDevice(unnamed);
  addDevice(nullptr);
  EXPECT_TRUE(deviceList().empty());
}

TEST_F(DeviceTest, SegmentExistsSeesOnlyCards) {
  DeviceObj *plane = new VltiObj;
  plane->setProductName("BP-12");
  plane->setSegmentIdx(5);
  addDevice(plane);
  addDevice(card("2.5"));  // segment 3
  ASSERT_EQ(deviceList().size(), 2u);
  EXPECT_TRUE(segmentExists(3));
  EXPECT_FALSE(segmentExists(5));
  EXPECT_FALSE(segmentExists(0xFF));
}

}  // namespace
}  // namespace enginetest
