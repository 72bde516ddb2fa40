#include <algorithm>
#include <array>

#include "legacy/bios_access.h"
#include "legacy/built_in_objects.h"
#include "legacy/sys_obj_table.h"

namespace corvane::legacy {
namespace {

// The machines whose firmware answers the objects of set A.
constexpr std::array<std::uint16_t, 26> kSetAMachines = {
    1184, 1468, 1780, 1860, 2008, 2032, 2036,  2040,  2080,  2084,  2100,  2188,  2192,
    2236, 2356, 2360, 2368, 2372, 2460, 12424, 12426, 12427, 12430, 12464, 12478, 12481};
constexpr std::uint16_t kSetBMachine = 2476;

}  // namespace

BuiltInSet ChooseBuiltInSet(std::uint16_t machineId) {
  for (const std::uint16_t id : kSetAMachines)
    if (id == machineId) return BuiltInSet::SetA;
  return machineId == kSetBMachine ? BuiltInSet::SetB : BuiltInSet::None;
}

namespace {

// Menus: root / first sub-menu, as string indices.
constexpr std::uint16_t kFile = 1, kSecurity = 2, kAdvanced = 3;
constexpr std::uint16_t kBootOptions = 4, kDeviceOptions = 5, kSystemInformation = 6;
constexpr std::uint16_t kSystemIds = 16, kDeviceSecurity = 28, kSmartCardPasswords = 54;
// Choice pairs. Six numbers allocated before main: a start that fails there fails anyway.
// NOLINTBEGIN(cert-err58-cpp)
const std::vector<std::uint16_t> kDisableEnable = {39, 38};
const std::vector<std::uint16_t> kEnableDisable = {38, 39};
const std::vector<std::uint16_t> kHiddenAvailable = {40, 41};
// NOLINTEND(cert-err58-cpp)

// The machines whose "SDCardSlot" is on when BH is non-zero; on the others it is on when BH is 0.
constexpr std::array<std::uint16_t, 4> kSetRuleCardSlots = {2100, 2188, 2192, 2236};

SysObjRow Row(const char* key, std::uint16_t nameId, std::uint16_t root, std::uint16_t sub,
              std::uint16_t flags = 0) {
  return SysObjRow{key, nameId, root, sub, flags};
}

struct ToggleRow {
  const char* key;
  std::uint16_t nameId;
  const std::vector<std::uint16_t>* choices;
  std::uint16_t root;
  std::uint16_t sub;
  std::uint16_t code;
  ToggleRule rule;
  std::uint8_t bit;
};

// Set A's rows 1 to 4, which set B shares.
void AddSystemObjects(std::vector<std::unique_ptr<SysObj>>& objects) {
  objects.push_back(std::make_unique<StringTableObject>(
      Row("BiosStringTableEnglish", 0, kNoString, kNoString, kReadOnlyFlag)));
  objects.push_back(
      std::make_unique<SystemText>(Row("Manufacturer", 7, kFile, kSystemInformation, kReadOnlyFlag),
                                   &BiosAccess::GetSystemManufacturer));
  objects.push_back(std::make_unique<SystemText>(
      Row("Model", 8, kFile, kSystemInformation, kReadOnlyFlag), &BiosAccess::GetSystemProduct));
  objects.push_back(std::make_unique<SystemText>(
      Row("SerialNumber", 19, kFile, kSystemInformation, kReadOnlyFlag),
      &BiosAccess::GetSerialNumber));
}

void AddToggle(std::vector<std::unique_ptr<SysObj>>& objects, const ToggleRow& row) {
  objects.push_back(std::make_unique<FirmwareToggle>(Row(row.key, row.nameId, row.root, row.sub),
                                                     *row.choices, row.code, row.rule, row.bit));
}

void AddSecurityOption(std::vector<std::unique_ptr<SysObj>>& objects, const char* key,
                       std::uint16_t nameId, std::vector<std::uint16_t> choices, std::uint16_t root,
                       std::uint16_t sub, std::uint32_t size, std::uint32_t mask,
                       bool policy = false) {
  objects.push_back(std::make_unique<SecurityOption>(Row(key, nameId, root, sub),
                                                     std::move(choices), size, mask, policy));
}

std::vector<std::unique_ptr<SysObj>> MakeSetA(std::uint16_t machineId) {
  std::vector<std::unique_ptr<SysObj>> objects;
  AddSystemObjects(objects);
  AddSecurityOption(objects, "SmartCard", 55, kDisableEnable, kSecurity, kSmartCardPasswords, 10,
                    0x800);
  const ToggleRow ports[] = {
      {"SerialPort", 30, &kHiddenAvailable, kSecurity, kDeviceSecurity, 0x46, ToggleRule::Set, 0},
      {"ParallelPort", 29, &kHiddenAvailable, kSecurity, kDeviceSecurity, 0x3E, ToggleRule::Set, 0},
      {"InfraredPort", 49, &kHiddenAvailable, kSecurity, kDeviceSecurity, 0x02, ToggleRule::Set, 0},
      {"WlanButton", 33, &kDisableEnable, kSecurity, kDeviceSecurity, 0x62, ToggleRule::Clear, 0},
      {"FloppyDrive", 32, &kHiddenAvailable, kSecurity, kDeviceSecurity, 0x49, ToggleRule::Set, 0},
      {"FloppyBoot", 34, &kDisableEnable, kSecurity, kDeviceSecurity, 0x23, ToggleRule::Clear, 0},
      {"FloppyWrite", 35, &kDisableEnable, kSecurity, kDeviceSecurity, 0x24, ToggleRule::Set, 0},
      {"CdromBoot", 36, &kDisableEnable, kSecurity, kDeviceSecurity, 0x3F, ToggleRule::Set, 0},
      {"NicBoot", 47, &kDisableEnable, kSecurity, kDeviceSecurity, 0x39, ToggleRule::One, 0},
  };
  for (const auto& row : ports) AddToggle(objects, row);
  AddSecurityOption(objects, "EmbeddedSecurityActivationPolicy", 58, {59, 60, 61}, kSecurity,
                    kDeviceSecurity, 12, 0x60000, true);
  AddSecurityOption(objects, "ActivateEmbeddedSecurityOnNextBoot", 57, kDisableEnable, kSecurity,
                    kDeviceSecurity, 10, 0x10000);
  AddSecurityOption(objects, "RequirePasswordOnRestart", 62, kDisableEnable, kSecurity,
                    kDeviceSecurity, 10, 0x1000);
  objects.push_back(std::make_unique<AssetTag>(Row("EnterAssetTag", 17, kSecurity, kSystemIds)));
  objects.push_back(std::make_unique<OwnerTag>(Row("EnterOwnerTag", 18, kSecurity, kSystemIds)));
  objects.push_back(
      std::make_unique<PasswordObject>(Row("SetupPassword", 20, kSecurity, kSystemIds)));
  objects.push_back(
      std::make_unique<PasswordObject>(Row("PowerOnPassword", 24, kSecurity, kSystemIds)));
  objects.push_back(std::make_unique<BootOrder>(Row("BootOrder", 66, kAdvanced, kBootOptions)));

  const ToggleRule cardSlotRule = std::find(kSetRuleCardSlots.begin(), kSetRuleCardSlots.end(),
                                            machineId) != kSetRuleCardSlots.end()
                                      ? ToggleRule::Set
                                      : ToggleRule::Clear;
  const ToggleRow toggles[] = {
      {"MultiBoot", 44, &kDisableEnable, kAdvanced, kBootOptions, 0x4A, ToggleRule::Set, 0},
      {"QuickBoot", 45, &kDisableEnable, kAdvanced, kBootOptions, 0x19, ToggleRule::Hex1F, 0},
      {"NumLock", 46, &kDisableEnable, kAdvanced, kDeviceOptions, 0x4B, ToggleRule::One, 0},
      {"MultiplePointingDevices", 50, &kDisableEnable, kAdvanced, kDeviceOptions, 0x41,
       ToggleRule::Set, 0},
      {"TouchPad", 51, &kEnableDisable, kAdvanced, kDeviceOptions, 0x61, ToggleRule::Bit, 1},
      {"PointingStick", 52, &kEnableDisable, kAdvanced, kDeviceOptions, 0x61, ToggleRule::Bit, 0},
      {"SpeedStep", 53, &kEnableDisable, kAdvanced, kDeviceOptions, 0x53, ToggleRule::Clear, 0},
      {"USBLegacySupport", 48, &kDisableEnable, kAdvanced, kDeviceOptions, 0x17, ToggleRule::One,
       0},
      {"FanAlwaysOn", 37, &kDisableEnable, kAdvanced, kDeviceOptions, 0x67, ToggleRule::Set, 0},
      {"WirelessFeatures", 83, &kDisableEnable, kAdvanced, kDeviceOptions, 0x78, ToggleRule::BlBit4,
       0},
      {"WirelessLanState", 84, &kDisableEnable, kAdvanced, kDeviceOptions, 0x79, ToggleRule::Set,
       0},
      {"BluetoothDeviceState", 85, &kDisableEnable, kAdvanced, kDeviceOptions, 0x7A,
       ToggleRule::Set, 0},
      {"LanPowerState", 86, &kDisableEnable, kAdvanced, kDeviceOptions, 0x7B, ToggleRule::Set, 0},
      {"MobileHardDriveProtection", 87, &kDisableEnable, kSecurity, kDeviceOptions, 0x7C,
       ToggleRule::Set, 0},
      {"PaeNxDep", 88, &kDisableEnable, kAdvanced, kDeviceOptions, 0x7E, ToggleRule::Set, 0},
      {"SDCardSlot", 31, &kDisableEnable, kSecurity, kDeviceSecurity, 0x6F, cardSlotRule, 0},
      {"BIOSDMADataTransfers", 115, &kDisableEnable, kAdvanced, kDeviceOptions, 0x83,
       ToggleRule::Clear, 0},
  };
  for (const auto& row : toggles) AddToggle(objects, row);
  return objects;
}

void AddCmos(std::vector<std::unique_ptr<SysObj>>& objects, const char* key, std::uint16_t nameId,
             std::vector<std::uint16_t> choices, std::uint32_t size, CmosRow cmos) {
  objects.push_back(std::make_unique<CmosChoice>(Row(key, nameId, kAdvanced, kDeviceOptions),
                                                 std::move(choices), size, std::move(cmos)));
}

std::vector<std::unique_ptr<SysObj>> MakeSetB() {
  std::vector<std::unique_ptr<SysObj>> objects;
  AddSystemObjects(objects);
  objects.push_back(std::make_unique<CmosChoice>(
      Row("tq4400_WolBootOrder", 63, kAdvanced, kBootOptions), std::vector<std::uint16_t>{64, 65},
      12, CmosRow{{{0x4B, 0x80}}, CmosRule::Flag, true, false, {}, 0}));
  objects.push_back(
      std::make_unique<CmosBootOrder>(Row("tq4400_BootOrder", 66, kAdvanced, kBootOptions)));
  AddCmos(objects, "tq4400_OnchipUsbController", 90, kDisableEnable, 10,
          CmosRow{{{0x45, 0x01}, {0x50, 0x01}}, CmosRule::Flag, true, true, {}, 0});
  AddCmos(objects, "tq4400_UsbLegacySupport", 48, kDisableEnable, 10,
          CmosRow{{{0x50, 0x12}}, CmosRule::Flag, true, true, {}, 0});
  AddCmos(objects, "tq4400_FrontUsbPorts", 91, kDisableEnable, 10,
          CmosRow{{{0x50, 0x04}}, CmosRule::Flag, true, true, {}, 0});
  AddCmos(objects, "tq4400_OnboardSerialPort", 92, {39, 93, 94, 95, 96}, 16,
          CmosRow{{{0x49, 0x70}}, CmosRule::Field, true, false, {}, 0});
  AddCmos(objects, "tq4400_AfterPowerLoss", 97, {98, 99, 100}, 12,
          CmosRow{{{0x54, 0xC0}}, CmosRule::Field, true, false, {}, 0});
  AddCmos(objects, "tq4400_FanControl", 101, {102, 39}, 12,
          CmosRow{{{0x5F, 0x80}}, CmosRule::Field, true, false, {}, 0});
  AddCmos(objects, "tq4400_HaltOn", 103, {104, 105, 106, 107, 108}, 16,
          CmosRow{{{0x3E, 0x07}}, CmosRule::Mapped, false, false, {0, 1, 2, 4, 6}, 2});
  AddCmos(objects, "tq4400_PostDelay", 109, {110, 111, 112, 113, 116, 116, 114}, 20,
          CmosRow{{{0x4D, 0x07}}, CmosRule::Field, true, false, {}, 0});
  return objects;
}

}  // namespace

std::vector<std::unique_ptr<SysObj>> MakeBuiltInObjects(BuiltInSet set, std::uint16_t machineId) {
  switch (set) {
    case BuiltInSet::SetA:
      return MakeSetA(machineId);
    case BuiltInSet::SetB:
      return MakeSetB();
    case BuiltInSet::None:
      break;
  }
  return {};
}

}  // namespace corvane::legacy
