// The kernel's firmware-attributes class (/sys/class/firmware-attributes) served as the BIOS
// provider, so that Linux machines whose drivers expose their BIOS settings there get the same
// GetConfig, SetConfig and password change as machines with the provider.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/wbem.h"

namespace corvane::fwattr {

// The Return codes of SetBIOSSetting on this provider; the refusals are those of the simulated
// machine.
inline constexpr std::int32_t kReturnSuccess = 0;
inline constexpr std::int32_t kReturnNotFound = 1;      // no attribute has that name
inline constexpr std::int32_t kReturnReadOnly = 2;      // it cannot be changed
inline constexpr std::int32_t kReturnInvalidValue = 3;  // the value is not allowed
inline constexpr std::int32_t kReturnAccessDenied = 4;  // the password or the permission
inline constexpr std::int32_t kReturnFailed = 5;        // the firmware failed otherwise

inline constexpr std::string_view kSetupPasswordName = "Setup Password";

// One driver folder as the run uses it.
struct Tree {
  std::string driver;            // the driver folder's path
  bool settingsChanged = false;  // a setting's value was written this run
};

// The firmware's side of SetBIOSSetting: validates, writes in the order the drivers need, and
// answers its Return code. Nothing is written when the request is refused.
std::int32_t SetBiosSetting(Tree& tree, std::u16string_view name, std::u16string_view value,
                            std::u16string_view password);

// The Return code of a failed write of a value or a new password (the C library's error
// number; 0 is success).
std::int32_t ReturnCodeOfWriteError(int error);

std::unique_ptr<wbem::Locator> CreateTreeLocator(std::shared_ptr<Tree> tree);

// Installs the provider of the tree at root (a folder laid out like the class folder) as the
// process's WMI locator. False, with nothing installed, when no driver folder there holds
// attributes.
bool InstallTree(const std::string& root);

// CORVANE_FIRMWARE_ATTRIBUTES when set, else the kernel's class folder; on Linux only.
bool InstallFromEnvironment();

// The class folder of this platform; empty where there is none.
std::string PlatformTreeRoot();

// Whether a setting of the installed tree was changed this run and its driver reports that the
// changes wait for a restart.
bool RestartPending();

}  // namespace corvane::fwattr
