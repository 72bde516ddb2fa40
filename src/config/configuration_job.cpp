#include "config/configuration_job.h"

#include "legacy/bios_access.h"
#include "legacy/legacy_settings.h"
#include "log/result_log.h"
#include "platform/host.h"
#include "platform/provider_contract.h"
#include "platform/text.h"
#include "platform/wmi_kit.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {

ConfigurationJob::ConfigurationJob(log::ResultLog& log, BiosAccess* access,
                                   const std::string& currentPassword,
                                   const std::string& libraryPath)
    : log_(log), access_(access) {
  settingList.Reserve(256);
  if (access_ == nullptr) {
    ownedAccess_ = std::make_unique<BiosAccess>();
    access_ = ownedAccess_.get();
  }
  wmiAvailable = wmi::HasSettingInterface(access_->jobProbe());
  if (ownedAccess_ && !wmiAvailable) ownedAccess_->LoadManagementLibrary(libraryPath.c_str(), 0, 1);
  legacyState.access = access_;
  password = currentPassword;
}

ConfigurationJob::~ConfigurationJob() {
  // Records, provider objects, the system-object table, then the access object, all before
  // COM is released by com_.
  legacyState.legacySettings.clear();
  settingList.Clear();
  legacyState.Release();
  access_ = nullptr;
  ownedAccess_.reset();
}

bool ConfigurationJob::Initialize() {
  if (EnumerateSettings()) {
    initialized = true;
    return true;
  }
  // The legacy half borrows the job's access object.
  initialized = legacy::LoadLegacySettings(legacyState, password) != 0;
  return initialized;
}

bool ConfigurationJob::GetConfigText(std::string& text) {
  if (!initialized) Initialize();
  if (WriteRepsetText(text)) return true;
  if (!initialized || legacyState.stringTableSetting() == nullptr) return false;
  return WriteLegacyRepsetText(text);
}

bool ConfigurationJob::GetConfigToFile(const std::string& path) {
  std::string text;
  // A failed build leaves an existing file alone: a good earlier file is worth more than an
  // empty one.
  if (!GetConfigText(text)) return false;
  if (!platform::Os().WriteWholeFile(path, text, /*textMode=*/true)) {
    log_.FileNotWritten(path);
    return false;
  }
  return true;
}

bool ConfigurationJob::ReadConfigFile(const std::string& path) {
  if (wmiAvailable) return ReadRepsetFile(path);
  legacy::ClearTopBits(password);
  return ReadLegacyConfigFile(path);
}

bool ConfigurationJob::ApplyConfig() {
  if (compareOnly) return CompareConfig();
  if (wmiAvailable) return WriteToSystem_WMI();
  return legacy::ApplyLegacyChanges(legacyState, password, log_) != 0;
}

bool ConfigurationJob::CompareConfig() {
  if (!wmiAvailable) return legacy::CompareLegacyChanges(legacyState, password, differences, log_);
  // The old values are those the reader found: the machine as it is, since nothing is written.
  for (std::size_t i = 0; i < pendingNames.size(); ++i) {
    log_.Setting(log::Status::kDiffers, pendingNames[i], pendingOldValues[i], pendingNewValues[i]);
    ++differences;
  }
  return true;
}

void ConfigurationJob::ReportInvalid(std::string_view name, std::string_view current,
                                     std::string_view value) {
  if (!compareOnly) return;
  log_.Setting(log::Status::kInvalid, name, current, value);
  ++passedOver;
}

void ConfigurationJob::ReportUnknown(std::string_view nameLine) {
  if (!compareOnly) return;
  log_.UnknownSetting(nameLine);
  ++passedOver;
}

bool ConfigurationJob::EnumerateSettings() {
  if (!wmiAvailable) return false;
  wbem::ComScope com;
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(wmi::ConnectBiosNamespace(nullptr, services)) || !services) return false;
  wbem::EnumPtr walk;
  if (!wbem::SelectAll(*services, contract::kBaseClass.Wide(), walk)) return false;
  // A second enumeration starts over rather than adding the settings twice.
  settingList.Clear();
  bool retained = false;
  wbem::ObjectPtr object;
  while (wbem::NextObject(*walk, object)) {
    const std::string name = wmi::ReadStringProperty(*object, u"Name");
    const bool shown = ReadBoolProperty(*object, u"DisplayInUI");
    const bool readOnly = IsReadOnlySetting(*object);
    if (name.empty() || (!advanced && !shown && readOnly)) {
      object.reset();
      continue;
    }
    settingList.Append(std::move(object));
    retained = true;
  }
  settingList.SortBySequence();
  return retained;
}

}  // namespace corvane::config
