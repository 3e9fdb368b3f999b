#include "package/fud_manifest.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "common/program_dir.h"
#include "common/text.h"
#include "config/line_reader.h"

namespace lw {
namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

}  // namespace

std::optional<uint32_t> ParseManifestNumber(const std::string& text) {
  std::string t = Trim(text);
  bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
  std::string digits = hex ? t.substr(2) : t;
  if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    value = value * (hex ? 16 : 10) + uint64_t(d);
  }
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return uint32_t(value);
}

std::optional<PackageSpec> ReadFudManifest(const std::string& path, std::string* error) {
  PackageSpec desc;
  std::string problem;
  std::vector<std::string> sources;  // per entry
  PackageHeader& h = desc.header;
  const std::map<std::string, std::string*> texts = {
      {"magic", &h.magic},
      {"producerVersion", &h.producerVersion},
      {"targetVersion", &h.targetVersion},
      {"dataModelNumber", &h.dataModelNumber},
  };
  const std::map<std::string, uint32_t*> numbers = {
      {"keepHeadInfo", &h.keepHeadInfo},
      {"keepCpsData", &h.keepCpsData},
      {"allRadios", &h.allRadios},
      {"forPortable", &h.forPortable},
      {"forMobile", &h.forMobile},
      {"forRepeater", &h.forRepeater},
      {"forPortableTrunking", &h.forPortableTrunking},
      {"forMobileTrunking", &h.forMobileTrunking},
      {"forOther", &h.forOther},
      {"ignoreLetter", &h.ignoreLetter},
      {"setModeEnabled", &h.setModeEnabled},
      {"setTypeEnabled", &h.setTypeEnabled},
      {"modeValue", &h.modeValue},
      {"typeValue", &h.typeValue},
      {"compressArmMain", &h.compressArmMain},
  };
  const std::map<std::string, std::vector<std::string>*> lists = {
      {"versionList", &desc.versionRecords},
      {"modelList", &desc.modelRecords},
      {"serialList", &desc.serialRecords},
      {"tunerList", &desc.tunerRecords},
  };

  auto number = [&problem](const ConfigLine& line, const std::string& section, uint32_t& out) {
    auto n = ParseManifestNumber(line.value);
    if (!n) problem = "[" + section + "] " + line.key + ": \"" + line.value + "\" is not a number";
    else out = *n;
  };

  bool opened = ForEachConfigLine(path, [&](const ConfigLine& line, const std::string& section) {
    if (!problem.empty()) return;
    if (line.type == ConfigLineType::Section) {
      if (section == "entry") {
        desc.entries.emplace_back();
        sources.emplace_back();
      } else if (section != "package" && !lists.count(section)) {
        problem = "unknown section [" + section + "]";
      }
      return;
    }
    if (line.key.empty()) {
      problem = "[" + section + "] line without \"=\": " + line.text;
      return;
    }
    if (section == "package") {
      if (auto t = texts.find(line.key); t != texts.end()) *t->second = line.value;
      else if (auto n = numbers.find(line.key); n != numbers.end()) number(line, section, *n->second);
      else problem = "[package] unknown key " + line.key;
    } else if (auto l = lists.find(section); l != lists.end()) {
      if (line.key != "record") problem = "[" + section + "] expects record = TEXT, not " + line.key;
      else l->second->push_back(line.value);
    } else if (section == "entry") {
      DirectoryEntry& e = desc.entries.back().entry;
      if (line.key == "kindName") e.kindName = line.value;
      else if (line.key == "fileName") e.fileName = line.value;
      else if (line.key == "extendName") e.extendName = line.value;
      else if (line.key == "source") sources.back() = line.value;
      else if (line.key == "origin") number(line, section, e.origin);
      else if (line.key == "areaLength") number(line, section, e.areaLength);
      else if (line.key == "externFlag") number(line, section, e.externFlag);
      else if (line.key == "dataLength") number(line, section, e.dataLength);
      else problem = "[entry] unknown key " + line.key;
    } else {
      problem = "key " + line.key + " outside a section";
    }
  });
  if (!opened) problem = "cannot read manifest " + path;

  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  for (size_t i = 0; problem.empty() && i < desc.entries.size(); ++i) {
    PackageEntrySpec& entry = desc.entries[i];
    if (entry.entry.kindName.empty()) {
      problem = Format("[entry] %zu has no kindName", i + 1);
      break;
    }
    if (sources[i].empty()) {
      if (entry.entry.externFlag == 0) problem = "[entry] " + entry.entry.kindName + " has no source";
      continue;
    }
    std::string source = (folder / NormalizeSeparators(sources[i])).string();
    if (entry.entry.fileName.empty()) entry.entry.fileName = std::filesystem::path(source).filename().string();
    if (entry.entry.externFlag != 0) {
      // An extern image stays outside the package; its length is that of the file.
      std::error_code ec;
      auto size = std::filesystem::file_size(source, ec);
      if (ec) problem = "cannot read source " + source + " of " + entry.entry.kindName;
      else entry.entry.dataLength = uint32_t(size);
      continue;
    }
    if (!ReadWholeFile(source, entry.data)) problem = "cannot read source " + source + " of " + entry.entry.kindName;
  }
  if (!problem.empty()) {
    if (error) *error = problem;
    return std::nullopt;
  }
  return desc;
}

}  // namespace lw
