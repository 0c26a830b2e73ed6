// Flash benchmarks over the in-process simulated management processor.
//  (a) Engine CPU per flashed KiB: a Velto-E transfer and a full Velto-I
//  programming, no channel
//      latency, sleeps recorded by the fake clock instead of slept.
//  (b) Whole-flash wall time with real sleeps, on a zero-latency channel and
//      with 1 ms of simulated latency per exchange, with and without precise
//      sleeps (timer slack / timer resolution), against the model minimum: the
//      sum of every wait asked for (the procedure's fixed waits and the latency
//      of each exchange). Counter "ratio" is wall / minimum (goal: at most 1.01).
//  (c) Peak heap of a 1 MiB Velto-E flash (counter "peak_KiB", over the
//  payload's 1024 KiB) and
//      allocations made per block (counter "allocs_per_block", goal 0).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "channel/transport.h"
#include "engine.h"
#include "fake_platform.h"
#include "flashtask.h"
#include "fwheader.h"
#include "sim/i2c.h"
#include "sim/loader.h"
#include "sim/machine.h"
#include "sim/machxo2.h"
#include "sim/simchannel.h"
#include "veltoe.h"
#include "veltoi.h"

// --- heap accounting (c) ---
namespace {
std::atomic<size_t> g_heapNow{0}, g_heapPeak{0}, g_allocs{0};
struct Block {
  size_t size;
  size_t pad;  // keeps the payload 16-byte aligned
};
void *countedAlloc(size_t n) {
  Block *b = static_cast<Block *>(std::malloc(sizeof(Block) + n));
  if (!b) throw std::bad_alloc();
  b->size = n;
  size_t now = g_heapNow += n;
  size_t peak = g_heapPeak.load();
  while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
  }
  ++g_allocs;
  return b + 1;
}
void countedFree(void *p) {
  if (!p) return;
  Block *b = static_cast<Block *>(p) - 1;
  g_heapNow -= b->size;
  std::free(b);
}
}  // namespace

