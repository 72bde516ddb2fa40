// Standard base64 with '=' padding, on one line: the form of signatures and certificates.
#pragma once

#include <string>
#include <string_view>

namespace corvane::platform {

std::string EncodeBase64(std::string_view bytes);
// False for a character outside the alphabet, a wrong length or misplaced padding.
bool DecodeBase64(std::string_view text, std::string& bytes);

}  // namespace corvane::platform
