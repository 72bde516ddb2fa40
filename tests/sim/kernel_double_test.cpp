// The simulated kernel drivers, file by file as root sees them: each case is a machine, the reads
// and writes made on its driver's folder with what each answers, and what the machine file holds
// afterwards (the driver's memory until a restart, the firmware underneath).
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fake_host.h"
#include "platform/kernel_tree.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"
#include "sim_cases.h"

namespace corvane {
namespace {

// 'r': read, shown the text (nullptr: the read fails); 'w': write, answering the error number;
// 'm': the file's permission bits.
struct Step {
  char op;
  const char* path;
  const char* text;
  int result = 0;
};

struct Case {
  const char* what;
  const char* kernel;  // the kernel section
  const char* maker;   // the firmware's section, "key": {...}
  std::vector<Step> steps;
  const char* after;  // JSON pointer -> value in the machine file afterwards (null: absent)
};

constexpr const char* kThinkPad = R"("lenovo": {"opcodeInterface": true,
  "Lenovo_BiosSetting": [{"CurrentSetting": "WakeOnLAN,Disable", "selections": "Disable,Enable"},
                         {"CurrentSetting": "AssetTag,A1"}],
  "Lenovo_BiosPasswordSettings": [{"PasswordState": 2, "MinLength": 2, "MaxLength": 8,
                                   "password": "pw12"}]})";

constexpr const char* kWorkstation = R"("lenovo": {
  "Lenovo_BiosSetting": [{"CurrentSetting": "AMDMemoryGuard,Disable;[Optional:Disable,Enable]"},
                         {"CurrentSetting": "AlarmTime(HH/MM/SS),00:00:00"}],
  "Lenovo_BiosPasswordSettings": [{"PasswordState": 2, "MinLength": 1, "MaxLength": 64,
                                   "password": "pw12"}]})";

constexpr const char* kDell = R"("dell": {
  "EnumerationAttribute": [{"AttributeName": "Camera", "CurrentValue": "Enabled",
                            "PossibleValueCount": 2, "PossibleValue": ["Disabled", "Enabled"]}],
  "IntegerAttribute": [{"AttributeName": "AutoOnHr", "CurrentValue": 0, "LowerBound": 0,
                        "UpperBound": 23, "ScalarIncrement": 1}],
  "StringAttribute": [{"AttributeName": "Asset", "CurrentValue": "", "MinLength": 1,
                       "MaxLength": 8}],
  "PasswordObject": [{"NameId": "Admin", "IsPasswordSet": 1, "MinimumPasswordLength": 4,
                      "MaximumPasswordLength": 32, "password": "Dell-4dmin"},
                     {"NameId": "System", "IsPasswordSet": 0}]})";

// ThinkPads whose supervisor is a certificate (keys made at test time, sim_cases.h): one that
// holds one certificate, and a 2025 one that holds both.
constexpr const char* kCertified = R"("lenovo": {"certificateInterface": true, "serial": "PF12345",
  "Lenovo_BiosSetting": [{"CurrentSetting": "WakeOnLAN,Disable", "selections": "Disable,Enable"}],
  "Lenovo_BiosPasswordSettings": [{"PasswordMode": 1, "PasswordState": 128, "MinLength": 2,
                                   "MaxLength": 8, "certificate": "@cert:admin@"}]})";
constexpr const char* kTwoCertificates = R"("lenovo": {"certificateInterface": true,
  "serial": "PF12345",
  "Lenovo_BiosPasswordSettings": [{"PasswordMode": 3, "PasswordState": 384, "MinLength": 2,
      "MaxLength": 8, "certificate": "@cert:admin@", "systemCertificate": "@cert:other@"}]})";

