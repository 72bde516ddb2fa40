#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/configuration_job.h"
#include "driver/run.h"
#include "fake_firmware.h"
#include "fake_host.h"
#include "fake_library.h"
#include "fake_wbem.h"
#include "legacy/bios_access.h"
#include "legacy/legacy_settings.h"
#include "legacy/sys_obj_table.h"
#include "wmi/wmi_connection.h"

namespace corvane::legacy {
namespace {

using testing::Bytes;
using testing::FakeFirmware;

class LegacyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wmi::g_biosAccessProbe = wmi::g_jobProbe = {};
    ASSERT_EQ(access.LoadManagementLibrary("/lib", 0, 1), 1);
    state.access = &access;
  }
  void TearDown() override { wmi::g_biosAccessProbe = wmi::g_jobProbe = {}; }

  // A string table of the given texts, named by its first text.
  void AddStringTable(const std::vector<std::string>& texts, std::uint16_t flags = kReadOnlyFlag) {
    Bytes value;
    value.u16(0);
    for (const auto& text : texts) value.text(text);
    value.text("");
    firmware.Add(ValueKind::StringTable, value, flags);
  }
  std::int32_t Load() { return LoadLegacySettings(state, password); }
  LegacySetting& Setting(std::size_t i) { return state.legacySettings.at(i); }

  testing::FakeHost host;
  testing::ScopedFakeProvider provider;  // no provider
  testing::FakeLibrary library;
  FakeFirmware firmware{library};
  BiosAccess access;
  LegacyState state;
  std::string password;
  std::string message;
};

// ---- the system-object table ------------------------------------------------------------

class TestObject final : public SysObj {
 public:
  TestObject(ValueKind kind, std::uint16_t nameId, std::uint32_t size, bool present)
      : SysObj({"Test", nameId, 3, 4, 0}), kind_(kind), size_(size), present_(present) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override {
    ++reads;
    if (!present_ || !PrepareValue(access, buffer, size)) return 0;
    WriteU16(buffer, size, 0, row().nameId);
    return 1;
  }
  std::int32_t SetValue(BiosAccess*, const std::uint8_t* buffer, std::uint32_t size, const char*,
                        std::uint32_t) override {
    return AcceptsValue(buffer, size) ? 1 : 0;
  }
  ValueKind GetKind() const override { return kind_; }
  std::uint32_t GetSize(BiosAccess*) override { return size_; }
  static inline int reads = 0;

 private:
  ValueKind kind_;
  std::uint32_t size_;
  bool present_;
};

BuiltInSet g_askedSet = BuiltInSet::None;
std::size_t g_objectCount = 3;

std::vector<std::unique_ptr<SysObj>> MakeTestObjects(BuiltInSet set, std::uint16_t) {
  g_askedSet = set;
  std::vector<std::unique_ptr<SysObj>> objects;
  objects.push_back(std::make_unique<TestObject>(ValueKind::StringTable, 0, 12, true));
  for (std::size_t i = 1; i < g_objectCount; ++i)
    objects.push_back(std::make_unique<TestObject>(ValueKind::Enum, static_cast<std::uint16_t>(i),
                                                   10, i != 1));  // object 1 is absent
  return objects;
}

class BuiltInTableTest : public LegacyTest {
 protected:
  void SetUp() override {
    LegacyTest::SetUp();
    firmware.servesList = false;
    previous = InstallBuiltInObjectMaker(&MakeTestObjects);
    g_objectCount = 3;
    TestObject::reads = 0;
  }
  void TearDown() override {
    InstallBuiltInObjectMaker(previous);
    LegacyTest::TearDown();
  }
  BuiltInObjectMaker previous = nullptr;
};

TEST_F(LegacyTest, TableHandsEveryOperationToALibraryThatServesItsOwnList) {
  firmware.Add(ValueKind::Enum, Bytes().u16(7).u16(0).u16(38).u16(0xFFFF));
  SysObjTable table(&access);
  std::uint32_t bytes = 0;
  EXPECT_EQ(table.GetSysObjListSize(&bytes), 1);
  EXPECT_TRUE(table.passThrough());
  EXPECT_EQ(bytes, 12u);
  std::uint8_t value[8] = {};
  EXPECT_EQ(table.GetSysObjValue(0, value, 8), 1);
  EXPECT_EQ(value[0], 7);
  EXPECT_EQ(table.SetSysObjValue(0, value, 8, "pw", 2), 1);
  EXPECT_EQ(firmware.calls.back(), "set 0 8");
}

