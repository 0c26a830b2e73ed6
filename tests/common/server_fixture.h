// A simulated server for a test: a scratch folder (the current directory; the engine log lands in
// <scratch>/talsystem/log/Verbose.log), the fake platform (its clock records every sleep) with the
// in-process simulated management processor as its channel library, the engine back at load
// before and after each test, and readers of the engine log and the report. The channel,
// discovery, engine and flash tests derive from it, adding only what their folder needs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/smif.h"
#include "channel/transport.h"
#include "engine.h"
#include "engine_log.h"
#include "fake_platform.h"
#include "fwheader.h"
#include "log.h"
#include "sim/machine.h"
#include "sim/simchannel.h"
#include "state.h"

namespace testserver {

using Bytes = std::vector<uint8_t>;

// The fake platform, also noting whether each sleep ran with precise sleeps on. Also throws,
// once, at the sleep of index throwAtSleep (counted in `sleeps`), or at every C-runtime stream
// opened (the engine log's) while throwOnStream is set: an exception from deep inside the engine,
// as an allocation failing in a log call would raise. With slowStreams each stream opened takes
// 200 microseconds of real time, so that the calls of two threads would overlap if nothing kept
// them apart.
class ServerPlatform : public tal::os::FakePlatform {
 public:
  FILE *openStream(const char *path, const char *mode) override {
    if (throwOnStream) throw std::runtime_error("no room for the line");
    if (slowStreams) std::this_thread::sleep_for(std::chrono::microseconds(200));
    return FakePlatform::openStream(path, mode);
  }
  void sleepMs(uint32_t ms) override {
    if (throwAtSleep >= 0 && sleeps.size() == static_cast<size_t>(throwAtSleep)) {
      throwAtSleep = -1;
      throw std::runtime_error("thrown at a sleep");
    }
    preciseAtSleep.push_back(preciseDepth > 0);
    if (ms == dropSleepsOf) {  // a wait left out: recorded, but no time passes
      sleeps.push_back(ms);
      return;
    }
    FakePlatform::sleepMs(ms);
  }
  std::vector<bool> preciseAtSleep;
  int throwAtSleep = -1;
  uint32_t dropSleepsOf = 0;  // sleeps of this length let no time pass (0: none)
  bool throwOnStream = false;
  bool slowStreams = false;
};

// A payload of n bytes from a seed (no two neighbouring blocks alike).
inline Bytes makePayload(size_t n, uint32_t seed = 7) {
  Bytes p(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto &b : p) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return p;
}

// A whole image file: a 40-byte header for the type and chip (ISP text = the chip's name) and
// the payload.
inline std::string imageBytes(int type, int chip, const Bytes &payload, int major = 1,
                              int minor = 5) {
  uint8_t h[fwimg::kHeaderSize];
  fwimg::encodeHeader(h, 1, type, major, minor, chip, fwimg::chipText(chip));
  std::string s(reinterpret_cast<char *>(h), sizeof h);
  s.append(payload.begin(), payload.end());
  return s;
}

inline size_t countOf(const std::string &haystack, const std::string &needle) {
  size_t n = 0;
  for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
    ++n;
  return n;
}

class ServerTest : public ::testing::Test {
 public:
  void SetUp() override {
    resetEngine();
    std::filesystem::create_directories(logDir());
    std::filesystem::remove(logPath());
    fake.channel = &channel;
    fake.wallSeconds = testlog::kWallSeconds;  // every message stamped alike: logs compare whole
  }
  void TearDown() override { resetEngine(); }

  // The engine log folder: the root of the current drive, which the platform maps to the scratch
  // folder natively (SYSTEMDRIVE); on Windows the real root of the current drive.
  std::string logDir() const { return testlog::engineLogDir(scratch); }
  std::string logPath() const { return testlog::engineLogPath(scratch); }
  // The engine log as written, its stamps included (its bytes; none when missing).
  std::string log() const { return testlog::readEngineFile(logPath()); }
  void clearLog() const { tal::os::ScratchDir::write(logPath(), ""); }
  bool logHas(const std::string &text) const { return log().find(text) != std::string::npos; }
  // The engine log's lines as written.
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    std::istringstream in(log());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // How many lines of the log are this message: its stamp, then the text. Only a message's first
  // line carries a stamp: a continuation line or an unstamped dump never counts (search log()).
  int loggedCount(const std::string &message) const {
    int n = 0;
    for (const std::string &l : logLines()) n += l == testlog::kStamp + message;
    return n;
  }
  bool logged(const std::string &message) const { return loggedCount(message) > 0; }
  // Each text appears in the log, in this order.
  void expectInOrder(const std::vector<std::string> &texts) const {
    const std::string text = log();
    size_t pos = 0;
    for (const std::string &t : texts) {
      size_t at = text.find(t, pos);
      ASSERT_NE(at, std::string::npos) << "missing (in order): [" << t << "]\nlog:\n" << text;
      pos = at + t.size();
    }
  }
  // A report file as written (text mode).
  static std::string readText(const std::string &path) { return testlog::readReportFile(path); }

  // The process command line: the host program, then these arguments.
  void args(std::vector<std::wstring> a) {
    a.insert(a.begin(), L"talhost.exe");
    fake.args = a;
  }

  // Writes sent to one device, as byte strings.
  std::vector<Bytes> writesTo(uint8_t segment, uint8_t address) const {
    std::vector<Bytes> out;
    for (const sim::Transaction &t : machine.transactionsOn(segment, address))
      out.push_back(t.write);
    return out;
  }
  // GET_STATUS requests the processor answered: every request that was neither an I2C
  // transaction nor an access request.
  uint64_t statusQueries() const {
    return machine.requests - machine.transactions.size() - machine.accessLog.size();
  }

  tal::os::ScratchDir scratch;
  ServerPlatform fake;
  sim::Machine machine;
  sim::SimChannel channel{machine};
};

}  // namespace testserver
