#include "legacy/legacy_settings.h"

#include <algorithm>
#include <cstring>

#include "legacy/bios_access.h"
#include "log/result_log.h"
#include "platform/text.h"

namespace corvane::legacy {
namespace {

constexpr std::string_view kEnglish = "English";
constexpr std::string_view kEscd = "ESCD";
constexpr std::string_view kAssetTrackingNumber = "Asset Tracking Number";
constexpr std::uint32_t kReadOnlyMinimumSize = 21;
constexpr std::uint32_t kAssetMinimumSize = 19;
constexpr std::size_t kWorkBufferMinimum = 20;
constexpr std::uint8_t kAssetCommand = 13;
constexpr std::uint32_t kLockUnlock = 0;
constexpr std::uint32_t kLockLock = 1;
// The status bytes of a lock-state change refused for its password.
constexpr std::uint8_t kPasswordMismatch1 = 128;
constexpr std::uint8_t kPasswordMismatch2 = 129;
constexpr std::size_t kSecurityPacketMaximum = 100;
constexpr std::size_t kSecurityPacketOverhead = 26;
constexpr std::size_t kSecurityTextBytes = 16;

using Buffer = std::vector<std::uint8_t>;

std::int32_t ReadI32(const Buffer& buffer, std::size_t size, std::size_t offset) {
  return static_cast<std::int32_t>(ReadU32(buffer.data(), size, offset, 0));
}

// String indices from offset up to the 0xFFFF that ends them, or the end of the buffer.
std::vector<std::uint16_t> ReadIdList(const std::uint8_t* data, std::size_t size,
                                      std::size_t offset) {
  std::vector<std::uint16_t> ids;
  for (; offset < size && size - offset >= 2; offset += 2) {
    const std::uint16_t id = ReadU16(data, size, offset, kNoString);
    if (id == kNoString) break;
    ids.push_back(id);
  }
  return ids;
}

std::array<std::uint16_t, 4> ReadSubNames(const std::uint8_t* data, std::size_t size,
                                          std::size_t offset) {
  std::array<std::uint16_t, 4> ids{};
  for (std::size_t i = 0; i < ids.size(); ++i)
    ids[i] = ReadU16(data, size, offset + 2 * i, kNoString);
  return ids;
}

std::size_t SubNameOffset(ValueKind kind) {
  return kind == ValueKind::EnumExt ? 4 : 14;
}

// The texts of a string table: back to back after the name index, each to its NUL or to the
// end of the buffer.
std::vector<std::string> ReadStringTable(const Buffer& buffer, std::size_t size) {
  std::vector<std::string> strings;
  const std::uint8_t* area = buffer.data() + 2;
  const std::size_t areaSize = size - 2;
  for (std::size_t offset = 0; offset < areaSize;) {
    strings.push_back(ReadText(area, areaSize, offset));
    offset += strings.back().size() + 1;
  }
  return strings;
}

void EnsureIndexes(LegacyState& state) {
  auto& indexes = state.indexes;
  if (indexes.built && indexes.table == state.stringTable) return;
  indexes = LegacyState::Indexes{};
  indexes.table = state.stringTable;
  indexes.built = true;
  if (const LegacySetting* table = state.stringTableSetting()) {
    // Positions from 0xFFFF on cannot be named by a 16-bit index.
    const std::size_t count = std::min<std::size_t>(table->strings.size(), kNoString);
    for (std::size_t i = 0; i < count; ++i)
      indexes.strings[platform::NoCaseKey(table->strings[i])].push_back(
          static_cast<std::uint16_t>(i));
  }
  for (std::size_t i = 0; i < state.legacySettings.size(); ++i) {
    const LegacySetting& setting = state.legacySettings[i];
    indexes.firstByName.try_emplace(setting.nameId, i);
    if (setting.hasSubNames()) {
      const LegacyState::QualifiedName key{setting.nameId, setting.subNameIds[0],
                                           setting.subNameIds[1], setting.subNameIds[2],
                                           setting.subNameIds[3]};
      indexes.firstQualified.try_emplace(key, i);
    } else {
      indexes.firstPlainByName.try_emplace(setting.nameId, i);
    }
  }
}

std::size_t Find(const std::unordered_map<std::uint16_t, std::size_t>& index, std::uint16_t id) {
  const auto it = index.find(id);
  return it == index.end() ? kNoSetting : it->second;
}

// One apply: the value buffer of a record and the calls that read and write it. Given a count
// of differences, it is a check's: a value that differs is reported and counted, never written.
class Apply {
 public:
  Apply(LegacyState& state, LegacySetting& setting, const std::string& password,
        log::ResultLog& log, std::uint32_t size, std::size_t* differences)
      : state_(state),
        setting_(setting),
        password_(password),
        log_(log),
        size_(size),
        buffer_(std::max<std::size_t>(size, kWorkBufferMinimum), 0),
        differences_(differences) {}

