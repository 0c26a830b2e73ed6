// Arbitrary response bytes through exchangePacket and each SMIF command's response checks: the
// in-process channel library answers every request with the fuzzer's bytes.
//
// Input: byte 0 picks the command, byte 1 its parameter (read length, capacity), byte 2 holds
// flags (bit 0: give the response the request's sequence number, bit 1: the receive claims more
// than the buffer holds, bit 2: set LEN to the bytes given), the rest is the response.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "channel/smif.h"
#include "channel/transport.h"
#include "fake_platform.h"
#include "log.h"
#include "sim/machine.h"
#include "sim/simchannel.h"

namespace {

struct Rig {
  // No log folder under the scratch drive: the engine log stays closed (one notice).
  tal::os::ScratchDir scratch;
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel lib{machine};
  const uint8_t *bytes = nullptr;
  size_t size = 0;
  uint8_t flags = 0;

  Rig() {
    fake.channel = &lib;
    lib.tamper = [this](uint8_t *response, uint32_t &length) {
      const uint16_t seq = static_cast<uint16_t>(response[2] | (response[3] << 8));
      const size_t n = size < sim::SimChannel::kMaxPacket ? size : sim::SimChannel::kMaxPacket;
      if (n > 0) std::memcpy(response, bytes, n);
      length = static_cast<uint32_t>(n);
      if ((flags & 1) && n >= 4) putU16(response, 2, seq);
      if ((flags & 4) && n >= 2) putU16(response, 0, static_cast<uint16_t>(n));
    };
    openChannel();
  }
};

Rig &rig() {
  static Rig *r = new Rig;
  return *r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  Rig &r = rig();
  r.bytes = data + 3;
  r.size = size - 3;
  r.flags = data[2];
  r.machine.faults.overReport = (data[2] & 2) ? 1 : 0;
  r.fake.sleeps.clear();

  const uint8_t param = data[1];
  switch (data[0] % 7) {
    case 0: {
      uint8_t app = 0, major = 0, minor = 0;
      getOstStatus(&app, &major, &minor);
      break;
    }
    case 1:
      check_i2c_locked(2, 0x40);
      break;
    case 2:
      setI2cAccess(2, 0x40, (param & 1) != 0, kAccessValue);
      break;
    case 3: {
      uint8_t buffer[kI2cMaxData];
      const uint8_t offset[2] = {0x00, 0x12};
      I2CTransaction(1, kAddrFru, offset, 2, buffer, param % (kI2cMaxData + 1), (param & 0x80));
      break;
    }
    case 4:
      lockDeviceAccess(2, 0x40, kAccessValue);
      break;
    case 5:
      unlockDeviceAccess(2, 0x40, kAccessValue);
      break;
    default: {
      // The transport alone, with a response buffer of any capacity up to 255 bytes.
      uint8_t request[8] = {8, 0, 0, 0, 2, 0, 0, 0};
      uint8_t response[255];
      exchangePacket(request, response, param);
      break;
    }
  }
  return 0;
}
