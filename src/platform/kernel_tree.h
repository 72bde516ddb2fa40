// The files of a kernel attribute tree (the firmware-attributes class folder and its drivers'
// folders): all the tree's reader needs, so that it is handed this and never the whole host.
// A simulated kernel implements it over a machine file; tests over files in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {

// What a path names, links followed.
struct FileStatus {
  bool isFolder = false;
  std::uint32_t permissions = 0;  // the POSIX rwx bits (0777); 0444 for a read-only file
};

class KernelTree {
 public:
  virtual ~KernelTree() = default;

  // The names in a folder, without "." and "..", in no particular order; false when it
  // cannot be listed.
  virtual bool ListFolder(const std::string& path, std::vector<std::string>& names) = 0;
  // False when the path names nothing (or cannot be examined).
  virtual bool GetFileStatus(const std::string& path, FileStatus& status) = 0;
  // relative names a file below base, which may be reached through links (the class folder's
  // links to its drivers), while no folder or file below base is followed if it is a link.
  // Reads the file whole, up to kMaxFileBytes; false when it cannot be opened or read.
  virtual bool ReadTreeFile(const std::string& base, const std::string& relative,
                            std::string& bytes) = 0;
  // Writes bytes into a file that exists, in one write, the way a kernel attribute takes a
  // value: nothing is created, renamed or written in pieces. Returns 0, or the C library's
  // error number (EACCES, EINVAL, ENOENT, EIO, ELOOP for a link...) of the step that failed.
  virtual int WriteTreeFile(const std::string& base, const std::string& relative,
                            std::string_view bytes) = 0;
};

// The computer's own tree, for the whole process.
KernelTree& NativeKernelTree();
// A native tree of its own (host_posix.cpp or host_win32.cpp).
std::unique_ptr<KernelTree> CreateNativeKernelTree();

}  // namespace corvane::platform
