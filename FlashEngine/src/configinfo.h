// Configuration info: what the package says about the devices. Config.xml gives one entry per
// device product (image file and its version); the package definition file gives the key-file
// names and the package version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ConfigEntry {
  std::string devName;  // trimmed product name
  std::string payload;  // firmware image file name, as written
  std::string version;  // firmware version of that image, as written
  ConfigEntry *next = nullptr;
};

class ConfigInfo {
 public:
  // The one object, created with two empty lists on first call (and again after release).
  static ConfigInfo *instance();

  bool created = false;
  uint32_t bucketCount = 2;
  ConfigEntry *table[2] = {nullptr, nullptr};  // per configuration type, newest first
  std::string packageName;                     // base name of the package file, without ".xml"
  std::vector<std::string> keyFileList;
  std::string packageVersion;

  ConfigInfo() = default;
  ConfigInfo(const ConfigInfo &) = delete;
  ConfigInfo &operator=(const ConfigInfo &) = delete;
  ~ConfigInfo();
};

bool createConfigInfo(const std::string &directory);
// Why the last createConfigInfo failed, in plain words ("" after a success).
std::string configInfoFailure();
ConfigEntry *getConfigDevInfo(int type, const std::string &deviceName);
bool isFwApplicable(const std::string &productName);
std::string getPackageVersion();
void printConfigInfo();
void releaseConfigInfo();

bool readKeyFilesFromKZXML(const std::string &path);
void addConfigEntry(int type, const std::string &payload, const std::string &version,
                    const std::string &deviceName);
// Leading and trailing spaces removed, then leading and trailing tabs of the result; a text of
// blanks only becomes empty.
std::string trimBlanks(const std::string &text);
