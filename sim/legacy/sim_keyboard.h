// The simulated firmware's own keyboard: which keys type a password. Kept apart from the
// program's converter so that a fault there fails a scenario instead of agreeing with itself.
#pragma once

#include <string>
#include <string_view>

namespace corvane::sim {

// The set-1 make code of each key that types text (SHIFT in bit 7), with "<NAME>" forms for
// keys without a character of their own. False when any part of text types on no key.
bool KeysOf(std::string_view text, std::string& codes);

}  // namespace corvane::sim
