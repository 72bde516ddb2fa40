#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <utility>

#include "driver/translate.h"
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
      {"Errors", "16", "  quoted  "},
      {"Errors", "17", "single"},
      {"Errors", "18", "\"unbalanced'"},
      {"Errors", "alpha", "lf only"},
      {"Errors", "19", "later section of the same name"},
      {"Errors", "no equals sign here", "dflt"},
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

// Trim reads only the text it is given, even where a view's next bytes are blanks too.
TEST(TrimTest, RemovesBlanksFromBothEndsOfTheGivenText) {
  const std::string around = "  \t\n\v\f\r ab c \r\n  x";
  const std::pair<std::string_view, const char*> cases[] = {
      {std::string_view(around).substr(0, around.size() - 4), "ab c"},
      {std::string_view(around).substr(0, 2), ""},
      {std::string_view(around).substr(9, 1), "b"},
      {std::string_view(), ""},
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(platform::Trim(text), trimmed) << text;
}

TEST(ConvertLikeAtoiTest, ReadsLeadingNumberAndSaturates) {
  const std::pair<const char*, int> cases[] = {{"7abc", 7},
                                               {"abc", 0},
                                               {"-20", -20},
                                               {"", 0},
                                               {" \t+15", 15},
                                               {"- 3", 0},
                                               {"2147483647", INT_MAX},
                                               {"-2147483648", INT_MIN},
                                               {"99999999999", INT_MAX},
                                               {"-99999999999", INT_MIN}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(driver::ConvertLikeAtoi(text), expected) << text;
}

}  // namespace
}  // namespace corvane
