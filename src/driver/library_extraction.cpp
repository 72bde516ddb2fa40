#include "driver/library_extraction.h"

#include <vector>

#include "platform/host.h"

namespace corvane::driver {

ManagementLibrary::ManagementLibrary() {
  if (platform::Os().WritesLibraryAtStart()) PathToLoad();
}

// Without a file that is safe to load the path stays empty, and the binding loads no library:
// the legacy backend is then unavailable for the run, and standard error says why.
const std::string& ManagementLibrary::PathToLoad() {
  if (!written_) {
    written_ = true;
    platform::Host& host = platform::Os();
    std::vector<std::string> notes;
    path_ = host.WriteLibraryFile(host.EmbeddedLibraryImage(), notes);
    for (const std::string& note : notes) host.WriteErr("corvane: " + note + "\n");
  }
  return path_;
}

}  // namespace corvane::driver
