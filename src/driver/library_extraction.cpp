#include "driver/library_extraction.h"

namespace corvane::driver {

// The executable does not carry the management library yet, so there is no folder to choose
// and nothing to write; the legacy backend then finds no library and says so itself.
std::string BuildLibraryPath() {
  return {};
}

void WriteManagementLibrary(const std::string& /*libraryPath*/) {}

}  // namespace corvane::driver
