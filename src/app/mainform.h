// TMainForm: the holder form, built from the MainForm resource and never
// shown. It owns the video open dialog and the video file component that
// the main window works with, and converts decoded frames to display
// bitmaps for the extraction (btnExtractClick).
#pragma once

#include <QWidget>
#include <memory>

#include "dialogs/lumavidlg.h"
#include "video/lumavi.h"
#include "video/lumdib.h"

namespace Ui {
class MainForm;
}

namespace lum::app {

class TMainForm : public QWidget {
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Leaves a display bitmap of Dib in FrameBitmap and its palette in
    // FramePalette. The bitmap is taken over by whoever reads it (the
    // extraction's frame bitmap); the palette stays the form's, and the
    // one it replaces is released.
    void btnExtractClick(const TBitmapInfoHeader* dib);

    std::unique_ptr<TLumAVIOpenDialog> OpenDialog;
    std::unique_ptr<TLumAVIFile> AVIFile;
    HBITMAP FrameBitmap = nullptr;
    HPALETTE FramePalette = nullptr;

private:
    std::unique_ptr<Ui::MainForm> ui;
};

} // namespace lum::app
