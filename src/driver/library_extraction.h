// The management library of the legacy backend, written out of the executable at every
// start so that it can be loaded when the provider is absent.
#pragma once

#include <string>

namespace corvane::driver {

// The full path the management library is written to and loaded from.
std::string BuildLibraryPath();
// Writes the library to libraryPath; silent whatever happens.
void WriteManagementLibrary(const std::string& libraryPath);

}  // namespace corvane::driver
