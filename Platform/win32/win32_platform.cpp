// The Windows backend: the real system calls.
#include "win32_windows.h"
// clang-format off
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <sddl.h>
#include <shellapi.h>
#include <wbemidl.h>
// clang-format on

#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <vector>

#include "backend.h"
#include "channel_binding.h"
#include "tal/capture.h"
#include "win32_loader.h"

namespace tal::os {

const wchar_t *const kChannelLibraryName = L"TalCi.dll";

namespace win32 {

namespace {

// 'RSMB': the raw SMBIOS firmware table provider.
constexpr DWORD kRawSmbiosProvider =
    (DWORD('R') << 24) | (DWORD('S') << 16) | (DWORD('M') << 8) | DWORD('B');
const char kModuleAnchor = 0;

HANDLE asHandle(FileHandle file) { return static_cast<HANDLE>(file); }

std::wstring moduleFileName(HMODULE module) {
  std::wstring buffer(MAX_PATH, L'\0');
  while (buffer.size() <= 32768) {
    const DWORD n = GetModuleFileNameW(module, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::wstring();
}

// TalCi.dll, found in a trusted place and loaded by full path (channel_binding.h binds its
// functions).
//
// The library is never freed: this object goes with the plug-in's static objects, which the
// runtime destroys inside the plug-in's process-detach handler, under the loader lock, where
// freeing a library is not allowed. Its reference goes when the process ends.
class Win32ChannelLibrary : public detail::ChannelBinding {
 protected:
  bool open(ChannelLibrarySearch &search) override {
    library_ = locateAndLoad(search);
    return library_ != nullptr;
  }
  Address lookUp(const char *name) override {
    return reinterpret_cast<Address>(GetProcAddress(library_, name));
  }

 private:
  // The places, in order: the system folder, the plug-in's own folder, then each PATH folder that
  // only trusted accounts can write (and whose library file only they can change). The current
  // folder is never one of them, even when PATH names it.
  static HMODULE locateAndLoad(ChannelLibrarySearch &search) {
    std::vector<std::wstring> folders;
    const std::wstring system = systemFolder();
    if (!system.empty()) folders.push_back(system);
    std::wstring module = detail::builtinPlatform().modulePath();
    const size_t slash = module.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) folders.push_back(module.substr(0, slash));
    const size_t fixed = folders.size();
    for (const std::wstring &entry : pathFolders()) folders.push_back(entry);

    wchar_t current[MAX_PATH + 1] = {};
    const DWORD currentLength = GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring currentFolder =
        currentLength > 0 && currentLength < MAX_PATH ? std::wstring(current) : std::wstring();

    for (size_t i = 0; i < folders.size(); ++i) {
      std::wstring folder = folders[i];
      while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
      const std::wstring path = folder + L"\\" + kChannelLibraryName;
      if (i >= fixed) {
        std::wstring reason;
        if (!isFullPath(folder)) {
          search.passedOver.push_back(folder + L": not a full path");
          continue;
        }
        if (!currentFolder.empty() && detail::builtinPlatform().sameFile(folder, currentFolder)) {
          search.passedOver.push_back(folder + L": the current folder");
          continue;
        }
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        if (!writableOnlyByTrusted(folder, reason)) {
          search.passedOver.push_back(folder + L": " + reason);
          continue;
        }
        search.lookedIn.push_back(folder);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
          continue;
        if (!writableOnlyByTrusted(path, reason)) {
          search.passedOver.push_back(path + L": " + reason);
          continue;
        }
      } else {
        search.lookedIn.push_back(folder);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
          continue;
      }
      HMODULE library = loadLibraryByFullPath(path);
      if (!library) {
        search.passedOver.push_back(path + L": not loadable (error " +
                                    std::to_wstring(GetLastError()) + L")");
        continue;
      }
      search.loaded = path;
      search.hasVersion = detail::builtinPlatform().fileVersion(path, search.version);
      return library;
    }
    return nullptr;
  }

  // The folders of the PATH variable, in order, quotes removed; empty entries dropped.
  static std::vector<std::wstring> pathFolders() {
    std::vector<std::wstring> out;
    const DWORD needed = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (needed == 0) return out;
    std::wstring value(needed, L'\0');
    const DWORD n = GetEnvironmentVariableW(L"PATH", &value[0], needed);
    if (n == 0 || n >= needed) return out;
    value.resize(n);
    size_t start = 0;
    while (start <= value.size()) {
      size_t end = value.find(L';', start);
      if (end == std::wstring::npos) end = value.size();
      std::wstring entry = value.substr(start, end - start);
      entry.erase(std::remove(entry.begin(), entry.end(), L'"'), entry.end());
      while (!entry.empty() && (entry.back() == L' ' || entry.back() == L'\t')) entry.pop_back();
      size_t lead = 0;
      while (lead < entry.size() && (entry[lead] == L' ' || entry[lead] == L'\t')) ++lead;
      entry.erase(0, lead);
      if (!entry.empty()) out.push_back(entry);
      start = end + 1;
    }
    return out;
  }

  HMODULE library_ = nullptr;
};

// The volume serial number and file index of a file (opened for no access, shared every way, so
// an open log does not stand in the way; a folder opens too).
bool fileIdentity(const std::wstring &path, BY_HANDLE_FILE_INFORMATION &out) {
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, &out) != 0;
  CloseHandle(h);
  return ok;
}

// True when the open handle is a link or reparse point itself (it was opened with
// FILE_FLAG_OPEN_REPARSE_POINT), or when the path reports one (wine reports a folder link only
// there). A handle whose attributes cannot be read counts as one: nothing is written through it.
bool isReparsePoint(HANDLE h, const std::wstring &path) {
  if (GetFileType(h) != FILE_TYPE_DISK) return false;  // a device such as NUL
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return true;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A folder that administrators and the system may change and every user may read: the access
// list is protected, so nothing from the folder above is inherited.
bool createPrivateFolder(const std::wstring &path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &sd,
          nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, sd, FALSE};
  const BOOL made = CreateDirectoryW(path.c_str(), &attributes);
  const DWORD error = GetLastError();
  LocalFree(sd);
  SetLastError(error);
  return made != 0;
}

class Win32Platform : public Platform {
 public:
  // --- files and folders ---
  bool createDirectory(const std::wstring &path) override {
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
  }
  bool pathExists(const std::wstring &path) override {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool isRegularFile(const std::wstring &path) override {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  FileHandle openShared(const std::wstring &path) override {
    // The link itself is opened, not its target, and then refused.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
    if (isReparsePoint(h, path)) {
      CloseHandle(h);
      return kInvalidFile;
    }
    return static_cast<FileHandle>(h);
  }
  bool appendFile(FileHandle file, const void *data, size_t size) override {
    if (file == kInvalidFile) return false;
    if (SetFilePointer(asHandle(file), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
      return false;
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
      const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(asHandle(file), bytes, chunk, &written, nullptr) || written == 0) return false;
      bytes += written;
      size -= written;
    }
    return true;
  }
  bool readWholeFile(FileHandle file, std::string &out) override {
    out.clear();
    if (file == kInvalidFile) return false;
    if (SetFilePointer(asHandle(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
      return false;
    char buffer[65536];
    while (true) {
      DWORD got = 0;
      if (!ReadFile(asHandle(file), buffer, sizeof buffer, &got, nullptr)) return false;
      if (got == 0) return true;
      out.append(buffer, got);
    }
  }
  bool closeFile(FileHandle file) override {
    return file != kInvalidFile && CloseHandle(asHandle(file)) != 0;
  }
  ReadResult readExistingFile(const std::wstring &path, std::string &out,
                              size_t maxBytes) override {
    out.clear();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ReadResult::kCannotOpen;
    ReadResult result = ReadResult::kOk;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > maxBytes) {
      result = ReadResult::kCannotRead;
    } else {
      out.resize(static_cast<size_t>(size.QuadPart));
      size_t done = 0;
      while (done < out.size()) {
        const size_t left = out.size() - done;
        const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(h, &out[done], chunk, &got, nullptr) || got == 0) break;
        done += got;
      }
      if (done != out.size()) result = ReadResult::kCannotRead;
    }
    CloseHandle(h);
    if (result != ReadResult::kOk) out.clear();
    return result;
  }
  bool renameFile(const std::wstring &from, const std::wstring &to) override {
    return MoveFileW(from.c_str(), to.c_str()) != 0;
  }
  bool deleteFile(const std::wstring &path) override { return DeleteFileW(path.c_str()) != 0; }
  std::vector<std::wstring> findFiles(const std::wstring &folder,
                                      const std::wstring &pattern) override {
    std::vector<std::wstring> names;
    std::wstring query = folder;
    if (!query.empty() && query.back() != L'\\' && query.back() != L'/') query.push_back(L'\\');
    query += pattern;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(query.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
  }
  FILE *openStream(const char *path, const char *mode) override {
    if (!path || !mode) return nullptr;
    const std::wstring wide = fromAnsi(path);
    const std::string m = mode;
    if (m.find_first_of("wa+") == std::string::npos)
      return _wfopen(wide.c_str(), fromAnsi(mode).c_str());
    // A mode that writes: the handle is opened without following a link at the path (the link
    // itself is opened and refused), then given to the runtime.
    const bool update = m.find('+') != std::string::npos;
    const DWORD access = GENERIC_WRITE | (update || m[0] == 'r' ? GENERIC_READ : 0);
    const DWORD disposition = m[0] == 'w'   ? CREATE_ALWAYS
                              : m[0] == 'a' ? OPEN_ALWAYS
                                            : OPEN_EXISTING;
    HANDLE h =
        CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      errno = GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                  ? ENOENT
                  : EACCES;
      return nullptr;
    }
    if (isReparsePoint(h, wide)) {
      CloseHandle(h);
      errno = EACCES;
      return nullptr;
    }
    int flags = (m.find('b') != std::string::npos ? _O_BINARY : _O_TEXT) |
                (update ? _O_RDWR : _O_WRONLY) | (m[0] == 'a' ? _O_APPEND : 0);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) {
      CloseHandle(h);
      return nullptr;
    }
    FILE *f = _fdopen(fd, mode);
    if (!f) _close(fd);
    return f;
  }
  std::string nativePath(const std::string &path) override { return path; }
  std::wstring nativePath(const std::wstring &path) override { return path; }
  FolderTrust secureFolder(const std::wstring &path, bool create) override {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      if (!missing) return FolderTrust::kUnknown;
      if (!create) return FolderTrust::kMissing;
      if (!createPrivateFolder(path) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FolderTrust::kMissing;
      attributes = GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return FolderTrust::kMissing;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderTrust::kLink;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderTrust::kNotFolder;
    // The folder itself, not what a link put in its place since would lead to.
    HANDLE h = CreateFileW(
        path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FolderTrust::kUnknown;
    FolderTrust trust = FolderTrust::kTrusted;
    BY_HANDLE_FILE_INFORMATION info{};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!GetFileInformationByHandle(h, &info)) {
      trust = FolderTrust::kUnknown;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      trust = FolderTrust::kLink;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      trust = FolderTrust::kNotFolder;
    } else if (GetSecurityInfo(h, SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                               nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS) {
      trust = FolderTrust::kUnknown;
    } else {
      // The same rule the channel library's folders are held to.
      std::wstring reason;
      switch (whoMayWrite(owner, dacl, reason)) {
        case Writers::kTrusted:
          break;
        case Writers::kForeignOwner:
          trust = FolderTrust::kForeignOwner;
          break;
        case Writers::kOthers:
          trust = FolderTrust::kOpenToOthers;
          break;
        case Writers::kUnreadable:
          trust = FolderTrust::kUnknown;
          break;
      }
    }
    if (sd) LocalFree(sd);
    CloseHandle(h);
    return trust;
  }
  bool sameFile(const std::wstring &a, const std::wstring &b) override {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!fileIdentity(a, ia) || !fileIdentity(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }

  // --- environment ---
  std::wstring expandEnvironment(const std::wstring &text) override {
    DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    for (int attempt = 0; needed != 0 && attempt < 4; ++attempt) {
      std::wstring buffer(needed, L'\0');
      const DWORD n = ExpandEnvironmentStringsW(text.c_str(), &buffer[0], needed);
      if (n == 0) break;
      if (n <= needed) {
        buffer.resize(n - 1);  // n counts the terminator
        return buffer;
      }
      needed = n;  // the environment grew in between
    }
    return text;
  }
  std::wstring tempFileName(const std::wstring &folder, const std::wstring &prefix,
                            unsigned unique) override {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (GetTempFileNameW(folder.c_str(), prefix.c_str(), unique, buffer) == 0)
      return std::wstring();
    return buffer;
  }

  // --- process ---
  bool commandLine(std::wstring &out) override {
    const wchar_t *line = GetCommandLineW();
    if (!line) return false;
    out = line;
    return true;
  }
  bool commandLineArguments(std::vector<std::wstring> &out) override {
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return false;
    out.assign(argv, argv + count);
    LocalFree(argv);
    return true;
  }
  std::wstring modulePath() override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module))
      return std::wstring();
    return moduleFileName(module);
  }
  std::wstring executablePath() override { return moduleFileName(nullptr); }
  std::wstring currentDirectory() override {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return std::wstring();
    std::vector<wchar_t> buffer(size + 1);
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return std::wstring();
    return std::wstring(buffer.data(), n);
  }
  bool fileVersion(const std::wstring &path, FileVersion &out) override {
    // version.dll is not one of the libraries the system always takes from its own folder: it
    // is bound here, from the system folder, rather than imported.
    using SizeFn = DWORD(WINAPI *)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI *)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI *)(LPCVOID, LPCWSTR, LPVOID *, PUINT);
    static const auto sizeFn = systemFunction<SizeFn>(L"version.dll", "GetFileVersionInfoSizeW");
    static const auto infoFn = systemFunction<InfoFn>(L"version.dll", "GetFileVersionInfoW");
    static const auto queryFn = systemFunction<QueryFn>(L"version.dll", "VerQueryValueW");
    if (!sizeFn || !infoFn || !queryFn) return false;
    DWORD ignored = 0;
    const DWORD size = sizeFn(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<unsigned char> data(size);
    if (!infoFn(path.c_str(), 0, size, data.data())) return false;
    void *value = nullptr;
    UINT length = 0;
    if (!queryFn(data.data(), L"\\", &value, &length) || !value ||
        length < sizeof(VS_FIXEDFILEINFO))
      return false;
    const VS_FIXEDFILEINFO *info = static_cast<const VS_FIXEDFILEINFO *>(value);
    if (info->dwSignature != 0xFEEF04BD) return false;
    out.part[0] = HIWORD(info->dwFileVersionMS);
    out.part[1] = LOWORD(info->dwFileVersionMS);
    out.part[2] = HIWORD(info->dwFileVersionLS);
    out.part[3] = LOWORD(info->dwFileVersionLS);
    return true;
  }

  // --- text conversion ---
  std::string toAnsi(const std::wstring &text) override {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, &out[0], n, nullptr, nullptr);
    return out;
  }
  std::wstring fromAnsi(const std::string &text) override {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, &out[0], n);
    return out;
  }

