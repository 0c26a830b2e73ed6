#include "names.h"

#include <cstdio>

namespace talhost {

namespace {

// The name at `index` of a table that starts at `first`, or `unknown` outside it.
template <size_t N>
const char *nameIn(const char *const (&names)[N], int64_t first, int64_t index,
                   const char *unknown) {
  return index >= first && index - first < static_cast<int64_t>(N) ? names[index - first] : unknown;
}

constexpr const char *kPropertyNames[] = {
    "name",
    "description",
    "devices due",  // the installed-version text: the devices Install will flash
    "package version",
    "installation status",
    "silent install",
    "silent install, second flag",
    "capability flag 8",
    "host log",
};

constexpr const char *kStatusNames[] = {
    "installed version the same",
    "installed version older",
    "installed version newer",
    "no supported hardware present, component installed",
    "hardware present, component not installed",
    "no supported hardware present and nothing installed",
    "cannot install",
    "hardware present and installed, version comparison unknown",
};

constexpr const char *kInstallResultNames[] = {
    "failure",
    "success",
    "success, power cycle required",
};

}  // namespace

const char *propertyName(uint32_t type) {
  return nameIn(kPropertyNames, 1, type, "unknown property");
}

const char *queryResultName(int32_t result) { return result ? "answered" : "failed"; }

const char *statusName(int32_t status) { return nameIn(kStatusNames, 1, status, "unknown status"); }

const char *installResultName(int32_t result) {
  return nameIn(kInstallResultNames, 0, result, "unknown result");
}

const char *flagName(int64_t value) { return value ? "yes" : "no"; }

int exitForInstall(int32_t result) {
  switch (result) {
    case 1:
      return kExitSuccess;
    case 2:
      return kExitPowerCycle;
    default:
      return kExitFailed;  // 0, and any result the host does not know, is no success
  }
}

int exitForStatus(int32_t queryResult, int32_t status) {
  return queryResult == 0 || status == 7 ? kExitFailed : kExitSuccess;
}

std::string printable(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace talhost
