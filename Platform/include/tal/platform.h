// The operating-system seam. Every call the system makes into the operating system goes through
// one Platform object: files and folders, environment expansion, the process command line, the
// module's own path and the current folder, file versions, time texts, the calendar clock, sleeps
// and the monotonic clock, the console, the SMBIOS
// table, the channel library and the timer resolution.
//
// Two backends implement it: win32/ (the real Windows calls) and native/ (Linux, with a simulated
// Windows host for what Linux lacks). Tests install a fake (tal::os::FakePlatform, fake/) that
// records sleeps instead of sleeping and lets a test choose the command line, the SMBIOS table and
// the channel library.
//
// Text conventions: wide strings (std::wstring) are UTF-16 on Windows and UTF-32 on Linux; narrow
// strings are in the ANSI code page (UTF-8 on native). Paths may be written Windows-style
// ("C:\\talsystem\\log\\", "\\talsystem\\log\\Verbose.log"); the native backend maps them (a drive
// prefix and a path from the root of the current drive go to the drive root: $SYSTEMDRIVE when it
// is set, else a folder in the user's state folder, never "/"; backslashes become slashes).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace tal::os {

// An open file of the framework's log (shared for reading and writing, writes go to the end).
using FileHandle = void *;
constexpr FileHandle kInvalidFile = nullptr;

// The six functions of the management processor's channel library, with the C signatures both
// platforms use (uintptr_t for the pointer-sized arguments). A function the library does not
// export answers as a failed call (status 0xFFFFFFFF, received 0, message null).
class ChannelLibrary {
 public:
  virtual ~ChannelLibrary() = default;
  virtual uint32_t initialize(uintptr_t arg) = 0;
  virtual uint32_t create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                          uint32_t recvCount, uint32_t recvSize, uint32_t flags,
                          void *reserved) = 0;
  virtual uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                        uintptr_t reserved) = 0;
  virtual uint32_t recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                        uint32_t *wait) = 0;
  virtual uint32_t close(void *handle) = 0;
  virtual const char *statusMessage(uint32_t status) = 0;
};

// Name of the channel library as the engine loads it ("TalCi.dll"; native: "libTalCi.so").
extern const wchar_t *const kChannelLibraryName;

// The channel capture of this run (TAL_CHANNEL_RECORD): the file named, empty when none; and
// why it is not being written, empty while it is.
struct ChannelCapture {
  std::wstring path;
  std::string failure;
};

// File version from a version resource: major, minor, build, revision.
struct FileVersion {
  uint16_t part[4] = {0, 0, 0, 0};
};

// The running system as the operating-system check asks about it. The defaults are what the
// native host is without a machine description: a plain 64-bit Windows Server (NT platform,
// AMD64, version 10.0, standard server).
struct SystemIdentity {
  uint32_t platformId = 2;    // dwPlatformId of GetVersionExW (2: NT)
  uint16_t architecture = 9;  // wProcessorArchitecture of the native system information (9: AMD64)
  uint32_t major = 10;        // the true version (RtlGetNtVersionNumbers, else GetVersion)
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t productType = 7;  // GetProductInfo (7: PRODUCT_STANDARD_SERVER; 0: none obtained)
  bool serverR2 = false;     // GetSystemMetrics(SM_SERVERR2) != 0
  // The version the plain query (GetVersionExW) reports: without a supportedOS manifest in the
  // process, Windows caps it at 6.2. Native: the true version unless the description says other.
  uint32_t reportedMajor = 10;
  uint32_t reportedMinor = 0;
  // The installed service pack: wServicePackMajor of the version query (0: none).
  uint32_t servicePackMajor = 0;
  // The system's kernel library as loaded by full path (the system folder + "\\kernel32.dll");
  // filled also when the load fails.
  std::wstring kernelPath = L"C:\\Windows\\system32\\kernel32.dll";
  bool nativeInfoFound = true;   // GetNativeSystemInfo is exported (else GetSystemInfo answered)
  bool productInfoFound = true;  // GetProductInfo is exported (looked up only above major 5)
};

