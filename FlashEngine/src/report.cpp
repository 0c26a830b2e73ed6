// The self-discovery report: every listed device with the version the package offers for it, the
// version it runs and the action an update would take, appended line by line to the report file.
#include "report.h"

#include <string>

#include "configinfo.h"
#include "device.h"
#include "engine.h"
#include "log.h"

namespace {

constexpr size_t kReportNameMax = 511;

// Values come from the devices and the package: escaped so that they can neither break the document
// nor add elements to it.
std::string xmlEscape(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char *actionFor(const std::string &deviceVersion, const std::string &packageVersion) {
  const int order = compareVersionText(deviceVersion, packageVersion);
  return order < 0 ? "upgrade" : order == 0 ? "rewrite" : "downgrade";
}

}  // namespace

void generateSelfDiscoverXML() {
  const std::string name = getSelfDiscoveryFile();
  if (name.empty()) {
    logMessage(LOG_ALL, "self-discover xml file name not provided.\r\n");
    return;
  }
  if (name.size() > kReportNameMax) {
    logMessage(LOG_ALL, "self-discover xml file name too long (%u characters, at most %u).\r\n",
               static_cast<unsigned>(name.size()), static_cast<unsigned>(kReportNameMax));
    return;
  }
  logMessage(LOG_VERBOSE, "generating Self-Discovery file to %s\n", name.c_str());
  setReportFile(name.c_str());

  const std::string packageVersion = xmlEscape(getPackageVersion());
  logMessage(LOG_REPORT, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  logMessage(LOG_REPORT, "<orvo_rom_discovery version=\"2.0.0.0\">\n");
  logMessage(LOG_REPORT, "<type value=\"switchbackplane\"/>\n");
  logMessage(LOG_REPORT, "<alt_name value=\"Orvo Varibay Enablement Switch Card\"/>\n");
  logMessage(LOG_REPORT, "<version value=\"%s\" />\n", packageVersion.c_str());
  logMessage(LOG_REPORT, "<takes_effect value=\"deferred\"/>\n");
  logMessage(LOG_REPORT, "<devices>\n");

  for (const DeviceObj *device : g_deviceList) {
    const std::string product = device->getProductName();
    const ConfigEntry *entry = getConfigDevInfo(1, product);
    if (!entry) {
      logMessage(LOG_VERBOSE,
                 "generateSelfDiscoverXML: Device not present in Config Info "
                 "Table: %s type: "
                 "%d\n",
                 product.c_str(), device->getType());
      continue;
    }
    const std::string productText = xmlEscape(product);
    const std::string offered = xmlEscape(entry->version);
    const std::string active = xmlEscape(device->getVersion());
    logMessage(LOG_REPORT, "<device>\n");
    logMessage(LOG_REPORT, "\t<device_id value=\"%s\"/>\n", productText.c_str());
    logMessage(LOG_REPORT, "\t<product_id value=\"%s\"/>\n", productText.c_str());
    logMessage(LOG_REPORT, "\t<fw_item>\n");
    logMessage(LOG_REPORT, "\t<type value=\"Controller ROM\"/>\n");
    logMessage(LOG_REPORT, "\t<version value=\"%s\"/>\n", offered.c_str());
    logMessage(LOG_REPORT, "\t<active_version value=\"%s\"/>\n", active.c_str());
    logMessage(LOG_REPORT, "\t<action value=\"%s\"/>\n",
               actionFor(device->getVersion(), entry->version));
    logMessage(LOG_REPORT, "\t<duration value=\"%u\"/>\n", 900u);
    logMessage(LOG_REPORT, "\t<shared value=\"no\"/>\n");
    logMessage(LOG_REPORT, "\t</fw_item>\n");
    logMessage(LOG_REPORT, "</device>\n");
  }

  logMessage(LOG_REPORT, "</devices>\n");
  logMessage(LOG_REPORT, "</orvo_rom_discovery>\n");
}
