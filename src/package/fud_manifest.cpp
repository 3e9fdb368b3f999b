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

namespace {

// Reads the manifest's lines into a package description; the first problem ends the reading.
// Entry sources are only noted here and read once every line is in.
class FudManifestReader {
 public:
  FudManifestReader() {
    PackageHeader& h = desc_.header;
    texts_ = {
        {"magic", &h.magic},
        {"producerVersion", &h.producerVersion},
        {"targetVersion", &h.targetVersion},
        {"dataModelNumber", &h.dataModelNumber},
    };
    numbers_ = {
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
    lists_ = {
        {"versionList", &desc_.versionRecords},
        {"modelList", &desc_.modelRecords},
        {"serialList", &desc_.serialRecords},
        {"tunerList", &desc_.tunerRecords},
    };
  }
  FudManifestReader(const FudManifestReader&) = delete;
  FudManifestReader& operator=(const FudManifestReader&) = delete;

  void OnLine(const ConfigLine& line, const std::string& section) {
    if (!problem_.empty()) return;
    if (line.type == ConfigLineType::Section) {
      StartSection(section);
    } else if (line.key.empty()) {
      problem_ = "[" + section + "] line without \"=\": " + line.text;
    } else if (section == "package") {
      PackageKey(line, section);
    } else if (auto l = lists_.find(section); l != lists_.end()) {
      if (line.key != "record")
        problem_ = "[" + section + "] expects record = TEXT, not " + line.key;
      else l->second->push_back(line.value);
    } else if (section == "entry") {
      EntryKey(line, section);
    } else {
      problem_ = "key " + line.key + " outside a section";
    }
  }

  const std::string& problem() const { return problem_; }
  PackageSpec& desc() { return desc_; }
  const std::vector<std::string>& sources() const { return sources_; }

 private:
  void StartSection(const std::string& section) {
    if (section == "entry") {
      desc_.entries.emplace_back();
      sources_.emplace_back();
    } else if (section != "package" && !lists_.count(section)) {
      problem_ = "unknown section [" + section + "]";
    }
  }

  void Number(const ConfigLine& line, const std::string& section, uint32_t& out) {
    auto n = ParseManifestNumber(line.value);
    if (!n)
      problem_ = "[" + section + "] " + line.key + ": \"" + line.value + "\" is not a number";
    else
      out = *n;
  }

  void PackageKey(const ConfigLine& line, const std::string& section) {
    if (auto t = texts_.find(line.key); t != texts_.end())
      *t->second = line.value;
    else if (auto n = numbers_.find(line.key); n != numbers_.end())
      Number(line, section, *n->second);
    else
      problem_ = "[package] unknown key " + line.key;
  }

  void EntryKey(const ConfigLine& line, const std::string& section) {
    static const std::map<std::string, std::string DirectoryEntry::*, std::less<>> kTexts = {
        {"kindName", &DirectoryEntry::kindName},
        {"fileName", &DirectoryEntry::fileName},
        {"extendName", &DirectoryEntry::extendName},
    };
    static const std::map<std::string, uint32_t DirectoryEntry::*, std::less<>> kNumbers = {
        {"origin", &DirectoryEntry::origin},
        {"areaLength", &DirectoryEntry::areaLength},
        {"externFlag", &DirectoryEntry::externFlag},
        {"dataLength", &DirectoryEntry::dataLength},
    };
    DirectoryEntry& e = desc_.entries.back().entry;
    if (auto t = kTexts.find(line.key); t != kTexts.end())
      e.*(t->second) = line.value;
    else if (line.key == "source")
      sources_.back() = line.value;
    else if (auto n = kNumbers.find(line.key); n != kNumbers.end())
      Number(line, section, e.*(n->second));
    else
      problem_ = "[entry] unknown key " + line.key;
  }

  PackageSpec desc_;
  std::string problem_;
  std::vector<std::string> sources_;  // per entry
  std::map<std::string, std::string*> texts_;
  std::map<std::string, uint32_t*> numbers_;
  std::map<std::string, std::vector<std::string>*> lists_;
};

// Reads the bytes of every entry that is part of the package, and the length of every extern
// one, from the sources named relative to `folder`.
Status ReadEntrySources(PackageSpec& desc, const std::vector<std::string>& sources,
                        const std::filesystem::path& folder) {
  for (size_t i = 0; i < desc.entries.size(); ++i) {
    PackageEntrySpec& entry = desc.entries[i];
    if (entry.entry.kindName.empty()) return Status::Error(Format("[entry] %zu has no kindName", i + 1));
    if (sources[i].empty()) {
      if (entry.entry.externFlag == 0) return Status::Error("[entry] " + entry.entry.kindName + " has no source");
      continue;
    }
    std::string source = (folder / NormalizeSeparators(sources[i])).string();
    if (entry.entry.fileName.empty()) entry.entry.fileName = std::filesystem::path(source).filename().string();
    const std::string unreadable = "cannot read source " + source + " of " + entry.entry.kindName;
    if (entry.entry.externFlag != 0) {
      // An extern image stays outside the package; its length is that of the file.
      std::error_code ec;
      auto size = std::filesystem::file_size(source, ec);
      if (ec) return Status::Error(unreadable);
      entry.entry.dataLength = uint32_t(size);
      continue;
    }
    if (!ReadWholeFile(source, entry.data)) return Status::Error(unreadable);
  }
  return Status::Ok();
}

}  // namespace

Result<PackageSpec> ReadFudManifest(const std::string& path) {
  FudManifestReader reader;
  bool opened = ForEachConfigLine(
      path, [&reader](const ConfigLine& line, const std::string& section) { reader.OnLine(line, section); });
  if (!opened) return Status::Error("cannot read manifest " + path);
  if (!reader.problem().empty()) return Status::Error(reader.problem());
  if (Status read = ReadEntrySources(reader.desc(), reader.sources(), std::filesystem::path(path).parent_path());
      !read.ok())
    return read;
  return std::move(reader.desc());
}

}  // namespace lw
