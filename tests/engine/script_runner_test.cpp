// The burn-script runner against the simulated radio: the shipped Torvex.ini sections are run
// and the radio's flash and the requests it received are checked.
#include "engine/script_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <tuple>

#include "common/codes.h"
#include "common/text.h"
#include "engine/hex_image.h"
#include "engine/image_test_util.h"
#include "engine/runner_test_util.h"
#include "link/link_fixture.h"
#include "link/xrcp.h"
#include "ui/translate.h"

namespace lw {
namespace {

using test::RecordingSink;

// ":LLAAAA00DD..CC" for `data` at `address`.
std::string HexRecord(uint16_t address, const Bytes& data) {
  Bytes record = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), 0};
  record.insert(record.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : record) sum = uint8_t(sum + b);
  record.push_back(uint8_t(-sum));
  return ":" + HexString(record, "") + "\n";
}

Bytes Ramp(size_t n, uint8_t start = 1) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(start + i * 7);
  return bytes;
}

Bytes FlashBytes(sim::SimulatedRadio& radio, uint32_t address, uint32_t length) {
  ByteView view = radio.Flash(0).View(address, length);
  return Bytes(view.begin(), view.end());
}

class ScriptRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(sim::DefaultSimProfile()); }

  void Start(sim::SimProfile profile) {
    SetTranslationTable({});
    link.reset();  // one radio open per process: the old one goes first
    link = std::make_unique<test::SimLink>(std::move(profile));
    state.transport = &link->transport;
    ASSERT_TRUE(link->opened);
    ASSERT_TRUE(shipped.LoadBurnScript(test::ShippedScriptPath()));
    state.script = &shipped;
    state.sink = &sink;
    state.stop = sink.StopFlag();
    state.pause = [](int) {};
  }

  sim::SimulatedRadio& radio() { return *link->radio; }
  std::vector<sim::SimRequest> Requests(uint16_t code) { return radio().Requests(code); }

  // Every phase ends exactly at the total it announced: positions 1, 2, ..., total.
  void ExpectStepsMatchTotals() {
    for (const auto& phase : sink.phases) {
      std::vector<int> expected(size_t(std::max(phase.total, 0)));
      std::iota(expected.begin(), expected.end(), 1);
      EXPECT_EQ(phase.positions, expected) << "phase \"" << phase.text << "\"";
    }
  }

  std::unique_ptr<test::SimLink> link;
  BurnScript shipped;
  RecordingSink sink;
  OperationState state;
};

TEST_F(ScriptRunnerTest, ArmMainHexLandsAtOriginWithItsSegmentTableAtExtorg) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(HexRecord(0x0000, Ramp(16)) + HexRecord(0x0010, Ramp(16, 50)) +
                             HexRecord(0x1000, Ramp(8, 90)) + ":00000001FF\n"),
            kHexLoaded);
  state.image.assign(hex.PackedSize(), 0xFF);
  ASSERT_EQ(hex.ReadPacked(state.image), state.image.size());
  state.imageLength = state.image.size();
  state.extra.assign(0x10000, 0xFF);
  state.extraLength = hex.BuildSegmentTable(state.extra, 0x10000, 0x20000);
  ASSERT_EQ(state.extraLength, 32u);
  // Old firmware in both windows: only an erased window takes the new bytes unchanged.
  radio().Flash(0).Load(0x20000, Bytes(0x1000, 0x00));
  radio().Flash(0).Load(0x400000, Bytes(0x100, 0x00));

  ASSERT_EQ(RunKind(state, "arm_main"), kOk);

  EXPECT_EQ(FlashBytes(radio(), 0x20000, uint32_t(state.imageLength)), state.image);
  EXPECT_EQ(FlashBytes(radio(), 0x400000, 32), Bytes(state.extra.begin(), state.extra.begin() + 32));
  EXPECT_EQ(FlashBytes(radio(), 0x400000 + 32, 16), Bytes(16, 0xFF));
  EXPECT_TRUE(radio().FlashErrors().empty());
  // RCDBLENGTH bounds the firmware erase to its window: 31 blocks of 128 KiB, then EXTORG.
  auto erases = Requests(kCmdMemoryErase);
  ASSERT_EQ(erases.size(), 32u);
  EXPECT_EQ(erases.front().Address(), 0x20000u);
  EXPECT_EQ(erases[30].Address(), 0x20000u + 30 * 0x20000);
  EXPECT_EQ(erases.back().Address(), 0x400000u);
  EXPECT_EQ(erases.back().Length(), 0x10000 / 256);
  ASSERT_EQ(sink.phases.size(), 3u);
  EXPECT_EQ(sink.phases[0].total, 32);
  EXPECT_EQ(sink.phases[0].text, "Erasing the main processor firmware");
  EXPECT_EQ(sink.phases[1].total, 1);
  EXPECT_EQ(sink.phases[2].total, 1);
  ExpectStepsMatchTotals();
}

