#include "engine/hex_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/window_port.h"
#include "ui/translate.h"
#include "support/temp_dir.h"

namespace lw {
namespace {

// One Intel HEX record with a correct checksum.
std::string Record(int type, uint32_t address, const Bytes& data) {
  std::string line = Format(":%02X%04X%02X", unsigned(data.size()), address & 0xFFFF, type);
  unsigned sum = unsigned(data.size()) + (address >> 8 & 0xFF) + (address & 0xFF) + unsigned(type);
  for (uint8_t b : data) {
    line += Format("%02X", b);
    sum += b;
  }
  return line + Format("%02X", (0x100 - (sum & 0xFF)) & 0xFF);
}
std::string Data(uint32_t address, const Bytes& data) { return Record(0, address, data); }
std::string Linear(uint16_t value) { return Record(4, 0, {uint8_t(value >> 8), uint8_t(value)}); }
const std::string kEnd = ":00000001FF";

Bytes Ramp(uint8_t first, size_t count) {
  Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = uint8_t(first + i);
  return b;
}

std::string Lines(const std::vector<std::string>& lines, const char* eol = "\r\n") {
  std::string text;
  for (const auto& l : lines) text += l + eol;
  return text;
}

// Records notices as the user-interface thread would see them.
class RecordingPort : public WindowPort {
 public:
  std::vector<std::string> notices;
  void Notify(const Notice& notice) override {
    notices.push_back(notice.text);
    boxes.push_back(notice);
  }
  std::vector<Notice> boxes;
  bool AskYesNo(const std::string&, bool) override { return false; }
  void LogLine(const std::string&) override {}
  void SetProgressRange(const std::string&, int) override {}
  void SetProgress(int) override {}
  void Post(std::function<void()> task) override { task(); }
};

TEST(HexImageTest, ContiguousRecordsGiveOneSegmentPaddedToWholePages) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0x0000, Ramp(0, 16)), Data(0x0010, Ramp(16, 16)), kEnd})), kHexLoaded);
  ASSERT_EQ(hex.Segments().size(), 1u);
  EXPECT_EQ(hex.Segments()[0].length, 256u);
  const Bytes packed = hex.Packed();
  ASSERT_EQ(packed.size(), 256u);
  EXPECT_TRUE(Bytes(packed.begin(), packed.begin() + 32) == Ramp(0, 32));
  EXPECT_TRUE(Bytes(packed.begin() + 32, packed.end()) == Bytes(224, 0xFF));
  EXPECT_TRUE(hex.Messages().empty());
}

TEST(HexImageTest, NewLinearAddressStartsASegmentAndTheTableGivesFlashAddresses) {
  HexImage hex;
  std::vector<std::string> lines;
  for (uint32_t a = 0; a < 0x100; a += 16) lines.push_back(Data(a, Ramp(uint8_t(a), 16)));
  lines.push_back(Linear(0x0001));
  lines.push_back(Data(0x0000, Ramp(0xA0, 16)));
  lines.push_back(kEnd);
  ASSERT_EQ(hex.LoadFromText(Lines(lines)), kHexLoaded);
  ASSERT_EQ(hex.Segments().size(), 2u);
  EXPECT_EQ(hex.Segments()[1].start, 0x10000u);
  EXPECT_EQ(hex.Segments()[1].packedOffset, 0x100u);

  const Bytes packed = hex.Packed();
  ASSERT_EQ(packed.size(), 0x200u);  // no hole between the segments
  EXPECT_EQ(packed[0xFE], 0xFE);
  EXPECT_EQ(packed[0x100], 0xA0);

  Bytes table(64, 0xEE);
  const uint32_t origin = 0x20000;
  ASSERT_EQ(hex.BuildSegmentTable(table, 32, origin), 32u);
  const uint8_t expected[32] = {0xAA, 0x55, 0, 0, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0x00, 0x01, 0, 0,
                                0xAA, 0x55, 0, 0, 0x00, 0x01, 0x02, 0, 0, 0, 1, 0, 0x00, 0x01, 0, 0};
  EXPECT_TRUE(Bytes(table.begin(), table.begin() + 32) == Bytes(expected, expected + 32));
  EXPECT_EQ(table[32], 0xEE);
}

