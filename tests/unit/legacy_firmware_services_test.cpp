// What the simulated legacy firmware answers below its system objects: interrupt 0x15, the CMOS
// bytes and the boot-device table, and what it writes back into its section.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/legacy_firmware.h"

namespace corvane {
namespace {

using sim::Json;
using sim::LegacyFirmware;

// clang-format off
const char* const kSection = R"json({
  "password": "Ab1",
  "ownershipString": "Owner",
  "interrupt15": {
    "toggles": {
      "0x46": {"bh": "0x01"},
      "0x61": {"bh": 2},
      "0x78": {"bl": "0x21", "ah": "0x86", "writeTo": "blBit4"},
      "0x79": {"bh": "0x01", "writes": "refuse"},
      "0x7A": {"bh": "0x01", "writes": "ignore"},
      "0x7B": {"bh": "0x05", "carry": true}
    },
    "securityBits": "0x00020000",
    "securitySupported": "0x71800",
    "assetTag": "TAG-1"
  },
  "cmos": {"0x4b": 128, "0x50": "0x17", "0x7B": "0x00", "0x7C": "0x00"},
  "cmosFixedBits": {"0x50": "0x80"},
  "bootDevices": {
    "tableTag": "0x4C5049", "priorityLength": 8, "priority": [2, 0, 7],
    "devices": [{"pointer": "0xF000E010"}, {"pointer": "0x000FE018", "record": "0102030405060708090A0B0C0D0E0F10"},
                {"pointer": 1}]
  }
})json";
// clang-format on

const std::string kKeys = "\x1E\x30\x02";  // a, b, 1

std::unique_ptr<LegacyFirmware> Load(const Json& section) {
  std::string error;
  auto firmware = LegacyFirmware::Parse(section, error);
  EXPECT_TRUE(firmware) << error;
  return firmware;
}

// A register block: EAX at 0, EBX 4, ECX 8, EDX 12, ESI 16, flags 28, data from 32.
struct Block {
  explicit Block(std::size_t size) : bytes(size, 0) {}
  std::uint32_t Get(std::size_t at) const {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
  }
  Block& Set(std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  Block& Text(std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return *this;
  }
  std::uint8_t ah() const { return bytes[1]; }
  std::uint8_t bl() const { return bytes[4]; }
  std::uint8_t bh() const { return bytes[5]; }
  bool carry() const { return (Get(28) & 1) != 0; }
  std::vector<std::uint8_t> bytes;
};

// Function E845h with BL, BH and the code in CX.
Block Toggle(std::uint8_t bl, std::uint16_t code, std::uint8_t bh = 0, std::size_t size = 40) {
  Block block(size);
  block.Set(0, 0xE845).Set(8, code);
  block.bytes[4] = bl;
  block.bytes[5] = bh;
  return block;
}

bool Call(LegacyFirmware& firmware, Block& block, std::uint8_t* status = nullptr) {
  std::uint8_t ignored = 0;
  return firmware.CallInterrupt15(block.bytes.data(),
                                  static_cast<std::uint32_t>(block.bytes.size()),
                                  status != nullptr ? *status : ignored);
}

TEST(LegacyFirmwareServices, RefusesMalformedKeysWithAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"interrupt15": {"toggle": {}}})", "interrupt15: unknown key \"toggle\""},
      {R"({"interrupt15": {"unknownCodes": "AH"}})", "\"carry\" or \"ah\""},
      {R"({"interrupt15": {"toggles": {"70": {}}}})", "toggles[\"70\"]: a code must be"},
      {R"({"interrupt15": {"toggles": {"0x25": {}}}})", "the tags'"},
      {R"({"interrupt15": {"toggles": {"0x46": {}, "0x046": {}}}})", "given twice"},
      {R"({"interrupt15": {"toggles": {"0x46": {"bh": 256}}}})", "\"bh\" must be"},
      {R"({"interrupt15": {"toggles": {"0x46": {"bh": "0x1G"}}}})", "\"bh\" must be"},
      {R"({"interrupt15": {"toggles": {"0x46": {"writeTo": "bl"}}}})", "\"writeTo\""},
      {R"({"interrupt15": {"toggles": {"0x46": {"value": 1}}}})", "unknown key \"value\""},
      {R"({"interrupt15": {"securityBits": 1}})", "needs \"securitySupported\""},
      {R"({"interrupt15": {"assetTag": "0123456789012345678901234567890123456789012345678901234567890123"}})",
       "at most 63"},
      {R"({"interrupt15": {"securityWrites": "no"}})", "\"securityWrites\" must be"},
      {R"({"cmos": {"0x80": 1}})", "cmos[\"0x80\"]: an offset must be"},
      {R"({"cmos": {"0x10": 256}})", "cmos[\"0x10\"] must be"},
      {R"({"cmos": {"0x10": 1, "0x010": 2}})", "given twice"},
      {R"({"cmosFixedBits": []})", "object of bytes by offset"},
      {R"({"faults": {"cmosWrites": ["0x7B", 128]}})", "faults.cmosWrites: a CMOS offset"},
      {R"({"faults": {"iplTable": 1}})", "faults.iplTable must be true or false"},
      {R"({"bootDevices": {}})", "\"devices\" must be an array"},
      {R"({"bootDevices": {"devices": [{"record": "00"}]}})", "16 bytes"},
      {R"({"bootDevices": {"devices": [{"pointer": -1}]}})", "\"pointer\" must be"},
      {R"({"bootDevices": {"devices": [{}], "priority": [0, 1]}})", "as many device indices"},
      {R"({"bootDevices": {"devices": [{}, {}], "priorityLength": 1}})", "from 2 to 65535"},
      {R"({"memory": [{"address": 0, "length": 0}]})", "memory: region 0: a region holds"},
  };
  for (const auto& [text, reason] : cases) {
    std::string error;
    EXPECT_EQ(LegacyFirmware::Parse(Json::parse(text), error), nullptr) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
  }
}

