// The soak: N runs against simulated radios, each with a package of a random shape and random
// faults of every kind the simulated radio has, and, chosen at random per run, the troubles an
// operator and a host bring: the operator's stop at a random request (the watchdog stops a
// worker through the same flag), the package file renamed over, rewritten in place or
// truncated at a random request, and the disk failing (FaultyFileEnv) while the backup is
// written or the package is read. A run that failed and left a backup is followed by a restore
// from that backup, on the radio as the failed run left it. After each run, the checks that make
// "Upgrading Finished!" mean what it says and keep the radio's data:
//  - a run that ends with report 2 left both flash sides exactly as a fault-free run of the same
//    package on the same radio leaves them (the InfoBlock's erase unit aside: the completion
//    mark is not checked by the program, by design), and the plain images read back byte for
//    byte as the package holds them; a stopped run or one whose package changed says 2 only
//    when that holds too;
//  - every backup left behind equals the radio data as they were on the radio, and a run that
//    changed the radio's configuration area without ending in 2 left one ("lost backup");
//  - a restore that ends in 2 deleted its backup and left the radio as a fault-free upgrade
//    does (the customer data area aside, which a restore converts from the backup); one that
//    fails keeps its backup unchanged;
//  - a run without faults succeeds, and no run hangs (each is bounded in time).
//
//   lw_soak N SEED [-v] [--only I]
//
// -v prints every run; --only I runs just run I of the series (to look again at one that went
// wrong: a run's shape and faults depend only on SEED and I).
//
// The last line (a contract): "soak: N runs (U upgrades, R restores, K stopped, P package
// changes, D disk faults, X killed), S succeeded, F failed as expected, 0 false successes,
// 0 bad backups, 0 lost backups" (the counts as found). Exit status 0 when the three zeros hold
// and nothing else went wrong, 1 otherwise.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../support/null_sink.h"
#include "common/file_env.h"
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

// What befalls a run besides the radio's faults, at the request `troubleAt`.
enum class Trouble { None, Stop, RenamedOver, RewrittenInPlace, Truncated };

struct RunPlan {
  sim::SimFaults faults;
  Trouble trouble = Trouble::None;
  size_t troubleAt = 0;
  Bytes otherPackage;                // what a changed package becomes (the same size, other images)
  std::string restorationFile;       // a restore run from this backup
  const Bytes* mainFlash = nullptr;  // the radio as an earlier run left it (else as new)
  const Bytes* receiveFlash = nullptr;
  std::vector<FaultyFileEnv::Rule> diskFaults;  // the disk fails here during the run
};

struct Outcome {
  ReportCode code = ReportCode::StartWorker;
  bool ended = false;     // exactly one report came within the time limit
  bool finished = false;  // a report 2 came
  UpgradeSummary summary;
  Bytes main, receive;
};

// A package file as a package maker leaves it: written a while before it is burned.
void AgePackage(const std::string& path) {
  const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 600, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void ChangePackage(Trouble trouble, const std::string& path, const Bytes& other) {
  if (trouble == Trouble::RenamedOver) {
    std::ofstream(path + ".new", std::ios::binary)
        .write(reinterpret_cast<const char*>(other.data()), std::streamsize(other.size()));
    fs::rename(path + ".new", path);
  } else if (trouble == Trouble::RewrittenInPlace) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd >= 0) {
      (void)!::pwrite(fd, other.data(), other.size(), 0);
      ::close(fd);
    }
  } else if (trouble == Trouble::Truncated) {
    (void)!::truncate(path.c_str(), off_t(fs::file_size(path) / 2));
  }
}

struct Program {
  ProgramSettings settings;
  BurnScript script;
  fs::path home;
};

