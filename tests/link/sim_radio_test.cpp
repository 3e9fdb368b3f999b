// The simulated radio as a radio: frame checking, the commands it knows, its faults, its
// profile file, and the shipped profiles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/link_frame.h"
#include "link/xrcp.h"
#include "link_fixture.h"
#include "package/radio_identity.h"
#include "package/rcdb_builder.h"
#include "package/rcdb_manifest.h"
#include "sim/sim_setup.h"

namespace lw {
namespace {

using sim::DefaultSimProfile;
using sim::SimProfile;
using test::SimLink;
using test::TempDir;

TEST(SimRadio, BadFramesGetNoAnswerAndAreLogged) {
  auto radio = std::make_shared<sim::SimulatedRadio>(DefaultSimProfile());
  Bytes frame = BuildLinkFrame(kCmdBootloaderVersion, {});
  frame[2] ^= 1;
  EXPECT_EQ(radio->AcceptWrite(frame), frame.size());
  Bytes tooShort = {0x05, 0x00, 1, 2, 3};
  radio->AcceptWrite(tooShort);
  EXPECT_FALSE(radio->HasAnswer());
  auto log = radio->Requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].fault, FrameFault::BadCheckWord);
  EXPECT_EQ(log[0].code, kCmdBootloaderVersion);
  EXPECT_EQ(log[1].fault, FrameFault::BadLength);
  EXPECT_TRUE(radio->Requests(kCmdBootloaderVersion).empty()) << "only good frames count as requests";
}

TEST(SimRadio, GenericCodesOfTheBurnScriptAreAcknowledged) {
  TempDir dir;
  {
    std::ofstream script(dir.File("Torvex.ini"));
    script << "[COMM DEFINE]\nXRCP_Memory_Read=0x01C2 [MemoryRead]\nXRCP_Reboot=0x0720 [Reboot]\n"
              "[read_rcdb]\nORIGIN = 0x340000\nXRCP_Memory_Read  0(1)  ORIGIN(4)  512(2)\n";
    std::ofstream profile(dir.File("r.ini"));
    profile << "[radio]\nburn_script = Torvex.ini\ngeneric_codes = 0x0730\n";
  }
  auto profile = sim::LoadSimProfile(dir.File("r.ini"));
  ASSERT_TRUE(profile) << profile.status().message();
  EXPECT_EQ(profile->radioDataAddress, 0x340000u) << "the read_rcdb ORIGIN";
  SimLink link(*profile);
  for (uint16_t code : {0x0720, 0x0730}) {
    AnswerPtr answer = link.transport.Exchange(code, Bytes{1, 2}, true);
    ASSERT_TRUE(answer) << code;
    EXPECT_EQ(answer->command, code);
  }
  link.transport.SetAnswerTimeout(40);
  EXPECT_FALSE(link.transport.Exchange(0x0740, {}, true));
  auto problems = link.radio->ProtocolErrors();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0], "unknown command 0x0740");
}

TEST(SimRadio, ReceiveSideOnlyOnARadioThatHasOne) {
  SimLink link;
  link.transport.SetAnswerTimeout(40);
  EXPECT_FALSE(link.transport.Exchange(kCmdMemoryRead, MemoryRequest(16, 0, 16), true));
  EXPECT_FALSE(link.transport.Exchange(kCmdMemoryRead, MemoryRequest(0, 0xFFFFF8, 16), true)) << "off the end";
  EXPECT_EQ(link.radio->ProtocolErrors().size(), 2u);
}

// A bootloader up to 01.04.005 knows no selector: it works on the main side whatever the byte
// says, and a request that carries anything but 0 is the host's error, kept for the test.
TEST(SimRadio, OldBootloaderWorksOnTheMainSideAndCountsASelectorAsAnError) {
  sim::SimProfile profile = sim::DefaultSimProfile();
  profile.bootloader = "01.04.005";
  profile.receiveSide = true;
  SimLink link(profile);
  link.radio->Flash(0).Program(0x1000, Bytes{1, 2, 3, 4});
  AnswerPtr zero = link.transport.Exchange(kCmdMemoryRead, MemoryRequest(0, 0x1000, 4), true);
  ASSERT_TRUE(zero);
  EXPECT_TRUE(link.radio->ProtocolErrors().empty());
  AnswerPtr sixteen = link.transport.Exchange(kCmdMemoryRead, MemoryRequest(16, 0x1000, 4), true);
  ASSERT_TRUE(sixteen) << "the radio still answers";
  EXPECT_EQ(sixteen->payload, zero->payload) << "from the main side";
  ASSERT_EQ(link.radio->ProtocolErrors().size(), 1u);
  EXPECT_NE(link.radio->ProtocolErrors()[0].find("selector 16"), std::string::npos);
}

