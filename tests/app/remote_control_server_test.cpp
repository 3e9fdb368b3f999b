// The remote control server over real sockets on 127.0.0.1 (a free port per test), with the
// program's own services behind it: identity files, a package written for the tests, the
// operation controller's one-operation rule and, for the remote upgrade, a simulated radio.
#include "app/remote_control_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>

#include "app/app_test_util.h"
#include "app/operation_controller.h"
#include "app/remote_services_impl.h"
#include "config/burn_script.h"
#include "engine/remote_result.h"
#include "link/port_store.h"
#include "link/usb_transport.h"
#include "link/xrcp.h"
#include "package/fud_reader.h"
#include "package/fud_writer.h"
#include "package/rcdb_builder.h"
#include "sim/simulated_backend.h"
#include "support/eligible_identity.h"
#include "support/temp_dir.h"

namespace lw {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A window port whose "user-interface thread" is a pump thread of its own, as the window's
// event loop would be: the server's handler threads post to it and wait for it.
class PumpPort : public WindowPort {
 public:
  PumpPort() : pump_([this] { Pump(); }) {}
  ~PumpPort() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    pump_.join();
  }

  void Notify(const Notice& notice) override { Record("notice: " + notice.text); }
  bool AskYesNo(const std::string& text, bool yesDefault) override {
    Record("ask: " + text);
    return answer.value_or(yesDefault);
  }
  void LogLine(const std::string& text) override { Record(text); }
  void SetProgressRange(const std::string&, int) override {}
  void SetProgress(int) override {}
  void SetControlsEnabled(bool enabled) override { controlsEnabled = enabled; }
  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
  }

  // Runs `fn` on the pump thread and waits for it (the controller lives there).
  template <typename Fn>
  auto OnPump(Fn fn) {
    std::packaged_task<decltype(fn())()> task(std::move(fn));
    auto result = task.get_future();
    Post([&task] { task(); });
    return result.get();
  }
  // Waits until everything posted so far has run, then returns the log.
  std::vector<std::string> Lines() {
    OnPump([] { return 0; });
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool Logged(const std::string& line) {
    auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  std::optional<bool> answer;
  std::atomic<bool> controlsEnabled{true};

 private:
  void Record(const std::string& text) {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  }
  void Pump() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<std::string> lines_;
  bool quit_ = false;
  std::thread pump_;
};

// --- A test station's side ----------------------------------------------------------------

int Connect(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_GE(fd, 0);
  timeval limit{5, 0};  // no test waits for ever on a server that does not answer
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << strerror(errno);
  return fd;
}

void SendText(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += size_t(n);
  }
}

// Everything the server sends until it closes the connection (or 5 s pass).
std::string ReadToEnd(int fd) {
  std::string reply;
  char buffer[256];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return reply;
    reply.append(buffer, size_t(n));
  }
}

