#include "platform/vfw/editstream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

namespace {

std::vector<std::uint8_t> FormatOf(PAVISTREAM s, LONG pos) {
    LONG size = 0;
    if (AVIStreamReadFormat(s, pos, nullptr, &size) != AVIERR_OK || size <= 0) return {};
    std::vector<std::uint8_t> f(static_cast<std::size_t>(size));
    if (AVIStreamReadFormat(s, pos, f.data(), &size) != AVIERR_OK) return {};
    f.resize(static_cast<std::size_t>(size));
    return f;
}

// Whether samples in format B may follow samples in format A in one stream.
bool Compatible(DWORD type, const std::vector<std::uint8_t>& a,
                const std::vector<std::uint8_t>& b) {
    if (type == streamtypeVIDEO) {
        if (a.size() < 40 || b.size() < 40) return a == b;
        // Width, height, planes, depth and compression.
        return std::memcmp(a.data() + 4, b.data() + 4, 16) == 0;
    }
    return a == b;
}

class EditStream final : public IAVIStream {
public:
    struct Segment {
        PAVISTREAM source;
        LONG start; // in the source
        LONG length;
        LONG at; // relative position in this stream
    };

    EditStream() = default;

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Info(AVISTREAMINFO* info, LONG size) override {
        if (info == nullptr) return AVIERR_BADPARAM;
        if (size < 0) return AVIERR_BADSIZE;
        AVISTREAMINFO d = info_;
        d.dwLength = static_cast<DWORD>(Length());
        d.dwEditCount = edits_;
        d.dwCaps = AVIFILECAPS_CANREAD;
        d.dwFormatChangeCount = 0;
        DWORD suggested = 0;
        for (const Segment& s : segs_) {
            AVISTREAMINFO si{};
            if (AVIStreamInfo(s.source, &si, sizeof si) == AVIERR_OK)
                suggested = std::max(suggested, si.dwSuggestedBufferSize);
        }
        d.dwSuggestedBufferSize = suggested;
        std::memcpy(info, &d, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof d));
        return AVIERR_OK;
    }

