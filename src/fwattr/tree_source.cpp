#include "fwattr/tree_source.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/kernel_tree.h"
#include "platform/text.h"

namespace corvane::fwattr {
namespace {

std::string Join(const std::string& folder, std::string_view name) {
  std::string path = folder;
  path += '/';
  path += name;
  return path;
}

std::vector<std::string> SortedFolder(platform::KernelTree& tree, const std::string& path) {
  std::vector<std::string> names;
  if (!tree.ListFolder(path, names)) return {};
  std::sort(names.begin(), names.end());  // char_traits<char> compares as unsigned bytes
  return names;
}

bool IsFolder(platform::KernelTree& tree, const std::string& path) {
  platform::FileStatus status;
  return tree.GetFileStatus(path, status) && status.isFolder;
}

constexpr std::string_view kBulk = "bulk";
constexpr std::string_view kSingle = "single";
constexpr std::string_view kSave = "save";
// The texts a certificate signs; think-lmi sends the firmware's item name, whose '/' its folder
// names show as '\'.
constexpr std::string_view kSignedSet = "Lenovo_SetBiosSettingEx,";
constexpr std::string_view kSignedSave = "Lenovo_SaveBiosSettingsEx";
std::string SignedText(const std::string& folder, const std::string& value) {
  std::string item = folder;
  std::replace(item.begin(), item.end(), '\\', '/');
  return std::string(kSignedSet) + item + "," + value;
}

// The most attributes the kernel's documentation lets one boot save.
constexpr int kSavesPerBoot = 48;

class TreeSource : public AttributeSource {
 public:
  TreeSource(platform::KernelTree& tree, std::string driver)
      : tree_(tree), driver_(std::move(driver)) {}
  ~TreeSource() override { EndBatch(); }
  TreeSource(const TreeSource&) = delete;
  TreeSource& operator=(const TreeSource&) = delete;

  [[nodiscard]] std::string Label() const override {
    const std::size_t slash = driver_.rfind('/');
    return slash == std::string::npos ? driver_ : driver_.substr(slash + 1);
  }

  std::vector<RawAttribute> ReadAll() override {
    std::vector<RawAttribute> all;
    for (const auto& name : SortedFolder(tree_, Full(attributes_))) {
      RawAttribute raw;
      if (ReadFolder(name, raw)) all.push_back(std::move(raw));
    }
    return all;
  }

  bool Read(std::string_view name, RawAttribute& raw) override {
    // The folder of that very name, without listing them all.
    if (const std::string exact(name); IsFolder(tree_, Full(Join(attributes_, exact))))
      return ReadFolder(exact, raw);
    const std::string wanted = platform::AsciiUpper(platform::Trim(name));
    for (const auto& candidate : SortedFolder(tree_, Full(attributes_)))
      if (platform::AsciiUpper(platform::Trim(candidate)) == wanted &&
          IsFolder(tree_, Full(Join(attributes_, candidate))))
        return ReadFolder(candidate, raw);
    return false;
  }

  // Read once: is_enabled is a call into the firmware on some drivers.
  AdminPassword Admin() override {
    if (!admin_) admin_ = ReadAdmin();
    return *admin_;
  }

  bool RestartPending() override {
    return platform::Trim(ReadIfPresent(attributes_, "pending_reboot").value_or("")) == "1";
  }

  int Write(const std::string& name, const std::string& value, const Password& password) override {
    // A change without its signature is not sent, nor held to be sent.
    if (Admin().certificate && SignatureOf(name, SignedText(name, value)) == nullptr)
      return kUnsigned;
    // Without the password in place nothing is written: the write would only be refused.
    if (const int error = OpenSession(password)) return error;
    // Where changes can wait for one save, a second change switches to waiting, so that a run
    // costs the firmware's storage one save however many settings it changes.
    if (canWait_ && !waiting_) {
      if (!held_) {
        held_ = Held{name, value};
        return 0;
      }
      if (const int error = WriteValue(Join(attributes_, "save_settings"), kBulk)) {
        ReportWriteError("save_settings", error);
      } else {
        switched_ = waiting_ = true;
      }
      canWait_ = false;
      // A refused first change shows in the read-back, which finds its old value.
      const Held first = *std::exchange(held_, std::nullopt);
      WriteSetting(first.name, first.value);
    }
    return WriteSetting(name, value);
  }

