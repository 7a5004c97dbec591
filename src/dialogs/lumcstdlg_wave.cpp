#include "dialogs/lumcstdlg_wave.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "audio/lumacmdlg.h"
#include "audio/lumadcvt.h"
#include "audio/lumpcmsup.h"
#include "audio/lumriff.h"
#include "audio/lumwave.h"
#include "audio/lumwavout.h"
#include "core/lummuldiv.h"
#include "core/lumobj.h"
#include "core/lumutils_draw.h"
#include "dialogs/lumcstdlg_paint.h"
#include "platform/base/globalmem.h"
#include "platform/base/resources.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/graphics.h"
#include "platform/ui/filedialog.h"
#include "platform/ui/messagepump.h"
#include "platform/ui/uiservice.h"
#include "platform/ui/widgetsurface.h"
#include "platform/waveout/waveout.h"
#include "video/lumdib.h"

namespace lum {

namespace gdi = platform::gdi;
namespace ui = platform::ui;
using gdi::HDC;
using platform::RECT;

namespace {

constexpr int kSelectionDelayMs = 50;
constexpr int kLocatorMs = 50;
constexpr std::int32_t kLargeWave = 0x200000;

// True when a DISP payload of Size bytes holds a whole packed DIB that
// DIB_Display can read without running past it.
bool DibFits(const void* payload, std::size_t size) {
    using platform::BITMAPINFOHEADER;
    if (payload == nullptr || size < sizeof(BITMAPINFOHEADER)) return false;
    const auto* h = static_cast<const BITMAPINFOHEADER*>(payload);
    if (h->biSize < sizeof(BITMAPINFOHEADER) || h->biSize > size || h->biPlanes != 1) return false;
    if (h->biWidth <= 0 || h->biWidth > 65535 || h->biHeight == 0 || h->biHeight > 65535 ||
        h->biHeight < -65535)
        return false;
    const int bits = h->biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    const std::uint64_t rows = static_cast<std::uint64_t>(std::abs(h->biHeight));
    const std::uint64_t row = (static_cast<std::uint64_t>(bits) * h->biWidth + 31) / 32 * 4;
    std::uint64_t colours = h->biClrUsed;
    if (bits <= 8) {
        if (colours == 0) colours = 1u << bits;
        if (colours > (1u << bits)) return false;
    }
    std::uint64_t masks = 0;
    std::uint64_t image = row * rows;
    switch (h->biCompression) {
    case platform::BI_RGB:
        break;
    case platform::BI_RLE8:
    case platform::BI_RLE4:
        if (bits != (h->biCompression == platform::BI_RLE8 ? 8 : 4) || h->biHeight < 0)
            return false;
        image = h->biSizeImage;
        break;
    case platform::BI_BITFIELDS:
        if (bits != 16 && bits != 32) return false;
        if (h->biSize == sizeof(BITMAPINFOHEADER)) masks = 12;
        break;
    default:
        return false;
    }
    const std::uint64_t need = h->biSize + masks + 4 * colours + image;
    return need <= size && DIB_Size(h) <= size;
}

// The program's picture for files without one and the colour drawn
// transparent (its bottom-left pixel's), read once.
struct TWavePicture {
    gdi::TBitmap bitmap;
    TColor transparent = 0;
};

const TWavePicture& WavePicture() {
    static const TWavePicture* picture = [] {
        auto* p = new TWavePicture;
        const auto bytes = platform::FindResource(platform::RT_BITMAP, "BMP_WAVE");
        try {
            p->bitmap.LoadFromMemory(
                {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        } catch (const std::exception&) {
            p->bitmap.SetHandle(nullptr);
        }
        if (!p->bitmap.Empty()) {
            // Read through a context of its own: the bitmap must stay free
            // to be selected where it is drawn.
            HDC dc = gdi::CreateCompatibleDC(nullptr);
            gdi::HGDIOBJ old = gdi::SelectObject(dc, p->bitmap.GetHandle());
            p->transparent = static_cast<TColor>(gdi::GetPixel(dc, 0, p->bitmap.GetHeight() - 1));
            gdi::SelectObject(dc, old);
            gdi::DeleteDC(dc);
        }
        return p;
    }();
    return *picture;
}

} // namespace

std::string SelectedPathOf(const std::string& selection) {
    const std::size_t quote = selection.find('"');
    if (quote == std::string::npos) return selection;
    std::string folder = selection.substr(0, quote);
    while (!folder.empty() && folder.back() == ' ')
        folder.pop_back();
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string last;
    for (std::size_t p = quote; p != std::string::npos && p < selection.size();) {
        const std::size_t end = selection.find('"', p + 1);
        if (end == std::string::npos) break;
        last = selection.substr(p + 1, end - p - 1);
        p = selection.find('"', end + 1);
    }
    if (last.empty()) return folder;
    if (last.front() == '/') return last;
    return folder == "/" ? folder + last : folder + "/" + last;
}

// The paint procedures of the waveform and picture controls, the
// selection timer on the waveform control, and the controls themselves.
class TLumWaveOpenDialog::Area : public QObject {
public:
    Area(TLumWaveOpenDialog* owner, QWidget* hook) : owner_(owner), hook_(hook) {
        waveform_ = ui::GetDlgItem(hook, idWaveform);
        picture_ = ui::GetDlgItem(hook, idPicture);
        if (waveform_) {
            waveSurface_ = std::make_unique<ui::WidgetSurface>(waveform_, [this](gdi::TCanvas& c) {
                owner_->DrawPCMData(c.GetHandle(), ClientRect(waveform_));
            });
            waveform_->installEventFilter(this);
        }
        if (picture_) {
            pictureSurface_ =
                std::make_unique<ui::WidgetSurface>(picture_, [this](gdi::TCanvas& c) {
                    owner_->DrawDISP(c.GetHandle(), ClientRect(picture_));
                });
            picture_->installEventFilter(this);
        }
        selection_.setSingleShot(true);
        selection_.setInterval(kSelectionDelayMs);
        QObject::connect(&selection_, &QTimer::timeout, this, [this] {
            owner_->FPending = false;
            owner_->UpdateWave();
        });
    }

    // Puts the controls' own procedures back, when they are still there.
    ~Area() override {
        selection_.stop();
        if (waveform_) waveform_->removeEventFilter(this);
        if (picture_) picture_->removeEventFilter(this);
    }

    static RECT ClientRect(const QWidget* w) { return RECT{0, 0, w->width(), w->height()}; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        auto* paint = static_cast<QPaintEvent*>(event);
        try {
            if (watched == waveform_.data() && waveSurface_)
                waveSurface_->PaintEvent(paint, QColor(0, 0, 0));
            else if (watched == picture_.data() && pictureSurface_)
                pictureSurface_->PaintEvent(paint, hook_->palette().color(QPalette::Window));
            else
                return false;
        } catch (const std::exception& e) {
            ui::HandleException(e);
        }
        return true;
    }

    TLumWaveOpenDialog* owner_;
    QPointer<QWidget> hook_;
    QPointer<QWidget> waveform_;
    QPointer<QWidget> picture_;
    std::unique_ptr<ui::WidgetSurface> waveSurface_;
    std::unique_ptr<ui::WidgetSurface> pictureSurface_;
    QTimer selection_;
};

TLumWaveOpenDialog::TLumWaveOpenDialog(TComponent* owner) : TLumCustomOpenDialog(owner) {
    SetFilter(LoadResStr(4));
    SetTitle(LoadResStr(1));
    SetOptions(GetOptions().Include(ofHideReadOnly).Include(ofNoNetworkButton));
    SetDefaultExt("wav");
    SetTemplate("CustomWaveOpenDlg");
}

TLumWaveOpenDialog::~TLumWaveOpenDialog() {
    // Only what is left; the destroy notification was the dialog's to send.
    FreePreview();
}

QWidget* TLumWaveOpenDialog::Item(int id) const {
    QWidget* hook = FArea ? FArea->hook_.data() : nullptr;
    return hook ? ui::GetDlgItem(hook, id) : nullptr;
}

void TLumWaveOpenDialog::DoCreate() {
    QWidget* hook = GetHandle();
    // Device notifications reach this thread through the main-thread queue,
    // which the dialog's own loop must drain.
    ui::InstallQtMessagePump();
    FArea = std::make_unique<Area>(this, hook);
    const int width = FArea->waveform_ ? FArea->waveform_->width() : 0;
    FColumns.assign(static_cast<std::size_t>(std::max(width, 0)), TColumn{});

    FWaveFile = std::make_unique<TLumWaveFile>();
    FWaveFile->GetWave()->SetTimeFormat(tfByte);
    FWaveFile->GetWave()->SetIOBufSize(0x20000);
    FConverter = std::make_unique<TLumADPCMConverter>();
    FConverter->SetInput(FWaveFile.get());
    FWaveOut = std::make_unique<TLumWaveOut>();
    FWaveOut->SetInput(FConverter.get());
    FWaveOut->OnStart = [this](TLumDSPComponent*) {
        FLocator = -1;
        if (FTimer) FTimer->start();
        if (QWidget* play = Item(idPlay)) static_cast<QAbstractButton*>(play)->setText("Stop");
    };
    FWaveOut->OnStop = [this](TLumDSPComponent*) {
        if (FTimer) FTimer->stop();
        XorLocator(FLocator);
        FLocator = -1;
        if (QWidget* play = Item(idPlay)) static_cast<QAbstractButton*>(play)->setText("Play");
    };
    FWaveOut->SetBufferSize(kBaseBufferSize);
    FWaveOut->SetNumBuffers(10);
    FWaveOut->SetTimeFormat(tfByte);
    if (HasDevice())
        FWaveOut->SetDeviceID(FDeviceID);
    else if (QWidget* autoPlay = Item(idAutoPlay))
        autoPlay->setEnabled(false);
    FTimer = std::make_unique<QTimer>();
    FTimer->setInterval(kLocatorMs);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { TimerTick(); });

    if (QWidget* play = Item(idPlay)) play->setEnabled(false);
    if (auto* preview = qobject_cast<QCheckBox*>(Item(idPreview))) {
        preview->setEnabled(false);
        preview->setText(QString::fromStdString(LoadResStr(7)));
        preview->setChecked(FPreview);
    }
    if (auto* autoPlay = qobject_cast<QCheckBox*>(Item(idAutoPlay)))
        autoPlay->setChecked(FAutoPlay);
    TLumCustomOpenDialog::DoCreate();
}

void TLumWaveOpenDialog::FreePreview() {
    FColumns.clear();
    if (FWaveOut) {
        FWaveOut->OnStart = nullptr;
        FWaveOut->OnStop = nullptr;
        FWaveOut->Close();
        FWaveOut.reset();
    }
    if (FConverter) {
        if (FConverter->IsOpened()) FConverter->Closed();
        FConverter.reset();
    }
    if (FWaveFile) {
        FWaveFile->GetWave()->FreeWave();
        FWaveFile.reset();
    }
    FTimer.reset();
    FArea.reset();
    FPending = false;
    FLocator = -1;
}

void TLumWaveOpenDialog::DoDestroy() {
    FreePreview();
    TLumCustomOpenDialog::DoDestroy();
}

bool TLumWaveOpenDialog::HasDevice() const {
    return FWaveOut && FWaveOut->GetNumDevs() > 0;
}

bool TLumWaveOpenDialog::HasData() const {
    return FWaveFile && !FWaveFile->GetWave()->GetFileName().empty() &&
           FWaveFile->GetWave()->GetPWaveFormat() != nullptr &&
           FWaveFile->GetWave()->GetDataSize() > 0;
}

bool TLumWaveOpenDialog::DeviceTakesFormat() {
    const platform::WAVEFORMATEX* f = FWaveOut->GetPWaveFormat();
    return f != nullptr && FWaveOut->QueryDevice(FDeviceID, f);
}

void TLumWaveOpenDialog::StartPlaying() {
    // A device that refuses to start leaves Play as it is.
    try {
        FWaveOut->Start();
    } catch (const std::exception&) {
    }
}

void TLumWaveOpenDialog::DoSelChanged(const std::string& fileName) {
    if (FWaveFile) {
        const std::string path = SelectedPathOf(fileName);
        TLumWave* wave = FWaveFile->GetWave();
        if (path != wave->GetFileName()) {
            FWaveOut->Close();
            if (wioIsWaveFile(path.c_str(), WIO_DISKFILE)) {
                wave->SetFileName(path);
                FConverter->SetEnabled(FConverter->GetCanConvert());
            } else {
                wave->FreeWave();
            }
            FPending = true;
            FArea->selection_.start();
        }
    }
    TLumCustomOpenDialog::DoSelChanged(fileName);
}

void TLumWaveOpenDialog::UpdateWave() {
    if (!FWaveFile || !FArea) return;
    TLumWave* wave = FWaveFile->GetWave();
    if (FArea->picture_) FArea->picture_->repaint();
    auto* preview = qobject_cast<QCheckBox*>(Item(idPreview));
    auto* info = qobject_cast<QLabel*>(Item(idInfo));
    QWidget* play = Item(idPlay);
    if (preview) preview->setEnabled(false);
    if (wave->GetFileName().empty() || wave->GetPWaveFormat() == nullptr) {
        if (info) info->setText(QString::fromStdString(LoadResStr(6)));
        if (play) play->setEnabled(false);
        if (FArea->waveform_) FArea->waveform_->update();
        return;
    }
    std::string name, description;
    acmGetFormatDescription(wave->GetPWaveFormat(), name, description);
    const std::string text =
        name + "; " + description + "; " + std::to_string(wave->GetFileSize() / 1024) + " KB";
    if (info) info->setText(QString::fromStdString(text));

    if (wave->GetFormatTag() == WAVE_FORMAT_PCM && HasData()) {
        if (preview) preview->setEnabled(true);
        if (FPreview && FArea->waveform_) {
            QWidget* w = FArea->waveform_;
            HDC dc = gdi::GetDC(w);
            CreatePCMData(dc, Area::ClientRect(w));
            gdi::ReleaseDC(w, dc);
        } else if (FArea->waveform_) {
            FArea->waveform_->update();
        }
    } else if (FArea->waveform_) {
        FArea->waveform_->update();
    }

    const bool playable = HasDevice() && HasData() && DeviceTakesFormat() && !FWaveOut->IsPlaying();
    if (play) play->setEnabled(playable);
    if (!playable) return;
    UpdatePlayParams();
    if (FAutoPlay) StartPlaying();
}

void TLumWaveOpenDialog::UpdatePlayParams() {
    const platform::WAVEFORMATEX* f = FWaveOut ? FWaveOut->GetPWaveFormat() : nullptr;
    if (f == nullptr) return;
    // From the same base each time: "otherwise unchanged" must not keep a
    // size an earlier selection doubled, or rates above 48000 would grow
    // the buffers with every selection.
    std::int32_t size = kBaseBufferSize;
    // The rate is compared by its low 16 bits.
    const auto rate = static_cast<std::uint16_t>(f->nSamplesPerSec);
    if (rate < 15001)
        size = 512;
    else if (rate < 24001)
        size = 1024;
    else if (rate < 32001)
        size = 2048;
    else if (rate < 48001)
        size = 3072;
    const int bits = f->wBitsPerSample;
    if (bits == 1)
        size /= 16;
    else if (bits >= 2 && bits <= 4)
        size /= 8;
    else if (bits >= 5 && bits <= 7)
        size /= 4;
    else if (bits >= 9 && bits <= 16)
        size *= 2;
    FWaveOut->SetBufferSize(size);
}

namespace {

int ColumnY(const RECT& r, int value) {
    const int h = r.bottom - r.top;
    return r.bottom - MulDiv32(value + 32767, h, 65535) - 1;
}

std::int16_t From8Bit(std::int32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v * 256 + 0x8000));
}

} // namespace

