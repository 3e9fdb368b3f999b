#include "package/rcdb_manifest.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "config/line_reader.h"
#include "package/fud_manifest.h"

namespace lw {
namespace {

std::optional<std::vector<int>> SectionNumbers(const std::string& text, size_t count) {
  std::vector<std::string> parts = Split(text, '/');
  if (parts.size() != count) return std::nullopt;
  std::vector<int> out;
  for (const auto& p : parts) {
    auto n = ParseManifestNumber(p);
    if (!n || *n > 65535) return std::nullopt;
    out.push_back(int(*n));
  }
  return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseManifestData(const std::string& text, const std::string& folder,
                                                      std::string* error) {
  auto fail = [error](const std::string& what) -> std::optional<std::vector<uint8_t>> {
    if (error) *error = what;
    return std::nullopt;
  };
  std::vector<uint8_t> out;
  if (StartsWith(text, "hex:")) {
    std::string digits;
    for (char c : text.substr(4))
      if (c != ' ' && c != '\t') digits += c;
    if (digits.size() % 2) return fail("odd number of hex digits in " + text);
    for (size_t i = 0; i < digits.size(); i += 2) {
      auto byte = ParseManifestNumber("0x" + digits.substr(i, 2));
      if (!byte) return fail("not hex: " + text);
      out.push_back(uint8_t(*byte));
    }
  } else if (StartsWith(text, "fill:")) {
    std::vector<std::string> parts = Split(text.substr(5), ':');
    auto length = parts.size() == 2 ? ParseManifestNumber(parts[0]) : std::nullopt;
    auto byte = parts.size() == 2 ? ParseManifestNumber(parts[1]) : std::nullopt;
    if (!length || !byte || *byte > 255 || *length > (64u << 20)) return fail("fill:LENGTH:BYTE expected, not " + text);
    out.assign(*length, uint8_t(*byte));
  } else if (StartsWith(text, "text:")) {
    std::string t = text.substr(5);
    out.assign(t.begin(), t.end());
  } else if (StartsWith(text, "file:")) {
    std::string path = (std::filesystem::path(folder) / NormalizeSeparators(text.substr(5))).string();
    std::ifstream file(path, std::ios::binary);
    if (!file) return fail("cannot read " + path);
    out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  } else {
    return fail("data must start with hex:, fill:, text: or file:, not " + text);
  }
  return out;
}

std::optional<RcdbBuildSpec> ReadRcdbManifest(const std::string& path, std::string* error) {
  RcdbBuildSpec desc;
  RadioIdentity identity;
  bool hasIdentity = false;
  std::string problem;
  std::string folder = std::filesystem::path(path).parent_path().string();
  enum class Kind { None, Image, Tree, Group, Records, Record } kind = Kind::None;
  RcdbBuildTree* tree = nullptr;
  RcdbBuildGroup* group = nullptr;
  RcdbBuildRecord* record = nullptr;
  std::vector<uint8_t>* data = nullptr;
  int pendingSize = -1;

  // Trees and groups are found (or made) by number; pointers stay valid because nothing is
  // added to a vector while a pointer into it is still used for another section.
  auto treeOf = [&desc](int number) {
    for (auto& t : desc.trees)
      if (t.number == number) return &t;
    desc.trees.push_back({number, {}, false});
    return &desc.trees.back();
  };
  auto finishData = [&]() {
    if (data && pendingSize >= 0) data->resize(size_t(pendingSize), 0);
    pendingSize = -1;
  };
  auto number = [&problem](const ConfigLine& line) -> uint32_t {
    auto n = ParseManifestNumber(line.value);
    if (!n) problem = line.key + ": \"" + line.value + "\" is not a number";
    return n.value_or(0);
  };
  auto flag = [&](const ConfigLine& line) { return number(line) != 0; };

  bool opened = ForEachConfigLine(path, [&](const ConfigLine& line, const std::string& section) {
    if (!problem.empty()) return;
    if (line.type == ConfigLineType::Section) {
      finishData();
      data = nullptr;
      std::vector<std::string> words = Split(section, ' ');
      std::string head = words[0];
      std::string rest = words.size() > 1 ? words[1] : "";
      if (section == "image") {
        kind = Kind::Image;
      } else if (head == "tree" && words.size() == 2) {
        auto n = SectionNumbers(rest, 1);
        if (!n || (*n)[0] > 7) problem = "[" + section + "]: tree number 0..7 expected";
        else tree = treeOf((*n)[0]), kind = Kind::Tree, group = nullptr, record = nullptr;
      } else if ((head == "group" || head == "records") && words.size() == 2) {
        auto n = SectionNumbers(rest, 2);
        if (!n || (*n)[0] > 7 || (*n)[1] > 2047) {
          problem = "[" + section + "]: TREE/GROUP expected";
          return;
        }
        tree = treeOf((*n)[0]);
        tree->groups.push_back({});
        group = &tree->groups.back();
        group->number = (*n)[1];
        group->recordArray = head == "records";
        kind = group->recordArray ? Kind::Records : Kind::Group;
        data = &group->data;
      } else if (head == "record" && words.size() == 2) {
        auto n = SectionNumbers(rest, 3);
        if (!n || !group || !group->recordArray || tree->number != (*n)[0] || group->number != (*n)[1]) {
          problem = "[" + section + "] must follow its [records TREE/GROUP]";
          return;
        }
        if (size_t((*n)[2]) != group->records.size()) {
          problem = Format("[%s]: records are numbered from 0 in order; %zu expected", section.c_str(),
                           group->records.size());
          return;
        }
        group->records.push_back({});
        record = &group->records.back();
        data = &record->data;
        kind = Kind::Record;
      } else {
        problem = "unknown section [" + section + "]";
      }
      return;
    }
    const std::string& key = line.key;
    const std::string& value = line.value;
    if (key.empty()) {
      problem = "line without \"=\": " + line.text;
      return;
    }
    switch (kind) {
      case Kind::None:
        problem = "key " + key + " outside a section";
        break;
      case Kind::Image:
        if (key == "layout") {
          if (value != "narrow" && value != "wide") problem = "layout must be narrow or wide";
          desc.wide = value == "wide";
        } else if (key == "model") identity.modelNumber = value, hasIdentity = true;
        else if (key == "serial") identity.serialNumber = value, hasIdentity = true;
        else if (key == "version") identity.softwareVersion = value, hasIdentity = true;
        else if (key == "variant") identity.variantCode = value, hasIdentity = true;
        else if (key == "packageText") identity.packageCheckText = value, hasIdentity = true;
        else if (key == "restrictionCode") {
          identity.restrictionCode = value == "-1" ? -1 : int(int16_t(number(line)));
          hasIdentity = true;
        } else if (key == "formatNibble") desc.formatNibble = int(number(line));
        else if (key == "formatKind") desc.formatKind = int(number(line));
        else if (key == "signature") desc.signature = value;
        else if (key == "headerBlockLength") desc.headerBlockLength = uint16_t(number(line));
        else if (key == "rootExtraTable") desc.rootExtraTable = flag(line);
        else if (key == "treesAt") desc.treesAt = number(line);
        else if (StartsWith(key, "header.")) {
          auto n = ParseManifestNumber(key.substr(7));
          auto bytes = ParseManifestData(value, folder, &problem);
          if (!n || *n > 11) problem = key + ": header groups are 0..11";
          else if (bytes) desc.headerGroups[int(*n)] = *bytes;
        } else problem = "[image] unknown key " + key;
        break;
      case Kind::Tree:
        if (key == "extraTable") tree->extraTable = flag(line);
        else problem = "[tree] unknown key " + key;
        break;
      case Kind::Records:
        if (key == "extraTable") group->extraTable = flag(line);
        else problem = "[records] unknown key " + key;
        break;
      case Kind::Group:
      case Kind::Record: {
        bool& extra = kind == Kind::Group ? group->extraTable : record->extraTable;
        int& elements = kind == Kind::Group ? group->elements : record->elements;
        if (key == "data") {
          auto bytes = ParseManifestData(value, folder, &problem);
          if (bytes) data->insert(data->end(), bytes->begin(), bytes->end());
        } else if (key == "size") pendingSize = int(std::min<uint32_t>(number(line), 64u << 20));
        else if (key == "elements") elements = int(number(line));
        else if (key == "extraTable") extra = flag(line);
        else problem = "unknown key " + key;
        break;
      }
    }
  });
  finishData();
  if (!opened) problem = "cannot read manifest " + path;
  if (!problem.empty()) {
    if (error) *error = problem;
    return std::nullopt;
  }
  if (hasIdentity) desc.identity = identity;
  return desc;
}

}  // namespace lw
