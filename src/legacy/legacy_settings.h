// The legacy halves of the configuration job, served by the management library. They work on
// a state of their own, which the job owns, so that this backend never reaches up into it.
#pragma once

#include <string>

namespace corvane {
class BiosAccess;

namespace legacy {

// What one configuration action holds on the legacy backend.
struct LegacyState {
  bool initialized = false;
};

bool LoadLegacySettings(LegacyState& state, BiosAccess* access, std::string& password);
bool WriteLegacyRepsetText(LegacyState& state, std::string& text);
bool ReadLegacyConfigFile(LegacyState& state, const std::string& path);
bool ApplyLegacyChanges(LegacyState& state, BiosAccess* access, std::string& password);

}  // namespace legacy
}  // namespace corvane