// Where the channel library was loaded from, or where it was looked for. The library is loaded
// only by full path from places an ordinary user cannot write: on Windows the system folder, the
// plug-in's own folder and the PATH folders that only administrators (or the system, or the
// account running the setup) own and may write, never the current folder; natively the dynamic
// loader's own search (which never looks in the current folder unless LD_LIBRARY_PATH says so).
struct ChannelLibrarySearch {
  std::wstring loaded;      // full path of the library loaded; empty when none was
  bool hasVersion = false;  // the loaded file's version, when it carries one
  FileVersion version;
  std::vector<std::wstring> lookedIn;    // each place looked in, in order
  std::vector<std::wstring> passedOver;  // each place not looked in, with the reason
  std::wstring failure;                  // the loader's own words when nothing was loaded
};

// Result of reading a whole existing file.
enum class ReadResult { kOk, kCannotOpen, kCannotRead };

// Whether a folder the plug-ins write in (their logs, their staging) can be trusted: an ordinary
// user of the machine must not be able to lead the writes of an administrator's setup program
// elsewhere (a link in the folder's place) or change what is in it.
enum class FolderTrust {
  kTrusted,       // a real folder, owned by an administrator, the system or the account the
                  // process runs as, in which no other account may create, change or delete
  kMissing,       // there is nothing at the path (and it was not to be made, or could not be)
  kLink,          // a symbolic link, junction or other reparse point
  kNotFolder,     // something else than a folder
  kForeignOwner,  // owned by another account
  kOpenToOthers,  // other accounts may write in it
  kUnknown,       // its owner or access list could not be read
};

// Plain words for a trust answer ("is a link or reparse point"), for logs and result texts.
const char *folderTrustText(FolderTrust trust);

class Platform {
 public:
  virtual ~Platform() = default;

  // --- files and folders (paths are wide; Windows-style paths are mapped on native) ---
  // Creates one folder; false when it could not be created (an existing folder also gives false).
  virtual bool createDirectory(const std::wstring &path) = 0;
  // True when something exists at the path (file or folder).
  virtual bool pathExists(const std::wstring &path) = 0;
  // True when a regular file (not a folder) exists at the path.
  virtual bool isRegularFile(const std::wstring &path) = 0;
  // Opens the file for reading and writing, shared for reading and writing, creating it when it
  // does not exist; never truncates. A link or reparse point at the path is not followed: the
  // open fails. kInvalidFile on failure.
  virtual FileHandle openShared(const std::wstring &path) = 0;
  // Appends the bytes at the current end of the file. False on a write error.
  virtual bool appendFile(FileHandle file, const void *data, size_t size) = 0;
  // Reads the whole file from its start into out. False on a read error.
  virtual bool readWholeFile(FileHandle file, std::string &out) = 0;
  // Closes the handle. False when the close failed.
  virtual bool closeFile(FileHandle file) = 0;
  virtual bool renameFile(const std::wstring &from, const std::wstring &to) = 0;
  virtual bool deleteFile(const std::wstring &path) = 0;
  // Reads a whole existing regular file, opened for reading and sharing read access (never
  // created). kCannotOpen: missing, a folder, or no access; kCannotRead: a read error or more
  // than maxBytes bytes (out is then empty).
  virtual ReadResult readExistingFile(const std::wstring &path, std::string &out,
                                      size_t maxBytes) = 0;
  // Names (not paths) of the regular files in a folder (empty: the current directory) that match
  // a pattern with '*' and '?' (case-insensitive, as Windows matches), in the order the file
  // system returns them.
  virtual std::vector<std::wstring> findFiles(const std::wstring &folder,
                                              const std::wstring &pattern) = 0;
  // Opens a file with the C runtime (the engine's log, its report and the firmware images use
  // the standard stream functions). The narrow path is mapped like the wide ones. A mode that
  // writes ('w', 'a' or '+') never follows a link or reparse point at the path: the open fails.
  virtual FILE *openStream(const char *path, const char *mode) = 0;
  // The path as the operating system takes it (identity on Windows).
  virtual std::string nativePath(const std::string &path) = 0;
  virtual std::wstring nativePath(const std::wstring &path) = 0;
  // True when both paths name one existing file, however each is spelt (case, separators, a
  // short name, a link): Windows compares the volume serial number and the file index, native the
  // device and the inode. False when either cannot be opened.
  virtual bool sameFile(const std::wstring &a, const std::wstring &b) = 0;
  // Checks one folder before the plug-in writes in it (see FolderTrust). With create, a missing
  // folder is made first, with an access list that lets only administrators and the system write
  // in it (native: mode 0755), and then checked like any other. The folder itself is examined,
  // never what a link in its place leads to.
  virtual FolderTrust secureFolder(const std::wstring &path, bool create) = 0;