    LONG FindSample(LONG pos, LONG flags) override {
        const LONG len = Length();
        if (len <= 0) return -1;
        LONG dir = flags & FIND_DIR;
        LONG rel;
        if (dir == FIND_FROM_START) {
            rel = 0;
            dir = FIND_NEXT;
        } else {
            rel = pos - Start();
            if (dir != FIND_PREV) dir = FIND_NEXT;
        }
        if (dir == FIND_PREV) {
            if (rel < 0) return -1;
            rel = std::min(rel, len - 1);
        } else {
            if (rel >= len) return -1;
            rel = std::max(rel, 0);
        }
        // Each segment asks its source, within the segment's range, and
        // passes on to the segment before or after when it has no answer.
        std::size_t i = SegmentAt(rel);
        LONG found = -1;
        const LONG type = flags & FIND_TYPE;
        LONG src = segs_[i].start + (rel - segs_[i].at);
        for (;;) {
            const Segment& s = segs_[i];
            LONG r = type == 0 ? src : AVIStreamFindSample(s.source, src, dir | type);
            if (r >= s.start && r < s.start + s.length) {
                found = s.at + (r - s.start);
                src = r;
                break;
            }
            if (dir == FIND_PREV) {
                if (i == 0) break;
                --i;
                src = segs_[i].start + segs_[i].length - 1;
            } else {
                if (++i >= segs_.size()) break;
                src = segs_[i].start;
            }
        }
        if (found < 0) return -1;
        const Segment& s = segs_[i];
        switch (flags & FIND_RET) {
        case FIND_POS:
            return found + Start();
        case FIND_LENGTH: {
            LONG n = AVIStreamFindSample(s.source, src, FIND_LENGTH);
            return n < 0 ? -1 : std::min(n, s.start + s.length - src);
        }
        case FIND_SIZE:
        case FIND_OFFSET:
        case FIND_INDEX:
            return AVIStreamFindSample(s.source, src, flags & FIND_RET);
        default:
            return -1;
        }
    }

    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        if (size == nullptr) return AVIERR_BADPARAM;
        if (segs_.empty()) {
            if (format == nullptr) *size = 0;
            return format == nullptr ? AVIERR_OK : AVIERR_NODATA;
        }
        LONG rel = std::clamp(pos - Start(), 0, Length() - 1);
        const Segment& s = segs_[SegmentAt(rel)];
        return AVIStreamReadFormat(s.source, s.start + (rel - s.at), format, size);
    }

    HRESULT SetFormat(LONG, const void*, LONG) override { return AVIERR_UNSUPPORTED; }

    HRESULT Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                 LONG* samples_read) override {
        if (bytes) *bytes = 0;
        if (samples_read) *samples_read = 0;
        if (samples < AVISTREAMREAD_CONVENIENT || buffer_size < 0) return AVIERR_BADPARAM;
        const LONG len = Length();
        LONG rel = start - Start();
        if (rel < 0 || rel >= len || samples == 0) return AVIERR_OK;
        std::size_t i = SegmentAt(rel);
        // "As many as convenient" is what the first segment has left.
        LONG want = samples == AVISTREAMREAD_CONVENIENT ? segs_[i].at + segs_[i].length - rel
                                                        : std::min(samples, len - rel);
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::int64_t used = 0;
        LONG done = 0;
        while (done < want && i < segs_.size()) {
            const Segment& s = segs_[i];
            const LONG take = std::min(want - done, s.at + s.length - rel);
            LONG b = 0, n = 0;
            HRESULT hr =
                AVIStreamRead(s.source, s.start + (rel - s.at), take, out ? out + used : nullptr,
                              out ? static_cast<LONG>(buffer_size - used) : 0, &b, &n);
            if (hr == AVIERR_BUFFERTOOSMALL && done > 0) break;
            if (hr != AVIERR_OK) {
                if (bytes) *bytes = b;
                return hr;
            }
            if (used + b > 0x7FFFFFFF) break;
            used += b;
            done += n;
            rel += n;
            if (n < take) break;
            ++i;
        }
        if (bytes) *bytes = static_cast<LONG>(used);
        if (samples_read) *samples_read = done;
        return AVIERR_OK;
    }

    HRESULT Write(LONG, LONG, const void*, LONG, DWORD, LONG* samples_written,
                  LONG* bytes_written) override {
        if (samples_written) *samples_written = 0;
        if (bytes_written) *bytes_written = 0;
        return AVIERR_UNSUPPORTED;
    }

    HRESULT Delete(LONG start, LONG samples) override {
        if (!Clamp(start, samples)) return AVIERR_BADPARAM;
        Remove(start - Start(), samples);
        return AVIERR_OK;
    }

    HRESULT ReadData(FOURCC id, void* data, LONG* size) override {
        if (segs_.empty()) {
            if (size) *size = 0;
            return AVIERR_NODATA;
        }
        return AVIStreamReadData(segs_.front().source, id, data, size);
    }
    HRESULT WriteData(FOURCC, const void*, LONG) override { return AVIERR_UNSUPPORTED; }

    HRESULT SetInfo(const AVISTREAMINFO* info, LONG size) override {
        if (info == nullptr) return AVIERR_BADPARAM;
        if (size < static_cast<LONG>(sizeof(AVISTREAMINFO))) return AVIERR_BADSIZE;
        if (info->dwScale == 0 || info->dwRate == 0) return AVIERR_BADPARAM;
        info_.wPriority = info->wPriority;
        info_.wLanguage = info->wLanguage;
        info_.dwScale = info->dwScale;
        info_.dwRate = info->dwRate;
        info_.dwStart = info->dwStart;
        info_.dwQuality = info->dwQuality;
        info_.rcFrame = info->rcFrame;
        info_.dwFlags = info->dwFlags & ~AVISTREAMINFO_FORMATCHANGES;
        std::memcpy(info_.szName, info->szName, sizeof info_.szName);
        info_.szName[63] = 0;
        ++edits_;
        return AVIERR_OK;
    }

    void SetName(const std::string& name) {
        CopyName(info_.szName, name);
        ++edits_;
    }

    // Building: takes Source's description, starting at Start.
    void Adopt(PAVISTREAM source, LONG start = 0) {
        AVISTREAMINFO si{};
        if (AVIStreamInfo(source, &si, sizeof si) != AVIERR_OK) return;
        const std::string name = info_.szName;
        info_ = si;
        info_.dwStart = static_cast<DWORD>(start);
        info_.dwLength = 0;
        info_.dwEditCount = 0;
        info_.dwFormatChangeCount = 0;
        info_.dwFlags &= ~AVISTREAMINFO_FORMATCHANGES;
        if (!name.empty()) CopyName(info_.szName, name);
        typed_ = true;
    }

    // Takes O's description, and with Segments its segments.
    void CopyFrom(const EditStream& o, bool segments = true) {
        info_ = o.info_;
        typed_ = o.typed_;
        if (!segments) return;
        for (const Segment& s : o.segs_) {
            AVIStreamAddRef(s.source);
            segs_.push_back(s);
        }
    }

    LONG Start() const { return static_cast<LONG>(info_.dwStart); }
    LONG Length() const { return segs_.empty() ? 0 : segs_.back().at + segs_.back().length; }
    bool Typed() const { return typed_; }
    DWORD Type() const { return info_.fccType; }
    const std::vector<Segment>& Segments() const { return segs_; }

    // Clamps a range given as a position and a length to the stream; false
    // when nothing of it lies in the stream.
    bool Clamp(LONG& start, LONG& length) const {
        const LONG len = Length();
        if (length <= 0 || start < Start() || start - Start() >= len) return false;
        length = std::min<LONG>(length, len - (start - Start()));
        return true;
    }

    // The segments covering Length samples from relative position Rel,
    // with references taken.
    std::vector<Segment> Take(LONG rel, LONG length) const {
        std::vector<Segment> out;
        for (std::size_t i = SegmentAt(rel); i < segs_.size() && length > 0; ++i) {
            const Segment& s = segs_[i];
            const LONG skip = std::max<LONG>(rel - s.at, 0);
            const LONG n = std::min(s.length - skip, length);
            AVIStreamAddRef(s.source);
            out.push_back({s.source, s.start + skip, n, 0});
            length -= n;
        }
        return out;
    }

    // Inserts segments (whose references pass to this stream) at Rel.
    void Insert(LONG rel, std::vector<Segment> add) {
        std::size_t i = segs_.size();
        if (rel < Length()) {
            i = SegmentAt(rel);
            Segment& s = segs_[i];
            if (rel > s.at) {
                // Split the segment that Rel falls inside.
                const LONG head = rel - s.at;
                Segment tail{s.source, s.start + head, s.length - head, rel};
                AVIStreamAddRef(s.source);
                s.length = head;
                segs_.insert(segs_.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
                ++i;
            }
        }
        segs_.insert(segs_.begin() + static_cast<std::ptrdiff_t>(i), add.begin(), add.end());
        Renumber();
        ++edits_;
    }

    void Remove(LONG rel, LONG length) {
        std::vector<Segment> kept;
        kept.reserve(segs_.size() + 1);
        const LONG end = rel + length;
        for (Segment& s : segs_) {
            const LONG s_end = s.at + s.length;
            if (s_end <= rel || s.at >= end) {
                kept.push_back(s);
                continue;
            }
            // The parts before and after the range survive.
            bool keep_ref = false;
            if (s.at < rel) {
                kept.push_back({s.source, s.start, rel - s.at, 0});
                keep_ref = true;
            }
            if (s_end > end) {
                if (keep_ref) AVIStreamAddRef(s.source);
                kept.push_back({s.source, s.start + (end - s.at), s_end - end, 0});
                keep_ref = true;
            }
            if (!keep_ref) AVIStreamRelease(s.source);
        }
        segs_ = std::move(kept);
        Renumber();
        ++edits_;
    }

    std::size_t SegmentAt(LONG rel) const {
        auto it = std::upper_bound(segs_.begin(), segs_.end(), rel,
                                   [](LONG r, const Segment& s) { return r < s.at; });
        return it == segs_.begin() ? 0 : static_cast<std::size_t>(it - segs_.begin()) - 1;
    }

private:
    ~EditStream() override {
        for (const Segment& s : segs_)
            AVIStreamRelease(s.source);
    }

    // Joins neighbours that continue each other and numbers the segments.
    void Renumber() {
        std::vector<Segment> joined;
        joined.reserve(segs_.size());
        for (const Segment& s : segs_) {
            if (s.length <= 0) {
                AVIStreamRelease(s.source);
                continue;
            }
            if (!joined.empty() && joined.back().source == s.source &&
                joined.back().start + joined.back().length == s.start) {
                joined.back().length += s.length;
                AVIStreamRelease(s.source);
                continue;
            }
            joined.push_back(s);
        }
        LONG at = 0;
        for (Segment& s : joined) {
            s.at = at;
            at += s.length;
        }
        segs_ = std::move(joined);
    }

    std::atomic<ULONG> refs_{1};
    AVISTREAMINFO info_{};
    bool typed_ = false;
    std::vector<Segment> segs_;
    DWORD edits_ = 0;

public:
    void ForgetEdits() { edits_ = 0; }
};