TEST(HexImageTest, SegmentTableStopsAtTheTableLength) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0x0000, {1}), Data(0x1000, {2}), Data(0x2000, {3}), kEnd})), kHexLoaded);
  ASSERT_EQ(hex.Segments().size(), 3u);
  Bytes table(64, 0);
  // 20 bytes round up to two entries, but the result never exceeds the table length.
  EXPECT_EQ(hex.BuildSegmentTable(table, 20, 0), 20u);
  EXPECT_EQ(table[16], 0xAA);
  EXPECT_EQ(table[32], 0x00);
  EXPECT_EQ(hex.BuildSegmentTable(table, 0, 0), 0u);
  // A destination smaller than the table is never overrun.
  Bytes small(24, 0);
  EXPECT_EQ(hex.BuildSegmentTable(small, 48, 0), 24u);
}

TEST(HexImageTest, LinearAddressWindowIsSixteenMegabytes) {
  struct Case {
    uint16_t second;
    int result;
  };
  for (const Case c : {Case{0x08FF, kHexLoaded}, Case{0x0900, kHexFailed}, Case{0x07FF, kHexFailed}}) {
    HexImage hex;
    const int result =
        hex.LoadFromText(Lines({Linear(0x0800), Data(0, {1}), Linear(c.second), Data(0, {2}), kEnd}));
    EXPECT_EQ(result, c.result) << std::hex << c.second;
    if (c.result == kHexFailed) {
      ASSERT_EQ(hex.Messages().size(), 1u);
      EXPECT_EQ(hex.Messages()[0], kHexTextTooMuchLinear);
    } else {
      EXPECT_EQ(hex.Segments().back().start, 0xFF0000u);
    }
  }
}

TEST(HexImageTest, RecordCrossingAPageEndSplitsOverTwoPages) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0x0000, {0x11}), Data(0x00F0, Ramp(0x40, 32)), kEnd})), kHexLoaded);
  const Bytes packed = hex.Packed();
  ASSERT_EQ(packed.size(), 0x200u);
  EXPECT_TRUE(Bytes(packed.begin() + 0xF0, packed.begin() + 0x110) == Ramp(0x40, 32));
  EXPECT_TRUE(Bytes(packed.begin() + 0x110, packed.end()) == Bytes(0xF0, 0xFF));
  EXPECT_TRUE(Bytes(packed.begin() + 1, packed.begin() + 0xF0) == Bytes(0xEF, 0xFF)) << "gap stays 0xFF";
}

// The tail of a record that runs into the next page survives when the next record skips a page.
TEST(HexImageTest, CrossingTailIsKeptWhenTheNextRecordSkipsAPage) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0x0000, {0x11}), Data(0x00F8, Ramp(0x60, 16)), Data(0x0300, {0x22}), kEnd})),
            kHexLoaded);
  const Bytes packed = hex.Packed();
  ASSERT_EQ(hex.Segments().size(), 2u);
  EXPECT_EQ(hex.Segments()[0].length, 0x200u);
  EXPECT_TRUE(Bytes(packed.begin() + 0x100, packed.begin() + 0x108) == Ramp(0x68, 8));
  EXPECT_EQ(packed[0x200], 0x22);
}

TEST(HexImageTest, TextFormsThatAreAccepted) {
  const std::string body = Data(0x0000, {0xAB, 0xCD});
  std::string lower = ToLowerAscii(body);
  lower[lower.size() - 1] = '0';  // wrong checksum: not verified
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"CR LF", Lines({body, kEnd})},
      {"bare LF", Lines({body, kEnd}, "\n")},
      {"end record without line end", body + "\r\n" + kEnd},
      {"lowercase digits, bad checksum", Lines({lower, kEnd})},
      {"short lines skipped", Lines({"", "junk", ":0000", body, kEnd})},
      {"types 03 and 05 ignored", Lines({Record(3, 0, {0, 0, 0, 0}), body, Record(5, 0, {0, 0, 0, 0}), kEnd})},
      {"anything after the end record", Lines({body, kEnd}) + std::string(5000, 'x') + "\n#bad line\n"},
  };
  for (const auto& c : cases) {
    HexImage hex;
    ASSERT_EQ(hex.LoadFromText(c.text), kHexLoaded) << c.what;
    const Bytes packed = hex.Packed();
    ASSERT_EQ(packed.size(), 256u) << c.what;
    EXPECT_EQ(packed[0], 0xAB) << c.what;
    EXPECT_EQ(packed[1], 0xCD) << c.what;
  }
}

