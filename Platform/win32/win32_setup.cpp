// The Windows driver-installation host: the system's setup library, newdev, the registry and the
// shell. Every text the setup library gives is read whole (its size asked first), so nothing is
// cut here; the callers apply their own buffer sizes.
#include "win32_windows.h"
// clang-format off
#include <setupapi.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#include <cstring>
#include <vector>

#include "setup_backend.h"
#include "win32_loader.h"

namespace tal::os {

namespace win32 {

namespace {

static_assert(sizeof(DevInfoData) == sizeof(SP_DEVINFO_DATA), "SP_DEVINFO_DATA");
static_assert(sizeof(DriverInfoData) == sizeof(SP_DRVINFO_DATA_V2_W), "SP_DRVINFO_DATA_V2_W");
static_assert(sizeof(DriverInstallParams) == sizeof(SP_DRVINSTALL_PARAMS), "SP_DRVINSTALL_PARAMS");
static_assert(sizeof(DriverDetailData) == 1584, "SP_DRVINFO_DETAIL_DATA_W of 1584 bytes");

// The seam's error numbers are the system's own.
static_assert(winerr::kFileInvalid == ERROR_FILE_INVALID, "ERROR_FILE_INVALID");
static_assert(winerr::kExpectedSectionName == ERROR_EXPECTED_SECTION_NAME, "section name");
static_assert(winerr::kBadSectionNameLine == ERROR_BAD_SECTION_NAME_LINE, "section line");
static_assert(winerr::kSectionNameTooLong == ERROR_SECTION_NAME_TOO_LONG, "name too long");
static_assert(winerr::kWrongInfStyle == ERROR_WRONG_INF_STYLE, "ERROR_WRONG_INF_STYLE");
static_assert(winerr::kSectionNotFound == ERROR_SECTION_NOT_FOUND, "ERROR_SECTION_NOT_FOUND");
static_assert(winerr::kLineNotFound == ERROR_LINE_NOT_FOUND, "ERROR_LINE_NOT_FOUND");
static_assert(winerr::kNoSuchDevInst == ERROR_NO_SUCH_DEVINST, "ERROR_NO_SUCH_DEVINST");
static_assert(winerr::kNoDriverSelected == ERROR_NO_DRIVER_SELECTED, "ERROR_NO_DRIVER_SELECTED");

constexpr DWORD kInstallFlagForce = 0x1;  // INSTALLFLAG_FORCE
constexpr DWORD kMaxDeviceIdChars = 200;  // MAX_DEVICE_ID_LEN

uint32_t lastError() {
  const DWORD e = GetLastError();
  return e ? e : ERROR_GEN_FAILURE;
}

// Wine's setup library aborts the process in a few functions it does not implement; those are
// left out when running on it.
bool onWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

// Field `index` of a line, read whole; false when the line has no such field.
bool readField(INFCONTEXT &context, DWORD index, std::wstring &out) {
  DWORD needed = 0;
  if (!SetupGetStringFieldW(&context, index, nullptr, 0, &needed) || needed == 0) return false;
  std::wstring buffer(needed, L'\0');
  if (!SetupGetStringFieldW(&context, index, &buffer[0], needed, &needed)) return false;
  buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
  out = buffer;
  return true;
}

class Win32Inf : public InfFile {
 public:
  explicit Win32Inf(HINF handle) : handle_(handle) {}
  ~Win32Inf() override { SetupCloseInfFile(handle_); }
  HINF handle() const { return handle_; }

  bool sectionNames(std::vector<std::wstring> &out) override {
    // One name at a time, each read whole: no list buffer to outgrow. The enumeration ends with
    // ERROR_NO_MORE_ITEMS; any other failure leaves the list unread.
    out.clear();
    for (UINT index = 0;; ++index) {
      UINT needed = 0;
      if (!SetupEnumInfSectionsW(handle_, index, nullptr, 0, &needed)) {
        if (GetLastError() == ERROR_NO_MORE_ITEMS) return true;
        out.clear();
        return false;
      }
      std::wstring name(needed + 1, L'\0');
      if (needed == 0 || !SetupEnumInfSectionsW(handle_, index, &name[0],
                                                static_cast<UINT>(name.size()), &needed)) {
        out.clear();
        return false;
      }
      name.resize(wcsnlen(name.c_str(), name.size()));
      out.push_back(name);
    }
  }

