#include "app/extraction.h"

#include <QImage>
#include <QImageWriter>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/gdi/gdi.h"
#include "platform/gdi/graphics.h"
#include "video/lumaviworker.h"

namespace lum::app {

namespace gdi = platform::gdi;

namespace {

constexpr int kThumbSize = 32;

// Ends reading, hides the gauge and restores the cursor however the run
// ends, so a failed run leaves the window as a finished one does.
class RunGuard {
public:
    RunGuard(TExtractionHost& host, TLumAVIVideoWorker& worker) : host_(host), worker_(worker) {}
    ~RunGuard() {
        if (!busy_) return;
        try {
            worker_.EndReading();
        } catch (...) {
        }
        if (shown_) host_.HideProgress();
        host_.SetBusy(false);
    }
    void Busy() {
        host_.SetBusy(true);
        busy_ = true;
    }
    void Shown() { shown_ = true; }

private:
    TExtractionHost& host_;
    TLumAVIVideoWorker& worker_;
    bool busy_ = false;
    bool shown_ = false;
};

} // namespace

HBITMAP TExtractionHost::ConvertFrame(const TBitmapInfoHeader* dib) {
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    DIB_DIBToBitmap(dib, bitmap, palette);
    if (palette) gdi::DeleteObject(palette);
    return bitmap;
}

int StrToInt(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    const char* first = text.data() + begin;
    const char* last = text.data() + end;
    if (first != last && *first == '+') ++first; // from_chars takes only "-"
    int value = 0;
    auto [stop, ec] = std::from_chars(first, last, value);
    if (first == last || ec != std::errc() || stop != last)
        throw EConvertError("'" + text + "' is not a valid integer value");
    return value;
}

std::string StillPath(const std::string& directory, LONG index, TStillFormat format) {
    const char* extension = format == TStillFormat::sfPng    ? ".PNG"
                            : format == TStillFormat::sfJpeg ? ".JPG"
                                                             : ".BMP";
    return directory + "/" + std::to_string(static_cast<long long>(index) + 10000) + extension;
}

namespace {

// Writes a 24-bit frame bitmap as PNG or JPEG through Qt's image writers.
void SaveImage(gdi::TBitmap& frame, const std::string& path, TStillFormat format, int quality) {
    QImage image(frame.GetWidth(), frame.GetHeight(), QImage::Format_BGR888);
    const auto row = static_cast<std::size_t>(frame.GetWidth()) * 3;
    for (int y = 0; y < frame.GetHeight(); ++y)
        std::memcpy(image.scanLine(y), frame.ScanLine(y), row);
    QImageWriter writer(QString::fromStdString(path),
                        format == TStillFormat::sfPng ? "png" : "jpeg");
    if (format == TStillFormat::sfJpeg && quality >= 0) writer.setQuality(quality);
    if (!writer.write(image))
        throw EStreamError("Can't write \"" + path + "\": " + writer.errorString().toStdString());
}

} // namespace

TExtractionResult ExtractStills(TLumAVIFile& file, TExtractionHost& host) {
    // Refusals first: a step below 1 would never end, an empty folder would
    // write into the root.
    try {
        if (StrToInt(host.StepText()) < 1)
            throw EExtractionRefused("The frame step must be at least 1");
    } catch (const EConvertError&) {
        // A step that is not a number ends the run after the first frame.
    }
    if (host.Directory().empty()) throw EExtractionRefused("No folder chosen for the stills");

    TExtractionResult result;
    // The thumbnail, 32 by 32 at 24 bits per pixel, rows read directly.
    gdi::TBitmap thumb;
    thumb.SetPixelFormat(gdi::pf24bit);
    thumb.SetWidth(kThumbSize);
    thumb.SetHeight(kThumbSize);
    // The frame bitmap takes over each frame's display bitmap.
    gdi::TBitmap frame;
    // Raises "File not opened" when no file is open, before anything starts.
    TLumAVIVideoWorker worker(file.GetTypedStreams(stVideo, 0));
    // The means of the last still written; the first frame is compared with black.
    int prevRed = 0, prevGreen = 0, prevBlue = 0;

    RunGuard guard(host, worker);
    LONG index = 0;
    bool measuring = false;
    try {
        worker.BeginReading();
        guard.Busy();
        TLumAVIStream& stream = *worker.GetStream();
        result.length = stream.GetLength();
        host.ShowProgress(result.length);
        guard.Shown();

        thumb.GetCanvas(); // made once; the passes reuse it
        const gdi::TRect whole{0, 0, kThumbSize, kThumbSize};
        // The length is asked again before every pass.
        while (index < (result.length = stream.GetLength())) {
            if (host.Cancelled()) {
                result.cancelled = true;
                return result;
            }
            measuring = true;
            PBitmapInfoHeader dib = worker.GetDIB(index);
            HBITMAP handle = host.ConvertFrame(dib);
            if (!handle) throw Exception("Can't convert frame");
            frame.SetHandle(handle);
            thumb.GetCanvas().StretchDraw(whole, frame);

            float sumRed = 0, sumGreen = 0, sumBlue = 0;
            for (int y = 0; y < thumb.GetHeight(); ++y) {
                const std::uint8_t* p = thumb.ScanLine(y);
                for (int x = 0; x < thumb.GetWidth(); ++x, p += 3) {
                    sumRed += p[2];
                    sumGreen += p[1];
                    sumBlue += p[0];
                }
            }
            const float pixels = static_cast<float>(thumb.GetWidth() * thumb.GetWidth());
            TFrameRecord record;
            record.index = index;
            record.red = static_cast<int>(sumRed / pixels);
            record.green = static_cast<int>(sumGreen / pixels);
            record.blue = static_cast<int>(sumBlue / pixels);
            const double dr = record.red - prevRed;
            const double dg = record.green - prevGreen;
            const double db = record.blue - prevBlue;
            record.distance = static_cast<float>(std::sqrt(dr * dr + dg * dg + db * db));
            ++result.visited;
            result.lastIndex = index;

            const int level = StrToInt(host.LevelText());
            // Compared in double: a level near the int limit stays exact.
            if (static_cast<double>(level) < static_cast<double>(record.distance)) {
                prevRed = record.red;
                prevGreen = record.green;
                prevBlue = record.blue;
                frame.SetPixelFormat(gdi::pf24bit);
                const TStillFormat format = host.StillFormat();
                record.file = StillPath(host.Directory(), index, format);
                if (format == TStillFormat::sfBmp)
                    frame.SaveToFile(record.file);
                else
                    SaveImage(frame, record.file, format, host.StillQuality());
                record.written = true;
                ++result.written;
            }
            host.FrameDone(record);
            host.SetProgress(index);
            measuring = false;

            const int step = StrToInt(host.StepText());
            if (step < 1) throw EExtractionRefused("The frame step must be at least 1");
            // A step that would pass the largest index ends the walk.
            if (index > std::numeric_limits<LONG>::max() - step) break;
            index += step;
        }
    } catch (const std::exception& e) {
        result.failed = true;
        result.failedFrame = measuring ? index : -1;
        result.error = e.what();
    }
    return result;
}

} // namespace lum::app
