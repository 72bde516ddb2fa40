// A stand-in for the WMI locator, for the tests under Wine: an in-process COM server registered
// in the test prefix as the locator's class, serving the simulated machine named by
// CORVANE_COM_DOUBLE_MACHINE through IWbemLocator, IWbemServices (with IClientSecurity),
// IEnumWbemClassObject and IWbemClassObject, in the provider's namespace and in Dell's and
// Lenovo's. Corvane.exe then runs its real COM code against it, while CORVANE_MACHINE stays unset.
// Every call is appended as one line to the file named by CORVANE_COM_DOUBLE_TRACE, so that a test
// can see the COM path was taken and how.
#include <windows.h>

#include <wbemidl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/utf8.h"
#include "platform/wbem.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"

namespace {

using corvane::platform::Utf16ToUtf8;
namespace wbem = corvane::wbem;
namespace sim = corvane::sim;

// The WBEMSTATUS codes as HRESULTs (the enumeration's values overflow a LONG).
constexpr HRESULT kFailed = wbem::kFailed;
constexpr HRESULT kInvalidParameter = wbem::kInvalidParameter;
constexpr HRESULT kInvalidNamespace = wbem::kInvalidNamespace;
constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x80041005);
constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x8004100C);

// Answers a QueryInterface for the double's own object behind an IWbemClassObject.
// {5C0B1D7E-3A52-4E0F-9D61-2B8F4C7A9E13}
const GUID kIidDoubleObject = {
    0x5c0b1d7e, 0x3a52, 0x4e0f, {0x9d, 0x61, 0x2b, 0x8f, 0x4c, 0x7a, 0x9e, 0x13}};

// ---------------------------------------------------------------------------------------------
// The trace.

std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return "null";
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text)));
}

std::u16string Text(const wchar_t* text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

std::u16string BstrText(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

std::string Hex(unsigned long value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%lx", value);
  return buffer;
}

void Trace(const std::string& line) {
  static const std::string path = corvane::platform::Os().Environment("CORVANE_COM_DOUBLE_TRACE");
  if (path.empty()) return;
  if (std::FILE* file = std::fopen(path.c_str(), "ab")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

// ---------------------------------------------------------------------------------------------
// Variants as WMI hands them out and takes them in.
// Not variant_win32.cpp's: a double that shares the program's rule cannot catch its faults.

HRESULT ToComVariant(const wbem::Variant& in, VARIANT* out) {
  VariantInit(out);
  switch (in.type) {
    case wbem::Variant::Type::Empty:
      return S_OK;
    case wbem::Variant::Type::Null:
      out->vt = VT_NULL;
      return S_OK;
    case wbem::Variant::Type::String:
      out->vt = VT_BSTR;
      out->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.string.data()),
                                       static_cast<UINT>(in.string.size()));
      return S_OK;
    case wbem::Variant::Type::Int32:
      out->vt = VT_I4;
      out->lVal = in.int32;
      return S_OK;
    case wbem::Variant::Type::Bool:
      out->vt = VT_BOOL;
      out->boolVal = in.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case wbem::Variant::Type::StringArray: {
      SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(in.strings.size()));
      for (std::size_t i = 0; i < in.strings.size(); ++i) {
        BSTR element = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.strings[i].data()),
                                         static_cast<UINT>(in.strings[i].size()));
        LONG index = static_cast<LONG>(i);
        SafeArrayPutElement(array, &index, element);
        SysFreeString(element);
      }
      out->vt = VT_ARRAY | VT_BSTR;
      out->parray = array;
      return S_OK;
    }
    case wbem::Variant::Type::ByteArray:
      break;  // no property of the simulated machine is one
  }
  return E_INVALIDARG;
}

