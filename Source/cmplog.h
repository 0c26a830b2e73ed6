// CCmpLog: the component framework's log, and the text and file functions that live beside it.
//
// One CCmpLog manages two ANSI text files: the main log "talsetup.log" in
// "%systemdrive%\talsystem\log\" and, in verbose mode only, a verbose log whose messages carry a
// source-location prefix. Every framework class writes through CCmpLog::Write; the flash engine
// writes into the same object through logMessage.
//
// The host setup program has objects of this class too (built by MSVC) and may hand one to the
// component, which then calls it through this virtual table. The table is therefore laid out as
// MSVC lays it out: slot 0 is the scalar deleting destructor (one slot, taking a flags word; bit 0
// set frees the memory), then Open, Close, WriteHeader, Write, WriteFooter, SetVerbose. A C++
// virtual destructor would take two slots under g++, so slot 0 is declared as an ordinary virtual
// function and the C++ destructor is not virtual: delete a CCmpLog only through
// DeletingDestructor(1). A class derived from CCmpLog must override DeletingDestructor.
//
// The fields are laid out as the host's class has them (x64, no base class): the table pointer,
// the stub-version pointer, the status word, the entry array (three pointers: first, last, end of
// storage) and the verbose flag. MoveVerboseLog and the entry-1 accessors read these fields, also
// on the host's object; everything else goes through the table.
#pragma once

#include <cstdint>
#include <vector>

#include "cstr.h"
#include "tal/platform.h"

// Where a message goes.
enum LogTarget : int32_t {
  LT_MAIN = 0,           // main log only
  LT_VERBOSE = 1,        // verbose log, with source-location prefix
  LT_VERBOSE_NOLOC = 2,  // verbose log, without location
  LT_BOTH = 3,           // main log, and verbose log with source-location prefix
  LT_BOTH_NOLOC = 4,     // main log, and verbose log without location
};

// How a message is marked.
enum LogSeverity : int32_t {
  LS_NONE = 0,
  LS_WARNING = 1,  // "**WARNING** - "
  LS_ERROR = 2,    // "**ERROR** - "
  LS_CRITICAL = 3  // "**CRITICAL** - "
};

// Results of Open and Close, and the status of a log whose folder is too long.
constexpr int32_t kLogCloseFailed = 102;
constexpr int32_t kLogOpenFailed = 103;
constexpr uint32_t kLogFolderTooLong = 104;

constexpr size_t kLogFolderChars = 260;
constexpr size_t kLogNameChars = 256;

// One log file: the path is folder and name joined directly (the folder ends in a backslash).
struct LogFileEntry {
  wchar_t folder[kLogFolderChars];
  wchar_t name[kLogNameChars];
  uint32_t open;  // 1 once the file has been opened
  tal::os::FileHandle handle;
};

class CCmpLog {
 public:
  // Name and folder of the verbose log; null or empty takes the defaults (a unique "_KZ" name in
  // "%systemdrive%\talsystem\log\").
  explicit CCmpLog(const wchar_t *name = nullptr, const wchar_t *folder = nullptr);
  ~CCmpLog();  // not virtual: see DeletingDestructor
  CCmpLog(const CCmpLog &) = delete;
  CCmpLog &operator=(const CCmpLog &) = delete;

  // --- the virtual table shared with the host, in slot order ---
  // Slot 0: destroys the object, and frees it when bit 0 of flags is set; returns this.
  virtual void *DeletingDestructor(unsigned flags);
  // Slot 1: opens the verbose file (verbose mode) and the main file; 0, or 103.
  virtual int32_t Open();
  // Slot 2: closes the open files; 0, or 102 when a close failed.
  virtual int32_t Close();
  // Slot 3: the session header on both files.
  virtual void WriteHeader();
  // Slot 4: a message (wide printf format, wide strings as %ls) to the files the target selects.
  virtual void Write(LogTarget target, LogSeverity severity, const wchar_t *source, int32_t line,
                     const wchar_t *format, ...);
  // Slot 5: the session footer with the return code on both files.
  virtual void WriteFooter(int32_t returnCode);
  // Slot 6: verbose mode; must be set before Open for the verbose file to be opened.
  virtual void SetVerbose(uint32_t flag);

  // --- non-virtual members (they read the fields directly, also on a host's object) ---
  // Moves the verbose log to folder + name (the folder ends in a backslash), or merges it into a
  // file that exists there.
  void MoveVerboseLog(const wchar_t *newName, const wchar_t *newFolder);
  uint32_t IsVerbose() const { return verbose_; }
  // Entry 1 (the verbose log): its folder and name, "" when there is no such entry.
  const wchar_t *GetVerboseFolder() const;
  const wchar_t *GetVerboseName() const;
  // 0, or 104 when a folder was too long.
  uint32_t GetStatus() const { return status_; }
  // The stub-version text shown in the verbose header (not owned; null shows an empty text).
  void SetStubVersion(const wchar_t *text) { stubVersion_ = text; }
  // The entries (0 main, 1 verbose), for tests and diagnostics.
  const std::vector<LogFileEntry> &Entries() const { return entries_; }

 private:
  bool OpenEntry(LogFileEntry &entry);
  static void Append(LogFileEntry &entry, const std::wstring &text);

  const wchar_t *stubVersion_ = nullptr;
  uint32_t status_ = 0;
  std::vector<LogFileEntry> entries_;
  uint32_t verbose_ = 0;
};

static_assert(sizeof(std::vector<LogFileEntry>) == 3 * sizeof(void *),
              "the entry array must be three pointers, as in the host's log object");

// --- text and file functions beside the log ---

// "%d.%d.%d.%d" of the process executable's file version; false (and out empty) without one.
bool GetExeVersionText(CStr &out);
// Short date and 24-hour time in the system default locale, "%s %s".
CStr GetDateTimeText();
// Creates a folder and every folder above it (a path cut at each "\" and "/"); errors, such as a
// folder that exists already, are ignored.
void CreateFolderTree(const wchar_t *folder);
// Makes sure the logs may be written in a folder: each folder of the path below the system drive
// (or below the drive or root the path starts at) is made when missing (with create) and must be
// one an ordinary user can neither lead elsewhere nor change (tal::os::FolderTrust). False when
// one cannot be trusted; the first such folder is kept for UntrustedLogFolder. Without create, a
// missing folder is no reason to refuse: nothing can be opened in it.
bool SecureFolderTree(const wchar_t *folder, bool create);
// The first log folder that could not be trusted in this process, with the reason in plain words
// ("C:\talsystem\log is a link or reparse point"); empty when there was none.
const std::wstring &UntrustedLogFolder();
void ResetUntrustedLogFolder();
// Removes trailing spaces, tabs, carriage returns and line feeds in place.
void TrimTrailingBlanks(wchar_t *text);
// Position of the first occurrence of `what` in `text`, ignoring the case of ASCII letters; -1
// when there is none, or when `what` is empty or longer than `text`.
int FindNoCase(const wchar_t *text, const wchar_t *what);
// Allocates a console with a 500-line screen buffer and binds the standard streams to it.
void OpenConsoleOutput();
// The file name and extension of a path (after its last "\" or "/").
const wchar_t *FileNamePart(const wchar_t *path);
