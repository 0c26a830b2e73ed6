// CInf: the INF model (see inf.h).
#include "inf.h"

#include <cstdarg>
#include <cwchar>
#include <initializer_list>
#include <set>
#include <system_error>

#include "tal/platform.h"

using tal::os::InfLine;
using tal::os::setup;
using tal::os::sys;
namespace winerr = tal::os::winerr;

namespace {

const wchar_t kSource[] = L"inf.cpp";

// State shared by all CInf objects.
struct SharedQueueState {
  bool queueError = false;
  bool ignoreDeleteErrors = false;
  uint32_t needMediaCount = 0;
  std::vector<CStr> errorTexts;
};
SharedQueueState &shared() {
  static SharedQueueState state;
  return state;
}

constexpr uint32_t kNoOverwriteFlag = 16;  // COPYFLG_NO_OVERWRITE
constexpr uint32_t kNoOverwriteFlagAlt = 0x10000;
constexpr uint32_t kDelayedDeleteFlag = 1;
constexpr uint32_t kDelayedDeleteFlagAlt = 0x10000;

bool IsInteger(const CStr &text, long &value) {
  if (text.IsEmpty()) return false;
  wchar_t *end = nullptr;
  value = wcstol(text.c_str(), &end, 10);
  return end && *end == 0;
}

uint32_t ToUnsigned(const CStr &text) {
  wchar_t *end = nullptr;
  const unsigned long v = wcstoul(text.c_str(), &end, 0);
  return static_cast<uint32_t>(v);
}

// folder + "\" + name without doubling the separator.
CStr JoinPath(const CStr &folder, const CStr &name) {
  CStr out = folder;
  if (!out.IsEmpty() && out.str().back() != L'\\' && out.str().back() != L'/') out += L"\\";
  out += name;
  return out;
}

CStr Upper(const CStr &text) {
  std::wstring s = text.str();
  for (wchar_t &c : s)
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  return CStr(s);
}

// The texts joined.
CStr Cat(std::initializer_list<const wchar_t *> parts) {
  CStr out;
  for (const wchar_t *p : parts) out += p;
  return out;
}

bool IsAccessError(uint32_t e) {
  return e == winerr::kAccessDenied || e == winerr::kSharingViolation ||
         e == winerr::kLockViolation;
}

}  // namespace

#define INF_HERE __LINE__

CInf::CInf(const wchar_t *path, CCmpLog *log) : log_(log) {
  shared().queueError = false;
  shared().ignoreDeleteErrors = false;
  std::wstring full = path ? path : L"";
  const bool absolute = (full.size() >= 2 && full[1] == L':') ||
                        (!full.empty() && (full[0] == L'\\' || full[0] == L'/'));
  if (!full.empty() && !absolute) {
    std::wstring cwd = sys().currentDirectory();
    if (!cwd.empty()) {
      if (!cwd.empty() && cwd.back() != L'\\' && cwd.back() != L'/') cwd += L"\\";
      full = cwd + full;
    }
  }
  if (full.size() >= kFolderChars) {
    Log(LS_ERROR, INF_HERE, L"INF path is longer than %u characters, not opened: %ls\r\n",
        unsigned(kFolderChars - 1), full.c_str());
    return;
  }
  infPath = full;
  const size_t cut = full.find_last_of(L"\\/");
  sourceDir = cut == std::wstring::npos ? std::wstring() : full.substr(0, cut + 1);
  if (full.empty()) {
    Log(LS_ERROR, INF_HERE, L"No INF file given\r\n");
    return;
  }
  uint32_t error = 0;
  unsigned line = 0;
  infHandle = setup().openInf(full, error, line);
  if (!infHandle) {
    if (line)
      Log(LS_ERROR, INF_HERE, L"Cannot open INF %ls: error 0x%x at line %u\r\n", full.c_str(),
          error, line);
    else
      Log(LS_ERROR, INF_HERE, L"Cannot open INF %ls: error 0x%x\r\n", full.c_str(), error);
    return;
  }
  ReadVersion();
}

CInf::~CInf() = default;

void CInf::Log(LogSeverity severity, int32_t line, const wchar_t *format, ...) {
  if (!log_) return;
  va_list args;
  va_start(args, format);
  std::wstring text;
  const bool ok = FormatWideV(text, format, args);
  va_end(args);
  if (ok) log_->Write(LT_VERBOSE, severity, kSource, line, L"%ls", text.c_str());
}

void CInf::RecordError(const CStr &text) {
  shared().errorTexts.push_back(text);
  Log(LS_ERROR, INF_HERE, L"%ls\r\n", text.c_str());
}

bool CInf::QueueError() { return shared().queueError; }
uint32_t CInf::NeedMediaCount() { return shared().needMediaCount; }
const std::vector<CStr> &CInf::ErrorTexts() { return shared().errorTexts; }

int32_t CInf::IsOpen() { return infHandle ? 1 : 0; }

// --- reading ---

