#include "config/burn_script.h"

#include <fstream>
#include <sstream>

#include "common/text.h"
#include "config/image_kind.h"
#include "config/line_reader.h"

namespace lw {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string WithoutBrackets(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '[' && c != ']') out += c;
  return out;
}

// The user_defined area is the whole flash, whatever the script says.
constexpr const char* kUserDefinedOrigin = "0x0";
constexpr const char* kUserDefinedLength = "0x1000000";

bool IsUserDefinedSection(const std::string& section) { return section == kind::kUserDefined; }

}  // namespace

uint32_t UnsignedDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + uint64_t(text[i] - '0');
    if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  return negative ? uint32_t(0u - uint32_t(value)) : uint32_t(value);
}

uint32_t ParseNumber(std::string_view text) {
  size_t paren = text.find('(');
  if (paren != std::string_view::npos) text = text.substr(0, paren);
  bool hex = text.find("0x") != std::string_view::npos || text.find("0X") != std::string_view::npos;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t v = 0;
  if (hex) {
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < text.size() && HexDigit(text[i + 2]) >= 0)
      i += 2;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
      v = v * 16 + uint64_t(HexDigit(text[i]));
      if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull + 1;  // saturate, keep scanning safely
    }
  } else {
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      v = v * 10 + uint64_t(text[i] - '0');
      if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull + 1;
    }
  }
  uint32_t u = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(v);
  return negative ? uint32_t(0u - u) : u;
}

std::vector<std::string> SplitScriptTokens(std::string_view line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    // A token runs to the next blank; a "[" inside it extends it to the matching "]".
    while (i < line.size() && !IsBlank(line[i])) {
      if (line[i] == '[') {
        size_t close = line.find(']', i + 1);
        i = close == std::string_view::npos ? line.size() : close + 1;
      } else {
        ++i;
      }
    }
    tokens.emplace_back(line.substr(start, i - start));
  }
  return tokens;
}

CommandLine ParseCommandLine(const std::string& kind, const std::string& line) {
  CommandLine c;
  c.kind = kind;
  c.line = line;
  c.tokens = SplitScriptTokens(line);
  size_t bracket = c.tokens.size();
  for (size_t i = 0; i < c.tokens.size(); ++i)
    if (Contains(c.tokens[i], "[")) {
      bracket = i;
      break;
    }
  if (bracket == 0 || bracket == c.tokens.size()) {
    c.commandPart = line;
  } else {
    for (size_t i = 0; i < bracket; ++i) {
      if (i) c.commandPart += "  ";
      c.commandPart += c.tokens[i];
    }
  }
  if (bracket == c.tokens.size()) return c;
  c.option = c.tokens[bracket];
  std::string inner = WithoutBrackets(c.option);
  size_t eq = inner.find('=');
  if (eq != std::string::npos) {
    c.optionIndex = int32_t(ParseNumber(std::string_view(inner).substr(0, eq)));
    c.optionValue = int32_t(ParseNumber(std::string_view(inner).substr(eq + 1)));
  }
  if (Contains(c.option, "FILE")) c.fileMarker = "FILE";
  if (Contains(c.option, "HEX")) c.hexFlag = 0;
  if (Contains(c.option, "BEGIN")) c.positionFlag = kPositionBegin;
  if (Contains(c.option, "EXTERN")) c.positionFlag = kPositionExtern;
  return c;
}

void BurnScript::AddLine(const std::string& raw, std::string& section, bool& pending,
                         ScriptEntry& entry) {
  ConfigLine line = ParseConfigLine(raw);
  if (line.type == ConfigLineType::Comment) return;
  if (line.type == ConfigLineType::Section) {
    section = line.name;
    if (section != kCommDefineSection) {
      if (pending) entries_.push_back(std::move(entry));
      entry = ScriptEntry{};
      entry.name = section;
      pending = true;
      if (IsUserDefinedSection(section)) {
        entry.origin = kUserDefinedOrigin;
        entry.length = kUserDefinedLength;
      }
    }
    return;
  }
  if (section != kCommDefineSection && Contains(line.text, "XRCP_"))
    lines_.push_back(ParseCommandLine(section, line.text));

  DefinedValue value;
  value.section = section;
  value.name = line.key;
  value.value = int32_t(ParseNumber(line.value));
  if (section == kCommDefineSection) {
    auto tokens = SplitScriptTokens(line.text);
    if (tokens.size() > 1) value.tag = WithoutBrackets(tokens[1]);
  }
  bool userDefined = IsUserDefinedSection(section);
  if (userDefined && line.key == "ORIGIN") value.value = int32_t(ParseNumber(kUserDefinedOrigin));
  if (userDefined && line.key == "LENGTH") value.value = int32_t(ParseNumber(kUserDefinedLength));
  values_.push_back(std::move(value));

  if (!pending) return;
  const std::string& k = line.key;
  const std::string& v = line.value;
  if (k == "MEMORYTYPE")
    entry.memoryType = UnsignedDecimal(v);
  else if (k == "FILESYSTEM")
    entry.fileSystem = UnsignedDecimal(v);
  else if (k == "USERDEF")
    entry.userDefined = UnsignedDecimal(v);
  else if (k == "MODIFYADDR")
    entry.modifyAddress = UnsignedDecimal(v);
  else if (k == "BINARY")
    entry.binary = UnsignedDecimal(v);
  else if (k == "ORIGIN") entry.origin = userDefined ? kUserDefinedOrigin : v;
  else if (k == "LENGTH") entry.length = userDefined ? kUserDefinedLength : v;
  else if (k == "EXTORG") entry.extraOrigin = v;
  else if (k == "EXTLEN") entry.extraLength = v;
}

void BurnScript::LoadBurnScriptText(std::string_view text) {
  entries_.clear();
  lines_.clear();
  values_.clear();
  std::string section;
  bool pending = false;
  ScriptEntry entry;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    AddLine(std::string(text.substr(pos, end - pos)), section, pending, entry);
    pos = end + 1;
  }
  if (pending) entries_.push_back(std::move(entry));
}

bool BurnScript::LoadBurnScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    entries_.clear();
    lines_.clear();
    values_.clear();
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  LoadBurnScriptText(content.str());
  return true;
}

const ScriptEntry* BurnScript::FindEntry(std::string_view name) const {
  for (const auto& e : entries_)
    if (e.name == name) return &e;
  return nullptr;
}

std::vector<CommandLine> BurnScript::CommandLines(std::string_view kind) const {
  std::vector<CommandLine> out;
  for (const auto& c : lines_)
    if (c.kind == kind) out.push_back(c);
  return out;
}

std::optional<int32_t> BurnScript::LookupValue(std::string_view kind, std::string_view name) const {
  for (const auto& v : values_) {
    if (v.section != kind && v.section != kCommDefineSection) continue;
    if (!EqualsIgnoreCase(v.name, name)) continue;
    if (v.value == kUndefinedValue) return std::nullopt;
    return v.value;
  }
  return std::nullopt;
}

}  // namespace lw
