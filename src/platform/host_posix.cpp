// The native host on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/host.h"
#include "platform/kernel_tree.h"
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

// The management library's image, linked into the executable (see cmake/embedded_library.cpp.in).
// Weak, so that programs and libraries built without it link and carry no image.
extern "C" {
extern const char corvane_library_image[] __attribute__((weak));
extern const char corvane_library_image_end[] __attribute__((weak));
}

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

bool ReadAll(int fd, std::string& bytes) {
  char buffer[65536];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count == 0) return true;
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
}

// Reads what fd holds, up to limit bytes, and closes it; false for -1.
bool ReadFd(int fd, std::size_t limit, std::string& bytes) {
  if (fd < 0) return false;
  std::string content;
  char buffer[16384];
  bool failed = false;
  while (!failed) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count == 0) break;
    failed = count < 0 || content.size() + static_cast<std::size_t>(count) > limit;
    if (!failed) content.append(buffer, static_cast<std::size_t>(count));
  }
  close(fd);
  if (failed) return false;
  bytes = std::move(content);
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a new, uniquely named file in the target's directory. The name starts with a dot
// so that a file left by a crash does not look like a result; the target's name is cut short
// so that the temporary name stays within the file system's limit.
int CreateTemporaryBeside(const std::string& target, std::string& temporary, mode_t mode) {
  static unsigned counter = 0;
  const std::string directory = DirectoryOf(target);
  const std::string base = target.substr(directory.size(), 200);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = directory;
    temporary.append(".").append(base).append(".").append(std::to_string(getpid()));
    temporary.append(".").append(std::to_string(++counter)).append(".tmp");
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Best effort: makes the rename itself survive a power cut.
void SyncDirectoryOf(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  const int fd =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Writes, flushes and closes the temporary file and renames it over the target; on any
// failure the temporary file goes and the target stays as it was.
bool CommitTemporary(int fd, const std::string& temporary, const std::string& target,
                     std::string_view bytes) {
  bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), target.c_str()) == 0) {
    SyncDirectoryOf(target);
    return true;
  }
  unlink(temporary.c_str());
  return false;
}

// Follows the symbolic links of the last component of a path whose target does not exist
// yet, so that the file is created where the link points. Empty when the links loop.
std::string FinalLinkTarget(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    char buffer[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0) return path;
    if (static_cast<std::size_t>(length) >= sizeof buffer) return {};
    std::string next(buffer, static_cast<std::size_t>(length));
    if (next.empty() || next.front() != '/') next.insert(0, DirectoryOf(path));
    path = std::move(next);
  }
  return {};
}

bool TruncateTo(int fd, std::size_t size) {
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// Rewrites a file in its own inode, for the files a rename must not replace: other hard
// links would keep the old content, and an owner or a folder that does not allow the
// replacement would be lost. Space is reserved first; if writing still fails, the earlier
// content is put back.
bool RewriteInPlace(const std::string& target, std::string_view bytes) {
  const int fd = open(target.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string earlier;
  bool ok = ReadAll(fd, earlier);
  if (ok && bytes.size() > earlier.size()) {
    ok = posix_fallocate(fd, static_cast<off_t>(earlier.size()),
                         static_cast<off_t>(bytes.size() - earlier.size())) == 0;
    if (!ok) TruncateTo(fd, earlier.size());
  }
  if (ok) {
    ok = lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, bytes) && TruncateTo(fd, bytes.size()) &&
         fsync(fd) == 0;
    if (!ok && lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, earlier) &&
        TruncateTo(fd, earlier.size()))
      fsync(fd);
  }
  return close(fd) == 0 && ok;
}

// An existing regular file: a temporary file beside it takes its owner, group and
// permission bits and is renamed over it.
bool ReplaceRegularFile(const std::string& target, const struct stat& status,
                        std::string_view bytes) {
  // A file the user may not write is not replaced, as opening it would be refused.
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
  if (status.st_nlink > 1) return RewriteInPlace(target, bytes);
  std::string temporary;
  const int fd = CreateTemporaryBeside(target, temporary, 0600);
  if (fd < 0) return (errno == EACCES || errno == EPERM) && RewriteInPlace(target, bytes);
  struct stat made {};
  const mode_t bits = status.st_mode & 07777;
  bool same = fstat(fd, &made) == 0;
  if (same && (made.st_uid != status.st_uid || made.st_gid != status.st_gid))
    same = fchown(fd, status.st_uid, status.st_gid) == 0;
  if (same && (made.st_mode & 07777) != bits) same = fchmod(fd, bits) == 0;
  if (!same) {
    close(fd);
    unlink(temporary.c_str());
    return RewriteInPlace(target, bytes);
  }
  return CommitTemporary(fd, temporary, target, bytes);
}

