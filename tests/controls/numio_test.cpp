#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "controls/numio.h"
#include "platform/base/exception.h"

using namespace lum;

namespace {

using Texts = std::vector<std::string>;

// A shown form holding one field; every OnChange text and beep recorded.
class NumIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        field = new TNumIO(&form);
        field->OnChange = [this](QWidget*) { changes.push_back(field->GetText()); };
        SetMessageBeepHandler([this] { ++beeps; });
        form.show();
    }
    void TearDown() override { SetMessageBeepHandler(nullptr); }

    // The main window's fields: integers, no practical range, no beep.
    void MainWindowField(const std::string& text) {
        field->SetInputFormat(itInt);
        field->SetRangeLow(-1.7e308);
        field->SetRangeHigh(1.7e308);
        field->SetText(text);
        changes.clear();
    }
    // Types Keys into an emptied field and gives the text it ends with.
    std::string TypeFresh(const char* keys) {
        field->clear();
        QTest::keyClicks(field, keys);
        return field->GetText();
    }

    QWidget form;
    TNumIO* field = nullptr;
    Texts changes;
    int beeps = 0;
};

TEST_F(NumIOTest, RefusedKeysAreTakenBackAndTheCaretStepsBack) {
    MainWindowField("160");
    QTest::keyClicks(field, "a");
    EXPECT_EQ(field->GetText(), "160");
    EXPECT_EQ(field->cursorPosition(), 3); // after the "0"
    EXPECT_EQ(changes, Texts{"160"});      // the restore, never "160a"
    EXPECT_EQ(beeps, 0);

    field->setCursorPosition(1);
    QTest::keyClicks(field, "x5");
    EXPECT_EQ(field->GetText(), "1560");
    EXPECT_EQ(field->cursorPosition(), 2);

    field->SetBeep(true);
    QTest::keyClicks(field, "yz");
    EXPECT_EQ(beeps, 2);
}

TEST_F(NumIOTest, TypingSequencesInTheMainWindowsField) {
    MainWindowField("");
    EXPECT_EQ(TypeFresh("-12"), "-12");
    EXPECT_EQ(changes, (Texts{"-", "-1", "-12"}));
    EXPECT_EQ(TypeFresh("007"), "007");
    EXPECT_EQ(TypeFresh("+"), "+");
    EXPECT_EQ(TypeFresh("--"), "-");
    EXPECT_EQ(field->cursorPosition(), 1);
    EXPECT_EQ(TypeFresh("1-"), "1");
    EXPECT_EQ(TypeFresh("1.5"), "15"); // the point is refused, the 5 follows the 1
    EXPECT_EQ(TypeFresh("12 "), "12");
    EXPECT_EQ(TypeFresh(" 5"), " 5"); // leading spaces pass the check and stay
    for (const auto& c : changes) {
        double v;
        EXPECT_TRUE(field->ParseNumber(c, v)) << "OnChange saw refused \"" << c << "\"";
    }
}

TEST_F(NumIOTest, ValuesOutsideTheRangeAreRefused) {
    field->SetInputFormat(itInt);
    field->SetRangeHigh(10);
    field->SetRangeLow(5);
    changes.clear();
    EXPECT_EQ(TypeFresh("10"), ""); // "1" is below the range
    QTest::keyClicks(field, "7");
    QTest::keyClick(field, Qt::Key_Backspace); // the empty text is 0: refused
    EXPECT_EQ(field->GetText(), "7");
    EXPECT_EQ(field->cursorPosition(), 0);
    EXPECT_EQ(changes, (Texts{"7", "7"}));
}

TEST_F(NumIOTest, SetAndPastedTextsAreCheckedToo) {
    MainWindowField("75");
    field->SetText("abc");
    EXPECT_EQ(field->GetText(), "75");
    field->setCursorPosition(2);
    field->insert("1e3");
    EXPECT_EQ(field->GetText(), "75");
    QApplication::clipboard()->setText("25");
    field->setCursorPosition(1);
    field->paste();
    EXPECT_EQ(field->GetText(), "7255");
    EXPECT_EQ(changes, (Texts{"75", "75", "7255"}));
}

