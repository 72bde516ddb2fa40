#include "platform/base64.h"

#include <cstdint>

namespace corvane::platform {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    text.push_back(kAlphabet[(group >> 18) & 63]);
    text.push_back(kAlphabet[(group >> 12) & 63]);
    text.push_back(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    text.push_back(left > 2 ? kAlphabet[group & 63] : '=');
  }
  return text;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (padding == 1 && text[i + 2] == '=') return false;
    std::uint32_t group = 0;
    for (int k = 0; k < 4 - padding; ++k) {
      const int value = Sextet(text[i + k]);
      if (value < 0) return false;
      group |= static_cast<std::uint32_t>(value) << (18 - 6 * k);
    }
    bytes.push_back(static_cast<char>(group >> 16));
    if (padding < 2) bytes.push_back(static_cast<char>(group >> 8));
    if (padding < 1) bytes.push_back(static_cast<char>(group));
  }
  return true;
}

}  // namespace corvane::platform
