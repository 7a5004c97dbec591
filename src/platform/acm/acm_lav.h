// libswresample set up the way the module's converters want it. Inside the
// module only.
#pragma once

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace lum::platform::acm::detail {

// A resampler from In to Out (layouts: the default order for a channel
// count when In's order is unspecified). Mono to stereo copies the channel
// to both, stereo to mono averages the two, as PCM converters do; other
// channel counts mix the way libswresample does. Null on failure.
inline SwrContext* MakeSwr(const AVChannelLayout& in, AVSampleFormat inFmt, int inRate,
                           int outChannels, AVSampleFormat outFmt, int outRate) {
    AVChannelLayout src{}, dst{};
    if (in.order == AV_CHANNEL_ORDER_UNSPEC || in.nb_channels <= 0)
        av_channel_layout_default(&src, in.nb_channels > 0 ? in.nb_channels : 1);
    else
        av_channel_layout_copy(&src, &in);
    av_channel_layout_default(&dst, outChannels);
    SwrContext* s = nullptr;
    int r = swr_alloc_set_opts2(&s, &dst, outFmt, outRate, &src, inFmt, inRate, 0, nullptr);
    if (r >= 0) {
        if (src.nb_channels == 1 && outChannels == 2) {
            const double m[2] = {1.0, 1.0};
            r = swr_set_matrix(s, m, 1);
        } else if (src.nb_channels == 2 && outChannels == 1) {
            const double m[2] = {0.5, 0.5};
            r = swr_set_matrix(s, m, 2);
        }
    }
    if (r >= 0) r = swr_init(s);
    av_channel_layout_uninit(&src);
    av_channel_layout_uninit(&dst);
    if (r < 0) swr_free(&s);
    return s;
}

// The sample format of 8- or 16-bit PCM.
inline AVSampleFormat PcmSampleFormat(int bits) {
    return bits == 8 ? AV_SAMPLE_FMT_U8 : (bits == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32);
}

} // namespace lum::platform::acm::detail
