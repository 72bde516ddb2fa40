#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fake_host.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/wbem.h"
#include "sim/machine_file.h"
#include "sim/sim_keyboard.h"
#include "sim/simulated_machine.h"
#include "wmi/password_options.h"
#include "wmi/scan_codes.h"

namespace corvane {
namespace {

using Json = nlohmann::ordered_json;
using Edit = std::function<void(Json&)>;

constexpr const char16_t* kNamespace = u"\\\\.\\root\\Lumo\\InstrumentedBIOS";
constexpr const char16_t* kRelPath =
    u"Lumo_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
constexpr const char* kPath = "/machines/test.json";

// Lumo-1234 as text and typed on the keyboard: L with SHIFT, u, m, o, -, 1, 2, 3, 4.
constexpr const char* kLumoText = "<utf-16/>Lumo-1234";
constexpr const char* kLumoCodes = "<kbd/>A61632180C02030405";

// clang-format off
const char* const kBase = R"json({
  "provider": {
    "interface": {"InstanceName": "ACPI\\PNP0C14\\0_0", "Active": true},
    "settings": [
      {"class": "Lumo_BIOSEnumeration", "Name": "Fast Boot", "CurrentValue": "Disable",
       "PossibleValues": ["Disable", "Enable", "Extra DISABLED", "--"], "IsReadOnly": 0},
      {"class": "Lumo_BIOSInteger", "Name": "POST Delay", "Value": "0", "LowerBound": 0,
       "UpperBound": 60, "IsReadOnly": false},
      {"class": "Lumo_BIOSString", "Name": "Asset Tag", "Value": "A1", "MaxLength": 8,
       "IsReadOnly": 0},
      {"class": "Lumo_BIOSOrderedList", "Name": "Boot Order", "Value": "A,B DISABLED,C",
       "Elements": ["A", "B DISABLED", "C"], "IsReadOnly": 0},
      {"class": "Lumo_BIOSString", "Name": "Serial Number", "Value": "SN1", "IsReadOnly": 1},
      {"class": "Lumo_BIOSString", "Name": "No Flag", "Value": "x"},
      {"class": "Lumo_BIOSPassword", "Name": "Setup Password", "IsSet": 0, "PwdSetFrom": 1,
       "SupportedEncoding": ["kbd", "utf-16"], "MaxLength": 12, "IsReadOnly": 0}
    ]
  },
  "legacy": {"machineId": 7, "objects": [{"kind": "stringtable", "strings": ["English"]}]},
  "notes": {"kept": [1, 2, {"as": "is"}]}
})json";
// clang-format on

Json& SettingNamed(Json& machine, const std::string& name) {
  for (auto& setting : machine["provider"]["settings"])
    if (setting["Name"] == name) return setting;
  ADD_FAILURE() << "no setting " << name;
  return machine;
}

// The base machine, changed by edit, as file text.
std::string MachineText(const Edit& edit = {}) {
  Json machine = Json::parse(kBase);
  if (edit) edit(machine);
  return machine.dump(2) + "\n";
}

Edit Password(const std::string& key, const std::string& password,
              Json supported = {"kbd", "utf-16"}, int pwdSetFrom = 1) {
  return [=](Json& machine) {
    Json& setup = SettingNamed(machine, "Setup Password");
    setup["IsSet"] = 1;
    setup["PwdSetFrom"] = pwdSetFrom;
    setup["SupportedEncoding"] = supported;
    setup[key] = password;
  };
}

std::string Text(wbem::ClassObject& object, const char16_t* property) {
  wbem::Variant value;
  if (object.Get(property, value) != wbem::kOk) return "<missing>";
  if (value.type == wbem::Variant::Type::Int32) return std::to_string(value.int32);
  return platform::ToNarrow(value.string);
}

class SimTest : public ::testing::Test {
 protected:
  ~SimTest() override { wbem::InstallLocatorFactory({}); }

