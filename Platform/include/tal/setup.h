// The driver-installation seam: what the INF model, the present-device list and the PnP driver
// installer ask of the system, and nothing more.
//
//  - INF files opened by path: section names, the lines of a section (key and fields with %key%
//    replaced), install operations on an open INF (registry / ini / profile items with a file-queue
//    callback, services), a root-enumerated device node;
//  - files: copy with fail-if-exists, move, delete, replace or delete at the next restart,
//    folders, attributes;
//  - registry keys of the local machine (exists, create), present devices with their hardware ids
//    and installed driver, driver update for present devices, shortcuts.
//
// Backends: win32/ (the system's setup library, newdev, registry and shell), native/ (a simulated
// Windows host: the INF reader of tal/infreader.h, and a registry, services and present devices
// from the machine description, recording every change), and a fake for tests (fake/).
//
// Errors are Win32 error numbers (0: success), since the callers decide by them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tal::os {

namespace winerr {
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidData = 13;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kLockViolation = 33;
constexpr uint32_t kFileExists = 80;
constexpr uint32_t kDirNotEmpty = 145;
constexpr uint32_t kDirectory = 267;  // ERROR_DIRECTORY: not a folder
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kAlreadyExists = 183;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint32_t kServiceExists = 1073;
constexpr uint32_t kDuplicateServiceName = 1078;
constexpr uint32_t kFileInvalid = 1006;  // ERROR_FILE_INVALID (an empty INF)
constexpr uint32_t kUserMappedFile = 1224;
constexpr uint32_t kExpectedSectionName = 0xE0000000;  // ERROR_EXPECTED_SECTION_NAME
constexpr uint32_t kBadSectionNameLine = 0xE0000001;   // ERROR_BAD_SECTION_NAME_LINE
constexpr uint32_t kSectionNameTooLong = 0xE0000002;   // ERROR_SECTION_NAME_TOO_LONG
constexpr uint32_t kWrongInfStyle = 0xE0000100;        // ERROR_WRONG_INF_STYLE
constexpr uint32_t kSectionNotFound = 0xE0000101;      // ERROR_SECTION_NOT_FOUND
constexpr uint32_t kLineNotFound = 0xE0000102;         // ERROR_LINE_NOT_FOUND
constexpr uint32_t kNoSuchDevInst = 0xE000020B;        // ERROR_NO_SUCH_DEVINST
constexpr uint32_t kNoDriverSelected = 0xE0000203;     // ERROR_NO_DRIVER_SELECTED
}  // namespace winerr

// One line of an INF section, as the setup library gives it: the key (field 0) and fields 1..n,
// each with %key% replaced from [Strings]. A line of one field without '=' has that field as its
// key too.
struct InfLine {
  bool hasKey = false;
  std::wstring key;
  std::vector<std::wstring> fields;
};

class InfFile {
 public:
  virtual ~InfFile() = default;
  // Every section name of the file, in file order, however many; false when the list cannot be
  // read whole.
  virtual bool sectionNames(std::vector<std::wstring> &out) = 0;
  // The lines of a section (name compared ignoring case); false when there is no such section.
  virtual bool sectionLines(const std::wstring &section, std::vector<InfLine> &out) = 0;
};

// File-queue notifications the installer's callback answers, and its answers.
constexpr uint32_t kQueueDeleteError = 7;     // SPFILENOTIFY_DELETEERROR
constexpr uint32_t kQueueCopyError = 13;      // SPFILENOTIFY_COPYERROR
constexpr uint32_t kQueueNeedMedia = 14;      // SPFILENOTIFY_NEEDMEDIA
constexpr uint32_t kQueueFileOpDelayed = 20;  // SPFILENOTIFY_FILEOPDELAYED
constexpr uint32_t kQueueProceed = 1;         // FILEOP_DOIT
constexpr uint32_t kQueueSkip = 2;            // FILEOP_SKIP
using QueueCallback = std::function<uint32_t(uint32_t notification, const std::wstring &source,
                                             const std::wstring &target)>;

