// Writing AVI files. The header area is reserved when the first chunk is
// written (and rewritten then, so a writer that dies leaves a file the scan
// can recover); movi chunks are appended; closing writes idx1, the OpenDML
// indexes of a file that grew past one RIFF, and the final headers.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/vfw/avichunks.h"
#include "platform/vfw/avifile.h"

namespace lum::platform::vfw {

namespace {

using namespace avichunks;

constexpr std::size_t kSuperEntries = 256;
constexpr std::size_t kSuperIndexBytes = 24 + 16 * kSuperEntries;
constexpr std::int64_t kHeaderSlack = 1024;
constexpr LONG kMaxGap = 1 << 16;
constexpr DWORD kPalChanges = 0x00010000; // AVISF_VIDEO_PALCHANGES

std::int64_t RoundUp(std::int64_t v, std::int64_t a) {
    return (v + a - 1) / a * a;
}

bool IsInfoId(FOURCC id) {
    if ((id & 0xFF) != 'I') return false;
    for (int i = 1; i < 4; ++i) {
        auto c = static_cast<unsigned char>(id >> (8 * i));
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    }
    return true;
}

bool IsStructuralId(FOURCC id) {
    for (FOURCC r : {kRIFF, kLIST, kJUNK, kIdx1, kAvih, kHdrl, kMovi, kStrl, kStrh, kStrf, kIndx,
                     kOdml, kDmlh})
        if (id == r) return true;
    return false;
}

} // namespace

// ---- streams ----

FOURCC AviStream::DataChunkId() const {
    int n = avi_.NumberOf(*this);
    switch (info_.fccType) {
    case streamtypeVIDEO: {
        const auto& f = FormatAt(0);
        DWORD compression = f.size() >= 20 ? GetLE32(f.data() + 16) : BI_RGB;
        bool raw = compression == BI_RGB || compression == BI_BITFIELDS;
        return raw ? StreamChunkId(n, 'd', 'b') : StreamChunkId(n, 'd', 'c');
    }
    case streamtypeAUDIO:
        return StreamChunkId(n, 'w', 'b');
    case streamtypeTEXT:
        return StreamChunkId(n, 't', 'x');
    default:
        return StreamChunkId(n, 'd', 'c');
    }
}

HRESULT AviStream::SetFormat(LONG pos, const void* format, LONG size) {
    if (!avi_.Creating()) return file_.WriteRefusal();
    if (format == nullptr || size <= 0) return AVIERR_BADPARAM;
    if (static_cast<std::size_t>(size) > kMaxHeaderChunk) return AVIERR_BADSIZE;
    auto* p = static_cast<const std::uint8_t*>(format);
    std::vector<std::uint8_t> bytes(p, p + size);
    if (info_.fccType == streamtypeAUDIO) bytes = NormalizeWaveFormat(std::move(bytes));

    if (index_.Length() == 0 && formats_.size() <= 1) {
        auto old = std::move(formats_);
        formats_ = {{0, std::move(bytes)}};
        HRESULT hr = avi_.HeaderChanged();
        if (hr != AVIERR_OK) formats_ = std::move(old);
        return hr;
    }
    const auto& cur = formats_.back().bytes;
    if (bytes == cur) return AVIERR_OK;

    // After data, only a new palette for what follows can be written.
    LONG at = index_.Length();
    if (info_.fccType != streamtypeVIDEO || static_cast<std::int64_t>(pos) - info_.dwStart != at ||
        cur.size() != bytes.size() || cur.size() < 44)
        return AVIERR_UNSUPPORTED;
    std::size_t header = GetLE32(cur.data());
    if (header < 40 || header + 4 > cur.size() ||
        std::memcmp(cur.data(), bytes.data(), header) != 0)
        return AVIERR_UNSUPPORTED;
    std::size_t entries = std::min<std::size_t>((cur.size() - header) / 4, 256);
    std::size_t first = entries, last = 0;
    for (std::size_t k = 0; k < entries; ++k) {
        if (std::memcmp(&cur[header + 4 * k], &bytes[header + 4 * k], 3) != 0) {
            first = std::min(first, k);
            last = k;
        }
    }
    if (first == entries)
        return AVIERR_UNSUPPORTED; // differs only where a palette change cannot say
    std::size_t count = last - first + 1;
    std::vector<std::uint8_t> change(4 + 4 * count, 0);
    change[0] = static_cast<std::uint8_t>(first);
    change[1] = static_cast<std::uint8_t>(count == 256 ? 0 : count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t* q = &bytes[header + 4 * (first + k)]; // blue, green, red
        change[4 + 4 * k] = q[2];
        change[5 + 4 * k] = q[1];
        change[6 + 4 * k] = q[0];
    }
    HRESULT hr = avi_.AppendPaletteChange(*this, change);
    if (hr != AVIERR_OK) return hr;
    if (formats_.back().position == at)
        formats_.back().bytes = std::move(bytes);
    else
        formats_.push_back({at, std::move(bytes)});
    return AVIERR_OK;
}

HRESULT AviStream::Write(LONG start, LONG samples, const void* buffer, LONG size, DWORD flags,
                         LONG* samples_written, LONG* bytes_written) {
    if (samples_written) *samples_written = 0;
    if (bytes_written) *bytes_written = 0;
    if (!avi_.Creating()) return file_.WriteRefusal();
    if (samples < 0 || size < 0 || (size > 0 && buffer == nullptr)) return AVIERR_BADPARAM;
    if (FormatAt(0).empty()) return AVIERR_BADFORMAT;
    if (samples == 0) return AVIERR_OK;
    const std::int64_t end = static_cast<std::int64_t>(info_.dwStart) + index_.Length();
    const FOURCC id = DataChunkId();
    std::int64_t pos = 0;
    if (index_.Fixed()) {
        // Samples follow one another: no gaps, no overwriting.
        if (start != end) return AVIERR_UNSUPPORTED;
        std::int64_t bytes = static_cast<std::int64_t>(samples) * index_.SampleSize();
        if (bytes > size || bytes > 0x7FFFFFFF ||
            static_cast<std::int64_t>(index_.Length()) + samples > 0x7FFFFFFF)
            return AVIERR_BADSIZE;
        HRESULT hr = avi_.AppendChunk(id, buffer, static_cast<std::uint32_t>(bytes), &pos);
        if (hr != AVIERR_OK) return hr;
        index_.Append(pos + 8, static_cast<std::uint32_t>(bytes), true);
        if (samples_written) *samples_written = samples;
        if (bytes_written) *bytes_written = static_cast<LONG>(bytes);
        return AVIERR_OK;
    }
    if (samples != 1) return AVIERR_BADPARAM; // one sample a chunk
    if (start < end) return AVIERR_UNSUPPORTED;
    if (start - end > kMaxGap || start > 0x7FFFFFFE) return AVIERR_BADPARAM;
    // A later position leaves empty samples (dropped frames) in between.
    for (std::int64_t gap = start - end; gap > 0; --gap) {
        HRESULT hr = avi_.AppendChunk(id, nullptr, 0, &pos);
        if (hr != AVIERR_OK) return hr;
        index_.Append(pos + 8, 0, false);
    }
    HRESULT hr = avi_.AppendChunk(id, buffer, static_cast<std::uint32_t>(size), &pos);
    if (hr != AVIERR_OK) return hr;
    index_.Append(pos + 8, static_cast<std::uint32_t>(size), (flags & AVIIF_KEYFRAME) != 0);
    if (samples_written) *samples_written = 1;
    if (bytes_written) *bytes_written = size;
    return AVIERR_OK;
}

HRESULT AviStream::Delete(LONG start, LONG samples) {
    if (!avi_.Creating()) return file_.WriteRefusal();
    std::int64_t rel = static_cast<std::int64_t>(start) - info_.dwStart;
    if (samples < 0 || rel < 0 || rel + samples > index_.Length()) return AVIERR_BADPARAM;
    if (samples == 0) return AVIERR_OK;
    // Whole chunks of the segment still open are turned into JUNK; what is
    // already indexed on disk, or part of a chunk, cannot be taken out.
    std::size_t first = index_.ChunkOf(static_cast<LONG>(rel));
    std::size_t last = index_.ChunkOf(static_cast<LONG>(rel + samples - 1));
    if (index_.FirstSample(first) != rel ||
        index_.FirstSample(last) + index_.SamplesIn(last) != rel + samples)
        return AVIERR_UNSUPPORTED;
    for (std::size_t c = first; c <= last; ++c)
        if (!avi_.InOpenSegment(index_.Chunk(c).offset)) return AVIERR_UNSUPPORTED;
    for (std::size_t c = first; c <= last; ++c) {
        HRESULT hr = avi_.JunkChunk(index_.Chunk(c).offset - 8);
        if (hr != AVIERR_OK) return hr;
    }
    index_.Erase(first, last - first + 1);
    for (auto& f : formats_) {
        if (f.position > rel + samples)
            f.position -= samples;
        else if (f.position > rel)
            f.position = static_cast<LONG>(rel);
    }
    return AVIERR_OK;
}

HRESULT AviStream::WriteData(FOURCC id, const void* data, LONG size) {
    if (!avi_.Creating()) return file_.WriteRefusal();
    if (size < 0 || (size > 0 && data == nullptr) || IsStructuralId(id)) return AVIERR_BADPARAM;
    if (static_cast<std::size_t>(size) > kMaxHeaderChunk) return AVIERR_BADSIZE;
    auto* p = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> bytes(p, p + size);
    DataChunks old = extra_;
    AVISTREAMINFO old_info = info_;
    if (id == ckidSTREAMNAME)
        CopyName(info_.szName,
                 std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0)));
    extra_.Set(id, std::move(bytes));
    HRESULT hr = avi_.HeaderChanged();
    if (hr != AVIERR_OK) {
        extra_ = std::move(old);
        info_ = old_info;
    }
    return hr;
}

