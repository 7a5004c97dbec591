// The WAV and AU file handlers: each opens as a file with one "auds"
// stream whose samples are the blocks of the audio data. AU data is
// big-endian (and its 8-bit PCM signed); the stream hands it out the way a
// wave format describes it: little-endian, 8-bit PCM unsigned.
#include <algorithm>
#include <cstring>

#include "platform/vfw/handler.h"
#include "platform/vfw/riff.h"

namespace lum::platform::vfw {

namespace {

constexpr FOURCC kWAVE = MakeFourCC("WAVE");
constexpr FOURCC kFmt = MakeFourCC("fmt ");
constexpr FOURCC kData = MakeFourCC("data");
constexpr FOURCC kInfo = MakeFourCC("INFO");
constexpr std::uint32_t kSndMagic = 0x2E736E64; // ".snd"

// Audio files keep their data in one piece; the index cuts it into chunks
// of about 64 KB so that a "convenient" read stays a reasonable size.
void IndexData(SampleIndex& index, std::int64_t offset, std::int64_t size) {
    const std::uint32_t block = index.SampleSize();
    std::int64_t piece = std::max<std::int64_t>(block, 65536 - 65536 % block);
    size -= size % block;
    for (std::int64_t done = 0; done < size; done += piece) {
        auto n = static_cast<std::uint32_t>(std::min(piece, size - done));
        if (!index.Append(offset + done, n, true)) break;
    }
}

class AudioFile final : public FileHandler {
public:
    AudioFile(std::unique_ptr<ByteStream> io, bool write_access, const char* type)
        : FileHandler(std::move(io), false, write_access), type_(type) {}

