#include "app/remote_services_impl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/operation_controller.h"
#include "common/text.h"
#include "common/window_port.h"
#include "engine/conversion_interface.h"
#include "engine/data_validation.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/eligibility.h"
#include "package/radio_identity.h"
#include "ui/translate.h"

namespace lw {
namespace {

// Reads at most kXuidFileMax bytes of a regular file; none when it cannot be opened. Anything
// but a regular file is refused: a named pipe would hold the handler thread forever.
std::optional<std::vector<uint8_t>> ReadIdentityFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(kXuidFileMax);
  size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    filled += size_t(n);
  }
  close(fd);
  bytes.resize(filled);
  return bytes;
}

}  // namespace

int CheckIdentityFile(const std::string& path, const PackageRestrictions& restrictions, const std::string& digitalType,
                      const std::string& encryptLen, bool packageChosen) {
  auto file = ReadIdentityFile(path);
  if (!file) return kNoAnswer;
  RadioIdentity id = IdentityFromXuid(*file);
  Eligibility rules(restrictions, digitalType, encryptLen);
  if (!rules.RadioTypeAdmitted(id.modelNumber)) return int(ReportCode::RadioTypeBeyond);
  if (!rules.VersionAdmitted(id.softwareVersion, id.modelNumber, packageChosen))
    return int(ReportCode::FirmwareBeyond);
  if (id.restrictionCode != 0 && id.restrictionCode != -1) return int(ReportCode::CustomerCodeBeyond);
  return kAdmitted;
}

// --- Calls onto the user-interface thread ----------------------------------------------------

struct RemoteServicesImpl::Call {
  Mutex mutex;
  std::condition_variable_any done;
  bool started LW_GUARDED_BY(mutex) = false;
  bool finished LW_GUARDED_BY(mutex) = false;
  bool abandoned LW_GUARDED_BY(mutex) = false;
};

bool RemoteServicesImpl::OnUiThread(std::function<void()> task, bool patient) {
  auto call = std::make_shared<Call>();
  setup_.port->Post([call, task = std::move(task)] {
    {
      MutexLock lock(call->mutex);
      if (call->abandoned) return;  // the handler stopped waiting: too late to act
      call->started = true;
    }
    task();
    MutexLock lock(call->mutex);
    call->finished = true;
    call->done.notify_all();
  });
  const auto deadline = std::chrono::steady_clock::now() + setup_.uiWait;
  MutexLock lock(call->mutex);
  for (;;) {
    if (call->finished) return true;
    // A task that has started is waited for to its end: it may be using this object.
    const bool giveUp = stopping_ || (!patient && std::chrono::steady_clock::now() >= deadline);
    if (giveUp && !call->started) {
      call->abandoned = true;
      return false;
    }
    call->done.wait_for(lock, std::chrono::milliseconds(100));
  }
}

// --- The remote upgrade's sink -----------------------------------------------------------------

class RemoteServicesImpl::Sink : public OperationSink {
 public:
  Sink(RemoteServicesImpl& owner, std::shared_ptr<std::atomic<bool>> stop) : owner_(owner), stop_(std::move(stop)) {}

