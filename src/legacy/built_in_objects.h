// The families of built-in system objects: each reaches the firmware its own way (interrupt
// 0x15 functions E845h and E842h, CMOS bytes, the tags, the library's texts, the boot-device
// list) and serves the value buffers of the system-object table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "legacy/sys_obj_table.h"

namespace corvane::legacy {

// The program's own string table, string index = position.
inline constexpr std::size_t kStringTableEntryCount = 117;
extern const std::array<const char*, kStringTableEntryCount> StringTableEntries;
// The string index a text that matches no entry takes: "--".
inline constexpr std::uint16_t kPlaceholderString = 116;

// The register block of an interrupt 0x15 call; the firmware's registers come back in it.
class BiosRegisterBlock {
 public:
  explicit BiosRegisterBlock(std::uint32_t size) : bytes_(size, 0) {}
  std::uint8_t* data() { return bytes_.data(); }
  [[nodiscard]] std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }

  [[nodiscard]] std::uint32_t U32(std::size_t offset) const;
  void SetU32(std::size_t offset, std::uint32_t value);
  [[nodiscard]] std::uint8_t Byte(std::size_t offset) const {
    return offset < bytes_.size() ? bytes_[offset] : 0;
  }
  void SetByte(std::size_t offset, std::uint8_t value) {
    if (offset < bytes_.size()) bytes_[offset] = value;
  }

