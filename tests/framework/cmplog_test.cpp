// The component log: which file each target reaches with which prefix, message formatting, the
// files' lifecycle (append, never truncate), the session header and footer, and moving the
// verbose log.
#include "cmplog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fake_platform.h"
#include "log_files.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;
using test::MainText;
using test::VerboseText;

namespace {

class LogTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  FakePlatform fake;
};

TEST_F(LogTest, DefaultLocationsAreTheSystemDriveLogFolder) {
  CCmpLog log;
  ASSERT_EQ(log.Entries().size(), 2u);
  std::wstring folder = fake.expandEnvironment(L"%systemdrive%\\talsystem\\log\\");
  EXPECT_EQ(std::wstring(log.Entries()[0].folder), folder);
  EXPECT_EQ(std::wstring(log.Entries()[0].name), L"talsetup.log");
  EXPECT_EQ(std::wstring(log.GetVerboseFolder()), folder);
  // The verbose name is a "_KZ" temp name, its extension joined back with "%s.%s".
  std::wstring name = log.GetVerboseName();
  EXPECT_EQ(name.substr(0, 3), L"_KZ");
  EXPECT_EQ(CompareNoCase(name.substr(name.size() - 5).c_str(), L"..TMP"), 0) << name;
  EXPECT_EQ(log.GetStatus(), 0u);
  // Constructed only: nothing is created before Open.
  EXPECT_FALSE(test::Exists(test::EntryPath(log.Entries()[0])));
}

// The verbose name's number comes from the platform's clock: the same second gives the same name,
// the next second another.
TEST_F(LogTest, TheVerboseNameFollowsThePlatformClock) {
  fake.wallSeconds = 1797336003;
  const std::wstring first = CCmpLog().GetVerboseName();
  EXPECT_EQ(CCmpLog().GetVerboseName(), first);
  fake.wallSeconds += 1;
  EXPECT_NE(CCmpLog().GetVerboseName(), first);
}

TEST_F(LogTest, TargetsAndSeveritiesInVerboseMode) {
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  ASSERT_EQ(log.Open(), 0);
  log.Write(LT_MAIN, LS_WARNING, L"x.cpp", 5, L"m0\r\n");
  log.Write(LT_VERBOSE, LS_NONE, L"C:\\src\\basecomp.cpp", 42, L"m1\r\n");
  log.Write(LT_VERBOSE_NOLOC, LS_CRITICAL, L"y.cpp", 9, L"m2\r\n");
  log.Write(LT_BOTH, LS_ERROR, L"/src/dir/comp.cpp", 7, L"m3 %d %ls\r\n", 3, L"wide");
  log.Write(LT_BOTH_NOLOC, LS_NONE, nullptr, 0, L"m4\r\n");
  log.Write(LT_VERBOSE, LogSeverity(7), L"z.cpp", 1, L"m5\r\n");
  log.Write(LT_BOTH, LS_WARNING, nullptr, 3, L"m6\r\n");
  log.Write(LogTarget(9), LS_ERROR, L"z.cpp", 1, L"never\r\n");
  log.Write(LT_VERBOSE_NOLOC, LogSeverity(-1), nullptr, 0, L"m7");
  log.Close();

  EXPECT_EQ(MainText(log),
            "**WARNING** - m0\r\n"
            "**ERROR** - m3 3 wide\r\n"
            "m4\r\n"
            "**WARNING** - m6\r\n");
  EXPECT_EQ(VerboseText(log),
            "[12:34:56]::basecomp.cpp[42] m1\r\n"
            "**CRITICAL** - m2\r\n"
            "[12:34:56]::comp.cpp[7] **ERROR** - m3 3 wide\r\n"
            "m4\r\n"
            "m5\r\n"
            "[12:34:56]::[3] **WARNING** - m6\r\n"
            "m7");
}

