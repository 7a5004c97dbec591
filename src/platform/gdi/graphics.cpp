// TBitmap: handle ownership, format and size changes through blits, row
// access into the bitmap's memory, and BMP reading and writing.
#include "platform/gdi/graphics.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/gdi/internal.h"

namespace lum::platform::gdi {

// The bitmap's canvas makes its memory context when first drawn on.
class TBitmap::BitmapCanvas : public TCanvas {
public:
    explicit BitmapCanvas(TBitmap* owner) : owner_(owner) {}
    void Release() { SetHandle(nullptr); }

protected:
    void CreateHandle() override {
        HDC dc = CreateCompatibleDC(nullptr);
        if (owner_->handle_) SelectObject(dc, owner_->handle_);
        SetHandle(dc, true);
    }

private:
    TBitmap* owner_;
};

namespace {

int BitsOf(TPixelFormat f) {
    switch (f) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pf24bit:
        return 24;
    default:
        return 32;
    }
}

// A bottom-up DIB section; masks only for BI_BITFIELDS.
HBITMAP MakeSection(int width, int height, int bpp, DWORD compression, const std::uint32_t* masks,
                    const std::vector<Rgb>& table) {
    std::vector<std::uint8_t> buffer(sizeof(BITMAPINFOHEADER) + 12 +
                                     4 * std::max<std::size_t>(table.size(), 1));
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bpp);
    h.biCompression = compression;
    h.biClrUsed = static_cast<DWORD>(table.size());
    std::memcpy(buffer.data(), &h, sizeof h);
    std::uint8_t* after = buffer.data() + sizeof h;
    if (compression == BI_BITFIELDS) {
        std::memcpy(after, masks, 12);
    } else {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const RGBQUAD q{static_cast<BYTE>(table[i]), static_cast<BYTE>(table[i] >> 8),
                            static_cast<BYTE>(table[i] >> 16), 0};
            std::memcpy(after + 4 * i, &q, sizeof q);
        }
    }
    HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    HBITMAP b = CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(buffer.data()),
                                 DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    return b;
}

// Copies From onto To at the top-left after filling To white.
void CopyPixels(HBITMAP from, HBITMAP to, int width, int height) {
    HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
    SelectObject(dst, to);
    PatBlt(dst, 0, 0, width, height, WHITENESS);
    if (from && SelectObject(src, from)) BitBlt(dst, 0, 0, width, height, src, 0, 0, SRCCOPY);
    DeleteDC(src);
    DeleteDC(dst);
}

TPixelFormat FormatOf(const HBITMAP__& b) {
    if (b.kind == HBITMAP__::Device) return pfDevice;
    switch (b.bpp) {
    case 1:
        return pf1bit;
    case 4:
        return pf4bit;
    case 8:
        return pf8bit;
    case 16:
        return b.masks[1] == 0x03E0 ? pf15bit : pf16bit;
    case 24:
        return pf24bit;
    default:
        return pf32bit;
    }
}

template <class T>
void Put(std::vector<std::uint8_t>& out, const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof value);
}

template <class T>
bool Get(std::span<const std::uint8_t> data, std::size_t at, T& value) {
    if (at > data.size() || data.size() - at < sizeof value) return false;
    std::memcpy(&value, data.data() + at, sizeof value);
    return true;
}

} // namespace

TBitmap::TBitmap() : canvas_(std::make_unique<BitmapCanvas>(this)) {
    canvas_->OnChange = [this](TCanvas*) { Changed(); };
}

TBitmap::~TBitmap() {
    canvas_.reset();
    if (handle_) DeleteObject(handle_);
}

void TBitmap::Changed() {
    if (OnChange) OnChange(this);
}

TCanvas& TBitmap::GetCanvas() {
    return *canvas_;
}

HBITMAP TBitmap::Make(int width, int height, TPixelFormat format) const {
    HBITMAP b = nullptr;
    if (format == pfDevice) {
        HDC screen = GetDC(nullptr);
        b = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
    } else {
        const int bpp = BitsOf(format);
        const std::uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
        b = MakeSection(width, height, bpp, format == pf16bit ? BI_BITFIELDS : BI_RGB, masks,
                        bpp <= 8 ? DefaultColorTable(bpp) : std::vector<Rgb>{});
    }
    if (!b) throw EOutOfMemory();
    return b;
}

void TBitmap::Replace(HBITMAP handle, TPixelFormat format, int width, int height) {
    canvas_->Release();
    if (handle_ && handle_ != handle) DeleteObject(handle_);
    handle_ = handle;
    format_ = format;
    width_ = width;
    height_ = height;
    Changed();
}

