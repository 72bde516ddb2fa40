// The firmware-attributes provider against a fake kernel behind the host: what is refused before
// anything is written, the order of every write (passwords, bulk saving, passwords judged by the
// change), what a failed write or save leaves, and how many password attempts a run makes.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "driver/run.h"
#include "fake_host.h"
#include "fwattr/firmware_attributes.h"
#include "fwattr/provider.h"
#include "fwattr/tree_source.h"
#include "fwattr/wmi_client.h"
#include "platform/provider_contract.h"
#include "platform/utf8.h"
#include "platform/wmi_kit.h"
#include "wmi/wmi_connection.h"

namespace corvane {
namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kRoot = "/fake/class/firmware-attributes";
constexpr const char* kDriver = "/fake/class/firmware-attributes/vendor-sysman";
constexpr const char* kAdmin = "/fake/class/firmware-attributes/vendor-sysman/authentication/Admin";

std::string Attr(const std::string& name, const std::string& file) {
  return std::string(kDriver) + "/attributes/" + name + "/" + file;
}
std::string Session() {
  return std::string(kAdmin) + "/current_password";
}
std::string SaveFile() {
  return std::string(kDriver) + "/attributes/save_settings";
}

// A kernel that behaves as the drivers do: a value write needs the administrator password in
// current_password while one is set, an enumeration takes only its choices, a new password needs
// the current one, and save_settings keeps values waiting in bulk mode until "save".
class FakeKernel {
 public:
  FakeKernel() {
    host.kernel = [this](const std::string& path, std::string_view bytes) {
      return Write(path, bytes);
    };
    Add("Camera", {{"type", "enumeration"},
                   {"current_value", "Enabled"},
                   {"possible_values", "Disabled;Enabled;"}});
    Add("Hour", {{"type", "integer"},
                 {"current_value", "10"},
                 {"min_value", "10"},
                 {"max_value", "40"},
                 {"scalar_increment", "5"}});
    Add("Asset",
        {{"type", "string"}, {"current_value", "A1"}, {"min_length", "1"}, {"max_length", "4"}});
    Add("BootSeq", {{"type", "ordered-list"},
                    {"current_value", "Disk;Net;Usb"},
                    {"elements", "Disk;Net;Usb;Floppy"}});
    Add("OldBoot", {{"current_value", "Net:Disk;[Excluded from boot order:Usb]"}});
    Add("Shown", {{"current_value", "[][Status:ShowOnly]"}});
    Add("Locked", {{"type", "string"}, {"current_value", "L"}});
    Add("Legacy",
        {{"type", "ordered-list"}, {"current_value", "Disk,Net"}, {"elements", "Disk;Usb"}});
    host.permissions[Attr("Locked", "current_value")] = 0444;
    provider.sources.push_back(fwattr::CreateTreeSource(host, kDriver));
  }
  ~FakeKernel() { wbem::InstallLocatorFactory({}); }

  void Add(const std::string& name, const Files& files) {
    for (const auto& [file, text] : files) host.files[Attr(name, file)] = text + "\n";
  }
  void AddAdmin(const std::string& password, const std::string& mechanism = "password") {
    adminPassword = password;
    for (const auto& [file, text] : Files{{"role", "bios-admin"},
                                          {"is_enabled", password.empty() ? "0" : "1"},
                                          {"mechanism", mechanism},
                                          {"min_password_length", "4"},
                                          {"max_password_length", "32"},
                                          {"current_password", ""},
                                          {"new_password", ""}})
      host.files[std::string(kAdmin) + "/" + file] = text + "\n";
  }
  std::int32_t Set(const std::string& name, const std::string& value, const std::string& password) {
    return fwattr::SetBiosSetting(provider, platform::Utf8ToUtf16(name),
                                  platform::Utf8ToUtf16(value), platform::Utf8ToUtf16(password));
  }
  std::string Value(const std::string& name) { return host.files[Attr(name, "current_value")]; }
  // Every write so far, each as folder/file=text.
  std::string Writes() const {
    std::string text;
    for (const auto& [path, bytes] : host.writes) {
      const std::size_t file = path.rfind('/');
      const std::size_t folder = path.rfind('/', file - 1);
      text += (text.empty() ? "" : "; ") + path.substr(folder + 1) + "=" + Line(bytes);
    }
    return text;
  }
  // What a query serves for name now.
  std::string Served(const std::string& name) {
    for (const auto& served : fwattr::ServedSettings(provider))
      if (served.attribute.name == name) return served.attribute.value;
    return "<none>";
  }

