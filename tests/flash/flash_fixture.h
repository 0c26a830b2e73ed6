// Shared pieces of the flash tests: the fake platform (its clock records every
// sleep), a scratch folder (the engine log lands in
// <scratch>/talsystem/log/Verbose.log), the in-process simulated management
// processor with a switch card on segment 1 whose loader and backplane CPLD are
// the flash target models, and image-file helpers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/smif.h"
#include "channel/transport.h"
#include "engine.h"
#include "engine_log.h"
#include "fake_platform.h"
#include "flashtask.h"
#include "fwheader.h"
#include "log.h"
#include "sim/board.h"
#include "sim/loader.h"
#include "sim/machine.h"
#include "sim/machxo2.h"
#include "sim/simchannel.h"
#include "veltoe.h"
#include "veltoi.h"

namespace flashtest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSegment = 1;
constexpr uint8_t kLoaderAddr = 0x82;
constexpr uint8_t kCpldAddr = 0x80;

// A payload of n bytes from a seed (no two neighbouring blocks alike).
inline Bytes makePayload(size_t n, uint32_t seed = 7) {
  Bytes p(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto &b : p) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return p;
}

// A whole image file: a 40-byte header for the type and chip (ISP text = the
// chip's name) and the payload.
inline std::string imageBytes(int type, int chip, const Bytes &payload, int major = 1,
                              int minor = 5) {
  uint8_t h[fwimg::kHeaderSize];
  fwimg::encodeHeader(h, 1, type, major, minor, chip, fwimg::chipText(chip));
  std::string s(reinterpret_cast<char *>(h), sizeof h);
  s.append(payload.begin(), payload.end());
  return s;
}

// The fake platform, also noting whether each sleep ran with precise sleeps on.
// Also throws, once, at the sleep of index throwAtSleep (counted in `sleeps`): an exception from
// deep inside a procedure, as an allocation failing in a log call would raise.
class SleepRecordingPlatform : public tal::os::FakePlatform {
 public:
  void sleepMs(uint32_t ms) override {
    if (throwAtSleep >= 0 && sleeps.size() == static_cast<size_t>(throwAtSleep)) {
      throwAtSleep = -1;
      throw std::runtime_error("thrown at a sleep");
    }
    preciseAtSleep.push_back(preciseDepth > 0);
    if (ms == dropSleepsOf) {  // a wait left out: recorded, but no time passes
      sleeps.push_back(ms);
      return;
    }
    FakePlatform::sleepMs(ms);
  }
  std::vector<bool> preciseAtSleep;
  int throwAtSleep = -1;
  uint32_t dropSleepsOf = 0;  // sleeps of this length let no time pass (0: none)
};

// The devices' own times, which the procedures' waits must cover: the processor's lock settles
// in 2000 ms, the loader stores block 1 in 1000 ms, the CPLD erases in 5000 ms and programs a page
// in 1 ms (all on the fake clock, which only the procedures' sleeps advance).
constexpr uint32_t kAccessSettleMs = 2000, kBlockPauseMs = 1000, kEraseMs = 5000, kPageMs = 1;

inline std::shared_ptr<sim::VlteLoader> timedLoader() {
  auto l = std::make_shared<sim::VlteLoader>();
  l->blockPauseMs = kBlockPauseMs;
  return l;
}
inline sim::MachXO2 timedCpld() {
  sim::MachXO2 c;
  c.eraseMs = kEraseMs;
  c.pageMs = kPageMs;
  return c;
}

class FlashFixture : public ::testing::Test {
 public:
  FlashFixture() : channel(machine) {}

  void SetUp() override {
    resetEngine();
    tal::os::ScratchDir::write(logPath(), "");
    fake.channel = &channel;
    card = std::make_shared<sim::SwitchCard>(kSegment, "Orvo Varibay 6 HDD Switch Card", 1, 5);
    machine.accessSettleMs = kAccessSettleMs;
    loader = timedLoader();
    card->loader = loader;
    for (int b = 0; b < 3; ++b) {
      auto bp = card->addBackplane("Orvo Varibay 6 HDD Backplane", 2, 4);
      cplds.push_back(std::make_shared<sim::MachXO2>(timedCpld()));
      cplds.back()->erasePolls = 2;
      bp->cpld = cplds.back();
    }
    sim::attachCard(machine.bus, card);
    ASSERT_TRUE(openChannel());
    fake.sleeps.clear();
    fake.preciseAtSleep.clear();
    machine.transactions.clear();
    machine.accessLog.clear();
  }

