// The whole run over a command line of any arguments (the input split at NUL bytes), on a
// simulated machine with a provider, files in memory. Whatever the arguments:
// - the run ends with one translation record, its real code one of the run's result codes and
//   its translated code the exit code (there is no error map);
// - a run that wrote the opening element also writes the closing element after that record,
//   and one that ended early (help, a password without scan codes, /FORMAT:XML) writes neither.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "driver/run.h"
#include "fake_host.h"
#include "fuzz_check.h"
#include "platform/wbem.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"

namespace {

using namespace corvane;

constexpr const char* kMachine = R"json({"provider": {"settings": [
 {"class": "Lumo_BIOSEnumeration", "Name": "Fast Boot", "CurrentValue": "Disable",
  "PossibleValues": ["Disable", "Enable"], "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 1},
 {"class": "Lumo_BIOSString", "Name": "Asset Tag", "Value": "A1", "MaxLength": 16,
  "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 2},
 {"class": "Lumo_BIOSPassword", "Name": "Setup Password", "IsSet": 1, "PwdSetFrom": 1,
  "SupportedEncoding": ["kbd", "utf-16"], "MaxLength": 32, "DisplayInUI": 1, "IsReadOnly": 0,
  "password": "pw"}]}})json";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static testing::FakeHost host;
  static std::string error;
  static const auto pristine = sim::ParseMachine(kMachine, "", error);
  FUZZ_CHECK(pristine != nullptr, error);
  // The previous run's end left the host empty.
  host.files["/opt/corvane/settings.txt"] = "English\nFast Boot\n\t*Enable\n";
  sim::InstallProvider(std::make_shared<sim::SimulatedMachine>(*pristine));

  std::vector<std::string> arguments =
      fuzz::Split(std::string(reinterpret_cast<const char*>(data), size), '\0');
  arguments.insert(arguments.begin(), "/opt/corvane/corvane");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const int exitCode = driver::Run(static_cast<int>(argv.size()), argv.data(), "");

  const std::string record = "<Warning msg=\"Tiv return value\" real=\"";
  const std::size_t at = host.out.rfind(record);
  FUZZ_CHECK(at != std::string::npos, "no translation record:\n" + host.out);
  int real = 0;
  int translated = 0;
  const std::string tail = host.out.substr(at);
  FUZZ_CHECK(std::sscanf(tail.c_str(),
                         "<Warning msg=\"Tiv return value\" real=\"%d\" "
                         "translated=\"%d\" />\n",
                         &real, &translated) == 2,
             "a malformed record: " + tail);
  const std::set<int> codes = {0, 10, 11, 12, 13, 15, 16, 17};
  FUZZ_CHECK(codes.count(real) == 1, "the result code " + std::to_string(real));
  FUZZ_CHECK(translated == real && exitCode == real, "the exit code " + std::to_string(exitCode));
  const bool opened = host.out.rfind("<BIOSCONFIG Version=\"", 0) == 0;
  const std::string ending =
      record + std::to_string(real) + "\" translated=\"" + std::to_string(translated) + "\" />\n";
  FUZZ_CHECK(tail == (opened ? ending + "</BIOSCONFIG>\n" : ending), "the ending: " + tail);
  FUZZ_CHECK(opened || real == 15 || real == 17, "an early end with code " + std::to_string(real));
  host.Forget();
  wbem::InstallLocatorFactory({});
  return 0;
}
