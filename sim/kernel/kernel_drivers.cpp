// The kernel of a simulated Linux machine, as far as the program sees it: one firmware-attributes
// driver, Lenovo's think-lmi over the machine's lenovo section or Dell's dell-wmi-sysman over its
// dell section. Its attribute tree answers the files below a class folder that no real path can
// name (it lies below the machine file); every read and write there becomes the
// calls the kernel driver makes on the maker's WMI interface of the machine, so that what the
// firmware answers comes from its one simulation. What the driver keeps until a restart is kept in
// the kernel section's "boot".
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/host.h"
#include "platform/kernel_tree.h"
#include "platform/wmi_kit.h"
#include "sim/machine/machine_model.h"
#include "sim/machine/schema.h"
#include "sim/machine/simulated_machine.h"
#include "sim/wmi/wmi_objects.h"

namespace corvane::sim {
namespace {

// ---------------------------------------------------------------------------------------------
// The firmware, through the machine's WMI objects.

struct MethodArgument {
  std::u16string_view name;
  wbem::Variant value;
};

// One connection to a maker's namespace; released, it saves what the firmware changed.
class Firmware {
 public:
  Firmware(const std::shared_ptr<SimulatedMachine>& machine, std::u16string_view nameSpace)
      : services_(ConnectMakerNamespace(machine, nameSpace)) {}

  // Every instance of a class, in the firmware's order; none when the query fails.
  std::optional<std::vector<wbem::ObjectPtr>> Instances(std::u16string_view className) {
    wbem::EnumPtr walk;
    if (!services_ || !wbem::SelectAll(*services_, className, walk)) return std::nullopt;
    std::vector<wbem::ObjectPtr> objects;
    for (wbem::ObjectPtr object; wbem::NextObject(*walk, object);)
      objects.push_back(std::move(object));
    return objects;
  }

  // One instance by its path, as the drivers read one WMI block; none when it cannot be had.
  wbem::ObjectPtr Object(std::u16string_view path) {
    wbem::ObjectPtr object;
    if (!services_ || services_->GetObjectByPath(path, 0, object) != wbem::kOk) object.reset();
    return object;
  }

  bool HasClass(std::u16string_view className) {
    wbem::ObjectPtr object;
    return services_ && services_->GetObjectByPath(className, 0, object) == wbem::kOk;
  }

  // A method of a class with one instance; nullptr when the call itself fails.
  wbem::ObjectPtr Call(std::u16string_view className, std::u16string_view method,
                       const std::vector<MethodArgument>& arguments) {
    wbem::ObjectPtr type, signature, in, out;
    if (!services_ || services_->GetObjectByPath(className, 0, type) != wbem::kOk ||
        type->GetMethod(method, signature) != wbem::kOk ||
        signature->SpawnInstance(in) != wbem::kOk)
      return nullptr;
    for (const auto& [name, value] : arguments)
      if (in->Put(name, value) != wbem::kOk) return nullptr;
    if (!wbem::Succeeded(services_->ExecMethod(className, method, 0, in.get(), out)))
      return nullptr;
    return out;
  }

 private:
  wbem::ServicesPtr services_;
};

wbem::Variant PropertyOf(wbem::ClassObject& object, std::u16string_view name) {
  wbem::Variant value;
  if (object.Get(name, value) != wbem::kOk) return {};
  return value;
}

std::optional<std::string> VariantText(const wbem::Variant& value) {
  if (value.type != wbem::Variant::Type::String) return std::nullopt;
  return Utf16ToUtf8(value.string);
}

// Where an instance is read again.
std::u16string PathOf(wbem::ClassObject& object) {
  const wbem::Variant path = PropertyOf(object, u"__RELPATH");
  return path.type == wbem::Variant::Type::String ? path.string : std::u16string();
}

std::optional<std::int32_t> VariantNumber(const wbem::Variant& value) {
  if (value.type != wbem::Variant::Type::Int32) return std::nullopt;
  return value.int32;
}

// A value read at load, as the driver prints it: a text, or an integer in decimal.
std::string Shown(const wbem::Variant& value) {
  if (const auto number = VariantNumber(value)) return std::to_string(*number);
  return VariantText(value).value_or("");
}

// ---------------------------------------------------------------------------------------------
// The files of the class folder.

// A file as the driver declares it: its mode, and what reading (show) and writing (store) do.
// Each answers 0 or an error number; store sees the bytes written up to the first NUL, as the
// drivers' string handling does.
struct File {
  std::uint32_t mode = 0444;
  std::function<int(std::string&)> show;
  std::function<int(const std::string&)> store;
};

File Fixed(std::string text) {
  return {0444,
          [text = std::move(text) + "\n"](std::string& out) {
            out = text;
            return 0;
          },
          nullptr};
}

class Tree {
 public:
  // path is relative to the class folder; its folders are made.
  void Add(const std::string& path, File file) {
    AddFolder(path.substr(0, path.rfind('/')));
    folders_[Parent(path)].insert(path.substr(path.rfind('/') + 1));
    files_[path] = std::move(file);
  }

  void AddFolder(const std::string& path) {
    if (path.empty() || folders_.count(path) != 0) return;
    folders_[path];
    if (path.find('/') == std::string::npos) {
      folders_[""].insert(path);
      return;
    }
    AddFolder(Parent(path));
    folders_[Parent(path)].insert(path.substr(path.rfind('/') + 1));
  }

  File* FindFile(const std::string& path) {
    const auto file = files_.find(path);
    return file == files_.end() ? nullptr : &file->second;
  }

  [[nodiscard]] const std::set<std::string>* FindFolder(const std::string& path) const {
    const auto folder = folders_.find(path);
    return folder == folders_.end() ? nullptr : &folder->second;
  }

 private:
  static std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }

  std::map<std::string, File> files_;
  std::map<std::string, std::set<std::string>> folders_{{"", {}}};
};

// ---------------------------------------------------------------------------------------------
// What a driver keeps until a restart.

constexpr std::string_view kSingle = "single";
constexpr std::string_view kBulk = "bulk";

struct BootState {
  std::map<std::string, std::string> passwords;  // role folder -> the password written to it
  // role folder -> its signature files written ("signature", "save_signature") -> the text
  std::map<std::string, std::map<std::string, std::string>> signatures;
  std::string saveMode{kSingle};
  bool saveRequired = false;    // a bulk change waits for a save
  bool rebootRequired = false;  // a bulk save was made
  bool pendingReboot = false;

