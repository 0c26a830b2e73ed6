#include "tree.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "names.h"
#include "tal/platform.h"

namespace talhost {

namespace {

// The engine's log on the current drive (the plug-in writes it there).
const char kEngineLog[] = "\\talsystem\\log\\Verbose.log";
constexpr uint64_t kMaxRead = 64ull << 20;  // what one run may add, read at most
constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxDevices = 1024;

// "key: value" fields of one engine line, read from the end so that a name holding a later key's
// text cannot shift the fields before it.
bool cutField(std::string &rest, const char *key, std::string &value) {
  const std::string k = std::string(" ") + key + ": ";
  size_t at = rest.rfind(k);
  if (at == std::string::npos) return false;
  value = rest.substr(at + k.size());
  rest.resize(at);
  return true;
}

bool smallNumber(const std::string &text, int base, int &out) {
  if (text.empty() || text.size() > 8) return false;
  char *end = nullptr;
  long v = std::strtol(text.c_str(), &end, base);
  if (*end != '\0' || v < 0 || v > 0xFFFF) return false;
  out = static_cast<int>(v);
  return true;
}

// "Object Name: O Product Name: P Version: V Type: T Idx: I SegmentIdx: 0xSS AddrSlv: 0xAA
// flashNeeded: F updateState: U"
bool deviceLine(const std::string &line, TreeDevice &d) {
  size_t at = line.find("Object Name: ");
  if (at == std::string::npos) return false;
  std::string rest = " " + line.substr(at);
  std::string state, needed, addr, segment, idx, type;
  if (!cutField(rest, "updateState", state) || !cutField(rest, "flashNeeded", needed) ||
      !cutField(rest, "AddrSlv", addr) || !cutField(rest, "SegmentIdx", segment) ||
      !cutField(rest, "Idx", idx) || !cutField(rest, "Type", type) ||
      !cutField(rest, "Version", d.found) || !cutField(rest, "Product Name", d.product) ||
      !cutField(rest, "Object Name", d.object)) {
    return false;
  }
  if (segment.compare(0, 2, "0x") != 0) return false;
  return smallNumber(state, 10, d.updateState) && smallNumber(type, 10, d.type) &&
         smallNumber(idx, 10, d.idx) && smallNumber(segment.substr(2), 16, d.segment) &&
         (d.type == 1 || d.type == 2);
}

// Property 3's entries: "\r\n<object>: <product>: <version>\n" each.
struct DueEntry {
  std::string object, product, version;
};
std::vector<DueEntry> dueEntries(const std::string &text) {
  std::vector<DueEntry> out;
  size_t at = 0;
  while ((at = text.find("\r\n", at)) != std::string::npos) {
    at += 2;
    size_t end = text.find('\n', at);
    std::string entry = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    size_t first = entry.find(": ");
    size_t second = first == std::string::npos ? first : entry.find(": ", first + 2);
    // A product name may hold ": ": the version is after the last one.
    size_t last = entry.rfind(": ");
    if (second == std::string::npos) continue;
    out.push_back({entry.substr(0, first), entry.substr(first + 2, last - first - 2),
                   entry.substr(last + 2)});
  }
  return out;
}

}  // namespace

std::string TreeDevice::action() const {
  if (!due) return "none";
  switch (updateState) {
    case 2:
      return "upgrade";
    case 1:
      return "rewrite";
    case 0:
      return "downgrade";
    default:
      return "update";
  }
}

bool treeFromLog(const std::vector<std::string> &lines, const std::string &dueText,
                 DeviceTree &out) {
  std::map<std::string, std::string> offered;
  std::vector<TreeDevice> devices;
  bool haveList = false, inList = false;
  for (const std::string &line : lines) {
    size_t at = line.find("Dev Name: ");
    if (at != std::string::npos) {
      std::string rest = " " + line.substr(at), name, payload, version;
      if (cutField(rest, "Version", version) && cutField(rest, "PayLoad", payload) &&
          cutField(rest, "Dev Name", name)) {
        offered.emplace(name, version);  // the first entry of a name is the one the engine takes
      }
      continue;
    }
    if (line.size() >= 12 && line.compare(line.size() - 12, 12, "Device info:") == 0) {
      devices.clear();  // the last list the engine printed is the one that counts
      haveList = inList = true;
      continue;
    }
    TreeDevice d;
    if (inList && deviceLine(line, d)) {
      if (devices.size() < kMaxDevices) devices.push_back(d);
    } else {
      inList = false;
    }
  }
  if (!haveList) return false;
  // The devices property 3 lists, in list order: each entry is the next device it matches.
  std::vector<DueEntry> due = dueEntries(dueText);
  size_t next = 0;
  for (TreeDevice &d : devices) {
    auto it = offered.find(d.product);
    if (it != offered.end()) d.offered = it->second;
    if (next < due.size() && due[next].object == d.object && due[next].product == d.product &&
        due[next].version.compare(0, d.found.size(), d.found) == 0) {
      d.due = true;
      ++next;
    }
  }
  out.devices = std::move(devices);
  return true;
}

uint64_t engineLogSize() {
  FILE *f = tal::os::sys().openStream(kEngineLog, "rb");
  if (!f) return 0;
  uint64_t size = 0;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long end = std::ftell(f);
    if (end > 0) size = static_cast<uint64_t>(end);
  }
  std::fclose(f);
  return size;
}

bool readDeviceTree(uint64_t offset, const std::string &dueText, DeviceTree &out) {
  FILE *f = tal::os::sys().openStream(kEngineLog, "rb");
  if (!f) return false;
  // A log that shrank was started afresh: read it whole.
  if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) < static_cast<long>(offset)) offset = 0;
  std::vector<std::string> lines;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
    std::string line;
    uint64_t read = 0;
    int c;
    bool tooLong = false;
    while (read < kMaxRead && (c = std::fgetc(f)) != EOF) {
      ++read;
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Only the lines the tree is made of are kept; others leave one empty line, which ends
        // a device list.
        const bool wanted = !tooLong && (line.find("Dev Name: ") != std::string::npos ||
                                         line.find("Device info:") != std::string::npos ||
                                         line.find("Object Name: ") != std::string::npos);
        if (wanted) {
          lines.push_back(line);
        } else if (lines.empty() || !lines.back().empty()) {
          lines.emplace_back();
        }
        line.clear();
        tooLong = false;
      } else if (line.size() < kMaxLine) {
        line += static_cast<char>(c);
      } else {
        tooLong = true;  // not a line the tree is read from
      }
    }
  }
  std::fclose(f);
  return treeFromLog(lines, dueText, out);
}

std::vector<std::string> treeLines(const DeviceTree &tree) {
  std::vector<std::string> out;
  for (const TreeDevice &d : tree.devices) {
    std::string place = d.type == 1
                            ? "  " + d.object + " (segment " + std::to_string(d.segment) + ")"
                            : "    " + d.object + " (port " + std::to_string(d.idx) + ")";
    out.push_back(place + ": " + printable(d.product) + ", " + printable(d.found) + " -> " +
                  (d.offered.empty() ? "?" : printable(d.offered)) + ", " + d.action());
  }
  return out;
}

}  // namespace talhost
