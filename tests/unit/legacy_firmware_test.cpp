#include "sim/legacy_firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {
namespace {

using sim::Json;
using sim::LegacyFirmware;

// A small machine: a text table, then one object of each kind that the tests write.
// clang-format off
const char* const kSection = R"json({
  "machineId": 1340,
  "systemProduct": "Desk",
  "password": "Ab1",
  "objects": [
    {"kind": "stringtable", "strings": ["English", "Port", "Off", "On", "Tag", "Delay", "Boot",
                                        "HDD", "CD", "CD Disabled", "USB", "Blob", "Time", "Sub"]},
    {"kind": "enum", "name": "Port", "choices": ["Off", "On", 7], "current": "On",
     "menu": ["English", 5]},
    {"kind": "alpha", "name": "Tag", "text": "T-1", "size": 12, "assetTag": true},
    {"kind": "int", "name": "Delay", "minimum": 0, "maximum": 60, "value": 5},
    {"kind": "orderedlist", "name": "Boot", "elements": ["HDD", "CD", 10], "pinned": ["HDD"]},
    {"kind": "binary", "name": "Blob", "bytes": "0102"},
    {"kind": "time", "name": "Time", "text": "08:30"},
    {"kind": "enum_ext", "name": "Port", "subNames": ["Sub"], "choices": ["Off", "On"],
     "readOnly": true},
    {"kind": "ext_int", "name": 4, "subNames": [13, "Sub"], "minimum": -1, "maximum": 1},
    {"kind": "password", "name": "Port"},
    {"kind": "date", "name": "Time", "text": "2024", "writes": "refuse"},
    {"kind": 42, "raw": "0B00FF", "size": 1},
    {"kind": "enum", "raw": "0100010002000300"}
  ]
})json";
// clang-format on

constexpr std::uint16_t kPort = 1, kTag = 2, kDelay = 3, kBoot = 4, kBlob = 5, kTime = 6,
                        kExtEnum = 7, kExtInt = 8, kPasswordObject = 9, kDate = 10, kOdd = 11,
                        kRawEnum = 12;

std::unique_ptr<LegacyFirmware> Load(const Json& section) {
  std::string error;
  auto firmware = LegacyFirmware::Parse(section, error);
  EXPECT_TRUE(firmware) << error;
  return firmware;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The value as a request of `size` bytes gets it; "fails" when the firmware refuses.
std::string ValueOf(const LegacyFirmware& firmware, std::uint16_t index, std::uint32_t size) {
  std::vector<std::uint8_t> buffer(size, 0xEE);
  if (!firmware.Value(index, buffer.data(), size)) return "fails";
  return Hex(buffer);
}

std::string InfoOf(const LegacyFirmware& firmware, std::uint16_t index) {
  std::vector<std::uint8_t> info(22, 0xEE);
  if (!firmware.Info(index, info.data(), 22)) return "fails";
  return Hex(info);
}

bool Write(LegacyFirmware& firmware, std::uint16_t index, const std::string& hex) {
  const std::vector<std::uint8_t> bytes = Bytes(hex);
  return firmware.SetValue(index, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

// The keys of "Ab1" without SHIFT: a, b, 1.
const std::string kKeys = "\x1E\x30\x02";

TEST(LegacyFirmware, RefusesAMalformedSectionWithAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {R"([])", "not an object"},
      {R"({"machineID": 1})", "unknown key \"machineID\""},
      {R"({"machineId": -1})", "\"machineId\" must be an integer from 0 to 4294967295"},
      {R"({"password": "a", "passwordCodes": "1E"})", "either"},
      {R"({"password": "p\u00e4ss"})", "no key types"},
      {R"({"passwordCodes": "1E0"})", "two hexadecimal digits per key"},
      {R"({"wrongPasswordStatus": 256})", "from 0 to 255"},
      {R"({"faults": {"lst": true}})", "unknown fault \"lst\""},
      {R"({"textTable": 0})", "no \"objects\""},
      {R"({"objects": [{"kind": "enum", "name": 1}], "textTable": 0})", "\"stringtable\" object"},
      {R"({"objects": [{"kind": "Enum", "name": 1}]})", "objects[0]: unknown kind \"Enum\""},
      {R"({"objects": [{"kind": 0, "name": 1}]})", "kind name"},
      {R"({"objects": [{"kind": "enum"}]})", "\"name\" is missing"},
      {R"({"objects": [{"kind": "enum", "name": "Port"}]})", "no string table"},
      {R"({"objects": [{"kind": "stringtable", "strings": ["English"]},
                       {"kind": "enum", "name": "english"}]})",
       "objects[1] (\"english\"): \"name\": \"english\" is not a text of the string table"},
      {R"({"objects": [{"kind": "enum", "name": 1, "choices": [70000]}]})", "\"choices\""},
      {R"({"objects": [{"kind": "enum", "name": 1, "choices": [2], "current": "2"}]})",
       "\"current\" is not one of the \"choices\""},
      {R"({"objects": [{"kind": "enum", "name": 1, "text": "x"}]})", "unknown key \"text\""},
      {R"({"objects": [{"kind": "alpha", "name": 1, "text": "abc", "size": 5}]})", "does not fit"},
      {R"({"objects": [{"kind": "alpha", "raw": "00", "name": 1}]})", "not allowed beside"},
      {R"({"objects": [{"kind": "alpha", "raw": "0"}]})", "\"raw\" must be"},
      {R"({"objects": [{"kind": "int", "name": 1, "value": 2147483648}]})", "\"value\""},
      {R"({"objects": [{"kind": "enum", "name": 1, "readOnly": true, "flags": 2}]})", "either"},
      {R"({"objects": [{"kind": "enum", "name": 1, "writes": "deny"}]})", "\"writes\""},
      {R"({"objects": [{"kind": "enum", "name": 1, "menu": [1, 2, 3, 4, 5, 6, 7]}]})", "\"menu\""},
      {R"({"objects": [{"kind": "ext_int", "name": 1, "subNames": [1, 2, 3, 4, 5]}]})",
       "\"subNames\""},
  };
  for (const auto& [text, reason] : cases) {
    std::string error;
    EXPECT_EQ(LegacyFirmware::Parse(Json::parse(text), error), nullptr) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
  }
}

