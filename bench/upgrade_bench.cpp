// A whole upgrade against the simulated radio on a modelled USB high-speed link (53 MB/s, with a
// settable latency per request): the operation, the burn-script runner, the frames and the
// transport, everything but the window.
//
// Upgrade16MB: a package of 16 MB (the whole flash as "user_defined") after the radio's data
// are read. Its time must stay within 1.05 x the link's own time: the bytes that crossed the
// link divided by its rate, plus the latency of every request, plus the waits the protocol
// mandates (the pauses at phase ends and before the InfoBlock write, counted as they are taken).
// Counters: link_s (that bound), ratio (time / bound), cpu_s_per_MB (process CPU per MB
// burned), and that CPU split into radio_cpu_ms_per_MB (the simulated radio's own work) and
// host_cpu_ms_per_MB (everything else: what the program costs the PC).
//
// Upgrade16MBVerify: the same with and without read-back verify; verify_ratio = with / without.
//
// UpgradeArmMain: a portable's main firmware (a HEX image of 4 MB, compressed on the host before
// it is written) on a radio whose flash erases at 4 MB/s. The compression runs while the radio
// erases the firmware window: ratio = time / (link time + erase time) stays near 1 instead of
// adding compress_ms (the coder's time on that image, measured beside the run).
//
// Upgrade40MBPeakMemory: a 40 MB package on a repeater (both sides' flash, and the firmware
// kinds); peak_MB is how far the process's resident size rose above where it stood when the
// upgrade started (the simulated radio's flash already in place, and its log of requests off:
// 80,000 records of the radio's own are no memory of the program's), i.e. what the program
// holds. LW_BENCH_KEEP_REQUESTS=1 in the environment keeps the radio's log, as the figure was
// taken before (about 3 MB more).
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "common/operation_report.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/burn_script.h"
#include "config/settings.h"
#include "engine/lzss.h"
#include "engine/upgrade_operation.h"
#include "link/port_store.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/fud_reader.h"
#include "package/fud_writer.h"
#include "package/rcdb_builder.h"
#include "sim/simulated_backend.h"
#include "support/null_sink.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
constexpr double kLinkRate = 53e6;
constexpr double kMB = 1e6;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A line "NAME: N kB" of /proc/self/status, in MB; 0 when it is not there.
double StatusMB(const std::string& name) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name + ":", 0) == 0) return std::stod(line.substr(name.size() + 1)) * 1024 / kMB;
  return 0;
}

// Starts the peak resident size afresh from the present one, so that the package bytes the
// benchmark built (and freed) before the run do not hide what the run itself holds.
void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Under `perf record --control fifo:CTL,ACK -D -1` with LW_PERF_CONTROL=CTL,ACK in the
// environment, only the upgrade itself is sampled: the package written before it and the
// radio set up around it would otherwise hide the program's own cost.
void PerfControl(const char* command) {
  const char* fifos = std::getenv("LW_PERF_CONTROL");
  if (!fifos) return;
  const std::string both = fifos;
  const size_t comma = both.find(',');
  if (comma == std::string::npos) return;
  std::ofstream(both.substr(0, comma)) << command << std::endl;
  std::string ack;
  std::ifstream(both.substr(comma + 1)) >> ack;
}

// Counts what crosses the link, on top of the simulated backend that paces it.
class CountingBackend : public UsbBackend {
 public:
  explicit CountingBackend(sim::SimulatedBackend& inner) : inner_(inner) {}
  std::optional<std::vector<std::string>> Enumerate(UsbDeviceClass cls) override { return inner_.Enumerate(cls); }
  std::unique_ptr<UsbPipes> Open(const std::string& path) override {
    auto pipes = inner_.Open(path);
    return pipes ? std::make_unique<Pipes>(std::move(pipes), *this) : nullptr;
  }
  void SetHotplugCallback(std::function<void()> callback) override { inner_.SetHotplugCallback(std::move(callback)); }

  std::atomic<uint64_t> bytes{0}, requests{0};