// What an install from an INF section does (SPINST_*).
constexpr uint32_t kInstallLogConfig = 0x1;
constexpr uint32_t kInstallIniFiles = 0x2;
constexpr uint32_t kInstallRegistry = 0x4;
constexpr uint32_t kInstallIni2Reg = 0x8;
constexpr uint32_t kInstallProfileItems = 0x100;

// The device and driver records of the setup library, field for field (on 64-bit Windows these
// are SP_DEVINFO_DATA, SP_DRVINFO_DATA_V2_W, SP_DRVINSTALL_PARAMS and SP_DRVINFO_DETAIL_DATA_W
// byte for byte; natively wchar_t is wider, nothing else differs).
struct SetupGuid {
  uint32_t data1 = 0;
  uint16_t data2 = 0, data3 = 0;
  uint8_t data4[8] = {};
};
struct DevInfoData {
  uint32_t cbSize = 0;
  SetupGuid classGuid;
  uint32_t devInst = 0;
  uintptr_t reserved = 0;
};
struct DriverInfoData {
  uint32_t cbSize = 0;
  uint32_t driverType = 0;
  uintptr_t reserved = 0;
  wchar_t description[256] = {};
  wchar_t mfgName[256] = {};
  wchar_t providerName[256] = {};
  uint32_t driverDate[2] = {};
  uint64_t driverVersion = 0;
};
struct DriverInstallParams {
  uint32_t cbSize = 0;
  uint32_t rank = 0;
  uint32_t flags = 0;  // DNF_INBOX_DRIVER 0x100000 among them
  uintptr_t privateData = 0;
  uint32_t reserved = 0;
};
struct DriverDetailData {
  uint32_t cbSize = 0;
  uint32_t infDate[2] = {};
  uint32_t compatIdsOffset = 0;
  uint32_t compatIdsLength = 0;
  uintptr_t reserved = 0;
  wchar_t sectionName[256] = {};
  wchar_t infFileName[260] = {};
  wchar_t drvDescription[256] = {};
  wchar_t hardwareId[1] = {};
};
constexpr uint32_t kDriverFlagInbox = 0x100000;  // DNF_INBOX_DRIVER

// The driver installed on a present device.
struct InstalledDriver {
  DriverInfoData data;
  DriverInstallParams params;
  DriverDetailData detail;
};

// All present devices of every class, in enumeration order. Destroying it releases the set.
class DeviceSet {
 public:
  virtual ~DeviceSet() = default;
  virtual size_t count() = 0;
  // The device's data, and its installed driver (false in hasDriver when none can be read).
  virtual bool device(size_t index, DevInfoData &data, InstalledDriver &driver,
                      bool &hasDriver) = 0;
  // The device's hardware ids (SPDRP_HARDWAREID) as a list of zero-terminated texts with a
  // final zero; false when the device has none.
  virtual bool hardwareIds(size_t index, std::wstring &multiText) = 0;
};

// A root-enumerated device node created from an INF, with its driver selected.
class DeviceNode {
 public:
  virtual ~DeviceNode() = default;
  virtual DevInfoData data() = 0;
  // Installs the device (DIF_INSTALLDEVICE); reboot when its install parameters ask for a
  // restart. 0 or the error.
  virtual uint32_t install(bool &reboot) = 0;
  // The first hardware id of the device; false when it has none.
  virtual bool hardwareId(std::wstring &out) = 0;
};

class SetupHost {
 public:
  virtual ~SetupHost() = default;

  // --- INF files ---
  // Opens an INF in the Windows 2000 style; null with the error (and the line of a syntax
  // error, 0 when none) on failure.
  virtual std::unique_ptr<InfFile> openInf(const std::wstring &path, uint32_t &error,
                                           unsigned &errorLine) = 0;
  // SetupInstallFromInfSection on a section of an open INF: the items `flags` selects, under the
  // local machine key `relativeKey` (empty: the local machine hive itself), files from
  // `sourceRoot`, file-queue notifications to `callback`. 0 or the error.
  virtual uint32_t installFromSection(InfFile &inf, const std::wstring &section, uint32_t flags,
                                      const std::wstring &relativeKey,
                                      const std::wstring &sourceRoot,
                                      const QueueCallback &callback) = 0;
  // The AddService / DelService lines of a section. 0 or the error.
  virtual uint32_t installServices(InfFile &inf, const std::wstring &section) = 0;
  // A new root-enumerated device of the INF's class (by class name), named `deviceName`
  // (generated instance id), registered, with `infPath` as its driver path and the class
  // drivers of that INF selected in turn (the last stays selected). Null with the error.
  virtual std::unique_ptr<DeviceNode> createRootDevice(const std::wstring &className,
                                                       const std::wstring &deviceName,
                                                       const std::wstring &infPath,
                                                       uint32_t &error) = 0;