// A target that does not exist yet: created through a temporary file with the permissions
// of any new file.
bool CreateNewFile(const std::string& target, std::string_view bytes) {
  if (target.empty() || target.back() == '/') return false;
  std::string temporary;
  const int fd = CreateTemporaryBeside(target, temporary, 0666);
  if (fd < 0) return false;
  return CommitTemporary(fd, temporary, target, bytes);
}

bool SameObject(const struct stat& status, int fd) {
  struct stat other {};
  return fstat(fd, &other) == 0 && other.st_dev == status.st_dev && other.st_ino == status.st_ino;
}

constexpr char kLibraryFileName[] = "Tarnix.dll";

std::string ErrorText(int error) {
  return std::strerror(error);
}

// Why an opened folder is not used for the library: empty when it is a folder of user's own
// that nobody else may write, and, for the library's own folder (exact), one of mode 0700.
std::string FolderRefusal(int fd, uid_t user, bool exact) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return "it cannot be examined (" + ErrorText(errno) + ")";
  if (!S_ISDIR(status.st_mode)) return "it is not a folder";
  if (status.st_uid != user) return "it belongs to another user";
  const mode_t bits = status.st_mode & 07777;
  if (!exact && (bits & 022) != 0) return "other users may write it";
  if (exact && bits != 0700) {
    char octal[8];
    (void)std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned>(bits));
    return std::string("its mode is ") + octal + ", not 700";
  }
  return {};
}

// Why a folder could not be opened.
std::string OpenRefusal(int error) {
  switch (error) {
    case ENOENT:
      return "it does not exist";
    case ENOTDIR:
      return "it is not a folder";
    default:
      return "it cannot be opened (" + ErrorText(error) + ")";
  }
}

// The library's own folder: leaf of the opened folder parent (which this closes), made when
// missing, opened without following a link and checked through its descriptor, so that nothing
// can be swapped in between the check and the use. -1 after a note when it is refused.
int OpenPrivateFolder(int parent, const std::string& leaf, const std::string& folder,
                      std::vector<std::string>& notes) {
  const bool made = mkdirat(parent, leaf.c_str(), 0700) == 0;
  const int madeError = errno;
  int fd = openat(parent, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const int openError = errno;
  std::string refusal;
  struct stat entry {};
  if (fd >= 0) {
    // The umask may have narrowed a folder made here; one that existed is never changed.
    if (made) fchmod(fd, 0700);
    refusal = FolderRefusal(fd, geteuid(), /*exact=*/true);
  } else if (fstatat(parent, leaf.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
    refusal = "it cannot be made (" + ErrorText(madeError) + ")";
  } else {
    refusal = S_ISLNK(entry.st_mode) ? "it is a symbolic link" : OpenRefusal(openError);
  }
  close(parent);
  if (refusal.empty()) return fd;
  if (fd >= 0) close(fd);
  notes.push_back("the management library is not written to '" + folder + "': " + refusal);
  return -1;
}

// The folder of the library: $XDG_RUNTIME_DIR/corvane when the runtime folder is the user's
// own and nobody else may write it, else /tmp/corvane-<uid>; a real folder owned by the user
// with mode 0700. -1 when it is refused; each refusal adds a note.
int OpenLibraryFolder(const std::string& runtime, std::string& folder,
                      std::vector<std::string>& notes) {
  const std::string own = "corvane-" + std::to_string(geteuid());
  if (!runtime.empty() && runtime.front() == '/') {
    const int parent = open(runtime.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string refusal =
        parent < 0 ? OpenRefusal(errno) : FolderRefusal(parent, geteuid(), /*exact=*/false);
    folder = runtime + "/corvane";
    if (refusal.empty()) return OpenPrivateFolder(parent, "corvane", folder, notes);
    if (parent >= 0) close(parent);
    notes.push_back("XDG_RUNTIME_DIR '" + runtime + "' is not used: " + refusal +
                    "; the management library goes to '/tmp/" + own + "'");
  }
  folder = "/tmp/" + own;
  const int parent = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent >= 0) return OpenPrivateFolder(parent, own, folder, notes);
  notes.push_back("the management library is not written to '" + folder +
                  "': /tmp cannot be opened (" + ErrorText(errno) + ")");
  return -1;
}

// Whether the open file holds exactly bytes.
bool Holds(int fd, std::string_view bytes) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) != bytes.size())
    return false;
  std::string content(bytes.size(), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t count =
        pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return content == bytes;
}

