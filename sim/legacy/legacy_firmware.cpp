#include "sim/legacy/legacy_firmware.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "platform/hex.h"
#include "sim/legacy/sim_keyboard.h"
#include "sim/legacy/simulated_memory.h"
#include "sim/machine/section_values.h"

namespace corvane::sim {
namespace {

using platform::DecodeHex;
using platform::EncodeHex;
using section::ReadBool;
using section::ReadInteger;
using section::ReadNumber;
using section::ReadText;
using section::Writes;

// Kept apart from the program's constants: a double sharing them could not catch its faults.
constexpr std::uint16_t kNone = 0xFFFF;
constexpr std::uint16_t kReadOnlyFlag = 2;
constexpr std::uint32_t kInfoSize = 22;
constexpr std::size_t kMenuEntries = 6;
constexpr std::size_t kSubNames = 4;
constexpr std::size_t kMostObjects = 0xFFFF;
constexpr std::size_t kDefaultAlphaField = 43;
constexpr std::string_view kDisabledSuffix = " Disabled";
// ChangeAdminPassword answers.
constexpr std::int32_t kWrongCurrentPassword = 1;
constexpr std::int32_t kPasswordTooLong = 2;
// Security packet: its frame and the command that stores the asset tag.
constexpr std::size_t kPacketFrame = 26;
constexpr std::uint8_t kAssetTagCommand = 13;
constexpr std::size_t kPacketText = 16;

enum Kind : std::uint16_t {
  kEnum = 0,
  kAlpha = 1,
  kBinary = 2,
  kInt = 3,
  kPassword = 4,
  kStringTable = 5,
  kDate = 6,
  kTime = 7,
  kOrderedList = 8,
  kEnumExt = 9,
  kExtInt = 10,
};

constexpr std::pair<std::string_view, Kind> kKindNames[] = {
    {"enum", kEnum},        {"alpha", kAlpha},       {"binary", kBinary},
    {"int", kInt},          {"password", kPassword}, {"stringtable", kStringTable},
    {"date", kDate},        {"time", kTime},         {"orderedlist", kOrderedList},
    {"enum_ext", kEnumExt}, {"ext_int", kExtInt},
};

bool IsTextKind(std::uint16_t kind) {
  return kind == kAlpha || kind == kDate || kind == kTime || kind == kPassword;
}

void PutU16(std::string& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string& bytes, std::uint32_t value) {
  PutU16(bytes, static_cast<std::uint16_t>(value & 0xFFFF));
  PutU16(bytes, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t GetU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::int32_t GetI32(const std::uint8_t* bytes) {
  const std::uint32_t value =
      static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
      (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  return static_cast<std::int32_t>(value);
}

std::string WithoutShift(std::string keys) {
  for (char& c : keys) c = static_cast<char>(c & 0x7F);
  return keys;
}

// The keys a system object of a kind may carry besides the common ones.
bool IsKindKey(std::uint16_t kind, std::string_view key) {
  switch (kind) {
    case kEnum:
      return key == "choices" || key == "current";
    case kEnumExt:
      return key == "choices" || key == "current" || key == "subNames";
    case kAlpha:
      return key == "text" || key == "assetTag";
    case kDate:
    case kTime:
      return key == "text";
    case kBinary:
      return key == "bytes";
    case kInt:
      return key == "minimum" || key == "maximum" || key == "value";
    case kExtInt:
      return key == "minimum" || key == "maximum" || key == "value" || key == "subNames";
    case kStringTable:
      return key == "strings";
    case kOrderedList:
      return key == "elements" || key == "pinned";
    default:
      return false;
  }
}

bool IsCommonKey(std::string_view key) {
  return key == "kind" || key == "name" || key == "readOnly" || key == "flags" || key == "menu" ||
         key == "size" || key == "writes" || key == "infoFails" || key == "valueFails" ||
         key == "raw";
}

}  // namespace

struct LegacyFirmware::Object {
  std::uint16_t kind = 0;
  bool raw = false;
  std::uint16_t name = 0;
  std::uint16_t flags = 0;
  std::array<std::uint16_t, kMenuEntries> menu{};
  std::uint32_t size = 0;  // what the information and the list report
  Writes writes = Writes::Accept;
  bool infoFails = false;
  bool valueFails = false;
  bool assetTag = false;
  std::uint16_t current = 0;
  std::vector<std::uint16_t> items;  // choices, or the elements of an ordered list
  std::vector<std::uint16_t> pinned;
  std::array<std::uint16_t, kSubNames> subNames{};
  std::string bytes;  // text (without NUL), binary bytes or the raw buffer
  std::vector<std::string> strings;
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  std::int32_t value = 0;
  std::size_t field = 0;  // buffer length of the text kinds

  // The value buffer as the firmware serves it.
  [[nodiscard]] std::string Buffer() const {
    if (raw) return bytes;
    std::string buffer;
    PutU16(buffer, name);
    switch (kind) {
      case kEnum:
      case kEnumExt:
        PutU16(buffer, current);
        if (kind == kEnumExt)
          for (std::uint16_t sub : subNames) PutU16(buffer, sub);
        for (std::uint16_t item : items) PutU16(buffer, item);
        PutU16(buffer, kNone);
        break;
      case kAlpha:
      case kDate:
      case kTime:
      case kPassword:
        buffer += bytes;
        buffer.resize(field, '\0');
        break;
      case kBinary:
        buffer += bytes;
        break;
      case kInt:
      case kExtInt:
        PutU32(buffer, static_cast<std::uint32_t>(minimum));
        PutU32(buffer, static_cast<std::uint32_t>(maximum));
        PutU32(buffer, static_cast<std::uint32_t>(value));
        if (kind == kExtInt)
          for (std::uint16_t sub : subNames) PutU16(buffer, sub);
        break;
      case kStringTable:
        for (const std::string& text : strings) {
          buffer += text;
          buffer.push_back('\0');
        }
        buffer.push_back('\0');
        break;
      case kOrderedList:
        for (std::uint16_t item : items) PutU16(buffer, item);
        PutU16(buffer, kNone);
        break;
      default:
        break;
    }
    return buffer;
  }
};

LegacyFirmware::LegacyFirmware() = default;
LegacyFirmware::~LegacyFirmware() = default;

std::unique_ptr<LegacyFirmware> LegacyFirmware::Parse(const Json& section, std::string& error) {
  error.clear();
  std::unique_ptr<LegacyFirmware> firmware(new LegacyFirmware());
  if (!firmware->ParseSection(section, error)) return nullptr;
  return firmware;
}

bool LegacyFirmware::ParseSection(const Json& section, std::string& error) {
  if (!section.is_object()) {
    error = "the section is not an object";
    return false;
  }
  section_ = section;
  for (const auto& [key, value] : section.items()) {
    (void)value;
    static constexpr std::string_view kKeys[] = {"machineId",
                                                 "systemManufacturer",
                                                 "systemProduct",
                                                 "serialNumber",
                                                 "ownershipString",
                                                 "password",
                                                 "passwordCodes",
                                                 "maxPasswordLength",
                                                 "passwordChangeReturn",
                                                 "ignorePasswordChanges",
                                                 "wrongPasswordStatus",
                                                 "writesNeedUnlock",
                                                 "textTable",
                                                 "faults",
                                                 "objects",
                                                 "interrupt15",
                                                 "cmos",
                                                 "cmosFixedBits",
                                                 "bootDevices",
                                                 "memory"};
    if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys)) {
      error = "unknown key \"" + key + "\"";
      return false;
    }
  }

  std::int64_t number = 0;
  if (!ReadNumber(section, "machineId", 0, 0xFFFFFFFFLL, number, error)) return false;
  machineId_ = static_cast<std::uint32_t>(number);
  if (!ReadText(section, "systemManufacturer", texts_[0], error) ||
      !ReadText(section, "systemProduct", texts_[1], error) ||
      !ReadText(section, "serialNumber", texts_[2], error) ||
      !ReadText(section, "ownershipString", texts_[3], error))
    return false;

  const bool hasText = section.contains("password");
  const bool hasCodes = section.contains("passwordCodes");
  if (hasText && hasCodes) {
    error = R"(give either "password" or "passwordCodes", not both)";
    return false;
  }
  if (hasText) {
    std::string text;
    if (!ReadText(section, "password", text, error)) return false;
    if (!KeysOf(text, passwordKeys_)) {
      error = "\"password\" has a character that no key types";
      return false;
    }
    passwordKeys_ = WithoutShift(passwordKeys_);
    passwordSet_ = true;
  }
  if (hasCodes) {
    const Json& codes = section["passwordCodes"];
    if (!codes.is_string() || !DecodeHex(codes.get_ref<const std::string&>(), passwordKeys_) ||
        passwordKeys_.find('\0') != std::string::npos) {
      error = "\"passwordCodes\" must be a string of two hexadecimal digits per key";
      return false;
    }
    passwordSet_ = true;
  }
  number = -1;
  if (!ReadNumber(section, "maxPasswordLength", 0, 255, number, error)) return false;
  maxPasswordLength_ = number;
  if (section.contains("passwordChangeReturn")) {
    if (!ReadNumber(section, "passwordChangeReturn", std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), number, error))
      return false;
    hasChangeReturn_ = true;
    changeReturn_ = static_cast<std::int32_t>(number);
  }
  number = wrongPasswordStatus_;
  if (!ReadNumber(section, "wrongPasswordStatus", 0, 255, number, error)) return false;
  wrongPasswordStatus_ = static_cast<std::uint8_t>(number);
  if (!ReadBool(section, "ignorePasswordChanges", ignorePasswordChanges_, error) ||
      !ReadBool(section, "writesNeedUnlock", writesNeedUnlock_, error))
    return false;