TEST_F(BuiltInTableTest, MachineIdentifierChoosesTheSet) {
  std::vector<std::pair<std::uint32_t, BuiltInSet>> cases = {
      {2476, BuiltInSet::SetB},
      {0x00010000 | 2476, BuiltInSet::SetB},  // low 16 bits only
      {0x00010000 | 1184, BuiltInSet::SetA},
      {0, BuiltInSet::None}};
  // Every identifier of the notebook group; its neighbours outside it belong to no group.
  const std::vector<std::uint32_t> notebooks = {
      1184, 1468, 1780, 1860, 2008, 2032, 2036,  2040,  2080,  2084,  2100,  2188,  2192,
      2236, 2356, 2360, 2368, 2372, 2460, 12424, 12426, 12427, 12430, 12464, 12478, 12481};
  for (const std::uint32_t id : notebooks) {
    cases.emplace_back(id, BuiltInSet::SetA);
    for (const std::uint32_t neighbour : {id - 1, id + 1})
      if (std::find(notebooks.begin(), notebooks.end(), neighbour) == notebooks.end())
        cases.emplace_back(neighbour, BuiltInSet::None);
  }
  cases.emplace_back(2475, BuiltInSet::None);
  cases.emplace_back(2477, BuiltInSet::None);
  for (const auto& [id, set] : cases) {
    SCOPED_TRACE(id);
    library.machineId = id;
    g_askedSet = BuiltInSet::None;
    SysObjTable table(&access);
    std::uint32_t bytes = 0;
    table.GetSysObjListSize(&bytes);
    EXPECT_FALSE(table.passThrough());
    EXPECT_EQ(g_askedSet, set);
  }
}

TEST_F(BuiltInTableTest, PresentObjectsFillTheSlotsInOrder) {
  SysObjTable table(&access);
  std::uint32_t bytes = 0;
  ASSERT_EQ(table.GetSysObjListSize(&bytes), 1);
  EXPECT_EQ(bytes, 8u * 2 + 4);  // the absent object was dropped
  std::vector<std::uint8_t> list(bytes);
  EXPECT_EQ(table.GetSysObjList(list.data(), bytes - 1), 0);
  EXPECT_EQ(table.GetSysObjList(nullptr, bytes), 0);
  ASSERT_EQ(table.GetSysObjList(list.data(), bytes), 1);
  const auto entries = ParseSysObjList(list.data(), list.size());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].index, 1);
  EXPECT_EQ(entries[1].kind, static_cast<std::uint16_t>(ValueKind::Enum));
  EXPECT_EQ(entries[1].size, 10u);

  SysObjInfo info;
  ASSERT_EQ(table.GetSysObjInfo(1, info.bytes.data(), 22), 1);
  EXPECT_EQ(info.kind(), static_cast<std::int16_t>(ValueKind::Enum));
  EXPECT_EQ(info.size(), 10u);
  EXPECT_EQ(info.menu(0), 3);
  EXPECT_EQ(info.menu(1), 4);
  EXPECT_EQ(info.menu(2), kNoString);
  // Only the filled slots answer, and only with room for the whole record.
  EXPECT_EQ(table.GetSysObjInfo(2, info.bytes.data(), 22), 0);
  EXPECT_EQ(table.GetSysObjInfo(1, info.bytes.data(), 21), 0);
  std::uint8_t value[10] = {};
  EXPECT_EQ(table.GetSysObjValue(1, value, 9), 0);  // smaller than the object's size
  EXPECT_EQ(table.GetSysObjValue(1, value, 10), 1);
  EXPECT_EQ(table.SetSysObjValue(1, value, 10, nullptr, 0), 1);
  value[0] = 9;  // another object's name index
  EXPECT_EQ(table.SetSysObjValue(1, value, 10, nullptr, 0), 0);
  EXPECT_EQ(table.GetSysObjValue(5, value, 10), 0);
  // Each object probed the firmware once for its presence, and once per read since.
  EXPECT_EQ(TestObject::reads, 3 + 2);
}

