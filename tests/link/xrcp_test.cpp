// The XRCP block loops and the InfoBlock update, asserted on the simulated radio's flash and
// on the requests it received.
#include <gtest/gtest.h>

#include <functional>

#include "link/link_frame.h"
#include "link/xrcp.h"
#include "link_fixture.h"

namespace lw {
namespace {

using sim::DefaultSimProfile;
using sim::SimProfile;
using sim::SimRequest;
using test::SimLink;

// Steps as the loops post them; pauses are recorded, not slept.
struct Recorder {
  ProgressSteps Steps(int total = 0) {
    ProgressSteps steps;
    steps.total = total;
    steps.post = [this](int position) { posted.push_back(position); };
    steps.pause = [this](int ms) { pauses.push_back(ms); };
    return steps;
  }
  std::vector<int> posted;
  std::vector<int> pauses;
};

Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = uint8_t((i * 131 + seed) % 251);
  return data;
}

std::vector<uint32_t> Lengths(const std::vector<SimRequest>& requests) {
  std::vector<uint32_t> out;
  for (const auto& r : requests) out.push_back(r.Length());
  return out;
}

TEST(Xrcp, VersionAndStateQueries) {
  SimProfile profile = DefaultSimProfile();
  profile.bootloader = "01.04.007";
  profile.radioState = 2;
  SimLink link(profile);
  ASSERT_TRUE(link.opened);
  EXPECT_EQ(QueryBootloaderVersion(link.transport), "01.04.007");
  EXPECT_EQ(QueryRadioState(link.transport), 2);
  auto state = link.radio->Requests(kCmdRadioState);
  ASSERT_EQ(state.size(), 1u);
  EXPECT_EQ(state[0].payload, Bytes{0x07});
  EXPECT_TRUE(link.radio->Requests(kCmdBootloaderVersion)[0].payload.empty());
}

TEST(Xrcp, NewProtocolIsABootloaderAbove010405) {
  EXPECT_FALSE(IsNewProtocol("01.04.005"));
  EXPECT_FALSE(IsNewProtocol("01.04.001"));
  EXPECT_TRUE(IsNewProtocol("01.04.006"));
  EXPECT_TRUE(IsNewProtocol("02.00.000"));
  EXPECT_EQ(EffectiveSelector(16, false), 0);
  EXPECT_EQ(EffectiveSelector(16, true), 16);
}

TEST(XrcpErase, SixRequestsWithAShortLastOne) {
  SimLink link;
  auto& flash = link.radio->Flash(0);
  flash.Program(0xD00000, Bytes(0x2E0000 + 0x100, 0x00));  // something to erase, and one unit beyond
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  ASSERT_EQ(EraseArea(link.transport, steps, 0xD00000, 0x2E0000, 0x80000, 0), kOk);
  auto erases = link.radio->Requests(kCmdMemoryErase);
  EXPECT_EQ(Lengths(erases), (std::vector<uint32_t>{0x800, 0x800, 0x800, 0x800, 0x800, 0x600}));
  EXPECT_EQ(erases[5].Address(), 0xD00000u + 5 * 0x80000);
  EXPECT_EQ(rec.posted, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  ByteView area = flash.View(0xD00000, 0x2E0000);
  EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(flash.View(0xD00000 + 0x2E0000, 1)[0], 0x00) << "erased past the area";
}

TEST(XrcpErase, StopsAtTheFirstMissingAnswer) {
  SimProfile profile = DefaultSimProfile();
  profile.faults.noAnswer.push_back({kCmdMemoryErase, 3, false, 0});
  SimLink link(profile);
  link.transport.SetAnswerTimeout(60);
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  EXPECT_EQ(EraseArea(link.transport, steps, 0, 0x50000, 0x10000, 0), kNoAnswer);
  EXPECT_EQ(rec.posted, (std::vector<int>{1, 2}));
  EXPECT_EQ(steps.counter, 3);
  EXPECT_EQ(link.radio->Requests(kCmdMemoryErase).size(), 3u);
}

// The length field counts 256-byte units in 16 bits: a block of 0x10000 units or more would wrap
// (0x10000 to 0, an erase of nothing) and the area after it would be written unerased. Refused
// before anything is sent.
TEST(XrcpErase, ABlockTooLargeForTheLengthFieldIsRefused) {
  for (uint32_t units : {0x10000u, 0x10001u}) {
    SCOPED_TRACE(units);
    SimLink link;
    Recorder rec;
    ProgressSteps steps = rec.Steps();
    EXPECT_NE(EraseArea(link.transport, steps, 0, 0x1000000, units * kEraseUnit, 0), kOk);
    EXPECT_TRUE(link.radio->Requests(kCmdMemoryErase).empty());
  }
  SimLink link;
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  EXPECT_EQ(EraseArea(link.transport, steps, 0, 0xFFFF00, 0xFFFF * kEraseUnit, 0), kOk) << "the largest that fits";
}

TEST(XrcpRead, ThousandBytesInBlocksOf512) {
  SimLink link;
  Bytes data = Pattern(1000);
  link.radio->Flash(0).Load(0x10000, data);
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  Bytes buffer{0xAB};  // the loop appends to what the operation already holds
  ASSERT_EQ(ReadArea(link.transport, steps, 0x10000, 1000, 512, 0, buffer), kOk);
  EXPECT_EQ(Lengths(link.radio->Requests(kCmdMemoryRead)), (std::vector<uint32_t>{512, 488}));
  ASSERT_EQ(buffer.size(), 1001u);
  EXPECT_EQ(Bytes(buffer.begin() + 1, buffer.end()), data);
  EXPECT_EQ(rec.posted.size(), 2u);
}

TEST(XrcpRead, ReceiveSideIsAddressedBySelector16) {
  SimProfile profile = DefaultSimProfile();
  profile.receiveSide = true;
  SimLink link(profile);
  link.radio->Flash(16).Load(0x200, Pattern(256, 9));
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  Bytes buffer;
  ASSERT_EQ(ReadArea(link.transport, steps, 0x200, 256, 512, 16, buffer), kOk);
  EXPECT_EQ(buffer, Pattern(256, 9));
}

// Taking an answer that holds less than was asked would shift every later byte of a backup.
TEST(XrcpRead, AnswerOfTheWrongSizeIsNoAnswerWhileChecking) {
  for (bool check : {true, false}) {
    LinkOptions options = test::FastLinkOptions();
    options.checkAnswers = check;
    test::ScriptedLink link(options);
    Bytes payload = {0, 0, 0, 0, 0, 0, 0x00, 0x02};  // address 0, length 512 ...
    payload.resize(8 + 500, 0x33);                   // ... but 500 data bytes
    link.Say(EncodeLinkFrame(kCmdMemoryRead, payload));
    Recorder rec;
    ProgressSteps steps = rec.Steps();
    Bytes buffer;
    EXPECT_EQ(ReadArea(link.transport, steps, 0, 512, 512, 0, buffer), check ? kNoAnswer : kOk);
    EXPECT_EQ(buffer.size(), check ? 0u : 500u);
  }
}

TEST(XrcpRead, BlockTooLargeForOneAnswerOrZeroFails) {
  SimLink link;
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  Bytes buffer;
  EXPECT_EQ(ReadArea(link.transport, steps, 0, 20000, 20000, 0, buffer), kNoAnswer);
  EXPECT_EQ(ReadArea(link.transport, steps, 0, 10, 0, 0, buffer), kNoAnswer);
  EXPECT_TRUE(buffer.empty());
}

TEST(XrcpWrite, AscendingSkipsErasedBlocksButCountsThem) {
  SimLink link;
  Bytes data(512 * 4, 0xFF);
  std::fill(data.begin() + 512, data.begin() + 1024, 0x11);
  data[2047] = 0x22;  // last block differs in one byte only
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  ASSERT_EQ(WriteAscending(link.transport, steps, 0x40000, data, 512, 0), kOk);
  auto writes = link.radio->Requests(kCmdMemoryWrite);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].Address(), 0x40200u);
  EXPECT_EQ(writes[1].Address(), 0x40600u);
  EXPECT_EQ(rec.posted, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), link.radio->Flash(0).View(0x40000, 2048).begin()));
  EXPECT_TRUE(link.radio->FlashErrors().empty());
}