TEST(HexImageTest, ExtendedSegmentAddress) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(Lines({Record(2, 0, {0x10, 0x00}), Data(0x0010, {7}), kEnd})), kHexLoaded);
  ASSERT_EQ(hex.Segments().size(), 1u);
  EXPECT_EQ(hex.Segments()[0].start, 0x10010u);  // 0x1000 * 16 + 0x10
  EXPECT_EQ(hex.Messages().size(), 1u) << "start not on a 0x100 boundary warns";
}

TEST(HexImageTest, WarningsLetTheLoadGoOn) {
  RecordingPort port;
  HexImage hex(&port);
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0x0010, Ramp(0, 16)), Data(0x0080, {1}), Data(0x0040, {2}), kEnd})), kHexLoaded);
  ASSERT_EQ(port.notices.size(), 2u);
  EXPECT_EQ(port.notices[0], kHexTextStartAddress);
  EXPECT_EQ(port.notices[1], kHexTextJumpedAddress);
  const Bytes packed = hex.Packed();
  EXPECT_EQ(packed[0], 0x00);  // read from the segment's start (0x10)
  EXPECT_EQ(packed[0x30], 0x02);
  EXPECT_EQ(packed[0x70], 0x01);
}

TEST(HexImageTest, RefusedInput) {
  std::vector<std::string> many;
  for (uint32_t i = 0; i <= kHexMaxSegments; ++i) many.push_back(Data(i * 0x200 & 0xFFFF, {1}));
  many.insert(many.begin() + 128, Linear(1));
  many.push_back(kEnd);
  struct Case {
    const char* what;
    std::string text;
    std::string message;  // empty: no message
  };
  const Case cases[] = {
      {"line without colon", Lines({Data(0, {1}), "S1130000FFFFFFFF", kEnd}), kHexTextCannotAccept},
      {"no end record", Lines({Data(0, {1})}), ""},
      {"empty text", "", ""},
      {"line of 1024 characters", Lines({":" + std::string(1023, '0'), kEnd}), "HEX line of 1024 characters or more; the file cannot be read."},
      {"record shorter than its count", Lines({Data(0, Ramp(0, 16)).substr(0, 30), kEnd}), "HEX record shorter than its byte count; the file is damaged."},
      {"data past the window end", Lines({Linear(0x00FF), Data(0xFFF8, Ramp(0, 16)), kEnd}), "HEX data beyond the 16 MiB address window."},
      {"more than 256 segments", Lines(many), "HEX file needs more than 256 segments."},
  };
  for (const auto& c : cases) {
    HexImage hex;
    EXPECT_EQ(hex.LoadFromText(c.text), kHexFailed) << c.what;
    if (c.message.empty())
      EXPECT_TRUE(hex.Messages().empty()) << c.what;
    else
      EXPECT_EQ(hex.Messages().back(), c.message) << c.what;
  }
}

// The window shows the reader's messages translated: a line that is no HEX at all in an error
// box captioned "Error", the others as the program's warnings.
TEST(HexImageTest, MessageBoxesAreTranslatedWithTheirCaptionAndIcon) {
  SetTranslationTable({{"CanNotAcceptFile", "无法接受该文件"},
                       {"Error", "错误"},
                       {"Error start address (must be divided by 0x100).", "起始地址错误"}});
  struct Case {
    std::string text;
    const char* shown;
    NoticeIcon icon;
    const char* caption;
  };
  const Case cases[] = {
      {Lines({"S1130000FFFFFFFF", kEnd}), "无法接受该文件", NoticeIcon::Error, "错误"},
      {Lines({Data(0x10, {1}), kEnd}), "起始地址错误", NoticeIcon::Warning, ""},
  };
  for (const Case& c : cases) {
    RecordingPort port;
    HexImage hex(&port);
    hex.LoadFromText(c.text);
    ASSERT_EQ(port.boxes.size(), 1u) << c.shown;
    EXPECT_EQ(port.boxes[0].text, c.shown);
    EXPECT_EQ(port.boxes[0].icon, c.icon);
    EXPECT_EQ(port.boxes[0].caption, c.caption);
  }
  SetTranslationTable({});
}

// A record without bytes carries nothing; it must not end the packing early.
TEST(HexImageTest, EmptyDataRecordsAreIgnored) {
  HexImage hex;
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0x0000, {1}), Data(0x1000, {}), Data(0x2000, {2}), kEnd})), kHexLoaded);
  EXPECT_EQ(hex.Segments().size(), 2u);
  EXPECT_EQ(hex.Packed().size(), 0x200u);
}

