#include "config/line_reader.h"

#include <gtest/gtest.h>

#include "temp_files.h"

namespace lw {
namespace {

struct LineCase {
  const char* raw;
  ConfigLineType type;
  const char* name;
  const char* key;
  const char* value;
};

TEST(LineReader, ClassifiesLines) {
  const LineCase cases[] = {
      {"", ConfigLineType::Comment, "", "", ""},
      {"   \t ", ConfigLineType::Comment, "", "", ""},
      {"// a comment = with equals", ConfigLineType::Comment, "", "", ""},
      {"  // indented comment", ConfigLineType::Comment, "", "", ""},
      {"x=1 /************** separator", ConfigLineType::Comment, "", "", ""},
      {"===============", ConfigLineType::Comment, "", "", ""},
      {"[PROGRAM SET]", ConfigLineType::Section, "PROGRAM SET", "", ""},
      {"  [PROGRAM SET]  // trailing", ConfigLineType::Section, "PROGRAM SET", "", ""},
      {"[a]b]", ConfigLineType::Section, "ab", "", ""},
      {"[no closing", ConfigLineType::Key, "", "", ""},
      {"Play Sound = TRUE", ConfigLineType::Key, "", "Play Sound", "TRUE"},
      {"Skin=2 // the second skin", ConfigLineType::Key, "", "Skin", "2"},
      {"a = b = c", ConfigLineType::Key, "", "a", "b = c"},
      {"no equals sign", ConfigLineType::Key, "", "", ""},
      {"=value only", ConfigLineType::Key, "", "", "value only"},
      {"Key=\r", ConfigLineType::Key, "", "Key", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    ConfigLine line = ParseConfigLine(c.raw);
    EXPECT_EQ(line.type, c.type);
    EXPECT_EQ(line.name, c.name);
    EXPECT_EQ(line.key, c.key);
    EXPECT_EQ(line.value, c.value);
  }
}

TEST(LineReader, ListLinesKeepTheirBrackets) {
  // The list files start every line with "[": only the comment rules apply to them.
  EXPECT_EQ(CleanConfigLine("  [Unit 1][00 11 22 33 44 55]  // note"), "[Unit 1][00 11 22 33 44 55]");
  EXPECT_EQ(CleanConfigLine("// [commented][out]"), "");
}

TEST(LineReader, BracketFields) {
  using V = std::vector<std::string>;
  EXPECT_EQ(BracketFields("<a><b c>", '<', '>'), (V{"a", "b c"}));
  EXPECT_EQ(BracketFields("x <a> y <b> z", '<', '>'), (V{"a", "b"}));
  EXPECT_EQ(BracketFields("<a><b", '<', '>'), (V{"a"}));        // unclosed tail gives nothing
  EXPECT_EQ(BracketFields("<a<b>", '<', '>'), (V{"a<b"}));      // first close ends the field
  EXPECT_EQ(BracketFields("<><>", '<', '>'), (V{"", ""}));
  EXPECT_EQ(BracketFields(">>>", '<', '>'), V{});
  EXPECT_EQ(BracketFields("[n][1 2]", '[', ']'), (V{"n", "1 2"}));
  EXPECT_EQ(AngleFields("<a><b>//c"), V{});
}

TEST(LineReader, WalksSectionsOfAFile) {
  testing::TempDir dir;
  std::string path = dir.Write("f.ini", "top=1\r\n[S1]\r\n// c\r\nk=v\r\n[S2]\nx\n");
  std::vector<std::string> seen;
  ASSERT_TRUE(ForEachConfigLine(path, [&](const ConfigLine& l, const std::string& section) {
    seen.push_back(section + "|" + l.key + "|" + l.value);
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"|top|1", "S1||", "S1|k|v", "S2||", "S2||"}));
  EXPECT_FALSE(ForEachConfigLine(dir.File("missing.ini"), [](const ConfigLine&, const std::string&) {}));
}

}  // namespace
}  // namespace lw
