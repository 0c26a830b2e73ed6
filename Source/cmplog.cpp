#include "cmplog.h"

#include <cstdlib>
#include <cwchar>
#include <new>

using tal::os::sys;

namespace {

const wchar_t kDefaultFolder[] = L"%systemdrive%\\talsystem\\log\\";
const wchar_t kMainName[] = L"talsetup.log";
const wchar_t kRule[] =
    L"===========================================================================";

const wchar_t *SeverityPrefix(LogSeverity severity) {
  switch (severity) {
    case LS_WARNING:
      return L"**WARNING** - ";
    case LS_ERROR:
      return L"**ERROR** - ";
    case LS_CRITICAL:
      return L"**CRITICAL** - ";
    default:
      return L"";
  }
}

std::wstring Format(const wchar_t *format, ...) {
  std::wstring out;
  va_list args;
  va_start(args, format);
  FormatWideV(out, format, args);
  va_end(args);
  return out;
}

// Fills an entry; false when the folder does not fit its field.
bool MakeEntry(LogFileEntry &entry, const std::wstring &folder, const std::wstring &name) {
  entry = LogFileEntry{};
  if (folder.size() + 1 > kLogFolderChars || name.size() + 1 > kLogNameChars) return false;
  CopyTruncated(entry.folder, kLogFolderChars, folder.c_str());
  CopyTruncated(entry.name, kLogNameChars, name.c_str());
  entry.open = 0;
  entry.handle = tal::os::kInvalidFile;
  return true;
}

// The default verbose name: a "_KZ" temp name in "." with a random unique number, split into name
// and extension and joined again with "%s.%s" (the extension keeps its dot, as the split gives it).
std::wstring UniqueVerboseName() {
  std::srand(static_cast<unsigned>(sys().wallClockSeconds()));
  unsigned unique = static_cast<unsigned>(std::rand()) % 0xFFFFu + 1;  // non-zero: name only
  std::wstring path = sys().tempFileName(L".", L"_KZ", unique);
  std::wstring file = FileNamePart(path.c_str());
  std::wstring base = file, ext;
  size_t dot = file.rfind(L'.');
  if (dot != std::wstring::npos) {
    base = file.substr(0, dot);
    ext = file.substr(dot);
  }
  return Format(L"%ls.%ls", base.c_str(), ext.c_str());
}

}  // namespace

CCmpLog::CCmpLog(const wchar_t *name, const wchar_t *folder) {
  std::wstring mainFolder = sys().expandEnvironment(kDefaultFolder);
  LogFileEntry entry;
  if (!MakeEntry(entry, mainFolder, kMainName)) {
    status_ = kLogFolderTooLong;
    return;
  }
  entries_.push_back(entry);

  std::wstring verboseFolder = sys().expandEnvironment(folder && *folder ? folder : kDefaultFolder);
  if (verboseFolder.size() + 1 > kLogFolderChars) {
    status_ = kLogFolderTooLong;
    return;
  }
  std::wstring verboseName = name && *name ? std::wstring(name) : UniqueVerboseName();
  // A name longer than its field is cut to fit: the log still works under the shorter name.
  if (verboseName.size() + 1 > kLogNameChars) verboseName.resize(kLogNameChars - 1);
  MakeEntry(entry, verboseFolder, verboseName);
  entries_.push_back(entry);
}

CCmpLog::~CCmpLog() {
  // A file still open is closed here, so that no handle outlives the object.
  for (LogFileEntry &entry : entries_) {
    if (entry.open) sys().closeFile(entry.handle);
    entry.open = 0;
  }
}

void *CCmpLog::DeletingDestructor(unsigned flags) {
  this->CCmpLog::~CCmpLog();
  if (flags & 1) ::operator delete(this);
  return this;
}

bool CCmpLog::OpenEntry(LogFileEntry &entry) {
  if (entry.open) return true;
  // A folder an ordinary user made, owns or replaced with a link receives nothing.
  if (!SecureFolderTree(entry.folder, true)) return false;
  std::wstring path = std::wstring(entry.folder) + entry.name;
  tal::os::FileHandle handle = sys().openShared(path);
  if (handle == tal::os::kInvalidFile) return false;
  entry.handle = handle;
  entry.open = 1;
  return true;
}

int32_t CCmpLog::Open() {
  if (verbose_ && entries_.size() > 1 && !OpenEntry(entries_[1])) return kLogOpenFailed;
  if (!entries_.empty() && !OpenEntry(entries_[0])) return kLogOpenFailed;
  return 0;
}

int32_t CCmpLog::Close() {
  int32_t result = 0;
  for (size_t i = entries_.size(); i-- > 0;) {  // verbose file first, then the main file
    LogFileEntry &entry = entries_[i];
    if (!entry.open) continue;
    if (!sys().closeFile(entry.handle)) result = kLogCloseFailed;
    entry.open = 0;
    entry.handle = tal::os::kInvalidFile;
  }
  return result;
}