  const auto faults = section.find("faults");
  if (faults != section.end() && !ParseFaults(*faults, error)) return false;
  if (!ParseInterrupt15(section, error) || !ParseCmos(section, error) ||
      !ParseBootDevices(section, error))
    return false;
  const auto memory = section.find("memory");
  if (memory != section.end() && !SimulatedMemory::Parse(*memory, error)) {
    error = "memory: " + error;
    return false;
  }

  const auto objects = section.find("objects");
  if (objects == section.end()) {
    if (section.contains("textTable")) {
      error = R"("textTable" names an object, but there are no "objects")";
      return false;
    }
    return true;
  }
  if (!objects->is_array()) {
    error = "\"objects\" is not an array";
    return false;
  }
  if (objects->size() > kMostObjects) {
    error = "\"objects\" holds more than 65535 objects";
    return false;
  }
  hasList_ = true;

  // The text table is read first: the other objects' names are looked up in it.
  std::int64_t tablePosition = -1;
  if (section.contains("textTable")) {
    if (!ReadNumber(section, "textTable", 0, static_cast<std::int64_t>(objects->size()) - 1,
                    tablePosition, error))
      return false;
    const Json& table = (*objects)[static_cast<std::size_t>(tablePosition)];
    if (!table.is_object() || table.value("kind", Json()) != "stringtable" ||
        table.contains("raw")) {
      error = R"("textTable" must name a "stringtable" object that has no "raw")";
      return false;
    }
  } else {
    for (std::size_t i = 0; i < objects->size() && tablePosition < 0; ++i) {
      const Json& item = (*objects)[i];
      if (item.is_object() && item.value("kind", Json()) == "stringtable" && !item.contains("raw"))
        tablePosition = static_cast<std::int64_t>(i);
    }
  }
  if (tablePosition >= 0) {
    const Json& strings =
        (*objects)[static_cast<std::size_t>(tablePosition)].value("strings", Json::array());
    for (const Json& text : strings) {
      if (!text.is_string()) break;  // reported with the object itself
      textTable_.push_back(text.get<std::string>());
      if (textTable_.size() <= kNone) {
        textIndex_.emplace(textTable_.back(), static_cast<std::uint16_t>(textTable_.size() - 1));
      }
    }
  }

