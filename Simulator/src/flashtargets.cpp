// Placeholder until the flash target models land.
#include "sim/flashtargets.h"

#include <nlohmann/json.hpp>

namespace sim {
void buildFlashTargets(Machine &, const nlohmann::json &) {}
}  // namespace sim