  bool sectionLines(const std::wstring &section, std::vector<InfLine> &out) override {
    out.clear();
    const LONG count = SetupGetLineCountW(handle_, section.c_str());
    if (count < 0) return false;
    for (LONG i = 0; i < count; ++i) {
      INFCONTEXT context;
      if (!SetupGetLineByIndexW(handle_, section.c_str(), static_cast<DWORD>(i), &context)) break;
      InfLine line;
      line.hasKey = readField(context, 0, line.key);
      const DWORD fields = SetupGetFieldCount(&context);
      for (DWORD f = 1; f <= fields; ++f) {
        std::wstring text;
        readField(context, f, text);
        line.fields.push_back(text);
      }
      out.push_back(std::move(line));
    }
    return true;
  }

 private:
  HINF handle_;
};

struct CallbackContext {
  const QueueCallback *callback;
};

UINT CALLBACK queueTrampoline(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
  const QueueCallback *callback = static_cast<CallbackContext *>(context)->callback;
  if (!callback || !*callback) return FILEOP_DOIT;
  std::wstring source, target;
  const auto keep = [&](PCWSTR from, PCWSTR to) {
    if (from) source = from;
    if (to) target = to;
  };
  switch (notification) {
    case SPFILENOTIFY_COPYERROR:
    case SPFILENOTIFY_DELETEERROR:
    case SPFILENOTIFY_FILEOPDELAYED:
    case SPFILENOTIFY_RENAMEERROR:
      if (const auto *files = reinterpret_cast<const FILEPATHS_W *>(param1))
        keep(files->Source, files->Target);
      break;
    case SPFILENOTIFY_NEEDMEDIA:
      if (const auto *media = reinterpret_cast<const SOURCE_MEDIA_W *>(param1))
        keep(media->SourcePath, media->SourceFile);
      break;
    default:
      break;
  }
  try {
    return (*callback)(notification, source, target);
  } catch (...) {
    return FILEOP_SKIP;
  }
}

std::wstring firstOfMulti(const std::vector<BYTE> &bytes) {
  const wchar_t *text = reinterpret_cast<const wchar_t *>(bytes.data());
  return std::wstring(text, wcsnlen(text, bytes.size() / sizeof(wchar_t)));
}

bool deviceProperty(HDEVINFO set, SP_DEVINFO_DATA &data, DWORD property, std::vector<BYTE> &out) {
  DWORD needed = 0, type = 0;
  SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type, nullptr, 0, &needed);
  if (needed == 0) return false;
  out.assign(needed + 2 * sizeof(wchar_t), 0);  // room for the final zeros
  return SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type, out.data(), needed,
                                           &needed) != FALSE;
}

class Win32DeviceNode : public DeviceNode {
 public:
  Win32DeviceNode(HDEVINFO set, const SP_DEVINFO_DATA &data) : set_(set), data_(data) {}
  ~Win32DeviceNode() override { SetupDiDestroyDeviceInfoList(set_); }
  DevInfoData data() override {
    DevInfoData out;
    memcpy(static_cast<void *>(&out), &data_, sizeof out);
    return out;
  }
  uint32_t install(bool &reboot) override {
    reboot = false;
    if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set_, &data_)) return lastError();
    SP_DEVINSTALL_PARAMS_W params;
    params.cbSize = sizeof params;
    if (SetupDiGetDeviceInstallParamsW(set_, &data_, &params))
      reboot = (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
    return 0;
  }
  bool hardwareId(std::wstring &out) override {
    std::vector<BYTE> bytes;
    if (!deviceProperty(set_, data_, SPDRP_HARDWAREID, bytes)) return false;
    out = firstOfMulti(bytes);
    return !out.empty();
  }

 private:
  HDEVINFO set_;
  SP_DEVINFO_DATA data_;
};

class Win32DeviceSet : public DeviceSet {
 public:
  explicit Win32DeviceSet(HDEVINFO set) : set_(set) {
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    while (SetupDiEnumDeviceInfo(set_, static_cast<DWORD>(devices_.size()), &data))
      devices_.push_back(data);
  }
  ~Win32DeviceSet() override {
    for (SP_DEVINFO_DATA &data : devices_)
      SetupDiDestroyDriverInfoList(set_, &data, SPDIT_COMPATDRIVER);
    SetupDiDestroyDeviceInfoList(set_);
  }
  size_t count() override { return devices_.size(); }

