// Where the binding looks for the management library: the file named, or the library's own name
// in the folder named, joined with the separator of the system the program runs on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "legacy/bios_access.h"
#include "platform/dynamic_library.h"

namespace corvane {
namespace {

TEST(LibraryBindingTest, AFolderGetsTheLibraryNameAfterOneSeparator) {
  struct Case {
    const char* executable;
    const char* path;  // nullptr: the executable's folder
    const char* loaded;
  };
  const Case cases[] = {
      {"/opt/corvane/corvane", "/run/user/0/corvane", "/run/user/0/corvane/Tarnix.dll"},
      {"/opt/corvane/corvane", "/run/user/0/corvane/", "/run/user/0/corvane/Tarnix.dll"},
      {"/opt/corvane/corvane", nullptr, "/opt/corvane/Tarnix.dll"},
      {"/opt/corvane/corvane", "/tmp/TARNIX.dll", "/tmp/TARNIX.dll"},
      {"C:\\Tools\\Corvane.exe", "C:\\Temp", "C:\\Temp\\Tarnix.dll"},
      {"C:\\Tools\\Corvane.exe", "C:\\Temp\\", "C:\\Temp\\Tarnix.dll"},
      {"C:\\Tools\\Corvane.exe", "C:/Temp/", "C:/Temp/Tarnix.dll"},
      {"C:\\Tools\\Corvane.exe", "\\", "C:\\Tools\\Tarnix.dll"},
  };
  testing::FakeHost host;
  std::vector<std::string> loads;
  platform::InstallLibraryLoader([&](const std::string& path) {
    loads.push_back(path);
    return platform::LibraryPtr();
  });
  for (const Case& c : cases) {
    host.executablePath = c.executable;
    BiosAccess access;
    EXPECT_EQ(access.LoadManagementLibrary(c.path, 0, 1), 0);
    EXPECT_EQ(access.loadedPath(), c.loaded) << (c.path ? c.path : "(executable folder)");
    EXPECT_EQ(loads.back(), c.loaded);
  }
  platform::InstallLibraryLoader({});
}

}  // namespace
}  // namespace corvane
