#include "platform/vfw/handler.h"

#include <algorithm>
#include <cstring>

#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

// ---- DataChunks ----

const std::vector<std::uint8_t>* DataChunks::Find(FOURCC id) const {
    for (const auto& [key, data] : items_)
        if (key == id) return &data;
    return nullptr;
}

void DataChunks::Set(FOURCC id, std::vector<std::uint8_t> data) {
    for (auto& [key, old] : items_) {
        if (key == id) {
            old = std::move(data);
            return;
        }
    }
    items_.emplace_back(id, std::move(data));
}

bool DataChunks::Remove(FOURCC id) {
    auto it =
        std::find_if(items_.begin(), items_.end(), [&](const auto& i) { return i.first == id; });
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
}

HRESULT DataChunks::Read(FOURCC id, void* data, LONG* size) const {
    if (size == nullptr) return AVIERR_BADPARAM;
    const auto* found = Find(id);
    if (found == nullptr) {
        *size = 0;
        return AVIERR_NODATA;
    }
    auto have = static_cast<LONG>(found->size());
    if (data == nullptr) {
        *size = have;
        return AVIERR_OK;
    }
    if (*size < 0) return AVIERR_BADSIZE;
    LONG n = std::min(*size, have);
    if (n > 0) std::memcpy(data, found->data(), static_cast<std::size_t>(n));
    *size = n;
    return n < have ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
}

// ---- StreamHandler ----

bool StreamHandler::ReadOnly() const {
    return !file_.Writable();
}

ULONG StreamHandler::AddRef() {
    ULONG before = refs_.fetch_add(1);
    if (before == 0) file_.AddRef();
    return before + 1;
}

ULONG StreamHandler::Release() {
    ULONG before = refs_.load();
    if (before == 0) return 0; // an unbalanced release: ignore rather than corrupt
    before = refs_.fetch_sub(1);
    if (before == 1) file_.Release();
    return before - 1;
}

const std::vector<std::uint8_t>& StreamHandler::FormatAt(LONG rel) const {
    static const std::vector<std::uint8_t> none;
    const FormatVersion* best = nullptr;
    for (const auto& f : formats_) {
        if (best == nullptr || f.position <= rel) best = &f;
        if (f.position > rel) break;
    }
    return best ? best->bytes : none;
}

AVISTREAMINFO StreamHandler::Described() const {
    AVISTREAMINFO d = info_;
    d.dwLength = static_cast<DWORD>(index_.Length());
    d.dwFormatChangeCount = formats_.empty() ? 0 : static_cast<DWORD>(formats_.size() - 1);
    if (d.dwFormatChangeCount) d.dwFlags |= AVISTREAMINFO_FORMATCHANGES;
    // A suggested size larger than the whole file is damage; the largest
    // chunk is what a reader really needs.
    auto file_size = static_cast<std::uint64_t>(std::max<std::int64_t>(file_.IO().Size(), 0));
    if (d.dwSuggestedBufferSize == 0 || d.dwSuggestedBufferSize > file_size)
        d.dwSuggestedBufferSize = index_.MaxChunk();
    d.dwCaps = AVIFILECAPS_CANREAD | (file_.Writable() ? AVIFILECAPS_CANWRITE : 0) |
               (index_.AllKey() ? AVIFILECAPS_ALLKEYFRAMES : 0);
    d.szName[63] = 0;
    return d;
}

HRESULT StreamHandler::Info(AVISTREAMINFO* info, LONG size) {
    if (info == nullptr) return AVIERR_BADPARAM;
    if (size < 0) return AVIERR_BADSIZE;
    AVISTREAMINFO d = Described();
    std::memcpy(info, &d, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof d));
    return AVIERR_OK;
}

