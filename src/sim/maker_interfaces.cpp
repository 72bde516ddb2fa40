// Dell's and Lenovo's own BIOS-settings WMI interfaces on the simulated machine, served from
// its dell and lenovo sections in the shapes of their classes. They refuse what the real
// interfaces refuse: a wrong password (counted, as firmware counts them before it locks out),
// an unknown name, a value the setting does not take; and Lenovo's changes reach the file only
// through SaveBiosSettings.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/host.h"
#include "platform/text.h"
#include "sim/machine_model.h"
#include "sim/section_values.h"
#include "sim/sim_keyboard.h"
#include "sim/simulated_machine.h"
#include "sim/wmi_objects.h"

namespace corvane::sim {
namespace {

// ---------------------------------------------------------------------------------------------
// The sections' shapes: per class, the controls its instances may carry; per section, its own
// controls.

struct ClassShape {
  std::string_view name;
  std::vector<std::string_view> controls;  // name: "t" text, "n" integer, "b" boolean
};

struct SectionShape {
  std::string_view key;
  std::vector<ClassShape> classes;
  std::vector<std::string_view> controls;
};

const SectionShape& ShapeOf(std::string_view key) {
  static const SectionShape kDell{kDellSection,
                                  {{"EnumerationAttribute", {}},
                                   {"IntegerAttribute", {}},
                                   {"StringAttribute", {}},
                                   {"BootOrder", {}},
                                   {"PasswordObject", {"password:t", "refusedPasswords:n"}}},
                                  {}};
  static const SectionShape kLenovo{kLenovoSection,
                                    {{"Lenovo_BiosSetting", {"selections:t"}},
                                     {"Lenovo_BiosPasswordSettings",
                                      {"password:t", "passwordAtRestart:t", "refusedPasswords:n"}}},
                                    {"opcodeInterface:b", "saves:n"}};
  return key == kDellSection ? kDell : kLenovo;
}

bool CheckControl(const std::vector<std::string_view>& allowed, const std::string& key,
                  const Json& value, std::string& error) {
  for (const std::string_view control : allowed) {
    if (control.substr(0, control.size() - 2) != key) continue;
    const char type = control.back();
    if ((type == 't' && value.is_string()) || (type == 'n' && FitsInt32(value)) ||
        (type == 'b' && value.is_boolean()))
      return true;
    error = "\"" + key + "\" must be " +
            (type == 't'   ? "a string"
             : type == 'n' ? "a 32-bit integer"
                           : "true or false");
    return false;
  }
  error = "unknown control \"" + key + "\"";
  return false;
}

// ---------------------------------------------------------------------------------------------
// Instances and answers.

Json& Section(SimulatedMachine& machine, std::string_view key) {
  return machine.document[std::string(key)];
}

// The instances the section lists for a class (none when it lists none), never adding the key.
Json::array_t& Instances(Json& section, std::string_view className) {
  static Json::array_t none;
  none.clear();
  const auto list = section.find(std::string(className));
  return list != section.end() && list->is_array() ? list->get_ref<Json::array_t&>() : none;
}

// A control's text, or the empty text; never adds the key.
std::string Control(const Json& data, const char* name) {
  const auto it = data.find(name);
  return it == data.end() ? std::string() : TextOf(*it);
}

wbem::ObjectPtr MakeInstance(std::string_view className, const Json& data) {
  auto object = std::make_unique<PlainObject>(PlainObject::Role::Instance, std::string(className),
                                              std::vector<std::string>{FoldKey(className)});
  for (auto it = data.begin(); it != data.end(); ++it)
    if (!IsControlKey(it.key())) object->Add(it.key(), ToVariant(*it));
  return object;
}

std::optional<std::int64_t> NumberOf(const Json& data, std::string_view name) {
  const auto it = FindProperty(data, name);
  if (it == data.end()) return std::nullopt;
  if (it->is_number_integer()) return it->get<std::int64_t>();
  if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
  return std::nullopt;
}

std::string Property(const Json& data, std::string_view name) {
  const auto it = FindProperty(data, name);
  return it == data.end() ? std::string() : TextOf(*it);
}

std::vector<std::string> Texts(const Json& data, std::string_view name) {
  std::vector<std::string> items;
  const auto it = FindProperty(data, name);
  if (it != data.end() && it->is_array())
    for (const auto& item : *it) items.push_back(TextOf(item));
  return items;
}

// Real firmware counts wrong passwords and locks out after a few; the count stays on the
// password's own object, where a test can see how many attempts were made.
void CountRefusal(SimulatedMachine& machine, Json& passwordObject) {
  const auto count = passwordObject.find("refusedPasswords");
  passwordObject["refusedPasswords"] =
      (count != passwordObject.end() && count->is_number_integer() ? count->get<std::int64_t>()
                                                                   : 0) +
      1;
  machine.dirty = true;
}

bool LengthAllowed(const Json& data, std::string_view minimum, std::string_view maximum,
                   std::size_t length) {
  const auto low = NumberOf(data, minimum);
  const auto high = NumberOf(data, maximum);
  const auto size = static_cast<std::int64_t>(length);
  return (!low || size >= *low) && (!high || size <= *high);
}

// Decimal digits with an optional '-': what the firmware reads as a number. A '+' is no digit.
std::optional<std::int64_t> Decimal(std::string_view text) {
  std::size_t pos = text.size() > 1 && text[0] == '-' ? 1 : 0;
  if (pos == text.size() || text.size() > 11) return std::nullopt;
  std::int64_t number = 0;
  for (; pos < text.size(); ++pos) {
    if (text[pos] < '0' || text[pos] > '9') return std::nullopt;
    number = number * 10 + (text[pos] - '0');
  }
  return text[0] == '-' ? -number : number;
}

// ---------------------------------------------------------------------------------------------
// A namespace of one maker: data classes whose instances come from the section, and method
// classes with one instance each, whose methods the subclass answers.

constexpr std::string_view kMethodInstance = "ACPI\\PNP0C14\\0_0";

struct MethodClass {
  std::string name;
  std::vector<MethodSignature> methods;
};

class MakerServices : public wbem::Services {
 public:
  MakerServices(std::shared_ptr<SimulatedMachine> machine, std::string_view section,
                std::vector<std::string> dataClasses, std::vector<MethodClass> methodClasses)
      : machine_(std::move(machine)),
        section_(section),
        dataClasses_(std::move(dataClasses)),
        methodClasses_(std::move(methodClasses)) {}
  ~MakerServices() override {
    std::string error;
    if (!SaveMachine(*machine_, error))
      platform::Os().WriteErr("Simulated machine: " + error + "\n");
  }
  MakerServices(const MakerServices&) = delete;
  MakerServices& operator=(const MakerServices&) = delete;