void TLumWaveOpenDialog::CreatePCMData(HDC dc, const RECT& rect) {
    const RECT r{rect.left + 2, rect.top + 2, rect.right - 2, rect.bottom - 2};
    const int w = r.right - r.left, h = r.bottom - r.top;
    std::fill(FColumns.begin(), FColumns.end(), TColumn{});
    if (!HasData() || !FPreview || w <= 0 || h <= 0) return;
    TLumWave* wave = FWaveFile->GetWave();
    const platform::WAVEFORMATEX* format = wave->GetPWaveFormat();
    const bool eightBit = format->wBitsPerSample == 8;
    const std::int32_t size = wave->GetDataSize();
    if (FColumns.size() < static_cast<std::size_t>(w)) FColumns.resize(static_cast<std::size_t>(w));

    FillColor(dc, r, FColor);
    const std::int32_t chunk = std::max((size / w) & ~3, 4);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(chunk));
    wave->OpenFile();
    wave->SetPosition(0);
    ui::SetAppCursor(ui::AppCursor::Wait);
    struct Restore {
        TLumWave* wave;
        ~Restore() {
            wave->CloseFile();
            ui::SetAppCursor(ui::AppCursor::Default);
        }
    } restore{wave};

    TPenScope pen(dc, FForeColor);
    gdi::MoveToEx(dc, r.left, r.top + h / 2, nullptr);
    int i = 0;
    for (; i < w; ++i) {
        const std::int32_t n = wave->ReadDataBytes(buffer.data(), chunk);
        if (n < 1) break;
        std::int32_t f1 = 0, s1 = 0, f2 = 0, s2 = 0;
        PCMFINDMINMAX(format, buffer.data(), n, f1, s1, f2, s2);
        TColumn& c = FColumns[static_cast<std::size_t>(i)];
        if (eightBit)
            c = {From8Bit(f1), From8Bit(s1), From8Bit(f2), From8Bit(s2)};
        else
            c = {static_cast<std::int16_t>(f1), static_cast<std::int16_t>(s1),
                 static_cast<std::int16_t>(f2), static_cast<std::int16_t>(s2)};
        const int x = r.left + i;
        FillColor(dc, RECT{x, r.top, x + 1, r.bottom}, FColor);
        gdi::LineTo(dc, x, ColumnY(r, std::min(c.first1, c.first2)));
        gdi::LineTo(dc, x, ColumnY(r, std::max(c.second1, c.second2)));
        // Reading a large file takes a while: the next column shows how far.
        if (i < w - 1 && size > kLargeWave)
            FillColor(dc, RECT{x + 1, r.top, x + 2, r.bottom}, FLocatorColor);
        gdi::GdiFlush();
    }
    if (i < w) {
        const int from = i > 0 ? r.left + i - 1 : r.left;
        gdi::MoveToEx(dc, from, r.top + h / 2, nullptr);
        gdi::LineTo(dc, r.right, r.top + h / 2);
        gdi::GdiFlush();
    }
}

