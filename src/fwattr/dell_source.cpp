// Dell's BIOS-settings WMI interface as an attribute source. Every attribute class carries the
// kernel driver's fields under WMI names of their own; every setter takes the administrator
// password as SecType, SecHndCount and SecHandle bytes and answers a Status. A change is kept
// at once and takes effect at the next boot.
#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fwattr/maker_sources.h"
#include "fwattr/wmi_client.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace corvane::fwattr {
namespace {

constexpr std::u16string_view kAttributeNamespace = u"\\\\.\\root\\dcim\\sysman\\biosattributes";
constexpr std::u16string_view kSecurityNamespace = u"\\\\.\\root\\dcim\\sysman\\wmisecurity";
constexpr std::u16string_view kDellInterface = u"BIOSAttributeInterface";
constexpr std::u16string_view kBootOrderClass = u"BootOrder";
constexpr std::string_view kBootOrderSuffix = " Boot Order";

struct AttributeClass {
  std::u16string_view name;
  const char* type;
};
constexpr AttributeClass kAttributeClasses[] = {{u"EnumerationAttribute", "enumeration"},
                                                {u"IntegerAttribute", "integer"},
                                                {u"StringAttribute", "string"}};

// The Status of every Dell method, and what it means for a change or a password.
struct Answer {
  int error;
  const char* name;
  const char* meaning;
};

Answer AnswerOf(std::int32_t status, bool passwordChange) {
  switch (status) {
    case 0:
      return {0, "Success", ""};
    case 2:
      return {EINVAL, "Invalid Parameter",
              passwordChange ? "the firmware refused the password's name or form"
                             : "the firmware refused the value (names and values are "
                               "case-sensitive)"};
    case 3:
      return {EACCES, "Access Denied",
              passwordChange ? "the current password is wrong, or the new one breaks the "
                               "firmware's password rules (StrongPassword, PwdMinLen and the like)"
                             : "the BIOS administrator password is missing or wrong"};
    case 4:
      return {EOPNOTSUPP, "Not Supported",
              "the firmware does not support this here (some changes need an administrator "
              "password to be set first)"};
    case 5:
      return {EIO, "Memory Error", "the firmware ran out of memory"};
    case 6:
      return {EIO, "Protocol Error", "the firmware did not understand the call"};
    default:
      return {EIO, "Failed", "the firmware failed to take the change"};
  }
}

// The password as the setters take it: SecType 1 and the bytes when there is one, else 0 and
// none. Dell's firmware compares the bytes of the text, as its own tools send them.
std::vector<Argument> Security(const Password& password) {
  std::vector<std::uint8_t> bytes(password.bytes.begin(), password.bytes.end());
  const auto count = static_cast<std::int32_t>(bytes.size());
  return {{u"SecType", wbem::Variant::Int32(bytes.empty() ? 0 : 1)},
          {u"SecHndCount", wbem::Variant::Int32(count)},
          {u"SecHandle", wbem::Variant::ByteArray(std::move(bytes))}};
}

// Items joined as the kernel driver shows them, each ended by ';', so that a lone item holding
// a ',' is still one item.
std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += item + ";";
  return text;
}

// The array the sources agree on, cut to its count where a count is given.
std::vector<std::string> Items(wbem::ClassObject& object, std::u16string_view name,
                               std::u16string_view alternative, std::u16string_view countName) {
  std::vector<std::string> items =
      ReadTexts(object, name)
          .value_or(ReadTexts(object, alternative).value_or(std::vector<std::string>()));
  const std::optional<std::int32_t> count = ReadNumber(object, countName);
  if (count && *count >= 0 && static_cast<std::size_t>(*count) < items.size())
    items.resize(static_cast<std::size_t>(*count));
  return items;
}

class DellSource : public AttributeSource {
 public:
  explicit DellSource(wbem::LocatorFactory locators) : locators_(std::move(locators)) {}

  [[nodiscard]] std::string Label() const override { return "root\\dcim\\sysman"; }

