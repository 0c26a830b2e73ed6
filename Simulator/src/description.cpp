// Reading the machine description into a Machine.
#include "sim/description.h"

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "sim/board.h"
#include "sim/flashtargets.h"

namespace sim {

namespace {

using nlohmann::json;

// An unsigned value given as a number or as a text ("0x72", "114").
uint64_t unsignedValue(const json &value, const char *what, uint64_t max) {
  uint64_t v = 0;
  if (value.is_number_unsigned()) {
    v = value.get<uint64_t>();
  } else if (value.is_number_integer() && value.get<int64_t>() >= 0) {
    v = static_cast<uint64_t>(value.get<int64_t>());
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    char *end = nullptr;
    v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || text[0] == '-') {
      throw std::runtime_error(std::string(what) + ": not a number: \"" + text + "\"");
    }
  } else {
    throw std::runtime_error(std::string(what) + ": expected an unsigned number");
  }
  if (v > max) throw std::runtime_error(std::string(what) + ": out of range");
  return v;
}

template <typename T>
void readUnsigned(const json &object, const char *key, T &out, uint64_t max) {
  auto it = object.find(key);
  if (it != object.end()) out = static_cast<T>(unsignedValue(*it, key, max));
}

// A fault count: n >= 0, or -1 for every occasion.
void readCount(const json &object, const char *key, int &out) {
  auto it = object.find(key);
  if (it == object.end()) return;
  if (!it->is_number_integer() || it->get<int64_t>() < -1 || it->get<int64_t>() > 1000000) {
    throw std::runtime_error(std::string(key) + ": expected a count (-1 for always)");
  }
  out = static_cast<int>(it->get<int64_t>());
}

void readBool(const json &object, const char *key, bool &out) {
  auto it = object.find(key);
  if (it == object.end()) return;
  if (!it->is_boolean()) throw std::runtime_error(std::string(key) + ": expected true or false");
  out = it->get<bool>();
}

const json &objectAt(const json &parent, const char *key) {
  static const json empty = json::object();
  auto it = parent.find(key);
  if (it == parent.end()) return empty;
  if (!it->is_object()) throw std::runtime_error(std::string(key) + ": expected an object");
  return *it;
}

void readFaults(Faults &f, const json &j) {
  readUnsigned(j, "initialize_status", f.initializeStatus, 0xFFFFFFFFu);
  readUnsigned(j, "create_status", f.createStatus, 0xFFFFFFFFu);
  readCount(j, "send_busy", f.sendBusy);
  readCount(j, "send_errors", f.sendErrors);
  readUnsigned(j, "send_error_status", f.sendErrorStatus, 0xFFFFFFFFu);
  readCount(j, "recv_nothing", f.recvNothing);
  readCount(j, "recv_errors", f.recvErrors);
  readUnsigned(j, "recv_error_status", f.recvErrorStatus, 0xFFFFFFFFu);
  readCount(j, "out_of_sequence", f.outOfSequence);
  readCount(j, "runt", f.runt);
  readUnsigned(j, "runt_length", f.runtLength, 4096);
  readCount(j, "over_report", f.overReport);
  readBool(j, "null_status_text", f.nullStatusText);
  readCount(j, "short_read", f.shortRead);
  readUnsigned(j, "short_read_length", f.shortReadLength, 255);
  readCount(j, "lock_ignored", f.lockIgnored);
  readCount(j, "lock_reports_error", f.lockReportsError);
  readCount(j, "unlock_ignored", f.unlockIgnored);
  readCount(j, "unlock_reports_error", f.unlockReportsError);
  readCount(j, "header_only_len", f.headerOnlyLen);
  readUnsigned(j, "header_only_after", f.headerOnlyAfter, 0x7FFFFFFF);
  if (j.contains("command_errors")) {
    const json &list = j["command_errors"];
    if (!list.is_array()) throw std::runtime_error("command_errors: expected a list");
    for (const json &e : list) {
      if (!e.is_object() || !e.contains("cmd")) {
        throw std::runtime_error("command_errors: each entry needs \"cmd\"");
      }
      const uint16_t cmd = static_cast<uint16_t>(unsignedValue(e["cmd"], "cmd", 0xFFFF));
      CommandFault fault;
      fault.code = 1;
      readUnsigned(e, "code", fault.code, 0xFFFFFFFFu);
      readCount(e, "count", fault.count);
      f.commandErrors[cmd] = fault;
    }
  }
}

}  // namespace

void configureMachine(Machine &machine, const json &description) {
  if (!description.is_object()) throw std::runtime_error("the description is not a JSON object");
  const json &processor = objectAt(description, "processor");
  readUnsigned(processor, "generation", machine.generation, 0xFF);
  readUnsigned(processor, "major", machine.major, 0xFF);
  readUnsigned(processor, "minor", machine.minor, 0xFF);
  readUnsigned(description, "latency_ms", machine.latencyMs, 60000);
  // The processor's lock settles in the time the flash procedures wait for it.
  machine.accessSettleMs = 2000;
  readUnsigned(description, "access_settle_ms", machine.accessSettleMs, 60000);
  readFaults(machine.faults, objectAt(description, "faults"));
  if (description.contains("locks")) {
    const json &locks = description["locks"];
    if (!locks.is_array()) throw std::runtime_error("locks: expected a list");
    for (const json &l : locks) {
      if (!l.is_object()) throw std::runtime_error("locks: each entry is an object");
      uint8_t engine = 0, address = 0;
      readUnsigned(l, "engine", engine, 0xFF);
      readUnsigned(l, "address", address, 0xFF);
      machine.setLocked(engine, address, true);
    }
  }
  buildBoards(machine, description);
  buildFlashTargets(machine, description);
}

bool openInput(const std::string &path, std::ifstream &in) {
  in.open(path, std::ios::binary);
#if defined(_WIN32)
  // Under wine a Linux path ("/tmp/m.json") is reached through the Z: drive.
  if (!in && !path.empty() && path[0] == '/') in.open("Z:" + path, std::ios::binary);
#endif
  return static_cast<bool>(in);
}

bool loadMachineDescription(Machine &machine, const std::string &path, std::string *error,
                            std::string *replay, bool *replayDelays) {
  std::ifstream in;
  if (!openInput(path, in)) {
    if (error) *error = "cannot open the machine description \"" + path + "\"";
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    const json description = json::parse(text.str());
    configureMachine(machine, description);
    if (replay) {
      replay->clear();
      auto it = description.find("replay");
      if (it != description.end()) {
        if (!it->is_string() || it->get<std::string>().empty()) {
          throw std::runtime_error("replay: expected the path of a capture");
        }
        *replay = it->get<std::string>();
        const bool absolute = (*replay)[0] == '/' || (*replay)[0] == '\\' ||
                              (replay->size() > 1 && (*replay)[1] == ':');
        const size_t slash = path.find_last_of("/\\");
        if (!absolute && slash != std::string::npos) *replay = path.substr(0, slash + 1) + *replay;
      }
    }
    if (replayDelays) {
      *replayDelays = false;
      auto it = description.find("replay_delays");
      if (it != description.end()) {
        if (!it->is_boolean()) throw std::runtime_error("replay_delays: expected true or false");
        *replayDelays = it->get<bool>();
      }
    }
  } catch (const std::exception &e) {
    if (error) *error = "machine description \"" + path + "\": " + e.what();
    return false;
  }
  return true;
}

}  // namespace sim
