#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "config/configuration_job.h"
#include "config/setting_model.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

using testing::FakeObject;
using testing::FakeObjectData;
using testing::Int;
using testing::Str;
using testing::Strs;

FakeObject Object(std::map<std::u16string, wbem::Variant> properties) {
  return FakeObject(testing::Setting(u"Lumo_BIOSString", std::move(properties)));
}

TEST(SettingModelTest, SortIsAscendingStableAndPutsUnreadableSequencesLastInQueryOrder) {
  testing::FakeHost host;
  testing::ScopedFakeProvider fake;
  wmi::g_jobProbe = {};
  fake.provider.instances = {
      {{u"lumo_BIOSSettingInterface"}, {{u"__RELPATH", Str(u"lumo_BIOSSettingInterface.X")}}}};
  const std::pair<const char16_t*, std::optional<wbem::Variant>> settings[] = {
      {u"five", Int(5)},       {u"none", std::nullopt},          {u"one-a", Int(1)},
      {u"max", Int(INT_MAX)},  {u"null", wbem::Variant::Null()}, {u"one-b", Int(1)},
      {u"minus-one", Int(-1)}, {u"min", Int(INT_MIN)},           {u"three", Int(3)},
      {u"text", Str(u"7")}};
  for (const auto& [name, sequence] : settings) {
    auto setting =
        testing::Setting(u"Lumo_BIOSString", {{u"Name", Str(name)}, {u"IsReadOnly", Int(0)}});
    if (sequence) setting.properties[u"Sequence"] = *sequence;
    fake.provider.instances.push_back(setting);
  }
  ConfigurationJob job(nullptr, "", "");
  ASSERT_TRUE(job.EnumerateSettings());
  std::vector<std::string> order;
  for (std::size_t i = 0; i < job.settingList.size(); ++i)
    order.push_back(wmi::ReadStringProperty(job.settingList[i], u"Name"));
  EXPECT_EQ(order, (std::vector<std::string>{"min", "minus-one", "one-a", "one-b", "three", "five",
                                             "max", "none", "null", "text"}));
  wmi::g_jobProbe = {};
}

TEST(SettingListTest, FindByNameIsFirstMatchCaseInsensitiveAndUntrimmed) {
  const std::pair<std::optional<std::u16string>, const char16_t*> entries[] = {
      {std::nullopt, u"unnamed"}, {u"Boot Order", u"first"},   {u"BOOT ORDER", u"second"},
      {u"Padded ", u"padded"},    {u"Réglage A", u"accent-a"}, {u"Réglage B", u"accent-b"}};
  SettingList list;
  for (const auto& [name, tag] : entries) {
    FakeObjectData data = testing::Setting(u"Lumo_BIOSString", {{u"Value", Str(tag)}});
    if (name) data.properties[u"Name"] = Str(name->c_str());
    list.Append(std::make_unique<FakeObject>(data));
  }
  using Lookup = std::pair<const char*, const char*>;  // name, Value of the setting found
  const Lookup lookups[] = {{"boot order", "first"},
                            {"Boot Order ", ""},
                            {"Padded ", "padded"},
                            {"Padded", ""},
                            {"", ""},
                            {"réglage b", "accent-b"},
                            {"Réglage C", ""}};
  for (const auto& [name, tag] : lookups) {
    // The literals are UTF-8; the program's narrow text is the code page's.
    wbem::ClassObject* found = list.FindByName(platform::ToNarrow(platform::Utf8ToUtf16(name)));
    EXPECT_EQ(found ? wmi::ReadStringProperty(*found, u"Value") : "", tag) << name;
  }
}

TEST(SettingModelPredicates, IsListedValueTrimsEntriesAndCutsTheDisabledMarker) {
  struct Case {
    std::vector<std::u16string> entries;
    const char* value;
    bool listed;
  } cases[] = {{{u"  Disable  "}, "Disable", true},
               {{u"Disable DISABLED"}, "Disable", true},
               {{u"Network Boot Disabled"}, "network boot", true},
               {{u"  Disable  ", u"Disable DISABLED"}, " Disable", false},
               {{u"Enable"}, "Disable", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    FakeObject setting = Object({{u"PossibleValues", Strs(c.entries)}});
    EXPECT_EQ(IsListedValue(setting, c.value, u"PossibleValues"), c.listed);
  }
  FakeObject bare = Object({});
  EXPECT_FALSE(IsListedValue(bare, "Disable", u"PossibleValues"));
}

TEST(SettingModelPredicates, IsSameOrderComparesTheCommonLengthOfTheSplitList) {
  struct Case {
    const char* list;
    std::vector<std::u16string> elements;
    bool same;
  } cases[] = {{"A,B", {u"a", u"b", u"c"}, true},
               {"A,B", {u"B", u"A", u"C"}, false},
               {"A, ,B", {u"A", u"B", u"Z"}, true},  // the blank item is dropped
               {"A,", {u"A", u"X"}, true},
               {"", {u"X"}, true},
               {"USB Floppy DISABLED", {u"USB Floppy"}, false},
               {"A,B", {u" A\t", u"B\r\n"}, true},
               // Placeholders and empty entries are never written and hold no position.
               {"A,B", {u"A", u"--", u" ", u"B"}, true},
               {"A,B", {u"--", u"A", u"B", u"--"}, true},
               {"B,A", {u"A", u"--", u"B"}, false},
               {"A,--", {u"A", u"--", u"B"}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    FakeObject setting = Object({{u"Elements", Strs(c.elements)}});
    EXPECT_EQ(IsSameOrder(setting, c.list, u"Elements"), c.same);
  }
  FakeObject bare = Object({});
  EXPECT_TRUE(IsSameOrder(bare, "A", u"Elements"));
}

TEST(SettingModelPredicates, IsValidIntegerIsAWholeDecimalWithinBounds) {
  struct Case {
    const char* text;
    std::int32_t lower, upper;
    bool valid;
  } cases[] = {{"+7", 0, 10, true},
               {"-1", 0, 10, false},
               {"99999999999", 0, INT_MAX, false},
               {"2147483647", 0, INT_MAX, true},
               {"2147483648", 0, INT_MAX, false},
               {"-2147483648", INT_MIN, 0, true},
               {"", 0, 10, true},
               {"", 1, 10, false},
               {"+", 0, 10, false},
               {"  ", 0, 10, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FakeObject setting = Object({{u"LowerBound", Int(c.lower)}, {u"UpperBound", Int(c.upper)}});
    EXPECT_EQ(IsValidInteger(setting, c.text), c.valid);
  }
  FakeObject unbounded = Object({{u"UpperBound", wbem::Variant::Null()}});
  EXPECT_TRUE(IsValidInteger(unbounded, "0"));  // missing bounds read as 0..0
  EXPECT_FALSE(IsValidInteger(unbounded, "1"));
}

}  // namespace
}  // namespace corvane::config
