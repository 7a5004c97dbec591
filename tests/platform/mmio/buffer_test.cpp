// The I/O buffer: mixed reads, writes, seeks and direct buffer access
// checked against a plain byte vector, failing writes that must not lose
// data, and memory images that cannot grow.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "mmio_helpers.h"

using namespace lum::test::mmio;

namespace {

// Reads N bytes through the I/O buffer itself, advancing it when used up.
LONG DirectRead(HMMIO h, std::uint8_t* out, LONG n) {
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != MMSYSERR_NOERROR) return -1;
    LONG got = 0;
    while (got < n) {
        if (info.pchNext == info.pchEndRead) {
            if (mmioAdvance(h, &info, MMIO_READ) != MMSYSERR_NOERROR) return -1;
            if (info.pchNext == info.pchEndRead) break; // end of file
        }
        out[got++] = static_cast<std::uint8_t>(*info.pchNext++);
    }
    return mmioSetInfo(h, &info, 0) == MMSYSERR_NOERROR ? got : -1;
}

// Writes N bytes into the I/O buffer itself, as the wave writer does.
bool DirectWrite(HMMIO h, const std::uint8_t* in, LONG n) {
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != MMSYSERR_NOERROR) return false;
    for (LONG i = 0; i < n; ++i) {
        if (info.pchNext == info.pchEndWrite) {
            info.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(h, &info, MMIO_WRITE) != MMSYSERR_NOERROR) return false;
        }
        *info.pchNext++ = static_cast<char>(in[i]);
    }
    info.dwFlags |= MMIO_DIRTY;
    return mmioSetInfo(h, &info, 0) == MMSYSERR_NOERROR;
}

class BufferModel : public ::testing::TestWithParam<Medium> {
protected:
    NewFile file_{GetParam()};
};

TEST_P(BufferModel, MixedOperationsMatchAPlainByteVector) {
    HMMIO h = file_.Open();
    ASSERT_NE(h, nullptr);
    Bytes model;
    std::size_t pos = 0;
    std::mt19937 rng(1234);
    auto pick = [&](std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
    };
    const bool direct = GetParam() != Medium::Unbuffered;
    if (!direct) {
        EXPECT_EQ(mmioAdvance(h, nullptr, MMIO_READ), MMIOERR_UNBUFFERED);
    }
    for (int step = 0; step < 3000; ++step) {
        const int op = static_cast<int>(pick(0, direct ? 5 : 3));
        const auto n = static_cast<LONG>(pick(0, 40));
        SCOPED_TRACE(testing::Message() << "step " << step << " op " << op << " n " << n);
        if (op == 0 || op == 4) { // write, plain or direct
            Bytes data(n);
            for (auto& b : data)
                b = static_cast<std::uint8_t>(pick(0, 255));
            if (op == 0)
                ASSERT_EQ(mmioWrite(h, data.data(), n), n);
            else
                ASSERT_TRUE(DirectWrite(h, data.data(), n));
            model.resize(std::max(model.size(), pos + n));
            std::copy(data.begin(), data.end(), model.begin() + long(pos));
            pos += n;
        } else if (op == 1 || op == 5) { // read, plain or direct
            Bytes got(n);
            LONG r = op == 1 ? mmioRead(h, got.data(), n) : DirectRead(h, got.data(), n);
            ASSERT_EQ(r, LONG(std::min<std::size_t>(n, model.size() - pos)));
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + r, model.begin() + long(pos)));
            pos += r;
        } else if (op == 2) { // seek from any origin to a place inside the file
            std::size_t target = pick(0, model.size());
            int origin = static_cast<int>(pick(0, 2));
            LONG base = origin == SEEK_SET   ? 0
                        : origin == SEEK_CUR ? LONG(pos)
                                             : LONG(model.size());
            ASSERT_EQ(mmioSeek(h, LONG(target) - base, origin), LONG(target));
            pos = target;
        } else if (pick(0, 1)) {
            ASSERT_EQ(mmioFlush(h, pick(0, 1) ? MMIO_EMPTYBUF : 0), MMSYSERR_NOERROR);
        } else if (file_.Memory()) {
            ASSERT_EQ(mmioSetBuffer(h, nullptr, 8, 0), MMSYSERR_NOTSUPPORTED);
        } else { // a new buffer size, as the wave layer sets it
            ASSERT_EQ(mmioSetBuffer(h, nullptr, LONG(pick(direct ? 1 : 0, 20)), 0),
                      MMSYSERR_NOERROR);
        }
        ASSERT_EQ(mmioSeek(h, 0, SEEK_CUR), LONG(pos));
    }
    ASSERT_EQ(mmioSeek(h, 0, SEEK_END), LONG(model.size()));
    EXPECT_EQ(file_.Close(h), model);
}

