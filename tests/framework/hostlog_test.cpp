// Property 9: the host hands over its own log object. The host's object here is built by hand the
// way an MSVC-built host lays it out: its first member points at a function table whose slot 0 is
// the one deleting destructor (object, flags), followed by Open, Close, WriteHeader, Write,
// WriteFooter and SetVerbose, each taking the object first; then the log's fields. The component
// must reach the host only through that table and those fields.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "basecomp.h"
#include "fake_platform.h"
#include "log_files.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;
using tal::os::sys;

namespace {

struct HostLog {
  // --- as the host's class has it ---
  void *const *table;
  const wchar_t *stubVersion;
  uint32_t status;
  std::vector<LogFileEntry> entries;
  uint32_t verbose;
  // --- the test's own bookkeeping, after the host's part ---
  std::vector<std::string> calls;
  std::wstring written;
};

void *HostDestroy(HostLog *self, unsigned flags) {
  self->calls.push_back("destroy " + std::to_string(flags));
  return self;
}
int32_t HostOpen(HostLog *self) {
  self->calls.push_back("open");
  return 0;
}
int32_t HostClose(HostLog *self) {
  self->calls.push_back("close");
  return 0;
}
void HostHeader(HostLog *self) { self->calls.push_back("header"); }
void HostWrite(HostLog *self, int32_t target, int32_t severity, const wchar_t *source, int32_t line,
               const wchar_t *format, ...) {
  std::wstring text;
  va_list args;
  va_start(args, format);
  FormatWideV(text, format, args);
  va_end(args);
  self->calls.push_back("write " + std::to_string(target) + " " + std::to_string(severity));
  self->written += text;
}
void HostFooter(HostLog *self, int32_t code) { self->calls.push_back("footer"); }
void HostVerbose(HostLog *self, uint32_t flag) { self->calls.push_back("verbose"); }

// The table, with the two words before slot 0 that a vtable carries (offset and type
// information), so that a checked build sees a CCmpLog.
void *const kHostTable[] = {
    nullptr,
    const_cast<void *>(static_cast<const void *>(&typeid(CCmpLog))),
    reinterpret_cast<void *>(&HostDestroy),
    reinterpret_cast<void *>(&HostOpen),
    reinterpret_cast<void *>(&HostClose),
    reinterpret_cast<void *>(&HostHeader),
    reinterpret_cast<void *>(&HostWrite),
    reinterpret_cast<void *>(&HostFooter),
    reinterpret_cast<void *>(&HostVerbose),
};

LogFileEntry Entry(const std::wstring &folder, const std::wstring &name) {
  LogFileEntry e{};
  CopyTruncated(e.folder, kLogFolderChars, folder.c_str());
  CopyTruncated(e.name, kLogNameChars, name.c_str());
  return e;
}

class Probe : public CBaseComponent {
 public:
  using CBaseComponent::packageFileName;
};

class HostLogTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  FakePlatform fake;
  HostLog host;
  std::wstring folder;

  void SetUp() override {
    folder = fake.expandEnvironment(L"%systemdrive%\\talsystem\\log\\");
    CreateFolderTree(folder.c_str());
    ScratchDir::write(scratch.file("talsystem/log/host_verbose.log"), "host text\r\n");
    host.table = kHostTable + 2;
    host.stubVersion = nullptr;
    host.status = 0;
    host.entries = {Entry(folder, L"host.log"), Entry(folder, L"host_verbose.log")};
    host.entries[1].handle = sys().openShared(folder + L"host_verbose.log");
    host.entries[1].open = host.entries[1].handle != tal::os::kInvalidFile;
    host.verbose = 1;
  }
  void TearDown() override {
    if (host.entries[1].open) sys().closeFile(host.entries[1].handle);
  }
  CCmpLog *HostAsLog() { return reinterpret_cast<CCmpLog *>(&host); }
  std::string LogFile(const std::string &name) { return scratch.file("talsystem/log/" + name); }
};

TEST_F(HostLogTest, AVerboseComponentMergesIntoTheHostLogAndWritesThroughItsTable) {
  fake.args = {L"talhost.exe", L"/verbose_log"};
  {
    Probe c;
    c.Initialize();
    std::wcscpy(c.packageFileName, L"kzflash");
    std::string ownPath = test::EntryPath(c.GetLog()->Entries()[1]);
    std::string ownText = ScratchDir::read(ownPath);
    ASSERT_NE(ownText.find("Checking for install.xml... Not found.\r\n"), std::string::npos);

    EXPECT_EQ(c.GetProperty(9, &host, 0, L"en"), 1);
    EXPECT_EQ(c.GetLog(), HostAsLog());
    EXPECT_EQ(c.OwnsLog(), 0u);
    EXPECT_TRUE(host.calls.empty());  // adoption itself uses the fields, not the table

    // The own verbose log went into the host's, which was then renamed "<package>.exe.log".
    EXPECT_FALSE(test::Exists(ownPath));
    EXPECT_FALSE(test::Exists(LogFile("host_verbose.log")));
    EXPECT_EQ(ScratchDir::read(LogFile("kzflash.exe.log")), "host text\r\n" + ownText);
    EXPECT_EQ(std::wstring(host.entries[1].name), L"kzflash.exe.log");
    EXPECT_EQ(host.entries[1].open, 1u);

    // From now on the component logs through the host's table.
    std::vector<wchar_t> record(kInstallationStatusChars, L'\0');
    EXPECT_EQ(c.GetProperty(5, record.data(), kInstallationStatusChars, L"en"), 1);
    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ(host.calls[0], "write 3 0");
    EXPECT_EQ(host.written.substr(0, 41), L"    - Is operating system supported...\r\n ");
    EXPECT_NE(host.written.find(L"Checking dependency list... Done.\r\n\r\n"), std::wstring::npos);

    // A second handover is not taken: the host's log stays, nothing is moved.
    HostLog other = {kHostTable + 2, nullptr, 0, {}, 1, {}, {}};
    EXPECT_EQ(c.GetProperty(9, &other, 0, L"en"), 1);
    EXPECT_EQ(c.GetLog(), HostAsLog());
    host.calls.clear();
  }
  // The component does not destroy a log it does not own.
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(HostLogTest, AnOwnLogNotInVerboseModeStaysInPlace) {
  Probe c;
  c.Initialize();
  CCmpLog *own = c.GetLog();
  EXPECT_EQ(c.GetProperty(9, &host, 0, L"en"), 1);
  EXPECT_EQ(c.GetLog(), own);
  EXPECT_EQ(c.OwnsLog(), 1u);
  EXPECT_EQ(ScratchDir::read(LogFile("host_verbose.log")), "host text\r\n");
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(c.GetProperty(9, nullptr, 0, L"en"), 0);
}

}  // namespace
