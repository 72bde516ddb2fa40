// Keyboard scan codes of an English (US) PC keyboard: one byte per key, SHIFT in bit 7.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::wmi {

struct ScanCodeEntry {
  const char* token;
  std::uint32_t code;  // only the low byte is used
};

extern const std::array<ScanCodeEntry, 108> ScanCodeTable;

// Turns typed text into scan codes. On success codes holds one byte per key and failedToken
// is empty; on failure codes is empty and failedToken holds the first token that did not
// convert. An empty text succeeds with no codes.
bool ConvertToScanCodes(std::string_view text, std::string& codes, std::string& failedToken);

}  // namespace corvane::wmi
