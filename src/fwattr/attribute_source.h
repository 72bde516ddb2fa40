// Where attributes come from and where their changes go: one driver folder of the kernel's
// firmware-attributes class, or a maker's own WMI interface. The provider over them
// (fwattr_provider.cpp) validates before anything is written and decides nothing by the
// source's kind.
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fwattr/attribute_model.h"

namespace corvane::fwattr {

struct AdminPassword {
  bool exists = false;          // the source has an administrator password at all
  bool isSet = false;           // one is set
  bool certificate = false;     // it authenticates with certificates, not with a password
  bool takesText = true;        // it is given as text
  bool takesScanCodes = false;  // it is given as the scan codes of its keys
  bool firstSettable = true;    // a first one can be set through this interface
  std::optional<std::int32_t> minLength, maxLength;
};

// A password as the firmware is given it: text, or the scan codes of its keys (one byte per
// key, SHIFT in bit 7), as the "<kbd/>" form carries them.
struct Password {
  std::string bytes;
  bool scanCodes = false;
  [[nodiscard]] bool empty() const { return bytes.empty(); }
  bool operator==(const Password&) const = default;
};

// Signed text -> its signature (standard base64), for an administrator that is a certificate.
using Signatures = std::map<std::string, std::string>;

// The error a source answers for a change it did not send: the signatures hold none for it.
inline constexpr int kUnsigned = ECANCELED;

// The certificate's life where it is the administrator (the kernel's think-lmi): installed
// under the supervisor password; updated, cleared or turned back into a password under a
// signature. Each takes effect at the next restart.
enum class CertificateAction { kInstall, kUpdate, kClear, kToPassword };

// The error numbers a source answers, as the C library names them (0 is success).
class AttributeSource {
 public:
  virtual ~AttributeSource() = default;

  // How messages name the source: the driver folder's name, or the maker's namespace.
  [[nodiscard]] virtual std::string Label() const = 0;
  // Every attribute, in the source's order.
  virtual std::vector<RawAttribute> ReadAll() = 0;
  // The attribute whose name equals name, blanks at the ends and ASCII letter case ignored, as
  // the firmware has it now.
  virtual bool Read(std::string_view name, RawAttribute& raw) = 0;
  // Asks for the choices of an attribute read with choicesLater.
  virtual void AskChoices(RawAttribute& /*raw*/) {}
  virtual AdminPassword Admin() = 0;
  // The firmware holds changes that wait for a restart.
  virtual bool RestartPending() = 0;

  // Writes a value under password (empty: none), or holds it until Finish when that saves the
  // firmware's storage a write. Reports its own failures on standard error.
  virtual int Write(const std::string& name, const std::string& value,
                    const Password& password) = 0;
  // Ends the writes: makes every held or waiting change, saves them, puts back what it switched
  // and ends the password session. Nonzero when a held change or the save failed: the changes
  // of the batch were not kept. A Write followed by Finish is one change the firmware has judged,
  // password and all, wherever it checks the password (at the change, or only at the save).
  virtual int Finish() = 0;
  // A change was kept this run.
  [[nodiscard]] virtual bool Changed() const = 0;
  // How many more changes this run can make before the firmware needs a restart; -1: no limit.
  virtual int ChangesBeforeRestart() { return -1; }

  // Changes the administrator password from current to wanted (empty: removed); the change
  // itself checks current.
  virtual int ChangePassword(const Password& current, const Password& wanted) = 0;
  // A password changed this run takes effect only at the next restart.
  [[nodiscard]] virtual bool PasswordAwaitsRestart() const { return false; }

  // value: the certificate (one-line base64 of its DER) to install or update, the password to
  // turn back to, nothing to clear; authority: the supervisor password to install, else the
  // signature. EOPNOTSUPP where the source cannot.
  virtual int ChangeCertificate(CertificateAction /*action*/, const std::string& /*value*/,
                                const std::string& /*authority*/) {
    return EOPNOTSUPP;
  }
  // The installed certificate's thumbprints as the firmware gives them; false where it cannot.
  virtual bool Thumbprints(std::string& /*text*/) { return false; }

  // The signatures the changes go with where the administrator is a certificate; they outlive
  // the source's writes.
  void UseSignatures(const Signatures* signatures) { signatures_ = signatures; }

 protected:
  // The signature of a signed text; nullptr, with a line on standard error saying the change is
  // not sent, when there is none.
  [[nodiscard]] const std::string* SignatureOf(std::string_view what,
                                               const std::string& text) const;

 private:
  const Signatures* signatures_ = nullptr;
};

// How reasons name a write of the administrator password.
inline constexpr std::string_view kPasswordWhat = "the administrator password";

// One line on standard error for a failed write: what was written, the error's name and what
// it usually means for these drivers.
void ReportWriteError(std::string_view what, int error);
// The same line for a firmware that answers in words of its own: what was written, the answer
// as the firmware gave it, and what it means.
void ReportFirmwareAnswer(std::string_view what, std::string_view answer, std::string_view meaning);

}  // namespace corvane::fwattr
