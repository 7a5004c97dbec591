// TBitmap: a bitmap with a canvas, direct row access and BMP files.
//
// The bitmap owns its handle. pfDevice keeps a display bitmap (32 bits);
// the other formats keep a bottom-up DIB section of that depth, whose rows
// ScanLine gives in the bitmap's own layout (pf24bit: blue, green, red).
// Changing the size keeps the pixels that still fit; changing the format
// converts them. While either side is 0 the bitmap is empty and holds no
// handle. OnChange follows every change, drawing on the canvas included.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/base/exception.h"
#include "platform/gdi/canvas.h"

namespace lum::platform::gdi {

enum TPixelFormat : std::uint8_t {
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit
};

// A BMP image that cannot be read.
class EInvalidGraphic : public Exception {
public:
    EInvalidGraphic() : Exception("Bitmap image is not valid") {}
    using Exception::Exception;
};

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Copies size, format and pixels.
    void Assign(const TBitmap& source);

    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    void SetWidth(int value) { SetSize(value, height_); }
    void SetHeight(int value) { SetSize(width_, value); }
    void SetSize(int width, int height);
    TPixelFormat GetPixelFormat() const { return format_; }
    void SetPixelFormat(TPixelFormat value);
    bool Empty() const { return handle_ == nullptr; }

    TCanvas& GetCanvas();

    HBITMAP GetHandle() const { return handle_; }
    // Takes over Handle (null empties the bitmap); the format follows it.
    // The previous handle is deleted.
    void SetHandle(HBITMAP handle);
    // Gives up the handle without deleting it; the bitmap is empty after.
    HBITMAP ReleaseHandle();

    // Row Row (0 is the top) in the bitmap's own layout, or null.
    std::uint8_t* ScanLine(int row);
    // Bytes of one row as ScanLine gives them.
    std::size_t RowBytes() const;

    // A standard BMP: 14-byte file header, 40-byte information header with
    // a positive height, colour table for 8 bits or less, rows bottom-up
    // padded to 4 bytes. An existing file is replaced. Raises EStreamError
    // when the file cannot be written or the bitmap is empty.
    void SaveToFile(const std::string& path) const;
    std::vector<std::uint8_t> SaveToMemory() const;
    // Reads an uncompressed or RLE BMP; raises EInvalidGraphic for data it
    // cannot read and EStreamError when the file cannot be read.
    void LoadFromFile(const std::string& path);
    void LoadFromMemory(std::span<const std::uint8_t> data);

    std::function<void(TBitmap*)> OnChange;

private:
    class BitmapCanvas;
    void Replace(HBITMAP handle, TPixelFormat format, int width, int height);
    HBITMAP Make(int width, int height, TPixelFormat format) const;
    void Changed();

    HBITMAP handle_ = nullptr;
    TPixelFormat format_ = pfDevice;
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<BitmapCanvas> canvas_;
};

} // namespace lum::platform::gdi
