#include <windows.h>

#include "platform/dynamic_library.h"

namespace corvane::platform {
namespace {

class Win32Library final : public DynamicLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  Win32Library(const Win32Library&) = delete;
  Win32Library& operator=(const Win32Library&) = delete;

  EntryPoint Symbol(const char* name) override {
    return reinterpret_cast<EntryPoint>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

}  // namespace

LibraryPtr LoadNativeLibrary(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return nullptr;
  return std::make_unique<Win32Library>(module);
}

bool SixteenBitBiosCalls() {
#ifdef _WIN64
  return false;
#else
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) == 0 || wow64 == FALSE;
#endif
}

}  // namespace corvane::platform
