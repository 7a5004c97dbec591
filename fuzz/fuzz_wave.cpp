// Fuzzes the wave and RIFF readers on memory images: the chunk walk of
// wioBuildFileInfoFromMem with its format checks and INFO and DISP lists,
// reading the window plainly and through the I/O buffer, positioning, and
// the RIFF readers on a first chunk of their own. The INFO and DISP values
// read must survive being written out and read again, and no read may
// deliver bytes from outside the data chunk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/lumriff.h"
#include "audio/lumwaveio.h"
#include "core/lumutils.h"
#include "platform/mmio/mmio.h"

using namespace lum;
using namespace lum::platform::mmio;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

HMMIO OpenImage(std::vector<std::uint8_t>& bytes) {
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.pchBuffer = reinterpret_cast<char*>(bytes.data());
    info.cchBuffer = static_cast<LONG>(bytes.size());
    return mmioOpen(nullptr, &info, MMIO_READ);
}

HMMIO NewImage() {
    MMIOINFO info{};
    info.fccIOProc = FOURCC_MEM;
    info.adwInfo[0] = 4096;
    return mmioOpen(nullptr, &info, MMIO_CREATE | MMIO_READWRITE);
}

std::vector<std::string> InfoValues(TInfoChunk* chunk) {
    std::vector<std::string> values;
    for (TInfoData* item = chunk ? chunk->First : nullptr; item; item = item->Next)
        values.emplace_back(RiffINFOValue(chunk, item));
    return values;
}

std::vector<std::string> TextPayloads(TDispList* list) {
    std::vector<std::string> texts;
    for (TDisp* d = list ? list->First : nullptr; d; d = d->Next) {
        const auto* p = static_cast<const char*>(RiffDISPPayload(d));
        const std::size_t size = GlobalMemSize(p);
        if (d->ClipFormat == CF_TEXT && p && size && *p) texts.emplace_back(p, strnlen(p, size));
    }
    return texts;
}

// Writes the lists out and reads them back: the same values come back.
void RoundTrip(PWAVEIOCB cb) {
    HMMIO out = NewImage();
    Check(out != nullptr);
    Check(RiffWriteDISP(out, cb->DispList) == RIFFERR_NOERROR);
    Check(RiffWriteINFO(out, cb->InfoChunk) == RIFFERR_NOERROR);
    mmioSeek(out, 0, SEEK_SET);
    TInfoChunk* info = nullptr;
    TDispList* disp = nullptr;
    Check(RiffInitINFO(info) == RIFFERR_NOERROR && RiffInitDISP(disp) == RIFFERR_NOERROR);
    MMCKINFO ck{};
    while (mmioDescend(out, &ck, nullptr, 0) == MMSYSERR_NOERROR) {
        if (ck.ckid == FOURCC_LIST)
            Check(RiffReadINFO(out, ck, info) == RIFFERR_NOERROR);
        else
            Check(RiffReadDISP(out, ck, disp) == RIFFERR_NOERROR);
        Check(mmioAscend(out, &ck, 0) == MMSYSERR_NOERROR);
    }
    Check(InfoValues(info) == InfoValues(cb->InfoChunk));
    Check(TextPayloads(disp) == TextPayloads(cb->DispList));
    RiffFreeINFO(info);
    RiffFreeDISP(disp, true);
    mmioClose(out, 0);
}

void ReadWave(const std::vector<std::uint8_t>& image, PWAVEIOCB cb) {
    Check(cb->DataBytes >= 0 && cb->DataOffset >= 0 && cb->SampleCount >= 0);
    Check(static_cast<std::size_t>(cb->DataOffset) + cb->DataBytes <= image.size());
    if (wioWaveOpen(cb) != WIOERR_NOERROR) return;
    const std::uint8_t* data = image.data() + cb->DataOffset;
    std::vector<std::uint8_t> buffer(1000);
    std::size_t total = 0;
    for (int i = 0; i < 4096; ++i) {
        const std::int32_t n = wioWaveReadData(cb, buffer.data(), 1000);
        if (n <= 0) break;
        Check(total + static_cast<std::size_t>(n) <= static_cast<std::size_t>(cb->DataBytes));
        Check(std::memcmp(buffer.data(), data + total, static_cast<std::size_t>(n)) == 0);
        total += static_cast<std::size_t>(n);
    }
    const std::int32_t middle = cb->SampleCount / 2;
    if (wioWaveSetPosition(cb, middle) == WIOERR_NOERROR) {
        Check(cb->Position >= 0 && cb->BytesLeft >= 0 && cb->BytesLeft <= cb->DataBytes);
        const std::int32_t end = std::min(wioSamplesToBytesEx(cb, cb->LastSample), cb->DataBytes);
        const std::int32_t start = end - cb->BytesLeft;
        Check(start >= 0);
        const std::int32_t n = wioWaveReadDataDirect(cb, buffer.data(), 1000);
        if (n > 0)
            Check(std::memcmp(buffer.data(), data + start, static_cast<std::size_t>(n)) == 0);
    }
    std::string name;
    wioGetFormatName(&cb->Format, name);
    wioBytesToTimeEx(cb, cb->DataBytes);
    wioSamplesToBytes64(&cb->Format, cb->SampleCount);
    wioWaveClose(cb);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    std::vector<std::uint8_t> image(data, data + size);
    PWAVEIOCB cb = nullptr;
    if (wioBuildFileInfoFromMem(cb, image.data(), static_cast<std::int32_t>(image.size())) ==
        WIOERR_NOERROR) {
        ReadWave(image, cb);
        RoundTrip(cb);
        PWAVEIOCB copy = nullptr;
        Check(wioCreateFileInfo(copy, &cb->Format) == WIOERR_NOERROR);
        Check(wioCopyFileInfo(copy, cb) == WIOERR_NOERROR);
        wioFreeFileInfo(copy);
        wioFreeFileInfo(cb);
    }
    Check(cb == nullptr);

    // The RIFF readers on a first chunk of their own.
    HMMIO h = OpenImage(image);
    MMCKINFO ck{};
    if (h != nullptr && mmioDescend(h, &ck, nullptr, 0) == MMSYSERR_NOERROR) {
        TInfoChunk* info = nullptr;
        TDispList* disp = nullptr;
        RiffInitINFO(info);
        RiffInitDISP(disp);
        if (ck.ckid == FOURCC_LIST)
            RiffReadINFO(h, ck, info);
        else
            RiffReadDISP(h, ck, disp);
        InfoValues(info);
        RiffFreeINFO(info);
        RiffFreeDISP(disp, true);
    }
    if (h) mmioClose(h, 0);
    Check(std::equal(image.begin(), image.end(), data)); // the image is only read
    return 0;
}
