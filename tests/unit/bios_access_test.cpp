#include "legacy/bios_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

}  // namespace
}  // namespace corvane
