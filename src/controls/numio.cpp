#include "controls/numio.h"

#include <algorithm>
#include <cmath>

#include "platform/base/exception.h"

namespace lum {

TNumIO::TNumIO(QWidget* owner) : QLineEdit(owner) {
    FInputFormat = itDynamic;
    setText(QString());
    FLastValidText = GetText();
    FBeep = false;
    // In a designer the field takes any value; made at run time it waits
    // for its range.
    const bool designing = IsDesigning(owner);
    FRangeLow = designing ? -kNumIOLimit : 0;
    FRangeHigh = designing ? kNumIOLimit : 0;
    // Every change of the text, typed, pasted or set, comes through here.
    connect(this, &QLineEdit::textChanged, this, [this](const QString&) { Change(); });
}

bool TNumIO::ParseNumber(std::string_view text, double& value) const {
    return lum::ParseNumber(text, FInputFormat, FDecPlaceSep, value);
}

void TNumIO::Change() {
    const std::string current = GetText();
    double value = 0;
    if (ParseNumber(current, value) && FRangeLow <= value && value <= FRangeHigh) {
        FLastValidText = current;
        if (OnChange) OnChange(this);
        return;
    }
    // Putting the last valid text back is a change of its own and comes
    // back here. When even that text is refused (a setter emptied it and
    // the range excludes 0) there is nothing better to put back: the
    // outer call moves the caret and beeps once.
    if (FRestoring > 0) return;
    const int caret = cursorPosition();
    ++FRestoring;
    setText(QString::fromStdString(FLastValidText));
    --FRestoring;
    setCursorPosition(std::max(caret - 1, 0));
    repaint();
    if (FBeep) MessageBeep();
}

void TNumIO::Revalidate() {
    FLastValidText.clear();
    Change();
}

void TNumIO::SetInputFormat(TInFormat value) {
    if (FInputFormat == value) return;
    FInputFormat = value;
    Revalidate();
}

void TNumIO::SetDecPlaceSep(TDecPSep value) {
    if (FDecPlaceSep == value) return;
    FDecPlaceSep = value;
    Revalidate();
}

void TNumIO::SetRangeLow(double value) {
    if (std::isnan(value)) return; // would refuse every text
    if (value >= FRangeHigh) {
        FRangeLow = FRangeHigh;
        FRangeHigh = value;
    } else {
        FRangeLow = value;
    }
    Revalidate();
}

void TNumIO::SetRangeHigh(double value) {
    if (std::isnan(value)) return;
    if (value > FRangeLow) {
        FRangeHigh = value;
    } else {
        FRangeHigh = FRangeLow;
        FRangeLow = value;
    }
    Revalidate();
}

void TNumIO::Assign(const QObject* source) {
    if (auto* other = dynamic_cast<const TNumIO*>(source)) {
        FInputFormat = other->FInputFormat;
        FBeep = other->FBeep;
        FRangeLow = other->FRangeLow;
        FRangeHigh = other->FRangeHigh;
        FDecPlaceSep = other->FDecPlaceSep;
        return;
    }
    throw EConvertError::CannotAssign(ObjectClassName(source), ObjectClassName(this));
}

void TNumIO::AssignTo(QObject* dest) const {
    // Only another field can take these values; handing an edit of another
    // kind back to its own assignment would only come back here.
    if (auto* other = dynamic_cast<TNumIO*>(dest)) {
        other->Assign(this);
        return;
    }
    throw EConvertError::CannotAssign(ObjectClassName(this), ObjectClassName(dest));
}

} // namespace lum
