#include "config/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/atomic_file.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "common/unique_fd.h"
#include "config/line_reader.h"

namespace lw {

namespace {

using P = ProgramSettings;

SettingField Text(const char* name, std::string P::*m, SettingType type = SettingType::Text) {
  return SettingField{name, type, m, nullptr, nullptr};
}
SettingField Flag(const char* name, bool P::*m, SettingType type = SettingType::Flag) {
  return SettingField{name, type, nullptr, m, nullptr};
}
SettingField Number(const char* name, uint32_t P::*m) {
  return SettingField{name, SettingType::Number, nullptr, nullptr, m};
}

std::vector<SettingField> BuildFields() {
  std::vector<SettingField> f = {
      Text("Language", &P::language),
      Text("Burn Fud File", &P::burnFudFile),
      Flag("AutoTest", &P::autoTest),
      Flag("Development Version", &P::developmentVersion),
      Flag("Before Version", &P::beforeVersion),
      Flag("Burn Old Version", &P::burnOldVersion),
      Flag("Play Sound", &P::playSound),
      Text("Version", &P::version),
      Text("Version2", &P::version2),
      Text("Upgrade To", &P::upgradeTo),
      Text("Upgrade To2", &P::upgradeTo2),
      Text("Radio Type", &P::radioType, SettingType::RadioType),
      Text("Digital Type", &P::digitalType, SettingType::TextNoBrackets),
      Text("Encrypt Len", &P::encryptLen, SettingType::TextTrimmed),
      Flag("AllPreVersionUpgrade", &P::allPreVersionUpgrade, SettingType::FlagExact),
      Flag("Auto Burn ArmMain", &P::autoBurnArmMain, SettingType::FlagExact),
      Flag("Auto Burn Region Language", &P::autoBurnRegionLanguage, SettingType::FlagExact),
      Flag("MAC Address Write", &P::macAddressWrite),
      Flag("ESN Data Write", &P::esnDataWrite),
      Flag("Save Tuner Data", &P::saveTunerData),
      Text("CHS File", &P::chsFile),
      Text("NA2 File", &P::na2File),
      Text("EM5 File", &P::em5File),
      Text("SA6 File", &P::sa6File),
      Text("AS8 File", &P::as8File),
      Text("Farsi File", &P::farsiFile),
      Text("Arabic File", &P::arabicFile),
      Text("Korean File", &P::koreanFile),
      Text("Thai File", &P::thaiFile),
      Text("Japanese File", &P::japaneseFile),
      Text("Forest File", &P::forestFile),
      Number("SetModeStandard", &P::setModeStandard),
      SettingField{"SelectLanguage", SettingType::TextAndNumber, &P::selectLanguageText, nullptr, &P::selectLanguage},
      Text("AMBE AutoBurn", &P::ambeAutoBurn),
      Text("COMM AutoBurn", &P::commAutoBurn),
      Text("SELP AutoBurn", &P::selpAutoBurn),
      Text("NVOC AutoBurn", &P::nvocAutoBurn),
      Flag("Disp Tips", &P::dispTips),
      Flag("Not Tips Later", &P::notTipsLater),
      Number("Skin", &P::skin),
      Number("Timeout MilliSecond", &P::timeoutMs),
      Number("Model Type", &P::modelType),
      Text("arm_main file", &P::armMainFile),
      Text("dsp_boot file", &P::dspBootFile),
      Text("dsp_main file", &P::dspMainFile),
      Text("cps_data file", &P::cpsDataFile),
      Text("rcdb_data file", &P::rcdbDataFile),
      Text("english language package file", &P::englishLanguagePackageFile),
      Text("gif package file", &P::gifPackageFile),
      Text("pic_gif package file", &P::picGifPackageFile),
      Text("other language package file", &P::otherLanguagePackageFile),
      Text("arm_main(Rx) file", &P::armMainRxFile),
      Text("dsp_main(Rx) file", &P::dspMainRxFile),
      Text("dsp_boot(Rx) file", &P::dspBootRxFile),
      Text("bootloader file", &P::bootloaderFile),
      Text("fpga_code file", &P::fpgaCodeFile),
      Text("voice notify package file", &P::voiceNotifyPackageFile),
      Flag("Cpmpress ARM_Main", &P::compressArmMain, SettingType::FlagExact),
      Text("Read Type", &P::readType),
      Text("Read Address", &P::readAddress),
      Text("Read Length", &P::readLength),
      Flag("RestoreLoadFlag", &P::restoreLoadFlag),
      Text("RestoreLoad", &P::restoreLoad),
      Number("CommLog", &P::commLog),
      Flag("Check Answers", &P::checkAnswers),
      Flag("Verify Writes", &P::verifyWrites),
      Text("Remote Bind Address", &P::remoteBindAddress),
      Text("USB Primary IDs", &P::usbPrimaryIds),
      Text("USB Fallback IDs", &P::usbFallbackIds),
      Text("Head Area Byte", &P::headAreaByte, SettingType::TextTrimmed),
      Text("Head Text", &P::headText),
      Text("Head Date", &P::headDate, SettingType::TextTrimmed),
      Flag("Clear Old Data Bit", &P::clearOldDataBit),
      Text("Head Region Override", &P::headRegionOverride, SettingType::TextTrimmed),
      Text("Head Mode Override", &P::headModeOverride, SettingType::TextTrimmed),
  };
  for (auto& field : f) {
    std::string_view n = field.name;
    if (n == "RestoreLoadFlag" || n == "RestoreLoad" || n == "CommLog") field.programSetOnly = true;
  }
  return f;
}

void Apply(const SettingField& field, const std::string& value, ProgramSettings& s) {
  switch (field.type) {
    case SettingType::Text:
      s.*field.text = value;
      break;
    case SettingType::TextTrimmed:
      s.*field.text = Trim(value);
      break;
    case SettingType::TextNoBrackets: {
      std::string out;
      for (char c : Trim(value))
        if (c != '[' && c != ']') out += c;
      s.*field.text = out;
      break;
    }
    case SettingType::RadioType:
      s.*field.text = (value.empty() || Contains(value, "All")) ? std::string("All") : value;
      break;
    case SettingType::Flag:
      s.*field.flag = ParseFlag(value);
      break;
    case SettingType::FlagExact:
      s.*field.flag = ParseFlagExact(value);
      break;
    case SettingType::Number:
      s.*field.number = ParseDecimal(value);
      break;
    case SettingType::TextAndNumber:
      s.*field.text = value;
      s.*field.number = ParseDecimal(value);
      break;
  }
}

// Field 3 to 5 of a tuner line: the decimal number after "=" (0 without "=").
uint32_t NumberAfterEquals(const std::string& field) {
  size_t eq = field.find('=');
  if (eq == std::string::npos) return 0;
  return ParseDecimal(Trim(std::string_view(field).substr(eq + 1)));
}

// Reads one hexadecimal byte text the way "%X" does: leading hex digits, none give 0.
uint8_t HexByte(std::string_view text) {
  uint32_t v = 0;
  size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d = (c >= '0' && c <= '9') ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (d < 0) break;
    v = (v << 4 | uint32_t(d)) & 0xFFFFFFFFu;
  }
  return uint8_t(v);
}

// The list files use the reader's comment rules only: their lines start with "[".
template <typename Fn>
void ForEachListLine(const std::string& path, Fn fn) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  std::string raw;
  while (std::getline(in, raw)) {
    std::string line = CleanConfigLine(raw);
    if (!line.empty()) fn(line);
  }
}

}  // namespace