TEST(SimRadio, AnswerFaultsAreNoAnswerToTheHost) {
  struct Case {
    const char* name;
    std::vector<sim::FaultRule> sim::SimFaults::*kind;
  };
  for (const Case& c : {Case{"no answer", &sim::SimFaults::noAnswer}, Case{"garbled", &sim::SimFaults::garble},
                        Case{"short", &sim::SimFaults::shortAnswer}}) {
    SimProfile profile = DefaultSimProfile();
    (profile.faults.*c.kind).push_back({kCmdRadioState, 2, false, 0});
    SimLink link(profile);
    link.transport.SetAnswerTimeout(60);
    EXPECT_TRUE(QueryRadioState(link.transport)) << c.name;
    EXPECT_FALSE(QueryRadioState(link.transport)) << c.name;
    EXPECT_TRUE(QueryRadioState(link.transport)) << c.name << ": the next request is answered again";
  }
}

// A flash that erases at a modelled rate answers an erase only once its length is erased; the
// time it was kept busy adds up. Other requests are answered at once.
TEST(SimRadio, AnEraseIsAnsweredWhenItsLengthIsErasedAtTheModelledRate) {
  SimProfile profile = DefaultSimProfile();
  profile.eraseBytesPerSecond = 128 * 1024;  // 128 KiB: a second
  auto radio = std::make_shared<sim::SimulatedRadio>(profile);
  Bytes erase = {0};
  AppendLe32(erase, 0x20000);
  AppendLe16(erase, uint16_t(0x20000 / kEraseUnit));
  radio->AcceptWrite(BuildLinkFrame(kCmdMemoryErase, erase));
  EXPECT_DOUBLE_EQ(radio->EraseSeconds(), 1.0);
  uint8_t buffer[64];
  EXPECT_EQ(radio->ReadAnswer(buffer, sizeof buffer, 20), 0u) << "still erasing";
  EXPECT_GT(radio->ReadAnswer(buffer, sizeof buffer, 5000), 0u) << "answered once erased";
  EXPECT_EQ(radio->Flash(0).View(0x20000, 1)[0], 0xFF);

  auto quick = std::make_shared<sim::SimulatedRadio>(profile);
  quick->AcceptWrite(BuildLinkFrame(kCmdRadioState, Bytes{0}));
  EXPECT_TRUE(quick->HasAnswer());
  EXPECT_EQ(quick->EraseSeconds(), 0.0);
}

TEST(SimRadio, GarbledAnswerGoesThroughWhenAnswersAreNotChecked) {
  SimProfile profile = DefaultSimProfile();
  profile.faults.garble.push_back({kCmdMemoryRead, 1, false, 0});
  LinkOptions options = test::FastLinkOptions();
  options.checkAnswers = false;
  SimLink link(profile, options);
  AnswerPtr answer = link.transport.Exchange(kCmdMemoryRead, MemoryRequest(0, 0, 4), true);
  ASSERT_TRUE(answer);
  EXPECT_NE(answer->payload.back(), 0xFF) << "erased flash reads 0xFF; the fault changed a byte";
}

TEST(SimRadio, OnwardFaultsAndAnyCode) {
  SimProfile profile = DefaultSimProfile();
  profile.faults.noAnswer.push_back({-1, 3, true, 0});  // silent from the third request on
  SimLink link(profile);
  link.transport.SetAnswerTimeout(40);
  EXPECT_TRUE(QueryRadioState(link.transport));
  EXPECT_TRUE(QueryBootloaderVersion(link.transport));
  EXPECT_FALSE(QueryRadioState(link.transport));
  EXPECT_FALSE(QueryBootloaderVersion(link.transport));
}

