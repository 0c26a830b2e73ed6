// CInf on the simulated host: files with the destination-directory table, deferral to the
// restart, the file-queue handler, services, software settings, the device node, and the inputs
// it must refuse.
#include <gtest/gtest.h>

#include <cwchar>
#include <ostream>
#include <string>

#include "../framework/log_files.h"
#include "case_name.h"
#include "fake_platform.h"
#include "fake_setup.h"
#include "inf.h"
#include "tal/platform.h"

namespace {

using tal::os::FakeSetupHost;
using tal::os::fromUtf8;
using tal::os::ScratchDir;

const std::string kHead =
    "[Version]\nSignature=\"$Windows NT$\"\n"
    "[DestinationDirs]\nDefaultDestDir = 24, out\n";

class InfModel : public ::testing::Test {
 protected:
  InfModel() : log(L"verbose.log") {
    log.SetVerbose(1);
    log.Open();
  }
  ~InfModel() override { log.Close(); }

  // Writes the package's INF (and the given source files) and opens it.
  std::unique_ptr<CInf> Open(const std::string &body,
                             std::initializer_list<const char *> sources = {}) {
    ScratchDir::write(scratch.file("pkg/drv.inf"), kHead + body);
    for (const char *name : sources)
      ScratchDir::write(scratch.file(std::string("pkg/") + name), name);
    return std::make_unique<CInf>(fromUtf8(scratch.file("pkg/drv.inf")).c_str(), &log);
  }
  std::string Out(const char *name) {
    return ScratchDir::read(scratch.file(std::string("out/") + name));
  }
  std::string Verbose() { return test::VerboseText(log); }

  ScratchDir scratch;
  FakeSetupHost host;
  CCmpLog log;
};

TEST_F(InfModel, InstallDefaultCopiesRegistersAndCreatesTheService) {
  auto inf = Open(
      "[DefaultInstall]\nCopyFiles=Files\nAddReg=Reg\nAddService=TalDrv,2,Svc\n"
      "[Files]\ntaldrv.sys\nnew.dll,src.dll\n"
      "[Reg]\nHKLM,Software\\Tal,Level,0x10001,3\n"
      "[Svc]\nServiceType=1\nStartType=3\nServiceBinary=%12%\\taldrv.sys\n",
      {"taldrv.sys", "src.dll"});
  ASSERT_EQ(inf->IsOpen(), 1);
  int32_t reboot = -1;
  EXPECT_EQ(inf->InstallDefault(&reboot), 1) << Verbose();
  EXPECT_EQ(reboot, 0);
  EXPECT_EQ(Out("taldrv.sys"), "taldrv.sys");
  EXPECT_EQ(Out("new.dll"), "src.dll");
  const tal::os::SimKey *key = host.findKey(L"HKLM\\Software\\Tal");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->values.at(L"LEVEL").data, L"3");
  ASSERT_EQ(host.services.size(), 1u);
  EXPECT_EQ(host.services[0].name, L"TalDrv");
  uint32_t start = 0;
  EXPECT_EQ(inf->GetServiceStartType(nullptr, &start), 1);
  EXPECT_EQ(start, 3u);
  // No Class: no device node.
  EXPECT_TRUE(host.eventsOf("create_device").empty());
}

struct FileCase {
  const char *name;
  std::string body;
  bool targetExists;  // out/taldrv.sys exists before ("old")
  bool targetInUse;
  int32_t result;
  int32_t reboot;
  const char *content;   // out/taldrv.sys afterwards
  const char *deferred;  // the restart operation recorded, "" when none
};
void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class InfFiles : public InfModel, public ::testing::WithParamInterface<FileCase> {};

