// The present-device list and the PnP driver installer (see pnpdriver.h).
#include "pnpdriver.h"

#include <cstdarg>
#include <cstring>

#include "tal/platform.h"

using tal::os::InfLine;
using tal::os::setup;
using tal::os::sys;

namespace {

const wchar_t kSource[] = L"pnpdriver.cpp";

constexpr size_t kFileNameChars = 260;
constexpr unsigned kMaxStagingFolders = 1000;
constexpr size_t kFieldChars = 512;

void WriteLog(CCmpLog *log, LogSeverity severity, int32_t line, const wchar_t *format,
              va_list args) {
  if (!log) return;
  std::wstring text;
  if (FormatWideV(text, format, args))
    log->Write(LT_VERBOSE, severity, kSource, line, L"%ls", text.c_str());
}

void LogTo(CCmpLog *log, LogSeverity severity, int32_t line, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  WriteLog(log, severity, line, format, args);
  va_end(args);
}

// The name a file has on a distribution medium when it is compressed: the last character of an
// extension of three letters replaced by "_", else "_" appended ("._" without an extension).
CStr CompressedName(const CStr &name) {
  std::wstring compressed = name.str();
  const size_t dot = compressed.find_last_of(L'.');
  if (dot == std::wstring::npos) {
    compressed += L"._";
  } else if (compressed.size() - dot > 3) {
    compressed.back() = L'_';
  } else {
    compressed += L"_";
  }
  return CStr(compressed);
}

}  // namespace

// --- CWin2000DeviceList ---

CWin2000DeviceList::CWin2000DeviceList(CCmpLog *log) : log_(log) {}

CWin2000DeviceList::~CWin2000DeviceList() = default;

int32_t CWin2000DeviceList::Enumerate() {
  devices_.clear();
  set_.reset();
  uint32_t error = 0;
  set_ = setup().presentDevices(error);
  if (!set_) {
    LogTo(log_, LS_ERROR, __LINE__, L"The present devices cannot be listed: error 0x%x\r\n", error);
    return 0;
  }
  const size_t count = set_->count();
  for (size_t i = 0; i < count; ++i) {
    W2KDEVINST record;
    tal::os::InstalledDriver driver;
    bool hasDriver = false;
    if (!set_->device(i, record.deviceData, driver, hasDriver)) continue;
    if (hasDriver) {
      record.driverData = driver.data;
      record.driverParams = driver.params;
      record.driverDetail = driver.detail;
    }
    record.deviceSet = set_.get();
    devices_.push_back(record);
  }
  return 1;
}

const W2KDEVINST *CWin2000DeviceList::Device(uint32_t index) const {
  return index < devices_.size() ? &devices_[index] : nullptr;
}

int32_t CWin2000DeviceList::GetHardwareIds(uint32_t index, wchar_t *buffer, uint32_t *sizeInOut) {
  if (!sizeInOut) return 0;
  std::wstring ids;
  if (!set_ || index >= devices_.size() || !set_->hardwareIds(index, ids)) {
    *sizeInOut = 0;
    return 0;
  }
  const size_t needed = ids.size();
  if (!buffer || *sizeInOut < needed) {
    *sizeInOut = static_cast<uint32_t>(needed);
    return 0;
  }
  memcpy(buffer, ids.data(), needed * sizeof(wchar_t));
  *sizeInOut = static_cast<uint32_t>(needed);
  return 1;
}

// --- CWin2000PnPDriver ---

CWin2000PnPDriver::CWin2000PnPDriver(const wchar_t *name, int32_t forceFlag, CCmpLog *log)
    : infName(name ? name : L""), force(forceFlag), log_(log) {}

void CWin2000PnPDriver::Log(LogSeverity severity, int32_t line, const wchar_t *format, ...) {
  va_list args;
  va_start(args, format);
  WriteLog(log_, severity, line, format, args);
  va_end(args);
}

void CWin2000PnPDriver::AddDevice(const wchar_t *id) {
  if (!id) return;
  for (const CStr &known : deviceIds)
    if (known == CStr(id)) return;
  deviceIds.emplace_back(id);
}

void CWin2000PnPDriver::AddStagedFile(const CStr &name) {
  if (name.IsEmpty()) return;
  const std::wstring &n = name.str();
  if (n.find_first_of(L"\\/:") != std::wstring::npos || n.find(L"..") != std::wstring::npos) {
    Log(LS_ERROR, __LINE__, L"Staged file name \"%ls\" would leave the staging folder; refused\r\n",
        n.c_str());
    return;
  }
  for (const CStr &known : stagedFiles)
    if (known == name) return;
  stagedFiles.push_back(name);
  neededFiles.push_back(name);
  const CStr compressed = CompressedName(name);
  for (const CStr &known : stagedFiles)
    if (known == compressed) return;
  stagedFiles.push_back(compressed);
}

