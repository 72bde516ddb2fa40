#include "legacy/bios_access.h"

#include <string_view>

#include "platform/host.h"
#include "platform/text.h"
#include "wmi/password_options.h"
#include "wmi/setup_password.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

constexpr char kLibraryFileName[] = "Tarnix.dll";
// What TarnixChangeAdminPassword's absence answers: never 0, so never taken for success.
constexpr std::int32_t kChangeNotCallable = static_cast<std::int32_t>(0x800A03E8u);

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Drive and directory of the executable, ending in its separator; empty when unknown.
std::string ExecutableFolder() {
  const std::string path = platform::Os().ExecutablePath();
  const std::size_t last = path.find_last_of("\\/");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

bool EndsWithLibraryName(std::string_view text) {
  constexpr std::string_view kUpperName = "TARNIX.DLL";
  return text.size() >= kUpperName.size() &&
         platform::AsciiUpper(text.substr(text.size() - kUpperName.size())) == kUpperName;
}

}  // namespace

BiosAccess::BiosAccess() = default;

BiosAccess::~BiosAccess() {
  UnloadManagementLibrary();
}

std::int32_t BiosAccess::LoadManagementLibrary(const char* path, int first, int second) {
  // An empty path is taken like no path: it would otherwise name the root of the drive.
  const bool useExecutableFolder =
      path == nullptr || *path == '\0' || std::string_view(path) == "\\";
  std::string file = useExecutableFolder ? ExecutableFolder() : std::string(path);
  if (!EndsWithLibraryName(file)) {
    if (!file.empty() && !IsSeparator(file.back())) file.push_back('\\');
    file += kLibraryFileName;
  }
  loadedPath_ = std::move(file);

  // This build binds no library entry points, so TarnixInit is never reached with first and
  // second and the library stays unusable: every wrapper answers its failure value.
  static_cast<void>(first);
  static_cast<void>(second);
  return initialized_;
}

void BiosAccess::UnloadManagementLibrary() {
  initialized_ = 0;
}

std::uint32_t BiosAccess::GetMachineId() {
  // TarnixGetMachineID is reachable only through a usable library.
  return 0;
}

bool BiosAccess::IsPasswordSet() {
  if (wmi::HasSettingInterface(wmi::g_biosAccessProbe)) return wmi::IsSetupPasswordSet();
  // TarnixGetIsAPwdSet would answer here; without a usable library no password is known.
  return false;
}

std::int32_t BiosAccess::ChangeSetupPassword(const std::string& currentPassword,
                                             const std::string& newPassword) {
  if (wmi::HasSettingInterface(wmi::g_biosAccessProbe)) {
    std::string value;
    std::string password;
    if (wmi::SupportsUtf16Passwords()) {
      value = wmi::EncodeUtf16Password(newPassword);
      password = EncodeCurrentPassword(currentPassword);
    } else {
      value = wmi::EncodeKbdPassword(newPassword);
      password = wmi::EncodeKbdPassword(currentPassword);
    }
    return wmi::InvokeSetBIOSSetting("Setup Password", value, password);
  }

  // The library takes the keys without SHIFT: bit 7 is cleared in copies of both passwords.
  std::string current = currentPassword;
  std::string changed = newPassword;
  for (char& c : current) c = static_cast<char>(c & 0x7F);
  for (char& c : changed) c = static_cast<char>(c & 0x7F);
  // TarnixChangeAdminPassword(current, changed) is not callable without a usable library.
  return kChangeNotCallable;
}

bool BiosAccess::CheckSetupPassword(const std::string& password) {
  if (password.empty() && wmi::HasSettingInterface(wmi::g_biosAccessProbe)) return true;
  return ChangeSetupPassword(password, password) == 0;
}

std::string BiosAccess::EncodeCurrentPassword(const std::string& password) {
  if (!wmi::SupportsUtf16Passwords()) return wmi::EncodeKbdPassword(password);
  if (!wmi::IsSetupPasswordSet()) return wmi::EncodeUtf16Password(password);
  if (!wmi::PwdSetFromIsZero()) return wmi::EncodeUtf16Password(password);
  // The keys of the text come from the library's ConvertStringToKeyboardScanCodes; without a
  // usable library there are none and the Password argument goes empty.
  return {};
}

}  // namespace corvane