std::string TypeName(VARTYPE type) {
  switch (type) {
    case VT_EMPTY:
      return "VT_EMPTY";
    case VT_NULL:
      return "VT_NULL";
    case VT_BSTR:
      return "VT_BSTR";
    case VT_I4:
      return "VT_I4";
    case VT_BOOL:
      return "VT_BOOL";
    case VT_ARRAY | VT_BSTR:
      return "VT_ARRAY|VT_BSTR";
    case VT_ARRAY | VT_UI1:
      return "VT_ARRAY|VT_UI1";
    default:
      return "vt=" + std::to_string(type);
  }
}

HRESULT FromComVariant(const VARIANT& in, wbem::Variant& out) {
  switch (in.vt) {
    case VT_EMPTY:
    case VT_NULL:
      out = wbem::Variant::Null();
      return S_OK;
    case VT_BSTR:
      out = wbem::Variant::String(BstrText(in.bstrVal));
      return S_OK;
    case VT_I4:
      out = wbem::Variant::Int32(in.lVal);
      return S_OK;
    case VT_BOOL:
      out = wbem::Variant::Bool(in.boolVal != VARIANT_FALSE);
      return S_OK;
    case VT_ARRAY | VT_BSTR:
    case VT_ARRAY | VT_UI1: {
      // The makers' in-parameters: one-dimensional, lower bound 0.
      LONG upper = -1;
      if (SafeArrayGetDim(in.parray) != 1 || FAILED(SafeArrayGetUBound(in.parray, 1, &upper)))
        return kTypeMismatch;
      out = in.vt == (VT_ARRAY | VT_BSTR) ? wbem::Variant::StringArray({})
                                          : wbem::Variant::ByteArray({});
      for (LONG i = 0; i <= upper; ++i) {
        if (in.vt == (VT_ARRAY | VT_UI1)) {
          std::uint8_t byte = 0;
          SafeArrayGetElement(in.parray, &i, &byte);
          out.bytes.push_back(byte);
        } else {
          BSTR item = nullptr;
          SafeArrayGetElement(in.parray, &i, &item);
          out.strings.push_back(BstrText(item));
          SysFreeString(item);
        }
      }
      return S_OK;
    }
    default:
      return kTypeMismatch;
  }
}

// ---------------------------------------------------------------------------------------------
// Reference counting shared by the objects; each deletes itself at zero.

class Counted {
 public:
  virtual ~Counted() = default;

 protected:
  ULONG Increment() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG Decrement() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG references_ = 1;
};

// A method of a COM interface that the program does not use: its call is traced and refused.
#define UNUSED_METHOD(method, ...)                         \
  HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { \
    return Unused();                                       \
  }