TEST(XrcpWrite, AscendingAllErasedSendsNothing) {
  SimLink link;
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  ASSERT_EQ(WriteAscending(link.transport, steps, 0, Bytes(1300, 0xFF), 512, 0), kOk);
  EXPECT_TRUE(link.radio->Requests(kCmdMemoryWrite).empty());
  EXPECT_EQ(rec.posted.size(), 3u);
}

TEST(XrcpWrite, AscendingPartialLastBlockAndRefusedWrite) {
  SimProfile profile = DefaultSimProfile();
  profile.faults.refuse.push_back({kCmdMemoryWrite, 3, false, 0});
  Recorder rec;
  {
    SimLink link(profile);
    ProgressSteps steps = rec.Steps();
    Bytes data = Pattern(512 * 4);
    EXPECT_EQ(WriteAscending(link.transport, steps, 0, data, 512, 0), kWriteRefused);
    EXPECT_EQ(rec.posted, (std::vector<int>{1, 2}));
  }

  SimLink clean;
  ProgressSteps more = rec.Steps();
  ASSERT_EQ(WriteAscending(clean.transport, more, 0x100, Pattern(700), 512, 0), kOk);
  EXPECT_EQ(Lengths(clean.radio->Requests(kCmdMemoryWrite)), (std::vector<uint32_t>{512, 188}));
  EXPECT_EQ(WriteAscending(clean.transport, more, 0, Pattern(10), 0, 0), kWriteRefused) << "block 0";
}

