#include "component.h"

#include <cwchar>
#include <new>
#include <string>

#include "engine.h"
#include "log.h"
#include "tal/platform.h"

using tal::os::sys;

namespace {

const wchar_t kSource[] = L"component";
#define FC_HERE kSource, __LINE__

}  // namespace

bool UpdateListPending() { return updateListPending(); }

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
    case RESULT_COMPLETED_0:
    case RESULT_COMPLETED:
      return L"Installation completed successfully.\r\n"
             L"Power cycle is required after installation for updates to take effect.\r\n";
    case RESULT_UPGRADE_OK:
      return L"UPGRADE- OK\r\n";
    case RESULT_REWRITE_OK:
      return L"Rewrite OK\r\n";
    case RESULT_DOWNGRADE_OK:
      return L"Downgrade OK\r\n";
    case RESULT_NO_DEVICE:
      return L"No Device Found\r\n";
    case RESULT_USER_INTERRUPTED:
      return L"User Interrupted\r\n";
    case RESULT_ERROR:
    case RESULT_ERROR_10:
    case RESULT_ERROR_11:
      return L"Error\r\n";
    case RESULT_ERROR_OTHER:
      return L"Error - Other\r\n";
    case RESULT_CRITICAL_ERROR:
      return L"Critical Error\r\n";
    case RESULT_DISCOVERY_DONE:
      return L"Discovery Successful\r\n";
    case ENGINE_NOTHING_DUE:
      return L"No device needed an update: nothing was changed.\r\n";
    default:
      return nullptr;
  }
}

int32_t InstallResultFromEngine(int engineCode) {
  switch (engineCode) {
    case RESULT_COMPLETED_0:
    case RESULT_COMPLETED:
    case RESULT_REWRITE_OK:
    case RESULT_DOWNGRADE_OK:
      return 2;
    case RESULT_UPGRADE_OK:
    case RESULT_DISCOVERY_DONE:
    case ENGINE_NOTHING_DUE:
      return 1;
    case RESULT_NO_DEVICE:
    case RESULT_USER_INTERRUPTED:
    case RESULT_ERROR:
    case RESULT_ERROR_OTHER:
    case RESULT_CRITICAL_ERROR:
    case RESULT_ERROR_10:
    case RESULT_ERROR_11:
      return 0;
    default:
      return engineCode;  // 13, above 14, or negative: the engine's code unchanged
  }
}

void AppendResultText(wchar_t *buffer, const wchar_t *first, const std::wstring &detail) {
  if (!buffer) return;
  size_t used = std::wcslen(buffer);
  if (first) {
    std::wcscat(buffer, first);  // the table's text, appended as it always was
    used += std::wcslen(first);
  }
  // The detail lines, whole, while the text stays within kResultTextChars (terminator included);
  // the room for the closing line that counts what was left out is kept free.
  static const wchar_t kMore[] = L"(%u more lines in the component log)\r\n";
  constexpr size_t kMoreRoom = 48;
  size_t pos = 0, omitted = 0;
  while (pos < detail.size()) {
    size_t end = detail.find(L'\n', pos);
    end = end == std::wstring::npos ? detail.size() : end + 1;
    const size_t length = end - pos;
    const bool last = end == detail.size();
    const size_t room = last ? 1 : 1 + kMoreRoom;
    if (omitted == 0 && used + length + room <= kResultTextChars) {
      std::wmemcpy(buffer + used, detail.data() + pos, length);
      used += length;
      buffer[used] = L'\0';
    } else {
      ++omitted;
    }
    pos = end;
  }
  if (omitted > 0 && used + kMoreRoom + 1 <= kResultTextChars) {
    std::swprintf(buffer + used, kMoreRoom + 1, kMore, static_cast<unsigned>(omitted));
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
  if (!out || !list || !*list || !updateListPending()) return;
  std::wstring text = sys().fromAnsi(list);
  // Delivered only whole: a buffer too small keeps the flag, so a later query gets the text.
  if (CopyWhole(out, size, text.c_str())) markUpdateListGiven();
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
  // The table's line, then the engine's detail lines (why nothing was done, each device not
  // updated with its state, ...). The lines go to the component log whole, also those the
  // result text has no room for.
  const std::wstring detail = sys().fromAnsi(getInstallResultDetail());
  if (!detail.empty()) log->Write(LT_BOTH_NOLOC, LS_NONE, FC_HERE, L"%ls", detail.c_str());
  AppendResultText(resultText, InstallResultText(code), detail);
  int32_t result = InstallResultFromEngine(code);
  finishInstallProgress(result);
  log->Write(LT_VERBOSE, LS_NONE, FC_HERE, L"Installation completed.\r\n");
  return result;
}

namespace {

// The flash plug-in's part in the boundary: the flash component, the engine's state over the
// base status record, the engine log, and the engine's cleanup at unload.
class FlashBinding final : public tal::plugin::Binding {
 public:
  CBaseComponent *Create(void *module) override { return new FlashComponent(module); }

  int32_t GetProperty(CBaseComponent &base, uint32_t type, void *buffer, uint32_t size,
                      const wchar_t *lang) override {
    auto &component = static_cast<FlashComponent &>(base);
    component.AttachEngineLog();
    int32_t answered = component.GetProperty(type, buffer, size, lang);
    // Property 9 may have replaced the log: the engine must not keep the one just deleted.
    component.AttachEngineLog();
    if (type == 5) {
      // Only a record the base dispatch filled gets the engine's state; a refused buffer does
      // not run the engine, so a later query with room still discovers the devices.
      if (!answered) return 0;
      SetInstallationStatus(buffer, component.GetInstallationState());
      return 1;
    }
    if (type == 3) return 1;
    return answered ? 1 : 0;
  }

  void Unload() override {
    // The engine must not keep the log of the component about to be destroyed, even when its
    // cleanup fails.
    try {
      cleanupEngine();
    } catch (...) {
      setEngineLog(nullptr);
      throw;
    }
    setEngineLog(nullptr);
  }

  void LogCaught(const char *where, const char *what) override {
    logMessage(LOG_VERBOSE, "%s: caught %s; returning failure\n", where, what);
  }
};

}  // namespace

tal::plugin::Binding &tal::plugin::PluginBinding() {
  static FlashBinding binding;
  return binding;
}

FlashComponent *TheComponent() { return static_cast<FlashComponent *>(tal::plugin::Component()); }
