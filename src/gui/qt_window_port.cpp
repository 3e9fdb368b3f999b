#include "gui/qt_window_port.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "gui/main_window.h"
#include "ui/translate.h"

namespace lw::gui {

QtWindowPort::QtWindowPort(MainWindow* window) : window_(window) {}

void QtWindowPort::Notify(const Notice& notice) {
  QMessageBox::Icon icon = QMessageBox::Information;
  if (notice.icon == NoticeIcon::Warning) icon = QMessageBox::Warning;
  if (notice.icon == NoticeIcon::Error) icon = QMessageBox::Critical;
  const std::string caption = notice.caption.empty() ? Translate("Loftwise") : notice.caption;
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(notice.text), QMessageBox::Ok,
                  window_);
  box.exec();
}

bool QtWindowPort::AskYesNo(const std::string& text, bool yesDefault) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(Translate("Loftwise")),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, window_);
  box.setDefaultButton(yesDefault ? QMessageBox::Yes : QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool QtWindowPort::AskOkCancel(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(Translate("Loftwise")), QString::fromStdString(text),
                  QMessageBox::Ok | QMessageBox::Cancel, window_);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void QtWindowPort::LogLine(const std::string& text) {
  if (window_) window_->AppendLog(QString::fromStdString(text));
}

void QtWindowPort::SetProgressRange(const std::string& phaseText, int total) {
  if (!window_) return;
  QProgressBar* bar = window_->Progress();
  // A range of 0..0 would turn the bar into a busy indicator.
  bar->setRange(0, std::max(total, 1));
  bar->setValue(0);
  bar->setFormat(phaseText.empty() ? QString("%p%") : QString::fromStdString(phaseText) + "  %p%");
  bar->setTextVisible(!phaseText.empty());
}

void QtWindowPort::SetProgress(int position) {
  if (!window_) return;
  QProgressBar* bar = window_->Progress();
  bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

void QtWindowPort::Post(std::function<void()> task) {
  // The application object outlives every worker; the window may not, so the task finds the
  // window through the port when it runs, never at posting time.
  QMetaObject::invokeMethod(qApp, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtWindowPort::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

void QtWindowPort::SetControlsEnabled(bool enabled) {
  if (window_) window_->SetControlsEnabled(enabled);
}

void QtWindowPort::ClearLog() {
  if (window_) window_->LogList()->clear();
}

QByteArray ToneWav(int hertz, int milliseconds, int sampleRate) {
  const int samples = std::max(0, sampleRate * milliseconds / 1000);
  QByteArray wav;
  auto u16 = [&](uint32_t v) { wav.append(char(v & 0xFF)); wav.append(char(v >> 8 & 0xFF)); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  wav.append("RIFF");
  u32(uint32_t(36 + samples * 2));
  wav.append("WAVEfmt ");
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(uint32_t(sampleRate));
  u32(uint32_t(sampleRate * 2));
  u16(2);
  u16(16);
  wav.append("data");
  u32(uint32_t(samples * 2));
  const int fade = std::min(samples / 2, sampleRate / 200);  // 5 ms ramps against clicks
  for (int i = 0; i < samples; ++i) {
    double gain = 0.5;
    if (fade > 0 && i < fade) gain *= double(i) / fade;
    if (fade > 0 && samples - 1 - i < fade) gain *= double(samples - 1 - i) / fade;
    const double v = gain * std::sin(2 * M_PI * hertz * i / sampleRate);
    u16(uint16_t(int16_t(std::lround(v * 32767))));
  }
  return wav;
}

std::optional<QString> WriteToneFile(int hertz, int milliseconds) {
  // A folder of this user's alone: the runtime folder (the cache folder where there is none),
  // never the shared temporary folder, where anyone could plant a file or a link at a name
  // known in advance.
  QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (base.isEmpty()) base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (base.isEmpty()) return std::nullopt;
  QDir().mkpath(base);
  const QString dir = base + "/loftwise";
  const QByteArray dirPath = QFile::encodeName(dir);
  mkdir(dirPath.constData(), 0700);
  struct stat info {};
  if (lstat(dirPath.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
      (info.st_mode & 077) != 0)
    return std::nullopt;
  // Written anew each time and put in place by a rename: whatever was there is never played.
  const QString file = dir + QString("/tone-%1-%2.wav").arg(hertz).arg(milliseconds);
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) || out.write(ToneWav(hertz, milliseconds)) <= 0 || !out.commit())
    return std::nullopt;
  return file;
}

void QtWindowPort::Beep(int hertz, int milliseconds) {
  // A generated tone through the sound system's player; the bell where there is none.
  QString player = QStandardPaths::findExecutable("paplay");
  if (player.isEmpty()) player = QStandardPaths::findExecutable("aplay");
  if (!player.isEmpty()) {
    if (std::optional<QString> file = WriteToneFile(hertz, milliseconds)) {
      if (QProcess::startDetached(player, {*file})) return;
    }
  }
  QApplication::beep();
}

std::optional<std::string> QtWindowPort::ChooseFolder(const std::string& title) {
  const QString dir = QFileDialog::getExistingDirectory(window_, QString::fromStdString(title), QString(),
                                                        QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return std::nullopt;
  return dir.toStdString();
}

}  // namespace lw::gui
