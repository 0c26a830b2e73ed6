// Reading numbers, texts and flags of the machine description's board and SMBIOS sections.
#include "board_json.h"

#include <stdexcept>

namespace sim {

namespace detail {

uint32_t jsonUnsigned(const nlohmann::json &value, const std::string &what, uint32_t max) {
  uint64_t n = 0;
  if (value.is_number_unsigned()) {
    n = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    int64_t v = value.get<int64_t>();
    if (v < 0) throw std::runtime_error(what + ": negative");
    n = static_cast<uint64_t>(v);
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    size_t used = 0;
    try {
      n = std::stoull(text, &used, 0);  // "0x10B5", "16", "020"
    } catch (const std::exception &) {
      throw std::runtime_error(what + ": \"" + text + "\" is not a number");
    }
    if (used != text.size() || text.empty() || text[0] == '-') {
      throw std::runtime_error(what + ": \"" + text + "\" is not a number");
    }
  } else {
    throw std::runtime_error(what + ": expected a number or a text such as \"0x10B5\"");
  }
  if (n > max) throw std::runtime_error(what + ": " + std::to_string(n) + " is too large");
  return static_cast<uint32_t>(n);
}

std::string jsonText(const nlohmann::json &object, const char *key, const std::string &what,
                     const std::string &fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_string()) throw std::runtime_error(what + "." + key + ": expected a text");
  return it->get<std::string>();
}

bool jsonFlag(const nlohmann::json &object, const char *key, const std::string &what) {
  auto it = object.find(key);
  if (it == object.end()) return false;
  if (!it->is_boolean()) throw std::runtime_error(what + "." + key + ": expected true or false");
  return it->get<bool>();
}

const nlohmann::json *segmentsOf(const nlohmann::json &machine) {
  if (!machine.is_object()) return nullptr;
  auto it = machine.find("segments");
  if (it == machine.end() || it->is_null()) return nullptr;
  if (!it->is_array()) throw std::runtime_error("segments: expected a list");
  return &*it;
}

}  // namespace detail

}  // namespace sim
