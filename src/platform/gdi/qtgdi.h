// Where the drawing service meets Qt: contexts over a QImage (a widget's
// back buffer), bitmaps to and from QImage, and colours as QColor. Controls
// paint with a TImageCanvas in their paint event and show the image, so
// the same painting code runs in tests and on screen.
#pragma once

#include <QColor>
#include <QImage>

#include "platform/gdi/canvas.h"

namespace lum::platform::gdi {

// A context drawing into Image (RGB32, ARGB32 or ARGB32 premultiplied;
// drawn pixels become opaque). Image must outlive the context. Null for
// other formats.
HDC CreateImageDC(QImage* image);

// A copy of a bitmap's pixels as an RGB32 image; null for a bad handle.
QImage ImageFromBitmap(HBITMAP bitmap);
// A display bitmap holding Image's pixels (alpha is dropped).
HBITMAP BitmapFromImage(const QImage& image);

QColor ToQColor(TColor color);

// A canvas that owns a context over an image.
class TImageCanvas : public TCanvas {
public:
    explicit TImageCanvas(QImage& image) : TCanvas(CreateImageDC(&image), true) {}
};

} // namespace lum::platform::gdi
