// The native writers: the host's whole-file writer, which replaces a regular file, rewrites a
// hard-linked one in place and writes any other target where it is, creating nothing beside it;
// and the kernel tree's one write of an attribute value.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "platform/host.h"
#include "platform/kernel_tree.h"

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

// Each test writes in a folder of its own.
class NativeWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-host-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

class NativeHostInPlace : public NativeWriters, public ::testing::WithParamInterface<Target> {};

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

// A regular file is replaced by a new one with its permission bits, so that a reader that has it
// open never sees a half-written file; one with a second hard link is rewritten in place, so
// that both names keep showing one file.
TEST_F(NativeWriters, ARegularFileIsReplacedAndAHardLinkedOneRewrittenInPlace) {
  struct Case {
    bool linked;
    mode_t mode;
    const char* openReaderSees;  // what a descriptor opened before the write reads afterwards
  };
  const Case cases[] = {{false, 0640, "old"}, {false, 0600, "old"}, {true, 0640, "new text"}};
  const auto host = platform::CreateNativeHost();
  for (const Case& c : cases) {
    const fs::path file = folder_ / "settings.txt";
    const fs::path link = folder_ / "link.txt";
    { std::ofstream(file) << "old"; }
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
    if (c.linked) fs::create_hard_link(file, link);
    const int reader = open(file.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);

    ASSERT_TRUE(host->WriteWholeFile(file.string(), "new text", /*textMode=*/false));

    EXPECT_EQ(Drain(reader), c.openReaderSees) << c.linked << " " << c.mode;
    close(reader);
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.mode);
    std::ifstream written(c.linked ? link : file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "new text");
    fs::remove(file);
    fs::remove(link);
  }
}

// A signal that arrives while a kernel attribute has no room for the value yet interrupts the
// write before it takes anything: the write is made again, and the value arrives whole, once.
TEST_F(NativeWriters, AnInterruptedTreeWriteIsMadeAgain) {
  const fs::path value = folder_ / "current_value";
  ASSERT_EQ(mkfifo(value.c_str(), 0600), 0);
  const int reader = open(value.c_str(), O_RDONLY | O_NONBLOCK);
  const int filler = open(value.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_GE(filler, 0);
  const std::string block(4096, 'x');
  std::size_t filled = 0;
  for (ssize_t count = 0; (count = write(filler, block.data(), block.size())) > 0;)
    filled += static_cast<std::size_t>(count);
  close(filler);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = [](int) {};  // without SA_RESTART: a blocked write ends with EINTR
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &ignore, &previous), 0);

  const pthread_t writer = pthread_self();
  std::atomic<bool> written{false};
  std::string arrived;
  std::thread drain([&] {
    for (int i = 0; i < 20; ++i) {
      pthread_kill(writer, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    char buffer[4096];
    for (;;) {
      const ssize_t count = read(reader, buffer, sizeof buffer);
      if (count > 0)
        arrived.append(buffer, static_cast<std::size_t>(count));
      else if (written)
        break;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const auto tree = platform::CreateNativeKernelTree();
  const int error = tree->WriteTreeFile(folder_.string(), "current_value", "Enabled\n");
  written = true;
  drain.join();
  sigaction(SIGUSR1, &previous, nullptr);
  close(reader);

  EXPECT_EQ(error, 0);
  EXPECT_EQ(arrived.substr(filled), "Enabled\n");
}

}  // namespace
}  // namespace corvane
