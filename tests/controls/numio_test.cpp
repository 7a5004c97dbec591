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

// A form holding one field, with every OnChange text and beep recorded.
class NumIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<QWidget>();
        field = new TNumIO(form.get());
        field->setGeometry(10, 10, 121, 20);
        field->OnChange = [this](QWidget* sender) {
            EXPECT_EQ(sender, field);
            changes.push_back(field->GetText());
        };
        SetMessageBeepHandler([this] { ++beeps; });
        form->show();
        field->setFocus();
    }
    void TearDown() override { SetMessageBeepHandler(nullptr); }

    // The main window's fields: integers, no practical range, no beep.
    void MakeMainWindowField(const std::string& text) {
        field->SetInputFormat(itInt);
        field->SetDecPlaceSep(dsDot);
        field->SetRangeLow(-1.7e308);
        field->SetRangeHigh(1.7e308);
        field->SetText(text);
        changes.clear();
    }

    void Type(const char* keys) { QTest::keyClicks(field, keys); }
    bool Saw(const std::string& text) const {
        for (const auto& c : changes)
            if (c == text) return true;
        return false;
    }

    std::unique_ptr<QWidget> form;
    TNumIO* field = nullptr;
    std::vector<std::string> changes;
    int beeps = 0;
};

TEST_F(NumIOTest, ALetterAfterTheNumberIsTakenBackSilently) {
    MakeMainWindowField("160");
    ASSERT_EQ(field->cursorPosition(), 3);
    Type("a");
    EXPECT_EQ(field->GetText(), "160");
    EXPECT_EQ(field->cursorPosition(), 3); // after the "0"
    EXPECT_EQ(beeps, 0);
    EXPECT_FALSE(Saw("160a"));
    EXPECT_EQ(changes, std::vector<std::string>{"160"}); // the restore itself
    EXPECT_EQ(field->GetLastValidText(), "160");
}

TEST_F(NumIOTest, RefusedCharacterInTheMiddleStepsTheCaretBackByOne) {
    MakeMainWindowField("160");
    field->setCursorPosition(1);
    Type("x");
    EXPECT_EQ(field->GetText(), "160");
    EXPECT_EQ(field->cursorPosition(), 1);
    Type("5");
    EXPECT_EQ(field->GetText(), "1560");
    EXPECT_EQ(field->cursorPosition(), 2);
}

TEST_F(NumIOTest, TypingSequencesInTheIntegerField) {
    MakeMainWindowField("");
    Type("-12");
    EXPECT_EQ(field->GetText(), "-12");
    EXPECT_EQ(changes, (std::vector<std::string>{"-", "-1", "-12"}));

    field->clear();
    Type("007");
    EXPECT_EQ(field->GetText(), "007");

    field->clear();
    Type("--");
    EXPECT_EQ(field->GetText(), "-");
    EXPECT_EQ(field->cursorPosition(), 1);

    field->clear();
    Type("1-");
    EXPECT_EQ(field->GetText(), "1");

    field->clear();
    Type("1.5"); // the point is refused, the 5 then follows the 1
    EXPECT_EQ(field->GetText(), "15");

    field->clear();
    Type("12 ");
    EXPECT_EQ(field->GetText(), "12");

    field->clear();
    Type(" 5"); // leading spaces are ignored by the check and kept in the text
    EXPECT_EQ(field->GetText(), " 5");

    field->clear();
    Type("+");
    EXPECT_EQ(field->GetText(), "+");

    for (const auto& c : changes) {
        double v;
        EXPECT_TRUE(field->ParseNumber(c, v)) << "OnChange saw refused \"" << c << "\"";
    }
    EXPECT_EQ(beeps, 0);
}

TEST_F(NumIOTest, BeepSoundsOncePerRefusedChange) {
    MakeMainWindowField("1");
    field->SetBeep(true);
    Type("x");
    EXPECT_EQ(beeps, 1);
    Type("2y");
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(field->GetText(), "12");
}

TEST_F(NumIOTest, ValuesOutsideTheRangeAreRefusedLikeMalformedText) {
    field->SetInputFormat(itInt);
    field->SetRangeHigh(10);
    field->SetRangeLow(5);
    ASSERT_EQ(field->GetRangeLow(), 5);
    EXPECT_EQ(field->GetText(), "");
    changes.clear();
    Type("1"); // 1 is below the range, so 10 cannot be typed digit by digit
    EXPECT_EQ(field->GetText(), "");
    Type("0");
    EXPECT_EQ(field->GetText(), "");
    Type("7");
    EXPECT_EQ(field->GetText(), "7");
    QTest::keyClick(field, Qt::Key_Backspace); // the empty text is 0: refused
    EXPECT_EQ(field->GetText(), "7");
    EXPECT_EQ(field->cursorPosition(), 0);
    EXPECT_FALSE(Saw(""));
    field->setCursorPosition(1);
    Type("1"); // 71
    EXPECT_EQ(field->GetText(), "7");
}

