#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/help_text.h"
#include "driver/result_log.h"
#include "driver/run.h"
#include "driver/translate.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

using testing::FakeHost;

std::tm Tm(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::string Record(int real, int translated) {
  return "<Warning msg=\"Tiv return value\" real=\"" + std::to_string(real) + "\" translated=\"" +
         std::to_string(translated) + "\" />\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (std::size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    lines.push_back(text.substr(pos, end - pos));
  if (pos < text.size()) lines.push_back(text.substr(pos));
  return lines;
}

TEST(OpeningElementTest, DescribesOneInstant) {
  struct Case {
    std::tm local, utc;
    bool hasVersion;
    const char* expected;
  };
  const Case cases[] = {
      {Tm(2026, 12, 31, 23, 59, 59), Tm(2026, 12, 31, 22, 59, 59), true,
       "Version=\"2.12.0.3\" Computername=\"TESTBOX\" Date=\"2026/12/31\" Time=\"23:59:59\" "
       "UTC=\"1\" >\n"},
      {Tm(2026, 3, 2, 0, 30, 0), Tm(2026, 3, 1, 23, 30, 0), true,
       "Date=\"2026/03/02\" Time=\"00:30:00\" UTC=\"-23\" >\n"},
      {Tm(2026, 6, 5, 19, 30, 0), Tm(2026, 6, 6, 0, 30, 0), false,
       "Version=\"0.0.0.0\" Computername=\"TESTBOX\" Date=\"2026/06/05\" Time=\"19:30:00\" "
       "UTC=\"19\" >\n"},
      {Tm(2026, 1, 1, 23, 0, 0), Tm(2026, 1, 1, 0, 0, 0), true, "UTC=\"23\" >\n"},
  };
  for (const Case& c : cases) {
    FakeHost host;
    host.clock = {c.local, c.utc};
    host.hasVersion = c.hasVersion;
    log::WriteOpeningElement();
    EXPECT_EQ(host.out.rfind("<BIOSCONFIG Version=\"", 0), 0u) << host.out;
    EXPECT_NE(host.out.find(c.expected), std::string::npos) << host.out;
    EXPECT_EQ(Lines(host.out).size(), 1u);
  }
}

TEST(ErrorMapPathTest, LiesBesideTheExecutable) {
  EXPECT_EQ(driver::ErrorMapPath("/opt/corvane/corvane"), "/opt/corvane/TivErr.cfg");
  EXPECT_EQ(driver::ErrorMapPath("C:\\Tools\\Corvane.exe"), "C:\\Tools\\TivErr.cfg");
  EXPECT_EQ(driver::ErrorMapPath("  C:\\Tools\\Corvane.exe"), "C:\\Tools\\TivErr.cfg");
  EXPECT_EQ(driver::ErrorMapPath("/corvane"), "/TivErr.cfg");
  EXPECT_EQ(driver::ErrorMapPath("corvane"), "");  // no directory: no map at all
  EXPECT_EQ(driver::ErrorMapPath(""), "");
}

// A run against the fake host with no provider, so that nothing real is reached.
struct RunResult {
  int code = 0;
  std::string out;
  std::string err;
};

RunResult RunWith(FakeHost& host, std::vector<const char*> args) {
  testing::ScopedFakeProvider provider;
  provider.provider.connects = false;
  wmi::g_biosAccessProbe = {};  // answers cached by earlier tests must not leak in
  wmi::g_jobProbe = {};
  args.insert(args.begin(), "/opt/corvane/corvane");
  RunResult result;
  result.code = driver::Run(static_cast<int>(args.size()), args.data(), "");
  result.out = host.out;
  result.err = host.err;
  return result;
}

TEST(RunTest, HelpTextIsPrintedByteForByte) {
  FakeHost host;
  const RunResult result = RunWith(host, {});
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 48u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "Lumoria BIOS Configuration Utiltiy");
  EXPECT_EQ(lines[13], "     /Format:REPSET\t\t- Specifies the GETCONFIG output format.");
  EXPECT_EQ(lines[28], "           scan codes.  If a character does not map directly to a scan ");
  EXPECT_EQ(lines[34],
            "   q w e r t y u i o p [ ] \\  <KEYPAD 7>  <KEYPAD 8> <KEYPAD 9> <KEYPAD *> ");
  EXPECT_EQ(lines[42], "~ ! @ # $ % ^ & * ( ) _ +     ");
  EXPECT_EQ(lines[45], "     Z X C V B N M <LT> <GT>  ");
  EXPECT_EQ(lines[46], "");
  EXPECT_EQ(lines[47] + "\n", Record(17, 17));
  EXPECT_EQ(result.code, 17);
  EXPECT_EQ(result.err, "");
}

