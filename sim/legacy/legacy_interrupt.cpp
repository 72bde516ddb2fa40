// Interrupt 0x15 of the simulated legacy firmware: function E845h (toggles by code, the asset tag
// 0x25 and the owner tag 0x13) and function E842h (security options).
#include <algorithm>
#include <cstring>

#include "sim/legacy/legacy_firmware.h"
#include "sim/machine/schema.h"

namespace corvane::sim {
namespace {

using section::Writes;

// Registers in the block, and the data area.
constexpr std::size_t kEax = 0, kEbx = 4, kEcx = 8, kEdx = 12, kEsi = 16, kFlags = 28;
constexpr std::size_t kAh = 1, kBl = 4, kBh = 5;
constexpr std::size_t kRegisterBytes = 32;
constexpr std::size_t kFieldLength = 32;  // u32: length of the data field at 40
constexpr std::size_t kText = 40;
constexpr std::uint32_t kCarry = 1;

constexpr std::uint16_t kToggleFunction = 0xE845;
constexpr std::uint16_t kSecurityFunction = 0xE842;
constexpr std::uint16_t kOwnerTagCode = 0x13;
constexpr std::uint16_t kAssetTagCode = 0x25;
constexpr std::uint32_t kTagSignature = 0x4351;
constexpr std::uint32_t kSecuritySignature = 0x53454355;
constexpr std::size_t kMostAssetTag = 63;
constexpr std::size_t kMostOwnerTag = 80;

// AH answers.
constexpr std::uint8_t kDone = 0;
constexpr std::uint8_t kRefused = 0x01;
constexpr std::uint8_t kWrongPassword = 0x02;
constexpr std::uint8_t kNotSupported = 0x86;

}  // namespace

struct LegacyFirmware::Registers {
  std::uint8_t* block;
  std::uint32_t size;

