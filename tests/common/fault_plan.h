// One channel or processor fault at a chosen place of a run: a channel library that hands every
// call to the in-process simulator's and, at the send of request n (counted from 0 over the
// plan's life), arms one of the machine's fault switches for its next occasion. With it a test can
// put one failed answer on each request of a run in turn, or seeded faults at random places.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "channel_relay.h"
#include "sim/machine.h"
#include "sim/simchannel.h"

namespace faultplan {

enum Kind : int {
  kHeaderOnly,     // the request is not carried out; the answer's LEN says 8 (the header alone)
  kRunt,           // carried out; the answer arrives cut short
  kRecvError,      // carried out; the receive fails (the answer stays queued, stale)
  kSendError,      // not sent at all
  kNak,            // the next I2C transaction is not acknowledged (not carried out)
  kShortRead,      // the next I2C read answers another read length (carried out)
  kOutOfSequence,  // a stale answer arrives first (the transport skips it)
  kUnlockIgnored,  // the next unlock command is answered as done but keeps the lock
  kLockIgnored,    // the next lock command is answered as done but takes no lock
  kKinds
};

inline const char *kindName(int kind) {
  static const char *const names[kKinds] = {"header-only answer", "runt answer",    "receive error",
                                            "send error",         "I2C NAK",        "short read",
                                            "stale answer",       "unlock ignored", "lock ignored"};
  return kind >= 0 && kind < kKinds ? names[kind] : "?";
}

// Arms one fault of the kind on the machine, for its next occasion: one more on the fault
// switch's count (the I2C NAK: one more NAK answer of the I2C transaction command).
inline void arm(sim::Machine &machine, int kind) {
  sim::Faults &f = machine.faults;
  if (kind == kNak) {
    sim::CommandFault &c = f.commandErrors[sim::kCmdI2cTransaction];
    c.code = sim::kErrNak;
    c.count = c.count > 0 ? c.count + 1 : 1;
    return;
  }
  using F = sim::Faults;
  static int F::*const counts[kKinds] = {&F::headerOnlyLen, &F::runt,          &F::recvErrors,
                                         &F::sendErrors,    nullptr,           &F::shortRead,
                                         &F::outOfSequence, &F::unlockIgnored, &F::lockIgnored};
  if (kind >= 0 && kind < kKinds) f.*counts[kind] += 1;
}

class Channel : public testserver::ChannelRelay {
 public:
  explicit Channel(sim::SimChannel &inner) : ChannelRelay(inner), inner_(inner) {}

  // (request, kind): armed as request `request` is sent.
  std::vector<std::pair<uint64_t, int>> plan;
  uint64_t sends = 0;  // requests handed to the library so far
  int armed = 0;       // faults armed so far

  uint32_t send(void *handle, void *packet, uint32_t length, uint32_t *status,
                uintptr_t reserved) override {
    for (const auto &p : plan) {
      if (p.first == sends) {
        arm(inner_.machine(), p.second);
        ++armed;
      }
    }
    ++sends;
    return ChannelRelay::send(handle, packet, length, status, reserved);
  }

 private:
  sim::SimChannel &inner_;
};

}  // namespace faultplan
