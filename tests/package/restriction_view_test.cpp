#include <gtest/gtest.h>

#include "package/restriction_view.h"
#include "ui/translate.h"

namespace lw {
namespace {

TEST(RestrictionView, EmptyListShowsNoRowsAndNoCount) {
  PackageRestrictions r;
  RestrictionView view = BuildRestrictionView(r, false);
  EXPECT_EQ(view.title, "For Radio");
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.countText, "");
  ASSERT_EQ(view.columns.size(), 3u);
  EXPECT_EQ(view.columns[0].width, 128);
  EXPECT_EQ(view.columns[1].width, 218);
  EXPECT_EQ(view.columns[2].width, 183);
  EXPECT_EQ(view.columns[2].title, "Firmware Version");
}

TEST(RestrictionView, RowsImagesMarkersAndTranslatedCount) {
  SetTranslationTable({{"Number: %d", "数量：%d"}, {"All Version", "所有版本"}, {"Model", "型号"}});
  PackageRestrictions r;
  r.modelList = {{"KX412", "KX412-000", "All Version"},
                 {kChangeRowKey, "", ""},
                 {"KV620", "KV620-000", "A5.00.09.000"},
                 {"KQ600", "KQ600-000", "A5.00.09.000"},
                 {"ZZ100", "ZZ100-000", "A5.00.09.000"},
                 {"KWKV1", "KWKV1-000", "V"}};
  RestrictionView view = BuildRestrictionView(r, false);
  ASSERT_EQ(view.rows.size(), 6u);
  EXPECT_EQ(view.columns[0].title, "型号");
  EXPECT_EQ(view.rows[0].image, kImageKxFamily);
  EXPECT_EQ(view.rows[0].cells, (std::vector<std::string>{"KX412", "KX412-000", "所有版本"}));
  EXPECT_TRUE(view.rows[1].marker);
  EXPECT_EQ(view.rows[1].image, kImageMarker);
  EXPECT_TRUE(view.rows[1].cells.empty());
  EXPECT_EQ(view.rows[2].image, kImageKvFamily);
  EXPECT_EQ(view.rows[3].image, kImageKqFamily);
  EXPECT_EQ(view.rows[4].image, -1);
  EXPECT_EQ(view.rows[5].image, kImageKvFamily);  // the later test wins
  EXPECT_EQ(view.countText, "数量：5");

  RestrictionView twoColumns = BuildRestrictionView(r, true);
  ASSERT_EQ(twoColumns.columns.size(), 2u);
  EXPECT_EQ(twoColumns.columns[1].width, 382);
  EXPECT_EQ(twoColumns.rows[0].cells, (std::vector<std::string>{"KX412", "KX412-000"}));
  SetTranslationTable({});
}

TEST(RestrictionView, TwoFamiliesFromAPackageGiveThreeRows) {
  PackageRestrictions r;
  r.modelList = {{"KX412", "KX412-0", "V1"}, {kChangeRowKey, "", ""}, {"KV620", "KV620-0", "V1"}};
  RestrictionView view = BuildRestrictionView(r, false);
  EXPECT_EQ(view.rows.size(), 3u);
  EXPECT_EQ(view.countText, "Number: 2");
}

}  // namespace
}  // namespace lw
