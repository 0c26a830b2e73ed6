// A host that calls the exports from several threads: each call runs whole, one at a time, and a
// call made from inside an export (a host log object that calls back in) goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "component.h"
#include "server_fixture.h"

using tal::os::ScratchDir;
namespace plugin = tal::plugin;

namespace {

// A host's log object that asks the plug-in for a property from inside every Write.
class CallingBackLog : public CCmpLog {
 public:
  CallingBackLog(const wchar_t *name, const wchar_t *folder) : CCmpLog(name, folder) {}
  void Write(LogTarget, LogSeverity, const wchar_t *, int32_t, const wchar_t *, ...) override {
    int32_t word = 0;
    if (callBack && plugin::ExportGetProperty(8, &word, 2, L"en") == 1 && word == 1) ++answered;
  }
  std::atomic<bool> callBack{true};
  std::atomic<int> answered{0};
};

// The plug-in loaded over the simulated server, whose engine-log writes take a little while.
class Concurrency : public testserver::ServerTest {
 protected:
  // A host's log outlives the component that adopted it.
  std::unique_ptr<CallingBackLog> host;

  void SetUp() override {
    ServerTest::SetUp();
    fake.slowStreams = true;
    fake.args = {L"talhost.exe", L"/verbose_log"};
    plugin::ProcessAttach(reinterpret_cast<void *>(0x1000), plugin::PluginBinding());
    ASSERT_NE(TheComponent(), nullptr);
  }
  void TearDown() override {
    plugin::ProcessDetach();
    ServerTest::TearDown();
  }
  std::string Verbose() {
    const LogFileEntry &e = TheComponent()->GetLog()->Entries().at(1);
    return ScratchDir::read(
        tal::os::toUtf8(tal::os::sys().nativePath(std::wstring(e.folder) + std::wstring(e.name))));
  }
};

// Install on one thread, property queries on another: the component log shows each call whole
// (no query's lines inside an Install's), and every call got its answer.
TEST_F(Concurrency, PropertyQueriesWaitForARunningInstall) {
  constexpr int kInstalls = 8, kQueries = 40;
  uint32_t version = 0;
  ASSERT_EQ(plugin::ExportGetInterfaceVersion(&version), 1);  // initialised before the race
  std::atomic<bool> go{false};
  std::atomic<int> answered{0};
  std::thread queries([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kQueries; ++i) {
      std::vector<wchar_t> record(kInstallationStatusChars, L'\0');
      answered += plugin::ExportGetProperty(5, record.data(), kInstallationStatusChars, L"en");
      int32_t word = 0;
      answered += plugin::ExportGetProperty(8, &word, 2, L"en");
    }
  });
  int installed = 0;
  go = true;
  for (int i = 0; i < kInstalls; ++i) {
    wchar_t result[512] = L"";
    // Whatever the result (no server here), each Install answers with a text.
    plugin::ExportInstall(1, nullptr, result, 2, L"en");
    installed += result[0] != L'\0';
  }
  queries.join();
  EXPECT_EQ(installed, kInstalls);
  EXPECT_EQ(answered, 2 * kQueries);

  const std::string log = Verbose();
  size_t at = 0;
  int pairs = 0;
  while ((at = log.find("Installation initiated.\r\n", at)) != std::string::npos) {
    const size_t end = log.find("Installation completed.\r\n", at);
    ASSERT_NE(end, std::string::npos) << log.substr(at);
    const std::string inside = log.substr(at, end - at);
    EXPECT_EQ(inside.find("Checking Installation state"), std::string::npos) << inside;
    at = end;
    ++pairs;
  }
  EXPECT_EQ(pairs, kInstalls);
}

// The host's own log calls back into the plug-in from inside Install and a property query: the
// inner call is answered on the same thread rather than waiting for itself.
TEST_F(Concurrency, ACallFromInsideAnExportGoesOn) {
  host = std::make_unique<CallingBackLog>(L"host.log", L"%systemdrive%\\talsystem\\log\\");
  std::atomic<bool> done{false};
  std::thread caller([&] {
    EXPECT_EQ(plugin::ExportGetProperty(9, host.get(), 0, L"en"), 1);
    EXPECT_EQ(TheComponent()->GetLog(), host.get());
    wchar_t result[512] = L"";
    plugin::ExportInstall(1, nullptr, result, 2, L"en");
    done = true;
  });
  for (int i = 0; i < 1000 && !done; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!done) {
    // The thread waits on itself and will never end: nothing else can be checked.
    std::fprintf(stderr, "FAIL: a call from inside an export waits for the export\n");
    std::_Exit(1);
  }
  caller.join();
  host->callBack = false;
  EXPECT_GT(host->answered.load(), 0);
}

}  // namespace
