// %VAR% expansion and the native path mapping.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "fake_platform.h"

namespace tal::os {
namespace {

// Sets a variable for the life of the object and puts back what was there.
class ScopedVariable {
 public:
  ScopedVariable(const char *name, const char *value) : name_(name) {
    if (const char *old = getenv(name)) {
      had_ = true;
      old_ = old;
    }
    set(value);
  }
  ~ScopedVariable() { set(had_ ? old_.c_str() : nullptr); }

 private:
  void set(const char *value) {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value ? value : "");
#else
    if (value) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
#endif
  }
  std::string name_;
  std::string old_;
  bool had_ = false;
};

TEST(Expansion, NamesMatchIgnoringCaseAndUnknownOnesStay) {
  ScopedVariable var("TAL_TEST_Folder", "X-VALUE");
  Platform &os = defaultPlatform();
  EXPECT_EQ(os.expandEnvironment(L"%TAL_TEST_Folder%\\a"), L"X-VALUE\\a");
  EXPECT_EQ(os.expandEnvironment(L"%tal_test_folder%\\a"), L"X-VALUE\\a");
  EXPECT_EQ(os.expandEnvironment(L"[%TAL_TEST_FOLDER%][%Tal_Test_Folder%]"), L"[X-VALUE][X-VALUE]");
  EXPECT_EQ(os.expandEnvironment(L"%TAL_NO_SUCH_NAME%\\x"), L"%TAL_NO_SUCH_NAME%\\x");
  // After an unknown name the scan goes on behind its closing '%'.
  EXPECT_EQ(os.expandEnvironment(L"%TAL_NO_SUCH%tal_test_folder%"),
            L"%TAL_NO_SUCH%tal_test_folder%");
  EXPECT_EQ(os.expandEnvironment(L"%TAL_NO_SUCH%%tal_test_folder%"), L"%TAL_NO_SUCH%X-VALUE");
  EXPECT_EQ(os.expandEnvironment(L"100% sure"), L"100% sure");
  EXPECT_EQ(os.expandEnvironment(L"plain text"), L"plain text");
  EXPECT_EQ(os.expandEnvironment(L""), L"");
}

#ifndef _WIN32

TEST(Expansion, TheSimulatedHostHasWindowsDefaults) {
  ScopedVariable drive("SYSTEMDRIVE", nullptr);
  ScopedVariable root("SYSTEMROOT", nullptr);
  ScopedVariable windir("WINDIR", nullptr);
  ScopedVariable tmpdir("TMPDIR", "/var/tmp");
  ScopedVariable temp("TEMP", nullptr);
  Platform &os = defaultPlatform();
  EXPECT_EQ(os.expandEnvironment(L"%systemdrive%\\talsystem\\log\\"), L"C:\\talsystem\\log\\");
  EXPECT_EQ(os.expandEnvironment(L"%SystemRoot%|%windir%"), L"C:\\Windows|C:\\Windows");
  EXPECT_EQ(os.expandEnvironment(L"%TEMP%"), L"/var/tmp");
  // A set variable wins over the default.
  ScopedVariable set("SYSTEMDRIVE", "/srv/host");
  EXPECT_EQ(os.expandEnvironment(L"%SYSTEMDRIVE%\\x"), L"/srv/host\\x");
}

TEST(PathMapping, DrivePrefixAndDriveRootGoToSystemDrive) {
  ScopedVariable drive("SYSTEMDRIVE", "/srv/host");
  Platform &os = defaultPlatform();
  EXPECT_EQ(os.nativePath(std::string("C:\\talsystem\\log\\talsetup.log")),
            "/srv/host/talsystem/log/talsetup.log");
  EXPECT_EQ(os.nativePath(std::string("d:/x")), "/srv/host/x");
  EXPECT_EQ(os.nativePath(std::string("C:")), "/srv/host/");
  EXPECT_EQ(os.nativePath(std::string("\\talsystem\\log\\Verbose.log")),
            "/srv/host/talsystem/log/Verbose.log");
  EXPECT_EQ(os.nativePath(std::wstring(L"\\talsystem\\log\\")), L"/srv/host/talsystem/log/");
  // Native and relative paths keep their place; only the separators change.
  EXPECT_EQ(os.nativePath(std::string("/tmp/a\\b")), "/tmp/a/b");
  EXPECT_EQ(os.nativePath(std::string("sub\\Config.xml")), "sub/Config.xml");
  EXPECT_EQ(os.nativePath(std::string(".\\_KZ12.TMP")), "./_KZ12.TMP");
  EXPECT_EQ(os.nativePath(std::string("")), "");
}

// Without a drive of its own the simulated host keeps the drive in the user's state folder, and
// in the current folder when there is none: never at the root of the Linux file system.
TEST(PathMapping, WithoutSystemDriveTheDriveIsAUserFolder) {
  ScratchDir scratch;
  const std::string state = scratch.path() + "/state";
  Platform &os = defaultPlatform();
  ScopedVariable drive("SYSTEMDRIVE", nullptr);
  {
    ScopedVariable xdg("XDG_STATE_HOME", state.c_str());
    EXPECT_EQ(os.nativePath(std::string("C:\\talsystem\\log\\")),
              state + "/tal/drive/talsystem/log/");
    EXPECT_EQ(os.nativePath(std::string("\\talsystem")), state + "/tal/drive/talsystem");
    EXPECT_TRUE(std::filesystem::is_directory(state + "/tal/drive"));
    // A drive letter in SYSTEMDRIVE is the Windows form, not a Linux folder.
    ScopedVariable letter("SYSTEMDRIVE", "C:");
    EXPECT_EQ(os.nativePath(std::string("C:\\x")), state + "/tal/drive/x");
  }
  {
    ScopedVariable xdg("XDG_STATE_HOME", nullptr);
    ScopedVariable home("HOME", scratch.path().c_str());
    EXPECT_EQ(os.nativePath(std::string("C:\\x")), scratch.path() + "/.local/state/tal/drive/x");
  }
  {
    ScopedVariable xdg("XDG_STATE_HOME", nullptr);
    ScopedVariable home("HOME", nullptr);
    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(os.nativePath(std::string("C:\\x")), here + "/x");
  }
  {
    ScopedVariable drive2("systemdrive", "/lower/case");
    EXPECT_EQ(os.nativePath(std::string("C:\\x")), "/lower/case/x");
  }
}

TEST(PathMapping, ExpandedLogFolderLandsInTheScratchDrive) {
  ScratchDir scratch;
  Platform &os = defaultPlatform();
  const std::wstring folder = os.expandEnvironment(L"%systemdrive%\\talsystem\\");
  EXPECT_TRUE(os.createDirectory(folder));
  FileHandle f = os.openShared(folder + L"talsetup.log");
  ASSERT_NE(f, kInvalidFile);
  EXPECT_TRUE(os.appendFile(f, "ok", 2));
  EXPECT_TRUE(os.closeFile(f));
  EXPECT_EQ(ScratchDir::read(scratch.file("talsystem/talsetup.log")), "ok");
  // The root of the current drive is the scratch folder too.
  EXPECT_TRUE(os.isRegularFile(L"\\talsystem\\talsetup.log"));
}

#endif  // _WIN32

}  // namespace
}  // namespace tal::os
