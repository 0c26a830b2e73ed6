// What talhost reads besides the plug-in's answers: the progress file's lines (bounded, only whole
// lines, a file started afresh) and the device tree from the engine's device list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "names.h"
#include "progress.h"
#include "tree.h"

namespace {

using talhost::ProgressEvent;

struct LineCase {
  const char *name;
  std::string line;
  bool accepted;
};

TEST(ProgressLine, AcceptsTheFiveEventsAndRefusesWhatIsOutOfBounds) {
  const std::string device =
      R"({"v":1,"event":"device","ms":5,"index":1,"count":2,"name":"Controller card 2: Orvo Varibay 6 HDD Switch Card","kind":"card","found":"1.02","offered":"1.05","unit":"blocks","total":256})";
  const std::vector<LineCase> cases = {
      {"start", R"({"v":1,"event":"start","ms":0,"devices":2})", true},
      {"device", device, true},
      {"progress",
       R"({"v":1,"event":"progress","ms":9,"index":1,"done":96,"total":256,"percent":37})", true},
      {"end", R"({"v":1,"event":"end","ms":10,"index":1,"result":"success","text":"ok"})", true},
      {"finish", R"({"v":1,"event":"finish","ms":11,"result":2,"updated":2,"failed":0})", true},
      {"another format version", R"({"v":2,"event":"start","ms":0,"devices":2})", false},
      {"no version", R"({"event":"start","ms":0,"devices":2})", false},
      {"version as text", R"({"v":"1","event":"start","ms":0,"devices":2})", false},
      {"unknown event", R"({"v":1,"event":"pause","ms":0})", false},
      {"not JSON", "Update success", false},
      {"cut short", R"({"v":1,"event":"start","ms":0,"dev)", false},
      {"an array", "[1,2]", false},
      {"negative time", R"({"v":1,"event":"start","ms":-1,"devices":2})", false},
      {"too many devices", R"({"v":1,"event":"start","ms":0,"devices":100000})", false},
      {"index 0", R"({"v":1,"event":"progress","ms":9,"index":0,"done":1,"total":2,"percent":50})",
       false},
      {"done beyond total",
       R"({"v":1,"event":"progress","ms":9,"index":1,"done":3,"total":2,"percent":50})", false},
      {"percent over 100",
       R"({"v":1,"event":"progress","ms":9,"index":1,"done":1,"total":2,"percent":101})", false},
      {"huge total",
       R"({"v":1,"event":"progress","ms":9,"index":1,"done":1,"total":18446744073709551615,"percent":1})",
       false},
      {"fraction",
       R"({"v":1,"event":"progress","ms":9,"index":1,"done":1.5,"total":2,"percent":1})", false},
      {"unknown kind",
       R"({"v":1,"event":"device","ms":5,"index":1,"count":2,"name":"x","kind":"disk","found":"1","offered":"2","unit":"blocks","total":1})",
       false},
      {"count below index",
       R"({"v":1,"event":"device","ms":5,"index":3,"count":2,"name":"x","kind":"card","found":"1","offered":"2","unit":"blocks","total":1})",
       false},
      {"unknown end result", R"({"v":1,"event":"end","ms":10,"index":1,"result":"maybe"})", false},
      {"line over 4096 bytes",
       R"({"v":1,"event":"end","ms":10,"index":1,"result":"failed","text":")" +
           std::string(5000, 'x') + "\"}",
       false},
  };
  for (const LineCase &c : cases) {
    ProgressEvent e;
    EXPECT_EQ(talhost::parseProgressLine(c.line, e), c.accepted) << c.name;
  }
  ProgressEvent e;
  ASSERT_TRUE(talhost::parseProgressLine(device, e));
  EXPECT_EQ(e.name, "Controller card 2: Orvo Varibay 6 HDD Switch Card");
  EXPECT_EQ(e.total, 256);
}

