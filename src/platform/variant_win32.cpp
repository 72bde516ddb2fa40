// VARIANTs, BSTRs and safe arrays of the provider, in and out of the mirror's Variant. Text stays
// UTF-16 here: the callers convert it through the ANSI code page.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com_win32.h"

namespace corvane::platform::com {
namespace {

// Dimension 1 from its lower to its upper bound inclusive, each element freed before the next.
HRESULT ReadStringArray(SAFEARRAY* array, std::vector<std::u16string>& items) {
  items.clear();
  if (array == nullptr) return E_INVALIDARG;
  // One index per element is only right for a one-dimensional array.
  if (SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = 0;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
  if (FAILED(hr)) return hr;
  hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  if (upper < lower) return S_OK;
  items.reserve(static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower + 1));
  for (LONG index = lower;; ++index) {
    BSTR element = nullptr;
    hr = SafeArrayGetElement(array, &index, &element);
    if (FAILED(hr)) {
      items.clear();
      return hr;
    }
    items.push_back(TextOf(element));
    SysFreeString(element);
    if (index == upper) break;
  }
  return S_OK;
}

// A one-dimensional uint8 array, as WMI passes a uint8[] argument.
HRESULT ReadByteArray(SAFEARRAY* array, std::vector<std::uint8_t>& items) {
  items.clear();
  if (array == nullptr || SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = 0;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr) || upper < lower) return hr;
  void* data = nullptr;
  hr = SafeArrayAccessData(array, &data);
  if (FAILED(hr)) return hr;
  const auto* first = static_cast<const std::uint8_t*>(data);
  items.assign(first, first + (static_cast<std::int64_t>(upper) - lower + 1));
  SafeArrayUnaccessData(array);
  return S_OK;
}

}  // namespace

wbem::HResult FromVariant(const VARIANT& in, wbem::Variant& out) {
  out = wbem::Variant();
  switch (in.vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_NULL:
      out = wbem::Variant::Null();
      return S_OK;
    case VT_BSTR:
      out = wbem::Variant::String(TextOf(in.bstrVal));
      return S_OK;
    case VT_BOOL:
      out = wbem::Variant::Bool(in.boolVal != VARIANT_FALSE);
      return S_OK;
    case VT_I4:
      out = wbem::Variant::Int32(in.lVal);
      return S_OK;
    case VT_INT:
      out = wbem::Variant::Int32(in.intVal);
      return S_OK;
    case VT_UI4:
      out = wbem::Variant::Int32(static_cast<std::int32_t>(in.ulVal));
      return S_OK;
    case VT_UINT:
      out = wbem::Variant::Int32(static_cast<std::int32_t>(in.uintVal));
      return S_OK;
    case VT_I2:
      out = wbem::Variant::Int32(in.iVal);
      return S_OK;
    case VT_UI2:
      out = wbem::Variant::Int32(in.uiVal);
      return S_OK;
    case VT_I1:
      out = wbem::Variant::Int32(in.cVal);
      return S_OK;
    case VT_UI1:
      out = wbem::Variant::Int32(in.bVal);
      return S_OK;
    case VT_ARRAY | VT_BSTR: {
      std::vector<std::u16string> items;
      const HRESULT hr = ReadStringArray(in.parray, items);
      if (FAILED(hr)) return hr;
      out = wbem::Variant::StringArray(std::move(items));
      return S_OK;
    }
    case VT_ARRAY | VT_UI1: {
      std::vector<std::uint8_t> items;
      const HRESULT hr = ReadByteArray(in.parray, items);
      if (FAILED(hr)) return hr;
      out = wbem::Variant::ByteArray(std::move(items));
      return S_OK;
    }
    default:
      return S_OK;
  }
}

wbem::HResult ToVariant(const wbem::Variant& in, VariantValue& out) {
  VARIANT* v = out.Put();
  switch (in.type) {
    case wbem::Variant::Type::Empty:
      return S_OK;
    case wbem::Variant::Type::Null:
      v->vt = VT_NULL;
      return S_OK;
    case wbem::Variant::Type::String: {
      Bstr text(in.string);
      if (!text) return E_OUTOFMEMORY;
      v->vt = VT_BSTR;
      v->bstrVal = text.Detach();  // the VARIANT frees it now
      return S_OK;
    }
    case wbem::Variant::Type::Int32:
      v->vt = VT_I4;
      v->lVal = in.int32;
      return S_OK;
    case wbem::Variant::Type::Bool:
      v->vt = VT_BOOL;
      v->boolVal = in.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case wbem::Variant::Type::StringArray: {
      SafeArray array(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(in.strings.size())));
      if (array.Get() == nullptr) return E_OUTOFMEMORY;
      for (std::size_t i = 0; i < in.strings.size(); ++i) {
        Bstr element(in.strings[i]);
        if (!element) return E_OUTOFMEMORY;
        LONG index = static_cast<LONG>(i);
        // The array keeps a copy of the string.
        const HRESULT hr = SafeArrayPutElement(array.Get(), &index, element.Get());
        if (FAILED(hr)) return hr;
      }
      v->vt = VT_ARRAY | VT_BSTR;
      v->parray = array.Release();
      return S_OK;
    }
    case wbem::Variant::Type::ByteArray: {
      SafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(in.bytes.size())));
      if (array.Get() == nullptr) return E_OUTOFMEMORY;
      void* data = nullptr;
      const HRESULT hr = SafeArrayAccessData(array.Get(), &data);
      if (FAILED(hr)) return hr;
      if (!in.bytes.empty()) std::memcpy(data, in.bytes.data(), in.bytes.size());
      SafeArrayUnaccessData(array.Get());
      v->vt = VT_ARRAY | VT_UI1;
      v->parray = array.Release();
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

}  // namespace corvane::platform::com
