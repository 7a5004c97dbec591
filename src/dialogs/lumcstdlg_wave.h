// The wave open and save dialogs: the file dialog with an area below it that
// shows the selected wave file's format, its waveform and its own picture
// (the DISP chunk's bitmap), and plays it: the wave file feeds the ADPCM
// converter, which feeds the wave output.
//
// The area's objects (wave file, converter, output, timers, column buffer,
// paint procedures) exist only while the dialog is shown, from DoCreate to
// DoDestroy. Selections are taken 50 ms after the last one, so running
// through a list updates once. While playing, a 50 ms timer moves the
// locator line over the waveform. All of it runs on the user-interface
// thread; the output plays on its device's thread and its start and stop
// notifications come back through the main-thread queue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/lumcstdlg.h"
#include "platform/base/colors.h"
#include "platform/gdi/gditypes.h"

class QTimer;

namespace lum {

class TLumWaveFile;
class TLumADPCMConverter;
class TLumWaveOut;

// The text a selection notification carries, turned into one path: a
// plain path as it is, else the last of the quoted names after the folder
// (joined to it unless absolute), or the folder when no names follow.
std::string SelectedPathOf(const std::string& selection);

class TLumWaveOpenDialog : public TLumCustomOpenDialog {
public:
    // Control ids of the area.
    static constexpr int idPlay = 1000;
    static constexpr int idPreview = 1001;
    static constexpr int idAutoPlay = 1002;
    static constexpr int idInfo = 1003;
    static constexpr int idWaveform = 1004;
    static constexpr int idPicture = 1005;
    // The output's buffer size before UpdatePlayParams adapts it.
    static constexpr std::int32_t kBaseBufferSize = 32768;

    // Extremes of one pixel column: first and second of each channel.
    struct TColumn {
        std::int16_t first1, second1, first2, second2;
    };

    explicit TLumWaveOpenDialog(TComponent* owner = nullptr);
    ~TLumWaveOpenDialog() override;

    TColor GetColor() const { return FColor; }
    void SetColor(TColor v) { FColor = v; }
    TColor GetForeColor() const { return FForeColor; }
    void SetForeColor(TColor v) { FForeColor = v; }
    TColor GetLocatorColor() const { return FLocatorColor; }
    void SetLocatorColor(TColor v) { FLocatorColor = v; }
    bool GetPreview() const { return FPreview; }
    void SetPreview(bool v) { FPreview = v; }
    bool GetAutoPlay() const { return FAutoPlay; }
    void SetAutoPlay(bool v) { FAutoPlay = v; }
    int GetDeviceID() const { return FDeviceID; }
    void SetDeviceID(int v) { FDeviceID = v; }

    // While shown; null otherwise.
    TLumWaveFile* GetWaveFile() const { return FWaveFile.get(); }
    TLumADPCMConverter* GetConverter() const { return FConverter.get(); }
    TLumWaveOut* GetWaveOut() const { return FWaveOut.get(); }
    // The x of the locator line in the waveform control; -1 when none.
    int GetLocatorPos() const { return FLocator; }
    // The waveform's columns as last computed.
    const std::vector<TColumn>& GetColumns() const { return FColumns; }
    // True from a selection until its update ran.
    bool WaveformPending() const { return FPending; }

    // Shows the selected file: format line, waveform, picture, Play.
    void UpdateWave();
    // Chooses the output's buffer size from its format.
    void UpdatePlayParams();
    // Computes the columns from the file and draws them into Rect of DC.
    void CreatePCMData(platform::gdi::HDC dc, const platform::RECT& rect);
    // Paints the waveform control from the stored columns.
    void DrawPCMData(platform::gdi::HDC dc, const platform::RECT& rect);
    // Paints the file's picture, or BMP_WAVE when it has none.
    void DrawDISP(platform::gdi::HDC dc, const platform::RECT& rect);

protected:
    void DoCreate() override;
    void DoDestroy() override;
    void DoFileOK(const std::string& fileName, bool& isOk) override;
    void DoSelChanged(const std::string& fileName) override;
    void DoCommand(QWidget* wnd, QWidget* parent, int cmd) override;

    // Save dialogs accept any name.
    bool FSaving = false;

private:
    class Area;
    // Frees what DoCreate made; safe to run again and without a dialog.
    void FreePreview();
    bool HasData() const;
    bool HasDevice() const;
    bool DeviceTakesFormat();
    void StartPlaying();
    void TimerTick();
    void XorLocator(int x);
    void WaveformArea(platform::RECT& r) const;
    QWidget* Item(int id) const;

    std::unique_ptr<TLumWaveFile> FWaveFile;
    std::unique_ptr<TLumADPCMConverter> FConverter;
    std::unique_ptr<TLumWaveOut> FWaveOut;
    std::unique_ptr<QTimer> FTimer;
    std::vector<TColumn> FColumns;
    TColor FColor = 0x000000;
    TColor FForeColor = 0x00FF00;
    TColor FLocatorColor = 0x0000FF;
    bool FPreview = false;
    bool FAutoPlay = false;
    int FDeviceID = -1;
    bool FPending = false;
    int FLocator = -1;
    // The controls' paint and timer procedures, while shown.
    std::unique_ptr<Area> FArea;
};

class TLumWaveSaveDialog : public TLumWaveOpenDialog {
public:
    explicit TLumWaveSaveDialog(TComponent* owner = nullptr);
    bool Execute() override;
};

} // namespace lum
