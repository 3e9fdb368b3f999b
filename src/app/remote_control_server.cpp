#include "app/remote_control_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <iostream>
#include <vector>

#include "common/codes.h"
#include "common/text.h"
#include "common/window_port.h"
#include "ui/translate.h"

namespace lw {
namespace {

using Clock = std::chrono::steady_clock;

// After the reply the rest of what the client sent is read and dropped for at most this long
// (and this much), so that closing with unread data does not reset the connection under the
// reply before the client has read it.
constexpr std::chrono::milliseconds kDrainTime{500};
constexpr size_t kDrainBytes = 64 * 1024;
// A failed accept is tried again, but not in a tight loop: when the process is out of file
// descriptors every accept fails at once until a handler ends.
constexpr std::chrono::milliseconds kAcceptRetryPause{50};
// Connections accepted in one turn of the listener's loop at most.
constexpr int kAcceptBurst = 64;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : int(left);
}

// Waits until `fd` is readable or the deadline passes; false on time-out or error.
// (Only the handlers wait on one socket; the listener waits on all of them at once.)
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, RemainingMs(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

void SendAll(int fd, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    // No SIGPIPE: a client that went away must not end the program.
    ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += size_t(n);
  }
}

void Drain(int fd) {
  shutdown(fd, SHUT_WR);
  const auto deadline = Clock::now() + kDrainTime;
  char scratch[1024];
  size_t dropped = 0;
  while (dropped < kDrainBytes && WaitReadable(fd, deadline)) {
    ssize_t n = recv(fd, scratch, sizeof scratch, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    dropped += size_t(n);
  }
}

// The request as the log shows it: control bytes would garble the log or steer a terminal.
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if ((unsigned char)c < 0x20 || c == 0x7F) c = '.';
  return out;
}

}  // namespace

// --- The request line ------------------------------------------------------------------------

bool AppendRequestBytes(std::string& line, std::string_view received) {
  for (char c : received) {
    if (line.size() >= kRemoteRequestMax) break;
    line += c;
    if (c == '\n') return true;
  }
  return line.size() >= kRemoteRequestMax;
}

