// The provider's WMI objects: what a connection hands out, read from the sources afresh by every
// query, and SetBIOSSetting. A connection's writes are one batch, finished before it answers
// its next query and when it is released.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fwattr/provider.h"
#include "fwattr/wmi_client.h"
#include "platform/host.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/wbem.h"

namespace corvane::fwattr {
namespace {

constexpr std::string_view kBaseClass = "Lumo_BIOSSetting";
constexpr std::string_view kInterfaceClass = "Lumo_BIOSSettingInterface";
constexpr std::string_view kPasswordClass = "Lumo_BIOSPassword";
constexpr std::string_view kMethodName = "SetBIOSSetting";

std::string Upper(std::u16string_view text) {
  return platform::AsciiUpper(platform::Utf16ToUtf8(text));
}
std::string Upper(std::string_view text) {
  return platform::AsciiUpper(text);
}

wbem::Variant TextList(const std::vector<std::string>& items) {
  std::vector<std::u16string> wide;
  wide.reserve(items.size());
  for (const auto& item : items) wide.push_back(platform::Utf8ToUtf16(item));
  return wbem::Variant::StringArray(std::move(wide));
}

std::string_view ClassOf(AttributeKind kind) {
  switch (kind) {
    case AttributeKind::Enumeration:
      return "Lumo_BIOSEnumeration";
    case AttributeKind::Integer:
      return "Lumo_BIOSInteger";
    case AttributeKind::String:
      return "Lumo_BIOSString";
    case AttributeKind::OrderedList:
      return "Lumo_BIOSOrderedList";
    case AttributeKind::Other:
      break;
  }
  return kBaseClass;
}

// Every object of this provider: a property list (names matched without regard to case, as
// WMI's are) and a class chain.
class TreeObject : public wbem::ClassObject {
 public:
  enum class Role { Class, Instance, Signature, Parameters };

  TreeObject(Role role, std::string_view className)
      : role_(role), className_(className), chain_{Upper(className)} {
    if (role == Role::Instance || role == Role::Class)
      if (chain_.front() != Upper(kBaseClass) && chain_.front() != Upper(kInterfaceClass))
        chain_.push_back(Upper(kBaseClass));
  }

  void Add(std::string_view name, wbem::Variant value) {
    const std::string key = Upper(name);
    for (auto& [known, current] : properties_)
      if (known == key) {
        current = std::move(value);
        return;
      }
    properties_.emplace_back(key, std::move(value));
  }

  // A setting read without its choices completes itself when the first property that needs
  // them is asked for.
  using Completion = std::function<void(TreeObject&)>;
  void CompleteLater(Completion completion) { completion_ = std::move(completion); }
  // Its class, once known.
  void SetClass(std::string_view className) {
    className_ = className;
    chain_ = {Upper(className)};
    if (chain_.front() != Upper(kBaseClass)) chain_.push_back(Upper(kBaseClass));
  }

  wbem::HResult Get(std::u16string_view name, wbem::Variant& value) override {
    const std::string key = Upper(name);
    if (key != "NAME" && key != "ISREADONLY" && key != "DISPLAYINUI" && key != "SEQUENCE")
      CompleteNow();
    for (const auto& [known, current] : properties_)
      if (known == key) {
        value = current;
        return wbem::kOk;
      }
    if (key == "__CLASS") {
      value = Text(className_);
      return wbem::kOk;
    }
    return wbem::kNotFound;
  }
  wbem::HResult Put(std::u16string_view name, const wbem::Variant& value) override {
    // The method's parameters are fixed by its signature.
    if (role_ == Role::Signature || role_ == Role::Parameters) {
      wbem::Variant known;
      if (Get(name, known) != wbem::kOk) return wbem::kNotFound;
    }
    Add(platform::Utf16ToUtf8(name), value);
    return wbem::kOk;
  }
  wbem::HResult InheritsFrom(std::u16string_view className) override {
    CompleteNow();
    const std::string key = Upper(className);
    for (const auto& known : chain_)
      if (known == key) return wbem::kOk;
    return wbem::kFalse;
  }
  wbem::HResult GetMethod(std::u16string_view name, wbem::ObjectPtr& signature) override {
    signature.reset();
    if (role_ != Role::Class || chain_.front() != Upper(kInterfaceClass) ||
        Upper(name) != Upper(kMethodName))
      return wbem::kNotFound;
    signature = MakeParameters(Role::Signature);
    return wbem::kOk;
  }
  wbem::HResult SpawnInstance(wbem::ObjectPtr& instance) override {
    instance.reset();
    if (role_ == Role::Class)
      instance = std::make_unique<TreeObject>(Role::Instance, className_);
    else if (role_ == Role::Signature)
      instance = MakeParameters(Role::Parameters);
    else
      return wbem::kFailed;
    return wbem::kOk;
  }

