// The simulated management processor: it decodes SMIF requests and answers them.
//  - GET_STATUS answers the configured generation and firmware version.
//  - The access REQUEST queries, takes and releases the device-access lock, kept per
//    (engine, address).
//  - I2C transactions go through the bus to the device models, carrying the access tag and
//    whether the lock is held; each one is written to the transaction log.
// Faults holds one switch for each failure the engine's channel and commands must survive; the
// channel-library side of them is played by SimChannel (simchannel.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "sim/i2c.h"

namespace sim {

class SwitchCard;

// SMIF command codes and the SMIF error codes the processor answers with.
constexpr uint16_t kCmdGetStatus = 0x0002;
constexpr uint16_t kCmdRequest = 0x008C;
constexpr uint16_t kCmdI2cTransaction = 0x0072;

enum ProcessorError : uint32_t {
  kErrNone = 0,
  kErrUnknownCommand = 1,  // CMD not known to the processor
  kErrBadRequest = 2,      // a request too short, a bad request code, action, target or length
  kErrNak = 3,             // no device acknowledged the I2C transaction
  kErrAccessRefused = 4,   // a lock or unlock answered as failed (fault switch)
};

// Response lengths (LEN) the processor answers with.
constexpr uint16_t kStatusResponseLen = 72;  // through the generation byte at 71
constexpr uint16_t kRequestResponseLen = 20;
constexpr uint16_t kI2cResponseLen = 57;
constexpr uint16_t kErrorResponseLen = 12;  // header and error code

// A fault count: 0 off, n > 0 the next n occasions, -1 every occasion.
bool consume(int &count);

struct CommandFault {
  uint32_t code = 0;  // error code answered
  int count = -1;     // how many requests of the command it hits
};

struct Faults {
  // --- the channel library (SimChannel) ---
  uint32_t initializeStatus = 0;  // TalCiInitialize answers this status
  uint32_t createStatus = 0;      // TalCiCreate answers this status (no handle)
  int sendBusy = 0;               // sends answered with status 20 (nothing sent)
  int sendErrors = 0;             // sends answered with sendErrorStatus (nothing sent)
  uint32_t sendErrorStatus = 23;
  int recvNothing = 0;  // receives answered with status 21 (the response stays queued)
  int recvErrors = 0;   // receives answered with recvErrorStatus
  uint32_t recvErrorStatus = 23;
  int outOfSequence = 0;  // receives that deliver the response with another SEQ first
  int runt = 0;           // responses delivered cut to runtLength bytes (LEN kept)
  uint32_t runtLength = 40;
  int overReport = 0;           // receives that report more bytes than the buffer holds
  bool nullStatusText = false;  // TalCiStatusMessage answers null
  // --- the processor (Machine) ---
  std::map<uint16_t, CommandFault> commandErrors;  // by CMD: answered with an error code
  int shortRead = 0;           // I2C reads (RL > 0) answered with a read length other than asked
  int shortReadLength = -1;    // the read length they answer (-1: one less than asked)
  int lockIgnored = 0;         // lock commands answered as done, but no lock taken
  int lockReportsError = 0;    // lock commands that take the lock but answer kErrAccessRefused
  int unlockIgnored = 0;       // unlock commands answered as done, but the lock stays
  int unlockReportsError = 0;  // unlock commands that release but answer kErrAccessRefused
  // Requests not carried out, answered with a zero-filled response of the command's usual size
  // whose LEN says 8 (the header alone: no error code, no body).
  int headerOnlyLen = 0;
  int headerOnlyAfter = 0;  // requests carried out as usual before headerOnlyLen starts to hit
};

// One I2C transaction as the processor carried it out.
struct Transaction {
  uint64_t order = 0;  // the request's place among all requests (Machine::requests)
  uint8_t engine = 0;
  uint8_t address = 0;
  bool lockedTag = false;
  bool lockHeld = false;
  bool acked = false;  // a device answered (false: NAK, error code kErrNak)
  std::vector<uint8_t> write;
  size_t readLength = 0;      // bytes asked for
  std::vector<uint8_t> read;  // bytes the device returned (empty on NAK)
};

// One access request as the processor received it.
struct AccessRecord {
  uint64_t order = 0;   // the request's place among all requests (Machine::requests)
  uint16_t action = 0;  // 0 query, 1 lock, 2 unlock
  uint8_t engine = 0;
  uint8_t address = 0;
  uint32_t value = 0;
  uint32_t target = 0;  // the raw target field
  uint32_t errorCode = 0;
};

class Machine {
 public:
  // GET_STATUS: processor generation ("application") and firmware version major.minor.
  uint8_t generation = 4;
  uint8_t major = 2;
  uint8_t minor = 20;

  Bus bus;
  Faults faults;
  // Each delivered response first waits this long (through the platform's sleep).
  uint32_t latencyMs = 0;
  // A lock or unlock command takes effect this long after it is received (platform clock): until
  // then queries, and the devices, see the state before it. 0: at once.
  uint32_t accessSettleMs = 0;
  // A generated SMBIOS table for the boards (raw 'RSMB' form), when a board model makes one.
  std::vector<uint8_t> smbios;
  // The drive-bay boards buildBoards made (sim/board.h), in the order of "segments".
  std::vector<std::shared_ptr<SwitchCard>> cards;

  // Logs; recordTransactions = false keeps the I2C path free of allocations (benchmarks).
  bool recordTransactions = true;
  std::vector<Transaction> transactions;
  std::vector<AccessRecord> accessLog;
  uint64_t requests = 0;  // SMIF requests processed

  bool isLocked(uint8_t engine, uint8_t address) const;
  void setLocked(uint8_t engine, uint8_t address, bool locked);
  // Transactions on one device, in order.
  std::vector<Transaction> transactionsOn(uint8_t engine, uint8_t address) const;

  // Carries out one SMIF request of `length` bytes and writes the response (SEQ and CMD of the
  // request) into `response`; returns the response's length, at most `capacity` (which must be
  // at least kErrorResponseLen).
  size_t process(const uint8_t *request, size_t length, uint8_t *response, size_t capacity);

 private:
  bool headerOnly();  // the header-only switch hits this request
  uint32_t accessRequest(const uint8_t *request, size_t length, uint8_t *response);
  uint32_t i2cTransaction(const uint8_t *request, size_t length, uint8_t *response);

  std::set<std::pair<uint8_t, uint8_t>> locks_;
  // Lock changes not yet in effect: the state they set and the clock at which they take effect.
  std::map<std::pair<uint8_t, uint8_t>, std::pair<bool, uint64_t>> settling_;
  void requestLock(uint8_t engine, uint8_t address, bool locked);
  void settle();  // the changes whose time has come take effect
};

}  // namespace sim
