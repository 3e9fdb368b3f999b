#include "app/front_end_assembly.h"

#include <ctime>
#include <filesystem>

#include "common/text.h"
#include "link/replay_backend.h"
#include "link/usb_ids.h"
#include "sim/sim_setup.h"
#include "sim/simulated_backend.h"

namespace lw {
namespace fs = std::filesystem;

namespace {

LinkOptions LinkOptionsOf(const std::string& programDir, const ProgramSettings& settings) {
  LinkOptions options;
  options.checkAnswers = settings.checkAnswers;
  options.commLog = settings.commLog != 0;
  options.commLogPath = programDir + "Comm.log";
  return options;
}

}  // namespace

// --- RadioLink ------------------------------------------------------------------------------

RadioLink::RadioLink(std::unique_ptr<UsbBackend> backend, sim::SimulatedBackend* simulated, bool simulatedStore,
                     const std::string& programDir, const ProgramSettings& settings)
    : backend_(std::move(backend)), simulated_(simulated), store_(sim::MakePortStore(simulatedStore)) {
  transport_ = std::make_unique<UsbTransport>(*backend_, store_.get(), LinkOptionsOf(programDir, settings));
  transport_->SetAnswerTimeout(int(settings.timeoutMs));
  ports_ = std::make_unique<PortList>(*transport_);
}

RadioLink::~RadioLink() {
  // No notification may reach a receiver that is going away with this link.
  backend_->SetHotplugCallback({});
}

Result<std::unique_ptr<RadioLink>> RadioLink::Open(const std::string& programDir, const ProgramSettings& settings,
                                                   const std::vector<std::string>& simProfiles) {
  if (simProfiles.empty()) {
    auto ids = UsbIdsFromSettings(settings.usbPrimaryIds, settings.usbFallbackIds);
    if (!ids) return ids.status();
    auto backend = sim::MakeRadioBackend({}, programDir, *ids);
    if (!backend) return backend.status();
    return std::unique_ptr<RadioLink>(new RadioLink(std::move(backend).value(), nullptr, false, programDir, settings));
  }
  auto simulated = sim::MakeSimulatedBackend(simProfiles, programDir);
  if (!simulated) return simulated.status();
  sim::SimulatedBackend* raw = simulated->get();
  return std::unique_ptr<RadioLink>(new RadioLink(std::move(simulated).value(), raw, true, programDir, settings));
}

Result<std::unique_ptr<RadioLink>> RadioLink::OpenReplay(const std::string& programDir, const ProgramSettings& settings,
                                                         const std::string& commLog) {
  auto loaded = ReplayBackend::Load(commLog);
  if (!loaded) return loaded.status();
  std::unique_ptr<ReplayBackend> replay = std::move(loaded).value();
  ReplayBackend* raw = replay.get();
  ProgramSettings quiet = settings;
  quiet.commLog = 0;
  // The simulated store: the recording's one radio is port 1, and ports.ini is left alone.
  auto link = std::unique_ptr<RadioLink>(new RadioLink(std::move(replay), nullptr, true, programDir, quiet));
  link->replay_ = raw;
  return link;
}

std::unique_ptr<RadioLink> RadioLink::WithoutRadios(const std::string& programDir, const ProgramSettings& settings) {
  // A backend with nothing attached: the port list holds only "None" and an upgrade ends
  // with "Open USB failed!", which is the truth.
  auto empty = std::make_unique<sim::SimulatedBackend>();
  sim::SimulatedBackend* raw = empty.get();
  return std::unique_ptr<RadioLink>(new RadioLink(std::move(empty), raw, true, programDir, settings));
}

void RadioLink::SetTracePath(const std::string& path) {
  LinkOptions options = transport_->options();
  options.commLogPath = path;
  transport_->SetOptions(options);
}

void UseReplaySettings(ProgramSettings& settings, const ReplayBackend& replay) {
  settings.commLog = 0;
  if (!Trim(settings.headDate).empty()) return;
  const std::time_t day = replay.RecordedStart();
  std::tm local{};
  localtime_r(&day, &local);
  char digits[16];
  std::strftime(digits, sizeof digits, "%Y%m%d", &local);
  settings.headDate = digits;
}

int RadioLink::Scan() {
  scanned_ = true;
  return ports_->RefreshPortList();
}

int RadioLink::Scan(const std::string& wanted) {
  scanned_ = true;
  return ports_->RefreshPortList(wanted);
}

void RadioLink::SetHotplugHandler(std::function<void()> handler) { backend_->SetHotplugCallback(std::move(handler)); }

// --- OperationAssembly ----------------------------------------------------------------------

// The controller keeps one runner for its life; the runner itself is rebuilt when what it was
// set up with changes (the backup folder), which is only allowed between operations.
class OperationAssembly::Forwarder : public OperationRunner {
 public:
  explicit Forwarder(OperationAssembly& owner) : owner_(owner) {}
  void StartConnectStep(std::shared_ptr<OperationSink> sink) override {
    owner_.runner_->StartConnectStep(std::move(sink));
  }
  void StartUpgradeWorker(std::shared_ptr<OperationSink> sink, const WorkerStart& start) override {
    owner_.runner_->StartUpgradeWorker(std::move(sink), start);
  }
  void RequestStop() override { owner_.runner_->RequestStop(); }
  void ClosePort() override { owner_.runner_->ClosePort(); }
  void ClearTrace() override { owner_.runner_->ClearTrace(); }

