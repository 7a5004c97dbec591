#include "controls/lumobj_controls.h"

#include <QPoint>

#include "platform/gdi/gdi.h"

namespace lum {

namespace {
TPoint MapBetween(const QWidget* from, const QWidget* to, TPoint p) {
    const QPoint screen = from->mapToGlobal(QPoint(p.x, p.y));
    const QPoint q = to->mapFromGlobal(screen);
    return {q.x(), q.y()};
}

TRect ToScreen(const QWidget* w, const TRect& r) {
    const QPoint tl = w->mapToGlobal(QPoint(r.left, r.top));
    const QPoint br = w->mapToGlobal(QPoint(r.right, r.bottom));
    return {tl.x(), tl.y(), br.x(), br.y()};
}

TRect Shrunk(int width, int height, int by) {
    return {by, by, width - by, height - by};
}

// A bevel whose changes reach Handler.
std::unique_ptr<TLumBevel> MakeBevel(std::function<void(TLumObject*)> handler) {
    auto bevel = std::make_unique<TLumBevel>();
    bevel->OnChange = std::move(handler);
    return bevel;
}

void DropBevel(std::unique_ptr<TLumBevel>& bevel) {
    bevel->OnChange = nullptr;
    bevel.reset();
}

void FillSolid(TCanvas& canvas, const TRect& r, TColor color) {
    canvas.GetBrush().SetStyle(platform::gdi::bsSolid);
    canvas.GetBrush().SetColor(color);
    canvas.FillRect(r);
}
} // namespace

// --- TLumWinControl ---

TLumWinControl::TLumWinControl(QWidget* owner) : TWinControl(owner) {}

void TLumWinControl::ChangeDesigning(bool value) {
    SetDesigning(value);
    UpdateShowing();
}

TPoint TLumWinControl::ClientToClient(const QWidget* control, TPoint point) const {
    return MapBetween(control, this, point);
}

// --- TLumCustomControl ---

TLumCustomControl::TLumCustomControl(QWidget* owner) : TCustomControl(owner) {
    SetOpaque(true);
    FBevel = MakeBevel([this](TLumObject* sender) { BevelChanged(sender); });
}

TLumCustomControl::~TLumCustomControl() {
    DropBevel(FBevel);
}

int TLumCustomControl::BevelExtend() const {
    return FBevel ? FBevel->GetBevelExtend() : 0;
}

TRect TLumCustomControl::BeveledRect() const {
    return Shrunk(width(), height(), BevelExtend());
}

TRect TLumCustomControl::ScreenRect(const TRect& rect) const {
    return ToScreen(this, rect);
}

TPoint TLumCustomControl::ClientToClient(const QWidget* control, TPoint point) const {
    return MapBetween(control, this, point);
}

void TLumCustomControl::ChangeDesigning(bool value) {
    SetDesigning(value);
    UpdateShowing();
}

void TLumCustomControl::Paint() {
    TCanvas& canvas = GetCanvas();
    const TRect inner = FBevel->PaintBevel(canvas, GetClientRect(), true);
    FillSolid(canvas, inner, GetColor());
}

void TLumCustomControl::Changed() {
    Invalidate();
}

void TLumCustomControl::BevelChanged(TLumObject*) {
    Changed();
}

// --- TLumCustomPanel ---

TLumCustomPanel::TLumCustomPanel(QWidget* owner) : TCustomPanel(owner) {
    SetOpaque(true); // a panel paints all of itself, as the toolkit's does
    FBevel = MakeBevel([this](TLumObject* sender) { BevelChanged(sender); });
    FFillBevel = true;
}

TLumCustomPanel::~TLumCustomPanel() {
    DropBevel(FBevel);
}

void TLumCustomPanel::SetFillBevel(bool value) {
    if (FFillBevel == value) return;
    FFillBevel = value;
    Invalidate();
}

int TLumCustomPanel::BevelExtend() const {
    return FBevel ? FBevel->GetBevelExtend() : 0;
}

TRect TLumCustomPanel::BeveledRect() const {
    return Shrunk(width(), height(), BevelExtend());
}

TRect TLumCustomPanel::ScreenRect(const TRect& rect) const {
    return ToScreen(this, rect);
}

TPoint TLumCustomPanel::ClientToClient(const QWidget* control, TPoint point) const {
    return MapBetween(control, this, point);
}

void TLumCustomPanel::ChangeDesigning(bool value) {
    SetDesigning(value);
    UpdateShowing();
}

void TLumCustomPanel::AlignControls(TControl* control, TRect& rect) {
    if (FBevel) {
        const int e = FBevel->GetBevelExtend();
        rect = {rect.left + e, rect.top + e, rect.right - e, rect.bottom - e};
    }
    TCustomPanel::AlignControls(control, rect);
}

void TLumCustomPanel::Paint() {
    if (OnPaint) {
        OnPaint(this);
        return;
    }
    TCanvas& canvas = GetCanvas();
    TRect inner = FBevel->PaintBevel(canvas, GetClientRect(), FFillBevel);
    if (OnClientFill)
        OnClientFill(this, canvas, inner);
    else
        FillSolid(canvas, inner, GetColor());

    if (GetCaption().empty()) return;
    canvas.GetBrush().SetStyle(platform::gdi::bsClear);
    canvas.SetFont(GetFont());
    const int h = canvas.TextHeight("W");
    // Centred by floor division, so that a panel lower than its text still
    // shows the middle of it.
    const int twice = inner.top + inner.bottom - h;
    inner.top = twice >= 0 ? twice / 2 : -((-twice + 1) / 2);
    inner.bottom = inner.top + h;
    static constexpr platform::UINT kAlignFlags[] = {
        platform::gdi::DT_LEFT, platform::gdi::DT_RIGHT, platform::gdi::DT_CENTER};
    canvas.DrawText(GetCaption(), inner,
                    platform::gdi::DT_EXPANDTABS | platform::gdi::DT_VCENTER |
                        kAlignFlags[GetAlignment()]);
}

void TLumCustomPanel::Changed() {
    Invalidate();
}

void TLumCustomPanel::BevelChanged(TLumObject*) {
    Realign();
    Changed();
}

// --- TLumGraphicControl ---

TLumGraphicControl::TLumGraphicControl(QWidget* owner) : TGraphicControl(owner) {
    SetOpaque(true);
    FBevel = MakeBevel([this](TLumObject* sender) { BevelChanged(sender); });
    FTransparent = false;
}

TLumGraphicControl::~TLumGraphicControl() {
    DropBevel(FBevel);
}

void TLumGraphicControl::SetTransparent(bool value) {
    if (FTransparent == value) return;
    FTransparent = value;
    SetOpaque(!value);
    Refresh();
}

int TLumGraphicControl::BevelExtend() const {
    return FBevel ? FBevel->GetBevelExtend() : 0;
}

TRect TLumGraphicControl::BeveledRect() const {
    return Shrunk(width(), height(), BevelExtend());
}

TRect TLumGraphicControl::ScreenRect(const TRect& rect) const {
    return ToScreen(this, rect);
}

TPoint TLumGraphicControl::ClientToClient(const QWidget* control, TPoint point) const {
    return MapBetween(control, this, point);
}

void TLumGraphicControl::ChangeDesigning(bool value) {
    SetDesigning(value);
    UpdateShowing();
}

void TLumGraphicControl::Paint() {
    TCanvas& canvas = GetCanvas();
    const TRect inner = FBevel->PaintBevel(canvas, GetClientRect(), true);
    if (!FTransparent) FillSolid(canvas, inner, GetColor());
}

void TLumGraphicControl::Changed() {
    Invalidate();
}

void TLumGraphicControl::BevelChanged(TLumObject*) {
    Changed();
}

} // namespace lum
