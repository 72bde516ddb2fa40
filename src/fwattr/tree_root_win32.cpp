#include "fwattr/firmware_attributes.h"

namespace corvane::fwattr {

// Windows reaches its BIOS settings through the provider itself.
std::string PlatformTreeRoot() {
  return {};
}

}  // namespace corvane::fwattr
