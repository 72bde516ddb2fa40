#include "platform/wmi_kit.h"

#include "platform/host.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace corvane::wbem {

HResult Connect(const LocatorFactory& locators, std::u16string_view nameSpace,
                ServicesPtr& services) {
  services.reset();
  std::unique_ptr<Locator> locator;
  HResult hr = locators ? locators(locator) : kFailed;
  if (!Succeeded(hr)) return hr;
  if (!locator) return kFailed;
  // Bounded waits exist only from Windows XP (5.1) on; older systems refuse the flag.
  const std::int32_t flags = platform::Os().OsVersionAtLeast(5, 1) ? kFlagConnectUseMaxWait : 0;
  hr = locator->ConnectServer(nameSpace, flags, services);
  if (!Succeeded(hr)) {
    services.reset();
    return hr;
  }
  // A provider that claims success without a handle must not be dereferenced later.
  if (!services) return kFailed;
  return services->SetProxyBlanket();
}

bool SelectAll(Services& services, std::u16string_view className, EnumPtr& result) {
  result.reset();
  const HResult hr = services.ExecQuery(u"WQL", u"select * from " + std::u16string(className),
                                        kFlagForwardOnly, result);
  return Succeeded(hr) && result != nullptr;
}

bool NextObject(EnumClassObject& walk, ObjectPtr& object) {
  object.reset();
  const HResult hr = walk.Next(kInfinite, object);
  return Succeeded(hr) && object != nullptr;
}

// Property reads are the hot path of an enumeration: compare without allocating.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

const Variant* PropertyList::Find(std::string_view name) const {
  for (const auto& [known, value] : values_)
    if (SameName(known, name)) return &value;
  return nullptr;
}

void PropertyList::Set(std::string_view name, const Variant& value) {
  for (auto& [known, current] : values_)
    if (SameName(known, name)) {
      current = value;
      return;
    }
  values_.emplace_back(std::string(name), value);
}

PlainObject::PlainObject(Role role, std::string className, std::vector<std::string> chain,
                         std::vector<MethodSignature> methods)
    : role_(role),
      className_(std::move(className)),
      chain_(std::move(chain)),
      methods_(std::move(methods)) {}

std::unique_ptr<PlainObject> PlainObject::MakeParameters(Role role,
                                                         const std::vector<std::string>& names) {
  auto object =
      std::make_unique<PlainObject>(role, "__PARAMETERS", std::vector<std::string>{"__PARAMETERS"});
  for (const auto& name : names) object->Add(name, Variant::Null());
  object->parameterNames_ = names;
  return object;
}

void PlainObject::SetClass(std::string className, std::vector<std::string> chain) {
  className_ = std::move(className);
  chain_ = std::move(chain);
}

void PlainObject::CompleteNow() {
  if (!completion_) return;
  const Completion completion = std::move(completion_);
  completion_ = nullptr;
  completion(*this);
}

HResult PlainObject::Get(std::u16string_view name, Variant& value) {
  const std::string narrow = platform::Utf16ToUtf8(name);
  if (properties_.Find(narrow) == nullptr) CompleteNow();
  if (const Variant* found = properties_.Find(narrow)) {
    value = *found;
    return kOk;
  }
  if (SameName(narrow, "__CLASS")) {
    value = Variant::String(platform::Utf8ToUtf16(className_));
    return kOk;
  }
  return kNotFound;
}

HResult PlainObject::Put(std::u16string_view name, const Variant& value) {
  const std::string narrow = platform::Utf16ToUtf8(name);
  if ((role_ == Role::Signature || role_ == Role::Parameters) && !properties_.Find(narrow))
    return kNotFound;
  properties_.Set(narrow, value);
  return kOk;
}

HResult PlainObject::InheritsFrom(std::u16string_view className) {
  CompleteNow();
  const std::string upper = platform::AsciiUpper(platform::Utf16ToUtf8(className));
  for (const auto& known : chain_)
    if (known == upper) return kOk;
  return kFalse;
}

HResult PlainObject::GetMethod(std::u16string_view name, ObjectPtr& signature) {
  signature.reset();
  if (role_ != Role::Class) return kNotFound;
  const std::string narrow = platform::Utf16ToUtf8(name);
  for (const auto& method : methods_)
    if (SameName(method.name, narrow)) {
      signature = MakeParameters(Role::Signature, method.inputs);
      return kOk;
    }
  return kNotFound;
}

HResult PlainObject::SpawnInstance(ObjectPtr& instance) {
  instance.reset();
  if (role_ == Role::Class)
    instance = std::make_unique<PlainObject>(Role::Instance, className_, chain_, methods_);
  else if (role_ == Role::Signature)
    instance = MakeParameters(Role::Parameters, parameterNames_);
  else
    return kFailed;
  return kOk;
}

HResult ListEnum::Next(std::int32_t, ObjectPtr& object) {
  object.reset();
  if (next_ >= objects_.size()) return kFalse;
  object = std::move(objects_[next_++]);
  return kOk;
}

HResult InProcessServices::ExecQuery(std::u16string_view language, std::u16string_view query,
                                     std::int32_t, EnumPtr& result) {
  result.reset();
  std::string classKey;
  if (!ParseSelectAll(language, query, classKey)) return kInvalidQuery;
  return Query(classKey, result);
}

HResult InProcessServices::CreateInstanceEnum(std::u16string_view className, std::int32_t,
                                              EnumPtr& result) {
  result.reset();
  return Walk(platform::AsciiUpper(platform::Utf16ToUtf8(className)), result);
}

bool ReadArgument(ClassObject& in, std::u16string_view name, std::u16string& text) {
  text.clear();
  Variant value;
  if (in.Get(name, value) != kOk || value.type == Variant::Type::Null ||
      value.type == Variant::Type::Empty)
    return true;
  if (value.type != Variant::Type::String) return false;
  text = value.string;
  return true;
}

namespace {

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

// A namespace path without the machine it names, upper-cased, with backslashes.
std::string LocalPath(std::string_view path) {
  std::string local = platform::AsciiUpper(path);
  for (char& c : local)
    if (c == '/') c = '\\';
  for (std::string_view prefix : {R"(\\.\)", R"(\\LOCALHOST\)"})
    if (local.rfind(prefix, 0) == 0) local.erase(0, prefix.size());
  return local;
}

}  // namespace

bool ParseSelectAll(std::u16string_view language, std::u16string_view query,
                    std::string& classKey) {
  if (platform::AsciiUpper(platform::Utf16ToUtf8(language)) != "WQL") return false;
  const auto words = SplitBlanks(platform::Utf16ToUtf8(query));
  if (words.size() != 4 || platform::AsciiUpper(words[0]) != "SELECT" || words[1] != "*" ||
      platform::AsciiUpper(words[2]) != "FROM")
    return false;
  classKey = platform::AsciiUpper(words[3]);
  return true;
}

bool IsNamespace(std::u16string_view nameSpace, std::string_view path) {
  return LocalPath(platform::Utf16ToUtf8(nameSpace)) == LocalPath(path);
}

std::string InstancePath(std::string_view className, std::string_view instanceName) {
  std::string escaped;
  for (char c : instanceName) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return std::string(className) + ".InstanceName=\"" + escaped + "\"";
}

}  // namespace corvane::wbem