void CCmpLog::Append(LogFileEntry &entry, const std::wstring &text) {
  if (text.empty()) return;
  std::string bytes = sys().toAnsi(text);
  sys().appendFile(entry.handle, bytes.data(), bytes.size());  // write errors are ignored
}

void CCmpLog::Write(LogTarget target, LogSeverity severity, const wchar_t *source, int32_t line,
                    const wchar_t *format, ...) {
  std::wstring time = sys().localTimeText();
  std::wstring message;
  va_list args;
  va_start(args, format);
  bool formatted = FormatWideV(message, format, args);
  va_end(args);
  if (!formatted || message.empty()) return;

  bool toMain = target == LT_MAIN || target == LT_BOTH || target == LT_BOTH_NOLOC;
  if (toMain && !entries_.empty() && entries_[0].open) {
    Append(entries_[0], SeverityPrefix(severity) + message);
  }
  bool toVerbose = target >= LT_VERBOSE && target <= LT_BOTH_NOLOC;
  if (toVerbose && verbose_ && entries_.size() > 1 && entries_[1].open) {
    std::wstring prefix;
    if (target == LT_VERBOSE || target == LT_BOTH) {
      if (severity >= LS_NONE && severity <= LS_CRITICAL) {
        prefix = Format(L"[%ls]::%ls[%d] %ls", time.c_str(), FileNamePart(source), line,
                        SeverityPrefix(severity));
      }
    } else {
      prefix = SeverityPrefix(severity);
    }
    Append(entries_[1], prefix + message);
  }
}

void CCmpLog::WriteHeader() {
  std::wstring date =
      Format(L"%ls %ls", sys().localShortDateText().c_str(), sys().localTimeText().c_str());
  std::wstring exe = sys().executablePath();
  std::wstring source = FileNamePart(exe.c_str());
  CStr version;
  GetExeVersionText(version);
  const wchar_t *stub = stubVersion_ ? stubVersion_ : L"";
  if (verbose_ && entries_.size() > 1 && entries_[1].open) {
    Append(entries_[1], Format(L"%ls\r\nSource:          %ls\r\nVersion:         %ls\r\n"
                               L"Stub Version:    %ls\r\nLog Date:        %ls\r\n\r\n"
                               L"Verbose Log Session Start ...\r\n\r\n",
                               kRule, source.c_str(), version.c_str(), stub, date.c_str()));
  }
  if (!entries_.empty() && entries_[0].open) {
    Append(entries_[0], Format(L"%ls\r\nSource:          %ls\r\nVersion:         %ls\r\n"
                               L"Log Date:        %ls\r\n\r\nLog Session Start...\r\n\r\n",
                               kRule, source.c_str(), version.c_str(), date.c_str()));
  }
}

void CCmpLog::WriteFooter(int32_t returnCode) {
  std::wstring text = Format(L"\r\n\r\nLog Session End. [%ls]\r\nReturn Code (%d)\r\n%ls\r\n\r\n",
                             sys().localTimeText().c_str(), returnCode, kRule);
  if (verbose_ && entries_.size() > 1 && entries_[1].open) Append(entries_[1], text);
  if (!entries_.empty() && entries_[0].open) Append(entries_[0], text);
}

void CCmpLog::SetVerbose(uint32_t flag) { verbose_ = flag; }

const wchar_t *CCmpLog::GetVerboseFolder() const {
  return entries_.size() > 1 ? entries_[1].folder : L"";
}

const wchar_t *CCmpLog::GetVerboseName() const {
  return entries_.size() > 1 ? entries_[1].name : L"";
}

void CCmpLog::MoveVerboseLog(const wchar_t *newName, const wchar_t *newFolder) {
  if (!newName || !*newName || entries_.size() < 2) return;
  LogFileEntry &entry = entries_[1];
  std::wstring name = newName, folder = newFolder ? newFolder : L"";
  if (name.size() + 1 > kLogNameChars || folder.size() + 1 > kLogFolderChars) return;
  // Windows matches paths ignoring case: a path that differs only in case is the same file, and
  // merging a file into itself would delete it.
  if (CompareNoCase(name.c_str(), entry.name) == 0 &&
      CompareNoCase(folder.c_str(), entry.folder) == 0) {
    return;
  }
  std::wstring newPath = folder + name;
  std::wstring oldPath = std::wstring(entry.folder) + entry.name;
  // The same file spelt another way ("C:/x" for "C:\\x", a short name, a link): merging it into
  // itself would delete it. Files are compared by identity, not by name.
  if (sys().sameFile(oldPath, newPath)) return;

  if (!sys().pathExists(newPath)) {
    if (entry.open) sys().closeFile(entry.handle);
    entry.open = 0;
    entry.handle = tal::os::kInvalidFile;
    if (SecureFolderTree(folder.c_str(), true) && sys().renameFile(oldPath, newPath)) {
      CopyTruncated(entry.folder, kLogFolderChars, folder.c_str());
      CopyTruncated(entry.name, kLogNameChars, name.c_str());
    }
    // The handle follows the entry: the new file when the rename went through, else the old one,
    // which still holds the log (writing on at the new path would leave the entry naming a file
    // that no longer receives the messages, and a later merge would delete it uncopied).
    if (verbose_) {  // the verbose file is open only in verbose mode, as Open has it
      tal::os::FileHandle handle = sys().openShared(std::wstring(entry.folder) + entry.name);
      if (handle != tal::os::kInvalidFile) {
        entry.handle = handle;
        entry.open = 1;
      }
    }
    return;
  }

  // A file exists there: the old log's text is appended to it and the old file goes away.
  if (!entry.open || !SecureFolderTree(folder.c_str(), false)) return;
  tal::os::FileHandle target = sys().openShared(newPath);
  if (target == tal::os::kInvalidFile) return;
  std::string content;
  if (!sys().readWholeFile(entry.handle, content) || content.empty() ||
      !sys().appendFile(target, content.data(), content.size())) {
    sys().closeFile(target);  // keep the old file: nothing is deleted that was not copied
    return;
  }
  sys().closeFile(entry.handle);
  sys().deleteFile(oldPath);
  entry.handle = target;
}

