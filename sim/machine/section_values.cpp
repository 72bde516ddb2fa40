#include "sim/machine/section_values.h"

#include "platform/hex.h"

namespace corvane::sim::section {

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
    const int digit = platform::HexDigit(text[i]);
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
  return "0x" + platform::HexNumber(value, digits);
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
