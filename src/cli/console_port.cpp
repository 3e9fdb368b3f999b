#include "cli/console_port.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <iostream>

#include "cli/command.h"
#include "common/text.h"

namespace lw::cli {
namespace {

constexpr int kBarWidth = 30;

std::string TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[16];
  std::strftime(buf, sizeof buf, "[%H:%M:%S] ", &local);
  return buf;
}

const char* Bool(bool b) { return b ? "true" : "false"; }

const char* IconName(NoticeIcon icon) {
  switch (icon) {
    case NoticeIcon::Warning: return "warning";
    case NoticeIcon::Error: return "error";
    case NoticeIcon::Information: break;
  }
  return "information";
}

}  // namespace

ConsolePort::ConsolePort(ConsoleOptions options, std::ostream& out, std::ostream& err, std::istream& in)
    : options_(options), out_(out), err_(err), in_(in) {
  if (options_.json) options_.progressBar = false;
}

ConsolePort::~ConsolePort() {
  // The last bar stays on screen as the record of how far the run got.
  if (options_.progressBar && !drawnBar_.empty()) {
    err_ << '\n';
    err_.flush();
  }
}

ConsoleOptions ConsolePort::ForTerminal(bool json, std::optional<bool> presetAnswer) {
  ConsoleOptions options;
  options.json = json;
  options.presetAnswer = presetAnswer;
  options.interactive = ::isatty(STDIN_FILENO) == 1;
  options.progressBar = !json && ::isatty(STDERR_FILENO) == 1;
  return options;
}

void ConsolePort::EmitJson(const std::string& object) {
  out_ << object << '\n';
  out_.flush();  // a script follows the run line by line
}

void ConsolePort::PrintLine(const std::string& line) {
  ClearBar();
  out_ << line << '\n';
  out_.flush();
  DrawBar();
}

void ConsolePort::Notify(const Notice& notice) {
  const bool warning = notice.icon == NoticeIcon::Warning;
  if (options_.json) {
    std::string object = "{\"event\":\"notice\",\"text\":" + JsonString(notice.text) + ",\"warning\":" + Bool(warning) +
                         ",\"icon\":" + JsonString(IconName(notice.icon));
    if (!notice.caption.empty()) object += ",\"caption\":" + JsonString(notice.caption);
    EmitJson(object + "}");
    return;
  }
  // A box with a caption of its own (an "Error" box) names it, as a title bar would.
  std::string line = notice.caption.empty() ? notice.text : notice.caption + ": " + notice.text;
  PrintLine(warning ? "warning: " + line : line);
}

bool ConsolePort::AskYesNo(const std::string& text, bool yesDefault) {
  bool answer = yesDefault;
  if (options_.presetAnswer) {
    answer = *options_.presetAnswer;
    if (!options_.json) PrintLine(text + " " + (answer ? "yes (--yes)" : "no (--no)"));
  } else if (options_.interactive && !options_.json) {
    ClearBar();
    for (;;) {
      out_ << text << (yesDefault ? " [Y/n] " : " [y/N] ");
      out_.flush();
      std::string line;
      if (!std::getline(in_, line)) break;  // end of input: the preselected answer
      std::string reply = ToLowerAscii(Trim(line));
      if (reply.empty()) break;
      if (reply == "y" || reply == "yes") {
        answer = true;
        break;
      }
      if (reply == "n" || reply == "no") {
        answer = false;
        break;
      }
    }
    DrawBar();
  } else if (!options_.json) {
    // Nobody to ask and nothing preset: the preselected answer, said out loud.
    PrintLine(text + " " + (answer ? "yes" : "no") + " (preselected; use --yes or --no)");
  }
  if (options_.json)
    EmitJson("{\"event\":\"question\",\"text\":" + JsonString(text) + ",\"answer\":" + Bool(answer) + "}");
  return answer;
}