  wbem::HResult SetProxyBlanket() override { return wbem::kOk; }

  wbem::HResult ExecQuery(std::u16string_view language, std::u16string_view query, std::int32_t,
                          wbem::EnumPtr& result) override {
    result.reset();
    std::string classKey;
    if (!ParseSelectAll(language, query, classKey)) return wbem::kInvalidQuery;
    return Walk(classKey, result);
  }

  wbem::HResult CreateInstanceEnum(std::u16string_view className, std::int32_t,
                                   wbem::EnumPtr& result) override {
    result.reset();
    return Walk(FoldKey(Utf16ToUtf8(className)), result);
  }

  wbem::HResult GetObjectByPath(std::u16string_view path, std::int32_t,
                                wbem::ObjectPtr& object) override {
    object.reset();
    const std::string key = FoldKey(Utf16ToUtf8(path));
    if (const MethodClass* methods = MethodClassAt(key)) {
      if (key == FoldKey(methods->name)) {
        object = std::make_unique<PlainObject>(PlainObject::Role::Class, methods->name,
                                               std::vector<std::string>{key}, methods->methods);
      } else {
        object = MethodInstance(*methods);
      }
      return wbem::kOk;
    }
    for (const auto& name : dataClasses_)
      if (key == FoldKey(name)) {
        object = std::make_unique<PlainObject>(PlainObject::Role::Class, name,
                                               std::vector<std::string>{key});
        return wbem::kOk;
      }
    return wbem::kNotFound;
  }

