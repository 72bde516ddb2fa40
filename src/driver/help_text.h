// The usage text shown by /? and /Help and by a run without arguments.
#pragma once

namespace corvane::driver {

// The usage text, one line per entry, ending with a null entry.
extern const char* const kHelpText[];

// Writes every line with a line feed, flushing after each one.
void WriteHelpText();

}  // namespace corvane::driver
