// The two flash target models on their own: the Velto-E loader's block protocol
// and the MachXO2 configuration interface, driven transaction by transaction.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/loader.h"
#include "sim/machxo2.h"
#include "transfer.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Driver {
  sim::I2cDevice &dev;
  bool lockHeld = true, lockedTag = true;
  bool write(const Bytes &b) { return read(b, nullptr, 0); }
  bool read(const Bytes &b, uint8_t *out, size_t n) {
    sim::I2cRequest r;
    r.lockHeld = lockHeld;
    r.lockedTag = lockedTag;
    return simtest::transfer(dev, r, b, out, n);
  }
};

uint16_t crc(const uint8_t *d, size_t n) {
  uint16_t c = 0;
  for (size_t i = 0; i < n; ++i) {
    c ^= static_cast<uint16_t>(d[i] << 8);
    for (int b = 0; b < 8; ++b) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
  }
  return c;
}

Bytes block(uint8_t number, const Bytes &data) {
  Bytes b{0x01, number, static_cast<uint8_t>(~number)};
  Bytes d(256, 0);
  std::copy(data.begin(), data.end(), d.begin());
  if (data.size() < 256) d[data.size()] = 0x1A;
  b.insert(b.end(), d.begin(), d.end());
  uint16_t c = crc(d.data(), 256);
  b.push_back(static_cast<uint8_t>(c >> 8));
  b.push_back(static_cast<uint8_t>(c));
  return b;
}

struct LoaderDriver : Driver {
  explicit LoaderDriver(sim::VlteLoader &l) : Driver{l} {}
  bool unlock() {
    return write({0x00, sim::kLoaderUnlockCode[0], sim::kLoaderUnlockCode[1],
                  sim::kLoaderUnlockCode[2], sim::kLoaderUnlockCode[3]});
  }
  int query() {
    uint8_t a = 0;
    return read({0x00}, &a, 1) ? a : -1;
  }
  bool send(const Bytes &blk) {
    for (size_t p = 0; p < blk.size(); p += 31) {
      Bytes w{0x00};
      w.insert(w.end(), blk.begin() + p, blk.begin() + std::min(blk.size(), p + 31));
      if (!write(w)) return false;
    }
    return true;
  }
};

