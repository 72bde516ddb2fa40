// Dell's and Lenovo's own BIOS-settings WMI interfaces on the simulated machine, served from
// its dell and lenovo sections in the shapes of their classes. They refuse what the real
// interfaces refuse: a wrong password (counted, as firmware counts them before it locks out),
// an unknown name, a value the setting does not take; and Lenovo's changes reach the file only
// through SaveBiosSettings.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base64.h"
#include "platform/hex.h"
#include "platform/host.h"
#include "platform/signature.h"
#include "platform/text.h"
#include "platform/wmi_kit.h"
#include "sim/legacy/sim_keyboard.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/schema.h"
#include "sim/machine/section_values.h"
#include "sim/machine/simulated_machine.h"
#include "sim/wmi/wmi_objects.h"

namespace corvane::sim {
namespace {

using wbem::PlainObject;

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

// The key of a data instance: its own InstanceName, else the one WMI's ACPI mapper gives the
// position-th instance of a class.
std::string InstanceNameOf(const Json& data, std::size_t position) {
  const auto own = FindProperty(data, "InstanceName");
  return own != data.end() && own->is_string() ? own->get<std::string>()
                                               : "ACPI\\PNP0C14\\1_" + std::to_string(position);
}

wbem::ObjectPtr MakeInstance(std::string_view className, const Json& data, std::size_t position) {
  auto object = std::make_unique<PlainObject>(PlainObject::Role::Instance, std::string(className),
                                              std::vector<std::string>{FoldKey(className)});
  for (auto it = data.begin(); it != data.end(); ++it)
    if (!IsControlKey(it.key())) object->Add(it.key(), ToVariant(*it));
  const std::string instanceName = InstanceNameOf(data, position);
  if (FindProperty(data, "InstanceName") == data.end())
    object->Add("InstanceName", wbem::Variant::String(Utf8ToUtf16(instanceName)));
  object->Add("__RELPATH",
              wbem::Variant::String(Utf8ToUtf16(wbem::InstancePath(className, instanceName))));
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
  std::vector<wbem::MethodSignature> methods;
};

class MakerServices : public wbem::InProcessServices {
 public:
  MakerServices(std::shared_ptr<SimulatedMachine> machine, std::string_view section,
                std::vector<std::string> dataClasses, std::vector<MethodClass> methodClasses)
      : machine_(std::move(machine)),
        section_(section),
        dataClasses_(std::move(dataClasses)),
        methodClasses_(std::move(methodClasses)) {
    Count("connections");
  }
  ~MakerServices() override {
    std::string error;
    if (!SaveMachine(*machine_, error))
      platform::Os().WriteErr("Simulated machine: " + error + "\n");
  }
  MakerServices(const MakerServices&) = delete;
  MakerServices& operator=(const MakerServices&) = delete;

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
    if (wbem::ObjectPtr found = InstanceAt(key)) {
      object = std::move(found);
      return wbem::kOk;
    }
    for (const auto& name : dataClasses_) {
      if (key == FoldKey(name)) {
        object = std::make_unique<PlainObject>(PlainObject::Role::Class, name,
                                               std::vector<std::string>{key});
        return wbem::kOk;
      }
      // One instance, by the path its InstanceName gives it.
      const auto list = section().find(name);
      if (list == section().end() || !list->is_array()) continue;
      for (std::size_t i = 0; i < list->size(); ++i)
        if (key == platform::AsciiUpper(wbem::InstancePath(name, InstanceNameOf((*list)[i], i)))) {
          object = MakeInstance(name, (*list)[i], i);
          Count("reads", name);  // after: a new key may move the section's entries
          return wbem::kOk;
        }
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
                     [&](const wbem::MethodSignature& m) { return wbem::SameName(m.name, name); });
    if (known == methods->methods.end()) return wbem::kInvalidMethod;
    if (inParams == nullptr) return wbem::kInvalidParameter;
    Count("methods", known->name);
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

  // Every call the firmware answers, counted in the section's "calls" when it asks for that:
  // connections, queries and instance reads by class, instances handed out, methods by name.
  void Count(const char* what, std::string_view name = {}, std::int64_t count = 1) {
    const auto asked = section().find("count");
    if (asked == section().end() || !asked->is_boolean() || !asked->get<bool>()) return;
    Json& calls = section()["calls"];
    if (!calls.is_object()) calls = Json::object();
    Json& slot = name.empty() ? calls[what] : calls[what][std::string(name)];
    slot = (slot.is_number_integer() ? slot.get<std::int64_t>() : 0) + count;
    NoteCounts(machine_);
  }

  // What lasts until the next boot; made when something is kept there.
  Json& Boot() {
    Json& boot = section()["boot"];
    if (!boot.is_object()) boot = Json::object();
    machine().dirty = true;
    return boot;
  }
  [[nodiscard]] const Json* BootValue(const char* key) {
    const auto boot = section().find("boot");
    if (boot == section().end() || !boot->is_object()) return nullptr;
    const auto value = boot->find(key);
    return value == boot->end() ? nullptr : &*value;
  }
  // Nothing kept: no boot object at all, as after a restart.
  void TidyBoot() {
    const auto boot = section().find("boot");
    if (boot == section().end() || !boot->is_object()) return;
    for (const char* key : {"waiting", "change"})
      if (const auto value = boot->find(key); value != boot->end() && value->empty())
        boot->erase(value);
    if (boot->empty()) section().erase(boot);
  }