  testing::FakeHost host;
  fwattr::Provider provider;
  std::string adminPassword;
  std::string session;
  std::map<std::string, int> failures;  // the error a file's writes answer
  int saves = 0;                        // how often the firmware's storage was written

 private:
  static std::string Line(std::string_view bytes) {
    std::string text(bytes);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  int Write(const std::string& path, std::string_view bytes) {
    if (!host.files.count(path)) return ENOENT;
    if (const auto failure = failures.find(path); failure != failures.end()) return failure->second;
    const std::string text = Line(bytes);
    if (path == Session()) {
      session = text;
      return 0;
    }
    const bool unlocked = adminPassword.empty() || session == adminPassword;
    if (path == std::string(kAdmin) + "/new_password") {
      if (!unlocked) return EACCES;
      adminPassword = text;
      host.files[std::string(kAdmin) + "/is_enabled"] = text.empty() ? "0\n" : "1\n";
      return 0;
    }
    const bool bulk = host.files[SaveFile()] == "bulk\n";
    if (path == SaveFile()) {
      if (text == "save") {
        if (!bulk) return EOPNOTSUPP;
        ++saves;
        return 0;
      }
      if (text != "single" && text != "bulk") return EINVAL;
      host.files[path] = text + "\n";
      return 0;
    }
    if (!unlocked) return EACCES;
    const std::string folder = path.substr(0, path.rfind('/'));
    const auto choices = host.files.find(folder + "/possible_values");
    if (choices != host.files.end() &&
        (";" + choices->second).find(";" + text + ";") == std::string::npos)
      return EINVAL;
    host.files[path] = text + "\n";  // a waiting value shows at once, as on some firmware
    if (!bulk) ++saves;
    return 0;
  }
};

// ---------------------------------------------------------------------------------------------
// What is read.

TEST(FwattrTree, DellRulesHideOrLockWhileTheirConditionHolds) {
  struct Case {
    const char* modifier;
    bool readOnly, shown;
  };
  const Case cases[] = {
      {"[SuppressIf:Mode=Off]", false, false},
      {"[SuppressIf:Mode=On]", false, true},
      {"[SuppressIfNot:Mode=On]", false, false},
      {"[SuppressIfNot:Mode=off]", false, true},  // letter case ignored
      {"[ReadOnlyIf:Mode=Off]", true, true},
      {"[ReadOnlyIfNot:Mode=Off]", false, true},
      {"[ReadOnlyIfNot:Mode=On][SuppressIf:Mode=Off]", true, false},
      {"[ProgHideLocal:TRUE]", false, true},
      {"[SuppressIf:Missing=Off][ReadOnlyIf:Missing=]", false, true},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    kernel.Add("Mode",
               {{"type", "enumeration"}, {"current_value", "Off"}, {"possible_values", "On;Off;"}});
    kernel.Add("Timer", {{"type", "integer"},
                         {"current_value", "5"},
                         {"min_value", "0"},
                         {"max_value", "9"},
                         {"dell_modifier", c.modifier}});
    for (const auto& served : fwattr::ServedSettings(kernel.provider))
      if (served.attribute.name == "Timer") {
        EXPECT_EQ(served.attribute.readOnly, c.readOnly) << c.modifier;
        EXPECT_EQ(served.attribute.shown, c.shown) << c.modifier;
      }
    // A locked setting is refused before anything is written.
    EXPECT_EQ(kernel.Set("Timer", "6", ""), c.readOnly ? contract::kReturnReadOnly : 0)
        << c.modifier;
  }
}

// What a query of each class hands out, as WMI's queries of a class and of its subclasses do:
// the setup password stands among all settings and in its own class, in no other.
TEST(FwattrTree, EachQueryServesTheInstancesOfItsClass) {
  struct Case {
    std::u16string_view className;
    const char* names;
  };
  const Case cases[] = {
      {contract::kBaseClass.Wide(),
       "Asset|BootSeq|Camera|Hour|Legacy|Locked|OldBoot|Shown|Setup Password|"},
      {contract::kEnumerationClass.Wide(), "Camera|"},
      {contract::kIntegerClass.Wide(), "Hour|"},
      {contract::kStringClass.Wide(), "Asset|Locked|Shown|"},
      {contract::kOrderedListClass.Wide(), "BootSeq|Legacy|OldBoot|"},
      {contract::kPasswordClass.Wide(), "Setup Password|"},
      {contract::kInterfaceClass.Wide(), "<no name>|"},
  };
  FakeKernel kernel;
  kernel.AddAdmin("secret");
  // The provider lives as long as the kernel: the locator only borrows it.
  const auto locator = fwattr::CreateProviderLocator(
      std::shared_ptr<fwattr::Provider>(&kernel.provider, [](fwattr::Provider*) {}));
  wbem::ServicesPtr services;
  ASSERT_EQ(locator->ConnectServer(contract::kNamespace.Wide(), 0, services), wbem::kOk);
  for (const Case& c : cases) {
    wbem::EnumPtr walk;
    ASSERT_TRUE(wbem::SelectAll(*services, c.className, walk));
    std::string names;
    for (wbem::ObjectPtr object; wbem::NextObject(*walk, object);) {
      wbem::Variant name;
      names += object->Get(u"Name", name) == wbem::kOk ? platform::Utf16ToUtf8(name.string)
                                                       : "<no name>";
      names += "|";
      EXPECT_EQ(object->InheritsFrom(c.className), wbem::kOk) << names;
    }
    EXPECT_EQ(names, c.names) << platform::Utf16ToUtf8(c.className);
  }
  // A shown-only value in brackets of its own is served without them, even an empty one.
  EXPECT_EQ(kernel.Served("Shown"), "");
}

// Property names are matched as WMI matches them: in any letter case, and only letters fold.
TEST(FwattrTree, PropertyNamesMatchInAnyLetterCase) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"Size", "SIZE", true}, {"SIZE", "size", true}, {"AZaz", "azAZ", true},
      {"`{", "@[", false},    {"@[", "`{", false},    {"Size", "Sizes", false},
  };
  for (const auto& [known, asked, found] : cases) {
    wbem::PropertyList list;
    list.Set(known, wbem::Variant::String(u"1"));
    EXPECT_EQ(list.Find(asked) != nullptr, found) << known << " asked as " << asked;
  }
}

