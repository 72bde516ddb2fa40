// Bytes as hexadecimal digits, two a byte, and numbers as hexadecimal text: the one codec of the
// scan-code passwords, the machine file's bytes and the codes written for people.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::platform {

enum class HexCase { Upper, Lower };

// Two digits per byte, high first.
std::string EncodeHex(std::string_view bytes, HexCase letters = HexCase::Upper);
// Two digits of either case per byte; false for an odd count or a character that is no digit.
bool DecodeHex(std::string_view text, std::string& bytes);
// The value of one digit of either case; -1 for any other character.
int HexDigit(char c);
// A number's upper-case digits, at least `digits` of them.
std::string HexNumber(std::uint64_t value, int digits);

}  // namespace corvane::platform
