#include "ui/translate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace lw {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The table is process-wide: every test leaves it empty for the next one.
class Translation : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "lw_lang_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern + "/";
  }
  void TearDown() override {
    SetTranslationTable({});
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string Write(const std::string& name, const std::string& content) {
    std::ofstream(dir + name, std::ios::binary) << content;
    return dir + name;
  }
  std::string dir;
};

TEST_F(Translation, FileSyntax) {
  auto t = ParseLanguageText(
      "\xEF\xBB\xBF" "First=1\n"
      "Trailing=  value with lead  \t\r\n"
      "Key blank =x\n"
      "a=b=c\n"
      "no equals sign\n"
      "\n"
      "Twice=first\n"
      "Twice=second\n"
      "=empty key\n");
  EXPECT_EQ(t.at("First"), "1");  // the byte-order mark is not part of the key
  EXPECT_EQ(t.at("Trailing"), "  value with lead");
  EXPECT_EQ(t.count("Key blank"), 0u);
  EXPECT_EQ(t.at("Key blank "), "x");
  EXPECT_EQ(t.at("a"), "b=c");
  EXPECT_EQ(t.at("Twice"), "first");
  EXPECT_EQ(t.at(""), "empty key");
  EXPECT_EQ(t.size(), 6u);
}

TEST_F(Translation, LookupAndReplacement) {
  ASSERT_TRUE(LoadLanguageFile(Write("a.lng", "Upgrade=升级\nKey blank =x\n=never\n")));
  EXPECT_EQ(Translate("Upgrade"), "升级");
  EXPECT_EQ(Translate("Unknown text"), "Unknown text");
  EXPECT_EQ(Translate(""), "");             // empty stays empty even with an empty key in the file
  EXPECT_EQ(Translate("Key blank"), "Key blank");
  ASSERT_TRUE(LoadLanguageFile(Write("b.lng", "Restore=恢复\n")));
  EXPECT_EQ(Translate("Upgrade"), "Upgrade");  // the table is replaced, not merged
  EXPECT_EQ(Translate("Restore"), "恢复");
  EXPECT_FALSE(LoadLanguageFile(dir + "missing.lng"));
  EXPECT_EQ(Translate("Restore"), "Restore");  // a missing file leaves the English of the code
}

TEST_F(Translation, SwitchingLanguage) {
  Write("English.lng", "Upgrade=Upgrade\n");
  Write("Chinese.lng", "Upgrade=升级\n");
  std::string ini = Write("set.ini", "// settings\n[PROGRAM SET]\nLanguage=English\nSkin=1\n");
  InitInterfaceLanguage("English", dir);
  EXPECT_EQ(CurrentLanguage(), "English");
  EXPECT_FALSE(SwitchInterfaceLanguage("English", dir));
  EXPECT_EQ(Slurp(ini), "// settings\n[PROGRAM SET]\nLanguage=English\nSkin=1\n");

  EXPECT_TRUE(SwitchInterfaceLanguage("Chinese", dir));
  EXPECT_EQ(CurrentLanguage(), "Chinese");
  EXPECT_EQ(Translate("Upgrade"), "升级");
  EXPECT_EQ(Slurp(ini), "// settings\n[PROGRAM SET]\nLanguage=Chinese\nSkin=1\n");
  EXPECT_EQ(CaptionOffsetOf(CurrentLanguage()).x, 3);

  // Choosing the active language again does not reload: a changed file is not read.
  Write("Chinese.lng", "Upgrade=changed\n");
  EXPECT_FALSE(SwitchInterfaceLanguage("Chinese", dir));
  EXPECT_EQ(Translate("Upgrade"), "升级");

  EXPECT_TRUE(SwitchInterfaceLanguage("Klingon", dir));  // anything but Chinese is English
  EXPECT_EQ(CurrentLanguage(), "English");
  EXPECT_EQ(Slurp(ini), "// settings\n[PROGRAM SET]\nLanguage=English\nSkin=1\n");
  EXPECT_EQ(CaptionOffsetOf("English").x, 0);
}

TEST_F(Translation, LanguageFileNames) {
  EXPECT_EQ(LanguageFileName("Chinese"), "Chinese.lng");
  EXPECT_EQ(LanguageFileName("English"), "English.lng");
  EXPECT_EQ(LanguageFileName(""), "English.lng");
  EXPECT_EQ(LanguageFileName("chinese"), "English.lng");  // the setting is case-sensitive
}

}  // namespace
}  // namespace lw