TEST(LegacyFirmware, ServesEveryKindsBufferInformationAndTheList) {
  const auto firmware = Load(Json::parse(kSection));
  // Every buffer starts with the name index; sizes are what each kind holds.
  EXPECT_EQ(ValueOf(*firmware, kPort, 12),
            "0100"
            "0100"
            "020003000700"
            "FFFF");
  EXPECT_EQ(ValueOf(*firmware, kTag, 12),
            "0400"
            "542D31"
            "00000000000000");
  EXPECT_EQ(ValueOf(*firmware, kDelay, 14),
            "0500"
            "00000000"
            "3C000000"
            "05000000");
  EXPECT_EQ(ValueOf(*firmware, kBoot, 10),
            "0600"
            "070008000A00"
            "FFFF");
  EXPECT_EQ(ValueOf(*firmware, kBlob, 4), "0B000102");
  EXPECT_EQ(ValueOf(*firmware, kTime, 8), "0C0030383A333000");
  EXPECT_EQ(ValueOf(*firmware, kExtEnum, 16),
            "01000000"
            "0D00FFFFFFFFFFFF"
            "02000300");
  EXPECT_EQ(ValueOf(*firmware, kExtInt, 22),
            "0400"
            "FFFFFFFF"
            "01000000"
            "00000000"
            "0D000D00FFFFFFFF");
  EXPECT_EQ(ValueOf(*firmware, kPasswordObject, 3), "010000");
  // Requests of any size: cut short, or filled up with zeros.
  EXPECT_EQ(ValueOf(*firmware, kBlob, 0), "");
  EXPECT_EQ(ValueOf(*firmware, kBlob, 1), "0B");
  EXPECT_EQ(ValueOf(*firmware, kBlob, 6), "0B0001020000");
  EXPECT_EQ(ValueOf(*firmware, kOdd, 4), "0B00FF00");
  EXPECT_EQ(ValueOf(*firmware, 0, 7), "0000456E676C69");
  EXPECT_EQ(ValueOf(*firmware, 13, 4), "fails");

  // Information: kind, flags, size, the six menu entries, 0.
  EXPECT_EQ(InfoOf(*firmware, kPort),
            "0000"
            "0000"
            "0C000000"
            "00000500FFFFFFFFFFFFFFFF"
            "0000");
  EXPECT_EQ(InfoOf(*firmware, kTag),
            "0100"
            "0000"
            "0C000000"
            "FFFFFFFFFFFFFFFFFFFFFFFF"
            "0000");
  EXPECT_EQ(InfoOf(*firmware, kExtEnum).substr(0, 16),
            "0900"
            "0200"
            "12000000");
  EXPECT_EQ(InfoOf(*firmware, kOdd).substr(0, 16),
            "2A00"
            "0000"
            "01000000");
  EXPECT_EQ(InfoOf(*firmware, 13), "fails");
  std::uint8_t shortInfo[21] = {};
  EXPECT_FALSE(firmware->Info(kPort, shortInfo, sizeof shortInfo));

  // The list: count, then index, kind and size of each object.
  std::uint32_t bytes = 0;
  ASSERT_TRUE(firmware->ListSize(bytes));
  EXPECT_EQ(bytes, 8u * 13 + 4);
  std::vector<std::uint8_t> list(bytes);
  EXPECT_FALSE(firmware->List(list.data(), bytes - 1));
  ASSERT_TRUE(firmware->List(list.data(), bytes));
  EXPECT_EQ(Hex({list.begin(), list.begin() + 20}),
            "0D000000"
            "0000"
            "0500"
            "4B000000"
            "0100"
            "0000"
            "0C000000");
}

