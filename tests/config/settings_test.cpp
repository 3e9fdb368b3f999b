#include "config/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <random>
#include <set>

#include "temp_files.h"

namespace lw {
namespace {

using testing::ReadFile;
using testing::TempDir;

ProgramSettings Read(const TempDir& dir, const std::string& content) {
  ProgramSettings s;
  EXPECT_TRUE(ReadProgramSettings(dir.Write("set.ini", content), s));
  return s;
}

TEST(Settings, FlagKinds) {
  TempDir dir;
  auto s = Read(dir,
                "[PROGRAM SET]\nPlay Sound=true\nAutoTest=True\nAuto Burn ArmMain=True\n"
                "Cpmpress ARM_Main=true\nAllPreVersionUpgrade=TRUE\nSave Tuner Data=yes\n");
  EXPECT_TRUE(s.playSound);
  EXPECT_TRUE(s.autoTest);             // Flag ignores case
  EXPECT_FALSE(s.autoBurnArmMain);     // Flag (exact) takes only TRUE and true
  EXPECT_TRUE(s.compressArmMain);
  EXPECT_TRUE(s.allPreVersionUpgrade);
  EXPECT_FALSE(s.saveTunerData);
}

TEST(Settings, KeysAreFoundInAnySectionAndTheLastWins) {
  TempDir dir;
  auto s = Read(dir, "[SOMEWHERE]\nTimeout MilliSecond=500\n[PROGRAM SET]\nSkin=1\n[LANGUAGE FILE]\nSkin=3\n"
                     "SelectLanguage=4\nSetModeStandard=2\n");
  EXPECT_EQ(s.timeoutMs, 500u);
  EXPECT_EQ(s.skin, 3u);
  EXPECT_EQ(s.selectLanguage, 4u);
  EXPECT_EQ(s.selectLanguageText, "4");
  EXPECT_EQ(s.setModeStandard, 2u);
}

TEST(Settings, TextValueRules) {
  struct Case {
    const char* line;
    std::string ProgramSettings::*member;
    const char* expected;
  };
  const Case cases[] = {
      {"Radio Type=", &ProgramSettings::radioType, "All"},
      {"Radio Type=Portable AllTypes", &ProgramSettings::radioType, "All"},
      {"Radio Type=Portable Mobile", &ProgramSettings::radioType, "Portable Mobile"},
      {"Digital Type= [PDT] [DMR] ", &ProgramSettings::digitalType, "PDT DMR"},
      {"Encrypt Len=  256 ", &ProgramSettings::encryptLen, "256"},
      {"Version=V 1.0 = beta", &ProgramSettings::version, "V 1.0 = beta"},
      {"Burn Fud File=C:\\pkg\\a.fud", &ProgramSettings::burnFudFile, "C:\\pkg\\a.fud"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ProgramSettings s = Read(dir, std::string(c.line) + "\n");
    EXPECT_EQ(s.*c.member, c.expected);
  }
}

TEST(Settings, Numbers) {
  EXPECT_EQ(ParseDecimal("3000"), 3000u);
  EXPECT_EQ(ParseDecimal("12abc"), 12u);
  EXPECT_EQ(ParseDecimal("abc"), 0u);
  EXPECT_EQ(ParseDecimal(""), 0u);
  EXPECT_EQ(ParseDecimal("-5"), 0u);
  EXPECT_EQ(ParseDecimal("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDecimal("99999999999999999999999"), 0xFFFFFFFFu);  // saturates, no overflow
}

TEST(Settings, MissingFileAndMissingKeysKeepPriorValues) {
  TempDir dir;
  ProgramSettings s;
  EXPECT_EQ(s.timeoutMs, kDefaultTimeoutMs);
  s.skin = 2;
  s.language = "Chinese";
  EXPECT_FALSE(ReadProgramSettings(dir.File("none.ini"), s));
  EXPECT_EQ(s.skin, 2u);
  EXPECT_TRUE(ReadProgramSettings(dir.Write("set.ini", "[PROGRAM SET]\nSkin=1\nno equals\n=x\n"), s));
  EXPECT_EQ(s.skin, 1u);
  EXPECT_EQ(s.language, "Chinese");
  EXPECT_EQ(s.timeoutMs, kDefaultTimeoutMs);
}

TEST(Settings, BackupFolderKeysAreReadOnlyFromProgramSet) {
  TempDir dir;
  auto s = Read(dir, "[OTHER]\nRestoreLoadFlag=TRUE\nRestoreLoad=/elsewhere/\nCommLog=1\n");
  EXPECT_FALSE(s.restoreLoadFlag);
  EXPECT_EQ(s.restoreLoad, "");
  EXPECT_EQ(s.commLog, 0u);
  s = Read(dir, "[PROGRAM SET]\nRestoreLoadFlag=true\nRestoreLoad=\\srv\\Backups\nCommLog=7\n");
  EXPECT_TRUE(s.restoreLoadFlag);
  EXPECT_EQ(s.commLog, 7u);
  EXPECT_EQ(BackupDirectory(s, "/opt/lw/"), "/srv/Backups/");
  s.restoreLoadFlag = false;
  EXPECT_EQ(BackupDirectory(s, "/opt/lw/"), "/opt/lw/Restore/");
  s.restoreLoadFlag = true;
  s.restoreLoad = "  ";  // on, but no folder: the program's own folder rather than the cwd
  EXPECT_EQ(BackupDirectory(s, "/opt/lw"), "/opt/lw/Restore/");
}

// The backup folder is an absolute path, whatever folder the program was started from.
TEST(Settings, RelativeBackupFolderIsBelowTheProgramDirectory) {
  ProgramSettings s;
  s.restoreLoadFlag = true;
  struct Case {
    const char* restoreLoad;
    const char* expected;
  } cases[] = {
      {"Backups", "/opt/lw/Backups/"},
      {"data\\Backups\\", "/opt/lw/data/Backups/"},
      {"/var/backups", "/var/backups/"},
  };
  for (const auto& c : cases) {
    s.restoreLoad = c.restoreLoad;
    EXPECT_EQ(BackupDirectory(s, "/opt/lw"), c.expected) << c.restoreLoad;
  }
}

TEST(Settings, FieldTableHasUniqueNames) {
  std::set<std::string> names;
  for (const auto& f : SettingFields()) EXPECT_TRUE(names.insert(f.name).second) << f.name;
  for (const char* key : {"Check Answers", "Remote Bind Address", "USB Primary IDs", "USB Fallback IDs"})
    EXPECT_TRUE(names.count(key)) << key;
}

TEST(UpgradeRules, XPatternsExpandIntoFiveFamilies) {
  TempDir dir;
  auto rules = ReadUpgradeRules(dir.Write("set.ini",
                                          "[UPGRADE FILE]\nKX41X-000X=a.fud\n<Mobile>\nKV620-1=b.fud\n"
                                          "KX=short.fud\nno equals\n[UPGRADE VERSION]\n<A1><A2>\n<only one>\n"
                                          "<B1><B2><B3>\n[UPGRADE TOVERSION DISP]\n<x><y>\n[OTHER]\nKX41X=c.fud\n"));
  std::vector<std::string> patterns;
  for (const auto& r : rules.files) patterns.push_back(r.group + ":" + r.pattern + "=" + r.file);
  EXPECT_EQ(patterns, (std::vector<std::string>{":KX410-000X=a.fud", ":KX412-000X=a.fud", ":KX415-000X=a.fud",
                                                 ":KX416-000X=a.fud", ":KX418-000X=a.fud",
                                                 "Mobile:KV620-1=b.fud", "Mobile:KX=short.fud"}));
  ASSERT_EQ(rules.versionPairs.size(), 2u);
  EXPECT_EQ(rules.versionPairs[1].from, "B1");
  EXPECT_EQ(rules.versionPairs[1].to, "B2");
  ASSERT_EQ(rules.displayPairs.size(), 1u);
  EXPECT_EQ(rules.displayPairs[0].second, "y");
}

TEST(TunerRules, NeedMoreThanThreeFields) {
  TempDir dir;
  auto rules = ReadTunerRules(dir.Write("set.ini",
                                        "[TUNER DATA CHANGE]\n<a><b><Offset=1>\n"
                                        "<All Version><[Portable]><Offset=256><Length= 64>\n"
                                        "<v><Mobile><Offset=1><Length=2><Key=3><Less_Equal>\n"
                                        "<v><Mobile><Offset=x><Length><Key=99999999999>\n"));
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].version, "All Version");
  EXPECT_EQ(rules[0].radioTypes, "[Portable]");
  EXPECT_EQ(rules[0].offset, 256u);
  EXPECT_EQ(rules[0].length, 64u);
  EXPECT_EQ(rules[0].segmentKey, 0u);
  EXPECT_EQ(rules[1].segmentKey, 3u);
  EXPECT_EQ(rules[1].comparison, "Less_Equal");
  EXPECT_EQ(rules[1].fields.size(), 6u);
  EXPECT_EQ(rules[2].offset, 0u);
  EXPECT_EQ(rules[2].length, 0u);
  EXPECT_EQ(rules[2].segmentKey, 0xFFFFFFFFu);
}

TEST(RadioRules, FieldCountDependsOnAllPreVersionUpgrade) {
  TempDir dir;
  std::string path = dir.Write("set.ini",
                               "[FOR RADIO]\n<KX41X><KX41X-1><A5>\n<KV62X><KV62X-1>\n<CHANGE ROW>\n"
                               "<CHANGE ROW><extra>\n<lonely>\n");
  auto strict = ReadRadioRules(path, false);
  ASSERT_EQ(strict.size(), 2u);
  EXPECT_EQ(strict[0].fields[2], "A5");
  EXPECT_TRUE(strict[1].changeRow);
  auto relaxed = ReadRadioRules(path, true);
  ASSERT_EQ(relaxed.size(), 4u);
  EXPECT_EQ(relaxed[1].fields[1], "KV62X-1");
  EXPECT_EQ(relaxed[1].fields[2], "");
  EXPECT_FALSE(relaxed[3].changeRow);  // "CHANGE ROW" with a second field is an ordinary rule
  EXPECT_EQ(relaxed[3].fields[0], "CHANGE ROW");
}

TEST(IdentityLists, MacList) {
  TempDir dir;
  auto list = ReadMacList(dir.Write("Lumaret.txt",
                                    "// units\n[Unit 1][00 1e 6C 40 0x0A FF]\n[Short][01 02 03]\n[lonely]\n"
                                    "[Wide][1FF 2 3 4 5 6 7]\n"));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "Unit 1");
  EXPECT_EQ(list[0].bytes, (std::array<uint8_t, 6>{0x00, 0x1E, 0x6C, 0x40, 0x0A, 0xFF}));
  EXPECT_EQ(list[1].bytes, (std::array<uint8_t, 6>{}));  // five parts or fewer: bytes stay 0
  EXPECT_EQ(list[2].bytes[0], 0xFF);                    // a wider number keeps its low byte
  EXPECT_TRUE(ReadMacList(dir.File("missing.txt")).empty());
}

TEST(IdentityLists, SerialList) {
  TempDir dir;
  auto list = ReadSerialList(dir.Write("EquipmentSn.txt", "[SN1][12][34]\n[SN2][7]\n[SN3]\n[SN4][x][ 5 ]\n"));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].serial, "SN1");
  EXPECT_EQ(list[0].first, 12);
  EXPECT_EQ(list[0].second, 34);
  EXPECT_EQ(list[1].second, 0);
  EXPECT_EQ(list[2].first, 0);
  EXPECT_EQ(list[2].second, 5);
}

