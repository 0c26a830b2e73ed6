// talsim: tools around the simulated machine.
//
//   talsim smbios <machine.json> <out.bin>
//       Writes the SMBIOS table that matches the machine description, in the raw form the
//       firmware hands out (what the native plug-in reads from the file named by
//       TAL_SMBIOS_TABLE).
#include <cstdio>
#include <exception>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/smbios.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: talsim smbios <machine.json> <out.bin>\n");
  return 2;
}

int writeSmbios(const char *machinePath, const char *outPath) {
  std::ifstream in(machinePath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "talsim: cannot open %s\n", machinePath);
    return 1;
  }
  nlohmann::json machine;
  try {
    machine = nlohmann::json::parse(in);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talsim: %s is not valid JSON: %s\n", machinePath, e.what());
    return 1;
  }
  std::vector<uint8_t> table;
  try {
    table = sim::makeSmbiosTable(machine);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talsim: %s: %s\n", machinePath, e.what());
    return 1;
  }
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(table.data()),
            static_cast<std::streamsize>(table.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "talsim: cannot write %s\n", outPath);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "smbios") {
    if (argc != 4) return usage();
    return writeSmbios(argv[2], argv[3]);
  }
  return usage();
}
