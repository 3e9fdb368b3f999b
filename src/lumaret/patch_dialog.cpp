#include "patch_dialog.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "common/version.h"

namespace lw {
namespace {

// The patch may be run in any locale, and paths are bytes on this system: convert them the
// way Qt's own file classes do.
QString FromPath(const std::string& path) { return QFile::decodeName(path.c_str()); }

}  // namespace

PatchDialog::PatchDialog(std::string sourceDirectory,
                         PatchInstaller::LocationSource installLocation, QWidget* parent)
    : QDialog(parent), installer_(std::move(sourceDirectory), std::move(installLocation), *this) {
  setWindowTitle(QStringLiteral("Upgrade Patch"));
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));

  // Qt offers no system menu on every desktop, so the About entry lives in a small menu of the
  // window and in its context menu.
  auto* menuBar = new QMenuBar(this);
  QMenu* menu = menuBar->addMenu(QStringLiteral("&Lumaret"));
  menu->addSeparator();
  aboutAction_ = menu->addAction(QStringLiteral("About"));
  aboutAction_->setObjectName(QStringLiteral("aboutAction"));
  connect(aboutAction_, &QAction::triggered, this, [this] { ShowAbout(); });
  addAction(aboutAction_);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* directoryLabel = new QLabel(
      QStringLiteral("[%1]  Install  Directory:").arg(QString::fromLatin1(kPatchProduct)), this);

  directoryEdit_ = new QLineEdit(this);
  directoryEdit_->setObjectName(QStringLiteral("installDirectoryEdit"));
  directoryEdit_->setReadOnly(true);
  directoryEdit_->setMinimumWidth(420);

  browseButton_ = new QToolButton(this);
  browseButton_->setObjectName(QStringLiteral("browseButton"));
  browseButton_->setText(QStringLiteral("..."));
  browseButton_->setToolTip(QStringLiteral("Choose the install directory"));
  browseButton_->setEnabled(false);
  connect(browseButton_, &QToolButton::clicked, this, [this] { BrowseForDirectory(); });

  upgradeButton_ = new QPushButton(QStringLiteral("Upgrade Patch"), this);
  upgradeButton_->setObjectName(QStringLiteral("upgradeButton"));
  upgradeButton_->setDefault(true);
  connect(upgradeButton_, &QPushButton::clicked, this, [this] { installer_.Press(); });

  versionLabel_ = new QLabel(QString::fromLatin1(kPatchVersionText), this);
  versionLabel_->setObjectName(QStringLiteral("versionLabel"));
  versionLabel_->setEnabled(false);

  auto* layout = new QGridLayout(this);
  layout->setMenuBar(menuBar);
  layout->addWidget(directoryLabel, 0, 0, 1, 2);
  layout->addWidget(directoryEdit_, 1, 0);
  layout->addWidget(browseButton_, 1, 1);
  layout->addWidget(versionLabel_, 2, 0);
  layout->addWidget(upgradeButton_, 2, 1, Qt::AlignRight);
  layout->setColumnStretch(0, 1);
}

std::string PatchDialog::DirectoryText() const {
  return QFile::encodeName(directoryEdit_->text()).toStdString();
}

void PatchDialog::ShowDirectory(const std::string& directory) {
  directoryEdit_->setText(FromPath(directory));
  directoryEdit_->repaint();  // the copies that follow block the event loop for a moment
}

void PatchDialog::UnlockDirectory() {
  directoryEdit_->setEnabled(true);
  directoryEdit_->setReadOnly(false);
  browseButton_->setEnabled(true);
}

void PatchDialog::ShowMessage(const std::string& text) {
  QMessageBox::information(this, QStringLiteral("Lumaret"), FromPath(text));
}

void PatchDialog::BrowseForDirectory() {
  QString chosen = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Install Directory"), directoryEdit_->text(), QFileDialog::ShowDirsOnly);
  if (!chosen.isEmpty()) directoryEdit_->setText(chosen);
}

void PatchDialog::ShowAbout() {
  QMessageBox::about(this, QStringLiteral("About Lumaret"),
                     QStringLiteral("Lumaret %3\n\nUpgrade Patch for %1\n%2")
                         .arg(QString::fromLatin1(kPatchProduct),
                              QString::fromLatin1(kPatchVersionText),
                              QString::fromStdString(std::string(ProgramVersion()))));
}

}  // namespace lw