TEST(ProgressLine, CutsLongTextsAtACharacterBoundary) {
  // 300 two-byte characters: the name is kept to at most 256 bytes, whole characters only.
  std::string name;
  for (int i = 0; i < 300; ++i) name += "\xC3\xA9";
  ProgressEvent e;
  ASSERT_TRUE(talhost::parseProgressLine(
      R"({"v":1,"event":"device","ms":5,"index":1,"count":1,"name":")" + name +
          R"(","kind":"card","found":"1","offered":"2","unit":"pages","total":1})",
      e));
  EXPECT_LE(e.name.size(), 256u);
  EXPECT_EQ(e.name.size() % 2, 0u);
}

TEST(ProgressTail, TakesOnlyWholeLinesAndStartsAgainOnANewFile) {
  talhost::ProgressTail tail;
  tail.skip("old line\r\n");  // what the file held before Install
  EXPECT_TRUE(tail.newLines("old line\r\n").empty());
  EXPECT_EQ(tail.newLines("old line\r\nfirst\r\nsec"), std::vector<std::string>{"first"});
  EXPECT_EQ(tail.newLines("old line\r\nfirst\r\nsecond\r\n"), std::vector<std::string>{"second"});
  // Truncated and written afresh, even when longer than before: read from its start.
  EXPECT_EQ(tail.newLines("A\r\nB\r\nC\r\nD is longer than what was there\r\n"),
            (std::vector<std::string>{"A", "B", "C", "D is longer than what was there"}));
  EXPECT_EQ(tail.newLines("x\n"), std::vector<std::string>{"x"});
}

TEST(ProgressPrinter, ShowsEachDeviceWithItsPercentageAndTheElapsedTime) {
  talhost::ProgressPrinter text(false), json(true);
  std::vector<std::string> lines = {
      R"({"v":1,"event":"start","ms":0,"devices":1})",
      R"({"v":1,"event":"device","ms":5,"index":1,"count":1,"name":"Backplane 1: B\n","kind":"backplane","found":"2.03","offered":"2.05","unit":"pages","total":6527})",
      R"({"v":1,"event":"progress","ms":9,"index":1,"done":3264,"total":6527,"percent":50})",
      R"({"v":1,"event":"end","ms":10,"index":1,"result":"failed","text":"erased"})",
      R"({"v":1,"event":"finish","ms":11,"result":0,"updated":0,"failed":1})"};
  std::vector<std::string> out, outJson;
  for (const std::string &l : lines) {
    ProgressEvent e;
    ASSERT_TRUE(talhost::parseProgressLine(l, e));
    out.push_back(text.event(e, 12345));
    outJson.push_back(json.event(e, 12345));
  }
  EXPECT_EQ(out[1],
            "progress: [1/1] Backplane 1: B\\x0A (backplane), 2.03 -> 2.05, 6527 pages: started "
            "(elapsed 12.3 s)");
  EXPECT_EQ(out[2],
            "progress: [1/1] Backplane 1: B\\x0A: 50% (3264 of 6527 pages) (elapsed 12.3 s)");
  EXPECT_EQ(out[3], "progress: [1/1] Backplane 1: B\\x0A: failed (elapsed 12.3 s): erased");
  EXPECT_EQ(out[4], "progress: finished: result=0 (failure), 0 updated, 1 failed (elapsed 12.3 s)");
  EXPECT_EQ(text.heartbeat(13400),
            "progress: [1/1] Backplane 1: B\\x0A: 50% (3264 of 6527 pages) (elapsed 13.4 s)");
  EXPECT_EQ(
      outJson[2],
      R"({"event":"progress","ms":9,"index":1,"done":3264,"total":6527,"percent":50,"elapsed_ms":12345})");
}

struct TreeCase {
  const char *name;
  std::string due;                   // property 3's text
  std::vector<std::string> actions;  // per device, in list order
};

