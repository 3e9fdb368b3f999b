#include "gui/radio_picture.h"

#include <QPainter>
#include <QPainterPath>

namespace lw::gui {

RadioPicture::RadioPicture(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
}

void RadioPicture::SetRadioType(int type) {
  type_ = (type >= 0 && type <= 4) ? type : -1;
  update();
}

void RadioPicture::SetColours(QColor body, QColor accent) {
  body_ = body;
  accent_ = accent;
  update();
}

void RadioPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF area = QRectF(rect()).adjusted(10, 10, -10, -10);
  QColor body = body_;
  QColor accent = accent_;
  if (type_ < 0) {
    body.setAlphaF(0.18f);
    accent.setAlphaF(0.18f);
  }
  const QColor screen = type_ < 0 ? QColor(0, 0, 0, 20) : QColor(0xB8, 0xE0, 0xF0);
  const bool trunking = type_ == 3 || type_ == 4;
  p.setPen(Qt::NoPen);

  if (type_ == 1 || type_ == 4 || type_ == 2) {
    // Mobile and repeater: a wide body; the repeater is a rack unit with two stacked halves.
    const bool repeater = type_ == 2;
    const qreal h = repeater ? area.height() * 0.55 : area.height() * 0.32;
    QRectF box(area.left(), area.center().y() - h / 2, area.width(), h);
    p.setBrush(accent);
    p.drawRect(QRectF(box.right() - 22, box.top() - 22, 3, 22));  // antenna
    p.setBrush(body);
    p.drawRoundedRect(box, 6, 6);
    p.setBrush(screen);
    p.drawRoundedRect(QRectF(box.left() + 10, box.top() + 8, box.width() * 0.45, repeater ? h / 2 - 12 : h - 16), 3, 3);
    p.setBrush(accent);
    for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(box.right() - 14 - i * 14, box.top() + 16), 4, 4);
    if (repeater) {
      p.setBrush(QColor(255, 255, 255, 60));
      p.drawRect(QRectF(box.left() + 6, box.center().y(), box.width() - 12, 1.5));
      p.setBrush(QColor(0x6D, 0xD1, 0x7A));
      p.drawEllipse(QPointF(box.left() + 16, box.bottom() - 14), 4, 4);
    }
  } else {
    // Portable (and the outline): a tall handset with antenna, screen and keypad.
    const qreal w = area.width() * 0.42;
    QRectF box(area.center().x() - w / 2, area.top() + area.height() * 0.22, w, area.height() * 0.78);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(box.left() + w * 0.16, area.top(), w * 0.16, box.top() - area.top() + 6), 4, 4);
    p.drawRoundedRect(QRectF(box.right() - w * 0.32, box.top() - 9, w * 0.2, 12), 3, 3);
    p.drawRoundedRect(box, 10, 10);
    p.setBrush(screen);
    p.drawRoundedRect(QRectF(box.left() + 8, box.top() + 12, box.width() - 16, box.height() * 0.3), 3, 3);
    p.setBrush(accent);
    const qreal keyTop = box.top() + 20 + box.height() * 0.3;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        p.drawRoundedRect(QRectF(box.left() + 10 + c * (box.width() - 20) / 3, keyTop + r * 12,
                                 (box.width() - 20) / 3 - 4, 8), 2, 2);
      }
    }
  }
  if (trunking) {
    p.setPen(QPen(accent, 2));
    p.setBrush(Qt::NoBrush);
    const QPointF c(area.right() - 8, area.top() + 8);
    p.drawArc(QRectF(c.x() - 8, c.y() - 8, 16, 16), 0, 90 * 16);
    p.drawArc(QRectF(c.x() - 14, c.y() - 14, 28, 28), 0, 90 * 16);
  }
}

}  // namespace lw::gui
