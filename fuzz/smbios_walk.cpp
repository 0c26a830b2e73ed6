// Arbitrary bytes as the raw SMBIOS data: through SmbiosTable (load, findByType, findByHandle,
// getString, the field reads, systemName) and through the whole of discovery over a bus on which
// nothing answers. The input is taken both as the raw data (header included) and as the table
// behind a header that gives its length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "channel/transport.h"
#include "configinfo.h"
#include "device.h"
#include "discovery.h"
#include "engine.h"
#include "fake_platform.h"
#include "sim/machine.h"
#include "sim/simchannel.h"
#include "smbios.h"

namespace {

struct World {
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel channel{machine};
  World() {
    machine.recordTransactions = false;
    fake.channel = &channel;
    openChannel();
    // Every product name is applicable; no configuration entry, so nothing is listed for long.
    ConfigInfo::instance()->keyFileList = {""};
  }
};

volatile size_t g_sink = 0;

void walk(const std::vector<uint8_t> &raw) {
  SmbiosTable table(false);
  table.loadRaw(raw);
  g_sink += table.systemName().size();
  for (const SmbiosTable::Record &rec : table.records()) {
    for (unsigned n = 0; n < 3; ++n) {
      const SmbiosTable::Record *found = table.findByType(rec.type, n);
      if (found) g_sink += found->length;
    }
    const SmbiosTable::Record *byHandle = table.findByHandle(rec.handle);
    if (byHandle) g_sink += byHandle->type;
    for (unsigned n = 0; n < 6; ++n) g_sink += table.getString(&rec, n).size();
    for (unsigned off = 0; off < rec.length + 3u; ++off) {
      uint8_t b = 0;
      uint16_t w = 0;
      if (table.readByte(&rec, off, b)) g_sink += b;
      if (table.readWord(&rec, off, w)) g_sink += w;
    }
  }
  g_sink += table.findByType(256, 0) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static World *world = new World();
  std::vector<uint8_t> raw(data, data + size);
  std::vector<uint8_t> framed = {0,
                                 3,
                                 0,
                                 0,
                                 static_cast<uint8_t>(size),
                                 static_cast<uint8_t>(size >> 8),
                                 static_cast<uint8_t>(size >> 16),
                                 static_cast<uint8_t>(size >> 24)};
  framed.insert(framed.end(), data, data + size);

  walk(raw);
  walk(framed);
  for (const std::vector<uint8_t> *input : {&raw, &framed}) {
    world->fake.smbios = *input;
    deleteDevices();
    scanDeviceCorrelation();
  }
  deleteDevices();
  return 0;
}
