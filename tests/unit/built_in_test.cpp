#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_bios.h"
#include "fake_host.h"
#include "fake_library.h"
#include "fake_memory.h"
#include "fake_wbem.h"
#include "legacy/bios_access.h"
#include "legacy/built_in_objects.h"
#include "legacy/legacy_settings.h"
#include "legacy/sys_obj_table.h"
#include "wmi/wmi_connection.h"

namespace corvane::legacy {
namespace {

using testing::FakeBios;

constexpr std::uint16_t kNone = 0xFFFF;

class BuiltInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wmi::g_biosAccessProbe = wmi::g_jobProbe = {};
    ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
  }
  void TearDown() override { wmi::g_biosAccessProbe = wmi::g_jobProbe = {}; }

  // The object of a set with that key, made fresh.
  std::unique_ptr<SysObj> Make(const std::string& key, BuiltInSet set = BuiltInSet::SetA,
                               std::uint16_t machineId = 1184) {
    for (auto& object : MakeBuiltInObjects(set, machineId))
      if (object->name == key) return std::move(object);
    ADD_FAILURE() << "no object " << key;
    return nullptr;
  }
  // The value buffer as 16-bit words; empty when the read fails.
  std::vector<std::uint16_t> Words(SysObj& object, std::uint32_t size = 0) {
    if (size == 0) size = object.GetSize(&access);
    std::vector<std::uint8_t> buffer(size, 0xEE);
    if (object.GetValue(&access, buffer.data(), size) == 0) return {};
    std::vector<std::uint16_t> words;
    for (std::size_t at = 0; at + 1 < size; at += 2)
      words.push_back(ReadU16(buffer.data(), size, at, 0));
    return words;
  }
  std::string Text(SysObj& object) {
    const std::uint32_t size = object.GetSize(&access);
    std::vector<std::uint8_t> buffer(size, 0xEE);
    if (object.GetValue(&access, buffer.data(), size) == 0) return "<failed>";
    EXPECT_EQ(ReadU16(buffer.data(), size, 0, 0), object.row().nameId);
    EXPECT_EQ(buffer.back(), 0);
    return ReadText(buffer.data(), size, 2);
  }
  // Writes a value buffer of words (the name index first).
  std::int32_t Write(SysObj& object, const std::vector<std::uint16_t>& words,
                     const std::string& password = "") {
    std::vector<std::uint8_t> buffer(2 * words.size());
    for (std::size_t i = 0; i < words.size(); ++i)
      WriteU16(buffer.data(), buffer.size(), 2 * i, words[i]);
    return object.SetValue(&access, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                           password.c_str(), static_cast<std::uint32_t>(password.size()));
  }
  std::int32_t WriteText(SysObj& object, const std::string& text) {
    std::vector<std::uint8_t> buffer(text.size() + 3, 0);
    WriteU16(buffer.data(), buffer.size(), 0, object.row().nameId);
    std::copy(text.begin(), text.end(), buffer.begin() + 2);
    return object.SetValue(&access, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                           nullptr, 0);
  }
  void ExpectInfo(SysObj& object, ValueKind kind, std::uint16_t flags, std::uint32_t size,
                  std::uint16_t root, std::uint16_t sub) {
    SysObjInfo info;
    ASSERT_EQ(object.GetInfo(&access, info.bytes.data()), 1);
    EXPECT_EQ(info.kind(), static_cast<std::int16_t>(kind));
    EXPECT_EQ(info.flags(), flags);
    EXPECT_EQ(info.size(), size);
    EXPECT_EQ(object.GetSize(&access), size);
    EXPECT_EQ(info.menu(0), root);
    EXPECT_EQ(info.menu(1), sub);
    for (std::size_t level = 2; level < 6; ++level) EXPECT_EQ(info.menu(level), kNone);
  }

  testing::FakeHost host;
  testing::ScopedFakeProvider provider;  // no provider
  testing::FakeLibrary library;
  FakeBios bios{library};
  testing::FakeMemory memory;
  BiosAccess access;
};

// ---- the sets -----------------------------------------------------------------------------

TEST_F(BuiltInTest, EachSetHoldsItsObjectsInTableOrder) {
  const std::vector<std::string> setA = {"BiosStringTableEnglish",
                                         "Manufacturer",
                                         "Model",
                                         "SerialNumber",
                                         "SmartCard",
                                         "SerialPort",
                                         "ParallelPort",
                                         "InfraredPort",
                                         "WlanButton",
                                         "FloppyDrive",
                                         "FloppyBoot",
                                         "FloppyWrite",
                                         "CdromBoot",
                                         "NicBoot",
                                         "EmbeddedSecurityActivationPolicy",
                                         "ActivateEmbeddedSecurityOnNextBoot",
                                         "RequirePasswordOnRestart",
                                         "EnterAssetTag",
                                         "EnterOwnerTag",
                                         "SetupPassword",
                                         "PowerOnPassword",
                                         "BootOrder",
                                         "MultiBoot",
                                         "QuickBoot",
                                         "NumLock",
                                         "MultiplePointingDevices",
                                         "TouchPad",
                                         "PointingStick",
                                         "SpeedStep",
                                         "USBLegacySupport",
                                         "FanAlwaysOn",
                                         "WirelessFeatures",
                                         "WirelessLanState",
                                         "BluetoothDeviceState",
                                         "LanPowerState",
                                         "MobileHardDriveProtection",
                                         "PaeNxDep",
                                         "SDCardSlot",
                                         "BIOSDMADataTransfers"};
  const std::vector<std::string> setB = {"BiosStringTableEnglish",
                                         "Manufacturer",
                                         "Model",
                                         "SerialNumber",
                                         "tq4400_WolBootOrder",
                                         "tq4400_BootOrder",
                                         "tq4400_OnchipUsbController",
                                         "tq4400_UsbLegacySupport",
                                         "tq4400_FrontUsbPorts",
                                         "tq4400_OnboardSerialPort",
                                         "tq4400_AfterPowerLoss",
                                         "tq4400_FanControl",
                                         "tq4400_HaltOn",
                                         "tq4400_PostDelay"};
  const auto keys = [](BuiltInSet set) {
    std::vector<std::string> names;
    for (const auto& object : MakeBuiltInObjects(set, 1184)) names.push_back(object->name);
    return names;
  };
  EXPECT_EQ(keys(BuiltInSet::SetA), setA);
  EXPECT_EQ(keys(BuiltInSet::SetB), setB);
  EXPECT_TRUE(keys(BuiltInSet::None).empty());
}