constexpr const char* kNewer = R"({"driver": "think-lmi"})";
constexpr const char* kSysman = R"({"driver": "dell-wmi-sysman"})";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"think-lmi files: types, choices, modes, files that cannot be opened so",
       kNewer,
       kThinkPad,
       {{'m', "attributes/WakeOnLAN/current_value", nullptr, 0644},
        {'m', "attributes/WakeOnLAN/type", nullptr, 0444},
        {'m', "authentication/Admin/current_password", nullptr, 0200},
        {'r', "attributes/WakeOnLAN/type", "enumeration\n"},
        {'r', "attributes/WakeOnLAN/possible_values", "Disable;Enable\n"},
        {'r', "attributes/AssetTag/type", "string\n"},
        {'r', "attributes/AssetTag/possible_values", nullptr},
        {'r', "attributes/save_settings", "single\n"},
        {'r', "authentication/Admin/role", "bios-admin\n"},
        {'r', "authentication/Admin/is_enabled", "1\n"},
        {'r', "authentication/Admin/current_password", nullptr},
        {'w', "attributes/pending_reboot", "1\n", EACCES},
        {'w', "attributes/Missing/current_value", "1\n", ENOENT}},
       R"({"/kernel/boot": null})"},
      {"think-lmi on opcode firmware: the password goes first, the set is saved at once",
       kNewer,
       kThinkPad,
       {{'w', "attributes/WakeOnLAN/current_value", "Enable\n", EACCES},
        {'w', "authentication/Admin/current_password", "wrong\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n", EACCES},
        {'r', "attributes/pending_reboot", "0\n"},
        {'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n"},
        {'r', "attributes/WakeOnLAN/current_value", "Enable\n"},
        {'r', "attributes/pending_reboot", "1\n"}},
       R"({"/kernel/boot": {"passwords": {"Admin": "pw12"}, "pendingReboot": true},
           "/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Enable",
           "/lenovo/saves": 1})"},
      {"think-lmi in bulk: writes wait for one save, then only a restart takes more",
       kNewer,
       kThinkPad,
       {{'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "attributes/save_settings", "save\n", EOPNOTSUPP},
        {'w', "attributes/save_settings", "Bulk\n", EINVAL},
        {'w', "attributes/save_settings", "bulk\n"},
        {'w', "attributes/save_settings", "save\n", ENOENT},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n"},
        {'r', "attributes/pending_reboot", "1\n"},
        {'r', "attributes/WakeOnLAN/current_value", "Disable\n"},
        {'w', "attributes/save_settings", "save\n"},
        {'r', "attributes/WakeOnLAN/current_value", "Enable\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Disable\n", EPERM},
        {'w', "attributes/save_settings", "save\n", ENOENT},
        {'w', "attributes/save_settings", "single\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Disable\n"}},
       R"({"/kernel/boot": {"passwords": {"Admin": "pw12"}, "rebootRequired": true,
                            "pendingReboot": true},
           "/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Disable",
           "/lenovo/saves": 2})"},
      {"think-lmi passwords: lengths count the line feed, one byte less than the maximum is kept",
       kNewer,
       kThinkPad,
       {{'w', "authentication/Admin/current_password", "a\n"},
        {'w', "authentication/Admin/current_password", "abcdefgh\n", EINVAL},
        {'w', "authentication/Admin/current_password", "abcdefgh"},
        {'w', "authentication/Admin/new_password", "x\n", EINVAL},
        {'w', "authentication/Admin/new_password", "abcdefghi\n", EINVAL},
        {'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "authentication/Admin/new_password", "new-pw\n"}},
       R"({"/kernel/boot": {"passwords": {"Admin": "pw12"}},
           "/lenovo/Lenovo_BiosPasswordSettings/0/passwordAtRestart": "new-pw"})"},
      {"the older think-lmi: whole values, no types, the password inside the texts",
       R"({"driver": "think-lmi", "generation": "older"})",
       kWorkstation,
       {{'r', "attributes/AMDMemoryGuard/type", nullptr},
        {'r', "attributes/AMDMemoryGuard/current_value", "Disable;[Optional:Disable,Enable]\n"},
        {'r', "attributes/AMDMemoryGuard/possible_values", "\n"},
        {'r', "attributes/save_settings", nullptr},
        {'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "attributes/AMDMemoryGuard/current_value", "Enable\n"},
        {'w', "attributes/AlarmTime(HH\\MM\\SS)/current_value", "01:02:03\n", EINVAL},
        {'w', "authentication/Admin/new_password", "pw34\n"}},
       R"({"/kernel/boot": {"passwords": {"Admin": "pw12"}, "pendingReboot": true},
           "/lenovo/Lenovo_BiosSetting/0/CurrentSetting":
               "AMDMemoryGuard,Enable;[Optional:Disable,Enable]",
           "/lenovo/Lenovo_BiosPasswordSettings/0/passwordAtRestart": "pw34",
           "/lenovo/saves": 1})"},
      {"the newer think-lmi over older firmware: choices from [Optional:...], names with '/'",
       kNewer,
       kWorkstation,
       {{'r', "attributes/AMDMemoryGuard/current_value", "Disable\n"},
        {'r', "attributes/AMDMemoryGuard/possible_values", "Disable;Enable\n"},
        {'r', "attributes/AlarmTime(HH\\MM\\SS)/type", "string\n"},
        {'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "attributes/AlarmTime(HH\\MM\\SS)/current_value", "01:02:03\n"}},
       R"({"/lenovo/Lenovo_BiosSetting/1/CurrentSetting": "AlarmTime(HH/MM/SS),01:02:03"})"},
      {"think-lmi counts reads and writes per file, and keeps what lasts until a restart",
       R"({"driver": "think-lmi", "count": true,
           "boot": {"saveMode": "bulk", "rebootRequired": true}})",
       kThinkPad,
       {{'r', "attributes/save_settings", "bulk\n"},
        {'r', "attributes/Missing/current_value", nullptr},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n", EPERM}},
       R"({"/kernel/counts": {"reads": {"attributes/save_settings": 1},
                              "writes": {"attributes/WakeOnLAN/current_value": 1}},
           "/kernel/boot": {"saveMode": "bulk", "rebootRequired": true}})"},
      {"think-lmi signs changes: both signature files first, each call twice, single and bulk",
       kNewer,
       kCertified,
       {{'m', "authentication/Admin/signature", nullptr, 0200},
        {'m', "authentication/Admin/certificate_thumbprint", nullptr, 0444},
        {'r', "authentication/Admin/mechanism", "certificate\n"},
        {'r', "authentication/Admin/is_enabled", "1\n"},
        {'r', "authentication/System/role", nullptr},
        {'r', "authentication/Admin/certificate_thumbprint", "@thumb:admin@"},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n", EINVAL},
        {'w', "authentication/Admin/signature",
         "@sig:admin:Lenovo_SetBiosSettingEx,WakeOnLAN,Enable@\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n", EINVAL},
        {'w', "authentication/Admin/save_signature", "@sig:other:Lenovo_SaveBiosSettingsEx@\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n", EACCES},
        {'w', "authentication/Admin/save_signature", "@sig:admin:Lenovo_SaveBiosSettingsEx@"},
        {'w', "attributes/WakeOnLAN/current_value", "Enable\n"},
        {'r', "attributes/WakeOnLAN/current_value", "Enable\n"},
        {'w', "attributes/save_settings", "bulk\n"},
        {'w', "attributes/WakeOnLAN/current_value", "Disable\n", EACCES},
        {'w', "authentication/Admin/cert_to_password", "pw34\n", EACCES},
        {'w', "authentication/Admin/certificate", "\n", EACCES}},
       R"({"/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Enable",
           "/lenovo/saves": 1, "/kernel/boot/pendingReboot": true,
           "/kernel/boot/signatures/Admin/save_signature":
               "@sig:admin:Lenovo_SaveBiosSettingsEx@"})"},
      {"think-lmi installs a certificate under the password, sending it twice, SVC on 2025 models",
       kNewer,
       R"("lenovo": {"certificateInterface": true, "serial": "PF12345",
          "Lenovo_BiosPasswordSettings": [{"PasswordMode": 3, "PasswordState": 2,
              "MinLength": 2, "MaxLength": 8, "password": "pw12"}]})",
       {{'r', "authentication/Admin/mechanism", "password\n"},
        {'r', "authentication/System/role", "system\n"},
        {'r', "authentication/System/is_enabled", "0\n"},
        {'r', "authentication/Admin/certificate_thumbprint", nullptr},
        {'w', "authentication/Admin/certificate", "@cert:admin@\n", EACCES},
        {'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "authentication/Admin/cert_to_password", "pw34\n", EINVAL},
        {'w', "authentication/Admin/certificate", "@cert:admin@\n"},
        {'w', "authentication/System/certificate", "@cert:other@\n"}},
       R"({"/lenovo/Lenovo_BiosPasswordSettings/0/certificateAtRestart": "@cert:admin@",
           "/lenovo/Lenovo_BiosPasswordSettings/0/systemCertificateAtRestart": "@cert:other@",
           "/lenovo/Lenovo_BiosPasswordSettings/0/passwordAtRestart": "",
           "/lenovo/Lenovo_BiosPasswordSettings/0/password": "pw12"})"},
      {"think-lmi's certificate life after the restart: clear by serial, update, back to a "
       "password",
       kNewer,
       kTwoCertificates,
       {{'r', "authentication/System/mechanism", "certificate\n"},
        {'r', "authentication/System/certificate_thumbprint", "@thumb:other@"},
        {'w', "authentication/Admin/signature", "@sig:admin:Lenovo_ClearBiosCertificate,PF12345@"},
        {'w', "authentication/Admin/certificate", "\n"},
        {'w', "authentication/System/signature",
         "@sig:other:Lenovo_UpdateBiosCertificate,@cert:admin@@\n"},
        {'w', "authentication/System/certificate", "@cert:admin@\n"},
        {'w', "authentication/System/cert_to_password", "pw56\n", EACCES},
        {'w', "authentication/Admin/signature",
         "@sig:admin:Lenovo_ChangeBiosCertificateToPassword,pw56@\n"},
        {'w', "authentication/Admin/cert_to_password", "pw56\n"}},
       R"({"/lenovo/Lenovo_BiosPasswordSettings/0/certificateAtRestart": "",
           "/lenovo/Lenovo_BiosPasswordSettings/0/systemCertificateAtRestart": "@cert:admin@",
           "/lenovo/Lenovo_BiosPasswordSettings/0/passwordAtRestart": "pw56",
           "/kernel/boot/pendingReboot": null})"},
      {"think-lmi on a ThinkCentre: any mode is a certificate, its own install text, no thumbprint",
       kNewer,
       R"("lenovo": {"certificateInterface": true, "family": "thinkcentre",
          "Lenovo_BiosPasswordSettings": [{"PasswordMode": 0, "PasswordState": 2,
              "MinLength": 2, "MaxLength": 8, "password": "pw12"}]})",
       {{'r', "authentication/Admin/mechanism", "password\n"},
        {'w', "authentication/Admin/current_password", "pw12\n"},
        {'w', "authentication/Admin/certificate", "@cert:admin@\n"},
        {'w', "authentication/Admin/certificate", "MIIB\n", EINVAL}},
       R"({"/lenovo/Lenovo_BiosPasswordSettings/0/certificateAtRestart": "@cert:admin@"})"},
      {"dell-wmi-sysman checks values against what it read at load, then the firmware does",
       kSysman,
       R"("dell": {
         "EnumerationAttribute": [{"AttributeName": "Camera", "CurrentValue": "Enabled",
             "PossibleValueCount": 2, "PossibleValue": ["Disabled", "Enabled"]}],
         "IntegerAttribute": [{"AttributeName": "AutoOnHr", "CurrentValue": 0,
             "LowerBound": 0, "UpperBound": 23, "ScalarIncrement": 1}],
         "StringAttribute": [{"AttributeName": "Asset", "CurrentValue": "",
             "MinLength": 1, "MaxLength": 8}]})",
       {{'m', "attributes/Camera/current_value", nullptr, 0600},
        {'r', "attributes/Camera/possible_values", "Disabled;Enabled;\n"},
        {'w', "attributes/Camera/current_value", "Off\n", EINVAL},
        {'r', "attributes/pending_reboot", "0\n"},
        {'w', "attributes/Camera/current_value", "disabled\n", EINVAL},
        {'r', "attributes/pending_reboot", "1\n"},
        {'w', "attributes/AutoOnHr/current_value", "24\n", EINVAL},
        {'w', "attributes/AutoOnHr/current_value", "99999999999\n", ERANGE},
        {'w', "attributes/AutoOnHr/current_value", "0x10\n", EINVAL},
        {'w', "attributes/AutoOnHr/current_value", "+7\n"},
        {'r', "attributes/AutoOnHr/current_value", "7\n"},
        {'w', "attributes/Asset/current_value", "123456789\n", EINVAL},
        {'w', "attributes/Asset/current_value", "LAB-1\n"},
        {'w', "attributes/reset_bios", "fresh\n", EINVAL},
        {'w', "attributes/reset_bios", "factory\n", EIO}},
       R"({"/kernel/boot": {"pendingReboot": true},
           "/dell/IntegerAttribute/0/CurrentValue": 7,
           "/dell/StringAttribute/0/CurrentValue": "LAB-1"})"},
      {"dell-wmi-sysman passwords: stored by the driver, the administrator's sent with every set",
       kSysman,
       kDell,
       {{'r', "authentication/Admin/role", "bios-admin\n"},
        {'r', "authentication/System/role", "power-on\n"},
        {'r', "authentication/Admin/is_enabled", "1\n"},
        {'w', "attributes/Camera/current_value", "Disabled\n", EACCES},
        {'w', "authentication/Admin/current_password", "Dell-4dmin\n"},
        {'w', "attributes/Camera/current_value", "Disabled\n"},
        {'w', "authentication/System/new_password", "sys-1234\n"},
        {'r', "authentication/System/is_enabled", "1\n"},
        {'w', "authentication/Admin/new_password", "Dell-5dmin\n"},
        {'w', "attributes/Camera/current_value", "Enabled\n"}},
       R"({"/kernel/boot": {"passwords": {"Admin": "Dell-5dmin", "System": "sys-1234"},
                            "pendingReboot": true},
           "/dell/EnumerationAttribute/0/CurrentValue": "Enabled",
           "/dell/PasswordObject/0/password": "Dell-5dmin",
           "/dell/PasswordObject/0/refusedPasswords": 1})"},
  };
  return cases;
}