// One request on its own connection, the way a station sends it; returns the reply.
std::string Ask(uint16_t port, const std::string& bytes) {
  int fd = Connect(port);
  SendText(fd, bytes);
  std::string reply = ReadToEnd(fd);
  close(fd);
  return reply;
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5s) {
  const auto end = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

using test::EligibleIdentity;

PackageEntrySpec Entry(const std::string& kind, Bytes data, uint32_t origin) {
  PackageEntrySpec e;
  e.entry.kindName = kind;
  e.entry.fileName = kind + ".bin";
  e.entry.origin = origin;
  e.data = std::move(data);
  return e;
}

// The program's state as a front end holds it: settings and burn script as shipped, a package
// for portables from A5.00.07.000 to A5.00.09.000, a simulated portable on port 1, and the
// controller with a stand-in runner (so that a test can hold an operation running).
class RemoteServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReadProgramSettings(std::string(LW_SOURCE_DIR) + "/data/set.ini", settings);
    settings.autoBurnArmMain = false;
    settings.autoBurnRegionLanguage = false;
    settings.timeoutMs = 300;
    script.LoadBurnScript(std::string(LW_SOURCE_DIR) + "/data/Torvex.ini");

    english = Bytes(4096);
    for (size_t i = 0; i < english.size(); ++i) english[i] = uint8_t(i * 7 + 3);
    PackageSpec package;
    package.header.producerVersion = "V7.06.01.003";
    package.header.targetVersion = "A5.00.09.000";
    package.header.forPortable = 1;
    package.versionRecords = {"A5.00.07.000"};
    package.modelRecords = {"<All Version> KX41X-000G0000-M00000-U1-0-F"};
    auto rcdb = BuildRcdbImage(SampleRcdbSpec(EligibleIdentity()));
    ASSERT_TRUE(rcdb);
    package.entries = {Entry("english language package", english, 0x800000), Entry("rcdb_data", *rcdb, 0xC00000)};
    const Status written = WritePackage(package, dir.File("pkg.fud"));
    ASSERT_TRUE(written.ok()) << written.message();
    ASSERT_EQ(LoadPackage(dir.File("pkg.fud"), restrictions), PackageStatus::Ok);
    radioData = *rcdb;

    sim::SimProfile profile = sim::DefaultSimProfile("remote");
    profile.bootloader = "01.04.006";
    profile.radioData = radioData;
    radio = backend.Attach(profile);
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    transport.SetAnswerTimeout(int(settings.timeoutMs));

    RemoteServicesSetup setup;
    setup.port = &port;
    setup.controller = &controller;
    setup.uiWait = 5s;
    RunnerSetup& s = setup.state;
    s.transport = &transport;
    s.settings = &settings;
    s.script = &script;
    s.restrictions = &restrictions;
    s.upgradeRules = &upgradeRules;
    s.tunerRules = &tunerRules;
    s.programDir = dir.path() + "/";
    s.backupDirectory = dir.path() + "/Restore/";
    s.selectedPort = [] { return 1; };
    s.packagePath = [this] { return dir.File("pkg.fud"); };
    s.componentCheck = [] { return kOk; };
    s.convert = [](std::span<uint8_t>, ByteView) { return true; };
    s.validate = [](ByteView) { return true; };
    s.pause = [](int) {};
    services = std::make_unique<RemoteServicesImpl>(setup);
  }

  void TearDown() override {
    if (server) server->Stop();
  }

  uint16_t StartServer(RemoteServerOptions options = {}) {
    options.port = 0;
    options.out = &printed;
    server = std::make_unique<RemoteControlServer>(port, *services, options);
    EXPECT_TRUE(server->Start()) << printed.str();
    return server->port();
  }

  std::string IdentityFile(const RadioIdentity& id, const std::string& name = "radio.xuid") {
    return dir.Write(name, MakeXuidFile(id));
  }

  test::TempDir dir;
  ProgramSettings settings;
  BurnScript script;
  PackageRestrictions restrictions;
  UpgradeRules upgradeRules;
  std::vector<TunerRule> tunerRules;
  Bytes english, radioData;
  sim::SimulatedBackend backend;
  MemoryPortStore store;
  UsbTransport transport{backend, &store, [] {
                           LinkOptions o;
                           o.readTimeoutMs = 20;
                           return o;
                         }()};
  std::shared_ptr<sim::SimulatedRadio> radio;
  PumpPort port;
  test::FakeRunner runner;
  OperationController controller{port, runner, settings, dir.path() + "/"};
  std::unique_ptr<RemoteServicesImpl> services;
  std::ostringstream printed;
  std::unique_ptr<RemoteControlServer> server;
};

// --- The identity check --------------------------------------------------------------------

