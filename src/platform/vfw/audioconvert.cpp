#include "platform/vfw/audioconvert.h"

namespace lum::platform::vfw {

// TO BE FILLED BY THE AUDIO COMPRESSION MANAGER MODULE. Audio whose format
// the options change needs a converter stream over acmStreamOpen and
// acmStreamConvert: Info with the new format's block size and rate,
// ReadFormat with Format, Read converting whole blocks of the source. Until
// that module exists there is no converter, and saving such a stream fails
// with "No compressor" rather than writing audio in the wrong format.
HRESULT MakeAudioConversionStream(PAVISTREAM* converted, PAVISTREAM source, const void* format,
                                  LONG size) {
    if (converted == nullptr) return AVIERR_BADPARAM;
    *converted = nullptr;
    if (source == nullptr || format == nullptr || size < 16) return AVIERR_BADPARAM;
    return AVIERR_NOCOMPRESSOR;
}

} // namespace lum::platform::vfw
