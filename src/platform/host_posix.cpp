// The native host on Linux and other POSIX systems.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/host.h"
#include "platform/profile_text.h"
#include "platform/stdio_host.h"
#include "platform/text.h"

#ifndef CORVANE_VERSION_MAJOR
#define CORVANE_VERSION_MAJOR 0
#endif
#ifndef CORVANE_VERSION_MINOR
#define CORVANE_VERSION_MINOR 0
#endif
#ifndef CORVANE_VERSION_PATCH
#define CORVANE_VERSION_PATCH 0
#endif
#ifndef CORVANE_VERSION_TWEAK
#define CORVANE_VERSION_TWEAK 0
#endif

namespace corvane::platform {
namespace {

// The Windows module-path buffer holds 1,024 characters with its terminator.
constexpr std::size_t kMaxExecutablePath = 1023;
constexpr std::size_t kMaxComputerName = 15;

std::string ResolvedPath(const char* path) {
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) return {};
  std::string text(resolved);
  std::free(resolved);
  return text;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Creates a new, uniquely named file in the target's directory. The name starts with a dot
// so that a file left by a crash does not look like a result.
int CreateTemporaryBeside(const std::string& target, std::string& temporary) {
  static unsigned counter = 0;
  const std::size_t slash = target.rfind('/');
  const std::string directory =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = directory + "." + base + "." + std::to_string(getpid()) + "." +
                std::to_string(++counter) + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

class PosixHost final : public StdioHost {
 public:
  std::string ExecutablePath() override {
    std::string path = ResolvedPath("/proc/self/exe");
    if (path.size() > kMaxExecutablePath) return {};
    return path;
  }

  std::string ComputerName() override {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    std::string name(buffer);
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    if (name.size() > kMaxComputerName) return {};
    return AsciiUpper(name);
  }

  ClockReading ReadClock() override {
    ClockReading reading;
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &reading.local);
    gmtime_r(&now, &reading.utc);
    return reading;
  }

  // There are no version resources here: the version is the one the build compiled in. The
  // "+ 0" keeps a number that the build left empty (a version without tweak) valid as 0.
  bool ExecutableFileVersion(FileVersion& version) override {
    version.mostSignificant = Pack(CORVANE_VERSION_MAJOR + 0, CORVANE_VERSION_MINOR + 0);
    version.leastSignificant = Pack(CORVANE_VERSION_PATCH + 0, CORVANE_VERSION_TWEAK + 0);
    return true;
  }

  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, const std::string& path) override {
    std::string text;
    if (!ReadFile(path, text)) return ReadProfileStringFromText({}, section, key, defaultValue);
    return ReadProfileStringFromText(text, section, key, defaultValue);
  }

  bool FileExists(const std::string& path) override {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0;
  }

  // Nothing here can fail: the narrow code page is UTF-8 whatever the locale says.
  bool InitializeFramework(const std::string& /*rawCommandLine*/) override { return true; }

  bool OsVersionAtLeast(int /*major*/, int /*minor*/) override { return true; }

  // Line ends are already the platform's, so textMode changes nothing here.
  bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                           bool /*textMode*/) override {
    if (path.empty() || path.back() == '/') return false;
    // Write through a symbolic link to the file it names, as opening the path would.
    std::string target = ResolvedPath(path.c_str());
    if (target.empty()) target = path;
    std::string temporary;
    const int fd = CreateTemporaryBeside(target, temporary);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes);
    const bool closed = close(fd) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
      unlink(temporary.c_str());
      return false;
    }
    return true;
  }

  std::string Environment(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? std::string() : std::string(value);
  }

 private:
  static std::uint32_t Pack(unsigned high, unsigned low) {
    return ((static_cast<std::uint32_t>(high) & 0xFFFF) << 16) |
           (static_cast<std::uint32_t>(low) & 0xFFFF);
  }
};

}  // namespace

std::unique_ptr<Host> CreateNativeHost() {
  return std::make_unique<PosixHost>();
}

}  // namespace corvane::platform
