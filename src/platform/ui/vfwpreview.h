// The video service's preview file dialogs: the common open and save
// dialogs with a pane beside them that shows the selected file's first
// video frame scaled to fit, with its size, length and rate. They belong to
// the video service; they live here because they show widgets, and the
// video service itself stays free of them.
//
// Given a player, the pane plays the video under the first frame: Play
// draws the frames through the player at the file's rate into the picture
// area's window surface, dropping frames when drawing falls behind; Stop,
// the end of the video or another selection shows the first frame again.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include "platform/gdi/gditypes.h"
#include "platform/ui/filedialog.h"

class QLabel;
class QPushButton;
class QTimer;

namespace lum::platform::vfw {

using ui::OPENFILENAME;

// Draws the frames of one file for the pane's Play; made by whoever runs
// the dialog, for the file shown when Play is pressed. Calls come from the
// pane's thread and never raise.
class PanePlayer {
public:
    virtual ~PanePlayer() = default;
    // Prepares drawing at Rect of DC; false when the file cannot be drawn.
    virtual bool Begin(gdi::HDC dc, const RECT& rect) = 0;
    // Draws Frame (counted from the stream's start) at Rect, or draws the
    // frame drawn last again; false stops playing.
    virtual bool Draw(gdi::HDC dc, const RECT& rect, LONG frame) = 0;
};
// A player for the file at Path, or null when it has none to offer.
using PanePlayerFactory = std::function<std::unique_ptr<PanePlayer>(const std::string& path)>;

// GetOpenFileNameA and GetSaveFileNameA of the file dialog service, with
// the preview pane. The hook, template and flags of the record work as
// there. With a player, the pane offers Play.
BOOL GetOpenFileNamePreviewA(OPENFILENAME* ofn);
BOOL GetSaveFileNamePreviewA(OPENFILENAME* ofn);
BOOL GetOpenFileNamePreviewA(OPENFILENAME* ofn, const PanePlayerFactory& player);
BOOL GetSaveFileNamePreviewA(OPENFILENAME* ofn, const PanePlayerFactory& player);

// What the pane shows of a file: its first frame at its own size and a
// line of text, both empty for a file the service cannot open. An audio-
// only file has a text and no frame. Rate and Frames describe the video
// stream (0 without one).
struct FilePreview {
    QImage frame;
    std::string text;
    double rate = 0;
    LONG frames = 0;
};
FilePreview PreviewFile(const std::string& path);

// The preview pane: the frame drawn scaled to fit (keeping its shape,
// centred) in a framed area, and the text below it. Follows the dialog's
// selection changes.
class AviPreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit AviPreviewPane(QWidget* parent = nullptr);
    ~AviPreviewPane() override;

    // Without a factory (the default) the pane has no Play button.
    void SetPlayerFactory(PanePlayerFactory factory);
    void ShowFile(const std::string& path);
    const FilePreview& Shown() const { return shown_; }
    const std::string& ShownPath() const { return path_; }
    // Where the frame is drawn inside the picture area, or empty.
    QRect FrameRect() const;
    QWidget* PictureArea() const;
    QString InfoText() const;

    QPushButton* PlayButton() const { return play_; }
    bool Playing() const { return player_ != nullptr; }
    // The frame drawn last while playing (counted from the start), or -1.
    LONG PlayedFrame() const { return frame_; }
    void Play();
    void Stop();

private:
    class Picture;
    void Tick();
    void UpdatePlayButton();

    Picture* picture_;
    QLabel* info_;
    QPushButton* play_;
    QTimer* timer_;
    FilePreview shown_;
    std::string path_;
    PanePlayerFactory factory_;
    std::unique_ptr<PanePlayer> player_;
    gdi::HDC dc_ = nullptr;
    RECT rect_{};
    QElapsedTimer clock_;
    LONG frame_ = -1;
};

} // namespace lum::platform::vfw
