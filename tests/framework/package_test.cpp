// The package definition file and install.xml: which file is chosen, what is read into the
// component, the answers of properties 1, 2 and 4, and text that does not fit its field.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "basecomp.h"
#include "fake_platform.h"
#include "fake_setup.h"
#include "log_files.h"
#include "probe.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;

namespace {

std::string Wrap(const std::string &inner) {
  return "<?xml version='1.0' encoding='UTF-8'?><tal_package>" + inner + "</tal_package>";
}

class PackageTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  FakePlatform fake;
  Probe c;

  int32_t Read(const std::string &inner) {
    ScratchDir::write(scratch.file("kz_test.xml"), Wrap(inner));
    return c.ReadPackageDefinition(L"kz_test.xml");
  }
};

TEST_F(PackageTest, TheFirstKzFileWithAPackageRootIsChosen) {
  ScratchDir::write(scratch.file("kz1.xml"), "<other/>");
  ScratchDir::write(scratch.file("kz2.xml"), "<tal_package><name>");  // not well-formed
  ScratchDir::write(scratch.file("kz3.xml"), Wrap(""));
  ScratchDir::write(scratch.file("zz.xml"), Wrap(""));
  wchar_t out[260] = {};
  ASSERT_EQ(c.FindPackageDefinitionFile(out, 260), 1);
  EXPECT_STREQ(out, L"kz3.xml");
  // A buffer too small for the name: nothing that could be opened, so not found.
  wchar_t small[4] = L"abc";
  EXPECT_EQ(c.FindPackageDefinitionFile(small, 4), 0);
  EXPECT_STREQ(small, L"abc");
}

TEST_F(PackageTest, ReadResults) {
  EXPECT_EQ(c.ReadPackageDefinition(nullptr), 4);
  EXPECT_EQ(c.ReadPackageDefinition(L"missing.xml"), 3);
  // The reader stays even when loading failed: a second read is refused.
  EXPECT_EQ(c.ReadPackageDefinition(L"kz_other.xml"), 1);
  Probe fresh;
  ScratchDir::write(scratch.file("kz_bad.xml"), "<tal_package>");
  EXPECT_EQ(fresh.ReadPackageDefinition(L"kz_bad.xml"), 5);
}

TEST_F(PackageTest, DeclarationsFillTheFields) {
  ASSERT_EQ(Read("<filename>kz0110vb.exe</filename>"
                 "<installation><install><install_caps silent='No'/>"
                 "<reboot_required value='YES'/></install></installation>"
                 "<prerequisites><required_diskspace size_kb='2048'/>"
                 "<supported_devices>"
                 "<supported_devices_and><supported_device type='PCI'>"
                 "<supported_device_data name='ven'>AAAA</supported_device_data>"
                 "<supported_device_data name='dev'>BBBB</supported_device_data>"
                 "<supported_device_data name='subven'>CCCC</supported_device_data>"
                 "<supported_device_data name='subdev'>DDDD</supported_device_data>"
                 "</supported_device></supported_devices_and>"
                 "<supported_devices_and><supported_device type='pci'>"
                 "<supported_device_data name='ven'>AAAA</supported_device_data>"
                 "<supported_device_data name='dev'>BBBB</supported_device_data>"
                 "<supported_device_data name='subven'>CCCC</supported_device_data>"
                 "</supported_device></supported_devices_and>"
                 "<supported_devices_and><supported_device type='eisa'>"
                 "<supported_device_data name='id'>ABC1234</supported_device_data>"
                 "</supported_device></supported_devices_and>"
                 "<supported_devices_and><supported_device type='pnp'>"
                 "<supported_device_data name='id'>ROOT\\TALDEV</supported_device_data>"
                 "</supported_device></supported_devices_and>"
                 "<supported_devices_and><supported_device type='scsi'>"
                 "<supported_device_data name='id'>SCSI\\Disk</supported_device_data>"
                 "</supported_device></supported_devices_and>"
                 "<supported_devices_and><supported_device type='usb'>"
                 "<supported_device_data name='id'>USB\\X</supported_device_data>"
                 "</supported_device></supported_devices_and>"
                 "</supported_devices>"
                 "<supported_operating_systems>"
                 "<supported_operating_system platform='nt_x86-64' major='10' minor='0'/>"
                 "<supported_operating_system platform='nt' sr='1' edition='DcR2'/>"
                 "<supported_operating_system platform='nt64' major='x' edition='bogus'/>"
                 "</supported_operating_systems></prerequisites>"),
            0);
  EXPECT_STREQ(c.packageFileName, L"kz0110vb.exe");
  EXPECT_EQ(c.silent, 0u);
  EXPECT_EQ(c.rebootRequired, 1u);
  EXPECT_EQ(c.requiredDiskSpaceKb, 2048u);
  // List order: the first group, then the later ones from the last back.
  ASSERT_EQ(c.supportedDevices.size(), 4u);
  EXPECT_EQ(c.supportedDevices[0].str(), L"PCI\\VEN_AAAA&DEV_BBBB&SUBSYS_DDDDCCCC");
  EXPECT_EQ(c.supportedDevices[1].str(), L"ROOT\\TALDEV");
  EXPECT_EQ(c.supportedDevices[2].str(), L"*ABC1234");
  EXPECT_EQ(c.supportedDevices[3].str(), L"");  // a PCI entry with three parts
  ASSERT_EQ(c.supportedScsiIds.size(), 1u);
  ASSERT_EQ(c.supportedOS.size(), 3u);
  const struct {
    const wchar_t *platform;
    int32_t major, minor, servicePack;
    uint16_t edition;
  } os[] = {{L"nt_x86-64", 10, 0, -1, 0xFFFF}, {L"nt64", 0, -1, -1, 0}, {L"nt", -1, -1, 1, 0x040C}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_STREQ(c.supportedOS[i].platform, os[i].platform) << i;
    EXPECT_EQ(c.supportedOS[i].major, os[i].major) << i;
    EXPECT_EQ(c.supportedOS[i].minor, os[i].minor) << i;
    EXPECT_EQ(c.supportedOS[i].servicePack, os[i].servicePack) << i;
    EXPECT_EQ(c.supportedOS[i].edition, os[i].edition) << i;
  }
}