  [[nodiscard]] std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(block[at]) |
           (static_cast<std::uint32_t>(block[at + 1]) << 8) |
           (static_cast<std::uint32_t>(block[at + 2]) << 16) |
           (static_cast<std::uint32_t>(block[at + 3]) << 24);
  }
  void SetU32(std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) block[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  [[nodiscard]] std::uint16_t Cx() const { return static_cast<std::uint16_t>(U32(kEcx) & 0xFFFF); }
  // Sets the carry alone, or AH and the carry.
  void Carry(bool set) { SetU32(kFlags, set ? U32(kFlags) | kCarry : U32(kFlags) & ~kCarry); }
  void Answer(std::uint8_t ah, bool carry) {
    block[kAh] = ah;
    Carry(carry);
  }
  // The text from `from` up to a NUL, the block's end or `most` bytes.
  [[nodiscard]] std::string Text(std::size_t from, std::size_t most) const {
    std::string text;
    for (std::size_t i = from; i < size && text.size() < most && block[i] != 0; ++i)
      text.push_back(static_cast<char>(block[i]));
    return text;
  }
};

bool LegacyFirmware::ParseInterrupt15(const Json& item, const std::string& /*label*/,
                                      std::string& error) {
  hasInterrupt15_ = true;
  const schema::Key keys[] = {
      schema::Choice("unknownCodes", {"carry", "ah"}, unknownByAh_),
      {"toggles",
       [this](const Json& toggles, const std::string& label, std::string& reason) {
         if (!toggles.is_object()) {
           reason = label + " must be an object of toggles by code";
           return false;
         }
         for (const auto& [key, toggle] : toggles.items()) {
           if (!ParseToggle(key, toggle, reason)) {
             reason.insert(0, "toggles[\"" + key + "\"]: ");
             return false;
           }
         }
         return true;
       }},
      schema::Word("securitySupported", 0xFFFFFFFF, securitySupported_),
      schema::When(
          schema::Word("securityBits", 0xFFFFFFFF, securityBits_),
          [&item] { return item.contains("securitySupported"); },
          R"("securityBits" needs "securitySupported")"),
      {"assetTag",
       [this](const Json& tag, const std::string& label, std::string& reason) {
         if (!tag.is_string()) {
           reason = label + " must be a string";
           return false;
         }
         assetTag_ = tag.get<std::string>();
         if (assetTag_.size() <= kMostAssetTag && assetTag_.find('\0') == std::string::npos)
           return true;
         reason = label + " holds at most 63 characters and no NUL";
         return false;
       }},
      schema::Writes("securityWrites", securityWrites_),
      schema::Writes("assetTagWrites", assetTagWrites_),
      schema::Writes("ownerTagWrites", ownerTagWrites_)};
  if (!schema::ReadPart(item, "interrupt15", keys, error)) return false;
  hasSecurity_ = item.contains("securitySupported");
  hasAssetTag_ = item.contains("assetTag");
  return true;
}

bool LegacyFirmware::ParseToggle(const std::string& key, const Json& item, std::string& error) {
  std::uint64_t code = 0;
  if (!section::ParseWord(Json(key), 0xFFFF, code)) {
    error = section::WordReason("a code", 0xFFFF);
    return false;
  }
  if (code == kOwnerTagCode || code == kAssetTagCode) {
    error = "codes 0x13 and 0x25 are the tags', not toggles";
    return false;
  }
  if (toggles_.count(static_cast<std::uint16_t>(code)) != 0) {
    error = "the code is given twice";
    return false;
  }
  if (!item.is_object()) {
    error = "not an object";
    return false;
  }
  Toggle toggle;
  toggle.key = key;
  const schema::Key keys[] = {schema::Word("bh", 0xFF, toggle.bh),
                              schema::Word("bl", 0xFF, toggle.bl),
                              schema::Word("ah", 0xFF, toggle.ah),
                              schema::Bool("carry", toggle.carry),
                              schema::Writes("writes", toggle.writes),
                              schema::Choice("writeTo", {"bh", "blBit4"}, toggle.writesBlBit4)};
  if (!schema::Read(item, keys, error)) return false;
  toggles_.emplace(static_cast<std::uint16_t>(code), std::move(toggle));
  return true;
}

bool LegacyFirmware::CallInterrupt15(void* block, std::uint32_t size, std::uint8_t& status) {
  if (block == nullptr || size < kRegisterBytes) return false;
  Registers registers{static_cast<std::uint8_t*>(block), size};
  const auto function = static_cast<std::uint16_t>(registers.U32(kEax) & 0xFFFF);
  if (hasInterrupt15_ && function == kToggleFunction)
    ToggleFunction(registers);
  else if (hasSecurity_ && function == kSecurityFunction)
    SecurityFunction(registers);
  else
    registers.Answer(kNotSupported, true);
  status = registers.block[kAh];
  return true;
}

void LegacyFirmware::ToggleFunction(Registers& registers) {
  const std::uint16_t code = registers.Cx();
  const std::uint8_t bl = registers.block[kBl];
  const auto toggle = toggles_.find(code);
  const bool isAssetTag = code == kAssetTagCode && hasAssetTag_;
  const bool isOwnerTag = code == kOwnerTagCode;
  if (bl > 1) {
    registers.Answer(kNotSupported, true);
    return;
  }
  if (toggle == toggles_.end() && !isAssetTag && !isOwnerTag) {
    registers.Answer(kNotSupported, !unknownByAh_);
    return;
  }
  // The tags' texts lie from byte 40 on.
  if ((isAssetTag || isOwnerTag) && registers.size <= kText) {
    registers.Answer(kRefused, true);
    return;
  }

  if (bl == 0) {  // read
    if (isAssetTag) {
      std::size_t room = registers.size - kText;
      const std::uint32_t field = registers.U32(kFieldLength);
      if (field != 0) room = std::min<std::size_t>(room, field);
      const std::size_t length = std::min(assetTag_.size(), room - 1);
      registers.block[kText] = static_cast<std::uint8_t>(length);
      std::memcpy(registers.block + kText + 1, assetTag_.data(), length);
      if (1 + length < room) registers.block[kText + 1 + length] = 0;
    } else if (isOwnerTag) {
      const std::string& owner = Text(SystemText::Ownership);
      const std::size_t length = std::min<std::size_t>(owner.size(), registers.size - kText - 1);
      std::memcpy(registers.block + kText, owner.data(), length);
      registers.block[kText + length] = 0;
    } else {
      registers.block[kBh] = toggle->second.bh;
      registers.block[kBl] = toggle->second.bl;
      registers.Answer(toggle->second.ah, toggle->second.carry);
      return;
    }
    registers.Answer(kDone, false);
    return;
  }

  // write
  if (isAssetTag || isOwnerTag) {
    const Writes writes = isAssetTag ? assetTagWrites_ : ownerTagWrites_;
    if (registers.U32(kEsi) != kTagSignature || writes == Writes::Refuse) {
      registers.Answer(kRefused, true);
      return;
    }
    if (writes == Writes::Accept) {
      if (isAssetTag)
        StoreAssetTag(registers.Text(kText + 1,
                                     std::min<std::size_t>(registers.block[kText], kMostAssetTag)));
      else
        StoreOwnerTag(registers.Text(kText, kMostOwnerTag));
    }
    registers.Answer(kDone, false);
    return;
  }
  Toggle& held = toggle->second;
  if (held.writes == Writes::Refuse) {
    registers.Answer(kRefused, true);
    return;
  }
  if (held.writes == Writes::Accept) {
    const std::uint8_t written = registers.block[kBh];
    std::uint8_t& slot = held.writesBlBit4 ? held.bl : held.bh;
    const std::uint8_t value =
        held.writesBlBit4
            ? static_cast<std::uint8_t>(written != 0 ? held.bl | 0x10 : held.bl & ~0x10)
            : written;
    if (value != slot) {
      slot = value;
      section::StoreWord(
          section_["interrupt15"]["toggles"][held.key][held.writesBlBit4 ? "bl" : "bh"], value, 2);
      dirty_ = true;
    }
  }
  registers.Answer(held.ah, false);
}

void LegacyFirmware::SecurityFunction(Registers& registers) {
  const std::uint32_t subfunction = registers.U32(kEax) >> 16;
  if (subfunction == 0) {  // read: the bits are EAX itself
    registers.SetU32(kEax, securityBits_);
    registers.SetU32(kEbx, securitySupported_);
    registers.Carry(false);
    return;
  }
  if (subfunction != 1) {
    registers.Answer(kNotSupported, true);
    return;
  }
  const std::uint32_t mask = registers.U32(kEcx);
  if (registers.U32(kEdx) != kSecuritySignature || (mask & ~securitySupported_) != 0 ||
      securityWrites_ == Writes::Refuse) {
    registers.Answer(kRefused, true);
    return;
  }
  if (passwordSet_) {
    std::size_t field = 0;
    if (registers.size > kText)
      field = std::min<std::size_t>(registers.U32(kFieldLength), registers.size - kText);
    if (unlockFails_ || !Matches(registers.Text(kText, field))) {
      registers.Answer(kWrongPassword, true);
      return;
    }
  }
  const std::uint32_t bits = (securityBits_ & ~mask) | (registers.U32(kEbx) & mask);
  if (securityWrites_ == Writes::Accept && bits != securityBits_) {
    securityBits_ = bits;
    section::StoreWord(section_["interrupt15"]["securityBits"], bits, 1);
    dirty_ = true;
  }
  registers.Answer(kDone, false);
}

void LegacyFirmware::StoreAssetTag(std::string text) {
  if (text.size() > kMostAssetTag) text.resize(kMostAssetTag);
  if (text == assetTag_) return;
  assetTag_ = text;
  section_["interrupt15"]["assetTag"] = std::move(text);
  dirty_ = true;
}

void LegacyFirmware::StoreOwnerTag(std::string text) {
  std::string& owner = texts_[static_cast<std::size_t>(SystemText::Ownership)];
  if (text == owner) return;
  owner = text;
  section_["ownershipString"] = std::move(text);
  dirty_ = true;
}

}  // namespace corvane::sim
