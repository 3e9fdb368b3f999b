#include "ui/menu_model.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/window_port.h"
#include "config/settings.h"

namespace lw {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "lw-menu-XXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string ReadAll(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// Answers every question with `answer` and keeps what was asked.
class QuestionRecorder : public WindowPort {
 public:
  bool answer = true;
  std::vector<std::string> asked;

  void Notify(const Notice&) override {}
  bool AskYesNo(const std::string& text, bool) override {
    asked.push_back(text);
    return answer;
  }
  void LogLine(const std::string&) override {}
  void SetProgressRange(const std::string&, int) override {}
  void SetProgress(int) override {}
  void Post(std::function<void()> task) override { task(); }
};

// Captions of the menu, depth-first, sub-menu entries prefixed with their parent and ">".
std::vector<std::string> Flatten(const std::vector<MenuEntry>& entries, const std::string& prefix = "") {
  std::vector<std::string> out;
  for (const MenuEntry& e : entries) {
    if (e.kind == MenuEntry::Kind::Separator) {
      out.push_back(prefix + "-");
      continue;
    }
    out.push_back(prefix + e.caption + (e.checked ? " *" : ""));
    auto children = Flatten(e.children, prefix + e.caption + ">");
    out.insert(out.end(), children.begin(), children.end());
  }
  return out;
}

TEST(PopupMenu, EntriesInOrderWithCheckMarks) {
  MenuState state{"Chinese", true, 2, 5};
  const std::vector<std::string> expected = {
      "English", "中文 *", "-", "Play Sound *", "Change Skin",
      "Change Skin>Skin1", "Change Skin>Skin2 *", "Change Skin>Skin3", "-", "For Radio", "-",
      "Language", "Language>Default", "Language>Farsi", "Language>Arabic", "Language>Korean",
      "Language>Thai", "Language>Japanese *", "Language>Forest", "-",
      "Backup File Storage Path", "-", "About", "-", "Exit"};
  EXPECT_EQ(Flatten(BuildPopupMenu(state)), expected);

  std::vector<std::string> plain = Flatten(BuildPopupMenu({"English", false, 0, 0}));
  EXPECT_EQ(plain[0], "English *");
  EXPECT_EQ(plain[3], "Play Sound");
  EXPECT_EQ(plain[12], "Language>Default *");
  for (const std::string& caption : plain) {
    EXPECT_FALSE(caption.find("Skin") != std::string::npos && caption.back() == '*') << caption;
  }
}

TEST(PopupMenu, CommandIdsDecode) {
  struct Case {
    int id;
    MenuAction action;
    int value;
  };
  const Case cases[] = {
      {32786, MenuAction::InterfaceLanguage, 0}, {32787, MenuAction::InterfaceLanguage, 1},
      {32779, MenuAction::PlaySound, 0},         {32776, MenuAction::Skin, 1},
      {32778, MenuAction::Skin, 3},              {32785, MenuAction::ForRadio, 0},
      {32796, MenuAction::PackageLanguage, 0},   {32802, MenuAction::PackageLanguage, 6},
      {32806, MenuAction::BackupPath, 0},        {32774, MenuAction::About, 0},
      {32772, MenuAction::Exit, 0},              {32803, MenuAction::None, 0},
      {32775, MenuAction::None, 0},
  };
  for (const Case& c : cases) {
    MenuCommand cmd = DecodeMenuCommand(c.id);
    EXPECT_EQ(cmd.action, c.action) << c.id;
    EXPECT_EQ(cmd.value, c.value) << c.id;
  }
  // Every id the menu shows decodes to an action.
  std::function<void(const std::vector<MenuEntry>&)> walk = [&](const std::vector<MenuEntry>& es) {
    for (const MenuEntry& e : es) {
      if (e.kind == MenuEntry::Kind::Item) {
        EXPECT_NE(DecodeMenuCommand(e.id).action, MenuAction::None) << e.caption;
      }
      walk(e.children);
    }
  };
  walk(BuildPopupMenu({}));
}

const char* kSetIni =
    "[PROGRAM SET]\n"
    "Play Sound=FALSE\n"
    "SelectLanguage=9\n"
    "[LANGUAGE FILE]\n"
    "// 0 Default .. 6 Forest\n"
    "SelectLanguage = 0\n"
    "SetModeStandard=0\n";

TEST(PackageLanguage, ConfirmationsAndWhatTheyWrite) {
  struct Case {
    const char* name;
    const char* interfaceLanguage;
    int from, to;
    bool answer;
    PackageLanguageResult result;
    const char* asked;  // nullptr: no question
    int value;          // state afterwards
  };
  const Case cases[] = {
      {"english yes", "English", 0, 1, true, PackageLanguageResult::Changed,
       "Are you sure to import 【Farsi】 language?", 1},
      {"chinese yes", "Chinese", 0, 6, true, PackageLanguageResult::Changed, "确认导入【林业语言包】？", 6},
      {"chinese korean", "Chinese", 2, 3, true, PackageLanguageResult::Changed, "确认导入【韩语】？", 3},
      {"answer no", "English", 0, 4, false, PackageLanguageResult::Declined,
       "Are you sure to import 【Thai】 language?", 0},
      {"default never asks", "English", 5, 0, false, PackageLanguageResult::Changed, nullptr, 0},
      {"default in another language", "German", 5, 0, false, PackageLanguageResult::Changed, nullptr, 0},
      {"already selected", "English", 3, 3, true, PackageLanguageResult::Unchanged, nullptr, 3},
      {"other interface language", "German", 0, 2, true, PackageLanguageResult::NotOffered, nullptr, 0},
      {"out of range", "English", 0, 7, true, PackageLanguageResult::Unchanged, nullptr, 0},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    const std::string ini = tmp.File("set.ini");
    std::string content = kSetIni;
    content.replace(content.find("SelectLanguage = 0"), 18, "SelectLanguage = " + std::to_string(c.from));
    WriteAll(ini, content);
    QuestionRecorder port;
    port.answer = c.answer;
    PackageLanguageState state{c.from, std::to_string(c.from)};

    EXPECT_EQ(SetPackageLanguage(c.to, c.interfaceLanguage, ini, state, port), c.result) << c.name;
    if (c.asked) {
      EXPECT_EQ(port.asked, std::vector<std::string>{c.asked}) << c.name;
    } else {
      EXPECT_TRUE(port.asked.empty()) << c.name;
    }
    EXPECT_EQ(state.value, c.value) << c.name;
    EXPECT_EQ(state.text, std::to_string(c.value)) << c.name;
    std::string expected = kSetIni;
    expected.replace(expected.find("SelectLanguage = 0"), 18,
                     c.result == PackageLanguageResult::Changed
                         ? "SelectLanguage=" + std::to_string(c.value)
                         : "SelectLanguage = " + std::to_string(c.from));
    EXPECT_EQ(ReadAll(ini), expected) << c.name << ": only the LANGUAGE FILE line may change";
  }
}

TEST(MenuSettings, PlaySoundRewritesOnlyItsOwnLine) {
  TempDir tmp;
  const std::string ini = tmp.File("set.ini");
  WriteAll(ini, kSetIni);
  bool playSound = false;
  EXPECT_TRUE(TogglePlaySound(playSound, ini));
  EXPECT_EQ(ReadAll(ini), std::string(kSetIni).replace(14, 16, "Play Sound=TRUE"));
  EXPECT_FALSE(TogglePlaySound(playSound, ini));
  EXPECT_EQ(ReadAll(ini), kSetIni);

  WriteAll(ini, "[PROGRAM SET]\nSkin=1\n");
  EXPECT_TRUE(TogglePlaySound(playSound, ini)) << "the flag still toggles for this run";
  EXPECT_EQ(ReadAll(ini), "[PROGRAM SET]\nSkin=1\n") << "no line, nothing written";
}

TEST(MenuSettings, BackupFolderIsStoredWithOneTrailingSeparator) {
  TempDir tmp;
  const std::string ini = tmp.File("set.ini");
  WriteAll(ini, "[PROGRAM SET]\nRestoreLoadFlag=FALSE\nSkin=1\n");
  EXPECT_EQ(StoreBackupFolder("/srv/backups", ini), std::optional<std::string>("/srv/backups/"));
  std::string after = ReadAll(ini);
  EXPECT_NE(after.find("RestoreLoadFlag=TRUE\n"), std::string::npos) << after;
  EXPECT_NE(after.find("RestoreLoad=/srv/backups/\n"), std::string::npos) << "added when missing: " << after;
  EXPECT_NE(after.find("Skin=1\n"), std::string::npos);

  EXPECT_EQ(StoreBackupFolder("/srv/other/", ini), std::optional<std::string>("/srv/other/"));
  EXPECT_NE(ReadAll(ini).find("RestoreLoad=/srv/other/\n"), std::string::npos);

  WriteAll(ini, "[PROGRAM SET]\n");
  EXPECT_EQ(StoreBackupFolder("", ini), std::nullopt) << "cancelled";
  EXPECT_EQ(ReadAll(ini), "[PROGRAM SET]\n");
}

// The chosen folder is kept whatever shape set.ini is in: a missing file is made, a missing
// section is added (not lines slipped into another one), so that the next start reads the folder
// back and does not ask again.
TEST(MenuSettings, TheBackupFolderIsReadBackFromAnySetIni) {
  struct Case {
    const char* name;
    const char* before;  // null: no set.ini at all
  };
  const Case cases[] = {
      {"no set.ini", nullptr},
      {"no [PROGRAM SET]", "// settings\r\n[LANGUAGE FILE]\r\nSelectLanguage=2\r\n"},
      {"the section without the keys", "[PROGRAM SET]\nSkin=1\n[LANGUAGE FILE]\nSelectLanguage=2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const std::string ini = tmp.File("set.ini");
    if (c.before) WriteAll(ini, c.before);
    ASSERT_EQ(StoreBackupFolder("/srv/backups", ini), std::optional<std::string>("/srv/backups/"));
    ProgramSettings stored;
    ASSERT_TRUE(ReadProgramSettings(ini, stored));
    EXPECT_TRUE(stored.restoreLoadFlag) << ReadAll(ini);
    EXPECT_EQ(stored.restoreLoad, "/srv/backups/") << ReadAll(ini);
    if (c.before) {
      // Every line that was there is still there, in its order.
      std::istringstream was(c.before);
      const std::string after = ReadAll(ini);
      size_t at = 0;
      for (std::string line; std::getline(was, line);) {
        at = after.find(line + "\n", at);
        ASSERT_NE(at, std::string::npos) << line << " is gone: " << after;
      }
      if (std::string(c.before).find("SelectLanguage") != std::string::npos) {
        ProgramSettings language;
        ASSERT_TRUE(ReadProgramSettings(ini, language));
        EXPECT_EQ(language.selectLanguage, 2u);
      }
    }
  }
}

}  // namespace
}  // namespace lw