  wbem::HResult ExecMethod(std::u16string_view path, std::u16string_view method, std::int32_t,
                           wbem::ClassObject* inParams, wbem::ObjectPtr& outParams) override {
    outParams.reset();
    const MethodClass* methods = MethodClassAt(FoldKey(Utf16ToUtf8(path)));
    if (methods == nullptr) return wbem::kNotFound;
    const std::string name = Utf16ToUtf8(method);
    const auto known =
        std::find_if(methods->methods.begin(), methods->methods.end(),
                     [&](const MethodSignature& m) { return SameName(m.name, name); });
    if (known == methods->methods.end()) return wbem::kInvalidMethod;
    if (inParams == nullptr) return wbem::kInvalidParameter;
    auto out = PlainObject::MakeParameters(PlainObject::Role::Parameters, {});
    const wbem::HResult hr = Call(methods->name, known->name, *inParams, *out);
    if (wbem::Succeeded(hr)) outParams = std::move(out);
    return hr;
  }

 protected:
  virtual wbem::HResult Call(const std::string& className, const std::string& method,
                             wbem::ClassObject& in, PlainObject& out) = 0;

  SimulatedMachine& machine() { return *machine_; }
  Json& section() { return Section(*machine_, section_); }

 private:
  // The method class at a path: its class path or its one instance's.
  [[nodiscard]] const MethodClass* MethodClassAt(const std::string& key) const {
    for (const auto& methods : methodClasses_)
      if (key == FoldKey(methods.name) ||
          key == platform::AsciiUpper(InstancePath(methods.name, kMethodInstance)))
        return &methods;
    return nullptr;
  }

  static wbem::ObjectPtr MethodInstance(const MethodClass& methods) {
    auto object = std::make_unique<PlainObject>(PlainObject::Role::Instance, methods.name,
                                                std::vector<std::string>{FoldKey(methods.name)});
    object->Add("InstanceName", wbem::Variant::String(Utf8ToUtf16(kMethodInstance)));
    object->Add("Active", wbem::Variant::Bool(true));
    object->Add("__RELPATH",
                wbem::Variant::String(Utf8ToUtf16(InstancePath(methods.name, kMethodInstance))));
    return object;
  }

  wbem::HResult Walk(const std::string& classKey, wbem::EnumPtr& result) {
    std::vector<wbem::ObjectPtr> objects;
    if (const MethodClass* methods = MethodClassAt(classKey); methods != nullptr) {
      objects.push_back(MethodInstance(*methods));
    } else {
      const auto data =
          std::find_if(dataClasses_.begin(), dataClasses_.end(),
                       [&](const std::string& name) { return FoldKey(name) == classKey; });
      if (data == dataClasses_.end()) return wbem::kInvalidClass;
      const auto list = section().find(*data);
      if (list != section().end() && list->is_array())
        for (const auto& item : *list) objects.push_back(MakeInstance(*data, item));
    }
    result = std::make_unique<ListEnum>(std::move(objects));
    return wbem::kOk;
  }

  std::shared_ptr<SimulatedMachine> machine_;
  std::string section_;
  std::vector<std::string> dataClasses_;
  std::vector<MethodClass> methodClasses_;
};

// ---------------------------------------------------------------------------------------------
// Dell: every setter answers a Status and takes the administrator password as SecType,
// SecHndCount and SecHandle bytes.

constexpr std::int32_t kStatusSuccess = 0;
constexpr std::int32_t kStatusInvalidParameter = 2;
constexpr std::int32_t kStatusAccessDenied = 3;

// Every setter's first in-parameters, the password.
std::vector<std::string> WithSecurity(std::vector<std::string> names) {
  names.insert(names.begin(), {"SecType", "SecHndCount", "SecHandle"});
  return names;
}

// The classes of Dell's two namespaces: the attributes and their setters, or the passwords.
std::vector<std::string> DellDataClasses(bool security) {
  if (security) return {"PasswordObject"};
  return {"EnumerationAttribute", "IntegerAttribute", "StringAttribute", "BootOrder"};
}

std::vector<MethodClass> DellMethodClasses(bool security) {
  std::vector<MethodClass> classes;
  if (security) {
    classes.push_back(
        {"SecurityInterface",
         {{"SetNewPassword", WithSecurity({"NameId", "OldPassword", "NewPassword"})}}});
  } else {
    classes.push_back({"BIOSAttributeInterface",
                       {{"SetAttribute", WithSecurity({"AttributeName", "AttributeValue"})}}});
    classes.push_back(
        {"SetBootOrder", {{"Set", WithSecurity({"BootListType", "BOCount", "BootOrder"})}}});
  }
  return classes;
}

class DellServices : public MakerServices {
 public:
  DellServices(std::shared_ptr<SimulatedMachine> machine, bool security)
      : MakerServices(std::move(machine), kDellSection, DellDataClasses(security),
                      DellMethodClasses(security)) {}

