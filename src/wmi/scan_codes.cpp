#include "wmi/scan_codes.h"

#include "platform/text.h"

namespace corvane::wmi {

// Set-1 make codes; a character typed with SHIFT held carries its key's code plus 0x80. The
// blank entry is never looked up (a blank is renamed "<SPACE BAR>" first) but keeps its place.
const std::array<ScanCodeEntry, 108> ScanCodeTable = {{
    {"1", 0x02},          {"!", 0x82},           {"2", 0x03},          {"@", 0x83},
    {"3", 0x04},          {"#", 0x84},           {"4", 0x05},          {"$", 0x85},
    {"5", 0x06},          {"%", 0x86},           {"6", 0x07},          {"^", 0x87},
    {"7", 0x08},          {"&", 0x88},           {"8", 0x09},          {"*", 0x89},
    {"9", 0x0A},          {"(", 0x8A},           {"0", 0x0B},          {")", 0x8B},
    {"-", 0x0C},          {"_", 0x8C},           {"=", 0x0D},          {"+", 0x8D},
    {"q", 0x10},          {"Q", 0x90},           {"w", 0x11},          {"W", 0x91},
    {"e", 0x12},          {"E", 0x92},           {"r", 0x13},          {"R", 0x93},
    {"t", 0x14},          {"T", 0x94},           {"y", 0x15},          {"Y", 0x95},
    {"u", 0x16},          {"U", 0x96},           {"i", 0x17},          {"I", 0x97},
    {"o", 0x18},          {"O", 0x98},           {"p", 0x19},          {"P", 0x99},
    {"[", 0x1A},          {"{", 0x9A},           {"]", 0x1B},          {"}", 0x9B},
    {"a", 0x1E},          {"A", 0x9E},           {"s", 0x1F},          {"S", 0x9F},
    {"d", 0x20},          {"D", 0xA0},           {"f", 0x21},          {"F", 0xA1},
    {"g", 0x22},          {"G", 0xA2},           {"h", 0x23},          {"H", 0xA3},
    {"j", 0x24},          {"J", 0xA4},           {"k", 0x25},          {"K", 0xA5},
    {"l", 0x26},          {"L", 0xA6},           {";", 0x27},          {":", 0xA7},
    {"'", 0x28},          {"\"", 0xA8},          {"`", 0x29},          {"~", 0xA9},
    {"\\", 0x2B},         {"|", 0xAB},           {"z", 0x2C},          {"Z", 0xAC},
    {"x", 0x2D},          {"X", 0xAD},           {"c", 0x2E},          {"C", 0xAE},
    {"v", 0x2F},          {"V", 0xAF},           {"b", 0x30},          {"B", 0xB0},
    {"n", 0x31},          {"N", 0xB1},           {"m", 0x32},          {"M", 0xB2},
    {",", 0x33},          {"<LT>", 0xB3},        {".", 0x34},          {"<GT>", 0xB4},
    {" ", 0x39},          {"<SPACE BAR>", 0x39}, {"<KEYPAD *>", 0x37}, {"<KEYPAD 7>", 0x47},
    {"<KEYPAD 8>", 0x48}, {"<KEYPAD 9>", 0x49},  {"<KEYPAD ->", 0x4A}, {"<KEYPAD 4>", 0x4B},
    {"<KEYPAD 5>", 0x4C}, {"<KEYPAD 6>", 0x4D},  {"<KEYPAD +>", 0x4E}, {"<KEYPAD 1>", 0x4F},
    {"<KEYPAD 2>", 0x50}, {"<KEYPAD 3>", 0x51},  {"<KEYPAD 0>", 0x52}, {"<KEYPAD .>", 0x53},
}};

namespace {

bool LookUp(std::string_view token, std::uint32_t& code) {
  for (const ScanCodeEntry& entry : ScanCodeTable) {
    if (token == entry.token) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ConvertToScanCodes(std::string_view text, std::string& codes, std::string& failedToken) {
  // Collected apart and stored at the end, so that the outputs may share storage with text
  // and a failure never leaves a partial result.
  std::string converted;
  std::size_t position = 0;
  while (position < text.size()) {
    std::string token(1, text[position]);
    std::size_t last = position;
    if (text[position] == '<') {
      const std::size_t close = text.find('>', position);
      if (close != std::string_view::npos) {
        token = platform::AsciiUpper(text.substr(position, close - position + 1));
        last = close;
      }
    }
    if (token == " ") token = "<SPACE BAR>";

    std::uint32_t code = 0;
    if (!LookUp(token, code)) {
      codes.clear();
      failedToken = std::move(token);
      return false;
    }
    converted.push_back(static_cast<char>(code & 0xFF));
    position = last + 1;
  }
  codes = std::move(converted);
  failedToken.clear();
  return true;
}

}  // namespace corvane::wmi
