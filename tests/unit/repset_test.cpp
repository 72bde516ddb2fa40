#include <gtest/gtest.h>

#include "config/configuration_job.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "log/result_log.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

using testing::Int;
using testing::Setting;
using testing::Str;
using testing::Strs;

std::string Record(const char* status, const char* name, const char* oldValue,
                   const char* newValue) {
  return log::Format(
      "<SETTING changeStatus=\"%s\" name=\"%s\">\n\t<OLDVALUE><![CDATA[%s]]></OLDVALUE>\n\t"
      "<NEWVALUE><![CDATA[%s]]></NEWVALUE>\n</SETTING>\n",
      status, name, oldValue, newValue);
}

// Each change is reported by what is read back after all calls, whatever its call answered; the
// apply's own result follows the last call whose Return could be read.
TEST(ApplyTest, ReportsEachChangeByItsReadBack) {
  struct Case {
    const char* what;
    std::vector<std::int32_t> returns;  // Return of each call in order
    std::vector<std::string> failingCalls;
    const char* status[3];  // of Asset Tag, Delay and Boot Order
  };
  const Case cases[] = {
      {"Returns 0, 5, 0", {0, 5, 0}, {}, {"pass", "fail", "pass"}},
      {"the last call failing outright", {0, 0, 0}, {"Boot Order"}, {"pass", "pass", "fail"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeHost host;
    testing::ScopedFakeProvider fake;
    wmi::g_jobProbe = {};
    g_resultOverride = 0;
    auto& provider = fake.provider;
    provider.instances = {
        {{u"lumo_BIOSSettingInterface"}, {{u"__RELPATH", Str(u"lumo_BIOSSettingInterface.X")}}},
        Setting(u"Lumo_BIOSString",
                {{u"Name", Str(u"Asset Tag")}, {u"IsReadOnly", Int(0)}, {u"Value", Str(u"A1")}}),
        Setting(u"Lumo_BIOSInteger", {{u"Name", Str(u"Delay")},
                                      {u"IsReadOnly", Int(0)},
                                      {u"Value", Str(u"5")},
                                      {u"UpperBound", Int(10)}}),
        Setting(u"Lumo_BIOSOrderedList", {{u"Name", Str(u"Boot Order")},
                                          {u"IsReadOnly", Int(0)},
                                          {u"Value", Str(u"A,B,C")},
                                          {u"Elements", Strs({u"A", u"B", u"C"})}})};
    provider.failingCalls = c.failingCalls;
    // The provider stores a value only when it answers 0.
    provider.setBiosSetting = [&](const std::string& name, const std::string& value,
                                  const std::string&) {
      const std::int32_t code = c.returns[provider.calls.size() - 1];
      for (auto& item : provider.instances)
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
    EXPECT_EQ(provider.calls,
              (std::vector<std::string>{"Asset Tag|new|<utf-16/>pw", "Delay|7|<utf-16/>pw",
                                        "Boot Order|C|<utf-16/>pw"}));
    EXPECT_EQ(host.out, Record(c.status[0], "Asset Tag", "A1", "new") +
                            Record(c.status[1], "Delay", "5", "7") +
                            Record(c.status[2], "Boot Order", "A,B,C", "C"));
    EXPECT_EQ(g_resultOverride, 13);
    wmi::g_jobProbe = {};
    g_resultOverride = 0;
  }
}

}  // namespace
}  // namespace corvane::config
