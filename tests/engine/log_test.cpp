// The engine log function: which destinations each flag combination reaches, time stamps, the
// report file, the open-failure notices and texts that must pass through unchanged.
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>

#include "engine_fixture.h"

namespace enginetest {
namespace {

class LogTest : public EngineTest {};

using testlog::stamped;

TEST_F(LogTest, VerboseAndAllReachEachFileOnce) {
  RecordingLog recording;
  setEngineLog(&recording);
  logMessage(LOG_VERBOSE | LOG_ALL, "hello %d\n", 5);

  ASSERT_EQ(recording.entries.size(), 2u);
  EXPECT_EQ(recording.entries[0].target, 1);  // verbose file first, then the main file
  EXPECT_EQ(recording.entries[1].target, 0);
  for (const auto &e : recording.entries) {
    EXPECT_EQ(e.severity, 0);
    EXPECT_EQ(e.text, L"hello 5\n");
  }
  EXPECT_EQ(log(), stamped({"hello 5\n"}));
}

// Both stamps are the platform's clock (2026-12-15 12:00:03 UTC here), never the runtime's own.
TEST_F(LogTest, StampsTakeTheTimeFromThePlatform) {
  fake.wallSeconds = 1797336003;
  logMessage(LOG_VERBOSE, "stamped\n");
  EXPECT_EQ(log(), "[2026-12-15T12:00:03Z] stamped\n");
  // Local time: within a day of noon UTC, the same month; a time zone moves whole minutes.
  const std::string local = timeStamp();
  EXPECT_TRUE(std::regex_match(local, std::regex(R"(1[456] Dec 2026 - \d{2}:\d{2}:03)"))) << local;
}

TEST_F(LogTest, LevelOneMessagesDependOnTheLevel) {
  setLogLevel(1);
  logMessage(LOG_VERBOSE | LOG_LEVEL1, "twice\n");
  EXPECT_EQ(log(), stamped({"twice\n", "twice\n"}));

  std::filesystem::remove(logDir() + "/Verbose.log");
  setLogLevel(0);
  logMessage(LOG_VERBOSE | LOG_LEVEL1, "once\n");
  logMessage(LOG_LEVEL1, "never\n");
  setLogLevel(2);
  logMessage(LOG_LEVEL1, "never\n");
  EXPECT_EQ(log(), stamped({"once\n"}));
}

TEST_F(LogTest, NoTimeWritesTheBareText) {
  logMessage(LOG_VERBOSE | LOG_NOTIME, "%02x ", 0xab);
  logMessage(LOG_VERBOSE | LOG_NOTIME, "%02x\n", 0x01);
  EXPECT_EQ(log(), "ab 01\n");
}

TEST_F(LogTest, MessagesReachTheFileByteForByte) {
  // Line ends as the message has them, on every platform: no "\r" is added before a "\n".
  logMessage(LOG_VERBOSE | LOG_NOTIME, "crlf\r\n");
  logMessage(LOG_ALL | LOG_NOTIME, "lf\n");
  logMessage(LOG_VERBOSE | LOG_NOTIME, "%s", "cr\r");
  EXPECT_EQ(log(), "crlf\r\nlf\ncr\r");
}

TEST_F(LogTest, ComponentStepsNeedAComponentLog) {
  logMessage(LOG_CMP | LOG_CMP_VERBOSE, "nowhere\n");
  EXPECT_FALSE(tal::os::sys().pathExists(L"\\talsystem\\log\\Verbose.log"));

  RecordingLog recording;
  setEngineLog(&recording);
  logMessage(LOG_CMP, "main\n");
  logMessage(LOG_CMP_VERBOSE, "verbose\n");
  ASSERT_EQ(recording.entries.size(), 2u);
  EXPECT_EQ(recording.entries[0].target, 0);
  EXPECT_EQ(recording.entries[1].target, 1);
  EXPECT_EQ(log(), "");  // neither reaches the engine log file
}

TEST_F(LogTest, TextReachesTheComponentLogAsAnArgumentNotAFormat) {
  RecordingLog recording;
  setEngineLog(&recording);
  logMessage(LOG_CMP, "%s", "100% done %n %ls\n");
  ASSERT_EQ(recording.entries.size(), 1u);
  EXPECT_EQ(recording.entries[0].format, L"%ls");
  EXPECT_EQ(recording.entries[0].text, L"100% done %n %ls\n");
}

TEST_F(LogTest, LongAndNonAsciiTextIsKeptWhole) {
  RecordingLog recording;
  setEngineLog(&recording);
  const std::string longText(3000, 'x');
  logMessage(LOG_ALL, "%s|caf\xc3\xa9 \xff end\n", longText.c_str());
  ASSERT_EQ(recording.entries.size(), 2u);
  const std::wstring &w = recording.entries[0].text;
  EXPECT_EQ(w.substr(0, 3000), std::wstring(3000, L'x'));
  EXPECT_EQ(w.substr(w.size() - 5), L" end\n");
  EXPECT_EQ(log(), stamped({longText + "|caf\xc3\xa9 \xff end\n"}));
}

TEST_F(LogTest, ReportLinesAreAppendedRaw) {
  const std::string report = scratch.file("report.xml");
  tal::os::ScratchDir::write(report, "existing\n");
  setReportFile(report.c_str());
  logMessage(LOG_REPORT, "<a value=\"%s\"/>\n", "1");
  logMessage(LOG_REPORT, "<b/>\n");
  EXPECT_EQ(readText(report), "existing\n<a value=\"1\"/>\n<b/>\n");
  EXPECT_EQ(log(), "");  // the report flag alone writes nothing else
}

TEST_F(LogTest, OpenFailuresAreNoticedOncePerFile) {
  setReportFile(scratch.file("missing/report.xml").c_str());
  std::filesystem::remove_all(logDir());  // the log folder is not created
  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) logMessage(LOG_VERBOSE | LOG_REPORT, "lost\n");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(countOf(out, "Failed to open log file \\talsystem\\log\\Verbose.log : "), 1u) << out;
  EXPECT_EQ(countOf(out, "Failed to open log file " + scratch.file("missing/report.xml") + " : "),
            1u)
      << out;
  EXPECT_EQ(countOf(out, "Failed to open log file"), 2u);
}

TEST_F(LogTest, ReportFileNameLimit) {
  const std::string fits(511, 'r');
  setReportFile(fits.c_str());
  EXPECT_EQ(getReportFile(), fits);
  setReportFile((fits + "r").c_str());  // refused whole rather than shortened to another name
  EXPECT_EQ(getReportFile(), "");
}

TEST_F(LogTest, TimeStampIsTheLocalTimeNow) {
  fake.wallSeconds = -1;  // the real clock
  auto localText = [] {
    std::time_t now = std::time(nullptr);
    char text[100];
    return std::string(text,
                       std::strftime(text, sizeof text, "%d %b %Y - %X", std::localtime(&now)));
  };
  const std::string before = localText();
  const char *stamp = timeStamp();
  const std::string t = stamp;
  const std::string after = localText();
  EXPECT_TRUE(t == before || t == after) << t << " between " << before << " and " << after;
  EXPECT_TRUE(std::regex_match(t, std::regex(R"(\d{2} \w{3} \d{4} - \d{2}:\d{2}:\d{2})"))) << t;
  // One static buffer, overwritten by each call: the text read through the first pointer is the
  // latest call's.
  std::strcpy(const_cast<char *>(stamp), "overwritten");
  EXPECT_EQ(timeStamp(), stamp);
  EXPECT_NE(std::string(stamp), "overwritten");
}

}  // namespace
}  // namespace enginetest