TEST(LegacyFirmware, ListsAndFailuresFollowTheSection) {
  std::uint32_t bytes = 0;
  EXPECT_FALSE(Load(Json::parse(R"({"machineId": 2476})"))->ListSize(bytes));
  ASSERT_TRUE(Load(Json::parse(R"({"objects": []})"))->ListSize(bytes));
  EXPECT_EQ(bytes, 4u);
  const auto failing = Load(Json::parse(R"({"faults": {"list": true, "init": true},
      "objects": [{"kind": "int", "name": 0, "infoFails": true, "valueFails": true}]})"));
  EXPECT_TRUE(failing->initFails());
  std::uint8_t buffer[64] = {};
  EXPECT_TRUE(failing->ListSize(bytes));
  EXPECT_FALSE(failing->List(buffer, sizeof buffer));
  EXPECT_FALSE(failing->Info(0, buffer, 22));
  EXPECT_FALSE(failing->Value(0, buffer, 14));
}

// Each write on a fresh machine: whether the firmware took it, and the value it then serves.
TEST(LegacyFirmware, WritesAreCheckedLikeFirmwareAndKeptInTheSection) {
  struct Case {
    const char* what;
    bool unlock;
    std::uint16_t index;
    const char* written;
    bool taken;
    const char* after;  // the value served afterwards
  };
  const Case cases[] = {
      {"locked while a password is set", false, kPort, "01000000", false, "010001000200030007"},
      {"enum position", true, kPort, "01000200", true, "010002000200030007"},
      {"enum position past the choices", true, kPort, "01000300", false, "010001000200030007"},
      {"another name index", true, kPort, "02000000", false, "010001000200030007"},
      {"only the name index", true, kPort, "0100", false, "010001000200030007"},
      {"read-only", true, kExtEnum, "01000100", false, "010000000D00FFFF"},
      {"refused", true, kDate, "0C003230323500", false, "0C0032303234"},
      {"int within bounds", true, kDelay, "0500 00000000 00000000 3C000000", true,
       "0500 00000000 3C000000 3C000000"},
      {"int bounds written are not looked at", true, kDelay, "0500 05000000 06000000 3D000000",
       false, "0500 00000000 3C000000 05000000"},
      {"text without the padding", true, kTag, "0400 4E4557 202020202020 00", true,
       "0400 4E4557 00000000000000"},
      {"text cut to the field", true, kTag, "0400 4142434445464748494A", true,
       "0400 414243444546474849 00"},
      {"ordered list, the pinned device stays", true, kBoot, "0600 0A00 0800 0700 FFFF", true,
       "0600 0700 0A00 0800 FFFF"},
      {"ordered list with a twin's state", true, kBoot, "0600 0700 0900 0A00 FFFF", true,
       "0600 0700 0900 0A00 FFFF"},
      {"ordered list missing a device", true, kBoot, "0600 0700 0700 0A00 FFFF", false,
       "0600 0700 0800 0A00"},
      {"ordered list with one too many", true, kBoot, "0600 0700 0800 0A00 0700", false,
       "0600 0700 0800 0A00"},
      {"binary, up to its length", true, kBlob, "0B00 AABBCC", true, "0B00 AABB"},
      {"password objects refuse", true, kPasswordObject, "010000", false, "010000"},
      {"raw objects take any bytes", true, kRawEnum, "FFFF", true, "FFFF 0100 0200"},
  };
  const auto compact = [](std::string hex) {
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    return hex;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto firmware = Load(Json::parse(kSection));
    std::uint8_t status = 0;
    if (c.unlock) {
      ASSERT_TRUE(firmware->ChangeLockState(kKeys, 0, status));
    }
    EXPECT_EQ(Write(*firmware, c.index, compact(c.written)), c.taken);
    const std::string after = compact(c.after);
    EXPECT_EQ(ValueOf(*firmware, c.index, static_cast<std::uint32_t>(after.size() / 2)), after);
    EXPECT_EQ(firmware->dirty(), c.taken) << "a change is to be saved";
  }
}

