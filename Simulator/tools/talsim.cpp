// talsim: tools around the simulated machine.
//
//   talsim smbios <machine.json> <out.bin>
//       Writes the SMBIOS table that matches the machine description, in the raw form the
//       firmware hands out (what the native plug-in reads from the file named by
//       TAL_SMBIOS_TABLE).
//   talsim capture <file>
//       A summary of a channel capture: the plug-in that made it, when and how long, the calls and
//       commands by kind, the devices reached, the errors, the SMBIOS table.
//   talsim capture --check <file>
//       Exit 0 when the capture is well formed; else 1 with the first fault and its line.
//   talsim capture --against <reference> <file>
//       Exit 0 when the capture makes the same calls with the same answers as the reference;
//       else 1 with the first call that differs ("capture differs at call N ...").
// --help, --version and usage errors (exit 2) as every tool of the project.
#include <cstdio>
#include <exception>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/capturetools.h"
#include "sim/replay.h"
#include "sim/smbios.h"
#include "tal/cli.h"

namespace {

int writeSmbios(const std::string &machinePath, const std::string &outPath) {
  std::ifstream in(machinePath, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "talsim: cannot open %s\n", machinePath.c_str());
    return 1;
  }
  nlohmann::json machine;
  try {
    machine = nlohmann::json::parse(in);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talsim: %s is not valid JSON: %s\n", machinePath.c_str(), e.what());
    return 1;
  }
  std::vector<uint8_t> table;
  try {
    table = sim::makeSmbiosTable(machine);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talsim: %s: %s\n", machinePath.c_str(), e.what());
    return 1;
  }
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(table.data()),
            static_cast<std::streamsize>(table.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "talsim: cannot write %s\n", outPath.c_str());
    return 1;
  }
  return 0;
}

bool load(const std::string &path, sim::Capture &capture) {
  std::string error;
  if (sim::readCapture(path, capture, &error)) return true;
  std::fprintf(stderr, "talsim: %s\n", error.c_str());
  return false;
}

int capture(const std::string &path, bool check, const std::string &reference) {
  sim::Capture actual;
  if (!load(path, actual)) return 1;
  if (check) {
    std::printf("%s: well formed, format version %d, %zu calls\n", path.c_str(), actual.version,
                actual.calls.size());
    return 0;
  }
  if (!reference.empty()) {
    sim::Capture expected;
    if (!load(reference, expected)) return 1;
    const std::string difference = sim::compareCaptures(expected, actual);
    if (!difference.empty()) {
      std::printf("%s\n", difference.c_str());
      return 1;
    }
    std::printf("%s: the same %zu calls and answers as %s\n", path.c_str(), actual.calls.size(),
                reference.c_str());
    return 0;
  }
  std::printf("capture: %s\n%s", path.c_str(), sim::summarizeCapture(actual).c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"Tools around the simulated management processor and its channel captures.",
               "talsim"};
  tal::cli::addVersion(app);
  // At most one subcommand; "none" is refused after parsing, so that an unknown argument is named
  // first.
  app.require_subcommand(0, 1);

  std::string machinePath, outPath;
  CLI::App *smbios = app.add_subcommand(
      "smbios", "Write the SMBIOS table of a machine description (raw firmware-table form).");
  smbios->add_option("machine", machinePath, "the machine description (JSON)")->required();
  smbios->add_option("out", outPath, "the table file to write")->required();

  std::string capturePath, reference;
  bool check = false;
  CLI::App *cap = app.add_subcommand(
      "capture", "Summarise a channel capture, check that it is well formed, or compare it.");
  CLI::Option *checkFlag =
      cap->add_flag("--check", check, "only check that the capture is well formed (exit 0 or 1)");
  cap->add_option("--against", reference,
                  "compare with this reference capture, call by call (exit 0 or 1)")
      ->excludes(checkFlag);
  cap->add_option("file", capturePath, "the capture (JSON Lines)")->required();

  const int status = tal::cli::parse(app, argc, argv);
  if (status >= 0) return status;
  if (smbios->parsed()) return writeSmbios(machinePath, outPath);
  if (cap->parsed()) return capture(capturePath, check, reference);
  std::fprintf(
      stderr,
      "talsim: a subcommand is required (smbios or capture)\nRun 'talsim --help' for the usage.\n");
  return tal::cli::kUsageError;
}
