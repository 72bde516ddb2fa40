#include "driver/run.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration_job.h"
#include "config/signed_changes.h"
#include "driver/certificate_step.h"
#include "driver/help_text.h"
#include "driver/library_extraction.h"
#include "driver/password_input.h"
#include "driver/password_step.h"
#include "driver/sign_config.h"
#include "driver/translate.h"
#include "fwattr/firmware_attributes.h"
#include "legacy/bios_access.h"
#include "log/result_log.h"
#include "platform/host.h"
#include "platform/text.h"
#include "wmi/password_options.h"

namespace corvane::driver {
namespace {

// Option texts as compared, with the number of leading characters compared and, where the
// option carries a value, the position at which the value starts.
constexpr std::string_view kHelpShort = "/?";    // 2 characters
constexpr std::string_view kHelpLong = "/Help";  // 5
constexpr std::string_view kFormat = "/FORMAT";  // 7, value from the 9th character
constexpr std::size_t kFormatValueAt = 8;
constexpr std::string_view kAdvanced = "/ADVANCED";    // 9
constexpr std::string_view kGetConfig = "/GETCONFIG";  // 10, value from the 12th character
constexpr std::string_view kSetConfig = "/SETCONFIG";  // 10, value from the 12th character
constexpr std::size_t kConfigValueAt = 11;
constexpr std::string_view kCheckConfig = "/CHECKCONFIG";  // 12, value from the 14th character
constexpr std::size_t kCheckValueAt = 13;
constexpr std::string_view kRestartCode = "/RESTARTCODE";  // 12, value from the 14th character
constexpr std::size_t kRestartValueAt = 13;

// Options match on their leading characters only, so longer arguments match as well.
bool BeginsWithOption(std::string_view argument, std::string_view option) {
  return platform::StartsWithNoCase(argument, option, option.size());
}

void RefuseMissingFile(log::ResultLog& log, int& resultCode) {
  log.NoFileSpecified();
  resultCode = kResultCommandLine;
}

// The file messages of a /SetConfig or /CheckConfig whose file could not be read.
void ReportUnreadFile(log::ResultLog& log, const std::string& fileName, int& resultCode) {
  log.FileUnread(platform::Os().FileExists(fileName), fileName);
  resultCode = kResultFileUnreadable;
}

// The text from position on, or empty when the argument is not longer than position.
std::string ValueFrom(std::string_view argument, std::size_t position) {
  return argument.size() > position ? std::string(argument.substr(position)) : std::string();
}

// The early ends: a password that cannot become scan codes stops the run before anything
// else is looked at. Returns true when the run must end with code 15.
bool RefuseUnconvertiblePassword(log::ResultLog& log, const RunArguments& arguments) {
  int cursor = -1;
  std::string value;
  std::string failedToken;
  while (wmi::ParsePasswordOption(arguments.argc(), arguments.argv(), wmi::kAllPasswordOptions,
                                  &cursor, value, failedToken)) {
    if (failedToken.empty()) continue;
    log.UnconvertiblePassword(arguments.Describe(cursor), failedToken);
    return true;
  }
  return false;
}

// commandLineCount: the arguments of the command line itself, read from standard input or not.
bool HelpRequested(int commandLineCount, int argc, const char* const* argv) {
  if (commandLineCount < 2) return true;
  for (int i = 1; i < argc; ++i)
    if (BeginsWithOption(argv[i], kHelpShort) || BeginsWithOption(argv[i], kHelpLong)) return true;
  return false;
}

bool XmlFormatRequested(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    // The 8th character is not looked at: /FORMAT=XML is refused like /FORMAT:XML.
    if (BeginsWithOption(argument, kFormat) && argument.size() > kFormatValueAt &&
        platform::EqualsNoCase(argument.substr(kFormatValueAt), "XML"))
      return true;
  }
  return false;
}

// The code a run ends with when its changes wait for a restart: the last /RestartCode option's
// decimal value, 0 to 2147483647; -1 without one. False, with the record written, for a value
// that is missing, not a number or too large.
bool ReadRestartCode(log::ResultLog& log, int argc, const char* const* argv, int& restartCode) {
  restartCode = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!BeginsWithOption(argument, kRestartCode)) continue;
    const std::string value = ValueFrom(argument, kRestartValueAt);
    long long code = 0;
    bool valid = !value.empty() && value.size() <= 10;
    for (const char c : value) {
      valid = valid && c >= '0' && c <= '9';
      if (valid) code = code * 10 + (c - '0');
    }
    if (!valid || code > INT_MAX) {
      log.RestartCodeRefused(argument);
      return false;
    }
    restartCode = static_cast<int>(code);
  }
  return true;
}

