#include "ui/skin_model.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace lw {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "lw-skin-XXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  std::string dir() const { return path_.string() + "/"; }

 private:
  fs::path path_;
};

const char* kGoodIni =
    "[Dialog]\n"
    "Normal=Normal.bmp\n"
    "Mask=Mask.bmp\n"
    "Over=Over.bmp\n"
    "Press=Press.bmp\n"
    "Disabled=Disabled.bmp\n"
    "Hide=Hide.bmp\n";

// --- skin.ini ------------------------------------------------------------------------------

TEST(SkinIni, ReadsSixPicturesAndRenamesNormal) {
  TempDir tmp;
  WriteAll(tmp.path() / "skin.ini", std::string("// shipped skin\n") + kGoodIni +
                                        "[Theme]\nAccent=#12ab3C\nText=oops\n");
  SkinDescription d;
  ASSERT_EQ(ReadSkinDescription((tmp.path() / "skin.ini").string(), d), SkinError::None);
  EXPECT_EQ(d.File(SkinPicture::Normal), "Normal_KIT.bmp");
  EXPECT_EQ(d.File(SkinPicture::Mask), "Mask.bmp");
  EXPECT_EQ(d.File(SkinPicture::Hide), "Hide.bmp");
  EXPECT_EQ(d.theme.accent, 0x12AB3Cu);
  EXPECT_EQ(d.theme.text, SkinTheme{}.text) << "a malformed colour keeps the default";
}

TEST(SkinIni, RejectsWhatCannotBeApplied) {
  struct Case {
    const char* name;
    const char* content;  // nullptr: no file at all
    SkinError expected;
  };
  const Case cases[] = {
      {"missing file", nullptr, SkinError::MissingIni},
      {"empty key", "[Dialog]\nNormal=\nMask=M\nOver=O\nPress=P\nDisabled=D\nHide=H\n",
       SkinError::EmptyKey},
      {"missing key", "[Dialog]\nNormal=N\nMask=M\nOver=O\nPress=P\nDisabled=D\n",
       SkinError::EmptyKey},
      {"keys in another section",
       "[Other]\nNormal=N\nMask=M\nOver=O\nPress=P\nDisabled=D\nHide=H\n", SkinError::EmptyKey},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    if (c.content) WriteAll(tmp.path() / "skin.ini", c.content);
    SkinDescription d;
    d.files[0] = "untouched";
    EXPECT_EQ(ReadSkinDescription((tmp.path() / "skin.ini").string(), d), c.expected) << c.name;
    EXPECT_EQ(d.files[0], "untouched") << c.name;
  }
}

TEST(SkinIni, SectionAndKeysIgnoreCaseAndFirstOccurrenceCounts) {
  TempDir tmp;
  WriteAll(tmp.path() / "skin.ini",
           "[dialog]\nnormal=a.bmp\nNORMAL=b.bmp\nMask=m\nOver=o\nPress=p\nDisabled=d\nHide=h\n");
  SkinDescription d;
  ASSERT_EQ(ReadSkinDescription((tmp.path() / "skin.ini").string(), d), SkinError::None);
  EXPECT_EQ(d.File(SkinPicture::Normal), "a.bmp");
}

TEST(SkinIni, FolderOwnIniIsPreferredOverTheProgramDirectory) {
  TempDir tmp;
  WriteAll(tmp.path() / "skin.ini", kGoodIni);
  WriteAll(tmp.path() / "Skin2" / "skin.ini", kGoodIni);
  EXPECT_EQ(SkinIniPath(tmp.dir(), 1), tmp.dir() + "skin.ini");
  EXPECT_EQ(SkinIniPath(tmp.dir(), 2), tmp.dir() + "Skin2/skin.ini");
}

// --- Mask ----------------------------------------------------------------------------------

TEST(SkinMask, OnlyPureWhiteIsOutside) {
  struct Case {
    uint8_t r, g, b;
    bool outside;
  };
  const Case cases[] = {
      {255, 255, 255, true}, {254, 255, 255, false}, {255, 255, 254, false},
      {0, 0, 0, false},      {255, 0, 255, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsMaskOutside(c.r, c.g, c.b), c.outside) << int(c.r) << "," << int(c.g) << "," << int(c.b);
  }
}

