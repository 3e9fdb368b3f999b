#include "app/operation_controller.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "app/single_instance.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "package/radio_identity.h"
#include "ui/translate.h"

namespace lw {
namespace fs = std::filesystem;

namespace {

constexpr int kBeepHertz = 800;
constexpr int kBeepMilliseconds = 220;

const char* FlagText(bool on) { return on ? "TRUE" : "FALSE"; }

}  // namespace

// --- The sink of one operation ------------------------------------------------------------

class OperationController::Sink : public OperationSink,
                                  public std::enable_shared_from_this<OperationController::Sink> {
 public:
  Sink(OperationController* controller, WindowPort* port, std::shared_ptr<SharedFlags> flags)
      : controller_(controller), port_(port), flags_(std::move(flags)),
        stop_(std::make_shared<std::atomic<bool>>(false)) {}

  void Report(ReportCode code, ReportPayload payload) override {
    PostToController([code, payload = std::move(payload)](OperationController& c, const Sink* s) {
      c.HandleReport(s, code, payload);
    });
  }
  void Progress(int position) override {
    PostToController([position](OperationController& c, const Sink* s) { c.HandleProgress(s, position); });
  }
  void Phase(const std::string& text, int total) override {
    PostToController([text, total](OperationController& c, const Sink* s) { c.HandlePhase(s, text, total); });
  }
  void Log(const std::string& text) override {
    PostToController([text](OperationController& c, const Sink* s) { c.HandleLog(s, text); });
  }
  void PackageFound(const std::string& path) override {
    PostToController([path](OperationController& c, const Sink* s) {
      if (c.IsCurrent(s) && c.packageObserver_) c.packageObserver_(path);
    });
  }
  void RadioIdentified(const std::string& serial, const std::string& model) override {
    PostToController([serial, model](OperationController& c, const Sink* s) {
      if (c.IsCurrent(s) && c.radioObserver_) c.radioObserver_(serial, model);
    });
  }

  bool AskRestore(const std::string& serial) override {
    {
      std::lock_guard lock(mutex_);
      answered_ = false;  // the event is reset before the question goes out
      answer_ = false;
    }
    if (StopRequested()) return false;
    Report(ReportCode::AskRestore, serial);
    std::unique_lock lock(mutex_);
    answerChanged_.wait(lock, [this] { return answered_ || stop_->load() || detached_; });
    return answered_ && answer_;
  }

  void SetExitAllowed(bool allowed) override {
    std::lock_guard lock(mutex_);
    if (!detached_ && !stop_->load()) flags_->exitAllowed.store(allowed);
  }
  void SetLinkBusy(bool busy) override {
    std::lock_guard lock(mutex_);
    if (!detached_ && !stop_->load()) flags_->linkBusy.store(busy);
  }
  bool StopRequested() const override { return stop_->load(); }
  std::shared_ptr<const std::atomic<bool>> StopFlag() const override { return stop_; }

  // From the user-interface thread.
  void Answer(bool yes) {
    std::lock_guard lock(mutex_);
    answered_ = true;
    answer_ = yes;
    answerChanged_.notify_all();
  }
  void Stop() {
    stop_->store(true);
    std::lock_guard lock(mutex_);
    answerChanged_.notify_all();
  }
  // After this the operation's worker reaches neither the window nor the controller.
  void Detach() {
    std::lock_guard lock(mutex_);
    detached_ = true;
    controller_ = nullptr;
    answerChanged_.notify_all();
  }

 private:
  template <typename Fn>
  void PostToController(Fn fn) {
    std::lock_guard lock(mutex_);
    if (detached_) return;
    port_->Post([self = shared_from_this(), fn = std::move(fn)] {
      // Runs on the user-interface thread, where Detach also runs: no race on controller_.
      if (self->controller_) fn(*self->controller_, self.get());
    });
  }

  OperationController* controller_;
  WindowPort* port_;
  std::shared_ptr<SharedFlags> flags_;
  std::shared_ptr<std::atomic<bool>> stop_;
  std::mutex mutex_;
  std::condition_variable answerChanged_;
  bool answered_ = false;
  bool answer_ = false;
  bool detached_ = false;
};

// --- Helpers ------------------------------------------------------------------------------

std::vector<std::string> CollectAutoTestFiles(const std::string& programDir) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::directory_iterator it(JoinPath(programDir, kAutoTestFolder), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    std::string name = it->path().filename().string();
    std::string_view ext(kAutoTestExtension);
    if (name.size() < ext.size() || !EqualsIgnoreCase(std::string_view(name).substr(name.size() - ext.size()), ext))
      continue;
    files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string UpgradeFailureText(const UpgradeFailure& failure) {
  const char* message;
  switch (failure.errorCode) {
    case kConversionFailed: message = TextKey("Data conversion failed, please re-upgrade!"); break;
    case kValidationFailed: message = TextKey("Data validation fails, please re-upgrade!"); break;
    case kComponentCheckFailed:
      message = TextKey("Upgrade components is incorrect, please re-install the upgrade program!");
      break;
    case kWriteRefused: message = TextKey("Writing data error!"); break;
    case kVerifyMismatch: message = TextKey("The data read back from the radio differ from the data written!"); break;
    default: message = TextKey("Reading data error!"); break;
  }
  std::string text = Translate(message);
  if (!failure.detail.empty()) text += " " + failure.detail;
  if (failure.rcdbSaved == 1)
    text += " " + Translate("RCDB data is already saved to file, from you can restore your data when necessary.");
  return text;
}

namespace {

// --- The reports that end a run --------------------------------------------------------------

std::string PlainText(const char* message, const ReportPayload&) { return Translate(message); }

// The refusals name what was refused.
std::string FilledText(const char* pattern, const ReportPayload& payload) {
  return FillPlaceholders(Translate(pattern), {PayloadText(payload)});
}

std::string AfterPayloadText(const char* message, const ReportPayload& payload) {
  return PayloadText(payload) + " " + Translate(message);
}

std::string OpenFailedText(const char* message, const ReportPayload& payload) {
  std::string text = Translate(message);
  if (const auto* why = std::get_if<std::string>(&payload); why && !why->empty()) text += "\n" + *why;
  return text;
}

std::string PackageErrorText(const char*, const ReportPayload& payload) {
  const int* kind = std::get_if<int>(&payload);
  const auto* image = std::get_if<ImageLoadFailure>(&payload);
  const int which = image ? image->kind : kind ? *kind : 0;
  std::string text = Translate(which == 1 ? "fud file format error!" : "Opening file failed!");
  // An entry's image names its file and the reason, not only the generic text.
  if (image && !image->detail.empty()) text += "\n" + image->detail;
  return text;
}

// A model number without a type gives an empty notice, as it always has.
std::string RadioTypeText(const char* pattern, const ReportPayload& payload) {
  const RadioType type = RadioTypeOf(PayloadText(payload));
  if (type == RadioType::None) return {};
  return FillPlaceholders(Translate(pattern), {Translate(RadioTypeName(type))});
}

}  // namespace

const OperationController::EndingReport OperationController::kEndingReports[] = {
    {.code = ReportCode::Finished, .key = TextKey("Upgrading Finished!"), .text = PlainText, .next = true},
    {.code = ReportCode::OpenFailed, .key = TextKey("Open USB failed!"), .text = OpenFailedText, .warning = true},
    {.code = ReportCode::PackageError, .text = PackageErrorText, .next = true},
    {.code = ReportCode::BootloaderLow,
     .key = TextKey("Bootloader version is low! Please upgrade it!"),
     .text = AfterPayloadText},
    {.code = ReportCode::FirmwareBeyond,
     .key = TextKey("The firmware version [%s] is beyond the upgrade software!"),
     .text = FilledText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::ModelBeyond,
     .key = TextKey("The model number [%s] is beyond the upgrade software!"),
     .text = FilledText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::RadioTypeBeyond,
     .key = TextKey("The radio type [%s] is beyond the upgrade software!"),
     .text = RadioTypeText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::ExternMissing,
     .key = TextKey("The extern file [%s] is not exist!"),
     .text = FilledText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::SerialBeyond,
     .key = TextKey("The serial number [%s] is beyond the upgrade file!"),
     .text = FilledText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::RcdbFormatError,
     .key = TextKey("rcdb file format error!"),
     .text = PlainText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::CustomerCodeBeyond,
     .key = TextKey("Customer code is beyond the upgrade software!"),
     .text = PlainText,
     .cancelled = true,
     .next = true},
    {.code = ReportCode::BurnFailed, .key = TextKey("Burn Failed!"), .text = PlainText, .logFirst = true},
};

// --- The controller -----------------------------------------------------------------------

OperationController::OperationController(WindowPort& port, OperationRunner& runner,
                                         ProgramSettings& settings, std::string programDir)
    : port_(port), runner_(runner), settings_(settings), programDir_(std::move(programDir)),
      flags_(std::make_shared<SharedFlags>()) {}

OperationController::~OperationController() {
  if (sink_) {
    sink_->Stop();
    sink_->Detach();
  }
}

void OperationController::SetReportObserver(std::function<void(ReportCode, const ReportPayload&)> observer) {
  observer_ = std::move(observer);
}

void OperationController::SetRadioObserver(
    std::function<void(const std::string& serial, const std::string& model)> observer) {
  radioObserver_ = std::move(observer);
}

void OperationController::SetPackageObserver(std::function<void(const std::string&)> observer) {
  packageObserver_ = std::move(observer);
}

void OperationController::SetRestoreAction(std::function<void(const std::string&)> action) {
  restoreAction_ = std::move(action);
}

void OperationController::SetRadioClaimCheck(std::function<bool()> claimedElsewhere) {
  claimedElsewhere_ = std::move(claimedElsewhere);
}

bool OperationController::ClaimedElsewhere() const { return claimedElsewhere_ && claimedElsewhere_(); }

void OperationController::NewOperation() {
  RetireOperation();
  sink_ = std::make_shared<Sink>(this, &port_, flags_);
}

void OperationController::RetireOperation() {
  if (!sink_) return;
  sink_->Stop();
  sink_->Detach();
  sink_.reset();
}

bool OperationController::IsCurrent(const Sink* from) const {
  return sink_ && from == sink_.get() && phase_ != OperationPhase::Idle;
}

bool OperationController::StartRestore(const std::string& restorationFile) {
  if (phase_ != OperationPhase::Idle) return false;
  restorationFile_ = restorationFile;
  if (!StartUpgrade()) {
    restorationFile_.clear();
    return false;
  }
  return true;
}

bool OperationController::StartUpgrade() {
  if (phase_ != OperationPhase::Idle || ClaimedElsewhere()) return false;
  if (!settings_.autoTest) runner_.ClosePort();
  // The trace holds this upgrade, not every session since the installation.
  if (settings_.commLog != 0) runner_.ClearTrace();
  port_.SetControlsEnabled(false);
  operationKind_ = kOperationKindUpgrade;
  waitCursor_ = true;
  port_.SetBusy(true);

  if (!settings_.autoTest) {
    NewOperation();
    phase_ = OperationPhase::Connecting;
    runner_.StartConnectStep(sink_);
    return true;
  }

  autoTestFiles_ = CollectAutoTestFiles(programDir_);
  autoTestIndex_ = 0;
  if (autoTestFiles_.empty()) {
    EndOperation();
    // Shown as it stands: the auto-test is a factory tool and this text has no translation.
    port_.ShowNotice("自动化测试输入目录没有RCDB文件!", false);
    return true;
  }
  StartWorker(autoTestFiles_[0]);
  return true;
}

// The upgrade worker starts: after report 0, or directly for each auto-test file.
void OperationController::StartWorker(const std::string& autoTestFile) {
  if (autoTestFile.empty()) {
    // Same operation as the connect step: it keeps the sink it was given.
  } else {
    NewOperation();
    port_.SetControlsEnabled(false);
  }
  phase_ = OperationPhase::Running;
  waitCursor_ = false;
  port_.SetBusy(false);
  port_.ClearLog();
  runner_.StartUpgradeWorker(sink_, WorkerStart{autoTestFile, restorationFile_});
  ArmWatchdog();
}

void OperationController::ArmWatchdog() {
  watchdogArmed_ = true;
  lastPosition_ = 0;
  stallCount_ = 0;
}

void OperationController::StopWatchdog() {
  watchdogArmed_ = false;
  lastPosition_ = 0;
  stallCount_ = 0;
}

void OperationController::Tick() {
  if (!watchdogArmed_) return;
  if (progressPosition_ == lastPosition_) {
    ++stallCount_;
  } else {
    stallCount_ = 0;
  }
  lastPosition_ = progressPosition_;
  if (stallCount_ >= kWatchdogStallTicks) FireWatchdog();
}

void OperationController::FireWatchdog() {
  StopWatchdog();
  // The worker is stopped cooperatively: its sink refuses it from now on, and the runner
  // makes a request it is blocked in return. It can no longer reach the radio or the window.
  if (sink_) sink_->Stop();
  runner_.RequestStop();
  port_.ShowNotice(Translate("Communication error! Please close the Loftwise and radio, retry!"), false);
  EndOperation();
  flags_->linkBusy = false;
  runner_.ClosePort();
  Cancelled();
}

void OperationController::EndOperation() {
  flags_->exitAllowed = true;
  port_.SetControlsEnabled(true);
  waitCursor_ = false;
  port_.SetBusy(false);
  progressPosition_ = 0;
  port_.SetProgress(0);
  // A watchdog left running after the end would fire on an idle window twenty seconds later.
  StopWatchdog();
  phase_ = OperationPhase::Idle;
  restorationFile_.clear();
  RetireOperation();
}

void OperationController::End() {
  EndOperation();
  flags_->linkBusy = false;
  runner_.ClosePort();
}

void OperationController::Cancelled() { port_.LogLine(Translate("Upgrade Cancelled!")); }

void OperationController::Next() {
  if (!settings_.autoTest || autoTestFiles_.empty()) return;
  ++autoTestIndex_;
  if (autoTestIndex_ < autoTestFiles_.size() && ClaimedElsewhere()) {
    // The radio was claimed while the notice of the last file was open: the series ends here
    // rather than share the link with that upgrade.
    autoTestIndex_ = autoTestFiles_.size();
    Cancelled();
    return;
  }
  if (autoTestIndex_ < autoTestFiles_.size()) {
    operationKind_ = kOperationKindUpgrade;
    StartWorker(autoTestFiles_[autoTestIndex_]);
  }
}

void OperationController::HandleProgress(const Sink* from, int position) {
  if (!IsCurrent(from)) return;
  progressPosition_ = position;
  port_.SetProgress(position);
}

void OperationController::HandlePhase(const Sink* from, const std::string& text, int total) {
  if (!IsCurrent(from)) return;
  progressPosition_ = 0;
  stallCount_ = 0;  // a new phase is progress too
  port_.SetProgressRange(text, total);
}

void OperationController::HandleLog(const Sink* from, const std::string& text) {
  if (!IsCurrent(from)) return;
  port_.LogLine(text);
}

void OperationController::AskRestore(const std::string& serial) {
  // A window's question box runs a nested event loop; hold on to this operation's sink in
  // case something ends the operation meanwhile.
  std::shared_ptr<Sink> sink = sink_;
  StopWatchdog();
  phase_ = OperationPhase::Asking;
  bool yes = port_.AskYesNo(
      FillPlaceholders(Translate("Restoration file of the radio SN[%s] already exists. Are you sure "
                                 "to restore from the file?"),
                       {serial}),
      true);
  sink->Answer(yes);
  if (sink != sink_ || phase_ != OperationPhase::Asking) return;
  phase_ = OperationPhase::Running;
  if (yes) {
    pendingRestoreSerial_ = serial;
  } else {
    ArmWatchdog();  // the worker goes on with the upgrade
  }
}

void OperationController::HandleReport(const Sink* from, ReportCode code, const ReportPayload& payload) {
  if (!IsCurrent(from)) return;
  if (code == ReportCode::StartWorker && phase_ != OperationPhase::Connecting) return;
  if (observer_) observer_(code, payload);

  switch (code) {
    case ReportCode::StartWorker: StartWorker(""); return;
    case ReportCode::AskRestore: AskRestore(PayloadText(payload)); return;
    case ReportCode::RestoreChosen: {
      StopWatchdog();
      std::string serial = std::move(pendingRestoreSerial_);
      pendingRestoreSerial_.clear();
      End();
      if (restoreAction_) restoreAction_(serial);
      return;
    }
    case ReportCode::ReadError: {
      // The notice comes while the window is still busy, and the log keeps its text.
      StopWatchdog();
      const auto* failure = std::get_if<UpgradeFailure>(&payload);
      const std::string text = failure ? UpgradeFailureText(*failure) : Translate("Reading data error!");
      port_.ShowNotice(text, false);
      port_.LogLine(text);
      End();
      return;
    }
    default: break;
  }
  for (const EndingReport& ending : kEndingReports) {
    if (ending.code == code) {
      EndRun(ending, payload);
      return;
    }
  }
}

// The common end of a run: the watchdog stopped, the link given up, the log and notices in
// the order the operator has always seen them, then the next file of an auto-test series.
void OperationController::EndRun(const EndingReport& ending, const ReportPayload& payload) {
  const std::string text = ending.text(ending.key, payload);
  StopWatchdog();
  if (ending.logFirst) port_.LogLine(text);
  End();
  if (ending.cancelled) Cancelled();
  switch (ending.code) {
    case ReportCode::Finished:
      if (settings_.playSound) port_.Beep(kBeepHertz, kBeepMilliseconds);
      break;
    case ReportCode::OpenFailed:
      // A radio the system refuses this user comes with the remedy; the plain text alone
      // would send the operator looking at cables.
      if (const auto* why = std::get_if<std::string>(&payload); why && !why->empty()) port_.LogLine(*why);
      break;
    case ReportCode::RcdbFormatError:
      // Data that are neither RCDB nor a readable record list: first the parser's own word,
      // with its error code, in a stop box; then the common notice.
      if (const int* parseError = std::get_if<int>(&payload); parseError && *parseError != 0)
        port_.Notify(Notice{RecordListFailureText(*parseError), NoticeIcon::Error, {}});
      break;
    default: break;
  }
  port_.ShowNotice(text, ending.warning);
  if (ending.next) Next();
}

bool OperationController::RequestExit(const std::string& packagePath, SingleInstance* instance) {
  if (!exitAllowed()) return false;
  const std::string file = JoinPath(programDir_, kSettingsFileName);
  const std::string section = kProgramSetSection;
  WriteSetting(file, section, "Burn Fud File", Trim(packagePath));
  WriteSetting(file, section, "Disp Tips", FlagText(false));
  WriteSetting(file, section, "Read Type", settings_.readType);
  WriteSetting(file, section, "Read Address", settings_.readAddress);
  WriteSetting(file, section, "Read Length", settings_.readLength);
  WriteSetting(file, section, "Before Version", FlagText(settings_.developmentVersion));
  WriteSetting(file, section, "Not Tips Later", FlagText(settings_.notTipsLater));
  if (instance) instance->Release();
  return true;
}

void OperationController::TogglePlaySound() {
  settings_.playSound = !settings_.playSound;
  WriteSetting(JoinPath(programDir_, kSettingsFileName), kProgramSetSection, "Play Sound",
               FlagText(settings_.playSound));
}

}  // namespace lw
