#include "boundary.h"

#include <cwchar>
#include <mutex>
#include <string>

#include "cmplog.h"
#include "tal/platform.h"

using tal::os::sys;

namespace tal::plugin {

namespace {

const wchar_t kSource[] = L"component";

CBaseComponent *g_component = nullptr;
Binding *g_binding = nullptr;
// Whether the component's Initialize has run (once per attach).
bool g_initialized = false;

}  // namespace

std::recursive_mutex &ExportLock() {
  // Made on first use: natively the load constructor (attach) may run before this library's
  // dynamic initialisers.
  static std::recursive_mutex lock;
  return lock;
}

int32_t Binding::GetProperty(CBaseComponent &component, uint32_t type, void *buffer, uint32_t size,
                             const wchar_t *lang) {
  return component.GetProperty(type, buffer, size, lang) ? 1 : 0;
}

CBaseComponent *Component() { return g_component; }

void EnsureInitialized() {
  if (g_initialized || !g_component) return;
  g_initialized = true;
  try {
    g_component->Initialize();  // its result is not used
  } catch (const std::exception &e) {
    LogCaught("initialisation", &e);
  } catch (...) {
    LogCaught("initialisation", nullptr);
  }
}

// A log folder that could not be trusted was left unwritten: the result says so, since the logs
// an administrator would look in hold nothing of this run. At most a folder path and a reason.
static void NoteUntrustedLogFolder(wchar_t *resultText) {
  const std::wstring &folder = UntrustedLogFolder();
  if (folder.empty()) return;
  const std::wstring line = L"The logs were not written: the folder " + folder + L".\r\n";
  // Within the 1,024 characters (terminator included) a result text keeps to: the host gives no
  // capacity for this buffer.
  constexpr size_t kResultLimit = 1024;
  if (std::wcslen(resultText) + line.size() + 1 <= kResultLimit)
    std::wcscat(resultText, line.c_str());
}

int32_t ExportGetInterfaceVersion(uint32_t *version) {
  const std::lock_guard<std::recursive_mutex> hold(ExportLock());
  EnsureInitialized();
  if (!version) return 0;
  *version = kInterfaceVersion;
  return 1;
}

int32_t ExportGetProperty(uint32_t type, void *buffer, uint32_t size, const wchar_t *lang) {
  const std::lock_guard<std::recursive_mutex> hold(ExportLock());
  EnsureInitialized();
  if (!buffer || !g_component || !g_binding) return 0;
  try {
    return g_binding->GetProperty(*g_component, type, buffer, size, lang);
  } catch (const std::exception &e) {
    LogCaught("GetProperty", &e);
  } catch (...) {
    LogCaught("GetProperty", nullptr);
  }
  return 0;
}

int32_t ExportInstall(uint32_t a, void *b, wchar_t *resultText, uint32_t d, const wchar_t *lang) {
  const std::lock_guard<std::recursive_mutex> hold(ExportLock());
  EnsureInitialized();
  // Without a result-text buffer the outcome could not be reported: nothing is installed.
  if (!resultText || !g_component) return 0;
  try {
    const int32_t result = g_component->Install(a, b, resultText, d, lang);
    NoteUntrustedLogFolder(resultText);
    return result;
  } catch (const std::exception &e) {
    LogCaught("Install", &e);
  } catch (...) {
    LogCaught("Install", nullptr);
  }
  return 0;
}

void LogCaught(const char *where, const std::exception *caught) {
  const char *what = "an exception of unknown type";
  try {
    if (caught && caught->what()) what = caught->what();
  } catch (...) {
  }
  // Each destination on its own: one that fails (the allocation that threw may fail again) does
  // not keep the line from the other.
  try {
    if (g_binding) g_binding->LogCaught(where, what);
  } catch (...) {
  }
  try {
    CCmpLog *log = g_component ? g_component->GetLog() : nullptr;
    if (log) {
      const std::wstring wideWhere = sys().fromAnsi(where), wideWhat = sys().fromAnsi(what);
      log->Write(LT_BOTH, LS_ERROR, kSource, __LINE__, L"%ls: caught %ls; returning failure\r\n",
                 wideWhere.c_str(), wideWhat.c_str());
    }
  } catch (...) {
  }
}

void ProcessAttach(void *module, Binding &binding) {
  if (g_component) return;
  g_moduleHandle = module;
  g_binding = &binding;
  // Only what is safe under the loader lock: no library is loaded and nothing calls into the
  // setup library here. The component initialises on the first call of an export.
  g_initialized = false;
  try {
    g_component = binding.Create(module);
  } catch (const std::exception &e) {
    LogCaught("process attach", &e);
  } catch (...) {
    LogCaught("process attach", nullptr);
  }
}

void ProcessDetach(bool processExit) {
  if (processExit) return;
  // An export still running on another thread ends before the component goes.
  const std::lock_guard<std::recursive_mutex> hold(ExportLock());
  try {
    if (g_binding) g_binding->Unload();
  } catch (const std::exception &e) {
    LogCaught("process detach", &e);
  } catch (...) {
    LogCaught("process detach", nullptr);
  }
  delete g_component;
  g_component = nullptr;
  g_initialized = false;
}

}  // namespace tal::plugin
