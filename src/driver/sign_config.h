// /SignConfig:<file> /SigningKey:<key.pem>: signs a REPSET file's changes and the save for a
// BIOS whose administrator is a certificate, on the administrator's own workstation. No BIOS
// is touched: the run reads the two files and writes <file>.sig.
#pragma once

#include "driver/password_input.h"
#include "log/result_log.h"

namespace corvane::driver {

// Whether the command line asks for /SignConfig, a run that needs no firmware at all.
bool SignConfigRequested(int argc, const char* const* argv);

// The run's signing; returns its result code.
int RunSignConfig(log::ResultLog& log, const RunArguments& arguments);

}  // namespace corvane::driver
