// The management library of the legacy backend, carried inside the executable and written out
// as a file so that it can be loaded when the provider is absent: at every start where the
// platform asks for it (Windows), else only when the legacy path is about to load it.
#pragma once

#include <string>

namespace corvane::driver {

// The library file of one run.
class ManagementLibrary {
 public:
  // Writes the file at once where the platform writes it at every start.
  ManagementLibrary();

  // The path to load the library from, the file written first when it is not yet; empty when
  // there is no library to load. Each folder or file refused, and each failure, adds one line
  // on standard error saying why.
  const std::string& PathToLoad();
  // The path as far as the run has come: empty while the file is not written.
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  bool written_ = false;
  std::string path_;
};

}  // namespace corvane::driver
