// One Loftwise per user, unless several radios need several windows.
//
// The running instance holds an exclusive lock on "loftwise.lock" in the runtime directory for
// its whole life and listens on the local socket "loftwise.sock" beside it. A later instance
// that cannot take the lock connects to the socket and sends "raise"; the running instance
// calls its raise handler (which brings its window to the front) and answers "ok". The lock
// is released by the kernel when a process dies, so a crash never blocks the next start, and
// the socket of a dead instance is replaced by the next one that takes the lock.
//
// Whether the rule applies at all is the caller's decision: when the port scan found radios of
// the primary class, a further instance may start so that each radio gets its own window.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace lw {

class SingleInstance {
 public:
  // $XDG_RUNTIME_DIR/loftwise, or /tmp/loftwise-UID when there is no runtime directory.
  static std::string DefaultRuntimeDirectory();

  explicit SingleInstance(std::string runtimeDirectory = DefaultRuntimeDirectory());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Tries to become the running instance. On success the lock is held and the socket listens;
  // `onRaise` is then called on the listener thread for every later instance that asks (post
  // it to the user-interface thread). Returns false when another instance holds the lock.
  // When the runtime directory cannot be used at all the rule cannot be kept and the claim
  // succeeds without a lock (`error()` says why): refusing to start would be worse.
  bool Claim(std::function<void()> onRaise);

  // From a later instance: asks the running one to come to the front. True when it answered
  // within `timeout`.
  bool NotifyRunning(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const;

  // The exit sequence: stops listening, removes the socket and gives up the lock.
  void Release();

  bool held() const { return lockFd_ >= 0; }
  const std::string& error() const { return error_; }
  std::string LockPath() const { return directory_ + "/loftwise.lock"; }
  std::string SocketPath() const { return directory_ + "/loftwise.sock"; }

 private:
  void Listen();

  std::string directory_;
  std::string error_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  std::function<void()> onRaise_;
  std::thread listener_;
};

}  // namespace lw