  // Writes the machine file, loads it and connects to it.
  void Open(const std::string& text) {
    services.reset();
    host.files[kPath] = text;
    std::string error;
    auto machine = sim::LoadMachine(kPath, error);
    ASSERT_TRUE(machine) << error;
    sim::InstallProvider(machine);
    std::unique_ptr<wbem::Locator> locator;
    ASSERT_EQ(wbem::CreateLocator(locator), wbem::kOk);
    ASSERT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kOk);
  }

  // The setting's CurrentValue (Value when it has none) as a fresh query sees it.
  std::string Read(const std::string& name) {
    wbem::EnumPtr walk;
    EXPECT_EQ(services->ExecQuery(u"WQL", u"select * from Lumo_BIOSSetting", 0, walk), wbem::kOk);
    for (wbem::ObjectPtr object; walk && walk->Next(wbem::kInfinite, object) == wbem::kOk;) {
      if (!platform::EqualsNoCase(Text(*object, u"Name"), platform::Trim(name))) continue;
      const std::string current = Text(*object, u"CurrentValue");
      return current != "<missing>" ? current : Text(*object, u"Value");
    }
    return "<no setting>";
  }

  // SetBIOSSetting the way the program calls it; -1 when the call itself fails. The texts are
  // UTF-8, whatever the platform's narrow code page.
  std::int32_t Set(const std::string& name, const std::string& value, const std::string& password) {
    wbem::ObjectPtr classObject, signature, in, out;
    if (services->GetObjectByPath(u"lumo_BIOSSettingInterface", 0, classObject) != wbem::kOk ||
        classObject->GetMethod(u"SetBIOSSetting", signature) != wbem::kOk ||
        signature->SpawnInstance(in) != wbem::kOk)
      return -1;
    in->Put(u"Name", wbem::Variant::String(platform::Utf8ToUtf16(name)));
    in->Put(u"Value", wbem::Variant::String(platform::Utf8ToUtf16(value)));
    in->Put(u"Password", wbem::Variant::String(platform::Utf8ToUtf16(password)));
    if (services->ExecMethod(kRelPath, u"SetBIOSSetting", 0, in.get(), out) != wbem::kOk) return -1;
    return std::stoi(Text(*out, u"Return"));
  }

  testing::FakeHost host;
  wbem::ServicesPtr services;
};

