#include "wmi/scan_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace corvane::wmi {
namespace {

TEST(ScanCodeTable, EveryTokenIsUniqueAndConvertsToItsOwnCode) {
  std::set<std::string> tokens;
  for (const ScanCodeEntry& entry : ScanCodeTable) {
    EXPECT_TRUE(tokens.insert(entry.token).second) << "duplicate " << entry.token;
    std::string codes, failed = "stale";
    ASSERT_TRUE(ConvertToScanCodes(entry.token, codes, failed)) << entry.token;
    EXPECT_EQ(codes, std::string(1, static_cast<char>(entry.code))) << entry.token;
    EXPECT_EQ(failed, "");
  }
  // The 46 character keys come in pairs: the SHIFTed token carries the key's code plus 0x80.
  for (std::size_t i = 0; i < 92; i += 2)
    EXPECT_EQ(ScanCodeTable[i + 1].code, ScanCodeTable[i].code + 0x80) << ScanCodeTable[i].token;
}

TEST(ConvertToScanCodes, ConvertsOrNamesTheFirstFailedToken) {
  struct Case {
    const char* text;
    std::string codes;   // expected on success
    std::string failed;  // non-empty: expected failure
  };
  const Case cases[] = {
      {"<lt>", "\xB3", ""},
      {"<LT>", "\xB3", ""},
      {"<keypad 5>", "\x4C", ""},
      {"<Space Bar>", "\x39", ""},
      {" ", "\x39", ""},
      {"Q", "\x90", ""},
      {"q", "\x10", ""},
      {"a<LT>b", "\x1E\xB3\x30", ""},
      {"", "", ""},
      {"<abc", "", "<"},
      {">", "", ">"},
      {"<<LT>", "", "<<LT>"},
      {"ab?c", "", "?"},
      {"a\tb", "", "\t"},
      {"\xE9", "", "\xE9"},
  };
  for (const Case& c : cases) {
    std::string codes = "stale", failed = "stale";
    EXPECT_EQ(ConvertToScanCodes(c.text, codes, failed), c.failed.empty()) << c.text;
    EXPECT_EQ(codes, c.codes) << c.text;  // no partial result on failure
    EXPECT_EQ(failed, c.failed) << c.text;
  }
  std::string shared = "ab", failed;  // the output may be the input's own storage
  ASSERT_TRUE(ConvertToScanCodes(shared, shared, failed));
  EXPECT_EQ(shared, "\x1E\x30");
}

}  // namespace
}  // namespace corvane::wmi
