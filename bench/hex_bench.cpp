// HEX reader throughput: load and pack HEX text in memory (16 data bytes per record, as
// objcopy writes it). tools/bench.d/hex_vs_objcopy.sh compares the whole program with objcopy.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "common/text.h"
#include "engine/binary_image.h"
#include "engine/hex_image.h"

namespace {

std::string MakeHex(size_t dataBytes) {
  std::mt19937 rng(1);
  std::string text;
  text.reserve(dataBytes * 3);
  for (size_t at = 0; at < dataBytes; at += 16) {
    if (at % 0x10000 == 0) {
      const unsigned hi = unsigned(at >> 16);
      text += lw::Format(":02000004%04X%02X\n", hi, (0x100 - ((6 + (hi >> 8) + (hi & 0xFF)) & 0xFF)) & 0xFF);
    }
    unsigned sum = 16 + ((at >> 8) & 0xFF) + (at & 0xFF);
    std::string line = lw::Format(":10%04X00", unsigned(at & 0xFFFF));
    for (int i = 0; i < 16; ++i) {
      const unsigned b = rng() & 0xFF;
      sum += b;
      line += lw::Format("%02X", b);
    }
    text += line + lw::Format("%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  }
  return text + ":00000001FF\n";
}

void BM_HexLoadAndPack(benchmark::State& state) {
  const std::string text = MakeHex(size_t(state.range(0)));
  lw::Bytes packed(lw::kImageBufferSize);
  for (auto _ : state) {
    lw::HexImage hex;
    if (hex.LoadFromText(text) != lw::kHexLoaded) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(hex.ReadPacked(packed));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_HexLoadAndPack)->Arg(1 << 20)->Arg(10900000)->Unit(benchmark::kMillisecond);

}  // namespace
