// The simulated machine's physical memory as the program's window maps it, and the sample
// machines whose firmware settings the program reaches without a list of the library's.
#include "sim/simulated_memory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sim/legacy_firmware.h"

namespace corvane {
namespace {

using sim::Json;
using sim::SimulatedMemory;

// clang-format off
const char* const kMemory = R"json([
  {"address": "0xF0000", "length": "0x10000", "contents": [
    {"address": "0xFE010", "text": "HDA-L"},
    {"address": "0xFE018", "bytes": "48C4412D4C00"},
    {"address": "0xFFFFA", "text": "EDGE-"}
  ]},
  {"address": "0x10000000", "length": 32, "contents": [{"address": 268435456, "text": "USB-FL"}]}
])json";
// clang-format on

std::string Bytes(const platform::PhysicalMemoryView& view, std::uint32_t offset,
                  std::size_t count) {
  return std::string(reinterpret_cast<const char*>(view.view()) + offset, count);
}

TEST(SimulatedMemory, MapsRangesInsideARegionAndNothingElse) {
  std::string error;
  const auto memory = SimulatedMemory::Parse(Json::parse(kMemory), error);
  ASSERT_TRUE(memory) << error;

  // The window of bank 15: texts with their NUL, raw bytes as they stand, zeros between.
  auto bank = memory->Map(0xF0000, 0xFFFF);
  ASSERT_NE(bank->view(), nullptr);
  EXPECT_EQ(bank->address(), 0xF0000u);
  EXPECT_EQ(bank->length(), 0xFFFFu);
  EXPECT_EQ(bank->message(), "No Error");
  EXPECT_EQ(Bytes(*bank, 0xE010, 8), std::string("HDA-L\0\0\0", 8));
  EXPECT_EQ(Bytes(*bank, 0xE018, 6), std::string("H\xC4"
                                                 "A-L\0",
                                                 6));
  EXPECT_EQ(Bytes(*bank, 0xFFFA, 5), "EDGE-");  // its NUL is the bank's last byte, past the window
  auto small = memory->Map(0x10000004, 4);
  ASSERT_NE(small->view(), nullptr);
  EXPECT_EQ(Bytes(*small, 0, 3), std::string("FL\0", 3));

  struct Miss {
    std::uint32_t address, length;
    const char* message;
  };
  const Miss misses[] = {
      {0xF0001, 0x10000, "Could not map view of F0001 length 10000 (status = c0000018)"},
      {0x200000, 0xFFFF, "Could not map view of 200000 length FFFF (status = c0000018)"},
      {0xF0000, 0, "Could not map view of F0000 length 0 (status = c0000018)"},
      {0xFFFFFFFF, 2, "Could not map view of FFFFFFFF length 2 (status = c0000018)"},
  };
  for (const Miss& miss : misses) {
    const auto view = memory->Map(miss.address, miss.length);
    EXPECT_EQ(view->view(), nullptr) << miss.message;
    EXPECT_EQ(view->message(), miss.message);
  }
  // A view keeps its bytes after the memory it came from is let go.
  auto kept = SimulatedMemory::Parse(Json::parse(kMemory), error)->Map(0xFE010, 6);
  EXPECT_EQ(Bytes(*kept, 0, 6), std::string("HDA-L\0", 6));
}

TEST(SimulatedMemory, RefusesMalformedRegionsWithAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({})", "an array of regions"},
      {R"([{"address": 0}])", "region 0: a region needs"},
      {R"([{"address": 0, "length": 16, "size": 1}])", "unknown key \"size\""},
      {R"([{"address": 0, "length": "0x1000001"}])", "\"length\" must be"},
      {R"([{"address": "0xFFFFFFF0", "length": 32}])", "ends within 4 GiB"},
      {R"([{"address": 0, "length": 16}, {"address": 8, "length": 16}])", "region 1: it overlaps"},
      {R"([{"address": 0, "length": 16, "contents": [{"address": 12, "text": "abcd"}]}])",
       "contents[0]: it does not lie inside"},
      {R"([{"address": 0, "length": 16, "contents": [{"address": 0, "text": "a", "bytes": "00"}]}])",
       "either \"text\" or \"bytes\""},
      {R"([{"address": 0, "length": 16, "contents": [{"address": 0, "text": "a\u0000"}]}])",
       "without NUL"},
      {R"([{"address": 0, "length": 16, "contents": [{"address": 0, "bytes": "0"}]}])",
       "two hexadecimal digits"},
      {R"([{"address": 0, "length": 16, "contents": [{"address": 0, "text": "abc"},
                                                      {"address": 3, "text": "d"}]}])",
       "contents[1]: it overlaps the entry at 0x0"},
      {R"([16])", "region 0: not an object"},
      {R"([{"address": 0, "length": 16, "contents": {}}])", "\"contents\" must be an array"},
      {R"([{"address": 0, "length": 16, "contents": ["abc"]}])", "contents[0]: not an object"},
      {R"([{"address": 0, "length": 16, "contents": [{"address": 0, "txt": "a"}]}])",
       "contents[0]: unknown key \"txt\""},
      {R"([{"address": 0, "length": 16, "contents": [{"address": "0x1G", "text": "a"}]}])",
       "region 0: contents[0]: \"address\""},
  };
  for (const auto& [text, reason] : cases) {
    std::string error;
    EXPECT_EQ(SimulatedMemory::Parse(Json::parse(text), error), nullptr) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
  }
}

