#include "basecomp.h"

#include <cstring>
#include <cwchar>

#include "inf.h"
#include "talxmlreader.h"

using tal::os::sys;

void *g_moduleHandle = nullptr;

namespace {

// Verbose targets 1 and 3 carry the source location; 2 and 4 none.
const wchar_t kSource[] = L"basecomp";
#define BC_HERE kSource, __LINE__
#define BC_NOWHERE nullptr, 0

const wchar_t kInstallerXml[] = L"install.xml";
const wchar_t kDependencyXml[] = L"dependency.xml";

wchar_t *RecordText(void *record) {
  return reinterpret_cast<wchar_t *>(static_cast<unsigned char *>(record) + 4);
}

// Up to four decimal parts of a dotted version, each kept as 16 bits; missing parts are 0.
void ParseDottedVersion(const wchar_t *text, uint16_t part[4]) {
  for (int i = 0; i < 4; ++i) part[i] = 0;
  const wchar_t *p = text;
  for (int i = 0; i < 4 && p; ++i) {
    unsigned long value = 0;
    while (*p >= L'0' && *p <= L'9') {
      value = value * 10 + static_cast<unsigned long>(*p - L'0');
      if (value > 0xFFFFFFFFul) value = 0xFFFFFFFFul;  // kept as 16 bits below in any case
      ++p;
    }
    part[i] = static_cast<uint16_t>(value);
    p = std::wcschr(p, L'.');
    if (p) ++p;
  }
}

}  // namespace

// --- the property-5 record ---

void SetInstallationStatus(void *record, int32_t status) { std::memcpy(record, &status, 4); }

int32_t GetInstallationStatusCode(const void *record) {
  int32_t status;
  std::memcpy(&status, record, 4);
  return status;
}

void SetInstallationText(void *record, uint32_t size, const wchar_t *text) {
  size_t bytes = static_cast<size_t>(size) * sizeof(wchar_t);
  if (bytes < 4 + sizeof(wchar_t)) return;
  CopyTruncated(RecordText(record), (bytes - 4) / sizeof(wchar_t), text);
}

const wchar_t *GetInstallationText(const void *record) {
  return RecordText(const_cast<void *>(record));
}

int32_t GetLibraryFolder(wchar_t *out, uint32_t size) {
  std::wstring path = sys().modulePath();
  if (path.size() > 260) path.resize(260);
  size_t cut = path.find_last_of(L"\\/");
  if (cut != std::wstring::npos) path.resize(cut);
  CopyTruncated(out, size, path.c_str());
  return 1;
}

// --- lifecycle ---

// A new component starts a new plug-in life: no log folder has been refused yet.
CBaseComponent::CBaseComponent() : log((ResetUntrustedLogFolder(), new CCmpLog())) {}

CBaseComponent::~CBaseComponent() { Release(); }

void CBaseComponent::Release() {
  if (log && ownsLog) log->DeletingDestructor(1);
  log = nullptr;
  packageReader.reset();
}

int32_t CBaseComponent::Initialize() {
  int32_t result = 1;
  std::wstring commandLine;
  if (!sys().commandLine(commandLine)) commandLine.clear();
  if (FindNoCase(commandLine.c_str(), L"/verbose_log") >= 0) log->SetVerbose(1);
  if (FindNoCase(commandLine.c_str(), L"/consoleout") >= 0) OpenConsoleOutput();
  if (FindNoCase(commandLine.c_str(), L"/no_overwrite") >= 0) noOverwrite = 1;

  // A log folder that cannot be created leaves the component working without that file.
  log->Open();
  log->Write(LT_VERBOSE, LS_NONE, BC_HERE,
             noOverwrite ? L"\r\n/no_overwrite DETECTED\r\n" : L"\r\n/no_overwrite ABSENT\r\n");

  log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"Detecting if 64-bit operating system... \r\n");
  is64BitOS = static_cast<uint32_t>(Is64BitOS());

  wchar_t name[260] = {};
  log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"Locating package definition file %ls... ", name);
  if (!FindPackageDefinitionFile(name, 260)) {
    log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Failed!\r\n");
  } else {
    log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Done.\r\n");
    log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"    - Reading package definition file %ls... ",
               name);
    if (ReadPackageDefinition(name) != 0) {
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Failed!\r\n");
      result = 0;
    } else {
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Done.\r\n");
    }
  }

  log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"Checking for install.xml... ");
  std::vector<std::wstring> installer = sys().findFiles(L"", kInstallerXml);
  if (installer.empty()) {
    log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Not found.\r\n");
  } else {
    log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Found.\r\n");
    log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"    - Reading installer XML %ls... ",
               installer[0].c_str());
    if (ReadInstallerXml(installer[0].c_str()) != 0) {
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Failed!\r\n");
      result = 0;
    } else {
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Done.\r\n");
    }
  }

  if (supportedDevices.empty()) return result;
  log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"Building PnP device list... ");
  BuildDeviceList(false);
  log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Done.\r\n");
  return result;
}