CStr CWin2000PnPDriver::StagingFolder() {
  const std::wstring system = setup().systemDirectory();
  CStr folder = system.substr(0, 2);
  folder += L"\\TALSYSTEM\\pnpdrvs";
  return folder;
}

bool CWin2000PnPDriver::CollectStagedFiles() {
  AddStagedFile(infName);
  std::wstring library = sys().modulePath();
  const size_t cut = library.find_last_of(L"\\/");
  const std::wstring folder = cut == std::wstring::npos ? L"" : library.substr(0, cut + 1);
  uint32_t error = 0;
  unsigned line = 0;
  std::unique_ptr<tal::os::InfFile> inf = setup().openInf(folder + infName.str(), error, line);
  if (!inf) {
    Log(LS_ERROR, __LINE__, L"Cannot open %ls%ls: error 0x%x\r\n", folder.c_str(), infName.c_str(),
        error);
    return false;
  }
  const auto fits = [this](const std::wstring &text, size_t capacity, const wchar_t *what) {
    if (text.size() < capacity) return true;
    Log(LS_ERROR, __LINE__, L"%ls of %ls is %u characters long, more than %u; refused\r\n", what,
        infName.c_str(), unsigned(text.size()), unsigned(capacity - 1));
    return false;
  };

  std::vector<InfLine> lines;
  if (inf->sectionLines(L"Version", lines)) {
    static const wchar_t *const kCatalogKeys[] = {L"CatalogFile", L"CatalogFile.nt",
                                                  L"CatalogFile.ntx86", L"CatalogFile.ntia64",
                                                  L"CatalogFile.ntamd64"};
    for (const wchar_t *key : kCatalogKeys) {
      for (const InfLine &l : lines) {
        if (!l.hasKey || CompareNoCase(l.key.c_str(), key) != 0) continue;
        if (!l.fields.empty() && fits(l.fields[0], kFileNameChars, key)) AddStagedFile(l.fields[0]);
        break;
      }
    }
  }

  // Every section: a list cut short would leave the files of the later sections unstaged.
  std::vector<std::wstring> names;
  if (!inf->sectionNames(names)) {
    Log(LS_ERROR, __LINE__, L"The section names of %ls cannot be read\r\n", infName.c_str());
    return false;
  }
  std::vector<std::wstring> fileLists;
  for (const std::wstring &section : names) {
    if (!inf->sectionLines(section, lines)) continue;
    for (const InfLine &l : lines) {
      if (!l.hasKey || CompareNoCase(l.key.c_str(), L"CopyFiles") != 0) continue;
      for (const std::wstring &field : l.fields) {
        if (!fits(field, kFieldChars, L"CopyFiles entry")) continue;
        if (!field.empty() && field[0] == L'@') {
          AddStagedFile(field.substr(1));
          continue;
        }
        std::vector<InfLine> listLines;
        if (field.empty() || !inf->sectionLines(field, listLines) || listLines.empty()) continue;
        bool known = false;
        for (const std::wstring &f : fileLists)
          known = known || CompareNoCase(f.c_str(), field.c_str()) == 0;
        if (!known) fileLists.push_back(field);
      }
    }
  }
  for (const std::wstring &list : fileLists) {
    if (!inf->sectionLines(list, lines)) continue;
    for (const InfLine &l : lines) {
      const std::wstring *name = nullptr;
      if (l.fields.size() >= 2 && !l.fields[1].empty())
        name = &l.fields[1];
      else if (!l.fields.empty() && !l.fields[0].empty())
        name = &l.fields[0];
      if (name && fits(*name, kFileNameChars, L"file name")) AddStagedFile(*name);
    }
  }
  return true;
}