TEST(SkinMask, RunsAreBuiltRowByRowBottomFirst) {
  // '.' white (outside), '#' black, '~' a near-white edge pixel that must stay.
  const std::vector<std::string> rows = {
      "..##.",
      "#####",
      ".....",
      "~#.##",
  };
  auto at = [&](int x, int y) -> uint32_t {
    char c = rows[size_t(y)][size_t(x)];
    return c == '.' ? 0xFFFFFF : c == '~' ? 0xFEFEFE : 0x000000;
  };
  std::vector<MaskRun> runs = MaskRegionRuns(5, 4, at);
  const std::vector<MaskRun> expected = {
      {3, 0, 2}, {3, 3, 2},  // bottom row, second run reaching the right edge
      {1, 0, 5},             // row 2 is all white: no run
      {0, 2, 2},
  };
  EXPECT_EQ(runs, expected);
  EXPECT_TRUE(MaskRegionRuns(0, 0, at).empty());
}

// --- Buttons -------------------------------------------------------------------------------

TEST(SkinButtons, TableAndPicturesByState) {
  std::vector<SkinButton> buttons = DefaultSkinButtons();
  ASSERT_EQ(buttons.size(), 4u);
  EXPECT_EQ(buttons[kMainButton].name, "Burn");
  EXPECT_EQ(buttons[kMainButton].caption, "Upgrade");
  EXPECT_EQ(buttons[kSecondButton].name, "Restore");
  EXPECT_FALSE(buttons[0].drawsCaption);
  EXPECT_EQ(ButtonAt(buttons, 392, 245), int(kMainButton));
  EXPECT_EQ(ButtonAt(buttons, 461, 260), -1) << "right edge is outside";
  EXPECT_EQ(ButtonAt(buttons, 610, 20), 1);
  EXPECT_EQ(ButtonAt(buttons, 599, 20), -1) << "the gap between min and exit";
  buttons[kSecondButton].visible = false;
  EXPECT_EQ(ButtonAt(buttons, 300, 250), -1) << "a hidden button takes no clicks";

  struct Case {
    bool enabled, visible, hovered, pressed;
    SkinPicture picture;
  };
  const Case cases[] = {
      {true, true, false, false, SkinPicture::Normal},
      {true, true, true, false, SkinPicture::Over},
      {true, true, true, true, SkinPicture::Press},
      {true, true, false, true, SkinPicture::Over},  // pressed, then dragged off
      {false, true, true, true, SkinPicture::Disabled},
      {false, false, true, false, SkinPicture::Hide},
  };
  for (const Case& c : cases) {
    SkinButton b = DefaultSkinButtons()[kMainButton];
    b.enabled = c.enabled;
    b.visible = c.visible;
    EXPECT_EQ(ButtonPicture(b, c.hovered, c.pressed), c.picture)
        << c.enabled << c.visible << c.hovered << c.pressed;
  }
}

TEST(SkinButtons, ClicksCloserThan200MsAreIgnored) {
  ClickDebouncer d;
  EXPECT_TRUE(d.Accept(1000));
  EXPECT_FALSE(d.Accept(1150)) << "150 ms after the previous click";
  EXPECT_FALSE(d.Accept(1199));
  EXPECT_TRUE(d.Accept(1200)) << "ignored clicks do not restart the wait";
  EXPECT_FALSE(d.Accept(1399));
  EXPECT_TRUE(d.Accept(5000));
}

// --- Applying and switching ----------------------------------------------------------------

// Pictures "exist" when the fixture gave them a size; Show records what was put on screen.
class FakeCanvas : public SkinCanvas {
 public:
  std::map<std::string, Size> files;
  int shown = 0;
  std::string shownNormal;

  bool Stage(const std::array<std::string, kSkinPictureCount>& paths,
             std::array<Size, kSkinPictureCount>& sizes) override {
    for (size_t i = 0; i < paths.size(); ++i) {
      auto it = files.find(paths[i]);
      if (it == files.end()) return false;
      sizes[i] = it->second;
    }
    return true;
  }
  void Show(const SkinDescription& d) override {
    ++shown;
    shownNormal = d.File(SkinPicture::Normal);
  }
};

class SkinSwitchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteAll(tmp.path() / "set.ini", "[PROGRAM SET]\n// look\nSkin=1\nLanguage=English\n");
    WriteAll(tmp.path() / "skin.ini", kGoodIni);
    for (int skin = 1; skin <= 3; ++skin) AddSkin(skin, {640, 448});
  }
  void AddSkin(int skin, SkinCanvas::Size size) {
    for (const char* f : {"Normal_KIT.bmp", "Mask.bmp", "Over.bmp", "Press.bmp", "Disabled.bmp", "Hide.bmp"}) {
      canvas.files[tmp.dir() + "Skin" + std::to_string(skin) + "/" + f] = size;
    }
  }
  std::string SetIni() { return ReadAll(tmp.path() / "set.ini"); }

  TempDir tmp;
  FakeCanvas canvas;
  SkinState state;
};

