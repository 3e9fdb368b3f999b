// The operator side of the core, in Qt: message boxes captioned "Loftwise", the log list and
// the progress bar of the main window, the wait cursor, the folder chooser, the end-of-upgrade
// tone, and Post() as a queued invocation on the user-interface thread.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

#include "common/window_port.h"

namespace lw::gui {

class MainWindow;

class QtWindowPort : public WindowPort {
 public:
  explicit QtWindowPort(MainWindow* window);

  void Notify(const Notice& notice) override;
  bool AskYesNo(const std::string& text, bool yesDefault) override;
  bool AskOkCancel(const std::string& text) override;
  void LogLine(const std::string& text) override;
  void SetProgressRange(const std::string& phaseText, int total) override;
  void SetProgress(int position) override;
  void Post(std::function<void()> task) override;
  void SetBusy(bool busy) override;
  void SetControlsEnabled(bool enabled) override;
  void ClearLog() override;
  void Beep(int hertz, int milliseconds) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;

 private:
  QPointer<MainWindow> window_;
  bool busy_ = false;
};

// A sine tone as a 16-bit mono WAV file image (for the sound system's player).
QByteArray ToneWav(int hertz, int milliseconds, int sampleRate = 22050);

// Writes the tone to this user's private folder ("loftwise" in the runtime folder, else in the
// cache folder; mode 0700, owned by the user) and returns its path; none when no such folder
// can be had.
std::optional<QString> WriteToneFile(int hertz, int milliseconds);

}  // namespace lw::gui
