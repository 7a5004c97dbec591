// Lumavi: error reporting, the enumerations' service values, stream
// descriptions, the shared temporary file of AVICreateStream, and the unit's
// start and end (the video service runs for the life of the program).
#include "video/lumavi.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "platform/base/system.h"
#include "video/lumavi_temp.h"

namespace lum {

using namespace platform::vfw;

namespace {

// The one temporary file of AVICreateStream and its users.
TLumAVIFile* g_shared = nullptr;
int g_shared_users = 0;

void DropSharedFile() {
    if (!g_shared) return;
    std::string name = g_shared->GetFileName();
    g_shared->CloseFile();
    std::error_code ec;
    std::filesystem::remove(name, ec);
    delete g_shared;
    g_shared = nullptr;
    g_shared_users = 0;
}

TLumAVIFile& SharedFile() {
    if (!g_shared) {
        auto file = std::make_unique<TLumAVIFile>();
        file->SetAccessMode(amReadWrite);
        const std::string name = AVICreateTempFile();
        file->SetFileName(name);
        try {
            file->CreateFile();
        } catch (...) {
            std::error_code ec;
            std::filesystem::remove(name, ec);
            throw;
        }
        g_shared = file.release();
    }
    return *g_shared;
}

template <class Make>
TLumAVIStream* CreateShared(Make make) {
    TLumAVIFile& file = SharedFile();
    ++g_shared_users;
    try {
        return make(file);
    } catch (...) {
        // A stream that was not made has no user to close it.
        if (--g_shared_users == 0) DropSharedFile();
        throw;
    }
}

struct LumaviUnit {
    LumaviUnit() { AVIFileInit(); }
    ~LumaviUnit() {
        DropSharedFile();
        AVIClearClipboard();
        AVIFileExit();
    }
};
const LumaviUnit unit;

} // namespace

std::string AVICreateTempFile(int* fd) {
    std::string name = platform::GetTempPath() + "aviXXXXXX.avi";
    // The final name at once: no moment in which another can take it.
    const int made = ::mkstemps(name.data(), 4);
    if (made < 0) AVICheck(AVIERR_FILEOPEN);
    if (fd) {
        *fd = made;
    } else {
        ::close(made);
    }
    return name;
}

FOURCC AVIStreamTypeCode(TLumAVIStreamType type) {
    switch (type) {
    case stVideo:
        return streamtypeVIDEO;
    case stAudio:
        return streamtypeAUDIO;
    case stText:
        return streamtypeTEXT;
    case stMidi:
        return streamtypeMIDI;
    default:
        return 0;
    }
}

TLumAVIStreamType AVIStreamTypeOf(FOURCC code) {
    if (code == streamtypeMIDI) return stMidi;
    if (code == streamtypeVIDEO) return stVideo;
    if (code == streamtypeAUDIO) return stAudio;
    if (code == streamtypeTEXT) return stText;
    return stOther;
}

DWORD AVIAccessModeValue(TLumAccessMode mode) {
    static constexpr DWORD values[] = {OF_READ, OF_WRITE, OF_READWRITE};
    return values[mode];
}

DWORD AVIShareModeValue(TLumShareMode mode) {
    static constexpr DWORD values[] = {OF_SHARE_EXCLUSIVE, OF_SHARE_DENY_WRITE, OF_SHARE_DENY_READ,
                                       OF_SHARE_DENY_NONE};
    return values[mode];
}

LONG AVIFindFlags(TLumAVIFindDirection direction, TLumAVIFindTypes types) {
    static constexpr LONG directions[] = {FIND_FROM_START, FIND_NEXT, FIND_PREV};
    LONG flags = directions[direction];
    if (types.Contains(ftKeyFrame)) flags |= FIND_KEY;
    if (types.Contains(ftFormatChange)) flags |= FIND_FORMAT;
    if (types.Contains(ftNonEmpty)) flags |= FIND_ANY;
    return flags;
}

std::string AVIGetErrorString(HRESULT code) {
    // There is no platform message text for these codes here: the table is
    // the text.
    switch (static_cast<std::uint32_t>(code)) {
    case 0x80044065:
        return "Unsupported";
    case 0x80044066:
        return "Bad format";
    case 0x80044067:
        return "Out of memory";
    case 0x80044068:
        return "Internal error";
    case 0x80044069:
        return "Bad flags";
    case 0x8004406A:
        return "Bad parameter";
    case 0x8004406B:
        return "Bad size";
    case 0x8004406C:
        return "Bad handle";
    case 0x8004406D:
        return "Error reading file";
    case 0x8004406E:
        return "Error writing file";
    case 0x8004406F:
        return "Error opening file";
    case 0x80044070:
        return "Compressor error";
    case 0x80044071:
        return "No compressor";
    case 0x80044072:
        return "Readonly";
    case 0x80044073:
        return "No data";
    case 0x80044074:
        return "Buffer too small";
    case 0x80044075:
        return "Can't compress";
    case 0x800440C6:
        return "User abort";
    case 0x800440C7:
        return "Error";
    default:
        return "Unknown error";
    }
}

void AVICheck(HRESULT code) {
    if (code == 0) return;
    std::string text = AVIGetErrorString(code);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%8X", static_cast<unsigned>(code));
    throw ELumAVIError("AVI error (" + std::string(buf) + "): " + text);
}

HRESULT AVICheckExcl(HRESULT code, std::initializer_list<HRESULT> allowed) {
    if (code == 0) return 0;
    for (HRESULT a : allowed)
        if (a == code) return code;
    AVICheck(code);
    return code;
}

void AVINewStreamInfo(FOURCC type, TAVIStreamInfo& info) {
    info = TAVIStreamInfo{};
    info.fccType = type;
}

void AVINewVideoStreamInfo(DWORD rate, TAVIStreamInfo& info) {
    AVINewStreamInfo(streamtypeVIDEO, info);
    info.dwScale = 1;
    info.dwRate = rate;
}

void AVINewAudioStreamInfo(const TWaveFormatEx* format, TAVIStreamInfo& info) {
    if (format == nullptr) AVICheck(AVIERR_BADPARAM);
    AVINewStreamInfo(streamtypeAUDIO, info);
    info.dwScale = format->nBlockAlign;
    info.dwRate = format->nAvgBytesPerSec;
    info.dwSampleSize = format->nBlockAlign;
    info.dwStart = 0;
}

LONG AVISampleToSample(const TLumAVIStream* source, const TLumAVIStream* target, LONG position) {
    if (source == target) return position;
    return target->TimeToSamples(source->SamplesToTime(position));
}

TLumAVIStream* AVICreateStream(const TAVIStreamInfo& info) {
    return CreateShared([&](TLumAVIFile& f) { return f.CreateStream(info); });
}

TLumAVIStream* AVICreateAudioStream(const TWaveFormatEx* format) {
    return CreateShared([&](TLumAVIFile& f) { return f.CreateAudioStream(format, "Audio"); });
}

TLumAVIStream* AVICreateVideoStream(DWORD rate) {
    return CreateShared([&](TLumAVIFile& f) { return f.CreateVideoStream(rate, "Video"); });
}

void AVICloseStream(TLumAVIStream* stream) {
    if (!g_shared || g_shared_users <= 0) return;
    // Only the streams of the shared file count as its users.
    bool ours = false;
    for (int i = 0; stream && i < g_shared->GetStreamCount(); ++i)
        ours |= g_shared->GetStreams(i) == stream;
    if (!ours) return;
    if (stream->GetRefCount() > 0) stream->Release();
    if (--g_shared_users == 0) DropSharedFile();
}

} // namespace lum
