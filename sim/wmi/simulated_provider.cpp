// The provider side of the simulated machine: the WMI objects a connection hands out and the
// firmware's SetBIOSSetting.
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/hex.h"
#include "platform/host.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/wbem.h"
#include "platform/wmi_kit.h"
#include "sim/legacy/sim_keyboard.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"
#include "sim/wmi/wmi_objects.h"

namespace corvane::sim {
namespace {

using wbem::PlainObject;

constexpr std::u16string_view kUtf16Marker = contract::kUtf16Marker.Wide();
constexpr std::u16string_view kKbdMarker = contract::kKbdMarker.Wide();

std::string Upper(std::u16string_view text) {
  return platform::AsciiUpper(Utf16ToUtf8(text));
}

// ---------------------------------------------------------------------------------------------
// Reading and writing the file's objects. Property names match without regard to case, as WMI's
// do; controls are never properties.

// A flag reads as its boolean or nonzero integer; anything else as whenUnreadable.
bool Flag(const Json& data, std::string_view name, bool whenUnreadable) {
  const auto it = FindProperty(data, name);
  if (it == data.end()) return whenUnreadable;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number_integer()) return it->get<std::int64_t>() != 0;
  return whenUnreadable;
}

std::optional<std::int64_t> Integer(const Json& data, std::string_view name) {
  const auto it = FindProperty(data, name);
  if (it == data.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

// The entry of a list cut before its " DISABLED" marker, in any letter case.
std::string CutMarker(std::string_view entry) {
  const std::size_t marker = platform::AsciiUpper(entry).find(" DISABLED");
  return platform::Trim(entry.substr(0, marker));
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ParseHexCodes(std::u16string_view hex, std::string& codes) {
  return platform::DecodeHex(Utf16ToUtf8(hex), codes);
}

// ---------------------------------------------------------------------------------------------
// The setup password.

// IsSet and PwdSetFrom read as the program reads them: a boolean counts as 1 or 0, so that
// "IsSet": true means a set password to both sides.
std::optional<std::int64_t> IntegerOrFlag(const Json& data, std::string_view name) {
  const auto it = FindProperty(data, name);
  if (it != data.end() && it->is_boolean()) return it->get<bool>() ? 1 : 0;
  return Integer(data, name);
}

bool IsSet(const Json& data) {
  return IntegerOrFlag(data, "IsSet") == 1;
}
bool PwdSetFromZero(const Json& data) {
  return IntegerOrFlag(data, "PwdSetFrom") == 0;
}

// A flag the file gives as a boolean stays a boolean.
void StoreIsSet(Json& data, bool set) {
  const auto it = FindProperty(data, "IsSet");
  if (it != data.end() && it->is_boolean())
    SetProperty(data, "IsSet", set);
  else
    SetProperty(data, "IsSet", set ? 1 : 0);
}

bool SupportsUtf16(const Json& data) {
  const auto list = FindProperty(data, "SupportedEncoding");
  if (list == data.end() || !list->is_array()) return false;
  for (const auto& item : *list)
    if (FoldKey(TextOf(item)) == "UTF-16") return true;
  return false;
}

// The scan codes a set password is typed with: kept as codes, or derived from its text.
bool StoredCodes(const Json& data, std::string& codes) {
  codes.clear();
  if (const auto kept = data.find("passwordCodes"); kept != data.end())
    return platform::DecodeHex(TextOf(*kept), codes);
  const auto text = data.find("password");
  if (text == data.end()) return false;
  return KeysOf(platform::ToNarrow(Utf8ToUtf16(TextOf(*text))), codes);
}

const SettingRecord* SetupPassword(const SimulatedMachine& machine) {
  return machine.setupPassword == SimulatedMachine::npos
             ? nullptr
             : machine.settings[machine.setupPassword].get();
}

bool PasswordAccepted(const SimulatedMachine& machine, std::u16string_view password) {
  const SettingRecord* setup = SetupPassword(machine);
  if (setup == nullptr || !IsSet(setup->data))
    return password.empty() || password == kUtf16Marker || password == kKbdMarker;
  const Json& data = setup->data;
  if (StartsWith(password, kUtf16Marker)) {
    // A password set as codes has no text that could be compared.
    const auto text = data.find("password");
    if (!SupportsUtf16(data) || PwdSetFromZero(data) || text == data.end()) return false;
    return Utf8ToUtf16(TextOf(*text)) == password.substr(kUtf16Marker.size());
  }
  if (StartsWith(password, kKbdMarker)) {
    std::string given, stored;
    return ParseHexCodes(password.substr(kKbdMarker.size()), given) && StoredCodes(data, stored) &&
           given == stored;
  }
  return false;
}

// Real firmware counts wrong passwords and locks out after a few, so a run's refused attempts
// are kept on the setup password, where a test can see how many were made.
void CountRefusedPassword(SimulatedMachine& machine) {
  const SettingRecord* setup = SetupPassword(machine);
  if (setup == nullptr) return;
  Json updated = setup->data;
  const auto count = updated.find("refusedPasswords");
  updated["refusedPasswords"] =
      (count != updated.end() && count->is_number_integer() ? count->get<std::int64_t>() : 0) + 1;
  machine.settings[machine.setupPassword] = std::make_shared<const SettingRecord>(
      SettingRecord{setup->className, setup->classKey, setup->kind, std::move(updated)});
  machine.dirty = true;
}

bool LengthAllowed(const Json& data, std::size_t length) {
  const auto minimum = Integer(data, "MinLength");
  const auto maximum = Integer(data, "MaxLength");
  const auto size = static_cast<std::int64_t>(length);
  return (!minimum || size >= *minimum) && (!maximum || size <= *maximum);
}

std::int32_t ChangeSetupPassword(Json& data, std::u16string_view value) {
  if (value.empty() || value == kUtf16Marker || value == kKbdMarker) {
    data.erase("password");
    data.erase("passwordCodes");
    StoreIsSet(data, false);
    return contract::kReturnSuccess;
  }
  if (StartsWith(value, kUtf16Marker)) {
    const std::u16string_view text = value.substr(kUtf16Marker.size());
    if (!SupportsUtf16(data) || !LengthAllowed(data, text.size()))
      return contract::kReturnInvalidValue;
    // Where the password must be typed as keys, one without keys would lock the machine.
    std::string codes;
    if (PwdSetFromZero(data) && !KeysOf(platform::ToNarrow(text), codes))
      return contract::kReturnInvalidValue;
    data.erase("passwordCodes");
    data["password"] = Utf16ToUtf8(text);
  } else if (StartsWith(value, kKbdMarker)) {
    std::string codes, current;
    if (!ParseHexCodes(value.substr(kKbdMarker.size()), codes) ||
        !LengthAllowed(data, codes.size()))
      return contract::kReturnInvalidValue;
    // The same keys as the text on file: keep the readable text.
    const bool sameAsText = !data.contains("passwordCodes") && data.contains("password") &&
                            StoredCodes(data, current) && current == codes;
    if (!sameAsText) {
      data.erase("password");
      data["passwordCodes"] = platform::EncodeHex(codes);
    }
  } else {
    return contract::kReturnInvalidValue;
  }
  StoreIsSet(data, true);
  return contract::kReturnSuccess;
}

// ---------------------------------------------------------------------------------------------
// Values by kind.

std::int32_t SetEnumeration(Json& data, const std::string& value) {
  const auto list = FindProperty(data, "PossibleValues");
  if (list == data.end() || !list->is_array()) return contract::kReturnInvalidValue;
  const std::string wanted = FoldKey(value);
  for (const auto& item : *list) {
    const std::string entry = platform::Trim(TextOf(item));
    if (entry.empty() || entry == "--") continue;
    const std::string base = CutMarker(entry);
    if (wanted == platform::AsciiUpper(base) || wanted == platform::AsciiUpper(entry)) {
      SetProperty(data, "CurrentValue", base);
      return contract::kReturnSuccess;
    }
  }
  return contract::kReturnInvalidValue;
}

bool ParseDecimal(std::string_view text, std::int64_t& number) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  if (pos == text.size()) return false;
  number = 0;
  for (; pos < text.size(); ++pos) {
    if (text[pos] < '0' || text[pos] > '9') return false;
    number = number * 10 + (text[pos] - '0');
    if (number > 0x80000000LL) return false;
  }
  if (negative) number = -number;
  return number >= std::numeric_limits<std::int32_t>::min() &&
         number <= std::numeric_limits<std::int32_t>::max();
}

std::int32_t SetInteger(Json& data, const std::string& value) {
  std::int64_t number = 0;
  if (!ParseDecimal(platform::Trim(value), number)) return contract::kReturnInvalidValue;
  const auto lower = Integer(data, "LowerBound");
  const auto upper = Integer(data, "UpperBound");
  if ((lower && number < *lower) || (upper && number > *upper))
    return contract::kReturnInvalidValue;
  SetProperty(data, "Value", std::to_string(number));
  return contract::kReturnSuccess;
}

std::int32_t SetString(Json& data, std::u16string_view value) {
  if (!LengthAllowed(data, value.size())) return contract::kReturnInvalidValue;
  SetProperty(data, "Value", Utf16ToUtf8(value));
  return contract::kReturnSuccess;
}

std::int32_t SetOrderedList(Json& data, const std::string& value) {
  const auto list = FindProperty(data, "Elements");
  if (list == data.end() || !list->is_array()) return contract::kReturnInvalidValue;
  const Json& elements = *list;
  std::unordered_map<std::string, std::size_t> byBase;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const std::string entry = platform::Trim(TextOf(elements[i]));
    if (!entry.empty() && entry != "--") byBase.emplace(platform::AsciiUpper(CutMarker(entry)), i);
  }

  std::vector<std::size_t> order;
  std::vector<bool> named(elements.size(), false);
  // A named element takes the enabled or disabled state the value gives it.
  std::vector<bool> disabled(elements.size(), false);
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    const std::string item = platform::Trim(std::string_view(value).substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    const auto found = byBase.find(platform::AsciiUpper(CutMarker(item)));
    if (found == byBase.end() || named[found->second]) return contract::kReturnInvalidValue;
    named[found->second] = true;
    disabled[found->second] = platform::AsciiUpper(item).find(" DISABLED") != std::string::npos;
    order.push_back(found->second);
  }
  if (order.empty()) return contract::kReturnInvalidValue;
  for (std::size_t i = 0; i < elements.size(); ++i)
    if (!named[i]) order.push_back(i);

  Json reordered = Json::array();
  std::string joined;
  for (std::size_t i : order) {
    std::string entry = platform::Trim(TextOf(elements[i]));
    if (named[i]) entry = CutMarker(entry) + (disabled[i] ? " DISABLED" : "");
    reordered.push_back(named[i] ? Json(entry) : elements[i]);
    if (entry.empty() || entry == "--") continue;
    if (!joined.empty()) joined += ",";
    joined += entry;
  }
  SetProperty(data, "Elements", std::move(reordered));
  SetProperty(data, "Value", joined);
  return contract::kReturnSuccess;
}

// ---------------------------------------------------------------------------------------------
// WMI objects.

// A setting instance: a view on the record that was current when it was fetched.
class SettingObject : public wbem::ClassObject {
 public:
  explicit SettingObject(RecordPtr record) : record_(std::move(record)) {}

  wbem::HResult Get(std::u16string_view name, wbem::Variant& value) override {
    const std::string narrow = Utf16ToUtf8(name);
    if (const wbem::Variant* local = puts_.Find(narrow)) {
      value = *local;
      return wbem::kOk;
    }
    if (wbem::SameName(narrow, "__CLASS")) {
      value = wbem::Variant::String(Utf8ToUtf16(record_->className));
      return wbem::kOk;
    }
    const auto it = FindProperty(record_->data, narrow);
    if (it == record_->data.end()) return wbem::kNotFound;
    value = ToVariant(*it);
    return wbem::kOk;
  }
  wbem::HResult Put(std::u16string_view name, const wbem::Variant& value) override {
    puts_.Set(Utf16ToUtf8(name), value);
    return wbem::kOk;
  }
  wbem::HResult InheritsFrom(std::u16string_view className) override {
    const std::string upper = Upper(className);
    return upper == record_->classKey || upper == FoldKey(contract::kBaseClass) ? wbem::kOk
                                                                                : wbem::kFalse;
  }
  wbem::HResult GetMethod(std::u16string_view, wbem::ObjectPtr& signature) override {
    signature.reset();
    return wbem::kNotFound;
  }
  wbem::HResult SpawnInstance(wbem::ObjectPtr& instance) override {
    instance.reset();
    return wbem::kFailed;  // only classes spawn instances
  }

 private:
  RecordPtr record_;
  wbem::PropertyList puts_;
};

wbem::ObjectPtr MakeInterfaceInstance(const SimulatedMachine& machine) {
  auto object = std::make_unique<PlainObject>(PlainObject::Role::Instance,
                                              std::string(contract::kInterfaceClass),
                                              contract::ClassChain(contract::kInterfaceClass));
  for (auto it = machine.interfaceProperties.begin(); it != machine.interfaceProperties.end(); ++it)
    object->Add(it.key(), ToVariant(*it));
  object->Add("__RELPATH", wbem::Variant::String(Utf8ToUtf16(machine.interfaceRelPath)));
  return object;
}

// Instances in file order; a null record stands for the interface instance.
class SimulatedEnum : public wbem::EnumClassObject {
 public:
  SimulatedEnum(std::shared_ptr<SimulatedMachine> machine, std::vector<RecordPtr> items)
      : machine_(std::move(machine)), items_(std::move(items)) {}
  wbem::HResult Next(std::int32_t, wbem::ObjectPtr& object) override {
    object.reset();
    if (next_ >= items_.size()) return wbem::kFalse;
    const RecordPtr& item = items_[next_++];
    if (item)
      object = std::make_unique<SettingObject>(item);
    else
      object = MakeInterfaceInstance(*machine_);
    return wbem::kOk;
  }

 private:
  std::shared_ptr<SimulatedMachine> machine_;
  std::vector<RecordPtr> items_;
  std::size_t next_ = 0;
};

class SimulatedServices : public wbem::InProcessServices {
 public:
  explicit SimulatedServices(std::shared_ptr<SimulatedMachine> machine)
      : machine_(std::move(machine)) {}
  // Saving once per connection keeps a run of many changes linear in the machine's size.
  ~SimulatedServices() override {
    std::string error;
    if (!SaveMachine(*machine_, error))
      platform::Os().WriteErr("Simulated machine: " + error + "\n");
  }

  wbem::HResult GetObjectByPath(std::u16string_view path, std::int32_t,
                                wbem::ObjectPtr& object) override {
    object.reset();
    const std::string key = FoldKey(Utf16ToUtf8(path));
    if (IsInterfaceInstancePath(key)) {
      object = MakeInterfaceInstance(*machine_);
      return wbem::kOk;
    }
    if (!machine_->knownClasses.count(key)) return wbem::kNotFound;
    std::vector<wbem::MethodSignature> methods;
    if (key == FoldKey(contract::kInterfaceClass))
      methods.push_back(
          {std::string(contract::kMethod),
           {std::begin(contract::kMethodArguments), std::end(contract::kMethodArguments)}});
    object = std::make_unique<PlainObject>(PlainObject::Role::Class, ClassSpelling(key),
                                           contract::ClassChain(key), std::move(methods));
    return wbem::kOk;
  }

  wbem::HResult ExecMethod(std::u16string_view path, std::u16string_view method, std::int32_t,
                           wbem::ClassObject* inParams, wbem::ObjectPtr& outParams) override {
    outParams.reset();
    const std::string key = FoldKey(Utf16ToUtf8(path));
    if (key != FoldKey(contract::kInterfaceClass) && !IsInterfaceInstancePath(key))
      return machine_->knownClasses.count(key) ? wbem::kInvalidMethod : wbem::kNotFound;
    if (Upper(method) != platform::AsciiUpper(contract::kMethod)) return wbem::kInvalidMethod;
    std::u16string name, value, password;
    if (inParams == nullptr || !wbem::ReadArgument(*inParams, u"Name", name) ||
        !wbem::ReadArgument(*inParams, u"Value", value) ||
        !wbem::ReadArgument(*inParams, u"Password", password))
      return wbem::kInvalidParameter;

    const std::int32_t code = SetBiosSetting(*machine_, name, value, password);
    auto out = PlainObject::MakeParameters(PlainObject::Role::Parameters, {});
    if (!machine_->faults.returnMissing) out->Add(contract::kReturn, wbem::Variant::Int32(code));
    outParams = std::move(out);
    return wbem::kOk;
  }

 protected:
  wbem::HResult Walk(const std::string& classKey, wbem::EnumPtr& result) override {
    if (!machine_->knownClasses.count(classKey)) return wbem::kInvalidClass;
    result = Instances(classKey);
    return wbem::kOk;
  }
  // A query of a class the machine fails fails; its instance enumeration does not.
  wbem::HResult Query(const std::string& classKey, wbem::EnumPtr& result) override {
    if (machine_->knownClasses.count(classKey) && machine_->faults.failQueries.count(classKey))
      return wbem::kFailed;
    return Walk(classKey, result);
  }

 private:
  [[nodiscard]] bool IsInterfaceInstancePath(const std::string& key) const {
    return !machine_->faults.noInterfaceInstance &&
           key == platform::AsciiUpper(machine_->interfaceRelPath);
  }

  // The class name as the file spells it, for class objects of setting classes.
  [[nodiscard]] std::string ClassSpelling(const std::string& key) const {
    for (const auto& record : machine_->settings)
      if (record->classKey == key) return record->className;
    const std::string_view standard = contract::ClassSpelling(key);
    return standard.empty() ? key : std::string(standard);
  }

  [[nodiscard]] wbem::EnumPtr Instances(const std::string& classKey) const {
    std::vector<RecordPtr> items;
    if (classKey == FoldKey(contract::kInterfaceClass)) {
      if (!machine_->faults.noInterfaceInstance) items.push_back(nullptr);
    } else if (classKey == FoldKey(contract::kBaseClass)) {
      items = machine_->settings;
    } else {
      for (const auto& record : machine_->settings)
        if (record->classKey == classKey) items.push_back(record);
    }
    return std::make_unique<SimulatedEnum>(machine_, std::move(items));
  }

  std::shared_ptr<SimulatedMachine> machine_;
};

class SimulatedLocator : public wbem::Locator {
 public:
  explicit SimulatedLocator(std::shared_ptr<SimulatedMachine> machine)
      : machine_(std::move(machine)) {}
  wbem::HResult ConnectServer(std::u16string_view nameSpace, std::int32_t,
                              wbem::ServicesPtr& services) override {
    services.reset();
    if (!machine_) return wbem::kInvalidNamespace;
    if (!wbem::IsNamespace(nameSpace, contract::kNamespace)) {
      // The makers' own namespaces, of the machine's dell and lenovo sections.
      services = ConnectMakerNamespace(machine_, nameSpace);
      return services ? wbem::kOk : wbem::kInvalidNamespace;
    }
    if (!machine_->hasProvider) return wbem::kInvalidNamespace;
    if (machine_->faults.connect) return wbem::kAccessDenied;
    services = std::make_unique<SimulatedServices>(machine_);
    return wbem::kOk;
  }

 private:
  std::shared_ptr<SimulatedMachine> machine_;
};

}  // namespace

std::int32_t SetBiosSetting(SimulatedMachine& machine, std::u16string_view name,
                            std::u16string_view value, std::u16string_view password) {
  const auto found = machine.byName.find(FoldKey(Utf16ToUtf8(name)));
  if (found == machine.byName.end()) return contract::kReturnNotFound;
  const std::size_t index = found->second;
  const RecordPtr current = machine.settings[index];
  const Json& data = current->data;
  if (const auto forced = data.find("writeReturn"); forced != data.end())
    return static_cast<std::int32_t>(forced->get<std::int64_t>());
  if (!PasswordAccepted(machine, password)) {
    CountRefusedPassword(machine);
    return contract::kReturnPasswordRefused;
  }
  if (Flag(data, "IsReadOnly", true)) return contract::kReturnReadOnly;

  Json updated = data;
  std::int32_t code = contract::kReturnReadOnly;
  switch (current->kind) {
    case SettingClass::Enumeration:
      code = SetEnumeration(updated, Utf16ToUtf8(value));
      break;
    case SettingClass::Integer:
      code = SetInteger(updated, Utf16ToUtf8(value));
      break;
    case SettingClass::String:
      code = SetString(updated, value);
      break;
    case SettingClass::OrderedList:
      code = SetOrderedList(updated, Utf16ToUtf8(value));
      break;
    case SettingClass::Password:
      // Only the setup password is changed through this method.
      if (index == machine.setupPassword) code = ChangeSetupPassword(updated, value);
      break;
    case SettingClass::Other:
      break;
  }
  if (code != contract::kReturnSuccess) return code;
  if (const auto ignore = data.find("ignoreWrites"); ignore != data.end() && ignore->get<bool>())
    return contract::kReturnSuccess;
  if (updated != data) {
    machine.settings[index] = std::make_shared<const SettingRecord>(
        SettingRecord{current->className, current->classKey, current->kind, std::move(updated)});
    machine.dirty = true;
  }
  return contract::kReturnSuccess;
}

std::unique_ptr<wbem::Locator> CreateSimulatedLocator(std::shared_ptr<SimulatedMachine> machine) {
  return std::make_unique<SimulatedLocator>(std::move(machine));
}

}  // namespace corvane::sim
