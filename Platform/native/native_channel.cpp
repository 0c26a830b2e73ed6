#include "native_channel.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <string>

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

bool NativeChannelLibrary::load() {
  if (loadTried_) return library_ != nullptr;
  loadTried_ = true;
  Platform &host = detail::builtinPlatform();
  library_ = dlopen("libTalCi.so", RTLD_NOW | RTLD_LOCAL);
  if (library_) {
    struct link_map *map = nullptr;
    if (dlinfo(library_, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
      search_.loaded = host.fromAnsi(map->l_name);
    else
      search_.loaded = L"libTalCi.so";
    search_.hasVersion = host.fileVersion(search_.loaded, search_.version);
    return true;
  }
  if (const char *error = dlerror()) search_.failure = host.fromAnsi(error);
  // Where the loader looked: the LD_LIBRARY_PATH folders, then its cache and system folders.
  const char *paths = std::getenv("LD_LIBRARY_PATH");
  std::string list = paths ? paths : "";
  size_t start = 0;
  while (start <= list.size() && !list.empty()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    // The loader takes an empty entry for the current folder.
    search_.lookedIn.push_back(end > start ? host.fromAnsi(list.substr(start, end - start))
                                           : std::wstring(L"the current folder (an empty entry "
                                                          L"of LD_LIBRARY_PATH)"));
    start = end + 1;
  }
  search_.lookedIn.push_back(L"the system's library folders");
  return false;
}

void *NativeChannelLibrary::bind(Function which) {
  if (!tried_[which]) {
    tried_[which] = true;
    if (load()) functions_[which] = dlsym(library_, detail::kChannelFunctionNames[which]);
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
