// The I/O buffer: mixed reads, writes, seeks and direct buffer access
// checked against a plain byte-vector model, failing writes that must not
// lose data, and memory images that may or may not grow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "mmio_helpers.h"
#include "platform/base/bytestream.h"
#include "platform/mmio/mmio.h"
#include "support/testutil.h"

using namespace lum::platform;
using namespace lum::platform::mmio;
using namespace lum::test::mmio;

namespace {

enum class Backend { SmallBuffer, CallerBuffer, Unbuffered, GrowableMemory, FixedMemory };

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

class BufferModel : public ::testing::TestWithParam<Backend> {
protected:
    HMMIO Open() {
        MMIOINFO info{};
        const DWORD rw = MMIO_READWRITE | MMIO_CREATE;
        switch (GetParam()) {
        case Backend::SmallBuffer:
            info.cchBuffer = 7;
            return mmioOpen(path_.c_str(), &info, rw | MMIO_ALLOCBUF);
        case Backend::CallerBuffer:
            info.pchBuffer = callerBuffer_;
            info.cchBuffer = sizeof callerBuffer_;
            return mmioOpen(path_.c_str(), &info, rw);
        case Backend::Unbuffered:
            return mmioOpen(path_.c_str(), &info, rw);
        case Backend::GrowableMemory:
            info.fccIOProc = FOURCC_MEM;
            info.cchBuffer = 3;
            info.adwInfo[0] = 5;
            return mmioOpen(nullptr, &info, rw);
        case Backend::FixedMemory:
            image_.assign(1 << 16, 0xEE);
            info = MemoryInfo(image_);
            return mmioOpen(nullptr, &info, rw);
        }
        return nullptr;
    }
    bool Direct() const { return GetParam() != Backend::Unbuffered; }
    bool Memory() const {
        return GetParam() == Backend::GrowableMemory || GetParam() == Backend::FixedMemory;
    }

