// The shipped language files must name every text the code passes to Translate, so that a
// message added later does not silently stay in English for Chinese operators.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <fstream>
#include <cctype>
#include <set>
#include <sstream>

#include "config/burn_script.h"
#include "ui/translate.h"

namespace lw {
namespace {

const std::string kSource = LW_SOURCE_DIR;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::map<std::string, std::string> Table(const char* name) {
  return ParseLanguageText(Slurp(kSource + "/data/" + name));
}

// The C++ string literal body back to its text. Literals with escapes other than an escaped
// quote or backslash (line breaks, tabs) cannot be keys of a line-based file and are left out.
std::optional<std::string> Unescape(const std::string& body) {
  std::string out;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\') {
      out += body[i];
      continue;
    }
    if (++i >= body.size()) return std::nullopt;
    if (body[i] != '"' && body[i] != '\\') return std::nullopt;
    out += body[i];
  }
  return out;
}

// Reads a string literal starting at code[i] == '"'; moves i past it. nullopt when unclosed.
std::optional<std::string> Literal(const std::string& code, size_t& i) {
  size_t start = ++i;
  while (i < code.size() && code[i] != '"') i += code[i] == '\\' ? 2 : 1;
  if (i >= code.size()) return std::nullopt;
  return code.substr(start, i++ - start);
}

void SkipBlanks(const std::string& code, size_t& i) {
  while (i < code.size() && std::isspace(static_cast<unsigned char>(code[i]))) ++i;
}

// Every Translate("...") call with a literal argument, adjacent literals joined.
std::set<std::string> TextsPassedToTranslate() {
  std::set<std::string> texts;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource + "/src")) {
    auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    std::string code = Slurp(entry.path().string());
    for (size_t at = code.find("Translate("); at != std::string::npos; at = code.find("Translate(", at + 1)) {
      if (at > 0 && (std::isalnum(static_cast<unsigned char>(code[at - 1])) || code[at - 1] == '_')) continue;
      size_t i = at + 10;
      SkipBlanks(code, i);
      std::string body;
      bool literal = false;
      while (i < code.size() && code[i] == '"') {
        auto part = Literal(code, i);
        if (!part) break;
        body += *part;
        literal = true;
        SkipBlanks(code, i);
      }
      if (!literal || i >= code.size() || code[i] != ')') continue;
      if (auto text = Unescape(body); text && !text->empty()) texts.insert(*text);
    }
  }
  return texts;
}

TEST(LanguageFiles, NameEveryTextTheCodeTranslates) {
  auto english = Table("English.lng");
  auto chinese = Table("Chinese.lng");
  for (const auto& text : TextsPassedToTranslate()) {
    EXPECT_TRUE(english.count(text)) << "English.lng lacks: " << text;
    EXPECT_TRUE(chinese.count(text)) << "Chinese.lng lacks: " << text;
  }
}

TEST(LanguageFiles, NameEveryPhaseTextOfTheBurnScript) {
  BurnScript script;
  ASSERT_TRUE(script.LoadBurnScript(kSource + "/data/Torvex.ini"));
  auto english = Table("English.lng");
  auto chinese = Table("Chinese.lng");
  int phases = 0;
  for (const auto& c : script.AllCommandLines()) {
    size_t at = c.option.find("PROCESS_TIP=");
    if (at == std::string::npos) continue;
    std::string text = c.option.substr(at + 12);
    text.erase(std::remove(text.begin(), text.end(), ']'), text.end());
    ++phases;
    EXPECT_TRUE(english.count(text)) << text;
    EXPECT_TRUE(chinese.count(text)) << text;
  }
  EXPECT_GT(phases, 0);
}

TEST(LanguageFiles, BothFilesHaveTheSameKeysAndEnglishIsIdentity) {
  auto english = Table("English.lng");
  auto chinese = Table("Chinese.lng");
  ASSERT_FALSE(english.empty());
  for (const auto& [key, value] : english) {
    EXPECT_EQ(key, value);
    EXPECT_TRUE(chinese.count(key)) << key;
  }
  for (const auto& [key, value] : chinese) EXPECT_TRUE(english.count(key)) << key;
  EXPECT_EQ(chinese.at("Upgrading Finished!"), "升级完成！");
}

}  // namespace
}  // namespace lw
