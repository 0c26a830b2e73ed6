// Device discovery: the SMBIOS device-correlation records (type 203) name the switch cards by PCI
// vendor and device ID and point at an I2C map record that gives the card's I2C segment; on each
// segment the card's FRU EEPROM names it, its switch controller gives its version, and behind its
// port selector sit up to three backplanes with their own name records and version registers. Every
// access is an I2C transaction through the management processor, with the tag used while the
// device-access lock is not held.
#include "discovery.h"

#include <bitset>
#include <cstdio>
#include <cstring>

#include "channel/smif.h"
#include "device.h"
#include "flashtask.h"
#include "log.h"
#include "smbios.h"

const char *const VLTE_CARD_NAME = "Orvo Varibay 6 HDD Switch Card";

namespace {

constexpr unsigned kTypeDeviceCorrelation = 203;
constexpr uint16_t kCardVendorId = 0x10B5;
constexpr uint16_t kCardDeviceId = 0x8749;
// Offsets in a device-correlation record and in its I2C map record.
constexpr unsigned kCorrMapHandle = 6, kCorrVendor = 8, kCorrDevice = 10, kCorrMinLength = 12;
constexpr unsigned kMapSegment = 4, kMapMinLength = 5;

// Registers of the card's switch controller and the selected backplane.
constexpr uint8_t kRegVersionMajor = 0x51, kRegVersionMinor = 0x50;
constexpr uint8_t kRegVltiVersion = 0x0C;
constexpr uint8_t kVltiLengthBase = 0xC0;  // the type/length byte holds 0xC0 + name length
constexpr int kVltiMaxNameLength = 39;
constexpr int kBackplanesPerCard = 3;
constexpr uint32_t kNameChunk = 32;

// Switch cards found in the current scan; the next card's number.
int g_cardsFound = 0;
// Segments scanned in the current scan. A segment is scanned once whatever became of its card: a
// card left out of the device list (not in the configuration, or no image for it) leaves no trace
// there, and a second scan would list its backplanes again, so that Install flashed them twice.
std::bitset<256> g_segmentsScanned;

std::string versionText(uint8_t major, uint8_t minor) {
  char text[16];
  std::snprintf(text, sizeof text, "%x.%02x", major, minor);
  return text;
}

// A name read into a buffer: at most length bytes, ending earlier at the first zero byte.
std::string boundedName(const uint8_t *bytes, size_t length) {
  const void *zero = std::memchr(bytes, 0, length);
  size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t *>(zero) - bytes) : length;
  return std::string(reinterpret_cast<const char *>(bytes), n);
}

uint32_t readRegister(uint8_t segment, uint8_t address, uint8_t reg, uint8_t *out, uint32_t n,
                      bool locked) {
  return I2CTransaction(segment, address, &reg, 1, out, n, locked);
}

uint32_t readAt16(uint8_t segment, uint8_t address, uint16_t offset, uint8_t *out, uint32_t n,
                  bool locked) {
  const uint8_t where[2] = {static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset)};
  return I2CTransaction(segment, address, where, 2, out, n, locked);
}

}  // namespace

void resetDiscovery() {
  g_cardsFound = 0;
  g_segmentsScanned.reset();
}

void scanDeviceCorrelation() {
  resetDiscovery();
  SmbiosTable table(true);
  if (!table.isLoaded()) {
    logMessage(LOG_VERBOSE, "Failed to load smbios\n");
    return;
  }
  logMessage(LOG_VERBOSE, "success - load smbios\n");
  logMessage(LOG_VERBOSE, "system name = %s\n", table.systemName().c_str());

  if (!table.findByType(kTypeDeviceCorrelation, 0)) {
    logMessage(LOG_VERBOSE, "Failed to get DEVICE CORRELATION record #1\n");
    return;
  }
  for (unsigned i = 0;; ++i) {
    const SmbiosTable::Record *rec = table.findByType(kTypeDeviceCorrelation, i);
    if (!rec) break;
    uint16_t vendor = 0, device = 0, mapHandle = 0;
    if (rec->length < kCorrMinLength || !table.readWord(rec, kCorrVendor, vendor) ||
        !table.readWord(rec, kCorrDevice, device) ||
        !table.readWord(rec, kCorrMapHandle, mapHandle)) {
      logMessage(LOG_VERBOSE, "Rec # %d: DEVICE CORRELATION record too short (%u bytes), skipped\n",
                 static_cast<int>(i), rec->length);
      continue;
    }
    logMessage(LOG_VERBOSE, "Rec # %d Vendor ID = %x Device ID = %x\n", static_cast<int>(i), vendor,
               device);
    if (vendor != kCardVendorId || device != kCardDeviceId) continue;

    logMessage(LOG_VERBOSE, "Found Card...\n");
    logMessage(LOG_VERBOSE, "Vendor ID = %x \n", vendor);
    logMessage(LOG_VERBOSE, "Device ID = %x \n", device);
    const SmbiosTable::Record *map = table.findByHandle(mapHandle);
    if (!map) {
      logMessage(LOG_VERBOSE, "ERROR: Failed to read I2C Map for %x %x %p\n", vendor, device,
                 reinterpret_cast<void *>(static_cast<uintptr_t>(mapHandle)));
      continue;
    }
    uint8_t segment = 0;
    if (map->length < kMapMinLength || !table.readByte(map, kMapSegment, segment)) {
      logMessage(LOG_VERBOSE, "ERROR: I2C Map record %x too short (%u bytes), skipped\n", mapHandle,
                 map->length);
      continue;
    }
    logMessage(LOG_VERBOSE, "Segment = %x \n", segment);
    logMessage(LOG_VERBOSE, "Scanning %d...\n", segment);
    if (g_segmentsScanned.test(segment) || segmentExists(segment)) {
      logMessage(LOG_VERBOSE, "VeltoE Segment %x already exists\n", segment);
    } else {
      g_segmentsScanned.set(segment);
      discoverVlteSegment(segment);
    }
  }
}

