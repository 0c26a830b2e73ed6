// The firmware image file format: a header of single bytes and byte strings, then the payload up
// to the end of the file. Header-only so that the package-author tool (Tools/fwimage) and the
// fuzz target share it with the engine.
//
//   0      headerLen: length of the header; the payload starts there. 0 and 255: no header.
//   1      headerVer
//   2      device type code (deviceTypeName)
//   3, 4   firmware major and minor revision
//   5..15  not read
//   16     chip code (chipName)
//   17     not read
//   18     length of the ISP text (above 21 counts as 21)
//   19..39 ISP text: the chip's part number, ended early by a zero byte
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fwimg {

constexpr size_t kHeaderSize = 40;
constexpr size_t kOffHeaderLen = 0, kOffHeaderVer = 1, kOffDeviceType = 2, kOffMajor = 3,
                 kOffMinor = 4, kOffChip = 16, kOffIspLen = 18, kOffIsp = 19;
constexpr size_t kIspMax = 21;

// Device type codes (byte 2): the families the engine flashes, and codes kept for others.
enum TypeCode : int {
  kTypeVeltoE = 1,  // a controller card's Velto-E controller
  kTypeVeltoI = 2,  // a backplane's Velto-I CPLD
  kTypeOru = 3,
  kTypeMarvet = 4,
  kTypePobo = 5,
  kTypeTbd = 6,
};

// Chip codes (byte 16).
enum ChipCode : int {
  kChipCardController = 1,   // EP4CGX15BF14C6N, the Velto-E controller
  kChipBackplaneCpld = 2,    // LCMXO2-4000HC-4MG132C, the Velto-I CPLD
  kChipMicrocontroller = 3,  // ATSAMD20J18A
};

inline const char *deviceTypeText(int code) {
  switch (code) {
    case kTypeVeltoE:
      return "VeltoE";
    case kTypeVeltoI:
      return "VeltoI";
    case kTypeOru:
      return "TBD-Oru";
    case kTypeMarvet:
      return "TBD-Marvet";
    case kTypePobo:
      return "TBD-Pobo";
    case kTypeTbd:
      return "TBD";
    default:
      return "Invalid";
  }
}

inline const char *chipText(int code) {
  switch (code) {
    case kChipCardController:
      return "EP4CGX15BF14C6N";
    case kChipBackplaneCpld:
      return "LCMXO2-4000HC-4MG132C";
    case kChipMicrocontroller:
      return "ATSAMD20J18A";
    default:
      return "Invalid";
  }
}

// The chip a device type's flash procedure programs: a Velto-E image is for the card's controller,
// a Velto-I image for the backplane's CPLD. 0: the type has no procedure of its own.
inline int familyChip(int type) {
  return type == kTypeVeltoE ? kChipCardController : type == kTypeVeltoI ? kChipBackplaneCpld : 0;
}

// The most payload a Velto-I backplane holds: its CPLD's configuration flash and user flash
// (5,760 and 767 pages of 16 bytes).
constexpr size_t kVeltoIPayloadMax = (5760 + 767) * 16;

// The decoded header fields (the names as the engine keeps them).
struct Header {
  int headerLen = 0;
  int headerVer = 0;
  std::string strFwName;
  std::string strFwRev;
  std::string strDeviceId;
  std::string strIsp;
};

enum class Decode {
  kOk,         // all fields filled
  kNoHeader,   // byte 0 is 0 or 255: only headerLen filled
  kTruncated,  // fewer than kHeaderSize bytes, or headerLen beyond the file: only headerLen
  kEmpty,      // not even byte 0: nothing filled
};

// Decodes the first bytes of a file of fileSize bytes (avail of them given in bytes, at most
// kHeaderSize needed). Never reads past avail.
inline Decode decodeHeader(const uint8_t *bytes, size_t avail, uint64_t fileSize, Header &out) {
  out = Header{};
  if (avail == 0 || fileSize == 0) return Decode::kEmpty;
  out.headerLen = bytes[kOffHeaderLen];
  if (out.headerLen == 0 || out.headerLen == 255) return Decode::kNoHeader;
  if (avail < kHeaderSize || fileSize < kHeaderSize ||
      static_cast<uint64_t>(out.headerLen) > fileSize) {
    return Decode::kTruncated;
  }
  out.headerVer = bytes[kOffHeaderVer];
  out.strFwName = deviceTypeText(bytes[kOffDeviceType]);
  char rev[16];
  std::snprintf(rev, sizeof rev, "%d.%d", bytes[kOffMajor], bytes[kOffMinor]);
  out.strFwRev = rev;
  out.strDeviceId = chipText(bytes[kOffChip]);
  size_t ispLen = bytes[kOffIspLen];
  if (ispLen > kIspMax) ispLen = kIspMax;
  for (size_t i = 0; i < ispLen && bytes[kOffIsp + i] != 0; ++i) {
    out.strIsp.push_back(static_cast<char>(bytes[kOffIsp + i]));
  }
  return Decode::kOk;
}

// Builds a 40-byte header (headerLen 40) for a payload: device type code, revision, chip code and
// its ISP text (at most 21 bytes; longer texts are cut).
inline void encodeHeader(uint8_t out[kHeaderSize], int headerVer, int deviceType, int major,
                         int minor, int chip, const std::string &isp) {
  for (size_t i = 0; i < kHeaderSize; ++i) out[i] = 0;
  out[kOffHeaderLen] = static_cast<uint8_t>(kHeaderSize);
  out[kOffHeaderVer] = static_cast<uint8_t>(headerVer);
  out[kOffDeviceType] = static_cast<uint8_t>(deviceType);
  out[kOffMajor] = static_cast<uint8_t>(major);
  out[kOffMinor] = static_cast<uint8_t>(minor);
  out[kOffChip] = static_cast<uint8_t>(chip);
  size_t n = isp.size() < kIspMax ? isp.size() : kIspMax;
  out[kOffIspLen] = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; ++i) out[kOffIsp + i] = static_cast<uint8_t>(isp[i]);
}

}  // namespace fwimg
