// Window surfaces: a window's context draws into the surface's buffer,
// each call adds what it touched to the area waiting to be shown, a burst
// of calls asks to be shown once, the buffer serves as a blit source, and a
// window that is gone takes drawing without harm.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "gditest.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"

using namespace lum::platform;
using namespace lum::platform::gdi;
using lum::platform::gdi::test::MemDC;

namespace {

// Counts what the drawing service asks of the window.
class CountingSurface : public WindowSurface {
public:
    CountingSurface(int w, int h) {
        Buffer() = QImage(w, h, QImage::Format_RGB32);
        Buffer().fill(QColor(255, 255, 255));
    }
    std::atomic<int> pending{0};
    std::atomic<int> shown{0};
    QRgb At(int x, int y) {
        auto lock = Lock();
        return Buffer().pixel(x, y) & 0xFFFFFF;
    }

protected:
    void Pending() override { ++pending; }
    void ShowNow() override {
        ++shown;
        TakeTouched();
    }
};

// A window known to the drawing service for the life of the object.
struct Window {
    int id = 0; // its address is the window
    std::shared_ptr<CountingSurface> surface;
    Window(int w, int h) : surface(std::make_shared<CountingSurface>(w, h)) {
        SetWindowSurface(&id, surface);
    }
    ~Window() { SetWindowSurface(&id, nullptr); }
};

} // namespace

TEST(WindowSurface, DrawingOutsideAPaintLandsInTheBufferAndMarksWhatItTouched) {
    Window w(100, 50);
    HDC dc = GetDC(&w.id);
    ASSERT_NE(dc, nullptr);

    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    const RECT r{10, 5, 30, 25};
    EXPECT_TRUE(FillRect(dc, &r, red));
    EXPECT_EQ(w.surface->At(10, 5), 0xFF0000u);
    EXPECT_EQ(w.surface->At(29, 24), 0xFF0000u);
    EXPECT_EQ(w.surface->At(30, 24), 0xFFFFFFu);
    EXPECT_EQ(w.surface->pending, 1);

    // More calls in the same burst widen the area without asking again.
    HPEN blue = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
    HGDIOBJ oldPen = SelectObject(dc, blue);
    MoveToEx(dc, 60, 40, nullptr);
    LineTo(dc, 60, 10);
    EXPECT_EQ(w.surface->At(60, 11), 0x0000FFu);
    EXPECT_EQ(w.surface->pending, 1);
    EXPECT_EQ(w.surface->TakeTouched(), QRect(QPoint(10, 5), QPoint(60, 40)));
    EXPECT_FALSE(w.surface->HasTouched());

    // The next burst asks again, and the viewport origin and clip apply.
    SetViewportOrgEx(dc, 5, 5, nullptr);
    IntersectClipRect(dc, 0, 0, 20, 20);
    EXPECT_TRUE(FillRect(dc, &r, red));
    EXPECT_EQ(w.surface->pending, 2);
    EXPECT_EQ(w.surface->TakeTouched(), QRect(QPoint(15, 10), QPoint(24, 24)));

    // Text is drawing too.
    SetViewportOrgEx(dc, 0, 0, nullptr);
    SelectClipRgn(dc, nullptr);
    SetPixel(dc, 99, 49, RGB(0, 255, 0));
    EXPECT_EQ(w.surface->At(99, 49), 0x00FF00u);
    EXPECT_EQ(w.surface->TakeTouched(), QRect(99, 49, 1, 1));

    // Reading touches nothing.
    EXPECT_EQ(GetPixel(dc, 99, 49), RGB(0, 255, 0));
    EXPECT_FALSE(w.surface->HasTouched());

    SelectObject(dc, oldPen);
    DeleteObject(blue);
    DeleteObject(red);
    EXPECT_EQ(ReleaseDC(&w.id, dc), 1);
}

