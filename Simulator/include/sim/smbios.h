// The SMBIOS table of a simulated machine, in the raw form the firmware hands out
// (GetSystemFirmwareTable('RSMB'): an 8-byte header whose bytes 4 to 7 hold the table length, then
// the table), and a builder for tables of any shape, malformed ones included.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The SMBIOS table that matches a machine description (the raw 'RSMB' form: an 8-byte header whose
// bytes 4 to 7 hold the table length, then the table): a system-information record (type 1), one
// device-correlation record (type 203) with its I2C map record per card, the extra records of the
// "smbios" section, and the end record (type 127).
std::vector<uint8_t> makeSmbiosTable(const nlohmann::json &machine);

// Builds SMBIOS tables record by record (also malformed ones, for tests).
class SmbiosBuilder {
 public:
  // A record: type, formatted length (header included: 4 + body size), handle, the body after the
  // 4-byte header, then the strings (the set ends with two zero bytes).
  SmbiosBuilder &record(uint8_t type, uint16_t handle, const std::vector<uint8_t> &body,
                        const std::vector<std::string> &strings = {});
  // Arbitrary bytes, as they are.
  SmbiosBuilder &bytes(const std::vector<uint8_t> &raw);
  // A system-information record naming the system (product name string 2).
  SmbiosBuilder &systemInfo(const std::string &systemName, uint16_t handle = 0x0001);
  // A device-correlation record (type 203) with vendor, device and map handle.
  SmbiosBuilder &correlation(uint16_t handle, uint16_t vendor, uint16_t device, uint16_t mapHandle);
  // An I2C map record (type 204) giving the segment at offset 4.
  SmbiosBuilder &i2cMap(uint16_t handle, uint8_t segment);
  SmbiosBuilder &end(uint16_t handle = 0xFEFF);

  const std::vector<uint8_t> &table() const { return table_; }
  // The raw 'RSMB' form of the table.
  std::vector<uint8_t> rsmb() const { return wrapRsmb(table_); }
  // The raw 'RSMB' form of any table bytes; lengthField overrides the header's length.
  static std::vector<uint8_t> wrapRsmb(const std::vector<uint8_t> &table,
                                       std::optional<uint32_t> lengthField = std::nullopt);

 private:
  std::vector<uint8_t> table_;
};

constexpr uint16_t kCardVendorId = 0x10B5;
constexpr uint16_t kCardDeviceId = 0x8749;
constexpr uint8_t kTypeI2cMap = 204;

}  // namespace sim