// The makers' numbers arrive as WMI hands them over: 32-bit integers and booleans as they are,
// wider integers as decimal text; anything else is no number.
TEST(FwattrTree, MakersNumbersAreReadInEveryFormWmiGives) {
  wbem::PlainObject object(wbem::PlainObject::Role::Instance, "X", {"X"});
  object.Add("Int", wbem::Variant::Int32(-7));
  object.Add("Flag", wbem::Variant::Bool(true));
  object.Add("Wide", wbem::Variant::String(u"42"));
  object.Add("Word", wbem::Variant::String(u"many"));
  object.Add("Null", wbem::Variant::Null());
  object.Add("List", wbem::Variant::StringArray({u"1"}));
  const std::pair<std::u16string_view, std::optional<std::int32_t>> cases[] = {
      {u"Int", -7},
      {u"Flag", 1},
      {u"Wide", 42},
      {u"Word", std::nullopt},
      {u"Null", std::nullopt},
      {u"List", std::nullopt},
      {u"Gone", std::nullopt},
  };
  for (const auto& [name, number] : cases)
    EXPECT_EQ(fwattr::ReadNumber(object, name), number) << platform::Utf16ToUtf8(name);
}

// The administrator's folder is the one whose role says so, else one called Admin: no other
// folder, and no file of that name, stands in for it.
TEST(FwattrTree, TheAdministratorIsTheBiosAdminRoleOrTheAdminFolder) {
  struct Case {
    const char* what;
    Files files;  // below authentication/
    bool exists, isSet;
  };
  const Case cases[] = {
      {"a role",
       {{"Pwd1/role", "bios-admin"}, {"Pwd1/is_enabled", "1"}, {"Admin/is_enabled", "0"}},
       true,
       true},
      {"an Admin folder without roles", {{"admin/is_enabled", "1"}}, true, true},
      {"a System folder alone", {{"System/is_enabled", "1"}}, false, false},
      {"an Admin file", {{"Admin", "1"}, {"System/is_enabled", "1"}}, false, false},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    for (const auto& [file, text] : c.files)
      kernel.host.files[std::string(kDriver) + "/authentication/" + file] = text + "\n";
    const fwattr::AdminPassword admin = kernel.provider.sources[0]->Admin();
    EXPECT_EQ(admin.exists, c.exists) << c.what;
    EXPECT_EQ(admin.isSet, c.isSet) << c.what;
  }
}

