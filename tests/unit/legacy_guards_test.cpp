// The legacy backend's guards, which no file a user writes reaches: field reads and writes stay
// within the size they are given, the built-in objects take only a value buffer meant for them
// and a position their firmware field can hold, and the apply never writes a read-only setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_firmware.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "firmware/boot_device_list.h"
#include "legacy/bios_access.h"
#include "legacy/built_in_objects.h"
#include "legacy/legacy_settings.h"
#include "legacy/sys_obj_table.h"
#include "log/result_log.h"
#include "platform/dynamic_library.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

using legacy::ValueKind;
using Buffer = std::vector<std::uint8_t>;

TEST(LegacyFieldsTest, ReadsAndWritesStayWithinTheGivenSize) {
  struct Case {
    std::size_t size;
    std::size_t offset;
    bool wordFits;
    bool doubleWordFits;
  };
  const Case cases[] = {
      {8, 4, true, true},   {8, 5, true, false},  {8, 6, true, false},
      {8, 7, false, false}, {8, 8, false, false}, {8, 9, false, false},
      {4, 0, true, true},   {3, 0, true, false},  {1, 0, false, false},
  };
  for (const Case& c : cases) {
    // The bytes past the given size are there: a read or write that passes it reaches them.
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
    const std::array<std::uint8_t, 16> original = bytes;
    const auto at = static_cast<std::uint32_t>(c.offset + 1);
    const std::string where =
        "size " + std::to_string(c.size) + " offset " + std::to_string(c.offset);
    EXPECT_EQ(legacy::ReadU16(bytes.data(), c.size, c.offset, 0xBEEF),
              c.wordFits ? at | ((at + 1) << 8) : 0xBEEF)
        << where;
    EXPECT_EQ(
        legacy::ReadU32(bytes.data(), c.size, c.offset, 0xBEEF),
        c.doubleWordFits ? at | ((at + 1) << 8) | ((at + 2) << 16) | ((at + 3) << 24) : 0xBEEF)
        << where;
    legacy::WriteU16(bytes.data(), c.size, c.offset, 0);
    legacy::WriteU32(bytes.data(), c.size, c.offset, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const bool written = i >= c.offset && ((c.wordFits && i < c.offset + 2) ||
                                             (c.doubleWordFits && i < c.offset + 4));
      EXPECT_EQ(bytes[i], written ? 0 : original[i]) << where << " byte " << i;
    }
  }
  EXPECT_EQ(legacy::ReadU16(nullptr, 8, 0, 7), 7);
  EXPECT_EQ(legacy::ReadU32(nullptr, 8, 0, 7), 7u);
  legacy::WriteU16(nullptr, 8, 0, 1);
  legacy::WriteU32(nullptr, 8, 0, 1);
}

class LegacyFirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1); }

  testing::FakeHost host;
  testing::ScopedFakeProvider provider;  // no provider: the legacy backend serves
  testing::FakeFirmware firmware;
  BiosAccess access;
};

// Firmware that answers every built-in object of both sets: each toggle code, every security
// bit, both tags, the CMOS bytes and a boot-device table of two devices.
void AnswerEveryObject(testing::FakeFirmware& firmware) {
  firmware.servesList = false;
  for (std::uint16_t code = 0; code < 0x90; ++code) firmware.toggles[code] = 0;
  firmware.securityEbx = 0xFFFFFFFF;
  firmware.assetTag = "ASSET-1";
  firmware.ownerTag = "Owner";
  firmware.deviceCount = 2;
  firmware.priorityLength = 2;
  firmware.table = Buffer(2 + 2 * 16, 0);
  firmware.table[0] = 0;
  firmware.table[1] = 1;
  for (std::uint32_t device = 0; device < 2; ++device) {
    const std::uint32_t text = 0xF0200 + 0x10 * device;
    legacy::WriteU32(firmware.table.data(), firmware.table.size(), 2 + 16 * device + 8, text);
    firmware.Put(text, device == 0 ? "HDA-L" : "USB-FL");
  }
}

