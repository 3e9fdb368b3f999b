// Widget tests of the main window on the offscreen platform, against the skins drawn at build
// time and a private program directory per test.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/carry_over.h"
#include "gui/main_window.h"
#include "gui/qt_window_port.h"
#include "gui_test_util.h"
#include "ui/translate.h"

namespace fs = std::filesystem;
using lw::gui::MainWindow;

namespace {

using lw::gui::test::Centre;
using lw::gui::test::ReadAll;

// The build's program directory, linked file by file, with its own copy of set.ini.
// `skip` leaves one picture of one skin out, to make that skin fail.
void LayOutHome(const fs::path& home, const std::string& skip = "") {
  const fs::path bin = LW_BIN_DIR;
  for (const char* f : {"skin.ini", "English.lng", "Chinese.lng"}) fs::create_symlink(bin / f, home / f);
  fs::copy_file(bin / "set.ini", home / "set.ini");
  for (int skin = 1; skin <= 3; ++skin) {
    const std::string folder = "Skin" + std::to_string(skin);
    fs::create_directory(home / folder);
    for (const auto& entry : fs::directory_iterator(bin / folder)) {
      const std::string rel = folder + "/" + entry.path().filename().string();
      if (rel != skip) fs::create_symlink(entry.path(), home / rel);
    }
  }
}

// Answers the next message box with `button` and keeps its text, caption and default button.
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button) : button_(button) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      text = box->text();
      caption = box->windowTitle();
      yesIsDefault = static_cast<QAbstractButton*>(box->defaultButton()) == box->button(QMessageBox::Yes);
      buttons = box->standardButtons();
      ++seen;
      if (QAbstractButton* b = box->button(button_)) {
        b->click();
      } else {
        box->reject();  // the button asked for is not there: the test's own check says so
      }
    });
    timer_.start(5);
  }
  QString text, caption;
  bool yesIsDefault = false;
  QMessageBox::StandardButtons buttons;
  int seen = 0;

 private:
  QMessageBox::StandardButton button_;
  QTimer timer_;
};

