// skingen: draws the three shipped skins of the main window.
//
//   skingen OUTDIR
//
// writes OUTDIR/skin.ini and OUTDIR/Skin1/ .. OUTDIR/Skin3/, each with its own skin.ini and the
// six pictures (Normal_KIT, Mask, Over, Press, Disabled, Hide) as 24-bit BMP files, plus a
// double-size copy of every picture but the mask ("NAME@2x.bmp") that the window uses on a
// screen scaled to 150% or more. The pictures follow the window layout of ui/skin_model.h, so
// the window's widgets land on the panels drawn for them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/skin_model.h"

namespace {

struct Rgb {
  float r = 0, g = 0, b = 0;
};

Rgb Hex(uint32_t v) { return {float(v >> 16 & 0xFF), float(v >> 8 & 0xFF), float(v & 0xFF)}; }
Rgb Mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

class Canvas {
 public:
  Canvas(int w, int h, Rgb fill) : w_(w), h_(h), px_(size_t(w) * size_t(h), fill) {}
  int width() const { return w_; }
  int height() const { return h_; }
  Rgb& at(int x, int y) { return px_[size_t(y) * size_t(w_) + size_t(x)]; }
  void Blend(int x, int y, Rgb c, float a) {
    if (x < 0 || y < 0 || x >= w_ || y >= h_ || a <= 0) return;
    a = std::min(a, 1.0f);
    at(x, y) = Mix(at(x, y), c, a);
  }

  // Writes a bottom-up 24-bit BMP with a 40-byte info header.
  bool WriteBmp(const std::filesystem::path& path) const {
    const uint32_t rowBytes = (uint32_t(w_) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * uint32_t(h_);
    std::vector<uint8_t> out;
    auto u16 = [&](uint32_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    out.push_back('B');
    out.push_back('M');
    u32(54 + imageBytes);
    u32(0);
    u32(54);
    u32(40);
    u32(uint32_t(w_));
    u32(uint32_t(h_));
    u16(1);
    u16(24);
    u32(0);
    u32(imageBytes);
    u32(3780);  // 96 dpi
    u32(3780);
    u32(0);
    u32(0);
    for (int y = h_ - 1; y >= 0; --y) {
      for (int x = 0; x < w_; ++x) {
        const Rgb& c = px_[size_t(y) * size_t(w_) + size_t(x)];
        auto byte = [](float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 255.0f))); };
        out.push_back(byte(c.b));
        out.push_back(byte(c.g));
        out.push_back(byte(c.r));
      }
      for (uint32_t pad = uint32_t(w_) * 3; pad < rowBytes; ++pad) out.push_back(0);
    }
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    return bool(f);
  }

 private:
  int w_, h_;
  std::vector<Rgb> px_;
};

// Signed distance from a pixel centre to a rounded rectangle (negative inside).
float RoundedDistance(float px, float py, float l, float t, float r, float b, float radius) {
  float cx = (l + r) / 2, cy = (t + b) / 2;
  float hx = (r - l) / 2 - radius, hy = (b - t) / 2 - radius;
  float qx = std::fabs(px - cx) - hx, qy = std::fabs(py - cy) - hy;
  float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
  return outside + std::min(std::max(qx, qy), 0.0f) - radius;
}

// Everything is described in window pixels at 100% and drawn at `scale`.
class Painter {
 public:
  Painter(Canvas& c, int scale) : c_(c), s_(float(scale)) {}

