// UTF-8 and UTF-16, whatever the code page: the narrow text of Linux and the machine files.
#pragma once

#include <string>
#include <string_view>

namespace corvane::platform {

// Malformed input (stray or truncated sequences, lone surrogates, overlong forms) becomes
// U+FFFD; neither conversion fails.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace corvane::platform
