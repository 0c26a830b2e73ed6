// A plug-in's three exports and its process entry point, compiled into each plug-in (install,
// drvinstall). The behaviour is in boundary.cpp; the plug-in's binding names its component.
#include <cstdint>

#include "boundary.h"

#if defined(_WIN32)
#include <windows.h>
#define TAL_EXPORT  // exported by name through the plug-in's .def file
#else
#include <dlfcn.h>
#define TAL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

TAL_EXPORT int32_t GetInterfaceVersion(uint32_t *version) {
  return tal::plugin::ExportGetInterfaceVersion(version);
}

TAL_EXPORT int32_t GetProperty(uint32_t type, void *buffer, uint32_t size, const wchar_t *lang) {
  return tal::plugin::ExportGetProperty(type, buffer, size, lang);
}

TAL_EXPORT int32_t Install(uint32_t a, void *b, wchar_t *resultText, uint32_t d,
                           const wchar_t *lang) {
  return tal::plugin::ExportInstall(a, b, resultText, d, lang);
}

}  // extern "C"

#if defined(_WIN32)

// A non-null reserved argument at detach means the process is ending (not a FreeLibrary): then
// the handler calls into no other library.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH)
    tal::plugin::ProcessAttach(instance, tal::plugin::PluginBinding());
  if (reason == DLL_PROCESS_DETACH) tal::plugin::ProcessDetach(reserved != nullptr);
  return TRUE;  // thread attach and detach: nothing
}

#else

// Natively the library's load and unload play process attach and detach. The module handle is
// the library's load address. The load constructor may run before the dynamic initialisers of
// the static libraries linked after this file, so attach touches only the framework and the
// platform (whose globals are constant-initialised or function-local); the unload destructor runs
// before the library's static objects are destroyed, so detach may clean up the engine.
namespace {

__attribute__((constructor)) void OnLibraryLoad() {
  Dl_info info{};
  void *base = nullptr;
  if (dladdr(reinterpret_cast<void *>(&OnLibraryLoad), &info)) base = info.dli_fbase;
  tal::plugin::ProcessAttach(base, tal::plugin::PluginBinding());
}

__attribute__((destructor)) void OnLibraryUnload() { tal::plugin::ProcessDetach(); }

}  // namespace

#endif
