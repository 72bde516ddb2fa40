// /SignConfig:<file> /SigningKey:<key.pem>: signs a REPSET file's changes and the save for a
// BIOS whose administrator is a certificate, on the administrator's own workstation. No BIOS
// is touched: the run reads the two files and writes <file>.sig.
#pragma once

#include <string>
#include <string_view>

#include "driver/password_input.h"
#include "log/result_log.h"

namespace corvane::driver {

// Whether argument begins with option, ASCII case ignored.
bool Begins(std::string_view argument, std::string_view option);
// The value of the last argument that begins with option; empty when none has one.
std::string LastValue(int argc, const char* const* argv, std::string_view option);

// Whether the command line asks for /SignConfig, a run that needs no firmware at all.
bool SignConfigRequested(int argc, const char* const* argv);

// The run's signing; returns its result code.
int RunSignConfig(log::ResultLog& log, const RunArguments& arguments);

}  // namespace corvane::driver
