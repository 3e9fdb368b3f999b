// The soak: N upgrades of simulated radios, each with a package of a random shape and random
// faults of every kind the simulated radio has, and after each one the checks that make
// "Upgrading Finished!" mean what it says:
//  - a run that ends with report 2 left both flash sides exactly as a fault-free run of the same
//    package on the same radio leaves them (the InfoBlock's erase unit aside: the completion
//    mark is not checked by the program, by design), and the plain images read back byte for
//    byte as the package holds them;
//  - every backup left behind equals the radio data as they were on the radio;
//  - a run without faults succeeds, and no run hangs (each is bounded in time).
//
//   lw_soak N SEED [-v] [--only I]
//
// -v prints every run; --only I runs just run I of the series (to look again at one that went
// wrong: a run's shape and faults depend only on SEED and I).
//
// The last line: "soak: N upgrades, S succeeded, F failed as expected, 0 false successes,
// 0 bad backups" (the counts as found). Exit status 0 when the two zeros hold and nothing
// else went wrong, 1 otherwise.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../support/null_sink.h"
#include "common/operation_report.h"
#include "config/burn_script.h"
#include "config/settings.h"
#include "engine/upgrade_operation.h"
#include "link/port_store.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/fud_reader.h"
#include "package/fud_writer.h"
#include "package/rcdb_builder.h"
#include "sim/sim_memory_map.h"
#include "sim/simulated_backend.h"
#include "support/eligible_identity.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kAnswerTimeoutMs = 40;
constexpr int kPipeReadMs = 4;
constexpr auto kRunLimit = std::chrono::seconds(600);
constexpr uint32_t kFlashBytes = 0x1000000;
constexpr uint32_t kMarkUnit = 0xFE0000;  // the InfoBlock's erase unit, to the end of flash
constexpr uint32_t kRcdbWindow = 0x100000;

// A sink that answers "no" to the backup question and keeps the one report.
class SoakSink : public test::NullSink {
 public:
  void Report(ReportCode code, ReportPayload) override {
    std::lock_guard lock(mutex_);
    reports_.push_back(code);
  }
  void Stop() { stop_->store(true); }
  std::vector<ReportCode> reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ReportCode> reports_;
};

struct Kind {
  const char* name;
  bool receiveSide;
  uint32_t origin;
  bool plain;  // burned as it stands: checked against the package bytes too
};
const Kind kKinds[] = {
    {"bootloader", false, 0x000000, false},
    {"dsp_boot", false, 0x410000, false},
    {"dsp_main", false, 0x420000, false},
    {"fpga_code", false, 0x600000, false},
    {"voice notify package", false, 0x680000, true},
    {"english language package", false, 0x800000, true},
    {"gif package", false, 0x900000, true},
    {"cps_data", false, 0xB00000, false},
    {"bootloader(Rx)", true, 0x000000, false},
    {"dsp_boot(Rx)", true, 0x410000, false},
    {"dsp_main(Rx)", true, 0x420000, false},
};

Bytes RandomBytes(std::mt19937_64& random, size_t n) {
  Bytes b(n);
  for (auto& x : b) x = uint8_t(random());
  return b;
}

// The conversion stands in for the library: it mixes the radio's old data into the new image,
// so data read wrong would be burned wrong.
bool SoakConvert(std::span<uint8_t> image, ByteView old) {
  const size_t n = std::min<size_t>({32, image.size(), old.size()});
  for (size_t i = 0; i < n; ++i) image[image.size() - n + i] ^= old[i];
  return true;
}

struct Shape {
  PackageSpec package;
  bool repeater = false;
  std::vector<const Kind*> plainEntries;
};

