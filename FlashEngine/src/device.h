// The device model: one object per updatable device that discovery finds (a controller card with
// its Velto-E controller, or a backplane with its Velto-I CPLD), and the program-wide list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fwheader.h"

enum UpdateState : int {
  UPDATE_DOWNGRADE = 0,     // the device's version sorts after the package version
  UPDATE_REWRITE = 1,       // equal
  UPDATE_UPGRADE = 2,       // the device's version sorts before the package version
  UPDATE_NOT_COMPARED = 3,  // initial value
};

// The engine's device types: the image header's type codes of the families it flashes.
enum DeviceType : int { DEVICE_VELTO_E = fwimg::kTypeVeltoE, DEVICE_VELTO_I = fwimg::kTypeVeltoI };

// The version text of a device whose version could not be read.
extern const char *const kVersionUnknown;  // "unknown"

// A device after a flash that failed, in the words the result text uses.
enum DeviceState : int {
  STATE_NOT_CHANGED = 0,  // the failure came before anything was written
  STATE_ERASED = 1,       // a Velto-I failure after the erase: erased, not rewritten
  STATE_UNKNOWN = 2,      // a Velto-E transfer cut short (or a CPLD whose end is not known)
};

// What one flash of a device came to, besides its result code.
struct FlashOutcome {
  std::string failedStep;  // the step that failed, in plain words; empty when nothing failed
  int state = STATE_NOT_CHANGED;
  bool accessLocked = false;  // the device-access lock could not be released
};

class DeviceObj {
 public:
  DeviceObj() = default;
  virtual ~DeviceObj() = default;

  int getIdx() const { return idx_; }
  void setIdx(int v) { idx_ = v; }
  uint8_t getSegmentIdx() const { return segmentIdx_; }
  void setSegmentIdx(uint8_t v) { segmentIdx_ = v; }
  int getType() const { return type_; }
  void setType(int v) { type_ = v; }
  std::string getObjectName() const { return objectName_; }
  void setObjectName(const std::string &v) { objectName_ = v; }
  std::string getProductName() const { return productName_; }
  void setProductName(const std::string &v) { productName_ = v; }
  int getSlaveAddr() const { return slaveAddr_; }
  void setSlaveAddr(int v) { slaveAddr_ = v; }
  std::string getVersion() const { return version_; }
  void setVersion(const std::string &v) { version_ = v; }
  std::string getPackageVersion() const { return packageVersion_; }
  void setPackageVersion(const std::string &v) { packageVersion_ = v; }
  bool getFlashNeeded() const { return flashNeeded_; }
  void setFlashNeeded(bool v) { flashNeeded_ = v; }
  bool getFlashSucceeded() const { return flashSucceeded_; }
  void setFlashSucceeded(bool v) { flashSucceeded_ = v; }
  int getUpdateState() const { return updateState_; }
  void setUpdateState(int v) { updateState_ = v; }
  std::string getFwFile() const { return fwFile_; }
  void setFwFile(const std::string &v) { fwFile_ = v; }
  // A version that could not be read: the version text becomes kVersionUnknown, and the read
  // that failed is kept for the texts that name it.
  bool getVersionUnknown() const { return versionUnknown_; }
  std::string getVersionFailure() const { return versionFailure_; }
  void setVersionUnknown(const std::string &failedRead) {
    version_ = kVersionUnknown;
    versionUnknown_ = true;
    versionFailure_ = failedRead;
  }
  const FlashOutcome &getFlashOutcome() const { return flashOutcome_; }
  void setFlashOutcome(const FlashOutcome &v) { flashOutcome_ = v; }

 private:
  int idx_ = 0;
  uint8_t segmentIdx_ = 0xFF;
  int type_ = 0;
  std::string objectName_;
  std::string productName_;
  int slaveAddr_ = 0;
  std::string version_ = "-1";
  std::string packageVersion_;
  bool flashNeeded_ = false;
  bool flashSucceeded_ = false;
  int updateState_ = UPDATE_NOT_COMPARED;
  std::string fwFile_;
  bool versionUnknown_ = false;
  std::string versionFailure_;
  FlashOutcome flashOutcome_;
};

// Velto-E controller card: type 1, slave address 0x82.
class VlteObj : public DeviceObj {
 public:
  VlteObj();
};

// Velto-I backplane CPLD: type 2, slave address 0x80, and the card it was found behind.
class VltiObj : public DeviceObj {
 public:
  VltiObj();
  int getCardIdx() const { return cardIdx_; }
  void setCardIdx(int v) { cardIdx_ = v; }

 private:
  int cardIdx_ = 0;
};

// The device list, in discovery order; owns its devices (a list that goes, or is cleared or
// replaced, deletes them).
class DeviceList {
 public:
  using const_iterator = std::vector<DeviceObj *>::const_iterator;
  DeviceList() = default;
  DeviceList(DeviceList &&other) noexcept : items_(std::move(other.items_)) {}
  DeviceList &operator=(DeviceList &&other) noexcept;
  DeviceList(const DeviceList &) = delete;
  DeviceList &operator=(const DeviceList &) = delete;
  ~DeviceList() { clear(); }

  void push_back(DeviceObj *device) { items_.push_back(device); }
  void clear();
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  DeviceObj *operator[](size_t i) const { return items_[i]; }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  std::vector<DeviceObj *> items_;
};

// The engine's device list (in the engine's state).
DeviceList &deviceList();

// Applicability check, configuration lookup and version comparison; appends the device to
// the device list or destroys it. Takes ownership either way. A device whose version is unknown is
// offered for an update (updateState 2): one too damaged to answer its version is re-flashed to
// recover it.
void addDevice(DeviceObj *device);

// True when a listed device of type 1 has that segment index.
bool segmentExists(uint8_t segment);

// Bytewise comparison of version texts (common prefix as unsigned bytes, then the shorter first):
// negative when device sorts before package, 0 when equal, positive after.
int compareVersionText(const std::string &device, const std::string &package);
