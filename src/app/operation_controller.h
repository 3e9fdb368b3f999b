// The operation controller: at most one radio operation at a time (an upgrade, or its restore
// variant), from the start request to the end of the operation.
//
//   Idle --StartUpgrade--> Connecting --report 0--> Running --final report / watchdog--> Idle
//                                    \--8, 9, 12--> Idle      Running --13--> Asking --answer--> Running
// With "AutoTest" on the connect step is skipped and the worker runs once per file of
// "AutoTest_InFile/*.rcdb"; reports 2, 10, 17-21, 24 and 27 go on with the next file.
//
// The controller runs on the user-interface thread and reaches the operator only through the
// WindowPort. The connect step and the upgrade worker are behind OperationRunner; they talk
// back through the OperationSink they are given, which posts to the user-interface thread.
// Every operation gets a sink of its own, so a report of an operation that has already ended
// (a worker the watchdog gave up on that answers late) is dropped instead of ending the next.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/operation_report.h"
#include "common/window_port.h"
#include "config/settings.h"
#include "engine/operation_state.h"  // the operation kind

namespace lw {

class SingleInstance;

// What a worker is started for.
struct WorkerStart {
  std::string autoTestFile;     // the radio data file of the auto-test series, else empty
  std::string restorationFile;  // the backup to restore from, else empty
};

// The connect step and the upgrade worker, as the controller sees them. Start* return at once;
// the work runs on its own thread and ends with one report through `sink`.
class OperationRunner {
 public:
  virtual ~OperationRunner() = default;
  virtual void StartConnectStep(std::shared_ptr<OperationSink> sink) = 0;
  virtual void StartUpgradeWorker(std::shared_ptr<OperationSink> sink, const WorkerStart& start) = 0;
  // The watchdog gave up: the sink's stop flag is already set; make a worker blocked in a
  // radio request return as soon as possible. Must not wait for the worker.
  virtual void RequestStop() = 0;
  // Closes the radio port (a no-op when it is not open). From the user-interface thread.
  virtual void ClosePort() = 0;
  // Starts the communication trace (Comm.log) anew, empty. From the user-interface thread,
  // while no operation runs.
  virtual void ClearTrace() = 0;
};

enum class OperationPhase { Idle, Connecting, Running, Asking };

// The watchdog: ticks of this period, and how many without progress end the operation.
inline constexpr std::chrono::milliseconds kWatchdogPeriod{1000};
inline constexpr int kWatchdogStallTicks = 20;

// The "AutoTest" input folder and its file pattern, below the program directory.
inline constexpr const char* kAutoTestFolder = "AutoTest_InFile";
inline constexpr const char* kAutoTestExtension = ".rcdb";

// The full paths of "AutoTest_InFile/*.rcdb" below `programDir`, sorted by name.
std::vector<std::string> CollectAutoTestFiles(const std::string& programDir);

// The message of report 9 for a failure record (translated, with the RCDB-saved suffix).
std::string UpgradeFailureText(const UpgradeFailure& failure);

class OperationController {
 public:
  // `settings` is the program's settings ("AutoTest", "Play Sound", and the exit writes);
  // `programDir` ends in '/'. All three objects outlive the controller.
  OperationController(WindowPort& port, OperationRunner& runner, ProgramSettings& settings,
                      std::string programDir);
  ~OperationController();

  // The main action button ("Upgrade"). Returns false when an operation is already running.
  bool StartUpgrade();
  // A restore run from the chosen backup file (the restore list's "Restore").
  bool StartRestore(const std::string& restorationFile);

  // Timer 30: call every kWatchdogPeriod (always; ticks outside an upgrade do nothing).
  void Tick();

  // The exit sequence (the window's close command, menu "Exit"). Ignored, returning false,
  // while the exit-allowed flag is 0. Otherwise writes the exit settings to set.ini, releases
  // `instance` (when given) and returns true: the front end then closes.
  // `packagePath` is the text of the package path field.
  bool RequestExit(const std::string& packagePath, SingleInstance* instance);

  // Menu "Play Sound": toggles the setting and writes it to set.ini at once.
  void TogglePlaySound();

  // Whether someone else holds the radio now (a remote upgrade). Asked on the user-interface
  // thread before an operation starts and before the auto-test series goes on: the notice
  // shown between two files lets other work in, and two operations must never share the
  // link. Unset: nobody else ever holds it.
  void SetRadioClaimCheck(std::function<bool()> claimedElsewhere);

