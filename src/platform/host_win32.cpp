// The native host on 32-bit Windows, through the narrow (ANSI) system calls.
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/stdio_host.h"

namespace corvane::platform {
namespace {

constexpr DWORD kModulePathBuffer = 1024;
constexpr DWORD kComputerNameBuffer = 16;  // 15 characters and the terminator
constexpr DWORD kProfileValueBuffer = 100;

// The directory part of a path including its separator, or what names the current directory
// of the drive ("C:" for "C:file", "." for a bare name).
std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return ".";
}

std::string WithCrLf(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 16);
  for (const char c : bytes) {
    if (c == '\n') text.push_back('\r');
    text.push_back(c);
  }
  return text;
}

class Win32Host final : public StdioHost {
 public:
  std::string ExecutablePath() override {
    char buffer[kModulePathBuffer] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, kModulePathBuffer);
    if (length == 0 || length >= kModulePathBuffer) return {};  // failed or cut short
    return std::string(buffer, length);
  }

  std::string ComputerName() override {
    char buffer[kComputerNameBuffer] = {};
    DWORD size = kComputerNameBuffer;
    if (!GetComputerNameA(buffer, &size) || size >= kComputerNameBuffer) return {};
    return std::string(buffer, size);
  }

  // localtime and gmtime share one buffer in the C runtime: copy each result at once.
  ClockReading ReadClock() override {
    ClockReading reading;
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) reading.local = *local;
    if (const std::tm* utc = std::gmtime(&now)) reading.utc = *utc;
    return reading;
  }

  bool ExecutableFileVersion(FileVersion& version) override {
    const std::string path = ExecutablePath();
    if (path.empty()) return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(data.data(), "\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
      return false;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    version.mostSignificant = info->dwFileVersionMS;
    version.leastSignificant = info->dwFileVersionLS;
    return true;
  }

  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, const std::string& path) override {
    char buffer[kProfileValueBuffer] = {};
    const DWORD length =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                                 kProfileValueBuffer, path.c_str());
    return std::string(buffer, length < kProfileValueBuffer ? length : kProfileValueBuffer - 1);
  }

  bool FileExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // This build has no application framework to prepare.
  bool InitializeFramework(const std::string& /*rawCommandLine*/) override { return true; }

  bool OsVersionAtLeast(int major, int minor) override {
    OSVERSIONINFOEXA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = static_cast<DWORD>(major);
    info.dwMinorVersion = static_cast<DWORD>(minor);
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
  }

  bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                           bool textMode) override {
    if (path.empty() || path.back() == '\\' || path.back() == '/') return false;
    // GetTempFileNameA creates the unique file beside the target, on the same volume, so
    // that the final move is a rename.
    char temporary[MAX_PATH] = {};
    if (GetTempFileNameA(DirectoryOf(path).c_str(), "cvn", 0, temporary) == 0) return false;
    const std::string content = textMode ? WithCrLf(bytes) : std::string(bytes);
    bool ok = false;
    if (std::FILE* file = std::fopen(temporary, "wb")) {
      const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
      const bool closed = std::fclose(file) == 0;
      ok = written && closed &&
           MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    if (!ok) DeleteFileA(temporary);
    return ok;
  }

  std::string Environment(const std::string& name) override {
    const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (needed == 0) return {};
    std::vector<char> buffer(needed);
    const DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return {};
    return std::string(buffer.data(), length);
  }
};

}  // namespace

std::unique_ptr<Host> CreateNativeHost() {
  return std::make_unique<Win32Host>();
}

}  // namespace corvane::platform