TEST(FwattrSelection, TheVariableOrTheClassFolderNamesTheDrivers) {
  struct Case {
    const char* variable;  // nullptr: unset
    const char* served;    // the names GetConfig would show; nullptr: no provider
  };
  const Case cases[] = {
      {"/copy", "Second Third "},     // every driver folder with attributes
      {"/copy/b-driver", "Second "},  // one driver folder itself
      {"/copy/a-driver", nullptr},    // a folder without attributes
      {nullptr, "Real "},             // the kernel's class folder
      {"/nowhere", nullptr},
  };
  for (const Case& c : cases) {
    testing::FakeHost host;
    host.files["/copy/b-driver/attributes/Second/current_value"] = "2\n";
    host.files["/copy/a-driver/authentication/Admin/role"] = "bios-admin\n";
    host.files["/copy/c-driver/attributes/Third/current_value"] = "3\n";
    host.files["/sys/class/firmware-attributes/real/attributes/Real/current_value"] = "r\n";
    if (c.variable) host.environment["CORVANE_FIRMWARE_ATTRIBUTES"] = c.variable;
    wbem::InstallLocatorFactory({});
    // Windows reaches its settings through the provider alone: no tree, whatever is set.
    const bool installed = fwattr::InstallFromEnvironment(host);
    if (fwattr::PlatformTreeRoot().empty()) {
      EXPECT_FALSE(installed);
      continue;
    }
    ASSERT_EQ(installed, c.served != nullptr) << (c.variable ? c.variable : "unset");
    if (!installed) continue;
    std::string names;
    for (const auto& driver :
         fwattr::FindDriverFolders(host, c.variable ? c.variable : fwattr::PlatformTreeRoot()))
      for (const auto& raw : fwattr::CreateTreeSource(host, driver)->ReadAll())
        names += raw.name + " ";
    EXPECT_EQ(names, c.served);
  }
  wbem::InstallLocatorFactory({});
}

// ---------------------------------------------------------------------------------------------
// SetBIOSSetting.

TEST(FwattrSet, RefusalsWriteNothing) {
  struct Case {
    const char* name;
    const char* value;
    const char* password;
    std::int32_t code;
  };
  const Case cases[] = {
      {"Nothing", "1", "", contract::kReturnNotFound},
      {"Camera", "Disabled", "<kbd/>1E30", contract::kReturnPasswordRefused},
      {"Camera", "Disabled", "plain", contract::kReturnPasswordRefused},
      {"Locked", "M", "", contract::kReturnReadOnly},
      {"Shown", "v2", "", contract::kReturnReadOnly},
      {"Camera", "Maybe", "", contract::kReturnInvalidValue},
      {"Hour", "0x10", "", contract::kReturnInvalidValue},
      {"Hour", "45", "", contract::kReturnInvalidValue},
      {"Hour", "12", "", contract::kReturnInvalidValue},  // off the step of 5 from 10
      {"Hour", "", "", contract::kReturnInvalidValue},
      {"Asset", "", "", contract::kReturnInvalidValue},
      {"Asset", "\xC3\xA9t\xC3\xA9", "",
       contract::kReturnInvalidValue},  // bytes, as the kernel counts
      {"Asset", "A\nB", "", contract::kReturnInvalidValue},
      {"BootSeq", "Net,Tape", "", contract::kReturnInvalidValue},
      {"BootSeq", "Net,net", "", contract::kReturnInvalidValue},
      {"OldBoot", "Net DISABLED,Disk DISABLED", "", contract::kReturnInvalidValue},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    EXPECT_EQ(kernel.Set(c.name, c.value, c.password), c.code) << c.name << " " << c.value;
    fwattr::FinishWrites(kernel.provider);
    EXPECT_EQ(kernel.Writes(), "") << c.name << " " << c.value;
  }
}

