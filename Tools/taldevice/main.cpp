// taldevice: the present devices as the driver installation sees them, and root devices for
// trying a PNP driver package on a machine without its hardware.
//
//   taldevice list              one line per present device: its hardware ids (comma-separated)
//                               and the installed driver's INF (or "-"), a tab between
//   taldevice add HARDWARE-ID   registers a root-enumerated device with that hardware id and no
//                               driver; prints its instance id
//
// Exit codes: 0 done, 1 the system refused (the error is printed), 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "tal/platform.h"
#include "tal/setup.h"

namespace {

int Usage() {
  std::fputs("usage: taldevice list | taldevice add HARDWARE-ID\n", stderr);
  return 2;
}

std::string Utf8(const std::wstring &text) { return tal::os::toUtf8(text); }

int List() {
  uint32_t error = 0;
  auto set = tal::os::setup().presentDevices(error);
  if (!set) {
    std::fprintf(stderr, "taldevice: the present devices cannot be read: error %u\n", error);
    return 1;
  }
  for (size_t i = 0; i < set->count(); ++i) {
    tal::os::DevInfoData data;
    tal::os::InstalledDriver driver;
    bool hasDriver = false;
    if (!set->device(i, data, driver, hasDriver)) continue;
    std::wstring ids, joined;
    if (set->hardwareIds(i, ids)) {
      for (size_t at = 0; at < ids.size() && ids[at] != L'\0'; at = ids.find(L'\0', at) + 1) {
        if (!joined.empty()) joined += L',';
        joined += ids.c_str() + at;
      }
    }
    const std::wstring inf = hasDriver ? std::wstring(driver.detail.infFileName) : L"-";
    std::printf("%s\t%s\n", Utf8(joined).c_str(), Utf8(inf).c_str());
  }
  return 0;
}

int Add(const char *hardwareId) {
  if (!*hardwareId) return Usage();
  std::wstring instance;
  if (uint32_t error = tal::os::setup().registerRootDevice(tal::os::fromUtf8(hardwareId), instance)) {
    std::fprintf(stderr, "taldevice: the device %s cannot be registered: error %u\n", hardwareId,
                 error);
    return 1;
  }
  std::printf("%s\n", Utf8(instance).c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "list") == 0) return List();
  if (argc == 3 && std::strcmp(argv[1], "add") == 0) return Add(argv[2]);
  return Usage();
}