bool CInf::Lines(const wchar_t *section, std::vector<InfLine> &out) {
  out.clear();
  if (!infHandle || !section) return false;
  return infHandle->sectionLines(section, out);
}

bool CInf::SectionNames(std::vector<std::wstring> &out) {
  out.clear();
  if (!infHandle) return false;
  if (infHandle->sectionNames(out)) return true;
  Log(LS_ERROR, INF_HERE, L"The section names of %ls cannot be read\r\n", infPath.c_str());
  out.clear();
  return false;
}

bool CInf::Field(const InfLine &line, size_t index, size_t capacity, CStr &out,
                 const wchar_t *what) {
  const std::wstring *text = nullptr;
  if (index == 0) {
    if (line.hasKey) text = &line.key;
  } else if (index <= line.fields.size()) {
    text = &line.fields[index - 1];
  }
  if (!text) return false;
  if (text->size() >= capacity) {
    Log(LS_ERROR, INF_HERE, L"%ls in %ls is %u characters long, more than %u; refused\r\n", what,
        infPath.c_str(), unsigned(text->size()), unsigned(capacity - 1));
    return false;
  }
  out = *text;
  return true;
}

bool CInf::FindKeyLine(const wchar_t *section, const wchar_t *key, InfLine &out) {
  std::vector<InfLine> lines;
  if (!Lines(section, lines)) return false;
  for (InfLine &line : lines) {
    if (line.hasKey && CompareNoCase(line.key.c_str(), key) == 0) {
      out = std::move(line);
      return true;
    }
  }
  return false;
}

bool CInf::HasKeyLine(const wchar_t *section, const wchar_t *key) {
  InfLine line;
  return FindKeyLine(section, key, line);
}

bool CInf::NamesItself(const wchar_t *section) {
  // The directives whose fields name other sections; following them (and Needs / Include
  // chains) must never come back to the section being installed.
  static const wchar_t *const kDirectives[] = {
      L"CopyFiles", L"DelFiles",   L"RenFiles",   L"AddReg",       L"DelReg",
      L"BitReg",    L"Ini2Reg",    L"UpdateInis", L"ProfileItems", L"Needs",
      L"LogConfig", L"AddService", L"DelService"};
  std::vector<std::wstring> pending{section};
  std::set<std::wstring> seen;
  while (!pending.empty()) {
    const std::wstring current = pending.back();
    pending.pop_back();
    std::vector<InfLine> lines;
    if (!Lines(current.c_str(), lines)) continue;
    for (const InfLine &line : lines) {
      if (!line.hasKey) continue;
      for (const wchar_t *directive : kDirectives) {
        if (CompareNoCase(line.key.c_str(), directive) != 0) continue;
        const bool service = CompareNoCase(directive, L"AddService") == 0 ||
                             CompareNoCase(directive, L"DelService") == 0;
        for (size_t i = 0; i < line.fields.size(); ++i) {
          if (service && i != 2) continue;  // AddService=name,flags,install-section
          const std::wstring &named = line.fields[i];
          if (CompareNoCase(named.c_str(), section) == 0) {
            Log(LS_ERROR, INF_HERE,
                L"Section [%ls] of %ls names itself (through [%ls] %ls); not installed\r\n",
                section, infPath.c_str(), current.c_str(), directive);
            return true;
          }
          if (CompareNoCase(directive, L"Needs") == 0) {
            std::wstring key = Upper(named).str();
            if (seen.insert(key).second) pending.push_back(named);
          }
        }
      }
    }
  }
  return false;
}

void CInf::ReadVersion() {
  if (!infHandle) return;
  InfLine line;
  bool ok = FindKeyLine(L"Version", L"Signature", line) &&
            Field(line, 1, kVersionChars, signature, L"Signature");
  ok = ok && FindKeyLine(L"Version", L"Class", line) &&
       Field(line, 1, kVersionChars, infClass, L"Class");
  ok = ok && FindKeyLine(L"Version", L"ClassGUID", line) &&
       Field(line, 1, kVersionChars, classGuid, L"ClassGUID");
  // Without the whole list the section collections would be empty or partial, and an
  // installation would copy and register less than the INF says while answering success.
  const int32_t copies = CollectCopyFilesSections();
  const int32_t services = CollectAddServiceSections();
  const int32_t settings = CollectSoftwareSettingsSections();
  sectionsRead = copies && services && settings;
}

const wchar_t *CInf::GetSignature() { return signature.IsEmpty() ? nullptr : signature.c_str(); }
const wchar_t *CInf::GetClass() { return infClass.IsEmpty() ? nullptr : infClass.c_str(); }
const wchar_t *CInf::GetClassGuid() { return classGuid.IsEmpty() ? nullptr : classGuid.c_str(); }

int32_t CInf::CollectSections(std::vector<CStr> &out,
                              const std::function<bool(const std::wstring &)> &wanted) {
  out.clear();
  std::vector<std::wstring> names;
  if (!SectionNames(names)) return 0;
  for (const std::wstring &name : names)
    if (wanted(name)) out.push_back(name);
  return 1;
}

