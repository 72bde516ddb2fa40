// Lenovo's BIOS-settings WMI interface as an attribute source. Each setting is one
// "Item,Value" text; its choices come from GetBiosSelections or from the value's own markup.
// Changes wait until SaveBiosSettings, so a batch makes its changes and saves once. The
// password travels inside the texts, or through the opcode interface of newer firmware; a
// first administrator password can be set only in the firmware's own setup, and a new one takes
// effect at the next boot.
#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fwattr/maker_sources.h"
#include "fwattr/wmi_client.h"
#include "platform/hex.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace corvane::fwattr {
namespace {

constexpr std::u16string_view kNamespace = u"\\\\.\\root\\WMI";
constexpr std::u16string_view kSettingClass = u"Lenovo_BiosSetting";
constexpr std::u16string_view kOpcodeClass = u"Lenovo_WmiOpcodeInterface";
constexpr std::string_view kSaveWhat = "saving the changes";
// The signed classes where a certificate is the administrator. Their method and parameter names
// are not published: these follow the older classes (method = class name without "Lenovo_",
// one text "parameter").
constexpr std::u16string_view kSignedSetClass = u"Lenovo_SetBiosSettingEx";
constexpr std::u16string_view kSignedSaveClass = u"Lenovo_SaveBiosSettingsEx";
constexpr std::string_view kSignedSetText = "Lenovo_SetBiosSettingEx,";
constexpr std::string_view kSignedSaveText = "Lenovo_SaveBiosSettingsEx";
constexpr std::string_view kUnansweredSigned =
    "the firmware's WMI interface did not take the signed call: the names of Lenovo's signed "
    "methods are not published, and this firmware may name them otherwise than this program "
    "does; nothing was changed";

// PasswordState: the supervisor password is set; on ThinkPads, the supervisor's certificate
// authenticates instead (0x80; 0x100 is the system management one, which changes no setting: the
// kernel's think-lmi sends settings with the supervisor's signatures or password alone).
// PasswordMode 3 says only that a ThinkPad can hold both; ThinkCentres and ThinkStations report
// a certificate by any PasswordMode but 0, as think-lmi reads them.
constexpr std::int32_t kSupervisorBit = 0x2;
constexpr std::int32_t kCertificateBits = 0x80;

struct Reply {
  int error;
  const char* meaning;
};

Reply ReplyOf(std::string_view answer) {
  if (answer == "Success") return {0, ""};
  if (answer == "Access Denied")
    return {EACCES, "the BIOS administrator (supervisor) password is missing or wrong"};
  if (answer == "Invalid Parameter") return {EINVAL, "the firmware refused the name or the value"};
  if (answer == "Not Supported") return {EOPNOTSUPP, "the firmware does not support this"};
  if (answer == "System Busy")
    return {EBUSY, "changes made earlier wait for a restart; restart, then try again"};
  return {EIO, "an answer this program does not know"};
}

bool HasNoCase(std::string_view text, std::string_view word) {
  return platform::AsciiUpper(text).find(word) != std::string::npos;
}

// The password as the texts carry it: the text, or its scan codes as hexadecimal digits
// ("1e302e"), and the name of that encoding.
std::string Encoded(const Password& password) {
  return password.scanCodes ? platform::EncodeHex(password.bytes, platform::HexCase::Lower)
                            : password.bytes;
}
std::string Encoding(const Password& password) {
  return password.scanCodes ? "scancode,us" : "ascii,us";
}
// "pw,ascii,us": the password, its encoding and the keyboard it was typed on.
std::string Triple(const Password& password) {
  return Encoded(password) + "," + Encoding(password);
}

// ',' and ';' end the fields of the texts a password travels in.
bool Carriable(const Password& password) {
  return password.scanCodes || password.bytes.find_first_of(",;") == std::string::npos;
}

class LenovoSource : public AttributeSource {
 public:
  explicit LenovoSource(wbem::LocatorFactory locators) : locators_(std::move(locators)) {}
  ~LenovoSource() override { EndBatch(); }
  LenovoSource(const LenovoSource&) = delete;
  LenovoSource& operator=(const LenovoSource&) = delete;

