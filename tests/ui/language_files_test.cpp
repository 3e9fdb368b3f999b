// The shipped language files must name every text the code passes to Translate, so that a
// message added later does not silently stay in English for Chinese operators.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <fstream>
#include <cctype>
#include <set>
#include <vector>
#include <sstream>

#include "common/text.h"
#include "config/burn_script.h"
#include "config/settings.h"
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

// The C++ string literal body back to its text; nullopt for escapes a message never uses.
std::optional<std::string> Unescape(const std::string& body) {
  std::string out;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\') {
      out += body[i];
      continue;
    }
    if (++i >= body.size()) return std::nullopt;
    switch (body[i]) {
      case '"': case '\\': out += body[i]; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      default: return std::nullopt;
    }
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

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The argument text of the call whose "(" is at code[open]: up to the matching ")".
std::string CallArgument(const std::string& code, size_t open) {
  int depth = 0;
  for (size_t i = open; i < code.size(); ++i) {
    if (code[i] == '"') {
      if (!Literal(code, i)) break;
      --i;
    } else if (code[i] == '(') {
      ++depth;
    } else if (code[i] == ')' && --depth == 0) {
      return code.substr(open + 1, i - open - 1);
    }
  }
  return {};
}

// The literals of an argument; literals with only blanks between them are one text.
std::vector<std::string> LiteralsOf(const std::string& argument) {
  std::vector<std::string> texts;
  bool joining = false;
  for (size_t i = 0; i < argument.size();) {
    if (argument[i] == '"') {
      auto body = Literal(argument, i);
      if (!body) break;
      if (joining) texts.back() += *body;
      else texts.push_back(*body);
      joining = true;
    } else {
      if (!std::isspace(static_cast<unsigned char>(argument[i]))) joining = false;
      ++i;
    }
  }
  return texts;
}

// The keys a text is looked up by: TranslateLines takes each line up to its first "=", without
// trailing blanks; a one-line text is its own key.
std::vector<std::string> KeysOf(const std::string& text) {
  std::vector<std::string> keys;
  for (std::string line : Split(text, '\n')) {
    line = line.substr(0, std::min(line.find('='), line.size()));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!line.empty()) keys.push_back(line);
  }
  if (text.find('\n') == std::string::npos && !text.empty()) keys = {text};
  return keys;
}

struct Call {
  std::string file;      // below src/
  std::string function;
  std::string argument;  // blanks folded
};

struct Handed {
  std::set<std::string> keys;   // from literals in the calls and in TextKey marks
  std::vector<Call> indirect;   // calls whose argument holds no literal
};

