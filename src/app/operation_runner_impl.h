// The real OperationRunner: runs the connect step and the upgrade worker on threads of their
// own against the program's one UsbTransport, with the package path, settings, burn script and
// rule tables the front end owns.
//
// Threads. One operation thread at a time: each new one first waits for the one before it
// (a worker the watchdog gave up on may still be finishing a request), so two threads never
// use the transport at once. The connect step's facts (bootloader version, new-protocol flag,
// device class) pass to the worker that follows it through that wait.
//
// Settings. Each operation reads a copy of the settings taken on the user-interface thread
// when it starts, never the front end's object, which the operator may change meanwhile.
//
// Stopping. The watchdog sets the sink's stop flag; the connect step, the worker and the burn
// script runner check it before every radio request, so a stopped worker finishes at most the
// request it is in (bounded by the answer time-out) and then touches neither the radio nor the
// window. ClosePort from the user-interface thread never closes the port under a running
// thread: the close is then left to that thread, which does it as its last act.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/operation_controller.h"
#include "common/thread_annotations.h"
#include "config/burn_script.h"
#include "config/settings.h"
#include "engine/connect_step.h"
#include "engine/operation_state.h"
#include "engine/upgrade_operation.h"
#include "package/package_restrictions.h"

namespace lw {

class UsbTransport;
class WindowPort;

// What the front end owns and the runner reads. Every pointer outlives the runner.
struct RunnerSetup {
  UsbTransport* transport = nullptr;
  const ProgramSettings* settings = nullptr;
  const BurnScript* script = nullptr;
  const PackageRestrictions* restrictions = nullptr;  // of the chosen package, else set.ini's
  const UpgradeRules* upgradeRules = nullptr;
  const std::vector<TunerRule>* tunerRules = nullptr;
  const std::vector<SerialEntry>* equipmentTable = nullptr;
  const std::vector<MacEntry>* unitTable = nullptr;
  std::string programDir;       // ends in '/'
  std::string backupDirectory;  // ends in '/'
  // Read on the user-interface thread when an operation starts: the port list's selection
  // (0 for "None") and the package path field (empty: the worker looks the package up).
  std::function<int()> selectedPort;
  std::function<std::string()> packagePath;
  // The digest of the conversion library this program was built with (the component check).
  std::string conversionDigest;
  // For tests and benchmarks: replace the conversion library (check, call, validation) and the
  // pauses. Unset: the library beside the program, the real check, real sleeps.
  std::function<int()> componentCheck;
  ConvertFunction convert;
  ValidateFunction validate;
  std::function<void(int ms)> pause;
  WindowPort* port = nullptr;  // the HEX reader's warnings and the carry-over's question
};

// The environment of an upgrade over `setup`, with `settings` (a snapshot, or the setup's own)
// and the package at `packagePath`. The conversion overrides are the caller's to add.
UpgradeEnvironment EnvironmentOf(const RunnerSetup& setup, const std::string& packagePath,
                                 const ProgramSettings* settings);

class UpgradeRunner : public OperationRunner {
 public:
  explicit UpgradeRunner(RunnerSetup setup);
  // Waits for the running thread (after a stop that takes at most one answer time-out).
  ~UpgradeRunner() override;

  void StartConnectStep(std::shared_ptr<OperationSink> sink) override;
  void StartUpgradeWorker(std::shared_ptr<OperationSink> sink, const WorkerStart& start) override;
  void RequestStop() override;
  void ClosePort() override;
  void ClearTrace() override;

  // Waits until the operation thread has ended (tests, the console before it exits).
  void WaitIdle();
  // True while an operation thread runs, a stopped one finishing its last request included.
  bool Busy() const;

  // What the last connect step learned, and what the last worker did (after WaitIdle).
  LinkFacts linkFacts() const;
  std::optional<UpgradeSummary> lastSummary() const;

 private:
  // Runs `body` on the operation thread; an exception out of it ends the operation with
  // report 9 through `sink`, never the program.
  void Launch(std::shared_ptr<OperationSink> sink, std::function<void()> body);
  void Finished();
  void CarryOutPendingClose();
  std::shared_ptr<const ProgramSettings> SnapshotSettings() const;

  RunnerSetup setup_;
  // The settings copy of the operation whose connect step ran last (user-interface thread only).
  std::shared_ptr<const ProgramSettings> operationSettings_;
  std::thread thread_;            // the latest operation thread (it joins the one before)
  mutable Mutex mutex_;
  int running_ LW_GUARDED_BY(mutex_) = 0;  // operation threads started and not yet ended
  bool closePending_ LW_GUARDED_BY(mutex_) = false;
  LinkFacts facts_ LW_GUARDED_BY(mutex_);
  std::optional<UpgradeSummary> summary_ LW_GUARDED_BY(mutex_);
};

}  // namespace lw