// --- text and file functions ---

const wchar_t *FileNamePart(const wchar_t *path) {
  if (!path) return L"";
  const wchar_t *name = path;
  for (const wchar_t *p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  return name;
}

bool GetExeVersionText(CStr &out) {
  out.Empty();
  tal::os::FileVersion version;
  if (!sys().fileVersion(sys().executablePath(), version)) return false;
  out = CStr::Format(L"%d.%d.%d.%d", version.part[0], version.part[1], version.part[2],
                     version.part[3]);
  return true;
}

CStr GetDateTimeText() {
  return CStr::Format(L"%ls %ls", sys().localShortDateText().c_str(),
                      sys().localTimeText().c_str());
}

void CreateFolderTree(const wchar_t *folder) {
  if (!folder || !*folder) return;
  std::wstring path = folder;
  size_t start = (path.size() >= 2 && path[1] == L':') ? 2 : 0;  // the drive, "C:"
  for (size_t i = start + 1; i < path.size(); ++i) {
    if (path[i] == L'\\' || path[i] == L'/') sys().createDirectory(path.substr(0, i));
  }
  wchar_t last = path.back();
  if (path.size() > start && last != L'\\' && last != L'/') sys().createDirectory(path);
}

namespace {
// Built on first use: the plug-in's component (and its log) may be made while the library's
// static objects are still being constructed.
std::wstring &untrustedLogFolder() {
  static std::wstring folder;
  return folder;
}

bool StartsWithNoCase(const std::wstring &text, const std::wstring &prefix) {
  return !prefix.empty() && text.size() >= prefix.size() &&
         CompareNoCase(text.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0;
}
}  // namespace

bool SecureFolderTree(const wchar_t *folder, bool create) {
  if (!folder || !*folder) return true;  // the current folder: nothing is made
  const std::wstring path = folder;
  // The folders checked are those below the drive: the system drive's folder, a drive letter,
  // or the root of the current drive. The drive itself belongs to the system.
  const std::wstring drive = sys().expandEnvironment(L"%SystemDrive%");
  size_t start = 0;
  if (drive != L"%SystemDrive%" && StartsWithNoCase(path, drive) &&
      (path.size() == drive.size() || path[drive.size()] == L'\\' || path[drive.size()] == L'/')) {
    start = drive.size();
  } else if (path.size() >= 2 && path[1] == L':') {
    start = 2;
  }
  for (size_t i = start + 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
    if (path[i - 1] == L'\\' || path[i - 1] == L'/') continue;  // "\\" or the trailing one
    const std::wstring part = path.substr(0, i);
    const tal::os::FolderTrust trust = sys().secureFolder(part, create);
    if (trust == tal::os::FolderTrust::kTrusted) continue;
    // A folder that is not there and was not to be made leads nowhere: opening a file in it
    // fails by itself.
    if (trust == tal::os::FolderTrust::kMissing && !create) return true;
    if (untrustedLogFolder().empty())
      untrustedLogFolder() = part + L" " + tal::os::fromUtf8(tal::os::folderTrustText(trust));
    return false;
  }
  return true;
}

const std::wstring &UntrustedLogFolder() { return untrustedLogFolder(); }

void ResetUntrustedLogFolder() { untrustedLogFolder().clear(); }

void TrimTrailingBlanks(wchar_t *text) {
  if (!text) return;
  size_t length = std::wcslen(text);
  while (length > 0) {
    wchar_t c = text[length - 1];
    if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n') break;
    text[--length] = L'\0';
  }
}

int FindNoCase(const wchar_t *text, const wchar_t *what) {
  if (!text || !what) return -1;
  size_t textLength = std::wcslen(text), whatLength = std::wcslen(what);
  if (whatLength == 0 || whatLength > textLength) return -1;
  for (size_t i = 0; i + whatLength <= textLength; ++i) {
    size_t j = 0;
    while (j < whatLength && FoldAscii(text[i + j]) == FoldAscii(what[j])) ++j;
    if (j == whatLength) return static_cast<int>(i);
  }
  return -1;
}

void OpenConsoleOutput() { sys().attachConsole(500); }
