// The progress file: what an Install that flashes is doing, for whoever watches it (the host's
// setup program on a second thread, an administrator following the file). "talprogress.log" in
// the component log's folder, one JSON object a line (UTF-8, "\r\n"), each line written whole
// with one append, the file opened so that others may read it meanwhile:
//   {"v":1,"event":"start","ms":0,"devices":N}
//   per device due: "device" (index from 1, count, name, kind, versions, unit, total), a
//   "progress" line each time the whole percentage of units written changes (0 to 100), "end"
//   (result "success", "failed" or "skipped", and a text);
//   {"v":1,"event":"finish","ms":T,"result":R,"updated":K,"failed":F} with Install's result.
// "ms" counts from the start line on the platform's monotonic clock. Every call is a no-op while
// no run is being written, so the flash procedures report their units unconditionally.
#pragma once

#include <cstdint>
#include <string>

class DeviceObj;

// "%systemdrive%\\talsystem\\log\\" and "talprogress.log".
extern const wchar_t *const kProgressFolder;
extern const wchar_t *const kProgressName;

// An Install that flashes `devices` devices begins: the file is emptied and the start line
// written. A folder the logs may not be written in leaves no file (and nothing is said); a file
// that cannot be written is logged once in the engine log, and the update goes on without it.
void progressRunStart(int devices);
// An Install (not "-d") begins: an earlier run's file is emptied at once, so that nobody takes it
// for this run while the devices are discovered (no file is made).
void progressRunPending();
// An Install that flashes nothing: the file of an earlier run is removed (emptied when it cannot
// be), so that nobody takes it for this one.
void progressRunNone();
// A device's update begins. Its line waits for the procedure's total (progressTotal), or for its
// end when the procedure never got that far.
void progressDeviceStart(int index, int count, const DeviceObj &device);
// The units (Velto-E blocks, Velto-I pages) the procedure writes in all, once its image is
// loaded: the device line and the 0 % line.
void progressTotal(uint32_t total);
// Units written so far: a line when the whole percentage changes.
void progressAdvance(uint32_t done);
// The device's update ended: result "success", "failed" or "skipped", with a text.
void progressDeviceEnd(const char *result, const std::string &text);
// Install's result, the devices updated and those due and not updated; the file is closed.
void progressRunFinish(int result, int updated, int failed);
// Closes the file and forgets the run (the engine's cleanup, tests).
void resetProgress();
