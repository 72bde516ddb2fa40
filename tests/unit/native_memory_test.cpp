// The platform's own physical memory, which no simulated machine reaches: a firmware text is
// read through it only where the system lets the program map it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "firmware/physical_memory_window.h"
#include "platform/physical_memory.h"

namespace corvane {
namespace {
#if defined(_WIN32)
// Wine has no physical-memory section, and Windows refuses it to user programs: the window says
// why in the system's own words, and a firmware text read through it stays as it was.
TEST(NativeMemoryTest, ASectionThatCannotBeOpenedGivesNoView) {
  const std::string reasons[] = {
      "Unable to open \\device\\physicalmemory (status = c0000034)",  // no such object
      "Unable to open \\device\\physicalmemory (status = c0000022)",  // access denied
  };
  for (int i = 0; i < 2; ++i) {  // the second window finds the entry points resolved
    const auto window = platform::MapNativePhysicalMemory(0xF0000, 0xFFFF);
    EXPECT_EQ(window->view(), nullptr);
    EXPECT_EQ(window->address(), 0xF0000u);
    EXPECT_EQ(window->length(), 0xFFFFu);
    EXPECT_NE(std::find(std::begin(reasons), std::end(reasons), window->message()),
              std::end(reasons))
        << window->message();
  }
  platform::InstallPhysicalMemoryMapper({});
  std::string text = "kept";
  firmware::ReadFirmwareText(0xF000E010, text);
  EXPECT_EQ(text, "kept");
}
#else
// A memory device is mapped read-only from the page that holds the address; never /dev/mem here.
TEST(NativeMemoryTest, ADeviceIsMappedFromItsPageAndAnAbsentOneGivesAMessage) {
  const std::string path = ::testing::TempDir() + "corvane_memory_copy";
  {
    std::string bytes(0x13000, '\0');
    bytes.replace(0x11234, 6, "HDA-L");
    std::ofstream(path, std::ios::binary) << bytes;
  }
  const auto window = platform::MapMemoryDevice(path, 0x11234, 0x100);
  ASSERT_NE(window->view(), nullptr) << window->message();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(window->view())), "HDA-L");
  EXPECT_EQ(window->address(), 0x11234u);
  EXPECT_EQ(window->message(), "No Error");
  std::remove(path.c_str());

  const auto absent = platform::MapMemoryDevice(path, 0xF0000, 0xFFFF);
  EXPECT_EQ(absent->view(), nullptr);
  EXPECT_EQ(absent->message().rfind("Unable to open " + path, 0), 0u) << absent->message();
}
#endif

}  // namespace
}  // namespace corvane
