// The values of a machine file's legacy section, shared by the parts of the simulated legacy
// firmware and by the rows of the file's tables (schema.h): integers within bounds, hexadecimal
// bytes, and firmware numbers, which are written back in the form they were given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/machine/machine_file.h"

namespace corvane::sim::section {

// How the firmware treats a write that passes its checks.
enum class Writes { Accept, Refuse, Ignore };

// An integer (a JSON number) from lowest to highest.
bool ReadInteger(const Json& value, std::int64_t lowest, std::int64_t highest,
                 std::int64_t& number);

// A firmware number: a JSON number, or "0x" and hexadecimal digits in either case.
bool ParseWord(const Json& value, std::uint64_t highest, std::uint64_t& number);
// The reason given for a firmware number outside 0..highest, or not a number at all.
std::string WordReason(std::string_view what, std::uint64_t highest);
// A changed firmware number in the form its slot had: a number stays a number, anything else
// becomes "0x" and upper-case hexadecimal digits, at least `digits` of them and at least as many
// as a text in the slot had.
void StoreWord(Json& slot, std::uint64_t value, int digits);
std::string HexWord(std::uint64_t value, int digits);

}  // namespace corvane::sim::section
