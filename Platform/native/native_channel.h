// The channel library found and loaded with the dynamic loader (channel_binding.h binds its
// functions).
#pragma once

#include "channel_binding.h"

namespace tal::os::native {

class NativeChannelLibrary : public detail::ChannelBinding {
 public:
  NativeChannelLibrary() = default;
  ~NativeChannelLibrary() override;

 protected:
  // Loads "libTalCi.so" with the dynamic loader's own search (LD_LIBRARY_PATH, the run paths,
  // the system's folders; never the current folder unless LD_LIBRARY_PATH names it). Records
  // where it was loaded from (the loader's own record of the file), or where it was looked for.
  bool open(ChannelLibrarySearch &search) override;
  Address lookUp(const char *name) override;

 private:
  void *library_ = nullptr;
};

}  // namespace tal::os::native
