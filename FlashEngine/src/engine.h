// The flash engine's entry points for the flash component, their result codes, and the engine's
// options. The engine is procedural and single-threaded: program-wide options and state, one
// device list, one channel.
#pragma once

#include <string>

// The codes of the Install result table, the contract with the host: the text each appends to
// the host's buffer (InstallResultText) and the result Install returns for it
// (InstallResultFromEngine). Codes above 12 and negative ones have no row.
enum ResultTableCode : int {
  RESULT_COMPLETED_0 = 0,       // "Installation completed successfully." as 1 does
  RESULT_COMPLETED = 1,         // "Installation completed successfully." and the power cycle
  RESULT_UPGRADE_OK = 2,        // "UPGRADE- OK"
  RESULT_REWRITE_OK = 3,        // "Rewrite OK"
  RESULT_DOWNGRADE_OK = 4,      // "Downgrade OK"
  RESULT_NO_DEVICE = 5,         // "No Device Found"
  RESULT_USER_INTERRUPTED = 6,  // "User Interrupted"
  RESULT_ERROR = 7,             // "Error"
  RESULT_ERROR_OTHER = 8,       // "Error - Other"
  RESULT_CRITICAL_ERROR = 9,    // "Critical Error"
  RESULT_ERROR_10 = 10,         // "Error", as 7
  RESULT_ERROR_11 = 11,         // "Error", as 7
  RESULT_DISCOVERY_DONE = 12,   // "Discovery Successful"
};

// Result codes of the entry points. flashDevices answers with the codes of the Install result
// table whose text is true of what happened, and ENGINE_NOTHING_DUE.
enum EngineCode : int {
  // flashDevices: every marked device was flashed (at least one)
  ENGINE_FLASH_OK = RESULT_COMPLETED,
  // getInstallState: at least one device older than the package
  ENGINE_STATE_OLDER = 2,
  // getInstallState: no device older or newer, at least one with the package version
  ENGINE_STATE_SAME = 3,
  // getInstallState: no device older, at least one newer
  ENGINE_STATE_NEWER = 4,
  // getInstallState: not the first call, init failed, nothing compared, report mode
  ENGINE_STATE_NOTHING = 5,
  // flashDevices: discovery found no device ("No Device Found")
  ENGINE_NO_DEVICE = RESULT_NO_DEVICE,
  // flashDevices: a marked device was not flashed, or nothing could be done (no channel, no
  // processor, no package); see the detail
  ENGINE_FLASH_FAILED = RESULT_ERROR,
  // flashDevices in "-d" mode: the report was written
  ENGINE_DISCOVERY_DONE = RESULT_DISCOVERY_DONE,
  // the process command line was not available
  ENGINE_NO_COMMAND_LINE = 13,
  // flashDevices: devices found, none due for an update
  ENGINE_NOTHING_DUE = 14,
  // getInstallState: no device older, and discovery could not tell whether a card or backplane
  // is there (none is forced)
  ENGINE_STATE_INCOMPLETE = 15,
};

// --- entry points for the flash component ---
int getInstallState();
// Flashes the marked devices. When no installation-state query came first, runs it first (without
// the component's forcing): an Install then does what the package is for, and reports it truly.
int flashDevices();
// The lines that follow the result table's text for the last flashDevices: why nothing could be
// done, one line per device not updated with its state, devices left locked, backplane buses left
// taken, devices whose version was unknown, what discovery could not read. Each line ends in
// "\r\n"; "" when there is nothing to add (a plain successful flash).
const std::string &getInstallResultDetail();
// Ends the progress file of the last flashDevices that flashed with Install's result (0, 1, 2).
void finishInstallProgress(int installResult);
const char *getUpdateListText();
// The update list is handed to the host once a load: pending until it has been.
bool updateListPending();
void markUpdateListGiven();
void cleanupEngine();
void setForceFlag(bool on);
void setForceFlashForAll();

// --- the rest of the driver ---
int parseCommandLine();
bool initEngine();
bool checkDependency();
// The management processor's minimum: generation 4 with version 2.20 (major and minor compared
// as a pair), or any later generation.
bool ostVersionMeetsMinimum(int generation, int major, int minor);
void flashVltDevices();
int countFlashNeeded();
int countFlashSucceeded();
void markFlashNeededByState(int updateState);
void printDeviceInfo();
void deleteDevices();
void clearComponent();

void setDowngradeFlag(bool on);
void setRewriteFlag(bool on);
void setSilentFlag(bool on);
void setSelfDiscoveryFlag(bool on);
void setSelfDiscoveryFile(const char *name);

bool getForceFlag();
bool getDowngradeFlag();
bool getRewriteFlag();
bool getSilentFlag();
bool getSelfDiscoveryFlag();
std::string getSelfDiscoveryFile();

// Back to the state at load, whole (tests, between runs): the channel closed, the progress file
// closed, then every option, answer, device, package and log setting as a fresh load has them.
void resetEngine();
