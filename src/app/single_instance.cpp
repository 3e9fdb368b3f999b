#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lw {
namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaiseAnswer[] = "ok\n";

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads until `want` bytes arrived, the peer closed, or `timeoutMs` passed.
std::string ReadSome(int fd, size_t want, int timeoutMs) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < want) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, int(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[64];
    ssize_t n = ::read(fd, buf, std::min(sizeof buf, want - got.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.append(buf, size_t(n));
  }
  return got;
}

void WriteText(int fd, const char* text) {
  size_t len = std::strlen(text);
  while (len > 0) {
    ssize_t n = ::send(fd, text, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    len -= size_t(n);
  }
}

// The folder must be ours alone: anyone who could write to it could take the lock first or
// answer in our place.
bool PrepareDirectory(const std::string& dir, std::string& error) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = dir + " is not a folder of this user";
    return false;
  }
  return true;
}

}  // namespace

std::string SingleInstance::DefaultRuntimeDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') return std::string(runtime) + "/loftwise";
  return "/tmp/loftwise-" + std::to_string(::geteuid());
}

SingleInstance::SingleInstance(std::string runtimeDirectory) : directory_(std::move(runtimeDirectory)) {
  while (directory_.size() > 1 && directory_.back() == '/') directory_.pop_back();
}

SingleInstance::~SingleInstance() { Release(); }

bool SingleInstance::Claim(std::function<void()> onRaise) {
  if (held()) return true;
  if (!PrepareDirectory(directory_, error_)) return true;

  int fd = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = "cannot open " + LockPath() + ": " + std::strerror(errno);
    return true;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    if (errno == EWOULDBLOCK) return false;
    error_ = "cannot lock " + LockPath() + ": " + std::strerror(errno);
    return true;
  }
  lockFd_ = fd;
  onRaise_ = std::move(onRaise);

  // Holding the lock, any socket file left here belongs to a dead instance.
  sockaddr_un addr;
  if (!FillAddress(SocketPath(), addr)) {
    error_ = "socket path too long: " + SocketPath();
    return true;
  }
  ::unlink(SocketPath().c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 4) != 0 || ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    error_ = std::string("cannot listen on ") + SocketPath() + ": " + std::strerror(errno);
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    return true;  // the lock alone still keeps the rule; only the raise request is lost
  }
  listener_ = std::thread([this] { Listen(); });
  return true;
}

void SingleInstance::Listen() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // A peer that connects and says nothing must not hold up the listener for long.
    std::string request = ReadSome(client, sizeof kRaiseRequest - 1, 500);
    if (request == kRaiseRequest) {
      if (onRaise_) onRaise_();
      WriteText(client, kRaiseAnswer);
    }
    ::close(client);
  }
}

bool SingleInstance::NotifyRunning(std::chrono::milliseconds timeout) const {
  sockaddr_un addr;
  if (!FillAddress(SocketPath(), addr)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    WriteText(fd, kRaiseRequest);
    ok = ReadSome(fd, sizeof kRaiseAnswer - 1, int(timeout.count())) == kRaiseAnswer;
  }
  ::close(fd);
  return ok;
}

void SingleInstance::Release() {
  if (listener_.joinable()) {
    char wake = 1;
    (void)!::write(wakeFds_[1], &wake, 1);
    listener_.join();
  }
  for (int& fd : wakeFds_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    ::unlink(SocketPath().c_str());
  }
  if (lockFd_ >= 0) {
    // The lock file itself stays: removing it would let two later instances lock two
    // different files of the same name.
    ::close(lockFd_);
    lockFd_ = -1;
  }
}

}  // namespace lw
