// The setup-password step of a run: which given password is current, and the change to a new
// one with its success, warning and error records.
#pragma once

#include <cstdint>
#include <string>

namespace corvane {
class BiosAccess;

namespace wmi {

struct PasswordState {
  std::string currentPassword;
  bool currentPasswordAccepted = false;
};

// SetBIOSSetting(name, value, password) on the provider; 0 is success.
std::int32_t InvokeSetBIOSSetting(const std::string& name, const std::string& value,
                                  const std::string& password);
// Changes the setup password over the provider; 0 is success.
std::int32_t ChangeSetupPassword(const std::string& currentPassword,
                                 const std::string& newPassword);

// Runs the whole step once per run and returns the result code it leaves (0 or 10). When the
// provider is absent it first has access load the management library from libraryPath.
int RunPasswordStep(BiosAccess& access, int argc, const char* const* argv,
                    const std::string& libraryPath, PasswordState& state);

}  // namespace wmi
}  // namespace corvane
