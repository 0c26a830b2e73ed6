#include "fake_setup.h"

#include <cstring>

namespace tal::os {

FakeSetupHost::FakeSetupHost() : previous_(&setup()) { setSetupHost(this); }

FakeSetupHost::~FakeSetupHost() { setSetupHost(previous_); }

std::vector<SimEvent> FakeSetupHost::eventsOf(const char *op) const {
  std::vector<SimEvent> out;
  for (const SimEvent &e : events)
    if (e.op == op) out.push_back(e);
  return out;
}

std::wstring FakeSetupHost::field(const SimEvent &event, const char *name) {
  for (const auto &f : event.fields)
    if (f.first == name) return f.second;
  return std::wstring();
}

}  // namespace tal::os