std::string Describe(const Case& c, const Step& step) {
  return std::string(c.what) + ": " + step.op + " " + step.path;
}

TEST(KernelDouble, AnswersEveryFileAsTheDriverDoes) {
  for (const Case& c : Cases()) {
    if (std::string(c.maker).find("@cert:") != std::string::npos && !testing::TestKeysMade()) {
      ADD_FAILURE() << c.what << ": no keys; run it through CTest (sim-keys)";
      continue;
    }
    testing::FakeHost host;
    const std::string path = "/machines/linux.json";
    host.files[path] =
        testing::WithKeys(std::string("{\"kernel\": ") + c.kernel + ", " + c.maker + "}");
    std::string error;
    const auto machine = sim::LoadMachine(path, error);
    ASSERT_NE(machine, nullptr) << c.what << ": " << error;
    sim::InstallKernelTree(machine);
    const sim::Json kernel = sim::Json::parse(c.kernel);
    const std::string driver = sim::KernelTreeRoot() + "/" +
                               (kernel["driver"] == "think-lmi" ? "thinklmi" : "dell-wmi-sysman");
    platform::KernelTree& tree = *sim::InstalledKernelTree();
    for (const Step& step : c.steps) {
      if (step.op == 'r') {
        std::string shown;
        const bool read = tree.ReadTreeFile(driver, step.path, shown);
        EXPECT_EQ(read, step.text != nullptr) << Describe(c, step);
        if (read && step.text != nullptr) {
          EXPECT_EQ(shown, testing::WithKeys(step.text)) << Describe(c, step);
        }
      } else if (step.op == 'w') {
        EXPECT_EQ(tree.WriteTreeFile(driver, step.path, testing::WithKeys(step.text)), step.result)
            << Describe(c, step);
      } else {
        platform::FileStatus status;
        ASSERT_TRUE(tree.GetFileStatus(driver + "/" + step.path, status)) << Describe(c, step);
        EXPECT_EQ(status.permissions, static_cast<std::uint32_t>(step.result)) << Describe(c, step);
      }
    }
    sim::InstallKernelTree(nullptr);
    testing::ExpectMachineAfter(host.files[path], c.after, c.what);
  }
}

}  // namespace
}  // namespace corvane
