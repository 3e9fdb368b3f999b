// The window with its operations attached, on the offscreen platform: whole upgrades and a
// restore of the simulated portable driven by clicks, the restore list dialog, the "For Radio"
// viewer and the port selector's hot-plug refresh. The radio, the burn script, the conversion
// library and the runner threads are the real ones; only the radio is simulated.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>

#include "app/front_end_assembly.h"
#include "engine/conversion_interface.h"
#include "gui/main_window.h"
#include "gui/restore_dialog.h"
#include "gui/restriction_viewer.h"
#include "gui/window_session.h"
#include "gui_test_util.h"
#include "package/fud_manifest.h"
#include "package/radio_identity.h"
#include "package/rcdb_builder.h"
#include "sim/sim_profile.h"
#include "sim/simulated_backend.h"
#include "ui/translate.h"

namespace fs = std::filesystem;
using lw::gui::MainWindow;
using lw::gui::RestoreDialog;
using lw::gui::WindowSession;

namespace {

using lw::gui::test::Centre;
using lw::gui::test::ReadAll;

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The build's program directory, linked entry by entry, with a set.ini of its own.
void LayOutHome(const fs::path& home) {
  for (const auto& entry : fs::directory_iterator(LW_BIN_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name == "set.ini" || name == "Restore") continue;
    fs::create_symlink(entry.path(), home / name);
  }
  fs::copy_file(fs::path(LW_BIN_DIR) / "set.ini", home / "set.ini");
  fs::create_directories(home / "Restore");
}

// The demo package (tools/demo/demo-package.ini) with smaller images: it takes the simulated
// portable from A5.00.07.000 to A5.00.09.000.
std::string BuildDemoPackage(const fs::path& folder) {
  const fs::path demo = fs::path(LW_SOURCE_DIR) / "tools" / "demo";
  fs::copy_file(demo / "demo-package.ini", folder / "demo-package.ini");
  fs::copy_file(demo / "arm_main.hex", folder / "arm_main.hex");
  WriteAll(folder / "dsp_main.bin", std::string(96 * 1024, 'Z'));
  WriteAll(folder / "english.bin", std::string(16 * 1024, 'E'));
  auto image = lw::BuildRcdbImage(lw::SampleRcdbSpec(lw::SampleRadioIdentity()));
  if (!image) qFatal("sample RCDB image: %s", image.status().message().c_str());
  WriteAll(folder / "rcdb_data.rcdb", std::string(image->begin(), image->end()));
  auto desc = lw::ReadFudManifest((folder / "demo-package.ini").string());
  if (!desc) qFatal("demo manifest: %s", desc.status().message().c_str());
  const std::string path = (folder / "demo.fud").string();
  if (lw::Status written = lw::WritePackage(*desc, path); !written.ok())
    qFatal("demo package: %s", written.message().c_str());
  return path;
}

// Answers every message box and dialog that comes up, and keeps what they said.
class Operator : public QObject {
 public:
  Operator() {
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start(10);
  }
  bool answerYes = false;                              // to Yes/No questions
  std::function<void()> beforeAnswer;                  // runs while a question is up
  std::function<void(RestoreDialog*)> onRestoreList;   // what to do in the restore list
  QStringList questions, notices;
  bool questionYesDefault = false;
  int restoreLists = 0;

 private:
  void Look() {
    if (looking_) return;  // beforeAnswer may wait for events, this timer's among them
    looking_ = true;
    LookOnce();
    looking_ = false;
  }
  void LookOnce() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (box->button(QMessageBox::Yes)) {
        if (beforeAnswer) beforeAnswer();
        questions << box->text();
        questionYesDefault = static_cast<QAbstractButton*>(box->defaultButton()) == box->button(QMessageBox::Yes);
        box->button(answerYes ? QMessageBox::Yes : QMessageBox::No)->click();
      } else {
        notices << box->text();
        box->button(QMessageBox::Ok)->click();
      }
    } else if (auto* list = qobject_cast<RestoreDialog*>(modal)) {
      ++restoreLists;
      if (onRestoreList) onRestoreList(list);
      else list->reject();
    }
  }
  QTimer timer_;
  bool looking_ = false;
};

// One request to the remote control listener on this computer, on a thread of its own (the
// listener's handlers wait for the user-interface thread, which the test keeps turning): the
// reply, or "<no connection>".
std::future<std::string> AskRemote(uint16_t port, std::string request) {
  return std::async(std::launch::async, [port, request] {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (fd >= 0) close(fd);
      return std::string("<no connection>");
    }
    timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    char buffer[256];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, size_t(n));
    close(fd);
    return reply;
  });
}

