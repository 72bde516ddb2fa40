#include "legacy/legacy_settings.h"

#include "config/configuration_job.h"

namespace corvane::legacy {

// The legacy backend serves nothing until the management library can be loaded: every half
// answers false, which the job and the driver report in their own words.
bool LoadLegacySettings(config::ConfigurationJob& /*job*/) {
  return false;
}

bool WriteLegacyRepsetText(config::ConfigurationJob& /*job*/, std::string& /*text*/) {
  return false;
}

bool ReadLegacyConfigFile(config::ConfigurationJob& job, const std::string& /*path*/) {
  if (!job.initialized) job.Initialize();
  return false;
}

bool ApplyLegacyChanges(config::ConfigurationJob& /*job*/) {
  return false;
}

}  // namespace corvane::legacy
