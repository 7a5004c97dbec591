// Fuzzes the ADPCM decoders with random blocks and formats. The input is
// a format record as a "fmt " chunk holds it (a 16-bit length, then that
// many bytes) followed by the data. The block decoders (tag 2 and tag
// 0x11) write into a buffer of exactly the size they promise, for 16- and
// 8-bit output; the streaming IMA and DVI decoders start from a record
// filled with input bytes. No decoder may read or write outside its
// buffers or report more than it wrote.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/lumadpcm.h"
#include "audio/lumantex.h"
#include "audio/lumpcmsup.h"

using namespace lum;

namespace {

#define Check(ok) CheckAt(ok, #ok)

void CheckAt(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

// Runs one block decoder into a buffer of exactly the promised size.
template <class Decode>
void RunBlocks(const TWaveFormatEx* fmt, int bits, const std::vector<std::uint8_t>& data,
               Decode decode) {
    const int channels = std::clamp<int>(fmt->nChannels, 1, 2);
    TWaveFormatEx pcm{};
    pcmBuildWaveHeader(&pcm, bits, channels, 11025);
    const auto n = static_cast<std::int32_t>(data.size());
    const std::int32_t room = adpcmDecodedSize(fmt, n, bits);
    Check(room >= 0);
    // Exactly what was promised: a write beyond it is an overflow.
    std::vector<std::uint8_t> out(static_cast<std::size_t>(room));
    std::vector<std::uint8_t> in(data); // its own block, so over-reads show
    const std::int32_t written = decode(fmt, &pcm, in.data(), n, out.data());
    Check(written >= 0 && written <= room);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t length = std::min<std::size_t>(bytes[0] | bytes[1] << 8, size - 2);
    if (length < 16) return 0;
    // The format in a block of at least 18 + cbSize bytes, zero-filled
    // beyond the chunk, as the wave layer hands it over.
    std::vector<std::uint8_t> fmtBytes(std::max<std::size_t>(length, 18));
    std::memcpy(fmtBytes.data(), bytes + 2, length);
    std::uint16_t cbSize = 0;
    std::memcpy(&cbSize, fmtBytes.data() + 16, 2);
    if (fmtBytes.size() < 18 + std::size_t{cbSize}) fmtBytes.resize(18 + std::size_t{cbSize});
    auto* fmt = reinterpret_cast<TWaveFormatEx*>(fmtBytes.data());
    const std::vector<std::uint8_t> data(bytes + 2 + length, bytes + size);

    for (int bits : {16, 8}) {
        RunBlocks(fmt, bits, data, adpcmDecode4Bit);
        // The same data as the other block format, so both decoders see
        // every input.
        const WORD tag = fmt->wFormatTag;
        fmt->wFormatTag = tag == WAVE_FORMAT_ADPCM ? WAVE_FORMAT_IMA_ADPCM : WAVE_FORMAT_ADPCM;
        RunBlocks(fmt, bits, data, adpcmDecode4Bit);
        RunBlocks(fmt, bits, data, adpcmIMADecode4Bit);
        fmt->wFormatTag = tag;
        RunBlocks(fmt, bits, data, adpcmIMADecode4Bit);
    }

    // Streaming decoders: any record, any bytes; four output bytes a byte.
    TIMA_PARAMS params{};
    std::memcpy(&params, fmtBytes.data(), std::min(sizeof params, fmtBytes.size()));
    const auto n = static_cast<std::int32_t>(data.size());
    std::vector<std::uint8_t> in(data);
    std::vector<std::uint8_t> out(data.size() * 4);
    struct Streaming {
        decltype(&WMIMATOPCM) decode;
        int channels;
    };
    for (const Streaming& s :
         {Streaming{WMIMATOPCM, 1}, {WSIMATOPCM, 2}, {WMDVITOPCM, 1}, {WSDVITOPCM, 2}}) {
        TIMA_PARAMS p = params;
        Check(s.decode(in.data(), out.data(), n, p) <= n * 4);
        // The state a decoder used comes back inside the tables.
        for (int c = 0; n > 0 && c < s.channels; ++c)
            Check(p.Channel[c].StepIndex >= 0 && p.Channel[c].StepIndex <= 88);
    }
    return 0;
}
