// The base component: initialisation with its switches and log lines, the property dispatch and
// its buffer rules, the installation-status sequence, the message tables and the seams that
// answer as an empty package does.
#include "basecomp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "fake_setup.h"
#include "log_files.h"
#include "probe.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;

namespace {

// Verbose lines with their location prefix made uniform: "<basecomp> text".
std::string Uniform(const std::string &text) {
  static const std::regex prefix(R"(\[12:34:56\]::basecomp\[\d+\] )");
  return std::regex_replace(text, prefix, "<basecomp> ");
}

class BaseComponentTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  FakePlatform fake;
  tal::os::FakeSetupHost host;  // no present devices, services or registry values

  std::string Verbose(const CBaseComponent &c) { return Uniform(test::VerboseText(*c.GetLog())); }
  std::string Main(const CBaseComponent &c) { return test::MainText(*c.GetLog()); }
  // A path on the scratch drive with a drive letter, as the version-file checks expect one.
  std::wstring DrivePath(const std::wstring &name) {
    std::wstring root = fake.expandEnvironment(L"%SYSTEMDRIVE%");
    if (root.size() < 2 || root[1] != L':') root = L"C:";
    return root + L"\\" + name;
  }
};

TEST_F(BaseComponentTest, ConstructedWithTheDocumentedDefaults) {
  Probe c;
  EXPECT_EQ(c.dependencyChecked, 0u);
  EXPECT_EQ(c.systemModelSupported, 1u);
  EXPECT_EQ(c.silent, 1u);
  EXPECT_EQ(c.installType, INSTALL_UNKNOWN);
  EXPECT_EQ(c.OwnsLog(), 1u);
  ASSERT_NE(c.GetLog(), nullptr);
  EXPECT_FALSE(c.GetLog()->IsVerbose());
  EXPECT_EQ(std::wstring(c.packageFileName), L"");
}

TEST_F(BaseComponentTest, InitializeWithoutPackageWritesItsProgress) {
  fake.args = {L"talhost.exe", L"/verbose_log"};
  Probe c;
  EXPECT_EQ(c.Initialize(), 1);
  EXPECT_EQ(c.noOverwrite, 0u);
  EXPECT_EQ(c.is64BitOS, 1u);
  EXPECT_EQ(Verbose(c),
            "<basecomp> \r\n/no_overwrite ABSENT\r\n"
            "<basecomp> Detecting if 64-bit operating system... \r\n"
            "<basecomp>     - Operating system is 64-bit x64 based.\r\n"
            "<basecomp> Locating package definition file ... Failed!\r\n"
            "<basecomp> Checking for install.xml... Not found.\r\n");
  EXPECT_EQ(Main(c), "");  // every line of Initialize goes to the verbose file
  EXPECT_EQ(fake.consoleLines, 0);
}

TEST_F(BaseComponentTest, SwitchesAreFoundInAnyCaseAndInsideOtherArguments) {
  fake.args = {L"talhost.exe", L"-f", L"x/No_OverWrite=1", L"/VERBOSE_log", L"/ConsoleOut"};
  Probe c;
  c.Initialize();
  EXPECT_EQ(c.noOverwrite, 1u);
  EXPECT_TRUE(c.GetLog()->IsVerbose());
  EXPECT_EQ(fake.consoleLines, 500);
  EXPECT_EQ(Verbose(c).substr(0, 37), "<basecomp> \r\n/no_overwrite DETECTED\r\n");

  // Without switches nothing is set, and no command line at all is no switch either.
  fake.args = {L"talhost.exe", L"verbose_log", L"-no_overwrite"};
  Probe plain;
  plain.Initialize();
  EXPECT_EQ(plain.noOverwrite, 0u);
  EXPECT_FALSE(plain.GetLog()->IsVerbose());
  fake.commandLineAvailable = false;
  Probe none;
  EXPECT_EQ(none.Initialize(), 1);
  EXPECT_EQ(none.noOverwrite, 0u);
}

