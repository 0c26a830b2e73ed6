// Placeholder until the flash tasks land: every task is the base task, which flashes nothing.
#include "flashtask.h"

FlashTaskVelto::~FlashTaskVelto() = default;
int FlashTaskVelto::Flash() { return -1; }
bool FlashTaskVelto::initFlashing() { return false; }
int FlashTaskVelto::startFlashing() { return -1; }
FwHeaderInfo FlashTaskVelto::parseFwFile() { return {}; }
bool FlashTaskVelto::loadPayload() { return false; }
const char *deviceTypeName(int) { return "Invalid"; }
const char *chipName(int) { return "Invalid"; }
bool checkFwHeader(const FwHeaderInfo &, int) { return false; }
std::unique_ptr<FlashTaskVelto> createFlashTask(int type, int, int, std::string, int) {
  if (type != 1 && type != 2) return nullptr;
  return std::make_unique<FlashTaskVelto>();
}
