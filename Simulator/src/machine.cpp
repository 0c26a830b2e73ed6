// The simulated management processor's SMIF side.
#include "sim/machine.h"

#include <algorithm>
#include <cstring>

#include "tal/platform.h"

namespace sim {

namespace {

uint16_t u16(const uint8_t *p, size_t off) {
  return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
uint32_t u32(const uint8_t *p, size_t off) {
  return static_cast<uint32_t>(p[off]) | (static_cast<uint32_t>(p[off + 1]) << 8) |
         (static_cast<uint32_t>(p[off + 2]) << 16) | (static_cast<uint32_t>(p[off + 3]) << 24);
}
void put16(uint8_t *p, size_t off, uint16_t v) {
  p[off] = static_cast<uint8_t>(v);
  p[off + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *p, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t kRequestLen = 20;  // access request
constexpr size_t kI2cLen = 57;      // I2C transaction request
constexpr size_t kI2cMax = 32;
constexpr uint16_t kAccessRequestCode = 5;
const char kLockedTag[8] = {'T', 'K', 'a', 'r', 's', 'e', 'n', 0};

}  // namespace

bool consume(int &count) {
  if (count == 0) return false;
  if (count > 0) --count;
  return true;
}

bool Machine::isLocked(uint8_t engine, uint8_t address) const {
  // Without a change settling the clock is not read (the flash record is written at process exit,
  // when the platform may be gone).
  auto pending = settling_.find({engine, address});
  if (pending != settling_.end() && tal::os::sys().monotonicMs() >= pending->second.second) {
    return pending->second.first;
  }
  return locks_.count({engine, address}) != 0;
}

void Machine::requestLock(uint8_t engine, uint8_t address, bool locked) {
  if (accessSettleMs == 0) {
    setLocked(engine, address, locked);
    return;
  }
  // A change still settling is overtaken: the state it would have set is the state now.
  const bool current = isLocked(engine, address);
  settling_.erase({engine, address});
  if (current) {
    locks_.insert({engine, address});
  } else {
    locks_.erase({engine, address});
  }
  settling_[{engine, address}] = {locked, tal::os::sys().monotonicMs() + accessSettleMs};
}

void Machine::setLocked(uint8_t engine, uint8_t address, bool locked) {
  settling_.erase({engine, address});
  if (locked) {
    locks_.insert({engine, address});
  } else {
    locks_.erase({engine, address});
  }
}

std::vector<Transaction> Machine::transactionsOn(uint8_t engine, uint8_t address) const {
  std::vector<Transaction> out;
  for (const Transaction &t : transactions) {
    if (t.engine == engine && t.address == address) out.push_back(t);
  }
  return out;
}

bool Machine::headerOnly() {
  if (faults.headerOnlyLen == 0) return false;
  if (faults.headerOnlyAfter > 0) {
    --faults.headerOnlyAfter;
    return false;
  }
  return consume(faults.headerOnlyLen);
}

void Machine::settle() {
  if (settling_.empty()) return;
  const uint64_t now = tal::os::sys().monotonicMs();
  for (auto it = settling_.begin(); it != settling_.end();) {
    if (now < it->second.second) {
      ++it;
      continue;
    }
    if (it->second.first) {
      locks_.insert(it->first);
    } else {
      locks_.erase(it->first);
    }
    it = settling_.erase(it);
  }
}

size_t Machine::process(const uint8_t *request, size_t length, uint8_t *response, size_t capacity) {
  settle();
  // Every answer fits the largest response; it is built in full, then cut to the capacity.
  uint8_t answer[kStatusResponseLen];
  std::memset(answer, 0, sizeof answer);
  ++requests;

  uint16_t len = kErrorResponseLen;
  uint32_t error = kErrNone;
  const uint16_t cmd = length >= 6 ? u16(request, 4) : 0;
  if (length < 8 || u16(request, 0) != length) {
    error = kErrBadRequest;
  } else if (headerOnly()) {
    // Not carried out: the usual size, zeros, and a LEN that covers the header alone.
    const size_t size = cmd == kCmdGetStatus        ? kStatusResponseLen
                        : cmd == kCmdRequest        ? kRequestResponseLen
                        : cmd == kCmdI2cTransaction ? kI2cResponseLen
                                                    : kErrorResponseLen;
    put16(answer, 0, 8);
    put16(answer, 2, u16(request, 2));
    put16(answer, 4, cmd);
    const size_t out = std::min<size_t>(size, capacity);
    std::memcpy(response, answer, out);
    return out;
  } else {
    auto fault = faults.commandErrors.find(cmd);
    if (fault != faults.commandErrors.end() && consume(fault->second.count)) {
      // The processor refuses the command without carrying it out.
      error = fault->second.code;
      len = cmd == kCmdGetStatus        ? kStatusResponseLen
            : cmd == kCmdRequest        ? kRequestResponseLen
            : cmd == kCmdI2cTransaction ? kI2cResponseLen
                                        : kErrorResponseLen;
    } else if (cmd == kCmdGetStatus) {
      len = kStatusResponseLen;
      answer[16] = minor;
      answer[17] = major;
      answer[71] = generation;
    } else if (cmd == kCmdRequest) {
      len = kRequestResponseLen;
      error = accessRequest(request, length, answer);
    } else if (cmd == kCmdI2cTransaction) {
      len = kI2cResponseLen;
      error = i2cTransaction(request, length, answer);
    } else {
      error = kErrUnknownCommand;
    }
  }

  put16(answer, 0, len);
  put16(answer, 2, length >= 4 ? u16(request, 2) : 0);
  put16(answer, 4, cmd);
  put32(answer, 8, error);
  const size_t out = std::min<size_t>(len, capacity);
  std::memcpy(response, answer, out);
  return out;
}

uint32_t Machine::accessRequest(const uint8_t *request, size_t length, uint8_t *response) {
  if (length < kRequestLen) return kErrBadRequest;
  AccessRecord record;
  record.order = requests;
  record.action = u16(request, 10);
  record.value = u32(request, 12);
  record.target = u32(request, 16);
  record.engine = static_cast<uint8_t>(record.target >> 16);
  record.address = static_cast<uint8_t>(record.target);
  put32(response, 16, record.target);

  uint32_t error = kErrNone;
  if (u16(request, 8) != kAccessRequestCode || record.action > 2 ||
      (record.target & 0xFF00FF00u) != 0) {
    error = kErrBadRequest;
  } else if (record.action == 1) {
    if (!consume(faults.lockIgnored)) requestLock(record.engine, record.address, true);
    if (consume(faults.lockReportsError)) error = kErrAccessRefused;
  } else if (record.action == 2) {
    if (!consume(faults.unlockIgnored)) requestLock(record.engine, record.address, false);
    if (consume(faults.unlockReportsError)) error = kErrAccessRefused;
  }
  if (error == kErrNone) put32(response, 12, isLocked(record.engine, record.address) ? 1 : 0);
  record.errorCode = error;
  accessLog.push_back(record);
  return error;
}

uint32_t Machine::i2cTransaction(const uint8_t *request, size_t length, uint8_t *response) {
  if (length < kI2cLen) return kErrBadRequest;
  const uint16_t address = u16(request, 20);
  const uint8_t engine = request[22];
  const size_t wl = request[23], rl = request[24];
  if (address > 0xFF || wl > kI2cMax || rl > kI2cMax) return kErrBadRequest;

  I2cRequest io;
  io.engine = engine;
  io.address = static_cast<uint8_t>(address);
  io.lockedTag = std::memcmp(request + 12, kLockedTag, sizeof kLockedTag) == 0;
  io.lockHeld = isLocked(engine, io.address);
  io.write = request + 25;
  io.writeLength = wl;
  io.readLength = rl;

  uint8_t read[kI2cMax];
  std::memset(read, 0, sizeof read);
  I2cDevice *device = bus.find(engine, io.address);
  const bool acked = device != nullptr && device->transact(io, read);

  if (recordTransactions) {
    Transaction t;
    t.order = requests;
    t.engine = engine;
    t.address = io.address;
    t.lockedTag = io.lockedTag;
    t.lockHeld = io.lockHeld;
    t.acked = acked;
    t.write.assign(io.write, io.write + wl);
    t.readLength = rl;
    if (acked) t.read.assign(read, read + rl);
    transactions.push_back(std::move(t));
  }
  if (!acked) return kErrNak;

  size_t returned = rl;
  if (rl > 0 && consume(faults.shortRead)) {
    returned = faults.shortReadLength >= 0 ? static_cast<size_t>(faults.shortReadLength) : rl - 1;
  }
  response[24] = static_cast<uint8_t>(std::min<size_t>(returned, 0xFF));
  std::memcpy(response + 25, read, std::min(returned, rl));
  return kErrNone;
}

}  // namespace sim
