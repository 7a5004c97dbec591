// Bitmaps to and from QImage, through the same row conversion as blits.
#include "platform/gdi/qtgdi.h"

#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

QImage ImageFromBitmap(HBITMAP bitmap) {
    auto* b = Find<HBITMAP__>(bitmap, OBJ_BITMAP);
    if (!b) return {};
    if (b->kind == HBITMAP__::Device) return b->image.copy();
    QImage out(b->width, b->height, QImage::Format_RGB32);
    if (out.isNull()) return {};
    const Surface s = b->View();
    for (int y = 0; y < b->height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(out.scanLine(y));
        s.ReadRgb(0, y, b->width, row);
        for (int x = 0; x < b->width; ++x)
            row[x] |= 0xFF000000u;
    }
    return out;
}

HBITMAP BitmapFromImage(const QImage& image) {
    if (image.isNull()) return nullptr;
    HBITMAP__* b = NewDeviceBitmap(image.width(), image.height());
    if (!b) return nullptr;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(rgb.constScanLine(y));
        auto* out = reinterpret_cast<std::uint32_t*>(b->image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            out[x] = in[x] | 0xFF000000u;
    }
    return b;
}

QColor ToQColor(TColor color) {
    const COLORREF c = ColorToRGB(color);
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

} // namespace lum::platform::gdi