// The codes are signed: -1 is the "leave the model fields alone" mark and must not read as 0.
TEST(IdentityLists, SerialListCodesAreSigned) {
  TempDir dir;
  auto list = ReadSerialList(dir.Write(
      "EquipmentSn.txt", "[A][-1][ -1 ]\r\n[B][+7][-12x]\r\n[C][-][99999999999]\r\n[D][-2147483648][2147483647]\r\n"));
  ASSERT_EQ(list.size(), 4u);
  const std::pair<int32_t, int32_t> expected[] = {{-1, -1}, {7, -12}, {0, INT32_MAX}, {INT32_MIN, INT32_MAX}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(list[i].first, expected[i].first) << list[i].serial;
    EXPECT_EQ(list[i].second, expected[i].second) << list[i].serial;
  }
}

const char* kSample =
    "// header comment\n"
    "[PROGRAM SET]\n"
    "// play a beep\n"
    "Play Sound = FALSE   // inline\n"
    "Skin=1\n"
    "[LANGUAGE FILE]\n"
    "Play Sound=FALSE\n"
    "SelectLanguage=0\n";

TEST(WriteSetting, RewritesOnlyTheKeysOwnLine) {
  TempDir dir;
  std::string path = dir.Write("set.ini", kSample);
  ASSERT_TRUE(WriteSetting(path, "PROGRAM SET", "Play Sound", "TRUE"));
  std::string expected = kSample;
  expected.replace(expected.find("Play Sound = FALSE   // inline"), 30, "Play Sound=TRUE");
  EXPECT_EQ(ReadFile(path), expected);
  ASSERT_TRUE(WriteSetting(path, "LANGUAGE FILE", "SelectLanguage", "3"));
  EXPECT_NE(ReadFile(path).find("SelectLanguage=3\n"), std::string::npos);
  EXPECT_NE(ReadFile(path).find("[LANGUAGE FILE]\nPlay Sound=FALSE\n"), std::string::npos);
}

