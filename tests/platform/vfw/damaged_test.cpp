// The damaged-file table of the video service: hand-built AVI, WAV and AU
// images, each damaged in one way, with the outcome it must have (the
// service's error code, or the whole samples and frames that still read),
// and the files in tests/data/damaged/ that fuzzing found.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "avi_fixtures.h"
#include "damaged_avi.h"
#include "platform/base/rle.h"

using namespace lum::vfwtest;
using namespace lum::damagedtest;

namespace {

// What a reader gets from an image: the open's code, each stream's whole
// samples, and for video the frames the decoder gives.
struct Outcome {
    HRESULT open = AVIERR_OK;
    std::vector<Bytes> samples;  // of the first stream
    std::optional<bool> decoder; // whether a frame decoder opens
    int frames = 0;              // frames it decodes
    LONG length = 0;
    LONG time_of_last = 0;
    DWORD streams = 0;
};

Outcome Read(const Bytes& image) {
    Outcome o;
    PAVIFILE f = nullptr;
    o.open = OpenImage(image, &f);
    if (o.open != AVIERR_OK) return o;
    AVIFILEINFO info{};
    AVIFileInfo(f, &info, sizeof info);
    o.streams = info.dwStreams;
    PAVISTREAM s = nullptr;
    if (AVIFileGetStream(f, &s, 0, 0) == AVIERR_OK) {
        o.length = AVIStreamLength(s);
        o.time_of_last = AVIStreamSampleToTime(s, o.length);
        AVISTREAMINFO info{};
        AVIStreamInfo(s, &info, sizeof info);
        // Audio streams read block by block.
        for (LONG p = AVIStreamStart(s); p < AVIStreamStart(s) + o.length; ++p)
            o.samples.push_back(ReadSample(s, p));
        if (info.fccType == streamtypeVIDEO) {
            PGETFRAME g = AVIStreamGetFrameOpen(s, nullptr);
            o.decoder = g != nullptr;
            if (g) {
                for (LONG p = 0; p < o.length; ++p)
                    o.frames += AVIStreamGetFrame(g, p) != nullptr;
                EXPECT_EQ(AVIStreamGetFrame(g, o.length), nullptr);
                AVIStreamGetFrameClose(g);
            }
        }
        AVIStreamRelease(s);
    }
    AVIFileRelease(f);
    return o;
}

struct Row {
    const char* name;
    std::function<Bytes()> make;
    HRESULT open;
    int samples;           // whole samples (blocks for audio) that read back as written
    int decodable;         // frames decoded; -1: no decoder opens; -2: audio
    std::size_t first = 0; // the written frame the first sample read is
};

const std::vector<Bytes> kFrames = [] {
    std::vector<Bytes> f;
    for (int i = 0; i < 5; ++i)
        f.push_back(PlainFrame(i));
    return f;
}();

AviSpec With(const std::function<void(AviSpec&)>& change) {
    AviSpec s = PlainSpec();
    change(s);
    return s;
}

std::vector<Row> Rows() {
    const Bytes plain = BuildAvi(PlainSpec());
    return {
        {"whole file", [=] { return plain; }, AVIERR_OK, 5, 5},
        {"RIFF size larger than the file",
         [=] {
             Bytes b = plain;
             SetLe32(b, 4, 0x7FFFFFF0);
             return b;
         },
         AVIERR_OK, 5, 5},
        {"movi size larger than the file",
         [=] {
             Bytes b = plain;
             SetLe32(b, FindTag(b, "movi") - 4, 0x7FFFFFF0);
             return b;
         },
         AVIERR_OK, 5, 5},
        {"frame size larger than the file",
         [=] {
             Bytes b = BuildAvi(With([](AviSpec& s) { s.index = false; }));
             SetLe32(b, FindTag(b, "00dc", FindTag(b, "movi")) + 4, 0x7FFFFFF0);
             return b;
         },
         // The scan steps over the damaged chunk to the frames after it.
         AVIERR_OK, 4, 4, 1},
        {"zero RIFF size",
         [=] {
             Bytes b = plain;
             SetLe32(b, 4, 0);
             return b;
         },
         AVIERR_OK, 5, 5},
        {"zero strf size", [] { return BuildAvi(With([](AviSpec& s) { s.strf_size = 0; })); },
         AVIERR_OK, 5, -1},
        {"zero size frames are dropped frames",
         [] { return BuildAvi(With([](AviSpec& s) { s.frames[2].clear(); })); }, AVIERR_OK, 5, 5},
        {"strf shorter than a BITMAPINFOHEADER",
         [] { return BuildAvi(With([](AviSpec& s) { s.strf_size = 24; })); }, AVIERR_OK, 5, -1},
        {"width 0", [] { return BuildAvi(With([](AviSpec& s) { s.width = 0; })); }, AVIERR_OK, 5,
         -1},
        {"height 0", [] { return BuildAvi(With([](AviSpec& s) { s.height = 0; })); }, AVIERR_OK, 5,
         -1},
        {"width 2^31",
         [] {
             return BuildAvi(With([](AviSpec& s) { s.width = static_cast<LONG>(0x80000000u); }));
         },
         AVIERR_OK, 5, -1},
        {"height 2^31",
         [] {
             return BuildAvi(With([](AviSpec& s) { s.height = static_cast<LONG>(0x80000000u); }));
         },
         AVIERR_OK, 5, -1},
        {"frame larger than 16384 x 16384",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.width = 16385;
                 s.height = 16384;
             }));
         },
         AVIERR_OK, 5, -1},
        // A colour count the format does not hold: the table it holds is used.
        {"negative biClrUsed",
         [] { return BuildAvi(With([](AviSpec& s) { s.clr_used = 0xFFFFFFFF; })); }, AVIERR_OK, 5,
         5},
        {"biClrUsed beyond the format",
         [] { return BuildAvi(With([](AviSpec& s) { s.clr_used = 200; })); }, AVIERR_OK, 5, 5},
        {"index pointing outside movi",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.index_offset = [](std::size_t i, std::uint32_t o) {
                     return i == 3 ? 0x00FFFFF0u : o;
                 };
             }));
         },
         AVIERR_OK, 5, 5},
        {"index of sizes past the file",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.index_offset = [](std::size_t, std::uint32_t o) { return o + 0x40000000u; };
             }));
         },
         AVIERR_OK, 5, 5},
        {"dwScale 0", [] { return BuildAvi(With([](AviSpec& s) { s.scale = 0; })); }, AVIERR_OK, 5,
         5},
        {"dwRate 0", [] { return BuildAvi(With([](AviSpec& s) { s.rate = 0; })); }, AVIERR_OK, 5,
         5},
        {"no hdrl",
         [=] {
             Bytes b = plain;
             std::memcpy(&b[FindTag(b, "hdrl")], "hdrX", 4);
             return b;
         },
         AVIERR_BADFORMAT, 0, 0},
        {"not RIFF", [] { return Bytes(64, 0x41); }, AVIERR_UNSUPPORTED, 0, 0},
        {"empty", [] { return Bytes{}; }, AVIERR_UNSUPPORTED, 0, 0},
        // RLE frames that say more than the frame holds still decode, clipped.
        {"RLE run past the row",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.compression = BI_RLE8;
                 s.frames = {{200, 1, 0, 1}, {0, 0, 200, 2, 0, 1}};
             }));
         },
         AVIERR_OK, 2, 2},
        {"RLE delta past the frame",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.compression = BI_RLE8;
                 s.frames = {{0, 2, 250, 250, 4, 1, 0, 1}};
             }));
         },
         AVIERR_OK, 1, 1},
        {"RLE absolute run past the data",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.compression = BI_RLE8;
                 s.frames = {{0, 200, 1, 2, 3}};
             }));
         },
         AVIERR_OK, 1, 1},
        {"RLE4 rows past the top",
         [] {
             return BuildAvi(With([](AviSpec& s) {
                 s.compression = BI_RLE4;
                 s.bits = 4;
                 s.frames = {{8, 0x12, 0, 0, 8, 0x12, 0, 0, 8, 0x12, 0, 0,
                              8, 0x12, 0, 0, 8, 0x34, 0, 0, 8, 0x56, 0, 1}};
             }));
         },
         AVIERR_OK, 1, 1},
        {"WAV whole", [] { return BuildWav(10); }, AVIERR_OK, 10, -2},
        {"WAV data size larger than the file",
         [] {
             Bytes b = BuildWav(10);
             SetLe32(b, FindTag(b, "data") + 4, 0x7FFFFFF0);
             return b;
         },
         AVIERR_OK, 10, -2},
        {"WAV cut inside a block",
         [] {
             Bytes b = BuildWav(10);
             b.resize(b.size() - 3);
             return b;
         },
         AVIERR_OK, 9, -2},
        {"WAV zero fmt size",
         [] {
             Bytes b = List("WAVE", {Chunk("fmt ", {}), Chunk("data", Bytes(16, 1))}, "RIFF");
             return b;
         },
         AVIERR_BADFORMAT, 0, 0},
        {"WAV zero block align and channels",
         [] {
             Bytes b = BuildWav(10);
             std::size_t fmt = FindTag(b, "fmt ") + 8;
             Put16(b, fmt + 2, 0);
             Put16(b, fmt + 12, 0);
             return b;
         },
         AVIERR_BADFORMAT, 0, 0},
        {"WAV fmt cut at the chunk boundary",
         [] {
             Bytes b = BuildWav(10);
             b.resize(FindTag(b, "fmt "));
             return b;
         },
         AVIERR_BADFORMAT, 0, 0},
        {"AU whole", [] { return BuildAu(24, 20, 3, 20); }, AVIERR_OK, 10, -2},
        {"AU data offset past the file", [] { return BuildAu(24, 20, 3, 0); }, AVIERR_OK, 0, -2},
        {"AU header offset past the file",
         [] {
             Bytes b = BuildAu(24, 20, 3, 20);
             b[4] = 0x7F;
             return b;
         },
         AVIERR_BADFORMAT, 0, 0},
        {"AU size larger than the file", [] { return BuildAu(24, 0x7FFFFFF0, 3, 21); }, AVIERR_OK,
         10, -2},
        {"AU zero rate",
         [] {
             Bytes b = BuildAu(24, 20, 3, 20);
             std::fill(b.begin() + 16, b.begin() + 20, 0);
             return b;
         },
         AVIERR_BADFORMAT, 0, 0},
        {"AU unknown encoding", [] { return BuildAu(24, 20, 99, 20); }, AVIERR_UNSUPPORTED, 0, 0},
    };
}

