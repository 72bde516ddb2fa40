// The management library's entry points as the program calls them: one C function type per
// name, in the order the binding resolves them. The library in tarnix/ declares its exports
// with these same types, so the two sides cannot drift apart. Every entry point uses the C
// calling convention, so its exported name is the plain name on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::legacy {

extern "C" {
using TarnixInitFn = std::int32_t (*)(std::int32_t first, std::int32_t second);
using TarnixGetIsAPwdSetFn = std::int32_t (*)();
using TarnixGetMachineIDFn = std::uint32_t (*)();
// NUL-terminated text owned by the library, valid until its next call.
using TarnixTextFn = const char* (*)();
using TarnixChangeAdminPasswordFn = std::int32_t (*)(const char* current, const char* next);
using TarnixCall32bitInt15IOCtlFn = std::int32_t (*)(void* block, std::uint32_t size,
                                                     std::uint8_t* status);
using TarnixCall16bitIntIOCtlFn = std::int32_t (*)(std::int32_t interrupt, void* block,
                                                   std::uint32_t size, std::uint8_t* status);
using TarnixSetSecuritySettingsFn = std::int32_t (*)(const void* packet, std::uint32_t length,
                                                     std::uint8_t* status);
using TarnixChangeSysObjLockStateFn = std::int32_t (*)(const char* password, std::uint32_t length,
                                                       std::int32_t state, std::uint8_t* status);
using TarnixGetSysObjListSizeFn = std::int32_t (*)(std::uint32_t* bytes);
using TarnixGetSysObjListFn = std::int32_t (*)(void* list, std::uint32_t capacity);
using TarnixGetSysObjInfoFn = std::int32_t (*)(std::uint16_t index, void* info, std::uint32_t size);
using TarnixGetSysObjValueFn = std::int32_t (*)(std::uint16_t index, void* buffer,
                                                std::uint32_t size);
using TarnixSetSysObjValueFn = std::int32_t (*)(std::uint16_t index, const void* buffer,
                                                std::uint32_t size);
using TarnixGetIPLDevInfoFn = std::int32_t (*)(std::uint32_t* deviceCount,
                                               std::uint32_t* priorityLength,
                                               std::uint32_t* tableTag, std::uint32_t* tableSize);
using TarnixGetIPLTableInfoFn = std::int32_t (*)(void* table, std::uint32_t tableSize,
                                                 std::uint32_t priorityLength,
                                                 std::uint32_t tableTag);
using TarnixSetIPLPriorityFn = std::int32_t (*)(const void* table, std::uint32_t priorityLength);
using TarnixCmosFn = std::int32_t (*)(std::uint32_t offset, std::uint32_t count,
                                      std::uint8_t* bytes);
using ConvertStringToKeyboardScanCodesFn = std::int32_t (*)(std::int32_t zero, const char* text,
                                                            std::uint8_t* codes /* 256 bytes */,
                                                            std::uint32_t* length);
// Resolved with the others but never called by the program.
using TarnixUnusedFn = std::int32_t (*)();
}