TEST_F(BuiltInTest, EveryOtherMachineGetsAnEmptyTable) {
  library.machineId = 1336;
  SysObjTable table(&access);
  std::uint32_t bytes = 99;
  EXPECT_EQ(table.GetSysObjListSize(&bytes), 0);
  EXPECT_EQ(bytes, 0u);
}

// ---- E845h toggles ------------------------------------------------------------------------

struct ToggleCase {
  const char* key;
  std::uint16_t nameId;
  std::uint16_t first, second;  // choices
  std::uint16_t root, sub;
  std::uint16_t code;
  ToggleRule rule;
  std::uint8_t bit;
};

const ToggleCase kToggles[] = {
    {"SerialPort", 30, 40, 41, 2, 28, 0x46, ToggleRule::Set, 0},
    {"ParallelPort", 29, 40, 41, 2, 28, 0x3E, ToggleRule::Set, 0},
    {"InfraredPort", 49, 40, 41, 2, 28, 0x02, ToggleRule::Set, 0},
    {"WlanButton", 33, 39, 38, 2, 28, 0x62, ToggleRule::Clear, 0},
    {"FloppyDrive", 32, 40, 41, 2, 28, 0x49, ToggleRule::Set, 0},
    {"FloppyBoot", 34, 39, 38, 2, 28, 0x23, ToggleRule::Clear, 0},
    {"FloppyWrite", 35, 39, 38, 2, 28, 0x24, ToggleRule::Set, 0},
    {"CdromBoot", 36, 39, 38, 2, 28, 0x3F, ToggleRule::Set, 0},
    {"NicBoot", 47, 39, 38, 2, 28, 0x39, ToggleRule::One, 0},
    {"MultiBoot", 44, 39, 38, 3, 4, 0x4A, ToggleRule::Set, 0},
    {"QuickBoot", 45, 39, 38, 3, 4, 0x19, ToggleRule::Hex1F, 0},
    {"NumLock", 46, 39, 38, 3, 5, 0x4B, ToggleRule::One, 0},
    {"MultiplePointingDevices", 50, 39, 38, 3, 5, 0x41, ToggleRule::Set, 0},
    {"TouchPad", 51, 38, 39, 3, 5, 0x61, ToggleRule::Bit, 1},
    {"PointingStick", 52, 38, 39, 3, 5, 0x61, ToggleRule::Bit, 0},
    {"SpeedStep", 53, 38, 39, 3, 5, 0x53, ToggleRule::Clear, 0},
    {"USBLegacySupport", 48, 39, 38, 3, 5, 0x17, ToggleRule::One, 0},
    {"FanAlwaysOn", 37, 39, 38, 3, 5, 0x67, ToggleRule::Set, 0},
    {"WirelessFeatures", 83, 39, 38, 3, 5, 0x78, ToggleRule::BlBit4, 0},
    {"WirelessLanState", 84, 39, 38, 3, 5, 0x79, ToggleRule::Set, 0},
    {"BluetoothDeviceState", 85, 39, 38, 3, 5, 0x7A, ToggleRule::Set, 0},
    {"LanPowerState", 86, 39, 38, 3, 5, 0x7B, ToggleRule::Set, 0},
    {"MobileHardDriveProtection", 87, 39, 38, 2, 5, 0x7C, ToggleRule::Set, 0},
    {"PaeNxDep", 88, 39, 38, 3, 5, 0x7E, ToggleRule::Set, 0},
    {"SDCardSlot", 31, 39, 38, 2, 28, 0x6F, ToggleRule::Clear, 0},  // on machine 1184
    {"BIOSDMADataTransfers", 115, 39, 38, 3, 5, 0x83, ToggleRule::Clear, 0},
};

// What BH (or BL for BL bit 4) reads as, and what a write of each position sends as BH.
struct RuleBehaviour {
  std::vector<std::pair<std::uint8_t, std::uint16_t>> reads;
  std::uint8_t writeOn, writeOff;
};

RuleBehaviour Behaviour(ToggleRule rule, std::uint8_t bit) {
  const auto mask = static_cast<std::uint8_t>(1u << bit);
  switch (rule) {
    case ToggleRule::Set:
      return {{{0, 0}, {1, 1}, {0x80, 1}}, 1, 0};
    case ToggleRule::Clear:
      return {{{0, 1}, {1, 0}, {0x20, 0}}, 0, 1};
    case ToggleRule::One:
      return {{{1, 1}, {0, 0}, {3, 0}}, 1, 0};
    case ToggleRule::Hex1F:
      return {{{0x1F, 1}, {1, 0}, {0x3F, 0}, {0, 0}}, 0x1F, 0};
    case ToggleRule::Bit:
      return {{{mask, 1}, {static_cast<std::uint8_t>(0xFF & ~mask), 0}},
              static_cast<std::uint8_t>(0xA4 | mask),
              static_cast<std::uint8_t>(0xA4 & ~mask)};
    case ToggleRule::BlBit4:
      return {{{0x10, 1}, {0xEF, 0}}, 1, 0};
  }
  return {};
}

