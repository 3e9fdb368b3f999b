// The settings store: set.ini and the two identity lists beside the program.
//
// set.ini is read with the shared line reader (line_reader.h). The main reader takes every key
// of the settings table in whatever section it stands (the last occurrence wins); the rule
// sections are read by section. A key missing from the file, or a file that cannot be read,
// leaves the value the settings had before, so callers start from the defaults below and read
// over them. Key names are exact and case-sensitive.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lw {

// Section names of set.ini.
inline constexpr const char* kProgramSetSection = "PROGRAM SET";
inline constexpr const char* kUpgradeFileSection = "UPGRADE FILE";
inline constexpr const char* kUpgradeVersionSection = "UPGRADE VERSION";
inline constexpr const char* kUpgradeDisplaySection = "UPGRADE TOVERSION DISP";
inline constexpr const char* kTunerSection = "TUNER DATA CHANGE";
inline constexpr const char* kForRadioSection = "FOR RADIO";
inline constexpr const char* kLanguageFileSection = "LANGUAGE FILE";

// File names in the program directory.
inline constexpr const char* kSettingsFileName = "set.ini";
inline constexpr const char* kMacListFileName = "Lumaret.txt";
inline constexpr const char* kSerialListFileName = "EquipmentSn.txt";

// Transport time-out used when set.ini does not give one (the link's identification time-out).
inline constexpr uint32_t kDefaultTimeoutMs = 3000;

// How a value text becomes the member's value.
enum class SettingType {
  Text,          // the value unchanged
  TextTrimmed,   // trimmed ("Encrypt Len")
  TextNoBrackets,// trimmed, every "[" and "]" removed ("Digital Type")
  RadioType,     // empty or holding "All" anywhere becomes "All" ("Radio Type")
  Flag,          // 1 when the value equals "TRUE" ignoring case
  FlagExact,     // 1 when the value is exactly "TRUE" or "true"
  Number,        // unsigned 32-bit decimal: leading digits, none give 0
  TextAndNumber, // kept both as the text and as a Number ("SelectLanguage")
};

