// The run's one BIOS-access object: the management-library binding of the legacy backend and
// the setup-password methods that work on either backend.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wbem.h"

namespace corvane {

class BiosAccess {
 public:
  BiosAccess();
  ~BiosAccess();
  BiosAccess(const BiosAccess&) = delete;
  BiosAccess& operator=(const BiosAccess&) = delete;

  // Loads the management library from path (a folder or the file itself; the executable's
  // folder when null) and initialises it with first and second. Returns `initialized`.
  std::int32_t LoadManagementLibrary(const char* path, int first, int second);
  void UnloadManagementLibrary();
  bool IsUsable() const { return initialized_ != 0; }
  // The full path last handed to the loader.
  const std::string& loadedPath() const { return loadedPath_; }

  // Library wrappers: 0 or empty text when the library is unusable.
  std::uint32_t GetMachineId();

  // Setup-password methods.
  bool IsPasswordSet();
  std::int32_t ChangeSetupPassword(const std::string& currentPassword,
                                   const std::string& newPassword);
  bool CheckSetupPassword(const std::string& password);
  // The Password argument for a current password, converting to scan codes through the
  // management library where the BIOS wants them.
  std::string EncodeCurrentPassword(const std::string& password);

 private:
  wbem::ComScope com_;
  std::int32_t initialized_ = 0;
  std::string loadedPath_;
};

}  // namespace corvane
