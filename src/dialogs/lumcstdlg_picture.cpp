#include "dialogs/lumcstdlg_picture.h"

#include <QCheckBox>
#include <QEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QWidget>
#include <filesystem>

#include "core/lumobj.h"
#include "dialogs/lumcstdlg_paint.h"
#include "dialogs/lumcstdlg_wave.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/filedialog.h"
#include "platform/ui/uiservice.h"
#include "platform/ui/widgetsurface.h"

namespace lum {

namespace gdi = platform::gdi;
namespace ui = platform::ui;
using gdi::HDC;
using platform::RECT;

// The preview control's paint procedure while the dialog is shown.
class TLumPictureOpenDialog::Area : public QObject {
public:
    Area(TLumPictureOpenDialog* owner, QWidget* hook) : owner_(owner), hook_(hook) {
        preview_ = ui::GetDlgItem(hook, idPicture);
        if (!preview_) return;
        surface_ = std::make_unique<ui::WidgetSurface>(preview_, [this](gdi::TCanvas& c) {
            owner_->DrawPicture(c.GetHandle(), RECT{0, 0, preview_->width(), preview_->height()});
        });
        preview_->installEventFilter(this);
    }
    ~Area() override {
        if (preview_) preview_->removeEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || watched != preview_.data() || !surface_) return false;
        try {
            surface_->PaintEvent(static_cast<QPaintEvent*>(event),
                                 gdi::ToQColor(owner_->GetColor()));
        } catch (const std::exception& e) {
            ui::HandleException(e);
        }
        return true;
    }

    TLumPictureOpenDialog* owner_;
    QPointer<QWidget> hook_;
    QPointer<QWidget> preview_;
    std::unique_ptr<ui::WidgetSurface> surface_;
};

TLumPictureOpenDialog::TLumPictureOpenDialog(TComponent* owner) : TLumCustomOpenDialog(owner) {
    SetDefaultExt(gdi::PictureDefaultExt());
    SetFilter(gdi::PictureFilter());
    SetTitle(LoadResStr(8));
    SetOptions(GetOptions().Include(ofHideReadOnly).Include(ofNoNetworkButton));
    SetTemplate("CustomPictureOpenDlg");
}

TLumPictureOpenDialog::~TLumPictureOpenDialog() = default;

void TLumPictureOpenDialog::Invalidate() {
    if (FArea && FArea->preview_) FArea->preview_->update();
}

void TLumPictureOpenDialog::DoCreate() {
    FArea = std::make_unique<Area>(this, GetHandle());
    if (auto* preview = qobject_cast<QCheckBox*>(ui::GetDlgItem(GetHandle(), idPreview))) {
        preview->setText(QString::fromStdString(LoadResStr(7)));
        preview->setChecked(FPreview);
    }
    TLumCustomOpenDialog::DoCreate();
}

void TLumPictureOpenDialog::DoDestroy() {
    FArea.reset();
    TLumCustomOpenDialog::DoDestroy();
}

void TLumPictureOpenDialog::DoSelChanged(const std::string& fileName) {
    if (!fileName.empty()) {
        const std::string path = SelectedPathOf(fileName);
        std::error_code ec;
        if (path != FShownFile && std::filesystem::is_regular_file(path, ec)) {
            FPicture.LoadFromFile(path);
            FShownFile = path;
            Invalidate();
        }
    } else if (!FShownFile.empty()) {
        FPicture.Clear();
        FShownFile.clear();
        Invalidate();
    }
    TLumCustomOpenDialog::DoSelChanged(fileName);
}

void TLumPictureOpenDialog::DoCommand(QWidget* wnd, QWidget* parent, int cmd) {
    if (cmd == idPreview && FArea && wnd == FArea->hook_.data()) {
        if (auto* box = qobject_cast<QCheckBox*>(ui::GetDlgItem(wnd, idPreview)))
            FPreview = box->isChecked();
        Invalidate();
    }
    TLumCustomOpenDialog::DoCommand(wnd, parent, cmd);
}

RECT TLumPictureOpenDialog::PictureRect(const RECT& a, int w, int h, bool bitmap) {
    const int aw = a.right - a.left, ah = a.bottom - a.top;
    if (w < aw - 10 && h < ah - 10) {
        // Placed from the control's corner, as the area's own origin.
        const int x = (aw - w) / 2, y = (ah - h) / 2;
        return {x, y, x + w, y + h};
    }
    if (!bitmap) return a;
    if (h < w) {
        const double f = static_cast<double>(aw - 10) / w;
        const int nh = static_cast<int>(h * f);
        const int top = a.top + (ah - nh) / 2;
        return {a.left + 5, top, a.right - 5, top + nh};
    }
    const double f = static_cast<double>(ah - 10) / h;
    const int nw = static_cast<int>(w * f);
    const int left = a.left + (aw - nw) / 2;
    return {left, a.top + 5, left + nw, a.bottom - 5};
}

void TLumPictureOpenDialog::DrawPicture(HDC dc, const RECT& rect) {
    FillColor(dc, rect, FColor);
    const RECT a = FrameTwoRings(dc, rect);
    if (FPicture.Empty() || !FPreview) return;
    // Palettes change no colour on this display, so the bitmap's is not
    // selected.
    const bool bitmap = FPicture.GetKind() == gdi::TPictureKind::pkBitmap;
    FPicture.Draw(dc, PictureRect(a, FPicture.GetWidth(), FPicture.GetHeight(), bitmap));
}

TLumPictureSaveDialog::TLumPictureSaveDialog(TComponent* owner) : TLumPictureOpenDialog(owner) {
    SetTitle(LoadResStr(9));
}

bool TLumPictureSaveDialog::Execute() {
    return ExecuteWith(&ui::GetSaveFileNameA);
}

} // namespace lum
