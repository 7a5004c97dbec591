#include "platform/ui/saveoptions_dialog.h"

#include <cstring>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "platform/vfw/compress.h"

namespace lum::platform::vfw {

namespace {

constexpr DWORD kDefaultQuality = 0xFFFFFFFF;
constexpr int kPreviewWidth = 160;
constexpr int kPreviewHeight = 120;

AVISTREAMINFO InfoOf(PAVISTREAM s) {
    AVISTREAMINFO si{};
    AVIStreamInfo(s, &si, sizeof si);
    return si;
}

QString FourCCText(FOURCC c) {
    QString s;
    for (int i = 0; i < 4; ++i)
        s += QChar(static_cast<char>((c >> (8 * i)) & 0xFF));
    return s;
}

QString StreamTitle(PAVISTREAM s, int index) {
    const AVISTREAMINFO si = InfoOf(s);
    QString kind = si.fccType == streamtypeVIDEO   ? QStringLiteral("Video")
                   : si.fccType == streamtypeAUDIO ? QStringLiteral("Audio")
                                                   : FourCCText(si.fccType).trimmed();
    QString name = QString::fromLocal8Bit(si.szName, static_cast<int>(strnlen(si.szName, 64)));
    QString title = QStringLiteral("%1: %2").arg(index + 1).arg(kind);
    return name.isEmpty() ? title : title + QStringLiteral(" (") + name + QStringLiteral(")");
}

QString AudioFormatText(PAVISTREAM s) {
    LONG size = 0;
    if (AVIStreamReadFormat(s, AVIStreamStart(s), nullptr, &size) != AVIERR_OK || size < 16)
        return QStringLiteral("Unknown format");
    std::vector<std::uint8_t> f(static_cast<std::size_t>(size));
    if (AVIStreamReadFormat(s, AVIStreamStart(s), f.data(), &size) != AVIERR_OK)
        return QStringLiteral("Unknown format");
    WAVEFORMATEX w{};
    std::memcpy(&w, f.data(), std::min<std::size_t>(f.size(), sizeof w));
    const QString channels = w.nChannels == 1   ? QStringLiteral("mono")
                             : w.nChannels == 2 ? QStringLiteral("stereo")
                                                : QStringLiteral("%1 channels").arg(w.nChannels);
    const QString kind = w.wFormatTag == WAVE_FORMAT_PCM
                             ? QStringLiteral("PCM")
                             : QStringLiteral("Format 0x%1").arg(w.wFormatTag, 4, 16, QChar('0'));
    QString text = QStringLiteral("%1, %2 Hz").arg(kind).arg(w.nSamplesPerSec);
    if (w.wBitsPerSample) text += QStringLiteral(", %1 bit").arg(w.wBitsPerSample);
    return text + QStringLiteral(", ") + channels;
}

// The first frame of Stream as Options make it.
QImage FirstFrame(PAVISTREAM stream, const AVICOMPRESSOPTIONS& options) {
    PAVISTREAM shown = stream;
    PAVISTREAM compressed = nullptr;
    if (options.fccHandler != 0) {
        if (AVIMakeCompressedStream(&compressed, stream, &options, nullptr) != AVIERR_OK) return {};
        shown = compressed;
    }
    BITMAPINFOHEADER want{};
    want.biSize = 40;
    want.biPlanes = 1;
    want.biBitCount = 24;
    QImage image;
    if (PGETFRAME g = AVIStreamGetFrameOpen(shown, &want)) {
        const auto* dib =
            static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(g, AVIStreamStart(shown)));
        if (dib && dib->biWidth > 0 && dib->biHeight > 0) {
            const int w = dib->biWidth, h = dib->biHeight;
            const auto* px = reinterpret_cast<const std::uint8_t*>(dib) + dib->biSize;
            const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
            image = QImage(w, h, QImage::Format_RGB32);
            for (int y = 0; y < h; ++y) {
                const std::uint8_t* row = px + stride * static_cast<std::size_t>(h - 1 - y);
                auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < w; ++x)
                    out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
            }
        }
        AVIStreamGetFrameClose(g);
    }
    AVIStreamRelease(compressed);
    return image;
}

QSpinBox* Spin(int min, int max) {
    auto* s = new QSpinBox;
    s->setRange(min, max);
    return s;
}

} // namespace

