#include "native_channel.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <string>

namespace tal::os::native {

NativeChannelLibrary::~NativeChannelLibrary() {
  if (library_) dlclose(library_);
}

bool NativeChannelLibrary::open(ChannelLibrarySearch &search) {
  Platform &host = detail::builtinPlatform();
  library_ = dlopen("libTalCi.so", RTLD_NOW | RTLD_LOCAL);
  if (library_) {
    struct link_map *map = nullptr;
    if (dlinfo(library_, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
      search.loaded = host.fromAnsi(map->l_name);
    else
      search.loaded = L"libTalCi.so";
    search.hasVersion = host.fileVersion(search.loaded, search.version);
    return true;
  }
  if (const char *error = dlerror()) search.failure = host.fromAnsi(error);
  // Where the loader looked: the LD_LIBRARY_PATH folders, then its cache and system folders.
  const char *paths = std::getenv("LD_LIBRARY_PATH");
  std::string list = paths ? paths : "";
  size_t start = 0;
  while (start <= list.size() && !list.empty()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    // The loader takes an empty entry for the current folder.
    search.lookedIn.push_back(end > start ? host.fromAnsi(list.substr(start, end - start))
                                          : std::wstring(L"the current folder (an empty entry "
                                                         L"of LD_LIBRARY_PATH)"));
    start = end + 1;
  }
  search.lookedIn.push_back(L"the system's library folders");
  return false;
}

NativeChannelLibrary::Address NativeChannelLibrary::lookUp(const char *name) {
  return reinterpret_cast<Address>(dlsym(library_, name));
}

}  // namespace tal::os::native