TEST(HexImageTest, ReadPackedNeedsRoomAndSegments) {
  HexImage hex;
  EXPECT_EQ(hex.ReadPacked({}), 0u);
  ASSERT_EQ(hex.LoadFromText(Lines({Data(0, {1}), kEnd})), kHexLoaded);
  Bytes small(255);
  EXPECT_EQ(hex.ReadPacked(small), 0u);
  Bytes room(300, 0);
  EXPECT_EQ(hex.ReadPacked(room), 256u);
  EXPECT_EQ(room[0], 1);
}

// The text is read from the package 1 MiB at a time: a line cut by the end of a read, in its
// middle or between its CR and LF, is put together again and read as one line.
TEST(HexImageTest, ALineCutByTheOneMegabyteReadIsReadWhole) {
  constexpr size_t kChunk = size_t(1) << 20;
  std::string body;
  for (uint32_t a = 0; a < 0x80000; a += 32) {
    if (a % 0x10000 == 0) body += Linear(uint16_t(a >> 16)) + "\r\n";
    body += Data(a & 0xFFFF, Ramp(uint8_t(a / 32 + a / 0x10000), 32)) + "\r\n";
  }
  body += kEnd + "\r\n";
  ASSERT_GT(body.size(), kChunk);
  for (const char* cut : {"in the middle of a line", "between CR and LF"}) {
    SCOPED_TRACE(cut);
    // Blank lines in front (skipped by the reader) move the text until the cut falls there.
    std::string text;
    bool placed = false;
    for (size_t blanks = 0; blanks < 200 && !placed; ++blanks) {
      text = std::string(2 * blanks, ' ') + body;
      for (size_t i = 0; i < blanks; ++i) text[2 * i] = '\r', text[2 * i + 1] = '\n';
      const char last = text[kChunk - 1];
      placed = std::string(cut) == "between CR and LF" ? last == '\r' : last != '\r' && last != '\n' && last != ':';
    }
    ASSERT_TRUE(placed);
    test::TempDir dir;
    dir.WriteText("p.fud", std::string(1000, '\0') + text);
    HexImage fromFile;
    ASSERT_EQ(fromFile.LoadFromPackage(dir.File("p.fud"), 1000), kHexLoaded);
    HexImage fromText;
    ASSERT_EQ(fromText.LoadFromText(text), kHexLoaded);
    EXPECT_EQ(fromFile.Packed().size(), 0x80000u);
    EXPECT_TRUE(fromFile.Packed() == fromText.Packed());
    EXPECT_TRUE(fromFile.Messages().empty());
  }
}

TEST(HexImageTest, LoadsFromAnOffsetOfAPackageFile) {
  test::TempDir dir;
  std::string hexText;
  for (uint32_t a = 0; a < 0x20000; a += 32) {
    if (a == 0x10000) hexText += Linear(1) + "\r\n";
    hexText += Data(a & 0xFFFF, Ramp(uint8_t(a / 32), 32)) + "\r\n";
  }
  hexText += kEnd + "\r\n";
  std::string package(1000, '\0');
  package += hexText;
  package += std::string(3 << 20, '\x7F');  // other entries after the text, no line ends
  dir.WriteText("p.fud", package);

  HexImage fromFile;
  ASSERT_EQ(fromFile.LoadFromPackage(dir.File("p.fud"), 1000), kHexLoaded);
  HexImage fromText;
  ASSERT_EQ(fromText.LoadFromText(hexText), kHexLoaded);
  EXPECT_EQ(fromFile.Packed().size(), 0x20000u);
  EXPECT_TRUE(fromFile.Packed() == fromText.Packed());

  RecordingPort port;
  HexImage missing(&port);
  EXPECT_EQ(missing.LoadFromPackage(dir.File("none.fud"), 0), kHexCannotOpen);
  ASSERT_EQ(port.notices.size(), 1u);
  EXPECT_EQ(port.notices[0], kHexTextCannotOpen);
  HexImage wrongOffset;
  EXPECT_EQ(wrongOffset.LoadFromPackage(dir.File("p.fud"), 0), kHexFailed) << "binary bytes before the text";
}

}  // namespace
}  // namespace lw
