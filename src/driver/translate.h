// The last step of every run: the result code passed through the optional error-map file
// beside the executable, so that deployment tools can give exit codes their own meanings.
#pragma once

#include <string>
#include <string_view>

namespace corvane::log {
class ResultLog;
}

namespace corvane::driver {

// The error-map file's path for the executable at executablePath: its directory (up to and
// including the last '\' or '/') joined with "TivErr.cfg". Empty when the path names no
// directory, so that no unrelated file is consulted.
std::string ErrorMapPath(std::string_view executablePath);

// atoi's reading of a value: leading white space, an optional sign, decimal digits up to the
// first other character; 0 without digits. Values beyond the int range saturate at INT_MIN or
// INT_MAX.
int ConvertLikeAtoi(std::string_view text);

// Maps resultCode through section "Errors" of the error-map file (the code itself when the
// file, section or key is missing), writes the translation record and returns the exit code.
int TranslateResultCode(log::ResultLog& log, int resultCode);

}  // namespace corvane::driver