TEST(FwattrSet, AcceptedValuesReachTheDriverInItsOwnForm) {
  struct Case {
    const char* name;
    const char* value;
    const char* written;
  };
  const Case cases[] = {
      {" camera ", "disabled", "Camera/current_value=Disabled"},  // the choice's own spelling
      {"Hour", "+25", "Hour/current_value=25"},
      {"Asset", "\xC3\xA9t", "Asset/current_value=\xC3\xA9t"},        // UTF-8 passes: 3 bytes of 4
      {"Asset", "\xC3!", "Asset/current_value=\xEF\xBF\xBD!"},        // a broken sequence: U+FFFD
      {"Asset", "A\xE2\x82", "Asset/current_value=A\xEF\xBF\xBD"},    // one cut short at the end
      {"BootSeq", "usb,Disk", "BootSeq/current_value=Usb;Disk;Net"},  // the rest follows
      {"BootSeq", "Floppy,Disk", "BootSeq/current_value=Floppy;Disk;Net;Usb"},
      // Joined as the driver joins it, though not all its devices are among the elements.
      {"Legacy", "net,Disk", "Legacy/current_value=Net,Disk"},
      {"OldBoot", "Usb,Net,Disk DISABLED", "OldBoot/current_value=Usb:Net"},  // marked ones leave
      {"OldBoot", "Disk", "OldBoot/current_value=Disk:Net"},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    EXPECT_EQ(kernel.Set(c.name, c.value, ""), 0) << c.name << " " << c.value;
    fwattr::FinishWrites(kernel.provider);
    EXPECT_EQ(kernel.Writes(), c.written) << c.name;
    EXPECT_TRUE(kernel.provider.sources[0]->Changed());
  }
}

// One batch of changes, as SetConfig makes it, and what its read-back finds afterwards.
TEST(FwattrSet, ChangesOfOneRunCostOneSave) {
  struct Case {
    const char* label;
    const char* mode;  // save_settings; nullptr: the driver has none
    const char* admin;
    int changes;  // Camera, then Asset
    const char* failing;
    const char* writes;
    int saves;
    const char* after;  // Camera and Asset as served afterwards
    const char* errors;
  };
  const Case cases[] = {
      {"no saving mode", nullptr, "", 2, nullptr,
       "Camera/current_value=Disabled; Asset/current_value=B2", 2, "Disabled B2", ""},
      {"one change is saved by the driver", "single", "", 1, nullptr,
       "Camera/current_value=Disabled", 1, "Disabled A1", ""},
      {"two changes wait for one save", "single", "", 2, nullptr,
       "attributes/save_settings=bulk; Camera/current_value=Disabled; Asset/current_value=B2; "
       "attributes/save_settings=save; attributes/save_settings=single",
       1, "Disabled B2", ""},
      {"the password opens and closes the batch", "single", "secret", 2, nullptr,
       "Admin/current_password=secret; attributes/save_settings=bulk; "
       "Camera/current_value=Disabled; Asset/current_value=B2; attributes/save_settings=save; "
       "attributes/save_settings=single; Admin/current_password=",
       1, "Disabled B2", ""},
      {"found waiting: it stays so", "bulk", "", 1, nullptr,
       "Camera/current_value=Disabled; attributes/save_settings=save", 1, "Disabled A1", ""},
      {"a failed save keeps nothing", "bulk", "", 2, "save_settings",
       "Camera/current_value=Disabled; Asset/current_value=B2; attributes/save_settings=save", 0,
       "Enabled A1", "corvane: saving the changes: EIO: the firmware failed to take the change.\n"},
      {"a refused write is said why", nullptr, "", 2, "Asset",
       "Camera/current_value=Disabled; Asset/current_value=B2", 1, "Disabled A1",
       "corvane: Asset: EIO: the firmware failed to take the change.\n"},
      {"a refused password write ends the batch", nullptr, "secret", 1, "current_password",
       "Admin/current_password=secret; Admin/current_password=", 0, "Enabled A1",
       "corvane: the administrator password: EIO: the firmware failed to take the change.\n"},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    if (c.mode) kernel.host.files[SaveFile()] = std::string(c.mode) + "\n";
    if (*c.admin) kernel.AddAdmin(c.admin);
    if (c.failing) {
      const std::string failing = c.failing;
      kernel.failures[failing == "save_settings"      ? SaveFile()
                      : failing == "current_password" ? Session()
                                                      : Attr(failing, "current_value")] = EIO;
    }
    const std::string password = *c.admin ? "<utf-16/>secret" : "";
    kernel.Set("Camera", "Disabled", password);
    if (c.changes > 1) kernel.Set("Asset", "B2", password);
    EXPECT_EQ(kernel.Served("Camera") + " " + kernel.Served("Asset"), c.after) << c.label;
    EXPECT_EQ(kernel.Writes(), c.writes) << c.label;
    EXPECT_EQ(kernel.saves, c.saves) << c.label;
    EXPECT_EQ(kernel.host.err, c.errors) << c.label;
    EXPECT_EQ(kernel.session, "") << c.label;
  }
}

