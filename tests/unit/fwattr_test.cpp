// The firmware-attributes provider against a fake kernel behind the host: what the tree becomes,
// what is refused before anything is written, and the order of the password writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_host.h"
#include "fwattr/firmware_attributes.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/wbem.h"

namespace corvane {
namespace {

using Files = std::vector<std::pair<std::string, std::string>>;
using Writes = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kRoot = "/fake/class/firmware-attributes";
constexpr const char* kDriver = "/fake/class/firmware-attributes/vendor-sysman";
constexpr const char* kAdmin = "/fake/class/firmware-attributes/vendor-sysman/authentication/Admin";
constexpr const char16_t* kNamespace = u"\\\\.\\root\\Lumo\\InstrumentedBIOS";

std::string Attr(const std::string& name, const std::string& file) {
  return std::string(kDriver) + "/attributes/" + name + "/" + file;
}
std::string Session() {
  return std::string(kAdmin) + "/current_password";
}

// A kernel that behaves as the drivers do: a value write needs the administrator password in
// current_password while one is set, an enumeration takes only its choices, and a new password
// needs the current one.
class FakeKernel {
 public:
  FakeKernel() {
    host.kernel = [this](const std::string& path, std::string_view bytes) {
      return Write(path, bytes);
    };
  }
  ~FakeKernel() { wbem::InstallLocatorFactory({}); }

  void Add(const std::string& name, const Files& files) {
    for (const auto& [file, text] : files) host.files[Attr(name, file)] = text + "\n";
  }
  void AddAdmin(const std::string& password) {
    adminPassword = password;
    for (const auto& [file, text] : Files{{"role", "bios-admin"},
                                          {"is_enabled", password.empty() ? "0" : "1"},
                                          {"mechanism", "password"},
                                          {"min_password_length", "4"},
                                          {"max_password_length", "32"},
                                          {"current_password", ""},
                                          {"new_password", ""}})
      host.files[std::string(kAdmin) + "/" + file] = text + "\n";
  }
  std::int32_t Set(const std::string& name, const std::string& value, const std::string& password) {
    return fwattr::SetBiosSetting(tree, platform::Utf8ToUtf16(name), platform::Utf8ToUtf16(value),
                                  platform::Utf8ToUtf16(password));
  }
  std::string Value(const std::string& name) { return host.files[Attr(name, "current_value")]; }

  testing::FakeHost host;
  fwattr::Tree tree{kDriver, false};
  std::string adminPassword;
  std::string session;
  int failValueWrites = 0;    // the error every value write answers, when nonzero
  int failSessionWrites = 0;  // the error every current_password write answers, when nonzero

