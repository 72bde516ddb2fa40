#include "wmi/setup_password.h"

#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/wbem.h"
#include "platform/wmi_kit.h"
#include "wmi/password_options.h"
#include "wmi/wmi_connection.h"

namespace corvane::wmi {
namespace {

constexpr std::u16string_view kInterfaceClass = contract::kInterfaceClassAsCalled.Wide();
constexpr std::u16string_view kSetMethod = contract::kMethod.Wide();
// Where the call itself fails it answers numbers of its own, which callers see as any failure:
// no connection; no interface class or instances (the number of a refused password, which the
// password step takes it for); no method or arguments, or a failed call; no readable Return.
constexpr std::int32_t kNoConnection = -1;
constexpr std::int32_t kNoInterface = 4;
constexpr std::int32_t kCallFailed = 1;
constexpr std::int32_t kNoReturn = static_cast<std::int32_t>(0xCCCCCCCCu);

// A text that would not reach the provider as it is (a password with bytes that are no text of
// the code page would be set, or accepted, as replacement characters) is never sent.
bool PutString(wbem::ClassObject& params, const char16_t* name, const std::string& text) {
  return platform::ConvertsLosslessly(text) &&
         wbem::Succeeded(params.Put(name, wbem::Variant::String(platform::ToWide(text))));
}

}  // namespace

std::int32_t InvokeSetBIOSSetting(const std::string& name, const std::string& value,
                                  const std::string& password) {
  const wbem::ComScope com;
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(ConnectBiosNamespace(nullptr, services)) || !services) return kNoConnection;

  wbem::ObjectPtr classObject;
  if (!wbem::Succeeded(services->GetObjectByPath(kInterfaceClass, 0, classObject)) || !classObject)
    return kNoInterface;
  wbem::EnumPtr walk;
  if (!wbem::Succeeded(
          services->CreateInstanceEnum(kInterfaceClass, wbem::kFlagForwardOnly, walk)) ||
      !walk)
    return kNoInterface;
  wbem::ObjectPtr instance;
  wbem::NextObject(*walk, instance);

  wbem::ObjectPtr signature;
  if (!wbem::Succeeded(classObject->GetMethod(kSetMethod, signature)) || !signature)
    return kCallFailed;
  wbem::ObjectPtr inParams;
  if (!wbem::Succeeded(signature->SpawnInstance(inParams)) || !inParams) return kCallFailed;
  // The method is never called with an argument missing: a lost Value or Password could
  // change the setting to something nobody asked for.
  if (!PutString(*inParams, u"Name", name) || !PutString(*inParams, u"Value", value) ||
      !PutString(*inParams, u"Password", password))
    return kCallFailed;

  std::string relativePath;
  if (instance == nullptr || !ReadRawStringProperty(*instance, u"__RELPATH", relativePath) ||
      relativePath.empty())
    relativePath = contract::kInterfaceClassAsCalled;

  wbem::ObjectPtr outParams;
  if (!wbem::Succeeded(services->ExecMethod(platform::ToWide(relativePath), kSetMethod, 0,
                                            inParams.get(), outParams)))
    return kCallFailed;
  if (!outParams) return kNoReturn;
  wbem::Variant result;
  if (!wbem::Succeeded(outParams->Get(contract::kReturn.Wide(), result)) ||
      result.type != wbem::Variant::Type::Int32)
    return kNoReturn;
  return result.int32;
}

std::int32_t ChangeSetupPassword(const std::string& currentPassword,
                                 const std::string& newPassword) {
  std::string value;
  std::string password;
  if (SupportsUtf16Passwords()) {
    value = EncodeUtf16Password(newPassword);
    password = EncodeCurrentPassword(currentPassword);
  } else {
    value = EncodeKbdPassword(newPassword);
    password = EncodeKbdPassword(currentPassword);
  }
  return InvokeSetBIOSSetting(std::string(contract::kSetupPasswordName), value, password);
}

}  // namespace corvane::wmi
