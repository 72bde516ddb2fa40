// The management library: every entry point the program resolves, exported with C linkage and
// the C calling convention, serving the legacy section of the machine file that
// CORVANE_MACHINE names. Each export is checked against the type the program calls it through.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "legacy/tarnix_entry_points.h"
#include "platform/host.h"
#include "sim/legacy/legacy_firmware.h"
#include "sim/legacy/sim_keyboard.h"
#include "sim/machine/machine_file.h"

#if defined(_WIN32)
#define TARNIX_EXPORT extern "C" __declspec(dllexport)
#else
#define TARNIX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The program calls each entry point through a pointer of this type.
#define TARNIX_CHECK(name, type) \
  static_assert(std::is_same_v<decltype(&(name)), corvane::legacy::type>, #name)

namespace {

using corvane::sim::Json;
using corvane::sim::LegacyFirmware;
using corvane::sim::SystemText;

constexpr std::size_t kScanCodeBuffer = 256;
// The variant without the 16-bit interrupt entry point has no use for it.
[[maybe_unused]] constexpr std::int32_t kInterrupt15 = 0x15;

// The firmware of the machine the library was initialised on. Changes are kept in memory and
// written when the objects are locked again, when the library is initialised anew or unloaded,
// and at the latest when the process ends.
// Its moves only move a string, a JSON value and a pointer, none of which throws; the exception
// check cannot see through the JSON library's move.
// NOLINTNEXTLINE(bugprone-exception-escape)
class Library {
 public:
  ~Library() { Save(); }

  std::int32_t Init() {
    Save();
    firmware_.reset();
    path_ = corvane::platform::Os().Environment("CORVANE_MACHINE");
    if (path_.empty()) return 0;
    std::string text;
    std::string error;
    if (!corvane::platform::Os().ReadFile(path_, text) ||
        !corvane::sim::ParseJsonText(text, document_, error) || !document_.is_object())
      return 0;
    const auto section = document_.find("legacy");
    if (section == document_.end()) return 0;
    firmware_ = LegacyFirmware::Parse(*section, error);
    if (!firmware_ || firmware_->initFails()) {
      firmware_.reset();
      return 0;
    }
    return 1;
  }

  void Save() {
    if (!firmware_ || !firmware_->dirty()) return;
    // Silent like the rest of the library: a file that cannot be written keeps its content.
    if (corvane::sim::SaveSection(path_, "legacy", firmware_->section(), document_)) {
      document_["legacy"] = firmware_->section();
      firmware_->MarkSaved();
    }
  }

  LegacyFirmware* firmware() { return firmware_.get(); }

 private:
  std::string path_;
  Json document_;
  std::unique_ptr<LegacyFirmware> firmware_;
};

Library& TheLibrary() {
  // The host the library saves through is made first, so that it is destroyed after the
  // library's last save at unload or process end.
  [[maybe_unused]] static corvane::platform::Host& host = corvane::platform::Os();
  static Library library;
  return library;
}

LegacyFirmware* Firmware() {
  return TheLibrary().firmware();
}

const char* SystemTextOf(SystemText which) {
  LegacyFirmware* firmware = Firmware();
  return firmware == nullptr ? "" : firmware->Text(which).c_str();
}

std::uint8_t g_ignoredStatus = 0;

std::uint8_t& StatusOf(std::uint8_t* status) {
  return status != nullptr ? *status : g_ignoredStatus;
}

}  // namespace

TARNIX_EXPORT std::int32_t TarnixInit(std::int32_t /*first*/, std::int32_t /*second*/) {
  return TheLibrary().Init();
}
TARNIX_CHECK(TarnixInit, TarnixInitFn);

TARNIX_EXPORT std::int32_t TarnixGetIsAPwdSet() {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->passwordSet() ? 1 : 0;
}
TARNIX_CHECK(TarnixGetIsAPwdSet, TarnixGetIsAPwdSetFn);

TARNIX_EXPORT std::uint32_t TarnixGetMachineID() {
  LegacyFirmware* firmware = Firmware();
  return firmware == nullptr ? 0 : firmware->machineId();
}
TARNIX_CHECK(TarnixGetMachineID, TarnixGetMachineIDFn);

TARNIX_EXPORT const char* TarnixGetOwnershipString() {
  return SystemTextOf(SystemText::Ownership);
}
TARNIX_CHECK(TarnixGetOwnershipString, TarnixTextFn);

TARNIX_EXPORT const char* TarnixGetSerialNumber() {
  return SystemTextOf(SystemText::SerialNumber);
}
TARNIX_CHECK(TarnixGetSerialNumber, TarnixTextFn);

TARNIX_EXPORT const char* TarnixGetSystemManufacturer() {
  return SystemTextOf(SystemText::Manufacturer);
}
TARNIX_CHECK(TarnixGetSystemManufacturer, TarnixTextFn);

TARNIX_EXPORT const char* TarnixGetSystemProduct() {
  return SystemTextOf(SystemText::Product);
}
TARNIX_CHECK(TarnixGetSystemProduct, TarnixTextFn);

TARNIX_EXPORT std::int32_t TarnixChangeAdminPassword(const char* current, const char* next) {
  LegacyFirmware* firmware = Firmware();
  if (firmware == nullptr || current == nullptr || next == nullptr) return 1;
  const std::int32_t result = firmware->ChangeAdminPassword(current, next);
  TheLibrary().Save();
  return result;
}
TARNIX_CHECK(TarnixChangeAdminPassword, TarnixChangeAdminPasswordFn);

TARNIX_EXPORT std::int32_t TarnixSetSecuritySettings(const void* packet, std::uint32_t length,
                                                     std::uint8_t* status) {
  LegacyFirmware* firmware = Firmware();
  if (firmware == nullptr) return 0;
  const bool done = firmware->SetSecuritySettings(packet, length, StatusOf(status));
  TheLibrary().Save();
  return done ? 1 : 0;
}
TARNIX_CHECK(TarnixSetSecuritySettings, TarnixSetSecuritySettingsFn);

TARNIX_EXPORT std::int32_t TarnixChangeSysObjLockState(const char* password, std::uint32_t length,
                                                       std::int32_t state, std::uint8_t* status) {
  LegacyFirmware* firmware = Firmware();
  if (firmware == nullptr) return 0;
  const std::string_view given =
      password == nullptr ? std::string_view() : std::string_view(password, length);
  const std::int32_t result = firmware->ChangeLockState(given, state, StatusOf(status));
  if (state == 1) TheLibrary().Save();
  return result;
}
TARNIX_CHECK(TarnixChangeSysObjLockState, TarnixChangeSysObjLockStateFn);

TARNIX_EXPORT std::int32_t TarnixGetSysObjListSize(std::uint32_t* bytes) {
  LegacyFirmware* firmware = Firmware();
  std::uint32_t size = 0;
  if (firmware == nullptr || bytes == nullptr || !firmware->ListSize(size)) return 0;
  *bytes = size;
  return 1;
}
TARNIX_CHECK(TarnixGetSysObjListSize, TarnixGetSysObjListSizeFn);

TARNIX_EXPORT std::int32_t TarnixGetSysObjList(void* list, std::uint32_t capacity) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->List(list, capacity) ? 1 : 0;
}
TARNIX_CHECK(TarnixGetSysObjList, TarnixGetSysObjListFn);

