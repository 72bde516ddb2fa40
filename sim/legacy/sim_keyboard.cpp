#include "sim/legacy/sim_keyboard.h"

#include <cstdint>

namespace corvane::sim {
namespace {

// Rows of a US keyboard: the unshifted characters, then the shifted ones, key by key from the
// row's first make code.
struct KeyRow {
  std::uint8_t firstCode;
  std::string_view plain;
  std::string_view shifted;
};

constexpr KeyRow kRows[] = {
    {0x02, "1234567890-=", "!@#$%^&*()_+"},
    {0x10, "qwertyuiop[]", "QWERTYUIOP{}"},
    {0x1E, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {0x2B, "\\zxcvbnm,.", "|ZXCVBNM\x01\x02"},  // <LT> and <GT> are named keys below
};

struct NamedKey {
  std::string_view name;  // upper case, as typed names compare
  std::uint8_t code;
};

constexpr NamedKey kNamed[] = {
    {"<LT>", 0xB3},       {"<GT>", 0xB4},       {"<SPACE BAR>", 0x39}, {"<KEYPAD *>", 0x37},
    {"<KEYPAD 7>", 0x47}, {"<KEYPAD 8>", 0x48}, {"<KEYPAD 9>", 0x49},  {"<KEYPAD ->", 0x4A},
    {"<KEYPAD 4>", 0x4B}, {"<KEYPAD 5>", 0x4C}, {"<KEYPAD 6>", 0x4D},  {"<KEYPAD +>", 0x4E},
    {"<KEYPAD 1>", 0x4F}, {"<KEYPAD 2>", 0x50}, {"<KEYPAD 3>", 0x51},  {"<KEYPAD 0>", 0x52},
    {"<KEYPAD .>", 0x53},
};

bool KeyOfCharacter(char c, std::uint8_t& code) {
  if (c == ' ') {
    code = 0x39;
    return true;
  }
  for (const KeyRow& row : kRows) {
    for (std::size_t i = 0; i < row.plain.size(); ++i) {
      if (row.plain[i] == c) {
        code = static_cast<std::uint8_t>(row.firstCode + i);
        return true;
      }
      if (row.shifted[i] == c && static_cast<unsigned char>(c) >= 0x20) {
        code = static_cast<std::uint8_t>((row.firstCode + i) | 0x80);
        return true;
      }
    }
  }
  return false;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

}  // namespace

bool KeysOf(std::string_view text, std::string& codes) {
  codes.clear();
  std::size_t at = 0;
  while (at < text.size()) {
    std::uint8_t code = 0;
    bool found = false;
    if (text[at] == '<') {
      const std::size_t close = text.find('>', at);
      if (close != std::string_view::npos) {
        const std::string name = UpperAscii(text.substr(at, close - at + 1));
        for (const NamedKey& key : kNamed)
          if (key.name == name) {
            code = key.code;
            found = true;
            at = close + 1;
            break;
          }
      }
    } else if (KeyOfCharacter(text[at], code)) {
      found = true;
      ++at;
    }
    if (!found) {
      codes.clear();
      return false;
    }
    codes.push_back(static_cast<char>(code));
  }
  return true;
}

}  // namespace corvane::sim
