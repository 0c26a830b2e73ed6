// Everything the engine remembers between the plug-in's calls, in one object: the command line's
// options, what the driver has already answered, the log settings, the scan, the channel, the
// device list, the package and the progress file. resetEngine (engine.h) releases what the object
// holds outside the process (the channel, the progress file) and puts a new object in its place,
// so no piece can be left over from an earlier run.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/smif.h"
#include "configinfo.h"
#include "device.h"
#include "tal/platform.h"

class CCmpLog;

// The options the process command line sets.
struct EngineOptions {
  bool force = false;          // -f
  bool downgrade = false;      // -g
  bool rewrite = false;        // -e
  bool silent = false;         // -s
  bool selfDiscovery = false;  // -d
  std::string selfDiscoveryFile;
};

// What the driver has answered and found.
struct DriverState {
  static constexpr size_t kUpdateListSize = 1024;
  bool installStateAsked = false;
  bool initialised = false;
  // getInstallState runs for an Install (no state query came first).
  bool forInstall = false;
  // Why the engine could do nothing (no command line, no channel, no package, no processor), in
  // plain words; empty while it could.
  std::string unusable;
  // "-d": whether the report was written, and why not.
  bool reportWritten = false;
  std::string reportFailure;
  // The detail lines of the last flashDevices.
  std::string installDetail;
  char updateListText[kUpdateListSize] = "";
  // The update list is given to the host once a load.
  bool updateListPending = true;
};

struct LogState {
  static constexpr size_t kReportPathMax = 511;  // characters of the report file setting
  CCmpLog *componentLog = nullptr;               // not owned: the component's
  int level = 0;
  char reportFile[kReportPathMax + 1] = "";
  bool engineLogNoticeShown = false;
  bool reportNoticeShown = false;
  // The engine log's folder last found trustworthy.
  std::string trustedFolder;
  char timeStamp[100] = "";
};

struct DiscoveryState {
  // Switch cards found in the current scan; the next card's number.
  int cardsFound = 0;
  // Segments scanned in the current scan. A segment is scanned once whatever became of its card: a
  // card left out of the device list (not in the configuration, or no image for it) leaves no
  // trace there, and a second scan would list its backplanes again, so that Install flashed them
  // twice.
  std::bitset<256> segmentsScanned;
  // What the current scan could not read, and whether a device may have been left out.
  std::vector<std::string> notes;
  bool incomplete = false;
};

struct ChannelState {
  void *handle = nullptr;  // the channel library's, while open
  uint16_t sequence = 0;   // the next request's SEQ
  // Per segment: whether the card's backplane handshake and port selection may still be taken.
  BusHold handshake[256] = {};
  BusHold port[256] = {};
};

struct PackageState {
  // Made on first use, and again after it is released.
  std::unique_ptr<ConfigInfo> info;
  // Why the last createConfigInfo failed, in plain words.
  std::string failure;
};

// The progress file of the Install being run.
struct ProgressState {
  bool active = false;  // a run is being written (or was, until a write failed)
  tal::os::FileHandle file = tal::os::kInvalidFile;
  std::string path;  // for the engine log
  uint64_t startMs = 0;
  // The device being updated.
  bool deviceOpen = false;
  bool deviceWritten = false;
  int index = 0;
  int count = 0;
  bool card = false;
  std::string name, found, offered;
  uint32_t total = 0;
  int percent = -1;
};

struct EngineState {
  EngineOptions options;
  DriverState driver;
  LogState log;
  DiscoveryState discovery;
  ChannelState channel;
  DeviceList devices;
  PackageState package;
  ProgressState progress;
};

// The engine's one state object.
EngineState &engineState();