TARNIX_EXPORT std::int32_t TarnixGetSysObjInfo(std::uint16_t index, void* info,
                                               std::uint32_t size) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->Info(index, info, size) ? 1 : 0;
}
TARNIX_CHECK(TarnixGetSysObjInfo, TarnixGetSysObjInfoFn);

TARNIX_EXPORT std::int32_t TarnixGetSysObjValue(std::uint16_t index, void* buffer,
                                                std::uint32_t size) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->Value(index, buffer, size) ? 1 : 0;
}
TARNIX_CHECK(TarnixGetSysObjValue, TarnixGetSysObjValueFn);

TARNIX_EXPORT std::int32_t TarnixSetSysObjValue(std::uint16_t index, const void* buffer,
                                                std::uint32_t size) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->SetValue(index, buffer, size) ? 1 : 0;
}
TARNIX_CHECK(TarnixSetSysObjValue, TarnixSetSysObjValueFn);

TARNIX_EXPORT std::int32_t ConvertStringToKeyboardScanCodes(std::int32_t /*zero*/, const char* text,
                                                            std::uint8_t* codes,
                                                            std::uint32_t* length) {
  std::string keys;
  if (text == nullptr || codes == nullptr || !corvane::sim::KeysOf(text, keys) ||
      keys.size() >= kScanCodeBuffer)
    return 0;
  std::memcpy(codes, keys.data(), keys.size());
  codes[keys.size()] = 0;
  if (length != nullptr) *length = static_cast<std::uint32_t>(keys.size());
  return 1;
}
TARNIX_CHECK(ConvertStringToKeyboardScanCodes, ConvertStringToKeyboardScanCodesFn);

// Interrupt 0x15: both entry points reach the same firmware.
TARNIX_EXPORT std::int32_t TarnixCall32bitInt15IOCtl(void* block, std::uint32_t size,
                                                     std::uint8_t* status) {
  LegacyFirmware* firmware = Firmware();
  if (firmware == nullptr || firmware->call32Fails()) return 0;
  return firmware->CallInterrupt15(block, size, StatusOf(status)) ? 1 : 0;
}
TARNIX_CHECK(TarnixCall32bitInt15IOCtl, TarnixCall32bitInt15IOCtlFn);

