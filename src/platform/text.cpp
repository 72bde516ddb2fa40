#include "platform/text.h"

namespace corvane::platform {
namespace {

char FoldAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool ConvertsLosslessly(std::string_view narrow) {
  return narrow.find('\0') == std::string_view::npos && ToNarrow(ToWide(narrow)) == narrow;
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = FoldAscii(c);
  return upper;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix, std::size_t count) {
  if (text.size() < count || prefix.size() < count) return false;
  for (std::size_t i = 0; i < count; ++i)
    if (FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
  return true;
}

std::string NoCaseKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x80 || byte == 0) {
      key.push_back('\x80');
      key.append(std::to_string(name.size()));
      return key;
    }
    key.push_back(byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 'a' + 'A')
                                             : static_cast<char>(byte));
  }
  return key;
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace corvane::platform