  [[nodiscard]] bool Comparing() const { return differences_ != nullptr; }
  std::int32_t ReportDiffers(const std::string& current, const std::string& wanted) {
    log_.Setting(log::Status::kDiffers, RecordName(), current, wanted);
    ++*differences_;
    return 1;
  }

  bool Read() { return Table().GetSysObjValue(setting_.objectIndex, buffer_.data(), size_) != 0; }

  // A failed re-read leaves the buffer as it was before the write: what the firmware holds is
  // then unknown, so the change is not taken for done.
  bool Reread(Buffer& into, const Buffer& before) {
    std::fill(into.begin(), into.end(), 0);
    if (Table().GetSysObjValue(setting_.objectIndex, into.data(), size_) != 0) return true;
    into = before;
    return false;
  }

  std::int32_t Write(const Buffer& from, std::uint32_t size, std::uint32_t passwordLength) {
    return Table().SetSysObjValue(setting_.objectIndex, from.data(), size, password_.c_str(),
                                  passwordLength);
  }
  std::int32_t Write(const Buffer& from) {
    return Write(from, size_, static_cast<std::uint32_t>(password_.size()));
  }

  // The name as records print it: the name index in the buffer and, for the kinds that have
  // them, each sub-name that is not none.
  [[nodiscard]] std::string RecordName() const {
    std::string name = LookupString(state_, U16(buffer_, 0));
    if (setting_.hasSubNames()) {
      for (const std::uint16_t id :
           ReadSubNames(buffer_.data(), size_, SubNameOffset(setting_.valueKind()))) {
        if (id == kNoString) continue;
        name += '\\';
        name += LookupString(state_, id);
      }
    }
    return name;
  }

  [[nodiscard]] std::string TextOf(const Buffer& buffer) const {
    return ReadText(buffer.data(), size_, 2);
  }
  // The first size - 3 characters of the record's text: what the field can hold.
  [[nodiscard]] std::string Wanted() const {
    return platform::Trim(std::string_view(setting_.text).substr(0, size_ >= 3 ? size_ - 3 : 0));
  }
  // Whether the field already holds wanted. A firmware text that runs on to the buffer's last
  // byte is taken as the field holds it, to its first size - 3 characters: otherwise a value
  // that GetConfig wrote out would be written again, cut short, by the file that repeats it.
  [[nodiscard]] bool Holds(const std::string& old, const std::string& wanted) const {
    if (platform::EqualsNoCase(old, wanted)) return true;
    const std::string text = TextOf(buffer_);
    return text.size() > (size_ >= 3 ? size_ - 3 : 0) &&
           platform::EqualsNoCase(
               platform::Trim(std::string_view(text).substr(0, size_ >= 3 ? size_ - 3 : 0)),
               wanted);
  }
  // Spaces over the whole field, a closing NUL, the name index, then the text.
  void FillText(Buffer& buffer) const {
    if (size_ >= 3) std::fill(buffer.begin() + 2, buffer.begin() + (size_ - 1), ' ');
    buffer[size_ - 1] = 0;
    WriteU16(buffer.data(), buffer.size(), 0, setting_.nameId);
    // The closing NUL stays: at most size - 3 characters.
    const std::size_t count =
        std::min<std::size_t>(setting_.text.size(), size_ >= 3 ? size_ - 3 : 0);
    std::memcpy(buffer.data() + 2, setting_.text.data(), count);
  }

