// CInf: one Windows INF file, opened through the driver-installation seam, and the framework's
// own installation of it: file copy, delete and rename sections with a destination-directory
// table of its own, registry and profile items, services, a root-enumerated device node for
// PnP-class INFs, software-settings keys under the service key, and start-menu shortcuts.
//
// Errors raised by the file queue are collected as texts (shared by all CInf objects, one
// installation runs at a time) and written to the verbose log; a reboot flag is raised whenever
// a file operation had to be deferred to the next restart.
//
// Every text read from the INF goes into a buffer of a stated size; a longer text is refused
// with a log line (never cut). Target file names are plain names: a name with a path or ".." is
// refused, so no entry can write outside its destination folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cmplog.h"
#include "cstr.h"
#include "tal/setup.h"

class CInf {
 public:
  // Opens the INF at `path` (made a full path) and reads its [Version] and section lists.
  // `log` (not owned) receives the log lines; null logs nothing.
  explicit CInf(const wchar_t *path, CCmpLog *log = nullptr);
  CInf(const CInf &) = delete;
  CInf &operator=(const CInf &) = delete;

  // --- the virtual operations, in slot order ---
  virtual ~CInf();                                     // 0
  virtual int32_t IsOpen();                            // 1
  virtual int32_t InstallDefault(int32_t *rebootOut);  // 2
  virtual int32_t InstallSection(const wchar_t *section, int32_t *rebootOut,
                                 int32_t ignoreDeleteErrors);  // 3
  virtual int32_t InstallDeviceNode(int32_t *rebootOut);       // 4
  // rootKey: a key path under the local machine hive, null for the hive itself.
  virtual int32_t InstallFromSection(const wchar_t *section, const wchar_t *rootKey);   // 5
  virtual int32_t InstallServices(const wchar_t *section);                              // 6
  virtual int32_t InstallSoftwareSettings(const wchar_t *section);                      // 7
  virtual int32_t CopyFilesSection(const wchar_t *section);                             // 8
  virtual int32_t CreateStartMenuItems();                                               // 9
  virtual const wchar_t *GetSignature();                                                // 10
  virtual const wchar_t *GetClass();                                                    // 11
  virtual const wchar_t *GetClassGuid();                                                // 12
  virtual int32_t GetServiceName(const wchar_t *section, wchar_t *out, uint32_t size);  // 13
  virtual int32_t GetServiceStartType(const wchar_t *section, uint32_t *out);           // 14
  virtual int32_t ProcessCopyFiles(const wchar_t *section);                             // 15
  virtual int32_t ProcessDelFiles(const wchar_t *section);                              // 16
  virtual int32_t ProcessRenFiles(const wchar_t *section);                              // 17
  virtual int32_t DeleteFilesSection(const wchar_t *section);                           // 18
  virtual int32_t RenameFilesSection(const wchar_t *section);                           // 19
  virtual int32_t CreateRootDevice(std::unique_ptr<tal::os::DeviceNode> *deviceSet,
                                   tal::os::DevInfoData *deviceData,
                                   const wchar_t *deviceName);            // 20
  virtual void ReadVersion();                                             // 21
  virtual int32_t CollectCopyFilesSections();                             // 22
  virtual int32_t CollectAddServiceSections();                            // 23
  virtual int32_t CollectSoftwareSettingsSections();                      // 24
  virtual int32_t ReadDestinationDirs();                                  // 25
  virtual int32_t EnsureFileDirectory(const wchar_t *path);               // 26
  virtual int32_t CreateDirectoryTree(const wchar_t *path);               // 27
  virtual int32_t CopyToTempName(const wchar_t *existing, CStr *newOut);  // 28
  virtual int32_t GetDestinationDir(const wchar_t *section, CStr *out);   // 29
  virtual int32_t GetDirIdPath(int32_t dirid, CStr *out);                 // 30

  // --- non-virtual members ---
  void SetVirtualMode(bool on) { virtualMode = on; }
  bool RebootNeeded() const { return rebootNeeded; }
  const CStr &GetInfPath() const { return infPath; }
  const CStr &GetSourceDir() const { return sourceDir; }
  const std::vector<CStr> &CopyFilesSections() const { return copyFilesSections; }
  const std::vector<CStr> &AddServiceSections() const { return addServiceSections; }
  const std::vector<CStr> &SoftwareSettingsSections() const { return softwareSettingsSections; }
  const std::vector<CStr> &DestinationDirs() const { return destinationDirs; }
  // False when the section-name list could not be read: nothing is then installed.
  bool SectionsRead() const { return sectionsRead; }
  // The lines of a section; false when the INF has no such section.
  bool Lines(const wchar_t *section, std::vector<tal::os::InfLine> &out);