std::string RequestFromLine(std::string line) {
  line.resize(line.size() >= 2 ? line.size() - 2 : 0);
  if (size_t nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
  return line;
}

RemoteRequest SplitRequest(const std::string& request) {
  size_t colon = request.find(':');
  if (colon == std::string::npos) return {"", request};
  return {request.substr(0, colon), request.substr(colon + 1)};
}

std::string ReplyFor(int code) {
  if (code == 100) return "ok\r\n";
  return Format("Error_Code=%d\r\n", code);
}

// --- The server --------------------------------------------------------------------------------

struct RemoteControlServer::Handler {
  std::thread thread;
  int socket = -1;  // -1 once the handler closed it (guarded by the server's mutex)
  std::atomic<bool> done{false};
};

RemoteControlServer::RemoteControlServer(WindowPort& port, RemoteServices& services, RemoteServerOptions options)
    : port_(port), services_(services), options_(std::move(options)) {}

RemoteControlServer::~RemoteControlServer() { Stop(); }

void RemoteControlServer::Print(const char* text) {
  std::ostream& out = options_.out ? *options_.out : std::cout;
  out << text << std::flush;
}

void RemoteControlServer::Log(const std::string& text) {
  WindowPort* port = &port_;
  port_.Post([port, text] { port->LogLine(text); });
}

void RemoteControlServer::CloseListener() {
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

bool RemoteControlServer::Start() {
  if (started_) return false;
  started_ = true;
  // Non-blocking: the listener takes connections in bursts until none is left waiting.
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    Print(kCreateSocketError);
    CloseListener();
    return false;
  }
  // A restarted server takes its port back at once instead of waiting out old connections.
  int yes = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  // An address that does not read cannot be bound: the same failure as a taken port.
  if (inet_pton(AF_INET, Trim(options_.bindAddress).c_str(), &address.sin_addr) != 1 ||
      bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Print(kBindError);
    CloseListener();
    return false;
  }
  if (listen(listener_, kRemoteBacklog) != 0) {
    Print(kListenError);
    CloseListener();
    return false;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
  boundPort_ = ntohs(bound.sin_port);
  listenerThread_ = std::thread([this] { ListenLoop(); });
  return true;
}

// A connection whose request line is still coming in. Owned by the listener thread.
struct RemoteControlServer::Pending {
  int socket = -1;
  Clock::time_point deadline;
  std::string line;
};

void RemoteControlServer::ListenLoop() {
  std::deque<Pending> pending;  // in the order accepted, so the front is the oldest
  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.clear();
    fds.push_back({listener_, POLLIN, 0});
    fds.push_back({wake_[0], POLLIN, 0});
    for (const Pending& p : pending) fds.push_back({p.socket, POLLIN, 0});
    int timeout = -1;
    if (!pending.empty() || refusedInWindow_ > 0) {
      // The earliest of the waiting connections' deadlines and the end of the second whose
      // refused requests are being counted.
      Clock::time_point first = refusedInWindow_ > 0 ? refusedWindowEnd_ : Clock::time_point::max();
      for (const Pending& p : pending) first = std::min(first, p.deadline);
      timeout = RemainingMs(first) + 1;  // +1: wake after the deadline, not just before it
    }
    int n = poll(fds.data(), nfds_t(fds.size()), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (stopping_ || (fds[1].revents & POLLIN)) break;

    // Reads first: each readable connection gets one recv, as a 1,024-byte buffer would.
    const Clock::time_point now = Clock::now();
    FlushRefused(now);
    std::deque<Pending> still;
    for (size_t i = 0; i < pending.size(); ++i) {
      Pending& p = pending[i];
      bool complete = false;
      if (fds[i + 2].revents != 0) complete = ReadSome(p);
      if (complete) {
        Dispatch(p.socket, std::move(p.line));
      } else if (now >= p.deadline) {
        // The whole line did not come in time: logged as far as it came, closed unanswered.
        LogRefused(RequestFromLine(std::move(p.line)));
        close(p.socket);
        ++connectionsExpired_;
      } else {
        still.push_back(std::move(p));
      }
    }
    pending.swap(still);

    if (fds[0].revents & POLLIN) AcceptWaiting(pending);
    waiting_ = int(pending.size());
  }
  for (Pending& p : pending) close(p.socket);
  waiting_ = 0;
}

bool RemoteControlServer::ReadSome(Pending& p) {
  char buffer[kRemoteReceiveBufferSize];
  ssize_t n = recv(p.socket, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  if (n <= 0) return true;  // the client closed (or the connection failed): the line is what came
  return AppendRequestBytes(p.line, std::string_view(buffer, size_t(n)));
}

void RemoteControlServer::AcceptWaiting(std::deque<Pending>& pending) {
  // A burst of connections is taken in one go, but not without end: the loop must get back to
  // reading the ones it already has.
  for (int taken = 0; taken < kAcceptBurst; ++taken) {
    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) return;
      Print(kAcceptError);
      // Out of descriptors, most likely: the oldest waiting connection makes room.
      if (!pending.empty()) {
        close(pending.front().socket);
        pending.pop_front();
        ++connectionsExpired_;
      }
      std::this_thread::sleep_for(kAcceptRetryPause);
      return;
    }
    if (int(pending.size()) >= options_.maxWaiting) {
      // Full: the oldest waiting connection, the one nearest its own time-out, makes room, so
      // a flood of idle connections cannot keep a real request out.
      close(pending.front().socket);
      pending.pop_front();
      ++connectionsExpired_;
    }
    pending.push_back(Pending{client, Clock::now() + options_.receiveTimeout, {}});
  }
}

void RemoteControlServer::Dispatch(int client, std::string line) {
  std::string request = RequestFromLine(std::move(line));
  RemoteRequest split = SplitRequest(request);
  if (split.verb != kVerbIdentity && split.verb != kVerbUpgrade) {
    // Nothing to do and nothing to answer: it needs no handler.
    LogRefused(request);
    close(client);
    return;
  }
  ReapFinished();
  if (active_.load() >= options_.maxHandlers) {
    // All handlers are busy: turned away at once rather than queued, so that requests cannot
    // pile up behind a long remote upgrade.
    ++connectionsRefused_;
    close(client);
    return;
  }
  // The handler writes and drains with plain blocking calls, each bounded by poll.
  fcntl(client, F_SETFL, fcntl(client, F_GETFL) & ~O_NONBLOCK);
  ++active_;
  ++handlersStarted_;
  auto handler = std::make_shared<Handler>();
  handler->socket = client;
  MutexLock lock(mutex_);
  handlers_.push_back(handler);
  handler->thread = std::thread([this, handler, client, request = std::move(request), split = std::move(split)] {
    LogRequest(request);
    AnswerGuarded(split, client);
    Drain(client);
    {
      MutexLock lock(mutex_);
      close(client);
      handler->socket = -1;
    }
    --active_;
    handler->done = true;
  });
}

void RemoteControlServer::ReapFinished() {
  std::list<std::shared_ptr<Handler>> finished;
  {
    MutexLock lock(mutex_);
    for (auto it = handlers_.begin(); it != handlers_.end();) {
      if ((*it)->done) {
        finished.push_back(*it);
        it = handlers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& handler : finished) handler->thread.join();
}

void RemoteControlServer::LogRefused(const std::string& request) {
  const Clock::time_point now = Clock::now();
  FlushRefused(now);
  if (now < refusedWindowEnd_) {
    ++refusedInWindow_;
    return;
  }
  refusedWindowEnd_ = now + options_.refusedLogInterval;
  LogRequest(request);
}

void RemoteControlServer::FlushRefused(Clock::time_point now) {
  if (refusedInWindow_ == 0 || now < refusedWindowEnd_) return;
  Log(FillPlaceholders(Translate(TextKey("%s more requests turned away in the last second")),
                       {std::to_string(refusedInWindow_)}));
  refusedInWindow_ = 0;
}

void RemoteControlServer::LogRequest(const std::string& request) {
  Log(std::string(73, '-'));
  Log("Request: " + Printable(request));
}

// An exception out of a request (no memory, a thread that cannot be started) ends that request
// with an error answer and a log line; the server and the program go on.
void RemoteControlServer::AnswerGuarded(const RemoteRequest& request, int client) {
  std::string what;
  try {
    Answer(request, client);
    return;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  Log(FillPlaceholders(Translate(TextKey("(internal error: %s)")), {what}));
  SendAll(client, ReplyFor(kNoAnswer));
}

void RemoteControlServer::Answer(const RemoteRequest& request, int client) {
  if (request.verb == kVerbIdentity) {
    int code = services_.CheckIdentity(request.argument);
    if (code == 100) Log(Translate(kRadioAdmittedText));
    SendAll(client, ReplyFor(code));
  } else if (request.verb == kVerbUpgrade) {
    std::unique_ptr<RemoteUpgradeJob> job = services_.BeginUpgrade();
    if (!job) {
      SendAll(client, ReplyFor(kRemoteBusy));
      return;
    }
    int code = job->Prepare(request.argument);
    if (code == 100) job->Run();
    job.reset();  // the radio is free again before the station hears the answer
    SendAll(client, ReplyFor(code));
  }
}

void RemoteControlServer::Stop() {
  if (stopping_.exchange(true)) return;
  if (wake_[1] >= 0) {
    char byte = 1;
    (void)!write(wake_[1], &byte, 1);
  }
  if (!listenerThread_.joinable()) {  // never started: nothing runs, and the services stay usable
    CloseListener();
    return;
  }
  listenerThread_.join();
  services_.Shutdown();
  std::list<std::shared_ptr<Handler>> handlers;
  {
    MutexLock lock(mutex_);
    // A handler blocked in recv (or in drain) wakes at once; the shutdown keeps the socket
    // number, so it cannot be a reused one.
    for (auto& handler : handlers_)
      if (handler->socket >= 0) shutdown(handler->socket, SHUT_RDWR);
    handlers.swap(handlers_);
  }
  for (auto& handler : handlers) handler->thread.join();
  CloseListener();
}

}  // namespace lw
