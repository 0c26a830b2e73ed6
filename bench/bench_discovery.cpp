// Discovery of two switch cards and four backplanes (three behind the first card, one behind the
// second) over the in-process simulator with no latency: the engine's CPU time per scan, and the
// number of I2C transactions a scan takes (counter "i2c"), which sets the time on real hardware.
//
//   BM_Discovery            with the engine log file written (each message opens and closes it)
//   BM_DiscoveryNoLogFile   with no log folder, so every log write fails at the open
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "channel/transport.h"
#include "configinfo.h"
#include "device.h"
#include "discovery.h"
#include "engine.h"
#include "fake_platform.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/simchannel.h"
#include "sim/smbios.h"
#include "state.h"

namespace {

const char *const kCard = "Orvo Varibay 6 HDD Switch Card";
const char *const kBackplane = "Orvo Varibay 6 HDD Backplane";

nlohmann::json twoCardsFourBackplanes() {
  nlohmann::json bp = {{"name", kBackplane}, {"version", "2.05"}};
  return {
      {"segments",
       {{{"segment", 1},
         {"card", {{"name", kCard}, {"version", "1.12"}, {"backplanes", {bp, bp, bp}}}}},
        {{"segment", 3}, {"card", {{"name", kCard}, {"version", "1.05"}, {"backplanes", {bp}}}}}}}};
}

void runDiscovery(benchmark::State &state, bool logFile) {
  tal::os::ScratchDir scratch;
  if (logFile) tal::os::ScratchDir::write(scratch.file("talsystem/log/.keep"), "");
  tal::os::FakePlatform fake;
  sim::Machine machine;
  machine.recordTransactions = false;
  sim::SimChannel channel(machine);
  fake.channel = &channel;
  resetEngine();
  if (!openChannel()) {
    state.SkipWithError("the simulated channel did not open");
    return;
  }
  ConfigInfo *info = ConfigInfo::instance();
  info->keyFileList = {kCard, kBackplane};
  addConfigEntry(1, "vlte_card.bin", "1.12", kCard);
  addConfigEntry(1, "vlti_backplane.bin", "2.05", kBackplane);
  const nlohmann::json description = twoCardsFourBackplanes();
  auto cards = sim::buildBoards(machine.bus, description);
  fake.smbios = sim::makeSmbiosTable(description);

  uint64_t transactions = 0;
  size_t devices = 0;
  for (auto _ : state) {
    deleteDevices();
    const uint64_t before = machine.requests;
    scanDeviceCorrelation();
    transactions = machine.requests - before;
    devices = deviceList().size();
  }
  state.counters["i2c"] = static_cast<double>(transactions);
  state.counters["devices"] = static_cast<double>(devices);
  if (devices != 6) state.SkipWithError("discovery did not list the six devices");
  resetEngine();
}

void BM_Discovery(benchmark::State &state) { runDiscovery(state, true); }
void BM_DiscoveryNoLogFile(benchmark::State &state) { runDiscovery(state, false); }

BENCHMARK(BM_Discovery)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscoveryNoLogFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