TEST_F(RemoteServerTest, IdentityCheckAnswersEachRuleWithItsCode) {
  struct Case {
    const char* name;
    std::function<void(RadioIdentity&)> change;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"eligible", [](RadioIdentity&) {}, "ok\r\n"},
      {"no restriction code", [](RadioIdentity& id) { id.restrictionCode = -1; }, "ok\r\n"},
      // A repeater, for a package made for portables only.
      {"radio type", [](RadioIdentity& id) { id.modelNumber = "KQ412-000G0000-M00000-U1-0-F"; }, "Error_Code=19\r\n"},
      {"version below 5.00", [](RadioIdentity& id) { id.softwareVersion = "A4.05.10.001"; }, "Error_Code=17\r\n"},
      {"version above the target", [](RadioIdentity& id) { id.softwareVersion = "A5.01.00.000"; },
       "Error_Code=17\r\n"},
      {"customer code", [](RadioIdentity& id) { id.restrictionCode = 5; }, "Error_Code=27\r\n"},
      // The rules run in order: the radio type refuses before the version would.
      {"type before version",
       [](RadioIdentity& id) {
         id.modelNumber = "KQ412-000G0000-M00000-U1-0-F";
         id.softwareVersion = "A4.05.10.001";
       },
       "Error_Code=19\r\n"},
  };
  const uint16_t tcp = StartServer();
  for (const Case& c : cases) {
    RadioIdentity id = EligibleIdentity();
    c.change(id);
    const std::string file = IdentityFile(id, std::string(c.name) + ".xuid");
    EXPECT_EQ(Ask(tcp, "XUID:" + file + "\r\n"), c.reply) << c.name;
  }
  EXPECT_EQ(Ask(tcp, "XUID:" + dir.File("missing.xuid") + "\r\n"), "Error_Code=-1\r\n");
  // A folder is not an identity file either.
  EXPECT_EQ(Ask(tcp, "XUID:" + dir.path() + "\r\n"), "Error_Code=-1\r\n");
}

TEST_F(RemoteServerTest, EligibleRadioIsLoggedWithTheRequest) {
  const uint16_t tcp = StartServer();
  const std::string file = IdentityFile(EligibleIdentity());
  ASSERT_EQ(Ask(tcp, "XUID:" + file + "\r\n"), "ok\r\n");
  ASSERT_EQ(Ask(tcp, "XUID:" + dir.File("missing.xuid") + "\r\n"), "Error_Code=-1\r\n");
  const std::vector<std::string> expected = {std::string(73, '-'), "Request: XUID:" + file, kRadioAdmittedText,
                                             std::string(73, '-'), "Request: XUID:" + dir.File("missing.xuid")};
  EXPECT_EQ(port.Lines(), expected);
}

// --- The request line ----------------------------------------------------------------------

TEST_F(RemoteServerTest, RequestLineIsReadAsWritten) {
  RemoteServerOptions options;
  options.refusedLogInterval = 0ms;  // every refused request logged as it came
  const uint16_t tcp = StartServer(options);
  const std::string file = IdentityFile(EligibleIdentity());

  // A bare line feed takes the character before it along: the station's extra "X" goes.
  EXPECT_EQ(Ask(tcp, "XUID:" + file + "X\n"), "ok\r\n");
  // ... and a path ended by a bare line feed loses its own last character.
  EXPECT_EQ(Ask(tcp, "XUID:" + file + "\n"), "Error_Code=-1\r\n");
  EXPECT_TRUE(port.Logged("Request: XUID:" + file.substr(0, file.size() - 1)));

  // Only the first line counts; what follows it is ignored.
  EXPECT_EQ(Ask(tcp, "XUID:" + file + "\r\nXUID:" + dir.File("missing") + "\r\n"), "ok\r\n");

  // No colon: logged, no reply. Unknown verb and a lower-case one: likewise.
  EXPECT_EQ(Ask(tcp, "hello\r\n"), "");
  EXPECT_TRUE(port.Logged("Request: hello"));
  EXPECT_EQ(Ask(tcp, "STATUS:now\r\n"), "");
  EXPECT_EQ(Ask(tcp, "xuid:" + file + "\r\n"), "");

  // A connection that delivers nothing is an empty request.
  int fd = Connect(tcp);
  shutdown(fd, SHUT_WR);
  EXPECT_EQ(ReadToEnd(fd), "");
  close(fd);
  EXPECT_TRUE(WaitFor([&] { return port.Logged("Request: "); }));

  // Control bytes do not reach the log as they are.
  EXPECT_EQ(Ask(tcp, std::string("ab\x1b[2Jcd\r\n")), "");
  EXPECT_TRUE(port.Logged("Request: ab.[2Jcd"));
}