// ---- the file ----

HRESULT AviFile::Put(std::int64_t pos, const void* data, std::size_t n) {
    if (n == 0) return AVIERR_OK;
    if (!IO().WriteAt(pos, data, n)) {
        failed_ = true;
        return AVIERR_FILEWRITE;
    }
    return AVIERR_OK;
}

HRESULT AviFile::PutU32(std::int64_t pos, std::uint32_t v) {
    std::uint8_t b[4];
    PutLE32(b, v);
    return Put(pos, b, 4);
}

bool AviFile::InOpenSegment(std::int64_t offset) const {
    return !segments_.empty() && offset > segments_.back().movi_pos;
}

HRESULT AviFile::JunkChunk(std::int64_t header_pos) {
    return PutU32(header_pos, kJUNK);
}

HRESULT AviFile::CreateStream(IAVIStream** stream, const AVISTREAMINFO* info) {
    if (stream == nullptr) return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!creating_) return WriteRefusal();
    if (info == nullptr) return AVIERR_BADPARAM;
    if (failed_) return AVIERR_FILEWRITE;
    if (streams_.size() >= kMaxStreams) return AVIERR_UNSUPPORTED;
    auto s = std::make_unique<AviStream>(*this);
    AVISTREAMINFO& h = s->Header();
    h = *info;
    h.dwLength = 0;
    h.dwEditCount = 0;
    h.dwFormatChangeCount = 0;
    h.szName[63] = 0;
    if (h.dwStart > 0x7FFFFFFF) return AVIERR_BADPARAM;
    s->Index() = SampleIndex(h.fccType == streamtypeVIDEO ? 0 : h.dwSampleSize);
    AviStream* raw = s.get();
    streams_.push_back(std::move(s));
    seg_first_chunk_.push_back(0);
    super_.emplace_back();
    HRESULT hr = HeaderChanged();
    if (hr != AVIERR_OK) {
        streams_.pop_back();
        seg_first_chunk_.pop_back();
        super_.pop_back();
        return hr;
    }
    raw->AddRef();
    *stream = raw;
    return AVIERR_OK;
}

