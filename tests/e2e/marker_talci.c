/* A stand-in channel library that leaves a mark when anything loads it: the file named by
   TAL_MARKER gets one line. The e2e tests put it where no library may be taken from (the current
   folder, a folder anyone can write) and check that the mark never appears. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#include <windows.h>
#define MARKER_API __declspec(dllexport)
#else
#define MARKER_API __attribute__((visibility("default")))
#endif

static void leave_mark(void) {
  const char *path = getenv("TAL_MARKER");
  if (!path || !*path) return;
  FILE *f = fopen(path, "a");
  if (!f) return;
  fputs("marker channel library loaded\n", f);
  fclose(f);
}

#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) leave_mark();
  return TRUE;
}
#else
__attribute__((constructor)) static void on_load(void) { leave_mark(); }
#endif

/* The six functions, each failing, so that a host that did load this library cannot go on. */
MARKER_API uint32_t TalCiInitialize(uintptr_t arg) {
  (void)arg;
  leave_mark();
  return 77;
}
MARKER_API uint32_t TalCiCreate(uintptr_t arg, void **handle, uint32_t a, uint32_t b, uint32_t c,
                                uint32_t d, uint32_t flags, void *reserved) {
  (void)arg, (void)handle, (void)a, (void)b, (void)c, (void)d, (void)flags, (void)reserved;
  return 77;
}
MARKER_API uint32_t TalCiSend(void *handle, void *packet, uint32_t length, uint32_t *status,
                              uintptr_t reserved) {
  (void)handle, (void)packet, (void)length, (void)reserved;
  if (status) *status = 77;
  return 77;
}
MARKER_API uint32_t TalCiRecv(void *handle, void *buffer, uint32_t capacity, uint32_t *status,
                              uint32_t *wait) {
  (void)handle, (void)buffer, (void)capacity, (void)wait;
  if (status) *status = 77;
  return 0;
}
MARKER_API uint32_t TalCiClose(void *handle) {
  (void)handle;
  return 77;
}
MARKER_API const char *TalCiStatusMessage(uint32_t status) {
  (void)status;
  return "marker";
}
