#include "audio/lumriff.h"

#include <algorithm>
#include <cstring>

#include "audio/audioheap.h"
#include "video/lumdib.h"

namespace lum {

using namespace platform::mmio;
using audio_detail::HeapAlloc;
using audio_detail::HeapFree;
using audio_detail::HeapSize;
using audio_detail::HeapString;

const TINFO aINFO[kINFOCount + 1] = {
    {"IARL", "Archival Location", "Indicates where the subject of the file is archived."},
    {"IART", "Artist",
     "Lists the artist of the original subject of the file. For example, \"Michaelangelo.\""},
    {"ICMS", "Commissioned",
     "Lists the name of the person or organization that commissioned the subject of the file. "
     "For example, \"Pope Julian II.\""},
    {"ICMT", "Comments",
     "Provides general comments about the file or the subject of the file. If the comment is "
     "several sentences long, end each sentence with a period. Do not include newline "
     "characters."},
    {"ICOP", "Copyright",
     "Records the copyright information for the file. For example, \"Copyright Encyclopedia "
     "International 1991.\" If there are multiple copyrights, separate them by a semicolon "
     "followed by a space."},
    {"ICRD", "Creation date",
     "Specifies the date the subject of the file was created. List dates in year-month-day "
     "format, padding one-digit months and days with a zero on the left. For example, "
     "\"1553-05-03\" for May 3, 1553."},
    {"ICRP", "Cropped",
     "Describes whether an image has been cropped and, if so, how it was cropped. For example, "
     "\"lower right corner.\""},
    {"IDIM", "Dimensions",
     "Specifies the size of the original subject of the file. For example, \"8.5 in h, 11 in "
     "w.\""},
    {"IDPI", "Dots Per Inch",
     "Stores dots per inch setting of the digitizer used to produce the file, such as "
     "\"300.\""},
    {"IENG", "Engineer",
     "Stores the name of the engineer who worked on the file. If there are multiple engineers, "
     "separate the names by a semicolon and a blank. For example, \"Smith, John; Adams, Joe.\""},
    {"IGNR", "Genre",
     "Describes the original work, such as, \"landscape,\" \"portrait,\" \"still life,\" etc."},
    {"IKEY", "Keywords",
     "Provides a list of keywords that refer to the file or subject of the file. Separate "
     "multiple keywords with a semicolon and a blank. For example, \"Seattle; aerial view; "
     "scenery.\""},
    {"ILGT", "Lightness",
     "Describes the changes in lightness settings on the digitizer required to produce the "
     "file. Note that the format of this information depends on hardware used."},
    {"IMED", "Medium",
     "Describes the original subject of the file, such as, \"computer image,\" \"drawing,\" "
     "\"lithograph,\" and so forth."},
    {"INAM", "Name",
     "Stores the title of the subject of the file, such as, \"Seattle From Above.\""},
    {"IPLT", "Palette Setting",
     "Specifies the number of colors requested when digitizing an image, such as \"256.\""},
    {"IPRD", "Product",
     "Specifies the name of the title the file was originally intended for, such as "
     "\"Encyclopedia of Pacific Northwest Geography.\""},
    {"ISBJ", "Subject", "Describes the contents of the file, such as \"Aerial view of Seattle.\""},
    {"ISFT", "Software",
     "Identifies the name of the software package used to create the file, such as "
     "\"Microsoft WaveEdit.\""},
    {"ISHP", "Sharpness",
     "Identifies the changes in sharpness for the digitizer required to produce the file (the "
     "format depends on the hardware used)."},
    {"ISRC", "Source",
     "Identifies the name of the person or organization who supplied the original subject of "
     "the file. For example, \"Trey Research.\""},
    {"ISRF", "Source Form",
     "Identifies the original form of the material that was digitized, such as \"slide,\" "
     "\"paper,\" \"map\" and so forth. This is not necessarily the same as IMED."},
    {"ITCH", "Technician",
     "Identifies the technician who digitized the subject file. For example, \"Smith, John.\""},
    {"", "", ""},
};

namespace {

constexpr FOURCC kINFO = platform::MakeFourCC("INFO");
constexpr FOURCC kDISP = platform::MakeFourCC("DISP");
constexpr LONG kCopyBlock = 64 * 1024;

DWORD GetLE32(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) |
           (static_cast<DWORD>(b[2]) << 16) | (static_cast<DWORD>(b[3]) << 24);
}

FOURCC TableId(int index) {
    return mmioStringToFOURCC(aINFO[index].Id, 0);
}

// Bytes from the position to the end of the file; the position is kept.
std::int64_t BytesToEnd(HMMIO file) {
    const LONG here = mmioSeek(file, 0, SEEK_CUR);
    if (here < 0) return 0;
    const LONG end = mmioSeek(file, 0, SEEK_END);
    mmioSeek(file, here, SEEK_SET);
    return end < here ? 0 : static_cast<std::int64_t>(end) - here;
}

// Moves Count bytes from Src to Dst through one fixed buffer, so that a
// size field never decides how much memory is taken.
bool CopyBytes(HMMIO src, HMMIO dst, std::int64_t count) {
    if (count <= 0) return count == 0;
    auto* buffer = static_cast<char*>(HeapAlloc(static_cast<std::size_t>(kCopyBlock)));
    if (buffer == nullptr) return false;
    bool ok = true;
    while (ok && count > 0) {
        const LONG n = static_cast<LONG>(std::min<std::int64_t>(count, kCopyBlock));
        ok = mmioRead(src, buffer, n) == n && mmioWrite(dst, buffer, n) == n;
        count -= n;
    }
    HeapFree(buffer);
    return ok;
}

// The text of a global-heap string, never past its block.
std::string_view BlockText(const char* s) {
    if (s == nullptr) return {};
    return {s, strnlen(s, HeapSize(s))};
}

// The file's text of an item, bounded by the size field of its subchunk
// (the four bytes before the text) and by the end of Data.
std::string_view FileText(const TInfoChunk* chunk, const TInfoData* item) {
    if (chunk == nullptr || chunk->Data == nullptr || item->Offset == 0 || item->Offset < 4 ||
        static_cast<std::int64_t>(item->Offset) > chunk->DataSize)
        return {};
    const std::size_t avail = static_cast<std::size_t>(chunk->DataSize) - item->Offset;
    const std::size_t size = std::min<std::size_t>(GetLE32(chunk->Data + item->Offset - 4), avail);
    const char* text = chunk->Data + item->Offset;
    return {text, strnlen(text, size)};
}

bool EmptyPayload(const void* p) {
    return p == nullptr || HeapSize(p) == 0 || *static_cast<const char*>(p) == '\0';
}

bool SameBlock(const void* a, const void* b) {
    const std::size_t n = HeapSize(a);
    return n == HeapSize(b) && (n == 0 || std::memcmp(a, b, n) == 0);
}

// Bytes of a DIB payload to write: its packed size, or 0 when the header
// does not fit the block or claims more than the block holds.
std::size_t DibPayloadBytes(const void* p, std::size_t block) {
    if (block < sizeof(TBitmapInfoHeader)) return 0;
    TBitmapInfoHeader h;
    std::memcpy(&h, p, sizeof h);
    const std::uint64_t size = std::uint64_t{h.biSize} + h.biSizeImage + 4ull * h.biClrUsed;
    if (h.biSize < sizeof(TBitmapInfoHeader) || size > block || size != DIB_Size(&h)) return 0;
    return static_cast<std::size_t>(size);
}

} // namespace

