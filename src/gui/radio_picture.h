// The picture of the radio type in the status area: a portable, a mobile or a repeater drawn
// in the skin's colours, or a faint outline while no radio is known.
#pragma once

#include <QColor>
#include <QWidget>

namespace lw::gui {

class RadioPicture : public QWidget {
  Q_OBJECT
 public:
  // Radio types as the radio identity names them: 0 Portable, 1 Mobile, 2 Repeater,
  // 3 Portable_trunking, 4 Mobile_trunking; -1 none.
  explicit RadioPicture(QWidget* parent = nullptr);
  void SetRadioType(int type);
  int RadioType() const { return type_; }
  void SetColours(QColor body, QColor accent);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int type_ = -1;
  QColor body_{0x33, 0x3A, 0x45};
  QColor accent_{0x2F, 0x6F, 0xD0};
};

}  // namespace lw::gui