TEST_F(LegacyFirmwareTest, BuiltInObjectsTakeOnlyAValueMeantForThem) {
  // Most built-in objects answer through 16-bit BIOS calls, which x86-64 Windows cannot make.
  if (!platform::SixteenBitBiosCalls()) GTEST_SKIP() << "no 16-bit BIOS calls here";
  AnswerEveryObject(firmware);
  // Positions a choice's firmware field cannot hold.
  const std::map<std::string, std::uint16_t> beyond = {
      {"EmbeddedSecurityActivationPolicy", 3},  // two bits for three choices
      {"tq4400_HaltOn", 5},                     // five codes
      {"tq4400_FanControl", 2},                 // one bit
  };
  std::size_t positionsTried = 0;
  const std::pair<legacy::BuiltInSet, std::uint16_t> sets[] = {{legacy::BuiltInSet::SetA, 1184},
                                                               {legacy::BuiltInSet::SetB, 2476}};
  for (const auto& [set, machineId] : sets) {
    for (const auto& object : legacy::MakeBuiltInObjects(set, machineId)) {
      const std::string key = object->row().key;
      ASSERT_NE(object->IsPresent(&access), 0) << key;
      const std::uint32_t size = object->GetSize(&access);
      Buffer value(size, 0);
      ASSERT_NE(object->GetValue(&access, value.data(), size), 0) << key;
      // Another object's name, and a buffer shorter than a name index and a position.
      std::vector<std::pair<Buffer, std::uint32_t>> refused = {{value, size}, {value, 3}};
      legacy::WriteU16(refused[0].first.data(), size, 0, object->row().nameId + 1);
      if (const auto it = beyond.find(key); it != beyond.end()) {
        refused.emplace_back(value, size);
        legacy::WriteU16(refused.back().first.data(), size, 2, it->second);
        ++positionsTried;
      }
      const auto before = firmware.held();
      for (const auto& [buffer, length] : refused)
        EXPECT_EQ(object->SetValue(&access, buffer.data(), length, "", 0), 0) << key;
      EXPECT_EQ(firmware.held(), before) << key;
      // The value as read is taken, where the object is ever written.
      const bool written = (object->row().flags & legacy::kReadOnlyFlag) == 0 &&
                           object->GetKind() != ValueKind::Password;
      EXPECT_EQ(object->SetValue(&access, value.data(), size, "", 0) != 0, written) << key;
    }
  }
  EXPECT_EQ(positionsTried, beyond.size());
}

// A new boot order goes to the firmware from the table as it was read: not read a second time.
TEST_F(LegacyFirmwareTest, BootOrderIsWrittenFromTheTableReadOnce) {
  AnswerEveryObject(firmware);
  firmware::BootDeviceList list(&access);
  std::vector<std::string> names;
  ASSERT_TRUE(list.Read(&names));
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(list.ApplyOrder({names[1], names[0]}), 0);
  EXPECT_EQ(firmware.table[0], 1);
  EXPECT_EQ(std::count(firmware.calls.begin(), firmware.calls.end(), "boot table"), 1);
}

TEST_F(LegacyFirmwareTest, ApplyAndCheckPassOverReadOnlySettings) {
  testing::Bytes strings;
  strings.u16(0);
  for (const char* text : {"English", "Version", "Owner"}) strings.text(text);
  firmware.Add(ValueKind::StringTable, strings.text(""), legacy::kReadOnlyFlag);
  firmware.Add(ValueKind::Alpha, testing::Bytes().u16(1).text("v1.00").pad(24),
               legacy::kReadOnlyFlag);
  // Smaller than a read-only value's least size, which must not be taken for it.
  firmware.Add(ValueKind::Alpha, testing::Bytes().u16(2).text("Lumoria").pad(16));

  for (const bool check : {true, false}) {
    legacy::LegacyState state;
    state.access = &access;
    std::string password;
    ASSERT_EQ(legacy::LoadLegacySettings(state, password), 1);
    ASSERT_EQ(state.legacySettings.size(), 3u);
    // Whatever marks them changed, only the setting that can be written is.
    for (legacy::LegacySetting& setting : state.legacySettings) {
      setting.text = "changed";
      setting.changed = 1;
    }
    log::ResultLog log;
    if (check) {
      std::size_t differences = 0;
      EXPECT_TRUE(legacy::CompareLegacyChanges(state, password, differences, log));
      EXPECT_EQ(differences, 1u);
    } else {
      EXPECT_EQ(legacy::ApplyLegacyChanges(state, password, log), 1);
      EXPECT_EQ(legacy::ReadText(firmware.objects[1].value.data(), 24, 2), "v1.00");
      EXPECT_EQ(legacy::ReadText(firmware.objects[2].value.data(), 16, 2).substr(0, 7), "changed");
      const auto writes = std::count_if(firmware.calls.begin(), firmware.calls.end(),
                                        [](const std::string& call) { return call[0] == 's'; });
      EXPECT_EQ(writes, 1);
      EXPECT_NE(std::find(firmware.calls.begin(), firmware.calls.end(), "set 2 16"),
                firmware.calls.end());
    }
  }
}

}  // namespace
}  // namespace corvane