 private:
  // A data instance at the path the firmware gives it by position, found without a walk.
  wbem::ObjectPtr InstanceAt(const std::string& key) {
    static const std::string kMarker = R"(.INSTANCENAME="ACPI\\PNP0C14\\1_)";
    const std::size_t marker = key.find(kMarker);
    if (marker == std::string::npos || key.back() != '"') return nullptr;
    const std::string digits =
        key.substr(marker + kMarker.size(), key.size() - marker - kMarker.size() - 1);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return nullptr;
    std::size_t position = 0;
    for (const char digit : digits)
      position = position * 10 + static_cast<std::size_t>(digit - '0');
    for (const auto& name : dataClasses_) {
      if (FoldKey(name) != key.substr(0, marker)) continue;
      const auto list = section().find(name);
      if (list == section().end() || !list->is_array() || position >= list->size()) return nullptr;
      const Json& item = (*list)[position];
      if (FindProperty(item, "InstanceName") != item.end()) return nullptr;
      wbem::ObjectPtr object = MakeInstance(name, item, position);
      Count("reads", name);  // after: a new key may move the section's entries
      return object;
    }
    return nullptr;
  }

  // The method class at a path: its class path or its one instance's.
  [[nodiscard]] const MethodClass* MethodClassAt(const std::string& key) const {
    for (const auto& methods : methodClasses_)
      if (key == FoldKey(methods.name) ||
          key == platform::AsciiUpper(wbem::InstancePath(methods.name, kMethodInstance)))
        return &methods;
    return nullptr;
  }

  static wbem::ObjectPtr MethodInstance(const MethodClass& methods) {
    auto object = std::make_unique<PlainObject>(PlainObject::Role::Instance, methods.name,
                                                std::vector<std::string>{FoldKey(methods.name)});
    object->Add("InstanceName", wbem::Variant::String(Utf8ToUtf16(kMethodInstance)));
    object->Add("Active", wbem::Variant::Bool(true));
    object->Add("__RELPATH", wbem::Variant::String(
                                 Utf8ToUtf16(wbem::InstancePath(methods.name, kMethodInstance))));
    return object;
  }

