#include <gtest/gtest.h>

#include "platform/base/exception.h"
#include "platform/ui/uiservice.h"

using namespace lum::platform::ui;

namespace {
// Installs a headless service for one test and puts the old one back.
struct HeadlessScope {
    HeadlessScope() {
        auto mine = std::make_unique<HeadlessUiService>();
        service = mine.get();
        previous = InstallUiService(std::move(mine));
    }
    ~HeadlessScope() { InstallUiService(std::move(previous)); }
    HeadlessUiService* service;
    std::unique_ptr<UiService> previous;
};
} // namespace

TEST(ErrorBox, AppendsAPeriodOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorBoxText("File not opened"), "File not opened.");
    EXPECT_EQ(ErrorBoxText("Code 42"), "Code 42.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("AVI error (80044073): No data)"), "AVI error (80044073): No data)");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");
    EXPECT_EQ(ErrorBoxText("path/"), "path/."); // "/" sorts after "."
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorBox, ExceptionHandlerShowsTheMessageWithTheApplicationTitle) {
    HeadlessScope scope;
    SetApplicationTitle("SNAPREEL");
    HandleException(lum::Exception("Failed getting frame"));
    HandleException(std::runtime_error("plain"));
    ASSERT_EQ(scope.service->Messages().size(), 2u);
    EXPECT_EQ(scope.service->Messages()[0].text, "Failed getting frame.");
    EXPECT_EQ(scope.service->Messages()[0].caption, "SNAPREEL");
    EXPECT_EQ(scope.service->Messages()[0].style, MB_OK | MB_ICONERROR);
    EXPECT_EQ(scope.service->Messages()[1].text, "plain.");
    SetAppCursor(AppCursor::Wait);
    EXPECT_EQ(scope.service->Cursor(), AppCursor::Wait);
}
