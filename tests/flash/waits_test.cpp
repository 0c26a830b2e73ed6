// Every fixed wait of the procedures is a wait the devices need: the processor's lock settles in
// the time the lock and unlock wait for it, the loader stores block 1 in the pause after it, the
// CPLD erases in the pause after the erase and programs a page in the pause after each page. A
// run with one kind of wait left out (no time passes for it) fails, and the device says why.
#include <functional>

#include "flash_fixture.h"

namespace flashtest {
namespace {

class Waits : public FlashFixture {};

TEST_F(Waits, EachWaitIsOneADeviceNeeds) {
  writeImage("e.bin", imageBytes(1, 1, makePayload(600)));
  writeImage("i.bin", imageBytes(2, 2, makePayload(1000)));
  struct Row {
    const char *name;
    bool vlte;
    uint32_t dropped;  // 0: every wait kept
    int result;
    std::vector<std::string> lines;
    std::string violation;  // what the device recorded ("" : nothing)
  };
  const Row rows[] = {
      {"Velto-E, every wait kept", true, 0, 0, {"flashVlt-E success\n"}, ""},
      {"Velto-E without the lock's wait",
       true,
       2000,
       -1,
       {"verified lock command. failed\n", "lockDeviceAccess: failed: -1\n"},
       ""},
      {"Velto-E without the pause after block 1",
       true,
       1000,
       -1,
       {"flashVlte Error: Querying response.\n", "XMIT Error terminating FW update.\n"},
       "query 0 ms into the 1000 ms pause after block 1"},
      {"Velto-I, every wait kept", false, 0, 0, {"\nFlashing done.\n"}, ""},
      {"Velto-I without the lock's wait",
       false,
       2000,
       -1,
       {"verified lock command. failed\n", "lockDeviceAccess: failed: -1\n"},
       ""},
      {"Velto-I without the pause after the erase",
       false,
       5000,
       -1,
       {"Error: wait status busy failed after erase.\n"},
       ""},
      {"Velto-I without the pause after each page",
       false,
       1,
       42,
       {"Error: Writing failed cfg.\n", "programRegion failed #1.\n"},
       "cfg_page 0 ms after a page (page time 1 ms)"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    freshRun();
    loader = timedLoader();
    card->loader = loader;
    *cplds[0] = timedCpld();
    fake.dropSleepsOf = row.dropped;
    const int result = row.vlte ? FlashTaskVeltoE(kSegment, kLoaderAddr, "e.bin", 0, 1).Flash()
                                : FlashTaskVeltoI(kSegment, kCpldAddr, "i.bin", 0, 2).Flash();
    fake.dropSleepsOf = 0;
    EXPECT_EQ(result, row.result);
    expectInOrder(row.lines);
    const std::vector<std::string> &violations =
        row.vlte ? loader->violations : cplds[0]->violations;
    if (row.violation.empty()) {
      EXPECT_TRUE(violations.empty()) << violations.front();
    } else {
      ASSERT_FALSE(violations.empty());
      EXPECT_EQ(violations.front(), row.violation);
    }
  }
}

}  // namespace
}  // namespace flashtest
