// The one way the toolkit-free core reaches the operator. The Qt window and the console front
// end each implement it; tests implement it with a recorder.
//
// Threading: Notice, AskYesNo, LogLine and the progress calls are made on the user-interface
// thread by the controller. Workers never call them directly: they call PostReport and
// PostProgress, which may be called from any thread and must hand the event over to the
// user-interface thread (a queued invocation in Qt, a thread-safe queue in the console).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace lw {

// The icon of a message box. Error is the stop sign: a load or a parse that cannot go on.
enum class NoticeIcon { Information, Warning, Error };

// One message box: its text (ready to show), its icon, and its caption. An empty caption means
// the program's own caption, "Loftwise", translated; any other caption is shown as it stands,
// so the sender translates it.
struct Notice {
  std::string text;
  NoticeIcon icon = NoticeIcon::Information;
  std::string caption;
};

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // A message box with an OK button.
  virtual void Notify(const Notice& notice) = 0;
  // The common case: the program's caption, and the warning or the information icon.
  void ShowNotice(const std::string& text, bool warning) {
    Notify(Notice{text, warning ? NoticeIcon::Warning : NoticeIcon::Information, {}});
  }
  // A Yes/No question; yesDefault preselects Yes. Returns true for Yes.
  virtual bool AskYesNo(const std::string& text, bool yesDefault) = 0;
  // A question with OK (preselected) and Cancel. Returns true for OK. A port without such a
  // box asks it as Yes/No.
  virtual bool AskOkCancel(const std::string& text) { return AskYesNo(text, true); }
  // A log list line; the port adds the "[%H:%M:%S] " time stamp.
  virtual void LogLine(const std::string& text) = 0;
  // Progress bar: a new phase with its text and step total, then positions within it.
  virtual void SetProgressRange(const std::string& phaseText, int total) = 0;
  virtual void SetProgress(int position) = 0;

  // Runs `task` on the user-interface thread, after the events already queued. Safe from any
  // thread; this is how worker reports and progress reach the controller.
  virtual void Post(std::function<void()> task) = 0;

  // --- Window state the operation controller drives. The defaults do nothing, for ports that
  // have no such thing (a console has no cursor and no buttons).

  // The wait cursor: on from the start request until the worker runs or the operation ends.
  virtual void SetBusy(bool busy) {}
  // The start controls (main and second function button, package path field, port selector):
  // disabled while an operation runs, enabled again when it ends.
  virtual void SetControlsEnabled(bool enabled) {}
  // Empties the log list (when the upgrade worker starts).
  virtual void ClearLog() {}
  // The end-of-upgrade sound ("Play Sound"): a tone of `hertz` for `milliseconds`.
  virtual void Beep(int hertz, int milliseconds) {}
  // A folder chooser titled `title` (file-system folders only); nullopt when cancelled. The
  // default cancels, which is right for a port that cannot ask.
  virtual std::optional<std::string> ChooseFolder(const std::string& title) { return std::nullopt; }
};

}  // namespace lw