 protected:
  wbem::HResult Call(const std::string& className, const std::string&, wbem::ClassObject& in,
                     PlainObject& out) override {
    std::int32_t status = kStatusInvalidParameter;
    if (className == "BIOSAttributeInterface")
      status = SetAttribute(in);
    else if (className == "SetBootOrder")
      status = SetBootOrder(in);
    else
      status = SetNewPassword(in);
    out.Add("Status", wbem::Variant::Int32(status));
    return wbem::kOk;
  }

 private:
  Json* PasswordObject(std::string_view nameId) {
    for (auto& item : Instances(section(), "PasswordObject"))
      if (platform::AsciiUpper(Property(item, "NameId")) == platform::AsciiUpper(nameId))
        return &item;
    return nullptr;
  }

  // The administrator password, when one is set, must be the SecHandle's bytes.
  bool Authenticated(wbem::ClassObject& in) {
    Json* admin = PasswordObject("Admin");
    if (admin == nullptr || NumberOf(*admin, "IsPasswordSet").value_or(0) != 1) return true;
    wbem::Variant type, count, handle;
    in.Get(u"SecType", type);
    in.Get(u"SecHndCount", count);
    in.Get(u"SecHandle", handle);
    const std::string password = Control(*admin, "password");
    const bool accepted =
        type.type == wbem::Variant::Type::Int32 && type.int32 == 1 &&
        handle.type == wbem::Variant::Type::ByteArray && count.type == wbem::Variant::Type::Int32 &&
        static_cast<std::size_t>(count.int32) == handle.bytes.size() &&
        std::equal(handle.bytes.begin(), handle.bytes.end(), password.begin(), password.end(),
                   [](std::uint8_t a, char b) { return a == static_cast<unsigned char>(b); });
    if (!accepted) CountRefusal(machine(), *admin);
    return accepted;
  }

  // A value written again leaves the file untouched.
  void Store(Json& item, std::string_view name, Json value) {
    const auto current = FindProperty(item, name);
    if (current != item.end() && *current == value) return;
    SetProperty(item, name, std::move(value));
    machine().dirty = true;
  }

  static std::string Argument(wbem::ClassObject& in, const char16_t* name) {
    std::u16string text;
    ReadArgument(in, name, text);
    return Utf16ToUtf8(text);
  }

  // Names and values are case-sensitive, as on the real interface.
  std::int32_t SetAttribute(wbem::ClassObject& in) {
    const std::string name = Argument(in, u"AttributeName");
    const std::string value = Argument(in, u"AttributeValue");
    for (const std::string_view kind :
         {"EnumerationAttribute", "IntegerAttribute", "StringAttribute"})
      for (auto& item : Instances(section(), kind)) {
        if (Property(item, "AttributeName") != name) continue;
        if (!Authenticated(in)) return kStatusAccessDenied;
        Json stored;
        if (kind == "EnumerationAttribute") {
          const auto choices = Texts(item, "PossibleValue");
          if (std::find(choices.begin(), choices.end(), value) == choices.end())
            return kStatusInvalidParameter;
          stored = value;
        } else if (kind == "IntegerAttribute") {
          // The firmware stores a number with a '+' as 0.
          const auto number =
              value.rfind('+', 0) == 0 ? std::optional<std::int64_t>(0) : Decimal(value);
          const auto low = NumberOf(item, "LowerBound"), high = NumberOf(item, "UpperBound"),
                     step = NumberOf(item, "ScalarIncrement");
          if (!number || (low && *number < *low) || (high && *number > *high) ||
              (step && *step > 0 && (*number - low.value_or(0)) % *step != 0))
            return kStatusInvalidParameter;
          const auto current = FindProperty(item, "CurrentValue");
          stored = current != item.end() && current->is_string() ? Json(std::to_string(*number))
                                                                 : Json(*number);
        } else {
          if (!LengthAllowed(item, "MinLength", "MaxLength", value.size()))
            return kStatusInvalidParameter;
          stored = value;
        }
        Store(item, "CurrentValue", std::move(stored));
        return kStatusSuccess;
      }
    return kStatusInvalidParameter;
  }

