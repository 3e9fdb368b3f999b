#include "gui/window_session.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QScreen>

#include <algorithm>

#include "gui/main_window.h"
#include "gui/restore_dialog.h"
#include "gui/restriction_viewer.h"
#include "package/restriction_view.h"
#include "ui/translate.h"

namespace lw::gui {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The picture of the status area: the first radio type the package is made for.
int PackageRadioType(const PackageHeader& h) {
  const uint32_t flags[] = {h.forPortable, h.forMobile, h.forRepeater, h.forPortableTrunking, h.forMobileTrunking};
  for (int i = 0; i < 5; ++i)
    if (flags[i] == 1) return i;
  return h.allRadios != 0 ? 0 : -1;
}

// Centres a dialog over the window but keeps it on the screen: the restore list is wider than
// the window, and without a window manager nothing else would pull it back into view.
void PlaceOver(QDialog& dialog, QWidget& window) {
  dialog.adjustSize();
  QRect r(QPoint(0, 0), dialog.size());
  r.moveCenter(window.frameGeometry().center());
  if (QScreen* screen = window.screen()) {
    const QRect area = screen->availableGeometry();
    r.moveLeft(std::clamp(r.left(), area.left(), std::max(area.left(), area.right() - r.width())));
    r.moveTop(std::clamp(r.top(), area.top(), std::max(area.top(), area.bottom() - r.height())));
  }
  dialog.move(r.topLeft());
}

}  // namespace

WindowSession::WindowSession(MainWindow& window, RadioLink& link, std::string conversionDigest)
    : window_(window), link_(link) {
  assembly_ = std::make_unique<OperationAssembly>(window_.State(), link_, window_.Port(), std::move(conversionDigest));
  OperationController& controller = assembly_->controller();

  window_.onUpgrade = [this] { StartUpgrade(); };
  window_.onRestore = [this] { OpenRestoreList(LastSerial()); };
  window_.onPackageChosen = [this](const std::string& path) { ChoosePackage(path); };
  window_.onForRadio = [this] { OpenViewer(); };
  window_.onExitRequested = [this] {
    return Controller().RequestExit(window_.PackagePath()->text().toStdString(), window_.State().instance.get());
  };
  window_.onBackupFolderChanged = [this](const std::string& folder) { assembly_->SetBackupDirectory(folder); };
  window_.onRetranslate = [this] {
    // The package's radio type names are translated when it is read.
    if (!Occupied() && packageChosen_) assembly_->ChoosePackage(assembly_->packagePath());
    ShowPackage();
    FillPortSelector();
  };
  window_.onIdle = [this] { OnIdle(); };

  controller.SetReportObserver([this](ReportCode code, const ReportPayload& payload) { OnReport(code, payload); });
  // No package was chosen and the upgrade found the radio's own: the window shows it, and it is
  // the chosen package from now on, as if the operator had picked it.
  controller.SetPackageObserver([this](const std::string& path) {
    window_.ChoosePackagePath(Q(path));  // its own handler waits for the end of the operation
    packageChosen_ = true;
    assembly_->ChoosePackage(path);
    ShowPackage();
  });
  // After Yes to the question 13 the worker ends with report 15; the restore list opens once
  // the controller has finished with that report.
  controller.SetRestoreAction([this](const std::string& serial) {
    QMetaObject::invokeMethod(this, [this, serial] { OpenRestoreList(serial); }, Qt::QueuedConnection);
  });

  QObject::connect(window_.PortSelector(), &QComboBox::activated, this, [this](int index) {
    const auto& entries = link_.ports().Entries();
    if (index >= 0 && size_t(index) < entries.size()) link_.ports().Select(entries[size_t(index)].text);
  });
  // Hot-plug notices come on a thread of the backend.
  link_.SetHotplugHandler([this] {
    QMetaObject::invokeMethod(this, [this] { OnHotplug(); }, Qt::QueuedConnection);
  });

  watchdog_.setInterval(int(kWatchdogPeriod.count()));
  QObject::connect(&watchdog_, &QTimer::timeout, this, [this] { OnTick(); });
  watchdog_.start();

  if (!link_.scanned()) {
    RefreshPorts();
  } else {
    FillPortSelector();
  }
  const QString path = window_.PackagePath()->text().trimmed();
  ChoosePackage(path.toStdString());
}

bool WindowSession::StartRemoteControl(uint16_t port) {
  RemoteServerOptions options;
  options.bindAddress = window_.Settings().remoteBindAddress;
  options.port = port;
  return assembly_->StartRemoteServer(options);
}

bool WindowSession::Occupied() const {
  // A remote upgrade holds the radio without the controller knowing; both are looked at on
  // this thread, where the remote claim is taken.
  return assembly_->controller().phase() != OperationPhase::Idle || assembly_->remote().Busy();
}

WindowSession::~WindowSession() {
  link_.SetHotplugHandler({});
  watchdog_.stop();
  window_.onUpgrade = nullptr;
  window_.onRestore = nullptr;
  window_.onPackageChosen = nullptr;
  window_.onForRadio = nullptr;
  window_.onExitRequested = nullptr;
  window_.onBackupFolderChanged = nullptr;
  window_.onRetranslate = nullptr;
  window_.onIdle = nullptr;
  // Handlers of the listener may be waiting for this thread; they give up once it stops.
  assembly_.reset();
}