int32_t CInf::CollectCopyFilesSections() {
  return CollectSections(copyFilesSections, [this](const std::wstring &name) {
    return HasKeyLine(name.c_str(), L"CopyFiles");
  });
}

int32_t CInf::CollectAddServiceSections() {
  return CollectSections(addServiceSections, [this](const std::wstring &name) {
    return HasKeyLine(name.c_str(), L"AddService");
  });
}

int32_t CInf::CollectSoftwareSettingsSections() {
  return CollectSections(softwareSettingsSections, [](const std::wstring &name) {
    return name.find(L".SoftwareSettings") != std::wstring::npos;
  });
}

bool CInf::FindAddServiceLine(const wchar_t *section, InfLine &line) {
  CStr from = section ? section : L"";
  if (from.IsEmpty()) {
    if (copyFilesSections.empty()) return false;
    from = copyFilesSections.front();
  }
  return FindKeyLine(from.c_str(), L"AddService", line);
}

int32_t CInf::GetServiceName(const wchar_t *section, wchar_t *out, uint32_t size) {
  if (!out || size == 0) return 0;
  InfLine line;
  CStr name;
  if (!FindAddServiceLine(section, line) || !Field(line, 1, size, name, L"AddService name"))
    return 0;
  return CopyWhole(out, size, name.c_str()) ? 1 : 0;
}

int32_t CInf::GetServiceStartType(const wchar_t *section, uint32_t *out) {
  InfLine line;
  CStr installSection, startType;
  if (!FindAddServiceLine(section, line) ||
      !Field(line, 3, kNameChars, installSection, L"AddService install section"))
    return 0;
  if (!FindKeyLine(installSection.c_str(), L"StartType", line) ||
      !Field(line, 1, kFieldChars, startType, L"StartType"))
    return 0;
  long value = 0;
  if (!IsInteger(startType, value)) {
    wchar_t *end = nullptr;
    value = static_cast<long>(wcstoul(startType.c_str(), &end, 0));
    if (!end || *end) return 0;
  }
  if (out) *out = static_cast<uint32_t>(value);
  return 1;
}

// --- directories ---

int32_t CInf::GetDirIdPath(int32_t dirid, CStr *out) {
  // The directory ids the framework knows: an environment variable and a folder below it.
  static const struct {
    int32_t id;
    const wchar_t *variable;
    const wchar_t *suffix;
  } kDirIds[] = {
      {10, L"%SystemRoot%", L""},
      {11, L"%SystemRoot%", L"\\system32"},
      {12, L"%SystemRoot%", L"\\system32\\drivers"},
      {17, L"%SystemRoot%", L"\\inf"},
      {18, L"%SystemRoot%", L"\\help"},
      {20, L"%SystemRoot%", L"\\fonts"},
      {24, L"%SystemDrive%", L""},
      {50, L"%SystemRoot%", L"\\system"},
      {16406, L"%ALLUSERSPROFILE%", L""},
      {16407, L"%ALLUSERSPROFILE%", L"\\Start Menu\\Programs"},
      {16408, L"%ALLUSERSPROFILE%", L"\\Start Menu\\Programs\\Startup"},
      {16409, L"%ALLUSERSPROFILE%", L"\\Desktop"},
      {16415, L"%ALLUSERSPROFILE%", L"\\Favorites"},
      {16419, L"%ALLUSERSPROFILE%", L"\\Application Data"},
      {16422, L"%ProgramFiles%", L""},
      {16427, L"%ProgramFiles%", L"\\Common"},
  };
  const wchar_t *variable = nullptr;
  const wchar_t *suffix = L"";
  for (const auto &entry : kDirIds) {
    if (entry.id == dirid) {
      variable = entry.variable;
      suffix = entry.suffix;
      break;
    }
  }
  if (!variable) {
    if (out) out->Empty();
    return 0;
  }
  std::wstring value = sys().expandEnvironment(variable);
  if (value == variable) {  // the variable is not set
    if (out) out->Empty();
    return 0;
  }
  if (out) *out = value + suffix;
  return 1;
}

