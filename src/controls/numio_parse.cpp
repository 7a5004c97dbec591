// The number readers of NumIO: the float state machine, the integer
// readers and ParseNumber. No toolkit code here.
#include <clocale>
#include <cstdlib>
#include <locale.h>
#include <string>

#include "controls/numio.h"

namespace lum {

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The character at 1-based Pos, upper-cased; past either end the letter
// "Z", which every reader counts as other.
char At(std::string_view text, int pos) {
    if (pos < 1 || static_cast<std::size_t>(pos) > text.size()) return 'Z';
    return Upper(text[static_cast<std::size_t>(pos) - 1]);
}

enum State {
    sStart,
    sSign,
    sIntDigits,
    sPoint,
    sFracDigits,
    sExpMark,
    sExpSign,
    sExpDigits,
    sEnd,
    sError
};
enum Class { kSeparator, kSign, kSpace, kDigit, kE, kOther };

Class Classify(char c, TDecPSep sep) {
    // The separator test comes first: in the one-separator modes the other
    // character is just "other".
    if ((c == '.' && sep != dsComma) || (c == ',' && sep != dsDot)) return kSeparator;
    if (c == '+' || c == '-') return kSign;
    if (c == ' ') return kSpace;
    if (c >= '0' && c <= '9') return kDigit;
    if (c == 'E') return kE;
    return kOther;
}

// sExpMark stands for "ExpMark if the exponent is allowed, else End".
constexpr State kTable[8][6] = {
    // separator sign     space    digit        "E"       other
    {sPoint, sSign, sStart, sIntDigits, sError, sError},    // Start
    {sPoint, sError, sError, sIntDigits, sError, sError},   // Sign
    {sPoint, sEnd, sEnd, sIntDigits, sExpMark, sEnd},       // IntDigits
    {sError, sEnd, sEnd, sFracDigits, sExpMark, sEnd},      // Point
    {sError, sEnd, sEnd, sFracDigits, sExpMark, sEnd},      // FracDigits
    {sError, sExpSign, sError, sExpDigits, sError, sError}, // ExpMark
    {sError, sError, sError, sExpDigits, sError, sError},   // ExpSign
    {sEnd, sEnd, sEnd, sExpDigits, sEnd, sEnd},             // ExpDigits
};

// The exponent digits as a number, saturating well above the cap so that
// long runs cannot overflow.
long ExponentValue(const std::string& digits) {
    long v = 0;
    for (char c : digits) {
        v = v * 10 + (c - '0');
        if (v > 1000000) return 1000000;
    }
    return v;
}

// The conversion of an accepted text; always in the C locale, whatever
// the toolkit set for the process.
long double ToExtended(const std::string& text) {
    static locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtold_l(text.c_str(), nullptr, c_locale);
}

// Digits of Base taken from the table "0123456789ABCDEF", accumulated while
// the value stays within Limit.
std::uint64_t ReadDigits(std::string_view text, int& pos, unsigned base, std::uint64_t limit) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::uint64_t value = 0;
    while (true) {
        const std::size_t d = kDigits.find(At(text, pos));
        if (d == std::string_view::npos || d >= base) break;
        const std::uint64_t next = value * base + d;
        if (next > limit) break; // the digit stays unread
        value = next;
        ++pos;
    }
    return value;
}

void SkipSpaces(std::string_view text, int& pos) {
    while (pos >= 1 && static_cast<std::size_t>(pos) < text.size() &&
           text[static_cast<std::size_t>(pos) - 1] == ' ')
        ++pos;
}

} // namespace

double ReadFloat(std::string_view text, int& pos, bool allowExp, TDecPSep sep) {
    std::string accepted, exponent;
    State state = sStart;
    while (true) {
        const char c = At(text, pos);
        ++pos;
        const State previous = state;
        state = kTable[previous][Classify(c, sep)];
        if (state == sExpMark && !allowExp) state = sEnd;
        if (state == sExpDigits) {
            if (previous == sExpMark || previous == sExpSign)
                exponent.assign(1, c);
            else
                exponent += c;
        }
        if (state == sEnd || state == sError) break;
        if (ExponentValue(exponent) <= 4200) accepted += (c == ',' ? '.' : c);
    }
    --pos; // at the character that stopped the machine
    if (state != sEnd) return 0;
    if (!accepted.empty() && accepted.back() == '.') accepted += '0';
    long double v = ToExtended(accepted);
    constexpr long double kLimit = 1.7e308L;
    if (v > kLimit) v = kLimit;
    if (v < -kLimit) v = -kLimit;
    return static_cast<double>(v);
}

std::int32_t ReadDecimal(std::string_view text, int& pos) {
    SkipSpaces(text, pos);
    bool negative = false;
    const char c = At(text, pos);
    if (c == '-' || c == '+') {
        negative = c == '-';
        ++pos;
    }
    const std::uint64_t magnitude = ReadDigits(text, pos, 10, negative ? 2147483648u : 2147483647u);
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

std::uint32_t ReadHex(std::string_view text, int& pos) {
    SkipSpaces(text, pos);
    return static_cast<std::uint32_t>(ReadDigits(text, pos, 16, 0xFFFFFFFFu));
}

std::uint32_t ReadOctal(std::string_view text, int& pos) {
    SkipSpaces(text, pos);
    return static_cast<std::uint32_t>(ReadDigits(text, pos, 8, 0xFFFFFFFFu));
}

std::uint32_t ReadBinary(std::string_view text, int& pos) {
    SkipSpaces(text, pos);
    return static_cast<std::uint32_t>(ReadDigits(text, pos, 2, 0xFFFFFFFFu));
}

bool ParseNumber(std::string_view text, TInFormat format, TDecPSep sep, double& value) {
    value = 0;
    const std::size_t first = text.find_first_not_of(' ');
    std::string t(first == std::string_view::npos ? std::string_view() : text.substr(first));
    if (t.find(' ') != std::string::npos) return false;
    for (char& c : t)
        c = Lower(c);
    if (t.empty()) return true;

    if (format == itDynamic) {
        switch (t[0]) {
        case '$':
            format = itHex;
            break;
        case '%':
            format = itBin;
            break;
        case '&':
            format = itOct;
            break;
        default:
            format = itExp;
            break;
        }
    }
    auto dropPrefix = [&t](char prefix) {
        if (!t.empty() && t[0] == prefix) t.erase(0, 1);
    };
    int pos = 1;
    switch (format) {
    case itExp: {
        // A half-typed exponent ("1e", "1e+") counts as no exponent yet.
        const std::size_t e = t.find('e');
        if (e != std::string::npos &&
            (e + 1 == t.size() || (e + 2 == t.size() && (t[e + 1] == '+' || t[e + 1] == '-'))))
            t.erase(e);
        value = ReadFloat(t, pos, true, sep);
        break;
    }
    case itFloat:
        value = ReadFloat(t, pos, false, sep);
        break;
    case itInt:
        value = ReadDecimal(t, pos);
        break;
    case itHex:
        dropPrefix('$');
        value = ReadHex(t, pos);
        break;
    case itOct:
        dropPrefix('&');
        value = ReadOctal(t, pos);
        break;
    default:
        dropPrefix('%');
        value = ReadBinary(t, pos);
        break;
    }
    return static_cast<std::size_t>(pos) == t.size() + 1;
}

} // namespace lum
