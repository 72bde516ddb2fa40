#include "wmi/wmi_connection.h"

#include "platform/host.h"
#include "platform/text.h"

namespace corvane::wmi {

wbem::HResult ConnectBiosNamespace(const char* nameSpace, wbem::ServicesPtr& services) {
  services.reset();
  std::unique_ptr<wbem::Locator> locator;
  wbem::HResult hr = wbem::CreateLocator(locator);
  if (!wbem::Succeeded(hr)) return hr;
  if (!locator) return wbem::kFailed;

  const std::u16string path = platform::ToWide(nameSpace != nullptr ? nameSpace : kBiosNamespace);
  // Bounded waits exist only from Windows XP (5.1) on; older systems refuse the flag.
  const std::int32_t flags =
      platform::Os().OsVersionAtLeast(5, 1) ? wbem::kFlagConnectUseMaxWait : 0;
  hr = locator->ConnectServer(path, flags, services);
  if (!wbem::Succeeded(hr)) {
    services.reset();
    return hr;
  }
  // A provider that claims success without a handle must not be dereferenced later.
  if (!services) return wbem::kFailed;
  return services->SetProxyBlanket();
}

bool ExecQuery(wbem::Services& services, const char* query, wbem::EnumPtr& result) {
  result.reset();
  const wbem::HResult hr =
      services.ExecQuery(u"WQL", platform::ToWide(query), wbem::kFlagForwardOnly, result);
  return wbem::Succeeded(hr) && result != nullptr;
}

bool NextObject(wbem::EnumClassObject& walk, wbem::ObjectPtr& object) {
  object.reset();
  const wbem::HResult hr = walk.Next(wbem::kInfinite, object);
  return wbem::Succeeded(hr) && object != nullptr;
}

// One connection, one query, every object of the walk: true when any came back. Every failure
// answers false.
bool HasSettingInterface() {
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(ConnectBiosNamespace(nullptr, services)) || !services) return false;
  wbem::EnumPtr walk;
  if (!ExecQuery(*services, "select * from Lumo_BIOSSettingInterface", walk)) return false;
  bool found = false;
  wbem::ObjectPtr object;
  while (NextObject(*walk, object)) {
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

bool IsOfClass(wbem::ClassObject& object, const char16_t* className) {
  return object.InheritsFrom(className) == wbem::kOk;
}

wbem::ObjectPtr FindSetupPassword() {
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(ConnectBiosNamespace(nullptr, services)) || !services) return nullptr;
  wbem::EnumPtr walk;
  if (!ExecQuery(*services, "select * from Lumo_BIOSPassword", walk)) return nullptr;
  wbem::ObjectPtr object;
  while (NextObject(*walk, object)) {
    if (platform::EqualsNoCase(ReadStringProperty(*object, u"Name"), "Setup Password"))
      return object;
    object.reset();
  }
  return nullptr;
}

}  // namespace corvane::wmi