  int Finish() override { return EndBatch(); }

  [[nodiscard]] bool Changed() const override { return changed_; }

  // After a save in bulk mode the driver refuses bulk writes until a restart, so changes are
  // then saved one by one, and the firmware takes only so many saves in one boot.
  int ChangesBeforeRestart() override {
    return !SaveMode().empty() && RestartPending() ? kSavesPerBoot : -1;
  }

  int ChangePassword(const Password& current, const Password& wanted) override {
    EndBatch();
    admin_.reset();
    const std::string folder = AdminFolder();
    if (folder.empty()) return ENOENT;
    const std::string session = Join(folder, "current_password");
    int error = WriteValue(session, current.bytes);
    if (error == 0) error = WriteValue(Join(folder, "new_password"), wanted.bytes);
    if (error != 0) ReportWriteError(kPasswordWhat, error);
    ClearPassword(folder);
    return error;
  }

  int ChangeCertificate(CertificateAction action, const std::string& value,
                        const std::string& authority) override {
    EndBatch();
    admin_.reset();
    const std::string folder = AdminFolder();
    if (folder.empty()) return ENOENT;
    // The install goes with the supervisor password, the others with their signature; the
    // driver reads either at the write that follows.
    const bool install = action == CertificateAction::kInstall;
    const std::string session = Join(folder, install ? "current_password" : "signature");
    int error = WriteValue(session, authority);
    std::string what = install ? std::string(kPasswordWhat) : "signature";
    if (error == 0) {
      what = action == CertificateAction::kToPassword ? "cert_to_password" : "certificate";
      error = WriteValue(Join(folder, what), action == CertificateAction::kClear ? "" : value);
    }
    if (error != 0) ReportWriteError(what, error);
    if (install)
      ClearPassword(folder);
    else
      WriteValue(session, "");
    return error;
  }

  bool Thumbprints(std::string& text) override {
    const std::string folder = AdminFolder();
    const auto read =
        folder.empty() ? std::nullopt : ReadIfPresent(folder, "certificate_thumbprint");
    if (read) text = *read;
    return read.has_value();
  }

 private:
  struct Held {
    std::string name, value;
  };

  AdminPassword ReadAdmin() {
    AdminPassword admin;
    const std::string folder = AdminFolder();
    if (folder.empty()) return admin;
    admin.exists = true;
    admin.isSet = platform::Trim(ReadIfPresent(folder, "is_enabled").value_or("")) == "1";
    admin.certificate =
        platform::Trim(ReadIfPresent(folder, "mechanism").value_or("")) == "certificate";
    admin.minLength = ReadNumber(folder, "min_password_length");
    admin.maxLength = ReadNumber(folder, "max_password_length");
    return admin;
  }
  // Finish, also for the destructor, where no virtual call is made.
  int EndBatch() {
    if (!sessionOpen_) return 0;
    int result = 0;
    // A lone change is saved by the driver itself.
    if (held_) result = WriteSetting(held_->name, held_->value);
    held_.reset();
    if (waiting_ && wrote_) {
      if (const int error = WriteValue(Join(attributes_, "save_settings"), kSave)) {
        ReportWriteError("saving the changes", error);
        result = error;
      } else {
        changed_ = true;
      }
    }
    if (switched_)
      if (const int error = WriteValue(Join(attributes_, "save_settings"), found_))
        ReportWriteError("save_settings", error);
    // No password is left in the kernel, whatever happened, nor a signature.
    if (!sessionFolder_.empty()) ClearPassword(sessionFolder_);
    if (signedSession_) ClearSignatures();
    signedSession_ = false;
    sessionOpen_ = switched_ = waiting_ = canWait_ = wrote_ = false;
    sessionFolder_.clear();
    found_.clear();
    return result;
  }

