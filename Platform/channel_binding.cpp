#include "channel_binding.h"

namespace tal::os::detail {

namespace {

constexpr uint32_t kFailed = 0xFFFFFFFF;

}  // namespace

bool ChannelBinding::load() {
  if (!loadTried_) {
    loadTried_ = true;
    loaded_ = open(search_);
  }
  return loaded_;
}

template <typename Fn>
Fn ChannelBinding::bind(ChannelFunction which) {
  if (!tried_[which]) {
    tried_[which] = true;
    if (load()) functions_[which] = lookUp(kChannelFunctionNames[which]);
  }
  return reinterpret_cast<Fn>(functions_[which]);
}

uint32_t ChannelBinding::initialize(uintptr_t arg) {
  auto fn = bind<InitializeFn>(kInitialize);
  return fn ? fn(arg) : kFailed;
}

uint32_t ChannelBinding::create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                                uint32_t recvCount, uint32_t recvSize, uint32_t flags,
                                void *reserved) {
  auto fn = bind<CreateFn>(kCreate);
  return fn ? fn(arg, handle, sendCount, sendSize, recvCount, recvSize, flags, reserved) : kFailed;
}

uint32_t ChannelBinding::send(void *handle, void *packet, uint32_t length, uint32_t *status,
                              uintptr_t reserved) {
  if (auto fn = bind<SendFn>(kSend)) return fn(handle, packet, length, status, reserved);
  if (status) *status = kFailed;
  return kFailed;
}

uint32_t ChannelBinding::recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                              uint32_t *wait) {
  if (auto fn = bind<RecvFn>(kRecv)) return fn(handle, buffer, capacity, status, wait);
  if (status) *status = kFailed;
  return 0;
}

uint32_t ChannelBinding::close(void *handle) {
  auto fn = bind<CloseFn>(kClose);
  return fn ? fn(handle) : kFailed;
}

const char *ChannelBinding::statusMessage(uint32_t status) {
  auto fn = bind<StatusMessageFn>(kStatusMessage);
  return fn ? fn(status) : nullptr;
}

}  // namespace tal::os::detail
