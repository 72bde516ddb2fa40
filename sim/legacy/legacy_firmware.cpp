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
using section::ReadInteger;
using section::Writes;

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

// A "stringtable" object whose strings the objects' names can be looked up in.
bool IsTextTable(const Json& item) {
  return item.is_object() && item.value("kind", Json()) == "stringtable" && !item.contains("raw");
}

std::string WithoutShift(std::string keys) {
  for (char& c : keys) c = static_cast<char>(c & 0x7F);
  return keys;
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

namespace {

// The choice an enumeration holds: the text of one of its choices, or a position.
schema::Key Current(const Json& item, LegacyFirmware::Object& object) {
  return {"current",
          [&item, &object](const Json& value, const std::string& label, std::string& error) {
            std::int64_t number = 0;
            if (value.is_string()) {
              const Json& choices = item.value("choices", Json::array());
              const auto found = std::find(choices.begin(), choices.end(), value);
              if (found == choices.end()) {
                error = label + R"( is not one of the "choices")";
                return false;
              }
              object.current = static_cast<std::uint16_t>(found - choices.begin());
            } else if (ReadInteger(value, 0, kNone, number)) {
              object.current = static_cast<std::uint16_t>(number);
            } else {
              error = label + " must be a choice text or a position from 0 to 65535";
              return false;
            }
            return true;
          }};
}

// The text of the text kinds, stored without its NUL.
schema::Key TextKey(LegacyFirmware::Object& object) {
  return {"text", [&object](const Json& value, const std::string& label, std::string& error) {
            if (!value.is_string()) {
              error = label + " must be a string";
              return false;
            }
            object.bytes = value.get<std::string>();
            if (object.bytes.find('\0') == std::string::npos) return true;
            error = label + " holds a NUL";
            return false;
          }};
}

schema::Key Strings(LegacyFirmware::Object& object) {
  return {"strings", [&object](const Json& value, const std::string& label, std::string& error) {
            if (!value.is_array()) {
              error = label + " must be an array of texts";
              return false;
            }
            for (const Json& text : value) {
              if (!text.is_string() ||
                  text.get_ref<const std::string&>().find('\0') != std::string::npos) {
                error = label + " must be an array of texts without NUL";
                return false;
              }
              object.strings.push_back(text.get<std::string>());
            }
            return true;
          }};
}

}  // namespace

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
  constexpr auto kLow = std::numeric_limits<std::int32_t>::min();
  constexpr auto kHigh = std::numeric_limits<std::int32_t>::max();
  const schema::Key keys[] = {
      schema::Integer("machineId", 0, 0xFFFFFFFFLL, machineId_),
      schema::Text("systemManufacturer", texts_[0]),
      schema::Text("systemProduct", texts_[1]),
      schema::Text("serialNumber", texts_[2]),
      schema::Text("ownershipString", texts_[3]),
      schema::When({"password", std::bind_front(&LegacyFirmware::ParsePassword, this)},
                   [&section] { return !section.contains("passwordCodes"); },
                   schema::EitherReason("password", "passwordCodes")),
      {"passwordCodes", std::bind_front(&LegacyFirmware::ParsePasswordCodes, this)},
      schema::Integer("maxPasswordLength", 0, 255, maxPasswordLength_),
      schema::Integer("passwordChangeReturn", kLow, kHigh, changeReturn_),
      schema::Integer("wrongPasswordStatus", 0, 255, wrongPasswordStatus_),
      schema::Bool("ignorePasswordChanges", ignorePasswordChanges_),
      schema::Bool("writesNeedUnlock", writesNeedUnlock_),
      {"faults", std::bind_front(&LegacyFirmware::ParseFaults, this)},
      {"interrupt15", std::bind_front(&LegacyFirmware::ParseInterrupt15, this)},
      {"cmos", std::bind_front(&LegacyFirmware::ParseCmos, this, false)},
      {"cmosFixedBits", std::bind_front(&LegacyFirmware::ParseCmos, this, true)},
      {"bootDevices", std::bind_front(&LegacyFirmware::ParseBootDevices, this)},
      {"memory",
       [](const Json& memory, const std::string&, std::string& reason) {
         if (SimulatedMemory::Parse(memory, reason)) return true;
         reason.insert(0, "memory: ");
         return false;
       }},
      {"objects",
       [](const Json& objects, const std::string& label, std::string& reason) {
         if (!objects.is_array()) {
           reason = label + " is not an array";
           return false;
         }
         if (objects.size() <= kMostObjects) return true;
         reason = label + " holds more than 65535 objects";
         return false;
       }},
      {"textTable", std::bind_front(&LegacyFirmware::ParseTextTable, this)}};
  if (!schema::Read(section, keys, error)) return false;
  passwordSet_ = section.contains("password") || section.contains("passwordCodes");
  hasChangeReturn_ = section.contains("passwordChangeReturn");
  return ParseObjects(error);
}

