// AVISaveV: every stream is read through what its options make of it (the
// stream itself, a compressed stream or converted audio) and written to a
// new AVI file by the AVI writer, one stream after another or interleaved
// by the time of the first video stream.
#include "platform/vfw/savev.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/base/globalmem.h"
#include "platform/vfw/editstream.h"
#include "platform/vfw/riff.h"
#include "platform/vfw/sharelock.h"

namespace lum::platform::vfw {

namespace {

struct StreamRef {
    PAVISTREAM p = nullptr;
    StreamRef() = default;
    explicit StreamRef(PAVISTREAM s) : p(s) {}
    StreamRef(const StreamRef&) = delete;
    StreamRef& operator=(const StreamRef&) = delete;
    StreamRef(StreamRef&& o) noexcept : p(o.p) { o.p = nullptr; }
    StreamRef& operator=(StreamRef&& o) noexcept {
        std::swap(p, o.p);
        return *this;
    }
    ~StreamRef() { AVIStreamRelease(p); }
};

// Frames of an edit stream's segment head, compressed again.
struct Head {
    LONG from = 0; // positions in the saved stream
    LONG to = 0;
    StreamRef encoded;
    LONG encoded_start = 0; // the position of From in Encoded
};

struct Track {
    StreamRef in; // what is read
    PAVISTREAM out = nullptr;
    AVISTREAMINFO info{};
    LONG start = 0;
    LONG end = 0;
    LONG next = 0;
    bool fixed = false;
    bool video = false;
    bool copy = false; // the samples as they are
    LONG next_format = -1;
    std::vector<Head> heads;
    std::size_t head = 0;
    long double seconds_per_sample = 0;
};

std::vector<std::uint8_t> FormatAt(PAVISTREAM s, LONG pos) {
    LONG size = 0;
    if (AVIStreamReadFormat(s, pos, nullptr, &size) != AVIERR_OK || size <= 0) return {};
    std::vector<std::uint8_t> f(static_cast<std::size_t>(size));
    if (AVIStreamReadFormat(s, pos, f.data(), &size) != AVIERR_OK) return {};
    f.resize(static_cast<std::size_t>(size));
    return f;
}

// Quality of the frames compressed again at an edit point: close to the
// source, as they sit among its own frames.
constexpr DWORD kHeadQuality = 9500;

class Saver {
public:
    Saver(const SaveProgress& progress) : progress_(progress) {}
    ~Saver() {
        for (Track& t : tracks_)
            AVIStreamRelease(t.out);
        AVIFileRelease(file_);
    }

    HRESULT Prepare(int count, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
        if (count <= 0 || streams == nullptr) return AVIERR_BADPARAM;
        for (int i = 0; i < count; ++i) {
            if (streams[i] == nullptr) return AVIERR_BADHANDLE;
            const AVICOMPRESSOPTIONS* o = options ? options[i] : nullptr;
            Track t;
            HRESULT hr = Source(streams[i], o, t);
            if (hr != AVIERR_OK) return hr;
            if (o && (o->dwFlags & AVICOMPRESSF_INTERLEAVE) && interleave_ == 0)
                interleave_ = static_cast<LONG>(std::max<DWORD>(o->dwInterleaveEvery, 1));
            tracks_.push_back(std::move(t));
        }
        for (const Track& t : tracks_)
            total_ += (t.end - t.start) * t.seconds_per_sample;
        return AVIERR_OK;
    }

    HRESULT Write(const std::string& path) {
        HRESULT hr = AVIFileOpen(&file_, path, OF_CREATE | OF_WRITE | OF_SHARE_EXCLUSIVE);
        if (hr != AVIERR_OK) return hr;
        for (Track& t : tracks_) {
            hr = CreateOut(t);
            if (hr != AVIERR_OK) return hr;
        }
        if (Report()) return AVIERR_USERABORT;
        hr = interleave_ > 0 ? Interleaved() : OneAfterAnother();
        if (hr != AVIERR_OK) return hr;
        for (Track& t : tracks_) {
            AVIStreamRelease(t.out);
            t.out = nullptr;
        }
        // The last reference completes the file.
        PAVIFILE f = file_;
        file_ = nullptr;
        AVIFileRelease(f);
        return AVIERR_OK;
    }

private:
    HRESULT Source(PAVISTREAM s, const AVICOMPRESSOPTIONS* o, Track& t) {
        HRESULT hr = AVIStreamInfo(s, &t.info, sizeof t.info);
        if (hr != AVIERR_OK) return hr;
        t.video = t.info.fccType == streamtypeVIDEO;
        const bool compress_video = t.video && o && o->fccHandler != 0;
        const bool convert_audio = t.info.fccType == streamtypeAUDIO && o && o->lpFormat;
        if (compress_video || convert_audio) {
            PAVISTREAM c = nullptr;
            hr = AVIMakeCompressedStream(&c, s, o, nullptr);
            if (hr != AVIERR_OK) return hr;
            t.in = StreamRef(c);
            hr = AVIStreamInfo(c, &t.info, sizeof t.info);
            if (hr != AVIERR_OK) return hr;
        } else {
            AVIStreamAddRef(s);
            t.in = StreamRef(s);
            t.copy = true;
        }
        t.start = static_cast<LONG>(t.info.dwStart);
        t.end = t.start + static_cast<LONG>(t.info.dwLength);
        t.next = t.start;
        t.fixed = !t.video && t.info.dwSampleSize != 0;
        if (t.info.dwRate)
            t.seconds_per_sample = static_cast<long double>(t.info.dwScale) / t.info.dwRate;
        if (t.copy && t.video && IsEditStream(t.in.p)) return PlanHeads(t);
        return AVIERR_OK;
    }

