// The BIOS certificate's life where it is the administrator (Lenovo, through the kernel's
// think-lmi): /InstallCertificate:<cert> under the supervisor password, /UpdateCertificate:<cert>,
// /ClearCertificate and /CertificateToPassword under a signature from /SignatureFile:<file.sig>,
// and /CertificateThumbprint. Each change takes effect at the next restart.
#pragma once

#include "log/result_log.h"

namespace corvane::driver {

// Whether the command line asks for one of them; such a run does nothing else.
bool CertificateActionRequested(int argc, const char* const* argv);

// Runs the first one asked for; returns the run's result code. changed: a certificate change
// was taken, which waits for a restart.
int RunCertificateAction(log::ResultLog& log, int argc, const char* const* argv, bool& changed);

}  // namespace corvane::driver
