// Helpers of the window tests.
#pragma once

#include <QPoint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gui/main_window.h"

namespace lw::gui::test {

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The centre of the skin's button `index`, where a click lands.
inline QPoint Centre(MainWindow& w, size_t index) {
  const lw::SkinRect& r = w.Skin().Buttons()[index].rect;
  return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

}  // namespace lw::gui::test