// The reader drops text that begins with white space, so an id written on a line of its own
// has no text. Such an entry must still count: skipped, it could leave the list empty, and an
// empty list makes the package install on any hardware.
TEST_F(PackageTest, ADeviceIdWithoutTextMatchesNoHardware) {
  tal::os::FakeSetupHost host;
  for (const wchar_t *id : {L"ROOT\\TALDEV", L"*ABC1234"}) {
    tal::os::SimDevice device;
    device.instanceId = std::wstring(id) + L"\\0000";
    device.hardwareIds = {id};
    host.devices.push_back(device);
  }
  const auto entry = [](const char *type, const char *data) {
    return std::string("<supported_devices_and><supported_device type='") + type + "'>" + data +
           "</supported_device></supported_devices_and>";
  };
  const struct {
    const char *what;
    std::string entry;
  } cases[] = {
      {"pnp id on its own line", entry("pnp",
                                       "<supported_device_data name='id'>\n  ROOT\\TALDEV\n"
                                       "</supported_device_data>")},
      {"eisa id on its own line", entry("eisa",
                                        "<supported_device_data name='id'>\n  ABC1234\n"
                                        "</supported_device_data>")},
      {"eisa data not named id", entry("eisa",
                                       "<supported_device_data name='x'>ABC1234"
                                       "</supported_device_data>")},
      {"pnp without data", entry("pnp", "")},
  };
  for (const auto &k : cases) {
    Probe p;
    p.GetLog()->SetVerbose(1);
    p.GetLog()->Open();
    ScratchDir::write(scratch.file("kz_dev.xml"),
                      Wrap("<prerequisites><supported_devices>" + k.entry +
                           "</supported_devices></prerequisites>"));
    ASSERT_EQ(p.ReadPackageDefinition(L"kz_dev.xml"), 0) << k.what;
    ASSERT_EQ(p.supportedDevices.size(), 1u) << k.what;
    EXPECT_EQ(p.supportedDevices[0].str(), L"") << k.what;
    EXPECT_EQ(p.IsHardwarePresent(), 0) << k.what;
    EXPECT_NE(test::VerboseText(*p.GetLog()).find("the entry matches no device"), std::string::npos)
        << k.what;
  }
  // Written on one line, the same entries find their devices.
  Probe p;
  ScratchDir::write(scratch.file("kz_dev.xml"),
                    Wrap("<prerequisites><supported_devices>" +
                         entry("pnp",
                               "<supported_device_data name='id'>ROOT\\TALDEV"
                               "</supported_device_data>") +
                         "</supported_devices></prerequisites>"));
  ASSERT_EQ(p.ReadPackageDefinition(L"kz_dev.xml"), 0);
  EXPECT_EQ(p.IsHardwarePresent(), 1);
}

