// Fuzz target: the configuration info over an arbitrary Config.xml and package file. The input is
// split at its first zero byte: Config.xml before it, the package file "kzfuzz.xml" after it.
// Every lookup the engine makes is then tried on what was loaded.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "configinfo.h"

namespace {

std::string g_dir;

void writeFile(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char pattern[] = "/tmp/fuzz_config_info_XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  g_dir = pattern;
  // The engine log goes below this folder, whose log folder does not exist: nothing is written.
  setenv("SYSTEMDRIVE", g_dir.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  size_t split = 0;
  while (split < size && data[split] != 0) ++split;
  writeFile(g_dir + "/Config.xml", data, split);
  const size_t rest = split < size ? split + 1 : size;
  writeFile(g_dir + "/kzfuzz.xml", data + rest, size - rest);

  createConfigInfo(g_dir);
  ConfigInfo *info = ConfigInfo::instance();
  for (uint32_t type = 0; type < info->bucketCount; ++type) {
    for (const ConfigEntry *e = info->table[type]; e; e = e->next) {
      getConfigDevInfo(static_cast<int>(type), e->devName);
      isFwApplicable(e->devName);
    }
  }
  for (const std::string &key : info->keyFileList) isFwApplicable(key + "x");
  getConfigDevInfo(0, "");
  getConfigDevInfo(2, "x");
  getPackageVersion();
  releaseConfigInfo();
  return 0;
}
