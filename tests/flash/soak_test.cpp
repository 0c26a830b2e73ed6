// Soak: the random-fault mode of both flash targets over many seeds. Whatever fails, no run
// succeeds after a failed transaction whose result the procedure checks, no Velto-E run succeeds
// with a wrong image, and no run leaves a lock, the handshake or a port behind.
#include <functional>

#include "flash_fixture.h"

namespace flashtest {
namespace {

class Soak : public FlashFixture {
 protected:
  // e.bin (a Velto-E image of eBytes) and i.bin (a Velto-I image of 93,000 bytes), their payloads
  // from the seed and the next; the simulator keeps no transaction log over the many runs.
  void writeImages(size_t eBytes, uint32_t seed) {
    machine.recordTransactions = false;
    vltePayload = makePayload(eBytes, seed);
    vltiPayload = makePayload(93000, seed + 1);
    writeImage("e.bin", imageBytes(1, 1, vltePayload));
    writeImage("i.bin", imageBytes(2, 2, vltiPayload));
  }
  Bytes vltePayload, vltiPayload;
};

TEST_F(Soak, RandomFaultsNeverEndInAFalseSuccess) {
  writeImages(3000, 11);
  int eOk = 0, eFail = 0, iOk = 0, iFail = 0;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    freshRun();
    loader = timedLoader();
    card->loader = loader;
    *cplds[0] = timedCpld();
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

// The processor answers one request, at every place of a run in turn, with the header alone (LEN
// 8 in a response of the usual size) without carrying it out. A run may still succeed when the
// lost request was one whose result the procedure does not rely on, but never with a device
// holding anything other than the image.
TEST_F(Soak, HeaderOnlyAnswersNeverEndInAFalseSuccess) {
  writeImages(1000, 21);
  Bytes vltiRegions = vltiPayload;
  vltiRegions.resize(sim::MachXO2::kPage * (sim::MachXO2::kCfgPages + sim::MachXO2::kUfmPages));

  struct Target {
    const char *name;
    std::function<int()> flash;
    std::function<bool()> holdsImage;
  };
  const Target targets[] = {
      {"Velto-E", [&] { return FlashTaskVeltoE(kSegment, kLoaderAddr, "e.bin", 0, 1).Flash(); },
       [&] { return loader->image() == vltePayload; }},
      {"Velto-I", [&] { return FlashTaskVeltoI(kSegment, kCpldAddr, "i.bin", 0, 2).Flash(); },
       [&] {
         Bytes both = cplds[0]->cfg;
         both.insert(both.end(), cplds[0]->ufm.begin(), cplds[0]->ufm.end());
         return both == vltiRegions;
       }},
  };
  auto fresh = [&] {
    freshRun();
    loader = timedLoader();
    card->loader = loader;
    *cplds[0] = timedCpld();
    machine.requests = 0;
  };
  for (const Target &target : targets) {
    fresh();
    ASSERT_EQ(target.flash(), 0) << target.name;
    const uint64_t total = machine.requests;
    // Every request of the start and the end (locks, board writes, the first blocks or pages,
    // the releases), and a spread of the ones in between.
    std::vector<uint64_t> places;
    for (uint64_t k = 0; k < total; k += (k < 60 || k + 60 > total) ? 1 : total / 150) {
      places.push_back(k);
    }
    int succeeded = 0, failed = 0;
    for (uint64_t k : places) {
      SCOPED_TRACE(std::string(target.name) + ": request " + std::to_string(k));
      fresh();
      machine.faults.headerOnlyLen = 1;
      machine.faults.headerOnlyAfter = static_cast<int>(k);
      const int result = target.flash();
      EXPECT_EQ(machine.faults.headerOnlyLen, 0) << "the answer was given";
      if (result == 0) {
        EXPECT_TRUE(target.holdsImage());
        ++succeeded;
      } else {
        ++failed;
      }
    }
    EXPECT_GT(failed, 0);
    std::printf("%s: %zu places, %d succeeded, %d failed\n", target.name, places.size(), succeeded,
                failed);
  }
}

}  // namespace
}  // namespace flashtest