  [[nodiscard]] std::string Label() const override { return "root\\WMI"; }

  // Reads every item; the number of instances the firmware has, settings or not.
  std::size_t Walk() {
    std::vector<RawAttribute> all;
    paths_.clear();
    const auto objects = Connection().Instances(kSettingClass);
    for (const auto& object : objects) {
      RawAttribute raw;
      if (!ReadSetting(*object, raw)) continue;
      wbem::Variant path;
      if (object->Get(u"__RELPATH", path) == wbem::kOk &&
          path.type == wbem::Variant::Type::String && !path.string.empty())
        paths_[raw.name] = path.string;
      all.push_back(std::move(raw));
    }
    cache_ = std::move(all);
    unused_ = true;
    return objects.size();
  }

  // The walk that found the interface serves the first read.
  std::vector<RawAttribute> ReadAll() override {
    if (!unused_) Walk();
    unused_ = false;
    return *cache_;
  }

  // One item, read again by its instance's path; the whole walk only where no path is known.
  bool Read(std::string_view name, RawAttribute& raw) override {
    if (!cache_) Walk();
    if (!FindByKey(*cache_, name, raw)) return false;
    const auto path = paths_.find(raw.name);
    if (path == paths_.end()) {
      Walk();
      return FindByKey(*cache_, name, raw);
    }
    const wbem::ObjectPtr object = Connection().Object(path->second);
    return object && ReadSetting(*object, raw);
  }

  // Older firmware lists the choices in the value itself; the others answer for them, asked only
  // for the items a run needs.
  void AskChoices(RawAttribute& raw) override {
    raw.possible = Selections(raw.name);
    raw.choicesLater = false;
  }

  AdminPassword Admin() override {
    if (!admin_) {
      WmiConnection& connection = Connection();
      AdminPassword admin;
      const auto settings = connection.Instances(u"Lenovo_BiosPasswordSettings");
      if (!settings.empty()) {
        wbem::ClassObject& object = *settings.front();
        const std::int32_t state = ReadNumber(object, u"PasswordState").value_or(0);
        admin.exists = true;
        admin.isSet = (state & kSupervisorBit) != 0;
        // Certificates sign changes: marked in the state, or (desktops) in the mode.
        admin.certificate = (state & kCertificateBits) != 0 ||
                            (ReadNumber(object, u"PasswordMode").value_or(0) != 0 && Desktop());
        // Bit 0 ASCII text, bit 1 scan codes; firmware that says neither takes text.
        const std::int32_t encodings = ReadNumber(object, u"SupportedEncodings").value_or(1);
        admin.takesScanCodes = (encodings & 0x2) != 0;
        admin.takesText = (encodings & 0x1) != 0 || !admin.takesScanCodes;
        admin.minLength = ReadNumber(object, u"MinLength");
        admin.maxLength = ReadNumber(object, u"MaxLength");
      }
      admin.firstSettable = false;
      // A machine that did not answer is asked again next time.
      if (!connection.connected()) return admin;
      admin_ = admin;
    }
    AdminPassword admin = *admin_;
    // The password changed this run is the one that counts from the next boot on.
    if (changedTo_) admin.isSet = !changedTo_->empty();
    return admin;
  }

  // The interface reports no waiting changes; those this run saved wait for the next boot.
  bool RestartPending() override { return changed_; }

