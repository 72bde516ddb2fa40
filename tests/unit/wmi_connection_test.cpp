#include "wmi/wmi_connection.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "fake_wbem.h"
#include "legacy/bios_access.h"
#include "wmi/password_step.h"

namespace corvane::wmi {
namespace {

using testing::Int;
using testing::Str;
using testing::Strs;

class WmiTest : public ::testing::Test {
 protected:
  void SetUp() override { g_biosAccessProbe = g_jobProbe = {}; }
  void TearDown() override { g_biosAccessProbe = g_jobProbe = {}; }
  testing::FakeHost host;
  testing::ScopedFakeProvider fake;
};

TEST_F(WmiTest, MissingNullAndForeignPropertiesReadAsDefaults) {
  testing::FakeObject object({{u"Lumo_BIOSSetting"},
                              {{u"Null", wbem::Variant::Null()},
                               {u"Padded", Str(u" \tx y \r\n")},
                               {u"Seven", Int(7)},
                               {u"Yes", wbem::Variant::Bool(true)},
                               {u"List", Strs({u"a", u"--"})}}});
  for (const char16_t* name : {u"Missing", u"Null", u"Seven"})
    EXPECT_EQ(ReadStringProperty(object, name), "");
  EXPECT_EQ(ReadStringProperty(object, u"Padded"), "x y");
  for (const char16_t* name : {u"Missing", u"Null", u"Padded"})
    EXPECT_EQ(ReadIntProperty(object, name), -1);
  EXPECT_EQ(ReadIntProperty(object, u"Seven"), 7);
  EXPECT_EQ(ReadIntProperty(object, u"Yes"), 1);
  std::vector<std::u16string> items;
  EXPECT_FALSE(ReadArrayProperty(object, u"Null", items));
  EXPECT_TRUE(ReadArrayProperty(object, u"List", items));
  EXPECT_EQ(items.size(), 2u);
}

TEST_F(WmiTest, FindSetupPasswordTakesTheFirstNameMatch) {
  for (auto [name, id] :
       {std::pair{u"Power-On Password", 1}, {u"  setup PASSWORD\t", 2}, {u"Setup Password", 3}})
    fake.provider.instances.push_back(
        testing::Setting(u"Lumo_BIOSPassword", {{u"Name", Str(name)}, {u"Id", Int(id)}}));
  wbem::ObjectPtr found = FindSetupPassword();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(ReadIntProperty(*found, u"Id"), 2);
  fake.provider.connects = false;
  EXPECT_EQ(FindSetupPassword(), nullptr);
}

TEST_F(WmiTest, CachedProbeRemembersAFailedConnection) {
  fake.provider.connects = false;
  EXPECT_FALSE(HasSettingInterface(g_biosAccessProbe));
  fake.provider.connects = true;
  fake.provider.instances = {{{u"lumo_BIOSSettingInterface"}, {}}};
  const int connections = fake.provider.connections;
  EXPECT_FALSE(HasSettingInterface(g_biosAccessProbe));
  EXPECT_EQ(fake.provider.connections, connections);
  EXPECT_TRUE(HasSettingInterface(g_jobProbe));  // each cached form has its own pair
  EXPECT_TRUE(HasSettingInterface());
}

TEST_F(WmiTest, LibraryPathRules) {
  host.executablePath = "C:\\Tools\\corvane.exe";
  for (auto [path, loaded] : {std::pair<const char*, const char*>{nullptr, "C:\\Tools\\Tarnix.dll"},
                              {"\\", "C:\\Tools\\Tarnix.dll"},
                              {"D:\\lib", "D:\\lib\\Tarnix.dll"},
                              {"D:\\lib\\", "D:\\lib\\Tarnix.dll"},
                              {"D:\\lib\\tarNIX.dll", "D:\\lib\\tarNIX.dll"}}) {
    BiosAccess access;
    EXPECT_EQ(access.LoadManagementLibrary(path, 0, 1), 0);
    EXPECT_EQ(access.loadedPath(), loaded);
  }
}

// A firmware holding one text setup password: a change needs the right current password, and
// changing it to itself always works.
class PasswordStepTest : public WmiTest {
 protected:
  void Install(bool isSet) {
    fake.provider.instances = {
        {{u"lumo_BIOSSettingInterface"}, {{u"__RELPATH", Str(u"lumo_BIOSSettingInterface.X")}}},
        testing::Setting(u"Lumo_BIOSPassword", {{u"Name", Str(u"Setup Password")},
                                                {u"IsSet", Int(isSet ? 1 : 0)},
                                                {u"SupportedEncoding", Strs({u"utf-16"})}})};
    fake.provider.setBiosSetting = [this](const std::string&, const std::string& value,
                                          const std::string& password) {
      if (password != "<utf-16/>" + stored) return 1;
      if (value == password) return 0;
      if (!allowChange) return 1;
      stored = value.substr(9);
      return 0;
    };
  }
  int Run(const std::string& options, PasswordState& state) {
    std::istringstream words(options);
    std::vector<std::string> args{"corvane"};
    for (std::string word; words >> word;) args.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return RunPasswordStep(access, static_cast<int>(argv.size()), argv.data(), "C:\\tmp\\", state);
  }
  std::string stored;
  bool allowChange = true;
  BiosAccess access;
};

const std::string kFailed =
    "<ERROR msg=\"Failed to change the Setup Password. This may not be a supported platform or "
    "the new password is too long for this platform.\" />\n";
const std::string kWarning =
    "<WARNING msg=\"Attempt to change the password, but correct password not provided.\" />\n";
const std::string kSuccess = "<SUCCESS msg=\"Successfully modified the Setup Password.\" />\n";

TEST_F(PasswordStepTest, WalksCandidatesAndChangesThePassword) {
  struct Case {
    const char* options;
    std::string before;
    bool allowChange;
    std::string out;
    int resultCode;
    std::string current;  // "?": none accepted
    std::string after;
  };
  const Case cases[] = {
      {"/cspwd:wrong /cspwd:old /cspwd:other", "old", true, "", 0, "old", "old"},
      {"/cspwd:old /nspwd:new", "old", false, kFailed, 10, "old", "old"},
      {"/cspwd:old /nspwd:new", "new", true, "", 0, "new", "new"},
      {"/cspwd:old /nspwd:new", "secret", true, kWarning, 10, "?", "secret"},
      {"/cspwd:old /nspwd:", "old", true, kSuccess, 0, "", ""},
      {"/CurSetupPassword:old /NewSetupPassword:new /nspwd:x", "old", true, kSuccess, 0, "new",
       "new"},
      {"/nspwd:pw", "", true, kSuccess, 0, "pw", "pw"},  // no password set
  };
  for (const Case& c : cases) {
    host.out.clear();
    stored = c.before;
    allowChange = c.allowChange;
    PasswordState state;
    Install(!stored.empty());
    EXPECT_EQ(Run(c.options, state), c.resultCode) << c.options;
    EXPECT_EQ(host.out, c.out) << c.options;
    EXPECT_EQ(state.currentPasswordAccepted, c.current != "?") << c.options;
    EXPECT_EQ(state.currentPassword, c.current == "?" ? "" : c.current) << c.options;
    EXPECT_EQ(stored, c.after) << c.options;
  }
}

TEST_F(PasswordStepTest, UnconvertibleNewPasswordNeverClearsThePassword) {
  Install(false);
  fake.provider.instances.pop_back();  // no text passwords: values parse as scan codes
  PasswordState state;
  EXPECT_EQ(Run("/nspwd:a?b", state), 10);
  EXPECT_EQ(host.out, kFailed);
  EXPECT_TRUE(fake.provider.calls.empty());
}

TEST_F(PasswordStepTest, WithoutTheProviderTheLibraryPathIsTakenAndItsFailureReported) {
  fake.provider.connects = false;
  PasswordState state;
  EXPECT_EQ(Run("/nspwd:new", state), 10);
  EXPECT_EQ(access.loadedPath(), "C:\\tmp\\Tarnix.dll");
  EXPECT_EQ(host.out, kFailed);
  EXPECT_EQ(InvokeSetBIOSSetting("Setup Password", "", ""), -1);
}

}  // namespace
}  // namespace corvane::wmi
