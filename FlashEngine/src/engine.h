// The flash engine's entry points for the flash component, their result codes, and the engine's
// options. The engine is procedural and single-threaded: program-wide options and state, one
// device list, one channel.
#pragma once

#include <string>

// Result codes of the entry points.
enum EngineCode : int {
  ENGINE_FLASH_OK = 1,         // flashDevices: every marked device was flashed (or none marked)
  ENGINE_STATE_OLDER = 2,      // getInstallState: at least one device older than the package
  ENGINE_STATE_SAME = 3,       // no device older or newer, at least one with the package version
  ENGINE_STATE_NEWER = 4,      // no device older, at least one newer
  ENGINE_STATE_NOTHING = 5,    // not the first call, init failed, nothing compared, report mode
  ENGINE_FLASH_FAILED = 7,     // at least one marked device was not flashed
  ENGINE_NO_COMMAND_LINE = 13  // the process command line was not available
};

// --- entry points for the flash component ---
int getInstallState();
int flashDevices();
const char *getUpdateListText();
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

// Tests: back to the state at load (options default, flags clear, list empty, channel closed,
// configuration info released, engine log reset).
void resetEngine();