  static BootState From(const Json& boot) {
    BootState state;
    if (!boot.is_object()) return state;
    if (const auto passwords = boot.find("passwords"); passwords != boot.end())
      for (const auto& [role, password] : passwords->items())
        if (!password.get_ref<const std::string&>().empty())
          state.passwords[role] = password.get<std::string>();
    if (const auto signatures = boot.find("signatures"); signatures != boot.end())
      for (const auto& [role, files] : signatures->items())
        for (const auto& [file, text] : files.items())
          state.signatures[role][file] = text.get<std::string>();
    state.saveMode = boot.value("saveMode", std::string(kSingle));
    state.saveRequired = boot.value("saveRequired", false);
    state.rebootRequired = boot.value("rebootRequired", false);
    state.pendingReboot = boot.value("pendingReboot", false);
    return state;
  }

  // Only what differs from a fresh boot.
  [[nodiscard]] Json ToJson() const {
    Json boot = Json::object();
    if (!passwords.empty()) boot["passwords"] = passwords;
    if (!signatures.empty()) boot["signatures"] = signatures;
    if (saveMode != kSingle) boot["saveMode"] = saveMode;
    if (saveRequired) boot["saveRequired"] = true;
    if (rebootRequired) boot["rebootRequired"] = true;
    if (pendingReboot) boot["pendingReboot"] = true;
    return boot;
  }

  [[nodiscard]] const std::string& Password(const std::string& role) const {
    static const std::string none;
    const auto found = passwords.find(role);
    return found == passwords.end() ? none : found->second;
  }

  // The text a signature file holds; nullptr when it was never written.
  [[nodiscard]] const std::string* Signature(const std::string& role,
                                             const std::string& file) const {
    const auto files = signatures.find(role);
    if (files == signatures.end()) return nullptr;
    const auto text = files->second.find(file);
    return text == files->second.end() ? nullptr : &text->second;
  }

  void Store(const std::string& role, std::string password) {
    if (password.empty())
      passwords.erase(role);
    else
      passwords[role] = std::move(password);
  }
};

class Driver {
 public:
  Driver(std::shared_ptr<SimulatedMachine> machine, BootState boot)
      : machine_(std::move(machine)), boot_(std::move(boot)) {}
  virtual ~Driver() = default;
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // The module's load: what it reads of the firmware once, and the files of its folder.
  virtual void Load(Tree& tree, const std::string& folder) = 0;
  [[nodiscard]] const BootState& Boot() const { return boot_; }

 protected:
  File PendingReboot() {
    return {0444,
            [this](std::string& out) {
              out = boot_.pendingReboot ? "1\n" : "0\n";
              return 0;
            },
            {}};
  }

