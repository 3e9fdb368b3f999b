#include "package/rcdb_manifest.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

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

Result<std::vector<uint8_t>> ParseManifestData(const std::string& text, const std::string& folder) {
  auto fail = [](const std::string& what) { return Status::Error(what); };
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

namespace {

// Reads a manifest one line at a time; the first problem ends the reading.
class RcdbManifestReader {
 public:
  explicit RcdbManifestReader(const std::string& path) : folder_(std::filesystem::path(path).parent_path().string()) {}

  void OnLine(const ConfigLine& line, const std::string& section) {
    if (!problem_.empty()) return;
    if (line.type == ConfigLineType::Section) {
      FinishData();
      data_ = nullptr;
      StartSection(section);
    } else if (line.key.empty()) {
      problem_ = "line without \"=\": " + line.text;
    } else {
      OnKey(line);
    }
  }

  Result<RcdbBuildSpec> Finish(bool opened, const std::string& path) {
    FinishData();
    if (!opened) problem_ = "cannot read manifest " + path;
    if (!problem_.empty()) return Status::Error(problem_);
    if (hasIdentity_) desc_.identity = identity_;
    return desc_;
  }

 private:
  enum class Kind { None, Image, Tree, Group, Records, Record };

  // Trees are found (or made) by number; pointers stay valid because nothing is added to a
  // vector while a pointer into it is still used for another section.
  RcdbBuildTree* TreeOf(int number) {
    for (auto& t : desc_.trees)
      if (t.number == number) return &t;
    desc_.trees.push_back({number, {}, false});
    return &desc_.trees.back();
  }

  void FinishData() {
    if (data_ && pendingSize_ >= 0) data_->resize(size_t(pendingSize_), 0);
    pendingSize_ = -1;
  }

  uint32_t Number(const ConfigLine& line) {
    auto n = ParseManifestNumber(line.value);
    if (!n) problem_ = line.key + ": \"" + line.value + "\" is not a number";
    return n.value_or(0);
  }
  bool Flag(const ConfigLine& line) { return Number(line) != 0; }

  void StartSection(const std::string& section) {
    std::vector<std::string> words = Split(section, ' ');
    const std::string& head = words[0];
    const std::string rest = words.size() > 1 ? words[1] : "";
    if (section == "image") {
      kind_ = Kind::Image;
    } else if (head == "tree" && words.size() == 2) {
      auto n = SectionNumbers(rest, 1);
      if (!n || (*n)[0] > 7) {
        problem_ = "[" + section + "]: tree number 0..7 expected";
        return;
      }
      tree_ = TreeOf((*n)[0]);
      kind_ = Kind::Tree;
      group_ = nullptr;
      record_ = nullptr;
    } else if ((head == "group" || head == "records") && words.size() == 2) {
      StartGroup(section, head == "records", rest);
    } else if (head == "record" && words.size() == 2) {
      StartRecord(section, rest);
    } else {
      problem_ = "unknown section [" + section + "]";
    }
  }

  void StartGroup(const std::string& section, bool recordArray, const std::string& numbers) {
    auto n = SectionNumbers(numbers, 2);
    if (!n || (*n)[0] > 7 || (*n)[1] > 2047) {
      problem_ = "[" + section + "]: TREE/GROUP expected";
      return;
    }
    tree_ = TreeOf((*n)[0]);
    tree_->groups.push_back({});
    group_ = &tree_->groups.back();
    group_->number = (*n)[1];
    group_->recordArray = recordArray;
    kind_ = recordArray ? Kind::Records : Kind::Group;
    data_ = &group_->data;
  }

  void StartRecord(const std::string& section, const std::string& numbers) {
    auto n = SectionNumbers(numbers, 3);
    if (!n || !group_ || !group_->recordArray || tree_->number != (*n)[0] || group_->number != (*n)[1]) {
      problem_ = "[" + section + "] must follow its [records TREE/GROUP]";
      return;
    }
    if (size_t((*n)[2]) != group_->records.size()) {
      problem_ =
          Format("[%s]: records are numbered from 0 in order; %zu expected", section.c_str(), group_->records.size());
      return;
    }
    group_->records.push_back({});
    record_ = &group_->records.back();
    data_ = &record_->data;
    kind_ = Kind::Record;
  }

  void OnKey(const ConfigLine& line) {
    const std::string& key = line.key;
    switch (kind_) {
      case Kind::None: problem_ = "key " + key + " outside a section"; break;
      case Kind::Image: ImageKey(line); break;
      case Kind::Tree:
        if (key == "extraTable")
          tree_->extraTable = Flag(line);
        else
          problem_ = "[tree] unknown key " + key;
        break;
      case Kind::Records:
        if (key == "extraTable")
          group_->extraTable = Flag(line);
        else
          problem_ = "[records] unknown key " + key;
        break;
      case Kind::Group:
      case Kind::Record: DataKey(line); break;
    }
  }

  void ImageKey(const ConfigLine& line) {
    using Handler = void (*)(RcdbManifestReader&, const ConfigLine&);
    static const std::map<std::string, Handler, std::less<>> kKeys = {
        {"layout",
         [](RcdbManifestReader& r, const ConfigLine& l) {
           if (l.value != "narrow" && l.value != "wide") r.problem_ = "layout must be narrow or wide";
           r.desc_.wide = l.value == "wide";
         }},
        {"model", [](RcdbManifestReader& r, const ConfigLine& l) { r.Identity().modelNumber = l.value; }},
        {"serial", [](RcdbManifestReader& r, const ConfigLine& l) { r.Identity().serialNumber = l.value; }},
        {"version", [](RcdbManifestReader& r, const ConfigLine& l) { r.Identity().softwareVersion = l.value; }},
        {"variant", [](RcdbManifestReader& r, const ConfigLine& l) { r.Identity().variantCode = l.value; }},
        {"packageText", [](RcdbManifestReader& r, const ConfigLine& l) { r.Identity().packageCheckText = l.value; }},
        {"restrictionCode",
         [](RcdbManifestReader& r, const ConfigLine& l) {
           r.Identity().restrictionCode = l.value == "-1" ? -1 : int(int16_t(r.Number(l)));
         }},
        {"formatNibble", [](RcdbManifestReader& r, const ConfigLine& l) { r.desc_.formatNibble = int(r.Number(l)); }},
        {"formatKind", [](RcdbManifestReader& r, const ConfigLine& l) { r.desc_.formatKind = int(r.Number(l)); }},
        {"signature", [](RcdbManifestReader& r, const ConfigLine& l) { r.desc_.signature = l.value; }},
        {"headerBlockLength",
         [](RcdbManifestReader& r, const ConfigLine& l) { r.desc_.headerBlockLength = uint16_t(r.Number(l)); }},
        {"rootExtraTable", [](RcdbManifestReader& r, const ConfigLine& l) { r.desc_.rootExtraTable = r.Flag(l); }},
        {"treesAt", [](RcdbManifestReader& r, const ConfigLine& l) { r.desc_.treesAt = r.Number(l); }},
    };
    if (auto it = kKeys.find(line.key); it != kKeys.end()) {
      it->second(*this, line);
    } else if (StartsWith(line.key, "header.")) {
      HeaderGroupKey(line);
    } else {
      problem_ = "[image] unknown key " + line.key;
    }
  }

  // Any identity text makes the image carry an identity.
  RadioIdentity& Identity() {
    hasIdentity_ = true;
    return identity_;
  }

  void HeaderGroupKey(const ConfigLine& line) {
    auto n = ParseManifestNumber(line.key.substr(7));
    auto bytes = ParseManifestData(line.value, folder_);
    if (!n || *n > 11)
      problem_ = line.key + ": header groups are 0..11";
    else if (!bytes)
      problem_ = bytes.status().message();
    else
      desc_.headerGroups[int(*n)] = *bytes;
  }

  // A key of a plain group or of a record.
  void DataKey(const ConfigLine& line) {
    const std::string& key = line.key;
    bool& extra = kind_ == Kind::Group ? group_->extraTable : record_->extraTable;
    int& elements = kind_ == Kind::Group ? group_->elements : record_->elements;
    if (key == "data") {
      auto bytes = ParseManifestData(line.value, folder_);
      if (bytes)
        data_->insert(data_->end(), bytes->begin(), bytes->end());
      else
        problem_ = bytes.status().message();
    } else if (key == "size") {
      pendingSize_ = int(std::min<uint32_t>(Number(line), 64u << 20));
    } else if (key == "elements") {
      elements = int(Number(line));
    } else if (key == "extraTable") {
      extra = Flag(line);
    } else {
      problem_ = "unknown key " + key;
    }
  }

  RcdbBuildSpec desc_;
  RadioIdentity identity_;
  bool hasIdentity_ = false;
  std::string problem_;
  std::string folder_;
  Kind kind_ = Kind::None;
  RcdbBuildTree* tree_ = nullptr;
  RcdbBuildGroup* group_ = nullptr;
  RcdbBuildRecord* record_ = nullptr;
  std::vector<uint8_t>* data_ = nullptr;
  int pendingSize_ = -1;
};

}  // namespace

Result<RcdbBuildSpec> ReadRcdbManifest(const std::string& path) {
  RcdbManifestReader reader(path);
  bool opened = ForEachConfigLine(
      path, [&reader](const ConfigLine& line, const std::string& section) { reader.OnLine(line, section); });
  return reader.Finish(opened, path);
}

}  // namespace lw