bool RiffCopyChunk(HMMIO src, HMMIO dst, const MMCKINFO& ck) {
    MMCKINFO out{};
    out.ckid = ck.ckid;
    out.cksize = ck.cksize;
    if (mmioCreateChunk(dst, &out, 0) != MMSYSERR_NOERROR) return false;
    const bool copied = CopyBytes(src, dst, ck.cksize);
    return mmioAscend(dst, &out, 0) == MMSYSERR_NOERROR && copied;
}

bool RiffCopyList(HMMIO src, HMMIO dst, const MMCKINFO& ck) {
    if (ck.cksize < 4) return false;
    MMCKINFO out{};
    out.cksize = ck.cksize;
    out.fccType = ck.fccType;
    if (mmioCreateChunk(dst, &out, MMIO_CREATELIST) != MMSYSERR_NOERROR) return false;
    const bool copied = CopyBytes(src, dst, std::int64_t{ck.cksize} - 4);
    return mmioAscend(dst, &out, 0) == MMSYSERR_NOERROR && copied;
}

// ---------------------------------------------------------------------------
// INFO

int RiffInitINFO(TInfoChunk*& chunk) {
    chunk = static_cast<TInfoChunk*>(HeapAlloc(sizeof(TInfoChunk)));
    if (chunk == nullptr) return RIFFERR_NOMEM;
    for (WORD i = 0; i < kINFOCount; ++i) {
        TInfoData* item = RiffCreateINFO(RIFF_FLAG_FILE, i, 0, nullptr);
        if (item == nullptr) break; // a shorter list, as documented
        RiffInsertINFO(chunk, item);
    }
    return RIFFERR_NOERROR;
}