std::string Fold(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Every way the code hands a text to the language table: the lookups (Translate, TranslateLines,
// the window's Tr) and TextKey, which marks texts that reach a lookup through a constant, a table
// or a variable.
Handed TextsHandedToTheTable() {
  Handed handed;
  const std::string src = kSource + "/src/";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
    auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    if (entry.path().string().find("/tests/") != std::string::npos) continue;
    const std::string code = Slurp(entry.path().string());
    for (const char* function : {"Translate", "TranslateLines", "Tr", "TextKey"}) {
      const std::string call = std::string(function) + "(";
      for (size_t at = code.find(call); at != std::string::npos; at = code.find(call, at + 1)) {
        if (at > 0 && (IsNameChar(code[at - 1]) || code[at - 1] == ':' || code[at - 1] == '.' || code[at - 1] == '>'))
          continue;
        const std::string argument = CallArgument(code, at + call.size() - 1);
        const auto literals = LiteralsOf(argument);
        for (const auto& body : literals)
          if (auto text = Unescape(body))
            for (const auto& key : KeysOf(*text)) handed.keys.insert(key);
        if (literals.empty())
          handed.indirect.push_back({entry.path().string().substr(src.size()), function, Fold(argument)});
      }
    }
  }
  return handed;
}

// A lookup whose argument is a named constant defined with TextKey (or a table of them).
bool IsMarkedConstant(const std::string& argument, const std::string& allCode) {
  std::string name = argument.substr(0, argument.find('['));
  if (name.size() < 2 || name[0] != 'k' || !std::all_of(name.begin(), name.end(), IsNameChar)) return false;
  for (size_t at = allCode.find(name); at != std::string::npos; at = allCode.find(name, at + 1)) {
    size_t i = at + name.size();
    if (IsNameChar(allCode[at - 1]) || IsNameChar(allCode[i])) continue;
    size_t eq = allCode.find_first_of("=;(),", i);
    if (eq == std::string::npos || allCode[eq] != '=') continue;
    size_t value = allCode.find_first_not_of(" \n{", eq + 1);
    if (allCode.compare(value, 8, "TextKey(") == 0) return true;
  }
  return false;
}

// Lookups of texts that are not literals at the call. Each names where its texts come from and
// what makes sure they are in the language files. A new lookup of this kind fails the test
// until it is added here, with its texts marked or checked.
struct IndirectLookup {
  const char* file;
  const char* argument;
  const char* texts;
};
const IndirectLookup kIndirectLookups[] = {
    {"app/operation_controller.cpp", "RadioTypeName(type)", "radio type names, TextKey in radio_identity.cpp"},
    {"app/operation_controller.cpp", "message", "failure texts, TextKey where assigned"},
    {"app/operation_controller.cpp", "pattern", "refusal patterns, TextKey at each refused() call"},
    {"cli/cmd_backups.cpp", "columns[0].title", "restore list columns, TextKey in restore_list.cpp"},
    {"cli/cmd_backups.cpp", "columns[1].title", "restore list columns"},
    {"cli/cmd_backups.cpp", "columns[2].title", "restore list columns"},
    {"cli/cmd_backups.cpp", "columns[3].title", "restore list columns"},
    {"cli/cmd_translate.cpp", "text", "the operator's own text to look up"},
    {"engine/hex_image.cpp", "text", "the HEX reader's texts, TextKey constants"},
    {"engine/script_runner.cpp", "text", "phase texts of the burn script: NameEveryPhaseTextOfTheBurnScript"},
    {"gui/main_window.cpp", "b.caption", "skin button captions, TextKey in skin_model.cpp"},
    {"gui/main_window.cpp", "e.caption", "menu captions, TextKey in menu_model.cpp"},
    {"gui/main_window.cpp", "pair.first", "set.ini display labels: NameEveryDisplayLabelOfTheShippedSettings"},
    {"gui/main_window.cpp", "state_.settings.version", "a version text; the table may name it"},
    {"gui/restore_dialog.cpp", "c.title", "restore list columns"},
    {"gui/window_session.cpp", "entry.text", "the port list's no-port entry, kNoPortText"},
    {"package/eligibility.cpp", "name", "radio type names"},
    {"package/fud_reader.cpp", "name", "radio type names, TextKey in the table beside it"},
    {"ui/translate.cpp", "line.substr(0, keyLength)", "the lines of a TranslateLines text"},
    {"gui/main_window.cpp", "text", "the window's Tr itself, whose calls are read"},
    {"gui/restore_dialog.cpp", "text", "the dialog's Tr itself, whose calls are read"},
};

bool IsDeclaration(const std::string& argument) {
  return argument.empty() || StartsWith(argument, "const ") || StartsWith(argument, "std::string_view ");
}

TEST(LanguageFiles, NameEveryTextTheCodeHandsToTheTable) {
  auto english = Table("English.lng");
  auto chinese = Table("Chinese.lng");
  const Handed handed = TextsHandedToTheTable();
  EXPECT_TRUE(handed.keys.count("Save Head Information")) << "the window's Tr calls are not read";
  EXPECT_TRUE(handed.keys.count("CanNotAcceptFile")) << "TextKey marks are not read";
  for (const auto& text : handed.keys) {
    EXPECT_TRUE(english.count(text)) << "English.lng lacks: " << text;
    EXPECT_TRUE(chinese.count(text)) << "Chinese.lng lacks: " << text;
  }

  std::string allCode;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource + "/src"))
    if (entry.is_regular_file()) allCode += Slurp(entry.path().string());
  for (const Call& call : handed.indirect) {
    if (IsDeclaration(call.argument) || IsMarkedConstant(call.argument, allCode)) continue;
    const bool known = std::any_of(std::begin(kIndirectLookups), std::end(kIndirectLookups), [&](const auto& l) {
      return call.file == l.file && call.argument == l.argument;
    });
    EXPECT_TRUE(known) << call.file << ": " << call.function << "(" << call.argument
                       << ") looks up a text the check cannot see; mark its texts with TextKey, or say in "
                          "kIndirectLookups where they are checked";
  }
}

TEST(LanguageFiles, NameEveryDisplayLabelOfTheShippedSettings) {
  auto english = Table("English.lng");
  auto chinese = Table("Chinese.lng");
  const UpgradeRules rules = ReadUpgradeRules(kSource + "/data/set.ini");
  ASSERT_FALSE(rules.displayPairs.empty());
  for (const DisplayPair& pair : rules.displayPairs) {
    EXPECT_TRUE(english.count(pair.first)) << pair.first;
    EXPECT_TRUE(chinese.count(pair.first)) << pair.first;
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
