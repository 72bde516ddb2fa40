#include "fwattr/firmware_attributes.h"

namespace corvane::fwattr {

std::string PlatformTreeRoot() {
  return "/sys/class/firmware-attributes";
}

}  // namespace corvane::fwattr