bool SetConfigRequested(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (BeginsWithOption(argv[i], kSetConfig)) return true;
  return false;
}

bool AdvancedRequested(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (BeginsWithOption(argv[i], kAdvanced)) return true;
  return false;
}

void RunGetConfig(log::ResultLog& log, BiosAccess& access, const PasswordState& passwords,
                  const std::string& libraryPath, bool advanced, std::string_view argument,
                  int& resultCode) {
  config::ConfigurationJob job(log, &access, passwords.currentPassword, libraryPath);
  job.advanced = advanced;
  const std::string fileName = ValueFrom(argument, kConfigValueAt);
  if (!fileName.empty()) {
    if (!job.GetConfigToFile(fileName)) resultCode = kResultJobFailed;
    return;
  }
  std::string text;
  const bool ok = job.GetConfigText(text);
  log.Settings(text);
  if (!ok) resultCode = kResultJobFailed;
}

void RefuseWithoutPassword(log::ResultLog& log, int& resultCode) {
  log.NoValidPassword();
  resultCode = kResultPassword;
}

// The makers' interfaces judge the password by the changes that need it: they are made under
// each candidate in turn until the firmware takes one or refuses them all. False when it refused
// them all.
bool JudgeByChange(const config::ConfigurationJob& job, PasswordState& passwords) {
  std::vector<std::string> encoded;
  encoded.reserve(passwords.untried.size());
  for (const auto& candidate : passwords.untried)
    encoded.push_back(wmi::EncodeCurrentPassword(candidate));
  std::size_t accepted = 0;
  switch (fwattr::TryPasswords(job.pendingNames, job.pendingNewValues, encoded, accepted)) {
    case fwattr::CandidateVerdict::Accepted:
      passwords.currentPassword = passwords.untried[accepted];
      passwords.currentPasswordAccepted = true;
      passwords.untried.clear();
      return true;
    case fwattr::CandidateVerdict::Refused:
      passwords.untried.clear();
      return false;
    case fwattr::CandidateVerdict::Undecided:
      break;
  }
  // No change told: a later one may.
  passwords.currentPassword = passwords.untried[accepted];
  return true;
}

// After a save in bulk the firmware takes each change as a save of its own until a restart,
// and only so many: a file that needs more changes nothing.
bool RefuseBeyondRestartLimit(log::ResultLog& log, const config::ConfigurationJob& job,
                              int& resultCode) {
  const int left = fwattr::ChangesBeforeRestart();
  if (left < 0 || job.pendingNames.size() <= static_cast<std::size_t>(left)) return false;
  log.RestartLimit(job.pendingNames.size(), left);
  platform::Os().WriteErr(
      "corvane: restart the computer: the BIOS holds changes that wait for a restart, and takes "
      "at most " +
      std::to_string(left) + " more before then.\n");
  resultCode = kResultSettingFailed;
  return true;
}

// Where the administrator is a certificate: the changes go with the signatures of the file's
// .sig beside it, the save with its own; no password is tried. Without the file, or without the
// save's signature, nothing is sent; a signature the firmware refuses ends as a refused password.
void RunSignedSetConfig(log::ResultLog& log, BiosAccess& access, const std::string& libraryPath,
                        bool advanced, std::string_view argument, int& resultCode) {
  const std::string fileName = ValueFrom(argument, kConfigValueAt);
  if (fileName.empty()) {
    RefuseMissingFile(log, resultCode);
    return;
  }
  config::ConfigurationJob job(log, &access, std::string(), libraryPath);
  job.advanced = advanced;
  if (!job.ReadConfigFile(fileName)) {
    ReportUnreadFile(log, fileName, resultCode);
    return;
  }
  // A file the machine matches needs no signature, as it needs no password.
  if (job.pendingNames.empty()) {
    if (!job.ApplyConfig()) resultCode = kResultJobFailed;
    return;
  }
  const std::string sigPath = fileName + std::string(config::kSignatureSuffix);
  std::string bytes;
  std::map<std::string, std::string> signatures;
  std::size_t badLine = 0;
  if (!platform::Os().ReadFile(sigPath, bytes)) {
    log.SignatureFileMissing(sigPath);
    resultCode = kResultPassword;
    return;
  }
  const bool parsed = config::ParseSignatureFile(bytes, signatures, badLine);
  std::fill(bytes.begin(), bytes.end(), '\0');
  if (!parsed) {
    log.SignatureFileRefused(sigPath, badLine);
    resultCode = kResultPassword;
    return;
  }
  if (signatures.count(std::string(config::kSignedSave)) == 0) {
    log.SaveSignatureMissing(sigPath);
    resultCode = kResultPassword;
    return;
  }
  fwattr::UseSignatures(signatures);
  if (RefuseBeyondRestartLimit(log, job, resultCode)) return;
  // The firmware judges the signatures as it judges a password: by the changes themselves.
  std::size_t accepted = 0;
  if (fwattr::TryPasswords(job.pendingNames, job.pendingNewValues, {std::string()}, accepted) ==
      fwattr::CandidateVerdict::Refused) {
    RefuseWithoutPassword(log, resultCode);
    return;
  }
  if (!job.ApplyConfig()) resultCode = kResultJobFailed;
}