TEST_P(InfFiles, Install) {
  const FileCase &c = GetParam();
  if (c.targetExists) ScratchDir::write(scratch.file("out/taldrv.sys"), "old");
  if (c.targetInUse) host.filesInUse.insert(fromUtf8(scratch.file("out/taldrv.sys")));
  auto inf = Open("[DefaultInstall]\nCopyFiles=Files\n" + c.body, {"taldrv.sys"});
  int32_t reboot = -1;
  EXPECT_EQ(inf->InstallDefault(&reboot), c.result) << Verbose();
  EXPECT_EQ(reboot, c.reboot);
  EXPECT_EQ(Out("taldrv.sys"), c.content);
  std::string deferred;
  for (const auto &e : host.events)
    if (e.op.find("_at_restart") != std::string::npos) deferred = e.op;
  EXPECT_EQ(deferred, c.deferred);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InfFiles,
    ::testing::Values(
        FileCase{"copy", "[Files]\ntaldrv.sys\n", false, false, 1, 0, "taldrv.sys", ""},
        FileCase{"overwrite", "[Files]\ntaldrv.sys\n", true, false, 1, 0, "taldrv.sys", ""},
        FileCase{"no_overwrite_keeps", "[Files]\ntaldrv.sys,,,16\n", true, false, 1, 0, "old", ""},
        FileCase{"in_use_deferred", "[Files]\ntaldrv.sys\n", true, true, 1, 1, "old",
                 "replace_at_restart"},
        FileCase{"missing_source", "[Files]\nnothere.sys\n", false, false, 0, 0, "", ""},
        FileCase{"delete_missing_ok", "DelFiles=Del\n[Files]\ntaldrv.sys\n[Del]\ngone.sys\n", false,
                 false, 1, 0, "taldrv.sys", ""},
        FileCase{"delete_in_use_deferred",
                 "DelFiles=Del\n[Files]\nother.sys,taldrv.sys\n[Del]\ntaldrv.sys\n", true, true, 1,
                 1, "old", "delete_at_restart"},
        FileCase{"delete_flag_deferred",
                 "DelFiles=Del\n[Files]\nother.sys,taldrv.sys\n[Del]\ntaldrv.sys,,,1\n", true,
                 false, 1, 1, "old", "delete_at_restart"},
        FileCase{"rename_three_fields_fails",
                 "RenFiles=Ren\n[Files]\ntaldrv.sys\n[Ren]\na.sys,b.sys,c.sys\n", false, false, 0,
                 0, "taldrv.sys", ""},
        FileCase{"target_with_path_refused", "[Files]\n..\\taldrv.sys,taldrv.sys\n", false, false,
                 0, 0, "", ""},
        FileCase{"source_leaving_package_refused", "[Files]\ntaldrv.sys,..\\..\\secret\n", false,
                 false, 0, 0, "", ""},
        FileCase{"self_naming_section", "CopyFiles=DefaultInstall\n[Files]\ntaldrv.sys\n", false,
                 false, 0, 0, "", ""},
        FileCase{"list_section_missing", "", false, false, 0, 0, "", ""},
        FileCase{"one_file_by_at", "CopyFiles=@taldrv.sys\n[Files]\n", false, false, 1, 0,
                 "taldrv.sys", ""},
        FileCase{"at_file_missing", "CopyFiles=@nothere.sys\n[Files]\n", false, false, 0, 0, "",
                 ""},
        FileCase{"delete_by_at", "DelFiles=@taldrv.sys\n[Files]\n", true, false, 1, 0, "", ""}),
    CaseName());

// A misspelt file list installs no file: the installation fails, and the service that would
// start a binary that is not there is not registered.
TEST_F(InfModel, AMissingFileListFailsBeforeTheServiceIsAdded) {
  auto inf = Open(
      "[DefaultInstall]\nCopyFiles=Filez\nAddService=TalDrv,2,Svc\n[Files]\ntaldrv.sys\n"
      "[Svc]\nServiceType=1\nStartType=0\nErrorControl=3\nServiceBinary=%12%\\taldrv.sys\n",
      {"taldrv.sys"});
  EXPECT_EQ(inf->InstallDefault(nullptr), 0);
  EXPECT_TRUE(host.services.empty());
  EXPECT_TRUE(host.eventsOf("create_service").empty());
  EXPECT_NE(Verbose().find("File list section [Filez] of "), std::string::npos) << Verbose();
  EXPECT_EQ(inf->InstallSection(L"DefaultInstall", nullptr, 0), 0);
  EXPECT_TRUE(host.services.empty());
}