TEST(LegacyFirmwareServices, ToggleReadsAnswerTheirRegistersAndUnknownCodesAsConfigured) {
  struct Case {
    const char* what;
    bool byAh;  // unknownCodes "ah"
    std::uint16_t code;
    std::uint8_t ah, bl, bh;
    bool carry;
  };
  const Case cases[] = {
      {"a toggle", false, 0x46, 0, 0, 1, false},
      {"a toggle that reports only by the carry", false, 0x78, 0x86, 0x21, 0, false},
      {"a toggle read with the carry", false, 0x7B, 0, 0, 5, true},
      {"an unknown code: carry, registers untouched", false, 0x55, 0x86, 0, 0xEE, true},
      {"an unknown code answered by AH alone", true, 0x55, 0x86, 0, 0xEE, false},
      {"a tag code the machine does not have", false, 0x25, 0x86, 0, 0xEE, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Json section = Json::parse(kSection);
    if (c.byAh) section["interrupt15"]["unknownCodes"] = "ah";
    if (c.code == 0x25) section["interrupt15"].erase("assetTag");
    auto firmware = Load(section);
    Block block = Toggle(0, c.code, 0xEE);
    std::uint8_t status = 0xFF;
    ASSERT_TRUE(Call(*firmware, block, &status));
    EXPECT_EQ(block.ah(), c.ah);
    EXPECT_EQ(status, c.ah);
    EXPECT_EQ(block.bl(), c.bl);
    EXPECT_EQ(block.bh(), c.bh);
    EXPECT_EQ(block.carry(), c.carry);
  }
  // Calls that are not made, and calls the firmware does not serve.
  auto firmware = Load(Json::parse(kSection));
  Block small(32);
  small.Set(0, 0xE845);
  std::uint8_t status = 0;
  EXPECT_FALSE(firmware->CallInterrupt15(small.bytes.data(), 31, status));
  EXPECT_EQ(small.Get(28), 0u);
  EXPECT_FALSE(firmware->CallInterrupt15(nullptr, 40, status));
  Block other(40);
  other.Set(0, 0xE801);
  ASSERT_TRUE(Call(*firmware, other));
  EXPECT_TRUE(other.carry());
  EXPECT_EQ(other.ah(), 0x86);
  Block badBl = Toggle(2, 0x46);
  ASSERT_TRUE(Call(*firmware, badBl));
  EXPECT_TRUE(badBl.carry());
  auto bare = Load(Json::parse(R"({"machineId": 2372})"));
  Block none = Toggle(0, 0x46);
  ASSERT_TRUE(Call(*bare, none));
  EXPECT_TRUE(none.carry());
  EXPECT_EQ(none.ah(), 0x86);
}

TEST(LegacyFirmwareServices, ToggleWritesAreStoredAsEachToggleSays) {
  struct Case {
    const char* what;
    std::uint16_t code;
    std::uint8_t written;
    bool carry;
    std::uint8_t bl, bh;  // read afterwards
    const char* key;      // written back, or nullptr
    Json stored;
  };
  const Case cases[] = {
      {"BH is stored, in the form the file gave", 0x46, 0, false, 0, 0, "bh", "0x00"},
      {"a number stays a number", 0x61, 3, false, 0, 3, "bh", 3},
      {"BL bit 4 set, its other bits kept", 0x78, 1, false, 0x31, 0, "bl", "0x31"},
      {"BL bit 4 cleared", 0x78, 0, false, 0x21, 0, nullptr, nullptr},
      {"refused", 0x79, 0, true, 0, 1, nullptr, nullptr},
      {"ignored", 0x7A, 0, false, 0, 1, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto firmware = Load(Json::parse(kSection));
    Block write = Toggle(1, c.code, c.written);
    ASSERT_TRUE(Call(*firmware, write));
    EXPECT_EQ(write.carry(), c.carry);
    Block read = Toggle(0, c.code);
    ASSERT_TRUE(Call(*firmware, read));
    EXPECT_EQ(read.bl(), c.bl);
    EXPECT_EQ(read.bh(), c.bh);
    EXPECT_EQ(firmware->dirty(), c.key != nullptr);
    if (c.key != nullptr) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", c.code);
      EXPECT_EQ(firmware->section()["interrupt15"]["toggles"][code][c.key], c.stored);
    }
  }
}

TEST(LegacyFirmwareServices, TagsTravelInTheirBlocks) {
  auto firmware = Load(Json::parse(kSection));
  // The 32-bit read gives the room of its data field at 32; the 16-bit one gives none.
  for (const std::uint32_t field : {64u, 0u}) {
    Block read = Toggle(0, 0x25, 0, 104);
    read.Set(32, field);
    ASSERT_TRUE(Call(*firmware, read));
    EXPECT_FALSE(read.carry());
    EXPECT_EQ(read.bytes[40], 5);
    EXPECT_EQ(std::string(read.bytes.begin() + 41, read.bytes.begin() + 47),
              std::string("TAG-1\0", 6));
  }
  // A write of 70 characters keeps 63; without the signature it is refused.
  const std::string seventy(70, 'x');
  const auto assetWrite = [&seventy](std::uint32_t signature) {
    Block block = Toggle(1, 0x25, 0, 104);
    block.Set(16, signature).Text(41, seventy.substr(0, 63));
    block.bytes[40] = 63;
    return block;
  };
  const auto ownerWrite = [] {
    Block block = Toggle(1, 0x13, 0, 160);
    return block.Set(16, 0x4351).Text(40, std::string(120, 'o'));
  };
  Block unsigned_ = assetWrite(0);
  ASSERT_TRUE(Call(*firmware, unsigned_));
  EXPECT_TRUE(unsigned_.carry());
  EXPECT_FALSE(firmware->dirty());
  Block write = assetWrite(0x4351);
  ASSERT_TRUE(Call(*firmware, write));
  EXPECT_FALSE(write.carry());
  EXPECT_EQ(firmware->section()["interrupt15"]["assetTag"], seventy.substr(0, 63));
  Block back = Toggle(0, 0x25, 0, 104);
  ASSERT_TRUE(Call(*firmware, back));
  EXPECT_EQ(back.bytes[40], 63);
  EXPECT_EQ(back.bytes[103], 'x');
  // A block with less room gives less of the text.
  Block narrow = Toggle(0, 0x25, 0, 48);
  ASSERT_TRUE(Call(*firmware, narrow));
  EXPECT_EQ(narrow.bytes[40], 7);

  // The owner tag: the text from 40, kept up to 80 characters, served by the library's text too.
  Block owner = ownerWrite();
  ASSERT_TRUE(Call(*firmware, owner));
  EXPECT_FALSE(owner.carry());
  EXPECT_EQ(firmware->Text(sim::SystemText::Ownership), std::string(80, 'o'));
  EXPECT_EQ(firmware->section()["ownershipString"], std::string(80, 'o'));
  Block ownerRead = Toggle(0, 0x13, 0, 60);
  ASSERT_TRUE(Call(*firmware, ownerRead));
  EXPECT_EQ(std::string(ownerRead.bytes.begin() + 40, ownerRead.bytes.end()),
            std::string(19, 'o') + '\0');

  // Refused and ignored tag writes change nothing.
  Json section = Json::parse(kSection);
  section["interrupt15"]["assetTagWrites"] = "refuse";
  section["interrupt15"]["ownerTagWrites"] = "ignore";
  firmware = Load(section);
  Block refused = assetWrite(0x4351);
  ASSERT_TRUE(Call(*firmware, refused));
  EXPECT_TRUE(refused.carry());
  Block ignored = ownerWrite();
  ASSERT_TRUE(Call(*firmware, ignored));
  EXPECT_FALSE(ignored.carry());
  EXPECT_FALSE(firmware->dirty());
}

TEST(LegacyFirmwareServices, SecurityOptionsAreReadAndWrittenWithThePassword) {
  auto firmware = Load(Json::parse(kSection));
  Block read(40);
  read.Set(0, 0xE842);
  ASSERT_TRUE(Call(*firmware, read));
  EXPECT_FALSE(read.carry());
  EXPECT_EQ(read.Get(0), 0x20000u);
  EXPECT_EQ(read.Get(4), 0x71800u);

  // EAX 0x0001E842, EBX the bits, ECX the mask, EDX "SECU", 33 at 32, the password from 40.
  auto write = [](std::uint32_t bits, std::uint32_t mask, const std::string& password) {
    Block block(76);
    block.Set(0, 0x0001E842).Set(4, bits).Set(8, mask).Set(12, 0x53454355).Set(32, 33);
    block.Text(40, password);
    return block;
  };
  struct Case {
    const char* what;
    Block block;
    bool carry;
    std::uint8_t ah;
    std::uint32_t after;
  };
  const Case cases[] = {
      {"the mask's bits change", write(0x40000, 0x60000, kKeys), false, 0, 0x40000},
      {"the other bits stay", write(0x1800, 0x1000, kKeys), false, 0, 0x21000},
      {"a wrong password", write(0x40000, 0x60000, "\x1E\x30"), true, 2, 0x20000},
      {"the password with SHIFT", write(0x40000, 0x60000, "\x9E\x30\x02"), true, 2, 0x20000},
      {"a mask beyond the supported bits", write(1, 1, kKeys), true, 1, 0x20000},
      {"without the signature", Block(write(0, 0x60000, kKeys)).Set(12, 0), true, 1, 0x20000},
      {"another subfunction", Block(write(0, 0x60000, kKeys)).Set(0, 0x0002E842), true, 0x86,
       0x20000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    firmware = Load(Json::parse(kSection));
    Block block = c.block;
    ASSERT_TRUE(Call(*firmware, block));
    EXPECT_EQ(block.carry(), c.carry);
    EXPECT_EQ(block.ah(), c.ah);
    Block after(40);
    after.Set(0, 0xE842);
    ASSERT_TRUE(Call(*firmware, after));
    EXPECT_EQ(after.Get(0), c.after);
  }
  // Written back in the width the file gave.
  firmware = Load(Json::parse(kSection));
  Block change = write(0, 0x60000, kKeys);
  ASSERT_TRUE(Call(*firmware, change));
  EXPECT_EQ(firmware->section()["interrupt15"]["securityBits"], "0x00000000");

  // No password set: none is asked for. The unlock fault refuses even the right one.
  Json section = Json::parse(kSection);
  section.erase("password");
  firmware = Load(section);
  Block free = write(0x800, 0x800, "");
  ASSERT_TRUE(Call(*firmware, free));
  EXPECT_FALSE(free.carry());
  section = Json::parse(kSection);
  section["faults"] = Json::parse(R"({"unlock": true})");
  firmware = Load(section);
  Block refused = write(0x800, 0x800, kKeys);
  ASSERT_TRUE(Call(*firmware, refused));
  EXPECT_EQ(refused.ah(), 2);
}

TEST(LegacyFirmwareServices, CmosBytesKeepTheirFixedBitsAndTheFileItsForms) {
  Json section = Json::parse(kSection);
  section["faults"] = Json::parse(R"({"cmosReads": ["0x10"], "cmosWrites": [17]})");
  auto firmware = Load(section);
  std::uint8_t bytes[2] = {0xEE, 0xEE};
  ASSERT_TRUE(firmware->GetCmos(0x4B, 1, bytes));
  EXPECT_EQ(bytes[0], 0x80);
  ASSERT_TRUE(firmware->GetCmos(0x4F, 2, bytes));
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x17);
  // Refused requests leave the buffer as it was.
  bytes[0] = 0xEE;
  EXPECT_FALSE(firmware->GetCmos(0x7F, 2, bytes));
  EXPECT_FALSE(firmware->GetCmos(0x40, 3, bytes));
  EXPECT_FALSE(firmware->GetCmos(0x40, 0, bytes));
  EXPECT_FALSE(firmware->GetCmos(0x40, 1, nullptr));
  EXPECT_FALSE(firmware->GetCmos(0x0F, 2, bytes));  // touches a failing read
  EXPECT_EQ(bytes[0], 0xEE);
  const std::uint8_t failing[2] = {1, 1};
  EXPECT_FALSE(firmware->SetCmos(0x10, 2, failing));
  EXPECT_FALSE(firmware->SetCmos(0x80, 1, failing));
  EXPECT_FALSE(firmware->dirty());

  // Bit 7 of 0x50 keeps its value; the checksum bytes store what they are given.
  const std::uint8_t usb[1] = {0x80};
  ASSERT_TRUE(firmware->SetCmos(0x50, 1, usb));
  ASSERT_TRUE(firmware->GetCmos(0x50, 1, bytes));
  EXPECT_EQ(bytes[0], 0x00);
  const std::uint8_t sum[2] = {0xFF, 0xEE};
  ASSERT_TRUE(firmware->SetCmos(0x7B, 2, sum));
  const std::uint8_t wol[1] = {0x00};
  ASSERT_TRUE(firmware->SetCmos(0x4B, 1, wol));
  const std::uint8_t fresh[1] = {0x0C};
  ASSERT_TRUE(firmware->SetCmos(0x4C, 1, fresh));
  EXPECT_TRUE(firmware->dirty());
  EXPECT_EQ(firmware->section()["cmos"],
            Json::parse(R"({"0x4b": 0, "0x50": "0x00", "0x7B": "0xFF", "0x7C": "0xEE",
                            "0x4C": "0x0C"})"));
}

TEST(LegacyFirmwareServices, TheBootDeviceTableIsServedAndReordered) {
  auto firmware = Load(Json::parse(kSection));
  std::uint32_t count = 0, length = 0, tag = 0, size = 0;
  ASSERT_TRUE(firmware->IplDevInfo(count, length, tag, size));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(tag, 0x4C5049u);
  EXPECT_EQ(size, 8u + 48);
  std::vector<std::uint8_t> table(size + 1, 0xAA);
  EXPECT_FALSE(firmware->IplTable(table.data(), size - 1, 8, tag));
  EXPECT_FALSE(firmware->IplTable(table.data(), size, 3, tag));
  EXPECT_FALSE(firmware->IplTable(table.data(), size, 8, 1));
  ASSERT_TRUE(firmware->IplTable(table.data(), size + 1, 8, tag));
  const std::vector<std::uint8_t> head(table.begin(), table.begin() + 8);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{2, 0, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  // Records from 8: the pointer over bytes 8 to 11, the rest carried as given.
  EXPECT_EQ(std::vector<std::uint8_t>(table.begin() + 8, table.begin() + 16),
            std::vector<std::uint8_t>(8, 0));
  EXPECT_EQ(std::vector<std::uint8_t>(table.begin() + 16, table.begin() + 20),
            (std::vector<std::uint8_t>{0x10, 0xE0, 0x00, 0xF0}));
  EXPECT_EQ(
      std::vector<std::uint8_t>(table.begin() + 24, table.begin() + 40),
      (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 0x18, 0xE0, 0x0F, 0, 13, 14, 15, 16}));
  EXPECT_EQ(table[56], 0xAA);

  // A new order of the same bytes is taken; anything else is refused.
  std::vector<std::uint8_t> order = table;
  order[0] = 7, order[1] = 7, order[2] = 2;
  EXPECT_FALSE(firmware->SetIplPriority(order.data(), 8));
  order[0] = 0, order[1] = 7, order[2] = 2;
  EXPECT_FALSE(firmware->SetIplPriority(order.data(), 3));
  EXPECT_FALSE(firmware->dirty());
  ASSERT_TRUE(firmware->SetIplPriority(order.data(), 8));
  EXPECT_EQ(firmware->section()["bootDevices"]["priority"], Json::parse("[0, 7, 2]"));
  ASSERT_TRUE(firmware->IplTable(table.data(), size, 8, tag));
  EXPECT_EQ(table[1], 7);

  // The knobs.
  Json section = Json::parse(kSection);
  section["bootDevices"]["writes"] = "ignore";
  firmware = Load(section);
  EXPECT_TRUE(firmware->SetIplPriority(order.data(), 8));
  EXPECT_FALSE(firmware->dirty());
  section["bootDevices"]["writes"] = "refuse";
  section["faults"] = Json::parse(R"({"iplTable": true})");
  firmware = Load(section);
  EXPECT_FALSE(firmware->SetIplPriority(order.data(), 8));
  EXPECT_TRUE(firmware->IplDevInfo(count, length, tag, size));
  EXPECT_FALSE(firmware->IplTable(table.data(), size, 8, tag));
  section["faults"] = Json::parse(R"({"iplInfo": true})");
  EXPECT_FALSE(Load(section)->IplDevInfo(count, length, tag, size));
  EXPECT_FALSE(Load(Json::parse("{}"))->IplDevInfo(count, length, tag, size));
  // Defaults: priority 0, 1, ...; records right after it; tag 1.
  firmware = Load(Json::parse(R"({"bootDevices": {"devices": [{}, {}]}})"));
  ASSERT_TRUE(firmware->IplDevInfo(count, length, tag, size));
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(tag, 1u);
  ASSERT_TRUE(firmware->IplTable(table.data(), size, 2, 1));
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[1], 1);
}

}  // namespace
}  // namespace corvane
