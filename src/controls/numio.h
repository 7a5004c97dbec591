// The numeric input field (unit NumIO) and the number readers under it.
//
// The readers take a text and a 1-based position, read from there and
// leave the position at the character that stopped them (one past the end
// when they read it all). ParseNumber decides whether a whole text forms a
// number in a notation; the field calls it after every change of its text.
#pragma once

#include <QLineEdit>
#include <cstdint>
#include <string>
#include <string_view>

#include "controls/controls.h"

namespace lum {

enum TInFormat : std::uint8_t { itExp, itFloat, itInt, itHex, itOct, itBin, itDynamic };
enum TDecPSep : std::uint8_t { dsDot, dsComma, dsBoth };

// Limit of every value read: magnitudes beyond it become it.
inline constexpr double kNumIOLimit = 1.7e308;

// A decimal number with optional fraction and (when AllowExp) exponent.
// Exponent digits that would take the exponent past 4200 are read but
// dropped. A text that stops where no number can end (a lone sign) gives 0.
double ReadFloat(std::string_view text, int& pos, bool allowExp, TDecPSep sep);
// Optional sign and decimal digits. A digit that would take the value out
// of the signed 32-bit range is not read, so such a text does not qualify.
std::int32_t ReadDecimal(std::string_view text, int& pos);
// Hexadecimal, octal and binary digits; values are unsigned 32-bit and a
// digit that would overflow them is not read.
std::uint32_t ReadHex(std::string_view text, int& pos);
std::uint32_t ReadOctal(std::string_view text, int& pos);
std::uint32_t ReadBinary(std::string_view text, int& pos);

// Whether Text qualifies in Format (itDynamic: "$" hexadecimal, "%"
// binary, "&" octal, anything else itExp) with separators Sep, and its
// value. Leading spaces are ignored, any other space refuses the text; the
// empty text is 0.
bool ParseNumber(std::string_view text, TInFormat format, TDecPSep sep, double& value);

// A single-line field that only ever holds a number in its notation and
// range. It filters no keys: after every change of its text (typed, pasted
// or set) it checks the whole text; a text that does not qualify is
// replaced by the last one that did, the caret steps back by one and, with
// Beep, the system beeps. OnChange sees only texts that qualify.
//
// Made outside a form designer the range is 0 to 0, so set the range
// before the text.
class TNumIO : public QLineEdit {
public:
    explicit TNumIO(QWidget* owner = nullptr);

    TInFormat GetInputFormat() const { return FInputFormat; }
    void SetInputFormat(TInFormat value);
    TDecPSep GetDecPlaceSep() const { return FDecPlaceSep; }
    void SetDecPlaceSep(TDecPSep value);
    // A low at or above the high swaps: the old high becomes the low.
    double GetRangeLow() const { return FRangeLow; }
    void SetRangeLow(double value);
    // A high at or below the low swaps: the old low becomes the high.
    double GetRangeHigh() const { return FRangeHigh; }
    void SetRangeHigh(double value);
    bool GetBeep() const { return FBeep; }
    void SetBeep(bool value) { FBeep = value; }
    const std::string& GetLastValidText() const { return FLastValidText; }

    std::string GetText() const { return text().toStdString(); }
    void SetText(const std::string& value) { setText(QString::fromStdString(value)); }

    bool ParseNumber(std::string_view text, double& value) const;

    // From another TNumIO: notation, beep, range and separator, without
    // validating. Anything else raises the conversion error.
    void Assign(const QObject* source);
    void AssignTo(QObject* dest) const;

    TControlNotifyEvent OnChange;

protected:
    // Checks the present text and keeps it or puts the last valid one back.
    virtual void Change();

private:
    void Revalidate();

    TInFormat FInputFormat = itDynamic;
    std::string FLastValidText;
    bool FBeep = false;
    double FRangeLow = 0;
    double FRangeHigh = 0;
    TDecPSep FDecPlaceSep = dsDot;
    int FRestoring = 0;
};

} // namespace lum