    // The segments of an edit stream that begin with a delta frame: their
    // frames up to the source's next key frame are compressed again, so the
    // copy starts each segment from a key frame of its own.
    HRESULT PlanHeads(Track& t) {
        LONG at = t.start;
        for (const EditSegment& seg : EditStreamSegments(t.in.p)) {
            const LONG here = at;
            at += seg.length;
            if (AVIStreamFindSample(seg.source, seg.start, FIND_PREV | FIND_KEY) == seg.start)
                continue;
            const LONG key = AVIStreamFindSample(seg.source, seg.start, FIND_NEXT | FIND_KEY);
            const LONG n = key < 0 || key >= seg.start + seg.length ? seg.length : key - seg.start;
            const std::vector<std::uint8_t> f = FormatAt(seg.source, seg.start);
            if (f.size() < 40) return AVIERR_CANTCOMPRESS;
            std::optional<CompressorInfo> c = FindCompressor(GetLE32(&f[16]));
            // The frames made must decode under the source's format: its
            // size and depth, and no codec data of its own unless the codec
            // repeats it in every key frame (MPEG-4 ASP).
            if (!c || (f.size() > 40 && c->encoder != "mpeg4")) return AVIERR_CANTCOMPRESS;
            LONG s = here, len = n;
            PAVISTREAM piece = nullptr;
            HRESULT hr = EditStreamCopy(t.in.p, &s, &len, &piece);
            if (hr != AVIERR_OK) return hr;
            StreamRef piece_ref(piece);
            AVICOMPRESSOPTIONS o{};
            o.fccType = streamtypeVIDEO;
            o.fccHandler = GetLE32(&f[16]);
            o.dwQuality = kHeadQuality;
            o.dwKeyFrameEvery = static_cast<DWORD>(len);
            o.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
            PAVISTREAM encoded = nullptr;
            hr = AVIMakeCompressedStream(&encoded, piece, &o, nullptr);
            if (hr != AVIERR_OK) return AVIERR_CANTCOMPRESS;
            Head h;
            h.from = s;
            h.to = s + len;
            h.encoded = StreamRef(encoded);
            h.encoded_start = AVIStreamStart(encoded);
            const std::vector<std::uint8_t> made = FormatAt(encoded, h.encoded_start);
            if (made.size() < 40 || std::memcmp(&made[4], &f[4], 8) != 0 ||
                GetLE16(&made[14]) != GetLE16(&f[14]))
                return AVIERR_CANTCOMPRESS;
            t.heads.push_back(std::move(h));
        }
        return AVIERR_OK;
    }

    HRESULT CreateOut(Track& t) {
        AVISTREAMINFO si = t.info;
        si.dwLength = 0;
        si.dwSuggestedBufferSize = 0;
        si.dwEditCount = 0;
        si.dwFormatChangeCount = 0;
        si.dwFlags &= ~AVISTREAMINFO_FORMATCHANGES;
        HRESULT hr = AVIFileCreateStream(file_, &t.out, &si);
        if (hr != AVIERR_OK) return hr;
        std::vector<std::uint8_t> f = FormatAt(t.in.p, t.start);
        if (f.empty()) return AVIERR_BADFORMAT;
        hr = AVIStreamSetFormat(t.out, t.start, f.data(), static_cast<LONG>(f.size()));
        if (hr != AVIERR_OK) return hr;
        if (t.copy) {
            // Codec data some streams keep beside the format.
            LONG size = 0;
            if (AVIStreamReadData(t.in.p, ckidSTREAMHANDLERDATA, nullptr, &size) == AVIERR_OK &&
                size > 0 && size < (16 << 20)) {
                std::vector<std::uint8_t> d(static_cast<std::size_t>(size));
                if (AVIStreamReadData(t.in.p, ckidSTREAMHANDLERDATA, d.data(), &size) ==
                    AVIERR_OK) {
                    hr = AVIStreamWriteData(t.out, ckidSTREAMHANDLERDATA, d.data(), size);
                    if (hr != AVIERR_OK) return hr;
                }
            }
            if (t.video && t.end > t.start + 1)
                t.next_format = AVIStreamFindSample(t.in.p, t.start + 1, FIND_NEXT | FIND_FORMAT);
        }
        return AVIERR_OK;
    }