Outcome RunOnce(const Program& prog, const Shape& shape, const std::string& packagePath, const Bytes& radioData,
                const RunPlan& plan) {
  sim::SimProfile profile = sim::DefaultSimProfile("soak");
  profile.bootloader = "01.04.006";
  profile.radioState = shape.repeater ? 2 : 0;
  profile.receiveSide = shape.repeater;
  if (plan.mainFlash) {
    // The radio outlives the run before: it starts as that run left it, InfoBlock and all.
    profile.images.push_back({0, 0, "", *plan.mainFlash});
    if (plan.receiveFlash && shape.repeater) profile.images.push_back({16, 0, "", *plan.receiveFlash});
  } else {
    profile.radioData = radioData;
    profile.infoBlock = Bytes{0x4C, 0x57, 0x49, 0x42, 1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  }
  profile.faults = plan.faults;

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
  FaultyFileEnv disk(plan.diskFaults);
  std::optional<ScopedFileEnv> diskScope;
  if (!plan.diskFaults.empty()) diskScope.emplace(disk);
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool hung = false;
  std::thread worker([&] {
    UpgradeOperation operation(env, sink);
    operation.Run(UpgradeRunOptions{"", plan.restorationFile});
    std::lock_guard lock(mutex);
    out.summary = operation.summary();
    done = true;
    finished.notify_all();
  });
  // The operator's stop, or the package file changed, once the radio has seen `troubleAt`
  // requests (if the run gets that far).
  std::thread trouble;
  if (plan.trouble != Trouble::None) {
    trouble = std::thread([&] {
      for (;;) {
        {
          std::lock_guard lock(mutex);
          if (done) return;
        }
        if (radio->RequestCount() >= plan.troubleAt) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (plan.trouble == Trouble::Stop) {
        sink.Stop();
      } else {
        ChangePackage(plan.trouble, packagePath, plan.otherPackage);
      }
    });
  }
  {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, kRunLimit, [&] { return done; })) {
      hung = true;
      sink.Stop();  // a hang: stop it, then wait for it to notice
      finished.wait(lock, [&] { return done; });
    }
  }
  worker.join();
  if (trouble.joinable()) trouble.join();
  auto reports = sink.reports();
  out.ended = !hung && (reports.size() == 1 || (plan.trouble == Trouble::Stop && reports.empty()));
  out.finished = std::find(reports.begin(), reports.end(), ReportCode::Finished) != reports.end();
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

// The same, and also leaving out one area (the customer data a restore converts from its backup).
bool SameOutside(const Bytes& a, const Bytes& b, uint32_t from, uint32_t length) {
  if (a.size() != b.size()) return false;
  const size_t end = std::min<size_t>(kMarkUnit, a.size());
  return std::equal(a.begin(), a.begin() + std::min<size_t>(from, end), b.begin()) &&
         std::equal(a.begin() + std::min<size_t>(from + length, end), a.begin() + end,
                    b.begin() + std::min<size_t>(from + length, end));
}

// The first differing address, for the report.
long FirstDifference(const Bytes& a, const Bytes& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()) && i < kMarkUnit; ++i)
    if (a[i] != b[i]) return long(i);
  return -1;
}

// The radio's configuration areas: the customer data and the RCDB window.
constexpr uint32_t kCpsArea = 0xB00000, kCpsLength = 0x100000;
constexpr uint32_t kRcdbArea = 0xC00000, kRcdbLength = 0x200000;

bool ConfigurationTouched(const Bytes& main, const Bytes& pristine) {
  auto same = [&](uint32_t from, uint32_t length) {
    return std::equal(main.begin() + from, main.begin() + from + length, pristine.begin() + from);
  };
  return !same(kCpsArea, kCpsLength) || !same(kRcdbArea, kRcdbLength);
}

// Whether a report 2 tells the truth: both sides as the fault-free run left them, and every
// plain image burned as the package holds it.
bool TrueSuccess(const Outcome& run, const Outcome& reference, const Shape& shape) {
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
  return good;
}

std::vector<fs::path> BackupsIn(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path());
  return out;
}

Bytes FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const char* TroubleName(Trouble t) {
  switch (t) {
    case Trouble::None: return "";
    case Trouble::Stop: return ", stopped";
    case Trouble::RenamedOver: return ", package renamed over";
    case Trouble::RewrittenInPlace: return ", package rewritten";
    case Trouble::Truncated: return ", package truncated";
  }
  return "";
}