  std::shared_ptr<SimulatedMachine> machine_;
  BootState boot_;
};

// ---------------------------------------------------------------------------------------------
// think-lmi: Lenovo's Item,Value settings. Every method is called twice, as the driver does for
// firmware that needs the second call; the first refusal ends it.

constexpr std::u16string_view kLenovoNamespace = u"root\\WMI";

struct LenovoMethod {
  std::u16string_view className, method, parameter;
  bool guessed = false;  // a signed class: its method's name is the firmware's (LenovoSignedMethod)
};
constexpr LenovoMethod kSetSetting{u"Lenovo_SetBiosSetting", u"SetBiosSetting", u"parameter"};
constexpr LenovoMethod kSaveSettings{u"Lenovo_SaveBiosSettings", u"SaveBiosSettings", u"parameter"};
constexpr LenovoMethod kSetPassword{u"Lenovo_SetBiosPassword", u"SetBiosPassword", u"parameter"};
constexpr LenovoMethod kOpcode{u"Lenovo_WmiOpcodeInterface", u"WmiOpcodeInterface", u"Parameter"};
constexpr LenovoMethod kSelections{u"Lenovo_GetBiosSelections", u"GetBiosSelections", u"Item"};
// The certificate methods the driver calls by GUID (SetBiosSettingCert, SaveBiosSettingCert,
// UpdateBiosCert, ClearBiosCert, CertToPassword; SetBiosCert and CertThumbprint, which no Windows
// class is known for, by the simulation's names).
constexpr LenovoMethod kSetSettingCert{u"Lenovo_SetBiosSettingEx", u"SetBiosSettingEx",
                                       u"parameter", true};
constexpr LenovoMethod kSaveSettingsCert{u"Lenovo_SaveBiosSettingsEx", u"SaveBiosSettingsEx",
                                         u"parameter", true};
constexpr LenovoMethod kUpdateCert{u"Lenovo_UpdateBiosCertificate", u"UpdateBiosCertificate",
                                   u"parameter", true};
constexpr LenovoMethod kClearCert{u"Lenovo_ClearBiosCertificate", u"ClearBiosCertificate",
                                  u"parameter", true};
constexpr LenovoMethod kCertToPassword{u"Lenovo_ChangeBiosCertificateToPassword",
                                       u"ChangeBiosCertificateToPassword", u"parameter", true};
constexpr LenovoMethod kSetCert{u"Lenovo_SetBiosCertificate", u"SetBiosCertificate", u"parameter"};
constexpr LenovoMethod kThumbprint{u"Lenovo_CertificateThumbprint", u"CertificateThumbprint",
                                   u"parameter"};
constexpr std::string_view kThumbprints[] = {"Md5", "Sha1", "Sha256"};

// The driver's map of answers; an answer it does not know is EPERM. A ThinkCentre answers its
// certificate installs with texts of their own.
int LenovoError(const std::string& answer) {
  static const std::pair<std::string_view, int> kAnswers[] = {
      {"Success", 0},
      {"Not Supported", EOPNOTSUPP},
      {"Invalid Parameter", EINVAL},
      {"Access Denied", EACCES},
      {"System Busy", EBUSY},
      {"Set Certificate operation was successful.", 0}};
  static const std::pair<std::string_view, int> kFailures[] = {
      {"Invalid Parameter.", EINVAL},       {"Invalid certificate type.", EINVAL},
      {"Invalid password format.", EINVAL}, {"Password retry count exceeded.", EACCES},
      {"Password Invalid.", EACCES},        {"Operation aborted.", EBUSY},
      {"No free slots to write.", ENOSPC},  {"Certificate not found.", EEXIST},
      {"Internal error.", EFAULT},          {"Certificate too large.", EFBIG}};
  constexpr std::string_view kFailed = "Set Certificate operation failed with status:";
  for (const auto& [text, error] : kAnswers)
    if (answer == text) return error;
  if (answer.compare(0, kFailed.size(), kFailed) == 0)
    for (const auto& [text, error] : kFailures)
      if (answer.compare(kFailed.size(), std::string::npos, text) == 0) return error;
  return EPERM;
}

// sysfs_match_string: the position of the word written (one line feed may end it), or -1.
int MatchWord(const std::string& written, const std::vector<std::string_view>& words) {
  const std::string_view text = !written.empty() && written.back() == '\n'
                                    ? std::string_view(written).substr(0, written.size() - 1)
                                    : std::string_view(written);
  for (std::size_t i = 0; i < words.size(); ++i)
    if (text == words[i]) return static_cast<int>(i);
  return -1;
}

std::string UpToLineFeed(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

class ThinkLmi : public Driver {
 public:
  ThinkLmi(std::shared_ptr<SimulatedMachine> machine, BootState boot, bool newer)
      : Driver(std::move(machine), std::move(boot)), newer_(newer) {}

  void Load(Tree& tree, const std::string& folder) override {
    Firmware firmware(machine_, kLenovoNamespace);
    // The opcode interface came with a later kernel than the one without type files.
    opcodes_ = newer_ && firmware.HasClass(kOpcode.className);
    // Certificates came later still: the methods to install one and to set and save signed.
    certificates_ = newer_ && firmware.HasClass(kSetCert.className) &&
                    firmware.HasClass(kSetSettingCert.className) &&
                    firmware.HasClass(kSaveSettingsCert.className);
    model_ = LenovoModelOf(machine_->document[std::string(kLenovoSection)]);
    centre_ = certificates_ && model_.thinkCentre;
    LoadSettings(firmware);
    LoadPasswordSettings(firmware);
    const std::string attributes = folder + "/attributes/";
    // The settings stay where they are for the module's life.
    for (const Setting& setting : settings_) {
      const std::string base = attributes + setting.folder + "/";
      tree.Add(base + "current_value",
               {0644, [this, &setting](std::string& out) { return ShowCurrent(setting, out); },
                [this, &setting](const std::string& in) { return StoreCurrent(setting, in); }});
      tree.Add(base + "display_name", Fixed(setting.folder));
      if (newer_) {
        if (setting.possible) tree.Add(base + "possible_values", Fixed(*setting.possible));
        const bool choices = setting.possible && setting.possible->find(';') != std::string::npos;
        tree.Add(base + "type", Fixed(choices ? "enumeration" : "string"));
      } else {
        tree.Add(base + "possible_values", Fixed(setting.possible.value_or("")));
      }
    }
    tree.Add(attributes + "pending_reboot", PendingReboot());
    if (newer_)
      tree.Add(attributes + "save_settings",
               {0644,
                [this](std::string& out) {
                  out = boot_.saveMode + "\n";
                  return 0;
                },
                [this](const std::string& in) { return StoreSaveSettings(in); }});
    const std::string admin = folder + "/authentication/Admin/";
    tree.Add(admin + "role", Fixed("bios-admin"));
    tree.Add(admin + "is_enabled", Fixed(enabled_ || Installed(kAdmin) ? "1" : "0"));
    tree.Add(admin + "mechanism", Fixed(Installed(kAdmin) ? "certificate" : "password"));
    if (certificates_) AddCertificateFiles(tree, admin, kAdmin);
    // The system management certificate, on machines that can hold two.
    if (certificates_ && mode_ >= 3) {
      const std::string system = folder + "/authentication/System/";
      tree.Add(system + "role", Fixed("system"));
      tree.Add(system + "is_enabled", Fixed(Installed(kSystem) ? "1" : "0"));
      tree.Add(system + "mechanism", Fixed(Installed(kSystem) ? "certificate" : "password"));
      AddCertificateFiles(tree, system, kSystem);
    }
    tree.Add(admin + "min_password_length", Fixed(std::to_string(minLength_)));
    tree.Add(admin + "max_password_length", Fixed(std::to_string(maxLength_)));
    tree.Add(admin + "current_password",
             {0200, {}, [this](const std::string& in) { return StoreCurrentPassword(in); }});
    tree.Add(admin + "new_password",
             {0200, {}, [this](const std::string& in) { return StoreNewPassword(in); }});
  }

 private:
  struct Setting {
    std::u16string path;  // its instance's path
    std::string name;     // as the driver names it to the firmware
    std::string folder;
    std::optional<std::string> possible;
  };

  static std::optional<std::string> Optional(const std::string& text) {
    constexpr std::string_view kOptional = "[Optional:";
    const std::size_t open = text.find(kOptional);
    if (open == std::string::npos) return std::nullopt;
    const std::size_t start = open + kOptional.size();
    const std::size_t end = text.find(']', start);
    if (end == std::string::npos) return std::nullopt;
    return text.substr(start, end - start);
  }

  void LoadSettings(Firmware& firmware) {
    std::set<std::string> folders;
    const auto items = firmware.Instances(u"Lenovo_BiosSetting");
    for (std::size_t i = 0; items && i < items->size(); ++i) {
      const std::string text =
          VariantText(PropertyOf(*(*items)[i], u"CurrentSetting")).value_or("");
      const std::string name = text.substr(0, text.find(','));
      if (text.empty() || name == "Reserved") continue;
      // A file name cannot hold '/'. The older driver also names the setting so to the firmware.
      std::string folder = name;
      for (char& c : folder)
        if (c == '/') c = '\\';
      if (!folders.insert(folder).second) continue;
      settings_.push_back({PathOf(*(*items)[i]), newer_ ? name : folder, folder, std::nullopt});
      if (newer_) settings_.back().possible = Optional(text);
    }
    // Firmware without GetBiosSelections keeps the choices in the value, where the newer driver
    // looks for them; the simulated firmware answers the empty text for such an item.
    for (Setting& setting : settings_) {
      const wbem::ObjectPtr out = firmware.Call(
          kSelections.className, kSelections.method,
          {{kSelections.parameter, wbem::Variant::String(Utf8ToUtf16(setting.name))}});
      const auto answer = out ? VariantText(PropertyOf(*out, u"Selections")) : std::nullopt;
      if (!newer_ || (answer && !answer->empty())) setting.possible = answer;
      if (newer_ && setting.possible)
        for (char& c : *setting.possible)
          if (c == ',') c = ';';
    }
  }

  void LoadPasswordSettings(Firmware& firmware) {
    const auto passwords = firmware.Instances(u"Lenovo_BiosPasswordSettings");
    if (!passwords || passwords->empty()) return;
    wbem::ClassObject& settings = *passwords->front();
    const std::int32_t state = VariantNumber(PropertyOf(settings, u"PasswordState")).value_or(0);
    mode_ = VariantNumber(PropertyOf(settings, u"PasswordMode")).value_or(0);
    enabled_ = (state & 0x2) != 0;
    // A ThinkPad tells each certificate by a bit of the state, a ThinkCentre by any mode.
    adminCertificate_ = centre_ ? mode_ != 0 : (state & 0x80) != 0;
    systemCertificate_ = !centre_ && (state & 0x100) != 0;
    minLength_ = VariantNumber(PropertyOf(settings, u"MinLength")).value_or(0);
    maxLength_ = VariantNumber(PropertyOf(settings, u"MaxLength")).value_or(0);
  }

  // The firmware's answer to one call; none when the call fails or answers no text.
  std::optional<std::string> Answer(const LenovoMethod& method, const std::string& text) {
    const std::u16string name =
        method.guessed ? Utf8ToUtf16(LenovoSignedMethod(model_, Utf16ToUtf8(method.className)))
                       : std::u16string(method.method);
    Firmware firmware(machine_, kLenovoNamespace);
    const wbem::ObjectPtr out = firmware.Call(
        method.className, name, {{method.parameter, wbem::Variant::String(Utf8ToUtf16(text))}});
    return out ? VariantText(PropertyOf(*out, u"return")) : std::nullopt;
  }

  int Call(const LenovoMethod& method, const std::string& text) {
    for (int i = 0; i < 2; ++i) {
      const auto answer = Answer(method, text);
      if (!answer) return EIO;
      if (const int error = LenovoError(*answer)) return error;
    }
    return 0;
  }

  // ---------------------------------------------------------------------------------------------
  // Certificates: the role folders' signature files, kept until a restart, and the operations.

  static constexpr std::string_view kAdmin = "Admin";
  static constexpr std::string_view kSystem = "System";

  [[nodiscard]] bool Installed(std::string_view role) const {
    return role == kAdmin ? adminCertificate_ : systemCertificate_;
  }

  [[nodiscard]] const std::string* Signature(std::string_view role, const char* file) const {
    return boot_.Signature(std::string(role), file);
  }

  // A non-empty signature of the role, or nullptr.
  [[nodiscard]] const std::string* Signed(std::string_view role) const {
    const std::string* signature = Signature(role, "signature");
    return signature == nullptr || signature->empty() ? nullptr : signature;
  }

  // Machines that can hold two certificates are told which one: "SVC,a,b" or "SMC,a,b".
  [[nodiscard]] std::string CertCommand(std::string_view role, const std::string& first,
                                        const std::string& second) const {
    std::string text = first + "," + second;
    if (mode_ < 3) return text;
    return (role == kAdmin ? "SVC," : "SMC,") + text;
  }

  void AddCertificateFiles(Tree& tree, const std::string& base, std::string_view role) {
    for (const char* file : {"signature", "save_signature"})
      tree.Add(base + file, {0200, {}, [this, role, file](const std::string& in) {
                               boot_.signatures[std::string(role)][file] = UpToLineFeed(in);
                               return 0;
                             }});
    tree.Add(base + "certificate", {0200, {}, [this, role](const std::string& in) {
                                      return StoreCertificate(role, UpToLineFeed(in));
                                    }});
    tree.Add(base + "cert_to_password", {0200, {}, [this, role](const std::string& in) {
                                           return StoreCertToPassword(role, UpToLineFeed(in));
                                         }});
    tree.Add(base + "certificate_thumbprint",
             {0444, [this, role](std::string& out) { return ShowThumbprint(role, out); }, {}});
  }

  // The empty text clears the certificate, another updates the one installed or installs one.
  int StoreCertificate(std::string_view role, const std::string& certificate) {
    if (certificate.empty()) {
      const std::string* signature = Signed(role);
      if (signature == nullptr) return EACCES;
      if (!model_.serial || model_.serial->empty()) return ENODEV;
      return Call(kClearCert, CertCommand(role, *model_.serial, *signature));
    }
    if (Installed(role) || (role == kSystem && adminCertificate_)) {
      const std::string* signature = enabled_ ? Signed(kAdmin) : Signed(role);
      if (signature == nullptr) return EACCES;
      return Call(kUpdateCert, CertCommand(role, certificate, *signature));
    }
    if (!enabled_ || AdminPassword().empty()) return EACCES;
    if (centre_) return Call(kSetCert, certificate + "," + AdminPassword() + ",ascii,us");
    return Call(kSetCert, CertCommand(role, certificate, AdminPassword()));
  }

  int StoreCertToPassword(std::string_view role, const std::string& password) {
    if (!Installed(role)) return EINVAL;
    const std::string* signature = Signed(role);
    if (signature == nullptr) return EACCES;
    return Call(kCertToPassword, CertCommand(role, password, *signature));
  }

  // One query per digest, made once: "Md5 : <answer>" and so on, a line each.
  int ShowThumbprint(std::string_view role, std::string& out) {
    if (!Installed(role) || centre_) return EOPNOTSUPP;
    out.clear();
    for (const std::string_view kind : kThumbprints) {
      const std::string argument = mode_ >= 3
                                       ? std::string(role == kAdmin ? "SVC," : "SMC,").append(kind)
                                       : std::string(kind);
      const auto answer = Answer(kThumbprint, argument);
      if (!answer) return EIO;
      out.append(kind).append(" : ").append(*answer).append("\n");
    }
    return 0;
  }

  // The administrator's two signatures, which every signed change needs written.
  [[nodiscard]] bool SignaturesWritten() const {
    return Signature(kAdmin, "signature") != nullptr &&
           Signature(kAdmin, "save_signature") != nullptr;
  }

  [[nodiscard]] bool SignsChanges() const { return certificates_ && adminCertificate_; }

  int Opcode(const std::string& code, const std::string& value) {
    return Call(kOpcode, code + ":" + value + ";");
  }

  [[nodiscard]] const std::string& AdminPassword() const { return boot_.Password("Admin"); }

  // The password as older firmware takes it inside a text.
  [[nodiscard]] std::string PasswordFields() const {
    return AdminPassword().empty() ? std::string() : AdminPassword() + ",ascii,us;";
  }

  int ShowCurrent(const Setting& setting, std::string& out) {
    Firmware firmware(machine_, kLenovoNamespace);
    const wbem::ObjectPtr item = firmware.Object(setting.path);
    if (!item) return EIO;
    const auto text = VariantText(PropertyOf(*item, u"CurrentSetting"));
    if (!text) return EIO;
    const std::size_t comma = text->find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == text->size()) return EINVAL;
    std::string value = text->substr(comma + 1);
    // The newer driver leaves out what follows the value ("[Optional:...]").
    if (newer_) value = value.substr(0, value.find(';'));
    out = value + "\n";
    return 0;
  }

  int StoreCurrent(const Setting& setting, const std::string& written) {
    if (boot_.saveMode == kBulk && boot_.rebootRequired) return EPERM;
    const std::string value = UpToLineFeed(written);
    const bool bulk = boot_.saveMode == kBulk;
    int error = 0;
    if (SignsChanges()) {
      // The administrator's signatures, even where the system management certificate is
      // installed; an empty one is sent as it is.
      if (!SignaturesWritten()) return EINVAL;
      error =
          Call(kSetSettingCert, setting.name + "," + value + "," + *Signature(kAdmin, "signature"));
      if (error == 0 && !bulk)
        error = Call(kSaveSettingsCert, *Signature(kAdmin, "save_signature"));
    } else if (opcodes_) {
      // The password goes first and is checked by the save; a wrong one surfaces there.
      if (!AdminPassword().empty()) error = Opcode("WmiOpcodePasswordAdmin", AdminPassword());
      if (error == 0) error = Call(kSetSetting, setting.name + "," + value + ";");
      if (error == 0 && !bulk) error = Call(kSaveSettings, "");
    } else {
      const std::string password = PasswordFields();
      error =
          Call(kSetSetting, setting.name + "," + value + (password.empty() ? ";" : "," + password));
      if (error == 0 && !bulk) error = Call(kSaveSettings, password);
    }
    if (error == 0 && bulk) boot_.saveRequired = true;
    if (error == 0) boot_.pendingReboot = true;
    return error;
  }

  int StoreSaveSettings(const std::string& written) {
    const int command = MatchWord(written, {kSingle, kBulk, "save"});
    if (command < 0) return EINVAL;
    if (command < 2) {
      boot_.saveMode = command == 0 ? kSingle : kBulk;
      return 0;
    }
    if (boot_.saveMode == kSingle) return EOPNOTSUPP;
    if (!boot_.saveRequired) return ENOENT;
    int error = 0;
    if (SignsChanges()) {
      if (!SignaturesWritten()) return EINVAL;
      error = Call(kSaveSettingsCert, *Signature(kAdmin, "save_signature"));
    } else if (opcodes_) {
      if (!AdminPassword().empty()) {
        error = Opcode("WmiOpcodePasswordAdmin", AdminPassword());
        if (error != 0) return error;
      }
      error = Call(kSaveSettings, "");
    } else {
      error = Call(kSaveSettings, PasswordFields());
    }
    // Whatever the save answered, the driver takes no more bulk changes until a restart.
    boot_.saveRequired = false;
    boot_.rebootRequired = true;
    if (error == 0) boot_.pendingReboot = true;
    return error;
  }

  // The length counts the line feed; the driver keeps at most one byte less than the maximum.
  int StoreCurrentPassword(const std::string& written) {
    const auto length = static_cast<std::int64_t>(written.size());
    if (length != 0 && (length < minLength_ || length > maxLength_)) return EINVAL;
    const std::string kept =
        written.substr(0, static_cast<std::size_t>(std::max<std::int64_t>(maxLength_ - 1, 0)));
    boot_.Store("Admin", UpToLineFeed(kept));
    return 0;
  }

  int StoreNewPassword(const std::string& written) {
    const std::string wanted = UpToLineFeed(written);
    const auto length = static_cast<std::int64_t>(wanted.size());
    if (length != 0 && (length < minLength_ || length > maxLength_)) return EINVAL;
    const std::string& current = AdminPassword();
    if (!opcodes_) return Call(kSetPassword, "pap," + current + "," + wanted + ",ascii,us;");
    const std::pair<const char*, const std::string*> steps[] = {
        {"WmiOpcodePasswordAdmin", &current},
        {"WmiOpcodePasswordCurrent01", &current},
        {"WmiOpcodePasswordNew01", &wanted}};
    int error = Opcode("WmiOpcodePasswordType", "pap");
    for (const auto& [code, value] : steps)
      if (error == 0) error = Opcode(code, *value);
    return error == 0 ? Call(kOpcode, "WmiOpcodePasswordSetUpdate;") : error;
  }

  bool newer_;
  bool opcodes_ = false;
  bool certificates_ = false;  // the driver's certificate support
  bool centre_ = false;        // its ThinkCentre mode
  LenovoModel model_;
  std::vector<Setting> settings_;
  bool enabled_ = false;
  std::int32_t mode_ = 0;
  bool adminCertificate_ = false;
  bool systemCertificate_ = false;
  std::int32_t minLength_ = 0;
  std::int32_t maxLength_ = 0;
};

// ---------------------------------------------------------------------------------------------
// dell-wmi-sysman: attributes of three classes, each setter answering a Status and taking the
// stored administrator password as SecType, SecHndCount and SecHandle.

constexpr std::u16string_view kDellAttributes = u"root\\dcim\\sysman\\biosattributes";
constexpr std::u16string_view kDellSecurity = u"root\\dcim\\sysman\\wmisecurity";
constexpr std::size_t kDellMaxPassword = 512;

int DellError(std::int32_t status) {
  static const int kErrors[] = {0, EIO, EINVAL, EACCES, EOPNOTSUPP, ENOMEM, EPROTO};
  return status >= 0 && status < 7 ? kErrors[status] : EIO;
}

// The items of an array property cut to its count, each ended by ';'.
std::string Joined(wbem::ClassObject& object, std::u16string_view name,
                   std::u16string_view countName) {
  std::vector<std::u16string> items = PropertyOf(object, name).strings;
  const auto count = VariantNumber(PropertyOf(object, countName));
  if (count && *count >= 0 && static_cast<std::size_t>(*count) < items.size())
    items.resize(static_cast<std::size_t>(*count));
  std::string text;
  for (const auto& item : items) text += Utf16ToUtf8(item) + ";";
  return text;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The kernel's kstrtoint with base 0: a sign, then "0x" for hexadecimal, "0" for octal, else
// decimal; the whole text must be the number. 0, EINVAL or ERANGE.
int KernelInteger(std::string_view text, std::int32_t& number) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) text.remove_prefix(1);
  std::uint64_t base = 10;
  if (!text.empty() && text[0] == '0') {
    base = 8;
    if (text.size() > 2 && (text[1] == 'x' || text[1] == 'X') && DigitValue(text[2]) < 16) {
      base = 16;
      text.remove_prefix(2);
    }
  }
  std::uint64_t value = 0;
  std::size_t digits = 0;
  bool overflow = false;
  for (; digits < text.size(); ++digits) {
    const auto digit = static_cast<std::uint64_t>(DigitValue(text[digits]));
    if (digit >= base) break;
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) overflow = true;
    value = value * base + digit;
  }
  if (overflow) return ERANGE;
  if (digits == 0 || digits != text.size()) return EINVAL;
  const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
  if (value > limit) return ERANGE;
  number = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                    : static_cast<std::int32_t>(value);
  return 0;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

