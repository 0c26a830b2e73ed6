// CBaseComponent: the framework class every installable component of the plug-in derives from.
// It owns the component log, reads the command-line switches, finds and reads the package
// definition file and the optional install.xml, keeps what they declare, answers the host's
// property queries, runs the pre-installation checks and offers the generic installation paths
// for driver packages. A derived component overrides only what it needs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cmplog.h"
#include "cstr.h"
#include "messages.h"
#include "pnpdriver.h"

class CTalXMLReader;
class CTalXMLNode;

// The library's own module handle, stored on process attach before the component is created.
extern void *g_moduleHandle;

// The folder of the plug-in library: its path cut at the last separator, at most `size`
// characters (terminator included) into `out`. Returns 1.
int32_t GetLibraryFolder(wchar_t *out, uint32_t size);
// The version file as every check finds it: a path without a drive ("x:") is relative to the
// folder of the plug-in library, whatever the current folder.
CStr ResolveVersionFile(const CStr &path);

enum InstallType : int32_t {
  INSTALL_UNKNOWN = -1,
  INSTALL_LEGACY = 1,
  INSTALL_PNP = 2,
  INSTALL_VIRTUAL = 3,
};

// One entry of the package's supported_operating_systems.
struct SupportedOS {
  wchar_t platform[64];  // "nt", "nt64", "nt_x86-64", compared ignoring case
  int32_t major;         // -1 when absent
  int32_t minor;         // -1 when absent
  int32_t servicePack;   // -1 when absent
  uint16_t edition;      // edition mask, 0xFFFF when absent
};

// One (device, hardware id) pair of the devices present in the system.
struct PresentDevice {
  W2KDEVINST device;
  CStr hardwareId;
};

// The property-5 record: a 32-bit status, then a zero-terminated wide text at byte 4 (on Linux
// wchar_t has 4 bytes, so the text is the second wchar_t). The host's size counts wchar_t.
struct InstallationStatus {
  int32_t status;
  wchar_t text[1];  // first character of the text; the record runs to the caller's size
};
static_assert(sizeof(int32_t) == 4, "status word");
constexpr uint32_t kInstallationStatusChars = 2052;

// Status codes of property 5.
enum InstallStatusCode : int32_t {
  STATUS_SAME = 1,
  STATUS_OLDER = 2,
  STATUS_NEWER = 3,
  STATUS_NO_HARDWARE_INSTALLED = 4,
  STATUS_NOT_INSTALLED = 5,
  STATUS_NOTHING = 6,
  STATUS_CANNOT_INSTALL = 7,
  STATUS_UNKNOWN_VERSION = 8,
};

// Writes the status word / the text (cut to the record's room) of a property-5 record of
// `size` wchar_t.
void SetInstallationStatus(void *record, int32_t status);
int32_t GetInstallationStatusCode(const void *record);
void SetInstallationText(void *record, uint32_t size, const wchar_t *text);
const wchar_t *GetInstallationText(const void *record);

// The edition mask of a supported operating system's `edition` text (ASCII letters lowered,
// compared exactly; an unknown text gives 0, which matches no system).
uint16_t EditionMaskFromName(const wchar_t *text);
// The edition mask of the running system from its product type and the R2 flag.
uint16_t EditionMaskFromProductType(uint32_t productType, bool serverR2);
// A hardware id from a supported device's text by its length: 7 "*%s" (EISA), 8
// "PCI\\VEN_vvvv&DEV_dddd", 16 "PCI\\VEN_vvvv&DEV_dddd&SUBSYS_ssssSSSS" (sub-device, then
// sub-vendor); any other length an empty id.
CStr MakeHardwareId(const wchar_t *text);

class CBaseComponent {
 public:
  CBaseComponent();
  CBaseComponent(const CBaseComponent &) = delete;
  CBaseComponent &operator=(const CBaseComponent &) = delete;

