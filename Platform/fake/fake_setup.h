// A driver-installation host for tests: the simulated Windows host (tal/simsetup.h) with a state
// the test sets (registry, services, present devices, files in use, queue notifications to
// deliver) and the record of every change to read back. Construct one and it installs itself;
// its destructor restores the previous host.
#pragma once

#include "tal/simsetup.h"

namespace tal::os {

class FakeSetupHost : public SimSetupHost {
 public:
  FakeSetupHost();
  ~FakeSetupHost() override;
  FakeSetupHost(const FakeSetupHost &) = delete;
  FakeSetupHost &operator=(const FakeSetupHost &) = delete;

  // The events of one operation name, in order.
  std::vector<SimEvent> eventsOf(const char *op) const;
  // The value of a field of an event ("" when absent).
  static std::wstring field(const SimEvent &event, const char *name);

 private:
  SetupHost *previous_;
};

}  // namespace tal::os
