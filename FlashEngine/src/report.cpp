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

bool generateSelfDiscoverXML(std::string *failure) {
  const std::string name = getSelfDiscoveryFile();
  if (name.empty()) {
    logMessage(LOG_ALL, "self-discover xml file name not provided.\r\n");
    if (failure) *failure = "no file name was given for the self-discovery report";
    return false;
  }
  if (name.size() > kReportNameMax) {
    logMessage(LOG_ALL, "self-discover xml file name too long (%u characters, at most %u).\r\n",
               static_cast<unsigned>(name.size()), static_cast<unsigned>(kReportNameMax));
    if (failure) *failure = "the self-discovery report's file name is too long";
    return false;
  }
  logMessage(LOG_VERBOSE, "generating Self-Discovery file to %s\n", name.c_str());
  setReportFile(name.c_str());

  // The document is built whole and written in one go: a second run replaces the first report
  // instead of adding a second document after it.
  std::string doc;
  const std::string packageVersion = xmlEscape(getPackageVersion());
  doc += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  doc += "<orvo_rom_discovery version=\"2.0.0.0\">\n";
  doc += "<type value=\"switchbackplane\"/>\n";
  doc += "<alt_name value=\"Orvo Varibay Enablement Switch Card\"/>\n";
  doc += "<version value=\"" + packageVersion + "\" />\n";
  doc += "<takes_effect value=\"deferred\"/>\n";
  doc += "<devices>\n";

  for (const DeviceObj *device : deviceList()) {
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
    doc += "<device>\n";
    doc += "\t<device_id value=\"" + productText + "\"/>\n";
    doc += "\t<product_id value=\"" + productText + "\"/>\n";
    doc += "\t<fw_item>\n";
    doc += "\t<type value=\"Controller ROM\"/>\n";
    doc += "\t<version value=\"" + offered + "\"/>\n";
    if (device->getVersionUnknown()) {
      // An unknown version is offered for an update (device.h); the read that failed is named.
      doc += "\t<active_version value=\"" + active + "\" read_failed=\"" +
             xmlEscape(device->getVersionFailure()) + "\"/>\n";
      doc += "\t<action value=\"upgrade\"/>\n";
    } else {
      doc += "\t<active_version value=\"" + active + "\"/>\n";
      doc += std::string("\t<action value=\"") + actionFor(device->getVersion(), entry->version) +
             "\"/>\n";
    }
    doc += "\t<duration value=\"900\"/>\n";
    doc += "\t<shared value=\"no\"/>\n";
    doc += "\t</fw_item>\n";
    doc += "</device>\n";
  }

  doc += "</devices>\n";
  doc += "</orvo_rom_discovery>\n";

  std::string error;
  if (!writeReportFile(doc, &error)) {
    logMessage(LOG_ALL, "self-discover xml file %s could not be written: %s\r\n", name.c_str(),
               error.c_str());
    if (failure)
      *failure = "the self-discovery report " + name + " could not be written (" + error + ")";
    return false;
  }
  return true;
}