 private:
  class Pipes : public UsbPipes {
   public:
    Pipes(std::unique_ptr<UsbPipes> inner, CountingBackend& owner) : inner_(std::move(inner)), owner_(owner) {}
    size_t Read(uint8_t* buffer, size_t n, int timeoutMs) override {
      size_t got = inner_->Read(buffer, n, timeoutMs);
      owner_.bytes += got;
      return got;
    }
    size_t Write(const uint8_t* buffer, size_t n) override {
      size_t put = inner_->Write(buffer, n);
      owner_.bytes += put;
      ++owner_.requests;
      return put;
    }

   private:
    std::unique_ptr<UsbPipes> inner_;
    CountingBackend& owner_;
  };
  sim::SimulatedBackend& inner_;
};

class QuietSink : public test::NullSink {
 public:
  void Report(ReportCode code, ReportPayload) override { last = code; }
  ReportCode last = ReportCode::StartWorker;
};

RadioIdentity Identity(bool repeater) {
  RadioIdentity id;
  id.modelNumber = repeater ? "KQ600-000G0000-M00000-U1-0-F" : "KX412-000G0000-M00000-U1-0-F";
  id.serialNumber = "BENCH00001";
  id.softwareVersion = "A5.00.07.000";
  return id;
}

// Firmware-like bytes: every other 256-byte block repeats one from a little earlier, so that
// LZSS finds matches as it does in real firmware.
Bytes FirmwareLike(size_t n, uint8_t seed);

Bytes Filler(size_t n, uint8_t seed) {
  Bytes b(n);
  uint32_t x = 2463534242u + seed;
  for (auto& v : b) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    v = uint8_t(x % 255);  // never a whole block of 0xFF, so every block is sent
  }
  return b;
}

Bytes FirmwareLike(size_t n, uint8_t seed) {
  Bytes b = Filler(n, seed);
  for (size_t block = 1024; block + 256 <= n; block += 512)
    std::copy_n(b.begin() + std::ptrdiff_t(block - 1000), 256, b.begin() + std::ptrdiff_t(block));
  return b;
}

// The Intel HEX text of `data` from address 0 (16-byte records, an extended linear address
// record at each 64 KiB).
Bytes HexText(const Bytes& data) {
  std::string text;
  auto record = [&text](uint8_t type, uint16_t address, const uint8_t* bytes, size_t n) {
    Bytes r = {uint8_t(n), uint8_t(address >> 8), uint8_t(address), type};
    r.insert(r.end(), bytes, bytes + n);
    uint8_t sum = 0;
    for (uint8_t v : r) sum = uint8_t(sum + v);
    r.push_back(uint8_t(-sum));
    text += ':';
    for (uint8_t v : r) text += Format("%02X", unsigned(v));
    text += "\r\n";
  };
  for (size_t at = 0; at < data.size(); at += 16) {
    if (at % 0x10000 == 0) {
      const uint8_t upper[2] = {uint8_t(at >> 24), uint8_t(at >> 16)};
      record(4, 0, upper, 2);
    }
    record(0, uint16_t(at), data.data() + at, std::min<size_t>(16, data.size() - at));
  }
  record(1, 0, nullptr, 0);
  return Bytes(text.begin(), text.end());
}

struct Run {
  double seconds = 0, cpuSeconds = 0, radioCpuSeconds = 0, waitsSeconds = 0, peakGrowthMB = 0, eraseSeconds = 0;
  uint64_t linkBytes = 0, requests = 0, burnedBytes = 0;
  ReportCode report = ReportCode::StartWorker;
};

