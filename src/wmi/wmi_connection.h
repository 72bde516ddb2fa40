// The thin layer every provider access goes through: connect, query, read a property, and
// whether the provider is there at all. It reports nothing: every failure folds into a
// default answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wbem.h"

namespace corvane::wmi {

// Connects to nameSpace (the provider's namespace when nullptr) as wbem::Connect does, through
// the process's locator. Queries and their walks are wbem::SelectAll and wbem::NextObject.
wbem::HResult ConnectBiosNamespace(const char* nameSpace, wbem::ServicesPtr& services);

// Each cached form of HasSettingInterface keeps its own pair of flags; the run's BiosAccess
// holds them, so that every run asks afresh.
struct SettingInterfaceProbe {
  bool asked = false;
  bool answer = false;
};

// True when at least one instance of the interface class exists. The uncached form asks
// every time; the cached form asks once per probe and remembers a failure as absence.
bool HasSettingInterface();
bool HasSettingInterface(SettingInterfaceProbe& probe);

// Property reads with their defaults: trimmed narrow text or "", a 32-bit integer or -1.
std::string ReadStringProperty(wbem::ClassObject& object, const char16_t* name);
std::int32_t ReadIntProperty(wbem::ClassObject& object, const char16_t* name);
// The property as narrow text without trimming; false when missing or null.
bool ReadRawStringProperty(wbem::ClassObject& object, const char16_t* name, std::string& text);
// An array-of-strings property as UTF-16 elements, lower to upper bound; false when the read
// fails or the value is null.
bool ReadArrayProperty(wbem::ClassObject& object, const char16_t* name,
                       std::vector<std::u16string>& elements);
// The class test: WBEM_S_NO_ERROR from InheritsFrom.
bool IsOfClass(wbem::ClassObject& object, std::u16string_view className);

// The first instance of the password class named "Setup Password" (case and surrounding blanks
// ignored), or nullptr.
wbem::ObjectPtr FindSetupPassword();

}  // namespace corvane::wmi
