// Skins: the main window has no standard frame; its shape and look come from six pictures of a
// skin folder ("Skin1/", "Skin2/", "Skin3/" below the program directory), named in section
// "Dialog" of a skin.ini. The four operation buttons are cut from the same pictures.
//
// This module holds everything about skins that needs no widget toolkit: reading skin.ini, the
// rule that turns the Mask picture into the window's shape, the fixed button table, the layout
// of the window's panels (shared by the window and by the program that draws the shipped
// skins), the click debounce, and the selection rules. Loading and showing pictures is the
// window's part, reached through SkinCanvas.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lw {

// The six pictures, in the order skin.ini is read.
enum class SkinPicture : int { Normal = 0, Mask, Over, Press, Disabled, Hide };
inline constexpr int kSkinPictureCount = 6;
inline constexpr const char* kSkinIniFileName = "skin.ini";
inline constexpr const char* kSkinSection = "Dialog";
inline constexpr const char* kSkinThemeSection = "Theme";
inline constexpr int kSkinCount = 3;

// "Normal", "Mask", "Over", "Press", "Disabled", "Hide".
const char* SkinPictureKey(SkinPicture picture);

// "Skin1/".."Skin3/" for 1..3; empty for any other number (no skin).
std::string SkinFolderName(int skin);

// The file loaded for a name given in skin.ini: "Normal.bmp" is shipped as "Normal_KIT.bmp".
std::string SkinPictureFileName(const std::string& named);

// The skin.ini used for skin `skin`: the folder's own skin.ini when there is one, else the
// skin.ini of the program directory (the pictures always come from the folder).
std::string SkinIniPath(const std::string& programDir, int skin);

// Colours of the widgets the window lays over the pictures (section "Theme", optional keys
// "Text", "Label", "Panel", "Field", "Accent", "Log", "Progress" as #RRGGBB). A missing or
// malformed key keeps the default below.
struct SkinTheme {
  uint32_t text = 0x1E2A38;
  uint32_t label = 0x4A5A6E;
  uint32_t panel = 0xF4F7FB;
  uint32_t field = 0xFFFFFF;
  uint32_t accent = 0x2F6FD0;
  uint32_t log = 0xFFFFFF;
  uint32_t progress = 0x2F8F4E;
};

struct SkinDescription {
  // File names to load from the skin folder, by SkinPicture, already renamed.
  std::array<std::string, kSkinPictureCount> files;
  SkinTheme theme;
  const std::string& File(SkinPicture picture) const { return files[size_t(picture)]; }
};

enum class SkinError {
  None,
  MissingIni,         // skin.ini does not exist or cannot be read
  EmptyKey,           // a picture key is missing or empty in section "Dialog"
  PictureUnreadable,  // a picture file cannot be loaded
  PictureTooSmall,    // a state picture does not cover the window (the Mask's size)
  NoSuchSkin,         // a skin number outside 1..3
};
const char* SkinErrorText(SkinError error);

// Reads section "Dialog" (and the optional "Theme") of a skin.ini. Section and key names
// compare ignoring case and the first occurrence of a key counts, as with the profile files
// skins were always written for.
SkinError ReadSkinDescription(const std::string& iniPath, SkinDescription& description);

// "#RRGGBB" or "RRGGBB" to 0xRRGGBB.
std::optional<uint32_t> ParseSkinColour(const std::string& text);

// --- Window shape ------------------------------------------------------------------------

// A mask pixel is outside the window when red, green and blue each lie in 255..255+16,
// clipped to 255: only pure white is cut away, so anti-aliased edge pixels stay.
inline constexpr int kMaskWhite = 255;
inline constexpr int kMaskTolerance = 16;
bool IsMaskOutside(uint8_t red, uint8_t green, uint8_t blue);

// A horizontal run of kept pixels: columns [left, left + width) of row `top`.
struct MaskRun {
  int top = 0;
  int left = 0;
  int width = 0;
  bool operator==(const MaskRun&) const = default;
};

// The window region as row runs of the pixels that are not outside, bottom row first.
// `rgbAt(x, y)` gives the mask pixel as 0xRRGGBB.
std::vector<MaskRun> MaskRegionRuns(int width, int height,
                                    const std::function<uint32_t(int x, int y)>& rgbAt);

// --- Buttons -------------------------------------------------------------------------------

struct SkinRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

