// Configuration info from Config.xml and the package file: entry order, trimming, short and bad
// Device elements, key-file prefixes, and the failures that leave the object unloaded.
#include "engine_fixture.h"

namespace enginetest {
namespace {

using testlog::stamped;

class ConfigInfoTest : public EngineTest {};

TEST_F(ConfigInfoTest, LaterDuplicatesWin) {
  writePackage(device("1", "Dup", "first.bin", "1.0") + device("1", "Dup", "second.bin", "2.0"),
               key("Dup"), "3.1");
  ASSERT_TRUE(createConfigInfo(""));
  const ConfigEntry *e = getConfigDevInfo(1, "Dup");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->payload, "second.bin");
  EXPECT_EQ(e->version, "2.0");
  EXPECT_EQ(getPackageVersion(), "3.1");
  EXPECT_TRUE(logHas(stamped({"Config Info:\n", "Dev Name: Dup PayLoad: second.bin Version: 2.0\n",
                              "Dev Name: Dup PayLoad: first.bin Version: 1.0\n"})));
  EXPECT_TRUE(logHas("Added key file: Dup\n"));
}

TEST_F(ConfigInfoTest, NamesAreTrimmedOfSpacesAndTabs) {
  writePackage(
      device("1", "  \tCard A\t ", "a.bin", "1") + device("1", "\n    Card B\n  ", "b.bin", "1"),
      "");
  ASSERT_TRUE(createConfigInfo(""));
  const ConfigEntry *a = getConfigDevInfo(1, "\t\tCard A ");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->devName, "Card A");
  EXPECT_EQ(getConfigDevInfo(1, "Card B"), nullptr);  // line breaks are not blanks
  EXPECT_EQ(getConfigDevInfo(1, "card a"), nullptr);  // names compare exactly
  EXPECT_EQ(trimBlanks(" \t x \t "), " x ");          // spaces first, then tabs: inner spaces stay
  EXPECT_EQ(trimBlanks("\t x\t"), " x");
  EXPECT_EQ(trimBlanks(" \t \t "), "");
}

TEST_F(ConfigInfoTest, DeviceElementsByPosition) {
  writePackage(
      "<Device><a>1</a><b>Short</b></Device>"
      "<Device><t>abc</t><n>NoDigits</n><p>z.bin</p><v>4</v></Device>"
      "<Device><t> +1x</t><n>Signed</n><p>s.bin</p><v>5</v><extra>ignored</extra></Device>"
      "<Device><t>7</t><n>Seven</n><p>7.bin</p><v>7</v></Device>"
      "<Device><t>-1</t><n>Minus</n><p>m.bin</p><v>7</v></Device>"
      "<Device><t>4294967297</t><n>Wraps</n><p>w.bin</p><v>7</v></Device>"
      "<Other><t>1</t><n>Other</n></Other>",
      "");
  ASSERT_TRUE(createConfigInfo(""));
  const ConfigEntry *s = getConfigDevInfo(1, "Short");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->payload, "");
  EXPECT_EQ(s->version, "");
  ASSERT_NE(getConfigDevInfo(1, "Signed"), nullptr);
  EXPECT_EQ(getConfigDevInfo(0, "anything")->devName, "NoDigits");  // type 0: the last one
  EXPECT_EQ(getConfigDevInfo(1, "NoDigits"), nullptr);
  for (const char *left : {"Seven", "Minus", "Wraps", "Other"}) {
    EXPECT_EQ(getConfigDevInfo(1, left), nullptr) << left;
    EXPECT_NE(getConfigDevInfo(0, "")->devName, left);
  }
  EXPECT_TRUE(logHas("Config entry left out: Seven invalid config type: 7\n"));
  EXPECT_TRUE(logHas("Config entry left out: Minus invalid config type: -1\n"));

  EXPECT_EQ(getConfigDevInfo(2, " Short "), nullptr);
  EXPECT_TRUE(logHas("getConfigDevInfo:  Short  invalid config type: 2\n"));
}

TEST_F(ConfigInfoTest, TypeZeroLookupWithoutEntries) {
  writePackage(device("1", "One", "1.bin", "1"), "");
  ASSERT_TRUE(createConfigInfo(""));
  EXPECT_EQ(getConfigDevInfo(0, "One"), nullptr);
}