HRESULT AviFile::WriteData(FOURCC id, const void* data, LONG size) {
    if (!creating_) return WriteRefusal();
    if (size < 0 || (size > 0 && data == nullptr) || IsStructuralId(id)) return AVIERR_BADPARAM;
    if (static_cast<std::size_t>(size) > kMaxHeaderChunk) return AVIERR_BADSIZE;
    auto* p = static_cast<const std::uint8_t*>(data);
    DataChunks old = extra_;
    extra_.Set(id, std::vector<std::uint8_t>(p, p + size));
    HRESULT hr = HeaderChanged();
    if (hr != AVIERR_OK) extra_ = std::move(old);
    return hr;
}

HRESULT AviFile::EndRecord() {
    if (!creating_) return WriteRefusal();
    if (failed_) return AVIERR_FILEWRITE;
    if (!records_) {
        records_ = true;
        // What was written so far is the first record: the placeholder at
        // the start of the segment becomes its list header.
        if (frozen_ && rec_pos_ < 0) {
            const Segment& seg = segments_.back();
            if (end_ > seg.placeholder + 12) {
                std::uint8_t h[12];
                auto size = static_cast<std::uint32_t>(end_ - seg.placeholder - 8);
                PutLE32(h, kLIST);
                PutLE32(h + 4, size);
                PutLE32(h + 8, kRec);
                HRESULT hr = Put(seg.placeholder, h, 12);
                if (hr != AVIERR_OK) return hr;
                markers_.push_back({kRec, seg.placeholder, size, AVIIF_LIST});
            }
        }
        return AVIERR_OK;
    }
    return CloseRecord();
}