    HRESULT OneAfterAnother() {
        for (Track& t : tracks_) {
            HRESULT hr = CopyUpTo(t, t.end);
            if (hr != AVIERR_OK) return hr;
        }
        return AVIERR_OK;
    }

    // Every block of Interleave frames of the first video stream (or the
    // first stream) is preceded by the other streams up to its end.
    HRESULT Interleaved() {
        std::size_t m = 0;
        for (std::size_t i = 0; i < tracks_.size(); ++i) {
            if (tracks_[i].video) {
                m = i;
                break;
            }
        }
        Track& master = tracks_[m];
        for (LONG from = master.start; from < master.end; from += interleave_) {
            const LONG to = std::min<LONG>(from + interleave_, master.end);
            for (std::size_t i = 0; i < tracks_.size(); ++i) {
                if (i == m) continue;
                Track& t = tracks_[i];
                LONG upto = t.end;
                if (to < master.end && t.info.dwScale && master.info.dwRate) {
                    // The sample of T at the time of master position To.
                    const __int128 num = static_cast<__int128>(to - master.start) *
                                         master.info.dwScale * t.info.dwRate;
                    const __int128 den = static_cast<__int128>(master.info.dwRate) * t.info.dwScale;
                    upto = static_cast<LONG>(std::min<__int128>(t.start + num / den, t.end));
                }
                HRESULT hr = CopyUpTo(t, upto);
                if (hr != AVIERR_OK) return hr;
            }
            HRESULT hr = CopyUpTo(master, to);
            if (hr != AVIERR_OK) return hr;
        }
        for (Track& t : tracks_) {
            HRESULT hr = CopyUpTo(t, t.end);
            if (hr != AVIERR_OK) return hr;
        }
        return AVIERR_OK;
    }

    HRESULT CopyUpTo(Track& t, LONG upto) {
        while (t.next < upto) {
            LONG done = 0;
            HRESULT hr = t.fixed ? CopyFixed(t, upto, &done) : CopySample(t, &done);
            if (hr != AVIERR_OK) return hr;
            if (done <= 0) return AVIERR_FILEREAD; // the source ended early
            t.next += done;
            done_ += done * t.seconds_per_sample;
            if (Report()) return AVIERR_USERABORT;
        }
        return AVIERR_OK;
    }

    HRESULT CopyFixed(Track& t, LONG upto, LONG* done) {
        const DWORD size = t.info.dwSampleSize;
        // About a second a chunk, and no more than a megabyte.
        LONG n = t.info.dwScale ? static_cast<LONG>(t.info.dwRate / t.info.dwScale) : 1;
        n = std::clamp<LONG>(n, 1, static_cast<LONG>(std::max<DWORD>((1u << 20) / size, 1)));
        n = std::min(n, upto - t.next);
        const std::size_t need = static_cast<std::size_t>(n) * size;
        if (buffer_.size() < need) buffer_.resize(need);
        LONG bytes = 0, got = 0;
        HRESULT hr =
            AVIStreamRead(t.in.p, t.next, n, buffer_.data(), static_cast<LONG>(need), &bytes, &got);
        if (hr != AVIERR_OK) return hr;
        if (got > 0) {
            hr = AVIStreamWrite(t.out, t.next, got, buffer_.data(), bytes, 0, nullptr, nullptr);
            if (hr != AVIERR_OK) return hr;
        }
        *done = got;
        return AVIERR_OK;
    }

