// Fixed-width names and the platform's published records that every service
// and the library share. Layouts match the original platform byte for byte,
// because files (BMP, AVI, WAV) and stored registry values carry them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lum::platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using FOURCC = std::uint32_t;
using HRESULT = std::int32_t;
using COLORREF = std::uint32_t;

// A four-character code, first character in the lowest byte.
constexpr FOURCC MakeFourCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<BYTE>(a)) |
           (static_cast<FOURCC>(static_cast<BYTE>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c)) << 16) |
           (static_cast<FOURCC>(static_cast<BYTE>(d)) << 24);
}
constexpr FOURCC MakeFourCC(const char (&s)[5]) {
    return MakeFourCC(s[0], s[1], s[2], s[3]);
}

struct POINT {
    LONG x = 0;
    LONG y = 0;
    friend bool operator==(const POINT&, const POINT&) = default;
};

struct SIZE {
    LONG cx = 0;
    LONG cy = 0;
    friend bool operator==(const SIZE&, const SIZE&) = default;
};

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct RGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
};

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

// Logical palette record: version 0x300, entry count, entries.
struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct BITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)

#pragma pack(push, 1)
struct WAVEFORMAT {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
};

struct PCMWAVEFORMAT {
    WAVEFORMAT wf;
    WORD wBitsPerSample;
};

struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)

// One buffer of wave audio as it travels to and from a wave device and along
// the sound chain: the platform's natural (unpacked) layout. A producer fills
// lpData and sets dwBytesRecorded; dwBufferLength is the room in lpData.
struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    std::uintptr_t dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    std::uintptr_t reserved;
};

// Flags of WAVEHDR.dwFlags.
constexpr DWORD WHDR_DONE = 0x00000001;      // the device is finished with it
constexpr DWORD WHDR_PREPARED = 0x00000002;  // prepared for the device
constexpr DWORD WHDR_BEGINLOOP = 0x00000004; // first buffer of a loop
constexpr DWORD WHDR_ENDLOOP = 0x00000008;   // last buffer of a loop
constexpr DWORD WHDR_INQUEUE = 0x00000010;   // queued at the device

// Compression codes of BITMAPINFOHEADER.
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

// Wave format tags.
constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_ADPCM = 2;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_ALAW = 6;
constexpr WORD WAVE_FORMAT_MULAW = 7;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x11;
constexpr WORD WAVE_FORMAT_GSM610 = 0x31;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x55;

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPCOREHEADER) == 12);
static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(PCMWAVEFORMAT) == 16);
// The wave header's layout on 64-bit builds, as the platform publishes it.
static_assert(sizeof(void*) != 8 ||
              (offsetof(WAVEHDR, dwBufferLength) == 8 && offsetof(WAVEHDR, dwUser) == 16 &&
               offsetof(WAVEHDR, dwFlags) == 24 && offsetof(WAVEHDR, dwLoops) == 28 &&
               offsetof(WAVEHDR, lpNext) == 32 && sizeof(WAVEHDR) == 48));

} // namespace lum::platform