  wbem::HResult Walk(const std::string& classKey, wbem::EnumPtr& result) override {
    std::vector<wbem::ObjectPtr> objects;
    if (const MethodClass* methods = MethodClassAt(classKey); methods != nullptr) {
      objects.push_back(MethodInstance(*methods));
    } else {
      const auto data =
          std::find_if(dataClasses_.begin(), dataClasses_.end(),
                       [&](const std::string& name) { return FoldKey(name) == classKey; });
      if (data == dataClasses_.end()) return wbem::kInvalidClass;
      Count("queries", *data);
      const auto list = section().find(*data);
      if (list != section().end() && list->is_array())
        for (std::size_t i = 0; i < list->size(); ++i)
          objects.push_back(MakeInstance(*data, (*list)[i], i));
      if (!objects.empty()) Count("instances", {}, static_cast<std::int64_t>(objects.size()));
    }
    result = std::make_unique<wbem::ListEnum>(std::move(objects));
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

  // A value written again leaves the setting untouched; the firmware counts the set all the
  // same, so that a change now waits for a restart.
  void Store(Json& item, std::string_view name, Json value) {
    const auto current = FindProperty(item, name);
    if (current == item.end() || *current != value) {
      SetProperty(item, name, std::move(value));
      machine().dirty = true;
    }
    // Last: adding the boot key may move the section's entries, item among them.
    if (BootValue("pendingReboot") == nullptr) Boot()["pendingReboot"] = true;
  }

  static std::string Argument(wbem::ClassObject& in, const char16_t* name) {
    std::u16string text;
    wbem::ReadArgument(in, name, text);
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
// Lenovo: every method takes one text and answers one; changes wait for SaveBiosSettings. What
// the firmware holds until its next boot (changes set and not saved, what its opcode interface
// was told) lives in the section's "boot" object, so that the runs of one boot share it; a
// machine file without it has just been started.

constexpr std::string_view kSuccess = "Success";
constexpr std::string_view kAccessDenied = "Access Denied";
constexpr std::string_view kInvalidParameter = "Invalid Parameter";
constexpr std::string_view kSystemBusy = "System Busy";
constexpr std::int64_t kSupervisorBit = 0x2;
constexpr std::string_view kExcluded = "[Excluded from boot order:";
// PasswordState bits of the certificates in use on a ThinkPad: the supervisor's, the system
// management one's.
constexpr std::int64_t kSupervisorCertificateBit = 0x80;
constexpr std::int64_t kSystemCertificateBit = 0x100;
// A ThinkCentre answers its certificate installs with texts of their own.
// The signed classes: their names are public, their methods' a guess (LenovoSignedMethod).
constexpr std::string_view kSetSettingEx = "Lenovo_SetBiosSettingEx";
constexpr std::string_view kSaveSettingsEx = "Lenovo_SaveBiosSettingsEx";
constexpr std::string_view kUpdateCertificate = "Lenovo_UpdateBiosCertificate";
constexpr std::string_view kClearCertificate = "Lenovo_ClearBiosCertificate";
constexpr std::string_view kCertificateToPassword = "Lenovo_ChangeBiosCertificateToPassword";
// What the kernel's driver calls by GUID and no Windows source names: the simulation's names.
constexpr std::string_view kSetCertificate = "Lenovo_SetBiosCertificate";
constexpr std::string_view kThumbprintClass = "Lenovo_CertificateThumbprint";
constexpr std::string_view kCentreInstalled = "Set Certificate operation was successful.";
constexpr std::string_view kCentreInvalidParameter =
    "Set Certificate operation failed with status:Invalid Parameter.";
constexpr std::string_view kCentreInvalidType =
    "Set Certificate operation failed with status:Invalid certificate type.";
constexpr std::string_view kCentrePasswordFormat =
    "Set Certificate operation failed with status:Invalid password format.";
constexpr std::string_view kCentrePasswordInvalid =
    "Set Certificate operation failed with status:Password Invalid.";
constexpr std::string_view kCentreNoSlot =
    "Set Certificate operation failed with status:No free slots to write.";
constexpr std::string_view kCentreNotFound =
    "Set Certificate operation failed with status:Certificate not found.";
constexpr std::string_view kShowOnly = "[Status:ShowOnly]";

std::vector<std::string> SplitFields(std::string_view text, char separator) {
  std::vector<std::string> fields;
  while (true) {
    const std::size_t end = text.find(separator);
    fields.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return fields;
    text.remove_prefix(end + 1);
  }
}

std::string JoinFields(const std::vector<std::string>& fields, std::size_t from, std::size_t to,
                       char separator) {
  std::string text;
  for (std::size_t i = from; i < to; ++i)
    text += (i > from ? std::string(1, separator) : "") + fields[i];
  return text;
}

// One ';' ends every text.
std::string Unterminated(std::string text) {
  if (!text.empty() && text.back() == ';') text.pop_back();
  return text;
}

// Not attribute_model.cpp's date rule: a double sharing the program's rule cannot catch its faults.
bool IsFormatLetter(char c) {
  return c == 'M' || c == 'D' || c == 'Y' || c == 'H' || c == 'S';
}

// A date or time format such as MM/DD/YYYY or HH:MM:SS.
bool IsFormat(std::string_view text) {
  return !text.empty() && std::any_of(text.begin(), text.end(), IsFormatLetter) &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return IsFormatLetter(c) || c == '/' || c == ':' || c == '-' || c == '.';
         });
}

// The format an item's name ends with: AlarmTime(HH:MM:SS).
std::string NameFormat(std::string_view item) {
  const std::size_t open = item.rfind('(');
  if (open == std::string_view::npos || item.empty() || item.back() != ')') return {};
  const std::string_view inside = item.substr(open + 1, item.size() - open - 2);
  return IsFormat(inside) ? std::string(inside) : std::string();
}

// Digits where the format has letters, a separator where it has one, each field in its range
// (M is the month in a date and the minutes in a time).
bool FitsFormat(std::string_view value, std::string_view format) {
  if (value.size() != format.size()) return false;
  const bool time = format.find('H') != std::string_view::npos;
  for (std::size_t i = 0; i < format.size();) {
    const char letter = format[i];
    if (!IsFormatLetter(letter)) {
      if (std::string_view("/:-.").find(value[i]) == std::string_view::npos) return false;
      ++i;
      continue;
    }
    int number = 0;
    for (; i < format.size() && format[i] == letter; ++i) {
      if (value[i] < '0' || value[i] > '9') return false;
      number = number * 10 + (value[i] - '0');
    }
    const int low = letter == 'M' ? (time ? 0 : 1) : letter == 'D' ? 1 : 0;
    const int high = letter == 'M'   ? (time ? 59 : 12)
                     : letter == 'D' ? 31
                     : letter == 'H' ? 23
                     : letter == 'S' ? 59
                                     : 9999;
    if (number < low || number > high) return false;
  }
  return true;
}

// The text of a bracketed group of a value ("[Optional:" ... "]"), or none.
std::optional<std::string> Group(const std::string& current, std::string_view word) {
  const std::size_t open = current.find(word);
  if (open == std::string::npos) return std::nullopt;
  const std::size_t start = open + word.size();
  return current.substr(start, current.find(']', start) - start);
}

// What a setting takes, as the firmware knows it.
struct Form {
  bool shownOnly = false;
  bool order = false;      // a boot order: devices joined with ':'
  bool bracketed = false;  // the value stands in brackets: [00:00:00]
  std::string format;      // a date or time format the value must fit
  std::vector<std::string> choices;
  std::vector<std::string> devices;  // a boot order's own devices
  bool excludes = false;             // devices left out of the order are listed as excluded
};

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
    // The save sent again at once is the only call a used-up opcode password still opens.
    if (className != "Lenovo_SaveBiosSettings") machine().repeatableSave.reset();
    if (className == "Lenovo_GetBiosSelections") {
      wbem::ReadArgument(in, u"Item", argument);
      out.Add("Selections", wbem::Variant::String(Utf8ToUtf16(Selections(Utf16ToUtf8(argument)))));
      return wbem::kOk;
    }
    wbem::ReadArgument(in, className == "Lenovo_WmiOpcodeInterface" ? u"Parameter" : u"parameter",
                       argument);
    // The signed texts end with their signature: no ';' is taken off them.
    const bool signedText = className.find("Certificate") != std::string::npos ||
                            className == kSetSettingEx || className == kSaveSettingsEx;
    const std::string text =
        signedText ? Utf16ToUtf8(argument) : Unterminated(Utf16ToUtf8(argument));
    std::string answer(kInvalidParameter);
    if (className == kSetSettingEx)
      answer = SetBiosSettingEx(text);
    else if (className == kSaveSettingsEx)
      answer = SaveBiosSettingsEx(text);
    else if (className == kSetCertificate)
      answer = SetCertificate(text);
    else if (className == kUpdateCertificate)
      answer = UpdateCertificate(text);
    else if (className == kClearCertificate)
      answer = ClearCertificate(text);
    else if (className == kCertificateToPassword)
      answer = CertificateToPassword(text);
    else if (className == kThumbprintClass)
      answer = Thumbprint(text);
    else if (className == "Lenovo_SetBiosSetting")
      answer = SetBiosSetting(text);
    else if (className == "Lenovo_SaveBiosSettings")
      answer = SaveBiosSettings(text);
    else if (className == "Lenovo_SetBiosPassword")
      answer = SetBiosPassword(text);
    else
      answer = Opcode(text);
    TidyBoot();
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
    const LenovoModel model = LenovoModelOf(section);
    if (!model.certificates) return classes;
    for (const std::string_view name : {kSetSettingEx, kSaveSettingsEx, kUpdateCertificate,
                                        kClearCertificate, kCertificateToPassword})
      classes.push_back({std::string(name), {{LenovoSignedMethod(model, name), {"parameter"}}}});
    classes.push_back({std::string(kSetCertificate), {{"SetBiosCertificate", {"parameter"}}}});
    if (!model.thinkCentre)
      classes.push_back(
          {std::string(kThumbprintClass), {{"CertificateThumbprint", {"parameter"}}}});
    return classes;
  }

