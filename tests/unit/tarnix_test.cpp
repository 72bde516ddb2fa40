// The management library the build makes, and its variants that lack an entry point, loaded
// through the binding from their files, serving a machine file in a folder of the test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_wbem.h"
#include "legacy/bios_access.h"
#include "sim/machine_file.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using sim::Json;

// clang-format off
const char* const kMachine = R"json({
  "legacy": {
    "machineId": 305398076,
    "systemManufacturer": "Lumoria",
    "systemProduct": "ProDesk",
    "serialNumber": "CZC1",
    "ownershipString": "Field Services",
    "password": "Ab1",
    "objects": [
      {"kind": "stringtable", "strings": ["English", "Port", "Off", "On"]},
      {"kind": "enum", "name": "Port", "choices": ["Off", "On"], "current": "Off"}
    ]
  },
  "notes": "kept"
})json";
// clang-format on

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());  // an empty value removes it
#else
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
#endif
}

// A with SHIFT, b, 1: the keys of the password as the program holds them.
const std::string kTyped = "\x9E\x30\x02";

class RealLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    wmi::g_biosAccessProbe = wmi::g_jobProbe = {};
    folder =
        fs::temp_directory_path() /
        ("corvane-tarnix-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    machine = (folder / "machine.json").string();
    Store(kMachine);
    SetVariable("CORVANE_MACHINE", machine);
  }
  void TearDown() override {
    SetVariable("CORVANE_MACHINE", "");
    fs::remove_all(folder);
    wmi::g_biosAccessProbe = wmi::g_jobProbe = {};
  }

  void Store(const std::string& text) const { std::ofstream(machine, std::ios::binary) << text; }
  Json Stored() const {
    std::stringstream text;
    text << std::ifstream(machine, std::ios::binary).rdbuf();
    return Json::parse(text.str());
  }

  testing::ScopedFakeProvider provider;  // no provider: the library answers
  fs::path folder;
  std::string machine;
};

TEST_F(RealLibrary, ServesTheLegacySectionThroughTheBinding) {
  BiosAccess access;
  ASSERT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 1);
  // The folder, the system's separator, the file name.
  const std::string folderName = CORVANE_TARNIX_DIR;
  EXPECT_EQ(access.loadedPath().substr(0, folderName.size()), folderName);
  EXPECT_EQ(access.loadedPath().substr(folderName.size() + 1), "Tarnix.dll");
  EXPECT_EQ(access.GetMachineId(), 305398076u);
  EXPECT_EQ(access.GetSystemManufacturer(), "Lumoria");
  EXPECT_EQ(access.GetSystemProduct(), "ProDesk");
  EXPECT_EQ(access.GetSerialNumber(), "CZC1");
  EXPECT_EQ(access.GetOwnershipString(), "Field Services");
  std::uint8_t status = 0xEE;
  EXPECT_EQ(access.CallInterrupt(0x15, &status, 1, &status), 0);  // no room for the registers

  // The password path: the keys arrive without SHIFT.
  EXPECT_TRUE(access.IsPasswordSet());
  EXPECT_TRUE(access.CheckSetupPassword(kTyped));
  EXPECT_FALSE(access.CheckSetupPassword("\x1E\x30"));

  // A write needs the unlock; the file changes when the objects are locked again, and only in
  // its own section, whatever another writer saved meanwhile.
  std::uint32_t bytes = 0;
  ASSERT_EQ(access.GetSysObjListSize(&bytes), 1);
  EXPECT_EQ(bytes, 8u * 2 + 4);
  const std::uint8_t on[] = {1, 0, 1, 0};
  EXPECT_EQ(access.SetSysObjValue(1, on, sizeof on), 0);
  EXPECT_EQ(access.ChangeLockState("\x1E\x30", 2, 0, &status), 0);
  EXPECT_EQ(status, 128);
  ASSERT_EQ(access.ChangeLockState("\x1E\x30\x02", 3, 0, &status), 1);
  EXPECT_EQ(access.SetSysObjValue(1, on, sizeof on), 1);
  Json expected = Json::parse(kMachine);
  expected["notes"] = "changed by another writer";
  Store(expected.dump());
  EXPECT_EQ(Stored(), expected) << "nothing written while unlocked";
  ASSERT_EQ(access.ChangeLockState("", 0, 1, &status), 1);
  expected["legacy"]["objects"][1]["current"] = "On";
  EXPECT_EQ(Stored(), expected);

  access.UnloadManagementLibrary();
  EXPECT_EQ(access.GetMachineId(), 0u);
  EXPECT_EQ(access.GetSystemProduct(), "");
}

