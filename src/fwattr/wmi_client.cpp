#include "fwattr/wmi_client.h"

#include <cstdint>

#include "fwattr/attribute_model.h"
#include "platform/hex.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/wmi_kit.h"

namespace corvane::fwattr {

WmiConnection::WmiConnection(const wbem::LocatorFactory& locators, std::u16string_view nameSpace) {
  wbem::ServicesPtr services;
  result_ = wbem::Connect(locators, nameSpace, services);
  if (wbem::Succeeded(result_)) services_ = std::move(services);
}

std::vector<wbem::ObjectPtr> WmiConnection::Instances(std::u16string_view className) {
  std::vector<wbem::ObjectPtr> objects;
  wbem::EnumPtr walk;
  if (!services_ || !wbem::SelectAll(*services_, className, walk)) return objects;
  for (wbem::ObjectPtr object; wbem::NextObject(*walk, object);)
    objects.push_back(std::move(object));
  return objects;
}

wbem::ObjectPtr WmiConnection::Object(std::u16string_view path) {
  wbem::ObjectPtr object;
  if (!services_ || !wbem::Succeeded(services_->GetObjectByPath(path, 0, object))) object.reset();
  return object;
}

wbem::HResult WmiConnection::Call(std::u16string_view className, std::u16string_view method,
                                  const std::vector<Argument>& in, wbem::ObjectPtr& out) {
  out.reset();
  if (!services_) return result_;
  wbem::ObjectPtr classObject, signature, parameters;
  wbem::HResult hr = services_->GetObjectByPath(className, 0, classObject);
  if (wbem::Succeeded(hr) && classObject) hr = classObject->GetMethod(method, signature);
  if (wbem::Succeeded(hr) && signature) hr = signature->SpawnInstance(parameters);
  if (!wbem::Succeeded(hr)) return hr;
  if (!parameters) return wbem::kFailed;
  // A method is never called with an argument missing.
  for (const Argument& argument : in)
    if (const wbem::HResult put = parameters->Put(argument.name, argument.value);
        !wbem::Succeeded(put))
      return put;
  // The makers' methods are called on their class's instance, as their own tools do; it is
  // looked up once per connection.
  auto known = methodPaths_.find(std::u16string(className));
  if (known == methodPaths_.end()) {
    std::u16string path(className);
    wbem::EnumPtr walk;
    wbem::ObjectPtr instance;
    wbem::Variant relPath;
    if (wbem::Succeeded(services_->CreateInstanceEnum(className, wbem::kFlagForwardOnly, walk)) &&
        walk && wbem::Succeeded(walk->Next(wbem::kInfinite, instance)) && instance &&
        instance->Get(u"__RELPATH", relPath) == wbem::kOk &&
        relPath.type == wbem::Variant::Type::String && !relPath.string.empty())
      path = relPath.string;
    known = methodPaths_.emplace(std::u16string(className), std::move(path)).first;
  }
  hr = services_->ExecMethod(known->second, method, 0, parameters.get(), out);
  if (!wbem::Succeeded(hr)) out.reset();
  return hr;
}

std::optional<std::string> ReadText(wbem::ClassObject& object, std::u16string_view name) {
  wbem::Variant value;
  if (object.Get(name, value) != wbem::kOk) return std::nullopt;
  if (value.type == wbem::Variant::Type::String) return platform::Utf16ToUtf8(value.string);
  if (value.type == wbem::Variant::Type::Int32) return std::to_string(value.int32);
  return std::nullopt;
}

std::optional<std::int32_t> ReadNumber(wbem::ClassObject& object, std::u16string_view name) {
  wbem::Variant value;
  if (object.Get(name, value) != wbem::kOk) return std::nullopt;
  if (value.type == wbem::Variant::Type::Int32) return value.int32;
  if (value.type == wbem::Variant::Type::Bool) return value.boolean ? 1 : 0;
  if (value.type == wbem::Variant::Type::String)
    return ParseInt32(platform::Utf16ToUtf8(value.string));
  return std::nullopt;
}

std::optional<std::vector<std::string>> ReadTexts(wbem::ClassObject& object,
                                                  std::u16string_view name) {
  wbem::Variant value;
  if (object.Get(name, value) != wbem::kOk || value.type != wbem::Variant::Type::StringArray)
    return std::nullopt;
  std::vector<std::string> texts;
  texts.reserve(value.strings.size());
  for (const auto& item : value.strings) texts.push_back(platform::Utf16ToUtf8(item));
  return texts;
}

std::string HResultText(wbem::HResult hr) {
  return "0x" + platform::HexNumber(static_cast<std::uint32_t>(hr), 8);
}

wbem::Variant Text(std::string_view text) {
  return wbem::Variant::String(platform::Utf8ToUtf16(text));
}

std::string Key(std::string_view name) {
  return platform::AsciiUpper(platform::Trim(name));
}

bool FindByKey(const std::vector<RawAttribute>& attributes, std::string_view name,
               RawAttribute& raw) {
  const std::string wanted = Key(name);
  for (const auto& known : attributes)
    if (Key(known.name) == wanted) {
      raw = known;
      return true;
    }
  return false;
}

}  // namespace corvane::fwattr