struct ProgramSettings {
  std::string language;          // "Language": "Chinese" picks Chinese.lng, else English.lng
  std::string burnFudFile;       // "Burn Fud File"
  bool autoTest = false;         // "AutoTest"
  bool developmentVersion = false;  // "Development Version"
  bool beforeVersion = false;    // "Before Version"
  bool burnOldVersion = false;   // "Burn Old Version"
  bool playSound = false;        // "Play Sound"
  std::string version;           // "Version"
  std::string version2;          // "Version2"
  std::string upgradeTo;         // "Upgrade To"
  std::string upgradeTo2;        // "Upgrade To2"
  std::string radioType = "All"; // "Radio Type"
  std::string digitalType;       // "Digital Type"
  std::string encryptLen;        // "Encrypt Len"
  bool allPreVersionUpgrade = false;     // "AllPreVersionUpgrade"
  bool autoBurnArmMain = false;          // "Auto Burn ArmMain"
  bool autoBurnRegionLanguage = false;   // "Auto Burn Region Language"
  bool macAddressWrite = false;  // "MAC Address Write"
  bool esnDataWrite = false;     // "ESN Data Write"
  bool saveTunerData = false;    // "Save Tuner Data"
  std::string chsFile, na2File, em5File, sa6File, as8File;  // "CHS File" ... "AS8 File"
  std::string farsiFile, arabicFile, koreanFile, thaiFile, japaneseFile, forestFile;
  uint32_t setModeStandard = 0;  // "SetModeStandard": 0 default, 1 PDT, 2 DMR
  std::string selectLanguageText;  // "SelectLanguage" as written ("0" to "6")
  uint32_t selectLanguage = 0;     // "SelectLanguage" as a number
  std::string ambeAutoBurn, commAutoBurn, selpAutoBurn, nvocAutoBurn;  // "AMBE AutoBurn" ...
  bool dispTips = false;         // "Disp Tips"
  bool notTipsLater = false;     // "Not Tips Later"
  uint32_t skin = 0;             // "Skin": 1, 2 or 3
  uint32_t timeoutMs = kDefaultTimeoutMs;  // "Timeout MilliSecond"
  uint32_t modelType = 0;        // "Model Type"
  // "<kind> file": the image file of each kind for the upgrade.
  std::string armMainFile, dspBootFile, dspMainFile, cpsDataFile, rcdbDataFile;
  std::string englishLanguagePackageFile, gifPackageFile, picGifPackageFile;
  std::string otherLanguagePackageFile, armMainRxFile, dspMainRxFile, dspBootRxFile;
  std::string bootloaderFile, fpgaCodeFile, voiceNotifyPackageFile;
  bool compressArmMain = false;  // "Cpmpress ARM_Main" (the key is spelt so in every set.ini)
  std::string readType, readAddress, readLength;  // "Read Type", "Read Address", "Read Length"
  // Read like the platform profile read: only from "PROGRAM SET".
  bool restoreLoadFlag = false;  // "RestoreLoadFlag"
  std::string restoreLoad;       // "RestoreLoad"
  uint32_t commLog = 0;          // "CommLog": nonzero turns the communication trace on
  // Keys of this port.
  bool checkAnswers = true;      // "Check Answers": verify check word and checksum of answers
  bool verifyWrites = false;     // "Verify Writes": read every written area back and compare it
  std::string remoteBindAddress = "127.0.0.1";  // "Remote Bind Address": remote listener address
  std::string usbPrimaryIds;     // "USB Primary IDs": "vvvv:pppp ..." (hex); empty = built-in
  std::string usbFallbackIds;    // "USB Fallback IDs": likewise for the fallback class
  // Header carry-over of the configuration data (see data/set.ini for the meaning).
  std::string headAreaByte = "P";  // "Head Area Byte": region byte of record-list radios
  std::string headText;          // "Head Text": head text of record-list radios (16 bytes)
  std::string headDate;          // "Head Date": programmed date YYYYMMDD; empty = today
  bool clearOldDataBit = false;  // "Clear Old Data Bit"
  std::string headRegionOverride;  // "Head Region Override": "", "P" or "0"
  std::string headModeOverride;    // "Head Mode Override": "", "T" or "0"
};

// One key of the settings table: its name, how it is parsed and where it lands. For
// TextAndNumber the text member is `text` and the number member `number`.
struct SettingField {
  const char* name;
  SettingType type;
  std::string ProgramSettings::*text = nullptr;
  bool ProgramSettings::*flag = nullptr;
  uint32_t ProgramSettings::*number = nullptr;
  // Only read from the "PROGRAM SET" section (the keys the platform profile read serves).
  bool programSetOnly = false;
};

// Every key of the settings table, in the order of the shipped set.ini.
const std::vector<SettingField>& SettingFields();

// Value parsers of the table's types.
bool ParseFlag(std::string_view value);       // "TRUE" ignoring case
bool ParseFlagExact(std::string_view value);  // "TRUE" or "true"
uint32_t ParseDecimal(std::string_view value);  // leading digits, saturating at 0xFFFFFFFF

// The main reader. Returns false (and leaves `settings` unchanged) when the file cannot be opened.
bool ReadProgramSettings(const std::string& path, ProgramSettings& settings);

// --- Rule sections -------------------------------------------------------------------------

// "UPGRADE FILE": <group> lines set the group; pattern = file lines give rules. A pattern with
// "X" gives five rules, its fifth character replaced by 0, 2, 5, 6 and 8.
struct UpgradeRule {
  std::string group;
  std::string pattern;
  std::string file;
};
// "UPGRADE VERSION" and "UPGRADE TOVERSION DISP": the first two angle-bracket fields of a line.
struct VersionPair {
  std::string from;
  std::string to;
};
struct DisplayPair {
  std::string first;
  std::string second;
};
struct UpgradeRules {
  std::vector<UpgradeRule> files;
  std::vector<VersionPair> versionPairs;
  std::vector<DisplayPair> displayPairs;
};
UpgradeRules ReadUpgradeRules(const std::string& path);