void RunSetConfig(log::ResultLog& log, BiosAccess& access, PasswordState& passwords,
                  const std::string& libraryPath, bool advanced, std::string_view argument,
                  int& resultCode) {
  // The password step said why once already.
  if (passwords.passwordChangeRefused) {
    resultCode = kResultPassword;
    return;
  }
  if (passwords.certificateOnly) {
    RunSignedSetConfig(log, access, libraryPath, advanced, argument, resultCode);
    return;
  }
  if (!passwords.currentPasswordAccepted && passwords.untried.empty()) {
    RefuseWithoutPassword(log, resultCode);
    return;
  }
  // Each option names its own file: one without a name is refused even after an option that
  // had one, rather than reading an empty name or applying the earlier file a second time.
  const std::string fileName = ValueFrom(argument, kConfigValueAt);
  if (fileName.empty()) {
    RefuseMissingFile(log, resultCode);
    return;
  }
  config::ConfigurationJob job(log, &access, passwords.currentPassword, libraryPath);
  job.advanced = advanced;
  if (!job.ReadConfigFile(fileName)) {
    ReportUnreadFile(log, fileName, resultCode);
    return;
  }
  if (RefuseBeyondRestartLimit(log, job, resultCode)) return;
  // A file the machine matches needs no password: none is tried.
  if (!passwords.currentPasswordAccepted && !job.pendingNames.empty() &&
      !JudgeByChange(job, passwords)) {
    RefuseWithoutPassword(log, resultCode);
    return;
  }
  // The provider takes the encoded Password argument; the management library takes the
  // password as the password step accepted it.
  if (job.wmiAvailable) job.password = wmi::EncodeCurrentPassword(passwords.currentPassword);
  if (!job.ApplyConfig()) resultCode = kResultJobFailed;
}

// The check: the file read as /SetConfig reads it, and every difference reported instead of
// changed. It needs no password of its own: the provider's settings read without one, and the
// legacy backend reads with the one the password step accepted, as /GetConfig does.
void RunCheckConfig(log::ResultLog& log, BiosAccess& access, const PasswordState& passwords,
                    const std::string& libraryPath, std::string_view argument, int& resultCode) {
  const std::string fileName = ValueFrom(argument, kCheckValueAt);
  if (fileName.empty()) {
    RefuseMissingFile(log, resultCode);
    return;
  }
  config::ConfigurationJob job(log, &access, passwords.currentPassword, libraryPath);
  job.compareOnly = true;
  // Hidden read-only settings are looked up too: a file that names one names a setting the
  // machine has.
  job.advanced = true;
  if (!job.ReadConfigFile(fileName)) {
    // A reader that refused no file never opened one: no interface answered, so the settings
    // could not be read, as for /GetConfig.
    if (!job.fileRefused)
      resultCode = kResultJobFailed;
    else
      ReportUnreadFile(log, fileName, resultCode);
    return;
  }
  if (!job.CompareConfig())
    resultCode = kResultJobFailed;
  else if (job.differences != 0)
    resultCode = kResultSettingsDiffer;
  // Only names and values /SetConfig passes over: never hides a difference an earlier check
  // found.
  else if (job.passedOver != 0 && resultCode != kResultSettingsDiffer)
    resultCode = kResultSettingsPassedOver;
}

