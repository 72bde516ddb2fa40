// What WMI's callers and in-process providers share, on every platform. For callers: the
// connection every connection of the program is, "select * from" queries and their walks. For
// providers served in the process (the makers' sources as the provider, the simulated machine):
// objects with their roles, walks over objects made when a query ran, the query text, namespace
// paths and instance paths, as WMI treats them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wbem.h"

namespace corvane::wbem {

// ---------------------------------------------------------------------------------------------
// Callers.

// Connects to nameSpace through a locator of locators: the bounded wait where the system has
// it, then the per-proxy security, whose result is the answer. The services handle, once made,
// is the caller's even when the security could not be set.
HResult Connect(const LocatorFactory& locators, std::u16string_view nameSpace,
                ServicesPtr& services);

// "select * from <className>", forward-only; false when it fails.
bool SelectAll(Services& services, std::u16string_view className, EnumPtr& result);
// The next object of a walk (infinite time-out); false when the walk has ended or failed.
bool NextObject(EnumClassObject& walk, ObjectPtr& object);

// ---------------------------------------------------------------------------------------------
// In-process providers.

// ASCII letters compared without regard to case, as WMI compares names, without allocating.
bool SameName(std::string_view a, std::string_view b);

// Properties by name in any case; a value given again replaces the one held.
class PropertyList {
 public:
  [[nodiscard]] const Variant* Find(std::string_view name) const;
  void Set(std::string_view name, const Variant& value);

 private:
  std::vector<std::pair<std::string, Variant>> values_;
};

// A method of a class and the names of its in-parameters.
struct MethodSignature {
  std::string name;
  std::vector<std::string> inputs;
};

// A class object, an instance, a method signature or in- and out-parameters. Values given with
// Put stay with the object, as they do on an object fetched from WMI; a method's parameters are
// fixed by its signature.
class PlainObject : public ClassObject {
 public:
  enum class Role { Class, Instance, Signature, Parameters };

  // chain: the upper-cased class names, its own first. methods: what a class object's
  // GetMethod answers.
  PlainObject(Role role, std::string className, std::vector<std::string> chain,
              std::vector<MethodSignature> methods = {});

  void Add(std::string_view name, const Variant& value) { properties_.Set(name, value); }
  // Parameters with these names, all null.
  static std::unique_ptr<PlainObject> MakeParameters(Role role,
                                                     const std::vector<std::string>& names);

  // An object made with only some of its properties completes itself the first time it is asked
  // for one it does not have, or for its class.
  using Completion = std::function<void(PlainObject&)>;
  void CompleteLater(Completion completion) { completion_ = std::move(completion); }
  // Its class, once known.
  void SetClass(std::string className, std::vector<std::string> chain);

  HResult Get(std::u16string_view name, Variant& value) override;
  HResult Put(std::u16string_view name, const Variant& value) override;
  HResult InheritsFrom(std::u16string_view className) override;
  HResult GetMethod(std::u16string_view name, ObjectPtr& signature) override;
  HResult SpawnInstance(ObjectPtr& instance) override;

 private:
  void CompleteNow();

  Role role_;
  std::string className_;
  std::vector<std::string> chain_;
  std::vector<MethodSignature> methods_;
  std::vector<std::string> parameterNames_;  // a signature's, for the parameters it spawns
  PropertyList properties_;
  Completion completion_;
};

// Objects made when a query ran, handed out in order, as WMI hands out snapshots.
class ListEnum : public EnumClassObject {
 public:
  explicit ListEnum(std::vector<ObjectPtr> objects) : objects_(std::move(objects)) {}
  HResult Next(std::int32_t timeout, ObjectPtr& object) override;

 private:
  std::vector<ObjectPtr> objects_;
  std::size_t next_ = 0;
};

// The services of a provider in the process: no proxy to secure, and queries of the one form
// "select * from <Class>" that walk the class's instances as an instance enumeration does.
class InProcessServices : public Services {
 public:
  HResult SetProxyBlanket() override { return kOk; }
  HResult ExecQuery(std::u16string_view language, std::u16string_view query, std::int32_t flags,
                    EnumPtr& result) override;
  HResult CreateInstanceEnum(std::u16string_view className, std::int32_t flags,
                             EnumPtr& result) override;

 protected:
  // The instances of the class (upper-cased), or kInvalidClass for a class it does not have.
  virtual HResult Walk(const std::string& classKey, EnumPtr& result) = 0;
  // A query's walk: the instances' own, unless queries can fail on their own.
  virtual HResult Query(const std::string& classKey, EnumPtr& result) {
    return Walk(classKey, result);
  }
};

// A string argument; a missing or null one is the empty text. False for another type.
bool ReadArgument(ClassObject& in, std::u16string_view name, std::u16string& text);

// The class of "select * from <Class>" (keywords in any case), upper-cased; false for any
// other query or a language other than WQL.
bool ParseSelectAll(std::u16string_view language, std::u16string_view query, std::string& classKey);

// Whether two namespace paths name the same namespace of this machine, each bare or after
// "\\.\" or "\\localhost\", by either slash, in any case.
bool IsNamespace(std::u16string_view nameSpace, std::string_view path);

// The key of a WMI object path: backslashes and double quotes escaped.
std::string InstancePath(std::string_view className, std::string_view instanceName);

}  // namespace corvane::wbem