template <class Interface>
HRESULT Hand(Interface* object, void** result) {
  object->AddRef();
  *result = object;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IWbemClassObject over a simulated object.

class DoubleObject final : public IWbemClassObject, private Counted {
 public:
  explicit DoubleObject(wbem::ObjectPtr inner) : inner_(std::move(inner)) {}

  static IWbemClassObject* Wrap(wbem::ObjectPtr inner) {
    return inner ? new DoubleObject(std::move(inner)) : nullptr;
  }
  wbem::ClassObject& inner() { return *inner_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemClassObject) ||
        IsEqualIID(iid, kIidDoubleObject))
      return Hand(static_cast<IWbemClassObject*>(this), result);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Increment(); }
  ULONG STDMETHODCALLTYPE Release() override { return Decrement(); }

  HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                                LONG* flavor) override {
    Trace("Get " + Utf8(name) + " flags=" + Hex(flags));
    if (type != nullptr) *type = 0;
    if (flavor != nullptr) *flavor = 0;
    wbem::Variant found;
    const HRESULT hr = inner_->Get(Text(name), found);
    if (value == nullptr) return hr;
    VariantInit(value);
    if (FAILED(hr)) return hr;
    return ToComVariant(found, value);
  }
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override {
    Trace("Put " + Utf8(name) + " " + (value ? TypeName(value->vt) : "null") +
          " flags=" + Hex(flags) + " type=" + std::to_string(type));
    wbem::Variant given = wbem::Variant::Null();
    if (value != nullptr) {
      const HRESULT hr = FromComVariant(*value, given);
      if (FAILED(hr)) return hr;
    }
    return inner_->Put(Text(name), given);
  }
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR ancestor) override {
    Trace("InheritsFrom " + Utf8(ancestor));
    return inner_->InheritsFrom(Text(ancestor));
  }
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in,
                                      IWbemClassObject** out) override {
    Trace("GetMethod " + Utf8(name) + " flags=" + Hex(flags));
    if (out != nullptr) *out = nullptr;
    if (in == nullptr) return S_OK;
    *in = nullptr;
    wbem::ObjectPtr signature;
    const HRESULT hr = inner_->GetMethod(Text(name), signature);
    if (SUCCEEDED(hr)) *in = Wrap(std::move(signature));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG flags, IWbemClassObject** instance) override {
    Trace("SpawnInstance flags=" + Hex(flags));
    if (instance == nullptr) return kInvalidParameter;
    *instance = nullptr;
    wbem::ObjectPtr spawned;
    const HRESULT hr = inner_->SpawnInstance(spawned);
    if (SUCCEEDED(hr)) *instance = Wrap(std::move(spawned));
    return hr;
  }

  // Nothing else of the interface is used by the program.
  UNUSED_METHOD(GetQualifierSet, IWbemQualifierSet**)
  UNUSED_METHOD(Delete, LPCWSTR)
  UNUSED_METHOD(GetNames, LPCWSTR, LONG, VARIANT*, SAFEARRAY**)
  UNUSED_METHOD(BeginEnumeration, LONG)
  UNUSED_METHOD(Next, LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*)
  UNUSED_METHOD(EndEnumeration)
  UNUSED_METHOD(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**)
  UNUSED_METHOD(Clone, IWbemClassObject**)
  UNUSED_METHOD(GetObjectText, LONG, BSTR*)
  UNUSED_METHOD(SpawnDerivedClass, LONG, IWbemClassObject**)
  UNUSED_METHOD(CompareTo, LONG, IWbemClassObject*)
  UNUSED_METHOD(GetPropertyOrigin, LPCWSTR, BSTR*)
  UNUSED_METHOD(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*)
  UNUSED_METHOD(DeleteMethod, LPCWSTR)
  UNUSED_METHOD(BeginMethodEnumeration, LONG)
  UNUSED_METHOD(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**)
  UNUSED_METHOD(EndMethodEnumeration)
  UNUSED_METHOD(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**)
  UNUSED_METHOD(GetMethodOrigin, LPCWSTR, BSTR*)

 private:
  static HRESULT Unused() {
    Trace("IWbemClassObject: a method the program does not use");
    return kNotSupported;
  }

  wbem::ObjectPtr inner_;
};

// ---------------------------------------------------------------------------------------------
// IEnumWbemClassObject over a simulated walk.

class DoubleEnum final : public IEnumWbemClassObject, private Counted {
 public:
  explicit DoubleEnum(wbem::EnumPtr inner) : inner_(std::move(inner)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumWbemClassObject))
      return Hand(static_cast<IEnumWbemClassObject*>(this), result);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Increment(); }
  ULONG STDMETHODCALLTYPE Release() override { return Decrement(); }

  HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                 ULONG* returned) override {
    Trace("Next timeout=" + std::to_string(timeout) + " count=" + std::to_string(count));
    if (objects == nullptr || returned == nullptr) return kInvalidParameter;
    *returned = 0;
    for (ULONG i = 0; i < count; ++i) {
      wbem::ObjectPtr object;
      const HRESULT hr = inner_->Next(timeout, object);
      if (FAILED(hr)) return hr;
      if (hr != S_OK || !object) return WBEM_S_FALSE;
      objects[i] = DoubleObject::Wrap(std::move(object));
      ++*returned;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return kNotSupported; }
  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return kNotSupported; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return kNotSupported; }
  HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return kNotSupported; }

 private:
  wbem::EnumPtr inner_;
};