  std::wstring fromCodePage932(const std::string &bytes) override {
    if (bytes.empty()) return std::wstring();
    const int length = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(932, 0, bytes.data(), length, nullptr, 0);
    if (n <= 0) return std::wstring(1, L'\x30FB');
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, bytes.data(), length, &out[0], n);
    return out;
  }

  // --- time ---
  std::wstring localTimeText() override {
    wchar_t buffer[128];
    const int n = GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER,
                                 nullptr, nullptr, buffer, 128);
    return n > 0 ? std::wstring(buffer) : std::wstring();
  }
  std::wstring localShortDateText() override {
    wchar_t buffer[128];
    const int n =
        GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer, 128);
    return n > 0 ? std::wstring(buffer) : std::wstring();
  }
  // The C runtime's clock and conversions (the local time zone as the runtime reads it).
  int64_t wallClockSeconds() override { return static_cast<int64_t>(std::time(nullptr)); }
  bool calendarTime(int64_t seconds, bool local, std::tm &out) override {
    const std::time_t when = static_cast<std::time_t>(seconds);
    return (local ? localtime_s(&out, &when) : gmtime_s(&out, &when)) == 0;
  }
  // While precise sleeps are on, a sleep waits on a high-resolution waitable timer where the
  // system has one (it wakes close to the time asked, without raising the system's tick);
  // elsewhere Sleep runs at the 1 ms resolution that timeBeginPeriod(1) gives.
  void sleepMs(uint32_t ms) override {
    if (preciseDepth_ > 0 && preciseTimer_ != nullptr && ms > 0) {
      LARGE_INTEGER due;
      due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, in 100 ns units
      if (SetWaitableTimer(preciseTimer_, &due, 0, nullptr, nullptr, FALSE) &&
          WaitForSingleObject(preciseTimer_, INFINITE) == WAIT_OBJECT_0) {
        return;
      }
    }
    Sleep(ms);
  }
  uint64_t monotonicMs() override { return GetTickCount64(); }
  // With the default 15.6 ms timer tick a Sleep(1) lasts a whole tick; the flash procedures'
  // short pauses must last what they say.
  void beginPreciseSleeps() override {
    if (preciseDepth_++ > 0) return;
    preciseTimer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer,
                                           TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (preciseTimer_ == nullptr) {
      periodRaised_ = timePeriod("timeBeginPeriod", 1) == TIMERR_NOERROR;
    }
  }
  void endPreciseSleeps() override {
    if (preciseDepth_ == 0 || --preciseDepth_ > 0) return;
    if (preciseTimer_ != nullptr) CloseHandle(preciseTimer_);
    preciseTimer_ = nullptr;
    if (periodRaised_) timePeriod("timeEndPeriod", 1);
    periodRaised_ = false;
  }

  // --- console ---
  void attachConsole(int lines) override {
    AllocConsole();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(output, &info)) {
      info.dwSize.Y = static_cast<SHORT>(lines > 0x7FFF ? 0x7FFF : lines);
      SetConsoleScreenBufferSize(output, info.dwSize);
    }
    if (freopen("CONOUT$", "w", stdout)) setvbuf(stdout, nullptr, _IONBF, 0);
    if (freopen("CONOUT$", "w", stderr)) setvbuf(stderr, nullptr, _IONBF, 0);
    if (freopen("CONIN$", "r", stdin)) setvbuf(stdin, nullptr, _IONBF, 0);
    std::ios::sync_with_stdio();
    std::cout.clear();
    std::cerr.clear();
    std::cin.clear();
    std::wcout.clear();
    std::wcerr.clear();
    std::wcin.clear();
  }

  // --- system information ---
  bool systemIdentity(SystemIdentity &out) override {
    SystemIdentity identity;
    // The true version: RtlGetNtVersionNumbers is not shimmed by compatibility settings.
    using NtVersionFn = void(WINAPI *)(DWORD *, DWORD *, DWORD *);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC ntVersion = ntdll ? GetProcAddress(ntdll, "RtlGetNtVersionNumbers") : nullptr;
    if (ntVersion) {
      DWORD major = 0, minor = 0, build = 0;
      reinterpret_cast<NtVersionFn>(reinterpret_cast<void (*)()>(ntVersion))(&major, &minor,
                                                                             &build);
      identity.major = major;
      identity.minor = minor;
      identity.build = build & 0xFFFF;  // the high bits flag a checked or free build
    } else {
      const DWORD version = GetVersion();
      identity.major = LOBYTE(LOWORD(version));
      identity.minor = HIBYTE(LOWORD(version));
      identity.build = version < 0x80000000 ? HIWORD(version) : 0;
    }
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    identity.kernelPath = (n == 0 || n >= MAX_PATH) ? std::wstring() : std::wstring(folder);
    identity.kernelPath += L"\\kernel32.dll";
    HMODULE kernel = n == 0 || n >= MAX_PATH ? nullptr : LoadLibraryW(identity.kernelPath.c_str());
    if (!kernel) {
      out = identity;
      return false;
    }
    // The extended structure: the service pack is only in it.
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&info))) {
      identity.platformId = info.dwPlatformId;
      identity.reportedMajor = info.dwMajorVersion;
      identity.reportedMinor = info.dwMinorVersion;
      identity.servicePackMajor = info.wServicePackMajor;
    } else {
      identity.platformId = 0;
      identity.reportedMajor = identity.reportedMinor = 0;
    }
    SYSTEM_INFO system = {};
    using SystemInfoFn = void(WINAPI *)(SYSTEM_INFO *);
    FARPROC native = GetProcAddress(kernel, "GetNativeSystemInfo");
    identity.nativeInfoFound = native != nullptr;
    if (native) {
      reinterpret_cast<SystemInfoFn>(reinterpret_cast<void (*)()>(native))(&system);
    } else {
      GetSystemInfo(&system);
    }
    identity.architecture = system.wProcessorArchitecture;
    identity.productType = 0;
    identity.productInfoFound = false;
    using ProductInfoFn = BOOL(WINAPI *)(DWORD, DWORD, DWORD, DWORD, DWORD *);
    if (identity.major > 5) {
      if (FARPROC product = GetProcAddress(kernel, "GetProductInfo")) {
        identity.productInfoFound = true;
        DWORD type = 0;
        if (reinterpret_cast<ProductInfoFn>(reinterpret_cast<void (*)()>(product))(
                identity.major, identity.minor, 0, 0, &type))
          identity.productType = type;
      }
    }
    identity.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    FreeLibrary(kernel);
    out = identity;
    return true;
  }
  bool freeDiskBytes(const std::wstring &path, uint64_t &out) override {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return false;
    out = available.QuadPart;
    return true;
  }

  bool computerModel(std::wstring &out) override {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // A thread the host already set up for another apartment still reaches WMI.
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) return false;
    bool found = false;
    IWbemLocator *locator = nullptr;
    IWbemServices *services = nullptr;
    IEnumWbemClassObject *rows = nullptr;
    IWbemClassObject *row = nullptr;
    BSTR space = SysAllocString(L"ROOT\\CIMV2");
    BSTR language = SysAllocString(L"WQL");
    BSTR query = SysAllocString(L"SELECT * FROM Win32_ComputerSystem");
    ULONG returned = 0;
    VARIANT value;
    VariantInit(&value);
    if (space && language && query &&
        SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWbemLocator, reinterpret_cast<void **>(&locator))) &&
        SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                         &services))) {
      CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                        RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
      if (SUCCEEDED(services->ExecQuery(language, query,
                                        WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                        nullptr, &rows)) &&
          rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, &row, &returned) == WBEM_S_NO_ERROR &&
          returned == 1 && SUCCEEDED(row->Get(L"Model", 0, &value, nullptr, nullptr)) &&
          value.vt == VT_BSTR && value.bstrVal) {
        out.assign(value.bstrVal, SysStringLen(value.bstrVal));
        found = true;
      }
    }
    VariantClear(&value);
    if (row) row->Release();
    if (rows) rows->Release();
    if (services) services->Release();
    if (locator) locator->Release();
    SysFreeString(space);
    SysFreeString(language);
    SysFreeString(query);
    if (SUCCEEDED(init)) CoUninitialize();
    return found;
  }
  bool shellOpen(const std::wstring &file, const std::wstring &folder) override {
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(), nullptr,
                                           folder.empty() ? nullptr : folder.c_str(), SW_HIDE);
    return reinterpret_cast<INT_PTR>(result) > 32;
  }

  // --- firmware tables ---
  std::vector<uint8_t> rawSmbiosTable() override {
    std::vector<uint8_t> table = readRawSmbios();
    detail::recordSmbios(table);
    return table;
  }

  // --- the channel library ---
  bool channelLibraryPresent() override { return channel_.load(); }
  ChannelLibrarySearch channelLibrarySearch() override { return channel_.search(); }
  ChannelLibrary &channelLibrary() override { return detail::recordedChannel(channel_); }
  ChannelCapture channelCapture() override { return detail::captureState(); }

 private:
  // timeBeginPeriod / timeEndPeriod of winmm.dll, bound from the system folder (winmm.dll is not
  // one of the libraries the system always takes from its own folder); TIMERR_NOCANDO when
  // missing.
  static UINT timePeriod(const char *name, UINT period) {
    using PeriodFn = UINT(WINAPI *)(UINT);
    const auto fn = systemFunction<PeriodFn>(L"winmm.dll", name);
    return fn ? fn(period) : TIMERR_NOCANDO;
  }

  static std::vector<uint8_t> readRawSmbios() {
    const UINT size = GetSystemFirmwareTable(kRawSmbiosProvider, 0, nullptr, 0);
    if (size == 0) return {};
    std::vector<uint8_t> table(size);
    // A table that changed size between the two calls is not trusted.
    if (GetSystemFirmwareTable(kRawSmbiosProvider, 0, table.data(), size) != size) return {};
    return table;
  }

  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803 and later; refused elsewhere).
  static constexpr DWORD kHighResolutionTimer = 0x00000002;

  Win32ChannelLibrary channel_;
  int preciseDepth_ = 0;
  HANDLE preciseTimer_ = nullptr;
  bool periodRaised_ = false;
};

}  // namespace

}  // namespace win32

namespace detail {

std::wstring captureVariable() {
  wchar_t buffer[1024];
  const DWORD size = GetEnvironmentVariableW(L"TAL_CHANNEL_RECORD", buffer, 1024);
  if (size == 0 || size >= 1024) return std::wstring();
  return std::wstring(buffer, size);
}

FILE *openCaptureFile(const std::wstring &path, std::string &error) {
  // A link or reparse point in the file's place is opened as itself, never followed.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot write " + toUtf8(path) + ": error " + std::to_string(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    error = "cannot write " + toUtf8(path);
    return nullptr;
  }
  FILE *out = _fdopen(fd, "wb");
  if (!out) {
    _close(fd);
    error = "cannot write " + toUtf8(path);
  }
  return out;
}

Platform &builtinPlatform() {
  static win32::Win32Platform platform;
  return platform;
}
}  // namespace detail

}  // namespace tal::os