bool LegacyFirmware::ParsePassword(const Json& text, const std::string& label, std::string& error) {
  if (!text.is_string()) {
    error = label + " must be a string";
    return false;
  }
  if (!KeysOf(text.get_ref<const std::string&>(), passwordKeys_)) {
    error = label + " has a character that no key types";
    return false;
  }
  passwordKeys_ = WithoutShift(passwordKeys_);
  return true;
}

bool LegacyFirmware::ParsePasswordCodes(const Json& codes, const std::string& label,
                                        std::string& error) {
  if (codes.is_string() && DecodeHex(codes.get_ref<const std::string&>(), passwordKeys_) &&
      passwordKeys_.find('\0') == std::string::npos)
    return true;
  error = label + " must be a string of two hexadecimal digits per key";
  return false;
}

// The text table is read first: the other objects' names are looked up in it.
bool LegacyFirmware::ParseTextTable(const Json& position, const std::string& label,
                                    std::string& error) {
  const auto objects = section_.find("objects");
  if (objects == section_.end()) {
    error = label + R"( names an object, but there are no "objects")";
    return false;
  }
  const auto last = static_cast<std::int64_t>(objects->size()) - 1;
  std::int64_t number = 0;
  if (!section::ReadInteger(position, 0, last, number)) {
    error = schema::IntegerReason(label, 0, last);
    return false;
  }
  const Json& table = (*objects)[static_cast<std::size_t>(number)];
  if (!IsTextTable(table)) {
    error = label + R"( must name a "stringtable" object that has no "raw")";
    return false;
  }
  LoadTextTable(table);
  return true;
}

void LegacyFirmware::LoadTextTable(const Json& table) {
  for (const Json& text : table.value("strings", Json::array())) {
    if (!text.is_string()) break;  // reported with the object itself
    textTable_.push_back(text.get<std::string>());
    if (textTable_.size() <= kNone)
      textIndex_.emplace(textTable_.back(), static_cast<std::uint16_t>(textTable_.size() - 1));
  }
}

