// Signed changes for a BIOS whose administrator is a certificate: the texts a REPSET file's
// changes are signed over, and the signature file that carries them beside it (one line per
// signed text: the text, a tab, its signature in base64).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::config {

inline constexpr std::string_view kSignedSetPrefix = "Lenovo_SetBiosSettingEx,";
inline constexpr std::string_view kSignedSave = "Lenovo_SaveBiosSettingsEx";
inline constexpr std::string_view kSignatureSuffix = ".sig";

// One block of a REPSET file: the texts that /SetConfig could send for it, or why none is
// signed.
struct SignedBlock {
  std::string name;
  std::vector<std::string> texts;
  std::string refusal;
};

// The blocks of a REPSET file's lines (header included), in file order. The firmware takes a
// value as /SetConfig writes it: the marked choice, an order's devices that are not marked
// DISABLED joined with ':', a date or time with or without its brackets.
std::vector<SignedBlock> SignedBlocks(const std::vector<std::string>& lines);

// Signed text -> signature. False, with the first bad line's number, for a line that is no
// text, tab and signature; a carriage return before a line feed is dropped.
bool ParseSignatureFile(std::string_view bytes, std::map<std::string, std::string>& book,
                        std::size_t& badLine);

}  // namespace corvane::config
