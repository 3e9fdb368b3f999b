// The text line reader shared by set.ini, the burn script and the two list files.
//
// Rules, in order: a line is trimmed of blanks at both ends; an empty line, a line starting
// with "//" and a separator line holding "/**************" or "===============" are comments;
// the text from a later "//" on is cut off; a line that starts with "[" and holds "]" opens a
// section named by the line without its "[" and "]"; any other line is a key line, split at the
// first "=" into a trimmed key and a trimmed value (both empty when there is no "=").
//
// The readers never trust their input: a binary file, a 100,000-character line or a missing
// file gives lines that are simply ignored, never an error.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

enum class ConfigLineType { Comment, Section, Key };

struct ConfigLine {
  ConfigLineType type = ConfigLineType::Comment;
  std::string text;   // trimmed, trailing comment cut (empty for comment lines)
  std::string name;   // section name (Section)
  std::string key;    // trimmed text before the first "=" (Key; empty without "=")
  std::string value;  // trimmed text after the first "=" (Key)
};

// Rules 1-3 only: the trimmed line with its trailing comment cut, or "" for a comment line.
// The list files use this; their lines start with "[" and are not sections.
std::string CleanConfigLine(std::string_view raw);

// All rules: classifies one raw line.
ConfigLine ParseConfigLine(std::string_view raw);

// Reads every line of a file (line breaks LF or CRLF removed). False when the file cannot be
// opened; `lines` is then left empty.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// Walks a file with all rules; `visit` gets each non-comment line and the name of the section it
// stands in ("" before the first header; a header line gets its own name). False when the file
// cannot be opened.
bool ForEachConfigLine(const std::string& path,
                       const std::function<void(const ConfigLine& line, const std::string& section)>& visit);

// The texts between `open` and `close` in order: "<a><b>" gives {"a", "b"} for '<' '>', and
// "[a][b c]" gives {"a", "b c"} for '[' ']'. An opening mark without its closing mark ends the
// scan (the unbalanced tail gives no field); text between fields is ignored.
std::vector<std::string> BracketFields(std::string_view line, char open, char close);

// The angle-bracket fields of a rule line ("<from><to>"); a line holding "//" gives none.
std::vector<std::string> AngleFields(std::string_view line);

}  // namespace lw