TEST_F(PackageTest, TextsTooLongForTheirFieldsAreRefusedNotCut) {
  c.GetLog()->SetVerbose(1);
  c.GetLog()->Open();
  ASSERT_EQ(Read("<filename>" + std::string(128, 'f') +
                 "</filename>"
                 "<prerequisites><required_diskspace/><supported_operating_systems>"
                 "<supported_operating_system platform='" +
                 std::string(64, 'p') +
                 "'/>"
                 "</supported_operating_systems></prerequisites>"),
            0);
  EXPECT_STREQ(c.packageFileName, L"");
  EXPECT_EQ(c.requiredDiskSpaceKb, 0u);
  // The entry stays, so the list is not empty ("every system"), and it matches no system.
  ASSERT_EQ(c.supportedOS.size(), 1u);
  EXPECT_EQ(c.supportedOS[0].edition, 0);
  EXPECT_EQ(c.IsOSSupported(), 0);
  const std::string verbose = test::VerboseText(*c.GetLog());
  EXPECT_NE(verbose.find("longer than 127 characters"), std::string::npos);
  EXPECT_NE(verbose.find("longer than 63 characters"), std::string::npos);
}

TEST_F(PackageTest, VersionFileTheFirstExistingCandidateOrTheFirst) {
  // A relative candidate is looked for beside the plug-in library, here the package folder.
  fake.module = tal::os::fromUtf8(scratch.file("libdrvinstall.so"));
  ScratchDir::write(scratch.file("two/ver.dll"), "");
#ifdef _WIN32
  _putenv_s("TAL_PKG_DIR", ".");
#else
  setenv("TAL_PKG_DIR", ".", 1);
#endif
  const std::string keys =
      "<sw_keys><sw_keys_and><sw_key name='ver.dll'><sw_key_expectedpath>%TAL_PKG_DIR%\\one"
      "</sw_key_expectedpath></sw_key></sw_keys_and>"
      "<sw_keys_and><sw_key><sw_key_expectedpath>%TAL_PKG_DIR%\\three\\</sw_key_expectedpath>"
      "</sw_key></sw_keys_and>"
      "<sw_keys_and><sw_key><sw_key_expectedpath>%TAL_PKG_DIR%\\two\\</sw_key_expectedpath>"
      "</sw_key></sw_keys_and></sw_keys>";
  ASSERT_EQ(Read(keys), 0);
  EXPECT_EQ(c.versionFilePath.str(), L".\\two\\ver.dll");
  Probe none;
  ScratchDir::write(scratch.file("kz_none.xml"),
                    Wrap("<sw_keys><sw_keys_and><sw_key name='x.dll'><sw_key_expectedpath>"
                         "C:\\nowhere</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys>"));
  ASSERT_EQ(none.ReadPackageDefinition(L"kz_none.xml"), 0);
  EXPECT_EQ(none.versionFilePath.str(), L"C:\\nowhere\\x.dll");
}

TEST_F(PackageTest, PropertiesAnswerInTheHostsLanguageWithEnglishAsFallback) {
  ASSERT_EQ(Read("<name><name_xlate lang='en'>Name</name_xlate>"
                 "<name_xlate lang='DE'>Der Name</name_xlate></name>"
                 "<description><description_xlate lang='de'><![CDATA[Beschreibung]]>"
                 "</description_xlate><description_xlate lang='en'><![CDATA[About]]>"
                 "</description_xlate></description><version value='1.12'/>"),
            0);
  const struct {
    uint32_t property;
    const wchar_t *lang;
    uint32_t size;
    int32_t result;
    const wchar_t *text;
  } cases[] = {
      {1, L"de", 64, 1, L"Der Name"},
      {1, L"xx", 64, 1, L"Name"},
      {1, nullptr, 64, 1, L"Name"},
      {1, L"en", 4, 0, L"keep"},  // "Name" needs 5 characters with its terminator
      {1, L"en", 5, 1, L"Name"},
      {2, L"de", 64, 1, L"Beschreibung"},
      {2, L"fr", 64, 1, L"About"},
      {4, L"en", 64, 1, L"1.12"},
      {4, L"en", 4, 0, L"keep"},
  };
  for (const auto &k : cases) {
    wchar_t out[64] = L"keep";
    EXPECT_EQ(c.GetProperty(k.property, out, k.size, k.lang), k.result) << k.property;
    EXPECT_STREQ(out, k.text) << k.property;
  }
  // Without an "en" entry another language finds nothing; a name that is not text neither.
  Probe other;
  ScratchDir::write(scratch.file("kz_de.xml"),
                    Wrap("<name><name_xlate lang='de'>Der Name</name_xlate></name>"
                         "<description><description_xlate lang='en'>plain</description_xlate>"
                         "</description><version value=''/>"));
  ASSERT_EQ(other.ReadPackageDefinition(L"kz_de.xml"), 0);
  wchar_t out[64] = L"keep";
  EXPECT_EQ(other.GetName(out, 64, L"fr"), 0);
  EXPECT_EQ(other.GetDescription(out, 64, L"en"), 0);
  EXPECT_EQ(other.GetPackageVersion(out, 64), 0);
  EXPECT_STREQ(out, L"keep");
}

