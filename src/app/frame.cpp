// The frame command: one decoded frame of the first video stream, written
// as a 24-bit bottom-up BMP. The decoder is asked for its best display
// format first; a frame in any other format is fetched again as 24 bits.
#include <charconv>
#include <fstream>
#include <ostream>

#include "app/cli.h"
#include "video/lumavi.h"
#include "video/lumaviworker.h"
#include "video/lumdib.h"

namespace lum::app {

namespace {

constexpr const char* kUsage = "usage: snapreel-cli frame FILE INDEX -o OUT.BMP\n";

bool Plain24(const TBitmapInfoHeader* dib) {
    return dib->biBitCount == 24 && dib->biCompression == platform::BI_RGB && dib->biHeight > 0;
}

bool WriteBmp(const std::string& path, const TBitmapInfoHeader* dib) {
    const std::uint32_t image = DIB_WidthBytes(dib) * static_cast<std::uint32_t>(dib->biHeight);
    platform::BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof(TBitmapInfoHeader);
    fh.bfSize = fh.bfOffBits + image;
    TBitmapInfoHeader bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = dib->biWidth;
    bi.biHeight = dib->biHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = platform::BI_RGB;
    bi.biSizeImage = image;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&bi), sizeof bi);
    f.write(static_cast<const char*>(DIB_Ptr(dib)), image);
    f.close();
    return static_cast<bool>(f);
}

} // namespace

int RunFrame(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> positional;
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out << kUsage;
            return kExitOk;
        }
        if (a == "-o") {
            if (i + 1 >= args.size() || !output.empty()) {
                err << kUsage;
                return kExitUsage;
            }
            output = args[++i];
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            err << "snapreel-cli frame: unknown option \"" << a << "\"\n";
            return kExitUsage;
        } else {
            positional.push_back(a);
        }
    }
    LONG index = -1;
    if (positional.size() == 2) {
        const std::string& text = positional[1];
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
        if (ec != std::errc() || end != text.data() + text.size()) index = -1;
    }
    if (positional.size() != 2 || output.empty() || index < 0) {
        err << kUsage;
        return kExitUsage;
    }

    int stage = kExitFailure;
    try {
        TLumAVIFile file;
        file.SetFileName(positional[0]);
        file.SetShareMode(smRead);
        file.OpenFile();
        TLumAVIVideoWorker worker(file.GetTypedStreams(stVideo, 0));
        if (worker.GetStream() == nullptr) throw ELumAVIError("Stream not opened");
        stage = kExitNoFrame;
        worker.BeginReading();
        PBitmapInfoHeader dib = worker.GetDIB(index);
        if (!Plain24(dib)) {
            TBitmapInfoHeader want{};
            want.biSize = sizeof want;
            want.biWidth = dib->biWidth;
            want.biHeight = dib->biHeight < 0 ? -dib->biHeight : dib->biHeight;
            want.biPlanes = 1;
            want.biBitCount = 24;
            worker.BeginReading(&want);
            dib = worker.GetDIB(index);
        }
        stage = kExitFailure;
        if (!WriteBmp(output, dib)) {
            err << "Can't write \"" << output << "\"\n";
            return kExitFailure;
        }
    } catch (const Exception& e) {
        err << e.Message() << "\n";
        return stage;
    }
    return kExitOk;
}

} // namespace lum::app