TInfoData* RiffCreateINFO(WORD flags, WORD index, DWORD offset, char* text) {
    auto* item = static_cast<TInfoData*>(HeapAlloc(sizeof(TInfoData)));
    if (item == nullptr) return nullptr;
    item->Index = index;
    item->Flags = flags;
    item->Offset = offset;
    item->Text = text;
    return item;
}

void RiffInsertINFO(TInfoChunk* chunk, TInfoData* item) {
    if (chunk == nullptr || item == nullptr) return;
    item->Next = nullptr;
    TInfoData** link = &chunk->First;
    while (*link != nullptr)
        link = &(*link)->Next;
    *link = item;
}

int RiffFindaINFO(FOURCC fourcc) {
    for (int i = 0; i < kINFOCount; ++i)
        if (TableId(i) == fourcc) return i;
    return -1;
}

TInfoData* RiffFindPIINFO(TInfoChunk* chunk, FOURCC fourcc) {
    if (chunk == nullptr) return nullptr;
    for (TInfoData* item = chunk->First; item != nullptr; item = item->Next)
        if (item->Index < kINFOCount && TableId(item->Index) == fourcc) return item;
    return nullptr;
}

int RiffReadINFO(HMMIO file, const MMCKINFO& ck, TInfoChunk* chunk) {
    if (file == nullptr || chunk == nullptr) return RIFFERR_BADPARAM;
    if (ck.cksize < 5) return RIFFERR_NOERROR;
    const std::int64_t size = std::int64_t{ck.cksize} - 4;
    if (size > BytesToEnd(file) || size > INT32_MAX) return RIFFERR_FILEIO;
    // One zero byte more than the body, so that the last text ends inside
    // the block even when the file left out its terminating zero.
    auto* data = static_cast<char*>(HeapAlloc(static_cast<std::size_t>(size) + 1));
    if (data == nullptr) return RIFFERR_NOMEM;
    if (mmioRead(file, data, static_cast<LONG>(size)) != size) {
        HeapFree(data);
        return RIFFERR_FILEIO;
    }
    // A second list replaces the first: the old offsets point into its data.
    HeapFree(chunk->Data);
    for (TInfoData* item = chunk->First; item != nullptr; item = item->Next)
        item->Offset = 0;
    chunk->Data = data;
    chunk->DataSize = static_cast<std::int32_t>(size);
    return RiffParseINFO(chunk);
}

