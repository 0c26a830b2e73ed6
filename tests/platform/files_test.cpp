// Files and folders through the built-in backend (real files in a scratch folder).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "fake_platform.h"

namespace tal::os {
namespace {

std::wstring wide(const std::string &text) { return fromUtf8(text); }

class FilesTest : public ::testing::Test {
 protected:
  ScratchDir scratch;
  Platform &os = defaultPlatform();
  std::wstring at(const std::string &relative) { return wide(scratch.file(relative)); }
};

TEST_F(FilesTest, OpenSharedAppendsAndNeverTruncates) {
  ScratchDir::write(scratch.file("log.txt"), "first line\r\n");
  FileHandle a = os.openShared(at("log.txt"));
  ASSERT_NE(a, kInvalidFile);
  // A second handle on the same file while the first is open (the log is shared).
  FileHandle b = os.openShared(at("log.txt"));
  ASSERT_NE(b, kInvalidFile);
  EXPECT_TRUE(os.appendFile(a, "A1", 2));
  EXPECT_TRUE(os.appendFile(b, "B1", 2));
  EXPECT_TRUE(os.appendFile(a, "A2", 2));
  std::string content;
  EXPECT_TRUE(os.readWholeFile(b, content));
  EXPECT_EQ(content, "first line\r\nA1B1A2");
  // Reading moved nothing: the next write still goes to the end.
  EXPECT_TRUE(os.appendFile(b, "B2", 2));
  EXPECT_TRUE(os.closeFile(a));
  EXPECT_TRUE(os.closeFile(b));
  FileHandle c = os.openShared(at("log.txt"));
  ASSERT_NE(c, kInvalidFile);
  EXPECT_TRUE(os.readWholeFile(c, content));
  EXPECT_EQ(content, "first line\r\nA1B1A2B2");
  EXPECT_TRUE(os.closeFile(c));
}

TEST_F(FilesTest, OpenSharedCreatesAMissingFileButNotItsFolder) {
  FileHandle f = os.openShared(at("new.log"));
  ASSERT_NE(f, kInvalidFile);
  std::string content = "x";
  EXPECT_TRUE(os.readWholeFile(f, content));
  EXPECT_EQ(content, "");
  EXPECT_TRUE(os.closeFile(f));
  EXPECT_TRUE(os.isRegularFile(at("new.log")));
  EXPECT_EQ(os.openShared(at("missing/new.log")), kInvalidFile);
  EXPECT_FALSE(os.closeFile(kInvalidFile));
  EXPECT_FALSE(os.appendFile(kInvalidFile, "x", 1));
}

TEST_F(FilesTest, FoldersExistenceRenameAndDelete) {
  EXPECT_TRUE(os.createDirectory(at("dir")));
  EXPECT_FALSE(os.createDirectory(at("dir")));  // exists already
  EXPECT_FALSE(os.createDirectory(at("no/such/parent")));
  EXPECT_TRUE(os.pathExists(at("dir")));
  EXPECT_FALSE(os.isRegularFile(at("dir")));
  EXPECT_FALSE(os.pathExists(at("nothing")));

  ScratchDir::write(scratch.file("a.txt"), "aaa");
  ScratchDir::write(scratch.file("b.txt"), "bbb");
  // A rename never replaces an existing file: both keep their content.
  EXPECT_FALSE(os.renameFile(at("a.txt"), at("b.txt")));
  EXPECT_EQ(ScratchDir::read(scratch.file("a.txt")), "aaa");
  EXPECT_EQ(ScratchDir::read(scratch.file("b.txt")), "bbb");
  EXPECT_TRUE(os.renameFile(at("a.txt"), at("dir/c.txt")));
  EXPECT_FALSE(os.pathExists(at("a.txt")));
  EXPECT_EQ(ScratchDir::read(scratch.file("dir/c.txt")), "aaa");
  EXPECT_FALSE(os.renameFile(at("a.txt"), at("d.txt")));

  EXPECT_TRUE(os.deleteFile(at("b.txt")));
  EXPECT_FALSE(os.deleteFile(at("b.txt")));
  EXPECT_FALSE(os.deleteFile(at("dir")));  // folders are not files
  EXPECT_TRUE(os.pathExists(at("dir")));
}

TEST_F(FilesTest, SameFileComparesIdentityNotNames) {
  ScratchDir::write(scratch.file("a.log"), "a");
  ScratchDir::write(scratch.file("b.log"), "a");  // same content, another file
  std::filesystem::create_hard_link(scratch.file("a.log"), scratch.file("link.log"));
  std::wstring slashed = at("a.log");
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  struct Row {
    std::wstring a, b;
    bool same;
  };
  const Row rows[] = {
      {at("a.log"), at("a.log"), true},
      {at("a.log"), slashed, true},
      {at("a.log"), at("./a.log"), true},
      {at("a.log"), at("link.log"), true},
      {at("a.log"), at("b.log"), false},
      {at("a.log"), at("missing.log"), false},
      {at("missing.log"), at("missing.log"), false},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(os.sameFile(row.a, row.b), row.same) << toUtf8(row.a) << " / " << toUtf8(row.b);
  }
}

TEST_F(FilesTest, FindFilesMatchesPatternsIgnoringCaseAndSkipsFolders) {
  for (const char *name : {"kzPackage.xml", "KZ2.XML", "other.xml", "kz.txt", "Config.xml"})
    ScratchDir::write(scratch.file(name), "x");
  ASSERT_TRUE(os.createDirectory(at("kzfolder.xml")));
  auto sorted = [](std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(sorted(os.findFiles(L"", L"kz*.xml")),
            (std::vector<std::wstring>{L"KZ2.XML", L"kzPackage.xml"}));
  EXPECT_EQ(sorted(os.findFiles(wide(scratch.path()), L"KZ?.xml")),
            (std::vector<std::wstring>{L"KZ2.XML"}));
  EXPECT_EQ(sorted(os.findFiles(L"", L"config.XML")), (std::vector<std::wstring>{L"Config.xml"}));
  EXPECT_EQ(os.findFiles(L"", L"*.*").size(), 5u);
  EXPECT_TRUE(os.findFiles(L"", L"nothing*.bin").empty());
  EXPECT_TRUE(os.findFiles(at("no-such-folder"), L"*").empty());
}

TEST_F(FilesTest, StreamsOpenThroughTheSeam) {
  const std::string path = scratch.file("stream.bin");
  FILE *f = os.openStream(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("hello", f);
  fclose(f);
  EXPECT_EQ(ScratchDir::read(path), "hello");
  EXPECT_EQ(os.openStream(scratch.file("none/x").c_str(), "rb"), nullptr);
}

// GetTempFileNameW's form: at most three prefix characters, the unique number in hex, ".TMP".
TEST_F(FilesTest, TempFileNames) {
  const std::wstring folder = wide(scratch.path());
  auto lower = [](std::wstring text) {
    for (wchar_t &c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
  };
  const std::wstring named = os.tempFileName(folder, L"_KZXY", 0x1A2B);
  ASSERT_GT(named.size(), folder.size());
  EXPECT_EQ(named.substr(0, folder.size()), folder);
  EXPECT_EQ(lower(named.substr(folder.size() + 1)), L"_kz1a2b.tmp");
  EXPECT_FALSE(os.pathExists(named));  // a given unique number only forms the name
  // Only the low 16 bits of the number count.
  const std::wstring low16 = os.tempFileName(folder, L"ab", 0x12345);
  ASSERT_GT(low16.size(), folder.size());
  EXPECT_EQ(lower(low16.substr(folder.size() + 1)), L"ab2345.tmp");
  const wchar_t separator = named[folder.size()];
  EXPECT_TRUE(separator == L'\\' || separator == L'/');

  const std::wstring first = os.tempFileName(folder, L"_KZ", 0);
  const std::wstring second = os.tempFileName(folder, L"_KZ", 0);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(os.isRegularFile(first));  // unique 0 creates the file
  EXPECT_TRUE(os.isRegularFile(second));
  EXPECT_EQ(lower(first.substr(first.size() - 4)), L".tmp");
}

}  // namespace
}  // namespace tal::os

#ifndef _WIN32
namespace tal::os {
namespace {
// The folders the plug-ins write in, and the files in them, must not lead elsewhere: a link in
// their place is refused and its target left as it was.
TEST_F(FilesTest, FolderTrustAndNoFollowRefuseLinks) {
  namespace fs = std::filesystem;
  const std::string target = scratch.file("target");
  fs::create_directory(target);
  ScratchDir::write(target + "/talsetup.log", "theirs");
  fs::create_directory_symlink(target, scratch.file("linked"));
  fs::create_directory(scratch.file("open"));
  fs::permissions(scratch.file("open"), fs::perms::all);
  ScratchDir::write(scratch.file("plain.txt"), "x");
  struct Row {
    const char *name;
    bool create;
    FolderTrust trust;
  };
  const Row rows[] = {
      {"target", false, FolderTrust::kTrusted},     {"made", true, FolderTrust::kTrusted},
      {"absent", false, FolderTrust::kMissing},     {"linked", true, FolderTrust::kLink},
      {"plain.txt", true, FolderTrust::kNotFolder}, {"open", false, FolderTrust::kOpenToOthers},
  };
  for (const Row &row : rows)
    EXPECT_EQ(os.secureFolder(at(row.name), row.create), row.trust) << row.name;
  // A folder made for the logs is private to its owner's writes.
  EXPECT_EQ(fs::status(scratch.file("made")).permissions() & fs::perms::group_write,
            fs::perms::none);
  if (geteuid() == 0) {
    fs::create_directory(scratch.file("theirs"));
    ASSERT_EQ(chown(scratch.file("theirs").c_str(), 65534, 65534), 0);
    EXPECT_EQ(os.secureFolder(at("theirs"), false), FolderTrust::kForeignOwner);
  }

  // Files: a link in a log's place is neither appended to nor truncated through.
  fs::create_symlink(target + "/talsetup.log", scratch.file("talsetup.log"));
  EXPECT_EQ(os.openShared(at("talsetup.log")), kInvalidFile);
  for (const char *mode : {"ab", "wb", "a+", "w"})
    EXPECT_EQ(os.openStream(scratch.file("talsetup.log").c_str(), mode), nullptr) << mode;
  EXPECT_EQ(ScratchDir::read(target + "/talsetup.log"), "theirs");
  // Reading through a link stays as it was (firmware images may be links).
  FILE *f = os.openStream(scratch.file("talsetup.log").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  // A device still opens for writing (a checker sends the engine's log there).
  f = os.openStream("/dev/null", "ab");
  ASSERT_NE(f, nullptr);
  fclose(f);
}
}  // namespace
}  // namespace tal::os
#endif