TEST(SimRadio, UnplugAfterNRequestsTakesTheRadioAway) {
  SimProfile profile = DefaultSimProfile();
  profile.faults.unplugAfter = 2;
  SimLink link(profile);
  int events = 0;
  link.backend.SetHotplugCallback([&] { ++events; });
  link.transport.SetAnswerTimeout(40);
  EXPECT_TRUE(QueryRadioState(link.transport));
  EXPECT_TRUE(QueryRadioState(link.transport));
  size_t written = 1;
  EXPECT_FALSE(link.transport.Exchange(kCmdRadioState, Bytes{7}, true, written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(events, 1);
  EXPECT_TRUE(link.backend.Enumerate(UsbDeviceClass::Primary)->empty());
  // Plugged in again, it is a working radio.
  link.transport.Close();
  link.backend.Attach(link.radio);
  int flag = 0;
  link.transport.Scan(nullptr, flag);
  ASSERT_TRUE(link.transport.Open(1));
  EXPECT_TRUE(QueryRadioState(link.transport));
}

// The faults read-back verify exists for: the host cannot tell them from a good write.
TEST(SimRadio, DroppedWritesAndStuckBitsLeaveTheFlashWrongWithoutATrace) {
  sim::SimProfile profile = sim::DefaultSimProfile();
  profile.faults.drop.push_back({kCmdMemoryWrite, 2, false, 0});
  profile.faults.stuck.push_back({0x1005, 0x81});
  SimLink link(profile);
  ASSERT_TRUE(link.opened);
  const Bytes zeros(16, 0x00);
  for (uint32_t address : {0x1000u, 0x2000u, 0x3000u}) {
    Bytes payload = MemoryRequest(0, address, 16);
    payload.insert(payload.end(), zeros.begin(), zeros.end());
    size_t written = 0;
    link.transport.Exchange(kCmdMemoryWrite, payload, false, written);
    EXPECT_EQ(written, payload.size() + 11) << "the pipe takes a dropped write like any other";
  }
  const sim::SimFlash& flash = link.radio->Flash(0);
  Bytes stuck(16, 0x00);
  stuck[5] = 0x81;
  EXPECT_EQ(Bytes(flash.View(0x1000, 16).begin(), flash.View(0x1000, 16).end()), stuck);
  EXPECT_EQ(Bytes(flash.View(0x2000, 16).begin(), flash.View(0x2000, 16).end()), Bytes(16, 0xFF));
  EXPECT_EQ(Bytes(flash.View(0x3000, 16).begin(), flash.View(0x3000, 16).end()), zeros);
  auto writes = link.radio->Requests(kCmdMemoryWrite);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_TRUE(writes[1].dropped);
  EXPECT_FALSE(writes[0].dropped || writes[2].dropped);
  EXPECT_TRUE(link.radio->FlashErrors().empty());
}

TEST(SimProfileFile, EveryKeyReads) {
  TempDir dir;
  {
    std::ofstream(dir.File("data.bin"), std::ios::binary) << "RCDB";
    std::ofstream(dir.File("fw.bin"), std::ios::binary) << "FW";
  }
  const std::string text =
      "// a repeater\n"
      "[radio]\nname = Tower\npath = sim:tower-7\nclass = fallback\nbootloader = 01.04.005\n"
      "radio_state = 2\nreceive_side = true\nradio_data = data.bin\nradio_data_address = 0xC00000\n"
      "image = 16 0x20000 fw.bin\ninfo_block = 01 02 03\nrx_info_block = 0A0B\ngeneric_codes = 0x0720, 0x0721\n"
      "erase_bytes_per_second = 0x40000\n"
      "[link]\nbytes_per_second = 53000000\nlatency_us = 125\n"
      "[faults]\nno_answer = 0x01C2@3\ngarble = *@2+\nshort_answer = 0x0201@1\ndelay = 0x01C4@2:1500\n"
      "refuse_write = 0x01C3@5\nunplug_after = 40\ndrop_write = 0x01C3@7+\nstuck_bit = 0x800010:0x04, 0x20:0x80\n";
  auto p = sim::ParseSimProfile(text, dir.path(), "file");
  ASSERT_TRUE(p) << p.status().message();
  EXPECT_EQ(p->name, "Tower");
  EXPECT_EQ(p->path, "sim:tower-7");
  EXPECT_EQ(p->usbClass, UsbDeviceClass::Fallback);
  EXPECT_EQ(p->bootloader, "01.04.005");
  EXPECT_EQ(p->radioState, 2);
  EXPECT_TRUE(p->receiveSide);
  EXPECT_EQ(p->radioData, (Bytes{'R', 'C', 'D', 'B'}));
  ASSERT_EQ(p->images.size(), 1u);
  EXPECT_EQ(p->images[0].selector, 16);
  EXPECT_EQ(p->images[0].data, (Bytes{'F', 'W'}));
  EXPECT_EQ(p->infoBlock, (Bytes{1, 2, 3}));
  EXPECT_EQ(p->rxInfoBlock, (Bytes{10, 11}));
  EXPECT_EQ(p->genericCodes, (std::set<uint16_t>{0x0720, 0x0721}));
  EXPECT_EQ(p->eraseBytesPerSecond, 0x40000u);
  EXPECT_EQ(p->bytesPerSecond, 53000000u);
  EXPECT_EQ(p->latencyUs, 125);
  ASSERT_EQ(p->faults.garble.size(), 1u);
  EXPECT_EQ(p->faults.garble[0].code, -1);
  EXPECT_TRUE(p->faults.garble[0].onward);
  EXPECT_EQ(p->faults.delay[0].delayMs, 1500);
  EXPECT_EQ(p->faults.delay[0].nth, 2u);
  EXPECT_EQ(p->faults.refuse[0].code, 0x01C3);
  EXPECT_EQ(p->faults.unplugAfter, 40u);
  ASSERT_EQ(p->faults.drop.size(), 1u);
  EXPECT_EQ(p->faults.drop[0].nth, 7u);
  EXPECT_TRUE(p->faults.drop[0].onward);
  ASSERT_EQ(p->faults.stuck.size(), 2u);
  EXPECT_EQ(p->faults.stuck[0].address, 0x800010u);
  EXPECT_EQ(p->faults.stuck[0].mask, 0x04);
  EXPECT_EQ(p->faults.stuck[1].mask, 0x80);

  sim::SimulatedRadio radio(*p);
  EXPECT_EQ(radio.Flash(0).View(0xC00000, 4)[3], 'B');
  EXPECT_EQ(radio.Flash(16).View(0x20000, 2)[1], 'W');
  EXPECT_EQ(radio.Flash(0).View(0xFE0000, 4)[2], 3);
  EXPECT_EQ(radio.Flash(0).View(0xFE0000, 4)[3], 0xFF);
}

TEST(SimProfileFile, MistakesAreReportedWithTheirLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[radio]\ncolour = red\n", "line 2: unknown key \"colour\""},
      {"[radio]\nbootloader = 1.4.5\n", "line 2: bootloader: expected the form 01.04.006"},
      {"[faults]\nno_answer = 0x01C2\n", "line 2: no_answer: expected CODE@N items"},
      {"[faults]\ndelay = 0x01C2@1\n", "line 2: delay: expected CODE@N:MS items"},
      {"[faults]\nno_answer = 0x01C2@0\n", "line 2: no_answer: expected CODE@N items"},
      {"[radio]\nradio_state = -1\n", "line 2: radio_state: not a number in range"},
      {"[radio]\nradio_data = missing.bin\n", "cannot read /nowhere/missing.bin"},
      // A folder, and a device that never ends: refused, not read (a folder used to throw).
      {"[radio]\nradio_data = /\n", "cannot read /"},
      {"[radio]\nradio_data = /dev/zero\n", "cannot read /dev/zero"},
      {"[radio]\nradio_data_address = 0x1000000\n", "line 2: radio_data_address: not a number in range"},
      {"[power]\n", "line 1: unknown section [power]"},
      {"[faults]\nstuck_bit = 0x800010\n",
       "line 2: stuck_bit: expected ADDRESS:MASK items (a nonzero mask of one byte)"},
      {"[faults]\nstuck_bit = 0x800010:0x100\n",
       "line 2: stuck_bit: expected ADDRESS:MASK items (a nonzero mask of one byte)"},
      {"[faults]\nstuck_bit = 0x800010:0\n",
       "line 2: stuck_bit: expected ADDRESS:MASK items (a nonzero mask of one byte)"},
      {"[faults]\ndrop_write = 0x01C3\n", "line 2: drop_write: expected CODE@N items"},
  };
  for (const auto& c : cases) {
    const Status status = sim::ParseSimProfile(c.text, "/nowhere", "x").status();
    EXPECT_FALSE(status.ok()) << c.text;
    EXPECT_EQ(status.message(), c.message);
  }
}

