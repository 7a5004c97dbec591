// TPicture: a picture loaded from a file by its extension, through a
// registry of picture formats. Bitmaps (.bmp, .dib) are read by TBitmap's
// own BMP reader; icons (.ico), PNG and JPEG by Qt's image readers. An icon
// keeps the image nearest 32 pixels wide of those its file holds. Pictures
// with transparent parts (icons, PNGs with alpha) keep a mask and draw only
// their opaque pixels.
//
// Metafiles (.wmf, .emf) are not among the formats: nothing on this system
// reads them, and a picture is never a metafile.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/graphics.h"

namespace lum::platform::gdi {

enum class TPictureKind { pkNone, pkBitmap, pkIcon };

class TPicture {
public:
    TPicture();
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // Loads Path by the format its extension names. Raises EInvalidGraphic
    // "Unknown picture file extension (.xyz)" for an extension no format
    // claims, EInvalidGraphic for data the format cannot read and
    // EStreamError for a file that cannot be read. The picture is unchanged
    // when loading fails.
    void LoadFromFile(const std::string& path);
    // Empties the picture.
    void Clear();

    bool Empty() const { return kind_ == TPictureKind::pkNone; }
    TPictureKind GetKind() const { return kind_; }
    int GetWidth() const;
    int GetHeight() const;
    // The picture's pixels (transparent ones black), or null when empty.
    HBITMAP GetBitmapHandle() const;
    // White where the picture is transparent; null when it is opaque.
    HBITMAP GetMaskHandle() const { return mask_; }

    // Draws the picture stretched over Rect; transparent pixels leave the
    // context's pixels as they are.
    void Draw(HDC dc, const RECT& rect) const;

    // For the loaders that formats register: takes over Bitmap and Mask
    // (Mask may be null; both are deleted with the picture).
    void SetImage(TPictureKind kind, HBITMAP bitmap, HBITMAP mask);

private:
    TPictureKind kind_ = TPictureKind::pkNone;
    TBitmap bitmap_;
    HBITMAP mask_ = nullptr;
};

using TPictureLoader = std::function<void(TPicture& picture, const std::string& path)>;

struct TPictureFormat {
    std::string extension; // lower case, without the dot: "bmp"
    std::string description;
    TPictureLoader loader;
};

// Adds a format, or replaces the one registered for the same extension.
void RegisterPictureFormat(const std::string& extension, const std::string& description,
                           TPictureLoader loader);
// The registered formats, in the order registered (the built-in ones first).
std::vector<TPictureFormat> PictureFormats();
// The extension of the first format ("bmp").
std::string PictureDefaultExt();
// A dialog filter: all formats together first, then one entry per format,
// "All (*.bmp;*.ico)|*.bmp;*.ico|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico".
std::string PictureFilter();

} // namespace lum::platform::gdi
