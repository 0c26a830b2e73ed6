// A seeded random-fault source for the flash target models (soak tests): per transaction, a
// chance that a write is not acknowledged, that a read is not acknowledged, and that one bit of
// the bytes in transit flips. Deterministic for a seed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

struct RandomFaults {
  bool enabled = false;
  double writeFail = 0;  // chance per write-only transaction
  double readFail = 0;   // chance per transaction that reads
  double flip = 0;       // chance per transaction that one bit in transit flips
  uint64_t state = 0x9E3779B97F4A7C15ull;

  // What was injected.
  int failedWrites = 0, failedReads = 0, flips = 0;
  // A failure was injected on a transaction whose result the flash procedure checks.
  bool checkedFailure = false;

  void seed(uint64_t s) { state = s ^ 0x9E3779B97F4A7C15ull; }
  uint64_t next() {  // splitmix64
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  bool roll(double chance) {
    if (!enabled || chance <= 0) return false;
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0) < chance;
  }
  // Flips one random bit of bytes[0..length) with the flip chance; true when it did.
  bool maybeFlip(uint8_t *bytes, size_t length) {
    if (length == 0 || !roll(flip)) return false;
    uint64_t r = next();
    bytes[r % length] ^= static_cast<uint8_t>(1u << ((r >> 32) % 8));
    ++flips;
    return true;
  }
};

}  // namespace sim
