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

TEST_F(ReportTest, EmptyListAndAppend) {
  ConfigInfo::instance()->packageVersion = "2.20";
  name();
  generateSelfDiscoverXML();
  const std::string one = header("2.20") + kFooter;
  EXPECT_EQ(report(), one);
  generateSelfDiscoverXML();
  EXPECT_EQ(report(), one + one);
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

TEST_F(ReportTest, NoUsableFileName) {
  generateSelfDiscoverXML();
  EXPECT_TRUE(logHas("self-discover xml file name not provided.\r\n"));

  setSelfDiscoveryFile(std::string(600, 'n').c_str());
  generateSelfDiscoverXML();
  EXPECT_TRUE(logHas("self-discover xml file name too long (600 characters, at most 511).\r\n"));
  EXPECT_FALSE(tal::os::sys().pathExists(tal::os::fromUtf8(std::string(511, 'n'))));
}

}  // namespace
}  // namespace enginetest
