// Exchange: the length and body phases, the time-out, answer checking, stale answers, the
// answer slot and the trace.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "link/comm_log.h"
#include "link/link_frame.h"
#include "link/xrcp.h"
#include "link_fixture.h"

namespace lw {
namespace {

using test::FastLinkOptions;
using test::ScriptedLink;
using test::SimLink;
using test::TempDir;

Bytes Answer(uint16_t code, Bytes payload) { return EncodeLinkFrame(code, payload); }

TEST(Exchange, LengthFieldTwoIsIgnoredAndReadAgain) {
  ScriptedLink link;
  link.Say({0x02, 0x00});
  link.Say(Answer(0x0342, {'0', '1', '0', '4', '0', '0', '6'}));
  AnswerPtr answer = link.transport.Exchange(0x0342, {}, true);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->command, 0x0342);
  EXPECT_EQ(BootloaderVersionFromAnswer(*answer), "01.04.006");
}

// A radio that answers every read with empty answers (length 2) and nothing else: the exchange
// ends by the answer time-out, or at once when the operation's stop flag is set, instead of
// reading empty answers for ever. Run on a thread of its own so that a regression fails the
// test instead of hanging it (the radio then falls silent and the old loop ends too).
TEST(Exchange, EndlessEmptyAnswersEndByTimeOutOrStopFlag) {
  struct Case {
    const char* name;
    int answerTimeoutMs;
    bool stopAfter100ms;
  };
  for (const Case& c : {Case{"time-out", 200, false}, Case{"stop flag", 30'000, true}}) {
    SCOPED_TRACE(c.name);
    ScriptedLink link;
    link.backend.state.pattern = {0x02, 0x00};
    link.backend.state.endless = true;
    link.transport.SetAnswerTimeout(c.answerTimeoutMs);
    auto stop = std::make_shared<std::atomic<bool>>(false);
    LinkStopScope scope(link.transport, stop);
    std::atomic<bool> done{false};
    bool answered = true;
    std::thread exchange([&] {
      answered = bool(link.transport.Exchange(0x0342, {}, true));
      done = true;
    });
    if (c.stopAfter100ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop->store(true);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(done) << "the exchange kept reading empty answers";
    link.backend.state.endless = false;  // lets a looping exchange end by its time-out
    stop->store(true);
    exchange.join();
    EXPECT_FALSE(answered);
    EXPECT_FALSE(link.transport.AnswerSlot());
  }
}

// A radio that babbles: a slow, steady stream of bytes that read as an acceptable length and
// then never make a frame. Opening it (which drains what it still had to say), an exchange, and
// the drain of the next exchange all end by the answer time-out, or sooner by the stop flag,
// however long the stream would go on. Run on a thread of their own, so that a regression
// fails the test instead of hanging it (the radio is then pulled out, which ends any loop).
TEST(Exchange, ABabblingRadioCostsNoMoreThanTheAnswerTimeOut) {
  struct Case {
    const char* name;
    bool stopAfter100ms;
  };
  for (const Case& c : {Case{"time-out", false}, Case{"stop flag", true}}) {
    SCOPED_TRACE(c.name);
    sim::SimProfile profile = sim::DefaultSimProfile();
    profile.faults.babbleBytesPerSecond = 400;  // a 10 KB body would take 25 s
    sim::SimulatedBackend backend;
    MemoryPortStore store;
    UsbTransport transport(backend, &store, FastLinkOptions());
    auto radio = backend.Attach(profile);
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    transport.SetAnswerTimeout(c.stopAfter100ms ? 30'000 : 500);
    auto stop = std::make_shared<std::atomic<bool>>(false);
    std::atomic<int> step{0};
    std::thread run([&] {
      LinkStopScope scope(transport, stop);
      if (transport.Open(1)) {
        step = 1;
        transport.Exchange(0x0342, {}, true);
        step = 2;
        transport.Exchange(0x0342, {}, true);  // drains the stale babble first
      }
      step = 3;
    });
    const auto start = std::chrono::steady_clock::now();
    if (c.stopAfter100ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop->store(true);
    }
    while (step < 3 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(step, 3) << "stuck at step " << step;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    radio->Unplug();
    stop->store(true);
    run.join();
  }
}

TEST(Exchange, AnswerOfLengthElevenHasAnEmptyPayload) {
  ScriptedLink link;
  link.Say(Answer(0x0777, {}));
  AnswerPtr answer = link.transport.Exchange(0x0777, {}, true);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->payloadLength, 0);
  EXPECT_TRUE(answer->payload.empty());
}

// The body may arrive in pieces (USB packets); it is gathered, not thrown away.
TEST(Exchange, BodyGatheredOverSeveralReads) {
  ScriptedLink link;
  Bytes frame = Answer(0x01C2, Bytes(300, 0x5A));
  link.Say(Bytes(frame.begin(), frame.begin() + 1));
  link.Say(Bytes(frame.begin() + 1, frame.begin() + 100));
  link.Say(Bytes(frame.begin() + 100, frame.end()));
  AnswerPtr answer = link.transport.Exchange(0x01C2, {}, true);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->payload, Bytes(300, 0x5A));
}

TEST(Exchange, LengthOutsideElevenTo10242IsNoAnswerAndIsDrained) {
  for (uint16_t length : {3, 10, 10243, 65535}) {
    ScriptedLink link;
    Bytes junk(2 + 40, 0xEE);
    PutLe16(junk.data(), length);
    link.Say(junk);
    EXPECT_FALSE(link.transport.Exchange(0x0342, {}, true)) << length;
    EXPECT_FALSE(link.transport.AnswerSlot());
    // The rest of the junk is gone: the next answer is read from its own start.
    link.Say(Answer(0x0201, {0, 7, 2}));
    AnswerPtr next = link.transport.Exchange(0x0201, {}, true);
    ASSERT_TRUE(next) << length;
    EXPECT_EQ(next->payload, (Bytes{0, 7, 2}));
  }
}

TEST(Exchange, DamagedAnswerIsNoAnswerUnlessCheckingIsOff) {
  for (bool check : {true, false}) {
    LinkOptions options = FastLinkOptions();
    options.checkAnswers = check;
    ScriptedLink link(options);
    Bytes frame = Answer(0x01C2, {0, 0, 1, 2, 3, 4, 5, 6, 7});
    frame[10] ^= 0xFF;  // a payload byte changed on the way
    link.Say(frame);
    AnswerPtr answer = link.transport.Exchange(0x01C2, {}, true);
    EXPECT_EQ(bool(answer), !check);
    EXPECT_EQ(bool(link.transport.AnswerSlot()), !check);
  }
}

TEST(Exchange, SilentRadioTimesOutAndEmptiesTheSlot) {
  ScriptedLink link;
  link.Say(Answer(0x0201, {0, 7, 1}));
  ASSERT_TRUE(link.transport.Exchange(0x0201, {}, true));
  link.transport.SetAnswerTimeout(150);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.transport.Exchange(0x0342, {}, true));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_FALSE(link.transport.AnswerSlot());
}

TEST(Exchange, NoAnswerWantedReturnsNoneAndKeepsTheSlot) {
  ScriptedLink link;
  link.Say(Answer(0x0201, {0, 7, 1}));
  AnswerPtr first = link.transport.Exchange(0x0201, {}, true);
  size_t written = 0;
  EXPECT_FALSE(link.transport.Exchange(0x01C3, Bytes(10), false, written));
  EXPECT_EQ(written, 21u);
  EXPECT_EQ(link.transport.AnswerSlot(), first);
}

TEST(Exchange, OversizedPayloadIsNotSent) {
  ScriptedLink link;
  size_t written = 99;
  EXPECT_FALSE(link.transport.Exchange(0x01C3, Bytes(kMaxRequestPayload + 1), true, written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(link.backend.state.written.empty());
}

// A kept answer outlives the slot: ReleaseAnswer and later exchanges do not free it.
TEST(Exchange, KeptAnswerSurvivesReleaseAndReplacement) {
  ScriptedLink link;
  link.Say(Answer(0x01C2, {0, 0, 9, 9}));
  link.Say(Answer(0x0201, {0, 7, 1}));
  AnswerPtr kept = link.transport.Exchange(0x01C2, {}, true);
  link.transport.ReleaseAnswer();
  EXPECT_FALSE(link.transport.AnswerSlot());
  AnswerPtr second = link.transport.Exchange(0x0201, {}, true);
  ASSERT_TRUE(kept && second);
  EXPECT_EQ(kept->payload, (Bytes{0, 0, 9, 9}));
  EXPECT_EQ(link.transport.AnswerSlot(), second);
}

// A late answer must never be taken for the answer to the next request.
TEST(Exchange, LateAnswerIsNotTakenForTheNextOne) {
  sim::SimProfile profile = sim::DefaultSimProfile();
  profile.faults.delay.push_back({kCmdBootloaderVersion, 1, false, 250});
  SimLink link(profile);
  ASSERT_TRUE(link.opened);
  link.transport.SetAnswerTimeout(60);
  EXPECT_FALSE(QueryBootloaderVersion(link.transport));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the late answer is now waiting
  link.transport.SetAnswerTimeout(300);
  auto state = QueryRadioState(link.transport);
  ASSERT_TRUE(state);
  EXPECT_EQ(*state, 0);
  EXPECT_FALSE(link.radio->HasAnswer());
}

TEST(Exchange, TraceHoldsEveryFrameAndNothingWhenOff) {
  TempDir dir;
  for (bool on : {false, true}) {
    LinkOptions options = FastLinkOptions();
    options.commLog = on;
    options.commLogPath = dir.File(on ? "on.log" : "off.log");
    ScriptedLink link(options);
    link.Say(Answer(0x0342, {'0', '1', '0', '4', '0', '0', '6'}));
    ASSERT_TRUE(link.transport.Exchange(0x0342, {}, true));
    size_t written = 0;
    link.transport.Exchange(0x01C3, Bytes{0, 0, 0, 0, 0, 1, 0, 0xAB}, false, written);
    if (!on) {
      EXPECT_FALSE(std::filesystem::exists(options.commLogPath));
      continue;
    }
    std::ifstream in(options.commLogPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines;
    std::string log = text.str();
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(log.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u) << log;
    EXPECT_EQ(log.size(), log.rfind("\r\n") + 2) << "every line ends in CR LF";
    auto bytesOf = [](const std::string& line) { return line.substr(line.find("): ") + 3); };
    Bytes answer = Answer(0x0342, {'0', '1', '0', '4', '0', '0', '6'});
    Bytes write = BuildLinkFrame(0x01C3, Bytes{0, 0, 0, 0, 0, 1, 0, 0xAB});
    EXPECT_EQ(lines[0].substr(0, 13), " PC -> Radio(");
    EXPECT_EQ(bytesOf(lines[0]), " 0B 00 EB CD 02 42 03 00 00 ED 03");
    EXPECT_EQ(lines[1].substr(0, 13), " PC <- Radio(");
    EXPECT_EQ(bytesOf(lines[1]), " " + HexString(ByteView(answer).subspan(2)));
    EXPECT_EQ(bytesOf(lines[2]), " " + HexString(write));

    link.transport.ClearTrace();
    EXPECT_EQ(std::filesystem::file_size(options.commLogPath), 0u);
  }
}

}  // namespace
}  // namespace lw
