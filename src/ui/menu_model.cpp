#include "ui/menu_model.h"

#include <array>

#include "common/window_port.h"
#include "config/settings.h"
#include "common/text.h"

namespace lw {
namespace {

constexpr std::array<const char*, kPackageLanguageCount> kPackageLanguageNames = {
    TextKey("Default"), TextKey("Farsi"), TextKey("Arabic"), TextKey("Korean"), TextKey("Thai"),
    TextKey("Japanese"), TextKey("Forest")};

// Confirmations by value 1..6, English then Chinese.
constexpr std::array<const char*, kPackageLanguageCount> kQuestionsEnglish = {
    "",
    "Are you sure to import 【Farsi】 language?",
    "Are you sure to import 【Arabic】 language?",
    "Are you sure to import 【Korean】 language?",
    "Are you sure to import 【Thai】 language?",
    "Are you sure to import 【Japanese】 language?",
    "Are you sure to import 【Forest】 language?",
};
constexpr std::array<const char*, kPackageLanguageCount> kQuestionsChinese = {
    "",
    "确认导入【波斯语】？",
    "确认导入【阿拉伯语】？",
    "确认导入【韩语】？",
    "确认导入【泰语】？",
    "确认导入【日语】？",
    "确认导入【林业语言包】？",
};

MenuEntry Item(int id, const char* caption, bool checked = false) {
  MenuEntry e;
  e.kind = MenuEntry::Kind::Item;
  e.id = id;
  e.caption = caption;
  e.checked = checked;
  return e;
}

MenuEntry Separator() {
  MenuEntry e;
  e.kind = MenuEntry::Kind::Separator;
  return e;
}

MenuEntry SubMenu(const char* caption, std::vector<MenuEntry> children) {
  MenuEntry e;
  e.kind = MenuEntry::Kind::SubMenu;
  e.caption = caption;
  e.children = std::move(children);
  return e;
}

bool InRange(int value) { return value >= 0 && value < kPackageLanguageCount; }

}  // namespace

const char* PackageLanguageName(int value) {
  return InRange(value) ? kPackageLanguageNames[size_t(value)] : "";
}

std::vector<MenuEntry> BuildPopupMenu(const MenuState& state) {
  std::vector<MenuEntry> skins;
  for (int i = 0; i < 3; ++i) {
    static constexpr std::array<const char*, 3> names = {TextKey("Skin1"), TextKey("Skin2"), TextKey("Skin3")};
    skins.push_back(Item(menu_id::kSkin1 + i, names[size_t(i)], state.skin == i + 1));
  }
  std::vector<MenuEntry> languages;
  for (int v = 0; v < kPackageLanguageCount; ++v) {
    languages.push_back(Item(menu_id::kPackageLanguageDefault + v, kPackageLanguageNames[size_t(v)],
                             state.packageLanguage == v));
  }
  return {
      Item(menu_id::kEnglish, TextKey("English"), state.interfaceLanguage == "English"),
      Item(menu_id::kChinese, TextKey("中文"), state.interfaceLanguage == "Chinese"),
      Separator(),
      Item(menu_id::kPlaySound, TextKey("Play Sound"), state.playSound),
      SubMenu(TextKey("Change Skin"), std::move(skins)),
      Separator(),
      Item(menu_id::kForRadio, TextKey("For Radio")),
      Separator(),
      SubMenu(TextKey("Language"), std::move(languages)),
      Separator(),
      Item(menu_id::kBackupPath, TextKey("Backup File Storage Path")),
      Separator(),
      Item(menu_id::kAbout, TextKey("About")),
      Separator(),
      Item(menu_id::kExit, TextKey("Exit")),
  };
}

MenuCommand DecodeMenuCommand(int id) {
  switch (id) {
    case menu_id::kEnglish: return {MenuAction::InterfaceLanguage, 0};
    case menu_id::kChinese: return {MenuAction::InterfaceLanguage, 1};
    case menu_id::kPlaySound: return {MenuAction::PlaySound, 0};
    case menu_id::kForRadio: return {MenuAction::ForRadio, 0};
    case menu_id::kBackupPath: return {MenuAction::BackupPath, 0};
    case menu_id::kAbout: return {MenuAction::About, 0};
    case menu_id::kExit: return {MenuAction::Exit, 0};
    default: break;
  }
  if (id >= menu_id::kSkin1 && id < menu_id::kSkin1 + 3) return {MenuAction::Skin, id - menu_id::kSkin1 + 1};
  if (id >= menu_id::kPackageLanguageDefault && id < menu_id::kPackageLanguageDefault + kPackageLanguageCount) {
    return {MenuAction::PackageLanguage, id - menu_id::kPackageLanguageDefault};
  }
  return {};
}

std::optional<std::string> PackageLanguageQuestion(int value, const std::string& interfaceLanguage) {
  if (value < 1 || value >= kPackageLanguageCount) return std::nullopt;
  if (interfaceLanguage == "English") return std::string(kQuestionsEnglish[size_t(value)]);
  if (interfaceLanguage == "Chinese") return std::string(kQuestionsChinese[size_t(value)]);
  return std::nullopt;
}

PackageLanguageResult SetPackageLanguage(int value, const std::string& interfaceLanguage,
                                         const std::string& settingsPath,
                                         PackageLanguageState& state, WindowPort& port) {
  if (!InRange(value) || state.value == value) return PackageLanguageResult::Unchanged;
  if (value != 0) {
    std::optional<std::string> question = PackageLanguageQuestion(value, interfaceLanguage);
    if (!question) return PackageLanguageResult::NotOffered;
    if (!port.AskYesNo(*question, true)) return PackageLanguageResult::Declined;
  }
  const std::string digit = std::to_string(value);
  WriteSetting(settingsPath, kLanguageFileSection, kSelectLanguageKey, digit);
  state.value = value;
  state.text = digit;
  return PackageLanguageResult::Changed;
}

bool TogglePlaySound(bool& playSound, const std::string& settingsPath) {
  playSound = !playSound;
  WriteSetting(settingsPath, kProgramSetSection, "Play Sound", playSound ? "TRUE" : "FALSE");
  return playSound;
}

std::optional<std::string> StoreBackupFolder(const std::string& folder,
                                             const std::string& settingsPath) {
  if (folder.empty()) return std::nullopt;
  std::string dir = folder;
  if (dir.back() != '/') dir += '/';
  WriteProfileSetting(settingsPath, kProgramSetSection, "RestoreLoadFlag", "TRUE");
  WriteProfileSetting(settingsPath, kProgramSetSection, "RestoreLoad", dir);
  return dir;
}

}  // namespace lw
