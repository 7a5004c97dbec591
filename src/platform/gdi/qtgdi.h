// Where the drawing service meets Qt: contexts over a QImage (a widget's
// back buffer), window surfaces, bitmaps to and from QImage, and colours as
// QColor. Controls paint with a TImageCanvas in their paint event and show
// the image, so the same painting code runs in tests and on screen.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <memory>
#include <mutex>

#include "platform/gdi/canvas.h"

namespace lum::platform::gdi {

// A context drawing into Image (RGB32, ARGB32 or ARGB32 premultiplied;
// drawn pixels become opaque). Image must outlive the context. Null for
// other formats.
HDC CreateImageDC(QImage* image);

// What a window's context (GetDC) draws on: the window's persistent back
// buffer. Drawing outside a paint lands in the buffer, and every drawing
// call adds the rectangle it touched to the area waiting to be shown; the
// first one since the window last took that area calls Pending, so a burst
// of calls is shown in one go. The lock guards buffer and area, so another
// thread may draw on a window while its owner paints.
class WindowSurface {
public:
    WindowSurface() = default;
    virtual ~WindowSurface() = default;
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    // Held around every use of the buffer; recursive.
    std::unique_lock<std::recursive_mutex> Lock() const {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }
    std::recursive_mutex& Mutex() const { return mutex_; }
    // RGB32 or ARGB32 premultiplied; a null image takes no drawing. Only
    // under the lock.
    QImage& Buffer() { return buffer_; }

    // Adds R (buffer pixels) to the area waiting to be shown.
    void Touch(const QRect& r);
    // The area waiting to be shown, which becomes empty.
    QRect TakeTouched();
    bool HasTouched() const;
    // The window is gone: the buffer is dropped and drawing goes nowhere.
    void Detach();
    bool Detached() const;

protected:
    friend BOOL GdiFlush();
    // An area waits to be shown. Runs on the drawing thread under the lock.
    virtual void Pending() {}
    // Show the waiting area before returning, if this thread can.
    virtual void ShowNow() {}

private:
    mutable std::recursive_mutex mutex_;
    QImage buffer_;
    QRect touched_;
    bool detached_ = false;
};

// Makes Surface the one that contexts of Window draw on from the next
// GetDC on; null forgets the window (and detaches the old surface, so
// contexts still open on it draw nothing). Windows without a surface get
// contexts that draw nowhere.
void SetWindowSurface(const void* window, std::shared_ptr<WindowSurface> surface);
std::shared_ptr<WindowSurface> FindWindowSurface(const void* window);

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
