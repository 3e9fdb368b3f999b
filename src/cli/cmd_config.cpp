// loftwise-cli config: the settings of a program directory as the program reads them.
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/command.h"
#include "common/bytes.h"
#include "common/program_dir.h"
#include "common/text.h"
#include "config/settings.h"

namespace lw::cli {
namespace {

int RunConfig(const std::vector<std::string>& argv);

const CommandInfo kInfo{"config", "config [--json] [--home DIR]",
                        "print set.ini, its rule sections and the two identity lists as read",
                        RunConfig};

const char* kDetails =
    "Reads DIR/set.ini (the program directory: --home, else $LOFTWISE_HOME, else the folder of\n"
    "this program), DIR/Lumaret.txt and DIR/EquipmentSn.txt with the program's own readers.\n"
    "Keys missing from set.ini show their defaults (flags off, texts empty, numbers 0,\n"
    "\"Timeout MilliSecond\" 3000).\n\n"
    "--json prints one object:\n"
    "  {\"settings\": {KEY: VALUE, ...}, \"upgradeRules\": [{\"group\",\"pattern\",\"file\"}],\n"
    "   \"versionPairs\": [[FROM, TO]], \"displayPairs\": [[A, B]], \"tunerRules\": [[FIELD, ...]],\n"
    "   \"radioRules\": [[F1, F2, F3] or \"CHANGE ROW\"], \"macList\": [{\"name\", \"bytes\": [6]}],\n"
    "   \"serialList\": [{\"serial\", \"first\", \"second\"}], \"backupDirectory\": PATH}\n"
    "Flags and numbers are JSON numbers, texts are strings (\"SelectLanguage\" as its text).\n"
    "Exit status 2 when set.ini cannot be read.\n";

std::string SettingValueJson(const SettingField& f, const ProgramSettings& s) {
  switch (f.type) {
    case SettingType::Flag:
    case SettingType::FlagExact:
      return (s.*f.flag) ? "1" : "0";
    case SettingType::Number:
      return std::to_string(s.*f.number);
    default:
      return JsonString(s.*f.text);
  }
}

std::string SettingValueText(const SettingField& f, const ProgramSettings& s) {
  switch (f.type) {
    case SettingType::Flag:
    case SettingType::FlagExact:
      return (s.*f.flag) ? "TRUE" : "FALSE";
    case SettingType::Number:
      return std::to_string(s.*f.number);
    default:
      return s.*f.text;
  }
}

template <typename T, typename Fn>
std::string JsonArray(const std::vector<T>& items, Fn item) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + item(items[i]);
  return out + "]";
}

struct Loaded {
  ProgramSettings settings;
  UpgradeRules upgrade;
  std::vector<TunerRule> tuner;
  std::vector<RadioRule> radio;
  std::vector<MacEntry> macs;
  std::vector<SerialEntry> serials;
  std::string backupDirectory;
};

void PrintJson(const Loaded& d) {
  std::ostringstream o;
  o << "{\"settings\": {";
  bool first = true;
  for (const auto& f : SettingFields()) {
    o << (first ? "" : ", ") << JsonString(f.name) << ": " << SettingValueJson(f, d.settings);
    first = false;
  }
  o << "},\n \"upgradeRules\": " << JsonArray(d.upgrade.files, [](const UpgradeRule& r) {
    return "{\"group\": " + JsonString(r.group) + ", \"pattern\": " + JsonString(r.pattern) +
           ", \"file\": " + JsonString(r.file) + "}";
  });
  o << ",\n \"versionPairs\": " << JsonArray(d.upgrade.versionPairs, [](const VersionPair& p) {
    return "[" + JsonString(p.from) + ", " + JsonString(p.to) + "]";
  });
  o << ",\n \"displayPairs\": " << JsonArray(d.upgrade.displayPairs, [](const DisplayPair& p) {
    return "[" + JsonString(p.first) + ", " + JsonString(p.second) + "]";
  });
  o << ",\n \"tunerRules\": " << JsonArray(d.tuner, [](const TunerRule& r) {
    return JsonArray(r.fields, [](const std::string& f) { return JsonString(f); });
  });
  o << ",\n \"radioRules\": " << JsonArray(d.radio, [](const RadioRule& r) {
    if (r.changeRow) return JsonString(kChangeRow);
    return "[" + JsonString(r.fields[0]) + ", " + JsonString(r.fields[1]) + ", " +
           JsonString(r.fields[2]) + "]";
  });
  o << ",\n \"macList\": " << JsonArray(d.macs, [](const MacEntry& m) {
    std::string bytes;
    for (size_t i = 0; i < m.bytes.size(); ++i) bytes += (i ? ", " : "") + std::to_string(m.bytes[i]);
    return "{\"name\": " + JsonString(m.name) + ", \"bytes\": [" + bytes + "]}";
  });
  o << ",\n \"serialList\": " << JsonArray(d.serials, [](const SerialEntry& e) {
    return "{\"serial\": " + JsonString(e.serial) + ", \"first\": " + std::to_string(e.first) +
           ", \"second\": " + std::to_string(e.second) + "}";
  });
  o << ",\n \"backupDirectory\": " << JsonString(d.backupDirectory) << "}\n";
  std::cout << o.str();
}

void PrintText(const Loaded& d, const std::string& home) {
  std::ostringstream o;
  o << "program directory: " << home << "\n\n[settings]\n";
  for (const auto& f : SettingFields()) o << "  " << f.name << " = " << SettingValueText(f, d.settings) << "\n";
  o << "\n[upgrade rules] " << d.upgrade.files.size() << "\n";
  for (const auto& r : d.upgrade.files)
    o << "  <" << r.group << "> " << r.pattern << " -> " << r.file << "\n";
  o << "\n[version pairs] " << d.upgrade.versionPairs.size() << "\n";
  for (const auto& p : d.upgrade.versionPairs) o << "  " << p.from << " -> " << p.to << "\n";
  o << "\n[display pairs] " << d.upgrade.displayPairs.size() << "\n";
  for (const auto& p : d.upgrade.displayPairs) o << "  " << p.first << " | " << p.second << "\n";
  o << "\n[tuner rules] " << d.tuner.size() << "\n";
  for (const auto& r : d.tuner)
    o << "  version " << r.version << ", types " << r.radioTypes << ", offset " << r.offset
      << ", length " << r.length << ", key " << r.segmentKey << ", mode " << r.comparison << "\n";
  o << "\n[radio rules] " << d.radio.size() << "\n";
  for (const auto& r : d.radio) {
    if (r.changeRow)
      o << "  " << kChangeRow << "\n";
    else
      o << "  " << r.fields[0] << " | " << r.fields[1] << " | " << r.fields[2] << "\n";
  }
  o << "\n[MAC list] " << d.macs.size() << "\n";
  for (const auto& m : d.macs) o << "  " << m.name << ": " << HexString(m.bytes, ":") << "\n";
  o << "\n[serial list] " << d.serials.size() << "\n";
  for (const auto& e : d.serials) o << "  " << e.serial << ": " << e.first << ", " << e.second << "\n";
  o << "\nbackup directory: " << d.backupDirectory << "\n";
  std::cout << o.str();
}

int RunConfig(const std::vector<std::string>& argv) {
  Args args(argv, {"home"}, {"json", "help"});
  if (!args.ok()) return Fail(args.error());
  if (args.Flag("help")) return Usage(kInfo, kDetails);
  if (!args.Positionals().empty()) return Fail("config takes no arguments (see --help)");
  std::string home = ResolveProgramDirectory(args.Value("home").value_or(""));
  std::error_code ec;
  if (!std::filesystem::is_directory(home, ec)) return Fail("no such program directory: " + home);

  Loaded d;
  std::string setIni = JoinPath(home, kSettingsFileName);
  if (!ReadProgramSettings(setIni, d.settings)) return Fail("cannot read " + setIni);
  d.upgrade = ReadUpgradeRules(setIni);
  d.tuner = ReadTunerRules(setIni);
  d.radio = ReadRadioRules(setIni, d.settings.allPreVersionUpgrade);
  d.macs = ReadMacList(JoinPath(home, kMacListFileName));
  d.serials = ReadSerialList(JoinPath(home, kSerialListFileName));
  d.backupDirectory = BackupDirectory(d.settings, home);
  if (args.Flag("json"))
    PrintJson(d);
  else
    PrintText(d, home);
  return 0;
}

}  // namespace

LW_CLI_COMMAND(kInfo);

}  // namespace lw::cli