EditStream* AsEdit(PAVISTREAM s) {
    return dynamic_cast<EditStream*>(s);
}

// The segments of Length samples of Source from Start, flattened when
// Source is itself an edit stream.
std::vector<EditStream::Segment> SegmentsOf(PAVISTREAM source, LONG start, LONG length) {
    if (EditStream* e = AsEdit(source)) return e->Take(start - e->Start(), length);
    AVIStreamAddRef(source);
    return {{source, start, length, 0}};
}

// ---- The frame decoder of an edit stream ----

class EditFrames final : public IGetFrame {
public:
    EditFrames(EditStream* stream, std::vector<std::uint8_t> wanted, bool best)
        : stream_(stream), wanted_(std::move(wanted)), best_(best) {
        stream_->AddRef();
    }
    ~EditFrames() override {
        for (auto& [source, decoder] : decoders_)
            AVIStreamGetFrameClose(decoder);
        stream_->Release();
    }

    bool Open() {
        // Every segment must have a decoder; open them now, so a stream
        // that cannot be decoded fails here and not at some frame.
        for (const auto& s : stream_->Segments())
            if (Decoder(s.source) == nullptr) return false;
        return !decoders_.empty();
    }

    void* GetFrame(LONG pos) override {
        const LONG rel = pos - stream_->Start();
        if (rel < 0 || rel >= stream_->Length()) return nullptr;
        const auto& s = stream_->Segments()[stream_->SegmentAt(rel)];
        PGETFRAME d = Decoder(s.source);
        return d ? AVIStreamGetFrame(d, s.start + (rel - s.at)) : nullptr;
    }