  [[nodiscard]] std::uint16_t U16(const Buffer& buffer, std::size_t offset) const {
    return ReadU16(buffer.data(), size_, offset, kNoString);
  }

  [[nodiscard]] std::string ElementTexts(const std::vector<std::uint16_t>& ids,
                                         std::string_view separator = ",\n\t\t") const {
    std::string text;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (i != 0) text += separator;
      text += LookupString(state_, ids[i]);
    }
    return text;
  }

  // The SETTING record of the change in plain form, and in CDATA form for texts; a setting
  // the firmware did not take fails the run as it does on the provider, so that a script that
  // reads only the exit code does not take it for success.
  void Plain(bool passed, const std::string& a, const std::string& b) {
    log_.PlainSetting(passed ? log::Status::kPass : log::Status::kFail, RecordName(), a, b);
  }
  void Cdata(bool passed, const std::string& a, const std::string& b) {
    log_.Setting(passed ? log::Status::kPass : log::Status::kFail, RecordName(), a, b);
  }

  SysObjTable& Table() { return *state_.legacyData; }

  LegacyState& state_;
  LegacySetting& setting_;
  const std::string& password_;
  log::ResultLog& log_;
  std::uint32_t size_;
  Buffer buffer_;
  std::size_t* differences_;
};

std::int32_t ApplyChoice(Apply& apply) {
  LegacySetting& setting = apply.setting_;
  const std::uint16_t oldPosition = apply.U16(apply.buffer_, 2);
  if (setting.currentChoice == kNoString || setting.currentChoice == oldPosition) return 1;
  const std::vector<std::uint16_t> choices = ReadIdList(
      apply.buffer_.data(), apply.size_, setting.valueKind() == ValueKind::EnumExt ? 12 : 4);
  const auto choiceText = [&](std::uint16_t position) {
    return position < choices.size() ? LookupString(apply.state_, choices[position])
                                     : std::string();
  };
  if (apply.Comparing())
    return apply.ReportDiffers(choiceText(oldPosition), choiceText(setting.currentChoice));
  const Buffer before = apply.buffer_;
  WriteU16(apply.buffer_.data(), apply.buffer_.size(), 0, setting.nameId);
  WriteU16(apply.buffer_.data(), apply.buffer_.size(), 2, setting.currentChoice);
  // The record's own size, but never more than the buffer holds.
  const std::uint32_t size =
      setting.size > 0 ? std::min<std::uint32_t>(static_cast<std::uint32_t>(setting.size),
                                                 static_cast<std::uint32_t>(apply.buffer_.size()))
                       : apply.size_;
  apply.Write(apply.buffer_, size, static_cast<std::uint32_t>(apply.password_.size()));
  const std::int32_t result = apply.Reread(apply.buffer_, before) ? 1 : 0;
  const std::uint16_t newPosition = apply.U16(apply.buffer_, 2);
  if (newPosition != oldPosition)
    apply.Plain(true, choiceText(oldPosition), choiceText(newPosition));
  else
    apply.Plain(false, choiceText(oldPosition), choiceText(setting.currentChoice));
  return result;
}

// Some firmware takes the asset tag only through the security interface: when the object did
// not take it, the tag goes again in a packet, whose answer is then the write's.
std::int32_t ResendAssetTag(Apply& apply, const std::string& wanted, std::int32_t written) {
  Buffer check(apply.buffer_.size(), 0);
  if (apply.Reread(check, Buffer(check.size(), 0)) &&
      platform::EqualsNoCase(platform::Trim(apply.TextOf(check)), wanted))
    return written;
  const std::vector<std::uint8_t> packet =
      BuildSecurityPacket(kAssetCommand, wanted, apply.password_);
  // A password too long for the packet is not sent in a cut form.
  if (packet.empty()) return 0;
  std::uint8_t status = 0;
  return apply.state_.access->SetSecuritySettings(
      packet.data(), static_cast<std::uint32_t>(packet.size()), &status);
}

// Alpha and time texts, written over the whole field.
std::int32_t ApplyText(Apply& apply, bool assetTag) {
  const bool time = apply.setting_.valueKind() == ValueKind::Time;
  const std::string old = platform::Trim(apply.TextOf(apply.buffer_));
  const std::string wanted = apply.Wanted();
  // Like every other kind, a value that is already there is neither written nor reported.
  if (apply.Holds(old, wanted)) return 1;
  if (apply.Comparing()) return apply.ReportDiffers(old, wanted);
  const Buffer before = apply.buffer_;
  apply.FillText(apply.buffer_);
  // A time's write counts the password's closing NUL as well.
  std::int32_t result =
      apply.Write(apply.buffer_, apply.size_,
                  static_cast<std::uint32_t>(apply.password_.size()) + (time ? 1 : 0));
  if (assetTag) result = ResendAssetTag(apply, wanted, result);
  apply.Reread(apply.buffer_, before);
  const std::string now = platform::Trim(apply.TextOf(apply.buffer_));
  const bool passed = !platform::EqualsNoCase(now, old);
  if (time)
    apply.Plain(passed, old, wanted);
  else
    apply.Cdata(passed, old, wanted);
  return result;
}

std::int32_t ApplyBinary(Apply& apply) {
  // The file cannot change binary data: it goes back as it was read.
  if (apply.Comparing()) return 0;
  const LegacySetting& setting = apply.setting_;
  WriteU16(apply.buffer_.data(), apply.buffer_.size(), 0, setting.nameId);
  const std::size_t count =
      std::min<std::size_t>(setting.binaryData.size(), apply.size_ >= 2 ? apply.size_ - 2 : 0);
  std::copy_n(setting.binaryData.begin(), count, apply.buffer_.begin() + 2);
  return apply.Write(apply.buffer_);
}

std::int32_t ApplyNumber(Apply& apply) {
  const LegacySetting& setting = apply.setting_;
  Buffer& buffer = apply.buffer_;
  const std::int32_t oldMinimum = ReadI32(buffer, apply.size_, 2);
  const std::int32_t oldMaximum = ReadI32(buffer, apply.size_, 6);
  const std::int32_t oldValue = ReadI32(buffer, apply.size_, 10);
  if (oldMinimum == setting.minimum && oldMaximum == setting.maximum && oldValue == setting.value)
    return 1;
  if (apply.Comparing())
    return apply.ReportDiffers(std::to_string(oldValue), std::to_string(setting.value));
  const Buffer before = buffer;
  WriteU16(buffer.data(), buffer.size(), 0, setting.nameId);
  WriteU32(buffer.data(), buffer.size(), 2, static_cast<std::uint32_t>(setting.minimum));
  WriteU32(buffer.data(), buffer.size(), 6, static_cast<std::uint32_t>(setting.maximum));
  WriteU32(buffer.data(), buffer.size(), 10, static_cast<std::uint32_t>(setting.value));
  const std::int32_t result = apply.Write(buffer);
  apply.Reread(buffer, before);
  const std::int32_t newValue = ReadI32(buffer, apply.size_, 10);
  apply.Plain(newValue != oldValue, std::to_string(oldValue), std::to_string(newValue));
  return result;
}

std::int32_t ApplyOrderedList(Apply& apply) {
  const LegacySetting& setting = apply.setting_;
  const Buffer& old = apply.buffer_;
  Buffer copy = old;
  const std::vector<std::uint16_t> before = ReadIdList(old.data(), apply.size_, 2);
  // Never more elements than the value holds now: the list keeps its length and its end.
  const std::size_t count = std::min(setting.choiceIds.size(), before.size());
  for (std::size_t i = 0; i < count; ++i)
    WriteU16(copy.data(), apply.size_, 2 + 2 * i, setting.choiceIds[i]);
  const auto differs = [&](const Buffer& a, const Buffer& b) {
    for (std::size_t i = 0; i < count; ++i)
      if (apply.U16(a, 2 + 2 * i) != apply.U16(b, 2 + 2 * i)) return true;
    return false;
  };
  if (!differs(copy, old)) return 1;
  if (apply.Comparing())
    return apply.ReportDiffers(apply.ElementTexts(before, ","),
                               apply.ElementTexts(ReadIdList(copy.data(), apply.size_, 2), ","));
  apply.Write(copy);
  const std::int32_t result = apply.Reread(copy, old) ? 1 : 0;
  const std::vector<std::uint16_t> now = ReadIdList(copy.data(), apply.size_, 2);
  if (differs(copy, old))
    apply.log_.ListSetting(log::Status::kPass, apply.RecordName(),
                           "\n\t\t" + apply.ElementTexts(before),
                           "\n\t\t" + apply.ElementTexts(now));
  bool asAsked = true;
  for (std::size_t i = 0; i < count; ++i)
    if (apply.U16(copy, 2 + 2 * i) != setting.choiceIds[i]) asAsked = false;
  if (!asAsked)
    apply.log_.ListSetting(log::Status::kFailed, apply.RecordName(),
                           "\n\t\t" + apply.ElementTexts(now),
                           "\n\t\t" + apply.ElementTexts(setting.choiceIds));
  return result;
}

// Unlocks with the password; the status byte tells a refused password from other failures.
bool Unlock(LegacyState& state, const std::string& password) {
  state.lockStatus = 0;
  state.lockMode = kLockUnlock;
  state.unlocked =
      state.access->ChangeLockState(password, static_cast<std::uint32_t>(password.size()),
                                    kLockUnlock, &state.lockStatus) != 0;
  return state.unlocked;
}

void Lock(LegacyState& state, const std::string& password) {
  state.lockMode = kLockLock;
  state.access->ChangeLockState(password, static_cast<std::uint32_t>(password.size()), kLockLock,
                                &state.lockStatus);
}

}  // namespace

