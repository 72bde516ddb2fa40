// What the simulator's table-driven tests share. Keys they sign with, made at test time
// (make_keys.py, the CTest fixture sim-keys) in the folder CORVANE_TEST_KEYS names. A case's texts
// name them as the scenarios do:
// "@cert:NAME@" is the certificate's one-line base64 DER, "@sig:NAME:TEXT@" the signature of TEXT
// (certificates put in first), and "@thumb:NAME@" the lines of think-lmi's certificate_thumbprint.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/base64.h"
#include "platform/signature.h"
#include "sim/machine/machine_file.h"

namespace corvane::testing {

inline std::string ReadKeyFile(const std::string& name) {
  const char* folder = std::getenv("CORVANE_TEST_KEYS");
  if (folder == nullptr) return {};
  std::ifstream file(std::string(folder) + "/" + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Whether the keys were made: without them the cases that sign are skipped.
inline bool TestKeysMade() {
  return !ReadKeyFile("admin.cer64").empty();
}

inline std::string Thumbprints(const std::string& name) {
  std::string der, text, hex;
  platform::DecodeBase64(ReadKeyFile(name + ".cer64"), der);
  const std::pair<const char*, platform::DigestKind> kinds[] = {
      {"Md5", platform::DigestKind::kMd5},
      {"Sha1", platform::DigestKind::kSha1},
      {"Sha256", platform::DigestKind::kSha256}};
  for (const auto& [kind, digest] : kinds)
    if (platform::Thumbprint(der, digest, hex)) text.append(kind).append(" : ").append(hex) += '\n';
  return text;
}

// The marks of one pass put in: signatures, or the others.
inline std::string PutMarks(std::string text, bool signatures) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    const std::size_t end = text.find('@', at + 1);
    if (end == std::string::npos) break;
    const std::string mark = text.substr(at + 1, end - at - 1);
    std::string value;
    if (!signatures && mark.rfind("cert:", 0) == 0) {
      value = ReadKeyFile(mark.substr(5) + ".cer64");
    } else if (!signatures && mark.rfind("thumb:", 0) == 0) {
      value = Thumbprints(mark.substr(6));
    } else if (signatures && mark.rfind("sig:", 0) == 0) {
      const std::size_t colon = mark.find(':', 4);
      platform::SigningKey key;
      if (key.Load(ReadKeyFile(mark.substr(4, colon - 4) + ".pem"), "") ==
          platform::KeyResult::kLoaded)
        key.Sign(mark.substr(colon + 1), value);
    } else {
      at = end;
      continue;
    }
    text.replace(at, end - at + 1, value);
    at += value.size();
  }
  return text;
}

// The text with every mark put in: certificates first, so that a signed text may hold one.
inline std::string WithKeys(const std::string& text) {
  return PutMarks(PutMarks(text, false), true);
}

// The machine file's text after a case against its expectations: JSON pointer -> value (null:
// absent), marks put in.
inline void ExpectMachineAfter(const std::string& file, const char* expected, const char* what) {
  const sim::Json saved = sim::Json::parse(file);
  const sim::Json after = sim::Json::parse(WithKeys(expected));
  for (const auto& [pointer, wanted] : after.items()) {
    const sim::Json::json_pointer at(pointer);
    if (wanted.is_null())
      EXPECT_FALSE(saved.contains(at)) << what << ": " << pointer;
    else
      EXPECT_EQ(saved.contains(at) ? saved[at] : sim::Json(), wanted) << what << ": " << pointer;
  }
}

}  // namespace corvane::testing
