// Device discovery: the SMBIOS device-correlation records (type 203) name the switch cards by PCI
// vendor and device ID and point at an I2C map record that gives the card's I2C segment; on each
// segment the card's FRU EEPROM names it, its switch controller gives its version, and behind its
// port selector sit up to three backplanes with their own name records and version registers. Every
// access is an I2C transaction through the management processor, with the tag used while the
// device-access lock is not held; every read that fails is tried again (discovery.h).
#include "discovery.h"

#include <bitset>
#include <cstdio>
#include <cstring>

#include "channel/smif.h"
#include "device.h"
#include "flashtask.h"
#include "log.h"
#include "smbios.h"
#include "state.h"

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

DiscoveryState &discoveryState() { return engineState().discovery; }

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

void note(const std::string &text) {
  logMessage(LOG_VERBOSE, "discovery: %s\n", text.c_str());
  discoveryState().notes.push_back(text);
}

// The card's name from its FRU EEPROM, tried again while the read fails; false when no attempt
// read it.
bool readCardName(uint8_t segment, std::string &name) {
  for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
    uint8_t raw[kNameChunk] = {0};
    if (readFromOffset0012(segment, kAddrFru, raw, kNameChunk, false) == 0) {
      name = boundedName(raw, kNameChunk);
      return true;
    }
    logMessage(LOG_VERBOSE, "card name read on segment %d failed (attempt %d of %d)\n", segment,
               attempt, kReadAttempts);
  }
  return false;
}

// What one attempt at a backplane has established so far.
struct BackplaneProgress {
  bool presenceKnown = false;
  bool present = false;
  int length = 0;  // name length from the type/length byte
  bool haveVersion = false, haveName = false;
  int lengthByte = 0;
};

// One attempt at a backplane: the handshake, the port, then what is not yet known (presence,
// version, name), then the port and the handshake released. Returns "" when everything is known,
// else the read that failed; *busFailed tells whether it failed before the backplane was
// reachable (handshake or port selection).
std::string backplaneAttempt(int b, uint8_t segment, bool locked, BackplaneProgress &p,
                             BackplaneRead &out, bool *busFailed) {
  *busFailed = false;
  // A take whose reply was lost may have gone through: a failed handshake or port write is
  // followed by its release all the same. The releases run on every path, also when an exception
  // leaves the read.
  ReleaseGuard handshake([&](bool) { releaseHandshake(segment, locked); });
  if (setHandshake(segment, kAddrSwitchCtrl, 1, locked) != 0) {
    handshake.release();
    *busFailed = true;
    return "taking the card's backplane-bus handshake (register 0x66 at 0xEC)";
  }
  ReleaseGuard port([&](bool) { deselectPorts(segment, locked); });
  if (selectVltiPort(segment, kAddrPortSelect, portMaskForIdx(b), locked) != 0) {
    port.release();
    handshake.release();
    *busFailed = true;
    return "selecting the backplane's port (0xE4)";
  }

  std::string failed;
  if (!p.presenceKnown) {
    uint8_t lengthByte = 0;
    if (readAt16(segment, kAddrVltiName, 0x0011, &lengthByte, 1, locked) != 0) {
      failed = "the backplane's name record (length byte at 0x0011 of 0xAA)";
    } else {
      p.presenceKnown = true;
      p.lengthByte = lengthByte;
      p.length = lengthByte - kVltiLengthBase;
      p.present = p.length >= 1 && p.length <= kVltiMaxNameLength;
    }
  }
  if (failed.empty() && p.present && !p.haveVersion) {
    uint8_t ver[2] = {0, 0};
    if (readRegister(segment, kAddrVltiVersion, kRegVltiVersion, ver, 2, locked) == 0) {
      out.version = versionText(ver[0], ver[1]);
      p.haveVersion = true;
    } else {
      out.versionFailed = "the backplane's version registers (0x0C at 0xEE)";
      failed = out.versionFailed;
    }
  }
  if (p.present && !p.haveName && p.presenceKnown) {
    uint8_t name[kVltiMaxNameLength + 1] = {0};
    bool ok = readFromOffset0012(segment, kAddrVltiName, name, kNameChunk, locked) == 0;
    if (ok && p.length > static_cast<int>(kNameChunk)) {
      ok = readAt16(segment, kAddrVltiName, 0x0032, name + kNameChunk,
                    static_cast<uint32_t>(p.length) - kNameChunk, locked) == 0;
    }
    if (ok) {
      out.productName = boundedName(name, static_cast<size_t>(p.length));
      p.haveName = true;
    } else {
      out.nameFailed = "the backplane's name (0x0012 of 0xAA)";
      if (failed.empty()) failed = out.nameFailed;
    }
  }

  port.release();
  handshake.release();
  return failed;
}

}  // namespace