int32_t CInf::ReadDestinationDirs() {
  if (!destinationDirs.empty()) return 1;
  std::vector<InfLine> lines;
  if (!Lines(L"DestinationDirs", lines)) {
    Log(LS_ERROR, INF_HERE, L"%ls has no [DestinationDirs] section\r\n", infPath.c_str());
    return 0;
  }
  for (const InfLine &line : lines) {
    CStr key;
    if (!Field(line, 0, kFolderChars, key, L"DestinationDirs key")) continue;
    CStr folder;
    bool usable = true;
    for (size_t i = 1; i <= line.fields.size() && usable; ++i) {
      CStr part;
      if (!Field(line, i, kFolderChars, part, L"DestinationDirs folder")) {
        usable = false;
        break;
      }
      long id = 0;
      if (IsInteger(part, id)) {
        CStr resolved;
        if (!GetDirIdPath(static_cast<int32_t>(id), &resolved)) {
          Log(LS_WARNING, INF_HERE, L"DestinationDirs %ls: directory id %ld is not known\r\n",
              key.c_str(), id);
          usable = false;
          break;
        }
        part = resolved;
      }
      if (i > 1) folder += L"\\";
      folder += part;
    }
    if (!usable || folder.IsEmpty()) continue;
    if (folder.Length() >= kFolderChars) {
      Log(LS_ERROR, INF_HERE, L"DestinationDirs %ls: the folder is longer than %u; refused\r\n",
          key.c_str(), unsigned(kFolderChars - 1));
      continue;
    }
    destinationDirs.push_back(key);
    destinationDirs.push_back(folder);
  }
  if (destinationDirs.empty()) {
    Log(LS_ERROR, INF_HERE, L"[DestinationDirs] of %ls gives no folder\r\n", infPath.c_str());
    return 0;
  }
  return 1;
}

int32_t CInf::GetDestinationDir(const wchar_t *section, CStr *out) {
  if (destinationDirs.size() == 2) {
    if (out) *out = destinationDirs[1];
    return 1;
  }
  for (size_t i = 0; i + 1 < destinationDirs.size(); i += 2) {
    if (destinationDirs[i] == CStr(section ? section : L"")) {
      if (out) *out = destinationDirs[i + 1];
      return 1;
    }
  }
  for (size_t i = 0; i + 1 < destinationDirs.size(); i += 2) {
    if (destinationDirs[i].EqualsNoCase(L"DefaultDestDir")) {
      if (out) *out = destinationDirs[i + 1];
      return 1;
    }
  }
  Log(LS_ERROR, INF_HERE, L"No destination folder for [%ls]\r\n", section ? section : L"");
  return 0;
}

int32_t CInf::CreateDirectoryTree(const wchar_t *path) {
  if (!path || !*path) return 0;
  std::wstring folder = path;
  while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  // A drive ("C:") or the root exists.
  if (folder.size() == 2 && folder[1] == L':') return 1;
  uint32_t e = setup().createDirectory(folder);
  if (e == 0 || e == winerr::kAlreadyExists) return 1;
  if (e != winerr::kPathNotFound) {
    Log(LS_ERROR, INF_HERE, L"Cannot create folder %ls: error %u\r\n", folder.c_str(), e);
    return 0;
  }
  const size_t cut = folder.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut == 0) return 0;
  if (!CreateDirectoryTree(folder.substr(0, cut).c_str())) return 0;
  e = setup().createDirectory(folder);
  if (e == 0 || e == winerr::kAlreadyExists) return 1;
  Log(LS_ERROR, INF_HERE, L"Cannot create folder %ls: error %u\r\n", folder.c_str(), e);
  return 0;
}

int32_t CInf::EnsureFileDirectory(const wchar_t *path) {
  if (!path) return 0;
  const std::wstring file = path;
  const size_t cut = file.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return 1;  // the current folder
  return CreateDirectoryTree(file.substr(0, cut + 1).c_str());
}

int32_t CInf::CopyToTempName(const wchar_t *existing, CStr *newOut) {
  if (!existing) return 0;
  const std::wstring path = existing;
  const size_t cut = path.find_last_of(L"\\/");
  const std::wstring folder = cut == std::wstring::npos ? L"" : path.substr(0, cut + 1);
  const std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
  const size_t dot = name.find_last_of(L'.');
  const std::wstring base = dot == std::wstring::npos ? name : name.substr(0, dot);
  const std::wstring ext = dot == std::wstring::npos ? L"" : name.substr(dot);
  for (unsigned n = 1; n < 10000; ++n) {
    const std::wstring candidate = folder + base + L"~" + std::to_wstring(n) + ext;
    const uint32_t e = setup().copyFile(path, candidate, true);
    if (e == 0) {
      if (newOut) *newOut = candidate;
      return 1;
    }
    if (e != winerr::kFileExists && e != winerr::kAlreadyExists) {
      Log(LS_ERROR, INF_HERE, L"Cannot copy %ls to a temporary name: error %u\r\n", existing, e);
      return 0;
    }
  }
  return 0;
}

// --- file sections ---

bool CInf::PlainFileName(const CStr &name, const wchar_t *section) {
  const std::wstring &n = name.str();
  if (n.empty() || n.find_first_of(L"\\/:") != std::wstring::npos || n == L"." || n == L"..") {
    Log(LS_ERROR, INF_HERE, L"[%ls]: file name \"%ls\" is not a plain file name; refused\r\n",
        section, n.c_str());
    return false;
  }
  return true;
}

bool CInf::FileList(const wchar_t *section, std::vector<InfLine> &lines, CStr &folder) {
  // A file list that is not there (a misspelt name) would install nothing while the rest of the
  // installation, a service whose binary it names among it, goes ahead: it fails instead.
  if (!Lines(section, lines)) {
    Log(LS_ERROR, INF_HERE, L"File list section [%ls] of %ls is missing\r\n", section,
        infPath.c_str());
    lines.clear();
    return false;
  }
  return lines.empty() || GetDestinationDir(section, &folder);
}