TEST_F(NumIOTest, TextsSetByTheProgramAndPastedAreCheckedToo) {
    MakeMainWindowField("60");
    field->SetText("abc");
    EXPECT_EQ(field->GetText(), "60");
    EXPECT_FALSE(Saw("abc"));
    field->SetText("75");
    EXPECT_EQ(field->GetText(), "75");

    field->setCursorPosition(2);
    field->insert("1e3"); // what a paste does
    EXPECT_EQ(field->GetText(), "75");
    QApplication::clipboard()->setText("25");
    field->setCursorPosition(1);
    field->paste();
    EXPECT_EQ(field->GetText(), "7255");
    EXPECT_FALSE(Saw("751e3"));
}

TEST_F(NumIOTest, SwitchingNotationRechecksAndCanEmptyTheField) {
    field->SetRangeLow(-1e9);
    field->SetRangeHigh(1e9);
    field->SetInputFormat(itHex);
    field->SetText("ff");
    ASSERT_EQ(field->GetText(), "ff");
    changes.clear();
    field->SetInputFormat(itInt);
    EXPECT_EQ(field->GetText(), "");
    EXPECT_EQ(changes, std::vector<std::string>{""});
    EXPECT_EQ(field->GetLastValidText(), "");

    field->SetInputFormat(itFloat);
    field->SetDecPlaceSep(dsComma);
    field->SetText("1,5");
    EXPECT_EQ(field->GetText(), "1,5");
    field->SetDecPlaceSep(dsDot);
    EXPECT_EQ(field->GetText(), "");
}

TEST_F(NumIOTest, RangeSettersSwapCrossedBounds) {
    field->SetRangeLow(5);
    field->SetRangeHigh(10);
    field->SetRangeLow(20); // above the high: the old high becomes the low
    EXPECT_EQ(field->GetRangeLow(), 10);
    EXPECT_EQ(field->GetRangeHigh(), 20);
    field->SetRangeHigh(3); // below the low: the old low becomes the high
    EXPECT_EQ(field->GetRangeLow(), 3);
    EXPECT_EQ(field->GetRangeHigh(), 10);
    field->SetRangeLow(10); // equal to the high counts as above
    EXPECT_EQ(field->GetRangeLow(), 10);
    EXPECT_EQ(field->GetRangeHigh(), 10);
}

TEST_F(NumIOTest, RangeSetterRechecksEvenWithoutAChange) {
    field->SetInputFormat(itInt);
    field->SetRangeLow(0);
    field->SetRangeHigh(100);
    field->SetText("50");
    changes.clear();
    field->SetRangeHigh(100);
    EXPECT_EQ(changes, std::vector<std::string>{"50"});
    field->SetRangeHigh(20); // 50 no longer fits: the field empties
    EXPECT_EQ(field->GetText(), "");
}

TEST(NumIO, RangeDependsOnTheDesignState) {
    QWidget runtime;
    TNumIO plain(&runtime);
    EXPECT_EQ(plain.GetRangeLow(), 0);
    EXPECT_EQ(plain.GetRangeHigh(), 0);
    EXPECT_EQ(plain.GetInputFormat(), itDynamic);
    EXPECT_EQ(plain.GetDecPlaceSep(), dsDot);
    EXPECT_FALSE(plain.GetBeep());
    EXPECT_EQ(plain.parentWidget(), &runtime);
    plain.SetText("0");
    EXPECT_EQ(plain.GetText(), "0");
    plain.SetText("1"); // only 0 fits until a range is set
    EXPECT_EQ(plain.GetText(), "0");

    QWidget designer;
    SetWidgetDesigning(&designer, true);
    TNumIO designed(&designer);
    EXPECT_EQ(designed.GetRangeLow(), -1.7e308);
    EXPECT_EQ(designed.GetRangeHigh(), 1.7e308);
    designed.SetText("1e5000"); // limited to the range's edge, so it fits
    EXPECT_EQ(designed.GetText(), "1e5000");
    double v = 0;
    ASSERT_TRUE(designed.ParseNumber(designed.GetText(), v));
    EXPECT_EQ(v, 1.7e308);
}

TEST(NumIO, AssignCopiesSettingsWithoutChecking) {
    QWidget form;
    TNumIO source(&form), dest(&form);
    dest.SetRangeLow(0);
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

    TNumIO other(&form);
    source.AssignTo(&other);
    EXPECT_EQ(other.GetInputFormat(), itHex);
    EXPECT_EQ(other.GetRangeHigh(), 30);
}

TEST(NumIO, AssignWithOtherClassesRaisesTheConversionError) {
    QWidget form;
    TNumIO field(&form);
    QLineEdit edit(&form);
    try {
        field.Assign(&edit);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a QLineEdit to a TNumIO");
    }
    try {
        field.AssignTo(&edit);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TNumIO to a QLineEdit");
    }
    EXPECT_THROW(field.Assign(nullptr), EConvertError);
}

} // namespace
