// Fuzz target: firmware image files. The header decoder on arbitrary bytes
// (also told of a file longer or shorter than the bytes it sees), then the
// whole file through both flash tasks' image loading (header check, payload,
// Velto-I region setup). No device is reached: initFlashing stops before any
// device access.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "flashtask.h"
#include "fwheader.h"
#include "scratch_file.h"
#include "veltoi.h"

namespace {

void CheckHeader(const fwimg::Header &h, fwimg::Decode d) {
  if (h.strIsp.size() > fwimg::kIspMax) __builtin_trap();
  if (d != fwimg::Decode::kOk && !(h.strFwName.empty() && h.strIsp.empty())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fwimg::Header h;
  CheckHeader(h, fwimg::decodeHeader(data, size, size, h));
  const size_t seen = size < fwimg::kHeaderSize ? size : fwimg::kHeaderSize;
  CheckHeader(h, fwimg::decodeHeader(data, seen, size + (size ? data[0] : 0), h));
  CheckHeader(h, fwimg::decodeHeader(data, seen, size / 2, h));

  static const std::string path = fuzzfile::scratchFile("fw_header", ".bin");
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  for (int type = 1; type <= 2; ++type) {
    auto task = createFlashTask(type, 1, type == 1 ? 0x82 : 0x80, path, size ? data[0] % 4 : 0);
    if (!task->initFlashing()) continue;
    // Loaded: the payload is exactly the bytes after the header.
    const size_t headerLen = data[0];
    if (headerLen > size || task->payloadSize() != size - headerLen) __builtin_trap();
    if (task->payloadSize() && std::memcmp(task->payload(), data + headerLen, size - headerLen))
      __builtin_trap();
    if (type == 2 && task->payloadSize() > vlti::kMaxPayload) __builtin_trap();
  }
  return 0;
}