  objects_.resize(objects->size());
  for (std::size_t i = 0; i < objects->size(); ++i) {
    if (!ParseObject(i, error)) {
      const Json& item = (*objects)[i];
      std::string where = "objects[" + std::to_string(i) + "]";
      if (item.is_object() && item.contains("name") && item["name"].is_string())
        where += " (\"" + item["name"].get<std::string>() + "\")";
      error.insert(0, where + ": ");
      return false;
    }
  }
  return true;
}

bool LegacyFirmware::ParseFaults(const Json& faults, std::string& error) {
  if (!faults.is_object()) {
    error = "\"faults\" is not an object";
    return false;
  }
  for (const auto& [key, value] : faults.items()) {
    if (key == "cmosReads" || key == "cmosWrites") {
      std::bitset<kCmosBytes>& offsets = key == "cmosReads" ? cmosReadFails_ : cmosWriteFails_;
      if (!value.is_array()) {
        error = "faults." + key + " must be an array of CMOS offsets";
        return false;
      }
      for (const Json& offset : value) {
        std::uint64_t number = 0;
        if (!section::ParseWord(offset, kCmosBytes - 1, number)) {
          error = section::WordReason("faults." + key + ": a CMOS offset", kCmosBytes - 1);
          return false;
        }
        offsets.set(number);
      }
      continue;
    }
    bool* fault = key == "init"        ? &initFails_
                  : key == "list"      ? &listFails_
                  : key == "unlock"    ? &unlockFails_
                  : key == "call32bit" ? &call32Fails_
                  : key == "call16bit" ? &call16Fails_
                  : key == "iplInfo"   ? &iplInfoFails_
                  : key == "iplTable"  ? &iplTableFails_
                                       : nullptr;
    if (fault == nullptr || !value.is_boolean()) {
      error = fault != nullptr ? "faults." + key + " must be true or false"
                               : "faults: unknown fault \"" + key + "\"";
      return false;
    }
    *fault = value.get<bool>();
  }
  return true;
}

bool LegacyFirmware::ResolveIndex(const Json& value, std::uint16_t& index,
                                  std::string& error) const {
  if (value.is_string()) {
    const auto found = textIndex_.find(value.get_ref<const std::string&>());
    if (found == textIndex_.end()) {
      error = textTable_.empty() && textIndex_.empty()
                  ? "there is no string table to look \"" + value.get<std::string>() + "\" up in"
                  : "\"" + value.get<std::string>() + "\" is not a text of the string table";
      return false;
    }
    index = found->second;
    return true;
  }
  std::int64_t number = 0;
  if (!ReadInteger(value, 0, kNone, number)) {
    error = "a name is a text of the string table or a string index from 0 to 65535";
    return false;
  }
  index = static_cast<std::uint16_t>(number);
  return true;
}

bool LegacyFirmware::ResolveIndices(const Json& value, std::size_t most,
                                    std::vector<std::uint16_t>& indices, std::string& error) const {
  if (!value.is_array() || value.size() > most) {
    error = "must be an array of at most " + std::to_string(most) + " texts or string indices";
    return false;
  }
  indices.clear();
  indices.reserve(value.size());
  for (const Json& item : value) {
    std::uint16_t index = 0;
    if (!ResolveIndex(item, index, error)) return false;
    indices.push_back(index);
  }
  return true;
}

bool LegacyFirmware::ParseObject(std::size_t position, std::string& error) {
  const Json& item = section_["objects"][position];
  Object& object = objects_[position];
  if (!item.is_object()) {
    error = "not an object";
    return false;
  }
  object.menu.fill(kNone);
  object.subNames.fill(kNone);

  // Kind, and whether the buffer is given raw.
  const auto kind = item.find("kind");
  if (kind == item.end()) {
    error = "\"kind\" is missing";
    return false;
  }
  object.raw = item.contains("raw");
  bool known = false;
  if (kind->is_string()) {
    for (const auto& [name, code] : kKindNames)
      if (kind->get_ref<const std::string&>() == name) {
        object.kind = code;
        known = true;
      }
    if (!known) {
      error = "unknown kind \"" + kind->get<std::string>() + "\"";
      return false;
    }
  } else {
    std::int64_t number = 0;
    if (!object.raw || !ReadInteger(*kind, 0, 0xFFFF, number)) {
      error = R"("kind" must be a kind name (or, with "raw", a number from 0 to 65535))";
      return false;
    }
    object.kind = static_cast<std::uint16_t>(number);
  }

  for (const auto& [key, value] : item.items()) {
    (void)value;
    const bool allowed = object.raw ? IsCommonKey(key) && key != "name"
                                    : IsCommonKey(key) || IsKindKey(object.kind, key);
    if (!allowed) {
      error = object.raw && (key == "name" || (known && IsKindKey(object.kind, key)))
                  ? '"' + key + R"(" is not allowed beside "raw")"
                  : "unknown key \"" + key + "\"";
      return false;
    }
  }

