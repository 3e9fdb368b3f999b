// The remote control server: a test station or production line drives Loftwise over TCP. It
// connects, sends one request line, gets one reply line, and the connection ends.
//
// Request line: the bytes up to and including the first line feed, at most 1,023 bytes, read
// through a 1,024-byte buffer (one recv of up to 1,024 bytes whenever the buffer is empty).
// The line is meant to end in CR LF, and the last two bytes read are removed as that CR LF:
// a line ended by a bare line feed therefore loses its last character, and a line cut at
// 1,023 bytes loses its last two. The text ends at a NUL byte, if it holds one. A connection
// that delivers nothing gives an empty request.
//
// Request form "VERB:ARGUMENT": the verb is the text before the first ":" (empty when there
// is none), the argument everything after it, untouched (a path: give it absolute).
//
//   XUID:<identity file>    the identity check against the open package
//                           -> "ok\r\n" for 100, else "Error_Code=<code>\r\n"
//                              (-1 no file, 19 radio type, 17 version, 27 customer code)
//   UPGRADE:<radio data>    prepares a remote upgrade from the radio data file and, when that
//                           gives 100, runs it to the end; the reply is sent after the run:
//                           "ok\r\n" when the preparation gave 100 (whatever the upgrade's own
//                           outcome, which the result file beside the data file tells), else
//                           "Error_Code=<preparation result>\r\n"; "Error_Code=30\r\n" when
//                           another operation is running (kRemoteBusy)
//   anything else           logged, closed without a reply
//
// Every request is logged through the window port: a line of 73 hyphens, then
// "Request: <request>" (control bytes shown as '.').
//
// Safety, because the requests name files on this computer and start upgrades:
//  - the listener binds to "Remote Bind Address" of set.ini, 127.0.0.1 unless the operator
//    opens it to the network;
//  - request lines are read by the listener thread itself, for every waiting connection at
//    once (one poll loop, a deadline per connection), so connections that send nothing or
//    trickle cost a socket and a small buffer, never a thread; at most kRemoteMaxWaiting wait
//    at once, and when one more comes the oldest waiting one is closed to make room;
//  - the whole request line must arrive within the receive time-out (10 s) of the connection;
//    one that does not is logged as far as it came and closed unanswered;
//  - only a complete "XUID" or "UPGRADE" line takes a handler thread; at most
//    kRemoteMaxHandlers run at once, and a request beyond that is closed at once, unanswered;
//    any other line is logged and closed by the listener itself;
//  - "UPGRADE" is refused with kRemoteBusy while any operation (the operator's or another
//    remote one) is running.
//
// Set-up failures are printed on the output stream (stdout), as the test stations' own logs
// expect them: "Create socket error", "Bind error!", "Listen error!", and for a failed accept
// "Connect failed.Please try again!" (the accept is then tried again). The rest of the program
// works on without the listener.
//
// Threads: Start sets the listener up on the calling thread and then accepts and reads request
// lines on a thread of its own until Stop (there is no console key-press end: the program's
// life is the window's); every complete XUID or UPGRADE request is served on a further thread. Log lines reach the
// window port through Post, so they are shown on the user-interface thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "common/text.h"
#include "common/thread_annotations.h"

