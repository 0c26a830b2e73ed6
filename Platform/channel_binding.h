// Inside the platform library: the channel library bound lazily, the same in both backends. The
// library is loaded on the first call of any of its functions and each function is looked up on
// its own first call; a function that cannot be had answers as a failed call. A backend says only
// how it finds and loads the library and how it looks a name up in it.
#pragma once

#include "backend.h"

namespace tal::os::detail {

class ChannelBinding : public ChannelCallLibrary {
 public:
  ChannelBinding() = default;
  ChannelBinding(const ChannelBinding &) = delete;
  ChannelBinding &operator=(const ChannelBinding &) = delete;

  // Finds and loads the library, once; true when loaded. It stays loaded for the functions.
  bool load();
  // Where the library was loaded from, or where it was looked for and what was passed over.
  const ChannelLibrarySearch &search() const { return search_; }

 protected:
  // Any function's address: void(*)() is the one function-pointer type every other converts to
  // and from without warning.
  using Address = void (*)();

  // The backend's own search: loads the library, recording in `search` where it looked; true
  // when loaded.
  virtual bool open(ChannelLibrarySearch &search) = 0;
  // The address of an exported function of the loaded library, or null.
  virtual Address lookUp(const char *name) = 0;

 private:
  uint32_t call(ChannelCall &c) override;
  // Looks the function up on its first call (nothing when the library or the name is missing);
  // true when it is there.
  bool bound(ChannelFunction which);
  template <typename Fn>
  Fn address(ChannelFunction which) const {
    return reinterpret_cast<Fn>(functions_[which]);
  }

  ChannelLibrarySearch search_;
  bool loaded_ = false;
  bool loadTried_ = false;
  Address functions_[kChannelCount] = {};
  bool tried_[kChannelCount] = {};
};

}  // namespace tal::os::detail