const std::vector<SettingField>& SettingFields() {
  static const std::vector<SettingField> fields = BuildFields();
  return fields;
}

bool ParseFlag(std::string_view value) { return EqualsIgnoreCase(value, "TRUE"); }
bool ParseFlagExact(std::string_view value) { return value == "TRUE" || value == "true"; }

uint32_t ParseDecimal(std::string_view value) {
  uint64_t v = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    v = v * 10 + uint64_t(c - '0');
    if (v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  return uint32_t(v);
}

int32_t ParseSignedDecimal(std::string_view text) {
  const std::string trimmed = Trim(text);
  std::string_view value = trimmed;
  bool negative = false;
  if (!value.empty() && (value[0] == '-' || value[0] == '+')) {
    negative = value[0] == '-';
    value.remove_prefix(1);
  }
  int64_t v = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    v = std::min<int64_t>(v * 10 + (c - '0'), int64_t(INT32_MAX) + 1);
  }
  if (negative) return int32_t(-v);  // -2^31 fits
  return int32_t(std::min<int64_t>(v, INT32_MAX));
}

bool ReadProgramSettings(const std::string& path, ProgramSettings& settings) {
  static const std::map<std::string, const SettingField*> byName = [] {
    std::map<std::string, const SettingField*> m;
    for (const auto& f : SettingFields()) m.emplace(f.name, &f);
    return m;
  }();
  ProgramSettings read = settings;
  bool opened = ForEachConfigLine(path, [&](const ConfigLine& line, const std::string& section) {
    if (line.type != ConfigLineType::Key || line.key.empty()) return;
    auto it = byName.find(line.key);
    if (it == byName.end()) return;
    if (it->second->programSetOnly && section != kProgramSetSection) return;
    Apply(*it->second, line.value, read);
  });
  if (opened) settings = std::move(read);
  return opened;
}