  // The complete list, every device once, spelt as the firmware spells it.
  std::int32_t SetBootOrder(wbem::ClassObject& in) {
    const std::string type = Argument(in, u"BootListType");
    for (auto& item : Instances(section(), "BootOrder")) {
      if (Property(item, "BootListType") != type) continue;
      if (!Authenticated(in)) return kStatusAccessDenied;
      wbem::Variant count, order;
      in.Get(u"BOCount", count);
      in.Get(u"BootOrder", order);
      std::vector<std::string> given;
      for (const auto& device : order.strings) given.push_back(Utf16ToUtf8(device));
      std::vector<std::string> current = Texts(item, "BootOrder");
      std::vector<std::string> sorted = given;
      std::sort(sorted.begin(), sorted.end());
      std::sort(current.begin(), current.end());
      if (order.type != wbem::Variant::Type::StringArray ||
          count.type != wbem::Variant::Type::Int32 ||
          static_cast<std::size_t>(count.int32) != given.size() || sorted != current)
        return kStatusInvalidParameter;
      Store(item, "BootOrder", Json(given));
      return kStatusSuccess;
    }
    return kStatusInvalidParameter;
  }

  std::int32_t SetNewPassword(wbem::ClassObject& in) {
    Json* target = PasswordObject(Argument(in, u"NameId"));
    if (target == nullptr) return kStatusInvalidParameter;
    if (!Authenticated(in)) return kStatusAccessDenied;
    Json* admin = PasswordObject("Admin");
    const bool set = NumberOf(*target, "IsPasswordSet").value_or(0) == 1;
    if (set && Argument(in, u"OldPassword") != Control(*target, "password")) {
      CountRefusal(machine(), admin != nullptr ? *admin : *target);
      return kStatusAccessDenied;
    }
    const std::string wanted = Argument(in, u"NewPassword");
    // A new password that breaks the length rules is refused like a wrong one.
    if (!wanted.empty() &&
        !LengthAllowed(*target, "MinimumPasswordLength", "MaximumPasswordLength", wanted.size()))
      return kStatusAccessDenied;
    if (wanted.empty())
      target->erase("password");
    else
      (*target)["password"] = wanted;
    SetProperty(*target, "IsPasswordSet", wanted.empty() ? 0 : 1);
    machine().dirty = true;
    return kStatusSuccess;
  }
};

// ---------------------------------------------------------------------------------------------
// Lenovo: every method takes one text and answers one; changes wait for SaveBiosSettings.

constexpr std::string_view kSuccess = "Success";
constexpr std::string_view kAccessDenied = "Access Denied";
constexpr std::string_view kInvalidParameter = "Invalid Parameter";
constexpr std::int64_t kSupervisorBit = 0x2;
constexpr std::string_view kExcluded = "[Excluded from boot order:";

std::vector<std::string> SplitFields(std::string_view text, char separator) {
  std::vector<std::string> fields;
  while (true) {
    const std::size_t end = text.find(separator);
    fields.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return fields;
    text.remove_prefix(end + 1);
  }
}

std::string JoinFields(const std::vector<std::string>& fields, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t i = from; i < to; ++i) text += (i > from ? "," : "") + fields[i];
  return text;
}

// One ';' ends every text.
std::string Unterminated(std::string text) {
  if (!text.empty() && text.back() == ';') text.pop_back();
  return text;
}

class LenovoServices : public MakerServices {
 public:
  explicit LenovoServices(const std::shared_ptr<SimulatedMachine>& machine)
      : MakerServices(machine, kLenovoSection,
                      {"Lenovo_BiosSetting", "Lenovo_BiosPasswordSettings"},
                      MethodClasses(*machine)) {}

