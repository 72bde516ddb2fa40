#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "platform/base64.h"
#include "platform/hex.h"
#include "platform/signature.h"

namespace corvane::platform {

// Outside the unnamed namespace: SigningKey::Impl holds a key through it.
struct EvpKeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

namespace {

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using Bio = std::unique_ptr<BIO, BioDeleter>;
using Key = std::unique_ptr<EVP_PKEY, EvpKeyDeleter>;
using Context = std::unique_ptr<EVP_MD_CTX, ContextDeleter>;
using Certificate = std::unique_ptr<X509, CertificateDeleter>;

Bio MemoryOf(std::string_view text) {
  return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// The passphrase callback: tells an encrypted key apart from an unreadable one.
struct Passphrase {
  std::string_view text;
  bool asked = false;
};

int GivePassphrase(char* buffer, int size, int /*writing*/, void* data) {
  auto* passphrase = static_cast<Passphrase*>(data);
  passphrase->asked = true;
  if (passphrase->text.empty() || passphrase->text.size() > static_cast<std::size_t>(size)) {
    return -1;
  }
  std::memcpy(buffer, passphrase->text.data(), passphrase->text.size());
  return static_cast<int>(passphrase->text.size());
}

Certificate CertificateOf(std::string_view certificateBase64) {
  std::string der;
  if (!DecodeBase64(certificateBase64, der)) return nullptr;
  const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
  Certificate certificate(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
  if (certificate == nullptr ||
      bytes != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
    return nullptr;
  }
  return certificate;
}

bool IsRsa(const EVP_PKEY* key) {
  return key != nullptr && EVP_PKEY_base_id(key) == EVP_PKEY_RSA;
}

}  // namespace

struct SigningKey::Impl {
  Key key;
};

SigningKey::SigningKey() : impl_(std::make_unique<Impl>()) {}
SigningKey::~SigningKey() = default;

KeyResult SigningKey::Load(std::string_view pem, std::string_view passphrase) {
  impl_->key.reset();
  Bio bio = MemoryOf(pem);
  Passphrase given{passphrase};
  Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, GivePassphrase, &given));
  if (key == nullptr) {
    if (!given.asked) return KeyResult::kUnreadable;
    return passphrase.empty() ? KeyResult::kNeedsPassphrase : KeyResult::kWrongPassphrase;
  }
  if (!IsRsa(key.get())) return KeyResult::kNotRsa;
  const int bits = EVP_PKEY_get_bits(key.get());
  if (bits != 2048 && bits != 4096) return KeyResult::kWrongSize;
  impl_->key = std::move(key);
  return KeyResult::kLoaded;
}

int SigningKey::Bits() const {
  return impl_->key == nullptr ? 0 : EVP_PKEY_get_bits(impl_->key.get());
}

bool SigningKey::Sign(std::string_view text, std::string& signatureBase64) const {
  signatureBase64.clear();
  if (impl_->key == nullptr) return false;
  Context context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* settings = nullptr;
  std::size_t size = 0;
  if (context == nullptr ||
      EVP_DigestSignInit(context.get(), &settings, EVP_sha256(), nullptr, impl_->key.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(settings, RSA_PKCS1_PADDING) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &size,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return false;
  }
  std::string signature(size, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1) {
    return false;
  }
  signature.resize(size);
  signatureBase64 = EncodeBase64(signature);
  return true;
}

bool VerifySignature(std::string_view certificateBase64, std::string_view text,
                     std::string_view signatureBase64) {
  std::string signature;
  if (!DecodeBase64(signatureBase64, signature)) return false;
  const Certificate certificate = CertificateOf(certificateBase64);
  if (certificate == nullptr) return false;
  const Key key(X509_get_pubkey(certificate.get()));
  if (!IsRsa(key.get())) return false;
  Context context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* settings = nullptr;
  return context != nullptr &&
         EVP_DigestVerifyInit(context.get(), &settings, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(settings, RSA_PKCS1_PADDING) == 1 &&
         EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(text.data()),
                          text.size()) == 1;
}

bool CertificateBase64(std::string_view text, std::string& certificateBase64) {
  certificateBase64.clear();
  Certificate certificate;
  if (text.find("-----BEGIN") != std::string_view::npos) {
    Bio bio = MemoryOf(text);
    certificate.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  } else {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    certificate = CertificateOf(text);
  }
  if (certificate == nullptr) return false;
  const Key key(X509_get_pubkey(certificate.get()));
  if (!IsRsa(key.get())) return false;
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate.get(), &der);
  if (size <= 0) return false;
  certificateBase64 =
      EncodeBase64(std::string_view(reinterpret_cast<char*>(der), static_cast<std::size_t>(size)));
  OPENSSL_free(der);
  return true;
}

bool Thumbprint(std::string_view bytes, DigestKind kind, std::string& hex) {
  hex.clear();
  const EVP_MD* digest = kind == DigestKind::kMd5    ? EVP_md5()
                         : kind == DigestKind::kSha1 ? EVP_sha1()
                                                     : EVP_sha256();
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), value, &size, digest, nullptr) != 1) return false;
  hex = EncodeHex(std::string_view(reinterpret_cast<const char*>(value), size));
  return true;
}

}  // namespace corvane::platform
