// The audio compression manager's interface: the records, codes and entry
// points of the platform's ACM, as the module liblumacm.so exports them
// (plain C functions named "acmGetVersion", "acmStreamOpen", ...). The
// library loads the module at run time and binds the entry points by name
// (audio/lumacm.h); nothing links against it.
//
// Records have the platform's natural layout on this machine. Texts are
// zero-terminated 8-bit strings (the "A" entry points). A window handle
// is the owning widget (a QWidget*) or null.
#pragma once

#include <cstdint>

#include "platform/base/wintypes.h"

namespace lum::platform::acm {

using MMRESULT = UINT;
using DWORD_PTR = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HWND = void*;
using HINSTANCE = void*;
using HICON = void*;

struct AcmObject; // every handle below points to one
using HACMOBJ = AcmObject*;
using HACMDRIVERID = AcmObject*;
using HACMDRIVER = AcmObject*;
using HACMSTREAM = AcmObject*;

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512; // no driver can do it
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514; // the stream header is not prepared
constexpr MMRESULT ACMERR_CANCELED = 515;   // the user cancelled a choose dialog

// acmMetrics.
constexpr UINT ACM_METRIC_COUNT_DRIVERS = 1;
constexpr UINT ACM_METRIC_COUNT_CODECS = 2;
constexpr UINT ACM_METRIC_COUNT_CONVERTERS = 3;
constexpr UINT ACM_METRIC_COUNT_FILTERS = 4;
constexpr UINT ACM_METRIC_COUNT_DISABLED = 5;
constexpr UINT ACM_METRIC_COUNT_HARDWARE = 6;
constexpr UINT ACM_METRIC_COUNT_LOCAL_DRIVERS = 20;
constexpr UINT ACM_METRIC_COUNT_LOCAL_CODECS = 21;
constexpr UINT ACM_METRIC_COUNT_LOCAL_CONVERTERS = 22;
constexpr UINT ACM_METRIC_COUNT_LOCAL_FILTERS = 23;
constexpr UINT ACM_METRIC_COUNT_LOCAL_DISABLED = 24;
constexpr UINT ACM_METRIC_HARDWARE_WAVE_INPUT = 30;
constexpr UINT ACM_METRIC_HARDWARE_WAVE_OUTPUT = 31;
constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr UINT ACM_METRIC_MAX_SIZE_FILTER = 51;
constexpr UINT ACM_METRIC_DRIVER_SUPPORT = 100;
constexpr UINT ACM_METRIC_DRIVER_PRIORITY = 101;

// Driver support flags.
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x00000001;     // one tag to another
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x00000002; // within one tag
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_FILTER = 0x00000004;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_HARDWARE = 0x00000008;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_ASYNC = 0x00000010;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_LOCAL = 0x40000000;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_DISABLED = 0x80000000;

constexpr DWORD ACM_DRIVERENUMF_NOLOCAL = 0x40000000;
constexpr DWORD ACM_DRIVERENUMF_DISABLED = 0x80000000;

// acmStreamOpen.
constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001; // only ask whether it can be done
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

// acmStreamSize.
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;      // source bytes -> at most dest bytes
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001; // dest bytes -> source bytes
constexpr DWORD ACM_STREAMSIZEF_QUERYMASK = 0x0000000F;

// acmStreamConvert.
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004; // whole source blocks only
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;      // forget the stream's history first
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;        // flush what the codec holds

// ACMSTREAMHEADER.fdwStatus.
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// acmFormatSuggest: which fields of the destination are constraints.
constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;

// acmFormatEnum: restrictions taken from the details' format.
constexpr DWORD ACM_FORMATENUMF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATENUMF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATENUMF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATENUMF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATENUMF_CONVERT = 0x00100000; // formats the given one converts to
constexpr DWORD ACM_FORMATENUMF_SUGGEST = 0x00200000; // formats suggested for the given one
constexpr DWORD ACM_FORMATENUMF_HARDWARE = 0x00400000;
constexpr DWORD ACM_FORMATENUMF_INPUT = 0x00800000;  // formats a stream can read
constexpr DWORD ACM_FORMATENUMF_OUTPUT = 0x01000000; // formats a stream can write
constexpr DWORD ACM_FORMATENUMF_TYPEMASK = 0x01FF0000;

constexpr DWORD ACM_FORMATTAGDETAILSF_INDEX = 0x00000000;
constexpr DWORD ACM_FORMATTAGDETAILSF_FORMATTAG = 0x00000001;
constexpr DWORD ACM_FORMATTAGDETAILSF_LARGESTSIZE = 0x00000002;
constexpr DWORD ACM_FORMATDETAILSF_INDEX = 0x00000000;
constexpr DWORD ACM_FORMATDETAILSF_FORMAT = 0x00000001;

constexpr DWORD ACM_FILTERTAGDETAILSF_INDEX = 0x00000000;
constexpr DWORD ACM_FILTERTAGDETAILSF_FILTERTAG = 0x00000001;
constexpr DWORD ACM_FILTERTAGDETAILSF_LARGESTSIZE = 0x00000002;
constexpr DWORD ACM_FILTERDETAILSF_INDEX = 0x00000000;
constexpr DWORD ACM_FILTERDETAILSF_FILTER = 0x00000001;
constexpr DWORD ACM_FILTERENUMF_DWFILTERTAG = 0x00010000;

// The choose dialogs.
constexpr DWORD ACMFORMATCHOOSE_STYLEF_SHOWHELP = 0x00000004;
constexpr DWORD ACMFORMATCHOOSE_STYLEF_ENABLEHOOK = 0x00000008;
constexpr DWORD ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x00000040;
constexpr DWORD ACMFILTERCHOOSE_STYLEF_INITTOFILTERSTRUCT = 0x00000040;

constexpr int ACMDRIVERDETAILS_SHORTNAME_CHARS = 32;
constexpr int ACMDRIVERDETAILS_LONGNAME_CHARS = 128;
constexpr int ACMDRIVERDETAILS_COPYRIGHT_CHARS = 80;
constexpr int ACMDRIVERDETAILS_LICENSING_CHARS = 128;
constexpr int ACMDRIVERDETAILS_FEATURES_CHARS = 512;
constexpr int ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
constexpr int ACMFORMATDETAILS_FORMAT_CHARS = 128;
constexpr int ACMFILTERTAGDETAILS_FILTERTAG_CHARS = 48;
constexpr int ACMFILTERDETAILS_FILTER_CHARS = 128;

// Filter tags and their records.
constexpr DWORD WAVE_FILTER_UNKNOWN = 0x0000;
constexpr DWORD WAVE_FILTER_VOLUME = 0x0001;

struct WAVEFILTER {
    DWORD cbStruct;    // size of the whole filter record
    DWORD dwFilterTag; // WAVE_FILTER_*
    DWORD fdwFilter;
    DWORD dwReserved[5];
};

// Volume: 0x10000 is unity.
struct VOLUMEWAVEFILTER {
    WAVEFILTER wfltr;
    DWORD dwVolume;
};

struct ACMSTREAMHEADER {
    DWORD cbStruct; // sizeof(ACMSTREAMHEADER)
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed; // set by acmStreamConvert
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed; // set by acmStreamConvert
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[15]; // the prepared lengths, kept by the module
};

struct ACMDRIVERDETAILSA {
    DWORD cbStruct;
    FOURCC fccType; // "audc"
    FOURCC fccComp;
    WORD wMid;
    WORD wPid;
    DWORD vdwACM;
    DWORD vdwDriver;
    DWORD fdwSupport;
    DWORD cFormatTags;
    DWORD cFilterTags;
    HICON hicon;
    char szShortName[ACMDRIVERDETAILS_SHORTNAME_CHARS];
    char szLongName[ACMDRIVERDETAILS_LONGNAME_CHARS];
    char szCopyright[ACMDRIVERDETAILS_COPYRIGHT_CHARS];
    char szLicensing[ACMDRIVERDETAILS_LICENSING_CHARS];
    char szFeatures[ACMDRIVERDETAILS_FEATURES_CHARS];
};

struct ACMFORMATTAGDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatTagIndex;
    DWORD dwFormatTag;
    DWORD cbFormatSize; // the largest format of the tag
    DWORD fdwSupport;
    DWORD cStandardFormats;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};

