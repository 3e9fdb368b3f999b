// Fixtures of the script runner and carry-over tests: a sink that records what an operation
// shows, a window port that answers questions on the spot, and the shipped burn script.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/operation_report.h"
#include "common/window_port.h"
#include "config/burn_script.h"

namespace lw::test {

class RecordingSink : public OperationSink {
 public:
  struct PhaseRecord {
    std::string text;
    int total = 0;
    std::vector<int> positions;
  };

  void Report(ReportCode, ReportPayload) override {}
  void Progress(int position) override {
    if (phases.empty()) phases.emplace_back();
    phases.back().positions.push_back(position);
    if (onProgress) onProgress(position);
  }
  void Phase(const std::string& text, int total) override { phases.push_back({text, total, {}}); }
  void Log(const std::string& text) override { logs.push_back(text); }
  bool AskRestore(const std::string&) override { return false; }
  void SetExitAllowed(bool allowed) override { exitAllowed = allowed; }
  void SetLinkBusy(bool) override {}
  bool StopRequested() const override { return stop->load(); }
  std::shared_ptr<const std::atomic<bool>> StopFlag() const override { return stop; }

  std::vector<PhaseRecord> phases;
  std::vector<std::string> logs;
  bool exitAllowed = false;
  std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
  std::function<void(int)> onProgress;
};

// Runs posted tasks at once (the test thread plays the user-interface thread) and answers
// every question with `answer`, counting them.
class AnsweringPort : public WindowPort {
 public:
  void Notify(const Notice& notice) override { notices.push_back(notice.text); }
  bool AskYesNo(const std::string& text, bool) override {
    questions.push_back(text);
    return answer;
  }
  void LogLine(const std::string&) override {}
  void SetProgressRange(const std::string&, int) override {}
  void SetProgress(int) override {}
  void Post(std::function<void()> task) override { task(); }

  bool answer = true;
  std::vector<std::string> questions;
  std::vector<std::string> notices;
};

inline std::string ShippedScriptPath() { return std::string(LW_BIN_DIR) + "/Torvex.ini"; }

}  // namespace lw::test