#ifndef TARNIX_WITHOUT_CALL16BITINTIOCTL
TARNIX_EXPORT std::int32_t TarnixCall16bitIntIOCtl(std::int32_t interrupt, void* block,
                                                   std::uint32_t size, std::uint8_t* status) {
  LegacyFirmware* firmware = Firmware();
  if (firmware == nullptr || firmware->call16Fails() || interrupt != kInterrupt15) return 0;
  return firmware->CallInterrupt15(block, size, StatusOf(status)) ? 1 : 0;
}
TARNIX_CHECK(TarnixCall16bitIntIOCtl, TarnixCall16bitIntIOCtlFn);
#endif

TARNIX_EXPORT std::int32_t TarnixGetIPLDevInfo(std::uint32_t* deviceCount,
                                               std::uint32_t* priorityLength,
                                               std::uint32_t* tableTag, std::uint32_t* tableSize) {
  LegacyFirmware* firmware = Firmware();
  if (firmware == nullptr || deviceCount == nullptr || priorityLength == nullptr ||
      tableTag == nullptr || tableSize == nullptr)
    return 0;
  return firmware->IplDevInfo(*deviceCount, *priorityLength, *tableTag, *tableSize) ? 1 : 0;
}
TARNIX_CHECK(TarnixGetIPLDevInfo, TarnixGetIPLDevInfoFn);

TARNIX_EXPORT std::int32_t TarnixGetIPLTableInfo(void* table, std::uint32_t tableSize,
                                                 std::uint32_t priorityLength,
                                                 std::uint32_t tableTag) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->IplTable(table, tableSize, priorityLength, tableTag) ? 1
                                                                                               : 0;
}
TARNIX_CHECK(TarnixGetIPLTableInfo, TarnixGetIPLTableInfoFn);

TARNIX_EXPORT std::int32_t TarnixSetIPLPriority(const void* table, std::uint32_t priorityLength) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->SetIplPriority(table, priorityLength) ? 1 : 0;
}
TARNIX_CHECK(TarnixSetIPLPriority, TarnixSetIPLPriorityFn);

TARNIX_EXPORT std::int32_t TarnixGetCMOS(std::uint32_t offset, std::uint32_t count,
                                         std::uint8_t* bytes) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->GetCmos(offset, count, bytes) ? 1 : 0;
}
TARNIX_CHECK(TarnixGetCMOS, TarnixCmosFn);

TARNIX_EXPORT std::int32_t TarnixSetCMOS(std::uint32_t offset, std::uint32_t count,
                                         std::uint8_t* bytes) {
  LegacyFirmware* firmware = Firmware();
  return firmware != nullptr && firmware->SetCmos(offset, count, bytes) ? 1 : 0;
}
TARNIX_CHECK(TarnixSetCMOS, TarnixCmosFn);

// Entry points the program resolves but never calls: they answer 0.
#define TARNIX_UNUSED(name)           \
  TARNIX_EXPORT std::int32_t name() { \
    return 0;                         \
  }                                   \
  TARNIX_CHECK(name, TarnixUnusedFn)

TARNIX_UNUSED(TarnixDetect);
TARNIX_UNUSED(TarnixObtainBiosData);
TARNIX_UNUSED(TarnixGetFoundDevicesCount);
TARNIX_UNUSED(TarnixGetOpSysLangCode);
TARNIX_UNUSED(TarnixGetOpSysCode);
TARNIX_UNUSED(TarnixGetOpSysServiceRelease);
TARNIX_UNUSED(TarnixGetOpSysPlatform);
TARNIX_UNUSED(TarnixGetROMVersion);
TARNIX_UNUSED(TarnixGetSmbiosBiosVersion);
TARNIX_UNUSED(TarnixGetSmbiosBiosReleaseDate);
TARNIX_UNUSED(TarnixGetROMFamily);
TARNIX_UNUSED(TarnixGetAssetTag);
TARNIX_UNUSED(TarnixGetFoundDeviceAtIndex);
TARNIX_UNUSED(TarnixPxeNextBoot);
TARNIX_UNUSED(TarnixFlashRomFromCAB);
TARNIX_UNUSED(TarnixSetAPwd);
TARNIX_UNUSED(TarnixReadWriteFirstBootString);
TARNIX_UNUSED(TarnixReadWriteProductNameString);
TARNIX_UNUSED(TarnixIsCPUSerNumSupported);
TARNIX_UNUSED(TarnixGetSystemVersion);
TARNIX_UNUSED(TarnixGetBaseBoardManufacturer);
TARNIX_UNUSED(TarnixGetBaseBoardProduct);
TARNIX_UNUSED(TarnixGetBaseBoardVersion);
TARNIX_UNUSED(TarnixGetWMIProviderType);
#ifndef TARNIX_WITHOUT_GETDRIVERVERSION
TARNIX_UNUSED(TarnixGetDriverVersion);
#endif
