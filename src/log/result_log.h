// The result log on standard output: one run's records, each a named writer whose text stands
// with all the others in records.cpp, written through the one ordered output stream of the
// host; and the result those records leave for the run.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

// Result codes of a run, before translation.
enum ResultCode : int {
  kResultSuccess = 0,
  kResultFrameworkFailed = 1,
  kResultPassword = 10,
  kResultFileUnreadable = 11,
  kResultFileHeader = 12,
  kResultSettingFailed = 13,
  kResultCommandLine = 15,
  kResultJobFailed = 16,
  kResultHelpShown = 17,
  kResultSigningKey = 18,      // the signing key is no RSA key of 2048 or 4096 bits
  kResultSettingsDiffer = 20,  // a /CheckConfig found a difference
  // A /CheckConfig found no difference, only names the machine lacks or values it cannot take:
  // a mixed fleet's baseline maps it to 0, a single model's keeps it.
  kResultSettingsPassedOver = 21,
};

namespace log {

// The reader that refused a file: the provider's REPSET reader or the legacy RMSET reader.
enum class FileKind { kRepset, kRmset };

// The changeStatus of a SETTING record: a change made or not ("failed" in the ordered-list
// form), or a /CheckConfig's value that differs or that /SetConfig would pass over.
enum class Status { kPass, kFail, kFailed, kDiffers, kInvalid };

// One run's result log. The run owns it and hands it to every step that writes a record. Texts
// go in as every record takes them: unescaped, up to a zero byte.
class ResultLog {
 public:
  // The result the records left: a setting not changed (13), a REPSET file refused (11, 12);
  // when non-zero at the end of the run it replaces the run's own result code.
  [[nodiscard]] int Result() const { return result_; }
  [[nodiscard]] int FinalResult(int runResult) const { return result_ != 0 ? result_ : runResult; }

  // The frame: the opening element for one reading of the clock, the closing element, and the
  // translation record that ends every run.
  void OpeningElement();
  void ClosingElement();
  void Translation(int real, int translated);
  // The one record on standard error: the framework did not start, so no log is opened.
  void FrameworkFailed();

  // The command line.
  void PasswordInputUnreadable();
  void PasswordInputLineRefused(std::size_t line);
  // argument: as the run describes it, never a password read from standard input.
  void UnconvertiblePassword(std::string_view argument, std::string_view token);
  void XmlFormatRefused();
  void RestartCodeRefused(std::string_view argument);
  void NoFileSpecified();
  // A /SetConfig or /CheckConfig file that could not be read: it exists or not.
  void FileUnread(bool exists, std::string_view fileName);
  void OutOfMemory();

  // The password step and the password a /SetConfig needs.
  void NoValidPassword();
  void PasswordNotAccepted();
  void PasswordChangeFailed();
  void PasswordChangeOnlyInF10Setup();
  void PasswordUnverified();
  void CertificateOnly();
  void SixteenBitCallsNeeded();
  void NewPasswordUntypeable();
  void FirstPasswordOnlyInSetup();
  void PasswordChanged();

  // Signed changes: the signature file /SignConfig writes and the one /SetConfig needs where the
  // administrator is a certificate.
  void SignConfigAlone();
  void SigningKeyMissing();
  void KeyPassphraseOnCommandLine();
  void SigningKeyUnread(std::string_view path);
  void SigningKeyRefused(std::string_view path, std::string_view reason);
  void BlockNotSigned(std::string_view name, std::string_view reason);
  void SignaturesWritten(std::string_view path, std::size_t count);
  void SignatureFileNotWritten(std::string_view path);
  void SignatureFileMissing(std::string_view path);
  void SignatureFileRefused(std::string_view path, std::size_t line);
  void SaveSignatureMissing(std::string_view path);
  // The certificate's life.
  void CertificateChanged(std::string_view done);
  void CertificateNotChanged(std::string_view reason);
  void CertificateThumbprints(std::string_view text);

  // The actions: the settings as REPSET text, the refusals of a file, the legacy backend's
  // refused password.
  void Settings(std::string_view repsetText);
  void RestartLimit(std::size_t asked, int left);
  void FileNotWritten(std::string_view path);
  void FileNotFound(FileKind kind, std::string_view path);
  void FileNotEnglish(FileKind kind, std::string_view path);
  void LegacyPasswordMismatch();

  // One SETTING record per change made, failed or found by a check, in three forms: values in
  // CDATA sections, plain values (legacy choices, numbers and times), and the legacy ordered
  // list's (CDATA, its closing tag on a line of its own). A failed change fails the run (13).
  void Setting(Status status, std::string_view name, std::string_view oldValue,
               std::string_view newValue);
  void PlainSetting(Status status, std::string_view name, std::string_view oldValue,
                    std::string_view newValue);
  void ListSetting(Status status, std::string_view name, std::string_view oldValue,
                   std::string_view newValue);
  // A check's name line that the machine has no setting for.
  void UnknownSetting(std::string_view name);

 private:
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Write(std::string_view text);
  void Fail(int code) { result_ = code; }

  int result_ = 0;
};

}  // namespace log
}  // namespace corvane