void *operator new(size_t n) { return countedAlloc(n); }
void *operator new[](size_t n) { return countedAlloc(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept {
  try {
    return countedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void *operator new[](size_t n, const std::nothrow_t &) noexcept {
  try {
    return countedAlloc(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void *p) noexcept { countedFree(p); }
void operator delete[](void *p) noexcept { countedFree(p); }
void operator delete(void *p, size_t) noexcept { countedFree(p); }
void operator delete[](void *p, size_t) noexcept { countedFree(p); }

namespace {

constexpr uint8_t kSeg = 1;

// The fake platform with real sleeps and a real clock (b).
class RealSleepPlatform : public tal::os::FakePlatform {
 public:
  void sleepMs(uint32_t ms) override {
    asked += ms;
    ++calls;
    tal::os::defaultPlatform().sleepMs(ms);
  }
  // The procedures' precise sleeps reach the real backend (timer slack, timer resolution), unless
  // `plainSleeps` measures the figure without them.
  void beginPreciseSleeps() override {
    FakePlatform::beginPreciseSleeps();
    if (!plainSleeps) tal::os::defaultPlatform().beginPreciseSleeps();
  }
  void endPreciseSleeps() override {
    FakePlatform::endPreciseSleeps();
    if (!plainSleeps) tal::os::defaultPlatform().endPreciseSleeps();
  }
  bool plainSleeps = false;
  uint64_t asked = 0, calls = 0;
};

std::string image(int type, int chip, size_t size) {
  uint8_t h[fwimg::kHeaderSize];
  fwimg::encodeHeader(h, 1, type, 1, 0, chip, fwimg::chipText(chip));
  std::string s(reinterpret_cast<char *>(h), sizeof h);
  uint32_t x = 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s.push_back(static_cast<char>(x >> 16));
  }
  return s;
}

// A segment with a loader at 0x82, a CPLD at 0x80 and plain registers for the
// card's switch controller and port selector; the channel opened.
struct Rig {
  explicit Rig(tal::os::FakePlatform &fake, uint32_t latency = 0) : channel(machine) {
    machine.recordTransactions = false;
    machine.latencyMs = latency;
    loader = std::make_shared<sim::VlteLoader>();
    cpld = std::make_shared<sim::MachXO2>();
    machine.bus.attach(kSeg, 0x82, loader);
    machine.bus.attach(kSeg, 0x80, cpld);
    machine.bus.attach(kSeg, 0xEC, std::make_shared<sim::RegisterDevice>());
    machine.bus.attach(kSeg, 0xE4, std::make_shared<sim::RegisterDevice>());
    fake.channel = &channel;
    if (!openChannel()) std::abort();
  }
  ~Rig() { closeChannel(); }
  sim::Machine machine;
  sim::SimChannel channel;
  std::shared_ptr<sim::VlteLoader> loader;
  std::shared_ptr<sim::MachXO2> cpld;
};

void writeFile(const std::string &path, const std::string &bytes) {
  tal::os::ScratchDir::write(path, bytes);
}

// (a) The procedure's own cost: Flash() of an image of `size` bytes, each run on a fresh rig that
// is set up and torn down untimed.
void timeFlashes(benchmark::State &state, int type, int address, const char *file, size_t size) {
  tal::os::ScratchDir scratch;
  tal::os::FakePlatform fake;
  writeFile(scratch.file(file), image(type, type, size));
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<Rig>(fake);
    if (type == 1) rig->loader->reserve(size + 256);
    std::unique_ptr<FlashTaskVelto> task = createFlashTask(type, kSeg, address, file, 0);
    state.ResumeTiming();
    if (task->Flash() != 0) state.SkipWithError("flash failed");
    state.PauseTiming();
    rig.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["us_per_KiB"] = benchmark::Counter(
      static_cast<double>(state.iterations() * size) / 1024.0,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// (a) Velto-E
void BM_VeltoE_CpuPerKiB(benchmark::State &state) {
  timeFlashes(state, 1, 0x82, "e.bin", static_cast<size_t>(state.range(0)) << 10);
}
BENCHMARK(BM_VeltoE_CpuPerKiB)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

// (a) Velto-I: one full programming (both regions, 6,527 pages).
void BM_VeltoI_CpuPerKiB(benchmark::State &state) {
  timeFlashes(state, 2, 0x80, "i.bin", vlti::kMaxPayload);
}
BENCHMARK(BM_VeltoI_CpuPerKiB)->Unit(benchmark::kMillisecond);

// (b) wall time against the model minimum, 1 ms per exchange, real sleeps.
template <int Type>
void BM_WallVsModel(benchmark::State &state) {
  tal::os::ScratchDir scratch;
  RealSleepPlatform fake;
  const size_t size = Type == 1 ? static_cast<size_t>(state.range(0)) << 10 : vlti::kMaxPayload;
  const uint32_t latency = static_cast<uint32_t>(state.range(1));
  fake.plainSleeps = state.range(2) == 0;
  writeFile(scratch.file("w.bin"), image(Type, Type, size));
  double ratio = 0, wall = 0, minimum = 0, exchanges = 0, overshoot = 0, engineRatio = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // The operating system's own excess per 1 ms sleep.
    const int kProbe = 300;
    auto c0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kProbe; ++i) tal::os::defaultPlatform().sleepMs(1);
    const double perSleep =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - c0).count() /
            kProbe -
        1.0;
    state.ResumeTiming();
    state.PauseTiming();
    auto rig = std::make_unique<Rig>(fake, latency);
    rig->cpld->erasePolls = 1;
    fake.asked = 0;
    fake.calls = 0;
    const uint64_t before = rig->machine.requests;
    std::unique_ptr<FlashTaskVelto> task =
        createFlashTask(Type, kSeg, Type == 1 ? 0x82 : 0x80, "w.bin", 0);
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    if (task->Flash() != 0) state.SkipWithError("flash failed");
    auto t1 = std::chrono::steady_clock::now();
    state.PauseTiming();
    wall = std::chrono::duration<double, std::milli>(t1 - t0).count();
    minimum = static_cast<double>(fake.asked);
    exchanges = static_cast<double>(rig->machine.requests - before);
    ratio = wall / minimum;
    overshoot = perSleep * static_cast<double>(fake.calls);
    engineRatio = (wall - overshoot) / minimum;
    rig.reset();
    state.ResumeTiming();
  }
  state.counters["wall_ms"] = wall;
  state.counters["model_ms"] = minimum;
  state.counters["exchanges"] = exchanges;
  state.counters["ratio"] = ratio;
  state.counters["os_overshoot_ms"] = overshoot;
  state.counters["engine_ratio"] = engineRatio;
}
// Arguments: KiB (Velto-E; 0 for Velto-I), latency per exchange in ms, precise sleeps on (1) or
// off (0).
template <int KiB>
void wallVsModelArgs(benchmark::internal::Benchmark *b) {
  b->ArgNames({"KiB", "latency_ms", "precise"})
      ->Args({KiB, 0, 0})
      ->Args({KiB, 0, 1})
      ->Args({KiB, 1, 1})
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
}
BENCHMARK_TEMPLATE(BM_WallVsModel, 1)->Apply(wallVsModelArgs<64>);
BENCHMARK_TEMPLATE(BM_WallVsModel, 2)->Apply(wallVsModelArgs<0>);

// (c) peak heap and allocations per block of a 1 MiB Velto-E flash.
void BM_VeltoE_PeakMemory1MiB(benchmark::State &state) {
  tal::os::ScratchDir scratch;
  tal::os::FakePlatform fake;
  const size_t size = 1u << 20;
  writeFile(scratch.file("m.bin"), image(1, 1, size));
  writeFile(scratch.file("s.bin"), image(1, 1, 64u << 10));
  double peakKiB = 0, perBlock = 0;
  for (auto _ : state) {
    auto measure = [&](const char *path, size_t bytes, size_t &allocs) {
      auto rig = std::make_unique<Rig>(fake);
      rig->loader->reserve(bytes + 256);
      fake.sleeps.reserve(64);
      FlashTaskVeltoE task(kSeg, 0x82, path, 0, 1);
      const size_t base = g_heapNow.load(), a0 = g_allocs.load();
      g_heapPeak = base;
      if (task.Flash() != 0) state.SkipWithError("flash failed");
      allocs = g_allocs.load() - a0;
      return g_heapPeak.load() - base;
    };
    size_t allocsSmall = 0, allocsBig = 0;
    measure("s.bin", 64u << 10, allocsSmall);
    const size_t peak = measure("m.bin", size, allocsBig);
    peakKiB = static_cast<double>(peak) / 1024.0;
    // The 1 MiB flash sends 3,841 more blocks than the 64 KiB one.
    perBlock = (static_cast<double>(allocsBig) - static_cast<double>(allocsSmall)) /
               static_cast<double>((size - (64u << 10)) / 256);
  }
  state.counters["peak_KiB"] = peakKiB;
  state.counters["allocs_per_block"] = perBlock;
}
BENCHMARK(BM_VeltoE_PeakMemory1MiB)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
