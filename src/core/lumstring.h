// String editing. Strings are UTF-8; positions count bytes from 1 and 0
// means "not found", as the library's callers expect. Characters passed as
// Ch are single bytes (ASCII separators in practice).
#pragma once

#include <cstdint>
#include <string>

namespace lum {

// Position of the N-th occurrence of Sub in S (occurrences may overlap);
// 0 when there are fewer, or for an empty Sub or N < 1.
int StrPosEx(const std::string& sub, const std::string& s, int n);
// Position of Sub in the part of S starting at From, counted from From
// (1 means at From); 0 when absent.
int PosEx(int from, const std::string& sub, const std::string& s);
// Position of the last occurrence of Sub; 0 when absent.
int PosRight(const std::string& sub, const std::string& s);

// Removes everything before the first Ch (nothing when Ch is absent).
void DeleteLeft(std::string& s, char ch);
// Removes everything after the last Ch; S becomes empty when Ch is absent.
void DeleteRight(std::string& s, char ch);
// The part before the first Ch (empty when absent) and after the last Ch
// (S itself when absent).
std::string LeftEnd(const std::string& s, char ch);
std::string RightEnd(const std::string& s, char ch);
// The first and the last N bytes (all of S when it is shorter).
std::string LeftStr(const std::string& s, int n);
std::string RightStr(const std::string& s, int n);

// S right-aligned, left-aligned or centred in Len characters of Ch; S
// unchanged when it is not shorter than Len.
std::string PadLeft(const std::string& s, char ch, int len);
std::string PadRight(const std::string& s, char ch, int len);
std::string PadEnds(const std::string& s, char ch, int len);
std::string Replicate(const std::string& s, std::uint8_t count);

// Case-insensitive equality by the case rules of the user's locale (a
// UTF-8 locale; C.UTF-8 when the user's is not).
bool Equal(const std::string& s1, const std::string& s2);

// Upper case of ASCII letters and the German umlauts: the code-page
// characters 228, 246, 252 become 196, 214, 220. The string form works on
// UTF-8 text (U+00E4 becomes U+00C4 and so on); other characters stay.
char DUpCase(char ch);
char32_t DUpCase(char32_t ch);
std::string DUpperCase(const std::string& s);

// S padded on the left with "0" to 8 characters, its first 8 characters
// read as hexadecimal digits; any other character counts as digit 0.
std::uint32_t HexToInt(const std::string& s);

} // namespace lum
