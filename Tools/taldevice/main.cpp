// taldevice: the present devices as the driver installation sees them, and root devices for
// trying a PNP driver package on a machine without its hardware.
//
//   taldevice list              one line per present device: its hardware ids (comma-separated)
//                               and the installed driver's INF (or "-"), a tab between
//   taldevice add HARDWARE-ID   registers a root-enumerated device with that hardware id and no
//                               driver; prints its instance id
//   taldevice inf FILE [--json] the INF as the system reads it: each section in file order, each
//                               line's key and fields after %key% and directory-id replacement;
//                               or the error that refuses the file, its number and line. On
//                               Windows the system's setup library reads it, natively the
//                               simulated host's reader, so that the two can be compared.
//
// Exit codes: 0 done (inf: the file is read), 1 the system refused (the error is printed),
// 2 bad usage.
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tal/cli.h"
#include "tal/platform.h"
#include "tal/setup.h"

namespace {

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
  std::wstring instance;
  if (uint32_t error =
          tal::os::setup().registerRootDevice(tal::os::fromUtf8(hardwareId), instance)) {
    std::fprintf(stderr, "taldevice: the device %s cannot be registered: error %u\n", hardwareId,
                 error);
    return 1;
  }
  std::printf("%s\n", Utf8(instance).c_str());
  return 0;
}

// The system's name of an error an INF can be refused with.
std::string ErrorName(uint32_t error) {
  namespace e = tal::os::winerr;
  static const struct {
    uint32_t code;
    const char *name;
  } kNames[] = {
      {e::kFileNotFound, "ERROR_FILE_NOT_FOUND"},
      {e::kPathNotFound, "ERROR_PATH_NOT_FOUND"},
      {e::kAccessDenied, "ERROR_ACCESS_DENIED"},
      {e::kInvalidData, "ERROR_INVALID_DATA"},
      {e::kSharingViolation, "ERROR_SHARING_VIOLATION"},
      {e::kFileInvalid, "ERROR_FILE_INVALID"},
      {e::kExpectedSectionName, "ERROR_EXPECTED_SECTION_NAME"},
      {e::kBadSectionNameLine, "ERROR_BAD_SECTION_NAME_LINE"},
      {e::kSectionNameTooLong, "ERROR_SECTION_NAME_TOO_LONG"},
      {e::kWrongInfStyle, "ERROR_WRONG_INF_STYLE"},
  };
  for (const auto &entry : kNames)
    if (entry.code == error) return entry.name;
  return "error " + std::to_string(error);
}

// A field as the text form shows it: in double quotes, a quote in it doubled.
std::string Quoted(const std::wstring &text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

// What a JSON text holds: invalid UTF-8 (a lone surrogate of a UTF-16 file) is replaced.
std::string Json(const nlohmann::ordered_json &doc) {
  return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

int Inf(const std::wstring &path, bool json) {
  uint32_t error = 0;
  unsigned line = 0;
  auto inf = tal::os::setup().openInf(path, error, line);
  if (!inf) {
    const std::string name = ErrorName(error);
    if (json) {
      nlohmann::ordered_json doc;
      doc["error"] = name;
      doc["code"] = error;
      doc["line"] = line;
      std::printf("%s\n", Json(doc).c_str());
    } else {
      std::printf("refused: %s (0x%08X)", name.c_str(), static_cast<unsigned>(error));
      if (line) std::printf(" at line %u", line);
      std::printf("\n");
    }
    return 1;
  }
  nlohmann::ordered_json sections = nlohmann::ordered_json::array();
  std::vector<std::wstring> names;
  if (!inf->sectionNames(names)) {
    std::fprintf(stderr, "taldevice: the section list of %s cannot be read\n", Utf8(path).c_str());
    return 1;
  }
  for (const std::wstring &name : names) {
    std::vector<tal::os::InfLine> lines;
    inf->sectionLines(name, lines);
    nlohmann::ordered_json section;
    section["name"] = Utf8(name);
    section["lines"] = nlohmann::ordered_json::array();
    if (!json) std::printf("[%s]\n", Utf8(name).c_str());
    for (const tal::os::InfLine &l : lines) {
      nlohmann::ordered_json entry;
      entry["key"] = l.hasKey ? nlohmann::ordered_json(Utf8(l.key)) : nlohmann::ordered_json();
      entry["fields"] = nlohmann::ordered_json::array();
      std::string text = l.hasKey ? "  " + Utf8(l.key) + " =" : " ";
      for (size_t i = 0; i < l.fields.size(); ++i) {
        entry["fields"].push_back(Utf8(l.fields[i]));
        text += (i ? ", " : " ") + Quoted(l.fields[i]);
      }
      section["lines"].push_back(std::move(entry));
      if (!json) std::printf("%s\n", text.c_str());
    }
    sections.push_back(std::move(section));
  }
  if (json) {
    nlohmann::ordered_json doc;
    doc["sections"] = std::move(sections);
    std::printf("%s\n", Json(doc).c_str());
  }
  return 0;
}

// A positional argument that must be given and must not be empty.
void addRequiredText(CLI::App &command, const char *name, std::string &value, const char *help) {
  command.add_option(name, value, help)
      ->required()
      ->check(CLI::Validator(
          [](std::string &v) { return v.empty() ? std::string("empty") : std::string(); }, ""));
}

}  // namespace

int main(int argc, char **argv) {
  // The arguments as the system gave them (wide, whatever the ANSI code page), in UTF-8.
  std::vector<std::wstring> wide;
  std::vector<std::string> args;
  if (tal::os::sys().commandLineArguments(wide) && !wide.empty()) {
    for (size_t i = 1; i < wide.size(); ++i) args.push_back(Utf8(wide[i]));
  } else {
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  }

  CLI::App app(
      "The present devices as the driver installation sees them, root devices for trying "
      "a PNP\ndriver package, and how the system reads an INF.",
      "taldevice");
  app.footer(
      "Exit status: 0 done (inf: the file is read), 1 the system refused (the error is "
      "printed),\n2 a usage error.");
  tal::cli::addVersion(app);
  CLI::App *list = app.add_subcommand(
      "list",
      "one line per present device: its hardware ids (comma-separated) and the installed "
      "driver's INF (or \"-\"), a tab between");
  std::string hardwareId;
  CLI::App *add = app.add_subcommand(
      "add",
      "register a root-enumerated device with that hardware id and no driver; prints its "
      "instance id");
  addRequiredText(*add, "HARDWARE-ID", hardwareId, "the device's hardware id");
  std::string file;
  bool json = false;
  CLI::App *inf = app.add_subcommand(
      "inf",
      "the INF as the system reads it: each section in file order, each line's key and "
      "fields after %key% and directory-id replacement; or the error that refuses it");
  addRequiredText(*inf, "FILE", file, "the INF file");
  inf->add_flag("--json", json, "one JSON document")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);

  int done = tal::cli::parse(app, args);
  if (done >= 0) return done;
  if (list->parsed()) return List();
  if (add->parsed()) return Add(hardwareId.c_str());
  if (inf->parsed()) return Inf(tal::os::fromUtf8(file), json);
  std::fprintf(stderr,
               "taldevice: a command is needed: list, add or inf\nRun 'taldevice --help' for the "
               "usage.\n");
  return tal::cli::kUsageError;
}
