// Reading AVI files: headers, the choice of index, the movi scan.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/vfw/avichunks.h"
#include "platform/vfw/avifile.h"
#include "platform/vfw/keyframes.h"

namespace lum::platform::vfw {

namespace {

using namespace avichunks;

constexpr DWORD kPalChanges = 0x00010000; // AVISF_VIDEO_PALCHANGES
constexpr std::uint8_t kIndexOfIndexes = 0;
constexpr std::uint8_t kIndexOfChunks = 1;

int DigitOf(unsigned char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "ix##" and "##ix": standard index chunks inside movi.
bool IsIndexChunk(FOURCC id) {
    auto b0 = static_cast<unsigned char>(id);
    auto b1 = static_cast<unsigned char>(id >> 8);
    auto b2 = static_cast<unsigned char>(id >> 16);
    auto b3 = static_cast<unsigned char>(id >> 24);
    return (b0 == 'i' && b1 == 'x') || (b2 == 'i' && b3 == 'x') || id == kIdx1;
}

// The stream of an "ix##" chunk, or -1.
int IndexChunkStream(FOURCC id) {
    if ((id & 0xFF) != 'i' || ((id >> 8) & 0xFF) != 'x') return -1;
    int a = DigitOf(static_cast<unsigned char>(id >> 16), false);
    int b = DigitOf(static_cast<unsigned char>(id >> 24), false);
    return a < 0 || b < 0 ? -1 : a * 10 + b;
}

} // namespace

FOURCC StreamChunkId(int n, char a, char b) {
    return MakeFourCC(static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10), a, b);
}

AviFile::AviFile(std::unique_ptr<ByteStream> io, bool creating, bool write_access)
    : FileHandler(std::move(io), creating, write_access), creating_(creating) {}

AviStream& AviFile::Stream(std::size_t i) {
    return static_cast<AviStream&>(*streams_[i]);
}

int AviFile::NumberOf(const AviStream& s) const {
    for (std::size_t i = 0; i < streams_.size(); ++i)
        if (streams_[i].get() == &s) return static_cast<int>(i);
    return -1;
}

int AviFile::StreamOfChunk(FOURCC id, bool* palette) const {
    auto c0 = static_cast<unsigned char>(id);
    auto c1 = static_cast<unsigned char>(id >> 8);
    auto c2 = static_cast<unsigned char>(id >> 16);
    auto c3 = static_cast<unsigned char>(id >> 24);
    if (!IsLetter(c2) || !IsLetter(c3) || (c2 == 'i' && c3 == 'x')) return -1;
    int n;
    if (DigitOf(c0, false) >= 0 && DigitOf(c1, false) >= 0) {
        n = DigitOf(c0, false) * 10 + DigitOf(c1, false);
    } else if (DigitOf(c0, true) >= 0 && DigitOf(c1, true) >= 0) {
        n = DigitOf(c0, true) * 16 + DigitOf(c1, true); // the platform's own hex numbering
    } else {
        return -1;
    }
    if (n >= static_cast<int>(streams_.size())) return -1;
    if (palette) *palette = c2 == 'p' && c3 == 'c';
    return n;
}

HRESULT AviFile::Parse() {
    ByteStream& io = IO();
    const std::int64_t fsize = io.Size();
    Chunk riff;
    if (!ReadChunk(io, 0, fsize, riff) || riff.id != kRIFF || riff.list_type != kAVI)
        return AVIERR_UNSUPPORTED;
    ChunkWalker top(io, riff);
    Chunk c;
    while (top.Next(c)) {
        if (c.id == kLIST) {
            if (c.list_type == kHdrl && !have_hdrl_) {
                ParseHeaderList(c);
                have_hdrl_ = true;
            } else if (c.list_type == kMovi) {
                if (movi_fourcc_ < 0) movi_fourcc_ = c.pos + 8;
                movi_.push_back({c.data, c.end});
            } else if (c.list_type == kInfo) {
                ParseInfoList(c, extra_);
            }
        } else if (c.id == kIdx1) {
            if (!have_idx1_) {
                idx1_ = c;
                have_idx1_ = true;
            }
        } else if (c.id != kJUNK && c.PayloadSize() <= static_cast<std::int64_t>(kMaxHeaderChunk)) {
            extra_.Set(c.id, ReadPayload(io, c, kMaxHeaderChunk));
        }
    }
    if (!have_hdrl_) return AVIERR_BADFORMAT;
    segments_read_ = 1;

    // OpenDML extension segments follow the first RIFF.
    std::int64_t pos = riff.truncated ? fsize : riff.Next();
    Chunk x;
    while (ReadChunk(io, pos, fsize, x) && x.id == kRIFF && x.list_type == kAVIX) {
        ++segments_read_;
        ChunkWalker inner(io, x);
        Chunk m;
        while (inner.Next(m))
            if (m.id == kLIST && m.list_type == kMovi) movi_.push_back({m.data, m.end});
        if (x.truncated) break;
        pos = x.Next();
    }
    BuildIndexes();
    return AVIERR_OK;
}

void AviFile::ParseHeaderList(const Chunk& hdrl) {
    ByteStream& io = IO();
    ChunkWalker w(io, hdrl);
    Chunk c;
    while (w.Next(c)) {
        if (c.id == kAvih) {
            auto p = ReadPayload(io, c, 56);
            p.resize(40, 0);
            DWORD* f[] = {&avih_.us_per_frame, &avih_.max_bytes_per_sec, &avih_.padding,
                          &avih_.flags,        &avih_.total_frames,      &avih_.initial_frames,
                          &avih_.streams,      &avih_.suggested_buffer,  &avih_.width,
                          &avih_.height};
            for (std::size_t i = 0; i < 10; ++i)
                *f[i] = GetLE32(p.data() + 4 * i);
        } else if (c.id == kLIST && c.list_type == kStrl) {
            if (streams_.size() < kMaxStreams) ParseStreamList(c);
        } else if (c.id == kLIST && c.list_type == kOdml) {
            ChunkWalker ow(io, c);
            Chunk d;
            while (ow.Next(d)) {
                if (d.id != kDmlh) continue;
                auto p = ReadPayload(io, d, 4);
                if (p.size() == 4) odml_total_frames_ = GetLE32(p.data());
            }
        } else if (c.id != kJUNK && !c.IsList() &&
                   c.PayloadSize() <= static_cast<std::int64_t>(kMaxHeaderChunk)) {
            extra_.Set(c.id, ReadPayload(io, c, kMaxHeaderChunk));
        }
    }
}

void AviFile::ParseStreamList(const Chunk& strl) {
    ByteStream& io = IO();
    auto s = std::make_unique<AviStream>(*this);
    AVISTREAMINFO& h = s->Header();
    std::vector<std::uint8_t> format;
    ChunkWalker w(io, strl);
    Chunk c;
    while (w.Next(c)) {
        bool small = c.PayloadSize() <= static_cast<std::int64_t>(kMaxHeaderChunk);
        if (c.id == kStrh) {
            auto p = ReadPayload(io, c, 56);
            if (p.size() < 48) continue;
            p.resize(56, 0);
            h.fccType = GetLE32(&p[0]);
            h.fccHandler = GetLE32(&p[4]);
            h.dwFlags = GetLE32(&p[8]);
            h.wPriority = GetLE16(&p[12]);
            h.wLanguage = GetLE16(&p[14]);
            h.dwInitialFrames = GetLE32(&p[16]);
            h.dwScale = GetLE32(&p[20]);
            h.dwRate = GetLE32(&p[24]);
            h.dwStart = GetLE32(&p[28]);
            h.dwLength = GetLE32(&p[32]);
            h.dwSuggestedBufferSize = GetLE32(&p[36]);
            h.dwQuality = GetLE32(&p[40]);
            h.dwSampleSize = GetLE32(&p[44]);
            h.rcFrame.left = static_cast<std::int16_t>(GetLE16(&p[48]));
            h.rcFrame.top = static_cast<std::int16_t>(GetLE16(&p[50]));
            h.rcFrame.right = static_cast<std::int16_t>(GetLE16(&p[52]));
            h.rcFrame.bottom = static_cast<std::int16_t>(GetLE16(&p[54]));
            if (h.dwStart > 0x7FFFFFFF) h.dwStart = 0;
        } else if (c.id == kStrf) {
            if (small) format = ReadPayload(io, c, kMaxHeaderChunk);
        } else if (c.id == kIndx) {
            if (small) {
                s->odml_chunk = ReadPayload(io, c, kMaxHeaderChunk);
                s->odml_present = true;
            }
        } else if (c.id == ckidSTREAMNAME) {
            auto p = ReadPayload(io, c, 4096);
            std::string name(p.begin(), std::find(p.begin(), p.end(), 0));
            CopyName(h.szName, name);
            s->Extra().Set(c.id, std::move(p));
        } else if (c.id != kJUNK && !c.IsList() && small) {
            s->Extra().Set(c.id, ReadPayload(io, c, kMaxHeaderChunk));
        }
    }
    if (h.fccType == streamtypeAUDIO) format = NormalizeWaveFormat(std::move(format));
    s->Formats().push_back({0, std::move(format)});
    // Video holds one frame a chunk whatever the header says, so an empty
    // chunk stays an empty frame.
    s->Index() = SampleIndex(h.fccType == streamtypeVIDEO ? 0 : h.dwSampleSize);
    streams_.push_back(std::move(s));
}

void AviFile::ParseInfoList(const Chunk& info, DataChunks& into) {
    ChunkWalker w(IO(), info);
    Chunk c;
    while (w.Next(c)) {
        if (c.IsList() || c.PayloadSize() > static_cast<std::int64_t>(kMaxHeaderChunk)) continue;
        into.Set(c.id, ReadPayload(IO(), c, kMaxHeaderChunk));
    }
}

// ---- indexes ----

bool AviFile::ReadStandardIndex(int stream, std::int64_t pos, std::vector<Found>& out,
                                std::unordered_map<std::int64_t, bool>& hints) {
    ByteStream& io = IO();
    const std::int64_t fsize = io.Size();
    Chunk c;
    if (!ReadChunk(io, pos, fsize, c) || c.truncated || c.PayloadSize() < 24) return false;
    std::uint8_t head[24];
    if (!io.ReadExact(c.data, head, sizeof head)) return false;
    WORD longs = GetLE16(head);
    if (head[3] != kIndexOfChunks || longs < 2) return false;
    std::uint32_t count = GetLE32(head + 4);
    std::uint64_t base = GetLE64(head + 12);
    const std::size_t entry = 4u * longs;
    if (count > static_cast<std::uint64_t>(c.PayloadSize() - 24) / entry) return false;
    std::vector<std::uint8_t> block;
    std::int64_t at = c.data + 24;
    for (std::uint32_t done = 0; done < count;) {
        std::uint32_t n = std::min<std::uint32_t>(count - done, 4096);
        block.resize(static_cast<std::size_t>(n) * entry);
        if (!io.ReadExact(at, block.data(), block.size())) return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* e = block.data() + i * entry;
            std::uint32_t size = GetLE32(e + 4);
            bool key = (size & 0x80000000u) == 0;
            size &= 0x7FFFFFFFu;
            auto data = static_cast<std::int64_t>(base + GetLE32(e));
            if (data < 8 || data > fsize || size > fsize - data) return false;
            out.push_back({stream, data, size, key, false, true});
            hints[data] = key;
        }
        at += static_cast<std::int64_t>(block.size());
        done += n;
    }
    return true;
}

