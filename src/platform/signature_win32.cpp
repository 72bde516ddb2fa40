#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base64.h"
#include "platform/hex.h"
#include "platform/signature.h"

// Keys and certificates are read with crypt32 and used with CNG (bcrypt): both are part of every
// Windows, so Corvane.exe carries no library of its own for them.
namespace corvane::platform {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// bcrypt.dll and crypt32.dll are not among the DLLs that Windows maps from its system folder
// alone: imported, they would be searched for beside the executable first, where others may plant
// one. They are loaded by their full path in the system folder at first use instead.
struct Api {
  decltype(&::BCryptOpenAlgorithmProvider) BCryptOpenAlgorithmProvider = nullptr;
  decltype(&::BCryptCloseAlgorithmProvider) BCryptCloseAlgorithmProvider = nullptr;
  decltype(&::BCryptGetProperty) BCryptGetProperty = nullptr;
  decltype(&::BCryptSetProperty) BCryptSetProperty = nullptr;
  decltype(&::BCryptCreateHash) BCryptCreateHash = nullptr;
  decltype(&::BCryptHashData) BCryptHashData = nullptr;
  decltype(&::BCryptFinishHash) BCryptFinishHash = nullptr;
  decltype(&::BCryptDestroyHash) BCryptDestroyHash = nullptr;
  decltype(&::BCryptImportKeyPair) BCryptImportKeyPair = nullptr;
  decltype(&::BCryptDestroyKey) BCryptDestroyKey = nullptr;
  decltype(&::BCryptSignHash) BCryptSignHash = nullptr;
  decltype(&::BCryptVerifySignature) BCryptVerifySignature = nullptr;
  decltype(&::BCryptDeriveKeyPBKDF2) BCryptDeriveKeyPBKDF2 = nullptr;
  decltype(&::BCryptGenerateSymmetricKey) BCryptGenerateSymmetricKey = nullptr;
  decltype(&::BCryptDecrypt) BCryptDecrypt = nullptr;
  decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx = nullptr;
  decltype(&::CryptStringToBinaryA) CryptStringToBinaryA = nullptr;
  decltype(&::CertCreateCertificateContext) CertCreateCertificateContext = nullptr;
  decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
  decltype(&::CryptImportPublicKeyInfoEx2) CryptImportPublicKeyInfoEx2 = nullptr;
  bool loaded = false;
};

HMODULE LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryA((std::string(folder, length) + "\\" + name).c_str());
}

template <typename Function>
void Find(HMODULE library, const char* name, Function& function, bool& complete) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  complete = complete && function != nullptr;
}

// Every entry point checks Cng().loaded before anything else calls through it.
const Api& Cng() {
  static const Api kApi = [] {
    Api api;
    const HMODULE bcrypt = LoadSystemLibrary("bcrypt.dll");
    const HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
    if (bcrypt == nullptr || crypt32 == nullptr) return api;
    bool complete = true;
    Find(bcrypt, "BCryptOpenAlgorithmProvider", api.BCryptOpenAlgorithmProvider, complete);
    Find(bcrypt, "BCryptCloseAlgorithmProvider", api.BCryptCloseAlgorithmProvider, complete);
    Find(bcrypt, "BCryptGetProperty", api.BCryptGetProperty, complete);
    Find(bcrypt, "BCryptSetProperty", api.BCryptSetProperty, complete);
    Find(bcrypt, "BCryptCreateHash", api.BCryptCreateHash, complete);
    Find(bcrypt, "BCryptHashData", api.BCryptHashData, complete);
    Find(bcrypt, "BCryptFinishHash", api.BCryptFinishHash, complete);
    Find(bcrypt, "BCryptDestroyHash", api.BCryptDestroyHash, complete);
    Find(bcrypt, "BCryptImportKeyPair", api.BCryptImportKeyPair, complete);
    Find(bcrypt, "BCryptDestroyKey", api.BCryptDestroyKey, complete);
    Find(bcrypt, "BCryptSignHash", api.BCryptSignHash, complete);
    Find(bcrypt, "BCryptVerifySignature", api.BCryptVerifySignature, complete);
    Find(bcrypt, "BCryptDeriveKeyPBKDF2", api.BCryptDeriveKeyPBKDF2, complete);
    Find(bcrypt, "BCryptGenerateSymmetricKey", api.BCryptGenerateSymmetricKey, complete);
    Find(bcrypt, "BCryptDecrypt", api.BCryptDecrypt, complete);
    Find(crypt32, "CryptDecodeObjectEx", api.CryptDecodeObjectEx, complete);
    Find(crypt32, "CryptStringToBinaryA", api.CryptStringToBinaryA, complete);
    Find(crypt32, "CertCreateCertificateContext", api.CertCreateCertificateContext, complete);
    Find(crypt32, "CertFreeCertificateContext", api.CertFreeCertificateContext, complete);
    Find(crypt32, "CryptImportPublicKeyInfoEx2", api.CryptImportPublicKeyInfoEx2, complete);
    api.loaded = complete;
    return api;
  }();
  return kApi;
}

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

