#include "gui/restriction_viewer.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/translate.h"

namespace lw::gui {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Drawn at twice the size, so that the pictures stay sharp at 200 % scaling.
constexpr int kIconSize = 16;
constexpr qreal kIconScale = 2.0;

QPixmap Canvas() {
  QPixmap pixmap(int(kIconSize * kIconScale), int(kIconSize * kIconScale));
  pixmap.setDevicePixelRatio(kIconScale);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

}  // namespace

QColor SeparatorColour() { return QColor(0xD9, 0xE2, 0xEE); }

QIcon ViewerImage(int image) {
  const QColor body(0x33, 0x3A, 0x45), screen(0xB8, 0xE0, 0xF0), accent(0x2F, 0x6F, 0xD0);
  QPixmap pixmap = Canvas();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  switch (image) {
    case kImageKxFamily:  // a handset
      p.setBrush(body);
      p.drawRoundedRect(QRectF(5, 0.5, 1.8, 5), 0.8, 0.8);
      p.drawRoundedRect(QRectF(4, 4, 8, 11.5), 2, 2);
      p.setBrush(screen);
      p.drawRect(QRectF(5.5, 5.5, 5, 3));
      p.setBrush(accent);
      for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) p.drawRect(QRectF(5.6 + c * 2.8, 10 + r * 2.3, 2, 1.5));
      break;
    case kImageKvFamily:  // a vehicle set: wide and flat
      p.setBrush(body);
      p.drawRect(QRectF(12, 1, 1.4, 5));
      p.drawRoundedRect(QRectF(1, 5.5, 14, 7), 1.5, 1.5);
      p.setBrush(screen);
      p.drawRect(QRectF(2.5, 7, 6, 4));
      p.setBrush(accent);
      p.drawEllipse(QPointF(11, 9), 1.3, 1.3);
      p.drawEllipse(QPointF(13.5, 9), 1, 1);
      break;
    case kImageKqFamily:  // a repeater: two stacked rack units
      p.setBrush(body);
      p.drawRect(QRectF(12.5, 0.5, 1.4, 3.5));
      p.drawRoundedRect(QRectF(1, 3.5, 14, 5.5), 1, 1);
      p.drawRoundedRect(QRectF(1, 9.5, 14, 5.5), 1, 1);
      p.setBrush(QColor(0x6D, 0xD1, 0x7A));
      p.drawEllipse(QPointF(3.5, 6.2), 1, 1);
      p.drawEllipse(QPointF(3.5, 12.2), 1, 1);
      p.setBrush(screen);
      p.drawRect(QRectF(6, 5, 7, 2.5));
      p.drawRect(QRectF(6, 11, 7, 2.5));
      break;
    case kImageMarker:  // a dash: the row only separates families
      p.setBrush(SeparatorColour().darker(140));
      p.drawRoundedRect(QRectF(2, 7, 12, 2), 1, 1);
      break;
    default:
      return QIcon();
  }
  p.end();
  return QIcon(pixmap);
}

RestrictionViewer::RestrictionViewer(const RestrictionView& view, QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(view.title));
  // A dialog does not take the window's font by itself; the window's font follows the
  // interface language (a CJK face for Chinese).
  if (parent) setFont(parent->font());
  // The window's style sheet colours labels for the skin (light text on the dark skin); a
  // dialog has the platform's light face whatever the skin.
  setStyleSheet("QLabel { color: #1E2A38; }");
  auto* layout = new QVBoxLayout(this);

  table_ = new QTableWidget(this);
  table_->setColumnCount(int(view.columns.size()));
  QStringList titles;
  int width = 0;
  for (const ViewColumn& c : view.columns) {
    titles << Q(c.title);
    width += c.width;
  }
  table_->setHorizontalHeaderLabels(titles);
  for (size_t i = 0; i < view.columns.size(); ++i) table_->setColumnWidth(int(i), view.columns[i].width);
  table_->verticalHeader()->hide();
  table_->setShowGrid(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setIconSize(QSize(kIconSize, kIconSize));
  table_->setWordWrap(false);
  table_->setFocusPolicy(Qt::NoFocus);  // nothing to edit or choose here
  table_->setMinimumSize(width + 4, 260);

  table_->setRowCount(int(view.rows.size()));
  for (size_t r = 0; r < view.rows.size(); ++r) {
    const ViewRow& row = view.rows[r];
    for (size_t c = 0; c < view.columns.size(); ++c) {
      auto* item = new QTableWidgetItem(c < row.cells.size() ? Q(row.cells[c]) : QString());
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      if (c < row.cells.size()) item->setToolTip(item->text());
      if (row.marker) item->setBackground(SeparatorColour());
      if (c == 0) item->setIcon(ViewerImage(row.image));
      table_->setItem(int(r), int(c), item);
    }
  }
  layout->addWidget(table_);

  auto* footer = new QHBoxLayout;
  count_ = new QLabel(Q(view.countText), this);
  footer->addWidget(count_);
  footer->addStretch();
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(Q(Translate("OK")), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  footer->addWidget(buttons);
  layout->addLayout(footer);
}

}  // namespace lw::gui
