// Command-line forms, UTF-8 conversion, pattern matching, and the fake platform's recordings.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <utility>

#include "fake_platform.h"
#include "tal/forwarding_platform.h"

namespace tal::os {
namespace {

TEST(CommandLine, JoinQuotesOnlyWhatNeedsItAndSplitGivesTheArgumentsBack) {
  const std::vector<std::wstring> args{L"C:\\Program Files\\talhost.exe",
                                       L"-f",
                                       L"/verbose_log",
                                       L"-d",
                                       L"my report.xml",
                                       L"",
                                       L"say \"hi\"",
                                       L"trailing\\",
                                       L"back\\\\slash",
                                       L"tab\there"};
  const std::wstring line = joinCommandLine(args);
  EXPECT_EQ(line,
            L"\"C:\\Program Files\\talhost.exe\" -f /verbose_log -d \"my report.xml\" \"\" "
            L"\"say \\\"hi\\\"\" trailing\\ back\\\\slash \"tab\there\"");
  EXPECT_EQ(splitCommandLine(line), args);
  EXPECT_EQ(joinCommandLine({L"talhost"}), L"talhost");
  EXPECT_EQ(joinCommandLine({}), L"");
}

TEST(CommandLine, SplitFollowsTheRuntimeRules) {
  EXPECT_EQ(splitCommandLine(L"prog  a\t b"), (std::vector<std::wstring>{L"prog", L"a", L"b"}));
  // The program name takes no escapes.
  EXPECT_EQ(splitCommandLine(L"\"C:\\a b\\p.exe\" x"),
            (std::vector<std::wstring>{L"C:\\a b\\p.exe", L"x"}));
  EXPECT_EQ(splitCommandLine(L"p a\\\\\"b c\" d"),
            (std::vector<std::wstring>{L"p", L"a\\b c", L"d"}));
  EXPECT_EQ(splitCommandLine(L"p a\\\"b"), (std::vector<std::wstring>{L"p", L"a\"b"}));
  EXPECT_EQ(splitCommandLine(L"p a\\b"), (std::vector<std::wstring>{L"p", L"a\\b"}));
  EXPECT_EQ(splitCommandLine(L"p \"unclosed arg"),
            (std::vector<std::wstring>{L"p", L"unclosed arg"}));
  EXPECT_EQ(splitCommandLine(L"p \"a\"\"b\""), (std::vector<std::wstring>{L"p", L"a\"b"}));
  EXPECT_TRUE(splitCommandLine(L"").empty());
}

#ifndef _WIN32
// The real process: /proc/self/cmdline, program first.
TEST(CommandLine, NativeReadsTheProcessArguments) {
  Platform &os = defaultPlatform();
  std::vector<std::wstring> args;
  ASSERT_TRUE(os.commandLineArguments(args));
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0].find(L"test_platform"), std::wstring::npos);
  std::wstring line;
  ASSERT_TRUE(os.commandLine(line));
  EXPECT_EQ(line, joinCommandLine(args));
  EXPECT_NE(os.executablePath().find(L"test_platform"), std::wstring::npos);
  // Linked into the test program, the platform library's module is the program.
  EXPECT_EQ(os.modulePath(), os.executablePath());
}
#endif

