// The WMI objects every namespace of the simulated machine hands out, and what their services
// share: property lookups over the file's objects, class objects with method signatures, their
// in- and out-parameters, walks over fixed lists, and the query text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wbem.h"
#include "sim/machine/machine_model.h"

namespace corvane::sim {

// Keys that start with a lower-case letter are controls of the simulation, never properties.
bool IsControlKey(std::string_view key);
// ASCII letters compared without regard to case, without allocating.
bool SameName(std::string_view a, std::string_view b);
// A property of a file's object, by name in any case; controls are never found.
Json::const_iterator FindProperty(const Json& data, std::string_view name);
void SetProperty(Json& data, std::string_view name, Json value);
// A string value, or the empty text.
std::string TextOf(const Json& value);

// Values given with Put stay with the object, as they do on an object fetched from WMI.
class LocalValues {
 public:
  [[nodiscard]] const wbem::Variant* Find(std::string_view name) const;
  void Set(std::string_view name, const wbem::Variant& value);

 private:
  std::vector<std::pair<std::string, wbem::Variant>> values_;
};

// A method of a class and the names of its in-parameters.
struct MethodSignature {
  std::string name;
  std::vector<std::string> inputs;
};

// A class object, an instance, a method signature or in- and out-parameters.
class PlainObject : public wbem::ClassObject {
 public:
  enum class Role { Class, Instance, Signature, Parameters };

  // chain: the upper-cased class names, its own first. methods: what a class object's
  // GetMethod answers.
  PlainObject(Role role, std::string className, std::vector<std::string> chain,
              std::vector<MethodSignature> methods = {});

  void Add(std::string_view name, const wbem::Variant& value) { properties_.Set(name, value); }
  // Parameters with these names, all null.
  static std::unique_ptr<PlainObject> MakeParameters(Role role,
                                                     const std::vector<std::string>& names);

  wbem::HResult Get(std::u16string_view name, wbem::Variant& value) override;
  wbem::HResult Put(std::u16string_view name, const wbem::Variant& value) override;
  wbem::HResult InheritsFrom(std::u16string_view className) override;
  wbem::HResult GetMethod(std::u16string_view name, wbem::ObjectPtr& signature) override;
  wbem::HResult SpawnInstance(wbem::ObjectPtr& instance) override;

 private:
  Role role_;
  std::string className_;
  std::vector<std::string> chain_;
  std::vector<MethodSignature> methods_;
  std::vector<std::string> parameterNames_;  // a signature's, for the parameters it spawns
  LocalValues properties_;
};

// Objects made when a query ran, handed out in order.
class ListEnum : public wbem::EnumClassObject {
 public:
  explicit ListEnum(std::vector<wbem::ObjectPtr> objects) : objects_(std::move(objects)) {}
  wbem::HResult Next(std::int32_t timeout, wbem::ObjectPtr& object) override;

 private:
  std::vector<wbem::ObjectPtr> objects_;
  std::size_t next_ = 0;
};

// A string argument; a missing or null one is the empty text. False for another type.
bool ReadArgument(wbem::ClassObject& in, const char16_t* name, std::u16string& text);

// The class of "select * from <Class>" (keywords in any case), upper-cased; false for any
// other query or a language other than WQL.
bool ParseSelectAll(std::u16string_view language, std::u16string_view query, std::string& classKey);

// Whether a namespace path names path (upper-case, backslashes) on this machine: bare, or after
// "\\.\" or "\\localhost\", by either slash.
bool IsNamespace(std::u16string_view nameSpace, std::string_view path);

// The key of a WMI object path: backslashes and double quotes escaped.
std::string InstancePath(std::string_view className, std::string_view instanceName);

}  // namespace corvane::sim