  int Write(const std::string& name, const std::string& value, const Password& password) override {
    // They would end the value's field: the firmware would read the rest as a password.
    if (value.find_first_of(",;") != std::string::npos) {
      ReportFirmwareAnswer(name, "',' or ';' in the value",
                           "the firmware's interface cannot carry these characters");
      return EINVAL;
    }
    if (Admin().certificate) return WriteSigned(name, value);
    if (const int error = OpenBatch(password)) return error;
    std::string parameter = name + "," + value;
    if (!sessionByOpcode_ && !session_.empty()) parameter.append(",").append(Triple(session_));
    const int error = Call(u"Lenovo_SetBiosSetting", u"SetBiosSetting",
                           {{u"parameter", Text(parameter + ";")}}, name);
    if (error == 0) waiting_ = true;
    return error;
  }

  int Finish() override { return EndBatch(); }

  // The certificate classes Lenovo names (update, clear, back to a password) take the argument
  // and its signature in one text; the install and the thumbprints have no public class.
  int ChangeCertificate(CertificateAction action, const std::string& value,
                        const std::string& authority) override {
    EndBatch();
    const auto call = [&](std::u16string_view className, std::u16string_view method) {
      return Call(className, method, {{u"parameter", Text(value + "," + authority)}},
                  "the certificate", kUnansweredSigned);
    };
    switch (action) {
      case CertificateAction::kUpdate:
        return call(u"Lenovo_UpdateBiosCertificate", u"UpdateBiosCertificate");
      case CertificateAction::kClear:
        return call(u"Lenovo_ClearBiosCertificate", u"ClearBiosCertificate");
      case CertificateAction::kToPassword:
        return call(u"Lenovo_ChangeBiosCertificateToPassword", u"ChangeBiosCertificateToPassword");
      case CertificateAction::kInstall:
        break;
    }
    return EOPNOTSUPP;
  }

  [[nodiscard]] bool Changed() const override { return changed_; }
  [[nodiscard]] bool PasswordAwaitsRestart() const override { return changedTo_.has_value(); }

  int ChangePassword(const Password& current, const Password& wanted) override {
    EndBatch();
    if (!Admin().isSet) {
      ReportFirmwareAnswer(kPasswordWhat, "not set",
                           "this firmware takes a first administrator password only in its own "
                           "setup screens");
      return EOPNOTSUPP;
    }
    const Password effective = InEffect(current);
    if (!Carriable(effective) || !Carriable(wanted)) {
      ReportFirmwareAnswer(kPasswordWhat, "',' or ';' in a password",
                           "the firmware's interface cannot carry these characters");
      return Carriable(effective) ? EINVAL : EACCES;
    }
    int error = 0;
    if (Opcodes(effective) && !wanted.scanCodes) {
      // The sequence the kernel sends: the supervisor password goes with the change itself,
      // which checks it; an Admin told on its own earlier could block the change.
      for (const std::string& step : {std::string("WmiOpcodePasswordType:pap;"),
                                      "WmiOpcodePasswordAdmin:" + effective.bytes + ";",
                                      "WmiOpcodePasswordCurrent01:" + effective.bytes + ";",
                                      "WmiOpcodePasswordNew01:" + wanted.bytes + ";",
                                      std::string("WmiOpcodePasswordSetUpdate;")})
        if ((error = Call(kOpcodeClass, u"WmiOpcodeInterface", {{u"Parameter", Text(step)}},
                          kPasswordWhat)) != 0)
          break;
    } else {
      const std::string parameter = std::string("pap,") + Encoded(effective) + "," +
                                    Encoded(wanted) + "," + Encoding(effective) + ";";
      error = Call(u"Lenovo_SetBiosPassword", u"SetBiosPassword", {{u"parameter", Text(parameter)}},
                   kPasswordWhat);
    }
    // Until the next boot the firmware still takes the password it had; a change to itself
    // leaves nothing to wait for.
    if (error == 0 && !(wanted == effective)) {
      if (!before_) before_ = effective;
      changedTo_ = wanted;
    }
    return error;
  }

 private:
  // One connection for the run (made again only when it failed).
  WmiConnection& Connection() {
    if (!connection_ || !connection_->connected()) connection_.emplace(locators_, kNamespace);
    return *connection_;
  }

