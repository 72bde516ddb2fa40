#include "platform/hex.h"

namespace corvane::platform {
namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

}  // namespace

std::string EncodeHex(std::string_view bytes, HexCase letters) {
  const char* digits = letters == HexCase::Upper ? kUpperDigits : kLowerDigits;
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    // The unsigned byte: SHIFTed scan codes have bit 7 set and must not sign-extend.
    const auto byte = static_cast<unsigned char>(c);
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0x0F]);
  }
  return text;
}

bool DecodeHex(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexNumber(std::uint64_t value, int digits) {
  std::string text;
  do {
    text.insert(text.begin(), kUpperDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0 || static_cast<int>(text.size()) < digits);
  return text;
}

}  // namespace corvane::platform
