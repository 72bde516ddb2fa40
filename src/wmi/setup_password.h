// The provider's SetBIOSSetting method, and the setup-password change made through it.
#pragma once

#include <cstdint>
#include <string>

namespace corvane::wmi {

// SetBIOSSetting(name, value, password) on the provider: its Return (contract::kReturn...), or
// a failure of the call's own.
std::int32_t InvokeSetBIOSSetting(const std::string& name, const std::string& value,
                                  const std::string& password);
// Changes the setup password over the provider; InvokeSetBIOSSetting's answer.
std::int32_t ChangeSetupPassword(const std::string& currentPassword,
                                 const std::string& newPassword);

}  // namespace corvane::wmi
