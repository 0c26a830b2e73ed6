// Inside the platform library: how the common code reaches the driver-installation backend of
// this build.
#pragma once

#include "tal/setup.h"

namespace tal::os::detail {

// The driver-installation host of this build (native/ or win32/), created on first use and
// never destroyed before the process ends.
SetupHost &builtinSetupHost();

}  // namespace tal::os::detail
