#include <gtest/gtest.h>

#include "cli/command.h"

namespace lw::cli {
namespace {

// Texts printed with --json come from files the operator hands us: whatever they hold, the
// output must stay one valid JSON string.
TEST(CliJson, EscapesControlsAndReplacesInvalidUtf8) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"l1\r\nl2\t", "\"l1\\r\\nl2\\t\""},
      {std::string("\x01\x7f", 2), "\"\\u0001\\u007f\""},
      {"中文", "\"中文\""},
      {"\xff\xfe", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"ab\xe4\xb8", "\"ab\xEF\xBF\xBD\xEF\xBF\xBD\""},    // a cut three-byte sequence
      {"\xc3(", "\"\xEF\xBF\xBD(\""},                       // a lead byte without its follower
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace lw::cli
