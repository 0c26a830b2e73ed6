// A stand-in plug-in for talhost's progress display: its Install plays a script
// (TAL_PROGRESS_SCRIPT) against the progress file, "%systemdrive%\talsystem\log\talprogress.log",
// as a plug-in that flashes would, and returns TAL_PROGRESS_RESULT (default 2). Script lines:
//   truncate          empties the file
//   line TEXT         appends TEXT and a line end
//   part TEXT         appends TEXT alone (a line written in two pieces)
//   sleep MS          waits
// Property 5 answers status 2; every other property fails.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <string>
#include <thread>

#include "tal/platform.h"

namespace {

std::string progressFile() {
  return tal::os::toUtf8(
      tal::os::sys().expandEnvironment(L"%systemdrive%\\talsystem\\log\\talprogress.log"));
}

void append(const std::string &bytes) {
  FILE *f = tal::os::sys().openStream(progressFile().c_str(), "ab");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t GetInterfaceVersion(uint32_t *version) {
  *version = 100;
  return 1;
}

__attribute__((visibility("default"))) int32_t GetProperty(uint32_t type, void *out, uint32_t size,
                                                           const wchar_t *) {
  if (type != 5 || size < 2052) return 0;
  int32_t status = 2;
  std::memcpy(out, &status, sizeof status);
  return 1;
}

__attribute__((visibility("default"))) int32_t Install(uint32_t, void *, wchar_t *text, uint32_t,
                                                       const wchar_t *) {
  const char *script = std::getenv("TAL_PROGRESS_SCRIPT");
  std::ifstream in(script ? script : "");
  std::string line;
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "truncate") {
      FILE *f = tal::os::sys().openStream(progressFile().c_str(), "wb");
      if (f) std::fclose(f);
    } else if (verb == "line") {
      append(rest + "\r\n");
    } else if (verb == "part") {
      append(rest);
    } else if (verb == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(rest.c_str())));
    }
  }
  const char *result = std::getenv("TAL_PROGRESS_RESULT");
  std::wcscat(text, L"Played.\r\n");
  return result ? std::atoi(result) : 2;
}

}  // extern "C"
