// Attaches the operations to the main window: the port selector over the port list (with
// hot-plug), the package path over LoadPackage, "Upgrade" and "Restore" over the operation
// controller and the threaded runner, the watchdog timer, the restore list and the "For Radio"
// viewer, and the exit sequence. It decides nothing itself: every rule lives in the
// controller, the runner and the models; this class only carries events between them and the
// widgets.
#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

#include "app/front_end_assembly.h"

namespace lw::gui {

class MainWindow;

class WindowSession : public QObject {
  Q_OBJECT

 public:
  // The window has been started (MainWindow::Start); `link` outlives the session.
  // `conversionDigest`: the digest of the conversion library the program was built with.
  WindowSession(MainWindow& window, RadioLink& link, std::string conversionDigest);
  ~WindowSession() override;

  OperationAssembly& Assembly() { return *assembly_; }
  OperationController& Controller() { return assembly_->controller(); }

  // The remote control listener on `port` (0: a free one; see Assembly().remoteServer()),
  // bound to set.ini's "Remote Bind Address", logging in the window. The last step of the
  // start-up; false when it cannot listen (the window works on without it).
  bool StartRemoteControl(uint16_t port = kRemotePort);

  // The port list refreshed from a scan, and the selector redrawn from it.
  void RefreshPorts();
  // The restore list for `serial` (the radio identified last); a chosen backup starts the
  // restore run. Returns once the dialog is closed.
  void OpenRestoreList(const std::string& serial);
  void OpenViewer();
  // The serial number of the radio identified last (the Restore button ticks its backup).
  std::string LastSerial() const;

 private:
  void FillPortSelector();
  void ChoosePackage(const std::string& path);
  void ShowPackage();
  void StartUpgrade();
  void OnReport(ReportCode code, const ReportPayload& payload);
  void OnTick();
  void OnHotplug();
  void OnIdle();
  // No operation of the window's own, nor anything that changes what one uses, may start.
  bool Occupied() const;

  MainWindow& window_;
  RadioLink& link_;
  std::unique_ptr<OperationAssembly> assembly_;
  QTimer watchdog_;
  bool portsStale_ = false;   // a radio came or went while an operation held the link
  std::string lastSerial_;    // from the question 13
  bool packageChosen_ = false;
};

}  // namespace lw::gui
