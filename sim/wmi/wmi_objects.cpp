#include "sim/wmi/wmi_objects.h"

#include "platform/text.h"

namespace corvane::sim {

bool IsControlKey(std::string_view key) {
  return !key.empty() && key[0] >= 'a' && key[0] <= 'z';
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

Json::const_iterator FindProperty(const Json& data, std::string_view name) {
  for (auto it = data.begin(); it != data.end(); ++it)
    if (!IsControlKey(it.key()) && SameName(it.key(), name)) return it;
  return data.end();
}

void SetProperty(Json& data, std::string_view name, Json value) {
  for (auto it = data.begin(); it != data.end(); ++it)
    if (!IsControlKey(it.key()) && SameName(it.key(), name)) {
      *it = std::move(value);
      return;
    }
  data[std::string(name)] = std::move(value);
}

std::string TextOf(const Json& value) {
  return value.is_string() ? value.get_ref<const std::string&>() : std::string();
}

const wbem::Variant* LocalValues::Find(std::string_view name) const {
  for (const auto& [known, value] : values_)
    if (SameName(known, name)) return &value;
  return nullptr;
}

void LocalValues::Set(std::string_view name, const wbem::Variant& value) {
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
  for (const auto& name : names) object->Add(name, wbem::Variant::Null());
  object->parameterNames_ = names;
  return object;
}

wbem::HResult PlainObject::Get(std::u16string_view name, wbem::Variant& value) {
  const std::string narrow = Utf16ToUtf8(name);
  if (const wbem::Variant* found = properties_.Find(narrow)) {
    value = *found;
    return wbem::kOk;
  }
  if (SameName(narrow, "__CLASS")) {
    value = wbem::Variant::String(Utf8ToUtf16(className_));
    return wbem::kOk;
  }
  return wbem::kNotFound;
}

wbem::HResult PlainObject::Put(std::u16string_view name, const wbem::Variant& value) {
  const std::string narrow = Utf16ToUtf8(name);
  // The method's parameters are fixed by its signature.
  if ((role_ == Role::Signature || role_ == Role::Parameters) && !properties_.Find(narrow))
    return wbem::kNotFound;
  properties_.Set(narrow, value);
  return wbem::kOk;
}

wbem::HResult PlainObject::InheritsFrom(std::u16string_view className) {
  const std::string upper = platform::AsciiUpper(Utf16ToUtf8(className));
  for (const auto& c : chain_)
    if (c == upper) return wbem::kOk;
  return wbem::kFalse;
}

wbem::HResult PlainObject::GetMethod(std::u16string_view name, wbem::ObjectPtr& signature) {
  signature.reset();
  if (role_ != Role::Class) return wbem::kNotFound;
  const std::string narrow = Utf16ToUtf8(name);
  for (const auto& method : methods_)
    if (SameName(method.name, narrow)) {
      signature = MakeParameters(Role::Signature, method.inputs);
      return wbem::kOk;
    }
  return wbem::kNotFound;
}

wbem::HResult PlainObject::SpawnInstance(wbem::ObjectPtr& instance) {
  instance.reset();
  if (role_ == Role::Class)
    instance = std::make_unique<PlainObject>(Role::Instance, className_, chain_, methods_);
  else if (role_ == Role::Signature)
    instance = MakeParameters(Role::Parameters, parameterNames_);
  else
    return wbem::kFailed;
  return wbem::kOk;
}

wbem::HResult ListEnum::Next(std::int32_t, wbem::ObjectPtr& object) {
  object.reset();
  if (next_ >= objects_.size()) return wbem::kFalse;
  object = std::move(objects_[next_++]);
  return wbem::kOk;
}

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

}  // namespace

bool ParseSelectAll(std::u16string_view language, std::u16string_view query,
                    std::string& classKey) {
  if (platform::AsciiUpper(Utf16ToUtf8(language)) != "WQL") return false;
  const auto words = SplitBlanks(Utf16ToUtf8(query));
  if (words.size() != 4 || platform::AsciiUpper(words[0]) != "SELECT" || words[1] != "*" ||
      platform::AsciiUpper(words[2]) != "FROM")
    return false;
  classKey = platform::AsciiUpper(words[3]);
  return true;
}

bool IsNamespace(std::u16string_view nameSpace, std::string_view path) {
  std::string given = platform::AsciiUpper(Utf16ToUtf8(nameSpace));
  for (char& c : given)
    if (c == '/') c = '\\';
  for (std::string_view prefix : {R"(\\.\)", R"(\\LOCALHOST\)"})
    if (given.rfind(prefix, 0) == 0) given.erase(0, prefix.size());
  return given == path;
}

std::string InstancePath(std::string_view className, std::string_view instanceName) {
  std::string escaped;
  for (char c : instanceName) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return std::string(className) + ".InstanceName=\"" + escaped + "\"";
}

}  // namespace corvane::sim
