// The seeded random-fault soak of the whole plug-in (property 5, property 3, Install) over
// simulated servers: per seed, one or two cards with up to three backplanes each, older, at or
// newer than the package, and up to three faults at random places: the channel and processor
// (lost, cut, stale and header-only answers, sends that fail, I2C NAKs, short reads, ignored locks
// and unlocks), the Velto-E loader (refusals and cancels at a block, lost writes and queries, an
// unacknowledged end) and the CPLD (a command not acknowledged, busy for ever, the fail bit), now
// and then the targets' own random mode. On the fake clock: TAL_SOAK_SEEDS seeds (default 500) run
// in seconds. For every seed:
//  - no version is read wrong: a listed device has its true version, or "unknown";
//  - no device is programmed that was not due (older; newer only with -g; any when nothing is
//    older and the host's state query forces all; or a device whose version was unknown);
//  - Install never answers success while a device holds a partial image;
//  - every lock, handshake and port is released, or the text says it is not;
//  - the text names every device that was not updated, with its state, and "not changed" only of
//    a device that programming did not reach.
// The tally (outcomes by kind) is printed; a failure names its seed and what it injected.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "install_fixture.h"

namespace installtest {
namespace {

// The seed's server and faults, as a description and the plan.
struct Scenario {
  json description;
  std::vector<std::pair<uint64_t, int>> plan;
  std::vector<std::wstring> args;
  std::vector<std::string> steps;  // the host's state query first, or Install alone
  std::string what;                // for the failure message
};

const char *pick(std::mt19937_64 &rng, std::initializer_list<const char *> from) {
  return from.begin()[rng() % from.size()];
}

Scenario makeScenario(uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  Scenario s;
  json segments = json::array();
  const int cards = chance(0.6) ? 1 : 2;
  for (int c = 0; c < cards; ++c) {
    // Mostly older cards: a server with nothing older makes the state query force every device,
    // and the backplanes' full programmings are what a seed costs.
    json cardSpec = card(pick(rng, {"1.05", "1.05", "1.05", "1.12", "1.20"}));
    const int ports = static_cast<int>(rng() % 3);
    for (int p = 0; p < ports; ++p) {
      if (chance(0.25)) {
        cardSpec["backplanes"].push_back(nullptr);
      } else {
        // No busy status after a page: the CPLD's full programming in two transactions a page.
        cardSpec["backplanes"].push_back(
            {{"name", kBackplane},
             {"version", pick(rng, {"2.04", "2.05", "2.05", "2.05", "2.05", "2.10"})},
             {"cpld", {{"page_polls", 0}}}});
      }
    }
    segments.push_back({{"segment", 1 + 2 * c}, {"card", cardSpec}});
  }
  s.description = {{"segments", segments}};
  if (chance(0.1)) s.args.push_back(L"-g");
  s.steps = chance(0.7) ? std::vector<std::string>{"5", "3", "install"}
                        : std::vector<std::string>{"install"};
  s.what = s.description.dump() + (s.args.empty() ? "" : " -g") +
           (s.steps.size() == 1 ? " (Install alone)" : "");

  const int faults = static_cast<int>(rng() % 4);
  for (int f = 0; f < faults; ++f) {
    const int where = static_cast<int>(rng() % 11);
    const int ci = static_cast<int>(rng() % cards);
    json &cardSpec = s.description["segments"][ci]["card"];
    const std::string onSegment = " on segment " + std::to_string(1 + 2 * ci);
    if (where < 6) {
      // The channel or the processor, at a request of discovery and the locks (often) or
      // anywhere in the flashes.
      const uint64_t at = chance(0.6) ? rng() % 150 : rng() % 30000;
      const int kind = static_cast<int>(rng() % faultplan::kKinds);
      s.plan.push_back({at, kind});
      s.what += std::string("; ") + faultplan::kindName(kind) + " at request " + std::to_string(at);
    } else if (where < 8) {
      json loader;
      switch (rng() % 6) {
        case 0:
          loader["first_answer"] = pick(rng, {"CAN", "ACK", "EOT"});
          break;
        case 1:
          loader["answer_at_block"] = 1 + rng() % 3;
          loader["answer"] = pick(rng, {"NAK", "CAN", "EOT"});
          break;
        case 2:
          loader["write_fails_at_block"] = 1 + rng() % 3;
          break;
        case 3:
          loader["query_fails_at_block"] = 1 + rng() % 3;
          break;
        case 4:
          loader["end_fails"] = true;
          break;
        default:
          loader[chance(0.5) ? "unlock_fails" : "first_query_fails"] = true;
          break;
      }
      cardSpec["loader"] = loader;
      s.what += "; loader " + loader.dump() + onSegment;
    } else if (where < 9) {
      json &bps = cardSpec["backplanes"];
      if (bps.empty()) continue;
      const size_t port = rng() % bps.size();
      if (bps[port].is_null()) continue;
      json fault = {{"command", pick(rng, {"enable", "erase", "status", "reset_cfg", "reset_ufm",
                                           "cfg_page", "ufm_page", "done", "close"})},
                    {"at", 1 + rng() % 400},
                    {"effect", pick(rng, {"nak", "busy", "fail"})}};
      bps[port]["cpld"]["faults"] = {fault};
      s.what += "; cpld fault " + fault.dump() + onSegment + ", port " + std::to_string(port);
    } else if (where < 10) {
      // A part that fails every time: what is left held or unread is then reported.
      switch (rng() % 4) {
        case 0:
          s.description["faults"]["unlock_ignored"] = -1;
          s.what += "; every unlock ignored";
          break;
        case 1:
          cardSpec["version_unreadable"] = true;
          s.what += "; card version unreadable" + onSegment;
          break;
        case 2:
          cardSpec["handshake_fails"] = true;
          s.what += "; handshake take fails" + onSegment;
          break;
        default:
          for (json &b : cardSpec["backplanes"]) {
            if (!b.is_null()) b["version_unreadable"] = true;
          }
          s.what += "; backplane versions unreadable" + onSegment;
          break;
      }
    } else {
      const uint64_t r = rng();
      s.description["flash_random"] = {
          {"seed", r % 1000}, {"write_fail", 0.0002}, {"read_fail", 0.0002}, {"flip", 0.0002}};
      s.what += "; random mode, seed " + std::to_string(r % 1000);
    }
  }
  return s;
}

// A device of the true machine.
struct Truth {
  int segment, port;  // port -1: the card
  std::string version, object;
  int order;  // against the package: <0 older, 0 same, >0 newer
};

std::vector<Truth> truthOf(const json &description) {
  std::vector<Truth> out;
  int cardNumber = 0;
  for (const json &seg : description["segments"]) {
    const int segment = seg["segment"].get<int>();
    const json &c = seg["card"];
    const std::string v = c["version"].get<std::string>();
    out.push_back({segment, -1, v, "Controller card " + std::to_string(++cardNumber),
                   compareVersionText(v, kCardVersion)});
    int port = 0;
    for (const json &b : c["backplanes"]) {
      if (!b.is_null()) {
        const std::string bv = b["version"].get<std::string>();
        out.push_back({segment, port, bv, "Backplane " + std::to_string(port + 1),
                       compareVersionText(bv, kBackplaneVersion)});
      }
      ++port;
    }
  }
  return out;
}

std::string labelOf(const Truth &t) {
  return t.object + ": " + (t.port < 0 ? kCard : kBackplane) + " (segment " +
         std::to_string(t.segment) + (t.port < 0 ? "" : ", port " + std::to_string(t.port)) + ")";
}

class Soak : public InstallTest {};

TEST_F(Soak, RandomFaultsOverWholeServers) {
  const char *env = std::getenv("TAL_SOAK_SEEDS");
  const uint64_t seeds = env && std::atoi(env) > 0 ? static_cast<uint64_t>(std::atoi(env)) : 500;
  std::map<std::string, int> tally;
  int cardsProgrammed = 0, backplanesProgrammed = 0;
  for (uint64_t seed = 1; seed <= seeds; ++seed) {
    const Scenario sc = makeScenario(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + sc.what);
    build(sc.description);
    plan->plan = sc.plan;
    const Answers a = run(sc.steps, sc.args);
    const std::vector<Truth> truth = truthOf(sc.description);
    // Where the text falls short (its bound), the component log has every line.
    const std::string said = a.text + a.componentLog;
    const bool downgrade = !sc.args.empty();

    // No version read wrong.
    for (const Answers::Listed &l : a.listed) {
      if (l.unknown) continue;
      bool found = false;
      for (const Truth &t : truth) {
        if (t.segment == l.segment && (l.type == 1 ? t.port < 0 : t.port == l.idx)) {
          EXPECT_EQ(l.version, t.version) << l.object;
          found = true;
        }
      }
      EXPECT_TRUE(found) << l.object;
    }

    // Without an older device, the host's state query (1 or 3) makes Install flash every device.
    bool forcedAll = sc.steps.size() > 1;
    for (const Truth &t : truth) forcedAll &= t.order >= 0;
    for (const Truth &t : truth) {
      const std::string label = labelOf(t);
      bool unknown = false, marked = false, succeeded = false, listed = false;
      for (const Answers::Listed &l : a.listed) {
        if (l.segment == t.segment && (l.type == 1 ? t.port < 0 : t.port == l.idx)) {
          listed = true;
          unknown = l.unknown;
          marked = l.marked;
          succeeded = l.succeeded;
        }
      }
      const bool touchedIt = touched(t.segment, t.port);
      const bool whole = holdsImage(t.segment, t.port);
      (t.port < 0 ? cardsProgrammed : backplanesProgrammed) += touchedIt;
      // Programmed only when due.
      const bool due = t.order < 0 || (downgrade && t.order > 0) || unknown || forcedAll;
      EXPECT_TRUE(!touchedIt || due) << label << " was programmed, not due";
      // Never success with a partial image.
      if (touchedIt && !whole) {
        EXPECT_EQ(a.result, 0) << label << " holds a partial image";
      }
      // Every device not updated is named, with its state.
      if (marked && !succeeded) {
        const size_t at = said.find(label + ": ");
        EXPECT_NE(at, std::string::npos) << label << " not named:\n" << a.text;
        if (at != std::string::npos) {
          const std::string line = said.substr(at, said.find("\r\n", at) - at);
          const bool notChanged = contains(line, "failed: not changed.");
          EXPECT_TRUE(notChanged || contains(line, "failed: firmware erased, not rewritten") ||
                      contains(line, "failed: state unknown: run the update again"))
              << line;
          EXPECT_FALSE(notChanged && touchedIt) << label << " reached, said not changed";
        }
      }
      if (marked && succeeded) {
        EXPECT_TRUE(whole) << label << " reported updated";
      }
      // A device due that was not seen is named by its segment in what discovery could not read
      // (or nothing could be done at all).
      if (!listed && due && !whole) {
        EXPECT_TRUE(contains(said, "(segment " + std::to_string(t.segment)) ||
                    contains(a.text, "Nothing was done") || a.text == "No Device Found\r\n")
            << label << " not seen and not named";
      }
      // Releases: a device left locked is named with its lock (the backplanes of a card share
      // the CPLD's address, so any of them).
      if (machine.isLocked(static_cast<uint8_t>(t.segment), t.port < 0 ? 0x82 : 0x80)) {
        const std::string where =
            t.port < 0 ? label : "(segment " + std::to_string(t.segment) + ", port ";
        bool named = false;
        for (size_t at = said.find(where); at != std::string::npos && !named;
             at = said.find(where, at + 1)) {
          const size_t end = said.find("\r\n", at);
          named =
              contains(said.substr(at, end - at), "its device-access lock could not be released");
        }
        EXPECT_TRUE(named) << label << " left locked silently";
      }
    }
    for (const auto &c : machine.cards) {
      if (c->handshakeHeld() || c->selector->mask != 0) {
        EXPECT_TRUE(contains(said, "(segment " + std::to_string(c->segment) +
                                       "): its backplane bus may still be taken"))
            << "segment " << int(c->segment) << " bus left taken silently";
      }
    }

    // The tally.
    std::string kind = std::to_string(a.result) + " ";
    const std::string first = a.text.substr(0, a.text.find("\r\n"));
    if (a.result == 0 && first == "Error") {
      if (contains(a.text, "Nothing was done")) {
        kind += "nothing done";
      } else {
        kind += "failed:";
        for (const char *state : {"not changed", "erased", "state unknown"}) {
          if (contains(a.text, std::string(": ") + state) ||
              contains(a.text, std::string("failed: firmware ") + state)) {
            kind += std::string(" ") + state;
          }
        }
      }
    } else {
      kind += first;
      if (a.text.size() > first.size() + 2 && a.result != 0 &&
          a.text.find("\r\n", first.size() + 2) != std::string::npos &&
          !(a.result == 2 && a.text == kSuccess)) {
        kind += " (with notes)";
      }
    }
    ++tally[kind];
    if (HasFailure()) break;  // the seed is in the trace above
  }
  std::printf("soak: %llu seeds, %d cards and %d backplanes programmed (whole or in part)\n",
              static_cast<unsigned long long>(seeds), cardsProgrammed, backplanesProgrammed);
  for (const auto &t : tally) std::printf("  %5d  result %s\n", t.second, t.first.c_str());
  // The soak proves something only when its outcomes are varied.
  EXPECT_GE(tally.size(), 5u);
}

}  // namespace
}  // namespace installtest
