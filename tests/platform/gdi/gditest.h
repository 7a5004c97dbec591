// Helpers for the drawing tests: a memory context over a fresh display
// bitmap, filled with one colour, whose pixels are read back as COLORREF.
#pragma once

#include <gtest/gtest.h>

#include "platform/gdi/gdi.h"

#include <ostream>

namespace lum::platform {
inline void PrintTo(const RECT& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
inline void PrintTo(const POINT& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}
} // namespace lum::platform

namespace lum::platform::gdi::test {

class MemDC {
public:
    MemDC(int width, int height, COLORREF fill = RGB(255, 255, 255))
        : width_(width), height_(height) {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        old_ = SelectObject(dc_, bitmap_);
        Fill(fill);
    }
    ~MemDC() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    MemDC(const MemDC&) = delete;
    MemDC& operator=(const MemDC&) = delete;

    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }
    void Fill(COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        const RECT r{0, 0, width_, height_};
        FillRect(dc_, &r, b);
        DeleteObject(b);
    }
    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
    // Pixels of colour C inside R.
    int Count(COLORREF c, RECT r) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                n += At(x, y) == c;
        return n;
    }
    int Count(COLORREF c) const { return Count(c, RECT{0, 0, width_, height_}); }
    // The smallest rectangle holding every pixel not of colour Background.
    RECT Extent(COLORREF background) const {
        RECT r{width_, height_, 0, 0};
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (At(x, y) != background) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x + 1);
                    r.bottom = std::max<LONG>(r.bottom, y + 1);
                }
        return r;
    }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

// Selects an object for the life of the guard and deletes it afterwards.
class Selected {
public:
    Selected(HDC dc, HGDIOBJ object) : dc_(dc), object_(object), old_(SelectObject(dc, object)) {}
    ~Selected() {
        SelectObject(dc_, old_);
        DeleteObject(object_);
    }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

private:
    HDC dc_;
    HGDIOBJ object_;
    HGDIOBJ old_;
};

} // namespace lum::platform::gdi::test