bool LegacyFirmware::ParseObjects(std::string& error) {
  const auto objects = section_.find("objects");
  if (objects == section_.end()) return true;
  hasList_ = true;
  // Without a "textTable" the text table is the first object that can be one.
  if (!section_.contains("textTable")) {
    const auto table = std::find_if(objects->begin(), objects->end(), IsTextTable);
    if (table != objects->end()) LoadTextTable(*table);
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

bool LegacyFirmware::ParseFaults(const Json& faults, const std::string& label, std::string& error) {
  if (!faults.is_object()) {
    error = label + " is not an object";
    return false;
  }
  const auto offsets = [](std::bitset<kCmosBytes>& failing) {
    return [&failing](const Json& value, const std::string& name, std::string& reason) {
      if (!value.is_array()) {
        reason = name + " must be an array of CMOS offsets";
        return false;
      }
      for (const Json& offset : value) {
        std::uint64_t number = 0;
        if (!section::ParseWord(offset, kCmosBytes - 1, number)) {
          reason = section::WordReason(name + ": a CMOS offset", kCmosBytes - 1);
          return false;
        }
        failing.set(number);
      }
      return true;
    };
  };
  const schema::Key keys[] = {
      {"cmosReads", offsets(cmosReadFails_)},  {"cmosWrites", offsets(cmosWriteFails_)},
      schema::Bool("init", initFails_),        schema::Bool("list", listFails_),
      schema::Bool("unlock", unlockFails_),    schema::Bool("call32bit", call32Fails_),
      schema::Bool("call16bit", call16Fails_), schema::Bool("iplInfo", iplInfoFails_),
      schema::Bool("iplTable", iplTableFails_)};
  return schema::Read(faults, keys, error, {"faults", "fault", schema::Order::InFileOrder});
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
  bool named = false;  // the kind is given by its name
  if (!ParseKind(item, object, named, error)) return false;
  bool readOnly = false;
  std::int64_t size = -1;
  if (!schema::Read(item, ObjectKeys(item, object, named, readOnly, size), error)) return false;
  if (readOnly && !item.contains("flags")) object.flags = kReadOnlyFlag;

  // Sizes: the text kinds' field is their buffer; the others report what they hold.
  if (object.raw || !IsTextKind(object.kind)) {
    object.size = size >= 0 ? static_cast<std::uint32_t>(size)
                            : static_cast<std::uint32_t>(object.Buffer().size());
    return true;
  }
  const std::size_t needed = object.bytes.size() + 3;
  object.field = size >= 0               ? static_cast<std::size_t>(size)
                 : object.kind == kAlpha ? std::max(kDefaultAlphaField, needed)
                                         : needed;
  if (needed > object.field) {
    error = "the text does not fit its size (length + 3 at most the size)";
    return false;
  }
  object.size = static_cast<std::uint32_t>(object.field);
  return true;
}

// The kind, and whether the buffer is given raw.
bool LegacyFirmware::ParseKind(const Json& item, Object& object, bool& named, std::string& error) {
  const auto kind = item.find("kind");
  if (kind == item.end()) {
    error = "\"kind\" is missing";
    return false;
  }
  object.raw = item.contains("raw");
  if (kind->is_string()) {
    const auto found = std::find_if(
        std::begin(kKindNames), std::end(kKindNames),
        [&](const auto& name) { return kind->get_ref<const std::string&>() == name.first; });
    if (found == std::end(kKindNames)) {
      error = "unknown kind \"" + kind->get<std::string>() + "\"";
      return false;
    }
    object.kind = found->second;
    named = true;
    return true;
  }
  std::int64_t number = 0;
  if (!object.raw || !ReadInteger(*kind, 0, 0xFFFF, number)) {
    error = R"("kind" must be a kind name (or, with "raw", a number from 0 to 65535))";
    return false;
  }
  object.kind = static_cast<std::uint16_t>(number);
  return true;
}

// The keys of an object: the common ones, then the raw buffer or the kind's own. Beside "raw" the
// name and the keys of a named kind are refused.
std::vector<schema::Key> LegacyFirmware::ObjectKeys(const Json& item, Object& object, bool named,
                                                    bool& readOnly, std::int64_t& size) const {
  std::vector<schema::Key> keys;
  if (!object.raw)
    keys.push_back(object.kind == kStringTable ? Name(object) : schema::Required(Name(object)));
  keys.insert(keys.end(), {{"kind"},
                           schema::Bool("readOnly", readOnly),
                           schema::When(
                               schema::Integer("flags", 0, 0xFFFF, object.flags),
                               [&item] { return !item.contains("readOnly"); },
                               schema::EitherReason("readOnly", "flags")),
                           Names("menu", kMenuEntries,
                                 [&object](const auto& menu) {
                                   std::copy(menu.begin(), menu.end(), object.menu.begin());
                                 }),
                           schema::Writes("writes", object.writes),
                           schema::Bool("infoFails", object.infoFails),
                           schema::Bool("valueFails", object.valueFails),
                           schema::Integer("size", 0, 0xFFFFFFFFLL, size)});
  std::vector<schema::Key> own = KindKeys(item, object);
  if (!object.raw) {
    std::move(own.begin(), own.end(), std::back_inserter(keys));
    return keys;
  }
  keys.push_back(schema::Hex("raw", "byte", object.bytes));
  const std::string beside = R"(is not allowed beside "raw")";
  keys.push_back(schema::Refused("name", beside));
  if (named)
    for (const schema::Key& key : own) keys.push_back(schema::Refused(key.name, beside));
  return keys;
}

// The keys a kind of object takes besides the common ones.
std::vector<schema::Key> LegacyFirmware::KindKeys(const Json& item, Object& object) const {
  constexpr auto kLow = std::numeric_limits<std::int32_t>::min();
  constexpr auto kHigh = std::numeric_limits<std::int32_t>::max();
  const auto items = [&object](const auto& indices) { object.items = indices; };
  const auto subNames = Names("subNames", kSubNames, [&object](const auto& indices) {
    std::copy(indices.begin(), indices.end(), object.subNames.begin());
  });
  switch (object.kind) {
    case kEnum:
    case kEnumExt: {
      std::vector<schema::Key> keys = {Names("choices", kNone, items), Current(item, object)};
      if (object.kind == kEnumExt) keys.push_back(subNames);
      return keys;
    }
    case kAlpha:
      return {TextKey(object), schema::Bool("assetTag", object.assetTag)};
    case kDate:
    case kTime:
      return {TextKey(object)};
    case kBinary:
      return {schema::Hex("bytes", "byte", object.bytes)};
    case kInt:
    case kExtInt: {
      std::vector<schema::Key> keys = {schema::Integer("minimum", kLow, kHigh, object.minimum),
                                       schema::Integer("maximum", kLow, kHigh, object.maximum),
                                       schema::Integer("value", kLow, kHigh, object.value)};
      if (object.kind == kExtInt) keys.push_back(subNames);
      return keys;
    }
    case kStringTable:
      return {Strings(object)};
    case kOrderedList:
      return {Names("elements", kNone, items),
              Names("pinned", kNone, [&object](const auto& indices) { object.pinned = indices; })};
    default:
      return {};
  }
}

schema::Key LegacyFirmware::Name(Object& object) const {
  return {"name", [this, &object](const Json& value, const std::string& label, std::string& error) {
            if (ResolveIndex(value, object.name, error)) return true;
            error = label + ": " + error;
            return false;
          }};
}

schema::Key LegacyFirmware::Names(
    std::string_view name, std::size_t most,
    std::function<void(const std::vector<std::uint16_t>&)> keep) const {
  return {name, [this, most, keep = std::move(keep)](const Json& value, const std::string& label,
                                                     std::string& error) {
            std::vector<std::uint16_t> indices;
            if (!ResolveIndices(value, most, indices, error)) {
              error = label + " " + error;
              return false;
            }
            keep(indices);
            return true;
          }};
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
