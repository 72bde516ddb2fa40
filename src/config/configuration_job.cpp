#include "config/configuration_job.h"

#include "legacy/bios_access.h"
#include "legacy/legacy_settings.h"
#include "log/result_log.h"
#include "platform/host.h"
#include "platform/text.h"
#include "wmi/wmi_connection.h"

namespace corvane::config {
namespace {

// The legacy backend takes seven-bit password bytes.
void ClearTopBits(std::string& text) {
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
}

}  // namespace

ConfigurationJob::ConfigurationJob(BiosAccess* access, const std::string& currentPassword,
                                   const std::string& libraryPath)
    : access_(access) {
  settingList.Reserve(256);
  if (access_ == nullptr) {
    ownedAccess_ = std::make_unique<BiosAccess>();
    access_ = ownedAccess_.get();
  }
  wmiAvailable = wmi::HasSettingInterface(wmi::g_jobProbe);
  if (ownedAccess_ && !wmiAvailable) ownedAccess_->LoadManagementLibrary(libraryPath.c_str(), 0, 1);
  password = currentPassword;
}

ConfigurationJob::~ConfigurationJob() {
  // Provider objects go before the access object, and both before COM is released by com_.
  settingList.Clear();
  access_ = nullptr;
  ownedAccess_.reset();
}

bool ConfigurationJob::Initialize() {
  if (EnumerateSettings()) {
    initialized = true;
    return true;
  }
  // The legacy half borrows the job's access object.
  initialized = legacy::LoadLegacySettings(legacyState, access_, password);
  return initialized;
}

bool ConfigurationJob::GetConfigText(std::string& text) {
  if (!initialized) Initialize();
  if (WriteRepsetText(text)) return true;
  if (!initialized) return false;
  // The legacy writer itself declines without a string table.
  return legacy::WriteLegacyRepsetText(legacyState, text);
}

bool ConfigurationJob::GetConfigToFile(const std::string& path) {
  std::string text;
  // A failed build leaves an existing file alone: a good earlier file is worth more than an
  // empty one.
  if (!GetConfigText(text)) return false;
  if (!platform::Os().WriteWholeFile(path, text, /*textMode=*/true)) {
    message = log::Format(
        "<ERROR type=\"failure\">REPSET file, '%s' could not be written.</ERROR>\n", path.c_str());
    log::Write(message);
    return false;
  }
  return true;
}

bool ConfigurationJob::ReadConfigFile(const std::string& path) {
  if (wmiAvailable) return ReadRepsetFile(path);
  ClearTopBits(password);
  if (!initialized) Initialize();
  if (!initialized) return false;
  return legacy::ReadLegacyConfigFile(legacyState, path);
}

bool ConfigurationJob::ApplyConfig() {
  if (wmiAvailable) return WriteToSystem_WMI();
  return legacy::ApplyLegacyChanges(legacyState, access_, password);
}

bool ConfigurationJob::EnumerateSettings() {
  if (!wmiAvailable) return false;
  wbem::ComScope com;
  wbem::ServicesPtr services;
  if (!wbem::Succeeded(wmi::ConnectBiosNamespace(nullptr, services)) || !services) return false;
  wbem::EnumPtr walk;
  if (!wmi::ExecQuery(*services, "select * from Lumo_BIOSSetting", walk)) return false;
  // A second enumeration starts over rather than adding the settings twice.
  settingList.Clear();
  bool retained = false;
  wbem::ObjectPtr object;
  while (wmi::NextObject(*walk, object)) {
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