  // Common keys.
  if (!object.raw) {
    const auto name = item.find("name");
    if (name == item.end()) {
      if (object.kind != kStringTable) {
        error = "\"name\" is missing";
        return false;
      }
    } else if (!ResolveIndex(*name, object.name, error)) {
      error = "\"name\": " + error;
      return false;
    }
  }
  bool readOnly = false;
  if (!ReadBool(item, "readOnly", readOnly, error)) return false;
  if (item.contains("flags")) {
    if (item.contains("readOnly")) {
      error = R"(give either "readOnly" or "flags", not both)";
      return false;
    }
    std::int64_t flags = 0;
    if (!ReadNumber(item, "flags", 0, 0xFFFF, flags, error)) return false;
    object.flags = static_cast<std::uint16_t>(flags);
  } else if (readOnly) {
    object.flags = kReadOnlyFlag;
  }
  if (item.contains("menu")) {
    std::vector<std::uint16_t> menu;
    if (!ResolveIndices(item["menu"], kMenuEntries, menu, error)) {
      error = "\"menu\" " + error;
      return false;
    }
    std::copy(menu.begin(), menu.end(), object.menu.begin());
  }
  if (!section::ReadWrites(item, "writes", object.writes, error)) return false;
  if (!ReadBool(item, "infoFails", object.infoFails, error) ||
      !ReadBool(item, "valueFails", object.valueFails, error))
    return false;
  std::int64_t size = -1;
  if (!ReadNumber(item, "size", 0, 0xFFFFFFFFLL, size, error)) return false;