  // The file-queue handler (the seam's callback calls it with this object as context).
  uint32_t OnQueueNotification(uint32_t notification, const std::wstring &source,
                               const std::wstring &target);

  // State shared by every CInf (one installation runs at a time).
  static bool QueueError();
  static uint32_t NeedMediaCount();
  static const std::vector<CStr> &ErrorTexts();

  // Buffer sizes of the texts read from the INF (characters, terminator included).
  static constexpr size_t kVersionChars = 4096;
  static constexpr size_t kFieldChars = 512;
  static constexpr size_t kNameChars = 256;
  static constexpr size_t kFolderChars = 260;
  static constexpr size_t kServiceNameChars = 254;
  static constexpr size_t kSettingsNameChars = 2048;

 private:
  // Reading the INF through the seam, with the stated buffer sizes.
  bool SectionNames(std::vector<std::wstring> &out);
  // Field `index` (0: the key) of a line into `out`, refused with a log line when it does not
  // fit `capacity` characters. False when absent or refused.
  bool Field(const tal::os::InfLine &line, size_t index, size_t capacity, CStr &out,
             const wchar_t *what);
  // The first line of a section with this key.
  bool FindKeyLine(const wchar_t *section, const wchar_t *key, tal::os::InfLine &out);
  // The section names, in file order, that `wanted` accepts, into `out`; 0 when the names cannot
  // be read.
  int32_t CollectSections(std::vector<CStr> &out,
                          const std::function<bool(const std::wstring &)> &wanted);
  // The AddService line of a section (null or empty: the first install section).
  bool FindAddServiceLine(const wchar_t *section, tal::os::InfLine &out);
  bool HasKeyLine(const wchar_t *section, const wchar_t *key);
  // True (with a log line) when a section's install directives lead back to the section itself.
  bool NamesItself(const wchar_t *section);
  // One line of a file list (target, source, flags) done in the list's destination folder.
  using FileLineHandler = int32_t (CInf::*)(const wchar_t *section, const tal::os::InfLine &line,
                                            const CStr &folder);
  // Every section a directive of `section` names, through `handler`; an "@file" field is that
  // one file in the section's destination folder, through `single` (null: refused).
  int32_t ProcessFileDirectives(const wchar_t *section, const wchar_t *directive,
                                int32_t (CInf::*handler)(const wchar_t *), FileLineHandler single);
  // Each line of the file list section through `each`; 0 at the first that fails.
  int32_t EachFileLine(const wchar_t *section, FileLineHandler each);
  // One line of a file list (target, source, flags) copied or deleted in `folder`.
  int32_t CopyFileLine(const wchar_t *section, const tal::os::InfLine &line, const CStr &folder);
  int32_t DeleteFileLine(const wchar_t *section, const tal::os::InfLine &line, const CStr &folder);
  bool PlainFileName(const CStr &name, const wchar_t *section);
  // Field 1 of a file list line, a plain file name (`what` names it in a log line), and `path`,
  // the name in `folder`; false (logged) when it cannot be read or is not a plain name.
  bool FileLineName(const wchar_t *section, const tal::os::InfLine &line, const CStr &folder,
                    const wchar_t *what, CStr &name, CStr &path);
  // Field 4 of a file list line, its flags; 0 when it has none.
  uint32_t FileLineFlags(const tal::os::InfLine &line, const wchar_t *what);
  // The lines of a file list section and its destination folder. False (with a log line) when
  // the section is missing or the folder cannot be had.
  bool FileList(const wchar_t *section, std::vector<tal::os::InfLine> &lines, CStr &folder);
  bool DeviceNodePresent(const CStr &serviceName, bool virtualKey);
  int32_t InstallCommon(const wchar_t *section, int32_t *rebootOut);
  void RecordError(const CStr &text);
  void Log(LogSeverity severity, int32_t line, const wchar_t *format, ...);

  // Fields, in order.
  std::unique_ptr<tal::os::InfFile> infHandle;
  CStr signature;
  CStr infClass;
  CStr classGuid;
  CStr infPath;
  CStr sourceDir;
  std::vector<CStr> copyFilesSections;
  std::vector<CStr> addServiceSections;
  std::vector<CStr> softwareSettingsSections;
  std::vector<CStr> destinationDirs;
  bool virtualMode = false;
  bool rebootNeeded = false;
  bool sectionsRead = false;  // ReadVersion read the whole section-name list
  CCmpLog *log_ = nullptr;
};
