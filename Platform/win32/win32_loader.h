// Loading libraries inside an elevated process: only by full path, with the search for the
// library's own dependencies kept to its folder and the system folder, and only from folders that
// no ordinary user can write.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace tal::os::win32 {

// The system folder (GetSystemDirectoryW), without a trailing backslash; empty on failure.
std::wstring systemFolder();

// Loads a library by its full path; its dependencies are looked for only in its own folder and
// in the system folder (LOAD_LIBRARY_SEARCH_*; where the system lacks those flags,
// LOAD_WITH_ALTERED_SEARCH_PATH). Never searches the current folder for the library itself.
// Null (GetLastError set) when the path is not a full path or the load fails.
HMODULE loadLibraryByFullPath(const std::wstring &path);

// A library of the system folder by file name ("version.dll"), loaded once and kept for the
// process (never freed: the plug-in's static objects go inside the loader lock). Null when it
// cannot be loaded.
HMODULE systemLibrary(const wchar_t *fileName);

// A function of a system-folder library, bound on first use and kept; null when missing.
template <typename Fn>
Fn systemFunction(const wchar_t *fileName, const char *name) {
  HMODULE module = systemLibrary(fileName);
  FARPROC address = module ? GetProcAddress(module, name) : nullptr;
  // Through void(*)(): the one function-pointer type every other converts to without warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
}

// True for a full path: "X:\..." or "\\server\share\...".
bool isFullPath(const std::wstring &path);

// Who may change an object, from its owner and access list: only trusted accounts (the system,
// the administrators, the installer service, the account this process runs as), or its owner is
// another account, or an allow entry that applies to the object itself gives another account
// write, append, delete-child, delete, change-permissions or take-ownership rights. The reason
// says which ("owned by S-1-5-21-...", "writable by S-1-1-0", "no access list").
enum class Writers { kTrusted, kForeignOwner, kOthers, kUnreadable };
Writers whoMayWrite(PSID owner, PACL dacl, std::wstring &reason);

// Whether only trusted accounts can place or change files in a folder (or change a file): its
// owner is the system, the administrators, the installer service or the account this process runs
// as, and no allow entry of its access list that applies to the object itself gives any other
// account write, append, delete-child, delete, change-permissions or take-ownership rights. False
// with a reason ("owned by S-1-5-21-...", "writable by S-1-1-0", "no access list", "security not
// readable (error 5)") otherwise.
bool writableOnlyByTrusted(const std::wstring &path, std::wstring &reason);

}  // namespace tal::os::win32