  if (object.raw) {
    if (!item["raw"].is_string() || !DecodeHex(item["raw"].get<std::string>(), object.bytes)) {
      error = "\"raw\" must be a string of two hexadecimal digits per byte";
      return false;
    }
    object.size = size >= 0 ? static_cast<std::uint32_t>(size)
                            : static_cast<std::uint32_t>(object.bytes.size());
    return true;
  }

  // The kind's own keys.
  std::int64_t number = 0;
  switch (object.kind) {
    case kEnum:
    case kEnumExt: {
      if (!ResolveIndices(item.value("choices", Json::array()), kNone, object.items, error)) {
        error = "\"choices\" " + error;
        return false;
      }
      const auto current = item.find("current");
      if (current != item.end()) {
        if (current->is_string()) {
          const Json& choices = item.value("choices", Json::array());
          const auto found = std::find(choices.begin(), choices.end(), *current);
          if (found == choices.end()) {
            error = R"("current" is not one of the "choices")";
            return false;
          }
          object.current = static_cast<std::uint16_t>(found - choices.begin());
        } else if (ReadInteger(*current, 0, kNone, number)) {
          object.current = static_cast<std::uint16_t>(number);
        } else {
          error = "\"current\" must be a choice text or a position from 0 to 65535";
          return false;
        }
      }
      break;
    }
    case kAlpha:
    case kDate:
    case kTime:
      if (!ReadText(item, "text", object.bytes, error)) return false;
      if (object.bytes.find('\0') != std::string::npos) {
        error = "\"text\" holds a NUL";
        return false;
      }
      if (!ReadBool(item, "assetTag", object.assetTag, error)) return false;
      break;
    case kBinary: {
      const auto bytes = item.find("bytes");
      if (bytes != item.end() &&
          (!bytes->is_string() || !DecodeHex(bytes->get<std::string>(), object.bytes))) {
        error = "\"bytes\" must be a string of two hexadecimal digits per byte";
        return false;
      }
      break;
    }
    case kInt:
    case kExtInt: {
      constexpr auto kLow = std::numeric_limits<std::int32_t>::min();
      constexpr auto kHigh = std::numeric_limits<std::int32_t>::max();
      std::int64_t minimum = 0, maximum = 0, value = 0;
      if (!ReadNumber(item, "minimum", kLow, kHigh, minimum, error) ||
          !ReadNumber(item, "maximum", kLow, kHigh, maximum, error) ||
          !ReadNumber(item, "value", kLow, kHigh, value, error))
        return false;
      object.minimum = static_cast<std::int32_t>(minimum);
      object.maximum = static_cast<std::int32_t>(maximum);
      object.value = static_cast<std::int32_t>(value);
      break;
    }
    case kStringTable: {
      const Json& strings = item.value("strings", Json::array());
      if (!strings.is_array()) {
        error = "\"strings\" must be an array of texts";
        return false;
      }
      for (const Json& text : strings) {
        if (!text.is_string() ||
            text.get_ref<const std::string&>().find('\0') != std::string::npos) {
          error = "\"strings\" must be an array of texts without NUL";
          return false;
        }
        object.strings.push_back(text.get<std::string>());
      }
      break;
    }
    case kOrderedList:
      if (!ResolveIndices(item.value("elements", Json::array()), kNone, object.items, error)) {
        error = "\"elements\" " + error;
        return false;
      }
      if (!ResolveIndices(item.value("pinned", Json::array()), kNone, object.pinned, error)) {
        error = "\"pinned\" " + error;
        return false;
      }
      break;
    default:
      break;
  }
  if (item.contains("subNames")) {
    std::vector<std::uint16_t> subNames;
    if (!ResolveIndices(item["subNames"], kSubNames, subNames, error)) {
      error = "\"subNames\" " + error;
      return false;
    }
    std::copy(subNames.begin(), subNames.end(), object.subNames.begin());
  }

