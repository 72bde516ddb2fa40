#include "driver/library_extraction.h"

#include "platform/host.h"

namespace corvane::driver {
namespace {

constexpr char kLibraryFileName[] = "Tarnix.dll";

}  // namespace

// Without a folder that is safe to use the path stays empty: nothing is written, and the
// binding then loads no library at all.
std::string BuildLibraryPath() {
  const std::string folder = platform::Os().LibraryFolder();
  return folder.empty() ? std::string() : folder + kLibraryFileName;
}

void WriteManagementLibrary(const std::string& libraryPath) {
  if (libraryPath.empty()) return;
  platform::Host& host = platform::Os();
  host.RemoveFile(libraryPath);
  // A file that cannot be deleted (another running instance holds it) is used as it is.
  if (host.FileExists(libraryPath)) return;
  const std::string_view image = host.EmbeddedLibraryImage();
  if (image.empty()) return;
  host.RemoveFile(libraryPath);
  if (host.WriteNewFile(libraryPath, image) == platform::NewFileResult::WriteFailed)
    host.RemoveFile(libraryPath);
}

ManagementLibrary::ManagementLibrary() {
  if (platform::Os().WritesLibraryAtStart()) PathToLoad();
}

const std::string& ManagementLibrary::PathToLoad() {
  if (!written_) {
    written_ = true;
    path_ = BuildLibraryPath();
    WriteManagementLibrary(path_);
  }
  return path_;
}

}  // namespace corvane::driver
