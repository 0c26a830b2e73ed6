// Machine-description keys and records of the flash target models.
#include "sim/flashmodels.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace sim {
namespace {

using nlohmann::json;

[[noreturn]] void bad(const std::string &what, const std::string &why) {
  throw std::invalid_argument(what + ": " + why);
}

long long integer(const json &v, const std::string &what, long long lo, long long hi) {
  long long n = 0;
  if (v.is_number_integer()) {
    n = v.get<long long>();
  } else if (v.is_string()) {
    const std::string t = v.get<std::string>();
    size_t used = 0;
    try {
      n = std::stoll(t, &used, 0);
    } catch (const std::exception &) {
      used = 0;
    }
    if (t.empty() || used != t.size()) bad(what, "\"" + t + "\" is not a number");
  } else {
    bad(what, "expected a number");
  }
  if (n < lo || n > hi) bad(what, std::to_string(n) + " is out of range");
  return n;
}

bool flag(const json &v, const std::string &what) {
  if (!v.is_boolean()) bad(what, "expected true or false");
  return v.get<bool>();
}

double chance(const json &v, const std::string &what) {
  if (!v.is_number()) bad(what, "expected a number from 0 to 1");
  double d = v.get<double>();
  if (!(d >= 0 && d <= 1)) bad(what, "expected a number from 0 to 1");
  return d;
}

// A loader answer: "C", "ACK", "NAK", "CAN", "EOT" or a byte value.
int answer(const json &v, const std::string &what) {
  if (v.is_string()) {
    const std::string t = v.get<std::string>();
    if (t == "C") return 'C';
    if (t == "ACK") return 0x06;
    if (t == "NAK") return 0x15;
    if (t == "CAN") return 0x18;
    if (t == "EOT") return 0x04;
  }
  return static_cast<int>(integer(v, what, 0, 255));
}

void requireObject(const json &entry, const std::string &what) {
  if (!entry.is_object()) bad(what, "expected an object");
}

}  // namespace

void configureLoader(VlteLoader &loader, const json &entry, const std::string &what) {
  requireObject(entry, what);
  LoaderFaults &f = loader.faults;
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    const std::string k = it.key(), w = what + "." + k;
    const json &v = it.value();
    if (k == "unlock_fails")
      f.unlockFails = flag(v, w);
    else if (k == "first_query_fails")
      f.firstQueryFails = flag(v, w);
    else if (k == "first_answer")
      f.firstAnswer = answer(v, w);
    else if (k == "answer_at_block")
      f.answerAtBlock = static_cast<int>(integer(v, w, 0, 1 << 30));
    else if (k == "answer")
      f.answer = answer(v, w);
    else if (k == "repeat_answer")
      f.repeatAnswer = answer(v, w);
    else if (k == "write_fails_at_block")
      f.writeFailsAtBlock = static_cast<int>(integer(v, w, 0, 1 << 30));
    else if (k == "query_fails_at_block")
      f.queryFailsAtBlock = static_cast<int>(integer(v, w, 0, 1 << 30));
    else if (k == "end_fails")
      f.endFails = flag(v, w);
    else if (k == "block_pause_ms")
      loader.blockPauseMs = static_cast<uint32_t>(integer(v, w, 0, 600000));
    else
      bad(w, "unknown key");
  }
}

void configureCpld(MachXO2 &cpld, const json &entry, const std::string &what) {
  requireObject(entry, what);
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    const std::string k = it.key(), w = what + "." + k;
    const json &v = it.value();
    if (k == "erase_polls") {
      cpld.erasePolls = static_cast<int>(integer(v, w, 0, 1000000));
    } else if (k == "page_polls") {
      cpld.pagePolls = static_cast<int>(integer(v, w, 0, 1000000));
    } else if (k == "erase_ms") {
      cpld.eraseMs = static_cast<uint32_t>(integer(v, w, 0, 600000));
    } else if (k == "page_ms") {
      cpld.pageMs = static_cast<uint32_t>(integer(v, w, 0, 600000));
    } else if (k == "preset") {
      cpld.preset(static_cast<uint8_t>(integer(v, w, 0, 255)));
    } else if (k == "faults") {
      if (!v.is_array()) bad(w, "expected a list");
      for (size_t i = 0; i < v.size(); ++i) {
        const std::string fw = w + "[" + std::to_string(i) + "]";
        const json &f = v[i];
        requireObject(f, fw);
        CpldFault fault;
        if (!f.contains("command") || !f["command"].is_string() ||
            !cpldCommandByName(f["command"].get<std::string>(), fault.command)) {
          bad(fw + ".command",
              "expected enable, erase, status, reset_cfg, reset_ufm, cfg_page, "
              "ufm_page, done or close");
        }
        if (f.contains("at")) fault.at = static_cast<int>(integer(f["at"], fw + ".at", 1, 1 << 30));
        const std::string effect = f.value("effect", std::string("nak"));
        if (effect == "nak")
          fault.effect = CpldFault::Nak;
        else if (effect == "busy")
          fault.effect = CpldFault::BusyForever;
        else if (effect == "fail")
          fault.effect = CpldFault::FailBit;
        else
          bad(fw + ".effect", "expected nak, busy or fail");
        for (auto k2 = f.begin(); k2 != f.end(); ++k2) {
          if (k2.key() != "command" && k2.key() != "at" && k2.key() != "effect") {
            bad(fw + "." + k2.key(), "unknown key");
          }
        }
        cpld.faults.push_back(fault);
      }
    } else {
      bad(w, "unknown key");
    }
  }
}

void configureRandom(RandomFaults &random, const json &entry, uint64_t salt,
                     const std::string &what) {
  requireObject(entry, what);
  uint64_t seed = 1;
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    const std::string k = it.key(), w = what + "." + k;
    const json &v = it.value();
    if (k == "seed")
      seed = static_cast<uint64_t>(integer(v, w, 0, 0x7FFFFFFFFFFFFFFFLL));
    else if (k == "write_fail")
      random.writeFail = chance(v, w);
    else if (k == "read_fail")
      random.readFail = chance(v, w);
    else if (k == "flip")
      random.flip = chance(v, w);
    else
      bad(w, "unknown key");
  }
  random.enabled = true;
  random.seed(seed * 0x100000001B3ull + salt);
}

namespace {
json randomRecord(const RandomFaults &r) {
  return {{"enabled", r.enabled},
          {"failed_writes", r.failedWrites},
          {"failed_reads", r.failedReads},
          {"flips", r.flips},
          {"checked_failure", r.checkedFailure}};
}
}  // namespace

json loaderRecord(const VlteLoader &l) {
  return {{"unlocked", l.unlocked},
          {"ready", l.ready},
          {"ended", l.ended},
          {"cancelled", l.cancelled},
          {"cans_received", l.cansReceived},
          {"blocks_accepted", l.blocksAccepted},
          {"blocks_refused", l.blocksRefused},
          {"image_size", l.image().size()},
          {"transactions", l.transactions},
          {"violations", l.violations},
          {"random", randomRecord(l.random)}};
}

json cpldRecord(const MachXO2 &c) {
  return {{"enabled", c.enabled},
          {"erases", c.erases},
          {"done", c.done},
          {"closed", c.closed},
          {"close_byte", c.closeByte},
          {"cfg_pages", c.cfgPagesProgrammed},
          {"ufm_pages", c.ufmPagesProgrammed},
          {"status_reads", c.statusReads},
          {"transactions", c.transactions},
          {"violations", c.violations},
          {"random", randomRecord(c.random)}};
}

}  // namespace sim
