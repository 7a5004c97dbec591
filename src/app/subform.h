// TSubForm: Snapreel's main window, built from the SubForm resource. Its
// workflow lives only in the buttons' enabled state: load a video (enables
// the folder button when the file has a video stream), choose a folder
// (enables extraction), extract, quit. Buttons once enabled stay enabled.
// The window reaches the open dialog and the video file through the holder
// form (SetHolder). Errors escaping a handler go to the error box.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "controls/foldrdlg.h"
#include "controls/lumgauge.h"
#include "controls/numio.h"

namespace Ui {
class SubForm;
}

namespace lum::app {

class TMainForm;

// Start-up of the application object: its title "SNAPREEL" (the caption of
// the error box), the library's cursors, the compression manager, and a
// message box for what the manager component has to say. Needs a
// QApplication.
void InitApplication();

class TSubForm : public QWidget {
public:
    explicit TSubForm(QWidget* parent = nullptr);
    ~TSubForm() override;

    void SetHolder(TMainForm* holder) { FHolder = holder; }
    TMainForm* GetHolder() const { return FHolder; }

    // Places the window in the centre of its screen.
    void CenterOnScreen();

    void LoadButtonClick(QObject* sender);
    void SaveButtonClick(QObject* sender);
    void ExtractButtonClick(QObject* sender);
    void QuitButtonClick(QObject* sender);

    // The components, in the resource's order.
    QPushButton* LoadButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* ExtractButton = nullptr;
    std::unique_ptr<TFolderDialog> SaveFolderDialog;
    TLumGauge* Gauge = nullptr;
    QPushButton* QuitButton = nullptr;
    QLabel* Label1 = nullptr;
    TNumIO* NumIODistance = nullptr;
    TNumIO* NumIOSkip = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;

private:
    // Runs a handler, showing what escapes it in the error box.
    void Guarded(const std::function<void()>& handler);

    std::unique_ptr<Ui::SubForm> ui;
    TMainForm* FHolder = nullptr;
};

} // namespace lum::app
