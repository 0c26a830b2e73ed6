// The flash targets of a machine description: the programmable parts behind the boards (a Velto-E
// loader per card at 0x82, a MachXO2-4000 per backplane at 0x80), built after the boards, and the
// record of what each was programmed with (Simulator/README.md, "Flash targets").
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "sim/machine.h"

namespace sim {

// Called by configureMachine after buildBoards: attaches a loader to every card of
// machine.cards and a CPLD to every backplane (a "loader": false or "cpld": false leaves the slot
// empty), applies their failure switches and "flash_random", and remembers "flash_record".
// Throws std::invalid_argument on a bad value.
void buildFlashTargets(Machine &machine, const nlohmann::json &description);

// The record of the machine's flash targets (see the README); with an image prefix, each
// device's image is written to "<prefix>.s<segment>.vlte.bin" or
// "<prefix>.s<segment>.p<port>.vlti.bin" and named in the record.
nlohmann::json flashRecord(const Machine &machine, const std::string &imagePrefix = "");
// Writes the record (and the images beside it) to the description's "flash_record" file; false
// when none was named or it could not be written. Also done for every machine still known when
// the process ends (the channel library's machine lives until then).
bool writeFlashRecord(const Machine &machine);
// Drops what is kept about a machine that is going away (tests).
void forgetFlashTargets(const Machine &machine);

}  // namespace sim