TEST_F(BuiltInTableTest, AStringTableAloneOrAnOverfullSetIsBounded) {
  g_objectCount = 2;  // the string table and an absent object
  {
    SysObjTable table(&access);
    std::uint32_t bytes = 99;
    EXPECT_EQ(table.GetSysObjListSize(&bytes), 0);
    EXPECT_EQ(bytes, 0u);
  }
  g_objectCount = 140;
  SysObjTable table(&access);
  std::uint32_t bytes = 0;
  ASSERT_EQ(table.GetSysObjListSize(&bytes), 1);
  EXPECT_EQ(bytes, 8u * SysObjTable::kCapacity + 4);
}

TEST_F(BuiltInTableTest, ATableWithoutAccessLoadsItsOwnLibrary) {
  library.initArguments.clear();
  SysObjTable table(nullptr);
  std::uint32_t bytes = 0;
  table.GetSysObjListSize(&bytes);
  EXPECT_EQ(library.initArguments, (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(library.loadedPaths.back(), "/opt/corvane/Tarnix.dll");
  ASSERT_NE(table.access(), nullptr);
  EXPECT_NE(table.access(), &access);
}

// ---- reading value buffers ------------------------------------------------------------

TEST_F(LegacyTest, EveryValueBufferIsReadWithinItsSize) {
  struct Case {
    const char* what;
    ValueKind kind;
    std::vector<std::uint8_t> value;
    std::uint16_t flags;
    std::int64_t infoSize;
    bool kept;
    std::vector<std::uint16_t> choices;
    std::string text;
    std::vector<std::string> strings;
  };
  const Case cases[] = {
      {"choices without their end",
       ValueKind::Enum,
       Bytes().u16(1).u16(1).u16(38).u16(39),
       0,
       -1,
       true,
       {38, 39},
       "",
       {}},
      {"an enum of its name alone", ValueKind::Enum, Bytes().u16(1), 0, -1, true, {}, "", {}},
      {"elements without their end",
       ValueKind::OrderedList,
       Bytes().u16(1).u16(5).u16(6),
       0,
       -1,
       true,
       {5, 6},
       "",
       {}},
      {"extended choices cut short",
       ValueKind::EnumExt,
       Bytes().u16(1).u16(0).u16(2).u16(3),
       0,
       -1,
       true,
       {},
       "",
       {}},
      {"alpha without a NUL loses its last byte to one",
       ValueKind::Alpha,
       Bytes().u16(1).text("ABCDE", false),
       0,
       -1,
       true,
       {},
       "ABCD",
       {}},
      {"date without a NUL",
       ValueKind::Date,
       Bytes().u16(1).text("2024-05-06", false),
       0,
       -1,
       true,
       {},
       "2024-05-06",
       {}},
      {"string table running to the end",
       ValueKind::StringTable,
       Bytes().u16(0).text("English").text("Yes", false),
       0,
       -1,
       true,
       {},
       "",
       {"English", "Yes"}},
      {"info size 0", ValueKind::Enum, Bytes().u16(1).u16(0).u16(0xFFFF), 0, 0, false, {}, "", {}},
      {"info size 1", ValueKind::Alpha, Bytes().u16(1), 0, 1, false, {}, "", {}},
      {"read-only info size 0 reads 21 bytes",
       ValueKind::Alpha,
       Bytes().u16(1).text("RO"),
       kReadOnlyFlag,
       0,
       true,
       {},
       "RO",
       {}},
      {"a size no value has",
       ValueKind::Binary,
       Bytes().u16(1),
       0,
       std::int64_t{1} << 31,
       false,
       {},
       "",
       {}},
      {"a kind outside the eleven",
       static_cast<ValueKind>(11),
       Bytes().u16(1).pad(8),
       0,
       -1,
       false,
       {},
       "",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    firmware.objects.clear();
    firmware.calls.clear();
    firmware.Add(c.kind, c.value, c.flags, c.infoSize);
    SysObjTable table(&access);
    const auto setting = ReadLegacySetting(table, {0, 0, 0});
    ASSERT_EQ(setting.has_value(), c.kept);
    if (!c.kept) continue;
    EXPECT_EQ(setting->choiceIds, c.choices);
    EXPECT_EQ(setting->text, c.text);
    EXPECT_EQ(setting->strings, c.strings);
  }
  // The read-only object was read with 21 bytes; sub-names past a short buffer are none.
  firmware.objects.clear();
  firmware.Add(ValueKind::Alpha, Bytes().u16(1).text("RO"), kReadOnlyFlag, 0);
  firmware.Add(ValueKind::ExtInt, Bytes().u16(1).i32(1).i32(9).i32(4), 0, -1);
  firmware.calls.clear();
  SysObjTable table(&access);
  ReadLegacySetting(table, {0, 0, 0});
  EXPECT_EQ(firmware.calls.back(), "get 0 21");
  const auto number = ReadLegacySetting(table, {1, 0, 0});
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->value, 4);
  EXPECT_EQ(number->subNameIds,
            (std::array<std::uint16_t, 4>{kNoString, kNoString, kNoString, kNoString}));
}

TEST_F(LegacyTest, AListIsReadNoFurtherThanItsBytes) {
  AddStringTable({"English"});
  firmware.Add(ValueKind::Int, Bytes().u16(0).i32(0).i32(9).i32(4));
  firmware.claimedCount = 1000;  // more entries than the list holds
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(state.legacySettings.size(), 2u);
}

// ---- loading -----------------------------------------------------------------------------

TEST_F(LegacyTest, ALoadIsUnlockedAndLockedAgainOnEveryPath) {
  AddStringTable({"English"});
  firmware.passwordSet = true;
  firmware.password = "pw";
  password = "\xF0w";  // bit 7 is cleared before use
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(password, "pw");
  EXPECT_EQ(firmware.calls.front(), "unlock pw");
  EXPECT_EQ(firmware.calls.back(), "lock pw");

  // No list: nothing is loaded, and the firmware is not left unlocked.
  firmware.servesList = false;
  firmware.calls.clear();
  state.legacyData.reset();
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(firmware.calls, (std::vector<std::string>{"unlock pw", "lock pw"}));

  // Without a password the lock state is never touched.
  firmware.servesList = true;
  firmware.passwordSet = false;
  firmware.calls.clear();
  state.legacyData.reset();
  ASSERT_EQ(Load(), 1);
  for (const auto& call : firmware.calls) EXPECT_EQ(call.rfind("get", 0), 0u) << call;
}

TEST_F(LegacyTest, LookupsKeepTheirFirstMatchAcrossLargeTables) {
  std::vector<std::string> texts = {"English", "Enable", "Boot", "ENABLE", "Port", "Slot", "Ä"};
  for (int i = 0; i < 3000; ++i) texts.push_back("Text " + std::to_string(i));
  AddStringTable(texts);
  // Two plain settings named Boot, and qualified ones named Port.
  firmware.Add(
      ValueKind::ExtInt,
      Bytes().u16(4).i32(0).i32(9).i32(1).u16(5).u16(kNoString).u16(kNoString).u16(kNoString));
  firmware.Add(ValueKind::Enum, Bytes().u16(2).u16(0).u16(1).u16(0xFFFF));
  firmware.Add(ValueKind::Enum, Bytes().u16(2).u16(0).u16(1).u16(0xFFFF));
  firmware.Add(ValueKind::ExtInt,
               Bytes().u16(4).i32(0).i32(9).i32(1).u16(kNoString).u16(kNoString).u16(kNoString).u16(
                   kNoString));
  ASSERT_EQ(Load(), 1);

  std::uint16_t index = 0;
  ASSERT_TRUE(FindStringIndex(state, "enable", index));
  EXPECT_EQ(index, 1);
  ASSERT_TRUE(FindStringIndex(state, "text 2999", index));
  EXPECT_EQ(index, 3006);
  ASSERT_TRUE(FindStringIndex(state, "Ä", index));
  EXPECT_EQ(index, 6);
  EXPECT_FALSE(FindStringIndex(state, "Enable ", index));
  EXPECT_EQ(LookupString(state, 3), "ENABLE");
  EXPECT_EQ(LookupString(state, 60000), "");

  const std::array<std::uint16_t, 4> slot{5, kNoString, kNoString, kNoString};
  const std::array<std::uint16_t, 4> none{kNoString, kNoString, kNoString, kNoString};
  const std::array<std::uint16_t, 4> other{6, kNoString, kNoString, kNoString};
  EXPECT_EQ(FindLegacySetting(state, 2, &none), 2u);  // other kinds match on the name alone
  EXPECT_EQ(FindLegacySetting(state, 4, &slot), 1u);
  EXPECT_EQ(FindLegacySetting(state, 4, &none), 4u);
  EXPECT_EQ(FindLegacySetting(state, 4, &other), kNoSetting);
  EXPECT_EQ(FindLegacySetting(state, 4, nullptr), 1u);
  EXPECT_EQ(FindLegacySetting(state, 9, nullptr), kNoSetting);
}

// ---- applying ----------------------------------------------------------------------------

TEST(SecurityPacketTest, HoldsThePasswordAndTheFirstSixteenCharacters) {
  const std::vector<std::uint8_t> expected = {0xFC, 0,   3,   'p', 'w', 0,   13,   0,   17,  20,
                                              'A',  'B', 'C', 'D', 'E', 'F', 'G',  'H', 'I', 'J',
                                              'K',  'L', 'M', 'N', 'O', 'P', 0xCF, 0};
  EXPECT_EQ(BuildSecurityPacket(13, "ABCDEFGHIJKLMNOPQRST", "pw"), expected);
  EXPECT_EQ(BuildSecurityPacket(13, "A", "").size(), 26u);
  EXPECT_EQ(BuildSecurityPacket(13, "A", std::string(74, 'x')).size(), 100u);
  EXPECT_TRUE(BuildSecurityPacket(13, "A", std::string(75, 'x')).empty());
}

class LegacyApplyTest : public LegacyTest {
 protected:
  void SetUp() override {
    LegacyTest::SetUp();
    AddStringTable({"English", "Asset Tracking Number", "Boot Order", "A", "B", "C", "Wake Time",
                    "Mode", "On", "Off"});
  }
  std::int32_t Apply(std::size_t i) {
    Setting(i).changed = 1;
    host.out.clear();
    firmware.calls.clear();
    return ApplyLegacySetting(state, Setting(i), password, message);
  }
};

TEST_F(LegacyApplyTest, AWrittenTextKeepsItsClosingNul) {
  firmware.Add(ValueKind::Alpha, Bytes().u16(7).text("ab").pad(8));
  ASSERT_EQ(Load(), 1);
  Setting(1).text = "123456789";
  Apply(1);
  EXPECT_EQ(firmware.objects[1].value,
            (std::vector<std::uint8_t>{7, 0, '1', '2', '3', '4', '5', 0}));
}

// A firmware text that runs on to the buffer's last byte is shown as the field holds it; the
// record read back unchanged, as a file that repeats GetConfig gives it, writes nothing.
TEST_F(LegacyApplyTest, ATextRunningToTheLastByteIsNotWrittenAgainUnchanged) {
  firmware.Add(ValueKind::Alpha, Bytes().u16(7).text("ABCDEFGH", false));
  firmware.Add(ValueKind::Time, Bytes().u16(6).text("12:34:56", false));
  firmware.Add(ValueKind::Time, Bytes().u16(6).text("12:34:5", false).pad(10));
  ASSERT_EQ(Load(), 1);
  const struct {
    std::size_t setting;
    std::string text;  // what the file asks for
    bool written;
  } cases[] = {
      {1, "ABCDEFG", false}, {1, "abcdefg ", false}, {1, "ABCDEFX", true}, {2, "12:34:56", false},
      {2, "12:34:5", false}, {3, "12:34:5", false},  {3, "12:34:6", true},
  };
  for (const auto& c : cases) {
    firmware.objects = {firmware.objects[0], firmware.objects[1], firmware.objects[2],
                        firmware.objects[3]};
    Setting(c.setting).text = c.text;
    Apply(c.setting);
    const bool written = std::count(firmware.calls.begin(), firmware.calls.end(),
                                    "set " + std::to_string(c.setting) + " 10") != 0;
    EXPECT_EQ(written, c.written) << c.text;
    EXPECT_EQ(host.out.empty(), !c.written) << c.text;
  }
}

TEST_F(LegacyApplyTest, AnOrderedListNeverWritesMoreElementsThanItsBufferHolds) {
  firmware.Add(ValueKind::OrderedList, Bytes().u16(2).u16(3).u16(4).u16(5).u16(0xFFFF));
  ASSERT_EQ(Load(), 1);
  Setting(1).choiceIds = {5, 4, 3, 9, 9, 9, 9};
  Apply(1);
  EXPECT_EQ(firmware.objects[1].value,
            (std::vector<std::uint8_t>(Bytes().u16(2).u16(5).u16(4).u16(3).u16(0xFFFF))));
  EXPECT_EQ(firmware.calls[1], "set 1 10");
}

TEST_F(LegacyApplyTest, AFailedReadBackIsNeverTakenForAChange) {
  auto& mode = firmware.Add(ValueKind::Enum, Bytes().u16(7).u16(0).u16(8).u16(9).u16(0xFFFF));
  mode.failsRereads = true;
  auto& order = firmware.Add(ValueKind::OrderedList, Bytes().u16(2).u16(3).u16(4).u16(0xFFFF));
  order.failsRereads = true;
  ASSERT_EQ(Load(), 1);
  Setting(1).currentChoice = 1;
  EXPECT_EQ(Apply(1), 0);
  EXPECT_EQ(host.out,
            "<SETTING changeStatus=\"fail\" name=\"Mode\">\n\t<OLDVALUE>On</OLDVALUE>\n\t"
            "<NEWVALUE>Off</NEWVALUE>\n</SETTING>\n");
  Setting(2).choiceIds = {4, 3};
  EXPECT_EQ(Apply(2), 0);
  EXPECT_EQ(host.out,
            "<SETTING changeStatus=\"failed\" name=\"Boot Order\">\n\t<OLDVALUE><![CDATA[\n\t\tA,"
            "\n\t\tB]]></OLDVALUE>\n\t<NEWVALUE><![CDATA[\n\t\tB,\n\t\tA]]>\n\t</NEWVALUE>\n"
            "</SETTING>\n");
}

TEST_F(LegacyApplyTest, ARefusedPasswordIsReportedOnceAndEveryChangeIsStillTried) {
  firmware.Add(ValueKind::Enum, Bytes().u16(7).u16(0).u16(8).u16(9).u16(0xFFFF));
  firmware.Add(ValueKind::Int, Bytes().u16(7).i32(0).i32(9).i32(1));
  firmware.passwordSet = true;
  firmware.password = "right";
  password = "right";
  ASSERT_EQ(Load(), 1);
  for (std::uint8_t status : {128, 129, 7}) {
    SCOPED_TRACE(status);
    firmware.mismatchStatus = status;
    password = "wrong";
    Setting(1).changed = Setting(2).changed = 1;
    Setting(1).currentChoice = Setting(1).currentChoice == 0 ? 1 : 0;
    Setting(2).value = Setting(2).value + 1;
    host.out.clear();
    firmware.calls.clear();
    EXPECT_EQ(ApplyLegacyChanges(state, password, message), 1);
    const std::string mismatch =
        "<ERROR type=\"failure\">Can't update the replicated setup settings.  The Setup password "
        "does not match.</ERROR>\n";
    EXPECT_EQ(host.out.rfind(mismatch, 0) == 0, status != 7);
    EXPECT_EQ(host.out.find(mismatch, 1), std::string::npos);
    EXPECT_EQ(std::count(firmware.calls.begin(), firmware.calls.end(), "set 1 10"), 1);
    EXPECT_EQ(std::count(firmware.calls.begin(), firmware.calls.end(), "set 2 14"), 1);
    // A refused unlock leaves nothing to lock again.
    EXPECT_NE(firmware.calls.back().rfind("lock", 0), 0u);
    EXPECT_EQ(Setting(1).changed, 0);
  }
}

}  // namespace
}  // namespace corvane::legacy