    lum::test::TempDir dir_;
    std::string path_ = dir_.File("model.bin");
    char callerBuffer_[16] = {};
    Bytes image_;
};

TEST_P(BufferModel, MixedOperationsMatchAPlainByteVector) {
    HMMIO h = Open();
    ASSERT_NE(h, nullptr);
    Bytes model;
    std::size_t pos = 0;
    std::mt19937 rng(1234);
    auto pick = [&](std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
    };
    for (int step = 0; step < 3000; ++step) {
        const int op = static_cast<int>(pick(0, Direct() ? 5 : 3));
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
            if (pos + n > model.size()) model.resize(pos + n);
            std::copy(data.begin(), data.end(), model.begin() + static_cast<long>(pos));
            pos += n;
        } else if (op == 1 || op == 5) { // read, plain or direct
            Bytes got(n);
            LONG r = op == 1 ? mmioRead(h, got.data(), n) : DirectRead(h, got.data(), n);
            LONG expect = static_cast<LONG>(std::min<std::size_t>(n, model.size() - pos));
            ASSERT_EQ(r, expect);
            ASSERT_TRUE(
                std::equal(got.begin(), got.begin() + r, model.begin() + static_cast<long>(pos)));
            pos += r;
        } else if (op == 2) { // seek from any origin to a place inside the file
            std::size_t target = pick(0, model.size());
            int origin = static_cast<int>(pick(0, 2));
            LONG offset = origin == SEEK_SET   ? LONG(target)
                          : origin == SEEK_CUR ? LONG(target) - LONG(pos)
                                               : LONG(target) - LONG(model.size());
            ASSERT_EQ(mmioSeek(h, offset, origin), LONG(target));
            pos = target;
        } else {
            ASSERT_EQ(mmioFlush(h, pick(0, 1) ? MMIO_EMPTYBUF : 0), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(mmioSeek(h, 0, SEEK_CUR), LONG(pos));
    }
    ASSERT_EQ(mmioSeek(h, 0, SEEK_END), LONG(model.size()));
    Bytes result;
    if (Memory()) {
        MMIOINFO info{};
        ASSERT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
        result.assign(info.pchBuffer, info.pchBuffer + model.size());
        ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    } else {
        ASSERT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
        result = lum::test::ReadFile(path_);
    }
    EXPECT_EQ(result, model);
}

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    static const char* const names[] = {"SmallBuffer", "CallerBuffer", "Unbuffered",
                                        "GrowableMemory", "FixedMemory"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Backends, BufferModel,
                         ::testing::Values(Backend::SmallBuffer, Backend::CallerBuffer,
                                           Backend::Unbuffered, Backend::GrowableMemory,
                                           Backend::FixedMemory),
                         BackendName);

TEST(DirectAccess, WindowPointersFollowTheBufferAndTheFile) {
    lum::test::TempDir dir;
    std::string path = dir.File("w.bin");
    Bytes content(100);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i);
    lum::test::WriteFile(path, content);
    MMIOINFO info{};
    info.cchBuffer = 32;
    HMMIO h = mmioOpen(path.c_str(), &info, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSeek(h, 90, SEEK_SET), 90);
    ASSERT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(info.cchBuffer, 32);
    EXPECT_EQ(info.pchEndWrite, info.pchBuffer) << "no room to write in a read-only file";
    ASSERT_EQ(mmioAdvance(h, &info, MMIO_READ), MMSYSERR_NOERROR);
    EXPECT_EQ(info.lBufOffset, 90);
    ASSERT_EQ(info.pchEndRead - info.pchNext, 10) << "only what the file holds";
    EXPECT_EQ(static_cast<std::uint8_t>(info.pchNext[9]), 99);
    info.pchNext += 10;
    ASSERT_EQ(mmioAdvance(h, &info, MMIO_READ), MMSYSERR_NOERROR);
    EXPECT_EQ(info.pchNext, info.pchEndRead) << "end of file is not an error";
    EXPECT_EQ(mmioAdvance(h, &info, MMIO_WRITE), MMIOERR_CANNOTWRITE);
    // A position outside the buffer is refused, not followed.
    MMIOINFO bad = info;
    bad.pchNext = info.pchBuffer + 33;
    EXPECT_EQ(mmioSetInfo(h, &bad, 0), MMSYSERR_INVALPARAM);
    ASSERT_EQ(mmioSetInfo(h, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 100);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    h = mmioOpen(path.c_str(), nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioAdvance(h, nullptr, MMIO_READ), MMIOERR_UNBUFFERED);
    // Buffering can be switched on later, as the wave layer sizes it.
    ASSERT_EQ(mmioSetBuffer(h, nullptr, 64, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(info.cchBuffer, 64);
    EXPECT_EQ(mmioSetBuffer(h, nullptr, -1, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
}

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
    MMCKINFO ck{};
    ck.ckid = mmioStringToFOURCC("data", 0);
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

    // Unbuffered, the failure shows at once.
    auto second = std::make_unique<FullDisk>();
    second->full = true;
    h = mmioOpenStream(std::move(second), nullptr, MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "abc", 3), -1);
    EXPECT_EQ(mmioCreateChunk(h, &ck, MMIO_CREATERIFF), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
}

TEST(MemoryImage, WithoutGrowIncrementNeverWritesPastItsEnd) {
    Bytes storage(16, 0xAA); // image of 10 bytes, then guard bytes
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
    EXPECT_EQ(info.pchEndWrite - info.pchBuffer, 10);
    EXPECT_EQ(mmioAdvance(h, &info, MMIO_WRITE), MMIOERR_CANNOTEXPAND);
    ASSERT_EQ(mmioSeek(h, 6, SEEK_SET), 6);
    MMCKINFO ck{};
    EXPECT_EQ(mmioCreateChunk(h, &ck, MMIO_CREATELIST), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 6) << "a failed creation leaves the position";
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(storage.begin(), storage.begin() + 10), "0123456789");
    EXPECT_EQ(Bytes(storage.begin() + 10, storage.end()), Bytes(6, 0xAA));
}

TEST(MemoryImage, GrowsByItsIncrementIntoAnImageOfItsOwn) {
    Bytes storage(4, 0);
    MMIOINFO info = MemoryInfo(storage, 16);
    HMMIO h = mmioOpen(nullptr, &info, MMIO_READWRITE | MMIO_CREATE);
    ASSERT_NE(h, nullptr);
    const std::string text = "a longer text than four bytes";
    ASSERT_EQ(mmioWrite(h, text.data(), LONG(text.size())), LONG(text.size()));
    ASSERT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(info.cchBuffer, 4 + 2 * 16);
    EXPECT_NE(info.pchBuffer, reinterpret_cast<char*>(storage.data()))
        << "the caller's memory is never reallocated";
    EXPECT_EQ(std::string(info.pchBuffer, text.size()), text);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
}

TEST(MemoryImage, ReadOnlyImageRefusesEveryWrite) {
    Bytes image = Form("RIFF", "WAVE", {Chunk("data", Text("abc"))});
    const Bytes original = image;
    MMIOINFO info = MemoryInfo(image);
    HMMIO h = mmioOpen(nullptr, &info, MMIO_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    MMCKINFO ck{};
    EXPECT_EQ(mmioCreateChunk(h, &ck, 0), MMIOERR_CANNOTWRITE);
    ASSERT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
    info.dwFlags |= MMIO_DIRTY;
    EXPECT_EQ(mmioSetInfo(h, &info, 0), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioSeek(h, LONG(image.size()) + 1, SEEK_SET), -1);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(image, original);
}

} // namespace
