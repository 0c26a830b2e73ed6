// Reading the machine description's board and SMBIOS sections: numbers may be written as JSON
// numbers or as texts ("0x10B5"); every malformed value throws std::invalid_argument naming where
// it is.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace sim::detail {

uint32_t jsonUnsigned(const nlohmann::json &value, const std::string &what, uint32_t max);
std::string jsonText(const nlohmann::json &object, const char *key, const std::string &what,
                     const std::string &fallback);
bool jsonFlag(const nlohmann::json &object, const char *key, const std::string &what);
// The "segments" list, or null when there is none.
const nlohmann::json *segmentsOf(const nlohmann::json &machine);

}  // namespace sim::detail