// A handle exists only once the libraries are loaded; the deleters check all the same.
struct ProviderCloser {
  void operator()(BCRYPT_ALG_HANDLE provider) const {
    if (Cng().loaded) Cng().BCryptCloseAlgorithmProvider(provider, 0);
  }
};
struct KeyDestroyer {
  void operator()(BCRYPT_KEY_HANDLE key) const {
    if (Cng().loaded) Cng().BCryptDestroyKey(key);
  }
};
struct HashDestroyer {
  void operator()(BCRYPT_HASH_HANDLE hash) const {
    if (Cng().loaded) Cng().BCryptDestroyHash(hash);
  }
};
struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
struct CertificateFreer {
  void operator()(PCCERT_CONTEXT certificate) const {
    if (Cng().loaded) Cng().CertFreeCertificateContext(certificate);
  }
};
using Provider = std::unique_ptr<void, ProviderCloser>;
using Key = std::unique_ptr<void, KeyDestroyer>;
using Hash = std::unique_ptr<void, HashDestroyer>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
// What CryptDecodeObjectEx allocated.
template <typename T>
using Decoded = std::unique_ptr<T, LocalFreer>;

const BYTE* Bytes(std::string_view text) {
  return reinterpret_cast<const BYTE*>(text.data());
}
std::string_view View(const CRYPT_DATA_BLOB& blob) {
  return {reinterpret_cast<const char*>(blob.pbData), blob.cbData};
}

Provider Open(LPCWSTR algorithm, ULONG flags = 0) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!Succeeded(Cng().BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, flags)))
    return nullptr;
  return Provider(provider);
}

template <typename T>
Decoded<T> Decode(LPCSTR type, std::string_view der, DWORD* size = nullptr) {
  void* value = nullptr;
  DWORD decodedSize = 0;
  if (!Cng().CryptDecodeObjectEx(kEncoding, type, Bytes(der), static_cast<DWORD>(der.size()),
                                 CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &decodedSize)) {
    return nullptr;
  }
  if (size != nullptr) *size = decodedSize;
  return Decoded<T>(static_cast<T*>(value));
}

using Sequence = Decoded<CRYPT_SEQUENCE_OF_ANY>;
// The elements of a DER sequence, when there are at least the number given.
Sequence Elements(std::string_view der, DWORD atLeast) {
  auto sequence = Decode<CRYPT_SEQUENCE_OF_ANY>(X509_SEQUENCE_OF_ANY, der);
  return sequence != nullptr && sequence->cValue >= atLeast ? std::move(sequence) : nullptr;
}
Sequence Elements(const CRYPT_DER_BLOB& der, DWORD atLeast) {
  return Elements(View(der), atLeast);
}

