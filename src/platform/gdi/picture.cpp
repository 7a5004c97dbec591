#include "platform/gdi/picture.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"

namespace lum::platform::gdi {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string ExtensionOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Lower(path.substr(dot + 1));
}

// Reads one image of Path through Qt; Pick chooses among several.
QImage ReadWithQt(const std::string& path, const char* format, bool nearest32) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) throw EStreamError("Cannot open file \"" + path + "\"");
    QImageReader reader(&file, format);
    QImage best;
    const int count = nearest32 ? std::max(reader.imageCount(), 1) : 1;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i)) break;
        QImage image = reader.read();
        if (image.isNull()) continue;
        // The one nearest 32 pixels wide; the larger one of two as near.
        const auto distance = [](const QImage& m) { return std::abs(m.width() - 32); };
        if (best.isNull() || distance(image) < distance(best) ||
            (distance(image) == distance(best) && image.width() > best.width()))
            best = image;
    }
    if (best.isNull()) throw EInvalidGraphic();
    return best;
}

// Splits Image into its colour bitmap (black where transparent) and, when
// any pixel is transparent, a monochrome mask that is white there.
void SetFromImage(TPicture& picture, TPictureKind kind, const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    QImage colour(w, h, QImage::Format_RGB32);
    // Mono rows top-down, each padded to 16 bits, 1 = white.
    const int stride = (w + 15) / 16 * 2;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
    bool transparent = false;
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(colour.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(in[x]) < 128) {
                out[x] = 0xFF000000u;
                bits[static_cast<std::size_t>(y) * stride + x / 8] |=
                    static_cast<std::uint8_t>(0x80u >> (x % 8));
                transparent = true;
            } else {
                out[x] = in[x] | 0xFF000000u;
            }
        }
    }
    HBITMAP bitmap = BitmapFromImage(colour);
    if (!bitmap) throw EInvalidGraphic();
    HBITMAP mask = transparent ? CreateBitmap(w, h, 1, 1, bits.data()) : nullptr;
    picture.SetImage(kind, bitmap, mask);
}

void LoadBmp(TPicture& picture, const std::string& path) {
    TBitmap b;
    b.LoadFromFile(path);
    picture.SetImage(TPictureKind::pkBitmap, b.ReleaseHandle(), nullptr);
}

TPictureLoader QtLoader(const char* format, TPictureKind kind) {
    return [format, kind](TPicture& picture, const std::string& path) {
        SetFromImage(picture, kind, ReadWithQt(path, format, kind == TPictureKind::pkIcon));
    };
}

std::mutex g_mutex;

std::vector<TPictureFormat>& Formats() {
    static std::vector<TPictureFormat> formats = {
        {"bmp", "Bitmaps", &LoadBmp},
        {"dib", "Bitmaps", &LoadBmp},
        {"ico", "Icons", QtLoader("ico", TPictureKind::pkIcon)},
        {"png", "PNG images", QtLoader("png", TPictureKind::pkBitmap)},
        {"jpg", "JPEG images", QtLoader("jpeg", TPictureKind::pkBitmap)},
        {"jpeg", "JPEG images", QtLoader("jpeg", TPictureKind::pkBitmap)},
    };
    return formats;
}

} // namespace

TPicture::TPicture() = default;

TPicture::~TPicture() {
    Clear();
}

void TPicture::Clear() {
    bitmap_.SetHandle(nullptr);
    if (mask_) DeleteObject(mask_);
    mask_ = nullptr;
    kind_ = TPictureKind::pkNone;
}

void TPicture::SetImage(TPictureKind kind, HBITMAP bitmap, HBITMAP mask) {
    Clear();
    bitmap_.SetHandle(bitmap);
    mask_ = mask;
    kind_ = bitmap_.Empty() ? TPictureKind::pkNone : kind;
}

int TPicture::GetWidth() const {
    return bitmap_.GetWidth();
}

int TPicture::GetHeight() const {
    return bitmap_.GetHeight();
}

HBITMAP TPicture::GetBitmapHandle() const {
    return bitmap_.GetHandle();
}

void TPicture::LoadFromFile(const std::string& path) {
    const std::string ext = ExtensionOf(path);
    TPictureLoader loader;
    {
        std::lock_guard lock(g_mutex);
        for (const TPictureFormat& f : Formats())
            if (f.extension == ext) loader = f.loader;
    }
    if (!loader) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
    // Loaded aside, so a file that fails leaves the picture as it was.
    TPicture loaded;
    loader(loaded, path);
    if (loaded.Empty()) throw EInvalidGraphic();
    kind_ = loaded.kind_;
    bitmap_.SetHandle(loaded.bitmap_.ReleaseHandle());
    if (mask_) DeleteObject(mask_);
    mask_ = loaded.mask_;
    loaded.mask_ = nullptr;
    loaded.kind_ = TPictureKind::pkNone;
}

void TPicture::Draw(HDC dc, const RECT& rect) const {
    if (Empty()) return;
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return;
    HDC mem = CreateCompatibleDC(dc);
    if (!mem) return;
    const int sw = GetWidth(), sh = GetHeight();
    const int oldMode = SetStretchBltMode(dc, w < sw || h < sh ? HALFTONE : COLORONCOLOR);
    if (mask_) {
        // The mask's black (opaque) clears the picture's place, then the
        // picture, black where transparent, is ORed in.
        const COLORREF text = SetTextColor(dc, 0x000000);
        const COLORREF back = SetBkColor(dc, 0xFFFFFF);
        const int maskMode = SetStretchBltMode(dc, COLORONCOLOR);
        HGDIOBJ old = SelectObject(mem, mask_);
        StretchBlt(dc, rect.left, rect.top, w, h, mem, 0, 0, sw, sh, SRCAND);
        SetStretchBltMode(dc, maskMode);
        SelectObject(mem, bitmap_.GetHandle());
        StretchBlt(dc, rect.left, rect.top, w, h, mem, 0, 0, sw, sh, SRCPAINT);
        SelectObject(mem, old);
        SetTextColor(dc, text);
        SetBkColor(dc, back);
    } else {
        HGDIOBJ old = SelectObject(mem, bitmap_.GetHandle());
        StretchBlt(dc, rect.left, rect.top, w, h, mem, 0, 0, sw, sh, SRCCOPY);
        SelectObject(mem, old);
    }
    SetStretchBltMode(dc, oldMode);
    DeleteDC(mem);
}

void RegisterPictureFormat(const std::string& extension, const std::string& description,
                           TPictureLoader loader) {
    std::lock_guard lock(g_mutex);
    const std::string ext = Lower(extension);
    for (TPictureFormat& f : Formats())
        if (f.extension == ext) {
            f.description = description;
            f.loader = std::move(loader);
            return;
        }
    Formats().push_back({ext, description, std::move(loader)});
}

std::vector<TPictureFormat> PictureFormats() {
    std::lock_guard lock(g_mutex);
    return Formats();
}

std::string PictureDefaultExt() {
    std::lock_guard lock(g_mutex);
    return Formats().empty() ? std::string() : Formats().front().extension;
}

std::string PictureFilter() {
    const std::vector<TPictureFormat> formats = PictureFormats();
    std::string all, each;
    for (const TPictureFormat& f : formats) {
        const std::string pattern = "*." + f.extension;
        all += (all.empty() ? "" : ";") + pattern;
        each += "|" + f.description + " (" + pattern + ")|" + pattern;
    }
    return "All (" + all + ")|" + all + each;
}

} // namespace lum::platform::gdi
