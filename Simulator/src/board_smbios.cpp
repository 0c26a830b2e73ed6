// The SMBIOS table of a simulated machine, and a builder for tables of any shape.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "board_json.h"
#include "sim/smbios.h"

namespace sim {

namespace {

void put16(std::vector<uint8_t> &out, size_t at, uint16_t value) {
  out[at] = static_cast<uint8_t>(value);
  out[at + 1] = static_cast<uint8_t>(value >> 8);
}

constexpr uint16_t kHandleSystem = 0x0001;
constexpr uint16_t kHandleCorrelationBase = 0x0200;
constexpr uint16_t kHandleMapBase = 0x0300;

}  // namespace

// --- SmbiosBuilder ---

SmbiosBuilder &SmbiosBuilder::record(uint8_t type, uint16_t handle,
                                     const std::vector<uint8_t> &body,
                                     const std::vector<std::string> &strings) {
  if (body.size() > 251) throw std::runtime_error("SMBIOS record body above 251 bytes");
  table_.push_back(type);
  table_.push_back(static_cast<uint8_t>(4 + body.size()));
  table_.push_back(static_cast<uint8_t>(handle));
  table_.push_back(static_cast<uint8_t>(handle >> 8));
  table_.insert(table_.end(), body.begin(), body.end());
  for (const std::string &s : strings) {
    table_.insert(table_.end(), s.begin(), s.end());
    table_.push_back(0);
  }
  if (strings.empty()) table_.push_back(0);
  table_.push_back(0);
  return *this;
}

SmbiosBuilder &SmbiosBuilder::bytes(const std::vector<uint8_t> &raw) {
  table_.insert(table_.end(), raw.begin(), raw.end());
  return *this;
}

SmbiosBuilder &SmbiosBuilder::systemInfo(const std::string &systemName, uint16_t handle) {
  // SMBIOS 2.4 system information: manufacturer, product name, version, serial number (strings 1 to
  // 4), UUID, wake-up type, SKU and family (no strings).
  std::vector<uint8_t> body(23, 0);
  body[0] = 1;  // manufacturer
  body[1] = 2;  // product name (offset 5 of the record)
  body[2] = 3;  // version
  body[3] = 4;  // serial number
  for (int i = 0; i < 16; ++i) body[4 + i] = static_cast<uint8_t>(0x10 + i);
  body[20] = 6;  // wake-up type: power switch
  return record(1, handle, body, {"Tal Systems", systemName, "1.0", "SIM00001"});
}

SmbiosBuilder &SmbiosBuilder::correlation(uint16_t handle, uint16_t vendor, uint16_t device,
                                          uint16_t mapHandle) {
  // Offsets 6 map handle, 8 vendor, 10 device, 12 subsystem vendor, 14 subsystem device.
  std::vector<uint8_t> body(12, 0);
  put16(body, 2, mapHandle);
  put16(body, 4, vendor);
  put16(body, 6, device);
  put16(body, 8, vendor);
  return record(203, handle, body);
}

SmbiosBuilder &SmbiosBuilder::i2cMap(uint16_t handle, uint8_t segment) {
  std::vector<uint8_t> body(4, 0);
  body[0] = segment;  // offset 4 of the record
  return record(kTypeI2cMap, handle, body);
}

SmbiosBuilder &SmbiosBuilder::end(uint16_t handle) { return record(127, handle, {}); }

std::vector<uint8_t> SmbiosBuilder::wrapRsmb(const std::vector<uint8_t> &table,
                                             std::optional<uint32_t> lengthField) {
  const uint32_t length = lengthField ? *lengthField : static_cast<uint32_t>(table.size());
  // Sized once and filled in place (growing a vector built from a list trips a false g++ 12
  // array-bounds warning in optimised builds).
  std::vector<uint8_t> raw(8 + table.size(), 0);
  raw[1] = 3;
  for (int i = 0; i < 4; ++i) raw[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  std::copy(table.begin(), table.end(), raw.begin() + 8);
  return raw;
}

// --- the machine's table ---

std::vector<uint8_t> makeSmbiosTable(const nlohmann::json &machine) {
  using detail::jsonFlag;
  using detail::jsonText;
  using detail::jsonUnsigned;

  static const nlohmann::json kNone = nlohmann::json::object();
  const nlohmann::json *smbios = &kNone;
  if (machine.is_object() && machine.contains("smbios") && !machine["smbios"].is_null()) {
    smbios = &machine["smbios"];
    if (!smbios->is_object()) throw std::runtime_error("smbios: expected an object");
  }

  struct Correlation {
    uint16_t vendor, device;
    bool dangling;  // names a map handle that no record has
    uint16_t mapHandle;
    uint8_t segment;
  };
  std::vector<Correlation> records;

  // One record per segment that has a card (or that asks for one with "smbios": true).
  if (const nlohmann::json *segments = detail::segmentsOf(machine)) {
    for (size_t i = 0; i < segments->size(); ++i) {
      const nlohmann::json &seg = (*segments)[i];
      const std::string what = "segments[" + std::to_string(i) + "]";
      if (!seg.is_object()) throw std::runtime_error(what + ": expected an object");
      if (!seg.contains("segment")) throw std::runtime_error(what + ".segment: missing");
      const uint8_t segment =
          static_cast<uint8_t>(jsonUnsigned(seg["segment"], what + ".segment", 0xFF));
      const bool hasCard = seg.contains("card") && !seg["card"].is_null();
      const bool listed = seg.contains("smbios") ? jsonFlag(seg, "smbios", what) : hasCard;
      if (listed) records.push_back({kCardVendorId, kCardDeviceId, false, 0, segment});
    }
  }

  // Extra correlation records: foreign devices, dangling map handles, repeated segments.
  if (smbios->contains("records")) {
    const nlohmann::json &extra = (*smbios)["records"];
    if (!extra.is_array()) throw std::runtime_error("smbios.records: expected a list");
    for (size_t i = 0; i < extra.size(); ++i) {
      const nlohmann::json &r = extra[i];
      const std::string what = "smbios.records[" + std::to_string(i) + "]";
      if (!r.is_object()) throw std::runtime_error(what + ": expected an object");
      Correlation c{kCardVendorId, kCardDeviceId, false, 0, 0};
      if (r.contains("vendor"))
        c.vendor = static_cast<uint16_t>(jsonUnsigned(r["vendor"], what + ".vendor", 0xFFFF));
      if (r.contains("device"))
        c.device = static_cast<uint16_t>(jsonUnsigned(r["device"], what + ".device", 0xFFFF));
      if (r.contains("map_handle")) {
        c.dangling = true;
        c.mapHandle =
            static_cast<uint16_t>(jsonUnsigned(r["map_handle"], what + ".map_handle", 0xFFFF));
      } else if (r.contains("segment")) {
        c.segment = static_cast<uint8_t>(jsonUnsigned(r["segment"], what + ".segment", 0xFF));
      } else {
        throw std::runtime_error(what + ": needs \"segment\" or \"map_handle\"");
      }
      records.push_back(c);
    }
  }

  SmbiosBuilder b;
  b.systemInfo(jsonText(*smbios, "system_name", "smbios", "Tal Simulated Server"), kHandleSystem);
  for (size_t k = 0; k < records.size(); ++k) {
    const Correlation &c = records[k];
    const uint16_t map = c.dangling ? c.mapHandle : static_cast<uint16_t>(kHandleMapBase + k);
    b.correlation(static_cast<uint16_t>(kHandleCorrelationBase + k), c.vendor, c.device, map);
  }
  for (size_t k = 0; k < records.size(); ++k) {
    if (!records[k].dangling)
      b.i2cMap(static_cast<uint16_t>(kHandleMapBase + k), records[k].segment);
  }
  b.end();
  return b.rsmb();
}

}  // namespace sim