void TLumWaveOpenDialog::DrawPCMData(HDC dc, const RECT& rect) {
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return;
    OffscreenDC mem(dc, w, h);
    const RECT all{0, 0, w, h};
    FillColor(mem, all, FColor);
    const RECT r = FrameTwoRings(mem, all);
    FLocator = -1;
    TLumWave* wave = FWaveFile ? FWaveFile->GetWave() : nullptr;
    const int cols = std::min<int>(r.right - r.left, static_cast<int>(FColumns.size()));
    if (wave && FPreview && wave->GetFormatTag() == WAVE_FORMAT_PCM && HasData() && !FPending &&
        cols > 0) {
        TPenScope pen(mem, FForeColor);
        const TColumn& first = FColumns.front();
        gdi::MoveToEx(mem, r.left, ColumnY(r, std::min(first.first1, first.first2)), nullptr);
        for (int i = 0; i < cols; ++i) {
            const TColumn& c = FColumns[static_cast<std::size_t>(i)];
            gdi::LineTo(mem, r.left + i, ColumnY(r, std::min(c.first1, c.first2)));
            gdi::LineTo(mem, r.left + i, ColumnY(r, std::max(c.second1, c.second2)));
        }
        const TColumn& last = FColumns[static_cast<std::size_t>(cols - 1)];
        gdi::LineTo(mem, r.left + cols, ColumnY(r, std::max(last.second1, last.second2)));
    } else {
        TPenScope pen(mem, 0x808080);
        const int y = r.top + (r.bottom - r.top) / 2;
        gdi::MoveToEx(mem, r.left + 5, y, nullptr);
        gdi::LineTo(mem, r.right - r.left - 5, y);
    }
    mem.CopyTo(dc, rect.left, rect.top);
}

