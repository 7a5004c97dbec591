// Files made by another program: ffmpeg writes WAV and AVI files, and their
// chunk trees as read here must agree with the file sizes and packet counts
// that ffprobe reports.
#include <gtest/gtest.h>

#include <map>

#include "mmio_helpers.h"
#include "support/testutil.h"

using namespace lum::test::mmio;
using lum::test::Quote;

namespace {

struct Tree {
    std::map<std::string, int> count;  // chunks by identifier, "LIST/type" for lists
    std::map<std::string, DWORD> size; // the size of the last chunk of each kind
    int outside = 0;                   // chunks reaching past their parent
};

void WalkTree(HMMIO h, const MMCKINFO& parent, Tree& tree) {
    MMCKINFO ck{};
    while (mmioDescend(h, &ck, &parent, 0) == MMSYSERR_NOERROR) {
        std::string key = FourCCText(ck.ckid);
        if (ck.ckid == FOURCC_LIST) key += "/" + FourCCText(ck.fccType);
        ++tree.count[key];
        tree.size[key] = ck.cksize;
        tree.outside += std::uint64_t(ck.dwDataOffset) + ck.cksize >
                        std::uint64_t(parent.dwDataOffset) + parent.cksize;
        if (ck.ckid == FOURCC_LIST) WalkTree(h, ck, tree);
        ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    }
}

// The tree of a RIFF file of the form type, from disk through a buffer of
// Buffer bytes and from a memory image of the file, which must agree. The
// RIFF size is checked against the size ffprobe reports.
Tree ReadTree(const std::string& path, const char* form, LONG buffer) {
    std::string probe;
    lum::test::Run("ffprobe -v error -show_format " + Quote(path), &probe);
    const auto at = probe.find("size=");
    Bytes image = lum::test::ReadFile(path);
    Tree trees[2];
    for (int memory = 0; memory < 2; ++memory) {
        MMIOINFO info = memory ? MemoryInfo(image) : MMIOINFO{};
        if (!memory) info.cchBuffer = buffer;
        HMMIO h = memory ? mmioOpen(nullptr, &info, MMIO_READ)
                         : mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
        EXPECT_NE(h, nullptr) << info.wErrorRet;
        MMCKINFO riff{0, 0, mmioStringToFOURCC(form, 0), 0, 0};
        EXPECT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
        EXPECT_NE(at, std::string::npos);
        EXPECT_EQ(riff.cksize + 8, std::stoul(probe.substr(at + 5)));
        WalkTree(h, riff, trees[memory]);
        EXPECT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), LONG(image.size())) << "the RIFF ends the file";
        EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(trees[0].count, trees[1].count);
    EXPECT_EQ(trees[0].size, trees[1].size);
    EXPECT_EQ(trees[0].outside, 0);
    return trees[0];
}

class FfmpegFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lum::test::HaveProgram("ffmpeg") || !lum::test::HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }
    std::string Make(const std::string& name, const std::string& args) {
        std::string path = dir_.File(name);
        EXPECT_EQ(lum::test::Run("ffmpeg -v error -nostdin " + args + " -y " + Quote(path)), 0);
        return path;
    }
    long Packets(const std::string& path, const char* stream) {
        std::string out;
        lum::test::Run("ffprobe -v error -select_streams " + std::string(stream) +
                           " -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
                           Quote(path),
                       &out);
        return out.empty() ? -1 : std::stol(out);
    }
    lum::test::TempDir dir_;
};

TEST_F(FfmpegFiles, WaveFilesHoldTheirSamplesInOneDataChunk) {
    // 8001 one-byte samples make an odd data chunk that needs a pad byte.
    for (auto [codec, bytes] : {std::pair{"pcm_s16le", 2}, std::pair{"pcm_u8", 1}}) {
        SCOPED_TRACE(codec);
        std::string path = Make(std::string(codec) + ".wav",
                                "-f lavfi -i sine=d=1:r=8001 -ac 1 -c:a " + std::string(codec));
        Tree tree = ReadTree(path, "WAVE", MMIO_DEFAULTBUFFER);
        EXPECT_EQ(tree.count["fmt "], 1);
        EXPECT_EQ(tree.count["data"], 1);
        EXPECT_EQ(tree.size["data"], DWORD(8001 * bytes));
    }
}

TEST_F(FfmpegFiles, AviFilesHoldOneChunkPerPacket) {
    std::string path = Make("clip.avi", "-f lavfi -i testsrc=d=1:s=64x48:r=10 -f lavfi -i "
                                        "sine=d=1 -shortest -c:a pcm_s16le");
    const long video = Packets(path, "v:0"), audio = Packets(path, "a:0");
    ASSERT_GT(video, 0);
    ASSERT_GT(audio, 0);
    Tree tree = ReadTree(path, "AVI ", 1000); // refills fall inside chunk headers
    EXPECT_EQ(tree.count["LIST/hdrl"], 1);
    EXPECT_EQ(tree.count["avih"], 1);
    EXPECT_EQ(tree.count["LIST/strl"], 2);
    EXPECT_EQ(tree.count["LIST/movi"], 1);
    EXPECT_EQ(tree.count["00dc"] + tree.count["00db"], video);
    EXPECT_EQ(tree.count["01wb"], audio);
    EXPECT_EQ(tree.size["idx1"], DWORD(16 * (video + audio))) << "16 bytes a packet";
}

} // namespace