const std::vector<std::string> &discoveryNotes() { return discoveryState().notes; }
bool discoveryIncomplete() { return discoveryState().incomplete; }

void resetDiscovery() { discoveryState() = DiscoveryState{}; }

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
    if (discoveryState().segmentsScanned.test(segment) || segmentExists(segment)) {
      logMessage(LOG_VERBOSE, "VeltoE Segment %x already exists\n", segment);
    } else {
      discoveryState().segmentsScanned.set(segment);
      discoverVlteSegment(segment);
    }
  }
}

void discoverVlteSegment(uint8_t segment) {
  std::string name;
  if (!readCardName(segment, name)) {
    // The SMBIOS table names a switch card here: one that does not answer is left out, and with
    // it whatever it would have shown.
    char text[160];
    std::snprintf(text, sizeof text,
                  "Switch card (segment %d): its name could not be read; it and its backplanes "
                  "were not checked",
                  segment);
    note(text);
    discoveryState().incomplete = true;
    return;
  }
  logMessage(LOG_VERBOSE, "discover vlte: %d:%s\n", segment, name.c_str());
  if (name != VLTE_CARD_NAME) return;

  // Cards are numbered in the order they are found, whatever became of the devices before them (a
  // card may be listed with fewer than three backplanes, or left out of the list).
  const int idx = discoveryState().cardsFound++;
  VlteObj *card = new VlteObj();
  card->setSegmentIdx(segment);
  card->setIdx(idx);
  char objectName[32];
  std::snprintf(objectName, sizeof objectName, "Controller card %d", idx + 1);
  card->setObjectName(objectName);
  card->setProductName(name);
  std::string failedRead;
  const std::string version = readVlteVersion(segment, false, &failedRead);
  if (version == kVersionUnknown) {
    card->setVersionUnknown(failedRead);
  } else {
    card->setVersion(version);
  }
  logMessage(LOG_VERBOSE, "FOUND Velto-E: %s idxSeg:%d version: %s\n", name.c_str(), segment,
             card->getVersion().c_str());
  if (card->getVersionUnknown()) {
    logMessage(LOG_VERBOSE, "%s (segment %d): version unknown: %s did not answer\n", objectName,
               segment, failedRead.c_str());
  }
  addDevice(card);

  for (int b = 0; b < kBackplanesPerCard; ++b) {
    BackplaneRead read = readBackplane(b, segment, false);
    if (read.presence == BackplaneRead::Undetermined) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "Controller card %d (segment %d): whether a backplane is on port %d could not "
                    "be told (%s failed); it was not checked",
                    idx + 1, segment, b, read.failed.c_str());
      note(text);
      discoveryState().incomplete = true;
      continue;
    }
    if (read.presence != BackplaneRead::Present) continue;
    VltiObj *backplane = new VltiObj();
    backplane->setIdx(b);
    backplane->setCardIdx(idx);
    backplane->setSegmentIdx(segment);
    std::snprintf(objectName, sizeof objectName, "Backplane %d", b + 1);
    backplane->setObjectName(objectName);
    backplane->setProductName(read.productName);
    if (read.productName.empty() && !read.nameFailed.empty()) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "Backplane %d of controller card %d (segment %d, port %d): its name could not "
                    "be read (%s); it was not checked",
                    b + 1, idx + 1, segment, b, read.nameFailed.c_str());
      note(text);
      discoveryState().incomplete =
          true;  // left out by the key-file check: its version is not known either
    }
    if (read.version == kVersionUnknown) {
      backplane->setVersionUnknown(read.versionFailed);
      logMessage(LOG_VERBOSE,
                 "Backplane %d (segment %d, port %d): version unknown: %s did not answer\n", b + 1,
                 segment, b, read.versionFailed.c_str());
    } else {
      backplane->setVersion(read.version);
    }
    addDevice(backplane);
  }
}