TEST_F(SimTest, LoadFailuresGiveAReasonAndLeaveTheFileAlone) {
  const auto onAssetTag = [](const char* key, Json value) {
    return MachineText([=](Json& m) { SettingNamed(m, "Asset Tag")[key] = value; });
  };
  const std::pair<std::string, const char*> cases[] = {
      {"", "cannot read"},  // no file at all
      {"{\"provider\": {", "not valid JSON"},
      {"{\"Provider\": {}}", "\"provider\""},
      {R"({"provider": {"settings": [{"Name": "A"}]}})", "\"class\" is missing"},
      {onAssetTag("X", 1.5), "32-bit integer"},
      {onAssetTag("X", {"a", 1}), "not a string"},
      {onAssetTag("writereturn", 5), "unknown control"},
      {onAssetTag("password", "x"), "Lumo_BIOSPassword"},
      {MachineText(Password("passwordCodes", "1E3")), "passwordCodes"},
      {R"({"provider": {"faults": {"conect": true}}})", "unknown fault"},
      {R"({"legacy": {"objects": [{"kind": "enum"}]}})", "legacy: objects[0]: \"name\" is missing"},
      {"[]", "a machine is a JSON object"},
      {R"({"provider": []})", "\"provider\" is not an object"},
      {R"({"provider": {"setting": []}})", "provider: unknown key \"setting\""},
      {R"({"provider": {"settings": {}}})", "provider.settings is not an array"},
      {R"({"provider": {"settings": [5]}})", "provider.settings[0] is not an object"},
      {R"({"provider": {"settings": [{"class": "", "Name": "A"}]}})", "non-empty string"},
      {R"({"provider": {"settings": [{"class": "lumo_biossettinginterface"}]}})",
       "cannot be of the interface class"},
      {onAssetTag("X", Json::object({{"a", 1}})), "property \"X\" is an object"},
      {onAssetTag("writeReturn", "0"), "\"writeReturn\" must be a 32-bit integer"},
      {onAssetTag("writeReturn", 4294967296LL), "\"writeReturn\" must be a 32-bit integer"},
      {onAssetTag("ignoreWrites", 1), "\"ignoreWrites\" must be true or false"},
      {MachineText([](Json& m) { SettingNamed(m, "Setup Password")["password"] = 5; }),
       "\"password\" must be a string"},
      {MachineText([](Json& m) {
         SettingNamed(m, "Setup Password")["password"] = "a";
         SettingNamed(m, "Setup Password")["passwordCodes"] = "1E";
       }),
       "not both"},
      {R"({"provider": {"faults": []}})", "provider.faults is not an object"},
      {R"({"provider": {"faults": {"connect": 1}}})", "faults.connect must be true or false"},
      {R"({"provider": {"faults": {"failQueries": "Lumo_BIOSString"}}})", "array of class names"},
      {R"({"provider": {"faults": {"failQueries": [1]}}})", "array of class names"},
      {R"({"provider": {"interface": []}})", "provider.interface is not an object"},
      {R"({"provider": {"interface": {"writeReturn": 0}}})", "interface: unknown control"},
      {R"({"provider": {"interface": {"Active": {"on": true}}}})",
       "provider.interface: property \"Active\" is an object"},
  };
  for (const auto& [text, reason] : cases) {
    host.files.clear();
    if (!text.empty()) host.files[kPath] = text;
    const auto before = host.files;
    std::string error;
    EXPECT_EQ(sim::LoadMachine(kPath, error), nullptr) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << reason << ": " << error;
    EXPECT_EQ(host.files, before) << text;
  }
}

