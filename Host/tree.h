// The device tree: each switch card (segment, name, version found -> offered, action) and the
// backplanes behind it (port, ...), from the discovery the plug-in's installation-state query
// made. The engine records that discovery in its log: the package's devices and versions
// ("Dev Name: N PayLoad: F Version: V") and the device list ("Device info:", then one "Object
// Name: ... updateState: U" line per device); property 3 says which devices Install will flash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talhost {

struct TreeDevice {
  std::string object;          // "Controller card 2", "Backplane 1"
  std::string product;         // the name the device reported
  std::string found;           // its version ("unknown" when it could not be read)
  std::string offered;         // the package's version for it ("" when the package has none)
  int type = 0;                // 1 card, 2 backplane
  int idx = 0;                 // backplane: its port behind the card
  int segment = 0;             // the management processor's I2C segment
  int updateState = 3;         // 0 newer, 1 same, 2 older than the package, 3 not compared
  bool due = false;            // listed by property 3
  std::string action() const;  // "upgrade", "rewrite", "downgrade", "update" when due, "none"
};

struct DeviceTree {
  std::vector<TreeDevice> devices;  // in the engine's order: each card, then its backplanes
};

// The engine log's size now, so that only what a later query writes is read (0 when absent).
uint64_t engineLogSize();

// Reads the engine log from `offset` (bounded) and builds the tree from its last device list;
// false when the log holds none. `dueText` is property 3's answer (UTF-8).
bool readDeviceTree(uint64_t offset, const std::string &dueText, DeviceTree &out);

// Builds the tree from the engine log's lines (each without its line end).
bool treeFromLog(const std::vector<std::string> &lines, const std::string &dueText,
                 DeviceTree &out);

// The tree as text lines ("  Controller card 2 (segment 3): ...").
std::vector<std::string> treeLines(const DeviceTree &tree);

}  // namespace talhost
