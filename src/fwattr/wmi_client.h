// The makers' own WMI interfaces as their sources reach them: through the locators given to
// them (the machine's own, or a simulated machine's), never through the one the process has
// installed, which serves those very sources as the provider.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wbem.h"

namespace corvane::fwattr {

struct Argument {
  std::u16string_view name;
  wbem::Variant value;
};

// One connection to one namespace, made as every connection of the program is made: the
// bounded wait where the system has it, then the per-proxy security.
class WmiConnection {
 public:
  WmiConnection(const wbem::LocatorFactory& locators, std::u16string_view nameSpace);

  [[nodiscard]] bool connected() const { return services_ != nullptr; }
  [[nodiscard]] wbem::HResult result() const { return result_; }

  // Every instance of the class ("select * from ..."); none when the query fails.
  std::vector<wbem::ObjectPtr> Instances(std::u16string_view className);
  // One object by its path (an instance's __RELPATH); none when it cannot be had.
  wbem::ObjectPtr Object(std::u16string_view path);
  // Calls a method on the first instance of its class (on the class when there is none), with
  // the in-parameters put in order. The out-parameters, or a failure code and none.
  wbem::HResult Call(std::u16string_view className, std::u16string_view method,
                     const std::vector<Argument>& in, wbem::ObjectPtr& out);

 private:
  wbem::ComScope com_;  // outlives the connection
  wbem::ServicesPtr services_;
  wbem::HResult result_ = wbem::kFailed;
  std::map<std::u16string, std::u16string> methodPaths_;  // class -> its instance's path
};

// A string property as UTF-8, an integer as its decimal text; nullopt when missing or of
// another type.
std::optional<std::string> ReadText(wbem::ClassObject& object, std::u16string_view name);
// An integer property, or a string holding a decimal number.
std::optional<std::int32_t> ReadNumber(wbem::ClassObject& object, std::u16string_view name);
// A string-array property as UTF-8.
std::optional<std::vector<std::string>> ReadTexts(wbem::ClassObject& object,
                                                  std::u16string_view name);

// A string variant of UTF-8 text.
wbem::Variant Text(std::string_view text);
// A name as lookups compare it: blanks at the ends and ASCII letter case ignored.
std::string Key(std::string_view name);

struct RawAttribute;
// The attribute of that name (compared as Key compares) among those read; false when none.
bool FindByKey(const std::vector<RawAttribute>& attributes, std::string_view name,
               RawAttribute& raw);

// An HRESULT as WMI's documentation writes it: 0x8004100E.
std::string HResultText(wbem::HResult hr);

}  // namespace corvane::fwattr