// One SetBIOSSetting call on a machine: its Return, then the value read back; for the setup
// password, a Password that a later change accepts instead.
TEST_F(SimTest, WritesAreValidatedAndPasswordsCheckedLikeFirmware) {
  constexpr std::int32_t kOk = sim::kReturnSuccess, kInvalid = sim::kReturnInvalidValue,
                         kReadOnly = sim::kReturnReadOnly, kDenied = sim::kReturnAccessDenied;
  const Edit text = Password("password", "Lumo-1234");
  const Edit kbdOnly = Password("password", "Lumo-1234", {"kbd"});
  const Edit fromKeys = Password("password", "Lumo-1234", {"kbd", "utf-16"}, 0);
  const Edit codes = Password("passwordCodes", "1e302e");
  const Edit noKeys = Password("password", "p\xC3\xA4ss");
  const Edit unknown = [](Json& m) { SettingNamed(m, "Setup Password")["IsSet"] = 1; };
  struct Case {
    Edit machine;
    const char* name;
    const char* value;
    const char* password;
    std::int32_t code;
    const char* after;
  };
  const Case cases[] = {
      {{}, "  fast boot ", "enable", "", kOk, "Enable"},
      {{}, "Fast Boot", "Extra DISABLED", "", kOk, "Extra"},
      {{}, "Fast Boot", "--", "", kInvalid, "Disable"},
      {{}, "POST Delay", "+7", "", kOk, "7"},
      {{}, "POST Delay", "60", "", kOk, "60"},
      {{}, "POST Delay", "61", "", kInvalid, "0"},
      {{}, "Asset Tag", "ABCDEFGH", "", kOk, "ABCDEFGH"},
      {{}, "Asset Tag", "ABCDEFGHI", "", kInvalid, "A1"},
      {{}, "Boot Order", "C, A", "", kOk, "C,A,B DISABLED"},
      {{}, "Boot Order", "b,c DISABLED,a", "", kOk, "B,C DISABLED,A"},
      {{}, "Boot Order", "C,Z", "", kInvalid, "A,B DISABLED,C"},
      {{}, "Boot Order", "C,C", "", kInvalid, "A,B DISABLED,C"},
      {{}, "Serial Number", "SN2", "", kReadOnly, "SN1"},
      {{}, "No Flag", "y", "", kReadOnly, "x"},  // no IsReadOnly: read-only
      {{}, "Unknown", "1", "", sim::kReturnNotFound, "<no setting>"},
      // The current password in the encoding the setup password was set from.
      {{}, "Fast Boot", "Enable", "<kbd/>", kOk, "Enable"},
      {{}, "Fast Boot", "Enable", "<utf-16/>x", kDenied, "Disable"},
      {text, "Fast Boot", "Enable", kLumoText, kOk, "Enable"},
      {text, "Fast Boot", "Enable", "<utf-16/>lumo-1234", kDenied, "Disable"},
      {text, "Fast Boot", "Enable", kLumoCodes, kOk, "Enable"},
      {text, "Fast Boot", "Enable", "<kbd/>261632180C02030405", kDenied, "Disable"},
      {kbdOnly, "Fast Boot", "Enable", kLumoText, kDenied, "Disable"},
      {fromKeys, "Fast Boot", "Enable", kLumoText, kDenied, "Disable"},
      {codes, "Fast Boot", "Enable", "<kbd/>1E302E", kOk, "Enable"},
      {noKeys, "Fast Boot", "Enable", "<utf-16/>p\xC3\xA4ss", kOk, "Enable"},
      {unknown, "Fast Boot", "Enable", "<utf-16/>", kDenied, "Disable"},
      // Setting, changing and clearing the setup password.
      {{}, "setup password", "<utf-16/>new-1", "<utf-16/>", kOk, "<utf-16/>new-1"},
      {{}, "setup password", "<kbd/>1E302E", "<kbd/>", kOk, "<kbd/>1E302E"},
      {text, "setup password", "<utf-16/>abc", kLumoText, kOk, "<kbd/>1E302E"},
      {text, "setup password", "<utf-16/>abc", "<utf-16/>Lumo", kDenied, kLumoText},
      {text, "setup password", "<utf-16/>", kLumoText, kOk, ""},
      {kbdOnly, "setup password", "", kLumoCodes, kOk, "<kbd/>"},
      {kbdOnly, "setup password", "<utf-16/>abc", kLumoCodes, kInvalid, kLumoCodes},
      {fromKeys, "setup password", "<utf-16/>abc", kLumoCodes, kOk, "<kbd/>1E302E"},
      {fromKeys, "setup password", "<utf-16/>p\xC3\xA4ss", kLumoCodes, kInvalid, kLumoCodes},
      {{}, "setup password", "<utf-16/>1234567890123", "", kInvalid, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " = " + c.value + " with " + c.password);
    Open(MachineText(c.machine));
    EXPECT_EQ(Set(c.name, c.value, c.password), c.code);
    if (std::string(c.name) == "setup password")
      EXPECT_EQ(Set("Fast Boot", "Enable", c.after), kOk);
    else
      EXPECT_EQ(Read(c.name), c.after);
  }
}

