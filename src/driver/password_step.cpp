#include "driver/password_step.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fwattr/firmware_attributes.h"
#include "legacy/bios_access.h"
#include "log/result_log.h"
#include "platform/provider_contract.h"
#include "wmi/password_options.h"
#include "wmi/setup_password.h"
#include "wmi/wmi_connection.h"

namespace corvane::driver {
namespace {

// Machines whose set password can be changed only in F10 Setup.
bool IsF10OnlyMachine(std::uint32_t machineId) {
  const std::uint32_t id = machineId & 0xFFFF;
  return id == 0x0538 || id == 0x053C || id == 0x05BC;
}

bool IsPrintableAscii(const std::string& text) {
  for (const char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// The password values of the selected kinds in command-line order, each once; a value that did
// not become scan codes is not what was typed and is never tried.
std::vector<std::string> Candidates(int argc, const char* const* argv, int kinds) {
  std::vector<std::string> candidates;
  int walk = -1;
  std::string candidate;
  std::string failedToken;
  while (wmi::ParsePasswordOption(argc, argv, kinds, &walk, candidate, failedToken)) {
    if (!failedToken.empty()) {
      failedToken.clear();
      continue;
    }
    if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end())
      candidates.push_back(candidate);
  }
  return candidates;
}

// On the makers' interfaces the change itself judges each candidate, in order, until one is
// the current password: no attempt is made only to check one.
int ChangeByCandidates(log::ResultLog& log, const std::string& newPassword, PasswordState& state) {
  const std::vector<std::string> candidates = std::move(state.untried);
  state.untried.clear();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::int32_t result = wmi::ChangeSetupPassword(candidates[i], newPassword);
    if (result == 0) {
      state.currentPassword = newPassword;
      state.currentPasswordAccepted = true;
      // A change to itself only found the password current.
      if (candidates[i] != newPassword) log.PasswordChanged();
      return kResultSuccess;
    }
    if (!contract::PasswordRefused(result)) {
      log.PasswordChangeFailed();
      // The candidate may still be the current password: the settings' changes judge it.
      state.untried.assign(candidates.begin() + static_cast<std::ptrdiff_t>(i), candidates.end());
      return kResultPassword;
    }
  }
  log.PasswordNotAccepted();
  return kResultPassword;
}

}  // namespace

int RunPasswordStep(log::ResultLog& log, BiosAccess& access, int argc, const char* const* argv,
                    ManagementLibrary& library, bool changesSettings, PasswordState& state) {
  const bool wmiPresent = wmi::HasSettingInterface();
  bool passwordSet = false;
  if (wmiPresent) {
    passwordSet = wmi::IsSetupPasswordSet();
  } else {
    access.LoadManagementLibrary(library.PathToLoad().c_str(), 0, 1);
    passwordSet = access.IsPasswordSet();
  }

  int cursor = -1;
  std::string newPassword;
  std::string newFailedToken;
  const bool newPasswordGiven = wmi::ParsePasswordOption(argc, argv, wmi::kNewPasswordOptions,
                                                         &cursor, newPassword, newFailedToken);

  state.currentPassword.clear();
  state.currentPasswordAccepted = !passwordSet;
  state.untried.clear();
  state.backendFound = wmiPresent || access.IsUsable();
  // Where the settings come through the makers' own interfaces, a password unlocks nothing when
  // certificates sign changes, and only typeable text can be a new one.
  const bool makersInterface = wmiPresent && fwattr::Serving();
  if (makersInterface && (changesSettings || newPasswordGiven) &&
      fwattr::CertificateAuthentication()) {
    state.certificateOnly = true;
    // Settings go with signatures; no password can be changed.
    if (!newPasswordGiven) return kResultSuccess;
    log.CertificateOnly();
    state.passwordChangeRefused = true;
    return kResultPassword;
  }
  // Scan codes are keys already.
  const bool newUntypeable = newPasswordGiven && makersInterface &&
                             !IsPrintableAscii(newPassword) && wmi::SupportsUtf16Passwords();
  // Every candidate is a real attempt, and firmware locks out after a few wrong ones. The
  // provider's settings are read without a password, so a run that changes nothing tries none;
  // the legacy backend unlocks with it even to read.
  const bool needsAuthority =
      changesSettings || (newPasswordGiven && !newUntypeable) || !wmiPresent;
  // The makers' interfaces judge a password by the first change that needs it; the provider and
  // the management library by a change of the password to itself, the first accepted winning.
  const bool byChange = makersInterface && passwordSet;
  if (passwordSet && needsAuthority) {
    std::vector<std::string> candidates = Candidates(
        argc, argv, newUntypeable ? wmi::kCurrentPasswordOptions : wmi::kAllPasswordOptions);
    if (byChange) {
      state.untried = std::move(candidates);
    } else {
      for (const auto& candidate : candidates) {
        const bool accepted = wmiPresent ? wmi::ChangeSetupPassword(candidate, candidate) == 0
                                         : access.CheckSetupPassword(candidate);
        if (accepted) {
          state.currentPassword = candidate;
          state.currentPasswordAccepted = true;
          break;
        }
      }
    }
  }

  if (!newPasswordGiven) return kResultSuccess;
  // Refused before anything is sent.
  if (newUntypeable) {
    log.NewPasswordUntypeable();
    return kResultPassword;
  }
  if (passwordSet && !state.currentPasswordAccepted && state.untried.empty()) {
    log.PasswordNotAccepted();
    return kResultPassword;
  }
  if (makersInterface && !passwordSet && !newPassword.empty() && !fwattr::FirstPasswordSettable()) {
    log.FirstPasswordOnlyInSetup();
    return kResultPassword;
  }
  // An unconvertible new password parses as empty; sending it would remove the password.
  if (!newFailedToken.empty()) {
    log.PasswordChangeFailed();
    return kResultPassword;
  }
  if (byChange) return ChangeByCandidates(log, newPassword, state);
  if (newPassword == state.currentPassword) return kResultSuccess;

  const std::int32_t result = wmiPresent
                                  ? wmi::ChangeSetupPassword(state.currentPassword, newPassword)
                                  : access.ChangeSetupPassword(state.currentPassword, newPassword);
  if (result != 0) {
    log.PasswordChangeFailed();
    if (IsF10OnlyMachine(access.GetMachineId())) log.PasswordChangeOnlyInF10Setup();
    return kResultPassword;
  }
  // Only the library path reads the new password back; the provider's 0 is final.
  if (!wmiPresent && !access.CheckSetupPassword(newPassword)) {
    log.PasswordUnverified();
    return kResultPassword;
  }

  log.PasswordChanged();
  state.currentPassword = newPassword;
  state.currentPasswordAccepted = true;
  return kResultSuccess;
}

}  // namespace corvane::driver
