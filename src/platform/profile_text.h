// The sectioned (private-profile) file format read the way the Windows reader reads it, so
// that one error-map file gives the same answers on every platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::platform {

// The most of a sectioned file that is read: an error map is a few lines.
inline constexpr std::size_t kMaxProfileFileBytes = std::size_t{1} << 20;

// The value of key in section of the file text, or defaultValue when the section or key is
// missing. Sections and keys match case-insensitively, blanks around keys and values are
// trimmed, one pair of enclosing quotes is removed, and at most 99 characters are returned.
std::string ReadProfileStringFromText(std::string_view fileText, std::string_view section,
                                      std::string_view key, std::string_view defaultValue);

}  // namespace corvane::platform