  bool ReadFolder(const std::string& name, RawAttribute& raw) {
    raw = RawAttribute();
    raw.name = name;
    const std::string folder = Join(attributes_, name);
    // A plain file of the driver (pending_reboot) has no current_value below it.
    const std::string currentPath = Join(folder, "current_value");
    const auto current = ReadIfPresent(folder, "current_value");
    if (!current) return false;
    raw.current = *current;
    platform::FileStatus status;
    raw.writable =
        tree_.GetFileStatus(Full(currentPath), status) && (status.permissions & 0222) != 0;
    raw.type = platform::Trim(ReadIfPresent(folder, "type").value_or(""));
    const bool typeless = raw.type.empty();
    if (typeless || raw.type == "enumeration")
      raw.possible = ReadIfPresent(folder, "possible_values");
    if (raw.type == "ordered-list") raw.elements = ReadIfPresent(folder, "elements");
    if (raw.type == "integer") {
      raw.minValue = ReadNumber(folder, "min_value");
      raw.maxValue = ReadNumber(folder, "max_value");
      raw.increment = ReadNumber(folder, "scalar_increment");
    }
    if (typeless || raw.type == "string") {
      raw.minLength = ReadNumber(folder, "min_length");
      raw.maxLength = ReadNumber(folder, "max_length");
    }
    raw.modifier = ReadIfPresent(folder, "dell_modifier").value_or("");
    raw.valueModifier = ReadIfPresent(folder, "dell_value_modifier").value_or("");
    return true;
  }

  // The role folder of the administrator: the first whose role reads bios-admin, else, for
  // drivers that name no roles, the one called Admin.
  // Looked for once.
  const std::string& AdminFolder() {
    if (!adminFolder_) adminFolder_ = FindAdminFolder();
    return *adminFolder_;
  }

  std::string FindAdminFolder() {
    const std::string authentication = "authentication";
    const std::vector<std::string> roles = SortedFolder(tree_, Full(authentication));
    for (const auto& name : roles)
      if (platform::Trim(ReadIfPresent(Join(authentication, name), "role").value_or("")) ==
          "bios-admin")
        return Join(authentication, name);
    for (const auto& name : roles)
      if (EqualsAsciiNoCase(name, "Admin") && IsFolder(tree_, Full(Join(authentication, name))))
        return Join(authentication, name);
    return {};
  }

  // single or bulk where the driver can save in bulk; empty where it cannot.
  std::string SaveMode() {
    const std::string mode =
        platform::Trim(ReadIfPresent(attributes_, "save_settings").value_or(""));
    return mode == kSingle || mode == kBulk ? mode : std::string();
  }

  // The password goes to the kernel once per batch, before the first write; the save mode is
  // chosen then.
  int OpenSession(const Password& password) {
    if (sessionOpen_ && password == sessionPassword_) return 0;
    EndBatch();
    sessionOpen_ = true;
    sessionPassword_ = password;
    found_ = SaveMode();
    // Once a bulk save waits for a restart, bulk writes are refused: each change is then saved
    // on its own.
    const bool restart = !found_.empty() && RestartPending();
    if (found_ == kBulk && restart) {
      if (const int error = WriteValue(Join(attributes_, "save_settings"), kSingle))
        ReportWriteError("save_settings", error);
      else
        switched_ = true;
    }
    waiting_ = found_ == kBulk && !switched_;
    canWait_ = found_ == kSingle && !restart;
    const AdminPassword admin = Admin();
    // The driver sends the save's signature with every save it makes, single or bulk.
    if (admin.certificate) {
      const std::string* save = SignatureOf("saving the changes", std::string(kSignedSave));
      signedSession_ = save != nullptr;
      const int error =
          save == nullptr ? kUnsigned : WriteValue(Join(AdminFolder(), "save_signature"), *save);
      if (error != 0) {
        if (error != kUnsigned) ReportWriteError("save_signature", error);
        EndBatch();
      }
      return error;
    }
    if (!admin.isSet) return 0;
    sessionFolder_ = AdminFolder();
    const int error = WriteValue(Join(sessionFolder_, "current_password"), password.bytes);
    if (error != 0) {
      ReportWriteError(kPasswordWhat, error);
      EndBatch();
    }
    return error;
  }