TEST_F(LogTest, WithoutVerboseModeOnlyTheMainFileIsWritten) {
  CCmpLog log(L"verbose.log");
  ASSERT_EQ(log.Open(), 0);
  log.Write(LT_VERBOSE, LS_NONE, L"a.cpp", 1, L"only verbose\r\n");
  log.Write(LT_VERBOSE_NOLOC, LS_ERROR, nullptr, 0, L"only verbose\r\n");
  log.Write(LT_BOTH, LS_ERROR, L"a.cpp", 2, L"both\r\n");
  log.Close();
  EXPECT_EQ(MainText(log), "**ERROR** - both\r\n");
  EXPECT_FALSE(test::Exists(test::EntryPath(log.Entries()[1])));
}

TEST_F(LogTest, MessagesAreFormattedWholeAndEmptyOnesWriteNothing) {
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  ASSERT_EQ(log.Open(), 0);
  std::wstring longText(5000, L'x');
  longText += L"<end>";
  log.Write(LT_BOTH_NOLOC, LS_NONE, nullptr, 0, L"%ls|%d\r\n", longText.c_str(), 77);
  log.Write(LT_BOTH, LS_ERROR, L"a.cpp", 1, L"%ls", L"");  // empty text: no prefix either
  log.Write(LT_BOTH, LS_ERROR, L"a.cpp", 1, nullptr);
  // A text from outside passed as an argument is written as it is, never interpreted.
  log.Write(LT_MAIN, LS_NONE, nullptr, 0, L"%ls\r\n", L"100% %s %n");
  log.Close();
  std::string expected = std::string(5000, 'x') + "<end>|77\r\n";
  EXPECT_EQ(MainText(log), expected + "100% %s %n\r\n");
  EXPECT_EQ(VerboseText(log), expected);
}

TEST_F(LogTest, TextIsWrittenInTheAnsiCodePage) {
  CCmpLog log;
  ASSERT_EQ(log.Open(), 0);
  log.Write(LT_MAIN, LS_NONE, nullptr, 0, L"%ls", L"caf\u00e9");
  log.Close();
  EXPECT_EQ(MainText(log), fake.toAnsi(L"caf\u00e9"));
}

TEST_F(LogTest, OpeningAnExistingLogAppendsToIt) {
  std::string folder = scratch.file("talsystem/log");
  ScratchDir::write(folder + "/talsetup.log", "earlier session\r\n");
  ScratchDir::write(folder + "/verbose.log", "earlier verbose\r\n");
  {
    CCmpLog log(L"verbose.log");
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.Write(LT_BOTH_NOLOC, LS_NONE, nullptr, 0, L"next\r\n");
    EXPECT_EQ(log.Close(), 0);
    // Written after Close: skipped silently.
    log.Write(LT_BOTH_NOLOC, LS_NONE, nullptr, 0, L"after close\r\n");
  }
  CCmpLog again(L"verbose.log");
  again.SetVerbose(1);
  ASSERT_EQ(again.Open(), 0);
  again.Write(LT_MAIN, LS_NONE, nullptr, 0, L"third\r\n");
  again.Close();
  EXPECT_EQ(ScratchDir::read(folder + "/talsetup.log"), "earlier session\r\nnext\r\nthird\r\n");
  EXPECT_EQ(ScratchDir::read(folder + "/verbose.log"), "earlier verbose\r\nnext\r\n");
}

TEST_F(LogTest, AFolderThatCannotBeCreatedFailsOpenAndWritesNothing) {
  // The drive is a plain file, so no log folder can be made below it.
  ScratchDir::write(scratch.file("blocker"), "");
  test::SetEnv("SYSTEMDRIVE", scratch.file("blocker"));
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  EXPECT_EQ(log.Open(), kLogOpenFailed);
  log.Write(LT_BOTH, LS_ERROR, L"a.cpp", 1, L"lost\r\n");
  log.WriteHeader();
  log.WriteFooter(1);
  EXPECT_EQ(log.Close(), 0);
  EXPECT_EQ(ScratchDir::read(scratch.file("blocker")), "");
}

