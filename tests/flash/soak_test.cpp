// Soak: the random-fault mode of both flash targets over many seeds. Whatever fails, no run
// succeeds after a failed transaction whose result the procedure checks, no Velto-E run succeeds
// with a wrong image, and no run leaves a lock, the handshake or a port behind.
#include "flash_fixture.h"

namespace flashtest {
namespace {

class Soak : public FlashFixture {};

TEST_F(Soak, RandomFaultsNeverEndInAFalseSuccess) {
  machine.recordTransactions = false;
  const Bytes vltePayload = makePayload(3000, 11);
  const Bytes vltiPayload = makePayload(93000, 12);
  writeImage("e.bin", imageBytes(1, 1, vltePayload));
  writeImage("i.bin", imageBytes(2, 2, vltiPayload));
  int eOk = 0, eFail = 0, iOk = 0, iFail = 0;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    freshRun();
    loader = std::make_shared<sim::VlteLoader>();
    card->loader = loader;
    *cplds[0] = sim::MachXO2();
    for (sim::RandomFaults *r : {&loader->random, &cplds[0]->random}) {
      r->enabled = true;
      r->writeFail = 0.004;
      r->readFail = 0.004;
      r->flip = 0.004;
      r->seed(seed * 7919 + (r == &loader->random));
    }
    // The CPLD sees many more transactions: lower its rates so that some runs get through.
    cplds[0]->random.writeFail = cplds[0]->random.readFail = 0.00005;
    cplds[0]->random.flip = 0.00005;

    FlashTaskVeltoE e(kSegment, kLoaderAddr, "e.bin", 0, 1);
    const int re = e.Flash();
    if (loader->random.checkedFailure) {
      EXPECT_NE(re, 0);
    }
    if (re == 0) {
      EXPECT_EQ(loader->image(), vltePayload);
      ++eOk;
    } else {
      ++eFail;
    }
    EXPECT_FALSE(anyLocked());

    FlashTaskVeltoI i(kSegment, kCpldAddr, "i.bin", 0, 2);
    const int ri = i.Flash();
    if (cplds[0]->random.checkedFailure) {
      EXPECT_NE(ri, 0);
    }
    ri == 0 ? ++iOk : ++iFail;
    EXPECT_FALSE(anyLocked());
    EXPECT_FALSE(card->handshakeHeld());
    EXPECT_EQ(card->selector->mask, 0);
  }
  // Both outcomes occur, or the soak proves nothing.
  EXPECT_GT(eOk, 0);
  EXPECT_GT(eFail, 0);
  EXPECT_GT(iOk, 0);
  EXPECT_GT(iFail, 0);
  std::printf("Velto-E: %d succeeded, %d failed; Velto-I: %d succeeded, %d failed\n", eOk, eFail,
              iOk, iFail);
}

}  // namespace
}  // namespace flashtest
