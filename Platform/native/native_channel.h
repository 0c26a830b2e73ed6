// The channel library bound with dlopen/dlsym, each function on its first call.
#pragma once

#include "backend.h"

namespace tal::os::native {

class NativeChannelLibrary : public ChannelLibrary {
 public:
  NativeChannelLibrary() = default;
  ~NativeChannelLibrary() override;
  NativeChannelLibrary(const NativeChannelLibrary &) = delete;
  NativeChannelLibrary &operator=(const NativeChannelLibrary &) = delete;

  uint32_t initialize(uintptr_t arg) override;
  uint32_t create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                  uint32_t recvCount, uint32_t recvSize, uint32_t flags, void *reserved) override;
  uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                uintptr_t reserved) override;
  uint32_t recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                uint32_t *wait) override;
  uint32_t close(void *handle) override;
  const char *statusMessage(uint32_t status) override;

  // Loads "libTalCi.so" with the dynamic loader's own search (LD_LIBRARY_PATH, the run paths,
  // the system's folders; never the current folder unless LD_LIBRARY_PATH names it), once; true
  // when loaded. The library stays loaded for the functions.
  bool load();
  // Where the library was loaded from (the loader's own record of the file), or where it was
  // looked for.
  const ChannelLibrarySearch &search() const { return search_; }

 private:
  using Function = detail::ChannelFunction;
  static constexpr int kCount = detail::kChannelCount;
  // The address of one function, looked up once (null when the library or the name is missing).
  void *bind(Function which);

  ChannelLibrarySearch search_;
  void *library_ = nullptr;
  bool loadTried_ = false;
  void *functions_[kCount] = {};
  bool tried_[kCount] = {};
};

}  // namespace tal::os::native