void ConsolePort::LogLine(const std::string& text) {
  if (options_.json) {
    EmitJson("{\"event\":\"log\",\"text\":" + JsonString(text) + "}");
    return;
  }
  PrintLine(TimeStamp() + text);
}

void ConsolePort::SetProgressRange(const std::string& phaseText, int total) {
  if (options_.json) {
    EmitJson("{\"event\":\"phase\",\"text\":" + JsonString(phaseText) + ",\"total\":" + std::to_string(total) + "}");
    return;
  }
  // The finished bar of the previous phase stays on its own line.
  if (!drawnBar_.empty()) {
    err_ << '\n';
    drawnBar_.clear();
  }
  phase_ = phaseText;
  total_ = total;
  position_ = 0;
  DrawBar();
}

void ConsolePort::SetProgress(int position) {
  if (options_.json) {
    EmitJson("{\"event\":\"progress\",\"position\":" + std::to_string(position) + "}");
    return;
  }
  position_ = position;
  DrawBar();
}

void ConsolePort::ClearBar() {
  if (!options_.progressBar || drawnBar_.empty()) return;
  err_ << "\r\033[K";
  err_.flush();
  drawnBar_.clear();
}

void ConsolePort::DrawBar() {
  if (!options_.progressBar || total_ <= 0) return;
  int pos = std::clamp(position_, 0, total_);
  int filled = int(int64_t(pos) * kBarWidth / total_);
  int percent = int(int64_t(pos) * 100 / total_);
  std::string bar = phase_ + " [" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.') +
                    "] " + std::to_string(percent) + "%";
  if (bar == drawnBar_) return;  // the block loops report far more often than the bar changes
  err_ << "\r\033[K" << bar;
  err_.flush();
  drawnBar_ = bar;
}

void ConsolePort::Beep(int hertz, int milliseconds) {
  if (options_.progressBar) {
    err_ << '\a';
    err_.flush();
  }
}

void ConsolePort::Report(ReportCode code, const ReportPayload& payload) {
  if (!options_.json) return;
  std::string object = "{\"event\":\"report\",\"code\":" + std::to_string(int(code));
  if (auto* failure = std::get_if<UpgradeFailure>(&payload)) {
    object += ",\"error\":" + std::to_string(failure->errorCode);
    object += std::string(",\"rcdbSaved\":") + Bool(failure->rcdbSaved == 1);
    if (!failure->detail.empty()) object += ",\"detail\":" + JsonString(failure->detail);
  }
  if (std::holds_alternative<std::string>(payload) || std::holds_alternative<TwoTexts>(payload))
    object += ",\"payload\":" + JsonString(PayloadText(payload));
  if (auto* image = std::get_if<ImageLoadFailure>(&payload)) object += ",\"detail\":" + JsonString(image->detail);
  if (auto* parseError = std::get_if<int>(&payload); parseError && code == ReportCode::RcdbFormatError)
    object += ",\"parseError\":" + std::to_string(*parseError);
  EmitJson(object + "}");
}

void ConsolePort::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

size_t ConsolePort::RunPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  for (auto& task : batch) task();
  return batch.size();
}

void ConsolePort::RunUntil(const std::function<bool()>& done, const std::function<void()>& tick,
                           std::chrono::milliseconds tickPeriod) {
  auto nextTick = std::chrono::steady_clock::now() + tickPeriod;
  while (!done()) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      if (tasks_.empty()) {
        if (tick) {
          wake_.wait_until(lock, nextTick, [this] { return !tasks_.empty(); });
        } else {
          wake_.wait(lock, [this] { return !tasks_.empty(); });
        }
      }
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
    }
    if (task) task();
    auto now = std::chrono::steady_clock::now();
    if (tick && now >= nextTick) {
      // Missed ticks are not made up for (a timer does not queue them either): a burst of
      // catch-up ticks would make the watchdog count time that it never watched.
      nextTick = now + tickPeriod;
      tick();
    }
  }
}

}  // namespace lw::cli