  // Sizes: the text kinds' field is their buffer; the others report what they hold.
  if (IsTextKind(object.kind)) {
    const std::size_t needed = object.bytes.size() + 3;
    object.field = size >= 0               ? static_cast<std::size_t>(size)
                   : object.kind == kAlpha ? std::max(kDefaultAlphaField, needed)
                                           : needed;
    if (needed > object.field) {
      error = "the text does not fit its size (length + 3 at most the size)";
      return false;
    }
    object.size = static_cast<std::uint32_t>(object.field);
  } else {
    object.size = size >= 0 ? static_cast<std::uint32_t>(size)
                            : static_cast<std::uint32_t>(object.Buffer().size());
  }
  return true;
}

const std::string& LegacyFirmware::Text(SystemText which) const {
  return texts_[static_cast<std::size_t>(which)];
}

// The program hands over the keys themselves, SHIFT cleared; an encoded form is not the password.
bool LegacyFirmware::Matches(std::string_view password) const {
  return password == passwordKeys_;
}

void LegacyFirmware::StorePassword(const std::string& keys) {
  if (keys == passwordKeys_ && passwordSet_ == !keys.empty()) return;
  passwordKeys_ = keys;
  passwordSet_ = !keys.empty();
  if (!passwordSet_) {
    section_.erase("password");
    section_.erase("passwordCodes");
  } else {
    // The firmware knows keys only: the text they were typed as is gone.
    section_.erase("password");
    section_["passwordCodes"] = EncodeHex(keys);
  }
  dirty_ = true;
}

std::int32_t LegacyFirmware::ChangeAdminPassword(std::string_view current, std::string_view next) {
  if (passwordSet_ && current != passwordKeys_) return kWrongCurrentPassword;
  const std::string_view held = passwordSet_ ? std::string_view(passwordKeys_) : std::string_view();
  if (hasChangeReturn_ && next != held) return changeReturn_;
  if (maxPasswordLength_ >= 0 && static_cast<std::int64_t>(next.size()) > maxPasswordLength_)
    return kPasswordTooLong;
  if (!ignorePasswordChanges_) StorePassword(std::string(next));
  return 0;
}

std::int32_t LegacyFirmware::ChangeLockState(std::string_view password, std::int32_t state,
                                             std::uint8_t& status) {
  status = 0;
  if (state == 1) {
    unlocked_ = false;
    return 1;
  }
  if (state != 0) {
    status = 1;
    return 0;
  }
  if (passwordSet_ && (unlockFails_ || !Matches(password))) {
    status = wrongPasswordStatus_;
    return 0;
  }
  unlocked_ = true;
  return 1;
}

bool LegacyFirmware::ListSize(std::uint32_t& bytes) const {
  if (!hasList_) return false;
  bytes = static_cast<std::uint32_t>(8 * objects_.size() + 4);
  return true;
}

bool LegacyFirmware::List(void* list, std::uint32_t capacity) const {
  std::uint32_t bytes = 0;
  if (list == nullptr || listFails_ || !ListSize(bytes) || capacity < bytes) return false;
  std::string out;
  out.reserve(bytes);
  PutU32(out, static_cast<std::uint32_t>(objects_.size()));
  for (std::size_t i = 0; i < objects_.size(); ++i) {
    PutU16(out, static_cast<std::uint16_t>(i));
    PutU16(out, objects_[i].kind);
    PutU32(out, objects_[i].size);
  }
  std::memcpy(list, out.data(), out.size());
  return true;
}

bool LegacyFirmware::Info(std::uint16_t index, void* info, std::uint32_t size) const {
  if (info == nullptr || size < kInfoSize || index >= objects_.size()) return false;
  const Object& object = objects_[index];
  if (object.infoFails) return false;
  std::string out;
  PutU16(out, object.kind);
  PutU16(out, object.flags);
  PutU32(out, object.size);
  for (std::uint16_t menu : object.menu) PutU16(out, menu);
  PutU16(out, 0);
  std::memcpy(info, out.data(), out.size());
  return true;
}

