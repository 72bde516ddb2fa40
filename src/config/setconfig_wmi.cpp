#include "config/configuration_job.h"
#include "log/result_log.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/wmi_kit.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

constexpr std::u16string_view kInterfaceClass = contract::kInterfaceClassAsCalled.Wide();

std::string CurrentValueOf(wbem::ClassObject& setting) {
  const bool enumeration = wmi::IsOfClass(setting, contract::kEnumerationClass.Wide());
  return wmi::ReadStringProperty(setting, enumeration ? u"CurrentValue" : u"Value");
}

}  // namespace

bool ConfigurationJob::WriteToSystem_WMI() {
  if (!wmiAvailable) return false;
  if (pendingNames.empty()) return true;

  bool result = false;
  const std::string passwordCopy = password;
  wbem::ComScope com;
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(wmi::ConnectBiosNamespace(nullptr, services)) || !services) return result;
  wbem::ObjectPtr interfaceClass;
  if (!wbem::Succeeded(services->GetObjectByPath(kInterfaceClass, 0, interfaceClass)) ||
      !interfaceClass)
    return result;

  // The read-back runs whenever the provider let the calls be made (or had no instance to make
  // them on). A call that fails outright is still reported: its setting reads back unchanged
  // and is marked "fail", rather than an earlier call's success standing for the whole file.
  wbem::EnumPtr instances;
  bool readBack = wbem::Succeeded(services->CreateInstanceEnum(
                      kInterfaceClass, wbem::kFlagForwardOnly, instances)) &&
                  instances;
  wbem::ObjectPtr instance;
  if (readBack) readBack = wbem::Succeeded(instances->Next(wbem::kInfinite, instance));
  if (readBack && instance) {
    wbem::ObjectPtr signature;
    readBack = wbem::Succeeded(interfaceClass->GetMethod(contract::kMethod.Wide(), signature)) &&
               signature;
    const std::u16string path =
        readBack ? platform::ToWide(wmi::ReadStringProperty(*instance, u"__RELPATH"))
                 : std::u16string();
    // Every change is sent even when an earlier one failed.
    for (std::size_t i = 0; readBack && i < pendingNames.size(); ++i) {
      wbem::ObjectPtr in;
      if (!wbem::Succeeded(signature->SpawnInstance(in)) || !in) continue;
      in->Put(u"Name", wbem::Variant::String(platform::ToWide(pendingNames[i])));
      in->Put(u"Value", wbem::Variant::String(platform::ToWide(pendingNewValues[i])));
      in->Put(u"Password", wbem::Variant::String(platform::ToWide(passwordCopy)));
      wbem::ObjectPtr out;
      if (!wbem::Succeeded(
              services->ExecMethod(path, contract::kMethod.Wide(), 0, in.get(), out)) ||
          !out)
        continue;
      // The result follows the last call whose Return could be read.
      wbem::Variant returned;
      if (out->Get(contract::kReturn.Wide(), returned) == wbem::kOk &&
          returned.type == wbem::Variant::Type::Int32)
        result = returned.int32 == 0;
    }
  }
  if (!readBack) return result;

  // Read every setting back through a list of its own, unfiltered and unsorted.
  wbem::EnumPtr walk;
  if (!wbem::SelectAll(*services, contract::kBaseClass.Wide(), walk)) return result;
  SettingList current;
  wbem::ObjectPtr object;
  while (wbem::NextObject(*walk, object)) current.Append(std::move(object));
  for (std::size_t i = 0; i < pendingNames.size(); ++i) {
    wbem::ClassObject* setting = current.FindByName(pendingNames[i]);
    if (setting == nullptr) continue;
    const std::string now = CurrentValueOf(*setting);
    // Any move away from the old value counts as a pass.
    if (!platform::EqualsNoCase(now, pendingOldValues[i]))
      log_.Setting(log::Status::kPass, pendingNames[i], pendingOldValues[i], now);
    else
      log_.Setting(log::Status::kFail, pendingNames[i], now, pendingNewValues[i]);
  }
  return result;
}

}  // namespace corvane::config