HRESULT HandEnum(HRESULT hr, wbem::EnumPtr walk, IEnumWbemClassObject** result) {
  *result = SUCCEEDED(hr) && walk ? new DoubleEnum(std::move(walk)) : nullptr;
  return hr;
}

// ---------------------------------------------------------------------------------------------
// IWbemServices over a simulated connection, with the IClientSecurity that CoSetProxyBlanket
// asks an in-process object for.

class DoubleServices final : public IWbemServices, public IClientSecurity, private Counted {
 public:
  explicit DoubleServices(wbem::ServicesPtr inner) : inner_(std::move(inner)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemServices))
      return Hand(static_cast<IWbemServices*>(this), result);
    if (IsEqualIID(iid, IID_IClientSecurity))
      return Hand(static_cast<IClientSecurity*>(this), result);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Increment(); }
  ULONG STDMETHODCALLTYPE Release() override { return Decrement(); }

  // IClientSecurity.
  HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authentication, DWORD authorization,
                                       OLECHAR* principal, DWORD level, DWORD impersonation,
                                       void* identity, DWORD capabilities) override {
    Trace("SetBlanket authentication=" + std::to_string(static_cast<LONG>(authentication)) +
          " authorization=" + std::to_string(authorization) +
          " principal=" + (principal ? "given" : "null") + " level=" + std::to_string(level) +
          " impersonation=" + std::to_string(impersonation) + " identity=" +
          (identity ? "given" : "null") + " capabilities=" + std::to_string(capabilities));
    return inner_->SetProxyBlanket();
  }
  HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*,
                                         void**, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

  // IWbemServices: what the program calls.
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                      IWbemContext* context,
                                      IEnumWbemClassObject** result) override {
    Trace("ExecQuery " + Utf8(language) + " \"" + Utf8(query) + "\" flags=" + Hex(flags) +
          " context=" + (context ? "given" : "null"));
    if (result == nullptr) return kInvalidParameter;
    wbem::EnumPtr walk;
    const HRESULT hr = inner_->ExecQuery(BstrText(language), BstrText(query), flags, walk);
    return HandEnum(hr, std::move(walk), result);
  }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context,
                                      IWbemClassObject** object,
                                      IWbemCallResult** callResult) override {
    Trace("GetObject \"" + Utf8(path) + "\" flags=" + Hex(flags) + " context=" +
          (context ? "given" : "null") + " callResult=" + (callResult ? "given" : "null"));
    if (object == nullptr) return kInvalidParameter;
    *object = nullptr;
    wbem::ObjectPtr found;
    const HRESULT hr = inner_->GetObjectByPath(BstrText(path), flags, found);
    if (SUCCEEDED(hr)) *object = DoubleObject::Wrap(std::move(found));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR className, LONG flags,
                                               IWbemContext* context,
                                               IEnumWbemClassObject** result) override {
    Trace("CreateInstanceEnum \"" + Utf8(className) + "\" flags=" + Hex(flags) +
          " context=" + (context ? "given" : "null"));
    if (result == nullptr) return kInvalidParameter;
    wbem::EnumPtr walk;
    const HRESULT hr = inner_->CreateInstanceEnum(BstrText(className), flags, walk);
    return HandEnum(hr, std::move(walk), result);
  }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags,
                                       IWbemContext* context, IWbemClassObject* inParams,
                                       IWbemClassObject** outParams,
                                       IWbemCallResult** callResult) override {
    Trace("ExecMethod \"" + Utf8(path) + "\" " + Utf8(method) + " flags=" + Hex(flags) +
          " context=" + (context ? "given" : "null") + " in=" + (inParams ? "given" : "null") +
          " callResult=" + (callResult ? "given" : "null"));
    if (outParams != nullptr) *outParams = nullptr;
    wbem::ClassObject* in = nullptr;
    DoubleObject* own = nullptr;
    if (inParams != nullptr) {
      // In-parameters come from the signature this double spawned.
      if (FAILED(inParams->QueryInterface(kIidDoubleObject, reinterpret_cast<void**>(&own))))
        return kInvalidParameter;
      in = &own->inner();
    }
    wbem::ObjectPtr out;
    const HRESULT hr = inner_->ExecMethod(BstrText(path), BstrText(method), flags, in, out);
    if (own != nullptr) own->Release();
    if (SUCCEEDED(hr) && outParams != nullptr) *outParams = DoubleObject::Wrap(std::move(out));
    return hr;
  }

  // The rest is not used by the program.
  UNUSED_METHOD(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**)
  UNUSED_METHOD(CancelAsyncCall, IWbemObjectSink*)
  UNUSED_METHOD(QueryObjectSink, LONG, IWbemObjectSink**)
  UNUSED_METHOD(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
  UNUSED_METHOD(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
  UNUSED_METHOD(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**)
  UNUSED_METHOD(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(PutInstance, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**)
  UNUSED_METHOD(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**)
  UNUSED_METHOD(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*)
  UNUSED_METHOD(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*,
                IEnumWbemClassObject**)
  UNUSED_METHOD(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*,
                IWbemObjectSink*)
  UNUSED_METHOD(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                IWbemObjectSink*)

 private:
  static HRESULT Unused() {
    Trace("IWbemServices: a method the program does not use");
    return kNotSupported;
  }

  wbem::ServicesPtr inner_;
};

// ---------------------------------------------------------------------------------------------
// IWbemLocator: loads the machine once per process, at the first connection.

std::shared_ptr<sim::SimulatedMachine>& Machine() {
  static std::shared_ptr<sim::SimulatedMachine> machine;
  return machine;
}

class DoubleLocator final : public IWbemLocator, private Counted {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemLocator))
      return Hand(static_cast<IWbemLocator*>(this), result);
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Increment(); }
  ULONG STDMETHODCALLTYPE Release() override { return Decrement(); }

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR nameSpace, const BSTR user,
                                          const BSTR password, const BSTR locale, LONG flags,
                                          const BSTR authority, IWbemContext* context,
                                          IWbemServices** services) override {
    Trace("ConnectServer \"" + Utf8(nameSpace) + "\" flags=" + Hex(flags) + " user=" + Utf8(user) +
          " password=" + Utf8(password) + " locale=" + Utf8(locale) +
          " authority=" + Utf8(authority) + " context=" + (context ? "given" : "null"));
    if (services == nullptr) return kInvalidParameter;
    *services = nullptr;
    if (!Machine()) {
      const std::string path = corvane::platform::Os().Environment("CORVANE_COM_DOUBLE_MACHINE");
      // Without a machine this is a computer without the provider's namespace.
      if (path.empty()) return kInvalidNamespace;
      std::string error;
      Machine() = sim::LoadMachine(path, error);
      if (!Machine()) {
        Trace("ConnectServer: " + error);
        corvane::platform::Os().WriteErr("COM double: " + error + "\n");
        return kFailed;
      }
    }
    wbem::ServicesPtr connected;
    const HRESULT hr = sim::CreateSimulatedLocator(Machine())->ConnectServer(BstrText(nameSpace),
                                                                             flags, connected);
    if (SUCCEEDED(hr) && connected) *services = new DoubleServices(std::move(connected));
    return hr;
  }
};

class LocatorFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
      return Hand(static_cast<IClassFactory*>(this), result);
    return E_NOINTERFACE;
  }
  // One static factory for the life of the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
    Trace("CreateInstance WbemLocator");
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* locator = new DoubleLocator();
    const HRESULT hr = locator->QueryInterface(iid, result);
    locator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

LocatorFactory g_factory;

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_WbemLocator)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, result);
}

// The simulated machine lives as long as the process: the double is never unloaded early.
HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return S_FALSE;
}

}  // extern "C"