int RiffParseINFO(TInfoChunk* chunk) {
    if (chunk == nullptr || chunk->Data == nullptr) return RIFFERR_NOERROR;
    const std::int64_t end = chunk->DataSize;
    std::int64_t offset = 0;
    while (offset + 8 <= end) {
        const FOURCC id = GetLE32(chunk->Data + offset);
        const DWORD size = GetLE32(chunk->Data + offset + 4);
        if (TInfoData* item = RiffFindPIINFO(chunk, id))
            RiffModifyINFO(chunk, item, RIFF_FLAG_FILE, nullptr, static_cast<DWORD>(offset + 8));
        offset += 8 + std::int64_t{size} + (size & 1);
    }
    return RIFFERR_NOERROR;
}

void RiffModifyINFO(TInfoChunk* chunk, TInfoData* item, WORD flags, char* text, DWORD offset) {
    if (item == nullptr) {
        HeapFree(text); // the text was handed over even when it has nowhere to go
        return;
    }
    if ((flags & 3) == 0) item->Offset = offset;
    const std::string_view given = BlockText(text);
    if (item->Text == nullptr) {
        if (text == nullptr) return;
        if (given == FileText(chunk, item)) {
            HeapFree(text);
            // Set back to the file's text: the file value stands again.
            if (item->Flags == RIFF_FLAG_REMOVED) item->Flags = RIFF_FLAG_FILE;
            return;
        }
        item->Text = text;
        item->Flags = flags;
        return;
    }
    if (text != nullptr) {
        if (given == BlockText(item->Text)) {
            HeapFree(text);
            return;
        }
        HeapFree(item->Text);
        if (given.empty()) {
            HeapFree(text);
            item->Flags = RIFF_FLAG_REMOVED;
            return;
        }
        item->Text = text;
        item->Flags = flags;
        return;
    }
    if (flags & 2) {
        HeapFree(item->Text);
        item->Flags = flags;
    }
}

std::string_view RiffINFOValue(const TInfoChunk* chunk, const TInfoData* item, bool copying) {
    if (item == nullptr) return {};
    if (item->Text != nullptr) return BlockText(item->Text);
    if (item->Flags == RIFF_FLAG_REMOVED) return {};
    if (copying && item->Flags == RIFF_FLAG_PROGRAM) return {};
    return FileText(chunk, item);
}

int RiffCopyInfo(TInfoChunk*& dst, TInfoChunk* src) {
    if (dst == nullptr || src == nullptr) return RIFFERR_BADPARAM;
    for (TInfoData* item = src->First; item != nullptr; item = item->Next) {
        if (item->Index >= kINFOCount) continue;
        const std::string_view value = RiffINFOValue(src, item, true);
        if (value.empty()) continue;
        char* copy = HeapString(value.data(), value.size());
        if (copy == nullptr) return RIFFERR_NOMEM;
        RiffModifyINFO(dst, RiffFindPIINFO(dst, TableId(item->Index)), RIFF_FLAG_PROGRAM, copy, 0);
    }
    return RIFFERR_NOERROR;
}

int RiffWriteINFO(HMMIO file, TInfoChunk* chunk) {
    if (file == nullptr || chunk == nullptr) return RIFFERR_BADPARAM;
    MMCKINFO list{};
    bool created = false;
    for (TInfoData* item = chunk->First; item != nullptr; item = item->Next) {
        if (item->Index >= kINFOCount) continue;
        const std::string_view value = RiffINFOValue(chunk, item);
        if (value.empty()) continue;
        if (!created) {
            list.fccType = kINFO;
            if (mmioCreateChunk(file, &list, MMIO_CREATELIST) != MMSYSERR_NOERROR)
                return RIFFERR_FILEIO;
            created = true;
        }
        MMCKINFO sub{};
        sub.ckid = TableId(item->Index);
        sub.cksize = static_cast<DWORD>(value.size() + 1);
        const char zero = 0;
        const auto length = static_cast<LONG>(value.size());
        if (mmioCreateChunk(file, &sub, 0) != MMSYSERR_NOERROR ||
            mmioWrite(file, value.data(), length) != length || mmioWrite(file, &zero, 1) != 1 ||
            mmioAscend(file, &sub, 0) != MMSYSERR_NOERROR)
            return RIFFERR_FILEIO;
    }
    if (created && mmioAscend(file, &list, 0) != MMSYSERR_NOERROR) return RIFFERR_FILEIO;
    return RIFFERR_NOERROR;
}

