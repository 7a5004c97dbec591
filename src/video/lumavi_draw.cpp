#include "video/lumavi_draw.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/gdi/gdi.h"

namespace lum {

namespace vfw = platform::vfw;
using platform::UINT;
namespace gdi = platform::gdi;

bool DecompFrames = true;

namespace {

int Width(const RECT& r) {
    return r.right - r.left;
}
int Height(const RECT& r) {
    return r.bottom - r.top;
}

// Brush value 0: the platform may show nothing for it, and here it does.
void FillFailed(HDC dc, const RECT& rect) {
    gdi::FillRect(dc, &rect, nullptr);
}

void Fail(TLumDrawDIB& d, HDC dc, const RECT& rect) {
    FillFailed(dc, rect);
    d.Failed = true;
}

// Draws frame I with the extra flags X; a frame without pixels is skipped.
void DrawOne(TLumDrawDIB& d, HDC dc, const RECT& rect, LONG i, UINT x) {
    UINT flags = x | vfw::DDF_BUFFER;
    if (d.Stream->IsKeyFrame(i))
        d.LastKeyFrame = i;
    else
        flags |= vfw::DDF_NOTKEYFRAME;
    const TBitmapInfoHeader* format = nullptr;
    const void* bits = nullptr;
    if (d.Decompress) {
        const TBitmapInfoHeader* dib = d.Worker->GetDIB(i);
        format = dib;
        bits = DIB_Ptr(dib);
    } else {
        // An empty sample (a dropped frame) has no pixels; the raw buffer
        // would still hold an earlier sample's.
        const LONG size = d.Worker->GetRawSampleSize(i);
        if (size <= 0) return;
        bits = d.Worker->GetRawSample(i);
        PBitmapInfoHeader f = d.Worker->GetFormat(i);
        // The drawing service reads no more of the sample than it holds.
        if (f) f->biSizeImage = static_cast<DWORD>(size);
        format = f;
    }
    if (!bits || !format) return;
    const int height = std::abs(DIB_Height(format));
    if (!vfw::DrawDibDraw(d.DrawHandle, dc, rect.left, rect.top, Width(rect), Height(rect), format,
                          bits, 0, 0, DIB_Width(format), height, flags))
        Fail(d, dc, rect);
}

// Frame F after the last frame drawn, from the nearest key frame.
void DrawSequence(TLumDrawDIB& d, HDC dc, const RECT& rect, LONG f) {
    const LONG last = d.LastFrame;
    if (f == last + 1) {
        DrawOne(d, dc, rect, f, 0);
        return;
    }
    const LONG key = d.Stream->NearestKeyFrame(f);
    LONG start = key;
    if (f > last && last > key)
        start = last; // frames from the key frame on are in the buffer already
    else if (key < 0)
        start = f; // no key frame before it: the frame alone, as well as it goes
    for (LONG i = start; i < f && !d.Failed; ++i)
        DrawOne(d, dc, rect, i, vfw::DDF_HURRYUP);
    if (!d.Failed) DrawOne(d, dc, rect, f, 0);
}

} // namespace

DWORD AVIFrameTime(long double rate) {
    if (!(rate > 0) || !std::isfinite(rate)) return 0;
    const long double ms = 1000.0L / rate;
    if (!std::isfinite(ms) || ms >= static_cast<long double>(std::numeric_limits<DWORD>::max()))
        return 0;
    return static_cast<DWORD>(ms);
}

PLumDrawDIB AVIInitDrawing(TLumAVIStream* stream) {
    auto worker = std::make_unique<TLumAVIVideoWorker>(stream);
    auto draw = std::make_unique<TLumDrawDIB>();
    draw->Failed = false;
    const DWORD frameTime = AVIFrameTime(worker->GetFrameRate());
    draw->DrawHandle = vfw::DrawDibOpen();
    vfw::DrawDibStart(draw->DrawHandle, frameTime);
    bool decode = DecompFrames;
    if (!decode) {
        try {
            // The stream's formats name run-length 8 "Rle8".
            const TBitmapInfoHeader* format = worker->GetFormat(0);
            decode = format && DIB_Compression(format) == platform::MakeFourCC("Rle8");
        } catch (const Exception&) {
            decode = false; // no format to read: raw samples, which fail to draw
        }
    }
    if (decode) {
        try {
            worker->BeginReading(nullptr);
            draw->Decompress = true;
        } catch (const Exception&) {
            draw->Decompress = false; // raw samples instead
        }
    }
    draw->LastFrame = -1;
    draw->LastKeyFrame = -1;
    draw->FirstDraw = true;
    draw->Stream = stream;
    draw->Worker = worker.release();
    return draw.release();
}

bool AVIBeginDrawing(PLumDrawDIB draw, HDC dc, const RECT& rect, LONG frame) {
    if (!draw) return false;
    draw->FirstDraw = true;
    draw->LastFrame = draw->LastKeyFrame;
    const TBitmapInfoHeader* format =
        draw->Decompress ? draw->Worker->GetDIB(frame) : draw->Worker->GetFormat(frame);
    if (format &&
        vfw::DrawDibBegin(draw->DrawHandle, dc, Width(rect), Height(rect), format,
                          DIB_Width(format), std::abs(DIB_Height(format)), vfw::DDF_BUFFER)) {
        vfw::DrawDibRealize(draw->DrawHandle, dc, 0);
        return true;
    }
    Fail(*draw, dc, rect);
    return false;
}

bool AVIDrawFrame(PLumDrawDIB draw, HDC dc, const RECT& rect, LONG frame) {
    if (!draw) return false;
    if (draw->Failed) {
        FillFailed(dc, rect);
    } else if (frame == draw->LastFrame && !draw->FirstDraw) {
        // The buffer is empty when that frame had no pixels: draw it then.
        if (!vfw::DrawDibDraw(draw->DrawHandle, dc, rect.left, rect.top, Width(rect), Height(rect),
                              nullptr, nullptr, 0, 0, 0, 0, vfw::DDF_UPDATE))
            DrawOne(*draw, dc, rect, frame, 0);
    } else {
        draw->FirstDraw = false;
        DrawSequence(*draw, dc, rect, frame);
    }
    draw->LastFrame = frame;
    return !draw->Failed;
}

void AVIEndDrawing(PLumDrawDIB draw) {
    if (draw) vfw::DrawDibEnd(draw->DrawHandle);
}

void AVIDoneDrawing(PLumDrawDIB& draw) {
    if (!draw) return;
    vfw::DrawDibStop(draw->DrawHandle);
    vfw::DrawDibClose(draw->DrawHandle);
    if (draw->Decompress) draw->Worker->EndReading();
    delete draw->Worker;
    delete draw;
    draw = nullptr;
}

} // namespace lum
