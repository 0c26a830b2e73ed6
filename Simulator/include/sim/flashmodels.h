// The flash target models' part of the machine description and of the
// simulator's record: the "loader" object of a card, the "cpld" object of a
// backplane, the "flash_random" section, and the JSON record of what each model
// was programmed with (Simulator/README.md).
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "sim/loader.h"
#include "sim/machxo2.h"
#include "sim/randomfaults.h"

namespace sim {

// Each throws std::invalid_argument naming `what` and the key on a value of the
// wrong kind or range, or on an unknown key.
void configureLoader(VlteLoader &loader, const nlohmann::json &entry, const std::string &what);
void configureCpld(MachXO2 &cpld, const nlohmann::json &entry, const std::string &what);
// "flash_random": {"seed", "write_fail", "read_fail", "flip"}; salt makes each
// device's sequence its own.
void configureRandom(RandomFaults &random, const nlohmann::json &entry, uint64_t salt,
                     const std::string &what);

nlohmann::json loaderRecord(const VlteLoader &loader);
nlohmann::json cpldRecord(const MachXO2 &cpld);

}  // namespace sim
