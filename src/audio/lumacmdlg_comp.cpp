#include "audio/lumacmdlg_comp.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "audio/lumacmdlg.h"
#include "audio/lumacmsup.h"
#include "audio/lumwave.h"
#include "audio/lumwaveio.h"
#include "core/lumutils.h"

namespace lum {

namespace {

constexpr std::int64_t kDiskReserve = 10240;

std::string Text(std::uint16_t ident, const char* fallback) {
    std::string s = LoadResStr(ident);
    return s.empty() ? fallback : s;
}

std::string Failed(const char* call, acm::MMRESULT code) {
    return std::string(call) + " failed with error " + std::to_string(code);
}

std::vector<std::uint8_t> CopyOf(const TWaveFormatEx* f) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(f);
    std::vector<std::uint8_t> b(p, p + wioSizeOfWaveFormat(f));
    if (f->wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<TWaveFormatEx*>(b.data())->cbSize = 0;
    return b;
}

// The pieces of a conversion, released on every path.
struct Run {
    std::vector<std::uint8_t> image; // a memory source's image, read in place
    PWAVEIOCB source = nullptr;
    PWAVEIOCB target = nullptr;
    PACMConvert conv = nullptr;
    std::string temp;
    ~Run() {
        acmDoneConvert(conv);
        if (target) {
            wioWaveClose(target);
            wioFreeFileInfo(target);
        }
        if (source) {
            wioWaveClose(source);
            wioFreeFileInfo(source);
        }
        if (!temp.empty()) wioFileDelete(temp.c_str());
    }
};

// Moves Temp over Target in one step, giving it the target's permissions
// (or those of a new file of the user): the temporary file was private.
bool Replace(const std::string& temp, const std::string& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::perms perms = fs::status(target, ec).permissions();
    if (ec || !fs::exists(target)) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        perms = static_cast<fs::perms>(0666 & ~mask);
    }
    fs::permissions(temp, perms, ec);
    fs::rename(temp, target, ec);
    return !ec;
}

} // namespace

std::function<void(const std::string&)> TLumACM::ShowMessage = [](const std::string& text) {
    std::cerr << text << "\n";
};

TLumACM::TLumACM(TComponent* owner) : TLumNonVisualComponent(owner) {
    title_ = Text(20, "Select...");
    acmStartup();
    if (!acmIsPresent()) {
        if (ShowMessage)
            ShowMessage(Text(21, "The Audio Compression Manager (ACM) is not installed on this "
                                 "system. Most features of this application will not be "
                                 "available."));
        return;
    }
    const DWORD version = acmGetVersion();
    if (!acmIsUsable()) {
        std::string text = Text(22, "");
        char buffer[512];
        std::snprintf(
            buffer, sizeof buffer, text.empty() ? "ACM version %u.%.02u is too old" : text.c_str(),
            static_cast<unsigned>(version >> 24), static_cast<unsigned>((version >> 16) & 0xFF));
        if (ShowMessage) ShowMessage(buffer);
        return;
    }
    present_ = true;
    DWORD v = 0;
    if (acmMetrics(nullptr, acm::ACM_METRIC_COUNT_DRIVERS, &v) == acm::MMSYSERR_NOERROR)
        drivers_ = v;
    if (acmMetrics(nullptr, acm::ACM_METRIC_COUNT_CODECS, &v) == acm::MMSYSERR_NOERROR) codecs_ = v;
    if (acmMetrics(nullptr, acm::ACM_METRIC_COUNT_CONVERTERS, &v) == acm::MMSYSERR_NOERROR)
        converters_ = v;
    if (acmMetrics(nullptr, acm::ACM_METRIC_COUNT_FILTERS, &v) == acm::MMSYSERR_NOERROR)
        filters_ = v;
    acmMetrics(nullptr, acm::ACM_METRIC_MAX_SIZE_FORMAT, &max_format_);
    acmMetrics(nullptr, acm::ACM_METRIC_MAX_SIZE_FILTER, &max_filter_);
    format_.assign(std::max<std::size_t>(max_format_, sizeof(TWaveFormatEx)), 0);
    filter_.assign(std::max<std::size_t>(max_filter_, 32), 0);
}

