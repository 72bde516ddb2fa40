// The native host's file writer on targets that are not regular files: each is opened and
// written where it is, and nothing is created, renamed or removed beside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "platform/host.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

std::string Drain(int fd) {
  std::string text;
  char buffer[256];
  ssize_t count = 0;
  while ((count = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(count));
  return text;
}

enum class Target { Fifo, LinkToFifo, ProcFdOfPipe };

class NativeHostInPlace : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-host-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_P(NativeHostInPlace, WritesTheTextIntoTheTargetAndMakesNothingBesideIt) {
  const std::string text = "English\nFast Boot\n\t*Disable\n\tEnable\n";
  std::string path;
  int reader = -1;
  int pipeEnds[2] = {-1, -1};
  const fs::path fifo = folder_ / "fifo";
  if (GetParam() == Target::ProcFdOfPipe) {
    ASSERT_EQ(pipe(pipeEnds), 0);
    reader = pipeEnds[0];
    path = "/proc/self/fd/" + std::to_string(pipeEnds[1]);
  } else {
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opened before the write so that the writer's open does not wait for a reader.
    reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    path = fifo.string();
    if (GetParam() == Target::LinkToFifo) {
      fs::create_symlink("fifo", folder_ / "link");
      path = (folder_ / "link").string();
    }
  }
  const std::set<std::string> before = Listing(folder_);

  const auto host = platform::CreateNativeHost();
  ASSERT_TRUE(host->WriteWholeFile(path, text, /*textMode=*/true));

  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  EXPECT_EQ(Drain(reader), text);
  close(reader);
  EXPECT_EQ(Listing(folder_), before);
  if (GetParam() != Target::ProcFdOfPipe) {
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
  }
  if (GetParam() == Target::LinkToFifo) {
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_ / "link")));
  }
}

INSTANTIATE_TEST_SUITE_P(NonRegularTargets, NativeHostInPlace,
                         ::testing::Values(Target::Fifo, Target::LinkToFifo, Target::ProcFdOfPipe));

}  // namespace
}  // namespace corvane