  // -------------------------------------------------------------------------------------------
  // Certificates. Each slot (the supervisor's, and on ThinkPads with PasswordMode 3 or more the
  // system management one) holds the certificate in effect until the next boot; an operation
  // leaves what the firmware takes then in "<slot>AtRestart" and changes nothing before, so that
  // the same call made again (the kernel's driver makes every call twice) is answered alike.

  enum class Slot { kSupervisor, kSystem };

  static const char* CertificateKey(Slot slot) {
    return slot == Slot::kSystem ? "systemCertificate" : "certificate";
  }

  std::int64_t PasswordNumber(std::string_view name) {
    const Json* passwords = Passwords();
    return passwords == nullptr ? 0 : NumberOf(*passwords, name).value_or(0);
  }

  bool Centre() { return LenovoModelOf(section()).thinkCentre; }

  // Whether the password settings report the slot's certificate in use, as each family does.
  bool CertificateInUse(Slot slot) {
    if (Centre()) return slot == Slot::kSupervisor && PasswordNumber("PasswordMode") != 0;
    const std::int64_t bit =
        slot == Slot::kSystem ? kSystemCertificateBit : kSupervisorCertificateBit;
    return (PasswordNumber("PasswordState") & bit) != 0;
  }

  // The certificate the slot's signatures are checked with; empty when the file holds none (a
  // certificate whose key nobody here has: no signature passes).
  std::string CertificateOf(Slot slot) {
    const Json* passwords = Passwords();
    return passwords == nullptr || !CertificateInUse(slot)
               ? std::string()
               : Control(*passwords, CertificateKey(slot));
  }

  bool SignedBy(Slot slot, const std::string& text, const std::string& signature) {
    const std::string certificate = CertificateOf(slot);
    return !certificate.empty() && platform::VerifySignature(certificate, text, signature);
  }

  // The fields of a certificate operation after the slot that machines with PasswordMode 3 or
  // more take first ("SVC," or "SMC,"; none is the supervisor's). False for a slot the machine
  // does not have.
  bool SlotFields(const std::string& text, Slot& slot, std::vector<std::string>& fields) {
    fields = SplitFields(text, ',');
    slot = Slot::kSupervisor;
    if (PasswordNumber("PasswordMode") >= 3 && (fields[0] == "SVC" || fields[0] == "SMC")) {
      slot = fields[0] == "SMC" ? Slot::kSystem : Slot::kSupervisor;
      fields.erase(fields.begin());
    }
    return slot == Slot::kSupervisor || !Centre();
  }

  static bool IsCertificate(const std::string& text) {
    std::string der;
    return platform::CertificateBase64(text, der) && der == text;
  }

  // What the slot holds after the next boot.
  void AtRestart(Slot slot, const std::string& certificate) {
    (*Passwords())[std::string(CertificateKey(slot)) + "AtRestart"] = certificate;
    machine().dirty = true;
  }