TLumACM::~TLumACM() {
    SetSource(nullptr);
}

void TLumACM::SetSource(TLumCustomWaveFile* source) {
    if (source == source_) return;
    if (source_) source_->RemoveFreeNotification(this);
    source_ = source;
    if (source_) source_->FreeNotification(this);
}

void TLumACM::Notification(TComponent* component, TOperation operation) {
    TLumNonVisualComponent::Notification(component, operation);
    if (operation == opRemove && component == source_) source_ = nullptr;
}

const TWaveFormatEx* TLumACM::GetFormat() const {
    return format_.empty() ? nullptr : reinterpret_cast<const TWaveFormatEx*>(format_.data());
}

const acm::WAVEFILTER* TLumACM::GetFilter() const {
    return filter_.empty() ? nullptr : reinterpret_cast<const acm::WAVEFILTER*>(filter_.data());
}

bool TLumACM::EnumerateFormats(WORD tag) {
    if (!present_ || !acmFormatEnumA) return false;
    std::vector<std::uint8_t> buffer(format_.size(), 0);
    auto* f = reinterpret_cast<TWaveFormatEx*>(buffer.data());
    f->wFormatTag = tag;
    acm::ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = tag;
    details.pwfx = f;
    details.cbwfx = static_cast<DWORD>(buffer.size());
    DWORD flags = tag != 0 ? acm::ACM_FORMATENUMF_WFORMATTAG : 0;
    if (enum_formats_ == efInput) flags |= acm::ACM_FORMATENUMF_INPUT;
    if (enum_formats_ == efOutput) flags |= acm::ACM_FORMATENUMF_OUTPUT;
    auto callback = [](acm::HACMDRIVERID, acm::ACMFORMATDETAILSA* d, acm::DWORD_PTR self,
                       DWORD) -> platform::BOOL {
        auto* me = reinterpret_cast<TLumACM*>(self);
        bool go_on = true;
        if (me->OnFormatEnum) me->OnFormatEnum(me, d->pwfx, d->szFormat, go_on);
        return go_on ? 1 : 0;
    };
    return acmFormatEnumA(nullptr, &details, callback, reinterpret_cast<acm::DWORD_PTR>(this),
                          flags) == acm::MMSYSERR_NOERROR;
}

bool TLumACM::SuggestFormat(const TWaveFormatEx* fmt, DWORD flags) {
    if (!present_ || fmt == nullptr) return false;
    const auto size = static_cast<std::size_t>(wioSizeOfWaveFormat(fmt));
    format_.assign(std::max<std::size_t>({size, max_format_, sizeof(TWaveFormatEx)}), 0);
    auto* out = reinterpret_cast<TWaveFormatEx*>(format_.data());
    // The constraints of the flags come from the format itself.
    std::memcpy(out, fmt, size);
    if (acmFormatSuggest(nullptr, fmt, out, static_cast<DWORD>(format_.size()), flags) ==
        acm::MMSYSERR_NOERROR)
        return true;
    std::memcpy(out, fmt, size);
    return true;
}