bool AviFile::ReadOdml(std::vector<std::vector<Found>>& out,
                       std::unordered_map<std::int64_t, bool>& hints) {
    out.assign(streams_.size(), {});
    bool complete = true;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        AviStream& s = Stream(i);
        const auto& p = s.odml_chunk;
        if (!s.odml_present || p.size() < 24) {
            complete = false;
            continue;
        }
        WORD longs = GetLE16(p.data());
        std::uint8_t type = p[3];
        std::uint32_t count = GetLE32(p.data() + 4);
        if (type == kIndexOfIndexes && longs == 4) {
            count =
                std::min<std::uint32_t>(count, static_cast<std::uint32_t>((p.size() - 24) / 16));
            for (std::uint32_t k = 0; k < count; ++k) {
                auto off = static_cast<std::int64_t>(GetLE64(p.data() + 24 + 16 * k));
                if (!ReadStandardIndex(static_cast<int>(i), off, out[i], hints)) complete = false;
            }
        } else {
            // A standard index in place of the super index is rare; idx1
            // or the scan covers such a file.
            complete = false;
        }
    }
    return complete;
}

bool AviFile::ReadIdx1(std::vector<Found>& out, std::unordered_map<std::int64_t, bool>& hints) {
    if (!have_idx1_ || movi_fourcc_ < 0 || idx1_.truncated) return false;
    ByteStream& io = IO();
    const std::int64_t fsize = io.Size();
    const std::int64_t count = idx1_.PayloadSize() / 16;
    std::int64_t base = -1;
    std::vector<std::uint8_t> block;
    for (std::int64_t done = 0; done < count;) {
        auto n = static_cast<std::size_t>(std::min<std::int64_t>(count - done, 4096));
        block.resize(n * 16);
        if (!io.ReadExact(idx1_.data + done * 16, block.data(), block.size())) return false;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* e = block.data() + 16 * i;
            FOURCC id = GetLE32(e);
            DWORD flags = GetLE32(e + 4);
            std::uint32_t off = GetLE32(e + 8);
            std::uint32_t size = GetLE32(e + 12);
            bool palette = false;
            int stream = StreamOfChunk(id, &palette);
            if (stream < 0) continue;
            if (base < 0) {
                // Offsets count from the "movi" list type, or from the file
                // start: the first entry tells which.
                for (std::int64_t candidate : {movi_fourcc_, std::int64_t{0}, movi_fourcc_ + 4}) {
                    std::uint8_t h[8];
                    if (io.ReadExact(candidate + off, h, 8) && GetLE32(h) == id &&
                        GetLE32(h + 4) == size) {
                        base = candidate;
                        break;
                    }
                }
                if (base < 0) return false;
            }
            std::int64_t data = base + off + 8;
            if (data > fsize || size > fsize - data) return false;
            bool key = (flags & AVIIF_KEYFRAME) != 0;
            out.push_back({stream, data, size, key, palette, true});
            if (!palette) hints[data] = key;
        }
        done += static_cast<std::int64_t>(n);
    }
    return true;
}

