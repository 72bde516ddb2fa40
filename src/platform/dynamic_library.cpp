#include "platform/dynamic_library.h"

namespace corvane::platform {
namespace {

LibraryLoader& InstalledLoader() {
  static LibraryLoader loader;
  return loader;
}

}  // namespace

LibraryPtr LoadDynamicLibrary(const std::string& path) {
  if (InstalledLoader()) return InstalledLoader()(path);
  return LoadNativeLibrary(path);
}

void InstallLibraryLoader(LibraryLoader loader) {
  InstalledLoader() = std::move(loader);
}

}  // namespace corvane::platform