TEST_F(BaseComponentTest, FilesThatCannotBeReadAreReported) {
  // Neither file is well-formed XML: the package definition file does not qualify, and an
  // install.xml that is there but cannot be read fails the initialisation.
  ScratchDir::write(scratch.file("kzpackage.xml"), "<tal_package><unclosed>");
  ScratchDir::write(scratch.file("install.xml"), "<tal_install>");
  fake.args = {L"talhost.exe", L"/verbose_log"};
  Probe c;
  EXPECT_EQ(c.Initialize(), 0);
  std::string verbose = Verbose(c);
  EXPECT_TRUE(test::Holds(verbose, "<basecomp> Locating package definition file ... Failed!\r\n"));
  EXPECT_TRUE(test::Holds(verbose,
                          "<basecomp> Checking for install.xml... Found.\r\n"
                          "<basecomp>     - Reading installer XML install.xml... Failed!\r\n"));
  wchar_t name[260] = L"untouched";
  EXPECT_EQ(c.FindPackageDefinitionFile(name, 260), 0);
  EXPECT_EQ(std::wstring(name), L"untouched");
}

TEST_F(BaseComponentTest, ALogFolderThatCannotBeCreatedLeavesTheComponentWorking) {
  ScratchDir::write(scratch.file("blocker"), "");
  test::SetEnv("SYSTEMDRIVE", scratch.file("blocker"));
  fake.args = {L"talhost.exe", L"/verbose_log"};
  Probe c;
  EXPECT_EQ(c.Initialize(), 1);
  std::vector<wchar_t> record(kInstallationStatusChars, L'\0');
  EXPECT_EQ(c.GetProperty(5, record.data(), kInstallationStatusChars, L"en"), 1);
  EXPECT_EQ(GetInstallationStatusCode(record.data()), STATUS_NOT_INSTALLED);
}

TEST_F(BaseComponentTest, PropertyBufferRules) {
  Probe c;
  c.Initialize();
  // A null buffer answers 0 for every type.
  for (uint32_t type = 0; type <= 10; ++type) {
    EXPECT_EQ(c.GetProperty(type, nullptr, 4096, L"en"), 0) << type;
  }
  // Property 5: a buffer below the record is refused untouched; the whole record is accepted.
  std::vector<wchar_t> record(kInstallationStatusChars + 1, L'#');
  EXPECT_EQ(c.GetProperty(5, record.data(), 0, L"en"), 0);
  EXPECT_EQ(c.GetProperty(5, record.data(), kInstallationStatusChars - 1, L"en"), 0);
  for (wchar_t ch : record) ASSERT_EQ(ch, L'#');
  EXPECT_EQ(c.GetProperty(5, record.data(), kInstallationStatusChars, L"en"), 1);
  EXPECT_EQ(GetInstallationStatusCode(record.data()), STATUS_NOT_INSTALLED);
  EXPECT_EQ(std::wstring(GetInstallationText(record.data())), L"");
  // The text starts at byte 4 on every platform.
  EXPECT_EQ(reinterpret_cast<const unsigned char *>(GetInstallationText(record.data())) -
                reinterpret_cast<const unsigned char *>(record.data()),
            4);
  EXPECT_EQ(record[kInstallationStatusChars], L'#');

  // Properties 6 to 8 write one 32-bit word, and need the room for it.
  int32_t word[2] = {-5, -5};
  EXPECT_EQ(c.GetProperty(6, word, 0, L"en"), 0);
  EXPECT_EQ(word[0], -5);
  const uint32_t wordChars = sizeof(int32_t) / sizeof(wchar_t);
  EXPECT_EQ(c.GetProperty(6, word, wordChars, L"en"), 1);
  EXPECT_EQ(word[0], 1);
  c.SetSilent(0);
  EXPECT_EQ(c.GetProperty(7, word, wordChars, L"en"), 1);
  EXPECT_EQ(word[0], 0);
  EXPECT_EQ(c.GetProperty(8, word, wordChars, L"en"), 1);
  EXPECT_EQ(word[0], 1);
  EXPECT_EQ(word[1], -5);

  // Unknown types, and the text properties without a package document.
  wchar_t text[64] = L"keep";
  EXPECT_EQ(c.GetProperty(0, text, 64, L"en"), 0);
  EXPECT_EQ(c.GetProperty(10, text, 64, L"en"), 0);
  EXPECT_EQ(c.GetProperty(1, text, 64, L"en"), 0);
  EXPECT_EQ(c.GetProperty(2, text, 64, L"en"), 0);
  EXPECT_EQ(c.GetProperty(4, text, 64, L"en"), 0);
  EXPECT_EQ(c.GetProperty(3, text, 64, L"en"), 0);  // no version file
  EXPECT_EQ(std::wstring(text), L"keep");
}

