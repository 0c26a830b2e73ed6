// The machine description: the JSON file (named by TAL_MACHINE for the channel library build)
// that says what the simulated management processor is and what hangs on its I2C segments.
// Schema in Simulator/README.md. Every key is optional.
#pragma once

#include <iosfwd>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "sim/machine.h"

namespace sim {

// Applies a description to a machine: "processor", "latency_ms", "faults", "locks", then the
// board models (buildBoards) and the flash targets (buildFlashTargets). Throws
// std::runtime_error (or nlohmann::json::exception) on a value of the wrong kind or range.
void configureMachine(Machine &machine, const nlohmann::json &description);

// Reads the file and applies it. False, with the reason in *error, when it cannot be read, is not
// JSON, or holds a bad value; the machine may then be partly configured.
// With replay, the capture named by "replay" (a path relative to the description's folder unless
// absolute; empty when the key is absent) is handed back for the channel library to play, and
// with replayDelays whether "replay_delays" (true or false, default false) asks for the recorded
// timing.
bool loadMachineDescription(Machine &machine, const std::string &path, std::string *error,
                            std::string *replay = nullptr, bool *replayDelays = nullptr);

// Opens a file the simulator reads (a description, a capture) in binary mode; false when it
// cannot be opened. Under wine a Linux path is reached through the Z: drive.
bool openInput(const std::string &path, std::ifstream &in);

}  // namespace sim