 protected:
  wbem::HResult Call(const std::string& className, const std::string&, wbem::ClassObject& in,
                     PlainObject& out) override {
    std::u16string argument;
    if (className == "Lenovo_GetBiosSelections") {
      ReadArgument(in, u"Item", argument);
      out.Add("Selections", wbem::Variant::String(Utf8ToUtf16(Selections(Utf16ToUtf8(argument)))));
      return wbem::kOk;
    }
    ReadArgument(in, className == "Lenovo_WmiOpcodeInterface" ? u"Parameter" : u"parameter",
                 argument);
    const std::string text = Unterminated(Utf16ToUtf8(argument));
    std::string_view answer = kInvalidParameter;
    if (className == "Lenovo_SetBiosSetting")
      answer = SetBiosSetting(text);
    else if (className == "Lenovo_SaveBiosSettings")
      answer = SaveBiosSettings(text);
    else if (className == "Lenovo_SetBiosPassword")
      answer = SetBiosPassword(text);
    else
      answer = Opcode(text);
    out.Add("return", wbem::Variant::String(Utf8ToUtf16(answer)));
    return wbem::kOk;
  }

 private:
  static std::vector<MethodClass> MethodClasses(const SimulatedMachine& machine) {
    std::vector<MethodClass> classes = {
        {"Lenovo_SetBiosSetting", {{"SetBiosSetting", {"parameter"}}}},
        {"Lenovo_SaveBiosSettings", {{"SaveBiosSettings", {"parameter"}}}},
        {"Lenovo_SetBiosPassword", {{"SetBiosPassword", {"parameter"}}}},
        {"Lenovo_GetBiosSelections", {{"GetBiosSelections", {"Item"}}}}};
    const Json& section = machine.document.at(std::string(kLenovoSection));
    const auto opcode = section.find("opcodeInterface");
    if (opcode != section.end() && opcode->get<bool>())
      classes.push_back({"Lenovo_WmiOpcodeInterface", {{"WmiOpcodeInterface", {"Parameter"}}}});
    return classes;
  }

  bool Opcodes() {
    const auto opcode = section().find("opcodeInterface");
    return opcode != section().end() && opcode->get<bool>();
  }

  Json* Passwords() {
    auto& list = Instances(section(), "Lenovo_BiosPasswordSettings");
    return list.empty() ? nullptr : &list.front();
  }

  bool SupervisorSet() {
    const Json* passwords = Passwords();
    return passwords != nullptr &&
           (NumberOf(*passwords, "PasswordState").value_or(0) & kSupervisorBit) != 0;
  }

  // "pw,ascii,us" or "1e302e,scancode,us" against the supervisor password in effect.
  bool Matches(std::string_view password, std::string_view encoding) {
    const Json* passwords = Passwords();
    if (passwords == nullptr) return false;
    const std::string stored = Control(*passwords, "password");
    if (encoding == "ascii") return password == stored;
    std::string given, keys;
    return encoding == "scancode" && section::DecodeHex(password, given) && KeysOf(stored, keys) &&
           given == keys;
  }

  // A wrong password is counted; a missing one is no attempt.
  std::string_view Refuse(bool attempted) {
    if (attempted && Passwords() != nullptr) CountRefusal(machine(), *Passwords());
    return kAccessDenied;
  }

  Json* Setting(std::string_view item) {
    for (auto& setting : Instances(section(), "Lenovo_BiosSetting")) {
      const std::string text = Property(setting, "CurrentSetting");
      if (text.find(',') == item.size() && text.compare(0, item.size(), item) == 0) return &setting;
    }
    return nullptr;
  }

  std::string Selections(const std::string& item) {
    const Json* setting = Setting(item);
    return setting == nullptr ? std::string() : Control(*setting, "selections");
  }

  // The text of a bracketed group of a value ("[Optional:" ... "]"), or none.
  static std::optional<std::string> Group(const std::string& current, std::string_view word) {
    const std::size_t open = current.find(word);
    if (open == std::string::npos) return std::nullopt;
    const std::size_t start = open + word.size();
    return current.substr(start, current.find(']', start) - start);
  }

  // A boot order's devices: those in the order, then those it excludes.
  static std::vector<std::string> Devices(const std::string& current) {
    std::vector<std::string> devices = SplitFields(current.substr(0, current.find(';')), ':');
    for (auto& device : SplitFields(Group(current, kExcluded).value_or(""), ':'))
      if (!device.empty()) devices.push_back(std::move(device));
    return devices;
  }