TEST(DamagedFiles, EachHasItsOutcome) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const Bytes image = row.make();
        Outcome o = Read(image);
        ASSERT_EQ(o.open, row.open);
        if (row.open != AVIERR_OK) continue;
        EXPECT_EQ(o.samples.size(), static_cast<std::size_t>(row.samples));
        if (row.decodable == -2) {
            EXPECT_FALSE(o.decoder.has_value());
        } else if (row.decodable == -1) {
            EXPECT_EQ(o.decoder, std::optional<bool>(false));
        } else {
            EXPECT_EQ(o.decoder, std::optional<bool>(true));
            EXPECT_EQ(o.frames, row.decodable);
        }
        EXPECT_GE(o.time_of_last, -1);
    }
}

// The plain frames that still read are the frames as written, whatever
// the damage around them.
TEST(DamagedFiles, SamplesThatReadAreTheSamplesWritten) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const std::string name = row.name;
        if (row.open != AVIERR_OK || row.decodable < 0 || name.find("RLE") != std::string::npos)
            continue;
        Outcome o = Read(row.make());
        for (std::size_t i = 0; i < o.samples.size(); ++i) {
            if (name == "zero size frames are dropped frames" && i == 2) continue;
            EXPECT_EQ(o.samples[i], kFrames[row.first + i]) << i;
        }
    }
}