TEST_F(BuiltInTest, EveryToggleRowReadsAndWritesItsCodeByItsRule) {
  for (const auto& row : kToggles) {
    SCOPED_TRACE(row.key);
    auto object = Make(row.key);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->row().nameId, row.nameId);
    const RuleBehaviour behaviour = Behaviour(row.rule, row.bit);
    for (const auto& [answer, position] : behaviour.reads) {
      bios.toggles = {{row.code, row.rule == ToggleRule::BlBit4 ? std::uint8_t{1} : answer}};
      bios.bl = {{row.code, row.rule == ToggleRule::BlBit4 ? answer : std::uint8_t{0}}};
      bios.calls.clear();
      EXPECT_EQ(Words(*object),
                (std::vector<std::uint16_t>{row.nameId, position, row.first, row.second, kNone}))
          << "answer " << int(answer);
      ASSERT_EQ(bios.calls.size(), 1u);
      const auto& call = bios.calls[0];
      EXPECT_EQ(call.interrupt, 0x15);
      EXPECT_FALSE(call.int15);
      EXPECT_EQ(call.sent.size(), 40u);
      EXPECT_EQ(call.U32(0), 0xE845u);
      EXPECT_EQ(call.Byte(4), 0);  // BL: read
      EXPECT_EQ(call.code(), row.code);
    }
    ExpectInfo(*object, ValueKind::Enum, 0, 10, row.root, row.sub);

    for (const std::uint16_t position : {1, 0}) {
      bios.toggles = {{row.code, 0xA4}};
      bios.calls.clear();
      EXPECT_EQ(Write(*object, {row.nameId, position}), 1);
      ASSERT_FALSE(bios.calls.empty());
      const auto& call = bios.calls.back();
      EXPECT_EQ(call.sent.size(), 40u);
      EXPECT_EQ(call.U32(0), 0xE845u);
      EXPECT_EQ(call.Byte(4), 1);  // BL: write
      EXPECT_EQ(call.code(), row.code);
      EXPECT_EQ(call.Byte(5), position == 1 ? behaviour.writeOn : behaviour.writeOff);
    }
    // A code the firmware does not know answers with the carry set: no value, no write.
    bios.toggles.clear();
    EXPECT_TRUE(Words(*object).empty());
    EXPECT_EQ(Write(*object, {row.nameId, 1}), 0);
    EXPECT_EQ(Write(*object, {static_cast<std::uint16_t>(row.nameId + 1), 1}), 0);
  }
}

TEST_F(BuiltInTest, TheCardSlotFollowsTheModel) {
  for (const std::uint16_t machine : {2100, 2188, 2192, 2236, 1184, 12481}) {
    SCOPED_TRACE(machine);
    const bool setRule = machine == 2100 || machine == 2188 || machine == 2192 || machine == 2236;
    auto object = Make("SDCardSlot", BuiltInSet::SetA, machine);
    bios.toggles = {{0x6F, 1}};
    EXPECT_EQ(Words(*object)[1], setRule ? 1 : 0);
    Write(*object, {31, 1});
    EXPECT_EQ(bios.toggles[0x6F], setRule ? 1 : 0);
  }
}

TEST_F(BuiltInTest, AnAnswerWithAhSetIsAFailureExceptForWirelessFeatures) {
  bios.toggles = {{0x46, 1}, {0x78, 0}};
  bios.ahFor = {{0x46, 0x86}, {0x78, 0x86}};
  bios.bl = {{0x78, 0x10}};
  auto serial = Make("SerialPort");
  EXPECT_EQ(serial->IsPresent(&access), 0);
  // The firmware may not know code 0x78 at all; a clear carry is all this one needs.
  auto wireless = Make("WirelessFeatures");
  EXPECT_EQ(wireless->IsPresent(&access), 1);
  EXPECT_EQ(Words(*wireless)[1], 1);
}

TEST_F(BuiltInTest, TouchPadAndPointingStickShareACodeAndKeepEachOthersBit) {
  auto touchPad = Make("TouchPad");
  auto stick = Make("PointingStick");
  bios.toggles = {{0x61, 0xF3}};
  EXPECT_EQ(Write(*touchPad, {51, 0}), 1);
  EXPECT_EQ(bios.toggles[0x61], 0xF1);
  EXPECT_EQ(Words(*stick)[1], 1);
  EXPECT_EQ(Write(*stick, {52, 0}), 1);
  EXPECT_EQ(bios.toggles[0x61], 0xF0);
  EXPECT_EQ(Words(*touchPad)[1], 0);
  EXPECT_EQ(Write(*touchPad, {51, 1}), 1);
  EXPECT_EQ(bios.toggles[0x61], 0xF2);
  // The write sends back the block the read returned, with the function, BL and code set again.
  const auto& write = bios.calls.back();
  EXPECT_EQ(write.U32(0), 0xE845u);
  EXPECT_EQ(write.Byte(4), 1);
  EXPECT_EQ(write.code(), 0x61);
}

TEST_F(BuiltInTest, RulesThatNeedThePresenceProbeWriteNothingWhenAbsent) {
  for (const char* key : {"NicBoot", "QuickBoot", "TouchPad"}) {
    SCOPED_TRACE(key);
    auto object = Make(key);
    bios.toggles.clear();
    EXPECT_EQ(object->IsPresent(&access), 0);
    bios.toggles = {{0x39, 0}, {0x19, 0}, {0x61, 0}};  // the firmware learns it too late
    bios.calls.clear();
    EXPECT_EQ(Write(*object, {object->row().nameId, 1}), 0);
    EXPECT_TRUE(bios.calls.empty());
  }
  // The set and clear rules write without asking.
  auto serial = Make("SerialPort");
  bios.toggles.clear();
  EXPECT_EQ(serial->IsPresent(&access), 0);
  bios.toggles = {{0x46, 0}};
  EXPECT_EQ(Write(*serial, {30, 1}), 1);
}

// ---- E842h security options ---------------------------------------------------------------

struct SecurityCase {
  const char* key;
  std::uint16_t nameId;
  std::uint16_t root, sub;
  std::uint32_t mask;
};

const SecurityCase kSecurityOptions[] = {
    {"SmartCard", 55, 2, 54, 0x800},
    {"ActivateEmbeddedSecurityOnNextBoot", 57, 2, 28, 0x10000},
    {"RequirePasswordOnRestart", 62, 2, 28, 0x1000},
};