 private:
  OperationAssembly& owner_;
};

OperationAssembly::OperationAssembly(StartupState& state, RadioLink& link, WindowPort& port,
                                     std::string conversionDigest)
    : state_(state), link_(link), port_(port), conversionDigest_(std::move(conversionDigest)) {
  restrictions_ = RestrictionsFromSettings(state_.settings, state_.upgradeRules, state_.radioRules, state_.tunerRules);
  runner_ = std::make_unique<UpgradeRunner>(Setup());
  forwarder_ = std::make_unique<Forwarder>(*this);
  controller_ = std::make_unique<OperationController>(port_, *forwarder_, state_.settings,
                                                      state_.programDirectory.directory);
  RemoteServicesSetup remote;
  remote.port = &port_;
  remote.controller = controller_.get();
  remote.runner = runner_.get();
  remote.state = Setup();
  remote_ = std::make_unique<RemoteServicesImpl>(std::move(remote));
  controller_->SetRadioClaimCheck([this] { return remote_ && remote_->Busy(); });
}

OperationAssembly::~OperationAssembly() {
  // The listener and a remote upgrade end first: they use everything below. The controller
  // then stops a running operation, and the runner waits for its thread.
  server_.reset();  // stops it
  remote_.reset();
  controller_.reset();
  runner_.reset();
}

bool OperationAssembly::StartRemoteServer(const RemoteServerOptions& options) {
  if (server_) return false;
  auto server = std::make_unique<RemoteControlServer>(port_, *remote_, options);
  if (!server->Start()) return false;
  server_ = std::move(server);
  return true;
}

void OperationAssembly::StopRemoteServer() {
  if (server_) server_->Stop();
}

RunnerSetup OperationAssembly::Setup() const {
  RunnerSetup setup;
  setup.transport = &link_.transport();
  setup.settings = &state_.settings;
  setup.script = &state_.burnScript;
  setup.restrictions = &restrictions_;
  setup.upgradeRules = &state_.upgradeRules;
  setup.tunerRules = &state_.tunerRules;
  setup.equipmentTable = &state_.serialList;
  setup.unitTable = &state_.macList;
  setup.programDir = state_.programDirectory.directory;
  setup.backupDirectory = state_.backupDirectory;
  PortList* ports = &link_.ports();
  setup.selectedPort = [ports] { return ports->SelectedPort(); };
  setup.packagePath = [this] { return packagePath_; };
  setup.conversionDigest = conversionDigest_;
  setup.port = &port_;
  if (setupChange_) setupChange_(setup);
  return setup;
}

void OperationAssembly::Rebuild() {
  runner_.reset();  // waits for a thread the watchdog gave up on
  runner_ = std::make_unique<UpgradeRunner>(Setup());
  if (remote_) remote_->Rebind(runner_.get(), Setup());
}

PackageStatus OperationAssembly::ChoosePackage(const std::string& path) {
  if (path.empty()) {
    packagePath_.clear();
    restrictions_ = RestrictionsFromSettings(state_.settings, state_.upgradeRules, state_.radioRules, state_.tunerRules);
    return PackageStatus::Ok;
  }
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  packagePath_ = ec ? path : absolute.string();
  return LoadPackage(packagePath_, restrictions_);
}

bool OperationAssembly::SetBackupDirectory(const std::string& directory) {
  if (controller_->phase() != OperationPhase::Idle || remote_->Busy()) return false;
  state_.backupDirectory = directory;
  Rebuild();
  return true;
}

void OperationAssembly::ConfigureRunner(const std::function<void(RunnerSetup&)>& change) {
  setupChange_ = change;
  Rebuild();
}

}  // namespace lw