int32_t CInf::EachFileLine(const wchar_t *section, FileLineHandler each) {
  std::vector<InfLine> lines;
  CStr folder;
  if (!FileList(section, lines, folder)) return 0;
  for (const InfLine &line : lines)
    if (!(this->*each)(section, line, folder)) return 0;
  return 1;
}

bool CInf::FileLineName(const wchar_t *section, const InfLine &line, const CStr &folder,
                        const wchar_t *what, CStr &name, CStr &path) {
  if (!Field(line, 1, kNameChars, name, what) || !PlainFileName(name, section)) return false;
  path = JoinPath(folder, name);
  return true;
}

uint32_t CInf::FileLineFlags(const InfLine &line, const wchar_t *what) {
  CStr text;
  return Field(line, 4, kFieldChars, text, what) ? ToUnsigned(text) : 0;
}

int32_t CInf::CopyFilesSection(const wchar_t *section) {
  return EachFileLine(section, &CInf::CopyFileLine);
}

int32_t CInf::CopyFileLine(const wchar_t *section, const InfLine &line, const CStr &folder) {
  CStr name, target;
  if (!FileLineName(section, line, folder, L"target file name", name, target)) return 0;
  if (!EnsureFileDirectory(target.c_str())) return 0;
  CStr sourceName;
  if (!Field(line, 2, kNameChars, sourceName, L"source file name") || sourceName.IsEmpty())
    sourceName = name;
  if (sourceName.str().find(L"..") != std::wstring::npos ||
      sourceName.str().find(L':') != std::wstring::npos) {
    Log(LS_ERROR, INF_HERE, L"[%ls]: source name \"%ls\" leaves the source folder; refused\r\n",
        section, sourceName.c_str());
    return 0;
  }
  CStr source = sourceDir;
  source += sourceName;
  const uint32_t flags = FileLineFlags(line, L"copy flags");
  const bool noOverwrite = flags == kNoOverwriteFlag || flags == kNoOverwriteFlagAlt;
  const uint32_t e = setup().copyFile(source.str(), target.str(), noOverwrite);
  if (e == 0) return 1;
  if (IsAccessError(e) || e == winerr::kUserMappedFile) {
    CStr temp;
    if (!CopyToTempName(source.c_str(), &temp)) return 0;
    const uint32_t m = setup().moveAtRestart(temp.str(), target.str());
    if (m != 0) {
      Log(LS_ERROR, INF_HERE, L"Cannot replace %ls at the next restart: error %u\r\n",
          target.c_str(), m);
      return 0;
    }
    Log(LS_NONE, INF_HERE, L"%ls is in use: replaced at the next restart\r\n", target.c_str());
    rebootNeeded = true;
    return 1;
  }
  if (e == winerr::kFileExists && noOverwrite) return 1;
  Log(LS_ERROR, INF_HERE, L"Copy %ls --> %ls failed: error %u\r\n", source.c_str(), target.c_str(),
      e);
  return 0;
}

int32_t CInf::DeleteFilesSection(const wchar_t *section) {
  return EachFileLine(section, &CInf::DeleteFileLine);
}

int32_t CInf::DeleteFileLine(const wchar_t *section, const InfLine &line, const CStr &folder) {
  CStr name, path;
  if (!FileLineName(section, line, folder, L"file name", name, path)) return 0;
  const uint32_t flags = FileLineFlags(line, L"delete flags");
  if (flags != kDelayedDeleteFlag && flags != kDelayedDeleteFlagAlt) {
    const uint32_t e = setup().deleteFile(path.str());
    if (e == 0 || e == winerr::kFileNotFound || e == winerr::kPathNotFound) return 1;
    if (!IsAccessError(e)) {
      Log(LS_ERROR, INF_HERE, L"Cannot delete %ls: error %u\r\n", path.c_str(), e);
      return 0;
    }
  }
  const uint32_t m = setup().moveAtRestart(path.str(), L"");
  if (m != 0) {
    Log(LS_ERROR, INF_HERE, L"Cannot delete %ls at the next restart: error %u\r\n", path.c_str(),
        m);
    return 0;
  }
  rebootNeeded = true;
  return 1;
}