  // --- the 36 virtual operations, in slot order ---
  virtual ~CBaseComponent();                                               // 0
  virtual int32_t Initialize();                                            // 1
  virtual void Release();                                                  // 2
  virtual int32_t ReadPackageDefinition(const wchar_t *path);              // 3
  virtual int32_t ReadInstallerXml(const wchar_t *path);                   // 4
  virtual int32_t FindPackageDefinitionFile(wchar_t *out, uint32_t size);  // 5
  virtual int32_t Install(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                          const wchar_t *lang);  // 6
  virtual int32_t InstallLegacy(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                const wchar_t *lang);  // 7
  virtual int32_t InstallPnp(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                             const wchar_t *lang);  // 8
  virtual int32_t InstallVirtual(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                                 const wchar_t *lang);  // 9
  virtual int32_t GetProperty(uint32_t type, void *out, uint32_t size,
                              const wchar_t *lang);                                  // 10
  virtual int32_t GetName(wchar_t *out, uint32_t size, const wchar_t *lang);         // 11
  virtual int32_t GetDescription(wchar_t *out, uint32_t size, const wchar_t *lang);  // 12
  virtual int32_t GetInstalledVersion(wchar_t *out, uint32_t size);                  // 13
  virtual int32_t GetPackageVersion(wchar_t *out, uint32_t size);                    // 14
  virtual int32_t GetInstallationStatus(InstallationStatus *out, uint32_t size,
                                        const wchar_t *lang);  // 15
  virtual int32_t QueryProperty6();                            // 16
  virtual int32_t QueryProperty7();                            // 17
  virtual int32_t QueryProperty8();                            // 18
  virtual int32_t IsOSSupported();                             // 19
  virtual int32_t IsDiskSpaceAvailable(const wchar_t *path);   // 20
  virtual int32_t IsHardwarePresent();                         // 21
  virtual int32_t IsComponentInstalled();                      // 22
  virtual int32_t IsMarkedForRemoval();                        // 23
  virtual int32_t CompareInstalledVersion();                   // 24
  virtual int32_t CheckComponentRequirements(wchar_t *out, uint32_t size,
                                             const wchar_t *lang);   // 25
  virtual int32_t CheckDependencyList(wchar_t *out, uint32_t size);  // 26
  virtual void SetSilent(uint32_t value);                            // 27
  virtual void SetRequiredDiskSpace(uint32_t kb);                    // 28
  virtual void SetRebootRequired(uint32_t value);                    // 29
  virtual void SetVersionFilePath(const wchar_t *path);              // 30
  virtual void SetInfFile(const wchar_t *path, int32_t type);        // 31
  virtual void AddSupportedDevice(const wchar_t *id);                // 32
  virtual void AddSupportedOS(const SupportedOS &record);            // 33
  virtual CStr GetInfFile();                                         // 34
  virtual int32_t Is64BitOS();                                       // 35

  // --- non-virtual members ---
  // Property 9: takes the host's log in place of the own one (only while the own log is
  // verbose), merging the own verbose log into the host's.
  void AdoptHostLog(CCmpLog *hostLog);
  // The present-device list (all present devices, revision and class-code ids dropped unless
  // only the first id of each device is taken).
  void BuildDeviceList(bool firstIdOnly);
  // The first present device with this hardware id (ignoring case); builds the list when empty.
  int32_t FindPresentDevice(const wchar_t *id, PresentDevice *deviceOut);
  // Whether the service drives at least as many devices as the supported devices present
  // (its Enum key's Count; a single legacy entry drives none). 1 without supported devices.
  int32_t IsServiceBoundToDevices(const wchar_t *name);
  // Bytes available to the caller on the path's drive (null: the system drive).
  uint64_t GetFreeDiskSpace(const wchar_t *path);
  // Fills osMajor and osMinor with the system's true version numbers.
  void GetOSVersionNumbers();
  CCmpLog *GetLog() const { return log; }
  uint32_t OwnsLog() const { return ownsLog; }

 protected:
  // Parts of ReadPackageDefinition: the supported devices and operating systems of the
  // prerequisites element.
  void ReadSupportedDevices(const CTalXMLReader &reader, const CTalXMLNode &prerequisites);
  void ReadSupportedOperatingSystems(const CTalXMLReader &reader, const CTalXMLNode &prerequisites);
  // The version file as the checks and property 3 use it (ResolveVersionFile).
  CStr ResolvedVersionFilePath() const;

  // Fields, in declaration order.
  uint32_t dependencyChecked = 0;
  uint32_t systemModelSupported = 1;
  // What the checks could not read as they should (a service that does not open, a missing
  // version file or resource, a dependency.xml that cannot be applied as written): collected
  // while a check runs and written to the verbose log after that check's own line, so that the
  // line stays whole.
  std::wstring checkNotes;
  void WriteCheckNotes();
  uint32_t noOverwrite = 0;
  uint32_t osMajor = 0;
  uint32_t osMinor = 0;
  CStr infFile;
  CStr infSection;
  CStr serviceName;
  int32_t installType = INSTALL_UNKNOWN;
  wchar_t packageFileName[128] = {};
  wchar_t shellExecuteFile[260] = {};
  wchar_t shellExecuteDir[260] = {};
  uint32_t silent = 1;
  uint32_t rebootRequired = 0;
  uint32_t is64BitOS = 0;
  uint32_t requiredDiskSpaceKb = 0;
  CStr versionFilePath;
  std::unique_ptr<CTalXMLReader> packageReader;
  std::vector<SupportedOS> supportedOS;
  std::vector<CStr> supportedDevices;
  std::vector<PresentDevice> presentDevices;
  std::vector<CStr> supportedScsiIds;
  uint32_t ownsLog = 1;
  CCmpLog *log;
  // The device list behind presentDevices (their records point into its device set).
  std::unique_ptr<CWin2000DeviceList> deviceList;
};
