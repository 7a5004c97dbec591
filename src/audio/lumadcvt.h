// TLumADPCMConverter: a chain member that decodes ADPCM into 16-bit (or
// 8-bit) PCM while the chain pulls buffers through it.
//
// Decoded tags: 2 (block ADPCM) and 0x11 (IMA ADPCM in blocks) through the
// block decoders; 0x33 and 0x206 (streaming DVI ADPCM) and tag 3 with
// 4 bits a sample (streaming IMA ADPCM) through the streaming routines,
// whose state is carried from pull to pull. Tag 3 with any other sample
// size is IEEE float, which every wave file of that tag written today is:
// it is not converted and passes on unchanged, like PCM.
//
// Each pull from upstream asks for whole source blocks, and the output
// buffer is sized from what one pull can decode, so no block size (nor a
// cut last block) can make the decoders write past it.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/lumantex.h"
#include "audio/lumregs.h"
#include "audio/lumwavehdr.h"
#include "chain/lumdspobj.h"
#include "core/lumobj.h"
#include "core/lumutils.h"
#include "platform/base/exception.h"

namespace lum {

class ELumADPCMError : public Exception {
public:
    using Exception::Exception;
};

class TLumADPCMConverter : public TLumDSPComponent {
public:
    explicit TLumADPCMConverter(TComponent* owner = nullptr);
    ~TLumADPCMConverter() override;

    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool v);
    TLumBits GetBits() const { return bits_; }
    // The output sample size; the conversion is prepared again.
    void SetBits(TLumBits v);
    // True when nothing needs converting or the conversion is possible.
    bool GetCanConvert() const { return !needed_ || possible_; }
    // True when the upstream format is one this member decodes.
    static bool Decodes(const TWaveFormatEx* fmt);
    // The bytes one pull asks upstream for (whole source blocks) and the
    // most one pull can decode into; 0 while nothing is converted.
    std::int32_t GetPullBytes() const { return pull_bytes_; }
    std::int32_t GetOutputCapacity() const { return static_cast<std::int32_t>(out_.size()); }

    // Keeps a copy of the upstream format and prepares again.
    void ChangePWaveFormat(const platform::WAVEFORMATEX* format) override;

    // Opened gets the buffers; a needed conversion that is not possible
    // raises ELumADPCMError. Closed frees them.
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Reseting() override;
    void BufferLoad(platform::WAVEHDR* hdr, bool& more_buffers) override;
    std::optional<TLumDSPComponent*> PublishedPort(std::string_view name) const override;

protected:
    void Loaded() override;

private:
    void SuggestFormat();
    void PrepareConversion();
    // Decodes N source bytes from in_ into out_; the bytes made.
    std::int32_t Decode(std::int32_t n);
    void ClearStream();

    bool enabled_ = true;
    TLumBits bits_ = b16Bit;
    std::vector<std::uint8_t> source_; // the upstream format
    std::vector<std::uint8_t> suggested_;
    bool needed_ = false;
    bool possible_ = false;
    bool buffers_ = false;
    bool exhausted_ = false;
    std::int32_t pull_bytes_ = 0;
    std::vector<std::uint8_t> in_;
    std::vector<std::uint8_t> out_;
    std::int32_t out_count_ = 0;
    std::int32_t out_done_ = 0;
    TIMA_PARAMS ima_{};
    TLumWaveHeader pull_{};
};

} // namespace lum