bool IsObject(const CRYPT_DER_BLOB& der, const char* identifier) {
  const auto decoded = Decode<LPSTR>(X509_OBJECT_IDENTIFIER, View(der));
  return decoded != nullptr && std::strcmp(*decoded, identifier) == 0;
}

Decoded<CRYPT_DATA_BLOB> OctetString(const CRYPT_DER_BLOB& der) {
  return Decode<CRYPT_DATA_BLOB>(X509_OCTET_STRING, View(der));
}

void Wipe(void* bytes, std::size_t size) {
  SecureZeroMemory(bytes, size);
}

// The size of the DER element that starts the bytes, header included; 0 if it is cut short.
std::size_t ElementSize(std::string_view der) {
  if (der.size() < 2) return 0;
  std::size_t length = static_cast<unsigned char>(der[1]);
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t digits = length & 0x7F;
    if (digits == 0 || digits > 4 || der.size() < 2 + digits) return 0;
    length = 0;
    for (std::size_t i = 0; i < digits; ++i) {
      length = length << 8 | static_cast<unsigned char>(der[2 + i]);
    }
    header += digits;
  }
  return der.size() - header < length ? 0 : header + length;
}

bool Digest(LPCWSTR algorithm, std::string_view bytes, std::string& digest) {
  digest.clear();
  if (!Cng().loaded) return false;
  const Provider provider = Open(algorithm);
  DWORD size = 0;
  ULONG written = 0;
  BCRYPT_HASH_HANDLE handle = nullptr;
  if (provider == nullptr ||
      !Succeeded(Cng().BCryptGetProperty(provider.get(), BCRYPT_HASH_LENGTH,
                                         reinterpret_cast<PUCHAR>(&size), sizeof size, &written,
                                         0)) ||
      !Succeeded(Cng().BCryptCreateHash(provider.get(), &handle, nullptr, 0, nullptr, 0, 0))) {
    return false;
  }
  const Hash hash(handle);
  digest.resize(size);
  if (!Succeeded(Cng().BCryptHashData(hash.get(), const_cast<PUCHAR>(Bytes(bytes)),
                                      static_cast<ULONG>(bytes.size()), 0)) ||
      !Succeeded(
          Cng().BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()), size, 0))) {
    digest.clear();
    return false;
  }
  return true;
}

// The first PEM block whose label is accepted: its label, and the block from "-----BEGIN" to the
// end of its "-----END" line. Other blocks before it are passed over.
bool FindPem(std::string_view text, bool (*accepts)(std::string_view), std::string_view& label,
             std::string_view& block) {
  constexpr std::string_view kBegin = "-----BEGIN ";
  constexpr std::string_view kDashes = "-----";
  for (std::size_t at = text.find(kBegin); at != std::string_view::npos;
       at = text.find(kBegin, at + 1)) {
    const std::size_t start = at + kBegin.size();
    const std::size_t stop = text.find(kDashes, start);
    if (stop == std::string_view::npos) return false;
    label = text.substr(start, stop - start);
    if (!accepts(label)) continue;
    const std::string footer = "-----END " + std::string(label) + "-----";
    const std::size_t end = text.find(footer, stop);
    if (end == std::string_view::npos) return false;
    block = text.substr(at, end + footer.size() - at);
    return true;
  }
  return false;
}

bool IsKeyLabel(std::string_view label) {
  return label.ends_with("PRIVATE KEY");
}
bool IsCertificateLabel(std::string_view label) {
  return label == "CERTIFICATE";
}

bool PemBytes(std::string_view block, std::string& der) {
  DWORD size = 0;
  if (!Cng().CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return false;
  }
  der.resize(size);
  if (!Cng().CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()),
                                  &size, nullptr, nullptr)) {
    return false;
  }
  der.resize(size);
  return true;
}

