#include "gui/skin_canvas.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace lw::gui {
namespace {

// Pictures are read whole into memory first and decoded from there, whatever their format.
QImage LoadPicture(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QImage::fromData(f.readAll());
}

QString DoubleSizePath(const QString& path) {
  QFileInfo info(path);
  return info.path() + "/" + info.completeBaseName() + "@2x." + info.suffix();
}

}  // namespace

QRegion MaskRegion(const QImage& mask) {
  const QImage rgb = mask.convertToFormat(QImage::Format_RGB32);
  std::vector<MaskRun> runs = MaskRegionRuns(rgb.width(), rgb.height(), [&](int x, int y) {
    return uint32_t(reinterpret_cast<const QRgb*>(rgb.constScanLine(y))[x]) & 0xFFFFFFu;
  });
  // A region takes its rectangles sorted top to bottom and left to right.
  std::stable_sort(runs.begin(), runs.end(), [](const MaskRun& a, const MaskRun& b) { return a.top < b.top; });
  QList<QRect> rects;
  rects.reserve(qsizetype(runs.size()));
  for (const MaskRun& r : runs) rects.append(QRect(r.left, r.top, r.width, 1));
  QRegion region;
  region.setRects(rects.constData(), int(rects.size()));
  return region;
}

bool QtSkinCanvas::Stage(const std::array<std::string, kSkinPictureCount>& paths,
                         std::array<Size, kSkinPictureCount>& sizes) {
  std::array<QImage, kSkinPictureCount> loaded;
  for (size_t i = 0; i < paths.size(); ++i) {
    const QString path = QString::fromStdString(paths[i]);
    QImage image = LoadPicture(path);
    if (image.isNull()) return false;
    // The mask stays at its own size: it defines the window in logical pixels.
    if (ratio_ >= 1.5 && i != size_t(SkinPicture::Mask)) {
      QImage big = LoadPicture(DoubleSizePath(path));
      if (!big.isNull() && big.size() == image.size() * 2) {
        big.setDevicePixelRatio(2);
        image = big;
      }
    }
    const QSize logical = image.deviceIndependentSize().toSize();
    sizes[i] = {logical.width(), logical.height()};
    loaded[i] = image;
  }
  staged_ = std::move(loaded);
  return true;
}

void QtSkinCanvas::Show(const SkinDescription& description) {
  shown_ = staged_;
  staged_ = {};
  theme_ = description.theme;
  region_ = MaskRegion(shown_[size_t(SkinPicture::Mask)]);
  if (onShow_) onShow_();
}

}  // namespace lw::gui