TEST_F(RemoteServerTest, LongLineIsCutAt1023Bytes) {
  const uint16_t tcp = StartServer();
  std::string line = "XUID:/" + std::string(1992, 'a') + "\r\n";
  ASSERT_EQ(line.size(), 2000u);
  EXPECT_EQ(Ask(tcp, line), "Error_Code=-1\r\n");
  // 1,023 bytes read, the last two taken as the line end.
  EXPECT_TRUE(port.Logged("Request: " + line.substr(0, 1021)));
}

TEST(RemoteRequestLine, EndAndSplit) {
  EXPECT_EQ(RequestFromLine("XUID:a\r\n"), "XUID:a");
  EXPECT_EQ(RequestFromLine("XUID:ab\n"), "XUID:a");
  EXPECT_EQ(RequestFromLine("\n"), "");
  EXPECT_EQ(RequestFromLine(""), "");
  EXPECT_EQ(RequestFromLine(std::string("XUID:a\0b\r\n", 10)), "XUID:a");
  RemoteRequest r = SplitRequest("UPGRADE:C:/data/radio.rcd");
  EXPECT_EQ(r.verb, "UPGRADE");
  EXPECT_EQ(r.argument, "C:/data/radio.rcd");
  r = SplitRequest("no colon");
  EXPECT_EQ(r.verb, "");
  EXPECT_EQ(ReplyFor(100), "ok\r\n");
  EXPECT_EQ(ReplyFor(-1), "Error_Code=-1\r\n");
}

// --- Connections ---------------------------------------------------------------------------

TEST_F(RemoteServerTest, AWaitingClientDoesNotHoldUpTheNextOne) {
  const uint16_t tcp = StartServer();
  const std::string file = IdentityFile(EligibleIdentity());
  int first = Connect(tcp);  // connected, request not yet sent: it waits, without a handler
  ASSERT_TRUE(WaitFor([&] { return server->waitingConnections() == 1; }));
  EXPECT_EQ(server->activeHandlers(), 0);
  EXPECT_EQ(Ask(tcp, "XUID:" + file + "\r\n"), "ok\r\n");
  EXPECT_EQ(server->handlersStarted(), 1);
  SendText(first, "XUID:" + dir.File("missing") + "\r\n");
  EXPECT_EQ(ReadToEnd(first), "Error_Code=-1\r\n");
  EXPECT_EQ(server->handlersStarted(), 2);
  close(first);
}

// Services whose identity check holds its handler until the test lets it go.
class GateServices : public RemoteServices {
 public:
  int CheckIdentity(const std::string&) override {
    std::unique_lock lock(mutex);
    ++inside;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
    return 100;
  }
  std::unique_ptr<RemoteUpgradeJob> BeginUpgrade() override { return nullptr; }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0;
  bool open = false;
};

// Services that fail the way a host can: out of memory, a thread that cannot be started.
class ThrowingServices : public RemoteServices {
 public:
  int CheckIdentity(const std::string&) override { throw std::bad_alloc(); }
  std::unique_ptr<RemoteUpgradeJob> BeginUpgrade() override {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
  }
};

// An exception in a handler ends its request with an error answer and a log line, never the
// program; the server goes on answering.
TEST_F(RemoteServerTest, AHandlerThatThrowsAnswersWithAnErrorAndTheServerGoesOn) {
  ThrowingServices throwing;
  RemoteServerOptions options;
  options.port = 0;
  options.out = &printed;
  RemoteControlServer server(port, throwing, options);
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(Ask(server.port(), "XUID:x\r\n"), "Error_Code=-1\r\n");
  EXPECT_EQ(Ask(server.port(), "UPGRADE:x\r\n"), "Error_Code=-1\r\n");
  EXPECT_EQ(Ask(server.port(), "XUID:x\r\n"), "Error_Code=-1\r\n");
  server.Stop();
  const auto lines = port.Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.find("bad_alloc") != std::string::npos; }));
}