LegacyState::~LegacyState() {
  Release();
}

void LegacyState::Release() {
  legacySettings.clear();
  stringTable = kNoSetting;
  indexes = Indexes{};
  legacyData.reset();
}

void ClearTopBits(std::string& text) {
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
}

std::optional<LegacySetting> ReadLegacySetting(SysObjTable& table, const SysObjListEntry& entry) {
  SysObjInfo info;
  if (table.GetSysObjInfo(entry.index, info.bytes.data(), kSysObjInfoSize) == 0) return {};
  std::uint32_t size = info.size();
  if (info.readOnly() && size < kReadOnlyMinimumSize) size = kReadOnlyMinimumSize;
  // Too small to hold even the name index, or too large to be a real value: unreadable.
  if (size < 2 || size > kMaxValueSize) return {};
  Buffer buffer(size, 0);
  if (table.GetSysObjValue(entry.index, buffer.data(), size) == 0) return {};

  LegacySetting setting;
  setting.objectIndex = entry.index;
  setting.kind = info.kind();
  setting.flags = info.flags();
  setting.size = static_cast<std::int32_t>(size);
  setting.info = info;
  setting.nameId = ReadU16(buffer.data(), size, 0, kNoString);
  const std::uint8_t* data = buffer.data();
  switch (setting.valueKind()) {
    case ValueKind::Enum:
      setting.currentChoice = ReadU16(data, size, 2, kNoString);
      setting.choiceIds = ReadIdList(data, size, 4);
      break;
    case ValueKind::Alpha:
      buffer[size - 1] = 0;
      setting.text = ReadText(data, size, 2);
      break;
    case ValueKind::Binary:
      setting.binaryData.assign(buffer.begin() + 2, buffer.end());
      break;
    case ValueKind::Int:
    case ValueKind::ExtInt:
      setting.minimum = ReadI32(buffer, size, 2);
      setting.maximum = ReadI32(buffer, size, 6);
      setting.value = ReadI32(buffer, size, 10);
      if (setting.valueKind() == ValueKind::ExtInt)
        setting.subNameIds = ReadSubNames(data, size, 14);
      break;
    case ValueKind::Password:
      break;
    case ValueKind::StringTable:
      setting.strings = ReadStringTable(buffer, size);
      break;
    case ValueKind::Date:
    case ValueKind::Time:
      setting.text = ReadText(data, size, 2);
      break;
    case ValueKind::OrderedList:
      setting.choiceIds = ReadIdList(data, size, 2);
      break;
    case ValueKind::EnumExt:
      setting.currentChoice = ReadU16(data, size, 2, kNoString);
      setting.subNameIds = ReadSubNames(data, size, 4);
      setting.choiceIds = ReadIdList(data, size, 12);
      break;
    default:
      return {};
  }
  return setting;
}