TEST(WindowSurface, XorLinesComeAndGoAndStripsAreSavedAndRestored) {
    Window w(200, 40);
    HDC dc = GetDC(&w.id);
    for (int x = 0; x < 200; ++x)
        SetPixel(dc, x, 20, RGB(x, 0, 255 - x));
    w.surface->TakeTouched();

    // A locator drawn twice in XOR mode leaves the picture as it was.
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    SetROP2(dc, R2_XORPEN);
    MoveToEx(dc, 50, 0, nullptr);
    LineTo(dc, 50, 40);
    EXPECT_EQ(w.surface->At(50, 20), (50u ^ 255u) << 16 | (0u ^ 255u) << 8 | (205u ^ 0u));
    EXPECT_EQ(w.surface->TakeTouched(), QRect(50, 0, 1, 40));
    MoveToEx(dc, 50, 0, nullptr);
    LineTo(dc, 50, 40);
    EXPECT_EQ(w.surface->At(50, 20), 50u << 16 | 205u);
    EXPECT_EQ(w.surface->At(50, 0), 0xFFFFFFu);

    // A 10-pixel strip kept in a memory context and put back over a line.
    MemDC strip(10, 40);
    EXPECT_TRUE(BitBlt(strip.dc(), 0, 0, 10, 40, dc, 100, 0, SRCCOPY));
    EXPECT_EQ(strip.At(5, 20), RGB(105, 0, 150));
    SetROP2(dc, R2_COPYPEN);
    MoveToEx(dc, 105, 0, nullptr);
    LineTo(dc, 105, 40);
    EXPECT_EQ(w.surface->At(105, 20), 0xFFFF00u);
    w.surface->TakeTouched();
    EXPECT_TRUE(BitBlt(dc, 100, 0, 10, 40, strip.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(w.surface->At(105, 20), 105u << 16 | 150u);
    EXPECT_EQ(w.surface->TakeTouched(), QRect(100, 0, 10, 40));

    // Scrolling within the window reads from what was there before.
    EXPECT_TRUE(BitBlt(dc, 1, 0, 199, 40, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(w.surface->At(51, 20), 50u << 16 | 205u);

    SelectObject(dc, oldPen);
    DeleteObject(pen);
    ReleaseDC(&w.id, dc);
}

TEST(WindowSurface, WindowsWithoutOneOrGoneTakeDrawingAndShowNothing) {
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const RECT r{0, 0, 10, 10};

    int plain = 0; // a window without a surface
    HDC none = GetDC(&plain);
    EXPECT_TRUE(FillRect(none, &r, black));
    EXPECT_EQ(GetPixel(none, 1, 1), CLR_INVALID);
    ReleaseDC(&plain, none);

    auto w = std::make_unique<Window>(20, 20);
    std::shared_ptr<CountingSurface> surface = w->surface;
    HDC dc = GetDC(&w->id);
    EXPECT_EQ(FindWindowSurface(&w->id), surface);
    w.reset(); // the window goes while a context is still open on it
    EXPECT_TRUE(surface->Detached());
    EXPECT_TRUE(surface->Buffer().isNull());
    EXPECT_TRUE(FillRect(dc, &r, black));
    MemDC copy(10, 10, RGB(1, 2, 3));
    EXPECT_TRUE(BitBlt(copy.dc(), 0, 0, 10, 10, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(copy.At(0, 0), RGB(1, 2, 3));
    EXPECT_EQ(surface->pending, 0);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
}

TEST(WindowSurface, GdiFlushShowsOnlySurfacesWithAreasWaiting) {
    Window drawn(10, 10), idle(10, 10);
    HDC dc = GetDC(&drawn.id);
    SetPixel(dc, 1, 1, RGB(0, 0, 0));
    EXPECT_TRUE(GdiFlush());
    EXPECT_EQ(drawn.surface->shown, 1);
    EXPECT_EQ(idle.surface->shown, 0);
    EXPECT_TRUE(GdiFlush()); // nothing waits any more
    EXPECT_EQ(drawn.surface->shown, 1);
    ReleaseDC(&drawn.id, dc);
}

// Threads draw XOR lines on one window while this thread reads the buffer
// and takes the touched area, as a paint would. Every column is crossed
// twice by every thread, so the picture ends as it began unless two
// read-modify-writes overlapped. Run under ThreadSanitizer too.
TEST(WindowSurface, SeveralThreadsDrawOnOneWindow) {
    Window w(64, 64);
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            HDC dc = GetDC(&w.id);
            HPEN pen = CreatePen(PS_SOLID, 1, RGB(0x30 << t, 0x11 * t, 0x0F));
            HGDIOBJ old = SelectObject(dc, pen);
            SetROP2(dc, R2_XORPEN);
            for (int i = 0; i < 128; ++i) {
                const int x = (i * 5 + t) % 64;
                MoveToEx(dc, x, 0, nullptr);
                LineTo(dc, x, 64);
            }
            SelectObject(dc, old);
            DeleteObject(pen);
            ReleaseDC(&w.id, dc);
            ++done;
        });
    }
    int takes = 0;
    while (done < 3) {
        (void)w.surface->At(10, 10);
        if (!w.surface->TakeTouched().isEmpty()) ++takes;
    }
    for (auto& th : threads)
        th.join();
    EXPECT_GE(w.surface->pending, 1);
    int changed = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            changed += w.surface->At(x, y) != 0xFFFFFFu;
    EXPECT_EQ(changed, 0);
}