TEST(XrcpWrite, DescendingSendsTheLastBlockFirstPadded) {
  SimLink link;
  Bytes data = Pattern(512 * 2 + 100);
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  ASSERT_EQ(WriteDescending(link.transport, steps, 0x20000, data, 512, 0), kOk);
  auto writes = link.radio->Requests(kCmdMemoryWrite);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].Address(), 0x20400u);
  EXPECT_EQ(writes[0].payload.size(), 519u);
  EXPECT_EQ(writes[0].Length(), 512);
  ByteView first = writes[0].Data();
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 100, data.begin() + 1024));
  EXPECT_TRUE(std::all_of(first.begin() + 100, first.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(writes[1].Address(), 0x20200u);
  EXPECT_EQ(writes[2].Address(), 0x20000u);
  EXPECT_EQ(rec.posted.size(), 3u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), link.radio->Flash(0).View(0x20000, uint32_t(data.size())).begin()));
  EXPECT_EQ(WriteDescending(link.transport, steps, 0, data, 600, 0), kWriteRefused) << "block above 512";
}

TEST(XrcpSteps, PauseWhenThePhaseTotalIsReached) {
  SimLink link;
  Recorder rec;
  ProgressSteps steps = rec.Steps(3);
  ASSERT_EQ(WriteAscending(link.transport, steps, 0, Bytes(512 * 3, 0xFF), 512, 0), kOk);
  EXPECT_EQ(rec.pauses, (std::vector<int>{kStepTotalPauseMs}));
  EXPECT_EQ(steps.counter, 4);
}

// NOR flash: programming can only clear bits; the radio records the attempt.
TEST(XrcpWrite, WritingOverUnerasedFlashIsRecorded) {
  SimLink link;
  Recorder rec;
  ProgressSteps steps = rec.Steps();
  ASSERT_EQ(WriteAscending(link.transport, steps, 0x1000, Bytes(16, 0x0F), 512, 0), kOk);
  ASSERT_EQ(WriteAscending(link.transport, steps, 0x1000, Bytes(16, 0xF0), 512, 0), kOk);
  auto errors = link.radio->FlashErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].kind, sim::FlashError::Kind::NotErased);
  EXPECT_EQ(errors[0].address, 0x1000u);
  EXPECT_EQ(link.radio->Flash(0).View(0x1000, 1)[0], 0x00);
}