void TBitmap::SetSize(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    if (width == 0 || height == 0) {
        Replace(nullptr, format_, width, height);
        return;
    }
    HBITMAP b = Make(width, height, format_);
    canvas_->Release();
    CopyPixels(handle_, b, width, height);
    Replace(b, format_, width, height);
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
    if (value == format_) return;
    if (!handle_) {
        format_ = value;
        Changed();
        return;
    }
    HBITMAP b = Make(width_, height_, value);
    canvas_->Release();
    CopyPixels(handle_, b, width_, height_);
    Replace(b, value, width_, height_);
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    if (!source.handle_) {
        Replace(nullptr, source.format_, source.width_, source.height_);
        return;
    }
    HBITMAP b = Make(source.width_, source.height_, source.format_);
    source.canvas_->Release();
    CopyPixels(source.handle_, b, source.width_, source.height_);
    Replace(b, source.format_, source.width_, source.height_);
}

void TBitmap::SetHandle(HBITMAP handle) {
    if (handle == handle_) return;
    if (!handle) {
        Replace(nullptr, format_, 0, 0);
        return;
    }
    auto* b = Find<HBITMAP__>(handle, OBJ_BITMAP);
    if (!b || b->stock) throw EInvalidGraphic("Invalid bitmap handle");
    Replace(handle, FormatOf(*b), b->width, b->height);
}

HBITMAP TBitmap::ReleaseHandle() {
    canvas_->Release();
    HBITMAP h = handle_;
    handle_ = nullptr;
    width_ = height_ = 0;
    Changed();
    return h;
}

std::uint8_t* TBitmap::ScanLine(int row) {
    auto* b = Find<HBITMAP__>(handle_, OBJ_BITMAP);
    if (!b || row < 0 || row >= b->height) return nullptr;
    switch (b->kind) {
    case HBITMAP__::Device:
        return b->image.scanLine(row);
    case HBITMAP__::Mono:
        return b->bits.get() + row * b->stride;
    case HBITMAP__::Section:
        return b->bits.get() + (b->topDown ? row : b->height - 1 - row) * b->stride;
    }
    return nullptr;
}

std::size_t TBitmap::RowBytes() const {
    auto* b = Find<HBITMAP__>(handle_, OBJ_BITMAP);
    if (!b) return 0;
    return b->kind == HBITMAP__::Device ? static_cast<std::size_t>(b->width) * 4
                                        : static_cast<std::size_t>(b->stride);
}

std::vector<std::uint8_t> TBitmap::SaveToMemory() const {
    auto* b = Find<HBITMAP__>(handle_, OBJ_BITMAP);
    if (!b) throw EStreamError("Cannot save an empty bitmap");
    const int bpp = b->bpp;
    const bool fields = b->kind == HBITMAP__::Section && b->compression == BI_BITFIELDS;
    std::vector<Rgb> table;
    if (bpp <= 8) table = b->table.empty() ? DefaultColorTable(bpp) : b->table;
    const std::size_t stride = ((static_cast<std::size_t>(b->width) * bpp + 31) / 32) * 4;
    const std::size_t image = stride * static_cast<std::size_t>(b->height);
    const std::size_t offset = 14 + 40 + (fields ? 12 : 0) + 4 * table.size();

    std::vector<std::uint8_t> out;
    out.reserve(offset + image);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = static_cast<DWORD>(offset + image);
    fh.bfOffBits = static_cast<DWORD>(offset);
    Put(out, fh);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = b->width;
    h.biHeight = b->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bpp);
    h.biCompression = fields ? BI_BITFIELDS : BI_RGB;
    h.biSizeImage = static_cast<DWORD>(image);
    h.biClrUsed = static_cast<DWORD>(table.size());
    Put(out, h);
    if (fields)
        for (std::uint32_t m : b->masks)
            Put(out, m);
    for (Rgb c : table)
        Put(out, RGBQUAD{static_cast<BYTE>(c), static_cast<BYTE>(c >> 8),
                         static_cast<BYTE>(c >> 16), 0});
    // Rows bottom-up, each padded to 4 bytes.
    auto* self = const_cast<TBitmap*>(this);
    for (int y = b->height - 1; y >= 0; --y) {
        const std::uint8_t* row = self->ScanLine(y);
        const std::size_t start = out.size();
        out.insert(out.end(), row, row + stride);
        if (b->kind == HBITMAP__::Device)
            for (int x = 0; x < b->width; ++x)
                out[start + 4 * static_cast<std::size_t>(x) + 3] = 0;
    }
    return out;
}