  // Item,Value,Signature over "Lenovo_SetBiosSettingEx,Item,Value", by the supervisor's
  // certificate; the change then waits for the signed save as the others wait for theirs.
  std::string_view SetBiosSettingEx(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ',');
    if (fields.size() < 3 || Passwords() == nullptr) return kInvalidParameter;
    const std::string value = JoinFields(fields, 1, fields.size() - 1, ',');
    if (!SignedBy(Slot::kSupervisor, std::string(kSetSettingEx) + "," + fields[0] + "," + value,
                  fields.back()))
      return kAccessDenied;
    return Wait(fields[0], value);
  }

  std::string_view SaveBiosSettingsEx(const std::string& signature) {
    if (!SignedBy(Slot::kSupervisor, std::string(kSaveSettingsEx), signature)) return kAccessDenied;
    return SaveWaiting();
  }

  // Certificate,Password (a ThinkCentre: Certificate,Password,Encoding,Keyboard): a slot with no
  // certificate takes one under the supervisor password, which it replaces at the next boot.
  std::string_view SetCertificate(const std::string& text) {
    Slot slot = Slot::kSupervisor;
    std::vector<std::string> fields;
    const bool centre = Centre();
    if (Passwords() == nullptr || !SlotFields(text, slot, fields) ||
        fields.size() != (centre ? 4U : 2U))
      return centre ? kCentreInvalidParameter : kInvalidParameter;
    const std::string encoding = centre ? fields[2] : "ascii";
    if (encoding != "ascii" && encoding != "scancode") return kCentrePasswordFormat;
    if (CertificateInUse(slot)) return centre ? kCentreNoSlot : kAccessDenied;
    if (!SupervisorSet() || !Matches(fields[1], encoding)) {
      Refuse(SupervisorSet());
      return centre ? kCentrePasswordInvalid : kAccessDenied;
    }
    if (!IsCertificate(fields[0])) return centre ? kCentreInvalidType : kInvalidParameter;
    AtRestart(slot, fields[0]);
    if (slot == Slot::kSupervisor) (*Passwords())["passwordAtRestart"] = "";
    return centre ? kCentreInstalled : kSuccess;
  }

  // The slot's certificate must sign the operation's text; a slot without one answers so.
  std::string_view Signed(Slot slot, const std::string& text, const std::string& signature) {
    if (!CertificateInUse(slot)) return Centre() ? kCentreNotFound : kAccessDenied;
    return SignedBy(slot, text, signature) ? kSuccess : kAccessDenied;
  }

  // Certificate,Signature over "Lenovo_UpdateBiosCertificate,Certificate". The system
  // management slot also takes the supervisor's signature, as the kernel's driver sends it
  // while the supervisor certificate is installed.
  std::string_view UpdateCertificate(const std::string& text) {
    Slot slot = Slot::kSupervisor;
    std::vector<std::string> fields;
    if (Passwords() == nullptr || !SlotFields(text, slot, fields) || fields.size() != 2)
      return kInvalidParameter;
    const std::string signedText = std::string(kUpdateCertificate) + "," + fields[0];
    std::string_view answer = Signed(slot, signedText, fields[1]);
    if (slot == Slot::kSystem && answer != kSuccess && CertificateInUse(Slot::kSupervisor))
      answer = Signed(Slot::kSupervisor, signedText, fields[1]);
    if (answer != kSuccess) return answer;
    if (!IsCertificate(fields[0])) return kInvalidParameter;
    AtRestart(slot, fields[0]);
    return kSuccess;
  }

  // Serial,Signature over "Lenovo_ClearBiosCertificate,Serial": the one command bound to one
  // machine.
  std::string_view ClearCertificate(const std::string& text) {
    Slot slot = Slot::kSupervisor;
    std::vector<std::string> fields;
    const auto serial = LenovoModelOf(section()).serial;
    if (Passwords() == nullptr || !SlotFields(text, slot, fields) || fields.size() != 2 ||
        !serial || fields[0] != *serial)
      return kInvalidParameter;
    const std::string_view answer =
        Signed(slot, std::string(kClearCertificate) + "," + fields[0], fields[1]);
    if (answer == kSuccess) AtRestart(slot, "");
    return answer;
  }

  // Password,Signature over "Lenovo_ChangeBiosCertificateToPassword,Password": the supervisor
  // password replaces the certificate at the next boot.
  std::string_view CertificateToPassword(const std::string& text) {
    Slot slot = Slot::kSupervisor;
    std::vector<std::string> fields;
    if (Passwords() == nullptr || !SlotFields(text, slot, fields) || fields.size() != 2)
      return kInvalidParameter;
    const std::string_view answer =
        Signed(slot, std::string(kCertificateToPassword) + "," + fields[0], fields[1]);
    if (answer != kSuccess) return answer;
    if (!LengthAllowed(*Passwords(), "MinLength", "MaxLength", fields[0].size()))
      return kInvalidParameter;
    AtRestart(slot, "");
    if (slot == Slot::kSupervisor) (*Passwords())["passwordAtRestart"] = fields[0];
    return kSuccess;
  }

  // Md5, Sha1 or Sha256: the digest of the certificate's DER encoding in upper-case
  // hexadecimal digits.
  std::string Thumbprint(const std::string& text) {
    Slot slot = Slot::kSupervisor;
    std::vector<std::string> fields;
    const std::pair<std::string_view, platform::DigestKind> kinds[] = {
        {"Md5", platform::DigestKind::kMd5},
        {"Sha1", platform::DigestKind::kSha1},
        {"Sha256", platform::DigestKind::kSha256}};
    std::string der, hex;
    if (SlotFields(text, slot, fields) && fields.size() == 1 &&
        platform::DecodeBase64(CertificateOf(slot), der) && !der.empty())
      for (const auto& [name, kind] : kinds)
        if (fields[0] == name && platform::Thumbprint(der, kind, hex)) return hex;
    return std::string(kInvalidParameter);
  }

  bool Opcodes() {
    const auto opcode = section().find("opcodeInterface");
    return opcode != section().end() && opcode->get<bool>();
  }

  bool Waiting() {
    const Json* waiting = BootValue("waiting");
    return waiting != nullptr && waiting->is_array() && !waiting->empty();
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
    return encoding == "scancode" && platform::DecodeHex(password, given) && KeysOf(stored, keys) &&
           given == keys;
  }

  // A wrong password is counted; a missing one is no attempt.
  std::string_view Refuse(bool attempted) {
    if (attempted && Passwords() != nullptr) CountRefusal(machine(), *Passwords());
    return kAccessDenied;
  }

  // Whether a text ends with a password's three fields: pw,encoding,keyboard.
  static bool CarriesPassword(const std::vector<std::string>& fields, std::size_t least) {
    return fields.size() >= least + 3 &&
           (fields[fields.size() - 2] == "ascii" || fields[fields.size() - 2] == "scancode");
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

  static std::vector<std::string> Items(const std::string& list, char separator) {
    std::vector<std::string> items;
    for (auto& item : SplitFields(list, separator))
      if (!item.empty()) items.push_back(std::move(item));
    return items;
  }

  // A setting as the firmware knows it, from its item, its value and its selections.
  static Form FormOf(const Json& setting, const std::string& item, const std::string& current) {
    Form form;
    const std::string shown = current.substr(0, current.find(';'));
    form.shownOnly = current.find(kShowOnly) != std::string::npos;
    form.bracketed =
        !form.shownOnly && shown.size() >= 2 && shown.front() == '[' && shown.back() == ']';
    std::vector<std::string> selections = Items(Control(setting, "selections"), ',');
    if (selections.size() == 1 && IsFormat(selections.front())) {
      form.format = selections.front();
      selections.clear();
    }
    if (form.format.empty()) form.format = NameFormat(item);
    const auto order = setting.find("order");
    form.order = (order != setting.end() && order->get<bool>()) || Group(current, kExcluded) ||
                 (!form.bracketed && form.format.empty() && shown.find(':') != std::string::npos);
    if (form.order) {
      // Its own devices: those the firmware lists, else those in the order and excluded.
      form.devices = selections;
      if (form.devices.empty()) {
        form.excludes = true;
        form.devices = Items(shown, ':');
        for (auto& device : Items(Group(current, kExcluded).value_or(""), ':'))
          form.devices.push_back(std::move(device));
      }
      return form;
    }
    form.choices = selections;
    if (form.choices.empty()) form.choices = Items(Group(current, "[Optional:").value_or(""), ',');
    return form;
  }

  static bool Allowed(const Form& form, const std::string& value) {
    if (form.shownOnly) return false;
    if (form.order) {
      // Its own devices, each once.
      std::vector<std::string> devices = SplitFields(value, ':');
      for (const auto& device : devices)
        if (std::find(form.devices.begin(), form.devices.end(), device) == form.devices.end())
          return false;
      std::sort(devices.begin(), devices.end());
      return std::adjacent_find(devices.begin(), devices.end()) == devices.end();
    }
    std::string_view inner = value;
    if (form.bracketed) {
      if (inner.size() < 2 || inner.front() != '[' || inner.back() != ']') return false;
      inner = inner.substr(1, inner.size() - 2);
    }
    if (!form.format.empty()) return FitsFormat(inner, form.format);
    if (!form.choices.empty())
      return std::find(form.choices.begin(), form.choices.end(), value) != form.choices.end();
    return !form.bracketed || inner.find_first_of("[]") == std::string_view::npos;
  }

  std::string_view SetBiosSetting(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(text, ',');
    if (fields.size() < 2) return kInvalidParameter;
    // No password opens a firmware whose supervisor is a certificate.
    if (CertificateInUse(Slot::kSupervisor)) return Refuse(false);
    std::size_t valueEnd = fields.size();
    // The password travels as the last three fields, checked at the set; on firmware with the
    // opcode interface a set without it waits, and the save checks what the interface was told.
    if (CarriesPassword(fields, 2) || (SupervisorSet() && !Opcodes())) {
      if (!CarriesPassword(fields, 2)) return Refuse(false);
      valueEnd = fields.size() - 3;
      if (SupervisorSet() && !Matches(fields[valueEnd], fields[valueEnd + 1])) return Refuse(true);
    }
    return Wait(fields[0], JoinFields(fields, 1, valueEnd, ','));
  }

  // A change the firmware takes waits for the save.
  std::string_view Wait(const std::string& item, const std::string& value) {
    Json* setting = Setting(item);
    if (setting == nullptr) return kInvalidParameter;
    const std::string current = Property(*setting, "CurrentSetting").substr(item.size() + 1);
    if (!Allowed(FormOf(*setting, item, current), value)) return kInvalidParameter;
    Json& waiting = Boot()["waiting"];
    if (!waiting.is_array()) waiting = Json::array();
    waiting.push_back(Json::array({item, value}));
    return kSuccess;
  }

  std::string_view SaveBiosSettings(const std::string& text) {
    if (CertificateInUse(Slot::kSupervisor)) return Refuse(false);
    if (SupervisorSet()) {
      const std::vector<std::string> fields = SplitFields(text, ',');
      if (CarriesPassword(fields, 0)) {
        if (!Matches(fields[fields.size() - 3], fields[fields.size() - 2])) return Refuse(true);
      } else {
        if (!Opcodes()) return Refuse(false);
        // What the opcode interface was told last: the save uses it up, right or wrong, but for
        // the same save sent again at once, as the kernel's driver sends every call twice.
        std::optional<std::string> told = std::exchange(machine().repeatableSave, std::nullopt);
        if (const Json* opcode = BootValue("opcodePassword")) {
          told = machine().repeatableSave = TextOf(*opcode);
          Boot().erase("opcodePassword");
        }
        if (!told) return Refuse(false);
        if (!Matches(*told, "ascii")) return Refuse(true);
      }
    }
    return SaveWaiting();
  }

  // Each waiting change reaches its setting; the firmware counts the save.
  std::string_view SaveWaiting() {
    if (!Waiting()) return kSuccess;
    for (const auto& change : *BootValue("waiting")) {
      const std::string item = TextOf(change.at(0));
      const std::string value = TextOf(change.at(1));
      Json* setting = Setting(item);
      if (setting == nullptr) continue;
      const std::string current = Property(*setting, "CurrentSetting").substr(item.size() + 1);
      const Form form = FormOf(*setting, item, current);
      // What stands after the value (";[Optional:...]") stays; an order of its own devices lists
      // those it leaves out as excluded.
      const std::size_t markup = current.find(";[");
      std::string rest = markup == std::string::npos ? "" : current.substr(markup);
      if (form.excludes) {
        const std::vector<std::string> order = SplitFields(value, ':');
        std::string excluded;
        for (const auto& device : form.devices)
          if (std::find(order.begin(), order.end(), device) == order.end())
            excluded += (excluded.empty() ? "" : ":") + device;
        rest = excluded.empty() ? "" : ";" + std::string(kExcluded) + excluded + "]";
      }
      std::string text = item;
      text.append(",").append(value).append(rest);
      SetProperty(*setting, "CurrentSetting", std::move(text));
    }
    Boot().erase("waiting");
    Json& saves = section()["saves"];
    saves = (saves.is_number_integer() ? saves.get<std::int64_t>() : 0) + 1;
    machine().dirty = true;
    return kSuccess;
  }

  // The supervisor password ("pap") changes; a first one cannot be set from the system, and no
  // password while changes wait for a save. The new one takes effect at the next boot: until
  // then the old one is the one checked.
  std::string_view ChangeSupervisor(const std::string& type, const std::string& current,
                                    const std::string& wanted, const std::string& encoding) {
    if (type != "pap") return "Not Supported";
    if (CertificateInUse(Slot::kSupervisor)) return Refuse(false);
    if (Waiting()) return kSystemBusy;
    if (!SupervisorSet()) return Refuse(false);
    if (!Matches(current, encoding)) return Refuse(true);
    Json* passwords = Passwords();
    std::string text = wanted;
    if (encoding == "scancode" && !platform::DecodeHex(wanted, text)) return kInvalidParameter;
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

  // WmiOpcodePasswordAdmin only keeps what it is told and answers Success whatever it is: the
  // save, or the password change it belongs to, checks it. A change runs Type, Admin,
  // Current01, New01, SetUpdate; an Admin told on its own before the Type blocks it.
  std::string_view Opcode(const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::string code = text.substr(0, colon);
    const std::string value = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    const Json* told = BootValue("change");
    // A change is being told until its update; the update is answered again when repeated.
    const bool changing = told != nullptr && !told->contains("done");
    if (code == "WmiOpcodePasswordAdmin") {
      if (changing)
        Boot()["change"]["admin"] = value;
      else
        Boot()["opcodePassword"] = value;
    } else if (code == "WmiOpcodePasswordType") {
      Json change = {{"type", value}};
      if (BootValue("opcodePassword") != nullptr) change["blocked"] = true;
      Boot()["change"] = std::move(change);
    } else if (code == "WmiOpcodePasswordCurrent01" || code == "WmiOpcodePasswordNew01") {
      if (!changing) return kInvalidParameter;
      Boot()["change"][code == "WmiOpcodePasswordNew01" ? "new" : "current"] = value;
    } else if (code == "WmiOpcodePasswordSetUpdate") {
      // The change stays told until the next one or the next boot: the kernel's driver sends
      // every call twice.
      if (told == nullptr) return kInvalidParameter;
      const Json change = *told;
      Boot()["change"]["done"] = true;
      const auto field = [&](const char* key) {
        const auto it = change.find(key);
        return it == change.end() ? std::optional<std::string>() : TextOf(*it);
      };
      if (Waiting()) return kSystemBusy;
      if (change.contains("blocked") || !field("admin")) return Refuse(false);
      if (SupervisorSet() && !Matches(*field("admin"), "ascii")) return Refuse(true);
      return ChangeSupervisor(field("type").value_or(""), field("current").value_or(""),
                              field("new").value_or(""), "ascii");
    } else {
      return kInvalidParameter;
    }
    return kSuccess;
  }
};

}  // namespace