  std::vector<RawAttribute> ReadAll() override {
    std::vector<RawAttribute> all;
    bootLists_.clear();
    paths_.clear();
    WmiConnection& connection = Attributes();
    for (const AttributeClass& kind : kAttributeClasses)
      for (const auto& object : connection.Instances(kind.name)) {
        RawAttribute raw;
        if (ReadAttribute(*object, kind.type, raw)) Keep(*object, kind.type, raw, all);
      }
    for (const auto& object : connection.Instances(kBootOrderClass)) {
      RawAttribute raw;
      if (ReadBootOrder(*object, raw)) Keep(*object, nullptr, raw, all);
    }
    // As the kernel driver serves them: by name, an empty or repeated name passed over.
    std::stable_sort(all.begin(), all.end(),
                     [](const RawAttribute& a, const RawAttribute& b) { return a.name < b.name; });
    all.erase(
        std::unique(all.begin(), all.end(),
                    [](const RawAttribute& a, const RawAttribute& b) { return a.name == b.name; }),
        all.end());
    cache_ = all;
    return all;
  }

  // One instance, read again by its path; the whole walk only where no path is known.
  bool Read(std::string_view name, RawAttribute& raw) override {
    if (!cache_) ReadAll();
    if (!FindByKey(*cache_, name, raw)) return false;
    const auto path = paths_.find(raw.name);
    if (path == paths_.end()) {
      ReadAll();
      return FindByKey(*cache_, name, raw);
    }
    const wbem::ObjectPtr object = Attributes().Object(path->second.path);
    return object &&
           (path->second.type == nullptr ? ReadBootOrder(*object, raw)
                                         : ReadAttribute(*object, path->second.type, raw));
  }

  AdminPassword Admin() override {
    if (admin_) return *admin_;
    AdminPassword admin;
    WmiConnection& connection = Passwords();
    for (const auto& object : connection.Instances(u"PasswordObject")) {
      if (!EqualsAsciiNoCase(platform::Trim(ReadText(*object, u"NameId").value_or("")), "Admin"))
        continue;
      admin.exists = true;
      admin.isSet = ReadNumber(*object, u"IsPasswordSet").value_or(0) == 1;
      admin.minLength = ReadNumber(*object, u"MinimumPasswordLength");
      admin.maxLength = ReadNumber(*object, u"MaximumPasswordLength");
      break;
    }
    // A machine that did not answer is asked again next time.
    if (connection.connected()) admin_ = admin;
    return admin;
  }

  // The interface reports no waiting changes; those of this run wait for the next boot.
  bool RestartPending() override { return changed_; }

  int Write(const std::string& name, const std::string& value, const Password& password) override {
    const int error = Set(name, value, password);
    if (error == 0) changed_ = true;
    return error;
  }

  int Finish() override { return 0; }

  [[nodiscard]] bool Changed() const override { return changed_; }

  int ChangePassword(const Password& current, const Password& wanted) override {
    admin_.reset();
    std::vector<Argument> in = Security(current);
    in.push_back({u"NameId", Text("Admin")});
    in.push_back({u"OldPassword", Text(current.bytes)});
    in.push_back({u"NewPassword", Text(wanted.bytes)});
    return Answered(Passwords(), u"SecurityInterface", u"SetNewPassword", in, kPasswordWhat, true);
  }

 private:
  bool ReadAttribute(wbem::ClassObject& object, const char* type, RawAttribute& raw) {
    raw = RawAttribute();
    raw.name = ReadText(object, u"AttributeName").value_or("");
    if (platform::Trim(raw.name).empty()) return false;
    raw.type = type;
    raw.current = ReadText(object, u"CurrentValue").value_or("");
    raw.modifier = ReadText(object, u"Modifiers").value_or("");
    for (const auto& forced :
         ReadTexts(object, u"ValueModifiers").value_or(std::vector<std::string>()))
      raw.valueModifier += forced;
    // One of Dell's own scripts reads a ReadOnly flag that the published layout lacks.
    raw.writable = ReadNumber(object, u"ReadOnly").value_or(0) == 0;
    if (raw.type == "enumeration") {
      raw.possible =
          Joined(Items(object, u"PossibleValue", u"PossibleValues", u"PossibleValueCount"));
    } else if (raw.type == "integer") {
      raw.minValue = ReadNumber(object, u"LowerBound");
      raw.maxValue = ReadNumber(object, u"UpperBound");
      raw.increment = ReadNumber(object, u"ScalarIncrement");
    } else {
      raw.minLength = ReadNumber(object, u"MinLength");
      raw.maxLength = ReadNumber(object, u"MaxLength");
    }
    return true;
  }