// --- Ports ----------------------------------------------------------------------------------

void WindowSession::RefreshPorts() {
  // Probing opens radios: never while the link is used, nor before the last operation's
  // thread has let go of it. A worker the watchdog gave up on may still be inside its last
  // request: the refresh is left to a later tick rather than waited for on this thread, which
  // would freeze the window meanwhile.
  if (Occupied() || assembly_->runner().Busy()) {
    portsStale_ = true;
    return;
  }
  assembly_->runner().WaitIdle();  // the thread has ended: this only reaps it
  portsStale_ = false;
  link_.Scan();
  FillPortSelector();
}

void WindowSession::FillPortSelector() {
  QComboBox* box = window_.PortSelector();
  const QSignalBlocker quiet(box);
  box->clear();
  for (const PortListEntry& entry : link_.ports().Entries())
    box->addItem(entry.port == 0 ? Q(Translate(entry.text)) : Q(entry.text), entry.port);
  box->setCurrentIndex(link_.ports().SelectedIndex());
}

void WindowSession::OnHotplug() { RefreshPorts(); }

void WindowSession::OnIdle() {
  // The operation has just ended inside the controller's report handling; a refresh the
  // hot-plug asked for meanwhile waits for the next event-loop turn.
  if (portsStale_)
    QMetaObject::invokeMethod(this, [this] { if (portsStale_) RefreshPorts(); }, Qt::QueuedConnection);
}

// --- Package --------------------------------------------------------------------------------

void WindowSession::ChoosePackage(const std::string& path) {
  if (Occupied()) return;  // the field is disabled meanwhile
  packageChosen_ = !path.empty();
  assembly_->ChoosePackage(path);
  ShowPackage();
}

void WindowSession::ShowPackage() {
  const PackageRestrictions& r = assembly_->restrictions();
  window_.SetStatus(StatusRow::RadioModel, Q(r.forRadioText));
  // The versions the package upgrades from; the target closes the list and has its own row.
  QStringList from;
  for (const std::string& v : r.versionList)
    if (v != r.targetVersion && !from.contains(Q(v))) from << Q(v);
  window_.SetStatus(StatusRow::FirmwareVersion, from.join(", "));
  window_.ShowUpgradeTarget(packageChosen_ ? r.targetVersion : std::string());
  window_.SetIndicators(r.headInfoIndicator, r.cpsDataIndicator);
  window_.SetContentsText(Q(r.contentsText));
  window_.SetRadioType(packageChosen_ ? PackageRadioType(r.header) : -1);
}

// --- Operations -----------------------------------------------------------------------------

void WindowSession::StartUpgrade() {
  // A click queued before a remote upgrade claimed the radio must not start a second
  // operation on it.
  if (assembly_->remote().Busy()) return;
  window_.SetStatus(StatusRow::BootVersion, QString());
  Controller().StartUpgrade();
}

void WindowSession::OnReport(ReportCode code, const ReportPayload& payload) {
  switch (code) {
    case ReportCode::BootloaderLow: window_.SetStatus(StatusRow::BootVersion, Q(PayloadText(payload))); break;
    case ReportCode::AskRestore: lastSerial_ = PayloadText(payload); break;
    default: break;
  }
}

void WindowSession::OnTick() {
  Controller().Tick();
  if (Controller().phase() == OperationPhase::Running && window_.Status(StatusRow::BootVersion).isEmpty()) {
    // The connect step keeps what it learned once it has posted report 0; by the next tick
    // its thread is long gone.
    const LinkFacts facts = assembly_->runner().linkFacts();
    if (facts.ready) window_.SetStatus(StatusRow::BootVersion, Q(facts.bootloaderVersion));
  }
  if (portsStale_ && !Occupied()) RefreshPorts();
}

std::string WindowSession::LastSerial() const {
  if (assembly_->controller().phase() == OperationPhase::Idle) {
    const std::optional<UpgradeSummary> summary = assembly_->runner().lastSummary();
    if (summary && summary->identity && !summary->identity->serialNumber.empty())
      return summary->identity->serialNumber;
  }
  return lastSerial_;
}

void WindowSession::OpenRestoreList(const std::string& serial) {
  if (Occupied()) return;
  RestoreDialog dialog(window_.BackupDir(), serial, window_.Port(), &window_);
  PlaceOver(dialog, window_);
  const bool chosen = dialog.exec() == QDialog::Accepted && dialog.Chosen();
  window_.RefreshRestoreButton();  // rows may have been deleted
  if (chosen && !assembly_->remote().Busy()) {  // a remote upgrade may have begun meanwhile
    window_.SetStatus(StatusRow::BootVersion, QString());
    Controller().StartRestore(*dialog.Chosen());
  }
}

void WindowSession::OpenViewer() {
  RestrictionViewer viewer(BuildRestrictionView(assembly_->restrictions(), window_.Settings().allPreVersionUpgrade),
                           &window_);
  PlaceOver(viewer, window_);
  viewer.exec();
}

}  // namespace lw::gui
