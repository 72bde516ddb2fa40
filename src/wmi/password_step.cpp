#include "wmi/password_step.h"

#include "driver/result_log.h"
#include "legacy/bios_access.h"
#include "platform/text.h"
#include "platform/wbem.h"
#include "wmi/password_options.h"
#include "wmi/wmi_connection.h"

namespace corvane::wmi {
namespace {

constexpr char16_t kInterfaceClass[] = u"lumo_BIOSSettingInterface";
constexpr char16_t kSetMethod[] = u"SetBIOSSetting";
// The answer when the method left no readable Return: callers see any nonzero as failure.
constexpr std::int32_t kNoReturn = static_cast<std::int32_t>(0xCCCCCCCCu);

constexpr const char* kNotAcceptedWarning =
    "<WARNING msg=\"Attempt to change the password, but correct password not provided.\" />\n";
constexpr const char* kChangeFailedError =
    "<ERROR msg=\"Failed to change the Setup Password. This may not be a supported platform or "
    "the new password is too long for this platform.\" />\n";
constexpr const char* kF10OnlyError =
    "<ERROR msg=\"The current password that was provided is correct, however once a password is "
    "set on an Q310, Q710, or Z510 it can only be changed through F10 Setup.\" />\n";
constexpr const char* kUnverifiedWarning =
    "\n"
    "<WARNING msg=\"There was a failed attempt to change the setup password.\n"
    "\tBIOS reported success but was not able to verify the new password.\n"
    "\tThis can happen with version 1.00A of the Lumo Ostrel software provider.\n"
    "\tThis can happen on a 531K4 v1.12 ROM when changing only the case\n"
    "\t(uppercase to lowercase or vise versa) of a password.\" />\n\n";
constexpr const char* kChangedSuccess =
    "<SUCCESS msg=\"Successfully modified the Setup Password.\" />\n";

// Machines whose set password can be changed only in F10 Setup.
bool IsF10OnlyMachine(std::uint32_t machineId) {
  const std::uint32_t id = machineId & 0xFFFF;
  return id == 0x0538 || id == 0x053C || id == 0x05BC;
}

bool PutString(wbem::ClassObject& params, const char16_t* name, const std::string& text) {
  return wbem::Succeeded(params.Put(name, wbem::Variant::String(platform::ToWide(text))));
}

}  // namespace

std::int32_t InvokeSetBIOSSetting(const std::string& name, const std::string& value,
                                  const std::string& password) {
  const wbem::ComScope com;
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(ConnectBiosNamespace(nullptr, services)) || !services) return -1;

  wbem::ObjectPtr classObject;
  if (!wbem::Succeeded(services->GetObjectByPath(kInterfaceClass, 0, classObject)) || !classObject)
    return 4;
  wbem::EnumPtr walk;
  if (!wbem::Succeeded(
          services->CreateInstanceEnum(kInterfaceClass, wbem::kFlagForwardOnly, walk)) ||
      !walk)
    return 4;
  wbem::ObjectPtr instance;
  NextObject(*walk, instance);

  wbem::ObjectPtr signature;
  if (!wbem::Succeeded(classObject->GetMethod(kSetMethod, signature)) || !signature) return 1;
  wbem::ObjectPtr inParams;
  if (!wbem::Succeeded(signature->SpawnInstance(inParams)) || !inParams) return 1;
  // The method is never called with an argument missing: a lost Value or Password could
  // change the setting to something nobody asked for.
  if (!PutString(*inParams, u"Name", name) || !PutString(*inParams, u"Value", value) ||
      !PutString(*inParams, u"Password", password))
    return 1;

  std::string relativePath;
  if (instance == nullptr || !ReadRawStringProperty(*instance, u"__RELPATH", relativePath) ||
      relativePath.empty())
    relativePath = platform::ToNarrow(kInterfaceClass);

  wbem::ObjectPtr outParams;
  if (!wbem::Succeeded(services->ExecMethod(platform::ToWide(relativePath), kSetMethod, 0,
                                            inParams.get(), outParams)))
    return 1;
  if (!outParams) return kNoReturn;
  wbem::Variant result;
  if (!wbem::Succeeded(outParams->Get(u"Return", result)) ||
      result.type != wbem::Variant::Type::Int32)
    return kNoReturn;
  return result.int32;
}

std::int32_t ChangeSetupPassword(const std::string& currentPassword,
                                 const std::string& newPassword) {
  std::string value;
  std::string password;
  if (SupportsUtf16Passwords()) {
    value = EncodeUtf16Password(newPassword);
    password = EncodeCurrentPassword(currentPassword);
  } else {
    value = EncodeKbdPassword(newPassword);
    password = EncodeKbdPassword(currentPassword);
  }
  return InvokeSetBIOSSetting("Setup Password", value, password);
}

int RunPasswordStep(BiosAccess& access, int argc, const char* const* argv,
                    const std::string& libraryPath, PasswordState& state) {
  const bool wmiPresent = HasSettingInterface();
  bool passwordSet = false;
  if (wmiPresent) {
    passwordSet = IsSetupPasswordSet();
  } else {
    access.LoadManagementLibrary(libraryPath.c_str(), 0, 1);
    passwordSet = access.IsPasswordSet();
  }

  state.currentPassword.clear();
  state.currentPasswordAccepted = !passwordSet;
  if (passwordSet) {
    // Each candidate is tried by changing the password from it to itself; the first the BIOS
    // accepts is the current one.
    int cursor = -1;
    std::string candidate;
    std::string failedToken;
    while (ParsePasswordOption(argc, argv, kAllPasswordOptions, &cursor, candidate, failedToken)) {
      // A value that did not become scan codes is not what was typed: never try it.
      if (!failedToken.empty()) {
        failedToken.clear();
        continue;
      }
      const bool accepted = wmiPresent ? ChangeSetupPassword(candidate, candidate) == 0
                                       : access.CheckSetupPassword(candidate);
      if (accepted) {
        state.currentPassword = candidate;
        state.currentPasswordAccepted = true;
        break;
      }
    }
  }

  int cursor = -1;
  std::string newPassword;
  std::string failedToken;
  if (!ParsePasswordOption(argc, argv, kNewPasswordOptions, &cursor, newPassword, failedToken))
    return kResultSuccess;

  if (passwordSet && !state.currentPasswordAccepted) {
    log::Write(kNotAcceptedWarning);
    return kResultPassword;
  }
  // An unconvertible new password parses as empty; sending it would remove the password.
  if (!failedToken.empty()) {
    log::Write(kChangeFailedError);
    return kResultPassword;
  }
  if (newPassword == state.currentPassword) return kResultSuccess;

  const std::int32_t result = wmiPresent
                                  ? ChangeSetupPassword(state.currentPassword, newPassword)
                                  : access.ChangeSetupPassword(state.currentPassword, newPassword);
  if (result != 0) {
    log::Write(kChangeFailedError);
    if (IsF10OnlyMachine(access.GetMachineId())) log::Write(kF10OnlyError);
    return kResultPassword;
  }
  // Only the library path reads the new password back; the provider's 0 is final.
  if (!wmiPresent && !access.CheckSetupPassword(newPassword)) {
    log::Write(kUnverifiedWarning);
    return kResultPassword;
  }

  log::Write(kChangedSuccess);
  state.currentPassword = newPassword;
  state.currentPasswordAccepted = true;
  return kResultSuccess;
}

}  // namespace corvane::wmi
