// A channel test: a scratch drive for the engine log, the fake platform with the in-process
// simulator as its channel library, and the engine's channel state back at load.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "channel/smif.h"
#include "channel/transport.h"
#include "engine_log.h"
#include "fake_platform.h"
#include "log.h"
#include "sim/machine.h"
#include "sim/simchannel.h"

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.channel = &lib;
    resetEngineLog();
    g_channel = nullptr;
    g_smifSeq = 0;
    logPath = tal::os::sys().nativePath(std::string(kEngineLogPath));
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), ec);
    tal::os::ScratchDir::write(logPath, "");
  }
  void TearDown() override {
    g_channel = nullptr;
    resetEngineLog();
  }

  // Opens the channel and forgets the sleeps and log lines that took.
  void open() {
    ASSERT_TRUE(openChannel());
    fake.sleeps.clear();
    clearLog();
  }

  // The engine log with the time stamps taken out and the line ends as the engine wrote them.
  std::string log() const { return testlog::withoutStamps(testlog::readEngineFile(logPath)); }
  void clearLog() { tal::os::ScratchDir::write(logPath, ""); }

  tal::os::ScratchDir scratch;
  tal::os::FakePlatform fake;
  sim::Machine machine;
  sim::SimChannel lib{machine};
  std::string logPath;
};

// A request of the given LEN and CMD in a buffer of `size` bytes.
template <size_t N>
struct Request {
  uint8_t b[N] = {};
  explicit Request(uint16_t len = static_cast<uint16_t>(N), uint16_t cmd = 0x0002) {
    putU16(b, 0, len);
    putU16(b, 4, cmd);
  }
};
