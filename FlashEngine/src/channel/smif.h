// SMIF commands to the management processor: status query, I2C transaction, device-access
// request; the small I2C operations built on the transaction; device-access lock and unlock.
#pragma once

#include <cstdint>

enum SmifCommand : uint16_t {
  SMIFCMD_GET_STATUS = 0x0002,
  SMIFCMD_REQUEST = 0x008C,
  SMIFCMD_I2C_TRANSACTION = 0x0072,
};
constexpr uint16_t SMIFREQ_ENABLE_DISABLE_ACCESS_REQUEST = 5;
enum AccessAction : uint16_t { ACCESS_QUERY = 0, ACCESS_LOCK = 1, ACCESS_UNLOCK = 2 };

constexpr uint32_t kAccessValue = 1200;
constexpr uint32_t kSmifStatusRequestLen = 8, kSmifStatusResponseCap = 100;
constexpr uint32_t kSmifRequestLen = 20, kSmifRequestResponseCap = 68;
constexpr uint32_t kSmifI2cLen = 57, kSmifI2cResponseCap = 57;
constexpr uint32_t kI2cMaxData = 32;
// Access tags of an I2C transaction (7 letters and a zero byte).
extern const char kTagLocked[8];    // "TKarsen": the caller holds the device-access lock
extern const char kTagUnlocked[8];  // "Morvane"

// Fixed board addresses on a segment.
constexpr uint8_t kAddrFru = 0xAE;          // card FRU EEPROM (product name at 0x0012)
constexpr uint8_t kAddrSwitchCtrl = 0xEC;   // card switch controller (handshake 0x66)
constexpr uint8_t kAddrPortSelect = 0xE4;   // backplane port selector
constexpr uint8_t kAddrVltiVersion = 0xEE;  // selected backplane's version registers
constexpr uint8_t kAddrVltiName = 0xAA;     // selected backplane's name record

bool getOstStatus(uint8_t *application, uint8_t *major, uint8_t *minor);
bool check_i2c_locked(uint8_t engine, uint8_t address);
uint32_t setI2cAccess(uint8_t engine, uint8_t address, bool lock, uint32_t value);
uint32_t I2CTransaction(uint8_t engine, uint8_t address, const uint8_t *writeData,
                        uint32_t writeLength, uint8_t *readBuffer, uint32_t readLength,
                        bool locked);
uint32_t i2cWrite(uint8_t engine, uint8_t address, const uint8_t *data, uint32_t length,
                  bool locked);
uint32_t readFromOffset0012(uint8_t engine, uint8_t address, uint8_t *buffer, uint32_t length,
                            bool locked);
uint32_t setHandshake(uint8_t engine, uint8_t address, uint8_t value, bool locked);
uint32_t selectVltiPort(uint8_t engine, uint8_t address, uint8_t mask, bool locked);
uint8_t portMaskForIdx(int idx);
// Target field of an access request: engine in bits 16 to 23, address in bits 0 to 7.
uint32_t smifAccessTarget(uint8_t engine, uint8_t address);
int lockDeviceAccess(uint8_t engine, uint8_t address, uint32_t value);
// Releases the lock and verifies it with a second query. A query that gets no answer is never
// taken for "unlocked": the unlock is sent all the same. An unlock the verification does not
// confirm is sent again, kUnlockAttempts times in all; -1 when none was confirmed.
int unlockDeviceAccess(uint8_t engine, uint8_t address, uint32_t value);
constexpr int kUnlockAttempts = 3;

// The lock state as the query answers it; Unknown when the query got no usable answer.
enum class AccessState { Unlocked, Locked, Unknown };
AccessState queryDeviceAccess(uint8_t engine, uint8_t address);

// What the engine knows of a card's backplane bus (the handshake at 0xEC, the port selected at
// 0xE4) from its own writes: released, taken, or maybe taken (a write whose answer failed after
// it may have taken it, or a release whose answer failed). Kept per segment for the process.
enum class BusHold : uint8_t { Released = 0, Taken, MaybeTaken };
BusHold handshakeHold(uint8_t engine);
BusHold portHold(uint8_t engine);

// The releases of a card's backplane bus: the handshake (0x66 = 0 at 0xEC) and the port selector
// (0x00 = 0 at 0xE4). A write that fails is sent again, kReleaseAttempts times in all; true when
// one was acknowledged.
constexpr int kReleaseAttempts = 3;
bool releaseHandshake(uint8_t engine, bool locked);
bool deselectPorts(uint8_t engine, bool locked);
