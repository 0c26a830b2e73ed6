// Placeholder until the SMIF commands land: every command fails.
#include "channel/smif.h"

const char kTagLocked[8] = {'T', 'K', 'a', 'r', 's', 'e', 'n', 0};
const char kTagUnlocked[8] = {'M', 'o', 'r', 'v', 'a', 'n', 'e', 0};
uint16_t g_smifSeq = 0;
bool getOstStatus(uint8_t *, uint8_t *, uint8_t *) { return false; }
bool check_i2c_locked(uint8_t, uint8_t) { return false; }
uint32_t setI2cAccess(uint8_t, uint8_t, bool, uint32_t) { return 42; }
uint32_t I2CTransaction(uint8_t, uint8_t, const uint8_t *, uint32_t, uint8_t *, uint32_t, bool) {
  return 42;
}
uint32_t i2cWrite(uint8_t, uint8_t, const uint8_t *, uint32_t, bool) { return 42; }
uint32_t readFromOffset0012(uint8_t, uint8_t, uint8_t *, uint32_t, bool) { return 42; }
uint32_t setHandshake(uint8_t, uint8_t, uint8_t, bool) { return 42; }
uint32_t selectVltiPort(uint8_t, uint8_t, uint8_t, bool) { return 42; }
uint8_t portMaskForIdx(int idx) { return idx >= 0 && idx <= 2 ? static_cast<uint8_t>(1 << idx) : 0; }
int lockDeviceAccess(uint8_t, uint8_t, uint32_t) { return -1; }
int unlockDeviceAccess(uint8_t, uint8_t, uint32_t) { return -1; }
