// One run of the program: the command line checked, the password step, every configuration
// action in command-line order, and the translated result code.
#pragma once

#include <string>

namespace corvane::driver {

// argv[0] is the program path; the options are the other arguments. rawCommandLine is the
// unsplit command line for the framework initialisation. Returns the exit code.
int Run(int argc, const char* const* argv, const std::string& rawCommandLine);

}  // namespace corvane::driver