// --- properties ---

int32_t CBaseComponent::GetProperty(uint32_t type, void *out, uint32_t size, const wchar_t *lang) {
  if (!out) return 0;  // nothing to answer into: touch nothing
  switch (type) {
    case 1:
      return GetName(static_cast<wchar_t *>(out), size, lang);
    case 2:
      return GetDescription(static_cast<wchar_t *>(out), size, lang);
    case 3:
      return GetInstalledVersion(static_cast<wchar_t *>(out), size);
    case 4:
      return GetPackageVersion(static_cast<wchar_t *>(out), size);
    case 5:
      return GetInstallationStatus(static_cast<InstallationStatus *>(out), size, lang);
    case 6:
    case 7:
    case 8: {
      if (static_cast<size_t>(size) * sizeof(wchar_t) < sizeof(int32_t)) return 0;
      int32_t value = type == 6   ? QueryProperty6()
                      : type == 7 ? QueryProperty7()
                                  : QueryProperty8();
      std::memcpy(out, &value, sizeof(value));
      return 1;
    }
    case 9:
      AdoptHostLog(static_cast<CCmpLog *>(out));
      // 0 tells the host that a log folder could not be trusted and was left unwritten.
      return UntrustedLogFolder().empty() ? 1 : 0;
    default:
      return 0;
  }
}

int32_t CBaseComponent::GetInstalledVersion(wchar_t *out, uint32_t size) {
  if (!out) return 0;
  tal::os::FileVersion version;
  CStr path = ResolvedVersionFilePath();
  if (path.IsEmpty() || !sys().fileVersion(path.str(), version)) return 0;
  CStr text = CStr::Format(L"%d.%d.%d.%d", version.part[0], version.part[1], version.part[2],
                           version.part[3]);
  if (text.IsEmpty()) return 0;
  return CopyWhole(out, size, text.c_str()) ? 1 : 0;
}

int32_t CBaseComponent::QueryProperty6() { return static_cast<int32_t>(silent); }
int32_t CBaseComponent::QueryProperty7() { return static_cast<int32_t>(silent); }
int32_t CBaseComponent::QueryProperty8() { return 1; }

void CBaseComponent::AdoptHostLog(CCmpLog *hostLog) {
  // Only the own log, and only in verbose mode, is given up for the host's.
  if (!hostLog || hostLog == log || !ownsLog || !log || !log->IsVerbose()) return;
  std::wstring hostFolder = hostLog->GetVerboseFolder();
  std::wstring hostName = hostLog->GetVerboseName();
  log->MoveVerboseLog(hostName.c_str(), hostFolder.c_str());
  log->Close();
  log->DeletingDestructor(1);
  log = hostLog;
  ownsLog = 0;
  wchar_t name[256];
  CStr moved = CStr::Format(L"%ls.exe.log", packageFileName);
  CopyTruncated(name, 256, moved.c_str());
  hostLog->MoveVerboseLog(name, hostFolder.c_str());
}

// --- pre-installation checks ---

namespace {

// A check that rules the installation out: its answer line, then the status "cannot install" and
// the message for the host.
int32_t CannotInstall(CCmpLog *log, InstallationStatus *out, uint32_t size, const wchar_t *answer,
                      const wchar_t *message) {
  log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, answer);
  SetInstallationStatus(out, STATUS_CANNOT_INSTALL);
  SetInstallationText(out, size, message);
  return 1;
}

}  // namespace

