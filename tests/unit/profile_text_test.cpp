#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>
#include <string>

#include "driver/translate.h"
#include "platform/host.h"
#include "platform/profile_text.h"
#include "platform/text.h"

namespace corvane {
namespace {

using platform::ReadProfileStringFromText;

TEST(ProfileTextTest, LooksUpLikeThePrivateProfileReader) {
  const std::string file =
      "; error map\r\n"
      "15=stray before any section\r\n"
      "[Other]\r\n"
      "15=5\r\n"
      "  [ errors ]  \r\n"
      "  15  =  0  \r\n"
      "16=\"  quoted  \"\r\n"
      "17='single'\r\n"
      "18=\"unbalanced'\r\n"
      "no equals sign here\r\n"
      "15=second value loses\n"
      "ALPHA=lf only\n"
      "[Errors]\n"
      "19=later section of the same name\n";
  struct Case {
    const char* section;
    const char* key;
    std::string expected;
  };
  const Case cases[] = {
      {"Errors", "15", "0"},
      {"ERRORS", "15", "0"},
      {"Errors", "16", "  quoted  "},
      {"Errors", "17", "single"},
      {"Errors", "18", "\"unbalanced'"},
      {"Errors", "alpha", "lf only"},
      {"Errors", "19", "later section of the same name"},
      {"Errors", "no equals sign here", "dflt"},
      {"Errors", "20", "dflt"},
      {"Missing", "15", "dflt"},
      {"Other", "15", "5"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReadProfileStringFromText(file, c.section, c.key, "dflt"), c.expected)
        << c.section << "/" << c.key;
}

TEST(ProfileTextTest, ReturnsAtMost99Characters) {
  const std::string longText(150, 'x');
  EXPECT_EQ(ReadProfileStringFromText("[Errors]\n1=" + longText + "\n", "Errors", "1", ""),
            std::string(99, 'x'));
  EXPECT_EQ(ReadProfileStringFromText("", "Errors", "1", longText), std::string(99, 'x'));
  EXPECT_EQ(ReadProfileStringFromText("\xEF\xBB\xBF[Errors]\n1=bom\n", "Errors", "1", ""), "bom");
}

TEST(ConvertLikeAtoiTest, ReadsLeadingNumberAndSaturates) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"7abc", 7},
      {"abc", 0},
      {"-2", -2},
      {"", 0},
      {" \t+15", 15},
      {"- 3", 0},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
      {"0017", 17},
  };
  for (const Case& c : cases) EXPECT_EQ(driver::ConvertLikeAtoi(c.text), c.expected) << c.text;
}

TEST(TextTest, Utf8ConversionReplacesBrokenSequences) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const Case cases[] = {
      {"abc", u"abc"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\x80"
       "a",
       u"\uFFFD"
       "a"},  // stray continuation byte
      {"\xE2\x82"
       "a",
       u"\uFFFD"
       "a"},                            // truncated sequence
      {"\xC0\xAF", u"\uFFFD"},          // overlong slash
      {"\xED\xA0\x80", u"\uFFFD"},      // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD"},  // beyond U+10FFFF
      {"\xE2", u"\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::ToWide(c.narrow), c.wide) << c.narrow;
  EXPECT_EQ(platform::ToNarrow(u"\U0001F600\u00E9"), "\xF0\x9F\x98\x80\xC3\xA9");
  EXPECT_EQ(platform::ToNarrow(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
}

TEST(TextTest, CompareNoCaseFoldsAsciiOnly) {
  EXPECT_EQ(platform::CompareNoCase("Setup Password", "SETUP PASSWORD"), 0);
  EXPECT_EQ(platform::CompareNoCase("\xC3\xA9", "\xC3\x89"), 1);  // é and É stay distinct
  EXPECT_LT(platform::CompareNoCase("abc", "ABCD"), 0);
  EXPECT_GT(platform::CompareNoCase("b", "A"), 0);
  EXPECT_EQ(platform::Trim(" \t\r\nx y\r\n"), "x y");
  EXPECT_EQ(platform::AsciiUpper("corvane-\xC3\xA9"), "CORVANE-\xC3\xA9");
}

TEST(NativeHostTest, WritesFilesWholeOrNotAtAll) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("corvane_host_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir / "sub");
  auto host = platform::CreateNativeHost();
  const std::string target = (dir / "out.txt").string();

  ASSERT_TRUE(host->WriteFileAtomically(target, "first\n", true));
  ASSERT_TRUE(host->WriteFileAtomically(target, "[Errors]\n1=2\n", true));
  std::string bytes;
  ASSERT_TRUE(host->ReadFile(target, bytes));
  EXPECT_EQ(bytes, "[Errors]\n1=2\n");
  EXPECT_EQ(host->ReadProfileString("Errors", "1", "1", target), "2");
  EXPECT_EQ(host->ReadProfileString("Errors", "1", "1", (dir / "none.cfg").string()), "1");

  EXPECT_FALSE(host->WriteFileAtomically((dir / "missing" / "x.txt").string(), "x", false));
  EXPECT_FALSE(host->WriteFileAtomically((dir / "sub").string(), "x", false));  // a directory
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2u) << "a failed write left a temporary file behind";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace corvane
