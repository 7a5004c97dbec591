// The root of the library: the persistent object with update counting and
// one change event, the bevel description every visual base owns, the
// non-visual component bases, and access to the message table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/classes.h"
#include "platform/base/colors.h"
#include "platform/base/wintypes.h"

namespace lum {

namespace platform::gdi {
class TCanvas;
}

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

    // Paints the layers inside Rect on Canvas, outside in, and returns the
    // rectangle left inside them. With Fill false the border band is only
    // reserved, not painted. A bvSpace cut neither paints nor reserves its
    // width here, although GetBevelExtend counts it.
    virtual TRect PaintBevel(platform::gdi::TCanvas& canvas, const TRect& rect, bool fill);

private:
    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvLowered;
    int FBevelInnerWidth = 1;
    int FBevelOuterWidth = 1;
    TBorderStyle FBorderStyle = bsNone;
    int FBorderWidth = 0;
    int FBorderSpace = 0;
    TColor FColors[6] = {clBtnFace,   clBlack,        clBtnHighlight,
                         clBtnShadow, clBtnHighlight, clBtnShadow};
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

// One picture of a cursor or icon: 32-bit ARGB pixels (alpha in the top
// byte, 0 transparent), top row first. The hotspot is the pixel a cursor
// points with; an icon's is its centre.
struct TLumImageData {
    int Width = 0;
    int Height = 0;
    int HotspotX = 0;
    int HotspotY = 0;
    std::vector<std::uint32_t> Pixels;

    std::uint32_t Pixel(int x, int y) const {
        return Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                      static_cast<std::size_t>(x)];
    }
};

// A cursor or icon resource, toolkit-neutral: every size it holds, in the
// order stored. The toolkit layer turns it into its own cursor or icon.
struct TLumResImage {
    bool IsCursor = false;
    std::vector<TLumImageData> Images;

    // The image closest to Size pixels wide (the larger one on a tie).
    const TLumImageData& Best(int size) const;
};

// Cursor 2000 + Ident and icon 3000 + Ident of the program's resources;
// null when there is none or it cannot be read. Parsed once; the result
// lives as long as the program.
const TLumResImage* LoadResCursor(std::uint16_t ident);
const TLumResImage* LoadResIcon(std::uint16_t ident);

// Reads a .cur or .ico file image (uncompressed 1, 4, 8, 24 and 32-bit
// entries with their AND masks; PNG entries are skipped). Null when the
// bytes hold no readable image.
std::unique_ptr<TLumResImage> ParseIconResource(std::span<const std::byte> bytes);

// True when Instance's class is T or derives from it.
template <class T, class U>
bool InheritsFromEx(const U* instance) {
    return dynamic_cast<const T*>(instance) != nullptr;
}

} // namespace lum