TEST_F(ConfigInfoTest, KeyFilesArePrefixesIgnoringCase) {
  ConfigInfo *info = ConfigInfo::instance();
  EXPECT_FALSE(isFwApplicable("anything"));  // empty list: nothing applies
  info->keyFileList = {"ABC"};
  EXPECT_TRUE(isFwApplicable("abc-123"));
  EXPECT_TRUE(isFwApplicable("aBc"));
  EXPECT_FALSE(isFwApplicable("ab"));
  EXPECT_FALSE(isFwApplicable("xabc"));
  EXPECT_TRUE(logHas("FW is applicable to 'abc-123'\n"));
  EXPECT_TRUE(logHas("FW is not applicable to 'ab'\n"));
  info->keyFileList.push_back("");
  EXPECT_TRUE(isFwApplicable("ab"));  // an empty name matches every product
}

TEST_F(ConfigInfoTest, KeyFilesFromThePackage) {
  writePackage("", key("  First ") + "<sw_key/>" + key("Second"));
  ASSERT_TRUE(createConfigInfo(""));
  EXPECT_EQ(ConfigInfo::instance()->keyFileList, (std::vector<std::string>{"First", "", "Second"}));
}

TEST_F(ConfigInfoTest, LastPackageNameWins) {
  tal::os::ScratchDir::write(scratch.file("Config.xml"),
                             "<Devices><kzxml><n>kzone</n></kzxml><kzxml/>"
                             "<kzxml><n>kztwo</n></kzxml><kzxml/></Devices>");
  tal::os::ScratchDir::write(scratch.file("kztwo.xml"), "<tal_package/>");
  ASSERT_TRUE(createConfigInfo(""));
  EXPECT_EQ(ConfigInfo::instance()->packageName, "kztwo");
  EXPECT_EQ(getPackageVersion(), "");
}

TEST_F(ConfigInfoTest, Failures) {
  EXPECT_FALSE(createConfigInfo(""));
  EXPECT_TRUE(logHas(stamped({"createConfigInfo...\n", "Config xml file: Config.xml\n",
                              "Parse config xml failed: Config.xml\n"})));

  tal::os::ScratchDir::write(scratch.file("Config.xml"), "<Other/>");
  EXPECT_FALSE(createConfigInfo(""));
  EXPECT_TRUE(logHas("Error: XML data invalid. <Devices>\n"));

  tal::os::ScratchDir::write(scratch.file("Config.xml"),
                             "<Devices>" + device("1", "Kept", "k.bin", "1") + "</Devices>");
  EXPECT_FALSE(createConfigInfo(""));  // no kzxml: the package path is ".xml"
  EXPECT_TRUE(logHas(stamped({"readKeyFilesFromKZXML: .xml\n", "XML parse failed: .xml\n",
                              "readKeyFilesFromKZXML Failed.\n"})));
  EXPECT_NE(getConfigDevInfo(1, "Kept"), nullptr);  // the entries read stay
  EXPECT_FALSE(ConfigInfo::instance()->created);
}

TEST_F(ConfigInfoTest, LoadsOnce) {
  writePackage(device("1", "Once", "o.bin", "1"), key("Once"));
  ASSERT_TRUE(createConfigInfo(""));
  std::remove("Config.xml");
  std::remove("kzpkg.xml");
  EXPECT_TRUE(createConfigInfo(""));
  EXPECT_EQ(countOf(log(), "createConfigInfo...\n"), 1u);
  EXPECT_EQ(ConfigInfo::instance()->keyFileList.size(), 1u);

  releaseConfigInfo();
  EXPECT_EQ(getConfigDevInfo(1, "Once"), nullptr);
  EXPECT_FALSE(ConfigInfo::instance()->created);
}

TEST_F(ConfigInfoTest, DirectoryIsPrefixed) {
  tal::os::ScratchDir::write(scratch.file("pkg/Config.xml"),
                             "<Devices>" + device("1", "D", "d.bin", "1") +
                                 "<Device><t>1</t><n>E</n></Device>" +
                                 "<kzxml><n>kzp</n></kzxml></Devices>");
  tal::os::ScratchDir::write(scratch.file("pkg/kzp.xml"), "<tal_package/>");
  ASSERT_TRUE(createConfigInfo("pkg"));
  EXPECT_EQ(getConfigDevInfo(1, "D")->payload, "pkg/d.bin");
  EXPECT_EQ(getConfigDevInfo(1, "E")->payload, "");
}

}  // namespace
}  // namespace enginetest