// Writes image as the library through the folder's descriptor: a new file beside it, checked
// and renamed over the library's name, so that a run never meets a half-written library. The
// new file's descriptor, or -1 with the reason in failure.
int WriteLibraryInto(int folder, std::string_view image, std::string& failure) {
  const std::string temporary =
      std::string(".") + kLibraryFileName + "." + std::to_string(getpid()) + ".tmp";
  // One left by an earlier process of the same number that did not end.
  unlinkat(folder, temporary.c_str(), 0);
  const int fd =
      openat(folder, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (fd < 0) {
    failure = ErrorText(errno);
    return -1;
  }
  errno = 0;
  if (WriteAll(fd, image) && Holds(fd, image) &&
      renameat(folder, temporary.c_str(), folder, kLibraryFileName) == 0)
    return fd;
  failure = errno != 0 ? ErrorText(errno) : "what was written does not read back";
  unlinkat(folder, temporary.c_str(), 0);
  close(fd);
  return -1;
}

class PosixHost final : public StdioHost {
 public:
  PosixHost() = default;
  ~PosixHost() override {
    if (libraryFd_ >= 0) close(libraryFd_);
  }
  PosixHost(const PosixHost&) = delete;
  PosixHost& operator=(const PosixHost&) = delete;

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
    if (!ReadUpTo(path, kMaxProfileFileBytes, text)) text.clear();
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
  bool WriteWholeFile(const std::string& path, std::string_view bytes, bool /*textMode*/) override {
    if (path.empty()) return false;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
      // Missing, or a link to something missing. Any other error, a refused link in a
      // shared folder among them, is a failure.
      if (errno != ENOENT) return false;
      return CreateNewFile(FinalLinkTarget(path), bytes);
    }
    // The result log's own stream (/dev/stdout, /proc/self/fd/1, or the file it is
    // redirected to): the text joins it after what was already written.
    if (SameObject(status, STDOUT_FILENO)) {
      FlushOut();
      return WriteAll(STDOUT_FILENO, bytes);
    }
    if (SameObject(status, STDERR_FILENO)) return WriteAll(STDERR_FILENO, bytes);
    if (S_ISREG(status.st_mode)) {
      const std::string target = ResolvedPath(path.c_str());
      return !target.empty() && ReplaceRegularFile(target, status, bytes);
    }
    // Nobody writes settings onto a disk on purpose: a block device is refused.
    if (S_ISDIR(status.st_mode) || S_ISBLK(status.st_mode)) return false;
    // A character device, pipe or socket is written as it is; nothing is made beside it.
    FlushOut();
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes);
    return close(fd) == 0 && written;
  }

  // A secret: a new regular file that only its owner may read, renamed over what the path
  // names (a link itself is replaced, so that nothing outside the folder gets the bytes).
  bool WritePrivateFile(const std::string& path, std::string_view bytes) override {
    if (path.empty() || path.back() == '/') return false;
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode))
      return false;
    std::string temporary;
    const int fd = CreateTemporaryBeside(path, temporary, 0600);
    if (fd < 0) return false;
    if (fchmod(fd, 0600) != 0) {
      close(fd);
      unlink(temporary.c_str());
      return false;
    }
    return CommitTemporary(fd, temporary, path, bytes);
  }

  std::string Environment(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? std::string() : std::string(value);
  }

  bool ReadFile(const std::string& path, std::string& bytes) override {
    return ReadUpTo(path, kMaxFileBytes, bytes);
  }

  // Loaded only for a simulated legacy machine: written only when a run is about to load it.
  bool WritesLibraryAtStart() override { return false; }

  std::string_view EmbeddedLibraryImage() override {
    const char* begin = corvane_library_image;
    const char* end = corvane_library_image_end;
    if (begin == nullptr || end == nullptr || end <= begin) return {};
    return {begin, static_cast<std::size_t>(end - begin)};
  }

  // A folder of this user's alone, never one where another user could plant a library that a
  // run as root would load; the file is written, checked and loaded through descriptors, never
  // through a path looked up again.
  std::string WriteLibraryFile(std::string_view image, std::vector<std::string>& notes) override {
    if (image.empty()) {
      notes.emplace_back("this executable carries no management library");
      return {};
    }
    std::string folder;
    const int folderFd = OpenLibraryFolder(Environment("XDG_RUNTIME_DIR"), folder, notes);
    if (folderFd < 0) return {};
    std::string path = folder + "/" + kLibraryFileName;
    std::string failure;
    const int fd = WriteLibraryInto(folderFd, image, failure);
    close(folderFd);
    if (fd < 0) {
      notes.push_back("the management library could not be written to '" + path + "': " + failure);
      return {};
    }
    // The loader takes the file through its descriptor: /proc must show it.
    const std::string loadName = "/proc/self/fd/" + std::to_string(fd);
    struct stat shown {};
    if (stat(loadName.c_str(), &shown) != 0 || !SameObject(shown, fd)) {
      close(fd);
      notes.push_back("the management library in '" + path + "' cannot be loaded through " +
                      loadName + " (is /proc mounted?)");
      return {};
    }
    if (libraryFd_ >= 0) close(libraryFd_);
    libraryFd_ = fd;
    PinLibraryFile(path, loadName);
    return path;
  }

 private:
  // open, read to the end or past limit, close: the firmware-attributes provider reads hundreds
  // of small files per run, and the C streams add a status call and a read to each.
  static bool ReadUpTo(const std::string& path, std::size_t limit, std::string& bytes) {
    return ReadFd(path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY), limit,
                  bytes);
  }

  // The library file last written, kept open for its load.
  int libraryFd_ = -1;

  static std::uint32_t Pack(unsigned high, unsigned low) {
    return ((static_cast<std::uint32_t>(high) & 0xFFFF) << 16) |
           (static_cast<std::uint32_t>(low) & 0xFFFF);
  }
};