// The PKCS#1 RSA key inside a PKCS#8 PrivateKeyInfo. Read element by element: not every crypt32
// decodes PrivateKeyInfo as a whole (Wine's does not).
KeyResult RsaKeyOfPkcs8(std::string_view der, std::string& rsa) {
  const Sequence info = Elements(der, 3);
  const Sequence algorithm = info == nullptr ? nullptr : Elements(info->rgValue[1], 1);
  if (algorithm == nullptr) return KeyResult::kUnreadable;
  if (!IsObject(algorithm->rgValue[0], szOID_RSA_RSA)) return KeyResult::kNotRsa;
  const auto key = OctetString(info->rgValue[2]);
  if (key == nullptr) return KeyResult::kUnreadable;
  rsa = View(*key);
  return KeyResult::kLoaded;
}

// The PrivateKeyInfo inside a PKCS#8 EncryptedPrivateKeyInfo. Opened: PBES2 with PBKDF2 (HMAC
// with SHA-1 or SHA-256) and AES in CBC mode, what openssl writes; other schemes are refused.
KeyResult DecryptPkcs8(std::string_view der, std::string_view passphrase, std::string& plain) {
  // SEQUENCE { SEQUENCE { pbes2, SEQUENCE { SEQUENCE { pbkdf2, SEQUENCE { salt, iterations,
  // [key length], [SEQUENCE { prf }] } }, SEQUENCE { cipher, iv } } }, encrypted data }
  const Sequence info = Elements(der, 2);
  const Sequence scheme = info == nullptr ? nullptr : Elements(info->rgValue[0], 2);
  if (scheme == nullptr) return KeyResult::kUnreadable;
  if (!IsObject(scheme->rgValue[0], szOID_PKCS_5_PBES2)) return KeyResult::kEncryptionUnsupported;
  const Sequence parts = Elements(scheme->rgValue[1], 2);
  const Sequence derivation = parts == nullptr ? nullptr : Elements(parts->rgValue[0], 2);
  const Sequence cipher = parts == nullptr ? nullptr : Elements(parts->rgValue[1], 2);
  if (derivation == nullptr || cipher == nullptr) return KeyResult::kUnreadable;
  if (!IsObject(derivation->rgValue[0], szOID_PKCS_5_PBKDF2)) {
    return KeyResult::kEncryptionUnsupported;
  }
  const Sequence settings = Elements(derivation->rgValue[1], 2);
  if (settings == nullptr) return KeyResult::kUnreadable;
  const auto salt = OctetString(settings->rgValue[0]);
  const auto iterations = Decode<int>(X509_INTEGER, View(settings->rgValue[1]));
  LPCWSTR hash = BCRYPT_SHA1_ALGORITHM;
  // The optional key length is the cipher's; the optional function is a sequence.
  for (DWORD i = 2; i < settings->cValue; ++i) {
    if (settings->rgValue[i].cbData == 0 || settings->rgValue[i].pbData[0] != 0x30) continue;
    const Sequence function = Elements(settings->rgValue[i], 1);
    if (function != nullptr && IsObject(function->rgValue[0], PKCS12_PBKDF2_ID_HMAC_SHA256)) {
      hash = BCRYPT_SHA256_ALGORITHM;
    } else if (function == nullptr || !IsObject(function->rgValue[0], PKCS12_PBKDF2_ID_HMAC_SHA1)) {
      return KeyResult::kEncryptionUnsupported;
    }
  }
  const ULONG keySize = IsObject(cipher->rgValue[0], szOID_NIST_AES128_CBC)   ? 16
                        : IsObject(cipher->rgValue[0], szOID_NIST_AES192_CBC) ? 24
                        : IsObject(cipher->rgValue[0], szOID_NIST_AES256_CBC) ? 32
                                                                              : 0;
  if (keySize == 0) return KeyResult::kEncryptionUnsupported;
  const auto vector = OctetString(cipher->rgValue[1]);
  const auto data = OctetString(info->rgValue[1]);
  if (salt == nullptr || iterations == nullptr || *iterations <= 0 || vector == nullptr ||
      vector->cbData != 16 || data == nullptr || data->cbData == 0 || data->cbData % 16 != 0) {
    return KeyResult::kUnreadable;
  }
  if (passphrase.empty()) return KeyResult::kNeedsPassphrase;

  const Provider hmac = Open(hash, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  const Provider aes = Open(BCRYPT_AES_ALGORITHM);
  BYTE secret[32];
  BCRYPT_KEY_HANDLE handle = nullptr;
  const bool derived =
      hmac != nullptr && aes != nullptr &&
      Succeeded(Cng().BCryptSetProperty(
          aes.get(), BCRYPT_CHAINING_MODE,
          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
          sizeof BCRYPT_CHAIN_MODE_CBC, 0)) &&
      Succeeded(Cng().BCryptDeriveKeyPBKDF2(
          hmac.get(), const_cast<PUCHAR>(Bytes(passphrase)), static_cast<ULONG>(passphrase.size()),
          salt->pbData, salt->cbData, static_cast<ULONGLONG>(*iterations), secret, keySize, 0)) &&
      Succeeded(
          Cng().BCryptGenerateSymmetricKey(aes.get(), &handle, nullptr, 0, secret, keySize, 0));
  Wipe(secret, sizeof secret);
  if (!derived) return KeyResult::kUnreadable;
  const Key key(handle);
  // BCryptDecrypt moves the vector along: it gets a copy.
  BYTE chain[16];
  std::memcpy(chain, vector->pbData, sizeof chain);
  plain.resize(data->cbData);
  ULONG size = 0;
  // A wrong passphrase shows as bad padding, or as bytes that are no PrivateKeyInfo.
  if (!Succeeded(Cng().BCryptDecrypt(key.get(), data->pbData, data->cbData, nullptr, chain,
                                     sizeof chain, reinterpret_cast<PUCHAR>(plain.data()),
                                     data->cbData, &size, BCRYPT_BLOCK_PADDING))) {
    Wipe(plain.data(), plain.size());
    plain.clear();
    return KeyResult::kWrongPassphrase;
  }
  plain.resize(size);
  return KeyResult::kLoaded;
}

// CNG's full private key blob (big-endian numbers) from crypt32's decoding of a PKCS#1 key, the
// older CryptoAPI blob (little-endian numbers): not every CNG imports that one (Wine's does not).
bool FullPrivateBlob(std::string_view legacy, std::vector<BYTE>& blob, int& bits) {
  if (legacy.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return false;
  RSAPUBKEY rsa;
  std::memcpy(&rsa, legacy.data() + sizeof(BLOBHEADER), sizeof rsa);
  const std::size_t modulus = rsa.bitlen / 8;
  const std::size_t half = rsa.bitlen / 16;
  // Modulus, two primes, two exponents, coefficient, private exponent.
  std::string_view rest = legacy.substr(sizeof(BLOBHEADER) + sizeof rsa);
  if (rsa.bitlen == 0 || rsa.bitlen % 16 != 0 || rest.size() < 2 * modulus + 5 * half) {
    return false;
  }
  BYTE exponent[4];
  ULONG exponentSize = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const BYTE digit = static_cast<BYTE>(rsa.pubexp >> shift);
    if (digit != 0 || exponentSize != 0) exponent[exponentSize++] = digit;
  }
  BCRYPT_RSAKEY_BLOB header{};
  header.Magic = BCRYPT_RSAFULLPRIVATE_MAGIC;
  header.BitLength = rsa.bitlen;
  header.cbPublicExp = exponentSize;
  header.cbModulus = static_cast<ULONG>(modulus);
  header.cbPrime1 = header.cbPrime2 = static_cast<ULONG>(half);
  blob.assign(reinterpret_cast<const BYTE*>(&header),
              reinterpret_cast<const BYTE*>(&header) + sizeof header);
  blob.insert(blob.end(), exponent, exponent + exponentSize);
  // Both blobs order the numbers alike; only their byte order differs.
  for (const std::size_t size : {modulus, half, half, half, half, half, modulus}) {
    blob.insert(blob.end(), rest.rbegin() + static_cast<std::ptrdiff_t>(rest.size() - size),
                rest.rend());
    rest.remove_prefix(size);
  }
  bits = static_cast<int>(rsa.bitlen);
  return true;
}

// The PKCS#1 RSA key of the first PEM private key in the text.
KeyResult RsaKeyOfPem(std::string_view pem, std::string_view passphrase, std::string& rsa) {
  std::string_view label;
  std::string_view block;
  if (!FindPem(pem, IsKeyLabel, label, block)) return KeyResult::kUnreadable;
  // The older PEM encryption (a DEK-Info line, its key derived with MD5) is not opened.
  if (block.find("Proc-Type: 4,ENCRYPTED") != std::string_view::npos) {
    return KeyResult::kEncryptionUnsupported;
  }
  if (label == "EC PRIVATE KEY" || label == "DSA PRIVATE KEY") return KeyResult::kNotRsa;
  std::string der;
  if (!PemBytes(block, der)) return KeyResult::kUnreadable;
  if (label == "RSA PRIVATE KEY") {
    rsa = std::move(der);
    return KeyResult::kLoaded;
  }
  if (label == "PRIVATE KEY") return RsaKeyOfPkcs8(der, rsa);
  if (label != "ENCRYPTED PRIVATE KEY") return KeyResult::kUnreadable;
  std::string plain;
  const KeyResult opened = DecryptPkcs8(der, passphrase, plain);
  if (opened != KeyResult::kLoaded) return opened;
  const KeyResult inner = RsaKeyOfPkcs8(plain, rsa);
  Wipe(plain.data(), plain.size());
  return inner == KeyResult::kUnreadable ? KeyResult::kWrongPassphrase : inner;
}

Certificate CertificateOfDer(std::string_view der) {
  if (ElementSize(der) != der.size()) return nullptr;
  Certificate certificate(
      Cng().CertCreateCertificateContext(kEncoding, Bytes(der), static_cast<DWORD>(der.size())));
  if (certificate == nullptr ||
      std::strcmp(certificate->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA) !=
          0) {
    return nullptr;
  }
  return certificate;
}

Certificate CertificateOf(std::string_view certificateBase64) {
  std::string der;
  return DecodeBase64(certificateBase64, der) ? CertificateOfDer(der) : nullptr;
}

BCRYPT_PKCS1_PADDING_INFO Sha256Padding() {
  return {BCRYPT_SHA256_ALGORITHM};
}

}  // namespace

