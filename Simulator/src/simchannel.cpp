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

uint32_t SimChannel::call(tal::os::ChannelCall &c) {
  switch (c.function) {
    case tal::os::kInitialize:
      ++initializeCalls;
      initializeArg = c.initialize.arg;
      initializeAtMs = tal::os::sys().monotonicMs();
      if (machine_.faults.initializeStatus != 0) return machine_.faults.initializeStatus;
      initialized_ = true;
      return 0;
    case tal::os::kCreate:
      return openChannel(c.create);
    case tal::os::kSend:
      return queueRequest(c.send);
    case tal::os::kRecv:
      return deliverResponse(c.recv);
    case tal::os::kClose:
      ++closeCalls;
      if (!open_ || c.close.handle != this) return kStatusBadHandle;
      open_ = false;
      head_ = count_ = 0;
      return 0;
    case tal::os::kStatusMessage:
      c.statusMessage.text =
          machine_.faults.nullStatusText ? nullptr : statusText(c.statusMessage.status);
      return 0;
    case tal::os::kChannelCount:
      break;
  }
  return missing(c);
}

uint32_t SimChannel::openChannel(const tal::os::ChannelCall::Create &a) {
  ++createCalls;
  lastCreate = {a.arg, a.sendCount, a.sendSize, a.recvCount, a.recvSize, a.flags, a.reserved};
  if (!initialized_) return kStatusNotInitialized;
  if (a.handle == nullptr || a.sendCount == 0 || a.recvCount == 0 || a.sendSize < 8 ||
      a.sendSize > kMaxPacket || a.recvSize < 8 || a.recvSize > kMaxPacket) {
    return kStatusBadParameter;
  }
  if (machine_.faults.createStatus != 0) return machine_.faults.createStatus;
  limit_ = std::min<int>(static_cast<int>(a.recvCount), kQueueSlots);
  head_ = count_ = 0;
  open_ = true;
  *a.handle = this;
  return 0;
}

uint32_t SimChannel::queueRequest(const tal::os::ChannelCall::Send &a) {
  ++sendCalls;
  if (a.status == nullptr) return kStatusBadParameter;
  uint32_t &st = *a.status;
  if (!open_ || a.handle != this) return st = kStatusBadHandle;
  const uint32_t length = a.length;
  if (a.packet == nullptr || length < 8 || length > kMaxPacket) return st = kStatusBadParameter;
  Faults &f = machine_.faults;
  if (consume(f.sendBusy)) return st = 20;
  if (consume(f.sendErrors)) return st = f.sendErrorStatus;

  uint8_t *bytes = static_cast<uint8_t *>(a.packet);
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

uint32_t SimChannel::deliverResponse(const tal::os::ChannelCall::Recv &a) {
  ++recvCalls;
  lastWait = a.wait ? *a.wait : 0;
  if (a.status == nullptr) return 0;
  uint32_t &st = *a.status;
  if (!open_ || a.handle != this) {
    st = kStatusBadHandle;
    return 0;
  }
  const uint32_t capacity = a.capacity;
  if (a.buffer == nullptr) {
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
  std::memcpy(a.buffer, work_.bytes, copied);
  st = 0;
  if (consume(f.overReport)) return capacity + 16;
  return copied;
}

const char *SimChannel::statusText(uint32_t status) {
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