  void TearDown() override {
    closeChannel();
    resetEngine();
  }

  // Back to a quiet machine between the rows of a table: no faults, no locks,
  // empty records, an empty engine log.
  void freshRun() {
    machine.faults = sim::Faults{};
    machine.setLocked(kSegment, kLoaderAddr, false);
    machine.setLocked(kSegment, kCpldAddr, false);
    machine.transactions.clear();
    machine.accessLog.clear();
    fake.sleeps.clear();
    fake.preciseAtSleep.clear();
    tal::os::ScratchDir::write(logPath(), "");
  }

  // The engine log: at the root of the current drive, which the platform maps to the scratch
  // folder natively (SYSTEMDRIVE); on Windows the real root of the current drive.
  std::string logPath() const { return testlog::engineLogPath(scratch); }
  // The engine log without its time stamps.
  std::string log() const { return testlog::withoutStamps(testlog::readEngineFile(logPath())); }
  // Each text appears in the log, in this order.
  void expectInOrder(const std::vector<std::string> &texts) const {
    const std::string text = log();
    size_t pos = 0;
    for (const std::string &t : texts) {
      size_t at = text.find(t, pos);
      ASSERT_NE(at, std::string::npos) << "missing (in order): [" << t << "]\nlog:\n" << text;
      pos = at + t.size();
    }
  }
  bool logHas(const std::string &t) const { return log().find(t) != std::string::npos; }

  std::string writeImage(const std::string &name, const std::string &bytes) {
    tal::os::ScratchDir::write(scratch.file(name), bytes);
    return name;  // relative: the scratch folder is the current directory
  }

  // Writes sent to a device, as byte strings.
  std::vector<Bytes> writesTo(uint8_t address) const {
    std::vector<Bytes> out;
    for (const auto &t : machine.transactionsOn(kSegment, address)) out.push_back(t.write);
    return out;
  }
  int countWrites(uint8_t address, const Bytes &bytes) const {
    int n = 0;
    for (const auto &w : writesTo(address)) n += w == bytes;
    return n;
  }
  int accessActions(uint16_t action) const {
    int n = 0;
    for (const auto &a : machine.accessLog) n += a.action == action;
    return n;
  }
  // The lock and board traffic in the order the processor saw it: access requests ("query",
  // "lock", "unlock"), handshake writes at 0xEC ("hs1", "hs0") and port writes at 0xE4
  // ("port<mask>"), each marked "*" when it carried the locked tag.
  std::vector<std::string> boardRecord() const {
    std::vector<std::pair<uint64_t, std::string>> events;
    static const char *const kActions[] = {"query", "lock", "unlock"};
    for (const auto &a : machine.accessLog) {
      events.emplace_back(a.order, a.action <= 2 ? kActions[a.action] : "action?");
    }
    for (const auto &t : machine.transactions) {
      if (t.engine != kSegment || t.write.size() != 2) continue;
      std::string what;
      if (t.address == 0xEC && t.write[0] == 0x66) what = "hs" + std::to_string(t.write[1]);
      if (t.address == 0xE4 && t.write[0] == 0x00) what = "port" + std::to_string(t.write[1]);
      if (!what.empty()) events.emplace_back(t.order, what + (t.lockedTag ? "*" : ""));
    }
    std::sort(events.begin(), events.end());
    std::vector<std::string> out;
    for (auto &e : events) out.push_back(e.second);
    return out;
  }
  bool anyLocked() const {
    return machine.isLocked(kSegment, kLoaderAddr) || machine.isLocked(kSegment, kCpldAddr);
  }

  tal::os::ScratchDir scratch;
  SleepRecordingPlatform fake;
  sim::Machine machine;
  sim::SimChannel channel;
  std::shared_ptr<sim::SwitchCard> card;
  std::shared_ptr<sim::VlteLoader> loader;
  std::vector<std::shared_ptr<sim::MachXO2>> cplds;
};

}  // namespace flashtest
