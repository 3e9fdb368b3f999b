// The replay backend: a Comm.log written by the transport while it talked to a simulated radio,
// played back through a second transport as the radio.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/text.h"
#include "link/comm_log.h"
#include "link/link_frame.h"
#include "link/replay_backend.h"
#include "link/xrcp.h"
#include "link_fixture.h"

namespace lw {
namespace {

using test::SimLink;
using test::TempDir;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Records three exchanges with a simulated radio (the last one a read of flash contents).
std::string Record(const TempDir& dir) {
  LinkOptions options = test::FastLinkOptions();
  options.commLog = true;
  options.commLogPath = dir.File("Comm.log");
  sim::SimProfile profile = sim::DefaultSimProfile();
  profile.bootloader = "01.04.007";
  profile.radioState = 2;
  SimLink link(profile, options);
  link.radio->Flash(0).Load(0x1000, Bytes{1, 2, 3, 4});
  EXPECT_TRUE(link.opened);
  EXPECT_EQ(QueryBootloaderVersion(link.transport), "01.04.007");
  EXPECT_EQ(QueryRadioState(link.transport), 2);
  Bytes read;
  ProgressSteps steps;
  steps.pause = [](int) {};
  EXPECT_EQ(ReadArea(link.transport, steps, 0x1000, 4, 4, 0, read), kOk);
  EXPECT_EQ(read, (Bytes{1, 2, 3, 4}));
  return options.commLogPath;
}

struct Player {
  explicit Player(std::vector<TraceFrame> frames, bool cutOff = false) : backend(std::move(frames), "rec.log", cutOff) {
    transport.SetAnswerTimeout(100);
    int classFlag = 0;
    transport.Scan(nullptr, classFlag);
    opened = transport.Open(1);
  }
  ReplayBackend backend;
  MemoryPortStore store;
  UsbTransport transport{backend, &store, test::FastLinkOptions()};
  bool opened = false;
};

TEST(Replay, ARecordedSessionPlaysBackWithTheSameAnswers) {
  TempDir dir;
  auto frames = ParseTrace(Slurp(Record(dir)));
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->size(), 6u);
  Player player(*frames);
  ASSERT_TRUE(player.opened);
  EXPECT_EQ(QueryBootloaderVersion(player.transport), "01.04.007");
  EXPECT_EQ(QueryRadioState(player.transport), 2);
  Bytes read;
  ProgressSteps steps;
  steps.pause = [](int) {};
  EXPECT_EQ(ReadArea(player.transport, steps, 0x1000, 4, 4, 0, read), kOk);
  EXPECT_EQ(read, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(player.backend.RequestsReplayed(), 3u);
  bool cutOff = true;
  (void)ParseTrace(Slurp(dir.File("Comm.log")), &cutOff);
  EXPECT_FALSE(cutOff);
  EXPECT_TRUE(player.backend.Divergence().empty());
  EXPECT_FALSE(player.backend.Exhausted());
}

TEST(Replay, ARequestThatDiffersStopsTheRadioAndSaysWhere) {
  TempDir dir;
  auto frames = ParseTrace(Slurp(Record(dir)));
  ASSERT_TRUE(frames);
  Player player(*frames);
  ASSERT_TRUE(player.opened);
  EXPECT_TRUE(QueryBootloaderVersion(player.transport));
  // The state query with 0x08 instead of 0x07 (its check word differs too, so the first
  // differing byte is found, not assumed).
  const uint8_t other[] = {0x08};
  const Bytes sent = BuildLinkFrame(kCmdRadioState, other);
  const Bytes& recorded = (*frames)[2].bytes;
  ASSERT_EQ(sent.size(), recorded.size());
  size_t at = 0;
  while (sent[at] == recorded[at]) ++at;
  EXPECT_EQ(player.transport.Exchange(kCmdRadioState, other, true), nullptr);
  EXPECT_EQ(player.backend.Divergence(),
            Format("replay diverged at request 2 (line 3 of rec.log): byte %zu differs, expected %02X, sent %02X", at,
                   recorded[at], sent[at]));
  // From there on the radio is gone: the recorded request itself gets no answer either.
  EXPECT_FALSE(QueryRadioState(player.transport));
  EXPECT_FALSE(player.backend.Enumerate(UsbDeviceClass::Primary)->size());
}

TEST(Replay, ARecordingThatEndsIsAnUnpluggedRadio) {
  TempDir dir;
  std::string text = Slurp(Record(dir));
  // The log cut in the middle of its fourth line: three whole lines are left.
  size_t cut = 0;
  for (int i = 0; i < 3; ++i) cut = text.find('\n', cut) + 1;
  bool cutOff = false;
  auto frames = ParseTrace(text.substr(0, cut + 10), &cutOff);
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->size(), 3u);
  EXPECT_TRUE(cutOff);
  Player player(*frames, cutOff);
  bool unplugged = false;
  player.backend.SetHotplugCallback([&] { unplugged = true; });
  EXPECT_TRUE(QueryBootloaderVersion(player.transport));
  EXPECT_FALSE(player.backend.Exhausted());
  // The second request was recorded, its answer line was not: the recording ends there, and
  // the radio with it.
  EXPECT_FALSE(QueryRadioState(player.transport));
  EXPECT_TRUE(player.backend.Exhausted());
  EXPECT_TRUE(unplugged);
  const uint8_t request[] = {kRadioStateRequest};
  size_t written = 1;
  EXPECT_EQ(player.transport.Exchange(kCmdRadioState, request, true, written), nullptr);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(player.backend.Exhausted());
  EXPECT_TRUE(unplugged);
  EXPECT_TRUE(player.backend.Divergence().empty());
  EXPECT_TRUE(player.backend.Enumerate(UsbDeviceClass::Primary)->empty());
}

TEST(Replay, TheLogIsReadStrictly) {
  const std::string good = FormatTraceLine(TraceDirection::ToRadio, Bytes{0x0B, 0x00}, 0);
  struct Case {
    std::string text;
    const char* error;  // nullptr: reads
  } cases[] = {
      {good + "\r\n" + FormatTraceLine(TraceDirection::FromRadio, Bytes{0xAA}, 0), nullptr},
      {good + "garbage\r\n", "line 2: not a \"PC -> Radio\" or \"PC <- Radio\" line"},
      {" PC -> Radio(2024-05-01): 0B\r\n", "line 1: the time stamp \"2024-05-01\" is not YYYY-MM-DD HH:MM:SS"},
      {" PC -> Radio(2024-05-01 14:03:59):  0B 0G\r\n", "line 1: \"0G\" is not a byte in hexadecimal"},
      {" PC -> Radio(2024-05-01 14:03:59)  0B\r\n", "line 1: no \"):\" after the time stamp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto frames = ParseTrace(c.text);
    EXPECT_EQ(frames.ok(), c.error == nullptr);
    if (c.error) {
      EXPECT_EQ(frames.status().message(), c.error);
    }
  }
  auto frames = ParseTrace(cases[0].text);
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->size(), 2u);
  EXPECT_EQ((*frames)[1].line, 3);
  EXPECT_EQ((*frames)[1].direction, TraceDirection::FromRadio);
  EXPECT_EQ((*frames)[1].bytes, Bytes{0xAA});

  TempDir dir;
  const Status none = ReplayBackend::Load(dir.File("none.log")).status();
  EXPECT_FALSE(none.ok());
  EXPECT_EQ(none.message(), "cannot read the recorded session " + dir.File("none.log"));
  std::ofstream(dir.File("answers.log"), std::ios::binary) << FormatTraceLine(TraceDirection::FromRadio, Bytes{1}, 0);
  const Status answersOnly = ReplayBackend::Load(dir.File("answers.log")).status();
  EXPECT_FALSE(answersOnly.ok());
  EXPECT_EQ(answersOnly.message(), dir.File("answers.log") + ": no request recorded (was \"CommLog\" on in set.ini?)");
}

}  // namespace
}  // namespace lw
