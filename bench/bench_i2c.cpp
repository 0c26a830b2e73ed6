// The engine's own cost of one I2CTransaction (request build, exchange over the in-process
// simulator with no latency, response checks, log calls), at log level 0 and 1, and the
// simulator's share of it (the same packet through SimChannel alone).
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>

#include "channel/smif.h"
#include "channel/transport.h"
#include "engine.h"
#include "fake_platform.h"
#include "log.h"
#include "sim/machine.h"
#include "sim/simchannel.h"
#include "sim_server.h"
#include "state.h"

namespace {

struct Rig : testserver::SimServer {
  Rig() {
    machine.recordTransactions = false;  // the simulator's log would allocate per transaction
    auto eeprom = std::make_shared<sim::RegisterDevice>(2);
    machine.bus.attach(1, kAddrFru, eeprom);
    resetEngine();
    std::error_code ec;
    std::filesystem::create_directories(
        std::filesystem::path(tal::os::sys().nativePath(std::string(kEngineLogPath))).parent_path(),
        ec);
    openChannel();
  }
  ~Rig() { resetEngine(); }  // the channel closes with it
};

void I2cTransaction(benchmark::State &state) {
  Rig rig;
  setLogLevel(static_cast<int>(state.range(0)));
  const uint32_t readLength = static_cast<uint32_t>(state.range(1));
  const uint8_t offset[2] = {0x00, 0x12};
  uint8_t buffer[32];
  for (auto _ : state) {
    uint32_t status = I2CTransaction(1, kAddrFru, offset, 2, buffer, readLength, false);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(I2cTransaction)
    ->ArgNames({"level", "RL"})
    ->Args({0, 0})
    ->Args({0, 32})
    ->Args({1, 0})
    ->Args({1, 32});

// The simulator alone: one I2C request sent and its response received through SimChannel.
void SimulatorOnly(benchmark::State &state) {
  Rig rig;
  uint8_t request[57] = {};
  putU16(request, 0, 57);
  putU16(request, 4, SMIFCMD_I2C_TRANSACTION);
  std::memcpy(request + 12, kTagUnlocked, 8);
  request[20] = kAddrFru;
  request[22] = 1;
  request[23] = 2;
  request[24] = 32;
  request[26] = 0x12;
  uint8_t response[57];
  for (auto _ : state) {
    uint32_t status = 0, wait = 20000;
    rig.channel.send(engineState().channel.handle, request, 57, &status, 0);
    benchmark::DoNotOptimize(
        rig.channel.recv(engineState().channel.handle, response, 57, &status, &wait));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(SimulatorOnly);

// One level-1 trace call while the level is 0: what each skipped trace line costs.
void Level1LineAtLevel0(benchmark::State &state) {
  Rig rig;
  setLogLevel(0);
  for (auto _ : state) logMessage(LOG_LEVEL1 | LOG_NOTIME, "0x%02x ", 0x5A);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(Level1LineAtLevel0);

}  // namespace

BENCHMARK_MAIN();