  // Called on the user-interface thread with every report the controller takes, before it
  // acts on it (the console's "report" event).
  void SetReportObserver(std::function<void(ReportCode, const ReportPayload&)> observer);
  // Called on the user-interface thread with the path of the package the running worker
  // looked up for the radio (no package was chosen); the window loads it as if chosen.
  void SetPackageObserver(std::function<void(const std::string& path)> observer);
  // Told, on the user-interface thread, which radio the current operation found (serial
  // number and model, once its data were read).
  void SetRadioObserver(std::function<void(const std::string& serial, const std::string& model)> observer);
  // The restore action: after the operator answered yes to question 13 and the worker ended
  // with report 15, this is called with the radio's serial number (the window opens the
  // restore list; its choice comes back through StartRestore).
  void SetRestoreAction(std::function<void(const std::string& serial)> action);

  OperationPhase phase() const { return phase_; }
  bool exitAllowed() const { return flags_->exitAllowed.load(); }
  bool linkBusy() const { return flags_->linkBusy.load(); }
  bool waitCursor() const { return waitCursor_.load(); }
  int operationKind() const { return operationKind_.load(); }
  int progressPosition() const { return progressPosition_; }
  int stallCount() const { return stallCount_; }
  bool watchdogArmed() const { return watchdogArmed_; }
  const std::string& restorationFile() const { return restorationFile_; }
  const std::vector<std::string>& autoTestFiles() const { return autoTestFiles_; }
  size_t autoTestIndex() const { return autoTestIndex_; }

 private:
  class Sink;
  friend class Sink;
  // Flags the workers write too; shared with the sinks so that a worker never reaches into a
  // controller that is gone.
  struct SharedFlags {
    std::atomic<bool> exitAllowed{true};
    std::atomic<bool> linkBusy{false};
  };
  // A report that ends the run, and what sets it apart from the others.
  struct EndingReport {
    ReportCode code;
    // The notice's text key, and the notice's text made of it and the report's payload.
    const char* key = nullptr;
    std::string (*text)(const char* key, const ReportPayload& payload) = nullptr;
    bool warning = false;    // the notice's icon: a warning rather than information
    bool cancelled = false;  // "Upgrade Cancelled!" goes to the log: the radio was refused
    bool next = false;       // an auto-test series goes on with its next file
    bool logFirst = false;   // the notice's text is logged before the run ends
  };
  static const EndingReport kEndingReports[];

  void NewOperation();
  void RetireOperation();
  void StartWorker(const std::string& autoTestFile);
  void HandleReport(const Sink* from, ReportCode code, const ReportPayload& payload);
  void HandleProgress(const Sink* from, int position);
  void HandlePhase(const Sink* from, const std::string& text, int total);
  void HandleLog(const Sink* from, const std::string& text);
  bool IsCurrent(const Sink* from) const;
  bool ClaimedElsewhere() const;

  void ArmWatchdog();
  void StopWatchdog();
  void EndOperation();
  void End();  // EndOperation, link-busy 0, port closed
  void Cancelled();
  void Next();
  void FireWatchdog();
  void AskRestore(const std::string& serial);
  void EndRun(const EndingReport& ending, const ReportPayload& payload);

  WindowPort& port_;
  OperationRunner& runner_;
  ProgramSettings& settings_;
  std::string programDir_;

  OperationPhase phase_ = OperationPhase::Idle;
  std::atomic<int> operationKind_{0};
  std::atomic<bool> waitCursor_{false};
  std::shared_ptr<SharedFlags> flags_;
  std::shared_ptr<Sink> sink_;  // the current operation's; null when idle

  std::string restorationFile_;
  std::string pendingRestoreSerial_;

  bool watchdogArmed_ = false;
  int progressPosition_ = 0;
  int lastPosition_ = 0;
  int stallCount_ = 0;

  std::vector<std::string> autoTestFiles_;
  size_t autoTestIndex_ = 0;

  std::function<void(ReportCode, const ReportPayload&)> observer_;
  std::function<void(const std::string&)> restoreAction_;
  std::function<void(const std::string&)> packageObserver_;
  std::function<void(const std::string&, const std::string&)> radioObserver_;
  std::function<bool()> claimedElsewhere_;
};

}  // namespace lw
