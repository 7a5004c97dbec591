// Test members for the sound chain: a byte-pattern source, a collecting
// sink, pass-through members and fake sound components, all writing what
// happens to them into one shared log.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chain/lumdspobj.h"
#include "platform/base/wintypes.h"

namespace lum::test {

using Log = std::vector<std::string>;

// The state calls a member received, as "Name.Call".
template <class Base>
class Logged : public Base {
public:
    Logged(std::string name, Log* log, TComponent* owner = nullptr)
        : Base(owner), name_(std::move(name)), log_(log) {}

    // Each call is logged on entry, before the member acts on it.
    void Opened() override { Note("Opened"), Base::Opened(); }
    void Closed() override { Note("Closed"), Base::Closed(); }
    void Started() override { Note("Started"), Base::Started(); }
    void Paused() override { Note("Paused"), Base::Paused(); }
    void Restarted() override { Note("Restarted"), Base::Restarted(); }
    void Stopped() override { Note("Stopped"), Base::Stopped(); }
    void Reseting() override { Note("Reseting"), Base::Reseting(); }
    void ChangePWaveFormat(const platform::WAVEFORMATEX* f) override {
        ++format_changes;
        Base::ChangePWaveFormat(f);
    }

    const std::string& Name() const { return name_; }
    int format_changes = 0;

protected:
    void Note(const char* what) {
        if (log_) log_->push_back(name_ + "." + what);
    }

private:
    std::string name_;
    Log* log_;
};

// A pass-through member that publishes both links.
class Member : public Logged<TLumDSPInterface> {
public:
    explicit Member(std::string name = "M", Log* log = nullptr, TComponent* owner = nullptr)
        : Logged(std::move(name), log, owner) {}
};

// A member that publishes no links and takes them only through its flags.
class Hidden : public Logged<TLumDSPComponent> {
public:
    Hidden(std::string name, Log* log, bool can_input, bool can_output)
        : Logged(std::move(name), log) {
        SetCanInput(can_input);
        SetCanOutput(can_output);
    }
};

// A sound component that publishes both links.
class Sound : public Logged<TLumCustomSoundComponent> {
public:
    explicit Sound(std::string name = "S", Log* log = nullptr, TComponent* owner = nullptr)
        : Logged(std::move(name), log, owner) {}
    std::optional<TLumDSPComponent*> PublishedPort(std::string_view name) const override {
        if (name == kInputPort) return GetInput();
        if (name == kOutputPort) return GetOutput();
        return std::nullopt;
    }
};

// Fills each buffer with the running byte counter (0, 1, ... 255, 0, ...)
// until Total bytes have gone out.
class PatternSource : public Member {
public:
    PatternSource(std::uint32_t total, Log* log = nullptr) : Member("Src", log), total_(total) {}

    void BufferLoad(platform::WAVEHDR* hdr, bool& more_buffers) override {
        Member::BufferLoad(hdr, more_buffers);
        std::uint32_t n = std::min(hdr->dwBufferLength, total_ - sent_);
        for (std::uint32_t i = 0; i < n; ++i)
            hdr->lpData[i] = static_cast<char>((sent_ + i) & 0xFF);
        sent_ += n;
        hdr->dwBytesRecorded = n;
        more_buffers = sent_ < total_;
    }

private:
    std::uint32_t total_;
    std::uint32_t sent_ = 0;
};

// Pulls buffers from its Input and keeps what arrived.
class CollectingSink : public Member {
public:
    explicit CollectingSink(Log* log = nullptr) : Member("Sink", log) {}

    // One pull of up to Size bytes; false when the chain said no more.
    bool Pull(std::uint32_t size) {
        std::vector<char> buffer(size);
        platform::WAVEHDR hdr{};
        hdr.lpData = buffer.data();
        hdr.dwBufferLength = size;
        bool more = true;
        BufferLoad(&hdr, more);
        received.insert(received.end(), buffer.begin(), buffer.begin() + hdr.dwBytesRecorded);
        return more;
    }

    std::vector<char> received;
};

// A PCM format record.
inline platform::WAVEFORMATEX Pcm(int channels, int bits, std::uint32_t rate) {
    platform::WAVEFORMATEX f{};
    f.wFormatTag = platform::WAVE_FORMAT_PCM;
    f.nChannels = static_cast<platform::WORD>(channels);
    f.wBitsPerSample = static_cast<platform::WORD>(bits);
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<platform::WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

} // namespace lum::test
