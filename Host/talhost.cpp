// talhost: a host setup program for the installer plug-in. It loads the plug-in by path, asks for
// its interface version, queries its properties and, when asked to, calls Install, printing every
// answer on its own line with the name of each number beside it (or, with --json, as JSON).
//
// Safe by default: without --install (or "install" in --steps) it only shows what the plug-in
// would do: its interface version, the installation status (property 5), the devices due
// (property 3) and the device tree. Arguments for the plug-in follow "--"; they stay on the
// process command line, which the plug-in reads (talhost --install -- /verbose_log -f).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cmplog.h"
#include "names.h"
#include "progress.h"
#include "tal/cli.h"
#include "tal/platform.h"
#include "tree.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using talhost::kExitFailed;
using talhost::kExitSuccess;
using talhost::kExitUsage;
using OrderedJson = nlohmann::ordered_json;

using GetInterfaceVersionFn = int32_t (*)(uint32_t *);
using GetPropertyFn = int32_t (*)(uint32_t, void *, uint32_t, const wchar_t *);
using InstallFn = int32_t (*)(uint32_t, void *, wchar_t *, uint32_t, const wchar_t *);

const char kDescription[] =
    "Loads the installer plug-in and shows what it would do: its interface version, the\n"
    "installation status (property 5), the devices due (property 3) and the device tree.\n"
    "Nothing is installed unless --install (or \"install\" in --steps) is given.";

const char kFooter[] =
    "Arguments for the plug-in follow \"--\" (talhost --install -- /verbose_log -f); the plug-in\n"
    "reads them from the process command line. Any other argument is a usage error.\n"
    "\n"
    "Steps: version, 1 to 9 (property queries; 9 hands over talhost's own log), install.\n"
    "Without --steps: version,5,3 (and with --install the host's usual sequence,\n"
    "version,1,2,4,5,3,6,7,8,install).\n"
    "\n"
    "Each answer is one line, every number with its name beside it:\n"
    "  version: result=1 (answered) value=100\n"
    "  property 5 (installation status): result=1 (answered) status=2 (installed version older) "
    "text=\"\"\n"
    "  property 6 (silent install): result=1 (answered) value=1 (yes)\n"
    "  install: result=2 (success, power cycle required) text=\"...\"\n"
    "Texts are printed in UTF-8 with \\\\, \\\", \\r, \\n, \\t and \\xNN escapes. While Install "
    "runs,\n"
    "\"progress: ...\" lines show each device as it starts and ends, its percentage and the\n"
    "elapsed time, at least once a second. --json prints JSON lines: one object per progress\n"
    "event, then the answers as one document on the last line.\n"
    "\n"
    "Exit status: 0 success (Install result 1, or without Install the plug-in answered),\n"
    "1 failure (Install result 0, property 5 refused or status 7, the plug-in not loaded),\n"
    "2 usage error, 3 success and a power cycle is required (Install result 2).";

const char kDefaultSteps[] = "version,5,3";
const char kUsualSteps[] = "version,1,2,4,5,3,6,7,8,install";
constexpr uint32_t kTextChars = 4096;
constexpr uint32_t kStatusChars = 2052;

struct Options {
  std::wstring plugin;
  std::string steps;
  std::wstring lang = L"en";
  long size = -1;
  bool json = false;
  bool install = false;
};