// The password step and every configuration action. Memory that runs out on the way ends them
// with a record and code 16 rather than ending the process: the closing records still follow.
// settingsShown tells whether a GetConfig ran.
int RunSteps(log::ResultLog& log, BiosAccess& access, ManagementLibrary& library, int argc,
             const char* const* argv, bool& settingsShown) {
  try {
    PasswordState passwords;
    int resultCode = RunPasswordStep(log, access, argc, argv, library,
                                     SetConfigRequested(argc, argv), passwords);
    if (!passwords.backendFound) platform::Os().WriteErr(fwattr::NoInterfaceNote());

    const bool advanced = AdvancedRequested(argc, argv);

    // Each action runs to its end before the next argument is looked at; a later failure
    // replaces an earlier code and a later success leaves it.
    for (int i = 1; i < argc; ++i) {
      const std::string_view argument = argv[i];
      if (BeginsWithOption(argument, kGetConfig)) {
        RunGetConfig(log, access, passwords, library.Path(), advanced, argument, resultCode);
        settingsShown = true;
      } else if (BeginsWithOption(argument, kSetConfig)) {
        RunSetConfig(log, access, passwords, library.Path(), advanced, argument, resultCode);
      } else if (BeginsWithOption(argument, kCheckConfig)) {
        RunCheckConfig(log, access, passwords, library.Path(), argument, resultCode);
      }
    }
    return resultCode;
  } catch (const std::bad_alloc&) {
    log.OutOfMemory();
    return kResultJobFailed;
  }
}

}  // namespace

int Run(int commandLineCount, const char* const* commandLine, const std::string& rawCommandLine) {
  // Created first and destroyed last, on every path.
  BiosAccess access;
  log::ResultLog log;

  platform::Host& host = platform::Os();
  if (!host.InitializeFramework(rawCommandLine)) {
    log.FrameworkFailed();
    return TranslateResultCode(log, kResultFrameworkFailed);
  }

  ManagementLibrary library;

  // The early ends write only their own text and the translation record.
  RunArguments arguments(commandLineCount, commandLine);
  if (!arguments.ReadPasswordInput(log) || RefuseUnconvertiblePassword(log, arguments))
    return TranslateResultCode(log, kResultCommandLine);
  const int argc = arguments.argc();
  const char* const* argv = arguments.argv();
  if (HelpRequested(commandLineCount, argc, argv)) {
    WriteHelpText();
    return TranslateResultCode(log, kResultHelpShown);
  }
  if (XmlFormatRequested(argc, argv)) {
    log.XmlFormatRefused();
    return TranslateResultCode(log, kResultCommandLine);
  }
  int restartCode = -1;
  if (!ReadRestartCode(log, argc, argv, restartCode))
    return TranslateResultCode(log, kResultCommandLine);

  log.OpeningElement();
  // Signing reads no BIOS: no backend, no library, no firmware call.
  if (SignConfigRequested(argc, argv)) {
    const int exitCode = TranslateResultCode(log, log.FinalResult(RunSignConfig(log, arguments)));
    log.ClosingElement();
    host.FlushOut();
    return exitCode;
  }
  bool settingsShown = false;
  // The certificate's life is a run of its own: no password step, no settings.
  bool certificateAwaits = false;
  const bool certificateRun = CertificateActionRequested(argc, argv);
  const int resultCode = certificateRun ? RunCertificateAction(log, argc, argv, certificateAwaits)
                                        : RunSteps(log, access, library, argc, argv, settingsShown);
  if (access.NeedsSixteenBitCalls()) log.SixteenBitCallsNeeded();

  // One signal for the code and the notes: what the firmware says of this run's changes.
  const bool passwordAwaits = fwattr::PasswordAwaitsRestart();
  const bool settingsAwait = fwattr::RestartPending();
  int finalResult = log.FinalResult(resultCode);
  if (finalResult == kResultSuccess && restartCode >= 0 &&
      (passwordAwaits || settingsAwait || certificateAwaits))
    finalResult = restartCode;
  const int exitCode = TranslateResultCode(log, finalResult);
  log.ClosingElement();
  host.FlushOut();
  // Standard output keeps its exact records; what the firmware says of restarts goes to
  // standard error.
  host.WriteErr(fwattr::EmptyInterfaceNote());
  if (passwordAwaits)
    host.WriteErr(
        "corvane: the new BIOS password takes effect after a restart; until then the firmware "
        "takes the one it had.\n");
  if (certificateAwaits)
    host.WriteErr("corvane: the BIOS certificate change takes effect after a restart.\n");
  if (settingsAwait)
    host.WriteErr("corvane: the changed BIOS settings take effect after a restart.\n");
  else if (settingsShown && fwattr::ChangesAwaitRestart())
    host.WriteErr(
        "corvane: the BIOS holds changes that wait for a restart: some values shown may not be in "
        "effect until then.\n");
  return exitCode;
}

}  // namespace corvane::driver