TEST_F(RealLibrary, ChangesAreWrittenWhenTheLibraryIsUnloaded) {
  Json section = Json::parse(kMachine);
  section["legacy"]["writesNeedUnlock"] = false;
  Store(section.dump());
  {
    BiosAccess access;
    ASSERT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 1);
    // A password change is written at once, a value when the library goes.
    ASSERT_EQ(access.ChangeSetupPassword(kTyped, "\x30"), 0);
    EXPECT_EQ(Stored()["legacy"]["passwordCodes"], "30");
    const std::uint8_t on[] = {1, 0, 1, 0};
    ASSERT_EQ(access.SetSysObjValue(1, on, sizeof on), 1);
    EXPECT_EQ(Stored()["legacy"]["objects"][1]["current"], "Off");
  }
  const Json stored = Stored();
  EXPECT_EQ(stored["legacy"]["objects"][1]["current"], "On");
  EXPECT_FALSE(stored["legacy"].contains("password"));
}

TEST_F(RealLibrary, ServesTheFirmwareBelowTheObjectsAndSavesItsChanges) {
  Json machine = Json::parse(kMachine);
  machine["legacy"].erase("objects");
  machine["legacy"]["interrupt15"] = Json::parse(R"({"toggles": {"0x46": {"bh": "0x01"}}})");
  machine["legacy"]["cmos"] = Json::parse(R"({"0x50": "0x17"})");
  machine["legacy"]["bootDevices"] =
      Json::parse(R"({"devices": [{"pointer": "0xF000E010"}, {}], "priority": [1, 0]})");
  Store(machine.dump());
  {
    BiosAccess access;
    ASSERT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 1);
    // Both entry points reach interrupt 0x15; the 16-bit one only for that interrupt.
    std::uint8_t block[40] = {0x45, 0xE8, 0, 0, 0, 0, 0, 0, 0x46};
    std::uint8_t status = 0xEE;
    ASSERT_EQ(access.CallInt15(block, sizeof block, &status), 1);
    EXPECT_EQ(block[5], 1);  // BH
    EXPECT_EQ(status, 0);
    EXPECT_EQ(access.CallInterrupt(0x16, block, sizeof block, &status), 0);
    block[1] = 0xE8;  // AH came back 0: EAX again, then write BH 0
    block[4] = 1;
    block[5] = 0;
    ASSERT_EQ(access.CallInterrupt(0x15, block, sizeof block, &status), 1);
    EXPECT_EQ(block[28] & 1, 0);

    std::uint8_t byte = 0x03;
    ASSERT_EQ(access.SetCmos(0x50, 1, &byte), 1);
    byte = 0;
    ASSERT_EQ(access.GetCmos(0x50, 1, &byte), 1);
    EXPECT_EQ(byte, 0x03);
    EXPECT_EQ(access.GetCmos(0x7F, 2, &byte), 0);

    std::uint32_t count = 0, length = 0, tag = 0, size = 0;
    ASSERT_EQ(access.GetIplDevInfo(&count, &length, &tag, &size), 1);
    EXPECT_EQ(size, 2u + 32);
    std::vector<std::uint8_t> table(size);
    ASSERT_EQ(access.GetIplTableInfo(table.data(), size, length, tag), 1);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[2 + 11], 0xF0);
    std::swap(table[0], table[1]);
    ASSERT_EQ(access.SetIplPriority(table.data(), length), 1);
  }
  machine["legacy"]["interrupt15"]["toggles"]["0x46"]["bh"] = "0x00";
  machine["legacy"]["cmos"]["0x50"] = "0x03";
  machine["legacy"]["bootDevices"]["priority"] = Json::parse("[0, 1]");
  EXPECT_EQ(Stored(), machine);

  machine["legacy"]["faults"] = Json::parse(R"({"call32bit": true, "call16bit": true})");
  Store(machine.dump());
  BiosAccess access;
  ASSERT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 1);
  std::uint8_t block[40] = {0x45, 0xE8};
  EXPECT_EQ(access.CallInt15(block, sizeof block, block), 0);
  EXPECT_EQ(access.CallInterrupt(0x15, block, sizeof block, block), 0);
}

TEST_F(RealLibrary, WithoutALegacySectionTheLibraryIsNotUsable) {
  const char* const machines[] = {
      R"({"provider": {}})",
      R"({"legacy": {"faults": {"init": true}}})",
      R"({"legacy": {"machineID": 1}})",
      "{",
  };
  for (const char* text : machines) {
    Store(text);
    BiosAccess access;
    EXPECT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 0) << text;
  }
  SetVariable("CORVANE_MACHINE", "");
  BiosAccess access;
  EXPECT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 0);
}

