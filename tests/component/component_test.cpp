// The flash component and the plug-in boundary: the installation-state and Install result
// tables, the exports' buffer rules, the property-3 once-flag, attach and detach.
#include "component.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "server_fixture.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;
namespace plugin = tal::plugin;

namespace {

std::string ReadLog(const CCmpLog &log, size_t entry) {
  if (log.Entries().size() <= entry) return "";
  const LogFileEntry &e = log.Entries()[entry];
  return ScratchDir::read(
      tal::os::toUtf8(tal::os::sys().nativePath(std::wstring(e.folder) + std::wstring(e.name))));
}

TEST(InstallationState, EngineCodesMapToStatusValues) {
  for (int code = -3; code <= 20; ++code) {
    int32_t expected = 7;
    if (code == 2) expected = 2;
    if (code == 3) expected = 1;
    if (code == 4) expected = 3;
    if (code == 5 || code == 13) expected = 6;
    EXPECT_EQ(InstallationStateFromEngine(code), expected) << "engine code " << code;
  }
}

TEST(InstallResult, EngineCodesMapToTextsAndResults) {
  const std::wstring success =
      L"Installation completed successfully.\r\n"
      L"Power cycle is required after installation for updates to take effect.\r\n";
  struct Row {
    int code;
    const wchar_t *text;
    int32_t result;
  };
  const Row rows[] = {
      {0, success.c_str(), 2},
      {1, success.c_str(), 2},
      {2, L"UPGRADE- OK\r\n", 1},
      {3, L"Rewrite OK\r\n", 2},
      {4, L"Downgrade OK\r\n", 2},
      {5, L"No Device Found\r\n", 0},
      {6, L"User Interrupted\r\n", 0},
      {7, L"Error\r\n", 0},
      {8, L"Error - Other\r\n", 0},
      {9, L"Critical Error\r\n", 0},
      {10, L"Error\r\n", 0},
      {11, L"Error\r\n", 0},
      {12, L"Discovery Successful\r\n", 1},
      {13, nullptr, 13},
      {14, L"No device needed an update: nothing was changed.\r\n", 1},
      {15, nullptr, 15},
      {40, nullptr, 40},
      {-1, nullptr, -1},
  };
  for (const Row &row : rows) {
    const wchar_t *text = InstallResultText(row.code);
    if (row.text) {
      ASSERT_NE(text, nullptr) << row.code;
      EXPECT_EQ(std::wstring(text), row.text) << row.code;
    } else {
      EXPECT_EQ(text, nullptr) << row.code;
    }
    EXPECT_EQ(InstallResultFromEngine(row.code), row.result) << row.code;
  }
}

TEST(UpdateList, DeliveredOnceAndOnlyWhole) {
  ScratchDir scratch;
  FakePlatform fake;
  resetEngine();
  const char list[] = "\r\nVLTE0: SwitchCard A: 1.02\n";  // 28 characters
  std::vector<wchar_t> out(64, L'#');

  DeliverUpdateList("", out.data(), 64);  // nothing listed: nothing written, flag kept
  EXPECT_EQ(out[0], L'#');
  EXPECT_TRUE(UpdateListPending());

  DeliverUpdateList(list, out.data(), 28);  // no room for the terminator: refused
  EXPECT_EQ(out[0], L'#');
  EXPECT_TRUE(UpdateListPending());

  DeliverUpdateList(list, out.data(), 29);
  EXPECT_EQ(std::wstring(out.data()), L"\r\nVLTE0: SwitchCard A: 1.02\n");
  EXPECT_EQ(out[29], L'#');
  EXPECT_FALSE(UpdateListPending());

  std::vector<wchar_t> again(64, L'#');
  DeliverUpdateList(list, again.data(), 64);  // delivered already
  EXPECT_EQ(again[0], L'#');
  resetEngine();
}

// The plug-in loaded over the simulated server (server_fixture.h).
class PluginTest : public testserver::ServerTest {
 protected:
  void SetUp() override { ServerTest::SetUp(); }
  void TearDown() override {
    plugin::ProcessDetach();
    ServerTest::TearDown();
  }
  void Attach(std::vector<std::wstring> args) {
    fake.args = std::move(args);
    plugin::ProcessAttach(reinterpret_cast<void *>(0x1000), plugin::PluginBinding());
    ASSERT_NE(TheComponent(), nullptr);
  }
  std::string Verbose() { return ReadLog(*TheComponent()->GetLog(), 1); }
};

TEST_F(PluginTest, AttachCreatesTheComponentAndDetachDestroysIt) {
  Attach({L"talhost.exe", L"/verbose_log"});
  EXPECT_EQ(g_moduleHandle, reinterpret_cast<void *>(0x1000));
  EXPECT_EQ(TheComponent()->Module(), reinterpret_cast<void *>(0x1000));
  // Attach runs under the loader lock: it only creates the component. The first export call,
  // before its own work, initialises it (log opened, package files read), once.
  EXPECT_EQ(Verbose().find("Checking for install.xml"), std::string::npos);
  EXPECT_EQ(getEngineLog(), nullptr);  // the engine gets the log with the first property query
  uint32_t version = 0;
  EXPECT_EQ(plugin::ExportGetInterfaceVersion(&version), 1);
  EXPECT_NE(Verbose().find("Checking for install.xml... Not found.\r\n"), std::string::npos);
  EXPECT_EQ(plugin::ExportGetInterfaceVersion(&version), 1);
  const std::string verbose = Verbose();
  EXPECT_EQ(verbose.find("Checking for install.xml"), verbose.rfind("Checking for install.xml"));
  EXPECT_EQ(version, 100u);
  EXPECT_EQ(plugin::ExportGetInterfaceVersion(nullptr), 0);

  int32_t word = -1;
  EXPECT_EQ(plugin::ExportGetProperty(7, &word, 2, L"en"), 1);
  EXPECT_EQ(getEngineLog(), TheComponent()->GetLog());
  plugin::ProcessDetach();
  EXPECT_EQ(TheComponent(), nullptr);
  EXPECT_EQ(getEngineLog(), nullptr);
  // The exports answer 0 without a component rather than fail.
  EXPECT_EQ(plugin::ExportGetProperty(7, &word, 2, L"en"), 0);
  wchar_t text[8] = L"";
  EXPECT_EQ(plugin::ExportInstall(0, nullptr, text, 0, L"en"), 0);
}

TEST_F(PluginTest, PropertyFiveRefusedBeforeTheEngineRuns) {
  Attach({L"talhost.exe", L"/verbose_log"});
  EXPECT_EQ(plugin::ExportGetProperty(5, nullptr, kInstallationStatusChars, L"en"), 0);
  std::vector<wchar_t> record(kInstallationStatusChars + 4, L'#');
  EXPECT_EQ(plugin::ExportGetProperty(5, record.data(), kInstallationStatusChars - 1, L"en"), 0);
  for (wchar_t c : record) ASSERT_EQ(c, L'#');
  EXPECT_EQ(Verbose().find("Checking Installation state"), std::string::npos);

  EXPECT_EQ(plugin::ExportGetProperty(5, record.data(), kInstallationStatusChars, L"en"), 1);
  // An engine with nothing to report: status 6 over the base record, whose text stays.
  EXPECT_EQ(GetInstallationStatusCode(record.data()), STATUS_NOTHING);
  EXPECT_EQ(std::wstring(GetInstallationText(record.data())), L"");
  EXPECT_EQ(record[kInstallationStatusChars], L'#');
  static const std::regex prefix(R"(\[12:34:56\]::component\[\d+\] )");
  std::string verbose = std::regex_replace(Verbose(), prefix, "<c> ");
  EXPECT_NE(verbose.find("<c> Checking Installation state\r\n"), std::string::npos);
  EXPECT_NE(verbose.find("<c> Checking Installation state Ends\r\n"), std::string::npos);
}

TEST_F(PluginTest, PropertyThreeAlwaysAnswersButNeedsABuffer) {
  Attach({L"talhost.exe"});
  wchar_t text[64] = L"keep";
  EXPECT_EQ(plugin::ExportGetProperty(3, text, 64, L"en"), 1);  // nothing listed yet
  EXPECT_EQ(std::wstring(text), L"keep");
  EXPECT_EQ(plugin::ExportGetProperty(3, text, 0, L"en"), 1);
  EXPECT_EQ(plugin::ExportGetProperty(3, nullptr, 64, L"en"), 0);
  EXPECT_TRUE(UpdateListPending());
}

TEST_F(PluginTest, OtherPropertiesPassTheBaseAnswerThrough) {
  Attach({L"talhost.exe"});
  wchar_t text[64] = L"keep";
  EXPECT_EQ(plugin::ExportGetProperty(1, text, 64, L"en"), 0);  // no package document
  EXPECT_EQ(plugin::ExportGetProperty(4, text, 64, L"en"), 0);
  EXPECT_EQ(plugin::ExportGetProperty(11, text, 64, L"en"), 0);
  EXPECT_EQ(std::wstring(text), L"keep");
  int32_t word = 0;
  EXPECT_EQ(plugin::ExportGetProperty(8, &word, 2, L"en"), 1);
  EXPECT_EQ(word, 1);
  EXPECT_EQ(plugin::ExportGetProperty(6, &word, 0, L"en"), 0);
}

TEST_F(PluginTest, InstallAppendsTheResultAfterTheExistingText) {
  Attach({L"talhost.exe", L"/verbose_log"});
  wchar_t result[512] = L"Earlier text.\r\n";
  // No management processor behind the channel: nothing could be done, and Install says why.
  machine.faults.initializeStatus = 7;
  const wchar_t *why =
      L"Nothing was done: the channel to the management processor could not be "
      L"opened.\r\n";
  EXPECT_EQ(plugin::ExportInstall(1, nullptr, result, 2, L"en"), 0);
  EXPECT_EQ(std::wstring(result), std::wstring(L"Earlier text.\r\nError\r\n") + why);
  EXPECT_NE(ReadLog(*TheComponent()->GetLog(), 0).find(tal::os::toUtf8(why)), std::string::npos);
  std::string verbose = Verbose();
  size_t initiated = verbose.find("Installation initiated.\r\n");
  size_t completed = verbose.find("Installation completed.\r\n");
  EXPECT_NE(initiated, std::string::npos);
  EXPECT_NE(completed, std::string::npos);
  EXPECT_LT(initiated, completed);
  // No buffer for the result: nothing is flashed and nothing reported as done.
  EXPECT_EQ(plugin::ExportInstall(1, nullptr, nullptr, 2, L"en"), 0);
}

TEST_F(PluginTest, AnExportLogsWhatItCaughtAndAnswersFailure) {
  Attach({L"talhost.exe", L"/verbose_log"});
  fake.throwOnStream = true;
  std::vector<wchar_t> record(kInstallationStatusChars, L'#');
  EXPECT_EQ(plugin::ExportGetProperty(5, record.data(), kInstallationStatusChars, L"en"), 0);
  wchar_t result[256] = L"";
  EXPECT_EQ(plugin::ExportInstall(1, nullptr, result, 2, L"en"), 0);
  EXPECT_EQ(std::wstring(result), L"");
  fake.throwOnStream = false;
  const std::string main = ReadLog(*TheComponent()->GetLog(), 0);
  for (const char *line : {"**ERROR** - GetProperty: caught no room for the line; returning "
                           "failure\r\n",
                           "**ERROR** - Install: caught no room for the line; returning "
                           "failure\r\n"}) {
    EXPECT_NE(main.find(line), std::string::npos) << line << "\n" << main;
    EXPECT_NE(Verbose().find(line), std::string::npos) << line;
  }
}

TEST_F(PluginTest, DetachAtProcessExitCallsIntoNoOtherLibrary) {
  Attach({L"talhost.exe"});
  ASSERT_TRUE(openChannel());
  plugin::ProcessDetach(true);  // the process is ending: nothing is called, nothing destroyed
  EXPECT_EQ(channel.closeCalls, 0);
  EXPECT_NE(TheComponent(), nullptr);
  plugin::ProcessDetach(false);  // the library is unloaded: the channel is closed
  EXPECT_EQ(channel.closeCalls, 1);
  EXPECT_EQ(TheComponent(), nullptr);
}

TEST_F(PluginTest, TheRequirementsCheckIsMetWithoutAText) {
  Attach({L"talhost.exe"});
  wchar_t reason[16] = L"keep";
  EXPECT_EQ(TheComponent()->CheckComponentRequirements(reason, 16, L"en"), 1);
  EXPECT_EQ(std::wstring(reason), L"keep");
}

}  // namespace