    GetFrameStats Stats() const override {
        GetFrameStats sum;
        for (const auto& [source, decoder] : decoders_) {
            GetFrameStats s = decoder->Stats();
            sum.frames_decoded += s.frames_decoded;
            sum.frames_converted += s.frames_converted;
            sum.restarts += s.restarts;
            sum.read_ahead += s.read_ahead;
        }
        return sum;
    }

private:
    PGETFRAME Decoder(PAVISTREAM source) {
        if (auto it = decoders_.find(source); it != decoders_.end()) return it->second;
        const auto* wanted = best_ ? AVIGETFRAMEF_BESTDISPLAYFMT
                                   : reinterpret_cast<const BITMAPINFOHEADER*>(wanted_.data());
        PGETFRAME d = AVIStreamGetFrameOpen(source, wanted);
        if (d) decoders_[source] = d;
        return d;
    }

    EditStream* stream_;
    std::vector<std::uint8_t> wanted_;
    bool best_;
    std::map<PAVISTREAM, PGETFRAME> decoders_;
};

HRESULT NewStream(PAVISTREAM* result, EditStream* s) {
    if (result) {
        *result = s;
    } else {
        s->Release();
    }
    return AVIERR_OK;
}

HRESULT CopyRange(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result, bool cut) {
    if (result) *result = nullptr;
    EditStream* e = AsEdit(stream);
    if (e == nullptr) return AVIERR_UNSUPPORTED;
    if (start == nullptr || length == nullptr) return AVIERR_BADPARAM;
    LONG s = *start, n = *length;
    if (!e->Clamp(s, n)) return AVIERR_BADPARAM;
    auto* copy = new EditStream();
    copy->CopyFrom(*e, false);
    copy->Insert(0, e->Take(s - e->Start(), n));
    copy->ForgetEdits();
    if (cut) e->Remove(s - e->Start(), n);
    *start = s;
    *length = n;
    return NewStream(result, copy);
}

} // namespace

HRESULT CreateEditableStream(PAVISTREAM* result, PAVISTREAM source) {
    if (result == nullptr) return AVIERR_BADPARAM;
    *result = nullptr;
    auto* e = new EditStream();
    if (source == nullptr) return NewStream(result, e);
    if (EditStream* other = AsEdit(source)) {
        e->CopyFrom(*other);
        return NewStream(result, e);
    }
    AVISTREAMINFO si{};
    HRESULT hr = AVIStreamInfo(source, &si, sizeof si);
    if (hr != AVIERR_OK) {
        e->Release();
        return hr;
    }
    e->Adopt(source, static_cast<LONG>(si.dwStart));
    if (si.dwLength > 0) {
        AVIStreamAddRef(source);
        e->Insert(0, {{source, static_cast<LONG>(si.dwStart), static_cast<LONG>(si.dwLength), 0}});
    }
    e->ForgetEdits();
    return NewStream(result, e);
}

HRESULT EditStreamCut(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result) {
    return CopyRange(stream, start, length, result, true);
}

HRESULT EditStreamCopy(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result) {
    return CopyRange(stream, start, length, result, false);
}

