// One configuration action of the command line: a /GetConfig or a /SetConfig, on the
// provider when it answers and on the legacy backend otherwise.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/setting_model.h"
#include "legacy/legacy_settings.h"
#include "platform/wbem.h"

namespace corvane {
class BiosAccess;

namespace config {

class ConfigurationJob {
 public:
  ConfigurationJob(BiosAccess* access, const std::string& currentPassword,
                   const std::string& libraryPath);
  ~ConfigurationJob();
  ConfigurationJob(const ConfigurationJob&) = delete;
  ConfigurationJob& operator=(const ConfigurationJob&) = delete;

  bool Initialize();
  bool GetConfigText(std::string& text);
  bool GetConfigToFile(const std::string& path);
  bool ReadConfigFile(const std::string& path);
  bool ApplyConfig();

  // Provider halves.
  bool EnumerateSettings();
  bool WriteRepsetText(std::string& text);
  bool ReadRepsetFile(const std::string& path);
  bool WriteToSystem_WMI();
  void RecordChange(wbem::ClassObject& setting, const std::string& newValue);

  // Legacy halves: the REPSET text of the legacy records and the RMSET reader that fills them.
  bool WriteLegacyRepsetText(std::string& text);
  bool ReadLegacyConfigFile(const std::string& path);

  std::string password;
  std::string message;
  bool wmiAvailable = false;
  bool advanced = false;
  bool initialized = false;
  std::vector<std::string> pendingNames;
  std::vector<std::string> pendingOldValues;
  std::vector<std::string> pendingNewValues;
  SettingList settingList;
  // Records, string table, lock state and system-object table of the legacy backend.
  legacy::LegacyState legacyState;

  BiosAccess* access() const { return access_; }

 private:
  wbem::ComScope com_;
  BiosAccess* access_ = nullptr;
  std::unique_ptr<BiosAccess> ownedAccess_;
};

}  // namespace config
}  // namespace corvane