// The compressed firmware may still be in the making when the kind starts: the erases, whose
// areas do not follow the image, go out meanwhile; the write waits for the image, and the radio
// sees the same requests in the same order as with the image there from the start.
TEST_F(ScriptRunnerTest, ArmMainErasesWhileItsImageIsStillBeingMade) {
  HexImage hex;
  std::string text;
  for (uint16_t at = 0; at < 0x500; at += 16) text += HexRecord(at, Ramp(16, uint8_t(at)));
  ASSERT_EQ(hex.LoadFromText(text + ":00000001FF\n"), kHexLoaded);
  Bytes image(hex.PackedSize(), 0xFF);
  ASSERT_GT(image.size(), 512u) << "more than one write block: the write phase's count needs the image";
  ASSERT_EQ(hex.ReadPacked(image), image.size());
  state.extra.assign(0x10000, 0xFF);
  state.extraLength = hex.BuildSegmentTable(state.extra, 0x10000, 0x20000);
  std::promise<Bytes> making;
  state.SetPendingImage(making.get_future());

  std::atomic<int> rc{-1};
  std::thread run([&] { rc = RunKind(state, "arm_main"); });
  // Every erase is answered while there is still no image; nothing is written yet.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Requests(kCmdMemoryErase).size() < 32 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(Requests(kCmdMemoryErase).size(), 32u);
  EXPECT_TRUE(Requests(kCmdMemoryWrite).empty());
  EXPECT_EQ(rc.load(), -1) << "the kind waits for its image";
  making.set_value(image);
  run.join();

  ASSERT_EQ(rc.load(), kOk);
  EXPECT_FALSE(state.ImagePending());
  EXPECT_EQ(state.imageLength, image.size());
  EXPECT_EQ(FlashBytes(radio(), 0x20000, uint32_t(image.size())), image);
  EXPECT_EQ(FlashBytes(radio(), 0x400000, 32), Bytes(state.extra.begin(), state.extra.begin() + 32));
  std::vector<uint16_t> codes;
  for (const auto& request : radio().Requests()) codes.push_back(request.code);
  const auto firstWrite = std::find(codes.begin(), codes.end(), kCmdMemoryWrite);
  EXPECT_EQ(std::count(codes.begin(), firstWrite, kCmdMemoryErase), 32) << "all erases before the first write";
  EXPECT_EQ(std::count(firstWrite, codes.end(), kCmdMemoryErase), 0);
  ASSERT_EQ(sink.phases.size(), 3u);
  EXPECT_EQ(sink.phases[0].total, 32);
  EXPECT_EQ(sink.phases[1].total, 3) << "the write phase is counted with the image there";
  ExpectStepsMatchTotals();
}

// Whether the image is there from the start or still being made when the kind starts, the
// radio gets the same requests (erase areas that follow the image's length or a picture's
// header included) and every phase announces the same total.
TEST_F(ScriptRunnerTest, APendingImageChangesNoRequestAndNoPhase) {
  struct Case {
    const char* kind;
    size_t size;  // the picture's size picks its erase window
  };
  for (const Case& c : {Case{"pic_gif package", 0x1D0000}, Case{"dsp_main", 3000}, Case{"arm_main", 1500}}) {
    Bytes image(c.size);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 13 + 1);
    using Seen = std::vector<std::tuple<uint16_t, uint32_t, uint16_t>>;
    auto run = [&](bool pending) {
      Start(sim::DefaultSimProfile());
      sink.phases.clear();
      if (pending) {
        state.SetPendingImage(std::async(std::launch::async, [image] {
          std::this_thread::sleep_for(std::chrono::milliseconds(30));
          return image;
        }));
      } else {
        state.SetImage(image);
      }
      EXPECT_EQ(RunKind(state, c.kind), kOk) << c.kind;
      Seen seen;
      for (const auto& r : radio().Requests()) seen.emplace_back(r.code, r.Address(), r.Length());
      std::vector<int> totals;
      for (const auto& phase : sink.phases) totals.push_back(phase.total);
      return std::make_pair(seen, totals);
    };
    const auto ready = run(false);
    const auto pending = run(true);
    EXPECT_FALSE(ready.first.empty()) << c.kind;
    EXPECT_EQ(pending.first, ready.first) << c.kind << ": requests";
    EXPECT_EQ(pending.second, ready.second) << c.kind << ": phase totals";
  }
}

