// Fuzz target: every device on the card's segment answers from the fuzzer's input (card and
// backplane names, version registers, the name length byte at 0x11, the loader's and the CPLD's
// answers), driving discovery, then a Velto-E and a Velto-I flash through the real channel,
// SMIF commands and an honest processor. Besides crashes: discovery lists at most one card and
// its backplanes with names that fit their records, and every flash, whatever it was told,
// leaves no device-access lock behind.
//
// Input: for each I2C transaction in turn, one control byte (bit 0: the device does not
// acknowledge), then one byte per byte to read. When the input runs out, nothing acknowledges.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "channel/transport.h"
#include "configinfo.h"
#include "device.h"
#include "discovery.h"
#include "engine.h"
#include "fake_platform.h"
#include "fwheader.h"
#include "sim/machine.h"
#include "sim/simchannel.h"
#include "sim/smbios.h"
#include "state.h"
#include "veltoe.h"
#include "veltoi.h"

namespace {

constexpr uint8_t kSegment = 1;
const char kCard[] = "Orvo Varibay 6 HDD Switch Card";
const char kBackplane[] = "Orvo Varibay 6 HDD Backplane";

// Every address of the segment answers from one stream of input bytes.
class Scripted : public sim::I2cDevice {
 public:
  bool transact(const sim::I2cRequest &request, uint8_t *read) override {
    if (pos >= size) return false;
    const uint8_t control = data[pos++];
    if (control & 1) return false;
    for (size_t i = 0; i < request.readLength; ++i) read[i] = pos < size ? data[pos++] : 0;
    return true;
  }
  const uint8_t *data = nullptr;
  size_t size = 0, pos = 0;
};

void writeImage(const std::string &name, int type, int chip, size_t payload) {
  uint8_t h[fwimg::kHeaderSize];
  fwimg::encodeHeader(h, 1, type, 1, 5, chip, fwimg::chipText(chip));
  std::string bytes(reinterpret_cast<char *>(h), sizeof h);
  for (size_t i = 0; i < payload; ++i) bytes.push_back(static_cast<char>(i * 7));
  tal::os::ScratchDir::write(name, bytes);
}

struct Rig {
  tal::os::ScratchDir scratch;  // the current folder; no log folder, so the engine log stays shut
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel lib{machine};
  std::shared_ptr<Scripted> device = std::make_shared<Scripted>();

  Rig() {
    fake.channel = &lib;
    for (uint8_t address : {0xAE, 0xEC, 0xE4, 0xEE, 0xAA, 0x82, 0x80}) {
      machine.bus.attach(kSegment, address, device);
    }
    sim::SmbiosBuilder table;
    table.systemInfo("fuzz").correlation(0x0200, 0x10B5, 0x8749, 0x0300).i2cMap(0x0300, kSegment);
    fake.smbios = table.end().rsmb();
    writeImage(scratch.file("e.bin"), 1, 1, 300);
    writeImage(scratch.file("i.bin"), 2, 2, 16);
    openChannel();
    ConfigInfo *info = ConfigInfo::instance();
    info->keyFileList = {kCard, kBackplane};
    addConfigEntry(1, "e.bin", "1.12", kCard);
    addConfigEntry(1, "i.bin", "2.05", kBackplane);
  }
};

Rig &rig() {
  static Rig *r = new Rig;
  return *r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Rig &r = rig();
  r.device->data = data;
  r.device->size = size;
  r.device->pos = 0;
  r.fake.sleeps.clear();

  deleteDevices();
  scanDeviceCorrelation();
  int cards = 0;
  for (const DeviceObj *d : deviceList()) {
    if (d->getType() == DEVICE_VELTO_E) {
      ++cards;
      if (d->getProductName() != kCard || d->getObjectName() != "Controller card 1") {
        __builtin_trap();
      }
    } else if (d->getProductName().size() > 39 || d->getIdx() < 0 || d->getIdx() > 2) {
      __builtin_trap();
    }
  }
  if (cards > 1) __builtin_trap();  // one segment, scanned once

  FlashTaskVeltoE e(kSegment, 0x82, "e.bin", 0, 1);
  e.Flash();
  if (r.machine.isLocked(kSegment, 0x82)) __builtin_trap();
  FlashTaskVeltoI i(kSegment, 0x80, "i.bin", size > 0 ? data[0] % 4 : 0, 2);
  i.Flash();
  if (r.machine.isLocked(kSegment, 0x80)) __builtin_trap();
  return 0;
}
