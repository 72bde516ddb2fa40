// The provider seam on Windows: the WMI locator, services, enumerators and class objects
// through COM. Each mirror object owns one interface pointer and releases it when destroyed.
#include <windows.h>

#include <wbemidl.h>

#include <memory>
#include <string>

#include "platform/com_win32.h"
#include "platform/wbem.h"

namespace corvane::wbem {
namespace {

using platform::com::Bstr;
using platform::com::ComPtr;
using platform::com::VariantValue;
using platform::com::WideZ;

class ComObject;
class ComEnum;

// The mirror of what a call hands out, and the interface it hands out.
template <class Result>
struct MirrorOf;
template <>
struct MirrorOf<ObjectPtr> {
  using Native = IWbemClassObject;
  using Mirror = ComObject;
};
template <>
struct MirrorOf<EnumPtr> {
  using Native = IEnumWbemClassObject;
  using Mirror = ComEnum;
};

// Makes a call that hands out an object or a walk through its last argument, and mirrors what it
// handed out when it succeeded with one. Without its texts (one could not be allocated) it fails
// unmade.
template <class Result, class Call>
HResult HandOut(Result& result, bool texts, Call call) {
  result.reset();
  if (!texts) return E_OUTOFMEMORY;
  ComPtr<typename MirrorOf<Result>::Native> handed;
  const HRESULT hr = call(handed.Put());
  if (SUCCEEDED(hr) && handed)
    result = std::make_unique<typename MirrorOf<Result>::Mirror>(std::move(handed));
  return hr;
}

class ComObject final : public ClassObject {
 public:
  explicit ComObject(ComPtr<IWbemClassObject> object) : object_(std::move(object)) {}

  IWbemClassObject* native() const { return object_.Get(); }

  HResult Get(std::u16string_view name, Variant& value) override {
    value = Variant();
    const std::wstring property = WideZ(name);
    VariantValue raw;
    const HRESULT hr = object_->Get(property.c_str(), 0, raw.Put(), nullptr, nullptr);
    if (FAILED(hr)) return hr;
    const HRESULT converted = platform::com::FromVariant(raw.Get(), value);
    return FAILED(converted) ? converted : hr;
  }

  HResult Put(std::u16string_view name, const Variant& value) override {
    const std::wstring property = WideZ(name);
    VariantValue raw;
    const HRESULT hr = platform::com::ToVariant(value, raw);
    if (FAILED(hr)) return hr;
    return object_->Put(property.c_str(), 0, raw.Address(), 0);
  }

  HResult InheritsFrom(std::u16string_view className) override {
    const std::wstring ancestor = WideZ(className);
    return object_->InheritsFrom(ancestor.c_str());
  }

  HResult GetMethod(std::u16string_view name, ObjectPtr& inSignature) override {
    const std::wstring method = WideZ(name);
    return HandOut(inSignature, true, [&](IWbemClassObject** signature) {
      return object_->GetMethod(method.c_str(), 0, signature, nullptr);
    });
  }

  HResult SpawnInstance(ObjectPtr& instance) override {
    return HandOut(instance, true,
                   [&](IWbemClassObject** spawned) { return object_->SpawnInstance(0, spawned); });
  }

 private:
  ComPtr<IWbemClassObject> object_;
};

class ComEnum final : public EnumClassObject {
 public:
  explicit ComEnum(ComPtr<IEnumWbemClassObject> walk) : walk_(std::move(walk)) {}

  HResult Next(std::int32_t timeout, ObjectPtr& object) override {
    object.reset();
    ComPtr<IWbemClassObject> next;
    ULONG returned = 0;
    const HRESULT hr = walk_->Next(timeout, 1, next.Put(), &returned);
    if (SUCCEEDED(hr) && returned == 1 && next) {
      object = std::make_unique<ComObject>(std::move(next));
      return hr;
    }
    // A success without an object ends the walk like WBEM_S_FALSE.
    return SUCCEEDED(hr) ? kFalse : hr;
  }

