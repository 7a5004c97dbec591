#include "audio/lumadcvt.h"

#include <algorithm>
#include <cstring>

#include "audio/lumadpcm.h"
#include "audio/lumpcmsup.h"
#include "audio/lumwaveio.h"
#include "audio/lumwavout.h"

namespace lum {

namespace {

using platform::WAVEHDR;

constexpr std::int32_t kPullBytes = 4096;
constexpr WORD kTagIMAStream = 3; // streaming IMA when 4 bits a sample; float otherwise
constexpr WORD kTagDVI = 0x33;
constexpr WORD kTagDVI2 = 0x206;

const TWaveFormatEx* AsFormat(const std::vector<std::uint8_t>& b) {
    return b.empty() ? nullptr : reinterpret_cast<const TWaveFormatEx*>(b.data());
}

bool Streaming(const TWaveFormatEx* f) {
    if (f->nChannels < 1 || f->nChannels > 2 || f->nSamplesPerSec == 0) return false;
    if (f->wFormatTag == kTagIMAStream) return f->wBitsPerSample == 4;
    return f->wFormatTag == kTagDVI || f->wFormatTag == kTagDVI2;
}

bool Blocked(const TWaveFormatEx* f) {
    return (f->wFormatTag == WAVE_FORMAT_ADPCM && adpcmIsValidFormat(f)) ||
           (f->wFormatTag == WAVE_FORMAT_IMA_ADPCM && adpcmIMAIsValidFormat(f));
}

// Whether a header handed to this member carries the looping extension:
// only those of a looping wave output downstream do.
bool OutputLoops(const TLumDSPComponent* self) {
    int guard = DSPComponentCount();
    for (const TLumDSPComponent* c = self->GetOutput(); c != nullptr && guard-- > 0;
         c = c->GetOutput())
        if (const auto* out = dynamic_cast<const TLumWaveOut*>(c)) return out->GetLooping();
    return false;
}

} // namespace

TLumADPCMConverter::TLumADPCMConverter(TComponent* owner) : TLumDSPComponent(owner) {}

TLumADPCMConverter::~TLumADPCMConverter() {
    SetInput(nullptr);
    SetOutput(nullptr);
}

bool TLumADPCMConverter::Decodes(const TWaveFormatEx* fmt) {
    return fmt != nullptr && (Blocked(fmt) || Streaming(fmt));
}

void TLumADPCMConverter::SetEnabled(bool v) {
    if (v == enabled_) return;
    if (IsStarted()) Stopped();
    enabled_ = v;
    PrepareConversion();
}

void TLumADPCMConverter::SetBits(TLumBits v) {
    if (v == bits_) return;
    bits_ = v;
    PrepareConversion();
}

void TLumADPCMConverter::ChangePWaveFormat(const platform::WAVEFORMATEX* format) {
    source_.clear();
    if (format != nullptr) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(format);
        source_.assign(p, p + wioSizeOfWaveFormat(format));
    }
    PrepareConversion();
}

void TLumADPCMConverter::Loaded() {
    TLumDSPComponent::Loaded();
    PrepareConversion();
}

void TLumADPCMConverter::SuggestFormat() {
    suggested_.clear();
    const TWaveFormatEx* src = AsFormat(source_);
    if (src == nullptr || !enabled_ || !Decodes(src)) return;
    const int bits = bits_ == b8Bit ? 8 : 16;
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, bits, src->nChannels, static_cast<std::int32_t>(src->nSamplesPerSec));
    if (!pcmIsValidFormat(&pcm)) return;
    const auto* p = reinterpret_cast<const std::uint8_t*>(&pcm);
    suggested_.assign(p, p + sizeof(pcm));
}

void TLumADPCMConverter::PrepareConversion() {
    needed_ = false;
    possible_ = false;
    const TWaveFormatEx* src = AsFormat(source_);
    if (src != nullptr && enabled_ && src->wFormatTag != WAVE_FORMAT_PCM && Decodes(src)) {
        needed_ = true;
        SuggestFormat();
        possible_ = !suggested_.empty();
    }
    if (LoadingOrDestroying()) return;
    SetPWaveFormat(possible_ ? AsFormat(suggested_) : src);
}

void TLumADPCMConverter::Opened() {
    if (IsOpened()) return;
    if (needed_ && possible_) {
        const TWaveFormatEx* src = AsFormat(source_);
        const TWaveFormatEx* dst = AsFormat(suggested_);
        const int bits = dst->wBitsPerSample;
        std::int64_t out_bytes = 0;
        if (Blocked(src)) {
            // Whole blocks a pull, at least one, whatever the block size.
            const std::int32_t align = src->nBlockAlign;
            pull_bytes_ = std::max<std::int32_t>(1, kPullBytes / align) * align;
            out_bytes = adpcmDecodedSize(src, pull_bytes_, bits);
        } else {
            pull_bytes_ = kPullBytes;
            // Four bytes of 16-bit samples a source byte.
            out_bytes = std::int64_t{pull_bytes_} * 4;
        }
        in_.assign(static_cast<std::size_t>(pull_bytes_), 0);
        out_.assign(static_cast<std::size_t>(out_bytes), 0);
        buffers_ = true;
    } else if (needed_) {
        throw ELumADPCMError("Unable to convert to destination format");
    }
    TLumDSPComponent::Opened();
}