TEST(LoaderModel, AcceptsATransferAndKeepsTheImageUpToTheMarker) {
  sim::VlteLoader loader;
  LoaderDriver d(loader);
  EXPECT_EQ(d.query(), -1) << "a locked loader answers nothing";
  ASSERT_TRUE(d.unlock());
  EXPECT_EQ(d.query(), 'C');
  Bytes first(256), second{1, 2, 0x1A, 0, 0x1A};  // payload bytes that look like markers
  for (int i = 0; i < 256; ++i) first[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(d.send(block(1, first)));
  EXPECT_EQ(d.query(), 0x06);
  ASSERT_TRUE(d.send(block(2, second)));
  EXPECT_EQ(d.query(), 0x06);
  ASSERT_TRUE(d.write({0x00, 0x04}));
  EXPECT_TRUE(loader.ended);
  EXPECT_FALSE(loader.cancelled);
  Bytes want = first;
  want.insert(want.end(), second.begin(), second.end());
  EXPECT_EQ(loader.image(), want);
  EXPECT_TRUE(loader.violations.empty());
}

TEST(LoaderModel, RefusesBadBlocks) {
  sim::VlteLoader loader;
  LoaderDriver d(loader);
  ASSERT_TRUE(d.unlock());
  ASSERT_EQ(d.query(), 'C');
  Bytes bad = block(1, {7});
  bad[100] ^= 0x01;  // CRC no longer matches
  ASSERT_TRUE(d.send(bad));
  EXPECT_EQ(d.query(), 0x15);
  bad = block(1, {7});
  bad[2] = 0;  // complement wrong
  ASSERT_TRUE(d.send(bad));
  EXPECT_EQ(d.query(), 0x15);
  ASSERT_TRUE(d.write({0x00, 0x01, 0x01}));  // an incomplete block
  EXPECT_EQ(d.query(), 0x15);
  ASSERT_TRUE(d.send(block(5, {7})));  // out of sequence
  EXPECT_EQ(d.query(), 0x18);
  EXPECT_TRUE(loader.cancelled);
  EXPECT_EQ(loader.blocksAccepted, 0);
  EXPECT_TRUE(loader.image().empty());
}

TEST(LoaderModel, TakesNothingWithoutTheLockAndTheLockedTag) {
  sim::VlteLoader loader;
  LoaderDriver d(loader);
  d.lockedTag = false;
  EXPECT_FALSE(d.unlock());
  d.lockedTag = true;
  d.lockHeld = false;
  EXPECT_FALSE(d.unlock());
  EXPECT_FALSE(loader.unlocked);
  EXPECT_EQ(loader.violations.size(), 2u);
}

TEST(LoaderModel, FailureSwitches) {
  {
    sim::VlteLoader loader;
    loader.faults.firstAnswer = 0x15;
    loader.faults.answerAtBlock = 2;
    loader.faults.answer = 0x18;
    loader.faults.repeatAnswer = 0x33;
    LoaderDriver d(loader);
    ASSERT_TRUE(d.unlock());
    EXPECT_EQ(d.query(), 0x15);
    EXPECT_TRUE(loader.ready);
    ASSERT_TRUE(d.send(block(1, {1})));
    EXPECT_EQ(d.query(), 0x06);
    ASSERT_TRUE(d.send(block(2, {1})));
    EXPECT_EQ(d.query(), 0x18);
    EXPECT_EQ(d.query(), 0x33);
  }
  {
    sim::VlteLoader loader;
    loader.faults.writeFailsAtBlock = 2;
    loader.faults.queryFailsAtBlock = 1;
    LoaderDriver d(loader);
    ASSERT_TRUE(d.unlock());
    ASSERT_EQ(d.query(), 'C');
    ASSERT_TRUE(d.send(block(1, {1})));
    EXPECT_EQ(d.query(), -1);
    EXPECT_FALSE(d.send(block(2, {1})));
  }
  {
    sim::VlteLoader loader;
    loader.faults.unlockFails = true;
    LoaderDriver d(loader);
    EXPECT_FALSE(d.unlock());
  }
}

struct CpldDriver : Driver {
  explicit CpldDriver(sim::MachXO2 &m) : Driver{m} {}
  int status() {
    uint8_t s[4] = {};
    if (!read({0x3C, 0, 0, 0}, s, 4)) return -1;
    return s[0] << 24 | s[1] << 16 | s[2] << 8 | s[3];
  }
  bool page(uint8_t op, uint8_t fill) {
    Bytes w{op, 0, 0, 1};
    w.insert(w.end(), 16, fill);
    return write(w);
  }
  void waitIdle() {
    for (int i = 0; i < 100 && (status() & 0x1000); ++i) {
    }
  }
};

TEST(MachXO2Model, ProgramsBothRegionsInOrder) {
  sim::MachXO2 cpld;
  cpld.preset(0x5A);
  CpldDriver d(cpld);
  ASSERT_TRUE(d.write({0x74, 0x08, 0x00}));
  EXPECT_EQ(d.status() & 0x0200, 0x0200);
  ASSERT_TRUE(d.write({0x0E, 0x0C, 0, 0}));
  // Busy is bit 12: byte 2 of the word sent most significant first.
  uint8_t s[4] = {};
  ASSERT_TRUE(d.read({0x3C, 0, 0, 0}, s, 4));
  EXPECT_EQ(s[2] & 0x10, 0x10);
  d.waitIdle();
  EXPECT_EQ(cpld.cfg[0], 0) << "erased bits read 0";
  ASSERT_TRUE(d.write({0x46, 0, 0, 0}));
  for (int p = 0; p < sim::MachXO2::kCfgPages; ++p) {
    ASSERT_TRUE(d.page(0x70, static_cast<uint8_t>(p)));
    d.waitIdle();
  }
  ASSERT_TRUE(d.write({0x47, 0, 0, 0}));
  ASSERT_TRUE(d.page(0xC9, 0xAB));
  d.waitIdle();
  ASSERT_TRUE(d.write({0x5E, 0, 0, 0}));
  ASSERT_TRUE(d.write({0x26, 0, 0, 0}));
  EXPECT_TRUE(cpld.violations.empty()) << cpld.violations.front();
  EXPECT_EQ(cpld.cfgPagesProgrammed, 5760);
  EXPECT_EQ(cpld.cfg[16 * 300], 300 & 0xFF);
  EXPECT_EQ(cpld.ufm[0], 0xAB);
  EXPECT_EQ(cpld.ufm[16], 0);
  EXPECT_TRUE(cpld.done);
  EXPECT_TRUE(cpld.closed);
  EXPECT_FALSE(cpld.enabled);
  EXPECT_EQ(cpld.closeByte, 0);
}

TEST(MachXO2Model, RefusesCommandsOutOfOrder) {
  sim::MachXO2 cpld;
  CpldDriver d(cpld);
  EXPECT_TRUE(d.write({0x0E, 0x0C, 0, 0}));  // acknowledged, but ignored
  EXPECT_EQ(cpld.erases, 0);
  ASSERT_TRUE(d.write({0x74, 0x08, 0x00}));
  EXPECT_TRUE(d.page(0x70, 0xFF));  // before erase
  ASSERT_TRUE(d.write({0x0E, 0x0C, 0, 0}));
  EXPECT_TRUE(d.write({0x46, 0, 0, 0}));  // while busy
  d.waitIdle();
  EXPECT_TRUE(d.page(0x70, 0xFF));  // before the address reset
  ASSERT_TRUE(d.write({0x47, 0, 0, 0}));
  for (int p = 0; p < sim::MachXO2::kUfmPages; ++p) {
    ASSERT_TRUE(d.page(0xC9, 0x0F));
    d.waitIdle();
  }
  EXPECT_TRUE(d.page(0xC9, 0x0F));  // past the region
  ASSERT_TRUE(d.write({0x47, 0, 0, 0}));
  ASSERT_TRUE(d.page(0xC9, 0xF0));  // bits only set: 0x0F | 0xF0
  EXPECT_EQ(cpld.ufm[0], 0xFF);
  EXPECT_EQ(cpld.cfgPagesProgrammed, 0);
  ASSERT_EQ(cpld.violations.size(), 5u);
  EXPECT_EQ(cpld.violations[0], "erase before enable");
  EXPECT_EQ(cpld.violations[1], "cfg page before erase");
  EXPECT_EQ(cpld.violations[2], "reset_cfg while busy");
  EXPECT_EQ(cpld.violations[3], "cfg page before the address reset");
  EXPECT_EQ(cpld.violations[4], "ufm page past the region");
}

TEST(MachXO2Model, FailureSwitchesAndTheLock) {
  sim::MachXO2 cpld;
  cpld.faults.push_back({sim::CpldCommand::CfgPage, 2, sim::CpldFault::Nak});
  cpld.faults.push_back({sim::CpldCommand::CfgPage, 3, sim::CpldFault::FailBit});
  cpld.faults.push_back({sim::CpldCommand::UfmPage, 1, sim::CpldFault::BusyForever});
  cpld.erasePolls = 0;
  cpld.pagePolls = 0;
  CpldDriver d(cpld);
  ASSERT_TRUE(d.write({0x74, 0x08, 0x00}));
  ASSERT_TRUE(d.write({0x0E, 0x0C, 0, 0}));
  ASSERT_TRUE(d.write({0x46, 0, 0, 0}));
  EXPECT_TRUE(d.page(0x70, 1));
  EXPECT_FALSE(d.page(0x70, 1));
  EXPECT_TRUE(d.page(0x70, 1));
  EXPECT_EQ(d.status() & 0x2000, 0x2000);
  ASSERT_TRUE(d.write({0x47, 0, 0, 0}));
  EXPECT_TRUE(d.page(0xC9, 1));
  EXPECT_EQ(d.status() & 0x1000, 0x1000);
  EXPECT_EQ(d.status() & 0x1000, 0x1000);
  d.lockHeld = false;
  EXPECT_FALSE(d.write({0x26, 0, 0, 0}));
  EXPECT_EQ(cpld.violations.back(), "close without the device-access lock");
}

}  // namespace