TEST(WriteSetting, MissingKeyIsAddedOnlyOnRequest) {
  TempDir dir;
  std::string path = dir.Write("set.ini", kSample);
  EXPECT_FALSE(WriteSetting(path, "PROGRAM SET", "SelectLanguage", "2"));  // only in another section
  EXPECT_FALSE(WriteSetting(path, "PROGRAM SET", "Language", "Chinese"));
  EXPECT_EQ(ReadFile(path), kSample);
  ASSERT_TRUE(WriteSetting(path, "PROGRAM SET", "Language", "Chinese", true));
  EXPECT_NE(ReadFile(path).find("[PROGRAM SET]\nLanguage=Chinese\n// play a beep\n"), std::string::npos);
  ASSERT_TRUE(WriteSetting(path, "NEW", "k", "v", true));
  EXPECT_EQ(ReadFile(path).substr(0, 40), "// header comment\nk=v\n[PROGRAM SET]\nLang");
  EXPECT_FALSE(WriteSetting(dir.File("missing.ini"), "PROGRAM SET", "Skin", "2", true));
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.ini")));
}

TEST(WriteSetting, ValueCannotPlantFurtherLines) {
  TempDir dir;
  std::string path = dir.Write("set.ini", "[PROGRAM SET]\nBurn Fud File=\nAutoTest=FALSE\n");
  ASSERT_TRUE(WriteSetting(path, "PROGRAM SET", "Burn Fud File", "a.fud\nAutoTest=TRUE"));
  EXPECT_EQ(ReadFile(path), "[PROGRAM SET]\nBurn Fud File=a.fudAutoTest=TRUE\nAutoTest=FALSE\n");
}

