// The setup-password step of a run: which given password is current, and the change to a new
// one with its success, warning and error records. It sits above both backends.
#pragma once

#include <string>
#include <vector>

#include "driver/library_extraction.h"

namespace corvane {
class BiosAccess;
namespace log {
class ResultLog;
}

namespace driver {

struct PasswordState {
  std::string currentPassword;
  bool currentPasswordAccepted = false;
  // The firmware answers through the provider or the management library.
  bool backendFound = false;
  // Its administrator authenticates with certificates: no password is tried; changes go with
  // their signatures, and a password change is refused, as said once.
  bool certificateOnly = false;
  bool passwordChangeRefused = false;
  // On the makers' interfaces a password is judged by the first change that needs it: the
  // candidates not judged yet, in command-line order.
  std::vector<std::string> untried;
};

// Runs the whole step once per run and returns the result code it leaves (0 or 10). When the
// provider is absent it first has access load the management library, written out then if it
// is not yet.
// changesSettings: the run has an action that changes settings, so it needs the password.
int RunPasswordStep(log::ResultLog& log, BiosAccess& access, int argc, const char* const* argv,
                    ManagementLibrary& library, bool changesSettings, PasswordState& state);

}  // namespace driver
}  // namespace corvane
