// The channel library played in-process over a simulated management processor. Tests hand it to
// tal::os::FakePlatform (fake.channel = &simChannel); the channel library build (lib/talci.cpp)
// exports it as the six C functions.
//
// Each send stamps the channel's own sequence number into the request's SEQ field (as a real
// library may), lets the machine answer it, and queues the response; each receive delivers the
// oldest queued response. The fault switches of the machine's Faults that belong to a channel
// library are played here.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/machine.h"
#include "tal/platform.h"

namespace sim {

// Library statuses (besides 0 and the transport's 20, 21, 22).
enum LibraryStatus : uint32_t {
  kStatusBadParameter = 2,
  kStatusNotInitialized = 3,
  kStatusBadHandle = 4,
  kStatusNoDescription = 5,  // the machine description could not be read (library build)
  kStatusIoError = 23,
};

class SimChannel : public tal::os::ChannelLibrary {
 public:
  static constexpr uint32_t kMaxPacket = 4096;
  static constexpr int kQueueSlots = 4;

  explicit SimChannel(Machine &machine);

  uint32_t initialize(uintptr_t arg) override;
  uint32_t create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                  uint32_t recvCount, uint32_t recvSize, uint32_t flags, void *reserved) override;
  uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                uintptr_t reserved) override;
  uint32_t recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                uint32_t *wait) override;
  uint32_t close(void *handle) override;
  const char *statusMessage(uint32_t status) override;

  Machine &machine() { return machine_; }
  bool isOpen() const { return open_; }
  int pending() const { return count_; }

  // What the engine did, for tests.
  int initializeCalls = 0, createCalls = 0, sendCalls = 0, recvCalls = 0, closeCalls = 0;
  uintptr_t initializeArg = 0;
  uint64_t initializeAtMs = 0;  // the platform's monotonic clock at TalCiInitialize
  struct CreateArgs {
    uintptr_t arg = 0;
    uint32_t sendCount = 0, sendSize = 0, recvCount = 0, recvSize = 0, flags = 0;
    void *reserved = nullptr;
  } lastCreate;
  uint32_t lastWait = 0;          // wait value handed to the last receive
  std::vector<uint8_t> lastSent;  // the last packet accepted, as stamped
  uint16_t nextSeq = 1;           // sequence number stamped into the next request

  // Tests and fuzzers: rewrites each response (bytes and length, up to kMaxPacket) just before
  // a receive delivers it.
  std::function<void(uint8_t *bytes, uint32_t &length)> tamper;

 private:
  struct Slot {
    uint8_t bytes[kMaxPacket];
    uint32_t length;
  };
  Machine &machine_;
  bool initialized_ = false;
  bool open_ = false;
  Slot queue_[kQueueSlots];
  int head_ = 0, count_ = 0, limit_ = 2;
  Slot work_;
};

}  // namespace sim
