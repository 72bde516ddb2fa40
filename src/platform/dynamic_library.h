// Loading a dynamic library by path and looking up its entry points by name (LoadLibraryA and
// GetProcAddress on Windows, dlopen and dlsym elsewhere), behind a seam that tests replace.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace corvane::platform {

// Any exported function; callers cast it to the entry point's own type.
using EntryPoint = void (*)();

class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;  // unloads the library
  // The exported entry point of that name, or nullptr when the library has none.
  virtual EntryPoint Symbol(const char* name) = 0;
};
using LibraryPtr = std::unique_ptr<DynamicLibrary>;

// Loads the library file at path; nullptr when it cannot be loaded.
LibraryPtr LoadDynamicLibrary(const std::string& path);

// A library file this process wrote and keeps open: later loads of path take that very file
// under loadName (on Linux /proc/self/fd/N, the descriptor it was written through), whatever
// path names by then.
void PinLibraryFile(const std::string& path, const std::string& loadName);

using LibraryLoader = std::function<LibraryPtr(const std::string& path)>;
// Installs a loader for the whole process (tests); an empty function restores the native one.
void InstallLibraryLoader(LibraryLoader loader);

// Whether the management library can make the 16-bit BIOS calls that older machines answer. On
// Windows only a 32-bit program on a 32-bit system can: x86-64 has no virtual-8086 mode, neither
// for the 64-bit program nor for the 32-bit one under WOW64.
bool SixteenBitBiosCalls();

// The platform's own loader (dynamic_library_posix.cpp, dynamic_library_win32.cpp).
LibraryPtr LoadNativeLibrary(const std::string& path);

}  // namespace corvane::platform
