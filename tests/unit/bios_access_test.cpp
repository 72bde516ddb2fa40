#include "legacy/bios_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_host.h"
#include "fake_library.h"
#include "fake_wbem.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

using testing::FakeLibrary;

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override { wmi::g_biosAccessProbe = wmi::g_jobProbe = {}; }
  void TearDown() override { wmi::g_biosAccessProbe = wmi::g_jobProbe = {}; }
  testing::FakeHost host;
  testing::ScopedFakeProvider provider;  // no provider: every answer comes from the library
  FakeLibrary library;
};

std::string g_lockCopy;
std::uint32_t g_lockLength = 0;
std::int32_t LockState(const char* password, std::uint32_t length, std::int32_t state,
                       std::uint8_t* status) {
  g_lockCopy.assign(password, std::max<std::uint32_t>(length + 1, 4));
  g_lockLength = length;
  *status = static_cast<std::uint8_t>(state == 0 ? 128 : 0);
  return state;
}

std::string g_changedFrom, g_changedTo;
std::int32_t ChangeAdminPassword(const char* current, const char* next) {
  g_changedFrom = current;
  g_changedTo = next;
  return g_changedFrom == "right" ? 0 : 1;
}

std::int32_t Interrupt(std::int32_t, void*, std::uint32_t, std::uint8_t*) {
  return 1;
}

TEST_F(BindingTest, LibraryPathOnThisSystemUsesItsOwnSeparator) {
  BiosAccess access;
  access.LoadManagementLibrary("/run/user/0/corvane", 0, 1);
  EXPECT_EQ(access.loadedPath(), "/run/user/0/corvane/Tarnix.dll");
  access.LoadManagementLibrary("/run/user/0/corvane/", 0, 1);
  EXPECT_EQ(access.loadedPath(), "/run/user/0/corvane/Tarnix.dll");
  access.LoadManagementLibrary(nullptr, 0, 1);
  EXPECT_EQ(library.loadedPaths.back(), "/opt/corvane/Tarnix.dll");
}

TEST_F(BindingTest, ArgumentsReachTarnixInitOnlyWhenEveryRequiredNameResolves) {
  library.machineId = 0x1234053C;
  {
    BiosAccess access;
    EXPECT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
    EXPECT_EQ(library.initArguments, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(access.GetMachineId(), 0x1234053Cu);
    access.UnloadManagementLibrary();
    EXPECT_EQ(access.GetMachineId(), 0u);
    EXPECT_EQ(library.openLibraries, 0);
  }
  library.Remove("TarnixGetDriverVersion");  // required: loaded, never initialised
  library.initArguments.clear();
  BiosAccess access;
  EXPECT_EQ(access.LoadManagementLibrary("/lib", 0, 0), 0);
  EXPECT_TRUE(library.initArguments.empty());
  EXPECT_EQ(library.openLibraries, 1);
  EXPECT_EQ(access.GetMachineId(), 0u);
  std::uint32_t bytes = 7;
  EXPECT_EQ(access.GetSysObjListSize(&bytes), 0);
  EXPECT_EQ(bytes, 7u);
}

TEST_F(BindingTest, OptionalEntryPointsMayBeMissing) {
  library.Set<legacy::TarnixCall16bitIntIOCtlFn>("TarnixCall16bitIntIOCtl", &Interrupt);
  BiosAccess access;
  ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
  std::uint8_t block[40] = {};
  std::uint8_t status = 0;
  EXPECT_EQ(access.CallInterrupt(0x15, block, sizeof block, &status), 1);

  library.Remove("TarnixCall16bitIntIOCtl");
  library.Remove("TarnixChangeAdminPassword");
  ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);  // still usable
  EXPECT_EQ(access.CallInterrupt(0x15, block, sizeof block, &status), 0);
  EXPECT_EQ(access.ChangeSetupPassword("a", "b"), static_cast<std::int32_t>(0x800A03E8u));
}

TEST_F(BindingTest, LockStateSeesAZeroPaddedCopyOfTheGivenLength) {
  library.Set<legacy::TarnixChangeSysObjLockStateFn>("TarnixChangeSysObjLockState", &LockState);
  BiosAccess access;
  ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
  std::uint8_t status = 0;
  EXPECT_EQ(access.ChangeLockState("pw", 2, 0, &status), 0);
  EXPECT_EQ(status, 128);
  EXPECT_EQ(g_lockCopy, std::string("pw\0\0", 4));
  // A length beyond the text never reads past it.
  EXPECT_EQ(access.ChangeLockState("secret", 9, 1, &status), 1);
  EXPECT_EQ(g_lockCopy, std::string("secret\0\0\0\0", 10));
}