  void Report(ReportCode code, ReportPayload payload) override {
    if (code == ReportCode::Finished) return;  // the operation logged "Upgrading Finished!"
    std::string text;
    if (auto* failure = std::get_if<UpgradeFailure>(&payload)) {
      text = UpgradeFailureText(*failure);
    } else {
      text = FillPlaceholders(Translate("Remote upgrade ended with report %s."), {std::to_string(int(code))});
    }
    Log(text);
  }
  void Progress(int position) override {
    WindowPort* port = owner_.setup_.port;
    port->Post([port, position] { port->SetProgress(position); });
  }
  void Phase(const std::string& text, int total) override {
    WindowPort* port = owner_.setup_.port;
    port->Post([port, text, total] { port->SetProgressRange(text, total); });
  }
  void Log(const std::string& text) override {
    WindowPort* port = owner_.setup_.port;
    port->Post([port, text] { port->LogLine(text); });
  }
  bool AskRestore(const std::string& serial) override {
    if (StopRequested()) return false;
    auto answer = std::make_shared<bool>(false);
    WindowPort* port = owner_.setup_.port;
    const std::string question = FillPlaceholders(
        Translate("Restoration file of the radio SN[%s] already exists. Are you sure to restore from the file?"),
        {serial});
    // The operator's question has no time-out, as for an upgrade started in the window.
    if (!owner_.OnUiThread([port, question, answer] { *answer = port->AskYesNo(question, true); }, true))
      return false;
    return *answer;
  }
  void SetExitAllowed(bool) override {}
  void SetLinkBusy(bool) override {}
  bool StopRequested() const override { return stop_->load(); }
  std::shared_ptr<const std::atomic<bool>> StopFlag() const override { return stop_; }

 private:
  RemoteServicesImpl& owner_;
  std::shared_ptr<std::atomic<bool>> stop_;
};

// --- The remote upgrade ----------------------------------------------------------------------

class RemoteServicesImpl::Job : public RemoteUpgradeJob {
 public:
  Job(RemoteServicesImpl& owner, int radioPort, std::string packagePath,
      std::shared_ptr<const ProgramSettings> settings)
      : owner_(owner),
        radioPort_(radioPort),
        packagePath_(std::move(packagePath)),
        settings_(std::move(settings)),
        stop_(std::make_shared<std::atomic<bool>>(owner.stopping_.load())),
        sink_(owner, stop_) {
    MutexLock lock(owner_.mutex_);
    owner_.stopFlag_ = stop_;
  }

  ~Job() override {
    if (operation_) {
      MutexLock lock(owner_.mutex_);
      owner_.summary_ = operation_->summary();
    }
    operation_.reset();
    if (opened_) owner_.setup_.state.transport->Close();
    {
      MutexLock lock(owner_.mutex_);
      owner_.stopFlag_.reset();
    }
    owner_.Release();
  }

  int Prepare(const std::string& radioDataFile) override {
    if (owner_.setup_.runner) owner_.setup_.runner->WaitIdle();
    const RunnerSetup& state = owner_.setup_.state;
    std::optional<LinkStopScope> stopScope;
    if (state.transport) stopScope.emplace(*state.transport, stop_);
    UpgradeEnvironment env = EnvironmentOf(state, packagePath_, settings_.get());
    env.link = OpenRadio();
    if (state.componentCheck) {
      env.componentCheck = state.componentCheck;
    } else {
      env.componentCheck = [this, &state] { return library_.Load(state.programDir, state.conversionDigest); };
    }
    if (state.convert) {
      env.convert = state.convert;
    } else {
      // The remote upgrade makes no component check of its own, but the library is loaded only
      // through the check: a library that fails it converts nothing.
      env.convert = [this, &state](std::span<uint8_t> image, ByteView old) {
        if (!library_.loaded() && library_.Load(state.programDir, state.conversionDigest) != kOk) return false;
        return library_.Convert(image, old) == kOk;
      };
    }
    if (state.validate) {
      env.validate = state.validate;
    } else {
      env.validate = [](ByteView data) { return ValidateConvertedData(data).ok(); };
    }
    operation_ = std::make_unique<UpgradeOperation>(env, sink_);
    return operation_->PrepareRemote(radioDataFile);
  }

  void Run() override {
    if (!operation_ || stop_->load()) return;
    std::optional<LinkStopScope> stopScope;
    if (owner_.setup_.state.transport) stopScope.emplace(*owner_.setup_.state.transport, stop_);
    operation_->RunRemote();
  }

