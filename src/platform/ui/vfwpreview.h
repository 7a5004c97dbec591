// The video service's preview file dialogs: the common open and save
// dialogs with a pane beside them that shows the selected file's first
// video frame scaled to fit, with its size, length and rate. They belong to
// the video service; they live here because they show widgets, and the
// video service itself stays free of them.
#pragma once

#include <string>

#include <QImage>
#include <QWidget>

#include "platform/ui/filedialog.h"

class QLabel;

namespace lum::platform::vfw {

using ui::OPENFILENAME;

// GetOpenFileNameA and GetSaveFileNameA of the file dialog service, with
// the preview pane. The hook, template and flags of the record work as
// there.
BOOL GetOpenFileNamePreviewA(OPENFILENAME* ofn);
BOOL GetSaveFileNamePreviewA(OPENFILENAME* ofn);

// What the pane shows of a file: its first frame at its own size and a
// line of text, both empty for a file the service cannot open. An audio-
// only file has a text and no frame.
struct FilePreview {
    QImage frame;
    std::string text;
};
FilePreview PreviewFile(const std::string& path);

// The preview pane: the frame drawn scaled to fit (keeping its shape,
// centred) in a framed area, and the text below it. Follows the dialog's
// selection changes.
class AviPreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit AviPreviewPane(QWidget* parent = nullptr);

    void ShowFile(const std::string& path);
    const FilePreview& Shown() const { return shown_; }
    const std::string& ShownPath() const { return path_; }
    // Where the frame is drawn inside the picture area, or empty.
    QRect FrameRect() const;
    QWidget* PictureArea() const;
    QString InfoText() const;

private:
    class Picture;
    Picture* picture_;
    QLabel* info_;
    FilePreview shown_;
    std::string path_;
};

} // namespace lum::platform::vfw
