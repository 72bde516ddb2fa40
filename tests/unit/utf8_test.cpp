// UTF-8 to UTF-16 and back at the edges of each sequence length: the smallest code of a length
// decodes, one that a shorter sequence could carry (overlong) is replaced.
#include <gtest/gtest.h>

#include <string>

#include "platform/utf8.h"

namespace corvane {
namespace {

TEST(Utf8Test, EachLengthStartsAtItsSmallestCode) {
  struct Case {
    const char* utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"\xC2\x80", u"\u0080"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xC1\xBF", u"\uFFFD"},
      {"\xE0\x9F\xBF", u"\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD"},  // a surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    if (c.utf16 != u"\uFFFD") {
      EXPECT_EQ(platform::Utf16ToUtf8(c.utf16), c.utf8);
    }
  }
}

}  // namespace
}  // namespace corvane
