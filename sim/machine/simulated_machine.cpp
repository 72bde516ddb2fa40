#include "sim/machine/simulated_machine.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <span>
#include <string_view>
#include <utility>

#include "platform/hex.h"
#include "platform/host.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/wbem.h"
#include "sim/legacy/legacy_firmware.h"
#include "sim/legacy/simulated_memory.h"
#include "sim/machine/machine_file.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/schema.h"
#include "sim/wmi/wmi_objects.h"

namespace corvane::sim {

bool FitsInt32(const Json& value) {
  if (value.is_number_unsigned())
    return value.get<std::uint64_t>() <=
           static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (!value.is_number_integer()) return false;
  const auto number = value.get<std::int64_t>();
  return number >= std::numeric_limits<std::int32_t>::min() &&
         number <= std::numeric_limits<std::int32_t>::max();
}

// A property must be something the provider's variants can carry.
bool CheckProperty(const std::string& key, const Json& value, std::string& error) {
  if (value.is_null() || value.is_string() || value.is_boolean()) return true;
  if (value.is_number()) {
    if (FitsInt32(value)) return true;
    error = "property \"" + key + "\" is a number that is not a 32-bit integer";
    return false;
  }
  if (value.is_array()) {
    for (const auto& item : value)
      if (!item.is_string()) {
        error = "property \"" + key + "\" is an array with an item that is not a string";
        return false;
      }
    return true;
  }
  error = "property \"" + key + "\" is an object; properties are strings, integers, " +
          "booleans, arrays of strings or null";
  return false;
}

namespace {

SettingClass ClassifyKey(const std::string& classKey) {
  static const std::pair<std::string, SettingClass> kKinds[] = {
      {FoldKey(contract::kEnumerationClass), SettingClass::Enumeration},
      {FoldKey(contract::kStringClass), SettingClass::String},
      {FoldKey(contract::kIntegerClass), SettingClass::Integer},
      {FoldKey(contract::kOrderedListClass), SettingClass::OrderedList},
      {FoldKey(contract::kPasswordClass), SettingClass::Password}};
  for (const auto& [key, kind] : kKinds)
    if (classKey == key) return kind;
  return SettingClass::Other;
}

// The controls a setting may carry besides its properties.
std::span<const schema::Key> SettingControls() {
  static const schema::Key kControls[] = {
      schema::Required(
          {"class",
           [](const Json& value, const std::string& label, std::string& error) {
             if (!value.is_string() || FoldKey(value.get_ref<const std::string&>()).empty()) {
               error = label + " must be a non-empty string";
               return false;
             }
             if (FoldKey(value.get_ref<const std::string&>()) != FoldKey(contract::kInterfaceClass))
               return true;
             error = "a setting cannot be of the interface class";
             return false;
           }}),
      schema::Text("password"),
      schema::Hex("passwordCodes", "scan code"),
      schema::Int32("writeReturn"),
      schema::Int32("refusedPasswords"),
      schema::Bool("ignoreWrites")};
  return kControls;
}

// The Name property as the provider serves it: property names match without regard to case,
// and the first spelling wins.
Json::iterator FindName(Json& item) {
  for (auto it = item.begin(); it != item.end(); ++it)
    if (!IsControlKey(it.key()) && platform::AsciiUpper(it.key()) == "NAME") return it;
  return item.end();
}

bool LoadSetting(Json&& item, std::size_t index, SimulatedMachine& machine, std::string& error) {
  std::string where = "provider.settings[" + std::to_string(index) + "]";
  if (!item.is_object()) {
    error = where + " is not an object";
    return false;
  }
  const auto name = FindName(item);
  if (name != item.end() && name->is_string())
    where += " (\"" + name->get_ref<const std::string&>() + "\")";

  if (!schema::Read(item, SettingControls(), error,
                    {"", "control", schema::Order::InFileOrder, CheckProperty})) {
    error.insert(0, where + ": ");
    return false;
  }
  const auto className = item.find("class");

  auto record = std::make_shared<SettingRecord>();
  record->className = className->get<std::string>();
  record->classKey = FoldKey(record->className);
  record->kind = ClassifyKey(record->classKey);
  const bool hasText = item.contains("password");
  const bool hasCodes = item.contains("passwordCodes");
  if ((hasText || hasCodes) && record->kind != SettingClass::Password) {
    error = where + ": only a " + std::string(contract::kPasswordClass) +
            " setting can hold a password";
    return false;
  }
  if (hasText && hasCodes) {
    error = where + ": " + schema::EitherReason("password", "passwordCodes");
    return false;
  }

  const std::size_t position = machine.settings.size();
  if (name != item.end() && name->is_string()) {
    const std::string key = FoldKey(name->get_ref<const std::string&>());
    machine.byName.emplace(key, position);  // the first of equal names wins
    if (record->kind == SettingClass::Password && key == FoldKey(contract::kSetupPasswordName) &&
        machine.setupPassword == SimulatedMachine::npos)
      machine.setupPassword = position;
  }
  machine.knownClasses.insert(record->classKey);
  record->data = std::move(item);
  machine.settings.push_back(std::move(record));
  return true;
}

bool LoadFaults(const Json& faults, const std::string& label, Faults& result, std::string& error) {
  if (!faults.is_object()) {
    error = label + " is not an object";
    return false;
  }
  const schema::Key keys[] = {
      schema::Bool("connect", result.connect),
      schema::Bool("noInterfaceInstance", result.noInterfaceInstance),
      schema::Bool("returnMissing", result.returnMissing),
      {"failQueries", [&result](const Json& value, const std::string& name, std::string& reason) {
         if (!value.is_array() || !std::all_of(value.begin(), value.end(),
                                               [](const Json& c) { return c.is_string(); })) {
           reason = name + " must be an array of class names";
           return false;
         }
         for (const auto& item : value)
           result.failQueries.insert(FoldKey(item.get_ref<const std::string&>()));
         return true;
       }}};
  return schema::Read(faults, keys, error, {label, "fault", schema::Order::InFileOrder});
}

// The interface takes properties only.
bool LoadInterface(const Json& section, const std::string& label, SimulatedMachine& machine,
                   std::string& error) {
  if (!section.is_object()) {
    error = label + " is not an object";
    return false;
  }
  if (!schema::Read(section, {}, error,
                    {label, "control", schema::Order::InFileOrder, CheckProperty}))
    return false;
  machine.interfaceProperties = section;
  return true;
}

std::string InterfaceRelPath(const Json& properties) {
  std::string instanceName = "ACPI\\PNP0C14\\0_0";
  const auto given = properties.find("InstanceName");
  if (given != properties.end() && given->is_string())
    instanceName = given->get_ref<const std::string&>();
  return wbem::InstancePath(contract::kInterfaceClass, instanceName);
}

bool LoadProvider(Json& provider, SimulatedMachine& machine, std::string& error) {
  if (!provider.is_object()) {
    error = "\"provider\" is not an object";
    return false;
  }
  const schema::Key keys[] = {
      {"faults",
       [&machine](const Json& faults, const std::string& label, std::string& reason) {
         return LoadFaults(faults, label, machine.faults, reason);
       }},
      {"interface",
       [&machine](const Json& section, const std::string& label, std::string& reason) {
         return LoadInterface(section, label, machine, reason);
       }},
      {"settings"}};  // read below: the records take them over
  if (!schema::Read(provider, keys, error, {"provider"})) return false;
  if (!machine.interfaceProperties.contains("InstanceName"))
    machine.interfaceProperties["InstanceName"] = "ACPI\\PNP0C14\\0_0";
  machine.interfaceRelPath = InterfaceRelPath(machine.interfaceProperties);

  for (const std::string_view known : contract::kClasses)
    machine.knownClasses.insert(FoldKey(known));

  const auto settings = provider.find("settings");
  if (settings == provider.end()) return true;
  if (!settings->is_array()) {
    error = "provider.settings is not an array";
    return false;
  }
  machine.settings.reserve(settings->size());
  std::size_t index = 0;
  for (auto& item : *settings)
    if (!LoadSetting(std::move(item), index++, machine, error)) return false;
  // The records own the settings now; the document keeps the key's place for saving.
  *settings = Json::array();
  return true;
}

}  // namespace

std::string FoldKey(std::string_view text) {
  return platform::AsciiUpper(platform::Trim(text));
}

wbem::Variant ToVariant(const Json& value) {
  if (value.is_string())
    return wbem::Variant::String(Utf8ToUtf16(value.get_ref<const std::string&>()));
  if (value.is_boolean()) return wbem::Variant::Bool(value.get<bool>());
  if (value.is_number_integer())
    return wbem::Variant::Int32(static_cast<std::int32_t>(value.get<std::int64_t>()));
  if (value.is_array()) {
    std::vector<std::u16string> items;
    items.reserve(value.size());
    for (const auto& item : value)
      items.push_back(item.is_string() ? Utf8ToUtf16(item.get_ref<const std::string&>())
                                       : std::u16string());
    return wbem::Variant::StringArray(std::move(items));
  }
  return wbem::Variant::Null();
}

std::shared_ptr<SimulatedMachine> ParseMachine(const std::string& json, const std::string& path,
                                               std::string& error) {
  error.clear();
  Json document;
  if (!ParseJsonText(json, document, error)) return nullptr;
  constexpr const char* kShape =
      R"(a machine is a JSON object with "provider", "dell", "lenovo" and/or "legacy")";
  if (!document.is_object()) {
    error = kShape;
    return nullptr;
  }
  auto machine = std::make_shared<SimulatedMachine>();
  machine->path = path;
  const auto provider = document.find("provider");
  machine->hasDell = document.contains(kDellSection);
  machine->hasLenovo = document.contains(kLenovoSection);
  if (provider == document.end() && !document.contains("legacy") && !machine->hasDell &&
      !machine->hasLenovo) {
    error = kShape;
    return nullptr;
  }
  if (provider != document.end()) {
    machine->hasProvider = true;
    if (!LoadProvider(*provider, *machine, error)) return nullptr;
  }
  for (const std::string_view key : {kDellSection, kLenovoSection}) {
    const auto section = document.find(key);
    if (section != document.end() && !CheckMakerSection(key, *section, error)) {
      error.insert(0, std::string(key) + ": ");
      return nullptr;
    }
  }
  if (document.contains(kKernelSection) && !CheckKernelSection(document, error)) {
    error.insert(0, "kernel: ");
    return nullptr;
  }
  // The management library serves this section; a fault in it stops the run here too.
  const auto legacy = document.find("legacy");
  if (legacy != document.end() && !LegacyFirmware::Parse(*legacy, error)) {
    error = "legacy: " + error;
    return nullptr;
  }
  machine->document = std::move(document);
  return machine;
}

std::shared_ptr<SimulatedMachine> LoadMachine(const std::string& path, std::string& error) {
  const std::string unreadable = "cannot read the machine file '" + path + "'";
  // A file too large for the memory at hand is one that cannot be read.
  try {
    std::string text;
    if (!platform::Os().ReadFile(path, text)) {
      error = unreadable;
      return nullptr;
    }
    auto machine = ParseMachine(text, path, error);
    if (!machine) error = "machine file '" + path + "': " + error;
    return machine;
  } catch (const std::bad_alloc&) {
    error = unreadable;
    return nullptr;
  }
}

namespace {

Json WholeDocument(const SimulatedMachine& machine) {
  Json out = machine.document;
  if (machine.hasProvider) {
    Json& provider = out["provider"];
    if (provider.contains("settings") || !machine.settings.empty()) {
      Json settings = Json::array();
      settings.get_ref<Json::array_t&>().reserve(machine.settings.size());
      for (const auto& record : machine.settings) settings.push_back(record->data);
      provider["settings"] = std::move(settings);
    }
  }
  return out;
}

}  // namespace

std::string MachineToJson(const SimulatedMachine& machine) {
  return DocumentText(WholeDocument(machine));
}

namespace {

std::weak_ptr<SimulatedMachine>& CountedMachine() {
  static std::weak_ptr<SimulatedMachine> machine;
  return machine;
}

void SaveCountsAtExit() {
  const auto machine = CountedMachine().lock();
  if (!machine || !machine->countsDirty) return;
  machine->dirty = true;
  std::string error;
  if (!SaveMachine(*machine, error)) platform::Os().WriteErr("Simulated machine: " + error + "\n");
}

}  // namespace

void NoteCounts(const std::shared_ptr<SimulatedMachine>& machine) {
  machine->countsDirty = true;
  if (CountedMachine().lock() == machine) return;
  static const bool registered = std::atexit(SaveCountsAtExit) == 0;
  (void)registered;
  CountedMachine() = machine;
}

bool SaveMachine(SimulatedMachine& machine, std::string& error) {
  error.clear();
  if (!machine.dirty) return true;
  if (!machine.path.empty()) {
    bool written = false;
    if (machine.document.size() > 1) {
      // Other sections may have changed on disk since the load (the management library keeps
      // the legacy section): replace only those served here.
      const Json whole = WholeDocument(machine);
      Json sections = Json::object();
      for (const std::string_view key :
           {std::string_view("provider"), kDellSection, kLenovoSection, kKernelSection})
        if (const auto section = whole.find(key); section != whole.end())
          sections[std::string(key)] = *section;
      written = SaveSections(machine.path, sections, whole);
    } else {
      written = platform::Os().WriteWholeFile(machine.path, MachineToJson(machine), false);
    }
    if (!written) {
      error = "cannot write the machine file '" + machine.path + "'";
      return false;
    }
  }
  machine.dirty = machine.countsDirty = false;
  return true;
}

void InstallProvider(const std::shared_ptr<SimulatedMachine>& machine) {
  wbem::InstallLocatorFactory([machine](std::unique_ptr<wbem::Locator>& locator) {
    locator = CreateSimulatedLocator(machine);
    return wbem::kOk;
  });
}

EnvironmentStatus InstallFromEnvironment(std::string& error) {
  error.clear();
  const std::string path = platform::Os().Environment("CORVANE_MACHINE");
  if (path.empty()) return EnvironmentStatus::NotRequested;
  auto machine = LoadMachine(path, error);
  if (!machine) return EnvironmentStatus::Failed;
  InstallProvider(machine);
  // The program reads firmware texts out of the machine's memory, never the computer's.
  InstallMemory(machine->document);
  InstallKernelTree(machine);
  return EnvironmentStatus::Installed;
}

}  // namespace corvane::sim