TEST(LegacyFirmware, IgnoredWritesSucceedWithoutAChange) {
  Json section = Json::parse(kSection);
  section.erase("password");
  section["objects"][kPort]["writes"] = "ignore";
  section["objects"][kBoot]["writes"] = "ignore";
  auto firmware = Load(section);
  EXPECT_TRUE(Write(*firmware, kPort, "01000000"));
  EXPECT_FALSE(Write(*firmware, kPort, "01000900"));  // still checked
  EXPECT_TRUE(Write(*firmware, kBoot,
                    "0600"
                    "0700"
                    "0A00"
                    "0800"
                    "FFFF"));
  EXPECT_EQ(ValueOf(*firmware, kPort, 4), "01000100");
  EXPECT_EQ(ValueOf(*firmware, kBoot, 8),
            "0600"
            "0700"
            "0800"
            "0A00");
  EXPECT_FALSE(firmware->dirty());
}

TEST(LegacyFirmware, TheSectionKeepsTheFormItsAuthorGave) {
  Json section = Json::parse(kSection);
  section["writesNeedUnlock"] = false;
  auto firmware = Load(section);
  ASSERT_TRUE(Write(*firmware, kPort, "01000000"));
  EXPECT_EQ(firmware->section()["objects"][kPort]["current"], "Off");
  ASSERT_TRUE(Write(*firmware, kPort, "01000200"));
  EXPECT_EQ(firmware->section()["objects"][kPort]["current"], 2);  // a choice given as a number
  ASSERT_TRUE(Write(*firmware, kBoot,
                    "0600"
                    "0A00"
                    "0900"
                    "0700"
                    "FFFF"));
  EXPECT_EQ(firmware->section()["objects"][kBoot]["elements"],
            Json::parse(R"(["HDD", 10, "CD Disabled"])"));
  ASSERT_TRUE(Write(*firmware, kDelay,
                    "0500"
                    "00000000"
                    "00000000"
                    "07000000"));
  EXPECT_EQ(firmware->section()["objects"][kDelay]["value"], 7);
  ASSERT_TRUE(Write(*firmware, kBlob, "0B00FFEE"));
  EXPECT_EQ(firmware->section()["objects"][kBlob]["bytes"], "FFEE");
  ASSERT_TRUE(Write(*firmware, kTime, "0C0030393A3030"));
  EXPECT_EQ(firmware->section()["objects"][kTime]["text"], "09:00");
  ASSERT_TRUE(Write(*firmware, kRawEnum, "0200"));
  EXPECT_EQ(firmware->section()["objects"][kRawEnum]["raw"], "0200010002000300");
  // Everything else stays as it was, in its order.
  Json expected = section;
  expected.erase("objects");
  Json actual = firmware->section();
  actual.erase("objects");
  EXPECT_EQ(actual.dump(), expected.dump());
  EXPECT_TRUE(firmware->dirty());
  firmware->MarkSaved();
  EXPECT_FALSE(firmware->dirty());
}

