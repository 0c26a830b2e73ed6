// Flashable device models (the programmable parts behind the boards), built from a machine
// description after the boards.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include "sim/machine.h"

namespace sim {

// Called by configureMachine after buildBoards.
void buildFlashTargets(Machine &machine, const nlohmann::json &description);

}  // namespace sim