  // An item as its CurrentSetting gives it: "Item,Value". Empty instances and reserved items are
  // no settings. The choices known from an earlier ask stay.
  bool ReadSetting(wbem::ClassObject& object, RawAttribute& raw) {
    const std::string setting = ReadText(object, u"CurrentSetting").value_or("");
    const std::size_t comma = setting.find(',');
    raw = RawAttribute();
    raw.name = setting.substr(0, comma);
    if (comma == std::string::npos || platform::Trim(raw.name).empty() ||
        platform::Trim(raw.name) == "Reserved")
      return false;
    raw.current = setting.substr(comma + 1);
    if (!HasNoCase(raw.current, "[OPTIONAL:")) {
      if (const auto known = selections_.find(raw.name); known != selections_.end())
        raw.possible = known->second;
      else
        raw.choicesLater = true;
    }
    return true;
  }

  // The kernel tells the desktops' firmware by their certificate methods, whose class names
  // Windows shows are not published; their model names (ThinkCentre, ThinkStation) tell them
  // here. A machine that does not say is a ThinkPad.
  bool Desktop() {
    WmiConnection system(locators_, u"\\\\.\\root\\cimv2");
    for (const auto& product : system.Instances(u"Win32_ComputerSystemProduct")) {
      const std::string model = platform::AsciiUpper(ReadText(*product, u"Version").value_or(""));
      return model.rfind("THINKCENTRE", 0) == 0 || model.rfind("THINKSTATION", 0) == 0;
    }
    return false;
  }

  // Choices by item, asked once per run: they do not change with the values.
  std::optional<std::string> Selections(const std::string& item) {
    if (const auto known = selections_.find(item); known != selections_.end()) return known->second;
    std::optional<std::string> choices;
    if (!noSelections_) {
      wbem::ObjectPtr out;
      const wbem::HResult hr = Connection().Call(u"Lenovo_GetBiosSelections", u"GetBiosSelections",
                                                 {{u"Item", Text(item)}}, out);
      // Firmware without the method lists its choices in the values.
      if (!wbem::Succeeded(hr)) noSelections_ = true;
      if (out) choices = ReadText(*out, u"Selections");
      if (choices && platform::Trim(*choices).empty()) choices.reset();
    }
    selections_[item] = choices;
    return choices;
  }

  // The password the firmware checks this boot for the one given.
  [[nodiscard]] Password InEffect(const Password& password) const {
    return changedTo_ && before_ && password == *changedTo_ ? *before_ : password;
  }

  bool Opcodes(const Password& password) {
    if (!opcode_) opcode_ = !Connection().Instances(kOpcodeClass).empty();
    return *opcode_ && !password.empty() && !password.scanCodes;
  }

  // Opens a batch under the password; newer firmware takes it once, through the opcode
  // interface, before the first change.
  int OpenBatch(const Password& given) {
    const Password password = InEffect(given);
    if (batchOpen_ && password == session_) return 0;
    EndBatch();
    if (!Carriable(password)) {
      ReportFirmwareAnswer(kPasswordWhat, "',' or ';' in a password",
                           "the firmware's interface cannot carry these characters");
      return EACCES;
    }
    if (Opcodes(password))
      if (const int error =
              Call(kOpcodeClass, u"WmiOpcodeInterface",
                   {{u"Parameter", Text("WmiOpcodePasswordAdmin:" + password.bytes + ";")}},
                   kPasswordWhat))
        return error;
    batchOpen_ = true;
    session_ = password;
    sessionByOpcode_ = Opcodes(password);
    return 0;
  }