  int WriteSetting(const std::string& name, const std::string& value) {
    // Where a certificate is the administrator, each change goes with its own signature, which
    // the driver holds for the next write.
    if (Admin().certificate) {
      const std::string* signature = SignatureOf(name, SignedText(name, value));
      if (signature == nullptr) return kUnsigned;
      if (const int error = WriteValue(Join(AdminFolder(), "signature"), *signature)) {
        ReportWriteError("signature", error);
        return error;
      }
    }
    const int error = WriteValue(Join(Join(attributes_, name), "current_value"), value);
    if (error != 0) {
      ReportWriteError(name, error);
      return error;
    }
    wrote_ = true;
    // A single save is the driver's own; waiting changes count once they are saved.
    if (!waiting_) changed_ = true;
    return 0;
  }

  // The driver keeps what it was given until a restart: the empty texts take their place.
  void ClearSignatures() {
    for (const char* name : {"signature", "save_signature"})
      WriteValue(Join(AdminFolder(), name), "");
  }

  // Ends a password session. The drivers take a lone line feed as the empty password, but
  // think-lmi counts it against its shortest password and then takes only a lone NUL.
  void ClearPassword(const std::string& folder) {
    const std::string file = Join(folder, "current_password");
    if (WriteValue(file, "") == EINVAL) tree_.WriteTreeFile(driver_, file, std::string(1, '\0'));
  }

  // Paths below the driver folder, which may itself be a link (as under /sys/class), are opened
  // without following any link, so that a tree someone else controls cannot steer a read or a
  // write outside it.
  [[nodiscard]] std::string Full(const std::string& relative) const {
    return Join(driver_, relative);
  }

  // A missing file costs one failed open, less than listing every folder first. The kernel ends
  // every value with one line feed, which is taken off.
  std::optional<std::string> ReadIfPresent(const std::string& folder, std::string_view name) {
    std::string text;
    if (!tree_.ReadTreeFile(driver_, Join(folder, name), text)) return std::nullopt;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  std::optional<std::int32_t> ReadNumber(const std::string& folder, std::string_view name) {
    const auto text = ReadIfPresent(folder, name);
    return text ? ParseInt32(*text) : std::nullopt;
  }

  // The kernel drops a write of no bytes before the driver sees it, so every value goes with
  // the line feed the drivers strip, as echo writes it: the empty text then reaches them too.
  int WriteValue(const std::string& relative, std::string_view text) {
    std::string bytes(text);
    bytes += '\n';
    return tree_.WriteTreeFile(driver_, relative, bytes);
  }

  platform::KernelTree& tree_;
  std::string driver_;
  const std::string attributes_ = "attributes";
  bool sessionOpen_ = false;
  Password sessionPassword_;
  std::string sessionFolder_;  // where the password went; empty when none was needed
  std::string found_;          // save_settings as found: empty where the driver has none
  bool switched_ = false;      // this batch switched save_settings from what it found
  bool waiting_ = false;       // writes wait for the save at the end of the batch
  bool canWait_ = false;       // a second change may still switch to waiting
  bool wrote_ = false;
  std::optional<Held> held_;
  bool signedSession_ = false;  // signatures went to the kernel this batch
  bool changed_ = false;
  std::optional<AdminPassword> admin_;
  std::optional<std::string> adminFolder_;
};

}  // namespace

std::vector<std::string> FindDriverFolders(platform::KernelTree& tree, const std::string& root) {
  if (root.empty()) return {};
  if (IsFolder(tree, Join(root, "attributes"))) return {root};
  std::vector<std::string> drivers;
  for (const auto& name : SortedFolder(tree, root)) {
    std::string driver = Join(root, name);
    if (IsFolder(tree, Join(driver, "attributes"))) drivers.push_back(std::move(driver));
  }
  return drivers;
}

std::unique_ptr<AttributeSource> CreateTreeSource(platform::KernelTree& tree,
                                                  const std::string& driver) {
  return std::make_unique<TreeSource>(tree, driver);
}

}  // namespace corvane::fwattr
