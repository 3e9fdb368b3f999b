// The "Upgrade Patch" dialog: an install-directory box (read-only until a failure unlocks it,
// with a folder-browse button), the "Upgrade Patch" button, the version label and an About
// entry in the window's menu. Pressing the button runs one PatchInstaller::Press.
#pragma once

#include <QDialog>
#include <string>

#include "patch/patch_installer.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace lw {

class PatchDialog : public QDialog, public PatchView {
 public:
  // `sourceDirectory`: the folder holding the patched files; `installLocation` reads the
  // install record.
  PatchDialog(std::string sourceDirectory, PatchInstaller::LocationSource installLocation,
              QWidget* parent = nullptr);

  const PatchInstaller& installer() const { return installer_; }

  // PatchView
  std::string DirectoryText() const override;
  void ShowDirectory(const std::string& directory) override;
  void UnlockDirectory() override;
  void ShowMessage(const std::string& text) override;

 private:
  void BrowseForDirectory();
  void ShowAbout();

  PatchInstaller installer_;
  QLineEdit* directoryEdit_ = nullptr;
  QToolButton* browseButton_ = nullptr;
  QPushButton* upgradeButton_ = nullptr;
  QLabel* versionLabel_ = nullptr;
  QAction* aboutAction_ = nullptr;
};

}  // namespace lw
