// The wave file and memory wave components: a wave in the sound chain.
#include <cstring>

#include "audio/lumwave.h"
#include "audio/lumwavehdr.h"
#include "audio/lumwavout.h"

namespace lum {

namespace {

// Room a recorded block needs on the disk beyond itself.
constexpr std::int64_t kDiskReserve = 10240;

// The byte of silence: 128 for 8-bit PCM, else 0.
std::uint8_t SilenceOf(const platform::WAVEFORMATEX* f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8 ? 128 : 0;
}

} // namespace

TLumCustomWaveFile::TLumCustomWaveFile(TComponent* owner, bool memory_wave)
    : TLumDSPComponent(owner), wave_(std::make_unique<TLumWave>(memory_wave)) {
    observer_.OnNotify = [this](TLumObserver*, TPersistent*) { WaveChanged(); };
    wave_->AddObserver(&observer_);
}

TLumCustomWaveFile::~TLumCustomWaveFile() {
    Destroying();
    try {
        if (IsOpened()) Closed();
    } catch (...) {
        // A destructor cannot report; the wave's file is closed below.
    }
    wave_->RemoveObserver(&observer_);
}

void TLumCustomWaveFile::WaveChanged() {
    if (OnChange) OnChange(this);
    // As a source the wave's format is what this member gives; a recording
    // member takes its input's.
    if (GetInput() == nullptr) {
        const TWaveFormatEx* f = wave_->GetPWaveFormat();
        if (f == nullptr) {
            SetPWaveFormat(nullptr);
        } else {
            // Copied with its extra bytes; the base keeps its own copy.
            std::vector<std::uint8_t> copy(static_cast<std::size_t>(wioSizeOfWaveFormat(f)));
            std::memcpy(copy.data(), f, copy.size());
            auto* format = reinterpret_cast<const platform::WAVEFORMATEX*>(copy.data());
            if (f->wFormatTag == WAVE_FORMAT_PCM) {
                // Plain PCM travels without extra bytes.
                platform::WAVEFORMATEX pcm = *format;
                pcm.cbSize = 0;
                SetPWaveFormat(&pcm);
            } else {
                SetPWaveFormat(format);
            }
        }
    }
    if (OnChanged) OnChanged(this);
}

bool TLumCustomWaveFile::OutputLoops() const {
    int guard = DSPComponentCount();
    for (const TLumDSPComponent* c = GetOutput(); c != nullptr && guard-- > 0; c = c->GetOutput())
        if (const auto* out = dynamic_cast<const TLumWaveOut*>(c)) return out->GetLooping();
    return false;
}

void TLumCustomWaveFile::RaiseOnMain(const TLumDSPNotifyEvent& event) {
    if (!event) return;
    GlobalSynchronize(
        [this, &event](void*) {
            event(this);
            return 0;
        },
        nullptr);
}

void TLumCustomWaveFile::Opened() {
    if (IsOpened()) return;
    const platform::WAVEFORMATEX* input_format =
        GetInput() ? GetInput()->GetPWaveFormat() : nullptr;
    if (GetInput() == nullptr) {
        wave_->OpenFile();
    } else if (input_format != nullptr && !wave_->GetFileName().empty()) {
        const TWaveFormatEx* own = wave_->GetPWaveFormat();
        if (overwrite_ || own == nullptr) {
            wave_->CreateFile(wave_->GetFileName(), input_format);
        } else {
            // Samples of another format would corrupt the file.
            if (own->wFormatTag != input_format->wFormatTag ||
                own->nChannels != input_format->nChannels ||
                own->nSamplesPerSec != input_format->nSamplesPerSec ||
                own->wBitsPerSample != input_format->wBitsPerSample ||
                own->nBlockAlign != input_format->nBlockAlign)
                throw ELumWaveError(LoadResStr(138));
            wave_->OpenForAppend();
        }
        recording_ = true;
        recorded_ = 0;
    }
    TLumDSPComponent::Opened();
    RaiseOnMain(OnOpen);
}

void TLumCustomWaveFile::Closed() {
    if (!IsOpened()) return;
    if (recording_) {
        recording_ = false;
        if (recorded_ == 0 && wave_->IsWriting()) {
            // A recorded file is never left without samples.
            std::uint8_t block[4];
            std::memset(block, SilenceOf(wave_->GetPWaveFormat()), sizeof block);
            wave_->WriteDataBytes(block, 4);
        }
    }
    wave_->CloseFile();
    TLumDSPComponent::Closed();
    RaiseOnMain(OnClose);
}

void TLumCustomWaveFile::Reseting() {
    TLumDSPComponent::Reseting();
    if (GetInput() == nullptr && wave_->IsOpen()) {
        wave_->SetPosition(0);
        wave_->ResetFile();
    }
}

void TLumCustomWaveFile::BufferLoad(platform::WAVEHDR* hdr, bool& more_buffers) {
    if (GetInput() != nullptr) {
        TLumDSPComponent::BufferLoad(hdr, more_buffers);
        return;
    }
    const auto room = static_cast<std::int32_t>(hdr->dwBufferLength);
    if (!enabled_ || !IsStarted()) {
        std::memset(hdr->lpData, SilenceOf(GetPWaveFormat()), static_cast<std::size_t>(room));
        hdr->dwBytesRecorded = static_cast<platform::DWORD>(room);
        more_buffers = true;
        TLumDSPComponent::BufferLoad(hdr, more_buffers);
        return;
    }
    std::int32_t got = 0;
    if (wave_->GetPWaveIOCB() != nullptr && room > 0)
        got = std::max(wave_->ReadDataBytes(hdr->lpData, room), 0);
    hdr->dwBytesRecorded = static_cast<platform::DWORD>(got);
    more_buffers = wave_->GetBytesLeft() > 0;
    if (!more_buffers && wave_->GetPWaveIOCB() != nullptr && OutputLoops()) {
        TLumWaveHeader* ext = LumWaveHeader(hdr);
        if (ext->LoopMarker == kLumLoopMarker) {
            if (ext->LoopCount > 0) --ext->LoopsLeft;
            if (!(ext->LoopCount > 0 && ext->LoopsLeft < 0)) {
                // The next buffer starts the wave again.
                wave_->SetPosition(0);
                wave_->ResetFile();
                if (OnLooping) OnLooping(this);
                more_buffers = true;
                ext->LoopHappened = kLumLoopMarker;
            }
        }
    }
    TLumDSPComponent::BufferLoad(hdr, more_buffers);
}

void TLumCustomWaveFile::BufferReady(platform::WAVEHDR* hdr) {
    if (recording_ && hdr->dwBytesRecorded > 0) {
        const auto n = static_cast<std::int32_t>(hdr->dwBytesRecorded);
        if (!GetDiskFree(wave_->GetFileName(),
                         n + std::int64_t{wave_->GetIOBufferSize()} + kDiskReserve)) {
            // The disk is full: keep what was recorded and record no more.
            recording_ = false;
            wave_->CloseFile();
        } else if (wave_->WriteDataBytes(hdr->lpData, n) == n) {
            recorded_ += n;
        }
    }
    TLumDSPComponent::BufferReady(hdr);
}

std::optional<TLumDSPComponent*> TLumCustomWaveFile::PublishedPort(std::string_view name) const {
    if (name == kInputPort) return GetInput();
    if (name == kOutputPort) return GetOutput();
    return std::nullopt;
}

} // namespace lum
