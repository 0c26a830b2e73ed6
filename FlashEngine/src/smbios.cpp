#include "smbios.h"

#include <algorithm>

#include "log.h"
#include "tal/platform.h"

namespace {
constexpr size_t kRawHeaderSize = 8;
constexpr unsigned kRecordHeaderSize = 4;  // type, length, handle
}  // namespace

SmbiosTable::SmbiosTable(bool load) {
  std::fill(std::begin(first_), std::end(first_), -1);
  if (load) this->load();
}

bool SmbiosTable::load() { return loadRaw(tal::os::sys().rawSmbiosTable()); }

bool SmbiosTable::loadRaw(const std::vector<uint8_t> &raw) {
  data_.clear();
  records_.clear();
  std::fill(std::begin(first_), std::end(first_), -1);
  if (raw.empty()) return false;
  if (raw.size() < kRawHeaderSize) {
    logMessage(LOG_VERBOSE, "SMBIOS raw data too short: %u bytes\n",
               static_cast<unsigned>(raw.size()));
    return false;
  }
  uint32_t tableLength = static_cast<uint32_t>(raw[4]) | static_cast<uint32_t>(raw[5]) << 8 |
                         static_cast<uint32_t>(raw[6]) << 16 | static_cast<uint32_t>(raw[7]) << 24;
  size_t available = raw.size() - kRawHeaderSize;
  if (tableLength > available) {
    // Only what was handed over is ever read.
    logMessage(LOG_VERBOSE, "SMBIOS table length %u exceeds the %u bytes returned\n", tableLength,
               static_cast<unsigned>(available));
    tableLength = static_cast<uint32_t>(available);
  }
  data_.assign(raw.begin() + kRawHeaderSize, raw.begin() + kRawHeaderSize + tableLength);
  index();
  return !records_.empty();
}

void SmbiosTable::index() {
  const size_t size = data_.size();
  size_t pos = 0;
  while (pos < size) {
    if (size - pos < kRecordHeaderSize) {
      logMessage(LOG_VERBOSE, "SMBIOS record at offset %u runs past the table end (%u bytes)\n",
                 static_cast<unsigned>(pos), static_cast<unsigned>(size));
      break;
    }
    Record rec;
    rec.offset = static_cast<uint32_t>(pos);
    rec.type = data_[pos];
    rec.length = data_[pos + 1];
    rec.handle = static_cast<uint16_t>(data_[pos + 2] | data_[pos + 3] << 8);
    if (rec.length < kRecordHeaderSize) {
      logMessage(LOG_VERBOSE, "SMBIOS record at offset %u: formatted length %u is malformed\n",
                 static_cast<unsigned>(pos), rec.length);
      break;
    }
    if (rec.length > size - pos) {
      logMessage(LOG_VERBOSE, "SMBIOS record at offset %u runs past the table end (%u bytes)\n",
                 static_cast<unsigned>(pos), static_cast<unsigned>(size));
      break;
    }
    // The string set: zero-terminated strings, ended by one more zero (two zeros when empty).
    size_t s = pos + rec.length;
    size_t stop = size;  // offset of the first of the two ending zeros, when found
    for (size_t i = s; i + 1 < size; ++i) {
      if (data_[i] == 0 && data_[i + 1] == 0) {
        stop = i;
        break;
      }
    }
    if (stop == size) {
      logMessage(LOG_VERBOSE,
                 "SMBIOS record at offset %u: string set runs past the table "
                 "end (%u bytes)\n",
                 static_cast<unsigned>(pos), static_cast<unsigned>(size));
      break;
    }
    rec.end = static_cast<uint32_t>(stop + 2);
    if (rec.type != 0 && first_[rec.type] < 0) first_[rec.type] = static_cast<int>(records_.size());
    records_.push_back(rec);
    pos = rec.end;
  }
}

bool SmbiosTable::isLoaded() {
  if (records_.empty()) load();
  return !records_.empty();
}

const SmbiosTable::Record *SmbiosTable::findByType(unsigned type, unsigned n) {
  if (type > 255) return nullptr;
  if (records_.empty()) load();
  size_t start = first_[type] >= 0 ? static_cast<size_t>(first_[type]) : 0;
  unsigned seen = 0;
  for (size_t i = start; i < records_.size(); ++i) {
    if (records_[i].type != type) continue;
    if (seen == n) return &records_[i];
    ++seen;
  }
  return nullptr;
}

const SmbiosTable::Record *SmbiosTable::findByHandle(uint16_t handle) {
  if (records_.empty()) load();
  for (const Record &rec : records_) {
    if (rec.handle == handle) return &rec;
  }
  return nullptr;
}

std::string SmbiosTable::getString(const Record *record, unsigned n) const {
  if (!record || n == 0) return std::string();
  // The walk guarantees that the string set lies inside the table and ends with two zeros at
  // record->end - 2.
  size_t pos = record->offset + record->length;
  const size_t last = record->end - 2;  // first of the two ending zeros
  for (unsigned k = 1; k < n; ++k) {
    if (pos >= last || data_[pos] == 0) return std::string();  // fewer strings than n
    while (data_[pos] != 0) ++pos;
    ++pos;
  }
  if (pos > last || data_[pos] == 0) return std::string();
  size_t begin = pos;
  while (data_[pos] != 0) ++pos;
  return std::string(reinterpret_cast<const char *>(&data_[begin]), pos - begin);
}

std::string SmbiosTable::systemName() {
  const Record *rec = findByType(1, 0);
  uint8_t n = 0;
  if (!readByte(rec, 5, n)) return std::string();
  return getString(rec, n);
}

bool SmbiosTable::readByte(const Record *record, unsigned offset, uint8_t &out) const {
  if (!record || offset >= record->length) return false;
  out = data_[record->offset + offset];
  return true;
}

bool SmbiosTable::readWord(const Record *record, unsigned offset, uint16_t &out) const {
  if (!record || record->length < 2 || offset > record->length - 2u) return false;
  size_t p = record->offset + offset;
  out = static_cast<uint16_t>(data_[p] | data_[p + 1] << 8);
  return true;
}