int32_t CBaseComponent::GetInstallationStatus(InstallationStatus *out, uint32_t size,
                                              const wchar_t *lang) {
  if (!out || size < kInstallationStatusChars) return 0;
  SetInstallationText(out, size, L"");

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Is operating system supported...\r\n ");
  if (!IsOSSupported()) {
    return CannotInstall(log, out, size, L"Operating System NOT Supported...\r\n\r\n",
                         DirectMessage(osNotSupported, lang));
  }
  log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, L"Operating System IS Supported\r\n");

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Is necessary disk space available... \r\n");
  if (!IsDiskSpaceAvailable(nullptr)) {
    return CannotInstall(log, out, size, L"Necessary disk space available - No\r\n\r\n",
                         DirectMessage(notEnoughDiskSpace, lang));
  }
  log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, L"Necessary disk space IS available\r\n");

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Is hardware present... \r\n");
  int32_t hardware = IsHardwarePresent();
  log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE,
             hardware ? L"Hardware IS present\r\n" : L"Hardware NOT present\r\n");

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Is component already installed... ");
  int32_t installed = IsComponentInstalled();
  log->Write(
      LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE,
      installed ? L"Component IS already installed\r\n" : L"Component NOT already installed\r\n");
  WriteCheckNotes();

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Is component marked for removal... ");
  int32_t removal = IsMarkedForRemoval();
  log->Write(
      LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE,
      removal ? L"Component IS marked for removal\r\n" : L"Component NOT marked for removal\r\n");

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Installed component version status... ");
  int32_t version = CompareInstalledVersion();
  static const wchar_t *const versionLines[] = {L"Component version is Older\r\n",
                                                L"Component version is Same\r\n",
                                                L"Component version is Newer\r\n"};
  if (version >= 0 && version <= 2) {
    log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, versionLines[version]);
  }
  WriteCheckNotes();

  std::vector<wchar_t> reason(4096, L'\0');
  int32_t requirements = CheckComponentRequirements(reason.data(), 4096, lang);
  reason[4095] = L'\0';

  log->Write(LT_BOTH, LS_NONE, BC_HERE, L"    - Checking dependency list... ");
  std::vector<wchar_t> dependencyText(4096, L'\0');
  int32_t dependencies = CheckDependencyList(dependencyText.data(), 4096);
  dependencyText[4095] = L'\0';
  log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE,
             dependencies ? L"Done.\r\n\r\n" : L"Failed!\r\n\r\n");
  WriteCheckNotes();

  int32_t status = STATUS_UNKNOWN_VERSION;
  if (hardware) {
    if (!requirements && reason[0] != L'\0') SetInstallationText(out, size, reason.data());
    if (!requirements || removal) {
      status = STATUS_CANNOT_INSTALL;
      if (removal) SetInstallationText(out, size, DirectMessage(markedForRemoval, lang));
    } else if (installed) {
      if (version == 0) status = STATUS_OLDER;
      if (version == 1) status = STATUS_SAME;
      if (version == 2) status = STATUS_NEWER;
    } else {
      status = STATUS_NOT_INSTALLED;
    }
  } else {
    status = installed ? STATUS_NO_HARDWARE_INSTALLED : STATUS_NOTHING;
  }
  if (!dependencies) {
    status = STATUS_NOTHING;
    if (dependencyText[0] != L'\0') SetInstallationText(out, size, dependencyText.data());
  }
  SetInstallationStatus(out, status);
  return 1;
}

int32_t CBaseComponent::IsDiskSpaceAvailable(const wchar_t *path) {
  if (requiredDiskSpaceKb == 0) return 1;
  // Held at the largest 32-bit count rather than wrapped: a volume with more than 4 TiB free
  // must not read as nearly full.
  const uint64_t freeKb = GetFreeDiskSpace(path) / 1024;
  const uint32_t freeKb32 = freeKb > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(freeKb);
  return requiredDiskSpaceKb <= freeKb32 ? 1 : 0;
}

uint64_t CBaseComponent::GetFreeDiskSpace(const wchar_t *path) {
  // With a path, its volume; without, the root of the system directory's drive ("C:\\").
  std::wstring where;
  if (path) {
    where = std::wstring(path) + L"\\";
  } else {
    tal::os::SystemIdentity identity;
    sys().systemIdentity(identity);
    where = identity.kernelPath.substr(0, 3);
  }
  uint64_t bytes = 0;
  return sys().freeDiskBytes(where, bytes) ? bytes : 0;
}