bool LegacyFirmware::Value(std::uint16_t index, void* buffer, std::uint32_t size) const {
  if ((buffer == nullptr && size != 0) || index >= objects_.size()) return false;
  const Object& object = objects_[index];
  if (object.valueFails) return false;
  const std::string bytes = object.Buffer();
  const std::size_t copied = std::min<std::size_t>(size, bytes.size());
  if (size == 0) return true;
  std::memcpy(buffer, bytes.data(), copied);
  std::memset(static_cast<char*>(buffer) + copied, 0, size - copied);
  return true;
}

bool LegacyFirmware::TextNames(std::uint16_t index) const {
  if (index >= textTable_.size()) return false;
  const auto found = textIndex_.find(textTable_[index]);
  return found != textIndex_.end() && found->second == index;
}

std::string LegacyFirmware::DeviceOf(std::uint16_t index) const {
  if (index >= textTable_.size()) return "#" + std::to_string(index);
  // A device and its " Disabled" twin are one device in two states.
  std::string text = textTable_[index];
  std::string base = text;
  for (std::size_t at = base.find(kDisabledSuffix); at != std::string::npos;
       at = base.find(kDisabledSuffix, at))
    base.erase(at, kDisabledSuffix.size());
  return base != text && textIndex_.count(base) ? base : text;
}

bool LegacyFirmware::ReorderedList(const Object& object, const std::uint8_t* bytes,
                                   std::uint32_t size, std::vector<std::uint16_t>& result) const {
  const std::size_t count = object.items.size();
  std::vector<std::uint16_t> written;
  std::size_t offset = 2;
  for (; written.size() < count && offset + 2 <= size; offset += 2)
    written.push_back(GetU16(bytes + offset));
  // Every element once, and nothing but the end after them.
  if (written.size() != count || (offset + 2 <= size && GetU16(bytes + offset) != kNone))
    return false;
  std::vector<std::string> before, after;
  for (std::uint16_t item : object.items) before.push_back(DeviceOf(item));
  for (std::uint16_t item : written) after.push_back(DeviceOf(item));
  std::vector<std::string> sortedBefore = before, sortedAfter = after;
  std::sort(sortedBefore.begin(), sortedBefore.end());
  std::sort(sortedAfter.begin(), sortedAfter.end());
  if (sortedBefore != sortedAfter) return false;

  // Pinned devices go back to their places; the others keep the written order around them.
  std::set<std::string> pinned;
  for (std::uint16_t item : object.pinned) pinned.insert(DeviceOf(item));
  result.assign(count, kNone);
  std::vector<bool> taken(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    if (!pinned.count(before[i])) continue;
    for (std::size_t j = 0; j < count; ++j)
      if (!taken[j] && after[j] == before[i]) {
        result[i] = written[j];
        taken[j] = true;
        break;
      }
  }
  std::size_t next = 0;
  for (std::size_t j = 0; j < count; ++j) {
    if (taken[j]) continue;
    while (next < count && pinned.count(before[next])) ++next;
    result[next++] = written[j];
  }
  return true;
}

void LegacyFirmware::StoreList(Object& object, std::size_t position,
                               std::vector<std::uint16_t> result) {
  if (result == object.items) return;
  // The file keeps each element in the form its author gave it.
  Json& item = section_["objects"][position];
  const Json& old = item.value("elements", Json::array());
  Json elements = Json::array();
  for (std::uint16_t index : result) {
    const auto same = std::find(object.items.begin(), object.items.end(), index);
    if (same != object.items.end() &&
        static_cast<std::size_t>(same - object.items.begin()) < old.size())
      elements.push_back(old[static_cast<std::size_t>(same - object.items.begin())]);
    else if (TextNames(index))
      elements.push_back(textTable_[index]);
    else
      elements.push_back(index);
  }
  item["elements"] = std::move(elements);
  object.items = std::move(result);
  dirty_ = true;
}

bool LegacyFirmware::StoreText(Object& object, std::size_t position, std::string text) {
  // The field is padded with blanks; the firmware keeps the text without them.
  const std::size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  if (text.size() + 3 > object.field) text.resize(object.field - 3);
  if (text == object.bytes) return true;
  object.bytes = text;
  section_["objects"][position]["text"] = std::move(text);
  dirty_ = true;
  return true;
}

