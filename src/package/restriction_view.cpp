#include "package/restriction_view.h"

#include "common/text.h"
#include "ui/translate.h"

namespace lw {
namespace {
// The translated pattern comes from a language file, so it never reaches printf: only its
// first "%d" is replaced.
std::string FillCount(std::string pattern, int count) {
  size_t at = pattern.find("%d");
  if (at != std::string::npos) pattern.replace(at, 2, std::to_string(count));
  return pattern;
}
}  // namespace

RestrictionView BuildRestrictionView(const PackageRestrictions& r, bool allPreVersionUpgrade) {
  RestrictionView view;
  view.title = Translate("For Radio");
  view.columns.push_back({Translate("Model"), 128});
  if (allPreVersionUpgrade) {
    view.columns.push_back({Translate("Model Number"), 382});
  } else {
    view.columns.push_back({Translate("Model Number"), 218});
    view.columns.push_back({Translate("Firmware Version"), 183});
  }
  int count = 0;
  for (const ModelEntry& entry : r.modelList) {
    ViewRow row;
    if (entry.IsMarker()) {
      row.marker = true;
      row.image = kImageMarker;
      view.rows.push_back(row);
      continue;
    }
    const std::string& key = entry.familyKey;
    if (Contains(key, "KX") || Contains(key, "KW") || Contains(key, "KZ") || Contains(key, "KY"))
      row.image = kImageKxFamily;
    if (Contains(key, "KV")) row.image = kImageKvFamily;
    if (Contains(key, "KQ")) row.image = kImageKqFamily;
    row.cells = {key, entry.modelNumber};
    if (!allPreVersionUpgrade)
      row.cells.push_back(entry.version == kAllVersion ? Translate(kAllVersion) : entry.version);
    view.rows.push_back(row);
    ++count;
  }
  if (count > 0) view.countText = FillCount(Translate("Number: %d"), count);
  return view;
}

}  // namespace lw