 private:
  // Opens the radio of the port selection and learns its facts quietly, as the auto-test
  // series does. A radio that cannot be reached leaves the facts empty: the preparation works
  // from the file alone, and the burn then fails with its own report.
  LinkFacts OpenRadio() {
    const int presetClass = settings_ ? int(settings_->modelType) : 0;  // "Model Type"
    LinkFacts facts;
    facts.deviceClass = presetClass;
    const RunnerSetup& state = owner_.setup_.state;
    UsbTransport* transport = state.transport;
    if (!transport) return facts;
    if (!transport->IsOpened()) {
      if (radioPort_ < 1 || !transport->Open(radioPort_)) return facts;
      opened_ = true;
    }
    const int timeoutMs = settings_ ? int(settings_->timeoutMs) : transport->AnswerTimeout();
    return QuietLinkFacts(*transport, timeoutMs, presetClass);
  }

  RemoteServicesImpl& owner_;
  int radioPort_;
  std::string packagePath_;
  std::shared_ptr<const ProgramSettings> settings_;  // taken when the radio was claimed
  std::shared_ptr<std::atomic<bool>> stop_;
  Sink sink_;
  bool opened_ = false;
  ConversionLibrary library_;  // before the operation, which calls into it
  std::unique_ptr<UpgradeOperation> operation_;
};

// --- The services ------------------------------------------------------------------------------

RemoteServicesImpl::RemoteServicesImpl(RemoteServicesSetup setup) : setup_(std::move(setup)) {}

RemoteServicesImpl::~RemoteServicesImpl() { Shutdown(); }

void RemoteServicesImpl::Rebind(UpgradeRunner* runner, RunnerSetup state) {
  // No job reads the setup now: a job exists only while the radio is claimed, and the claim
  // is taken on this thread.
  setup_.runner = runner;
  setup_.state = std::move(state);
}

void RemoteServicesImpl::Shutdown() {
  stopping_ = true;
  MutexLock lock(mutex_);
  if (stopFlag_) stopFlag_->store(true);
}

std::optional<UpgradeSummary> RemoteServicesImpl::lastSummary() const {
  MutexLock lock(mutex_);
  return summary_;
}

int RemoteServicesImpl::CheckIdentity(const std::string& identityFile) {
  static const PackageRestrictions kNone;
  PackageRestrictions restrictions;
  std::string digitalType, encryptLen;
  bool chosen = false;
  // A copy taken on the user-interface thread, where the operator may be loading a package.
  bool taken = OnUiThread([&] {
    const RunnerSetup& s = setup_.state;
    restrictions = s.restrictions ? *s.restrictions : kNone;
    if (s.settings) {
      digitalType = s.settings->digitalType;
      encryptLen = s.settings->encryptLen;
    }
    chosen = s.packagePath && !s.packagePath().empty();
  });
  if (!taken) return kRemoteBusy;
  return CheckIdentityFile(identityFile, restrictions, digitalType, encryptLen, chosen);
}

std::unique_ptr<RemoteUpgradeJob> RemoteServicesImpl::BeginUpgrade() {
  if (stopping_) return nullptr;
  bool claimed = false;
  int radioPort = 0;
  std::string packagePath;
  std::shared_ptr<const ProgramSettings> settings;
  bool taken = OnUiThread([&] {
    if (setup_.controller && setup_.controller->phase() != OperationPhase::Idle) return;
    if (claimed_.exchange(true)) return;  // another remote upgrade holds the radio
    claimed = true;
    const RunnerSetup& s = setup_.state;
    radioPort = s.selectedPort ? s.selectedPort() : 0;
    packagePath = s.packagePath ? s.packagePath() : std::string();
    // The upgrade's own copy: the operator may change settings on the window while it runs.
    if (s.settings) settings = std::make_shared<const ProgramSettings>(*s.settings);
    setup_.port->SetControlsEnabled(false);
  });
  if (!taken || !claimed) return nullptr;
  return std::make_unique<Job>(*this, radioPort, packagePath, std::move(settings));
}

void RemoteServicesImpl::Release() {
  WindowPort* port = setup_.port;
  port->Post([port] { port->SetControlsEnabled(true); });
  claimed_ = false;
}

}  // namespace lw