TEST(LegacyFirmware, PasswordsAreKeysWithoutShift) {
  auto firmware = Load(Json::parse(kSection));
  EXPECT_TRUE(firmware->passwordSet());
  std::uint8_t status = 0;
  // Unlocking: the keys themselves, exactly; an encoded form is not the password.
  EXPECT_EQ(firmware->ChangeLockState("\x9E\x30\x02", 0, status), 0);
  EXPECT_EQ(status, 128);
  EXPECT_EQ(firmware->ChangeLockState("<kbd/>1E3002", 0, status), 0);
  EXPECT_EQ(status, 128);
  EXPECT_EQ(firmware->ChangeLockState(kKeys, 0, status), 1);
  EXPECT_EQ(status, 0);

  // Changing: the current password exactly; a change to itself is the program's check.
  EXPECT_EQ(firmware->ChangeAdminPassword("\x9E\x30\x02", kKeys), 1);
  EXPECT_EQ(firmware->ChangeAdminPassword(kKeys, kKeys), 0);
  EXPECT_FALSE(firmware->dirty());
  EXPECT_EQ(firmware->ChangeAdminPassword(kKeys, "\x30\x1E"), 0);  // "ba": not the text's keys
  EXPECT_EQ(firmware->section()["passwordCodes"], "301E");
  EXPECT_FALSE(firmware->section().contains("password"));
  EXPECT_EQ(firmware->ChangeAdminPassword("\x30\x1E", ""), 0);
  EXPECT_FALSE(firmware->passwordSet());
  EXPECT_FALSE(firmware->section().contains("passwordCodes"));
  EXPECT_EQ(firmware->ChangeLockState("anything", 0, status), 1);  // no password: unlocks

  // The knobs: a refused change, a change that is not kept, a length limit, another status.
  Json section = Json::parse(kSection);
  section["passwordChangeReturn"] = 5;
  section["wrongPasswordStatus"] = 129;
  firmware = Load(section);
  EXPECT_EQ(firmware->ChangeAdminPassword(kKeys, "\x02"), 5);
  EXPECT_EQ(firmware->ChangeAdminPassword(kKeys, kKeys), 0);
  EXPECT_EQ(firmware->ChangeLockState("x", 0, status), 0);
  EXPECT_EQ(status, 129);
  section.erase("passwordChangeReturn");
  section["ignorePasswordChanges"] = true;
  section["maxPasswordLength"] = 2;
  firmware = Load(section);
  EXPECT_EQ(firmware->ChangeAdminPassword(kKeys, "\x02\x03\x04"), 2);
  EXPECT_EQ(firmware->ChangeAdminPassword(kKeys, "\x02"), 0);
  EXPECT_EQ(firmware->ChangeAdminPassword("\x02", "\x02"), 1);  // the old one is still set
  EXPECT_FALSE(firmware->dirty());
}

// The asset-tag packet: 0xFC, 0, L + 1, the password, 0, the command, 0, 17, the text's
// length, 16 text bytes, 0xCF, 0.
std::vector<std::uint8_t> Packet(const std::string& password, std::uint8_t command,
                                 const std::string& text) {
  std::string packet = "\xFC";
  packet.push_back('\0');
  packet.push_back(static_cast<char>(password.size() + 1));
  packet += password;
  packet.push_back('\0');
  packet.push_back(static_cast<char>(command));
  packet.push_back('\0');
  packet.push_back(17);
  packet.push_back(static_cast<char>(text.size()));
  packet += text.substr(0, 16);
  packet.resize(packet.size() + 16 - std::min<std::size_t>(text.size(), 16), '\0');
  packet += "\xCF";
  packet.push_back('\0');
  return std::vector<std::uint8_t>(packet.begin(), packet.end());
}

TEST(LegacyFirmware, TheSecurityPacketWritesTheAssetTagWhateverTheLock) {
  Json section = Json::parse(kSection);
  section["objects"][kTag]["writes"] = "refuse";
  auto firmware = Load(section);
  std::uint8_t status = 0xEE;
  auto send = [&](std::vector<std::uint8_t> packet) {
    return firmware->SetSecuritySettings(packet.data(), static_cast<std::uint32_t>(packet.size()),
                                         status);
  };
  EXPECT_FALSE(send(Packet(kKeys, 12, "X")));
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(send(Packet("wrong", 13, "X")));
  EXPECT_EQ(status, 128);
  auto broken = Packet(kKeys, 13, "X");
  broken[broken.size() - 2] = 0xCE;
  EXPECT_FALSE(send(broken));
  // Seventeen characters: the packet carries 16, the field holds 9.
  EXPECT_FALSE(send(Packet("<kbd/>1E3002", 13, "X")));
  EXPECT_EQ(status, 128);
  EXPECT_TRUE(send(Packet(kKeys, 13, "ASSET-12345678901")));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ValueOf(*firmware, kTag, 12),
            "0400"
            "41535345542D313233"
            "00");
  EXPECT_EQ(firmware->section()["objects"][kTag]["text"], "ASSET-123");
}

}  // namespace
}  // namespace corvane
