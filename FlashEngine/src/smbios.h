// A private copy of the system's SMBIOS structure table, as the firmware hands it out through the
// platform (the raw 'RSMB' data: an 8-byte header whose bytes 4 to 7 hold the table length, then
// the table), with an index of the first record of every type.
//
// The table comes from outside and is not trusted: the walk keeps only records whose header,
// formatted area and string set lie wholly inside the table, and every field read is checked
// against the record's formatted length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SmbiosTable {
 public:
  // One record of the table, as the walk found it.
  struct Record {
    uint32_t offset = 0;  // of its first byte (the type) in the table
    uint8_t type = 0;
    uint8_t length = 0;  // of the formatted area, header included
    uint16_t handle = 0;
    uint32_t end = 0;  // offset just past the two zero bytes that end its string set
  };

  // With load set, reads the table through the platform and indexes it at once.
  explicit SmbiosTable(bool load = true);
  SmbiosTable(const SmbiosTable &) = delete;
  SmbiosTable &operator=(const SmbiosTable &) = delete;

  // Reads the raw data through the platform (tal::os::sys().rawSmbiosTable()) and indexes it. False
  // when there is no data or no record in it.
  bool load();
  // Takes the raw data as the platform returns it (header and table) and indexes it.
  bool loadRaw(const std::vector<uint8_t> &raw);

  // True when the table holds at least one record; loads again first when it holds none.
  bool isLoaded();

  // The n-th record (0-based) of a type, or null. Types above 255 give null.
  const Record *findByType(unsigned type, unsigned n);
  // The first record with that handle, or null.
  const Record *findByHandle(uint16_t handle);
  // String number n of a record's string set (numbered from 1); empty for n = 0, no record, or a
  // record with fewer strings.
  std::string getString(const Record *record, unsigned n) const;
  // The product name of the system-information record (type 1), or empty.
  std::string systemName();

  // Field reads within a record's formatted area (offsets from the record's first byte,
  // little-endian). False, leaving out unchanged, when the field does not lie wholly inside it.
  bool readByte(const Record *record, unsigned offset, uint8_t &out) const;
  bool readWord(const Record *record, unsigned offset, uint16_t &out) const;

  uint32_t length() const { return static_cast<uint32_t>(data_.size()); }
  uint32_t recordCount() const { return static_cast<uint32_t>(records_.size()); }
  const std::vector<Record> &records() const { return records_; }

 private:
  void index();

  std::vector<uint8_t> data_;
  std::vector<Record> records_;
  // For each type 1 to 255, the position in records_ of its first record, or -1 (type 0 is not
  // indexed).
  int first_[256];
};
