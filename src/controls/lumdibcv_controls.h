// The DIB graphic control (unit Lumdibcv, toolkit half): a graphic control
// that owns a DIB canvas of its own size and a background picture.
// Descendants draw into the canvas in drawing passes; Paint copies the
// canvas inside the bevel in one block, and FastDraw draws at once outside
// a paint, through the control's window surface.
#pragma once

#include <functional>
#include <memory>

#include "controls/lumobj_controls.h"
#include "video/lumdibcv.h"

namespace lum {

// A drawing procedure of FastDraw.
using TLumDIBDrawProc = std::function<void(bool clear)>;

class TLumDIBGraphicControl : public TLumGraphicControl {
public:
    explicit TLumDIBGraphicControl(QWidget* owner = nullptr);
    ~TLumDIBGraphicControl() override;

    TLumDIBCanvas& GetDIBCanvas() { return *FCanvas; }
    int GetBPP() const { return FCanvas->GetBitsPerPixel(); }
    virtual void SetBPP(int value);
    // The control's own copy; changing it sets the canvas's background.
    TBitmap& GetBackGround() { return *FBackGround; }
    void SetBackGround(const TBitmap* value);
    bool GetUseBackGround() const { return FLoading ? FLoadingUseBackGround : FUseBackGround; }
    void SetUseBackGround(bool value);
    // The palette the toolkit realises for the control: the canvas's while
    // PaletteRealize is on, else none.
    HPALETTE GetPalette();

    // Inside a pass or not: the background section copied over the
    // surface, or, without one, the surface cleared in the control's
    // colour.
    virtual void DrawBackGround();
    // When the control shows, calls Proc(Clear) with GetCanvas() on the
    // control's window, clipped to it, and shows what it drew at once.
    void FastDraw(const TLumDIBDrawProc& proc, bool clear);

    // The control's and then the canvas's bounds.
    void SetBounds(int left, int top, int width, int height);

    // While loading, "use background" is only remembered; Loaded applies it.
    void BeginLoading() { FLoading = true; }
    virtual void Loaded();
    bool Loading() const { return FLoading; }

protected:
    void Paint() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BackGroundChanged();
    void ApplyBackGround();

    std::unique_ptr<TLumDIBCanvas> FCanvas;
    std::unique_ptr<TBitmap> FBackGround;
    bool FUseBackGround = false;
    bool FLoadingUseBackGround = false;
    bool FLoading = false;
};

} // namespace lum
