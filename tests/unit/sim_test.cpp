#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fake_host.h"
#include "platform/text.h"
#include "platform/wbem.h"
#include "sim/simulated_machine.h"

namespace corvane {
namespace {

using Json = nlohmann::ordered_json;
using testing::FakeHost;

constexpr const char16_t* kNamespace = u"\\\\.\\root\\Lumo\\InstrumentedBIOS";
constexpr const char16_t* kRelPath =
    u"Lumo_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
constexpr const char* kPath = "/machines/test.json";

// Lumo-1234 typed on the keyboard: L with SHIFT, u, m, o, -, 1, 2, 3, 4.
constexpr const char16_t* kLumoCodes = u"<kbd/>A61632180C02030405";

// clang-format off
const char* const kBase = R"json({
  "provider": {
    "interface": {"InstanceName": "ACPI\\PNP0C14\\0_0", "Active": true},
    "settings": [
      {"class": "Lumo_BIOSEnumeration", "Name": "Fast Boot", "CurrentValue": "Disable",
       "PossibleValues": ["Disable", "Enable", "Extra DISABLED", "--"], "IsReadOnly": 0,
       "DisplayInUI": 1, "Sequence": 3},
      {"class": "Lumo_BIOSInteger", "Name": "POST Delay (in seconds)", "Value": "0",
       "LowerBound": 0, "UpperBound": 60, "IsReadOnly": false, "Sequence": 1},
      {"class": "Lumo_BIOSString", "Name": "Asset Tag", "Value": "A1", "MaxLength": 8,
       "IsReadOnly": 0, "Sequence": 2},
      {"class": "Lumo_BIOSOrderedList", "Name": "Boot Order", "Value": "A,B DISABLED,C",
       "Elements": ["A", "B DISABLED", "C"], "IsReadOnly": 0},
      {"class": "Lumo_BIOSString", "Name": "Serial Number", "Value": "SN1", "IsReadOnly": 1},
      {"class": "Lumo_BIOSString", "Name": "No Flag", "Value": "x"},
      {"class": "Lumo_BIOSBinary", "Name": "Blob", "Value": "00", "IsReadOnly": 0,
       "Nothing": null},
      {"class": "Lumo_BIOSPassword", "Name": "Power-On Password", "IsSet": 0, "IsReadOnly": 0},
      {"class": "Lumo_BIOSPassword", "Name": "Setup Password", "IsSet": 0, "PwdSetFrom": 1,
       "SupportedEncoding": ["kbd", "utf-16"], "MaxLength": 12, "IsReadOnly": 0}
    ]
  },
  "legacy": {"kept": [1, 2, {"as": "is"}]}
})json";
// clang-format on

Json& SettingNamed(Json& machine, const std::string& name) {
  for (auto& setting : machine["provider"]["settings"])
    if (setting["Name"] == name) return setting;
  ADD_FAILURE() << "no setting " << name;
  return machine;
}

// The base machine, changed by edit, as file text.
std::string MachineText(const std::function<void(Json&)>& edit = {}) {
  Json machine = Json::parse(kBase);
  if (edit) edit(machine);
  return machine.dump(2) + "\n";
}

void SetPassword(Json& machine, const std::string& key, const std::string& password,
                 Json supported = {"kbd", "utf-16"}, int pwdSetFrom = 1) {
  Json& setup = SettingNamed(machine, "Setup Password");
  setup["IsSet"] = 1;
  setup["PwdSetFrom"] = pwdSetFrom;
  setup["SupportedEncoding"] = std::move(supported);
  setup[key] = password;
}

class SimTest : public ::testing::Test {
 protected:
  ~SimTest() override { wbem::InstallLocatorFactory({}); }

  // Writes the machine file, loads it and connects to it.
  wbem::ServicesPtr Open(const std::string& text) {
    host.files[kPath] = text;
    return Connect();
  }
  wbem::ServicesPtr Connect() {
    std::string error;
    auto machine = sim::LoadMachine(kPath, error);
    EXPECT_TRUE(machine) << error;
    if (!machine) return nullptr;
    sim::InstallProvider(machine);
    std::unique_ptr<wbem::Locator> locator;
    wbem::ServicesPtr services;
    EXPECT_EQ(wbem::CreateLocator(locator), wbem::kOk);
    EXPECT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kOk);
    return services;
  }

  FakeHost host;
};

