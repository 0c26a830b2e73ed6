// Configuration info: Config.xml (one entry per device product: image file and its version, plus
// the base name of the package definition file) and the package definition file (key-file names and
// package version), held in the one ConfigInfo object of the engine.
#include "configinfo.h"

#include <cctype>
#include <climits>
#include <iterator>
#include <utility>

#include "cxml.h"
#include "log.h"
#include "state.h"

namespace {

PackageState &package() { return engineState().package; }

// A decimal number as the C runtime's atoi reads it (leading white space and a sign allowed,
// reading stops at the first non-digit, no digits gives 0), saturating instead of overflowing.
long long readDecimal(const std::string &text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (value < LLONG_MAX / 100) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

int toInt(long long v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::string pathIn(const std::string &directory, const std::string &name) {
  return directory.empty() ? name : directory + "/" + name;
}

void freeList(ConfigEntry *&head) {
  while (head) {
    ConfigEntry *next = head->next;
    delete head;
    head = next;
  }
}

}  // namespace

ConfigInfo *ConfigInfo::instance() {
  std::unique_ptr<ConfigInfo> &info = package().info;
  if (!info) info = std::make_unique<ConfigInfo>();
  return info.get();
}

ConfigInfo::~ConfigInfo() {
  for (ConfigEntry *&head : table) freeList(head);
}

std::string trimBlanks(const std::string &text) {
  auto trim = [](const std::string &s, char c) {
    size_t first = s.find_first_not_of(c);
    if (first == std::string::npos) return std::string();
    size_t last = s.find_last_not_of(c);
    return s.substr(first, last - first + 1);
  };
  std::string out = trim(trim(text, ' '), '\t');
  // A text of blanks only becomes empty, also when spaces and tabs alternate (" \t \t " leaves
  // " " after the two passes).
  if (out.find_first_not_of(" \t") == std::string::npos) out.clear();
  return out;
}

void addConfigEntry(int type, const std::string &payload, const std::string &version,
                    const std::string &deviceName) {
  ConfigInfo *info = ConfigInfo::instance();
  if (type < 0 || static_cast<uint32_t>(type) >= info->bucketCount) return;
  ConfigEntry *entry = new ConfigEntry;
  entry->devName = trimBlanks(deviceName);
  entry->payload = payload;
  entry->version = version;
  entry->next = info->table[type];
  info->table[type] = entry;
}

std::string configInfoFailure() { return package().failure; }

bool createConfigInfo(const std::string &directory) {
  ConfigInfo *info = ConfigInfo::instance();
  if (info->created) return true;
  package().failure.clear();
  logMessage(LOG_VERBOSE, "createConfigInfo...\n");

  const std::string configPath = pathIn(directory, "Config.xml");
  logMessage(LOG_VERBOSE, "Config xml file: %s\n", configPath.c_str());
  {
    C_XML xml;
    xml.SetTrimWhitespace(true);
    if (!xml.Load(configPath)) {
      logMessage(LOG_VERBOSE, "Parse config xml failed: %s\n", configPath.c_str());
      package().failure = configPath + " is missing or not well-formed";
      return false;
    }
    C_XMLNode *devices = xml.FindNode("/Devices");
    if (!devices) {
      logMessage(LOG_VERBOSE, "Error: XML data invalid. <Devices>\n");
      package().failure = configPath + " has no Devices element";
      return false;
    }
    for (C_XMLNode *node = xml.FirstChild(devices); node; node = xml.NextSibling(node)) {
      if (node->name == "Device") {
        std::string field[4];  // type, device name, payload, version: by position
        int count = 0;
        for (C_XMLNode *child = xml.FirstChild(node); child && count < 4;
             child = xml.NextSibling(child)) {
          xml.GetText(child, &field[count++]);
        }
        if (!directory.empty() && count >= 3) field[2] = pathIn(directory, field[2]);
        const int type = toInt(readDecimal(field[0]));
        if (type != 0 && type != 1) {
          logMessage(LOG_VERBOSE, "Config entry left out: %s invalid config type: %d\n",
                     field[1].c_str(), type);
          continue;
        }
        addConfigEntry(type, field[2], field[3], field[1]);
      } else if (node->name == "kzxml") {
        C_XMLNode *child = xml.FirstChild(node);
        if (child) xml.GetText(child, &info->packageName);
      }
    }
  }
  printConfigInfo();

  const std::string packagePath = pathIn(directory, info->packageName + ".xml");
  if (!readKeyFilesFromKZXML(packagePath)) {
    logMessage(LOG_VERBOSE, "readKeyFilesFromKZXML Failed.\n");
    package().failure = "the package definition file " + packagePath +
                        " (named in Config.xml) is missing or not well-formed";
    return false;
  }
  info->created = true;
  return true;
}

bool readKeyFilesFromKZXML(const std::string &path) {
  logMessage(LOG_VERBOSE, "readKeyFilesFromKZXML: %s\n", path.c_str());
  C_XML xml;
  xml.SetTrimWhitespace(true);
  if (!xml.Load(path)) {
    logMessage(LOG_VERBOSE, "XML parse failed: %s\n", path.c_str());
    return false;
  }
  ConfigInfo *info = ConfigInfo::instance();
  std::vector<std::pair<std::string, std::string>> keys;
  xml.FindAttrText("/tal_package/sw_keys/sw_keys_and/sw_key", "name", std::back_inserter(keys));
  for (const auto &key : keys) {
    info->keyFileList.push_back(trimBlanks(key.first));
    logMessage(LOG_VERBOSE, "Added key file: %s\n", info->keyFileList.back().c_str());
  }
  xml.FindFirstAttr("/tal_package/version", "value", &info->packageVersion);
  return true;
}

ConfigEntry *getConfigDevInfo(int type, const std::string &deviceName) {
  if (type != 0 && type != 1) {
    logMessage(LOG_VERBOSE, "getConfigDevInfo: %s invalid config type: %d\n", deviceName.c_str(),
               type);
    return nullptr;
  }
  const std::string name = trimBlanks(deviceName);
  logMessage(LOG_LEVEL1, "getConfigDevInfo:%s:\n", name.c_str());
  ConfigEntry *head = ConfigInfo::instance()->table[type];
  if (!head) return nullptr;
  if (type == 0) return head;
  for (ConfigEntry *e = head; e; e = e->next) {
    logMessage(LOG_LEVEL1, "getConfigDevInfo iterator devName:%s: \n", e->devName.c_str());
    if (e->devName == name) {
      logMessage(LOG_LEVEL1, "getConfigDevInfo devName matched:%s: fw name %s\n",
                 e->devName.c_str(), e->payload.c_str());
      return e;
    }
  }
  return nullptr;
}

bool isFwApplicable(const std::string &productName) {
  for (const std::string &key : ConfigInfo::instance()->keyFileList) {
    const std::string head = productName.substr(0, key.size());
    bool equal = head.size() == key.size();
    for (size_t i = 0; equal && i < key.size(); ++i) {
      equal = std::tolower(static_cast<unsigned char>(head[i])) ==
              std::tolower(static_cast<unsigned char>(key[i]));
    }
    if (equal) {
      logMessage(LOG_VERBOSE, "FW is applicable to '%s'\n", productName.c_str());
      return true;
    }
  }
  logMessage(LOG_VERBOSE, "FW is not applicable to '%s'\n", productName.c_str());
  return false;
}

std::string getPackageVersion() { return ConfigInfo::instance()->packageVersion; }

void printConfigInfo() {
  logMessage(LOG_VERBOSE, "Config Info:\n");
  const ConfigInfo *info = ConfigInfo::instance();
  for (uint32_t type = 0; type < info->bucketCount; ++type) {
    for (const ConfigEntry *e = info->table[type]; e; e = e->next) {
      logMessage(LOG_VERBOSE, "Dev Name: %s PayLoad: %s Version: %s\n", e->devName.c_str(),
                 e->payload.c_str(), e->version.c_str());
    }
  }
}

void releaseConfigInfo() { package().info.reset(); }