// However many sections the INF has, its copy and service sections are all found; when its
// section list cannot be read, nothing is installed and the installation says so.
TEST_F(InfModel, EverySectionOfALargeInfIsInstalled) {
  std::string sections;
  for (int i = 0; i < 700; ++i) sections += "[Strings.Language.Section" + std::to_string(i) + "]\n";
  const std::string body = sections +
                           "[DefaultInstall]\nCopyFiles=Files\nAddService=TalDrv,2,Svc\n"
                           "[Files]\ntaldrv.sys\n[Svc]\nServiceType=1\nStartType=3\n";
  auto inf = Open(body, {"taldrv.sys"});
  EXPECT_EQ(inf->InstallDefault(nullptr), 1) << Verbose();
  EXPECT_EQ(Out("taldrv.sys"), "taldrv.sys");
  EXPECT_EQ(host.services.size(), 1u);

  host.sectionNamesFail = true;
  host.services.clear();
  auto unread = Open(body, {"taldrv.sys"});
  EXPECT_EQ(unread->InstallDefault(nullptr), 0);
  EXPECT_EQ(unread->InstallSection(L"DefaultInstall", nullptr, 0), 0);
  EXPECT_TRUE(host.services.empty());
  EXPECT_NE(Verbose().find("cannot be read"), std::string::npos) << Verbose();
}

TEST_F(InfModel, ASectionsOwnDestinationComesBeforeTheDefault) {
  ScratchDir::write(scratch.file("pkg/drv.inf"),
                    "[Version]\nSignature=$Chicago$\n[DestinationDirs]\nDefaultDestDir=24,out\n"
                    "Files=24,own\n[DefaultInstall]\nCopyFiles=Files,Other\n[Files]\na.sys\n"
                    "[Other]\nb.sys\n");
  ScratchDir::write(scratch.file("pkg/a.sys"), "a");
  ScratchDir::write(scratch.file("pkg/b.sys"), "b");
  CInf inf(fromUtf8(scratch.file("pkg/drv.inf")).c_str(), &log);
  EXPECT_EQ(inf.InstallDefault(nullptr), 1) << Verbose();
  EXPECT_EQ(ScratchDir::read(scratch.file("own/a.sys")), "a");
  EXPECT_EQ(Out("a.sys"), "");
  EXPECT_EQ(Out("b.sys"), "b");
}

TEST_F(InfModel, RenameMovesInTheDestinationFolder) {
  ScratchDir::write(scratch.file("out/old.sys"), "x");
  auto inf = Open(
      "[DefaultInstall]\nCopyFiles=Files\nRenFiles=Ren\n[Files]\ntaldrv.sys\n"
      "[Ren]\nnew.sys,old.sys\n",
      {"taldrv.sys"});
  EXPECT_EQ(inf->InstallDefault(nullptr), 1) << Verbose();
  EXPECT_EQ(Out("new.sys"), "x");
  EXPECT_EQ(Out("old.sys"), "");
}

#ifndef _WIN32
// Natively %SystemRoot% is a folder of the scratch drive; on Windows it is the real one.
TEST_F(InfModel, DefaultDestDirElevenIsTheSystemFolder) {
  ScratchDir::write(scratch.file("pkg/drv.inf"),
                    "[Version]\nSignature=$Chicago$\n[DestinationDirs]\nDefaultDestDir=11\n"
                    "Other=24,elsewhere\n[DefaultInstall]\nCopyFiles=Files\n[Files]\ntal.dll\n");
  ScratchDir::write(scratch.file("pkg/tal.dll"), "dll");
  CInf inf(fromUtf8(scratch.file("pkg/drv.inf")).c_str(), &log);
  EXPECT_EQ(inf.InstallDefault(nullptr), 1) << Verbose();
  EXPECT_EQ(ScratchDir::read(scratch.file("Windows/system32/tal.dll")), "dll");
}
#endif