bool TLumACM::ChooseFormat(const TWaveFormatEx* fmt, const std::string& title) {
    if (!present_ || !acmFormatChooseA) return false;
    std::vector<std::uint8_t> initial;
    if (fmt != nullptr) initial = CopyOf(fmt);
    format_.assign(std::max<std::size_t>({format_.size(), initial.size(), max_format_}), 0);
    if (!initial.empty()) std::memcpy(format_.data(), initial.data(), initial.size());
    acm::ACMFORMATCHOOSEA choose{};
    choose.cbStruct = sizeof choose;
    choose.pwfx = reinterpret_cast<TWaveFormatEx*>(format_.data());
    choose.cbwfx = static_cast<DWORD>(format_.size());
    choose.pszTitle = title.empty() ? title_.c_str() : title.c_str();
    if (!initial.empty()) {
        choose.fdwStyle = acm::ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
        auto* ref = reinterpret_cast<TWaveFormatEx*>(initial.data());
        switch (enum_formats_) {
        case efInput:
            choose.fdwEnum = acm::ACM_FORMATENUMF_INPUT;
            break;
        case efOutput:
            choose.fdwEnum = acm::ACM_FORMATENUMF_OUTPUT;
            break;
        case efConvert:
            choose.fdwEnum = acm::ACM_FORMATENUMF_CONVERT;
            break;
        case efSuggest:
            choose.fdwEnum = acm::ACM_FORMATENUMF_SUGGEST;
            break;
        case efRestrict:
            choose.fdwEnum = acm::ACM_FORMATENUMF_WFORMATTAG;
            break;
        case efAll:
            break;
        }
        if (choose.fdwEnum != 0) choose.pwfxEnum = ref;
        const acm::MMRESULT r = acmFormatChooseA(&choose);
        if (r == acm::ACMERR_CANCELED) return false;
        if (r != acm::MMSYSERR_NOERROR) throw ELumACMError(Failed("acmFormatChoose", r));
        return true;
    }
    const acm::MMRESULT r = acmFormatChooseA(&choose);
    if (r == acm::ACMERR_CANCELED) return false;
    if (r != acm::MMSYSERR_NOERROR) throw ELumACMError(Failed("acmFormatChoose", r));
    return true;
}

bool TLumACM::ChooseFilter(const acm::WAVEFILTER* filter, const std::string& title) {
    if (!present_ || filters_ == 0 || !acmFilterChooseA) return false;
    filter_.assign(std::max<std::size_t>({filter_.size(), max_filter_, 32}), 0);
    if (filter != nullptr)
        std::memcpy(filter_.data(), filter,
                    std::min<std::size_t>(filter_.size(), std::max<DWORD>(filter->cbStruct, 0)));
    acm::ACMFILTERCHOOSEA choose{};
    choose.cbStruct = sizeof choose;
    choose.pwfltr = reinterpret_cast<acm::WAVEFILTER*>(filter_.data());
    choose.cbwfltr = static_cast<DWORD>(filter_.size());
    choose.pszTitle = title.empty() ? title_.c_str() : title.c_str();
    const acm::MMRESULT r = acmFilterChooseA(&choose);
    if (r == acm::ACMERR_CANCELED) return false;
    if (r != acm::MMSYSERR_NOERROR) throw ELumACMError(Failed("acmFilterChoose", r));
    return true;
}

bool TLumACM::QueryConvert(const TWaveFormatEx* fmt, const acm::WAVEFILTER* filter) {
    if (!present_ || source_ == nullptr) return false;
    const TWaveFormatEx* from = source_->GetWave()->GetPWaveFormat();
    if (from == nullptr) return false;
    return acmQueryConvert(from, fmt != nullptr ? fmt : from, false, filter);
}