std::int32_t LoadLegacySettings(LegacyState& state, std::string& password) {
  ClearTopBits(password);
  state.unlocked = false;
  state.legacySettings.clear();
  state.stringTable = kNoSetting;
  state.indexes = LegacyState::Indexes{};
  state.initialized = false;

  if (state.access == nullptr) return 0;
  if (!state.legacyData) state.legacyData = std::make_unique<SysObjTable>(state.access);
  SysObjTable& table = *state.legacyData;

  // Without an accepted password there is nothing to unlock with: an empty one would only be
  // another wrong attempt.
  if (!password.empty() && state.access->IsPasswordSet()) Unlock(state, password);

  std::uint32_t bytes = 0;
  Buffer list;
  if (table.GetSysObjListSize(&bytes) != 0 && bytes > 0 && bytes <= kMaxSysObjListSize) {
    list.assign(bytes, 0);
    if (table.GetSysObjList(list.data(), bytes) == 0) list.clear();
  }
  if (list.empty()) {
    // Never leave the firmware unlocked, even when there is nothing to load.
    if (state.unlocked) Lock(state, password);
    return 0;
  }

  for (const SysObjListEntry& entry : ParseSysObjList(list.data(), list.size())) {
    std::optional<LegacySetting> setting = ReadLegacySetting(table, entry);
    if (!setting) continue;
    state.legacySettings.push_back(std::move(*setting));
    const LegacySetting& added = state.legacySettings.back();
    if (added.valueKind() != ValueKind::StringTable) continue;
    // The first table is taken; a later one only when it is the English one.
    if (state.stringTable == kNoSetting ||
        (!added.strings.empty() && platform::EqualsNoCase(added.strings.front(), kEnglish)))
      state.stringTable = state.legacySettings.size() - 1;
  }

  if (state.unlocked) Lock(state, password);
  state.initialized = true;
  return 1;
}

