// Test doubles for the application layer: a window port that records what the operator would
// see, and an operation runner that stands in for the connect step and the upgrade worker so
// that a test plays the worker's part through the sink it was given.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/operation_controller.h"
#include "common/window_port.h"

namespace lw::test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lw_app_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string Path(const std::string& name = "") const { return (path_ / name).string(); }
  std::string Dir() const { return path_.string() + "/"; }
  void Write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path path_;
};

// Records every operator-visible effect as one text, in order.
class RecordingPort : public WindowPort {
 public:
  void Notify(const Notice& notice) override {
    const char* prefix = notice.icon == NoticeIcon::Warning ? "warning: "
                         : notice.icon == NoticeIcon::Error ? "error: "
                                                            : "notice: ";
    events.push_back(prefix + notice.text);
    notices.push_back(notice.text);
    boxes.push_back(notice);
    // A modal notice runs the event loop: whatever the test lets in while it is open.
    if (whileNoticeOpen) whileNoticeOpen(notice.text);
  }
  bool AskYesNo(const std::string& text, bool yesDefault) override {
    events.push_back("ask: " + text);
    questions.push_back(text);
    return answer.value_or(yesDefault);
  }
  void LogLine(const std::string& text) override {
    events.push_back("log: " + text);
    logs.push_back(text);
  }
  void SetProgressRange(const std::string& phaseText, int total) override {
    events.push_back("phase: " + phaseText + " / " + std::to_string(total));
  }
  void SetProgress(int position) override { lastProgress = position; }
  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  void SetBusy(bool b) override { busy = b; }
  void SetControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
  void ClearLog() override { ++logClears; }
  void Beep(int hertz, int milliseconds) override { events.push_back("beep"); }
  std::optional<std::string> ChooseFolder(const std::string& title) override {
    events.push_back("choose folder: " + title);
    return folderChoice;
  }

  // Runs what the workers posted, as the user-interface thread would.
  size_t RunPending() {
    size_t ran = 0;
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return ran;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      ++ran;
    }
  }
  size_t Queued() {
    std::lock_guard lock(mutex_);
    return tasks_.size();
  }

  std::vector<std::string> events, notices, logs, questions;
  std::vector<Notice> boxes;  // every message box whole, with its icon and caption
  std::function<void(const std::string&)> whileNoticeOpen;
  std::optional<bool> answer;  // the operator's answer to questions; unset: the preselected one
  std::optional<std::string> folderChoice;
  int lastProgress = -1;
  bool busy = false;
  bool controlsEnabled = true;
  int logClears = 0;

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

// Keeps the sinks it is given; the test then speaks for the connect step and the worker.
class FakeRunner : public OperationRunner {
 public:
  void StartConnectStep(std::shared_ptr<OperationSink> sink) override {
    connectSink = sink;
    ++connectSteps;
  }
  void StartUpgradeWorker(std::shared_ptr<OperationSink> sink, const WorkerStart& start) override {
    workerSink = sink;
    workers.push_back(start);
  }
  void RequestStop() override { ++stopRequests; }
  void ClosePort() override { ++portCloses; }
  void ClearTrace() override { ++traceClears; }

  std::shared_ptr<OperationSink> connectSink, workerSink;
  std::vector<WorkerStart> workers;
  int connectSteps = 0;
  int stopRequests = 0;
  int portCloses = 0;
  int traceClears = 0;
};

}  // namespace lw::test
