// The REPSET reader over a simulated machine with settings of every kind. Whatever the file:
// - the header decides alone whether it is read, with the message and code of the reader;
// - a change is recorded only for a writable setting that exists and is of a kind a file may
//   set, with a value the setting allows that differs from the current one, and with that
//   current value as the old value;
// - every change is applied and reported, and the settings written out afterwards, read again,
//   ask for no change: re-reading written REPSET text gives the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "config/configuration_job.h"
#include "fake_host.h"
#include "fuzz_check.h"
#include "log/result_log.h"
#include "platform/wbem.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"

namespace {

using namespace corvane;
using fuzz::SameNoCase;
using fuzz::TrimC;
using Json = nlohmann::ordered_json;

// Names are unique without regard to case, and no value breaks a line, so that what GetConfig
// writes is one reading of the machine.
constexpr const char* kMachine = R"json({"provider": {"settings": [
 {"class": "Lumo_BIOSEnumeration", "Name": "Serial Port A", "CurrentValue": "Enable",
  "PossibleValues": ["Disable", "Enable", "Auto DISABLED"], "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 5},
 {"class": "Lumo_BIOSInteger", "Name": "POST Delay", "Value": "5", "LowerBound": 0, "UpperBound": 10,
  "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 1},
 {"class": "Lumo_BIOSString", "Name": "Asset Tag", "Value": "A12345", "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 3},
 {"class": "Lumo_BIOSOrderedList", "Name": "Boot Order", "Value": "USB Hard Drive,Hard Drive,Network Controller DISABLED",
  "Elements": ["USB Hard Drive", "Hard Drive", "Network Controller DISABLED"], "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 2},
 {"class": "Lumo_BIOSString", "Name": "Serial Number", "Value": "5CG123", "DisplayInUI": 1, "IsReadOnly": 1, "Sequence": 4},
 {"class": "Lumo_BIOSEnumeration", "Name": "Fast Boot", "CurrentValue": "Disable",
  "PossibleValues": ["Disable", "Enable"], "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 6},
 {"class": "Lumo_BIOSPassword", "Name": "Setup Password", "IsSet": 0, "PwdSetFrom": 1,
  "SupportedEncoding": ["kbd", "utf-16"], "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 7},
 {"class": "Lumo_BIOSInteger", "Name": "Temperature Offset", "Value": "-3", "LowerBound": -20,
  "UpperBound": -1, "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 8},
 {"class": "Lumo_BIOSEnumeration", "Name": "Wake Mode", "CurrentValue": "on",
  "PossibleValues": ["On", "ON", "Off", "--", "  Padded  ", "Marked disabled", ""], "DisplayInUI": 1,
  "IsReadOnly": false, "Sequence": 9},
 {"class": "Lumo_BIOSString", "Name": "Owner Name", "Value": "  Lumo  ", "MaxLength": 16,
  "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 10},
 {"class": "Lumo_BIOSOrderedList", "Name": "Device Order", "Value": "Disk,Net DISABLED,usb",
  "Elements": ["--", "Disk", "--", "Net DISABLED", "", " usb ", "--"], "DisplayInUI": 1, "IsReadOnly": 0,
  "Sequence": 11},
 {"class": "Lumo_BIOSEnumeration", "Name": "Hidden Toggle", "CurrentValue": "A",
  "PossibleValues": ["A", "B"], "DisplayInUI": 1, "Sequence": 12},
 {"class": "Lumo_BIOSBinary", "Name": "Firmware Blob", "Value": "00FF", "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 13},
 {"class": "Lumo_BIOSInteger", "Name": "Big Number", "Value": "2147483647", "LowerBound": -2147483648,
  "UpperBound": 2147483647, "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 14},
 {"class": "Lumo_BIOSString", "Name": "Empty Text", "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 15},
 {"class": "Lumo_BIOSString", "Name": "Ünïcode Näme", "Value": "Grüße", "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 16},
 {"class": "Lumo_BIOSEnumeration", "Name": "Language", "CurrentValue": "Fr", "PossibleValues": ["En", "De"],
  "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 17},
 {"class": "Lumo_BIOSInteger", "Name": "No Bounds", "Value": "0", "DisplayInUI": 1, "IsReadOnly": 0, "Sequence": 18},
 {"class": "Lumo_BIOSString", "Name": "Read Only Null", "Value": "x", "DisplayInUI": 1, "IsReadOnly": null, "Sequence": 19}
]}})json";

enum class Kind { Enumeration, Integer, String, OrderedList, Other };

// The oracle's reading of the machine, straight from its description.
Kind KindOf(const Json& setting) {
  const std::string upper = fuzz::UpperAscii(setting["class"].get<std::string>());
  if (upper == "LUMO_BIOSENUMERATION") return Kind::Enumeration;
  if (upper == "LUMO_BIOSINTEGER") return Kind::Integer;
  if (upper == "LUMO_BIOSSTRING") return Kind::String;
  if (upper == "LUMO_BIOSORDEREDLIST") return Kind::OrderedList;
  return Kind::Other;
}

bool Writable(const Json& setting) {
  const auto flag = setting.find("IsReadOnly");
  if (flag == setting.end()) return false;
  return (flag->is_boolean() && !flag->get<bool>()) ||
         (flag->is_number_integer() && flag->get<std::int64_t>() == 0);
}

std::string Property(const Json& setting, const char* name) {
  const auto value = setting.find(name);
  return value != setting.end() && value->is_string() ? value->get<std::string>() : std::string();
}

std::int64_t Bound(const Json& setting, const char* name) {
  const auto value = setting.find(name);
  return value != setting.end() && value->is_number_integer() ? value->get<std::int64_t>() : 0;
}

// An entry as a value names it: trimmed and without its " DISABLED" marker.
std::string Base(const std::string& entry) {
  const std::string trimmed = TrimC(entry);
  return TrimC(trimmed.substr(0, fuzz::UpperAscii(trimmed).find(" DISABLED")));
}

bool Listed(const Json& setting, const char* list, const std::string& value) {
  for (const auto& entry : setting[list])
    if (SameNoCase(Base(entry.get<std::string>()), value)) return true;
  return false;
}

// A whole decimal number within the bounds; the empty text counts as 0.
bool AllowedInteger(const Json& setting, const std::string& value) {
  std::int64_t number = 0;
  std::size_t pos = 0;
  bool negative = false;
  if (pos < value.size() && (value[pos] == '+' || value[pos] == '-'))
    negative = value[pos++] == '-';
  if (pos == value.size() && !value.empty()) return false;
  for (; pos < value.size(); ++pos) {
    if (value[pos] < '0' || value[pos] > '9') return false;
    number = number * 10 + (value[pos] - '0');
    if (number > (std::int64_t{1} << 32)) return false;
  }
  if (negative) number = -number;
  return Bound(setting, "LowerBound") <= number && number <= Bound(setting, "UpperBound");
}

// Every item names an element, and the items are not the elements' current order as GetConfig
// writes it (without empty entries and "--" placeholders).
bool AllowedOrder(const Json& setting, const std::string& value) {
  if (value.empty()) return false;
  std::vector<std::string> written;
  for (const auto& element : setting["Elements"]) {
    const std::string entry = TrimC(element.get<std::string>());
    if (!entry.empty() && entry != "--") written.push_back(entry);
  }
  const auto items = fuzz::Split(value, ',');
  bool differs = false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!Listed(setting, "Elements", Base(items[i]))) return false;
    if (i < written.size() && !SameNoCase(TrimC(items[i]), written[i])) differs = true;
  }
  return differs;
}

std::string Show(const std::string& name, const std::string& oldValue,
                 const std::string& newValue) {
  return "setting '" + name + "', old '" + oldValue + "', new '" + newValue + "'";
}

void CheckChange(const Json& machine, const std::string& name, const std::string& oldValue,
                 const std::string& newValue) {
  const std::string detail = Show(name, oldValue, newValue);
  const Json* found = nullptr;
  for (const auto& setting : machine["provider"]["settings"])
    if (SameNoCase(TrimC(setting["Name"].get<std::string>()), name)) found = &setting;
  FUZZ_CHECK(found != nullptr, "a change for a setting that does not exist: " + detail);
  const Json& setting = *found;
  FUZZ_CHECK(Writable(setting), "a change for a read-only setting: " + detail);
  const Kind kind = KindOf(setting);
  const std::string current =
      TrimC(Property(setting, kind == Kind::Enumeration ? "CurrentValue" : "Value"));
  FUZZ_CHECK(oldValue == current, "the old value is not the current one: " + detail);
  switch (kind) {
    case Kind::Enumeration:
      FUZZ_CHECK(Listed(setting, "PossibleValues", newValue), "an unlisted choice: " + detail);
      FUZZ_CHECK(!SameNoCase(newValue, current), "a choice equal to the current one: " + detail);
      break;
    case Kind::Integer:
      FUZZ_CHECK(AllowedInteger(setting, newValue), "a number out of bounds: " + detail);
      FUZZ_CHECK(!SameNoCase(newValue, current), "a number equal to the current one: " + detail);
      // The firmware keeps numbers, not their spelling: 05 is the 5 it holds.
      FUZZ_CHECK(newValue == std::to_string(std::strtoll(newValue.c_str(), nullptr, 10)),
                 "a number not as the firmware keeps it: " + detail);
      break;
    case Kind::String:
      FUZZ_CHECK(newValue.find('\0') == std::string::npos && fuzz::IsUtf8(newValue),
                 "a text the provider would receive altered: " + detail);
      FUZZ_CHECK(!SameNoCase(newValue, current), "a text equal to the current one: " + detail);
      FUZZ_CHECK(newValue == TrimC(newValue), "a text with blanks at its ends: " + detail);
      break;
    case Kind::OrderedList:
      FUZZ_CHECK(AllowedOrder(setting, newValue),
                 "an order that is not new or names "
                 "unknown elements: " +
                     detail);
      break;
    case Kind::Other:
      FUZZ_CHECK(false, "a change for a setting a file cannot set: " + detail);
  }
}

std::string FirstLine(const std::string& bytes) {
  std::string line = bytes.substr(0, bytes.find('\n'));
  if (bytes.find('\n') != std::string::npos && !line.empty() && line.back() == '\r')
    line.pop_back();
  return line;
}

std::string Pending(const config::ConfigurationJob& job) {
  std::string text;
  for (std::size_t i = 0; i < job.pendingNames.size(); ++i)
    text += Show(job.pendingNames[i], job.pendingOldValues[i], job.pendingNewValues[i]) + "\n";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static testing::FakeHost host;
  struct RunEnd {
    ~RunEnd() {
      host.Forget();
      wbem::InstallLocatorFactory({});
    }
  } runEnd;
  static const Json oracle = Json::parse(kMachine);
  const std::string file(reinterpret_cast<const char*>(data), size);
  host.files["in.txt"] = file;  // the previous run's end left the host empty
  log::ResultLog log;
  // Changes replace a setting's record in the copy; the records themselves are never changed.
  static std::string error;
  static const auto pristine = sim::ParseMachine(kMachine, "", error);
  FUZZ_CHECK(pristine != nullptr, error);
  const auto machine = std::make_shared<sim::SimulatedMachine>(*pristine);
  sim::InstallProvider(machine);

  config::ConfigurationJob job(log, nullptr, "", "");
  const bool read = job.ReadConfigFile("in.txt");
  const bool english = !file.empty() && FirstLine(file) == "English";
  FUZZ_CHECK(read == english, "the header decides whether the file is read");
  if (!read) {
    FUZZ_CHECK(log.Result() == (file.empty() ? kResultFileUnreadable : kResultFileHeader),
               "the code of a refused file");
    FUZZ_CHECK(job.pendingNames.empty(), "a refused file records changes");
    FUZZ_CHECK(host.out == (file.empty() ? "<ERROR type=\"failure\">REPSET file, 'in.txt' not "
                                           "found or empty.</ERROR>\n"
                                         : "<ERROR type=\"failure\">First line in /REPSET file, "
                                           "'in.txt' is not 'English'.</ERROR>\n"),
               "the message of a refused file: " + host.out);
    return 0;
  }
  FUZZ_CHECK(host.out.empty() && log.Result() == 0, "reading printed: " + host.out);
  for (std::size_t i = 0; i < job.pendingNames.size(); ++i)
    CheckChange(oracle, job.pendingNames[i], job.pendingOldValues[i], job.pendingNewValues[i]);

  // An unchanged machine gives the same written text every time: it is read back once.
  static bool unchangedMachineReadBack = false;
  if (job.pendingNames.empty() && unchangedMachineReadBack) return 0;
  unchangedMachineReadBack = unchangedMachineReadBack || job.pendingNames.empty();

  // The machine may refuse a value (a text too long for it): that is a "fail" record.
  job.ApplyConfig();
  // One record per change, in file order, judged by what the machine holds after all calls.
  std::string records;
  for (std::size_t i = 0; i < job.pendingNames.size(); ++i) {
    const auto& data =
        machine->settings[machine->byName.at(fuzz::UpperAscii(job.pendingNames[i]))]->data;
    const std::string now =
        TrimC(Property(data, KindOf(data) == Kind::Enumeration ? "CurrentValue" : "Value"));
    const bool passed = !SameNoCase(now, job.pendingOldValues[i]);
    records += std::string("<SETTING changeStatus=\"") + (passed ? "pass" : "fail") + "\" name=\"" +
               job.pendingNames[i] + "\">\n\t<OLDVALUE><![CDATA[" +
               (passed ? job.pendingOldValues[i] : now) + "]]></OLDVALUE>\n\t<NEWVALUE><![CDATA[" +
               (passed ? now : job.pendingNewValues[i]) + "]]></NEWVALUE>\n</SETTING>\n";
  }
  FUZZ_CHECK(host.out == records, "the records:\n" + host.out + "\nexpected:\n" + records);

  config::ConfigurationJob writer(log, nullptr, "", "");
  std::string text;
  FUZZ_CHECK(writer.GetConfigText(text), "GetConfig failed");
  host.files["out.txt"] = text;
  config::ConfigurationJob reader(log, nullptr, "", "");
  FUZZ_CHECK(reader.ReadConfigFile("out.txt"), "the written text is refused");
  FUZZ_CHECK(reader.pendingNames.empty(),
             "the written text, read again, asks for changes:\n" + Pending(reader) + text);
  return 0;
}