HRESULT EditStreamPaste(PAVISTREAM stream, LONG* pos, LONG* length, PAVISTREAM source, LONG start,
                        LONG length_to_paste) {
    EditStream* e = AsEdit(stream);
    if (e == nullptr) return AVIERR_UNSUPPORTED;
    if (pos == nullptr || source == nullptr) return AVIERR_BADPARAM;
    AVISTREAMINFO si{};
    HRESULT hr = AVIStreamInfo(source, &si, sizeof si);
    if (hr != AVIERR_OK) return hr;
    const LONG src_start = static_cast<LONG>(si.dwStart);
    const LONG src_end = src_start + static_cast<LONG>(si.dwLength);
    if (start < src_start || start >= src_end) return AVIERR_BADPARAM;
    LONG n = length_to_paste < 0 ? src_end - start : std::min(length_to_paste, src_end - start);
    if (n <= 0) return AVIERR_BADPARAM;
    if (*pos < e->Start()) return AVIERR_BADPARAM;
    if (e->Length() > 0 || e->Typed()) {
        if (si.fccType != e->Type()) return AVIERR_BADFORMAT;
        if (e->Length() > 0 &&
            !Compatible(si.fccType, FormatOf(stream, e->Start()), FormatOf(source, start)))
            return AVIERR_BADFORMAT;
    }
    // Taken before anything changes: Source may be this very stream.
    std::vector<EditStream::Segment> add = SegmentsOf(source, start, n);
    if (!e->Typed()) e->Adopt(source);
    const LONG at = std::min(*pos - e->Start(), e->Length());
    e->Insert(at, std::move(add));
    *pos = at + e->Start();
    if (length) *length = n;
    return AVIERR_OK;
}

HRESULT EditStreamClone(PAVISTREAM stream, PAVISTREAM* result) {
    if (result == nullptr) return AVIERR_BADPARAM;
    *result = nullptr;
    EditStream* e = AsEdit(stream);
    if (e == nullptr) return AVIERR_UNSUPPORTED;
    auto* copy = new EditStream();
    copy->CopyFrom(*e);
    return NewStream(result, copy);
}

HRESULT EditStreamSetInfo(PAVISTREAM stream, const AVISTREAMINFO* info, LONG size) {
    EditStream* e = AsEdit(stream);
    return e ? e->SetInfo(info, size) : AVIERR_UNSUPPORTED;
}

HRESULT EditStreamSetName(PAVISTREAM stream, const std::string& name) {
    EditStream* e = AsEdit(stream);
    if (e == nullptr) return AVIERR_UNSUPPORTED;
    e->SetName(name);
    return AVIERR_OK;
}

bool IsEditStream(PAVISTREAM stream) {
    return AsEdit(stream) != nullptr;
}

std::vector<EditSegment> EditStreamSegments(PAVISTREAM stream) {
    std::vector<EditSegment> out;
    if (EditStream* e = AsEdit(stream))
        for (const auto& s : e->Segments())
            out.push_back({s.source, s.start, s.length});
    return out;
}

PGETFRAME EditStreamGetFrameOpen(PAVISTREAM stream, const BITMAPINFOHEADER* wanted) {
    EditStream* e = AsEdit(stream);
    if (e == nullptr || e->Length() == 0 || e->Type() != streamtypeVIDEO) return nullptr;
    bool best = wanted == nullptr || wanted == AVIGETFRAMEF_BESTDISPLAYFMT;
    std::vector<std::uint8_t> request;
    if (!best) {
        // The header and the masks a BI_BITFIELDS request carries.
        const std::size_t n = wanted->biCompression == BI_BITFIELDS ? 52 : 40;
        const auto* p = reinterpret_cast<const std::uint8_t*>(wanted);
        request.assign(p, p + n);
    } else {
        std::map<PAVISTREAM, bool> sources;
        for (const auto& s : e->Segments())
            sources[s.source] = true;
        if (sources.size() > 1) {
            // Several sources could each have a best format of their own.
            std::vector<std::uint8_t> f = FormatOf(stream, e->Start());
            if (f.size() < 40) return nullptr;
            BITMAPINFOHEADER bi{};
            bi.biSize = 40;
            bi.biWidth = static_cast<LONG>(GetLE32(&f[4]));
            bi.biHeight = std::abs(static_cast<LONG>(GetLE32(&f[8])));
            bi.biPlanes = 1;
            bi.biBitCount = 24;
            bi.biCompression = BI_RGB;
            const auto* p = reinterpret_cast<const std::uint8_t*>(&bi);
            request.assign(p, p + 40);
            best = false;
        }
    }
    auto frames = std::make_unique<EditFrames>(e, std::move(request), best);
    if (!frames->Open()) return nullptr;
    return frames.release();
}

} // namespace lum::platform::vfw
