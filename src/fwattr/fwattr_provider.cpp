// The provider's WMI objects: what a connection hands out, read from the sources afresh by every
// query, and SetBIOSSetting. A connection's writes are one batch, finished before it answers
// its next query and when it is released.
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fwattr/provider.h"
#include "fwattr/wmi_client.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/wbem.h"
#include "platform/wmi_kit.h"

namespace corvane::fwattr {
namespace {

using contract::kBaseClass;
using contract::kInterfaceClass;
using contract::kPasswordClass;
using wbem::PlainObject;

std::string Upper(std::u16string_view text) {
  return platform::AsciiUpper(platform::Utf16ToUtf8(text));
}
std::string Upper(std::string_view text) {
  return platform::AsciiUpper(text);
}

// SetBIOSSetting's in-parameters.
std::vector<std::string> Arguments() {
  return {std::begin(contract::kMethodArguments), std::end(contract::kMethodArguments)};
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
      return contract::kEnumerationClass;
    case AttributeKind::Integer:
      return contract::kIntegerClass;
    case AttributeKind::String:
      return contract::kStringClass;
    case AttributeKind::OrderedList:
      return contract::kOrderedListClass;
    case AttributeKind::Other:
      break;
  }
  return kBaseClass;
}

// Every object of this provider: an instance or a class object of a provider class.
std::unique_ptr<PlainObject> MakeObject(PlainObject::Role role, std::string_view className) {
  std::vector<wbem::MethodSignature> methods;
  if (role == PlainObject::Role::Class && className == std::string_view(kInterfaceClass))
    methods.push_back({std::string(contract::kMethod), Arguments()});
  return std::make_unique<PlainObject>(role, std::string(className),
                                       contract::ClassChain(className), std::move(methods));
}

void FillSetting(PlainObject* object, const Attribute& attribute, std::int32_t sequence) {
  const std::string_view className = ClassOf(attribute.kind);
  object->SetClass(std::string(className), contract::ClassChain(className));
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
  auto object = MakeObject(PlainObject::Role::Instance, ClassOf(served.attribute.kind));
  if (!served.raw.choicesLater) {
    FillSetting(object.get(), served.attribute, sequence);
    return object;
  }
  object->Add("Name", Text(served.attribute.name));
  object->Add("IsReadOnly", wbem::Variant::Int32(served.attribute.readOnly ? 1 : 0));
  object->Add("DisplayInUI", wbem::Variant::Int32(served.attribute.shown ? 1 : 0));
  object->Add("Sequence", wbem::Variant::Int32(sequence));
  object->CompleteLater([provider, name = served.attribute.name, sequence](PlainObject& self) {
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
  auto object = MakeObject(PlainObject::Role::Instance, kPasswordClass);
  object->Add("Name", Text(contract::kSetupPasswordName));
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

std::string InterfaceRelPath(const Provider& provider) {
  return wbem::InstancePath(
      kInterfaceClass, provider.sources.empty() ? std::string() : provider.sources[0]->Label());
}

wbem::ObjectPtr MakeInterfaceInstance(const Provider& provider) {
  auto object = MakeObject(PlainObject::Role::Instance, kInterfaceClass);
  object->Add("Active", wbem::Variant::Bool(true));
  object->Add("__RELPATH", Text(InterfaceRelPath(provider)));
  return object;
}

bool IsKnownClass(const std::string& key) {
  return !contract::ClassSpelling(key).empty();
}

class TreeServices : public wbem::InProcessServices {
 public:
  explicit TreeServices(std::shared_ptr<Provider> provider) : provider_(std::move(provider)) {}
  ~TreeServices() override { FinishWrites(*provider_); }
  TreeServices(const TreeServices&) = delete;
  TreeServices& operator=(const TreeServices&) = delete;

  wbem::HResult GetObjectByPath(std::u16string_view path, std::int32_t,
                                wbem::ObjectPtr& object) override {
    object.reset();
    const std::string key = Upper(path);
    if (key == Upper(InterfaceRelPath(*provider_))) {
      object = MakeInterfaceInstance(*provider_);
      return wbem::kOk;
    }
    if (!IsKnownClass(key)) return wbem::kNotFound;
    object = MakeObject(PlainObject::Role::Class, contract::ClassSpelling(key));
    return wbem::kOk;
  }

  wbem::HResult ExecMethod(std::u16string_view path, std::u16string_view method, std::int32_t,
                           wbem::ClassObject* inParams, wbem::ObjectPtr& outParams) override {
    outParams.reset();
    const std::string key = Upper(path);
    if (key != Upper(kInterfaceClass) && key != Upper(InterfaceRelPath(*provider_)))
      return IsKnownClass(key) ? wbem::kInvalidMethod : wbem::kNotFound;
    if (Upper(method) != Upper(contract::kMethod)) return wbem::kInvalidMethod;
    std::u16string name, value, password;
    if (inParams == nullptr || !wbem::ReadArgument(*inParams, u"Name", name) ||
        !wbem::ReadArgument(*inParams, u"Value", value) ||
        !wbem::ReadArgument(*inParams, u"Password", password))
      return wbem::kInvalidParameter;
    auto out = PlainObject::MakeParameters(PlainObject::Role::Parameters, Arguments());
    out->Add(contract::kReturn,
             wbem::Variant::Int32(SetBiosSetting(*provider_, name, value, password)));
    outParams = std::move(out);
    return wbem::kOk;
  }

 protected:
  // Only what the query asks for is read: the interface needs nothing, the password only its
  // folder. Writes end before anything is read, so that a read-back sees what was kept.
  wbem::HResult Walk(const std::string& key, wbem::EnumPtr& result) override {
    if (!IsKnownClass(key)) return wbem::kInvalidClass;
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
      // An interface that lists no settings (Dell's after some BIOS updates, until the next
      // restart) shows no password setting either: the job then finds nothing to read, as where
      // no interface answers, rather than calling every name of a file unknown.
      if (key == Upper(kBaseClass) && !settings.empty())
        objects.push_back(MakeSetupPassword(FirstAdmin(*provider_)));
    }
    result = std::make_unique<wbem::ListEnum>(std::move(objects));
    return wbem::kOk;
  }

 private:
  std::shared_ptr<Provider> provider_;
};

class TreeLocator : public wbem::Locator {
 public:
  explicit TreeLocator(std::shared_ptr<Provider> provider) : provider_(std::move(provider)) {}
  wbem::HResult ConnectServer(std::u16string_view nameSpace, std::int32_t,
                              wbem::ServicesPtr& services) override {
    services.reset();
    if (!provider_ || !wbem::IsNamespace(nameSpace, contract::kNamespace))
      return wbem::kInvalidNamespace;
    services = std::make_unique<TreeServices>(provider_);
    return wbem::kOk;
  }

 private:
  std::shared_ptr<Provider> provider_;
};

}  // namespace

std::unique_ptr<wbem::Locator> CreateProviderLocator(std::shared_ptr<Provider> provider) {
  return std::make_unique<TreeLocator>(std::move(provider));
}

}  // namespace corvane::fwattr