TEST_F(LogTest, AFolderTooLongLeavesTheEntriesOut) {
  test::SetEnv("SYSTEMDRIVE", std::string(300, 'd'));
  CCmpLog log(L"verbose.log");
  EXPECT_EQ(log.GetStatus(), kLogFolderTooLong);
  EXPECT_TRUE(log.Entries().empty());
  log.SetVerbose(1);
  EXPECT_EQ(log.Open(), 0);
  log.Write(LT_BOTH, LS_NONE, L"a.cpp", 1, L"nowhere\r\n");
  log.MoveVerboseLog(L"x.log", L"C:\\");
  EXPECT_EQ(std::wstring(log.GetVerboseName()), L"");

  // Only the verbose folder too long: the main log works alone.
  test::SetEnv("SYSTEMDRIVE", scratch.path());
  CCmpLog mainOnly(L"verbose.log", std::wstring(300, L'v').c_str());
  EXPECT_EQ(mainOnly.GetStatus(), kLogFolderTooLong);
  ASSERT_EQ(mainOnly.Entries().size(), 1u);
  mainOnly.SetVerbose(1);
  EXPECT_EQ(mainOnly.Open(), 0);
  mainOnly.Write(LT_BOTH, LS_NONE, L"a.cpp", 1, L"main only\r\n");
  mainOnly.Close();
  EXPECT_EQ(MainText(mainOnly), "main only\r\n");
}

TEST_F(LogTest, HeaderAndFooter) {
  fake.executable = L"C:\\setup\\talhost.exe";
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  log.SetStubVersion(L"7.0");
  ASSERT_EQ(log.Open(), 0);
  log.WriteHeader();
  log.WriteFooter(-3);
  log.Close();
  const std::string rule(75, '=');
  const std::string footer =
      "\r\n\r\nLog Session End. [12:34:56]\r\nReturn Code (-3)\r\n" + rule + "\r\n\r\n";
  EXPECT_EQ(VerboseText(log), rule +
                                  "\r\nSource:          talhost.exe\r\n"
                                  "Version:         1.2.3.4\r\n"
                                  "Stub Version:    7.0\r\n"
                                  "Log Date:        12/08/2026 12:34:56\r\n\r\n"
                                  "Verbose Log Session Start ...\r\n\r\n" +
                                  footer);
  EXPECT_EQ(MainText(log), rule +
                               "\r\nSource:          talhost.exe\r\n"
                               "Version:         1.2.3.4\r\n"
                               "Log Date:        12/08/2026 12:34:56\r\n\r\n"
                               "Log Session Start...\r\n\r\n" +
                               footer);
}

TEST_F(LogTest, HeaderWithoutExecutableVersionOrStubVersion) {
  fake.executable = L"C:\\setup\\talhost.exe";
  fake.hasExeVersion = false;
  CCmpLog log(L"verbose.log");
  log.SetVerbose(1);
  ASSERT_EQ(log.Open(), 0);
  log.WriteHeader();
  log.Close();
  std::string verbose = VerboseText(log);
  EXPECT_NE(verbose.find("Version:         \r\nStub Version:    \r\n"), std::string::npos);
  EXPECT_NE(MainText(log).find("Version:         \r\nLog Date:"), std::string::npos);
}

class MoveVerboseLogTest : public LogTest {
 protected:
  std::wstring Folder() { return fake.expandEnvironment(L"%systemdrive%\\talsystem\\log\\"); }
  std::string LogFile(const std::string &name) { return scratch.file("talsystem/log/" + name); }
  // Opens LOG verbose, writes BEFORE, moves the verbose log to NAME in FOLDER, writes AFTER and
  // closes it.
  static void MoveBetween(CCmpLog &log, const wchar_t *before, const wchar_t *name,
                          const std::wstring &folder, const wchar_t *after) {
    log.SetVerbose(1);
    ASSERT_EQ(log.Open(), 0);
    log.Write(LT_VERBOSE_NOLOC, LS_NONE, nullptr, 0, before);
    log.MoveVerboseLog(name, folder.c_str());
    log.Write(LT_VERBOSE_NOLOC, LS_NONE, nullptr, 0, after);
    log.Close();
  }
};