int32_t CBaseComponent::IsHardwarePresent() {
  if (supportedDevices.empty()) return 1;
  for (const CStr &id : supportedDevices) {
    if (FindPresentDevice(id.c_str(), nullptr)) return 1;
  }
  return 0;
}

void CBaseComponent::BuildDeviceList(bool firstIdOnly) {
  presentDevices.clear();
  deviceList.reset(new CWin2000DeviceList(log));
  if (!deviceList->Enumerate()) return;
  // Each device's hardware ids, a list of zero-terminated texts read into a 2048-byte buffer.
  constexpr uint32_t kIdChars = 2048 / 2;
  std::vector<wchar_t> ids(kIdChars + 1, L'\0');
  for (uint32_t index = 0; index < deviceList->Count(); ++index) {
    uint32_t size = kIdChars;
    if (!deviceList->GetHardwareIds(index, ids.data(), &size)) {
      if (size > kIdChars) {
        log->Write(LT_VERBOSE, LS_WARNING, BC_HERE,
                   L"A device's hardware ids need %u characters, more than %u; the device is not "
                   L"listed.\r\n",
                   size, kIdChars);
      }
      continue;
    }
    ids[size < kIdChars ? size : kIdChars] = L'\0';  // the list ends inside the buffer
    const W2KDEVINST *device = deviceList->Device(index);
    if (!device) continue;
    for (size_t at = 0; at < size && ids[at] != L'\0'; at += std::wcslen(&ids[at]) + 1) {
      const wchar_t *id = &ids[at];
      if (firstIdOnly) {
        presentDevices.push_back(PresentDevice{*device, CStr(id)});
        break;
      }
      if (std::wcsstr(id, L"&REV") || std::wcsstr(id, L"&CC")) continue;
      presentDevices.push_back(PresentDevice{*device, CStr(id)});
    }
  }
}

int32_t CBaseComponent::FindPresentDevice(const wchar_t *id, PresentDevice *deviceOut) {
  if (presentDevices.empty()) BuildDeviceList(false);
  for (const PresentDevice &device : presentDevices) {
    if (device.hardwareId.EqualsNoCase(id)) {
      if (deviceOut) *deviceOut = device;
      return 1;
    }
  }
  return 0;
}

namespace {

const wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services\\";

// The service name the INF's first install section adds (at most 260 characters); empty when
// the INF does not open or adds none.
std::wstring InfServiceName(const CStr &infFile, CCmpLog *log) {
  if (infFile.IsEmpty()) return std::wstring();
  CInf inf(infFile.c_str(), log);
  wchar_t name[261] = {};
  if (!inf.IsOpen() || !inf.GetServiceName(nullptr, name, 261)) return std::wstring();
  return name;
}

// The service is to be deleted at the next restart: its DeleteFlag is 1 when it exists; else
// (and when it does not) its legacy device node's StatusFlags are exactly 0x40008.
bool MarkedForDeletion(const std::wstring &service) {
  tal::os::SetupHost &host = tal::os::setup();
  uint32_t flag = 0;
  if (host.serviceOpens(service) && host.readNumber(kServicesKey + service, L"DeleteFlag", flag) &&
      flag == 1)
    return true;
  const std::wstring legacy =
      L"System\\CurrentControlSet\\Enum\\Root\\LEGACY_" + service + L"\\0000";
  return host.readNumber(legacy, L"StatusFlags", flag) && flag == 0x40008;
}

}  // namespace