namespace corvane::config {
namespace {

using legacy::kNoString;
using legacy::kReadOnlyFlag;
using legacy::ValueKind;
using testing::Bytes;

// The RMSET reader's walk, seen through the records it fills.
class LegacyReaderTest : public legacy::LegacyTest {
 protected:
  void SetUp() override {
    LegacyTest::SetUp();
    AddStringTable({"English", "Device", "Slot A", "Slot B", "Off", "On", "Delay", "Order", "A",
                    "A Disabled", "B", "C", "Locked"});
  }
  ConfigurationJob& Read(const std::string& text) {
    host.files["f.txt"] = text;
    job = std::make_unique<ConfigurationJob>(&access, "", "/lib");
    EXPECT_TRUE(job->ReadConfigFile("f.txt"));
    return *job;
  }
  legacy::LegacySetting& Record(std::size_t i) { return job->legacyState.legacySettings.at(i); }
  std::unique_ptr<ConfigurationJob> job;
};

TEST_F(LegacyReaderTest, NumbersAreHeldWithinThirtyTwoBits) {
  firmware.Add(ValueKind::Int, Bytes().u16(6).i32(0).i32(9).i32(1));
  Read("English\nDelay\n\t-99999999999\n\n\t99999999999\n\t3\n\t 7x\n");
  EXPECT_EQ(Record(1).minimum, -2147483647 - 1);
  EXPECT_EQ(Record(1).maximum, 2147483647);
  EXPECT_EQ(Record(1).value, 7);  // the last of the later lines, read up to its first non-digit
}

// A text holding a zero byte would reach the firmware cut short: its block is passed over, the
// record keeps what it held, and the rest of the file still counts.
TEST_F(LegacyReaderTest, ATextWithAZeroByteIsPassedOver) {
  using namespace std::string_literals;
  firmware.Add(ValueKind::Alpha, Bytes().u16(1).text("Old").pad(20));
  firmware.Add(ValueKind::Time, Bytes().u16(6).text("12:00").pad(12));
  firmware.Add(ValueKind::Int, Bytes().u16(7).i32(0).i32(9).i32(1));
  const struct {
    std::string file;
    std::string text;  // of the alpha record
    std::int32_t changed;
  } cases[] = {
      {"English\nDevice\n\tA\0B\nOrder\n\t0\n\t9\n\t4\n"s, "Old", 0},
      {"English\nDevice\n\tNew\nDevice\n\tA\n\t\0\nOrder\n\t0\n\t9\n\t4\n"s, "New", 1},
      {"English\nDevice\n\tA B\nOrder\n\t0\n\t9\n\t4\n"s, "A B", 1},
  };
  for (const auto& c : cases) {
    Read(c.file);
    EXPECT_EQ(Record(1).text, c.text);
    EXPECT_EQ(Record(1).changed, c.changed);
    EXPECT_EQ(Record(3).value, 4);
  }
  Read("English\nDelay\n\t12:\0\n"s);
  EXPECT_EQ(Record(2).text, "12:00");
  EXPECT_EQ(Record(2).changed, 0);
}

}  // namespace
}  // namespace corvane::config

