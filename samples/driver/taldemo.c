/* The demo driver package's stand-in driver file: a module that does nothing, with a version
   resource (taldemo.rc) that the installed-version check reads. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) { return TRUE; }