TEST_F(BaseComponentTest, InstalledVersionTextIsRefusedWhenItFillsTheBuffer) {
  fake.executable = DrivePath(L"setup.exe");  // the fake gives this file version 1.2.3.4
  Probe c;
  c.SetVersionFilePath(fake.executable.c_str());
  wchar_t text[16];
  std::wmemset(text, L'#', 16);
  EXPECT_EQ(c.GetProperty(3, text, 7, L"en"), 0);  // "1.2.3.4" is exactly 7 characters
  EXPECT_EQ(text[0], L'#');
  EXPECT_EQ(c.GetProperty(3, text, 8, L"en"), 1);
  EXPECT_EQ(std::wstring(text), L"1.2.3.4");
}

TEST_F(BaseComponentTest, AnInstalledVersionFileMakesTheComponentInstalled) {
  fake.executable = DrivePath(L"setup.exe");
  ScratchDir::write(tal::os::toUtf8(fake.nativePath(fake.executable)), "binary");
  Probe c;
  c.Initialize();
  c.SetVersionFilePath(fake.executable.c_str());
  EXPECT_EQ(c.IsComponentInstalled(), 1);
  // Without a package version the installed one counts as older.
  EXPECT_EQ(c.CompareInstalledVersion(), 0);
  std::vector<wchar_t> record(kInstallationStatusChars, L'\0');
  EXPECT_EQ(c.GetProperty(5, record.data(), kInstallationStatusChars, L"en"), 1);
  EXPECT_EQ(GetInstallationStatusCode(record.data()), STATUS_OLDER);

  c.SetVersionFilePath(DrivePath(L"missing.exe").c_str());
  EXPECT_EQ(c.IsComponentInstalled(), 0);
  c.checkNotes.clear();
  EXPECT_EQ(c.CompareInstalledVersion(), 0);
  EXPECT_NE(c.checkNotes.find(L"missing.exe does not exist; the installed version counts as older"),
            std::wstring::npos);
}

// The installed version against the package's, part by part as numbers, and one rule for where
// a relative version file is: beside the plug-in library, for the installed check, the version
// comparison and property 3 alike.
TEST_F(BaseComponentTest, InstalledVersionAgainstThePackage) {
  fake.module = tal::os::fromUtf8(scratch.file("plugin/libdrvinstall.so"));
  wchar_t folder[261] = {};
  GetLibraryFolder(folder, 261);
  fake.executable = std::wstring(folder) + L"\\ver.exe";  // the fake's version file
  fake.exeVersion = tal::os::FileVersion{{2, 10, 0, 0}};
  ScratchDir::write(scratch.file("plugin/ver.exe"), "binary");
  const struct {
    const char *package;
    int32_t compared;
  } cases[] = {{"2.10", 1},   {"2.10.0.0", 1}, {"2.9.1", 2},
               {"2.10.1", 0}, {"10.0", 0},     {"2.9.65535.7", 2}};
  for (const auto &k : cases) {
    ScratchDir::write(scratch.file("kz_ver.xml"), std::string("<tal_package><version value='") +
                                                      k.package + "'/></tal_package>");
    Probe c;
    ASSERT_EQ(c.ReadPackageDefinition(L"kz_ver.xml"), 0);
    c.SetVersionFilePath(L"ver.exe");
    EXPECT_EQ(c.CompareInstalledVersion(), k.compared) << k.package;
    EXPECT_EQ(c.IsComponentInstalled(), 1) << k.package;
    wchar_t text[32] = {};
    EXPECT_EQ(c.GetProperty(3, text, 32, L"en"), 1);
    EXPECT_STREQ(text, L"2.10.0.0");
  }
  // Only in the current folder, not beside the library: not installed, for every check.
  ScratchDir::write(scratch.file("other.exe"), "binary");
  Probe c;
  c.SetVersionFilePath(L"other.exe");
  EXPECT_EQ(c.IsComponentInstalled(), 0);
  EXPECT_EQ(c.CompareInstalledVersion(), 0);
  wchar_t text[32] = L"keep";
  EXPECT_EQ(c.GetProperty(3, text, 32, L"en"), 0);
  EXPECT_STREQ(text, L"keep");
}