    HRESULT CopySample(Track& t, LONG* done) {
        const LONG p = t.next;
        if (p == t.next_format) {
            std::vector<std::uint8_t> f = FormatAt(t.in.p, p);
            HRESULT hr = AVIStreamSetFormat(t.out, p, f.data(), static_cast<LONG>(f.size()));
            if (hr != AVIERR_OK) return hr;
            t.next_format = AVIStreamFindSample(t.in.p, p + 1, FIND_NEXT | FIND_FORMAT);
        }
        while (t.head < t.heads.size() && t.heads[t.head].to <= p)
            ++t.head;
        PAVISTREAM from = t.in.p;
        LONG at = p;
        if (t.head < t.heads.size() && t.heads[t.head].from <= p) {
            from = t.heads[t.head].encoded.p;
            at = t.heads[t.head].encoded_start + (p - t.heads[t.head].from);
        }
        LONG bytes = 0, got = 0;
        HRESULT hr = AVIStreamRead(from, at, 1, buffer_.data(), static_cast<LONG>(buffer_.size()),
                                   &bytes, &got);
        if (hr == AVIERR_BUFFERTOOSMALL && bytes > 0) {
            buffer_.resize(static_cast<std::size_t>(bytes) * 2);
            hr = AVIStreamRead(from, at, 1, buffer_.data(), static_cast<LONG>(buffer_.size()),
                               &bytes, &got);
        }
        if (hr != AVIERR_OK) return hr;
        if (got != 1) return AVIERR_FILEREAD;
        const bool key = AVIStreamFindSample(from, at, FIND_PREV | FIND_KEY) == at;
        hr = AVIStreamWrite(t.out, p, 1, bytes ? buffer_.data() : nullptr, bytes,
                            key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
        if (hr != AVIERR_OK) return hr;
        *done = 1;
        return AVIERR_OK;
    }

    // Tells the progress when its percentage changed; true to abort.
    bool Report() {
        if (!progress_) return false;
        const int percent =
            total_ > 0 ? static_cast<int>(std::min<long double>(100, done_ * 100 / total_)) : 100;
        if (percent == reported_) return false;
        reported_ = percent;
        return progress_(percent);
    }

    const SaveProgress& progress_;
    std::vector<Track> tracks_;
    PAVIFILE file_ = nullptr;
    LONG interleave_ = 0;
    long double total_ = 0;
    long double done_ = 0;
    int reported_ = -1;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(1 << 16);
};

// Whether another open holds File: replacing it would pull it from under
// that open.
bool HeldElsewhere(const std::string& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = !AcquireShare(fd, ShareFromMode(OF_WRITE | OF_SHARE_EXCLUSIVE));
    ::close(fd);
    return held;
}

// A new empty file beside File, made exclusively; empty on failure.
std::string TemporaryBeside(const std::string& file) {
    const std::filesystem::path p(file);
    std::string name = (p.parent_path() / ("." + p.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(name.data());
    if (fd < 0) return {};
    // The finished file gets the permissions a new file would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return name;
}

} // namespace

HRESULT AVISaveStreams(const std::string& file, const SaveProgress& progress, int count,
                       PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (file.empty()) return AVIERR_BADPARAM;
    auto saver = std::make_unique<Saver>(progress);
    HRESULT hr = saver->Prepare(count, streams, options);
    if (hr != AVIERR_OK) return hr;
    if (HeldElsewhere(file)) return AVIERR_FILEOPEN;
    const std::string temp = TemporaryBeside(file);
    if (temp.empty()) return AVIERR_FILEOPEN;
    try {
        hr = saver->Write(temp);
    } catch (...) {
        // A progress callback that raised: nothing of the save stays.
        saver.reset();
        ::unlink(temp.c_str());
        throw;
    }
    saver.reset(); // releases the file, which completes it
    if (hr == AVIERR_OK && std::rename(temp.c_str(), file.c_str()) != 0) hr = AVIERR_FILEWRITE;
    if (hr != AVIERR_OK) ::unlink(temp.c_str());
    return hr;
}

HRESULT AVISaveV(const std::string& file, const void*, AVISAVECALLBACK callback, int count,
                 PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    SaveProgress progress;
    if (callback) progress = [callback](int percent) { return callback(percent) != 0; };
    return AVISaveStreams(file, progress, count, streams, options);
}

LONG AVISaveOptionsFree(int count, AVICOMPRESSOPTIONS** options) {
    if (options == nullptr) return AVIERR_OK;
    for (int i = 0; i < count; ++i) {
        AVICOMPRESSOPTIONS* o = options[i];
        if (o == nullptr) continue;
        if (o->lpFormat) GlobalFree(o->lpFormat);
        if (o->lpParms) GlobalFree(o->lpParms);
        o->lpFormat = nullptr;
        o->cbFormat = 0;
        o->lpParms = nullptr;
        o->cbParms = 0;
    }
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