int32_t CBaseComponent::IsComponentInstalled() {
  const CStr versionFile = ResolvedVersionFilePath();
  const bool versionFileThere = !versionFile.IsEmpty() && sys().isRegularFile(versionFile.str());
  std::unique_ptr<CInf> inf(infFile.IsEmpty() ? nullptr : new CInf(infFile.c_str(), log));
  if (!inf || !inf->IsOpen()) return versionFileThere ? 1 : 0;
  std::wstring service = serviceName.str();
  if (service.empty()) service = InfServiceName(infFile, log);
  if (service.empty()) return versionFileThere ? 1 : 0;

  tal::os::SetupHost &host = tal::os::setup();
  const std::wstring key = kServicesKey + service;
  uint32_t start = 0;
  const bool disabled = host.readNumber(key, L"Start", start) && start == 4;
  const bool opens = host.serviceOpens(service);
  if (!opens) {
    checkNotes += L"The service " + service +
                  L" cannot be opened (absent, or no administrative rights); the component counts "
                  L"as not installed.\r\n";
  }
  int32_t installed = opens && host.keyExists(key) && !disabled && !MarkedForDeletion(service);
  if (!installed) return 0;
  tal::os::SystemIdentity identity;
  sys().systemIdentity(identity);
  const wchar_t *infClass = inf->GetClass();
  const wchar_t *classGuid = inf->GetClassGuid();
  if (identity.reportedMajor > 4 && infClass && *infClass && classGuid && *classGuid &&
      installType == INSTALL_PNP) {
    installed = IsServiceBoundToDevices(service.c_str());
  }
  return installed;
}

int32_t CBaseComponent::IsServiceBoundToDevices(const wchar_t *name) {
  if (supportedDevices.empty()) return 1;
  tal::os::SetupHost &host = tal::os::setup();
  const std::wstring key =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + (name ? name : L"") + L"\\Enum";
  uint32_t count = 0;
  if (!host.readNumber(key, L"Count", count)) return 0;
  std::wstring first;
  if (count == 1 && host.readText(key, L"0", first) && first.find(L"LEGACY_") != std::wstring::npos)
    return 0;
  uint32_t found = 0;
  for (const CStr &id : supportedDevices) found += FindPresentDevice(id.c_str(), nullptr) ? 1 : 0;
  return count >= found ? 1 : 0;
}

void CBaseComponent::WriteCheckNotes() {
  if (checkNotes.empty()) return;
  log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"%ls", checkNotes.c_str());
  checkNotes.clear();
}

int32_t CBaseComponent::IsMarkedForRemoval() {
  // The INF's own service name; serviceName from install.xml is not consulted here.
  const std::wstring service = InfServiceName(infFile, log);
  return !service.empty() && MarkedForDeletion(service) ? 1 : 0;
}

CStr ResolveVersionFile(const CStr &path) {
  if (path.IsEmpty()) return CStr();
  const std::wstring &text = path.str();
  if (text.size() >= 2 && text[1] == L':') return path;
  wchar_t folder[261] = {};
  GetLibraryFolder(folder, 261);
  CStr resolved = folder;
  resolved += L"\\";
  resolved += path;
  return resolved;
}

CStr CBaseComponent::ResolvedVersionFilePath() const { return ResolveVersionFile(versionFilePath); }

int32_t CBaseComponent::CompareInstalledVersion() {
  CStr path = ResolvedVersionFilePath();
  if (path.IsEmpty() || !sys().isRegularFile(path.str())) {
    checkNotes += path.IsEmpty() ? std::wstring(L"The package names no version file")
                                 : L"The version file " + path.str() + L" does not exist";
    checkNotes += L"; the installed version counts as older.\r\n";
    return 0;
  }
  tal::os::FileVersion installed;
  if (!sys().fileVersion(path.str(), installed)) {
    checkNotes += L"The version file " + path.str() +
                  L" has no version resource; the installed version counts as 0.0.0.0.\r\n";
    installed = tal::os::FileVersion{};
  }
  wchar_t text[255] = {};
  if (!GetPackageVersion(text, 255)) return 0;
  text[254] = L'\0';
  uint16_t part[4];
  ParseDottedVersion(text, part);
  uint64_t package =
      (uint64_t(part[0]) << 48) | (uint64_t(part[1]) << 32) | (uint64_t(part[2]) << 16) | part[3];
  uint64_t current = (uint64_t(installed.part[0]) << 48) | (uint64_t(installed.part[1]) << 32) |
                     (uint64_t(installed.part[2]) << 16) | installed.part[3];
  if (current == package) return 1;
  return current > package ? 2 : 0;
}

int32_t CBaseComponent::CheckComponentRequirements(wchar_t *out, uint32_t size,
                                                   const wchar_t *lang) {
  return 1;
}