TEST_F(PackageTest, InstallerXmlTakesTheInfElementOfTheReportedMajorVersion) {
  ScratchDir::write(scratch.file("install.xml"),
                    "<tal_install><inf_information>"
                    "<inf_file filename='new.inf' type='pnp' section='S6' service_name='svc'/>"
                    "<inf_file_nt5 filename='w2k.inf' type='Legacy'/>"
                    "<inf_file_nt4 filename='nt4.inf' type='other'/>"
                    "</inf_information><ShellExecute><ShellExecute_Info "
                    "file='%SYSTEMROOT%\\readme.cmd' DefaultDir='%SYSTEMROOT%'/></ShellExecute>"
                    "</tal_install>");
  const struct {
    uint32_t major;
    const wchar_t *inf;
    int32_t type;
  } cases[] = {{10, L"new.inf", INSTALL_PNP},
               {6, L"new.inf", INSTALL_PNP},
               {5, L"w2k.inf", INSTALL_LEGACY},
               {4, L"nt4.inf", INSTALL_UNKNOWN}};
  for (const auto &k : cases) {
    fake.identity.reportedMajor = k.major;
    Probe p;
    ASSERT_EQ(p.ReadInstallerXml(L"install.xml"), 0);
    EXPECT_EQ(p.infFile.str(), k.inf) << k.major;
    EXPECT_EQ(p.installType, k.type) << k.major;
  }
  fake.identity.reportedMajor = 10;
  Probe p;
  ASSERT_EQ(p.ReadInstallerXml(L"install.xml"), 0);
  EXPECT_EQ(p.infSection.str(), L"S6");
  EXPECT_EQ(p.serviceName.str(), L"svc");
  const std::wstring windows = fake.expandEnvironment(L"%SYSTEMROOT%");
  EXPECT_EQ(std::wstring(p.shellExecuteFile), windows + L"\\readme.cmd");
  EXPECT_EQ(std::wstring(p.shellExecuteDir), windows);
  EXPECT_EQ(p.ReadInstallerXml(nullptr), 4);
  EXPECT_EQ(p.ReadInstallerXml(L"none.xml"), 3);
}

TEST(PackageTables, HardwareIdsAndEditionMasks) {
  const struct {
    const wchar_t *text;
    const wchar_t *id;
  } ids[] = {{L"ABC1234", L"*ABC1234"},
             {L"8086abcd", L"PCI\\VEN_8086&DEV_abcd"},
             {L"AAAABBBBCCCCDDDD", L"PCI\\VEN_AAAA&DEV_BBBB&SUBSYS_DDDDCCCC"},
             {L"AAAABBBBCCCC", L""},
             {L"", L""}};
  for (const auto &k : ids) EXPECT_EQ(MakeHardwareId(k.text).str(), k.id) << k.text;
  const struct {
    const wchar_t *name;
    uint16_t mask;
  } editions[] = {{L"", 0xFFFF},      {L"SRVR", 0xFF05},     {L"core", 0xFF0A},
                  {L"r2", 0xFF0C},    {L"r2srvr", 0xFF04},   {L"r2core", 0xFF08},
                  {L"dc", 0x040F},    {L"dcsrvr", 0x0405},   {L"dccore", 0x040A},
                  {L"dcr2", 0x040C},  {L"dcr2srvr", 0x0404}, {L"dcr2core", 0x0408},
                  {L"sbs", 0x0205},   {L"sbsr2", 0x0204},    {L"ebs", 0x0206},
                  {L"ebsr2", 0x0207}, {L"srvr ", 0},         {L"server", 0}};
  for (const auto &k : editions) EXPECT_EQ(EditionMaskFromName(k.name), k.mask) << k.name;
}

}  // namespace
