#include "driver/library_extraction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"

namespace corvane {
namespace {

constexpr const char* kPath = "/run/user/1000/corvane/Tarnix.dll";

TEST(LibraryExtraction, ThePathIsTheFolderAndTheFileName) {
  testing::FakeHost host;
  EXPECT_EQ(driver::BuildLibraryPath(), kPath);
  host.libraryFolder = "C:\\Users\\Admin\\AppData\\Local\\Temp\\";
  EXPECT_EQ(driver::BuildLibraryPath(), "C:\\Users\\Admin\\AppData\\Local\\Temp\\Tarnix.dll");
  // No folder that is safe to use: no path, and nothing is written.
  host.libraryFolder.clear();
  EXPECT_EQ(driver::BuildLibraryPath(), "");
  driver::WriteManagementLibrary("");
  EXPECT_TRUE(host.fileOperations.empty());
}

// Delete, check, create new, one write, delete on a failed write; every failure silent.
TEST(LibraryExtraction, WritesTheImageOnlyWhereNothingIsLeftInTheWay) {
  struct Case {
    const char* what;
    void (*setUp)(testing::FakeHost&);
    const char* fileAfter;  // nullptr: no file
    std::vector<std::string> operations;
  };
  const std::string remove = std::string("remove ") + kPath;
  const std::string create = std::string("create ") + kPath;
  const Case cases[] = {
      {"a stale file is replaced",
       [](testing::FakeHost& h) { h.files[kPath] = "old"; },
       "\x7F"
       "ELF library",
       {remove, remove, create}},
      {"no file before",
       [](testing::FakeHost&) {},
       "\x7F"
       "ELF library",
       {remove, remove, create}},
      {"a file held by a running instance is used as it is",
       [](testing::FakeHost& h) {
         h.files[kPath] = "old";
         h.heldFiles.insert(kPath);
       },
       "old",
       {remove}},
      {"no image in the executable",
       [](testing::FakeHost& h) { h.libraryImage.clear(); },
       nullptr,
       {remove}},
      {"the file cannot be created",
       [](testing::FakeHost& h) { h.createFails = true; },
       nullptr,
       {remove, remove, create}},
      {"a failed write deletes the file",
       [](testing::FakeHost& h) { h.writeFails = true; },
       nullptr,
       {remove, remove, create, remove}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeHost host;
    c.setUp(host);
    driver::WriteManagementLibrary(kPath);
    if (c.fileAfter == nullptr)
      EXPECT_EQ(host.files.count(kPath), 0u);
    else
      EXPECT_EQ(host.files[kPath], c.fileAfter);
    EXPECT_EQ(host.fileOperations, c.operations);
    EXPECT_EQ(host.out + host.err, "");
  }
}

}  // namespace
}  // namespace corvane
