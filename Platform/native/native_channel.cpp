#include "native_channel.h"

#include <dlfcn.h>

namespace tal::os::native {

namespace {

constexpr uint32_t kFailed = 0xFFFFFFFF;

using detail::CloseFn;
using detail::CreateFn;
using detail::InitializeFn;
using detail::kClose;
using detail::kCreate;
using detail::kInitialize;
using detail::kRecv;
using detail::kSend;
using detail::kStatusMessage;
using detail::RecvFn;
using detail::SendFn;
using detail::StatusMessageFn;

template <typename Fn>
Fn as(void *address) {
  return reinterpret_cast<Fn>(address);
}

}  // namespace

NativeChannelLibrary::~NativeChannelLibrary() {
  if (library_) dlclose(library_);
}

void *NativeChannelLibrary::bind(Function which) {
  if (!tried_[which]) {
    tried_[which] = true;
    if (!loadTried_) {
      loadTried_ = true;
      library_ = dlopen("libTalCi.so", RTLD_NOW | RTLD_LOCAL);
    }
    if (library_) functions_[which] = dlsym(library_, detail::kChannelFunctionNames[which]);
  }
  return functions_[which];
}

uint32_t NativeChannelLibrary::initialize(uintptr_t arg) {
  void *fn = bind(kInitialize);
  return fn ? as<InitializeFn>(fn)(arg) : kFailed;
}

uint32_t NativeChannelLibrary::create(uintptr_t arg, void **handle, uint32_t sendCount,
                                      uint32_t sendSize, uint32_t recvCount, uint32_t recvSize,
                                      uint32_t flags, void *reserved) {
  void *fn = bind(kCreate);
  return fn ? as<CreateFn>(fn)(arg, handle, sendCount, sendSize, recvCount, recvSize, flags,
                               reserved)
            : kFailed;
}

uint32_t NativeChannelLibrary::send(void *handle, void *packet, uint32_t length, uint32_t *status,
                                    uintptr_t reserved) {
  void *fn = bind(kSend);
  if (fn) return as<SendFn>(fn)(handle, packet, length, status, reserved);
  if (status) *status = kFailed;
  return kFailed;
}

uint32_t NativeChannelLibrary::recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                                    uint32_t *wait) {
  void *fn = bind(kRecv);
  if (fn) return as<RecvFn>(fn)(handle, buffer, capacity, status, wait);
  if (status) *status = kFailed;
  return 0;
}

uint32_t NativeChannelLibrary::close(void *handle) {
  void *fn = bind(kClose);
  return fn ? as<CloseFn>(fn)(handle) : kFailed;
}

const char *NativeChannelLibrary::statusMessage(uint32_t status) {
  void *fn = bind(kStatusMessage);
  return fn ? as<StatusMessageFn>(fn)(status) : nullptr;
}

}  // namespace tal::os::native
