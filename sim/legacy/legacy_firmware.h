// The simulated legacy firmware: the `legacy` section of a machine file as the management
// library serves it. It holds the system objects (each a 22-byte information record and a value
// buffer), the setup password as keys, the lock that guards writes, and what the firmware answers
// below the objects: interrupt 0x15 (legacy_interrupt.cpp), the CMOS bytes and the boot-device
// table (legacy_cmos_boot.cpp). The library in tarnix/ exports it; the program checks a machine's
// section with it when it starts.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/machine/machine_file.h"
#include "sim/machine/schema.h"
#include "sim/machine/section_values.h"

namespace corvane::sim {

enum class SystemText { Manufacturer, Product, SerialNumber, Ownership };

class LegacyFirmware {
 public:
  // Reads a legacy section; nullptr with a reason when it is not a valid one.
  static std::unique_ptr<LegacyFirmware> Parse(const Json& section, std::string& error);
  ~LegacyFirmware();
  LegacyFirmware(const LegacyFirmware&) = delete;
  LegacyFirmware& operator=(const LegacyFirmware&) = delete;

  bool initFails() const { return initFails_; }
  std::uint32_t machineId() const { return machineId_; }
  const std::string& Text(SystemText which) const;
  bool passwordSet() const { return passwordSet_; }

  // 0 on success; the password travels as keys, one byte each.
  std::int32_t ChangeAdminPassword(std::string_view current, std::string_view next);
  // state 0 unlocks, 1 locks; non-zero on success.
  std::int32_t ChangeLockState(std::string_view password, std::int32_t state, std::uint8_t& status);
  bool ListSize(std::uint32_t& bytes) const;
  bool List(void* list, std::uint32_t capacity) const;
  bool Info(std::uint16_t index, void* info, std::uint32_t size) const;
  bool Value(std::uint16_t index, void* buffer, std::uint32_t size) const;
  bool SetValue(std::uint16_t index, const void* buffer, std::uint32_t size);
  bool SetSecuritySettings(const void* packet, std::uint32_t length, std::uint8_t& status);

  // Interrupt 0x15, through either entry point. False when no call is made (no block, or one
  // shorter than the registers); otherwise the firmware's registers are in the block and status
  // holds the AH it answered.
  bool CallInterrupt15(void* block, std::uint32_t size, std::uint8_t& status);
  // The entry points that are made to fail without calling.
  bool call32Fails() const { return call32Fails_; }
  bool call16Fails() const { return call16Fails_; }

