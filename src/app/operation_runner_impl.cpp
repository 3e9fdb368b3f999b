#include "app/operation_runner_impl.h"

#include <chrono>

#include "common/text.h"
#include "engine/conversion_interface.h"
#include "engine/data_validation.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "ui/translate.h"

namespace lw {

UpgradeRunner::UpgradeRunner(RunnerSetup setup) : setup_(std::move(setup)) {}

UpgradeRunner::~UpgradeRunner() { WaitIdle(); }

void UpgradeRunner::WaitIdle() {
  if (thread_.joinable()) thread_.join();
}

LinkFacts UpgradeRunner::linkFacts() const {
  MutexLock lock(mutex_);
  return facts_;
}

std::optional<UpgradeSummary> UpgradeRunner::lastSummary() const {
  MutexLock lock(mutex_);
  return summary_;
}

namespace {
// What a thread that threw tells its operation: report 9 with the reason, so the window returns
// to idle and the operator learns why, instead of the program ending in std::terminate (perhaps
// with the radio's firmware erased). A stopped operation says nothing more, as always.
void ReportThrown(OperationSink& sink, const std::string& what) {
  if (sink.StopRequested()) return;
  const std::string detail = FillPlaceholders(Translate(TextKey("(internal error: %s)")), {what});
  sink.Log(detail);
  sink.SetExitAllowed(true);
  sink.Report(ReportCode::ReadError, UpgradeFailure{kNoAnswer, 0, detail});
}
}  // namespace

void UpgradeRunner::Launch(std::shared_ptr<OperationSink> sink, std::function<void()> body) {
  {
    MutexLock lock(mutex_);
    ++running_;
  }
  std::thread previous = std::move(thread_);
  thread_ =
      std::thread([this, previous = std::move(previous), sink = std::move(sink), body = std::move(body)]() mutable {
        // The thread before this one may still be finishing a request the watchdog gave up on.
        if (previous.joinable()) previous.join();
        CarryOutPendingClose();
        try {
          body();
        } catch (const std::exception& e) {
          ReportThrown(*sink, e.what());
        } catch (...) {
          ReportThrown(*sink, "unknown exception");
        }
        Finished();
      });
}

// Nothing of a new operation touches the link before the thread before it has ended, and a close
// asked for meanwhile is carried out first: the link still open is the old radio's, and the new
// operation must open the port it was given instead of going on with that one.
void UpgradeRunner::CarryOutPendingClose() {
  MutexLock lock(mutex_);
  if (!closePending_) return;
  closePending_ = false;
  setup_.transport->Close();
}

bool UpgradeRunner::Busy() const {
  MutexLock lock(mutex_);
  return running_ > 0;
}

void UpgradeRunner::Finished() {
  MutexLock lock(mutex_);
  if (--running_ == 0 && closePending_) {
    closePending_ = false;
    setup_.transport->Close();
  }
}

void UpgradeRunner::ClosePort() {
  MutexLock lock(mutex_);
  if (running_ > 0) {
    closePending_ = true;  // the running thread closes it when it ends
    return;
  }
  closePending_ = false;
  setup_.transport->Close();
}

void UpgradeRunner::ClearTrace() {
  MutexLock lock(mutex_);
  if (running_ == 0) setup_.transport->ClearTrace();
}

void UpgradeRunner::RequestStop() {
  // The sink's stop flag is already set, and every radio request checks it first; a request in
  // flight ends within the answer time-out. Nothing else may be done to the transport from
  // here: it belongs to the worker thread until that thread ends.
}

void UpgradeRunner::StartConnectStep(std::shared_ptr<OperationSink> sink) {
  const int port = setup_.selectedPort ? setup_.selectedPort() : 0;
  // The operation's own copy of the settings: the operator may change them on the window (the
  // package language menu) while this thread reads them; a change applies to the next one.
  std::shared_ptr<const ProgramSettings> settings = SnapshotSettings();
  operationSettings_ = settings;
  Launch(sink, [this, sink, port, settings] {
    LinkStopScope stopScope(*setup_.transport, sink->StopFlag());
    LinkFacts facts = RunConnectStep(*setup_.transport, port, *settings, *sink);
    MutexLock lock(mutex_);
    facts_ = facts;
  });
}

std::shared_ptr<const ProgramSettings> UpgradeRunner::SnapshotSettings() const {
  if (!setup_.settings) return nullptr;
  return std::make_shared<const ProgramSettings>(*setup_.settings);
}

UpgradeEnvironment EnvironmentOf(const RunnerSetup& setup, const std::string& packagePath,
                                 const ProgramSettings* settings) {
  UpgradeEnvironment env;
  env.transport = setup.transport;
  env.settings = settings;
  env.script = setup.script;
  env.restrictions = setup.restrictions;
  env.upgradeFiles = setup.upgradeRules ? &setup.upgradeRules->files : nullptr;
  env.tunerRules = setup.tunerRules;
  env.equipmentTable = setup.equipmentTable;
  env.unitTable = setup.unitTable;
  env.programDir = setup.programDir;
  env.backupDirectory = setup.backupDirectory;
  env.packagePath = packagePath;
  env.pause = setup.pause;
  env.port = setup.port;
  return env;
}

void UpgradeRunner::StartUpgradeWorker(std::shared_ptr<OperationSink> sink, const WorkerStart& start) {
  const std::string packagePath = setup_.packagePath ? setup_.packagePath() : std::string();
  const int port = setup_.selectedPort ? setup_.selectedPort() : 0;
  // The worker reads its own copy of the package's restrictions: the window loads the package
  // that the worker looks up while the worker still runs.
  std::shared_ptr<const PackageRestrictions> restrictions;
  if (setup_.restrictions) restrictions = std::make_shared<const PackageRestrictions>(*setup_.restrictions);
  // The worker after a connect step belongs to the same operation and reads the settings the
  // connect step was started with; an auto-test file is an operation of its own.
  std::shared_ptr<const ProgramSettings> settings =
      start.autoTestFile.empty() && operationSettings_ ? operationSettings_ : SnapshotSettings();
  operationSettings_.reset();
  Launch(sink, [this, sink, start, packagePath, port, settings, restrictions] {
    UpgradeEnvironment env = EnvironmentOf(setup_, packagePath, settings.get());
    env.restrictions = restrictions.get();
    UsbTransport& transport = *setup_.transport;
    LinkStopScope stopScope(transport, sink->StopFlag());
    if (!start.autoTestFile.empty() && !transport.IsOpened() && port >= 1 && !sink->StopRequested() &&
        transport.Open(port)) {
      // The auto-test series has no connect step: learn the facts quietly, without reports.
      const LinkFacts facts = QuietLinkFacts(transport, int(settings->timeoutMs), int(settings->modelType));
      MutexLock lock(mutex_);
      facts_ = facts;
    }
    {
      MutexLock lock(mutex_);
      env.link = facts_;
    }

    // The conversion library is checked and loaded per run, so a library replaced while the
    // program runs is caught by the next upgrade.
    ConversionLibrary library;
    if (setup_.componentCheck) {
      env.componentCheck = setup_.componentCheck;
    } else {
      env.componentCheck = [&library, this] { return library.Load(setup_.programDir, setup_.conversionDigest); };
    }
    if (setup_.convert) {
      env.convert = setup_.convert;
    } else {
      env.convert = [&library](std::span<uint8_t> image, ByteView old) { return library.Convert(image, old) == kOk; };
    }
    if (setup_.validate) {
      env.validate = setup_.validate;
    } else {
      env.validate = [](ByteView data) { return ValidateConvertedData(data).ok(); };
    }

    UpgradeOperation operation(env, *sink);
    operation.Run(UpgradeRunOptions{start.autoTestFile, start.restorationFile});
    MutexLock lock(mutex_);
    summary_ = operation.summary();
  });
}

}  // namespace lw
