// Drives the "Upgrade Patch" dialog as an operator would, on the offscreen platform: the
// message boxes it opens are read and closed by a timer.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <iterator>
#include <memory>

#include "patch_dialog.h"

namespace {

void WriteFile(const QString& path, const std::string& content) {
  std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary) << content;
}

std::string ReadFile(const QString& path) {
  std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

class PatchDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    patch_ = tmp_->path() + "/patch/";
    inst_ = tmp_->path() + "/inst/";
    QVERIFY(QDir().mkpath(patch_) && QDir().mkpath(inst_));
    for (const char* name : lw::kPatchFiles) {
      WriteFile(patch_ + name, "new");
      WriteFile(inst_ + name, "old");
    }
    shown_.clear();
    shownTitles_.clear();
    closer_.setInterval(10);
    connect(&closer_, &QTimer::timeout, this, &PatchDialogTest::CloseMessageBox,
            Qt::UniqueConnection);
    closer_.start();
  }
  void cleanup() {
    closer_.stop();
    tmp_.reset();
  }

  void startsLockedWithItsTexts() {
    lw::PatchDialog dialog(patch_.toStdString(), [] { return std::string(); });
    dialog.show();

    QCOMPARE(dialog.windowTitle(), QString("Upgrade Patch"));
    QCOMPARE(Upgrade(dialog)->text(), QString("Upgrade Patch"));
    QVERIFY(Edit(dialog)->isReadOnly());
    QVERIFY(!Browse(dialog)->isEnabled());
    auto* version = dialog.findChild<QLabel*>("versionLabel");
    QCOMPARE(version->text(), QString("Version: V7.06.01.000"));
    QVERIFY(!version->isEnabled());
    bool labelFound = false;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
      labelFound |= label->text() ==
                    "[DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000]  Install  Directory:";
    }
    QVERIFY(labelFound);

    QTest::keyClicks(Edit(dialog), "/typed");  // the box must not take typing yet
    QCOMPARE(Edit(dialog)->text(), QString());
  }

  // No record: the operator is asked, types a directory without a separator, presses again.
  void noRecordThenTypedDirectoryFinishes() {
    lw::PatchDialog dialog(patch_.toStdString(), [] { return std::string(); });
    dialog.show();

    QTest::mouseClick(Upgrade(dialog), Qt::LeftButton);
    QCOMPARE(shown_, QStringList{
        "Please input the install directory of DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000!"});
    QVERIFY(!Edit(dialog)->isReadOnly());
    QVERIFY(Browse(dialog)->isEnabled());

    QTest::keyClicks(Edit(dialog), " " + inst_.chopped(1));
    QTest::mouseClick(Upgrade(dialog), Qt::LeftButton);

    QCOMPARE(shown_.back(), QString("Upgrade Patch Finished!"));
    QCOMPARE(QString::fromStdString(dialog.installer().InstallDirectory()), inst_);
    for (const char* name : lw::kPatchFiles) QCOMPARE(ReadFile(inst_ + name), std::string("new"));
  }

  // The record names a directory that lacks a file: it is shown, named and the box unlocked.
  void recordDirectoryWithAMissingFile() {
    QFile::remove(inst_ + "English.lng");
    const std::string record = inst_.toStdString();
    lw::PatchDialog dialog(patch_.toStdString(), [record] { return record; });
    dialog.show();

    QTest::mouseClick(Upgrade(dialog), Qt::LeftButton);

    QCOMPARE(Edit(dialog)->text(), inst_);
    QCOMPARE(shown_, QStringList{inst_ + "English.lng file does not exist! please check directory!"});
    QCOMPARE(ReadFile(inst_ + "loftwise"), std::string("new"));
    QCOMPARE(ReadFile(inst_ + "Chinese.lng"), std::string("old"));
    QVERIFY(!Edit(dialog)->isReadOnly());
    QVERIFY(!dialog.installer().FirstAttempt());
  }

  void aboutEntryOpensTheAboutBox() {
    lw::PatchDialog dialog(patch_.toStdString(), [] { return std::string(); });
    dialog.show();
    auto* about = dialog.findChild<QAction*>("aboutAction");
    QVERIFY(about);
    QCOMPARE(about->text(), QString("About"));

    about->trigger();

    QCOMPARE(shownTitles_.back(), QString("About Lumaret"));
    QVERIFY(shown_.back().contains("Version: V7.06.01.000"));
  }

 private:
  static QPushButton* Upgrade(QWidget& d) { return d.findChild<QPushButton*>("upgradeButton"); }
  static QLineEdit* Edit(QWidget& d) { return d.findChild<QLineEdit*>("installDirectoryEdit"); }
  static QToolButton* Browse(QWidget& d) { return d.findChild<QToolButton*>("browseButton"); }

  // Runs inside the message box's own event loop: notes the box and presses its OK.
  void CloseMessageBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    shown_ << box->text();
    shownTitles_ << box->windowTitle();
    box->button(QMessageBox::Ok)->click();
  }

  std::unique_ptr<QTemporaryDir> tmp_;
  QString patch_, inst_;
  QStringList shown_, shownTitles_;
  QTimer closer_;
};

QTEST_MAIN(PatchDialogTest)
#include "patch_dialog_test.moc"
