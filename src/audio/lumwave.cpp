// TLumWave: state, loading, the play window and streaming.
#include "audio/lumwave.h"

#include "audio/lumwave_detail.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/base/exception.h"
#include "platform/ui/uiservice.h"
#include "platform/waveout/playsound.h"
#include "video/lumdib.h"

namespace lum {

using wave_detail::BlockGuard;
using wave_detail::DiskFileSize;

namespace {

FOURCC FourCCOf(const std::string& id) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (std::size_t i = 0; i < 4 && i < id.size(); ++i)
        c[i] = id[i];
    return mmioFourCC(c[0], c[1], c[2], c[3]);
}

// "InfoChunk %s not found" with the identifier.
std::string InfoNotFound(const std::string& id) {
    std::string text = LoadResStr(132);
    if (auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, id);
    return text;
}

char* HeapString(const std::string& s) {
    auto* p = static_cast<char*>(GlobalAllocMem(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

} // namespace

void TLumFadeList::Apply(const TWaveFormatEx*, void*, std::int32_t, std::int32_t) const {
    // One level for the whole play: the data is already at that level.
}

// ---------------------------------------------------------------------------

TLumWave::TLumWave(bool memory_wave) : memory_(memory_wave) {}

TLumWave::~TLumWave() {
    OnChange = nullptr;
    OnProgress = nullptr;
    observable_.Lock();
    ClearWave();
}

void TLumWave::Raise(std::uint16_t ident) const {
    throw ELumWaveError(LoadResStr(ident));
}

std::uint8_t TLumWave::SilenceByte() const {
    const TWaveFormatEx* f = GetPWaveFormat();
    return (f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
}

// ---------------------------------------------------------------------------
// Units

const TWaveFormatEx* TLumWave::GetPWaveFormat() const {
    return cb_ ? &cb_->Format : nullptr;
}

std::int32_t TLumWave::SamplesToBytes(std::int32_t samples) const {
    return cb_ ? wioSamplesToBytes(&cb_->Format, samples) : 0;
}

std::int32_t TLumWave::BytesToSamples(std::int32_t bytes) const {
    return cb_ ? wioBytesToSamples(&cb_->Format, bytes) : 0;
}

std::int32_t TLumWave::SamplesToTimeFormat(std::int32_t samples) const {
    if (!cb_) return 0;
    switch (time_format_) {
    case tfMillisecond:
        return wioSamplesToTime(&cb_->Format, samples);
    case tfByte:
        return wioSamplesToBytes(&cb_->Format, samples);
    default:
        return samples;
    }
}

std::int32_t TLumWave::TimeFormatToSamples(std::int32_t value) const {
    if (!cb_) return 0;
    switch (time_format_) {
    case tfMillisecond:
        return wioTimeToSamples(&cb_->Format, value);
    case tfByte:
        return wioBytesToSamples(&cb_->Format, value);
    default:
        return value;
    }
}

// ---------------------------------------------------------------------------
// Loading and state

void TLumWave::Adopt(PWAVEIOCB cb) {
    cb_ = cb;
    start_ = cb->FirstSample;
    end_ = cb->LastSample;
    position_ = 0;
    bytes_left_ = cb->BytesLeft;
}

void TLumWave::SetFileName(const std::string& name) {
    std::string full = name;
    if (!full.empty()) wioGetFullPathName(full);
    if (memory_) {
        if (full.empty()) {
            FreeWave();
            return;
        }
        auto stream = platform::FileStream::Open(full, platform::FileMode::Read);
        try {
            if (!stream) Raise(130);
            LoadFromStream(*stream);
        } catch (const ELumWaveError&) {
            if (!wioIsWaveFile(full.c_str(), WIO_DISKFILE)) Raise(133);
            Raise(130);
        }
        file_name_ = full;
        return;
    }
    const std::int64_t size = full.empty() ? -1 : DiskFileSize(full);
    if (full == file_name_ && size == file_size_) return;
    if (full.empty()) {
        FreeWave();
        return;
    }
    const bool exists = wioFileExists(full.c_str());
    BlockGuard block;
    if (exists && wioReadFileInfo(block.cb, full.c_str(), kFormWAVE, WIO_DISKFILE) == 0) {
        ClearWave();
        Adopt(block.Release());
        file_name_ = full;
        file_size_ = size;
        InitRegionList();
        Changed();
        return;
    }
    if (exists || file_must_exist_) {
        if (!wioIsWaveFile(full.c_str(), WIO_DISKFILE)) Raise(133);
        Raise(130);
    }
    // A file to be made later.
    ClearWave();
    file_name_ = full;
    file_size_ = -1;
    Changed();
}

void TLumWave::LoadFromStream(platform::ByteStream& stream) {
    if (!memory_) Raise(63);
    const std::int64_t size = stream.Size();
    if (size < 0 || size >= (std::int64_t{1} << 31)) Raise(130);
    const bool busy = size > 500000;
    if (busy) platform::ui::SetAppCursor(platform::ui::AppCursor::Wait);
    std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
    const std::size_t got = image.empty() ? 0 : stream.ReadAt(0, image.data(), image.size());
    if (busy) platform::ui::SetAppCursor(platform::ui::AppCursor::Default);
    BlockGuard block;
    if (got != image.size() ||
        wioBuildFileInfoFromMem(block.cb, image.data(), static_cast<std::int32_t>(image.size())) !=
            WIOERR_NOERROR)
        Raise(130);
    ClearWave();
    image_ = std::move(image); // the block points into the moved buffer, which stays put
    Adopt(block.Release());
    InitRegionList();
    Changed();
}

void TLumWave::SaveToStream(platform::ByteStream& stream) const {
    if (!memory_ || image_.empty()) return;
    if (!stream.WriteAt(stream.Size(), image_.data(), image_.size())) Raise(130);
}

void TLumWave::SetPWaveFormat(const TWaveFormatEx* fmt) {
    if (memory_) Raise(131);
    BlockGuard block;
    if (fmt == nullptr || wioCreateFileInfo(block.cb, fmt) != WIOERR_NOERROR) Raise(134);
    SetPWaveIOCB(block.Release());
}

void TLumWave::SetPWaveIOCB(PWAVEIOCB cb) {
    if (memory_) {
        if (cb) wioFreeFileInfo(cb);
        Raise(131);
    }
    ClearWave();
    if (cb) {
        Adopt(cb);
        if ((cb->OpenFlags & WIO_RAWFILE) && cb->FileName) file_name_ = cb->FileName;
    }
    InitRegionList();
    Changed();
}

const std::uint8_t* TLumWave::GetPWaveData() const {
    if (!memory_) Raise(63);
    if (!cb_ || image_.empty()) return nullptr;
    return image_.data() + cb_->DataOffset;
}

std::string TLumWave::GetInfoChunk(const std::string& id) const {
    const FOURCC fourcc = FourCCOf(id);
    if (RiffFindaINFO(fourcc) < 0) throw ELumWaveError(InfoNotFound(id));
    if (!cb_ || !cb_->InfoChunk) return {};
    return std::string(RiffINFOValue(cb_->InfoChunk, RiffFindPIINFO(cb_->InfoChunk, fourcc)));
}

void TLumWave::SetInfoChunk(const std::string& id, const std::string& text) {
    const FOURCC fourcc = FourCCOf(id);
    if (RiffFindaINFO(fourcc) < 0) throw ELumWaveError(InfoNotFound(id));
    if (!cb_) return;
    if (!cb_->InfoChunk && RiffInitINFO(cb_->InfoChunk) != RIFFERR_NOERROR) throw EOutOfMemory();
    TInfoData* item = RiffFindPIINFO(cb_->InfoChunk, fourcc);
    if (item == nullptr) return;
    RiffModifyINFO(cb_->InfoChunk, item, RIFF_FLAG_PROGRAM, HeapString(text), 0);
    Changed();
}

void TLumWave::SetDispChunk(const std::string& text, const void* dib) {
    if (!cb_) return;
    if (!cb_->DispList && RiffInitDISP(cb_->DispList) != RIFFERR_NOERROR) throw EOutOfMemory();
    auto find = [this](DWORD format) {
        for (TDisp* d = cb_->DispList->First; d; d = d->Next)
            if (d->ClipFormat == format) return d;
        return static_cast<TDisp*>(nullptr);
    };
    auto set = [&](DWORD format, void* data, bool present) {
        if (TDisp* d = find(format)) {
            RiffModifyDISP(cb_->DispList, d, RIFF_FLAG_PROGRAM, data);
        } else if (present) {
            RiffInsertDISP(cb_->DispList, RiffCreateDISP(RIFF_FLAG_PROGRAM, format, nullptr, data));
        } else if (data) {
            GlobalFreeMem(data);
        }
    };
    set(CF_TEXT, text.empty() ? nullptr : HeapString(text), !text.empty());
    if (dib) {
        const auto* header = static_cast<const TBitmapInfoHeader*>(dib);
        const std::uint32_t size = DIB_Size(header);
        void* copy = GlobalAllocMem(size);
        std::memcpy(copy, dib, size);
        set(CF_DIB, copy, true);
    }
    Changed();
}

std::string TLumWave::GetDispText() const {
    if (!cb_ || !cb_->DispList) return {};
    for (TDisp* d = cb_->DispList->First; d; d = d->Next)
        if (d->ClipFormat == CF_TEXT)
            if (const void* p = RiffDISPPayload(d)) return static_cast<const char*>(p);
    return {};
}

void TLumWave::ClearWave() {
    // A sound this wave started may be playing from its image or file.
    if (sound_started_) StopSound();
    Close(false);
    file_name_.clear();
    file_size_ = -1;
    if (cb_) wioFreeFileInfo(cb_);
    cb_ = nullptr;
    regions_.Clear();
    start_ = end_ = position_ = 0;
    bytes_left_ = window_bytes_ = region_bytes_left_ = 0;
    region_ = 0;
    image_.clear();
    image_.shrink_to_fit();
}

void TLumWave::FreeWave() {
    if (!file_name_.empty() || cb_ || !image_.empty()) {
        ClearWave();
        Changed();
    }
}

void TLumWave::Assign(const TPersistent* source) {
    const auto* src = dynamic_cast<const TLumWave*>(source);
    if (src == nullptr) {
        TLumObject::Assign(source);
        return;
    }
    if (src == this) return;
    assigning_ = true;
    changed_while_assigning_ = false;
    try {
        file_must_exist_ = src->file_must_exist_;
        if (memory_ && src->memory_) {
            if (src->image_.empty()) {
                FreeWave();
            } else {
                auto view = platform::MemoryStream::View(std::span<const std::byte>(
                    reinterpret_cast<const std::byte*>(src->image_.data()), src->image_.size()));
                LoadFromStream(*view);
            }
        } else if (!src->file_name_.empty()) {
            SetFileName(src->file_name_);
        } else if (src->cb_ && !memory_) {
            SetPWaveFormat(&src->cb_->Format);
        } else {
            FreeWave();
        }
        time_format_ = src->time_format_;
        io_buffer_size_ = src->io_buffer_size_;
        cut_list_ = src->cut_list_;
        if (cb_) {
            start_ = std::clamp(src->start_, 0, std::max(cb_->SampleCount, 0));
            end_ = std::clamp(src->end_, start_, std::max(cb_->SampleCount, 0));
        }
        InitRegionList();
        position_ = src->position_;
        if (open_) SetPosition(SamplesToTimeFormat(position_));
        changed_while_assigning_ = true;
    } catch (...) {
        assigning_ = false;
        throw;
    }
    assigning_ = false;
    if (changed_while_assigning_) Changed();
}

void TLumWave::Changed() {
    if (assigning_) {
        changed_while_assigning_ = true;
        return;
    }
    TLumObject::Changed();
    observable_.NotifyObservers(this);
}

void TLumWave::Progress(std::int64_t current, std::int64_t total, bool& cancel) {
    if (OnProgress) OnProgress(this, current, total, cancel);
}

// ---------------------------------------------------------------------------
// Properties

void TLumWave::SetTimeFormat(TLumTimeFormats f) {
    if (f != time_format_) {
        time_format_ = f;
        Changed();
    }
}

void TLumWave::SetIOBufSize(std::int32_t n) {
    n = std::max<std::int32_t>(n, 8192);
    io_buffer_size_ = n;
    if (open_ && cb_ && wioSetIOBufferSize(cb_, n) != WIOERR_NOERROR) Raise(137);
}

int TLumWave::GetBitLength() const {
    return cb_ ? cb_->Format.wBitsPerSample : 0;
}

TLumMode TLumWave::GetMode() const {
    return cb_ && cb_->Format.nChannels == 2 ? mStereo : mMono;
}

int TLumWave::GetFormatTag() const {
    return cb_ ? cb_->Format.wFormatTag : 0;
}

std::string TLumWave::GetFormatString() const {
    std::string text;
    wioGetFormatName(GetPWaveFormat(), text);
    return text;
}

std::int32_t TLumWave::GetSampleRate() const {
    return cb_ ? static_cast<std::int32_t>(cb_->Format.nSamplesPerSec) : 11025;
}

std::int64_t TLumWave::GetFileSize() const {
    return cb_ ? static_cast<std::int64_t>(cb_->FileSize) : 0;
}

std::int32_t TLumWave::GetDataSize() const {
    return cb_ ? SamplesToTimeFormat(cb_->SampleCount) : 0;
}

void TLumWave::SetIgnoreFades(bool v) {
    if (open_) throw ELumWaveError("Change to property while file was open");
    ignore_fades_ = v;
}

// ---------------------------------------------------------------------------
// The play window

void TLumWave::SetCutList(TLumCutList* list) {
    cut_list_ = list;
    InitRegionList();
    Changed();
}

void TLumWave::AddRegion(std::int32_t start, std::int32_t length) {
    TLumCutRegion r{};
    r.Start = start;
    r.StartBytes = static_cast<std::uint32_t>(SamplesToBytes(start));
    r.Length = length;
    r.LengthBytes = static_cast<std::uint32_t>(SamplesToBytes(length));
    r.Tag = 0;
    regions_.Add(r);
}

void TLumWave::InitRegionList() {
    regions_.Clear();
    window_bytes_ = 0;
    if (!GetPWaveFormat()) return;
    if (cut_list_ == nullptr || cut_list_->GetCount() == 0) {
        AddRegion(start_, std::max(end_ - start_, 0));
    } else {
        // The walk needs the cuts in order; a list filled by Add need not be.
        std::vector<TLumCutRegion> cuts;
        for (int i = 0; i < cut_list_->GetCount(); ++i)
            cuts.push_back(cut_list_->Get(i));
        std::stable_sort(cuts.begin(), cuts.end(),
                         [](const auto& a, const auto& b) { return a.Start < b.Start; });
        auto cut_end = [](const TLumCutRegion& c) {
            return static_cast<std::int64_t>(c.Start) + std::max(c.Length, 0);
        };
        std::int64_t cur = start_;
        std::size_t i = 0;
        while (i < cuts.size() && cut_end(cuts[i]) <= cur)
            ++i;
        if (i < cuts.size() && cuts[i].Start <= cur) cur = cut_end(cuts[i++]);
        while (cur < end_) {
            const std::int64_t stop = i < cuts.size() ? std::min<std::int64_t>(cuts[i].Start, end_)
                                                      : static_cast<std::int64_t>(end_);
            if (stop - cur > 0)
                AddRegion(static_cast<std::int32_t>(cur), static_cast<std::int32_t>(stop - cur));
            if (i >= cuts.size()) break;
            cur = std::max(cur, cut_end(cuts[i++]));
        }
        if (regions_.GetCount() == 0)
            AddRegion(static_cast<std::int32_t>(std::min<std::int64_t>(cur, end_)), 0);
    }
    for (int i = 0; i < regions_.GetCount(); ++i)
        window_bytes_ += static_cast<std::int32_t>(regions_.Get(i).LengthBytes);
    if (open_) SetPosition(SamplesToTimeFormat(position_));
}

std::int32_t TLumWave::GetLengthSamples() const {
    if (regions_.GetCount() == 0) return end_ - start_;
    std::int64_t sum = 0;
    for (int i = 0; i < regions_.GetCount(); ++i)
        sum += regions_.Get(i).Length;
    return static_cast<std::int32_t>(sum);
}

std::int32_t TLumWave::GetLengthBytes() const {
    return regions_.GetCount() == 0 ? SamplesToBytes(GetLengthSamples()) : window_bytes_;
}

void TLumWave::Seek(std::int32_t sample) {
    if (wioWaveSetPosition(cb_, sample) != WIOERR_NOERROR &&
        wioWaveSetPosition(cb_, sample) != WIOERR_NOERROR)
        Raise(147);
}

void TLumWave::SetPosition(std::int32_t p) {
    position_ = TimeFormatToSamples(p);
    if (!open_ || !cb_) return;
    const std::int32_t length = GetLengthSamples();
    position_ = std::clamp(position_, 0, std::max(length, 0));
    bytes_left_ = std::max(GetLengthBytes() - SamplesToBytes(position_), 0);
    const int count = regions_.GetCount();
    if (count == 0) Raise(147);
    // The region holding the position; the end of the window lies at the
    // end of the last region.
    std::int64_t before = 0;
    int i = 0;
    for (; i < count; ++i) {
        const std::int32_t len = regions_.Get(i).Length;
        if (before + len > position_ || i == count - 1) break;
        before += len;
    }
    const TLumCutRegion& r = regions_.Get(i);
    const auto offset = static_cast<std::int32_t>(position_ - before);
    if (offset > r.Length) Raise(147);
    region_ = i;
    region_bytes_left_ =
        std::max(static_cast<std::int32_t>(r.LengthBytes) - SamplesToBytes(offset), 0);
    Seek(r.Start + offset);
}

std::int32_t TLumWave::GetPosition() const {
    return cb_ ? SamplesToTimeFormat(position_) : -1;
}

void TLumWave::SetStartPos(std::int32_t p) {
    if (!cb_) return;
    start_ = std::clamp(TimeFormatToSamples(p), 0, std::max(end_, 0));
    InitRegionList();
}

std::int32_t TLumWave::GetStartPos() const {
    return cb_ ? SamplesToTimeFormat(start_) : -1;
}

void TLumWave::SetEndPos(std::int32_t p) {
    if (!cb_) return;
    end_ = std::clamp(TimeFormatToSamples(p), start_, std::max(cb_->SampleCount, start_));
    InitRegionList();
}

std::int32_t TLumWave::GetEndPos() const {
    return cb_ ? SamplesToTimeFormat(end_) : -1;
}

// ---------------------------------------------------------------------------
// Streaming

void TLumWave::OpenFile() {
    if (!cb_) return;
    if (!open_) {
        if (wioWaveOpen(cb_) != WIOERR_NOERROR) Raise(138);
        if (wioSetIOBufferSize(cb_, io_buffer_size_) != WIOERR_NOERROR) {
            wioWaveClose(cb_);
            Raise(137);
        }
    }
    InitRegionList();
    InitPlayFadeList();
    open_ = true;
    SetPosition(SamplesToTimeFormat(position_));
}

void TLumWave::CloseFile() {
    Close(true);
}

void TLumWave::Close(bool reload) {
    if (cb_) wioWaveClose(cb_);
    open_ = false;
    position_ = 0;
    bytes_left_ = 0;
    region_bytes_left_ = 0;
    if (!std::exchange(writing_, false) || !reload || file_name_.empty()) return;
    // The written file is finished: describe it as it now is on disk.
    BlockGuard block;
    if (wioReadFileInfo(block.cb, file_name_.c_str(), kFormWAVE, WIO_DISKFILE) != WIOERR_NOERROR)
        return;
    wioFreeFileInfo(cb_);
    Adopt(block.Release());
    file_size_ = DiskFileSize(file_name_);
    InitRegionList();
    Changed();
}

void TLumWave::InitPlayFadeList() {
    if (!fades_) fades_ = std::make_unique<TLumFadeList>();
    fades_->Clear();
}

std::int32_t TLumWave::ReadInternal(void* buffer, std::int32_t n) {
    return wioWaveReadData(cb_, buffer, n);
}

std::int32_t TLumWave::ReadRegions(void* buffer, std::int32_t n) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::int32_t want = std::min(n, bytes_left_);
    std::int32_t total = 0;
    while (total < want) {
        if (region_bytes_left_ <= 0) {
            if (region_ + 1 >= regions_.GetCount()) {
                bytes_left_ = 0;
                break;
            }
            ++region_;
            const TLumCutRegion& r = regions_.Get(region_);
            region_bytes_left_ = static_cast<std::int32_t>(r.LengthBytes);
            Seek(r.Start);
            continue;
        }
        const std::int32_t got =
            ReadInternal(out + total, std::min(want - total, region_bytes_left_));
        if (got <= 0) break;
        total += got;
        region_bytes_left_ -= got;
    }
    if (total > 0) {
        const TWaveFormatEx* f = GetPWaveFormat();
        if (fades_ && fades_->GetCount() > 1 && !ignore_fades_ && f->wFormatTag == WAVE_FORMAT_PCM)
            fades_->Apply(f, buffer, total, position_);
        bytes_left_ = std::max(bytes_left_ - total, 0);
        position_ = BytesToSamples(GetLengthBytes() - bytes_left_);
    }
    return total;
}

std::int32_t TLumWave::ReadData(void* buffer, std::int32_t n) {
    if (!cb_ || !open_ || bytes_left_ <= 0 || n <= 0 || buffer == nullptr) return -1;
    const std::int32_t got = ReadRegions(buffer, n);
    if (got > 0) return got;
    // Bytes were expected and none came (the file got shorter, or a read
    // failed): one answer of silence, never more than the caller's buffer,
    // and the play is over.
    const std::int32_t k = std::min<std::int32_t>(n, 4);
    std::memset(buffer, SilenceByte(), static_cast<std::size_t>(k));
    bytes_left_ = 0;
    region_bytes_left_ = 0;
    position_ = GetLengthSamples();
    return k;
}

std::int32_t TLumWave::ReadDataSamples(void* buffer, std::int32_t samples) {
    const std::int32_t n = ReadDataBytes(buffer, SamplesToBytes(samples));
    return n < 0 ? n : BytesToSamples(n);
}

std::int32_t TLumWave::WriteData(const void* buffer, std::int32_t n) {
    if (memory_) Raise(131);
    if (!cb_) return -1;
    return wioWaveWriteData(cb_, buffer, n);
}

std::int32_t TLumWave::WriteDataSamples(const void* buffer, std::int32_t samples) {
    if (memory_) Raise(131);
    if (!cb_) return -1;
    return wioWaveWriteSamples(cb_, buffer, samples);
}

// ---------------------------------------------------------------------------
// Playing

bool TLumWave::PlaySound(TLumPlayMode mode) {
    if (!cb_) return false;
    namespace wo = platform::waveout;
    DWORD flags = wo::SND_NODEFAULT;
    if (mode == pmAsync) flags |= wo::SND_ASYNC;
    if (mode == pmLoop) flags |= wo::SND_ASYNC | wo::SND_LOOP;
    sound_started_ = true;
    if (memory_) {
        if (image_.empty()) return false;
        return wo::PlaySound(reinterpret_cast<const char*>(image_.data()), nullptr,
                             flags | wo::SND_MEMORY) != 0;
    }
    if (file_name_.empty()) return false;
    return wo::PlaySound(file_name_.c_str(), nullptr, flags | wo::SND_FILENAME) != 0;
}

void TLumWave::StopSound() {
    platform::waveout::PlaySound(nullptr, nullptr, 0);
    sound_started_ = false;
}

} // namespace lum