  bool device(size_t index, DevInfoData &out, InstalledDriver &driver, bool &hasDriver) override {
    if (index >= devices_.size()) return false;
    SP_DEVINFO_DATA &data = devices_[index];
    memcpy(static_cast<void *>(&out), &data, sizeof out);
    driver = InstalledDriver();
    hasDriver = false;
    SP_DEVINSTALL_PARAMS_W params;
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(set_, &data, &params)) return true;
    params.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER;
    if (!SetupDiSetDeviceInstallParamsW(set_, &data, &params)) return true;
    if (!SetupDiBuildDriverInfoList(set_, &data, SPDIT_COMPATDRIVER)) return true;
    SP_DRVINFO_DATA_V2_W info;
    info.cbSize = sizeof info;
    if (!SetupDiEnumDriverInfoW(set_, &data, SPDIT_COMPATDRIVER, 0, &info)) return true;
    hasDriver = true;
    memcpy(static_cast<void *>(&driver.data), &info, sizeof driver.data);
    if (!onWine()) {
      SP_DRVINSTALL_PARAMS installParams;
      installParams.cbSize = sizeof installParams;
      if (SetupDiGetDriverInstallParamsW(set_, &data, &info, &installParams))
        memcpy(static_cast<void *>(&driver.params), &installParams, sizeof driver.params);
    }
    alignas(8) BYTE detail[sizeof(DriverDetailData)] = {};
    SP_DRVINFO_DETAIL_DATA_W *d = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W *>(detail);
    d->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    DWORD needed = 0;
    // Kept also when the buffer is too small: the fixed part (INF name among it) is filled.
    if (SetupDiGetDriverInfoDetailW(set_, &data, &info, d, sizeof detail, &needed) ||
        GetLastError() == ERROR_INSUFFICIENT_BUFFER)
      memcpy(static_cast<void *>(&driver.detail), detail, sizeof driver.detail);
    return true;
  }

  bool hardwareIds(size_t index, std::wstring &multiText) override {
    multiText.clear();
    if (index >= devices_.size()) return false;
    std::vector<BYTE> bytes;
    if (!deviceProperty(set_, devices_[index], SPDRP_HARDWAREID, bytes)) return false;
    const wchar_t *text = reinterpret_cast<const wchar_t *>(bytes.data());
    const size_t chars = bytes.size() / sizeof(wchar_t);
    // The list up to its double zero (the buffer carries two extra zeros).
    size_t end = 0;
    while (end + 1 < chars && !(text[end] == 0 && (end == 0 || text[end - 1] == 0))) ++end;
    multiText.assign(text, end);
    if (multiText.empty()) return false;
    if (multiText.back() != 0) multiText.push_back(0);
    multiText.push_back(0);
    return true;
  }

 private:
  HDEVINFO set_;
  std::vector<SP_DEVINFO_DATA> devices_;
};

using UpdateDriverFn = BOOL(WINAPI *)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

class Win32SetupHost : public SetupHost {
 public:
  ~Win32SetupHost() override { unloadDriverUpdater(); }

