#include "core/lumstring.h"

#include <algorithm>
#include <cwctype>
#include <langinfo.h>
#include <locale.h>
#include <string_view>

namespace lum {
namespace {

int Pos1(std::size_t p) {
    return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

// The character classification that Equal folds with: the user's LC_CTYPE
// when it is UTF-8, else C.UTF-8 (which knows all of Unicode's cases).
locale_t FoldLocale() {
    static locale_t loc = [] {
        locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (user) {
            std::string_view codeset = ::nl_langinfo_l(CODESET, user);
            if (codeset == "UTF-8") return user;
            ::freelocale(user);
        }
        locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return utf8 ? utf8 : ::duplocale(LC_GLOBAL_LOCALE);
    }();
    return loc;
}

// Decodes one UTF-8 character at I; a byte that does not start a valid
// sequence stands for itself (as in Latin-1).
char32_t Decode(const std::string& s, std::size_t& i) {
    auto b = static_cast<unsigned char>(s[i]);
    int extra = b >= 0xF0 && b < 0xF5   ? 3
                : b >= 0xE0 && b < 0xF0 ? 2
                : b >= 0xC2 && b < 0xE0 ? 1
                                        : 0;
    if (extra == 0 || i + static_cast<std::size_t>(extra) >= s.size()) {
        ++i;
        return b;
    }
    char32_t c = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) {
            ++i;
            return b;
        }
        c = (c << 6) | (cb & 0x3F);
    }
    i += 1 + extra;
    return c;
}

} // namespace

int StrPosEx(const std::string& sub, const std::string& s, int n) {
    if (sub.empty() || n < 1) return 0;
    std::size_t p = std::string::npos;
    std::size_t from = 0;
    for (int i = 0; i < n; ++i) {
        p = s.find(sub, from);
        if (p == std::string::npos) return 0;
        from = p + 1;
    }
    return Pos1(p);
}

int PosEx(int from, const std::string& sub, const std::string& s) {
    if (sub.empty()) return 0;
    std::size_t start = from < 1 ? 0 : static_cast<std::size_t>(from - 1);
    if (start >= s.size()) return 0;
    std::size_t p = s.find(sub, start);
    return p == std::string::npos ? 0 : static_cast<int>(p - start) + 1;
}

int PosRight(const std::string& sub, const std::string& s) {
    if (sub.empty()) return 0;
    return Pos1(s.rfind(sub));
}

void DeleteLeft(std::string& s, char ch) {
    std::size_t p = s.find(ch);
    if (p != std::string::npos) s.erase(0, p);
}

void DeleteRight(std::string& s, char ch) {
    std::size_t p = s.rfind(ch);
    if (p == std::string::npos)
        s.clear();
    else
        s.erase(p + 1);
}

std::string LeftEnd(const std::string& s, char ch) {
    std::size_t p = s.find(ch);
    return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string RightEnd(const std::string& s, char ch) {
    std::size_t p = s.rfind(ch);
    return p == std::string::npos ? s : s.substr(p + 1);
}

std::string LeftStr(const std::string& s, int n) {
    if (n <= 0) return {};
    return s.substr(0, static_cast<std::size_t>(n));
}

std::string RightStr(const std::string& s, int n) {
    if (n <= 0) return {};
    auto count = std::min(static_cast<std::size_t>(n), s.size());
    return s.substr(s.size() - count);
}

std::string PadLeft(const std::string& s, char ch, int len) {
    if (len <= static_cast<int>(s.size())) return s;
    return std::string(static_cast<std::size_t>(len) - s.size(), ch) + s;
}

std::string PadRight(const std::string& s, char ch, int len) {
    if (len <= static_cast<int>(s.size())) return s;
    return s + std::string(static_cast<std::size_t>(len) - s.size(), ch);
}

std::string PadEnds(const std::string& s, char ch, int len) {
    if (len <= static_cast<int>(s.size())) return s;
    std::size_t total = static_cast<std::size_t>(len) - s.size();
    std::size_t left = total / 2;
    return std::string(left, ch) + s + std::string(total - left, ch);
}

std::string Replicate(const std::string& s, std::uint8_t count) {
    std::string out;
    out.reserve(s.size() * count);
    for (int i = 0; i < count; ++i)
        out += s;
    return out;
}

bool Equal(const std::string& s1, const std::string& s2) {
    locale_t loc = FoldLocale();
    std::size_t i = 0, j = 0;
    while (i < s1.size() && j < s2.size()) {
        auto a = static_cast<wint_t>(Decode(s1, i));
        auto b = static_cast<wint_t>(Decode(s2, j));
        if (a == b) continue;
        // Through upper case first, so that variant lower-case forms meet.
        if (::towlower_l(::towupper_l(a, loc), loc) != ::towlower_l(::towupper_l(b, loc), loc))
            return false;
    }
    return i == s1.size() && j == s2.size();
}

char DUpCase(char ch) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (c == 228 || c == 246 || c == 252) return static_cast<char>(c - 32);
    return ch;
}

char32_t DUpCase(char32_t ch) {
    if (ch >= U'a' && ch <= U'z') return ch - U'a' + U'A';
    if (ch == 228 || ch == 246 || ch == 252) return ch - 32;
    return ch;
}

std::string DUpperCase(const std::string& s) {
    std::string out = s;
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        } else if (c == 0xC3 && i + 1 < out.size()) {
            // U+00E4, U+00F6, U+00FC are C3 A4, C3 B6, C3 BC.
            auto n = static_cast<unsigned char>(out[i + 1]);
            if (n == 0xA4 || n == 0xB6 || n == 0xBC) out[i + 1] = static_cast<char>(n - 32);
            ++i;
        }
    }
    return out;
}

std::uint32_t HexToInt(const std::string& s) {
    std::string digits = s.size() < 8 ? std::string(8 - s.size(), '0') + s : s.substr(0, 8);
    std::uint32_t v = 0;
    for (char ch : digits) {
        unsigned d = 0;
        if (ch >= '0' && ch <= '9')
            d = static_cast<unsigned>(ch - '0');
        else if (ch >= 'a' && ch <= 'f')
            d = static_cast<unsigned>(ch - 'a' + 10);
        else if (ch >= 'A' && ch <= 'F')
            d = static_cast<unsigned>(ch - 'A' + 10);
        v = (v << 4) | d;
    }
    return v;
}

} // namespace lum