TEST_F(MoveVerboseLogTest, ToTheSamePlaceChangesNothing) {
  CCmpLog log(L"own.log");
  log.SetVerbose(1);
  ASSERT_EQ(log.Open(), 0);
  log.Write(LT_VERBOSE_NOLOC, LS_NONE, nullptr, 0, L"before\r\n");
  log.MoveVerboseLog(L"own.log", Folder().c_str());
  log.MoveVerboseLog(L"OWN.LOG", Folder().c_str());  // the same file where paths ignore case
  // The same file spelt another way, or reached through another link: compared by identity.
  std::wstring slashed = Folder(), dotted = Folder() + L".\\", around = Folder() + L"..\\log\\";
  for (wchar_t &c : slashed) {
    if (c == L'\\') c = L'/';
  }
  std::filesystem::create_hard_link(LogFile("own.log"), LogFile("alias.log"));
  for (const std::wstring &folder : {slashed, dotted, around}) {
    log.MoveVerboseLog(L"own.log", folder.c_str());
  }
  log.MoveVerboseLog(L"alias.log", Folder().c_str());
  log.MoveVerboseLog(L"", L"C:\\elsewhere\\");
  log.MoveVerboseLog(nullptr, L"C:\\elsewhere\\");
  log.Write(LT_VERBOSE_NOLOC, LS_NONE, nullptr, 0, L"after\r\n");
  log.Close();
  EXPECT_EQ(std::wstring(log.GetVerboseName()), L"own.log");
  EXPECT_EQ(std::wstring(log.GetVerboseFolder()), Folder());
  EXPECT_EQ(ScratchDir::read(LogFile("own.log")), "before\r\nafter\r\n");
}

TEST_F(MoveVerboseLogTest, ToAFreeNameRenamesTheFile) {
  CCmpLog log(L"own.log");
  std::wstring moved = Folder() + L"moved\\";
  ASSERT_NO_FATAL_FAILURE(MoveBetween(log, L"before\r\n", L"new.log", moved, L"after\r\n"));
  EXPECT_EQ(std::wstring(log.GetVerboseName()), L"new.log");
  EXPECT_EQ(std::wstring(log.GetVerboseFolder()), moved);
  EXPECT_FALSE(test::Exists(LogFile("own.log")));
  EXPECT_EQ(ScratchDir::read(LogFile("moved/new.log")), "before\r\nafter\r\n");
}

TEST_F(MoveVerboseLogTest, AMoveThatCannotRenameKeepsWritingTheOldFile) {
  // The new folder cannot exist: a plain file stands where its parent would be.
  ScratchDir::write(LogFile("blocker"), "not a folder");
  CCmpLog log(L"own.log");
  std::wstring unreachable = Folder() + L"blocker\\sub\\";
  ASSERT_NO_FATAL_FAILURE(MoveBetween(log, L"before\r\n", L"new.log", unreachable, L"after\r\n"));
  // The entry still names the old file, and the file it names has every message.
  EXPECT_EQ(std::wstring(log.GetVerboseName()), L"own.log");
  EXPECT_EQ(ScratchDir::read(LogFile("own.log")), "before\r\nafter\r\n");

  // A later merge onto an existing file carries that whole text and only then deletes the file.
  ScratchDir::write(LogFile("host.log"), "host\r\n");
  CCmpLog again(L"own.log");
  again.SetVerbose(1);
  ASSERT_EQ(again.Open(), 0);
  again.MoveVerboseLog(L"new.log", unreachable.c_str());
  again.MoveVerboseLog(L"host.log", Folder().c_str());
  again.Close();
  EXPECT_EQ(ScratchDir::read(LogFile("host.log")), "host\r\nbefore\r\nafter\r\n");
  EXPECT_FALSE(test::Exists(LogFile("own.log")));
}

TEST_F(MoveVerboseLogTest, OntoAnExistingFileAppendsAndDeletesTheOld) {
  ScratchDir::write(LogFile("host.log"), "host text\r\n");
  CCmpLog log(L"own.log");
  ASSERT_NO_FATAL_FAILURE(MoveBetween(log, L"own text\r\n", L"host.log", Folder(), L"later\r\n"));
  EXPECT_EQ(ScratchDir::read(LogFile("host.log")), "host text\r\nown text\r\nlater\r\n");
  EXPECT_FALSE(test::Exists(LogFile("own.log")));
  // The entry keeps its old name and folder in this case.
  EXPECT_EQ(std::wstring(log.GetVerboseName()), L"own.log");
}