TEST(SimSetup, ShippedProfilesLoadAndDiffer) {
  auto backend = sim::MakeSimulatedBackend({"portable", "repeater"}, LW_BIN_DIR);
  ASSERT_TRUE(backend) << backend.status().message();
  auto radios = (*backend)->Radios();
  ASSERT_EQ(radios.size(), 2u);
  EXPECT_FALSE(radios[0]->profile().receiveSide);
  EXPECT_TRUE(radios[1]->profile().receiveSide);
  EXPECT_EQ(radios[1]->profile().radioState, 2);
  for (const auto& radio : radios) {
    const auto& p = radio->profile();
    EXPECT_FALSE(p.radioData.empty()) << p.name;
    EXPECT_TRUE(p.genericCodes.count(kCmdMemoryRead)) << p.name << ": codes of the shipped burn script";
    EXPECT_EQ(radio->Flash(0).View(p.radioDataAddress, 1)[0], p.radioData[0]);
  }
  const Status twice = sim::MakeSimulatedBackend({"portable", "portable"}, LW_BIN_DIR).status();
  EXPECT_FALSE(twice.ok());
  EXPECT_EQ(twice.message(), "two radio profiles give the same path sim:portable");
  const Status missing = sim::MakeSimulatedBackend({"nonesuch"}, LW_BIN_DIR).status();
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.message().rfind("no radio profile \"nonesuch\"", 0), 0u) << missing.message();
}