TEST_F(RemoteServerTest, RequestsBeyondTheHandlerLimitAreClosedAtOnce) {
  GateServices gate;
  RemoteServerOptions options;
  options.port = 0;
  options.out = &printed;
  RemoteControlServer held(port, gate, options);
  ASSERT_TRUE(held.Start());
  std::vector<int> busy;
  for (int i = 0; i < kRemoteMaxHandlers; ++i) {
    busy.push_back(Connect(held.port()));
    SendText(busy.back(), "XUID:x\r\n");
  }
  ASSERT_TRUE(WaitFor([&] { return held.activeHandlers() == kRemoteMaxHandlers; }));

  const auto asked = Clock::now();
  EXPECT_EQ(Ask(held.port(), "XUID:x\r\n"), "");
  EXPECT_LT(Clock::now() - asked, 3s) << "the extra request was kept waiting";
  EXPECT_EQ(held.connectionsRefused(), 1);
  // A line that needs no handler is still read and closed.
  EXPECT_EQ(Ask(held.port(), "hello\r\n"), "");

  gate.Open();
  for (int fd : busy) {
    EXPECT_EQ(ReadToEnd(fd), "ok\r\n");
    close(fd);
  }
  EXPECT_EQ(Ask(held.port(), "XUID:x\r\n"), "ok\r\n");
  held.Stop();
}

TEST_F(RemoteServerTest, SilentOrTricklingClientIsDroppedAfterTheReceiveTimeout) {
  RemoteServerOptions options;
  options.receiveTimeout = 300ms;
  const uint16_t tcp = StartServer(options);

  int silent = Connect(tcp);
  EXPECT_EQ(ReadToEnd(silent), "");  // closed by the server well before the client's 5 s
  close(silent);

  // One byte every 50 ms never completes a line within the time-out as a whole.
  int slow = Connect(tcp);
  const auto start = Clock::now();
  bool closed = false;
  for (int i = 0; i < 60 && !closed; ++i) {
    closed = send(slow, "X", 1, MSG_NOSIGNAL) != 1;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(WaitFor([&] { return server->waitingConnections() == 0; }, 2s));
  EXPECT_LT(Clock::now() - start, 2900ms);
  EXPECT_EQ(server->connectionsExpired(), 2);
  EXPECT_EQ(server->handlersStarted(), 0);
  close(slow);

  // A trickled request that is complete in time is answered.
  int trickle = Connect(tcp);
  const std::string request = "XUID:" + IdentityFile(EligibleIdentity()) + "\r\n";
  for (size_t at = 0; at < request.size(); at += request.size() / 4 + 1) {
    SendText(trickle, request.substr(at, request.size() / 4 + 1));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(ReadToEnd(trickle), "ok\r\n");
  close(trickle);
}

// True when the server closed the connection without a reply (an end or a reset), false when
// it answered or the client's 5 s passed first.
bool ClosedUnanswered(int fd) {
  char buffer[256];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
    return false;
  }
}

size_t ThreadCount() { return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {})); }

// Idle connections are cheap: with 300 of them held open a well-formed request is answered
// within a second, on no more threads than the handler limit allows.
TEST_F(RemoteServerTest, ThreeHundredIdleConnectionsDoNotKeepARequestOut) {
  const uint16_t tcp = StartServer();
  const size_t threadsBefore = ThreadCount();
  std::vector<int> idle;
  // Paced by the listener's own count: the backlog is 5, and a full backlog drops connections
  // for the kernel to retry a second later.
  for (int i = 0; i < 300; ++i) {
    idle.push_back(Connect(tcp));
    ASSERT_TRUE(WaitFor([&] { return server->waitingConnections() == i + 1; })) << i;
  }
  EXPECT_LE(ThreadCount(), threadsBefore) << "idle connections took threads";

  const std::string file = IdentityFile(EligibleIdentity());
  for (int round = 0; round < 3; ++round) {
    const auto asked = Clock::now();
    EXPECT_EQ(Ask(tcp, "XUID:" + file + "\r\n"), "ok\r\n");
    EXPECT_LT(Clock::now() - asked, 1s);
  }
  EXPECT_EQ(server->connectionsRefused(), 0);
  EXPECT_LE(ThreadCount(), threadsBefore + size_t(kRemoteMaxHandlers));
  for (int fd : idle) close(fd);
  EXPECT_TRUE(WaitFor([&] { return server->waitingConnections() == 0; }));
}

