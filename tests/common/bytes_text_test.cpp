#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/text.h"

namespace lw {
namespace {

TEST(Bytes, CheckedReadsRefuseFieldsPastTheEnd) {
  Bytes b = {1, 2, 3, 4, 5};
  EXPECT_EQ(ReadLe32(b, 0).value(), 0x04030201u);
  EXPECT_EQ(ReadLe32(b, 1).value(), 0x05040302u);
  EXPECT_FALSE(ReadLe32(b, 2).has_value());
  EXPECT_FALSE(ReadLe16(b, UINT64_MAX).has_value());  // no wrap-around
  EXPECT_FALSE(ReadU8(b, 5).has_value());
}

TEST(Bytes, FixedTextStopsAtNulOrWidthOrBuffer) {
  Bytes b = {'a', 'b', 0, 'c', 'd', 'e'};
  EXPECT_EQ(FixedText(b, 0, 6), "ab");
  EXPECT_EQ(FixedText(b, 3, 2), "cd");
  EXPECT_EQ(FixedText(b, 3, 100), "cde");
  EXPECT_EQ(FixedText(b, 10, 4), "");
}

TEST(Text, Utf16RoundTripKeepsChineseAndStopsAtNul) {
  std::string s = "SN-12 中文";
  Bytes u = Utf8ToUtf16Le(s);
  EXPECT_EQ(Utf16LeToUtf8(u.data(), u.size()), s);
  u.push_back(0);
  u.push_back(0);
  u.push_back('x');
  u.push_back(0);
  EXPECT_EQ(Utf16LeToUtf8(u.data(), u.size()), s);
  EXPECT_EQ(Utf16LeToUtf8(u.data(), 3), "S");  // an odd tail byte is ignored
}

TEST(Text, TrimAndCaseHelpers) {
  EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
  EXPECT_EQ(TrimRight("  a  "), "  a");
  EXPECT_TRUE(EqualsIgnoreCase("USB(001)", "usb(001)"));
  EXPECT_FALSE(EqualsIgnoreCase("USB(001)", "USB(01)"));
  EXPECT_EQ(NormalizeSeparators("Skin1\\Normal.bmp"), "Skin1/Normal.bmp");
}

}  // namespace
}  // namespace lw
