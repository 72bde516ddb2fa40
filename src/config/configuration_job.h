// One configuration action of the command line: a /GetConfig or a /SetConfig, on the
// provider when it answers and on the legacy backend otherwise.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/setting_model.h"
#include "legacy/legacy_settings.h"
#include "log/result_log.h"
#include "platform/wbem.h"

namespace corvane {
class BiosAccess;

namespace config {

class ConfigurationJob {
 public:
  // log: the run's, which every record of the job goes to.
  ConfigurationJob(log::ResultLog& log, BiosAccess* access, const std::string& currentPassword,
                   const std::string& libraryPath);
  ~ConfigurationJob();
  ConfigurationJob(const ConfigurationJob&) = delete;
  ConfigurationJob& operator=(const ConfigurationJob&) = delete;

  bool Initialize();
  bool GetConfigText(std::string& text);
  bool GetConfigToFile(const std::string& path);
  bool ReadConfigFile(const std::string& path);
  bool ApplyConfig();
  // The check: reports each change ReadConfigFile recorded instead of making it. False when a
  // setting to compare could not be read.
  bool CompareConfig();

  // Provider halves.
  bool EnumerateSettings();
  bool WriteRepsetText(std::string& text);
  bool ReadRepsetFile(const std::string& path);
  bool WriteToSystem_WMI();
  void RecordChange(wbem::ClassObject& setting, const std::string& newValue);
  // A check's records for what the readers pass over; nothing outside a check.
  void ReportInvalid(std::string_view name, std::string_view current, std::string_view value);
  void ReportUnknown(std::string_view nameLine);

  // Legacy halves: the REPSET text of the legacy records and the RMSET reader that fills them.
  bool WriteLegacyRepsetText(std::string& text);
  bool ReadLegacyConfigFile(const std::string& path);

  std::string password;
  // The reader refused the file it opened, with its record.
  bool fileRefused = false;
  bool wmiAvailable = false;
  bool advanced = false;
  // A /CheckConfig: the readers report what they pass over, and nothing is ever written.
  bool compareOnly = false;
  // The records the check wrote: differences; invalid values and unknown names.
  std::size_t differences = 0;
  std::size_t passedOver = 0;
  bool initialized = false;
  std::vector<std::string> pendingNames;
  std::vector<std::string> pendingOldValues;
  std::vector<std::string> pendingNewValues;
  SettingList settingList;
  // Records, string table, lock state and system-object table of the legacy backend.
  legacy::LegacyState legacyState;

  BiosAccess* access() const { return access_; }

 private:
  log::ResultLog& log_;
  wbem::ComScope com_;
  BiosAccess* access_ = nullptr;
  std::unique_ptr<BiosAccess> ownedAccess_;
};

}  // namespace config
}  // namespace corvane