int RiffFreeINFO(TInfoChunk*& chunk) {
    if (chunk == nullptr) return RIFFERR_BADPARAM;
    HeapFree(chunk->Data);
    for (TInfoData* item = chunk->First; item != nullptr;) {
        TInfoData* next = item->Next;
        HeapFree(item->Text);
        HeapFree(item);
        item = next;
    }
    HeapFree(chunk);
    return RIFFERR_NOERROR;
}

// ---------------------------------------------------------------------------
// DISP

int RiffInitDISP(TDispList*& list) {
    list = static_cast<TDispList*>(HeapAlloc(sizeof(TDispList)));
    return list ? RIFFERR_NOERROR : RIFFERR_NOMEM;
}

TDisp* RiffCreateDISP(WORD flags, DWORD clipFormat, void* fileData, void* newData) {
    auto* disp = static_cast<TDisp*>(HeapAlloc(sizeof(TDisp)));
    if (disp == nullptr) return nullptr;
    disp->ClipFormat = clipFormat;
    disp->Flags = flags;
    disp->FileData = fileData;
    disp->NewData = newData;
    return disp;
}

void RiffInsertDISP(TDispList* list, TDisp* disp) {
    if (list == nullptr || disp == nullptr) return;
    disp->Next = nullptr;
    TDisp** link = &list->First;
    while (*link != nullptr)
        link = &(*link)->Next;
    *link = disp;
}

namespace {

void FreeNode(TDisp*& disp) {
    HeapFree(disp->FileData);
    HeapFree(disp->NewData);
    HeapFree(disp);
}

} // namespace

int RiffReadDISP(HMMIO file, const MMCKINFO& ck, TDispList*& list) {
    if (list == nullptr || file == nullptr) return RIFFERR_BADPARAM;
    TDisp* disp = RiffCreateDISP(RIFF_FLAG_FILE, 0, nullptr, nullptr);
    if (disp == nullptr) return RIFFERR_NOMEM;
    if (ck.cksize < 5) {
        FreeNode(disp);
        return RIFFERR_NOERROR;
    }
    const std::int64_t size = std::int64_t{ck.cksize} - 4;
    if (std::int64_t{ck.cksize} > BytesToEnd(file) || size > INT32_MAX) {
        FreeNode(disp);
        return RIFFERR_FILEIO;
    }
    disp->FileData = HeapAlloc(static_cast<std::size_t>(size));
    if (disp->FileData == nullptr) {
        FreeNode(disp);
        return RIFFERR_NOMEM;
    }
    unsigned char format[4];
    if (mmioRead(file, format, 4) != 4 ||
        mmioRead(file, disp->FileData, static_cast<LONG>(size)) != size) {
        FreeNode(disp);
        return RIFFERR_FILEIO;
    }
    disp->ClipFormat = GetLE32(format);
    RiffInsertDISP(list, disp);
    return RIFFERR_NOERROR;
}

const void* RiffDISPPayload(const TDisp* disp) {
    if (disp == nullptr) return nullptr;
    if (disp->NewData != nullptr) return disp->NewData;
    if (disp->Flags == RIFF_FLAG_PROGRAM || disp->Flags == RIFF_FLAG_REMOVED) return nullptr;
    return disp->FileData;
}

