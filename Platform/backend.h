// Inside the platform library: how the common code reaches the backend of this build.
#pragma once

#include <cstdint>

#include "tal/channel_call.h"
#include "tal/platform.h"

namespace tal::os::detail {

// The backend object of this build (native/ or win32/), created on first use and never destroyed
// before the process ends.
Platform &builtinPlatform();

// The channel library's six functions, with the C signatures both platforms bind, and their
// exported names in the order of ChannelFunction.
using InitializeFn = uint32_t (*)(uintptr_t);
using CreateFn = uint32_t (*)(uintptr_t, void **, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                              void *);
using SendFn = uint32_t (*)(void *, void *, uint32_t, uint32_t *, uintptr_t);
using RecvFn = uint32_t (*)(void *, void *, uint32_t, uint32_t *, uint32_t *);
using CloseFn = uint32_t (*)(void *);
using StatusMessageFn = const char *(*)(uint32_t);
inline const char *const kChannelFunctionNames[kChannelCount] = {
    "TalCiInitialize", "TalCiCreate", "TalCiSend", "TalCiRecv", "TalCiClose", "TalCiStatusMessage"};

}  // namespace tal::os::detail