TEST_F(ScriptRunnerTest, AscendingWriteSkipsErasedBlocksButCountsThem) {
  Bytes image(512, 0xA5);
  image.insert(image.end(), 512, 0xFF);
  image.insert(image.end(), 100, 0x5A);
  state.SetImage(image);

  ASSERT_EQ(RunKind(state, "dsp_boot"), kOk);

  auto writes = Requests(kCmdMemoryWrite);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].Address(), 0x410000u);
  EXPECT_EQ(writes[0].Length(), 512);
  EXPECT_EQ(writes[1].Address(), 0x410400u);
  EXPECT_EQ(writes[1].Length(), 100);
  EXPECT_EQ(FlashBytes(radio(), 0x410000, uint32_t(image.size())), image);
  ASSERT_EQ(sink.phases.size(), 2u);
  EXPECT_EQ(sink.phases[1].total, 3);
  ExpectStepsMatchTotals();
}

TEST_F(ScriptRunnerTest, DescendingWriteSendsTheLastBlockFirstPadded) {
  Bytes image = Ramp(1100);
  state.SetImage(image);

  ASSERT_EQ(RunKind(state, "bootloader"), kOk);

  auto writes = Requests(kCmdMemoryWrite);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].Address(), 0x400u);
  EXPECT_EQ(writes[1].Address(), 0x200u);
  EXPECT_EQ(writes[2].Address(), 0x000u);
  for (const auto& w : writes) EXPECT_EQ(w.Length(), 512);
  ByteView last = writes[0].Data();
  EXPECT_TRUE(std::equal(last.begin(), last.begin() + 76, image.begin() + 1024));
  EXPECT_TRUE(std::all_of(last.begin() + 76, last.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(FlashBytes(radio(), 0, 1100), image);
  ExpectStepsMatchTotals();
}

TEST_F(ScriptRunnerTest, OldVersionLinesRunOnlyForTheOldestBootloader) {
  Bytes data = Ramp(0x2000, 3);
  sim::SimProfile profile = sim::DefaultSimProfile();
  profile.radioData = data;
  profile.radioDataAddress = 0xC00000;
  for (bool newer : {false, true}) {
    SCOPED_TRACE(newer ? "01.04.006" : "01.04.005");
    Start(profile);
    state.newerBootloader = newer;
    sink.phases.clear();

    ASSERT_EQ(RunKind(state, "read_rcdb"), kOk);

    EXPECT_EQ(Requests(kCmdRadioState).size(), newer ? 0u : 1u);
    auto reads = Requests(kCmdMemoryRead);
    ASSERT_EQ(reads.size(), 0x100000u / 512);
    EXPECT_EQ(reads.front().Address(), 0xC00000u);
    EXPECT_EQ(reads.back().Address(), 0xC00000u + 0x100000 - 512);
    ASSERT_EQ(state.readBuffer.size(), 0x100000u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), state.readBuffer.begin()));
    ExpectStepsMatchTotals();
    state.readBuffer.clear();
  }
}

// cps_data with its data from a radio data file: the radio's own read is skipped, the file
// is converted into the image, and the results of the conversion decide the line.
TEST_F(ScriptRunnerTest, CpsDataConversionResults) {
  struct Case {
    const char* name;
    bool fileThere;
    bool converts;
    bool accepted;
    int expected;
  } cases[] = {
      {"converted", true, true, true, kOk},
      {"conversion fails", true, false, true, kConversionFailed},
      {"converted image rejected", true, true, false, kValidationFailed},
      {"source file missing", false, true, true, kNoAnswer},
  };
  test::ScratchDir dir;
  const Bytes old = Ramp(0x20000, 9);
  test::WriteAll(dir.File("radio.rcd"), old);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(sim::DefaultSimProfile());
    sink.exitAllowed = false;
    sink.phases.clear();
    state.readBuffer.clear();
    state.sourceDataFile = c.fileThere ? dir.File("radio.rcd") : dir.File("missing.rcd");
    PackageHeader header;
    header.keepCpsData = 1;
    state.packageHeader = header;
    Bytes seenSource;
    state.convert = [&](std::span<uint8_t> image, ByteView source) {
      seenSource.assign(source.begin(), source.end());
      image[0] = 0xC0;
      return c.converts;
    };
    state.validate = [&](ByteView image) { return c.accepted && image[0] == 0xC0; };
    state.SetImage(Bytes(0x800, 0x11));

    EXPECT_EQ(RunKind(state, "cps_data"), c.expected);

    EXPECT_TRUE(Requests(kCmdMemoryRead).empty()) << "the data come from the file";
    EXPECT_EQ(Requests(kCmdMemoryErase).empty(), c.expected != kOk);
    if (c.fileThere) {
      EXPECT_EQ(seenSource, old);
    } else {
      EXPECT_TRUE(sink.exitAllowed);
    }
    if (c.expected == kOk) {
      EXPECT_EQ(radio().Flash(0).View(0xB00000, 1)[0], 0xC0);
      EXPECT_EQ(FlashBytes(radio(), 0xB00001, 0x7FF), Bytes(0x7FF, 0x11));
      ExpectStepsMatchTotals();
    }
  }
}

