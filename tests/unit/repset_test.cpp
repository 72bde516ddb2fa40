#include <gtest/gtest.h>

#include <optional>

#include "config/configuration_job.h"
#include "driver/result_log.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

using testing::FakeObjectData;
using testing::Int;
using testing::Setting;
using testing::Str;
using testing::Strs;

const FakeObjectData kInterface{{u"lumo_BIOSSettingInterface"},
                                {{u"__RELPATH", Str(u"lumo_BIOSSettingInterface.Name=\"1\"")}}};

FakeObjectData Writable(std::u16string className, const char16_t* name, std::int32_t sequence,
                        std::map<std::u16string, wbem::Variant> properties) {
  properties[u"Name"] = Str(name);
  properties[u"IsReadOnly"] = Int(0);
  properties[u"DisplayInUI"] = Int(1);
  properties[u"Sequence"] = Int(sequence);
  return Setting(std::move(className), std::move(properties));
}

std::string Record(const char* status, const char* name, const char* oldValue,
                   const char* newValue) {
  return log::Format(
      "<SETTING changeStatus=\"%s\" name=\"%s\">\n\t<OLDVALUE><![CDATA[%s]]></OLDVALUE>\n\t"
      "<NEWVALUE><![CDATA[%s]]></NEWVALUE>\n</SETTING>\n",
      status, name, oldValue, newValue);
}

class RepsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wmi::g_jobProbe = {};
    g_resultOverride = 0;
    fake.provider.instances = {
        kInterface,
        Writable(u"Lumo_BIOSEnumeration", u"Serial Port A", 1,
                 {{u"CurrentValue", Str(u"Disable")},
                  {u"PossibleValues", Strs({u"Disable", u"Enable"})}}),
        Writable(u"Lumo_BIOSString", u"Asset Tag", 2, {{u"Value", Str(u"A1")}}),
        Writable(u"Lumo_BIOSInteger", u"Delay", 3,
                 {{u"Value", Str(u"5")}, {u"LowerBound", Int(0)}, {u"UpperBound", Int(10)}}),
        Writable(u"Lumo_BIOSOrderedList", u"Boot Order", 4,
                 {{u"Value", Str(u"A,B,C")}, {u"Elements", Strs({u"A", u"B", u"C"})}}),
        Writable(u"Lumo_BIOSPassword", u"Setup Password", 5, {}),
        Setting(u"Lumo_BIOSString", {{u"Name", Str(u"Locked")}, {u"Value", Str(u"L")}})};
  }
  void TearDown() override {
    wmi::g_jobProbe = {};
    g_resultOverride = 0;
  }

  std::vector<std::string> ReadPending(const std::string& body) {
    host.files["in.ini"] = "English\r\n" + body;
    ConfigurationJob job(nullptr, "", "");
    EXPECT_TRUE(job.ReadConfigFile("in.ini"));
    std::vector<std::string> pending;
    for (std::size_t i = 0; i < job.pendingNames.size(); ++i)
      pending.push_back(job.pendingNames[i] + "|" + job.pendingOldValues[i] + "|" +
                        job.pendingNewValues[i]);
    return pending;
  }

  testing::FakeHost host;
  testing::ScopedFakeProvider fake;
};