TEST(FwattrSet, WriteErrorsBecomeReturnCodesAndReasons) {
  const std::tuple<int, std::int32_t, const char*> cases[] = {
      {EACCES, contract::kReturnPasswordRefused, "EACCES: not allowed: run as root"},
      {EPERM, contract::kReturnPasswordRefused, "EPERM: not allowed: run as root"},
      {EINVAL, contract::kReturnInvalidValue, "EINVAL: the driver refused the value"},
      {ENODEV, contract::kReturnNotFound, "ENODEV: the driver no longer offers it"},
      {EIO, contract::kReturnFailed, "EIO: the firmware failed"},
      {EBUSY, contract::kReturnFailed, "EBUSY: the firmware is busy"},
      {E2BIG, contract::kReturnFailed, "error 7: an unexpected error"},
  };
  for (const auto& [error, code, reason] : cases) {
    FakeKernel kernel;
    kernel.failures[Attr("Asset", "current_value")] = error;
    EXPECT_EQ(kernel.Set("Asset", "B2", ""), code) << error;
    EXPECT_EQ(kernel.host.err.rfind(std::string("corvane: Asset: ") + reason, 0), 0u)
        << kernel.host.err;
    EXPECT_EQ(kernel.Value("Asset"), "A1\n");
    fwattr::FinishWrites(kernel.provider);
    EXPECT_FALSE(kernel.provider.sources[0]->Changed());
  }
}

TEST(FwattrSet, SetupPasswordChangesThroughItsFolder) {
  struct Case {
    const char* label;
    const char* admin;  // "" : none set
    const char* value;
    const char* password;
    std::int32_t code;
    const char* writes;
    const char* passwordAfter;
  };
  const Case cases[] = {
      {"change to itself", "secret", "<utf-16/>secret", "<utf-16/>secret", 0,
       "Admin/current_password=secret; Admin/new_password=secret; Admin/current_password=",
       "secret"},
      {"change", "secret", "<utf-16/>better", "<utf-16/>secret", 0,
       "Admin/current_password=secret; Admin/new_password=better; Admin/current_password=",
       "better"},
      {"remove", "secret", "<utf-16/>", "<utf-16/>secret", 0,
       "Admin/current_password=secret; Admin/new_password=; Admin/current_password=", ""},
      {"first password", "", "<utf-16/>first", "<utf-16/>", 0,
       "Admin/current_password=; Admin/new_password=first; Admin/current_password=", "first"},
      {"wrong current", "secret", "<utf-16/>better", "<utf-16/>guess",
       contract::kReturnPasswordRefused,
       "Admin/current_password=guess; Admin/new_password=better; Admin/current_password=",
       "secret"},
      {"too short", "secret", "<utf-16/>abc", "<utf-16/>secret", contract::kReturnInvalidValue, "",
       "secret"},
      {"not typeable", "secret", "<utf-16/>p\xC3\xA4ss", "<utf-16/>secret",
       contract::kReturnInvalidValue, "", "secret"},
      {"scan codes", "secret", "<kbd/>1E30", "<utf-16/>secret", contract::kReturnInvalidValue, "",
       "secret"},
      {"no current", "secret", "<utf-16/>better", "<utf-16/>", contract::kReturnPasswordRefused, "",
       "secret"},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    kernel.AddAdmin(c.admin);
    EXPECT_EQ(kernel.Set("Setup Password", c.value, c.password), c.code) << c.label;
    EXPECT_EQ(kernel.Writes(), c.writes) << c.label;
    EXPECT_EQ(kernel.adminPassword, c.passwordAfter) << c.label;
  }

  // A certificate unlocks nothing a password could; without an administrator folder there is
  // no password.
  FakeKernel certificate;
  certificate.AddAdmin("secret", "certificate");
  EXPECT_EQ(certificate.Set("Setup Password", "<utf-16/>secret", "<utf-16/>secret"),
            contract::kReturnPasswordRefused);
  EXPECT_EQ(certificate.Set("Camera", "Disabled", "<utf-16/>secret"),
            contract::kReturnPasswordRefused);
  FakeKernel none;
  EXPECT_EQ(none.Set("Setup Password", "<utf-16/>first", "<utf-16/>"), contract::kReturnReadOnly);
  EXPECT_EQ(certificate.Writes() + none.Writes(), "");
}