TEST(Utf8, RoundTripsAndReplacesBrokenSequences) {
  const std::wstring text = L"A\u00e9\u20ac\U0001F600z";
  EXPECT_EQ(toUtf8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(fromUtf8(toUtf8(text)), text);
  EXPECT_EQ(fromUtf8("a\xFF"
                     "b"),
            L"a\uFFFDb");
  EXPECT_EQ(fromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong '/'
  EXPECT_EQ(fromUtf8("\xE2\x82"), L"\uFFFD");        // cut short at the end
  EXPECT_EQ(fromUtf8("\xED\xA0\x80"), L"\uFFFD");    // a surrogate
  EXPECT_EQ(fromUtf8(""), L"");
  // Native: the ANSI code page is UTF-8.
#ifndef _WIN32
  EXPECT_EQ(defaultPlatform().toAnsi(text), toUtf8(text));
  EXPECT_EQ(defaultPlatform().fromAnsi("\xC3\xA9"), L"\u00e9");
#endif
}

TEST(Patterns, WildcardsIgnoreCase) {
  using Case = std::pair<const wchar_t *, const wchar_t *>;  // a name, a pattern
  const Case matching[] = {{L"kzPackage.XML", L"KZ*.xml"},
                           {L"kz.xml", L"kz*.xml"},
                           {L"a.b.c", L"*.c"},
                           {L"abc", L"a?c"},
                           {L"anything", L"*"},
                           {L"noext", L"*.*"},
                           {L"kz", L"kz.*"},
                           {L"aXbXc", L"*x*x*"}};
  const Case missing[] = {
      {L"kz.xml.bak", L"kz*.xml"}, {L"ac", L"a?c"}, {L"kzx", L"kz.*"}, {L"", L"?"}};
  for (const Case &c : matching)
    EXPECT_TRUE(matchesPattern(c.first, c.second)) << toUtf8(c.first) << " ~ " << toUtf8(c.second);
  for (const Case &c : missing)
    EXPECT_FALSE(matchesPattern(c.first, c.second)) << toUtf8(c.first) << " ~ " << toUtf8(c.second);
}

TEST(Fake, InstallsItselfAndRestoresThePreviousPlatform) {
  Platform *before = &sys();
  {
    FakePlatform outer;
    EXPECT_EQ(&sys(), &outer);
    {
      FakePlatform inner;
      EXPECT_EQ(&sys(), &inner);
    }
    EXPECT_EQ(&sys(), &outer);
  }
  EXPECT_EQ(&sys(), before);
  EXPECT_EQ(&sys(), &defaultPlatform());
}

TEST(Fake, ClockRecordsSleepsInsteadOfSleeping) {
  FakePlatform fake;
  const uint64_t start = fake.monotonicMs();
  sys().sleepMs(1000);
  sys().sleepMs(1);
  sys().sleepMs(0);
  sys().sleepMs(50);
  EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{1000, 1, 0, 50}));
  EXPECT_EQ(fake.totalSleptMs(), 1051u);
  EXPECT_EQ(sys().monotonicMs() - start, 1051u);
  sys().beginPreciseSleeps();
  sys().beginPreciseSleeps();
  sys().endPreciseSleeps();
  EXPECT_EQ(fake.preciseDepth, 1);
  sys().attachConsole(500);
  EXPECT_EQ(fake.consoleLines, 500);
}

// The calendar clock of the built-in backend: what the engine's log stamps are made of.
TEST(Calendar, TheBackendBreaksSecondsDownAsTheCalendarHasThem) {
  Platform &os = defaultPlatform();
  struct Case {
    int64_t seconds;
    int year, month, day, hour, minute, second, weekday;
  };
  const Case cases[] = {
      {0, 1970, 1, 1, 0, 0, 0, 4},
      {951868799, 2000, 2, 29, 23, 59, 59, 2},  // a leap day, its last second
      {1797336003, 2026, 12, 15, 12, 0, 3, 2},
      {4102444800, 2100, 1, 1, 0, 0, 0, 5},  // past 2038: 64-bit seconds
  };
  for (const Case &c : cases) {
    std::tm utc{};
    ASSERT_TRUE(os.calendarTime(c.seconds, false, utc)) << c.seconds;
    EXPECT_EQ(utc.tm_year + 1900, c.year) << c.seconds;
    EXPECT_EQ(utc.tm_mon + 1, c.month) << c.seconds;
    EXPECT_EQ(utc.tm_mday, c.day) << c.seconds;
    EXPECT_EQ(utc.tm_hour, c.hour) << c.seconds;
    EXPECT_EQ(utc.tm_min, c.minute) << c.seconds;
    EXPECT_EQ(utc.tm_sec, c.second) << c.seconds;
    EXPECT_EQ(utc.tm_wday, c.weekday) << c.seconds;
    // Local time differs from UTC by whole minutes (of at most a day): the seconds stay.
    std::tm local{};
    ASSERT_TRUE(os.calendarTime(c.seconds, true, local)) << c.seconds;
    EXPECT_EQ(local.tm_sec, c.second) << c.seconds;
  }
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  const int64_t now = os.wallClockSeconds();
  EXPECT_GE(now, before);
  EXPECT_LE(now, static_cast<int64_t>(std::time(nullptr)));
}

TEST(Calendar, TheFakeClockIsTheRealOneUntilATestSetsIt) {
  FakePlatform fake;
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  EXPECT_GE(sys().wallClockSeconds(), before);
  fake.wallSeconds = 1797336003;
  EXPECT_EQ(sys().wallClockSeconds(), 1797336003);
}

TEST(CurrentFolder, IsTheFolderTheProcessIsIn) {
  ScratchDir scratch;  // the current folder while it lives
  const std::wstring here = defaultPlatform().currentDirectory();
  EXPECT_EQ(here, std::filesystem::current_path().wstring());
  EXPECT_TRUE(defaultPlatform().sameFile(here, defaultPlatform().fromAnsi(scratch.path())));
}

