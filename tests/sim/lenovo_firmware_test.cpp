// Lenovo's interface on the simulated firmware, call by call as the program makes them on
// Windows: each case is a lenovo section, the calls with the text each answers, and what the
// machine file holds afterwards. Keys are made at test time (sim_cases.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "platform/wmi_kit.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/simulated_machine.h"
#include "sim_cases.h"

namespace corvane {
namespace {

struct Call {
  const char* className;  // its method: the name without "Lenovo_"
  const char* parameter;
  const char* answer;  // nullptr: the method is unknown
};

struct Case {
  const char* what;
  const char* lenovo;
  std::vector<Call> calls;
  const char* after;  // JSON pointer -> value in the machine file afterwards (null: absent)
};

// A ThinkPad whose supervisor is a certificate.
constexpr const char* kCertified = R"({"certificateInterface": true, "serial": "PF12345",
  "Lenovo_BiosSetting": [{"CurrentSetting": "WakeOnLAN,Enable", "selections": "Disable,Enable"}],
  "Lenovo_BiosPasswordSettings": [{"PasswordMode": 1, "PasswordState": 128, "MinLength": 2,
                                   "MaxLength": 8, "certificate": "@cert:admin@"}]})";

// A 2025 ThinkPad: it can hold two certificates and holds a supervisor password.
constexpr const char* kTwoSlots = R"({"certificateInterface": true,
  "Lenovo_BiosSetting": [{"CurrentSetting": "WakeOnLAN,Enable", "selections": "Disable,Enable"}],
  "Lenovo_BiosPasswordSettings": [{"PasswordMode": 3, "PasswordState": 2, "MinLength": 2,
                                   "MaxLength": 8, "password": "pw12"}]})";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"signed changes wait for the signed save; a bad signature or a password changes nothing",
       kCertified,
       {{"Lenovo_SetBiosSetting", "WakeOnLAN,Disable", "Access Denied"},
        {"Lenovo_SetBiosSettingEx",
         "WakeOnLAN,Disable,@sig:other:Lenovo_SetBiosSettingEx,WakeOnLAN,Disable@",
         "Access Denied"},
        {"Lenovo_SetBiosSettingEx",
         "WakeOnLAN,Disable,@sig:admin:Lenovo_SetBiosSettingEx,WakeOnLAN,Enable@", "Access Denied"},
        {"Lenovo_SetBiosSettingEx",
         "WakeOnLAN,Disable,@sig:admin:Lenovo_SetBiosSettingEx,WakeOnLAN,Disable@;",
         "Access Denied"},
        {"Lenovo_SetBiosSettingEx",
         "WakeOnLAN,Maybe,@sig:admin:Lenovo_SetBiosSettingEx,WakeOnLAN,Maybe@",
         "Invalid Parameter"},
        {"Lenovo_SetBiosSettingEx",
         "WakeOnLAN,Disable,@sig:admin:Lenovo_SetBiosSettingEx,WakeOnLAN,Disable@", "Success"},
        {"Lenovo_SaveBiosSettings", "", "Access Denied"},
        {"Lenovo_SaveBiosSettingsEx", "@sig:other:Lenovo_SaveBiosSettingsEx@", "Access Denied"},
        {"Lenovo_SaveBiosSettingsEx", "@sig:admin:Lenovo_SaveBiosSettingsEx@", "Success"},
        {"Lenovo_SaveBiosSettingsEx", "@sig:admin:Lenovo_SaveBiosSettingsEx@", "Success"},
        {"Lenovo_SetBiosPassword", "pap,,pw34,ascii,us", "Access Denied"}},
       R"({"/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Disable",
           "/lenovo/saves": 1, "/lenovo/boot": null})"},
      {"the certificate's life: each operation signed, taken again alike, kept for the next boot",
       kCertified,
       {{"Lenovo_UpdateBiosCertificate",
         "@cert:other@,@sig:other:Lenovo_UpdateBiosCertificate,@cert:other@@", "Access Denied"},
        {"Lenovo_UpdateBiosCertificate",
         "@cert:other@,@sig:admin:Lenovo_UpdateBiosCertificate,@cert:other@@", "Success"},
        {"Lenovo_UpdateBiosCertificate",
         "@cert:other@,@sig:admin:Lenovo_UpdateBiosCertificate,@cert:other@@", "Success"},
        {"Lenovo_UpdateBiosCertificate",
         "SVC,@cert:other@,@sig:admin:Lenovo_UpdateBiosCertificate,@cert:other@@",
         "Invalid Parameter"},
        {"Lenovo_ClearBiosCertificate", "PF99999,@sig:admin:Lenovo_ClearBiosCertificate,PF99999@",
         "Invalid Parameter"},
        {"Lenovo_ClearBiosCertificate", "PF12345,@sig:admin:Lenovo_ClearBiosCertificate,PF12345@",
         "Success"},
        {"Lenovo_ChangeBiosCertificateToPassword",
         "x,@sig:admin:Lenovo_ChangeBiosCertificateToPassword,x@", "Invalid Parameter"},
        {"Lenovo_ChangeBiosCertificateToPassword",
         "pw34,@sig:admin:Lenovo_ChangeBiosCertificateToPassword,pw34@", "Success"},
        {"Lenovo_SetBiosCertificate", "@cert:other@,pw34", "Access Denied"}},
       R"({"/lenovo/Lenovo_BiosPasswordSettings/0/certificate": "@cert:admin@",
           "/lenovo/Lenovo_BiosPasswordSettings/0/certificateAtRestart": "",
           "/lenovo/Lenovo_BiosPasswordSettings/0/passwordAtRestart": "pw34",
           "/lenovo/Lenovo_BiosPasswordSettings/0/PasswordState": 128})"},
      {"a 2025 ThinkPad with a password: installs under it, the password opens until the restart",
       kTwoSlots,
       {{"Lenovo_SetBiosCertificate", "SVC,@cert:admin@,wrong", "Access Denied"},
        {"Lenovo_SetBiosCertificate", "SVC,MIIB,pw12", "Invalid Parameter"},
        {"Lenovo_SetBiosCertificate", "SVC,@cert:admin@,pw12", "Success"},
        {"Lenovo_SetBiosCertificate", "SVC,@cert:admin@,pw12", "Success"},
        {"Lenovo_SetBiosCertificate", "SMC,@cert:other@,pw12", "Success"},
        {"Lenovo_CertificateThumbprint", "SVC,Md5", "Invalid Parameter"},
        {"Lenovo_SetBiosSetting", "WakeOnLAN,Disable,pw12,ascii,us", "Success"},
        {"Lenovo_SaveBiosSettings", "pw12,ascii,us", "Success"}},
       R"({"/lenovo/Lenovo_BiosPasswordSettings/0/certificateAtRestart": "@cert:admin@",
           "/lenovo/Lenovo_BiosPasswordSettings/0/systemCertificateAtRestart": "@cert:other@",
           "/lenovo/Lenovo_BiosPasswordSettings/0/passwordAtRestart": "",
           "/lenovo/Lenovo_BiosPasswordSettings/0/refusedPasswords": 1,
           "/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Disable"})"},
      {"a ThinkCentre answers installs with its own texts",
       R"({"certificateInterface": true, "family": "thinkcentre",
           "Lenovo_BiosPasswordSettings": [{"PasswordMode": 0, "PasswordState": 2,
                                            "password": "pw12"}]})",
       {{"Lenovo_SetBiosCertificate", "@cert:admin@,pw12",
         "Set Certificate operation failed with status:Invalid Parameter."},
        {"Lenovo_SetBiosCertificate", "@cert:admin@,pw12,utf8,us",
         "Set Certificate operation failed with status:Invalid password format."},
        {"Lenovo_SetBiosCertificate", "@cert:admin@,wrong,ascii,us",
         "Set Certificate operation failed with status:Password Invalid."},
        {"Lenovo_SetBiosCertificate", "@cert:admin@,pw12,ascii,us",
         "Set Certificate operation was successful."},
        {"Lenovo_UpdateBiosCertificate",
         "@cert:other@,@sig:admin:Lenovo_UpdateBiosCertificate,@cert:other@@",
         "Set Certificate operation failed with status:Certificate not found."}},
       R"({"/lenovo/Lenovo_BiosPasswordSettings/0/certificateAtRestart": "@cert:admin@"})"},
      {"the opcode password: a save uses it up, the same save sent again at once excepted",
       R"({"opcodeInterface": true,
           "Lenovo_BiosSetting": [{"CurrentSetting": "WakeOnLAN,Enable"}],
           "Lenovo_BiosPasswordSettings": [{"PasswordState": 2, "password": "pw12"}]})",
       {{"Lenovo_WmiOpcodeInterface", "WmiOpcodePasswordAdmin:pw12;", "Success"},
        {"Lenovo_SetBiosSetting", "WakeOnLAN,Disable;", "Success"},
        {"Lenovo_SaveBiosSettings", "", "Success"},
        {"Lenovo_SaveBiosSettings", "", "Success"},
        {"Lenovo_SaveBiosSettings", "", "Access Denied"},
        {"Lenovo_SetBiosSetting", "WakeOnLAN,Enable;", "Success"},
        {"Lenovo_SaveBiosSettings", "", "Access Denied"}},
       R"({"/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Disable", "/lenovo/saves": 1,
           "/lenovo/boot": {"waiting": [["WakeOnLAN", "Enable"]]}})"},
      {"methods named otherwise than guessed: the guessed call fails, nothing changes",
       R"({"certificateInterface": true, "otherExMethodNames": true,
           "Lenovo_BiosSetting": [{"CurrentSetting": "WakeOnLAN,Enable"}],
           "Lenovo_BiosPasswordSettings": [{"PasswordState": 128, "certificate": "@cert:admin@"}]})",
       {{"Lenovo_SetBiosSettingEx",
         "WakeOnLAN,Disable,@sig:admin:Lenovo_SetBiosSettingEx,WakeOnLAN,Disable@", nullptr},
        {"Lenovo_SaveBiosSettingsEx", "@sig:admin:Lenovo_SaveBiosSettingsEx@", nullptr}},
       R"({"/lenovo/boot": null, "/lenovo/Lenovo_BiosSetting/0/CurrentSetting": "WakeOnLAN,Enable"})"},
  };
  return cases;
}