HRESULT AviFile::OpenRecord() {
    std::uint8_t h[12];
    PutLE32(h, kLIST);
    PutLE32(h + 4, 4);
    PutLE32(h + 8, kRec);
    HRESULT hr = Put(end_, h, 12);
    if (hr != AVIERR_OK) return hr;
    rec_pos_ = end_;
    markers_.push_back({kRec, end_, 4, AVIIF_LIST});
    end_ += 12;
    return AVIERR_OK;
}

HRESULT AviFile::CloseRecord() {
    if (rec_pos_ < 0) return AVIERR_OK;
    auto size = static_cast<std::uint32_t>(end_ - rec_pos_ - 8);
    for (auto it = markers_.rbegin(); it != markers_.rend(); ++it) {
        if (it->pos == rec_pos_) {
            it->size = size;
            break;
        }
    }
    HRESULT hr = PutU32(rec_pos_ + 4, size);
    rec_pos_ = -1;
    return hr;
}

void AviFile::DescribeWriter(MainHeader& h) const {
    h = {};
    const StreamHandler* video = nullptr;
    std::size_t video_no = 0;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        if (streams_[i]->Header().fccType == streamtypeVIDEO) {
            video = streams_[i].get();
            video_no = i;
            break;
        }
    }
    const StreamHandler* timing = video ? video : (streams_.empty() ? nullptr : streams_[0].get());
    if (timing && timing->Header().dwRate)
        h.us_per_frame = static_cast<DWORD>(std::llround(
            static_cast<long double>(timing->Header().dwScale) * 1e6L / timing->Header().dwRate));
    long double seconds = 0;
    std::uint64_t bytes = 0;
    std::uint32_t max_chunk = 0;
    for (const auto& s : streams_) {
        const AVISTREAMINFO& i = s->Header();
        bytes += s->Index().TotalBytes();
        max_chunk = std::max(max_chunk, s->Index().MaxChunk());
        if (i.dwRate)
            seconds = std::max(seconds, static_cast<long double>(s->Index().Length()) * i.dwScale /
                                            i.dwRate);
    }
    if (seconds > 0)
        h.max_bytes_per_sec =
            static_cast<DWORD>(std::min<long double>(std::ceil(bytes / seconds), 0xFFFFFFFF));
    h.flags =
        AVIFILEINFO_HASINDEX | (records_ || streams_.size() > 1 ? AVIFILEINFO_ISINTERLEAVED : 0);
    if (video) {
        h.total_frames =
            static_cast<DWORD>(segments_.size() > 1 && video_no < first_riff_chunks_.size()
                                   ? first_riff_chunks_[video_no]
                                   : video->Index().ChunkCount());
        const auto& f = video->FormatAt(0);
        if (f.size() >= 12) {
            h.width = GetLE32(f.data() + 4);
            h.height = static_cast<DWORD>(std::abs(static_cast<LONG>(GetLE32(f.data() + 8))));
        }
    }
    h.streams = static_cast<DWORD>(streams_.size());
    h.suggested_buffer = max_chunk;
}

