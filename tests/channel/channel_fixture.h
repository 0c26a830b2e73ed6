// A channel test: the simulated server (server_fixture.h), its channel opened on demand.
#pragma once

#include "server_fixture.h"

class ChannelTest : public testserver::ServerTest {
 protected:
  // Opens the channel and forgets the sleeps and log lines that took.
  void open() {
    ASSERT_TRUE(openChannel());
    fake.sleeps.clear();
    clearLog();
  }
};

// A request of the given LEN and CMD in a buffer of `size` bytes.
template <size_t N>
struct Request {
  uint8_t b[N] = {};
  explicit Request(uint16_t len = static_cast<uint16_t>(N), uint16_t cmd = 0x0002) {
    putU16(b, 0, len);
    putU16(b, 4, cmd);
  }
};