bool AviFile::SpotCheck(const std::vector<Found>& entries) {
    if (entries.empty()) return true;
    const std::size_t n = entries.size();
    const std::size_t probes = std::min<std::size_t>(n, 64);
    for (std::size_t k = 0; k < probes; ++k) {
        std::size_t i = probes == 1 ? 0 : k * (n - 1) / (probes - 1);
        const Found& f = entries[i];
        std::uint8_t h[8];
        if (!IO().ReadExact(f.data - 8, h, 8)) return false;
        bool palette = false;
        if (StreamOfChunk(GetLE32(h), &palette) != f.stream || palette != f.palette ||
            GetLE32(h + 4) != f.size)
            return false;
    }
    return true;
}

bool AviFile::PlausibleHeader(const std::uint8_t* h, std::int64_t pos, std::int64_t end) const {
    FOURCC id = GetLE32(h);
    std::int64_t size = GetLE32(h + 4);
    if (pos + 8 + size > end) return false;
    if (id == kLIST) return size >= 4 && GetLE32(h + 8) == kRec;
    if (id == kJUNK || IsIndexChunk(id)) return true;
    return StreamOfChunk(id, nullptr) >= 0;
}

std::int64_t AviFile::Resync(std::int64_t from, std::int64_t end) {
    constexpr std::size_t kWindow = 65536;
    std::vector<std::uint8_t> buf(kWindow + 12);
    for (std::int64_t p = from; p + 8 <= end; p += kWindow) {
        auto n = static_cast<std::size_t>(std::min<std::int64_t>(kWindow + 12, end - p));
        if (!IO().ReadExact(p, buf.data(), n)) return end;
        for (std::size_t i = 0; i + 8 <= n && i < kWindow; ++i) {
            if (i + 12 > n && GetLE32(&buf[i]) == kLIST) continue;
            if (PlausibleHeader(&buf[i], p + static_cast<std::int64_t>(i), end))
                return p + static_cast<std::int64_t>(i);
        }
    }
    return end;
}