  [[nodiscard]] std::uint32_t eax() const { return U32(0); }
  [[nodiscard]] std::uint32_t ebx() const { return U32(4); }
  [[nodiscard]] std::uint8_t ah() const { return Byte(1); }
  [[nodiscard]] std::uint8_t bl() const { return Byte(4); }
  [[nodiscard]] std::uint8_t bh() const { return Byte(5); }
  [[nodiscard]] bool carry() const { return (U32(28) & 1) != 0; }
  void SetEax(std::uint32_t v) { SetU32(0, v); }
  void SetEbx(std::uint32_t v) { SetU32(4, v); }
  void SetEcx(std::uint32_t v) { SetU32(8, v); }
  void SetEdx(std::uint32_t v) { SetU32(12, v); }
  void SetEsi(std::uint32_t v) { SetU32(16, v); }
  void SetBl(std::uint8_t v) { SetByte(4, v); }
  void SetBh(std::uint8_t v) { SetByte(5, v); }
  void SetCx(std::uint16_t v) {
    SetByte(8, static_cast<std::uint8_t>(v));
    SetByte(9, static_cast<std::uint8_t>(v >> 8));
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

inline constexpr std::int32_t kInterrupt15 = 0x15;

// An enum object: its choices' string indices in position order and its value-buffer size.
class ChoiceObject : public SysObj {
 public:
  ChoiceObject(const SysObjRow& row, std::vector<std::uint16_t> choices, std::uint32_t size)
      : SysObj(row, ValueKind::Enum, size), choices_(std::move(choices)) {}
  [[nodiscard]] const std::vector<std::uint16_t>& choices() const { return choices_; }

 protected:
  // Name index, position, the choices and the closing 0xFFFF.
  void FillValue(std::uint8_t* buffer, std::uint32_t size, std::uint16_t position) const;
  // The requested position of a value buffer that names this object.
  static std::uint16_t RequestedPosition(const std::uint8_t* buffer, std::uint32_t size);

 private:
  std::vector<std::uint16_t> choices_;
};

// How an E845h toggle's BH holds its position.
enum class ToggleRule { Set, Clear, One, Hex1F, Bit, BlBit4 };

// An on/off setting of interrupt 0x15 function E845h.
class FirmwareToggle final : public ChoiceObject {
 public:
  FirmwareToggle(const SysObjRow& row, std::vector<std::uint16_t> choices, std::uint16_t code,
                 ToggleRule rule, std::uint8_t bit = 0)
      : ChoiceObject(row, std::move(choices), 10), code_(code), rule_(rule), bit_(bit) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;

 private:
  // The read call; true when it succeeded by the rule's test.
  bool ReadBlock(BiosAccess* access, BiosRegisterBlock& block) const;
  std::uint16_t code_;
  ToggleRule rule_;
  std::uint8_t bit_;
};

// A security option of interrupt 0x15 function E842h: either one bit of EAX (written as the
// mask or 0), or the activation policy's two bits.
class SecurityOption final : public ChoiceObject {
 public:
  SecurityOption(const SysObjRow& row, std::vector<std::uint16_t> choices, std::uint32_t size,
                 std::uint32_t mask, bool policy)
      : ChoiceObject(row, std::move(choices), size), mask_(mask), policy_(policy) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;

 private:
  std::uint32_t mask_;
  bool policy_;
};

// One CMOS byte and the bits of it a setting owns.
struct CmosBits {
  std::uint8_t offset;
  std::uint8_t mask;
};

// How a CMOS setting's bits hold its position.
enum class CmosRule {
  Flag,    // p = 1 when every bit of every byte is set; a write sets them all for p != 0
  Field,   // the bits hold p, lowest bit first; a p that does not fit them fails
  Mapped,  // the bits hold a code that a table maps to p and back
};

struct CmosRow {
  std::vector<CmosBits> bytes;
  CmosRule rule = CmosRule::Flag;
  bool checksum = false;
  bool readBack = false;
  // Mapped rows: the code written for each position, and the position any code not among
  // them reads as.
  std::vector<std::uint8_t> codes;
  std::uint16_t otherPosition = 0;
};

// The 16-bit CMOS checksum, high byte first.
inline constexpr std::uint32_t kCmosChecksumOffset = 0x7B;

class CmosChoice final : public ChoiceObject {
 public:
  CmosChoice(const SysObjRow& row, std::vector<std::uint16_t> choices, std::uint32_t size,
             CmosRow cmos)
      : ChoiceObject(row, std::move(choices), size), cmos_(std::move(cmos)) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;

 private:
  CmosRow cmos_;
};

// The boot order of four device codes in two CMOS bytes, half a byte each.
class CmosBootOrder final : public SysObj {
 public:
  explicit CmosBootOrder(const SysObjRow& row) : SysObj(row, ValueKind::OrderedList, 14) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;
};

// The program's own string table.
class StringTableObject final : public SysObj {
 public:
  explicit StringTableObject(const SysObjRow& row) : SysObj(row, ValueKind::StringTable) {}
  std::uint32_t GetSize(BiosAccess*) override;
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
};

// A text the library reports (manufacturer, product, serial number); read-only.
class SystemText final : public SysObj {
 public:
  using Source = std::string (BiosAccess::*)();
  SystemText(const SysObjRow& row, Source source)
      : SysObj(row, ValueKind::Alpha, 43), source_(source) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;

 private:
  Source source_;
};

class AssetTag final : public SysObj {
 public:
  explicit AssetTag(const SysObjRow& row) : SysObj(row, ValueKind::Alpha, 43) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;
};

class OwnerTag final : public SysObj {
 public:
  explicit OwnerTag(const SysObjRow& row) : SysObj(row, ValueKind::Alpha, 83) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;
};

// Passwords are listed, never written here: the password step changes them.
class PasswordObject final : public SysObj {
 public:
  explicit PasswordObject(const SysObjRow& row) : SysObj(row, ValueKind::Password, 131) {}
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
};

// The boot order of the boot-device list, read anew for every request.
class BootOrder final : public SysObj {
 public:
  explicit BootOrder(const SysObjRow& row) : SysObj(row, ValueKind::OrderedList) {}
  // Always there, without a trial read.
  std::int32_t IsPresent(BiosAccess* access) override;
  std::uint32_t GetSize(BiosAccess* access) override;
  std::int32_t GetValue(BiosAccess* access, std::uint8_t* buffer, std::uint32_t size) override;
  std::int32_t SetValue(BiosAccess* access, const std::uint8_t* buffer, std::uint32_t size,
                        const char* password, std::uint32_t passwordLength) override;
};

}  // namespace corvane::legacy
