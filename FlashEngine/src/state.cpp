// The engine's one state object (state.h).
#include "state.h"

EngineState &engineState() {
  // Made on first use: natively the plug-in's load constructor may call into the engine before
  // this library's dynamic initialisers have run.
  static EngineState state;
  return state;
}