void TLumADPCMConverter::Closed() {
    TLumDSPComponent::Closed();
    buffers_ = false;
    pull_bytes_ = 0;
    in_ = {};
    out_ = {};
    ClearStream();
}

void TLumADPCMConverter::ClearStream() {
    out_count_ = 0;
    out_done_ = 0;
    exhausted_ = false;
    ima_ = TIMA_PARAMS{};
}

void TLumADPCMConverter::Started() {
    ClearStream();
    TLumDSPComponent::Started();
}

void TLumADPCMConverter::Stopped() {
    out_done_ = out_count_;
    TLumDSPComponent::Stopped();
}

void TLumADPCMConverter::Reseting() {
    ClearStream();
    TLumDSPComponent::Reseting();
}

std::int32_t TLumADPCMConverter::Decode(std::int32_t n) {
    const TWaveFormatEx* src = AsFormat(source_);
    const TWaveFormatEx* dst = AsFormat(suggested_);
    if (src->wFormatTag == WAVE_FORMAT_ADPCM)
        return adpcmDecode4Bit(src, dst, in_.data(), n, out_.data());
    if (src->wFormatTag == WAVE_FORMAT_IMA_ADPCM)
        return adpcmIMADecode4Bit(src, dst, in_.data(), n, out_.data());
    // The streaming routines make 16-bit samples; 8-bit output is narrowed
    // in place.
    const bool stereo = src->nChannels == 2;
    std::int32_t made;
    if (src->wFormatTag == kTagIMAStream)
        made = stereo ? WSIMATOPCM(in_.data(), out_.data(), n, ima_)
                      : WMIMATOPCM(in_.data(), out_.data(), n, ima_);
    else
        made = stereo ? WSDVITOPCM(in_.data(), out_.data(), n, ima_)
                      : WMDVITOPCM(in_.data(), out_.data(), n, ima_);
    if (dst->wBitsPerSample == 8)
        made = pcmBitsPerSampleAlign(8, out_.data(), 16, out_.data(), made);
    return made;
}

void TLumADPCMConverter::BufferLoad(WAVEHDR* hdr, bool& more_buffers) {
    if (!needed_) {
        TLumDSPComponent::BufferLoad(hdr, more_buffers);
        return;
    }
    const auto room = static_cast<std::int32_t>(hdr->dwBufferLength);
    if (!enabled_ || !buffers_ || !possible_ || !IsOpened() || !IsStarted()) {
        // Compressed bytes never go downstream as PCM.
        hdr->dwBytesRecorded = 0;
        more_buffers = false;
        return;
    }
    const bool loops = OutputLoops(this);
    std::int32_t filled = 0;
    for (;;) {
        const std::int32_t take = std::min(out_count_ - out_done_, room - filled);
        if (take > 0) {
            std::memcpy(hdr->lpData + filled, out_.data() + out_done_,
                        static_cast<std::size_t>(take));
            filled += take;
            out_done_ += take;
        }
        if (filled >= room || exhausted_) break;

        // Pull whole source blocks through this member's own header; the
        // looping fields travel with it so the source can wrap.
        pull_ = TLumWaveHeader{};
        pull_.Hdr.lpData = reinterpret_cast<char*>(in_.data());
        pull_.Hdr.dwBufferLength = static_cast<platform::DWORD>(pull_bytes_);
        if (loops) {
            const TLumWaveHeader* ext = LumWaveHeader(hdr);
            pull_.LoopMarker = ext->LoopMarker;
            pull_.LoopCount = ext->LoopCount;
            pull_.LoopsLeft = ext->LoopsLeft;
        }
        bool upstream_more = true;
        TLumDSPComponent::BufferLoad(&pull_.Hdr, upstream_more);
        if (loops) {
            TLumWaveHeader* ext = LumWaveHeader(hdr);
            ext->LoopsLeft = pull_.LoopsLeft;
            if (pull_.LoopHappened == kLumLoopMarker) ext->LoopHappened = kLumLoopMarker;
        }
        const std::int32_t n =
            std::min(static_cast<std::int32_t>(pull_.Hdr.dwBytesRecorded), pull_bytes_);
        if (n <= 0 || !upstream_more) exhausted_ = true;
        out_count_ = n > 0 ? Decode(n) : 0;
        out_done_ = 0;
        // The stream starts again after a wrap of the source.
        if (loops && pull_.LoopHappened == kLumLoopMarker) ima_ = TIMA_PARAMS{};
        if (out_count_ <= 0 && !exhausted_) {
            possible_ = false;
            break;
        }
    }
    hdr->dwBytesRecorded = static_cast<platform::DWORD>(filled);
    more_buffers = possible_ && (!exhausted_ || out_done_ < out_count_);
}

std::optional<TLumDSPComponent*> TLumADPCMConverter::PublishedPort(std::string_view name) const {
    if (name == kInputPort) return GetInput();
    if (name == kOutputPort) return GetOutput();
    return std::nullopt;
}

} // namespace lum