class DellSysman : public Driver {
 public:
  using Driver::Driver;

  void Load(Tree& tree, const std::string& folder) override {
    LoadAttributes(tree, folder + "/attributes/");
    LoadPasswords(tree, folder + "/authentication/");
    tree.Add(folder + "/attributes/pending_reboot", PendingReboot());
    tree.Add(folder + "/attributes/reset_bios",
             {0644,
              [](std::string& out) {
                out = "builtinsafe lastknowngood factory custom \n";
                return 0;
              },
              [this](const std::string& in) { return StoreResetBios(in); }});
  }

 private:
  enum class Kind { Enumeration, Integer, String };
  struct AttributeClass {
    Kind kind;
    std::u16string_view name;
    const char* type;
  };
  static constexpr AttributeClass kClasses[] = {
      {Kind::Enumeration, u"EnumerationAttribute", "enumeration"},
      {Kind::Integer, u"IntegerAttribute", "integer"},
      {Kind::String, u"StringAttribute", "string"}};

  // What a written value is checked against: what the module read at load.
  struct Attribute {
    const AttributeClass* type = nullptr;
    std::u16string path;  // its instance's path
    std::string name;
    std::string possible;
    std::int32_t low = 0, high = 0;
  };

  void LoadAttributes(Tree& tree, const std::string& attributes) {
    Firmware firmware(machine_, kDellAttributes);
    std::set<std::string> names;
    for (const AttributeClass& type : kClasses) {
      const auto items = firmware.Instances(type.name);
      for (std::size_t i = 0; items && i < items->size(); ++i) {
        wbem::ClassObject& item = *(*items)[i];
        Attribute attribute{&type,
                            PathOf(item),
                            VariantText(PropertyOf(item, u"AttributeName")).value_or(""),
                            {},
                            0,
                            0};
        // An empty name, or one seen before, is passed over.
        if (attribute.name.empty() || !names.insert(attribute.name).second) continue;
        const std::string base = attributes + attribute.name + "/";
        tree.Add(base + "type", Fixed(type.type));
        tree.Add(base + "display_name", Fixed(Shown(PropertyOf(item, u"DisplayName"))));
        tree.Add(base + "default_value", Fixed(Shown(PropertyOf(item, u"DefaultValue"))));
        tree.Add(base + "dell_modifier", Fixed(Shown(PropertyOf(item, u"Modifiers"))));
        auto number = [&](std::u16string_view name) {
          return VariantNumber(PropertyOf(item, name)).value_or(0);
        };
        if (type.kind == Kind::Enumeration) {
          attribute.possible = Joined(item, u"PossibleValue", u"PossibleValueCount");
          tree.Add(base + "possible_values", Fixed(attribute.possible));
          tree.Add(base + "dell_value_modifier",
                   Fixed(Joined(item, u"ValueModifiers", u"ValueModifierCount")));
        } else if (type.kind == Kind::Integer) {
          attribute.low = number(u"LowerBound");
          attribute.high = number(u"UpperBound");
          tree.Add(base + "min_value", Fixed(std::to_string(attribute.low)));
          tree.Add(base + "max_value", Fixed(std::to_string(attribute.high)));
          tree.Add(base + "scalar_increment", Fixed(std::to_string(number(u"ScalarIncrement"))));
        } else {
          attribute.low = number(u"MinLength");
          attribute.high = number(u"MaxLength");
          tree.Add(base + "min_length", Fixed(std::to_string(attribute.low)));
          tree.Add(base + "max_length", Fixed(std::to_string(attribute.high)));
        }
        const std::size_t at = attributes_.size();
        attributes_.push_back(std::move(attribute));
        tree.Add(base + "current_value",
                 {0600, [this, at](std::string& out) { return ShowCurrent(attributes_[at], out); },
                  [this, at](const std::string& in) { return StoreCurrent(attributes_[at], in); }});
      }
    }
  }

