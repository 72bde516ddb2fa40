// The makers' own BIOS-settings WMI interfaces as attribute sources: Dell's
// (root\dcim\sysman\biosattributes and root\dcim\sysman\wmisecurity) and Lenovo's (root\WMI).
// Both reach the firmware through the locators given to them.
#pragma once

#include <memory>

#include "fwattr/attribute_source.h"
#include "platform/wbem.h"

namespace corvane::fwattr {

// Whether the interface answers there: its namespace connects and its setter class has an instance.
bool HasDellInterface(const wbem::LocatorFactory& locators);

std::unique_ptr<AttributeSource> CreateDellSource(wbem::LocatorFactory locators);
// Lenovo's source where its interface answers (its settings class has instances), else none.
std::unique_ptr<AttributeSource> FindLenovoSource(wbem::LocatorFactory locators);

}  // namespace corvane::fwattr
