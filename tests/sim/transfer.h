// One I2C transaction handed straight to a device model, as the processor hands it over: the
// request's engine, address and lock fields as given, then these bytes written and readLength
// bytes read into `read`.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/i2c.h"

namespace simtest {

inline bool transfer(sim::I2cDevice &device, sim::I2cRequest request,
                     const std::vector<uint8_t> &write, uint8_t *read, size_t readLength) {
  request.write = write.data();
  request.writeLength = write.size();
  request.readLength = readLength;
  return device.transact(request, read);
}

}  // namespace simtest
