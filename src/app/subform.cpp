#include "app/subform.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>

#include "app/extraction.h"
#include "app/formloader.h"
#include "app/mainform.h"
#include "audio/lumacm.h"
#include "audio/lumacmdlg_comp.h"
#include "controls/lumobj_cursors.h"
#include "platform/base/resources.h"
#include "platform/ui/uiservice.h"
#include "ui_subform.h"

namespace lum::app {

namespace {

// The window's side of an extraction: the fields' texts, the folder
// dialog's Directory, the holder form's conversion, the gauge and the
// application-wide cursor.
class WindowHost : public TExtractionHost {
public:
    WindowHost(TSubForm& form, TMainForm& holder) : form_(form), holder_(holder) {}

    std::string LevelText() override { return form_.NumIODistance->GetText(); }
    std::string StepText() override { return form_.NumIOSkip->GetText(); }
    std::string Directory() override { return form_.SaveFolderDialog->GetDirectory(); }
    HBITMAP ConvertFrame(const TBitmapInfoHeader* dib) override {
        holder_.btnExtractClick(dib);
        // The extraction's frame bitmap owns the handle from here on.
        return std::exchange(holder_.FrameBitmap, nullptr);
    }
    void SetBusy(bool busy) override {
        platform::ui::SetAppCursor(busy ? platform::ui::AppCursor::Wait
                                        : platform::ui::AppCursor::Default);
    }
    void ShowProgress(LONG maximum) override {
        form_.Gauge->SetMaxValue(maximum);
        form_.Gauge->SetProgress(0);
        form_.Gauge->SetVisible(true);
    }
    void SetProgress(LONG index) override { form_.Gauge->SetProgress(index); }
    void HideProgress() override { form_.Gauge->SetVisible(false); }

private:
    TSubForm& form_;
    TMainForm& holder_;
};

} // namespace

void InitApplication() {
    platform::ui::SetApplicationTitle("SNAPREEL");
    RegisterLumCursors();
    // The compression manager is loaded once for the program's life; the
    // program runs without it, with compressed audio unavailable.
    acmStartup();
    // The manager component says why compressed audio is missing in a box
    // of the window, not on a console the user does not see.
    TLumACM::ShowMessage = [](const std::string& text) {
        platform::ui::MessageBox(text, platform::ui::ApplicationTitle(),
                                 platform::ui::MB_OK | platform::ui::MB_ICONINFORMATION);
    };
    // The program's icon 3001 for every window.
    const auto icon = platform::FindResource("ICON", 3001);
    QPixmap pixmap;
    if (!icon.empty() && pixmap.loadFromData(reinterpret_cast<const uchar*>(icon.data()),
                                             static_cast<uint>(icon.size())))
        QApplication::setWindowIcon(QIcon(pixmap));
}

TSubForm::TSubForm(QWidget* parent)
    : QWidget(parent), SaveFolderDialog(std::make_unique<TFolderDialog>()),
      ui(std::make_unique<Ui::SubForm>()) {
    ui->setupUi(this);
    LoadFormProperties(this);
    LoadFolderDialogProperties(this, "SaveFolderDialog", *SaveFolderDialog);
    LoadButton = ui->LoadButton;
    SaveButton = ui->SaveButton;
    ExtractButton = ui->ExtractButton;
    Gauge = ui->Gauge;
    QuitButton = ui->QuitButton;
    Label1 = ui->Label1;
    NumIODistance = ui->NumIODistance;
    NumIOSkip = ui->NumIOSkip;
    Label2 = ui->Label2;
    Label3 = ui->Label3;
    SaveFolderDialog->SetParent(this);

    auto bind = [this](QPushButton* b, void (TSubForm::*handler)(QObject*)) {
        connect(b, &QPushButton::clicked, this,
                [this, b, handler] { Guarded([&] { (this->*handler)(b); }); });
    };
    bind(LoadButton, &TSubForm::LoadButtonClick);
    bind(SaveButton, &TSubForm::SaveButtonClick);
    bind(ExtractButton, &TSubForm::ExtractButtonClick);
    bind(QuitButton, &TSubForm::QuitButtonClick);
}

TSubForm::~TSubForm() = default;

void TSubForm::CenterOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize outer = frameGeometry().size();
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void TSubForm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        platform::ui::HandleException(e);
    }
}

void TSubForm::LoadButtonClick(QObject*) {
    TMainForm& holder = *FHolder;
    if (!holder.OpenDialog->Execute()) return;
    holder.AVIFile->CloseFile();
    holder.AVIFile->SetFileName(holder.OpenDialog->GetFileName());
    holder.AVIFile->OpenFile();
    if (holder.AVIFile->GetTypedStreamCount(stVideo) >= 1) SaveButton->setEnabled(true);
}

void TSubForm::SaveButtonClick(QObject*) {
    if (SaveFolderDialog->Execute()) ExtractButton->setEnabled(true);
}

void TSubForm::ExtractButtonClick(QObject*) {
    WindowHost host(*this, *FHolder);
    // Failures from the start of reading on end the run quietly; only a
    // refused run or a missing file reaches the error box.
    ExtractStills(*FHolder->AVIFile, host);
}

void TSubForm::QuitButtonClick(QObject*) {
    close();
}

} // namespace lum::app