  static std::unique_ptr<TreeObject> MakeParameters(Role role) {
    auto object = std::make_unique<TreeObject>(role, "__PARAMETERS");
    for (const char* name : {"Name", "Value", "Password"}) object->Add(name, wbem::Variant::Null());
    return object;
  }

 private:
  void CompleteNow() {
    if (!completion_) return;
    const Completion completion = std::move(completion_);
    completion_ = nullptr;
    completion(*this);
  }

  Role role_;
  Completion completion_;
  std::string className_;
  std::vector<std::string> chain_;  // upper-cased, own class first
  std::vector<std::pair<std::string, wbem::Variant>> properties_;
};

void FillSetting(TreeObject* object, const Attribute& attribute, std::int32_t sequence) {
  object->SetClass(ClassOf(attribute.kind));
  object->Add("Name", Text(attribute.name));
  object->Add("IsReadOnly", wbem::Variant::Int32(attribute.readOnly ? 1 : 0));
  object->Add("DisplayInUI", wbem::Variant::Int32(attribute.shown ? 1 : 0));
  object->Add("Sequence", wbem::Variant::Int32(sequence));
  switch (attribute.kind) {
    case AttributeKind::Enumeration:
      object->Add("CurrentValue", Text(attribute.value));
      object->Add("PossibleValues", TextList(attribute.choices));
      break;
    case AttributeKind::Integer:
      object->Add("Value", Text(attribute.value));
      // Without bounds every 32-bit number is allowed, so that the setting stays writable.
      object->Add("LowerBound", wbem::Variant::Int32(attribute.minValue.value_or(INT32_MIN)));
      object->Add("UpperBound", wbem::Variant::Int32(attribute.maxValue.value_or(INT32_MAX)));
      break;
    case AttributeKind::String:
      object->Add("Value", Text(attribute.value));
      if (attribute.minLength) object->Add("MinLength", wbem::Variant::Int32(*attribute.minLength));
      if (attribute.maxLength) object->Add("MaxLength", wbem::Variant::Int32(*attribute.maxLength));
      break;
    case AttributeKind::OrderedList:
      object->Add("Value", Text(attribute.value));
      object->Add("Elements", TextList(attribute.elements));
      break;
    case AttributeKind::Other:
      object->Add("Value", Text(attribute.value));
      break;
  }
}

// A setting as a query hands it out. One read without its choices has only the properties that
// need none until it is asked for more.
wbem::ObjectPtr MakeSetting(const std::shared_ptr<Provider>& provider, const Served& served,
                            std::int32_t sequence) {
  auto object =
      std::make_unique<TreeObject>(TreeObject::Role::Instance, ClassOf(served.attribute.kind));
  if (!served.raw.choicesLater) {
    FillSetting(object.get(), served.attribute, sequence);
    return object;
  }
  object->Add("Name", Text(served.attribute.name));
  object->Add("IsReadOnly", wbem::Variant::Int32(served.attribute.readOnly ? 1 : 0));
  object->Add("DisplayInUI", wbem::Variant::Int32(served.attribute.shown ? 1 : 0));
  object->Add("Sequence", wbem::Variant::Int32(sequence));
  object->CompleteLater([provider, name = served.attribute.name, sequence](TreeObject& self) {
    if (const Served* complete = FindServed(*provider, name))
      FillSetting(&self, complete->attribute, sequence);
  });
  return object;
}

// After every attribute, without counting them.
constexpr std::int32_t kPasswordSequence = INT32_MAX;

// The administrator password of the first source that has one.
AdminPassword FirstAdmin(Provider& provider) {
  for (const auto& source : provider.sources)
    if (AdminPassword admin = source->Admin(); admin.exists) return admin;
  return {};
}

wbem::ObjectPtr MakeSetupPassword(const AdminPassword& admin) {
  auto object = std::make_unique<TreeObject>(TreeObject::Role::Instance, kPasswordClass);
  object->Add("Name", Text(kSetupPasswordName));
  object->Add("IsSet", wbem::Variant::Int32(admin.isSet ? 1 : 0));
  object->Add("PwdSetFrom", wbem::Variant::Int32(1));
  std::vector<std::string> encodings;
  if (admin.takesScanCodes) encodings.emplace_back("kbd");
  if (admin.takesText) encodings.emplace_back("utf-16");
  object->Add("SupportedEncoding", TextList(encodings));
  if (admin.minLength) object->Add("MinLength", wbem::Variant::Int32(*admin.minLength));
  if (admin.maxLength) object->Add("MaxLength", wbem::Variant::Int32(*admin.maxLength));
  object->Add("IsReadOnly", wbem::Variant::Int32(admin.exists ? 0 : 1));
  object->Add("DisplayInUI", wbem::Variant::Int32(1));
  object->Add("Sequence", wbem::Variant::Int32(kPasswordSequence));
  return object;
}

// The key of a WMI object path: backslashes and double quotes escaped.
std::string InterfaceRelPath(const Provider& provider) {
  const std::string name = provider.sources.empty() ? std::string() : provider.sources[0]->Label();
  std::string escaped;
  for (char c : name) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return std::string(kInterfaceClass) + ".InstanceName=\"" + escaped + "\"";
}

wbem::ObjectPtr MakeInterfaceInstance(const Provider& provider) {
  auto object = std::make_unique<TreeObject>(TreeObject::Role::Instance, kInterfaceClass);
  object->Add("Active", wbem::Variant::Bool(true));
  object->Add("__RELPATH", Text(InterfaceRelPath(provider)));
  return object;
}

// The objects of one query, made when it ran, as WMI hands out snapshots.
class TreeEnum : public wbem::EnumClassObject {
 public:
  explicit TreeEnum(std::vector<wbem::ObjectPtr> objects) : objects_(std::move(objects)) {}
  wbem::HResult Next(std::int32_t, wbem::ObjectPtr& object) override {
    object.reset();
    if (next_ >= objects_.size()) return wbem::kFalse;
    object = std::move(objects_[next_++]);
    return wbem::kOk;
  }

