#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "driver/password_input.h"
#include "driver/run.h"
#include "fake_host.h"
#include "fake_wbem.h"
#include "log/result_log.h"

namespace corvane {
namespace {

using testing::FakeHost;

std::tm Tm(const char* text) {
  std::tm t{};
  std::istringstream(text) >> std::get_time(&t, "%Y/%m/%d %H:%M:%S");
  return t;
}

TEST(OpeningElementTest, DescribesOneInstant) {
  struct Case {
    std::tm local, utc;
    bool hasVersion;
    const char* expected;  // after "<BIOSCONFIG Version=\""
  };
  const Case cases[] = {
      {Tm("2026/12/31 23:59:59"), Tm("2026/12/31 22:59:59"), true,
       "2.12.0.3\" Computername=\"TESTBOX\" Date=\"2026/12/31\" Time=\"23:59:59\" UTC=\"1\" >\n"},
      {Tm("2026/03/02 00:30:00"), Tm("2026/03/01 23:30:00"), true,
       "2.12.0.3\" Computername=\"TESTBOX\" Date=\"2026/03/02\" Time=\"00:30:00\" UTC=\"-23\" >\n"},
      {Tm("2026/06/05 19:30:00"), Tm("2026/06/06 00:30:00"), false,
       "0.0.0.0\" Computername=\"TESTBOX\" Date=\"2026/06/05\" Time=\"19:30:00\" UTC=\"19\" >\n"},
      {Tm("2026/01/01 23:00:00"), Tm("2026/01/01 00:00:00"), true,
       "2.12.0.3\" Computername=\"TESTBOX\" Date=\"2026/01/01\" Time=\"23:00:00\" UTC=\"23\" >\n"},
  };
  for (const Case& c : cases) {
    FakeHost host;
    host.clock = {c.local, c.utc};
    host.hasVersion = c.hasVersion;
    log::ResultLog log;
    log.OpeningElement();
    EXPECT_EQ(host.out, std::string("<BIOSCONFIG Version=\"") + c.expected);
  }
}

std::string Record(int real, int translated) {
  return "<Warning msg=\"Tiv return value\" real=\"" + std::to_string(real) + "\" translated=\"" +
         std::to_string(translated) + "\" />\n";
}

// A run against the fake host with no provider, so that nothing real is reached.
int RunWith(std::vector<const char*> args) {
  testing::ScopedFakeProvider provider;
  args.insert(args.begin(), "/opt/corvane/corvane");
  return driver::Run(static_cast<int>(args.size()), args.data(), "");
}

TEST(RunTest, HelpTextIsPrintedByteForByte) {
  FakeHost host;
  EXPECT_EQ(RunWith({}), 17);
  EXPECT_EQ(std::count(host.out.begin(), host.out.end(), '\n'), 48);
  EXPECT_EQ(host.out.rfind("\nLumoria BIOS Configuration Utiltiy\n", 0), 0u);
  EXPECT_NE(host.out.find("\n   q w e r t y u i o p [ ] \\  <KEYPAD 7>  <KEYPAD 8> <KEYPAD 9> "
                          "<KEYPAD *> \n"),
            std::string::npos);
  EXPECT_NE(host.out.find("\n     Z X C V B N M <LT> <GT>  \n\n" + Record(17, 17)),
            std::string::npos);
}

TEST(RunTest, FrameworkFailureWritesOnlyTheRecordOnStandardOutput) {
  FakeHost host;
  host.frameworkWorks = false;
  EXPECT_EQ(RunWith({"/GetConfig"}), 1);
  EXPECT_EQ(host.err, "<ERROR msg=\"MFC initialization failed.\" />\n\n");
  EXPECT_EQ(host.out, Record(1, 1));
}

// A record names an argument as given, or by its line when it came from standard input, so
// that no password read there is repeated; an index outside the arguments names nothing.
TEST(RunArgumentsTest, DescribesEachArgumentByWhereItCameFrom) {
  FakeHost host;
  host.in = "/nspwd:new\n\n/cspwd:old\n";
  const char* const argv[] = {"/opt/corvane/corvane", "/cspwd:x", "/pwdstdin", "/GetConfig"};
  driver::RunArguments arguments(4, argv);
  log::ResultLog log;
  ASSERT_TRUE(arguments.ReadPasswordInput(log));
  ASSERT_EQ(arguments.argc(), 5);
  const std::pair<int, const char*> cases[] = {
      {-1, ""},
      {0, "/opt/corvane/corvane"},
      {1, "/cspwd:x"},
      {2, "line 1 of standard input"},
      {3, "line 3 of standard input"},
      {4, "/GetConfig"},
      {5, ""},
      {INT_MAX, ""},
  };
  for (const auto& [index, expected] : cases)
    EXPECT_EQ(arguments.Describe(index), expected) << index;
  EXPECT_EQ(host.out, "");
}

}  // namespace
}  // namespace corvane