TEST_F(MoveVerboseLogTest, OntoAnExistingFileWithNothingToMoveKeepsBoth) {
  ScratchDir::write(LogFile("host.log"), "host text\r\n");
  CCmpLog log(L"own.log");
  log.SetVerbose(1);
  ASSERT_EQ(log.Open(), 0);
  log.MoveVerboseLog(L"host.log", Folder().c_str());  // the own log is still empty
  log.Write(LT_VERBOSE_NOLOC, LS_NONE, nullptr, 0, L"own\r\n");
  log.Close();
  EXPECT_EQ(ScratchDir::read(LogFile("host.log")), "host text\r\n");
  EXPECT_EQ(ScratchDir::read(LogFile("own.log")), "own\r\n");

  // Not open (not verbose): nothing happens at all.
  CCmpLog quiet(L"quiet.log");
  ASSERT_EQ(quiet.Open(), 0);
  quiet.MoveVerboseLog(L"host.log", Folder().c_str());
  EXPECT_EQ(ScratchDir::read(LogFile("host.log")), "host text\r\n");
}

// The host calls a log object through its function table as MSVC lays it out: one destructor
// slot at 0, then Open, Close, WriteHeader, Write, WriteFooter, SetVerbose, each taking the
// object as its first argument.
struct HostView {
  using Dtor = void *(*)(void *, unsigned);
  using Open = int32_t (*)(void *);
  using Close = int32_t (*)(void *);
  using Header = void (*)(void *);
  using Write = void (*)(void *, int32_t, int32_t, const wchar_t *, int32_t, const wchar_t *, ...);
  using Footer = void (*)(void *, int32_t);
  using Verbose = void (*)(void *, uint32_t);
  static void *const *Table(void *object) { return *static_cast<void *const *const *>(object); }
  template <typename F>
  static F Slot(void *object, int slot) {
    return reinterpret_cast<F>(Table(object)[slot]);
  }
};

TEST_F(LogTest, TheTableIsCallableAsAnMsvcHostCallsIt) {
  void *memory = ::operator new(sizeof(CCmpLog));
  void *object = new (memory) CCmpLog(L"verbose.log");
  HostView::Slot<HostView::Verbose>(object, 6)(object, 1);
  ASSERT_EQ(HostView::Slot<HostView::Open>(object, 1)(object), 0);
  HostView::Slot<HostView::Header>(object, 3)(object);
  HostView::Slot<HostView::Write>(object, 4)(object, LT_BOTH, LS_ERROR, L"host.cpp", 12,
                                             L"%ls %d\r\n", L"through the table", 5);
  HostView::Slot<HostView::Footer>(object, 5)(object, 2);
  std::string main = MainText(*static_cast<CCmpLog *>(object));
  std::string verbose = VerboseText(*static_cast<CCmpLog *>(object));
  EXPECT_EQ(HostView::Slot<HostView::Close>(object, 2)(object), 0);
  EXPECT_NE(main.find("Log Session Start...\r\n\r\n**ERROR** - through the table 5\r\n"),
            std::string::npos);
  EXPECT_NE(main.find("Return Code (2)"), std::string::npos);
  EXPECT_NE(verbose.find("[12:34:56]::host.cpp[12] **ERROR** - through the table 5\r\n"),
            std::string::npos);
  // Slot 0 with bit 0 set destroys and frees the object.
  EXPECT_EQ(HostView::Slot<HostView::Dtor>(object, 0)(object, 1), object);
}

TEST(LogDestruction, DeletingDestructorWithoutFreeOnlyDestroys) {
  ScratchDir scratch;
  FakePlatform fake;
  alignas(CCmpLog) unsigned char storage[sizeof(CCmpLog)];
  CCmpLog *log = new (storage) CCmpLog(L"v.log");
  ASSERT_EQ(log->Open(), 0);
  log->Write(LT_MAIN, LS_NONE, nullptr, 0, L"x\r\n");
  EXPECT_EQ(log->DeletingDestructor(0), static_cast<void *>(storage));
  EXPECT_EQ(ScratchDir::read(scratch.file("talsystem/log/talsetup.log")), "x\r\n");
}

}  // namespace