bool LegacyFirmware::SetValue(std::uint16_t index, const void* buffer, std::uint32_t size) {
  if (buffer == nullptr || index >= objects_.size()) return false;
  Object& object = objects_[index];
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (object.writes == Writes::Refuse) return false;
  if ((object.flags & kReadOnlyFlag) != 0) return false;
  if (passwordSet_ && writesNeedUnlock_ && !unlocked_) return false;
  if (!object.raw && (size < 2 || GetU16(bytes) != object.name)) return false;
  const bool store = object.writes == Writes::Accept;
  Json& item = section_["objects"][index];

  if (object.raw) {
    const std::size_t length = std::min<std::size_t>(size, object.bytes.size());
    if (store &&
        object.bytes.compare(0, length, reinterpret_cast<const char*>(bytes), length) != 0) {
      object.bytes.replace(0, length, reinterpret_cast<const char*>(bytes), length);
      item["raw"] = EncodeHex(object.bytes);
      dirty_ = true;
    }
    return true;
  }

  switch (object.kind) {
    case kEnum:
    case kEnumExt: {
      if (size < 4) return false;
      const std::uint16_t position = GetU16(bytes + 2);
      if (position >= object.items.size()) return false;
      if (!store || position == object.current) return true;
      object.current = position;
      // A choice given as text is written back as text when it names this position.
      const Json& choices = item.value("choices", Json::array());
      const Json& choice = choices[position];
      if (choice.is_string() &&
          std::find(choices.begin(), choices.end(), choice) == choices.begin() + position)
        item["current"] = choice;
      else
        item["current"] = position;
      dirty_ = true;
      return true;
    }
    case kInt:
    case kExtInt: {
      if (size < 14) return false;
      const std::int32_t value = GetI32(bytes + 10);
      if (value < object.minimum || value > object.maximum) return false;
      if (!store || value == object.value) return true;
      object.value = value;
      item["value"] = value;
      dirty_ = true;
      return true;
    }
    case kAlpha:
    case kDate:
    case kTime: {
      const std::size_t end = std::min<std::size_t>(size, object.field);
      std::string text;
      for (std::size_t i = 2; i < end && bytes[i] != 0; ++i)
        text.push_back(static_cast<char>(bytes[i]));
      return !store || StoreText(object, index, std::move(text));
    }
    case kBinary: {
      const std::size_t length = std::min<std::size_t>(size - 2, object.bytes.size());
      const auto* data = reinterpret_cast<const char*>(bytes + 2);
      if (store && object.bytes.compare(0, length, data, length) != 0) {
        object.bytes.replace(0, length, data, length);
        item["bytes"] = EncodeHex(object.bytes);
        dirty_ = true;
      }
      return true;
    }
    case kOrderedList: {
      std::vector<std::uint16_t> result;
      if (!ReorderedList(object, bytes, size, result)) return false;
      if (store) StoreList(object, index, std::move(result));
      return true;
    }
    default:  // passwords and string tables are not written this way
      return false;
  }
}

bool LegacyFirmware::SetSecuritySettings(const void* packet, std::uint32_t length,
                                         std::uint8_t& status) {
  status = 1;
  if (packet == nullptr || length < kPacketFrame) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(packet);
  const std::size_t passwordLength = length - kPacketFrame;
  const std::size_t after = 3 + passwordLength;  // the byte after the password
  if (bytes[0] != 0xFC || bytes[1] != 0 || bytes[2] != passwordLength + 1 || bytes[after] != 0 ||
      bytes[after + 2] != 0 || bytes[after + 3] != 17 || bytes[after + 21] != 0xCF ||
      bytes[after + 22] != 0)
    return false;
  const std::string_view password(reinterpret_cast<const char*>(bytes + 3), passwordLength);
  if (passwordSet_ && (unlockFails_ || !Matches(password))) {
    status = wrongPasswordStatus_;
    return false;
  }
  if (bytes[after + 1] != kAssetTagCommand) return false;
  const auto tag = std::find_if(objects_.begin(), objects_.end(),
                                [](const Object& object) { return object.assetTag; });
  if (tag == objects_.end() && !hasAssetTag_) return false;
  const std::size_t textLength = std::min<std::size_t>(bytes[after + 4], kPacketText);
  std::string text(reinterpret_cast<const char*>(bytes + after + 5), textLength);
  text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
  // The interrupt's asset tag takes the packet on a machine without such an object.
  if (tag == objects_.end())
    StoreAssetTag(std::move(text));
  else
    StoreText(*tag, static_cast<std::size_t>(tag - objects_.begin()), std::move(text));
  status = 0;
  return true;
}

}  // namespace corvane::sim
