// Files made by another program: ffmpeg writes WAV and AVI files, and their
// chunk trees as read here must agree with the file sizes and packet counts
// that ffprobe reports.
#include <gtest/gtest.h>

#include <map>

#include "mmio_helpers.h"
#include "platform/mmio/mmio.h"
#include "support/testutil.h"

using namespace lum::platform::mmio;
using namespace lum::test::mmio;
using lum::test::Quote;
using lum::test::Run;

namespace {

struct Tree {
    std::map<std::string, int> count;  // chunks by identifier ("LIST/movi" for lists)
    std::map<std::string, DWORD> size; // the size of the last chunk of each kind
    int outside = 0;                   // chunks that reach past their parent
};

void WalkTree(HMMIO h, const MMCKINFO& parent, Tree& tree) {
    MMCKINFO ck{};
    const std::uint64_t end = std::uint64_t(parent.dwDataOffset) + parent.cksize;
    while (mmioDescend(h, &ck, &parent, 0) == MMSYSERR_NOERROR) {
        std::string key = FourCCText(ck.ckid);
        if (ck.ckid == FOURCC_LIST) key += "/" + FourCCText(ck.fccType);
        ++tree.count[key];
        tree.size[key] = ck.cksize;
        if (std::uint64_t(ck.dwDataOffset) + ck.cksize > end) ++tree.outside;
        if (ck.ckid == FOURCC_LIST) WalkTree(h, ck, tree);
        ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    }
}

// Reads the whole tree of a RIFF file of the form type; checks that the RIFF
// chunk ends exactly where the file does.
Tree ReadTree(HMMIO h, const char* form, DWORD* riffSize) {
    Tree tree;
    MMCKINFO riff{};
    riff.fccType = mmioStringToFOURCC(form, 0);
    EXPECT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    *riffSize = riff.cksize;
    WalkTree(h, riff, tree);
    EXPECT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), mmioSeek(h, 0, SEEK_END));
    return tree;
}

long ProbeNumber(const std::string& args, const std::string& key) {
    std::string out;
    if (Run("ffprobe -v error " + args + " 2>/dev/null", &out) != 0) return -1;
    auto at = out.find(key + "=");
    return at == std::string::npos ? -1 : std::stol(out.substr(at + key.size() + 1));
}

class FfmpegFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!lum::test::HaveProgram("ffmpeg") || !lum::test::HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }
    // Makes a file with ffmpeg; the arguments go between the inputs and it.
    std::string Make(const std::string& name, const std::string& args) {
        std::string path = dir_.File(name);
        EXPECT_EQ(
            lum::test::Run("ffmpeg -v error -nostdin " + args + " -y " + Quote(path) + " 2>&1"), 0);
        return path;
    }
    lum::test::TempDir dir_;
};

TEST_F(FfmpegFiles, WaveTreesMatchTheFileOnDiskAndInMemory) {
    // 8001 one-byte samples make an odd data chunk that needs a pad byte.
    for (const char* codec : {"pcm_s16le", "pcm_u8"}) {
        SCOPED_TRACE(codec);
        std::string path = Make(std::string(codec) + ".wav", "-f lavfi -i sine=d=1:r=8001 -c:a " +
                                                                 std::string(codec) + " -ac 1");
        long fileSize = ProbeNumber("-show_format " + Quote(path), "size");
        ASSERT_GT(fileSize, 0);
        const DWORD bytesPerSample = std::string(codec) == "pcm_u8" ? 1 : 2;

        MMIOINFO info{};
        HMMIO h = mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
        ASSERT_NE(h, nullptr) << info.wErrorRet;
        DWORD riffSize = 0;
        Tree disk = ReadTree(h, "WAVE", &riffSize);
        EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(long(riffSize) + 8, fileSize);
        EXPECT_EQ(disk.count["fmt "], 1);
        EXPECT_EQ(disk.count["data"], 1);
        EXPECT_EQ(disk.size["data"], 8001 * bytesPerSample);
        EXPECT_EQ(disk.outside, 0);

        Bytes image = lum::test::ReadFile(path);
        info = MemoryInfo(image);
        h = mmioOpen(nullptr, &info, MMIO_READ);
        ASSERT_NE(h, nullptr);
        Tree memory = ReadTree(h, "WAVE", &riffSize);
        EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(memory.count, disk.count);
        EXPECT_EQ(memory.size, disk.size);
    }
}

TEST_F(FfmpegFiles, AviTreeHoldsOneChunkPerPacket) {
    std::string path = Make("clip.avi", "-f lavfi -i testsrc=d=1:s=64x48:r=10 -f lavfi -i "
                                        "sine=d=1 -shortest -c:a pcm_s16le");
    long fileSize = ProbeNumber("-show_format " + Quote(path), "size");
    auto packets = [&](const char* stream) {
        return ProbeNumber("-select_streams " + std::string(stream) +
                               " -count_packets -show_entries stream=nb_read_packets " +
                               Quote(path),
                           "nb_read_packets");
    };
    long video = packets("v:0"), audio = packets("a:0");
    ASSERT_GT(fileSize, 0);
    ASSERT_GT(video, 0);
    ASSERT_GT(audio, 0);

    MMIOINFO info{};
    info.cchBuffer = 1000; // refills fall inside chunk headers
    HMMIO h = mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr) << info.wErrorRet;
    DWORD riffSize = 0;
    Tree tree = ReadTree(h, "AVI ", &riffSize);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(long(riffSize) + 8, fileSize);
    EXPECT_EQ(tree.count["LIST/hdrl"], 1);
    EXPECT_EQ(tree.count["avih"], 1);
    EXPECT_EQ(tree.count["LIST/strl"], 2);
    EXPECT_EQ(tree.count["LIST/movi"], 1);
    EXPECT_EQ(tree.count["00dc"] + tree.count["00db"], video);
    EXPECT_EQ(tree.count["01wb"], audio);
    // The index has one 16-byte entry for every packet.
    EXPECT_EQ(tree.size["idx1"], DWORD(16 * (video + audio)));
    EXPECT_EQ(tree.outside, 0);
}

} // namespace