  void LoadPasswords(Tree& tree, const std::string& authentication) {
    Firmware firmware(machine_, kDellSecurity);
    std::set<std::string> names;
    const auto items = firmware.Instances(u"PasswordObject");
    for (std::size_t i = 0; items && i < items->size(); ++i) {
      wbem::ClassObject& item = *(*items)[i];
      const std::string name = VariantText(PropertyOf(item, u"NameId")).value_or("");
      if (name.empty() || !names.insert(name).second) continue;
      const std::string base = authentication + name + "/";
      tree.Add(base + "is_enabled",
               {0444, [this, i](std::string& out) { return ShowEnabled(i, out); }, {}});
      if (name == "Admin" || name == "System")
        tree.Add(base + "role", Fixed(name == "Admin" ? "bios-admin" : "power-on"));
      else
        tree.Add(base + "role", {0444, [](std::string&) { return EIO; }, {}});
      tree.Add(base + "mechanism", Fixed("password"));
      tree.Add(base + "min_password_length",
               Fixed(Shown(PropertyOf(item, u"MinimumPasswordLength"))));
      tree.Add(base + "max_password_length",
               Fixed(Shown(PropertyOf(item, u"MaximumPasswordLength"))));
      tree.Add(base + "current_password", {0200, {}, [this, name](const std::string& in) {
                                             return StoreCurrentPassword(name, in);
                                           }});
      tree.Add(base + "new_password", {0200, {}, [this, name](const std::string& in) {
                                         return StoreNewPassword(name, in);
                                       }});
    }
  }

