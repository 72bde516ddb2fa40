#include "legacy/bios_access.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/host.h"
#include "platform/text.h"
#include "wmi/password_options.h"
#include "wmi/setup_password.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

using legacy::EntryPointSlot;

constexpr char kLibraryFileName[] = "Tarnix.dll";
// What TarnixChangeAdminPassword's absence answers: never 0, so never taken for success.
constexpr std::int32_t kChangeNotCallable = static_cast<std::int32_t>(0x800A03E8u);
constexpr std::size_t kScanCodeBuffer = 256;

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

// The library takes the keys without SHIFT.
std::string WithoutTopBits(std::string text) {
  for (char& c : text) c = static_cast<char>(c & 0x7F);
  return text;
}

}  // namespace

BiosAccess::BiosAccess() = default;

BiosAccess::~BiosAccess() {
  UnloadManagementLibrary();
}

std::int32_t BiosAccess::LoadManagementLibrary(const char* path, int first, int second) {
  // An empty path names no library (the extraction found no folder it may use): nothing is
  // loaded. It would otherwise name the root of the drive, or fall back on another folder.
  if (path != nullptr && *path == '\0') return initialized_;
  const bool useExecutableFolder = path == nullptr || std::string_view(path) == "\\";
  const std::string executable = platform::Os().ExecutablePath();
  std::string file = useExecutableFolder ? ExecutableFolder() : std::string(path);
  if (!EndsWithLibraryName(file)) {
    // The folder separator of the system the program runs on.
    const char separator = !executable.empty() && executable.front() == '/' ? '/' : '\\';
    if (!file.empty() && !IsSeparator(file.back())) file.push_back(separator);
    file += kLibraryFileName;
  }
  loadedPath_ = std::move(file);

  platform::LibraryPtr library = platform::LoadDynamicLibrary(loadedPath_);
  if (!library) return initialized_;

  // A library that replaces a loaded one starts unusable: the old entry points go with it.
  initialized_ = 0;
  entryPoints_.fill(nullptr);
  libraryModule_ = std::move(library);

  bool complete = true;
  for (std::size_t slot = 0; slot < legacy::kEntryPointCount; ++slot) {
    entryPoints_[slot] = libraryModule_->Symbol(legacy::kEntryPointNames[slot].name);
    if (entryPoints_[slot] == nullptr && !legacy::kEntryPointNames[slot].optional) complete = false;
  }
  if (complete) {
    const auto init = reinterpret_cast<legacy::TarnixInitFn>(
        entryPoints_[static_cast<std::size_t>(EntryPointSlot::TarnixInit)]);
    initialized_ = init(first, second);
  }
  return initialized_;
}

void BiosAccess::UnloadManagementLibrary() {
  initialized_ = 0;
  entryPoints_.fill(nullptr);
  libraryModule_.reset();
}

std::string BiosAccess::Text(EntryPointSlot slot) const {
  const auto call = Callable<legacy::TarnixTextFn>(slot);
  if (call == nullptr) return {};
  const char* text = call();
  return text == nullptr ? std::string() : std::string(text);
}

std::uint32_t BiosAccess::GetMachineId() {
  const auto call = Callable<legacy::TarnixGetMachineIDFn>(EntryPointSlot::TarnixGetMachineID);
  return call == nullptr ? 0 : call();
}

std::string BiosAccess::GetOwnershipString() {
  return Text(EntryPointSlot::TarnixGetOwnershipString);
}

std::string BiosAccess::GetSerialNumber() {
  return Text(EntryPointSlot::TarnixGetSerialNumber);
}

std::string BiosAccess::GetSystemManufacturer() {
  return Text(EntryPointSlot::TarnixGetSystemManufacturer);
}

std::string BiosAccess::GetSystemProduct() {
  return Text(EntryPointSlot::TarnixGetSystemProduct);
}

std::int32_t BiosAccess::CallInt15(void* block, std::uint32_t size, std::uint8_t* status) {
  const auto call =
      Callable<legacy::TarnixCall32bitInt15IOCtlFn>(EntryPointSlot::TarnixCall32bitInt15IOCtl);
  return call == nullptr ? 0 : call(block, size, status);
}

std::int32_t BiosAccess::CallInterrupt(std::int32_t interrupt, void* block, std::uint32_t size,
                                       std::uint8_t* status) {
  const auto call =
      Callable<legacy::TarnixCall16bitIntIOCtlFn>(EntryPointSlot::TarnixCall16bitIntIOCtl);
  if (IsUsable() && !platform::SixteenBitBiosCalls()) {
    sixteenBitCallWanted_ = true;
    return 0;
  }
  return call == nullptr ? 0 : call(interrupt, block, size, status);
}

std::int32_t BiosAccess::SetSecuritySettings(const void* packet, std::uint32_t length,
                                             std::uint8_t* status) {
  const auto call =
      Callable<legacy::TarnixSetSecuritySettingsFn>(EntryPointSlot::TarnixSetSecuritySettings);
  return call == nullptr ? 0 : call(packet, length, status);
}

std::int32_t BiosAccess::ChangeLockState(const std::string& password, std::uint32_t length,
                                         std::int32_t state, std::uint8_t* status) {
  const auto call =
      Callable<legacy::TarnixChangeSysObjLockStateFn>(EntryPointSlot::TarnixChangeSysObjLockState);
  if (call == nullptr) return 0;
  // A zeroed copy of at least four bytes; never more of the password than it holds.
  std::vector<char> copy(std::max<std::size_t>(std::size_t{length} + 1, 4), '\0');
  std::copy_n(password.data(), std::min<std::size_t>(length, password.size()), copy.data());
  return call(copy.data(), length, state, status);
}