TEST(SimulatedMemory, TheMachinesMemoryBecomesTheProcesssOwn) {
  sim::InstallMemory(Json::parse(std::string(R"({"legacy": {"memory": )") + kMemory + "}}"));
  EXPECT_EQ(Bytes(*platform::MapPhysicalMemory(0xFE010, 6), 0, 5), "HDA-L");
  // A machine without memory has none: nothing reaches the computer's own.
  sim::InstallMemory(Json::parse(R"({"provider": {}})"));
  EXPECT_EQ(platform::MapPhysicalMemory(0xFE010, 6)->view(), nullptr);
  platform::InstallPhysicalMemoryMapper(nullptr);
}

Json Sample(const char* name) {
  std::stringstream text;
  text << std::ifstream(std::string(CORVANE_MACHINES_DIR) + "/" + name, std::ios::binary).rdbuf();
  return Json::parse(text.str());
}

std::uint32_t Word(const Json& value) {
  return value.is_string()
             ? static_cast<std::uint32_t>(std::stoul(value.get<std::string>(), nullptr, 16))
             : value.get<std::uint32_t>();
}

TEST(SampleMachines, TheNotebookAnswersEveryToggleAndNamesEveryBootDevice) {
  const Json section = Sample("legacy-notebook.json")["legacy"];
  std::string error;
  ASSERT_TRUE(sim::LegacyFirmware::Parse(section, error)) << error;
  // The codes of the notebooks' toggles, every one answered without the carry.
  for (const char* code : {"0x46", "0x3E", "0x02", "0x62", "0x49", "0x23", "0x24", "0x3F", "0x39",
                           "0x4A", "0x19", "0x4B", "0x41", "0x61", "0x53", "0x17", "0x67", "0x78",
                           "0x79", "0x7A", "0x7B", "0x7C", "0x7E", "0x6F", "0x83"}) {
    ASSERT_TRUE(section["interrupt15"]["toggles"].contains(code)) << code;
    EXPECT_FALSE(section["interrupt15"]["toggles"][code].value("carry", false)) << code;
  }
  EXPECT_EQ(Word(section["interrupt15"]["securitySupported"]) & 0x71800u, 0x71800u);
  // Each device's pointer leads, by the bank rule, to a code text.
  const auto memory = SimulatedMemory::Parse(section["memory"], error);
  ASSERT_TRUE(memory) << error;
  std::vector<std::string> codes;
  for (const Json& device : section["bootDevices"]["devices"]) {
    const std::uint32_t pointer = Word(device["pointer"]);
    const std::uint32_t high = pointer >> 16;
    const std::uint32_t bank = high <= 0x80     ? high
                               : high < 0x1000  ? 15
                               : high == 0x1000 ? high
                                                : high >> 12;
    const auto window = memory->Map(bank << 16, 0xFFFF);
    ASSERT_NE(window->view(), nullptr);
    codes.emplace_back(reinterpret_cast<const char*>(window->view()) + (pointer & 0xFFFF));
  }
  EXPECT_EQ(codes, (std::vector<std::string>{"HDA-L", "BAY-B", "USB-FL", "Intnl", "USB-HD"}));
}

TEST(SampleMachines, TheMinitowersChecksumIsTheSumOfItsSettingsBytes) {
  const Json section = Sample("legacy-minitower.json")["legacy"];
  std::string error;
  ASSERT_TRUE(sim::LegacyFirmware::Parse(section, error)) << error;
  std::uint32_t sum = 0;
  std::uint32_t stored = 0;
  for (const auto& [key, value] : section["cmos"].items()) {
    const std::uint32_t offset = Word(Json(key));
    if (offset >= 0x40 && offset <= 0x7A) sum += Word(value);
    if (offset == 0x7B) stored |= Word(value) << 8;
    if (offset == 0x7C) stored |= Word(value);
  }
  EXPECT_EQ(sum & 0xFFFF, stored);
  // A byte for every setting the program keeps there.
  for (const char* offset :
       {"0x3E", "0x45", "0x49", "0x4B", "0x4D", "0x50", "0x54", "0x5F", "0x65", "0x66"})
    EXPECT_TRUE(section["cmos"].contains(offset)) << offset;
}

}  // namespace
}  // namespace corvane
