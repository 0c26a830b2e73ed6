// Placeholder until the engine driver lands: an engine with no devices.
#include "engine.h"

int getInstallState() { return ENGINE_STATE_NOTHING; }
int flashDevices() { return ENGINE_FLASH_OK; }
const char *getUpdateListText() { return ""; }
void cleanupEngine() {}
void setForceFlag(bool) {}
void setForceFlashForAll() {}
void resetEngine() {}