struct ACMFORMATDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatIndex;
    DWORD dwFormatTag;
    DWORD fdwSupport;
    WAVEFORMATEX* pwfx;
    DWORD cbwfx;
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
};

struct ACMFILTERTAGDETAILSA {
    DWORD cbStruct;
    DWORD dwFilterTagIndex;
    DWORD dwFilterTag;
    DWORD cbFilterSize;
    DWORD fdwSupport;
    DWORD cStandardFilters;
    char szFilterTag[ACMFILTERTAGDETAILS_FILTERTAG_CHARS];
};

struct ACMFILTERDETAILSA {
    DWORD cbStruct;
    DWORD dwFilterIndex;
    DWORD dwFilterTag;
    DWORD fdwSupport;
    WAVEFILTER* pwfltr;
    DWORD cbwfltr;
    char szFilter[ACMFILTERDETAILS_FILTER_CHARS];
};

using ACMFORMATCHOOSEHOOKPROCA = UINT (*)(HWND, UINT, LPARAM, LPARAM);
using ACMFILTERCHOOSEHOOKPROCA = UINT (*)(HWND, UINT, LPARAM, LPARAM);

struct ACMFORMATCHOOSEA {
    DWORD cbStruct;
    DWORD fdwStyle;
    HWND hwndOwner;
    WAVEFORMATEX* pwfx; // in: the initial choice (INITTOWFXSTRUCT); out: the choice
    DWORD cbwfx;
    const char* pszTitle;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
    char* pszName;
    DWORD cchName;
    DWORD fdwEnum;          // ACM_FORMATENUMF_* restrictions of the list
    WAVEFORMATEX* pwfxEnum; // the format the restrictions refer to
    HINSTANCE hInstance;
    const char* pszTemplateName;
    LPARAM lCustData;
    ACMFORMATCHOOSEHOOKPROCA pfnHook;
};

