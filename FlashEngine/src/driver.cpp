// The flash engine's driver: the options read from the process command line, the one-time
// initialisation with the dependency check on the management processor, the installation-state
// decision, the flash run over the device list, and the engine's entry points.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel/smif.h"
#include "channel/transport.h"
#include "configinfo.h"
#include "device.h"
#include "discovery.h"
#include "engine.h"
#include "flashtask.h"
#include "log.h"
#include "progress.h"
#include "report.h"
#include "state.h"
#include "tal/platform.h"

namespace {

constexpr size_t kMaxArguments = 32;
constexpr size_t kUpdateEntrySize = 250;  // an entry holds at most 249 characters

EngineOptions &options() { return engineState().options; }
DriverState &driver() { return engineState().driver; }

// The "-log_level" value: decimal as atoi reads it (leading blanks and a sign allowed, reading
// stops at the first non-digit, no digits gives 0), saturated to the int range.
int readLogLevel(const std::string &text) {
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void logDevice(const char *prefix, const DeviceObj *d) {
  logMessage(LOG_VERBOSE,
             "%sObject Name: %s Product Name: %s Version: %s Type: %d Idx: %d "
             "SegmentIdx: 0x%02x "
             "AddrSlv: 0x%02x flashNeeded: %d updateState: %d\n",
             prefix, d->getObjectName().c_str(), d->getProductName().c_str(),
             d->getVersion().c_str(), d->getType(), d->getIdx(), d->getSegmentIdx(),
             d->getSlaveAddr(), d->getFlashNeeded() ? 1 : 0, d->getUpdateState());
}

}  // namespace

// --- options ---

namespace {

void setFlag(bool &flag, const char *name, bool on) {
  flag = on;
  logMessage(LOG_VERBOSE, "%s set to %d\n", name, on ? 1 : 0);
}

}  // namespace

void setForceFlag(bool on) { setFlag(options().force, "force flag -f", on); }
void setDowngradeFlag(bool on) { setFlag(options().downgrade, "downgrade flag -g", on); }
void setRewriteFlag(bool on) { setFlag(options().rewrite, "rewrite flag -e", on); }
void setSilentFlag(bool on) { setFlag(options().silent, "silent flag -s", on); }
void setSelfDiscoveryFlag(bool on) {
  setFlag(options().selfDiscovery, "self discovery flag -d", on);
}
void setSelfDiscoveryFile(const char *name) {
  options().selfDiscoveryFile = name ? name : "";
  logMessage(LOG_VERBOSE, "self discovery file %s\n", options().selfDiscoveryFile.c_str());
}

bool getForceFlag() { return options().force; }
bool getDowngradeFlag() { return options().downgrade; }
bool getRewriteFlag() { return options().rewrite; }
bool getSilentFlag() { return options().silent; }
bool getSelfDiscoveryFlag() { return options().selfDiscovery; }
std::string getSelfDiscoveryFile() { return options().selfDiscoveryFile; }

int parseCommandLine() {
  tal::os::Platform &os = tal::os::sys();
  std::vector<std::wstring> wide;
  if (!os.commandLineArguments(wide)) {
    logMessage(LOG_VERBOSE, "Command line argument retrieval error\r\n");
    return -1;
  }
  if (wide.size() > kMaxArguments) {
    logMessage(LOG_VERBOSE, "Only 32 arguments supported. Extra arguments will be ignored\r\n");
    wide.resize(kMaxArguments);
  }
  // Every argument, the program path included, in the ANSI code page. An argument is kept whole (it
  // is never cut at a fixed slot size), so a long report file name is taken as given.
  std::vector<std::string> arg;
  arg.reserve(wide.size());
  for (const std::wstring &w : wide) arg.push_back(os.toAnsi(w));

  for (size_t i = 0; i < arg.size(); ++i) {
    const std::string &a = arg[i];
    const bool hasNext = i + 1 < arg.size();
    if ((a == "-d" || a == "/d") && hasNext) {
      setSelfDiscoveryFlag(true);
      setSelfDiscoveryFile(arg[i + 1].c_str());
      logMessage(LOG_VERBOSE, "self-discovery file: %s \r\n", arg[i + 1].c_str());
    } else if (a == "-f" || a == "/f" || a == "-force" || a == "/force") {
      setForceFlag(true);
    } else if (a == "-s" || a == "/s" || a == "-silent" || a == "/silent") {
      setSilentFlag(true);
    } else if ((a == "-log_level" || a == "/log_level") && hasNext) {
      const int level = readLogLevel(arg[i + 1]);
      setLogLevel(level);
      logMessage(LOG_VERBOSE, "setting verbose log level to %d\n", level);
    } else if (a == "-e" || a == "/e") {
      setRewriteFlag(true);
    } else if (a == "-g" || a == "/g") {
      setDowngradeFlag(true);
    }
  }
  return 0;
}

// --- initialisation ---

bool ostVersionMeetsMinimum(int generation, int major, int minor) {
  if (generation > 4) return true;
  if (generation < 4) return false;
  return major > 2 || (major == 2 && minor >= 20);
}

bool checkDependency() {
  uint8_t generation = 0, major = 0, minor = 0;
  // One failed answer does not make the processor unusable: the query is asked again.
  bool answered = false;
  for (int attempt = 1; attempt <= kReadAttempts && !answered; ++attempt) {
    answered = getOstStatus(&generation, &major, &minor);
  }
  if (!answered) {
    logMessage(LOG_ALL, "Failed to get Ost status.\r\n");
    driver().unusable = "the management processor did not answer its status query";
    return false;
  }
  if (ostVersionMeetsMinimum(generation, major, minor)) return true;
  logMessage(LOG_ALL,
             "Check dependency failed.\r\nCurrent version: Ost%d "
             "%d.%d.\r\nMinimum version "
             "required: Ost%d %d.%d\r\n",
             generation, major, minor, 4, 2, 20);
  char text[160];
  std::snprintf(text, sizeof text,
                "the management processor's firmware is too old (Ost%d %d.%d; Ost%d %d.%d or "
                "later is required)",
                generation, major, minor, 4, 2, 20);
  driver().unusable = text;
  return false;
}

bool initEngine() {
  if (driver().initialised) return checkDependency();
  driver().initialised = true;
  if (!openChannel()) {
    logMessage(LOG_ALL, "initialize channel interface failed.\r\n");
    driver().unusable = tal::os::sys().channelLibraryPresent()
                            ? "the channel to the management processor could not be opened"
                            : "the channel library TalCi.dll could not be loaded";
    return false;
  }
  if (!createConfigInfo("")) {
    logMessage(LOG_ALL, "create config info failed.\r\n");
    driver().unusable = "the package could not be read: " + configInfoFailure();
    return false;
  }
  return checkDependency();
}

// --- installation state ---

int getInstallState() {
  if (driver().installStateAsked) return ENGINE_STATE_NOTHING;
  driver().installStateAsked = true;
  if (parseCommandLine() != 0) {
    driver().unusable = "the process command line could not be read";
    return ENGINE_NO_COMMAND_LINE;
  }
  if (driver().forInstall && !options().selfDiscovery) progressRunPending();
  if (!initEngine()) return ENGINE_STATE_NOTHING;
  scanDeviceCorrelation();
  printDeviceInfo();
  if (options().selfDiscovery) {
    driver().reportWritten = generateSelfDiscoverXML(&driver().reportFailure);
    return ENGINE_STATE_NOTHING;
  }
  bool older = false, same = false, newer = false;
  for (DeviceObj *d : deviceList()) {
    switch (d->getUpdateState()) {
      case UPDATE_DOWNGRADE:
        newer = true;
        break;
      case UPDATE_REWRITE:
        same = true;
        break;
      case UPDATE_UPGRADE:
        older = true;
        d->setFlashNeeded(true);
        break;
      default:
        break;
    }
  }
  if (options().force) {
    markFlashNeededByState(UPDATE_REWRITE);
    markFlashNeededByState(UPDATE_DOWNGRADE);
  }
  if (options().downgrade) markFlashNeededByState(UPDATE_DOWNGRADE);
  if (options().rewrite) markFlashNeededByState(UPDATE_REWRITE);
  if (older) return ENGINE_STATE_OLDER;
  // States 3 and 4 make the component force every listed device (a rewrite, a downgrade). When a
  // card or backplane may be missing from the list, an older one may be among them: nothing is
  // decided for the devices that were not seen.
  if ((newer || same) && discoveryIncomplete()) {
    logMessage(LOG_ALL,
               "Discovery could not read every card and backplane: the installation state is "
               "not decided, and no device is forced.\r\n");
    return ENGINE_STATE_INCOMPLETE;
  }
  if (newer) return ENGINE_STATE_NEWER;
  if (same) return ENGINE_STATE_SAME;
  return ENGINE_STATE_NOTHING;
}

void markFlashNeededByState(int updateState) {
  for (DeviceObj *d : deviceList()) {
    if (d->getUpdateState() == updateState) d->setFlashNeeded(true);
  }
}

void setForceFlashForAll() {
  if (!options().force) return;
  logMessage(LOG_VERBOSE, "setForceFlashForAll\n");
  for (DeviceObj *d : deviceList()) d->setFlashNeeded(true);
}

int countFlashNeeded() {
  int n = 0;
  for (const DeviceObj *d : deviceList()) n += d->getFlashNeeded() ? 1 : 0;
  return n;
}

int countFlashSucceeded() {
  int n = 0;
  for (const DeviceObj *d : deviceList()) n += d->getFlashSucceeded() ? 1 : 0;
  return n;
}

void printDeviceInfo() {
  logMessage(LOG_VERBOSE, "Device info:\n");
  for (const DeviceObj *d : deviceList()) logDevice("", d);
}

// --- flashing ---

namespace {

const char *stateWords(int state) {
  switch (state) {
    case STATE_NOT_CHANGED:
      return "not changed";
    case STATE_ERASED:
      return "firmware erased, not rewritten: the device will not work until this update is run "
             "again; do not power the server off";
    default:
      return "state unknown: run the update again";
  }
}

}  // namespace

void flashVltDevices() {
  logMessage(LOG_VERBOSE, "flash Vlt Devices starts...\n");
  const int due = countFlashNeeded();
  int index = 0;
  for (DeviceObj *d : deviceList()) {
    if (!d->getFlashNeeded()) continue;
    logDevice("flash Vlt Devices: ", d);
    progressDeviceStart(++index, due, *d);
    const std::string object = d->getObjectName();
    const std::string product = d->getProductName();
    std::unique_ptr<FlashTaskVelto> task = createFlashTask(
        d->getType(), d->getSegmentIdx(), d->getSlaveAddr(), d->getFwFile(), d->getIdx());
    if (!task) {
      logMessage(LOG_VERBOSE, "unsupported device: %s\n", product.c_str());
      d->setFlashSucceeded(false);
      FlashOutcome unsupported;
      unsupported.failedStep = "choosing its flash procedure (device type " +
                               std::to_string(d->getType()) + " is not supported)";
      d->setFlashOutcome(unsupported);
      progressDeviceEnd("skipped", unsupported.failedStep + " failed: not changed.");
      continue;
    }
    logMessage(LOG_VERBOSE, "Flash started at %s\n", timeStamp());
    logMessage(LOG_ALL,
               "Updating '%s: %s' from %s to %s.\r\nThis may take up to 5 "
               "minutes. Please "
               "wait...\r\n",
               object.c_str(), product.c_str(), d->getVersion().c_str(),
               d->getPackageVersion().c_str());
    const int code = task->Flash();
    FlashOutcome outcome = task->outcome();
    if (code != 0 && outcome.failedStep.empty()) {
      // A failure the procedure did not name: nothing is known of the device.
      outcome.failedStep = "the update";
      outcome.state = STATE_UNKNOWN;
    }
    if (code == 0) outcome.failedStep.clear();
    d->setFlashOutcome(outcome);
    if (code != 0) {
      logMessage(LOG_ALL, "Update failed: '%s: %s'. Error code: %d\r\n\n", object.c_str(),
                 product.c_str(), code);
      d->setFlashSucceeded(false);
      progressDeviceEnd("failed",
                        outcome.failedStep + " failed: " + stateWords(outcome.state) + ".");
    } else {
      logMessage(LOG_ALL, "Update success: '%s: %s'\r\n\n", object.c_str(), product.c_str());
      d->setFlashSucceeded(true);
      progressDeviceEnd("success",
                        "updated from " + d->getVersion() + " to " + d->getPackageVersion());
    }
    logMessage(LOG_VERBOSE, "Flash finished at %s\n", timeStamp());
  }
}

namespace {

// "Controller card 1: <product> (segment 1)", "Backplane 2: <product> (segment 1, port 1)".
std::string deviceLabel(const DeviceObj *d) {
  char place[64];
  if (d->getType() == DEVICE_VELTO_I) {
    std::snprintf(place, sizeof place, "segment %d, port %d", d->getSegmentIdx(), d->getIdx());
  } else {
    std::snprintf(place, sizeof place, "segment %d", d->getSegmentIdx());
  }
  return d->getObjectName() + ": " + d->getProductName() + " (" + place + ")";
}

// One detail line: kept for the result text (the flash component writes the lines to its log
// with it), and written to the engine log.
void detail(const std::string &line) {
  logMessage(LOG_VERBOSE, "%s\r\n", line.c_str());
  driver().installDetail += line;
  driver().installDetail += "\r\n";
}

// The lines that belong to every answer after discovery: devices left locked, backplane buses
// left taken, unknown versions flashed, what discovery could not read.
void afterDiscoveryDetail() {
  for (const DeviceObj *d : deviceList()) {
    if (d->getFlashNeeded() && d->getFlashOutcome().accessLocked) {
      detail(deviceLabel(d) +
             ": its device-access lock could not be released: the management processor cannot "
             "reach this device until the lock is released (run the update again, or restart the "
             "management processor)");
    }
  }
  for (int segment = 0; segment < 256; ++segment) {
    const uint8_t s = static_cast<uint8_t>(segment);
    if (handshakeHold(s) == BusHold::Released && portHold(s) == BusHold::Released) continue;
    std::string card = "Switch card (segment " + std::to_string(segment) + ")";
    for (const DeviceObj *d : deviceList()) {
      if (d->getType() == DEVICE_VELTO_E && d->getSegmentIdx() == s) {
        card = deviceLabel(d);
        break;
      }
    }
    detail(card +
           ": its backplane bus may still be taken (the handshake or the port selection could not "
           "be released): the card cannot reach its backplanes until the update is run again or "
           "the server is power cycled");
  }
  for (const DeviceObj *d : deviceList()) {
    if (d->getFlashNeeded() && d->getFlashSucceeded() && d->getVersionUnknown()) {
      detail(deviceLabel(d) + ": its version could not be read (" + d->getVersionFailure() +
             "); it was rewritten with the package's firmware " + d->getPackageVersion());
    }
  }
  for (const std::string &note : discoveryNotes()) detail(note);
}

}  // namespace

const std::string &getInstallResultDetail() { return driver().installDetail; }

void finishInstallProgress(int installResult) {
  const int needed = countFlashNeeded();
  const int succeeded = countFlashSucceeded();
  progressRunFinish(installResult, succeeded, needed - succeeded);
}

int flashDevices() {
  driver().installDetail.clear();
  if (!driver().installStateAsked) {
    logMessage(LOG_VERBOSE,
               "Install without an installation-state query: the devices are discovered first.\n");
    driver().forInstall = true;
    getInstallState();
    driver().forInstall = false;
  } else if (!options().selfDiscovery) {
    progressRunPending();
  }
  if (!driver().unusable.empty()) {
    if (!options().selfDiscovery) progressRunNone();
    detail("Nothing was done: " + driver().unusable + ".");
    logMessage(LOG_VERBOSE, "flash devices status: %d\n", ENGINE_FLASH_FAILED);
    return ENGINE_FLASH_FAILED;
  }
  if (options().selfDiscovery) {
    // Discovery only: the report is the whole work.
    afterDiscoveryDetail();
    if (!driver().reportWritten) {
      detail("Nothing was done: " + driver().reportFailure + ".");
      return ENGINE_FLASH_FAILED;
    }
    return ENGINE_DISCOVERY_DONE;
  }
  logMessage(LOG_VERBOSE, "Device List for installation.\n");
  printDeviceInfo();
  if (deviceList().empty()) {
    progressRunNone();
    afterDiscoveryDetail();
    logMessage(LOG_VERBOSE, "flash devices status: %d\n", ENGINE_NO_DEVICE);
    return ENGINE_NO_DEVICE;
  }
  // The progress file follows an Install that flashes; one that flashes nothing removes an
  // earlier run's. The "-d" report above leaves it as it is.
  if (countFlashNeeded() > 0) {
    progressRunStart(countFlashNeeded());
  } else {
    progressRunNone();
  }
  flashVltDevices();
  const int needed = countFlashNeeded();
  const int succeeded = countFlashSucceeded();
  const int result = needed == 0           ? ENGINE_NOTHING_DUE
                     : needed == succeeded ? ENGINE_FLASH_OK
                                           : ENGINE_FLASH_FAILED;
  logMessage(LOG_VERBOSE, "attempt to flash %d devices\n", needed);
  logMessage(LOG_VERBOSE, "flash success for %d devices\n", succeeded);
  logMessage(LOG_VERBOSE, "flash devices status: %d\n", result);
  // One line per device that was not updated, with the step that failed and its state.
  for (const DeviceObj *d : deviceList()) {
    if (!d->getFlashNeeded() || d->getFlashSucceeded()) continue;
    const FlashOutcome &o = d->getFlashOutcome();
    detail(deviceLabel(d) + ": " + (o.failedStep.empty() ? "the update" : o.failedStep) +
           " failed: " + stateWords(o.state) + ".");
  }
  afterDiscoveryDetail();
  return result;
}

// --- update list ---

const char *getUpdateListText() {
  // An entry that does not fit in the buffer is not cut: it and the entries after it are left out
  // (so the list never has a gap), and the omission is logged.
  driver().updateListText[0] = '\0';
  size_t used = 0;
  int omitted = 0;
  for (const DeviceObj *d : deviceList()) {
    if (!d->getFlashNeeded()) continue;
    if (omitted) {
      ++omitted;
      continue;
    }
    char entry[kUpdateEntrySize + 1];
    // An unknown version says which read failed.
    const std::string version = d->getVersionUnknown()
                                    ? d->getVersion() + " (" + d->getVersionFailure() + " failed)"
                                    : d->getVersion();
    std::snprintf(entry, kUpdateEntrySize, "\r\n%s: %s: %s", d->getObjectName().c_str(),
                  d->getProductName().c_str(), version.c_str());
    std::strcat(entry, "\n");
    const size_t len = std::strlen(entry);
    if (used + len >= DriverState::kUpdateListSize) {
      omitted = 1;
      continue;
    }
    std::memcpy(driver().updateListText + used, entry, len + 1);
    used += len;
  }
  if (omitted) {
    logMessage(LOG_VERBOSE, "update list text full: %d marked devices not listed\n", omitted);
  }
  return driver().updateListText;
}

bool updateListPending() { return driver().updateListPending; }
void markUpdateListGiven() { driver().updateListPending = false; }

// --- cleanup ---

void deleteDevices() { deviceList().clear(); }

void clearComponent() {
  logMessage(LOG_VERBOSE, "clearComponent\n");
  releaseConfigInfo();
  closeChannel();
}

void cleanupEngine() {
  resetProgress();
  deleteDevices();
  clearComponent();
}

void resetEngine() {
  // What the state holds outside the process is let go first (the channel closes while the log
  // settings still stand); then the whole state is replaced.
  closeChannel();
  resetProgress();
  engineState() = EngineState{};
}
