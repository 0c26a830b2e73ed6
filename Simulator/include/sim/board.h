// Drive-bay board models built from a machine description's "segments" list.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include "sim/machine.h"

namespace sim {

// Attaches the boards the description's "segments" list names to the machine's bus (and may
// fill machine.smbios with a table for them). Called by configureMachine.
void buildBoards(Machine &machine, const nlohmann::json &description);

}  // namespace sim