  // The choices a value must be among: the answer of GetBiosSelections, else the value's own
  // [Optional:...] list or a boot order's devices; none for a setting of free text or a date.
  static std::vector<std::string> Choices(const Json& setting, const std::string& current) {
    std::string list = Control(setting, "selections");
    if (list.empty()) list = Group(current, "[Optional:").value_or("");
    if (list.empty() && Group(current, kExcluded)) return Devices(current);
    std::vector<std::string> choices;
    for (auto& choice : SplitFields(list, ','))
      if (!choice.empty()) choices.push_back(std::move(choice));
    // A format such as MM/DD/YYYY is no choice.
    if (choices.size() == 1 && choices.front().find('/') != std::string::npos &&
        std::any_of(choices.front().begin(), choices.front().end(),
                    [](char c) { return c >= 'A' && c <= 'Z'; }))
      choices.clear();
    return choices;
  }

  static bool Allowed(const std::vector<std::string>& choices, const std::string& current,
                      const std::string& value) {
    if (choices.empty()) return true;
    if (std::find(choices.begin(), choices.end(), value) != choices.end()) return true;
    // A boot order: devices joined with ':', each a choice and named once.
    const std::string shown = current.substr(0, current.find(';'));
    if (shown.find(':') == std::string::npos) return false;
    std::vector<std::string> devices = SplitFields(value, ':');
    for (const auto& device : devices)
      if (std::find(choices.begin(), choices.end(), device) == choices.end()) return false;
    std::sort(devices.begin(), devices.end());
    return std::adjacent_find(devices.begin(), devices.end()) == devices.end();
  }

  std::string_view SetBiosSetting(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ',');
    if (fields.size() < 2) return kInvalidParameter;
    std::size_t valueEnd = fields.size();
    if (SupervisorSet() && !(Opcodes() && machine().lenovo.authenticated)) {
      // The password travels as the last three fields: pw,encoding,keyboard.
      if (fields.size() < 5) return Refuse(false);
      valueEnd = fields.size() - 3;
      if (!Matches(fields[valueEnd], fields[valueEnd + 1])) return Refuse(true);
    }
    Json* setting = Setting(fields[0]);
    if (setting == nullptr) return kInvalidParameter;
    const std::string current = Property(*setting, "CurrentSetting").substr(fields[0].size() + 1);
    const std::string value = JoinFields(fields, 1, valueEnd);
    if (current.find("[Status:ShowOnly]") != std::string::npos ||
        !Allowed(Choices(*setting, current), current, value))
      return kInvalidParameter;
    machine().lenovo.waiting.emplace_back(fields[0], value);
    return kSuccess;
  }

  std::string_view SaveBiosSettings(const std::string& text) {
    if (SupervisorSet() && !(Opcodes() && machine().lenovo.authenticated)) {
      const std::vector<std::string> fields = SplitFields(text, ',');
      if (fields.size() < 3) return Refuse(false);
      if (!Matches(fields[0], fields[1])) return Refuse(true);
    }
    LenovoSession& session = machine().lenovo;
    for (const auto& [item, value] : session.waiting) {
      Json* setting = Setting(item);
      if (setting == nullptr) continue;
      const std::string current = Property(*setting, "CurrentSetting").substr(item.size() + 1);
      // What stands after the value (";[Optional:...]") stays; a boot order excludes the
      // devices the new order leaves out.
      const std::size_t markup = current.find(";[");
      std::string rest = markup == std::string::npos ? "" : current.substr(markup);
      if (Group(current, kExcluded)) {
        const std::vector<std::string> order = SplitFields(value, ':');
        std::string excluded;
        for (const auto& device : Devices(current))
          if (std::find(order.begin(), order.end(), device) == order.end())
            excluded += (excluded.empty() ? "" : ":") + device;
        rest = ";" + std::string(kExcluded) + excluded + "]";
      }
      std::string text = item;
      text.append(",").append(value).append(rest);
      SetProperty(*setting, "CurrentSetting", std::move(text));
    }
    session.waiting.clear();
    Json& saves = section()["saves"];
    saves = (saves.is_number_integer() ? saves.get<std::int64_t>() : 0) + 1;
    machine().dirty = true;
    return kSuccess;
  }