TEST_F(BuiltInTest, EverySecurityOptionReadsAndWritesItsBit) {
  for (const auto& row : kSecurityOptions) {
    SCOPED_TRACE(row.key);
    auto object = Make(row.key);
    bios.securityEbx = row.mask | 0x100;
    for (const std::uint16_t position : {0, 1}) {
      bios.securityEax = position == 1 ? row.mask : 0xE0000 & ~row.mask;
      bios.calls.clear();
      EXPECT_EQ(Words(*object), (std::vector<std::uint16_t>{row.nameId, position, 39, 38, kNone}));
      ASSERT_EQ(bios.calls.size(), 1u);
      EXPECT_EQ(bios.calls[0].sent.size(), 40u);
      EXPECT_EQ(bios.calls[0].U32(0), 0xE842u);
    }
    ExpectInfo(*object, ValueKind::Enum, 0, 10, row.root, row.sub);
    for (const std::uint16_t position : {1, 0}) {
      bios.calls.clear();
      EXPECT_EQ(Write(*object, {row.nameId, position}, "secret"), 1);
      ASSERT_EQ(bios.calls.size(), 1u);
      const auto& call = bios.calls[0];
      EXPECT_EQ(call.sent.size(), 76u);
      EXPECT_EQ(call.U32(0), 0x0001E842u);
      EXPECT_EQ(call.U32(4), position == 1 ? row.mask : 0u);
      EXPECT_EQ(call.U32(8), row.mask);
      EXPECT_EQ(call.U32(12), 0x53454355u);
      EXPECT_EQ(call.U32(32), 33u);
      EXPECT_EQ(call.Text(40, 7), std::string("secret\0", 7));
      EXPECT_EQ(Words(*object)[1], position);
    }
    // The firmware must vouch for the option's bit.
    bios.securityEbx = 0;
    EXPECT_TRUE(Words(*object).empty());
  }
}

TEST_F(BuiltInTest, ASecurityReadFailsOnTheCarryOrAStatusInAh) {
  // Options 11 and 12 live in AH's bits 3 and 4; any other AH bit is the firmware's status.
  const struct {
    std::uint32_t eax;
    bool carry;
    std::uint16_t position;  // kNone: the read fails
  } cases[] = {
      {0x00000800, false, 1},     {0x00001800, false, 1},     {0x00071000, false, 0},
      {0x00008600, false, kNone}, {0x00000100, false, kNone}, {0x00000800, true, kNone},
  };
  auto smartCard = Make("SmartCard");
  bios.securityEbx = 0x71800;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.eax);
    bios.securityEax = c.eax;
    bios.securityCarry = c.carry;
    const auto words = Words(*smartCard);
    if (c.position == kNone) {
      EXPECT_TRUE(words.empty());
    } else {
      ASSERT_FALSE(words.empty());
      EXPECT_EQ(words[1], c.position);
    }
  }
}

TEST_F(BuiltInTest, TheActivationPolicyHasThreePositionsInTwoBits) {
  auto policy = Make("EmbeddedSecurityActivationPolicy");
  bios.securityEbx = 0x60000;
  ExpectInfo(*policy, ValueKind::Enum, 0, 12, 2, 28);
  const std::pair<std::uint32_t, std::uint16_t> reads[] = {
      {0x20000, 0}, {0, 1}, {0x40000, 2}, {0x60000, 0}};  // both bits: "No prompts"
  for (const auto& [eax, position] : reads) {
    bios.securityEax = eax | 0x800;
    EXPECT_EQ(Words(*policy), (std::vector<std::uint16_t>{58, position, 59, 60, 61, kNone}));
  }
  bios.securityEbx = 0x20000;  // one of the two bits only
  EXPECT_TRUE(Words(*policy).empty());
  bios.securityEbx = 0x60000;
  const std::pair<std::uint16_t, std::uint32_t> writes[] = {{0, 0x20000}, {1, 0}, {2, 0x40000}};
  for (const auto& [position, bits] : writes) {
    bios.calls.clear();
    EXPECT_EQ(Write(*policy, {58, position}), 1);
    EXPECT_EQ(bios.calls.back().U32(4), bits);
    EXPECT_EQ(bios.calls.back().U32(8), 0x60000u);
  }
  bios.calls.clear();
  EXPECT_EQ(Write(*policy, {58, 3}), 0);
  EXPECT_TRUE(bios.calls.empty());
}

TEST_F(BuiltInTest, ASecurityWriteCarriesAtMostThirtyThreePasswordCharacters) {
  auto object = Make("SmartCard");
  bios.securityEbx = 0x800;
  const std::string password(40, 'p');
  bios.calls.clear();
  Write(*object, {55, 1}, password);
  EXPECT_EQ(bios.calls.back().Text(40, 36), std::string(33, 'p') + std::string(3, '\0'));
  bios.securityWriteResult = 0;  // the call's own result decides
  EXPECT_EQ(Write(*object, {55, 1}), 0);
}

// ---- set B: CMOS ----------------------------------------------------------------------------

using Bytes = std::map<std::uint8_t, std::uint8_t>;

struct CmosCase {
  const char* key;
  std::uint16_t nameId;
  std::vector<std::uint16_t> choices;
  std::uint16_t sub;  // under Advanced
  std::uint32_t size;
  bool checksum;
  bool readBack;
  std::vector<std::pair<Bytes, std::uint16_t>> reads;
  // Bytes before, the position written, the bytes after; no bytes after: the write fails.
  std::vector<std::tuple<Bytes, std::uint16_t, Bytes>> writes;
};

