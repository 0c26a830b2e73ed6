// Placeholder until the board models land: a description's segments add nothing.
#include "sim/board.h"

#include <nlohmann/json.hpp>

namespace sim {
void buildBoards(Machine &, const nlohmann::json &) {}
}  // namespace sim