std::vector<wbem::ObjectPtr> Query(wbem::Services& services, const std::u16string& query,
                                   wbem::HResult expected = wbem::kOk) {
  wbem::EnumPtr walk;
  std::vector<wbem::ObjectPtr> objects;
  EXPECT_EQ(services.ExecQuery(u"WQL", query, wbem::kFlagForwardOnly, walk), expected) << "query";
  if (!walk) return objects;
  wbem::ObjectPtr object;
  while (walk->Next(wbem::kInfinite, object) == wbem::kOk) objects.push_back(std::move(object));
  return objects;
}

std::string Text(wbem::ClassObject& object, const char16_t* property) {
  wbem::Variant value;
  if (object.Get(property, value) != wbem::kOk) return "<missing>";
  if (value.type == wbem::Variant::Type::Null) return "<null>";
  if (value.type == wbem::Variant::Type::Int32) return std::to_string(value.int32);
  if (value.type == wbem::Variant::Type::StringArray) {
    std::string joined;
    for (const auto& item : value.strings)
      joined += (joined.empty() ? "" : "|") + platform::ToNarrow(item);
    return joined;
  }
  return platform::ToNarrow(value.string);
}

std::vector<std::string> Names(const std::vector<wbem::ObjectPtr>& objects) {
  std::vector<std::string> names;
  for (const auto& object : objects) names.push_back(Text(*object, u"Name"));
  return names;
}

// A property of the setting as a fresh query sees it.
std::string Read(wbem::Services& services, const std::string& name, const char16_t* property) {
  for (auto& object : Query(services, u"select * from Lumo_BIOSSetting"))
    if (platform::EqualsNoCase(Text(*object, u"Name"), platform::Trim(name)))
      return Text(*object, property);
  return "<no setting>";
}

// SetBIOSSetting the way the program calls it; -1 when the call itself fails.
std::int32_t Set(wbem::Services& services, const std::string& name, const std::u16string& value,
                 const std::u16string& password, const char16_t* path = kRelPath) {
  wbem::ObjectPtr classObject, signature, in, out;
  if (services.GetObjectByPath(u"lumo_BIOSSettingInterface", 0, classObject) != wbem::kOk ||
      classObject->GetMethod(u"SetBIOSSetting", signature) != wbem::kOk ||
      signature->SpawnInstance(in) != wbem::kOk)
    return -1;
  in->Put(u"Name", wbem::Variant::String(platform::ToWide(name)));
  in->Put(u"Value", wbem::Variant::String(value));
  in->Put(u"Password", wbem::Variant::String(password));
  if (services.ExecMethod(path, u"SetBIOSSetting", 0, in.get(), out) != wbem::kOk) return -1;
  wbem::Variant result;
  if (out->Get(u"Return", result) != wbem::kOk) return -2;
  return result.int32;
}

TEST_F(SimTest, LoadFailuresGiveAReasonAndLeaveTheFileAlone) {
  struct Case {
    const char* label;
    std::string text;  // empty: no file at all
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"missing file", "", "cannot read"},
      {"not JSON", "{\"provider\": {", "not valid JSON"},
      {"not an object", "[1, 2]", "JSON object"},
      {"neither section", "{\"Provider\": {}}", "\"provider\""},
      {"settings not an array", R"({"provider": {"settings": {}}})", "not an array"},
      {"setting not an object", R"({"provider": {"settings": [3]}})", "not an object"},
      {"no class", R"({"provider": {"settings": [{"Name": "A"}]}})", "\"class\" is missing"},
      {"fractional number", MachineText([](Json& m) { SettingNamed(m, "Asset Tag")["X"] = 1.5; }),
       "32-bit integer"},
      {"integer too large",
       MachineText([](Json& m) { SettingNamed(m, "Asset Tag")["X"] = 4294967296LL; }),
       "32-bit integer"},
      {"object property",
       MachineText([](Json& m) { SettingNamed(m, "Asset Tag")["X"] = Json::object(); }),
       "is an object"},
      {"mixed array", MachineText([](Json& m) {
         SettingNamed(m, "Asset Tag")["X"] = {"a", 1};
       }),
       "not a string"},
      {"unknown control",
       MachineText([](Json& m) { SettingNamed(m, "Asset Tag")["writereturn"] = 5; }),
       "unknown control"},
      {"control of the wrong type",
       MachineText([](Json& m) { SettingNamed(m, "Asset Tag")["ignoreWrites"] = 1; }),
       "ignoreWrites"},
      {"password outside a password setting",
       MachineText([](Json& m) { SettingNamed(m, "Asset Tag")["password"] = "x"; }),
       "Lumo_BIOSPassword"},
      {"codes that are not hex",
       MachineText([](Json& m) { SettingNamed(m, "Setup Password")["passwordCodes"] = "1E3"; }),
       "passwordCodes"},
      {"unknown fault", R"({"provider": {"faults": {"conect": true}}})", "unknown fault"},
      {"fault of the wrong type", R"({"provider": {"faults": {"failQueries": "x"}}})",
       "failQueries"},
  };
  for (const Case& c : cases) {
    host.files.clear();
    if (!c.text.empty()) host.files[kPath] = c.text;
    const auto before = host.files;
    std::string error;
    EXPECT_EQ(sim::LoadMachine(kPath, error), nullptr) << c.label;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.label << ": " << error;
    EXPECT_EQ(host.files, before) << c.label;
  }
}

