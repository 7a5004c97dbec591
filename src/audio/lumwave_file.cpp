// TLumWave: creating files, and the whole-file operations (save, convert,
// import) that write through a temporary file.
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "audio/lumpcmsup.h"
#include "audio/lumwave.h"
#include "audio/lumwave_detail.h"
#include "platform/base/messagequeue.h"
#include "platform/mmio/mmio.h"

namespace lum {

using wave_detail::BlockGuard;
using wave_detail::DiskFileSize;

namespace {

constexpr std::uint16_t kDiskFull = 148;

// Room a block needs on the disk beyond itself: the file buffer and the
// chunks written at the end.
constexpr std::int64_t kDiskReserve = 10240;

// A failure of a whole-file operation, as a message number.
struct JobFailure {
    std::uint16_t ident;
};

// A file made under a temporary name beside the target and moved over it
// in one rename when complete: the target is either the old file or the
// new one, never neither. The temporary file goes in every other case.
class TempTarget {
public:
    explicit TempTarget(std::string target) : target_(std::move(target)) {}
    ~TempTarget() {
        if (!temp_.empty()) wioFileDelete(temp_.c_str());
    }
    TempTarget(const TempTarget&) = delete;
    TempTarget& operator=(const TempTarget&) = delete;

    bool Reserve() {
        std::string name = target_;
        if (!wioFileCreateTemp(name)) return false;
        temp_ = name;
        return true;
    }
    const std::string& Temp() const { return temp_; }
    bool Commit() {
        // The temporary file was made private; the result gets the target's
        // permissions, or those a new file of the user gets.
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::perms perms = fs::status(target_, ec).permissions();
        if (ec || !fs::exists(target_)) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            perms = static_cast<fs::perms>(0666 & ~mask);
        }
        fs::permissions(temp_, perms, ec);
        fs::rename(temp_, target_, ec);
        if (ec) return false;
        temp_.clear();
        return true;
    }

private:
    std::string target_;
    std::string temp_;
};

bool DiskFullError() {
    return errno == ENOSPC || errno == EFBIG || errno == EDQUOT;
}

std::int32_t OneSecond(const TWaveFormatEx& f) {
    const std::int32_t align = std::max<std::int32_t>(f.nBlockAlign, 1);
    const auto avg = static_cast<std::int32_t>(f.nAvgBytesPerSec);
    return std::max(avg - avg % align, align);
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

} // namespace

void TLumWave::CreateFile(const std::string& name, const TWaveFormatEx* fmt) {
    if (memory_) Raise(131);
    std::string full = name;
    if (full.empty() || !wioGetFullPathName(full) || fmt == nullptr) Raise(139);
    ClearWave();
    if (wioFileExists(full.c_str()) && !wioFileDelete(full.c_str())) Raise(139);
    BlockGuard block;
    if (wioCreateFileInfo(block.cb, fmt) != WIOERR_NOERROR ||
        wioWriteFileInfo(block.cb, full.c_str()) != WIOERR_NOERROR ||
        wioSetIOBufferSize(block.cb, io_buffer_size_) != WIOERR_NOERROR)
        Raise(139);
    Adopt(block.Release());
    file_name_ = full;
    file_size_ = -1;
    open_ = true;
    writing_ = true;
    InitRegionList();
    Changed();
}

void TLumWave::OpenForAppend() {
    if (memory_) Raise(131);
    if (!cb_ || file_name_.empty()) Raise(138);
    Close(false);
    if (wioWaveOpen(cb_) != WIOERR_NOERROR) Raise(138);
    // Writes go after the data; finishing the file measures the chunks
    // again and writes the side data after them.
    const LONG end = cb_->DataOffset + cb_->DataBytes;
    if (platform::mmio::mmioSeek(cb_->FileHandle, end, SEEK_SET) != end) {
        wioWaveClose(cb_);
        Raise(138);
    }
    open_ = true;
    writing_ = true;
}

void TLumWave::WriteThroughTemp(Job job, const std::string& target, const TWaveFormatEx* fmt,
                                PWAVEIOCB info_from, std::int64_t total, const BlockReader& read) {
    const std::uint16_t failed = job == Job::Save ? 140 : job == Job::Convert ? 142 : 135;
    const std::uint16_t aborted = job == Job::Save ? 141 : job == Job::Convert ? 143 : 136;
    try {
        TempTarget temp(target);
        BlockGuard out; // closed before the temporary file goes
        auto write_failure = [&] {
            return DiskFullError() || !GetDiskFree(temp.Temp(), kDiskReserve) ? kDiskFull : failed;
        };
        if (wioCreateFileInfo(out.cb, fmt) != WIOERR_NOERROR) throw JobFailure{failed};
        if (info_from && wioCopyFileInfo(out.cb, info_from) != WIOERR_NOERROR)
            throw JobFailure{failed};
        if (!temp.Reserve()) throw JobFailure{failed};
        errno = 0;
        if (wioWriteFileInfo(out.cb, temp.Temp().c_str()) != WIOERR_NOERROR)
            throw JobFailure{write_failure()};
        wioSetIOBufferSize(out.cb, io_buffer_size_);

        std::vector<std::uint8_t> buffer;
        std::int64_t done = 0;
        for (;;) {
            std::int64_t consumed = 0;
            const std::int32_t n = read(buffer, consumed);
            if (n < 0) throw JobFailure{failed};
            if (n == 0 && consumed == 0) break;
            if (n > 0) {
                if (!GetDiskFree(temp.Temp(), n + std::int64_t{io_buffer_size_} + kDiskReserve))
                    throw JobFailure{kDiskFull};
                errno = 0;
                if (wioWaveWriteData(out.cb, buffer.data(), n) != n)
                    throw JobFailure{write_failure()};
            }
            done += consumed;
            if (platform::IsMainThread()) WinYield(nullptr);
            bool cancel = false;
            Progress(done, total, cancel);
            if (cancel) throw JobFailure{aborted};
        }
        errno = 0;
        if (wioWaveClose(out.cb) != WIOERR_NOERROR) throw JobFailure{write_failure()};
        if (!temp.Commit()) throw JobFailure{failed};
    } catch (const JobFailure& f) {
        Raise(f.ident);
    }
}

void TLumWave::SaveToFile(const std::string& name) {
    if (!cb_ || name.empty()) Raise(134);
    std::string target = name;
    wioGetFullPathName(target);
    const bool own = !memory_ && SameFile(target, file_name_);
    try {
        SetPosition(0);
        OpenFile();
        const std::int32_t block = OneSecond(cb_->Format);
        WriteThroughTemp(Job::Save, target, &cb_->Format, cb_, GetLengthBytes(),
                         [&](std::vector<std::uint8_t>& out, std::int64_t& consumed) {
                             out.resize(static_cast<std::size_t>(block));
                             const std::int32_t n = ReadRegions(out.data(), block);
                             consumed = n;
                             return n;
                         });
    } catch (const ELumWaveError& e) {
        CloseFile();
        const std::string m = e.Message();
        if (m == LoadResStr(141) || m == LoadResStr(kDiskFull)) throw;
        Raise(140);
    }
    CloseFile();
    if (own) {
        // The old description no longer fits the file under that name.
        file_size_ = -2;
        SetFileName(target);
    }
}

void TLumWave::ConvertFile(const std::string& name, const TWaveFormatEx* fmt) {
    if (!cb_ || name.empty() || fmt == nullptr) Raise(134);
    if (!pcmIsValidFormat(&cb_->Format) || !pcmIsValidFormat(fmt)) Raise(144);
    std::string target = name;
    wioGetFullPathName(target);
    const bool own = !memory_ && SameFile(target, file_name_);
    const TWaveFormatEx from = cb_->Format;
    const TWaveFormatEx to = *fmt;
    try {
        SetPosition(0);
        OpenFile();
        const std::int32_t block = OneSecond(from);
        // PCMCONVERTSIZEOUTPUTDATA scales in 64 bits; the extra frame is the
        // one PCMCONVERT may write beyond it.
        const std::int32_t room = PCMCONVERTSIZEOUTPUTDATA(&to, &from, block);
        if (room < 0) Raise(142);
        std::vector<std::uint8_t> source(static_cast<std::size_t>(block));
        const std::size_t out_size = static_cast<std::size_t>(room) + to.nBlockAlign;
        WriteThroughTemp(Job::Convert, target, &to, cb_, GetLengthBytes(),
                         [&](std::vector<std::uint8_t>& out, std::int64_t& consumed) {
                             out.resize(out_size);
                             const std::int32_t n = ReadRegions(source.data(), block);
                             consumed = n;
                             if (n <= 0) return std::int32_t{0};
                             return PCMCONVERT(&to, out.data(), &from, source.data(), n);
                         });
    } catch (const ELumWaveError& e) {
        CloseFile();
        const std::string m = e.Message();
        if (m == LoadResStr(143) || m == LoadResStr(kDiskFull)) throw;
        Raise(142);
    }
    CloseFile();
    if (own) {
        file_size_ = -2;
        SetFileName(target);
    }
}

void TLumWave::ImportFromRaw(const std::string& name, int bits, std::int32_t rate, int channels,
                             std::int32_t header_bytes, const std::string& target) {
    if (name.empty() || (bits != 8 && bits != 16) || (channels != 1 && channels != 2) ||
        rate <= 0 || header_bytes < 0)
        Raise(134);
    std::string source = name;
    wioGetFullPathName(source);
    std::string out = target;
    if (out.empty()) out = std::filesystem::path(source).replace_extension(".WAV").string();
    wioGetFullPathName(out);
    // Writing the wave over its own raw source would destroy it.
    if (SameFile(out, source)) Raise(135);
    TWaveFormatEx fmt{};
    pcmBuildWaveHeader(&fmt, bits, channels, rate);
    BlockGuard raw;
    if (wioBuildFileInfoFromRAWEx(raw.cb, source.c_str(), header_bytes, &fmt) != WIOERR_NOERROR ||
        wioWaveOpen(raw.cb) != WIOERR_NOERROR)
        Raise(135);
    const std::int32_t block = OneSecond(fmt);
    try {
        WriteThroughTemp(Job::Import, out, &fmt, nullptr, raw.cb->DataBytes,
                         [&](std::vector<std::uint8_t>& buf, std::int64_t& consumed) {
                             buf.resize(static_cast<std::size_t>(block));
                             const std::int32_t n = wioWaveReadData(raw.cb, buf.data(), block);
                             consumed = std::max(n, 0);
                             return std::max(n, 0);
                         });
    } catch (const ELumWaveError& e) {
        const std::string m = e.Message();
        if (m == LoadResStr(136) || m == LoadResStr(kDiskFull)) throw;
        Raise(135);
    }
    wioWaveClose(raw.cb);
    file_size_ = -2;
    SetFileName(out);
}

} // namespace lum
