#include "ui/skin_model.h"

#include <sys/stat.h>

#include <algorithm>

#include "common/program_dir.h"
#include "common/text.h"
#include "config/line_reader.h"
#include "config/settings.h"

namespace lw {
namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

constexpr std::array<const char*, kSkinPictureCount> kPictureKeys = {"Normal", "Mask",     "Over",
                                                                     "Press",  "Disabled", "Hide"};

struct ThemeKey {
  const char* name;
  uint32_t SkinTheme::*member;
};
constexpr std::array<ThemeKey, 7> kThemeKeys = {{
    {"Text", &SkinTheme::text},
    {"Label", &SkinTheme::label},
    {"Panel", &SkinTheme::panel},
    {"Field", &SkinTheme::field},
    {"Accent", &SkinTheme::accent},
    {"Log", &SkinTheme::log},
    {"Progress", &SkinTheme::progress},
}};

bool InMaskWhite(uint8_t v) {
  constexpr int high = std::min(kMaskWhite + kMaskTolerance, 255);
  return v >= kMaskWhite && v <= high;
}

}  // namespace

const char* SkinPictureKey(SkinPicture picture) { return kPictureKeys.at(size_t(picture)); }

std::string SkinFolderName(int skin) {
  if (skin < 1 || skin > kSkinCount) return {};
  return "Skin" + std::to_string(skin) + "/";
}

std::string SkinPictureFileName(const std::string& named) {
  return named == "Normal.bmp" ? std::string("Normal_KIT.bmp") : named;
}

std::string SkinIniPath(const std::string& programDir, int skin) {
  std::string own = JoinPath(JoinPath(programDir, SkinFolderName(skin)), kSkinIniFileName);
  if (!SkinFolderName(skin).empty() && FileExists(own)) return own;
  return JoinPath(programDir, kSkinIniFileName);
}

const char* SkinErrorText(SkinError error) {
  switch (error) {
    case SkinError::None: return "applied";
    case SkinError::MissingIni: return "skin.ini is missing";
    case SkinError::EmptyKey: return "a picture is not named in skin.ini";
    case SkinError::PictureUnreadable: return "a picture cannot be loaded";
    case SkinError::PictureTooSmall: return "a picture is smaller than the mask";
    case SkinError::NoSuchSkin: return "no such skin";
  }
  return "unknown";
}

std::optional<uint32_t> ParseSkinColour(const std::string& text) {
  std::string t = Trim(text);
  if (!t.empty() && t.front() == '#') t.erase(0, 1);
  if (t.size() != 6) return std::nullopt;
  uint32_t value = 0;
  for (char c : t) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value << 4 | uint32_t(digit);
  }
  return value;
}

SkinError ReadSkinDescription(const std::string& iniPath, SkinDescription& description) {
  std::array<std::optional<std::string>, kSkinPictureCount> named;
  std::array<bool, kThemeKeys.size()> themeSeen{};
  SkinTheme theme;
  bool opened = ForEachConfigLine(iniPath, [&](const ConfigLine& line, const std::string& section) {
    if (line.type != ConfigLineType::Key || line.key.empty()) return;
    if (EqualsIgnoreCase(section, kSkinSection)) {
      for (size_t i = 0; i < kPictureKeys.size(); ++i) {
        if (!named[i] && EqualsIgnoreCase(line.key, kPictureKeys[i])) named[i] = line.value;
      }
    } else if (EqualsIgnoreCase(section, kSkinThemeSection)) {
      for (size_t i = 0; i < kThemeKeys.size(); ++i) {
        if (themeSeen[i] || !EqualsIgnoreCase(line.key, kThemeKeys[i].name)) continue;
        themeSeen[i] = true;
        if (auto colour = ParseSkinColour(line.value)) theme.*kThemeKeys[i].member = *colour;
      }
    }
  });
  if (!opened) return SkinError::MissingIni;
  SkinDescription result;
  for (size_t i = 0; i < named.size(); ++i) {
    if (!named[i] || named[i]->empty()) return SkinError::EmptyKey;
    result.files[i] = SkinPictureFileName(NormalizeSeparators(*named[i]));
  }
  result.theme = theme;
  description = std::move(result);
  return SkinError::None;
}

bool IsMaskOutside(uint8_t red, uint8_t green, uint8_t blue) {
  return InMaskWhite(red) && InMaskWhite(green) && InMaskWhite(blue);
}