const CmosCase kCmosRows[] = {
    {"tq4400_WolBootOrder",
     63,
     {64, 65},
     4,
     12,
     true,
     false,
     {{{{0x4B, 0x80}}, 1}, {{{0x4B, 0x7F}}, 0}},
     {{{{0x4B, 0x01}}, 1, {{0x4B, 0x81}}},
      {{{0x4B, 0xFF}}, 0, {{0x4B, 0x7F}}},
      {{{0x4B, 0x00}}, 2, {{0x4B, 0x80}}}}},
    {"tq4400_OnchipUsbController",
     90,
     {39, 38},
     5,
     10,
     true,
     true,
     {{{{0x45, 0x01}, {0x50, 0x01}}, 1},
      {{{0x45, 0xFF}, {0x50, 0xFE}}, 0},
      {{{0x45, 0xFE}, {0x50, 0xFF}}, 0}},
     {{{{0x45, 0x10}, {0x50, 0x20}}, 1, {{0x45, 0x11}, {0x50, 0x21}}},
      {{{0x45, 0xFF}, {0x50, 0xFF}}, 0, {{0x45, 0xFE}, {0x50, 0xFE}}}}},
    {"tq4400_UsbLegacySupport",
     48,
     {39, 38},
     5,
     10,
     true,
     true,
     {{{{0x50, 0x12}}, 1}, {{{0x50, 0xEF}}, 0}, {{{0x50, 0xFD}}, 0}},
     {{{{0x50, 0x01}}, 1, {{0x50, 0x13}}}, {{{0x50, 0xFF}}, 0, {{0x50, 0xED}}}}},
    {"tq4400_FrontUsbPorts",
     91,
     {39, 38},
     5,
     10,
     true,
     true,
     {{{{0x50, 0x04}}, 1}, {{{0x50, 0xFB}}, 0}},
     {{{{0x50, 0x00}}, 1, {{0x50, 0x04}}}, {{{0x50, 0xFF}}, 0, {{0x50, 0xFB}}}}},
    {"tq4400_OnboardSerialPort",
     92,
     {39, 93, 94, 95, 96},
     5,
     16,
     true,
     false,
     {{{{0x49, 0x30}}, 3}, {{{0x49, 0x8F}}, 0}, {{{0x49, 0x40}}, 4}},
     {{{{0x49, 0x8F}}, 4, {{0x49, 0xCF}}},
      {{{0x49, 0xFF}}, 1, {{0x49, 0x9F}}},
      {{{0x49, 0x00}}, 8, {}}}},
    {"tq4400_AfterPowerLoss",
     97,
     {98, 99, 100},
     5,
     12,
     true,
     false,
     {{{{0x54, 0x80}}, 2}, {{{0x54, 0x3F}}, 0}, {{{0x54, 0x40}}, 1}},
     {{{{0x54, 0x3F}}, 2, {{0x54, 0xBF}}},
      {{{0x54, 0xC1}}, 1, {{0x54, 0x41}}},
      {{{0x54, 0x00}}, 4, {}}}},
    {"tq4400_FanControl",
     101,
     {102, 39},
     5,
     12,
     true,
     false,
     {{{{0x5F, 0x80}}, 1}, {{{0x5F, 0x7F}}, 0}},
     {{{{0x5F, 0x01}}, 1, {{0x5F, 0x81}}},
      {{{0x5F, 0xFF}}, 0, {{0x5F, 0x7F}}},
      {{{0x5F, 0x00}}, 2, {}}}},
    {"tq4400_HaltOn",
     103,
     {104, 105, 106, 107, 108},
     5,
     16,
     false,
     false,
     {{{{0x3E, 0xF8}}, 0},
      {{{0x3E, 0x01}}, 1},
      {{{0x3E, 0x04}}, 3},
      {{{0x3E, 0xFE}}, 4},
      {{{0x3E, 0x02}}, 2},
      {{{0x3E, 0x03}}, 2},
      {{{0x3E, 0x05}}, 2},
      {{{0x3E, 0xFF}}, 2}},
     {{{{0x3E, 0xFF}}, 0, {{0x3E, 0xF8}}},
      {{{0x3E, 0xF8}}, 1, {{0x3E, 0xF9}}},
      {{{0x3E, 0xF8}}, 2, {{0x3E, 0xFA}}},
      {{{0x3E, 0xF8}}, 3, {{0x3E, 0xFC}}},
      {{{0x3E, 0xF8}}, 4, {{0x3E, 0xFE}}},
      {{{0x3E, 0x05}}, 5, {}}}},
    {"tq4400_PostDelay",
     109,
     {110, 111, 112, 113, 116, 116, 114},
     5,
     20,
     true,
     false,
     {{{{0x4D, 0xFB}}, 3}, {{{0x4D, 0x06}}, 6}, {{{0x4D, 0x04}}, 4}, {{{0x4D, 0x05}}, 5}},
     {{{{0x4D, 0xF0}}, 6, {{0x4D, 0xF6}}}, {{{0x4D, 0xFF}}, 0, {{0x4D, 0xF8}}}}},
};

TEST_F(BuiltInTest, EveryCmosRowReadsAndWritesOnlyItsBits) {
  for (const auto& row : kCmosRows) {
    SCOPED_TRACE(row.key);
    auto object = Make(row.key, BuiltInSet::SetB, 2476);
    ASSERT_NE(object, nullptr);
    ExpectInfo(*object, ValueKind::Enum, 0, row.size, 3, row.sub);
    for (const auto& [bytes, position] : row.reads) {
      bios.cmos.fill(0);
      for (const auto& [offset, value] : bytes) bios.cmos[offset] = value;
      std::vector<std::uint16_t> expected = {row.nameId, position};
      expected.insert(expected.end(), row.choices.begin(), row.choices.end());
      expected.push_back(kNone);
      expected.resize(row.size / 2, 0);
      EXPECT_EQ(Words(*object), expected) << "byte " << int(bytes.begin()->second);
    }
    for (const auto& [before, position, after] : row.writes) {
      SCOPED_TRACE(position);
      for (const bool stuck : {false, true}) {
        bios.cmos.fill(0x5A);
        bios.cmos[0x7B] = 0x12;
        bios.cmos[0x7C] = 0x34;
        bios.cmosWrites.clear();
        bios.stuckBits.clear();
        int change = 0;
        for (const auto& [offset, value] : before) bios.cmos[offset] = value;
        for (const auto& [offset, value] : after) {
          change += value - before.at(offset);
          // A byte that keeps whatever it held: only the rows that read back see it.
          if (stuck) bios.stuckBits[offset] = 0xFF;
        }
        const std::int32_t result = Write(*object, {row.nameId, position});
        if (after.empty()) {
          EXPECT_EQ(result, 0);
          EXPECT_TRUE(bios.cmosWrites.empty());
          break;
        }
        EXPECT_EQ(result, 1);
        if (!stuck) {
          for (const auto& [offset, value] : after) EXPECT_EQ(bios.cmos[offset], value);
        }
        const int counted = stuck && row.readBack ? 0 : change;
        EXPECT_EQ(bios.Checksum(),
                  row.checksum ? static_cast<std::uint16_t>(0x1234 + counted) : 0x1234);
        EXPECT_EQ(bios.cmosWrites.size(), after.size() + (row.checksum ? 1 : 0));
        if (row.checksum) {
          EXPECT_EQ(bios.cmosWrites.back().substr(0, 4), "7B 2");
        }
      }
    }
  }
}

