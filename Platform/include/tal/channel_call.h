// A channel library that answers its six calls in one place. Each call reaches call() as a
// ChannelCall naming the function and holding its arguments, so what a library does alike for
// every call is written once: the lazy binding (look the function up, call it), the capture
// recorder (pass the call on, write it down), the replay (find the recorded call), the library of
// a test that chose none (fail every call). The simulated channel, whose six calls each do
// something of their own, implements ChannelLibrary directly.
#pragma once

#include <cstdint>

#include "tal/platform.h"

namespace tal::os {

// The channel library's functions, in the order of their exported names.
enum ChannelFunction { kInitialize, kCreate, kSend, kRecv, kClose, kStatusMessage, kChannelCount };

// The status (and the result, but for recv's count of 0) of a function the library lacks.
constexpr uint32_t kChannelCallFailed = 0xFFFFFFFF;

// One call: the function, and the arguments of that function in the order of its C signature.
struct ChannelCall {
  explicit ChannelCall(ChannelFunction f) : function(f) {}

  ChannelFunction function;
  struct Initialize {
    uintptr_t arg;
  } initialize{};
  struct Create {
    uintptr_t arg;
    void **handle;
    uint32_t sendCount, sendSize, recvCount, recvSize, flags;
    void *reserved;
  } create{};
  struct Send {
    void *handle, *packet;
    uint32_t length, *status;
    uintptr_t reserved;
  } send{};
  struct Recv {
    void *handle, *buffer;
    uint32_t capacity, *status, *wait;
  } recv{};
  struct Close {
    void *handle;
  } close{};
  struct StatusMessage {
    uint32_t status;
    const char *text;  // the answer
  } statusMessage{};
};

class ChannelCallLibrary : public ChannelLibrary {
 public:
  uint32_t initialize(uintptr_t arg) final;
  uint32_t create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                  uint32_t recvCount, uint32_t recvSize, uint32_t flags, void *reserved) final;
  uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                uintptr_t reserved) final;
  uint32_t recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                uint32_t *wait) final;
  uint32_t close(void *handle) final;
  const char *statusMessage(uint32_t status) final;

 protected:
  // Answers one call with the function's result (statusMessage: its text in
  // c.statusMessage.text; the result is not used).
  virtual uint32_t call(ChannelCall &c) = 0;

  // A call refused with `status`: send and recv report it in their status too, recv receives 0,
  // statusMessage has no text.
  static uint32_t failed(ChannelCall &c, uint32_t status);
  // The answer of a function the library lacks.
  static uint32_t missing(ChannelCall &c) { return failed(c, kChannelCallFailed); }
  // Makes the call through the member of that name of `functions`: another library's function,
  // or a pointer to the C function of a loaded library.
  template <typename Functions>
  static uint32_t callThrough(Functions &functions, ChannelCall &c);
};

template <typename Functions>
uint32_t ChannelCallLibrary::callThrough(Functions &functions, ChannelCall &c) {
  switch (c.function) {
    case kInitialize:
      return functions.initialize(c.initialize.arg);
    case kCreate: {
      const auto &a = c.create;
      return functions.create(a.arg, a.handle, a.sendCount, a.sendSize, a.recvCount, a.recvSize,
                              a.flags, a.reserved);
    }
    case kSend: {
      const auto &a = c.send;
      return functions.send(a.handle, a.packet, a.length, a.status, a.reserved);
    }
    case kRecv: {
      const auto &a = c.recv;
      return functions.recv(a.handle, a.buffer, a.capacity, a.status, a.wait);
    }
    case kClose:
      return functions.close(c.close.handle);
    case kStatusMessage:
      c.statusMessage.text = functions.statusMessage(c.statusMessage.status);
      return 0;
    case kChannelCount:
      break;
  }
  return missing(c);
}

}  // namespace tal::os
