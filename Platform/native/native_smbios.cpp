// The SMBIOS table as Windows' GetSystemFirmwareTable('RSMB', 0, ...) gives it.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "native_platform.h"
#include "tal/capture.h"

namespace tal::os::native {

namespace {

// No real table comes near this; a larger file is refused rather than read into memory.
constexpr size_t kMaxTableFile = 64u << 20;

bool readFile(const char *path, std::vector<uint8_t> &out) {
  out.clear();
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  uint8_t buffer[65536];
  size_t got;
  bool ok = true;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (out.size() + got > kMaxTableFile) {
      ok = false;
      break;
    }
    out.insert(out.end(), buffer, buffer + got);
  }
  if (ferror(f)) ok = false;
  fclose(f);
  if (!ok) out.clear();
  return ok;
}

}  // namespace

namespace {

std::vector<uint8_t> readRawSmbios() {
  std::vector<uint8_t> raw;
  // A table chosen for this host (the simulator writes one): exactly the RSMB bytes. When it is
  // named, nothing else is used, so that a missing file reads as a machine without a table.
  const char *chosen = getenv("TAL_SMBIOS_TABLE");
  if (chosen && *chosen) {
    if (!readFile(mapPath(chosen).c_str(), raw)) raw.clear();
    return raw;
  }
  // A replayed capture brings the table of the machine it was made on.
  if (replaySmbios(raw)) return raw;
  // Linux's own table, with the raw-data header Windows puts before it: the calling-method flag,
  // the SMBIOS major and minor version and the DMI revision, then the table length.
  std::vector<uint8_t> table;
  if (!readFile("/sys/firmware/dmi/tables/DMI", table) || table.empty()) return raw;
  uint8_t major = 0, minor = 0, revision = 0;
  std::vector<uint8_t> entry;
  if (readFile("/sys/firmware/dmi/tables/smbios_entry_point", entry)) {
    if (entry.size() >= 0x0A && std::string(entry.begin(), entry.begin() + 5) == "_SM3_") {
      major = entry[7];
      minor = entry[8];
      revision = entry[9];
    } else if (entry.size() >= 0x08 && std::string(entry.begin(), entry.begin() + 4) == "_SM_") {
      major = entry[6];
      minor = entry[7];
    }
  }
  const uint32_t length = static_cast<uint32_t>(table.size());
  raw = {0,
         major,
         minor,
         revision,
         static_cast<uint8_t>(length),
         static_cast<uint8_t>(length >> 8),
         static_cast<uint8_t>(length >> 16),
         static_cast<uint8_t>(length >> 24)};
  raw.insert(raw.end(), table.begin(), table.end());
  return raw;
}

}  // namespace

std::vector<uint8_t> NativePlatform::rawSmbiosTable() {
  std::vector<uint8_t> raw = readRawSmbios();
  detail::recordSmbios(raw);
  return raw;
}

}  // namespace tal::os::native
