// The files a fuzz target writes its input to: under the system temp folder, named for the target
// and the process, removed when the process exits.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzfile {

// The names made so far; never destroyed, so that the exit handler can still read them.
inline std::vector<std::string> &made() {
  static auto *names = new std::vector<std::string>;
  return *names;
}

inline void removeMade() {
  for (const std::string &path : made()) std::remove(path.c_str());
}

// <temp>/tal_fuzz_<stem>_<pid><extension>, removed at exit.
inline std::string scratchFile(const std::string &stem, const std::string &extension) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tal_fuzz_" + stem + "_" + std::to_string(getpid()) + extension))
                               .string();
  if (made().empty()) std::atexit(removeMade);
  made().push_back(path);
  return path;
}

}  // namespace fuzzfile
