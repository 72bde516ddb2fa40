// The legacy halves of the configuration job, served by the management library.
#pragma once

#include <string>

namespace corvane::config {
class ConfigurationJob;
}

namespace corvane::legacy {

bool LoadLegacySettings(config::ConfigurationJob& job);
bool WriteLegacyRepsetText(config::ConfigurationJob& job, std::string& text);
bool ReadLegacyConfigFile(config::ConfigurationJob& job, const std::string& path);
bool ApplyLegacyChanges(config::ConfigurationJob& job);

}  // namespace corvane::legacy