// The shipped radio data are what their manifests build, and the radio hands them out where
// the burn script's "read_rcdb" reads, identity and all.
TEST(SimSetup, ShippedRadioDataMatchTheirManifests) {
  const struct {
    const char* profile;
    const char* model;
  } radios[] = {{"portable", "KX412-000G0000-M00000-U1-0-F"}, {"repeater", "KQ600-000G0000-M00000-U1-0-F"}};
  for (const auto& r : radios) {
    auto desc = ReadRcdbManifest(std::string(LW_SOURCE_DIR) + "/data/sim/" + r.profile + "-data.manifest");
    ASSERT_TRUE(desc) << desc.status().message();
    auto built = BuildRcdbImage(*desc);
    ASSERT_TRUE(built) << built.status().message();

    auto simulated = sim::MakeSimulatedBackend({r.profile}, LW_BIN_DIR);
    ASSERT_TRUE(simulated) << simulated.status().message();
    std::unique_ptr<sim::SimulatedBackend> backend = std::move(simulated).value();
    auto radio = backend->Radios()[0];
    EXPECT_EQ(radio->profile().radioData, *built) << r.profile << ": rebuild with rcdbpack";

    MemoryPortStore store;
    UsbTransport transport(*backend, &store, test::FastLinkOptions());
    int flag = 0;
    transport.Scan(nullptr, flag);
    ASSERT_TRUE(transport.Open(1));
    ProgressSteps steps;
    Bytes data;
    ASSERT_EQ(ReadArea(transport, steps, 0xC00000, 0x1000, 512, 0, data), kOk);
    transport.Close();
    auto identity = ReadIdentityFromImage(data);
    ASSERT_TRUE(identity.identity) << r.profile;
    EXPECT_EQ(identity.identity->modelNumber, r.model);
    EXPECT_EQ(identity.identity->softwareVersion, "A5.00.07.000");
  }
}

}  // namespace
}  // namespace lw