int32_t CInf::RenameFilesSection(const wchar_t *section) {
  std::vector<InfLine> lines;
  CStr folder;
  if (!FileList(section, lines, folder)) return 0;
  for (const InfLine &line : lines) {
    if (line.fields.size() != 2) {
      Log(LS_ERROR, INF_HERE, L"[%ls]: a rename line needs exactly two fields, it has %u\r\n",
          section, unsigned(line.fields.size()));
      return 0;
    }
    CStr newName, oldName;
    if (!Field(line, 1, kNameChars, newName, L"new file name") ||
        !Field(line, 2, kNameChars, oldName, L"old file name"))
      return 0;
    if (!PlainFileName(newName, section) || !PlainFileName(oldName, section)) return 0;
    const CStr to = JoinPath(folder, newName), from = JoinPath(folder, oldName);
    const uint32_t e = setup().moveFile(from.str(), to.str());
    if (e == 0) continue;
    if (!IsAccessError(e)) {
      Log(LS_ERROR, INF_HERE, L"Cannot rename %ls to %ls: error %u\r\n", from.c_str(), to.c_str(),
          e);
      return 0;
    }
    const uint32_t m = setup().moveAtRestart(from.str(), to.str());
    if (m != 0) return 0;
    rebootNeeded = true;
  }
  return 1;
}

int32_t CInf::ProcessFileDirectives(const wchar_t *section, const wchar_t *directive,
                                    int32_t (CInf::*handler)(const wchar_t *),
                                    FileLineHandler single) {
  if (!ReadDestinationDirs()) return 0;
  std::vector<InfLine> lines;
  if (!Lines(section, lines)) return 1;
  int32_t result = 1;
  for (const InfLine &line : lines) {
    if (!line.hasKey || CompareNoCase(line.key.c_str(), directive) != 0) continue;
    for (size_t i = 1; i <= line.fields.size(); ++i) {
      CStr named;
      if (!Field(line, i, kFieldChars, named, directive)) {
        result = 0;
        continue;
      }
      if (named.IsEmpty()) continue;
      if (named.str()[0] != L'@') {
        if (!(this->*handler)(named.c_str())) result = 0;
        continue;
      }
      // "@file": that one file, in the destination folder of the section being installed.
      CStr folder;
      InfLine file;
      file.fields.push_back(named.str().substr(1));
      if (!single) {
        Log(LS_ERROR, INF_HERE, L"[%ls]: %ls=%ls names no section; refused\r\n", section, directive,
            named.c_str());
        result = 0;
      } else if (!GetDestinationDir(section, &folder) || !(this->*single)(section, file, folder)) {
        result = 0;
      }
    }
  }
  return result;
}

int32_t CInf::ProcessCopyFiles(const wchar_t *section) {
  return ProcessFileDirectives(section, L"CopyFiles", &CInf::CopyFilesSection, &CInf::CopyFileLine);
}
int32_t CInf::ProcessDelFiles(const wchar_t *section) {
  return ProcessFileDirectives(section, L"DelFiles", &CInf::DeleteFilesSection,
                               &CInf::DeleteFileLine);
}
int32_t CInf::ProcessRenFiles(const wchar_t *section) {
  return ProcessFileDirectives(section, L"RenFiles", &CInf::RenameFilesSection, nullptr);
}

// --- installation ---

uint32_t CInf::OnQueueNotification(uint32_t notification, const std::wstring &source,
                                   const std::wstring &target) {
  SharedQueueState &s = shared();
  switch (notification) {
    case tal::os::kQueueDeleteError:
      if (!s.ignoreDeleteErrors) {
        RecordError(Cat({L"File Delete Error: ", target.c_str()}));
        s.queueError = true;
      }
      return tal::os::kQueueSkip;
    case tal::os::kQueueCopyError:
      RecordError(Cat({L"File Copy Error: ", source.c_str(), L" --> ", target.c_str()}));
      s.queueError = true;
      return tal::os::kQueueSkip;
    case tal::os::kQueueNeedMedia:
      if (++s.needMediaCount > 1) {
        RecordError(Cat({L"Source media requested again: ", source.c_str()}));
        s.queueError = true;
        return tal::os::kQueueSkip;
      }
      return tal::os::kQueueProceed;
    case tal::os::kQueueFileOpDelayed:
      rebootNeeded = true;
      return tal::os::kQueueProceed;
    default:
      return tal::os::kQueueProceed;
  }
}

int32_t CInf::InstallFromSection(const wchar_t *section, const wchar_t *rootKey) {
  if (!infHandle || !section) return 0;
  shared().needMediaCount = 0;
  if (NamesItself(section)) return 0;
  int32_t result = ProcessCopyFiles(section);
  if (result) result = ProcessDelFiles(section);
  if (result) result = ProcessRenFiles(section);
  const uint32_t flags = tal::os::kInstallLogConfig | tal::os::kInstallIniFiles |
                         tal::os::kInstallRegistry | tal::os::kInstallIni2Reg |
                         tal::os::kInstallProfileItems;
  const uint32_t e = setup().installFromSection(
      *infHandle, section, flags, rootKey ? rootKey : L"", sourceDir.str(),
      [this](uint32_t n, const std::wstring &src, const std::wstring &dst) {
        return OnQueueNotification(n, src, dst);
      });
  if (e != 0) {
    Log(LS_ERROR, INF_HERE, L"Installing [%ls] of %ls failed: error 0x%x\r\n", section,
        infPath.c_str(), e);
    result = 0;
  }
  return result;
}

