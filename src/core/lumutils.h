// The library's shared small routines: the replaceable table of arithmetic
// and memory routines, the system flags found at start-up, registry
// persistence of values and records, global-memory blocks, time and volume
// texts, system, file and disk queries, and the stopwatches.
//
// Nothing here keeps per-object state. The shared state is the routine
// table, the system flags (set before main and read-only afterwards) and the
// two stopwatches (used from the user-interface thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "platform/registry/registry.h"

namespace lum {

// Shared enumerations of the wave and signal-processing classes, one byte
// each.
using TLumDeviceId = std::int32_t;
enum TLumBits : std::uint8_t { b8Bit, b16Bit };
enum TLumMode : std::uint8_t { mMono, mStereo };
enum TLumChannel : std::uint8_t { chBoth, chLeft, chRight };
enum TLumSampleRate : std::uint8_t { sr11025, sr22050, sr44100 };
enum TLumDecayMode : std::uint8_t { dmNone, dmStepUp, dmExponential, dmUniform };
enum TLumTimeFormats : std::uint8_t { tfMillisecond, tfByte, tfSample };
using TLumVolumeRange = std::uint16_t; // 0 .. 16384
using TLumEffectVolume = std::int16_t; // -200 .. 200
using TLumFeedBack = std::int8_t;      // -100 .. 100
enum TLumCBMode : std::uint8_t { cmWindow, cmCallback, cmThread };
enum TLumFFTWindow : std::uint8_t {
    fwRectangular,
    fwHamming,
    fwHanning,
    fwBlackman,
    fwGaussian,
    fwWelch,
    fwParzen
};

constexpr TLumVolumeRange kLumVolumeMax = 16384;

// ---------------------------------------------------------------------------
// System flags, set once before main.

extern const bool _Win95_;
extern const bool _Win98_;
extern const bool _WinNT3_;
extern const bool _WinNT4_;
extern const bool _WinNT_;
// Processor family minus 5 (0 for the fifth family and without the
// identification instruction).
extern const int _CPU_;
extern const bool _MMX_;
extern const bool _USECPUEXT_;

bool HaveWin95();
bool HaveWin98();
bool HaveWinNT();
bool HaveWinNT4();
int GetCPUType();
std::uint32_t GetCPUFeatures();
// 2 with MMX, else 1 for a processor above the fifth family, else 0.
int GetCPUMode();
std::uint64_t GetCPUCycles();

// ---------------------------------------------------------------------------
// The replaceable routine table. Callers always go through these pointers,
// so a faster implementation can be installed without touching them; it
// must give the same results as the plain one it replaces.

extern void (*SwapSmall)(std::int16_t& a, std::int16_t& b);
extern void (*SwapInt)(std::int32_t& a, std::int32_t& b);
extern void (*SwapLong)(std::int32_t& a, std::int32_t& b);
extern std::int32_t (*Min)(std::int32_t a, std::int32_t b);
extern std::int32_t (*Max)(std::int32_t a, std::int32_t b);
// Min when X is below Min, else Max when X is above Max, else X.
extern std::int32_t (*MinMax)(std::int32_t x, std::int32_t min, std::int32_t max);
// X clamped into the range spanned by A and B, whichever is larger.
extern std::int32_t (*Limit)(std::int32_t x, std::int32_t a, std::int32_t b);
extern bool (*InMinMax)(std::int32_t x, std::int32_t min, std::int32_t max);
// X within the range spanned by A and B, in either order.
extern bool (*InRange)(std::int32_t x, std::int32_t a, std::int32_t b);
// Advances P by N bytes.
extern void (*incHuge)(void*& p, std::ptrdiff_t n);
// Fills Count bytes with Value (nothing for Count <= 0).
extern void (*GlobalFillMem)(void* dest, std::int32_t count, std::uint8_t value);
// Value into Count div 4 consecutive 32-bit words, then its low byte into
// the Count mod 4 bytes left; nothing for Count <= 0.
extern void (*GlobalFillLong)(void* dest, std::int32_t count, std::uint32_t value);
// Copies Count bytes, correctly for overlapping areas; nothing for
// Count <= 0 or when the areas coincide.
extern void (*GlobalMoveMem)(const void* source, void* dest, std::int32_t count);
// True when both areas hold the same Count bytes (always for Count <= 0).
extern bool (*GlobalCmpMem)(const void* p1, const void* p2, std::int32_t count);

// Restores every pointer to its plain implementation.
void InitRoutineTable();

// 64-bit clamps and the sign.
std::int64_t Min64(std::int64_t a, std::int64_t b);
std::int64_t Max64(std::int64_t a, std::int64_t b);
std::int64_t MinMax64(std::int64_t x, std::int64_t min, std::int64_t max);
bool InMinMax64(std::int64_t x, std::int64_t min, std::int64_t max);
int Sign(std::int64_t x);

// ---------------------------------------------------------------------------
// Registry persistence. Root is a predefined root key; any other value means
// the current user's hive. Keys are opened per call and closed afterwards.

using platform::registry::HKEY;

// The variant kinds a setting can take. TVarNull is the null variant (it
// cannot be stored); std::monostate (unassigned) stores nothing.
struct TVarNull {
    friend bool operator==(TVarNull, TVarNull) = default;
};
// A currency amount as its scaled 64-bit integer (value x 10000).
struct TCurrency {
    std::int64_t Scaled = 0;
    friend bool operator==(TCurrency, TCurrency) = default;
};
// A date as days since 1899-12-30 (fraction: time of day).
struct TDateTime {
    double Value = 0;
    friend bool operator==(TDateTime, TDateTime) = default;
};
using TLumVariant =
    std::variant<std::monostate, TVarNull, std::int16_t, std::int32_t, std::uint8_t, float, double,
                 TCurrency, TDateTime, std::string, std::wstring, bool>;

// Writes Value under Root\Key (created when missing): integers and
// Booleans as 32-bit integer values, floating-point, currency and date as
// 8-byte binary values, strings as string values (wide ones in UTF-8).
// Raises EConvertError for a null Value and ERegistryException (with the
// value's name) when the key cannot be created or the write fails.
void SaveInRegistry(HKEY root, const std::string& key, const std::string& name,
                    const TLumVariant& value);
// Reads the value with the kind that Default's type selects and returns it
// as that type; Default itself when the key or the value is missing. A
// value stored with another kind (or out of the type's range) raises
// ERegistryException.
TLumVariant GetFromRegistry(HKEY root, const std::string& key, const std::string& name,
                            const TLumVariant& def);
// Writes Size bytes as a binary value; Size <= 0 does nothing.
void SaveInRegistryBinary(HKEY root, const std::string& key, const std::string& name,
                          const void* buffer, std::int32_t size);
// 0 when the key or the value is missing. With Size 0 the stored size,
// reading nothing; otherwise reads the whole value and returns its size.
// A value larger than Size, or stored as neither binary nor untyped data,
// raises ERegistryException.
std::int32_t GetFromRegistryBinary(HKEY root, const std::string& key, const std::string& name,
                                   void* buffer, std::int32_t size);

// ---------------------------------------------------------------------------
// Global memory: zero-filled blocks of the platform heap, for data handed
// to services that ask a block's size later.

// Raises EOutOfMemory when the heap refuses.
void* GlobalAllocMem(std::size_t size);
// Frees P's block (when P is not null) and sets P to null.
void GlobalFreeMem(void*& p);
// A new zero-filled block of Size bytes in place of P's; the old contents
// are not kept. When the heap refuses, EOutOfMemory is raised and P keeps
// its old block.
void GlobalReAllocMem(void*& p, std::size_t size);
// The block's size; 0 for null.
std::size_t GlobalMemSize(const void* p);

template <class T>
void GlobalFreeMem(T*& p) {
    void* v = p;
    GlobalFreeMem(v);
    p = nullptr;
}
template <class T>
void GlobalReAllocMem(T*& p, std::size_t size) {
    void* v = p;
    GlobalReAllocMem(v, size);
    p = static_cast<T*>(v);
}

// ---------------------------------------------------------------------------
// Time texts (milliseconds). From one day: "d:hh:mm:ss"; from one hour:
// "h:mm:ss"; below (negative times too): "m:ss"; WithMSec appends ".mmm".
// A negative time is its magnitude's text after one minus sign.

std::string TimeToStringEx(std::int64_t time, bool with_msec);
std::string TimeToString64Ex(std::int64_t time, bool with_msec);
std::string TimeToString(std::int64_t time);
std::string TimeToString64(std::uint32_t low, std::int32_t high, bool with_msec);
// Hours, minutes, seconds, milliseconds of a positive time; zeros else.
void TimeDecode(std::int32_t time, std::uint16_t& hour, std::uint16_t& min, std::uint16_t& sec,
                std::uint16_t& msec);
// "hhmmsssss": hours, minutes within the hour, milliseconds within the
// minute (a negative time gives the mask of 0). MaskToTime is the inverse;
// text that is not a number gives 0.
std::string TimeToMask(std::int32_t time);
std::int32_t MaskToTime(const std::string& mask);

// ---------------------------------------------------------------------------
// Volume and level texts; Volume and Scale are linear amplitudes, Scale the
// full-scale value.

std::int32_t DBToVolume(float db, std::int32_t scale);
// -110 for silence, else 20 log10(|Volume| / Scale).
float VolumeToDB(std::int32_t volume, std::int32_t scale);
// "-Inf" for silence, else the level with Digits decimals; VolumeToString
// appends " dB".
std::string VolumeToStringShort(std::int32_t volume, std::int32_t scale, std::int32_t digits);
std::string VolumeToString(std::int32_t volume, std::int32_t scale, std::int32_t digits);
// "left:right" shares of 100; Pan 0 gives "50:50".
std::string PanningToString(std::int32_t pan, std::int32_t scale);
// The channel volumes of a panned volume (rounding multiply-divide).
void CalcVolume(std::int32_t scale, std::int32_t volume, std::int32_t pan, std::int32_t& left,
                std::int32_t& right);
std::int32_t CombineVolume(std::int32_t v1, std::int32_t v2, std::int32_t scale);
// Thousands separated by points: "1.234.567".
std::string FormatBigNumber(std::int32_t n);

// ---------------------------------------------------------------------------
// System and file queries.

// Waits MSec. With ProcessMessages the main-thread queue is drained while
// waiting, and the wait ends early when the application is terminating;
// off the main thread it is a plain sleep.
void Delay(std::int32_t msec, bool process_messages);
// Runs the tasks waiting for the main thread (the window is not needed:
// the queue is the program's).
void WinYield(void* window);
// Adds (AddSlash) or removes exactly one trailing "/"; "" stays "".
std::string CheckPath(const std::string& path, bool add_slash);
// The size of the first file matching FileName (wildcards allowed; 0 for a
// folder), -1 when nothing matches.
std::int64_t GetFileSize(const std::string& file_name);
// Free (for the user) and total bytes of the volume holding Path's folder
// (the part up to the last "/"). On failure Free 0, Total 1 and false.
bool GetDiskStats(const std::string& path, std::int64_t& free, std::int64_t& total);
bool GetDiskFree(const std::string& path, std::int64_t size);
// A new, empty file in the temporary folder, named "w<number>.tmp"; empty
// when none can be created.
std::string GetTempFile();
// The name itself when the file exists (the platform has no short names),
// else empty.
std::string GetShortFileName(const std::string& file_name);
// Runs CommandLine through the shell and waits for it; false when it
// cannot be started (also when the shell cannot find the command).
bool WinExecAndWait(const std::string& command_line);

// Microseconds from the high-resolution counter.
std::int64_t TimeGetExactTime();

// Stopwatches: count, smallest, largest and total interval since Init;
// Stop returns "Time:  Min: %f Max: %f Avg: %f" divided by Divisor (values
// <= 0 count as 1).
void InitTimeMeasure();
void StartTimeMeasure();
std::string StopTimeMeasure(std::int32_t divisor);
void InitCyclesMeasure();
void StartCyclesMeasure();
std::string StopCyclesMeasure(std::int32_t divisor);

// The display: caption height plus twice the sizing frame, the menu bar
// height, and bits per pixel.
int NonClientHeight();
int MenuHeight();
int BitsPerPixel();

} // namespace lum