std::string LookupString(const LegacyState& state, std::uint16_t index,
                         const LegacySetting* table) {
  if (table == nullptr) table = state.stringTableSetting();
  if (table == nullptr || index >= table->strings.size()) return {};
  return table->strings[index];
}

bool FindStringIndex(LegacyState& state, std::string_view text, std::uint16_t& index) {
  const LegacySetting* table = state.stringTableSetting();
  if (table == nullptr) return false;
  EnsureIndexes(state);
  const auto it = state.indexes.strings.find(platform::NoCaseKey(text));
  if (it == state.indexes.strings.end()) return false;
  for (const std::uint16_t position : it->second) {
    if (platform::EqualsNoCase(table->strings[position], text)) {
      index = position;
      return true;
    }
  }
  return false;
}

std::size_t FindLegacySetting(LegacyState& state, std::uint16_t nameId,
                              const std::array<std::uint16_t, 4>* subNameIds) {
  EnsureIndexes(state);
  if (subNameIds == nullptr) return Find(state.indexes.firstByName, nameId);
  // The first record of the name without sub-names, or with these sub-names.
  const std::size_t plain = Find(state.indexes.firstPlainByName, nameId);
  const LegacyState::QualifiedName key{nameId, (*subNameIds)[0], (*subNameIds)[1], (*subNameIds)[2],
                                       (*subNameIds)[3]};
  const auto it = state.indexes.firstQualified.find(key);
  const std::size_t qualified = it == state.indexes.firstQualified.end() ? kNoSetting : it->second;
  return std::min(plain, qualified);
}

std::vector<std::uint8_t> BuildSecurityPacket(std::uint8_t command, std::string_view wanted,
                                              std::string_view password) {
  if (password.size() + kSecurityPacketOverhead > kSecurityPacketMaximum) return {};
  std::vector<std::uint8_t> packet;
  packet.reserve(password.size() + kSecurityPacketOverhead);
  packet.push_back(0xFC);
  packet.push_back(0x00);
  packet.push_back(static_cast<std::uint8_t>(password.size() + 1));
  packet.insert(packet.end(), password.begin(), password.end());
  packet.push_back(0x00);
  packet.push_back(command);
  packet.push_back(0x00);
  packet.push_back(17);
  packet.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(wanted.size(), 0xFF)));
  for (std::size_t i = 0; i < kSecurityTextBytes; ++i)
    packet.push_back(i < wanted.size() ? static_cast<std::uint8_t>(wanted[i]) : 0);
  packet.push_back(0xCF);
  packet.push_back(0x00);
  return packet;
}

