// The simulated server for a benchmark or a fuzz target (no test framework): a scratch folder
// (the current directory while it lives), the fake platform (its clock records every sleep) with
// the in-process simulated management processor as its channel library.
#pragma once

#include "fake_platform.h"
#include "sim/machine.h"
#include "sim/simchannel.h"

namespace testserver {

struct SimServer {
  SimServer() { fake.channel = &channel; }
  tal::os::ScratchDir scratch;
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel channel{machine};
};

}  // namespace testserver
