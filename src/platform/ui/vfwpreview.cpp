#include "platform/ui/vfwpreview.h"

#include <cstdio>

#include <QFileInfo>
#include <QLabel>
#include <QPaintEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "platform/gdi/gdi.h"
#include "platform/gdi/qtgdi.h"
#include "platform/ui/widgetsurface.h"
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
        out.rate = rate;
        out.frames = frames < 0 ? 0 : frames;
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

namespace {

TColor ColorOf(const QColor& c) {
    return RGBColor(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                    static_cast<std::uint8_t>(c.blue()));
}

RECT ToRect(const QRect& r) {
    return RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

// Draws an RGB32 image stretched over R, averaging what it shrinks.
void DrawImage(gdi::HDC dc, const QRect& r, const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = rgb.width();
    info.bmiHeader.biHeight = -rgb.height(); // QImage rows run top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const int old = gdi::SetStretchBltMode(dc, gdi::HALFTONE);
    gdi::StretchDIBits(dc, r.left(), r.top(), r.width(), r.height(), 0, 0, rgb.width(),
                       rgb.height(), rgb.constBits(), &info, gdi::DIB_RGB_COLORS, gdi::SRCCOPY);
    if (old) gdi::SetStretchBltMode(dc, old);
}

} // namespace

// The picture area: a window surface, so that played frames drawn outside
// its paint show. Its paint draws the first frame, or while playing the
// frame played last again.
class AviPreviewPane::Picture : public QWidget {
public:
    explicit Picture(AviPreviewPane* pane)
        : QWidget(pane), pane_(pane),
          surface_(this, [this](gdi::TCanvas& canvas) { PaintOn(canvas); }) {
        setMinimumSize(160, 120);
        setAttribute(Qt::WA_OpaquePaintEvent);
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
    void paintEvent(QPaintEvent* event) override {
        surface_.PaintEvent(event, palette().color(QPalette::Window));
    }

private:
    void PaintOn(gdi::TCanvas& canvas) {
        canvas.GetBrush().SetColor(ColorOf(palette().color(QPalette::Window)));
        canvas.FillRect(RECT{0, 0, width(), height()});
        canvas.GetBrush().SetColor(ColorOf(palette().color(QPalette::Dark)));
        canvas.FrameRect(RECT{0, 0, width(), height()});
        const QRect t = Target();
        if (t.isEmpty()) return;
        if (pane_->player_ && pane_->frame_ >= 0 &&
            pane_->player_->Draw(canvas.GetHandle(), ToRect(t), pane_->frame_))
            return;
        DrawImage(canvas.GetHandle(), t, pane_->shown_.frame);
    }

    AviPreviewPane* pane_;
    ui::WidgetSurface surface_;
};

AviPreviewPane::AviPreviewPane(QWidget* parent) : QWidget(parent) {
    setObjectName("aviPreviewPane");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    picture_ = new Picture(this);
    play_ = new QPushButton(tr("Play"), this);
    play_->setObjectName("aviPreviewPlay");
    play_->setVisible(false);
    info_ = new QLabel(this);
    info_->setWordWrap(true);
    info_->setMinimumWidth(160);
    layout->addWidget(picture_);
    layout->addWidget(play_, 0, Qt::AlignLeft);
    layout->addWidget(info_);
    layout->addStretch(1);
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { Tick(); });
    connect(play_, &QPushButton::clicked, this, [this] {
        if (Playing())
            Stop();
        else
            Play();
    });
}

AviPreviewPane::~AviPreviewPane() {
    Stop();
}

void AviPreviewPane::SetPlayerFactory(PanePlayerFactory factory) {
    factory_ = std::move(factory);
    play_->setVisible(static_cast<bool>(factory_));
    UpdatePlayButton();
}

void AviPreviewPane::UpdatePlayButton() {
    play_->setText(Playing() ? tr("Stop") : tr("Play"));
    play_->setEnabled(Playing() ||
                      (!shown_.frame.isNull() && shown_.rate > 0 && shown_.frames > 1));
}

void AviPreviewPane::ShowFile(const std::string& path) {
    if (path == path_) return;
    Stop();
    path_ = path;
    shown_ = PreviewFile(path);
    info_->setText(QString::fromStdString(shown_.text));
    UpdatePlayButton();
    picture_->update();
}

void AviPreviewPane::Play() {
    if (Playing() || !factory_ || !play_->isEnabled()) return;
    const QRect target = picture_->Target();
    if (target.isEmpty()) return;
    player_ = factory_(path_);
    if (!player_) return;
    dc_ = gdi::GetDC(picture_);
    rect_ = ToRect(target);
    frame_ = -1;
    if (!player_->Begin(dc_, rect_)) {
        Stop();
        return;
    }
    clock_.start();
    UpdatePlayButton();
    Tick();
}

void AviPreviewPane::Stop() {
    timer_->stop();
    const bool was = Playing();
    player_.reset();
    if (dc_) gdi::ReleaseDC(picture_, dc_);
    dc_ = nullptr;
    frame_ = -1;
    UpdatePlayButton();
    if (was) picture_->update();
}

void AviPreviewPane::Tick() {
    if (!Playing()) return;
    // The frame due now; frames whose time has passed are not drawn.
    const double rate = shown_.rate;
    const auto due = static_cast<LONG>(std::floor(clock_.nsecsElapsed() * 1e-9 * rate));
    if (due >= shown_.frames) {
        Stop();
        return;
    }
    if (due != frame_) {
        if (!player_->Draw(dc_, rect_, due)) {
            Stop();
            return;
        }
        frame_ = due;
    }
    const double next = (frame_ + 1) * 1000.0 / rate;
    const double now = clock_.nsecsElapsed() * 1e-6;
    timer_->start(std::max(0, static_cast<int>(std::ceil(next - now))));
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

BOOL RunPreview(OPENFILENAME* ofn, bool save, const PanePlayerFactory& player) {
    return ui::RunFileDialog(ofn, save, [&player](ui::FileDialog& dialog) {
        auto* pane = new AviPreviewPane(&dialog);
        pane->SetPlayerFactory(player);
        dialog.AddSidePane(pane);
        // A selection of several files previews none of them.
        QObject::connect(&dialog, &ui::FileDialog::SelectionSent, pane, [pane](const QString& p) {
            pane->ShowFile(p.contains('"') ? std::string() : p.toStdString());
        });
    });
}

} // namespace

BOOL GetOpenFileNamePreviewA(OPENFILENAME* ofn) {
    return RunPreview(ofn, false, {});
}

BOOL GetSaveFileNamePreviewA(OPENFILENAME* ofn) {
    return RunPreview(ofn, true, {});
}

BOOL GetOpenFileNamePreviewA(OPENFILENAME* ofn, const PanePlayerFactory& player) {
    return RunPreview(ofn, false, player);
}

BOOL GetSaveFileNamePreviewA(OPENFILENAME* ofn, const PanePlayerFactory& player) {
    return RunPreview(ofn, true, player);
}

} // namespace lum::platform::vfw