Shape RandomShape(std::mt19937_64& random, const Bytes& rcdb) {
  Shape s;
  s.repeater = random() % 3 == 0;
  PackageSpec& p = s.package;
  p.header.producerVersion = "V7.06.01.003";
  p.header.targetVersion = "A5.00.09.000";
  p.header.forPortable = 1;
  p.header.keepCpsData = uint32_t(random() % 2);
  p.versionRecords = {"A5.00.07.000"};
  p.modelRecords = {"<All Version> KX41X-000G0000-M00000-U1-0-F"};
  std::vector<const Kind*> pool;
  for (const Kind& k : kKinds)
    if (!k.receiveSide || s.repeater) pool.push_back(&k);
  std::shuffle(pool.begin(), pool.end(), random);
  const size_t count = 1 + random() % 4;
  for (size_t i = 0; i < count && i < pool.size(); ++i) {
    PackageEntrySpec e;
    e.entry.kindName = pool[i]->name;
    e.entry.fileName = std::string(pool[i]->name) + ".bin";
    e.entry.origin = pool[i]->origin;
    // Sizes that end inside a write block, on one, and across several erase units.
    const size_t sizes[] = {1, 511, 512, 513, 4096, 70000, 1 + size_t(random() % 200000)};
    e.data = RandomBytes(random, sizes[random() % std::size(sizes)]);
    if (pool[i]->plain) s.plainEntries.push_back(pool[i]);
    p.entries.push_back(std::move(e));
  }
  if (random() % 5 != 0) {
    PackageEntrySpec e;
    e.entry.kindName = "rcdb_data";
    e.entry.fileName = "rcdb_data.bin";
    e.entry.origin = 0xC00000;
    e.data = rcdb;
    p.entries.insert(p.entries.begin() + long(random() % (p.entries.size() + 1)), std::move(e));
  }
  return s;
}

sim::SimFaults RandomFaults(std::mt19937_64& random, int& kinds) {
  sim::SimFaults f;
  kinds = 0;
  if (random() % 4 == 0) return f;  // a quarter of the runs have none: they must succeed
  const int rules = 1 + int(random() % 3);
  const int codes[] = {kCmdMemoryRead, kCmdMemoryWrite, kCmdMemoryErase, kCmdBootloaderVersion, kCmdRadioState, -1};
  for (int r = 0; r < rules; ++r) {
    sim::FaultRule rule;
    rule.code = codes[random() % std::size(codes)];
    // Reads are the most numerous requests (2,048 for the radio data); others are fewer.
    const uint32_t span = rule.code == kCmdMemoryRead ? 2100 : rule.code == -1 ? 2600 : 400;
    rule.nth = 1 + uint32_t(random() % span);
    rule.onward = random() % 5 == 0;
    switch (random() % 6) {
      case 0: f.noAnswer.push_back(rule); break;
      case 1: f.garble.push_back(rule); break;
      case 2: f.shortAnswer.push_back(rule); break;
      case 3:
        rule.delayMs = 1 + int(random() % (2 * kAnswerTimeoutMs));
        f.delay.push_back(rule);
        break;
      case 4: f.refuse.push_back(rule); break;
      case 5: f.unplugAfter = 1 + uint32_t(random() % 2600); break;
    }
    ++kinds;
  }
  return f;
}

struct Outcome {
  ReportCode code = ReportCode::StartWorker;
  bool ended = false;  // exactly one report came within the time limit
  UpgradeSummary summary;
  Bytes main, receive;
};

struct Program {
  ProgramSettings settings;
  BurnScript script;
  fs::path home;
};

Outcome RunOnce(const Program& prog, const Shape& shape, const std::string& packagePath, const Bytes& radioData,
                const sim::SimFaults& faults) {
  sim::SimProfile profile = sim::DefaultSimProfile("soak");
  profile.bootloader = "01.04.006";
  profile.radioState = shape.repeater ? 2 : 0;
  profile.receiveSide = shape.repeater;
  profile.radioData = radioData;
  profile.infoBlock = Bytes{0x4C, 0x57, 0x49, 0x42, 1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  profile.faults = faults;

  sim::SimulatedBackend backend;
  MemoryPortStore store;
  LinkOptions link;
  link.readTimeoutMs = kPipeReadMs;
  UsbTransport transport(backend, &store, link);
  auto radio = backend.Attach(profile);
  int classFlag = 0;
  transport.Scan(nullptr, classFlag);
  Outcome out;
  if (!transport.Open(1)) return out;
  transport.SetAnswerTimeout(kAnswerTimeoutMs);

  PackageRestrictions restrictions;
  if (LoadPackage(packagePath, restrictions) != PackageStatus::Ok) return out;
  std::vector<UpgradeRule> upgradeFiles;
  std::vector<TunerRule> tunerRules;
  UpgradeEnvironment env;
  env.transport = &transport;
  env.settings = &prog.settings;
  env.script = &prog.script;
  env.restrictions = &restrictions;
  env.upgradeFiles = &upgradeFiles;
  env.tunerRules = &tunerRules;
  env.programDir = prog.home.string() + "/";
  env.backupDirectory = (prog.home / "Restore").string() + "/";
  env.packagePath = packagePath;
  env.link.bootloaderVersion = profile.bootloader;
  env.link.newProtocol = true;
  env.link.deviceClass = profile.radioState;
  env.componentCheck = [] { return kOk; };
  env.convert = SoakConvert;
  env.validate = [](ByteView) { return true; };
  env.pause = [](int) {};

  SoakSink sink;
  LinkStopScope stopScope(transport, sink.StopFlag());
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread worker([&] {
    UpgradeOperation operation(env, sink);
    operation.Run({});
    std::lock_guard lock(mutex);
    out.summary = operation.summary();
    done = true;
    finished.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, kRunLimit, [&] { return done; })) {
      sink.Stop();  // a hang: stop it, then wait for it to notice
      finished.wait(lock, [&] { return done; });
    }
  }
  worker.join();
  auto reports = sink.reports();
  out.ended = reports.size() == 1 && !sink.StopRequested();
  if (!reports.empty()) out.code = reports.back();
  ByteView m = radio->Flash(0).View(0, kFlashBytes);
  out.main.assign(m.begin(), m.end());
  if (shape.repeater) {
    ByteView r = radio->Flash(16).View(0, kFlashBytes);
    out.receive.assign(r.begin(), r.end());
  }
  return out;
}