struct ACMFILTERCHOOSEA {
    DWORD cbStruct;
    DWORD fdwStyle;
    HWND hwndOwner;
    WAVEFILTER* pwfltr;
    DWORD cbwfltr;
    const char* pszTitle;
    char szFilterTag[ACMFILTERTAGDETAILS_FILTERTAG_CHARS];
    char szFilter[ACMFILTERDETAILS_FILTER_CHARS];
    char* pszName;
    DWORD cchName;
    DWORD fdwEnum;
    WAVEFILTER* pwfltrEnum;
    HINSTANCE hInstance;
    const char* pszTemplateName;
    LPARAM lCustData;
    ACMFILTERCHOOSEHOOKPROCA pfnHook;
};

using ACMDRIVERENUMCB = BOOL (*)(HACMDRIVERID, DWORD_PTR, DWORD);
using ACMFORMATTAGENUMCBA = BOOL (*)(HACMDRIVERID, ACMFORMATTAGDETAILSA*, DWORD_PTR, DWORD);
using ACMFORMATENUMCBA = BOOL (*)(HACMDRIVERID, ACMFORMATDETAILSA*, DWORD_PTR, DWORD);
using ACMFILTERTAGENUMCBA = BOOL (*)(HACMDRIVERID, ACMFILTERTAGDETAILSA*, DWORD_PTR, DWORD);
using ACMFILTERENUMCBA = BOOL (*)(HACMDRIVERID, ACMFILTERDETAILSA*, DWORD_PTR, DWORD);