    void AddStream(std::unique_ptr<StreamHandler> s) { streams_.push_back(std::move(s)); }

protected:
    void Describe(AVIFILEINFO& info) override {
        if (streams_.empty()) return;
        AVISTREAMINFO d = streams_[0]->Described();
        info.dwMaxBytesPerSec = d.dwScale
                                    ? static_cast<DWORD>(static_cast<std::uint64_t>(d.dwRate) *
                                                         d.dwSampleSize / d.dwScale)
                                    : 0;
        info.dwFlags = AVIFILEINFO_HASINDEX;
        info.dwCaps = AVIFILECAPS_ALLKEYFRAMES | AVIFILECAPS_NOCOMPRESSION;
        info.dwSuggestedBufferSize = d.dwSuggestedBufferSize;
        info.dwScale = d.dwScale;
        info.dwRate = d.dwRate;
        info.dwLength = d.dwLength;
        std::strncpy(info.szFileType, type_, sizeof info.szFileType - 1);
    }

private:
    const char* type_;
};

// Samples stored big-endian (Width bytes each) or as signed 8-bit.
class AuStream final : public StreamHandler {
public:
    AuStream(FileHandler& file, unsigned width, bool flip_sign)
        : StreamHandler(file), width_(width), flip_sign_(flip_sign) {}

protected:
    bool ReadRaw(std::int64_t offset, void* buffer, std::size_t count) override {
        if (!StreamHandler::ReadRaw(offset, buffer, count)) return false;
        auto* p = static_cast<std::uint8_t*>(buffer);
        if (flip_sign_) {
            for (std::size_t i = 0; i < count; ++i)
                p[i] ^= 0x80;
        } else if (width_ > 1) {
            for (std::size_t i = 0; i + width_ <= count; i += width_)
                std::reverse(p + i, p + i + width_);
        }
        return true;
    }

private:
    unsigned width_;
    bool flip_sign_;
};

std::vector<std::uint8_t> MakeFormat(WORD tag, WORD channels, DWORD rate, WORD bits, WORD align) {
    std::vector<std::uint8_t> f(18, 0);
    PutLE16(&f[0], tag);
    PutLE16(&f[2], channels);
    PutLE32(&f[4], rate);
    PutLE32(&f[8], rate * align);
    PutLE16(&f[12], align);
    PutLE16(&f[14], bits);
    return f;
}

void SetAudioHeader(AVISTREAMINFO& h, DWORD align, DWORD avg_bytes) {
    h.fccType = streamtypeAUDIO;
    h.dwScale = align;
    h.dwRate = avg_bytes;
    h.dwSampleSize = align;
    h.dwQuality = 0xFFFFFFFF;
    // One second of audio in whole blocks.
    h.dwSuggestedBufferSize = std::max<DWORD>(align, avg_bytes - avg_bytes % align);
}

} // namespace

HRESULT OpenWaveFile(std::unique_ptr<ByteStream>& io, bool writable, PAVIFILE* file) {
    const std::int64_t fsize = io->Size();
    Chunk riff;
    if (!ReadChunk(*io, 0, fsize, riff) || riff.id != kRIFF || riff.list_type != kWAVE)
        return AVIERR_UNSUPPORTED;
    // A size never filled in shows as a RIFF that runs to the end of the
    // file; its data chunk may be unfinished the same way.
    std::uint8_t raw_size[4];
    bool unfinished = io->ReadExact(4, raw_size, 4) && GetLE32(raw_size) == 0;
    std::unique_ptr<ByteStream> owned = std::move(io);
    auto* f = new AudioFile(std::move(owned), writable, "Wave File");
    ByteStream& in = f->IO();
    std::vector<std::uint8_t> format;
    std::int64_t data_pos = -1, data_size = 0;
    ChunkWalker w(in, riff);
    Chunk c;
    while (w.Next(c)) {
        if (c.id == kFmt && format.empty()) {
            format = ReadPayload(in, c, kMaxHeaderChunk);
        } else if (c.id == kData && data_pos < 0) {
            data_pos = c.data;
            data_size = (c.size == 0 && unfinished) ? riff.end - c.data : c.PayloadSize();
        } else if (c.id == kLIST && c.list_type == kInfo) {
            ChunkWalker iw(in, c);
            Chunk item;
            while (iw.Next(item))
                if (!item.IsList() &&
                    item.PayloadSize() <= static_cast<std::int64_t>(kMaxHeaderChunk))
                    f->Extra().Set(item.id, ReadPayload(in, item, kMaxHeaderChunk));
        } else if (c.id != kJUNK && !c.IsList() &&
                   c.PayloadSize() <= static_cast<std::int64_t>(kMaxHeaderChunk)) {
            f->Extra().Set(c.id, ReadPayload(in, c, kMaxHeaderChunk));
        }
    }
    format = NormalizeWaveFormat(std::move(format));
    if (format.size() < 18) {
        f->Release();
        return AVIERR_BADFORMAT;
    }
    WORD tag = GetLE16(&format[0]);
    WORD channels = GetLE16(&format[2]);
    DWORD rate = GetLE32(&format[4]);
    DWORD avg = GetLE32(&format[8]);
    WORD align = GetLE16(&format[12]);
    WORD bits = GetLE16(&format[14]);
    if (align == 0 && tag == WAVE_FORMAT_PCM)
        align = static_cast<WORD>(channels * ((bits + 7) / 8));
    if (align == 0 || channels == 0) {
        f->Release();
        return AVIERR_BADFORMAT;
    }
    if (avg == 0)
        avg = static_cast<DWORD>(std::min<std::uint64_t>(std::uint64_t{rate} * align, 0xFFFFFFFF));
    auto s = std::make_unique<StreamHandler>(*f);
    SetAudioHeader(s->Header(), align, avg);
    s->Index() = SampleIndex(align);
    if (data_pos >= 0) IndexData(s->Index(), data_pos, data_size);
    s->Formats().push_back({0, std::move(format)});
    f->AddStream(std::move(s));
    *file = f;
    return AVIERR_OK;
}

HRESULT OpenAuFile(std::unique_ptr<ByteStream>& io, bool writable, PAVIFILE* file) {
    const std::int64_t fsize = io->Size();
    std::uint8_t h[24];
    if (!io->ReadExact(0, h, sizeof h) || GetBE32(h) != kSndMagic) return AVIERR_UNSUPPORTED;
    std::uint32_t offset = GetBE32(h + 4);
    std::uint32_t size = GetBE32(h + 8);
    std::uint32_t encoding = GetBE32(h + 12);
    std::uint32_t rate = GetBE32(h + 16);
    std::uint32_t channels = GetBE32(h + 20);
    if (offset < 24 || offset > fsize || rate == 0 || channels == 0 || channels > 256)
        return AVIERR_BADFORMAT;
    WORD tag = WAVE_FORMAT_PCM;
    unsigned width = 0;
    bool flip = false;
    switch (encoding) {
    case 1:
        tag = WAVE_FORMAT_MULAW, width = 1;
        break;
    case 2:
        width = 1, flip = true;
        break;
    case 3:
        width = 2;
        break;
    case 4:
        width = 3;
        break;
    case 5:
        width = 4;
        break;
    case 6:
        tag = WAVE_FORMAT_IEEE_FLOAT, width = 4;
        break;
    case 7:
        tag = WAVE_FORMAT_IEEE_FLOAT, width = 8;
        break;
    case 27:
        tag = WAVE_FORMAT_ALAW, width = 1;
        break;
    default:
        return AVIERR_UNSUPPORTED;
    }
    auto align = static_cast<WORD>(channels * width);
    if (rate > 0x7FFFFFFFu / align) return AVIERR_BADFORMAT;
    std::int64_t avail = fsize - offset;
    std::int64_t data = size == 0xFFFFFFFF ? avail : std::min<std::int64_t>(size, avail);
    std::unique_ptr<ByteStream> owned = std::move(io);
    auto* f = new AudioFile(std::move(owned), writable, "AU File");
    auto s = std::make_unique<AuStream>(*f, width, flip);
    SetAudioHeader(s->Header(), align, rate * align);
    s->Index() = SampleIndex(align);
    IndexData(s->Index(), offset, data);
    s->Formats().push_back({0, MakeFormat(tag, static_cast<WORD>(channels), rate,
                                          static_cast<WORD>(8 * width), align)});
    f->AddStream(std::move(s));
    *file = f;
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
