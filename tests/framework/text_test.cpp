// CStr and the text and file functions beside the log.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "cmplog.h"
#include "cstr.h"
#include "fake_platform.h"
#include "log_files.h"

using tal::os::FakePlatform;
using tal::os::ScratchDir;

namespace {

TEST(CStr, CopiesAreIndependentAndCompareWithOrWithoutCase) {
  CStr a = L"Verbose";
  CStr b = a;
  b += L"_Log";
  EXPECT_EQ(a.str(), L"Verbose");
  EXPECT_EQ(b.str(), L"Verbose_Log");
  EXPECT_TRUE(b.EqualsNoCase(L"VERBOSE_log"));
  EXPECT_FALSE(b == CStr(L"VERBOSE_log"));
  EXPECT_LT(CStr(L"abc").CompareNoCase(L"ABD"), 0);
  EXPECT_GT(CStr(L"abcd").CompareNoCase(L"ABC"), 0);
  EXPECT_TRUE(CStr(nullptr).EqualsNoCase(nullptr));
  EXPECT_TRUE(CStr().IsEmpty());
}

TEST(CStr, BorrowedBufferIsReleasedBackIntoTheString) {
  CStr s = L"keep";
  wchar_t *buffer = s.GetBuffer(16);
  EXPECT_EQ(std::wstring(buffer), L"keep");  // the text stays at the start
  std::wcscpy(buffer + 4, L" more");
  s.ReleaseBuffer();
  EXPECT_EQ(s.str(), L"keep more");
  EXPECT_EQ(s.Length(), 9u);

  // A buffer filled to its capacity without a terminator keeps every character.
  buffer = s.GetBuffer(3);
  buffer[0] = L'x';
  buffer[1] = L'y';
  buffer[2] = L'z';
  s.ReleaseBuffer();
  EXPECT_EQ(s.str(), L"xyz");
  s.ReleaseBuffer();  // nothing borrowed: no change
  EXPECT_EQ(s.str(), L"xyz");
}

TEST(CStr, FormatGrowsPastTheFirstBuffer) {
  std::wstring big(3000, L'a');
  CStr s = CStr::Format(L"%ls-%d-%ls", big.c_str(), 12, L"end");
  EXPECT_EQ(s.str(), big + L"-12-end");
}

TEST(TextFunctions, CopyWholeRefusesATextOfSizeCharacters) {
  wchar_t out[8];
  std::wmemset(out, L'#', 8);
  EXPECT_FALSE(CopyWhole(out, 4, L"abcd"));
  EXPECT_EQ(out[0], L'#');
  EXPECT_TRUE(CopyWhole(out, 5, L"abcd"));
  EXPECT_EQ(std::wstring(out), L"abcd");
  EXPECT_EQ(out[5], L'#');
  CopyTruncated(out, 3, L"abcdef");
  EXPECT_EQ(std::wstring(out), L"ab");
}

TEST(TextFunctions, FindIgnoresAsciiCase) {
  EXPECT_EQ(FindNoCase(L"talhost.exe -f /VERBOSE_LOG", L"/verbose_log"), 15);
  EXPECT_EQ(FindNoCase(L"x/No_OverwriteY", L"/no_overwrite"), 1);
  EXPECT_EQ(FindNoCase(L"abc", L""), -1);
  EXPECT_EQ(FindNoCase(L"ab", L"abc"), -1);
  EXPECT_EQ(FindNoCase(L"abc", L"abd"), -1);
  EXPECT_EQ(FindNoCase(L"aab", L"ab"), 1);
  EXPECT_EQ(FindNoCase(nullptr, L"a"), -1);
}

TEST(TextFunctions, TrimRemovesOnlyTrailingBlanks) {
  wchar_t text[32];
  std::wcscpy(text, L" \tModel X \t\r\n \r\n");
  TrimTrailingBlanks(text);
  EXPECT_EQ(std::wstring(text), L" \tModel X");
  std::wcscpy(text, L" \r\n");
  TrimTrailingBlanks(text);
  EXPECT_EQ(std::wstring(text), L"");
}

TEST(TextFunctions, FileNamePartTakesEitherSeparator) {
  EXPECT_EQ(std::wstring(FileNamePart(L"C:\\a\\b/c.cpp")), L"c.cpp");
  EXPECT_EQ(std::wstring(FileNamePart(L"plain")), L"plain");
  EXPECT_EQ(std::wstring(FileNamePart(nullptr)), L"");
}

TEST(TextFunctions, VersionAndDateTexts) {
  FakePlatform fake;
  fake.executable = L"C:\\setup\\talhost.exe";
  fake.exeVersion = tal::os::FileVersion{{10, 0, 65535, 7}};
  CStr version;
  EXPECT_TRUE(GetExeVersionText(version));
  EXPECT_EQ(version.str(), L"10.0.65535.7");
  fake.hasExeVersion = false;
  EXPECT_FALSE(GetExeVersionText(version));
  EXPECT_TRUE(version.IsEmpty());
  EXPECT_EQ(GetDateTimeText().str(), L"12/08/2026 12:34:56");
}

TEST(TextFunctions, FolderTreeCreatesEveryLevel) {
  ScratchDir scratch;
  FakePlatform fake;
  std::wstring root = fake.expandEnvironment(L"%SYSTEMDRIVE%");
  CreateFolderTree((root + L"\\one\\two/three\\").c_str());
  CreateFolderTree((root + L"\\one\\four").c_str());
  CreateFolderTree((root + L"\\one\\two").c_str());  // exists: ignored
  EXPECT_TRUE(test::Exists(scratch.file("one/two/three")));
  EXPECT_TRUE(test::Exists(scratch.file("one/four")));
  OpenConsoleOutput();
  EXPECT_EQ(fake.consoleLines, 500);
}

}  // namespace