std::vector<std::uint8_t> AviFile::BuildHeader() const {
    MainHeader m;
    DescribeWriter(m);
    ChunkBuilder b;
    b.BeginList(kRIFF, kAVI); // its size is patched when the header is written
    std::size_t hdrl = b.BeginList(kLIST, kHdrl);
    {
        std::size_t c = b.Begin(kAvih);
        for (DWORD v : {m.us_per_frame, m.max_bytes_per_sec, m.padding, m.flags, m.total_frames,
                        m.initial_frames, m.streams, m.suggested_buffer, m.width, m.height})
            b.U32(v);
        b.Zeros(16);
        b.End(c);
    }
    DWORD video_frames = 0;
    bool multi = segments_.size() > 1;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const StreamHandler& s = *streams_[i];
        const AVISTREAMINFO& h = s.Header();
        const auto& fmt = s.FormatAt(0);
        if (h.fccType == streamtypeVIDEO && video_frames == 0)
            video_frames = static_cast<DWORD>(s.Index().Length());
        std::size_t strl = b.BeginList(kLIST, kStrl);
        std::size_t c = b.Begin(kStrh);
        b.U32(h.fccType);
        b.U32(h.fccHandler);
        b.U32(h.dwFlags |
              (h.fccType == streamtypeVIDEO && s.Index().Length() && s.Formats().size() > 1
                   ? kPalChanges
                   : 0));
        b.U16(h.wPriority);
        b.U16(h.wLanguage);
        b.U32(h.dwInitialFrames);
        b.U32(h.dwScale);
        b.U32(h.dwRate);
        b.U32(h.dwStart);
        b.U32(static_cast<DWORD>(s.Index().Length()));
        b.U32(std::max(h.dwSuggestedBufferSize, s.Index().MaxChunk()));
        b.U32(h.dwQuality);
        b.U32(h.dwSampleSize);
        RECT r = h.rcFrame;
        if (r == RECT{} && h.fccType == streamtypeVIDEO && fmt.size() >= 12) {
            r.right = static_cast<LONG>(GetLE32(fmt.data() + 4));
            r.bottom = std::abs(static_cast<LONG>(GetLE32(fmt.data() + 8)));
        }
        for (LONG v : {r.left, r.top, r.right, r.bottom})
            b.U16(static_cast<std::uint16_t>(v));
        b.End(c);
        b.Add(kStrf, fmt.data(), fmt.size());
        bool named = false;
        for (const auto& [id, data] : s.Extra().All()) {
            b.Add(id, data.data(), data.size());
            named |= id == ckidSTREAMNAME;
        }
        if (!named && h.szName[0]) {
            std::size_t len = strnlen(h.szName, sizeof h.szName);
            c = b.Begin(ckidSTREAMNAME);
            b.Raw(h.szName, len);
            b.U8(0);
            b.End(c);
        }
        // The super index, or the room it needs, in every stream header.
        c = b.Begin(multi ? kIndx : kJUNK);
        if (multi) {
            const auto& entries = super_[i];
            b.U16(4);
            b.U8(0);
            b.U8(0); // an index of indexes
            b.U32(static_cast<std::uint32_t>(entries.size()));
            b.U32(static_cast<const AviStream&>(s).DataChunkId());
            b.Zeros(12);
            for (const auto& e : entries) {
                b.U64(e.offset);
                b.U32(e.size);
                b.U32(e.duration);
            }
            b.Zeros(16 * (kSuperEntries - entries.size()));
        } else {
            b.Zeros(kSuperIndexBytes);
        }
        b.End(c);
        b.End(strl);
    }
    {
        std::size_t odml = b.BeginList(kLIST, kOdml);
        std::size_t c = b.Begin(kDmlh);
        b.U32(video_frames);
        b.Zeros(244);
        b.End(c);
        b.End(odml);
    }
    b.End(hdrl);
    bool any_info = false;
    for (const auto& item : extra_.All())
        any_info |= IsInfoId(item.first);
    if (any_info) {
        std::size_t info = b.BeginList(kLIST, kInfo);
        for (const auto& [id, data] : extra_.All())
            if (IsInfoId(id)) b.Add(id, data.data(), data.size());
        b.End(info);
    }
    for (const auto& [id, data] : extra_.All())
        if (!IsInfoId(id)) b.Add(id, data.data(), data.size());
    return std::move(b.Bytes());
}

