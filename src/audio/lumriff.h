// RIFF chunk access over the buffered file service: four-character codes,
// copying whole chunks between open files, and the two kinds of side data
// a wave file may carry, the LIST/INFO text items and DISP chunks (a text
// or a packed DIB). Both are kept as singly linked lists of global-heap
// blocks so that a program can read them from one file, change them and
// write them into another.
//
// Nothing here raises. The INFO and DISP functions return the codes below;
// the chunk helpers return false. Every read is bounded by its chunk and by
// what the file holds: sizes from a file never make a read run outside its
// block, and never make an allocation larger than the file.
#pragma once

#include <cstdint>
#include <string_view>

#include "audio/lumregs.h"
#include "platform/mmio/mmio.h"

namespace lum {

using platform::mmio::HMMIO;
using platform::mmio::MMCKINFO;

// Result codes of the INFO and DISP functions.
constexpr int RIFFERR_NOERROR = 0;
constexpr int RIFFERR_BADPARAM = 2;
constexpr int RIFFERR_FILEIO = 3;
constexpr int RIFFERR_NOMEM = 4;

// Item flags (TInfoData.Flags, TDisp.Flags).
constexpr WORD RIFF_FLAG_FILE = 0;    // the value as read from the file
constexpr WORD RIFF_FLAG_PROGRAM = 1; // set by the program
constexpr WORD RIFF_FLAG_REMOVED = 2; // removed by the program

// One row of the INFO item table: the identifier, a short name and the
// RIFF INFO list's description of the item.
struct TINFO {
    const char* Id;
    const char* Name;
    const char* Description;
};

// The 23 INFO items in table order, then a row whose identifier is empty.
// A row's position is the item's index everywhere.
constexpr int kINFOCount = 23;
extern const TINFO aINFO[kINFOCount + 1];

// One INFO item. The effective value is Text when set; otherwise the file's
// text at Data + Offset (Offset 0: none in the file). An empty string is no
// value, and an item the program removed (Flags 2) has none either.
struct TInfoData {
    WORD Index;   // row in aINFO
    WORD Flags;   // RIFF_FLAG_*
    DWORD Offset; // of the file's text in TInfoChunk.Data; 0 when absent
    char* Text;   // program value (owned global-heap string) or null
    TInfoData* Next;
    DWORD Size; // bytes of the file's subchunk body at Offset
};

// The INFO list of one file.
struct TInfoChunk {
    char* Data;            // copy of the list body after the form type, or null
    std::int32_t DataSize; // bytes in Data (the block holds one zero more)
    TInfoData* First;
};

// One DISP chunk: a clipboard format and its payload. NewData, set by the
// program, takes precedence over FileData.
struct TDisp {
    DWORD ClipFormat;
    WORD Flags;
    void* FileData;
    void* NewData;
    TDisp* Next;
};

struct TDispList {
    TDisp* First;
};

// Clipboard formats that DISP chunks are written with.
constexpr DWORD CF_TEXT = 1;
constexpr DWORD CF_DIB = 8;

// a + b<<8 + c<<16 + d<<24.
constexpr FOURCC mmioFourCC(char a, char b, char c, char d) {
    return platform::MakeFourCC(a, b, c, d);
}

// Copies the body of the chunk Ck, into which Src has descended, into a new
// chunk of Dst with the same identifier, and ascends out of it. True only
// when every byte arrived.
bool RiffCopyChunk(HMMIO src, HMMIO dst, const MMCKINFO& ck);
// The same for a LIST chunk: the new list gets Ck's form type and the
// cksize - 4 bytes after it. False for a chunk too small to have a form type.
bool RiffCopyList(HMMIO src, HMMIO dst, const MMCKINFO& ck);

// ---------------------------------------------------------------------------
// INFO

// A new chunk with one item a table row, in table order.
int RiffInitINFO(TInfoChunk*& chunk);
// A new item, or null when out of memory. Text passes to the item.
TInfoData* RiffCreateINFO(WORD flags, WORD index, DWORD offset, char* text);
void RiffInsertINFO(TInfoChunk* chunk, TInfoData* item);
// The table row of an identifier (compared byte for byte), or -1.
int RiffFindaINFO(FOURCC fourcc);
// The first item of the list with that identifier, or null.
TInfoData* RiffFindPIINFO(TInfoChunk* chunk, FOURCC fourcc);
// Reads the body of a LIST/INFO chunk; the file is just after its form
// type. A chunk of 4 bytes or less reads nothing. A second list replaces
// the file values of the first.
int RiffReadINFO(HMMIO file, const MMCKINFO& ck, TInfoChunk* chunk);
// Points the items at their texts in Data; unknown identifiers are skipped.
int RiffParseINFO(TInfoChunk* chunk);
// The one way to change an item. Text is a global-heap string whose
// ownership passes to the function (it is freed when it changes nothing).
// Offset is stored only when Flags has neither bit 0 nor bit 1.
void RiffModifyINFO(TInfoChunk* chunk, TInfoData* item, WORD flags, char* text, DWORD offset);
// Sets every item of Dst for which Src has a value to a copy of it.
int RiffCopyInfo(TInfoChunk*& dst, TInfoChunk* src);
// Writes a LIST/INFO chunk with a subchunk for each item with a value; no
// list at all when none has one.
int RiffWriteINFO(HMMIO file, TInfoChunk* chunk);
int RiffFreeINFO(TInfoChunk*& chunk);

// The effective value of an item (empty: none). Copying takes a file value
// only when the item's flags are not 1.
std::string_view RiffINFOValue(const TInfoChunk* chunk, const TInfoData* item,
                               bool copying = false);

// ---------------------------------------------------------------------------
// DISP

int RiffInitDISP(TDispList*& list);
// A new node, or null when out of memory. The payloads pass to the node.
TDisp* RiffCreateDISP(WORD flags, DWORD clipFormat, void* fileData, void* newData);
void RiffInsertDISP(TDispList* list, TDisp* disp);
// Reads a DISP chunk (the file is at its body) and appends it.
int RiffReadDISP(HMMIO file, const MMCKINFO& ck, TDispList*& list);
// Writes a DISP chunk for each text or DIB node with a payload.
int RiffWriteDISP(HMMIO file, TDispList* list);
// Empties Dst and appends a program copy of each node of Src with a format
// and a payload. 1 when Dst cannot be emptied.
int RiffCopyDISP(TDispList* dst, TDispList* src);
// The DISP twin of RiffModifyINFO: Data (a global-heap block) passes to the
// function; payloads compare as blocks, so blocks of different sizes differ.
void RiffModifyDISP(TDispList* list, TDisp* disp, WORD flags, void* data);
int RiffFreeDISP(TDispList*& list, bool freeList);

// The effective payload of a node (null: none).
const void* RiffDISPPayload(const TDisp* disp);

} // namespace lum