// A decorator passes on what it does not change: each answer is the inner platform's, and each
// call reaches it with its arguments (the inner one here is a fake, whose answers the test chose).
TEST(Forwarding, EveryCallReachesTheInnerPlatform) {
  FakePlatform inner;
  Platform &innerPlatform = inner;
  ForwardingPlatform outer(innerPlatform);
  inner.args = {L"host.exe", L"-f"};
  inner.timeText = L"01:02:03";
  inner.dateText = L"02/03/04";
  inner.wallSeconds = 1797336003;
  inner.smbios = {7, 8};
  inner.channelPresent = false;
  inner.channelSearch.loaded = L"C:\\lib\\TalCi.dll";
  inner.model = L"Model X";
  inner.freeDisk = 4096;
  inner.identity.build = 20348;
  inner.module = L"C:\\pkg\\install.dll";

  std::vector<std::wstring> args;
  ASSERT_TRUE(outer.commandLineArguments(args));
  EXPECT_EQ(args, inner.args);
  std::wstring text;
  ASSERT_TRUE(outer.commandLine(text));
  EXPECT_EQ(text, L"host.exe -f");
  EXPECT_EQ(outer.modulePath(), inner.module);
  EXPECT_EQ(outer.localTimeText(), L"01:02:03");
  EXPECT_EQ(outer.localShortDateText(), L"02/03/04");
  EXPECT_EQ(outer.wallClockSeconds(), 1797336003);
  outer.sleepMs(7);
  outer.sleepMs(9);
  EXPECT_EQ(inner.sleeps, (std::vector<uint32_t>{7, 9}));
  EXPECT_EQ(outer.monotonicMs(), inner.nowMs);
  outer.beginPreciseSleeps();
  EXPECT_EQ(inner.preciseDepth, 1);
  outer.endPreciseSleeps();
  EXPECT_EQ(inner.preciseDepth, 0);
  outer.attachConsole(42);
  EXPECT_EQ(inner.consoleLines, 42);
  SystemIdentity identity;
  ASSERT_TRUE(outer.systemIdentity(identity));
  EXPECT_EQ(identity.build, 20348u);
  uint64_t free = 0;
  ASSERT_TRUE(outer.freeDiskBytes(L"C:\\", free));
  EXPECT_EQ(free, 4096u);
  ASSERT_TRUE(outer.computerModel(text));
  EXPECT_EQ(text, L"Model X");
  EXPECT_TRUE(outer.shellOpen(L"readme.cmd", L""));
  EXPECT_EQ(inner.opened, (std::vector<std::wstring>{L"readme.cmd"}));
  EXPECT_EQ(outer.rawSmbiosTable(), inner.smbios);
  EXPECT_FALSE(outer.channelLibraryPresent());
  EXPECT_EQ(outer.channelLibrarySearch().loaded, inner.channelSearch.loaded);
  EXPECT_EQ(&outer.channelLibrary(), &inner.channelLibrary());
  EXPECT_EQ(outer.tempFileName(L".", L"_KZ", 0x1F), inner.tempFileName(L".", L"_KZ", 0x1F));
}

TEST(Fake, AnswersWhatTheTestChose) {
  FakePlatform fake;
  fake.args = {L"talhost.exe", L"-f", L"my file"};
  std::wstring line;
  ASSERT_TRUE(sys().commandLine(line));
  EXPECT_EQ(line, L"talhost.exe -f \"my file\"");
  std::vector<std::wstring> args;
  ASSERT_TRUE(sys().commandLineArguments(args));
  EXPECT_EQ(args, fake.args);
  fake.commandLineAvailable = false;
  EXPECT_FALSE(sys().commandLine(line));
  EXPECT_FALSE(sys().commandLineArguments(args));

  fake.executable = L"C:\\pkg\\talhost.exe";
  FileVersion version;
  ASSERT_TRUE(sys().fileVersion(L"c:\\PKG\\talhost.exe", version));
  EXPECT_EQ(version.part[0], 1);
  EXPECT_EQ(version.part[3], 4);
  fake.hasExeVersion = false;
  EXPECT_FALSE(sys().fileVersion(sys().executablePath(), version));

  EXPECT_EQ(sys().localTimeText(), L"12:34:56");
  EXPECT_EQ(sys().localShortDateText(), L"12/08/2026");
  fake.smbios = {1, 2, 3};
  EXPECT_EQ(sys().rawSmbiosTable(), fake.smbios);
  fake.channelPresent = false;
  EXPECT_FALSE(sys().channelLibraryPresent());
  // No library chosen: every call fails as a missing function does.
  uint32_t status = 0;
  EXPECT_EQ(sys().channelLibrary().initialize(0), 0xFFFFFFFFu);
  EXPECT_EQ(sys().channelLibrary().recv(nullptr, nullptr, 0, &status, nullptr), 0u);
  EXPECT_EQ(status, 0xFFFFFFFFu);
  EXPECT_EQ(sys().channelLibrary().statusMessage(0), nullptr);
}

}  // namespace
}  // namespace tal::os
