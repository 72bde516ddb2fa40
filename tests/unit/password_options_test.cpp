#include "wmi/password_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "fake_wbem.h"

namespace corvane::wmi {
namespace {

using testing::Int;
using testing::Str;
using testing::Strs;

// Every value the walk finds in the options (after a program name), in order.
std::vector<std::string> Walk(std::vector<const char*> options, int kinds, bool textForm = true,
                              std::string* failed = nullptr) {
  options.insert(options.begin(), "corvane");
  std::vector<std::string> values;
  std::string value, token;
  int cursor = -1;
  while (ParsePasswordOptionInForm(textForm, static_cast<int>(options.size()), options.data(),
                                   kinds, &cursor, value, failed ? *failed : token))
    values.push_back(value);
  EXPECT_EQ(cursor, static_cast<int>(options.size()));
  return values;
}

TEST(ParsePasswordOption, RowsKindsAndArgumentsPassedOver) {
  using V = std::vector<std::string>;
  for (const char* argument : {"/CURADMINPASSWORD:pw", "/cursetuppassword:pw", "/cspwd:pw",
                               "/cspwdXpw", "/CSPWD:pw", "/NewAdminPassword:pw", "/nspwd:pw"})
    EXPECT_EQ(Walk({argument}, kAllPasswordOptions), V{"pw"}) << argument;
  // A new password may be empty; a current one may not, and a short match is passed over.
  EXPECT_EQ(Walk({"/NEWSETUPPASSWORD:", "/nspwd:", "/nspwd:a <b>"}, 3), V({"", "", "a <b>"}));
  EXPECT_EQ(Walk({"/cspwd:", "/CURSETUPPASSWORD:", "/CURADMINPASSWORD:", "/cspwd", "/nspwd",
                  "/NEWSETUPPASSWORD", "/cs", "/SetConfig:x", "/cspwd:next"},
                 kAllPasswordOptions),
            V{"next"});
  const std::vector<const char*> options = {"/nspwd:new", "/cspwd:cur", "/nspwd:second"};
  EXPECT_EQ(Walk(options, kCurrentPasswordOptions), V{"cur"});
  EXPECT_EQ(Walk(options, kNewPasswordOptions), V({"new", "second"}));
  EXPECT_EQ(Walk(options, kAllPasswordOptions), V({"new", "cur", "second"}));
}

TEST(ParsePasswordOption, ScanFormConvertsAndTextFormKeepsTheFailedToken) {
  std::string failed;
  EXPECT_EQ(Walk({"/cspwd:a b", "/cspwd:a?b"}, 3, false, &failed),
            std::vector<std::string>({"\x1E\x39\x30", ""}));
  EXPECT_EQ(failed, "?");
  EXPECT_EQ(Walk({"/cspwd:a?b"}, 3, true, &failed), std::vector<std::string>({"a?b"}));
  EXPECT_EQ(failed, "?");  // left as it was
}

TEST(PasswordEncodings, CurrentPasswordFollowsTheFirstRuleThatApplies) {
  EXPECT_EQ(EncodeKbdPassword("\x90"), "<kbd/>90");
  EXPECT_EQ(EncodeKbdPassword(""), "<kbd/>");
  struct Case {
    bool connects;
    const char16_t* encoding;
    int isSet, pwdSetFrom;  // -1: no such property
    const char* password;
    const char* expected;
  };
  const Case cases[] = {
      {false, u"utf-16", 1, 0, "\x1E\x30", "<kbd/>1E30"},  // no provider
      {true, u"kbd", 1, 0, "\x1E\x30", "<kbd/>1E30"},      // no text passwords
      {true, u"utf-16", 0, 0, "a <b>", "<utf-16/>a <b>"},  // no password set
      {true, u"utf-16", 1, -1, "ab", "<utf-16/>ab"},       // set from text
      {true, u"utf-16", 1, 0, "ab", "<kbd/>1E30"},         // set from keys
      {true, u"utf-16", 1, 0, "a?b", ""},
  };
  for (const Case& c : cases) {
    testing::FakeHost host;
    testing::ScopedFakeProvider fake;
    fake.provider.connects = c.connects;
    auto setup = testing::Setting(
        u"Lumo_BIOSPassword",
        {{u"Name", Str(u"Setup Password")}, {u"SupportedEncoding", Strs({c.encoding})}});
    for (auto [name, value] : {std::pair{u"IsSet", c.isSet}, {u"PwdSetFrom", c.pwdSetFrom}})
      if (value >= 0) setup.properties[name] = Int(value);
    fake.provider.instances = {setup};
    EXPECT_EQ(EncodeCurrentPassword(c.password), c.expected) << c.password;
  }
}

}  // namespace
}  // namespace corvane::wmi
