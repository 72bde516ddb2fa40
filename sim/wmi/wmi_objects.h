// What the services of every namespace of the simulated machine share beyond the WMI kit
// (platform/wmi_kit.h): property lookups over the file's objects.
#pragma once

#include <string>
#include <string_view>

#include "platform/wmi_kit.h"
#include "sim/machine/machine_model.h"

namespace corvane::sim {

// Keys that start with a lower-case letter are controls of the simulation, never properties.
bool IsControlKey(std::string_view key);
// A property of a file's object, by name in any case; controls are never found.
Json::const_iterator FindProperty(const Json& data, std::string_view name);
void SetProperty(Json& data, std::string_view name, Json value);
// A string value, or the empty text.
std::string TextOf(const Json& value);

}  // namespace corvane::sim