INSTANTIATE_TEST_SUITE_P(Media, BufferModel, kAllMedia);

// A stream whose writes fail while Full is set, like a full disk.
class FullDisk final : public ByteStream {
public:
    bool full = false;
    std::unique_ptr<MemoryStream> inner = MemoryStream::Growable();
    std::int64_t Size() const override { return inner->Size(); }
    std::size_t ReadAt(std::int64_t o, void* b, std::size_t n) override {
        return inner->ReadAt(o, b, n);
    }
    bool WriteAt(std::int64_t o, const void* b, std::size_t n) override {
        return !full && inner->WriteAt(o, b, n);
    }
    bool Truncate(std::int64_t s) override { return inner->Truncate(s); }
    bool Writable() const override { return true; }
};

TEST(FailingWrites, AreReportedAndKeepTheDataForALaterFlush) {
    auto owned = std::make_unique<FullDisk>();
    FullDisk* disk = owned.get();
    MMIOINFO info{};
    info.cchBuffer = 16;
    HMMIO h = mmioOpenStream(std::move(owned), &info, MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    disk->full = true;
    MMCKINFO ck{mmioStringToFOURCC("data", 0), 0, 0, 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &ck, 0), MMSYSERR_NOERROR) << "still in the buffer";
    ASSERT_EQ(mmioWrite(h, "abcde", 5), 5);
    EXPECT_EQ(mmioFlush(h, 0), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioWrite(h, "0123456789abcdef", 16), 3) << "what the full buffer took";
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    disk->full = false;
    ASSERT_EQ(mmioFlush(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(disk->Size(), 16);
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(ck.cksize, 8u);
    disk->full = true;
    EXPECT_EQ(mmioClose(h, 0), MMIOERR_CANNOTWRITE) << "the size field is still buffered";
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_INVALHANDLE) << "but the handle is gone";
}

TEST(MemoryImage, WithoutGrowIncrementNeverWritesPastItsEnd) {
    Bytes storage(16, 0xAA); // an image of 10 bytes, then guard bytes
    MMIOINFO info = MemoryInfo(storage);
    info.cchBuffer = 10;
    HMMIO h = mmioOpen(nullptr, &info, MMIO_READWRITE | MMIO_CREATE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 0) << "a created image starts empty";
    EXPECT_EQ(mmioWrite(h, "01234567", 8), 8);
    EXPECT_EQ(mmioWrite(h, "89abc", 5), 2);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    EXPECT_EQ(mmioSeek(h, 11, SEEK_SET), -1);
    ASSERT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioAdvance(h, &info, MMIO_WRITE), MMIOERR_CANNOTEXPAND);
    ASSERT_EQ(mmioSeek(h, 6, SEEK_SET), 6);
    MMCKINFO ck{};
    EXPECT_EQ(mmioCreateChunk(h, &ck, MMIO_CREATELIST), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 6) << "a failed creation leaves the position";
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(storage, Text("0123456789\xAA\xAA\xAA\xAA\xAA\xAA"));
}

} // namespace