// The method's answer; nullptr when the call fails.
std::optional<std::string> Answer(wbem::Services& services, const Call& call) {
  const std::u16string className = sim::Utf8ToUtf16(call.className);
  const std::u16string method = className.substr(className.find(u'_') + 1);
  wbem::ObjectPtr type, signature, in, out;
  if (services.GetObjectByPath(className, 0, type) != wbem::kOk ||
      type->GetMethod(method, signature) != wbem::kOk ||
      signature->SpawnInstance(in) != wbem::kOk ||
      in->Put(method == u"WmiOpcodeInterface" ? u"Parameter" : u"parameter",
              wbem::Variant::String(sim::Utf8ToUtf16(testing::WithKeys(call.parameter)))) !=
          wbem::kOk ||
      !wbem::Succeeded(services.ExecMethod(className, method, 0, in.get(), out)))
    return std::nullopt;
  wbem::Variant answer;
  out->Get(u"return", answer);
  return sim::Utf16ToUtf8(answer.string);
}

TEST(LenovoFirmware, AnswersEveryCallAsTheFirmwareDoes) {
  if (!testing::TestKeysMade()) GTEST_SKIP() << "no keys: run through CTest (sim-keys)";
  for (const Case& c : Cases()) {
    testing::FakeHost host;
    const std::string path = "/machines/lenovo.json";
    host.files[path] = testing::WithKeys(std::string("{\"lenovo\": ") + c.lenovo + "}");
    std::string error;
    const auto machine = sim::LoadMachine(path, error);
    ASSERT_NE(machine, nullptr) << c.what << ": " << error;
    {
      const wbem::ServicesPtr services = sim::ConnectMakerNamespace(machine, u"root\\WMI");
      ASSERT_TRUE(services) << c.what;
      for (const Call& call : c.calls) {
        const auto answer = Answer(*services, call);
        EXPECT_EQ(answer.has_value(), call.answer != nullptr) << c.what << ": " << call.parameter;
        if (answer && call.answer != nullptr) {
          EXPECT_EQ(*answer, call.answer)
              << c.what << ": " << call.className << " " << call.parameter;
        }
      }
    }
    testing::ExpectMachineAfter(host.files[path], c.after, c.what);
  }
}

}  // namespace
}  // namespace corvane