int RiffWriteDISP(HMMIO file, TDispList* list) {
    if (file == nullptr || list == nullptr) return RIFFERR_BADPARAM;
    for (TDisp* disp = list->First; disp != nullptr; disp = disp->Next) {
        if (disp->ClipFormat != CF_TEXT && disp->ClipFormat != CF_DIB) continue;
        const void* payload = RiffDISPPayload(disp);
        if (EmptyPayload(payload)) continue;
        // A payload from a file promises neither a terminating zero nor a
        // DIB as large as its header says: both are bounded by the block.
        const std::size_t block = HeapSize(payload);
        std::size_t bytes;
        bool addZero = false;
        if (disp->ClipFormat == CF_TEXT) {
            bytes = strnlen(static_cast<const char*>(payload), block);
            addZero = true;
        } else {
            bytes = DibPayloadBytes(payload, block);
            if (bytes == 0) continue;
        }
        MMCKINFO ck{};
        ck.ckid = kDISP;
        ck.cksize = static_cast<DWORD>(4 + bytes + (addZero ? 1 : 0));
        unsigned char format[4] = {static_cast<unsigned char>(disp->ClipFormat), 0, 0, 0};
        const char zero = 0;
        const auto length = static_cast<LONG>(bytes);
        if (mmioCreateChunk(file, &ck, 0) != MMSYSERR_NOERROR || mmioWrite(file, format, 4) != 4 ||
            mmioWrite(file, payload, length) != length ||
            (addZero && mmioWrite(file, &zero, 1) != 1) ||
            mmioAscend(file, &ck, 0) != MMSYSERR_NOERROR)
            return RIFFERR_FILEIO;
    }
    return RIFFERR_NOERROR;
}

int RiffCopyDISP(TDispList* dst, TDispList* src) {
    if (dst == nullptr || src == nullptr) return RIFFERR_BADPARAM;
    TDispList* emptied = dst;
    if (RiffFreeDISP(emptied, false) != RIFFERR_NOERROR) return 1;
    for (TDisp* disp = src->First; disp != nullptr; disp = disp->Next) {
        const void* payload = RiffDISPPayload(disp);
        if (disp->ClipFormat == 0 || EmptyPayload(payload)) continue;
        const std::size_t size = HeapSize(payload);
        void* copy = HeapAlloc(size);
        if (copy == nullptr) return RIFFERR_NOMEM;
        std::memcpy(copy, payload, size);
        TDisp* node = RiffCreateDISP(RIFF_FLAG_PROGRAM, disp->ClipFormat, nullptr, copy);
        if (node == nullptr) {
            HeapFree(copy);
            return RIFFERR_NOMEM;
        }
        RiffInsertDISP(dst, node);
    }
    return RIFFERR_NOERROR;
}

void RiffModifyDISP(TDispList* /*list*/, TDisp* disp, WORD flags, void* data) {
    if (disp == nullptr) {
        HeapFree(data);
        return;
    }
    if (disp->NewData != nullptr) {
        if (data != nullptr && SameBlock(data, disp->NewData)) {
            HeapFree(data);
            return;
        }
        HeapFree(disp->NewData);
        if (EmptyPayload(data)) {
            HeapFree(data);
            disp->Flags = RIFF_FLAG_REMOVED;
            return;
        }
        disp->NewData = data;
        disp->Flags = flags;
        return;
    }
    if (data == nullptr) return;
    const bool same =
        EmptyPayload(disp->FileData) ? EmptyPayload(data) : SameBlock(data, disp->FileData);
    if (same) {
        HeapFree(data);
        if (disp->Flags == RIFF_FLAG_REMOVED) disp->Flags = RIFF_FLAG_FILE;
        return;
    }
    disp->NewData = data;
    disp->Flags = flags;
}

int RiffFreeDISP(TDispList*& list, bool freeList) {
    if (list == nullptr) return RIFFERR_BADPARAM;
    for (TDisp* disp = list->First; disp != nullptr;) {
        TDisp* next = disp->Next;
        FreeNode(disp);
        disp = next;
    }
    list->First = nullptr;
    if (freeList) HeapFree(list);
    return RIFFERR_NOERROR;
}

} // namespace lum