  // Rounded rectangle filled with a vertical gradient from `top` to `bottom`.
  void Fill(const lw::SkinRect& r, float radius, Rgb top, Rgb bottom, float alpha = 1) {
    Shape(r, radius, [&](float, float v) { return Mix(top, bottom, v); }, alpha, 0);
  }
  // A border of `width` window pixels just inside the rounded rectangle.
  void Stroke(const lw::SkinRect& r, float radius, Rgb colour, float width = 1, float alpha = 1) {
    Shape(r, radius, [&](float, float) { return colour; }, alpha, width);
  }
  // A line of `width` window pixels between two points.
  void Line(float x0, float y0, float x1, float y1, float width, Rgb colour) {
    x0 *= s_, y0 *= s_, x1 *= s_, y1 *= s_;
    const float half = width * s_ / 2;
    int l = int(std::floor(std::min(x0, x1) - half - 1)), r = int(std::ceil(std::max(x0, x1) + half + 1));
    int t = int(std::floor(std::min(y0, y1) - half - 1)), b = int(std::ceil(std::max(y0, y1) + half + 1));
    const float dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (int y = t; y <= b; ++y) {
      for (int x = l; x <= r; ++x) {
        float px = float(x) + 0.5f, py = float(y) + 0.5f;
        float u = len2 > 0 ? std::clamp(((px - x0) * dx + (py - y0) * dy) / len2, 0.0f, 1.0f) : 0;
        float d = std::hypot(px - (x0 + u * dx), py - (y0 + u * dy)) - half;
        c_.Blend(x, y, colour, std::clamp(0.5f - d, 0.0f, 1.0f));
      }
    }
  }
  // Rows from `bottom` (window pixels) down are left alone until the clip is reset with 0.
  void ClipBottom(int bottom) { clipBottom_ = bottom; }

  // A filled circle.
  void Disc(float cx, float cy, float radius, Rgb colour) {
    Fill({int(cx - radius), int(cy - radius), int(std::ceil(cx + radius)), int(std::ceil(cy + radius))},
         radius, colour, colour);
  }

 private:
  template <typename ColourAt>
  void Shape(const lw::SkinRect& rect, float radius, ColourAt colourAt, float alpha, float ring) {
    const float l = float(rect.left) * s_, t = float(rect.top) * s_;
    const float r = float(rect.right) * s_, b = float(rect.bottom) * s_;
    const float rad = radius * s_, ringPx = ring * s_;
    int last = int(std::ceil(b));
    if (clipBottom_ > 0) last = std::min(last, int(float(clipBottom_) * s_));
    for (int y = int(t); y < last; ++y) {
      const float v = b - t > 1 ? (float(y) + 0.5f - t) / (b - t) : 0;
      for (int x = int(l); x < int(std::ceil(r)); ++x) {
        float d = RoundedDistance(float(x) + 0.5f, float(y) + 0.5f, l, t, r, b, rad);
        float cover = std::clamp(0.5f - d, 0.0f, 1.0f);
        if (ringPx > 0) cover = std::min(cover, std::clamp(d + ringPx + 0.5f, 0.0f, 1.0f));
        c_.Blend(x, y, colourAt(float(x), v), cover * alpha);
      }
    }
  }

  Canvas& c_;
  float s_;
  int clipBottom_ = 0;
};

struct Palette {
  const char* name;
  Rgb titleTop, titleBottom, titleLine;
  Rgb bodyTop, bodyBottom, border;
  Rgb panel, panelBorder, panelHeader;
  Rgb track, trackBorder;
  Rgb accentTop, accentBottom, accentBorder;
  Rgb disabledTop, disabledBottom, disabledBorder;
  Rgb glyph, glyphDisabled, closeHover;
  lw::SkinTheme theme;
};

