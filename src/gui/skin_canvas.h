// The skin pictures as Qt images: loading (staged, so that a skin that fails leaves the shown
// one alone), the double-size copies for scaled screens, and the window shape from the Mask.
#pragma once

#include <QImage>
#include <QRegion>

#include <array>
#include <functional>

#include "ui/skin_model.h"

namespace lw::gui {

// The window region of a mask picture (logical pixels of the picture).
QRegion MaskRegion(const QImage& mask);

class QtSkinCanvas : public SkinCanvas {
 public:
  // `onShow` runs after new pictures are in place (resize, shape, repaint).
  explicit QtSkinCanvas(std::function<void()> onShow) : onShow_(std::move(onShow)) {}

  // Scale of the screen; pictures with an "@2x" copy use it at 1.5 and above.
  void SetDevicePixelRatio(qreal ratio) { ratio_ = ratio; }

  bool Stage(const std::array<std::string, kSkinPictureCount>& paths,
             std::array<Size, kSkinPictureCount>& sizes) override;
  void Show(const SkinDescription& description) override;

  bool HasPictures() const { return !shown_[0].isNull(); }
  const QImage& Picture(SkinPicture picture) const { return shown_[size_t(picture)]; }
  // Logical size of the window (the Mask's size).
  QSize WindowSize() const { return Picture(SkinPicture::Mask).size(); }
  const QRegion& Region() const { return region_; }
  const SkinTheme& Theme() const { return theme_; }

 private:
  std::function<void()> onShow_;
  qreal ratio_ = 1;
  std::array<QImage, kSkinPictureCount> staged_, shown_;
  QRegion region_;
  SkinTheme theme_;
};

}  // namespace lw::gui
