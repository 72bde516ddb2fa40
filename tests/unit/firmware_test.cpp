#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fake_memory.h"
#include "firmware/boot_device_list.h"
#include "firmware/physical_memory_window.h"
#include "platform/physical_memory.h"

namespace corvane::firmware {
namespace {

using testing::FakeMemory;

// ---- firmware texts ---------------------------------------------------------------------

TEST(FirmwareTextTest, ThePointersHighHalfChoosesTheBank) {
  const struct {
    std::uint32_t pointer;
    std::uint32_t window;  // physical address of the window
  } cases[] = {
      {0xF0001234, 0xF0000},     // a real-mode segment: its top digit
      {0x000F1234, 0xF0000},     // a flat address
      {0x00A01234, 0xF0000},     // above 0x80: the system BIOS bank
      {0x00801234, 0x800000},    // 0x80 is still flat
      {0x0FFF1234, 0xF0000},     // below 0x1000
      {0x10001234, 0x10000000},  // 0x1000 itself
      {0x23451234, 0x20000},     // above 0x1000
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pointer);
    FakeMemory memory;
    memory.Put(c.window + 0x1234, "HDA-L");
    std::string text = "unchanged";
    ReadFirmwareText(c.pointer, text);
    EXPECT_EQ(text, "HDA-L");
    ASSERT_EQ(memory.windows.size(), 1u);
    EXPECT_EQ(memory.windows[0].first, c.window);
    EXPECT_EQ(memory.windows[0].second, 0xFFFFu);
  }
}

TEST(FirmwareTextTest, OnlyPlainTextsWithinTheWindowAreTaken) {
  const struct {
    const char* what;
    std::uint16_t low;
    std::string bytes;
    bool nul;
    const char* expected;
  } cases[] = {
      {"a high byte", 0x100, "USB\x80-FL", true, "unchanged"},
      {"a high byte as the 20th", 0x100, std::string(19, 'A') + "\xC0", true, "unchanged"},
      {"a high byte after the 20th", 0x100, std::string(20, 'A') + "\xC0", true,
       "AAAAAAAAAAAAAAAAAAAA\xC0"},
      {"25 characters", 0x100, "ABCDEFGHIJKLMNOPQRSTUVWXY", true, "ABCDEFGHIJKLMNOPQRSTUVWXY"},
      {"an empty text", 0x100, "", true, ""},
      {"a high byte after the NUL", 0x100, std::string("PCI-A\0\x90", 7), false, "PCI-A"},
      // The copy stops at the window's last byte, 0xFFFE.
      {"a text up to the window's end", 0xFFF8, "BAY-BBAY-B", false, "BAY-BBA"},
      // Offset 0xFFFF lies past a window of 65,535 bytes.
      {"the bank's last byte", 0xFFFF, "X", false, "unchanged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMemory memory;
    memory.Put(0xF0000 + c.low, c.bytes, c.nul);
    std::string text = "unchanged";
    ReadFirmwareText(0xF0000000u | c.low, text);
    EXPECT_EQ(text, c.expected);
  }
}

TEST(FirmwareTextTest, MemoryThatCannotBeMappedLeavesTheTextAlone) {
  FakeMemory memory;
  memory.mapsNothing = true;
  std::string text = "kept";
  ReadFirmwareText(0xF0001234, text);
  EXPECT_EQ(text, "kept");
  const PhysicalMemoryWindow window(0xF0000, 0xFFFF);
  EXPECT_EQ(window.view(), nullptr);
  EXPECT_EQ(window.message(), "nothing here");
}

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
  ReadFirmwareText(0xF000E010, text);
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

// ---- boot-device list -------------------------------------------------------------------

class FakeBootTable final : public BootTableAccess {
 public:
  std::int32_t GetIplDevInfo(std::uint32_t* count, std::uint32_t* priority, std::uint32_t* tag,
                             std::uint32_t* size) override {
    if (!loaded) return 0;
    *count = deviceCount;
    *priority = priorityLength;
    *tag = 0x5A;
    *size = static_cast<std::uint32_t>(table.size()) + extraSize;
    return 1;
  }
  std::int32_t GetIplTableInfo(void* out, std::uint32_t size, std::uint32_t priority,
                               std::uint32_t tag) override {
    EXPECT_EQ(tag, 0x5Au);
    EXPECT_EQ(priority, priorityLength);
    if (!tableReads) return 0;
    std::copy_n(table.begin(), std::min<std::size_t>(size, table.size()),
                static_cast<std::uint8_t*>(out));
    return 1;
  }
  std::int32_t SetIplPriority(const void* out, std::uint32_t priority) override {
    const auto* bytes = static_cast<const std::uint8_t*>(out);
    written.emplace_back(bytes, bytes + priority);
    return 1;
  }

  // Devices 0..n-1 whose code texts sit at 0xF0000 + 0x100 * (i + 1).
  void Devices(std::vector<std::uint8_t> priority, const std::vector<std::string>& codes,
               FakeMemory& memory) {
    priorityLength = priority.size() <= 8 ? 8 : 32;
    deviceCount = static_cast<std::uint32_t>(priority.size());
    table.assign(priorityLength + 16 * codes.size(), 0);
    std::copy(priority.begin(), priority.end(), table.begin());
    for (std::size_t i = 0; i < codes.size(); ++i) {
      const auto pointer = static_cast<std::uint32_t>(0xF0000000u + 0x100 * (i + 1));
      for (int b = 0; b < 4; ++b)
        table[priorityLength + 16 * i + 8 + b] = static_cast<std::uint8_t>(pointer >> (8 * b));
      memory.Put(0xF0000 + 0x100 * static_cast<std::uint32_t>(i + 1), codes[i]);
    }
  }

  bool loaded = true;
  bool tableReads = true;
  std::uint32_t deviceCount = 0;
  std::uint32_t priorityLength = 0;
  std::uint32_t extraSize = 0;
  std::vector<std::uint8_t> table;
  std::vector<std::vector<std::uint8_t>> written;
};

class BootDeviceListTest : public ::testing::Test {
 protected:
  FakeMemory memory;
  FakeBootTable library;
};

TEST_F(BootDeviceListTest, DevicesAreNamedInPriorityOrder) {
  library.Devices({2, 0, 1}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
  BootDeviceList list(&library);
  std::vector<std::string> names;
  EXPECT_TRUE(list.Read(&names));
  EXPECT_EQ(names, (std::vector<std::string>{"USB Floppy", "Hard Drive (C:)", "IDE CD-ROM Drive"}));
}

TEST_F(BootDeviceListTest, EveryCodeHasItsDisplayNameAndAnUnknownOneIsItsOwn) {
  const std::vector<std::pair<std::string, std::string>> codes = {
      {"HDA-L", "Hard Drive (C:)"},
      {"HDB-L", "Notebook Multibay 1"},
      {"HDC-L", "Notebook Multibay 2"},
      {"HDA-E", "Base Left Multibay"},
      {"HDB-E", "Base Right Multibay"},
      {"HDC-E", "Base Upper Right Multibay"},
      {"Intnl", "Network Controller"},
      {"PCI-A", "PCI Slot A"},
      {"PCI-B", "PCI Slot B"},
      {"PCI-C", "PCI Slot C"},
      {"BAY-C", "Hard Drive (C:)"},
      {"BAY-B", "IDE CD-ROM Drive"},
      {"BAY-A", "Notebook Multibay 1"},
      {"USB-CD", "USB CD ROM"},
      {"USB-FL", "USB Floppy"},
      {"USB-HD", "USB Hard Drive"},
      {"USB-LS", "USB LS-120 Drive"},
      {"usb-fl", "usb-fl"},
      {"HDA-L ", "HDA-L "},
  };
  std::vector<std::uint8_t> priority;
  std::vector<std::string> texts, expected;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    priority.push_back(static_cast<std::uint8_t>(i));
    texts.push_back(codes[i].first);
    expected.push_back(codes[i].second);
  }
  library.Devices(priority, texts, memory);
  BootDeviceList list(&library);
  std::vector<std::string> names;
  EXPECT_TRUE(list.Read(&names));
  EXPECT_EQ(names, expected);
}

TEST_F(BootDeviceListTest, ReorderMovesTheNamedDevicesFirstAndEachNameOnce) {
  const struct {
    const char* what;
    std::vector<std::string> requested;
    std::vector<std::uint8_t> priority;
  } cases[] = {
      {"two named", {"IDE CD-ROM Drive", "Hard Drive (C:)"}, {1, 0, 2}},
      {"a repeated name", {"Hard Drive (C:)", "Hard Drive (C:)"}, {0, 2, 1}},
      {"unknown and empty names", {"", "Zip Drive", "IDE CD-ROM Drive"}, {1, 2, 0}},
      {"nothing named", {}, {2, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    library.written.clear();
    library.Devices({2, 0, 1}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
    BootDeviceList list(&library);
    EXPECT_EQ(list.ApplyOrder(c.requested), 1);
    ASSERT_EQ(library.written.size(), 1u);
    std::vector<std::uint8_t> written = library.written[0];
    written.resize(3);
    EXPECT_EQ(written, c.priority);
    EXPECT_EQ(library.written[0].size(), 8u);  // the priority length goes back unchanged
  }
  library.Devices({2, 0, 1}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
  BootDeviceList list(&library);
  list.ApplyOrder({"IDE CD-ROM Drive", "Hard Drive (C:)"});
  EXPECT_EQ(list.names(),
            (std::vector<std::string>{"IDE CD-ROM Drive", "Hard Drive (C:)", "USB Floppy"}));
}

TEST_F(BootDeviceListTest, ANameSharedByTwoDevicesMovesBothOrOneAMention) {
  library.Devices({2, 0, 1, 3}, {"HDA-L", "BAY-B", "USB-FL", "BAY-C"}, memory);
  BootDeviceList list(&library);
  list.ApplyOrder({"Hard Drive (C:)"});
  ASSERT_EQ(library.written.size(), 1u);
  EXPECT_EQ(std::vector<std::uint8_t>(library.written[0].begin(), library.written[0].begin() + 4),
            (std::vector<std::uint8_t>{0, 3, 2, 1}));
  // Given as often as devices share it, each mention takes one device: written back as read,
  // the order stays.
  library.written.clear();
  BootDeviceList again(&library);
  again.ApplyOrder({"USB Floppy", "Hard Drive (C:)", "IDE CD-ROM Drive", "Hard Drive (C:)"});
  ASSERT_EQ(library.written.size(), 1u);
  EXPECT_EQ(std::vector<std::uint8_t>(library.written[0].begin(), library.written[0].begin() + 4),
            (std::vector<std::uint8_t>{2, 0, 1, 3}));
}

TEST_F(BootDeviceListTest, UnreadableDevicesGetEmptyNames) {
  library.Devices({0, 7, 1, 2}, {"HDA-L", "BAY\xA0", "USB-FL"}, memory);
  library.deviceCount = 4;
  BootDeviceList list(&library);
  std::vector<std::string> names;
  EXPECT_TRUE(list.Read(&names));  // a name per position, empty ones included
  EXPECT_EQ(list.names(), (std::vector<std::string>{"Hard Drive (C:)", "", "", "USB Floppy"}));
  EXPECT_EQ(names, (std::vector<std::string>{"Hard Drive (C:)", "USB Floppy"}));
}

TEST_F(BootDeviceListTest, ARecordPastTheTableEndIsNeverRead) {
  // Device 3 is in range, but the table holds records for three devices only.
  library.Devices({3, 0}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
  library.deviceCount = 4;
  BootDeviceList list(&library);
  EXPECT_TRUE(list.Read(nullptr));
  EXPECT_EQ(list.names()[0], "");
  EXPECT_EQ(list.names()[1], "Hard Drive (C:)");
}

TEST_F(BootDeviceListTest, WithoutATableNothingIsWritten) {
  const struct {
    const char* what;
    bool loaded;
    bool tableReads;
    std::uint32_t devices;
    bool read;
  } cases[] = {
      {"library not loaded", false, true, 3, true},
      {"no devices", true, true, 0, true},
      // A failed table read must not send back a priority list of zeros.
      {"a failed table read", true, false, 3, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    library.Devices({2, 0, 1}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
    library.loaded = c.loaded;
    library.tableReads = c.tableReads;
    library.deviceCount = c.devices;
    library.written.clear();
    BootDeviceList list(&library);
    std::vector<std::string> names;
    EXPECT_EQ(list.Read(&names), c.read);
    EXPECT_TRUE(names.empty());
    BootDeviceList fresh(&library);
    EXPECT_EQ(fresh.ApplyOrder({"Hard Drive (C:)"}), 0);
    EXPECT_TRUE(library.written.empty());
  }
  BootDeviceList none(nullptr);
  EXPECT_TRUE(none.Read(nullptr));
  EXPECT_EQ(none.ApplyOrder({"Hard Drive (C:)"}), 0);
}

TEST_F(BootDeviceListTest, ATableThatCannotHoldItsPriorityListIsRefused) {
  const struct {
    const char* what;
    std::uint32_t devices;
    std::uint32_t extraSize;
  } cases[] = {
      {"more devices than bytes", 64, 0},
      {"a size no table has", 3, 0xFFFFFF00u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    library.Devices({2, 0, 1}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
    library.deviceCount = c.devices;
    library.extraSize = c.extraSize;
    library.written.clear();
    BootDeviceList list(&library);
    EXPECT_FALSE(list.Read(nullptr));
    EXPECT_EQ(list.ApplyOrder({"Hard Drive (C:)"}), 0);
    EXPECT_TRUE(library.written.empty());
  }
}

// A table whose priority list is shorter than its device count: the bytes after the list belong
// to the device records and never move into it.
TEST_F(BootDeviceListTest, OnlyThePriorityListIsRearranged) {
  library.priorityLength = 2;
  library.deviceCount = 3;
  library.table.assign(2 + 16 * 3, 0);
  library.table[0] = 2;
  library.table[1] = 0;
  const char* codes[] = {"HDA-L", "BAY-B", "USB-FL"};
  for (std::uint32_t i = 0; i < 3; ++i) {
    const std::uint32_t pointer = 0xF0000000u + 0x100 * (i + 1);
    for (std::uint32_t b = 0; b < 4; ++b)
      library.table[2 + 16 * i + 8 + b] = static_cast<std::uint8_t>(pointer >> (8 * b));
    memory.Put(0xF0000 + 0x100 * (i + 1), codes[i]);
  }
  library.table[2] = 1;  // the first byte of device 0's record, read as a third position
  BootDeviceList list(&library);
  EXPECT_EQ(list.ApplyOrder({"IDE CD-ROM Drive", "Hard Drive (C:)"}), 1);
  ASSERT_EQ(library.written.size(), 1u);
  EXPECT_EQ(library.written[0], (std::vector<std::uint8_t>{0, 2}));
}

TEST_F(BootDeviceListTest, ApplyWithoutPriorityLengthWritesNothing) {
  library.Devices({2, 0, 1}, {"HDA-L", "BAY-B", "USB-FL"}, memory);
  library.priorityLength = 0;
  library.table.assign(3 + 48, 0);
  library.table[0] = 0;
  BootDeviceList list(&library);
  EXPECT_EQ(list.ApplyOrder({"Hard Drive (C:)"}), 0);
  EXPECT_TRUE(library.written.empty());
}

}  // namespace
}  // namespace corvane::firmware
