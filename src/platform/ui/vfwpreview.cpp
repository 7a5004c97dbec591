#include "platform/ui/vfwpreview.h"

#include <cstdio>

#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {
namespace {

// A stream or file reference released on every way out.
struct StreamRef {
    PAVISTREAM s = nullptr;
    ~StreamRef() {
        if (s) AVIStreamRelease(s);
    }
};
struct FileRef {
    PAVIFILE f = nullptr;
    ~FileRef() {
        if (f) AVIFileRelease(f);
    }
};

// Where the pixels of a packed DIB start.
std::size_t BitsOffset(const BITMAPINFOHEADER& h) {
    std::size_t colours = h.biClrUsed;
    if (colours == 0 && h.biBitCount <= 8) colours = std::size_t{1} << h.biBitCount;
    std::size_t masks = h.biCompression == BI_BITFIELDS && h.biSize == 40 ? 12 : 0;
    return h.biSize + masks + colours * 4;
}

QImage FrameImage(PAVISTREAM stream) {
    PGETFRAME decoder = AVIStreamGetFrameOpen(stream, AVIGETFRAMEF_BESTDISPLAYFMT);
    if (!decoder) return {};
    QImage image;
    LONG start = AVIStreamStart(stream);
    auto* dib =
        static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(decoder, start < 0 ? 0 : start));
    if (dib && dib->biWidth > 0 && dib->biHeight != 0) {
        int w = dib->biWidth;
        int h = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
        image = QImage(w, h, QImage::Format_RGB32);
        image.fill(Qt::black);
        gdi::HDC dc = gdi::CreateImageDC(&image);
        const auto* bits = reinterpret_cast<const std::uint8_t*>(dib) + BitsOffset(*dib);
        int lines = gdi::StretchDIBits(dc, 0, 0, w, h, 0, 0, w, h, bits,
                                       reinterpret_cast<const BITMAPINFO*>(dib),
                                       gdi::DIB_RGB_COLORS, gdi::SRCCOPY);
        gdi::DeleteDC(dc);
        if (lines == 0) image = QImage();
    }
    AVIStreamGetFrameClose(decoder);
    return image;
}

std::string Seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

} // namespace

FilePreview PreviewFile(const std::string& path) {
    FilePreview out;
    if (path.empty() || !QFileInfo(QString::fromStdString(path)).isFile()) return out;
    FileRef file;
    if (AVIFileOpen(&file.f, path, OF_READ | OF_SHARE_DENY_NONE) != AVIERR_OK) return out;
    StreamRef video;
    if (AVIFileGetStream(file.f, &video.s, streamtypeVIDEO, 0) == AVIERR_OK) {
        AVISTREAMINFO info{};
        AVIStreamInfo(video.s, &info, sizeof info);
        LONG frames = AVIStreamLength(video.s);
        double rate = info.dwScale ? static_cast<double>(info.dwRate) / info.dwScale : 0.0;
        char buf[160];
        std::snprintf(buf, sizeof buf, "%d x %d, %d frames, %s, %.3g frames/s",
                      info.rcFrame.right - info.rcFrame.left,
                      info.rcFrame.bottom - info.rcFrame.top, frames < 0 ? 0 : frames,
                      Seconds(rate > 0 ? frames / rate : 0).c_str(), rate);
        out.text = buf;
        out.frame = FrameImage(video.s);
        return out;
    }
    StreamRef audio;
    if (AVIFileGetStream(file.f, &audio.s, streamtypeAUDIO, 0) == AVIERR_OK) {
        LONG start = AVIStreamStart(audio.s);
        LONG end = start + AVIStreamLength(audio.s);
        LONG ms = AVIStreamSampleToTime(audio.s, end) - AVIStreamSampleToTime(audio.s, start);
        out.text = "Audio, " + Seconds(ms / 1000.0);
    }
    return out;
}

// ---- The pane ----

class AviPreviewPane::Picture : public QWidget {
public:
    explicit Picture(AviPreviewPane* pane) : QWidget(pane), pane_(pane) {
        setMinimumSize(160, 120);
    }
    // The frame's place: its own size when it fits, else scaled down to
    // the area inside the frame keeping its shape, centred.
    QRect Target() const {
        const QImage& f = pane_->shown_.frame;
        if (f.isNull()) return {};
        QRect inside = rect().adjusted(2, 2, -2, -2);
        QSize size = f.size();
        if (size.width() > inside.width() || size.height() > inside.height())
            size = size.scaled(inside.size(), Qt::KeepAspectRatio);
        QRect r(QPoint(0, 0), size);
        r.moveCenter(inside.center());
        return r;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        p.setPen(palette().color(QPalette::Dark));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        QRect t = Target();
        if (!t.isEmpty()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(t, pane_->shown_.frame);
        }
    }

private:
    AviPreviewPane* pane_;
};

AviPreviewPane::AviPreviewPane(QWidget* parent) : QWidget(parent) {
    setObjectName("aviPreviewPane");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    picture_ = new Picture(this);
    info_ = new QLabel(this);
    info_->setWordWrap(true);
    info_->setMinimumWidth(160);
    layout->addWidget(picture_);
    layout->addWidget(info_);
    layout->addStretch(1);
}

void AviPreviewPane::ShowFile(const std::string& path) {
    if (path == path_) return;
    path_ = path;
    shown_ = PreviewFile(path);
    info_->setText(QString::fromStdString(shown_.text));
    picture_->update();
}

QRect AviPreviewPane::FrameRect() const {
    return picture_->Target();
}

QWidget* AviPreviewPane::PictureArea() const {
    return picture_;
}

QString AviPreviewPane::InfoText() const {
    return info_->text();
}

namespace {

BOOL RunPreview(OPENFILENAME* ofn, bool save) {
    return ui::RunFileDialog(ofn, save, [](ui::FileDialog& dialog) {
        auto* pane = new AviPreviewPane(&dialog);
        dialog.AddSidePane(pane);
        // A selection of several files previews none of them.
        QObject::connect(&dialog, &ui::FileDialog::SelectionSent, pane, [pane](const QString& p) {
            pane->ShowFile(p.contains('"') ? std::string() : p.toStdString());
        });
    });
}

} // namespace

BOOL GetOpenFileNamePreviewA(OPENFILENAME* ofn) {
    return RunPreview(ofn, false);
}

BOOL GetSaveFileNamePreviewA(OPENFILENAME* ofn) {
    return RunPreview(ofn, true);
}

} // namespace lum::platform::vfw
