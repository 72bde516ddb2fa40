#include "wmi/password_options.h"

#include <cstddef>
#include <vector>

#include "platform/hex.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "wmi/scan_codes.h"
#include "wmi/wmi_connection.h"

namespace corvane::wmi {
namespace {

struct PasswordOptionRow {
  int kind;
  const char* prefix;
  std::size_t compared;
  std::size_t valueOffset;
  bool valueMayBeEmpty;  // a new password may be empty: that removes the password
};

// The character after the compared prefix is skipped unseen, so "/cspwdXabc" gives "abc".
constexpr PasswordOptionRow kPasswordOptions[] = {
    {kCurrentPasswordOptions, "/CURADMINPASSWORD", 17, 18, false},
    {kCurrentPasswordOptions, "/CURSETUPPASSWORD", 17, 18, false},
    {kCurrentPasswordOptions, "/cspwd", 6, 7, false},
    {kNewPasswordOptions, "/NEWADMINPASSWORD", 17, 18, true},
    {kNewPasswordOptions, "/NEWSETUPPASSWORD", 17, 18, true},
    {kNewPasswordOptions, "/nspwd", 6, 7, true},
};

// The row the argument begins with; nullptr when none of the selected kinds matches.
const PasswordOptionRow* MatchRow(std::string_view argument, int kinds) {
  for (const PasswordOptionRow& row : kPasswordOptions) {
    if ((row.kind & kinds) == 0) continue;
    if (platform::StartsWithNoCase(argument, row.prefix, row.compared)) return &row;
  }
  return nullptr;
}

bool LongEnough(const PasswordOptionRow& row, std::size_t length) {
  return row.valueMayBeEmpty ? length >= row.valueOffset : length > row.valueOffset;
}

}  // namespace

bool IsPasswordOption(std::string_view argument) {
  return MatchRow(argument, kAllPasswordOptions) != nullptr;
}

bool ParsePasswordOptionInForm(bool textForm, int argc, const char* const* argv, int kinds,
                               int* cursor, std::string& value, std::string& failedToken) {
  int index = cursor != nullptr ? *cursor : -1;
  if (index < -1) index = -1;
  value.clear();
  while (true) {
    ++index;
    if (index >= argc) {
      if (cursor != nullptr) *cursor = index;
      return false;
    }
    if (argv == nullptr || argv[index] == nullptr) continue;
    const std::string_view argument = argv[index];
    const PasswordOptionRow* row = MatchRow(argument, kinds);
    // A matching argument too short for its row is passed over, not tried on later rows.
    if (row == nullptr || !LongEnough(*row, argument.size())) continue;

    const std::string_view text = argument.substr(row->valueOffset);
    if (textForm)
      value.assign(text);
    else
      ConvertToScanCodes(text, value, failedToken);
    if (cursor != nullptr) *cursor = index;
    return true;
  }
}

bool ParsePasswordOption(int argc, const char* const* argv, int kinds, int* cursor,
                         std::string& value, std::string& failedToken) {
  return ParsePasswordOptionInForm(SupportsUtf16Passwords(), argc, argv, kinds, cursor, value,
                                   failedToken);
}

bool SupportsUtf16Passwords() {
  const wbem::ObjectPtr password = FindSetupPassword();
  if (!password) return false;
  std::vector<std::u16string> encodings;
  if (!ReadArrayProperty(*password, u"SupportedEncoding", encodings)) return false;
  for (const std::u16string& encoding : encodings) {
    const std::string narrow = platform::ToNarrow(encoding);
    if (narrow.empty() || narrow == "--") continue;
    if (platform::EqualsNoCase(narrow, "utf-16")) return true;
  }
  return false;
}

bool IsSetupPasswordSet() {
  const wbem::ObjectPtr password = FindSetupPassword();
  return password && ReadIntProperty(*password, u"IsSet") == 1;
}

bool PwdSetFromIsZero() {
  const wbem::ObjectPtr password = FindSetupPassword();
  return password && ReadIntProperty(*password, u"PwdSetFrom") == 0;
}

std::string EncodeUtf16Password(std::string_view text) {
  return std::string(contract::kUtf16Marker).append(text);
}

std::string EncodeKbdPassword(std::string_view codes) {
  return std::string(contract::kKbdMarker) + platform::EncodeHex(codes);
}

std::string EncodeCurrentPassword(std::string_view password) {
  // Without text passwords the value was parsed as scan codes already.
  if (!SupportsUtf16Passwords()) return EncodeKbdPassword(password);
  if (!IsSetupPasswordSet()) return EncodeUtf16Password(password);
  if (!PwdSetFromIsZero()) return EncodeUtf16Password(password);
  // The set password was typed as keys: send the keys of the text.
  std::string codes;
  std::string failedToken;
  if (!ConvertToScanCodes(password, codes, failedToken)) return {};
  return EncodeKbdPassword(codes);
}

}  // namespace corvane::wmi