// Parses talhost's own arguments (those before "--"). Returns -1 to go on, else the exit status.
int ParseOptions(const std::vector<std::wstring> &args, Options &o) {
  std::vector<std::string> own;
  for (size_t i = 1; i < args.size() && args[i] != L"--"; ++i) {
    own.push_back(tal::os::toUtf8(args[i]));
  }
  std::string plugin, lang = "en";
  CLI::App app(kDescription, "talhost");
  app.footer(kFooter);
  app.add_option("--plugin", plugin,
                 "the plug-in to load (default: install.dll / libinstall.so beside talhost)");
  app.add_option("--steps", o.steps, "comma-separated steps, in order (see below)");
  app.add_flag("--install", o.install, "run Install (after the host's usual queries)");
  app.add_option("--lang", lang, "language code passed to the plug-in (default: en)");
  app.add_option("--size", o.size,
                 "buffer size in wide characters for every property query (default: 4096 for "
                 "texts, 2052 for property 5)")
      ->check(CLI::Range(0L, 1L << 20));
  app.add_flag("--json", o.json, "print JSON lines: progress events, then the answers");
  tal::cli::addVersion(app);
  int done = tal::cli::parse(app, own);
  if (done >= 0) return done;
  o.plugin = tal::os::fromUtf8(plugin);
  o.lang = tal::os::fromUtf8(lang);
  return -1;
}

std::vector<std::string> SplitSteps(const std::string &list) {
  std::vector<std::string> steps;
  std::string current;
  for (char c : list + ",") {
    if (c == ',') {
      if (!current.empty()) steps.push_back(current);
      current.clear();
    } else if (c != ' ') {
      current += c;
    }
  }
  return steps;
}

// A text as UTF-8 with backslash escapes for quotes, backslashes and control characters (other
// control characters as \xNN).
std::string Escape(const std::wstring &text) {
  std::string out;
  for (unsigned char c : tal::os::toUtf8(text)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += talhost::printable(std::string(1, static_cast<char>(c)));
    }
  }
  return out;
}

// The wide text at the start of a buffer of `chars` wide characters (up to its terminator).
std::wstring TextOf(const wchar_t *buffer, size_t chars) {
  size_t length = 0;
  while (length < chars && buffer[length] != L'\0') ++length;
  return std::wstring(buffer, length);
}

// One answer, printed as a line and kept for the JSON document.
struct Answer {
  std::string step;  // "version", "property", "install"
  uint32_t type = 0;
  int32_t result = 0;
  bool hasValue = false, hasStatus = false, hasText = false;
  int64_t value = 0;
  int32_t status = 0;
  std::wstring text;

  const char *ResultName() const {
    return step == "install" ? talhost::installResultName(result)
                             : talhost::queryResultName(result);
  }
  bool IsFlag() const { return step == "property" && type >= 6 && type <= 8; }

  std::string Line() const {
    std::string line = step == "property" ? "property " + std::to_string(type) + " (" +
                                                talhost::propertyName(type) + ")"
                                          : step;
    line += ": result=" + std::to_string(result) + " (" + ResultName() + ")";
    if (hasValue) {
      line += " value=" + std::to_string(value);
      if (IsFlag()) line += std::string(" (") + talhost::flagName(value) + ")";
    }
    if (hasStatus) {
      line += " status=" + std::to_string(status) + " (" + talhost::statusName(status) + ")";
    }
    if (hasText) line += " text=\"" + Escape(text) + "\"";
    return line;
  }
  OrderedJson Json() const {
    OrderedJson j;
    j["step"] = step;
    if (step == "property") {
      j["type"] = type;
      j["name"] = talhost::propertyName(type);
    }
    j["result"] = result;
    j["result_name"] = ResultName();
    if (hasValue) {
      j["value"] = value;
      if (IsFlag()) j["value_name"] = talhost::flagName(value);
    }
    if (hasStatus) {
      j["status"] = status;
      j["status_name"] = talhost::statusName(status);
    }
    if (hasText) j["text"] = tal::os::toUtf8(text);
    return j;
  }
};

// The loaded plug-in.
class Plugin {
 public:
  ~Plugin() { Unload(); }
  bool Load(const std::wstring &path, std::string &error) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
      error = "cannot load " + tal::os::toUtf8(path) + " (error " + std::to_string(GetLastError()) +
              ")";
      return false;
    }
    handle_ = module;
#else
    handle_ = dlopen(tal::os::toUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char *why = dlerror();
      error = "cannot load " + tal::os::toUtf8(path) + ": " + (why ? why : "unknown error");
      return false;
    }