  std::unique_ptr<InfFile> openInf(const std::wstring &path, uint32_t &error,
                                   unsigned &errorLine) override {
    UINT line = 0;
    HINF handle = SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, &line);
    errorLine = line;
    if (handle == INVALID_HANDLE_VALUE) {
      error = lastError();
      return nullptr;
    }
    error = 0;
    return std::make_unique<Win32Inf>(handle);
  }

  uint32_t installFromSection(InfFile &inf, const std::wstring &section, uint32_t flags,
                              const std::wstring &relativeKey, const std::wstring &sourceRoot,
                              const QueueCallback &callback) override {
    HKEY root = HKEY_LOCAL_MACHINE;
    HKEY opened = nullptr;
    if (!relativeKey.empty()) {
      const LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, relativeKey.c_str(), 0, nullptr, 0,
                                     KEY_READ | KEY_WRITE, nullptr, &opened, nullptr);
      if (r != ERROR_SUCCESS) return static_cast<uint32_t>(r);
      root = opened;
    }
    CallbackContext context{&callback};
    const BOOL ok =
        SetupInstallFromInfSectionW(nullptr, static_cast<Win32Inf &>(inf).handle(), section.c_str(),
                                    flags, root, sourceRoot.empty() ? nullptr : sourceRoot.c_str(),
                                    0, queueTrampoline, &context, nullptr, nullptr);
    const uint32_t error = ok ? 0 : lastError();
    if (opened) RegCloseKey(opened);
    return error;
  }

  uint32_t installServices(InfFile &inf, const std::wstring &section) override {
    if (SetupInstallServicesFromInfSectionW(static_cast<Win32Inf &>(inf).handle(), section.c_str(),
                                            0))
      return 0;
    return lastError();
  }

  std::unique_ptr<DeviceNode> createRootDevice(const std::wstring &className,
                                               const std::wstring &deviceName,
                                               const std::wstring &infPath,
                                               uint32_t &error) override {
    GUID guid;
    DWORD count = 0;
    if (!SetupDiClassGuidsFromNameW(className.c_str(), &guid, 1, &count) || count == 0) {
      error = count == 0 ? ERROR_INVALID_CLASS : lastError();
      return nullptr;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
      error = lastError();
      return nullptr;
    }
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    bool registered = false;
    const auto fail = [&](uint32_t e) -> std::unique_ptr<DeviceNode> {
      error = e;
      if (registered) SetupDiRemoveDevice(set, &data);  // no half-made device stays behind
      SetupDiDestroyDeviceInfoList(set);
      return nullptr;
    };
    if (!SetupDiCreateDeviceInfoW(set, deviceName.c_str(), &guid, nullptr, nullptr,
                                  DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS, &data))
      return fail(lastError());
    if (!SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr))
      return fail(lastError());
    registered = true;
    SP_DEVINSTALL_PARAMS_W params;
    params.cbSize = sizeof params;
    if (!SetupDiGetDeviceInstallParamsW(set, &data, &params)) return fail(lastError());
    if (infPath.size() >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
    wcscpy(params.DriverPath, infPath.c_str());
    params.Flags |= DI_ENUMSINGLEINF | DI_DONOTCALLCONFIGMG | DI_NOFILECOPY;
    if (!SetupDiSetDeviceInstallParamsW(set, &data, &params)) return fail(lastError());
    if (!SetupDiBuildDriverInfoList(set, &data, SPDIT_CLASSDRIVER)) return fail(lastError());
    SP_DRVINFO_DATA_W driver;
    driver.cbSize = sizeof driver;
    for (DWORD i = 0; SetupDiEnumDriverInfoW(set, &data, SPDIT_CLASSDRIVER, i, &driver); ++i) {
      if (onWine()) return fail(ERROR_CALL_NOT_IMPLEMENTED);  // its driver selection aborts
      if (!SetupDiSetSelectedDriverW(set, &data, &driver)) return fail(lastError());
    }
    if (GetLastError() != ERROR_NO_MORE_ITEMS) return fail(lastError());
    error = 0;
    return std::make_unique<Win32DeviceNode>(set, data);
  }

  uint32_t copyFile(const std::wstring &source, const std::wstring &target,
                    bool failIfExists) override {
    return CopyFileW(source.c_str(), target.c_str(), failIfExists) ? 0 : lastError();
  }
  uint32_t moveFile(const std::wstring &from, const std::wstring &to) override {
    return MoveFileW(from.c_str(), to.c_str()) ? 0 : lastError();
  }
  uint32_t deleteFile(const std::wstring &path) override {
    return DeleteFileW(path.c_str()) ? 0 : lastError();
  }
  uint32_t moveAtRestart(const std::wstring &from, const std::wstring &to) override {
    return MoveFileExW(from.c_str(), to.empty() ? nullptr : to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)
               ? 0
               : lastError();
  }
  uint32_t createDirectory(const std::wstring &path) override {
    return CreateDirectoryW(path.c_str(), nullptr) ? 0 : lastError();
  }
  uint32_t removeDirectory(const std::wstring &path) override {
    return RemoveDirectoryW(path.c_str()) ? 0 : lastError();
  }
  bool fileExists(const std::wstring &path) override {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }
  void clearAttributes(const std::wstring &path) override {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::wstring systemDirectory() override {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
  }
  std::wstring commonProgramsFolder() override {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, buffer)))
      return std::wstring();
    return buffer;
  }
  uint32_t createShortcut(const std::wstring &linkPath, const std::wstring &target,
                          const std::wstring &arguments, const std::wstring &workingDir) override {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW *link = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void **>(&link));
    if (SUCCEEDED(hr)) {
      link->SetPath(target.c_str());
      link->SetArguments(arguments.c_str());
      link->SetWorkingDirectory(workingDir.c_str());
      IPersistFile *file = nullptr;
      hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file));
      if (SUCCEEDED(hr)) {
        hr = file->Save(linkPath.c_str(), TRUE);
        file->Release();
      }
      link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return SUCCEEDED(hr) ? 0 : static_cast<uint32_t>(hr);
  }

  bool keyExists(const std::wstring &path) override {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  uint32_t createKey(const std::wstring &path) override {
    HKEY key = nullptr;
    const LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                   KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) return static_cast<uint32_t>(r);
    RegCloseKey(key);
    return 0;
  }

  std::unique_ptr<DeviceSet> presentDevices(uint32_t &error) override {
    HDEVINFO set =
        SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
      error = lastError();
      return nullptr;
    }
    error = 0;
    return std::make_unique<Win32DeviceSet>(set);
  }

  int loadDriverUpdater() override {
    if (update_) return 0;
    // From the system folder by full path, its own dependencies from there too.
    newdev_ = loadLibraryByFullPath(systemDirectory() + L"\\newdev.dll");
    if (!newdev_) return 2;
    update_ = reinterpret_cast<UpdateDriverFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(newdev_, "UpdateDriverForPlugAndPlayDevicesW")));
    if (!update_) {
      FreeLibrary(newdev_);
      newdev_ = nullptr;
      return 3;
    }
    return 0;
  }
  uint32_t updateDriver(const std::wstring &hardwareId, const std::wstring &infPath, bool force,
                        bool &reboot) override {
    reboot = false;
    if (!update_) return ERROR_INVALID_FUNCTION;
    BOOL restart = FALSE;
    if (!update_(nullptr, hardwareId.c_str(), infPath.c_str(), force ? kInstallFlagForce : 0,
                 &restart))
      return lastError();
    reboot = restart != FALSE;
    return 0;
  }
  void unloadDriverUpdater() override {
    if (newdev_) FreeLibrary(newdev_);
    newdev_ = nullptr;
    update_ = nullptr;
  }

  uint32_t registerRootDevice(const std::wstring &hardwareId, std::wstring &instanceId) override {
    GUID guid;
    DWORD count = 0;
    if (!SetupDiClassGuidsFromNameW(L"System", &guid, 1, &count) || count == 0)
      return count == 0 ? ERROR_INVALID_CLASS : lastError();
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return lastError();
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    uint32_t error = 0;
    std::wstring ids = hardwareId;
    ids.push_back(0);
    ids.push_back(0);
    if (!SetupDiCreateDeviceInfoW(set, L"TALDEVICE", &guid, nullptr, nullptr, DICD_GENERATE_ID,
                                  &data) ||
        !SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE *>(ids.data()),
                                           static_cast<DWORD>(ids.size() * sizeof(wchar_t))) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)) {
      error = lastError();
    } else {
      wchar_t id[kMaxDeviceIdChars + 1] = {};
      DWORD needed = 0;
      if (SetupDiGetDeviceInstanceIdW(set, &data, id, kMaxDeviceIdChars, &needed)) instanceId = id;
    }
    SetupDiDestroyDeviceInfoList(set);
    return error;
  }

  bool readNumber(const std::wstring &key, const std::wstring &name, uint32_t &out) override {
    DWORD value = 0, size = sizeof value, type = 0;
    if (!queryValue(key, name, &type, reinterpret_cast<BYTE *>(&value), &size) ||
        type != REG_DWORD || size != sizeof value)
      return false;
    out = value;
    return true;
  }
  bool readText(const std::wstring &key, const std::wstring &name, std::wstring &out) override {
    constexpr DWORD kChars = 4096;
    std::vector<wchar_t> text(kChars + 1, L'\0');
    DWORD size = kChars * sizeof(wchar_t), type = 0;
    if (!queryValue(key, name, &type, reinterpret_cast<BYTE *>(text.data()), &size) ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return false;
    // The stored text need not end with a zero: take what was read, up to the first zero.
    text[size / sizeof(wchar_t)] = L'\0';
    out = text.data();
    return true;
  }
  bool serviceOpens(const std::wstring &name) override {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
  }

 private:
  // RegQueryValueExW on a local machine key; false on any failure (a value larger than the
  // buffer among them).
  static bool queryValue(const std::wstring &path, const std::wstring &name, DWORD *type,
                         BYTE *data, DWORD *size) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, type, data, size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
  }

  HMODULE newdev_ = nullptr;
  UpdateDriverFn update_ = nullptr;
};

}  // namespace

}  // namespace win32

namespace detail {
SetupHost &builtinSetupHost() {
  static win32::Win32SetupHost host;
  return host;
}
}  // namespace detail

}  // namespace tal::os