TEST(RunTest, FrameworkFailureWritesOnlyTheRecordOnStandardOutput) {
  FakeHost host;
  host.frameworkWorks = false;
  const RunResult result = RunWith(host, {"/GetConfig"});
  EXPECT_EQ(result.err, "<ERROR msg=\"MFC initialization failed.\" />\n\n");
  EXPECT_EQ(result.out, Record(1, 1));
  EXPECT_EQ(result.code, 1);
}

TEST(RunTest, CommandLineOutcomes) {
  const std::string formatRefusal =
      "/FORMAT:XML is not supported anymore. Please use /FORMAT:REPSET.";
  const std::string tivErr = "[Errors]\r\n15=0\r\n0 = 7abc \r\n";
  enum class Shape { Help, Exact, ThreeLines, Contains };
  struct Case {
    std::vector<const char*> args;
    std::string errorMap;  // TivErr.cfg beside the executable; none when empty
    Shape shape;
    std::string expected;  // the whole output, or a part of it
    int code;
  };
  const Case cases[] = {
      {{"/?", "/FORMAT:XML"}, "", Shape::Help, "", 17},
      {{"/FORMAT:XML", "/help"}, "", Shape::Help, "", 17},
      {{"/Helpme"}, "", Shape::Help, "", 17},
      {{"/FORMAT=XML"}, "", Shape::Exact, formatRefusal + Record(15, 15), 15},
      {{"/format:xml"}, tivErr, Shape::Exact, formatRefusal + Record(15, 0), 0},
      {{"/FORMAT:"}, "", Shape::ThreeLines, Record(0, 0), 0},
      {{"/FORMAT:JSON"}, "", Shape::ThreeLines, Record(0, 0), 0},
      {{"/unknown"}, "", Shape::ThreeLines, Record(0, 0), 0},
      {{"/unknown"}, tivErr, Shape::ThreeLines, Record(0, 7), 7},
      {{"/?", "/cspwd:a?b"},
       "",
       Shape::Contains,
       "<ERROR msg=\"Problem encountered with command line parameter '/cspwd:a?b'.\n\nCould not "
       "convert '",
       15},
      {{"/SetConfig"}, "", Shape::Contains, "<ERROR msg=\"No file specified. \" />\n", 15},
      // An option without a name is refused even after one that had a name.
      {{"/SetConfig:a.txt", "/SetConfig"},
       "",
       Shape::Contains,
       "<ERROR msg=\"File not found: a.txt \" />\n<ERROR msg=\"No file specified. \" />\n" +
           Record(15, 15),
       15},
      {{"/GetConfig"},
       "",
       Shape::Contains,
       "<GETCONFIG><![CDATA[\n]]></GETCONFIG>\n" + Record(16, 16) + "</BIOSCONFIG>\n",
       16},
  };
  for (const Case& c : cases) {
    FakeHost host;
    if (!c.errorMap.empty()) host.files["/opt/corvane/TivErr.cfg"] = c.errorMap;
    g_resultOverride = 13;  // left over from an earlier run: must not leak into this one
    const RunResult result = RunWith(host, c.args);
    const std::string name = c.args.empty() ? "" : c.args.front();
    const std::vector<std::string> lines = Lines(result.out);
    switch (c.shape) {
      case Shape::Help:
        EXPECT_EQ(result.out.rfind("\nLumoria BIOS Configuration Utiltiy\n", 0), 0u) << name;
        EXPECT_EQ(lines.size(), 48u) << name;
        break;
      case Shape::Exact:
        EXPECT_EQ(result.out, c.expected) << name;
        break;
      case Shape::ThreeLines:
        ASSERT_EQ(lines.size(), 3u) << result.out;
        EXPECT_EQ(lines[0].rfind("<BIOSCONFIG Version=", 0), 0u) << name;
        EXPECT_EQ(lines[1] + "\n", c.expected) << name;
        EXPECT_EQ(lines[2], "</BIOSCONFIG>") << name;
        break;
      case Shape::Contains:
        EXPECT_NE(result.out.find(c.expected), std::string::npos) << result.out;
        break;
    }
    EXPECT_EQ(result.code, c.code) << name;
    EXPECT_EQ(result.err, "") << name;
  }
  g_resultOverride = 0;
}

}  // namespace
}  // namespace corvane
