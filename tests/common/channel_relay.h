// A channel library that hands every call to another one: the base of the tests' channel
// libraries that watch or change one call (a fault at a chosen request, a look at a file when
// the channel opens) and leave the others to the simulator's.
#pragma once

#include <cstdint>

#include "tal/platform.h"

namespace testserver {

class ChannelRelay : public tal::os::ChannelLibrary {
 public:
  explicit ChannelRelay(tal::os::ChannelLibrary &inner) : inner_(inner) {}

  uint32_t initialize(uintptr_t arg) override { return inner_.initialize(arg); }
  uint32_t create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                  uint32_t recvCount, uint32_t recvSize, uint32_t flags, void *reserved) override {
    return inner_.create(arg, handle, sendCount, sendSize, recvCount, recvSize, flags, reserved);
  }
  uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                uintptr_t reserved) override {
    return inner_.send(handle, packet, length, status, reserved);
  }
  uint32_t recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                uint32_t *wait) override {
    return inner_.recv(handle, buffer, capacity, status, wait);
  }
  uint32_t close(void *handle) override { return inner_.close(handle); }
  const char *statusMessage(uint32_t status) override { return inner_.statusMessage(status); }

 private:
  tal::os::ChannelLibrary &inner_;
};

}  // namespace testserver