namespace {

// What a section keeps until the next boot, as the simulation writes it.
bool CheckBoot(std::string_view key, const Json& boot, std::string& error) {
  const auto text = [](const Json& value) { return value.is_string(); };
  for (const auto& [name, value] : boot.items()) {
    bool ok = false;
    if (key == kDellSection) {
      ok = name == "pendingReboot" && value.is_boolean();
    } else if (name == "opcodePassword") {
      ok = text(value);
    } else if (name == "waiting") {
      ok = value.is_array() && std::all_of(value.begin(), value.end(), [&](const Json& change) {
             return change.is_array() && change.size() == 2 && text(change[0]) && text(change[1]);
           });
    } else if (name == "change") {
      ok = value.is_object() &&
           std::all_of(value.items().begin(), value.items().end(), [&](const auto& field) {
             return field.key() == "blocked" || field.key() == "done" ? field.value().is_boolean()
                                                                      : text(field.value());
           });
    }
    if (!ok) {
      error = "boot: \"" + name + "\" is not what the firmware keeps";
      return false;
    }
  }
  return true;
}

// A class's instances: objects of properties and the controls the class takes.
schema::Key ClassKey(std::string_view className, std::vector<schema::Key> controls) {
  return {className, [className, controls = std::move(controls)](
                         const Json& value, const std::string&, std::string& error) {
            if (!value.is_array()) {
              error = std::string(className) + " is not an array of instances";
              return false;
            }
            for (std::size_t i = 0; i < value.size(); ++i)
              if (!schema::ReadPart(
                      value[i], std::string(className) + "[" + std::to_string(i) + "]", controls,
                      error, {"", "control", schema::Order::InFileOrder, CheckProperty}))
                return false;
            return true;
          }};
}

schema::Key BootKey(std::string_view section) {
  return {"boot", [section](const Json& value, const std::string& label, std::string& error) {
            if (value.is_object()) return CheckBoot(section, value, error);
            error = label + " must be an object";
            return false;
          }};
}

// The classes a section serves and its own controls.
std::span<const schema::Key> SectionKeys(std::string_view key) {
  static const schema::Key kDell[] = {
      ClassKey("EnumerationAttribute", {}),
      ClassKey("IntegerAttribute", {}),
      ClassKey("StringAttribute", {}),
      ClassKey("BootOrder", {}),
      ClassKey("PasswordObject", {schema::Text("password"), schema::Int32("refusedPasswords")}),
      BootKey(kDellSection),
      schema::Bool("count"),
      schema::Object("calls")};
  static const schema::Key kLenovo[] = {
      ClassKey("Lenovo_BiosSetting", {schema::Text("selections"), schema::Bool("order")}),
      ClassKey("Lenovo_BiosPasswordSettings",
               {schema::Text("password"), schema::Text("passwordAtRestart"),
                schema::Int32("refusedPasswords"), schema::Certificate("certificate"),
                schema::Certificate("systemCertificate"),
                schema::Certificate("certificateAtRestart", true),
                schema::Certificate("systemCertificateAtRestart", true)}),
      schema::Bool("opcodeInterface"),
      schema::Choice("family", {"thinkpad", "thinkcentre"}),
      schema::Bool("certificateInterface"),
      schema::Bool("otherExMethodNames"),
      schema::Text("serial"),
      schema::Int32("saves"),
      BootKey(kLenovoSection),
      schema::Bool("count"),
      schema::Object("calls")};
  if (key == kDellSection) return kDell;
  return kLenovo;
}

// An installed certificate agrees with what the password settings report of it: on a ThinkPad
// bit 0x80 of PasswordState for the supervisor's (which leaves no supervisor password) and bit
// 0x100 for the system management one (PasswordMode 3 and later); on a ThinkCentre any
// PasswordMode but 0, and one certificate only.
bool CheckCertificates(const Json& section, std::string& error) {
  const auto list = section.find("Lenovo_BiosPasswordSettings");
  if (list == section.end() || list->empty()) return true;
  const Json& settings = list->front();
  const LenovoModel model = LenovoModelOf(section);
  const std::int64_t mode = NumberOf(settings, "PasswordMode").value_or(0);
  const std::int64_t state = NumberOf(settings, "PasswordState").value_or(0);
  const bool supervisor = settings.contains("certificate");
  const bool system = settings.contains("systemCertificate");
  std::string reason;
  if ((supervisor || system) && !model.certificates)
    reason = "a certificate needs the certificate interface (\"certificateInterface\")";
  else if (model.thinkCentre && system)
    reason = "a ThinkCentre holds no system management certificate";
  else if (model.thinkCentre && supervisor && mode == 0)
    reason = "a ThinkCentre with a certificate reports a PasswordMode other than 0";
  else if (!model.thinkCentre && supervisor && ((state & 0x80) == 0 || (state & 0x2) != 0))
    reason =
        "a ThinkPad with a supervisor certificate reports PasswordState bit 0x80 and no "
        "supervisor password (bit 0x2)";
  else if (!model.thinkCentre && system && ((state & 0x100) == 0 || mode < 3))
    reason =
        "a ThinkPad with a system management certificate reports PasswordState bit 0x100 "
        "and PasswordMode 3 or more";
  if (reason.empty()) return true;
  error = "Lenovo_BiosPasswordSettings[0]: " + reason;
  return false;
}

}  // namespace

