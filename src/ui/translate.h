// Text translation and the interface language.
//
// Every text the program shows is written in English in the code and passed through Translate.
// The English text is the key of a process-wide table loaded from "English.lng" or
// "Chinese.lng" beside the program; a text the table does not name is shown as it stands. The
// table is shared by all threads (workers translate their log lines too) and guarded by a lock.
//
// Language file syntax: one key=value per line; the key is everything before the first "="
// taken exactly (not trimmed), the value everything after it with trailing blanks removed;
// lines without "=" are skipped; a key that appears twice keeps its first value. Files are
// UTF-8 (a leading byte-order mark is ignored).
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace lw {

inline constexpr const char* kLanguageEnglish = "English";
inline constexpr const char* kLanguageChinese = "Chinese";

// Translated text of `text`, or `text` itself when the table has no such key or it is empty.
std::string Translate(std::string_view text);

// A text of several lines, translated line by line. A language file can hold neither a line
// break, nor a value's trailing blanks, nor a key with "=" in it: so each line's key is the line
// up to its first "=" (a "label=value" line translates its label), without trailing blanks and
// tabs; the rest of the line follows the translated key unchanged.
std::string TranslateLines(std::string_view text);

// Parses language file text into a table (the rules above).
std::map<std::string, std::string> ParseLanguageText(std::string_view content);

// Replaces the process-wide table with the pairs of the file. When the file cannot be read the
// table is emptied, so that the program shows the English texts of the code; returns false then.
bool LoadLanguageFile(const std::string& path);
// Replaces the table directly (tests).
void SetTranslationTable(std::map<std::string, std::string> table);

// "Chinese.lng" for "Chinese", "English.lng" for anything else.
std::string LanguageFileName(std::string_view language);

// Offsets the skinned buttons add when they draw their captions: 0/0 English, 3/3 Chinese.
struct CaptionOffset {
  int x = 0;
  int y = 0;
};
CaptionOffset CaptionOffsetOf(std::string_view language);

// The interface language in use ("English" or "Chinese"; "" before the first load).
std::string CurrentLanguage();

// Start-up: makes `language` current and loads its file from `programDir` (ending in '/').
// set.ini is not written. Returns the result of the file load.
bool InitInterfaceLanguage(std::string_view language, const std::string& programDir);

// The language menu: does nothing and returns false when `language` is already current;
// otherwise makes it current, loads its file and writes "Language" into "PROGRAM SET" of
// set.ini in `programDir`, and returns true (the caller then re-applies its captions).
// Any language other than "Chinese" is taken as "English".
bool SwitchInterfaceLanguage(std::string_view language, const std::string& programDir);

}  // namespace lw