  // A boot list as an ordered list named after its type: "UEFI Boot Order".
  bool ReadBootOrder(wbem::ClassObject& object, RawAttribute& raw) {
    raw = RawAttribute();
    const std::string type = platform::Trim(ReadText(object, u"BootListType").value_or(""));
    if (type.empty()) return false;
    const std::vector<std::string> devices = Items(object, u"BootOrder", u"BootOrders", u"BOCount");
    raw.name = type + std::string(kBootOrderSuffix);
    raw.type = "ordered-list";
    raw.current = Joined(devices);
    raw.elements = raw.current;
    // One device is no order to change; Dell's own tools refuse it too.
    raw.writable = devices.size() > 1;
    bootLists_[raw.name] = type;
    return true;
  }

  int Set(const std::string& name, const std::string& value, const Password& password) {
    if (!cache_) ReadAll();
    const auto boot = bootLists_.find(name);
    const bool bootOrder = boot != bootLists_.end();
    std::vector<Argument> in = Security(password);
    WmiConnection& connection = Attributes();
    if (bootOrder) {
      // The whole list, each device as the firmware spelt it.
      std::vector<std::u16string> devices;
      for (const auto& device : SplitItems(value, ';'))
        devices.push_back(platform::Utf8ToUtf16(device));
      in.push_back({u"BootListType", Text(boot->second)});
      in.push_back({u"BOCount", wbem::Variant::Int32(static_cast<std::int32_t>(devices.size()))});
      in.push_back({u"BootOrder", wbem::Variant::StringArray(std::move(devices))});
      return Answered(connection, u"SetBootOrder", u"Set", in, name, false);
    }
    in.push_back({u"AttributeName", Text(name)});
    in.push_back({u"AttributeValue", Text(value)});
    return Answered(connection, kDellInterface, u"SetAttribute", in, name, false);
  }

  // Calls a setter and turns its Status into an error number, saying why on failure.
  static int Answered(WmiConnection& connection, std::u16string_view className,
                      std::u16string_view method, const std::vector<Argument>& in,
                      std::string_view what, bool passwordChange) {
    wbem::ObjectPtr out;
    const wbem::HResult hr = connection.Call(className, method, in, out);
    std::optional<std::int32_t> status;
    if (wbem::Succeeded(hr) && out) status = ReadNumber(*out, u"Status");
    if (!status) {
      ReportFirmwareAnswer(what, wbem::Succeeded(hr) ? "no Status" : HResultText(hr),
                           "the firmware's WMI interface did not answer the call");
      return EIO;
    }
    const Answer answer = AnswerOf(*status, passwordChange);
    if (answer.error != 0)
      ReportFirmwareAnswer(what, "Status " + std::to_string(*status) + " (" + answer.name + ")",
                           answer.meaning);
    return answer.error;
  }

  // Where an attribute was read: the path of its instance and its type (nullptr: a boot list).
  struct Origin {
    std::u16string path;
    const char* type;
  };

  // The attribute read, and where it can be read again.
  void Keep(wbem::ClassObject& object, const char* type, RawAttribute& raw,
            std::vector<RawAttribute>& all) {
    wbem::Variant path;
    if (object.Get(u"__RELPATH", path) == wbem::kOk && path.type == wbem::Variant::Type::String &&
        !path.string.empty())
      paths_[raw.name] = Origin{path.string, type};
    all.push_back(std::move(raw));
  }

  // One connection to each namespace for the run (made again only when it failed).
  WmiConnection& Attributes() {
    if (!attributes_ || !attributes_->connected())
      attributes_.emplace(locators_, kAttributeNamespace);
    return *attributes_;
  }
  WmiConnection& Passwords() {
    if (!security_ || !security_->connected()) security_.emplace(locators_, kSecurityNamespace);
    return *security_;
  }

  wbem::LocatorFactory locators_;
  std::optional<WmiConnection> attributes_, security_;
  std::optional<std::vector<RawAttribute>> cache_;
  std::map<std::string, Origin> paths_;           // setting name -> where it is read
  std::map<std::string, std::string> bootLists_;  // setting name -> BootListType
  std::optional<AdminPassword> admin_;
  bool changed_ = false;
};

}  // namespace

bool HasDellInterface(const wbem::LocatorFactory& locators) {
  WmiConnection connection(locators, kAttributeNamespace);
  return !connection.Instances(kDellInterface).empty();
}

std::unique_ptr<AttributeSource> CreateDellSource(wbem::LocatorFactory locators) {
  return std::make_unique<DellSource>(std::move(locators));
}

}  // namespace corvane::fwattr