HRESULT AviFile::WriteHeader() {
    std::vector<std::uint8_t> bytes = BuildHeader();
    if (static_cast<std::int64_t>(bytes.size()) + 8 > reserved_) return AVIERR_INTERNAL;
    std::int64_t riff_end = segments_.size() > 1 ? segments_[1].riff_pos : end_;
    PutLE32(bytes.data() + 4, static_cast<std::uint32_t>(riff_end - 8));
    std::size_t at = bytes.size();
    bytes.resize(static_cast<std::size_t>(reserved_), 0);
    PutLE32(bytes.data() + at, kJUNK);
    PutLE32(bytes.data() + at + 4, static_cast<std::uint32_t>(reserved_ - at - 8));
    return Put(0, bytes.data(), bytes.size());
}

HRESULT AviFile::Freeze() {
    if (frozen_) return AVIERR_OK;
    std::vector<std::uint8_t> header = BuildHeader();
    reserved_ = RoundUp(static_cast<std::int64_t>(header.size()) + 8 + kHeaderSlack, 512);
    std::uint8_t m[24];
    PutLE32(m, kLIST);
    PutLE32(m + 4, 16);
    PutLE32(m + 8, kMovi);
    PutLE32(m + 12, kJUNK);
    PutLE32(m + 16, 4);
    PutLE32(m + 20, 0);
    segments_.push_back({0, reserved_, reserved_ + 12});
    end_ = reserved_ + 24;
    frozen_ = true;
    HRESULT hr = Put(reserved_, m, sizeof m);
    if (hr == AVIERR_OK) hr = WriteHeader();
    return hr;
}

HRESULT AviFile::AppendChunk(FOURCC id, const void* data, std::uint32_t size,
                             std::int64_t* header_pos) {
    if (failed_) return AVIERR_FILEWRITE;
    HRESULT hr = Freeze();
    if (hr != AVIERR_OK) return hr;
    const std::int64_t need = 8 + static_cast<std::int64_t>(size) + (size & 1);
    const Segment& seg = segments_.back();
    bool has_data = end_ > seg.placeholder + 12;
    std::int64_t opening = records_ && rec_pos_ < 0 ? 12 : 0;
    if (has_data && end_ + need + opening - seg.riff_pos > max_riff_) {
        hr = NextSegment();
        if (hr != AVIERR_OK) return hr;
    }
    if (records_ && rec_pos_ < 0) {
        hr = OpenRecord();
        if (hr != AVIERR_OK) return hr;
    }
    std::uint8_t h[8];
    PutLE32(h, id);
    PutLE32(h + 4, size);
    static const std::uint8_t pad = 0;
    hr = Put(end_, h, 8);
    if (hr == AVIERR_OK) hr = Put(end_ + 8, data, size);
    if (hr == AVIERR_OK && (size & 1)) hr = Put(end_ + 8 + size, &pad, 1);
    if (hr != AVIERR_OK) return hr;
    *header_pos = end_;
    end_ += need;
    return AVIERR_OK;
}