bool SameOutsideMarkUnit(const Bytes& a, const Bytes& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.begin() + std::min<size_t>(kMarkUnit, a.size()), b.begin());
}

// The first differing address, for the report.
long FirstDifference(const Bytes& a, const Bytes& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()) && i < kMarkUnit; ++i)
    if (a[i] != b[i]) return long(i);
  return -1;
}

int Soak(long n, uint64_t seed, bool verbose, long only) {
  Program prog;
  const std::string source = LW_SOURCE_DIR;
  ReadProgramSettings(source + "/data/set.ini", prog.settings);
  prog.settings.autoBurnArmMain = false;
  prog.settings.autoBurnRegionLanguage = false;
  prog.settings.timeoutMs = kAnswerTimeoutMs;
  prog.settings.playSound = false;
  if (!prog.script.LoadBurnScript(source + "/data/Torvex.ini")) {
    std::fprintf(stderr, "soak: cannot read the burn script\n");
    return 1;
  }
  std::string tmpl = (fs::temp_directory_path() / "lw_soak_XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  prog.home = tmpl;
  const std::string packagePath = (prog.home / "soak.fud").string();
  const fs::path backups = prog.home / "Restore";

  const RadioIdentity id = test::EligibleIdentity();
  auto rcdb = BuildRcdbImage(SampleRcdbSpec(id));
  if (!rcdb) return 1;
  const Bytes radioData = *rcdb;
  // The radio data as the radio holds them: the read covers the whole window, erased past them.
  Bytes onRadio(kRcdbWindow, 0xFF);
  std::copy(radioData.begin(), radioData.end(), onRadio.begin());

  long succeeded = 0, failedAsExpected = 0, falseSuccesses = 0, badBackups = 0, unexpected = 0, hangs = 0;
  const auto started = Clock::now();
  for (long i = 0; i < n; ++i) {
    if (only >= 0 && i != only) continue;
    std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + uint64_t(i));
    Shape shape = RandomShape(random, radioData);
    int faultKinds = 0;
    sim::SimFaults faults = RandomFaults(random, faultKinds);
    if (Status written = WritePackage(shape.package, packagePath); !written.ok()) {
      std::fprintf(stderr, "soak: run %ld: package not written: %s\n", i, written.message().c_str());
      return 1;
    }

    Outcome reference = RunOnce(prog, shape, packagePath, radioData, {});
    fs::remove_all(backups);
    const Outcome run = RunOnce(prog, shape, packagePath, radioData, faults);

    // Backups left behind (a failed run keeps its backup): each one the radio data as read.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(backups, ec)) {
      std::ifstream in(e.path(), std::ios::binary);
      Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (b != onRadio) {
        ++badBackups;
        std::printf("run %ld: BAD BACKUP %s (%zu bytes)\n", i, e.path().filename().c_str(), b.size());
      }
    }
    fs::remove_all(backups, ec);

    const char* verdict;
    if (!reference.ended || reference.code != ReportCode::Finished) {
      ++unexpected;
      verdict = "REFERENCE RUN FAILED";
      std::printf("run %ld: the fault-free run ended with report %d, result %d, entries:", i, int(reference.code),
                  reference.summary.failure.errorCode);
      for (const auto& e : reference.summary.entries)
        std::printf(" [%s %s %d]", e.name.c_str(), e.skipped ? "skipped" : e.burned ? "burned" : "failed", e.result);
      for (const auto& e : shape.package.entries) std::printf(" {%s %zu}", e.entry.kindName.c_str(), e.data.size());
      std::printf("\n");
    } else if (!run.ended) {
      ++hangs;
      verdict = "HANG or no single report";
    } else if (run.code == ReportCode::Finished) {
      bool good = SameOutsideMarkUnit(run.main, reference.main) && SameOutsideMarkUnit(run.receive, reference.receive);
      for (const Kind* k : shape.plainEntries) {
        for (const auto& e : shape.package.entries) {
          if (e.entry.kindName != k->name) continue;
          const Bytes& side = k->receiveSide ? run.receive : run.main;
          bool burned = false;
          for (const auto& o : run.summary.entries)
            if (o.name == k->name && o.burned) burned = true;
          if (burned && !std::equal(e.data.begin(), e.data.end(), side.begin() + k->origin)) good = false;
        }
      }
      if (good) {
        ++succeeded;
        verdict = "succeeded";
      } else {
        ++falseSuccesses;
        verdict = "FALSE SUCCESS";
        std::printf("run %ld: FALSE SUCCESS, first difference at 0x%lX (main) 0x%lX (receive)\n", i,
                    FirstDifference(run.main, reference.main), FirstDifference(run.receive, reference.receive));
      }
    } else if (faultKinds == 0) {
      ++unexpected;
      verdict = "FAILED WITHOUT A FAULT";
    } else {
      ++failedAsExpected;
      verdict = "failed as expected";
    }
    if (only >= 0) {
      auto rules = [](const char* what, const std::vector<sim::FaultRule>& list) {
        for (const auto& r : list)
          std::printf("  %s code 0x%04X nth %u%s delay %d\n", what, unsigned(r.code & 0xFFFF), r.nth,
                      r.onward ? "+" : "", r.delayMs);
      };
      rules("no_answer", faults.noAnswer);
      rules("garble", faults.garble);
      rules("short_answer", faults.shortAnswer);
      rules("delay", faults.delay);
      rules("refuse", faults.refuse);
      std::printf("  unplug_after %u; report count %s\n", faults.unplugAfter, run.ended ? "1" : "not 1");
    }
    if (verbose || (verdict[0] >= 'A' && verdict[0] <= 'Z'))
      std::printf("run %ld: %s%s, %zu entries, %d fault rules: report %d, %s\n", i,
                  shape.repeater ? "repeater" : "portable", shape.package.header.keepCpsData ? " (converted)" : "",
                  shape.package.entries.size(), faultKinds, int(run.code), verdict);
    if ((i + 1) % 500 == 0) {
      const double s = std::chrono::duration<double>(Clock::now() - started).count();
      std::printf("... %ld runs in %.0f s\n", i + 1, s);
      std::fflush(stdout);
    }
  }
  std::error_code ec;
  fs::remove_all(prog.home, ec);
  if (unexpected || hangs)
    std::printf("soak: %ld unexpected failures, %ld runs without a single report in time\n", unexpected, hangs);
  std::printf("soak: %ld upgrades, %ld succeeded, %ld failed as expected, %ld false successes, %ld bad backups\n",
              only >= 0 ? 1 : n, succeeded, failedAsExpected, falseSuccesses, badBackups);
  return falseSuccesses || badBackups || unexpected || hangs ? 1 : 0;
}

}  // namespace
}  // namespace lw

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: lw_soak N SEED [-v]\n");
    return 2;
  }
  const long n = std::strtol(argv[1], nullptr, 10);
  const uint64_t seed = std::strtoull(argv[2], nullptr, 10);
  bool verbose = false;
  long only = -1;
  for (int a = 3; a < argc; ++a) {
    if (std::string(argv[a]) == "-v") verbose = true;
    if (std::string(argv[a]) == "--only" && a + 1 < argc) only = std::strtol(argv[++a], nullptr, 10);
  }
  if (n < 0) return 2;
  return lw::Soak(n, seed, verbose, only);
}