TEST_F(BuiltInTest, TheChecksumWrapsAtSixteenBits) {
  auto object = Make("tq4400_UsbLegacySupport", BuiltInSet::SetB, 2476);
  bios.cmos[0x50] = 0x12;
  EXPECT_EQ(Write(*object, {48, 0}), 1);
  EXPECT_EQ(bios.cmos[0x50], 0x00);
  EXPECT_EQ(bios.cmos[0x7B], 0xFF);
  EXPECT_EQ(bios.cmos[0x7C], 0xEE);
  EXPECT_EQ(bios.cmosWrites, (std::vector<std::string>{"50 1 00", "7B 2 FF EE"}));
}

TEST_F(BuiltInTest, HaltOnAndPostDelayReadOddBitsAsTheTableSays) {
  auto haltOn = Make("tq4400_HaltOn", BuiltInSet::SetB, 2476);
  for (const std::uint8_t low : {3, 5, 7}) {
    bios.cmos[0x3E] = low;
    EXPECT_EQ(Words(*haltOn)[1], 2) << "All But Keyboard";
  }
  bios.cmos[0x3E] = 0x05;
  EXPECT_EQ(Write(*haltOn, {103, 5}), 0);
  EXPECT_EQ(bios.cmos[0x3E], 0x05);
  EXPECT_TRUE(bios.cmosWrites.empty());

  auto postDelay = Make("tq4400_PostDelay", BuiltInSet::SetB, 2476);
  for (const std::uint8_t low : {4, 5}) {
    bios.cmos[0x4D] = low;
    const auto words = Words(*postDelay);
    EXPECT_EQ(words[1], low);
    EXPECT_EQ(StringTableEntries[words[2 + words[1]]], std::string("--"));
  }
}

TEST_F(BuiltInTest, TheCmosBootOrderHoldsFourDeviceCodes) {
  auto order = Make("tq4400_BootOrder", BuiltInSet::SetB, 2476);
  ExpectInfo(*order, ValueKind::OrderedList, 0, 14, 3, 4);
  bios.cmos[0x65] = 0x10;  // codes 0 then 1
  bios.cmos[0x66] = 0x32;  // codes 2 then 3
  EXPECT_EQ(Words(*order), (std::vector<std::uint16_t>{66, 81, 69, 36, 70, kNone, 0}));
  bios.cmos[0x65] = 0x85;  // an unknown code 5, then 8
  bios.cmos[0x66] = 0xF4;
  EXPECT_EQ(Words(*order), (std::vector<std::uint16_t>{66, 116, 39, 116, 116, kNone, 0}));

  bios.cmos[0x7B] = 0;
  bios.cmos[0x7C] = 0;
  bios.cmos[0x65] = 0x10;
  bios.cmos[0x66] = 0x32;
  // An element that is none of the four devices is stored as code 8, which reads as Disable.
  EXPECT_EQ(Write(*order, {66, 69, 81, 70, 38, kNone, 0}), 1);
  EXPECT_EQ(bios.cmos[0x65], 0x01);
  EXPECT_EQ(bios.cmos[0x66], 0x83);
  EXPECT_EQ(bios.Checksum(), static_cast<std::uint16_t>((0x01 - 0x10) + (0x83 - 0x32)));
  EXPECT_EQ(Words(*order), (std::vector<std::uint16_t>{66, 69, 81, 70, 39, kNone, 0}));
}

// A device without a name reads as the placeholder; a placeholder written back takes the next
// such device's code, so that reordering the others never disables it.
TEST_F(BuiltInTest, TheCmosBootOrderKeepsItsUnnamedDevices) {
  auto order = Make("tq4400_BootOrder", BuiltInSet::SetB, 2476);
  const struct {
    std::uint8_t low, high;            // CMOS 0x65 and 0x66 before
    std::vector<std::uint16_t> words;  // written after the name index
    std::uint8_t newLow, newHigh;
  } cases[] = {
      {0x85, 0xF4, {116, 39, 116, 116}, 0x85, 0xF4},  // written back as read
      {0x51, 0x32, {116, 69, 36, 70}, 0x15, 0x32},    // the unnamed 5 moved first
      {0x51, 0x32, {69, 36, 70, 116}, 0x21, 0x53},    // and last
      {0x10, 0x32, {116, 69, 36, 70}, 0x18, 0x32},    // no unnamed device to take: disabled
  };
  for (const auto& c : cases) {
    bios.cmos[0x65] = c.low;
    bios.cmos[0x66] = c.high;
    std::vector<std::uint16_t> words = {66};
    words.insert(words.end(), c.words.begin(), c.words.end());
    words.push_back(kNone);
    words.push_back(0);
    EXPECT_EQ(Write(*order, words), 1);
    EXPECT_EQ(bios.cmos[0x65], c.newLow);
    EXPECT_EQ(bios.cmos[0x66], c.newHigh);
  }
}