// Slots of the binding, in resolution order.
enum class EntryPointSlot : std::size_t {
  TarnixInit,
  TarnixDetect,
  TarnixObtainBiosData,
  TarnixGetFoundDevicesCount,
  TarnixGetIsAPwdSet,
  TarnixGetOpSysLangCode,
  TarnixGetOpSysCode,
  TarnixGetOpSysServiceRelease,
  TarnixGetOpSysPlatform,
  TarnixGetMachineID,
  TarnixGetROMVersion,
  TarnixGetSmbiosBiosVersion,
  TarnixGetSmbiosBiosReleaseDate,
  TarnixGetROMFamily,
  TarnixGetAssetTag,
  TarnixGetOwnershipString,
  TarnixGetSerialNumber,
  TarnixGetFoundDeviceAtIndex,
  TarnixPxeNextBoot,
  TarnixFlashRomFromCAB,
  TarnixSetAPwd,
  TarnixChangeAdminPassword,
  TarnixReadWriteFirstBootString,
  TarnixReadWriteProductNameString,
  TarnixCall32bitInt15IOCtl,
  TarnixCall16bitIntIOCtl,
  TarnixIsCPUSerNumSupported,
  TarnixSetSecuritySettings,
  TarnixChangeSysObjLockState,
  TarnixGetSysObjListSize,
  TarnixGetSysObjList,
  TarnixGetSysObjInfo,
  TarnixGetSysObjValue,
  TarnixSetSysObjValue,
  TarnixGetIPLDevInfo,
  TarnixGetIPLTableInfo,
  TarnixSetIPLPriority,
  TarnixGetSystemManufacturer,
  TarnixGetSystemProduct,
  TarnixGetSystemVersion,
  TarnixGetBaseBoardManufacturer,
  TarnixGetBaseBoardProduct,
  TarnixGetBaseBoardVersion,
  TarnixGetWMIProviderType,
  TarnixGetDriverVersion,
  TarnixGetCMOS,
  TarnixSetCMOS,
  ConvertStringToKeyboardScanCodes,
  Count
};

inline constexpr std::size_t kEntryPointCount = static_cast<std::size_t>(EntryPointSlot::Count);

struct EntryPointName {
  const char* name;
  bool optional;  // the library is usable without it
};

// Names in resolution order, one per slot.
inline constexpr EntryPointName kEntryPointNames[kEntryPointCount] = {
    {"TarnixInit", false},
    {"TarnixDetect", false},
    {"TarnixObtainBiosData", true},
    {"TarnixGetFoundDevicesCount", false},
    {"TarnixGetIsAPwdSet", false},
    {"TarnixGetOpSysLangCode", false},
    {"TarnixGetOpSysCode", false},
    {"TarnixGetOpSysServiceRelease", false},
    {"TarnixGetOpSysPlatform", false},
    {"TarnixGetMachineID", false},
    {"TarnixGetROMVersion", false},
    {"TarnixGetSmbiosBiosVersion", true},
    {"TarnixGetSmbiosBiosReleaseDate", true},
    {"TarnixGetROMFamily", false},
    {"TarnixGetAssetTag", false},
    {"TarnixGetOwnershipString", false},
    {"TarnixGetSerialNumber", false},
    {"TarnixGetFoundDeviceAtIndex", false},
    {"TarnixPxeNextBoot", true},
    {"TarnixFlashRomFromCAB", false},
    {"TarnixSetAPwd", false},
    {"TarnixChangeAdminPassword", true},
    {"TarnixReadWriteFirstBootString", false},
    {"TarnixReadWriteProductNameString", false},
    {"TarnixCall32bitInt15IOCtl", false},
    {"TarnixCall16bitIntIOCtl", true},
    {"TarnixIsCPUSerNumSupported", false},
    {"TarnixSetSecuritySettings", false},
    {"TarnixChangeSysObjLockState", false},
    {"TarnixGetSysObjListSize", false},
    {"TarnixGetSysObjList", false},
    {"TarnixGetSysObjInfo", false},
    {"TarnixGetSysObjValue", false},
    {"TarnixSetSysObjValue", false},
    {"TarnixGetIPLDevInfo", false},
    {"TarnixGetIPLTableInfo", false},
    {"TarnixSetIPLPriority", false},
    {"TarnixGetSystemManufacturer", false},
    {"TarnixGetSystemProduct", false},
    {"TarnixGetSystemVersion", false},
    {"TarnixGetBaseBoardManufacturer", false},
    {"TarnixGetBaseBoardProduct", false},
    {"TarnixGetBaseBoardVersion", false},
    {"TarnixGetWMIProviderType", false},
    {"TarnixGetDriverVersion", false},
    {"TarnixGetCMOS", false},
    {"TarnixSetCMOS", false},
    {"ConvertStringToKeyboardScanCodes", false},
};

}  // namespace corvane::legacy
