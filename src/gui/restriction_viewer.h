// The "For Radio" viewer: which radio models the current package (or set.ini's rules, before a
// package is chosen) admits. It draws the rows of BuildRestrictionView and changes nothing.
#pragma once

#include <QColor>
#include <QDialog>
#include <QIcon>

#include "package/restriction_view.h"

class QLabel;
class QTableWidget;

namespace lw::gui {

// The small pictures of the viewer's rows (kImageKxFamily .. kImageMarker); a null icon for
// any other number.
QIcon ViewerImage(int image);

// The colour of the marker rows that separate model families.
QColor SeparatorColour();

class RestrictionViewer : public QDialog {
  Q_OBJECT

 public:
  RestrictionViewer(const RestrictionView& view, QWidget* parent = nullptr);

  QTableWidget* Table() const { return table_; }
  QLabel* CountLabel() const { return count_; }

 private:
  QTableWidget* table_ = nullptr;
  QLabel* count_ = nullptr;
};

}  // namespace lw::gui
