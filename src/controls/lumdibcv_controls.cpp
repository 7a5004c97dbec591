#include "controls/lumdibcv_controls.h"

#include <QResizeEvent>

#include "platform/gdi/gdi.h"

namespace lum {

TLumDIBGraphicControl::TLumDIBGraphicControl(QWidget* owner)
    : TLumGraphicControl(owner), FCanvas(std::make_unique<TLumDIBCanvas>()),
      FBackGround(std::make_unique<TBitmap>()) {
    FCanvas->SetPaletteRealize(false);
    FCanvas->SetPaletteMapped(false);
    FCanvas->SetBounds(0, 0, width(), height());
    FBackGround->OnChange = [this](TBitmap*) { BackGroundChanged(); };
}

TLumDIBGraphicControl::~TLumDIBGraphicControl() {
    FBackGround->OnChange = nullptr;
}

void TLumDIBGraphicControl::SetBPP(int value) {
    FCanvas->SetBitsPerPixel(value);
    Invalidate();
}

void TLumDIBGraphicControl::SetBackGround(const TBitmap* value) {
    if (value)
        FBackGround->Assign(*value);
    else
        FBackGround->SetHandle(nullptr);
}

void TLumDIBGraphicControl::SetUseBackGround(bool value) {
    if (FLoading) {
        FLoadingUseBackGround = value;
        return;
    }
    if (value == FUseBackGround) return;
    FUseBackGround = value;
    ApplyBackGround();
    Invalidate();
}

void TLumDIBGraphicControl::Loaded() {
    if (!FLoading) return;
    FLoading = false;
    FUseBackGround = FLoadingUseBackGround;
    ApplyBackGround();
    Invalidate();
}

void TLumDIBGraphicControl::BackGroundChanged() {
    if (Designing() && !FLoading) {
        // A picture chosen in the designer is meant to be used, with its
        // colours; removing it turns both off.
        const bool use = !FBackGround->Empty();
        FCanvas->SetPaletteRealize(use);
        FUseBackGround = use;
    }
    ApplyBackGround();
    Invalidate();
}

void TLumDIBGraphicControl::ApplyBackGround() {
    if (FLoading || FCanvas->Drawing()) return;
    const bool use = FUseBackGround && !FBackGround->Empty();
    if (!use && FCanvas->GetBackGroundBitmap().Empty()) return;
    FCanvas->SetBackGroundBitmap(use ? FBackGround.get() : nullptr);
}

HPALETTE TLumDIBGraphicControl::GetPalette() {
    if (!FCanvas->GetPaletteRealize()) return nullptr;
    FCanvas->CheckDIB();
    return FCanvas->GetPalette();
}

void TLumDIBGraphicControl::DrawBackGround() {
    TLumDIBPass pass(*FCanvas);
    TLumDIBCanvas& c = *FCanvas;
    if (c.GetBackGroundBits()) {
        const TLumDIBDrawState& s = DIB_DrawState();
        DIB_COPYDIBBITS(c.GetBackGroundBits(), s.biWidth, s.biHeight, 0, 0, 0, 0, s.biWidth,
                        s.biHeight);
    } else {
        c.DIB_SetTColor(GetColor());
        DIB_CLEAR();
    }
}

void TLumDIBGraphicControl::FastDraw(const TLumDIBDrawProc& proc, bool clear) {
    if (!proc || !isVisible() || visibleRegion().isEmpty()) return;
    TCanvas& canvas = GetCanvas();
    canvas.SetClipRect(GetClientRect());
    proc(clear);
    canvas.ResetClipRect();
    platform::gdi::GdiFlush();
}

void TLumDIBGraphicControl::SetBounds(int left, int top, int width, int height) {
    TLumGraphicControl::SetBounds(left, top, width, height);
    FCanvas->SetBounds(0, 0, this->width(), this->height());
}

void TLumDIBGraphicControl::Paint() {
    TLumGraphicControl::Paint();
    const TRect inner = BeveledRect();
    FCanvas->DIB_BitBlt(
        GetCanvas().GetHandle(),
        TRect{inner.left, inner.top, inner.right - inner.left, inner.bottom - inner.top},
        inner.left, inner.top);
}

void TLumDIBGraphicControl::resizeEvent(QResizeEvent* event) {
    TLumGraphicControl::resizeEvent(event);
    FCanvas->SetBounds(0, 0, width(), height());
}

} // namespace lum