TEST_F(BaseComponentTest, EmptyDeclarationsPassTheirChecks) {
  fake.args = {L"talhost.exe", L"/verbose_log"};
  Probe c;
  c.Initialize();
  EXPECT_EQ(c.IsOSSupported(), 1);
  EXPECT_TRUE(test::Holds(Verbose(c), "<basecomp> \r\nIsOSSupported: Yes (empty)...\r\n"));
  EXPECT_EQ(c.IsDiskSpaceAvailable(nullptr), 1);
  EXPECT_EQ(c.IsHardwarePresent(), 1);
  EXPECT_EQ(c.IsComponentInstalled(), 0);
  EXPECT_EQ(c.IsMarkedForRemoval(), 0);
  EXPECT_EQ(c.CompareInstalledVersion(), 0);
  wchar_t out[64] = L"keep";
  EXPECT_EQ(c.CheckComponentRequirements(out, 64, L"en"), 1);
  EXPECT_EQ(c.CheckDependencyList(out, 64), 1);
  EXPECT_EQ(std::wstring(out), L"keep");
  EXPECT_EQ(c.dependencyChecked, 1u);
  EXPECT_EQ(c.systemModelSupported, 1u);
  c.BuildDeviceList(false);
  EXPECT_TRUE(c.presentDevices.empty());

  // Declared devices that are not present: no hardware.
  c.AddSupportedDevice(L"PCI\\VEN_1234&DEV_5678");
  EXPECT_EQ(c.IsHardwarePresent(), 0);
}

TEST_F(BaseComponentTest, DiskSpaceNeedAgainstTheSystemDrive) {
  Probe c;
  c.SetRequiredDiskSpace(10);
  const struct {
    int64_t freeBytes;  // -2: the volume cannot be queried
    int32_t available;
  } cases[] = {
      {10 * 1024, 1},
      {10 * 1024 - 1, 0},
      {-2, 0},
      // More than 4 TiB free is still enough (a 32-bit kilobyte count must not wrap).
      {(int64_t(1) << 42) + 4096, 1},
  };
  for (const auto &k : cases) {
    fake.freeDisk = k.freeBytes;
    EXPECT_EQ(c.IsDiskSpaceAvailable(nullptr), k.available) << k.freeBytes;
  }
}

TEST_F(BaseComponentTest, LibraryFolderIsTheModulePathCutAtItsLastSeparator) {
  fake.module = L"C:\\packages\\flash\\install.dll";
  wchar_t out[64];
  EXPECT_EQ(GetLibraryFolder(out, 64), 1);
  EXPECT_EQ(std::wstring(out), L"C:\\packages\\flash");
  EXPECT_EQ(GetLibraryFolder(out, 4), 1);
  EXPECT_EQ(std::wstring(out), L"C:\\");
}

TEST_F(BaseComponentTest, BaseInstallWithAnUnknownTypeFails) {
  fake.args = {L"talhost.exe", L"/verbose_log"};
  Probe c;
  c.Initialize();
  wchar_t result[256] = L"";
  EXPECT_EQ(c.Install(0, nullptr, result, 0, L"de"), 0);
  EXPECT_EQ(std::wstring(result), L"Unknown INF file type -- installation will not continue.");
  EXPECT_EQ(c.Install(0, nullptr, result, 0, L"JA"), 0);
  EXPECT_EQ(std::wstring(result), unknownInfType.text[5]);
  EXPECT_TRUE(test::Holds(Main(c),
                          "Initiating installation... \r\n**ERROR** - Unknown INF file type -- "
                          "installation will not continue.\r\n"));
  // The PNP path without supported devices says so.
  c.SetInfFile(L"driver.inf", INSTALL_PNP);
  EXPECT_EQ(c.Install(0, nullptr, result, 0, L"fr"), 0);
  EXPECT_EQ(std::wstring(result), L"No supported devices were specified.");
}