// The kernel's attribute tree, read and written through descriptors.
class PosixKernelTree final : public KernelTree {
 public:
  PosixKernelTree() = default;
  ~PosixKernelTree() override {
    if (treeFolderFd_ >= 0) close(treeFolderFd_);
  }
  PosixKernelTree(const PosixKernelTree&) = delete;
  PosixKernelTree& operator=(const PosixKernelTree&) = delete;

  bool ListFolder(const std::string& path, std::vector<std::string>& names) override {
    names.clear();
    DIR* folder = path.empty() ? nullptr : opendir(path.c_str());
    if (folder == nullptr) return false;
    errno = 0;
    while (const dirent* entry = readdir(folder)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    const bool complete = errno == 0;
    closedir(folder);
    return complete;
  }

  // stat, not lstat: the class folder holds symbolic links to the driver folders.
  bool GetFileStatus(const std::string& path, FileStatus& status) override {
    struct stat information {};
    if (path.empty() || stat(path.c_str(), &information) != 0) return false;
    status.isFolder = S_ISDIR(information.st_mode);
    status.permissions = static_cast<std::uint32_t>(information.st_mode & 0777);
    return true;
  }

  bool ReadTreeFile(const std::string& base, const std::string& relative,
                    std::string& bytes) override {
    return ReadFd(OpenBelow(base, relative, O_RDONLY), kMaxFileBytes, bytes);
  }

  int WriteTreeFile(const std::string& base, const std::string& relative,
                    std::string_view bytes) override {
    const int fd = OpenBelow(base, relative, O_WRONLY | O_TRUNC);
    if (fd < 0) return errno;
    ssize_t written = 0;
    do {
      written = write(fd, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    int error = 0;
    if (written < 0)
      error = errno;
    else if (static_cast<std::size_t>(written) != bytes.size())
      error = EIO;  // a value taken in part is not the value asked for
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
  }

 private:
  // Opens relative below base, no component below base followed if it is a link; -1 with errno
  // set when it cannot. The folder of the last file opened stays open, so that the files of one
  // attribute cost one open each.
  int OpenBelow(const std::string& base, const std::string& relative, int flags) {
    const std::size_t leafAt = relative.rfind('/') + 1;  // 0 when there is no folder
    std::string folderKey = base;
    folderKey += '\0';
    folderKey.append(relative, 0, leafAt);
    if (treeFolderFd_ < 0 || folderKey != treeFolderKey_) {
      if (treeFolderFd_ >= 0) close(treeFolderFd_);
      treeFolderFd_ = OpenFolderBelow(base, relative.substr(0, leafAt));
      treeFolderKey_ = treeFolderFd_ < 0 ? std::string() : std::move(folderKey);
      if (treeFolderFd_ < 0) return -1;
    }
    const std::string leaf = relative.substr(leafAt);
    if (leaf.empty() || leaf == "." || leaf == "..") {
      errno = EINVAL;
      return -1;
    }
    return openat(treeFolderFd_, leaf.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  }

  // The folder base/folders ("a/b/", or empty), each component opened without following links.
  static int OpenFolderBelow(const std::string& base, const std::string& folders) {
    int folder = base.empty() ? -1 : open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 0;
    while (folder >= 0 && start < folders.size()) {
      const std::size_t slash = folders.find('/', start);
      const std::string name = folders.substr(start, slash - start);
      if (name.empty() || name == "." || name == "..") {
        close(folder);
        errno = EINVAL;
        return -1;
      }
      const int next =
          openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int error = errno;
      close(folder);
      errno = error;
      folder = next;
      start = slash + 1;
    }
    return folder;
  }

  // The tree folder last opened below, and which one it is: base, a NUL, the folders.
  int treeFolderFd_ = -1;
  std::string treeFolderKey_;
};

}  // namespace

std::unique_ptr<Host> CreateNativeHost() {
  return std::make_unique<PosixHost>();
}

std::unique_ptr<KernelTree> CreateNativeKernelTree() {
  return std::make_unique<PosixKernelTree>();
}

}  // namespace corvane::platform