TEST_F(ScriptRunnerTest, RcdbDataReadsConvertsClearsTheStatusByteAndWrites) {
  sim::SimProfile profile = sim::DefaultSimProfile();
  profile.radioData = Ramp(0x1000, 5);
  profile.radioDataAddress = 0xC00000;
  profile.infoBlock = Bytes(256, 0xF0);
  Start(profile);
  Bytes image = Ramp(0x900, 77);
  state.SetImage(image);

  ASSERT_EQ(RunKind(state, "rcdb_data"), kOk);

  ASSERT_EQ(state.readBuffer.size(), 0x100000u);
  EXPECT_TRUE(std::equal(profile.radioData.begin(), profile.radioData.end(), state.readBuffer.begin()));
  Bytes info = FlashBytes(radio(), 0xFE0000, 256);
  Bytes expected(256, 0xF0);
  expected[15] = 0x00;
  EXPECT_EQ(info, expected);
  EXPECT_EQ(FlashBytes(radio(), 0xC00000, uint32_t(image.size())), image);
  EXPECT_EQ(FlashBytes(radio(), 0xC00000 + uint32_t(image.size()), 16), Bytes(16, 0xFF));
  EXPECT_TRUE(radio().FlashErrors().empty());
  ExpectStepsMatchTotals();
}

TEST_F(ScriptRunnerTest, StepCountsAgreeWithCountStepsForEveryShippedKind) {
  for (std::string_view kind : {"bootloader", "dsp_main", "fpga_code", "english language package",
                                "user_defined", "dsp_main(Rx)"}) {
    SCOPED_TRACE(std::string(kind));
    sim::SimProfile profile = sim::DefaultSimProfile();
    profile.receiveSide = true;
    Start(profile);
    sink.phases.clear();
    state.SetImage(Ramp(1500));
    int counted = 0;
    for (const CommandLine& line : shipped.CommandLines(kind)) counted += CountSteps(state, kind, line);

    ASSERT_EQ(RunKind(state, kind), kOk);

    int reported = 0;
    for (const auto& phase : sink.phases) reported += int(phase.positions.size());
    EXPECT_EQ(reported, counted);
    ExpectStepsMatchTotals();
  }
}

TEST_F(ScriptRunnerTest, ArmMainEraseFollowsTheImageSizeWithoutRcdbLength) {
  BurnScript script;
  script.LoadBurnScriptText(
      "[arm_main]\nORIGIN = 0x020000\nLENGTH = 0x3E0000\n"
      "XRCP_Memory_Erase  0(1)  ORIGIN(4)  512(2)\n");
  state.script = &script;
  state.imageLength = 0x450000;  // the length alone decides; no bytes are written
  const CommandLine line = script.CommandLines("arm_main").at(0);
  EXPECT_EQ(CountSteps(state, "arm_main", line), 0x580000 / 0x20000);

  ASSERT_EQ(RunKind(state, "arm_main"), kOk);

  uint32_t units = 0;
  for (const auto& erase : Requests(kCmdMemoryErase)) units += erase.Length();
  EXPECT_EQ(units, 0x580000u / 256);
}