std::string readVlteVersion(uint8_t segment, bool locked, std::string *failedRead) {
  std::string failed;
  for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
    uint8_t major = 0, minor = 0;
    if (setHandshake(segment, kAddrSwitchCtrl, 0, locked) != 0) {
      failed = "the release of the card's backplane-bus handshake before its version read";
    } else if (readRegister(segment, kAddrSwitchCtrl, kRegVersionMajor, &major, 1, locked) != 0) {
      failed = "the card's version register 0x51 at 0xEC";
    } else if (readRegister(segment, kAddrSwitchCtrl, kRegVersionMinor, &minor, 1, locked) != 0) {
      failed = "the card's version register 0x50 at 0xEC";
    } else {
      return versionText(major, minor);
    }
    logMessage(LOG_VERBOSE, "card version read on segment %d failed: %s (attempt %d of %d)\n",
               segment, failed.c_str(), attempt, kReadAttempts);
  }
  if (failedRead) *failedRead = failed;
  return kVersionUnknown;
}

BackplaneRead readBackplane(int backplane, uint8_t segment, bool locked) {
  BackplaneRead out;
  out.version = kVersionUnknown;
  BackplaneProgress progress;
  // An empty port does not answer: "absent" is concluded only after kReadAttempts attempts that
  // reached the port (handshake and port selection acknowledged) found no name record there, so
  // that one failed answer, wherever it falls, never hides a backplane. Attempts that failed
  // before reaching the port count towards kReadAttempts of their own: after that many, whether a
  // backplane is there is undetermined.
  int reached = 0, busFailures = 0;
  std::string failed;
  for (int attempt = 1;; ++attempt) {
    bool busFailed = false;
    failed = backplaneAttempt(backplane, segment, locked, progress, out, &busFailed);
    busFailed ? ++busFailures : ++reached;
    if (failed.empty()) break;
    if (progress.presenceKnown && !progress.present) break;
    if (reached >= kReadAttempts || busFailures >= kReadAttempts) break;
    logMessage(LOG_VERBOSE, "backplane %d on segment %d: %s failed; trying again (attempt %d)\n",
               backplane, segment, failed.c_str(), attempt + 1);
  }
  logMessage(LOG_VERBOSE, "VeltoI value at 11h : %d Product length: %d\n", progress.lengthByte,
             progress.lengthByte - kVltiLengthBase);
  if (progress.presenceKnown) {
    out.presence = progress.present ? BackplaneRead::Present : BackplaneRead::Absent;
  } else {
    out.presence = reached >= kReadAttempts ? BackplaneRead::Absent : BackplaneRead::Undetermined;
  }
  if (out.presence == BackplaneRead::Undetermined) out.failed = failed;
  if (out.presence == BackplaneRead::Present) {
    if (progress.haveVersion) out.versionFailed.clear();
    if (progress.haveName) out.nameFailed.clear();
  } else {
    out.productName.clear();
    out.versionFailed.clear();
    out.nameFailed.clear();
  }
  return out;
}

bool readVltiInfo(int backplane, uint8_t segment, std::string &productName, std::string &version,
                  bool locked) {
  BackplaneRead read = readBackplane(backplane, segment, locked);
  const bool present = read.presence == BackplaneRead::Present;
  productName = present ? read.productName : "";
  version = present ? read.version : "";
  return present;
}