  // CMOS: count 1 or 2 bytes from offset; false when the request is refused.
  bool GetCmos(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const;
  bool SetCmos(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes);

  // The boot-device table: its dimensions, the table itself, a new priority list.
  bool IplDevInfo(std::uint32_t& deviceCount, std::uint32_t& priorityLength,
                  std::uint32_t& tableTag, std::uint32_t& tableSize) const;
  bool IplTable(void* table, std::uint32_t tableSize, std::uint32_t priorityLength,
                std::uint32_t tableTag) const;
  bool SetIplPriority(const void* table, std::uint32_t priorityLength);

  // The section as it is to be written back, and whether it changed since it was last saved.
  const Json& section() const { return section_; }
  bool dirty() const { return dirty_; }
  void MarkSaved() { dirty_ = false; }

  struct Object;
  static constexpr std::size_t kCmosBytes = 128;

 private:
  struct Toggle {
    std::string key;  // as the file spells the code
    std::uint8_t bh = 0;
    std::uint8_t bl = 0;
    std::uint8_t ah = 0;
    bool carry = false;
    bool writesBlBit4 = false;
    section::Writes writes = section::Writes::Accept;
  };
  struct Registers;

  LegacyFirmware();
  // The section's parts, each read by its table (sim/machine/schema.h); false with a reason.
  bool ParseSection(const Json& section, std::string& error);
  bool ParsePassword(const Json& text, const std::string& label, std::string& error);
  bool ParsePasswordCodes(const Json& codes, const std::string& label, std::string& error);
  bool ParseFaults(const Json& faults, const std::string& label, std::string& error);
  bool ParseInterrupt15(const Json& item, const std::string& label, std::string& error);
  bool ParseToggle(const std::string& key, const Json& item, std::string& error);
  bool ParseCmos(bool fixedBits, const Json& bytes, const std::string& label, std::string& error);
  bool ParseBootDevices(const Json& item, const std::string& label, std::string& error);
  bool ParseDevices(const Json& devices, std::string& error);
  bool ParseTextTable(const Json& position, const std::string& label, std::string& error);
  void LoadTextTable(const Json& table);
  bool ParseObjects(std::string& error);
  bool ParseObject(std::size_t position, std::string& error);
  static bool ParseKind(const Json& item, Object& object, bool& named, std::string& error);
  std::vector<schema::Key> ObjectKeys(const Json& item, Object& object, bool named, bool& readOnly,
                                      std::int64_t& size) const;
  std::vector<schema::Key> KindKeys(const Json& item, Object& object) const;
  // Rows of names: texts of the text table or string indices.
  schema::Key Name(Object& object) const;
  schema::Key Names(std::string_view name, std::size_t most,
                    std::function<void(const std::vector<std::uint16_t>&)> keep) const;
  void ToggleFunction(Registers& registers);
  void SecurityFunction(Registers& registers);
  void StoreAssetTag(std::string text);
  void StoreOwnerTag(std::string text);
  bool ResolveIndex(const Json& value, std::uint16_t& index, std::string& error) const;
  bool ResolveIndices(const Json& value, std::size_t most, std::vector<std::uint16_t>& indices,
                      std::string& error) const;
  bool Matches(std::string_view password) const;
  std::string DeviceOf(std::uint16_t index) const;
  // Whether the text table gives this index back for its text.
  bool TextNames(std::uint16_t index) const;
  // The order an ordered-list write leaves; false when the firmware refuses the write.
  bool ReorderedList(const Object& object, const std::uint8_t* bytes, std::uint32_t size,
                     std::vector<std::uint16_t>& result) const;
  void StoreList(Object& object, std::size_t position, std::vector<std::uint16_t> result);
  bool StoreText(Object& object, std::size_t position, std::string text);
  void StorePassword(const std::string& keys);

  Json section_;
  bool dirty_ = false;
  bool initFails_ = false;
  bool listFails_ = false;
  bool unlockFails_ = false;  // unlocking refuses even the right password
  bool hasList_ = false;
  std::uint32_t machineId_ = 0;
  std::array<std::string, 4> texts_;
  bool passwordSet_ = false;
  std::string passwordKeys_;
  std::int64_t maxPasswordLength_ = -1;
  bool hasChangeReturn_ = false;
  std::int32_t changeReturn_ = 0;
  bool ignorePasswordChanges_ = false;
  std::uint8_t wrongPasswordStatus_ = 128;
  bool writesNeedUnlock_ = true;
  bool unlocked_ = false;
  std::vector<Object> objects_;

  // Interrupt 0x15.
  bool hasInterrupt15_ = false;
  bool unknownByAh_ = false;  // unknown codes answer with AH alone, the carry clear
  std::map<std::uint16_t, Toggle> toggles_;
  bool hasSecurity_ = false;
  std::uint32_t securityBits_ = 0;
  std::uint32_t securitySupported_ = 0;
  section::Writes securityWrites_ = section::Writes::Accept;
  bool hasAssetTag_ = false;
  std::string assetTag_;
  section::Writes assetTagWrites_ = section::Writes::Accept;
  section::Writes ownerTagWrites_ = section::Writes::Accept;
  bool call32Fails_ = false;
  bool call16Fails_ = false;

  // CMOS.
  std::array<std::uint8_t, kCmosBytes> cmos_{};
  std::array<std::uint8_t, kCmosBytes> cmosFixed_{};
  std::array<std::string, kCmosBytes> cmosKeys_;  // each listed byte's key, as the file spells it
  std::bitset<kCmosBytes> cmosReadFails_;
  std::bitset<kCmosBytes> cmosWriteFails_;

  // The boot-device table.
  bool hasBootDevices_ = false;
  std::vector<std::uint8_t> priority_;
  std::vector<std::array<std::uint8_t, 16>> records_;
  std::uint32_t priorityLength_ = 0;
  std::uint32_t tableTag_ = 1;
  section::Writes priorityWrites_ = section::Writes::Accept;
  bool iplInfoFails_ = false;
  bool iplTableFails_ = false;
  // The texts that names in the section are looked up in, and each text's first index.
  std::vector<std::string> textTable_;
  std::unordered_map<std::string, std::uint16_t> textIndex_;
};

}  // namespace corvane::sim