struct SigningKey::Impl {
  // Declared before the key, which must go first.
  Provider provider;
  Key key;
  int bits = 0;
};

SigningKey::SigningKey() : impl_(std::make_unique<Impl>()) {}
SigningKey::~SigningKey() = default;

KeyResult SigningKey::Load(std::string_view pem, std::string_view passphrase) {
  impl_->key.reset();
  impl_->bits = 0;
  if (!Cng().loaded) return KeyResult::kUnreadable;
  std::string rsa;
  const KeyResult read = RsaKeyOfPem(pem, passphrase, rsa);
  if (read != KeyResult::kLoaded) return read;
  DWORD size = 0;
  const auto legacy = Decode<BYTE>(PKCS_RSA_PRIVATE_KEY, rsa, &size);
  Wipe(rsa.data(), rsa.size());
  if (legacy == nullptr) return KeyResult::kUnreadable;
  std::vector<BYTE> blob;
  int bits = 0;
  const bool converted =
      FullPrivateBlob({reinterpret_cast<const char*>(legacy.get()), size}, blob, bits);
  Wipe(legacy.get(), size);
  if (!converted) return KeyResult::kUnreadable;
  if (bits != 2048 && bits != 4096) return KeyResult::kWrongSize;
  Provider provider = Open(BCRYPT_RSA_ALGORITHM);
  BCRYPT_KEY_HANDLE key = nullptr;
  const bool imported =
      provider != nullptr &&
      Succeeded(Cng().BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, &key,
                                          blob.data(), static_cast<ULONG>(blob.size()), 0));
  Wipe(blob.data(), blob.size());
  if (!imported) return KeyResult::kUnreadable;
  impl_->provider = std::move(provider);
  impl_->key.reset(key);
  impl_->bits = bits;
  return KeyResult::kLoaded;
}

