#include "config/line_reader.h"

#include <fstream>

#include "common/text.h"

namespace lw {

std::string CleanConfigLine(std::string_view raw) {
  std::string line = Trim(raw);
  if (line.empty() || StartsWith(line, "//") || Contains(line, "/**************") ||
      Contains(line, "==============="))
    return {};
  size_t comment = line.find("//");
  if (comment != std::string::npos) line = Trim(std::string_view(line).substr(0, comment));
  return line;
}

ConfigLine ParseConfigLine(std::string_view raw) {
  ConfigLine out;
  out.text = CleanConfigLine(raw);
  if (out.text.empty()) return out;
  if (out.text.front() == '[' && Contains(out.text, "]")) {
    out.type = ConfigLineType::Section;
    for (char c : out.text)
      if (c != '[' && c != ']') out.name += c;
    return out;
  }
  out.type = ConfigLineType::Key;
  size_t eq = out.text.find('=');
  if (eq != std::string::npos) {
    out.key = Trim(std::string_view(out.text).substr(0, eq));
    out.value = Trim(std::string_view(out.text).substr(eq + 1));
  }
  return out;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    line.clear();
  }
  return true;
}

bool ForEachConfigLine(const std::string& path,
                       const std::function<void(const ConfigLine&, const std::string&)>& visit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string raw, section;
  while (std::getline(in, raw)) {
    ConfigLine line = ParseConfigLine(raw);
    if (line.type == ConfigLineType::Comment) continue;
    if (line.type == ConfigLineType::Section) section = line.name;
    visit(line, section);
  }
  return true;
}

std::vector<std::string> BracketFields(std::string_view line, char open, char close) {
  std::vector<std::string> fields;
  size_t pos = 0;
  while (true) {
    size_t start = line.find(open, pos);
    if (start == std::string_view::npos) break;
    size_t end = line.find(close, start + 1);
    if (end == std::string_view::npos) break;
    fields.emplace_back(line.substr(start + 1, end - start - 1));
    pos = end + 1;
  }
  return fields;
}

std::vector<std::string> AngleFields(std::string_view line) {
  if (line.find("//") != std::string_view::npos) return {};
  return BracketFields(line, '<', '>');
}

}  // namespace lw