TEST_F(BuiltInTest, ACmosWriteNeedsTheBytesItKeeps) {
  auto object = Make("tq4400_FrontUsbPorts", BuiltInSet::SetB, 2476);
  bios.cmos[0x50] = 0xF0;
  bios.cmosReadFails = true;
  // Without the old byte its other settings would be cleared, and the checksum spoiled.
  EXPECT_EQ(Write(*object, {91, 1}), 0);
  EXPECT_TRUE(bios.cmosWrites.empty());
  EXPECT_EQ(bios.cmos[0x50], 0xF0);
  // A failed read still gives a value: the byte reads as 0.
  EXPECT_EQ(Words(*object)[1], 0);
}

// ---- the other families ---------------------------------------------------------------------

TEST_F(BuiltInTest, TheOtherRowsHaveTheirKindsSizesAndMenus) {
  const struct {
    const char* key;
    std::uint16_t nameId;
    ValueKind kind;
    std::uint16_t flags;
    std::uint32_t size;
    std::uint16_t root, sub;
  } rows[] = {
      {"Manufacturer", 7, ValueKind::Alpha, 2, 43, 1, 6},
      {"Model", 8, ValueKind::Alpha, 2, 43, 1, 6},
      {"SerialNumber", 19, ValueKind::Alpha, 2, 43, 1, 6},
      {"EnterAssetTag", 17, ValueKind::Alpha, 0, 43, 2, 16},
      {"EnterOwnerTag", 18, ValueKind::Alpha, 0, 83, 2, 16},
      {"SetupPassword", 20, ValueKind::Password, 0, 131, 2, 16},
      {"PowerOnPassword", 24, ValueKind::Password, 0, 131, 2, 16},
  };
  bios.assetTag = "A1";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.key);
    auto object = Make(row.key);
    EXPECT_EQ(object->row().nameId, row.nameId);
    ExpectInfo(*object, row.kind, row.flags, row.size, row.root, row.sub);
  }
  for (const auto set : {BuiltInSet::SetA, BuiltInSet::SetB}) {
    auto table = Make("BiosStringTableEnglish", set, 2476);
    EXPECT_EQ(table->row().nameId, 0);
    // 117 texts of 1,696 characters with their NULs, the leading index and the closing NUL.
    ExpectInfo(*table, ValueKind::StringTable, 2, 1816, kNone, kNone);
  }
}

TEST_F(BuiltInTest, SystemTextsShowFortyCharactersAndTakeNoWrite) {
  bios.manufacturer = std::string(50, 'M');
  bios.product = "Tower 9";
  bios.serial = "";
  EXPECT_EQ(Text(*Make("Manufacturer")), std::string(40, 'M'));
  EXPECT_EQ(Text(*Make("Model")), "Tower 9");
  EXPECT_EQ(Text(*Make("SerialNumber")), "");
  EXPECT_EQ(WriteText(*Make("Model"), "Other"), 0);
}

TEST_F(BuiltInTest, TheAssetTagIsSentAsSixtyThreeAndShownAsForty) {
  auto tag = Make("EnterAssetTag");
  const std::string text = std::string(35, 'a') + std::string(35, 'b');
  bios.calls.clear();
  EXPECT_EQ(WriteText(*tag, "  " + text + " \t\r\n"), 1);
  ASSERT_EQ(bios.calls.size(), 1u);
  const auto& call = bios.calls[0];
  EXPECT_EQ(call.sent.size(), 104u);
  EXPECT_EQ(call.U32(0), 0xE845u);
  EXPECT_EQ(call.U32(4), 1u);
  EXPECT_EQ(call.U32(8), 0x25u);
  EXPECT_EQ(call.U32(16), 0x4351u);
  EXPECT_EQ(call.Byte(40), 63);
  EXPECT_EQ(bios.assetTag, text.substr(0, 63));

  bios.calls.clear();
  EXPECT_EQ(Text(*tag), text.substr(0, 40));
  ASSERT_EQ(bios.calls.size(), 1u);
  EXPECT_TRUE(bios.calls[0].int15);
  EXPECT_EQ(bios.calls[0].sent.size(), 104u);
  EXPECT_EQ(bios.calls[0].U32(8), 0x25u);
  EXPECT_EQ(bios.calls[0].U32(32), 64u);

  // The second way in, when the 32-bit call fails.
  bios.int15Fails = true;
  bios.assetTag = "Desk 7";
  bios.calls.clear();
  EXPECT_EQ(Text(*tag), "Desk 7");
  ASSERT_EQ(bios.calls.size(), 2u);
  EXPECT_FALSE(bios.calls[1].int15);
  EXPECT_EQ(bios.calls[1].interrupt, 0x15);
  EXPECT_EQ(bios.calls[1].U32(32), 0u);

  bios.assetFails = true;
  EXPECT_EQ(Text(*tag), "<failed>");
  EXPECT_EQ(Make("EnterAssetTag")->IsPresent(&access), 0);
}

TEST_F(BuiltInTest, TheOwnerTagIsSentAsAHundredAndTwentyAndShownAsEighty) {
  auto tag = Make("EnterOwnerTag");
  const std::string text(130, 'o');
  bios.calls.clear();
  EXPECT_EQ(WriteText(*tag, text), 1);
  ASSERT_EQ(bios.calls.size(), 1u);
  const auto& call = bios.calls[0];
  EXPECT_EQ(call.sent.size(), 160u);
  EXPECT_EQ(call.U32(4), 1u);
  EXPECT_EQ(call.U32(8), 0x13u);
  EXPECT_EQ(call.U32(16), 0x4351u);
  EXPECT_EQ(bios.ownerTag, text.substr(0, 120));
  EXPECT_EQ(Text(*tag), text.substr(0, 80));
  // The blanks a written value is padded with never reach the firmware.
  EXPECT_EQ(WriteText(*tag, " Depot 7" + std::string(72, ' ')), 1);
  EXPECT_EQ(bios.ownerTag, "Depot 7");
}

