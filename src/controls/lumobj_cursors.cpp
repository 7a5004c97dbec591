#include "controls/lumobj_cursors.h"

#include <QImage>
#include <QPixmap>
#include <map>

#include "core/lumobj.h"

namespace lum {

namespace {
std::map<int, QCursor>& Table() {
    static std::map<int, QCursor> table;
    return table;
}

// The toolkit's own shapes behind the standard numbers.
bool StandardShape(int index, Qt::CursorShape& shape) {
    switch (index) {
    case crDefault:
    case crArrow:
        shape = Qt::ArrowCursor;
        return true;
    case crNone:
        shape = Qt::BlankCursor;
        return true;
    case crCross:
        shape = Qt::CrossCursor;
        return true;
    case crIBeam:
        shape = Qt::IBeamCursor;
        return true;
    case crSizeNESW:
        shape = Qt::SizeBDiagCursor;
        return true;
    case crSizeNS:
        shape = Qt::SizeVerCursor;
        return true;
    case crSizeNWSE:
        shape = Qt::SizeFDiagCursor;
        return true;
    case crSizeWE:
        shape = Qt::SizeHorCursor;
        return true;
    case crUpArrow:
        shape = Qt::UpArrowCursor;
        return true;
    case crHourGlass:
    case crSQLWait:
        shape = Qt::WaitCursor;
        return true;
    case crDrag:
    case crMultiDrag:
        shape = Qt::DragCopyCursor;
        return true;
    case crNoDrop:
    case crNo:
        shape = Qt::ForbiddenCursor;
        return true;
    case crHSplit:
        shape = Qt::SplitHCursor;
        return true;
    case crVSplit:
        shape = Qt::SplitVCursor;
        return true;
    case crAppStart:
        shape = Qt::BusyCursor;
        return true;
    case crHelp:
        shape = Qt::WhatsThisCursor;
        return true;
    case crHandPoint:
        shape = Qt::PointingHandCursor;
        return true;
    case crSizeAll:
        shape = Qt::SizeAllCursor;
        return true;
    default:
        return false;
    }
}

QImage ToImage(const TLumImageData& data) {
    QImage image(data.Width, data.Height, QImage::Format_ARGB32);
    for (int y = 0; y < data.Height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < data.Width; ++x)
            row[x] = data.Pixel(x, y);
    }
    return image;
}
} // namespace

int RegisterLumCursors() {
    int count = 0;
    for (std::uint16_t ident = 1; ident <= 31; ++ident) {
        const TLumResImage* res = LoadResCursor(ident);
        if (res == nullptr || res->Images.empty()) continue;
        const TLumImageData& image = res->Best(32);
        if (image.Width <= 0 || image.Height <= 0) continue;
        SetScreenCursor(2000 + ident, QCursor(QPixmap::fromImage(ToImage(image)), image.HotspotX,
                                              image.HotspotY));
        ++count;
    }
    return count;
}

QCursor GetScreenCursor(int index) {
    auto it = Table().find(index);
    if (it != Table().end()) return it->second;
    Qt::CursorShape shape = Qt::ArrowCursor;
    StandardShape(index, shape);
    return QCursor(shape);
}

bool HasScreenCursor(int index) {
    Qt::CursorShape shape;
    return Table().count(index) != 0 || StandardShape(index, shape);
}

void SetScreenCursor(int index, const QCursor& cursor) {
    Table()[index] = cursor;
}

} // namespace lum