Palette SkinPalette(int skin) {
  switch (skin) {
    case 2:  // graphite with an amber accent
      return {"Graphite",
              Hex(0x343942), Hex(0x22262C), Hex(0x505763),
              Hex(0x30353C), Hex(0x262A30), Hex(0x15171A),
              Hex(0x1E2126), Hex(0x474E59), Hex(0x262A31),
              Hex(0x16181C), Hex(0x474E59),
              Hex(0xF5B042), Hex(0xD98612), Hex(0x9C5F0A),
              Hex(0x4A4F57), Hex(0x3E434A), Hex(0x2E3238),
              Hex(0xE8EAED), Hex(0x7A808A), Hex(0xD9443C),
              {0xE8EAED, 0x9AA3AF, 0x1E2126, 0x16181C, 0xF5B042, 0x16181C, 0xE89B2A}};
    case 3:  // light teal
      return {"Lagoon",
              Hex(0x16877D), Hex(0x0E625B), Hex(0x3AA99E),
              Hex(0xF2FAF8), Hex(0xDDEEEA), Hex(0x0B4D47),
              Hex(0xFFFFFF), Hex(0xA9D3CB), Hex(0xEAF6F3),
              Hex(0xDDE9E6), Hex(0xA9C9C2),
              Hex(0x22B3A3), Hex(0x0F8074), Hex(0x0B5E55),
              Hex(0xD6DEDC), Hex(0xC3CDCA), Hex(0xA9B5B2),
              Hex(0xFFFFFF), Hex(0x9FC9C3), Hex(0xD9443C),
              {0x16302C, 0x3F6660, 0xFFFFFF, 0xFFFFFF, 0x0F8074, 0xFFFFFF, 0x18A292}};
    default:  // steel blue
      return {"Steel",
              Hex(0x2A4D7A), Hex(0x1A3354), Hex(0x4A72A6),
              Hex(0xF1F4F8), Hex(0xDCE3EC), Hex(0x10233D),
              Hex(0xFFFFFF), Hex(0xB4C2D4), Hex(0xEEF3F9),
              Hex(0xE1E7EF), Hex(0xA9B7C9),
              Hex(0x4A8FE7), Hex(0x1F5FBF), Hex(0x184A94),
              Hex(0xD5DAE1), Hex(0xC2C8D1), Hex(0xA7AFBA),
              Hex(0xFFFFFF), Hex(0x8FA6C4), Hex(0xD9443C),
              {0x1E2A38, 0x4A5A6E, 0xFFFFFF, 0xFFFFFF, 0x1F5FBF, 0xFFFFFF, 0x2F7FD8}};
  }
}

enum class State { Normal, Over, Press, Disabled, Hide };

Rgb Lighter(Rgb c, float t) { return Mix(c, Hex(0xFFFFFF), t); }
Rgb Darker(Rgb c, float t) { return Mix(c, Hex(0x000000), t); }

void DrawBackground(Painter& p, const Palette& k) {
  const lw::SkinLayout& L = lw::DefaultSkinLayout();
  const lw::SkinRect all{0, 0, L.width, L.height};
  const float R = float(L.cornerRadius);
  p.Fill(all, R, k.bodyTop, k.bodyBottom);
  // Title band: the window's own rounded top, cut straight at its bottom edge.
  p.ClipBottom(L.titleBar.bottom);
  p.Fill({0, 0, L.width, L.titleBar.bottom + int(R)}, R, k.titleTop,
         Mix(k.titleTop, k.titleBottom, float(L.titleBar.bottom + R) / float(L.titleBar.bottom)));
  p.ClipBottom(0);
  p.Line(1, float(L.titleBar.bottom) - 0.5f, float(L.width) - 1, float(L.titleBar.bottom) - 0.5f, 1, k.titleLine);
  p.Stroke(all, R, k.border, 1);

  // Logo: a signal mark in a rounded tile.
  p.Fill({16, 11, 42, 37}, 6, k.accentTop, k.accentBottom);
  p.Stroke({16, 11, 42, 37}, 6, Lighter(k.accentTop, 0.35f), 1, 0.8f);
  p.Line(29, 21, 29, 32, 2.2f, Hex(0xFFFFFF));
  p.Disc(29, 19.5f, 2.6f, Hex(0xFFFFFF));
  p.Line(23.5f, 15, 21.5f, 20, 1.6f, Hex(0xFFFFFF));
  p.Line(21.5f, 20, 23.5f, 25, 1.6f, Hex(0xFFFFFF));
  p.Line(34.5f, 15, 36.5f, 20, 1.6f, Hex(0xFFFFFF));
  p.Line(36.5f, 20, 34.5f, 25, 1.6f, Hex(0xFFFFFF));

  // Status panel with the rules between its rows and the radio picture well.
  p.Fill(L.statusPanel, 7, k.panel, k.panel);
  p.Stroke(L.statusPanel, 7, k.panelBorder, 1);
  p.Fill(L.radioPicture, 6, k.panelHeader, Mix(k.panelHeader, k.panelBorder, 0.35f));
  p.Stroke(L.radioPicture, 6, k.panelBorder, 1);
  for (int row = 1; row < 5; ++row) {
    float y = float(L.statusPanel.top) + 14 + float(row) * 31 - 0.5f;
    p.Line(28, y, float(L.radioPicture.left) - 14, y, 1, Mix(k.panel, k.panelBorder, 0.55f));
  }

  // Indicator well beside the buttons, progress track, log list and footer rule.
  p.Fill(L.indicators, 6, Darker(k.track, 0.04f), k.track);
  p.Stroke(L.indicators, 6, k.trackBorder, 1);
  p.Fill(L.progressBar, 5, Darker(k.track, 0.06f), k.track);
  p.Stroke(L.progressBar, 5, k.trackBorder, 1);
  p.Fill(L.logList, 7, k.panel, k.panel);
  p.Stroke(L.logList, 7, k.panelBorder, 1);
  p.Line(16, float(L.footer.top) - 2.5f, float(L.width) - 16, float(L.footer.top) - 2.5f, 1,
         Mix(k.bodyBottom, k.panelBorder, 0.7f));
}

