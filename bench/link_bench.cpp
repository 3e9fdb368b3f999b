// The radio link's host side: 16 MB written with WriteAscending through frames, transport and
// backend into the simulated radio's flash. With no link delay the figure is what the program
// itself can move; it must stay far above what USB 2.0 high speed carries (53 MB/s), so that
// the link, not the program, sets the pace of an upgrade. The paced case checks that the
// simulated link keeps the rate its profile gives.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <random>

#include "link/port_store.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "sim/simulated_backend.h"

namespace lw {
namespace {

constexpr size_t kImageSize = 16u << 20;
constexpr double kMB = 1e6;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

Bytes Image() {
  Bytes data(kImageSize);
  std::mt19937 random(42);
  for (auto& b : data) b = uint8_t(random() % 255);  // never a whole block of 0xFF
  return data;
}

void WriteImage(benchmark::State& state, uint64_t bytesPerSecond) {
  sim::SimulatedBackend backend;
  MemoryPortStore store;
  sim::SimProfile profile = sim::DefaultSimProfile("bench");
  profile.bytesPerSecond = bytesPerSecond;
  auto radio = backend.Attach(profile);
  radio->SetKeepPayloads(state.range(0) != 0);
  LinkOptions options;
  options.readTimeoutMs = 10;
  UsbTransport transport(backend, &store, options);
  int classFlag = 0;
  transport.Scan(nullptr, classFlag);
  if (!transport.Open(1)) {
    state.SkipWithError("the simulated radio does not open");
    return;
  }
  const Bytes data = Image();
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    radio->Flash(0).Erase(0, kImageSize / 256);
    radio->ClearRequests();
    state.ResumeTiming();
    const double cpuStart = ProcessCpuSeconds();
    ProgressSteps steps;
    int rc = WriteAscending(transport, steps, 0, data, 512, 0);
    cpu += ProcessCpuSeconds() - cpuStart;
    if (rc != kOk) state.SkipWithError("the write failed");
  }
  ByteView written = radio->Flash(0).View(0, kImageSize);
  if (!std::equal(written.begin(), written.end(), data.begin()) || !radio->FlashErrors().empty())
    state.SkipWithError("the flash does not hold the image");
  transport.Close();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kImageSize));
  const double megabytes = double(state.iterations()) * double(kImageSize) / kMB;
  state.counters["cpu_ms_per_MB"] = cpu * 1e3 / megabytes;
  state.counters["requests"] = double(kImageSize / 512);
}

// Arg: 1 keeps every request's payload in the radio's log (as the tests do), 0 does not.
void BM_WriteAscending16MB(benchmark::State& state) { WriteImage(state, 0); }
BENCHMARK(BM_WriteAscending16MB)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteAscending16MBAt53MBps(benchmark::State& state) { WriteImage(state, 53000000); }
BENCHMARK(BM_WriteAscending16MBAt53MBps)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace lw