void AviFile::Scan(std::vector<Found>& out, std::unordered_map<std::int64_t, bool>& hints) {
    ByteStream& io = IO();
    for (const Range& r : movi_) {
        std::int64_t pos = r.begin;
        bool after_odd = false;
        while (pos + 8 <= r.end) {
            std::uint8_t h[12];
            if (!io.ReadExact(pos, h, 8)) break;
            FOURCC id = GetLE32(h);
            std::int64_t size = GetLE32(h + 4);
            std::int64_t next = pos + 8 + size + (size & 1);
            bool palette = false;
            int stream = -1;
            bool valid = false;
            if (id == kLIST) {
                if (pos + 12 <= r.end && io.ReadExact(pos + 8, h + 8, 4) &&
                    (GetLE32(h + 8) == kRec || GetLE32(h + 8) == kMovi) && size >= 4) {
                    pos += 12; // records are flattened: their chunks follow
                    after_odd = false;
                    continue;
                }
                valid = pos + 8 + size <= r.end;
            } else if (id == kJUNK || IsIndexChunk(id)) {
                valid = pos + 8 + size <= r.end;
                // A standard index met on the way still knows its key frames.
                int owner = IndexChunkStream(id);
                if (valid && owner >= 0 && owner < static_cast<int>(streams_.size())) {
                    std::vector<Found> ignored;
                    ReadStandardIndex(owner, pos, ignored, hints);
                }
            } else if ((stream = StreamOfChunk(id, &palette)) >= 0) {
                valid = pos + 8 + size <= r.end;
                if (valid)
                    out.push_back(
                        {stream, pos + 8, static_cast<std::uint32_t>(size), false, palette, false});
            }
            if (valid) {
                after_odd = size & 1;
                pos = next;
                continue;
            }
            // Damage, or the cut end of a truncated file. A writer that did
            // not pad an odd chunk is one byte early; otherwise look ahead.
            if (after_odd) {
                std::uint8_t b[12];
                if (io.ReadExact(pos - 1, b, std::min<std::int64_t>(12, r.end - pos + 1)) &&
                    PlausibleHeader(b, pos - 1, r.end)) {
                    pos -= 1;
                    after_odd = false;
                    continue;
                }
            }
            after_odd = false;
            pos = Resync(pos + 1, r.end);
        }
    }
}