TEST_F(BindingTest, LibraryPasswordPathClearsTheTopBitOfBothCopies) {
  library.Set<legacy::TarnixChangeAdminPasswordFn>("TarnixChangeAdminPassword",
                                                   &ChangeAdminPassword);
  BiosAccess access;
  ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
  EXPECT_EQ(access.ChangeSetupPassword("\xF2ight", "N\x85w"), 0);
  EXPECT_EQ(g_changedFrom, "right");
  EXPECT_EQ(g_changedTo, "N\x05w");
  EXPECT_TRUE(access.CheckSetupPassword("right"));
  EXPECT_FALSE(access.CheckSetupPassword("wrong"));
}

std::string g_converted;
// The library's converter: "ab" becomes F and G, keys the program's own converter would not give
// it; anything else fails.
std::int32_t ConvertToKeys(std::int32_t, const char* text, std::uint8_t* codes,
                           std::uint32_t* length) {
  g_converted = text;
  if (g_converted != "ab") return 0;
  codes[0] = 0x21;
  codes[1] = 0x22;
  *length = 2;
  return 1;
}

// With the provider present, BiosAccess changes the setup password through SetBIOSSetting; the
// current password takes its form from the setup password's state, and its scan codes, when it
// was set from keys, come from the library.
TEST_F(BindingTest, ProviderPasswordChangeEncodesBothPasswords) {
  using testing::Int;
  using testing::Str;
  using testing::Strs;
  struct Case {
    const char16_t* encoding;
    int isSet, pwdSetFrom;
    bool loaded;  // the library, and with it the converter
    const char* current;
    const char* expected;  // the SetBIOSSetting call
  };
  const Case cases[] = {
      {u"utf-16", 0, 0, true, "", "Setup Password|<utf-16/>new|<utf-16/>"},
      {u"utf-16", 1, 1, true, "ab", "Setup Password|<utf-16/>new|<utf-16/>ab"},
      {u"utf-16", 1, 0, true, "ab", "Setup Password|<utf-16/>new|<kbd/>2122"},
      {u"utf-16", 1, 0, true, "a?", "Setup Password|<utf-16/>new|"},
      {u"utf-16", 1, 0, false, "ab", "Setup Password|<utf-16/>new|"},
      {u"kbd", 1, 0, true, "\x1E\x30", "Setup Password|<kbd/>6E6577|<kbd/>1E30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    wmi::g_biosAccessProbe = {};
    g_converted.clear();
    library.Set<legacy::ConvertStringToKeyboardScanCodesFn>("ConvertStringToKeyboardScanCodes",
                                                            &ConvertToKeys);
    auto setup = testing::Setting(u"Lumo_BIOSPassword", {{u"Name", Str(u"Setup Password")},
                                                         {u"SupportedEncoding", Strs({c.encoding})},
                                                         {u"IsSet", Int(c.isSet)},
                                                         {u"PwdSetFrom", Int(c.pwdSetFrom)}});
    provider.provider.instances = {
        {{u"lumo_BIOSSettingInterface"}, {{u"__RELPATH", Str(u"lumo_BIOSSettingInterface.X")}}},
        setup};
    provider.provider.calls.clear();
    provider.provider.setBiosSetting = [](const std::string&, const std::string&,
                                          const std::string& password) {
      return password.empty() ? 6 : 0;
    };
    BiosAccess access;
    if (c.loaded) {
      ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
    }
    const bool refused = std::string(c.expected).back() == '|';
    EXPECT_EQ(access.ChangeSetupPassword(c.current, "new"), refused ? 6 : 0);
    EXPECT_EQ(provider.provider.calls, std::vector<std::string>{c.expected});
    // The library converts only a password set from keys, and only when it can be called.
    EXPECT_EQ(g_converted,
              c.isSet && !c.pwdSetFrom && c.loaded && c.encoding[0] == u'u' ? c.current : "");
  }
  // An empty password is the current one when the provider answers; another is tried on it.
  provider.provider.calls.clear();
  BiosAccess access;
  EXPECT_TRUE(access.CheckSetupPassword(""));
  EXPECT_TRUE(provider.provider.calls.empty());
  EXPECT_TRUE(access.CheckSetupPassword("\x1E"));
  EXPECT_EQ(provider.provider.calls, std::vector<std::string>{"Setup Password|<kbd/>1E|<kbd/>1E"});
  EXPECT_TRUE(access.IsPasswordSet());
}

}  // namespace
}  // namespace corvane
