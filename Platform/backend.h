// Inside the platform library: how the common code reaches the backend of this build.
#pragma once

#include "tal/platform.h"

namespace tal::os::detail {

// The backend object of this build (native/ or win32/), created on first use and never destroyed
// before the process ends.
Platform &builtinPlatform();

}  // namespace tal::os::detail