void AviFile::ApplyPalette(AviStream& s, std::int64_t data, std::uint32_t size) {
    if (size < 4 || size > 4 + 256 * 4) return;
    std::vector<std::uint8_t> p(size);
    if (!IO().ReadExact(data, p.data(), size)) return;
    std::size_t first = p[0];
    std::size_t count = p[1] == 0 ? 256 : p[1];
    count = std::min<std::size_t>(count, (size - 4) / 4);
    auto& versions = s.Formats();
    std::vector<std::uint8_t> fmt = versions.back().bytes;
    if (fmt.size() < 40) return;
    std::size_t header = GetLE32(fmt.data());
    if (header < 40 || header > fmt.size()) return;
    std::size_t entries = (fmt.size() - header) / 4;
    for (std::size_t k = 0; k < count && first + k < entries; ++k) {
        std::uint8_t* q = &fmt[header + 4 * (first + k)];
        const std::uint8_t* pe = &p[4 + 4 * k]; // red, green, blue, flags
        q[0] = pe[2];
        q[1] = pe[1];
        q[2] = pe[0];
        q[3] = 0;
    }
    LONG at = s.Index().Length();
    if (versions.back().position == at)
        versions.back().bytes = std::move(fmt);
    else
        versions.push_back({at, std::move(fmt)});
}

void AviFile::Distribute(const std::vector<Found>& entries,
                         const std::unordered_map<std::int64_t, bool>* hints) {
    std::vector<KeyFrameProbe> probes;
    std::vector<bool> seen_data(streams_.size(), false);
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const auto& h = streams_[i]->Header();
        probes.emplace_back(h.fccType, h.fccHandler, streams_[i]->FormatAt(0));
    }
    std::vector<std::uint8_t> buf;
    for (const Found& f : entries) {
        AviStream& s = Stream(static_cast<std::size_t>(f.stream));
        if (f.palette) {
            ApplyPalette(s, f.data, f.size);
            continue;
        }
        bool key = f.key;
        if (!f.key_known) {
            auto it = hints ? hints->find(f.data) : decltype(hints->end()){};
            if (hints && it != hints->end()) {
                key = it->second;
            } else {
                const auto& probe = probes[static_cast<std::size_t>(f.stream)];
                buf.resize(probe.BytesNeeded(f.size));
                key = (buf.empty() || IO().ReadExact(f.data, buf.data(), buf.size())) &&
                      probe.IsKey(buf, !seen_data[static_cast<std::size_t>(f.stream)]);
            }
        }
        if (f.size) seen_data[static_cast<std::size_t>(f.stream)] = true;
        s.Index().Append(f.data, f.size, key);
    }
}

