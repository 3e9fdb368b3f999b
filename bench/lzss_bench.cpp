// LZSS coder throughput on inputs shaped like the reference vectors: random bytes, a short
// period, zeros (tools/bench.d/lzss_vs_reference.sh compares with the reference coder itself
// on the vectors).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "engine/lzss.h"

namespace {

lw::Bytes Vector(const std::string& name) {
  if (name == "zeros4096") return lw::Bytes(4096, 0);
  std::mt19937 rng(5);
  if (name == "random100k") {
    lw::Bytes b(102400);
    for (auto& c : b) c = uint8_t(rng());
    return b;
  }
  lw::Bytes period(17);
  for (auto& c : period) c = uint8_t(rng());
  lw::Bytes b(307200);
  for (size_t i = 0; i < b.size(); ++i) b[i] = period[i % 17];
  return b;
}

void Compress(benchmark::State& state, const char* name) {
  const lw::Bytes input = Vector(name);
  for (auto _ : state) benchmark::DoNotOptimize(lw::LzssCompress(input));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

void Decompress(benchmark::State& state, const char* name) {
  const lw::Bytes packed = lw::LzssCompress(Vector(name));
  for (auto _ : state) benchmark::DoNotOptimize(lw::LzssDecompress(packed, 1 << 26));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packed.size()));
}

BENCHMARK_CAPTURE(Compress, random100k, "random100k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, period17_300k, "period17_300k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, zeros4096, "zeros4096")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decompress, random100k, "random100k")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, period17_300k, "period17_300k")->Unit(benchmark::kMillisecond);

}  // namespace