namespace {

// One record, written or, given a count of differences, compared. readable turns false when the
// setting's value could not be read.
std::int32_t ApplyOrCompare(LegacyState& state, LegacySetting& setting, const std::string& password,
                            log::ResultLog& log, std::size_t* differences, bool& readable) {
  if (setting.changed == 0 || setting.readOnly()) return 0;
  const std::string name = LookupString(state, setting.nameId);
  if (platform::EqualsNoCase(name, kEscd)) return 0;

  SysObjTable& table = *state.legacyData;
  SysObjInfo info;
  readable = false;
  if (table.GetSysObjInfo(setting.objectIndex, info.bytes.data(), kSysObjInfoSize) == 0) return 0;
  std::uint32_t size = info.size();
  if (info.readOnly() && size < kReadOnlyMinimumSize) size = kReadOnlyMinimumSize;
  const bool assetTag = platform::EqualsNoCase(name, kAssetTrackingNumber);
  if (assetTag && size < kAssetMinimumSize) size = kAssetMinimumSize;
  if (size < 2 || size > kMaxValueSize) return 0;

  Apply apply(state, setting, password, log, size, differences);
  if (!apply.Read()) return 0;
  readable = true;
  switch (setting.valueKind()) {
    case ValueKind::Enum:
    case ValueKind::EnumExt:
      return ApplyChoice(apply);
    case ValueKind::Alpha:
      return ApplyText(apply, assetTag);
    case ValueKind::Time:
      return ApplyText(apply, false);
    case ValueKind::Binary:
      return ApplyBinary(apply);
    case ValueKind::Int:
    case ValueKind::ExtInt:
      return ApplyNumber(apply);
    case ValueKind::OrderedList:
      return ApplyOrderedList(apply);
    default:
      // Passwords, string tables and dates are never written from a file.
      return 0;
  }
}

}  // namespace

std::int32_t ApplyLegacySetting(LegacyState& state, LegacySetting& setting,
                                const std::string& password, log::ResultLog& log) {
  bool readable = true;
  return ApplyOrCompare(state, setting, password, log, nullptr, readable);
}

bool CompareLegacyChanges(LegacyState& state, std::string& password, std::size_t& differences,
                          log::ResultLog& log) {
  ClearTopBits(password);
  state.unlocked = false;
  if (!state.initialized || !state.legacyData || state.access == nullptr) return false;
  // The values are read as the load read them: unlocked with the accepted password, if any.
  if (!password.empty() && state.access->IsPasswordSet()) Unlock(state, password);
  bool allRead = true;
  for (LegacySetting& setting : state.legacySettings) {
    if (setting.changed == 0) continue;
    bool readable = true;
    ApplyOrCompare(state, setting, password, log, &differences, readable);
    allRead = allRead && readable;
    setting.changed = 0;
  }
  if (state.unlocked) Lock(state, password);
  return allRead;
}

std::int32_t ApplyLegacyChanges(LegacyState& state, std::string& password, log::ResultLog& log) {
  ClearTopBits(password);
  state.unlocked = false;
  if (!state.initialized || !state.legacyData || state.access == nullptr) return 0;
  if (state.access->IsPasswordSet() && !Unlock(state, password) &&
      (state.lockStatus == kPasswordMismatch1 || state.lockStatus == kPasswordMismatch2))
    log.LegacyPasswordMismatch();
  // Every change is attempted even with a refused password: each read-back tells the truth.
  for (LegacySetting& setting : state.legacySettings) {
    if (setting.changed == 0) continue;
    ApplyLegacySetting(state, setting, password, log);
    setting.changed = 0;
  }
  if (state.unlocked) Lock(state, password);
  return 1;
}

}  // namespace corvane::legacy
