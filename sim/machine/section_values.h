// Reading the values of a machine file's legacy section, shared by the parts of the simulated
// legacy firmware: each reader leaves its result alone when the key is missing and answers false
// with a reason when the value is not one it takes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/machine/machine_file.h"

namespace corvane::sim::section {

// How the firmware treats a write that passes its checks.
enum class Writes { Accept, Refuse, Ignore };

bool ReadInteger(const Json& value, std::int64_t lowest, std::int64_t highest,
                 std::int64_t& number);
bool ReadBool(const Json& object, const char* key, bool& flag, std::string& error);
bool ReadText(const Json& object, const char* key, std::string& text, std::string& error);
bool ReadNumber(const Json& object, const char* key, std::int64_t lowest, std::int64_t highest,
                std::int64_t& number, std::string& error);
// "accept", "refuse" or "ignore".
bool ReadWrites(const Json& object, const char* key, Writes& writes, std::string& error);

// A firmware number: a JSON number, or "0x" and hexadecimal digits in either case.
bool ParseWord(const Json& value, std::uint64_t highest, std::uint64_t& number);
bool ReadWord(const Json& object, const char* key, std::uint64_t highest, std::uint64_t& number,
              std::string& error);
// The reason given for a firmware number outside 0..highest, or not a number at all.
std::string WordReason(std::string_view what, std::uint64_t highest);
// A changed firmware number in the form its slot had: a number stays a number, anything else
// becomes "0x" and upper-case hexadecimal digits, at least `digits` of them and at least as many
// as a text in the slot had.
void StoreWord(Json& slot, std::uint64_t value, int digits);
std::string HexWord(std::uint64_t value, int digits);

}  // namespace corvane::sim::section
