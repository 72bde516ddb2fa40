#include <windows.h>

#include "platform/wbem.h"

namespace corvane::wbem {

// The COM adapter comes later; until then the provider is absent on Windows too, unless a
// simulated machine is installed.
HResult CreatePlatformLocator(std::unique_ptr<Locator>& locator) {
  locator.reset();
  return kClassNotRegistered;
}

ComScope::ComScope() {
  (void)CoInitialize(nullptr);
}
ComScope::~ComScope() {
  CoUninitialize();
}

}  // namespace corvane::wbem
