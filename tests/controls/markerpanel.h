// Helpers of the marker panel tests: a panel that counts its paints, shown
// in a form on the offscreen screen, with its back buffer readable and the
// mouse driven through QTest on the real widget.
#pragma once

#include <QApplication>
#include <QtTest/QTest>
#include <cstdint>
#include <string>
#include <vector>

#include "controls/lumpanel.h"
#include "controltest.h"
#include "editing/lummrklst.h"
#include "platform/gdi/qtgdi.h"

namespace lum::test {

class CountedPanel : public TLumMarkerPanel {
public:
    using TLumMarkerPanel::TLumMarkerPanel;
    int paints = 0;

protected:
    void Paint() override {
        ++paints;
        TLumMarkerPanel::Paint();
    }
};

inline void Settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// A black panel (so that inverted lines show in their own colours) of
// Width by Height inside a form, shown and painted.
struct ShownPanel {
    QWidget form;
    CountedPanel* panel;
    int row; // the row the mouse moves along

    explicit ShownPanel(int width = 403, int height = 60) {
        form.resize(width + 40, height + 40);
        panel = new CountedPanel(&form);
        panel->SetBounds(20, 20, width, height);
        panel->SetColor(clBlack);
        row = height / 2;
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        Settle();
    }

    // The panel's back buffer at (x, y), as 0x00BBGGRR.
    std::uint32_t Buffer(int x, int y) const {
        auto surface = platform::gdi::FindWindowSurface(panel);
        auto lock = surface->Lock();
        return Px(surface->Buffer(), x, y);
    }
    // The inner columns of row Y that are not black.
    std::vector<int> LitColumns(int y) const {
        std::vector<int> lit;
        const int e = panel->BevelExtend();
        for (int x = e; x < panel->width() - e; ++x)
            if (Buffer(x, y) != 0) lit.push_back(x);
        return lit;
    }

    void Press(int x, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(panel, button, {}, QPoint(x, row));
    }
    void Release(int x, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(panel, button, {}, QPoint(x, row));
    }
    // With a button held the move goes straight to the panel; with none it
    // moves the pointer, and the screen reports it.
    void Move(int x) { QTest::mouseMove(panel, QPoint(x, row)); }
    // Press at From, move there in Steps and release.
    void Drag(int from, int to, int steps = 10, Qt::MouseButton button = Qt::LeftButton) {
        Press(from, button);
        for (int i = 1; i <= steps; ++i)
            Move(from + (to - from) * i / steps);
        Release(to, button);
    }
    int Column(std::int32_t value) const { return panel->X_ToPixel(value); }
};

inline TLumMarker MakeMarker(std::int32_t id, std::int32_t offset, const std::string& name,
                             TColor color, bool locked = false, std::int32_t connected = 0) {
    TLumMarker m{};
    m.ID = id;
    m.ConnectedID = connected;
    m.Offset = offset;
    m.SetName(name);
    m.Visible = 1;
    m.Locked = locked ? 1 : 0;
    m.Color = color;
    return m;
}

} // namespace lum::test