int SigningKey::Bits() const {
  return impl_->key == nullptr ? 0 : impl_->bits;
}

bool SigningKey::Sign(std::string_view text, std::string& signatureBase64) const {
  signatureBase64.clear();
  std::string digest;
  if (impl_->key == nullptr || !Digest(BCRYPT_SHA256_ALGORITHM, text, digest)) return false;
  BCRYPT_PKCS1_PADDING_INFO padding = Sha256Padding();
  auto* hash = reinterpret_cast<PUCHAR>(digest.data());
  const auto hashSize = static_cast<ULONG>(digest.size());
  ULONG size = 0;
  if (!Succeeded(Cng().BCryptSignHash(impl_->key.get(), &padding, hash, hashSize, nullptr, 0, &size,
                                      BCRYPT_PAD_PKCS1))) {
    return false;
  }
  std::string signature(size, '\0');
  if (!Succeeded(Cng().BCryptSignHash(impl_->key.get(), &padding, hash, hashSize,
                                      reinterpret_cast<PUCHAR>(signature.data()), size, &size,
                                      BCRYPT_PAD_PKCS1))) {
    return false;
  }
  signature.resize(size);
  signatureBase64 = EncodeBase64(signature);
  return true;
}

bool VerifySignature(std::string_view certificateBase64, std::string_view text,
                     std::string_view signatureBase64) {
  std::string signature;
  std::string digest;
  if (!Cng().loaded || !DecodeBase64(signatureBase64, signature) || signature.empty()) {
    return false;
  }
  const Certificate certificate = CertificateOf(certificateBase64);
  BCRYPT_KEY_HANDLE handle = nullptr;
  if (certificate == nullptr ||
      !Cng().CryptImportPublicKeyInfoEx2(
          X509_ASN_ENCODING, &certificate->pCertInfo->SubjectPublicKeyInfo, 0, nullptr, &handle)) {
    return false;
  }
  const Key key(handle);
  if (!Digest(BCRYPT_SHA256_ALGORITHM, text, digest)) return false;
  BCRYPT_PKCS1_PADDING_INFO padding = Sha256Padding();
  return Succeeded(Cng().BCryptVerifySignature(
      key.get(), &padding, reinterpret_cast<PUCHAR>(digest.data()),
      static_cast<ULONG>(digest.size()), reinterpret_cast<PUCHAR>(signature.data()),
      static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1));
}

bool CertificateBase64(std::string_view text, std::string& certificateBase64) {
  certificateBase64.clear();
  if (!Cng().loaded) return false;
  std::string der;
  std::string_view label;
  std::string_view block;
  if (text.find("-----BEGIN") != std::string_view::npos) {
    if (!FindPem(text, IsCertificateLabel, label, block) || !PemBytes(block, der)) return false;
  } else {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (!DecodeBase64(text, der)) return false;
  }
  if (CertificateOfDer(der) == nullptr) return false;
  certificateBase64 = EncodeBase64(der);
  return true;
}

bool Thumbprint(std::string_view bytes, DigestKind kind, std::string& hex) {
  hex.clear();
  const LPCWSTR algorithm = kind == DigestKind::kMd5    ? BCRYPT_MD5_ALGORITHM
                            : kind == DigestKind::kSha1 ? BCRYPT_SHA1_ALGORITHM
                                                        : BCRYPT_SHA256_ALGORITHM;
  std::string digest;
  if (!Digest(algorithm, bytes, digest)) return false;
  hex = EncodeHex(digest);
  return true;
}

}  // namespace corvane::platform
