// The console face of the window port, for loftwise-cli.
//
// Message boxes become lines on stdout, the log list becomes time-stamped lines, the Yes/No
// question is asked on the terminal (or answered by --yes / --no), and the progress bar is
// drawn on stderr when stderr is a terminal. With --json every event is instead one JSON
// object on its own line of stdout, so that a script can follow the run. The JSON shapes are a
// contract; keep them:
//   {"event":"log","text":T}
//   {"event":"phase","text":T,"total":N}
//   {"event":"progress","position":N}
//   {"event":"notice","text":T,"warning":BOOL,"icon":"information"|"warning"|"error"[,"caption":T]}
//   {"event":"question","text":T,"answer":BOOL}
//   {"event":"report","code":N[,"error":N,"rcdbSaved":BOOL][,"payload":T][,"detail":T][,"parseError":N]}
// "caption" appears when the box has a caption other than the program's own (an "Error" box).
// "error" and "rcdbSaved" appear when the report carries an upgrade failure record, "payload"
// when it carries a text (for a two-text record, the first text, which is the one shown),
// "detail" when report 10 names an image file that could not be loaded and why, "parseError"
// with report 21 (the record-list parser's error code, 0 when it gave none).
//
// A question is read from the terminal only without --json and without --yes / --no; in every
// other case it takes the preset answer, or else the preselected one, and says so.
//
// Threading: workers hand events over with Post from any thread; the main thread runs them in
// RunUntil. Everything else is called on the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

#include "common/operation_report.h"
#include "common/window_port.h"

namespace lw::cli {

struct ConsoleOptions {
  bool json = false;
  // --yes / --no: the answer to every question, without asking.
  std::optional<bool> presetAnswer;
  // Ask questions by reading the answer from the input (stdin is a terminal).
  bool interactive = false;
  // Draw the progress bar on the error stream (stderr is a terminal and not --json).
  bool progressBar = false;
};

class ConsolePort : public WindowPort {
 public:
  ConsolePort(ConsoleOptions options, std::ostream& out, std::ostream& err, std::istream& in);
  ~ConsolePort() override;

  // Options for the real streams: interactive and progress bar from whether stdin / stderr
  // are terminals.
  static ConsoleOptions ForTerminal(bool json, std::optional<bool> presetAnswer);

  void Notify(const Notice& notice) override;
  bool AskYesNo(const std::string& text, bool yesDefault) override;
  void LogLine(const std::string& text) override;
  void SetProgressRange(const std::string& phaseText, int total) override;
  void SetProgress(int position) override;
  void Post(std::function<void()> task) override;
  void Beep(int hertz, int milliseconds) override;

  // A worker report as the controller takes it (the "report" event; plain output shows
  // nothing, the notice that follows says it all).
  void Report(ReportCode code, const ReportPayload& payload);

  // Runs posted tasks on the calling thread until `done` returns true (checked after every
  // task and every tick). `tick`, when given, runs every `tickPeriod`: the watchdog timer.
  void RunUntil(const std::function<bool()>& done,
                const std::function<void()>& tick = {},
                std::chrono::milliseconds tickPeriod = std::chrono::milliseconds(1000));
  // Runs the tasks queued so far and returns how many ran.
  size_t RunPending();

 private:
  void EmitJson(const std::string& object);
  void PrintLine(const std::string& line);
  void ClearBar();
  void DrawBar();

  ConsoleOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;

  std::string phase_;
  int total_ = 0;
  int position_ = 0;
  std::string drawnBar_;
};

}  // namespace lw::cli
