// The engine's options from the process command line: exact, case-sensitive tests, options that
// take the next argument, and the 32-argument cap.
#include "engine_fixture.h"

namespace enginetest {
namespace {

using testlog::stamped;

class OptionsTest : public EngineTest {};

TEST_F(OptionsTest, ForceSpellings) {
  for (const wchar_t *a : {L"-f", L"/f", L"-force", L"/force"}) {
    resetEngine();
    args({a});
    ASSERT_EQ(parseCommandLine(), 0);
    EXPECT_TRUE(getForceFlag()) << tal::os::toUtf8(a);
  }
  for (const wchar_t *a : {L"-F", L"-Force", L"-forcex", L"--force", L"force", L"-f "}) {
    resetEngine();
    args({a});
    ASSERT_EQ(parseCommandLine(), 0);
    EXPECT_FALSE(getForceFlag()) << tal::os::toUtf8(a);
  }
}

TEST_F(OptionsTest, EachFlagAndItsLogLine) {
  args({L"/silent", L"-e", L"/g"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_TRUE(getSilentFlag());
  EXPECT_TRUE(getRewriteFlag());
  EXPECT_TRUE(getDowngradeFlag());
  EXPECT_FALSE(getForceFlag());
  EXPECT_FALSE(getSelfDiscoveryFlag());
  EXPECT_EQ(log(), stamped({"silent flag -s set to 1\n", "rewrite flag -e set to 1\n",
                            "downgrade flag -g set to 1\n"}));

  resetEngine();
  args({L"-S", L"-E", L"/G", L"-silent", L"/s"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_TRUE(getSilentFlag());
  EXPECT_FALSE(getRewriteFlag());
  EXPECT_FALSE(getDowngradeFlag());
}

TEST_F(OptionsTest, SelfDiscoveryTakesTheNextArgument) {
  args({L"-d", L"out file.xml"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_TRUE(getSelfDiscoveryFlag());
  EXPECT_EQ(getSelfDiscoveryFile(), "out file.xml");
  EXPECT_TRUE(
      logHas(stamped({"self discovery flag -d set to 1\n", "self discovery file out file.xml\n",
                      "self-discovery file: out file.xml \r\n"})));

  // The file name is examined like any other argument afterwards.
  resetEngine();
  args({L"/d", L"-f"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_EQ(getSelfDiscoveryFile(), "-f");
  EXPECT_TRUE(getForceFlag());

  resetEngine();
  args({L"-e", L"-d"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_FALSE(getSelfDiscoveryFlag());
  EXPECT_EQ(getSelfDiscoveryFile(), "");

  resetEngine();
  args({L"-D", L"x.xml"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_FALSE(getSelfDiscoveryFlag());
}

TEST_F(OptionsTest, LogLevelValues) {
  struct Case {
    const wchar_t *value;
    int level;
  } cases[] = {{L"1", 1}, {L"  -3x", -3}, {L"+7", 7}, {L"abc", 0}, {L"99999999999", 2147483647}};
  for (const Case &c : cases) {
    resetEngine();
    setLogLevel(5);
    args({L"-log_level", c.value});
    ASSERT_EQ(parseCommandLine(), 0);
    EXPECT_EQ(getLogLevel(), c.level) << tal::os::toUtf8(c.value);
  }
  EXPECT_TRUE(logHas("setting verbose log level to 2147483647\n"));

  resetEngine();
  setLogLevel(5);
  args({L"/log_level"});
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_EQ(getLogLevel(), 5);

  resetEngine();
  args({L"-log_level", L"-f"});  // no digits: level 0, and "-f" still counts
  setLogLevel(5);
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_EQ(getLogLevel(), 0);
  EXPECT_TRUE(getForceFlag());
}

TEST_F(OptionsTest, OnlyThirtyTwoArgumentsCount) {
  std::vector<std::wstring> a(39, L"x");  // 40 with the program path
  a[30] = L"-e";                          // argument 32
  a[31] = L"-f";                          // argument 33: ignored
  a[38] = L"-g";                          // argument 40: ignored
  args(a);
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_TRUE(getRewriteFlag());
  EXPECT_FALSE(getForceFlag());
  EXPECT_FALSE(getDowngradeFlag());
  EXPECT_TRUE(logHas("Only 32 arguments supported. Extra arguments will be ignored\r\n"));

  // "-d" as argument 32 has no next argument within the first 32.
  resetEngine();
  a.assign(39, L"x");
  a[30] = L"-d";
  a[31] = L"after.xml";
  args(a);
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_FALSE(getSelfDiscoveryFlag());
}

TEST_F(OptionsTest, ProgramPathIsTestedToo) {
  fake.args = {L"-f"};
  ASSERT_EQ(parseCommandLine(), 0);
  EXPECT_TRUE(getForceFlag());
}

TEST_F(OptionsTest, NoCommandLine) {
  fake.commandLineAvailable = false;
  EXPECT_EQ(parseCommandLine(), -1);
  EXPECT_EQ(log(), stamped({"Command line argument retrieval error\r\n"}));

  resetEngine();
  std::filesystem::remove(logDir() + "/Verbose.log");
  EXPECT_EQ(getInstallState(), ENGINE_NO_COMMAND_LINE);
  EXPECT_EQ(log(), stamped({"Command line argument retrieval error\r\n"}));  // nothing else done
  EXPECT_EQ(getInstallState(), ENGINE_STATE_NOTHING);
}

}  // namespace
}  // namespace enginetest