  // --- files ---
  virtual uint32_t copyFile(const std::wstring &source, const std::wstring &target,
                            bool failIfExists) = 0;
  virtual uint32_t moveFile(const std::wstring &from, const std::wstring &to) = 0;
  virtual uint32_t deleteFile(const std::wstring &path) = 0;
  // Replaces `to` with `from` at the next restart; an empty `to` deletes `from` then.
  virtual uint32_t moveAtRestart(const std::wstring &from, const std::wstring &to) = 0;
  // One folder; kAlreadyExists when it exists, kPathNotFound when its parent is missing.
  virtual uint32_t createDirectory(const std::wstring &path) = 0;
  // Removes one empty folder. 0 or the error.
  virtual uint32_t removeDirectory(const std::wstring &path) = 0;
  virtual bool fileExists(const std::wstring &path) = 0;
  // Sets the file's attributes to normal (clears read-only and the others).
  virtual void clearAttributes(const std::wstring &path) = 0;
  // The system folder ("C:\\Windows\\system32").
  virtual std::wstring systemDirectory() = 0;
  // The all-users programs folder of the start menu.
  virtual std::wstring commonProgramsFolder() = 0;
  // A shortcut file at `linkPath` to `target`.
  virtual uint32_t createShortcut(const std::wstring &linkPath, const std::wstring &target,
                                  const std::wstring &arguments,
                                  const std::wstring &workingDir) = 0;

  // --- registry (local machine) ---
  virtual bool keyExists(const std::wstring &path) = 0;
  // Creates (or opens) the key with read and write access. 0 or the error.
  virtual uint32_t createKey(const std::wstring &path) = 0;

  // --- devices ---
  // Every present device of every class; null with the error.
  virtual std::unique_ptr<DeviceSet> presentDevices(uint32_t &error) = 0;
  // Loads newdev.dll (critical-error dialogs suppressed) and finds its driver-update function:
  // 0, 2 (the library cannot be loaded) or 3 (the function is missing).
  virtual int loadDriverUpdater() = 0;
  // UpdateDriverForPlugAndPlayDevices for every present device with this hardware id (after a
  // successful loadDriverUpdater). 0 or the error; reboot receives the update's answer.
  virtual uint32_t updateDriver(const std::wstring &hardwareId, const std::wstring &infPath,
                                bool force, bool &reboot) = 0;
  virtual void unloadDriverUpdater() = 0;
  // For tests and tools: a new root-enumerated device with this hardware id and no driver
  // (instance id out). 0 or the error.
  virtual uint32_t registerRootDevice(const std::wstring &hardwareId, std::wstring &instanceId) = 0;

  // --- what the installation checks read ---
  // A value under a local machine key: a number (REG_DWORD), a text (REG_SZ, REG_EXPAND_SZ as
  // stored, at most 4096 characters). False when the key or value is missing or of another type.
  virtual bool readNumber(const std::wstring &key, const std::wstring &name, uint32_t &out) = 0;
  virtual bool readText(const std::wstring &key, const std::wstring &name, std::wstring &out) = 0;
  // The service control manager opens the service with full access (false also when the caller
  // may not: without administrative rights a service counts as absent).
  virtual bool serviceOpens(const std::wstring &name) = 0;
};

// The current host: the backend of this build unless a test installed another.
SetupHost &setup();
// Installs a host (tests); nullptr restores the built-in backend. Not owned.
void setSetupHost(SetupHost *host);

}  // namespace tal::os