bool CheckMakerSection(std::string_view key, const Json& section, std::string& error) {
  if (!section.is_object()) {
    error = "the section is not an object";
    return false;
  }
  const auto unknownClass = [](const std::string& name, const Json&, std::string& reason) {
    reason = "unknown class \"" + name + "\"";
    return false;
  };
  return schema::Read(section, SectionKeys(key), error,
                      {"", "control", schema::Order::InFileOrder, unknownClass}) &&
         (key != kLenovoSection || CheckCertificates(section, error));
}

std::string LenovoSignedMethod(const LenovoModel& model, std::string_view className) {
  if (model.otherMethodNames) return "Execute";
  return std::string(className.substr(className.find('_') + 1));
}

LenovoModel LenovoModelOf(const Json& section) {
  LenovoModel model;
  model.thinkCentre = section.value("family", std::string()) == "thinkcentre";
  model.certificates = section.value("certificateInterface", false);
  model.otherMethodNames = section.value("otherExMethodNames", false);
  if (const auto serial = section.find("serial"); serial != section.end())
    model.serial = serial->get<std::string>();
  return model;
}

// The model's name as Windows gives it (root\cimv2 Win32_ComputerSystemProduct.Version), by
// which the program tells a ThinkCentre from a ThinkPad: a Lenovo machine's "family".
class LenovoProductServices : public wbem::InProcessServices {
 public:
  explicit LenovoProductServices(bool thinkCentre) : thinkCentre_(thinkCentre) {}
  wbem::HResult GetObjectByPath(std::u16string_view, std::int32_t,
                                wbem::ObjectPtr& object) override {
    object.reset();
    return wbem::kNotFound;
  }
  wbem::HResult ExecMethod(std::u16string_view, std::u16string_view, std::int32_t,
                           wbem::ClassObject*, wbem::ObjectPtr& out) override {
    out.reset();
    return wbem::kNotFound;
  }