TEST_F(SimTest, PropertiesAreServedByTypeAndControlsStayHidden) {
  auto services = Open(MachineText([](Json& m) {
    SetPassword(m, "password", "Lumo-1234");
    SettingNamed(m, "Blob")["Flag"] = true;
  }));
  ASSERT_TRUE(services);
  auto objects = Query(*services, u"select * from Lumo_BIOSSetting");
  ASSERT_EQ(objects.size(), 9u);
  auto& blob = *objects[6];
  auto& setup = *objects[8];
  struct Case {
    wbem::ClassObject* object;
    const char16_t* property;
    wbem::HResult hr;
    wbem::Variant::Type type;
  };
  const Case cases[] = {
      {&blob, u"Value", wbem::kOk, wbem::Variant::Type::String},
      {&blob, u"value", wbem::kOk, wbem::Variant::Type::String},  // names ignore case
      {&blob, u"IsReadOnly", wbem::kOk, wbem::Variant::Type::Int32},
      {&blob, u"Flag", wbem::kOk, wbem::Variant::Type::Bool},
      {&blob, u"Nothing", wbem::kOk, wbem::Variant::Type::Null},
      {&blob, u"Sequence", wbem::kNotFound, wbem::Variant::Type::Empty},
      {&blob, u"class", wbem::kNotFound, wbem::Variant::Type::Empty},
      {&setup, u"SupportedEncoding", wbem::kOk, wbem::Variant::Type::StringArray},
      {&setup, u"password", wbem::kNotFound, wbem::Variant::Type::Empty},
      {&setup, u"Password", wbem::kNotFound, wbem::Variant::Type::Empty},
  };
  for (const Case& c : cases) {
    wbem::Variant value;
    EXPECT_EQ(c.object->Get(c.property, value), c.hr) << platform::ToNarrow(c.property);
    if (c.hr == wbem::kOk) {
      EXPECT_EQ(value.type, c.type) << platform::ToNarrow(c.property);
    }
  }
  EXPECT_EQ(Text(blob, u"__CLASS"), "Lumo_BIOSBinary");
}

TEST_F(SimTest, ClassTestsFollowTheSettingsClassAndTheBase) {
  auto services = Open(MachineText());
  ASSERT_TRUE(services);
  auto settings = Query(*services, u"select * from Lumo_BIOSSetting");
  auto interfaces = Query(*services, u"select * from Lumo_BIOSSettingInterface");
  ASSERT_EQ(settings.size(), 9u);
  ASSERT_EQ(interfaces.size(), 1u);
  struct Case {
    wbem::ClassObject* object;
    const char16_t* className;
    wbem::HResult expected;
  };
  const Case cases[] = {
      {settings[0].get(), u"Lumo_BIOSEnumeration", wbem::kOk},
      {settings[0].get(), u"LUMO_biosenumeration", wbem::kOk},
      {settings[0].get(), u"Lumo_BIOSSetting", wbem::kOk},
      {settings[0].get(), u"Lumo_BIOSString", wbem::kFalse},
      {settings[6].get(), u"Lumo_BIOSBinary", wbem::kOk},
      {settings[6].get(), u"Lumo_BIOSSetting", wbem::kOk},
      {settings[6].get(), u"Lumo_BIOSEnumeration", wbem::kFalse},
      {interfaces[0].get(), u"lumo_BIOSSettingInterface", wbem::kOk},
      {interfaces[0].get(), u"Lumo_BIOSSetting", wbem::kFalse},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.object->InheritsFrom(c.className), c.expected) << platform::ToNarrow(c.className);
}