  // The supervisor password ("pap") changes; a first one cannot be set from the system. The
  // new one takes effect at the next boot: until then the old one is the one checked.
  std::string_view ChangeSupervisor(const std::string& type, const std::string& current,
                                    const std::string& wanted, const std::string& encoding) {
    if (type != "pap") return "Not Supported";
    if (!SupervisorSet()) return Refuse(false);
    if (!Matches(current, encoding)) return Refuse(true);
    Json* passwords = Passwords();
    std::string text = wanted;
    if (encoding == "scancode" && !section::DecodeHex(wanted, text)) return kInvalidParameter;
    if (!text.empty() && !LengthAllowed(*passwords, "MinLength", "MaxLength", text.size()))
      return kInvalidParameter;
    (*passwords)["passwordAtRestart"] = wanted;
    machine().dirty = true;
    return kSuccess;
  }

  std::string_view SetBiosPassword(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ',');
    if (fields.size() != 5) return kInvalidParameter;
    return ChangeSupervisor(fields[0], fields[1], fields[2], fields[3]);
  }

  std::string_view Opcode(const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::string code = text.substr(0, colon);
    const std::string value = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    LenovoSession& session = machine().lenovo;
    if (code == "WmiOpcodePasswordAdmin") {
      if (SupervisorSet() && !Matches(value, "ascii")) return Refuse(true);
      session.authenticated = true;
      return kSuccess;
    }
    if (code == "WmiOpcodePasswordType") {
      session.passwordType = value;
    } else if (code == "WmiOpcodePasswordCurrent01") {
      session.currentPassword = value;
    } else if (code == "WmiOpcodePasswordNew01") {
      session.newPassword = value;
    } else if (code == "WmiOpcodePasswordSetUpdate") {
      return ChangeSupervisor(session.passwordType, session.currentPassword, session.newPassword,
                              "ascii");
    } else {
      return kInvalidParameter;
    }
    return kSuccess;
  }
};

}  // namespace

bool CheckMakerSection(std::string_view key, const Json& section, std::string& error) {
  if (!section.is_object()) {
    error = "the section is not an object";
    return false;
  }
  const SectionShape& shape = ShapeOf(key);
  for (const auto& entry : section.items()) {
    const std::string& name = entry.key();
    const Json& value = entry.value();
    if (IsControlKey(name)) {
      if (!CheckControl(shape.controls, name, value, error)) return false;
      continue;
    }
    const auto known = std::find_if(shape.classes.begin(), shape.classes.end(),
                                    [&](const ClassShape& c) { return c.name == name; });
    if (known == shape.classes.end()) {
      error = "unknown class \"" + name + "\"";
      return false;
    }
    if (!value.is_array()) {
      error = name + " is not an array of instances";
      return false;
    }
    std::size_t index = 0;
    for (const auto& item : value) {
      const std::string where = name + "[" + std::to_string(index++) + "]: ";
      if (!item.is_object()) {
        error = where + "not an object";
        return false;
      }
      for (const auto& [property, content] : item.items()) {
        const bool ok = IsControlKey(property)
                            ? CheckControl(known->controls, property, content, error)
                            : CheckProperty(property, content, error);
        if (!ok) {
          error.insert(0, where);
          return false;
        }
      }
    }
  }
  return true;
}

wbem::ServicesPtr ConnectMakerNamespace(const std::shared_ptr<SimulatedMachine>& machine,
                                        std::u16string_view nameSpace) {
  if (machine->hasDell && IsNamespace(nameSpace, R"(ROOT\DCIM\SYSMAN\BIOSATTRIBUTES)"))
    return std::make_unique<DellServices>(machine, false);
  if (machine->hasDell && IsNamespace(nameSpace, R"(ROOT\DCIM\SYSMAN\WMISECURITY)"))
    return std::make_unique<DellServices>(machine, true);
  if (machine->hasLenovo && IsNamespace(nameSpace, R"(ROOT\WMI)"))
    return std::make_unique<LenovoServices>(machine);
  return nullptr;
}

}  // namespace corvane::sim
