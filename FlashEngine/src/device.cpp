// The device model: the two device classes, the program-wide device list, and the decision that
// puts a discovered device on the list (key files, configuration entry, version comparison).
#include "device.h"

#include <cstring>

#include "configinfo.h"
#include "log.h"
#include "state.h"

const char *const kVersionUnknown = "unknown";

DeviceList &DeviceList::operator=(DeviceList &&other) noexcept {
  if (this != &other) {
    clear();
    items_ = std::move(other.items_);
    other.items_.clear();
  }
  return *this;
}

void DeviceList::clear() {
  for (DeviceObj *d : items_) delete d;
  items_.clear();
}

DeviceList &deviceList() { return engineState().devices; }

VlteObj::VlteObj() {
  setType(DEVICE_VELTO_E);
  setSlaveAddr(0x82);
}

VltiObj::VltiObj() {
  setType(DEVICE_VELTO_I);
  setSlaveAddr(0x80);
}

int compareVersionText(const std::string &device, const std::string &package) {
  const size_t common = device.size() < package.size() ? device.size() : package.size();
  // memcmp compares as unsigned bytes.
  int c = common ? std::memcmp(device.data(), package.data(), common) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  if (device.size() == package.size()) return 0;
  return device.size() < package.size() ? -1 : 1;
}

void addDevice(DeviceObj *device) {
  if (!device) return;
  const std::string product = device->getProductName();
  const int type = device->getType();

  const bool keyFileMatch = isFwApplicable(product);
  if (!keyFileMatch) {
    logMessage(LOG_VERBOSE, "Device not present in keyFileList: %s type: %d\n", product.c_str(),
               type);
  }
  if (!keyFileMatch || (type != DEVICE_VELTO_E && type != DEVICE_VELTO_I)) {
    logMessage(LOG_VERBOSE, "Device not applicable: %s type: %d\n", product.c_str(), type);
    delete device;
    return;
  }

  const ConfigEntry *entry = getConfigDevInfo(1, product);
  if (!entry) {
    logMessage(LOG_VERBOSE, "Device not present in Config Info Table: %s type: %d\n",
               product.c_str(), type);
    delete device;
    return;
  }

  device->setPackageVersion(entry->version);
  if (device->getVersionUnknown()) {
    logMessage(LOG_VERBOSE, "Device version unknown: %s type: %d; offered for an update\n",
               product.c_str(), type);
    device->setUpdateState(UPDATE_UPGRADE);
  } else {
    const int order = compareVersionText(device->getVersion(), entry->version);
    device->setUpdateState(order < 0    ? UPDATE_UPGRADE
                           : order == 0 ? UPDATE_REWRITE
                                        : UPDATE_DOWNGRADE);
  }
  device->setFwFile(entry->payload);
  deviceList().push_back(device);
}

bool segmentExists(uint8_t segment) {
  for (const DeviceObj *d : deviceList()) {
    if (d->getType() == DEVICE_VELTO_E && d->getSegmentIdx() == segment) return true;
  }
  return false;
}
