#include "platform/dynamic_library.h"

#include <utility>

namespace corvane::platform {
namespace {

LibraryLoader& InstalledLoader() {
  static LibraryLoader loader;
  return loader;
}

// The path and the name it is loaded under.
std::pair<std::string, std::string>& Pinned() {
  static std::pair<std::string, std::string> pinned;
  return pinned;
}

}  // namespace

LibraryPtr LoadDynamicLibrary(const std::string& path) {
  if (InstalledLoader()) return InstalledLoader()(path);
  const auto& [pinnedPath, loadName] = Pinned();
  return LoadNativeLibrary(!pinnedPath.empty() && path == pinnedPath ? loadName : path);
}

void PinLibraryFile(const std::string& path, const std::string& loadName) {
  Pinned() = {path, loadName};
}

void InstallLibraryLoader(LibraryLoader loader) {
  InstalledLoader() = std::move(loader);
}

}  // namespace corvane::platform