  // A change signed over the exact text the firmware checks; it waits for the signed save.
  int WriteSigned(const std::string& name, const std::string& value) {
    const std::string* signature =
        SignatureOf(name, std::string(kSignedSetText) + name + "," + value);
    if (signature == nullptr) return kUnsigned;
    batchOpen_ = signed_ = true;
    const int error = Call(kSignedSetClass, u"SetBiosSettingEx",
                           {{u"parameter", Text(name + "," + value + "," + *signature)}}, name,
                           kUnansweredSigned);
    if (error == 0) waiting_ = true;
    return error;
  }

  // Saves what the batch changed, once.
  int EndBatch() {
    if (!batchOpen_) return 0;
    int result = 0;
    if (waiting_ && signed_) {
      const std::string* signature = SignatureOf(kSaveWhat, std::string(kSignedSaveText));
      result = signature == nullptr
                   ? kUnsigned
                   : Call(kSignedSaveClass, u"SaveBiosSettingsEx",
                          {{u"parameter", Text(*signature)}}, kSaveWhat, kUnansweredSigned);
      if (result == 0) changed_ = true;
    } else if (waiting_) {
      const std::string parameter =
          !sessionByOpcode_ && !session_.empty() ? Triple(session_) + ";" : std::string();
      result = Call(u"Lenovo_SaveBiosSettings", u"SaveBiosSettings",
                    {{u"parameter", Text(parameter)}}, kSaveWhat);
      if (result == 0) changed_ = true;
    }
    batchOpen_ = waiting_ = signed_ = false;
    session_ = Password();
    return result;
  }

  // Calls a method whose answer is the text of its out-parameter "return".
  int Call(std::u16string_view className, std::u16string_view method,
           const std::vector<Argument>& in, std::string_view what,
           std::string_view unanswered = "the firmware's WMI interface did not answer the call") {
    wbem::ObjectPtr out;
    const wbem::HResult hr = Connection().Call(className, method, in, out);
    const std::optional<std::string> answer =
        wbem::Succeeded(hr) && out ? ReadText(*out, u"return") : std::nullopt;
    if (!answer) {
      ReportFirmwareAnswer(what, wbem::Succeeded(hr) ? "no answer" : HResultText(hr), unanswered);
      return EIO;
    }
    Reply meaning = ReplyOf(platform::Trim(*answer));
    // The signed classes take no password: their refusal is the signature's.
    if (meaning.error == EACCES && className.find(u"Certificate") != std::u16string_view::npos)
      meaning.meaning =
          "the firmware refused the signature (not the one of this text by the certificate in use)";
    else if (meaning.error == EACCES &&
             (className == kSignedSetClass || className == kSignedSaveClass))
      meaning.meaning =
          "the firmware refused the signature (not one of this text by the certificate in use)";
    if (meaning.error != 0) ReportFirmwareAnswer(what, *answer, meaning.meaning);
    return meaning.error;
  }

  wbem::LocatorFactory locators_;
  std::optional<WmiConnection> connection_;
  std::optional<std::vector<RawAttribute>> cache_;
  bool unused_ = false;                          // cache_ is a walk no read has had yet
  std::map<std::string, std::u16string> paths_;  // item -> its instance's path
  std::map<std::string, std::optional<std::string>> selections_;
  bool noSelections_ = false;
  std::optional<AdminPassword> admin_;
  std::optional<bool> opcode_;  // the firmware has the opcode interface
  bool batchOpen_ = false;
  bool waiting_ = false;  // a change waits for the save
  bool signed_ = false;   // the batch's changes went signed
  Password session_;
  bool sessionByOpcode_ = false;  // the password went through the opcode interface
  std::optional<Password> before_, changedTo_;
  bool changed_ = false;
};

}  // namespace

// The interface answers where its settings class has instances; their walk is the source's
// first read, so that finding the interface costs the firmware nothing more.
std::unique_ptr<AttributeSource> FindLenovoSource(wbem::LocatorFactory locators) {
  auto source = std::make_unique<LenovoSource>(std::move(locators));
  if (source->Walk() == 0) return nullptr;
  return source;
}

}  // namespace corvane::fwattr
