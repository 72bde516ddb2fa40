#include "sim/machine/section_values.h"

namespace corvane::sim::section {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool ReadInteger(const Json& value, std::int64_t lowest, std::int64_t highest,
                 std::int64_t& number) {
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<std::uint64_t>();
    if (highest < 0 || unsignedValue > static_cast<std::uint64_t>(highest)) return false;
    number = static_cast<std::int64_t>(unsignedValue);
    return number >= lowest;
  }
  if (!value.is_number_integer()) return false;
  number = value.get<std::int64_t>();
  return number >= lowest && number <= highest;
}

bool DecodeHex(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

std::string EncodeHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

bool ParseWord(const Json& value, std::uint64_t highest, std::uint64_t& number) {
  if (value.is_number_integer()) {
    std::int64_t signedNumber = 0;
    if (!ReadInteger(value, 0, static_cast<std::int64_t>(highest), signedNumber)) return false;
    number = static_cast<std::uint64_t>(signedNumber);
    return true;
  }
  if (!value.is_string()) return false;
  const auto& text = value.get_ref<const std::string&>();
  // At most eight digits after leading zeros keep the sum below 2^64 before the range check.
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  std::uint64_t result = 0;
  std::size_t significant = 0;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    if (result != 0 || digit != 0) ++significant;
    if (significant > 8) return false;
    result = result * 16 + static_cast<std::uint64_t>(digit);
  }
  if (result > highest) return false;
  number = result;
  return true;
}

std::string WordReason(std::string_view what, std::uint64_t highest) {
  return std::string(what) + " must be a number from 0 to " + HexWord(highest, 1) +
         " (a JSON number or \"0x\" and hexadecimal digits)";
}

std::string HexWord(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0x0F]);
    value >>= 4;
  } while (value != 0 || static_cast<int>(text.size()) < digits);
  return "0x" + text;
}

void StoreWord(Json& slot, std::uint64_t value, int digits) {
  if (slot.is_number()) {
    slot = value;
    return;
  }
  // A text keeps its width: "0x00020000" becomes "0x00030000".
  if (slot.is_string()) {
    const auto width = static_cast<int>(slot.get_ref<const std::string&>().size()) - 2;
    if (width > digits) digits = width;
  }
  slot = HexWord(value, digits);
}

}  // namespace corvane::sim::section
