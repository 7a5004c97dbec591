#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cstring>
#include <string>

#include "platform/ui/clipboard.h"
#include "platform/ui/qtclipboard.h"

using namespace lum::platform;
using namespace lum::platform::ui;

namespace {

HGLOBAL Block(const std::string& bytes) {
    HGLOBAL h = GlobalAlloc(GHND, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

std::string Text(HGLOBAL h) {
    return std::string(static_cast<const char*>(GlobalLock(h)), GlobalSize(h));
}

// Puts a service in place for one test and the process-local one back.
struct ServiceScope {
    explicit ServiceScope(std::unique_ptr<ClipboardService> s) {
        InstallClipboardService(std::move(s));
    }
    ~ServiceScope() {
        while (CloseClipboard()) {
        }
        InstallClipboardService(nullptr);
    }
};

// The same calls, whichever service answers.
void CopyAndPasteRoundTrip() {
    UINT first = RegisterClipboardFormat("Lum First");
    UINT second = RegisterClipboardFormat("Lum Second");
    HGLOBAL refused = Block("x");
    EXPECT_EQ(SetClipboardData(first, refused), nullptr); // not open
    GlobalFree(refused);
    EXPECT_FALSE(EmptyClipboard());

    ASSERT_TRUE(OpenClipboard());
    ASSERT_TRUE(EmptyClipboard());
    HGLOBAL one = Block(std::string("one\0bytes", 9));
    EXPECT_EQ(SetClipboardData(first, one), one);
    HGLOBAL two = Block("two");
    EXPECT_EQ(SetClipboardData(second, two), two); // beside the first
    HGLOBAL unknown = Block("?");
    EXPECT_EQ(SetClipboardData(0x1234, unknown), nullptr); // stays ours
    GlobalFree(unknown);
    ASSERT_TRUE(CloseClipboard());

    EXPECT_TRUE(IsClipboardFormatAvailable(first));
    EXPECT_TRUE(IsClipboardFormatAvailable(second));
    EXPECT_EQ(GetClipboardData(first), nullptr); // not open
    ASSERT_TRUE(OpenClipboard());
    HGLOBAL got = GetClipboardData(first);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Text(got), std::string("one\0bytes", 9));
    EXPECT_EQ(Text(GetClipboardData(second)), "two");
    ASSERT_TRUE(OpenClipboard()); // nests
    ASSERT_TRUE(CloseClipboard());
    EXPECT_NE(GetClipboardData(second), nullptr); // still open
    ASSERT_TRUE(CloseClipboard());
    EXPECT_FALSE(CloseClipboard());

    ASSERT_TRUE(OpenClipboard());
    ASSERT_TRUE(EmptyClipboard());
    ASSERT_TRUE(CloseClipboard());
    EXPECT_FALSE(IsClipboardFormatAvailable(first));
}

} // namespace

TEST(Clipboard, FormatsAreNumberedByNameInAnyCase) {
    UINT a = RegisterClipboardFormat("Lum Objects");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterClipboardFormat("LUM OBJECTS"), a);
    EXPECT_NE(RegisterClipboardFormat("Lum Objects 2"), a);
    EXPECT_EQ(GetClipboardFormatName(a), "Lum Objects");
    EXPECT_EQ(RegisterClipboardFormat(""), 0u);
    EXPECT_EQ(GetClipboardFormatName(0xBFFF), "");
    EXPECT_EQ(ClipboardMimeType("Lum Objects/2"), "application/x-lum-lum%20objects%2F2");
    EXPECT_EQ(ClipboardMimeType("a.b-c_d+e"), "application/x-lum-a.b-c_d+e");
}

TEST(Clipboard, ProcessLocalCopyAndPaste) {
    ServiceScope scope(std::make_unique<LocalClipboardService>());
    CopyAndPasteRoundTrip();
}

TEST(Clipboard, QtCopyAndPaste) {
    ServiceScope scope(MakeQtClipboardService());
    CopyAndPasteRoundTrip();
}

TEST(Clipboard, QtCarriesFormatsUnderTheirMimeTypes) {
    ServiceScope scope(MakeQtClipboardService());
    UINT format = RegisterClipboardFormat("Lum Marker");
    QClipboard* board = QGuiApplication::clipboard();
    ASSERT_NE(board, nullptr);

    ASSERT_TRUE(OpenClipboard());
    ASSERT_TRUE(EmptyClipboard());
    ASSERT_NE(SetClipboardData(format, Block("abc")), nullptr);
    ASSERT_TRUE(CloseClipboard());
    const QMimeData* mime = board->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->data("application/x-lum-lum%20marker"), QByteArray("abc"));

    // What another program put there: our format read back, none merged in.
    auto* outside = new QMimeData;
    outside->setText("someone else");
    outside->setData("application/x-lum-lum%20marker", QByteArray("from outside"));
    board->setMimeData(outside);
    ASSERT_TRUE(OpenClipboard());
    EXPECT_EQ(Text(GetClipboardData(format)), "from outside");
    UINT other = RegisterClipboardFormat("Lum Other");
    ASSERT_NE(SetClipboardData(other, Block("mine")), nullptr);
    ASSERT_TRUE(CloseClipboard());
    EXPECT_FALSE(IsClipboardFormatAvailable(format)); // the outside data was replaced
    EXPECT_TRUE(IsClipboardFormatAvailable(other));
    EXPECT_FALSE(board->mimeData()->hasText());
}
