#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace corvane::platform {
namespace {

class PosixLibrary final : public DynamicLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  PosixLibrary(const PosixLibrary&) = delete;
  PosixLibrary& operator=(const PosixLibrary&) = delete;

  EntryPoint Symbol(const char* name) override {
    // dlsym answers an object pointer; POSIX guarantees it converts to a function pointer.
    return reinterpret_cast<EntryPoint>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

}  // namespace

LibraryPtr LoadNativeLibrary(const std::string& path) {
  // Bound now and kept to itself: a library that cannot resolve its own needs fails here,
  // and its symbols never take the place of the program's.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return std::make_unique<PosixLibrary>(handle);
}

// The management library here serves the simulated machine alone.
bool SixteenBitBiosCalls() {
  return true;
}

}  // namespace corvane::platform