#endif
    version = reinterpret_cast<GetInterfaceVersionFn>(Find("GetInterfaceVersion"));
    property = reinterpret_cast<GetPropertyFn>(Find("GetProperty"));
    install = reinterpret_cast<InstallFn>(Find("Install"));
    if (!version || !property || !install) {
      error = tal::os::toUtf8(path) + " lacks one of GetInterfaceVersion, GetProperty, Install";
      return false;
    }
    return true;
  }
  // Unloading plays process detach in the plug-in.
  void Unload() {
    if (!handle_) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
  }

  GetInterfaceVersionFn version = nullptr;
  GetPropertyFn property = nullptr;
  InstallFn install = nullptr;

 private:
  void *Find(const char *name) {
#if defined(_WIN32)
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }
  void *handle_ = nullptr;
};

std::wstring DefaultPluginPath() {
  std::wstring exe = tal::os::sys().executablePath();
  size_t cut = exe.find_last_of(L"\\/");
  std::wstring folder = cut == std::wstring::npos ? L"." : exe.substr(0, cut);
#if defined(_WIN32)
  return folder + L"\\install.dll";
#else
  return folder + L"/libinstall.so";
#endif
}

Answer QueryProperty(Plugin &plugin, uint32_t type, const Options &o, CCmpLog *hostLog) {
  Answer a;
  a.step = "property";
  a.type = type;
  if (type == 9) {  // the host's own log object in place of a buffer
    a.result = plugin.property(9, hostLog, 0, o.lang.c_str());
    return a;
  }
  uint32_t size = o.size >= 0 ? static_cast<uint32_t>(o.size)
                  : type == 5 ? kStatusChars
                              : kTextChars;
  std::vector<wchar_t> buffer(size + 2, L'\0');  // zero-filled, two spare characters
  a.result = plugin.property(type, buffer.data(), size, o.lang.c_str());
  if (type == 5) {
    a.hasStatus = a.hasText = true;
    std::memcpy(&a.status, buffer.data(), sizeof(a.status));
    // The text starts at byte 4 of the record.
    const wchar_t *text =
        reinterpret_cast<const wchar_t *>(reinterpret_cast<const char *>(buffer.data()) + 4);
    size_t bytes = static_cast<size_t>(size) * sizeof(wchar_t);
    a.text = TextOf(text, bytes > 4 ? (bytes - 4) / sizeof(wchar_t) : 0);
  } else if (type >= 6 && type <= 8) {
    int32_t value;
    std::memcpy(&value, buffer.data(), sizeof(value));
    a.hasValue = true;
    a.value = value;
  } else {
    a.hasText = true;
    a.text = TextOf(buffer.data(), size);
  }
  return a;
}