HRESULT AviFile::AppendPaletteChange(AviStream& s, const std::vector<std::uint8_t>& payload) {
    FOURCC id = StreamChunkId(NumberOf(s), 'p', 'c');
    std::int64_t pos = 0;
    HRESULT hr = AppendChunk(id, payload.data(), static_cast<std::uint32_t>(payload.size()), &pos);
    if (hr == AVIERR_OK)
        markers_.push_back({id, pos, static_cast<std::uint32_t>(payload.size()), AVIIF_NOTIME});
    return hr;
}

HRESULT AviFile::WriteStandardIndexes() {
    const Segment& seg = segments_.back();
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const AviStream& s = Stream(i);
        const SampleIndex& index = s.Index();
        std::size_t first = seg_first_chunk_[i];
        std::size_t n = index.ChunkCount() - first;
        if (n == 0) continue;
        const auto base = static_cast<std::uint64_t>(seg.movi_pos);
        ChunkBuilder b;
        std::size_t c = b.Begin(
            MakeFourCC('i', 'x', static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)));
        b.U16(2);
        b.U8(0);
        b.U8(1); // an index of chunks
        b.U32(static_cast<std::uint32_t>(n));
        b.U32(s.DataChunkId());
        b.U64(base);
        b.U32(0);
        std::uint32_t duration = 0;
        for (std::size_t k = first; k < index.ChunkCount(); ++k) {
            const auto& e = index.Chunk(k);
            b.U32(static_cast<std::uint32_t>(static_cast<std::uint64_t>(e.offset) - base));
            b.U32(e.size | (e.key || index.Fixed() ? 0 : 0x80000000u));
            duration += static_cast<std::uint32_t>(index.SamplesIn(k));
        }
        b.End(c);
        const std::vector<std::uint8_t>& bytes = b.Bytes();
        HRESULT hr = Put(end_, bytes.data(), bytes.size());
        if (hr != AVIERR_OK) return hr;
        super_[i].push_back(
            {static_cast<std::uint64_t>(end_), static_cast<std::uint32_t>(bytes.size()), duration});
        end_ += static_cast<std::int64_t>(bytes.size());
        seg_first_chunk_[i] = index.ChunkCount();
    }
    return AVIERR_OK;
}

HRESULT AviFile::WriteIdx1() {
    struct Entry {
        std::int64_t pos;
        FOURCC id;
        DWORD flags;
        std::uint32_t size;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const AviStream& s = Stream(i);
        FOURCC id = s.DataChunkId();
        const SampleIndex& index = s.Index();
        std::size_t count = i < first_riff_chunks_.size() ? first_riff_chunks_[i] : 0;
        for (std::size_t k = 0; k < count; ++k) {
            const auto& e = index.Chunk(k);
            entries.push_back(
                {e.offset - 8, id, e.key || index.Fixed() ? AVIIF_KEYFRAME : 0, e.size});
        }
    }
    for (std::size_t k = 0; k < first_riff_markers_; ++k)
        entries.push_back({markers_[k].pos, markers_[k].id, markers_[k].flags, markers_[k].size});
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.pos < b.pos; });
    const std::int64_t movi = segments_[0].movi_pos + 8;
    ChunkBuilder b;
    std::size_t c = b.Begin(kIdx1);
    for (const Entry& e : entries) {
        b.U32(e.id);
        b.U32(e.flags);
        b.U32(static_cast<std::uint32_t>(e.pos - movi));
        b.U32(e.size);
    }
    b.End(c);
    HRESULT hr = Put(end_, b.Bytes().data(), b.Size());
    if (hr == AVIERR_OK) end_ += static_cast<std::int64_t>(b.Size());
    return hr;
}

