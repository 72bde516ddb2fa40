// UTF-8 written out by hand so that it never depends on the process locale.
#include "platform/utf8.h"

namespace corvane::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes one code point at text[pos] and advances pos. Anything malformed (a stray
// continuation byte, a truncated or overlong sequence, an encoded surrogate, a value above
// U+10FFFF) becomes U+FFFD and consumes only the bytes that belonged to the broken sequence.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  struct Form {
    unsigned char mask, pattern;
    int length;
    char32_t minimum;
  };
  static constexpr Form kForms[] = {
      {0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
  const Form* form = nullptr;
  for (const Form& candidate : kForms)
    if ((lead & candidate.mask) == candidate.pattern) form = &candidate;
  if (form == nullptr) return kReplacement;
  const int length = form->length;
  const char32_t minimum = form->minimum;
  char32_t code = lead & static_cast<unsigned char>(~form->mask);
  for (int i = 1; i < length; ++i) {
    if (pos >= text.size() || !IsContinuation(static_cast<unsigned char>(text[pos])))
      return kReplacement;
    code = (code << 6) | (static_cast<unsigned char>(text[pos++]) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return kReplacement;
  return code;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view narrow) {
  std::u16string wide;
  wide.reserve(narrow.size());
  std::size_t pos = 0;
  while (pos < narrow.size()) {
    const char32_t code = DecodeUtf8(narrow, pos);
    if (code < 0x10000) {
      wide.push_back(static_cast<char16_t>(code));
    } else {
      const char32_t offset = code - 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    }
  }
  return wide;
}

std::string Utf16ToUtf8(std::u16string_view wide) {
  std::string narrow;
  narrow.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    char32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      code = kReplacement;  // a surrogate without its partner
    }
    AppendUtf8(narrow, code);
  }
  return narrow;
}

}  // namespace corvane::platform