SaveOptionsDialog::SaveOptionsDialog(QWidget* parent, UINT flags, std::vector<PAVISTREAM> streams,
                                     std::vector<AVICOMPRESSOPTIONS> records)
    : QDialog(parent), flags_(flags), streams_(std::move(streams)), records_(std::move(records)) {
    setObjectName("saveOptionsDialog");
    setWindowTitle(QStringLiteral("Compression Options"));
    auto* top = new QVBoxLayout(this);

    auto* head = new QFormLayout;
    stream_ = new QComboBox;
    stream_->setObjectName("stream");
    for (std::size_t i = 0; i < streams_.size(); ++i)
        stream_->addItem(StreamTitle(streams_[i], static_cast<int>(i)));
    head->addRow(QStringLiteral("&Stream:"), stream_);
    top->addLayout(head);

    // The video page.
    pages_ = new QStackedWidget;
    auto* video = new QWidget;
    auto* vform = new QFormLayout(video);
    compressor_ = new QComboBox;
    compressor_->setObjectName("compressor");
    compressor_->addItem(QStringLiteral("No Recompression"), QVariant::fromValue<uint>(0));
    for (const CompressorInfo& c : InstalledCompressors())
        compressor_->addItem(QString::fromStdString(c.name), QVariant::fromValue<uint>(c.handler));
    vform->addRow(QStringLiteral("&Compressor:"), compressor_);

    auto* qrow = new QHBoxLayout;
    quality_default_ = new QCheckBox(QStringLiteral("Default"));
    quality_default_->setObjectName("qualityDefault");
    quality_ = new QSlider(Qt::Horizontal);
    quality_->setObjectName("quality");
    quality_->setRange(0, 100);
    quality_value_ = new QLabel;
    quality_value_->setMinimumWidth(30);
    qrow->addWidget(quality_default_);
    qrow->addWidget(quality_, 1);
    qrow->addWidget(quality_value_);
    vform->addRow(QStringLiteral("&Quality:"), qrow);

    auto* krow = new QHBoxLayout;
    key_frames_ = new QCheckBox(QStringLiteral("&Key frame every"));
    key_frames_->setObjectName("keyFrames");
    key_every_ = Spin(1, 100000);
    key_every_->setObjectName("keyFrameEvery");
    krow->addWidget(key_frames_);
    krow->addWidget(key_every_);
    krow->addWidget(new QLabel(QStringLiteral("frames")));
    auto* key_row = new QWidget;
    key_row->setLayout(krow);
    key_row->setVisible(flags_ & ICMF_CHOOSE_KEYFRAME);
    vform->addRow(key_row);

    auto* drow = new QHBoxLayout;
    data_rate_ = new QCheckBox(QStringLiteral("&Data rate"));
    data_rate_->setObjectName("dataRate");
    data_rate_value_ = Spin(1, 4000000);
    data_rate_value_->setObjectName("dataRateValue");
    drow->addWidget(data_rate_);
    drow->addWidget(data_rate_value_);
    drow->addWidget(new QLabel(QStringLiteral("KB/sec")));
    auto* rate_row = new QWidget;
    rate_row->setLayout(drow);
    rate_row->setVisible(flags_ & ICMF_CHOOSE_DATARATE);
    vform->addRow(rate_row);

    preview_ = new QLabel;
    preview_->setObjectName("preview");
    preview_->setFixedSize(kPreviewWidth, kPreviewHeight);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setFrameShape(QFrame::StyledPanel);
    preview_->setVisible(flags_ & ICMF_CHOOSE_PREVIEW);
    vform->addRow(preview_);
    pages_->addWidget(video);

    // The audio page.
    auto* audio = new QWidget;
    auto* aform = new QFormLayout(audio);
    audio_format_ = new QLabel;
    audio_format_->setObjectName("audioFormat");
    aform->addRow(QStringLiteral("Format:"), audio_format_);
    pages_->addWidget(audio);
    pages_->addWidget(new QWidget); // other streams: interleave only
    top->addWidget(pages_);

    auto* irow = new QHBoxLayout;
    interleave_ = new QCheckBox(QStringLiteral("&Interleave every"));
    interleave_->setObjectName("interleave");
    interleave_every_ = Spin(1, 100000);
    interleave_every_->setObjectName("interleaveEvery");
    irow->addWidget(interleave_);
    irow->addWidget(interleave_every_);
    irow->addWidget(new QLabel(QStringLiteral("frames")));
    irow->addStretch();
    top->addLayout(irow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    top->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(stream_, &QComboBox::currentIndexChanged, this, [this](int i) { ShowStream(i); });
    auto changed = [this] {
        Enable();
        UpdatePreview();
    };
    connect(compressor_, &QComboBox::currentIndexChanged, this, changed);
    connect(quality_default_, &QCheckBox::toggled, this, changed);
    connect(quality_, &QSlider::valueChanged, this, [this](int v) {
        quality_value_->setText(QString::number(v));
        UpdatePreview();
    });
    connect(key_frames_, &QCheckBox::toggled, this, [this] { Enable(); });
    connect(data_rate_, &QCheckBox::toggled, this, [this] { Enable(); });
    connect(interleave_, &QCheckBox::toggled, this, [this] { Enable(); });

    if (!streams_.empty()) ShowStream(0);
}

void SaveOptionsDialog::ShowStream(int index) {
    if (index < 0 || index >= static_cast<int>(streams_.size()) || index == current_) return;
    if (current_ >= 0) Store(current_);
    current_ = index;
    if (stream_->currentIndex() != index) stream_->setCurrentIndex(index);
    Load(index);
}

void SaveOptionsDialog::Load(int index) {
    const AVICOMPRESSOPTIONS& o = records_[static_cast<std::size_t>(index)];
    const DWORD type = InfoOf(streams_[static_cast<std::size_t>(index)]).fccType;
    pages_->setCurrentIndex(type == streamtypeVIDEO ? 0 : type == streamtypeAUDIO ? 1 : 2);
    const QSignalBlocker b1(compressor_), b2(quality_), b3(quality_default_);
    if (type == streamtypeVIDEO) {
        int item = compressor_->findData(QVariant::fromValue<uint>(o.fccHandler));
        if (item < 0 && o.fccHandler != 0) {
            // Another code of a compressor listed, or one not installed: it
            // is kept as it is.
            const std::optional<CompressorInfo> c = FindCompressor(o.fccHandler);
            const QString name = c ? QString::fromStdString(c->name) + QStringLiteral(" [") +
                                         FourCCText(o.fccHandler) + QStringLiteral("]")
                                   : QStringLiteral("Not installed [") + FourCCText(o.fccHandler) +
                                         QStringLiteral("]");
            compressor_->addItem(name, QVariant::fromValue<uint>(o.fccHandler));
            item = compressor_->count() - 1;
        }
        compressor_->setCurrentIndex(std::max(item, 0));
        quality_default_->setChecked(o.dwQuality == kDefaultQuality);
        quality_->setValue(o.dwQuality == kDefaultQuality
                               ? 75
                               : static_cast<int>(std::min<DWORD>(o.dwQuality, 10000) / 100));
        quality_value_->setText(QString::number(quality_->value()));
        key_frames_->setChecked(o.dwFlags & AVICOMPRESSF_KEYFRAMES);
        key_every_->setValue(static_cast<int>(std::clamp<DWORD>(o.dwKeyFrameEvery, 1, 100000)));
        data_rate_->setChecked(o.dwFlags & AVICOMPRESSF_DATARATE);
        data_rate_value_->setValue(
            static_cast<int>(std::clamp<DWORD>((o.dwBytesPerSecond + 500) / 1000, 1, 4000000)));
    } else if (type == streamtypeAUDIO) {
        audio_format_->setText(AudioFormatText(streams_[static_cast<std::size_t>(index)]));
    }
    interleave_->setChecked(o.dwFlags & AVICOMPRESSF_INTERLEAVE);
    interleave_every_->setValue(
        static_cast<int>(std::clamp<DWORD>(o.dwInterleaveEvery, 1, 100000)));
    Enable();
    UpdatePreview();
}

void SaveOptionsDialog::Store(int index) {
    AVICOMPRESSOPTIONS& o = records_[static_cast<std::size_t>(index)];
    auto set = [&o](DWORD flag, bool on) { o.dwFlags = on ? o.dwFlags | flag : o.dwFlags & ~flag; };
    if (InfoOf(streams_[static_cast<std::size_t>(index)]).fccType == streamtypeVIDEO) {
        o.fccHandler = compressor_->currentData().toUInt();
        o.dwQuality = quality_default_->isChecked() ? kDefaultQuality
                                                    : static_cast<DWORD>(quality_->value()) * 100;
        if (flags_ & ICMF_CHOOSE_KEYFRAME) {
            set(AVICOMPRESSF_KEYFRAMES, key_frames_->isChecked());
            o.dwKeyFrameEvery = static_cast<DWORD>(key_every_->value());
        }
        if (flags_ & ICMF_CHOOSE_DATARATE) {
            set(AVICOMPRESSF_DATARATE, data_rate_->isChecked());
            // A rate shown as it was keeps its bytes.
            if ((o.dwBytesPerSecond + 500) / 1000 != static_cast<DWORD>(data_rate_value_->value()))
                o.dwBytesPerSecond = static_cast<DWORD>(data_rate_value_->value()) * 1000;
        }
    }
    set(AVICOMPRESSF_INTERLEAVE, interleave_->isChecked());
    o.dwInterleaveEvery = static_cast<DWORD>(interleave_every_->value());
    o.dwFlags |= AVICOMPRESSF_VALID;
}

void SaveOptionsDialog::Enable() {
    const DWORD handler = compressor_->currentData().toUInt();
    const std::optional<CompressorInfo> c = FindCompressor(handler);
    const bool quality = c && c->quality;
    quality_default_->setEnabled(quality);
    quality_->setEnabled(quality && !quality_default_->isChecked());
    key_frames_->setEnabled(c && !c->intra_only);
    key_every_->setEnabled(key_frames_->isEnabled() && key_frames_->isChecked());
    data_rate_->setEnabled(c && c->data_rate);
    data_rate_value_->setEnabled(data_rate_->isEnabled() && data_rate_->isChecked());
    interleave_every_->setEnabled(interleave_->isChecked());
}

QImage SaveOptionsDialog::PreviewImage() const {
    if (current_ < 0 || !(flags_ & ICMF_CHOOSE_PREVIEW)) return {};
    PAVISTREAM s = streams_[static_cast<std::size_t>(current_)];
    if (InfoOf(s).fccType != streamtypeVIDEO) return {};
    // The choices on show, not yet stored.
    AVICOMPRESSOPTIONS o = records_[static_cast<std::size_t>(current_)];
    o.fccHandler = compressor_->currentData().toUInt();
    o.dwQuality = quality_default_->isChecked() ? kDefaultQuality
                                                : static_cast<DWORD>(quality_->value()) * 100;
    o.dwFlags &= ~AVICOMPRESSF_DATARATE;
    return FirstFrame(s, o);
}

void SaveOptionsDialog::UpdatePreview() {
    if (!(flags_ & ICMF_CHOOSE_PREVIEW)) return;
    const QImage image = PreviewImage();
    if (image.isNull()) {
        preview_->setText(QStringLiteral("No preview"));
        return;
    }
    preview_->setPixmap(QPixmap::fromImage(image.scaled(
        kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void SaveOptionsDialog::accept() {
    if (current_ >= 0) Store(current_);
    QDialog::accept();
}

BOOL AVISaveOptions(QWidget* parent, UINT flags, int count, PAVISTREAM* streams,
                    AVICOMPRESSOPTIONS** options) {
    if (count <= 0 || streams == nullptr || options == nullptr) return 0;
    // Without widgets (the command line) there is nobody to ask.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return 0;
    std::vector<PAVISTREAM> list;
    std::vector<AVICOMPRESSOPTIONS> records;
    for (int i = 0; i < count; ++i) {
        if (streams[i] == nullptr || options[i] == nullptr) return 0;
        list.push_back(streams[i]);
        records.push_back(*options[i]);
    }
    SaveOptionsDialog dialog(parent, flags, std::move(list), std::move(records));
    if (dialog.exec() != QDialog::Accepted) return 0;
    for (int i = 0; i < count; ++i)
        *options[i] = dialog.Results()[static_cast<std::size_t>(i)];
    return 1;
}

} // namespace lum::platform::vfw