// Turns the event loop until `reply` is there (at most a minute).
std::string Await(std::future<std::string>& reply) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (reply.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline)
    QTest::qWait(10);
  return reply.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready ? reply.get() : "<no reply>";
}

QStringList Items(const QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

QStringList LogLines(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

constexpr int kUpgradeTimeoutMs = 120000;

}  // namespace

class OperationsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<lw::RadioLink> link_;
  std::unique_ptr<WindowSession> session_;
  int64_t now_ = 10000;

  fs::path Home() const { return fs::path(dir_->path().toStdString()); }
  std::string SetIni() const { return ReadAll(Home() / "set.ini"); }

  // The window with the simulated portable attached.
  MainWindow& Open(const std::vector<std::string>& profiles = {"portable"}) {
    dir_ = std::make_unique<QTemporaryDir>();
    LayOutHome(Home());
    window_ = std::make_unique<MainWindow>(Home().string());
    window_->SetClock([this] { return now_; });
    window_->Start();
    auto opened = lw::RadioLink::Open(window_->ProgramDir(), window_->Settings(), profiles);
    if (!opened) qFatal("radio link: %s", opened.status().message().c_str());
    link_ = std::move(opened).value();
    session_ = std::make_unique<WindowSession>(*window_, *link_, std::string(lw::BuiltConversionDigest()));
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qWarning("window not exposed");
    return *window_;
  }

  void ClickUpgrade() {
    now_ += 1000;
    const QPoint at = Centre(*window_, lw::kMainButton);
    QTest::mousePress(window_.get(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, at);
  }

  // The serial number of the simulated portable, and a backup of its data under that number.
  std::string PortableSerial() const {
    const std::string data = ReadAll(Home() / "sim" / "portable.rcdb");
    auto id = lw::ReadIdentityFromImage(std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    if (!id.identity) qFatal("the portable's data carries no identity");
    return id.identity->serialNumber;
  }
  fs::path WriteBackupOfPortable() const {
    const fs::path backup = Home() / "Restore" / (PortableSerial() + "[2024-01-02 03.04.05].rcd");
    WriteAll(backup, ReadAll(Home() / "sim" / "portable.rcdb"));
    return backup;
  }

 private slots:
  void cleanup() {
    session_.reset();
    link_.reset();
    window_.reset();
    dir_.reset();
  }

  void upgradeDrivenByClicks() {
    MainWindow& w = Open();
    QCOMPARE(Items(w.PortSelector()), QStringList({"None", "USB(001)"}));
    QCOMPARE(w.PortSelector()->currentText(), QString("USB(001)"));

    const std::string package = BuildDemoPackage(Home());
    w.ChoosePackagePath(QString::fromStdString(package));
    QCOMPARE(w.Status(lw::gui::StatusRow::UpgradeTo), QString("A5.00.09.000"));
    QCOMPARE(w.Status(lw::gui::StatusRow::FirmwareVersion), QString("A5.00.07.000"));
    QCOMPARE(w.Status(lw::gui::StatusRow::RadioModel), QString("Portable"));

    // A backup of this radio exists: the upgrade asks whether to restore from it.
    const fs::path backup = WriteBackupOfPortable();
    Operator op;
    op.answerYes = false;
    int highestProgress = 0;
    connect(w.Progress(), &QProgressBar::valueChanged, this,
            [&](int v) { highestProgress = std::max(highestProgress, v); });

    ClickUpgrade();
    // Until the connect step answers: wait cursor, start controls off.
    QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    QVERIFY(!w.PackagePath()->isEnabled());
    QVERIFY(!w.PortSelector()->isEnabled());
    QVERIFY(!w.Skin().Buttons()[lw::kMainButton].enabled);
    ClickUpgrade();  // a second start while one runs does nothing

    // A radio plugged in meanwhile is listed only after the operation: probing would open
    // radios under the running upgrade.
    auto repeater = lw::sim::LoadSimProfile((Home() / "sim" / "repeater.ini").string());
    QVERIFY2(repeater, repeater.status().message().c_str());
    link_->simulated()->Attach(*repeater);
    QTest::qWait(50);
    QCOMPARE(Items(w.PortSelector()).size(), 2);

    QTRY_VERIFY_WITH_TIMEOUT(op.notices.contains(QString::fromStdString(lw::Translate("Upgrading Finished!"))),
                             kUpgradeTimeoutMs);
    QCOMPARE(op.notices.size(), 1);
    QCOMPARE(op.questions.size(), 1);
    QVERIFY(op.questions[0].contains(QString::fromStdString(PortableSerial())));
    QVERIFY(op.questionYesDefault);
    QVERIFY(LogLines(w.LogList()).last().endsWith("] Upgrading Finished!"));
    QVERIFY(highestProgress > 0);
    QCOMPARE(w.Progress()->value(), 0);

    // Back to idle: controls on, arrow cursor, the boot version the connect step read.
    QCOMPARE(session_->Controller().phase(), lw::OperationPhase::Idle);
    QVERIFY(w.PackagePath()->isEnabled());
    QVERIFY(w.Skin().Buttons()[lw::kMainButton].enabled);
    QCOMPARE(w.Skin().Buttons()[lw::kMainButton].caption, std::string("Upgrade"));
    QVERIFY(!QApplication::overrideCursor());
    QTRY_COMPARE(Items(w.PortSelector()), QStringList({"None", "USB(001)", "USB(002)"}));
    QCOMPARE(w.PortSelector()->currentText(), QString("USB(001)"));
    session_->Assembly().runner().WaitIdle();
    auto summary = session_->Assembly().runner().lastSummary();
    QVERIFY(summary && summary->report == lw::ReportCode::Finished);
    QCOMPARE(summary->packagePath, package);
    // "No" keeps the operator's backup; the worker's own backup is gone after the good burn.
    QVERIFY(fs::exists(backup));
    QCOMPARE(std::distance(fs::directory_iterator(Home() / "Restore"), fs::directory_iterator{}), 1);
  }

  // No package chosen: the upgrade looks up the radio's package in UpgradeFile/, and the window
  // then shows that package (path, target version, radio types) as the chosen one.
  void aPackageFoundForTheRadioIsShownAsChosen() {
    MainWindow& w = Open();
    fs::create_directories(Home() / "UpgradeFile");
    const fs::path found = Home() / "UpgradeFile" / "KX41_Portable.fud";
    fs::copy_file(BuildDemoPackage(Home()), found);
    QVERIFY(w.PackagePath()->text().isEmpty());
    Operator op;
    ClickUpgrade();
    QTRY_VERIFY_WITH_TIMEOUT(op.notices.contains(QString::fromStdString(lw::Translate("Upgrading Finished!"))),
                             kUpgradeTimeoutMs);
    QCOMPARE(w.PackagePath()->text(), QString::fromStdString(found.string()));
    QCOMPARE(w.Status(lw::gui::StatusRow::UpgradeTo), QString("A5.00.09.000"));
    QCOMPARE(w.Status(lw::gui::StatusRow::RadioModel), QString("Portable"));
    QCOMPARE(session_->Assembly().packagePath(), found.string());
  }

  void yesToTheQuestionRestoresFromTheChosenBackup() {
    MainWindow& w = Open();
    w.ChoosePackagePath(QString::fromStdString(BuildDemoPackage(Home())));
    const fs::path backup = WriteBackupOfPortable();
    Operator op;
    op.answerYes = true;
    QStringList ticked;
    op.onRestoreList = [&](RestoreDialog* list) {
      for (const lw::RestoreRow& row : list->Model().rows())
        if (row.ticked) ticked << QString::fromStdString(row.fileName);
      list->RestoreButton()->click();
    };

    ClickUpgrade();
    QTRY_VERIFY_WITH_TIMEOUT(op.notices.contains(QString::fromStdString(lw::Translate("Upgrading Finished!"))),
                             kUpgradeTimeoutMs);
    QCOMPARE(op.questions.size(), 1);
    QCOMPARE(op.restoreLists, 1);
    QCOMPARE(ticked, QStringList({QString::fromStdString(backup.filename().string())}));
    session_->Assembly().runner().WaitIdle();
    auto summary = session_->Assembly().runner().lastSummary();
    QVERIFY(summary && summary->restored);
    // The radio holds its data again: the restoration file is used up, and with no backup
    // left the second function button hides.
    QVERIFY(!fs::exists(backup));
    QVERIFY(!w.Skin().Buttons()[lw::kSecondButton].visible);
  }

  void restoreListRules() {
    QTemporaryDir folder;
    const fs::path dir = folder.path().toStdString();
    for (const char* name : {"A1[2016-05-04 13.45.10].rcd", "B2[2017-01-01 00.00.00].rcd", "noserial.rcd"})
      WriteAll(dir / name, "data");
    MainWindow w("");  // only its window port, for the questions
    RestoreDialog dialog(dir.string(), "B2", w.Port());
    QCOMPARE(dialog.windowTitle(), QString::fromStdString(lw::Translate("Restore Data")));
    QTableWidget* table = dialog.Table();
    const QStringList titles = {"Restore", "Serial Number", "Backup Date", "File Name", "Path"};
    const int widths[] = {55, 92, 130, 225, 360};
    QCOMPARE(table->columnCount(), 5);
    for (int c = 0; c < 4; ++c) {  // the last column stretches to the dialog's edge
      QCOMPARE(table->horizontalHeaderItem(c)->text(), titles[c]);
      QCOMPARE(table->columnWidth(c), widths[c]);
    }
    QCOMPARE(table->horizontalHeaderItem(4)->text(), titles[4]);
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->item(1, 1)->text(), QString("B2"));
    QCOMPARE(table->item(1, 2)->text(), QString("2017-01-01 00:00:00"));
    QCOMPARE(table->item(1, 4)->text(), QString::fromStdString(dir.string()));

    // The last radio's backup is ticked; nothing is selected.
    auto ticks = [&] {
      QString s;
      for (int r = 0; r < table->rowCount(); ++r) s += table->item(r, 0)->checkState() == Qt::Checked ? "x" : ".";
      return s;
    };
    QCOMPARE(ticks(), QString(".x."));
    QVERIFY(dialog.RestoreButton()->isEnabled());
    QVERIFY(!dialog.DeleteButton()->isEnabled());

    // Ticking one row unticks the others; unticking the last tick turns "Restore" off.
    table->item(0, 0)->setCheckState(Qt::Checked);
    QCOMPARE(ticks(), QString("x.."));
    table->item(0, 0)->setCheckState(Qt::Unchecked);
    QCOMPARE(ticks(), QString("..."));
    QVERIFY(!dialog.RestoreButton()->isEnabled());

    // Delete: the question names serial and date; No keeps the file, Yes deletes it.
    table->selectRow(1);
    QVERIFY(dialog.DeleteButton()->isEnabled());
    {
      Operator op;
      op.answerYes = false;
      dialog.DeleteButton()->click();
      QCOMPARE(op.questions.size(), 1);
      QVERIFY(op.questions[0].contains("B2") && op.questions[0].contains("2017-01-01 00:00:00"));
      QVERIFY(!op.questionYesDefault);
      QVERIFY(fs::exists(dir / "B2[2017-01-01 00.00.00].rcd"));
      QCOMPARE(table->rowCount(), 3);
      op.answerYes = true;
      dialog.DeleteButton()->click();
    }
    QVERIFY(!fs::exists(dir / "B2[2017-01-01 00.00.00].rcd"));
    QCOMPARE(table->rowCount(), 2);
    QVERIFY(!dialog.DeleteButton()->isEnabled());

    // "Restore" gives the ticked row's file.
    table->item(1, 0)->setCheckState(Qt::Checked);
    dialog.RestoreButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Chosen().value_or(""), (dir / "noserial.rcd").string());

    // Deleting every row leaves "Restore" off.
    RestoreDialog again(dir.string(), "", w.Port());
    Operator op;
    op.answerYes = true;
    while (again.Table()->rowCount() > 0) {
      again.Table()->item(0, 0)->setCheckState(Qt::Checked);
      again.Table()->selectRow(0);
      again.DeleteButton()->click();
    }
    QVERIFY(!again.RestoreButton()->isEnabled());
    QVERIFY(fs::is_empty(dir));
  }

  void viewerRows_data() {
    QTest::addColumn<bool>("allPreVersion");
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("version column") << false << QList<int>{128, 218, 183};
    QTest::newRow("all versions") << true << QList<int>{128, 382};
  }
  void viewerRows() {
    QFETCH(bool, allPreVersion);
    QFETCH(QList<int>, widths);
    lw::PackageRestrictions r;
    r.modelList = {{"KX412", "KX412-000G0000-M00000-U1-0-F", "A5.00.07.000"},
                   {lw::kChangeRowKey, "", ""},
                   {"KV220", "KV220-000G0000-M00000-U1-0-F", lw::kAllVersion},
                   {lw::kChangeRowKey, "", ""},
                   {"KQ700", "KQ700-000G0000-M00000-U1-0-F", "A5.00.08.000"}};
    lw::gui::RestrictionViewer viewer(lw::BuildRestrictionView(r, allPreVersion));
    QTableWidget* table = viewer.Table();
    QCOMPARE(viewer.windowTitle(), QString("For Radio"));
    QCOMPARE(table->columnCount(), widths.size());
    for (int c = 0; c < widths.size(); ++c) QCOMPARE(table->columnWidth(c), widths[c]);
    QCOMPARE(table->rowCount(), 5);
    for (int row : {1, 3}) {  // markers: empty, in the separator colour, with the marker picture
      for (int c = 0; c < table->columnCount(); ++c) {
        QVERIFY(table->item(row, c)->text().isEmpty());
        QCOMPARE(table->item(row, c)->background().color(), lw::gui::SeparatorColour());
      }
    }
    QCOMPARE(table->item(0, 0)->text(), QString("KX412"));
    QCOMPARE(table->item(2, 1)->text(), QString("KV220-000G0000-M00000-U1-0-F"));
    if (!allPreVersion) QCOMPARE(table->item(2, 2)->text(), QString("All Version"));
    // Each family has its own picture, and the marker yet another.
    QList<QImage> images;
    for (int row : {0, 1, 2, 4}) {
      const QIcon icon = table->item(row, 0)->icon();
      QVERIFY(!icon.isNull());
      images << icon.pixmap(16, 16).toImage();
    }
    for (int a = 0; a < images.size(); ++a)
      for (int b = a + 1; b < images.size(); ++b) QVERIFY(images[a] != images[b]);
    QCOMPARE(viewer.CountLabel()->text(), QString("Number: 3"));

    lw::gui::RestrictionViewer empty(lw::BuildRestrictionView({}, allPreVersion));
    QCOMPARE(empty.Table()->rowCount(), 0);
    QVERIFY(empty.CountLabel()->text().isEmpty());
  }

  void viewerShowsTheChosenPackageAndTextsFollowTheLanguage() {
    MainWindow& w = Open();
    w.ChoosePackagePath(QString::fromStdString(BuildDemoPackage(Home())));
    QString count;
    int rows = -1;
    QTimer::singleShot(0, this, [&] {
      auto* viewer = qobject_cast<lw::gui::RestrictionViewer*>(QApplication::activeModalWidget());
      if (!viewer) return;
      rows = viewer->Table()->rowCount();
      count = viewer->CountLabel()->text();
      viewer->accept();
    });
    w.RunMenuCommand(lw::menu_id::kForRadio);
    QCOMPARE(rows, 1);
    QCOMPARE(count, QString("Number: 1"));

    w.RunMenuCommand(lw::menu_id::kChinese);
    QCOMPARE(w.Status(lw::gui::StatusRow::RadioModel), QString::fromUtf8("手持台"));
    QCOMPARE(w.PortSelector()->itemText(0), QString::fromUtf8("无"));
    QCOMPARE(w.PortSelector()->currentText(), QString("USB(001)"));
  }

  void hotPlugRefreshesThePortSelector() {
    MainWindow& w = Open();
    lw::sim::SimulatedBackend* radios = link_->simulated();
    QVERIFY(radios);
    auto repeater = lw::sim::LoadSimProfile((Home() / "sim" / "repeater.ini").string());
    QVERIFY2(repeater, repeater.status().message().c_str());
    radios->Attach(*repeater);
    QTRY_COMPARE(Items(w.PortSelector()), QStringList({"None", "USB(001)", "USB(002)"}));
    QCOMPARE(w.PortSelector()->currentText(), QString("USB(001)"));  // the choice stays

    // The operator picks the repeater; pulling it out falls back to the radio that opens.
    w.PortSelector()->setCurrentIndex(2);
    emit w.PortSelector()->activated(2);
    QCOMPARE(link_->ports().SelectedPort(), 2);
    radios->Detach("sim:repeater");
    QTRY_COMPARE(Items(w.PortSelector()), QStringList({"None", "USB(001)"}));
    QCOMPARE(w.PortSelector()->currentText(), QString("USB(001)"));
    QCOMPARE(link_->ports().SelectedPort(), 1);
  }

  // The window's listener answers in the window's log, and refuses a remote upgrade while the
  // operator's upgrade holds the radio.
  void remoteControlFollowsTheWindowsOperation() {
    MainWindow& w = Open();
    w.ChoosePackagePath(QString::fromStdString(BuildDemoPackage(Home())));
    QVERIFY(session_->StartRemoteControl(0));
    QVERIFY(!session_->StartRemoteControl(0));  // once only
    const uint16_t port = session_->Assembly().remoteServer()->port();
    QVERIFY(port != 0 && port != lw::kRemotePort);

    const std::string missing = (Home() / "no-such.xuid").string();
    auto reply = AskRemote(port, "XUID:" + missing + "\r\n");
    QCOMPARE(Await(reply), std::string("Error_Code=-1\r\n"));
    QTRY_VERIFY(LogLines(w.LogList()).join("\n").contains(QString::fromStdString("Request: XUID:" + missing)));

    // The operator's upgrade stops at its question (a backup exists): a remote upgrade now is
    // refused with the busy code, and the operator's run goes on to its end.
    const fs::path backup = WriteBackupOfPortable();
    Operator op;
    std::string remoteReply;
    lw::OperationPhase phaseMeanwhile = lw::OperationPhase::Idle;
    op.beforeAnswer = [&] {
      if (!remoteReply.empty()) return;
      phaseMeanwhile = session_->Controller().phase();
      auto upgrade = AskRemote(port, "UPGRADE:" + backup.string() + "\r\n");
      remoteReply = Await(upgrade);
    };
    ClickUpgrade();
    QTRY_VERIFY_WITH_TIMEOUT(op.notices.contains(QString::fromStdString(lw::Translate("Upgrading Finished!"))),
                             kUpgradeTimeoutMs);
    QVERIFY(phaseMeanwhile != lw::OperationPhase::Idle);
    QCOMPARE(remoteReply, "Error_Code=" + std::to_string(lw::kRemoteBusy) + "\r\n");
    QVERIFY(!session_->Assembly().remote().lastSummary());  // no remote upgrade ran
    QVERIFY(!fs::exists(fs::path(backup).replace_extension(".fuc")));
  }

  // While a remote upgrade holds the radio the window starts nothing of its own.
  void windowUpgradeWaitsForTheRemoteOne() {
    MainWindow& w = Open();
    w.ChoosePackagePath(QString::fromStdString(BuildDemoPackage(Home())));
    QVERIFY(session_->StartRemoteControl(0));
    const uint16_t port = session_->Assembly().remoteServer()->port();
    // The radio data to upgrade from, outside the backup folder; a backup of the radio makes
    // the remote upgrade ask its question, and there the window's Upgrade is pressed.
    const fs::path data = Home() / "station" / "radio.rcd";
    fs::create_directories(data.parent_path());
    WriteAll(data, ReadAll(Home() / "sim" / "portable.rcdb"));
    WriteBackupOfPortable();
    Operator op;
    bool busyMeanwhile = false, controlsMeanwhile = true;
    lw::OperationPhase phaseMeanwhile = lw::OperationPhase::Running;
    op.beforeAnswer = [&] {
      busyMeanwhile = session_->Assembly().remote().Busy();
      controlsMeanwhile = w.ControlsEnabled();
      w.onUpgrade();  // as a click queued before the claim would
      phaseMeanwhile = session_->Controller().phase();
    };
    auto reply = AskRemote(port, "UPGRADE:" + data.string() + "\r\n");
    QCOMPARE(Await(reply), std::string("ok\r\n"));
    QCOMPARE(op.questions.size(), 1);
    QVERIFY(busyMeanwhile);
    QVERIFY(!controlsMeanwhile);
    QCOMPARE(phaseMeanwhile, lw::OperationPhase::Idle);
    QVERIFY(!session_->Assembly().runner().lastSummary());  // the window ran nothing
    QVERIFY(session_->Assembly().remote().lastSummary());
    QVERIFY(fs::exists(fs::path(data).replace_extension(".fuc")));
    QTRY_VERIFY(w.ControlsEnabled());
    QVERIFY(!session_->Assembly().remote().Busy());
  }

  void exitWritesThePackagePath() {
    MainWindow& w = Open();
    const std::string package = BuildDemoPackage(Home());
    w.ChoosePackagePath(QString::fromStdString(package));
    QVERIFY(w.close());
    QVERIFY2(SetIni().find("\nBurn Fud File=" + package) != std::string::npos, SetIni().c_str());
  }
};

QTEST_MAIN(OperationsTest)
#include "operations_test.moc"