LONG StreamHandler::FindSample(LONG pos, LONG flags) {
    LONG len = index_.Length();
    if (len <= 0) return -1;
    LONG dir = flags & FIND_DIR;
    LONG rel;
    if (dir == FIND_FROM_START) {
        rel = 0;
        dir = FIND_NEXT;
    } else {
        rel = static_cast<LONG>(static_cast<std::int64_t>(pos) - info_.dwStart);
        if (dir != FIND_PREV) dir = FIND_NEXT;
    }
    if (dir == FIND_PREV) {
        if (rel < 0) return -1;
        rel = std::min(rel, len - 1);
    } else {
        if (rel >= len) return -1;
        rel = std::max(rel, 0);
    }
    LONG found = rel;
    switch (flags & FIND_TYPE) {
    case FIND_KEY:
        found = dir == FIND_PREV ? index_.PrevKey(rel) : index_.NextKey(rel);
        break;
    case FIND_ANY:
        found = dir == FIND_PREV ? index_.PrevNonEmpty(rel) : index_.NextNonEmpty(rel);
        break;
    case FIND_FORMAT: {
        found = -1;
        for (const auto& f : formats_) {
            LONG at = std::max(f.position, 0);
            if (dir == FIND_PREV ? at <= rel : at >= rel) {
                found = at;
                if (dir != FIND_PREV) break;
            }
        }
        break;
    }
    default:
        break;
    }
    if (found < 0) return -1;
    std::size_t chunk = index_.ChunkOf(found);
    switch (flags & FIND_RET) {
    case FIND_POS:
        return static_cast<LONG>(found + static_cast<std::int64_t>(info_.dwStart));
    case FIND_SIZE:
        return static_cast<LONG>(index_.SampleBytes(found));
    case FIND_OFFSET: {
        const auto& e = index_.Chunk(chunk);
        std::int64_t off = e.offset + static_cast<std::int64_t>(found - index_.FirstSample(chunk)) *
                                          static_cast<std::int64_t>(index_.SampleSize());
        return off > 0x7FFFFFFF ? -1 : static_cast<LONG>(off);
    }
    case FIND_LENGTH:
        return index_.FirstSample(chunk) + index_.SamplesIn(chunk) - found;
    case FIND_INDEX:
        return static_cast<LONG>(chunk);
    default:
        return -1;
    }
}

HRESULT StreamHandler::ReadFormat(LONG pos, void* format, LONG* size) {
    if (size == nullptr) return AVIERR_BADPARAM;
    LONG rel = static_cast<LONG>(static_cast<std::int64_t>(pos) - info_.dwStart);
    const auto& f = FormatAt(rel);
    auto have = static_cast<LONG>(f.size());
    if (format == nullptr) {
        *size = have;
        return AVIERR_OK;
    }
    if (*size < 0) return AVIERR_BADSIZE;
    LONG n = std::min(*size, have);
    if (n > 0) std::memcpy(format, f.data(), static_cast<std::size_t>(n));
    *size = n;
    return n < have ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
}

bool StreamHandler::ReadRaw(std::int64_t offset, void* buffer, std::size_t count) {
    return file_.IO().ReadExact(offset, buffer, count);
}

HRESULT StreamHandler::Read(LONG start, LONG samples, void* buffer, LONG buffer_size, LONG* bytes,
                            LONG* samples_read) {
    if (bytes) *bytes = 0;
    if (samples_read) *samples_read = 0;
    if (samples < AVISTREAMREAD_CONVENIENT || buffer_size < 0) return AVIERR_BADPARAM;
    LONG len = index_.Length();
    std::int64_t rel64 = static_cast<std::int64_t>(start) - info_.dwStart;
    if (rel64 < 0 || rel64 >= len || samples == 0) return AVIERR_OK;
    auto rel = static_cast<LONG>(rel64);
    std::size_t chunk = index_.ChunkOf(rel);

    if (index_.Fixed()) {
        const std::uint32_t ss = index_.SampleSize();
        if (samples == AVISTREAMREAD_CONVENIENT)
            samples = index_.FirstSample(chunk) + index_.SamplesIn(chunk) - rel;
        std::int64_t n = std::min<std::int64_t>(samples, len - rel);
        if (buffer == nullptr) {
            std::int64_t total = n * ss;
            if (total > 0x7FFFFFFF) {
                n = 0x7FFFFFFF / ss;
                total = n * ss;
            }
            if (bytes) *bytes = static_cast<LONG>(total);
            if (samples_read) *samples_read = static_cast<LONG>(n);
            return AVIERR_OK;
        }
        std::int64_t fit = buffer_size / ss;
        if (fit == 0) {
            if (bytes) *bytes = static_cast<LONG>(ss);
            return AVIERR_BUFFERTOOSMALL;
        }
        n = std::min(n, fit);
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::int64_t done = 0;
        while (done < n) {
            const auto& e = index_.Chunk(chunk);
            LONG first = index_.FirstSample(chunk);
            LONG in_chunk = index_.SamplesIn(chunk) - (rel - first);
            std::int64_t take = std::min<std::int64_t>(in_chunk, n - done);
            std::int64_t off = e.offset + static_cast<std::int64_t>(rel - first) * ss;
            if (!ReadRaw(off, out + done * ss, static_cast<std::size_t>(take * ss)))
                return AVIERR_FILEREAD;
            done += take;
            rel += static_cast<LONG>(take);
            ++chunk;
        }
        if (bytes) *bytes = static_cast<LONG>(done * ss);
        if (samples_read) *samples_read = static_cast<LONG>(done);
        return AVIERR_OK;
    }

    // Variable sample size: one sample a chunk, as many whole ones as fit.
    if (samples == AVISTREAMREAD_CONVENIENT) samples = 1;
    LONG n = std::min(samples, len - rel);
    if (buffer == nullptr) {
        std::int64_t total = 0;
        LONG counted = 0;
        for (; counted < n; ++counted) {
            std::int64_t next = total + index_.Chunk(chunk + counted).size;
            if (next > 0x7FFFFFFF) break;
            total = next;
        }
        if (bytes) *bytes = static_cast<LONG>(total);
        if (samples_read) *samples_read = counted;
        return AVIERR_OK;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t used = 0;
    LONG done = 0;
    for (; done < n; ++done) {
        const auto& e = index_.Chunk(chunk + done);
        if (used + e.size > buffer_size) {
            if (done == 0) {
                if (bytes) *bytes = static_cast<LONG>(e.size);
                return AVIERR_BUFFERTOOSMALL;
            }
            break;
        }
        if (e.size && !ReadRaw(e.offset, out + used, e.size)) return AVIERR_FILEREAD;
        used += e.size;
    }
    if (bytes) *bytes = static_cast<LONG>(used);
    if (samples_read) *samples_read = done;
    return AVIERR_OK;
}

HRESULT StreamHandler::SetFormat(LONG, const void*, LONG) {
    return file_.WriteRefusal();
}

HRESULT StreamHandler::Write(LONG, LONG, const void*, LONG, DWORD, LONG* samples_written,
                             LONG* bytes_written) {
    if (samples_written) *samples_written = 0;
    if (bytes_written) *bytes_written = 0;
    return file_.WriteRefusal();
}

HRESULT StreamHandler::Delete(LONG, LONG) {
    return file_.WriteRefusal();
}

HRESULT StreamHandler::ReadData(FOURCC id, void* data, LONG* size) {
    return extra_.Read(id, data, size);
}

HRESULT StreamHandler::WriteData(FOURCC, const void*, LONG) {
    return file_.WriteRefusal();
}

HRESULT StreamHandler::SetInfo(const AVISTREAMINFO*, LONG) {
    return AVIERR_UNSUPPORTED;
}

// ---- FileHandler ----

ULONG FileHandler::AddRef() {
    return refs_.fetch_add(1) + 1;
}

ULONG FileHandler::Release() {
    ULONG before = refs_.load();
    if (before == 0) return 0;
    before = refs_.fetch_sub(1);
    if (before == 1) {
        Finish();
        delete this;
    }
    return before - 1;
}

HRESULT FileHandler::Info(AVIFILEINFO* info, LONG size) {
    if (info == nullptr) return AVIERR_BADPARAM;
    if (size < 0) return AVIERR_BADSIZE;
    AVIFILEINFO d{};
    Describe(d);
    d.dwStreams = static_cast<DWORD>(streams_.size());
    d.dwCaps |= AVIFILECAPS_CANREAD | (writable_ ? AVIFILECAPS_CANWRITE : 0);
    d.szFileType[63] = 0;
    std::memcpy(info, &d, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof d));
    return AVIERR_OK;
}

