// The main window's pop-up menu (right click) as plain data, and the choices that live in it:
// the package language (which extra language package an upgrade writes into the radio, kept in
// section "LANGUAGE FILE" of set.ini), "Play Sound" and the backup folder.
//
// The window draws the entries of BuildPopupMenu and hands the chosen command id back; the
// actions that belong to other modules (interface language, skins, the restriction viewer, the
// About box, exit) are only named here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lw {

class WindowPort;

// Command ids of the menu entries. They are fixed: logs and the remote tools name them.
namespace menu_id {
inline constexpr int kEnglish = 32786;
inline constexpr int kChinese = 32787;
inline constexpr int kPlaySound = 32779;
inline constexpr int kSkin1 = 32776;  // Skin2 and Skin3 follow
inline constexpr int kForRadio = 32785;
inline constexpr int kPackageLanguageDefault = 32796;  // 32796..32802 for values 0..6
inline constexpr int kBackupPath = 32806;
inline constexpr int kAbout = 32774;
inline constexpr int kExit = 32772;
}  // namespace menu_id

// Package language values ("SelectLanguage").
inline constexpr int kPackageLanguageCount = 7;  // 0 Default, 1 Farsi ... 6 Forest
inline constexpr const char* kSelectLanguageKey = "SelectLanguage";

// "Default", "Farsi", "Arabic", "Korean", "Thai", "Japanese", "Forest"; "" outside 0..6.
const char* PackageLanguageName(int value);

struct MenuEntry {
  enum class Kind { Item, Separator, SubMenu };
  Kind kind = Kind::Item;
  int id = 0;               // command id of an Item (0 otherwise)
  std::string caption;      // untranslated; the window passes it through Translate
  bool checked = false;
  std::vector<MenuEntry> children;  // entries of a SubMenu
};

// What the check marks show.
struct MenuState {
  std::string interfaceLanguage;  // "English" or "Chinese"
  bool playSound = false;
  int skin = 0;                   // 1..3, anything else checks no skin
  int packageLanguage = 0;        // 0..6
};

// The menu in its order, with the check marks of `state`.
std::vector<MenuEntry> BuildPopupMenu(const MenuState& state);

// What a command id asks for.
enum class MenuAction {
  None,
  InterfaceLanguage,  // `value`: 0 English, 1 Chinese
  PlaySound,
  Skin,               // `value`: 1..3
  ForRadio,
  PackageLanguage,    // `value`: 0..6
  BackupPath,
  About,
  Exit,
};
struct MenuCommand {
  MenuAction action = MenuAction::None;
  int value = 0;
};
MenuCommand DecodeMenuCommand(int id);

// --- Package language ----------------------------------------------------------------------

// The confirmation for package language `value`, in the interface language ("English" or
// "Chinese"; shown as it stands, not translated). Nothing for "Default", for a value outside
// 1..6 and for any other interface language.
std::optional<std::string> PackageLanguageQuestion(int value, const std::string& interfaceLanguage);

// The package-language state of the window: the number and the text the upgrade compares.
struct PackageLanguageState {
  int value = 0;
  std::string text = "0";
};

enum class PackageLanguageResult {
  Unchanged,    // already selected, or a value outside 0..6
  NotOffered,   // an interface language with no confirmation text
  Declined,     // the operator answered No
  Changed,      // state and set.ini updated: refresh the Restore button
};

// Menu "Language" > value: asks (except for Default), then writes "SelectLanguage" into
// section "LANGUAGE FILE" of `settingsPath` and updates `state`.
PackageLanguageResult SetPackageLanguage(int value, const std::string& interfaceLanguage,
                                         const std::string& settingsPath,
                                         PackageLanguageState& state, WindowPort& port);

// --- Other menu settings -------------------------------------------------------------------

// Menu "Play Sound": flips the flag and writes "Play Sound" = "TRUE"/"FALSE" to "PROGRAM SET"
// (only an existing line is rewritten). Returns the new value.
bool TogglePlaySound(bool& playSound, const std::string& settingsPath);

// Menu "Backup File Storage Path" and the start-up folder prompt: stores `folder` as the backup
// folder ("RestoreLoadFlag" = "TRUE", "RestoreLoad" = the folder with one trailing separator;
// both keys are added to "PROGRAM SET" when missing). Returns the new backup folder, or nothing
// for an empty folder (the chooser was cancelled). The folder is used for this run even when
// set.ini cannot be written.
std::optional<std::string> StoreBackupFolder(const std::string& folder,
                                             const std::string& settingsPath);

}  // namespace lw
