#include "driver/sign_config.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "config/repset_file.h"
#include "config/signed_changes.h"
#include "platform/host.h"
#include "platform/signature.h"
#include "platform/text.h"

namespace corvane::driver {
namespace {

constexpr std::string_view kSignConfig = "/SIGNCONFIG:";  // value from the 13th character
constexpr std::string_view kSigningKey = "/SIGNINGKEY:";
constexpr std::string_view kOtherActions[] = {"/GETCONFIG", "/SETCONFIG", "/CHECKCONFIG"};

// The passphrase of an encrypted key; a /KeyPassphrase: on the command line is refused.
bool Passphrase(log::ResultLog& log, const RunArguments& arguments, std::string& passphrase) {
  for (int i = 1; i < arguments.argc(); ++i) {
    const std::string_view argument = arguments.argv()[i];
    if (!IsKeyPassphraseOption(argument)) continue;
    if (!arguments.FromInput(i)) {
      log.KeyPassphraseOnCommandLine();
      return false;
    }
    passphrase = std::string(argument.substr(kKeyPassphraseOption.size()));
  }
  return true;
}

int LoadKey(log::ResultLog& log, const RunArguments& arguments, platform::SigningKey& key) {
  const std::string path = LastValue(arguments.argc(), arguments.argv(), kSigningKey);
  if (path.empty()) {
    log.SigningKeyMissing();
    return kResultCommandLine;
  }
  std::string passphrase;
  if (!Passphrase(log, arguments, passphrase)) return kResultCommandLine;
  std::string pem;
  if (!platform::Os().ReadFile(path, pem)) {
    log.SigningKeyUnread(path);
    return kResultFileUnreadable;
  }
  const platform::KeyResult loaded = key.Load(pem, passphrase);
  std::fill(pem.begin(), pem.end(), '\0');
  std::fill(passphrase.begin(), passphrase.end(), '\0');
  switch (loaded) {
    case platform::KeyResult::kLoaded:
      return kResultSuccess;
    case platform::KeyResult::kNeedsPassphrase:
      log.SigningKeyRefused(path,
                            "it is encrypted: give its passphrase on standard input (/pwdstdin, "
                            "a line /KeyPassphrase:<passphrase>)");
      return kResultPassword;
    case platform::KeyResult::kWrongPassphrase:
      log.SigningKeyRefused(path, "the passphrase does not open it");
      return kResultPassword;
    case platform::KeyResult::kNotRsa:
      log.SigningKeyRefused(path,
                            "it is not an RSA key; the BIOS takes RSA keys of 2048 or 4096 bits");
      return kResultSigningKey;
    case platform::KeyResult::kWrongSize:
      log.SigningKeyRefused(path, "the BIOS takes RSA keys of 2048 or 4096 bits only");
      return kResultSigningKey;
    case platform::KeyResult::kEncryptionUnsupported:
      log.SigningKeyRefused(path,
                            "its encryption cannot be opened here; write it as PKCS#8 with "
                            "'openssl pkcs8 -topk8 -v2 aes-256-cbc'");
      return kResultSigningKey;
    case platform::KeyResult::kUnreadable:
      break;
  }
  log.SigningKeyRefused(path, "it holds no PEM private key");
  return kResultSigningKey;
}

bool AppendLine(const platform::SigningKey& key, const std::string& text, std::string& out) {
  std::string signature;
  if (!key.Sign(text, signature)) return false;
  out += text;
  out += '\t';
  out += signature;
  out += '\n';
  return true;
}

}  // namespace

bool Begins(std::string_view argument, std::string_view option) {
  return platform::StartsWithNoCase(argument, option, option.size());
}

std::string LastValue(int argc, const char* const* argv, std::string_view option) {
  std::string value;
  for (int i = 1; i < argc; ++i)
    if (Begins(argv[i], option)) value = std::string(argv[i]).substr(option.size());
  return value;
}

bool SignConfigRequested(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (Begins(argv[i], kSignConfig.substr(0, kSignConfig.size() - 1))) return true;
  return false;
}

int RunSignConfig(log::ResultLog& log, const RunArguments& arguments) {
  const int argc = arguments.argc();
  const char* const* argv = arguments.argv();
  // Signing is done on a workstation that need not be the machine: no other action joins it.
  for (int i = 1; i < argc; ++i)
    for (const std::string_view other : kOtherActions)
      if (Begins(argv[i], other)) {
        log.SignConfigAlone();
        return kResultCommandLine;
      }
  const std::string fileName = LastValue(argc, argv, kSignConfig);
  if (fileName.empty()) {
    log.NoFileSpecified();
    return kResultCommandLine;
  }
  platform::SigningKey key;
  if (const int code = LoadKey(log, arguments, key)) return code;
  std::vector<std::string> lines;
  if (!config::OpenRepsetFile(fileName, log::FileKind::kRepset, lines, log))
    return log.FinalResult(kResultFileUnreadable);

  int result = kResultSuccess;
  std::string out;
  std::size_t count = 0;
  for (const config::SignedBlock& block : config::SignedBlocks(lines)) {
    if (!block.refusal.empty()) {
      log.BlockNotSigned(block.name, block.refusal);
      result = kResultSettingFailed;
      continue;
    }
    for (const std::string& text : block.texts) {
      if (!AppendLine(key, text, out)) {
        log.SignatureFileNotWritten(fileName + std::string(config::kSignatureSuffix));
        return kResultJobFailed;
      }
      ++count;
    }
  }
  const std::string sigPath = fileName + std::string(config::kSignatureSuffix);
  const bool written = AppendLine(key, std::string(config::kSignedSave), out) &&
                       platform::Os().WritePrivateFile(sigPath, out);
  std::fill(out.begin(), out.end(), '\0');
  if (!written) {
    log.SignatureFileNotWritten(sigPath);
    return kResultJobFailed;
  }
  log.SignaturesWritten(sigPath, count + 1);
  return result;
}

}  // namespace corvane::driver
