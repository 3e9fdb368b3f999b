#include "ui/translate.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <shared_mutex>
#include <sstream>

#include "common/program_dir.h"
#include "config/settings.h"

namespace lw {

namespace {

struct LanguageState {
  std::shared_mutex mutex;
  std::map<std::string, std::string> table;
  std::string language;
};

LanguageState& State() {
  static LanguageState state;
  return state;
}

std::string TrimTrailingBlanks(std::string_view s) {
  size_t end = s.size();
  while (end > 0) {
    char c = s[end - 1];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f') break;
    --end;
  }
  return std::string(s.substr(0, end));
}

std::string NormalLanguage(std::string_view language) {
  return language == kLanguageChinese ? kLanguageChinese : kLanguageEnglish;
}

}  // namespace

std::string Translate(std::string_view text) {
  if (text.empty()) return {};
  LanguageState& s = State();
  std::shared_lock lock(s.mutex);
  auto it = s.table.find(std::string(text));
  return it == s.table.end() ? std::string(text) : it->second;
}

std::string TranslateLines(std::string_view text) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    // A "label=value" line: only the label can be a key, since a key ends at the first "=".
    size_t keyLength = std::min(line.find('='), line.size());
    while (keyLength > 0 && (line[keyLength - 1] == ' ' || line[keyLength - 1] == '\t')) --keyLength;
    out += Translate(line.substr(0, keyLength));
    out += line.substr(keyLength);
    if (end == std::string_view::npos) return out;
    out += '\n';
    pos = end + 1;
  }
}

std::map<std::string, std::string> ParseLanguageText(std::string_view content) {
  std::map<std::string, std::string> table;
  // An editor may have saved the file with a byte-order mark; it is not part of the first key.
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t eq = line.find('=');
    if (line.empty() || eq == std::string_view::npos) continue;
    table.emplace(std::string(line.substr(0, eq)), TrimTrailingBlanks(line.substr(eq + 1)));
  }
  return table;
}

bool LoadLanguageFile(const std::string& path) {
  std::map<std::string, std::string> table;
  std::ifstream in(path, std::ios::binary);
  bool ok = bool(in);
  if (ok) {
    std::ostringstream content;
    content << in.rdbuf();
    table = ParseLanguageText(content.str());
  }
  SetTranslationTable(std::move(table));
  return ok;
}

void SetTranslationTable(std::map<std::string, std::string> table) {
  LanguageState& s = State();
  std::unique_lock lock(s.mutex);
  s.table = std::move(table);
}

std::string LanguageFileName(std::string_view language) {
  return language == kLanguageChinese ? "Chinese.lng" : "English.lng";
}

CaptionOffset CaptionOffsetOf(std::string_view language) {
  return language == kLanguageChinese ? CaptionOffset{3, 3} : CaptionOffset{0, 0};
}

std::string CurrentLanguage() {
  LanguageState& s = State();
  std::shared_lock lock(s.mutex);
  return s.language;
}

bool InitInterfaceLanguage(std::string_view language, const std::string& programDir) {
  std::string lang = NormalLanguage(language);
  {
    LanguageState& s = State();
    std::unique_lock lock(s.mutex);
    s.language = lang;
  }
  return LoadLanguageFile(JoinPath(programDir, LanguageFileName(lang)));
}

bool SwitchInterfaceLanguage(std::string_view language, const std::string& programDir) {
  std::string lang = NormalLanguage(language);
  if (CurrentLanguage() == lang) return false;
  InitInterfaceLanguage(lang, programDir);
  WriteSetting(JoinPath(programDir, kSettingsFileName), kProgramSetSection, "Language", lang);
  return true;
}

}  // namespace lw
