// Frame codec and the Comm.log line format.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "link/comm_log.h"
#include "link/link_frame.h"

namespace lw {
namespace {

TEST(LinkFrame, VersionQueryMatchesTheWorkedExample) {
  Bytes frame = BuildLinkFrame(0x0342, {});
  EXPECT_EQ(HexString(frame), "0B 00 EB CD 02 42 03 00 00 ED 03");
  EXPECT_EQ(VerifyLinkFrame(frame), FrameFault::None);
}

TEST(LinkFrame, StateQueryMatchesTheWorkedExample) {
  const uint8_t payload[] = {0x07};
  Bytes frame = BuildLinkFrame(0x0201, payload);
  EXPECT_EQ(HexString(frame), "0C 00 C4 F3 02 01 02 01 00 07 27 03");
  EXPECT_EQ(VerifyLinkFrame(frame), FrameFault::None);
}

// The check word counts an odd last byte as the high byte of a final item; an even-length
// command frame has no such item. Computed here from the definition, item by item.
// The check word and the checksum, summed here one word and one byte at a time, against the
// builder (which sums sixteen or eight bytes at a time, and takes a payload in two parts): every length
// around the eight-byte steps and the lanes' emptying, both parities, and the largest request.
TEST(LinkFrame, CheckWordAndChecksumOverEveryShapeOfPayload) {
  std::vector<size_t> sizes;
  for (size_t n = 0; n <= 40; ++n) sizes.push_back(n);
  for (size_t n : {size_t(512), size_t(519), size_t(1031), size_t(1032), kMaxRequestPayload - 1, kMaxRequestPayload})
    sizes.push_back(n);
  for (size_t n : sizes) {
    Bytes payload(n);
    for (size_t i = 0; i < n; ++i) payload[i] = uint8_t(i * 37 + 11 + (i >> 9));
    for (size_t split : {size_t(0), std::min<size_t>(7, n)}) {
      Bytes frame(n + 11);
      ASSERT_EQ(BuildLinkFrame(0x01C3, ByteView(payload).first(split), ByteView(payload).subspan(split), frame.data(),
                               frame.size()),
                n + 11);
      uint32_t complementSum = 0xFFFF - uint32_t(frame.size());
      ByteView inner = ByteView(frame).subspan(4);
      for (size_t i = 0; i + 1 < inner.size(); i += 2) complementSum += 0xFFFF - Le16(&inner[i]);
      if (inner.size() % 2) complementSum += 0xFFFF - (uint32_t(inner.back()) << 8);
      EXPECT_EQ(Le16(&frame[2]), uint16_t(complementSum)) << "payload " << n << " split " << split;
      uint32_t byteSum = 0xC3 + 0x01 + (n & 0xFF) + (n >> 8);
      for (uint8_t b : payload) byteSum += b;
      EXPECT_EQ(uint8_t(frame[9 + n] + byteSum), uint8_t(kChecksumBase)) << "payload " << n;
      EXPECT_EQ(VerifyLinkFrame(frame), FrameFault::None) << "payload " << n;
    }
  }
  // The radio's answers are longer than any request: the sums past 2,048 bytes, where the
  // eight-byte lanes are emptied into the totals.
  for (size_t n : {size_t(2048 * 3 - 1), size_t(10234)}) {
    Bytes payload(n, 0xFF);
    payload[n / 2] = 0x12;
    uint32_t byteSum = 0x42 + 0x01 + (n & 0xFF) + (n >> 8);
    for (uint8_t b : payload) byteSum += b;
    EXPECT_EQ(uint8_t(CommandChecksum(0x0142, payload) + byteSum), uint8_t(kChecksumBase)) << "payload " << n;
    EXPECT_EQ(VerifyLinkFrame(EncodeLinkFrame(0x0142, payload)), FrameFault::None) << "payload " << n;
  }
}

TEST(LinkFrame, PayloadLimitIsTheRequestBuffer) {
  EXPECT_EQ(BuildLinkFrame(0x01C3, Bytes(kMaxRequestPayload)).size(), kMaxLinkFrameSize);
  EXPECT_TRUE(BuildLinkFrame(0x01C3, Bytes(kMaxRequestPayload + 1)).empty());
  // The radio's answers may be larger than any request.
  EXPECT_EQ(EncodeLinkFrame(0x01C2, Bytes(10231)).size(), size_t(kMaxAnswerLength));
}

TEST(LinkFrame, VerificationNamesEachKindOfDamage) {
  const uint8_t payload[] = {1, 2, 3, 4};
  const Bytes good = BuildLinkFrame(0x01C2, payload);
  struct Case {
    const char* name;
    void (*damage)(Bytes&);
    FrameFault expected;
  };
  const Case cases[] = {
      {"length field", [](Bytes& f) { f[0] += 1; }, FrameFault::BadLength},
      {"check word", [](Bytes& f) { f[2] ^= 1; }, FrameFault::BadCheckWord},
      // The remaining damages keep the check word right, as a radio computing it over bad
      // contents would.
      {"start marker", [](Bytes& f) { f[4] = 0x05; }, FrameFault::BadMarkers},
      {"end marker", [](Bytes& f) { f.back() = 0x04; }, FrameFault::BadMarkers},
      {"inner length", [](Bytes& f) { f[7] = 3; }, FrameFault::BadInnerLength},
      {"checksum", [](Bytes& f) { f[f.size() - 2] ^= 0x10; }, FrameFault::BadChecksum},
  };
  for (const Case& c : cases) {
    Bytes frame = good;
    c.damage(frame);
    if (c.expected != FrameFault::BadLength && c.expected != FrameFault::BadCheckWord)
      PutLe16(&frame[2], CheckWord(uint16_t(frame.size()), ByteView(frame).subspan(4)));
    EXPECT_EQ(VerifyLinkFrame(frame), c.expected) << c.name;
  }
  EXPECT_EQ(VerifyLinkFrame(Bytes{0x0B}), FrameFault::BadLength);
  EXPECT_EQ(VerifyLinkFrame(Bytes{0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}), FrameFault::BadLength);
}

TEST(CommLog, LineFormatIsByteForByte) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::time_t when = 1714572239;  // 2024-05-01 14:03:59 UTC
  const uint8_t bytes[] = {0x0B, 0x00, 0xEB, 0xCD, 0x02};
  EXPECT_EQ(FormatTraceLine(TraceDirection::ToRadio, bytes, when),
            " PC -> Radio(2024-05-01 14:03:59):  0B 00 EB CD 02\r\n");
  EXPECT_EQ(FormatTraceLine(TraceDirection::FromRadio, {}, when), " PC <- Radio(2024-05-01 14:03:59): \r\n");
}

}  // namespace
}  // namespace lw
