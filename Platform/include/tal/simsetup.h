// The simulated Windows host behind the driver-installation seam: INF files through the
// project's own INF reader, real files (paths mapped as the platform maps them), and a registry,
// services and present devices kept in memory. Every change an installation makes is appended
// to `events` and can be written as a JSON record (recordJson) for a test to read.
//
// The native backend fills the state from the machine description and writes the record when
// the process ends; tests use it directly (FakeSetupHost) and set the state themselves.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tal/codepage.h"
#include "tal/setup.h"

namespace tal::os {

struct SimDevice {
  std::wstring instanceId;  // "ROOT\\SYSTEM\\0000"
  std::vector<std::wstring> hardwareIds;
  std::wstring inf;  // INF file name of the installed driver; empty: no driver
  std::wstring description;
  std::wstring service;
  bool inbox = false;         // the installed driver came with the system
  bool updateReboot = false;  // a driver update of this device asks for a restart
  bool updateFails = false;   // a driver update of this device fails
};

struct SimService {
  std::wstring name;
  std::wstring displayName;
  std::wstring binary;
  uint32_t serviceType = 1;
  uint32_t startType = 3;
  uint32_t errorControl = 1;
};

struct SimValue {
  std::wstring name;
  std::wstring type;  // "REG_SZ", "REG_DWORD", ...
  std::wstring data;
};

struct SimKey {
  std::wstring path;  // "HKLM\\System\\CurrentControlSet\\Services\\x", as first written
  std::map<std::wstring, SimValue> values;  // by upper-case name
};

// One change, as the record lists it: an operation name and its (name, text) pairs.
struct SimEvent {
  std::string op;
  std::vector<std::pair<std::string, std::wstring>> fields;
};

class SimSetupHost : public SetupHost {
 public:
  SimSetupHost();

  // --- the simulated system (tests and the native backend set it) ---
  std::map<std::wstring, SimKey> registry;  // by upper-case path, "HKLM\\..."
  std::vector<SimService> services;
  std::vector<SimDevice> devices;
  std::wstring systemDir = L"C:\\Windows\\system32";
  std::wstring programsDir = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  int driverUpdater = 0;  // loadDriverUpdater's answer (0, 2 or 3)
  // The system's ANSI code page: how an INF without a byte order mark is read.
  unsigned ansiCodePage = kDefaultAnsiCodePage;
  std::set<std::wstring> filesInUse;  // paths (as the platform maps them) that are in use
  // Notifications the next installFromSection delivers to its callback (then cleared), and the
  // callback's answers to them.
  std::vector<std::pair<uint32_t, std::pair<std::wstring, std::wstring>>> queueNotifications;
  std::vector<uint32_t> queueAnswers;
  // The section-name list of every INF this host opens cannot be read (the INF stays open).
  bool sectionNamesFail = false;

  // --- what happened ---
  std::vector<SimEvent> events;
  // The record: {"operations": [...], "registry": [...], "services": [...], "devices": [...]}.
  std::string recordJson() const;

  // Values of a key, null when the key does not exist.
  const SimKey *findKey(const std::wstring &path) const;

  // --- SetupHost ---
  std::unique_ptr<InfFile> openInf(const std::wstring &path, uint32_t &error,
                                   unsigned &errorLine) override;
  uint32_t installFromSection(InfFile &inf, const std::wstring &section, uint32_t flags,
                              const std::wstring &relativeKey, const std::wstring &sourceRoot,
                              const QueueCallback &callback) override;
  uint32_t installServices(InfFile &inf, const std::wstring &section) override;
  std::unique_ptr<DeviceNode> createRootDevice(const std::wstring &className,
                                               const std::wstring &deviceName,
                                               const std::wstring &infPath,
                                               uint32_t &error) override;
  uint32_t copyFile(const std::wstring &source, const std::wstring &target,
                    bool failIfExists) override;
  uint32_t moveFile(const std::wstring &from, const std::wstring &to) override;
  uint32_t deleteFile(const std::wstring &path) override;
  uint32_t moveAtRestart(const std::wstring &from, const std::wstring &to) override;
  uint32_t createDirectory(const std::wstring &path) override;
  uint32_t removeDirectory(const std::wstring &path) override;
  bool fileExists(const std::wstring &path) override;
  void clearAttributes(const std::wstring &path) override;
  std::wstring systemDirectory() override { return systemDir; }
  std::wstring commonProgramsFolder() override { return programsDir; }
  uint32_t createShortcut(const std::wstring &linkPath, const std::wstring &target,
                          const std::wstring &arguments, const std::wstring &workingDir) override;
  bool keyExists(const std::wstring &path) override;
  uint32_t createKey(const std::wstring &path) override;
  std::unique_ptr<DeviceSet> presentDevices(uint32_t &error) override;
  int loadDriverUpdater() override;
  uint32_t updateDriver(const std::wstring &hardwareId, const std::wstring &infPath, bool force,
                        bool &reboot) override;
  void unloadDriverUpdater() override {}
  uint32_t registerRootDevice(const std::wstring &hardwareId, std::wstring &instanceId) override;
  bool readNumber(const std::wstring &key, const std::wstring &name, uint32_t &out) override;
  bool readText(const std::wstring &key, const std::wstring &name, std::wstring &out) override;
  bool serviceOpens(const std::wstring &name) override;

  // Adds a device node for a root device installed from an INF (used by DeviceNode::install).
  uint32_t addRootDevice(const std::wstring &deviceName, const std::wstring &hardwareId,
                         const std::wstring &infPath);

 protected:
  void record(const char *op, std::vector<std::pair<std::string, std::wstring>> fields);
  bool inUse(const std::wstring &path);
  void setValue(const std::wstring &key, const std::wstring &name, const std::wstring &type,
                const std::wstring &data);
  SimKey &makeKey(const std::wstring &path);
  void deleteKeyOrValue(const std::wstring &key, const std::wstring *name);
  uint32_t applyRegistrySection(InfFile &inf, const std::wstring &regSection, bool add,
                                const std::wstring &relativeKey);
  std::wstring uniqueInstanceId(const std::wstring &prefix);
  // What the system's driver update does once it has chosen the INF's driver for a device: the
  // install section of the model naming the hardware id copies its files, writes its registry
  // values and adds its services. 0 (also when no model of the INF names the id: the driver is
  // taken as given) or the error of a file copy.
  uint32_t installModel(InfFile &inf, const std::wstring &infFolder, const std::wstring &hardwareId,
                        SimDevice &device);
  uint32_t copySectionFiles(InfFile &inf, const std::wstring &infFolder,
                            const std::wstring &section);
};

}  // namespace tal::os