HRESULT FileHandler::GetStream(IAVIStream** stream, FOURCC type, LONG index) {
    if (stream == nullptr) return AVIERR_BADPARAM;
    *stream = nullptr;
    if (index < 0) return AVIERR_BADPARAM;
    LONG seen = 0;
    for (auto& s : streams_) {
        if (type != 0 && s->Header().fccType != type) continue;
        if (seen++ == index) {
            s->AddRef();
            *stream = s.get();
            return AVIERR_OK;
        }
    }
    return AVIERR_NODATA;
}

HRESULT FileHandler::CreateStream(IAVIStream** stream, const AVISTREAMINFO*) {
    if (stream) *stream = nullptr;
    return WriteRefusal();
}

HRESULT FileHandler::WriteData(FOURCC, const void*, LONG) {
    return WriteRefusal();
}

HRESULT FileHandler::ReadData(FOURCC id, void* data, LONG* size) {
    return extra_.Read(id, data, size);
}

HRESULT FileHandler::EndRecord() {
    return WriteRefusal();
}

HRESULT FileHandler::DeleteStream(FOURCC, LONG) {
    return WriteRefusal();
}

// ---- helpers ----

void CopyName(char (&field)[64], const std::string& name) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, name.data(), std::min<std::size_t>(name.size(), 63));
}

std::vector<std::uint8_t> NormalizeWaveFormat(std::vector<std::uint8_t> f) {
    if (f.size() < 14) return f;
    if (f.size() < 18) {
        bool had_bits = f.size() >= 16;
        f.resize(18, 0);
        if (!had_bits && GetLE16(f.data()) == WAVE_FORMAT_PCM) {
            WORD channels = GetLE16(f.data() + 2);
            WORD align = GetLE16(f.data() + 12);
            if (channels) PutLE16(f.data() + 14, static_cast<std::uint16_t>(align * 8 / channels));
        }
        return f;
    }
    std::size_t extra = GetLE16(f.data() + 16);
    if (18 + extra > f.size()) PutLE16(f.data() + 16, static_cast<std::uint16_t>(f.size() - 18));
    return f;
}

} // namespace lum::platform::vfw
