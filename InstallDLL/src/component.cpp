#include "component.h"

#include <cwchar>
#include <new>
#include <string>

#include "engine.h"
#include "log.h"
#include "tal/platform.h"

using tal::os::sys;

FlashComponent *g_component = nullptr;

namespace {

const wchar_t kSource[] = L"component";
#define FC_HERE kSource, __LINE__

bool g_updateListOnce = true;

}  // namespace

bool UpdateListPending() { return g_updateListOnce; }
void ResetUpdateListOnce() { g_updateListOnce = true; }

int32_t InstallationStateFromEngine(int engineCode) {
  switch (engineCode) {
    case ENGINE_STATE_OLDER:
      return STATUS_OLDER;
    case ENGINE_STATE_SAME:
      return STATUS_SAME;
    case ENGINE_STATE_NEWER:
      return STATUS_NEWER;
    case ENGINE_STATE_NOTHING:
    case ENGINE_NO_COMMAND_LINE:
      return STATUS_NOTHING;
    default:
      return STATUS_CANNOT_INSTALL;
  }
}

const wchar_t *InstallResultText(int engineCode) {
  switch (engineCode) {
    case 0:
    case 1:
      return L"Installation completed successfully.\r\n"
             L"Power cycle is required after installation for updates to take effect.\r\n";
    case 2:
      return L"UPGRADE- OK\r\n";
    case 3:
      return L"Rewrite OK\r\n";
    case 4:
      return L"Downgrade OK\r\n";
    case 5:
      return L"No Device Found\r\n";
    case 6:
      return L"User Interrupted\r\n";
    case 7:
    case 10:
    case 11:
      return L"Error\r\n";
    case 8:
      return L"Error - Other\r\n";
    case 9:
      return L"Critical Error\r\n";
    case 12:
      return L"Discovery Successful\r\n";
    default:
      return nullptr;
  }
}

int32_t InstallResultFromEngine(int engineCode) {
  switch (engineCode) {
    case 0:
    case 1:
    case 3:
    case 4:
      return 2;
    case 2:
    case 12:
      return 1;
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
      return 0;
    default:
      return engineCode;  // above 12, or negative: the engine's code unchanged
  }
}

FlashComponent::FlashComponent(void *module) : module_(module) {}

FlashComponent::~FlashComponent() = default;

void FlashComponent::AttachEngineLog() { setEngineLog(log); }

int32_t FlashComponent::GetInstallationState() {
  log->Write(LT_VERBOSE, LS_NONE, FC_HERE, L"Checking Installation state\r\n");
  int code = getInstallState();
  if (code == ENGINE_STATE_SAME || code == ENGINE_STATE_NEWER) {
    // Every listed device is flashed by the following Install: rewritten or downgraded.
    setForceFlag(true);
    setForceFlashForAll();
  }
  int32_t value = InstallationStateFromEngine(code);
  log->Write(LT_VERBOSE, LS_NONE, FC_HERE, L"Checking Installation state Ends\r\n");
  return value;
}

void DeliverUpdateList(const char *list, wchar_t *out, uint32_t size) {
  if (!out || !list || !*list || !g_updateListOnce) return;
  std::wstring text = sys().fromAnsi(list);
  // Delivered only whole: a buffer too small keeps the flag, so a later query gets the text.
  if (CopyWhole(out, size, text.c_str())) g_updateListOnce = false;
}

int32_t FlashComponent::GetInstalledVersion(wchar_t *out, uint32_t size) {
  DeliverUpdateList(getUpdateListText(), out, size);
  return 1;
}

int32_t FlashComponent::CheckComponentRequirements(wchar_t *out, uint32_t size,
                                                   const wchar_t *lang) {
  return 1;
}

int32_t FlashComponent::Install(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                const wchar_t *lang) {
  log->Write(LT_VERBOSE, LS_NONE, FC_HERE, L"Installation initiated.\r\n");
  int code = flashDevices();
  const wchar_t *text = InstallResultText(code);
  if (text && resultText) std::wcscat(resultText, text);
  int32_t result = InstallResultFromEngine(code);
  log->Write(LT_VERBOSE, LS_NONE, FC_HERE, L"Installation completed.\r\n");
  return result;
}

namespace tal::plugin {

namespace {

// Whether the component's Initialize has run (once per attach).
bool g_initialized = false;

}  // namespace

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

int32_t ExportGetInterfaceVersion(uint32_t *version) {
  EnsureInitialized();
  if (!version) return 0;
  *version = kInterfaceVersion;
  return 1;
}

int32_t ExportGetProperty(uint32_t type, void *buffer, uint32_t size, const wchar_t *lang) {
  EnsureInitialized();
  if (!buffer || !g_component) return 0;
  try {
    g_component->AttachEngineLog();
    int32_t answered = g_component->GetProperty(type, buffer, size, lang);
    // Property 9 may have replaced the log: the engine must not keep the one just deleted.
    g_component->AttachEngineLog();
    if (type == 5) {
      // Only a record the base dispatch filled gets the engine's state; a refused buffer does
      // not run the engine, so a later query with room still discovers the devices.
      if (!answered) return 0;
      SetInstallationStatus(buffer, g_component->GetInstallationState());
      return 1;
    }
    if (type == 3) return 1;
    return answered ? 1 : 0;
  } catch (const std::exception &e) {
    LogCaught("GetProperty", &e);
  } catch (...) {
    LogCaught("GetProperty", nullptr);
  }
  return 0;
}

int32_t ExportInstall(uint32_t a, void *b, wchar_t *resultText, uint32_t d, const wchar_t *lang) {
  EnsureInitialized();
  // Without a result-text buffer the outcome could not be reported: nothing is flashed.
  if (!resultText || !g_component) return 0;
  try {
    return g_component->Install(a, b, resultText, d, lang);
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
    logMessage(LOG_VERBOSE, "%s: caught %s; returning failure\n", where, what);
  } catch (...) {
  }
  try {
    CCmpLog *log = g_component ? g_component->GetLog() : nullptr;
    if (log) {
      const std::wstring wideWhere = sys().fromAnsi(where), wideWhat = sys().fromAnsi(what);
      log->Write(LT_BOTH, LS_ERROR, FC_HERE, L"%ls: caught %ls; returning failure\r\n",
                 wideWhere.c_str(), wideWhat.c_str());
    }
  } catch (...) {
  }
}

void ProcessAttach(void *module) {
  if (g_component) return;
  g_moduleHandle = module;
  // Only what is safe under the loader lock: no library is loaded and nothing calls into the
  // setup library here. The component initialises on the first call of an export.
  g_initialized = false;
  try {
    g_component = new FlashComponent(module);
  } catch (const std::exception &e) {
    LogCaught("process attach", &e);
  } catch (...) {
    LogCaught("process attach", nullptr);
  }
}

void ProcessDetach(bool processExit) {
  if (processExit) return;
  try {
    cleanupEngine();
  } catch (const std::exception &e) {
    LogCaught("process detach", &e);
  } catch (...) {
    LogCaught("process detach", nullptr);
  }
  delete g_component;
  g_component = nullptr;
  g_initialized = false;
  setEngineLog(nullptr);
}

}  // namespace tal::plugin
