#include "win32_loader.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace tal::os::win32 {

namespace {

// LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR and LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 8, or Windows 7 with
// KB2533623); older systems refuse them with ERROR_INVALID_PARAMETER.
constexpr DWORD kSearchDllFolder = 0x00000100;
constexpr DWORD kSearchSystem32 = 0x00000800;

// Rights that let an account put a file in a folder, change a file, or take over the object:
// write/add-file, append/add-subfolder, delete-child, delete, change the access list, take
// ownership, and the generic write and all rights.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                     DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

std::wstring sidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return L"an unknown account";
  std::wstring out(text);
  LocalFree(text);
  return out;
}

// The account this process runs as (an administrator running the setup, or the system).
bool processUser(std::vector<unsigned char> &buffer) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  bool ok = false;
  if (size >= sizeof(TOKEN_USER)) {
    buffer.resize(size);
    ok = GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
  }
  CloseHandle(token);
  return ok;
}

bool isTrustedAccount(PSID sid) {
  if (!sid || !IsValidSid(sid)) return false;
  if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
    return true;
  // NT SERVICE\TrustedInstaller, which owns the system's own folders.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID installer = nullptr;
  if (AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649, 1831038044, 1853292631,
                               2271478464, 0, 0, &installer)) {
    const bool same = EqualSid(sid, installer) != 0;
    FreeSid(installer);
    if (same) return true;
  }
  std::vector<unsigned char> user;
  return processUser(user) &&
         EqualSid(sid, reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid) != 0;
}

}  // namespace

std::wstring systemFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring folder(buffer, n);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

bool isFullPath(const std::wstring &path) {
  if (path.size() >= 3 &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
      path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
    return true;
  return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\' &&
         path[2] != L'?' && path[2] != L'.';
}

HMODULE loadLibraryByFullPath(const std::wstring &path) {
  if (!isFullPath(path)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // No "insert the disk" box for a library on a removable or unreachable drive.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kSearchDllFolder | kSearchSystem32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD error = GetLastError();
  SetErrorMode(oldMode);
  SetLastError(error);
  return module;
}

HMODULE systemLibrary(const wchar_t *fileName) {
  // A handful of names, each loaded once: a short list beats a map here.
  struct Entry {
    const wchar_t *name;
    HMODULE module;
  };
  static Entry entries[8] = {};
  static CRITICAL_SECTION *guard = [] {
    static CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    return &section;
  }();
  EnterCriticalSection(guard);
  HMODULE found = nullptr;
  Entry *slot = nullptr;
  for (Entry &entry : entries) {
    if (entry.name && lstrcmpiW(entry.name, fileName) == 0) {
      found = entry.module;
      slot = &entry;
      break;
    }
    if (!entry.name && !slot) slot = &entry;
  }
  if (!found && slot) {
    const std::wstring folder = systemFolder();
    found = folder.empty() ? nullptr : loadLibraryByFullPath(folder + L"\\" + fileName);
    if (found) {
      slot->name = fileName;
      slot->module = found;
    }
  }
  LeaveCriticalSection(guard);
  return found;
}

Writers whoMayWrite(PSID owner, PACL dacl, std::wstring &reason) {
  if (!isTrustedAccount(owner)) {
    reason = L"owned by " + sidText(owner);
    return Writers::kForeignOwner;
  }
  if (!dacl) {
    reason = L"no access list (everyone may write)";
    return Writers::kOthers;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER *header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void **>(&header)) || !header) {
      reason = L"access list not readable";
      return Writers::kUnreadable;
    }
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // applies to children only
    const BYTE type = header->AceType;
    if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_OBJECT_ACE_TYPE &&
        type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE)
      continue;  // deny and audit entries grant nothing
    // Every allow entry keeps its mask right after the header.
    const ACCESS_MASK mask = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header)->Mask;
    if (!(mask & kWriteRights)) continue;
    // Only a plain allow entry names its account where this reads it; any other kind that grants
    // writing is not trusted.
    PSID account =
        type == ACCESS_ALLOWED_ACE_TYPE
            ? reinterpret_cast<PSID>(&reinterpret_cast<ACCESS_ALLOWED_ACE *>(header)->SidStart)
            : nullptr;
    if (!isTrustedAccount(account)) {
      reason = L"writable by " + sidText(account);
      return Writers::kOthers;
    }
  }
  return Writers::kTrusted;
}

bool writableOnlyByTrusted(const std::wstring &path, std::wstring &reason) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    reason = L"security not readable (error " + std::to_wstring(error) + L")";
    return false;
  }
  const bool trusted = whoMayWrite(owner, dacl, reason) == Writers::kTrusted;
  LocalFree(descriptor);
  return trusted;
}

}  // namespace tal::os::win32