UpgradeRules ReadUpgradeRules(const std::string& path) {
  UpgradeRules rules;
  std::string group;
  ForEachConfigLine(path, [&](const ConfigLine& line, const std::string& section) {
    if (line.type != ConfigLineType::Key) return;
    if (section == kUpgradeFileSection) {
      if (line.text.front() == '<' && Contains(line.text, ">")) {
        auto fields = BracketFields(line.text, '<', '>');
        group = fields.empty() ? std::string() : fields[0];
        return;
      }
      if (line.key.empty()) return;
      // "X" in a pattern stands for the model digit at position 4: one rule per model family.
      // A pattern too short to have that position is taken as it stands.
      if (Contains(line.key, "X") && line.key.size() > 4) {
        for (char digit : {'0', '2', '5', '6', '8'}) {
          std::string pattern = line.key;
          pattern[4] = digit;
          rules.files.push_back({group, pattern, line.value});
        }
      } else {
        rules.files.push_back({group, line.key, line.value});
      }
    } else if (section == kUpgradeVersionSection || section == kUpgradeDisplaySection) {
      auto fields = AngleFields(line.text);
      if (fields.size() < 2) return;
      if (section == kUpgradeVersionSection)
        rules.versionPairs.push_back({fields[0], fields[1]});
      else
        rules.displayPairs.push_back({fields[0], fields[1]});
    }
  });
  return rules;
}

std::vector<TunerRule> ReadTunerRules(const std::string& path) {
  std::vector<TunerRule> rules;
  ForEachConfigLine(path, [&](const ConfigLine& line, const std::string& section) {
    if (line.type != ConfigLineType::Key || section != kTunerSection) return;
    auto fields = AngleFields(line.text);
    if (fields.size() <= 3) return;
    TunerRule rule;
    rule.version = fields[0];
    rule.radioTypes = fields[1];
    rule.offset = NumberAfterEquals(fields[2]);
    rule.length = NumberAfterEquals(fields[3]);
    if (fields.size() > 4) rule.segmentKey = NumberAfterEquals(fields[4]);
    if (fields.size() > 5) rule.comparison = fields[5];
    rule.fields = std::move(fields);
    rules.push_back(std::move(rule));
  });
  return rules;
}

std::vector<RadioRule> ReadRadioRules(const std::string& path, bool allPreVersionUpgrade) {
  std::vector<RadioRule> rules;
  const size_t needed = allPreVersionUpgrade ? 2 : 3;
  ForEachConfigLine(path, [&](const ConfigLine& line, const std::string& section) {
    if (line.type != ConfigLineType::Key || section != kForRadioSection) return;
    auto fields = AngleFields(line.text);
    RadioRule rule;
    if (fields.size() == 1 && fields[0] == kChangeRow) {
      rule.changeRow = true;
    } else if (fields.size() >= needed) {
      for (size_t i = 0; i < 3 && i < fields.size(); ++i) rule.fields[i] = fields[i];
    } else {
      return;
    }
    rules.push_back(std::move(rule));
  });
  return rules;
}

std::vector<MacEntry> ReadMacList(const std::string& path) {
  std::vector<MacEntry> list;
  ForEachListLine(path, [&](const std::string& line) {
    auto fields = BracketFields(line, '[', ']');
    if (fields.size() < 2) return;
    MacEntry entry;
    entry.name = fields[0];
    std::vector<std::string> parts;
    for (const auto& p : Split(fields[1], ' '))
      if (!Trim(p).empty()) parts.push_back(Trim(p));
    if (parts.size() > 5)
      for (size_t i = 0; i < 6; ++i) entry.bytes[i] = HexByte(parts[i]);
    list.push_back(std::move(entry));
  });
  return list;
}

std::vector<SerialEntry> ReadSerialList(const std::string& path) {
  std::vector<SerialEntry> list;
  ForEachListLine(path, [&](const std::string& line) {
    auto fields = BracketFields(line, '[', ']');
    if (fields.size() < 2) return;
    SerialEntry entry;
    entry.serial = fields[0];
    entry.first = ParseSignedDecimal(fields[1]);
    if (fields.size() > 2) entry.second = ParseSignedDecimal(fields[2]);
    list.push_back(std::move(entry));
  });
  return list;
}

