#include "wmi/wmi_connection.h"

#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/wmi_kit.h"

namespace corvane::wmi {

wbem::HResult ConnectBiosNamespace(const char* nameSpace, wbem::ServicesPtr& services) {
  const std::u16string path = nameSpace != nullptr ? platform::ToWide(nameSpace)
                                                   : std::u16string(contract::kNamespace.Wide());
  return wbem::Connect(wbem::CreateLocator, path, services);
}

// One connection, one query, every object of the walk: true when any came back. Every failure
// answers false.
bool HasSettingInterface() {
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(ConnectBiosNamespace(nullptr, services)) || !services) return false;
  wbem::EnumPtr walk;
  if (!wbem::SelectAll(*services, contract::kInterfaceClass.Wide(), walk)) return false;
  bool found = false;
  wbem::ObjectPtr object;
  while (wbem::NextObject(*walk, object)) {
    found = true;
    object.reset();
  }
  return found;
}

bool HasSettingInterface(SettingInterfaceProbe& probe) {
  if (probe.asked) return probe.answer;
  // A failed connection is remembered as absence for the rest of the run.
  probe.answer = HasSettingInterface();
  probe.asked = true;
  return probe.answer;
}

bool ReadRawStringProperty(wbem::ClassObject& object, const char16_t* name, std::string& text) {
  wbem::Variant value;
  // Only a string counts: any other variant type holds no text to convert.
  if (object.Get(name, value) != wbem::kOk || value.type != wbem::Variant::Type::String)
    return false;
  text = platform::ToNarrow(value.string);
  return true;
}

std::string ReadStringProperty(wbem::ClassObject& object, const char16_t* name) {
  std::string text;
  if (!ReadRawStringProperty(object, name, text)) return {};
  return platform::Trim(text);
}

std::int32_t ReadIntProperty(wbem::ClassObject& object, const char16_t* name) {
  wbem::Variant value;
  if (object.Get(name, value) != wbem::kOk) return -1;
  switch (value.type) {
    case wbem::Variant::Type::Int32:
      return value.int32;
    case wbem::Variant::Type::Bool:
      return value.boolean ? 1 : 0;
    default:
      // Null, empty, text and arrays carry no integer: the same answer as a missing property.
      return -1;
  }
}

bool ReadArrayProperty(wbem::ClassObject& object, const char16_t* name,
                       std::vector<std::u16string>& elements) {
  elements.clear();
  wbem::Variant value;
  if (!wbem::Succeeded(object.Get(name, value)) || value.type != wbem::Variant::Type::StringArray)
    return false;
  elements = std::move(value.strings);
  return true;
}

bool IsOfClass(wbem::ClassObject& object, std::u16string_view className) {
  return object.InheritsFrom(className) == wbem::kOk;
}

wbem::ObjectPtr FindSetupPassword() {
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(ConnectBiosNamespace(nullptr, services)) || !services) return nullptr;
  wbem::EnumPtr walk;
  if (!wbem::SelectAll(*services, contract::kPasswordClass.Wide(), walk)) return nullptr;
  wbem::ObjectPtr object;
  while (wbem::NextObject(*walk, object)) {
    if (platform::EqualsNoCase(ReadStringProperty(*object, u"Name"), contract::kSetupPasswordName))
      return object;
    object.reset();
  }
  return nullptr;
}

}  // namespace corvane::wmi