int32_t CInf::InstallServices(const wchar_t *section) {
  if (!infHandle || !section) return 0;
  if (NamesItself(section)) return 0;
  const uint32_t e = setup().installServices(*infHandle, section);
  if (e == 0 || e == winerr::kServiceExists || e == winerr::kDuplicateServiceName) return 1;
  Log(LS_ERROR, INF_HERE, L"Installing the services of [%ls] failed: error 0x%x\r\n", section, e);
  return 0;
}

int32_t CInf::InstallSoftwareSettings(const wchar_t *section) {
  if (!infHandle || !section) return 0;
  if (NamesItself(section)) return 0;
  wchar_t name[kSettingsNameChars] = {};
  if (!GetServiceName(nullptr, name, kSettingsNameChars)) {
    Log(LS_ERROR, INF_HERE, L"[%ls]: the INF names no service\r\n", section);
    return 0;
  }
  const CStr key = CStr::Format(L"System\\CurrentControlSet\\Services\\%ls\\Device%d", name, 0);
  if (uint32_t e = setup().createKey(key.str())) {
    Log(LS_ERROR, INF_HERE, L"Cannot create key %ls: error %u\r\n", key.c_str(), e);
    return 0;
  }
  const uint32_t e = setup().installFromSection(
      *infHandle, section, tal::os::kInstallRegistry, key.str(), sourceDir.str(),
      [this](uint32_t n, const std::wstring &src, const std::wstring &dst) {
        return OnQueueNotification(n, src, dst);
      });
  if (e != 0) {
    Log(LS_ERROR, INF_HERE, L"Installing software settings [%ls] failed: error 0x%x\r\n", section,
        e);
    return 0;
  }
  return 1;
}

int32_t CInf::CreateRootDevice(std::unique_ptr<tal::os::DeviceNode> *deviceSet,
                               tal::os::DevInfoData *deviceData, const wchar_t *deviceName) {
  if (!infHandle || !deviceSet || !deviceName) return 0;
  if (infClass.IsEmpty()) {
    Log(LS_ERROR, INF_HERE, L"%ls has no Class: no device node\r\n", infPath.c_str());
    return 0;
  }
  uint32_t e = 0;
  *deviceSet = setup().createRootDevice(infClass.str(), deviceName, infPath.str(), e);
  if (!*deviceSet) {
    Log(LS_ERROR, INF_HERE, L"Cannot create the device node %ls: error 0x%x\r\n", deviceName, e);
    return 0;
  }
  if (deviceData) *deviceData = (*deviceSet)->data();
  return 1;
}

int32_t CInf::InstallDeviceNode(int32_t *rebootOut) {
  wchar_t name[kServiceNameChars] = {};
  if (!GetServiceName(nullptr, name, kServiceNameChars)) return 0;
  const CStr upper = Upper(name);
  const CStr deviceName = virtualMode ? upper : Cat({L"LEGACY_", upper.c_str()});
  std::unique_ptr<tal::os::DeviceNode> node;
  tal::os::DevInfoData data;
  if (!CreateRootDevice(&node, &data, deviceName.c_str())) return 0;
  bool reboot = false;
  if (uint32_t e = node->install(reboot)) {
    Log(LS_ERROR, INF_HERE, L"Installing the device node %ls failed: error 0x%x\r\n",
        deviceName.c_str(), e);
    return 0;
  }
  if (virtualMode) {
    std::wstring id;
    if (!node->hardwareId(id)) {
      Log(LS_ERROR, INF_HERE, L"The device node %ls has no hardware id\r\n", deviceName.c_str());
      return 0;
    }
    if (setup().loadDriverUpdater() != 0) {
      Log(LS_ERROR, INF_HERE, L"The driver update function is not available\r\n");
      return 0;
    }
    bool updateReboot = false;
    const uint32_t e = setup().updateDriver(id, infPath.str(), true, updateReboot);
    setup().unloadDriverUpdater();
    if (e != 0) {
      Log(LS_ERROR, INF_HERE, L"Updating the driver of %ls failed: error 0x%x\r\n", id.c_str(), e);
      return 0;
    }
    reboot = reboot || updateReboot;
  }
  if (rebootOut && reboot) *rebootOut = 1;
  return 1;
}

// The device node InstallDeviceNode makes: "LEGACY_<SERVICE>", or in virtual mode "<SERVICE>".
// Looking for the other name would add one more device, with its driver update, on every run.
bool CInf::DeviceNodePresent(const CStr &serviceName, bool virtualKey) {
  const CStr key = Cat({L"System\\CurrentControlSet\\Enum\\Root\\", virtualKey ? L"" : L"LEGACY_",
                        Upper(serviceName).c_str(), L"\\0000"});
  return setup().keyExists(key.str());
}

