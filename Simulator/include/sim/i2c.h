// The simulated management processor's I2C side: device models on numbered segments (the
// processor's I2C engines), reached by 8-bit address. A model sees each I2C transaction whole:
// the bytes written (register or command byte first) and the number of bytes to read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace sim {

// One I2C transaction as the processor carries it out.
struct I2cRequest {
  uint8_t engine = 0;
  uint8_t address = 0;
  bool lockedTag = false;  // the request carried the "locked" access tag
  bool lockHeld = false;   // the processor's access lock on (engine, address) is held
  const uint8_t *write = nullptr;
  size_t writeLength = 0;
  size_t readLength = 0;
};

class I2cDevice {
 public:
  virtual ~I2cDevice() = default;
  // Carries out the transaction; fills readLength bytes of read. False: the device did not
  // acknowledge (the processor answers with a non-zero error code).
  virtual bool transact(const I2cRequest &request, uint8_t *read) = 0;
};

// A generic register / EEPROM model: addressWidth bytes of offset (1 or 2, most significant
// first) select a position in a 64 KiB memory; a write stores the bytes that follow the offset,
// a read returns bytes from the position (after the written ones), wrapping at the end.
class RegisterDevice : public I2cDevice {
 public:
  explicit RegisterDevice(int addressWidth = 1, uint8_t fill = 0xFF);
  bool transact(const I2cRequest &request, uint8_t *read) override;
  void poke(uint32_t offset, const std::vector<uint8_t> &bytes);
  uint8_t peek(uint32_t offset) const;
  bool readOnly = false;  // writes of data (beyond the offset) are refused
  bool nak = false;       // the device does not answer at all

 private:
  int width_;
  std::vector<uint8_t> mem_;
  uint32_t pointer_ = 0;
};

// The devices on all segments. A fixed device answers at its address; a router (a board's bus
// switch, say) is asked for addresses no fixed device holds and may answer with a device that
// is reachable at the moment, or none.
class Bus {
 public:
  using Router = std::function<I2cDevice *(uint8_t address)>;
  void attach(uint8_t engine, uint8_t address, std::shared_ptr<I2cDevice> device);
  void addRouter(uint8_t engine, Router router);
  I2cDevice *find(uint8_t engine, uint8_t address) const;
  void clear();

 private:
  std::map<std::pair<uint8_t, uint8_t>, std::shared_ptr<I2cDevice>> fixed_;
  std::multimap<uint8_t, Router> routers_;
};

}  // namespace sim