void TLumWaveOpenDialog::DrawDISP(HDC dc, const RECT& rect) {
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return;
    OffscreenDC mem(dc, w, h);
    // The dialog's own background: what its top-left pixel shows.
    TColor background = clBtnFace;
    if (FArea && FArea->hook_) {
        const QColor c = FArea->hook_->palette().color(QPalette::Window);
        background = static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
    }
    FillColor(mem, RECT{0, 0, w, h}, background);
    TLumWave* wave = FWaveFile ? FWaveFile->GetWave() : nullptr;
    bool drawn = false;
    if (wave && !wave->GetFileName().empty() && wave->GetPWaveIOCB() &&
        wave->GetPWaveIOCB()->DispList) {
        for (TDisp* d = wave->GetPWaveIOCB()->DispList->First; d != nullptr; d = d->Next) {
            if (d->ClipFormat != CF_DIB) continue;
            const void* payload = RiffDISPPayload(d);
            const std::size_t size =
                payload ? platform::GlobalSize(platform::GlobalHandle(payload)) : 0;
            // A short or damaged entry would be read past its end.
            if (DibFits(payload, size)) {
                DIB_Display(static_cast<const TBitmapInfoHeader*>(payload), mem,
                            RECT{2, 2, w - 2, h - 2});
                drawn = true;
            }
            break;
        }
    }
    if (!drawn) {
        const TWavePicture& picture = WavePicture();
        if (!picture.bitmap.Empty())
            DrawTransparentBitmap(mem, picture.bitmap.GetHandle(), 0, 0, picture.transparent);
    }
    mem.CopyTo(dc, rect.left, rect.top);
}