bool TLumACM::ProcessFile(const std::string& name, const TWaveFormatEx* fmt,
                          const acm::WAVEFILTER* filter) {
    if (!present_ || source_ == nullptr || name.empty()) return false;
    TLumWave* wave = source_->GetWave();
    const bool memory = wave->IsMemoryWave();
    if (wave->GetPWaveFormat() == nullptr || wave->GetDataSize() <= 0 ||
        (memory ? wave->GetImage().empty() : wave->GetFileName().empty()))
        return false;
    if (!QueryConvert(fmt, filter))
        throw ELumACMError(Text(23, "This format is not valid for conversion"));
    // Copies: the wave may change under a progress handler.
    const std::vector<std::uint8_t> to_bytes =
        CopyOf(fmt != nullptr ? fmt : wave->GetPWaveFormat());
    const auto* to = reinterpret_cast<const TWaveFormatEx*>(to_bytes.data());
    const std::string unable = Text(24, "Unable to convert wave file");
    bool cancel = false;
    {
        Run run;
        // A memory wave is read from its image; a copy, since a progress
        // handler may load another into the wave.
        int opened = WIOERR_NOERROR;
        if (memory) {
            run.image = wave->GetImage();
            opened = wioBuildFileInfoFromMem(run.source, run.image.data(),
                                             static_cast<std::int32_t>(run.image.size()));
        } else {
            opened =
                wioReadFileInfo(run.source, wave->GetFileName().c_str(), kFormWAVE, WIO_DISKFILE);
        }
        if (opened != WIOERR_NOERROR || wioWaveOpen(run.source) != WIOERR_NOERROR)
            throw ELumACMError(unable);
        const TWaveFormatEx* from = &run.source->Format;
        if (from->nBlockAlign == 0) throw ELumACMError(unable);
        std::string temp = name;
        if (wioCreateFileInfo(run.target, to) != WIOERR_NOERROR ||
            wioCopyFileInfo(run.target, run.source) != WIOERR_NOERROR || !wioFileCreateTemp(temp))
            throw ELumACMError(unable);
        run.temp = temp;
        if (wioWriteFileInfo(run.target, temp.c_str()) != WIOERR_NOERROR)
            throw ELumACMError(unable);

        // A second a block, and at least one whole source block (a byte
        // rate below the block size would otherwise convert nothing).
        const std::int32_t block = std::max<std::int32_t>(
            from->nAvgBytesPerSec - from->nAvgBytesPerSec % from->nBlockAlign, from->nBlockAlign);
        run.conv = acmBeginConvert(from, to, nullptr, false, block, filter);
        if (run.conv == nullptr || run.conv->SourceBlockSize <= 0) throw ELumACMError(unable);

        const std::int64_t total = run.source->DataBytes;
        std::int64_t done = 0, produced = 0;
        auto write = [&](std::int32_t m) {
            if (m < 0) throw ELumACMError(unable);
            if (m == 0) return;
            if (!GetDiskFree(temp, m + kDiskReserve) ||
                wioWaveWriteData(run.target, run.conv->OutputBuffer, m) != m)
                throw ELumACMError(unable);
            produced += m;
        };
        while (!cancel) {
            const std::int32_t n =
                wioWaveReadData(run.source, run.conv->SourceBuffer, run.conv->SourceBlockSize);
            if (n <= 0) break; // -1: nothing was left
            write(acmDoConvert(run.conv, n));
            done += n;
            if (wave->OnProgress) wave->OnProgress(wave, done, total, cancel);
        }
        if (cancel) throw ELumACMError(Text(25, "Conversion aborted!"));
        // What the codecs still hold, until they give nothing more.
        for (int rounds = 0;; ++rounds) {
            const std::int32_t m = acmEndConvert(run.conv, 0);
            if (rounds > 1000) throw ELumACMError(unable);
            write(m);
            if (m == 0) break;
        }
        // Data that converted to nothing is a failure, not an empty file.
        if (done > 0 && produced == 0) throw ELumACMError(unable);
        const bool closed = wioWaveClose(run.target) == WIOERR_NOERROR;
        wioFreeFileInfo(run.target);
        run.target = nullptr;
        if (!closed || !Replace(temp, name)) throw ELumACMError(unable);
        run.temp.clear();
    }
    return true;
}

bool TLumACM::ConvertFile(const std::string& name) {
    if (!present_ || converters_ == 0 || source_ == nullptr) return false;
    if (!ChooseFormat(source_->GetWave()->GetPWaveFormat(), title_)) return false;
    return ProcessFile(name, GetFormat(), nullptr);
}

bool TLumACM::FilterFile(const std::string& name) {
    if (!present_ || filters_ == 0 || source_ == nullptr) return false;
    if (!ChooseFilter(nullptr, title_)) return false;
    return ProcessFile(name, nullptr, reinterpret_cast<const acm::WAVEFILTER*>(filter_.data()));
}

bool TLumACM::CreateFile(const std::string& name) {
    if (!present_ || source_ == nullptr || name.empty()) return false;
    if (!ChooseFormat(source_->GetWave()->GetPWaveFormat(), title_)) return false;
    source_->GetWave()->CreateFile(name, GetFormat());
    return true;
}

} // namespace lum
