// The channel library over the simulated processor.
#include "sim/simchannel.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {
void put16(uint8_t *p, size_t off, uint16_t v) {
  p[off] = static_cast<uint8_t>(v);
  p[off + 1] = static_cast<uint8_t>(v >> 8);
}
uint16_t u16(const uint8_t *p, size_t off) {
  return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
}  // namespace

SimChannel::SimChannel(Machine &machine) : machine_(machine) {}

uint32_t SimChannel::initialize(uintptr_t arg) {
  ++initializeCalls;
  initializeArg = arg;
  initializeAtMs = tal::os::sys().monotonicMs();
  if (machine_.faults.initializeStatus != 0) return machine_.faults.initializeStatus;
  initialized_ = true;
  return 0;
}

uint32_t SimChannel::create(uintptr_t arg, void **handle, uint32_t sendCount, uint32_t sendSize,
                            uint32_t recvCount, uint32_t recvSize, uint32_t flags, void *reserved) {
  ++createCalls;
  lastCreate = {arg, sendCount, sendSize, recvCount, recvSize, flags, reserved};
  if (!initialized_) return kStatusNotInitialized;
  if (handle == nullptr || sendCount == 0 || recvCount == 0 || sendSize < 8 ||
      sendSize > kMaxPacket || recvSize < 8 || recvSize > kMaxPacket) {
    return kStatusBadParameter;
  }
  if (machine_.faults.createStatus != 0) return machine_.faults.createStatus;
  limit_ = std::min<int>(static_cast<int>(recvCount), kQueueSlots);
  head_ = count_ = 0;
  open_ = true;
  *handle = this;
  return 0;
}

uint32_t SimChannel::send(void *handle, void *packet, uint32_t length, uint32_t *status,
                          uintptr_t) {
  ++sendCalls;
  if (status == nullptr) return kStatusBadParameter;
  uint32_t &st = *status;
  if (!open_ || handle != this) return st = kStatusBadHandle;
  if (packet == nullptr || length < 8 || length > kMaxPacket) return st = kStatusBadParameter;
  Faults &f = machine_.faults;
  if (consume(f.sendBusy)) return st = 20;
  if (consume(f.sendErrors)) return st = f.sendErrorStatus;

  uint8_t *bytes = static_cast<uint8_t *>(packet);
  put16(bytes, 2, nextSeq);
  nextSeq = static_cast<uint16_t>(nextSeq + 1);
  lastSent.assign(bytes, bytes + length);

  // A full receive queue loses its oldest response, as a ring of receive packets would.
  if (count_ == limit_) {
    head_ = (head_ + 1) % kQueueSlots;
    --count_;
  }
  Slot &slot = queue_[(head_ + count_) % kQueueSlots];
  slot.length = static_cast<uint32_t>(machine_.process(bytes, length, slot.bytes, kMaxPacket));
  ++count_;
  return st = 0;
}

uint32_t SimChannel::recv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                          uint32_t *wait) {
  ++recvCalls;
  lastWait = wait ? *wait : 0;
  if (status == nullptr) return 0;
  uint32_t &st = *status;
  if (!open_ || handle != this) {
    st = kStatusBadHandle;
    return 0;
  }
  if (buffer == nullptr) {
    st = kStatusBadParameter;
    return 0;
  }
  Faults &f = machine_.faults;
  if (consume(f.recvErrors)) {
    st = f.recvErrorStatus;
    return 0;
  }
  if (count_ == 0 || consume(f.recvNothing)) {
    st = 21;
    return 0;
  }

  Slot &front = queue_[head_];
  std::memcpy(work_.bytes, front.bytes, front.length);
  work_.length = front.length;
  if (consume(f.outOfSequence)) {
    // A stale response of another request arrives first; the real one stays queued.
    put16(work_.bytes, 2, static_cast<uint16_t>(u16(front.bytes, 2) - 1));
  } else {
    head_ = (head_ + 1) % kQueueSlots;
    --count_;
  }
  if (tamper) {
    tamper(work_.bytes, work_.length);
    work_.length = std::min(work_.length, kMaxPacket);
  }
  if (consume(f.runt)) {
    work_.length = std::min(f.runtLength, work_.length > 0 ? work_.length - 1 : 0);
  }
  if (machine_.latencyMs > 0) tal::os::sys().sleepMs(machine_.latencyMs);

  const uint32_t copied = std::min(work_.length, capacity);
  std::memcpy(buffer, work_.bytes, copied);
  st = 0;
  if (consume(f.overReport)) return capacity + 16;
  return copied;
}

uint32_t SimChannel::close(void *handle) {
  ++closeCalls;
  if (!open_ || handle != this) return kStatusBadHandle;
  open_ = false;
  head_ = count_ = 0;
  return 0;
}

const char *SimChannel::statusMessage(uint32_t status) {
  if (machine_.faults.nullStatusText) return nullptr;
  switch (status) {
    case 0:
      return "Success";
    case kStatusBadParameter:
      return "Invalid parameter";
    case kStatusNotInitialized:
      return "Channel interface not initialized";
    case kStatusBadHandle:
      return "Invalid channel handle";
    case kStatusNoDescription:
      return "Machine description could not be read";
    case 20:
      return "Send queue full";
    case 21:
      return "No packet received";
    case 22:
      return "Runt packet";
    case kStatusIoError:
      return "Channel I/O error";
    case 39:
      return "Invalid argument";
    case 42:
      return "Receive retries exhausted";
    default:
      return "Unknown channel status";
  }
}

}  // namespace sim
