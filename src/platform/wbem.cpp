#include "platform/wbem.h"

namespace corvane::wbem {
namespace {

LocatorFactory& InstalledFactory() {
  static LocatorFactory factory;
  return factory;
}

}  // namespace

HResult CreateLocator(std::unique_ptr<Locator>& locator) {
  locator.reset();
  if (InstalledFactory()) return InstalledFactory()(locator);
  return CreatePlatformLocator(locator);
}

void InstallLocatorFactory(LocatorFactory factory) {
  InstalledFactory() = std::move(factory);
}

LocatorFactory CurrentLocatorFactory() {
  if (InstalledFactory()) return InstalledFactory();
  return CreatePlatformLocator;
}

}  // namespace corvane::wbem
