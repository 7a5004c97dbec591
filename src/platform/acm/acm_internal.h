// The inside of the compression manager module: drivers (one PCM
// converter, one codec a wave format tag that libavcodec decodes, one
// volume filter), the converters behind open streams, format texts and the
// handle table. Nothing here is seen outside the module.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/acm/msacm.h"

namespace lum::platform::acm {

// Every handle points to one of these; the kind tells which.
struct AcmObject {
    enum class Kind : std::uint32_t { DriverId = 0x44494441, Driver, Stream };
    explicit AcmObject(Kind k) : kind(k) {}
    virtual ~AcmObject() = default;
    Kind kind;
};

namespace detail {

using Bytes = std::vector<std::uint8_t>;

// A format as bytes (18 + cbSize, or 18 for PCM).
Bytes FormatBytes(const WAVEFORMATEX* fmt);
const WAVEFORMATEX* AsFormat(const Bytes& b);
DWORD FormatSize(const WAVEFORMATEX* fmt);
bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// PCM of 8, 16, 24 or 32 bits, 1 to 8 channels, any rate from 1 Hz, with
// the block that follows from bits and channels.
bool IsPcm(const WAVEFORMATEX* fmt);
WAVEFORMATEX MakePcm(int bits, int channels, DWORD rate);

// "44.100 kHz, 16 Bit, Stereo" and the like.
std::string DescribeFormat(const WAVEFORMATEX* fmt);
std::string RateText(DWORD rate);
std::string ChannelsText(int channels);

// Copies Text into a fixed field, cut to fit and zero-terminated.
void CopyText(char* field, std::size_t size, const std::string& text);

// The work behind an open stream. Convert reads at most SrcLen bytes and
// writes at most DstLen; what a codec produced beyond DstLen is kept for
// the next call, and no further input is taken while it waits.
class Converter {
public:
    virtual ~Converter() = default;
    virtual MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen,
                             DWORD& produced, DWORD flags) = 0;
    // An upper bound of the output for SrcBytes of input, and the input
    // that fills at most DstBytes of output.
    virtual DWORD OutputSize(DWORD srcBytes) const = 0;
    virtual DWORD InputSize(DWORD dstBytes) const = 0;
};

// Where a converter writes: the caller's buffer first, and what does not
// fit there into a queue that the next call empties first.
class OutputQueue {
public:
    void Begin(BYTE* dst, DWORD room) {
        dst_ = dst;
        room_ = room;
        written_ = 0;
        const std::size_t n = std::min<std::size_t>(room_, queue_.size() - head_);
        Copy(queue_.data() + head_, n);
        head_ += n;
        if (head_ == queue_.size()) Clear();
    }
    void Put(const std::uint8_t* p, std::size_t n) {
        if (head_ == queue_.size()) {
            const std::size_t k = std::min<std::size_t>(room_, n);
            Copy(p, k);
            p += k;
            n -= k;
        }
        queue_.insert(queue_.end(), p, p + n);
    }
    // Output is waiting: take no more input.
    bool Waiting() const { return head_ < queue_.size(); }
    DWORD Written() const { return written_; }
    void Clear() {
        queue_.clear();
        head_ = 0;
    }

private:
    void Copy(const std::uint8_t* p, std::size_t n) {
        if (n) std::memcpy(dst_ + written_, p, n);
        written_ += static_cast<DWORD>(n);
        room_ -= static_cast<DWORD>(n);
    }
    BYTE* dst_ = nullptr;
    DWORD room_ = 0;
    DWORD written_ = 0;
    Bytes queue_;
    std::size_t head_ = 0;
};

// A suggestion's constraints, from the destination format and the flags.
struct Constraints {
    DWORD flags = 0;
    WORD tag = 0;
    WORD channels = 0;
    DWORD rate = 0;
    WORD bits = 0;
    bool Tag(WORD t) const { return !(flags & ACM_FORMATSUGGESTF_WFORMATTAG) || tag == t; }
    bool Channels(int c) const { return !(flags & ACM_FORMATSUGGESTF_NCHANNELS) || channels == c; }
    bool Rate(DWORD r) const { return !(flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) || rate == r; }
    bool Bits(int b) const { return !(flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) || bits == b; }
};

struct FormatTag {
    WORD tag = 0;
    std::string name;
    DWORD largest = 0; // the largest format record of the tag
    std::vector<Bytes> formats;
};

struct FilterTag {
    DWORD tag = 0;
    std::string name;
    DWORD size = 0;
    std::vector<Bytes> filters;
};

class Driver : public AcmObject {
public:
    Driver() : AcmObject(Kind::DriverId) {}
    DWORD support = 0;
    std::string shortName;
    std::string longName;
    std::string features;
    std::vector<FormatTag> tags;
    std::vector<FilterTag> filterTags;

    const FormatTag* FindTag(WORD tag) const;
    virtual MMRESULT Suggest(const WAVEFORMATEX* src, Bytes& out, const Constraints& c) const = 0;
    // Opens (or, for Conv null, only checks) a stream from Src to Dst.
    virtual MMRESULT Open(const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                          const WAVEFILTER* filter, std::unique_ptr<Converter>* conv) const = 0;
    virtual std::string Describe(const WAVEFORMATEX* fmt) const { return DescribeFormat(fmt); }
    virtual std::string DescribeFilter(const WAVEFILTER*) const { return {}; }
    // Whether the driver writes this tag (is an encoder or converter for it).
    virtual bool Writes(WORD tag) const = 0;
};

// An open driver handle.
struct OpenDriver : AcmObject {
    explicit OpenDriver(const Driver* d) : AcmObject(Kind::Driver), driver(d) {}
    const Driver* driver;
};

struct Stream : AcmObject {
    Stream() : AcmObject(Kind::Stream) {}
    const Driver* driver = nullptr;
    std::unique_ptr<Converter> converter;
};

// The drivers, built once: the PCM converter first, the codecs by tag, the
// volume filter last.
const std::vector<std::unique_ptr<Driver>>& Drivers();

// Handles given out and not yet closed.
void RegisterHandle(AcmObject* h);
void UnregisterHandle(AcmObject* h);
bool IsHandle(const void* h, AcmObject::Kind kind);

// The driver behind a driver handle, a driver id or null (all drivers).
std::vector<const Driver*> DriversOf(HACMDRIVER had);

// Stream opening over the drivers in order.
MMRESULT OpenStream(HACMDRIVER had, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                    const WAVEFILTER* filter, const Driver** driver,
                    std::unique_ptr<Converter>* conv);
MMRESULT SuggestFormat(HACMDRIVER had, const WAVEFORMATEX* src, Bytes& out, const Constraints& c);

// Whether a format passes ACM_FORMATENUMF_* restrictions against Ref.
bool PassesEnum(const Driver& d, const WAVEFORMATEX* fmt, const WAVEFORMATEX* ref, DWORD flags);

// Converters.
std::unique_ptr<Converter> MakePcmConverter(const WAVEFORMATEX* src, const WAVEFORMATEX* dst);
std::unique_ptr<Converter> MakeVolumeConverter(const WAVEFORMATEX* fmt, DWORD volume);

// The codec drivers for libavcodec, one a wave format tag.
void AddCodecDrivers(std::vector<std::unique_ptr<Driver>>& drivers);
std::unique_ptr<Driver> MakePcmDriver();
std::unique_ptr<Driver> MakeVolumeDriver();

} // namespace detail
} // namespace lum::platform::acm