namespace lw {

class WindowPort;

inline constexpr uint16_t kRemotePort = 5150;
inline constexpr int kRemoteBacklog = 5;
inline constexpr size_t kRemoteReceiveBufferSize = 1024;
inline constexpr size_t kRemoteRequestMax = 1023;
inline constexpr int kRemoteMaxHandlers = 16;
inline constexpr int kRemoteMaxWaiting = 512;
inline constexpr std::chrono::milliseconds kRemoteReceiveTimeout{10000};
inline constexpr const char* kRemoteDefaultBindAddress = "127.0.0.1";

inline constexpr const char* kVerbIdentity = "XUID";
inline constexpr const char* kVerbUpgrade = "UPGRADE";

// The reply code of an "UPGRADE" while an operation is running. No report code uses it.
inline constexpr int kRemoteBusy = 30;

// The printed set-up failures.
inline constexpr const char* kCreateSocketError = "Create socket error\n";
inline constexpr const char* kBindError = "Bind error!\n";
inline constexpr const char* kListenError = "Listen error!\n";
inline constexpr const char* kAcceptError = "Connect failed.Please try again!\n";

// The log line added for an identity the open package admits.
inline constexpr const char* kRadioAdmittedText = TextKey("The radio is within the range this upgrade package allows.");

// --- The request line, for the server and its tests ------------------------------------------

// Adds the bytes of one receive to the request line being read: up to and including the first
// line feed, at most kRemoteRequestMax bytes in all; the rest of the receive is dropped. True
// when the line is complete (a line feed, or the limit reached).
bool AppendRequestBytes(std::string& line, std::string_view received);

// The request from the bytes read: the last two removed (fewer when shorter), cut at a NUL.
std::string RequestFromLine(std::string line);

struct RemoteRequest {
  std::string verb;
  std::string argument;
};
// Splits at the first ":"; without one the verb is empty and the argument is the whole text.
RemoteRequest SplitRequest(const std::string& request);

// "ok\r\n" for 100, else "Error_Code=<code>\r\n".
std::string ReplyFor(int code);

// --- What the verbs do -----------------------------------------------------------------------

// A remote upgrade that holds the radio (the one-operation rule) until it is destroyed.
class RemoteUpgradeJob {
 public:
  virtual ~RemoteUpgradeJob() = default;
  // The preparation from the radio data file: 100, or the code that refuses it.
  virtual int Prepare(const std::string& radioDataFile) = 0;
  // The upgrade itself, only after Prepare gave 100; returns when it has ended.
  virtual void Run() = 0;
};

// The program's side of the two verbs. Called on handler threads, several at once.
class RemoteServices {
 public:
  virtual ~RemoteServices() = default;
  // "XUID": 100, -1, 19, 17 or 27.
  virtual int CheckIdentity(const std::string& identityFile) = 0;
  // "UPGRADE": the radio for one remote upgrade, or null when an operation is running.
  virtual std::unique_ptr<RemoteUpgradeJob> BeginUpgrade() = 0;
  // The server is stopping: make a running upgrade end soon and stop waiting for anything.
  virtual void Shutdown() {}
};

// --- The server ----------------------------------------------------------------------------

struct RemoteServerOptions {
  std::string bindAddress = kRemoteDefaultBindAddress;  // an IPv4 address ("0.0.0.0": all)
  uint16_t port = kRemotePort;                          // 0: a free port (see port())
  int maxHandlers = kRemoteMaxHandlers;
  int maxWaiting = kRemoteMaxWaiting;
  std::chrono::milliseconds receiveTimeout = kRemoteReceiveTimeout;
  // Requests turned away unanswered: the first of each such stretch is logged as it came, the
  // rest of it in one line with their count.
  std::chrono::milliseconds refusedLogInterval{1000};
  std::ostream* out = nullptr;                          // the printed failures; null: stdout
};

class RemoteControlServer {
 public:
  // `port` and `services` outlive the server.
  RemoteControlServer(WindowPort& port, RemoteServices& services, RemoteServerOptions options = {});
  // Stops the server.
  ~RemoteControlServer();
  RemoteControlServer(const RemoteControlServer&) = delete;
  RemoteControlServer& operator=(const RemoteControlServer&) = delete;

  // Creates, binds and opens the listening socket and starts the listener thread. On a
  // set-up failure prints its message and returns false. Once only.
  bool Start();
  // Closes the listener, ends the connections being served (a running remote upgrade is told
  // to stop through RemoteServices::Shutdown) and waits for every thread. Idempotent.
  void Stop();

  // The port the listener is bound to (after a successful Start).
  uint16_t port() const { return boundPort_; }
  // Requests handed to a handler, and those closed at once because all handlers were busy.
  long handlersStarted() const { return handlersStarted_.load(); }
  long connectionsRefused() const { return connectionsRefused_.load(); }
  int activeHandlers() const { return active_.load(); }
  // Connections whose request line is still coming in, and those closed unanswered because it
  // did not come in time (or to make room for newer ones).
  int waitingConnections() const { return waiting_.load(); }
  long connectionsExpired() const { return connectionsExpired_.load(); }

 private:
  struct Handler;
  struct Pending;

  void ListenLoop();
  void AcceptWaiting(std::deque<Pending>& pending);
  bool ReadSome(Pending& pending);
  void Dispatch(int client, std::string line);
  void LogRequest(const std::string& request);
  // A request turned away unanswered (no XUID or UPGRADE, or not complete in time). The first
  // of each second (refusedLogInterval) is logged as it came; the rest of that second are
  // counted, and the count goes into one line when the second is over (FlushRefused), so a
  // flood cannot fill the log. Listener thread only.
  void LogRefused(const std::string& request);
  void FlushRefused(std::chrono::steady_clock::time_point now);
  void AnswerGuarded(const RemoteRequest& request, int client);
  void Answer(const RemoteRequest& request, int client);
  void Log(const std::string& text);
  void Print(const char* text);
  void ReapFinished();
  void CloseListener();

  WindowPort& port_;
  RemoteServices& services_;
  RemoteServerOptions options_;

  int listener_ = -1;
  int wake_[2] = {-1, -1};  // written to by Stop to end the listener's wait
  uint16_t boundPort_ = 0;
  bool started_ = false;
  std::atomic<bool> stopping_{false};
  std::thread listenerThread_;

  Mutex mutex_;  // also guards each handler's socket
  std::list<std::shared_ptr<Handler>> handlers_ LW_GUARDED_BY(mutex_);
  std::atomic<int> active_{0};
  std::atomic<long> handlersStarted_{0};
  std::atomic<long> connectionsRefused_{0};
  std::atomic<int> waiting_{0};
  std::atomic<long> connectionsExpired_{0};
  // The second of refused requests being counted (listener thread only).
  std::chrono::steady_clock::time_point refusedWindowEnd_{};
  int refusedInWindow_ = 0;
};

}  // namespace lw