TEST_F(SimTest, QueriesAnswerEveryInstanceOfTheClassInFileOrder) {
  auto services = Open(MachineText());
  ASSERT_TRUE(services);
  using Names_ = std::vector<std::string>;
  struct Case {
    const char16_t* query;
    wbem::HResult hr;
    Names_ names;
  };
  const std::vector<Case> cases = {
      {u"select * from Lumo_BIOSSetting",
       wbem::kOk,
       {"Fast Boot", "POST Delay (in seconds)", "Asset Tag", "Boot Order", "Serial Number",
        "No Flag", "Blob", "Power-On Password", "Setup Password"}},
      {u"SELECT  *  FROM  lumo_biosstring ", wbem::kOk, {"Asset Tag", "Serial Number", "No Flag"}},
      {u"select * from Lumo_BIOSPassword", wbem::kOk, {"Power-On Password", "Setup Password"}},
      {u"select * from Lumo_BIOSBinary", wbem::kOk, {"Blob"}},
      {u"select * from Lumo_BIOSSettingInterface", wbem::kOk, {"<missing>"}},
      {u"select * from Lumo_Nothing", wbem::kInvalidClass, {}},
      {u"select Name from Lumo_BIOSSetting", wbem::kInvalidQuery, {}},
      {u"select * from Lumo_BIOSSetting where Name = 'A'", wbem::kInvalidQuery, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Names(Query(*services, c.query, c.hr)), c.names) << platform::ToNarrow(c.query);

  auto interfaces = Query(*services, u"select * from Lumo_BIOSSettingInterface");
  EXPECT_EQ(Text(*interfaces[0], u"__RELPATH"), platform::ToNarrow(kRelPath));
  EXPECT_EQ(Text(*interfaces[0], u"InstanceName"), "ACPI\\PNP0C14\\0_0");
  wbem::EnumPtr walk;
  EXPECT_EQ(services->ExecQuery(u"SQL", u"select * from Lumo_BIOSSetting", 0, walk),
            wbem::kInvalidQuery);
}

TEST_F(SimTest, MethodPlumbingFollowsTheClassObject) {
  auto services = Open(MachineText());
  ASSERT_TRUE(services);
  wbem::ObjectPtr classObject, signature, in, out;
  ASSERT_EQ(services->GetObjectByPath(u"lumo_BIOSSettingInterface", 0, classObject), wbem::kOk);
  EXPECT_EQ(classObject->GetMethod(u"GetBIOSSetting", signature), wbem::kNotFound);
  ASSERT_EQ(classObject->GetMethod(u"SetBIOSSetting", signature), wbem::kOk);
  ASSERT_EQ(signature->SpawnInstance(in), wbem::kOk);
  EXPECT_EQ(in->Put(u"Colour", wbem::Variant::String(u"x")), wbem::kNotFound);
  EXPECT_EQ(in->Put(u"Name", wbem::Variant::String(u"Asset Tag")), wbem::kOk);
  EXPECT_EQ(in->Put(u"Value", wbem::Variant::String(u"B2")), wbem::kOk);
  EXPECT_EQ(services->ExecMethod(kRelPath, u"Reset", 0, in.get(), out), wbem::kInvalidMethod);
  EXPECT_EQ(services->ExecMethod(u"Lumo_Nothing", u"SetBIOSSetting", 0, in.get(), out),
            wbem::kNotFound);
  EXPECT_EQ(services->ExecMethod(kRelPath, u"SetBIOSSetting", 0, nullptr, out),
            wbem::kInvalidParameter);
  // The class path works as well as the instance's; a missing Password is empty.
  ASSERT_EQ(services->ExecMethod(u"lumo_BIOSSettingInterface", u"SetBIOSSetting", 0, in.get(), out),
            wbem::kOk);
  EXPECT_EQ(Text(*out, u"Return"), "0");
  EXPECT_EQ(Read(*services, "Asset Tag", u"Value"), "B2");
}

TEST_F(SimTest, WritesAreValidatedByKind) {
  struct Case {
    const char* name;
    const char16_t* value;
    std::int32_t code;
    const char16_t* property;  // read back afterwards
    const char* after;
  };
  const std::vector<Case> cases = {
      {"fast boot", u"enable", sim::kReturnSuccess, u"CurrentValue", "Enable"},
      {"  Fast Boot ", u"Enable", sim::kReturnSuccess, u"CurrentValue", "Enable"},
      {"Fast Boot", u"extra", sim::kReturnSuccess, u"CurrentValue", "Extra"},
      {"Fast Boot", u"Extra DISABLED", sim::kReturnSuccess, u"CurrentValue", "Extra"},
      {"Fast Boot", u"--", sim::kReturnInvalidValue, u"CurrentValue", "Disable"},
      {"Fast Boot", u"Bogus", sim::kReturnInvalidValue, u"CurrentValue", "Disable"},
      {"POST Delay (in seconds)", u"+7", sim::kReturnSuccess, u"Value", "7"},
      {"POST Delay (in seconds)", u"60", sim::kReturnSuccess, u"Value", "60"},
      {"POST Delay (in seconds)", u"61", sim::kReturnInvalidValue, u"Value", "0"},
      {"POST Delay (in seconds)", u"-1", sim::kReturnInvalidValue, u"Value", "0"},
      {"POST Delay (in seconds)", u"0x10", sim::kReturnInvalidValue, u"Value", "0"},
      {"POST Delay (in seconds)", u"", sim::kReturnInvalidValue, u"Value", "0"},
      {"POST Delay (in seconds)", u"99999999999", sim::kReturnInvalidValue, u"Value", "0"},
      {"Asset Tag", u"", sim::kReturnSuccess, u"Value", ""},
      {"Asset Tag", u"ABCDEFGH", sim::kReturnSuccess, u"Value", "ABCDEFGH"},
      {"Asset Tag", u"ABCDEFGHI", sim::kReturnInvalidValue, u"Value", "A1"},
      {"Boot Order", u"C, A", sim::kReturnSuccess, u"Elements", "C|A|B DISABLED"},
      {"Boot Order", u"C,A", sim::kReturnSuccess, u"Value", "C,A,B DISABLED"},
      {"Boot Order", u"b,c DISABLED,a", sim::kReturnSuccess, u"Elements", "B|C DISABLED|A"},
      {"Boot Order", u"B DISABLED,C", sim::kReturnSuccess, u"Value", "B DISABLED,C,A"},
      {"Boot Order", u"C,Z", sim::kReturnInvalidValue, u"Elements", "A|B DISABLED|C"},
      {"Boot Order", u"C,C", sim::kReturnInvalidValue, u"Elements", "A|B DISABLED|C"},
      {"Boot Order", u" , ", sim::kReturnInvalidValue, u"Elements", "A|B DISABLED|C"},
      {"Serial Number", u"SN2", sim::kReturnReadOnly, u"Value", "SN1"},
      {"No Flag", u"y", sim::kReturnReadOnly, u"Value", "x"},  // no IsReadOnly: read-only
      {"Blob", u"01", sim::kReturnReadOnly, u"Value", "00"},
      {"Power-On Password", u"<utf-16/>x", sim::kReturnReadOnly, u"IsSet", "0"},
      {"Unknown", u"1", sim::kReturnNotFound, u"Value", "<no setting>"},
  };
  for (const Case& c : cases) {
    auto services = Open(MachineText());
    ASSERT_TRUE(services);
    EXPECT_EQ(Set(*services, c.name, c.value, u"<utf-16/>"), c.code)
        << c.name << " = " << platform::ToNarrow(c.value);
    EXPECT_EQ(Read(*services, c.name, c.property), c.after)
        << c.name << " = " << platform::ToNarrow(c.value);
  }
}

TEST_F(SimTest, CurrentPasswordIsCheckedInTheDeclaredEncoding) {
  const std::function<void(Json&)> unset = {};
  const auto text = [](Json& m) { SetPassword(m, "password", "Lumo-1234"); };
  const auto kbdOnly = [](Json& m) { SetPassword(m, "password", "Lumo-1234", {"kbd"}); };
  const auto fromKeys = [](Json& m) {
    SetPassword(m, "password", "Lumo-1234", {"kbd", "utf-16"}, 0);
  };
  const auto codes = [](Json& m) { SetPassword(m, "passwordCodes", "1e302e"); };
  const auto noKeys = [](Json& m) { SetPassword(m, "password", "p\xC3\xA4ss"); };
  const auto unknown = [](Json& m) { SettingNamed(m, "Setup Password")["IsSet"] = 1; };
  struct Case {
    const char* label;
    std::function<void(Json&)> machine;
    const char16_t* password;
    std::int32_t code;
  };
  const std::vector<Case> cases = {
      {"unset, empty", unset, u"", sim::kReturnSuccess},
      {"unset, text marker", unset, u"<utf-16/>", sim::kReturnSuccess},
      {"unset, key marker", unset, u"<kbd/>", sim::kReturnSuccess},
      {"unset, a password", unset, u"<utf-16/>x", sim::kReturnAccessDenied},
      {"unset, unmarked", unset, u"x", sim::kReturnAccessDenied},
      {"text, right", text, u"<utf-16/>Lumo-1234", sim::kReturnSuccess},
      {"text, other case", text, u"<utf-16/>lumo-1234", sim::kReturnAccessDenied},
      {"text, as keys", text, kLumoCodes, sim::kReturnSuccess},
      {"text, keys in lower-case hex", text, u"<kbd/>a61632180c02030405", sim::kReturnSuccess},
      {"text, wrong keys", text, u"<kbd/>261632180C02030405", sim::kReturnAccessDenied},
      {"text, empty", text, u"", sim::kReturnAccessDenied},
      {"text, bare marker", text, u"<utf-16/>", sim::kReturnAccessDenied},
      {"text, unmarked", text, u"Lumo-1234", sim::kReturnAccessDenied},
      {"keys only, text refused", kbdOnly, u"<utf-16/>Lumo-1234", sim::kReturnAccessDenied},
      {"keys only, keys", kbdOnly, kLumoCodes, sim::kReturnSuccess},
      {"set from keys, text refused", fromKeys, u"<utf-16/>Lumo-1234", sim::kReturnAccessDenied},
      {"set from keys, keys", fromKeys, kLumoCodes, sim::kReturnSuccess},
      {"kept as codes, keys", codes, u"<kbd/>1E302E", sim::kReturnSuccess},
      {"kept as codes, no text", codes, u"<utf-16/>abc", sim::kReturnAccessDenied},
      {"malformed hex", codes, u"<kbd/>1E302", sim::kReturnAccessDenied},
      {"no scan codes, text", noKeys, u"<utf-16/>p\u00E4ss", sim::kReturnSuccess},
      {"no scan codes, keys", noKeys, u"<kbd/>19", sim::kReturnAccessDenied},
      {"set but unknown", unknown, u"<utf-16/>", sim::kReturnAccessDenied},
  };
  for (const Case& c : cases) {
    auto services = Open(MachineText(c.machine));
    ASSERT_TRUE(services);
    EXPECT_EQ(Set(*services, "Fast Boot", u"Enable", c.password), c.code) << c.label;
    EXPECT_EQ(Read(*services, "Fast Boot", u"CurrentValue"),
              c.code == sim::kReturnSuccess ? "Enable" : "Disable")
        << c.label;
  }
}

TEST_F(SimTest, SetupPasswordIsSetChangedAndCleared) {
  const std::function<void(Json&)> unset = {};
  const auto text = [](Json& m) { SetPassword(m, "password", "Lumo-1234"); };
  const auto kbdOnly = [](Json& m) { SetPassword(m, "password", "Lumo-1234", {"kbd"}); };
  const auto fromKeys = [](Json& m) {
    SetPassword(m, "password", "Lumo-1234", {"kbd", "utf-16"}, 0);
  };
  struct Case {
    const char* label;
    std::function<void(Json&)> machine;
    const char16_t* value;
    const char16_t* current;
    std::int32_t code;
    const char* isSet;        // IsSet afterwards
    const char16_t* unlocks;  // a Password that is accepted afterwards
  };
  const std::vector<Case> cases = {
      {"set as text", unset, u"<utf-16/>new-1", u"<utf-16/>", sim::kReturnSuccess, "1",
       u"<utf-16/>new-1"},
      {"set as keys", unset, u"<kbd/>1E302E", u"<kbd/>", sim::kReturnSuccess, "1", u"<kbd/>1E302E"},
      {"change from text", text, u"<utf-16/>abc", u"<utf-16/>Lumo-1234", sim::kReturnSuccess, "1",
       u"<kbd/>1E302E"},
      {"change with the wrong one", text, u"<utf-16/>abc", u"<utf-16/>Lumo",
       sim::kReturnAccessDenied, "1", u"<utf-16/>Lumo-1234"},
      {"clear with a bare marker", text, u"<utf-16/>", u"<utf-16/>Lumo-1234", sim::kReturnSuccess,
       "0", u""},
      {"clear with nothing", kbdOnly, u"", kLumoCodes, sim::kReturnSuccess, "0", u"<kbd/>"},
      {"keys only: text refused", kbdOnly, u"<utf-16/>abc", kLumoCodes, sim::kReturnInvalidValue,
       "1", kLumoCodes},
      {"keys only: keys", kbdOnly, u"<kbd/>1E302E", kLumoCodes, sim::kReturnSuccess, "1",
       u"<kbd/>1E302E"},
      {"set from keys: text that has keys", fromKeys, u"<utf-16/>abc", kLumoCodes,
       sim::kReturnSuccess, "1", u"<kbd/>1E302E"},
      {"set from keys: text without keys", fromKeys, u"<utf-16/>p\u00E4ss", kLumoCodes,
       sim::kReturnInvalidValue, "1", kLumoCodes},
      {"too long", unset, u"<utf-16/>1234567890123", u"", sim::kReturnInvalidValue, "0", u""},
      {"odd hex", unset, u"<kbd/>1E3", u"", sim::kReturnInvalidValue, "0", u""},
      {"unmarked", unset, u"abc", u"", sim::kReturnInvalidValue, "0", u""},
  };
  for (const Case& c : cases) {
    auto services = Open(MachineText(c.machine));
    ASSERT_TRUE(services);
    EXPECT_EQ(Set(*services, "setup password", c.value, c.current), c.code) << c.label;
    EXPECT_EQ(Read(*services, "Setup Password", u"IsSet"), c.isSet) << c.label;
    EXPECT_EQ(Set(*services, "Fast Boot", u"Enable", c.unlocks), sim::kReturnSuccess) << c.label;
  }
}

TEST_F(SimTest, ConfirmingThePasswordAsKeysKeepsItsText) {
  // The password step confirms a password by changing it to itself.
  auto services =
      Open(MachineText([](Json& m) { SetPassword(m, "password", "Lumo-1234", {"kbd"}); }));
  ASSERT_TRUE(services);
  const std::string before = host.files[kPath];
  EXPECT_EQ(Set(*services, "Setup Password", kLumoCodes, kLumoCodes), sim::kReturnSuccess);
  services.reset();
  EXPECT_EQ(host.files[kPath], before);
}

TEST_F(SimTest, FaultKnobs) {
  {
    host.files[kPath] = R"({"provider": {"faults": {"connect": true}}})";
    std::string error;
    sim::InstallProvider(sim::LoadMachine(kPath, error));
    std::unique_ptr<wbem::Locator> locator;
    wbem::ServicesPtr services;
    ASSERT_EQ(wbem::CreateLocator(locator), wbem::kOk);
    EXPECT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kAccessDenied);
    EXPECT_FALSE(services);
  }
  {
    auto services = Open(MachineText(
        [](Json& m) { m["provider"]["faults"]["failQueries"] = {"lumo_biossetting"}; }));
    Query(*services, u"select * from Lumo_BIOSSetting", wbem::kFailed);
    EXPECT_EQ(Query(*services, u"select * from Lumo_BIOSPassword").size(), 2u);
  }
  {
    auto services =
        Open(MachineText([](Json& m) { m["provider"]["faults"]["noInterfaceInstance"] = true; }));
    EXPECT_TRUE(Query(*services, u"select * from Lumo_BIOSSettingInterface").empty());
    wbem::EnumPtr walk;
    wbem::ObjectPtr object;
    ASSERT_EQ(services->CreateInstanceEnum(u"lumo_BIOSSettingInterface", 0, walk), wbem::kOk);
    EXPECT_EQ(walk->Next(wbem::kInfinite, object), wbem::kFalse);
    EXPECT_EQ(Set(*services, "Asset Tag", u"B2", u""), -1);  // no instance path
    EXPECT_EQ(Set(*services, "Asset Tag", u"B2", u"", u"lumo_BIOSSettingInterface"), 0);
  }
  {
    auto services =
        Open(MachineText([](Json& m) { m["provider"]["faults"]["returnMissing"] = true; }));
    EXPECT_EQ(Set(*services, "Asset Tag", u"B2", u""), -2);
    EXPECT_EQ(Read(*services, "Asset Tag", u"Value"), "B2");
  }
  struct Case {
    const char* label;
    std::function<void(Json&)> machine;
    const char16_t* password;
    std::int32_t code;
  };
  const std::vector<Case> cases = {
      {"writeReturn", [](Json& m) { SettingNamed(m, "Asset Tag")["writeReturn"] = 32; }, u"", 32},
      {"writeReturn before the password",
       [](Json& m) {
         SettingNamed(m, "Asset Tag")["writeReturn"] = 0;
         SetPassword(m, "password", "x");
       },
       u"", 0},
      {"ignoreWrites", [](Json& m) { SettingNamed(m, "Asset Tag")["ignoreWrites"] = true; }, u"",
       0},
      {"ignoreWrites still checks the password",
       [](Json& m) {
         SettingNamed(m, "Asset Tag")["ignoreWrites"] = true;
         SetPassword(m, "password", "x");
       },
       u"", sim::kReturnAccessDenied},
  };
  for (const Case& c : cases) {
    auto services = Open(MachineText(c.machine));
    EXPECT_EQ(Set(*services, "Asset Tag", u"B2", c.password), c.code) << c.label;
    EXPECT_EQ(Read(*services, "Asset Tag", u"Value"), "A1") << c.label;
  }
}

