#include "driver/certificate_step.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/signed_changes.h"
#include "driver/sign_config.h"
#include "fwattr/firmware_attributes.h"
#include "platform/host.h"
#include "platform/signature.h"
#include "platform/text.h"
#include "wmi/password_options.h"

namespace corvane::driver {
namespace {

using fwattr::CertificateAction;

struct Option {
  std::string_view name;  // compared on its whole length, ASCII case ignored
  bool takesFile;
  CertificateAction action;
  std::string_view done;      // what the success record says was done
  std::string_view signedAs;  // the signed text's class; empty for the install
};

constexpr Option kOptions[] = {
    {"/InstallCertificate:", true, CertificateAction::kInstall, "installed", ""},
    {"/UpdateCertificate:", true, CertificateAction::kUpdate, "updated",
     "Lenovo_UpdateBiosCertificate,"},
    {"/ClearCertificate", false, CertificateAction::kClear, "cleared",
     "Lenovo_ClearBiosCertificate,"},
    {"/CertificateToPassword", false, CertificateAction::kToPassword,
     "changed back to the new supervisor password", "Lenovo_ChangeBiosCertificateToPassword,"},
};
constexpr std::string_view kThumbprint = "/CertificateThumbprint";
constexpr std::string_view kSignatureFile = "/SignatureFile:";

// The password options of the kinds, as text, in command-line order.
std::vector<std::string> Passwords(int argc, const char* const* argv, int kinds) {
  std::vector<std::string> found;
  int cursor = -1;
  std::string value, failed;
  while (wmi::ParsePasswordOptionInForm(true, argc, argv, kinds, &cursor, value, failed))
    if (failed.empty()) found.push_back(value);
  return found;
}

// The signature of the line whose text begins with prefix and, when exact, is exactly it; the
// clear's text names the machine's serial, which the kernel adds, so its one line serves.
int FindSignature(log::ResultLog& log, int argc, const char* const* argv, const std::string& text,
                  bool exact, std::string& signature, std::string& found) {
  const std::string path = LastValue(argc, argv, kSignatureFile);
  std::string bytes;
  std::map<std::string, std::string> book;
  std::size_t badLine = 0;
  if (path.empty() || !platform::Os().ReadFile(path, bytes)) {
    log.CertificateNotChanged(
        "it needs a signature file (/SignatureFile:<file.sig>) that can be "
        "read");
    return kResultPassword;
  }
  const bool parsed = config::ParseSignatureFile(bytes, book, badLine);
  std::fill(bytes.begin(), bytes.end(), '\0');
  if (!parsed) {
    log.SignatureFileRefused(path, badLine);
    return kResultPassword;
  }
  std::size_t matches = 0;
  for (const auto& [signedText, value] : book)
    if (exact ? signedText == text : signedText.rfind(text, 0) == 0) {
      signature = value;
      found = signedText;
      ++matches;
    }
  if (matches == 1) return kResultSuccess;
  log.CertificateNotChanged(matches == 0 ? "the signature file has no line for '" + text + "'"
                                         : "the signature file has more than one line for '" +
                                               text + "': give one with this machine's alone");
  return kResultPassword;
}

int ResultOf(log::ResultLog& log, int error, const Option& option, bool& changed) {
  if (error == 0) {
    log.CertificateChanged(option.done);
    changed = true;
    return kResultSuccess;
  }
  if (error == EACCES || error == EPERM) {
    log.CertificateNotChanged(option.action == CertificateAction::kInstall
                                  ? "the BIOS refused the supervisor password"
                                  : "the BIOS refused the signature");
    return kResultPassword;
  }
  log.CertificateNotChanged(error == EOPNOTSUPP || error == ENODEV || error == ENOENT
                                ? "this BIOS interface cannot change its certificate here"
                                : "the BIOS did not take the change (see standard error)");
  return kResultJobFailed;
}

int Install(log::ResultLog& log, int argc, const char* const* argv, const Option& option,
            const std::string& certificate, bool& changed) {
  const std::vector<std::string> candidates = Passwords(argc, argv, wmi::kCurrentPasswordOptions);
  if (candidates.empty()) {
    log.CertificateNotChanged(
        "installing it needs the supervisor password (/cspwd, best on "
        "standard input with /pwdstdin)");
    return kResultPassword;
  }
  int error = EACCES;
  for (const std::string& password : candidates) {
    error = fwattr::ChangeCertificate(option.action, certificate, password);
    if (error != EACCES && error != EPERM && error != EINVAL) break;
  }
  return ResultOf(log, error, option, changed);
}

}  // namespace

bool CertificateActionRequested(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (Begins(argv[i], kThumbprint)) return true;
    for (const Option& option : kOptions)
      if (Begins(argv[i], option.name)) return true;
  }
  return false;
}

int RunCertificateAction(log::ResultLog& log, int argc, const char* const* argv, bool& changed) {
  changed = false;
  for (int i = 1; i < argc; ++i) {
    if (Begins(argv[i], kThumbprint)) {
      std::string text;
      if (!fwattr::CertificateThumbprints(text)) {
        log.CertificateNotChanged("no certificate thumbprint could be read here");
        return kResultJobFailed;
      }
      log.CertificateThumbprints(text);
      return kResultSuccess;
    }
    const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                     [&](const Option& o) { return Begins(argv[i], o.name); });
    if (option == std::end(kOptions)) continue;
    std::string value;
    if (option->takesFile) {
      const std::string path = std::string(argv[i]).substr(option->name.size());
      std::string text;
      if (path.empty() || !platform::Os().ReadFile(path, text) ||
          !platform::CertificateBase64(text, value)) {
        log.CertificateNotChanged("'" + path +
                                  "' is no X.509 certificate with an RSA key that can be read");
        return kResultFileUnreadable;
      }
    }
    if (option->action == CertificateAction::kInstall)
      return Install(log, argc, argv, *option, value, changed);
    if (option->action == CertificateAction::kToPassword) {
      const std::vector<std::string> wanted = Passwords(argc, argv, wmi::kNewPasswordOptions);
      if (wanted.empty() || wanted.back().empty()) {
        log.CertificateNotChanged(
            "it needs the new supervisor password (/nspwd, best on standard "
            "input with /pwdstdin)");
        return kResultPassword;
      }
      value = wanted.back();
    }
    std::string signature, found;
    const bool exact = option->action != CertificateAction::kClear;
    const std::string text = std::string(option->signedAs) + (exact ? value : std::string());
    if (const int code = FindSignature(log, argc, argv, text, exact, signature, found)) return code;
    // The clear names the machine's serial, which Windows' class takes with the signature.
    if (!exact) value = found.substr(text.size());
    return ResultOf(log, fwattr::ChangeCertificate(option->action, value, signature), *option,
                    changed);
  }
  return kResultSuccess;
}

}  // namespace corvane::driver
