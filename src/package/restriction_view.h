// The rows of the "For Radio" viewer: which radio models the current package (or, before one is
// loaded, the set.ini rules) admits. Toolkit-free: the window draws what this model says.
#pragma once

#include <string>
#include <vector>

#include "package/package_restrictions.h"

namespace lw {

// Images of the viewer's small image list.
inline constexpr int kImageKxFamily = 8;   // KX, KW, KZ, KY
inline constexpr int kImageKvFamily = 9;   // KV
inline constexpr int kImageKqFamily = 10;  // KQ
inline constexpr int kImageMarker = 11;    // a row marker

struct ViewColumn {
  std::string title;  // translated
  int width = 0;
};

struct ViewRow {
  bool marker = false;      // drawn empty, in the separator colour
  int image = -1;           // -1: no image (a family the viewer has no picture for)
  std::vector<std::string> cells;  // empty for a marker
};

struct RestrictionView {
  std::string title;              // translated "For Radio"
  std::vector<ViewColumn> columns;
  std::vector<ViewRow> rows;
  std::string countText;          // translated "Number: %d" with the count, or "" for none
};

// `allPreVersionUpgrade`: the setting of that name; with it the viewer has no version column.
RestrictionView BuildRestrictionView(const PackageRestrictions& restrictions, bool allPreVersionUpgrade);

}  // namespace lw