// "TUNER DATA CHANGE": lines of more than three angle-bracket fields, for example
// <All Version><[Portable Mobile]><Offset=256><Length=64><Key=0><Less_Equal>.
struct TunerRule {
  std::vector<std::string> fields;  // every angle-bracket field of the line, as text
  std::string version;      // field 1 ("All Version" for any)
  std::string radioTypes;   // field 2: blank-separated radio type names, maybe in "[" "]"
  uint32_t offset = 0;      // field 3: decimal after "="
  uint32_t length = 0;      // field 4: decimal after "="
  uint32_t segmentKey = 0;  // field 5: decimal after "=" (0 when absent)
  std::string comparison;   // field 6: "Less_Equal" or anything else meaning equal
};
std::vector<TunerRule> ReadTunerRules(const std::string& path);

// "FOR RADIO": a rule of the first three angle-bracket fields (two suffice when
// "AllPreVersionUpgrade" is on; the third is then empty), or a "CHANGE ROW" separator.
inline constexpr const char* kChangeRow = "CHANGE ROW";
struct RadioRule {
  bool changeRow = false;
  std::array<std::string, 3> fields;
};
std::vector<RadioRule> ReadRadioRules(const std::string& path, bool allPreVersionUpgrade);

// --- Identity lists ------------------------------------------------------------------------

// Lumaret.txt: [name][b1 b2 b3 b4 b5 b6], bytes in hexadecimal.
struct MacEntry {
  std::string name;
  std::array<uint8_t, 6> bytes{};
};
std::vector<MacEntry> ReadMacList(const std::string& path);

// EquipmentSn.txt: [serial][first][second], the numbers signed decimal (0 when absent or not
// a number, saturating at the 32-bit limits). A code of -1 marks a radio whose model fields
// are to be left alone, so the sign matters.
struct SerialEntry {
  std::string serial;
  int32_t first = 0;
  int32_t second = 0;
};
// Optional blanks, an optional sign, then the leading digits; 0 without digits.
int32_t ParseSignedDecimal(std::string_view value);
std::vector<SerialEntry> ReadSerialList(const std::string& path);

// --- Writing -------------------------------------------------------------------------------

// Replaces the line of `key` inside `section` by key=value, keeping every other line of the
// file as it was. When the key is not in the section and `add` is set, the line is inserted
// after the section header (after the first line when the section is missing). Returns true
// when the file was rewritten; a missing file, or a missing key with add unset, writes nothing.
// Line breaks in `value` are dropped, so a value never turns into further lines of the file.
// The file is replaced whole through ReplaceFileContents, never truncated in place.
bool WriteSetting(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value, bool add = false);

// Writes key=value into `section` as the platform's profile writer does: the key's line is
// replaced where it stands; a key missing from its section goes at the section's end; a missing
// section is added at the end of the file, and a missing file is made. Used for what must be
// read back at the next start whatever shape set.ini is in (the chosen backup folder).
bool WriteProfileSetting(const std::string& file, const std::string& section, const std::string& key,
                         const std::string& value);

// Replaces the whole contents of the existing regular file `file` (a link: the file it names)
// with `text` through a temporary file beside it and a rename, keeping the file's permission
// bits. False, leaving the file as it was, when the file is missing or anything fails.
bool ReplaceFileContents(const std::string& file, const std::string& text);

// Where backups go: "RestoreLoad" when "RestoreLoadFlag" is on and it is not empty (taken
// relative to the program directory unless absolute), else "Restore/" below the program
// directory. The result ends in '/'.
std::string BackupDirectory(const ProgramSettings& settings, const std::string& programDir);
// The package "Burn Fud File" names, for the window's package field at start: a relative path
// is below the program directory, like every other file the settings name ("" when none).
std::string StartPackagePath(const ProgramSettings& settings, const std::string& programDir);

}  // namespace lw
