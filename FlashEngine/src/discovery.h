// Device discovery: the switch cards named by the SMBIOS device-correlation records, and the
// backplanes behind each card, read over I2C through the management processor.
#pragma once

#include <cstdint>
#include <string>

// The product name that identifies a Velto-E switch card.
extern const char *const VLTE_CARD_NAME;  // "Orvo Varibay 6 HDD Switch Card"

void scanDeviceCorrelation();
void discoverVlteSegment(uint8_t segment);
std::string readVlteVersion(uint8_t segment, bool locked);
bool readVltiInfo(int backplane, uint8_t segment, std::string &productName, std::string &version,
                  bool locked);

// Tests: forgets the cards counted so far (a scan starts its own count).
void resetDiscovery();
