// The plug-in boundary that every plug-in of the framework shares: the one component of the
// process, the logic of the three exports, and process attach and detach. A plug-in names its
// component and what it adds around the base behaviour through a Binding; its exports.cpp holds
// only the exported names and the library's entry point (so that tests drive the same logic
// in-process).
#pragma once

#include <cstdint>
#include <exception>
#include <mutex>

#include "basecomp.h"

namespace tal::plugin {

constexpr uint32_t kInterfaceVersion = 100;

// What one plug-in adds to the shared boundary.
class Binding {
 public:
  // The plug-in's one component (called once per attach, under the loader lock: it must only
  // construct).
  virtual CBaseComponent *Create(void *module) = 0;
  // The GetProperty export once the component exists and has initialised. By default the base
  // dispatch: 1 when it answered, else 0.
  virtual int32_t GetProperty(CBaseComponent &component, uint32_t type, void *buffer, uint32_t size,
                              const wchar_t *lang);
  // Unload of the library (not process exit), before the component is destroyed.
  virtual void Unload() {}
  // A further destination for what an export caught (the component log is always written).
  virtual void LogCaught(const char *where, const char *what) {}

 protected:
  ~Binding() = default;
};

// The binding of the plug-in being built: defined once by each plug-in's component file.
Binding &PluginBinding();

// The one component of the process (attach to detach), or null.
CBaseComponent *Component();

// The one lock of the plug-in: every export runs under it, start to end, so that a host calling
// from several threads gets one call at a time (a property query waits for a running Install).
// Recursive: a call made from inside an export (a host callback that calls back in) goes on.
std::recursive_mutex &ExportLock();

// The exports' behaviour. A null buffer returns 0 and touches nothing; no exception leaves them.
// Each holds ExportLock() for the whole call.
int32_t ExportGetInterfaceVersion(uint32_t *version);
int32_t ExportGetProperty(uint32_t type, void *buffer, uint32_t size, const wchar_t *lang);
int32_t ExportInstall(uint32_t a, void *b, wchar_t *resultText, uint32_t d, const wchar_t *lang);

// Process attach: stores the module handle and creates the binding's component, nothing more (it
// runs under the loader lock, where loading libraries or calling the setup library may deadlock).
void ProcessAttach(void *module, Binding &binding);
// The component's Initialize, once per attach, on the first call of any export before that
// call's own work.
void EnsureInitialized();
// Process detach. On an unload of the library (FreeLibrary, dlclose): the binding's unload step,
// then the component is destroyed. At process exit (processExit): nothing, since it would call
// into other libraries, which may be gone, from inside the loader lock; the system reclaims the
// process's resources.
void ProcessDetach(bool processExit = false);

// What an export caught, written to the binding's destination and to the component log (when
// there is one) before the export returns its failure result. Never throws.
void LogCaught(const char *where, const std::exception *caught);

}  // namespace tal::plugin
