// RSA signatures with SHA-256 and PKCS#1 v1.5 padding, as the firmware checks them, and the X.509
// certificates that carry their public keys. libcrypto on Linux, the system's CNG on Windows: the
// program stays one file with nothing bundled.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace corvane::platform {

enum class KeyResult {
  kLoaded,
  kUnreadable,       // no PEM private key in the text
  kNeedsPassphrase,  // encrypted, and no passphrase was given
  kWrongPassphrase,  // encrypted, and the passphrase does not open it
  kNotRsa,
  kWrongSize,  // RSA, but neither 2048 nor 4096 bits
  // Encrypted in a way this platform does not open (Windows opens PKCS#8 with PBES2, PBKDF2 and
  // AES-CBC, as openssl writes it, but not the older PEM encryption); the passphrase was not
  // tried. Never on Linux.
  kEncryptionUnsupported,
};

// A private key held for signing. Only RSA keys of 2048 or 4096 bits load: the firmware takes no
// other.
class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // A PEM private key (PKCS#1 or PKCS#8, plain or encrypted). The passphrase is used only for an
  // encrypted key.
  KeyResult Load(std::string_view pem, std::string_view passphrase);
  [[nodiscard]] int Bits() const;
  // The signature of the text's bytes, in standard base64 on one line; false without a key.
  bool Sign(std::string_view text, std::string& signatureBase64) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Whether the signature (standard base64) is the one of the text's bytes under the RSA public key
// of the certificate (base64 of its DER encoding, on one line).
bool VerifySignature(std::string_view certificateBase64, std::string_view text,
                     std::string_view signatureBase64);

// A certificate given as PEM, or as base64 of its DER on one line, turned into the one-line
// base64 of its DER encoding that the firmware takes; false for anything that is not an X.509
// certificate with an RSA key.
bool CertificateBase64(std::string_view text, std::string& certificateBase64);

enum class DigestKind { kMd5, kSha1, kSha256 };
// The digest of the bytes, in upper-case hexadecimal digits.
bool Thumbprint(std::string_view bytes, DigestKind kind, std::string& hex);

}  // namespace corvane::platform