int32_t CInf::CreateStartMenuItems() {
  tal::os::SystemIdentity identity;
  if (!sys().systemIdentity(identity) || identity.major != 4) return 1;
  if (copyFilesSections.empty()) return 1;
  InfLine line;
  if (!FindKeyLine(copyFilesSections.front().c_str(), L"TalStartMenuItems", line)) return 1;
  int32_t result = 1;
  for (size_t i = 1; i <= line.fields.size(); ++i) {
    CStr item;
    if (!Field(line, i, kNameChars, item, L"start menu item section")) {
      result = 0;
      continue;
    }
    CStr name, path, workDir, args, group;
    InfLine l;
    if (FindKeyLine(item.c_str(), L"Name", l)) Field(l, 1, kNameChars, name, L"Name");
    if (FindKeyLine(item.c_str(), L"Path", l)) Field(l, 1, kFolderChars, path, L"Path");
    if (FindKeyLine(item.c_str(), L"WorkingDir", l))
      Field(l, 1, kFolderChars, workDir, L"WorkingDir");
    if (FindKeyLine(item.c_str(), L"Args", l)) Field(l, 1, kFieldChars, args, L"Args");
    if (FindKeyLine(item.c_str(), L"Group", l)) Field(l, 1, kNameChars, group, L"Group");
    if (!PlainFileName(name, item.c_str()) ||
        (!group.IsEmpty() && group.str().find(L"..") != std::wstring::npos)) {
      result = 0;
      continue;
    }
    const CStr folder = JoinPath(setup().commonProgramsFolder(), group);
    if (!CreateDirectoryTree(folder.c_str())) {
      result = 0;
      continue;
    }
    const CStr link = Cat({JoinPath(folder, name).c_str(), L".lnk"});
    if (uint32_t e = setup().createShortcut(link.str(), sys().expandEnvironment(path.str()),
                                            args.str(), sys().expandEnvironment(workDir.str()))) {
      Log(LS_ERROR, INF_HERE, L"Cannot create the shortcut %ls: error 0x%x\r\n", link.c_str(), e);
      result = 0;
    }
  }
  return result;
}

int32_t CInf::InstallCommon(const wchar_t *section, int32_t *rebootOut) {
  if (!sectionsRead) {
    Log(LS_ERROR, INF_HERE, L"The sections of %ls are not known: nothing installed\r\n",
        infPath.c_str());
    return 0;
  }
  int32_t result = 1;
  if (section) {
    result = InstallFromSection(section, nullptr);
  } else {
    for (const CStr &s : copyFilesSections)
      if (!InstallFromSection(s.c_str(), nullptr)) result = 0;
  }
  // A service or device whose files are not in place must not be registered: a boot-start
  // driver without its binary stops the system from starting.
  if (!result || shared().queueError) {
    Log(LS_ERROR, INF_HERE,
        L"The files of %ls are not installed: no device node, service or settings added\r\n",
        infPath.c_str());
    return 0;
  }
  wchar_t name[kServiceNameChars] = {};
  if (!GetServiceName(nullptr, name, kServiceNameChars)) {
    Log(LS_NONE, INF_HERE, L"%ls names no service: no device node\r\n", infPath.c_str());
  } else if (!DeviceNodePresent(name, virtualMode) && !infClass.IsEmpty() && !classGuid.IsEmpty()) {
    if (!InstallDeviceNode(rebootOut)) result = 0;
  }
  if (section) {
    std::vector<std::wstring> names;
    if (!SectionNames(names)) return 0;
    const CStr services = Cat({section, L".Services"});
    for (const std::wstring &n : names) {
      if (!services.EqualsNoCase(n.c_str())) continue;
      if (!HasKeyLine(n.c_str(), L"AddService") && !HasKeyLine(n.c_str(), L"DelService")) continue;
      if (!InstallServices(n.c_str())) result = 0;
      break;
    }
    const std::wstring settings = std::wstring(section) + L".SoftwareSettings";
    for (const CStr &s : softwareSettingsSections) {
      if (s.str().find(settings) == std::wstring::npos) continue;
      if (!InstallSoftwareSettings(s.c_str())) result = 0;
      break;
    }
  } else {
    for (const CStr &s : addServiceSections)
      if (!InstallServices(s.c_str())) result = 0;
    for (const CStr &s : softwareSettingsSections)
      if (!InstallSoftwareSettings(s.c_str())) result = 0;
  }
  CreateStartMenuItems();
  if (shared().queueError) result = 0;
  if (result && rebootNeeded && rebootOut) *rebootOut = 1;
  return result;
}

int32_t CInf::InstallDefault(int32_t *rebootOut) {
  if (!infHandle) return 0;
  if (rebootOut) *rebootOut = 0;
  shared().errorTexts.clear();
  return InstallCommon(nullptr, rebootOut);
}

int32_t CInf::InstallSection(const wchar_t *section, int32_t *rebootOut,
                             int32_t ignoreDeleteErrors) {
  if (!infHandle || !section) return 0;
  if (rebootOut) *rebootOut = 0;
  shared().errorTexts.clear();
  shared().ignoreDeleteErrors = ignoreDeleteErrors != 0;
  return InstallCommon(section, rebootOut);
}