// The program and the simulated firmware read IsSet and PwdSetFrom alike, booleans included: a
// set password refuses a write without it, and one set from keys refuses it as text.
TEST_F(SimTest, ProgramAndFirmwareAgreeOnThePasswordFlags) {
  const Json missing = "<missing>";
  const Json values[] = {1, true, 0, false, 2, -1, "1", nullptr, missing};
  for (const Json& isSet : values) {
    for (const Json& pwdSetFrom : values) {
      SCOPED_TRACE("IsSet " + isSet.dump() + ", PwdSetFrom " + pwdSetFrom.dump());
      Open(MachineText([&](Json& m) {
        Json& setup = SettingNamed(m, "Setup Password");
        setup["password"] = "abc";
        setup.erase("IsSet");
        setup.erase("PwdSetFrom");
        if (isSet != missing) setup["IsSet"] = isSet;
        if (pwdSetFrom != missing) setup["PwdSetFrom"] = pwdSetFrom;
      }));
      const bool set = wmi::IsSetupPasswordSet();
      EXPECT_EQ(set, Set("Fast Boot", "Enable", "") == sim::kReturnAccessDenied);
      if (set) {
        EXPECT_EQ(wmi::PwdSetFromIsZero(),
                  Set("Fast Boot", "Enable", "<utf-16/>abc") == sim::kReturnAccessDenied);
      }
      EXPECT_EQ(set, isSet == 1 || isSet == true);
    }
  }
  // A boolean flag stays a boolean when the password is cleared or set again.
  Open(MachineText([](Json& m) {
    Json& setup = SettingNamed(m, "Setup Password");
    setup["IsSet"] = true;
    setup["password"] = "abc";
  }));
  ASSERT_EQ(Set("Setup Password", "<utf-16/>", "<utf-16/>abc"), 0);
  services.reset();
  Json saved = Json::parse(host.files[kPath]);
  EXPECT_EQ(SettingNamed(saved, "Setup Password")["IsSet"], false);
  Open(saved.dump(2));
  ASSERT_EQ(Set("Setup Password", "<utf-16/>xyz", "<utf-16/>"), 0);
  services.reset();
  saved = Json::parse(host.files[kPath]);
  EXPECT_EQ(SettingNamed(saved, "Setup Password")["IsSet"], true);
}

// Property names match without regard to case, Name included: the setting the program finds by
// a Name spelt otherwise is the one the firmware writes and the setup password it asks about.
TEST_F(SimTest, NameSpeltInAnyCaseIsTheSettingsName) {
  Open(MachineText([](Json& m) {
    Json& fastBoot = SettingNamed(m, "Fast Boot");
    Json& setup = SettingNamed(m, "Setup Password");
    fastBoot.erase("Name");
    fastBoot["NAME"] = "Fast Boot";
    setup.erase("Name");
    setup["NaMe"] = "Setup Password";
    Json second = setup;
    second["Name"] = "Setup Password";
    second["IsSet"] = 1;
    second["password"] = "abc";
    m["provider"]["settings"].push_back(second);
  }));
  EXPECT_EQ(Set("Fast Boot", "Enable", ""), sim::kReturnSuccess);
  EXPECT_EQ(Read("Fast Boot"), "Enable");
  EXPECT_FALSE(wmi::IsSetupPasswordSet());
  EXPECT_EQ(Set("Setup Password", "<utf-16/>new", ""), sim::kReturnSuccess);
}

TEST_F(SimTest, ChangesAreSavedWhenTheConnectionIsReleased) {
  const std::string original = MachineText([](Json& m) { m["zeta"] = "kept"; });
  Open(original);
  ASSERT_EQ(Set("Boot Order", "C,A", ""), 0);
  ASSERT_EQ(Set("Asset Tag", "B2", ""), 0);
  EXPECT_EQ(host.files[kPath], original);  // nothing written while connected
  // Meanwhile the management library saved its own section: the provider keeps it.
  Json expected = Json::parse(original);
  expected["legacy"]["machineId"] = 8;
  host.files[kPath] = expected.dump(2) + "\n";
  services.reset();

  SettingNamed(expected, "Boot Order")["Value"] = "C,A,B DISABLED";
  SettingNamed(expected, "Boot Order")["Elements"] = {"C", "A", "B DISABLED"};
  SettingNamed(expected, "Asset Tag")["Value"] = "B2";
  EXPECT_EQ(host.files[kPath], expected.dump(2) + "\n");  // same keys, same order

  // A reload sees the change; a connection that changes nothing writes nothing.
  Open(expected.dump(4));
  EXPECT_EQ(Read("Asset Tag"), "B2");
  EXPECT_EQ(Set("Asset Tag", "B2", ""), 0);
  EXPECT_EQ(Set("Serial Number", "X", ""), sim::kReturnReadOnly);
  services.reset();
  EXPECT_EQ(host.files[kPath], expected.dump(4));
}