TEST_F(BaseComponentTest, ShellFileOpenedAfterTheInstallationWhateverItsResult) {
  Probe c;
  std::wcscpy(c.shellExecuteFile, L"C:\\pkg\\readme.cmd");
  wchar_t result[256] = L"";
  // An unknown type fails, and the file is still opened.
  EXPECT_EQ(c.Install(0, nullptr, result, 0, L"en"), 0);
  ASSERT_EQ(fake.opened.size(), 1u);
  EXPECT_EQ(fake.opened[0], L"C:\\pkg\\readme.cmd");
  EXPECT_EQ(std::wstring(result), L"Unknown INF file type -- installation will not continue.");
  // A failing open overrides the text and the result.
  fake.openSucceeds = false;
  EXPECT_EQ(c.Install(0, nullptr, result, 0, L"de"), 0);
  EXPECT_EQ(std::wstring(result), L"An error occurred during the ShellExecute command.");
}

TEST(MessageTables, LanguageColumns) {
  EXPECT_EQ(LanguageIndex(L"FR"), 1);
  EXPECT_EQ(LanguageIndex(L"it"), 2);
  EXPECT_EQ(LanguageIndex(L"De"), 3);
  EXPECT_EQ(LanguageIndex(L"es"), 4);
  EXPECT_EQ(LanguageIndex(L"ja"), 5);
  EXPECT_EQ(LanguageIndex(L"en"), 0);
  EXPECT_EQ(LanguageIndex(L"fra"), 0);
  EXPECT_EQ(LanguageIndex(nullptr), 0);
  EXPECT_EQ(std::wstring(DirectMessage(osNotSupported, L"de")),
            L"Das Betriebssystem wird nicht unterst\u00fctzt\r\n");
  EXPECT_EQ(std::wstring(DirectMessage(osNotSupported, L"it")), L"The OS is not supported.\r\n");
  // The installation paths' lookup: Japanese has its own column, every other language English.
  EXPECT_EQ(std::wstring(LookupMessage(noDevicesFound, L"de")),
            L"No devices were found to install.");
  EXPECT_EQ(std::wstring(LookupMessage(noDevicesFound, L"ja")),
            L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3059\u308b\u30c7\u30d0\u30a4\u30b9\u304c\u898b"
            L"\u3064\u304b\u308a\u307e\u305b\u3093\u3067\u3057\u305f\u3002");
  EXPECT_EQ(std::wstring(LookupMessage(shellOpenFailed, L"ja")),
            L"An error occurred during the ShellExecute command.");
  EXPECT_EQ(std::wstring(failedOnDevice.text[2]).substr(0, 30), L"Installazione non riuscita su ");
}

// A component whose checks answer as a test says, to follow the status sequence.
class Scripted : public CBaseComponent {
 public:
  int32_t os = 1, disk = 1, hardware = 1, installed = 0, removal = 0, version = 0, requirements = 1,
          dependencies = 1;
  std::wstring reason, dependencyText;
  int32_t IsOSSupported() override { return os; }
  int32_t IsDiskSpaceAvailable(const wchar_t *) override { return disk; }
  int32_t IsHardwarePresent() override { return hardware; }
  int32_t IsComponentInstalled() override {
    checkNotes += L"installed note\r\n";
    return installed;
  }
  int32_t IsMarkedForRemoval() override { return removal; }
  int32_t CompareInstalledVersion() override {
    checkNotes += L"version note\r\n";
    return version;
  }
  int32_t CheckComponentRequirements(wchar_t *out, uint32_t size, const wchar_t *) override {
    CopyTruncated(out, size, reason.c_str());
    return requirements;
  }
  int32_t CheckDependencyList(wchar_t *out, uint32_t size) override {
    CopyTruncated(out, size, dependencyText.c_str());
    return dependencies;
  }
};

