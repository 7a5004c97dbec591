// The root of the library: the persistent object with update counting and
// one change event, the bevel description every visual base owns, the
// non-visual component bases, and access to the message table.
#pragma once

#include <functional>
#include <string>

#include "core/classes.h"
#include "platform/base/colors.h"
#include "platform/base/wintypes.h"

namespace lum {

using TRect = platform::RECT;
using TPoint = platform::POINT;

class TLumObject;
using TNotifyEvent = std::function<void(TLumObject* sender)>;

// A persistent object that reports changes through OnChange. Changes made
// between BeginUpdate and EndUpdate are swallowed; the closing EndUpdate
// reports one.
class TLumObject : public TPersistent {
public:
    TLumObject() = default;
    TLumObject(const TLumObject&) = delete;
    TLumObject& operator=(const TLumObject&) = delete;

    void BeginUpdate();
    void EndUpdate();
    int GetUpdateCount() const { return UpdateCount; }

    TNotifyEvent OnChange;

protected:
    virtual void SetUpdateState(bool updating);
    virtual void Changed();

    int UpdateCount = 0;
};

enum TBevelCut : std::uint8_t { bvNone, bvLowered, bvRaised, bvSpace };
enum TBorderStyle : std::uint8_t { bsNone, bsSingle };

// Describes a layered bevel and border around a rectangle: border line,
// outer bevel, border band, inner bevel, border space, outside in.
class TLumBevel : public TLumObject {
public:
    TLumBevel();

    void Assign(const TPersistent* source) override;

    TBevelCut GetBevelInner() const { return FBevelInner; }
    TBevelCut GetBevelOuter() const { return FBevelOuter; }
    int GetBevelInnerWidth() const { return FBevelInnerWidth; }
    int GetBevelOuterWidth() const { return FBevelOuterWidth; }
    TBorderStyle GetBorderStyle() const { return FBorderStyle; }
    int GetBorderWidth() const { return FBorderWidth; }
    int GetBorderSpace() const { return FBorderSpace; }
    TColor GetBorderColor() const { return FColors[0]; }
    TColor GetBorderSpaceColor() const { return FColors[1]; }
    TColor GetInnerLightColor() const { return FColors[2]; }
    TColor GetInnerShadowColor() const { return FColors[3]; }
    TColor GetOuterLightColor() const { return FColors[4]; }
    TColor GetOuterShadowColor() const { return FColors[5]; }
    TColor GetColors(int index) const { return FColors[index]; }

    void SetBevelInner(TBevelCut value);
    void SetBevelOuter(TBevelCut value);
    void SetBevelInnerWidth(int value);
    void SetBevelOuterWidth(int value);
    void SetBorderStyle(TBorderStyle value);
    void SetBorderWidth(int value);
    void SetBorderSpace(int value);
    // Index: 0 BorderColor, 1 BorderSpaceColor, 2 InnerLightColor,
    // 3 InnerShadowColor, 4 OuterLightColor, 5 OuterShadowColor.
    void SetColors(int index, TColor value);
    void SetBorderColor(TColor v) { SetColors(0, v); }
    void SetBorderSpaceColor(TColor v) { SetColors(1, v); }
    void SetInnerLightColor(TColor v) { SetColors(2, v); }
    void SetInnerShadowColor(TColor v) { SetColors(3, v); }
    void SetOuterLightColor(TColor v) { SetColors(4, v); }
    void SetOuterShadowColor(TColor v) { SetColors(5, v); }

    // Pixels the bevel takes from each side of a rectangle.
    int GetBevelExtend() const;

private:
    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvLowered;
    int FBevelInnerWidth = 1;
    int FBevelOuterWidth = 1;
    TBorderStyle FBorderStyle = bsNone;
    int FBorderWidth = 0;
    int FBorderSpace = 0;
    TColor FColors[6] = {clBtnFace, clBlack, clBtnHighlight, clBtnShadow, clBtnHighlight,
                         clBtnShadow};
};

// Non-visual component base with a switchable design-time state.
class TLumComponent : public TComponent {
public:
    using TComponent::TComponent;
    virtual void ChangeDesigning(bool value) { SetDesigning(value); }
};

class TLumNonVisualComponent : public TLumComponent {
public:
    using TLumComponent::TLumComponent;
};

// Base of the library's dialog components.
class TLumCommonDialog : public TComponent {
public:
    using TComponent::TComponent;
};

// Text 28000 + Ident of the message table; empty when there is none.
std::string LoadResStr(std::uint16_t ident);

// True when Instance's class is T or derives from it.
template <class T, class U>
bool InheritsFromEx(const U* instance) {
    return dynamic_cast<const T*>(instance) != nullptr;
}

} // namespace lum