// Writes the package, attaches the radio and runs one operator's upgrade.
// A firmware kind given as HEX (arm_main) gets firmware-like bytes as HEX text; others filler.
Run UpgradeOnce(const std::vector<std::pair<std::string, size_t>>& entries, bool repeater, int latencyUs,
                bool verify = false, uint64_t eraseBytesPerSecond = 0) {
  const std::string dir = fs::temp_directory_path() / ("lw_upgrade_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string packagePath = dir + "/bench.fud";
  Run run;
  {
    PackageSpec desc;
    desc.header.targetVersion = "A5.00.09.000";
    desc.header.forPortable = desc.header.forRepeater = 1;
    uint8_t seed = 1;
    for (const auto& [kind, size] : entries) {
      PackageEntrySpec e;
      e.entry.kindName = kind;
      e.data = kind == "arm_main" ? HexText(FirmwareLike(size, seed++)) : Filler(size, seed++);
      run.burnedBytes += size;
      desc.entries.push_back(std::move(e));
    }
    if (!WritePackage(desc, packagePath).ok()) std::abort();
  }  // the package's bytes are on disk only from here on

  ProgramSettings settings;
  settings.radioType = "All";
  settings.digitalType = "PDT DMR";
  settings.encryptLen = "256";
  settings.timeoutMs = 3000;
  settings.verifyWrites = verify;
  BurnScript script;
  // The program directory of the build (build/bin) lies beside the benchmarks (build/bench).
  script.LoadBurnScript(ExecutableDirectory() + "../bin/Torvex.ini");
  PackageRestrictions restrictions;
  LoadPackage(packagePath, restrictions);

  sim::SimulatedBackend simulated;
  sim::SimProfile profile = sim::DefaultSimProfile("bench");
  profile.bytesPerSecond = uint64_t(kLinkRate);
  profile.latencyUs = latencyUs;
  profile.eraseBytesPerSecond = eraseBytesPerSecond;
  profile.radioState = repeater ? 2 : 0;
  profile.receiveSide = repeater;
  profile.radioData = *BuildRcdbImage(SampleRcdbSpec(Identity(repeater)));
  auto radio = simulated.Attach(profile);
  radio->SetKeepPayloads(false);
  radio->SetKeepRequests(std::getenv("LW_BENCH_KEEP_REQUESTS") != nullptr);
  radio->SetCountBusy(true);
  CountingBackend backend(simulated);
  MemoryPortStore store;
  LinkOptions options;
  options.readTimeoutMs = 20;
  UsbTransport transport(backend, &store, options);
  int classFlag = 0;
  transport.Scan(nullptr, classFlag);
  transport.Open(1);
  transport.SetAnswerTimeout(int(settings.timeoutMs));

  std::atomic<int> waitedMs{0};  // every mandated pause, the InfoBlock's too, goes through the hook
  UpgradeEnvironment env;
  env.transport = &transport;
  env.settings = &settings;
  env.script = &script;
  env.restrictions = &restrictions;
  env.programDir = dir + "/";
  env.backupDirectory = dir + "/Restore/";
  env.packagePath = packagePath;
  env.link = {"01.04.006", true, repeater ? 2 : 0, true};
  env.componentCheck = [] { return kOk; };
  env.pause = [&waitedMs](int ms) {
    waitedMs += ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };

  QuietSink sink;
  ResetPeakResident();
  const double residentBefore = StatusMB("VmRSS");
  backend.bytes = 0;
  backend.requests = 0;
  const double cpuStart = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  PerfControl("enable");
  {
    UpgradeOperation operation(env, sink);
    operation.Run({});
  }
  PerfControl("disable");
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = ProcessCpuSeconds() - cpuStart;
  run.radioCpuSeconds = radio->BusySeconds();
  run.eraseSeconds = radio->EraseSeconds();
  run.peakGrowthMB = StatusMB("VmHWM") - residentBefore;
  run.waitsSeconds = waitedMs / 1000.0;
  run.linkBytes = backend.bytes;
  run.requests = backend.requests;
  run.report = sink.last;
  std::error_code ec;
  fs::remove_all(dir, ec);
  return run;
}

// The process's processor time split into the simulated radio's share (it runs inside the
// process, on the host's thread; counted as the time spent in its request handling) and the
// rest: the program's own cost per MB burned.
void CpuCounters(benchmark::State& state, const Run& run) {
  const double burnedMB = double(run.burnedBytes) / kMB;
  state.counters["radio_cpu_ms_per_MB"] = run.radioCpuSeconds * 1e3 / burnedMB;
  state.counters["host_cpu_ms_per_MB"] = (run.cpuSeconds - run.radioCpuSeconds) * 1e3 / burnedMB;
}

void Upgrade16MB(benchmark::State& state) {
  const int latencyUs = int(state.range(0));
  Run run;
  for (auto _ : state) {
    run = UpgradeOnce({{"user_defined", 16u << 20}}, false, latencyUs);
    state.SetIterationTime(run.seconds);
  }
  if (run.report != ReportCode::Finished) state.SkipWithError("the upgrade did not finish");
  const double bound = double(run.linkBytes) / kLinkRate + double(run.requests) * latencyUs * 1e-6 + run.waitsSeconds;
  state.counters["link_MB"] = double(run.linkBytes) / kMB;
  state.counters["requests"] = double(run.requests);
  state.counters["waits_s"] = run.waitsSeconds;
  state.counters["link_s"] = bound;
  state.counters["ratio"] = run.seconds / bound;
  state.counters["cpu_s_per_MB"] = run.cpuSeconds / (double(run.burnedBytes) / kMB);
  CpuCounters(state, run);
}
// Five runs each, shown as mean, median, spread: one upgrade's processor time moves by 10-15%
// from run to run on a shared machine.
BENCHMARK(Upgrade16MB)
    ->Arg(0)
    ->Arg(20)
    ->Iterations(1)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Upgrade16MBVerify: the same 16 MB upgrade with "Verify Writes" on, beside one without it.
// verify_ratio is the time with verify over the time without: the read-back moves every
// written byte across the link once more, in the largest answers the link carries.
void Upgrade16MBVerify(benchmark::State& state) {
  Run plain, verified;
  for (auto _ : state) {
    plain = UpgradeOnce({{"user_defined", 16u << 20}}, false, 0);
    verified = UpgradeOnce({{"user_defined", 16u << 20}}, false, 0, true);
    state.SetIterationTime(verified.seconds);
  }
  if (plain.report != ReportCode::Finished || verified.report != ReportCode::Finished)
    state.SkipWithError("the upgrade did not finish");
  state.counters["plain_s"] = plain.seconds;
  state.counters["verify_s"] = verified.seconds;
  state.counters["verify_ratio"] = verified.seconds / plain.seconds;
  state.counters["verify_cpu_s_per_MB"] = verified.cpuSeconds / (double(verified.burnedBytes) / kMB);
}
BENCHMARK(Upgrade16MBVerify)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void UpgradeArmMain(benchmark::State& state) {
  constexpr size_t kImage = 4u << 20;
  Run run;
  for (auto _ : state) {
    run = UpgradeOnce({{"arm_main", kImage}}, false, 0, false, 4u << 20);
    state.SetIterationTime(run.seconds);
  }
  if (run.report != ReportCode::Finished) state.SkipWithError("the upgrade did not finish");
  const Bytes plain = FirmwareLike(kImage, 1);
  const auto start = std::chrono::steady_clock::now();
  const Bytes packed = LzssCompress(plain);
  const double compressSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double bound = double(run.linkBytes) / kLinkRate + run.waitsSeconds + run.eraseSeconds;
  state.counters["compress_ms"] = compressSeconds * 1e3;
  state.counters["packed_MB"] = double(packed.size()) / kMB;
  state.counters["erase_s"] = run.eraseSeconds;
  state.counters["link_s"] = bound;
  state.counters["ratio"] = run.seconds / bound;
  CpuCounters(state, run);
}
BENCHMARK(UpgradeArmMain)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void Upgrade40MBPeakMemory(benchmark::State& state) {
  Run run;
  for (auto _ : state) {
    run = UpgradeOnce({{"user_defined", 16u << 20},
                       {"user_defined(Rx)", 16u << 20},
                       {"dsp_main", 0x1E0000},
                       {"dsp_main(Rx)", 0x1E0000},
                       {"voice notify package", 0x180000},
                       {"gif package", 0x100000},
                       {"english language package", 0x80000},
                       {"fpga_code", 0x80000}},
                      true, 0);
    state.SetIterationTime(run.seconds);
  }
  if (run.report != ReportCode::Finished) state.SkipWithError("the upgrade did not finish");
  state.counters["package_MB"] = double(run.burnedBytes) / kMB;
  state.counters["peak_MB"] = run.peakGrowthMB;
  state.counters["cpu_s_per_MB"] = run.cpuSeconds / (double(run.burnedBytes) / kMB);
  CpuCounters(state, run);
}
BENCHMARK(Upgrade40MBPeakMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lw