// Every cut at a chunk's start, inside its header or at its end: an image
// cut before the stream list ends opens with no video stream or not at
// all; after it, exactly the frames wholly inside the cut read, and decode.
TEST(DamagedFiles, TruncatedAtEveryChunkBoundary) {
    const Bytes image = BuildAvi(PlainSpec());
    std::vector<std::size_t> cuts, frame_ends;
    std::function<void(std::size_t, std::size_t)> walk = [&](std::size_t at, std::size_t end) {
        while (at + 8 <= end) {
            const std::size_t size = Le32(image, at + 4);
            const bool list =
                std::memcmp(&image[at], "LIST", 4) == 0 || std::memcmp(&image[at], "RIFF", 4) == 0;
            const std::size_t next = at + 8 + size + (size & 1);
            cuts.insert(cuts.end(), {at, at + 4, at + 8, next});
            if (list) walk(at + 12, next);
            if (std::memcmp(&image[at], "00dc", 4) == 0) frame_ends.push_back(at + 8 + size);
            at = next;
        }
    };
    walk(0, image.size());
    ASSERT_EQ(frame_ends.size(), 5u);
    const std::size_t movi = FindTag(image, "movi");
    for (std::size_t cut : std::set<std::size_t>(cuts.begin(), cuts.end())) {
        SCOPED_TRACE(cut);
        Bytes part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
        PAVIFILE f = nullptr;
        const HRESULT hr = OpenImage(part, &f);
        if (cut < 12) {
            EXPECT_EQ(hr, AVIERR_UNSUPPORTED);
            continue;
        }
        if (hr != AVIERR_OK) {
            // Only a cut before the header list is whole may fail the open.
            EXPECT_LT(cut, movi);
            EXPECT_TRUE(hr == AVIERR_BADFORMAT || hr == AVIERR_UNSUPPORTED) << std::hex << hr;
            continue;
        }
        AVIFileRelease(f);
        Outcome o = Read(part);
        if (cut < movi - 8) {
            EXPECT_TRUE(o.samples.empty());
            EXPECT_NE(o.decoder, std::optional<bool>(true));
            continue;
        }
        const auto whole = static_cast<std::size_t>(
            std::count_if(frame_ends.begin(), frame_ends.end(), [&](auto e) { return e <= cut; }));
        ASSERT_EQ(o.samples.size(), whole);
        for (std::size_t i = 0; i < whole; ++i)
            EXPECT_EQ(o.samples[i], kFrames[i]);
        EXPECT_EQ(o.frames, static_cast<int>(whole));
    }
}

