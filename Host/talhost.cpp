// talhost: a host setup program for the installer plug-in. It loads the plug-in by path, asks for
// its interface version, queries its properties and calls Install, in the host's usual order or
// in one given on the command line, and prints every answer on its own line (or, with --json, as
// one JSON document). Arguments it does not know stay on its command line, which the plug-in
// reads as the process command line (talhost -f /verbose_log).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "cmplog.h"
#include "tal/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using GetInterfaceVersionFn = int32_t (*)(uint32_t *);
using GetPropertyFn = int32_t (*)(uint32_t, void *, uint32_t, const wchar_t *);
using InstallFn = int32_t (*)(uint32_t, void *, wchar_t *, uint32_t, const wchar_t *);

const char kUsage[] =
    "usage: talhost [options] [arguments for the plug-in...]\n"
    "\n"
    "Loads the installer plug-in, asks for its interface version, queries its properties and\n"
    "calls Install, printing one line per answer:\n"
    "  version: result=1 value=100\n"
    "  property 1: result=1 text=\"...\"\n"
    "  property 5: result=1 status=6 text=\"...\"\n"
    "  property 6: result=1 value=1\n"
    "  install: result=2 text=\"...\"\n"
    "Texts are printed in UTF-8 with \\\\, \\\", \\r, \\n, \\t and \\xNN escapes.\n"
    "\n"
    "options:\n"
    "  --plugin PATH   the plug-in to load (default: install.dll / libinstall.so beside talhost)\n"
    "  --steps LIST    comma-separated steps: version, 1 to 9 (property queries; 9 hands over\n"
    "                  talhost's own log), install (default: version,1,2,4,5,3,6,7,8,install)\n"
    "  --lang CODE     language code passed to the plug-in (default: en)\n"
    "  --size N        buffer size in wide characters for every property query (default: 4096\n"
    "                  for texts, 2052 for property 5)\n"
    "  --json          print the answers as one JSON document\n"
    "  --help          this text\n"
    "\n"
    "Every other argument is left for the plug-in, which reads the process command line\n"
    "(for example /verbose_log, /no_overwrite, -f, -d FILE).\n";

const char kDefaultSteps[] = "version,1,2,4,5,3,6,7,8,install";
constexpr uint32_t kTextChars = 4096;
constexpr uint32_t kStatusChars = 2052;

struct Options {
  std::wstring plugin;
  std::string steps = kDefaultSteps;
  std::wstring lang = L"en";
  long size = -1;
  bool json = false;
  bool help = false;
  std::string error;
};

Options ParseOptions(const std::vector<std::wstring> &args) {
  Options o;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring &a = args[i];
    bool hasNext = i + 1 < args.size();
    if (a == L"--help" || a == L"-h") {
      o.help = true;
    } else if (a == L"--json") {
      o.json = true;
    } else if (a == L"--plugin" || a == L"--steps" || a == L"--lang" || a == L"--size") {
      if (!hasNext) {
        o.error = tal::os::toUtf8(a) + " needs a value";
        return o;
      }
      const std::wstring &value = args[++i];
      if (a == L"--plugin") o.plugin = value;
      if (a == L"--steps") o.steps = tal::os::toUtf8(value);
      if (a == L"--lang") o.lang = value;
      if (a == L"--size") {
        wchar_t *end = nullptr;
        o.size = std::wcstol(value.c_str(), &end, 10);
        if (value.empty() || *end != L'\0' || o.size < 0 || o.size > 1 << 20) {
          o.error = "--size needs a number from 0 to 1048576";
          return o;
        }
      }
    }
    // Anything else belongs to the plug-in.
  }
  return o;
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

// A text as UTF-8 with backslash escapes for quotes, backslashes and control characters: other
// control characters are written as \xNN in the line form and as \u00NN in a JSON string body.
std::string EscapeText(const std::wstring &text, bool json) {
  std::string utf8 = tal::os::toUtf8(text), out;
  for (unsigned char c : utf8) {
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
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          if (json) {
            std::snprintf(hex, sizeof hex, "\\u%04X", c);
          } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
          }
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string Escape(const std::wstring &text) { return EscapeText(text, false); }
std::string JsonEscape(const std::wstring &text) { return EscapeText(text, true); }

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

  std::string Line() const {
    std::string line = step == "property" ? "property " + std::to_string(type) : step;
    line += ": result=" + std::to_string(result);
    if (hasValue) line += " value=" + std::to_string(value);
    if (hasStatus) line += " status=" + std::to_string(status);
    if (hasText) line += " text=\"" + Escape(text) + "\"";
    return line;
  }
  std::string Json() const {
    std::string j = "{\"step\": \"" + step + "\"";
    if (step == "property") j += ", \"type\": " + std::to_string(type);
    j += ", \"result\": " + std::to_string(result);
    if (hasValue) j += ", \"value\": " + std::to_string(value);
    if (hasStatus) j += ", \"status\": " + std::to_string(status);
    if (hasText) j += ", \"text\": \"" + JsonEscape(text) + "\"";
    return j + "}";
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

int Run() {
  std::vector<std::wstring> args;
  if (!tal::os::sys().commandLineArguments(args)) args = {L"talhost"};
  Options o = ParseOptions(args);
  if (!o.error.empty()) {
    std::fprintf(stderr, "talhost: %s\n%s", o.error.c_str(), kUsage);
    return 2;
  }
  if (o.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::vector<std::string> steps = SplitSteps(o.steps);
  for (const std::string &s : steps) {
    bool known = s == "version" || s == "install" || (s.size() == 1 && s[0] >= '1' && s[0] <= '9');
    if (!known) {
      std::fprintf(stderr, "talhost: unknown step '%s'\n%s", s.c_str(), kUsage);
      return 2;
    }
  }

  std::wstring path = o.plugin.empty() ? DefaultPluginPath() : o.plugin;
  Plugin plugin;
  std::string error;
  if (!plugin.Load(path, error)) {
    std::fprintf(stderr, "talhost: %s\n", error.c_str());
    return 1;
  }

  // talhost's own log, handed over by step 9: verbose, in the usual log folder.
  CCmpLog hostLog(L"talhost_verbose.log");
  hostLog.SetVerbose(1);
  bool hostLogOpen = false;

  std::vector<Answer> answers;
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
      a.result = plugin.install(0, nullptr, resultText.data(), 0, o.lang.c_str());
      a.hasText = true;
      a.text = TextOf(resultText.data(), resultText.size());
    } else {
      uint32_t type = static_cast<uint32_t>(s[0] - '0');
      if (type == 9 && !hostLogOpen) hostLogOpen = hostLog.Open() == 0;
      a = QueryProperty(plugin, type, o, &hostLog);
    }
    if (!o.json) {
      std::string line = a.Line() + "\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
    }
    answers.push_back(a);
  }
  plugin.Unload();
  if (hostLogOpen) hostLog.Close();

  if (o.json) {
    std::string doc = "{\"plugin\": \"" + JsonEscape(path) + "\", \"steps\": [";
    for (size_t i = 0; i < answers.size(); ++i) {
      doc += (i ? ",\n  " : "\n  ") + answers[i].Json();
    }
    doc += answers.empty() ? "]}\n" : "\n]}\n";
    std::fwrite(doc.data(), 1, doc.size(), stdout);
  }
  return 0;
}

}  // namespace

#if defined(_WIN32)
int wmain() { return Run(); }
#else
int main() { return Run(); }
#endif
