// Every operating-system service the core needs, behind one small interface so that the
// portable subsystems never include system headers and unit tests can run against fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {

// One reading of the clock, broken down twice, so that every date and time field of a
// report describes the same instant.
struct ClockReading {
  std::tm local{};
  std::tm utc{};
};

// The fixed file version of an executable: two 32-bit words, most significant first.
struct FileVersion {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
};

// The most a whole-file read takes. No settings file or machine file comes near it; an endless
// file (/dev/zero, a FIFO that never ends) stops there instead of exhausting memory.
inline constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

class Host {
 public:
  virtual ~Host() = default;

  // Full path of the running executable; on Linux with symbolic links resolved. Empty when
  // it cannot be found.
  virtual std::string ExecutablePath() = 0;
  // The NetBIOS-style computer name, at most 15 characters; empty when unreadable or longer.
  virtual std::string ComputerName() = 0;
  virtual ClockReading ReadClock() = 0;
  // False when the executable carries no readable version.
  virtual bool ExecutableFileVersion(FileVersion& version) = 0;
  // The sectioned-file (private-profile) reader: the value of key in section of the file at
  // path, or defaultValue when the file, section or key is missing. At most 99 characters. A
  // file of more than kMaxProfileFileBytes counts as missing.
  virtual std::string ReadProfileString(const std::string& section, const std::string& key,
                                        const std::string& defaultValue,
                                        const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Prepares the process; false only when the process cannot work at all.
  virtual bool InitializeFramework(const std::string& rawCommandLine) = 0;
  // Whether the operating system is at least the given Windows version (always true on
  // platforms that are not Windows).
  virtual bool OsVersionAtLeast(int major, int minor) = 0;

  // The one ordered standard-output stream of the result log. Text mode: on Windows each
  // line feed reaches the console or file as carriage return and line feed.
  virtual void WriteOut(std::string_view text) = 0;
  virtual void FlushOut() = 0;
  virtual void WriteErr(std::string_view text) = 0;
  // Reads standard input to its end, as bytes; false when it cannot be read or holds more than
  // limit bytes.
  virtual bool ReadStandardInput(std::string& bytes, std::size_t limit) = 0;

  // Reads a whole file as bytes; false when it cannot be opened or read, or holds more than
  // kMaxFileBytes.
  virtual bool ReadFile(const std::string& path, std::string& bytes) = 0;
  // Writes bytes as the whole content of what path names, so that a failure never leaves a
  // half-written file. An existing regular file (links followed) is replaced through a
  // temporary file beside it that takes its owner, group and permission bits; one with other
  // hard links, or whose owner or folder does not allow the replacement, is rewritten in
  // place and gets its earlier content back on failure. A missing file is created through a
  // temporary file with the permissions of any new file. A device, pipe or the result log's
  // own stream is written as it is, once; nothing is created beside it. A folder fails.
  // textMode turns each line feed into the platform's line end. False when anything fails.
  virtual bool WriteWholeFile(const std::string& path, std::string_view bytes, bool textMode) = 0;
  // Writes bytes as a new file at path that only its owner may read (a secret); false when
  // anything fails. Where the platform has no such bits, the file gets its folder's.
  virtual bool WritePrivateFile(const std::string& path, std::string_view bytes) {
    return WriteWholeFile(path, bytes, /*textMode=*/false);
  }
  // The value of an environment variable; empty when unset.
  virtual std::string Environment(const std::string& name) = 0;

  // The management library that the executable carries.
  // Whether it is written out at every start, rather than only when the legacy path is about to
  // load it: Windows writes it at every start; Linux loads it only for a simulated legacy machine.
  virtual bool WritesLibraryAtStart() = 0;
  // The library's file image inside the executable; empty when it carries none.
  virtual std::string_view EmbeddedLibraryImage() = 0;
  // Writes image as the file Tarnix.dll in a folder of the user's own, where it stays, and
  // answers the path to load it from; empty when there is no library to load. A load of that
  // path takes the very file checked here to hold image: on Linux the one written through a
  // descriptor of a folder whose owner and mode were checked, on Windows one held open against
  // any change until the process ends. notes receives a line for each folder or file refused,
  // and for each failure, saying why.
  virtual std::string WriteLibraryFile(std::string_view image, std::vector<std::string>& notes) = 0;
};

// The host of this process: the native one unless a test installed another.
Host& Os();
// Installs a host for the whole process (nullptr restores the native one); returns the
// previous one.
Host* InstallHost(Host* host);

// The native host of the platform being built (host_posix.cpp or host_win32.cpp).
std::unique_ptr<Host> CreateNativeHost();

}  // namespace corvane::platform