 private:
  static std::string Line(std::string_view bytes) {
    std::string text(bytes);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  int Write(const std::string& path, std::string_view bytes) {
    if (!host.files.count(path)) return ENOENT;
    const std::string text = Line(bytes);
    if (path == Session()) {
      if (failSessionWrites) return failSessionWrites;
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
    if (failValueWrites) return failValueWrites;
    if (!unlocked) return EACCES;
    const std::string folder = path.substr(0, path.rfind('/'));
    const auto choices = host.files.find(folder + "/possible_values");
    if (choices != host.files.end() &&
        (";" + choices->second).find(";" + text + ";") == std::string::npos)
      return EINVAL;
    host.files[path] = text + "\n";
    return 0;
  }
};

// ---------------------------------------------------------------------------------------------
// What the tree becomes.

// Every property of a setting, in one line, so that a table can state it.
std::string Describe(wbem::ClassObject& object) {
  std::string text;
  wbem::Variant value;
  object.Get(u"__CLASS", value);
  text = platform::Utf16ToUtf8(value.string);
  for (const char16_t* name :
       {u"CurrentValue", u"Value", u"PossibleValues", u"Elements", u"LowerBound", u"UpperBound",
        u"MinLength", u"MaxLength", u"IsReadOnly", u"DisplayInUI", u"Sequence", u"IsSet"}) {
    if (object.Get(name, value) != wbem::kOk) continue;
    text += " " + platform::Utf16ToUtf8(name) + "=";
    if (value.type == wbem::Variant::Type::Int32) text += std::to_string(value.int32);
    if (value.type == wbem::Variant::Type::String) text += platform::Utf16ToUtf8(value.string);
    if (value.type == wbem::Variant::Type::StringArray)
      for (std::size_t i = 0; i < value.strings.size(); ++i)
        text += (i ? "|" : "") + platform::Utf16ToUtf8(value.strings[i]);
  }
  return text;
}

std::map<std::string, std::string> Query(const char16_t* query) {
  std::map<std::string, std::string> settings;
  std::unique_ptr<wbem::Locator> locator;
  wbem::ServicesPtr services;
  wbem::EnumPtr walk;
  if (wbem::CreateLocator(locator) != wbem::kOk ||
      locator->ConnectServer(kNamespace, 0, services) != wbem::kOk ||
      services->ExecQuery(u"WQL", query, wbem::kFlagForwardOnly, walk) != wbem::kOk)
    return {{"", "query failed"}};
  for (wbem::ObjectPtr object; walk->Next(wbem::kInfinite, object) == wbem::kOk;) {
    wbem::Variant name;
    object->Get(u"Name", name);
    settings[platform::Utf16ToUtf8(name.string)] = Describe(*object);
  }
  return settings;
}

TEST(FwattrTree, AttributesBecomeSettingsOfTheirKind) {
  FakeKernel kernel;
  kernel.Add("Camera", {{"type", "enumeration"},
                        {"current_value", "Enabled"},
                        {"possible_values", "Disabled;Enabled;"}});
  kernel.Add("Hour", {{"type", "integer"},
                      {"current_value", "7"},
                      {"min_value", "0"},
                      {"max_value", "23"},
                      {"scalar_increment", "1"}});
  kernel.Add("Free", {{"type", "integer"}, {"current_value", "-3"}});
  kernel.Add("Asset", {{"type", "string"},
                       {"current_value", "Lab 4 \xC3\xA9"},
                       {"min_length", "1"},
                       {"max_length", "64"}});
  kernel.Add(
      "BootSeq",
      {{"type", "ordered-list"}, {"current_value", "Disk;Net"}, {"elements", "Net;Usb;Disk"}});
  kernel.Add("OldEnum",
             {{"current_value", "Enable;[Optional:Disable,Enable]"}, {"possible_values", ""}});
  kernel.Add("OldComma", {{"current_value", "Auto"}, {"possible_values", "Auto,Manual"}});
  kernel.Add("OldDate", {{"current_value", "[01/01/2019][Status:ShowOnly]"}});
  kernel.Add("NewShown", {{"type", "string"}, {"current_value", "X1[Status:ShowOnly]"}});
  kernel.Add("OldBoot",
             {{"current_value", "Net 1:M.2 Drive 1;[Excluded from boot order:USB HDD]"}});
  kernel.Add("Plain", {{"current_value", "just text"}});
  kernel.Add("Odd", {{"type", "password"}, {"current_value", "x"}});
  kernel.Add("Fixed",
             {{"type", "enumeration"}, {"current_value", "On"}, {"possible_values", "On;"}});
  kernel.host.permissions[Attr("Fixed", "current_value")] = 0444;
  kernel.host.files[Attr("NoLf", "current_value")] = "tail";
  kernel.host.files[Attr("NoLf", "type")] = "string\n";
  kernel.host.files[Attr("Unreadable", "current_value")] = "secret\n";
  kernel.host.unreadable.insert(Attr("Unreadable", "current_value"));
  kernel.host.files[Attr("NoValue", "type")] = "string\n";
  kernel.host.files[std::string(kDriver) + "/attributes/pending_reboot"] = "0\n";
  ASSERT_TRUE(fwattr::InstallTree(kRoot));

  const std::map<std::string, std::string> expected = {
      {"Asset",
       "Lumo_BIOSString Value=Lab 4 \xC3\xA9 MinLength=1 MaxLength=64 IsReadOnly=0 "
       "DisplayInUI=1 Sequence=0"},
      {"BootSeq",
       "Lumo_BIOSOrderedList Value=Disk,Net Elements=Disk|Net|Usb IsReadOnly=0 "
       "DisplayInUI=1 Sequence=1"},
      {"Camera",
       "Lumo_BIOSEnumeration CurrentValue=Enabled PossibleValues=Disabled|Enabled "
       "IsReadOnly=0 DisplayInUI=1 Sequence=2"},
      {"Fixed",
       "Lumo_BIOSEnumeration CurrentValue=On PossibleValues=On IsReadOnly=1 "
       "DisplayInUI=1 Sequence=3"},
      {"Free",
       "Lumo_BIOSInteger Value=-3 LowerBound=-2147483648 UpperBound=2147483647 "
       "IsReadOnly=0 DisplayInUI=1 Sequence=4"},
      {"Hour",
       "Lumo_BIOSInteger Value=7 LowerBound=0 UpperBound=23 IsReadOnly=0 DisplayInUI=1 "
       "Sequence=5"},
      {"NewShown", "Lumo_BIOSString Value=X1 IsReadOnly=1 DisplayInUI=1 Sequence=6"},
      {"NoLf", "Lumo_BIOSString Value=tail IsReadOnly=0 DisplayInUI=1 Sequence=7"},
      {"Odd", "Lumo_BIOSSetting Value=x IsReadOnly=1 DisplayInUI=1 Sequence=8"},
      {"OldBoot",
       "Lumo_BIOSOrderedList Value=Net 1,M.2 Drive 1,USB HDD DISABLED "
       "Elements=Net 1|M.2 Drive 1|USB HDD DISABLED IsReadOnly=0 DisplayInUI=1 "
       "Sequence=9"},
      {"OldComma",
       "Lumo_BIOSEnumeration CurrentValue=Auto PossibleValues=Auto|Manual "
       "IsReadOnly=0 DisplayInUI=1 Sequence=10"},
      {"OldDate", "Lumo_BIOSString Value=01/01/2019 IsReadOnly=1 DisplayInUI=1 Sequence=11"},
      {"OldEnum",
       "Lumo_BIOSEnumeration CurrentValue=Enable PossibleValues=Disable|Enable "
       "IsReadOnly=0 DisplayInUI=1 Sequence=12"},
      {"Plain", "Lumo_BIOSString Value=just text IsReadOnly=0 DisplayInUI=1 Sequence=13"},
      {"Setup Password",
       "Lumo_BIOSPassword IsReadOnly=1 DisplayInUI=1 Sequence=2147483647 IsSet=0"},
  };
  const auto actual = Query(u"select * from Lumo_BIOSSetting");
  EXPECT_EQ(actual.size(), expected.size());
  for (const auto& [name, description] : expected) {
    const auto found = actual.find(name);
    EXPECT_TRUE(found != actual.end() && found->second == description)
        << name << ": " << (found == actual.end() ? "missing" : found->second);
  }
}

TEST(FwattrTree, DellRulesHideOrLockWhileTheirConditionHolds) {
  struct Case {
    const char* modifier;
    const char* expected;  // IsReadOnly and DisplayInUI
  };
  const Case cases[] = {
      {"[SuppressIf:Mode=Off]", "IsReadOnly=0 DisplayInUI=0"},
      {"[SuppressIf:Mode=On]", "IsReadOnly=0 DisplayInUI=1"},
      {"[SuppressIfNot:Mode=On]", "IsReadOnly=0 DisplayInUI=0"},
      {"[SuppressIfNot:Mode=off]", "IsReadOnly=0 DisplayInUI=1"},  // letter case ignored
      {"[ReadOnlyIf:Mode=Off]", "IsReadOnly=1 DisplayInUI=1"},
      {"[ReadOnlyIfNot:Mode=Off]", "IsReadOnly=0 DisplayInUI=1"},
      {"[ReadOnlyIfNot:Mode=On][SuppressIf:Mode=Off]", "IsReadOnly=1 DisplayInUI=0"},
      {"[ProgHideLocal:TRUE]", "IsReadOnly=0 DisplayInUI=1"},
      {"[SuppressIf:Missing=Off][ReadOnlyIf:Missing=]", "IsReadOnly=0 DisplayInUI=1"},
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
    ASSERT_TRUE(fwattr::InstallTree(kRoot));
    const std::string timer = Query(u"select * from Lumo_BIOSInteger")["Timer"];
    EXPECT_NE(timer.find(c.expected), std::string::npos) << c.modifier << ": " << timer;
    // A locked setting is refused before anything is written.
    const bool locked = std::string(c.expected).find("IsReadOnly=1") != std::string::npos;
    EXPECT_EQ(kernel.Set("Timer", "6", ""), locked ? fwattr::kReturnReadOnly : 0) << c.modifier;
  }
}

TEST(FwattrTree, AdministratorFolderIsTheSetupPassword) {
  FakeKernel kernel;
  kernel.Add("Camera", {{"type", "string"}, {"current_value", "x"}});
  kernel.AddAdmin("secret");
  // Another role, earlier in byte order, is not the administrator's.
  kernel.host.files[std::string(kDriver) + "/authentication/A-System/role"] = "system-mgmt\n";
  kernel.host.files[std::string(kDriver) + "/authentication/A-System/is_enabled"] = "0\n";
  ASSERT_TRUE(fwattr::InstallTree(kRoot));
  const auto passwords = Query(u"select * from Lumo_BIOSPassword");
  ASSERT_EQ(passwords.size(), 1u);
  EXPECT_EQ(passwords.at("Setup Password"),
            "Lumo_BIOSPassword MinLength=4 MaxLength=32 IsReadOnly=0 DisplayInUI=1 "
            "Sequence=2147483647 IsSet=1");
  EXPECT_EQ(Query(u"select * from Lumo_BIOSSettingInterface").size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Which tree is used.

TEST(FwattrSelection, NoClassFolderAndNoVariableFindNoProvider) {
  testing::FakeHost host;  // nothing under /sys in this host, and no variable
  wbem::InstallLocatorFactory({});
  EXPECT_FALSE(fwattr::InstallFromEnvironment());
  std::unique_ptr<wbem::Locator> locator;
  EXPECT_FALSE(wbem::Succeeded(wbem::CreateLocator(locator)));
}

TEST(FwattrSelection, TheVariableNamesTheTreeAndItsFirstDriverWithAttributes) {
  testing::FakeHost host;
  const std::string root = "/copy";
  host.files[root + "/b-driver/attributes/Second/current_value"] = "2\n";
  host.files[root + "/a-driver/authentication/Admin/role"] = "bios-admin\n";  // no attributes
  host.files[root + "/c-driver/attributes/Third/current_value"] = "3\n";
  host.files["/sys/class/firmware-attributes/real/attributes/Real/current_value"] = "r\n";
  host.environment["CORVANE_FIRMWARE_ATTRIBUTES"] = root;
  // Windows reaches its settings through the provider alone: no tree, whatever is set.
  if (fwattr::PlatformTreeRoot().empty()) {
    EXPECT_FALSE(fwattr::InstallFromEnvironment());
    return;
  }
  ASSERT_TRUE(fwattr::InstallFromEnvironment());
  const auto settings = Query(u"select * from Lumo_BIOSString");
  EXPECT_EQ(settings.size(), 1u);
  EXPECT_TRUE(settings.count("Second"));
  wbem::InstallLocatorFactory({});

  // Unset, the kernel's class folder is the tree.
  host.environment.clear();
  ASSERT_TRUE(fwattr::InstallFromEnvironment());
  EXPECT_TRUE(Query(u"select * from Lumo_BIOSString").count("Real"));
  wbem::InstallLocatorFactory({});

  // A folder without any driver that holds attributes is no provider.
  host.environment["CORVANE_FIRMWARE_ATTRIBUTES"] = root + "/a-driver";
  EXPECT_FALSE(fwattr::InstallFromEnvironment());
}

// ---------------------------------------------------------------------------------------------
// SetBIOSSetting.

void AddEverything(FakeKernel& kernel) {
  kernel.Add("Camera", {{"type", "enumeration"},
                        {"current_value", "Enabled"},
                        {"possible_values", "Disabled;Enabled;"}});
  kernel.Add("Hour", {{"type", "integer"},
                      {"current_value", "10"},
                      {"min_value", "10"},
                      {"max_value", "40"},
                      {"scalar_increment", "5"}});
  kernel.Add(
      "Asset",
      {{"type", "string"}, {"current_value", "A1"}, {"min_length", "1"}, {"max_length", "4"}});
  kernel.Add("BootSeq", {{"type", "ordered-list"},
                         {"current_value", "Disk;Net;Usb"},
                         {"elements", "Disk;Net;Usb;Floppy"}});
  kernel.Add("OldBoot", {{"current_value", "Net:Disk;[Excluded from boot order:Usb]"}});
  kernel.Add("Shown", {{"current_value", "[v1][Status:ShowOnly]"}});
  kernel.Add("Locked", {{"type", "string"}, {"current_value", "L"}});
  kernel.host.permissions[Attr("Locked", "current_value")] = 0444;
}

TEST(FwattrSet, RefusalsWriteNothing) {
  struct Case {
    const char* name;
    const char* value;
    const char* password;
    std::int32_t code;
  };
  const Case cases[] = {
      {"Nothing", "1", "", fwattr::kReturnNotFound},
      {"Camera", "Disabled", "<kbd/>1E30", fwattr::kReturnAccessDenied},
      {"Camera", "Disabled", "plain", fwattr::kReturnAccessDenied},
      {"Locked", "M", "", fwattr::kReturnReadOnly},
      {"Shown", "v2", "", fwattr::kReturnReadOnly},
      {"Camera", "Maybe", "", fwattr::kReturnInvalidValue},
      {"Hour", "0x10", "", fwattr::kReturnInvalidValue},
      {"Hour", "45", "", fwattr::kReturnInvalidValue},
      {"Hour", "5", "", fwattr::kReturnInvalidValue},
      {"Hour", "12", "", fwattr::kReturnInvalidValue},  // off the step of 5 from 10
      {"Hour", "", "", fwattr::kReturnInvalidValue},
      {"Asset", "", "", fwattr::kReturnInvalidValue},
      {"Asset", "ABCDE", "", fwattr::kReturnInvalidValue},
      {"Asset", "\xC3\xA9t\xC3\xA9", "",
       fwattr::kReturnInvalidValue},  // bytes, as the kernel counts
      {"Asset", "A\nB", "", fwattr::kReturnInvalidValue},
      {"BootSeq", "Net,Tape", "", fwattr::kReturnInvalidValue},
      {"BootSeq", "Net,net", "", fwattr::kReturnInvalidValue},
      {"OldBoot", "Net DISABLED,Disk DISABLED", "", fwattr::kReturnInvalidValue},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    AddEverything(kernel);
    EXPECT_EQ(kernel.Set(c.name, c.value, c.password), c.code) << c.name << " " << c.value;
    EXPECT_TRUE(kernel.host.writes.empty()) << c.name << " " << c.value;
  }
}

TEST(FwattrSet, AcceptedValuesReachTheDriverInItsOwnForm) {
  struct Case {
    const char* name;
    const char* value;
    const char* written;
  };
  const Case cases[] = {
      {" camera ", "disabled", "Disabled\n"},  // the choice's own spelling
      {"Hour", "+25", "25\n"},
      {"Hour", "40", "40\n"},
      {"Asset", "\xC3\xA9t", "\xC3\xA9t\n"},                // UTF-8 passes through: 3 bytes of 4
      {"BootSeq", "usb,Disk", "Usb;Disk;Net\n"},            // the rest of the order follows
      {"BootSeq", "Floppy,Disk", "Floppy;Disk;Net;Usb\n"},  // an element out of the order joins it
      {"OldBoot", "Usb,Net,Disk DISABLED", "Usb:Net\n"},    // marked devices leave the order
      {"OldBoot", "Disk", "Disk:Net\n"},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    AddEverything(kernel);
    EXPECT_EQ(kernel.Set(c.name, c.value, ""), 0) << c.name << " " << c.value;
    ASSERT_EQ(kernel.host.writes.size(), 1u) << c.name;
    EXPECT_EQ(kernel.host.writes[0].second, c.written) << c.name;
    EXPECT_TRUE(kernel.tree.settingsChanged);
  }
}

TEST(FwattrSet, WriteErrorsBecomeReturnCodes) {
  const std::pair<int, std::int32_t> cases[] = {
      {EACCES, fwattr::kReturnAccessDenied}, {EPERM, fwattr::kReturnAccessDenied},
      {EINVAL, fwattr::kReturnInvalidValue}, {ENOENT, fwattr::kReturnNotFound},
      {EIO, fwattr::kReturnFailed},          {EBUSY, fwattr::kReturnFailed},
  };
  for (const auto& [error, code] : cases) {
    FakeKernel kernel;
    AddEverything(kernel);
    kernel.failValueWrites = error;
    EXPECT_EQ(kernel.Set("Asset", "B2", ""), code) << error;
    EXPECT_EQ(kernel.Value("Asset"), "A1\n");
    EXPECT_FALSE(kernel.tree.settingsChanged);
  }
}

TEST(FwattrSet, PasswordOpensOneWriteAndIsClearedOnEveryPath) {
  const Writes opened = {
      {Session(), "secret\n"}, {Attr("Camera", "current_value"), "Disabled\n"}, {Session(), "\n"}};
  struct Case {
    const char* label;
    const char* password;
    int failValue;
    int failSession;
    std::int32_t code;
    Writes writes;
  };
  const Case cases[] = {
      {"right password", "<utf-16/>secret", 0, 0, 0, opened},
      {"wrong password",
       "<utf-16/>guess",
       0,
       0,
       fwattr::kReturnAccessDenied,
       {{Session(), "guess\n"},
        {Attr("Camera", "current_value"), "Disabled\n"},
        {Session(), "\n"}}},
      {"firmware failure", "<utf-16/>secret", EIO, 0, fwattr::kReturnFailed, opened},
      {"value refused", "<utf-16/>secret", EINVAL, 0, fwattr::kReturnInvalidValue, opened},
      {"password refused",
       "<utf-16/>secret",
       0,
       EINVAL,
       fwattr::kReturnAccessDenied,
       {{Session(), "secret\n"}, {Session(), "\n"}}},
      {"no password given", "<utf-16/>", 0, 0, fwattr::kReturnAccessDenied, {}},
      {"no password at all", "", 0, 0, fwattr::kReturnAccessDenied, {}},
      {"not text", "<kbd/>1F", 0, 0, fwattr::kReturnAccessDenied, {}},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    AddEverything(kernel);
    kernel.AddAdmin("secret");
    kernel.failValueWrites = c.failValue;
    kernel.failSessionWrites = c.failSession;
    EXPECT_EQ(kernel.Set("Camera", "Disabled", c.password), c.code) << c.label;
    EXPECT_EQ(kernel.host.writes, c.writes) << c.label;
    EXPECT_EQ(kernel.Value("Camera"), c.code == 0 ? "Disabled\n" : "Enabled\n") << c.label;
    if (c.failSession == 0) {
      EXPECT_EQ(kernel.session, "") << c.label;
    }
  }
}

TEST(FwattrSet, SetupPasswordChangesThroughTheAdministratorFolder) {
  const std::string fresh = std::string(kAdmin) + "/new_password";
  struct Case {
    const char* label;
    const char* admin;  // "" : none set
    const char* value;
    const char* password;
    int failSession;
    std::int32_t code;
    Writes writes;
    const char* passwordAfter;
  };
  const Case cases[] = {
      {"change",
       "secret",
       "<utf-16/>better",
       "<utf-16/>secret",
       0,
       0,
       {{Session(), "secret\n"}, {fresh, "better\n"}, {Session(), "\n"}},
       "better"},
      {"remove",
       "secret",
       "<utf-16/>",
       "<utf-16/>secret",
       0,
       0,
       {{Session(), "secret\n"}, {fresh, "\n"}, {Session(), "\n"}},
       ""},
      {"first password",
       "",
       "<utf-16/>first",
       "<utf-16/>",
       0,
       0,
       {{Session(), "\n"}, {fresh, "first\n"}, {Session(), "\n"}},
       "first"},
      {"wrong current",
       "secret",
       "<utf-16/>better",
       "<utf-16/>guess",
       0,
       fwattr::kReturnAccessDenied,
       {{Session(), "guess\n"}, {fresh, "better\n"}, {Session(), "\n"}},
       "secret"},
      {"current refused",
       "secret",
       "<utf-16/>better",
       "<utf-16/>secret",
       EPERM,
       fwattr::kReturnAccessDenied,
       {{Session(), "secret\n"}, {Session(), "\n"}},
       "secret"},
      {"too short",
       "secret",
       "<utf-16/>abc",
       "<utf-16/>secret",
       0,
       fwattr::kReturnInvalidValue,
       {},
       "secret"},
      {"scan codes",
       "secret",
       "<kbd/>1E30",
       "<utf-16/>secret",
       0,
       fwattr::kReturnInvalidValue,
       {},
       "secret"},
      {"no current",
       "secret",
       "<utf-16/>better",
       "<utf-16/>",
       0,
       fwattr::kReturnAccessDenied,
       {},
       "secret"},
  };
  for (const Case& c : cases) {
    FakeKernel kernel;
    AddEverything(kernel);
    kernel.AddAdmin(c.admin);
    kernel.failSessionWrites = c.failSession;
    EXPECT_EQ(kernel.Set("Setup Password", c.value, c.password), c.code) << c.label;
    EXPECT_EQ(kernel.host.writes, c.writes) << c.label;
    EXPECT_EQ(kernel.adminPassword, c.passwordAfter) << c.label;
    EXPECT_FALSE(kernel.tree.settingsChanged) << c.label;
  }

  FakeKernel none;
  AddEverything(none);
  EXPECT_EQ(none.Set("Setup Password", "<utf-16/>first", "<utf-16/>"), fwattr::kReturnReadOnly);
  EXPECT_TRUE(none.host.writes.empty());
}

TEST(FwattrSet, RestartIsPendingOnlyAfterAChangeTheDriverWaitsFor) {
  FakeKernel kernel;
  AddEverything(kernel);
  kernel.host.files[std::string(kDriver) + "/attributes/pending_reboot"] = "1\n";
  ASSERT_TRUE(fwattr::InstallTree(kRoot));
  EXPECT_FALSE(fwattr::RestartPending());
  // Through the provider, as the program calls it.
  std::unique_ptr<wbem::Locator> locator;
  wbem::ServicesPtr services;
  ASSERT_EQ(wbem::CreateLocator(locator), wbem::kOk);
  ASSERT_EQ(locator->ConnectServer(kNamespace, 0, services), wbem::kOk);
  wbem::ObjectPtr classObject, signature, in, out;
  ASSERT_EQ(services->GetObjectByPath(u"lumo_BIOSSettingInterface", 0, classObject), wbem::kOk);
  ASSERT_EQ(classObject->GetMethod(u"SetBIOSSetting", signature), wbem::kOk);
  ASSERT_EQ(signature->SpawnInstance(in), wbem::kOk);
  in->Put(u"Name", wbem::Variant::String(u"Asset"));
  in->Put(u"Value", wbem::Variant::String(u"B2"));
  in->Put(u"Password", wbem::Variant::String(u"<utf-16/>"));
  ASSERT_EQ(services->ExecMethod(u"Lumo_BIOSSettingInterface.InstanceName=\"vendor-sysman\"",
                                 u"SetBIOSSetting", 0, in.get(), out),
            wbem::kOk);
  wbem::Variant code;
  ASSERT_EQ(out->Get(u"Return", code), wbem::kOk);
  EXPECT_EQ(code.int32, 0);
  EXPECT_TRUE(fwattr::RestartPending());
  kernel.host.files[std::string(kDriver) + "/attributes/pending_reboot"] = "0\n";
  EXPECT_FALSE(fwattr::RestartPending());
}

}  // namespace
}  // namespace corvane