 private:
  ComPtr<IEnumWbemClassObject> walk_;
};

class ComServices final : public Services {
 public:
  explicit ComServices(ComPtr<IWbemServices> services) : services_(std::move(services)) {}

  // The levels every connection of the program uses: default authentication, no
  // authorisation service, packet authentication per call, impersonation.
  HResult SetProxyBlanket() override {
    return CoSetProxyBlanket(services_.Get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                             EOAC_NONE);
  }

  HResult ExecQuery(std::u16string_view language, std::u16string_view query, std::int32_t flags,
                    EnumPtr& result) override {
    const Bstr languageText(language);
    const Bstr queryText(query);
    return HandOut(result, languageText && queryText, [&](IEnumWbemClassObject** walk) {
      return services_->ExecQuery(languageText.Get(), queryText.Get(), flags, nullptr, walk);
    });
  }

  HResult GetObjectByPath(std::u16string_view path, std::int32_t flags,
                          ObjectPtr& object) override {
    const Bstr pathText(path);
    return HandOut(object, static_cast<bool>(pathText), [&](IWbemClassObject** found) {
      return services_->GetObject(pathText.Get(), flags, nullptr, found, nullptr);
    });
  }

  HResult CreateInstanceEnum(std::u16string_view className, std::int32_t flags,
                             EnumPtr& result) override {
    const Bstr classText(className);
    return HandOut(result, static_cast<bool>(classText), [&](IEnumWbemClassObject** walk) {
      return services_->CreateInstanceEnum(classText.Get(), flags, nullptr, walk);
    });
  }

  HResult ExecMethod(std::u16string_view path, std::u16string_view method, std::int32_t flags,
                     ClassObject* inParams, ObjectPtr& outParams) override {
    outParams.reset();
    IWbemClassObject* in = nullptr;
    if (inParams != nullptr) {
      // Only objects this adapter handed out carry a COM object to pass on.
      const auto* own = dynamic_cast<const ComObject*>(inParams);
      if (own == nullptr) return kInvalidParameter;
      in = own->native();
    }
    const Bstr pathText(path);
    const Bstr methodText(method);
    return HandOut(outParams, pathText && methodText, [&](IWbemClassObject** out) {
      return services_->ExecMethod(pathText.Get(), methodText.Get(), flags, nullptr, in, out,
                                   nullptr);
    });
  }

 private:
  ComPtr<IWbemServices> services_;
};

class ComLocator final : public Locator {
 public:
  explicit ComLocator(ComPtr<IWbemLocator> locator) : locator_(std::move(locator)) {}

  // No user, password, locale, authority or context: the connection runs as the process.
  HResult ConnectServer(std::u16string_view nameSpace, std::int32_t flags,
                        ServicesPtr& services) override {
    services.reset();
    const Bstr path(nameSpace);
    if (!path) return E_OUTOFMEMORY;
    ComPtr<IWbemServices> connected;
    const HRESULT hr = locator_->ConnectServer(path.Get(), nullptr, nullptr, nullptr, flags,
                                               nullptr, nullptr, connected.Put());
    if (SUCCEEDED(hr) && connected) services = std::make_unique<ComServices>(std::move(connected));
    return hr;
  }

 private:
  ComPtr<IWbemLocator> locator_;
};

}  // namespace

HResult CreatePlatformLocator(std::unique_ptr<Locator>& locator) {
  locator.reset();
  ComPtr<IWbemLocator> created;
  const HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, created.PutVoid());
  if (FAILED(hr)) return hr;
  if (!created) return kFailed;
  locator = std::make_unique<ComLocator>(std::move(created));
  return hr;
}

// COM may only be uninitialised after an initialisation that succeeded (S_OK, or S_FALSE when
// already initialised on this thread); a failed one owes nothing.
ComScope::ComScope() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
ComScope::~ComScope() {
  if (initialized_) CoUninitialize();
}

}  // namespace corvane::wbem