// More idle connections than may wait: the oldest make room, so the newest request still gets in.
TEST_F(RemoteServerTest, WaitingConnectionsBeyondTheLimitMakeRoomOldestFirst) {
  RemoteServerOptions options;
  options.maxWaiting = 20;
  const uint16_t tcp = StartServer(options);
  std::vector<int> idle;
  for (int i = 0; i < 30; ++i) {
    idle.push_back(Connect(tcp));
    ASSERT_TRUE(WaitFor([&] { return server->waitingConnections() + server->connectionsExpired() == i + 1; }));
  }
  EXPECT_EQ(server->connectionsExpired(), 10);
  EXPECT_EQ(server->waitingConnections(), 20);
  EXPECT_EQ(ReadToEnd(idle.front()), "") << "the oldest was closed";
  EXPECT_EQ(Ask(tcp, "XUID:" + IdentityFile(EligibleIdentity()) + "\r\n"), "ok\r\n");
  for (int fd : idle) close(fd);
}

// 1,000 malformed requests from 20 clients at once: every one is closed, the listener still
// answers at once, and neither its threads nor its memory grow with the flood.
TEST_F(RemoteServerTest, ConcurrentMalformedFloodIsClosedAndTheServerStillAnswers) {
  const uint16_t tcp = StartServer();
  const size_t threadsBefore = ThreadCount();
  std::atomic<int> closedByServer{0};
  std::atomic<size_t> peakThreads{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 20; ++c) {
    clients.emplace_back([&, c] {
      std::mt19937 random{unsigned(c)};
      for (int i = 0; i < 50; ++i) {
        int fd = Connect(tcp);
        std::string bytes;
        switch (i % 5) {
          case 0: bytes = "no colon at all\r\n"; break;
          case 1: bytes = "STATUS:" + std::string(random() % 200, 'x') + "\r\n"; break;
          case 2: bytes = std::string(2000 + random() % 2000, char('a' + c)); break;  // no line end
          case 3:
            bytes.resize(1 + random() % 300);
            for (char& ch : bytes) ch = char(random());
            bytes += "\n";
            break;
          case 4: {
            static const char kNulFirst[] = "\0\0\0XUID:/none\r\n";
            bytes = std::string(kNulFirst, sizeof kNulFirst - 1);
            break;
          }
        }
        SendText(fd, bytes);
        if (ClosedUnanswered(fd)) ++closedByServer;
        close(fd);
        size_t now = ThreadCount();
        size_t peak = peakThreads.load();
        while (now > peak && !peakThreads.compare_exchange_weak(peak, now)) {
        }
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(closedByServer.load(), 1000);
  EXPECT_LE(peakThreads.load(), threadsBefore + 20 + size_t(kRemoteMaxHandlers));
  const auto asked = Clock::now();
  EXPECT_EQ(Ask(tcp, "XUID:" + IdentityFile(EligibleIdentity()) + "\r\n"), "ok\r\n");
  EXPECT_LT(Clock::now() - asked, 1s);
  EXPECT_TRUE(WaitFor([&] { return server->waitingConnections() == 0 && server->activeHandlers() == 0; }));
}

TEST_F(RemoteServerTest, MalformedFloodLeavesTheServerAnswering) {
  const uint16_t tcp = StartServer();
  std::mt19937 random(1234);
  std::vector<int> halfOpen;
  for (int i = 0; i < 1000; ++i) {
    int fd = Connect(tcp);
    switch (i % 4) {
      case 0:  // empty
        break;
      case 1: {  // binary, NUL bytes and all, no line end
        std::string bytes(1 + random() % 300, '\0');
        for (char& c : bytes) c = char(random());
        SendText(fd, bytes);
        break;
      }
      case 2:  // huge
        SendText(fd, std::string(5000 + random() % 3000, char('A' + i % 26)));
        break;
      case 3:  // half a request; a few are left open
        SendText(fd, "XUID:" + dir.File("missing"));
        if (halfOpen.size() < 10) {
          halfOpen.push_back(fd);
          continue;
        }
        break;
    }
    shutdown(fd, SHUT_WR);
    ReadToEnd(fd);
    close(fd);
  }
  const std::string file = IdentityFile(EligibleIdentity());
  const auto asked = Clock::now();
  EXPECT_EQ(Ask(tcp, "XUID:" + file + "\r\n"), "ok\r\n");
  EXPECT_LT(Clock::now() - asked, 1s);
  for (int fd : halfOpen) close(fd);
}

// A flood of requests that are turned away unanswered does not flood the log: the first of each
// second is logged as it came, the rest of that second in one line with their count.
TEST_F(RemoteServerTest, AFloodOfRefusedRequestsIsLoggedOnceASecondWithACount) {
  const uint16_t tcp = StartServer();
  const size_t before = port.Lines().size();
  constexpr int kFlood = 300;
  const auto start = Clock::now();
  for (int i = 0; i < kFlood; ++i) EXPECT_EQ(Ask(tcp, "hello " + std::to_string(i) + "\r\n"), "");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // The count of the last second comes once that second is over.
  std::vector<std::string> lines;
  int counted = 0, single = 0;
  ASSERT_TRUE(WaitFor([&] {
    lines = port.Lines();
    counted = single = 0;
    for (size_t i = before; i < lines.size(); ++i) {
      if (lines[i].rfind("Request: hello ", 0) == 0) ++single;
      int n = 0;
      if (std::sscanf(lines[i].c_str(), "%d more requests turned away in the last second", &n) == 1) counted += n;
    }
    return single + counted == kFlood;
  })) << single
      << " logged, " << counted << " counted";
  EXPECT_LE(lines.size() - before, size_t(4 * (seconds + 2))) << "three lines a second at most";
  EXPECT_GE(single, 1);
}

TEST_F(RemoteServerTest, SetUpFailuresArePrinted) {
  const uint16_t taken = StartServer();
  RemoteServerOptions options;
  options.port = taken;
  std::ostringstream out;
  options.out = &out;
  RemoteControlServer second(port, *services, options);
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(out.str(), "Bind error!\n");

  options.port = 0;
  options.bindAddress = "not an address";
  std::ostringstream out2;
  options.out = &out2;
  {
    RemoteControlServer third(port, *services, options);
    EXPECT_FALSE(third.Start());
    EXPECT_EQ(out2.str(), "Bind error!\n");
  }
  // The servers that never ran leave the services to the one that does.
  EXPECT_EQ(Ask(taken, "UPGRADE:" + dir.File("missing.rcd") + "\r\n"), "Error_Code=-1\r\n");
}

TEST_F(RemoteServerTest, ListensOnLoopbackOnlyByDefault) {
  EXPECT_EQ(RemoteServerOptions{}.bindAddress, "127.0.0.1");
  EXPECT_EQ(settings.remoteBindAddress, "127.0.0.1");  // as shipped in set.ini
  EXPECT_EQ(RemoteServerOptions{}.port, 5150);
}

// --- The remote upgrade --------------------------------------------------------------------

TEST_F(RemoteServerTest, RemoteUpgradeOfSimulatedRadioRunsToTheEndAndWritesTheResultFile) {
  const uint16_t tcp = StartServer();
  const std::string dataFile = dir.Write("station/radio.rcd", radioData);
  EXPECT_EQ(Ask(tcp, "UPGRADE:" + dataFile + "\r\n"), "ok\r\n");

  auto summary = services->lastSummary();
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->report, ReportCode::Finished);
  auto result = DecodeRemoteResult(test::ReadFileBytes(dir.File("station/radio.fuc")));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->reportCode, int(ReportCode::Finished));
  EXPECT_EQ(result->serialNumber, "PT24000001");
  EXPECT_EQ(result->burned, 2u);
  ByteView flash = radio->Flash(0).View(0x800000, uint32_t(english.size()));
  EXPECT_EQ(Bytes(flash.begin(), flash.end()), english);
  EXPECT_TRUE(port.Logged("Upgrading Finished!"));
  // The radio is free again: the port is closed and the controls are back.
  EXPECT_FALSE(services->Busy());
  EXPECT_FALSE(transport.IsOpened());
  EXPECT_TRUE(WaitFor([&] { return port.controlsEnabled.load(); }));
}

TEST_F(RemoteServerTest, RefusedPreparationIsAnsweredWithItsCodeAndBurnsNothing) {
  const uint16_t tcp = StartServer();
  EXPECT_EQ(Ask(tcp, "UPGRADE:" + dir.File("missing.rcd") + "\r\n"), "Error_Code=-1\r\n");
  RadioIdentity old = EligibleIdentity();
  old.softwareVersion = "A4.05.10.001";
  auto image = BuildRcdbImage(SampleRcdbSpec(old));
  ASSERT_TRUE(image);
  const std::string dataFile = dir.Write("old.rcd", *image);
  EXPECT_EQ(Ask(tcp, "UPGRADE:" + dataFile + "\r\n"), "Error_Code=17\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("old.fuc")));
  ByteView flash = radio->Flash(0).View(0x800000, 16);
  EXPECT_NE(Bytes(flash.begin(), flash.end()), Bytes(english.begin(), english.begin() + 16));
  EXPECT_FALSE(services->Busy());
}

TEST_F(RemoteServerTest, UpgradeIsRefusedWhileAnOperationRuns) {
  const uint16_t tcp = StartServer();
  const std::string dataFile = dir.Write("radio.rcd", radioData);

  // The operator's upgrade is in its connect step.
  ASSERT_TRUE(port.OnPump([&] { return controller.StartUpgrade(); }));
  EXPECT_EQ(Ask(tcp, "UPGRADE:" + dataFile + "\r\n"), "Error_Code=30\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("radio.fuc")));
  // The identity check reads nothing of the radio and still answers.
  EXPECT_EQ(Ask(tcp, "XUID:" + IdentityFile(EligibleIdentity()) + "\r\n"), "ok\r\n");
  port.OnPump([&] {
    runner.connectSink->Report(ReportCode::OpenFailed);
    return 0;
  });
  ASSERT_TRUE(WaitFor([&] { return port.OnPump([&] { return controller.phase() == OperationPhase::Idle; }); }));

  // Another remote upgrade holding the radio refuses it too, and disables the window's start.
  {
    auto held = services->BeginUpgrade();
    ASSERT_TRUE(held);
    EXPECT_TRUE(services->Busy());
    EXPECT_TRUE(WaitFor([&] { return !port.controlsEnabled.load(); }));
    EXPECT_EQ(Ask(tcp, "UPGRADE:" + dataFile + "\r\n"), "Error_Code=30\r\n");
  }
  EXPECT_FALSE(services->Busy());
  EXPECT_EQ(Ask(tcp, "UPGRADE:" + dataFile + "\r\n"), "ok\r\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("radio.fuc")));
}

TEST_F(RemoteServerTest, StopEndsWaitingConnections) {
  const uint16_t tcp = StartServer();
  int waiting = Connect(tcp);
  ASSERT_TRUE(WaitFor([&] { return server->waitingConnections() == 1; }));
  const auto start = Clock::now();
  server->Stop();
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_EQ(server->waitingConnections(), 0);
  EXPECT_EQ(server->activeHandlers(), 0);
  EXPECT_EQ(ReadToEnd(waiting), "");
  close(waiting);
}

}  // namespace
}  // namespace lw
