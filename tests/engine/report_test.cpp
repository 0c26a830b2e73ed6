// The self-discovery report: the exact document, escaping of values read from devices and the
// package, devices missing from the configuration, and appending to an existing report.
#include "report.h"

#include "engine_fixture.h"

namespace enginetest {
namespace {

const char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<orvo_rom_discovery version=\"2.0.0.0\">\n"
    "<type value=\"switchbackplane\"/>\n"
    "<alt_name value=\"Orvo Varibay Enablement Switch Card\"/>\n"
    "<version value=\"%s\" />\n"
    "<takes_effect value=\"deferred\"/>\n"
    "<devices>\n";
const char kFooter[] = "</devices>\n</orvo_rom_discovery>\n";

std::string header(const std::string &version) {
  std::string h = kHeader;
  h.replace(h.find("%s"), 2, version);
  return h;
}

std::string block(const std::string &product, const std::string &offered, const std::string &active,
                  const std::string &action) {
  return "<device>\n\t<device_id value=\"" + product + "\"/>\n\t<product_id value=\"" + product +
         "\"/>\n\t<fw_item>\n\t<type value=\"Controller ROM\"/>\n\t<version value=\"" + offered +
         "\"/>\n\t<active_version value=\"" + active + "\"/>\n\t<action value=\"" + action +
         "\"/>\n\t<duration value=\"900\"/>\n\t<shared value=\"no\"/>\n\t</fw_item>\n</device>\n";
}

class ReportTest : public EngineTest {
 protected:
  std::string report() const { return readText(scratch.file("r.xml")); }
  void name() { setSelfDiscoveryFile(scratch.file("r.xml").c_str()); }
};

// Each run writes the report whole: a second run replaces the first (two documents in one file
// would not be well-formed), also a longer earlier file.
TEST_F(ReportTest, EmptyListAndASecondRunReplacesTheFirst) {
  ConfigInfo::instance()->packageVersion = "2.20";
  name();
  tal::os::ScratchDir::write(scratch.file("r.xml"), std::string(5000, 'x'));
  EXPECT_TRUE(generateSelfDiscoverXML());
  const std::string one = header("2.20") + kFooter;
  EXPECT_EQ(report(), one);
  EXPECT_TRUE(generateSelfDiscoverXML());
  EXPECT_EQ(report(), one);
  EXPECT_TRUE(logHas("generating Self-Discovery file to " + scratch.file("r.xml") + "\n"));
}

TEST_F(ReportTest, DevicesInListOrderWithTheirActions) {
  addConfigEntry(1, "c.bin", "2.9", "Card");
  addConfigEntry(1, "p.bin", "1.05", "Plane");
  ConfigInfo::instance()->packageVersion = "7.0";
  listed(DEVICE_VELTO_E, "Card", "2.10", UPDATE_NOT_COMPARED);  // the action is recomputed
  listed(DEVICE_VELTO_I, "Plane", "1.05", UPDATE_UPGRADE);
  listed(DEVICE_VELTO_I, "Gone", "1.00", UPDATE_UPGRADE);
  listed(DEVICE_VELTO_I, "Plane", "1.5", UPDATE_UPGRADE);
  setForceFlag(true);  // options do not change the action
  name();
  generateSelfDiscoverXML();
  EXPECT_EQ(report(), header("7.0") + block("Card", "2.9", "2.10", "upgrade") +
                          block("Plane", "1.05", "1.05", "rewrite") +
                          block("Plane", "1.05", "1.5", "downgrade") + kFooter);
  EXPECT_TRUE(
      logHas("generateSelfDiscoverXML: Device not present in Config Info Table: Gone "
             "type: 2\n"));
}

TEST_F(ReportTest, ValuesAreEscaped) {
  const std::string hostile = "A&B <x a='1'> \"q\"";
  addConfigEntry(1, "c.bin", "1<2", hostile);
  ConfigInfo::instance()->packageVersion = "\"/><evil/>";
  listed(DEVICE_VELTO_E, hostile, "0&1", UPDATE_UPGRADE);
  name();
  generateSelfDiscoverXML();
  const std::string escaped = "A&amp;B &lt;x a=&apos;1&apos;&gt; &quot;q&quot;";
  EXPECT_EQ(report(), header("&quot;/&gt;&lt;evil/&gt;") +
                          block(escaped, "1&lt;2", "0&amp;1", "upgrade") + kFooter);
}

TEST_F(ReportTest, UnknownVersionsNameTheReadThatFailed) {
  addConfigEntry(1, "c.bin", "1.12", "Card");
  listed(DEVICE_VELTO_E, "Card", "x", UPDATE_UPGRADE)
      ->setVersionUnknown("the card's version register 0x51 at 0xEC");
  name();
  EXPECT_TRUE(generateSelfDiscoverXML());
  std::string expected = block("Card", "1.12", "unknown", "upgrade");
  expected.replace(expected.find("unknown\"/>"), 10,
                   "unknown\" read_failed=\"the card&apos;s version register 0x51 at 0xEC\"/>");
  EXPECT_EQ(report(), header("") + expected + kFooter);
}

TEST_F(ReportTest, NoUsableFileName) {
  std::string failure;
  EXPECT_FALSE(generateSelfDiscoverXML(&failure));
  EXPECT_EQ(failure, "no file name was given for the self-discovery report");
  EXPECT_TRUE(logHas("self-discover xml file name not provided.\r\n"));

  setSelfDiscoveryFile(scratch.file("no/such/folder/r.xml").c_str());
  EXPECT_FALSE(generateSelfDiscoverXML(&failure));
  EXPECT_EQ(failure.rfind("the self-discovery report " + scratch.file("no/such/folder/r.xml") +
                              " could not be written (",
                          0),
            0u)
      << failure;

  setSelfDiscoveryFile(std::string(600, 'n').c_str());
  generateSelfDiscoverXML();
  EXPECT_TRUE(logHas("self-discover xml file name too long (600 characters, at most 511).\r\n"));
  EXPECT_FALSE(tal::os::sys().pathExists(tal::os::fromUtf8(std::string(511, 'n'))));
}

}  // namespace
}  // namespace enginetest
