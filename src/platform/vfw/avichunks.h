// Chunk and list identifiers of the AVI layout, shared by the reader and
// the writer so both agree on every name.
#pragma once

#include <cstddef>

#include "platform/vfw/avifile.h"

namespace lum::platform::vfw::avichunks {

constexpr FOURCC kAVI = MakeFourCC("AVI ");
constexpr FOURCC kAVIX = MakeFourCC("AVIX");
constexpr FOURCC kHdrl = MakeFourCC("hdrl");
constexpr FOURCC kAvih = MakeFourCC("avih");
constexpr FOURCC kStrl = MakeFourCC("strl");
constexpr FOURCC kStrh = MakeFourCC("strh");
constexpr FOURCC kStrf = MakeFourCC("strf");
constexpr FOURCC kIndx = MakeFourCC("indx");
constexpr FOURCC kOdml = MakeFourCC("odml");
constexpr FOURCC kDmlh = MakeFourCC("dmlh");
constexpr FOURCC kMovi = MakeFourCC("movi");
constexpr FOURCC kRec = MakeFourCC("rec ");
constexpr FOURCC kIdx1 = MakeFourCC("idx1");
constexpr FOURCC kInfo = MakeFourCC("INFO");
// More streams than any writer makes; a header claiming more is damaged.
constexpr std::size_t kMaxStreams = 100;

} // namespace lum::platform::vfw::avichunks
