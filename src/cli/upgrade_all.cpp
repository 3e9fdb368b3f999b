// loftwise-cli upgrade --all: every radio of the port list at once, each upgraded by a worker
// process of its own ("loftwise-cli upgrade --port N --json"), since the engine keeps one open
// radio per process. This side only starts the workers, follows their JSON events and shows
// them; a worker that fails does not stop the others.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "app/front_end_assembly.h"
#include "cli/command.h"
#include "cli/upgrade_session.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/settings.h"
#include "link/port_list.h"
#include "link/usb_transport.h"

namespace lw::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct Worker {
  int port = 0;
  pid_t pid = -1;
  int fd = -1;
  std::string buffer;
  Clock::time_point start;
  double seconds = 0;
  bool running = true;
  // What the events told so far.
  std::string phase = "starting";
  int total = 0, position = 0;
  int code = -1;  // the last final report (not 0 or 13); -1: none
  int error = 0;
  std::string serial, model, text;
};

// The value of "key" in one flat JSON object line as written by the console port: a number or
// a string (escapes other than \" and \\ are kept as they are, which is fine for showing).
std::string Field(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  size_t at = line.find(tag);
  if (at == std::string::npos) return {};
  at += tag.size();
  if (at < line.size() && line[at] == '"') {
    std::string out;
    for (size_t i = at + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        out += line[++i];
        continue;
      }
      if (line[i] == '"') break;
      out += line[i];
    }
    return out;
  }
  size_t end = line.find_first_of(",}", at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

int Number(const std::string& text, int fallback) {
  try {
    return text.empty() ? fallback : std::stoi(text);
  } catch (...) {
    return fallback;
  }
}

void Take(Worker& w, const std::string& line) {
  const std::string event = Field(line, "event");
  if (event == "phase") {
    w.phase = Field(line, "text");
    w.total = Number(Field(line, "total"), 0);
    w.position = 0;
  } else if (event == "progress") {
    w.position = Number(Field(line, "position"), w.position);
  } else if (event == "report") {
    const int code = Number(Field(line, "code"), -1);
    if (code != 0 && code != 13) {
      w.code = code;
      w.error = Number(Field(line, "error"), 0);
    }
  } else if (event == "notice") {
    w.text = Field(line, "text");
  } else if (event == "radio") {
    w.serial = Field(line, "serial");
    w.model = Field(line, "model");
  }
}

std::string StatusLine(const Worker& w) {
  std::ostringstream s;
  const int percent = w.total > 0 ? std::clamp(w.position * 100 / w.total, 0, 100) : 0;
  s << PortText(w.port) << "  " << std::left << std::setw(12) << (w.serial.empty() ? "-" : w.serial) << " ";
  if (w.running) {
    s << w.phase << " " << percent << "%";
  } else {
    s << (w.code == 2 ? "done" : "failed") << " (report " << w.code << ")";
  }
  std::string line = s.str();
  if (line.size() > 100) line.resize(100);
  return line;
}

pid_t StartWorker(const std::vector<std::string>& args, int* outFd) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return -1;
  }
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, STDIN_FILENO);  // no terminal: a question takes --yes/--no or the default
      dup2(devnull, STDERR_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  *outFd = pipeFds[0];
  return pid;
}

// The port numbers of every radio the link sees, or a failure text.
std::string ListPorts(const SessionOptions& o, const std::string& home, std::vector<int>& ports) {
  ProgramSettings settings;
  ReadProgramSettings(JoinPath(home, kSettingsFileName), settings);
  auto opened = RadioLink::Open(home, settings, o.simProfiles);
  if (!opened) return opened.status().message();
  std::unique_ptr<RadioLink> link = std::move(opened).value();
  // The numbers only: the port list's choice of a radio (which opens each one) is not needed.
  int classFlag = 0;
  link->transport().Scan(nullptr, classFlag);
  for (const auto& [port, path] : link->transport().PortMap()) ports.push_back(port);
  if (ports.empty()) return "no radio found (see loftwise-cli ports)";
  if (!o.simProfiles.empty() && ports.size() != o.simProfiles.size())
    return "two --sim profiles give the same device path: each simulated radio needs a path of its own";
  return {};
}

