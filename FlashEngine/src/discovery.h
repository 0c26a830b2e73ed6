// Device discovery: the switch cards named by the SMBIOS device-correlation records, and the
// backplanes behind each card, read over I2C through the management processor.
//
// Every read of discovery (a card's name and version, a backplane's presence, name and version,
// with the handshake and port selection they need) that fails is tried again, kReadAttempts times
// in all, releasing and re-taking what it took: one failed answer changes nothing that discovery
// reports. A version that still cannot be read is "unknown", with the read that failed; a card or
// backplane whose presence cannot be told leaves discovery incomplete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The product name that identifies a Velto-E switch card.
extern const char *const VLTE_CARD_NAME;  // "Orvo Varibay 6 HDD Switch Card"

// Attempts per discovery read.
constexpr int kReadAttempts = 3;
void scanDeviceCorrelation();
void discoverVlteSegment(uint8_t segment);

// The card's version ("%x.%02x" of registers 0x51 and 0x50 at 0xEC, after the handshake's
// release), or kVersionUnknown (device.h) when no attempt read it; *failedRead then says which read
// failed.
std::string readVlteVersion(uint8_t segment, bool locked, std::string *failedRead = nullptr);

// One backplane behind a card's port.
struct BackplaneRead {
  enum Presence { Absent, Present, Undetermined };
  Presence presence = Absent;
  std::string productName;    // empty when the name could not be read
  std::string version;        // kVersionUnknown when it could not be read
  std::string versionFailed;  // which read of the version failed (version unknown)
  std::string nameFailed;     // which read of the name failed
  std::string failed;         // Undetermined: what failed on the last attempt
};
BackplaneRead readBackplane(int backplane, uint8_t segment, bool locked);
// The plain form: true when a backplane answers behind the port (its name and version, the
// version kVersionUnknown when unreadable).
bool readVltiInfo(int backplane, uint8_t segment, std::string &productName, std::string &version,
                  bool locked);

// What the last scan could not read, one plain sentence per card or backplane (no line end), and
// whether a card or backplane may have been left out because its presence could not be told.
const std::vector<std::string> &discoveryNotes();
bool discoveryIncomplete();

// Tests: forgets the cards counted so far and the notes (a scan starts its own).
void resetDiscovery();