 private:
  std::vector<wbem::ObjectPtr> objects_;
  std::size_t next_ = 0;
};

bool ReadArgument(wbem::ClassObject& in, const char16_t* name, std::u16string& text) {
  text.clear();
  wbem::Variant value;
  if (in.Get(name, value) != wbem::kOk || value.type == wbem::Variant::Type::Null ||
      value.type == wbem::Variant::Type::Empty)
    return true;
  if (value.type != wbem::Variant::Type::String) return false;
  text = value.string;
  return true;
}

std::vector<std::string> SplitBlanks(std::string_view text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (pos < text.size()) {
    while (pos < text.size() && blank(text[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !blank(text[pos])) ++pos;
    if (pos > start) words.emplace_back(text.substr(start, pos - start));
  }
  return words;
}

bool IsKnownClass(const std::string& key) {
  for (std::string_view known :
       {kBaseClass, kInterfaceClass, kPasswordClass, std::string_view("Lumo_BIOSEnumeration"),
        std::string_view("Lumo_BIOSString"), std::string_view("Lumo_BIOSInteger"),
        std::string_view("Lumo_BIOSOrderedList")})
    if (Upper(known) == key) return true;
  return false;
}

class TreeServices : public wbem::Services {
 public:
  explicit TreeServices(std::shared_ptr<Provider> provider) : provider_(std::move(provider)) {}
  ~TreeServices() override { FinishWrites(*provider_); }
  TreeServices(const TreeServices&) = delete;
  TreeServices& operator=(const TreeServices&) = delete;

  wbem::HResult SetProxyBlanket() override { return wbem::kOk; }

  wbem::HResult ExecQuery(std::u16string_view language, std::u16string_view query, std::int32_t,
                          wbem::EnumPtr& result) override {
    result.reset();
    if (Upper(language) != "WQL") return wbem::kInvalidQuery;
    const auto words = SplitBlanks(platform::Utf16ToUtf8(query));
    if (words.size() != 4 || Upper(words[0]) != "SELECT" || words[1] != "*" ||
        Upper(words[2]) != "FROM")
      return wbem::kInvalidQuery;
    const std::string key = Upper(words[3]);
    if (!IsKnownClass(key)) return wbem::kInvalidClass;
    result = Instances(key);
    return wbem::kOk;
  }

  wbem::HResult GetObjectByPath(std::u16string_view path, std::int32_t,
                                wbem::ObjectPtr& object) override {
    object.reset();
    const std::string key = Upper(path);
    if (key == Upper(InterfaceRelPath(*provider_))) {
      object = MakeInterfaceInstance(*provider_);
      return wbem::kOk;
    }
    if (!IsKnownClass(key)) return wbem::kNotFound;
    object = std::make_unique<TreeObject>(TreeObject::Role::Class, Spelling(key));
    return wbem::kOk;
  }

  wbem::HResult CreateInstanceEnum(std::u16string_view className, std::int32_t,
                                   wbem::EnumPtr& result) override {
    result.reset();
    const std::string key = Upper(className);
    if (!IsKnownClass(key)) return wbem::kInvalidClass;
    result = Instances(key);
    return wbem::kOk;
  }

  wbem::HResult ExecMethod(std::u16string_view path, std::u16string_view method, std::int32_t,
                           wbem::ClassObject* inParams, wbem::ObjectPtr& outParams) override {
    outParams.reset();
    const std::string key = Upper(path);
    if (key != Upper(kInterfaceClass) && key != Upper(InterfaceRelPath(*provider_)))
      return IsKnownClass(key) ? wbem::kInvalidMethod : wbem::kNotFound;
    if (Upper(method) != Upper(kMethodName)) return wbem::kInvalidMethod;
    std::u16string name, value, password;
    if (inParams == nullptr || !ReadArgument(*inParams, u"Name", name) ||
        !ReadArgument(*inParams, u"Value", value) ||
        !ReadArgument(*inParams, u"Password", password))
      return wbem::kInvalidParameter;
    auto out = TreeObject::MakeParameters(TreeObject::Role::Parameters);
    out->Add("Return", wbem::Variant::Int32(SetBiosSetting(*provider_, name, value, password)));
    outParams = std::move(out);
    return wbem::kOk;
  }

 private:
  static std::string Spelling(const std::string& key) {
    for (std::string_view known :
         {kBaseClass, kInterfaceClass, kPasswordClass, std::string_view("Lumo_BIOSEnumeration"),
          std::string_view("Lumo_BIOSString"), std::string_view("Lumo_BIOSInteger"),
          std::string_view("Lumo_BIOSOrderedList")})
      if (Upper(known) == key) return std::string(known);
    return key;
  }

  // Only what the query asks for is read: the interface needs nothing, the password only its
  // folder. Writes end before anything is read, so that a read-back sees what was kept.
  [[nodiscard]] wbem::EnumPtr Instances(const std::string& key) const {
    std::vector<wbem::ObjectPtr> objects;
    if (key == Upper(kInterfaceClass)) {
      objects.push_back(MakeInterfaceInstance(*provider_));
    } else if (key == Upper(kPasswordClass)) {
      FinishWrites(*provider_);
      objects.push_back(MakeSetupPassword(FirstAdmin(*provider_)));
    } else {
      const std::vector<Served>& settings = ServedSettings(*provider_);
      objects.reserve(settings.size() + 1);
      for (std::size_t i = 0; i < settings.size(); ++i) {
        // A query of one kind needs every setting's kind.
        if (key != Upper(kBaseClass)) Complete(*provider_, (*provider_->view)[i]);
        if (key == Upper(kBaseClass) || key == Upper(ClassOf(settings[i].attribute.kind)))
          objects.push_back(MakeSetting(provider_, settings[i], static_cast<std::int32_t>(i)));
      }
      if (key == Upper(kBaseClass)) objects.push_back(MakeSetupPassword(FirstAdmin(*provider_)));
    }
    return std::make_unique<TreeEnum>(std::move(objects));
  }

  std::shared_ptr<Provider> provider_;
};

class TreeLocator : public wbem::Locator {
 public:
  explicit TreeLocator(std::shared_ptr<Provider> provider) : provider_(std::move(provider)) {}
  wbem::HResult ConnectServer(std::u16string_view nameSpace, std::int32_t,
                              wbem::ServicesPtr& services) override {
    services.reset();
    if (!provider_ || !IsProviderNamespace(nameSpace)) return wbem::kInvalidNamespace;
    services = std::make_unique<TreeServices>(provider_);
    return wbem::kOk;
  }

 private:
  // root\Lumo\InstrumentedBIOS, on this machine or on "." by either slash.
  static bool IsProviderNamespace(std::u16string_view nameSpace) {
    std::string path = Upper(nameSpace);
    for (char& c : path)
      if (c == '/') c = '\\';
    for (std::string_view prefix : {R"(\\.\)", R"(\\LOCALHOST\)"})
      if (path.rfind(prefix, 0) == 0) path.erase(0, prefix.size());
    return path == "ROOT\\LUMO\\INSTRUMENTEDBIOS";
  }

  std::shared_ptr<Provider> provider_;
};

}  // namespace

std::unique_ptr<wbem::Locator> CreateProviderLocator(std::shared_ptr<Provider> provider) {
  return std::make_unique<TreeLocator>(std::move(provider));
}

}  // namespace corvane::fwattr
