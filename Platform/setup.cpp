// The current driver-installation host.
#include "setup_backend.h"

namespace tal::os {

namespace {
SetupHost *g_installed = nullptr;
}

SetupHost &setup() { return g_installed ? *g_installed : detail::builtinSetupHost(); }

void setSetupHost(SetupHost *host) { g_installed = host; }

}  // namespace tal::os
