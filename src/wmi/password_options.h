// The password options of the command line and the two forms in which a password reaches the
// firmware: "<utf-16/>" text or "<kbd/>" scan codes.
#pragma once

#include <string>
#include <string_view>

namespace corvane::wmi {

inline constexpr int kCurrentPasswordOptions = 1;
inline constexpr int kNewPasswordOptions = 2;
inline constexpr int kAllPasswordOptions = 3;

// Finds the next password option of the selected kinds after *cursor (-1 to start; nullptr
// starts at -1) and stores its index there. value receives the password in text form when the
// BIOS takes text passwords, else in scan-code form; failedToken receives the token that could
// not be converted to scan codes (left as it was in text form). Returns false when the
// arguments are exhausted.
bool ParsePasswordOption(int argc, const char* const* argv, int kinds, int* cursor,
                         std::string& value, std::string& failedToken);
// Whether the argument begins with a password option of any kind, long enough for a value or
// not.
bool IsPasswordOption(std::string_view argument);
// The same walk with the form decided by the caller; ParsePasswordOption asks the provider.
bool ParsePasswordOptionInForm(bool textForm, int argc, const char* const* argv, int kinds,
                               int* cursor, std::string& value, std::string& failedToken);

// The three questions about the provider's "Setup Password" instance; each connects anew.
bool SupportsUtf16Passwords();
bool IsSetupPasswordSet();
bool PwdSetFromIsZero();

std::string EncodeUtf16Password(std::string_view text);
std::string EncodeKbdPassword(std::string_view codes);
// The Password argument of SetBIOSSetting for a current password.
std::string EncodeCurrentPassword(std::string_view password);

}  // namespace corvane::wmi