TEST(DeviceTree, MarksTheDevicesProperty3ListsInListOrder) {
  // Two cards, each with a "Backplane 1"; the engine prints its list once at discovery.
  const std::vector<std::string> log = {
      "[t] Config Info:",
      "[t] Dev Name: Card: X PayLoad: c.bin Version: 1.12",
      "[t] Dev Name: BP PayLoad: b.bin Version: 2.05",
      "[t] Device info:",
      "[t] Object Name: Controller card 1 Product Name: Card: X Version: 1.05 Type: 1 Idx: 0 "
      "SegmentIdx: 0x01 AddrSlv: 0x82 flashNeeded: 0 updateState: 2",
      "[t] Object Name: Backplane 1 Product Name: BP Version: 2.05 Type: 2 Idx: 0 SegmentIdx: 0x01 "
      "AddrSlv: 0x80 flashNeeded: 0 updateState: 1",
      "[t] Object Name: Controller card 2 Product Name: Card: X Version: 1.20 Type: 1 Idx: 1 "
      "SegmentIdx: 0x0a AddrSlv: 0x82 flashNeeded: 0 updateState: 0",
      "[t] Object Name: Backplane 1 Product Name: BP Version: unknown Type: 2 Idx: 0 SegmentIdx: "
      "0x0a AddrSlv: 0x80 flashNeeded: 0 updateState: 2",
      "[t] something else",
      "[t] flash Vlt Devices: Object Name: Backplane 3 Product Name: BP Version: 2.05 Type: 2 Idx: "
      "2 SegmentIdx: 0x01 AddrSlv: 0x80 flashNeeded: 1 updateState: 1",
  };
  const std::vector<TreeCase> cases = {
      {"older only",
       "\r\nController card 1: Card: X: 1.05\n\r\nBackplane 1: BP: unknown (the name record "
       "failed)\n",
       {"upgrade", "none", "none", "upgrade"}},
      {"rewrite the same",
       "\r\nController card 1: Card: X: 1.05\n\r\nBackplane 1: BP: 2.05\n\r\nBackplane 1: BP: "
       "unknown (x failed)\n",
       {"upgrade", "rewrite", "none", "upgrade"}},
      {"all",
       "\r\nController card 1: Card: X: 1.05\n\r\nBackplane 1: BP: 2.05\n\r\nController card 2: "
       "Card: X: 1.20\n\r\nBackplane 1: BP: unknown (x failed)\n",
       {"upgrade", "rewrite", "downgrade", "upgrade"}},
      {"none", "", {"none", "none", "none", "none"}},
  };
  for (const TreeCase &c : cases) {
    talhost::DeviceTree tree;
    ASSERT_TRUE(talhost::treeFromLog(log, c.due, tree)) << c.name;
    ASSERT_EQ(tree.devices.size(), 4u) << c.name;  // the flash line after the list is not in it
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(tree.devices[i].action(), c.actions[i]) << c.name << " " << i;
  }
  talhost::DeviceTree tree;
  ASSERT_TRUE(talhost::treeFromLog(log, "", tree));
  EXPECT_EQ(tree.devices[2].segment, 10);
  EXPECT_EQ(tree.devices[0].product, "Card: X");
  EXPECT_EQ(tree.devices[0].offered, "1.12");
  EXPECT_EQ(talhost::treeLines(tree)[1], "    Backplane 1 (port 0): BP, 2.05 -> 2.05, none");
  EXPECT_FALSE(talhost::treeFromLog({"[t] Config Info:"}, "", tree));
}

TEST(Names, ExitStatusFollowsTheResult) {
  EXPECT_EQ(talhost::exitForInstall(2), talhost::kExitPowerCycle);
  EXPECT_EQ(talhost::exitForInstall(1), talhost::kExitSuccess);
  EXPECT_EQ(talhost::exitForInstall(0), talhost::kExitFailed);
  EXPECT_EQ(talhost::exitForInstall(13), talhost::kExitFailed);  // no success the host knows
  EXPECT_EQ(talhost::exitForStatus(1, 7), talhost::kExitFailed);
  EXPECT_EQ(talhost::exitForStatus(0, 0), talhost::kExitFailed);
  EXPECT_EQ(talhost::exitForStatus(1, 2), talhost::kExitSuccess);
}

}  // namespace
