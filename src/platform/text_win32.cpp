// Narrow text is the system's ANSI code page; the conversions and the comparison use it.
#include <windows.h>

#include <mbstring.h>

#include <climits>
#include <string>

#include "platform/text.h"

namespace corvane::platform {

std::u16string ToWide(std::string_view narrow) {
  if (narrow.empty() || narrow.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(narrow.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, wide.data(), needed);
  if (written <= 0) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(wide.data()),
                        static_cast<std::size_t>(written));
}

std::string ToNarrow(std::u16string_view wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(wide.size());
  const auto* source = reinterpret_cast<const wchar_t*>(wide.data());
  const int needed = WideCharToMultiByte(CP_ACP, 0, source, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, 0, source, length, narrow.data(), needed, nullptr, nullptr);
  if (written <= 0) return {};
  narrow.resize(static_cast<std::size_t>(written));
  return narrow;
}

// The C runtime's multibyte-aware comparison of the ANSI code page. It stops at a zero byte,
// so a text with embedded zeros is compared piece by piece.
int CompareNoCase(std::string_view a, std::string_view b) {
  const std::string left(a);
  const std::string right(b);
  std::size_t pos = 0;
  for (;;) {
    const auto* l = reinterpret_cast<const unsigned char*>(left.c_str() + pos);
    const auto* r = reinterpret_cast<const unsigned char*>(right.c_str() + pos);
    const int result = _mbsicmp(l, r);
    if (result == _NLSCMPERROR) {
      const int plain = left.compare(right);
      return plain < 0 ? -1 : (plain > 0 ? 1 : 0);
    }
    if (result != 0) return result;
    pos += std::char_traits<char>::length(left.c_str() + pos) + 1;
    if (pos > left.size() || pos > right.size()) break;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

}  // namespace corvane::platform