std::int32_t BiosAccess::GetSysObjListSize(std::uint32_t* bytes) {
  const auto call =
      Callable<legacy::TarnixGetSysObjListSizeFn>(EntryPointSlot::TarnixGetSysObjListSize);
  return call == nullptr ? 0 : call(bytes);
}

std::int32_t BiosAccess::GetSysObjList(void* list, std::uint32_t capacity) {
  const auto call = Callable<legacy::TarnixGetSysObjListFn>(EntryPointSlot::TarnixGetSysObjList);
  return call == nullptr ? 0 : call(list, capacity);
}

std::int32_t BiosAccess::GetSysObjInfo(std::uint16_t index, void* info, std::uint32_t size) {
  const auto call = Callable<legacy::TarnixGetSysObjInfoFn>(EntryPointSlot::TarnixGetSysObjInfo);
  return call == nullptr ? 0 : call(index, info, size);
}

std::int32_t BiosAccess::GetSysObjValue(std::uint16_t index, void* buffer, std::uint32_t size) {
  const auto call = Callable<legacy::TarnixGetSysObjValueFn>(EntryPointSlot::TarnixGetSysObjValue);
  return call == nullptr ? 0 : call(index, buffer, size);
}

std::int32_t BiosAccess::SetSysObjValue(std::uint16_t index, const void* buffer,
                                        std::uint32_t size) {
  const auto call = Callable<legacy::TarnixSetSysObjValueFn>(EntryPointSlot::TarnixSetSysObjValue);
  return call == nullptr ? 0 : call(index, buffer, size);
}

std::int32_t BiosAccess::GetIplDevInfo(std::uint32_t* deviceCount, std::uint32_t* priorityLength,
                                       std::uint32_t* tableTag, std::uint32_t* tableSize) {
  const auto call = Callable<legacy::TarnixGetIPLDevInfoFn>(EntryPointSlot::TarnixGetIPLDevInfo);
  return call == nullptr ? 0 : call(deviceCount, priorityLength, tableTag, tableSize);
}

std::int32_t BiosAccess::GetIplTableInfo(void* table, std::uint32_t tableSize,
                                         std::uint32_t priorityLength, std::uint32_t tableTag) {
  const auto call =
      Callable<legacy::TarnixGetIPLTableInfoFn>(EntryPointSlot::TarnixGetIPLTableInfo);
  return call == nullptr ? 0 : call(table, tableSize, priorityLength, tableTag);
}

std::int32_t BiosAccess::SetIplPriority(const void* table, std::uint32_t priorityLength) {
  const auto call = Callable<legacy::TarnixSetIPLPriorityFn>(EntryPointSlot::TarnixSetIPLPriority);
  return call == nullptr ? 0 : call(table, priorityLength);
}

std::int32_t BiosAccess::GetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) {
  const auto call = Callable<legacy::TarnixCmosFn>(EntryPointSlot::TarnixGetCMOS);
  return call == nullptr ? 0 : call(offset, count, bytes);
}

std::int32_t BiosAccess::SetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) {
  const auto call = Callable<legacy::TarnixCmosFn>(EntryPointSlot::TarnixSetCMOS);
  return call == nullptr ? 0 : call(offset, count, bytes);
}

bool BiosAccess::IsPasswordSet() {
  if (wmi::HasSettingInterface(passwordProbe_)) return wmi::IsSetupPasswordSet();
  const auto call = Callable<legacy::TarnixGetIsAPwdSetFn>(EntryPointSlot::TarnixGetIsAPwdSet);
  return call != nullptr && call() != 0;
}

std::int32_t BiosAccess::ChangeSetupPassword(const std::string& currentPassword,
                                             const std::string& newPassword) {
  if (wmi::HasSettingInterface(passwordProbe_)) {
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

  const auto change =
      Callable<legacy::TarnixChangeAdminPasswordFn>(EntryPointSlot::TarnixChangeAdminPassword);
  if (change == nullptr) return kChangeNotCallable;
  const std::string current = WithoutTopBits(currentPassword);
  const std::string changed = WithoutTopBits(newPassword);
  return change(current.c_str(), changed.c_str());
}

bool BiosAccess::CheckSetupPassword(const std::string& password) {
  if (password.empty() && wmi::HasSettingInterface(passwordProbe_)) return true;
  return ChangeSetupPassword(password, password) == 0;
}

std::string BiosAccess::EncodeCurrentPassword(const std::string& password) {
  if (!wmi::SupportsUtf16Passwords()) return wmi::EncodeKbdPassword(password);
  if (!wmi::IsSetupPasswordSet()) return wmi::EncodeUtf16Password(password);
  if (!wmi::PwdSetFromIsZero()) return wmi::EncodeUtf16Password(password);
  // The keys of the text come from the library; without them the Password argument is empty.
  const auto convert = Callable<legacy::ConvertStringToKeyboardScanCodesFn>(
      EntryPointSlot::ConvertStringToKeyboardScanCodes);
  if (convert == nullptr) return {};
  std::uint8_t codes[kScanCodeBuffer] = {};
  std::uint32_t length = 0;
  if (convert(0, password.c_str(), codes, &length) == 0) return {};
  // The codes end at the first zero byte, never past the buffer.
  const auto end = std::find(std::begin(codes), std::end(codes), std::uint8_t{0});
  return wmi::EncodeKbdPassword(std::string(std::begin(codes), end));
}

}  // namespace corvane