TEST_F(SimTest, FetchedObjectsKeepTheirValuesAndPutStaysLocal) {
  auto services = Open(MachineText());
  ASSERT_TRUE(services);
  auto before = Query(*services, u"select * from Lumo_BIOSString");
  ASSERT_EQ(Set(*services, "Asset Tag", u"B2", u""), 0);
  EXPECT_EQ(Text(*before[0], u"Value"), "A1");
  EXPECT_EQ(before[0]->Put(u"Value", wbem::Variant::String(u"C3")), wbem::kOk);
  EXPECT_EQ(Text(*before[0], u"Value"), "C3");
  EXPECT_EQ(Read(*services, "Asset Tag", u"Value"), "B2");
}

TEST_F(SimTest, ChangesAreSavedWhenTheConnectionIsReleased) {
  const std::string original = MachineText([](Json& m) { m["zeta"] = "kept"; });
  auto services = Open(original);
  ASSERT_TRUE(services);
  ASSERT_EQ(Set(*services, "Boot Order", u"C,A", u""), 0);
  ASSERT_EQ(Set(*services, "Asset Tag", u"B2", u""), 0);
  EXPECT_EQ(host.files[kPath], original);  // nothing written while connected
  services.reset();

  Json saved = Json::parse(host.files[kPath], nullptr, false);
  ASSERT_FALSE(saved.is_discarded());
  Json expected = Json::parse(original);
  SettingNamed(expected, "Boot Order")["Value"] = "C,A,B DISABLED";
  SettingNamed(expected, "Boot Order")["Elements"] = {"C", "A", "B DISABLED"};
  SettingNamed(expected, "Asset Tag")["Value"] = "B2";
  EXPECT_EQ(host.files[kPath], expected.dump(2) + "\n");  // same keys, same order

  // A reload sees the change; a connection that changes nothing writes nothing.
  host.files[kPath] = saved.dump(4);
  services = Connect();
  ASSERT_TRUE(services);
  EXPECT_EQ(Read(*services, "Asset Tag", u"Value"), "B2");
  EXPECT_EQ(Set(*services, "Asset Tag", u"B2", u""), 0);
  EXPECT_EQ(Set(*services, "Serial Number", u"X", u""), sim::kReturnReadOnly);
  services.reset();
  EXPECT_EQ(host.files[kPath], saved.dump(4));
}