  // SecType, SecHndCount and SecHandle: the stored administrator password's bytes.
  [[nodiscard]] std::vector<MethodArgument> Security() const {
    const std::string& password = boot_.Password("Admin");
    return {{u"SecType", wbem::Variant::Int32(password.empty() ? 0 : 1)},
            {u"SecHndCount", wbem::Variant::Int32(static_cast<std::int32_t>(password.size()))},
            {u"SecHandle", wbem::Variant::ByteArray({password.begin(), password.end()})}};
  }

  // A setter's Status as an error number; a call the firmware answered marks a pending reboot
  // where it sets attributes, whatever the Status.
  int Status(std::u16string_view nameSpace, std::u16string_view className,
             std::u16string_view method, std::vector<MethodArgument> arguments,
             bool setsAttributes) {
    std::vector<MethodArgument> all = Security();
    for (auto& argument : arguments) all.push_back(std::move(argument));
    Firmware firmware(machine_, nameSpace);
    const wbem::ObjectPtr out = firmware.Call(className, method, all);
    if (!out) return EIO;
    if (setsAttributes) boot_.pendingReboot = true;
    const auto status = VariantNumber(PropertyOf(*out, u"Status"));
    return status ? DellError(*status) : EIO;
  }

  int ShowCurrent(const Attribute& attribute, std::string& out) {
    Firmware firmware(machine_, kDellAttributes);
    const wbem::ObjectPtr item = firmware.Object(attribute.path);
    if (!item) return EIO;
    const wbem::Variant value = PropertyOf(*item, u"CurrentValue");
    const auto text = attribute.type->kind == Kind::Integer
                          ? (VariantNumber(value) ? std::optional(Shown(value)) : std::nullopt)
                          : VariantText(value);
    if (!text) return EINVAL;
    out = *text + "\n";
    return 0;
  }