// One worker per port, started; a worker that cannot be started is marked as ended.
std::vector<Worker> StartWorkers(const SessionOptions& o, const std::string& home, const std::vector<int>& ports) {
  std::vector<Worker> workers(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    Worker& w = workers[i];
    w.port = ports[i];
    std::vector<std::string> args{"loftwise-cli", "upgrade",       "--json",       "--home",
                                  home,           "--radio-event", "--trace-file", Format("Comm-port%03d.log", w.port)};
    if (o.simProfiles.empty()) {
      args.insert(args.end(), {"--port", std::to_string(w.port)});
    } else {
      // A worker builds only its own simulated radio (each holds its flash in memory), which
      // is then its port 1. Simulated radios are numbered in the order of --sim.
      args.insert(args.end(), {"--sim", o.simProfiles[i], "--port", "1"});
    }
    if (o.answer) args.push_back(*o.answer ? "--yes" : "--no");
    if (o.verify) args.push_back("--verify");
    if (!o.package.empty()) args.push_back(o.package);
    w.start = Clock::now();
    w.pid = StartWorker(args, &w.fd);
    if (w.pid < 0) {
      w.running = false;
      w.text = "the worker process could not be started";
    }
  }
  return workers;
}

// Takes what the worker wrote: each complete line is an event (passed on with its port when
// the output is JSON). At the end of its output the worker is reaped.
void ReadWorker(Worker& w, bool json) {
  char chunk[65536];
  ssize_t got = read(w.fd, chunk, sizeof chunk);
  if (got > 0) {
    w.buffer.append(chunk, size_t(got));
    size_t end;
    while ((end = w.buffer.find('\n')) != std::string::npos) {
      std::string line = w.buffer.substr(0, end);
      w.buffer.erase(0, end + 1);
      Take(w, line);
      if (json && line.size() > 1 && line[0] == '{')
        std::cout << "{\"port\":" << w.port << "," << line.substr(1) << "\n" << std::flush;
    }
    return;
  }
  if (got < 0 && errno == EINTR) return;
  close(w.fd);
  w.fd = -1;
  int status = 0;
  waitpid(w.pid, &status, 0);
  w.running = false;
  w.seconds = std::chrono::duration<double>(Clock::now() - w.start).count();
  if (w.code < 0 && w.text.empty())
    w.text = WIFEXITED(status)
                 ? "the worker ended without a report (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                 : "the worker ended without a report (killed by a signal)";
}

// Follows every worker until all have ended, redrawing their lines on a terminal.
void FollowWorkers(std::vector<Worker>& workers, bool json) {
  const bool redraw = !json && isatty(STDOUT_FILENO);
  bool drawn = false;
  auto draw = [&] {
    if (!redraw) return;
    if (drawn) std::cout << "\033[" << workers.size() << "A";
    for (const Worker& w : workers) std::cout << "\r\033[K" << StatusLine(w) << "\n";
    std::cout.flush();
    drawn = true;
  };
  draw();
  auto lastDraw = Clock::now();
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<Worker*> owners;
    for (Worker& w : workers)
      if (w.fd >= 0) {
        fds.push_back({w.fd, POLLIN, 0});
        owners.push_back(&w);
      }
    if (fds.empty()) break;
    if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
    // Workers send an event per progress step; taking what a few milliseconds bring in one go
    // keeps this process from waking for every line of every radio (eight radios would
    // otherwise cost more host time in wake-ups than in upgrading).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    poll(fds.data(), fds.size(), 0);
    for (size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ReadWorker(*owners[i], json);
    if (Clock::now() - lastDraw > std::chrono::milliseconds(250)) {
      draw();
      lastDraw = Clock::now();
    }
  }
  draw();
}

void PrintResults(const std::vector<Worker>& workers, bool json) {
  if (json) {
    std::cout << "{\"event\":\"summary\",\"results\":[";
    for (size_t i = 0; i < workers.size(); ++i)
      std::cout << (i ? "," : "") << "{\"port\":" << workers[i].port << ",\"code\":" << workers[i].code << "}";
    std::cout << "]}\n";
  } else {
    std::cout << "\n"
              << std::left << std::setw(10) << "port" << std::setw(14) << "serial" << std::setw(32) << "model"
              << std::setw(8) << "seconds"
              << "result\n";
    for (const Worker& w : workers) {
      std::string result = w.text.empty() ? "report " + std::to_string(w.code) : w.text;
      std::cout << std::left << std::setw(10) << PortText(w.port) << std::setw(14)
                << (w.serial.empty() ? "-" : w.serial) << std::setw(32) << (w.model.empty() ? "-" : w.model)
                << std::setw(8) << std::fixed << std::setprecision(1) << w.seconds << result << "\n";
    }
  }
  std::cout.flush();
}

}  // namespace

int RunUpgradeAll(const SessionOptions& o) {
  const std::string home = ResolveProgramDirectory(o.home);
  std::vector<int> ports;
  if (std::string error = ListPorts(o, home, ports); !error.empty()) return Fail(error);
  std::vector<Worker> workers = StartWorkers(o, home, ports);
  FollowWorkers(workers, o.json);
  PrintResults(workers, o.json);
  return std::all_of(workers.begin(), workers.end(), [](const Worker& w) { return w.code == 2; }) ? 0 : 1;
}

}  // namespace lw::cli
