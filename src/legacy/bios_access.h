// The run's one BIOS-access object: the management-library binding of the legacy backend and
// the setup-password methods that work on either backend.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "firmware/boot_device_list.h"
#include "legacy/tarnix_entry_points.h"
#include "platform/dynamic_library.h"
#include "platform/wbem.h"
#include "wmi/wmi_connection.h"

namespace corvane {

// It answers the boot-device list's table calls.
class BiosAccess : public firmware::BootTableAccess {
 public:
  BiosAccess();
  ~BiosAccess() override;
  BiosAccess(const BiosAccess&) = delete;
  BiosAccess& operator=(const BiosAccess&) = delete;

  // Loads the management library from path (a folder or the file itself; the executable's
  // folder when null) and, when every required entry point resolved, initialises it with first
  // and second. Returns `initialized`.
  std::int32_t LoadManagementLibrary(const char* path, int first, int second);
  void UnloadManagementLibrary();
  [[nodiscard]] bool IsUsable() const { return initialized_ != 0; }
  // The full path last handed to the loader.
  [[nodiscard]] const std::string& loadedPath() const { return loadedPath_; }

  // Library wrappers: without a usable library, or without the entry point, they do not call
  // and answer 0 or the empty text. Texts are copied at once.
  std::uint32_t GetMachineId();
  std::string GetOwnershipString();
  std::string GetSerialNumber();
  std::string GetSystemManufacturer();
  std::string GetSystemProduct();
  std::int32_t CallInt15(void* block, std::uint32_t size, std::uint8_t* status);
  std::int32_t CallInterrupt(std::int32_t interrupt, void* block, std::uint32_t size,
                             std::uint8_t* status);
  std::int32_t SetSecuritySettings(const void* packet, std::uint32_t length, std::uint8_t* status);
  // state 0 unlocks, 1 locks. The library sees a zero-padded copy of at least four bytes.
  std::int32_t ChangeLockState(const std::string& password, std::uint32_t length,
                               std::int32_t state, std::uint8_t* status);
  std::int32_t GetSysObjListSize(std::uint32_t* bytes);
  std::int32_t GetSysObjList(void* list, std::uint32_t capacity);
  std::int32_t GetSysObjInfo(std::uint16_t index, void* info, std::uint32_t size);
  std::int32_t GetSysObjValue(std::uint16_t index, void* buffer, std::uint32_t size);
  std::int32_t SetSysObjValue(std::uint16_t index, const void* buffer, std::uint32_t size);
  std::int32_t GetIplDevInfo(std::uint32_t* deviceCount, std::uint32_t* priorityLength,
                             std::uint32_t* tableTag, std::uint32_t* tableSize) override;
  std::int32_t GetIplTableInfo(void* table, std::uint32_t tableSize, std::uint32_t priorityLength,
                               std::uint32_t tableTag) override;
  std::int32_t SetIplPriority(const void* table, std::uint32_t priorityLength) override;
  std::int32_t GetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes);
  std::int32_t SetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes);

  // Whether a 16-bit BIOS call was wanted that this program cannot make here (on 64-bit
  // Windows): the run then says that the 32-bit program on a 32-bit system is needed.
  [[nodiscard]] bool NeedsSixteenBitCalls() const { return sixteenBitCallWanted_; }

  // Setup-password methods.
  bool IsPasswordSet();
  std::int32_t ChangeSetupPassword(const std::string& currentPassword,
                                   const std::string& newPassword);
  bool CheckSetupPassword(const std::string& password);
  // The Password argument for a current password, converting to scan codes through the
  // management library where the BIOS wants them.
  std::string EncodeCurrentPassword(const std::string& password);

  // Whether the provider's setting interface is there, asked once per run for the configuration
  // jobs, which all work on the run's one BiosAccess.
  wmi::SettingInterfaceProbe& jobProbe() { return jobProbe_; }

 private:
  // The entry point of a slot when the library is usable, else nullptr.
  template <typename Fn>
  [[nodiscard]] Fn Callable(legacy::EntryPointSlot slot) const {
    if (initialized_ == 0) return nullptr;
    return reinterpret_cast<Fn>(entryPoints_[static_cast<std::size_t>(slot)]);
  }
  [[nodiscard]] std::string Text(legacy::EntryPointSlot slot) const;

  wbem::ComScope com_;
  std::array<platform::EntryPoint, legacy::kEntryPointCount> entryPoints_{};
  std::int32_t initialized_ = 0;
  platform::LibraryPtr libraryModule_;
  std::string loadedPath_;
  bool sixteenBitCallWanted_ = false;
  // The same question for the password methods, asked apart from the jobs' as ever.
  wmi::SettingInterfaceProbe passwordProbe_;
  wmi::SettingInterfaceProbe jobProbe_;
};

}  // namespace corvane