// The entry points, as procedure types.
using PFN_acmGetVersion = DWORD (*)();
using PFN_acmMetrics = MMRESULT (*)(HACMOBJ, UINT, void*);
using PFN_acmDriverEnum = MMRESULT (*)(ACMDRIVERENUMCB, DWORD_PTR, DWORD);
using PFN_acmDriverDetailsA = MMRESULT (*)(HACMDRIVERID, ACMDRIVERDETAILSA*, DWORD);
using PFN_acmDriverAddA = MMRESULT (*)(HACMDRIVERID*, HINSTANCE, LPARAM, DWORD, DWORD);
using PFN_acmDriverRemove = MMRESULT (*)(HACMDRIVERID, DWORD);
using PFN_acmDriverOpen = MMRESULT (*)(HACMDRIVER*, HACMDRIVERID, DWORD);
using PFN_acmDriverClose = MMRESULT (*)(HACMDRIVER, DWORD);
using PFN_acmDriverMessage = LRESULT (*)(HACMDRIVER, UINT, LPARAM, LPARAM);
using PFN_acmDriverID = MMRESULT (*)(HACMOBJ, HACMDRIVERID*, DWORD);
using PFN_acmDriverPriority = MMRESULT (*)(HACMDRIVERID, DWORD, DWORD);
using PFN_acmFormatTagDetailsA = MMRESULT (*)(HACMDRIVER, ACMFORMATTAGDETAILSA*, DWORD);
using PFN_acmFormatTagEnumA = MMRESULT (*)(HACMDRIVER, ACMFORMATTAGDETAILSA*, ACMFORMATTAGENUMCBA,
                                           DWORD_PTR, DWORD);
using PFN_acmFormatChooseA = MMRESULT (*)(ACMFORMATCHOOSEA*);
using PFN_acmFormatDetailsA = MMRESULT (*)(HACMDRIVER, ACMFORMATDETAILSA*, DWORD);
using PFN_acmFormatEnumA = MMRESULT (*)(HACMDRIVER, ACMFORMATDETAILSA*, ACMFORMATENUMCBA, DWORD_PTR,
                                        DWORD);
using PFN_acmFormatSuggest = MMRESULT (*)(HACMDRIVER, const WAVEFORMATEX*, WAVEFORMATEX*, DWORD,
                                          DWORD);
using PFN_acmFilterTagDetailsA = MMRESULT (*)(HACMDRIVER, ACMFILTERTAGDETAILSA*, DWORD);
using PFN_acmFilterTagEnumA = MMRESULT (*)(HACMDRIVER, ACMFILTERTAGDETAILSA*, ACMFILTERTAGENUMCBA,
                                           DWORD_PTR, DWORD);
using PFN_acmFilterChooseA = MMRESULT (*)(ACMFILTERCHOOSEA*);
using PFN_acmFilterDetailsA = MMRESULT (*)(HACMDRIVER, ACMFILTERDETAILSA*, DWORD);
using PFN_acmFilterEnumA = MMRESULT (*)(HACMDRIVER, ACMFILTERDETAILSA*, ACMFILTERENUMCBA, DWORD_PTR,
                                        DWORD);
using PFN_acmStreamOpen = MMRESULT (*)(HACMSTREAM*, HACMDRIVER, const WAVEFORMATEX*,
                                       const WAVEFORMATEX*, const WAVEFILTER*, DWORD_PTR, DWORD_PTR,
                                       DWORD);
using PFN_acmStreamClose = MMRESULT (*)(HACMSTREAM, DWORD);
using PFN_acmStreamSize = MMRESULT (*)(HACMSTREAM, DWORD, DWORD*, DWORD);
using PFN_acmStreamConvert = MMRESULT (*)(HACMSTREAM, ACMSTREAMHEADER*, DWORD);
using PFN_acmStreamReset = MMRESULT (*)(HACMSTREAM, DWORD);
using PFN_acmStreamPrepareHeader = MMRESULT (*)(HACMSTREAM, ACMSTREAMHEADER*, DWORD);
using PFN_acmStreamUnprepareHeader = MMRESULT (*)(HACMSTREAM, ACMSTREAMHEADER*, DWORD);

// The version the module reports: 4.0 in the high word.
constexpr DWORD kAcmVersion = 0x04000000;

// The module's file name.
constexpr const char* kAcmModuleName = "liblumacm.so";

} // namespace lum::platform::acm
