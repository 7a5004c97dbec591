#include "app/mainform.h"

#include "app/formloader.h"
#include "platform/gdi/gdi.h"
#include "ui_mainform.h"

namespace lum::app {

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent), OpenDialog(std::make_unique<TLumAVIOpenDialog>()),
      AVIFile(std::make_unique<TLumAVIFile>()), ui(std::make_unique<Ui::MainForm>()) {
    ui->setupUi(this);
    LoadFormProperties(this);
    LoadOpenDialogProperties(this, "OpenDialog", *OpenDialog);
}

TMainForm::~TMainForm() {
    if (FramePalette) platform::gdi::DeleteObject(FramePalette);
}

void TMainForm::btnExtractClick(const TBitmapInfoHeader* dib) {
    HPALETTE previous = FramePalette;
    DIB_DIBToBitmap(dib, FrameBitmap, FramePalette);
    if (previous && previous != FramePalette) platform::gdi::DeleteObject(previous);
}

} // namespace lum::app
