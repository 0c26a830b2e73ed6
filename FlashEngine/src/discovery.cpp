// Placeholder until discovery lands: finds nothing.
#include "discovery.h"

const char *const VLTE_CARD_NAME = "Orvo Varibay 6 HDD Switch Card";
void scanDeviceCorrelation() {}
void discoverVlteSegment(uint8_t) {}
std::string readVlteVersion(uint8_t, bool) { return "0.00"; }
bool readVltiInfo(int, uint8_t, std::string &, std::string &, bool) { return false; }