HRESULT AviFile::CloseSegment(bool last) {
    HRESULT hr = CloseRecord();
    bool multi = !last || segments_.size() > 1;
    if (hr == AVIERR_OK && multi) hr = WriteStandardIndexes();
    const Segment seg = segments_.back();
    if (hr == AVIERR_OK)
        hr = PutU32(seg.movi_pos + 4, static_cast<std::uint32_t>(end_ - seg.movi_pos - 8));
    if (hr == AVIERR_OK && segments_.size() == 1) {
        first_riff_chunks_.clear();
        for (const auto& s : streams_)
            first_riff_chunks_.push_back(s->Index().ChunkCount());
        first_riff_markers_ = markers_.size();
        hr = WriteIdx1();
    }
    if (hr == AVIERR_OK)
        hr = PutU32(seg.riff_pos + 4, static_cast<std::uint32_t>(end_ - seg.riff_pos - 8));
    return hr;
}

HRESULT AviFile::NextSegment() {
    if (segments_.size() >= kSuperEntries) return AVIERR_FILEWRITE;
    HRESULT hr = CloseSegment(false);
    if (hr != AVIERR_OK) return hr;
    std::uint8_t h[36];
    PutLE32(h, kRIFF);
    PutLE32(h + 4, 4);
    PutLE32(h + 8, kAVIX);
    PutLE32(h + 12, kLIST);
    PutLE32(h + 16, 16);
    PutLE32(h + 20, kMovi);
    PutLE32(h + 24, kJUNK);
    PutLE32(h + 28, 4);
    PutLE32(h + 32, 0);
    hr = Put(end_, h, sizeof h);
    if (hr != AVIERR_OK) return hr;
    segments_.push_back({end_, end_ + 12, end_ + 24});
    end_ += sizeof h;
    return AVIERR_OK;
}

HRESULT AviFile::MoveData(std::int64_t delta) {
    constexpr std::int64_t kBlock = 1 << 20;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(kBlock));
    const std::int64_t len = end_ - reserved_;
    for (std::int64_t done = 0; done < len;) {
        std::int64_t n = std::min(kBlock, len - done);
        std::int64_t src = end_ - done - n;
        if (!IO().ReadExact(src, buf.data(), static_cast<std::size_t>(n))) {
            failed_ = true;
            return AVIERR_FILEREAD;
        }
        HRESULT hr = Put(src + delta, buf.data(), static_cast<std::size_t>(n));
        if (hr != AVIERR_OK) return hr;
        done += n;
    }
    for (auto& s : streams_)
        s->Index().Shift(delta);
    for (auto& m : markers_)
        m.pos += delta;
    segments_[0].movi_pos += delta;
    segments_[0].placeholder += delta;
    if (rec_pos_ >= 0) rec_pos_ += delta;
    end_ += delta;
    reserved_ += delta;
    return AVIERR_OK;
}

HRESULT AviFile::HeaderChanged() {
    if (!frozen_) return AVIERR_OK;
    if (failed_) return AVIERR_FILEWRITE;
    std::int64_t need = static_cast<std::int64_t>(BuildHeader().size()) + 8;
    if (need <= reserved_) return AVIERR_OK;
    // Offsets inside a closed RIFF cannot move any more.
    if (segments_.size() > 1) return AVIERR_UNSUPPORTED;
    HRESULT hr = MoveData(RoundUp(need + kHeaderSlack, 512) - reserved_);
    if (hr == AVIERR_OK) hr = WriteHeader();
    return hr;
}

void AviFile::Finish() {
    if (!creating_) return;
    if (Freeze() != AVIERR_OK) return;
    CloseSegment(true);
    WriteHeader();
    IO().Flush();
}

HRESULT CreateAviFile(std::unique_ptr<ByteStream>& io, PAVIFILE* file) {
    *file = new AviFile(std::move(io), true, true);
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
