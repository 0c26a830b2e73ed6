#include "channel_binding.h"

namespace tal::os::detail {

bool ChannelBinding::load() {
  if (!loadTried_) {
    loadTried_ = true;
    loaded_ = open(search_);
  }
  return loaded_;
}

bool ChannelBinding::bound(ChannelFunction which) {
  if (!tried_[which]) {
    tried_[which] = true;
    if (load()) functions_[which] = lookUp(kChannelFunctionNames[which]);
  }
  return functions_[which] != nullptr;
}

uint32_t ChannelBinding::call(ChannelCall &c) {
  if (!bound(c.function)) return missing(c);
  // Each function as its C type; only the one just bound is called.
  const struct {
    InitializeFn initialize;
    CreateFn create;
    SendFn send;
    RecvFn recv;
    CloseFn close;
    StatusMessageFn statusMessage;
  } functions = {address<InitializeFn>(kInitialize),
                 address<CreateFn>(kCreate),
                 address<SendFn>(kSend),
                 address<RecvFn>(kRecv),
                 address<CloseFn>(kClose),
                 address<StatusMessageFn>(kStatusMessage)};
  return callThrough(functions, c);
}

}  // namespace tal::os::detail
