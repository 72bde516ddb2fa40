// Owning wrappers for the COM resources of the Windows provider adapter: interface pointers,
// BSTRs, VARIANTs and the apartment. Every way out of an operation releases what it acquired.
// Only *_win32.cpp files include this header.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/wbem.h"

namespace corvane::platform::com {

// A counted interface pointer: one reference owned, released on destruction.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already owns.
  explicit ComPtr(T* owned) : p_(owned) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The slot for an out-parameter; whatever was held is released first.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  T* p_ = nullptr;
};

// An owned BSTR. A text that could not be allocated leaves it null; callers then answer
// E_OUTOFMEMORY rather than hand WMI a null string that stands for something else.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text)
      : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }

  BSTR Get() const { return b_; }
  explicit operator bool() const { return b_ != nullptr; }
  BSTR* Put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  BSTR Detach() { return std::exchange(b_, nullptr); }

 private:
  BSTR b_ = nullptr;
};

// An owned VARIANT, cleared on destruction and before it is filled again.
class VariantValue {
 public:
  VariantValue() { VariantInit(&v_); }
  VariantValue(const VariantValue&) = delete;
  VariantValue& operator=(const VariantValue&) = delete;
  ~VariantValue() { VariantClear(&v_); }

  const VARIANT& Get() const { return v_; }
  // For calls that take a VARIANT* they only read.
  VARIANT* Address() { return &v_; }
  VARIANT* Put() {
    VariantClear(&v_);
    VariantInit(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

// An owned SAFEARRAY, destroyed unless handed on.
class SafeArray {
 public:
  explicit SafeArray(SAFEARRAY* owned) : a_(owned) {}
  SafeArray(const SafeArray&) = delete;
  SafeArray& operator=(const SafeArray&) = delete;
  ~SafeArray() {
    if (a_ != nullptr) SafeArrayDestroy(a_);
  }
  SAFEARRAY* Get() const { return a_; }
  SAFEARRAY* Release() { return std::exchange(a_, nullptr); }

 private:
  SAFEARRAY* a_;
};

// UTF-16 text as the zero-terminated wide string of the Windows API (wchar_t is 16 bits there).
inline std::wstring WideZ(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

// The text of a BSTR, embedded zeros included; a null BSTR is empty text.
inline std::u16string TextOf(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

// A VARIANT as the mirror's Variant: strings, the integer types (widened to 32 bits), booleans,
// null, empty, and one-dimensional string and byte arrays. Other types carry nothing the program
// reads and come back empty. Fails only when an array cannot be read.
wbem::HResult FromVariant(const VARIANT& in, wbem::Variant& out);
// The mirror's Variant as a VARIANT for Put; E_OUTOFMEMORY when a string cannot be allocated.
wbem::HResult ToVariant(const wbem::Variant& in, VariantValue& out);

}  // namespace corvane::platform::com
