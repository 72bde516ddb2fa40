#include "legacy/legacy_settings.h"

namespace corvane::legacy {

// The legacy backend serves nothing until the management library can be loaded: every half
// answers false, which the job and the driver report in their own words.
bool LoadLegacySettings(LegacyState& /*state*/, BiosAccess* /*access*/, std::string& /*password*/) {
  return false;
}

bool WriteLegacyRepsetText(LegacyState& /*state*/, std::string& /*text*/) {
  return false;
}

bool ReadLegacyConfigFile(LegacyState& /*state*/, const std::string& /*path*/) {
  return false;
}

bool ApplyLegacyChanges(LegacyState& /*state*/, BiosAccess* /*access*/, std::string& /*password*/) {
  return false;
}

}  // namespace corvane::legacy
