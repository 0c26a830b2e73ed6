// Arbitrary response bytes through exchangePacket and each SMIF command's response checks: the
// in-process channel library answers every request with the fuzzer's bytes. Besides crashes, the
// outcomes are checked: no success from a response whose LEN is under 12, longer than what
// arrived, or whose error code is not 0; no success of an I2C read whose returned read length is
// not the one asked for; and on failure the caller's buffers are left as they were.
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
#include "sim_server.h"

namespace {

// No log folder under the scratch drive: the engine log stays closed (one notice).
struct Rig : testserver::SimServer {
  const uint8_t *bytes = nullptr;
  size_t size = 0;
  uint8_t flags = 0;
  // The last response delivered, as delivered.
  uint8_t last[sim::SimChannel::kMaxPacket];
  uint32_t lastLength = 0;
  int deliveries = 0;  // receives that delivered a response, this input

  Rig() {
    channel.tamper = [this](uint8_t *response, uint32_t &length) {
      const uint16_t seq = static_cast<uint16_t>(response[2] | (response[3] << 8));
      const size_t n = size < sim::SimChannel::kMaxPacket ? size : sim::SimChannel::kMaxPacket;
      if (n > 0) std::memcpy(response, bytes, n);
      length = static_cast<uint32_t>(n);
      if ((flags & 1) && n >= 4) putU16(response, 2, seq);
      if ((flags & 4) && n >= 2) putU16(response, 0, static_cast<uint16_t>(n));
      // Past what arrived, the commands' buffers hold the zeros they were filled with.
      std::memcpy(last, response, n);
      std::memset(last + n, 0, sizeof last - n);
      lastLength = length;
      ++deliveries;
    };
    openChannel();
  }
};

Rig &rig() {
  static Rig *r = new Rig;
  return *r;
}

// A success must rest on a whole response: LEN covers the header and the error code, all of LEN
// arrived (within the buffer), and the error code is 0.
// What the transport was told arrived: the bytes delivered, or, when the library over-reports (its
// first receive, with flag bit 1), the whole buffer; a library's false count cannot be seen.
uint32_t claimed(const Rig &r, uint32_t capacity) {
  if ((r.flags & 2) && r.deliveries == 1) return capacity;
  return r.lastLength < capacity ? r.lastLength : capacity;
}

void checkSuccess(const Rig &r, uint32_t capacity) {
  const uint32_t got = claimed(r, capacity);
  if (got < 12) __builtin_trap();
  const uint16_t len = getU16(r.last, 0);
  if (len < 12 || len > got) __builtin_trap();
  if (getU32(r.last, 8) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  Rig &r = rig();
  r.bytes = data + 3;
  r.size = size - 3;
  r.flags = data[2];
  r.lastLength = 0;
  r.deliveries = 0;
  r.machine.faults.overReport = (data[2] & 2) ? 1 : 0;
  r.fake.sleeps.clear();

  const uint8_t param = data[1];
  switch (data[0] % 7) {
    case 0: {
      uint8_t app = 0xA5, major = 0xA5, minor = 0xA5;
      if (getOstStatus(&app, &major, &minor)) {
        checkSuccess(r, kSmifStatusResponseCap);
        if (getU16(r.last, 0) < 72) __builtin_trap();  // the version bytes lie inside LEN
        if (major != r.last[17] || minor != r.last[16] || app != r.last[71]) __builtin_trap();
      } else if (app != 0xA5 || major != 0xA5 || minor != 0xA5) {
        __builtin_trap();
      }
      break;
    }
    case 1:
      // The lock state is the field as it stands, also after a failed exchange; it can only be
      // set by bytes that arrived, inside the response's own LEN.
      if (check_i2c_locked(2, 0x40) && (r.lastLength < 13 || getU16(r.last, 0) < 16)) {
        __builtin_trap();
      }
      break;
    case 2:
      if (setI2cAccess(2, 0x40, (param & 1) != 0, kAccessValue) == 0) {
        checkSuccess(r, kSmifRequestResponseCap);
      }
      break;
    case 3: {
      uint8_t buffer[kI2cMaxData];
      std::memset(buffer, 0xA5, sizeof buffer);
      const uint8_t offset[2] = {0x00, 0x12};
      const uint32_t rl = param % (kI2cMaxData + 1);
      if (I2CTransaction(1, kAddrFru, offset, 2, buffer, rl, (param & 0x80)) == 0) {
        checkSuccess(r, kSmifI2cResponseCap);
        if (rl > 0 && (r.last[24] != rl || std::memcmp(buffer, r.last + 25, rl) != 0)) {
          __builtin_trap();
        }
      } else {
        for (uint8_t b : buffer) {
          if (b != 0xA5) __builtin_trap();  // a failed read leaves the buffer alone
        }
      }
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
      if (exchangePacket(request, response, param) == 0) {
        const uint32_t got = claimed(r, param);
        const uint16_t len = getU16(r.last, 0);
        if (got < 12 || len < 12 || len > got) __builtin_trap();
      }
      break;
    }
  }
  return 0;
}
