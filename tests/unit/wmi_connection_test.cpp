#include "wmi/wmi_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/password_step.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "legacy/bios_access.h"

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
                              {"D:\\lib\\tarNIX.dll", "D:\\lib\\tarNIX.dll"}}) {
    BiosAccess access;
    EXPECT_EQ(access.LoadManagementLibrary(path, 0, 1), 0);
    EXPECT_EQ(access.loadedPath(), loaded);
  }
}

TEST_F(WmiTest, PasswordStepWithoutTheProviderReportsTheLibraryFailure) {
  fake.provider.connects = false;
  const char* argv[] = {"corvane", "/nspwd:new"};
  BiosAccess access;
  driver::PasswordState state;
  host.libraryPath = "C:\\tmp\\Tarnix.dll";
  driver::ManagementLibrary library;
  EXPECT_EQ(driver::RunPasswordStep(access, 2, argv, library, false, state), 10);
  EXPECT_EQ(access.loadedPath(), "C:\\tmp\\Tarnix.dll");
  EXPECT_NE(host.out.find("<ERROR msg=\"Failed to change the Setup Password."), std::string::npos);
}

}  // namespace
}  // namespace corvane::wmi