std::vector<MaskRun> MaskRegionRuns(int width, int height,
                                    const std::function<uint32_t(int x, int y)>& rgbAt) {
  std::vector<MaskRun> runs;
  for (int y = height - 1; y >= 0; --y) {
    int start = -1;
    for (int x = 0; x <= width; ++x) {
      bool kept = false;
      if (x < width) {
        uint32_t rgb = rgbAt(x, y);
        kept = !IsMaskOutside(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
      }
      if (kept && start < 0) {
        start = x;
      } else if (!kept && start >= 0) {
        runs.push_back({y, start, x - start});
        start = -1;
      }
    }
  }
  return runs;
}

std::vector<SkinButton> DefaultSkinButtons() {
  return {
      {kButtonMin, {576, 14, 596, 34}, false, "", true, true},
      {kButtonExit, {602, 14, 622, 34}, false, "", true, true},
      {kButtonBurn, {392, 245, 461, 272}, true, TextKey("Upgrade"), true, true},
      {kButtonRestore, {293, 245, 362, 272}, true, TextKey("Restore"), true, true},
  };
}

int ButtonAt(const std::vector<SkinButton>& buttons, int x, int y) {
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i].visible && buttons[i].rect.Contains(x, y)) return int(i);
  }
  return -1;
}

SkinPicture ButtonPicture(const SkinButton& button, bool hovered, bool pressed) {
  if (!button.visible) return SkinPicture::Hide;
  if (!button.enabled) return SkinPicture::Disabled;
  if (pressed && hovered) return SkinPicture::Press;
  if (hovered || pressed) return SkinPicture::Over;
  return SkinPicture::Normal;
}

bool ClickDebouncer::Accept(int64_t nowMs) {
  if (last_ && nowMs - *last_ < kMinGapMs && nowMs >= *last_) return false;
  last_ = nowMs;
  return true;
}

const SkinLayout& DefaultSkinLayout() {
  static const SkinLayout layout;
  return layout;
}

SkinState::SkinState() : buttons_(DefaultSkinButtons()) {}

SkinError SkinState::Apply(const std::string& iniPath, const std::string& skinDir,
                           SkinCanvas& canvas) {
  if (!FileExists(iniPath)) return SkinError::MissingIni;
  SkinDescription description;
  if (SkinError e = ReadSkinDescription(iniPath, description); e != SkinError::None) return e;
  std::array<std::string, kSkinPictureCount> paths;
  for (size_t i = 0; i < paths.size(); ++i) paths[i] = JoinPath(skinDir, description.files[i]);
  std::array<SkinCanvas::Size, kSkinPictureCount> sizes{};
  if (!canvas.Stage(paths, sizes)) return SkinError::PictureUnreadable;
  // Every state picture is cut at window coordinates, so each must cover the whole window.
  const SkinCanvas::Size mask = sizes[size_t(SkinPicture::Mask)];
  if (mask.width <= 0 || mask.height <= 0) return SkinError::PictureUnreadable;
  for (const SkinCanvas::Size& s : sizes) {
    if (s.width < mask.width || s.height < mask.height) return SkinError::PictureTooSmall;
  }
  description_ = description;
  buttons_ = DefaultSkinButtons();
  canvas.Show(description_);
  return SkinError::None;
}

SkinError SkinState::ApplyAtStart(int skin, const std::string& programDir, SkinCanvas& canvas) {
  if (SkinFolderName(skin).empty()) return SkinError::NoSuchSkin;
  SkinError e = Apply(SkinIniPath(programDir, skin), JoinPath(programDir, SkinFolderName(skin)),
                      canvas);
  if (e == SkinError::None) current_ = skin;
  return e;
}

SkinState::SwitchResult SkinState::Switch(int skin, const std::string& programDir,
                                          SkinCanvas& canvas, SkinError* error) {
  if (error) *error = SkinError::None;
  if (skin == current_) return SwitchResult::Unchanged;
  if (SkinFolderName(skin).empty()) {
    if (error) *error = SkinError::NoSuchSkin;
    return SwitchResult::Failed;
  }
  const SkinButton main = buttons_[kMainButton];
  const SkinButton second = buttons_[kSecondButton];
  SkinError e = Apply(SkinIniPath(programDir, skin), JoinPath(programDir, SkinFolderName(skin)),
                      canvas);
  if (e != SkinError::None) {
    if (error) *error = e;
    return SwitchResult::Failed;
  }
  WriteSetting(JoinPath(programDir, kSettingsFileName), kProgramSetSection, "Skin",
               std::to_string(skin));
  current_ = skin;
  for (size_t index : {kMainButton, kSecondButton}) {
    const SkinButton& kept = index == kMainButton ? main : second;
    buttons_[index].caption = kept.caption;
    buttons_[index].enabled = kept.enabled;
    buttons_[index].visible = kept.visible;
  }
  return SwitchResult::Switched;
}

}  // namespace lw