  // --- environment ---
  // Expands %VAR% references (names compared ignoring case); unknown names stay as written.
  // Native: SYSTEMDRIVE ("C:"), SYSTEMROOT and WINDIR ("C:\\Windows"), PROGRAMFILES
  // ("C:\\Program Files"), ALLUSERSPROFILE and PROGRAMDATA ("C:\\ProgramData"), TEMP and TMP
  // ($TMPDIR or
  // "/tmp") have defaults when the environment lacks them, as every Windows process has them.
  virtual std::wstring expandEnvironment(const std::wstring &text) = 0;
  // GetTempFileNameW: a name "<folder>\\<prefix><hex unique>.TMP" (unique 0 lets the system
  // choose and creates the file; non-zero only forms the name). Empty on failure.
  virtual std::wstring tempFileName(const std::wstring &folder, const std::wstring &prefix,
                                    unsigned unique) = 0;

  // --- process ---
  // The process command line as one string; false when it is not available.
  virtual bool commandLine(std::wstring &out) = 0;
  // The process command line split into arguments (the program path first); false on failure.
  virtual bool commandLineArguments(std::vector<std::wstring> &out) = 0;
  // Full path of this module (the plug-in library), and of the process's executable.
  virtual std::wstring modulePath() = 0;
  virtual std::wstring executablePath() = 0;
  // The process's current folder; empty when it cannot be read.
  virtual std::wstring currentDirectory() = 0;
  // The fixed file version of a file's version resource; false when it has none. Native files
  // have no version resource: there the version is the text "major.minor.build.revision" (one
  // to four parts, each 0 to 65535) of a file "<file>.version" beside the file, which the build
  // writes for its programs (tal_version_file in Platform/CMakeLists.txt).
  virtual bool fileVersion(const std::wstring &path, FileVersion &out) = 0;

  // --- text conversion (ANSI code page; UTF-8 on native) ---
  virtual std::string toAnsi(const std::wstring &text) = 0;
  virtual std::wstring fromAnsi(const std::string &text) = 0;
  // The wide text of bytes in the Japanese double-byte code page (932) as the system converts it,
  // whatever the process locale; a sequence the code page does not define gives the code page's
  // default character (U+30FB). Native: iconv's CP932.
  virtual std::wstring fromCodePage932(const std::string &bytes) = 0;

  // --- time ---
  // Local time, 24-hour form without a time marker, in the system default locale ("13:05:09").
  virtual std::wstring localTimeText() = 0;
  // Local date in the system default locale's short date form (native: the C locale's
  // "mm/dd/yy").
  virtual std::wstring localShortDateText() = 0;
  // The calendar clock: seconds since 1970-01-01 00:00:00 UTC, as the C runtime's time() counts.
  virtual int64_t wallClockSeconds() = 0;
  // One wallClockSeconds() value broken down in UTC, or in the local time zone (local); false
  // when it cannot be converted.
  virtual bool calendarTime(int64_t seconds, bool local, std::tm &out) = 0;
  virtual void sleepMs(uint32_t ms) = 0;
  // Monotonic milliseconds (advanced by the fake's sleeps).
  virtual uint64_t monotonicMs() = 0;
  // Makes every sleep last what it says for a while (Windows: timeBeginPeriod(1) ... end).
  // Calls nest; each begin needs one end.
  virtual void beginPreciseSleeps() = 0;
  virtual void endPreciseSleeps() = 0;

  // --- console ---
  // Allocates a console with a screen buffer of the given number of lines and binds the runtime's
  // standard streams to it, unbuffered.
  virtual void attachConsole(int lines) = 0;