struct Tally {
  long runs = 0, upgrades = 0, restores = 0, stopped = 0, packageChanges = 0, diskFaults = 0, killed = 0;
  long succeeded = 0, failedAsExpected = 0, falseSuccesses = 0, badBackups = 0, lostBackups = 0;
  long unexpected = 0, hangs = 0;
};

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

  Tally t;
  const auto started = Clock::now();
  for (long i = 0; i < n; ++i) {
    if (only >= 0 && i != only) continue;
    std::mt19937_64 random(seed * 0x9E3779B97F4A7C15ull + uint64_t(i));
    Shape shape = RandomShape(random, radioData);
    int faultKinds = 0;
    RunPlan plan;
    plan.faults = RandomFaults(random, faultKinds);
    // One run in four meets the operator or the host: a stop, or the package file changed.
    const Trouble troubles[] = {Trouble::Stop, Trouble::RenamedOver, Trouble::RewrittenInPlace, Trouble::Truncated};
    // One in eight: the disk fails, writing the backup or reading the package.
    if (random() % 8 == 0) {
      using Op = FaultyFileEnv::Op;
      const Op backupOps[] = {Op::Create, Op::Write, Op::ShortWrite, Op::Fsync, Op::Rename};
      const int errors[] = {ENOSPC, EIO};
      if (random() % 2 == 0) {
        plan.diskFaults.push_back({backupOps[random() % std::size(backupOps)], 1, errors[random() % 2], "Restore/"});
      } else {
        plan.diskFaults.push_back({Op::Pread, 1 + uint32_t(random() % 12), EIO, "soak.fud"});
      }
    } else if (random() % 4 == 0) {
      plan.trouble = troubles[random() % std::size(troubles)];
      plan.troubleAt = 1 + size_t(random() % 2600);
      Shape other = shape;
      for (auto& e : other.package.entries) e.data = RandomBytes(random, e.data.size());
      auto encoded = EncodePackage(other.package);
      if (encoded) plan.otherPackage = std::move(*encoded);
    }
    if (Status written = WritePackage(shape.package, packagePath); !written.ok()) {
      std::fprintf(stderr, "soak: run %ld: package not written: %s\n", i, written.message().c_str());
      return 1;
    }
    AgePackage(packagePath);

    Outcome reference = RunOnce(prog, shape, packagePath, radioData, RunPlan{});
    fs::remove_all(backups);
    const Outcome run = RunOnce(prog, shape, packagePath, radioData, plan);
    ++t.runs;
    ++t.upgrades;
    if (plan.trouble == Trouble::Stop) ++t.stopped;
    if (plan.trouble != Trouble::None && plan.trouble != Trouble::Stop) ++t.packageChanges;
    if (!plan.diskFaults.empty()) ++t.diskFaults;

    // Backups left behind (a failed run keeps its backup): each one the radio data as read.
    const std::vector<fs::path> left = BackupsIn(backups);
    for (const fs::path& b : left) {
      if (FileBytes(b) != onRadio) {
        ++t.badBackups;
        std::printf("run %ld: BAD BACKUP %s\n", i, b.filename().c_str());
      }
    }
    // Pristine: the radio before anything was done to it (what the reference run started from).
    Bytes pristine(kFlashBytes, 0xFF);
    std::copy(radioData.begin(), radioData.end(), pristine.begin() + kRcdbArea);
    if (!run.finished && run.ended && ConfigurationTouched(run.main, pristine) && left.empty()) {
      ++t.lostBackups;
      std::printf("run %ld: LOST BACKUP: the configuration area changed, the run ended in %d, no backup\n", i,
                  int(run.code));
    }

    const char* verdict;
    if (!reference.ended || reference.code != ReportCode::Finished) {
      ++t.unexpected;
      verdict = "REFERENCE RUN FAILED";
      std::printf("run %ld: the fault-free run ended with report %d, result %d, entries:", i, int(reference.code),
                  reference.summary.failure.errorCode);
      for (const auto& e : reference.summary.entries)
        std::printf(" [%s %s %d]", e.name.c_str(), e.skipped ? "skipped" : e.burned ? "burned" : "failed", e.result);
      for (const auto& e : shape.package.entries) std::printf(" {%s %zu}", e.entry.kindName.c_str(), e.data.size());
      std::printf("\n");
    } else if (!run.ended) {
      ++t.hangs;
      verdict = "HANG or no single report";
    } else if (run.finished) {
      if (TrueSuccess(run, reference, shape)) {
        ++t.succeeded;
        verdict = "succeeded";
      } else {
        ++t.falseSuccesses;
        verdict = "FALSE SUCCESS";
        std::printf("run %ld: FALSE SUCCESS, first difference at 0x%lX (main) 0x%lX (receive)\n", i,
                    FirstDifference(run.main, reference.main), FirstDifference(run.receive, reference.receive));
      }
    } else if (faultKinds == 0 && plan.trouble == Trouble::None && plan.diskFaults.empty()) {
      ++t.unexpected;
      verdict = "FAILED WITHOUT A FAULT";
    } else {
      ++t.failedAsExpected;
      verdict = "failed as expected";
    }

    // A failed run with a backup is followed by a restore from it, on the radio as it was left,
    // with radio faults half of the time.
    const char* restoreVerdict = "";
    bool restoreAlarm = false;
    if (!run.finished && run.ended && left.size() == 1 && reference.ended) {
      RunPlan restore;
      int restoreFaults = 0;
      if (random() % 2 == 0) restore.faults = RandomFaults(random, restoreFaults);
      restore.restorationFile = left[0].string();
      restore.mainFlash = &run.main;
      restore.receiveFlash = &run.receive;
      if (Status written = WritePackage(shape.package, packagePath); !written.ok()) return 1;
      AgePackage(packagePath);
      const Outcome back = RunOnce(prog, shape, packagePath, radioData, restore);
      ++t.runs;
      ++t.restores;
      const bool kept = fs::exists(left[0]);
      if (!back.ended) {
        ++t.hangs;
        restoreVerdict = "; restore: HANG or no single report";
        restoreAlarm = true;
      } else if (back.finished) {
        // The customer data are converted from the backup, not from what the radio held.
        const bool same = SameOutside(back.main, reference.main, kCpsArea, kCpsLength) &&
                          SameOutsideMarkUnit(back.receive, reference.receive);
        if (kept || !same) {
          ++t.falseSuccesses;
          restoreVerdict = kept ? "; restore: FINISHED BUT KEPT ITS BACKUP" : "; restore: FALSE SUCCESS";
          restoreAlarm = true;
          std::printf("run %ld: restore FALSE SUCCESS (backup %s), first difference at 0x%lX\n", i,
                      kept ? "kept" : "deleted", FirstDifference(back.main, reference.main));
        } else {
          ++t.succeeded;
          restoreVerdict = "; restore succeeded";
        }
      } else if (!kept || FileBytes(left[0]) != onRadio) {
        ++t.lostBackups;
        restoreVerdict = "; restore: LOST BACKUP";
        restoreAlarm = true;
        std::printf("run %ld: restore failed (report %d) and its backup is %s\n", i, int(back.code),
                    kept ? "changed" : "gone");
      } else if (restoreFaults == 0) {
        ++t.unexpected;
        restoreVerdict = "; restore FAILED WITHOUT A FAULT";
        restoreAlarm = true;
      } else {
        ++t.failedAsExpected;
        restoreVerdict = "; restore failed as expected";
      }
    }
    fs::remove_all(backups);

    if (only >= 0) {
      auto rules = [](const char* what, const std::vector<sim::FaultRule>& list) {
        for (const auto& r : list)
          std::printf("  %s code 0x%04X nth %u%s delay %d\n", what, unsigned(r.code & 0xFFFF), r.nth,
                      r.onward ? "+" : "", r.delayMs);
      };
      rules("no_answer", plan.faults.noAnswer);
      rules("garble", plan.faults.garble);
      rules("short_answer", plan.faults.shortAnswer);
      rules("delay", plan.faults.delay);
      rules("refuse", plan.faults.refuse);
      std::printf("  unplug_after %u; trouble at request %zu; report count %s\n", plan.faults.unplugAfter,
                  plan.troubleAt, run.ended ? "1" : "not 1");
    }
    const bool alarm = (verdict[0] >= 'A' && verdict[0] <= 'Z') || restoreAlarm;
    if (verbose || alarm)
      std::printf("run %ld: %s%s, %zu entries, %d fault rules%s: report %d, %s%s\n", i,
                  shape.repeater ? "repeater" : "portable", shape.package.header.keepCpsData ? " (converted)" : "",
                  shape.package.entries.size(), faultKinds, TroubleName(plan.trouble), int(run.code), verdict,
                  restoreVerdict);
    if ((i + 1) % 500 == 0) {
      const double secs = std::chrono::duration<double>(Clock::now() - started).count();
      std::printf("... %ld runs in %.0f s\n", i + 1, secs);
      std::fflush(stdout);
    }
  }
  std::error_code ec;
  fs::remove_all(prog.home, ec);
  if (t.unexpected || t.hangs)
    std::printf("soak: %ld unexpected failures, %ld runs without a single report in time\n", t.unexpected, t.hangs);
  std::printf(
      "soak: %ld runs (%ld upgrades, %ld restores, %ld stopped, %ld package changes, %ld disk faults, %ld killed), "
      "%ld succeeded, %ld failed as expected, %ld false successes, %ld bad backups, %ld lost backups\n",
      t.runs, t.upgrades, t.restores, t.stopped, t.packageChanges, t.diskFaults, t.killed, t.succeeded,
      t.failedAsExpected, t.falseSuccesses, t.badBackups, t.lostBackups);
  return t.falseSuccesses || t.badBackups || t.lostBackups || t.unexpected || t.hangs ? 1 : 0;
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