TEST_F(SimTest, AFailedSaveIsReportedAndRetried) {
  const char* dir = "/machines/";  // the fake host cannot write a directory
  host.files[dir] = MachineText();
  std::string error;
  auto machine = sim::LoadMachine(dir, error);
  ASSERT_TRUE(machine) << error;
  sim::InstallProvider(machine);
  std::unique_ptr<wbem::Locator> locator;
  wbem::ServicesPtr services;
  ASSERT_EQ(wbem::CreateLocator(locator), wbem::kOk);
  ASSERT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kOk);
  ASSERT_EQ(Set(*services, "Asset Tag", u"B2", u""), 0);
  services.reset();
  EXPECT_NE(host.err.find("cannot write"), std::string::npos);
  EXPECT_FALSE(sim::SaveMachine(*machine, error));
  EXPECT_NE(sim::MachineToJson(*machine).find("\"B2\""), std::string::npos);
}

TEST_F(SimTest, EnvironmentNamesTheMachine) {
  std::string error;
  EXPECT_EQ(sim::InstallFromEnvironment(error), sim::EnvironmentStatus::NotRequested);
  host.environment["CORVANE_MACHINE"] = "/nowhere.json";
  EXPECT_EQ(sim::InstallFromEnvironment(error), sim::EnvironmentStatus::Failed);
  EXPECT_NE(error.find("/nowhere.json"), std::string::npos);
  host.files[kPath] = MachineText();
  host.environment["CORVANE_MACHINE"] = kPath;
  ASSERT_EQ(sim::InstallFromEnvironment(error), sim::EnvironmentStatus::Installed);
  std::unique_ptr<wbem::Locator> locator;
  wbem::ServicesPtr services;
  ASSERT_EQ(wbem::CreateLocator(locator), wbem::kOk);
  ASSERT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kOk);
  EXPECT_EQ(Read(*services, "Asset Tag", u"Value"), "A1");
  EXPECT_EQ(locator->ConnectServer(u"root\\cimv2", 0, services), wbem::kInvalidNamespace);

  // A machine with only a legacy section has no provider to connect to.
  host.files[kPath] = R"({"legacy": {}})";
  ASSERT_EQ(sim::InstallFromEnvironment(error), sim::EnvironmentStatus::Installed);
  ASSERT_EQ(wbem::CreateLocator(locator), wbem::kOk);
  EXPECT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kInvalidNamespace);
}

}  // namespace
}  // namespace corvane