// The simulated firmware types passwords on a keyboard of its own; it must agree with the
// program's converter on every key, or a scan-code password would pass or fail for the wrong
// reason.
TEST(SimKeyboard, TypesEveryKeyAsTheProgramConvertsIt) {
  std::vector<std::string> texts;
  for (const auto& entry : wmi::ScanCodeTable) {
    std::string lower = entry.token;  // names of keys are typed in any case
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z' && lower[0] == '<') c = static_cast<char>(c - 'A' + 'a');
    texts.emplace_back(entry.token);
    texts.push_back(lower);
  }
  for (const char* text : {"<lt>a<Keypad 7><space bar>Z", "Lumo-1234", "two words", "", "<", "a<b",
                           "<unknown>", "<LT", "\x01", "\x02", "\t", "\xE9", "<>"})
    texts.emplace_back(text);
  for (const auto& text : texts) {
    std::string expected, failedToken, codes = "stale";
    const bool converts = wmi::ConvertToScanCodes(text, expected, failedToken);
    EXPECT_EQ(sim::KeysOf(text, codes), converts) << text;
    EXPECT_EQ(codes, expected) << text;  // empty on failure
  }
  // Both could be wrong the same way: a few codes written out.
  const std::pair<const char*, const char*> known[] = {
      {"<lt>x<GT>", "\xB3\x2D\xB4"},
      {"aA ~", "\x1E\x9E\x39\xA9"},
      {"<keypad .><KEYPAD 0>", "\x53\x52"},
  };
  for (const auto& [text, codes] : known) {
    std::string typed;
    EXPECT_TRUE(sim::KeysOf(text, typed)) << text;
    EXPECT_EQ(typed, codes) << text;
  }
}

// The provider and the library share the machine file, each saving its own section into what
// the file holds when it is saved.
TEST(MachineFile, SavesOneSectionIntoWhatTheFileHolds) {
  testing::FakeHost host;
  const Json known = Json::parse(R"({"provider": {"settings": []}, "legacy": {"machineId": 1}})");
  const Json section = Json::parse(R"({"machineId": 2})");
  struct Case {
    const char* before;  // nullptr: no file
    const char* after;
  };
  const Case cases[] = {
      // Another writer's changes are kept, and the key keeps its place.
      {R"({"legacy": {"machineId": 1}, "provider": {"settings": [1]}})",
       R"({"legacy": {"machineId": 2}, "provider": {"settings": [1]}})"},
      // A file that is gone, not JSON, cut short or not an object: the writer's own document.
      {nullptr, R"({"provider": {"settings": []}, "legacy": {"machineId": 2}})"},
      {"not json", R"({"provider": {"settings": []}, "legacy": {"machineId": 2}})"},
      {R"({"provider": {"settings": [1, 2.5, "x", null, true, {"a": [)",
       R"({"provider": {"settings": []}, "legacy": {"machineId": 2}})"},
      {"[1, 2]", R"({"provider": {"settings": []}, "legacy": {"machineId": 2}})"},
  };
  for (const auto& [before, after] : cases) {
    host.files.clear();
    if (before != nullptr) host.files[kPath] = before;
    EXPECT_TRUE(sim::SaveSection(kPath, "legacy", section, known)) << before;
    EXPECT_EQ(host.files[kPath], sim::DocumentText(Json::parse(after))) << before;
  }
  EXPECT_FALSE(sim::SaveSection("/machines/", "legacy", section, known));

  // A text that is not JSON gives the parser's reason, with where it stopped.
  Json document;
  std::string error;
  EXPECT_FALSE(
      sim::ParseJsonText(R"({"a": [1, -2, 2.5, "x", null, true, {"b": []}, )", document, error));
  EXPECT_NE(error.find("not valid JSON: "), std::string::npos) << error;
  EXPECT_NE(error.find("syntax error"), std::string::npos) << error;
  EXPECT_TRUE(sim::ParseJsonText(R"({"a": 1})", document, error));
  EXPECT_EQ(document["a"], 1);
}

}  // namespace
}  // namespace corvane
