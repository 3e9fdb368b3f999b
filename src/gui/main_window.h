// The main window: a frameless window shaped and painted by the current skin, with the four
// image buttons of the skin, the status area, the package path field, the port selector, the
// progress bar, the log list and the pop-up menu.
//
// It holds no upgrade logic. The window owns the start-up state (settings, rules, burn script,
// backup folder, single-instance lock); the operations are attached through the hooks below
// (see "Integration points", and gui/window_session.h, which fills them); until then "Upgrade"
// and "Restore" only announce their clicks through buttonActivated().
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/startup.h"
#include "config/settings.h"
#include "gui/qt_window_port.h"
#include "gui/skin_canvas.h"
#include "ui/menu_model.h"
#include "ui/skin_model.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QToolButton;

namespace lw::gui {

class RadioPicture;

// Rows of the status area.
enum class StatusRow { RadioModel = 0, BootVersion, FirmwareVersion, UpgradeTo, UsbPort };
inline constexpr int kStatusRows = 5;
// The operation log keeps this many of its newest lines.
inline constexpr int kLogLinesKept = 5000;

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // `home`: the --home option (may be empty: $LOFTWISE_HOME, else the program's folder).
  explicit MainWindow(std::string home, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The window's start-up from the program's start-up state (RunStartup): skin, texts, the
  // package path, the backup folder button. The window keeps the state for its life.
  void Start(StartupState state);
  // The same after running the start-up here without the single-instance rule and without
  // the backup folder prompt (tests, and tools that show the window alone).
  void Start();

  WindowPort& Port() { return *port_; }
  StartupState& State() { return state_; }
  const std::string& ProgramDir() const { return state_.programDirectory.directory; }
  std::string SettingsPath() const;
  ProgramSettings& Settings() { return state_.settings; }
  const std::string& BackupDir() const { return state_.backupDirectory; }

  // --- Skin and buttons ---
  SkinState& Skin() { return skin_; }
  const QtSkinCanvas& Canvas() const { return *canvas_; }
  // Menu "Skin1".."Skin3".
  SkinState::SwitchResult ChooseSkin(int skin);
  void SetButtonCaption(size_t index, const std::string& caption);
  void SetButtonEnabled(size_t index, bool enabled);
  void SetButtonVisible(size_t index, bool visible);
  // The second function button reads "Restore" when the backup folder holds "*.rcd" files,
  // and is hidden otherwise.
  void RefreshRestoreButton();
  // Milliseconds of a monotonic clock, for the click debounce (tests replace it).
  void SetClock(std::function<int64_t()> nowMs) { clock_ = std::move(nowMs); }

  // --- Pop-up menu ---
  std::unique_ptr<QMenu> BuildMenu();
  void RunMenuCommand(int id);
  const PackageLanguageState& PackageLanguage() const { return packageLanguage_; }

  // --- Status area and controls ---
  void SetStatus(StatusRow row, const QString& value);
  QString Status(StatusRow row) const;
  void SetRadioType(int type);
  void SetIndicators(bool headInformation, bool cpsData);
  void SetContentsText(const QString& text);
  void AppendLog(const QString& line);
  void SetControlsEnabled(bool enabled);
  bool ControlsEnabled() const { return controlsEnabled_; }
  // The "Upgrade To:" row: the package's target version, or (empty) set.ini's display pairs.
  void ShowUpgradeTarget(const std::string& packageTarget);
  // Brings the window to the front (a later instance asked for it).
  void BringToFront();
  QComboBox* PortSelector() const { return portSelector_; }
  QLineEdit* PackagePath() const { return pathField_; }
  // Puts `path` into the package path field and announces it (onPackageChosen), as choosing
  // it in the browse dialog does.
  void ChoosePackagePath(const QString& path);
  QListWidget* LogList() const { return logList_; }
  QProgressBar* Progress() const { return progress_; }
  // Re-applies every translated text (after a change of interface language).
  void RetranslateUi();
  void ShowAbout();

  // --- Integration points -------------------------------------------------------------
  // The operation controller (app/operation_controller.h) attaches here. Each hook is
  // optional; an entry whose hook is missing does nothing beyond buttonActivated().
  std::function<void()> onUpgrade;                      // "Burn" button (caption "Upgrade")
  std::function<void()> onRestore;                      // "Restore" button, when enabled
  std::function<void(const std::string&)> onPackageChosen;  // LoadPackage of the chosen path
  std::function<void()> onForRadio;                     // menu "For Radio": restriction viewer
  std::function<void(const std::string&)> onBackupFolderChanged;  // the menu chose a folder
  std::function<void()> onRetranslate;                  // after the texts were re-applied
  std::function<void()> onIdle;                         // the controls were enabled again
  // The exit sequence: false while the running operation must not be interrupted. Without a
  // controller the window may always close.
  std::function<bool()> onExitRequested;

 signals:
  // A button click that passed the debounce: "min", "exit", "Burn" or "Restore".
  void buttonActivated(const QString& name);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWidgets();
  void ApplyTheme();
  void SkinShown();
  void ActivateButton(size_t index);
  void BrowsePackage();
  void ChooseBackupFolder();
  QString UpgradeTargetText() const;

  std::string home_;
  StartupState state_;
  std::string packageTarget_;
  QString chosenPath_;  // the path last announced through onPackageChosen
  bool controlsEnabled_ = true;
  std::unique_ptr<QtWindowPort> port_;
  std::unique_ptr<QtSkinCanvas> canvas_;
  SkinState skin_;
  PackageLanguageState packageLanguage_;
  ClickDebouncer debouncer_;
  std::function<int64_t()> clock_;
  int hovered_ = -1;
  int pressed_ = -1;
  bool dragging_ = false;
  QPoint dragOffset_;

  QLabel* statusLabels_[kStatusRows] = {};
  QLabel* statusValues_[kStatusRows] = {};
  QComboBox* portSelector_ = nullptr;
  RadioPicture* radioPicture_ = nullptr;
  QLineEdit* pathField_ = nullptr;
  QToolButton* browseButton_ = nullptr;
  QLabel* headIndicator_ = nullptr;
  QLabel* cpsIndicator_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QListWidget* logList_ = nullptr;
  QLabel* contents_ = nullptr;
  QLabel* version_ = nullptr;
};

}  // namespace lw::gui
