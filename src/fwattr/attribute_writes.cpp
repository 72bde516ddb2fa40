// SetBIOSSetting on real firmware: every request is checked against what the driver shows
// before anything is written, a password is judged by the first change that needs it, and a
// change that was never saved reads back as it was.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fwattr/provider.h"
#include "platform/hex.h"
#include "platform/host.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace corvane::fwattr {
namespace {

// The password an argument carries in a form the administrator password takes: "<utf-16/>"
// text, or "<kbd/>" scan codes; the empty argument is the empty text. False for a form the
// source does not take (the kernel, for one, takes text only).
bool PasswordOf(std::u16string_view argument, const AdminPassword& admin, Password& password) {
  const std::string text = platform::Utf16ToUtf8(argument);
  password = Password();
  if (text.empty()) return true;
  const std::string_view utf16 = contract::kUtf16Marker, kbd = contract::kKbdMarker;
  if (text.compare(0, utf16.size(), utf16) == 0) {
    password.bytes = text.substr(utf16.size());
    return (admin.takesText || password.empty()) && !HasLineBreak(password.bytes);
  }
  if (text.compare(0, kbd.size(), kbd) == 0) {
    // No keys is no password, whatever its form.
    if (!platform::DecodeHex(std::string_view(text).substr(kbd.size()), password.bytes))
      return false;
    password.scanCodes = !password.empty();
    return admin.takesScanCodes || password.empty();
  }
  return false;
}

// What can be typed at the firmware's own password prompt on any keyboard layout.
bool IsPrintableAscii(std::string_view text) {
  for (const char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

bool LengthAllowed(std::size_t length, const AdminPassword& admin) {
  const auto size = static_cast<std::int64_t>(length);
  return (!admin.minLength || size >= *admin.minLength) &&
         (!admin.maxLength || size <= *admin.maxLength);
}

std::int32_t ChangeAdminPassword(Provider& provider, std::u16string_view value,
                                 std::u16string_view password) {
  AttributeSource* source = nullptr;
  AdminPassword admin;
  for (const auto& candidate : provider.sources) {
    admin = candidate->Admin();
    if (admin.exists) {
      source = candidate.get();
      break;
    }
  }
  if (source == nullptr) return contract::kReturnReadOnly;
  // A password unlocks nothing where certificates authenticate.
  if (admin.certificate) return contract::kReturnPasswordRefused;
  Password current, wanted;
  if (!PasswordOf(password, admin, current)) return contract::kReturnPasswordRefused;
  if (admin.isSet && current.empty()) return contract::kReturnPasswordRefused;
  if (!PasswordOf(value, admin, wanted)) return contract::kReturnInvalidValue;
  // Some firmware takes a first password only in its own setup.
  if (!admin.isSet && !admin.firstSettable && !wanted.empty()) return contract::kReturnReadOnly;
  FinishWrites(provider);

  // A change to itself: the firmware judges current as it judges any change.
  if (current == wanted) {
    if (!admin.isSet)
      return current.empty() ? contract::kReturnSuccess : contract::kReturnPasswordRefused;
    return ReturnCodeOfWriteError(source->ChangePassword(current, wanted));
  }
  // The empty text removes the password; a new one must be typeable at the firmware's prompt
  // (scan codes are keys already).
  if (!wanted.empty() && ((!wanted.scanCodes && !IsPrintableAscii(wanted.bytes)) ||
                          !LengthAllowed(wanted.bytes.size(), admin)))
    return contract::kReturnInvalidValue;
  return ReturnCodeOfWriteError(source->ChangePassword(current, wanted));
}

const char* ErrorName(int error) {
  switch (error) {
    case EPERM:
      return "EPERM";
    case ENOENT:
      return "ENOENT";
    case EIO:
      return "EIO";
    case EACCES:
      return "EACCES";
    case EBUSY:
      return "EBUSY";
    case ENODEV:
      return "ENODEV";
    case EINVAL:
      return "EINVAL";
    case ENOSPC:
      return "ENOSPC";
    case EROFS:
      return "EROFS";
    case EOPNOTSUPP:
      return "EOPNOTSUPP";
    default:
      return nullptr;
  }
}

const char* ErrorMeaning(int error) {
  switch (error) {
    case EPERM:
    case EACCES:
      return "not allowed: run as root, and give the BIOS administrator password if one is set";
    case EINVAL:
      return "the driver refused the value (some drivers answer a wrong password so too)";
    case EIO:
      return "the firmware failed to take the change";
    case EBUSY:
      return "the firmware is busy; try again, or after a restart";
    case ENOENT:
    case ENODEV:
      return "the driver no longer offers it";
    case ENOSPC:
      return "the firmware's storage for changes is full; restart, then try again";
    case EROFS:
      return "it cannot be changed";
    case EOPNOTSUPP:
      return "the driver does not support this";
    default:
      return "an unexpected error";
  }
}

std::string MadeKey(std::u16string_view name, std::u16string_view value) {
  return platform::AsciiUpper(platform::Trim(platform::Utf16ToUtf8(name))) + '\n' +
         platform::Utf16ToUtf8(value);
}

}  // namespace

const std::string* AttributeSource::SignatureOf(std::string_view what,
                                                const std::string& text) const {
  if (signatures_ != nullptr)
    if (const auto found = signatures_->find(text); found != signatures_->end())
      return &found->second;
  ReportFirmwareAnswer(what, "no signature",
                       "the signature file has no line for '" + text + "', so it was not sent");
  return nullptr;
}

void ReportWriteError(std::string_view what, int error) {
  const char* name = ErrorName(error);
  ReportFirmwareAnswer(what, name ? name : "error " + std::to_string(error), ErrorMeaning(error));
}

void ReportFirmwareAnswer(std::string_view what, std::string_view answer,
                          std::string_view meaning) {
  platform::Os().WriteErr("corvane: " + std::string(what) + ": " + std::string(answer) + ": " +
                          std::string(meaning) + ".\n");
}

std::int32_t ReturnCodeOfWriteError(int error) {
  switch (error) {
    case 0:
      return contract::kReturnSuccess;
    // The driver cannot tell a refused password from a missing permission.
    case EACCES:
    case EPERM:
      return contract::kReturnPasswordRefused;
    case EINVAL:
      return contract::kReturnInvalidValue;
    case ENOENT:
    case ENODEV:
      return contract::kReturnNotFound;
    default:
      return contract::kReturnFailed;
  }
}

int FinishWrites(Provider& provider) {
  int first = 0;
  for (std::size_t i = 0; i < provider.sources.size(); ++i) {
    const int error = provider.sources[i]->Finish();
    if (error == 0) continue;
    if (first == 0) first = error;
    // Nothing of the batch was saved: its settings keep the values they had.
    for (const auto& written : provider.batch)
      if (written.source == i)
        provider.unsaved[platform::AsciiUpper(written.name)] = written.oldValue;
  }
  Refresh(provider, provider.batch);
  provider.batch.clear();
  return first;
}

namespace {

// One change as SetBIOSSetting makes it; underPassword tells whether the firmware took it under
// the administrator password.
std::int32_t Change(Provider& provider, std::u16string_view name, std::u16string_view value,
                    std::u16string_view password, bool& underPassword) {
  underPassword = false;
  const Served* served = FindServed(provider, platform::Utf16ToUtf8(name));
  if (served == nullptr) return contract::kReturnNotFound;
  // Copies: the view is refreshed when the batch ends.
  const Attribute attribute = served->attribute;
  const std::size_t index = served->source;
  AttributeSource& source = *provider.sources[index];

  const AdminPassword admin = source.Admin();
  // A certificate takes signatures, never a password.
  const bool byPassword = admin.isSet && !admin.certificate;
  Password given;
  if (admin.certificate ? !provider.signatures : !PasswordOf(password, admin, given))
    return contract::kReturnPasswordRefused;
  if (byPassword && given.empty()) return contract::kReturnPasswordRefused;
  if (attribute.readOnly) return contract::kReturnReadOnly;

  std::string toWrite;
  if (!ValueToWrite(attribute, platform::Utf16ToUtf8(value), toWrite))
    return contract::kReturnInvalidValue;
  const std::int32_t code = ReturnCodeOfWriteError(
      source.Write(attribute.name, toWrite, byPassword ? given : Password()));
  if (code == contract::kReturnSuccess) {
    provider.batch.push_back({index, attribute.name, attribute.value});
    provider.unsaved.erase(platform::AsciiUpper(attribute.name));
    underPassword = byPassword || admin.certificate;
  }
  return code;
}

}  // namespace

std::int32_t SetBiosSetting(Provider& provider, std::u16string_view name, std::u16string_view value,
                            std::u16string_view password) {
  const std::string nameText = platform::Utf16ToUtf8(name);
  if (EqualsAsciiNoCase(platform::Trim(nameText), contract::kSetupPasswordName))
    return ChangeAdminPassword(provider, value, password);
  // A change already made while its password was tried is not made twice.
  if (const auto made = provider.made.find(MadeKey(name, value)); made != provider.made.end()) {
    const std::int32_t code = made->second;
    provider.made.erase(made);
    return code;
  }
  bool underPassword = false;
  return Change(provider, name, value, password, underPassword);
}

CandidateVerdict TryCandidates(Provider& provider, const std::vector<std::u16string>& names,
                               const std::vector<std::u16string>& values,
                               const std::vector<std::u16string>& candidates,
                               std::size_t& accepted) {
  FinishWrites(provider);
  for (accepted = 0; accepted < candidates.size(); ++accepted) {
    // The changes go as they would under the password, ended as one batch, so that the answer
    // covers the save where only the save checks the password.
    std::vector<std::int32_t> codes;
    bool refused = false, taken = false;
    for (std::size_t i = 0; i < names.size() && !refused; ++i) {
      bool underPassword = false;
      codes.push_back(Change(provider, names[i], values[i], candidates[accepted], underPassword));
      refused = contract::PasswordRefused(codes.back());
      taken = taken || underPassword;
    }
    const int finished = FinishWrites(provider);
    if (refused || contract::PasswordRefused(ReturnCodeOfWriteError(finished))) continue;
    // Each change answers as it did; none is made a second time.
    for (std::size_t i = 0; i < names.size(); ++i)
      provider.made.emplace(MadeKey(names[i], values[i]), codes[i]);
    return taken ? CandidateVerdict::Accepted : CandidateVerdict::Undecided;
  }
  return CandidateVerdict::Refused;
}

}  // namespace corvane::fwattr
