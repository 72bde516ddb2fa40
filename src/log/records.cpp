// Every record of the result log, side by side: the texts here are the program's output
// contract, byte for byte.
#include <ctime>
#include <string>

#include "log/result_log.h"
#include "platform/host.h"

namespace corvane::log {
namespace {

const char* StatusText(Status status) {
  switch (status) {
    case Status::kPass:
      return "pass";
    case Status::kFail:
      return "fail";
    case Status::kFailed:
      return "failed";
    case Status::kDiffers:
      return "differs";
    case Status::kInvalid:
      return "invalid";
  }
  return "";
}

bool Fails(Status status) {
  return status == Status::kFail || status == Status::kFailed;
}

// "%d.%d.%d.%d" of the fixed file version, "0.0.0.0" when there is none.
std::string VersionText(const platform::FileVersion* version) {
  if (version == nullptr) return "0.0.0.0";
  return std::to_string(version->mostSignificant >> 16) + "." +
         std::to_string(version->mostSignificant & 0xFFFF) + "." +
         std::to_string(version->leastSignificant >> 16) + "." +
         std::to_string(version->leastSignificant & 0xFFFF);
}

}  // namespace

// The frame.

void ResultLog::OpeningElement() {
  platform::Host& host = platform::Os();
  // Take the clock once: date and time always describe the same instant.
  const platform::ClockReading clock = host.ReadClock();
  platform::FileVersion version;
  const bool hasVersion = host.ExecutableFileVersion(version);
  const std::tm& local = clock.local;
  Printf(
      "<BIOSCONFIG Version=\"%s\" Computername=\"%s\" Date=\"%d/%02d/%02d\" "
      "Time=\"%02d:%02d:%02d\" UTC=\"%d\" >\n",
      VersionText(hasVersion ? &version : nullptr).c_str(), host.ComputerName().c_str(),
      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
      local.tm_sec, local.tm_hour - clock.utc.tm_hour);
}

void ResultLog::ClosingElement() {
  Write("</BIOSCONFIG>\n");
}

void ResultLog::Translation(int real, int translated) {
  Printf("<Warning msg=\"Tiv return value\" real=\"%d\" translated=\"%d\" />\n", real, translated);
}

void ResultLog::FrameworkFailed() {
  platform::Os().WriteErr("<ERROR msg=\"MFC initialization failed.\" />\n\n");
}

// The command line.

void ResultLog::PasswordInputUnreadable() {
  Write(
      "<ERROR msg=\"/pwdstdin: standard input could not be read, or holds more than 65536 "
      "bytes.\" />\n");
}

void ResultLog::PasswordInputLineRefused(std::size_t line) {
  Printf(
      "<ERROR msg=\"/pwdstdin: line %u of standard input is not a password option; give "
      "one /cspwd: or /nspwd: option a line.\" />\n",
      static_cast<unsigned>(line));
}

void ResultLog::UnconvertiblePassword(std::string_view argument, std::string_view token) {
  Printf(
      "<ERROR msg=\"Problem encountered with command line parameter '%s'.\n\nCould not "
      "convert '%s' into a keyboard scan code.\n\nSee Corvane.EXE /HELP for valid "
      "options.\" />\n",
      std::string(argument).c_str(), std::string(token).c_str());
}

void ResultLog::XmlFormatRefused() {
  Write("/FORMAT:XML is not supported anymore. Please use /FORMAT:REPSET.");
}

void ResultLog::RestartCodeRefused(std::string_view argument) {
  Printf(
      "<ERROR msg=\"Problem encountered with command line parameter '%s'.\n\nThe restart code "
      "must be a number from 0 to 2147483647.\n\nSee Corvane.EXE /HELP for valid options.\" />\n",
      std::string(argument).c_str());
}

void ResultLog::NoFileSpecified() {
  Write("<ERROR msg=\"No file specified. \" />\n");
}

void ResultLog::FileUnread(bool exists, std::string_view fileName) {
  Write(exists ? "<ERROR msg=\"Problem reading file: " : "<ERROR msg=\"File not found: ");
  Write(fileName);
  Write(" \" />\n");
}

void ResultLog::OutOfMemory() {
  Write("<ERROR msg=\"Out of memory.\" />\n");
}

// The password step.

void ResultLog::NoValidPassword() {
  Write(
      "<ERROR msg=\"Could not change settings.  Password is set, but no valid current admin "
      "password provided.\" />\n");
}

void ResultLog::PasswordNotAccepted() {
  Write("<WARNING msg=\"Attempt to change the password, but correct password not provided.\" />\n");
}

void ResultLog::PasswordChangeFailed() {
  Write(
      "<ERROR msg=\"Failed to change the Setup Password. This may not be a supported platform or "
      "the new password is too long for this platform.\" />\n");
}

void ResultLog::PasswordChangeOnlyInF10Setup() {
  Write(
      "<ERROR msg=\"The current password that was provided is correct, however once a password is "
      "set on an Q310, Q710, or Z510 it can only be changed through F10 Setup.\" />\n");
}

void ResultLog::PasswordUnverified() {
  Write(
      "\n"
      "<WARNING msg=\"There was a failed attempt to change the setup password.\n"
      "\tBIOS reported success but was not able to verify the new password.\n"
      "\tThis can happen with version 1.00A of the Lumo Ostrel software provider.\n"
      "\tThis can happen on a 531K4 v1.12 ROM when changing only the case\n"
      "\t(uppercase to lowercase or vise versa) of a password.\" />\n\n");
}

void ResultLog::CertificateOnly() {
  Write(
      "<ERROR msg=\"The BIOS administrator signs in with a certificate, not a password: no "
      "setting or password can be changed here, and nothing was changed.\" />\n");
}

void ResultLog::SixteenBitCallsNeeded() {
  Write(
      "<ERROR msg=\"This machine's BIOS settings are reached through 16-bit BIOS calls, which only "
      "the 32-bit Corvane.exe on a 32-bit Windows or WinPE can make: run it there for this "
      "machine.\" />\n");
  if (Result() == 0) Fail(kResultJobFailed);
}

void ResultLog::NewPasswordUntypeable() {
  Write(
      "<ERROR msg=\"The new password was not set: it holds characters other than printable ASCII, "
      "which the BIOS password prompt may not accept.\" />\n");
}

void ResultLog::FirstPasswordOnlyInSetup() {
  Write(
      "<ERROR msg=\"The new password was not set: no BIOS administrator password is set yet, and "
      "this firmware takes a first one only in its own setup screens. Set it there; it can then "
      "be changed here.\" />\n");
}

void ResultLog::PasswordChanged() {
  Write("<SUCCESS msg=\"Successfully modified the Setup Password.\" />\n");
}

// Signed changes.

void ResultLog::SignConfigAlone() {
  Write(
      "<ERROR msg=\"/SignConfig runs alone: it reads no BIOS, so /GetConfig, /SetConfig and "
      "/CheckConfig are not given with it.\" />\n");
}

void ResultLog::SigningKeyMissing() {
  Write(
      "<ERROR msg=\"/SignConfig needs /SigningKey:<file>, the PEM private key whose certificate "
      "the BIOS holds.\" />\n");
}

void ResultLog::KeyPassphraseOnCommandLine() {
  Write(
      "<ERROR msg=\"The signing key's passphrase is read from standard input only (/pwdstdin), "
      "never from the command line.\" />\n");
}

void ResultLog::SigningKeyUnread(std::string_view path) {
  Printf("<ERROR msg=\"The signing key '%s' could not be read.\" />\n", std::string(path).c_str());
}

void ResultLog::SigningKeyRefused(std::string_view path, std::string_view reason) {
  Printf("<ERROR msg=\"The signing key '%s' was refused: %s. Nothing was signed.\" />\n",
         std::string(path).c_str(), std::string(reason).c_str());
}

void ResultLog::BlockNotSigned(std::string_view name, std::string_view reason) {
  Printf("<WARNING msg=\"'%s' was not signed: %s.\" />\n", std::string(name).c_str(),
         std::string(reason).c_str());
}

void ResultLog::SignaturesWritten(std::string_view path, std::size_t count) {
  Printf(
      "<SUCCESS msg=\"Wrote %d signatures to '%s'. Keep it as safe as a password: it changes the "
      "settings it names on every machine that holds the certificate.\" />\n",
      static_cast<int>(count), std::string(path).c_str());
}

void ResultLog::SignatureFileNotWritten(std::string_view path) {
  Printf("<ERROR msg=\"The signature file '%s' could not be written.\" />\n",
         std::string(path).c_str());
}

void ResultLog::SignatureFileMissing(std::string_view path) {
  Printf(
      "<ERROR msg=\"The BIOS administrator is a certificate: the changes need their signatures in "
      "'%s', which could not be read. Nothing was changed.\" />\n",
      std::string(path).c_str());
}

void ResultLog::SignatureFileRefused(std::string_view path, std::size_t line) {
  Printf(
      "<ERROR msg=\"Line %d of the signature file '%s' is not a signed text, a tab and its "
      "signature. Nothing was changed.\" />\n",
      static_cast<int>(line), std::string(path).c_str());
}

void ResultLog::SaveSignatureMissing(std::string_view path) {
  Printf(
      "<ERROR msg=\"The signature file '%s' has no line for the save (Lenovo_SaveBiosSettingsEx), "
      "without which no change is kept. Nothing was changed.\" />\n",
      std::string(path).c_str());
}

void ResultLog::CertificateChanged(std::string_view done) {
  Printf(
      "<SUCCESS msg=\"The BIOS certificate was %s. The change takes effect after a restart.\" "
      "/>\n",
      std::string(done).c_str());
}

void ResultLog::CertificateNotChanged(std::string_view reason) {
  Printf("<ERROR msg=\"The BIOS certificate was not changed: %s.\" />\n",
         std::string(reason).c_str());
}

void ResultLog::CertificateThumbprints(std::string_view text) {
  Write("<CERTIFICATE><![CDATA[\n");
  Write(text);
  Write("\n]]></CERTIFICATE>\n");
}

// The actions.

void ResultLog::Settings(std::string_view repsetText) {
  // The text goes in whole, zero bytes and all.
  Write("<GETCONFIG><![CDATA[\n");
  Write(repsetText);
  Write("]]></GETCONFIG>\n");
}

void ResultLog::RestartLimit(std::size_t asked, int left) {
  Printf(
      "<ERROR msg=\"No setting was changed: the BIOS holds changes that wait for a restart, so "
      "each change needs a save of its own, and the %d changes asked for are more than the %d "
      "it takes before a restart. Restart the computer, then run again.\" />\n",
      static_cast<int>(asked), left);
}

void ResultLog::FileNotWritten(std::string_view path) {
  Printf("<ERROR type=\"failure\">REPSET file, '%s' could not be written.</ERROR>\n",
         std::string(path).c_str());
}

// Only the REPSET reader's refusals set a result; the RMSET reader's leave it.
void ResultLog::FileNotFound(FileKind kind, std::string_view path) {
  if (kind == FileKind::kRepset) {
    Printf("<ERROR type=\"failure\">REPSET file, '%s' not found or empty.</ERROR>\n",
           std::string(path).c_str());
    Fail(kResultFileUnreadable);
  } else {
    Printf("<ERROR type=\"failure\">RMSET file, '%s' not found or empty.</ERROR>\n",
           std::string(path).c_str());
  }
}

void ResultLog::FileNotEnglish(FileKind kind, std::string_view path) {
  if (kind == FileKind::kRepset) {
    Printf("<ERROR type=\"failure\">First line in /REPSET file, '%s' is not 'English'.</ERROR>\n",
           std::string(path).c_str());
    Fail(kResultFileHeader);
  } else {
    Printf("<ERROR type=\"failure\">First line in /RMSET file, '%s' is not 'English'.</ERROR>\n",
           std::string(path).c_str());
  }
}

void ResultLog::LegacyPasswordMismatch() {
  Write(
      "<ERROR type=\"failure\">Can't update the replicated setup settings.  The Setup password "
      "does not match.</ERROR>\n");
}

// The SETTING records.

void ResultLog::Setting(Status status, std::string_view name, std::string_view oldValue,
                        std::string_view newValue) {
  Printf(
      "<SETTING changeStatus=\"%s\" name=\"%s\">\n\t<OLDVALUE><![CDATA[%s]]></OLDVALUE>\n\t"
      "<NEWVALUE><![CDATA[%s]]></NEWVALUE>\n</SETTING>\n",
      StatusText(status), std::string(name).c_str(), std::string(oldValue).c_str(),
      std::string(newValue).c_str());
  if (Fails(status)) Fail(kResultSettingFailed);
}

void ResultLog::PlainSetting(Status status, std::string_view name, std::string_view oldValue,
                             std::string_view newValue) {
  Printf(
      "<SETTING changeStatus=\"%s\" name=\"%s\">\n\t<OLDVALUE>%s</OLDVALUE>\n\t<NEWVALUE>%s"
      "</NEWVALUE>\n</SETTING>\n",
      StatusText(status), std::string(name).c_str(), std::string(oldValue).c_str(),
      std::string(newValue).c_str());
  if (Fails(status)) Fail(kResultSettingFailed);
}

void ResultLog::ListSetting(Status status, std::string_view name, std::string_view oldValue,
                            std::string_view newValue) {
  Printf(
      "<SETTING changeStatus=\"%s\" name=\"%s\">\n\t<OLDVALUE><![CDATA[%s]]></OLDVALUE>\n\t"
      "<NEWVALUE><![CDATA[%s]]>\n\t</NEWVALUE>\n</SETTING>\n",
      StatusText(status), std::string(name).c_str(), std::string(oldValue).c_str(),
      std::string(newValue).c_str());
  if (Fails(status)) Fail(kResultSettingFailed);
}

void ResultLog::UnknownSetting(std::string_view name) {
  Printf("<SETTING changeStatus=\"unknown\" name=\"%s\" />\n", std::string(name).c_str());
}

}  // namespace corvane::log
