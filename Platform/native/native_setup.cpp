// The native driver-installation host: the simulated Windows host, filled from the machine
// description (TAL_MACHINE) when it is first used, and writing its record of every change to the
// file named by TAL_SETUP_RECORD when the process ends.
//
// Machine description keys (all optional):
//   "registry":  { "HKLM\\Software\\Tal": { "Name": "text", "Count": 3 }, ... }
//                (a number is a REG_DWORD, a text a REG_SZ; an empty object makes the key alone)
//   "services":  [ { "name", "display_name", "binary", "start_type", "service_type" } ]
//   "devices":   [ { "instance_id", "hardware_ids": [..], "inf", "description", "service",
//                    "inbox", "update_reboot", "update_fails" } ]
//   "files_in_use":     [ "C:\\Windows\\system32\\drivers\\x.sys", ... ]
//   "system_directory": "C:\\Windows\\system32"
//   "newdev":    "present" (default), "missing" or "no_update_function"
//   "ansi_code_page":   1252 (default), 1250, 1251 or 65001: how text without a byte order
//                       mark reads (INF files)
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "native_platform.h"
#include "setup_backend.h"
#include "tal/simsetup.h"

namespace tal::os {

namespace native {

namespace {

using json = nlohmann::json;

void warn(const std::string &what) { fprintf(stderr, "TAL_MACHINE: %s; ignored\n", what.c_str()); }

std::wstring text(const json &value) {
  return value.is_string() ? fromUtf8(value.get<std::string>()) : std::wstring();
}

uint32_t number(const json &object, const char *key, uint32_t fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (it->is_number_unsigned() && it->get<uint64_t>() <= 0xFFFFFFFFu)
    return static_cast<uint32_t>(it->get<uint64_t>());
  warn(std::string(key) + ": expected a number");
  return fallback;
}

bool flag(const json &object, const char *key) {
  auto it = object.find(key);
  if (it == object.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  warn(std::string(key) + ": expected true or false");
  return false;
}

class NativeSetupHost : public SimSetupHost {
 public:
  NativeSetupHost() { load(); }
  ~NativeSetupHost() override {
    const char *path = getenv("TAL_SETUP_RECORD");
    if (!path || !*path) return;
    std::ofstream out(mapPath(path), std::ios::binary | std::ios::trunc);
    if (out) out << recordJson();
  }

 private:
  void load() {
    const char *path = getenv("TAL_MACHINE");
    if (!path || !*path) return;
    std::ifstream in(mapPath(path), std::ios::binary);
    if (!in) return;  // the platform's own reader reports an unreadable description
    const json machine = json::parse(in, nullptr, false);
    if (machine.is_discarded() || !machine.is_object()) return;

    if (auto it = machine.find("registry"); it != machine.end()) {
      if (!it->is_object()) {
        warn("registry: expected an object of keys");
      } else {
        for (const auto &key : it->items()) {
          const std::wstring name = fromUtf8(key.key());
          makeKey(name);
          if (!key.value().is_object()) {
            warn("registry." + key.key() + ": expected an object of values");
            continue;
          }
          for (const auto &value : key.value().items()) {
            SimValue v{fromUtf8(value.key()), L"REG_SZ", L""};
            if (value.value().is_number_unsigned()) {
              v.type = L"REG_DWORD";
              v.data = std::to_wstring(value.value().get<uint64_t>());
            } else if (value.value().is_string()) {
              v.data = text(value.value());
            } else {
              warn("registry value " + value.key() + ": expected a text or a number");
              continue;
            }
            SimKey &k = makeKey(name);
            std::wstring upperName = v.name;
            for (wchar_t &c : upperName)
              if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
            k.values[upperName] = v;
          }
        }
      }
    }
    if (auto it = machine.find("services"); it != machine.end() && it->is_array()) {
      for (const json &s : *it) {
        if (!s.is_object() || !s.contains("name")) {
          warn("services: an entry without a name");
          continue;
        }
        SimService service;
        service.name = text(s["name"]);
        if (s.contains("display_name")) service.displayName = text(s["display_name"]);
        if (s.contains("binary")) service.binary = text(s["binary"]);
        service.startType = number(s, "start_type", 3);
        service.serviceType = number(s, "service_type", 1);
        services.push_back(service);
        makeKey(L"HKLM\\System\\CurrentControlSet\\Services\\" + service.name);
      }
    }
    if (auto it = machine.find("devices"); it != machine.end() && it->is_array()) {
      unsigned n = 0;
      for (const json &d : *it) {
        if (!d.is_object()) {
          warn("devices: an entry that is not an object");
          continue;
        }
        SimDevice device;
        device.instanceId = d.contains("instance_id") ? text(d["instance_id"])
                                                      : L"ROOT\\SIMULATED\\" + std::to_wstring(n);
        if (auto ids = d.find("hardware_ids"); ids != d.end() && ids->is_array())
          for (const json &id : *ids) device.hardwareIds.push_back(text(id));
        if (d.contains("inf")) device.inf = text(d["inf"]);
        if (d.contains("description")) device.description = text(d["description"]);
        if (d.contains("service")) device.service = text(d["service"]);
        device.inbox = flag(d, "inbox");
        device.updateReboot = flag(d, "update_reboot");
        device.updateFails = flag(d, "update_fails");
        devices.push_back(device);
        ++n;
      }
    }
    if (auto it = machine.find("files_in_use"); it != machine.end() && it->is_array())
      for (const json &f : *it) filesInUse.insert(text(f));
    if (auto it = machine.find("system_directory"); it != machine.end() && it->is_string())
      systemDir = text(*it);
    if (machine.contains("ansi_code_page")) {
      const uint32_t page = number(machine, "ansi_code_page", kDefaultAnsiCodePage);
      if (knownCodePage(page))
        ansiCodePage = page;
      else
        warn("ansi_code_page: " + std::to_string(page) + " is not 1250, 1251, 1252 or 65001");
    }
    if (auto it = machine.find("newdev"); it != machine.end() && it->is_string()) {
      const std::string v = it->get<std::string>();
      driverUpdater = v == "missing" ? 2 : v == "no_update_function" ? 3 : 0;
    }
  }
};

}  // namespace

}  // namespace native

namespace detail {
SetupHost &builtinSetupHost() {
  static native::NativeSetupHost host;
  return host;
}
}  // namespace detail

}  // namespace tal::os
