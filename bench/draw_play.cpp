// Drawing benches.
//
// usage: lum_bench_draw play FILE [SECONDS]
//          draws the first video stream of FILE at its rate through frame
//          drawing into a widget's window surface (Qt offscreen platform
//          unless QT_QPA_PLATFORM says otherwise), for SECONDS at most, and
//          prints the share of one core the process used meanwhile, which
//          must stay under half a core for 1280x720 MJPEG at 25 frames/s.
//        lum_bench_draw fast FILE
//          the same without waiting: frames a second drawing can reach.
//        lum_bench_draw lines
//          a locator line moved across a 1000 x 200 window surface in XOR
//          mode (erase, draw) as the wave preview does from its timer:
//          microseconds a move, the area each burst asks to show.
//        lum_bench_draw canvas
//          DIB canvas fills and spans on 640 x 480 at 8 and 24 bits against
//          the drawing service's FillRect on the same section: Mpixel/s.
#include <sys/resource.h>

#include <QApplication>
#include <QPaintEvent>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/widgetsurface.h"
#include "video/lumavi.h"
#include "video/lumavi_draw.h"
#include "video/lumdibcv.h"

using namespace lum;
namespace gdi = lum::platform::gdi;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// A widget that shows its window surface, painted black.
class Screen : public QWidget {
public:
    Screen(int w, int h)
        : surface_(this, [](gdi::TCanvas& c) {
              c.GetBrush().SetColor(clBlack);
              c.FillRect(c.GetClipRect());
          }) {
        resize(w, h);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* e) override { surface_.PaintEvent(e, Qt::black); }

private:
    platform::ui::WidgetSurface surface_;
};

int Play(const std::string& path, double seconds, bool paced) {
    TLumAVIFile file;
    file.SetFileName(path);
    file.SetShareMode(smRead);
    file.OpenFile();
    TLumAVIStream* stream = file.GetTypedStreams(stVideo, 0);
    TAVIStreamInfo info;
    stream->GetStreamInfo(info);
    const int w = info.rcFrame.right - info.rcFrame.left,
              h = info.rcFrame.bottom - info.rcFrame.top;
    const double rate = static_cast<double>(stream->GetFrameRate());
    if (rate <= 0) {
        std::fprintf(stderr, "no frame rate\n");
        return 1;
    }
    Screen screen(w, h);
    screen.show();
    QApplication::processEvents();
    HDC dc = gdi::GetDC(&screen);
    const platform::RECT rect{0, 0, w, h};
    PLumDrawDIB draw = AVIInitDrawing(stream);
    AVIBeginDrawing(draw, dc, rect, stream->GetStartPos());
    const LONG length = stream->GetLength();
    const auto start = Clock::now();
    const double cpu0 = CpuSeconds();
    LONG drawn = 0, last = -1;
    double drawing = 0;
    for (;;) {
        const double t = Since(start);
        if (t >= seconds) break;
        LONG frame = paced ? static_cast<LONG>(t * rate) : last + 1;
        if (frame >= length) break;
        if (frame != last) {
            const auto d0 = Clock::now();
            if (!AVIDrawFrame(draw, dc, rect, stream->GetStartPos() + frame)) {
                std::fprintf(stderr, "drawing failed at frame %d\n", frame);
                return 1;
            }
            QApplication::processEvents(); // the surface shows what was drawn
            drawing += Since(d0);
            ++drawn;
            last = frame;
        }
        if (paced)
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>((last + 1) / rate)));
    }
    const double wall = Since(start), cpu = CpuSeconds() - cpu0;
    AVIEndDrawing(draw);
    AVIDoneDrawing(draw);
    gdi::ReleaseDC(&screen, dc);
    std::printf("%s: %dx%d at %.3g frames/s, %s\n", path.c_str(), w, h, rate,
                paced ? "at its rate" : "as fast as it goes");
    std::printf("frames drawn  %d in %.2f s (%.1f frames/s)\n", drawn, wall, drawn / wall);
    std::printf("drawing       %.2f ms a frame (decode, blit, show)\n",
                drawn ? drawing * 1000 / drawn : 0.0);
    std::printf("cpu           %.2f s = %.2f of one core\n", cpu, cpu / wall);
    return 0;
}

int Lines() {
    Screen screen(1000, 200);
    screen.show();
    QApplication::processEvents();
    HDC dc = gdi::GetDC(&screen);
    gdi::HPEN pen = gdi::CreatePen(gdi::PS_SOLID, 1, gdi::RGB(255, 255, 0));
    gdi::SelectObject(dc, pen);
    gdi::SetROP2(dc, gdi::R2_XORPEN);
    auto line = [&](int x) {
        gdi::MoveToEx(dc, x, 2, nullptr);
        gdi::LineTo(dc, x, 198);
    };
    const int moves = 20000;
    const auto start = Clock::now();
    int old = -1;
    for (int i = 0; i < moves; ++i) {
        const int x = 2 + i % 996;
        if (old >= 0) line(old);
        line(x);
        old = x;
        if (i % 40 == 0) QApplication::processEvents(); // a timer's pace of showing
    }
    QApplication::processEvents();
    const double t = Since(start);
    std::printf("locator moves  %d in %.3f s: %.2f us a move (erase + draw + show)\n", moves, t,
                t * 1e6 / moves);
    gdi::SelectObject(dc, gdi::GetStockObject(gdi::BLACK_PEN));
    gdi::DeleteObject(pen);
    gdi::ReleaseDC(&screen, dc);
    return 0;
}

int Canvas() {
    for (int bits : {8, 24}) {
        TLumDIBCanvas c;
        c.SetBitsPerPixel(bits);
        c.SetBounds(0, 0, 640, 480);
        c.CheckDIB();
        const int rounds = 1000;
        auto start = Clock::now();
        {
            TLumDIBPass pass(c);
            for (int i = 0; i < rounds; ++i) {
                DIB_SETCOLOR(static_cast<std::uint32_t>(i * 0x010203));
                DIB_FILLRECT(TRect{0, 0, 640, 480});
            }
        }
        const double fill = 640.0 * 480 * rounds / Since(start) / 1e6;
        start = Clock::now();
        {
            TLumDIBPass pass(c);
            for (int i = 0; i < rounds; ++i)
                for (int y = 0; y < 480; ++y)
                    DIB_HLINE(i % 7, 640 - i % 5, y);
        }
        const double spans = 640.0 * 480 * rounds / Since(start) / 1e6;
        start = Clock::now();
        gdi::HBRUSH brush = gdi::CreateSolidBrush(gdi::RGB(1, 2, 3));
        const platform::RECT all{0, 0, 640, 480};
        for (int i = 0; i < rounds; ++i)
            gdi::FillRect(c.GetHandle(), &all, brush);
        gdi::DeleteObject(brush);
        const double service = 640.0 * 480 * rounds / Since(start) / 1e6;
        std::printf("%2d bits  DIB_FILLRECT %7.0f  DIB_HLINE %7.0f  service FillRect %7.0f "
                    "Mpixel/s\n",
                    bits, fill, spans, service);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if ((mode == "play" || mode == "fast") && argc > 2)
            return Play(argv[2], argc > 3 ? std::atof(argv[3]) : 10.0, mode == "play");
        if (mode == "lines") return Lines();
        if (mode == "canvas") return Canvas();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: %s play FILE [SECONDS] | fast FILE | lines | canvas\n", argv[0]);
    return 2;
}