TEST_F(SkinSwitchTest, SwitchWritesSkinAndKeepsOperationButtons) {
  ASSERT_EQ(state.ApplyAtStart(1, tmp.dir(), canvas), SkinError::None);
  EXPECT_EQ(canvas.shownNormal, "Normal_KIT.bmp");
  state.Button(kMainButton).enabled = false;
  state.Button(kSecondButton).visible = false;
  state.Button(kSecondButton).caption = "Restore";

  EXPECT_EQ(state.Switch(3, tmp.dir(), canvas), SkinState::SwitchResult::Switched);
  EXPECT_EQ(state.Current(), 3);
  EXPECT_EQ(canvas.shown, 2);
  EXPECT_EQ(SetIni(), "[PROGRAM SET]\n// look\nSkin=3\nLanguage=English\n");
  EXPECT_FALSE(state.Buttons()[kMainButton].enabled);
  EXPECT_FALSE(state.Buttons()[kSecondButton].visible);
  EXPECT_TRUE(state.Buttons()[0].enabled);
}

TEST_F(SkinSwitchTest, ReselectingTheCurrentSkinTouchesNothing) {
  ASSERT_EQ(state.ApplyAtStart(2, tmp.dir(), canvas), SkinError::None);
  auto before = fs::last_write_time(tmp.path() / "set.ini");
  fs::remove(tmp.path() / "skin.ini");  // would fail if it were applied again
  EXPECT_EQ(state.Switch(2, tmp.dir(), canvas), SkinState::SwitchResult::Unchanged);
  EXPECT_EQ(canvas.shown, 1);
  EXPECT_EQ(fs::last_write_time(tmp.path() / "set.ini"), before);
  EXPECT_EQ(SetIni(), "[PROGRAM SET]\n// look\nSkin=1\nLanguage=English\n");
}

TEST_F(SkinSwitchTest, ASkinThatCannotBeAppliedLeavesThePreviousLook) {
  ASSERT_EQ(state.ApplyAtStart(1, tmp.dir(), canvas), SkinError::None);
  state.Button(kMainButton).caption = "Upgrade";
  struct Case {
    const char* name;
    std::function<void()> breakIt;
    SkinError expected;
  };
  const Case cases[] = {
      {"missing picture", [&] { canvas.files.erase(tmp.dir() + "Skin2/Press.bmp"); },
       SkinError::PictureUnreadable},
      {"picture smaller than the mask",
       [&] { canvas.files[tmp.dir() + "Skin2/Over.bmp"] = {600, 448}; }, SkinError::PictureTooSmall},
      {"empty key", [&] { WriteAll(tmp.path() / "Skin2" / "skin.ini", "[Dialog]\nNormal=Normal.bmp\n"); },
       SkinError::EmptyKey},
      {"no skin.ini", [&] { fs::remove(tmp.path() / "skin.ini"); }, SkinError::MissingIni},
  };
  for (const Case& c : cases) {
    SetUp();
    fs::remove(tmp.path() / "Skin2" / "skin.ini");
    c.breakIt();
    SkinError error = SkinError::None;
    EXPECT_EQ(state.Switch(2, tmp.dir(), canvas, &error), SkinState::SwitchResult::Failed) << c.name;
    EXPECT_EQ(error, c.expected) << c.name;
    EXPECT_EQ(state.Current(), 1) << c.name;
    EXPECT_EQ(canvas.shown, 1) << c.name;
    EXPECT_EQ(SetIni(), "[PROGRAM SET]\n// look\nSkin=1\nLanguage=English\n") << c.name;
  }
}

TEST_F(SkinSwitchTest, StartWithAnotherNumberAppliesNoSkin) {
  for (int skin : {0, 4, -1}) {
    EXPECT_EQ(state.ApplyAtStart(skin, tmp.dir(), canvas), SkinError::NoSuchSkin);
  }
  EXPECT_EQ(canvas.shown, 0);
  EXPECT_EQ(state.Current(), 0);
}

}  // namespace
}  // namespace lw
