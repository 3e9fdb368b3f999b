// Reading hostile configuration files: a 1 MB file of random bytes (and one of endless key
// lines) through set.ini's readers, the burn script reader and the language file parser. The
// goal is "well under a second" per megabyte; real files are a few kilobytes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>

#include "config/burn_script.h"
#include "config/settings.h"
#include "ui/translate.h"

namespace {

std::string RandomBytes(size_t size) {
  std::mt19937 random(42);
  std::string s(size, '\0');
  for (auto& c : s) c = char(random());
  return s;
}

// Many short lines with the characters the readers react to.
std::string DenseLines(size_t size) {
  const std::string line = "[FOR RADIO]\n<a><b><c>\nKX41X-0=f // c\nXRCP_Memory_Write 0(1) 0x1(4) [1=2 FILE]\n";
  std::string s;
  while (s.size() < size) s += line;
  return s;
}

std::string WriteTemp(const std::string& content) {
  std::string path = "/tmp/lw_config_bench_" + std::to_string(getpid()) + ".ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  return path;
}

void AllSettingsReaders(benchmark::State& state, const std::string& content) {
  std::string path = WriteTemp(content);
  for (auto _ : state) {
    lw::ProgramSettings s;
    lw::ReadProgramSettings(path, s);
    benchmark::DoNotOptimize(lw::ReadUpgradeRules(path));
    benchmark::DoNotOptimize(lw::ReadTunerRules(path));
    benchmark::DoNotOptimize(lw::ReadRadioRules(path, false));
    benchmark::DoNotOptimize(lw::ReadMacList(path));
    benchmark::DoNotOptimize(lw::ReadSerialList(path));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(content.size()));
  unlink(path.c_str());
}

void BM_SettingsRandomMegabyte(benchmark::State& state) { AllSettingsReaders(state, RandomBytes(1 << 20)); }
void BM_SettingsDenseMegabyte(benchmark::State& state) { AllSettingsReaders(state, DenseLines(1 << 20)); }

void BurnScript(benchmark::State& state, const std::string& content) {
  for (auto _ : state) {
    lw::BurnScript script;
    script.LoadBurnScriptText(content);
    benchmark::DoNotOptimize(script.Entries().size());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(content.size()));
}
void BM_BurnScriptRandomMegabyte(benchmark::State& state) { BurnScript(state, RandomBytes(1 << 20)); }
void BM_BurnScriptDenseMegabyte(benchmark::State& state) { BurnScript(state, DenseLines(1 << 20)); }

void BM_LanguageRandomMegabyte(benchmark::State& state) {
  std::string content = RandomBytes(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(lw::ParseLanguageText(content));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(content.size()));
}

}  // namespace

BENCHMARK(BM_SettingsRandomMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettingsDenseMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BurnScriptRandomMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BurnScriptDenseMegabyte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LanguageRandomMegabyte)->Unit(benchmark::kMillisecond);