void DrawTitleButton(Painter& p, const Palette& k, const lw::SkinButton& b, State st, bool close) {
  if (st == State::Hide) return;
  const lw::SkinRect& r = b.rect;
  if (st == State::Over || st == State::Press) {
    Rgb face = close ? k.closeHover : Lighter(k.titleTop, 0.22f);
    if (st == State::Press) face = Darker(face, 0.25f);
    p.Fill(r, 4, face, face);
  }
  Rgb g = st == State::Disabled ? k.glyphDisabled : k.glyph;
  const float cx = float(r.left + r.right) / 2, cy = float(r.top + r.bottom) / 2;
  if (close) {
    p.Line(cx - 4.5f, cy - 4.5f, cx + 4.5f, cy + 4.5f, 1.6f, g);
    p.Line(cx - 4.5f, cy + 4.5f, cx + 4.5f, cy - 4.5f, 1.6f, g);
  } else {
    p.Line(cx - 5, cy + 3.5f, cx + 5, cy + 3.5f, 1.6f, g);
  }
}

void DrawActionButton(Painter& p, const Palette& k, const lw::SkinButton& b, State st) {
  if (st == State::Hide) return;
  const lw::SkinRect& r = b.rect;
  Rgb top = k.accentTop, bottom = k.accentBottom, border = k.accentBorder;
  switch (st) {
    case State::Over: top = Lighter(top, 0.18f); bottom = Lighter(bottom, 0.14f); break;
    case State::Press: std::swap(top, bottom); top = Darker(top, 0.12f); bottom = Darker(bottom, 0.05f); break;
    case State::Disabled: top = k.disabledTop; bottom = k.disabledBottom; border = k.disabledBorder; break;
    default: break;
  }
  // Raised faces sit two pixels above a soft shadow; everything stays inside the button's
  // rectangle, because that is all the window cuts from a picture.
  const bool raised = st != State::Press && st != State::Disabled;
  const lw::SkinRect face = raised ? lw::SkinRect{r.left, r.top, r.right, r.bottom - 2} : r;
  if (raised) p.Fill({r.left + 1, r.top + 2, r.right - 1, r.bottom}, 6, Hex(0x000000), Hex(0x000000), 0.14f);
  p.Fill(face, 6, top, bottom);
  if (raised) {
    p.Fill({face.left + 1, face.top + 1, face.right - 1, face.top + face.Height() / 2}, 5, Hex(0xFFFFFF),
           Hex(0xFFFFFF), 0.12f);
  }
  p.Stroke(face, 6, border, 1);
}