namespace corvane::driver {
namespace {

using legacy::ValueKind;
using testing::Bytes;

class LegacyRunTest : public legacy::LegacyTest {};

// The management library unlocks with the keys the password step accepted, never with the
// provider's encoded Password argument.
TEST_F(LegacyRunTest, SetConfigUnlocksWithThePasswordsKeys) {
  AddStringTable({"English", "Fan", "Off", "On"});
  firmware.Add(ValueKind::Enum, Bytes().u16(1).u16(0).u16(2).u16(3).u16(0xFFFF));
  firmware.passwordSet = true;
  firmware.password = "\x1E\x30";  // the keys a and b
  host.files["f.txt"] = "English\nFan\n\t*On\n";
  std::vector<const char*> args = {"/opt/corvane/corvane", "/cspwd:ab", "/SetConfig:f.txt"};
  EXPECT_EQ(driver::Run(static_cast<int>(args.size()), args.data(), ""), 0);
  EXPECT_EQ(std::count(firmware.calls.begin(), firmware.calls.end(), "unlock \x1E\x30"), 2);
  EXPECT_EQ(std::count(firmware.calls.begin(), firmware.calls.end(), "set 1 10"), 1);
  EXPECT_EQ(host.out.find("does not match"), std::string::npos);
}

}  // namespace
}  // namespace corvane::driver
