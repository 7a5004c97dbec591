// The progress gauge (unit Lumgauge): a value between a minimum and a
// maximum shown as a whole percentage, as a bar, a pie, a needle on a half
// dial or text alone, with the percentage (after an optional caption)
// written over it. It paints inside its bevel through one off-screen
// bitmap. SetProgress repaints at once, but only when the shown percentage
// changes, so a long loop on the interface thread can call it freely.
#pragma once

#include <cstdint>
#include <string>

#include "controls/lumobj_controls.h"
#include "platform/gdi/graphics.h"

namespace lum {

enum TLumGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

// The gauge's behaviour. Setters clamp silently; the paint operations are
// virtual so that a descendant can draw a kind of its own.
class TLumCustomGauge : public TLumGraphicControl {
public:
    explicit TLumCustomGauge(QWidget* owner = nullptr);

    std::int32_t GetMinValue() const { return FMinValue; }
    // Clamped to -2147483647 .. MaxValue; Progress is left where it is.
    void SetMinValue(std::int32_t value);
    std::int32_t GetMaxValue() const { return FMaxValue; }
    // Clamped to MinValue .. 2147483647.
    void SetMaxValue(std::int32_t value);
    std::int32_t GetProgress() const { return FProgress; }
    // Clamped to MinValue .. MaxValue.
    void SetProgress(std::int32_t value);
    void AddProgress(std::int32_t delta);
    TLumGaugeKind GetKind() const { return FKind; }
    void SetGaugeKind(TLumGaugeKind value);
    void SetKind(TLumGaugeKind value) { SetGaugeKind(value); }
    bool GetShowText() const { return FShowText; }
    void SetShowText(bool value);
    TColor GetForeColor() const { return FForeColor; }
    void SetForeColor(TColor value);
    TColor GetBackColor() const { return FBackColor; }
    void SetBackColor(TColor value);
    bool GetBWText() const { return FBWText; }
    void SetBWText(bool value);

    // (Progress - Min) * 100 / (Max - Min) truncated; 0 for an empty range.
    // Outside 0 to 100 while Progress lies outside a changed range.
    int GetPercentDone() const;
    // The text written over the image: "45%" or "Extracted: 45%".
    std::string GetPercentText() const;

protected:
    void Paint() override;
    virtual void PaintImage(TCanvas& canvas, const TRect& rect);
    virtual void PaintText(TCanvas& canvas, const TRect& rect);
    virtual void PaintAsBar(TCanvas& canvas, const TRect& rect, bool horizontal);
    virtual void PaintAsPie(TCanvas& canvas, const TRect& rect);
    virtual void PaintAsNeedle(TCanvas& canvas, const TRect& rect);
    virtual void PaintAsNothing(TCanvas& canvas, const TRect& rect);

    // The filled part of Size pixels: Size * percent div 100.
    int Scale(int size) const;

private:
    std::int32_t FMinValue = 0;
    std::int32_t FMaxValue = 100;
    std::int32_t FProgress = 0;
    TLumGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    TColor FForeColor = clActiveCaption;
    TColor FBackColor = clWhite;
    bool FBWText = false;
};

// The gauge as forms place it. Its Caption (the control's) is written
// before the percentage.
class TLumGauge : public TLumCustomGauge {
public:
    using TLumCustomGauge::TLumCustomGauge;
};

} // namespace lum