TEST_F(BuiltInTest, PasswordsReadEmptyAndAreNeverWritten) {
  auto password = Make("SetupPassword");
  EXPECT_EQ(Text(*password), "");
  bios.calls.clear();
  EXPECT_EQ(WriteText(*password, "secret"), 0);
  EXPECT_TRUE(bios.calls.empty());
}

TEST_F(BuiltInTest, TheBootOrderNamesDevicesByTheirStringIndices) {
  // Devices 0 "HDA-L", 1 "BAY-B", 2 "USB-FL", 3 an unknown code, in priority [2, 0, 3, 1].
  bios.priorityLength = 4;
  bios.deviceCount = 4;
  bios.table.assign(4 + 4 * 16, 0);
  bios.table[0] = 2;
  bios.table[1] = 0;
  bios.table[2] = 3;
  bios.table[3] = 1;
  const char* codes[] = {"HDA-L", "BAY-B", "USB-FL", "ZIP-1"};
  for (std::uint32_t i = 0; i < 4; ++i) {
    const std::uint32_t pointer = 0xF0000000u + 0x200 + 0x10 * i;
    WriteU32(bios.table.data(), bios.table.size(), 4 + 16 * i + 8, pointer);
    memory.Put(0xF0200 + 0x10 * i, codes[i]);
  }
  auto order = Make("BootOrder");
  EXPECT_EQ(order->IsPresent(&access), 1);
  ExpectInfo(*order, ValueKind::OrderedList, 0, 12, 3, 4);
  EXPECT_EQ(Words(*order), (std::vector<std::uint16_t>{66, 80, 69, 116, 67, kNone}));
  EXPECT_TRUE(Words(*order, 11).empty());

  EXPECT_EQ(Write(*order, {66, 67, 69, kNone}), 1);
  ASSERT_EQ(bios.priorityWrites.size(), 1u);
  EXPECT_EQ(bios.priorityWrites[0], (std::vector<std::uint8_t>{1, 0, 2, 3}));
  // An element of 117 or more ends the list.
  EXPECT_EQ(Write(*order, {66, 80, 117, 67, kNone}), 1);
  EXPECT_EQ(bios.priorityWrites[1], (std::vector<std::uint8_t>{2, 1, 0, 3}));
  EXPECT_EQ(Write(*order, {65, 80, kNone}), 0);  // another object's name index
  // A device without a name of its own is moved by the placeholder at its place, and the order
  // written back as read stays as it is.
  EXPECT_EQ(Write(*order, {66, 116, 67, kNone}), 1);
  EXPECT_EQ(bios.priorityWrites[2], (std::vector<std::uint8_t>{3, 1, 2, 0}));
  EXPECT_EQ(Write(*order, {66, 116, 67, 80, 69, kNone}), 1);
  EXPECT_EQ(bios.priorityWrites[3], (std::vector<std::uint8_t>{3, 1, 2, 0}));

  // Without devices the object is still there, with nothing to read.
  bios.deviceCount = 0;
  auto empty = Make("BootOrder");
  EXPECT_EQ(empty->IsPresent(&access), 1);
  EXPECT_EQ(empty->GetSize(&access), 4u);
  EXPECT_TRUE(Words(*empty).empty());
}

// ---- through the table and the legacy read -----------------------------------------------

TEST_F(BuiltInTest, EachObjectProbesTheFirmwareOnceForItsPresence) {
  library.machineId = 1184;
  for (const auto& row : kToggles) bios.toggles[row.code] = 0;
  bios.securityEbx = 0x71800;
  bios.assetTag = "tag";
  SysObjTable table(&access);
  std::uint32_t bytes = 0;
  ASSERT_EQ(table.GetSysObjListSize(&bytes), 1);
  EXPECT_EQ(bytes, 8u * 39 + 4);
  for (const auto& row : kToggles)
    EXPECT_EQ(bios.CallsFor(row.code), row.code == 0x61 ? 2 : 1) << row.key;
  const std::size_t callsAfterBuild = bios.calls.size();
  SysObjInfo info;
  for (std::uint16_t i = 0; i < 39; ++i)
    EXPECT_EQ(table.GetSysObjInfo(i, info.bytes.data(), 22), 1);
  EXPECT_EQ(bios.calls.size(), callsAfterBuild);

  // An object the firmware does not answer is left out for the run.
  bios.toggles.erase(0x46);
  SysObjTable other(&access);
  other.GetSysObjListSize(&bytes);
  EXPECT_EQ(bytes, 8u * 38 + 4);
}

TEST_F(BuiltInTest, TheStringTableIsReadAsAHundredAndEighteenTexts) {
  library.machineId = 2476;
  LegacyState state;
  state.access = &access;
  std::string password;
  ASSERT_EQ(LoadLegacySettings(state, password), 1);
  const LegacySetting* table = state.stringTableSetting();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->strings.size(), 118u);
  // The menus the rows name, and the texts at either end.
  const std::pair<std::size_t, const char*> texts[] = {{0, "English"},
                                                       {1, "File"},
                                                       {2, "Security"},
                                                       {3, "Advanced"},
                                                       {4, "Boot Options"},
                                                       {5, "Device Options"},
                                                       {6, "System Information"},
                                                       {16, "System IDs"},
                                                       {28, "Device Security"},
                                                       {54, "SmartCard Passwords"},
                                                       {58, "Embedded Security Activation Policy"},
                                                       {116, "--"},
                                                       {117, ""}};
  for (const auto& [index, text] : texts) EXPECT_EQ(table->strings[index], text) << index;
  EXPECT_EQ(state.legacySettings.size(), 14u);
  for (std::size_t i = 0; i < StringTableEntries.size(); ++i)
    EXPECT_EQ(LookupString(state, static_cast<std::uint16_t>(i)), StringTableEntries[i]);
}

}  // namespace
}  // namespace corvane::legacy
