// The library's control bases (unit Lumobj, toolkit half). The three
// bevelled bases own a TLumBevel, repaint when it changes and paint it
// around their client area; the panel also keeps its aligned children off
// the bevel. Every base can switch its design-time state.
#pragma once

#include <functional>
#include <memory>

#include "controls/controls.h"
#include "core/lumobj.h"

namespace lum {

// Fills a panel's inner rectangle instead of its colour; Rect may be moved
// (the caption is centred in what it leaves).
using TLumClientFill = std::function<void(QWidget* sender, TCanvas& canvas, TRect& rect)>;

// A windowed control base without a bevel.
class TLumWinControl : public TWinControl {
public:
    explicit TLumWinControl(QWidget* owner = nullptr);
    // Switches the design-time state and shows or hides the control for it.
    virtual void ChangeDesigning(bool value);
    // Point in Control's client coordinates, in this control's.
    TPoint ClientToClient(const QWidget* control, TPoint point) const;
};

// A self-painted windowed control inside a bevel, filled in its colour.
class TLumCustomControl : public TCustomControl {
public:
    explicit TLumCustomControl(QWidget* owner = nullptr);
    ~TLumCustomControl() override;

    TLumBevel* GetBevel() const { return FBevel.get(); }
    // Copies the values; never takes Value.
    void SetBevel(const TLumBevel* value) { FBevel->Assign(value); }
    int BevelExtend() const;
    // (0, 0, Width, Height) without the bevel.
    TRect BeveledRect() const;
    TRect ScreenRect(const TRect& rect) const;
    TPoint ClientToClient(const QWidget* control, TPoint point) const;
    virtual void ChangeDesigning(bool value);

protected:
    void Paint() override;
    // Repaints later; descendants add their own reaction.
    virtual void Changed();
    virtual void BevelChanged(TLumObject* sender);

private:
    std::unique_ptr<TLumBevel> FBevel;
};

// A panel inside a bevel. OnPaint, when set, paints everything itself;
// otherwise the bevel, the fill (OnClientFill or the colour) and the
// caption at the panel's Alignment are painted.
class TLumCustomPanel : public TCustomPanel {
public:
    explicit TLumCustomPanel(QWidget* owner = nullptr);
    ~TLumCustomPanel() override;

    TLumBevel* GetBevel() const { return FBevel.get(); }
    void SetBevel(const TLumBevel* value) { FBevel->Assign(value); }
    bool GetFillBevel() const { return FFillBevel; }
    void SetFillBevel(bool value);
    int BevelExtend() const;
    TRect BeveledRect() const;
    TRect ScreenRect(const TRect& rect) const;
    TPoint ClientToClient(const QWidget* control, TPoint point) const;
    virtual void ChangeDesigning(bool value);

    // Shrinks Rect by the bevel before aligning the children in it.
    void AlignControls(TControl* control, TRect& rect) override;

    TControlNotifyEvent OnPaint;
    TLumClientFill OnClientFill;

protected:
    void Paint() override;
    virtual void Changed();
    virtual void BevelChanged(TLumObject* sender);

private:
    std::unique_ptr<TLumBevel> FBevel;
    bool FFillBevel = true;
};

// A graphic control inside a bevel. A transparent one paints only the
// bevel and lets its parent show through the inside.
class TLumGraphicControl : public TGraphicControl {
public:
    explicit TLumGraphicControl(QWidget* owner = nullptr);
    ~TLumGraphicControl() override;

    TLumBevel* GetBevel() const { return FBevel.get(); }
    void SetBevel(const TLumBevel* value) { FBevel->Assign(value); }
    bool GetTransparent() const { return FTransparent; }
    void SetTransparent(bool value);
    int BevelExtend() const;
    TRect BeveledRect() const;
    TRect ScreenRect(const TRect& rect) const;
    TPoint ClientToClient(const QWidget* control, TPoint point) const;
    virtual void ChangeDesigning(bool value);

protected:
    void Paint() override;
    virtual void Changed();
    virtual void BevelChanged(TLumObject* sender);

private:
    std::unique_ptr<TLumBevel> FBevel;
    bool FTransparent = false;
};

} // namespace lum
