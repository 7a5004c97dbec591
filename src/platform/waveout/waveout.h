// Wave output devices: the platform's waveOut calls over ALSA and over a
// virtual device that plays on its own clock.
//
// Devices: when ALSA's default PCM (or the one LUM_ALSA_DEVICE names) can
// be opened it is device 0, followed by the other PCMs ALSA lists and the
// virtual device "Virtual output"; without a usable ALSA default the
// virtual device is device 0 and ALSA's other PCMs follow. The mapper
// (WAVE_MAPPER) takes the first device, in that order, that plays the
// format. The virtual device consumes audio at the format's real rate and,
// when LUM_WAVEOUT_CAPTURE names a file, writes what it played into it as a
// WAV file (each open starts the file anew).
//
// A buffer's life: prepared (waveOutPrepareHeader) → queued (waveOutWrite,
// WHDR_INQUEUE) → done (WHDR_DONE, the device played all of it, or it was
// returned by waveOutReset) → unprepared. Done notifications come in queue
// order, one per buffer, on the device's own thread, which holds no lock
// while a callback runs: a callback may write buffers and read the position
// of its device, but must not close it. WOM_OPEN comes first and WOM_CLOSE
// last; after waveOutClose returns no notification follows.
//
// Callbacks: CALLBACK_FUNCTION calls the function on the device's thread;
// CALLBACK_WINDOW posts the message to a hidden window of the main-thread
// queue (wparam the device, lparam the header). Only PCM (8, 16, 24, 32
// bits, and 32-bit float) is played; compressed formats are converted
// upstream.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/base/messagequeue.h"
#include "platform/base/wintypes.h"

namespace lum::platform::waveout {

using MMRESULT = UINT;
using DWORD_PTR = std::uintptr_t;
using HWAVEOUT = struct HWAVEOUT__*;
using LPWAVEHDR = WAVEHDR*;
using WaveOutProc = void (*)(HWAVEOUT hwo, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2);

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;

constexpr UINT WAVE_MAPPER = ~UINT{0};

// Callbacks run on an ordinary thread of the device, never at interrupt
// time, so they may do real work (load the next buffer).
constexpr bool kCallbacksAtInterruptTime = false;

// waveOutOpen flags.
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_ALLOWSYNC = 0x0002;
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;

// Notifications.
constexpr UINT WOM_OPEN = 0x3BB;  // 955
constexpr UINT WOM_CLOSE = 0x3BC; // 956
constexpr UINT WOM_DONE = 0x3BD;  // 957

// The standard format bits of WAVEOUTCAPS.dwFormats: rate band 1 (11025),
// 2 (22050), 4 (44100) × mono/stereo × 8/16 bits.
constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;

// WAVEOUTCAPS.dwSupport.
constexpr DWORD WAVECAPS_VOLUME = 0x0004;
constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;
constexpr DWORD WAVECAPS_SAMPLEACCURATE = 0x0020;

// Long enough for ALSA's descriptions, which the platform's 32 would cut.
constexpr std::size_t MAXPNAMELEN = 128;

struct WAVEOUTCAPS {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion; // major in the high byte, minor in the low byte
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
};

// MMTIME.wType.
constexpr UINT TIME_MS = 0x0001;
constexpr UINT TIME_SAMPLES = 0x0002;
constexpr UINT TIME_BYTES = 0x0004;
constexpr UINT TIME_SMPTE = 0x0008;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
    } u;
};

// The done flag crosses threads: the device sets it, a waiting player polls
// it. These read and change dwFlags atomically.
inline DWORD HeaderFlags(const WAVEHDR* hdr) {
    return std::atomic_ref<DWORD>(const_cast<WAVEHDR*>(hdr)->dwFlags).load();
}
inline bool HeaderDone(const WAVEHDR* hdr) {
    return (HeaderFlags(hdr) & WHDR_DONE) != 0;
}
inline void SetHeaderFlags(WAVEHDR* hdr, DWORD set, DWORD clear) {
    std::atomic_ref<DWORD> flags(hdr->dwFlags);
    DWORD old = flags.load();
    while (!flags.compare_exchange_weak(old, (old & ~clear) | set)) {
    }
}

UINT waveOutGetNumDevs();
// Capabilities of a device or of the mapper (WAVE_MAPPER).
MMRESULT waveOutGetDevCaps(UINT device_id, WAVEOUTCAPS* caps, UINT size);
// Opens Device (or the mapper) for Format. With WAVE_FORMAT_QUERY only asks
// whether the device plays it (Hwo may be null; nothing is opened and no
// notification comes). Callback and Instance by CALLBACK_* in Flags.
MMRESULT waveOutOpen(HWAVEOUT* hwo, UINT device_id, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
// WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveOutClose(HWAVEOUT hwo);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, UINT size);
// WAVERR_STILLPLAYING while the buffer is queued.
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* hdr, UINT size);
// Queues a prepared buffer (WAVERR_UNPREPARED otherwise). Whole frames of
// dwBufferLength are played; a trailing part frame is skipped.
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* hdr, UINT size);
// Pausing keeps the queue and the position; restart plays on from there.
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutRestart(HWAVEOUT hwo);
// Stops, marks every queued buffer done (their notifications follow in
// order) and sets the position to 0. A paused device stays paused.
MMRESULT waveOutReset(HWAVEOUT hwo);
// The position since open or the last reset, in samples (the default), bytes
// or milliseconds; other types are answered in bytes. Counters are 32 bits
// wide and wrap.
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* time, UINT size);
// Volume: left channel in the low word, right in the high word, 0xFFFF full.
// Applied to the samples, on every device.
MMRESULT waveOutGetVolume(HWAVEOUT hwo, DWORD* volume);
MMRESULT waveOutSetVolume(HWAVEOUT hwo, DWORD volume);
// The text of a result code; MMSYSERR_BADERRNUM when the code has none.
MMRESULT waveOutGetErrorText(MMRESULT error, char* text, UINT size);
MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* device_id);

// ---------------------------------------------------------------------------
// Beyond the platform's calls

// Reads the device list again (after LUM_ALSA_DEVICE changed, or a card
// came or went). Ids of the old list no longer hold; open devices keep
// playing.
void waveOutRescanDevices();
// The id of the virtual device, and whether ALSA offered a usable default
// (when not, the mapper plays on the virtual device). AlsaProblem says why
// not, as ALSA put it.
UINT waveOutVirtualDevice();
bool waveOutAlsaUsable();
const char* waveOutAlsaProblem();
// How often the device ran dry and then got more data (a gap in the sound).
MMRESULT waveOutGetUnderruns(HWAVEOUT hwo, DWORD* count);

// Tests: the virtual device's sample counter starts at Start and wraps at
// Modulus (a power of two; 0 means 2^32) for devices opened from now on.
void waveOutSetVirtualCounter(std::uint64_t modulus, DWORD start);

} // namespace lum::platform::waveout
