// The driver-package plug-in's binding: its one component is the framework's base component,
// with every operation as the framework has it (the package definition and installer XML, the
// pre-installation checks of property 5, and the LEGACY, PNP and VIRTUAL installation steps).
#include "boundary.h"

namespace {

class DriverPackageBinding final : public tal::plugin::Binding {
 public:
  CBaseComponent *Create(void *module) override { return new CBaseComponent(); }
};

}  // namespace

tal::plugin::Binding &tal::plugin::PluginBinding() {
  static DriverPackageBinding binding;
  return binding;
}