  // --- system information ---
  // The system's identity; false when the system's kernel library cannot be loaded (the
  // operating-system check then fails). Native: the "os" object of the machine description
  // (TAL_MACHINE) overrides the defaults key by key: "platform_id", "architecture", "major",
  // "minor", "build", "product_type", "reported_major", "reported_minor", "service_pack"
  // (numbers) and "server_r2" (true or false).
  virtual bool systemIdentity(SystemIdentity &out) = 0;
  // Bytes free for the caller on the volume that holds the path (GetDiskFreeSpaceExW); false
  // when the path's volume cannot be queried. Native: "disk": {"free_bytes": N} of the machine
  // description when given, else statvfs of the mapped path.
  virtual bool freeDiskBytes(const std::wstring &path, uint64_t &out) = 0;
  // The computer model: the Model property of the first Win32_ComputerSystem instance read
  // through WMI (namespace ROOT\\CIMV2, a WQL query); false when COM, the connection, the query
  // or the property read fails. Native: the text "computer_model" of the machine description;
  // without it the query fails.
  virtual bool computerModel(std::wstring &out) = 0;
  // Opens a file with its associated program (the shell's "open" verb, no parameters, the window
  // hidden) in a working folder (empty: the current one); false when the shell reports a failure.
  // Native: succeeds when the file exists, and opens nothing.
  virtual bool shellOpen(const std::wstring &file, const std::wstring &folder) = 0;

  // --- firmware tables ---
  // What GetSystemFirmwareTable('RSMB', 0, ...) returns: the 8-byte raw header (bytes 4 to 7 the
  // table length) then the table. Empty when there is none. Native: the bytes of the file named
  // by TAL_SMBIOS_TABLE as they are (when the variable is set, nothing else is read, and a
  // missing file gives empty); else /sys/firmware/dmi/tables/DMI behind a header made for it.
  // The bytes are outside data: the reader checks the header's length against the size.
  virtual std::vector<uint8_t> rawSmbiosTable() = 0;

  // --- the management processor's channel library ---
  // Presence test: finds the library in a trusted place and loads it by full path (it stays
  // loaded for the functions below). False when no trusted place holds a loadable library.
  virtual bool channelLibraryPresent() = 0;
  // What the last presence test found, and where it looked (empty before any).
  virtual ChannelLibrarySearch channelLibrarySearch() { return ChannelLibrarySearch(); }
  // The library's functions, each bound on its first call.
  virtual ChannelLibrary &channelLibrary() = 0;
  // The channel capture's state (tal/capture.h); none unless the backend records.
  virtual ChannelCapture channelCapture() { return ChannelCapture(); }
};

// The current platform: the backend of this build unless a test installed another.
Platform &sys();
// Installs a platform (tests); nullptr restores the built-in backend. Not owned.
void setPlatform(Platform *platform);
// The built-in backend of this build.
Platform &defaultPlatform();

// Small helpers on top of the seam.
// Wide <-> UTF-8 without going through the ANSI code page (JSON, simulator, tests). Invalid
// sequences (stray bytes, lone surrogates, overlong forms) become U+FFFD.
std::string toUtf8(const std::wstring &text);
std::wstring fromUtf8(const std::string &text);

// The one-string form of a command line: the arguments joined with spaces, each one that is
// empty or holds a blank or a double quote written in double quotes, so that splitCommandLine
// (and Windows' CommandLineToArgvW) gives the same arguments back.
std::wstring joinCommandLine(const std::vector<std::wstring> &args);
// Splits a command line as CommandLineToArgvW does (the first argument, the program, ends at the
// first blank or at its closing quote; then backslashes before a quote and "" inside quotes
// follow the runtime's rules).
std::vector<std::wstring> splitCommandLine(const std::wstring &line);

// True when a file name matches a pattern with '*' (any run) and '?' (one character), ignoring
// letter case as Windows does; a pattern ending in ".*" also matches a name without a dot
// ("kz.*" matches "kz").
bool matchesPattern(const std::wstring &name, const std::wstring &pattern);

}  // namespace tal::os