void discoverVlteSegment(uint8_t segment) {
  uint8_t raw[kNameChunk] = {0};
  if (readFromOffset0012(segment, kAddrFru, raw, kNameChunk, false) != 0) return;
  std::string name = boundedName(raw, kNameChunk);
  logMessage(LOG_VERBOSE, "discover vlte: %d:%s\n", segment, name.c_str());
  if (name != VLTE_CARD_NAME) return;

  // Cards are numbered in the order they are found, whatever became of the devices before them (a
  // card may be listed with fewer than three backplanes, or left out of the list).
  const int idx = g_cardsFound++;
  VlteObj *card = new VlteObj();
  card->setSegmentIdx(segment);
  card->setIdx(idx);
  char objectName[32];
  std::snprintf(objectName, sizeof objectName, "Controller card %d", idx + 1);
  card->setObjectName(objectName);
  card->setProductName(name);
  card->setVersion(readVlteVersion(segment, false));
  logMessage(LOG_VERBOSE, "FOUND Velto-E: %s idxSeg:%d version: %s\n", name.c_str(), segment,
             card->getVersion().c_str());
  addDevice(card);

  for (int b = 0; b < kBackplanesPerCard; ++b) {
    std::string productName, version;
    if (!readVltiInfo(b, segment, productName, version, false)) continue;
    VltiObj *backplane = new VltiObj();
    backplane->setIdx(b);
    backplane->setCardIdx(idx);
    backplane->setSegmentIdx(segment);
    std::snprintf(objectName, sizeof objectName, "Backplane %d", b + 1);
    backplane->setObjectName(objectName);
    backplane->setProductName(productName);
    backplane->setVersion(version);
    addDevice(backplane);
  }
}

std::string readVlteVersion(uint8_t segment, bool locked) {
  uint8_t major = 0, minor = 0;
  if (setHandshake(segment, kAddrSwitchCtrl, 0, locked) == 0) {
    uint8_t b = 0;
    if (readRegister(segment, kAddrSwitchCtrl, kRegVersionMajor, &b, 1, locked) == 0) major = b;
    b = 0;
    if (readRegister(segment, kAddrSwitchCtrl, kRegVersionMinor, &b, 1, locked) == 0) minor = b;
  }
  return versionText(major, minor);
}

bool readVltiInfo(int backplane, uint8_t segment, std::string &productName, std::string &version,
                  bool locked) {
  productName.clear();
  version.clear();
  // A take whose reply was lost may have gone through: a failed handshake or port write is
  // followed by its release all the same, once, best effort. The handshake is released on every
  // path, also when an exception leaves the read.
  ReleaseGuard handshake([&](bool) { setHandshake(segment, kAddrSwitchCtrl, 0, locked); });
  if (setHandshake(segment, kAddrSwitchCtrl, 1, locked) != 0) {
    handshake.release();
    return false;
  }
  if (selectVltiPort(segment, kAddrPortSelect, portMaskForIdx(backplane), locked) != 0) {
    selectVltiPort(segment, kAddrPortSelect, 0, locked);
    handshake.release();
    return false;
  }

  uint8_t ver[2] = {0, 0};
  if (readRegister(segment, kAddrVltiVersion, kRegVltiVersion, ver, 2, locked) == 0) {
    version = versionText(ver[0], ver[1]);
  }

  uint8_t lengthByte = 0;
  if (readAt16(segment, kAddrVltiName, 0x0011, &lengthByte, 1, locked) != 0) lengthByte = 0;
  const int length = lengthByte - kVltiLengthBase;
  logMessage(LOG_VERBOSE, "VeltoI value at 11h : %d Product length: %d\n", lengthByte, length);

  bool result = false;
  if (length >= 1 && length <= kVltiMaxNameLength) {
    uint8_t name[kVltiMaxNameLength + 1] = {0};
    bool ok = readFromOffset0012(segment, kAddrVltiName, name, kNameChunk, locked) == 0;
    if (ok && length > static_cast<int>(kNameChunk)) {
      ok = readAt16(segment, kAddrVltiName, 0x0032, name + kNameChunk,
                    static_cast<uint32_t>(length) - kNameChunk, locked) == 0;
    }
    if (ok) productName = boundedName(name, static_cast<size_t>(length));
    result = true;
  }

  handshake.release();
  return result;
}