void TBitmap::SaveToFile(const std::string& path) const {
    const std::vector<std::uint8_t> data = SaveToMemory();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) throw EStreamError("Cannot create file \"" + path + "\"");
    file.write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    file.close();
    if (!file) throw EStreamError("Stream write error");
}

void TBitmap::LoadFromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw EStreamError("Cannot open file \"" + path + "\"");
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
    if (file.bad()) throw EStreamError("Stream read error");
    LoadFromMemory(data);
}

void TBitmap::LoadFromMemory(std::span<const std::uint8_t> data) {
    BITMAPFILEHEADER fh{};
    DWORD headerSize = 0;
    if (!Get(data, 0, fh) || fh.bfType != 0x4D42 || !Get(data, 14, headerSize))
        throw EInvalidGraphic();
    if (headerSize != sizeof(BITMAPCOREHEADER) &&
        (headerSize < sizeof(BITMAPINFOHEADER) || headerSize > 124))
        throw EInvalidGraphic();
    // Header, masks and colour table must lie inside the data before they are parsed.
    int bpp = 0;
    DWORD compression = BI_RGB, clrUsed = 0;
    std::size_t entry = 4;
    if (headerSize == sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER core{};
        if (!Get(data, 14, core)) throw EInvalidGraphic();
        bpp = core.bcBitCount;
        entry = 3;
    } else {
        BITMAPINFOHEADER h{};
        if (!Get(data, 14, h)) throw EInvalidGraphic();
        bpp = h.biBitCount;
        compression = h.biCompression;
        clrUsed = h.biClrUsed;
    }
    std::size_t extra = 0;
    if (bpp >= 1 && bpp <= 8)
        extra = entry * (clrUsed ? std::min<std::size_t>(clrUsed, std::size_t{1} << bpp)
                                 : std::size_t{1} << bpp);
    if (compression == BI_BITFIELDS && headerSize < 52) extra = 12;
    const std::size_t infoBytes = headerSize + extra;
    if (data.size() - 14 < infoBytes) throw EInvalidGraphic();
    std::vector<std::uint8_t> info(data.begin() + 14,
                                   data.begin() + 14 + static_cast<std::ptrdiff_t>(infoBytes));
    info.resize(std::max<std::size_t>(info.size(), sizeof(BITMAPINFOHEADER) + 12));

    std::size_t offset = fh.bfOffBits;
    if (offset < 14 + infoBytes || offset >= data.size()) offset = 14 + infoBytes;
    if (offset > data.size()) throw EInvalidGraphic();
    const std::size_t available = data.size() - offset;
    if ((compression == BI_RLE8 || compression == BI_RLE4) &&
        headerSize >= sizeof(BITMAPINFOHEADER)) {
        // RLE data may not run past the end of the file.
        BITMAPINFOHEADER h{};
        std::memcpy(&h, info.data(), sizeof h);
        if (h.biSizeImage == 0 || h.biSizeImage > available)
            h.biSizeImage = static_cast<DWORD>(available);
        std::memcpy(info.data(), &h, sizeof h);
    }
    DibFormat f;
    if (!ParseDib(reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, nullptr, f))
        throw EInvalidGraphic();
    const bool rle = f.compression == BI_RLE8 || f.compression == BI_RLE4;
    const std::uint8_t* pixels = data.data() + offset;
    if (!rle) {
        // The last row may lack its padding.
        const std::size_t used = (static_cast<std::size_t>(f.width) * f.bpp + 7) / 8;
        if (available < f.stride * static_cast<std::size_t>(f.height - 1) + used)
            throw EInvalidGraphic();
    }
    HBITMAP b =
        MakeSection(f.width, f.height, f.bpp, rle ? BI_RGB : f.compression, f.masks, f.table);
    if (!b) throw EOutOfMemory();
    auto* section = Find<HBITMAP__>(b, OBJ_BITMAP);
    if (rle) {
        HDC screen = GetDC(nullptr);
        SetDIBits(screen, b, 0, static_cast<UINT>(f.height), pixels,
                  reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
    } else {
        for (int k = 0; k < f.height; ++k) {
            // Stored row k; the section is bottom-up.
            const int y = f.topDown ? f.height - 1 - k : k;
            const std::size_t n =
                std::min(f.stride, available - f.stride * static_cast<std::size_t>(k));
            std::memcpy(section->bits.get() + static_cast<std::size_t>(y) * f.stride,
                        pixels + f.stride * k, n);
        }
    }
    Replace(b, FormatOf(*section), f.width, f.height);
}

} // namespace lum::platform::gdi
