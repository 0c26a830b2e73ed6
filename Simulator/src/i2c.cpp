// The I2C bus of the simulated processor and the generic register / EEPROM model.
#include "sim/i2c.h"

#include <algorithm>

namespace sim {

namespace {
constexpr uint32_t kMemorySize = 0x10000;
}

RegisterDevice::RegisterDevice(int addressWidth, uint8_t fill)
    : width_(addressWidth == 2 ? 2 : 1), mem_(kMemorySize, fill) {}

bool RegisterDevice::transact(const I2cRequest &request, uint8_t *read) {
  if (nak) return false;
  // The offset counter wraps at the end of what the offset bytes can address.
  const uint32_t span = width_ == 2 ? kMemorySize : 0x100;
  if (request.writeLength > 0) {
    // A write shorter than the offset leaves the device without a position: no acknowledge.
    if (request.writeLength < static_cast<size_t>(width_) || request.write == nullptr) return false;
    const size_t data = request.writeLength - static_cast<size_t>(width_);
    if (data > 0 && readOnly) return false;
    uint32_t offset = 0;
    for (int i = 0; i < width_; ++i) offset = (offset << 8) | request.write[i];
    pointer_ = offset % span;
    for (size_t i = 0; i < data; ++i) {
      mem_[pointer_] = request.write[static_cast<size_t>(width_) + i];
      pointer_ = (pointer_ + 1) % span;
    }
  }
  for (size_t i = 0; i < request.readLength; ++i) {
    if (read) read[i] = mem_[pointer_];
    pointer_ = (pointer_ + 1) % span;
  }
  return true;
}

void RegisterDevice::poke(uint32_t offset, const std::vector<uint8_t> &bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) mem_[(offset + i) % kMemorySize] = bytes[i];
}

uint8_t RegisterDevice::peek(uint32_t offset) const { return mem_[offset % kMemorySize]; }

void Bus::attach(uint8_t engine, uint8_t address, std::shared_ptr<I2cDevice> device) {
  if (device) {
    fixed_[{engine, address}] = std::move(device);
  } else {
    fixed_.erase({engine, address});
  }
}

void Bus::addRouter(uint8_t engine, Router router) {
  if (router) routers_.emplace(engine, std::move(router));
}

I2cDevice *Bus::find(uint8_t engine, uint8_t address) const {
  auto it = fixed_.find({engine, address});
  if (it != fixed_.end()) return it->second.get();
  auto range = routers_.equal_range(engine);
  for (auto r = range.first; r != range.second; ++r) {
    if (I2cDevice *device = r->second(address)) return device;
  }
  return nullptr;
}

void Bus::clear() {
  fixed_.clear();
  routers_.clear();
}

}  // namespace sim
