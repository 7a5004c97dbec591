// AVIMakeFileFromStreams: a file that is only a list of streams held in
// memory, described as an AVI file of those streams would be.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/savev.h"

namespace lum::platform::vfw {

namespace {

class MemoryFile final : public IAVIFile {
public:
    explicit MemoryFile(std::vector<PAVISTREAM> streams) : streams_(std::move(streams)) {
        for (PAVISTREAM s : streams_)
            AVIStreamAddRef(s);
    }

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Info(AVIFILEINFO* info, LONG size) override {
        if (info == nullptr) return AVIERR_BADPARAM;
        if (size < 0) return AVIERR_BADSIZE;
        AVIFILEINFO d{};
        d.dwStreams = static_cast<DWORD>(streams_.size());
        d.dwCaps = AVIFILECAPS_CANREAD;
        bool have_video = false;
        long double bytes_per_second = 0;
        for (PAVISTREAM s : streams_) {
            AVISTREAMINFO si{};
            if (AVIStreamInfo(s, &si, sizeof si) != AVIERR_OK) continue;
            d.dwSuggestedBufferSize = std::max(d.dwSuggestedBufferSize, si.dwSuggestedBufferSize);
            if (si.fccType == streamtypeAUDIO && si.dwScale)
                bytes_per_second += static_cast<long double>(si.dwRate) / si.dwScale *
                                    std::max<DWORD>(si.dwSampleSize, 1);
            if (si.fccType != streamtypeVIDEO || have_video) continue;
            // The first video stream gives the size and the timing.
            have_video = true;
            d.dwScale = si.dwScale;
            d.dwRate = si.dwRate;
            d.dwLength = si.dwLength;
            d.dwWidth = static_cast<DWORD>(std::max<LONG>(si.rcFrame.right - si.rcFrame.left, 0));
            d.dwHeight = static_cast<DWORD>(std::max<LONG>(si.rcFrame.bottom - si.rcFrame.top, 0));
            LONG fsize = 0;
            if (d.dwWidth == 0 &&
                AVIStreamReadFormat(s, AVIStreamStart(s), nullptr, &fsize) == AVIERR_OK &&
                fsize >= 40) {
                std::vector<std::uint8_t> f(static_cast<std::size_t>(fsize));
                if (AVIStreamReadFormat(s, AVIStreamStart(s), f.data(), &fsize) == AVIERR_OK) {
                    d.dwWidth = GetLE32(&f[4]);
                    d.dwHeight = static_cast<DWORD>(std::abs(static_cast<LONG>(GetLE32(&f[8]))));
                }
            }
        }
        d.dwMaxBytesPerSec =
            static_cast<DWORD>(std::min<long double>(bytes_per_second, 0xFFFFFFFF));
        std::memcpy(d.szFileType, "Memory file", 12);
        std::memcpy(info, &d, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof d));
        return AVIERR_OK;
    }

    HRESULT GetStream(IAVIStream** stream, FOURCC type, LONG index) override {
        if (stream == nullptr) return AVIERR_BADPARAM;
        *stream = nullptr;
        if (index < 0) return AVIERR_BADPARAM;
        LONG n = 0;
        for (PAVISTREAM s : streams_) {
            AVISTREAMINFO si{};
            if (type != 0 && (AVIStreamInfo(s, &si, sizeof si) != AVIERR_OK || si.fccType != type))
                continue;
            if (n++ == index) {
                AVIStreamAddRef(s);
                *stream = s;
                return AVIERR_OK;
            }
        }
        return AVIERR_NODATA;
    }

    HRESULT CreateStream(IAVIStream** stream, const AVISTREAMINFO*) override {
        if (stream) *stream = nullptr;
        return AVIERR_UNSUPPORTED;
    }
    HRESULT WriteData(FOURCC id, const void* data, LONG size) override {
        if (size < 0 || (size > 0 && data == nullptr)) return AVIERR_BADPARAM;
        const auto* p = static_cast<const std::uint8_t*>(data);
        extra_.Set(id, std::vector<std::uint8_t>(p, p + size));
        return AVIERR_OK;
    }
    HRESULT ReadData(FOURCC id, void* data, LONG* size) override {
        return extra_.Read(id, data, size);
    }
    HRESULT EndRecord() override { return AVIERR_OK; }
    HRESULT DeleteStream(FOURCC, LONG) override { return AVIERR_UNSUPPORTED; }

private:
    ~MemoryFile() override {
        for (PAVISTREAM s : streams_)
            AVIStreamRelease(s);
    }

    std::atomic<ULONG> refs_{1};
    std::vector<PAVISTREAM> streams_;
    DataChunks extra_;
};

} // namespace

HRESULT AVIMakeFileFromStreams(PAVIFILE* file, int count, PAVISTREAM* streams) {
    if (file == nullptr) return AVIERR_BADPARAM;
    *file = nullptr;
    if (count < 0 || (count > 0 && streams == nullptr)) return AVIERR_BADPARAM;
    std::vector<PAVISTREAM> list;
    for (int i = 0; i < count; ++i) {
        if (streams[i] == nullptr) return AVIERR_BADHANDLE;
        list.push_back(streams[i]);
    }
    *file = new MemoryFile(std::move(list));
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
