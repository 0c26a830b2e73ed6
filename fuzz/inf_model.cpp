// Fuzz target: the INF model (CInf) on arbitrary INF files, on the simulated host. The file is
// opened and everything that reads it runs: the version and section lists, service name and
// start type, the destination-directory table and each section's folder, the service and
// software-settings installs (which change only the simulated host's registry and services).
// File operations are left out: an INF names any folder as a destination.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake_setup.h"
#include "inf.h"
#include "tal/platform.h"

namespace {

const std::string &InfPath() {
  static const std::string path = [] {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tal_fuzz_inf_model_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "fuzz.inf").string();
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  {
    std::ofstream out(InfPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  tal::os::FakeSetupHost host;
  CInf inf(tal::os::fromUtf8(InfPath()).c_str());
  if (!inf.IsOpen()) return 0;
  inf.GetSignature();
  inf.GetClass();
  inf.GetClassGuid();
  wchar_t name[CInf::kServiceNameChars];
  inf.GetServiceName(nullptr, name, CInf::kServiceNameChars);
  wchar_t tiny[4];
  inf.GetServiceName(nullptr, tiny, 4);
  uint32_t start = 0;
  inf.GetServiceStartType(nullptr, &start);
  inf.ReadDestinationDirs();
  if (inf.DestinationDirs().size() % 2 != 0) __builtin_trap();  // pairs of key and folder
  for (const CStr &folder : inf.DestinationDirs())
    if (folder.Length() >= CInf::kFolderChars) __builtin_trap();
  for (const CStr &section : inf.CopyFilesSections()) {
    CStr folder;
    inf.GetDestinationDir(section.c_str(), &folder);
  }
  for (const CStr &section : inf.AddServiceSections()) inf.InstallServices(section.c_str());
  for (const CStr &section : inf.SoftwareSettingsSections())
    inf.InstallSoftwareSettings(section.c_str());
  return 0;
}
