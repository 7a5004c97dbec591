#include "core/lumobj.h"

#include "platform/base/resources.h"
#include "platform/gdi/canvas.h"

namespace lum {

void TLumObject::BeginUpdate() {
    if (UpdateCount == 0) SetUpdateState(true);
    ++UpdateCount;
}

void TLumObject::EndUpdate() {
    --UpdateCount;
    if (UpdateCount == 0) SetUpdateState(false);
}

void TLumObject::SetUpdateState(bool updating) {
    if (!updating) Changed();
}

void TLumObject::Changed() {
    if (UpdateCount == 0 && OnChange) OnChange(this);
}

TLumBevel::TLumBevel() = default;

void TLumBevel::Assign(const TPersistent* source) {
    auto* src = dynamic_cast<const TLumBevel*>(source);
    if (src == nullptr) {
        TLumObject::Assign(source);
        return;
    }
    if (src == this) return;
    BeginUpdate();
    struct EndGuard {
        TLumBevel* b;
        ~EndGuard() { b->EndUpdate(); }
    } guard{this};
    SetBevelInner(src->FBevelInner);
    SetBevelOuter(src->FBevelOuter);
    SetBevelInnerWidth(src->FBevelInnerWidth);
    SetBevelOuterWidth(src->FBevelOuterWidth);
    SetBorderStyle(src->FBorderStyle);
    SetBorderWidth(src->FBorderWidth);
    SetBorderSpace(src->FBorderSpace);
    SetColors(0, src->FColors[0]);
    SetColors(1, src->FColors[1]);
    SetColors(4, src->FColors[4]);
    SetColors(5, src->FColors[5]);
    SetColors(2, src->FColors[2]);
    SetColors(3, src->FColors[3]);
}

#define LUM_BEVEL_SETTER(Name, Field, Type)                                                        \
    void TLumBevel::Set##Name(Type value) {                                                        \
        if (Field == value) return;                                                                \
        Field = value;                                                                             \
        Changed();                                                                                 \
    }
LUM_BEVEL_SETTER(BevelInner, FBevelInner, TBevelCut)
LUM_BEVEL_SETTER(BevelOuter, FBevelOuter, TBevelCut)
LUM_BEVEL_SETTER(BevelInnerWidth, FBevelInnerWidth, int)
LUM_BEVEL_SETTER(BevelOuterWidth, FBevelOuterWidth, int)
LUM_BEVEL_SETTER(BorderStyle, FBorderStyle, TBorderStyle)
LUM_BEVEL_SETTER(BorderWidth, FBorderWidth, int)
LUM_BEVEL_SETTER(BorderSpace, FBorderSpace, int)
#undef LUM_BEVEL_SETTER

void TLumBevel::SetColors(int index, TColor value) {
    if (index < 0 || index > 5 || FColors[index] == value) return;
    FColors[index] = value;
    Changed();
}

int TLumBevel::GetBevelExtend() const {
    int extend = FBorderWidth + FBorderSpace;
    if (FBevelOuter != bvNone) extend += FBevelOuterWidth;
    if (FBevelInner != bvNone) extend += FBevelInnerWidth;
    if (FBorderStyle == bsSingle) extend += 1;
    return extend;
}

namespace {
// One 3D frame of Width rings inside R, shrinking R by Width on every side:
// top and left in Top, bottom and right in Bottom. Each ring is two
// polylines; the platform's polylines leave out their last point.
void Frame3D(platform::gdi::TCanvas& canvas, TRect& r, TColor top, TColor bottom, int width) {
    if (width <= 0) return;
    canvas.GetPen().SetWidth(1);
    --r.right;
    --r.bottom;
    for (int i = 0; i < width; ++i) {
        canvas.GetPen().SetColor(top);
        const TPoint upper[] = {{r.left, r.bottom}, {r.left, r.top}, {r.right, r.top}};
        canvas.Polyline(upper);
        canvas.GetPen().SetColor(bottom);
        const TPoint lower[] = {{r.right, r.top}, {r.right, r.bottom}, {r.left - 1, r.bottom}};
        canvas.Polyline(lower);
        ++r.left;
        ++r.top;
        --r.right;
        --r.bottom;
    }
    ++r.right;
    ++r.bottom;
}

void BevelCut(platform::gdi::TCanvas& canvas, TRect& r, TBevelCut cut, TColor light, TColor shadow,
              int width) {
    if (cut == bvLowered)
        Frame3D(canvas, r, shadow, light, width);
    else if (cut == bvRaised)
        Frame3D(canvas, r, light, shadow, width);
}
} // namespace

TRect TLumBevel::PaintBevel(platform::gdi::TCanvas& canvas, const TRect& rect, bool fill) {
    TRect r = rect;
    if (FBorderStyle == bsSingle) Frame3D(canvas, r, clWindowFrame, clWindowFrame, 1);
    BevelCut(canvas, r, FBevelOuter, GetOuterLightColor(), GetOuterShadowColor(), FBevelOuterWidth);
    if (fill) {
        Frame3D(canvas, r, GetBorderColor(), GetBorderColor(), FBorderWidth);
    } else if (FBorderWidth > 0) {
        r.left += FBorderWidth;
        r.top += FBorderWidth;
        r.right -= FBorderWidth;
        r.bottom -= FBorderWidth;
    }
    BevelCut(canvas, r, FBevelInner, GetInnerLightColor(), GetInnerShadowColor(), FBevelInnerWidth);
    if (FBorderSpace != 0)
        Frame3D(canvas, r, GetBorderSpaceColor(), GetBorderSpaceColor(), FBorderSpace);
    return r;
}

std::string LoadResStr(std::uint16_t ident) {
    return platform::LoadString(28000u + ident);
}

} // namespace lum