// Firmware that takes its administrator password as the scan codes of its keys, as some of
// Lenovo's do: a change of the password keeps what it was given.
class KeysFirmware : public fwattr::AttributeSource {
 public:
  [[nodiscard]] std::string Label() const override { return "keys"; }
  std::vector<fwattr::RawAttribute> ReadAll() override { return {}; }
  bool Read(std::string_view, fwattr::RawAttribute&) override { return false; }
  fwattr::AdminPassword Admin() override {
    fwattr::AdminPassword admin;
    admin.exists = admin.isSet = admin.takesScanCodes = true;
    admin.takesText = false;
    return admin;
  }
  bool RestartPending() override { return false; }
  int Write(const std::string&, const std::string&, const fwattr::Password&) override { return 0; }
  int Finish() override { return 0; }
  [[nodiscard]] bool Changed() const override { return false; }
  int ChangePassword(const fwattr::Password& current, const fwattr::Password&) override {
    *given = current.bytes;
    return current.bytes == "\xAC\x1E\x19" ? 0 : EACCES;  // Z (SHIFT+Z), a, p
  }
  std::string* given = nullptr;
};

// A password typed as keys reaches the firmware as those keys, whatever the letters of its
// hexadecimal digits; one that is no keys never reaches it.
TEST(FwattrSet, ScanCodePasswordsReachTheFirmwareAsTheirKeys) {
  struct Case {
    const char* password;
    const char* given;  // nullptr: the firmware is not asked
    std::int32_t code;
  };
  const Case cases[] = {
      {"<kbd/>AC1E19", "\xAC\x1E\x19", contract::kReturnSuccess},
      {"<kbd/>ac1E19", "\xAC\x1E\x19", contract::kReturnSuccess},
      {"<kbd/>ABCDEF", "\xAB\xCD\xEF", contract::kReturnPasswordRefused},
      {"<kbd/>abcdef", "\xAB\xCD\xEF", contract::kReturnPasswordRefused},
      {"<kbd/>1G", nullptr, contract::kReturnPasswordRefused},
      {"<kbd/>AC1", nullptr, contract::kReturnPasswordRefused},
      {"<utf-16/>Zap", nullptr, contract::kReturnPasswordRefused},
  };
  for (const Case& c : cases) {
    std::string given = "<none>";
    auto firmware = std::make_unique<KeysFirmware>();
    firmware->given = &given;
    fwattr::Provider provider;
    provider.sources.push_back(std::move(firmware));
    const std::u16string password = platform::Utf8ToUtf16(c.password);
    // A change of the password to itself: the firmware judges it as it judges any change.
    EXPECT_EQ(fwattr::SetBiosSetting(provider, u"Setup Password", password, password), c.code)
        << c.password;
    EXPECT_EQ(given, c.given ? c.given : "<none>") << c.password;
  }
}

// Each candidate is a real attempt on real firmware: only a run that changes something makes
// any, each candidate once, with the change itself.
TEST(FwattrRun, PasswordAttemptsAreMadeOnlyWhenNeededAndOncePerCandidate) {
  struct Case {
    std::vector<const char*> args;
    const char* sessions;  // every text written to current_password, in order
  };
  const Case cases[] = {
      {{"/cspwd:wrong", "/GetConfig:/out.txt"}, ""},
      {{"/cspwd:wrong", "/cspwd:wrong", "/cspwd:secret", "/SetConfig:/in.txt"}, "wrong||secret||"},
      // A second file goes under the password the first was taken with: no candidate again.
      {{"/cspwd:wrong", "/cspwd:secret", "/SetConfig:/in.txt", "/SetConfig:/in2.txt"},
       "wrong||secret||secret||"},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    kernel.AddAdmin("secret");
    kernel.host.files["/in.txt"] = "English\nAsset\n\tB2\n";
    kernel.host.files["/in2.txt"] = "English\nCamera\n\t*Disabled\n";
    ASSERT_TRUE(fwattr::InstallTree(kernel.host, kRoot));
    std::vector<const char*> args = c.args;
    args.insert(args.begin(), "corvane");
    driver::Run(static_cast<int>(args.size()), args.data(), "");
    std::string sessions;
    for (const auto& [path, bytes] : kernel.host.writes)
      if (path == Session()) sessions += bytes.substr(0, bytes.size() - 1) + "|";
    EXPECT_EQ(sessions, c.sessions) << kernel.host.out;
  }
}

}  // namespace
}  // namespace corvane