void TLumWaveOpenDialog::WaveformArea(RECT& r) const {
    const QWidget* w = FArea ? FArea->waveform_.data() : nullptr;
    r = w ? RECT{2, 2, w->width() - 2, w->height() - 2} : RECT{0, 0, 0, 0};
}

void TLumWaveOpenDialog::XorLocator(int x) {
    if (x < 0 || !FArea || !FArea->waveform_) return;
    RECT r;
    WaveformArea(r);
    QWidget* w = FArea->waveform_;
    HDC dc = gdi::GetDC(w);
    const int old = gdi::SetROP2(dc, gdi::R2_XORPEN);
    {
        TPenScope pen(dc, FLocatorColor);
        gdi::MoveToEx(dc, x, r.top, nullptr);
        gdi::LineTo(dc, x, r.bottom - 1);
    }
    gdi::SetROP2(dc, old);
    gdi::ReleaseDC(w, dc);
}

void TLumWaveOpenDialog::TimerTick() {
    if (!FWaveOut || !FWaveFile) return;
    const std::int64_t position = FWaveOut->GetPosition();
    TLumWave* wave = FWaveFile->GetWave();
    const std::int32_t size = wave->GetDataSize();
    if (!FPreview || wave->GetFormatTag() != WAVE_FORMAT_PCM || size <= 0) return;
    RECT r;
    WaveformArea(r);
    const int x =
        r.left + MulDiv32(r.right - r.left,
                          static_cast<std::int32_t>(std::min<std::int64_t>(position, size)), size);
    if (x == FLocator) return;
    XorLocator(FLocator);
    XorLocator(x);
    FLocator = x;
}