void AviFile::BuildIndexes() {
    std::unordered_map<std::int64_t, bool> hints;
    bool palettes = false;
    for (auto& s : streams_)
        palettes |= (s->Header().dwFlags & kPalChanges) != 0;

    std::vector<std::vector<Found>> odml;
    bool use_odml = !streams_.empty() && ReadOdml(odml, hints) && !palettes;
    for (std::size_t i = 0; use_odml && i < odml.size(); ++i)
        use_odml = SpotCheck(odml[i]);
    if (use_odml) {
        for (const auto& list : odml)
            Distribute(list, nullptr);
    } else {
        std::vector<Found> entries;
        bool use_idx1 = ReadIdx1(entries, hints) && segments_read_ == 1 && SpotCheck(entries);
        if (!use_idx1) {
            entries.clear();
            Scan(entries, hints);
        }
        Distribute(entries, use_idx1 ? nullptr : &hints);
    }

    for (auto& s : streams_) {
        SampleIndex& index = s->Index();
        // An index that marks no key frame at all still has to give a
        // decoder a place to start.
        if (!index.Fixed() && index.KeyCount() == 0) {
            LONG first = index.NextNonEmpty(0);
            if (first >= 0) index.MarkKey(first);
        }
        AVISTREAMINFO& h = s->Header();
        if (static_cast<std::int64_t>(h.dwStart) + index.Length() > 0x7FFFFFFF)
            h.dwStart = static_cast<DWORD>(0x7FFFFFFF - index.Length());
    }
}

// ---- description ----

void AviFile::Describe(AVIFILEINFO& info) {
    MainHeader h = avih_;
    if (creating_) DescribeWriter(h);
    info.dwMaxBytesPerSec = h.max_bytes_per_sec;
    info.dwFlags =
        h.flags & (AVIFILEINFO_HASINDEX | AVIFILEINFO_MUSTUSEINDEX | AVIFILEINFO_ISINTERLEAVED |
                   AVIFILEINFO_WASCAPTUREFILE | AVIFILEINFO_COPYRIGHTED);
    bool all_key = true;
    bool uncompressed = true;
    std::uint32_t max_chunk = 0;
    const StreamHandler* video = nullptr;
    for (auto& s : streams_) {
        max_chunk = std::max(max_chunk, s->Index().MaxChunk());
        if (s->Header().fccType != streamtypeVIDEO) continue;
        if (!video) video = s.get();
        all_key &= s->Index().AllKey();
        const auto& f = s->FormatAt(0);
        uncompressed &= f.size() >= 20 && GetLE32(f.data() + 16) == BI_RGB;
    }
    info.dwCaps = (all_key ? AVIFILECAPS_ALLKEYFRAMES : 0) |
                  (video && uncompressed ? AVIFILECAPS_NOCOMPRESSION : 0);
    auto fsize = static_cast<std::uint64_t>(std::max<std::int64_t>(IO().Size(), 0));
    info.dwSuggestedBufferSize = h.suggested_buffer;
    if (info.dwSuggestedBufferSize == 0 || info.dwSuggestedBufferSize > fsize)
        info.dwSuggestedBufferSize = max_chunk;
    info.dwWidth = h.width;
    info.dwHeight = h.height;
    if ((info.dwWidth == 0 || info.dwHeight == 0) && video && video->FormatAt(0).size() >= 12) {
        const auto& f = video->FormatAt(0);
        info.dwWidth = GetLE32(f.data() + 4);
        info.dwHeight = static_cast<DWORD>(std::abs(static_cast<LONG>(GetLE32(f.data() + 8))));
    }
    if (h.us_per_frame) {
        info.dwScale = h.us_per_frame;
        info.dwRate = 1000000;
    } else if (video && video->Described().dwScale && video->Described().dwRate) {
        info.dwScale = video->Described().dwScale;
        info.dwRate = video->Described().dwRate;
    } else {
        info.dwScale = 1;
        info.dwRate = 1000;
    }
    long double longest = 0; // seconds
    for (auto& s : streams_) {
        AVISTREAMINFO d = s->Described();
        if (d.dwRate == 0) continue;
        longest = std::max(longest, static_cast<long double>(d.dwLength) * d.dwScale / d.dwRate);
    }
    long double units = std::ceil(longest * info.dwRate / info.dwScale - 1e-9L);
    info.dwLength = units > 0xFFFFFFFFL ? 0xFFFFFFFF : static_cast<DWORD>(units);
    std::strncpy(info.szFileType, "AVI File", sizeof info.szFileType - 1);
}

HRESULT OpenAviFile(std::unique_ptr<ByteStream>& io, bool writable, PAVIFILE* file) {
    auto* f = new AviFile(std::move(io), false, writable);
    HRESULT hr = f->Parse();
    if (hr != AVIERR_OK) {
        f->Release();
        return hr;
    }
    *file = f;
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
