#include "platform/wbem.h"

namespace corvane::wbem {

// No provider of its own on this platform yet: the program then takes the management
// library's path, exactly as on a Windows machine without the provider.
HResult CreatePlatformLocator(std::unique_ptr<Locator>& locator) {
  locator.reset();
  return kClassNotRegistered;
}

ComScope::ComScope() = default;
ComScope::~ComScope() = default;

}  // namespace corvane::wbem