  [[nodiscard]] static int Check(const Attribute& attribute, std::string& value) {
    if (attribute.type->kind == Kind::Enumeration) {
      std::string_view choices = attribute.possible;
      while (!choices.empty()) {
        const std::size_t end = choices.find(';');
        if (end != 0 && SameIgnoringCase(choices.substr(0, end), value)) return 0;
        if (end == std::string_view::npos) break;
        choices.remove_prefix(end + 1);
      }
      return EINVAL;
    }
    if (attribute.type->kind == Kind::String) {
      const auto length = static_cast<std::int64_t>(value.size());
      return length < attribute.low || length > attribute.high ? EINVAL : 0;
    }
    std::int32_t number = 0;
    if (const int error = KernelInteger(value, number)) return error;
    if (number < attribute.low || number > attribute.high) return EINVAL;
    // The firmware would store a number written with '+' as 0.
    if (value[0] == '+') value.erase(0, 1);
    return 0;
  }

  int StoreCurrent(const Attribute& attribute, const std::string& written) {
    std::string value = UpToLineFeed(written);
    if (const int error = Check(attribute, value)) return error;
    return Status(kDellAttributes, u"BIOSAttributeInterface", u"SetAttribute",
                  {{u"AttributeName", wbem::Variant::String(Utf8ToUtf16(attribute.name))},
                   {u"AttributeValue", wbem::Variant::String(Utf8ToUtf16(value))}},
                  true);
  }

  int ShowEnabled(std::size_t index, std::string& out) {
    Firmware firmware(machine_, kDellSecurity);
    const auto items = firmware.Instances(u"PasswordObject");
    if (!items || index >= items->size()) return EIO;
    const auto set = VariantNumber(PropertyOf(*(*items)[index], u"IsPasswordSet"));
    if (!set) return EINVAL;
    out = std::to_string(*set) + "\n";
    return 0;
  }

  int StoreCurrentPassword(const std::string& role, const std::string& written) {
    std::string password = written;
    if (!password.empty() && password.back() == '\n') password.pop_back();
    if (password.size() >= kDellMaxPassword) return EINVAL;
    if (role != "Admin" && role != "System") return EIO;
    boot_.Store(role, std::move(password));
    return 0;
  }

  int StoreNewPassword(const std::string& role, const std::string& written) {
    const std::string wanted = UpToLineFeed(written);
    if (wanted.size() > kDellMaxPassword || (role != "Admin" && role != "System")) return EINVAL;
    const int error =
        Status(kDellSecurity, u"SecurityInterface", u"SetNewPassword",
               {{u"NameId", wbem::Variant::String(Utf8ToUtf16(role))},
                {u"OldPassword", wbem::Variant::String(Utf8ToUtf16(boot_.Password(role)))},
                {u"NewPassword", wbem::Variant::String(Utf8ToUtf16(wanted))}},
               false);
    // What the driver holds becomes the new password.
    if (error == 0) boot_.Store(role, wanted);
    return error;
  }

  int StoreResetBios(const std::string& written) {
    const int type = MatchWord(written, {"builtinsafe", "lastknowngood", "factory", "custom"});
    if (type < 0) return EINVAL;
    return Status(kDellAttributes, u"BIOSAttributeInterface", u"SetBIOSDefaults",
                  {{u"DefaultType", wbem::Variant::Int32(type)}}, true);
  }

  std::vector<Attribute> attributes_;
};

// ---------------------------------------------------------------------------------------------
// The section's shape.

struct DriverShape {
  std::string_view name;    // the section's "driver"
  std::string_view folder;  // the driver's folder in the class folder
  std::string_view maker;   // the section of the firmware it calls
  std::vector<std::string_view> roles;
  bool saves;  // whether it can wait for a bulk save
};

const DriverShape* DriverOf(const Json& section) {
  static const DriverShape kShapes[] = {
      {"think-lmi", "thinklmi", kLenovoSection, {"Admin"}, true},
      {"dell-wmi-sysman", "dell-wmi-sysman", kDellSection, {"Admin", "System"}, false}};
  const auto driver = section.find("driver");
  if (driver == section.end() || !driver->is_string()) return nullptr;
  for (const DriverShape& shape : kShapes)
    if (driver->get_ref<const std::string&>() == shape.name) return &shape;
  return nullptr;
}

bool CheckCounts(const Json& counts, const std::string& label, std::string& error) {
  error = label + R"( must be {"reads": {...}, "writes": {...}}, each a file's path and a count)";
  if (!counts.is_object()) return false;
  for (const auto& [key, files] : counts.items()) {
    if ((key != "reads" && key != "writes") || !files.is_object()) return false;
    for (const auto& [path, count] : files.items())
      if (!count.is_number_unsigned()) return false;
  }
  return true;
}

// think-lmi's signature files as written: {"Admin": {"signature": "...", "save_signature": "..."}}.
bool CheckSignatures(const Json& signatures, const std::string& label, std::string& error) {
  error = label + R"( must be {"Admin" or "System": {"signature" or "save_signature": text}})";
  if (!signatures.is_object()) return false;
  for (const auto& [role, files] : signatures.items()) {
    if ((role != "Admin" && role != "System") || !files.is_object()) return false;
    for (const auto& [file, text] : files.items())
      if ((file != "signature" && file != "save_signature") || !text.is_string()) return false;
  }
  return true;
}

bool CheckBoot(const Json& boot, const std::string& label, const DriverShape& shape,
               std::string& error) {
  if (!boot.is_object()) {
    error = label + " is not an object";
    return false;
  }
  std::vector<schema::Key> keys = {
      {"passwords",
       [&shape](const Json& passwords, const std::string& name, std::string& reason) {
         if (!passwords.is_object()) {
           reason = name + " is not an object";
           return false;
         }
         for (const auto& [role, password] : passwords.items()) {
           if (std::find(shape.roles.begin(), shape.roles.end(), role) == shape.roles.end() ||
               !password.is_string()) {
             reason = std::string(name).append(": \"").append(role).append(
                 "\" is no role of the driver with a password text");
             return false;
           }
         }
         return true;
       }},
      schema::Bool("pendingReboot")};
  if (shape.saves)
    keys.insert(keys.end(), {schema::Bool("saveRequired"),
                             schema::Bool("rebootRequired"),
                             schema::Choice("saveMode", {kSingle, kBulk}),
                             {"signatures", CheckSignatures}});
  return schema::Read(boot, keys, error, {"boot", "key", schema::Order::InFileOrder});
}

// ---------------------------------------------------------------------------------------------
// The tree that shows the class folder.