// The file-queue handler: what each notification answers and does to the result.
struct QueueCase {
  const char *name;
  std::vector<uint32_t> notifications;
  int32_t ignoreDeleteErrors;
  int32_t result;
  int32_t reboot;
  std::vector<uint32_t> answers;
  const char *errorText;  // in the verbose log; "" for none
};
void PrintTo(const QueueCase &c, std::ostream *os) { *os << c.name; }

class InfQueue : public InfModel, public ::testing::WithParamInterface<QueueCase> {};

TEST_P(InfQueue, Answers) {
  const QueueCase &c = GetParam();
  auto inf = Open("[Main]\nCopyFiles=Files\n[Files]\ntaldrv.sys\n", {"taldrv.sys"});
  for (uint32_t n : c.notifications)
    host.queueNotifications.push_back({n, {L"src.sys", L"dst.sys"}});
  int32_t reboot = -1;
  EXPECT_EQ(inf->InstallSection(L"Main", &reboot, c.ignoreDeleteErrors), c.result);
  EXPECT_EQ(reboot, c.reboot);
  EXPECT_EQ(host.queueAnswers, c.answers);
  if (*c.errorText) {
    EXPECT_NE(Verbose().find(c.errorText), std::string::npos) << Verbose();
    EXPECT_FALSE(CInf::ErrorTexts().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InfQueue,
    ::testing::Values(
        QueueCase{"copy_error", {13}, 0, 0, 0, {2}, "File Copy Error: src.sys --> dst.sys"},
        QueueCase{"delete_error", {7}, 0, 0, 0, {2}, "File Delete Error: dst.sys"},
        QueueCase{"delete_error_ignored", {7}, 1, 1, 0, {2}, ""},
        QueueCase{"one_need_media", {14}, 0, 1, 0, {1}, ""},
        QueueCase{"second_need_media_fails", {14, 14}, 0, 0, 0, {1, 2}, "media requested again"},
        QueueCase{"delayed_needs_restart", {20}, 0, 1, 1, {1}, ""},
        QueueCase{"other_proceeds", {1}, 0, 1, 0, {1}, ""}),
    CaseName());

TEST_F(InfModel, SoftwareSettingsGoUnderTheServiceKey) {
  auto inf = Open(
      "[DefaultInstall]\nCopyFiles=Files\nAddService=TalDrv,2,Svc\n[Files]\ntaldrv.sys\n"
      "[Svc]\nStartType=3\n[Main.SoftwareSettings]\nAddReg=Sw\n[Sw]\nHKR,,Mode,,fast\n",
      {"taldrv.sys"});
  EXPECT_EQ(inf->InstallDefault(nullptr), 1) << Verbose();
  const tal::os::SimKey *key =
      host.findKey(L"HKLM\\System\\CurrentControlSet\\Services\\TalDrv\\Device0");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->values.at(L"MODE").data, L"fast");
}

TEST_F(InfModel, DeviceNodeOnlyWhenItsKeyIsAbsent) {
  const std::string body =
      "[DefaultInstall]\nCopyFiles=Files\nAddService=TalDrv,2,Svc\n[Files]\ntaldrv.sys\n"
      "[Svc]\nStartType=3\n";
  ScratchDir::write(scratch.file("pkg/drv.inf"),
                    "[Version]\nSignature=$Chicago$\nClass=System\nClassGUID={4d36e97d-e325-"
                    "11ce-bfc1-08002be10318}\n[DestinationDirs]\nDefaultDestDir=24,out\n" +
                        body);
  ScratchDir::write(scratch.file("pkg/taldrv.sys"), "x");
  {
    CInf inf(fromUtf8(scratch.file("pkg/drv.inf")).c_str(), &log);
    EXPECT_EQ(inf.InstallDefault(nullptr), 1) << Verbose();
  }
  ASSERT_EQ(host.eventsOf("create_device").size(), 1u);
  EXPECT_EQ(FakeSetupHost::field(host.eventsOf("create_device")[0], "instance_id"),
            L"ROOT\\LEGACY_TALDRV\\0000");
  CInf again(fromUtf8(scratch.file("pkg/drv.inf")).c_str(), &log);
  EXPECT_EQ(again.InstallDefault(nullptr), 1);
  EXPECT_EQ(host.eventsOf("create_device").size(), 1u);  // present now: not made twice
}

// One device node however often the package runs, named as the installation type names it; in
// virtual mode the new device gets its driver through a forced update with its hardware id.
TEST_F(InfModel, OneDeviceNodePerServiceWhateverTheRuns) {
  ScratchDir::write(scratch.file("pkg/drv.inf"),
                    "[Version]\nSignature=$Chicago$\nClass=System\nClassGUID={4d36e97d-e325-"
                    "11ce-bfc1-08002be10318}\n[DestinationDirs]\nDefaultDestDir=24,out\n"
                    "[DefaultInstall]\nCopyFiles=Files\nAddService=TalDrv,2,Svc\n[Files]\n"
                    "taldrv.sys\n[Svc]\nStartType=3\n");
  ScratchDir::write(scratch.file("pkg/taldrv.sys"), "x");
  const struct {
    bool virtualMode;
    const wchar_t *section;  // null: the default installation
    const wchar_t *instance, *hardwareId;
  } cases[] = {
      {false, nullptr, L"ROOT\\LEGACY_TALDRV\\0000", L"root\\LEGACY_TALDRV"},
      {false, L"DefaultInstall", L"ROOT\\LEGACY_TALDRV\\0000", L"root\\LEGACY_TALDRV"},
      {true, nullptr, L"ROOT\\TALDRV\\0000", L"root\\TALDRV"},
      {true, L"DefaultInstall", L"ROOT\\TALDRV\\0000", L"root\\TALDRV"},
  };
  for (const auto &k : cases) {
    host.registry.clear();
    host.devices.clear();
    host.events.clear();
    for (int run = 0; run < 3; ++run) {
      CInf inf(fromUtf8(scratch.file("pkg/drv.inf")).c_str(), &log);
      inf.SetVirtualMode(k.virtualMode);
      EXPECT_EQ(k.section ? inf.InstallSection(k.section, nullptr, 0) : inf.InstallDefault(nullptr),
                1)
          << Verbose();
    }
    const auto created = host.eventsOf("create_device");
    ASSERT_EQ(created.size(), 1u) << k.virtualMode << (k.section ? " section" : " default");
    EXPECT_EQ(FakeSetupHost::field(created[0], "instance_id"), k.instance);
    const auto updates = host.eventsOf("update_driver");
    ASSERT_EQ(updates.size(), k.virtualMode ? 1u : 0u);
    if (!k.virtualMode) continue;
    EXPECT_EQ(FakeSetupHost::field(updates[0], "hardware_id"), k.hardwareId);
    EXPECT_EQ(FakeSetupHost::field(updates[0], "instance_id"), k.instance);
    EXPECT_EQ(FakeSetupHost::field(updates[0], "inf"), fromUtf8(scratch.file("pkg/drv.inf")));
    EXPECT_EQ(FakeSetupHost::field(updates[0], "force"), L"1");
  }
}

TEST_F(InfModel, VersionAndSectionLists) {
  auto inf = Open(
      "[A]\nCopyFiles=F\nAddService=S1,0,Svc\n[B.SoftwareSettings]\nx=1\n[b.softwaresettings]\n"
      "[C]\nCopyFiles=F\n[F]\n[Svc]\n");
  EXPECT_STREQ(inf->GetSignature(), L"$Windows NT$");
  EXPECT_EQ(inf->GetClass(), nullptr);
  EXPECT_EQ(inf->GetClassGuid(), nullptr);
  ASSERT_EQ(inf->CopyFilesSections().size(), 2u);
  EXPECT_EQ(inf->CopyFilesSections()[1], CStr(L"C"));
  EXPECT_EQ(inf->AddServiceSections().size(), 1u);
  EXPECT_EQ(inf->SoftwareSettingsSections().size(), 1u);  // the name test keeps letter case
  wchar_t name[8];
  EXPECT_EQ(inf->GetServiceName(nullptr, name, 8), 1);
  EXPECT_STREQ(name, L"S1");
}

TEST_F(InfModel, TextsLongerThanTheirBufferAreRefused) {
  const std::string longName(300, 'n');
  auto inf = Open("[A]\nCopyFiles=F\nAddService=" + longName + ",0,Svc\n[F]\n");
  wchar_t name[CInf::kServiceNameChars];
  wcscpy(name, L"untouched");
  EXPECT_EQ(inf->GetServiceName(nullptr, name, CInf::kServiceNameChars), 0);
  EXPECT_STREQ(name, L"untouched");
  EXPECT_NE(Verbose().find("refused"), std::string::npos) << Verbose();
}

TEST_F(InfModel, BadFilesOpenNothing) {
  std::string utf16;  // UTF-16 without its byte order mark
  for (char c : std::string("[Version]\nSignature=$Chicago$\n")) utf16 += std::string{c, '\0'};
  const std::string bodies[] = {"", "stray\n[Version]\nSignature=$Chicago$\n",
                                "[Version]\nSignature=$Chicago$\n[Broken\n", utf16};
  for (const std::string &body : bodies) {
    ScratchDir::write(scratch.file("bad.inf"), body);
    CInf inf(fromUtf8(scratch.file("bad.inf")).c_str(), &log);
    EXPECT_EQ(inf.IsOpen(), 0) << body;
    int32_t reboot = 7;
    EXPECT_EQ(inf.InstallDefault(&reboot), 0);
    EXPECT_EQ(inf.InstallSection(L"A", &reboot, 0), 0);
    EXPECT_EQ(inf.GetSignature(), nullptr);
  }
  CInf missing(fromUtf8(scratch.file("none.inf")).c_str(), &log);
  EXPECT_EQ(missing.IsOpen(), 0);
  EXPECT_NE(Verbose().find("Cannot open INF"), std::string::npos);
}

TEST_F(InfModel, StartMenuItemsOnlyOnVersionFour) {
  tal::os::FakePlatform platform;
  const std::string body =
      "[Main]\nCopyFiles=F\nTalStartMenuItems=Item\n[F]\n"
      "[Item]\nName=Tal Tool\nPath=%SystemDrive%\\tool.exe\nArgs=-x\nGroup=Tal\n";
  platform.identity.major = 10;
  EXPECT_EQ(Open(body)->CreateStartMenuItems(), 1);
  EXPECT_TRUE(host.eventsOf("create_shortcut").empty());
  platform.identity.major = 4;
  host.programsDir = fromUtf8(scratch.file("programs"));
  EXPECT_EQ(Open(body)->CreateStartMenuItems(), 1) << Verbose();
  const auto shortcuts = host.eventsOf("create_shortcut");
  ASSERT_EQ(shortcuts.size(), 1u);
  const tal::os::SimEvent &e = shortcuts[0];
  EXPECT_EQ(FakeSetupHost::field(e, "path"), host.programsDir + L"\\Tal\\Tal Tool.lnk");
  EXPECT_EQ(FakeSetupHost::field(e, "arguments"), L"-x");
}

TEST_F(InfModel, DirectoryIdsAndTrees) {
  auto inf = Open("");
  CStr path;
  EXPECT_EQ(inf->GetDirIdPath(12, &path), 1);
  EXPECT_EQ(path.str(), tal::os::sys().expandEnvironment(L"%SystemRoot%") + L"\\system32\\drivers");
  EXPECT_EQ(inf->GetDirIdPath(13, &path), 0);
  EXPECT_TRUE(path.IsEmpty());
  const std::wstring deep = fromUtf8(scratch.file("a")) + L"\\b\\c\\";
  EXPECT_EQ(inf->CreateDirectoryTree(deep.c_str()), 1);
  EXPECT_TRUE(tal::os::sys().pathExists(deep + L"."));
  EXPECT_EQ(inf->CreateDirectoryTree(deep.c_str()), 1);  // exists already
}

}  // namespace