TEST_F(RealLibrary, ALibraryLackingARequiredEntryPointLoadsButIsNeverInitialised) {
  BiosAccess access;
  EXPECT_EQ(
      access.LoadManagementLibrary(CORVANE_TARNIX_VARIANTS_DIR "/without-driver-version", 0, 1), 0);
  EXPECT_FALSE(access.IsUsable());
  std::uint8_t buffer[64] = {};
  std::uint32_t value = 0;
  EXPECT_EQ(access.GetMachineId(), 0u);
  EXPECT_EQ(access.GetOwnershipString(), "");
  EXPECT_EQ(access.GetSerialNumber(), "");
  EXPECT_EQ(access.GetSystemManufacturer(), "");
  EXPECT_EQ(access.GetSystemProduct(), "");
  EXPECT_EQ(access.CallInt15(buffer, 40, buffer), 0);
  EXPECT_EQ(access.CallInterrupt(0x15, buffer, 40, buffer), 0);
  EXPECT_EQ(access.SetSecuritySettings(buffer, 26, buffer), 0);
  EXPECT_EQ(access.ChangeLockState(kTyped, 3, 0, buffer), 0);
  EXPECT_EQ(access.GetSysObjListSize(&value), 0);
  EXPECT_EQ(access.GetSysObjList(buffer, sizeof buffer), 0);
  EXPECT_EQ(access.GetSysObjInfo(1, buffer, 22), 0);
  EXPECT_EQ(access.GetSysObjValue(1, buffer, 4), 0);
  EXPECT_EQ(access.SetSysObjValue(1, buffer, 4), 0);
  EXPECT_EQ(access.GetIplDevInfo(&value, &value, &value, &value), 0);
  EXPECT_EQ(access.GetIplTableInfo(buffer, 4, 0, 0), 0);
  EXPECT_EQ(access.SetIplPriority(buffer, 0), 0);
  EXPECT_EQ(access.GetCmos(0x10, 1, buffer), 0);
  EXPECT_EQ(access.SetCmos(0x10, 1, buffer), 0);
  EXPECT_FALSE(access.IsPasswordSet());
  EXPECT_FALSE(access.CheckSetupPassword(kTyped));
  EXPECT_EQ(Stored(), Json::parse(kMachine));
}

TEST_F(RealLibrary, ALibraryLackingAnOptionalEntryPointIsUsable) {
  BiosAccess access;
  ASSERT_EQ(
      access.LoadManagementLibrary(CORVANE_TARNIX_VARIANTS_DIR "/without-16bit-interrupt", 0, 1),
      1);
  EXPECT_EQ(access.GetMachineId(), 305398076u);
  std::uint8_t block[40] = {};
  EXPECT_EQ(access.CallInterrupt(0x15, block, sizeof block, block), 0);
  EXPECT_TRUE(access.CheckSetupPassword(kTyped));
}

// With the provider present and a setup password set from keys, the current password reaches
// the provider as the scan codes the library's converter makes of it.
TEST_F(RealLibrary, ConvertsACurrentPasswordSetFromKeysIntoScanCodes) {
  using testing::Int;
  using testing::Str;
  using testing::Strs;
  provider.provider.instances = {
      {{u"lumo_BIOSSettingInterface"}, {{u"__RELPATH", Str(u"lumo_BIOSSettingInterface.X")}}},
      testing::Setting(u"Lumo_BIOSPassword", {{u"Name", Str(u"Setup Password")},
                                              {u"SupportedEncoding", Strs({u"utf-16"})},
                                              {u"IsSet", Int(1)},
                                              {u"PwdSetFrom", Int(0)}})};
  BiosAccess access;
  ASSERT_EQ(access.LoadManagementLibrary(CORVANE_TARNIX_DIR, 0, 1), 1);
  std::string most = "<kbd/>";
  for (int i = 0; i < 255; ++i) most += "1E";
  const std::pair<std::string, std::string> cases[] = {
      {"Ab1", "<kbd/>9E3002"},
      {"<lt>x <keypad 7>", "<kbd/>B32D3947"},
      {"", "<kbd/>"},
      {"a?b", ""},                    // a character on no key
      {std::string(256, 'a'), ""},    // more keys than the buffer holds with its NUL
      {std::string(255, 'a'), most},  // the most it takes
  };
  for (const auto& [current, expected] : cases) {
    provider.provider.calls.clear();
    EXPECT_EQ(access.ChangeSetupPassword(current, "new"), 0);
    EXPECT_EQ(provider.provider.calls,
              std::vector<std::string>{"Setup Password|<utf-16/>new|" + expected})
        << current;
  }
}

}  // namespace
}  // namespace corvane
