// The provider seam for unit tests: while a ScopedFakeProvider lives, every connection fails as
// on a machine without the provider, so that no test reaches the computer's own. Tests that need
// a provider with settings run a simulated machine (sim::InstallProvider) or a scenario.
#pragma once

#include <memory>

#include "platform/wbem.h"

namespace corvane::testing {

class ScopedFakeProvider {
 public:
  ScopedFakeProvider() {
    wbem::InstallLocatorFactory(
        [](std::unique_ptr<wbem::Locator>&) { return wbem::kInvalidNamespace; });
  }
  ~ScopedFakeProvider() { wbem::InstallLocatorFactory({}); }
  ScopedFakeProvider(const ScopedFakeProvider&) = delete;
  ScopedFakeProvider& operator=(const ScopedFakeProvider&) = delete;
};

}  // namespace corvane::testing
