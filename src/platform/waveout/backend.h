// Inside the wave output service: what a device backend (ALSA, the virtual
// device) provides to the device core in device.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/waveout/waveout.h"

namespace lum::platform::waveout::detail {

// One open output stream: a sink of whole frames with a buffer of its own,
// whose play position the backend knows. The device core calls it under
// its lock only, from any thread.
class Stream {
public:
    virtual ~Stream() = default;
    // Frames the stream can take now without waiting.
    virtual std::int64_t Avail() = 0;
    // Takes up to Frames frames (at most Avail()); the number taken, or -1
    // when the device failed.
    virtual std::int64_t Write(const char* data, std::int64_t frames) = 0;
    // Nothing more is written for now: play what the buffer holds even when
    // it is below the point where playing would start by itself.
    virtual void Kick() {}
    // Frames played since open or the last Drop; never decreases between.
    virtual std::int64_t Played() = 0;
    // Frames written since open or the last Drop.
    virtual std::int64_t Written() const = 0;
    // Stops playing. True when the buffered frames are kept for Resume;
    // false when they were thrown away (Written() then equals Played()).
    virtual bool Pause() = 0;
    virtual void Resume() = 0;
    // Throws away what is buffered; Played and Written start again at 0.
    virtual void Drop() = 0;
    // The buffer's size in frames.
    virtual std::int64_t BufferFrames() const = 0;
    virtual std::uint32_t Underruns() const = 0;
    // Where the sample counter starts and at what it wraps (0: 2^32).
    virtual std::uint64_t CounterModulus() const { return 0; }
    virtual DWORD CounterStart() const { return 0; }
};

// A device of the list.
class Backend {
public:
    virtual ~Backend() = default;
    virtual void Caps(WAVEOUTCAPS& caps) = 0;
    // MMSYSERR_NOERROR when the device plays the format.
    virtual MMRESULT Query(const WAVEFORMATEX& format) = 0;
    virtual MMRESULT Open(const WAVEFORMATEX& format, std::unique_ptr<Stream>& stream) = 0;
};

std::unique_ptr<Backend> MakeVirtualBackend();
// Name is an ALSA PCM name; Description what the device list shows.
std::unique_ptr<Backend> MakeAlsaBackend(const std::string& name, const std::string& description);

// ALSA's view of the machine for the device list.
struct AlsaScan {
    std::string default_name; // the PCM taken as device 0
    bool default_usable = false;
    std::string problem; // why the default could not be opened
    struct Pcm {
        std::string name;
        std::string description;
    };
    std::vector<Pcm> others; // further playback PCMs ALSA lists
};
AlsaScan ScanAlsa();

// Formats the service plays: PCM of 8, 16, 24 or 32 bits, or 32-bit float,
// 1 to 8 channels, 1000 to 768000 frames a second, with a consistent block
// alignment.
bool PlayableFormat(const WAVEFORMATEX& format);
// The standard format bits a backend's answer gives for the usual formats.
DWORD StandardFormatBits(Backend& backend);

} // namespace lum::platform::waveout::detail