// RLE that runs past the frame is clipped to it, and a delta that leaves
// the frame ends the walk: nothing outside the 8 x 4 frame is touched.
TEST(DamagedFiles, RleRunsPastTheFrameAreClipped) {
    const std::size_t guard = 16;
    Bytes image(guard + 32 + guard, 0xEE);
    std::uint8_t* frame = image.data() + guard;
    std::fill(frame, frame + 32, 0);
    const Bytes rle = {200, 1, 0, 0, 3, 2, 0, 2, 250, 9, 8, 3, 0, 1};
    lum::platform::DecodeRle(rle.data(), rle.size(), true, 8, 4, frame, 8);
    EXPECT_EQ(Bytes(frame, frame + 8), Bytes(8, 1));
    EXPECT_EQ(Bytes(frame + 8, frame + 16), Bytes({2, 2, 2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(frame + 16, frame + 32), Bytes(16, 0));
    EXPECT_EQ(Bytes(image.begin(), image.begin() + guard), Bytes(guard, 0xEE));
    EXPECT_EQ(Bytes(image.end() - guard, image.end()), Bytes(guard, 0xEE));
}

// Inputs fuzzing found, kept as found, with the outcome each has now.
struct FoundRow {
    const char* file;
    HRESULT open;
    DWORD streams;
    int samples;
    int decodable; // as in the table above
};

const FoundRow kFound[] = {
    // An 8-bit format whose header fills the whole format: no colour table.
    // Its second frame claims more bytes than the file holds.
    {"avi-empty-colour-table.avi", AVIERR_OK, 1, 1, 1},
    // A stream list that claims to run past its header list and the file,
    // with no format inside the header list: no stream to read.
    {"avi-list-past-its-parent.avi", AVIERR_OK, 0, 0, 0},
};

TEST(DamagedFiles, FilesFoundByFuzzing) {
    for (const FoundRow& row : kFound) {
        SCOPED_TRACE(row.file);
        const std::string path = DamagedFile(row.file);
        ASSERT_TRUE(std::filesystem::exists(path));
        Outcome o = Read(lum::test::ReadFile(path));
        EXPECT_EQ(o.open, row.open);
        EXPECT_EQ(o.streams, row.streams);
        EXPECT_EQ(o.samples.size(), static_cast<std::size_t>(row.samples));
        if (row.streams == 0) {
            EXPECT_FALSE(o.decoder.has_value());
        } else if (row.decodable == -1) {
            EXPECT_EQ(o.decoder, std::optional<bool>(false));
        } else {
            EXPECT_EQ(o.decoder, std::optional<bool>(true));
            EXPECT_EQ(o.frames, row.decodable);
        }
    }
}

// A file added to tests/data/damaged/ needs its row.
TEST(DamagedFiles, EveryVideoServiceFileHasARow) {
    std::set<std::string> listed;
    for (const FoundRow& row : kFound)
        listed.insert(row.file);
    for (const auto& e :
         std::filesystem::directory_iterator(std::filesystem::path(DamagedFile("")))) {
        const std::string ext = e.path().extension().string();
        if (ext == ".avi" || ext == ".wav" || ext == ".au") {
            EXPECT_TRUE(listed.count(e.path().filename().string())) << e.path();
        }
    }
}

} // namespace