TEST(XrcpInfoBlock, MarksTheStatusBytesOfEachSide) {
  struct Case {
    bool rx;
    std::string bootloader;
    uint8_t writeSelector;
    uint8_t side;  // where the radio does the work
    int lastStatus;
  };
  // An old bootloader gets selector 0 in every request; it knows no selectors and works on the
  // main side throughout.
  for (const Case& c : {Case{false, "01.04.006", 0, 0, 16}, Case{true, "01.04.006", 16, 16, 14},
                        Case{true, "01.04.005", 0, 0, 14}}) {
    SimProfile profile = DefaultSimProfile();
    profile.receiveSide = true;
    profile.bootloader = c.bootloader;
    Bytes block = Pattern(256, 3);
    profile.infoBlock = block;
    profile.rxInfoBlock = block;
    SimLink link(profile);
    // The rest of the 128 KiB unit is erased with it.
    link.radio->Flash(c.side).Program(0xFE0000 + 0x1000, Bytes(4, 0));
    ASSERT_EQ(UpdateInfoBlock(link.transport, c.rx, IsNewProtocol(c.bootloader)), 1);

    auto writes = link.radio->Requests(kCmdMemoryWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].payload.size(), 263u);
    EXPECT_EQ(writes[0].Selector(), c.writeSelector);
    EXPECT_EQ(link.radio->Requests(kCmdMemoryRead)[0].Selector(), c.writeSelector);
    EXPECT_EQ(link.radio->Requests(kCmdMemoryErase)[0].Selector(), c.writeSelector);
    EXPECT_TRUE(link.radio->ProtocolErrors().empty());
    EXPECT_EQ(link.radio->Requests(kCmdMemoryErase)[0].Length(), 512);

    Bytes expected = block;
    for (int i = 12; i <= c.lastStatus; ++i) expected[size_t(i)] = 0xF0;
    ByteView written = link.radio->Flash(c.side).View(0xFE0000, 256);
    EXPECT_EQ(Bytes(written.begin(), written.end()), expected) << c.rx << c.bootloader;
    EXPECT_EQ(link.radio->Flash(c.side).View(0xFE1000, 1)[0], 0xFF);
    EXPECT_TRUE(link.radio->FlashErrors().empty());
  }
}

TEST(XrcpInfoBlock, FailuresGiveMinusOneOrMinusTwo) {
  struct Case {
    std::vector<sim::FaultRule> sim::SimFaults::*kind;
    uint16_t code;
    int expected;
  };
  for (const Case& c : {Case{&sim::SimFaults::noAnswer, kCmdMemoryRead, kNoAnswer},
                        Case{&sim::SimFaults::noAnswer, kCmdMemoryErase, kNoAnswer},
                        Case{&sim::SimFaults::refuse, kCmdMemoryWrite, kWriteRefused}}) {
    SimProfile profile = DefaultSimProfile();
    (profile.faults.*c.kind).push_back({c.code, 1, false, 0});
    SimLink link(profile);
    link.transport.SetAnswerTimeout(60);
    EXPECT_EQ(UpdateInfoBlock(link.transport, false, true), c.expected) << c.code;
  }
}

TEST(Xrcp, VerifyReadsBackInTheLargestBlocksAndNamesTheFirstDifference) {
  const Bytes data = Pattern(25000, 9);
  struct Case {
    const char* name;
    std::function<void(sim::SimulatedRadio&)> damage;
    int code;
    uint32_t address;
  } cases[] = {
      {"same", [](sim::SimulatedRadio&) {}, kOk, 0},
      {"one bit", [&](sim::SimulatedRadio& r) { r.Flash(0).Load(0x40000 + 20001, Bytes{uint8_t(data[20001] ^ 0x10)}); },
       kVerifyMismatch, 0x40000 + 20001},
      {"first byte", [&](sim::SimulatedRadio& r) { r.Flash(0).Load(0x40000, Bytes{uint8_t(~data[0])}); },
       kVerifyMismatch, 0x40000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimLink link;
    ASSERT_TRUE(link.opened);
    link.radio->Flash(0).Load(0x40000, data);
    c.damage(*link.radio);
    std::vector<int> done;
    VerifyResult r = VerifyArea(link.transport, 0x40000, data, 0, [&](int n, int total) {
      done.push_back(n);
      EXPECT_EQ(total, 3);
    });
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.address, c.address);
    if (c.code == kVerifyMismatch) {
      EXPECT_EQ(r.expected, data[c.address - 0x40000]);
      EXPECT_NE(r.actual, r.expected);
    } else {
      EXPECT_EQ(Lengths(link.radio->Requests(kCmdMemoryRead)), (std::vector<uint32_t>{10223, 10223, 4554}));
      EXPECT_EQ(done, (std::vector<int>{1, 2, 3}));
    }
  }
}

TEST(Xrcp, VerifyWithoutAnAnswerIsNoAnswerNotAPass) {
  sim::SimProfile profile = DefaultSimProfile();
  profile.faults.noAnswer.push_back({kCmdMemoryRead, 2, false, 0});
  SimLink link(profile);
  ASSERT_TRUE(link.opened);
  const Bytes data(12000, 0xFF);
  VerifyResult r = VerifyArea(link.transport, 0x1000, data, 0);
  EXPECT_EQ(r.code, kNoAnswer);
  EXPECT_EQ(r.address, 0x1000u + kMaxReadBlock);
}

}  // namespace
}  // namespace lw