struct MenuLine {
  QString text;
  bool checked;
};
QList<MenuLine> Lines(QMenu* menu, const QString& prefix = "") {
  QList<MenuLine> out;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      out.append({prefix + "-", false});
    } else if (a->menu()) {
      out.append({prefix + a->text(), false});
      out.append(Lines(a->menu(), prefix + a->text() + ">"));
    } else {
      out.append({prefix + a->text(), a->isChecked()});
    }
  }
  return out;
}
QStringList Checked(const QList<MenuLine>& lines) {
  QStringList out;
  for (const MenuLine& l : lines) {
    if (l.checked) out << l.text;
  }
  return out;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<MainWindow> window_;
  int64_t now_ = 10000;

  fs::path Home() const { return fs::path(dir_->path().toStdString()); }
  std::string SetIni() const { return ReadAll(Home() / "set.ini"); }
  MainWindow& Open(const std::string& skip = "") {
    dir_ = std::make_unique<QTemporaryDir>();
    LayOutHome(Home(), skip);
    window_ = std::make_unique<MainWindow>(dir_->path().toStdString() + "/");
    window_->SetClock([this] { return now_; });
    window_->Start();
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qWarning("window not exposed");
    return *window_;
  }
  void Click(const QPoint& at) {
    QTest::mousePress(window_.get(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, at);
  }

 private slots:
  void cleanup() {
    window_.reset();
    dir_.reset();
  }

  // The end-of-upgrade tone is written to the user's own runtime folder, never to a name in
  // the shared temporary folder, and a folder that is not private is not used.
  void toneFileLivesInAPrivateFolder() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    std::optional<QString> file = lw::gui::WriteToneFile(880, 100);
    QVERIFY(file.has_value());
    QVERIFY(file->startsWith(runtime.path() + "/loftwise/"));
    QFile tone(*file);
    QVERIFY(tone.open(QIODevice::ReadOnly));
    QCOMPARE(tone.readAll(), lw::gui::ToneWav(880, 100));
    QCOMPARE(QFileInfo(runtime.path() + "/loftwise").permissions() & 0x0077, QFileDevice::Permissions());

    // Someone else's hand in the folder (opened to the group): the tone is not written there.
    QVERIFY(QFile::setPermissions(runtime.path() + "/loftwise",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup));
    QVERIFY(!lw::gui::WriteToneFile(880, 100).has_value());
    if (saved.isNull()) {
      qunsetenv("XDG_RUNTIME_DIR");
    } else {
      qputenv("XDG_RUNTIME_DIR", saved);
    }
  }

  void clicksAreDebouncedAndActOnRelease() {
    MainWindow& w = Open();
    QSignalSpy spy(&w, &MainWindow::buttonActivated);
    int upgrades = 0;
    w.onUpgrade = [&] { ++upgrades; };
    const QPoint burn = Centre(w, lw::kMainButton);

    Click(burn);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("Burn"));
    QCOMPARE(upgrades, 1);

    now_ += 150;  // a second click 150 ms later does nothing
    Click(burn);
    QCOMPARE(spy.count(), 1);
    now_ += 60;
    Click(burn);
    QCOMPARE(spy.count(), 2);

    // Pressed on the button, released elsewhere: no click.
    now_ += 1000;
    QTest::mousePress(&w, Qt::LeftButton, {}, burn);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(100, 400));
    QCOMPARE(spy.count(), 2);

    // A disabled button takes no clicks.
    w.SetButtonEnabled(lw::kMainButton, false);
    now_ += 1000;
    Click(burn);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(upgrades, 2);
  }

  void menuEntriesAndCheckMarks() {
    MainWindow& w = Open();
    const QList<MenuLine> lines = Lines(w.BuildMenu().get());
    QStringList texts;
    for (const MenuLine& l : lines) texts << l.text;
    const QStringList expected = {
        "English", QString::fromUtf8("中文"), "-", "Play Sound", "Change Skin", "Change Skin>Skin1",
        "Change Skin>Skin2", "Change Skin>Skin3", "-", "For Radio", "-", "Language", "Language>Default",
        "Language>Farsi", "Language>Arabic", "Language>Korean", "Language>Thai", "Language>Japanese",
        "Language>Forest", "-", "Backup File Storage Path", "-", "About", "-", "Exit"};
    QCOMPARE(texts, expected);
    // The shipped set.ini: English, Play Sound on, Skin 1, package language Default.
    QCOMPARE(Checked(lines), QStringList({"English", "Play Sound", "Change Skin>Skin1", "Language>Default"}));

    w.RunMenuCommand(lw::menu_id::kPlaySound);
    QVERIFY(SetIni().find("\nPlay Sound=FALSE") != std::string::npos);
    QVERIFY(!Checked(Lines(w.BuildMenu().get())).contains("Play Sound"));
  }

  void switchingTheInterfaceLanguage() {
    MainWindow& w = Open();
    w.RunMenuCommand(lw::menu_id::kChinese);
    QVERIFY(SetIni().find("\nLanguage=Chinese") != std::string::npos);
    const QList<MenuLine> lines = Lines(w.BuildMenu().get());
    QVERIFY(Checked(lines).contains(QString::fromUtf8("中文")));
    QCOMPARE(lines.at(4).text, QString::fromStdString(lw::Translate("Change Skin")));
    QVERIFY(lines.at(4).text != "Change Skin");
    w.RunMenuCommand(lw::menu_id::kEnglish);
    QVERIFY(SetIni().find("\nLanguage=English") != std::string::npos);
  }

  void packageLanguageConfirmations_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("stored");
    QTest::newRow("english yes") << "English" << 2 << true << QString::fromUtf8("Are you sure to import 【Arabic】 language?") << 2;
    QTest::newRow("english no") << "English" << 5 << false << QString::fromUtf8("Are you sure to import 【Japanese】 language?") << 0;
    QTest::newRow("chinese yes") << "Chinese" << 6 << true << QString::fromUtf8("确认导入【林业语言包】？") << 6;
  }
  void packageLanguageConfirmations() {
    QFETCH(QString, language);
    QFETCH(int, value);
    QFETCH(bool, yes);
    QFETCH(QString, question);
    QFETCH(int, stored);
    MainWindow& w = Open();
    if (language == "Chinese") w.RunMenuCommand(lw::menu_id::kChinese);
    BoxAnswerer answer(yes ? QMessageBox::Yes : QMessageBox::No);
    w.RunMenuCommand(lw::menu_id::kPackageLanguageDefault + value);
    QCOMPARE(answer.seen, 1);
    QCOMPARE(answer.text, question);
    QCOMPARE(answer.caption, QString::fromStdString(lw::Translate("Loftwise")));
    QVERIFY(answer.yesIsDefault);
    QCOMPARE(w.PackageLanguage().value, stored);
    const std::string ini = SetIni();
    const size_t section = ini.find("[LANGUAGE FILE]");
    QVERIFY(section != std::string::npos);
    QVERIFY2(ini.find("\nSelectLanguage=" + std::to_string(stored), section) != std::string::npos, ini.c_str());
    const QString entry = QString::fromStdString(lw::Translate("Language") + ">" +
                                                 lw::Translate(lw::PackageLanguageName(stored)));
    QVERIFY(Checked(Lines(w.BuildMenu().get())).contains(entry));
  }

  void defaultPackageLanguageNeverAsks() {
    MainWindow& w = Open();
    {
      BoxAnswerer answer(QMessageBox::Yes);
      w.RunMenuCommand(lw::menu_id::kPackageLanguageDefault + 3);
      QCOMPARE(answer.seen, 1);
    }
    BoxAnswerer answer(QMessageBox::Yes);
    w.RunMenuCommand(lw::menu_id::kPackageLanguageDefault);
    QCOMPARE(answer.seen, 0);
    QCOMPARE(w.PackageLanguage().value, 0);
    QVERIFY(SetIni().find("\nSelectLanguage=0") != std::string::npos);
  }

  void switchingSkins() {
    MainWindow& w = Open();
    QCOMPARE(w.Skin().Current(), 1);
    const QImage before = w.grab().toImage();
    QCOMPARE(w.ChooseSkin(2), lw::SkinState::SwitchResult::Switched);
    QVERIFY(SetIni().find("\nSkin=2") != std::string::npos);
    const QImage skin2 = w.grab().toImage();
    QVERIFY(skin2 != before);
    // The title bar shows Skin2's own picture.
    const QImage normal2(QString::fromStdString((Home() / "Skin2" / "Normal_KIT.bmp").string()));
    QCOMPARE(skin2.pixelColor(200, 24).rgb(), normal2.pixelColor(200, 24).rgb());

    // Re-selecting the current skin touches nothing, set.ini included.
    const auto stamp = fs::last_write_time(Home() / "set.ini");
    QCOMPARE(w.ChooseSkin(2), lw::SkinState::SwitchResult::Unchanged);
    QCOMPARE(fs::last_write_time(Home() / "set.ini"), stamp);
  }

  void aSkinThatCannotBeAppliedLeavesThePreviousLook() {
    MainWindow& w = Open("Skin3/Press.bmp");
    w.SetButtonCaption(lw::kMainButton, "Restore");  // any caption the controller set
    w.SetButtonEnabled(lw::kMainButton, false);
    QCOMPARE(w.ChooseSkin(2), lw::SkinState::SwitchResult::Switched);
    QCOMPARE(w.Skin().Buttons()[lw::kMainButton].caption, std::string("Restore"));
    QVERIFY(!w.Skin().Buttons()[lw::kMainButton].enabled);
    const QImage look = w.grab().toImage();
    const std::string ini = SetIni();
    QCOMPARE(w.ChooseSkin(3), lw::SkinState::SwitchResult::Failed);
    QCOMPARE(w.Skin().Current(), 2);
    QCOMPARE(w.grab().toImage(), look);
    QCOMPARE(SetIni(), ini);
  }

  void theMaskShapesTheWindow() {
    MainWindow& w = Open();
    const QRegion region = w.Canvas().Region();
    QCOMPARE(region.boundingRect(), QRect(0, 0, 640, 448));
    QVERIFY(!region.contains(QPoint(0, 0)));      // rounded corners are cut away
    QVERIFY(!region.contains(QPoint(639, 447)));
    QVERIFY(region.contains(QPoint(12, 0)));
    QVERIFY(region.contains(QPoint(320, 224)));
    QCOMPARE(w.size(), QSize(640, 448));

    // The rule itself on a small picture: white is outside, near-white stays.
    QImage mask(4, 2, QImage::Format_RGB32);
    mask.fill(Qt::white);
    mask.setPixelColor(1, 0, QColor(254, 255, 255));
    mask.setPixelColor(2, 0, Qt::black);
    mask.setPixelColor(3, 1, Qt::black);
    const QRegion small = lw::gui::MaskRegion(mask);
    QCOMPARE(small, QRegion(QRect(1, 0, 2, 1)) + QRegion(QRect(3, 1, 1, 1)));
  }

  void restoreButtonFollowsTheBackupFolder() {
    MainWindow& w = Open();
    const fs::path backups = fs::path(w.BackupDir());
    QVERIFY(!w.Skin().Buttons()[lw::kSecondButton].visible);
    fs::create_directories(backups);
    std::ofstream(backups / "radio.rcd") << "x";
    w.RefreshRestoreButton();
    QVERIFY(w.Skin().Buttons()[lw::kSecondButton].visible);
    QCOMPARE(w.Skin().Buttons()[lw::kSecondButton].caption, std::string("Restore"));
  }

  void logLinesCarryATimeStamp() {
    MainWindow& w = Open();
    for (int i = 0; i < 8; ++i) w.Port().LogLine("line " + std::to_string(i));
    QCOMPARE(w.LogList()->count(), 8);
    QVERIFY(QRegularExpression(R"(^\[\d\d:\d\d:\d\d\] line 7$)").match(w.LogList()->item(7)->text()).hasMatch());
    bool ran = false;
    w.Port().Post([&] { ran = true; });
    QVERIFY(!ran);  // queued, not run in place
    QTRY_VERIFY(ran);
  }

  // A relative "Burn Fud File" names a package below the program folder, wherever the window was
  // started from; an absolute one stays as it is.
  void theBurnFudFileFillsThePackageFieldFromTheProgramFolder() {
    for (const std::string& given : {std::string("UpgradeFile\\last.fud"), std::string("/srv/packages/last.fud")}) {
      dir_ = std::make_unique<QTemporaryDir>();
      LayOutHome(Home());
      std::string ini = SetIni();
      const size_t at = ini.find("Burn Fud File=");
      QVERIFY(at != std::string::npos);
      ini.insert(at + std::string("Burn Fud File=").size(), given);
      std::ofstream(Home() / "set.ini", std::ios::binary) << ini;
      window_ = std::make_unique<MainWindow>(dir_->path().toStdString() + "/");
      window_->Start();
      const std::string expected = given[0] == '/' ? given : (Home() / "UpgradeFile/last.fud").string();
      QCOMPARE(window_->PackagePath()->text().toStdString(), expected);
      window_.reset();
    }
  }

  // The About box: its title and product line translated, "Version" translated, "Version2" as
  // set.ini writes it.
  void theAboutBoxTextsFollowTheLanguage() {
    MainWindow& w = Open();
    w.RunMenuCommand(lw::menu_id::kChinese);
    QString title;
    QStringList labels;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!box) return;
      title = box->windowTitle();
      for (const QLabel* l : box->findChildren<QLabel*>()) labels << l->text();
      box->accept();
    });
    w.RunMenuCommand(lw::menu_id::kAbout);
    QCOMPARE(title, QString::fromUtf8("关于"));
    QVERIFY2(labels.contains(QString::fromStdString(lw::Translate("DMR Loftwise Software"))),
             qPrintable(labels.join("|")));
    QVERIFY(QString::fromStdString(lw::Translate("DMR Loftwise Software")) != "DMR Loftwise Software");
    QVERIFY2(labels.contains(QString::fromUtf8("版本 7.06.01.003")), qPrintable(labels.join("|")));
    QVERIFY2(labels.contains("Build for Linux"), qPrintable(labels.join("|")));
  }

  // The carry-over's question about a data format it cannot identify offers OK and Cancel.
  void theFormatQuestionOffersOkAndCancel() {
    MainWindow& w = Open();
    for (auto [button, expected] : {std::pair{QMessageBox::Ok, true}, std::pair{QMessageBox::Cancel, false}}) {
      BoxAnswerer answer(button);
      const bool ok = w.Port().AskOkCancel(lw::Translate(lw::kUnidentifiableFormatText));
      QCOMPARE(answer.seen, 1);
      QCOMPARE(answer.buttons, QMessageBox::Ok | QMessageBox::Cancel);
      QCOMPARE(answer.text, QString::fromStdString(lw::Translate(lw::kUnidentifiableFormatText)));
      QCOMPARE(ok, expected);
    }
  }

  // A station left running for days must not grow the log without end: the window keeps the
  // newest 5,000 lines.
  void theLogKeepsItsNewest5000Lines() {
    MainWindow& w = Open();
    for (int i = 0; i < 5010; ++i) w.AppendLog(QString("line %1").arg(i));
    QCOMPARE(w.LogList()->count(), 5000);
    QVERIFY(w.LogList()->item(0)->text().endsWith("] line 10"));
    QVERIFY(w.LogList()->item(4999)->text().endsWith("] line 5009"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