namespace {

// A text without its trailing blanks (space, tab, carriage return, line feed).
std::wstring WithoutTrailingBlanks(const wchar_t *text) {
  std::wstring out = text ? text : L"";
  const size_t last = out.find_last_not_of(L" \t\r\n");
  out.resize(last == std::wstring::npos ? 0 : last + 1);
  return out;
}

}  // namespace

int32_t CBaseComponent::CheckDependencyList(wchar_t *out, uint32_t size) {
  // A dependency.xml that cannot be loaded passes; one that loads names the system models the
  // package is for, compared with the computer model that WMI reports.
  CTalXMLReader reader;
  bool supported = true;
  const int32_t loaded = reader.LoadFile(kDependencyXml);
  if (loaded == 3) checkNotes += L"No dependency.xml: every system model is supported.\r\n";
  if (loaded == 4 || loaded == 5) {
    checkNotes += loaded == 4 ? L"dependency.xml cannot be read; no system model is required.\r\n"
                              : L"dependency.xml is not well-formed; no system model is "
                                L"required.\r\n";
  }
  if (loaded == 0 && reader.GetRoot()) {
    supported = false;
    const CTalXMLNode *node = reader.FindChild(nullptr, L"componentdependencies");
    for (const wchar_t *name : {L"dependent_hardware", L"platforms"}) {
      node = node ? reader.FindChild(node, name) : nullptr;
    }
    std::wstring model;
    const bool modelKnown = node && sys().computerModel(model);
    if (node && !modelKnown) {
      checkNotes +=
          L"The computer model cannot be read (WMI); the system models dependency.xml "
          L"lists cannot be matched.\r\n";
    }
    if (modelKnown) {
      const std::wstring system = WithoutTrailingBlanks(model.c_str());
      for (const CTalXMLNode *platform = reader.FindChild(node, L"platform"); platform;
           platform = platform->GetNextSibling()) {
        const wchar_t *listed = platform->GetAttribute(L"model");
        if (listed && CompareNoCase(WithoutTrailingBlanks(listed).c_str(), system.c_str()) == 0) {
          supported = true;
          break;
        }
      }
    }
  }
  dependencyChecked = 1;
  if (supported) {
    systemModelSupported = 1;
    return 1;
  }
  if (out) CopyTruncated(out, size, kSystemModelNotSupported);
  systemModelSupported = 0;
  return 0;
}

// --- installation paths ---

int32_t CBaseComponent::Install(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                const wchar_t *lang) {
  log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, L"Initiating installation... ");
  int32_t result = 0;
  switch (installType) {
    case INSTALL_LEGACY:
      log->Write(LT_MAIN, LS_NONE, BC_NOWHERE, L"\r\n");
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Type=LEGACY\r\n");
      result = InstallLegacy(a, b, resultText, d, lang);
      break;
    case INSTALL_PNP:
      log->Write(LT_MAIN, LS_NONE, BC_NOWHERE, L"\r\n");
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Type=PNP\r\n");
      result = InstallPnp(a, b, resultText, d, lang);
      break;
    case INSTALL_VIRTUAL:
      log->Write(LT_MAIN, LS_NONE, BC_NOWHERE, L"\r\n");
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Type=LEGACY\r\n");
      result = InstallVirtual(a, b, resultText, d, lang);
      break;
    default:
      if (resultText) std::wcscpy(resultText, LookupMessage(unknownInfType, lang));
      log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, L"\r\n");
      log->Write(LT_BOTH_NOLOC, LS_ERROR, BC_NOWHERE, L"%ls\r\n", unknownInfType.text[0]);
      result = 0;
      break;
  }
  if (shellExecuteFile[0] != L'\0') {
    log->Write(LT_VERBOSE, LS_NONE, BC_HERE, L"Executing ShellExecute command - open %ls... ",
               shellExecuteFile);
    if (!sys().shellOpen(shellExecuteFile, shellExecuteDir)) {
      if (resultText) std::wcscpy(resultText, LookupMessage(shellOpenFailed, lang));
      log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Failed!\r\n");
      return 0;
    }
    log->Write(LT_VERBOSE_NOLOC, LS_NONE, BC_NOWHERE, L"Done.\r\n");
  }
  return result;
}