TEST_F(NumIOTest, SettersRecheckTheText) {
    field->SetRangeHigh(1e9);
    field->SetInputFormat(itHex);
    field->SetText("ff");
    changes.clear();
    field->SetInputFormat(itInt); // "ff" is no integer: the field empties
    EXPECT_EQ(field->GetText(), "");
    EXPECT_EQ(changes, Texts{""});

    field->SetInputFormat(itFloat);
    field->SetDecPlaceSep(dsComma);
    field->SetText("1,5");
    field->SetDecPlaceSep(dsDot);
    EXPECT_EQ(field->GetText(), "");

    field->SetText("50");
    changes.clear();
    field->SetRangeHigh(1e9); // unchanged, still re-checked
    EXPECT_EQ(changes, Texts{"50"});
    field->SetRangeHigh(20);
    EXPECT_EQ(field->GetText(), "");
}

TEST(NumIO, RangeSettersSwapCrossedBounds) {
    TNumIO f;
    f.SetRangeHigh(10);
    f.SetRangeLow(5);
    f.SetRangeLow(20); // above the high: the old high becomes the low
    EXPECT_EQ(f.GetRangeLow(), 10);
    EXPECT_EQ(f.GetRangeHigh(), 20);
    f.SetRangeHigh(3); // below the low: the old low becomes the high
    EXPECT_EQ(f.GetRangeLow(), 3);
    EXPECT_EQ(f.GetRangeHigh(), 10);
    f.SetRangeLow(10); // equal counts as above
    EXPECT_EQ(f.GetRangeLow(), 10);
    EXPECT_EQ(f.GetRangeHigh(), 10);
}

TEST(NumIO, RangeDefaultsDependOnTheDesignState) {
    QWidget runtime, designer;
    SetWidgetDesigning(&designer, true);
    TNumIO plain(&runtime), designed(&designer);
    EXPECT_EQ(plain.GetRangeLow(), 0);
    EXPECT_EQ(plain.GetRangeHigh(), 0);
    plain.SetText("1"); // only 0 fits until a range is set
    EXPECT_EQ(plain.GetText(), "");
    EXPECT_EQ(designed.GetRangeLow(), -1.7e308);
    EXPECT_EQ(designed.GetRangeHigh(), 1.7e308);
    designed.SetText("1e5000"); // limited to the range's edge, so it fits
    EXPECT_EQ(designed.GetText(), "1e5000");
}

TEST(NumIO, AssignCopiesSettingsWithoutCheckingAndRefusesOtherClasses) {
    QWidget form;
    TNumIO source(&form), dest(&form), other(&form);
    dest.SetRangeHigh(10);
    dest.SetText("7");
    source.SetInputFormat(itHex);
    source.SetBeep(true);
    source.SetRangeHigh(30);
    source.SetRangeLow(20);
    source.SetDecPlaceSep(dsBoth);
    dest.Assign(&source);
    EXPECT_EQ(dest.GetInputFormat(), itHex);
    EXPECT_TRUE(dest.GetBeep());
    EXPECT_EQ(dest.GetRangeLow(), 20);
    EXPECT_EQ(dest.GetRangeHigh(), 30);
    EXPECT_EQ(dest.GetDecPlaceSep(), dsBoth);
    EXPECT_EQ(dest.GetText(), "7"); // not re-checked
    source.AssignTo(&other);
    EXPECT_EQ(other.GetRangeLow(), 20);

    QLineEdit edit(&form);
    try {
        dest.Assign(&edit);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a QLineEdit to a TNumIO");
    }
    try {
        dest.AssignTo(&edit);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TNumIO to a QLineEdit");
    }
}

} // namespace