// The file is replaced, not rewritten in place: its permission bits stay, nothing is left
// beside it, and a write that fails half-way (a file size limit standing in for a full disk,
// in a child process so the limit dies with it) leaves the old settings whole.
TEST(WriteSetting, ReplacesTheFileWholeKeepingItsModeAndSurvivesAFailedWrite) {
  TempDir dir;
  const std::string text = "[PROGRAM SET]\r\nSkin=1\r\nPlay Sound=TRUE\r\n[UPGRADE FILE]\r\nA=<x><y><z>\r\n";
  std::string path = dir.Write("set.ini", text);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteSetting(path, "PROGRAM SET", "Skin", "2"));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "a temporary file was left";

  const std::string before = ReadFile(path);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{16, 16};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WriteSetting(path, "PROGRAM SET", "Skin", "3") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as done";
  EXPECT_EQ(ReadFile(path), before) << "the settings were lost in a failed write";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "a temporary file was left";
}

TEST(WriteSetting, KeepsCrLfLineEnds) {
  TempDir dir;
  std::string path = dir.Write("set.ini", "[PROGRAM SET]\r\nSkin=1\r\nPlay Sound=TRUE\r\n");
  ASSERT_TRUE(WriteSetting(path, "PROGRAM SET", "Skin", "3"));
  EXPECT_EQ(ReadFile(path), "[PROGRAM SET]\r\nSkin=3\r\nPlay Sound=TRUE\r\n");
}

// Input the readers must survive: binary bytes, enormous lines, unbalanced brackets.
TEST(Settings, HostileFilesAreReadWithoutHarm) {
  TempDir dir;
  std::mt19937 random(7);
  std::string garbage(1 << 20, '\0');
  for (auto& c : garbage) c = char(random());
  std::string longLine = "Skin=" + std::string(100000, '9') + "\n[UPGRADE FILE]\n" +
                         std::string(100000, 'X') + "=f\n[FOR RADIO]\n<" + std::string(100000, '<') +
                         "\n[TUNER DATA CHANGE]\n<a><b><c><d" + "\n";
  for (const std::string& content : {garbage, longLine, std::string("\0\0\0=\0", 5)}) {
    std::string path = dir.Write("set.ini", content);
    ProgramSettings s;
    ReadProgramSettings(path, s);
    ReadUpgradeRules(path);
    ReadTunerRules(path);
    ReadRadioRules(path, true);
    ReadMacList(path);
    ReadSerialList(path);
  }
  ProgramSettings s;
  ReadProgramSettings(dir.Write("set.ini", longLine), s);
  EXPECT_EQ(s.skin, 0xFFFFFFFFu);
  EXPECT_EQ(ReadUpgradeRules(dir.File("set.ini")).files.size(), 5u);
}

}  // namespace
}  // namespace lw