class StatusTest : public BaseComponentTest {
 protected:
  Scripted c;
  std::vector<wchar_t> record = std::vector<wchar_t>(kInstallationStatusChars + 8, L'#');
  void SetUp() override {
    fake.args = {L"talhost.exe", L"/verbose_log"};
    c.Initialize();
  }
  int32_t Query(const wchar_t *lang = L"en") {
    EXPECT_EQ(c.GetProperty(5, record.data(), kInstallationStatusChars, lang), 1);
    return GetInstallationStatusCode(record.data());
  }
  std::wstring Text() { return GetInstallationText(record.data()); }
};

TEST_F(StatusTest, TheFullSequenceIsLogged) {
  c.hardware = 1;
  c.installed = 1;
  c.version = 1;
  EXPECT_EQ(Query(), STATUS_SAME);
  EXPECT_EQ(Main(c),
            "    - Is operating system supported...\r\n Operating System IS Supported\r\n"
            "    - Is necessary disk space available... \r\nNecessary disk space IS available\r\n"
            "    - Is hardware present... \r\nHardware IS present\r\n"
            "    - Is component already installed... Component IS already installed\r\n"
            "    - Is component marked for removal... Component NOT marked for removal\r\n"
            "    - Installed component version status... Component version is Same\r\n"
            "    - Checking dependency list... Done.\r\n\r\n");
  std::string verbose = Verbose(c);
  EXPECT_TRUE(
      test::Holds(verbose, "<basecomp>     - Is hardware present... \r\nHardware IS present\r\n"));
  // What a check could not read follows that check's line, which stays whole.
  EXPECT_TRUE(test::Holds(verbose,
                          "Component IS already installed\r\n<basecomp> installed "
                          "note\r\n<basecomp>     - Is component marked for removal... Component"));
  EXPECT_TRUE(test::Holds(verbose, "Component version is Same\r\n<basecomp> version note\r\n"));
}

TEST_F(StatusTest, AnUnsupportedSystemStopsAtOnceWithTheLocalText) {
  c.os = 0;
  EXPECT_EQ(Query(L"de"), STATUS_CANNOT_INSTALL);
  EXPECT_EQ(Text(), L"Das Betriebssystem wird nicht unterst\u00fctzt\r\n");
  EXPECT_EQ(Main(c),
            "    - Is operating system supported...\r\n "
            "Operating System NOT Supported...\r\n\r\n");
  EXPECT_EQ(Query(L"it"), STATUS_CANNOT_INSTALL);
  EXPECT_EQ(Text(), L"The OS is not supported.\r\n");
}

TEST_F(StatusTest, NotEnoughDiskSpace) {
  c.disk = 0;
  EXPECT_EQ(Query(L"fr"), STATUS_CANNOT_INSTALL);
  EXPECT_EQ(Text(), L"Espace disque insuffisant pour l'installation du composant.\r\n");
  EXPECT_EQ(Main(c).find("Is hardware present"), std::string::npos);
}

TEST_F(StatusTest, InstalledVersionDecidesTheCode) {
  // In turn, one check's answer changed (the version comparison answers 0, older, until the
  // second step) and the code the query then gives.
  const struct {
    int32_t Scripted::*check;
    int32_t answer;
    int32_t code;
  } steps[] = {
      {&Scripted::installed, 1, STATUS_OLDER},
      {&Scripted::version, 2, STATUS_NEWER},
      {&Scripted::version, 5, STATUS_UNKNOWN_VERSION},
      {&Scripted::installed, 0, STATUS_NOT_INSTALLED},
      {&Scripted::hardware, 0, STATUS_NOTHING},
      {&Scripted::installed, 1, STATUS_NO_HARDWARE_INSTALLED},
  };
  for (const auto &step : steps) {
    c.*step.check = step.answer;
    EXPECT_EQ(Query(), step.code) << step.code;
  }
}