inline constexpr const char* kButtonMin = "min";
inline constexpr const char* kButtonExit = "exit";
inline constexpr const char* kButtonBurn = "Burn";
inline constexpr const char* kButtonRestore = "Restore";

struct SkinButton {
  std::string name;
  SkinRect rect;
  bool drawsCaption = false;
  std::string caption;  // untranslated; the window passes it through Translate
  bool enabled = true;
  bool visible = true;
};

// The four buttons in their fixed order: "min", "exit", "Burn" (captioned "Upgrade"),
// "Restore". Index 2 is the main action button, index 3 the second function button.
std::vector<SkinButton> DefaultSkinButtons();
inline constexpr size_t kMainButton = 2;
inline constexpr size_t kSecondButton = 3;

// Index of the button whose rectangle holds (x, y), or -1.
int ButtonAt(const std::vector<SkinButton>& buttons, int x, int y);

// Which picture a button is cut from in a given state.
SkinPicture ButtonPicture(const SkinButton& button, bool hovered, bool pressed);

// Captions are shifted by CaptionOffsetOf (ui/translate.h) of the interface language.

// A click is acted on only when it comes at least 200 ms after the previous accepted click;
// the debounce is shared by all buttons of the window.
class ClickDebouncer {
 public:
  static constexpr int64_t kMinGapMs = 200;
  // `nowMs` from a monotonic clock. True when the click is to be acted on.
  bool Accept(int64_t nowMs);

 private:
  std::optional<int64_t> last_;
};

// --- Layout --------------------------------------------------------------------------------

// Where the window puts its parts, in window pixels at 100%. The shipped skins are drawn to
// this layout; the buttons keep the rectangles of the button table.
struct SkinLayout {
  int width = 640, height = 448;
  int cornerRadius = 12;
  SkinRect titleBar{0, 0, 640, 48};
  SkinRect statusPanel{16, 56, 624, 236};
  SkinRect radioPicture{470, 68, 612, 224};
  SkinRect pathField{16, 245, 250, 272};
  SkinRect browseButton{254, 245, 284, 272};
  SkinRect indicators{470, 245, 624, 272};
  SkinRect progressBar{16, 284, 624, 304};
  SkinRect logList{16, 314, 624, 416};
  SkinRect footer{16, 422, 624, 442};
};
const SkinLayout& DefaultSkinLayout();

// --- Applying and switching ----------------------------------------------------------------

// The window's side of applying a skin. Stage() loads the six pictures without showing them
// and reports their sizes; Show() puts the staged pictures on screen (window size from the
// Mask, shape, repaint). A failed Stage() must leave what is shown untouched.
class SkinCanvas {
 public:
  struct Size {
    int width = 0, height = 0;
  };
  virtual ~SkinCanvas() = default;
  // `paths` are full paths by SkinPicture. False when any picture cannot be loaded.
  virtual bool Stage(const std::array<std::string, kSkinPictureCount>& paths,
                     std::array<Size, kSkinPictureCount>& sizes) = 0;
  virtual void Show(const SkinDescription& description) = 0;
};

// The skin state of the window: the current skin number and the four buttons.
class SkinState {
 public:
  SkinState();

  int Current() const { return current_; }
  const std::vector<SkinButton>& Buttons() const { return buttons_; }
  SkinButton& Button(size_t index) { return buttons_.at(index); }
  const SkinDescription& Description() const { return description_; }

  // Applies the skin described by `iniPath` with pictures from `skinDir`. On success the
  // buttons are made afresh from the table; on failure nothing changes.
  SkinError Apply(const std::string& iniPath, const std::string& skinDir, SkinCanvas& canvas);

  // Start-up: applies skin `skin` (the set.ini "Skin" value) and makes it current. Any number
  // but 1..3 applies nothing.
  SkinError ApplyAtStart(int skin, const std::string& programDir, SkinCanvas& canvas);

  enum class SwitchResult { Unchanged, Switched, Failed };
  // Menu "Skin1".."Skin3": nothing when `skin` is current; otherwise applies it keeping the
  // captions, enabled and visible states of the two operation buttons, writes "Skin" to
  // set.ini and makes it current. A skin that cannot be applied changes nothing, set.ini
  // included.
  SwitchResult Switch(int skin, const std::string& programDir, SkinCanvas& canvas,
                      SkinError* error = nullptr);

 private:
  int current_ = 0;
  std::vector<SkinButton> buttons_;
  SkinDescription description_;
};

}  // namespace lw
