// What the machine description (TAL_MACHINE) tells the simulated Windows host about the system
// itself: its identity and its free disk space. Every key is optional; a key of the wrong type
// is ignored with a line on standard error, so that a slip in the description never stops the
// plug-in.
#include <stdio.h>
#include <stdlib.h>
#include <sys/statvfs.h>

#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "native_platform.h"
#include "tal/capture.h"

namespace tal::os::native {

namespace {

using json = nlohmann::json;

void warn(const std::string &what) {
  fprintf(stderr, "TAL_MACHINE: %s; the default is used\n", what.c_str());
}

// The description, read afresh on every question (tests change it between cases); null when
// TAL_MACHINE is unset, unreadable or not a JSON object.
json loadMachine() {
  const char *path = getenv("TAL_MACHINE");
  if (!path || !*path) return json();
  std::ifstream in(mapPath(path), std::ios::binary);
  if (!in) {
    warn(std::string("\"") + path + "\" cannot be read");
    return json();
  }
  json machine = json::parse(in, nullptr, false);
  if (machine.is_discarded() || !machine.is_object()) {
    warn(std::string("\"") + path + "\" is not a JSON object");
    return json();
  }
  return machine;
}

const json *section(const json &machine, const char *key) {
  if (!machine.is_object()) return nullptr;
  auto it = machine.find(key);
  if (it == machine.end() || it->is_null()) return nullptr;
  if (!it->is_object()) {
    warn(std::string(key) + ": expected an object");
    return nullptr;
  }
  return &*it;
}

template <typename T>
void readNumber(const json &object, const char *section, const char *key, T &out) {
  auto it = object.find(key);
  if (it == object.end()) return;
  if (it->is_number_unsigned() && it->get<uint64_t>() <= std::numeric_limits<T>::max()) {
    out = static_cast<T>(it->get<uint64_t>());
  } else {
    warn(std::string(section) + "." + key + ": expected a number from 0 to " +
         std::to_string(std::numeric_limits<T>::max()));
  }
}

}  // namespace

bool NativePlatform::systemIdentity(SystemIdentity &out) {
  SystemIdentity identity;
  const json machine = loadMachine();
  if (const json *os = section(machine, "os")) {
    readNumber(*os, "os", "platform_id", identity.platformId);
    readNumber(*os, "os", "architecture", identity.architecture);
    readNumber(*os, "os", "major", identity.major);
    readNumber(*os, "os", "minor", identity.minor);
    readNumber(*os, "os", "build", identity.build);
    readNumber(*os, "os", "product_type", identity.productType);
    // The plain version query answers the true version unless the description says otherwise.
    identity.reportedMajor = identity.major;
    identity.reportedMinor = identity.minor;
    readNumber(*os, "os", "reported_major", identity.reportedMajor);
    readNumber(*os, "os", "reported_minor", identity.reportedMinor);
    readNumber(*os, "os", "service_pack", identity.servicePackMajor);
    auto r2 = os->find("server_r2");
    if (r2 != os->end()) {
      if (r2->is_boolean()) {
        identity.serverR2 = r2->get<bool>();
      } else {
        warn("os.server_r2: expected true or false");
      }
    }
  }
  out = identity;
  return true;
}

bool NativePlatform::freeDiskBytes(const std::wstring &path, uint64_t &out) {
  const json machine = loadMachine();
  if (const json *disk = section(machine, "disk")) {
    if (disk->contains("free_bytes")) {
      uint64_t bytes = 0;
      const json &value = (*disk)["free_bytes"];
      if (value.is_number_unsigned()) {
        bytes = value.get<uint64_t>();
        out = bytes;
        return true;
      }
      warn("disk.free_bytes: expected a number of bytes");
    }
  }
  struct statvfs st;
  if (statvfs(mapPath(toUtf8(path)).c_str(), &st) != 0) return false;
  out = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
  return true;
}

bool NativePlatform::computerModel(std::wstring &out) {
  const json machine = loadMachine();
  if (!machine.is_object()) return false;
  auto it = machine.find("computer_model");
  if (it == machine.end()) return false;
  if (!it->is_string()) {
    warn("computer_model: expected a text");
    return false;
  }
  out = fromUtf8(it->get<std::string>());
  return true;
}

bool NativePlatform::shellOpen(const std::wstring &file, const std::wstring &) {
  return isRegularFile(file);
}

}  // namespace tal::os::native

namespace tal::os::native {

// The SMBIOS table of the capture the description replays ("replay": a path, relative to the
// description's folder unless absolute): the hex of its first "smbios" line. False when the
// description replays nothing; true with an empty table when the capture holds none or cannot be
// read (a line on standard error says why).
bool replaySmbios(std::vector<uint8_t> &out) {
  out.clear();
  const json machine = loadMachine();
  if (!machine.is_object()) return false;
  auto it = machine.find("replay");
  if (it == machine.end()) return false;
  if (!it->is_string() || it->get<std::string>().empty()) {
    warn("replay: expected the path of a capture");
    return false;
  }
  std::string path = it->get<std::string>();
  if (path[0] != '/') {
    const std::string description = getenv("TAL_MACHINE");
    const size_t slash = description.rfind('/');
    if (slash != std::string::npos) path = description.substr(0, slash + 1) + path;
  }
  std::ifstream in(mapPath(path), std::ios::binary);
  if (!in) {
    fprintf(stderr, "TAL_MACHINE: replay \"%s\" cannot be read; no SMBIOS table\n", path.c_str());
    return true;
  }
  // The capture is outside data: each line is read to a bound (a table of at most 256 KiB is
  // 512 KiB of hex) and the table to its size.
  constexpr size_t kMaxLine = 1u << 20;
  constexpr size_t kMaxTable = 256u << 10;
  std::string line;
  for (size_t n = 0; in; ++n) {
    line.clear();
    int c;
    while ((c = in.get()) != EOF && c != '\n') {
      if (line.size() == kMaxLine) {
        fprintf(stderr, "TAL_MACHINE: replay \"%s\": line %zu is longer than %zu bytes\n",
                path.c_str(), n + 1, kMaxLine);
        return true;
      }
      line += static_cast<char>(c);
    }
    if (line.find("\"smbios\"") == std::string::npos) continue;
    const json entry = json::parse(line, nullptr, false);
    if (entry.is_object() && entry.contains("smbios") && entry["smbios"].is_string()) {
      if (!fromHex(entry["smbios"].get<std::string>(), out)) {
        fprintf(stderr, "TAL_MACHINE: replay \"%s\": the SMBIOS line is not hex\n", path.c_str());
      } else if (out.size() > kMaxTable) {
        fprintf(stderr, "TAL_MACHINE: replay \"%s\": an SMBIOS table of %zu bytes (at most %zu)\n",
                path.c_str(), out.size(), kMaxTable);
        out.clear();
      }
      return true;
    }
  }
  return true;
}

}  // namespace tal::os::native