class KernelFiles : public platform::KernelTree {
 public:
  KernelFiles(std::shared_ptr<SimulatedMachine> machine, std::string root)
      : machine_(std::move(machine)), root_(std::move(root)) {
    const Json& section = Section();
    shape_ = DriverOf(section);
    BootState boot = BootState::From(section.value("boot", Json()));
    written_ = boot.ToJson();
    if (shape_->saves)
      driver_ = std::make_unique<ThinkLmi>(machine_, std::move(boot),
                                           section.value("generation", "newer") == "newer");
    else
      driver_ = std::make_unique<DellSysman>(machine_, std::move(boot));
    counting_ = section.value("count", false);
  }
  // What was counted reaches the file when the driver goes.
  ~KernelFiles() override {
    if (!machine_->countsDirty) return;
    machine_->dirty = true;
    std::string error;
    if (!SaveMachine(*machine_, error))
      platform::Os().WriteErr("Simulated machine: " + error + "\n");
  }
  KernelFiles(const KernelFiles&) = delete;
  KernelFiles& operator=(const KernelFiles&) = delete;

  bool ListFolder(const std::string& path, std::vector<std::string>& names) override {
    std::string relative;
    if (!Below(path, relative)) return false;
    const std::set<std::string>* folder = Loaded().FindFolder(relative);
    if (folder == nullptr) return false;
    names.assign(folder->begin(), folder->end());
    return true;
  }

  bool GetFileStatus(const std::string& path, platform::FileStatus& status) override {
    std::string relative;
    if (!Below(path, relative)) return false;
    if (Loaded().FindFolder(relative) != nullptr) {
      status = {true, 0755};
      return true;
    }
    const File* file = Loaded().FindFile(relative);
    if (file == nullptr) return false;
    status = {false, file->mode};
    return true;
  }

  // Root reads and writes as the kernel lets it: a file without a show or store cannot be opened
  // that way (EACCES); a write of more than a page is refused, and one of no bytes never reaches
  // the driver.
  bool ReadTreeFile(const std::string& base, const std::string& relative,
                    std::string& bytes) override {
    std::string path;
    if (!Below(base + "/" + relative, path)) return false;
    File* file = Loaded().FindFile(path);
    if (file == nullptr) return false;
    Count("reads", path);
    std::string shown;
    const bool read = file->show && file->show(shown) == 0;
    if (read) bytes = std::move(shown);
    Settle();
    return read;
  }

  int WriteTreeFile(const std::string& base, const std::string& relative,
                    std::string_view bytes) override {
    std::string path;
    if (!Below(base + "/" + relative, path)) return ENOENT;
    if (Loaded().FindFolder(path) != nullptr) return EISDIR;
    File* file = Loaded().FindFile(path);
    if (file == nullptr) return ENOENT;
    if (!file->store) return EACCES;
    constexpr std::size_t kPage = 4096;
    if (bytes.size() > kPage) return E2BIG;
    Count("writes", path);
    const int error =
        bytes.empty() ? 0 : file->store(std::string(bytes.substr(0, bytes.find('\0'))));
    Settle();
    return error;
  }

  [[nodiscard]] const std::string& Root() const { return root_; }

 private:
  Json& Section() { return machine_->document[std::string(kKernelSection)]; }

  // The path relative to the class folder, when it lies there.
  bool Below(const std::string& path, std::string& relative) const {
    if (path == root_) {
      relative.clear();
      return true;
    }
    if (path.size() <= root_.size() || path.compare(0, root_.size(), root_) != 0 ||
        path[root_.size()] != '/')
      return false;
    relative = path.substr(root_.size() + 1);
    return true;
  }

  // The module loads when its folder is first looked at.
  Tree& Loaded() {
    if (!loaded_) {
      loaded_ = true;
      tree_.AddFolder(std::string(shape_->folder));
      driver_->Load(tree_, std::string(shape_->folder));
      Settle();
    }
    return tree_;
  }

  void Count(const char* what, const std::string& path) {
    if (!counting_) return;
    Json& files = Section()["counts"][what];
    Json& count = files[path.substr(shape_->folder.size() + 1)];
    count = (count.is_number_unsigned() ? count.get<std::uint64_t>() : 0) + 1;
    NoteCounts(machine_);
  }

  // The driver's memory goes into the section, and the section into the file.
  void Settle() {
    Json boot = driver_->Boot().ToJson();
    if (boot != written_) {
      if (boot.empty())
        Section().erase("boot");
      else
        Section()["boot"] = boot;
      written_ = std::move(boot);
      machine_->dirty = true;
    }
    std::string error;
    if (machine_->dirty && !SaveMachine(*machine_, error))
      platform::Os().WriteErr("Simulated machine: " + error + "\n");
  }

  std::shared_ptr<SimulatedMachine> machine_;
  std::string root_;
  const DriverShape* shape_ = nullptr;
  std::unique_ptr<Driver> driver_;
  Json written_;
  bool counting_ = false;
  bool loaded_ = false;
  Tree tree_;
};

// The installed kernel.
std::unique_ptr<KernelFiles>& Current() {
  static std::unique_ptr<KernelFiles> installed;
  return installed;
}

}  // namespace

bool CheckKernelSection(const Json& document, std::string& error) {
  const Json& section = document.at(std::string(kKernelSection));
  if (!section.is_object()) {
    error = "the section is not an object";
    return false;
  }
  const DriverShape* shape = DriverOf(section);
  if (shape == nullptr) {
    error = R"("driver" must be "think-lmi" or "dell-wmi-sysman")";
    return false;
  }
  if (!document.contains(std::string(shape->maker))) {
    error = "the driver " + std::string(shape->name) + " calls the firmware of a \"" +
            std::string(shape->maker) + "\" section, which the machine lacks";
    return false;
  }
  std::vector<schema::Key> keys = {
      {"driver"},
      schema::Bool("count"),
      {"counts", CheckCounts},
      {"boot", [shape](const Json& boot, const std::string& label, std::string& reason) {
         return CheckBoot(boot, label, *shape, reason);
       }}};
  if (shape->saves) keys.push_back(schema::Choice("generation", {"newer", "older"}));
  return schema::Read(section, keys, error, {"", "key", schema::Order::InFileOrder});
}

void InstallKernelTree(const std::shared_ptr<SimulatedMachine>& machine) {
  Current().reset();
  if (!machine || !machine->document.contains(std::string(kKernelSection))) return;
  // Below the machine file, which is a file: no folder of the computer can be there.
  Current() = std::make_unique<KernelFiles>(machine, machine->path + "/firmware-attributes");
}

platform::KernelTree* InstalledKernelTree() {
  return Current().get();
}

std::string KernelTreeRoot() {
  return Current() ? Current()->Root() : std::string();
}

}  // namespace corvane::sim
