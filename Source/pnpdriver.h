// The present-device list and the PnP driver installer.
//
// CWin2000DeviceList enumerates the devices present in the system and keeps, for each, its
// device record with the driver installed on it (W2KDEVINST). CWin2000PnPDriver installs a driver
// package for a list of hardware ids: it stages the INF, its catalog files and every file the INF
// copies into a new, empty folder under "<system drive>\TALSYSTEM\pnpdrvs", then asks the system
// to update the driver of every present device that matches each id, and removes what it staged.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cmplog.h"
#include "cstr.h"
#include "tal/setup.h"

// One present device.
struct W2KDEVINST {
  tal::os::DevInfoData deviceData;            // the device
  tal::os::DriverInfoData driverData;         // its installed driver (empty when none)
  tal::os::DriverDetailData driverDetail;     // the driver's details, its INF file name among them
  tal::os::DriverInstallParams driverParams;  // Flags: kDriverFlagInbox for a system driver
  void *deviceSet = nullptr;                  // the set that holds the device; null: empty record
};

class CWin2000DeviceList {
 public:
  explicit CWin2000DeviceList(CCmpLog *log = nullptr);
  ~CWin2000DeviceList();
  CWin2000DeviceList(const CWin2000DeviceList &) = delete;
  CWin2000DeviceList &operator=(const CWin2000DeviceList &) = delete;

  // All present devices of every class; 1, or 0 when the system gives no device set.
  int32_t Enumerate();
  uint32_t Count() const { return static_cast<uint32_t>(devices_.size()); }
  // Null when out of range.
  const W2KDEVINST *Device(uint32_t index) const;
  // The hardware ids of device `index` as zero-terminated texts with a final zero, into
  // `buffer` of *sizeInOut characters. When the buffer is null or too small (or the device has
  // none), *sizeInOut receives the characters needed and the result is 0.
  int32_t GetHardwareIds(uint32_t index, wchar_t *buffer, uint32_t *sizeInOut);

 private:
  std::unique_ptr<tal::os::DeviceSet> set_;
  std::vector<W2KDEVINST> devices_;
  CCmpLog *log_;
};

class CWin2000PnPDriver {
 public:
  // `log` (not owned) receives the log lines; null logs nothing.
  CWin2000PnPDriver(const wchar_t *infName, int32_t force, CCmpLog *log = nullptr);

  // Appends a hardware id unless it is listed already (exact comparison).
  void AddDevice(const wchar_t *id);
  // 0 success, 1 nothing to install, 2 newdev.dll cannot be loaded, 3 its update function is
  // missing, 4 at least one update failed, 5 the driver files could not be staged (no device
  // was updated).
  int32_t Install(int32_t noOverwrite, int32_t alreadyHasDriver);
  int32_t RebootNeeded() const { return rebootNeeded; }

  // The staging steps, also for tests. The file list read from the INF beside the plug-in
  // library: false (with a log line) when the INF cannot be opened or its sections listed.
  bool CollectStagedFiles();
  // The copies from the current folder into `folder`: false (with a log line) when a listed file
  // can be staged neither as itself nor in its compressed form, or a copy fails.
  bool StageFiles(const CStr &folder);
  // The folder above the staging folders: the system folder's drive + "\TALSYSTEM\pnpdrvs".
  static CStr StagingFolder();
  // The folder this run stages into: a new one under StagingFolder(), created by this call and
  // so empty (nothing of an earlier run can be taken for this one). False, with a log line, when
  // none can be created.
  bool CreateStagingFolder(CStr &out);
  // Deletes what StageFiles put into `folder`, then the folder.
  void RemoveStagingFolder(const CStr &folder);
  // Adds a file name and its compressed form; a name with a path or ".." is refused.
  void AddStagedFile(const CStr &name);
  const std::vector<CStr> &DeviceIds() const { return deviceIds; }
  const std::vector<CStr> &StagedFiles() const { return stagedFiles; }

 private:
  void Log(LogSeverity severity, int32_t line, const wchar_t *format, ...);

  // Fields, in order.
  std::vector<CStr> deviceIds;
  std::vector<CStr> stagedFiles;
  std::vector<CStr> neededFiles;  // the names added, each to be staged as itself or compressed
  CStr infName;
  int32_t rebootNeeded = 0;
  int32_t force = 1;
  CCmpLog *log_ = nullptr;
};