bool ReplaceFileContents(const std::string& file, const std::string& text) {
  // A link is followed: the file it names is the one replaced, and the link stays.
  std::error_code ec;
  std::filesystem::path target = std::filesystem::path(file);
  if (std::filesystem::is_symlink(target, ec)) {
    target = std::filesystem::weakly_canonical(target, ec);
    if (ec) return false;
  }
  struct stat info {};
  if (stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;

  // The new text goes to a file of its own beside the old one and replaces it in one rename:
  // a crash or a full disk mid-way leaves the old file whole, never a truncated one.
  AtomicWriteOptions options;
  options.temporaryTemplate = target.string() + ".XXXXXX";
  options.mode = info.st_mode & 07777;
  return WriteFileAtomically(target.string(), options, [&](int fd) { return WriteAll(fd, text.data(), text.size()); })
      .ok();
}

bool WriteSetting(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& rawValue, bool add) {
  // A line break in a value (a pasted path, say) would split the line and plant a second key
  // in the file; the value is written as one line.
  std::string value;
  for (char c : rawValue)
    if (c != '\r' && c != '\n') value += c;
  // Lines are kept with their own CR, so a CRLF file stays CRLF.
  std::vector<std::string> lines;
  {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string raw;
    while (std::getline(in, raw)) lines.push_back(raw);
  }
  long sectionLine = -1;
  bool inSection = false;
  bool found = false;
  for (size_t i = 0; i < lines.size() && !found; ++i) {
    ConfigLine line = ParseConfigLine(lines[i]);
    if (line.type == ConfigLineType::Section) {
      if (inSection) break;  // the next section: the key is not in ours
      if (line.name == section) {
        inSection = true;
        sectionLine = long(i);
      }
      continue;
    }
    if (inSection && line.type == ConfigLineType::Key && !line.key.empty() && line.key == key) {
      // Keep the key as it is written in the file (its own blanks inside the name).
      bool cr = !lines[i].empty() && lines[i].back() == '\r';
      std::string written = Trim(lines[i].substr(0, lines[i].find('=')));
      lines[i] = written + "=" + value + (cr ? "\r" : "");
      found = true;
    }
  }
  if (!found) {
    if (!add) return false;
    size_t at = sectionLine >= 0 ? size_t(sectionLine) + 1 : std::min<size_t>(1, lines.size());
    bool cr = !lines.empty() && !lines[0].empty() && lines[0].back() == '\r';
    lines.insert(lines.begin() + long(at), key + "=" + value + (cr ? "\r" : ""));
  }
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return ReplaceFileContents(file, text);
}

std::string BackupDirectory(const ProgramSettings& settings, const std::string& programDir) {
  std::string dir;
  if (settings.restoreLoadFlag && !Trim(settings.restoreLoad).empty()) {
    // A relative folder is below the program directory, like every other file the program
    // names: the window and loftwise-cli started from different places share their backups.
    dir = JoinPath(programDir, Trim(settings.restoreLoad));
  } else {
    dir = JoinPath(programDir, "Restore/");
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool WriteProfileSetting(const std::string& file, const std::string& section, const std::string& key,
                         const std::string& rawValue) {
  if (WriteSetting(file, section, key, rawValue, false)) return true;
  std::string value;
  for (char c : rawValue)
    if (c != '\r' && c != '\n') value += c;
  std::vector<std::string> lines;
  std::error_code ec;
  const bool exists = std::filesystem::exists(file, ec);
  if (exists) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    for (std::string raw; std::getline(in, raw);) lines.push_back(raw);
  }
  // A new file is written as the platform writes it, CR LF; an existing one keeps its own ends.
  const std::string cr = !exists || (!lines.empty() && !lines[0].empty() && lines[0].back() == '\r') ? "\r" : "";
  // The section's last line that is not blank, or none when the section is missing.
  long last = -1;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    ConfigLine line = ParseConfigLine(lines[i]);
    if (line.type == ConfigLineType::Section) {
      if (inSection) break;
      inSection = line.name == section;
      if (inSection) last = long(i);
      continue;
    }
    if (inSection && !Trim(lines[i]).empty()) last = long(i);
  }
  const std::string entry = key + "=" + value + cr;
  if (last >= 0) {
    lines.insert(lines.begin() + last + 1, entry);
  } else {
    lines.push_back("[" + section + "]" + cr);
    lines.push_back(entry);
  }
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  if (exists) return ReplaceFileContents(file, text);
  AtomicWriteOptions options;
  options.temporaryTemplate = file + ".XXXXXX";
  return WriteFileAtomically(file, options, [&text](int fd) { return WriteAll(fd, text.data(), text.size()); }).ok();
}

std::string StartPackagePath(const ProgramSettings& settings, const std::string& programDir) {
  const std::string path = Trim(settings.burnFudFile);
  return path.empty() ? path : JoinPath(programDir, path);
}

}  // namespace lw