Canvas Picture(const Palette& k, int scale, State st) {
  const lw::SkinLayout& L = lw::DefaultSkinLayout();
  Canvas c(L.width * scale, L.height * scale, Hex(0xFFFFFF));
  Painter p(c, scale);
  DrawBackground(p, k);
  std::vector<lw::SkinButton> buttons = lw::DefaultSkinButtons();
  DrawTitleButton(p, k, buttons[0], st, false);
  DrawTitleButton(p, k, buttons[1], st, true);
  DrawActionButton(p, k, buttons[lw::kMainButton], st);
  DrawActionButton(p, k, buttons[lw::kSecondButton], st);
  return c;
}

Canvas Mask() {
  const lw::SkinLayout& L = lw::DefaultSkinLayout();
  Canvas c(L.width, L.height, Hex(0xFFFFFF));
  for (int y = 0; y < L.height; ++y) {
    for (int x = 0; x < L.width; ++x) {
      float d = RoundedDistance(float(x) + 0.5f, float(y) + 0.5f, 0, 0, float(L.width), float(L.height),
                                float(L.cornerRadius));
      if (d < 0) c.at(x, y) = Hex(0x000000);
    }
  }
  return c;
}

std::string Colour(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06X", v & 0xFFFFFF);
  return buf;
}

bool WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return bool(f);
}

std::string SkinIni(const Palette* k) {
  std::string s =
      "// Pictures of the main window, loaded from the skin's folder. \"Normal.bmp\" is shipped\n"
      "// as Normal_KIT.bmp. Every picture has the size of the window; white pixels of the mask\n"
      "// lie outside it.\n"
      "[Dialog]\n"
      "Normal=Normal.bmp\n"
      "Mask=Mask.bmp\n"
      "Over=Over.bmp\n"
      "Press=Press.bmp\n"
      "Disabled=Disabled.bmp\n"
      "Hide=Hide.bmp\n";
  if (k) {
    const lw::SkinTheme& t = k->theme;
    s += std::string("\n// Colours of the controls laid over the pictures (") + k->name + ").\n[Theme]\n";
    s += "Text=" + Colour(t.text) + "\nLabel=" + Colour(t.label) + "\nPanel=" + Colour(t.panel) +
         "\nField=" + Colour(t.field) + "\nAccent=" + Colour(t.accent) + "\nLog=" + Colour(t.log) +
         "\nProgress=" + Colour(t.progress) + "\n";
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fprintf(argc == 2 ? stdout : stderr,
                 "usage: skingen OUTDIR\n"
                 "Draws the three shipped skins of the Loftwise window into OUTDIR/Skin1..Skin3\n"
                 "(skin.ini and 24-bit BMP pictures at 100%% and 200%%) and writes OUTDIR/skin.ini.\n");
    return argc == 2 ? 0 : 2;
  }
  namespace fs = std::filesystem;
  const fs::path out = argv[1];
  std::error_code ec;
  fs::create_directories(out, ec);
  if (!WriteText(out / "skin.ini", SkinIni(nullptr))) {
    std::fprintf(stderr, "skingen: cannot write %s\n", (out / "skin.ini").c_str());
    return 2;
  }
  const Canvas mask = Mask();
  const struct {
    const char* file;
    State state;
  } pictures[] = {{"Normal_KIT", State::Normal}, {"Over", State::Over},      {"Press", State::Press},
                  {"Disabled", State::Disabled}, {"Hide", State::Hide}};
  for (int skin = 1; skin <= lw::kSkinCount; ++skin) {
    const Palette k = SkinPalette(skin);
    const fs::path dir = out / ("Skin" + std::to_string(skin));
    fs::create_directories(dir, ec);
    bool ok = WriteText(dir / "skin.ini", SkinIni(&k)) && mask.WriteBmp(dir / "Mask.bmp");
    for (const auto& pic : pictures) {
      for (int scale : {1, 2}) {
        std::string name = std::string(pic.file) + (scale == 2 ? "@2x" : "") + ".bmp";
        ok = ok && Picture(k, scale, pic.state).WriteBmp(dir / name);
      }
    }
    if (!ok) {
      std::fprintf(stderr, "skingen: cannot write the pictures of %s\n", dir.c_str());
      return 2;
    }
  }
  return 0;
}