TEST_F(ScriptRunnerTest, PicturePackagePlacedByItsHeaderLayout) {
  Bytes image(0x1C0001, 0xFF);
  PutLe32(&image[12], 2);  // layout 2: the low placement
  image[200] = 0x42;
  state.SetImage(image);
  const CommandLine erase = shipped.CommandLines("pic_gif package").at(0);
  RunKind(state, "pic_gif package");

  auto erases = Requests(kCmdMemoryErase);
  ASSERT_FALSE(erases.empty());
  EXPECT_EQ(erases.front().Address(), 0x4C0000u);
  EXPECT_EQ(erases.size(), 0x200000u / 0x20000);  // 0x1C0001 bytes need the 0x200000 window
  EXPECT_EQ(CountSteps(state, "pic_gif package", erase), int(erases.size()));
  EXPECT_EQ(radio().Flash(0).View(0x4C0000 + 200, 1)[0], 0x42);
  ExpectStepsMatchTotals();
}

TEST_F(ScriptRunnerTest, AKindWithoutPhaseTextsIsOnePhaseAndTextsAreTranslated) {
  BurnScript script;
  script.LoadBurnScriptText(
      "[COMM DEFINE]\nXRCP_Radio_State=0x0201\n"
      "[plain]\nXRCP_Radio_State  7(1)\nXRCP_Radio_State  7(1)\n"
      "[tipped]\nXRCP_Radio_State  7(1)  [PROCESS_TIP=Checking]\n");
  state.script = &script;
  SetTranslationTable({{"Checking", "Prüfen"}});

  ASSERT_EQ(RunKind(state, "plain"), kOk);
  ASSERT_EQ(RunKind(state, "tipped"), kOk);

  ASSERT_EQ(sink.phases.size(), 2u);
  EXPECT_EQ(sink.phases[0].text, "");
  EXPECT_EQ(sink.phases[0].total, 2);
  EXPECT_EQ(sink.phases[1].text, "Prüfen");
  EXPECT_EQ(sink.logs, std::vector<std::string>{"Prüfen"});
  ExpectStepsMatchTotals();
  SetTranslationTable({});
}

TEST_F(ScriptRunnerTest, StopFlagEndsTheRunBeforeTheNextRequest) {
  state.SetImage(Ramp(100));
  sink.onProgress = [this](int position) {
    if (position == 3) sink.stop->store(true);
  };
  EXPECT_EQ(RunKind(state, "user_defined"), kNoAnswer);
  EXPECT_EQ(Requests(kCmdMemoryErase).size(), 3u);
  EXPECT_TRUE(Requests(kCmdMemoryWrite).empty());

  radio().ClearRequests();
  EXPECT_EQ(RunKind(state, "dsp_boot"), kNoAnswer);
  EXPECT_EQ(radio().RequestCount(), 0u);
}

// Lines a hand-edited script may hold: each runs without harm and gives its documented result.
TEST_F(ScriptRunnerTest, MalformedLines) {
  struct Case {
    const char* name;
    std::vector<const char*> lines;
    int expected;
    int lastCode;        // code of the last request the radio got; -1: none at all
    int lastPayloadSize;
  } cases[] = {
      {"keyword only", {"XRCP_Memory_Erase"}, kNoAnswer, kCmdMemoryErase, 0},
      {"unknown keyword goes out as command 0", {"XRCP_Unknown_Thing  1(1)"}, kNoAnswer, 0, 1},
      {"width 0 packs nothing", {"XRCP_Radio_State  7(0)"}, kOk, kCmdRadioState, 0},
      {"width 300 packs 300 bytes", {"XRCP_Radio_State  7(300)"}, kOk, kCmdRadioState, 300},
      {"width 3 packs nothing", {"XRCP_Radio_State  7(3)"}, kOk, kCmdRadioState, 0},
      {"undefined name reads as 0", {"XRCP_Radio_State  NoSuchName(1)"}, kOk, kCmdRadioState, 1},
      {"write-back without a read", {"XRCP_Memory_Write  0(1)  0x1000(4)  256(2)  [15=0x0]"}, kNoAnswer, -1, 0},
      {"write-back index past the block",
       {"XRCP_Memory_Read  0(1)  0xfe0000(4)  256(2)", "XRCP_Memory_Write  0(1)  0xfe0000(4)  256(2)  [300=1]"},
       kWriteRefused, kCmdMemoryRead, 7},
      {"erase block 0", {"XRCP_Memory_Erase  0(1)  ORIGIN(4)  0(2)"}, kNoAnswer, -1, 0},
      {"file write block 0", {"XRCP_Memory_Write  0(1)  ORIGIN(4)  0(2)  [FILE /BYTE/]"}, kWriteRefused, -1, 0},
      {"read of more than the data buffer", {"XRCP_Memory_Read  0(1)  ORIGIN(4)  512(2)  [RCDBLENGTH]"}, kNoAnswer,
       -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text =
        "[COMM DEFINE]\nXRCP_Memory_Read=0x01C2\nXRCP_Memory_Write=0x01C3\nXRCP_Memory_Erase=0x01C4\n"
        "XRCP_Radio_State=0x0201\n[bad]\nORIGIN = 0x100000\nRCDBLENGTH = 0x1100000\n";
    for (const char* line : c.lines) text += std::string(line) + "\n";
    BurnScript script;
    script.LoadBurnScriptText(text);
    state.script = &script;
    state.lastReadAnswer.reset();
    state.SetImage(Ramp(64));
    radio().ClearRequests();

    EXPECT_EQ(RunKind(state, "bad"), c.expected);

    auto requests = radio().Requests();
    if (c.lastCode < 0) {
      EXPECT_TRUE(requests.empty());
    } else {
      ASSERT_FALSE(requests.empty());
      EXPECT_EQ(requests.back().code, c.lastCode);
      EXPECT_EQ(int(requests.back().payload.size()), c.lastPayloadSize);
    }
  }
}

TEST_F(ScriptRunnerTest, WriteBackChangesOneByteOfTheLastRead) {
  Bytes info = Ramp(256, 0x80);
  info[40] = 0xFF;
  radio().Flash(0).Load(0xFE0000, info);
  BurnScript script;
  script.LoadBurnScriptText(
      "[COMM DEFINE]\nXRCP_Memory_Read=0x01C2\n[k]\n"
      "XRCP_Memory_Read  0(1)  0xfe0000(4)  256(2)\n"
      "XRCP_Memory_Write  0(1)  0xfe0000(4)  256(2)  [40=0x12]\n");
  state.script = &script;

  ASSERT_EQ(RunKind(state, "k"), kOk);

  auto writes = Requests(kCmdMemoryWrite);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].payload.size(), 263u);
  EXPECT_EQ(writes[0].Address(), 0xFE0000u);
  EXPECT_EQ(writes[0].Length(), 256);
  Bytes expected = info;
  expected[40] = 0x12;
  EXPECT_EQ(FlashBytes(radio(), 0xFE0000, 256), expected);
}

