// Races our LZSS coder against the public-domain reference coder (Okumura's LZSS.C, 1989) in
// one process, so that what is timed is the coding and not the start of two programs, and
// checks that every output is identical byte for byte.
//
// The reference is not part of this repository. tools/bench.d/lzss_vs_reference.sh compiles
// it from the path in LW_LZSS_REFERENCE with its main renamed and links it with this file and
// src/engine/lzss.cpp, both at -O2.
//
//   lzss_race VECTOR_DIR             time every *.in of the folder and a 16 MB input made of them
//   lzss_race --fuzz SECONDS [SEED]  compare the two coders on random inputs for that long
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/lzss.h"

// The reference coder's globals and its encoder (compiled as C).
extern "C" {
extern FILE *infile, *outfile;
extern unsigned char text_buf[4096 + 18 - 1];
extern unsigned long textsize, codesize, printcount;
void Encode(void);
}

namespace {

using Clock = std::chrono::steady_clock;
FILE* report = stdout;

// The reference runs as it does as a program: it reads a file and writes a file (here
// /dev/null when it is timed, a memory stream when its output is compared). The input file is
// this process's own, so that two races never read each other's input.
const std::string kInputFile =
    (std::filesystem::temp_directory_path() / ("lzss_race." + std::to_string(getpid()) + ".in")).string();

void WriteInputFile(const lw::Bytes& input) {
  std::ofstream(kInputFile, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
}

lw::Bytes ReferenceCompress(bool keepOutput) {
  // A fresh process starts with a zeroed ring; the coder does not clear the bytes past the
  // spaces itself, and short inputs read them.
  std::memset(text_buf, 0, sizeof text_buf);
  textsize = codesize = printcount = 0;
  infile = std::fopen(kInputFile.c_str(), "rb");
  char* buffer = nullptr;
  size_t length = 0;
  outfile = keepOutput ? open_memstream(&buffer, &length) : std::fopen("/dev/null", "wb");
  if (!infile || !outfile) {
    std::fprintf(stderr, "lzss_race: cannot open the reference's files\n");
    std::exit(2);
  }
  Encode();
  std::fclose(infile);
  std::fclose(outfile);
  lw::Bytes out;
  if (keepOutput) out.assign(buffer, buffer + length);
  std::free(buffer);
  return out;
}

lw::Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return lw::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Seconds per run of `fn`: the best of seven rounds, each of enough runs to take about 50 ms,
// the two coders alternating round by round so that both see the same machine.
template <typename Fn>
double SecondsPerRun(Fn fn, int runs) {
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) fn();
  return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

int RunsFor() {
  const auto start = Clock::now();
  int runs = 0;
  while (Clock::now() - start < std::chrono::milliseconds(50)) {
    ReferenceCompress(false);
    ++runs;
  }
  return std::max(runs, 1);
}

struct Row {
  std::string name;
  size_t bytes = 0;
  double ours = 0, reference = 0;
  bool identical = false;
};

Row Race(const std::string& name, const lw::Bytes& input) {
  Row row{name, input.size()};
  WriteInputFile(input);
  row.identical = lw::LzssCompress(input) == ReferenceCompress(true);
  const int runs = RunsFor();
  row.ours = row.reference = 1e30;
  for (int round = 0; round < 7; ++round) {
    row.ours = std::min(row.ours, SecondsPerRun([&] { lw::LzssCompress(input); }, runs));
    row.reference = std::min(row.reference, SecondsPerRun([&] { ReferenceCompress(false); }, runs));
  }
  return row;
}

int Benchmark(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".in") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  if (paths.empty()) {
    std::fprintf(stderr, "lzss_race: no *.in in %s\n", folder.c_str());
    return 2;
  }
  std::vector<std::pair<std::string, lw::Bytes>> inputs;
  lw::Bytes round, big;
  for (const auto& path : paths) {
    inputs.emplace_back(std::filesystem::path(path).stem().string(), ReadAll(path));
    round.insert(round.end(), inputs.back().second.begin(), inputs.back().second.end());
  }
  while (!round.empty() && big.size() < 16'000'000) big.insert(big.end(), round.begin(), round.end());
  big.resize(std::min<size_t>(big.size(), 16'000'000));
  inputs.emplace_back("big16m", big);

  std::fprintf(report, "%-16s %10s %12s %12s %8s  %s\n", "input", "bytes", "ours ms", "reference ms", "speed", "output");
  bool same = true, fastEnough = true;
  for (const auto& [name, input] : inputs) {
    const Row row = Race(name, input);
    const double speed = row.reference / row.ours;
    std::fprintf(report, "%-16s %10zu %12.3f %12.3f %7.2fx  %s\n", row.name.c_str(), row.bytes, row.ours * 1e3,
                 row.reference * 1e3, speed, row.identical ? "identical" : "DIFFERENT");
    same = same && row.identical;
    fastEnough = fastEnough && speed >= 1.5;
  }
  std::fprintf(report, "lzss: %s; every input at least 1.5x the reference's speed: %s\n",
               same ? "every output identical" : "OUTPUTS DIFFER", fastEnough ? "yes" : "NO (below goal)");
  return same ? 0 : 1;
}

// Random inputs of the shapes that steer the match search differently: random bytes, small
// alphabets, periods, runs and copies of earlier stretches, mixed and cut at random lengths.
lw::Bytes RandomInput(std::mt19937_64& rng) {
  lw::Bytes out;
  const size_t target = std::uniform_int_distribution<size_t>(0, 70000)(rng);
  while (out.size() < target) {
    const size_t piece = std::uniform_int_distribution<size_t>(1, 5000)(rng);
    switch (rng() % 5) {
      case 0:
        for (size_t i = 0; i < piece; ++i) out.push_back(uint8_t(rng()));
        break;
      case 1: {
        const unsigned alphabet = 1 + unsigned(rng() % 4);
        for (size_t i = 0; i < piece; ++i) out.push_back(uint8_t(' ' + rng() % alphabet));
        break;
      }
      case 2: {
        const size_t period = 1 + rng() % 40;
        lw::Bytes unit(period);
        for (auto& c : unit) c = uint8_t(rng() % 3 ? rng() : 0x20);
        for (size_t i = 0; i < piece; ++i) out.push_back(unit[i % period]);
        break;
      }
      case 3:
        out.insert(out.end(), piece, uint8_t(rng() % 2 ? 0 : rng()));
        break;
      default:
        if (out.size() > 20) {
          const size_t from = rng() % (out.size() - 10);
          const size_t length = std::min(piece, out.size() - from);
          for (size_t i = 0; i < length; ++i) out.push_back(uint8_t(out[from + i] ^ (rng() % 50 == 0 ? 1 : 0)));
        }
        break;
    }
  }
  out.resize(target);
  return out;
}

int Fuzz(double seconds, uint64_t seed) {
  std::mt19937_64 rng(seed);
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  uint64_t runs = 0, bytes = 0;
  while (Clock::now() < end) {
    const lw::Bytes input = RandomInput(rng);
    WriteInputFile(input);
    if (lw::LzssCompress(input) != ReferenceCompress(true)) {
      const std::string path = "lzss_race_mismatch.in";
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
      std::fprintf(report, "lzss fuzz: outputs differ after %llu inputs; the input is in %s\n",
                   static_cast<unsigned long long>(runs), path.c_str());
      return 1;
    }
    ++runs;
    bytes += input.size();
  }
  std::fprintf(report, "lzss fuzz: %llu inputs, %llu bytes, seed %llu: every output identical\n",
               static_cast<unsigned long long>(runs), static_cast<unsigned long long>(bytes),
               static_cast<unsigned long long>(seed));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The reference prints its progress on stdout; ours go to a copy of the original stdout.
  const int saved = dup(1);
  report = fdopen(saved, "w");
  if (!report || !std::freopen("/dev/null", "w", stdout)) return 2;
  setvbuf(report, nullptr, _IOLBF, 0);
  int status = 2;
  if (argc >= 3 && std::string(argv[1]) == "--fuzz")
    status = Fuzz(std::atof(argv[2]), argc >= 4 ? std::strtoull(argv[3], nullptr, 10) : uint64_t(time(nullptr)));
  else if (argc == 2)
    status = Benchmark(argv[1]);
  else
    std::fprintf(stderr, "usage: lzss_race VECTOR_DIR | lzss_race --fuzz SECONDS [SEED]\n");
  std::remove(kInputFile.c_str());
  return status;
}
