// Narrow text of the system's ANSI code page (UTF-8 on Linux) and the UTF-16 text of the
// provider boundary, and the code page's case-insensitive comparison.
#pragma once

#include <string>
#include <string_view>

namespace corvane::platform {

std::u16string ToWide(std::string_view narrow);
std::string ToNarrow(std::u16string_view wide);

// The code page's multibyte-aware case-insensitive comparison: <0, 0 or >0.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return CompareNoCase(a, b) == 0;
}

// Whether the text reaches the provider as it is: it holds no zero byte, which would end it
// there, and it comes back unchanged from UTF-16 (bytes that are no text of the code page
// would arrive as replacement characters).
bool ConvertsLosslessly(std::string_view narrow);

// Upper-cases ASCII letters only, leaving every other byte alone.
std::string AsciiUpper(std::string_view text);

// Whether the first count characters of text equal those of prefix, ASCII case ignored: the
// way command-line options are recognised, so longer arguments match as well.
bool StartsWithNoCase(std::string_view text, std::string_view prefix, std::size_t count);

// A key that every pair of case-insensitively equal texts shares, for indexes that keep the
// comparison's first-match answers: the ASCII part before the first byte the code page may
// fold on its own terms (a multibyte or non-ASCII byte, or a zero byte, where the comparison
// stops) is upper-cased, and the rest is represented by the length only, since equal texts
// always have equal lengths. Texts that share a key are told apart by the comparison itself.
std::string NoCaseKey(std::string_view text);

// Removes space, tab, line feed, vertical tab, form feed and carriage return from both ends.
std::string Trim(std::string_view text);

}  // namespace corvane::platform
