// A thin, portable mirror of the WMI operations the program uses, so that the provider code
// reads step by step like its COM original. Behind it: COM/WMI on Windows, the simulated
// machine, and fakes in tests. Every operation answers an HRESULT-like code and never throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wbem {

using HResult = std::int32_t;

inline constexpr HResult kOk = 0;                                       // S_OK, WBEM_S_NO_ERROR
inline constexpr HResult kFalse = 1;                                    // S_FALSE, WBEM_S_FALSE
inline constexpr HResult kFailed = static_cast<HResult>(0x80041001);    // WBEM_E_FAILED
inline constexpr HResult kNotFound = static_cast<HResult>(0x80041002);  // WBEM_E_NOT_FOUND
inline constexpr HResult kInvalidParameter = static_cast<HResult>(0x80041008);
inline constexpr HResult kInvalidNamespace = static_cast<HResult>(0x8004100E);
inline constexpr HResult kInvalidClass = static_cast<HResult>(0x80041010);
inline constexpr HResult kInvalidQuery = static_cast<HResult>(0x80041017);
inline constexpr HResult kInvalidMethod = static_cast<HResult>(0x80041055);
inline constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);  // REGDB_E_...
inline constexpr HResult kAccessDenied = static_cast<HResult>(0x80041003);

inline constexpr std::int32_t kFlagForwardOnly = 0x20;        // WBEM_FLAG_FORWARD_ONLY
inline constexpr std::int32_t kFlagConnectUseMaxWait = 0x80;  // WBEM_FLAG_CONNECT_USE_MAX_WAIT
inline constexpr std::int32_t kInfinite = -1;                 // WBEM_INFINITE

inline bool Succeeded(HResult hr) {
  return hr >= 0;
}

// A VARIANT reduced to the types the providers' properties and method arguments use.
struct Variant {
  enum class Type { Empty, Null, String, Int32, Bool, StringArray, ByteArray };
  Type type = Type::Empty;
  std::u16string string;
  std::int32_t int32 = 0;  // also the unsigned integers, as WMI hands them over
  bool boolean = false;
  std::vector<std::u16string> strings;  // a one-dimensional safe array with lower bound 0
  std::vector<std::uint8_t> bytes;      // a uint8 array, the same shape

  static Variant Null() { return Variant{Type::Null, {}, 0, false, {}, {}}; }
  static Variant String(std::u16string text) {
    return Variant{Type::String, std::move(text), 0, false, {}, {}};
  }
  static Variant Int32(std::int32_t value) {
    return Variant{Type::Int32, {}, value, false, {}, {}};
  }
  static Variant Bool(bool value) { return Variant{Type::Bool, {}, 0, value, {}, {}}; }
  static Variant StringArray(std::vector<std::u16string> items) {
    return Variant{Type::StringArray, {}, 0, false, std::move(items), {}};
  }
  static Variant ByteArray(std::vector<std::uint8_t> items) {
    return Variant{Type::ByteArray, {}, 0, false, {}, std::move(items)};
  }
};

// IWbemClassObject: a class, an instance, a method signature or an out-parameter object.
// Destroying the pointer releases the reference.
class ClassObject {
 public:
  virtual ~ClassObject() = default;
  // S_OK with the value; a failure code (WBEM_E_NOT_FOUND) for a property that does not exist.
  virtual HResult Get(std::u16string_view name, Variant& value) = 0;
  virtual HResult Put(std::u16string_view name, const Variant& value) = 0;
  // WBEM_S_NO_ERROR when the object is of the class (its own class or an ancestor).
  virtual HResult InheritsFrom(std::u16string_view className) = 0;
  // The input-argument signature of a method of a class object.
  virtual HResult GetMethod(std::u16string_view name,
                            std::unique_ptr<ClassObject>& inSignature) = 0;
  // A fresh instance of a class or signature object.
  virtual HResult SpawnInstance(std::unique_ptr<ClassObject>& instance) = 0;
};
using ObjectPtr = std::unique_ptr<ClassObject>;

// IEnumWbemClassObject, walked forward-only one object per call.
class EnumClassObject {
 public:
  virtual ~EnumClassObject() = default;
  // S_OK with an object; WBEM_S_FALSE (no object) at the end; a failure code otherwise.
  virtual HResult Next(std::int32_t timeout, ObjectPtr& object) = 0;
};
using EnumPtr = std::unique_ptr<EnumClassObject>;

// IWbemServices: one connection to a namespace (GetObjectByPath is its GetObject, renamed
// because Windows headers define GetObject as a macro).
class Services {
 public:
  virtual ~Services() = default;
  // CoSetProxyBlanket with the per-proxy security the program uses.
  virtual HResult SetProxyBlanket() = 0;
  virtual HResult ExecQuery(std::u16string_view language, std::u16string_view query,
                            std::int32_t flags, EnumPtr& result) = 0;
  virtual HResult GetObjectByPath(std::u16string_view path, std::int32_t flags,
                                  ObjectPtr& object) = 0;
  virtual HResult CreateInstanceEnum(std::u16string_view className, std::int32_t flags,
                                     EnumPtr& result) = 0;
  virtual HResult ExecMethod(std::u16string_view path, std::u16string_view method,
                             std::int32_t flags, ClassObject* inParams, ObjectPtr& outParams) = 0;
};
using ServicesPtr = std::unique_ptr<Services>;

// IWbemLocator.
class Locator {
 public:
  virtual ~Locator() = default;
  virtual HResult ConnectServer(std::u16string_view nameSpace, std::int32_t flags,
                                ServicesPtr& services) = 0;
};

// CoCreateInstance of the WMI locator. Answers through the factory installed for the process
// (the simulated machine, or a test's fake), else through the platform's own provider access,
// which fails where the platform has none.
HResult CreateLocator(std::unique_ptr<Locator>& locator);

using LocatorFactory = std::function<HResult(std::unique_ptr<Locator>&)>;
// Installs the factory for the whole process; an empty function restores the platform's own.
void InstallLocatorFactory(LocatorFactory factory);
// What CreateLocator answers through now: the installed factory, else the platform's own. A
// provider installed over it later still reaches, through this, what answered before.
LocatorFactory CurrentLocatorFactory();

// The platform's own provider access (wbem_win32.cpp, wbem_posix.cpp).
HResult CreatePlatformLocator(std::unique_ptr<Locator>& locator);

// CoInitialize(NULL) ... CoUninitialize(), nested as COM allows. Only the Windows adapter
// does anything; elsewhere it is empty.
class ComScope {
 public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  [[maybe_unused]] bool initialized_ = false;
};

}  // namespace corvane::wbem