TEST_F(StatusTest, RequirementsAndRemovalMakeItUninstallable) {
  c.requirements = 0;  // empty reason: status 7 with an empty text
  EXPECT_EQ(Query(), STATUS_CANNOT_INSTALL);
  EXPECT_EQ(Text(), L"");
  c.reason = L"Card firmware locked.";
  EXPECT_EQ(Query(), STATUS_CANNOT_INSTALL);
  EXPECT_EQ(Text(), L"Card firmware locked.");
  c.requirements = 1;
  c.removal = 1;
  EXPECT_EQ(Query(L"es"), STATUS_CANNOT_INSTALL);
  EXPECT_EQ(Text(),
            L"El componente est\u00e1 marcado para eliminarlo la pr\u00f3xima vez que reinicie.  "
            L"La instalaci\u00f3n no puede continuar.\r\n");
}

TEST_F(StatusTest, AFailedDependencyListOverridesEverything) {
  c.removal = 1;
  c.dependencies = 0;
  c.dependencyText = kSystemModelNotSupported;
  EXPECT_EQ(Query(), STATUS_NOTHING);
  EXPECT_EQ(Text(), L"System model not supported.");
  EXPECT_TRUE(test::Holds(Main(c), "    - Checking dependency list... Failed!\r\n\r\n"));
}

TEST_F(StatusTest, ALongReasonStaysInsideTheRecord) {
  c.requirements = 0;
  c.reason = std::wstring(4000, L'r');
  EXPECT_EQ(Query(), STATUS_CANNOT_INSTALL);
  size_t room = (kInstallationStatusChars * sizeof(wchar_t) - 4) / sizeof(wchar_t);
  EXPECT_EQ(Text(), std::wstring(room - 1, L'r'));
  for (size_t i = kInstallationStatusChars; i < record.size(); ++i) EXPECT_EQ(record[i], L'#');
}

}  // namespace

TEST_F(BaseComponentTest, DependencyListAgainstTheComputerModel) {
  const std::string list =
      "<componentdependencies><dependent_hardware><platforms>"
      "<platform name='no model'/><platform model='Other'/><platform model='fake SERVER \t\r\n'/>"
      "</platforms></dependent_hardware></componentdependencies>";
  const struct {
    const char *what;
    const char *file;  // null: no dependency.xml
    const wchar_t *model;
    bool wmiWorks;
    int32_t supported;
    const wchar_t *note;  // what the check logs after its line, beginning
  } cases[] = {
      {"no file", nullptr, L"Fake Server", true, 1, L"No dependency.xml"},
      {"not well-formed", "<componentdependencies>", L"Fake Server", true, 1,
       L"dependency.xml is not well-formed"},
      {"listed, blanks and case aside", list.c_str(), L"Fake Server  ", true, 1, L""},
      {"not listed", list.c_str(), L"Fake Server 2", true, 0, L""},
      {"the query fails", list.c_str(), L"Fake Server", false, 0,
       L"The computer model cannot be read (WMI)"},
      {"no platforms list", "<componentdependencies><dependent_hardware/></componentdependencies>",
       L"Fake Server", true, 0, L""},
  };
  for (const auto &k : cases) {
    std::remove(scratch.file("dependency.xml").c_str());
    if (k.file) ScratchDir::write(scratch.file("dependency.xml"), k.file);
    fake.model = k.model;
    fake.modelAvailable = k.wmiWorks;
    Probe c;
    wchar_t out[64] = L"keep";
    EXPECT_EQ(c.CheckDependencyList(out, 64), k.supported) << k.what;
    EXPECT_EQ(c.systemModelSupported, static_cast<uint32_t>(k.supported)) << k.what;
    EXPECT_EQ(std::wstring(out), k.supported ? L"keep" : L"System model not supported.") << k.what;
    EXPECT_EQ(c.checkNotes.substr(0, std::wcslen(k.note)), k.note) << k.what;
    EXPECT_EQ(c.checkNotes.empty(), *k.note == L'\0') << k.what;
  }
}
