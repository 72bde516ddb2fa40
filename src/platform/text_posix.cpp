// The narrow code page here is UTF-8.
#include "platform/text.h"
#include "platform/utf8.h"

namespace corvane::platform {
namespace {

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

std::u16string ToWide(std::string_view narrow) {
  return Utf8ToUtf16(narrow);
}

std::string ToNarrow(std::u16string_view wide) {
  return Utf16ToUtf8(wide);
}

// Bytes of multibyte UTF-8 sequences are all >= 0x80 and compared unchanged, so a lead or
// continuation byte can never be mistaken for an ASCII letter.
int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char left = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char right = FoldAscii(static_cast<unsigned char>(b[i]));
    if (left != right) return left < right ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace corvane::platform