void TLumWaveOpenDialog::DoCommand(QWidget* wnd, QWidget* parent, int cmd) {
    if (FArea && wnd == FArea->hook_.data() && FWaveOut) {
        auto box = [&](int id) { return qobject_cast<QCheckBox*>(Item(id)); };
        switch (cmd) {
        case idPlay:
            if (HasDevice()) {
                if (FWaveOut->IsPlaying())
                    FWaveOut->Close();
                else if (HasData() && DeviceTakesFormat())
                    StartPlaying();
            }
            break;
        case idPreview:
            if (auto* b = box(idPreview)) FPreview = b->isChecked();
            if (FPreview) FWaveOut->Close();
            UpdateWave();
            break;
        case idAutoPlay:
            if (auto* b = box(idAutoPlay)) FAutoPlay = b->isChecked();
            if (!FAutoPlay)
                FWaveOut->Close();
            else if (!FWaveOut->IsPlaying() && HasDevice() && HasData() && DeviceTakesFormat())
                StartPlaying();
            break;
        default:
            break;
        }
    }
    TLumCustomOpenDialog::DoCommand(wnd, parent, cmd);
}

void TLumWaveOpenDialog::DoFileOK(const std::string& fileName, bool& isOk) {
    if (FSaving) {
        TLumCustomOpenDialog::DoFileOK(fileName, isOk);
        return;
    }
    isOk = wioIsWaveFile(fileName.c_str(), WIO_DISKFILE);
    if (isOk)
        TLumCustomOpenDialog::DoFileOK(fileName, isOk);
    else
        ui::MessageBox(LoadResStr(5), ui::ApplicationTitle(), ui::MB_OK | ui::MB_ICONERROR);
}

TLumWaveSaveDialog::TLumWaveSaveDialog(TComponent* owner) : TLumWaveOpenDialog(owner) {
    SetTitle(LoadResStr(2));
    FSaving = true;
}

bool TLumWaveSaveDialog::Execute() {
    return ExecuteWith(&ui::GetSaveFileNameA);
}

} // namespace lum
