// The simulated Windows host behind the driver-installation seam.
#include "tal/simsetup.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "tal/infreader.h"
#include "tal/platform.h"

namespace tal::os {

namespace {

namespace fs = std::filesystem;

std::wstring upper(std::wstring text) {
  for (wchar_t &c : text)
    if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
  return text;
}

fs::path mapped(const std::wstring &path) { return fs::path(sys().nativePath(path)); }

std::wstring fileNamePart(const std::wstring &path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

uint32_t toWinError(const std::error_code &ec, uint32_t notFound) {
  if (ec == std::errc::no_such_file_or_directory) return notFound;
  if (ec == std::errc::file_exists) return winerr::kFileExists;
  if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
      ec == std::errc::read_only_file_system)
    return winerr::kAccessDenied;
  if (ec == std::errc::device_or_resource_busy || ec == std::errc::text_file_busy)
    return winerr::kSharingViolation;
  return winerr::kAccessDenied;
}

// The system's error for an INF the reader refuses. NUL bytes (UTF-16 without a byte order
// mark), big-endian UTF-16 and oversized files are refused by the reader alone: invalid data.
uint32_t infErrorCode(InfError error) {
  switch (error) {
    case InfError::kNone:
      return 0;
    case InfError::kEmpty:
      return winerr::kFileInvalid;
    case InfError::kLineOutsideSection:
      return winerr::kExpectedSectionName;
    case InfError::kUnfinishedSection:
      return winerr::kBadSectionNameLine;
    case InfError::kSectionNameTooLong:
      return winerr::kSectionNameTooLong;
    case InfError::kWrongStyle:
      return winerr::kWrongInfStyle;
    case InfError::kUnreadable:
    case InfError::kTooLarge:
    case InfError::kUtf16WithoutBom:
    case InfError::kBigEndian:
      break;
  }
  return winerr::kInvalidData;
}

// An INF opened by the simulated host.
// The folders of the directory ids an INF may name in its texts, as Windows gives them: the
// system's folders under %SystemRoot% and its drive, the INF's own folder, and the shell's
// folders (16384 + the shell folder's number) from the variables every Windows process has,
// with Windows' default places when a variable is not set.
enum class DirBase {
  kEmpty,     // -1, 0 and 65535: an absolute path follows
  kInf,       // 1: the folder the INF is read from, with its final separator
  kInfStore,  // 13: the driver package's folder in the driver store: where the INF is read from
  kWindows,   // %SystemRoot%
  kDrive,     // the root of the system drive ("C:\")
  kProfile,   // %USERPROFILE%
  kAppData,   // %APPDATA%
  kLocal,     // %LOCALAPPDATA%
  kData,      // %ProgramData%
  kPublic,    // %PUBLIC%
  kPrograms,  // %ProgramFiles%
  kPrograms86,
  kCommon,  // %CommonProgramFiles%
  kCommon86,
};

struct DirId {
  long id;
  DirBase base;
  const wchar_t *suffix;
};

constexpr DirId kDirIds[] = {
    {-1, DirBase::kEmpty, L""},
    {0, DirBase::kEmpty, L""},
    {65535, DirBase::kEmpty, L""},
    {1, DirBase::kInf, L""},
    {10, DirBase::kWindows, L""},
    {11, DirBase::kWindows, L"\\system32"},
    {12, DirBase::kWindows, L"\\system32\\drivers"},
    {13, DirBase::kInfStore, L""},
    {17, DirBase::kWindows, L"\\inf"},
    {18, DirBase::kWindows, L"\\help"},
    {20, DirBase::kWindows, L"\\fonts"},
    {21, DirBase::kWindows, L"\\system32\\viewers"},
    {23, DirBase::kWindows, L"\\system32\\spool\\drivers\\color"},
    {24, DirBase::kDrive, L""},
    {25, DirBase::kWindows, L""},
    {30, DirBase::kDrive, L""},
    {50, DirBase::kWindows, L"\\system"},
    {51, DirBase::kWindows, L"\\system32\\spool"},
    {52, DirBase::kWindows, L"\\system32\\spool\\drivers"},
    {53, DirBase::kProfile, L""},
    {54, DirBase::kDrive, L""},
    {55, DirBase::kWindows, L"\\system32\\spool\\prtprocs\\x64"},
    // Shell folders.
    {16384 + 0x00, DirBase::kProfile, L"\\Desktop"},
    {16384 + 0x02, DirBase::kAppData, L"\\Microsoft\\Windows\\Start Menu\\Programs"},
    {16384 + 0x05, DirBase::kProfile, L"\\Documents"},
    {16384 + 0x06, DirBase::kProfile, L"\\Favorites"},
    {16384 + 0x07, DirBase::kAppData, L"\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {16384 + 0x08, DirBase::kAppData, L"\\Microsoft\\Windows\\Recent"},
    {16384 + 0x09, DirBase::kAppData, L"\\Microsoft\\Windows\\SendTo"},
    {16384 + 0x0B, DirBase::kAppData, L"\\Microsoft\\Windows\\Start Menu"},
    {16384 + 0x0D, DirBase::kProfile, L"\\Music"},
    {16384 + 0x0E, DirBase::kProfile, L"\\Videos"},
    {16384 + 0x10, DirBase::kProfile, L"\\Desktop"},
    {16384 + 0x13, DirBase::kAppData, L"\\Microsoft\\Windows\\Network Shortcuts"},
    {16384 + 0x14, DirBase::kWindows, L"\\Fonts"},
    {16384 + 0x15, DirBase::kAppData, L"\\Microsoft\\Windows\\Templates"},
    {16384 + 0x16, DirBase::kData, L"\\Microsoft\\Windows\\Start Menu"},
    {16384 + 0x17, DirBase::kData, L"\\Microsoft\\Windows\\Start Menu\\Programs"},
    {16384 + 0x18, DirBase::kData, L"\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {16384 + 0x19, DirBase::kPublic, L"\\Desktop"},
    {16384 + 0x1A, DirBase::kAppData, L""},
    {16384 + 0x1B, DirBase::kAppData, L"\\Microsoft\\Windows\\Printer Shortcuts"},
    {16384 + 0x1C, DirBase::kLocal, L""},
    {16384 + 0x1F, DirBase::kProfile, L"\\Favorites"},
    {16384 + 0x20, DirBase::kLocal, L"\\Microsoft\\Windows\\INetCache"},
    {16384 + 0x21, DirBase::kLocal, L"\\Microsoft\\Windows\\INetCookies"},
    {16384 + 0x22, DirBase::kLocal, L"\\Microsoft\\Windows\\History"},
    {16384 + 0x23, DirBase::kData, L""},
    {16384 + 0x24, DirBase::kWindows, L""},
    {16384 + 0x25, DirBase::kWindows, L"\\system32"},
    {16384 + 0x26, DirBase::kPrograms, L""},
    {16384 + 0x27, DirBase::kProfile, L"\\Pictures"},
    {16384 + 0x28, DirBase::kProfile, L""},
    {16384 + 0x29, DirBase::kWindows, L"\\SysWOW64"},
    {16384 + 0x2A, DirBase::kPrograms86, L""},
    {16384 + 0x2B, DirBase::kCommon, L""},
    {16384 + 0x2C, DirBase::kCommon86, L""},
    {16384 + 0x2D, DirBase::kData, L"\\Microsoft\\Windows\\Templates"},
    {16384 + 0x2E, DirBase::kPublic, L"\\Documents"},
    {16384 + 0x2F, DirBase::kData,
     L"\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {16384 + 0x30, DirBase::kAppData,
     L"\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {16384 + 0x35, DirBase::kPublic, L"\\Music"},
    {16384 + 0x36, DirBase::kPublic, L"\\Pictures"},
    {16384 + 0x37, DirBase::kPublic, L"\\Videos"},
    {16384 + 0x38, DirBase::kWindows, L"\\Resources"},
    {16384 + 0x3A, DirBase::kData, L"\\OEM Links"},
    {16384 + 0x3B, DirBase::kLocal, L"\\Microsoft\\Windows\\Burn\\Burn"},
    // The printer class's folders.
    {66000, DirBase::kWindows, L"\\system32\\spool\\drivers\\x64"},
    {66001, DirBase::kWindows, L"\\system32\\spool\\prtprocs\\x64"},
    {66002, DirBase::kWindows, L"\\system32"},
    {66003, DirBase::kWindows, L"\\system32\\spool\\drivers\\color"},
    {66004, DirBase::kWindows, L"\\web\\printers"},
};

// The value of an environment variable; empty when it is not set.
std::wstring variable(const wchar_t *name) {
  const std::wstring pattern = std::wstring(L"%") + name + L"%";
  const std::wstring value = sys().expandEnvironment(pattern);
  return value == pattern ? std::wstring() : value;
}

std::wstring orDefault(const wchar_t *name, const std::wstring &fallback) {
  std::wstring value = variable(name);
  return value.empty() ? fallback : value;
}

std::wstring baseFolder(DirBase base, const std::wstring &infFolder) {
  const std::wstring windows = orDefault(L"SystemRoot", L"C:\\Windows");
  const std::wstring drive =
      windows.size() >= 2 && windows[1] == L':' ? windows.substr(0, 2) : std::wstring(L"C:");
  const auto profile = [&] { return orDefault(L"USERPROFILE", drive + L"\\Users\\Default"); };
  const auto programs = [&] { return orDefault(L"ProgramFiles", drive + L"\\Program Files"); };
  const auto programs86 = [&] {
    return orDefault(L"ProgramFiles(x86)", drive + L"\\Program Files (x86)");
  };
  switch (base) {
    case DirBase::kEmpty:
      return L"";
    case DirBase::kInf:
      return infFolder;
    case DirBase::kInfStore:
      return infFolder.size() > 1 && (infFolder.back() == L'\\' || infFolder.back() == L'/')
                 ? infFolder.substr(0, infFolder.size() - 1)
                 : infFolder;
    case DirBase::kWindows:
      return windows;
    case DirBase::kDrive:
      return drive + L"\\";
    case DirBase::kProfile:
      return profile();
    case DirBase::kAppData:
      return orDefault(L"APPDATA", profile() + L"\\AppData\\Roaming");
    case DirBase::kLocal:
      return orDefault(L"LOCALAPPDATA", profile() + L"\\AppData\\Local");
    case DirBase::kData:
      return orDefault(L"ProgramData", orDefault(L"ALLUSERSPROFILE", drive + L"\\ProgramData"));
    case DirBase::kPublic:
      return orDefault(L"PUBLIC", drive + L"\\Users\\Public");
    case DirBase::kPrograms:
      return programs();
    case DirBase::kPrograms86:
      return programs86();
    case DirBase::kCommon:
      return orDefault(L"CommonProgramFiles", programs() + L"\\Common Files");
    case DirBase::kCommon86:
      return orDefault(L"CommonProgramFiles(x86)", programs86() + L"\\Common Files");
  }
  return L"";
}

// The folder of a directory id (empty for the ids of an absolute path); false for an id Windows
// does not define, which then stays as written.
bool dirIdFolder(long id, std::wstring &folder, const std::wstring &infFolder) {
  for (const DirId &d : kDirIds) {
    if (d.id != id) continue;
    folder = baseFolder(d.base, infFolder);
    if ((d.base == DirBase::kInf || d.base == DirBase::kInfStore) && folder.empty()) return false;
    folder += d.suffix;
    return true;
  }
  return false;
}

class SimInf : public InfFile {
 public:
  SimInf(InfDocument doc, std::wstring folder, const bool &namesFail)
      : doc_(std::move(doc)),
        folder_(std::move(folder)),
        dirid_([this](long id, std::wstring &out) { return dirIdFolder(id, out, folder_); }),
        namesFail_(namesFail) {}
  bool sectionNames(std::vector<std::wstring> &out) override {
    out.clear();
    if (namesFail_) return false;
    for (const InfSection &s : doc_.sections()) out.push_back(s.name);
    return true;
  }
  bool sectionLines(const std::wstring &section, std::vector<InfLine> &out) override {
    out.clear();
    const InfSection *s = doc_.find(section);
    if (!s) return false;
    for (const InfRawLine &raw : s->lines) {
      InfLine line;
      line.hasKey = raw.hasKey;
      if (raw.hasKey) line.key = doc_.substitute(raw.key, dirid_);
      for (const std::wstring &f : raw.fields) line.fields.push_back(doc_.substitute(f, dirid_));
      out.push_back(std::move(line));
    }
    return true;
  }

 private:
  InfDocument doc_;
  std::wstring folder_;  // the INF's folder, with its final separator
  InfDocument::DirIdResolver dirid_;
  const bool &namesFail_;  // the host's sectionNamesFail
};

class SimDeviceNode : public DeviceNode {
 public:
  SimDeviceNode(SimSetupHost &host, std::wstring name, std::wstring hardwareId,
                std::wstring infPath)
      : host_(host), name_(std::move(name)), id_(std::move(hardwareId)), inf_(std::move(infPath)) {}
  DevInfoData data() override {
    DevInfoData d;
    d.cbSize = sizeof d;
    d.devInst = static_cast<uint32_t>(host_.devices.size() + 1);
    return d;
  }
  uint32_t install(bool &reboot) override {
    reboot = false;
    return host_.addRootDevice(name_, id_, inf_);
  }
  bool hardwareId(std::wstring &out) override {
    out = id_;
    return !id_.empty();
  }

 private:
  SimSetupHost &host_;
  std::wstring name_, id_, inf_;
};

class SimDeviceSet : public DeviceSet {
 public:
  explicit SimDeviceSet(std::vector<SimDevice> devices) : devices_(std::move(devices)) {}
  size_t count() override { return devices_.size(); }
  bool device(size_t index, DevInfoData &data, InstalledDriver &driver, bool &hasDriver) override {
    if (index >= devices_.size()) return false;
    const SimDevice &d = devices_[index];
    data = DevInfoData();
    data.cbSize = sizeof data;
    data.devInst = static_cast<uint32_t>(index + 1);
    driver = InstalledDriver();
    hasDriver = !d.inf.empty();
    if (hasDriver) {
      driver.data.cbSize = sizeof driver.data;
      driver.data.driverType = 2;  // SPDIT_COMPATDRIVER
      d.description.copy(driver.data.description, 255);
      driver.params.cbSize = sizeof driver.params;
      driver.params.flags = d.inbox ? kDriverFlagInbox : 0;
      driver.detail.cbSize = sizeof driver.detail;
      d.inf.copy(driver.detail.infFileName, 259);
      d.description.copy(driver.detail.drvDescription, 255);
    }
    return true;
  }
  bool hardwareIds(size_t index, std::wstring &multiText) override {
    multiText.clear();
    if (index >= devices_.size() || devices_[index].hardwareIds.empty()) return false;
    for (const std::wstring &id : devices_[index].hardwareIds) {
      multiText += id;
      multiText.push_back(L'\0');
    }
    multiText.push_back(L'\0');
    return true;
  }

 private:
  std::vector<SimDevice> devices_;
};

const InfLine *findLine(const std::vector<InfLine> &lines, const wchar_t *key) {
  for (const InfLine &l : lines)
    if (l.hasKey && infEqualNoCase(l.key, key)) return &l;
  return nullptr;
}

uint32_t number(const std::wstring &text, uint32_t fallback) {
  if (text.empty()) return fallback;
  try {
    size_t used = 0;
    const unsigned long v = std::stoul(text, &used, 0);
    return used == text.size() ? static_cast<uint32_t>(v) : fallback;
  } catch (...) {
    return fallback;
  }
}

}  // namespace

SimSetupHost::SimSetupHost() = default;

void SimSetupHost::record(const char *op,
                          std::vector<std::pair<std::string, std::wstring>> fields) {
  events.push_back(SimEvent{op, std::move(fields)});
}

bool SimSetupHost::inUse(const std::wstring &path) {
  const auto normal = [](const std::wstring &p) {
    return mapped(p).lexically_normal().make_preferred().wstring();
  };
  const std::wstring wanted = normal(path);
  for (const std::wstring &p : filesInUse)
    if (normal(p) == wanted) return true;
  return false;
}

std::unique_ptr<InfFile> SimSetupHost::openInf(const std::wstring &path, uint32_t &error,
                                               unsigned &errorLine) {
  errorLine = 0;
  std::string bytes;
  switch (sys().readExistingFile(path, bytes, kMaxInfBytes)) {
    case ReadResult::kOk:
      break;
    case ReadResult::kCannotOpen:
      error = winerr::kFileNotFound;
      return nullptr;
    case ReadResult::kCannotRead:
      error = winerr::kInvalidData;
      return nullptr;
  }
  InfDocument doc;
  const unsigned codePage = ansiCodePage;
  const InfError e = InfDocument::parse(
      bytes, [codePage](const std::string &b) { return decodeCodePage(b, codePage); }, true, doc,
      &errorLine);
  if (e != InfError::kNone) {
    error = infErrorCode(e);
    return nullptr;
  }
  error = 0;
  const size_t cut = path.find_last_of(L"\\/");
  return std::make_unique<SimInf>(
      std::move(doc), cut == std::wstring::npos ? L"" : path.substr(0, cut + 1), sectionNamesFail);
}

const SimKey *SimSetupHost::findKey(const std::wstring &path) const {
  auto it = registry.find(upper(path));
  return it == registry.end() ? nullptr : &it->second;
}

SimKey &SimSetupHost::makeKey(const std::wstring &path) {
  SimKey &key = registry[upper(path)];
  if (key.path.empty()) key.path = path;
  return key;
}

void SimSetupHost::setValue(const std::wstring &key, const std::wstring &name,
                            const std::wstring &type, const std::wstring &data) {
  makeKey(key).values[upper(name)] = SimValue{name, type, data};
  record("set_value", {{"key", key}, {"name", name}, {"type", type}, {"data", data}});
}

void SimSetupHost::deleteKeyOrValue(const std::wstring &key, const std::wstring *name) {
  auto it = registry.find(upper(key));
  if (name) {
    if (it != registry.end()) it->second.values.erase(upper(*name));
    record("delete_value", {{"key", key}, {"name", *name}});
    return;
  }
  const std::wstring prefix = upper(key) + L"\\";
  for (auto k = registry.begin(); k != registry.end();) {
    if (k->first == upper(key) || k->first.compare(0, prefix.size(), prefix) == 0)
      k = registry.erase(k);
    else
      ++k;
  }
  record("delete_key", {{"key", key}});
}

uint32_t SimSetupHost::applyRegistrySection(InfFile &inf, const std::wstring &regSection, bool add,
                                            const std::wstring &relativeKey) {
  std::vector<InfLine> lines;
  if (!inf.sectionLines(regSection, lines)) return winerr::kSectionNotFound;
  for (const InfLine &line : lines) {
    const auto &f = line.fields;
    if (f.empty()) continue;
    std::wstring root = upper(f[0]);
    std::wstring base;
    if (root == L"HKR") {
      base = relativeKey.empty() ? L"HKLM" : L"HKLM\\" + relativeKey;
    } else if (root == L"HKLM" || root == L"HKCU" || root == L"HKCR" || root == L"HKU") {
      base = root;
    } else {
      return winerr::kInvalidData;
    }
    const std::wstring key = f.size() > 1 && !f[1].empty() ? base + L"\\" + f[1] : base;
    const std::wstring name = f.size() > 2 ? f[2] : L"";
    const uint32_t flags = f.size() > 3 ? number(f[3], 0) : 0;
    if (!add) {
      if (f.size() > 2)
        deleteKeyOrValue(key, &name);
      else
        deleteKeyOrValue(key, nullptr);
      continue;
    }
    if (flags & 0x10) {  // FLG_ADDREG_KEYONLY
      makeKey(key);
      record("create_key", {{"key", key}});
      continue;
    }
    if (flags & 0x4) {  // FLG_ADDREG_DELVAL
      deleteKeyOrValue(key, &name);
      continue;
    }
    if ((flags & 0x2) && findKey(key) && findKey(key)->values.count(upper(name)))
      continue;  // FLG_ADDREG_NOCLOBBER
    std::wstring type = L"REG_SZ";
    std::wstring data = f.size() > 4 ? f[4] : L"";
    const uint32_t typeBits = flags & 0xFFFF0001;
    if (typeBits == 0x10001) {
      type = L"REG_DWORD";
      data = std::to_wstring(number(data, 0));
    } else if (typeBits == 0x10000) {
      type = L"REG_MULTI_SZ";
      for (size_t i = 5; i < f.size(); ++i) data += L"\n" + f[i];
    } else if (typeBits == 0x20000) {
      type = L"REG_EXPAND_SZ";
    } else if (typeBits == 0x1) {
      type = L"REG_BINARY";
      for (size_t i = 5; i < f.size(); ++i) data += L"," + f[i];
    }
    setValue(key, name, type, data);
  }
  return 0;
}

uint32_t SimSetupHost::installFromSection(InfFile &inf, const std::wstring &section, uint32_t flags,
                                          const std::wstring &relativeKey,
                                          const std::wstring &sourceRoot,
                                          const QueueCallback &callback) {
  std::vector<InfLine> lines;
  if (!inf.sectionLines(section, lines)) return winerr::kSectionNotFound;
  auto pending = std::move(queueNotifications);
  queueNotifications.clear();
  for (const auto &n : pending)
    queueAnswers.push_back(callback ? callback(n.first, n.second.first, n.second.second)
                                    : kQueueProceed);
  record("install_section", {{"section", section}, {"relative_key", relativeKey}});
  if (!(flags & kInstallRegistry)) return 0;
  for (const InfLine &line : lines) {
    if (!line.hasKey) continue;
    const bool add = infEqualNoCase(line.key, L"AddReg");
    if (!add && !infEqualNoCase(line.key, L"DelReg")) continue;
    for (const std::wstring &regSection : line.fields) {
      if (regSection.empty()) continue;
      if (uint32_t e = applyRegistrySection(inf, regSection, add, relativeKey)) return e;
    }
  }
  return 0;
}

uint32_t SimSetupHost::installServices(InfFile &inf, const std::wstring &section) {
  std::vector<InfLine> lines;
  if (!inf.sectionLines(section, lines)) return winerr::kSectionNotFound;
  for (const InfLine &line : lines) {
    if (!line.hasKey || line.fields.empty() || line.fields[0].empty()) continue;
    const std::wstring &name = line.fields[0];
    if (infEqualNoCase(line.key, L"DelService")) {
      for (auto it = services.begin(); it != services.end(); ++it) {
        if (infEqualNoCase(it->name, name)) {
          services.erase(it);
          break;
        }
      }
      deleteKeyOrValue(L"HKLM\\System\\CurrentControlSet\\Services\\" + name, nullptr);
      record("delete_service", {{"name", name}});
      continue;
    }
    if (!infEqualNoCase(line.key, L"AddService")) continue;
    std::vector<InfLine> install;
    if (line.fields.size() < 3 || !inf.sectionLines(line.fields[2], install))
      return winerr::kSectionNotFound;
    SimService service;
    service.name = name;
    if (const InfLine *l = findLine(install, L"ServiceType"); l && !l->fields.empty())
      service.serviceType = number(l->fields[0], 1);
    if (const InfLine *l = findLine(install, L"StartType"); l && !l->fields.empty())
      service.startType = number(l->fields[0], 3);
    if (const InfLine *l = findLine(install, L"ErrorControl"); l && !l->fields.empty())
      service.errorControl = number(l->fields[0], 1);
    if (const InfLine *l = findLine(install, L"ServiceBinary"); l && !l->fields.empty())
      service.binary = l->fields[0];
    if (const InfLine *l = findLine(install, L"DisplayName"); l && !l->fields.empty())
      service.displayName = l->fields[0];
    bool exists = false;
    for (SimService &s : services) {
      if (infEqualNoCase(s.name, name)) {
        exists = true;
        s = service;
      }
    }
    if (!exists) services.push_back(service);
    const std::wstring key = L"HKLM\\System\\CurrentControlSet\\Services\\" + name;
    makeKey(key);
    record(exists ? "update_service" : "create_service",
           {{"name", name},
            {"binary", service.binary},
            {"start_type", std::to_wstring(service.startType)},
            {"service_type", std::to_wstring(service.serviceType)}});
  }
  return 0;
}

std::unique_ptr<DeviceNode> SimSetupHost::createRootDevice(const std::wstring &className,
                                                           const std::wstring &deviceName,
                                                           const std::wstring &infPath,
                                                           uint32_t &error) {
  if (className.empty() || deviceName.empty()) {
    error = winerr::kInvalidParameter;
    return nullptr;
  }
  uint32_t openError = 0;
  unsigned line = 0;
  if (!openInf(infPath, openError, line)) {
    error = openError;
    return nullptr;
  }
  error = 0;
  return std::make_unique<SimDeviceNode>(*this, deviceName, L"root\\" + deviceName, infPath);
}

std::wstring SimSetupHost::uniqueInstanceId(const std::wstring &prefix) {
  for (unsigned n = 0;; ++n) {
    wchar_t suffix[16];
    swprintf(suffix, 16, L"\\%04u", n);
    const std::wstring id = prefix + suffix;
    bool taken = false;
    for (const SimDevice &d : devices) taken = taken || upper(d.instanceId) == upper(id);
    if (!taken) return id;
  }
}

uint32_t SimSetupHost::addRootDevice(const std::wstring &deviceName, const std::wstring &hardwareId,
                                     const std::wstring &infPath) {
  SimDevice device;
  device.instanceId = uniqueInstanceId(L"ROOT\\" + upper(deviceName));
  device.hardwareIds.push_back(hardwareId);
  device.inf = fileNamePart(infPath);
  devices.push_back(device);
  makeKey(L"HKLM\\System\\CurrentControlSet\\Enum\\" + device.instanceId);
  record("create_device",
         {{"instance_id", device.instanceId}, {"hardware_id", hardwareId}, {"inf", device.inf}});
  return 0;
}

namespace {

// A file's version resource is part of the file on Windows; here it is the "<file>.version" file
// beside it (the native platform's version query), so it travels with the file: copied or moved
// with it, and a stale one at the target removed.
void carryVersion(const fs::path &from, const fs::path &to, bool move) {
  std::error_code ec;
  fs::path fromVersion = from, toVersion = to;
  fromVersion += ".version";
  toVersion += ".version";
  fs::remove(toVersion, ec);
  if (!fs::is_regular_file(fromVersion, ec)) return;
  if (move)
    fs::rename(fromVersion, toVersion, ec);
  else
    fs::copy_file(fromVersion, toVersion, ec);
}

}  // namespace

uint32_t SimSetupHost::copyFile(const std::wstring &source, const std::wstring &target,
                                bool failIfExists) {
  std::error_code ec;
  const fs::path from = mapped(source), to = mapped(target);
  if (!fs::is_regular_file(from, ec)) return winerr::kFileNotFound;
  if (fs::exists(to, ec)) {
    if (failIfExists) return winerr::kFileExists;
    if (inUse(target)) return winerr::kSharingViolation;
  }
  if (!fs::is_directory(to.parent_path(), ec)) return winerr::kPathNotFound;
  if (fs::exists(to, ec) && !fs::remove(to, ec)) return toWinError(ec, winerr::kAccessDenied);
  fs::copy_file(from, to, ec);
  if (ec) return toWinError(ec, winerr::kPathNotFound);
  carryVersion(from, to, false);
  record("copy", {{"source", source}, {"target", target}});
  return 0;
}

uint32_t SimSetupHost::moveFile(const std::wstring &from, const std::wstring &to) {
  std::error_code ec;
  if (!fs::exists(mapped(from), ec)) return winerr::kFileNotFound;
  if (inUse(from)) return winerr::kSharingViolation;
  if (fs::exists(mapped(to), ec)) return winerr::kAlreadyExists;
  fs::rename(mapped(from), mapped(to), ec);
  if (ec) return toWinError(ec, winerr::kPathNotFound);
  carryVersion(mapped(from), mapped(to), true);
  record("rename", {{"from", from}, {"to", to}});
  return 0;
}

uint32_t SimSetupHost::deleteFile(const std::wstring &path) {
  std::error_code ec;
  const fs::path p = mapped(path);
  if (!fs::exists(p, ec))
    return fs::is_directory(p.parent_path(), ec) ? winerr::kFileNotFound : winerr::kPathNotFound;
  if (inUse(path)) return winerr::kSharingViolation;
  if (fs::is_directory(p, ec)) return winerr::kAccessDenied;
  fs::remove(p, ec);
  if (ec) return toWinError(ec, winerr::kFileNotFound);
  record("delete", {{"path", path}});
  return 0;
}

uint32_t SimSetupHost::moveAtRestart(const std::wstring &from, const std::wstring &to) {
  record(to.empty() ? "delete_at_restart" : "replace_at_restart", {{"from", from}, {"to", to}});
  return 0;
}

uint32_t SimSetupHost::createDirectory(const std::wstring &path) {
  std::error_code ec;
  const fs::path p = mapped(path);
  if (fs::exists(p, ec)) return winerr::kAlreadyExists;
  if (!p.has_parent_path() || !fs::is_directory(p.parent_path(), ec)) return winerr::kPathNotFound;
  if (!fs::create_directory(p, ec)) return toWinError(ec, winerr::kPathNotFound);
  record("create_directory", {{"path", path}});
  return 0;
}

uint32_t SimSetupHost::removeDirectory(const std::wstring &path) {
  std::error_code ec;
  const fs::path p = mapped(path);
  if (!fs::is_directory(p, ec))
    return fs::exists(p, ec) ? winerr::kDirectory : winerr::kFileNotFound;
  if (!fs::is_empty(p, ec)) return winerr::kDirNotEmpty;
  if (!fs::remove(p, ec)) return toWinError(ec, winerr::kFileNotFound);
  record("remove_directory", {{"path", path}});
  return 0;
}

bool SimSetupHost::fileExists(const std::wstring &path) {
  std::error_code ec;
  return fs::is_regular_file(mapped(path), ec);
}

void SimSetupHost::clearAttributes(const std::wstring &path) {
  std::error_code ec;
  fs::permissions(mapped(path), fs::perms::owner_write, fs::perm_options::add, ec);
}

uint32_t SimSetupHost::createShortcut(const std::wstring &linkPath, const std::wstring &target,
                                      const std::wstring &arguments,
                                      const std::wstring &workingDir) {
  std::ofstream out(mapped(linkPath), std::ios::binary | std::ios::trunc);
  if (!out) return winerr::kPathNotFound;
  out << toUtf8(target) << '\n' << toUtf8(arguments) << '\n' << toUtf8(workingDir) << '\n';
  record("create_shortcut", {{"path", linkPath},
                             {"target", target},
                             {"arguments", arguments},
                             {"working_dir", workingDir}});
  return 0;
}

bool SimSetupHost::keyExists(const std::wstring &path) {
  const std::wstring key = upper(L"HKLM\\" + path);
  const std::wstring prefix = key + L"\\";
  for (const auto &k : registry)
    if (k.first == key || k.first.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

uint32_t SimSetupHost::createKey(const std::wstring &path) {
  if (path.empty()) return winerr::kInvalidParameter;
  if (!findKey(L"HKLM\\" + path)) record("create_key", {{"key", L"HKLM\\" + path}});
  makeKey(L"HKLM\\" + path);
  return 0;
}

std::unique_ptr<DeviceSet> SimSetupHost::presentDevices(uint32_t &error) {
  error = 0;
  return std::make_unique<SimDeviceSet>(devices);
}

int SimSetupHost::loadDriverUpdater() { return driverUpdater; }

namespace {

const InfLine *keyLine(const std::vector<InfLine> &lines, const wchar_t *key) {
  for (const InfLine &l : lines)
    if (l.hasKey && infEqualNoCase(l.key, key)) return &l;
  return nullptr;
}

// The first of "<section>.NTamd64", "<section>.NT" and "<section>" that the INF has.
bool decoratedSection(InfFile &inf, const std::wstring &section, std::wstring &out,
                      std::vector<InfLine> &lines) {
  for (const wchar_t *suffix : {L".NTamd64", L".NT", L""}) {
    out = section + suffix;
    if (inf.sectionLines(out, lines)) return true;
  }
  return false;
}

}  // namespace

uint32_t SimSetupHost::copySectionFiles(InfFile &inf, const std::wstring &infFolder,
                                        const std::wstring &section) {
  std::vector<InfLine> lines, dirs;
  if (!inf.sectionLines(section, lines)) return 0;
  inf.sectionLines(L"DestinationDirs", dirs);
  const auto destination = [&](const std::wstring &list, std::wstring &folder) {
    const InfLine *dir = keyLine(dirs, list.c_str());
    if (!dir) dir = keyLine(dirs, L"DefaultDestDir");
    wchar_t *end = nullptr;
    if (!dir || dir->fields.empty() || dir->fields[0].empty()) return false;
    const long id = std::wcstol(dir->fields[0].c_str(), &end, 10);
    if (*end != 0 || !dirIdFolder(id, folder, infFolder)) return false;
    if (dir->fields.size() >= 2 && !dir->fields[1].empty())
      folder = folder.empty() ? dir->fields[1] : folder + L"\\" + dir->fields[1];
    return !folder.empty();
  };
  for (const InfLine &line : lines) {
    if (!line.hasKey || !infEqualNoCase(line.key, L"CopyFiles")) continue;
    for (const std::wstring &field : line.fields) {
      std::vector<std::pair<std::wstring, std::wstring>> files;  // target, source
      std::wstring folder;
      if (!field.empty() && field[0] == L'@') {
        files.emplace_back(field.substr(1), field.substr(1));
        if (!destination(L"DefaultDestDir", folder)) return winerr::kPathNotFound;
      } else {
        std::vector<InfLine> list;
        if (field.empty() || !inf.sectionLines(field, list)) continue;
        if (!destination(field, folder)) return winerr::kPathNotFound;
        for (const InfLine &l : list) {
          if (l.fields.empty() || l.fields[0].empty()) continue;
          files.emplace_back(l.fields[0], l.fields.size() >= 2 && !l.fields[1].empty()
                                              ? l.fields[1]
                                              : l.fields[0]);
        }
      }
      // The file queue makes the destination folder as it copies.
      std::error_code ec;
      fs::create_directories(mapped(folder), ec);
      for (const auto &file : files) {
        if (uint32_t e = copyFile(infFolder + file.second, folder + L"\\" + file.first, false))
          return e;
      }
    }
  }
  return 0;
}

uint32_t SimSetupHost::installModel(InfFile &inf, const std::wstring &infFolder,
                                    const std::wstring &hardwareId, SimDevice &device) {
  std::vector<InfLine> manufacturers, models, install, services;
  if (!inf.sectionLines(L"Manufacturer", manufacturers)) return 0;
  std::wstring section;
  for (const InfLine &maker : manufacturers) {
    if (maker.fields.empty()) continue;
    std::vector<std::wstring> names{maker.fields[0]};
    for (size_t i = 1; i < maker.fields.size(); ++i)
      names.insert(names.begin(), maker.fields[0] + L"." + maker.fields[i]);
    for (const std::wstring &name : names) {
      if (!inf.sectionLines(name, models)) continue;
      for (const InfLine &model : models) {
        for (size_t i = 1; i < model.fields.size() && section.empty(); ++i)
          if (infEqualNoCase(model.fields[i], hardwareId)) section = model.fields[0];
      }
      if (!section.empty()) break;
    }
    if (!section.empty()) break;
  }
  std::wstring decorated;
  if (section.empty() || !decoratedSection(inf, section, decorated, install)) return 0;
  if (const uint32_t e = copySectionFiles(inf, infFolder, decorated)) return e;
  installFromSection(inf, decorated, kInstallRegistry, L"", infFolder, nullptr);
  const std::wstring servicesSection = decorated + L".Services";
  if (inf.sectionLines(servicesSection, services)) {
    installServices(inf, servicesSection);
    for (const InfLine &line : services) {
      if (!line.hasKey || !infEqualNoCase(line.key, L"AddService") || line.fields.size() < 2)
        continue;
      if (std::wcstoul(line.fields[1].c_str(), nullptr, 0) & 0x2) device.service = line.fields[0];
    }
  }
  return 0;
}

uint32_t SimSetupHost::updateDriver(const std::wstring &hardwareId, const std::wstring &infPath,
                                    bool force, bool &reboot) {
  reboot = false;
  if (!fileExists(infPath)) return winerr::kFileNotFound;
  uint32_t openError = 0;
  unsigned openLine = 0;
  std::unique_ptr<InfFile> inf = openInf(infPath, openError, openLine);
  const size_t cut = infPath.find_last_of(L"\\/");
  const std::wstring infFolder = cut == std::wstring::npos ? L"" : infPath.substr(0, cut + 1);
  uint32_t result = winerr::kNoSuchDevInst;
  for (SimDevice &d : devices) {
    bool match = false;
    for (const std::wstring &id : d.hardwareIds) match = match || infEqualNoCase(id, hardwareId);
    if (!match) continue;
    if (d.updateFails) {
      result = winerr::kNoDriverSelected;
      continue;
    }
    if (const uint32_t e = inf ? installModel(*inf, infFolder, hardwareId, d) : 0) {
      result = e;
      continue;
    }
    d.inf = fileNamePart(infPath);
    d.inbox = false;
    reboot = reboot || d.updateReboot;
    result = 0;
    record("update_driver", {{"instance_id", d.instanceId},
                             {"hardware_id", hardwareId},
                             {"inf", infPath},
                             {"force", force ? L"1" : L"0"}});
  }
  return result;
}

uint32_t SimSetupHost::registerRootDevice(const std::wstring &hardwareId,
                                          std::wstring &instanceId) {
  SimDevice device;
  device.instanceId = uniqueInstanceId(L"ROOT\\SYSTEM");
  device.hardwareIds.push_back(hardwareId);
  devices.push_back(device);
  instanceId = device.instanceId;
  record("register_device", {{"instance_id", instanceId}, {"hardware_id", hardwareId}});
  return 0;
}

std::string SimSetupHost::recordJson() const {
  using Json = nlohmann::ordered_json;
  Json record = {{"operations", Json::array()},
                 {"registry", Json::array()},
                 {"keys", Json::array()},
                 {"services", Json::array()},
                 {"devices", Json::array()}};
  for (const SimEvent &event : events) {
    Json op = {{"op", event.op}};
    for (const auto &f : event.fields) op[f.first] = toUtf8(f.second);
    record["operations"].push_back(std::move(op));
  }
  for (const auto &k : registry) {
    for (const auto &v : k.second.values) {
      record["registry"].push_back({{"key", toUtf8(k.second.path)},
                                    {"name", toUtf8(v.second.name)},
                                    {"type", toUtf8(v.second.type)},
                                    {"data", toUtf8(v.second.data)}});
    }
    record["keys"].push_back(toUtf8(k.second.path));
  }
  for (const SimService &s : services) {
    record["services"].push_back({{"name", toUtf8(s.name)},
                                  {"binary", toUtf8(s.binary)},
                                  {"start_type", s.startType},
                                  {"service_type", s.serviceType}});
  }
  for (const SimDevice &d : devices) {
    Json ids = Json::array();
    for (const std::wstring &id : d.hardwareIds) ids.push_back(toUtf8(id));
    record["devices"].push_back({{"instance_id", toUtf8(d.instanceId)},
                                 {"hardware_ids", std::move(ids)},
                                 {"inf", toUtf8(d.inf)},
                                 {"inbox", d.inbox}});
  }
  // One entry a line, so that the record reads as a list of what happened.
  std::string out = "{";
  bool firstSection = true;
  for (const auto &section : record.items()) {
    out += firstSection ? "" : ",\n";
    firstSection = false;
    out += Json(section.key()).dump() + ": [";
    bool firstEntry = true;
    for (const Json &entry : section.value()) {
      out += firstEntry ? "\n  " : ",\n  ";
      firstEntry = false;
      out += entry.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    out += "]";
  }
  out += "}\n";
  return out;
}

bool SimSetupHost::readNumber(const std::wstring &key, const std::wstring &name, uint32_t &out) {
  const SimKey *found = findKey(L"HKLM\\" + key);
  if (!found) return false;
  auto value = found->values.find(upper(name));
  if (value == found->values.end() || value->second.type != L"REG_DWORD") return false;
  out = static_cast<uint32_t>(std::wcstoul(value->second.data.c_str(), nullptr, 10));
  return true;
}

bool SimSetupHost::readText(const std::wstring &key, const std::wstring &name, std::wstring &out) {
  const SimKey *found = findKey(L"HKLM\\" + key);
  if (!found) return false;
  auto value = found->values.find(upper(name));
  if (value == found->values.end() ||
      (value->second.type != L"REG_SZ" && value->second.type != L"REG_EXPAND_SZ") ||
      value->second.data.size() > 4096)
    return false;
  out = value->second.data;
  return true;
}

bool SimSetupHost::serviceOpens(const std::wstring &name) {
  for (const SimService &service : services) {
    if (upper(service.name) == upper(name)) return true;
  }
  return false;
}

}  // namespace tal::os
