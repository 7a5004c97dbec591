// The picture open and save dialogs: the file dialog with an area beside it
// that shows the selected picture scaled to fit (bitmaps, icons and the
// other formats of the drawing service's picture registry, which also gives
// the default extension and the filter). The picture lives as long as the
// dialog component; the area's paint procedure only while it is shown.
#pragma once

#include <memory>
#include <string>

#include "dialogs/lumcstdlg.h"
#include "platform/base/colors.h"
#include "platform/gdi/gditypes.h"
#include "platform/gdi/picture.h"

namespace lum {

class TLumPictureOpenDialog : public TLumCustomOpenDialog {
public:
    static constexpr int idPicture = 1000;
    static constexpr int idPreview = 1001;

    explicit TLumPictureOpenDialog(TComponent* owner = nullptr);
    ~TLumPictureOpenDialog() override;

    TColor GetColor() const { return FColor; }
    void SetColor(TColor v) { FColor = v; }
    bool GetPreview() const { return FPreview; }
    void SetPreview(bool v) { FPreview = v; }
    const platform::gdi::TPicture& GetPicture() const { return FPicture; }
    // The file the picture holds; empty for none.
    const std::string& GetShownFile() const { return FShownFile; }

    // Paints the preview control.
    void DrawPicture(platform::gdi::HDC dc, const platform::RECT& rect);
    // Where DrawPicture puts a picture of Width x Height inside A, the area
    // within the frames.
    static platform::RECT PictureRect(const platform::RECT& a, int width, int height, bool bitmap);

protected:
    void DoCreate() override;
    void DoDestroy() override;
    void DoSelChanged(const std::string& fileName) override;
    void DoCommand(QWidget* wnd, QWidget* parent, int cmd) override;

private:
    class Area;
    void Invalidate();

    platform::gdi::TPicture FPicture;
    bool FPreview = false;
    TColor FColor = clWindow;
    std::string FShownFile;
    std::unique_ptr<Area> FArea;
};

class TLumPictureSaveDialog : public TLumPictureOpenDialog {
public:
    explicit TLumPictureSaveDialog(TComponent* owner = nullptr);
    bool Execute() override;
};

} // namespace lum