// --- Values ------------------------------------------------------------------------------------

TEST(ScriptValues, PackingByWidth) {
  struct Case {
    int64_t value;
    int width;
    Bytes expected;
  } cases[] = {
      {0x10, 2, {0x10, 0x00}},
      {0x1234, 1, {0x34}},
      {0x12345678, 4, {0x78, 0x56, 0x34, 0x12}},
      {0xAB, 5, Bytes(5, 0xAB)},
      {0, 255, Bytes(255, 0)},
      {5, 3, {}},
      {5, 0, {}},
      {5, -1, {}},
      {-1, 2, {0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    Bytes payload;
    PackValue(payload, c.value, c.width);
    EXPECT_EQ(payload, c.expected) << c.value << "(" << c.width << ")";
  }
  // Never past the payload's limit.
  Bytes payload(1020, 0);
  EXPECT_EQ(PackValue(payload, 7, 300), 4u);
  EXPECT_EQ(payload.size(), 1024u);
  EXPECT_EQ(PackValue(payload, 7, 4), 0u);
}

TEST(ScriptValues, ResolutionAndWidths) {
  BurnScript script;
  script.LoadBurnScriptText(
      "[COMM DEFINE]\nSHARED = 5\nBOTH = 1\nHIDDEN = -1111\n"
      "[kind]\nBOTH = 2\nLength = 0x1000\nXRCP_Memory_Read  0(1)  0x0(4)  1(2)\n"
      "[other]\nONLY = 9\n");
  struct Case {
    const char* text;
    int64_t expected;
  } cases[] = {
      {"length(4)", 0x1000},      // names are case-insensitive
      {"LENGTH*2(4)", 0x2000},    // multiplier
      {"BOTH(1)", 1},             // COMM DEFINE comes first in the file
      {"SHARED", 5},
      {"ONLY(1)", 0},             // another kind's value is not visible
      {"HIDDEN(2)", 0},           // -1111 counts as not defined: the name reads as a number
      {"0xfe0000(4)", 0xFE0000},
      {"512(2)", 512},
      {"Misspelt(4)", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveValue(script, "kind", c.text), c.expected) << c.text;

  EXPECT_EQ(ValueWidth("0(255)"), 255);
  EXPECT_EQ(ValueWidth("ORIGIN(4)"), 4);
  EXPECT_EQ(ValueWidth("7"), 0);
  EXPECT_EQ(ValueWidth("7("), 0);
}

}  // namespace
}  // namespace lw
