// The one channel to the management processor, over the channel library, and the exchange of
// packets on it: one request sent (send retries on the transient status), one matching response
// received (receive retries on "nothing yet" and on other sequence numbers).
#pragma once

#include <cstdint>

// Packet header, little-endian: LEN (whole packet), SEQ, CMD, reserved.
constexpr uint32_t kPacketHeaderSize = 8;
constexpr uint32_t kMinResponseSize = 12;  // header and the 32-bit error code

// Status values the transport gives meaning to.
enum ChannelStatus : uint32_t {
  CHANNEL_OK = 0,
  CHANNEL_SEND_AGAIN = 20,      // TalCiSend: transient, wait 50 ms and send again
  CHANNEL_NOTHING_YET = 21,     // TalCiRecv: nothing received yet
  CHANNEL_RUNT = 22,            // response shorter than its own LEN
  CHANNEL_INVALID_ARG = 39,     // no request, LEN below 8, no response buffer or one under 12
  CHANNEL_RETRIES_USED_UP = 42  // receive retries used up
};

bool openChannel();
uint32_t initChannelInterface(uintptr_t arg);
uint32_t createChannel();
void closeChannel();
uint32_t sendPacket(void *request);
uint32_t exchangePacket(void *request, void *response, uint32_t capacity);

// Little-endian field access on packet buffers.
inline uint16_t getU16(const void *p, unsigned off) {
  const uint8_t *b = static_cast<const uint8_t *>(p) + off;
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t getU32(const void *p, unsigned off) {
  const uint8_t *b = static_cast<const uint8_t *>(p) + off;
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline void putU16(void *p, unsigned off, uint16_t v) {
  uint8_t *b = static_cast<uint8_t *>(p) + off;
  b[0] = static_cast<uint8_t>(v);
  b[1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(void *p, unsigned off, uint32_t v) {
  uint8_t *b = static_cast<uint8_t *>(p) + off;
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
