// The walk over the command line's password options: each option of the selected kinds once, in
// order, the cursor left on it, and past the last argument once none is left.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "wmi/password_options.h"

namespace corvane {
namespace {

TEST(PasswordWalkTest, FindsEachOptionOfItsKindsInOrderThenEndsPastTheArguments) {
  const char* argv[] = {"corvane",    "/cspwd:one", "/SetConfig:f.txt",
                        "/nspwd:new", "/CSPWD:two", "/cspwd"};
  const int argc = 6;
  struct Case {
    int kinds;
    std::vector<std::pair<int, std::string>> found;
  };
  const Case cases[] = {
      {wmi::kCurrentPasswordOptions, {{1, "one"}, {4, "two"}}},
      {wmi::kNewPasswordOptions, {{3, "new"}}},
      {wmi::kAllPasswordOptions, {{1, "one"}, {3, "new"}, {4, "two"}}},
  };
  for (const Case& c : cases) {
    int cursor = -1;
    std::string value;
    std::string failedToken;
    std::vector<std::pair<int, std::string>> found;
    while (wmi::ParsePasswordOptionInForm(true, argc, argv, c.kinds, &cursor, value, failedToken))
      found.emplace_back(cursor, value);
    EXPECT_EQ(found, c.found) << c.kinds;
    EXPECT_EQ(cursor, argc) << c.kinds;
  }
  // Without a cursor the walk starts at the first argument.
  std::string value;
  std::string failedToken;
  EXPECT_TRUE(wmi::ParsePasswordOptionInForm(true, argc, argv, wmi::kNewPasswordOptions, nullptr,
                                             value, failedToken));
  EXPECT_EQ(value, "new");
  EXPECT_FALSE(wmi::ParsePasswordOptionInForm(true, 1, argv, wmi::kAllPasswordOptions, nullptr,
                                              value, failedToken));
}

}  // namespace
}  // namespace corvane
