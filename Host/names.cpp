#include "names.h"

#include <cstdio>

namespace talhost {

const char *propertyName(uint32_t type) {
  switch (type) {
    case 1:
      return "name";
    case 2:
      return "description";
    case 3:
      return "devices due";  // the installed-version text: the devices Install will flash
    case 4:
      return "package version";
    case 5:
      return "installation status";
    case 6:
      return "silent install";
    case 7:
      return "silent install, second flag";
    case 8:
      return "capability flag 8";
    case 9:
      return "host log";
    default:
      return "unknown property";
  }
}

const char *queryResultName(int32_t result) { return result ? "answered" : "failed"; }

const char *statusName(int32_t status) {
  switch (status) {
    case 1:
      return "installed version the same";
    case 2:
      return "installed version older";
    case 3:
      return "installed version newer";
    case 4:
      return "no supported hardware present, component installed";
    case 5:
      return "hardware present, component not installed";
    case 6:
      return "no supported hardware present and nothing installed";
    case 7:
      return "cannot install";
    case 8:
      return "hardware present and installed, version comparison unknown";
    default:
      return "unknown status";
  }
}

const char *installResultName(int32_t result) {
  switch (result) {
    case 0:
      return "failure";
    case 1:
      return "success";
    case 2:
      return "success, power cycle required";
    default:
      return "unknown result";
  }
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
