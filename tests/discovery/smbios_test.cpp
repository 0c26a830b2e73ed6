// The SMBIOS table walk over well-formed and malformed tables: only records that lie wholly inside
// the table are kept, field and string reads stay inside their record.
#include "smbios.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "sim/smbios.h"

namespace {

using sim::SmbiosBuilder;

std::vector<uint8_t> sampleTable() {
  SmbiosBuilder b;
  b.systemInfo("TS-900 Storage Server", 0x0001)
      .correlation(0x0200, 0x10B5, 0x8749, 0x0300)
      .correlation(0x0201, 0x8086, 0x1234, 0x0301)
      .i2cMap(0x0300, 3)
      .i2cMap(0x0301, 5)
      .record(203, 0x0202, std::vector<uint8_t>(12, 0))
      .end();
  return b.rsmb();
}

TEST(SmbiosTable, IndexesAWellFormedTable) {
  SmbiosTable t(false);
  ASSERT_TRUE(t.loadRaw(sampleTable()));
  EXPECT_TRUE(t.isLoaded());
  EXPECT_EQ(t.recordCount(), 7u);
  EXPECT_EQ(t.systemName(), "TS-900 Storage Server");

  const SmbiosTable::Record *r0 = t.findByType(203, 0);
  const SmbiosTable::Record *r1 = t.findByType(203, 1);
  const SmbiosTable::Record *r2 = t.findByType(203, 2);
  ASSERT_TRUE(r0 && r1 && r2);
  EXPECT_EQ(t.findByType(203, 3), nullptr);
  EXPECT_EQ(r0->handle, 0x0200);
  EXPECT_EQ(r1->handle, 0x0201);
  EXPECT_EQ(r2->handle, 0x0202);
  uint16_t vendor = 0, device = 0, map = 0;
  EXPECT_TRUE(t.readWord(r1, 8, vendor));
  EXPECT_TRUE(t.readWord(r1, 10, device));
  EXPECT_TRUE(t.readWord(r1, 6, map));
  EXPECT_EQ(vendor, 0x8086);
  EXPECT_EQ(device, 0x1234);
  const SmbiosTable::Record *m = t.findByHandle(map);
  ASSERT_NE(m, nullptr);
  uint8_t segment = 0;
  EXPECT_TRUE(t.readByte(m, 4, segment));
  EXPECT_EQ(segment, 5);
  EXPECT_EQ(t.findByHandle(0x7777), nullptr);
  ASSERT_NE(t.findByType(127, 0), nullptr);
  EXPECT_EQ(t.findByType(256, 0), nullptr);
  EXPECT_EQ(t.findByType(2, 0), nullptr);
}

TEST(SmbiosTable, NoDataOrNoRecordIsNotLoaded) {
  tal::os::FakePlatform fake;  // the lookups load again from the platform: no table there either
  SmbiosTable t(false);
  EXPECT_FALSE(t.loadRaw({}));
  EXPECT_FALSE(t.loadRaw({0, 3, 0, 0, 0, 0}));                  // shorter than the header
  EXPECT_FALSE(t.loadRaw(SmbiosBuilder::wrapRsmb({})));         // an empty table
  EXPECT_FALSE(t.loadRaw(SmbiosBuilder::wrapRsmb({1, 2, 0})));  // a record header cut short
  EXPECT_EQ(t.recordCount(), 0u);
  EXPECT_EQ(t.findByType(1, 0), nullptr);
  EXPECT_EQ(t.systemName(), "");
}

TEST(SmbiosTable, HeaderLengthBoundsTheTable) {
  SmbiosBuilder b;
  b.systemInfo("A").end();
  const std::vector<uint8_t> table = b.table();

  // A length above what was handed over: only the bytes present are walked.
  SmbiosTable longer(false);
  EXPECT_TRUE(longer.loadRaw(SmbiosBuilder::wrapRsmb(table, 0xFFFFFFF0u)));
  EXPECT_EQ(longer.length(), table.size());
  EXPECT_EQ(longer.recordCount(), 2u);

  // A length below it: the bytes after it are not part of the table.
  SmbiosTable shorter(false);
  std::vector<uint8_t> raw =
      SmbiosBuilder::wrapRsmb(table, static_cast<uint32_t>(table.size() - 6));
  EXPECT_TRUE(shorter.loadRaw(raw));
  EXPECT_EQ(shorter.length(), table.size() - 6);
  EXPECT_EQ(shorter.recordCount(), 1u);  // the end record no longer fits
  EXPECT_EQ(shorter.findByType(127, 0), nullptr);
}

TEST(SmbiosTable, MalformedRecordEndsTheWalk) {
  // Formatted lengths below 4 (0, which would not advance, and 3) end the walk at that record;
  // the records before it stay.
  for (uint8_t badLength : {0, 1, 3}) {
    SmbiosBuilder b;
    b.systemInfo("A").bytes({203, badLength, 0x00, 0x02, 0, 0}).end();
    SmbiosTable t(false);
    EXPECT_TRUE(t.loadRaw(b.rsmb())) << int(badLength);
    EXPECT_EQ(t.recordCount(), 1u) << int(badLength);
    EXPECT_EQ(t.findByType(127, 0), nullptr);
  }
}

TEST(SmbiosTable, RecordRunningPastTheEndIsDropped) {
  SmbiosBuilder ok;
  ok.systemInfo("A");

  // Formatted area longer than what is left.
  SmbiosBuilder b1 = ok;
  b1.bytes({203, 40, 0x00, 0x02, 1, 2, 3, 4});
  SmbiosTable t1(false);
  EXPECT_TRUE(t1.loadRaw(b1.rsmb()));
  EXPECT_EQ(t1.recordCount(), 1u);
  EXPECT_EQ(t1.findByType(203, 0), nullptr);

  // Formatted area fits exactly, no string set at all.
  SmbiosBuilder b2 = ok;
  b2.bytes({203, 4, 0x00, 0x02});
  SmbiosTable t2(false);
  EXPECT_TRUE(t2.loadRaw(b2.rsmb()));
  EXPECT_EQ(t2.recordCount(), 1u);

  // String set without its ending zeros (one zero, then the table ends).
  SmbiosBuilder b3 = ok;
  b3.bytes({203, 4, 0x00, 0x02, 'x', 'y', 0});
  SmbiosTable t3(false);
  EXPECT_TRUE(t3.loadRaw(b3.rsmb()));
  EXPECT_EQ(t3.recordCount(), 1u);

  // The last record ends exactly at the table end: kept.
  SmbiosBuilder b4 = ok;
  b4.bytes({203, 4, 0x00, 0x02, 'x', 0, 0});
  SmbiosTable t4(false);
  EXPECT_TRUE(t4.loadRaw(b4.rsmb()));
  EXPECT_EQ(t4.recordCount(), 2u);
  EXPECT_EQ(t4.getString(t4.findByType(203, 0), 1), "x");
}

TEST(SmbiosTable, FieldReadsStayInsideTheFormattedArea) {
  SmbiosBuilder b;
  b.record(203, 0x0200, {0xAA, 0xBB, 0xCC, 0xDD}, {"str"}).end();  // formatted length 8
  SmbiosTable t(false);
  ASSERT_TRUE(t.loadRaw(b.rsmb()));
  const SmbiosTable::Record *r = t.findByType(203, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->length, 8);
  uint8_t byte = 0x11;
  uint16_t word = 0x1111;
  EXPECT_TRUE(t.readByte(r, 7, byte));
  EXPECT_EQ(byte, 0xDD);
  EXPECT_TRUE(t.readWord(r, 6, word));
  EXPECT_EQ(word, 0xDDCC);
  // The string set right after it is not a field.
  byte = 0x11;
  word = 0x1111;
  EXPECT_FALSE(t.readByte(r, 8, byte));
  EXPECT_FALSE(t.readWord(r, 7, word));
  EXPECT_FALSE(t.readWord(r, 0xFFFFFFFFu, word));
  EXPECT_EQ(byte, 0x11);
  EXPECT_EQ(word, 0x1111);
  EXPECT_FALSE(t.readByte(nullptr, 0, byte));
}

TEST(SmbiosTable, StringsAreNumberedFromOneWithinTheirRecord) {
  SmbiosBuilder b;
  b.record(11, 0x0010, {}, {"first", "second"}).record(12, 0x0011, {}, {"next record"}).end();
  SmbiosTable t(false);
  ASSERT_TRUE(t.loadRaw(b.rsmb()));
  const SmbiosTable::Record *r = t.findByType(11, 0);
  EXPECT_EQ(t.getString(r, 0), "");
  EXPECT_EQ(t.getString(r, 1), "first");
  EXPECT_EQ(t.getString(r, 2), "second");
  EXPECT_EQ(t.getString(r, 3), "");  // not the next record's string
  EXPECT_EQ(t.getString(r, 255), "");
  EXPECT_EQ(t.getString(nullptr, 1), "");
  EXPECT_EQ(t.getString(t.findByType(127, 0), 1), "");  // an empty string set
}

TEST(SmbiosTable, SystemNameNeedsItsField) {
  // A type-1 record too short to hold the product-name field at offset 5.
  SmbiosBuilder shortRec;
  shortRec.record(1, 0x0001, {1}, {"Maker", "Name"}).end();
  SmbiosTable t1(false);
  ASSERT_TRUE(t1.loadRaw(shortRec.rsmb()));
  EXPECT_EQ(t1.systemName(), "");

  // A string number past the strings present.
  SmbiosBuilder pastEnd;
  pastEnd.record(1, 0x0001, {1, 9}, {"Maker"}).end();
  SmbiosTable t2(false);
  ASSERT_TRUE(t2.loadRaw(pastEnd.rsmb()));
  EXPECT_EQ(t2.systemName(), "");
}

TEST(SmbiosTable, FirstRecordOfATypeAndOfAHandleWins) {
  SmbiosBuilder b;
  b.i2cMap(0x0300, 1).i2cMap(0x0300, 2).record(0, 0x0000, {}).record(0, 0x0001, {}).end();
  SmbiosTable t(false);
  ASSERT_TRUE(t.loadRaw(b.rsmb()));
  uint8_t seg = 0;
  EXPECT_TRUE(t.readByte(t.findByHandle(0x0300), 4, seg));
  EXPECT_EQ(seg, 1);
  EXPECT_TRUE(t.readByte(t.findByType(sim::kTypeI2cMap, 1), 4, seg));
  EXPECT_EQ(seg, 2);
  // Type 0 has no index entry but is found all the same.
  ASSERT_NE(t.findByType(0, 1), nullptr);
  EXPECT_EQ(t.findByType(0, 1)->handle, 0x0001);
}

TEST(SmbiosTable, LoadsThroughThePlatform) {
  tal::os::FakePlatform fake;
  SmbiosTable empty(true);
  EXPECT_FALSE(empty.isLoaded());
  fake.smbios = sampleTable();
  EXPECT_TRUE(empty.isLoaded());  // tries again while it holds no record
  EXPECT_EQ(empty.recordCount(), 7u);
  SmbiosTable direct(true);
  EXPECT_EQ(direct.systemName(), "TS-900 Storage Server");
}

}  // namespace
