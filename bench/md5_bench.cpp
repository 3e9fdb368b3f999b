// MD5 throughput in memory (tools/bench.d/md5_vs_md5sum.sh compares the program with md5sum).
#include <benchmark/benchmark.h>

#include "engine/md5.h"

namespace {

void BM_Md5(benchmark::State& state) {
  lw::Bytes data(size_t(state.range(0)));
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + (i >> 9));
  for (auto _ : state) benchmark::DoNotOptimize(lw::Md5Of(data));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Md5)->Arg(1024)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