TEST_F(RepsetTest, UnusableFilesAreRefusedWithTheirRecordAndCode) {
  const std::string notFound =
      "<ERROR type=\"failure\">REPSET file, 'in.ini' not found or empty.</ERROR>\n";
  const std::string notEnglish =
      "<ERROR type=\"failure\">First line in /REPSET file, 'in.ini' is not 'English'.</ERROR>\n";
  struct Case {
    const char* what;
    std::optional<std::string> bytes;
    std::string message;
    int code;
  } cases[] = {{"trailing blank", "English \nDelay\n\t7\n", notEnglish, 12},
               {"lower case", "english\n", notEnglish, 12},
               {"byte-order mark", "\uFEFFEnglish\n", notEnglish, 12},
               {"empty line first", "\nEnglish\n", notEnglish, 12},
               {"empty file", "", notFound, 11},
               {"missing file", std::nullopt, notFound, 11},
               {"header without line end", "English", "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_resultOverride = 0;
    host.out.clear();
    host.files.clear();
    if (c.bytes) host.files["in.ini"] = *c.bytes;
    ConfigurationJob job(nullptr, "", "");
    EXPECT_EQ(job.ReadConfigFile("in.ini"), c.code == 0);
    EXPECT_EQ(host.out, c.message);
    EXPECT_EQ(g_resultOverride, c.code);
    EXPECT_TRUE(job.pendingNames.empty());
  }
}

TEST_F(RepsetTest, EachBlockKindYieldsItsValueAndOnlyDifferingValidValuesArePending) {
  using Pending = std::vector<std::string>;
  struct Case {
    const char* body;
    Pending pending;
  } cases[] = {
      {"Serial Port A\n\t*Bogus\n\t*Enable\n", {"Serial Port A|Disable|Enable"}},
      {"Serial Port A\n\tDisable\n\t* Enable\n", {}},
      {"Serial Port A\n\tEnable\n", {}},
      {"Serial Port A\n\t*disable\n", {}},
      {"Serial Port A\n\n\t*Enable\n", {}},  // the empty line ends the block
      {"Asset Tag\n\tabc\n\tdef\n", {"Asset Tag|A1|abcdef"}},
      {"Asset Tag\n\tabc\n\n\tdef\n", {"Asset Tag|A1|abc"}},
      {"Asset Tag\n\t  x \n", {"Asset Tag|A1|x "}},
      {"Asset Tag\n", {"Asset Tag|A1|"}},
      {"Asset Tag\n\ta1\n", {}},
      {"Boot Order\n\tB\n\n\tBogus\n\tA\n", {"Boot Order|A,B,C|B,A"}},
      {"Boot Order\n\t  C disabled \n\tA\n", {"Boot Order|A,B,C|C disabled,A"}},
      {"Boot Order\n\ta\n\tB\n", {}},
      {"Boot Order\n\tBogus\n", {}},
      {"Delay\n\t+7\n", {"Delay|5|+7"}},
      {"Delay\n\t12 \n", {}},
      {"Delay\n\t0x10\n", {}},
      {"Delay\n\t12\n", {}},
      {"Delay\n", {"Delay|5|"}},  // no value lines: the empty text converts to 0
      {"Asset Tag\n\tx\nAsset Tag\n\ty\n", {"Asset Tag|A1|x", "Asset Tag|A1|y"}},
      {"\tAsset Tag\n\tx\nAsset Tag \n\tx\nLocked\n\tx\nSetup Password\n\tx\nNobody\n\tx\n", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(ReadPending(c.body), c.pending);
  }
}

TEST_F(RepsetTest, WriteRepsetTextLaysOutEachKindAndLeavesOutWhatCannotBeSet) {
  fake.provider.instances = {
      kInterface,
      Writable(u"Lumo_BIOSEnumeration", u"Mode", 1,
               {{u"CurrentValue", Str(u"fast")},
                {u"PossibleValues", Strs({u" Fast ", u"--", u"-- ", u"", u"FAST", u"Slow"})}}),
      Writable(u"Lumo_BIOSEnumeration", u"Padded", 2,
               {{u"CurrentValue", Str(u"On ")}, {u"PossibleValues", Strs({u"On", u"Off"})}}),
      Writable(u"Lumo_BIOSEnumeration", u"No Choices", 3, {{u"CurrentValue", Str(u"x")}}),
      Writable(u"Lumo_BIOSOrderedList", u"Boot Order", 4,
               {{u"Elements", Strs({u"USB DISABLED", u"--", u"\tHDD "})}}),
      Writable(u"Lumo_BIOSPassword", u"Setup Password", 5, {}),
      Writable(u"Lumo_BIOSInteger", u"Delay", 6, {{u"Value", Str(u" 5 ")}}),
      Setting(u"Lumo_BIOSInteger", {{u"Name", Str(u"Fixed")}, {u"Sequence", Int(7)}}),
      Writable(u"Lumo_BIOSString", u" Tag", 8, {{u"Value", Str(u"  abc  ")}})};
  ConfigurationJob job(nullptr, "", "");
  job.advanced = true;
  std::string text;
  ASSERT_TRUE(job.GetConfigText(text));
  EXPECT_EQ(text,
            "English\n"
            "Mode\n\t*Fast\n\t*FAST\n\tSlow\n"
            "Padded\n\tOn\n\tOff\n"
            "No Choices\n"
            "Boot Order\n\tUSB DISABLED\n\tHDD\n"
            "Delay\n\t 5 \n"
            " Tag\n\tabc\n");
}

TEST_F(RepsetTest, GetConfigToFileWritesACompleteTextThatReadsBackUnchanged) {
  ConfigurationJob job(nullptr, "", "");
  ASSERT_TRUE(job.GetConfigToFile("out.ini"));
  ConfigurationJob reader(nullptr, "", "");
  ASSERT_TRUE(reader.ReadConfigFile("out.ini"));
  EXPECT_TRUE(reader.pendingNames.empty());
  EXPECT_TRUE(reader.ApplyConfig());
  EXPECT_TRUE(fake.provider.calls.empty());

  EXPECT_FALSE(job.GetConfigToFile("dir/"));
  EXPECT_EQ(host.out,
            "<ERROR type=\"failure\">REPSET file, 'dir/' could not be written.</ERROR>\n");

  // Nothing retained and no legacy backend: the good earlier file stays as it was.
  fake.provider.instances = {kInterface};
  host.files["out.ini"] = "earlier";
  ConfigurationJob empty(nullptr, "", "");
  EXPECT_FALSE(empty.GetConfigToFile("out.ini"));
  EXPECT_EQ(host.files["out.ini"], "earlier");
}

TEST_F(RepsetTest, ApplyReportsEachChangeByItsReadBack) {
  // The provider stores a value only when it answers 0.
  std::vector<std::int32_t> returns = {0, 5, 0};
  fake.provider.setBiosSetting = [&](const std::string& name, const std::string& value,
                                     const std::string&) {
    const std::int32_t code = returns[fake.provider.calls.size() - 1];
    for (auto& item : fake.provider.instances)
      if (code == 0 && item.properties.count(u"Name") != 0 &&
          platform::ToNarrow(item.properties[u"Name"].string) == name)
        item.properties[u"Value"] = wbem::Variant::String(platform::ToWide(value));
    return code;
  };
  host.files["in.ini"] = "English\nAsset Tag\n\tnew\nDelay\n\t7\nBoot Order\n\tC\n";
  ConfigurationJob job(nullptr, "", "");
  job.password = "<utf-16/>pw";
  ASSERT_TRUE(job.ReadConfigFile("in.ini"));
  EXPECT_TRUE(job.ApplyConfig());
  EXPECT_EQ(fake.provider.calls,
            (std::vector<std::string>{"Asset Tag|new|<utf-16/>pw", "Delay|7|<utf-16/>pw",
                                      "Boot Order|C|<utf-16/>pw"}));
  EXPECT_EQ(host.out, Record("pass", "Asset Tag", "A1", "new") + Record("fail", "Delay", "5", "7") +
                          Record("pass", "Boot Order", "A,B,C", "C"));
  EXPECT_EQ(g_resultOverride, 13);
}

TEST_F(RepsetTest, ACallThatFailsOutrightIsStillReadBackAndReported) {
  fake.provider.setBiosSetting = [&](const std::string&, const std::string& value,
                                     const std::string&) {
    fake.provider.instances[2].properties[u"Value"] =
        wbem::Variant::String(platform::ToWide(value));
    return 0;
  };
  fake.provider.failingCalls = {"Delay"};
  host.files["in.ini"] = "English\nAsset Tag\n\tnew\nDelay\n\t7\n";
  ConfigurationJob job(nullptr, "", "");
  ASSERT_TRUE(job.ReadConfigFile("in.ini"));
  EXPECT_TRUE(job.ApplyConfig());
  EXPECT_EQ(host.out, Record("pass", "Asset Tag", "A1", "new") + Record("fail", "Delay", "5", "7"));
  EXPECT_EQ(g_resultOverride, 13);
}

TEST_F(RepsetTest, WithoutAnInterfaceInstanceNothingIsSentAndEveryChangeFails) {
  host.files["in.ini"] = "English\nAsset Tag\n\tnew\nSerial Port A\n\t*Enable\n";
  ConfigurationJob job(nullptr, "", "");
  ASSERT_TRUE(job.ReadConfigFile("in.ini"));
  fake.provider.instances.erase(fake.provider.instances.begin());
  EXPECT_FALSE(job.ApplyConfig());
  EXPECT_TRUE(fake.provider.calls.empty());
  EXPECT_EQ(host.out, Record("fail", "Asset Tag", "A1", "new") +
                          Record("fail", "Serial Port A", "Disable", "Enable"));
  EXPECT_EQ(g_resultOverride, 13);
}

}  // namespace
}  // namespace corvane::config