bool CWin2000PnPDriver::CreateStagingFolder(CStr &out) {
  const std::wstring base = StagingFolder().str();
  // The folders above it may be there already; the run's own folder must not be. Each is made
  // for administrators only, or checked: one an ordinary user made, owns or replaced with a link
  // would let the driver files be swapped before they are installed.
  for (size_t i = 3; i <= base.size(); ++i) {
    if (i < base.size() && base[i] != L'\\') continue;
    const std::wstring part = base.substr(0, i);
    const tal::os::FolderTrust trust = tal::os::sys().secureFolder(part, true);
    if (trust != tal::os::FolderTrust::kTrusted) {
      const std::wstring why = tal::os::fromUtf8(tal::os::folderTrustText(trust));
      Log(LS_ERROR, __LINE__, L"The staging folder %ls %ls: nothing is staged\r\n", part.c_str(),
          why.c_str());
      return false;
    }
  }
  for (unsigned n = 1; n <= kMaxStagingFolders; ++n) {
    const std::wstring folder = base + L"\\run" + std::to_wstring(n);
    const uint32_t e = setup().createDirectory(folder);
    if (e == 0) {
      out = folder;
      return true;
    }
    if (e != tal::os::winerr::kAlreadyExists) {
      Log(LS_ERROR, __LINE__, L"Cannot create the staging folder %ls: error %u\r\n", folder.c_str(),
          e);
      return false;
    }
  }
  Log(LS_ERROR, __LINE__, L"%ls holds %u staging folders already; none created\r\n", base.c_str(),
      kMaxStagingFolders);
  return false;
}

bool CWin2000PnPDriver::StageFiles(const CStr &folder) {
  bool ok = true;
  std::vector<CStr> staged;
  for (const CStr &name : stagedFiles) {
    CStr target = folder;
    target += L"\\";
    target += name;
    // The folder is new: a target that is there already was not put there by this run.
    const uint32_t e = setup().copyFile(name.str(), target.str(), true);
    if (e == 0) {
      staged.push_back(name);
    } else if (e != tal::os::winerr::kFileNotFound) {
      Log(LS_ERROR, __LINE__, L"Staging %ls: not copied (error %u)\r\n", name.c_str(), e);
      ok = false;
    }
  }
  const auto isStaged = [&staged](const CStr &name) {
    for (const CStr &s : staged)
      if (s == name) return true;
    return false;
  };
  for (const CStr &name : neededFiles) {
    if (isStaged(name) || isStaged(CompressedName(name))) continue;
    Log(LS_ERROR, __LINE__, L"Staging %ls: the package has neither it nor %ls\r\n", name.c_str(),
        CompressedName(name).c_str());
    ok = false;
  }
  return ok;
}

void CWin2000PnPDriver::RemoveStagingFolder(const CStr &folder) {
  for (const CStr &name : stagedFiles) {
    CStr target = folder;
    target += L"\\";
    target += name;
    setup().deleteFile(target.str());
  }
  if (const uint32_t e = setup().removeDirectory(folder.str()))
    Log(LS_WARNING, __LINE__, L"The staging folder %ls stays (error %u)\r\n", folder.c_str(), e);
}

int32_t CWin2000PnPDriver::Install(int32_t noOverwrite, int32_t alreadyHasDriver) {
  if (deviceIds.empty()) return (noOverwrite && alreadyHasDriver) ? 0 : 1;
  const int loaded = setup().loadDriverUpdater();
  if (loaded != 0) {
    Log(LS_ERROR, __LINE__,
        loaded == 2 ? L"newdev.dll cannot be loaded\r\n"
                    : L"newdev.dll has no UpdateDriverForPlugAndPlayDevicesW\r\n");
    return loaded == 2 ? 2 : 3;
  }
  CStr folder;
  if (!CollectStagedFiles() || !CreateStagingFolder(folder) || !StageFiles(folder)) {
    Log(LS_ERROR, __LINE__, L"The driver files of %ls cannot be staged: no device updated\r\n",
        infName.c_str());
    if (!folder.IsEmpty()) RemoveStagingFolder(folder);
    setup().unloadDriverUpdater();
    return 5;
  }
  CStr infPath = folder;
  infPath += L"\\";
  infPath += infName;
  bool allOk = true;
  for (const CStr &id : deviceIds) {
    bool reboot = false;
    const uint32_t e = setup().updateDriver(id.str(), infPath.str(), force != 0, reboot);
    if (reboot) rebootNeeded = 1;
    if (e != 0) {
      Log(LS_ERROR, __LINE__, L"Driver update for %ls failed: error 0x%x\r\n", id.c_str(), e);
      allOk = false;
    } else {
      Log(LS_NONE, __LINE__, L"Driver updated for %ls%ls\r\n", id.c_str(),
          reboot ? L" (restart needed)" : L"");
    }
  }
  RemoveStagingFolder(folder);
  setup().unloadDriverUpdater();
  return allOk ? 0 : 4;
}
