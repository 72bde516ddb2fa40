// One run of the program: the command line checked, the password step, every configuration
// action in command-line order, and the translated result code.
#pragma once

#include <string>

namespace corvane::driver {

// commandLine[0] is the program path; the options are the other arguments, and with /pwdstdin
// the password options on standard input. rawCommandLine is the unsplit command line for the
// framework initialisation. Returns the exit code.
int Run(int commandLineCount, const char* const* commandLine, const std::string& rawCommandLine);

}  // namespace corvane::driver