void Print(const std::string &line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Dump(const OrderedJson &j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

OrderedJson TreeJson(const talhost::DeviceTree &tree) {
  OrderedJson cards = OrderedJson::array();
  for (const talhost::TreeDevice &d : tree.devices) {
    OrderedJson j;
    j["object"] = d.object;
    j[d.type == 1 ? "segment" : "port"] = d.type == 1 ? d.segment : d.idx;
    j["name"] = d.product;
    j["found"] = d.found;
    j["offered"] = d.offered;
    j["action"] = d.action();
    if (d.type == 1) {
      j["backplanes"] = OrderedJson::array();
      cards.push_back(j);
    } else if (!cards.empty()) {
      cards.back()["backplanes"].push_back(j);
    } else {
      cards.push_back(j);  // a backplane the engine listed before any card
    }
  }
  return cards;
}

int Run() {
  std::vector<std::wstring> args;
  if (!tal::os::sys().commandLineArguments(args)) args = {L"talhost"};
  Options o;
  int done = ParseOptions(args, o);
  if (done >= 0) return done;
  if (o.steps.empty()) o.steps = o.install ? kUsualSteps : kDefaultSteps;
  std::vector<std::string> steps = SplitSteps(o.steps);
  bool installAsked = false;
  for (const std::string &s : steps) {
    bool known = s == "version" || s == "install" || (s.size() == 1 && s[0] >= '1' && s[0] <= '9');
    if (!known) {
      std::fprintf(stderr,
                   "talhost: --steps: unknown step '%s'\nRun 'talhost --help' for the usage.\n",
                   s.c_str());
      return kExitUsage;
    }
    installAsked = installAsked || s == "install";
  }
  if (o.install && !installAsked) steps.push_back("install");

  std::wstring path = o.plugin.empty() ? DefaultPluginPath() : o.plugin;
  Plugin plugin;
  std::string error;
  if (!plugin.Load(path, error)) {
    std::fprintf(stderr, "talhost: %s\n", error.c_str());
    return kExitFailed;
  }

  // talhost's own log, handed over by step 9: verbose, in the usual log folder.
  CCmpLog hostLog(L"talhost_verbose.log");
  hostLog.SetVerbose(1);
  bool hostLogOpen = false;

  std::vector<Answer> answers;
  int exitStatus = kExitSuccess;
  bool installRan = false;
  // The device tree: read from what the engine logs during the first property-5 query, shown
  // after the property-3 query that follows it.
  bool statusAsked = false, treeShown = false;
  uint64_t engineLogStart = 0;
  OrderedJson treeJson;
  for (const std::string &s : steps) {
    Answer a;
    if (s == "version") {
      uint32_t value = 0;
      a.step = "version";
      a.result = plugin.version(&value);
      a.hasValue = true;
      a.value = value;
    } else if (s == "install") {
      std::vector<wchar_t> resultText(kTextChars, L'\0');
      a.step = "install";
      talhost::ProgressWatch watch(talhost::progressFilePath(), o.json, Print);
      watch.start();
      a.result = plugin.install(0, nullptr, resultText.data(), 0, o.lang.c_str());
      watch.stop();
      a.hasText = true;
      a.text = TextOf(resultText.data(), resultText.size());
      exitStatus = talhost::exitForInstall(a.result);
      installRan = true;
    } else {
      uint32_t type = static_cast<uint32_t>(s[0] - '0');
      if (type == 9 && !hostLogOpen) hostLogOpen = hostLog.Open() == 0;
      if (type == 5 && !statusAsked) engineLogStart = talhost::engineLogSize();
      a = QueryProperty(plugin, type, o, &hostLog);
      if (type == 5) {
        statusAsked = true;
        if (!installRan) exitStatus = talhost::exitForStatus(a.result, a.status);
      }
    }
    if (!o.json) Print(a.Line());
    answers.push_back(a);
    if (s == "3" && statusAsked && !treeShown) {
      treeShown = true;
      talhost::DeviceTree tree;
      bool known = talhost::readDeviceTree(engineLogStart, tal::os::toUtf8(a.text), tree);
      if (o.json) {
        treeJson = known ? TreeJson(tree) : OrderedJson();
      } else if (!known) {
        Print("devices: the engine log holds no device list");
      } else {
        Print("devices:" + std::string(tree.devices.empty() ? " none" : ""));
        for (const std::string &line : talhost::treeLines(tree)) Print(line);
      }
    }
  }
  plugin.Unload();
  if (hostLogOpen) hostLog.Close();

  if (o.json) {
    OrderedJson doc;
    doc["plugin"] = tal::os::toUtf8(path);
    doc["steps"] = OrderedJson::array();
    for (const Answer &a : answers) doc["steps"].push_back(a.Json());
    if (treeShown) doc["devices"] = treeJson;
    doc["exit"] = exitStatus;
    Print(Dump(doc));
  }
  return exitStatus;
}

}  // namespace

#if defined(_WIN32)
int wmain() { return Run(); }
#else
int main() { return Run(); }
#endif
