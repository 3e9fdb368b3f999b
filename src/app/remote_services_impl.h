// The program's answers to the remote control server: the identity check against the open
// package, and the remote upgrade of the selected radio under the one-operation rule.
//
// The front end's state (the package's restrictions, the port selection, the package path,
// the operation controller) belongs to the user-interface thread. A handler thread never reads
// it directly: it posts a small task through the window port and waits for the answer. When
// the user-interface thread does not take the task within `uiWait` the request is answered
// with kRemoteBusy.
//
// The one-operation rule. A remote upgrade first claims the radio on the user-interface
// thread: the claim fails (kRemoteBusy) while the controller is not idle or another remote
// upgrade holds the radio. While it holds the radio the window's start controls are disabled
// (WindowPort::SetControlsEnabled) and Busy() is true: a front end must not start an operation
// of its own then. Before the remote upgrade touches the transport it waits for the runner's
// last thread (a worker the watchdog gave up on may still be finishing a request).
//
// The remote upgrade opens the selected radio itself when it is not open (learning the
// bootloader version and device class quietly, without reports) and closes it at the end. Its
// log lines and progress go to the window port; its one question (a backup of the radio
// exists) is asked through the window port. The conversion library is loaded with its usual
// check: when the check fails, a conversion fails instead of converting with a library nobody
// vouched for.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/operation_runner_impl.h"
#include "app/remote_control_server.h"
#include "common/thread_annotations.h"
#include "engine/upgrade_operation.h"
#include "package/package_restrictions.h"

namespace lw {

class OperationController;
class WindowPort;

// The identity check of an identity file: -1 when it cannot be read; 19 when the package's
// radio types refuse its model number, 17 when its version rules refuse it, 27 when the
// restriction code is neither 0 nor -1; else 100 (kAdmitted).
int CheckIdentityFile(const std::string& path, const PackageRestrictions& restrictions,
                      const std::string& digitalType, const std::string& encryptLen, bool packageChosen);

struct RemoteServicesSetup {
  WindowPort* port = nullptr;                  // required
  OperationController* controller = nullptr;  // null: there are no operator operations
  UpgradeRunner* runner = nullptr;            // null: no operation threads to wait for
  // The program's state as the runner takes it (transport, settings, script, restrictions,
  // rules, folders, port selection, package path, conversion overrides).
  RunnerSetup state;
  std::chrono::milliseconds uiWait{5000};
};

class RemoteServicesImpl : public RemoteServices {
 public:
  explicit RemoteServicesImpl(RemoteServicesSetup setup);
  ~RemoteServicesImpl() override;

  int CheckIdentity(const std::string& identityFile) override;
  std::unique_ptr<RemoteUpgradeJob> BeginUpgrade() override;
  void Shutdown() override;

  // A remote upgrade holds the radio. Read on the user-interface thread, where the claim is
  // taken, it tells the front end whether it may start an operation of its own.
  bool Busy() const { return claimed_.load(); }
  // The front end rebuilt its runner (a new backup folder): the runner to wait for and the
  // state of the next remote upgrade. On the user-interface thread, only while !Busy().
  void Rebind(UpgradeRunner* runner, RunnerSetup state);
  // What the last remote upgrade did (tests, the console).
  std::optional<UpgradeSummary> lastSummary() const;

 private:
  class Job;
  class Sink;
  struct Call;

  // Runs `task` on the user-interface thread and waits for it; false when it was not taken in
  // time (with `patient`, only stopping ends the wait).
  bool OnUiThread(std::function<void()> task, bool patient = false);
  void Release();

  RemoteServicesSetup setup_;
  std::atomic<bool> claimed_{false};
  std::atomic<bool> stopping_{false};
  mutable Mutex mutex_;
  std::optional<UpgradeSummary> summary_ LW_GUARDED_BY(mutex_);
  std::shared_ptr<std::atomic<bool>> stopFlag_ LW_GUARDED_BY(mutex_);  // of the running remote upgrade
};

}  // namespace lw