 private:
  wbem::HResult Walk(const std::string& classKey, wbem::EnumPtr& result) override {
    if (classKey != "WIN32_COMPUTERSYSTEMPRODUCT") return wbem::kInvalidClass;
    auto product =
        std::make_unique<PlainObject>(PlainObject::Role::Instance, "Win32_ComputerSystemProduct",
                                      std::vector<std::string>{classKey});
    product->Add("Vendor", wbem::Variant::String(u"LENOVO"));
    product->Add("Version", wbem::Variant::String(thinkCentre_ ? u"ThinkCentre" : u"ThinkPad"));
    std::vector<wbem::ObjectPtr> objects;
    objects.push_back(std::move(product));
    result = std::make_unique<wbem::ListEnum>(std::move(objects));
    return wbem::kOk;
  }
  bool thinkCentre_;
};

wbem::ServicesPtr ConnectMakerNamespace(const std::shared_ptr<SimulatedMachine>& machine,
                                        std::u16string_view nameSpace) {
  if (machine->hasLenovo && wbem::IsNamespace(nameSpace, R"(ROOT\CIMV2)")) {
    const Json& section = machine->document.at(std::string(kLenovoSection));
    const auto family = section.find("family");
    return std::make_unique<LenovoProductServices>(family != section.end() &&
                                                   *family == "thinkcentre");
  }
  if (machine->hasDell && wbem::IsNamespace(nameSpace, R"(ROOT\DCIM\SYSMAN\BIOSATTRIBUTES)"))
    return std::make_unique<DellServices>(machine, false);
  if (machine->hasDell && wbem::IsNamespace(nameSpace, R"(ROOT\DCIM\SYSMAN\WMISECURITY)"))
    return std::make_unique<DellServices>(machine, true);
  if (machine->hasLenovo && wbem::IsNamespace(nameSpace, R"(ROOT\WMI)"))
    return std::make_unique<LenovoServices>(machine);
  return nullptr;
}

}  // namespace corvane::sim
