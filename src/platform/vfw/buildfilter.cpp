#include "platform/vfw/buildfilter.h"

#include <cstring>
#include <string>

#include "platform/vfw/vfw.h"

namespace lum::platform::vfw {
namespace {

// The handlers of handler.h, as a user would look for their files.
struct HandlerKind {
    const char* description;
    const char* patterns;
    bool writes;
};
constexpr HandlerKind kHandlers[] = {
    {"AVI files (*.avi)", "*.avi", true},
    {"Wave files (*.wav)", "*.wav", false},
    {"AU files (*.au)", "*.au", false},
    // The containers libavformat reads for us, as their files are named.
    {"MP4, MOV, MKV, WebM and MPEG files", "*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.ts;*.m2ts;*.mpg",
     false},
};

} // namespace

HRESULT AVIBuildFilter(char* filter, LONG size, BOOL saving) {
    if (!filter || size <= 0) return AVIERR_BADPARAM;
    std::string all;
    std::string entries;
    for (const HandlerKind& h : kHandlers) {
        if (saving && !h.writes) continue;
        if (!all.empty()) all += ';';
        all += h.patterns;
        entries += std::string(h.description) + '\0' + h.patterns + '\0';
    }
    std::string list = std::string("All multimedia files") + '\0' + all + '\0' + entries +
                       "All files (*.*)" + '\0' + "*.*" + '\0' + '\0';
    if (list.size() > static_cast<std::size_t>(size)) {
        filter[0] = 0;
        return AVIERR_BUFFERTOOSMALL;
    }
    std::memcpy(filter, list.data(), list.size());
    return AVIERR_OK;
}

} // namespace lum::platform::vfw