namespace {

// The LEGACY and VIRTUAL paths: the INF's default installation, or the section install.xml
// names. 2 when a reboot is needed (the package's or the INF's), 1, or 0.
int32_t InstallInf(const CStr &infFile, const CStr &section, bool virtualMode,
                   uint32_t rebootRequired, CCmpLog *log) {
  if (infFile.IsEmpty()) return 0;
  CInf inf(infFile.c_str(), log);
  if (!inf.IsOpen()) return 0;
  if (virtualMode) inf.SetVirtualMode(true);
  int32_t reboot = 0;
  const int32_t done = section.IsEmpty() ? inf.InstallDefault(&reboot)
                                         : inf.InstallSection(section.c_str(), &reboot, 0);
  if (!done) return 0;
  return rebootRequired || reboot ? 2 : 1;
}

}  // namespace

int32_t CBaseComponent::InstallLegacy(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                      const wchar_t *lang) {
  return InstallInf(infFile, infSection, false, rebootRequired, log);
}

int32_t CBaseComponent::InstallVirtual(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                       const wchar_t *lang) {
  return InstallInf(infFile, infSection, true, rebootRequired, log);
}

int32_t CBaseComponent::InstallPnp(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                   const wchar_t *lang) {
  if (supportedDevices.empty()) {
    const wchar_t *text = LookupMessage(noSupportedDevices, lang);
    if (resultText) std::wcscpy(resultText, text);
    log->Write(LT_BOTH_NOLOC, LS_NONE, BC_NOWHERE, L"%ls\r\n", text);
    return 0;
  }
  CWin2000PnPDriver driver(infFile.c_str(), 1, log);
  bool alreadyHasDriver = false;
  std::wstring packageService;  // read once, when a device needs the comparison
  bool packageServiceRead = false;
  for (const CStr &id : supportedDevices) {
    PresentDevice present;
    if (!FindPresentDevice(id.c_str(), &present)) continue;
    const bool inbox = (present.device.driverParams.flags & tal::os::kDriverFlagInbox) != 0;
    if (noOverwrite && !inbox) {
      if (!packageServiceRead) {
        packageService = InfServiceName(infFile, log);
        packageServiceRead = true;
      }
      wchar_t installedInf[261] = {};
      std::wcsncpy(installedInf, present.device.driverDetail.infFileName, 260);
      const std::wstring installedService = InfServiceName(CStr(installedInf), log);
      // The same service means the device already runs this driver. A package INF that names no
      // service cannot show that: its devices are updated (two empty names are not a match, or
      // the installation would report success having done nothing).
      if (!packageService.empty() &&
          CompareNoCase(packageService.c_str(), installedService.c_str()) == 0) {
        alreadyHasDriver = true;
        continue;
      }
    }
    driver.AddDevice(id.c_str());
  }
  const int32_t code = driver.Install(static_cast<int32_t>(noOverwrite), alreadyHasDriver ? 1 : 0);
  const MessageTable *failure = code == 1                             ? &noDevicesFound
                                : code == 2 || code == 3 || code == 5 ? &installationError
                                : code == 4                           ? &failedOnDevice
                                                                      : nullptr;
  if (code != 0) {
    if (failure && resultText) std::wcscpy(resultText, LookupMessage(*failure, lang));
    return 0;
  }
  return rebootRequired || driver.RebootNeeded() ? 2 : 1;
}

// --- setters ---

void CBaseComponent::SetSilent(uint32_t value) { silent = value; }
void CBaseComponent::SetRequiredDiskSpace(uint32_t kb) { requiredDiskSpaceKb = kb; }
void CBaseComponent::SetRebootRequired(uint32_t value) { rebootRequired = value; }
void CBaseComponent::SetVersionFilePath(const wchar_t *path) { versionFilePath = path; }

void CBaseComponent::SetInfFile(const wchar_t *path, int32_t type) {
  infFile = path;
  installType = type;
}

void CBaseComponent::AddSupportedDevice(const wchar_t *id) { supportedDevices.push_back(CStr(id)); }
void CBaseComponent::AddSupportedOS(const SupportedOS &record) { supportedOS.push_back(record); }
CStr CBaseComponent::GetInfFile() { return infFile; }
