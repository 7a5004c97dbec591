// Helpers of the control tests: a widget's painted pixels as colour values
// 0x00BBGGRR, comparable with the drawing service's colours.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "platform/base/colors.h"
#include "platform/gdi/canvas.h"

namespace lum::test {

// What the widget and its children paint now.
inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline std::uint32_t Px(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return static_cast<std::uint32_t>(qRed(p) | (qGreen(p) << 8) | (qBlue(p) << 16));
}

inline std::uint32_t Rgb(TColor c) {
    return platform::gdi::ColorToRGB(c);
}

} // namespace lum::test
